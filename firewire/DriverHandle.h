// The opened control device of the FireWire audio driver.
#pragma once

#include <platform/win32.h>

#include <cstdint>

struct DriverHandle {
  // Opens "\\.\<name>"; the handle stays INVALID_HANDLE_VALUE when the
  // driver is not there.
  void Open(const wchar_t* name);

  // One of the driver's functions as an I/O control. Without an open device
  // nothing is sent and the result is 0.
  BOOL Ioctl(std::uint32_t function, void* input, DWORD inputSize, void* output, DWORD outputSize,
             DWORD* bytesReturned, OVERLAPPED* overlapped);

  HANDLE handle = INVALID_HANDLE_VALUE;
};
