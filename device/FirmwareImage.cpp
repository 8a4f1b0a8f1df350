#include "device/FirmwareImage.h"

#include <cwchar>

void FormatFirmwareVersion(wchar_t* out, const FirmwareImageHeader* header) {
  const uint32_t word = header->VersionWord();
  const int major = static_cast<int>(VersionMajor(word));
  const int minor = static_cast<int>(VersionMinor(word));
  const uint32_t kind = VersionKind(word);
  const int build = static_cast<int>(VersionBuild(word));
  if (kind == 8) {
    swprintf(out, kVersionTextLength, L"%2d.%02d", major, minor);
    return;
  }
  wchar_t letter = L'z';
  if (kind == 2)
    letter = L'd';
  else if (kind == 4)
    letter = L'a';
  else if (kind == 6)
    letter = L'b';
  swprintf(out, kVersionTextLength, L"%2d.%02d%c%d", major, minor, letter, build);
}

uint32_t FirmwareByteSum(const uint8_t* data, uint32_t length) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum += data[i];
  return sum;
}

namespace {

// One step per nibble: e = nibble ^ crc[15:12]; crc = crc<<4 ^ e<<12 ^ e<<5 ^ e.
// The e-dependent part is tabulated.
constexpr uint16_t NibbleTerm(uint32_t e) {
  return static_cast<uint16_t>((e << 12) ^ (e << 5) ^ e);
}

constexpr uint16_t kNibbleTable[16] = {
    NibbleTerm(0),  NibbleTerm(1),  NibbleTerm(2),  NibbleTerm(3),  NibbleTerm(4),  NibbleTerm(5),
    NibbleTerm(6),  NibbleTerm(7),  NibbleTerm(8),  NibbleTerm(9),  NibbleTerm(10), NibbleTerm(11),
    NibbleTerm(12), NibbleTerm(13), NibbleTerm(14), NibbleTerm(15),
};

}  // namespace

uint16_t FirmwareCrc16(const uint8_t* data, uint32_t length) {
  uint32_t crc = 0;
  const uint32_t words = length / 4;
  for (uint32_t w = 0; w < words; ++w) {
    const uint32_t word = ReadLE32(data + 4 * w);
    for (int shift = 28; shift >= 0; shift -= 4) {
      const uint32_t e = ((word >> shift) & 0xF) ^ ((crc >> 12) & 0xF);
      crc = ((crc << 4) ^ kNibbleTable[e]) & 0xFFFF;
    }
  }
  return static_cast<uint16_t>(crc);
}
