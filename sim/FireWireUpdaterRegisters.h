// Test equipment: the register face of a FireWire unit's updater. It puts a
// sim::UpdaterUnit behind the update registers: the data window fills the
// chunk buffer, the command register runs a command with the two argument
// registers, the status register reads busy for a while after each command,
// the result register holds the last compare's value, and the display
// command and data registers drive a display of two lines of 16.
//
// Flash is programmed only after the unlock word has been written.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/UpdaterUnit.h"

namespace sim {

class FireWireUpdaterRegisters {
 public:
  static constexpr uint32_t kDataWindowWords = 2048;
  static constexpr uint32_t kDisplayCommand = 0xf0000100;
  static constexpr uint32_t kDisplayData = 0xf0000104;
  static constexpr uint32_t kUnlock = 0xf0000c00;
  static constexpr uint32_t kCommand = 0xf0000d00;
  static constexpr uint32_t kArgument1 = 0xf0000d04;
  static constexpr uint32_t kArgument2 = 0xf0000d08;
  static constexpr uint32_t kStatus = 0xf0000d20;
  static constexpr uint32_t kResult = 0xf0000d24;
  static constexpr uint32_t kUnlockWord = 0x5641524E;
  static constexpr uint32_t kBusyStatus = 0x00010000;
  static constexpr uint32_t kLineLength = 16;

  // One register access as the unit saw it.
  struct Access {
    bool write;
    uint32_t address;
    uint32_t value;  // written, or answered
    bool operator==(const Access&) const = default;
  };

  explicit FireWireUpdaterRegisters(UpdaterUnit& unit);

  uint32_t Read(uint32_t address);
  void Write(uint32_t address, uint32_t value);

  // Knobs.
  // Status reads that show busy after each command (default 1).
  void SetBusyPolls(uint32_t polls);
  // The status word those reads answer (default kBusyStatus).
  void SetBusyStatus(uint32_t status);
  // The unit ignores the unlock word, so flash is never programmed.
  void SetRefuseUnlock(bool refuse);

  // What happened.
  std::vector<Access> Accesses() const;
  // Also forgets the display history.
  void ClearAccesses();
  bool Unlocked() const;
  // The display's two lines, and the whole text (first line then second).
  std::string Line(int index) const;
  std::string DisplayText() const;
  // One entry per clear: what was shown after it.
  std::vector<std::string> DisplayHistory() const;
  // Program commands that arrived while flash was locked.
  size_t LockedPrograms() const;

  UpdaterUnit& Unit() { return m_unit; }

 private:
  UpdaterUnit& m_unit;
  mutable std::mutex m_mutex;
  std::vector<Access> m_accesses;
  uint32_t m_argument1 = 0;
  uint32_t m_argument2 = 0;
  uint32_t m_result = 0;
  uint32_t m_busyPolls = 1;
  uint32_t m_busyLeft = 0;
  uint32_t m_busyStatus = kBusyStatus;
  bool m_refuseUnlock = false;
  bool m_unlocked = false;
  size_t m_lockedPrograms = 0;
  std::string m_lines[2];
  int m_line = 0;
  std::vector<std::string> m_history;
};

}  // namespace sim
