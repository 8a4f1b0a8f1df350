#include <platform/host/providers.h>
#include <platform/timescale.h>
#include <platform/win32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "wait_until.h"

namespace {

using platform::host::WaitingThreads;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

class Kernel : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetTimeScale(1.0); }
};

// ---- events

struct EventCase {
  const char* name;
  bool manualReset;
  bool pulse;
  int released;  // of three waiters
  bool signalledAfter;
};

class EventRelease : public Kernel, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventRelease, ReleasesTheWaitersOfThatMoment) {
  const EventCase c = GetParam();
  HANDLE event = CreateEventW(nullptr, c.manualReset, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) ++released;
    });
  }
  ASSERT_TRUE(WaitUntil([&] { return WaitingThreads(event) == 3; }));

  ASSERT_TRUE(c.pulse ? PulseEvent(event) : SetEvent(event));
  ASSERT_TRUE(WaitUntil([&] { return released.load() == c.released; }));
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(released.load(), c.released) << "more waiters released than the operation allows";
  EXPECT_EQ(WaitingThreads(event), static_cast<std::size_t>(3 - c.released));
  EXPECT_EQ(WaitForSingleObject(event, 0), c.signalledAfter ? WAIT_OBJECT_0 : WAIT_TIMEOUT);

  // Let the rest go.
  while (released.load() < 3) {
    SetEvent(event);
    std::this_thread::sleep_for(milliseconds(1));
  }
  for (auto& t : waiters) t.join();
  EXPECT_TRUE(CloseHandle(event));
}

INSTANTIATE_TEST_SUITE_P(Kinds, EventRelease,
                         ::testing::Values(EventCase{"ManualSet", true, false, 3, true},
                                           EventCase{"ManualPulse", true, true, 3, false},
                                           EventCase{"AutoSet", false, false, 1, false},
                                           EventCase{"AutoPulse", false, true, 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Kernel, PulseWithNobodyWaitingIsLostAndSetIsKept) {
  for (BOOL manual : {TRUE, FALSE}) {
    HANDLE event = CreateEventW(nullptr, manual, FALSE, nullptr);
    ASSERT_TRUE(PulseEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "manual=" << manual;

    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    // An auto-reset event is taken by the wait that finds it; a manual one stays.
    EXPECT_EQ(WaitForSingleObject(event, 0), manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
  }
  HANDLE initiallySet = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(initiallySet, 0), WAIT_OBJECT_0);
  CloseHandle(initiallySet);
}

TEST_F(Kernel, StaleAndForeignHandlesFail) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetEvent(event));
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
}

// ---- APCs

struct ApcLog {
  std::vector<ULONG_PTR> values;
  std::vector<DWORD> threads;
};
ApcLog* g_apcLog;

void WINAPI RecordApc(ULONG_PTR value) {
  g_apcLog->values.push_back(value);
  g_apcLog->threads.push_back(GetCurrentThreadId());
}

struct ApcWorker {
  HANDLE go;
  HANDLE never;
  DWORD plainWait = 0;
  std::size_t ranDuringPlainWait = 99;
  DWORD alertableWait = 0;
  DWORD secondAlertableWait = 0;
};

DWORD WINAPI ApcWorkerProc(LPVOID parameter) {
  auto* w = static_cast<ApcWorker*>(parameter);
  w->plainWait = WaitForSingleObjectEx(w->go, INFINITE, FALSE);
  w->ranDuringPlainWait = g_apcLog->values.size();
  w->alertableWait = WaitForSingleObjectEx(w->never, INFINITE, TRUE);
  // Nothing queued now: this one ends by its time-out.
  w->secondAlertableWait = WaitForSingleObjectEx(w->never, 10, TRUE);
  return 0;
}

TEST_F(Kernel, ApcsRunInOrderOnlyInsideAnAlertableWaitOfTheirThread) {
  ApcLog log;
  g_apcLog = &log;
  ApcWorker w;
  w.go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  w.never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ApcWorkerProc, &w, 0, &id);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return WaitingThreads(w.go) == 1; }));

  // Queued while the thread is in a wait that is not alertable: they wait.
  for (ULONG_PTR v : {11u, 22u, 33u}) ASSERT_NE(QueueUserAPC(RecordApc, thread, v), 0u);
  std::this_thread::sleep_for(milliseconds(20));
  ASSERT_TRUE(SetEvent(w.go));
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);

  EXPECT_EQ(w.plainWait, WAIT_OBJECT_0);
  EXPECT_EQ(w.ranDuringPlainWait, 0u);
  EXPECT_EQ(w.alertableWait, WAIT_IO_COMPLETION);
  EXPECT_EQ(log.values, (std::vector<ULONG_PTR>{11, 22, 33}));
  EXPECT_EQ(log.threads, (std::vector<DWORD>{id, id, id}));
  EXPECT_EQ(w.secondAlertableWait, WAIT_TIMEOUT);
  CloseHandle(thread);
  CloseHandle(w.go);
  CloseHandle(w.never);
}

struct BlockedWorker {
  HANDLE never;
  DWORD result = 0;
};

DWORD WINAPI BlockedWorkerProc(LPVOID parameter) {
  auto* w = static_cast<BlockedWorker*>(parameter);
  w->result = WaitForSingleObjectEx(w->never, INFINITE, TRUE);
  return 7;
}

TEST_F(Kernel, AnApcWakesAThreadAlreadyInAnAlertableWait) {
  ApcLog log;
  g_apcLog = &log;
  BlockedWorker w;
  w.never = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, BlockedWorkerProc, &w, 0, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return WaitingThreads(w.never) == 1; }));
  ASSERT_NE(QueueUserAPC(RecordApc, thread, 5), 0u);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(w.result, WAIT_IO_COMPLETION);
  EXPECT_EQ(log.values, (std::vector<ULONG_PTR>{5}));
  // Queuing to a thread that has ended fails.
  EXPECT_EQ(QueueUserAPC(RecordApc, thread, 6), 0u);
  CloseHandle(thread);
  CloseHandle(w.never);
}

TEST_F(Kernel, AlertableSleepRunsApcsQueuedToTheCallingThread) {
  ApcLog log;
  g_apcLog = &log;
  ASSERT_NE(QueueUserAPC(RecordApc, GetCurrentThread(), 1), 0u);
  EXPECT_EQ(SleepEx(0, FALSE), 0u);
  EXPECT_TRUE(log.values.empty());
  EXPECT_EQ(SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(log.values, (std::vector<ULONG_PTR>{1}));
}

// ---- threads

struct Gate {
  HANDLE release;
  DWORD exitCode;
  int priorityInside = 0;
};

DWORD WINAPI GatedProc(LPVOID parameter) {
  auto* g = static_cast<Gate*>(parameter);
  WaitForSingleObject(g->release, INFINITE);
  g->priorityInside = GetThreadPriority(GetCurrentThread());
  return g->exitCode;
}

unsigned __stdcall GatedProcEx(void* parameter) { return GatedProc(parameter); }

TEST_F(Kernel, AThreadHandleIsSignalledWhenTheThreadEnds) {
  for (bool beginthreadex : {false, true}) {
    Gate g{CreateEventW(nullptr, TRUE, FALSE, nullptr), beginthreadex ? 42u : 17u};
    HANDLE thread;
    DWORD id = 0;
    if (beginthreadex) {
      unsigned uid = 0;
      thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, GatedProcEx, &g, 0, &uid));
      id = uid;
    } else {
      thread = CreateThread(nullptr, 0, GatedProc, &g, 0, &id);
    }
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(platform::host::RunningThreads(), 1u);

    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
    ASSERT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL));
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_FALSE(SetThreadPriority(thread, 7));

    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);

    SetEvent(g.release);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, g.exitCode);
    EXPECT_EQ(g.priorityInside, THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_EQ(platform::host::RunningThreads(), 0u);
    EXPECT_TRUE(CloseHandle(thread));
    CloseHandle(g.release);
  }
}

// ---- the time scale

TEST_F(Kernel, TimeOutsAndSleepsFollowTheTimeScale) {
  platform::SetTimeScale(0.002);
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  auto start = steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_TIMEOUT);  // 20 ms
  EXPECT_EQ(WaitForSingleObjectEx(event, 10000, TRUE), WAIT_TIMEOUT);
  Sleep(10000);
  EXPECT_EQ(SleepEx(10000, TRUE), 0u);
  auto took = steady_clock::now() - start;
  EXPECT_GE(took, milliseconds(80));
  EXPECT_LT(took, milliseconds(2000));

  // The tick count runs in the same scaled time as the waits.
  const ULONGLONG before = GetTickCount64();
  Sleep(10000);
  const ULONGLONG ticked = GetTickCount64() - before;
  EXPECT_GE(ticked, 9990u);  // 20 real ms, give or take rounding
  EXPECT_LT(ticked, 1000000u);

  platform::SetTimeScale(1.0);
  start = steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 30), WAIT_TIMEOUT);
  EXPECT_GE(steady_clock::now() - start, milliseconds(30));
  CloseHandle(event);
}

// Shrinking the periods leaves every wait its full time-out, and the tick
// count its real pace.
TEST_F(Kernel, APeriodScaleShrinksSleepsAndNotTimeOuts) {
  platform::SetPeriodScale(0.002);
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  auto start = steady_clock::now();
  const ULONGLONG before = GetTickCount64();
  Sleep(10000);
  EXPECT_EQ(SleepEx(10000, TRUE), 0u);
  EXPECT_LT(steady_clock::now() - start, milliseconds(2000));

  start = steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 60), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObjectEx(event, 60, TRUE), WAIT_TIMEOUT);
  EXPECT_GE(steady_clock::now() - start, milliseconds(120));
  EXPECT_LT(GetTickCount64() - before, 10000u);  // real time, not 1/0.002 of it
  CloseHandle(event);
}

// ---- critical sections, interlocked operations, last error

TEST_F(Kernel, CriticalSectionIsReentrantAndExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  auto tryFromOtherThread = [&] {
    BOOL got = FALSE;
    std::thread([&] {
      got = TryEnterCriticalSection(&cs);
      if (got) LeaveCriticalSection(&cs);
    }).join();
    return got;
  };
  EXPECT_FALSE(tryFromOtherThread());
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(tryFromOtherThread()) << "one leave of two must keep it held";
  LeaveCriticalSection(&cs);
  EXPECT_TRUE(tryFromOtherThread());
  DeleteCriticalSection(&cs);
}

TEST_F(Kernel, InterlockedOperationsReturnThePreviousValueAndAreAtomic) {
  volatile LONG value = 5;
  EXPECT_EQ(InterlockedExchange(&value, 9), 5);
  EXPECT_EQ(InterlockedExchangeAdd(&value, 0), 9);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 8), 9);  // no match: unchanged
  EXPECT_EQ(value, 9);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
  EXPECT_EQ(value, 1);

  volatile LONG counter = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int k = 0; k < 10000; ++k) InterlockedExchangeAdd(&counter, 1);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
}

TEST_F(Kernel, LastErrorBelongsToEachThread) {
  SetLastError(5);
  std::thread([] {
    EXPECT_EQ(GetLastError(), 0u);
    SetLastError(7);
  }).join();
  EXPECT_EQ(GetLastError(), 5u);
}

}  // namespace
