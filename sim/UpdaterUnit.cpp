#include "sim/UpdaterUnit.h"

#include <algorithm>
#include <cstring>

namespace sim {

uint32_t UnitByteSum(const uint8_t* data, size_t length) {
  uint64_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum += data[i];
  return static_cast<uint32_t>(sum & 0xFFFFFFFFu);
}

// Bitwise CRC-16/XMODEM over each 4-byte group with its bytes reversed,
// which is what the unit's nibble-wise word CRC amounts to.
uint16_t UnitCrc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t group = 0; group + 4 <= length; group += 4) {
    for (int k = 3; k >= 0; --k) {
      crc ^= static_cast<uint16_t>(data[group + k] << 8);
      for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                             : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

UpdaterUnit::UpdaterUnit(uint32_t internalSize, uint32_t externalPages)
    : m_internal(internalSize, 0xFF),
      m_external(static_cast<size_t>(externalPages) * kPageSize, 0xFF),
      m_chunk(kChunkBufferSize, 0xFF) {}

bool UpdaterUnit::InternalRange(uint32_t address, uint64_t count) const {
  return address <= m_internal.size() && count <= m_internal.size() - address;
}

bool UpdaterUnit::ExternalRange(uint32_t firstPage, uint64_t pageCount) const {
  const uint64_t pages = m_external.size() / kPageSize;
  return firstPage <= pages && pageCount <= pages - firstPage;
}

void UpdaterUnit::ShowLocked(const std::string& text) {
  m_display = text;
  m_displayHistory.push_back(text);
}

uint32_t UpdaterUnit::Execute(uint32_t command, uint32_t argument1, uint32_t argument2,
                              const uint8_t* data, uint32_t dataLength) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_log.push_back({command, argument1, argument2, data ? dataLength : 0});

  uint32_t result = 0;
  switch (command) {
    case 4:  // write data into the chunk buffer
      if (data && argument2 <= dataLength && argument1 <= kChunkBufferSize &&
          argument2 <= kChunkBufferSize - argument1)
        std::memcpy(m_chunk.data() + argument1, data, argument2);
      break;
    case 6:  // program external pages from the chunk buffer
      if (static_cast<uint64_t>(argument2) * kPageSize <= kChunkBufferSize &&
          ExternalRange(argument1, argument2)) {
        for (uint32_t p = 0; p < argument2; ++p) {
          const uint32_t page = argument1 + p;
          const bool refused =
              std::any_of(m_refusedExternal.begin(), m_refusedExternal.end(),
                          [page](const auto& r) { return page >= r.first && page < r.second; });
          if (!refused)
            std::memcpy(m_external.data() + static_cast<size_t>(page) * kPageSize,
                        m_chunk.data() + static_cast<size_t>(p) * kPageSize, kPageSize);
        }
      }
      break;
    case 8:  // program internal bytes from the chunk buffer
      if (argument2 <= kChunkBufferSize && InternalRange(argument1, argument2)) {
        for (uint32_t i = 0; i < argument2; ++i) {
          const uint32_t address = argument1 + i;
          const bool refused = std::any_of(
              m_refusedInternal.begin(), m_refusedInternal.end(),
              [address](const auto& r) { return address >= r.first && address < r.second; });
          if (!refused) m_internal[address] = m_chunk[i];
        }
      }
      break;
    case 9:
      if (InternalRange(argument1, argument2))
        result = UnitByteSum(m_internal.data() + argument1, argument2);
      break;
    case 10:
      if (ExternalRange(argument1, argument2))
        result = UnitByteSum(m_external.data() + static_cast<size_t>(argument1) * kPageSize,
                             static_cast<size_t>(argument2) * kPageSize);
      break;
    case 11:
      if (InternalRange(argument1, argument2))
        result = UnitCrc16(m_internal.data() + argument1, argument2);
      break;
    case 12:
      if (ExternalRange(argument1, argument2))
        result = UnitCrc16(m_external.data() + static_cast<size_t>(argument1) * kPageSize,
                           static_cast<size_t>(argument2) * kPageSize);
      break;
    case 13: {  // display text: up to the first zero of the 48 bytes
      std::string text;
      const uint32_t n = data ? std::min(dataLength, kTextLength) : 0;
      for (uint32_t i = 0; i < n && data[i] != 0; ++i) text.push_back(static_cast<char>(data[i]));
      ShowLocked(text);
      break;
    }
    default:
      break;
  }
  const auto forced = m_forced.find(command);
  if (forced != m_forced.end()) result = forced->second;
  return result;
}

void UpdaterUnit::FillChunkBuffer(uint32_t offset, const uint8_t* data, uint32_t count) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = static_cast<uint64_t>(offset) + i;
    if (at >= kChunkBufferSize) break;
    m_chunk[at] = data[i];
  }
}

void UpdaterUnit::SetDisplayText(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  ShowLocked(text);
}

void UpdaterUnit::RefuseInternalWrites(uint32_t address, uint32_t count) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_refusedInternal.emplace_back(address, address + count);
}

void UpdaterUnit::RefuseExternalWrites(uint32_t firstPage, uint32_t pageCount) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_refusedExternal.emplace_back(firstPage, firstPage + pageCount);
}

void UpdaterUnit::ForceResult(uint32_t command, uint32_t result) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_forced[command] = result;
}

void UpdaterUnit::ClearForcedResults() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_forced.clear();
}

void UpdaterUnit::LoadInternal(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (InternalRange(address, bytes.size()))
    std::copy(bytes.begin(), bytes.end(), m_internal.begin() + address);
}

void UpdaterUnit::LoadExternal(uint32_t firstPage, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const uint64_t pages = (bytes.size() + kPageSize - 1) / kPageSize;
  if (ExternalRange(firstPage, pages))
    std::copy(bytes.begin(), bytes.end(),
              m_external.begin() + static_cast<size_t>(firstPage) * kPageSize);
}

std::vector<uint8_t> UpdaterUnit::ReadInternal(uint32_t address, uint32_t count) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!InternalRange(address, count)) return {};
  return {m_internal.begin() + address, m_internal.begin() + address + count};
}

std::vector<uint8_t> UpdaterUnit::ReadExternal(uint32_t firstPage, uint32_t byteCount) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const size_t start = static_cast<size_t>(firstPage) * kPageSize;
  if (start > m_external.size() || byteCount > m_external.size() - start) return {};
  return {m_external.begin() + start, m_external.begin() + start + byteCount};
}

std::vector<uint8_t> UpdaterUnit::ChunkBuffer() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_chunk;
}

std::vector<UnitCommand> UpdaterUnit::Log() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_log;
}

size_t UpdaterUnit::CountOf(uint32_t command) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<size_t>(
      std::count_if(m_log.begin(), m_log.end(),
                    [command](const UnitCommand& c) { return c.command == command; }));
}

void UpdaterUnit::ClearLog() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_log.clear();
  m_displayHistory.clear();
}

std::string UpdaterUnit::DisplayText() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_display;
}

std::vector<std::string> UpdaterUnit::DisplayHistory() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_displayHistory;
}

}  // namespace sim
