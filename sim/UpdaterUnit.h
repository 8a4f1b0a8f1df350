// Test equipment: the updater firmware of a unit in its update mode,
// independent of the bus that carries its commands. A bus simulation (HID
// unit, FireWire registers) or a test hands it the commands it receives.
//
// It computes its byte sums and CRCs with code of its own, so that a wrong
// value on the host side shows up as a mismatch.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// One command as the unit received it.
struct UnitCommand {
  uint32_t command;
  uint32_t argument1;
  uint32_t argument2;
  uint32_t dataLength;  // data bytes handed over with it (commands 4 and 13)

  bool operator==(const UnitCommand&) const = default;
};

// Byte sum and CRC-16 as the unit computes them.
uint32_t UnitByteSum(const uint8_t* data, size_t length);
uint16_t UnitCrc16(const uint8_t* data, size_t length);

class UpdaterUnit {
 public:
  static constexpr uint32_t kPageSize = 528;
  static constexpr uint32_t kChunkBufferSize = 8192;
  static constexpr uint32_t kTextLength = 48;

  explicit UpdaterUnit(uint32_t internalSize = 256 * 1024, uint32_t externalPages = 512);

  // Runs one command and returns its result word (0 for commands that have
  // none, and for ranges outside the flash). data/dataLength are the data
  // bytes of commands 4 and 13.
  uint32_t Execute(uint32_t command, uint32_t argument1, uint32_t argument2,
                   const uint8_t* data = nullptr, uint32_t dataLength = 0);

  // Writes straight into the chunk buffer (the FireWire data window);
  // bytes beyond the buffer are dropped. Not logged.
  void FillChunkBuffer(uint32_t offset, const uint8_t* data, uint32_t count);
  // Sets the display as a bus does that has no display command.
  void SetDisplayText(const std::string& text);

  // Knobs.
  // Flash in this range keeps its contents when programmed: internal by
  // byte address, external by page.
  void RefuseInternalWrites(uint32_t address, uint32_t count);
  void RefuseExternalWrites(uint32_t firstPage, uint32_t pageCount);
  // The command answers this result instead of its own.
  void ForceResult(uint32_t command, uint32_t result);
  void ClearForcedResults();

  // Flash contents, set and read by tests.
  void LoadInternal(uint32_t address, const std::vector<uint8_t>& bytes);
  void LoadExternal(uint32_t firstPage, const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> ReadInternal(uint32_t address, uint32_t count) const;
  std::vector<uint8_t> ReadExternal(uint32_t firstPage, uint32_t byteCount) const;
  std::vector<uint8_t> ChunkBuffer() const;

  // What happened.
  std::vector<UnitCommand> Log() const;
  size_t CountOf(uint32_t command) const;
  void ClearLog();
  std::string DisplayText() const;
  // Every text the display has shown, in order.
  std::vector<std::string> DisplayHistory() const;

 private:
  bool InternalRange(uint32_t address, uint64_t count) const;
  bool ExternalRange(uint32_t firstPage, uint64_t pageCount) const;
  void ShowLocked(const std::string& text);

  mutable std::mutex m_mutex;
  std::vector<uint8_t> m_internal;
  std::vector<uint8_t> m_external;
  std::vector<uint8_t> m_chunk;
  std::vector<UnitCommand> m_log;
  std::string m_display;
  std::vector<std::string> m_displayHistory;
  std::vector<std::pair<uint32_t, uint32_t>> m_refusedInternal;  // [start, end)
  std::vector<std::pair<uint32_t, uint32_t>> m_refusedExternal;  // pages [start, end)
  std::map<uint32_t, uint32_t> m_forced;
};

}  // namespace sim
