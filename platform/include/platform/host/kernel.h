// Host: the kernel services of the platform layer (platform/posix/kernel*.cpp).
//
// Same names, values and meanings as the Windows calls they stand for.
// Every time-out and sleep goes through the host's time scale
// (platform/timescale.h), so tests can shorten them.
#pragma once

#include <platform/host/types.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// ---- handles and errors

BOOL CloseHandle(HANDLE hObject);
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// ---- waits

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_IO_COMPLETION 0x000000C0u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// With bAlertable, user APCs queued to the calling thread run inside the
// wait, and the wait then returns WAIT_IO_COMPLETION.
DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable);
void Sleep(DWORD dwMilliseconds);
DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable);

// Milliseconds since the process started, in the host's scaled time.
ULONGLONG GetTickCount64();

// ---- events

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCWSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
// Releases the threads waiting at this moment (all of them for a
// manual-reset event, one for an auto-reset event) and leaves the event
// unsignalled; with nobody waiting the pulse is lost.
BOOL PulseEvent(HANDLE hEvent);

// ---- threads

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID lpThreadParameter);
using PTHREAD_START_ROUTINE = LPTHREAD_START_ROUTINE;
using PAPCFUNC = void(WINAPI*)(ULONG_PTR Parameter);

#define STILL_ACTIVE 259u
#define CREATE_SUSPENDED 0x00000004u

#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

// A thread handle is signalled when the thread has ended.
// CREATE_SUSPENDED is not supported (fails with ERROR_INVALID_PARAMETER).
HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId);
std::uintptr_t _beginthreadex(void* security, unsigned stack_size,
                              unsigned(__stdcall* start_address)(void*), void* arglist,
                              unsigned initflag, unsigned* thrdaddr);
DWORD GetCurrentThreadId();
// The pseudo handle of the calling thread; it needs no closing.
HANDLE GetCurrentThread();
// Priorities are recorded (and read back), not applied to the host's
// scheduler.
BOOL SetThreadPriority(HANDLE hThread, int nPriority);
int GetThreadPriority(HANDLE hThread);
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
// Queues an APC to the thread; it runs inside that thread's next alertable
// wait, APCs in the order they were queued. Result nonzero on success.
DWORD QueueUserAPC(PAPCFUNC pfnAPC, HANDLE hThread, ULONG_PTR dwData);

// ---- critical sections (re-entrant)

struct CRITICAL_SECTION {
  void* Impl;  // owned by the platform between Initialize and Delete
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
using PCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// ---- interlocked operations: atomic, each a full barrier

inline LONG InterlockedExchange(LONG volatile* Target, LONG Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
// Returns the value before the addition.
inline LONG InterlockedExchangeAdd(LONG volatile* Addend, LONG Value) {
  return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}
// Stores Exchange when *Destination equals Comparand; returns the value
// before.
inline LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand) {
  __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return Comparand;
}
// Return the value after the change.
inline LONG InterlockedIncrement(LONG volatile* Addend) {
  return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* Addend) {
  return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

// ---- modules

// Loads a module registered in-process (platform/host/providers.h); none is
// registered by default. Names compare without regard to case, and ".dll" is
// assumed when the name has no extension. Fails with ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
// With no module: the executable's path (from /proc/self/exe, or the one a
// test set). Truncates as Windows does, with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

// ---- debug output and formatting

// To the debugger: nothing, unless a test captures it.
void OutputDebugStringA(LPCSTR lpOutputString);

// Bounded formatting as the Microsoft runtime has it: the result is always
// terminated; when it does not fit, the buffer holds an empty string and
// the result is -1. Formats follow the host's printf.
int vsprintf_s(char* buffer, std::size_t numberOfElements, const char* format, va_list argptr);
int sprintf_s(char* buffer, std::size_t numberOfElements, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Windows' wsprintfW: %s is a wide string, %S a narrow one, %c a wide
// character, and l-sized integers are 32 bits. At most 1024 characters are
// written, terminator included.
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);

#define CreateEvent CreateEventW
#define LoadLibrary LoadLibraryW
#define GetModuleFileName GetModuleFileNameW
#define wsprintf wsprintfW
