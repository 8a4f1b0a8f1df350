// The dialog of kind 0 end to end: the real dialog on the host window
// services, the real driver link, listeners and FireWire device class,
// against the simulated FireWire driver and the units behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <Glue/ConfigClasses.h>
#include <device/DeviceUtilitiesFW.h>
#include <firewire/ClientModeApi.h>

#include "dialog_harness.h"
#include "sim/ImageBuilder.h"
#include "sim/SimFireWireDriver.h"
#include "sim/SimFireWireUpdater.h"
#include "sim/UpdaterUnit.h"
#include "support/captured_stdout.h"

namespace {

using namespace e2e;
using platform::ui::Click;
using platform::ui::PressEscape;
using platform::ui::Script;
using platform::ui::TopDialog;
using sim::ImageBuilder;
using sim::PatternBytes;
using sim::SimFireWireDriver;
using sim::SimFireWireUnit;
using sim::SimFireWireUpdater;
using sim::UpdaterUnit;

constexpr int kKind = ProductKindFireWire;
constexpr std::uint64_t kOrvelId = 0x0001F2A500C0FFEEull;
constexpr std::uint64_t kPaskoId = 0x0001F2A500C0BEEFull;

class FireWireDialog : public DialogTest {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }
  void TearDown() override {
    // The dialog goes first (its listener leaves the client), then the
    // process-wide session, before the driver.
    dlg.reset();
    ClientModeApi_ReleaseSession();
  }

  std::shared_ptr<SimFireWireUnit> AddUnit(std::uint64_t id, std::uint32_t model) {
    auto unit = std::make_shared<SimFireWireUnit>(id, u"unit", model);
    driver.AddUnit(unit);
    return unit;
  }

  // The dialog makes the process-wide session itself: the harness keeps
  // the waits for an answer, its 1000 ms connect wait among them, at full
  // length.
  RecordingDlg& Dialog() {
    dlg = std::make_unique<RecordingDlg>(ProductKindFireWire);
    m_ticksAtOpen = platform::ui::TimerTicks();
    return *dlg;
  }

  // The scans the last dialog has run: the one it opens with and one for
  // every tick since. A loaded machine may tick before a script's first
  // step, so a count of calls per scan is checked against this.
  std::uint64_t Scans() const { return 1 + platform::ui::TimerTicks() - m_ticksAtOpen; }

  // Runs the dialog with the script; the script must end it.
  void Run(Script& script) {
    dlg->DoModal();
    EXPECT_TRUE(script.Finished());
  }

  SimFireWireDriver driver;
  std::unique_ptr<RecordingDlg> dlg;

 private:
  std::uint64_t m_ticksAtOpen = 0;
};

TEST_F(FireWireDialog, NoDriverAnswerDropsTheListenerAndScansNothing) {
  driver.SetConnectResult(0);  // the driver never connects: no registration
  AddUnit(kOrvelId, FireWireModelOrvel);
  RecordingDlg& d = Dialog();
  std::size_t refreshes = 0;
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] {
        HWND w = d.m_hWnd;
        EXPECT_FALSE(d.m_listener);
        EXPECT_EQ(d.m_status, UpdateStatusNotDetected);
        EXPECT_EQ(Text(w), Expected(kKind, 3));
        EXPECT_FALSE(Visible(w, IDC_UPDATE_NOW));
        EXPECT_FALSE(Visible(w, IDC_RECORD_PROGRESS));
        EXPECT_TRUE(Visible(w, IDC_OVERALL_PROGRESS));
        EXPECT_EQ(d.m_device, nullptr);
        EXPECT_EQ(driver.ApiCalls(ClientModeApiGetDeviceId), 0u);
        refreshes = d.refreshes.size();
        EXPECT_EQ(refreshes, 1u);
      })
      .WaitTicks(3)
      .Do([&] {
        // Each tick's registration fails: nothing scanned, nothing redrawn.
        EXPECT_FALSE(d.m_listener);
        EXPECT_EQ(d.refreshes.size(), refreshes);
        EXPECT_EQ(driver.ApiCalls(ClientModeApiGetDeviceId), 0u);
        driver.SetConnectResult(1);
      })
      .WaitFor([&] { return d.m_status == UpdateStatusReady; })
      .Do([&] {
        EXPECT_TRUE(d.m_listener);
        EXPECT_TRUE(Visible(d.m_hWnd, IDC_UPDATE_NOW));
        PressEscape(d.m_hWnd);
      });
  Run(script);
}

TEST_F(FireWireDialog, OneSupportedUnitIsReady) {
  AddUnit(kOrvelId, FireWireModelOrvel);
  RecordingDlg& d = Dialog();
  std::size_t registrations = 0, unregistrations = 0, refreshes = 0;
  // The first scan's device, kept alive so that a later one cannot take
  // its address: a new device must then differ from it.
  std::unique_ptr<Device> first;
  Script script;
  testing::internal::CaptureStdout();
  script.WaitForDialog(kCaption)
      .Do([&] {
        HWND w = d.m_hWnd;
        EXPECT_EQ(d.m_status, UpdateStatusReady);
        EXPECT_EQ(Text(w), Expected(kKind, 0));
        EXPECT_TRUE(Visible(w, IDC_UPDATE_NOW));
        EXPECT_FALSE(Visible(w, IDC_RECORD_PROGRESS));
        EXPECT_TRUE(Visible(w, IDC_OVERALL_PROGRESS));
        EXPECT_TRUE(d.m_listener);
        EXPECT_NE(d.m_listener->cookie, 0u);
        EXPECT_EQ(d.m_fireWireUnitCount, 1);
        auto* fw = dynamic_cast<DeviceUtilitiesFW*>(d.m_device.get());
        ASSERT_NE(fw, nullptr);
        EXPECT_EQ(fw->DeviceIdLow(), 0x00C0FFEEu);
        EXPECT_EQ(fw->DeviceIdHigh(), 0x0001F2A5u);
        EXPECT_EQ(fw->ModelCode(), FireWireModelOrvel);
        registrations = driver.ApiCalls(ClientModeApiRegisterCallback);
        unregistrations = driver.ApiCalls(ClientModeApiUnregisterCallback);
        EXPECT_EQ(registrations, 1u);
        // After the next scan the overall bar stands at the stored percent.
        d.m_percent = 40;
        first = std::move(d.m_device);
        refreshes = d.refreshes.size();
      })
      .WaitTicks(1)
      .Do([&] {
        EXPECT_EQ(Pos(d.m_hWnd, IDC_OVERALL_PROGRESS), 40);
        ASSERT_NE(d.m_device, nullptr) << "a new device every scan";
        EXPECT_NE(d.m_device.get(), first.get()) << "a new device every scan";
      })
      .WaitTicks(3)
      .Do([&] {
        // The renewed listener joins the running registration.
        EXPECT_EQ(driver.ApiCalls(ClientModeApiRegisterCallback), registrations);
        EXPECT_EQ(driver.ApiCalls(ClientModeApiUnregisterCallback), unregistrations);
        EXPECT_EQ(d.m_status, UpdateStatusReady);
        EXPECT_GE(d.refreshes.size(), refreshes + 4) << "every scan refreshes";
        auto bar = platform::ui::Control(d.m_hWnd, IDC_RECORD_PROGRESS);
        EXPECT_EQ(bar->rangeHigh, 0x8000);
        EXPECT_EQ(bar->pos, 0);
        PressEscape(d.m_hWnd);
      });
  Run(script);
  const std::string out = support::TakeCapturedStdout();
  EXPECT_EQ(out.rfind("1 5 22 ", 0), 0u) << out;
}

TEST_F(FireWireDialog, AnUnsupportedUnitIsCountedButNotKept) {
  struct Case {
    std::uint32_t model, attribute17, attribute4;
    const char* trace;
  };
  const Case cases[] = {
      {23, 1, 5, "1 5 24 1 5 23 "},
      {FireWireModelSondu, 0, 5, "1 5 24 0 5 28 "},
      {FireWireModelKetri, 1, 4, "1 5 24 1 4 26 "},
  };
  for (const Case& c : cases) {
    auto kept = AddUnit(kPaskoId, FireWireModelPasko);
    auto other = AddUnit(kOrvelId, c.model);
    other->attribute17 = c.attribute17;
    other->attribute4 = c.attribute4;
    RecordingDlg& d = Dialog();
    testing::internal::CaptureStdout();
    Script script;
    script.WaitForDialog(kCaption).Do([&] {
      EXPECT_EQ(d.m_status, UpdateStatusReady) << c.model;
      EXPECT_TRUE(Visible(d.m_hWnd, IDC_UPDATE_NOW));
      EXPECT_EQ(d.m_fireWireUnitCount, 2);
      EXPECT_TRUE(d.m_listener);
      auto* fw = dynamic_cast<DeviceUtilitiesFW*>(d.m_device.get());
      ASSERT_NE(fw, nullptr);
      EXPECT_EQ(fw->ModelCode(), FireWireModelPasko);
      PressEscape(d.m_hWnd);
    });
    Run(script);
    // The first scan's lines; a tick before Esc may add a second scan's.
    const std::string out = support::TakeCapturedStdout();
    EXPECT_EQ(out.rfind(c.trace, 0), 0u) << out;
    dlg.reset();
    driver.RemoveUnit(kPaskoId);
    driver.RemoveUnit(kOrvelId);
  }
}

TEST_F(FireWireDialog, TwoSupportedUnitsAreOneTooMany) {
  AddUnit(kOrvelId, FireWireModelOrvel);
  AddUnit(kPaskoId, FireWireModelPasko);
  RecordingDlg& d = Dialog();
  std::size_t registrations = 0;
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] {
        HWND w = d.m_hWnd;
        EXPECT_EQ(d.m_status, UpdateStatusMultipleDevices);
        EXPECT_EQ(Text(w), Expected(kKind, 1));
        EXPECT_FALSE(Visible(w, IDC_UPDATE_NOW));
        EXPECT_FALSE(d.m_listener);
        EXPECT_EQ(d.m_fireWireUnitCount, 2);
        auto* fw = dynamic_cast<DeviceUtilitiesFW*>(d.m_device.get());
        ASSERT_NE(fw, nullptr);
        EXPECT_EQ(fw->ModelCode(), FireWireModelPasko) << "the last one kept";
        registrations = driver.ApiCalls(ClientModeApiRegisterCallback);
        EXPECT_EQ(registrations, driver.ApiCalls(ClientModeApiUnregisterCallback));
      })
      .WaitTicks(2)
      .Do([&] {
        // Every tick registers, scans and lets go again.
        EXPECT_GE(driver.ApiCalls(ClientModeApiRegisterCallback), registrations + 2);
        EXPECT_TRUE(driver.Registrations().empty());
        // Down to one unit: ready at the next tick.
        driver.RemoveUnit(kOrvelId);
      })
      .WaitFor([&] { return d.m_status == UpdateStatusReady; })
      .Do([&] {
        EXPECT_TRUE(d.m_listener);
        EXPECT_TRUE(Visible(d.m_hWnd, IDC_UPDATE_NOW));
        PressEscape(d.m_hWnd);
      });
  Run(script);
}

TEST_F(FireWireDialog, AnIdWithLowHalfZeroEndsTheEnumeration) {
  // First a unit whose id is zero in its low half: nothing is enumerated.
  AddUnit(0x0000000700000000ull, FireWireModelOrvel);
  AddUnit(kPaskoId, FireWireModelPasko);
  RecordingDlg& d = Dialog();
  Script script;
  script.WaitForDialog(kCaption).Do([&] {
    EXPECT_EQ(d.m_status, UpdateStatusNotDetected);
    EXPECT_EQ(d.m_fireWireUnitCount, 0);
    EXPECT_FALSE(d.m_listener);
    EXPECT_EQ(d.m_device, nullptr);
    EXPECT_EQ(driver.ApiCalls(ClientModeApiGetDeviceId), Scans()) << "one id call a scan";
    PressEscape(d.m_hWnd);
  });
  Run(script);

  // Later in the list: the units after it are never seen.
  driver.RemoveUnit(0x0000000700000000ull);
  driver.RemoveUnit(kPaskoId);
  AddUnit(kOrvelId, FireWireModelOrvel);
  AddUnit(0x0000000700000000ull, FireWireModelOrvel);
  AddUnit(kPaskoId, FireWireModelPasko);
  RecordingDlg& again = Dialog();
  Script second;
  second.WaitForDialog(kCaption).Do([&] {
    EXPECT_EQ(again.m_status, UpdateStatusReady);
    EXPECT_EQ(again.m_fireWireUnitCount, 1);
    PressEscape(again.m_hWnd);
  });
  again.DoModal();
  EXPECT_TRUE(second.Finished());
}

TEST_F(FireWireDialog, NoUnitAtAllRegistersAndLetsGoEveryTick) {
  RecordingDlg& d = Dialog();
  std::size_t registrations = 0;
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] {
        EXPECT_EQ(d.m_status, UpdateStatusNotDetected);
        EXPECT_EQ(Text(d.m_hWnd), Expected(kKind, 3));
        EXPECT_FALSE(d.m_listener);
        registrations = driver.ApiCalls(ClientModeApiRegisterCallback);
        EXPECT_EQ(registrations, Scans()) << "one registration a scan";
      })
      .WaitTicks(2)
      .Do([&] {
        EXPECT_GE(driver.ApiCalls(ClientModeApiRegisterCallback), registrations + 2);
        EXPECT_EQ(driver.ApiCalls(ClientModeApiRegisterCallback),
                  driver.ApiCalls(ClientModeApiUnregisterCallback));
        PressEscape(d.m_hWnd);
      });
  Run(script);
}

// ---------------------------------------------------------------------------
// Driver errors in the scan

struct ScanFault {
  std::uint32_t api;
  bool laterEnumeration;  // the id call after the first unit
  int line;
};

TEST_F(FireWireDialog, ADriverErrorStopsTheScanWhereItHappened) {
  const ScanFault faults[] = {
      {ClientModeApiGetDeviceId, false, 244},  {ClientModeApiGetDeviceName, false, 254},
      {ClientModeApiFunction17, false, 257},   {ClientModeApiFunction4, false, 258},
      {ClientModeApiGetModelCode, false, 259}, {ClientModeApiFunction18, false, 263},
      {ClientModeApiGetDeviceId, true, 278},
  };
  AddUnit(kOrvelId, FireWireModelOrvel);
  RecordingDlg& d = Dialog();
  Script script;
  script.WaitForDialog(kCaption).Do([&] {
    for (const ScanFault& f : faults) {
      // A dialog that stands ready with its listener, as after a scan.
      d.m_status = UpdateStatusReady;
      d.RefreshStatus();
      d.m_updateButton.ShowWindow(SW_SHOW);
      d.m_recordProgress.ShowWindow(SW_SHOW);
      d.m_device.reset();
      if (!d.m_listener) d.RenewListener();
      ASSERT_TRUE(d.m_listener);
      DriverListener* listener = d.m_listener.get();
      const std::size_t refreshes = d.refreshes.size();
      if (f.laterEnumeration) {
        driver.SetApiHook([&](std::uint32_t api, const unsigned char*) {
          if (api == ClientModeApiFunction18) driver.SetApiError(f.api, 0x3D, "no such node");
        });
      } else {
        driver.SetApiError(f.api, 0x3D, "no such node");
      }
      bool thrown = false;
      try {
        d.ScanFireWireDevices();
      } catch (const FWCnslException& e) {
        thrown = true;
        EXPECT_EQ(e.code, 0x3D);
        EXPECT_STREQ(e.text, "no such node");
        EXPECT_STREQ(e.file, "UpdaterDlg");
        EXPECT_EQ(e.line, f.line);
      }
      driver.SetApiHook({});
      driver.ClearApiErrors();
      EXPECT_TRUE(thrown) << f.line;
      // Nothing after the failing call ran.
      EXPECT_EQ(d.m_status, UpdateStatusReady) << f.line;
      EXPECT_EQ(d.refreshes.size(), refreshes) << f.line;
      EXPECT_TRUE(Visible(d.m_hWnd, IDC_UPDATE_NOW)) << f.line;
      EXPECT_TRUE(Visible(d.m_hWnd, IDC_RECORD_PROGRESS)) << f.line;
      EXPECT_EQ(d.m_listener.get(), listener) << f.line;
      EXPECT_EQ(d.m_fireWireUnitCount, f.line == 244 ? 0 : 1) << f.line;
      // A unit kept before the error stays.
      EXPECT_EQ(d.m_device != nullptr, f.line == 278) << f.line;
    }
    PressEscape(d.m_hWnd);
  });
  Run(script);
}

TEST_F(FireWireDialog, ADriverGoneMidScanEndsTheScan) {
  AddUnit(kOrvelId, FireWireModelOrvel);
  RecordingDlg& d = Dialog();
  Script script;
  script.WaitForDialog(kCaption).Do([&] {
    ASSERT_TRUE(d.m_listener);
    // The driver leaves while it answers for the unit: every later call
    // answers 0 and writes nothing, the next id included.
    driver.SetApiHook([&](std::uint32_t api, const unsigned char*) {
      if (api == ClientModeApiFunction18) driver.Unregister();
    });
    EXPECT_EQ(d.ScanFireWireDevices(), 1);
    EXPECT_EQ(d.m_fireWireUnitCount, 1);
    driver.SetApiHook({});
    PressEscape(d.m_hWnd);
  });
  Run(script);
}

TEST_F(FireWireDialog, ADriverErrorAtTheFirstScanLeavesTheDialogRunning) {
  AddUnit(kOrvelId, FireWireModelOrvel);
  driver.SetApiError(ClientModeApiFunction4, 0x3D, "no such node");
  RecordingDlg& d = Dialog();
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] {
        // The scan stopped before its end: no status, no refresh yet.
        EXPECT_EQ(d.m_status, UpdateStatusError);
        EXPECT_TRUE(d.refreshes.empty());
        EXPECT_EQ(Text(d.m_hWnd), L"");
        EXPECT_EQ(d.m_fireWireUnitCount, 1);
        // Nothing offers an update of a unit the scan did not finish with.
        EXPECT_FALSE(Visible(d.m_hWnd, IDC_UPDATE_NOW));
        EXPECT_FALSE(Visible(d.m_hWnd, IDC_RECORD_PROGRESS));
        // The timer runs all the same.
        EXPECT_EQ(d.m_timerId, CUpdaterDlg::kDetectionTimerId);
      })
      .WaitTicks(2)
      .Do([&] {
        // Failing ticks change nothing either.
        EXPECT_TRUE(d.refreshes.empty());
        driver.ClearApiErrors();
      })
      .WaitFor([&] { return d.m_status == UpdateStatusReady; })
      .Do([&] {
        EXPECT_TRUE(Visible(d.m_hWnd, IDC_UPDATE_NOW));
        PressEscape(d.m_hWnd);
      });
  Run(script);
}

// ---------------------------------------------------------------------------
// Updates through the driver

class FireWireUpdate : public FireWireDialog {
 protected:
  void SetUp() override {
    FireWireDialog::SetUp();
    updater = std::make_shared<SimFireWireUpdater>(kOrvelId, u"Orvel", FireWireModelOrvel, unit);
    driver.AddUnit(updater);
  }

  ImageBuilder Image() const {
    return ImageBuilder()
        .Version(0x00204100)
        .Internal(0x1000, PatternBytes(3000, 5))
        .External(4, PatternBytes(2 * 528, 6));
  }

  // Runs the dialog with the script, the update's console traces kept out
  // of the test's output.
  void RunQuietly(Script& script) {
    testing::internal::CaptureStdout();
    Run(script);
    support::TakeCapturedStdout();
  }

  UpdaterUnit unit;
  std::shared_ptr<SimFireWireUpdater> updater;
};

// The refreshes of the update: from the press up to the next scan's.
std::vector<Shown> UpdateRefreshes(const RecordingDlg& d) {
  std::vector<Shown> during;
  for (const Shown& s : d.refreshes) {
    if (s.status == UpdateStatusReady) break;
    during.push_back(s);
  }
  return during;
}

TEST_F(FireWireUpdate, AnUpdateThroughTheDriverToTheEnd) {
  ASSERT_TRUE(Image().WriteFile("Orvel.bin"));
  RecordingDlg& d = Dialog();
  bool readyAgain = false;
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] {
        ASSERT_EQ(d.m_status, UpdateStatusReady);
        d.refreshes.clear();
        // Every command's 2 s busy wait a millisecond; the update waits for
        // nothing else.
        platform::SetPeriodScale(0.0002);
        ASSERT_TRUE(Click(TopDialog(), IDC_UPDATE_NOW));
      })
      .Do([&] { platform::SetPeriodScale(0.02); })
      .WaitFor([&] { return d.m_status == UpdateStatusReady; })
      .Do([&] {
        readyAgain = Visible(d.m_hWnd, IDC_UPDATE_NOW);
        PressEscape(d.m_hWnd);
      });
  RunQuietly(script);

  const std::vector<Shown> during = UpdateRefreshes(d);
  ASSERT_FALSE(during.empty());
  EXPECT_EQ(during.back().status, UpdateStatusDone);
  EXPECT_FALSE(during.back().buttonVisible);
  EXPECT_EQ(during.back().overallPos, 100);
  EXPECT_TRUE(readyAgain) << "the next scan shows the button again";
  // The FireWire class stores no code: 10 throughout, then 15.
  const auto texts = DistinctTexts(during);
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts.front(), Expected(kKind, 10));
  for (std::size_t i = 1; i + 1 < texts.size(); ++i) {
    EXPECT_EQ(texts[i].rfind(Expected(kKind, 10), 0), 0u) << i;
    EXPECT_GT(texts[i].size(), Expected(kKind, 10).size()) << "with the file version";
  }
  EXPECT_EQ(texts.back(), Expected(kKind, 15));
  EXPECT_EQ(unit.ReadInternal(0x1000, 3000), PatternBytes(3000, 5));
  EXPECT_EQ(unit.ReadExternal(4, 2 * 528), PatternBytes(2 * 528, 6));
  const auto shown = updater->registers.DisplayHistory();
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown[shown.size() - 2], "Working...        99 % Updated");
  EXPECT_EQ(shown.back(), "Update Complete Pls Power Cycle");
}

TEST_F(FireWireUpdate, ADriverErrorDuringTheUpdateDropsTheListener) {
  ASSERT_TRUE(Image().WriteFile("Orvel.bin"));
  sim::FireWireRegisterFault fault(driver);
  RecordingDlg& d = Dialog();
  std::size_t registrations = 0;
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] {
        ASSERT_EQ(d.m_status, UpdateStatusReady);
        d.refreshes.clear();
        registrations = driver.ApiCalls(ClientModeApiRegisterCallback);
        fault.Arm(true, sim::FireWireRegisterFault::kAnyRegister, 200, 0x3D, "bus reset");
        platform::SetPeriodScale(0.0002);
        ASSERT_TRUE(Click(TopDialog(), IDC_UPDATE_NOW));
      })
      .Do([&] {
        platform::SetPeriodScale(0.02);
        EXPECT_TRUE(fault.Fired());
      })
      .WaitFor([&] { return d.m_status == UpdateStatusReady; })
      .Do([&] {
        // The next tick registered afresh and found the unit.
        EXPECT_TRUE(d.m_listener);
        EXPECT_GT(driver.ApiCalls(ClientModeApiRegisterCallback), registrations);
        PressEscape(d.m_hWnd);
      });
  RunQuietly(script);
  const std::vector<Shown> during = UpdateRefreshes(d);
  ASSERT_FALSE(during.empty());
  EXPECT_EQ(during.back().status, UpdateStatusDisconnected);
  EXPECT_EQ(during.back().text, Expected(kKind, 13));
}

}  // namespace
