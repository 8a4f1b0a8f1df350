// Shared pieces of the FireWire suites: a fixture that owns a simulated
// driver and leaves no process-wide session behind, and a bounded wait.
#pragma once

#include "firewire/ClientModeApi.h"
#include "sim/SimFireWireDriver.h"

#include "support/time_scale.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace fwtest {

// Real-time bound for things the notification thread does at once.
template <typename Predicate>
bool WaitFor(Predicate predicate, int ms = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The driver is a member, so it is made before and goes after each case;
// the process-wide session is released between cases. The driver's sleeps
// run fast; the session's waits keep their full length, since every case
// expects them to end in the driver's answer. A case that expects one to
// run out shrinks the time-outs itself.
class DriverFixture : public ::testing::Test {
 protected:
  void TearDown() override { ClientModeApi_ReleaseSession(); }

  support::ScopedTimeScale scale{0.1, 1.0};
  sim::SimFireWireDriver driver;
};

// Loads of the fake avrt.dll and what it was asked.
struct AvrtCalls {
  std::size_t characteristics = 0;
  std::wstring task;
  DWORD taskIndexIn = 0xFFFFFFFF;
  std::size_t priorities = 0;
  int priority = -1;
  DWORD threadId = 0;
};
AvrtCalls FakeAvrtCalls();

}  // namespace fwtest
