// The firmware image file, the version word and its text, the unit's
// updater commands, and the two check values the unit computes.
//
// Image fields are little-endian at fixed offsets. The records below are
// views over the image bytes: they have no alignment of their own and every
// accessor reads its bytes one by one, so a header may lie at any address
// and the host's byte order does not matter.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads a 32-bit little-endian value at any address.
inline uint32_t ReadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The start of every image file; everything before the first record is
// header.
struct FirmwareImageHeader {
  static constexpr size_t kFirstRecordOffsetAt = 0x04;
  static constexpr size_t kTotalBytesAt = 0x08;
  static constexpr size_t kVersionWordAt = 0x10;
  static constexpr size_t kModelByteAt = 0x14;
  // The fixed part of the header, up to and including the model byte.
  static constexpr size_t kSize = 0x15;

  static const FirmwareImageHeader* At(const uint8_t* bytes) {
    return reinterpret_cast<const FirmwareImageHeader*>(bytes);
  }
  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(this); }

  // File offset of the first record.
  uint32_t FirstRecordOffset() const { return ReadLE32(Bytes() + kFirstRecordOffsetAt); }
  // Sum over all records of header size plus data length.
  uint32_t TotalBytes() const { return ReadLE32(Bytes() + kTotalBytesAt); }
  uint32_t VersionWord() const { return ReadLE32(Bytes() + kVersionWordAt); }
  // Not used by the updater.
  uint8_t ModelByte() const { return Bytes()[kModelByteAt]; }

  unsigned char raw[kSize];
};

// The start of every record; its data follow after HeaderSize() bytes.
struct FirmwareRecordHeader {
  static constexpr size_t kHeaderSizeAt = 0x04;
  static constexpr size_t kDataLengthAt = 0x08;
  static constexpr size_t kExternalFlagAt = 0x0C;
  static constexpr size_t kDestinationAt = 0x10;
  // The fields read; a record's header size is at least this.
  static constexpr size_t kSize = 0x14;

  static const FirmwareRecordHeader* At(const uint8_t* bytes) {
    return reinterpret_cast<const FirmwareRecordHeader*>(bytes);
  }
  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(this); }

  uint32_t HeaderSize() const { return ReadLE32(Bytes() + kHeaderSizeAt); }
  uint32_t DataLength() const { return ReadLE32(Bytes() + kDataLengthAt); }
  uint32_t ExternalFlag() const { return ReadLE32(Bytes() + kExternalFlagAt); }
  bool IsExternal() const { return ExternalFlag() != 0; }
  // Internal: byte address in internal flash. External: first page.
  uint32_t Destination() const { return ReadLE32(Bytes() + kDestinationAt); }

  unsigned char raw[kSize];
};

// Fields of the version word.
inline uint32_t VersionMajor(uint32_t word) { return (word >> 20) & 0xF; }
inline uint32_t VersionMinor(uint32_t word) { return (word >> 12) & 0xFF; }
inline uint32_t VersionKind(uint32_t word) { return (word >> 8) & 0xF; }
inline uint32_t VersionBuild(uint32_t word) { return word & 0xFF; }

// Wide characters of a version text buffer, the terminator included.
constexpr size_t kVersionTextLength = 25;

// Writes the header's version word as text into out (kVersionTextLength
// wide characters): " 1.03" for kind 8, "10.12d5" and the like otherwise.
void FormatFirmwareVersion(wchar_t* out, const FirmwareImageHeader* header);

// The commands of the unit's updater, the same on both buses.
enum DeviceCommand : uint32_t {
  DeviceCommandWriteData = 4,          // USB only: (offset in chunk, count 1..48)
  DeviceCommandProgramExternal = 6,    // (first page, page count)
  DeviceCommandProgramInternal = 8,    // (byte address, byte count)
  DeviceCommandInternalChecksum = 9,   // (byte address, byte count) -> sum
  DeviceCommandExternalChecksum = 10,  // (first page, page count) -> sum
  DeviceCommandInternalCrc = 11,       // (byte address, byte count) -> CRC-16
  DeviceCommandExternalCrc = 12,       // (first page, page count) -> CRC-16
  DeviceCommandDisplayText = 13,       // USB only: 48 text bytes
};

constexpr uint32_t kExternalPageSize = 528;
constexpr uint32_t kInternalChunkSize = 8192;
constexpr uint32_t kExternalChunkSize = 15 * kExternalPageSize;  // 7920

// Sum of the bytes as unsigned values, wrapping modulo 2^32.
uint32_t FirmwareByteSum(const uint8_t* data, uint32_t length);

// CRC-16 (polynomial 0x1021, initial 0, no final XOR, MSB first) over the
// data taken as little-endian 32-bit words, each fed from its top nibble
// down; the last length % 4 bytes are not covered.
uint16_t FirmwareCrc16(const uint8_t* data, uint32_t length);
