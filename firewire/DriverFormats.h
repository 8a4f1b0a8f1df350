// The records shared with the FireWire audio driver. The driver reads and
// writes them in place in our memory, so they are byte layouts at fixed
// offsets, little-endian, with a 64-bit slot for every address or handle
// whatever the width of our own pointers.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "the driver's records are little-endian and read in place");

namespace FireWire {

// Field access at a byte offset. The records put 64-bit slots on 4-byte
// boundaries, so every access goes through memcpy.
inline std::uint32_t Load32(const void* base, std::size_t offset) {
  std::uint32_t v;
  std::memcpy(&v, static_cast<const unsigned char*>(base) + offset, sizeof v);
  return v;
}
inline std::uint64_t Load64(const void* base, std::size_t offset) {
  std::uint64_t v;
  std::memcpy(&v, static_cast<const unsigned char*>(base) + offset, sizeof v);
  return v;
}
inline void Store32(void* base, std::size_t offset, std::uint32_t v) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &v, sizeof v);
}
inline void Store64(void* base, std::size_t offset, std::uint64_t v) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &v, sizeof v);
}
inline std::uint64_t AddressSlot(const void* p) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
}
template <typename T = void>
inline T* SlotAddress(std::uint64_t slot) {
  return reinterpret_cast<T*>(static_cast<std::uintptr_t>(slot));
}

}  // namespace FireWire

// The driver's functions, sent as I/O controls on its control device.
enum DriverFunction : std::uint32_t {
  DriverFunctionConnect = 1,
  DriverFunctionDisconnect = 2,
  DriverFunctionCallApi = 3,
};

// CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800 + function, METHOD_NEITHER, FILE_ANY_ACCESS).
constexpr std::uint32_t DriverIoctlCode(std::uint32_t function) {
  return (0x22u << 16) | (0u << 14) | ((0x800u + function) << 2) | 3u;
}

// The connect request's argument.
constexpr std::uint64_t kDriverConnectArgument = 0xBBBB;

// DriverRequestRecord: a request, a ring slot, and the record an APC names.
namespace DriverRequestRecord {
constexpr std::size_t kSize = 302;
constexpr std::size_t kHeaderAddress = 0x00;  // u64
constexpr std::size_t kArgument = 0x08;       // u64; in an APC record: payload address
constexpr std::size_t kReserved = 0x10;       // 16 bytes of zero
constexpr std::size_t kFunction = 0x20;       // u32; in a ring or APC record: notification code
constexpr std::size_t kPayload = 0x26;        // 264 bytes, in a ring record
constexpr std::size_t kPayloadSize = 264;
// A request buffer: the record rounded up to 8 so that it can be aligned.
constexpr std::size_t kBufferSize = (kSize + 7) / 8 * 8;
}  // namespace DriverRequestRecord

// ClientModeApiHeader: embedded in the session; the driver gets its address
// in every request.
namespace ClientModeApiHeader {
constexpr std::size_t kSize = 96;
constexpr std::uint32_t kMagic = 0x5641524E;
constexpr std::uint32_t kTrailingMagic = 0x4E524156;  // the same letters, reversed
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kLeadingMagic = 0x00;         // u32
constexpr std::size_t kHeaderSize = 0x04;           // u32
constexpr std::size_t kHeaderVersion = 0x08;        // u32
constexpr std::size_t kDriverHandle = 0x0C;         // u64: address of the DriverHandle
constexpr std::size_t kThreadHandle = 0x14;         // u64
constexpr std::size_t kApcRoutine = 0x1C;           // u64
constexpr std::size_t kEventHandle = 0x24;          // u64
constexpr std::size_t kRingAddress = 0x2C;          // u64, filled in by the driver
constexpr std::size_t kSelfAddress = 0x44;          // u64
constexpr std::size_t kSessionAddress = 0x4C;       // u64
constexpr std::size_t kTrailingMagicOffset = 0x5C;  // u32
}  // namespace ClientModeApiHeader

// NotificationRing: in the driver's memory, found through the header.
namespace NotificationRing {
constexpr std::uint32_t kSlotCount = 1024;
constexpr std::size_t kSizeWord = 0x00;
constexpr std::size_t kSlots = 0x08;
constexpr std::size_t kSlotSize = DriverRequestRecord::kSize;
constexpr std::size_t kWriteIndex = kSlots + kSlotCount * kSlotSize;  // 0x4B808
constexpr std::size_t kReadIndex = kWriteIndex + 4;                   // 0x4B80C
constexpr std::uint32_t kSize = 16 + kSlotCount * kSlotSize;          // 309264
static_assert(kWriteIndex == 0x4B808 && kSize == 309264);
}  // namespace NotificationRing

// NotificationPayload: inline in a ring slot, or where an APC record points.
namespace NotificationPayload {
constexpr std::size_t kCallback = 0x00;   // u64, 0 = none
constexpr std::size_t kUserData = 0x08;   // u32 (the low half of the registered user data)
constexpr std::size_t kUserValue = 0x0C;  // u32 (its high half)
constexpr std::size_t kData = 0x18;       // code-specific
constexpr std::size_t kCode0Word1 = 0x38;
constexpr std::size_t kCode0Word2 = 0x40;
constexpr std::size_t kWord1 = 0x18;
constexpr std::size_t kWord2 = 0x1C;
constexpr std::size_t kWord3 = 0x20;
}  // namespace NotificationPayload
