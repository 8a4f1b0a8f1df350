// Host: the device services of the platform layer (platform/posix/devices*.cpp).
//
// A device namespace over providers registered in-process (see
// platform/host/providers.h): HID devices, found through the SetupDi calls
// and queried through HidD_*/HidP_GetCaps, and named driver devices opened
// as \\.\NAME. Same names, values and meanings as on Windows.
#pragma once

#include <platform/host/types.h>
#include <platform/host/kernel.h>

// ---- files and I/O

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u

// Opens a HID device path or \\.\NAME of a registered driver device, with
// OPEN_EXISTING. Access 0 gives a query handle (attributes and capabilities
// only). Unknown paths fail with ERROR_FILE_NOT_FOUND.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// On a HID handle: one whole input report per read, report id first. On a
// handle opened with FILE_FLAG_OVERLAPPED, with an OVERLAPPED: TRUE when a
// report was waiting, else FALSE with ERROR_IO_PENDING and the read
// completes later (its event set, Internal/InternalHigh filled).
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
// On a HID handle: one output report of exactly OutputReportByteLength
// bytes, handed to the device before the call returns.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
// Ends the handle's outstanding I/O (that of lpOverlapped, or all of it when
// null) with ERROR_OPERATION_ABORTED; FALSE with ERROR_NOT_FOUND when there
// was none.
BOOL CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped);
// The same for the I/O the calling thread started on the handle.
BOOL CancelIo(HANDLE hFile);
BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                         LPDWORD lpNumberOfBytesTransferred, BOOL bWait);

#define FILE_DEVICE_UNKNOWN 0x00000022u
#define METHOD_BUFFERED 0u
#define METHOD_IN_DIRECT 1u
#define METHOD_OUT_DIRECT 2u
#define METHOD_NEITHER 3u
#define FILE_ANY_ACCESS 0u
#define FILE_READ_ACCESS 0x0001u
#define FILE_WRITE_ACCESS 0x0002u
#define CTL_CODE(DeviceType, Function, Method, Access) \
  (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))

// Synchronous: the four buffer arguments reach the driver device untouched,
// as METHOD_NEITHER expects. An OVERLAPPED, if given, is completed before
// the call returns.
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);

// ---- device-interface enumeration

using HDEVINFO = PVOID;

#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

#define SPINT_ACTIVE 0x00000001u
#define SPINT_DEFAULT 0x00000002u
#define SPINT_REMOVED 0x00000004u

struct SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

struct SP_DEVICE_INTERFACE_DATA {
  DWORD cbSize;  // the caller sets sizeof(SP_DEVICE_INTERFACE_DATA)
  GUID InterfaceClassGuid;
  DWORD Flags;
  ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;

// Variable length: the path continues past the declared one character.
struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
  DWORD cbSize;  // the fixed part: sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
  WCHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA_W = SP_DEVICE_INTERFACE_DETAIL_DATA_W*;

// A snapshot of the registered HID device interfaces, in registration
// order. Only the HID class with DIGCF_DEVICEINTERFACE is known; anything
// else gives an empty list. INVALID_HANDLE_VALUE on failure.
HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, struct HWND__* hwndParent,
                              DWORD Flags);
// FALSE with ERROR_NO_MORE_ITEMS past the last interface.
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
// Call first with no buffer (FALSE, ERROR_INSUFFICIENT_BUFFER, *RequiredSize
// set), then with a buffer of that size whose cbSize is the fixed part's
// size (otherwise ERROR_INVALID_USER_BUFFER).
BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                      PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

#define SetupDiGetClassDevs SetupDiGetClassDevsW
#define SetupDiGetDeviceInterfaceDetail SetupDiGetDeviceInterfaceDetailW
#define SP_DEVICE_INTERFACE_DETAIL_DATA SP_DEVICE_INTERFACE_DETAIL_DATA_W
#define PSP_DEVICE_INTERFACE_DETAIL_DATA PSP_DEVICE_INTERFACE_DETAIL_DATA_W
#define CreateFile CreateFileW

// ---- HID

using USAGE = USHORT;

struct HIDD_ATTRIBUTES {
  ULONG Size;  // sizeof(HIDD_ATTRIBUTES), 12
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
};
using PHIDD_ATTRIBUTES = HIDD_ATTRIBUTES*;

struct HIDP_CAPS {
  USAGE Usage;
  USAGE UsagePage;
  USHORT InputReportByteLength;   // report id included
  USHORT OutputReportByteLength;  // report id included
  USHORT FeatureReportByteLength;
  USHORT Reserved[17];
  USHORT NumberLinkCollectionNodes;
  USHORT NumberInputButtonCaps;
  USHORT NumberInputValueCaps;
  USHORT NumberInputDataIndices;
  USHORT NumberOutputButtonCaps;
  USHORT NumberOutputValueCaps;
  USHORT NumberOutputDataIndices;
  USHORT NumberFeatureButtonCaps;
  USHORT NumberFeatureValueCaps;
  USHORT NumberFeatureDataIndices;
};
using PHIDP_CAPS = HIDP_CAPS*;

struct HIDP_PREPARSED_DATA;
using PHIDP_PREPARSED_DATA = HIDP_PREPARSED_DATA*;

#define HIDP_STATUS_SUCCESS (static_cast<NTSTATUS>(0x00110000))
#define HIDP_STATUS_INVALID_PREPARSED_DATA (static_cast<NTSTATUS>(0xC0110001))

// {4D1E55B2-F16F-11CF-88CB-001111000030}
void HidD_GetHidGuid(LPGUID HidGuid);
// Work through any handle of the device, one opened with no access rights
// included; FALSE once the device has gone.
BOOLEAN HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes);
BOOLEAN HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData);
BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData);
NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, PHIDP_CAPS Capabilities);
