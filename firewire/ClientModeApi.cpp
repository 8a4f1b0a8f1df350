#include "firewire/ClientModeApi.h"

#include "firewire/ClientModeApiSession.h"
#include "firewire/DriverFormats.h"

#include <cstdlib>
#include <cstring>
#include <vector>

using FireWire::AddressSlot;
using FireWire::Load64;
using FireWire::SlotAddress;
using FireWire::Store32;
using FireWire::Store64;
namespace Args = ClientModeApiArgs;

FWCnslError::FWCnslError(const char* sourceFile, int sourceLine)
    : code(0), file(sourceFile), line(sourceLine) {
  std::memset(text, 0, sizeof text);
}

void FWCnslError::ThrowIfError() const {
  if (code != 0) throw FWCnslException(*this);
}

FWCnslException::FWCnslException(const FWCnslError& error)
    : code(error.code), file(error.file), line(error.line) {
  std::memcpy(text, error.text, sizeof text);
}

static_assert(offsetof(FWCnslError, text) == 0 && offsetof(FWCnslError, code) == 80,
              "the driver writes the text at 0 and the code at 80");

namespace {

// The process-wide session; only the thread that holds the API lock, or the
// exit-time release, touches it.
FireWire::Audio_ClientModeApiSession* g_session = nullptr;

WithMutexLocked::MutexLock* g_apiLock = nullptr;

void SetClientError(FWCnslError* error, std::int32_t code) {
  if (error == nullptr) return;
  error->code = code;
  error->text[0] = '\0';
}

// A session that failed its check inside a registration. Its notification
// thread may be waiting for a lock that the registering caller holds (the
// driver can deliver a notification naming that caller's callback at
// connect), and the release waits for that thread to end; so it is released
// by ClientModeApi_ReleaseRefusedSession once the caller has left its lock.
std::vector<FireWire::Audio_ClientModeApiSession*> g_refusedSessions;

// Makes and checks the session when there is none. Whatever fails leaves no
// session behind, so the next call tries the driver again from the start.
// A failed session is deleted here, or kept in *refused when the caller
// gives a place for it. Every API call comes from the window's thread, which
// holds no client lock while a call can make a session (a registration
// holds one only with the session in place), so deleting here is safe.
bool EnsureSession(FWCnslError* error,
                   std::vector<FireWire::Audio_ClientModeApiSession*>* refused = nullptr) {
  if (g_session != nullptr) return true;
  auto* session = new FireWire::Audio_ClientModeApiSession;
  const std::uint32_t code =
      session->IsNotConnected()
          ? static_cast<std::uint32_t>(kClientModeApiNotConnected)
          : session->CallApi(ClientModeApiVersionCheck, kClientModeApiVersion);
  if (code == 0) {
    g_session = session;
    return true;
  }
  if (refused != nullptr) {
    refused->push_back(session);
  } else {
    delete session;
  }
  SetClientError(error, static_cast<std::int32_t>(code));
  return false;
}

// One argument block, fresh for each call, headed by the error record.
struct ApiBlock {
  explicit ApiBlock(FWCnslError* error) { Store64(bytes, Args::kErrorRecord, AddressSlot(error)); }
  ApiBlock& U32(std::size_t offset, std::uint32_t v) {
    Store32(bytes, offset, v);
    return *this;
  }
  ApiBlock& U64(std::size_t offset, std::uint64_t v) {
    Store64(bytes, offset, v);
    return *this;
  }
  std::uint32_t Call(std::uint32_t apiFunction) { return ClientModeApi_Call(apiFunction, bytes); }

  alignas(8) unsigned char bytes[Args::kBlockSize] = {};
};

}  // namespace

std::uint32_t ClientModeApi_Call(std::uint32_t apiFunction, void* block) {
  WithMutexLocked lock;
  if (!EnsureSession(SlotAddress<FWCnslError>(Load64(block, Args::kErrorRecord)))) return 0;
  return g_session->CallApi(apiFunction, AddressSlot(block));
}

std::uint32_t ClientModeApi_Function4(FWCnslError* error, std::uint64_t deviceId) {
  return ApiBlock(error).U64(Args::kDeviceId, deviceId).Call(ClientModeApiFunction4);
}

std::uint32_t ClientModeApi_RegisterCallback(FWCnslError* error, std::uint32_t eventMask,
                                             std::uint64_t callback, std::uint64_t userData,
                                             std::uint64_t thirdWord) {
  return ApiBlock(error)
      .U32(Args::kEventMask, eventMask)
      .U64(Args::kCallback, callback)
      .U64(Args::kUserData, userData)
      .U64(Args::kThirdWord, thirdWord)
      .Call(ClientModeApiRegisterCallback);
}

std::uint32_t ClientModeApi_UnregisterCallback(FWCnslError* error, std::uint32_t cookie) {
  return ApiBlock(error).U32(Args::kCookie, cookie).Call(ClientModeApiUnregisterCallback);
}

std::uint32_t ClientModeApi_GetDeviceId(FWCnslError* error, std::uint64_t outputAddress,
                                        std::uint32_t outputSize, std::uint32_t unitIndex) {
  return ApiBlock(error)
      .U64(Args::kOutputAddress, outputAddress)
      .U32(Args::kOutputSize, outputSize)
      .U32(Args::kUnitIndex, unitIndex)
      .Call(ClientModeApiGetDeviceId);
}

std::uint32_t ClientModeApi_Function17(FWCnslError* error, std::uint64_t deviceId) {
  return ApiBlock(error).U64(Args::kDeviceId, deviceId).Call(ClientModeApiFunction17);
}

std::uint32_t ClientModeApi_Function18(FWCnslError* error, std::uint64_t deviceId) {
  return ApiBlock(error).U64(Args::kDeviceId, deviceId).Call(ClientModeApiFunction18);
}

std::uint32_t ClientModeApi_GetDeviceName(FWCnslError* error, std::uint64_t deviceId,
                                          std::uint32_t word, std::uint64_t bufferAddress,
                                          std::uint32_t bufferSize) {
  return ApiBlock(error)
      .U64(Args::kDeviceId, deviceId)
      .U32(Args::kNameWord, word)
      .U64(Args::kNameBuffer, bufferAddress)
      .U32(Args::kNameBufferSize, bufferSize)
      .Call(ClientModeApiGetDeviceName);
}

std::uint32_t ClientModeApi_ReadRegister(FWCnslError* error, std::uint64_t deviceId,
                                         std::uint32_t address) {
  return ApiBlock(error)
      .U64(Args::kDeviceId, deviceId)
      .U32(Args::kRegister, address)
      .Call(ClientModeApiReadRegister);
}

std::uint32_t ClientModeApi_WriteRegister(FWCnslError* error, std::uint64_t deviceId,
                                          std::uint32_t address, std::uint32_t value) {
  return ApiBlock(error)
      .U64(Args::kDeviceId, deviceId)
      .U32(Args::kRegister, address)
      .U32(Args::kValue, value)
      .Call(ClientModeApiWriteRegister);
}

std::uint32_t ClientModeApi_GetModelCode(FWCnslError* error, std::uint64_t deviceId) {
  return ApiBlock(error).U64(Args::kDeviceId, deviceId).Call(ClientModeApiGetModelCode);
}

std::uint32_t ClientModeApi_OpenAndRegisterCallback(FWCnslError* error, std::uint32_t eventMask,
                                                    std::uint64_t callback, std::uint64_t userData,
                                                    std::uint64_t thirdWord) {
  WithMutexLocked lock;
  if (!EnsureSession(error, &g_refusedSessions)) return 0;
  // Takes the lock a second time; the critical section is re-entrant.
  return ClientModeApi_RegisterCallback(error, eventMask, callback, userData, thirdWord);
}

void ClientModeApi_ReleaseSession() {
  delete g_session;
  g_session = nullptr;
  for (auto* refused : g_refusedSessions) delete refused;
  g_refusedSessions.clear();
}

void ClientModeApi_ReleaseRefusedSession() {
  std::vector<FireWire::Audio_ClientModeApiSession*> refused;
  {
    WithMutexLocked lock;
    refused.swap(g_refusedSessions);
  }
  // Outside the API lock too: waiting for a notification thread is never
  // done while holding a lock.
  for (auto* session : refused) delete session;
}

WithMutexLocked::MutexLock::MutexLock() { InitializeCriticalSection(&section); }

WithMutexLocked::MutexLock::~MutexLock() { DeleteCriticalSection(&section); }

WithMutexLocked::MutexLock& WithMutexLocked::Lock() {
  static const bool made = [] {
    g_apiLock = new MutexLock;
    std::atexit(DestroyClientModeApiLock);
    return true;
  }();
  (void)made;
  return *g_apiLock;
}

WithMutexLocked::WithMutexLocked() { EnterCriticalSection(&Lock().section); }

WithMutexLocked::~WithMutexLocked() { LeaveCriticalSection(&Lock().section); }

void DestroyClientModeApiLock() {
  delete g_apiLock;
  g_apiLock = nullptr;
}
