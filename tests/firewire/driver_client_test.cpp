// The driver client: listeners sharing one registration, notifications
// handed on to them, and the order of things at process exit.
#include "FireWireTestSupport.h"

#include "Glue/ConfigClasses.h"
#include "firewire/DriverFormats.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <future>
#include <memory>
#include <string>

namespace {

using FireWire::AddressSlot;
using FireWire::Load64;

// The error records the client hands to the driver, as the driver sees them.
struct SeenRecord {
  std::uint32_t api;
  std::string file;
  int line;
};

class ClientTest : public fwtest::DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    driver.SetApiHook([this](std::uint32_t api, const unsigned char* block) {
      if (block == nullptr) return;
      auto* error = FireWire::SlotAddress<FWCnslError>(Load64(block, 0));
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back({api, error->file, error->line});
    });
  }
  void TearDown() override {
    EXPECT_TRUE(Client().listeners.empty());
    EXPECT_EQ(Client().cookie, 0u);
    DriverFixture::TearDown();
  }

  static AudioDriverClient& Client() { return AudioDriverClient::Instance(); }

  std::vector<SeenRecord> Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

  // Read under the client lock: the notification thread writes them.
  static std::pair<std::uint32_t, bool> Bits(const DriverListener& listener) {
    AudioDriverClient::WithMutexLocked lock;
    return {listener.eventBits, listener.signalled};
  }

  std::mutex mutex_;
  std::vector<SeenRecord> seen_;
};

TEST_F(ClientTest, TheFirstListenerWithoutADriverGetsCookieZeroAndStaysOut) {
  driver.SetPresent(false);
  {
    DriverListener listener(1, 1);
    EXPECT_EQ(listener.cookie, 0u);
    EXPECT_EQ(Client().cookie, 0u);
    EXPECT_TRUE(Client().listeners.empty());
  }
  EXPECT_EQ(driver.RequestCount(), 0u);
}

TEST_F(ClientTest, TheFirstListenerRegistersTheClientsCallbackWithItsMask) {
  auto listener = std::make_unique<DriverListener>(0x11, 1);
  ASSERT_EQ(listener->cookie, sim::SimFireWireDriver::kFirstCookie);
  EXPECT_EQ(Client().cookie, listener->cookie);
  EXPECT_THAT(Client().listeners, ::testing::ElementsAre(listener.get()));
  auto registrations = driver.Registrations();
  ASSERT_EQ(registrations.size(), 1u);
  EXPECT_EQ(registrations[0].mask, 0x11u);
  EXPECT_EQ(registrations[0].callback, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(
                                           &AudioDriverClient::NotificationCallback)));
  EXPECT_EQ(registrations[0].userData, AddressSlot(&Client()));
  EXPECT_EQ(registrations[0].third, 0u);
  auto seen = Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].api, 6u);
  EXPECT_EQ(seen[0].file, "..\\..\\..\\Glue\\ConfigClasses");
  EXPECT_EQ(seen[0].line, 64);
}

TEST_F(ClientTest, ListenersShareOneRegistrationAndTheLastOneUnregistersOnce) {
  auto first = std::make_unique<DriverListener>(1, 1);
  auto second = std::make_unique<DriverListener>(0x80, 1);  // its mask is not used
  auto third = std::make_unique<DriverListener>(1, 1);
  std::uint32_t cookie = first->cookie;
  ASSERT_NE(cookie, 0u);
  EXPECT_EQ(second->cookie, cookie);
  EXPECT_EQ(third->cookie, cookie);
  EXPECT_EQ(driver.ApiCalls(ClientModeApiRegisterCallback), 1u);
  EXPECT_THAT(Client().listeners, ::testing::ElementsAre(first.get(), second.get(), third.get()));

  second.reset();
  EXPECT_THAT(Client().listeners, ::testing::ElementsAre(first.get(), third.get()));
  first.reset();
  EXPECT_EQ(driver.ApiCalls(ClientModeApiUnregisterCallback), 0u);
  EXPECT_EQ(Client().cookie, cookie);

  third.reset();
  EXPECT_EQ(driver.ApiCalls(ClientModeApiUnregisterCallback), 1u);
  EXPECT_EQ(Client().cookie, 0u);
  EXPECT_TRUE(driver.Registrations().empty());
  auto seen = Seen();
  ASSERT_EQ(seen.back().api, 7u);
  EXPECT_EQ(seen.back().line, 90);
  EXPECT_EQ(seen.back().file, "..\\..\\..\\Glue\\ConfigClasses");
  for (const auto& r : driver.Requests()) {
    if (r.api == ClientModeApiUnregisterCallback) {
      EXPECT_EQ(FireWire::Load32(r.block.data(), 0x08), cookie);
    }
  }
}

TEST_F(ClientTest, AFailedUnregistrationStillClearsTheCookie) {
  auto listener = std::make_unique<DriverListener>(1, 1);
  ASSERT_NE(listener->cookie, 0u);
  driver.SetApiError(ClientModeApiUnregisterCallback, 5, "cannot unregister");
  EXPECT_NO_THROW(listener.reset());
  EXPECT_EQ(Client().cookie, 0u);
  EXPECT_EQ(driver.ApiCalls(ClientModeApiUnregisterCallback), 1u);
}

TEST_F(ClientTest, RenewingTheListenerKeepsTheRegistrationWithoutADriverCall) {
  auto old = std::make_unique<DriverListener>(1, 1);
  std::uint32_t cookie = old->cookie;
  ASSERT_NE(cookie, 0u);
  driver.ClearRequests();
  auto renewed = std::make_unique<DriverListener>(1, 1);
  old.reset();
  EXPECT_EQ(renewed->cookie, cookie);
  EXPECT_EQ(Client().cookie, cookie);
  EXPECT_EQ(driver.RequestCount(), 0u);
}

struct FailedJoin {
  const char* name;
  std::function<void(sim::SimFireWireDriver&)> arrange;
  int expectedApiCalls;  // version checks and registrations the driver saw
};

TEST_F(ClientTest, AFailedJoinLeavesTheListenerOutAndItsDeletionCallsNothing) {
  const FailedJoin cases[] = {
      {"connect answers 0", [](sim::SimFireWireDriver& d) { d.SetConnectResult(0); }, 0},
      {"version refused", [](sim::SimFireWireDriver& d) { d.SetVersionAnswer(7); }, 1},
      {"registration error",
       [](sim::SimFireWireDriver& d) {
         d.SetApiError(ClientModeApiRegisterCallback, 9, "no more registrations", 0x77);
       },
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange(driver);
    driver.ClearRequests();
    auto listener = std::make_unique<DriverListener>(1, 1);
    EXPECT_EQ(listener->cookie, 0u);
    EXPECT_EQ(Client().cookie, 0u);
    EXPECT_TRUE(Client().listeners.empty());
    std::size_t calls = 0;
    for (const auto& r : driver.Requests()) calls += r.driverFunction == DriverFunctionCallApi;
    EXPECT_EQ(calls, static_cast<std::size_t>(c.expectedApiCalls));
    driver.ClearRequests();
    listener.reset();
    EXPECT_EQ(driver.ApiCalls(ClientModeApiUnregisterCallback), 0u);
    // Reset the knobs for the next case.
    ClientModeApi_ReleaseSession();
    driver.SetConnectResult(1);
    driver.SetVersionAnswer(0);
    driver.ClearApiErrors();
  }
}

// A driver that refuses the version while it delivers, at connect, a
// notification for the client: the notification thread waits for the client
// lock that the join holds, and the refused session can only be released
// once the thread has ended. The join must still return, failed.
class RefusedJoin : public ClientTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RefusedJoin, ReturnsWhileTheRefusedSessionsThreadWaitsForTheClient) {
  const bool asApc = GetParam();
  auto payload = sim::SimFireWireDriver::MakePayload(
      static_cast<std::uint64_t>(
          reinterpret_cast<std::uintptr_t>(&AudioDriverClient::NotificationCallback)),
      AddressSlot(&Client()), 1);
  if (asApc) {
    driver.SetApcAtConnect(1, payload);
  } else {
    driver.SetRingAtConnect(1, payload);
  }
  driver.SetVersionAnswer(7);
  // The version check comes late, so the notification is dispatched first.
  driver.SetApiHook([](std::uint32_t api, const unsigned char*) {
    if (api == ClientModeApiVersionCheck)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
  });

  std::unique_ptr<DriverListener> listener;
  std::promise<void> joined;
  std::thread join([&] {
    listener = std::make_unique<DriverListener>(1, 1);
    joined.set_value();
  });
  if (joined.get_future().wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    // Nothing can free the window thread now; end here, not at ctest's limit.
    std::fprintf(stderr, "the join never returned\n");
    std::abort();
  }
  join.join();
  EXPECT_EQ(listener->cookie, 0u);
  EXPECT_EQ(Client().cookie, 0u);
  EXPECT_TRUE(Client().listeners.empty());
  EXPECT_EQ(driver.ApiCalls(ClientModeApiRegisterCallback), 0u);
  listener.reset();

  // Nothing of the refused session is kept: the next join starts again.
  driver.SetVersionAnswer(0);
  driver.SetApiHook(nullptr);
  auto next = std::make_unique<DriverListener>(1, 1);
  EXPECT_NE(next->cookie, 0u);
}

INSTANTIATE_TEST_SUITE_P(RingOrApc, RefusedJoin, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Apc" : "Ring";
                         });

TEST_F(ClientTest, EventWordsAccumulateInAListenerWithoutACallback) {
  auto listener = std::make_unique<DriverListener>(1, 1);
  ASSERT_NE(listener->cookie, 0u);
  EXPECT_EQ(Bits(*listener), std::make_pair(0u, false));

  ASSERT_EQ(driver.NotifyRegistrations(1), 1u);
  ASSERT_TRUE(driver.WaitRingDrained());
  EXPECT_EQ(Bits(*listener), std::make_pair(1u, true));
  ASSERT_EQ(driver.NotifyRegistrations(4, 0, 0, /*asApc=*/true), 1u);
  ASSERT_TRUE(fwtest::WaitFor([&] { return Bits(*listener).first == 5u; }));
  ASSERT_EQ(driver.NotifyRegistrations(0), 1u);
  ASSERT_TRUE(driver.WaitRingDrained());
  EXPECT_EQ(Bits(*listener), std::make_pair(5u, true));
}

struct CallbackLog {
  int calls = 0;
  std::uint32_t userValue = 0, event = 0, word4 = 0, word5 = 0;
};

void ListenerCallback(void* userData, std::uint32_t userValue, std::uint32_t event,
                      std::uint32_t word4, std::uint32_t word5) {
  auto* log = static_cast<CallbackLog*>(userData);
  ++log->calls;
  log->userValue = userValue;
  log->event = event;
  log->word4 = word4;
  log->word5 = word5;
}

TEST_F(ClientTest, ANotificationReachesEachListenerByItsCallbackOrItsBits) {
  CallbackLog log;
  auto withCallback = std::make_unique<DriverListener>(1, 1);
  auto callbackOnly = std::make_unique<DriverListener>(1, 1);
  auto plain = std::make_unique<DriverListener>(1, 1);
  {
    AudioDriverClient::WithMutexLocked lock;
    withCallback->callback = &ListenerCallback;
    withCallback->userData = &log;
    withCallback->userValue = 0x5A;
    callbackOnly->callback = &ListenerCallback;  // no user data: it accumulates
  }
  ASSERT_EQ(driver.NotifyRegistrations(2, 0x44, 0x55), 1u);
  ASSERT_TRUE(driver.WaitRingDrained());
  {
    AudioDriverClient::WithMutexLocked lock;
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.userValue, 0x5Au);
    EXPECT_EQ(log.event, 2u);
    EXPECT_EQ(log.word4, 0x44u);
    EXPECT_EQ(log.word5, 0x55u);
  }
  EXPECT_EQ(Bits(*withCallback), std::make_pair(0u, false));
  EXPECT_EQ(Bits(*callbackOnly), std::make_pair(2u, true));
  EXPECT_EQ(Bits(*plain), std::make_pair(2u, true));

  // Without the client as user data nothing is touched.
  AudioDriverClient::NotificationCallback(nullptr, 0, 8, 0, 0);
  EXPECT_EQ(Bits(*plain), std::make_pair(2u, true));
  EXPECT_EQ(log.calls, 1);
}

TEST_F(ClientTest, RemovingAListenerThatIsNotInTheListChangesNothing) {
  auto member = std::make_unique<DriverListener>(1, 1);
  std::uint32_t cookie = member->cookie;
  driver.ClearRequests();
  DriverListener* stranger = reinterpret_cast<DriverListener*>(&cookie);
  Client().RemoveListener(stranger);
  EXPECT_EQ(Client().cookie, cookie);
  EXPECT_EQ(Client().listeners.size(), 1u);
  EXPECT_EQ(driver.RequestCount(), 0u);
}

// At exit the client releases the session while the driver is still sending
// notifications; the notification thread must find the client lock and the
// client alive until it has ended.
// The exit comes from a thread that has made platform calls, whose
// per-thread state goes before the exit handlers run.
TEST(ClientExit, TheClientAndItsLocksGoAtExitWithoutAUseAfterFree) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // Every wait here ends in an answer, so none is shrunk.
        // Both outlive the exit handlers, as static objects made earlier would.
        static auto* driver = new sim::SimFireWireDriver;
        static auto* listener = new DriverListener(1, 1);
        if (listener->cookie == 0) std::_Exit(3);
        // A slow listener keeps the notification thread inside the client
        // lock most of the time, also when exit begins.
        static auto* slow = new DriverListener(1, 1);
        {
          AudioDriverClient::WithMutexLocked lock;
          slow->userData = slow;
          slow->callback = [](void*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          };
        }
        std::thread([] {
          for (;;) {
            driver->NotifyRegistrations(1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
          }
        }).detach();
        // Exit begins once the notifications flow.
        if (!fwtest::WaitFor([] {
              AudioDriverClient::WithMutexLocked lock;
              return listener->signalled;
            })) {
          std::_Exit(4);
        }
        // The listener stays in the list, as if its owner never let it go.
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
