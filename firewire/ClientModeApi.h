// The client-mode API of the FireWire audio driver: one flat entry point per
// numbered API function, the process-wide session they share, the API lock
// that serialises them, and the driver's error record.
#pragma once

#include <platform/win32.h>

#include <cstdint>

// The error record of one driver call. The driver writes the text and the
// code in place (offsets 0 and 80); the caller names its source file and line.
struct FWCnslError {
  FWCnslError(const char* sourceFile, int sourceLine);
  // Throws an FWCnslException with a copy of this record when code is not 0.
  void ThrowIfError() const;

  char text[80];
  std::int32_t code;
  const char* file;
  std::int32_t line;
};

// The thrown form of FWCnslError: a type of its own, so that only a handler
// for it (or a catch-all) catches it.
struct FWCnslException {
  explicit FWCnslException(const FWCnslError& error);

  char text[80];
  std::int32_t code;
  const char* file;
  std::int32_t line;
};

// The driver's API functions that this program calls.
enum ClientModeApiFunction : std::uint32_t {
  ClientModeApiVersionCheck = 0,
  ClientModeApiFunction4 = 4,
  ClientModeApiRegisterCallback = 6,
  ClientModeApiUnregisterCallback = 7,
  ClientModeApiGetDeviceId = 15,
  ClientModeApiFunction17 = 17,
  ClientModeApiFunction18 = 18,
  ClientModeApiGetDeviceName = 19,
  ClientModeApiReadRegister = 134,
  ClientModeApiWriteRegister = 135,
  ClientModeApiGetModelCode = 160,
};

// The API version this client speaks, sent with the version check.
constexpr std::uint32_t kClientModeApiVersion = 26;
// The error code for "no connection to the driver".
constexpr std::int32_t kClientModeApiNotConnected = 15;

// Offsets of the argument blocks (ClientModeApiArgs). Every block starts
// with the address of the caller's FWCnslError.
namespace ClientModeApiArgs {
constexpr std::size_t kErrorRecord = 0x00;
constexpr std::size_t kDeviceId = 0x08;        // 4, 17, 18, 19, 134, 135, 160
constexpr std::size_t kEventMask = 0x08;       // 6
constexpr std::size_t kCallback = 0x0C;        // 6
constexpr std::size_t kUserData = 0x14;        // 6
constexpr std::size_t kThirdWord = 0x1C;       // 6
constexpr std::size_t kCookie = 0x08;          // 7
constexpr std::size_t kOutputAddress = 0x08;   // 15
constexpr std::size_t kOutputSize = 0x10;      // 15
constexpr std::size_t kUnitIndex = 0x14;       // 15
constexpr std::size_t kNameWord = 0x10;        // 19
constexpr std::size_t kNameBuffer = 0x14;      // 19
constexpr std::size_t kNameBufferSize = 0x1C;  // 19
constexpr std::size_t kRegister = 0x10;        // 134, 135
constexpr std::size_t kValue = 0x14;           // 135
// Large enough for every block above.
constexpr std::size_t kBlockSize = 0x28;
}  // namespace ClientModeApiArgs

// Sends one API function with its argument block, creating and checking the
// process-wide session first when there is none.
std::uint32_t ClientModeApi_Call(std::uint32_t apiFunction, void* block);

std::uint32_t ClientModeApi_Function4(FWCnslError* error, std::uint64_t deviceId);
std::uint32_t ClientModeApi_RegisterCallback(FWCnslError* error, std::uint32_t eventMask,
                                             std::uint64_t callback, std::uint64_t userData,
                                             std::uint64_t thirdWord);
std::uint32_t ClientModeApi_UnregisterCallback(FWCnslError* error, std::uint32_t cookie);
std::uint32_t ClientModeApi_GetDeviceId(FWCnslError* error, std::uint64_t outputAddress,
                                        std::uint32_t outputSize, std::uint32_t unitIndex);
std::uint32_t ClientModeApi_Function17(FWCnslError* error, std::uint64_t deviceId);
std::uint32_t ClientModeApi_Function18(FWCnslError* error, std::uint64_t deviceId);
std::uint32_t ClientModeApi_GetDeviceName(FWCnslError* error, std::uint64_t deviceId,
                                          std::uint32_t word, std::uint64_t bufferAddress,
                                          std::uint32_t bufferSize);
std::uint32_t ClientModeApi_ReadRegister(FWCnslError* error, std::uint64_t deviceId,
                                         std::uint32_t address);
std::uint32_t ClientModeApi_WriteRegister(FWCnslError* error, std::uint64_t deviceId,
                                          std::uint32_t address, std::uint32_t value);
std::uint32_t ClientModeApi_GetModelCode(FWCnslError* error, std::uint64_t deviceId);
// Creates and checks the session and registers the callback in one hold of
// the API lock. The cookie, or 0 when no session could be made. A session
// that fails its check here is kept for ClientModeApi_ReleaseRefusedSession,
// which the caller calls once it has left any lock its callback takes.
std::uint32_t ClientModeApi_OpenAndRegisterCallback(FWCnslError* error, std::uint32_t eventMask,
                                                    std::uint64_t callback, std::uint64_t userData,
                                                    std::uint64_t thirdWord);
// Deletes the process-wide session, if any, and a refused one. Takes no lock.
void ClientModeApi_ReleaseSession();
// Deletes the sessions that registrations refused, if any, after leaving
// the API lock.
void ClientModeApi_ReleaseRefusedSession();

// The API lock: a scoped hold of one process-wide, re-entrant critical
// section.
struct WithMutexLocked {
  struct MutexLock {
    MutexLock();
    virtual ~MutexLock();
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;
    CRITICAL_SECTION section;
  };

  WithMutexLocked();
  virtual ~WithMutexLocked();
  WithMutexLocked(const WithMutexLocked&) = delete;
  WithMutexLocked& operator=(const WithMutexLocked&) = delete;

  // The process-wide lock, created on first use.
  static MutexLock& Lock();
};

// Deletes the API lock at process exit.
void DestroyClientModeApiLock();
