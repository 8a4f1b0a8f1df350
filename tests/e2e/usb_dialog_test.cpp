// The dialog of the USB kinds end to end: the real dialog on the host window
// services, the real HID link and device class, simulated units plugged in
// and out while the detection timer runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dialog_harness.h"
#include "sim/ImageBuilder.h"
#include "sim/SimHidUnit.h"
#include "sim/UpdaterUnit.h"

namespace {

using namespace e2e;
using platform::ui::Click;
using platform::ui::PressEnter;
using platform::ui::PressEscape;
using platform::ui::Script;
using platform::ui::TopDialog;
using sim::ImageBuilder;
using sim::PatternBytes;
using sim::SimHidUnit;
using sim::UpdaterUnit;

constexpr USHORT kNotAModelCode = 0x26;

// A unit whose n-th query open (the look that finds a unit) is refused.
class RefusingHidUnit : public SimHidUnit {
 public:
  RefusingHidUnit(UpdaterUnit& unit, int refusedQueryOpen)
      : SimHidUnit(unit, Info()), refused_(refusedQueryOpen) {}
  DWORD OnOpen(const platform::host::OpenRecord& open) override {
    if (open.access == 0 && ++queryOpens_ == refused_) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
  }

 private:
  const int refused_;
  std::atomic<int> queryOpens_{0};
};

// Detection only: no command goes to a unit, so no wait here is for an
// answer. The time-outs are shrunk as well, for the links' listeners: each
// poll's probe and each device replaced stops one, which takes up to a
// flag test (300 ms at full length) on the dialog's thread.
class UsbDialog : public DialogTest {
 protected:
  support::ScopedTimeScale noCommands{0.02, 0.02};
  UpdaterUnit unit;
};

TEST_F(UsbDialog, EveryUsbKindFromNoUnitToAUnitNotInUpdateMode) {
  for (int k = ProductKindTandra; k <= ProductKindDunmi; ++k) {
    const auto kind = static_cast<ProductKind>(k);
    RecordingDlg dlg(kind);
    std::unique_ptr<SimHidUnit> hid;
    Device* firstDevice = nullptr;
    Device* foundDevice = nullptr;
    std::size_t refreshesWhenFound = 0;
    Script script;
    script.WaitForDialog(kCaption)
        .Do([&] {
          // The forced first poll: no unit, yet a device is made and kept.
          HWND w = dlg.m_hWnd;
          EXPECT_EQ(dlg.m_status, UpdateStatusNotDetected) << k;
          EXPECT_EQ(Text(w), Expected(k, 3)) << k;
          EXPECT_FALSE(Visible(w, IDC_UPDATE_NOW));
          EXPECT_FALSE(Visible(w, IDC_RECORD_PROGRESS));
          EXPECT_TRUE(Visible(w, IDC_OVERALL_PROGRESS));
          EXPECT_EQ(dlg.refreshes.size(), 1u);
          firstDevice = dlg.m_device.get();
          EXPECT_NE(firstDevice, nullptr);
          EXPECT_EQ(dlg.m_usbHandle, nullptr);
          EXPECT_FALSE(dlg.m_usbPresent);
          auto info = SimHidUnit::Info(kNotAModelCode);
          hid = std::make_unique<SimHidUnit>(unit, info);
        })
        .WaitFor([&] { return dlg.m_status == UpdateStatusNotInUpdateMode; })
        .Do([&] {
          HWND w = dlg.m_hWnd;
          EXPECT_EQ(Text(w), Expected(k, 2)) << k;
          EXPECT_FALSE(Visible(w, IDC_UPDATE_NOW));
          EXPECT_NE(dlg.m_usbHandle, nullptr);
          EXPECT_TRUE(dlg.m_usbPresent);
          foundDevice = dlg.m_device.get();
          EXPECT_NE(foundDevice, firstDevice);
          refreshesWhenFound = dlg.refreshes.size();
          // Polling is over: unplugging changes nothing on screen.
          hid.reset();
        })
        .WaitTicks(3)
        .Do([&] {
          EXPECT_EQ(dlg.m_status, UpdateStatusNotInUpdateMode);
          EXPECT_EQ(Text(dlg.m_hWnd), Expected(k, 2));
          EXPECT_EQ(dlg.m_device.get(), foundDevice);
          EXPECT_EQ(dlg.refreshes.size(), refreshesWhenFound);
          PressEscape(dlg.m_hWnd);
        });
    dlg.DoModal();
    EXPECT_TRUE(script.Finished()) << k;
  }
}

TEST_F(UsbDialog, EveryUsbKindFindsAUnitInUpdateMode) {
  for (int k = ProductKindTandra; k <= ProductKindDunmi; ++k) {
    // The kind chooses no model: any of the ten codes is in update mode.
    const USHORT model = k % 2 ? UsbProductPlimo : UsbProductVorloII;
    SimHidUnit hid(unit, SimHidUnit::Info(model));
    RecordingDlg dlg(static_cast<ProductKind>(k));
    Script script;
    script.WaitForDialog(kCaption)
        .Do([&] {
          HWND w = dlg.m_hWnd;
          EXPECT_EQ(dlg.m_status, UpdateStatusReady);
          EXPECT_EQ(Text(w), Expected(k, 0));
          EXPECT_TRUE(Visible(w, IDC_UPDATE_NOW));
          EXPECT_FALSE(Visible(w, IDC_RECORD_PROGRESS));
          ASSERT_NE(dlg.m_device, nullptr);
          EXPECT_EQ(dlg.m_usbHandle, dlg.m_device->GetHidInterface()->m_queryHandle);
          EXPECT_NE(dlg.m_usbHandle, nullptr);
          // Polling is over, yet every tick still hides the record bar.
          dlg.m_recordProgress.ShowWindow(SW_SHOW);
        })
        .WaitTicks(1)
        .Do([&] {
          EXPECT_FALSE(Visible(dlg.m_hWnd, IDC_RECORD_PROGRESS));
          PressEscape(dlg.m_hWnd);
        });
    dlg.DoModal();
    EXPECT_TRUE(script.Finished()) << k;
  }
}

TEST_F(UsbDialog, UnchangedPresenceMakesNoDeviceAndNoRefresh) {
  RecordingDlg dlg(ProductKindPlimo);
  Device* device = nullptr;
  std::size_t refreshes = 0;
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] {
        device = dlg.m_device.get();
        refreshes = dlg.refreshes.size();
        // A refresh would move the overall bar to this; none must come.
        dlg.m_percent = 50;
        dlg.m_recordProgress.ShowWindow(SW_SHOW);
      })
      .WaitTicks(3)
      .Do([&] {
        HWND w = dlg.m_hWnd;
        EXPECT_EQ(dlg.m_device.get(), device);
        EXPECT_EQ(dlg.refreshes.size(), refreshes);
        EXPECT_EQ(Pos(w, IDC_OVERALL_PROGRESS), 0);
        EXPECT_FALSE(Visible(w, IDC_RECORD_PROGRESS)) << "every poll hides it";

        // Forced with the status unchanged: a new device, the button hidden
        // all the same, and still no refresh.
        dlg.m_updateButton.ShowWindow(SW_SHOW);
        dlg.PollUsbDevice(true);
        EXPECT_NE(dlg.m_device.get(), device);
        EXPECT_FALSE(Visible(w, IDC_UPDATE_NOW));
        EXPECT_EQ(dlg.refreshes.size(), refreshes);
        PressEscape(w);
      });
  dlg.DoModal();
  EXPECT_TRUE(script.Finished());
}

TEST_F(UsbDialog, TheProbeFindsTheUnitButTheDevicesOwnOpenDoesNot) {
  RecordingDlg dlg(ProductKindHalviQuen);
  std::unique_ptr<SimHidUnit> hid;
  Device* emptyDevice = nullptr;
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] { hid = std::make_unique<RefusingHidUnit>(unit, 2); })
      .WaitFor([&] { return dlg.m_status == UpdateStatusNotInUpdateMode; })
      .Do([&] {
        // The device's link holds no unit: not in update mode, still looking.
        EXPECT_EQ(Text(dlg.m_hWnd), Expected(ProductKindHalviQuen, 2));
        EXPECT_FALSE(Visible(dlg.m_hWnd, IDC_UPDATE_NOW));
        EXPECT_EQ(dlg.m_usbHandle, nullptr);
        EXPECT_TRUE(dlg.m_usbPresent);
        emptyDevice = dlg.m_device.get();
        EXPECT_EQ(emptyDevice->GetHidInterface()->m_queryHandle, nullptr);
      })
      .WaitTicks(3)
      .Do([&] {
        // Present as before: no new device until the unit has been away.
        EXPECT_EQ(dlg.m_device.get(), emptyDevice);
        hid.reset();
      })
      .WaitFor([&] { return dlg.m_status == UpdateStatusNotDetected; })
      .Do([&] {
        EXPECT_NE(dlg.m_device.get(), emptyDevice);
        hid = std::make_unique<SimHidUnit>(unit);
      })
      .WaitFor([&] { return dlg.m_status == UpdateStatusReady; })
      .Do([&] {
        EXPECT_NE(dlg.m_usbHandle, nullptr);
        EXPECT_TRUE(Visible(dlg.m_hWnd, IDC_UPDATE_NOW));
        PressEscape(dlg.m_hWnd);
      });
  dlg.DoModal();
  EXPECT_TRUE(script.Finished());
}

TEST(UsbDialogTimer, EveryTimerIdPolls) {
  // Real-time ticks a second apart: only the posted ones come in time.
  support::ScopedTimeScale scale(1.0, 1.0);
  UpdaterUnit unit;
  RecordingDlg dlg(ProductKindDunmi);
  std::unique_ptr<SimHidUnit> hid;
  std::vector<int> statuses;
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] {
        hid = std::make_unique<SimHidUnit>(unit, SimHidUnit::Info(kNotAModelCode));
        dlg.m_recordProgress.ShowWindow(SW_SHOW);
        PostMessageW(dlg.m_hWnd, WM_TIMER, 77, 0);
      })
      .Do([&] {
        statuses.push_back(dlg.m_status);
        EXPECT_FALSE(Visible(dlg.m_hWnd, IDC_RECORD_PROGRESS));
        PressEscape(dlg.m_hWnd);
      });
  dlg.DoModal();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(statuses, std::vector<int>{UpdateStatusNotInUpdateMode});
  EXPECT_EQ(dlg.m_timerId, CUpdaterDlg::kDetectionTimerId);
}

// ---------------------------------------------------------------------------
// Updates

// The commands' waits for their answers at full length, as the harness has
// them.
class UsbUpdate : public DialogTest {
 protected:
  static constexpr ProductKind kKind = ProductKindHalviQuen;

  // Two records: 20000 internal bytes in three chunks, 30 external pages.
  ImageBuilder Image() const {
    return ImageBuilder()
        .Version(0x00204100)
        .Internal(0x4000, PatternBytes(20000, 7))
        .External(12, PatternBytes(30 * 528, 9));
  }

  // Opens the dialog with the unit plugged in, presses the button once the
  // unit is ready, and closes the dialog after the update.
  void RunUpdate(const std::function<void()>& beforePress = {}) {
    hid = std::make_unique<SimHidUnit>(unit, SimHidUnit::Info(UsbProductQuen));
    Script script;
    script.WaitForDialog(kCaption)
        .WaitFor([&] { return dlg.m_status == UpdateStatusReady; })
        .Do([&] {
          dlg.refreshes.clear();
          if (beforePress) beforePress();
          ASSERT_TRUE(Click(TopDialog(), IDC_UPDATE_NOW));
        })
        .WaitFor([&] { return !dlg.refreshes.empty(); })
        .Do([&] {
          // The update ran inside the click; the dialog is still there.
          after = dlg.refreshes.back();
          finalText = Text(dlg.m_hWnd);
          buttonAfter = Visible(dlg.m_hWnd, IDC_UPDATE_NOW);
          commandsAfter = unit.Log().size();
          // A hidden default button takes no Enter.
          PressEnter(dlg.m_hWnd);
        })
        .WaitTicks(2)
        .Do([&] { PressEscape(dlg.m_hWnd); });
    dlg.DoModal();
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(unit.Log().size(), commandsAfter) << "no second update";
    EXPECT_EQ(dlg.m_status, after.status);
  }

  UpdaterUnit unit;
  RecordingDlg dlg{kKind};
  std::unique_ptr<SimHidUnit> hid;
  Shown after;
  std::wstring finalText;
  bool buttonAfter = true;
  std::size_t commandsAfter = 0;
};

TEST_F(UsbUpdate, AWholeUpdateShowsItsWayAndEndsDone) {
  const ImageBuilder image = Image();
  ASSERT_TRUE(image.WriteFile("Quen.bin"));
  std::wstring version;
  RunUpdate();
  ASSERT_NE(dlg.m_device, nullptr);
  version = dlg.m_device->GetVersionText();
  EXPECT_FALSE(version.empty());

  // 10 before the device has read its image, 9 as it starts, then 10 and 9
  // with the file version as records are written and compared again; 15 at
  // last.
  const auto texts = dlg.DistinctTexts();
  ASSERT_GE(texts.size(), 5u);
  EXPECT_EQ(texts[0], Expected(kKind, 10));
  EXPECT_EQ(texts[1], Expected(kKind, 9));
  EXPECT_EQ(texts[2], Expected(kKind, 10, version));
  EXPECT_EQ(texts[3], Expected(kKind, 9, version));
  EXPECT_EQ(texts.back(), Expected(kKind, 15));
  for (std::size_t i = 2; i + 1 < texts.size(); ++i) {
    EXPECT_TRUE(texts[i] == Expected(kKind, 9, version) || texts[i] == Expected(kKind, 10, version))
        << i;
  }
  EXPECT_EQ(finalText, Expected(kKind, 15));
  EXPECT_EQ(after.status, UpdateStatusDone);
  EXPECT_FALSE(buttonAfter);

  // The overall bar follows the percent; the unit shows the same percent,
  // 100 as 99, then the last line.
  std::vector<int> positions;
  for (const Shown& s : dlg.refreshes) {
    if (positions.empty() || positions.back() != s.overallPos) positions.push_back(s.overallPos);
  }
  EXPECT_GE(positions.size(), 4u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(positions.back(), 100);
  EXPECT_EQ(dlg.m_percent, 100);
  std::vector<int> shownOnUnit;
  for (const std::string& line : unit.DisplayHistory()) {
    int percent = -1;
    char tail[32] = {};
    if (std::sscanf(line.c_str(), "Working...       %3d %% %31s", &percent, tail) == 2) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "Working...       %3d %% Updated", percent);
      EXPECT_EQ(line, expected);
      shownOnUnit.push_back(percent);
    }
  }
  ASSERT_FALSE(shownOnUnit.empty());
  EXPECT_TRUE(std::is_sorted(shownOnUnit.begin(), shownOnUnit.end()));
  EXPECT_EQ(shownOnUnit.back(), 99);
  EXPECT_EQ(unit.DisplayText(), "Update Complete Pls Power Cycle");

  EXPECT_EQ(unit.ReadInternal(0x4000, 20000), PatternBytes(20000, 7));
  EXPECT_EQ(unit.ReadExternal(12, 30 * 528), PatternBytes(30 * 528, 9));
}

TEST_F(UsbUpdate, ABadOrMissingImageNeverReachesTheUnit) {
  const std::vector<uint8_t> erased = unit.ReadInternal(0x4000, 20000);
  for (int variant = 0; variant < 2; ++variant) {
    UpdaterUnit fresh;
    std::vector<uint8_t> bytes = Image().Build();
    if (variant == 1) {
      bytes.resize(bytes.size() - 100);  // the last record runs past the end
      ASSERT_TRUE(sim::WriteFileBytes("Quen.bin", bytes));
    }
    // Each run uses a dialog and unit of its own.
    RecordingDlg dialog(kKind);
    SimHidUnit link(fresh, SimHidUnit::Info(UsbProductQuen));
    std::wstring text;
    Script script;
    script.WaitForDialog(kCaption).Do([&] { Click(TopDialog(), IDC_UPDATE_NOW); }).Do([&] {
      text = Text(dialog.m_hWnd);
      PressEscape(dialog.m_hWnd);
    });
    dialog.DoModal();
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(dialog.m_status, UpdateStatusBadSource) << variant;
    EXPECT_EQ(text, Expected(kKind, 14)) << variant;
    EXPECT_TRUE(fresh.Log().empty()) << variant;
    EXPECT_EQ(fresh.ReadInternal(0x4000, 20000), erased);
  }
}

TEST_F(UsbUpdate, ARecordThatWillNotTakeIsNotDone) {
  ASSERT_TRUE(Image().WriteFile("Quen.bin"));
  unit.RefuseInternalWrites(0x4000 + 9000, 16);
  RunUpdate();
  EXPECT_EQ(after.status, UpdateStatusUnverified);
  EXPECT_EQ(finalText, Expected(kKind, 7));
  EXPECT_EQ(unit.DisplayText(), "Update Failed   Pls Retry");
  // The walk went on to the next record.
  EXPECT_EQ(unit.ReadExternal(12, 30 * 528), PatternBytes(30 * 528, 9));
}

TEST_F(UsbUpdate, AUnitRemovedMidUpdateShowsTheError) {
  ASSERT_TRUE(Image().WriteFile("Quen.bin"));
  RunUpdate([&] { hid->RemoveAfterReport(40); });
  EXPECT_EQ(after.status, UpdateStatusError);
  EXPECT_EQ(finalText, Expected(kKind, 12));
  EXPECT_FALSE(buttonAfter);
  // The engine had set 9 or 10 before the failure.
  ASSERT_GE(dlg.refreshes.size(), 3u);
  const int before = dlg.refreshes[dlg.refreshes.size() - 2].status;
  EXPECT_TRUE(before == UpdateStatusComparing || before == UpdateStatusUpdating) << before;
}

TEST_F(UsbUpdate, AUnitThatStopsAnsweringShowsTheError) {
  ASSERT_TRUE(Image().WriteFile("Quen.bin"));
  RunUpdate([&] {
    hid->StopAnsweringAt(30);
    // The tries from there on are to run out: five of 100 ms each. Those
    // before keep their full length, as they end in an answer.
    hid->AtReport(30, [] { platform::SetTimeOutScale(0.01); });
  });
  EXPECT_EQ(after.status, UpdateStatusError);
  EXPECT_EQ(finalText, Expected(kKind, 12));
}

TEST_F(UsbUpdate, EnterStartsAnUpdateOnlyWhileTheButtonShows) {
  ASSERT_TRUE(Image().WriteFile("Quen.bin"));
  RecordingDlg dialog(kKind);
  std::size_t refreshesAtNoUnit = 0;
  std::unique_ptr<SimHidUnit> link;
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] {
        refreshesAtNoUnit = dialog.refreshes.size();
        PressEnter(dialog.m_hWnd);
      })
      .WaitTicks(1)
      .Do([&] {
        // No unit, the button hidden: Enter started nothing.
        EXPECT_EQ(dialog.m_status, UpdateStatusNotDetected);
        EXPECT_EQ(dialog.refreshes.size(), refreshesAtNoUnit);
        link = std::make_unique<SimHidUnit>(unit, SimHidUnit::Info(UsbProductQuen));
      })
      .WaitFor([&] { return dialog.m_status == UpdateStatusReady; })
      .Do([&] { PressEnter(dialog.m_hWnd); })
      .WaitFor([&] { return dialog.m_status != UpdateStatusReady; })
      .Do([&] { PressEscape(dialog.m_hWnd); });
  dialog.DoModal();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(dialog.m_status, UpdateStatusDone);
  EXPECT_EQ(unit.ReadInternal(0x4000, 20000), PatternBytes(20000, 7));
}

TEST_F(UsbDialog, AnUpdateWithoutADeviceStartsNothing) {
  RecordingDlg dlg(ProductKindVorlo);
  Script script;
  script.WaitForDialog(kCaption).Do([&] {
    dlg.m_device.reset();
    dlg.m_updateButton.ShowWindow(SW_SHOW);
    dlg.refreshes.clear();
    dlg.DoUpdate();
    ASSERT_EQ(dlg.refreshes.size(), 2u);
    for (const Shown& s : dlg.refreshes) {
      EXPECT_EQ(s.status, UpdateStatusUpdating);
      EXPECT_EQ(s.text, Expected(ProductKindVorlo, 10));
      EXPECT_FALSE(s.buttonVisible);
    }
    PressEscape(dlg.m_hWnd);
  });
  dlg.DoModal();
  EXPECT_TRUE(script.Finished());
}

}  // namespace
