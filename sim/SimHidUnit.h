// Test equipment: a USB unit in its update mode as the HID link sees it.
// Registered with the platform as a HID device; every output report carries
// one command block to the wrapped UpdaterUnit and is answered by one input
// report with the command's result at bytes 6 to 9.
#pragma once

#include <platform/win32.h>
#include <platform/host/providers.h>
#include <usb/HidReports.h>
#include <usb/USBHIDInterface.h>

#include "sim/UpdaterUnit.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace sim {

class SimHidUnit : public platform::host::HidDevice {
 public:
  // The maker's vendor id, product id 2, the given version number, 65-byte
  // reports.
  static platform::host::HidDeviceInfo Info(USHORT versionNumber = UsbProductQuen,
                                            USHORT productId = kUpdaterProductIdA);

  // Registers at once; the unit shows in the enumeration after the units
  // registered before it.
  explicit SimHidUnit(UpdaterUnit& unit, const platform::host::HidDeviceInfo& info = Info());
  ~SimHidUnit() override;
  SimHidUnit(const SimHidUnit&) = delete;
  SimHidUnit& operator=(const SimHidUnit&) = delete;

  // Knobs. Reports are numbered from 1 in the order they are written.
  // No answer to any report.
  void NeverAnswer() { m_neverAnswer = true; }
  // No answer to the n-th report.
  void DropAnswerTo(std::size_t n);
  // No answer to the n-th report and all after it.
  void StopAnsweringAt(std::size_t n) { m_silentFrom = n; }
  // The answer to the n-th report is held back until the next report
  // arrives and goes out then, before that one's own answer: late for its
  // own try however long that waits, and there for the next try as soon as
  // it has written. Without a next report it waits for SendLateAnswers.
  void AnswerLateTo(std::size_t n);
  // Every late answer still held goes out now, from the calling thread.
  void SendLateAnswers();
  // Answers come this many milliseconds after their report. The delay is a
  // period (the host's period scale shrinks it): a test that sets it
  // against the link's waits sets both scales alike.
  void AnswerAfter(std::uint32_t ms) { m_answerDelayMs = ms; }
  // The n-th write and every later one fails.
  void FailWritesFrom(std::size_t n) { m_failFrom = n; }
  // The unit is unplugged after its answer to the n-th report: every later
  // write fails, and once the first of them has come (so the link has read
  // that answer) the unit is taken away.
  void RemoveAfterReport(std::size_t n) { m_removeAfter = n; }
  // Unplugged now: open handles fail from here on. From the thread that
  // made the unit, and not while late answers are still due.
  void Remove();

  // Called with every report as it arrives (on the writing thread).
  void OnReport(std::function<void(const HidCommandReport&)> observer);
  // Runs once, as the n-th report arrives: on the writing thread, before the
  // unit acts on it and before the write returns. Not for a failed write.
  void AtReport(std::size_t n, std::function<void()> action);

  // What arrived: every output report whole, report id first.
  std::vector<std::vector<std::uint8_t>> Reports() const;
  // Their command blocks.
  std::vector<HidCommandReport> Blocks() const;
  std::size_t ReportCount() const;
  void ClearReports();

  UpdaterUnit& Unit() { return m_unit; }
  platform::host::HidRegistration& Registration() { return m_registration; }
  const platform::host::HidDeviceInfo& DeviceInfo() const { return m_info; }

  // HidDevice
  bool WriteOutputReport(const BYTE* report, std::size_t length) override;

 private:
  struct Task {
    std::chrono::steady_clock::time_point due;
    std::vector<std::uint8_t> answer;  // empty: unplug
  };
  // At once, or through the worker when delayed.
  void Send(std::vector<std::uint8_t> answer, std::uint32_t delayMs);
  void Schedule(std::vector<std::uint8_t> answer, std::uint32_t delayMs);
  void Worker();
  std::vector<std::uint8_t> Answer(std::uint32_t result) const;

  UpdaterUnit& m_unit;
  platform::host::HidDeviceInfo m_info;

  std::atomic<bool> m_neverAnswer{false};
  std::atomic<std::size_t> m_silentFrom{0};
  std::atomic<std::uint32_t> m_answerDelayMs{0};
  std::atomic<std::size_t> m_failFrom{0};
  std::atomic<std::size_t> m_removeAfter{0};
  std::atomic<bool> m_unplugged{false};

  mutable std::mutex m_mutex;
  std::vector<std::size_t> m_dropped;
  bool m_removalDue = false;
  std::vector<std::size_t> m_late;
  // Late answers and the report whose arrival lets each go.
  std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> m_held;
  std::vector<std::pair<std::size_t, std::function<void()>>> m_actions;
  std::vector<std::vector<std::uint8_t>> m_reports;
  std::size_t m_written = 0;
  std::function<void(const HidCommandReport&)> m_observer;

  std::mutex m_taskMutex;
  std::condition_variable m_taskSignal;
  std::deque<Task> m_tasks;
  bool m_stopping = false;
  std::thread m_worker;

  // Taken away in the destructor once the worker has stopped.
  platform::host::HidRegistration m_registration;
};

}  // namespace sim
