// The wire formats of the unit's HID reports and the model codes it reports
// as its HID version number. Every word is little-endian at a fixed offset,
// whatever the host's byte order or structure packing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hidwire {
inline void PutWord(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value >> 16);
  at[3] = static_cast<std::uint8_t>(value >> 24);
}
inline std::uint32_t GetWord(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}
}  // namespace hidwire

// The 64-byte command block that follows report id 0 in every output report.
struct HidCommandReport {
  static constexpr std::size_t kCommandOffset = 0;
  static constexpr std::size_t kArgument1Offset = 4;
  static constexpr std::size_t kArgument2Offset = 8;
  static constexpr std::size_t kArgument3Offset = 12;
  static constexpr std::size_t kDataOffset = 16;
  static constexpr std::size_t kDataLength = 48;
  static constexpr std::size_t kSize = 64;

  std::uint8_t bytes[kSize] = {};

  void SetCommand(std::uint32_t code) { hidwire::PutWord(bytes + kCommandOffset, code); }
  void SetArgument1(std::uint32_t value) { hidwire::PutWord(bytes + kArgument1Offset, value); }
  void SetArgument2(std::uint32_t value) { hidwire::PutWord(bytes + kArgument2Offset, value); }
  void SetArgument3(std::uint32_t value) { hidwire::PutWord(bytes + kArgument3Offset, value); }

  std::uint32_t Command() const { return hidwire::GetWord(bytes + kCommandOffset); }
  std::uint32_t Argument1() const { return hidwire::GetWord(bytes + kArgument1Offset); }
  std::uint32_t Argument2() const { return hidwire::GetWord(bytes + kArgument2Offset); }
  std::uint32_t Argument3() const { return hidwire::GetWord(bytes + kArgument3Offset); }

  std::uint8_t* Data() { return bytes + kDataOffset; }
  const std::uint8_t* Data() const { return bytes + kDataOffset; }
};
static_assert(sizeof(HidCommandReport) == HidCommandReport::kSize);

// The input report as read, report id at byte 0.
struct HidResponseReport {
  static constexpr std::size_t kReportIdOffset = 0;
  static constexpr std::size_t kResultOffset = 6;
  static constexpr std::size_t kMinimumLength = kResultOffset + 4;

  static std::uint32_t Result(const std::uint8_t* report) {
    return hidwire::GetWord(report + kResultOffset);
  }
  static void SetResult(std::uint8_t* report, std::uint32_t value) {
    hidwire::PutWord(report + kResultOffset, value);
  }
};

// The HID version number of a unit in its firmware update mode: one code per
// model, which also names the model's firmware file.
enum UsbProductCode : std::uint32_t {
  UsbProductPlimo = 0x25,
  UsbProductKetritandra = 0x31,
  UsbProductHalvi = 0x34,
  UsbProductOrveltandra = 0x36,
  UsbProductPaskotandra = 0x38,
  UsbProductDunmi = 0x40,
  UsbProductZolte = 0x42,
  UsbProductFenra = 0x44,
  UsbProductQuen = 0x46,
  UsbProductVorloII = 0x50,
};

inline constexpr std::uint32_t kUsbProductCodes[] = {
    UsbProductPlimo,       UsbProductKetritandra, UsbProductHalvi, UsbProductOrveltandra,
    UsbProductPaskotandra, UsbProductDunmi,       UsbProductZolte, UsbProductFenra,
    UsbProductQuen,        UsbProductVorloII,
};

constexpr bool IsUsbProductCode(std::uint32_t versionNumber) {
  for (std::uint32_t code : kUsbProductCodes) {
    if (code == versionNumber) return true;
  }
  return false;
}
