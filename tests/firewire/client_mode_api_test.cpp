// The client-mode API: the process-wide session made on first use, its
// version check, the argument blocks, the API lock and the error records.
#include "FireWireTestSupport.h"

#include "firewire/DriverFormats.h"

#include <gmock/gmock.h>

#include <functional>
#include <string>
#include <thread>
#include <type_traits>

namespace {

using FireWire::AddressSlot;
using FireWire::Load32;
using FireWire::Load64;

using ApiTest = fwtest::DriverFixture;

constexpr std::uint64_t kUnitId = 0x0001F200AABBCCDDull;

std::shared_ptr<sim::SimFireWireUnit> AddUnit(sim::SimFireWireDriver& driver) {
  auto unit = std::make_shared<sim::SimFireWireUnit>(kUnitId, u"Varn Unit 22", 22);
  driver.AddUnit(unit);
  return unit;
}

// Every entry point, called with an error record and harmless arguments.
struct EntryPoint {
  const char* name;
  std::function<std::uint32_t(FWCnslError*)> call;
};

std::vector<EntryPoint> AllEntryPoints() {
  static std::uint64_t output;
  static std::uint16_t name[255];
  return {
      {"Function4", [](FWCnslError* e) { return ClientModeApi_Function4(e, kUnitId); }},
      {"RegisterCallback",
       [](FWCnslError* e) { return ClientModeApi_RegisterCallback(e, 1, 0x1234, 0x5678, 0); }},
      {"UnregisterCallback", [](FWCnslError* e) { return ClientModeApi_UnregisterCallback(e, 1); }},
      {"GetDeviceId",
       [](FWCnslError* e) { return ClientModeApi_GetDeviceId(e, AddressSlot(&output), 8, 0); }},
      {"Function17", [](FWCnslError* e) { return ClientModeApi_Function17(e, kUnitId); }},
      {"Function18", [](FWCnslError* e) { return ClientModeApi_Function18(e, kUnitId); }},
      {"GetDeviceName",
       [](FWCnslError* e) {
         return ClientModeApi_GetDeviceName(e, kUnitId, 0, AddressSlot(name), 510);
       }},
      {"ReadRegister", [](FWCnslError* e) { return ClientModeApi_ReadRegister(e, kUnitId, 4); }},
      {"WriteRegister",
       [](FWCnslError* e) { return ClientModeApi_WriteRegister(e, kUnitId, 4, 5); }},
      {"GetModelCode", [](FWCnslError* e) { return ClientModeApi_GetModelCode(e, kUnitId); }},
      {"OpenAndRegisterCallback",
       [](FWCnslError* e) {
         return ClientModeApi_OpenAndRegisterCallback(e, 1, 0x1234, 0x5678, 0);
       }},
  };
}

TEST_F(ApiTest, WithoutTheDriverEveryEntryPointAnswersZeroWithCode15AndTriesAgain) {
  driver.SetPresent(false);
  AddUnit(driver);
  std::size_t opens = 0;
  for (const auto& entry : AllEntryPoints()) {
    SCOPED_TRACE(entry.name);
    FWCnslError error("caller.cpp", 12);
    std::strcpy(error.text, "stale");
    EXPECT_EQ(entry.call(&error), 0u);
    EXPECT_EQ(error.code, 15);
    EXPECT_STREQ(error.text, "");
    EXPECT_STREQ(error.file, "caller.cpp");
    EXPECT_EQ(error.line, 12);
    EXPECT_EQ(driver.OpenAttempts(), ++opens);  // the device is opened again each time
  }
  EXPECT_EQ(driver.RequestCount(), 0u);

  driver.SetPresent(true);
  FWCnslError error("caller.cpp", 30);
  EXPECT_EQ(ClientModeApi_GetModelCode(&error, kUnitId), 22u);
  EXPECT_EQ(error.code, 0);
}

TEST_F(ApiTest, TheFirstCallMakesAndChecksTheSessionAndLaterCallsReuseIt) {
  AddUnit(driver);
  FWCnslError error("caller.cpp", 1);
  EXPECT_EQ(ClientModeApi_Function4(&error, kUnitId), 5u);
  EXPECT_EQ(ClientModeApi_Function17(&error, kUnitId), 1u);
  EXPECT_EQ(error.code, 0);
  auto requests = driver.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].driverFunction, DriverFunctionConnect);
  EXPECT_EQ(requests[1].driverFunction, DriverFunctionCallApi);
  EXPECT_EQ(requests[1].api, 0u);
  EXPECT_EQ(requests[1].argument, 26u);
  EXPECT_EQ(requests[2].api, 4u);
  EXPECT_EQ(requests[3].api, 17u);
  EXPECT_EQ(driver.OpenAttempts(), 1u);

  ClientModeApi_ReleaseSession();
  EXPECT_FALSE(driver.Connected());
  EXPECT_EQ(driver.Requests().back().driverFunction, DriverFunctionDisconnect);
}

TEST_F(ApiTest, ARefusedVersionAnswersZeroWithTheDriversCodeAndLeavesNoSession) {
  AddUnit(driver);
  driver.SetVersionAnswer(7);
  FWCnslError error("caller.cpp", 1);
  std::strcpy(error.text, "stale");
  EXPECT_EQ(ClientModeApi_ReadRegister(&error, kUnitId, 0), 0u);
  EXPECT_EQ(error.code, 7);
  EXPECT_STREQ(error.text, "");
  EXPECT_FALSE(driver.Connected());
  EXPECT_EQ(driver.ApiCalls(ClientModeApiReadRegister), 0u);

  driver.SetVersionAnswer(0);
  FWCnslError again("caller.cpp", 2);
  EXPECT_EQ(ClientModeApi_GetModelCode(&again, kUnitId), 22u);
  EXPECT_EQ(again.code, 0);
  EXPECT_EQ(driver.OpenAttempts(), 2u);
}

TEST_F(ApiTest, TheDriverWritesItsErrorIntoTheCallersRecordInPlace) {
  AddUnit(driver);
  driver.SetApiError(ClientModeApiReadRegister, 0x33, "register read failed", 0xDEAD);
  FWCnslError error("caller.cpp", 1);
  EXPECT_EQ(ClientModeApi_ReadRegister(&error, kUnitId, 0x10), 0xDEADu);
  EXPECT_EQ(error.code, 0x33);
  EXPECT_STREQ(error.text, "register read failed");
  EXPECT_STREQ(error.file, "caller.cpp");
}

// Where each entry point puts its parameters in its block.
struct Slot {
  std::size_t offset;
  int width;  // 4 or 8
  std::uint64_t value;
};

struct BlockCase {
  const char* name;
  std::uint32_t api;
  std::function<void(FWCnslError*)> call;
  std::vector<Slot> slots;
};

TEST_F(ApiTest, EachEntryPointBuildsItsBlockAtTheGivenOffsets) {
  AddUnit(driver);
  FWCnslError warmup("caller.cpp", 0);
  ClientModeApi_Function18(&warmup, kUnitId);  // the session is there from now on

  alignas(8) static std::uint64_t output;
  alignas(8) static std::uint16_t name[255];
  const std::uint64_t outputAddress = AddressSlot(&output);
  const std::uint64_t nameAddress = AddressSlot(name);
  const BlockCase cases[] = {
      {"4", 4, [](FWCnslError* e) { ClientModeApi_Function4(e, kUnitId); }, {{0x08, 8, kUnitId}}},
      {"6",
       6,
       [](FWCnslError* e) {
         ClientModeApi_RegisterCallback(e, 0x81, 0x1122334455667788ull, 0x99AABBCCDDEEFF00ull, 0);
       },
       {{0x08, 4, 0x81},
        {0x0C, 8, 0x1122334455667788ull},
        {0x14, 8, 0x99AABBCCDDEEFF00ull},
        {0x1C, 8, 0}}},
      {"7",
       7,
       [](FWCnslError* e) { ClientModeApi_UnregisterCallback(e, 0x1001); },
       {{0x08, 4, 0x1001}}},
      {"15",
       15,
       [&](FWCnslError* e) { ClientModeApi_GetDeviceId(e, outputAddress, 8, 3); },
       {{0x08, 8, outputAddress}, {0x10, 4, 8}, {0x14, 4, 3}}},
      {"17",
       17,
       [](FWCnslError* e) { ClientModeApi_Function17(e, kUnitId); },
       {{0x08, 8, kUnitId}}},
      {"18",
       18,
       [](FWCnslError* e) { ClientModeApi_Function18(e, kUnitId); },
       {{0x08, 8, kUnitId}}},
      {"19",
       19,
       [&](FWCnslError* e) { ClientModeApi_GetDeviceName(e, kUnitId, 0, nameAddress, 510); },
       {{0x08, 8, kUnitId}, {0x10, 4, 0}, {0x14, 8, nameAddress}, {0x1C, 4, 510}}},
      {"134",
       134,
       [](FWCnslError* e) { ClientModeApi_ReadRegister(e, kUnitId, 0x40); },
       {{0x08, 8, kUnitId}, {0x10, 4, 0x40}}},
      {"135",
       135,
       [](FWCnslError* e) { ClientModeApi_WriteRegister(e, kUnitId, 0x44, 0xCAFE); },
       {{0x08, 8, kUnitId}, {0x10, 4, 0x44}, {0x14, 4, 0xCAFE}}},
      {"160",
       160,
       [](FWCnslError* e) { ClientModeApi_GetModelCode(e, kUnitId); },
       {{0x08, 8, kUnitId}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    driver.ClearRequests();
    FWCnslError error("caller.cpp", 1);
    c.call(&error);
    auto requests = driver.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.api, c.api);
    EXPECT_EQ(r.argument % 8, 0u);  // the block is 8-aligned
    ASSERT_EQ(r.block.size(), ClientModeApiArgs::kBlockSize);
    EXPECT_EQ(Load64(r.block.data(), 0x00), AddressSlot(&error));
    std::vector<bool> covered(r.block.size(), false);
    for (int i = 0; i < 8; ++i) covered[i] = true;
    for (const auto& s : c.slots) {
      if (s.width == 8) {
        EXPECT_EQ(Load64(r.block.data(), s.offset), s.value) << "at " << s.offset;
      } else {
        EXPECT_EQ(Load32(r.block.data(), s.offset), s.value) << "at " << s.offset;
      }
      for (int i = 0; i < s.width; ++i) covered[s.offset + i] = true;
    }
    for (std::size_t b = 0; b < covered.size(); ++b) {
      if (!covered[b]) {
        EXPECT_EQ(r.block[b], 0) << "byte " << b;
      }
    }
  }
}

TEST_F(ApiTest, TheSimulatedUnitAnswersIdsNamesAttributesAndRegisters) {
  auto unit = AddUnit(driver);
  unit->attribute18 = 3;
  FWCnslError error("caller.cpp", 1);
  std::uint64_t id = 1;
  ClientModeApi_GetDeviceId(&error, AddressSlot(&id), 8, 0);
  EXPECT_EQ(id, kUnitId);
  ClientModeApi_GetDeviceId(&error, AddressSlot(&id), 8, 1);
  EXPECT_EQ(id, 0u);  // no unit at that index
  EXPECT_EQ(ClientModeApi_Function18(&error, kUnitId), 3u);

  std::uint16_t name[255];
  std::memset(name, 0xFF, sizeof name);
  ClientModeApi_GetDeviceName(&error, kUnitId, 0, AddressSlot(name), 510);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name)), u"Varn Unit 22");

  ClientModeApi_WriteRegister(&error, kUnitId, 0x20, 0x12345678);
  EXPECT_EQ(ClientModeApi_ReadRegister(&error, kUnitId, 0x20), 0x12345678u);
  EXPECT_EQ(unit->Register(0x20), 0x12345678u);
  unit->readHook = [](std::uint32_t address) { return address + 1; };
  EXPECT_EQ(ClientModeApi_ReadRegister(&error, kUnitId, 0x20), 0x21u);
  EXPECT_EQ(error.code, 0);

  EXPECT_EQ(ClientModeApi_GetModelCode(&error, 0x999), 0u);
  EXPECT_EQ(error.code, sim::SimFireWireDriver::kUnknownDevice);
}

TEST_F(ApiTest, OpenAndRegisterMakesTheSessionAndRegistersInOneHoldOfTheLock) {
  AddUnit(driver);
  std::thread other;
  // While the version check is in the driver, another thread calls the API:
  // it must wait until the registration is done.
  driver.SetApiHook([&](std::uint32_t api, const unsigned char*) {
    if (api != ClientModeApiVersionCheck) return;
    other = std::thread([] {
      FWCnslError error("other.cpp", 1);
      ClientModeApi_Function4(&error, kUnitId);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  });
  FWCnslError error("caller.cpp", 1);
  std::uint32_t cookie = ClientModeApi_OpenAndRegisterCallback(&error, 1, 0xAB, 0xCD, 0);
  if (other.joinable()) other.join();  // not started when the version check never came
  driver.SetApiHook(nullptr);
  EXPECT_EQ(error.code, 0);
  EXPECT_EQ(cookie, sim::SimFireWireDriver::kFirstCookie);

  std::vector<std::uint32_t> apis;
  for (const auto& r : driver.Requests()) {
    if (r.driverFunction == DriverFunctionCallApi) apis.push_back(r.api);
  }
  EXPECT_THAT(apis, ::testing::ElementsAre(0u, 6u, 4u));
  auto registrations = driver.Registrations();
  ASSERT_EQ(registrations.size(), 1u);
  EXPECT_EQ(registrations[0].callback, 0xABu);
  EXPECT_EQ(registrations[0].userData, 0xCDu);
}

TEST(FWCnslErrorTest, ThrowIfErrorThrowsItsOwnTypeWithACopyOfTheRecord) {
  static_assert(!std::is_base_of_v<FWCnslError, FWCnslException>);
  FWCnslError ok("ok.cpp", 3);
  EXPECT_STREQ(ok.text, "");
  EXPECT_EQ(ok.code, 0);
  EXPECT_NO_THROW(ok.ThrowIfError());

  FWCnslError failed("..\\Glue\\Somewhere", 77);
  failed.code = 9;
  std::strcpy(failed.text, "the driver said no");
  // A handler for the record itself does not catch the exception.
  auto throwPastErrorHandler = [&] {
    try {
      failed.ThrowIfError();
    } catch (const FWCnslError&) {
      ADD_FAILURE() << "caught as FWCnslError";
    }
  };
  try {
    throwPastErrorHandler();
    ADD_FAILURE() << "nothing thrown";
  } catch (const FWCnslException& e) {
    EXPECT_STREQ(e.text, "the driver said no");
    EXPECT_EQ(e.code, 9);
    EXPECT_STREQ(e.file, "..\\Glue\\Somewhere");
    EXPECT_EQ(e.line, 77);
  }
}

}  // namespace
