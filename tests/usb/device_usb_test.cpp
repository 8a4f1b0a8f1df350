// The USB device class over the HID link, against a simulated HID unit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <platform/timescale.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/DeviceUtilitiesUSB.h"
#include "device/UpdateStatus.h"
#include "sim/ImageBuilder.h"
#include "sim/SimHidUnit.h"
#include "sim/UpdaterUnit.h"
#include "tests/support/time_scale.h"
#include "tests/support/trace_client.h"
#include "tests/support/work_dir.h"

namespace {

using sim::ImageBuilder;
using sim::PatternBytes;
using sim::SimHidUnit;
using sim::UpdaterUnit;
using support::TraceClient;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

std::string Describe(const HidCommandReport& block) {
  const uint32_t command = block.Command();
  if (command == DeviceCommandWriteData || command == DeviceCommandDisplayText)
    return "cmd " + std::to_string(command);
  return "cmd " + std::to_string(command) + " " + std::to_string(block.Argument1()) + " " +
         std::to_string(block.Argument2());
}

struct Chunk {
  uint32_t packets;
  uint32_t lastPacket;
  uint32_t program;  // command 6 or 8
  uint32_t argument1;
  uint32_t argument2;
  bool operator==(const Chunk&) const = default;
};

void PrintTo(const Chunk& c, std::ostream* os) {
  *os << "{" << c.packets << " packets, last " << c.lastPacket << ", cmd " << c.program << " "
      << c.argument1 << " " << c.argument2 << "}";
}

// The write-data runs and their program commands; also checks that every
// packet's offset runs from 0 within its chunk and its data are the source's.
std::vector<Chunk> Chunks(const std::vector<HidCommandReport>& blocks,
                          const std::vector<uint8_t>& source) {
  std::vector<Chunk> chunks;
  Chunk current{};
  uint32_t offset = 0;
  size_t consumed = 0;
  for (const HidCommandReport& block : blocks) {
    const uint32_t command = block.Command();
    if (command == DeviceCommandWriteData) {
      EXPECT_EQ(block.Argument1(), offset);
      EXPECT_EQ(block.Argument3(), 0u);
      const uint32_t count = block.Argument2();
      EXPECT_GE(count, 1u);
      EXPECT_LE(count, 48u);
      if (consumed + count <= source.size()) {
        EXPECT_EQ(std::memcmp(block.Data(), source.data() + consumed, count), 0);
      }
      for (uint32_t i = count; i < 48; ++i) EXPECT_EQ(block.Data()[i], 0) << "packet tail";
      consumed = (consumed + count) % (source.empty() ? 1 : source.size());
      offset += count;
      ++current.packets;
      current.lastPacket = count;
    } else if (command == DeviceCommandProgramExternal || command == DeviceCommandProgramInternal) {
      EXPECT_EQ(block.Argument3(), 0u);
      current.program = command;
      current.argument1 = block.Argument1();
      current.argument2 = block.Argument2();
      chunks.push_back(current);
      current = Chunk{};
      offset = 0;
    }
  }
  return chunks;
}

size_t CountCommand(const std::vector<HidCommandReport>& blocks, uint32_t command) {
  size_t n = 0;
  for (const auto& block : blocks) n += block.Command() == command;
  return n;
}

// The small scale: the units' pace, and the waits that are to run out
// (10 s reply waits then last 200 ms).
constexpr double kScale = 0.02;

class UsbDevice : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_workDir.ok()); }
  void TearDown() override {
    device.reset();
    hid.reset();
  }

  // From the n-th report on the unit's tries are to run out: their waits
  // are shrunk from then on, while those before it, which end in an
  // answer, keep their full length.
  void ShortWaitsFromReport(std::size_t n) {
    hid->AtReport(n, [] { platform::SetTimeOutScale(kScale); });
  }

  // A unit with that version number, and a device with its link open.
  void Connect(USHORT version = UsbProductQuen, bool withClient = true,
               platform::host::HidDeviceInfo info = SimHidUnit::Info()) {
    info.versionNumber = version;
    hid = std::make_unique<SimHidUnit>(unit, info);
    hid->OnReport([this](const HidCommandReport& block) { trace.push_back(Describe(block)); });
    device = std::make_unique<DeviceUtilitiesUSB>(withClient ? &client : nullptr);
    client.device = device.get();
    device->GetHidInterface()->Open();
    ASSERT_NE(device->GetHidInterface()->m_queryHandle, nullptr);
  }

  // Writes one record straight through WriteRecord.
  uint32_t WriteOne(const ImageBuilder& image) {
    m_image = image.Build();
    const uint8_t* record = m_image.data() + image.RecordOffset(0);
    return device->WriteRecord(FirmwareRecordHeader::At(record), record);
  }

  std::vector<std::string> Only(const std::string& prefix) const {
    std::vector<std::string> kept;
    for (const auto& line : trace)
      if (line.rfind(prefix, 0) == 0) kept.push_back(line);
    return kept;
  }

  // The units' pace at a small scale; the link's waits at their full length.
  support::ScopedTimeScale scale{kScale, 1.0};
  UpdaterUnit unit;
  std::vector<std::string> trace;
  TraceClient client{trace};
  std::unique_ptr<SimHidUnit> hid;
  std::unique_ptr<DeviceUtilitiesUSB> device;

 private:
  std::vector<uint8_t> m_image;
  support::ScopedWorkDir m_workDir{"usbdev"};
};

TEST(UsbFirmwareFileNameTest, TenModelsTenFiles) {
  EXPECT_STREQ(UsbFirmwareFileName(0x25), "plimo.bin");
  EXPECT_STREQ(UsbFirmwareFileName(0x31), "ketritandra.bin");
  EXPECT_STREQ(UsbFirmwareFileName(0x34), "halvi.bin");
  EXPECT_STREQ(UsbFirmwareFileName(0x36), "Orveltandra.bin");
  EXPECT_STREQ(UsbFirmwareFileName(0x38), "Paskotandra.bin");
  EXPECT_STREQ(UsbFirmwareFileName(0x40), "Dunmi.bin");
  EXPECT_STREQ(UsbFirmwareFileName(0x42), "Zolte.bin");
  EXPECT_STREQ(UsbFirmwareFileName(0x44), "Fenra.bin");
  EXPECT_STREQ(UsbFirmwareFileName(0x46), "Quen.bin");
  EXPECT_STREQ(UsbFirmwareFileName(0x50), "VorloII.bin");
  EXPECT_EQ(UsbFirmwareFileName(0), nullptr);
  EXPECT_EQ(UsbFirmwareFileName(0x26), nullptr);
}

TEST_F(UsbDevice, TheProductCodeChoosesTheImageFile) {
  struct Case {
    USHORT version;
    const char* file;
    int result;
  };
  for (Case c :
       {Case{0x46, "Quen.bin", UpdateStatusDone}, Case{0x25, "plimo.bin", UpdateStatusDone},
        Case{0x25, "Plimo.bin", UpdateStatusBadSource},
        Case{0x46, "quen.bin", UpdateStatusBadSource}}) {
    UpdaterUnit fresh;
    std::vector<uint8_t> data = PatternBytes(64, c.version);
    ASSERT_TRUE(ImageBuilder().Internal(0x400, data).WriteFile(c.file));
    SimHidUnit simulated(fresh, SimHidUnit::Info(c.version));
    DeviceUtilitiesUSB usb(nullptr);
    usb.GetHidInterface()->Open();
    EXPECT_EQ(usb.Update(0), c.result) << c.file;
    EXPECT_EQ(fresh.ReadInternal(0x400, 64) == data, c.result == UpdateStatusDone) << c.file;
    // No file by the unit's own name: not even its display is touched.
    if (c.result == UpdateStatusBadSource) {
      EXPECT_EQ(simulated.ReportCount(), 0u) << c.file;
    }
    std::filesystem::remove(c.file);
  }
}

TEST_F(UsbDevice, ACodeOutsideTheTableSendsNothing) {
  ASSERT_TRUE(ImageBuilder().Internal(0, PatternBytes(16)).WriteFile("Quen.bin"));
  Connect(0x26);
  EXPECT_EQ(device->Update(0), UpdateStatusBadSource);
  EXPECT_THAT(trace, ElementsAre("status 9", "refresh"));
  EXPECT_EQ(hid->ReportCount(), 0u);
}

TEST_F(UsbDevice, ImagesWithAWrappingRangeOrARecordInTheHeaderSendNothing) {
  struct Case {
    const char* name;
    ImageBuilder image;
  };
  const Case cases[] = {
      // 8192 bytes at 0xFFFFF000, then 1808 at 0x1000.
      {"internal past 2^32", ImageBuilder().Internal(0xFFFFF000u, PatternBytes(10000))},
      // Pages 0xFFFFFFF8 to 0xFFFFFFFF, then 0 to 7.
      {"external past 2^32", ImageBuilder().External(0xFFFFFFF8u, PatternBytes(16 * 528))},
      // The record's first field is the header's model byte.
      {"record inside the header",
       ImageBuilder().ImageHeaderSize(0x14).Internal(0x1000, PatternBytes(64))},
  };
  // No command: the listeners' flag tests and stop bounds may run short.
  support::ScopedTimeScale noCommand(kScale, kScale);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    trace.clear();
    ASSERT_TRUE(c.image.WriteFile("Quen.bin"));
    Connect();
    EXPECT_EQ(device->Update(0), UpdateStatusBadSource);
    EXPECT_THAT(trace, ElementsAre("status 9", "refresh"));
    EXPECT_EQ(hid->ReportCount(), 0u);
    device.reset();
    hid.reset();
  }
  EXPECT_EQ(unit.ReadInternal(0x1000, 64), std::vector<uint8_t>(64, 0xFF));
}

TEST_F(UsbDevice, DisplayTextsGoOutAsFortyEightBytes) {
  Connect();
  const std::string complete = "Update Complete Pls Power Cycle";
  const std::string sixty(60, 'A');
  device->DisplayText(complete.c_str());
  device->DisplayText((std::string(48, 'B') + std::string(12, 'C')).c_str());
  device->DisplayText(nullptr);
  auto blocks = hid->Blocks();
  ASSERT_EQ(blocks.size(), 3u);
  for (const auto& block : blocks) EXPECT_EQ(block.Command(), 13u);

  std::vector<uint8_t> first(blocks[0].Data(), blocks[0].Data() + 48);
  std::vector<uint8_t> expected(complete.begin(), complete.end());
  ASSERT_EQ(expected.size(), 31u);
  expected.resize(48, 0);
  EXPECT_EQ(first, expected);

  std::vector<uint8_t> second(blocks[1].Data(), blocks[1].Data() + 48);
  EXPECT_EQ(second, std::vector<uint8_t>(48, 'B'));

  std::vector<uint8_t> blank(blocks[2].Data(), blocks[2].Data() + 48);
  EXPECT_EQ(blank, std::vector<uint8_t>(48, 0));
  EXPECT_EQ(unit.DisplayText(), "");
}

TEST_F(UsbDevice, AHundredByteRecordGoesAsThreePacketsAndOneProgram) {
  Connect();
  const std::vector<uint8_t> data = PatternBytes(100);
  EXPECT_EQ(WriteOne(ImageBuilder().Internal(0x2000, data)), 100u);
  auto blocks = hid->Blocks();
  EXPECT_THAT(Chunks(blocks, data), ElementsAre(Chunk{3, 4, 8, 0x2000, 100}));
  EXPECT_THAT(Only("cmd 4"), ElementsAre("cmd 4", "cmd 4", "cmd 4"));
  // Bytes done at the chunk's progress report: header, then the data sent.
  EXPECT_THAT(client.progress, ElementsAre(ImageBuilder::kDefaultRecordHeaderSize + 100));
  EXPECT_EQ(device->GetBytesDone(), ImageBuilder::kDefaultRecordHeaderSize + 100);
  EXPECT_EQ(unit.ReadInternal(0x2000, 100), data);
}

TEST_F(UsbDevice, ChunkSplitsOfInternalAndExternalRecords) {
  struct Case {
    bool external;
    uint32_t length;
    std::vector<Chunk> chunks;
    std::vector<std::string> positions;
  };
  const uint32_t dest = 0x4000, page = 20;
  const std::vector<Case> cases = {
      {false,
       20000,
       {{171, 32, 8, dest, 8192}, {171, 32, 8, dest + 8192, 8192}, {76, 16, 8, dest + 16384, 3616}},
       {"pos 0", "pos 0", "pos 8192", "pos 16384"}},
      {false,
       10000,
       {{171, 32, 8, dest, 8192}, {38, 32, 8, dest + 8192, 1808}},
       {"pos 0", "pos 0", "pos 8192"}},
      {true,
       30 * 528,
       {{165, 48, 6, page, 15}, {165, 48, 6, page + 15, 15}},
       {"pos 0", "pos 0", "pos 7920"}},
      {true,
       16 * 528,
       {{165, 48, 6, page, 15}, {11, 48, 6, page + 15, 1}},
       {"pos 0", "pos 0", "pos 7920"}},
  };
  for (const Case& c : cases) {
    trace.clear();
    Connect();
    const std::vector<uint8_t> data = PatternBytes(c.length, c.length);
    ImageBuilder image;
    if (c.external)
      image.External(page, data);
    else
      image.Internal(dest, data);
    EXPECT_EQ(WriteOne(image), c.length);
    EXPECT_EQ(Chunks(hid->Blocks(), data), c.chunks) << c.length;
    EXPECT_EQ(Only("pos"), c.positions) << c.length;
    EXPECT_EQ(c.external ? unit.ReadExternal(page, c.length) : unit.ReadInternal(dest, c.length),
              data);
    device.reset();
    hid.reset();
  }
}

TEST_F(UsbDevice, AnExternalRecordOfPartPagesIsNeverCompared) {
  Connect();
  const std::vector<uint8_t> data = PatternBytes(1000);
  // Built by hand: the image checks would turn such a record away.
  std::vector<uint8_t> record(0x14 + data.size(), 0);
  sim::PutLE32(record, 4, 0x14);
  sim::PutLE32(record, 8, 1000);
  sim::PutLE32(record, 12, 1);
  sim::PutLE32(record, 16, 7);
  std::memcpy(record.data() + 0x14, data.data(), data.size());

  testing::internal::CaptureStdout();
  const uint32_t result =
      device->WriteRecord(FirmwareRecordHeader::At(record.data()), record.data());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, 0u);
  std::string four;
  for (int i = 0; i < 4; ++i) four += "invalid external flash size\n";
  EXPECT_EQ(out, four);
  auto blocks = hid->Blocks();
  for (uint32_t compare : {9u, 10u, 11u, 12u}) EXPECT_EQ(CountCommand(blocks, compare), 0u);
  EXPECT_THAT(Chunks(blocks, data),
              ElementsAre(Chunk{21, 40, 6, 7, 2}, Chunk{21, 40, 6, 7, 2}, Chunk{21, 40, 6, 7, 2}));
  EXPECT_EQ(device->GetBytesDone(), 0x14u);
}

TEST_F(UsbDevice, OneRecordWrittenAtTheFirstAttemptInTheGivenOrder) {
  Connect();
  const std::vector<uint8_t> data = PatternBytes(100);
  EXPECT_EQ(WriteOne(ImageBuilder().Internal(0x800, data)), 100u);
  EXPECT_THAT(trace, ElementsAre("status 9", "cmd 9 2048 100", "range 0 100", "pos 0", "status 10",
                                 "pos 0", "cmd 4", "cmd 4", "cmd 4", "cmd 8 2048 100", "progress",
                                 "status 9", "cmd 9 2048 100", "cmd 11 2048 100"));

  // When the sums agree the CRC is asked as well, before writing.
  trace.clear();
  unit.LoadInternal(0x3000, {0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(
      WriteOne(ImageBuilder().Internal(0x3000, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})),
      8u);
  EXPECT_THAT(trace, ElementsAre("status 9", "cmd 9 12288 8", "cmd 11 12288 8", "range 0 8",
                                 "pos 0", "status 10", "pos 0", "cmd 4", "cmd 8 12288 8",
                                 "progress", "status 9", "cmd 9 12288 8", "cmd 11 12288 8"));
}

TEST_F(UsbDevice, ARecordThatNeverTakesIsTriedThreeTimes) {
  Connect();
  unit.RefuseInternalWrites(0x1000, 64);
  const std::vector<uint8_t> data = PatternBytes(64);
  EXPECT_EQ(WriteOne(ImageBuilder().Internal(0x1000, data)), 0u);
  std::vector<std::string> attempt = {"range 0 64", "pos 0",        "status 10",     "pos 0",
                                      "cmd 4",      "cmd 4",        "cmd 8 4096 64", "progress",
                                      "status 9",   "cmd 9 4096 64"};
  std::vector<std::string> expected = {"status 9", "cmd 9 4096 64"};
  for (int i = 0; i < 3; ++i) expected.insert(expected.end(), attempt.begin(), attempt.end());
  EXPECT_EQ(trace, expected);
  EXPECT_EQ(device->GetBytesDone(), ImageBuilder::kDefaultRecordHeaderSize);
}

TEST_F(UsbDevice, ACrcAnswerWithHighBitsSetNeverMatches) {
  Connect();
  const std::vector<uint8_t> data = PatternBytes(64);
  unit.LoadInternal(0, data);
  unit.ForceResult(DeviceCommandInternalCrc, 0x10000u | sim::UnitCrc16(data.data(), data.size()));
  EXPECT_EQ(WriteOne(ImageBuilder().Internal(0, data)), 0u);
  EXPECT_EQ(CountCommand(hid->Blocks(), DeviceCommandProgramInternal), 3u);

  // The same answer without the high bits matches at once.
  trace.clear();
  hid->ClearReports();
  unit.ClearForcedResults();
  EXPECT_EQ(WriteOne(ImageBuilder().Internal(0, data)), 64u);
  EXPECT_THAT(trace, ElementsAre("status 9", "cmd 9 0 64", "cmd 11 0 64"));
}

TEST_F(UsbDevice, WithoutClientTheUnitGetsTheSameCommands) {
  const std::vector<uint8_t> data = PatternBytes(9000);
  ASSERT_TRUE(
      ImageBuilder().Internal(0, data).External(3, PatternBytes(528, 2)).WriteFile("Quen.bin"));
  Connect(UsbProductQuen, true);
  EXPECT_EQ(device->Update(0), UpdateStatusDone);
  const auto withClient = hid->Reports();
  device.reset();
  hid.reset();

  UpdaterUnit fresh;
  SimHidUnit simulated(fresh);
  DeviceUtilitiesUSB alone(nullptr);
  alone.GetHidInterface()->Open();
  EXPECT_EQ(alone.Update(0), UpdateStatusDone);
  EXPECT_EQ(simulated.Reports(), withClient);
  EXPECT_EQ(fresh.ReadInternal(0, 9000), data);
}

TEST_F(UsbDevice, AWholeUpdateThenASecondOneThatOnlyCompares) {
  const std::vector<uint8_t> a = PatternBytes(9000, 1), b = PatternBytes(3 * 528, 2),
                             c = PatternBytes(100, 3);
  ImageBuilder image;
  image.Version(0x00A0C205).Internal(0x100, a).External(40, b).Internal(0x8000, c);
  ASSERT_TRUE(image.WriteFile("Quen.bin"));
  Connect();
  EXPECT_EQ(device->Update(0), UpdateStatusDone);
  EXPECT_EQ(unit.ReadInternal(0x100, 9000), a);
  EXPECT_EQ(unit.ReadExternal(40, 3 * 528), b);
  EXPECT_EQ(unit.ReadInternal(0x8000, 100), c);
  EXPECT_EQ(device->GetTotalBytes(), image.TotalBytes());
  EXPECT_EQ(device->GetBytesDone(), image.TotalBytes());
  EXPECT_STREQ(device->GetVersionText(), L"10.12d5");
  EXPECT_THAT(unit.DisplayHistory(),
              ElementsAre("Starting Up...", "Update Complete Pls Power Cycle"));
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace.front(), "status 9");
  EXPECT_EQ(trace[1], "refresh");
  EXPECT_EQ(trace.back(), "refresh");

  trace.clear();
  EXPECT_EQ(device->Update(0), UpdateStatusDone);
  EXPECT_THAT(Only("cmd"),
              ElementsAre("cmd 13", "cmd 9 256 9000", "cmd 11 256 9000", "cmd 10 40 3",
                          "cmd 12 40 3", "cmd 9 32768 100", "cmd 11 32768 100", "cmd 13"));
}

TEST_F(UsbDevice, AUnitThatStopsAnsweringEndsTheUpdate) {
  ASSERT_TRUE(ImageBuilder().Internal(0, PatternBytes(500)).WriteFile("Quen.bin"));
  Connect();
  // Reports: "Starting Up...", the sum, the first packet, then the second
  // packet goes unanswered.
  hid->StopAnsweringAt(4);
  ShortWaitsFromReport(4);
  EXPECT_THROW(device->Update(0), std::exception);
  // Five tries of the unanswered packet, and nothing after it.
  auto blocks = hid->Blocks();
  ASSERT_EQ(blocks.size(), 8u);
  for (size_t i = 3; i < 8; ++i) {
    EXPECT_EQ(blocks[i].Command(), 4u);
    EXPECT_EQ(blocks[i].Argument1(), 48u);
  }
}

TEST_F(UsbDevice, AnUnansweredCompareEndsTheUpdateToo) {
  ASSERT_TRUE(ImageBuilder().Internal(0, PatternBytes(500)).WriteFile("Quen.bin"));
  Connect();
  hid->DropAnswerTo(2);
  hid->DropAnswerTo(3);
  hid->DropAnswerTo(4);
  hid->DropAnswerTo(5);
  hid->DropAnswerTo(6);
  ShortWaitsFromReport(2);
  EXPECT_THROW(device->Update(0), std::exception);
  EXPECT_EQ(hid->ReportCount(), 6u);
  EXPECT_EQ(CountCommand(hid->Blocks(), DeviceCommandWriteData), 0u);
}

TEST_F(UsbDevice, RemovalMidUpdateThrowsFromTheWrite) {
  ASSERT_TRUE(ImageBuilder().Internal(0, PatternBytes(5000)).WriteFile("Quen.bin"));
  Connect();
  hid->RemoveAfterReport(20);
  EXPECT_THROW(device->Update(0), std::exception);
  EXPECT_EQ(hid->ReportCount(), 20u);
}

// Reports too long for the link's buffers, or an output report too short
// for a whole command: the update ends as a failed write, with nothing sent.
TEST_F(UsbDevice, AUnitWhoseReportsDoNotFitTheLinkIsNeverWritten) {
  ASSERT_TRUE(ImageBuilder().Internal(0, PatternBytes(64)).WriteFile("Quen.bin"));
  struct Case {
    USHORT input;
    USHORT output;
  };
  // No command gets as far as a wait: the listeners' stops may run short.
  support::ScopedTimeScale noCommand(kScale, kScale);
  for (Case c : {Case{300, 65}, Case{65, 4}}) {
    SCOPED_TRACE(testing::Message() << c.input << " " << c.output);
    platform::host::HidDeviceInfo info = SimHidUnit::Info();
    info.inputReportByteLength = c.input;
    info.outputReportByteLength = c.output;
    Connect(UsbProductQuen, true, info);
    EXPECT_THROW(device->Update(0), std::exception);
    EXPECT_EQ(hid->ReportCount(), 0u);
    EXPECT_EQ(unit.ReadInternal(0, 64), std::vector<uint8_t>(64, 0xFF));
    device.reset();
    hid.reset();
  }
}

}  // namespace
