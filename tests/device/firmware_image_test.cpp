// The image records, the version text and the two check values, each checked
// against the simulated unit's own computation as well.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "device/FirmwareImage.h"
#include "sim/ImageBuilder.h"
#include "sim/UpdaterUnit.h"

namespace {

std::vector<uint8_t> Ascii(const char* text) {
  return std::vector<uint8_t>(text, text + std::strlen(text));
}

TEST(CheckValues, DigitsGiveTheKnownSumsAndCrc) {
  for (const auto* tool : {"engine", "unit"}) {
    SCOPED_TRACE(tool);
    const bool engine = std::string(tool) == "engine";
    auto crc = [&](const std::vector<uint8_t>& d) -> uint32_t {
      return engine ? FirmwareCrc16(d.data(), static_cast<uint32_t>(d.size()))
                    : sim::UnitCrc16(d.data(), d.size());
    };
    auto sum = [&](const std::vector<uint8_t>& d) -> uint32_t {
      return engine ? FirmwareByteSum(d.data(), static_cast<uint32_t>(d.size()))
                    : sim::UnitByteSum(d.data(), d.size());
    };
    EXPECT_EQ(crc(Ascii("12345678")), 0xEA17u);
    EXPECT_EQ(crc(Ascii("123456789")), 0xEA17u);  // ninth byte not covered
    EXPECT_EQ(sum(Ascii("12345678")), 0x1A4u);
    EXPECT_EQ(sum(Ascii("123456789")), 0x1DDu);
    EXPECT_EQ(crc(Ascii("123")), 0u);
    EXPECT_EQ(crc({}), 0u);
  }
}

TEST(CheckValues, EngineAgreesWithTheUnitOnAnyData) {
  const auto data = sim::PatternBytes(9000, 7);
  for (uint32_t length : {1u, 4u, 5u, 7u, 8u, 31u, 528u, 1000u, 8192u, 9000u}) {
    SCOPED_TRACE(length);
    EXPECT_EQ(FirmwareCrc16(data.data(), length), sim::UnitCrc16(data.data(), length));
    EXPECT_EQ(FirmwareByteSum(data.data(), length), sim::UnitByteSum(data.data(), length));
  }
}

TEST(CheckValues, ByteSumWrapsAtThirtyTwoBits) {
  // 16843010 bytes of 0xFF sum to 0x1000000FE.
  const std::vector<uint8_t> data(16843010, 0xFF);
  EXPECT_EQ(FirmwareByteSum(data.data(), static_cast<uint32_t>(data.size())), 0xFEu);
  EXPECT_EQ(sim::UnitByteSum(data.data(), data.size()), 0xFEu);
}

TEST(ImageRecords, FieldsAreLittleEndianAtAnyAlignment) {
  std::vector<uint8_t> bytes(0x40, 0);
  const size_t at = 3;  // deliberately unaligned
  sim::PutLE32(bytes, at + 0x04, 0x11223344);
  sim::PutLE32(bytes, at + 0x08, 0x55667788);
  sim::PutLE32(bytes, at + 0x0C, 0);
  sim::PutLE32(bytes, at + 0x10, 0x0ABCDEF0);
  bytes[at + 0x14] = 0x9C;
  const auto* image = FirmwareImageHeader::At(bytes.data() + at);
  EXPECT_EQ(image->FirstRecordOffset(), 0x11223344u);
  EXPECT_EQ(image->TotalBytes(), 0x55667788u);
  EXPECT_EQ(image->VersionWord(), 0x0ABCDEF0u);
  EXPECT_EQ(image->ModelByte(), 0x9C);
  const auto* record = FirmwareRecordHeader::At(bytes.data() + at);
  EXPECT_EQ(record->HeaderSize(), 0x11223344u);
  EXPECT_EQ(record->DataLength(), 0x55667788u);
  EXPECT_FALSE(record->IsExternal());
  EXPECT_EQ(record->Destination(), 0x0ABCDEF0u);
  sim::PutLE32(bytes, at + 0x0C, 0x100);
  EXPECT_TRUE(record->IsExternal());
}

uint32_t VersionWord(uint32_t major, uint32_t minor, uint32_t kind, uint32_t build) {
  return (major << 20) | (minor << 12) | (kind << 8) | build;
}

std::wstring Format(uint32_t word) {
  std::vector<uint8_t> header(0x20, 0);
  sim::PutLE32(header, 0x10, word | 0xAB000000u);  // the top byte is not used
  wchar_t out[kVersionTextLength];
  std::wmemset(out, L'#', kVersionTextLength);
  FormatFirmwareVersion(out, FirmwareImageHeader::At(header.data()));
  return out;
}

TEST(VersionText, FormatsAndLetters) {
  struct Case {
    uint32_t major, minor, kind, build;
    const wchar_t* text;
  };
  const Case cases[] = {
      {1, 3, 8, 77, L" 1.03"},  {10, 12, 2, 5, L"10.12d5"}, {2, 1, 0, 7, L" 2.01z7"},
      {3, 4, 6, 3, L" 3.04b3"}, {1, 5, 4, 18, L" 1.05a18"}, {15, 255, 15, 255, L"15.255z255"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " kind " << c.kind);
    EXPECT_EQ(Format(VersionWord(c.major, c.minor, c.kind, c.build)), c.text);
  }
}

}  // namespace
