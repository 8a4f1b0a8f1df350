// The one header the system code includes for Windows services.
//
// On Windows it is the toolchain's own headers. On the host it is our own
// subset of the same names, values and meanings, implemented by
// platform/posix. Wire formats never depend on this header: every record
// that goes to a file, a unit or the driver is built at explicit offsets.
#pragma once

#ifdef _WIN32

#include <windows.h>
#include <winioctl.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
#include <process.h>

#else

#include <platform/host/types.h>
#include <platform/host/kernel.h>
#include <platform/host/devices.h>
#include <platform/host/ui.h>

#endif
