// Host: what the kernel and device sources share: the handle table, the
// waitable objects and the one lock that guards every wait.
//
// Locking: every waitable object's state (signalled flags, waiter lists,
// APC queues) is guarded by KernelMutex(). The device sources have their
// own per-device mutex and may signal events while holding it; nothing
// takes a device mutex while holding KernelMutex(), so the order is always
// device first, kernel second. No provider is ever called under either.
#pragma once

#include <platform/win32.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace platform::host::detail {

std::mutex& KernelMutex();

// Anything a HANDLE can name.
struct Object {
  virtual ~Object() = default;
  // CloseHandle of the object's handle (each object has one).
  virtual void OnHandleClosed() {}
};

// One thread blocked in a wait; lives on that thread's stack.
struct Waiter {
  std::condition_variable cv;
  bool satisfied = false;
};

struct Waitable : Object {
  // Guarded by KernelMutex(), oldest first.
  std::deque<Waiter*> waiters;

  // Both called with KernelMutex() held.
  virtual bool IsSignalledLocked() const = 0;
  // A wait that found the object signalled takes it (auto-reset).
  virtual void AcquireLocked() {}

  void SatisfyFirstLocked();
  void SatisfyAllLocked();
  void RemoveWaiterLocked(Waiter* waiter);
};

struct Event : Waitable {
  Event(bool manual, bool initial) : manualReset(manual), signalled(initial) {}
  bool IsSignalledLocked() const override { return signalled; }
  void AcquireLocked() override {
    if (!manualReset) signalled = false;
  }
  void Set();
  void Reset();
  void Pulse();

  const bool manualReset;
  bool signalled;
};

struct ThreadObject : Waitable {
  bool IsSignalledLocked() const override { return ended; }

  DWORD id = 0;
  // Guarded by KernelMutex().
  bool ended = false;
  DWORD exitCode = STILL_ACTIVE;
  int priority = THREAD_PRIORITY_NORMAL;
  std::deque<std::pair<PAPCFUNC, ULONG_PTR>> apcs;
  Waiter* alertableWaiter = nullptr;  // set while in an alertable wait
};

// The calling thread's object, made on first use for threads the platform
// did not start (the main thread, test threads).
const std::shared_ptr<ThreadObject>& CurrentThread();

// The handle table. Handle values are never reused, so a stale handle is
// reported as ERROR_INVALID_HANDLE instead of naming another object.
HANDLE InsertHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> LookupHandle(HANDLE handle);
// Removes the handle; null when it named nothing.
std::shared_ptr<Object> RemoveHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> Lookup(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// The wait behind WaitForSingleObjectEx and SleepEx (object null: wait for
// the time or an APC only). Milliseconds are already scaled here: a wait's
// by the time-out scale, a sleep's by the period scale.
DWORD WaitOn(Waitable* object, DWORD milliseconds, bool alertable);

// Guards calls into a provider so that its removal can wait for calls in
// progress (except those of the removing thread itself, which would wait
// for itself).
class CallGate {
 public:
  bool Enter();
  void Leave();
  // No further Enter succeeds; returns when no other thread is inside.
  void Close();

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  bool open_ = true;
  int calls_ = 0;
};

class GateCall {
 public:
  explicit GateCall(CallGate& gate) : gate_(gate), entered_(gate.Enter()) {}
  ~GateCall() {
    if (entered_) gate_.Leave();
  }
  GateCall(const GateCall&) = delete;
  GateCall& operator=(const GateCall&) = delete;
  explicit operator bool() const { return entered_; }

 private:
  CallGate& gate_;
  bool entered_;
};

// Case-insensitive comparison of ASCII-range names, as the Windows object
// namespace compares them.
bool SameName(const std::wstring& a, const std::wstring& b);

}  // namespace platform::host::detail
