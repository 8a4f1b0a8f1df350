// The HID link against simulated units registered with the host platform.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <platform/host/providers.h>
#include <platform/timescale.h>
#include <usb/AtomicLong.h>
#include <usb/DebugTrace.h>
#include <usb/USBHIDInterface.h>

#include "sim/SimHidUnit.h"
#include "sim/UpdaterUnit.h"
#include "tests/support/time_scale.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using platform::host::DebugOutputCapture;
using platform::host::HidDeviceInfo;
using sim::SimHidUnit;
using sim::UpdaterUnit;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

using Clock = std::chrono::steady_clock;

double ElapsedMs(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// The trace lines written, each line and its separate "\n" joined again.
std::vector<std::string> TraceLines(const DebugOutputCapture& capture) {
  std::vector<std::string> lines;
  std::vector<std::string> strings = capture.Strings();
  for (std::size_t i = 0; i < strings.size(); ++i) {
    if (strings[i] == "\n") continue;
    EXPECT_TRUE(i + 1 < strings.size() && strings[i + 1] == "\n")
        << "trace without its own newline: " << strings[i];
    lines.push_back(strings[i]);
  }
  return lines;
}

HidCommandReport Block(std::uint32_t command, std::uint32_t a1 = 0, std::uint32_t a2 = 0) {
  HidCommandReport block;
  block.SetCommand(command);
  block.SetArgument1(a1);
  block.SetArgument2(a2);
  return block;
}

HidDeviceInfo WithIds(USHORT vendor, USHORT product, USHORT version = UsbProductQuen) {
  HidDeviceInfo info = SimHidUnit::Info(version, product);
  info.vendorId = vendor;
  return info;
}

// The units' answer delays at a small scale. The link's waits keep their
// full length, as most of them end in an answer and return when it comes;
// a test, or the part of one, whose waits are to run out shrinks them to
// this scale too.
constexpr double kScale = 0.02;

class HidLink : public testing::Test {
 protected:
  support::ScopedTimeScale scale{kScale, 1.0};
  UpdaterUnit unit;
};

// Returns once the listener's read is outstanding: the listener has passed
// its first flag test and is about to wait, or waits already.
void AwaitListenersRead(SimHidUnit& simulated) {
  const auto start = Clock::now();
  while (simulated.Registration().PendingReads() != 1 && ElapsedMs(start) < 5000.0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(simulated.Registration().PendingReads(), 1u);
}

TEST(AtomicLongTest, StartsAtZeroAndKeepsWhatIsWritten) {
  AtomicLong value;
  EXPECT_EQ(value.Read(), 0);
  value.Write(-7);
  EXPECT_EQ(value.Read(), -7);
}

TEST(DebugTraceTest, FormatsOneLineThenANewlineOfItsOwn) {
  DebugOutputCapture capture;
  DebugTrace("cmd result %08x, retry count %d", 0x102u, 3);
  EXPECT_THAT(capture.Strings(), ElementsAre("cmd result 00000102, retry count 3", "\n"));
}

TEST(DebugTraceTest, ALineUpTo1023CharactersIsWrittenWhole) {
  DebugOutputCapture capture;
  const std::string text(1023, 'x');
  DebugTrace("%s", text.c_str());
  EXPECT_THAT(capture.Strings(), ElementsAre(text, "\n"));
}

TEST(DebugTraceTest, AnOverlongLineIsDroppedNeverOverrun) {
  for (std::size_t length : {1024u, 1500u}) {
    DebugOutputCapture capture;
    const std::string text(length, 'x');
    DebugTrace("%s", text.c_str());
    // Nothing half-written: an empty line, and the newline all the same.
    EXPECT_THAT(capture.Strings(), ElementsAre("", "\n")) << length;
  }
}

TEST(UsbProductCodeTest, TenCodesMeanUpdateMode) {
  for (std::uint32_t code : {0x25u, 0x31u, 0x34u, 0x36u, 0x38u, 0x40u, 0x42u, 0x44u, 0x46u, 0x50u})
    EXPECT_TRUE(IsUsbProductCode(code)) << code;
  for (std::uint32_t code : {0x0u, 0x24u, 0x26u, 0x45u, 0x47u, 0x51u, 0x146u})
    EXPECT_FALSE(IsUsbProductCode(code)) << code;
}

TEST(HidCommandReportTest, WordsAreLittleEndianAtTheirOffsets) {
  HidCommandReport block = Block(0x0403020Au, 0x11223344u, 0x55667788u);
  block.SetArgument3(0x99AABBCCu);
  block.Data()[0] = 0x42;
  const std::uint8_t expected[] = {0x0A, 0x02, 0x03, 0x04, 0x44, 0x33, 0x22, 0x11, 0x88,
                                   0x77, 0x66, 0x55, 0xCC, 0xBB, 0xAA, 0x99, 0x42};
  EXPECT_EQ(std::memcmp(block.bytes, expected, sizeof expected), 0);
}

TEST_F(HidLink, OpensTheFirstOfTwoMatchingUnitsWithTheGivenAccess) {
  UpdaterUnit other;
  SimHidUnit first(unit, SimHidUnit::Info(UsbProductQuen, 3));
  SimHidUnit second(other, SimHidUnit::Info(UsbProductPlimo, 2));
  USBHIDInterface link;
  link.Open();
  ASSERT_NE(link.m_queryHandle, nullptr);
  EXPECT_EQ(link.GetProductCode(), UsbProductQuen);
  EXPECT_EQ(link.DevicePath(), first.Registration().DevicePath());
  EXPECT_THAT(second.Registration().Opens(), IsEmpty());

  auto opens = first.Registration().Opens();
  ASSERT_EQ(opens.size(), 3u);
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  EXPECT_EQ(opens[0].access, 0u);
  EXPECT_EQ(opens[0].flags, 0u);
  EXPECT_EQ(opens[1].access, GENERIC_WRITE);
  EXPECT_EQ(opens[1].flags, 0u);
  EXPECT_EQ(opens[2].access, GENERIC_READ);
  EXPECT_EQ(opens[2].flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
  for (const auto& open : opens) {
    EXPECT_EQ(open.shareMode, share);
    EXPECT_TRUE(open.open);
  }
  EXPECT_EQ(link.Caps().InputReportByteLength, 65);
  EXPECT_EQ(link.Caps().OutputReportByteLength, 65);
}

TEST_F(HidLink, PassesOverOtherProductsAndVendors) {
  UpdaterUnit a, b, c;
  SimHidUnit product1(a, WithIds(kMakerUsbVendorId, 1));
  SimHidUnit product4(b, WithIds(kMakerUsbVendorId, 4));
  SimHidUnit foreign(c, WithIds(0x845E, 2));
  {
    USBHIDInterface link;
    link.Open();
    EXPECT_EQ(link.m_queryHandle, nullptr);
  }
  // Each candidate was opened for its attributes only, and closed again.
  for (SimHidUnit* passed : {&product1, &product4, &foreign}) {
    auto opens = passed->Registration().Opens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].access, 0u);
    EXPECT_FALSE(opens[0].open);
  }

  SimHidUnit match(unit, WithIds(kMakerUsbVendorId, 3));
  USBHIDInterface link;
  link.Open();
  EXPECT_EQ(link.DevicePath(), match.Registration().DevicePath());
}

TEST_F(HidLink, UpdateModeAndProductCodeComeFromTheVersionNumber) {
  // No command: the listeners' flag tests and stop bounds may run short.
  support::ScopedTimeScale noCommand(kScale, kScale);
  struct Case {
    USHORT version;
    bool updateMode;
    std::uint32_t code;
  };
  for (Case c : {Case{0x46, true, 0x46}, Case{0x25, true, 0x25}, Case{0x26, false, 0},
                 Case{0x45, false, 0}}) {
    UpdaterUnit u;
    SimHidUnit simulated(u, SimHidUnit::Info(c.version));
    USBHIDInterface link;
    link.Open();
    ASSERT_NE(link.m_queryHandle, nullptr);
    EXPECT_EQ(link.IsInUpdateMode(), c.updateMode) << c.version;
    EXPECT_EQ(link.GetProductCode(), c.code) << c.version;
  }
}

TEST_F(HidLink, AUnitThatHasGoneIsNotInUpdateMode) {
  SimHidUnit simulated(unit);
  USBHIDInterface link;
  link.Open();
  ASSERT_TRUE(link.IsInUpdateMode());
  simulated.Remove();
  EXPECT_FALSE(link.IsInUpdateMode());
  EXPECT_EQ(link.GetProductCode(), 0u);
}

TEST_F(HidLink, OpeningTracesStartAndThread) {
  SimHidUnit simulated(unit);
  DebugOutputCapture capture;
  {
    USBHIDInterface link;
    link.Open();
    std::vector<std::string> lines = TraceLines(capture);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Started listening: 0");
    EXPECT_EQ(lines[1].rfind("Created thread: ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1], "Created thread: 0");
  }
}

TEST_F(HidLink, AnAnswerIsCopiedWholeFromItsReportIdOn) {
  unit.LoadInternal(0, {1, 2, 3, 4});
  SimHidUnit simulated(unit);
  USBHIDInterface link;
  link.Open();
  std::uint8_t response[256];
  std::memset(response, 0xCC, sizeof response);
  ASSERT_EQ(link.SendCommand(Block(9, 0, 4), response, 256), 0);

  EXPECT_EQ(response[0], 0);  // report id
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(response[i], 0xEE) << i;
  EXPECT_EQ(HidResponseReport::Result(response), 10u);
  for (int i = 10; i < 65; ++i) EXPECT_EQ(response[i], 0xEE) << i;
  for (int i = 65; i < 256; ++i) ASSERT_EQ(response[i], 0) << i;

  // The output report: report id 0, then the block, as long as declared.
  auto reports = simulated.Reports();
  ASSERT_EQ(reports.size(), 1u);
  ASSERT_EQ(reports[0].size(), 65u);
  EXPECT_EQ(reports[0][0], 0);
  EXPECT_EQ(reports[0][1], 9);
  EXPECT_EQ(reports[0][9], 4);
}

TEST_F(HidLink, ACopyNeverGoesBeyondTheLengthGiven) {
  SimHidUnit simulated(unit);
  USBHIDInterface link;
  link.Open();
  std::uint8_t response[256];
  std::memset(response, 0xCC, sizeof response);
  ASSERT_EQ(link.SendCommand(Block(9), response, 8), 0);
  EXPECT_EQ(response[0], 0);
  EXPECT_EQ(response[5], 0xEE);
  for (int i = 8; i < 256; ++i) ASSERT_EQ(response[i], 0xCC) << i;
}

TEST_F(HidLink, AUnitThatNeverAnswersGetsFiveTriesAndTraces) {
  support::ScopedTimeScale silent(kScale, kScale);  // every try runs out
  SimHidUnit simulated(unit);
  simulated.NeverAnswer();
  USBHIDInterface link;
  link.Open();
  DebugOutputCapture capture;
  std::uint8_t response[256] = {};
  const auto start = Clock::now();
  const std::int32_t result = link.SendCommand(Block(11, 0x100, 64), response, 256);
  EXPECT_EQ(result, static_cast<std::int32_t>(WAIT_TIMEOUT));
  EXPECT_GE(ElapsedMs(start), 0.95 * 5 * 10000 * kScale);
  EXPECT_EQ(simulated.ReportCount(), 5u);
  for (const auto& block : simulated.Blocks()) EXPECT_EQ(block.Command(), 11u);
  EXPECT_THAT(TraceLines(capture),
              ElementsAre("USBHIDInterface::SendCommand() cmd result 00000102, retry count 1",
                          "USBHIDInterface::SendCommand() cmd result 00000102, retry count 2",
                          "USBHIDInterface::SendCommand() cmd result 00000102, retry count 3",
                          "USBHIDInterface::SendCommand() cmd result 00000102, retry count 4",
                          "USBHIDInterface::SendCommand() cmd result 00000102, retry count 5"));
}

TEST_F(HidLink, ALateAnswerEndsTheNextTry) {
  SimHidUnit simulated(unit);
  // The first try's answer comes only once the second try has written; the
  // second's own answer never comes.
  simulated.AnswerLateTo(1);
  simulated.DropAnswerTo(2);
  // So the first try runs out, and waits a short time; the second ends in
  // the late answer, and waits its full time.
  support::ScopedTimeScale firstTry(kScale, kScale);
  simulated.AtReport(2, [] { platform::SetTimeOutScale(1.0); });
  USBHIDInterface link;
  link.Open();
  DebugOutputCapture capture;
  EXPECT_EQ(link.SendCommand(Block(13), nullptr, 0), 0);
  EXPECT_EQ(simulated.ReportCount(), 2u);
  EXPECT_THAT(TraceLines(capture),
              ElementsAre("USBHIDInterface::SendCommand() cmd result 00000102, retry count 1"));
}

// Answers a second before and a second after the first try's wait ends,
// the delays and the waits at one scale. That second is 200 ms here: one
// case races its answer against the wait's end and the other the wait's
// end against its answer, so the margin stays wide of the few ms a loaded
// sanitizer run delays a thread. Each case is a test of its own, so that
// the two run side by side.
struct TryCase {
  std::uint32_t answerAfterMs;
  std::size_t reports;
  std::size_t traces;
};

void PrintTo(const TryCase& c, std::ostream* os) { *os << "answer after " << c.answerAfterMs; }

class HidLinkTry : public HidLink, public testing::WithParamInterface<TryCase> {
 protected:
  static constexpr double kTryScale = 0.2;
  support::ScopedTimeScale tryScale{kTryScale, kTryScale};
};

TEST_P(HidLinkTry, EachTryWaitsTenSecondsForItsAnswer) {
  const TryCase c = GetParam();
  SimHidUnit simulated(unit);
  simulated.AnswerAfter(c.answerAfterMs);
  USBHIDInterface link;
  link.Open();
  DebugOutputCapture capture;
  EXPECT_EQ(link.SendCommand(Block(13), nullptr, 0), 0);
  EXPECT_EQ(simulated.ReportCount(), c.reports);
  EXPECT_EQ(TraceLines(capture).size(), c.traces);
}

INSTANTIATE_TEST_SUITE_P(ASecondBeforeOrAfter, HidLinkTry,
                         testing::Values(TryCase{9000, 1, 0}, TryCase{11000, 2, 1}),
                         [](const testing::TestParamInfo<TryCase>& info) {
                           return "AnswerAfter" + std::to_string(info.param.answerAfterMs);
                         });

TEST_F(HidLink, ACommandWithoutBufferStillWaitsForItsAnswer) {
  SimHidUnit simulated(unit);
  simulated.AnswerAfter(5000);
  USBHIDInterface link;
  link.Open();
  DebugOutputCapture capture;
  const auto start = Clock::now();
  EXPECT_EQ(link.SendCommand(Block(13), nullptr, 0), 0);
  EXPECT_GE(ElapsedMs(start), 5000 * kScale * 0.9);
  EXPECT_THAT(TraceLines(capture), IsEmpty());

  simulated.NeverAnswer();
  support::ScopedTimeScale silent(kScale, kScale);  // every try runs out
  EXPECT_NE(link.SendCommand(Block(13), nullptr, 0), 0);
  EXPECT_EQ(simulated.ReportCount(), 6u);
}

TEST_F(HidLink, AnInterfaceWithoutUnitThrowsAndStopsSilently) {
  DebugOutputCapture capture;
  auto link = std::make_unique<USBHIDInterface>();
  link->Open();
  EXPECT_EQ(link->m_queryHandle, nullptr);
  EXPECT_FALSE(link->IsInUpdateMode());
  EXPECT_EQ(link->GetProductCode(), 0u);
  std::uint8_t response[256];
  EXPECT_THROW(link->SendCommand(Block(9), response, 256), std::exception);
  const auto start = Clock::now();
  link.reset();
  EXPECT_LT(ElapsedMs(start), 50.0);
  EXPECT_THAT(capture.Strings(), IsEmpty());
}

TEST_F(HidLink, AFailingWriteThrowsAtOnceWithoutTrace) {
  SimHidUnit simulated(unit);
  simulated.FailWritesFrom(2);
  USBHIDInterface link;
  link.Open();
  DebugOutputCapture capture;
  EXPECT_EQ(link.SendCommand(Block(13), nullptr, 0), 0);
  EXPECT_THROW(link.SendCommand(Block(13), nullptr, 0), std::exception);
  EXPECT_EQ(simulated.ReportCount(), 1u);
  EXPECT_THAT(capture.Strings(), IsEmpty());
}

TEST_F(HidLink, AUnitRemovedWhileOpenMakesWritesThrow) {
  SimHidUnit simulated(unit);
  USBHIDInterface link;
  link.Open();
  EXPECT_EQ(link.SendCommand(Block(13), nullptr, 0), 0);
  simulated.Remove();
  EXPECT_THROW(link.SendCommand(Block(13), nullptr, 0), std::exception);
}

TEST_F(HidLink, DestroyingAListeningInterfaceTracesOnceAndEndsItsListener) {
  // At full length: the listener's flag test comes every 300 ms, and the
  // stop bound of 1300 ms leaves it a wide margin to notice the stop.
  SimHidUnit simulated(unit);
  const std::size_t threadsBefore = platform::host::RunningThreads();
  auto link = std::make_unique<USBHIDInterface>();
  link->Open();
  EXPECT_EQ(platform::host::RunningThreads(), threadsBefore + 1);
  ASSERT_NO_FATAL_FAILURE(AwaitListenersRead(simulated));
  DebugOutputCapture capture;
  const auto start = Clock::now();
  link.reset();
  // Ended at its next flag test, not by the cancel once the bound ran out.
  EXPECT_LT(ElapsedMs(start), USBHIDInterface::kFlagTestMs + 500.0);
  EXPECT_THAT(capture.Strings(), ElementsAre("Stopped listening: 0", "\n"));
  EXPECT_EQ(platform::host::RunningThreads(), threadsBefore);
  EXPECT_EQ(simulated.Registration().PendingReads(), 0u);
  for (const auto& open : simulated.Registration().Opens()) EXPECT_FALSE(open.open);
}

TEST_F(HidLink, AListenerLateForTheStopBoundIsWaitedForBeforeAnythingIsReleased) {
  SimHidUnit simulated(unit);
  const std::size_t threadsBefore = platform::host::RunningThreads();
  // The listener starts its flag-test wait stretched to 1200 ms; the stop
  // bound then runs shrunk to 65 ms and expires long before that wait ends.
  constexpr double kListenerScale = 4.0;
  constexpr double kStopScale = 0.05;
  platform::SetTimeOutScale(kListenerScale);
  auto link = std::make_unique<USBHIDInterface>();
  link->Open();
  ASSERT_NO_FATAL_FAILURE(AwaitListenersRead(simulated));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));  // into its wait
  platform::SetTimeOutScale(kStopScale);
  const auto start = Clock::now();
  link.reset();
  const double elapsed = ElapsedMs(start);
  // The whole bound was given to the listener first; then it was ended by
  // cancelling its read, long before its own wait would have run out.
  EXPECT_GE(elapsed, 0.9 * 1300 * kStopScale);
  EXPECT_LT(elapsed, 1300 * kStopScale + 400.0);
  EXPECT_EQ(platform::host::RunningThreads(), threadsBefore);
  EXPECT_EQ(simulated.Registration().PendingReads(), 0u);
  for (const auto& open : simulated.Registration().Opens()) EXPECT_FALSE(open.open);
}

// An output report longer than the write buffer, or too short to hold the
// report id and the whole block, is never written: a cut command could be
// taken for another by a unit in its update mode. An input report longer
// than the read buffer is never read.
TEST_F(HidLink, ReportsOutsideTheLinksBoundsAreNeverReadOrWritten) {
  struct Case {
    USHORT input;
    USHORT output;
  };
  // No command gets as far as a wait: the listeners' flag tests and stop
  // bounds may run short.
  support::ScopedTimeScale noWait(kScale, kScale);
  for (Case c : {Case{257, 65}, Case{1024, 65}, Case{65, 129}, Case{65, 512}, Case{65, 64},
                 Case{65, 4}, Case{65, 1}, Case{65, 0}}) {
    UpdaterUnit u;
    HidDeviceInfo info = SimHidUnit::Info();
    info.inputReportByteLength = c.input;
    info.outputReportByteLength = c.output;
    SimHidUnit simulated(u, info);
    USBHIDInterface link;
    link.Open();
    ASSERT_NE(link.m_queryHandle, nullptr);
    EXPECT_TRUE(link.IsInUpdateMode());
    std::uint8_t response[256];
    EXPECT_THROW(link.SendCommand(Block(9), response, 256), std::exception)
        << c.input << " " << c.output;
    EXPECT_EQ(simulated.ReportCount(), 0u) << c.input << " " << c.output;
    if (c.input > USBHIDInterface::kReadBufferSize) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      EXPECT_EQ(simulated.Registration().PendingReads(), 0u);
    }
  }
}

TEST_F(HidLink, ReportsWithinTheLinksBoundsAreServed) {
  struct Case {
    USHORT input;
    USHORT output;
  };
  for (Case c : {Case{256, 128}, Case{65, 65}}) {
    UpdaterUnit u;
    HidDeviceInfo info = SimHidUnit::Info();
    info.inputReportByteLength = c.input;
    info.outputReportByteLength = c.output;
    u.LoadInternal(0, {7, 7});
    SimHidUnit simulated(u, info);
    USBHIDInterface link;
    link.Open();
    std::uint8_t response[256] = {};
    ASSERT_EQ(link.SendCommand(Block(9, 0, 2), response, 256), 0) << c.input << " " << c.output;
    EXPECT_EQ(HidResponseReport::Result(response), 14u);
    EXPECT_EQ(response[c.input - 1], 0xEE) << c.input;
    auto reports = simulated.Reports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_EQ(reports[0].size(), c.output);
    EXPECT_EQ(reports[0][0], 0);
    EXPECT_EQ(std::memcmp(reports[0].data() + 1, Block(9, 0, 2).bytes, HidCommandReport::kSize), 0);
    for (std::size_t i = 65; i < c.output; ++i) EXPECT_EQ(reports[0][i], 0) << i;
  }
}

TEST_F(HidLink, AnswersAfterTheCommandReturnedNeverReachItsBuffer) {
  unit.LoadInternal(0, {1, 1});
  SimHidUnit simulated(unit);
  // The first try's answer comes during the second try, whose own answer,
  // with another sum, comes only after the command has returned.
  simulated.AnswerLateTo(1);
  simulated.AnswerLateTo(2);
  simulated.AtReport(2, [&] {
    unit.LoadInternal(0, {9, 9});
    platform::SetTimeOutScale(1.0);  // the second try ends in an answer
  });
  support::ScopedTimeScale firstTry(kScale, kScale);  // runs out
  USBHIDInterface link;
  link.Open();
  std::uint8_t response[256];
  std::memset(response, 0xCC, sizeof response);
  ASSERT_EQ(link.SendCommand(Block(9, 0, 2), response, 256), 0);
  EXPECT_EQ(HidResponseReport::Result(response), 2u);

  // The second answer arrives while no command waits; once the listener's
  // next read is outstanding it has handled that answer.
  ASSERT_NO_FATAL_FAILURE(AwaitListenersRead(simulated));
  simulated.SendLateAnswers();
  ASSERT_NO_FATAL_FAILURE(AwaitListenersRead(simulated));
  EXPECT_EQ(HidResponseReport::Result(response), 2u);
  EXPECT_EQ(simulated.ReportCount(), 2u);
}

}  // namespace
