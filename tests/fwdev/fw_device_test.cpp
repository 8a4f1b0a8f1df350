// The FireWire device class against the simulated driver, with the simulated
// updater behind the unit's registers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "device/DeviceUtilitiesFW.h"
#include "device/UpdateStatus.h"
#include "firewire/ClientModeApi.h"
#include "sim/ImageBuilder.h"
#include "sim/SimFireWireDriver.h"
#include "sim/SimFireWireUpdater.h"
#include "sim/UpdaterUnit.h"
#include "tests/support/captured_stdout.h"
#include "tests/support/time_scale.h"
#include "tests/support/trace_client.h"
#include "tests/support/work_dir.h"

namespace {

using Access = sim::FireWireUpdaterRegisters::Access;
using Write = std::pair<uint32_t, uint32_t>;
using testing::ElementsAre;
using testing::ElementsAreArray;

constexpr uint64_t kUnitId = 0x0001F2A500C0FFEEull;
constexpr uint32_t kIdLow = 0x00C0FFEE;
constexpr uint32_t kIdHigh = 0x0001F2A5;

constexpr uint32_t kDisplayCommand = 0xf0000100;
constexpr uint32_t kDisplayData = 0xf0000104;
constexpr uint32_t kUnlock = 0xf0000c00;
constexpr uint32_t kCommand = 0xf0000d00;
constexpr uint32_t kArgument1 = 0xf0000d04;
constexpr uint32_t kArgument2 = 0xf0000d08;
constexpr uint32_t kStatus = 0xf0000d20;
constexpr uint32_t kResult = 0xf0000d24;
constexpr uint32_t kUnlockWord = 0x5641524E;

std::vector<Write> WritesOf(const std::vector<Access>& accesses) {
  std::vector<Write> writes;
  for (const Access& a : accesses)
    if (a.write) writes.emplace_back(a.address, a.value);
  return writes;
}

std::vector<Write> CommandWrites(uint32_t command, uint32_t argument1, uint32_t argument2) {
  return {{kArgument1, argument1}, {kArgument2, argument2}, {kCommand, command}};
}

void Append(std::vector<Write>& to, const std::vector<Write>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// Data-window writes of one chunk: the words little-endian from 0 up.
std::vector<Write> WindowWrites(const uint8_t* data, uint32_t count) {
  std::vector<Write> writes;
  for (uint32_t k = 0; k < count / 4; ++k) writes.emplace_back(4 * k, ReadLE32(data + 4 * k));
  return writes;
}

// The commands written, in order.
std::vector<uint32_t> CommandsOf(const std::vector<Access>& accesses) {
  std::vector<uint32_t> commands;
  for (const Access& a : accesses)
    if (a.write && a.address == kCommand) commands.push_back(a.value);
  return commands;
}

size_t CountWrites(const std::vector<Access>& accesses, uint32_t address) {
  size_t n = 0;
  for (const Access& a : accesses)
    if (a.write && a.address == address) ++n;
  return n;
}

size_t CountWindowWrites(const std::vector<Access>& accesses) {
  size_t n = 0;
  for (const Access& a : accesses)
    if (a.write && a.address < 0x2000) ++n;
  return n;
}

// Captures standard output until taken, also when a test leaves early.
// The test's own failure messages go there too, so a test that has failed
// shows what was captured.
class StdoutCapture {
 public:
  StdoutCapture() { testing::internal::CaptureStdout(); }
  ~StdoutCapture() { Take(); }
  std::string Take() {
    if (m_taken) return {};
    m_taken = true;
    return support::TakeCapturedStdout();
  }

 private:
  bool m_taken = false;
};

class FireWireDeviceTest : public ::testing::Test {
 protected:
  FireWireDeviceTest()
      : updater(std::make_shared<sim::SimFireWireUpdater>(kUnitId, u"Orvel", 22, unit)),
        registers(updater->registers) {}

  void SetUp() override {
    driver.AddUnit(updater);
    // The first call makes the process-wide session.
    FWCnslError error("fw_device_test", __LINE__);
    ASSERT_EQ(ClientModeApi_GetModelCode(&error, kUnitId), 22u);
    ASSERT_EQ(error.code, 0);
    ASSERT_TRUE(m_workDir.ok());
    device = std::make_unique<DeviceUtilitiesFW>(&client, kIdLow, kIdHigh, 22);
    client.device = device.get();
  }

  void TearDown() override { ClientModeApi_ReleaseSession(); }

  // Writes the image as the file of the device's model (Orvel).
  void WriteImage(const sim::ImageBuilder& image, const char* name = "Orvel.bin") {
    ASSERT_TRUE(image.WriteFile(name));
  }

  std::vector<Access> Accesses() const { return registers.Accesses(); }

  // Every 2 s busy poll about a millisecond. The session's connect and
  // stop waits keep their full length: both end when the other side
  // answers, and shrunk they would run out on a loaded machine.
  support::ScopedTimeScale scale{0.0005, 1.0};
  sim::UpdaterUnit unit;
  sim::SimFireWireDriver driver;
  std::shared_ptr<sim::SimFireWireUpdater> updater;
  sim::FireWireUpdaterRegisters& registers;
  std::vector<std::string> trace;
  support::TraceClient client{trace};
  std::unique_ptr<DeviceUtilitiesFW> device;

 private:
  support::ScopedWorkDir m_workDir{"fwdev"};
};

// --- display -------------------------------------------------------------

TEST_F(FireWireDeviceTest, DisplayTextWritesClearThenCharactersWithSecondLineBeforeThe17th) {
  device->DisplayText("Update Complete Pls Power Cycle");

  std::vector<Write> expected = {{kDisplayCommand, 1}};
  for (char c : std::string("Update Complete "))
    expected.emplace_back(kDisplayData, static_cast<uint32_t>(c));
  expected.emplace_back(kDisplayCommand, 0xC0);
  for (char c : std::string("Pls Power Cycle"))
    expected.emplace_back(kDisplayData, static_cast<uint32_t>(c));
  ASSERT_EQ(expected.size(), 33u);
  EXPECT_THAT(WritesOf(Accesses()), ElementsAreArray(expected));
  EXPECT_EQ(registers.Line(0), "Update Complete ");
  EXPECT_EQ(registers.Line(1), "Pls Power Cycle");
}

TEST_F(FireWireDeviceTest, DisplayTextOfNullOrEmptyOnlyClears) {
  device->DisplayText(nullptr);
  device->DisplayText("");
  EXPECT_THAT(WritesOf(Accesses()),
              ElementsAre(Write{kDisplayCommand, 1}, Write{kDisplayCommand, 1}));
  EXPECT_EQ(registers.DisplayText(), "");
}

TEST_F(FireWireDeviceTest, DisplayTextLongerThanTwoLinesIsSentWholeWithOneLineSwitch) {
  const std::string text = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcd";  // 40
  device->DisplayText(text.c_str());

  std::vector<Write> expected = {{kDisplayCommand, 1}};
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 16) expected.emplace_back(kDisplayCommand, 0xC0);
    expected.emplace_back(kDisplayData, static_cast<uint32_t>(text[i]));
  }
  EXPECT_THAT(WritesOf(Accesses()), ElementsAreArray(expected));
  EXPECT_EQ(CountWrites(Accesses(), kDisplayCommand), 2u);
}

TEST_F(FireWireDeviceTest, DisplayCharactersAreSignExtended) {
  device->DisplayText("\xE9t\x7F");
  EXPECT_THAT(WritesOf(Accesses()),
              ElementsAre(Write{kDisplayCommand, 1}, Write{kDisplayData, 0xFFFFFFE9u},
                          Write{kDisplayData, 't'}, Write{kDisplayData, 0x7F}));
}

// --- registers and the driver's errors -----------------------------------

TEST_F(FireWireDeviceTest, RegistersGoToTheUnitOfTheDeviceIdHalves) {
  device->WriteRegister(kArgument1, 0x12345678);
  EXPECT_EQ(device->ReadRegister(kArgument1), 0x12345678u);

  // The halves swapped name no unit: the driver's error comes out as an
  // exception naming this class's write site.
  DeviceUtilitiesFW swapped(nullptr, kIdHigh, kIdLow, 22);
  try {
    swapped.WriteRegister(kArgument1, 1);
    FAIL() << "no exception";
  } catch (const FWCnslException& e) {
    EXPECT_EQ(e.code, sim::SimFireWireDriver::kUnknownDevice);
    EXPECT_STREQ(e.file, "DeviceUtilitiesFW");
    EXPECT_EQ(e.line, 56);
  }
  try {
    swapped.ReadRegister(kStatus);
    FAIL() << "no exception";
  } catch (const FWCnslException& e) {
    EXPECT_EQ(e.line, 62);
  }
}

struct DriverFaultCase {
  const char* name;
  bool write;
  uint32_t address;
  int expectedLine;
};

void PrintTo(const DriverFaultCase& c, std::ostream* os) { *os << c.name; }

class FireWireDriverFaultTest : public FireWireDeviceTest,
                                public ::testing::WithParamInterface<DriverFaultCase> {};

TEST_P(FireWireDriverFaultTest, DriverErrorLeavesUpdateAsException) {
  const DriverFaultCase& c = GetParam();
  WriteImage(sim::ImageBuilder().Internal(0x1000, sim::PatternBytes(64)));
  sim::FireWireRegisterFault fault(driver);
  fault.Arm(c.write, c.address, 1, 0x2B, "bus reset");
  try {
    device->Update(0);
    FAIL() << "no exception";
  } catch (const FWCnslException& e) {
    EXPECT_EQ(e.code, 0x2B);
    EXPECT_STREQ(e.text, "bus reset");
    EXPECT_STREQ(e.file, "DeviceUtilitiesFW");
    EXPECT_EQ(e.line, c.expectedLine);
  }
  EXPECT_TRUE(fault.Fired());
  // Nothing after the failed access reached the unit.
  EXPECT_EQ(unit.CountOf(8), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sites, FireWireDriverFaultTest,
                         ::testing::Values(DriverFaultCase{"ResultRead", false, kResult, 62},
                                           DriverFaultCase{"StatusRead", false, kStatus, 62},
                                           DriverFaultCase{"CommandWrite", true, kCommand, 56},
                                           DriverFaultCase{"DisplayWrite", true, kDisplayData, 56}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- commands and compares ----------------------------------------------

TEST_F(FireWireDeviceTest, CommandPollsStatusUntilTheBusyBitsClear) {
  registers.SetBusyPolls(3);
  const std::vector<uint8_t> data = sim::PatternBytes(64);
  unit.LoadInternal(0x400, data);
  StdoutCapture output;
  EXPECT_FALSE(device->VerifyInternalChecksum(data.data(), 64, 0x400));
  output.Take();

  const std::vector<Access> accesses = Accesses();
  std::vector<Access> expected;
  for (const Write& w : CommandWrites(9, 0x400, 64)) expected.push_back({true, w.first, w.second});
  expected.push_back({false, kStatus, 0x00010000});
  expected.push_back({false, kStatus, 0x00010000});
  expected.push_back({false, kStatus, 0x00010000});
  expected.push_back({false, kStatus, 0});
  expected.push_back({false, kResult, sim::UnitByteSum(data.data(), data.size())});
  EXPECT_THAT(accesses, ElementsAreArray(expected));
}

struct BusyCase {
  uint32_t status;
  bool busy;
};

void PrintTo(const BusyCase& c, std::ostream* os) { *os << std::hex << "0x" << c.status; }

class FireWireBusyTest : public FireWireDeviceTest,
                         public ::testing::WithParamInterface<BusyCase> {};

// Only bits 16-23 of the status word mean busy.
TEST_P(FireWireBusyTest, OnlyTheBusyBitsKeepThePollGoing) {
  const BusyCase& c = GetParam();
  registers.SetBusyPolls(2);
  registers.SetBusyStatus(c.status);
  const std::vector<uint8_t> data = sim::PatternBytes(16);
  StdoutCapture output;
  device->VerifyInternalChecksum(data.data(), 16, 0);
  output.Take();

  std::vector<uint32_t> statusReads;
  for (const Access& a : Accesses())
    if (!a.write && a.address == kStatus) statusReads.push_back(a.value);
  if (c.busy)
    EXPECT_THAT(statusReads, ElementsAre(c.status, c.status, 0u));
  else
    EXPECT_THAT(statusReads, ElementsAre(c.status));
}

INSTANTIATE_TEST_SUITE_P(StatusWords, FireWireBusyTest,
                         ::testing::Values(BusyCase{0x00800000, true}, BusyCase{0x00FF0000, true},
                                           BusyCase{0x01000000, false}, BusyCase{0x0000FFFF, false},
                                           BusyCase{0xFF00FFFF, false}));

TEST_F(FireWireDeviceTest, EveryCommandSleepsBeforeLookingAtTheStatus) {
  // 2000 ms scaled by 0.01: at least 20 ms for one command and its poll.
  support::ScopedTimeScale slower(0.01, 1.0);
  registers.SetBusyPolls(0);
  const std::vector<uint8_t> data = sim::PatternBytes(16);
  StdoutCapture output;
  const auto start = std::chrono::steady_clock::now();
  device->VerifyInternalChecksum(data.data(), 16, 0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  output.Take();
  EXPECT_GE(elapsed, std::chrono::milliseconds(19));
}

struct CompareCase {
  const char* name;
  bool external;
  bool crc;
  uint32_t command;
  const char* equalLine;
  const char* differentFormat;
};

void PrintTo(const CompareCase& c, std::ostream* os) { *os << c.name; }

class FireWireCompareTest : public FireWireDeviceTest,
                            public ::testing::WithParamInterface<CompareCase> {
 protected:
  bool Verify(const CompareCase& c, const std::vector<uint8_t>& data, uint32_t destination) {
    const uint32_t length = static_cast<uint32_t>(data.size());
    if (c.external)
      return c.crc ? device->VerifyExternalCrc(data.data(), length, destination)
                   : device->VerifyExternalChecksum(data.data(), length, destination);
    return c.crc ? device->VerifyInternalCrc(data.data(), length, destination)
                 : device->VerifyInternalChecksum(data.data(), length, destination);
  }
};

TEST_P(FireWireCompareTest, PrintsItsLineAndAsksWithItsArguments) {
  const CompareCase& c = GetParam();
  const std::vector<uint8_t> data = sim::PatternBytes(2 * 528, 7);
  const uint32_t destination = c.external ? 5 : 0x2000;
  const uint32_t argument2 = c.external ? 2 : 2 * 528;

  // The unit holds the data: equal.
  if (c.external)
    unit.LoadExternal(destination, data);
  else
    unit.LoadInternal(destination, data);
  StdoutCapture equalOutput;
  EXPECT_FALSE(Verify(c, data, destination));
  EXPECT_EQ(equalOutput.Take(), c.equalLine);
  EXPECT_THAT(WritesOf(Accesses()),
              ElementsAreArray(CommandWrites(c.command, destination, argument2)));

  // Erased flash: different, the computed value first, the unit's second.
  const std::vector<uint8_t> erased(data.size(), 0xFF);
  if (c.external)
    unit.LoadExternal(destination, erased);
  else
    unit.LoadInternal(destination, erased);
  const uint32_t computed =
      c.crc ? FirmwareCrc16(data.data(), 2 * 528) : FirmwareByteSum(data.data(), 2 * 528);
  const uint32_t unitValue = c.crc ? sim::UnitCrc16(erased.data(), erased.size())
                                   : sim::UnitByteSum(erased.data(), erased.size());
  char expected[96];
  std::snprintf(expected, sizeof expected, c.differentFormat, static_cast<unsigned long>(computed),
                static_cast<unsigned long>(unitValue));
  StdoutCapture differentOutput;
  EXPECT_TRUE(Verify(c, data, destination));
  EXPECT_EQ(differentOutput.Take(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FireWireCompareTest,
    ::testing::Values(CompareCase{"InternalChecksum", false, false, 9, "intern checksum matches\n",
                                  "intern checksum didnt match %08lx %08lx\n"},
                      CompareCase{"ExternalChecksum", true, false, 10, "extern checksum matches\n",
                                  "extern checksum didnt match %08lx %08lx\n"},
                      CompareCase{"InternalCrc", false, true, 11, "internal crc matches\n",
                                  "intern crc didnt match %08lx %08lx\n"},
                      CompareCase{"ExternalCrc", true, true, 12, "external crc matches\n",
                                  "extern crc didnt match %08lx %08lx\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FireWireDeviceTest, ExternalCompareOfPartPagesTouchesNoRegister) {
  const std::vector<uint8_t> data = sim::PatternBytes(1000);
  StdoutCapture output;
  EXPECT_TRUE(device->VerifyExternalChecksum(data.data(), 1000, 0));
  EXPECT_TRUE(device->VerifyExternalCrc(data.data(), 1000, 0));
  EXPECT_EQ(output.Take(), "invalid external flash size\ninvalid external flash size\n");
  EXPECT_TRUE(Accesses().empty());
}

// --- records --------------------------------------------------------------

TEST_F(FireWireDeviceTest, InternalRecordThatDiffersIsUnlockedWrittenProgrammedAndCompared) {
  const std::vector<uint8_t> data = sim::PatternBytes(8192, 3);
  const sim::ImageBuilder builder = sim::ImageBuilder().Internal(0x4000, data);
  const std::vector<uint8_t> image = builder.Build();
  const uint8_t* base = image.data() + builder.RecordOffset(0);

  StdoutCapture output;
  EXPECT_EQ(device->WriteRecord(FirmwareRecordHeader::At(base), base), 8192u);
  const std::string out = output.Take();

  std::vector<Write> expected = CommandWrites(9, 0x4000, 8192);
  expected.emplace_back(kUnlock, kUnlockWord);
  Append(expected, WindowWrites(data.data(), 8192));
  Append(expected, CommandWrites(8, 0x4000, 8192));
  Append(expected, CommandWrites(9, 0x4000, 8192));
  Append(expected, CommandWrites(11, 0x4000, 8192));
  const std::vector<Access> accesses = Accesses();
  EXPECT_THAT(WritesOf(accesses), ElementsAreArray(expected));
  EXPECT_EQ(expected[1 + 3 + 2047].first, 0x1FFCu);

  // The program command waited: a busy status before the clear one.
  size_t afterProgram = 0;
  while (!(accesses[afterProgram].write && accesses[afterProgram].address == kCommand &&
           accesses[afterProgram].value == 8))
    ++afterProgram;
  EXPECT_EQ(accesses[afterProgram + 1], (Access{false, kStatus, 0x00010000}));
  EXPECT_EQ(accesses[afterProgram + 2], (Access{false, kStatus, 0}));

  EXPECT_EQ(unit.ReadInternal(0x4000, 8192), data);
  EXPECT_EQ(device->GetBytesDone(), sim::ImageBuilder::kDefaultRecordHeaderSize + 8192);
  EXPECT_THAT(out, testing::StartsWith("intern checksum didnt match"));
  EXPECT_THAT(out, testing::EndsWith("intern checksum matches\ninternal crc matches\n"));
}

TEST_F(FireWireDeviceTest, ExternalRecordOfFifteenPagesIsOneChunk) {
  const std::vector<uint8_t> data = sim::PatternBytes(7920, 4);
  const sim::ImageBuilder builder = sim::ImageBuilder().External(9, data);
  const std::vector<uint8_t> image = builder.Build();
  const uint8_t* base = image.data() + builder.RecordOffset(0);

  StdoutCapture output;
  EXPECT_EQ(device->WriteRecord(FirmwareRecordHeader::At(base), base), 7920u);
  output.Take();

  std::vector<Write> expected = CommandWrites(10, 9, 15);
  expected.emplace_back(kUnlock, kUnlockWord);
  Append(expected, WindowWrites(data.data(), 7920));
  Append(expected, CommandWrites(6, 9, 15));
  Append(expected, CommandWrites(10, 9, 15));
  Append(expected, CommandWrites(12, 9, 15));
  EXPECT_THAT(WritesOf(Accesses()), ElementsAreArray(expected));
  EXPECT_EQ(CountWindowWrites(Accesses()), 1980u);
  EXPECT_EQ(unit.ReadExternal(9, 7920), data);
}

TEST_F(FireWireDeviceTest, RecordAlreadyInTheUnitIsOnlyCompared) {
  const std::vector<uint8_t> internal = sim::PatternBytes(256, 5);
  const std::vector<uint8_t> external = sim::PatternBytes(528, 6);
  unit.LoadInternal(0x800, internal);
  unit.LoadExternal(2, external);
  const sim::ImageBuilder builder =
      sim::ImageBuilder().Internal(0x800, internal).External(2, external);
  const std::vector<uint8_t> image = builder.Build();

  StdoutCapture output;
  for (size_t i = 0; i < 2; ++i) {
    const uint8_t* base = image.data() + builder.RecordOffset(i);
    device->WriteRecord(FirmwareRecordHeader::At(base), base);
  }
  EXPECT_EQ(output.Take(),
            "intern checksum matches\ninternal crc matches\n"
            "extern checksum matches\nexternal crc matches\n");

  std::vector<Write> expected = CommandWrites(9, 0x800, 256);
  Append(expected, CommandWrites(11, 0x800, 256));
  Append(expected, CommandWrites(10, 2, 1));
  Append(expected, CommandWrites(12, 2, 1));
  EXPECT_THAT(WritesOf(Accesses()), ElementsAreArray(expected));
  EXPECT_EQ(device->GetBytesDone(), 2 * sim::ImageBuilder::kDefaultRecordHeaderSize + 256 + 528);
  EXPECT_THAT(trace, ElementsAre("range 0 256", "range 0 528"));
}

TEST_F(FireWireDeviceTest, RecordBarFollowsTheChunksOfEachAttempt) {
  const std::vector<uint8_t> data = sim::PatternBytes(10000, 8);
  const sim::ImageBuilder builder = sim::ImageBuilder().Internal(0x10000, data);
  const std::vector<uint8_t> image = builder.Build();
  const uint8_t* base = image.data() + builder.RecordOffset(0);
  const uint32_t header = sim::ImageBuilder::kDefaultRecordHeaderSize;

  StdoutCapture output;
  EXPECT_EQ(device->WriteRecord(FirmwareRecordHeader::At(base), base), 10000u);
  output.Take();
  EXPECT_THAT(trace,
              ElementsAre("range 0 10000", "redraw 8192", "progress", "redraw 10000", "progress"));
  EXPECT_THAT(client.progress, ElementsAre(header + 8192, header + 10000));
  EXPECT_THAT(CommandsOf(Accesses()), ElementsAre(9, 8, 8, 9, 11));
  // The second chunk starts the window at 0 again, at the advanced address.
  const std::vector<Write> writes = WritesOf(Accesses());
  std::vector<Write> second = WindowWrites(data.data() + 8192, 1808);
  Append(second, CommandWrites(8, 0x10000 + 8192, 1808));
  const auto at = std::search(writes.begin(), writes.end(), second.begin(), second.end());
  EXPECT_NE(at, writes.end());
}

TEST_F(FireWireDeviceTest, ExternalRecordAdvancesByPages) {
  const std::vector<uint8_t> data = sim::PatternBytes(8448, 9);  // 16 pages
  const sim::ImageBuilder builder = sim::ImageBuilder().External(3, data);
  const std::vector<uint8_t> image = builder.Build();
  const uint8_t* base = image.data() + builder.RecordOffset(0);

  StdoutCapture output;
  EXPECT_EQ(device->WriteRecord(FirmwareRecordHeader::At(base), base), 8448u);
  output.Take();
  std::vector<uint32_t> programs;
  const std::vector<Write> writes = WritesOf(Accesses());
  for (size_t i = 2; i < writes.size(); ++i)
    if (writes[i] == Write{kCommand, 6}) {
      programs.push_back(writes[i - 2].second);
      programs.push_back(writes[i - 1].second);
    }
  EXPECT_THAT(programs, ElementsAre(3, 15, 18, 1));
  EXPECT_EQ(unit.ReadExternal(3, 8448), data);
}

TEST_F(FireWireDeviceTest, RecordThatNeverTakesFailsAfterThreeAttempts) {
  const std::vector<uint8_t> data = sim::PatternBytes(4096, 10);
  const sim::ImageBuilder builder = sim::ImageBuilder().Internal(0x1000, data);
  const std::vector<uint8_t> image = builder.Build();
  const uint8_t* base = image.data() + builder.RecordOffset(0);
  unit.RefuseInternalWrites(0x1000, 4096);

  StdoutCapture output;
  EXPECT_EQ(device->WriteRecord(FirmwareRecordHeader::At(base), base), 0u);
  output.Take();
  EXPECT_THAT(CommandsOf(Accesses()), ElementsAre(9, 8, 9, 8, 9, 8, 9));
  // Unlocked once for the record, before the first attempt.
  EXPECT_EQ(CountWrites(Accesses(), kUnlock), 1u);
  EXPECT_EQ(device->GetBytesDone(), sim::ImageBuilder::kDefaultRecordHeaderSize);
  const uint32_t header = sim::ImageBuilder::kDefaultRecordHeaderSize;
  EXPECT_THAT(client.progress, ElementsAre(header + 4096, header + 4096, header + 4096));
}

// --- the whole update ------------------------------------------------------

TEST_F(FireWireDeviceTest, WholeImageUpdatesTheUnitAndASecondRunWritesNothing) {
  const std::vector<uint8_t> first = sim::PatternBytes(10000, 11);
  const std::vector<uint8_t> second = sim::PatternBytes(8448, 12);
  const std::vector<uint8_t> third = sim::PatternBytes(4, 13);
  const sim::ImageBuilder builder = sim::ImageBuilder()
                                        .Version(0x00A0C205)  // 10.12d5
                                        .Internal(0x1000, first)
                                        .External(3, second)
                                        .Internal(0x20000, third);
  WriteImage(builder);

  StdoutCapture output;
  EXPECT_EQ(device->Update(0), UpdateStatusDone);
  output.Take();
  EXPECT_EQ(unit.ReadInternal(0x1000, 10000), first);
  EXPECT_EQ(unit.ReadExternal(3, 8448), second);
  EXPECT_EQ(unit.ReadInternal(0x20000, 4), third);
  EXPECT_EQ(device->GetTotalBytes(), builder.TotalBytes());
  EXPECT_EQ(device->GetBytesDone(), builder.TotalBytes());
  EXPECT_STREQ(device->GetVersionText(), L"10.12d5");
  EXPECT_THAT(registers.DisplayHistory(),
              ElementsAre("Starting Up...", "Update Complete Pls Power Cycle"));
  // Unlocked after "Starting Up...", and once more for each record written.
  const std::vector<Write> writes = WritesOf(Accesses());
  const Write unlock{kUnlock, kUnlockWord};
  const size_t startingUp = 1 + std::string("Starting Up...").size();
  ASSERT_GT(writes.size(), startingUp);
  EXPECT_EQ(writes[startingUp], unlock);
  EXPECT_EQ(CountWrites(Accesses(), kUnlock), 4u);

  registers.ClearAccesses();
  unit.ClearLog();
  StdoutCapture secondOutput;
  EXPECT_EQ(device->Update(0), UpdateStatusDone);
  secondOutput.Take();
  EXPECT_EQ(CountWindowWrites(Accesses()), 0u);
  EXPECT_THAT(CommandsOf(Accesses()), ElementsAre(9, 11, 10, 12, 9, 11));
  EXPECT_EQ(CountWrites(Accesses(), kUnlock), 1u);
  EXPECT_EQ(device->GetBytesDone(), builder.TotalBytes());
}

TEST_F(FireWireDeviceTest, UpdateReportsProgressAfterEveryChunkAndRecord) {
  const std::vector<uint8_t> data = sim::PatternBytes(9000, 14);
  const sim::ImageBuilder builder = sim::ImageBuilder().Internal(0, data).Internal(0x8000, data);
  unit.LoadInternal(0x8000, data);
  WriteImage(builder);
  StdoutCapture output;
  EXPECT_EQ(device->Update(0), UpdateStatusDone);
  output.Take();
  // This class sets no status and does not refresh it.
  EXPECT_THAT(trace, ElementsAre("range 0 9000", "redraw 8192", "progress", "redraw 9000",
                                 "progress", "progress", "range 0 9000", "progress"));
}

TEST_F(FireWireDeviceTest, RecordThatNeverTakesEndsTheUpdateUnverified) {
  const std::vector<uint8_t> good = sim::PatternBytes(512, 15);
  const std::vector<uint8_t> bad = sim::PatternBytes(1056, 16);
  WriteImage(sim::ImageBuilder().External(40, bad).Internal(0x3000, good));
  unit.RefuseExternalWrites(40, 2);

  StdoutCapture output;
  EXPECT_EQ(device->Update(0), UpdateStatusUnverified);
  output.Take();
  EXPECT_EQ(unit.CountOf(6), 3u);
  // The walk went on with the next record.
  EXPECT_EQ(unit.ReadInternal(0x3000, 512), good);
  EXPECT_EQ(registers.DisplayText(), "Update Failed   Pls Retry");
}

TEST_F(FireWireDeviceTest, UnitThatRefusesTheUnlockIsNeverProgrammed) {
  registers.SetRefuseUnlock(true);
  WriteImage(sim::ImageBuilder().Internal(0x3000, sim::PatternBytes(512, 17)));
  StdoutCapture output;
  EXPECT_EQ(device->Update(0), UpdateStatusUnverified);
  output.Take();
  EXPECT_EQ(registers.LockedPrograms(), 3u);
  EXPECT_EQ(unit.CountOf(8), 0u);
  EXPECT_EQ(registers.DisplayText(), "Update Failed   Pls Retry");
}

TEST_F(FireWireDeviceTest, ImageThatCannotBeUsedTouchesNoRegister) {
  // No file.
  EXPECT_EQ(device->Update(0), UpdateStatusBadSource);
  // A record that is not whole words.
  WriteImage(sim::ImageBuilder()
                 .Internal(0x1000, sim::PatternBytes(8))
                 .Internal(0x2000, sim::PatternBytes(6)));
  EXPECT_EQ(device->Update(0), UpdateStatusBadSource);
  // A model without an image file, although one of every name is there.
  for (const char* name : {"Pasko.bin", "ketri.bin", "sondu.bin"})
    WriteImage(sim::ImageBuilder(), name);
  WriteImage(sim::ImageBuilder());
  DeviceUtilitiesFW other(&client, kIdLow, kIdHigh, 23);
  EXPECT_EQ(other.Update(0), UpdateStatusBadSource);
  EXPECT_TRUE(Accesses().empty());
  EXPECT_EQ(driver.ApiCalls(ClientModeApiWriteRegister), 0u);
  EXPECT_EQ(driver.ApiCalls(ClientModeApiReadRegister), 0u);
  EXPECT_TRUE(trace.empty());
}

TEST_F(FireWireDeviceTest, EachModelReadsItsOwnFile) {
  const struct {
    int32_t model;
    const char* file;
  } models[] = {{22, "Orvel.bin"}, {24, "Pasko.bin"}, {26, "ketri.bin"}, {28, "sondu.bin"}};
  for (const auto& m : models) {
    SCOPED_TRACE(m.file);
    std::error_code ignored;
    for (const auto& other : models) std::filesystem::remove(other.file, ignored);
    DeviceUtilitiesFW model(nullptr, kIdLow, kIdHigh, m.model);
    EXPECT_EQ(model.Update(0), UpdateStatusBadSource);
    WriteImage(sim::ImageBuilder().Version(0x00103800), m.file);
    registers.ClearAccesses();
    EXPECT_EQ(model.Update(0), UpdateStatusDone);
    EXPECT_STREQ(model.GetVersionText(), L" 1.03");
    EXPECT_THAT(registers.DisplayHistory(),
                ElementsAre("Starting Up...", "Update Complete Pls Power Cycle"));
    EXPECT_EQ(CountWrites(Accesses(), kUnlock), 1u);
  }
}

TEST_F(FireWireDeviceTest, FreshDeviceHasNoCountsVersionOrLink) {
  EXPECT_EQ(device->GetTotalBytes(), 0u);
  EXPECT_EQ(device->GetBytesDone(), 0u);
  EXPECT_STREQ(device->GetVersionText(), L"");
  EXPECT_EQ(device->GetHidInterface(), nullptr);
  EXPECT_EQ(device->DeviceIdLow(), kIdLow);
  EXPECT_EQ(device->DeviceIdHigh(), kIdHigh);
  EXPECT_EQ(device->ModelCode(), 22);
  // Deleting through the interface is enough.
  std::unique_ptr<Device> owned = std::make_unique<DeviceUtilitiesFW>(nullptr, 1, 2, 24);
  owned.reset();
}

}  // namespace
