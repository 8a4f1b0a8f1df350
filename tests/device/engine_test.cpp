// The shared record walk and compare-then-write, through a small device that
// hands its commands straight to the simulated unit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/DeviceEngine.h"
#include "device/UpdateStatus.h"
#include "sim/ImageBuilder.h"
#include "sim/UpdaterUnit.h"
#include "tests/support/trace_client.h"
#include "tests/support/work_dir.h"

namespace {

using sim::UnitCommand;
using support::TraceClient;
using testing::ElementsAre;
using testing::ElementsAreArray;

constexpr const char* kFile = "unit.bin";

// A bus-less device: the chunk buffer is filled in 48-byte packets straight
// into the unit, commands are executed on it directly.
class SimDevice : public DeviceEngine {
 public:
  SimDevice(UpdaterDlgClient* client, sim::UpdaterUnit& unit, std::vector<std::string>& trace)
      : DeviceEngine(client), m_unit(unit), m_trace(trace) {}

  void WriteRegister(uint32_t, uint32_t) override {}
  void DisplayText(const char* text) override {
    m_trace.push_back(std::string("display ") + (text ? text : ""));
    uint8_t data[48] = {};
    if (text) std::memcpy(data, text, std::min<size_t>(48, std::strlen(text)));
    m_unit.Execute(DeviceCommandDisplayText, 0, 0, data, 48);
  }
  void TakeImageHeader(const FirmwareImageHeader* header) override {
    FormatFirmwareVersion(m_versionText, header);
  }
  USBHIDInterface* GetHidInterface() override { return nullptr; }

  const char* fileName = kFile;
  bool wholeWords = false;
  std::vector<uint32_t> fills;

 protected:
  const char* ImageFileName() override { return fileName; }
  bool NeedsWholeWords() const override { return wholeWords; }
  void BeforeImage() override { m_trace.push_back("before image"); }
  void AcceptImageHeader(const FirmwareImageHeader* header) override {
    m_trace.push_back("accept header");
    TakeImageHeader(header);
  }
  void AfterStartingUp() override { m_trace.push_back("after starting up"); }
  void AfterWalk() override { m_trace.push_back("after walk"); }
  void OnRecordStart(uint32_t length) override {
    m_trace.push_back("record " + std::to_string(length));
  }
  void BeforeFirstAttempt() override { m_trace.push_back("before first attempt"); }
  void OnAttemptStart(uint32_t length) override {
    m_trace.push_back("attempt " + std::to_string(length));
  }
  void OnChunkStart(uint32_t sent) override { m_trace.push_back("chunk " + std::to_string(sent)); }
  void FillChunk(const uint8_t* data, uint32_t count) override {
    fills.push_back(count);
    for (uint32_t offset = 0; offset < count; offset += 48) {
      const uint32_t n = std::min<uint32_t>(48, count - offset);
      m_unit.FillChunkBuffer(offset, data + offset, n);
      CountBytesSent(n);
    }
  }
  void ProgramChunk(uint32_t command, uint32_t a1, uint32_t a2) override {
    m_trace.push_back("program " + std::to_string(command));
    m_unit.Execute(command, a1, a2);
  }
  void OnChunkDone(uint32_t sent) override {
    m_trace.push_back("chunk done " + std::to_string(sent));
  }
  void BeforeRecompare() override { m_trace.push_back("recompare"); }
  uint32_t QueryUnit(uint32_t command, uint32_t a1, uint32_t a2) override {
    return m_unit.Execute(command, a1, a2);
  }
  void OnCompared(uint32_t command, uint32_t computed, uint32_t unit) override {
    m_trace.push_back("compared " + std::to_string(command) +
                      (computed == unit ? " equal" : " differs"));
  }

 private:
  sim::UpdaterUnit& m_unit;
  std::vector<std::string>& m_trace;
};

// Every test runs in a fresh temporary directory, the image's home.
class EngineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_workDir.ok());
    client.device = &device;
  }

  // The unit's commands other than display texts.
  std::vector<UnitCommand> FlashCommands() const {
    std::vector<UnitCommand> out;
    for (const auto& c : unit.Log())
      if (c.command != DeviceCommandDisplayText) out.push_back(c);
    return out;
  }
  // The unit's commands of one kind, in order.
  std::vector<UnitCommand> CommandsOf(uint32_t command) const {
    std::vector<UnitCommand> out;
    for (const auto& c : unit.Log())
      if (c.command == command) out.push_back(c);
    return out;
  }
  int Run(const sim::ImageBuilder& image) {
    EXPECT_TRUE(image.WriteFile(kFile));
    return device.Update(0);
  }

  std::vector<std::string> trace;
  sim::UpdaterUnit unit;
  TraceClient client{trace};
  SimDevice device{&client, unit, trace};

 private:
  support::ScopedWorkDir m_workDir{"varn-engine"};
};

constexpr uint32_t kHs = sim::ImageBuilder::kDefaultRecordHeaderSize;

TEST_F(EngineTest, EmptyImageShowsStartAndCompleteOnly) {
  EXPECT_EQ(Run(sim::ImageBuilder().Version(0x00203607)), UpdateStatusDone);
  EXPECT_THAT(unit.DisplayHistory(),
              ElementsAre("Starting Up...", "Update Complete Pls Power Cycle"));
  EXPECT_TRUE(FlashCommands().empty());
  EXPECT_TRUE(client.progress.empty());
  EXPECT_EQ(device.GetTotalBytes(), 0u);
  EXPECT_STREQ(device.GetVersionText(), L" 2.03b7");
}

TEST_F(EngineTest, RecordAlreadyPresentCostsTwoCompares) {
  const auto data = sim::PatternBytes(700);
  unit.LoadInternal(0x1000, data);
  EXPECT_EQ(Run(sim::ImageBuilder().Internal(0x1000, data)), UpdateStatusDone);
  EXPECT_THAT(FlashCommands(),
              ElementsAre(UnitCommand{9, 0x1000, 700, 0}, UnitCommand{11, 0x1000, 700, 0}));
  EXPECT_EQ(device.GetBytesDone(), kHs + 700);
  EXPECT_EQ(device.GetTotalBytes(), kHs + 700);
  EXPECT_THAT(client.progress, ElementsAre(kHs + 700));  // once, after the record
}

TEST_F(EngineTest, ExternalRecordAlreadyPresentUsesPageArguments) {
  const auto data = sim::PatternBytes(3 * 528);
  unit.LoadExternal(7, data);
  EXPECT_EQ(Run(sim::ImageBuilder().External(7, data)), UpdateStatusDone);
  EXPECT_THAT(FlashCommands(), ElementsAre(UnitCommand{10, 7, 3, 0}, UnitCommand{12, 7, 3, 0}));
}

TEST_F(EngineTest, OneRecordWrittenAtFirstAttemptInHookOrder) {
  const auto data = sim::PatternBytes(100);
  EXPECT_EQ(Run(sim::ImageBuilder().Internal(0x200, data)), UpdateStatusDone);
  // The sum differs on erased flash, so no CRC is asked before writing.
  EXPECT_THAT(trace, ElementsAre("before image", "accept header", "display Starting Up...",
                                 "after starting up", "record 100", "compared 9 differs",
                                 "before first attempt", "attempt 100", "chunk 0", "program 8",
                                 "chunk done 100", "progress", "recompare", "compared 9 equal",
                                 "compared 11 equal", "progress",
                                 "display Update Complete Pls Power Cycle", "after walk"));
  EXPECT_THAT(FlashCommands(),
              ElementsAre(UnitCommand{9, 0x200, 100, 0}, UnitCommand{8, 0x200, 100, 0},
                          UnitCommand{9, 0x200, 100, 0}, UnitCommand{11, 0x200, 100, 0}));
  EXPECT_EQ(unit.ReadInternal(0x200, 100), data);
  EXPECT_EQ(device.GetBytesDone(), kHs + 100);
}

TEST_F(EngineTest, SumAgreeingButCrcDifferingStillWrites) {
  // A CRC answer with a high bit set never matches, even when its low half does.
  const auto data = sim::PatternBytes(64);
  unit.LoadInternal(0, data);
  unit.ForceResult(11, 0x10000u | sim::UnitCrc16(data.data(), data.size()));
  EXPECT_EQ(Run(sim::ImageBuilder().Internal(0, data)), UpdateStatusUnverified);
  EXPECT_EQ(unit.CountOf(8), 3u);
  EXPECT_EQ(unit.CountOf(11), 4u);
}

TEST_F(EngineTest, RecordFailingThreeTimesIsReportedButTheWalkGoesOn) {
  const auto bad = sim::PatternBytes(100, 1);
  const auto good = sim::PatternBytes(64, 2);
  unit.RefuseInternalWrites(0x100, 100);
  const sim::ImageBuilder image = sim::ImageBuilder().Internal(0x100, bad).Internal(0x2000, good);
  EXPECT_EQ(Run(image), UpdateStatusUnverified);

  const std::vector<UnitCommand> programs = CommandsOf(8);
  EXPECT_THAT(programs, ElementsAre(UnitCommand{8, 0x100, 100, 0}, UnitCommand{8, 0x100, 100, 0},
                                    UnitCommand{8, 0x100, 100, 0}, UnitCommand{8, 0x2000, 64, 0}));
  EXPECT_EQ(unit.ReadInternal(0x2000, 64), good);
  EXPECT_EQ(unit.DisplayText(), "Update Failed   Pls Retry");
  // The failed record counts its header only.
  EXPECT_EQ(device.GetBytesDone(), image.TotalBytes() - 100);
  // Per attempt: bytes grow by the packets, then fall back by the length.
  EXPECT_THAT(client.progress,
              ElementsAre(kHs + 100, kHs + 100, kHs + 100, kHs, kHs + kHs + 64, kHs + kHs + 64));
}

TEST_F(EngineTest, WriteRecordReturnsZeroAfterThreeFailuresAndLengthOtherwise) {
  const auto image = sim::ImageBuilder().Internal(0x40, sim::PatternBytes(96)).Build();
  const uint8_t* base = image.data() + sim::ImageBuilder::kDefaultImageHeaderSize;
  const auto* record = FirmwareRecordHeader::At(base);

  unit.RefuseInternalWrites(0x40, 1);
  EXPECT_EQ(device.WriteRecord(record, base), 0u);
  EXPECT_EQ(device.GetBytesDone(), kHs);
  EXPECT_EQ(unit.CountOf(8), 3u);

  sim::UpdaterUnit healthy;
  std::vector<std::string> otherTrace;
  SimDevice other(nullptr, healthy, otherTrace);  // no client: nothing to call
  EXPECT_EQ(other.WriteRecord(record, base), 96u);
  EXPECT_EQ(other.GetBytesDone(), kHs + 96);
  EXPECT_EQ(other.WriteRecord(record, base), 96u);  // now present
  EXPECT_EQ(other.GetBytesDone(), 2 * (kHs + 96));
}

TEST_F(EngineTest, ExternalRecordSplitsIntoFifteenPagesAndTheRest) {
  const auto data = sim::PatternBytes(8448);
  EXPECT_EQ(Run(sim::ImageBuilder().External(3, data)), UpdateStatusDone);
  EXPECT_THAT(device.fills, ElementsAre(7920u, 528u));
  const std::vector<UnitCommand> programs = CommandsOf(6);
  EXPECT_THAT(programs, ElementsAre(UnitCommand{6, 3, 15, 0}, UnitCommand{6, 18, 1, 0}));
  EXPECT_EQ(unit.ReadExternal(3, 8448), data);
  EXPECT_THAT(client.progress, ElementsAre(kHs + 7920, kHs + 8448, kHs + 8448));
}

TEST_F(EngineTest, InternalRecordSplitsAtTheChunkSize) {
  const auto data = sim::PatternBytes(10000);
  EXPECT_EQ(Run(sim::ImageBuilder().Internal(0x4000, data)), UpdateStatusDone);
  EXPECT_THAT(device.fills, ElementsAre(8192u, 1808u));
  const std::vector<UnitCommand> programs = CommandsOf(8);
  EXPECT_THAT(programs,
              ElementsAre(UnitCommand{8, 0x4000, 8192, 0}, UnitCommand{8, 0x4000 + 8192, 1808, 0}));
  EXPECT_EQ(unit.ReadInternal(0x4000, 10000), data);
  // Chunk starts and ends as the bus classes see them.
  std::vector<std::string> chunks;
  for (const auto& t : trace)
    if (t.rfind("chunk", 0) == 0) chunks.push_back(t);
  EXPECT_THAT(chunks, ElementsAre("chunk 0", "chunk done 8192", "chunk 8192", "chunk done 10000"));
}

TEST_F(EngineTest, BytesDoneReachesTotalOverMixedRecords) {
  const auto present = sim::PatternBytes(528, 3);
  unit.LoadExternal(0, present);
  const sim::ImageBuilder image = sim::ImageBuilder()
                                      .External(0, present, 0x14)
                                      .Internal(0x800, sim::PatternBytes(300, 4), 0x40)
                                      .External(10, sim::PatternBytes(2 * 528, 5));
  EXPECT_EQ(Run(image), UpdateStatusDone);
  EXPECT_EQ(device.GetTotalBytes(), image.TotalBytes());
  EXPECT_EQ(device.GetBytesDone(), image.TotalBytes());
  EXPECT_TRUE(std::is_sorted(client.progress.begin(), client.progress.end()));
  EXPECT_EQ(unit.DisplayText(), "Update Complete Pls Power Cycle");
}

TEST_F(EngineTest, InvalidExternalSizeAtTheCompareStepNeverAsksTheUnit) {
  // An image with such a record is refused before the walk; a record handed
  // to WriteRecord directly still meets the compare step's own check.
  std::vector<uint8_t> bytes(0x14 + 1000, 0x5A);
  sim::PutLE32(bytes, 0x04, 0x14);
  sim::PutLE32(bytes, 0x08, 1000);
  sim::PutLE32(bytes, 0x0C, 1);
  sim::PutLE32(bytes, 0x10, 4);
  testing::internal::CaptureStdout();
  const uint32_t result = device.WriteRecord(FirmwareRecordHeader::At(bytes.data()), bytes.data());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, 0u);
  std::string expected;
  for (int i = 0; i < 4; ++i) expected += "invalid external flash size\n";
  EXPECT_EQ(out, expected);
  EXPECT_THAT(FlashCommands(), ElementsAre(UnitCommand{6, 4, 2, 0}, UnitCommand{6, 4, 2, 0},
                                           UnitCommand{6, 4, 2, 0}));
}

TEST_F(EngineTest, MissingFileOrNoNameGivesBadSourceAndTouchesNothing) {
  EXPECT_EQ(device.Update(0), UpdateStatusBadSource);
  device.fileName = nullptr;
  EXPECT_EQ(device.Update(0), UpdateStatusBadSource);
  EXPECT_TRUE(unit.Log().empty());
  EXPECT_THAT(trace, ElementsAre("before image", "before image"));
}

// A sound image of two records, which each case below spoils one way.
struct Malformed {
  const char* name;
  std::function<void(std::vector<uint8_t>&, const sim::ImageBuilder&)> spoil;
  bool wholeWords = false;
};

constexpr size_t kTotalAt = 0x08;

void SetTotal(std::vector<uint8_t>& b, uint32_t total) { sim::PutLE32(b, kTotalAt, total); }
uint32_t Total(const std::vector<uint8_t>& b) { return ReadLE32(b.data() + kTotalAt); }

// An image of one internal record of 64 bytes at 0x1000 whose header starts
// at offset, over the image header's bytes where it is below 0x15. Every
// field the two share holds what both need, so only the offset is amiss:
// at 0x0C the version word is the record's header size.
std::vector<uint8_t> RecordAt(uint32_t offset) {
  constexpr uint32_t kHeader = 0x20, kLength = 64;
  std::vector<uint8_t> b(offset + kHeader + kLength, 0);
  sim::PutLE32(b, offset + 0x04, kHeader);
  sim::PutLE32(b, offset + 0x08, kLength);
  sim::PutLE32(b, offset + 0x0C, 0);
  sim::PutLE32(b, offset + 0x10, 0x1000);
  sim::PutLE32(b, 0x04, offset);
  SetTotal(b, kHeader + kLength);
  const auto data = sim::PatternBytes(kLength);
  std::copy(data.begin(), data.end(), b.begin() + offset + kHeader);
  return b;
}

TEST_F(EngineTest, MalformedImagesNeverReachTheUnit) {
  const sim::ImageBuilder base = sim::ImageBuilder()
                                     .Internal(0x1000, sim::PatternBytes(64))
                                     .External(2, sim::PatternBytes(528));
  const size_t second = base.RecordOffset(1);
  const Malformed cases[] = {
      {"empty file", [](auto& b, auto&) { b.clear(); }},
      {"shorter than the header fields", [](auto& b, auto&) { b.resize(0x10); }},
      {"no model byte", [](auto& b, auto&) { b.resize(0x14); }},
      {"first record past the end",
       [](auto& b, auto&) { sim::PutLE32(b, 0x04, uint32_t(b.size() + 1)); }},
      {"first record past the end, no records",
       [](auto& b, auto&) {
         SetTotal(b, 0);
         sim::PutLE32(b, 0x04, uint32_t(b.size() + 1));
       }},
      {"record header cut off", [second](auto& b, auto&) { b.resize(second + 0x10); }},
      {"record data cut off", [](auto& b, auto&) { b.pop_back(); }},
      {"header size below the fields",
       [](auto& b, auto&) {
         sim::PutLE32(b, 0x20 + 0x04, 0x10);
         SetTotal(b, Total(b) - 0x10);
       }},
      {"header size below the fields, sizes consistent",
       [](auto& b, auto&) {
         b = sim::ImageBuilder().Internal(0, sim::PatternBytes(64), 0x10).Build();
       }},
      {"empty record",
       [](auto& b, auto&) {
         sim::PutLE32(b, 0x20 + 0x04, 0);
         sim::PutLE32(b, 0x20 + 0x08, 0);
       }},
      {"record with no data",
       [second](auto& b, auto&) {
         // The external record keeps its header and loses its page.
         sim::PutLE32(b, second + 0x08, 0);
         SetTotal(b, Total(b) - 528);
         b.resize(b.size() - 528);
       }},
      {"total short of the records", [](auto& b, auto&) { SetTotal(b, Total(b) - 1); }},
      {"total beyond the records", [](auto& b, auto&) { SetTotal(b, Total(b) + 0x20); }},
      {"size overflows 32 bits",
       [second](auto& b, auto&) {
         // 0x14 + 0xFFFFFFF0 wraps to 4, which would fit the budget.
         sim::PutLE32(b, second + 0x04, 0x14);
         sim::PutLE32(b, second + 0x08, 0xFFFFFFF0u);
         SetTotal(b, uint32_t(second - 0x20 + 4));
       }},
      {"external record not whole pages",
       [second](auto& b, auto&) {
         sim::PutLE32(b, second + 0x08, 527);
         SetTotal(b, Total(b) - 1);
         b.pop_back();
       }},
      {"first record over the version word", [](auto& b, auto&) { b = RecordAt(0x0C); }},
      {"first record over the model byte", [](auto& b, auto&) { b = RecordAt(0x14); }},
      {"internal record running past 2^32",
       [](auto& b, auto&) {
         // It would program 8192 bytes at 0xFFFFF000 and 1808 at 0x1000.
         b = sim::ImageBuilder().Internal(0xFFFFF000u, sim::PatternBytes(10000)).Build();
       }},
      {"internal record one byte past 2^32",
       [](auto& b, auto&) { sim::PutLE32(b, 0x20 + 0x10, 0xFFFFFFC1u); }},
      {"external record running past 2^32",
       [](auto& b, auto&) {
         // Its sixteenth page would be page 7.
         b = sim::ImageBuilder().External(0xFFFFFFF8u, sim::PatternBytes(16 * 528)).Build();
       }},
      {"external record one page past 2^32",
       [](auto& b, auto&) {
         b = sim::ImageBuilder().External(0xFFFFFFFFu, sim::PatternBytes(2 * 528)).Build();
       }},
      {"record running past 2^32 on a word bus",
       [](auto& b, auto&) { sim::PutLE32(b, 0x20 + 0x10, 0xFFFFFFFCu); }, true},
      {"record not whole words on a word bus",
       [](auto& b, auto&) {
         const auto odd = sim::ImageBuilder().Internal(0, sim::PatternBytes(66)).Build();
         b = odd;
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    unit.ClearLog();
    trace.clear();
    auto bytes = base.Build();
    c.spoil(bytes, base);
    ASSERT_TRUE(sim::WriteFileBytes(kFile, bytes));
    device.wholeWords = c.wholeWords;
    EXPECT_EQ(device.Update(0), UpdateStatusBadSource);
    EXPECT_TRUE(unit.Log().empty());
    EXPECT_THAT(trace, ElementsAre("before image"));
    EXPECT_EQ(device.GetTotalBytes(), 0u);
    EXPECT_STREQ(device.GetVersionText(), L"");
  }

  // The same images unspoiled go through, and so does a first record
  // right after the header.
  device.wholeWords = true;
  EXPECT_EQ(Run(base), UpdateStatusDone);
  device.wholeWords = false;
  EXPECT_EQ(Run(sim::ImageBuilder().Internal(0, sim::PatternBytes(66))), UpdateStatusDone);
  ASSERT_TRUE(sim::WriteFileBytes(kFile, RecordAt(0x15)));
  EXPECT_EQ(device.Update(0), UpdateStatusDone);
  EXPECT_EQ(unit.ReadInternal(0x1000, 64), sim::PatternBytes(64));
}

TEST_F(EngineTest, RecordsEndingExactlyAt2To32ReachTheUnit) {
  // The last byte address and the last page are the unit's to name. The
  // simulated unit has no flash up there, so every attempt fails.
  const sim::ImageBuilder image = sim::ImageBuilder()
                                      .Internal(0xFFFFD8F0u, sim::PatternBytes(10000))
                                      .External(0xFFFFFFF0u, sim::PatternBytes(16 * 528));
  EXPECT_EQ(Run(image), UpdateStatusUnverified);
  const std::vector<UnitCommand> internalAttempt = {{8, 0xFFFFD8F0u, 8192, 0},
                                                    {8, 0xFFFFF8F0u, 1808, 0}};
  const std::vector<UnitCommand> externalAttempt = {{6, 0xFFFFFFF0u, 15, 0},
                                                    {6, 0xFFFFFFFFu, 1, 0}};
  std::vector<UnitCommand> internalAll, externalAll;
  for (int i = 0; i < 3; ++i) {
    internalAll.insert(internalAll.end(), internalAttempt.begin(), internalAttempt.end());
    externalAll.insert(externalAll.end(), externalAttempt.begin(), externalAttempt.end());
  }
  EXPECT_EQ(CommandsOf(DeviceCommandProgramInternal), internalAll);
  EXPECT_EQ(CommandsOf(DeviceCommandProgramExternal), externalAll);
}

TEST_F(EngineTest, SecondUpdateStartsAgainFromTheFile) {
  const sim::ImageBuilder image = sim::ImageBuilder().Internal(0, sim::PatternBytes(200));
  EXPECT_EQ(Run(image), UpdateStatusDone);
  unit.ClearLog();
  EXPECT_EQ(Run(image), UpdateStatusDone);
  EXPECT_THAT(FlashCommands(), ElementsAre(UnitCommand{9, 0, 200, 0}, UnitCommand{11, 0, 200, 0}));
  EXPECT_EQ(device.GetBytesDone(), image.TotalBytes());
}

}  // namespace
