#include "sim/ImageBuilder.h"

#include <cstdio>

namespace sim {

void PutLE32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4, 0);
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> bytes(count);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345;
    b = static_cast<uint8_t>(x >> 16);
  }
  return bytes;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

ImageBuilder& ImageBuilder::Version(uint32_t word) {
  m_version = word;
  return *this;
}

ImageBuilder& ImageBuilder::Model(uint8_t model) {
  m_model = model;
  return *this;
}

ImageBuilder& ImageBuilder::ImageHeaderSize(uint32_t size) {
  m_imageHeaderSize = size;
  return *this;
}

ImageBuilder& ImageBuilder::Internal(uint32_t address, std::vector<uint8_t> data,
                                     uint32_t headerSize) {
  m_records.push_back({false, address, headerSize, std::move(data)});
  return *this;
}

ImageBuilder& ImageBuilder::External(uint32_t firstPage, std::vector<uint8_t> data,
                                     uint32_t headerSize) {
  m_records.push_back({true, firstPage, headerSize, std::move(data)});
  return *this;
}

uint32_t ImageBuilder::TotalBytes() const {
  uint32_t total = 0;
  for (const auto& r : m_records) total += r.headerSize + static_cast<uint32_t>(r.data.size());
  return total;
}

size_t ImageBuilder::RecordOffset(size_t index) const {
  size_t offset = m_imageHeaderSize;
  for (size_t i = 0; i < index && i < m_records.size(); ++i)
    offset += m_records[i].headerSize + m_records[i].data.size();
  return offset;
}

std::vector<uint8_t> ImageBuilder::Build() const {
  std::vector<uint8_t> bytes(m_imageHeaderSize < 0x15 ? 0x15 : m_imageHeaderSize, 0);
  PutLE32(bytes, 0x00, 0x4E524156);  // a tag; the updater does not read it
  PutLE32(bytes, 0x04, m_imageHeaderSize);
  PutLE32(bytes, 0x08, TotalBytes());
  PutLE32(bytes, 0x10, m_version);
  bytes[0x14] = m_model;
  bytes.resize(m_imageHeaderSize);
  for (const auto& r : m_records) {
    const size_t start = bytes.size();
    bytes.resize(start + (r.headerSize < 0x14 ? 0x14 : r.headerSize), 0);
    PutLE32(bytes, start + 0x04, r.headerSize);
    PutLE32(bytes, start + 0x08, static_cast<uint32_t>(r.data.size()));
    PutLE32(bytes, start + 0x0C, r.external ? 1 : 0);
    PutLE32(bytes, start + 0x10, r.destination);
    bytes.resize(start + r.headerSize);
    bytes.insert(bytes.end(), r.data.begin(), r.data.end());
  }
  return bytes;
}

}  // namespace sim
