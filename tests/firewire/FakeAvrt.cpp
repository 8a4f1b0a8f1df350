// A fake avrt.dll registered for the whole run, before any session starts:
// the notification thread loads it at most once per process.
#include "FireWireTestSupport.h"

#include <platform/host/providers.h>

#include <cstring>
#include <mutex>

namespace fwtest {
namespace {

std::mutex g_mutex;
AvrtCalls g_calls;
int g_task;  // its address is the task handle

HANDLE WINAPI FakeAvSetMmThreadCharacteristicsW(LPCWSTR task, LPDWORD index) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g_calls.characteristics;
  g_calls.task = task;
  g_calls.taskIndexIn = *index;
  g_calls.threadId = GetCurrentThreadId();
  return &g_task;
}

BOOL WINAPI FakeAvSetMmThreadPriority(HANDLE handle, int priority) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (handle == &g_task) {
    ++g_calls.priorities;
    g_calls.priority = priority;
  }
  return TRUE;
}

class FakeAvrtModule : public platform::host::Module {
 public:
  FARPROC GetProcAddress(const char* name) override {
    if (std::strcmp(name, "AvSetMmThreadCharacteristicsW") == 0) {
      return reinterpret_cast<FARPROC>(
          reinterpret_cast<void (*)()>(&FakeAvSetMmThreadCharacteristicsW));
    }
    if (std::strcmp(name, "AvSetMmThreadPriority") == 0) {
      return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeAvSetMmThreadPriority));
    }
    return nullptr;
  }
};

class FakeAvrtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { registration_ = platform::host::RegisterModule(L"avrt.dll", module_); }
  void TearDown() override { registration_.Remove(); }

 private:
  FakeAvrtModule module_;
  platform::host::ModuleRegistration registration_;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new FakeAvrtEnvironment);

}  // namespace

AvrtCalls FakeAvrtCalls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_calls;
}

}  // namespace fwtest
