#include "sim/SimFireWireDriver.h"

#include "firewire/ClientModeApi.h"
#include "firewire/DriverFormats.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace sim {

using FireWire::AddressSlot;
using FireWire::Load32;
using FireWire::Load64;
using FireWire::SlotAddress;
using FireWire::Store32;
using FireWire::Store64;
namespace H = ClientModeApiHeader;
namespace R = NotificationRing;
namespace Args = ClientModeApiArgs;

struct SimFireWireDriver::ApcItem {
  alignas(8) unsigned char record[DriverRequestRecord::kBufferSize] = {};
  alignas(8) unsigned char payload[DriverRequestRecord::kPayloadSize] = {};
};

// ---------------------------------------------------------------- unit

SimFireWireUnit::SimFireWireUnit(std::uint64_t unitId, std::u16string unitName, std::uint32_t model)
    : id(unitId), name(std::move(unitName)), modelCode(model) {}

std::uint32_t SimFireWireUnit::ReadRegister(std::uint32_t address) {
  if (readHook) return readHook(address);
  return Register(address);
}

void SimFireWireUnit::WriteRegister(std::uint32_t address, std::uint32_t value) {
  if (writeHook) {
    writeHook(address, value);
    return;
  }
  SetRegister(address, value);
}

std::uint32_t SimFireWireUnit::Register(std::uint32_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = registers_.find(address);
  return it == registers_.end() ? 0 : it->second;
}

void SimFireWireUnit::SetRegister(std::uint32_t address, std::uint32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  registers_[address] = value;
}

// ---------------------------------------------------------------- driver

SimFireWireDriver::SimFireWireDriver() : ringSizeWord_(R::kSize) {
  registration_ = platform::host::RegisterDriverDevice(L"VarnFWA", *this);
}

SimFireWireDriver::~SimFireWireDriver() {
  ReleaseConnectAnswers();
  registration_.Remove();
}

void SimFireWireDriver::SetPresent(bool present) {
  std::lock_guard<std::mutex> lock(mutex_);
  present_ = present;
}

void SimFireWireDriver::Unregister() { registration_.Remove(); }

void SimFireWireDriver::SetConnectResult(std::uint32_t result) {
  std::lock_guard<std::mutex> lock(mutex_);
  connectResult_ = result;
}

void SimFireWireDriver::SetVersionAnswer(std::uint32_t answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  versionAnswer_ = answer;
}

void SimFireWireDriver::SetProvideRing(bool provide) {
  std::lock_guard<std::mutex> lock(mutex_);
  provideRing_ = provide;
}

void SimFireWireDriver::SetRingSizeWord(std::uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  ringSizeWord_ = size;
}

void SimFireWireDriver::SetRingAtConnect(std::uint32_t code,
                                         const std::vector<unsigned char>& payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  ringAtConnect_ = AtConnect{true, code, payload};
}

void SimFireWireDriver::SetApcAtConnect(std::uint32_t code,
                                        const std::vector<unsigned char>& payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  apcAtConnect_ = AtConnect{true, code, payload};
}

void SimFireWireDriver::SetSignalAtConnect(DWORD holdMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  signalAtConnect_ = true;
  signalHoldMs_ = holdMs;
}

void SimFireWireDriver::HoldConnectAnswers(DWORD boundMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  holdAnswers_ = true;
  holdBoundMs_ = boundMs;
}

void SimFireWireDriver::ReleaseConnectAnswers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    holdAnswers_ = false;
  }
  answersReleased_.notify_all();
}

void SimFireWireDriver::SetApiError(std::uint32_t api, std::int32_t code, const std::string& text,
                                    std::uint32_t result) {
  std::lock_guard<std::mutex> lock(mutex_);
  apiErrors_[api] = ApiError{code, text, result};
}

void SimFireWireDriver::ClearApiErrors() {
  std::lock_guard<std::mutex> lock(mutex_);
  apiErrors_.clear();
}

void SimFireWireDriver::SetApiHook(ApiHook hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  apiHook_ = std::move(hook);
}

void SimFireWireDriver::AddUnit(std::shared_ptr<SimFireWireUnit> unit) {
  std::lock_guard<std::mutex> lock(mutex_);
  units_.push_back(std::move(unit));
}

void SimFireWireDriver::RemoveUnit(std::uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(units_, [id](const auto& u) { return u->id == id; });
}

std::vector<SimFireWireDriver::Request> SimFireWireDriver::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::size_t SimFireWireDriver::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

std::size_t SimFireWireDriver::ApiCalls(std::uint32_t api) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t n = 0;
  for (const auto& r : requests_) {
    if (r.driverFunction == DriverFunctionCallApi && r.api == api) ++n;
  }
  return n;
}

void SimFireWireDriver::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

std::size_t SimFireWireDriver::OpenAttempts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openAttempts_;
}

std::vector<SimFireWireDriver::Registration> SimFireWireDriver::Registrations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registrations_;
}

bool SimFireWireDriver::Connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return header_ != nullptr;
}

std::uint64_t SimFireWireDriver::ThreadHandleAtConnect() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return threadHandleAtConnect_;
}

const unsigned char* SimFireWireDriver::Header() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return header_;
}

DWORD SimFireWireDriver::OnOpen(std::uint64_t, const platform::host::OpenRecord&) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++openAttempts_;
  return present_ ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD SimFireWireDriver::IoControl(std::uint64_t, DWORD code, void* in, DWORD inSize, void* out,
                                   DWORD outSize, DWORD& bytesReturned) {
  bytesReturned = 0;
  std::uint32_t function = 0;
  for (std::uint32_t f = DriverFunctionConnect; f <= DriverFunctionCallApi; ++f) {
    if (code == DriverIoctlCode(f)) function = f;
  }
  Request request;
  request.ioctlCode = code;
  request.inSize = inSize;
  request.outSize = outSize;
  request.driverFunction = function;
  request.threadId = GetCurrentThreadId();
  if (in != nullptr && inSize >= 0x24) {
    const auto* bytes = static_cast<const unsigned char*>(in);
    request.record.assign(bytes, bytes + inSize);
    request.api = Load32(in, DriverRequestRecord::kFunction);
    request.argument = Load64(in, DriverRequestRecord::kArgument);
    if (function == DriverFunctionCallApi && request.api != ClientModeApiVersionCheck &&
        request.argument != 0) {
      const auto* block = SlotAddress<const unsigned char>(request.argument);
      request.block.assign(block, block + Args::kBlockSize);
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  if (function == 0 || in == nullptr || inSize < DriverRequestRecord::kSize || out == nullptr ||
      outSize < 4) {
    return ERROR_INVALID_PARAMETER;
  }
  auto* header = SlotAddress<unsigned char>(Load64(in, DriverRequestRecord::kHeaderAddress));
  std::uint32_t result = 0;
  switch (function) {
    case DriverFunctionConnect:
      result = Connect(header);
      break;
    case DriverFunctionDisconnect:
      Disconnect(header);
      break;
    case DriverFunctionCallApi:
      result = CallApi(request.api, request.argument);
      break;
  }
  Store32(out, 0, result);
  bytesReturned = 4;
  return ERROR_SUCCESS;
}

std::uint32_t SimFireWireDriver::Connect(unsigned char* header) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threadHandleAtConnect_ = header == nullptr ? 0 : Load64(header, H::kThreadHandle);
  }
  HANDLE signal = nullptr;
  DWORD hold = 0;
  const std::uint32_t result = ConnectLocked(header, signal, hold);
  if (signal != nullptr) {
    SetEvent(signal);
    Sleep(hold);
  }
  std::unique_lock<std::mutex> lock(mutex_);
  answersReleased_.wait_for(lock, std::chrono::milliseconds(holdBoundMs_),
                            [this] { return !holdAnswers_; });
  return result;
}

std::uint32_t SimFireWireDriver::ConnectLocked(unsigned char* header, HANDLE& signal, DWORD& hold) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (header == nullptr || Load32(header, H::kLeadingMagic) != H::kMagic ||
      Load32(header, H::kHeaderSize) != H::kSize ||
      Load32(header, H::kTrailingMagicOffset) != H::kTrailingMagic) {
    return 0;
  }
  if (connectResult_ == 0) return 0;
  header_ = header;
  event_ = SlotAddress<void>(Load64(header, H::kEventHandle));
  registrations_.clear();
  apcItems_.clear();
  ring_.reset();
  if (provideRing_) {
    ring_ = std::make_unique<std::uint64_t[]>((R::kSize + 7) / 8);
    auto* ring = reinterpret_cast<unsigned char*>(ring_.get());
    Store32(ring, R::kSizeWord, ringSizeWord_);
    Store64(header, H::kRingAddress, AddressSlot(ring));
  }
  if (ringAtConnect_.set) PostRingLocked(ringAtConnect_.code, {ringAtConnect_.payload}, false);
  if (apcAtConnect_.set) QueueApcLocked(apcAtConnect_.code, apcAtConnect_.payload);
  if (signalAtConnect_) {
    signal = event_;
    hold = signalHoldMs_;
  }
  return connectResult_;
}

void SimFireWireDriver::Disconnect(unsigned char* header) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (header == nullptr || header != header_) return;
  // The driver forgets the client: its registrations, ring and APC records.
  header_ = nullptr;
  event_ = nullptr;
  registrations_.clear();
  apcItems_.clear();
  ring_.reset();
}

void SimFireWireDriver::WriteError(unsigned char* block, std::int32_t code,
                                   const std::string& text) {
  auto* error = SlotAddress<unsigned char>(Load64(block, Args::kErrorRecord));
  if (error == nullptr) return;
  std::size_t n = std::min<std::size_t>(text.size(), 79);
  std::memcpy(error, text.data(), n);
  error[n] = 0;
  Store32(error, 80, static_cast<std::uint32_t>(code));
}

std::shared_ptr<SimFireWireUnit> SimFireWireDriver::FindUnit(std::uint64_t id) const {
  for (const auto& u : units_) {
    if (u->id == id) return u;
  }
  return nullptr;
}

std::uint32_t SimFireWireDriver::CallApi(std::uint32_t api, std::uint64_t argument) {
  ApiHook hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hook = apiHook_;
  }
  if (hook) {
    hook(api,
         api == ClientModeApiVersionCheck ? nullptr : SlotAddress<const unsigned char>(argument));
  }

  if (api == ClientModeApiVersionCheck) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (argument != kClientModeApiVersion) return 1;
    return versionAnswer_;
  }
  auto* block = SlotAddress<unsigned char>(argument);
  if (block == nullptr) return 0;

  std::shared_ptr<SimFireWireUnit> unit;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto error = apiErrors_.find(api);
    if (error != apiErrors_.end()) {
      WriteError(block, error->second.code, error->second.text);
      return error->second.result;
    }
    switch (api) {
      case ClientModeApiRegisterCallback: {
        Registration r;
        r.cookie = nextCookie_++;
        r.mask = Load32(block, Args::kEventMask);
        r.callback = Load64(block, Args::kCallback);
        r.userData = Load64(block, Args::kUserData);
        r.third = Load64(block, Args::kThirdWord);
        registrations_.push_back(r);
        return r.cookie;
      }
      case ClientModeApiUnregisterCallback: {
        std::uint32_t cookie = Load32(block, Args::kCookie);
        if (std::erase_if(registrations_, [cookie](const auto& r) { return r.cookie == cookie; }) ==
            0) {
          WriteError(block, kUnknownDevice, "unknown registration");
        }
        return 0;
      }
      case ClientModeApiGetDeviceId: {
        auto* output = SlotAddress<unsigned char>(Load64(block, Args::kOutputAddress));
        std::uint32_t size = Load32(block, Args::kOutputSize);
        std::uint32_t index = Load32(block, Args::kUnitIndex);
        std::uint64_t id = index < units_.size() ? units_[index]->id : 0;
        if (output != nullptr && size >= 8) Store64(output, 0, id);
        return 0;
      }
      default:
        break;
    }
    unit = FindUnit(Load64(block, Args::kDeviceId));
    if (!unit) {
      WriteError(block, kUnknownDevice, "no such device");
      return 0;
    }
  }

  switch (api) {
    case ClientModeApiFunction4:
      return unit->attribute4;
    case ClientModeApiFunction17:
      return unit->attribute17;
    case ClientModeApiFunction18:
      return unit->attribute18;
    case ClientModeApiGetModelCode:
      return unit->modelCode;
    case ClientModeApiGetDeviceName: {
      auto* buffer = SlotAddress<unsigned char>(Load64(block, Args::kNameBuffer));
      std::uint32_t size = Load32(block, Args::kNameBufferSize);
      std::size_t chars = size / 2;
      if (buffer == nullptr || chars == 0) return 0;
      std::size_t n = std::min(unit->name.size(), unit->terminateName ? chars - 1 : chars);
      for (std::size_t i = 0; i < n; ++i) {
        std::uint16_t c = static_cast<std::uint16_t>(unit->name[i]);
        std::memcpy(buffer + 2 * i, &c, 2);
      }
      if (unit->terminateName) {
        std::memset(buffer + 2 * n, 0, 2);
      } else {
        // Fill the rest with a letter, so no terminator is left anywhere.
        for (std::size_t i = n; i < chars; ++i) {
          std::uint16_t c = u'X';
          std::memcpy(buffer + 2 * i, &c, 2);
        }
      }
      return 0;
    }
    case ClientModeApiReadRegister:
      return unit->ReadRegister(Load32(block, Args::kRegister));
    case ClientModeApiWriteRegister:
      unit->WriteRegister(Load32(block, Args::kRegister), Load32(block, Args::kValue));
      return 0;
    default:
      return 0;
  }
}

std::vector<unsigned char> SimFireWireDriver::MakePayload(std::uint64_t callback,
                                                          std::uint64_t userData, std::uint32_t w1,
                                                          std::uint32_t w2, std::uint32_t w3) {
  std::vector<unsigned char> payload(DriverRequestRecord::kPayloadSize, 0);
  Store64(payload.data(), NotificationPayload::kCallback, callback);
  Store64(payload.data(), NotificationPayload::kUserData, userData);
  Store32(payload.data(), NotificationPayload::kWord1, w1);
  Store32(payload.data(), NotificationPayload::kWord2, w2);
  Store32(payload.data(), NotificationPayload::kWord3, w3);
  return payload;
}

bool SimFireWireDriver::PostRing(std::uint32_t code, const std::vector<unsigned char>& payload) {
  return PostRingBatch(code, {payload});
}

bool SimFireWireDriver::PostRingBatch(std::uint32_t code,
                                      const std::vector<std::vector<unsigned char>>& payloads) {
  std::lock_guard<std::mutex> lock(mutex_);
  return PostRingLocked(code, payloads, true);
}

bool SimFireWireDriver::PostRingLocked(std::uint32_t code,
                                       const std::vector<std::vector<unsigned char>>& payloads,
                                       bool signal) {
  if (header_ == nullptr || !ring_) return false;
  auto* ring = reinterpret_cast<unsigned char*>(ring_.get());
  auto* writeIndex = reinterpret_cast<LONG volatile*>(ring + R::kWriteIndex);
  auto* readIndex = reinterpret_cast<LONG volatile*>(ring + R::kReadIndex);
  auto write = static_cast<std::uint32_t>(InterlockedCompareExchange(writeIndex, 0, 0));
  auto read = static_cast<std::uint32_t>(InterlockedCompareExchange(readIndex, 0, 0));
  if (write >= R::kSlotCount || read >= R::kSlotCount) return false;
  std::uint32_t used = (write + R::kSlotCount - read) % R::kSlotCount;
  if (used + payloads.size() > R::kSlotCount - 1) return false;
  for (const auto& payload : payloads) {
    unsigned char* slot = ring + R::kSlots + write * R::kSlotSize;
    std::memset(slot, 0, R::kSlotSize);
    Store64(slot, DriverRequestRecord::kHeaderAddress, AddressSlot(header_));
    Store32(slot, DriverRequestRecord::kFunction, code);
    std::memcpy(slot + DriverRequestRecord::kPayload, payload.data(),
                std::min(payload.size(), DriverRequestRecord::kPayloadSize));
    write = (write + 1) % R::kSlotCount;
  }
  InterlockedExchange(writeIndex, static_cast<LONG>(write));
  if (signal && event_ != nullptr) SetEvent(event_);
  return true;
}

bool SimFireWireDriver::QueueApc(std::uint32_t code, const std::vector<unsigned char>& payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  return QueueApcLocked(code, payload);
}

bool SimFireWireDriver::QueueApcLocked(std::uint32_t code,
                                       const std::vector<unsigned char>& payload) {
  if (header_ == nullptr) return false;
  HANDLE thread = SlotAddress<void>(Load64(header_, H::kThreadHandle));
  auto routine =
      reinterpret_cast<PAPCFUNC>(static_cast<std::uintptr_t>(Load64(header_, H::kApcRoutine)));
  if (thread == nullptr || routine == nullptr) return false;
  auto item = std::make_unique<ApcItem>();
  std::memcpy(item->payload, payload.data(),
              std::min(payload.size(), DriverRequestRecord::kPayloadSize));
  Store64(item->record, DriverRequestRecord::kHeaderAddress, AddressSlot(header_));
  Store64(item->record, DriverRequestRecord::kArgument, AddressSlot(item->payload));
  Store32(item->record, DriverRequestRecord::kFunction, code);
  auto address = reinterpret_cast<ULONG_PTR>(item->record);
  apcItems_.push_back(std::move(item));
  return QueueUserAPC(routine, thread, address) != 0;
}

std::size_t SimFireWireDriver::NotifyRegistrations(std::uint32_t eventWord, std::uint32_t word4,
                                                   std::uint32_t word5, bool asApc) {
  std::size_t n = 0;
  for (const auto& r : Registrations()) {
    auto payload = MakePayload(r.callback, r.userData, eventWord, word4, word5);
    if (asApc ? QueueApc(1, payload) : PostRing(1, payload)) ++n;
  }
  return n;
}

void SimFireWireDriver::SignalEvent() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (event_ != nullptr) SetEvent(event_);
}

unsigned char* SimFireWireDriver::Ring() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reinterpret_cast<unsigned char*>(ring_.get());
}

void SimFireWireDriver::SetRingIndices(std::uint32_t write, std::uint32_t read) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ring_) return;
  auto* ring = reinterpret_cast<unsigned char*>(ring_.get());
  InterlockedExchange(reinterpret_cast<LONG volatile*>(ring + R::kReadIndex),
                      static_cast<LONG>(read));
  InterlockedExchange(reinterpret_cast<LONG volatile*>(ring + R::kWriteIndex),
                      static_cast<LONG>(write));
}

std::uint32_t SimFireWireDriver::WriteIndex() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ring_) return 0;
  auto* ring = reinterpret_cast<unsigned char*>(ring_.get());
  return static_cast<std::uint32_t>(
      InterlockedCompareExchange(reinterpret_cast<LONG volatile*>(ring + R::kWriteIndex), 0, 0));
}

std::uint32_t SimFireWireDriver::ReadIndex() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ring_) return 0;
  auto* ring = reinterpret_cast<unsigned char*>(ring_.get());
  return static_cast<std::uint32_t>(
      InterlockedCompareExchange(reinterpret_cast<LONG volatile*>(ring + R::kReadIndex), 0, 0));
}

bool SimFireWireDriver::WaitRingDrained(DWORD ms, bool resignal) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (int round = 1; std::chrono::steady_clock::now() < deadline; ++round) {
    if (ReadIndex() == WriteIndex()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (resignal && round % 5 == 0) SignalEvent();
  }
  return ReadIndex() == WriteIndex();
}

}  // namespace sim
