// Host: the basic Windows types, sized as on Windows (DWORD and LONG are
// 32 bits even where long is 64).
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using UCHAR = std::uint8_t;
using CHAR = char;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using INT = int;
using BOOL = int;
using BOOLEAN = std::uint8_t;
using ULONGLONG = std::uint64_t;
using LONGLONG = std::int64_t;
using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using INT_PTR = std::intptr_t;
using SIZE_T = std::size_t;
using WCHAR = wchar_t;
using LPVOID = void*;
using LPCVOID = const void*;
using PVOID = void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPDWORD = DWORD*;
using PULONG = ULONG*;
using LPBYTE = BYTE*;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using HMODULE = struct HMODULE__*;
using HINSTANCE = HMODULE;
using FARPROC = std::intptr_t (*)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define WINAPI
#define CALLBACK
#define APIENTRY

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

#ifndef __stdcall
#define __stdcall
#endif
#ifndef __cdecl
#define __cdecl
#endif

#define MAX_PATH 260
#ifndef _countof
#define _countof(array) (sizeof(array) / sizeof((array)[0]))
#endif
#define ZeroMemory(destination, length) __builtin_memset((destination), 0, (length))
#define CopyMemory(destination, source, length) __builtin_memcpy((destination), (source), (length))

using NTSTATUS = LONG;
using PDWORD = DWORD*;
using PCWSTR = const wchar_t*;
using PWSTR = wchar_t*;
using PUCHAR = UCHAR*;
using PUSHORT = USHORT*;
using LPLONG = LONG*;
using PLONG = LONG*;
using PBOOL = BOOL*;
using LPBOOL = BOOL*;

// A GUID, laid out as on Windows (16 bytes).
struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using LPGUID = GUID*;
using LPCGUID = const GUID*;
using REFGUID = const GUID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

// Only ever passed as a null pointer by the system; declared for the
// signatures.
struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using PSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// The state of one asynchronous read or write. While the operation is in
// flight Internal holds STATUS_PENDING; when it completes Internal holds its
// status and InternalHigh the number of bytes moved, and hEvent (if any) is
// set.
struct OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  union {
    struct {
      DWORD Offset;
      DWORD OffsetHigh;
    };
    PVOID Pointer;
  };
  HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

// Status values as they appear in OVERLAPPED::Internal.
#define STATUS_SUCCESS (static_cast<NTSTATUS>(0x00000000))
#define STATUS_PENDING (static_cast<NTSTATUS>(0x00000103))
#define STATUS_CANCELLED (static_cast<NTSTATUS>(0xC0000120))
#define STATUS_DEVICE_NOT_CONNECTED (static_cast<NTSTATUS>(0xC000009D))

// Win32 error codes (GetLastError), with their Windows values.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_IO_INCOMPLETE 996L
#define ERROR_IO_PENDING 997L
#define ERROR_NOACCESS 998L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_NOT_FOUND 1168L
#define ERROR_TIMEOUT 1460L
#define ERROR_INVALID_USER_BUFFER 1784L
