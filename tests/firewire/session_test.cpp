// The driver handle and the session: what goes to the driver, the shared
// header, the notification thread, the ring and the dispatch by code.
#include "FireWireTestSupport.h"

#include "firewire/ClientModeApiSession.h"
#include "firewire/DriverFormats.h"
#include "firewire/DriverHandle.h"

#include <platform/host/providers.h>

#include <gmock/gmock.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using FireWire::AddressSlot;
using FireWire::Audio_ClientModeApiSession;
using FireWire::Load32;
using FireWire::Load64;
using FireWire::Store32;
using FireWire::Store64;
namespace H = ClientModeApiHeader;

// What a notification callback was called with.
struct Call {
  int arity = 0;
  void* userData = nullptr;
  std::uint32_t userValue = 0;
  std::uint32_t a = 0, b = 0, c = 0;
  const void* address = nullptr;
  DWORD threadId = 0;
  bool operator==(const Call&) const = default;
};

struct Recorder {
  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }
  void Add(Call call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(call);
  }
  std::mutex mutex;
  std::vector<Call> calls;
};

void Words(void* userData, std::uint32_t userValue, std::uint32_t a, std::uint32_t b,
           std::uint32_t c) {
  static_cast<Recorder*>(userData)->Add(
      {5, userData, userValue, a, b, c, nullptr, GetCurrentThreadId()});
}
void Block(void* userData, std::uint32_t userValue, const void* block, std::uint32_t a,
           std::uint32_t b) {
  static_cast<Recorder*>(userData)->Add(
      {5, userData, userValue, a, b, 0, block, GetCurrentThreadId()});
}
void Data(void* userData, std::uint32_t userValue, const void* data) {
  static_cast<Recorder*>(userData)->Add(
      {3, userData, userValue, 0, 0, 0, data, GetCurrentThreadId()});
}

template <typename F>
std::uint64_t Fn(F f) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(f));
}

HANDLE ThreadOf(const Audio_ClientModeApiSession& s) {
  return FireWire::SlotAddress<void>(Load64(s.Header(), H::kThreadHandle));
}

HANDLE EventOf(const Audio_ClientModeApiSession& s) {
  return FireWire::SlotAddress<void>(Load64(s.Header(), H::kEventHandle));
}

// True once the notification thread is blocked in its wait with the event
// not signalled: only then may a test set the ring's indices, since the
// thread reads the two one after the other while it drains.
bool ThreadIdle(const Audio_ClientModeApiSession& s) {
  HANDLE event = EventOf(s);
  return fwtest::WaitFor([&] { return platform::host::WaitingThreads(event) == 1; });
}

using SessionTest = fwtest::DriverFixture;

TEST(DriverIoctl, CodesOfTheThreeFunctions) {
  EXPECT_EQ(DriverIoctlCode(DriverFunctionConnect), 0x222007u);
  EXPECT_EQ(DriverIoctlCode(DriverFunctionDisconnect), 0x22200Bu);
  EXPECT_EQ(DriverIoctlCode(DriverFunctionCallApi), 0x22200Fu);
}

TEST_F(SessionTest, EveryRequestIsOneFreshRecordWithHeaderArgumentAndFunction) {
  alignas(8) unsigned char block[ClientModeApiArgs::kBlockSize] = {};
  const void* header = nullptr;
  {
    Audio_ClientModeApiSession session;
    ASSERT_FALSE(session.IsNotConnected());
    header = session.Header();
    EXPECT_EQ(session.CallApi(ClientModeApiVersionCheck, kClientModeApiVersion), 0u);
    session.CallApi(ClientModeApiReadRegister, AddressSlot(block));
  }
  struct Expected {
    DWORD code;
    std::uint64_t argument;
    std::uint32_t function;
  };
  const Expected expected[] = {
      {0x222007, 0xBBBB, 0},                // connect
      {0x22200F, 26, 0},                    // the version check carries 26 itself
      {0x22200F, AddressSlot(block), 134},  // an API call carries its block
      {0x22200B, 0, 0},                     // disconnect
  };
  auto requests = driver.Requests();
  ASSERT_EQ(requests.size(), std::size(expected));
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& r = requests[i];
    EXPECT_EQ(r.ioctlCode, expected[i].code);
    EXPECT_EQ(r.inSize, 302u);
    EXPECT_EQ(r.outSize, 4u);
    ASSERT_EQ(r.record.size(), 302u);
    EXPECT_EQ(Load64(r.record.data(), 0x00), AddressSlot(header));
    EXPECT_EQ(Load64(r.record.data(), 0x08), expected[i].argument);
    EXPECT_EQ(Load32(r.record.data(), 0x20), expected[i].function);
    for (std::size_t b = 0x10; b < 302; ++b) {
      if (b >= 0x20 && b < 0x24) continue;
      ASSERT_EQ(r.record[b], 0) << "byte " << b;
    }
  }
}

TEST_F(SessionTest, HeaderCarriesMagicsSizesAndAddresses) {
  Audio_ClientModeApiSession session;
  ASSERT_FALSE(session.IsNotConnected());
  const unsigned char* h = session.Header();
  EXPECT_EQ(Load32(h, 0x00), 0x5641524Eu);
  EXPECT_EQ(Load32(h, 0x04), 96u);
  EXPECT_EQ(Load32(h, 0x08), 1u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(h[0x5C + i], h[3 - i]);
  EXPECT_EQ(Load64(h, 0x44), AddressSlot(h));
  EXPECT_EQ(Load64(h, 0x4C), AddressSlot(&session));
  EXPECT_EQ(Load64(h, 0x1C), Fn(&FireWire::ClientModeApiSession::ApcDispatch));
  EXPECT_NE(Load64(h, 0x0C), 0u);  // the DriverHandle
  EXPECT_NE(Load64(h, 0x14), 0u);  // the thread
  EXPECT_NE(Load64(h, 0x24), 0u);  // the event
  EXPECT_EQ(Load64(h, 0x2C), AddressSlot(driver.Ring()));
  for (std::size_t b = 0x34; b < 0x44; ++b) EXPECT_EQ(h[b], 0) << b;
  for (std::size_t b = 0x54; b < 0x5C; ++b) EXPECT_EQ(h[b], 0) << b;
}

TEST_F(SessionTest, WithoutTheDriverConstructionReturnsAtOnceAndNothingIsSent) {
  driver.SetPresent(false);  // the fixture's 1000 ms wait is real: it would show
  auto start = std::chrono::steady_clock::now();
  {
    Audio_ClientModeApiSession session;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(session.IsNotConnected());
    EXPECT_EQ(Load64(session.Header(), H::kThreadHandle), 0u);
    EXPECT_EQ(Load64(session.Header(), H::kEventHandle), 0u);
    EXPECT_EQ(session.CallApi(ClientModeApiVersionCheck, kClientModeApiVersion), 0u);
  }
  EXPECT_EQ(driver.OpenAttempts(), 1u);
  EXPECT_EQ(driver.RequestCount(), 0u);
}

TEST(DriverHandleTest, InvalidHandleSendsNothingAndAnswersZero) {
  DriverHandle handle;
  handle.Open(L"NoSuchDriverHere");
  EXPECT_EQ(handle.handle, INVALID_HANDLE_VALUE);
  std::uint32_t result = 7;
  DWORD bytes = 0;
  EXPECT_EQ(handle.Ioctl(DriverFunctionConnect, nullptr, 0, &result, 4, &bytes, nullptr), 0);
  EXPECT_EQ(result, 7u);
}

TEST_F(SessionTest, ConnectAnsweringZeroLeavesTheSessionNotConnected) {
  driver.SetConnectResult(0);
  {
    Audio_ClientModeApiSession session;
    EXPECT_TRUE(session.IsNotConnected());
    EXPECT_EQ(WaitForSingleObject(ThreadOf(session), 5000),
              WAIT_OBJECT_0);  // ended after its pulse
  }
  auto requests = driver.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].ioctlCode, 0x22200Bu);  // disconnect on every path
}

// A driver may signal the event (for ring records) while it still answers
// the connect: that wake-up is not the answer. An answer inside the 1000 ms
// connects the session; one after them does not, signal or no signal.
TEST_F(SessionTest, ASignalBeforeTheConnectAnswerIsNotTheAnswer) {
  // 50 ms of real time: far inside the full wait, and long enough that a
  // session taking the signal for the answer is seen unconnected.
  driver.SetSignalAtConnect(500);
  {
    Audio_ClientModeApiSession session;
    EXPECT_FALSE(session.IsNotConnected());
  }
  // The late answer is held until the session is checked, so load cannot
  // bring it inside the wait; only this wait, which is to run out, is
  // shrunk: its 1000 ms to 100.
  driver.SetSignalAtConnect(0);
  driver.HoldConnectAnswers(3000);
  std::unique_ptr<Audio_ClientModeApiSession> late;
  std::chrono::steady_clock::duration took{};
  {
    support::ScopedTimeScale shortWaits(0.1, 0.1);
    auto start = std::chrono::steady_clock::now();
    late = std::make_unique<Audio_ClientModeApiSession>();
    took = std::chrono::steady_clock::now() - start;
  }
  EXPECT_TRUE(late->IsNotConnected());
  // Its own wait, not the held answer (which a faulty wait would see at
  // the hold's 3000 ms bound).
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  driver.ReleaseConnectAnswers();
}

// A connect that outlasts the constructor's wait and the destructor's
// 500 ms: the destructor still waits for the thread before anything goes,
// and a late "connected" answer does not set the thread serving. Both
// waits are to run out, so their time-outs are shrunk; the answer is held
// until the destructor's wait has run out, whatever the load.
class SlowConnect : public SessionTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(SlowConnect, DestructionWaitsForTheThreadToEnd) {
  support::ScopedTimeScale shortWaits(0.1, 0.1);
  driver.SetConnectResult(GetParam());
  driver.HoldConnectAnswers();
  auto session = std::make_unique<Audio_ClientModeApiSession>();
  EXPECT_TRUE(session->IsNotConnected());
  HANDLE event = EventOf(*session);
  std::atomic<bool> answered{false};
  std::thread answer([&] {
    // Once its 500 ms are out, the destructor signals the event again and
    // again for a thread that missed its pulse: that is the moment.
    fwtest::WaitFor([&] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; });
    answered.store(true);
    driver.ReleaseConnectAnswers();
  });
  session.reset();
  EXPECT_TRUE(answered.load());  // it returned only after the thread had its answer
  answer.join();
  EXPECT_EQ(platform::host::RunningThreads(), 0u);
  auto requests = driver.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].ioctlCode, 0x222007u);
  EXPECT_EQ(requests[1].ioctlCode, 0x22200Bu);
  EXPECT_FALSE(driver.Connected());
}

INSTANTIATE_TEST_SUITE_P(AnsweringZeroOrConnected, SlowConnect, ::testing::Values(0u, 1u));

struct RingCase {
  std::uint32_t start;
  std::uint32_t count;
};

class RingDrain : public SessionTest, public ::testing::WithParamInterface<RingCase> {};

TEST_P(RingDrain, DeliversEveryRecordInSlotOrderAndWraps) {
  Recorder recorder;
  Audio_ClientModeApiSession session;
  ASSERT_FALSE(session.IsNotConnected());
  ASSERT_TRUE(ThreadIdle(session));
  driver.SetRingIndices(GetParam().start, GetParam().start);
  std::vector<std::vector<unsigned char>> payloads;
  for (std::uint32_t i = 0; i < GetParam().count; ++i) {
    payloads.push_back(sim::SimFireWireDriver::MakePayload(Fn(&Words), AddressSlot(&recorder), i,
                                                           i + 100, i + 200));
  }
  if (payloads.empty()) {
    driver.SignalEvent();
  } else {
    ASSERT_TRUE(driver.PostRingBatch(1, payloads));
  }
  // One signal for the whole batch: the client takes every record on it.
  ASSERT_TRUE(driver.WaitRingDrained(5000, /*resignal=*/false));
  auto calls = recorder.Calls();
  ASSERT_EQ(calls.size(), GetParam().count);
  for (std::uint32_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].a, i);
    EXPECT_EQ(calls[i].b, i + 100);
    EXPECT_EQ(calls[i].c, i + 200);
  }
  EXPECT_EQ(driver.ReadIndex(), (GetParam().start + GetParam().count) % 1024);
}

INSTANTIATE_TEST_SUITE_P(Cases, RingDrain,
                         ::testing::Values(RingCase{0, 0}, RingCase{0, 1}, RingCase{1023, 1},
                                           RingCase{1023, 3}, RingCase{1000, 60},
                                           RingCase{5, 1023}),
                         [](const auto& info) {
                           return "From" + std::to_string(info.param.start) + "Take" +
                                  std::to_string(info.param.count);
                         });

// A driver that takes the thread's handle when the client connects (to
// queue its APCs) finds it in the header already.
TEST_F(SessionTest, TheThreadHandleIsInTheHeaderWhenTheConnectArrives) {
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    Audio_ClientModeApiSession session;
    ASSERT_FALSE(session.IsNotConnected());
    EXPECT_NE(driver.ThreadHandleAtConnect(), 0u);
    EXPECT_EQ(driver.ThreadHandleAtConnect(), Load64(session.Header(), H::kThreadHandle));
  }
}

struct AtConnectCase {
  const char* name;
  bool ring;
  bool apc;
};

void PrintTo(const AtConnectCase& c, std::ostream* os) { *os << c.name; }

// Notifications that the driver sends while it answers the connect reach
// the session once it is built: nothing dispatches into a session whose
// construction has not finished, and the ring record, whose signal came
// before the thread waited, is taken without a further signal.
class NotificationAtConnect : public SessionTest,
                              public ::testing::WithParamInterface<AtConnectCase> {};

TEST_P(NotificationAtConnect, IsDeliveredOnceTheSessionIsBuilt) {
  Recorder recorder;
  std::vector<std::uint32_t> expected;  // the first word of each, in delivery order
  if (GetParam().ring) {
    driver.SetRingAtConnect(
        1, sim::SimFireWireDriver::MakePayload(Fn(&Words), AddressSlot(&recorder), 1));
    expected.push_back(1);
  }
  if (GetParam().apc) {
    driver.SetApcAtConnect(
        2, sim::SimFireWireDriver::MakePayload(Fn(&Words), AddressSlot(&recorder), 2));
    expected.push_back(2);
  }
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    {
      Audio_ClientModeApiSession session;
      ASSERT_FALSE(session.IsNotConnected());
      ASSERT_TRUE(fwtest::WaitFor([&] { return recorder.Calls().size() >= expected.size(); }));
      EXPECT_TRUE(driver.WaitRingDrained(5000, /*resignal=*/false));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::vector<std::uint32_t> words;
      for (const Call& call : recorder.Calls()) words.push_back(call.a);
      EXPECT_EQ(words, expected);
    }
    std::lock_guard<std::mutex> lock(recorder.mutex);
    recorder.calls.clear();
  }
}

INSTANTIATE_TEST_SUITE_P(RingOrApc, NotificationAtConnect,
                         ::testing::Values(AtConnectCase{"Ring", true, false},
                                           AtConnectCase{"Apc", false, true},
                                           AtConnectCase{"Both", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Size 0 stands for no ring at all.
class BadRing : public SessionTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(BadRing, DeliversNothingAndTheThreadEnds) {
  if (GetParam() == 0) {
    driver.SetProvideRing(false);
  } else {
    driver.SetRingSizeWord(GetParam());
  }
  Recorder recorder;
  Audio_ClientModeApiSession session;
  ASSERT_FALSE(session.IsNotConnected());
  EXPECT_EQ(WaitForSingleObject(ThreadOf(session), 5000), WAIT_OBJECT_0);
  // API calls still reach the driver: an answer only it can give comes back.
  driver.SetVersionAnswer(7);
  EXPECT_EQ(session.CallApi(ClientModeApiVersionCheck, kClientModeApiVersion), 7u);
  driver.PostRing(1, sim::SimFireWireDriver::MakePayload(Fn(&Words), AddressSlot(&recorder), 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(recorder.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(OffByOneOrMissing, BadRing, ::testing::Values(309263u, 309265u, 0u));

// Indices outside 0..1023 are the driver's fault; the client stops
// draining instead of reading past the ring, and goes on once they are sane.
class BadIndices : public SessionTest,
                   public ::testing::WithParamInterface<std::pair<std::uint32_t, std::uint32_t>> {};

TEST_P(BadIndices, StopTheDrainWithoutReadingOutsideTheRing) {
  Recorder recorder;
  Audio_ClientModeApiSession session;
  ASSERT_FALSE(session.IsNotConnected());
  auto [write, read] = GetParam();
  auto* ring = driver.Ring();
  // Fill the slot the bad read index would name if it were taken modulo 1024.
  auto payload = sim::SimFireWireDriver::MakePayload(Fn(&Words), AddressSlot(&recorder), 99);
  ASSERT_TRUE(ThreadIdle(session));
  driver.SetRingIndices(read % 1024, read % 1024);
  ASSERT_TRUE(driver.PostRing(1, payload));
  ASSERT_TRUE(driver.WaitRingDrained());
  ASSERT_EQ(recorder.Calls().size(), 1u);

  ASSERT_TRUE(ThreadIdle(session));
  driver.SetRingIndices(write, read);
  driver.SignalEvent();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(recorder.Calls().size(), 1u);
  EXPECT_EQ(driver.ReadIndex(), read);  // untouched
  EXPECT_EQ(driver.Ring(), ring);

  ASSERT_TRUE(ThreadIdle(session));
  driver.SetRingIndices(7, 7);
  ASSERT_TRUE(driver.PostRing(
      1, sim::SimFireWireDriver::MakePayload(Fn(&Words), AddressSlot(&recorder), 42)));
  ASSERT_TRUE(driver.WaitRingDrained());
  auto calls = recorder.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].a, 42u);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadIndices,
                         ::testing::Values(std::pair<std::uint32_t, std::uint32_t>{5000, 0},
                                           std::pair<std::uint32_t, std::uint32_t>{1024, 1023},
                                           std::pair<std::uint32_t, std::uint32_t>{3, 2000},
                                           std::pair<std::uint32_t, std::uint32_t>{0, 0xFFFFFFFF}),
                         [](const auto& info) {
                           return "Write" + std::to_string(info.param.first) + "Read" +
                                  std::to_string(info.param.second);
                         });

struct DispatchCase {
  std::uint32_t code;
  bool withCallback;
  int arity;  // 0: nothing is called
};

class Dispatch : public SessionTest, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(Dispatch, CallsTheCallbackInTheFormOfItsCode) {
  driver.SetPresent(false);
  Audio_ClientModeApiSession session;
  Recorder recorder;
  alignas(8) unsigned char payload[264] = {};
  std::uint32_t code = GetParam().code;
  std::uint64_t callback = 0;
  if (GetParam().withCallback) {
    callback = code == 0 ? Fn(&Block) : code == 3 ? Fn(&Data) : Fn(&Words);
  }
  Store64(payload, 0x00, callback);
  Store64(payload, 0x08, AddressSlot(&recorder));  // 64-bit user data, whole
  Store32(payload, 0x18, 0x11);
  Store32(payload, 0x1C, 0x22);
  Store32(payload, 0x20, 0x33);
  Store32(payload, 0x38, 0x44);
  Store32(payload, 0x40, 0x55);
  session.OnNotification(code, payload);

  auto calls = recorder.Calls();
  if (GetParam().arity == 0) {
    EXPECT_TRUE(calls.empty());
    return;
  }
  ASSERT_EQ(calls.size(), 1u);
  const Call& call = calls[0];
  EXPECT_EQ(call.userData, &recorder);
  EXPECT_EQ(call.userValue, Load32(payload, 0x0C));  // the high half
  EXPECT_EQ(call.arity, GetParam().arity);
  switch (code) {
    case 0:
      EXPECT_EQ(call.address, payload + 0x18);
      EXPECT_EQ(call.a, 0x44u);
      EXPECT_EQ(call.b, 0x55u);
      break;
    case 1:
    case 2:
      EXPECT_EQ(call.a, 0x11u);
      EXPECT_EQ(call.b, 0x22u);
      EXPECT_EQ(call.c, 0x33u);
      break;
    case 3:
      EXPECT_EQ(call.address, payload + 0x18);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, Dispatch,
                         ::testing::Values(DispatchCase{0, true, 5}, DispatchCase{1, true, 5},
                                           DispatchCase{2, true, 5}, DispatchCase{3, true, 3},
                                           DispatchCase{4, true, 0}, DispatchCase{5, true, 0},
                                           DispatchCase{0xFFFFFFFF, true, 0},
                                           DispatchCase{0, false, 0}, DispatchCase{1, false, 0},
                                           DispatchCase{3, false, 0}),
                         [](const auto& info) {
                           return "Code" + std::to_string(info.param.code) +
                                  (info.param.withCallback ? "" : "NoCallback");
                         });

TEST_F(SessionTest, AnApcRecordDeliversItsPayloadLikeARingSlot) {
  Recorder recorder;
  Audio_ClientModeApiSession session;
  ASSERT_FALSE(session.IsNotConnected());
  auto payload = sim::SimFireWireDriver::MakePayload(Fn(&Words), AddressSlot(&recorder), 7, 8, 9);
  ASSERT_TRUE(driver.PostRing(2, payload));
  ASSERT_TRUE(driver.WaitRingDrained());
  ASSERT_TRUE(driver.QueueApc(2, payload));
  ASSERT_TRUE(fwtest::WaitFor([&] { return recorder.Calls().size() == 2; }));
  auto calls = recorder.Calls();
  EXPECT_EQ(calls[0], calls[1]);
  EXPECT_EQ(calls[1].a, 7u);
  EXPECT_EQ(calls[1].c, 9u);

  // An APC with code 4 calls nothing.
  ASSERT_TRUE(driver.QueueApc(4, payload));
  ASSERT_TRUE(driver.PostRing(2, payload));
  ASSERT_TRUE(fwtest::WaitFor([&] { return recorder.Calls().size() >= 3; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(recorder.Calls().size(), 3u);
}

TEST_F(SessionTest, TheThreadServesTimeCriticalInTheProAudioTaskAndLoadsAvrtOnce) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    auto before = fwtest::FakeAvrtCalls();
    Recorder recorder;
    Audio_ClientModeApiSession session;
    ASSERT_FALSE(session.IsNotConnected());
    ASSERT_TRUE(driver.PostRing(
        1, sim::SimFireWireDriver::MakePayload(Fn(&Words), AddressSlot(&recorder))));
    ASSERT_TRUE(driver.WaitRingDrained());
    ASSERT_EQ(recorder.Calls().size(), 1u);
    EXPECT_EQ(GetThreadPriority(ThreadOf(session)), THREAD_PRIORITY_TIME_CRITICAL);
    auto after = fwtest::FakeAvrtCalls();
    EXPECT_EQ(after.characteristics, before.characteristics + 1);
    EXPECT_EQ(after.task, L"Pro Audio");
    EXPECT_EQ(after.taskIndexIn, 0u);
    EXPECT_EQ(after.priorities, before.priorities + 1);
    EXPECT_EQ(after.priority, 2);  // AVRT_PRIORITY_CRITICAL
    EXPECT_EQ(after.threadId, recorder.Calls()[0].threadId);
    EXPECT_EQ(platform::host::LoadLibraryCalls(L"avrt.dll"), 1u);
  }
}

}  // namespace
