#include "sim/SimHidUnit.h"

#include <platform/timescale.h>

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

// Moves the entries due at report `number` out of `from`, in their order.
template <typename T>
void TakeDue(std::vector<std::pair<std::size_t, T>>& from, std::size_t number, std::vector<T>& to) {
  for (auto it = from.begin(); it != from.end();) {
    if (it->first == number) {
      to.push_back(std::move(it->second));
      it = from.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

platform::host::HidDeviceInfo SimHidUnit::Info(USHORT versionNumber, USHORT productId) {
  platform::host::HidDeviceInfo info;
  info.vendorId = kMakerUsbVendorId;
  info.productId = productId;
  info.versionNumber = versionNumber;
  info.inputReportByteLength = 65;
  info.outputReportByteLength = 65;
  return info;
}

SimHidUnit::SimHidUnit(UpdaterUnit& unit, const platform::host::HidDeviceInfo& info)
    : m_unit(unit), m_info(info) {
  m_registration = platform::host::RegisterHidDevice(m_info, *this);
  m_worker = std::thread([this] { Worker(); });
}

SimHidUnit::~SimHidUnit() {
  // The worker goes first: it may itself be taking the registration away,
  // and the registration is not to be used from two threads while it goes.
  // Answers still due are dropped, as by a unit being unplugged.
  {
    std::lock_guard<std::mutex> lock(m_taskMutex);
    m_stopping = true;
  }
  m_taskSignal.notify_all();
  m_worker.join();
  // No call into this object after Remove returns.
  m_registration.Remove();
}

void SimHidUnit::DropAnswerTo(std::size_t n) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_dropped.push_back(n);
}

void SimHidUnit::AnswerLateTo(std::size_t n) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_late.push_back(n);
}

void SimHidUnit::SendLateAnswers() {
  std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> held;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    held.swap(m_held);
  }
  for (auto& answer : held)
    m_registration.DeliverInputReport(answer.second.data(), m_info.inputReportByteLength);
}

void SimHidUnit::AtReport(std::size_t n, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_actions.emplace_back(n, std::move(action));
}

void SimHidUnit::Remove() {
  m_unplugged = true;
  m_registration.Remove();
}

void SimHidUnit::OnReport(std::function<void(const HidCommandReport&)> observer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_observer = std::move(observer);
}

std::vector<std::vector<std::uint8_t>> SimHidUnit::Reports() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_reports;
}

std::vector<HidCommandReport> SimHidUnit::Blocks() const {
  std::vector<HidCommandReport> blocks;
  for (const auto& report : Reports()) {
    HidCommandReport block;
    const std::size_t n =
        std::min(report.size() > 0 ? report.size() - 1 : 0, HidCommandReport::kSize);
    if (n > 0) std::memcpy(block.bytes, report.data() + 1, n);
    blocks.push_back(block);
  }
  return blocks;
}

std::size_t SimHidUnit::ReportCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_reports.size();
}

void SimHidUnit::ClearReports() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_reports.clear();
}

std::vector<std::uint8_t> SimHidUnit::Answer(std::uint32_t result) const {
  // Bytes other than the report id and the result carry nothing; a filler
  // shows whether a reader takes the report whole and from its start.
  std::vector<std::uint8_t> answer(
      std::max<std::size_t>(m_info.inputReportByteLength, HidResponseReport::kMinimumLength), 0xEE);
  answer[HidResponseReport::kReportIdOffset] = 0;
  HidResponseReport::SetResult(answer.data(), result);
  return answer;
}

bool SimHidUnit::WriteOutputReport(const BYTE* report, std::size_t length) {
  std::size_t number;
  bool drop;
  bool late;
  std::function<void(const HidCommandReport&)> observer;
  std::vector<std::function<void()>> actions;
  std::vector<std::vector<std::uint8_t>> released;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    number = ++m_written;
    if (m_unplugged || (m_failFrom != 0 && number >= m_failFrom)) {
      // The link wrote again, so it has the answer before: only now may the
      // unit go, as a report it has not yet read would go with it.
      if (m_removalDue) {
        m_removalDue = false;
        Schedule({}, 0);
      }
      return false;
    }
    m_reports.emplace_back(report, report + length);
    drop = m_neverAnswer || (m_silentFrom != 0 && number >= m_silentFrom) ||
           std::find(m_dropped.begin(), m_dropped.end(), number) != m_dropped.end();
    late = std::find(m_late.begin(), m_late.end(), number) != m_late.end();
    observer = m_observer;
    TakeDue(m_actions, number, actions);
    TakeDue(m_held, number, released);
  }
  for (const auto& action : actions) action();

  HidCommandReport block;
  if (length > 1)
    std::memcpy(block.bytes, report + 1, std::min(length - 1, HidCommandReport::kSize));
  if (observer) observer(block);
  const std::uint32_t result =
      m_unit.Execute(block.Command(), block.Argument1(), block.Argument2(), block.Data(),
                     static_cast<std::uint32_t>(HidCommandReport::kDataLength));

  const std::uint32_t delay = m_answerDelayMs;
  for (auto& answer : released) Send(std::move(answer), delay);
  if (!drop) {
    if (late) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_held.emplace_back(number + 1, Answer(result));
    } else {
      Send(Answer(result), delay);
    }
  }
  if (m_removeAfter != 0 && m_removeAfter == number) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unplugged = true;
    m_removalDue = true;
  }
  return true;
}

void SimHidUnit::Send(std::vector<std::uint8_t> answer, std::uint32_t delayMs) {
  if (delayMs == 0)
    m_registration.DeliverInputReport(answer.data(), m_info.inputReportByteLength);
  else
    Schedule(std::move(answer), delayMs);
}

void SimHidUnit::Schedule(std::vector<std::uint8_t> answer, std::uint32_t delayMs) {
  const auto due = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(delayMs == 0 ? 0 : platform::ScalePeriod(delayMs));
  {
    std::lock_guard<std::mutex> lock(m_taskMutex);
    m_tasks.push_back({due, std::move(answer)});
  }
  m_taskSignal.notify_all();
}

void SimHidUnit::Worker() {
  std::unique_lock<std::mutex> lock(m_taskMutex);
  for (;;) {
    if (m_stopping) return;
    if (m_tasks.empty()) {
      m_taskSignal.wait(lock);
      continue;
    }
    const auto due = m_tasks.front().due;
    if (std::chrono::steady_clock::now() < due) {
      m_taskSignal.wait_until(lock, due);
      continue;
    }
    Task task = std::move(m_tasks.front());
    m_tasks.pop_front();
    lock.unlock();
    if (task.answer.empty())
      m_registration.Remove();
    else
      m_registration.DeliverInputReport(task.answer.data(), m_info.inputReportByteLength);
    lock.lock();
  }
}

}  // namespace sim
