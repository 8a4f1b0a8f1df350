#include "sim/FireWireUpdaterRegisters.h"

namespace sim {

FireWireUpdaterRegisters::FireWireUpdaterRegisters(UpdaterUnit& unit) : m_unit(unit) {}

uint32_t FireWireUpdaterRegisters::Read(uint32_t address) {
  std::lock_guard<std::mutex> lock(m_mutex);
  uint32_t value = 0;
  switch (address) {
    case kStatus:
      if (m_busyLeft > 0) {
        --m_busyLeft;
        value = m_busyStatus;
      }
      break;
    case kResult:
      value = m_result;
      break;
    case kArgument1:
      value = m_argument1;
      break;
    case kArgument2:
      value = m_argument2;
      break;
    default:
      break;
  }
  m_accesses.push_back({false, address, value});
  return value;
}

void FireWireUpdaterRegisters::Write(uint32_t address, uint32_t value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_accesses.push_back({true, address, value});
  if (address < kDataWindowWords * 4) {
    if (address % 4 == 0) {
      const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                static_cast<uint8_t>(value >> 16),
                                static_cast<uint8_t>(value >> 24)};
      m_unit.FillChunkBuffer(address, bytes, 4);
    }
    return;
  }
  switch (address) {
    case kDisplayCommand:
      if (value == 1) {
        m_lines[0].clear();
        m_lines[1].clear();
        m_line = 0;
        m_history.emplace_back();
      } else if (value == 0xC0) {
        m_line = 1;
      }
      break;
    case kDisplayData:
      // A line holds 16 characters; more are not shown.
      if (m_lines[m_line].size() < kLineLength) {
        m_lines[m_line].push_back(static_cast<char>(value & 0xFF));
        if (m_history.empty()) m_history.emplace_back();
        m_history.back() = m_lines[0] + m_lines[1];
      }
      break;
    case kUnlock:
      if (value == kUnlockWord && !m_refuseUnlock) m_unlocked = true;
      break;
    case kArgument1:
      m_argument1 = value;
      break;
    case kArgument2:
      m_argument2 = value;
      break;
    case kCommand:
      if ((value == 6 || value == 8) && !m_unlocked) {
        ++m_lockedPrograms;
      } else {
        m_result = m_unit.Execute(value, m_argument1, m_argument2);
      }
      m_busyLeft = m_busyPolls;
      break;
    default:
      break;
  }
}

void FireWireUpdaterRegisters::SetBusyPolls(uint32_t polls) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_busyPolls = polls;
}

void FireWireUpdaterRegisters::SetBusyStatus(uint32_t status) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_busyStatus = status;
}

void FireWireUpdaterRegisters::SetRefuseUnlock(bool refuse) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_refuseUnlock = refuse;
}

std::vector<FireWireUpdaterRegisters::Access> FireWireUpdaterRegisters::Accesses() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_accesses;
}

void FireWireUpdaterRegisters::ClearAccesses() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_accesses.clear();
  m_history.clear();
}

bool FireWireUpdaterRegisters::Unlocked() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_unlocked;
}

std::string FireWireUpdaterRegisters::Line(int index) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return (index == 0 || index == 1) ? m_lines[index] : std::string();
}

std::string FireWireUpdaterRegisters::DisplayText() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lines[0] + m_lines[1];
}

std::vector<std::string> FireWireUpdaterRegisters::DisplayHistory() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_history;
}

size_t FireWireUpdaterRegisters::LockedPrograms() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lockedPrograms;
}

}  // namespace sim
