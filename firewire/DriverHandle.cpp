#include "firewire/DriverHandle.h"

#include "firewire/DriverFormats.h"

void DriverHandle::Open(const wchar_t* name) {
  wchar_t path[260];
  wsprintfW(path, L"\\\\.\\%s", name);
  handle = CreateFileW(path, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

BOOL DriverHandle::Ioctl(std::uint32_t function, void* input, DWORD inputSize, void* output,
                         DWORD outputSize, DWORD* bytesReturned, OVERLAPPED* overlapped) {
  if (handle == INVALID_HANDLE_VALUE) return 0;
  return DeviceIoControl(handle, DriverIoctlCode(function), input, inputSize, output, outputSize,
                         bytesReturned, overlapped);
}
