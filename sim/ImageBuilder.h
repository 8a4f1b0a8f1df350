// Test equipment: builds firmware image files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Writes a 32-bit little-endian value at offset, growing the bytes if needed.
void PutLE32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

// Bytes of a recognisable pattern that differs from erased flash.
std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed = 1);

// Writes bytes to a file; true on success.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

class ImageBuilder {
 public:
  static constexpr uint32_t kDefaultImageHeaderSize = 0x20;
  static constexpr uint32_t kDefaultRecordHeaderSize = 0x20;

  ImageBuilder& Version(uint32_t word);
  ImageBuilder& Model(uint8_t model);
  // Bytes before the first record (the first record offset).
  ImageBuilder& ImageHeaderSize(uint32_t size);
  ImageBuilder& Internal(uint32_t address, std::vector<uint8_t> data,
                         uint32_t headerSize = kDefaultRecordHeaderSize);
  ImageBuilder& External(uint32_t firstPage, std::vector<uint8_t> data,
                         uint32_t headerSize = kDefaultRecordHeaderSize);

  // The whole image; total bytes is the sum of the records' sizes.
  std::vector<uint8_t> Build() const;
  bool WriteFile(const std::string& path) const { return WriteFileBytes(path, Build()); }

  // File offset of record i in Build()'s bytes.
  size_t RecordOffset(size_t index) const;
  uint32_t TotalBytes() const;

 private:
  struct Record {
    bool external;
    uint32_t destination;
    uint32_t headerSize;
    std::vector<uint8_t> data;
  };
  uint32_t m_version = 0x00103800;  // 1.03 release
  uint8_t m_model = 0;
  uint32_t m_imageHeaderSize = kDefaultImageHeaderSize;
  std::vector<Record> m_records;
};

}  // namespace sim
