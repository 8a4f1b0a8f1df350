#include "firewire/ClientModeApiSession.h"

#include "firewire/DriverHandle.h"

#include <cstring>
#include <type_traits>

namespace FireWire {
namespace {

namespace H = ClientModeApiHeader;
namespace R = NotificationRing;
namespace P = NotificationPayload;

constexpr DWORD kConnectWaitMs = 1000;
constexpr DWORD kStopWaitMs = 500;
// After the stop wait has expired: how often the thread is woken again
// while we wait for it to end.
constexpr DWORD kStopRetryMs = 10;

LONG ReadIndex(unsigned char* ring, std::size_t offset) {
  return InterlockedCompareExchange(reinterpret_cast<LONG volatile*>(ring + offset), 0, 0);
}

}  // namespace

ClientModeApiSession::ClientModeApiSession() {
  std::memset(header_, 0, sizeof header_);
  Store32(header_, H::kLeadingMagic, H::kMagic);
  Store32(header_, H::kHeaderSize, static_cast<std::uint32_t>(H::kSize));
  Store32(header_, H::kHeaderVersion, H::kVersion);
  Store64(header_, H::kApcRoutine,
          static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&ApcDispatch)));
  Store64(header_, H::kSelfAddress, AddressSlot(header_));
  Store64(header_, H::kSessionAddress, AddressSlot(this));
  Store32(header_, H::kTrailingMagicOffset, H::kTrailingMagic);

  auto* driver = new DriverHandle;
  driver->Open(L"VarnFWA");
  Store64(header_, H::kDriverHandle, AddressSlot(driver));
  if (driver->handle == INVALID_HANDLE_VALUE) return;

  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) return;
  Store64(header_, H::kEventHandle, AddressSlot(event));

  // The thread's two gates are kernel events: with this toolchain's Windows
  // runtime, a wake-up of a std::atomic wait can be lost, and the thread
  // would then wait for ever.
  handleStored_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (handleStored_ == nullptr || ready_ == nullptr) return;

  HANDLE thread = CreateThread(nullptr, 0, &NotificationThreadProc, header_, 0, nullptr);
  if (thread == nullptr) return;
  Store64(header_, H::kThreadHandle, AddressSlot(thread));
  SetEvent(handleStored_);

  // The driver also signals this event when it adds ring records, and may
  // do so while it is still answering the connect; such a wake-up is not
  // the answer. The wait goes on for the answer, 1000 ms in all.
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    const ULONGLONG waited = GetTickCount64() - start;
    if (connectAnswered_.load() || waited >= kConnectWaitMs) break;
    if (WaitForSingleObject(event, static_cast<DWORD>(kConnectWaitMs - waited)) != WAIT_OBJECT_0)
      break;
  }
}

ClientModeApiSession::~ClientModeApiSession() { Shutdown(); }

void ClientModeApiSession::MarkReady() {
  if (ready_ != nullptr) SetEvent(ready_);
}

void ClientModeApiSession::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;

  HANDLE event = EventHandle();
  HANDLE thread = ThreadHandle();
  if (event != nullptr) {
    if (thread != nullptr) {
      stopping_.store(true);
      connected_.store(false);
      MarkReady();
      PulseEvent(event);
      if (WaitForSingleObject(thread, kStopWaitMs) == WAIT_TIMEOUT) {
        // The thread missed the pulse or is still inside the driver: it
        // reads the event and our header, so it must end before they go.
        DWORD wait;
        do {
          SetEvent(event);
#ifdef _WIN32
          CancelSynchronousIo(thread);
#endif
          wait = WaitForSingleObject(thread, kStopRetryMs);
        } while (wait == WAIT_TIMEOUT);
      }
    }
    CloseHandle(event);
    Store64(header_, H::kEventHandle, 0);
  }
  if (thread != nullptr) {
    CloseHandle(thread);
    Store64(header_, H::kThreadHandle, 0);
  }
  for (HANDLE* gate : {&handleStored_, &ready_}) {
    if (*gate != nullptr) CloseHandle(*gate);
    *gate = nullptr;
  }

  SendRequest(DriverFunctionDisconnect, 0, 0);

  auto* driver = SlotAddress<DriverHandle>(Load64(header_, H::kDriverHandle));
  if (driver != nullptr) {
    if (driver->handle != INVALID_HANDLE_VALUE) CloseHandle(driver->handle);
    delete driver;
    Store64(header_, H::kDriverHandle, 0);
  }
}

bool ClientModeApiSession::IsNotConnected() { return !connected_.load(); }

HANDLE ClientModeApiSession::EventHandle() const {
  return SlotAddress<void>(Load64(header_, H::kEventHandle));
}

HANDLE ClientModeApiSession::ThreadHandle() const {
  return SlotAddress<void>(Load64(header_, H::kThreadHandle));
}

std::uint32_t ClientModeApiSession::SendRequest(std::uint32_t driverFunction,
                                                std::uint32_t apiFunction, std::uint64_t argument) {
  alignas(8) unsigned char record[DriverRequestRecord::kBufferSize] = {};
  Store64(record, DriverRequestRecord::kHeaderAddress, AddressSlot(header_));
  Store64(record, DriverRequestRecord::kArgument, argument);
  Store32(record, DriverRequestRecord::kFunction, apiFunction);
  alignas(8) std::uint32_t result = 0;
  DWORD bytesReturned = 0;
  auto* driver = SlotAddress<DriverHandle>(Load64(header_, H::kDriverHandle));
  if (driver != nullptr) {
    driver->Ioctl(driverFunction, record, DriverRequestRecord::kSize, &result, sizeof result,
                  &bytesReturned, nullptr);
  }
  return result;
}

std::uint32_t ClientModeApiSession::CallApi(std::uint32_t apiFunction, std::uint64_t argument) {
  return SendRequest(DriverFunctionCallApi, apiFunction, argument);
}

void CALLBACK ClientModeApiSession::ApcDispatch(ULONG_PTR record) {
  const void* rec = reinterpret_cast<const void*>(record);
  const void* header = SlotAddress<const void>(Load64(rec, DriverRequestRecord::kHeaderAddress));
  auto* session = SlotAddress<ClientModeApiSession>(Load64(header, H::kSessionAddress));
  session->OnNotification(Load32(rec, DriverRequestRecord::kFunction),
                          SlotAddress<const void>(Load64(rec, DriverRequestRecord::kArgument)));
}

DWORD WINAPI ClientModeApiSession::NotificationThreadProc(LPVOID header) {
  auto* session = SlotAddress<ClientModeApiSession>(Load64(header, H::kSessionAddress));
  session->NotificationLoop();
  return 0;
}

void ClientModeApiSession::NotificationLoop() {
  WaitForSingleObject(handleStored_, INFINITE);
  HANDLE event = EventHandle();
  connected_.store(SendRequest(DriverFunctionConnect, 0, kDriverConnectArgument) != 0);
  connectAnswered_.store(true);
  PulseEvent(event);
  if (!Serving()) return;

  auto* ring = SlotAddress<unsigned char>(Load64(header_, H::kRingAddress));
  if (ring == nullptr || Load32(ring, R::kSizeWord) != R::kSize) return;

  SetThreadPriority(ThreadHandle(), THREAD_PRIORITY_TIME_CRITICAL);
  EnableProAudioThreadPriority();

  // Nothing is dispatched before the session is whole. APCs run only in the
  // alertable wait below, so they wait too. Records the driver added in the
  // meantime are taken now: their signal may have gone to the constructor's
  // wait or been cleared by the pulse.
  WaitForSingleObject(ready_, INFINITE);
  if (!Serving()) return;
  DrainRing();

  while (Serving()) {
    WaitForSingleObjectEx(event, INFINITE, TRUE);
    if (!Serving()) return;
    DrainRing();
    ResetEvent(event);
  }
}

void ClientModeApiSession::DrainRing() {
  for (;;) {
    auto* ring = SlotAddress<unsigned char>(Load64(header_, H::kRingAddress));
    if (ring == nullptr) return;
    auto write = static_cast<std::uint32_t>(ReadIndex(ring, R::kWriteIndex));
    auto read = static_cast<std::uint32_t>(ReadIndex(ring, R::kReadIndex));
    if (write == read) return;
    if (!Serving()) return;
    // The indices are the driver's word: one outside the ring ends the
    // drain rather than sending us past its end.
    if (write >= R::kSlotCount || read >= R::kSlotCount) return;
    unsigned char* slot = ring + R::kSlots + read * R::kSlotSize;
    OnNotification(Load32(slot, DriverRequestRecord::kFunction),
                   slot + DriverRequestRecord::kPayload);
    std::uint32_t next = read + 1 == R::kSlotCount ? 0 : read + 1;
    InterlockedExchange(reinterpret_cast<LONG volatile*>(ring + R::kReadIndex),
                        static_cast<LONG>(next));
  }
}

Audio_ClientModeApiSession::~Audio_ClientModeApiSession() { Shutdown(); }

void Audio_ClientModeApiSession::OnNotification(std::uint32_t code, const void* payload) {
  if (code > 3) return;
  std::uint64_t callback = Load64(payload, P::kCallback);
  if (callback == 0) return;
  // The registered user data arrives whole in the 64-bit slot at 0x08: its
  // low half is the user data, its high half the user value.
  void* userData = SlotAddress<void>(Load64(payload, P::kUserData));
  std::uint32_t userValue = Load32(payload, P::kUserValue);
  const auto* bytes = static_cast<const unsigned char*>(payload);
  switch (code) {
    case 0:
      SlotAddress<std::remove_pointer_t<NotificationCallbackCode0>>(callback)(
          userData, userValue, bytes + P::kData, Load32(payload, P::kCode0Word1),
          Load32(payload, P::kCode0Word2));
      break;
    case 1:
    case 2:
      SlotAddress<std::remove_pointer_t<NotificationCallbackWords>>(callback)(
          userData, userValue, Load32(payload, P::kWord1), Load32(payload, P::kWord2),
          Load32(payload, P::kWord3));
      break;
    case 3:
      SlotAddress<std::remove_pointer_t<NotificationCallbackData>>(callback)(userData, userValue,
                                                                             bytes + P::kData);
      break;
  }
}

}  // namespace FireWire

namespace {
using AvSetMmThreadCharacteristicsWProc = HANDLE(WINAPI*)(LPCWSTR taskName, LPDWORD taskIndex);
using AvSetMmThreadPriorityProc = BOOL(WINAPI*)(HANDLE avrtHandle, int priority);
constexpr int kAvrtPriorityCritical = 2;  // AVRT_PRIORITY_CRITICAL

template <typename F>
F ProcAs(FARPROC proc) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}
}  // namespace

void EnableProAudioThreadPriority() {
  // Loaded on the first call only, kept for the life of the process; a
  // failed load is not tried again.
  static HMODULE avrt = LoadLibraryW(L"avrt.dll");
  if (avrt == nullptr) return;
  auto characteristics = ProcAs<AvSetMmThreadCharacteristicsWProc>(
      GetProcAddress(avrt, "AvSetMmThreadCharacteristicsW"));
  auto priority = ProcAs<AvSetMmThreadPriorityProc>(GetProcAddress(avrt, "AvSetMmThreadPriority"));
  if (characteristics == nullptr) return;
  DWORD taskIndex = 0;
  HANDLE task = characteristics(L"Pro Audio", &taskIndex);
  if (task != nullptr && priority != nullptr) priority(task, kAvrtPriorityCritical);
}
