// Host: handles, events, threads, waits, APCs, critical sections.
//
// One process-wide mutex guards the state of every waitable object; each
// blocked thread waits on its own condition variable, so a signal wakes
// exactly the threads it releases. Time-outs go through the time scale.
#include "kernel_internal.h"

#include <platform/host/providers.h>
#include <platform/timescale.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cwctype>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace platform::host::detail {

namespace {

thread_local DWORD t_lastError = 0;

std::atomic<std::size_t> g_runningThreads{0};

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Object>> objects;
  std::uintptr_t next = 0x1000;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;  // lives until the very end
  return *table;
}

// GetCurrentThread's pseudo handle, as on Windows.
const HANDLE kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

DWORD NewThreadId() {
  static std::atomic<DWORD> next{0x400};
  return next.fetch_add(4);
}

// Per-thread state is held through plain pointers: at exit the exiting
// thread's thread_local objects are destroyed before the exit handlers run,
// and process-wide objects destroyed there still call the platform. The
// holder frees the state when its thread ends; touched again after that (only
// in the exit path), it is made anew and left to the process's end.
thread_local std::shared_ptr<ThreadObject>* t_current = nullptr;

// The gates the calling thread is inside, innermost last.
thread_local std::vector<const CallGate*>* t_gates = nullptr;

thread_local bool t_stateReleased = false;

struct ThreadStateHolder {
  bool used = false;
  ~ThreadStateHolder() {
    delete t_current;
    t_current = nullptr;
    delete t_gates;
    t_gates = nullptr;
    t_stateReleased = true;
  }
};
thread_local ThreadStateHolder t_stateHolder;

void HoldThreadState() {
  if (!t_stateReleased) t_stateHolder.used = true;
}

std::shared_ptr<ThreadObject>& CurrentThreadSlot() {
  if (!t_current) {
    t_current = new std::shared_ptr<ThreadObject>();
    HoldThreadState();
  }
  return *t_current;
}

std::vector<const CallGate*>& Gates() {
  if (!t_gates) {
    t_gates = new std::vector<const CallGate*>();
    HoldThreadState();
  }
  return *t_gates;
}

void RunApcs(ThreadObject& self) {
  for (;;) {
    std::pair<PAPCFUNC, ULONG_PTR> apc;
    {
      std::lock_guard<std::mutex> lock(KernelMutex());
      if (self.apcs.empty()) return;
      apc = self.apcs.front();
      self.apcs.pop_front();
    }
    apc.first(apc.second);
  }
}

std::shared_ptr<ThreadObject> LookupThread(HANDLE handle) {
  if (handle == kCurrentThreadPseudoHandle) return CurrentThread();
  return Lookup<ThreadObject>(handle);
}

void ThreadEnded(ThreadObject& thread, DWORD exitCode) {
  std::lock_guard<std::mutex> lock(KernelMutex());
  thread.exitCode = exitCode;
  thread.ended = true;
  thread.apcs.clear();  // APCs queued to a thread that never waited alertably again are lost
  thread.SatisfyAllLocked();
  g_runningThreads.fetch_sub(1);
}

template <typename Start>
HANDLE StartThread(Start start, DWORD flags, DWORD* threadId) {
  if (flags & CREATE_SUSPENDED) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<ThreadObject>();
  thread->id = NewThreadId();
  HANDLE handle = InsertHandle(thread);
  g_runningThreads.fetch_add(1);
  try {
    std::thread([thread, start]() mutable {
      CurrentThreadSlot() = thread;
      DWORD exitCode = start();
      ThreadEnded(*thread, exitCode);
    }).detach();
  } catch (const std::system_error&) {
    g_runningThreads.fetch_sub(1);
    RemoveHandle(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = thread->id;
  return handle;
}

}  // namespace

std::mutex& KernelMutex() {
  static std::mutex* mutex = new std::mutex;  // used by threads still running at exit
  return *mutex;
}

void Waitable::SatisfyFirstLocked() {
  if (waiters.empty()) return;
  Waiter* waiter = waiters.front();
  waiters.pop_front();
  waiter->satisfied = true;
  waiter->cv.notify_one();
}

void Waitable::SatisfyAllLocked() {
  while (!waiters.empty()) SatisfyFirstLocked();
}

void Waitable::RemoveWaiterLocked(Waiter* waiter) {
  waiters.erase(std::remove(waiters.begin(), waiters.end(), waiter), waiters.end());
}

void Event::Set() {
  std::lock_guard<std::mutex> lock(KernelMutex());
  if (manualReset) {
    signalled = true;
    SatisfyAllLocked();
  } else if (!waiters.empty()) {
    SatisfyFirstLocked();  // the released waiter takes the signal
  } else {
    signalled = true;
  }
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(KernelMutex());
  signalled = false;
}

void Event::Pulse() {
  std::lock_guard<std::mutex> lock(KernelMutex());
  if (manualReset) {
    SatisfyAllLocked();
  } else {
    SatisfyFirstLocked();
  }
  signalled = false;
}

const std::shared_ptr<ThreadObject>& CurrentThread() {
  std::shared_ptr<ThreadObject>& slot = CurrentThreadSlot();
  if (!slot) {
    auto thread = std::make_shared<ThreadObject>();
    thread->id = NewThreadId();
    slot = std::move(thread);
  }
  return slot;
}

HANDLE InsertHandle(std::shared_ptr<Object> object) {
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  std::uintptr_t value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> LookupHandle(HANDLE handle) {
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == table.objects.end()) return nullptr;
  return it->second;
}

std::shared_ptr<Object> RemoveHandle(HANDLE handle) {
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == table.objects.end()) return nullptr;
  std::shared_ptr<Object> object = std::move(it->second);
  table.objects.erase(it);
  return object;
}

DWORD WaitOn(Waitable* object, DWORD milliseconds, bool alertable) {
  const std::shared_ptr<ThreadObject>& self = CurrentThread();
  std::unique_lock<std::mutex> lock(KernelMutex());
  // An alertable wait first delivers what is queued, and then returns.
  if (alertable && !self->apcs.empty()) {
    lock.unlock();
    RunApcs(*self);
    return WAIT_IO_COMPLETION;
  }
  if (object && object->IsSignalledLocked()) {
    object->AcquireLocked();
    return WAIT_OBJECT_0;
  }
  if (milliseconds == 0) return WAIT_TIMEOUT;

  Waiter me;
  if (object) object->waiters.push_back(&me);
  if (alertable) self->alertableWaiter = &me;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  auto woken = [&] { return me.satisfied || (alertable && !self->apcs.empty()); };
  if (milliseconds == INFINITE) {
    me.cv.wait(lock, woken);
  } else {
    me.cv.wait_until(lock, deadline, woken);
  }
  if (alertable) self->alertableWaiter = nullptr;
  if (me.satisfied) return WAIT_OBJECT_0;
  if (object) object->RemoveWaiterLocked(&me);
  if (alertable && !self->apcs.empty()) {
    lock.unlock();
    RunApcs(*self);
    return WAIT_IO_COMPLETION;
  }
  return WAIT_TIMEOUT;
}

bool CallGate::Enter() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return false;
  ++calls_;
  Gates().push_back(this);
  return true;
}

void CallGate::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  --calls_;
  std::vector<const CallGate*>& gates = Gates();
  auto it = std::find(gates.rbegin(), gates.rend(), this);
  if (it != gates.rend()) gates.erase(std::next(it).base());
  idle_.notify_all();
}

void CallGate::Close() {
  std::unique_lock<std::mutex> lock(mutex_);
  open_ = false;
  const int own = static_cast<int>(std::count(Gates().begin(), Gates().end(), this));
  idle_.wait(lock, [&] { return calls_ <= own; });
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace platform::host::detail

namespace platform::host {
std::size_t RunningThreads() { return detail::g_runningThreads.load(); }

std::size_t WaitingThreads(HANDLE handle) {
  std::shared_ptr<detail::Waitable> object = detail::Lookup<detail::Waitable>(handle);
  if (!object) return 0;
  std::lock_guard<std::mutex> lock(detail::KernelMutex());
  return object->waiters.size();
}
}  // namespace platform::host

using namespace platform::host::detail;

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

BOOL CloseHandle(HANDLE hObject) {
  if (hObject == kCurrentThreadPseudoHandle) return TRUE;
  std::shared_ptr<Object> object = RemoveHandle(hObject);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->OnHandleClosed();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForSingleObjectEx(hHandle, dwMilliseconds, FALSE);
}

DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable) {
  std::shared_ptr<Waitable> object;
  if (hHandle == kCurrentThreadPseudoHandle) {
    object = CurrentThread();
  } else {
    object = Lookup<Waitable>(hHandle);
  }
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return WaitOn(object.get(), platform::ScaleTimeOut(dwMilliseconds), bAlertable != FALSE);
}

void Sleep(DWORD dwMilliseconds) {
  const DWORD scaled = platform::ScalePeriod(dwMilliseconds);
  if (scaled == 0) {
    std::this_thread::yield();
    return;
  }
  if (scaled == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(scaled));
}

DWORD SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
  if (!bAlertable) {
    Sleep(dwMilliseconds);
    return 0;
  }
  return WaitOn(nullptr, platform::ScalePeriod(dwMilliseconds), true) == WAIT_IO_COMPLETION
             ? WAIT_IO_COMPLETION
             : 0;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  if (lpName) {  // the system makes only unnamed events
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return InsertHandle(std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
}

namespace {
template <typename F>
BOOL WithEvent(HANDLE handle, F f) {
  std::shared_ptr<Event> event = Lookup<Event>(handle);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  f(*event);
  return TRUE;
}
}  // namespace

BOOL SetEvent(HANDLE hEvent) {
  return WithEvent(hEvent, [](Event& e) { e.Set(); });
}

BOOL ResetEvent(HANDLE hEvent) {
  return WithEvent(hEvent, [](Event& e) { e.Reset(); });
}

BOOL PulseEvent(HANDLE hEvent) {
  return WithEvent(hEvent, [](Event& e) { e.Pulse(); });
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (!lpStartAddress) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return StartThread([lpStartAddress, lpParameter] { return lpStartAddress(lpParameter); },
                     dwCreationFlags, lpThreadId);
}

std::uintptr_t _beginthreadex(void*, unsigned, unsigned(__stdcall* start_address)(void*),
                              void* arglist, unsigned initflag, unsigned* thrdaddr) {
  if (!start_address) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD id = 0;
  HANDLE handle =
      StartThread([start_address, arglist] { return static_cast<DWORD>(start_address(arglist)); },
                  initflag, &id);
  if (handle && thrdaddr) *thrdaddr = id;
  return reinterpret_cast<std::uintptr_t>(handle);
}

DWORD GetCurrentThreadId() { return CurrentThread()->id; }

HANDLE GetCurrentThread() { return kCurrentThreadPseudoHandle; }

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
  switch (nPriority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  std::shared_ptr<ThreadObject> thread = LookupThread(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(KernelMutex());
  thread->priority = nPriority;
  return TRUE;
}

int GetThreadPriority(HANDLE hThread) {
  std::shared_ptr<ThreadObject> thread = LookupThread(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  std::lock_guard<std::mutex> lock(KernelMutex());
  return thread->priority;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  std::shared_ptr<ThreadObject> thread = LookupThread(hThread);
  if (!thread || !lpExitCode) {
    SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(KernelMutex());
  *lpExitCode = thread->exitCode;
  return TRUE;
}

DWORD QueueUserAPC(PAPCFUNC pfnAPC, HANDLE hThread, ULONG_PTR dwData) {
  std::shared_ptr<ThreadObject> thread = LookupThread(hThread);
  if (!thread || !pfnAPC) {
    SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return 0;
  }
  std::lock_guard<std::mutex> lock(KernelMutex());
  if (thread->ended) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  thread->apcs.emplace_back(pfnAPC, dwData);
  if (thread->alertableWaiter) thread->alertableWaiter->cv.notify_one();
  return 1;
}

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  lpCriticalSection->Impl = new std::recursive_mutex;
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  static_cast<std::recursive_mutex*>(lpCriticalSection->Impl)->lock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  return static_cast<std::recursive_mutex*>(lpCriticalSection->Impl)->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  static_cast<std::recursive_mutex*>(lpCriticalSection->Impl)->unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  delete static_cast<std::recursive_mutex*>(lpCriticalSection->Impl);
  lpCriticalSection->Impl = nullptr;
}
