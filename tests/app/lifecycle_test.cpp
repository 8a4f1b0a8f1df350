// What the dialog owns and in which order it lets go; the progress report.
#include <app/UpdaterDlg.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "fake_device.h"

namespace {

std::vector<std::string> g_deletions;

// Stands in for a listener of the FireWire link: only its deletion matters.
int g_listenerToken = 0;
DriverListener* FakeListener() { return reinterpret_cast<DriverListener*>(&g_listenerToken); }
void DeleteFakeListener(DriverListener* listener) {
  EXPECT_EQ(listener, FakeListener());
  g_deletions.emplace_back("listener");
}

TEST(DialogLifecycle, DeletesTheDeviceBeforeTheListener) {
  g_deletions.clear();
  {
    CUpdaterDlg dlg(ProductKindFireWire, nullptr);
    dlg.m_listener.reset(FakeListener(), &DeleteFakeListener);
    auto device = std::make_unique<FakeDevice>();
    device->onDestroy = [] { g_deletions.emplace_back("device"); };
    dlg.m_device = std::move(device);
  }
  EXPECT_EQ(g_deletions, (std::vector<std::string>{"device", "listener"}));
}

TEST(DialogLifecycle, NothingHeldNothingDeleted) {
  g_deletions.clear();
  { CUpdaterDlg dlg(ProductKindPlimo, nullptr); }
  EXPECT_TRUE(g_deletions.empty());
}

TEST(DialogLifecycle, ReplacingTheListenerDeletesTheOldOne) {
  g_deletions.clear();
  DriverListenerPtr holder;
  holder.reset(FakeListener(), &DeleteFakeListener);
  holder.reset(FakeListener(), &DeleteFakeListener);
  EXPECT_EQ(g_deletions, (std::vector<std::string>{"listener"}));
  holder.reset();
  EXPECT_FALSE(holder);
  EXPECT_EQ(g_deletions.size(), 2u);
}

TEST(DialogLifecycle, ConstructorValues) {
  CUpdaterDlg dlg(ProductKindTandra, nullptr);
  EXPECT_EQ(dlg.GetTemplateId(), static_cast<UINT>(IDD_UPDATER_DIALOG));
  EXPECT_FALSE(dlg.m_listener);
  EXPECT_EQ(dlg.m_device, nullptr);
  EXPECT_EQ(dlg.m_productKind, ProductKindTandra);
  EXPECT_EQ(dlg.m_fireWireUnitCount, 0);
  EXPECT_EQ(dlg.m_status, UpdateStatusError);
  EXPECT_EQ(dlg.m_percent, 0);
  EXPECT_EQ(dlg.m_usbHandle, nullptr);
  EXPECT_FALSE(dlg.m_usbPresent);
  EXPECT_EQ(dlg.m_updateButton.m_hWnd, nullptr);
  EXPECT_EQ(dlg.m_recordProgress.m_hWnd, nullptr);
  EXPECT_EQ(dlg.m_overallProgress.m_hWnd, nullptr);
}

TEST(DialogUpdate, AnUpdateEndedByAnExceptionIsNotLeftUpdating) {
  struct Case {
    ProductKind kind;
    bool listener;
    int expected;
  };
  // With a driver listener the unit went away; without one (every USB kind)
  // the error text, not the engine's last 9 or 10.
  for (const Case c : {Case{ProductKindDunmi, false, UpdateStatusError},
                       Case{ProductKindFireWire, true, UpdateStatusDisconnected},
                       Case{ProductKindFireWire, false, UpdateStatusError}}) {
    for (int thrown : {0, 1}) {
      g_deletions.clear();
      CUpdaterDlg dlg(c.kind, nullptr);
      if (c.listener) dlg.m_listener.reset(FakeListener(), &DeleteFakeListener);
      auto device = std::make_unique<FakeDevice>();
      device->onUpdate = [&dlg, thrown]() -> int {
        dlg.SetStatus(UpdateStatusComparing);
        if (thrown == 0) throw std::runtime_error("write failed");
        throw 42;  // whatever its type
      };
      dlg.m_device = std::move(device);
      dlg.DoUpdate();
      EXPECT_EQ(dlg.m_status, c.expected) << c.kind << c.listener;
      EXPECT_FALSE(dlg.m_listener);
      EXPECT_EQ(g_deletions.size(), c.listener ? 1u : 0u);
      EXPECT_NE(dlg.m_device, nullptr) << "the device stays";
    }
  }
}

TEST(DialogUpdate, TheResultOfTheUpdateIsStoredAsItComes) {
  for (int result : {UpdateStatusDone, UpdateStatusBadSource, UpdateStatusUnverified}) {
    CUpdaterDlg dlg(ProductKindPlimo, nullptr);
    auto device = std::make_unique<FakeDevice>();
    device->onUpdate = [result] { return result; };
    dlg.m_device = std::move(device);
    dlg.DoUpdate();
    EXPECT_EQ(dlg.m_status, result);
  }
}

TEST(DialogProgress, PercentTruncatedAfterSinglePrecision) {
  struct Case {
    uint32_t done, total;
    int stored;
    const char* shown;
  };
  const Case cases[] = {
      {0, 1234, 0, "Working...         0 % Updated"},
      {1, 3, 33, "Working...        33 % Updated"},
      {2, 3, 66, "Working...        66 % Updated"},
      {5, 100, 5, "Working...         5 % Updated"},
      {3, 3, 100, "Working...        99 % Updated"},
      {99999999, 100000000, 100, "Working...        99 % Updated"},
      {202, 100, 202, "Working...       202 % Updated"},
      {7, 0, 0, "Working...         0 % Updated"},  // no total, no progress
  };
  for (const Case& c : cases) {
    CUpdaterDlg dlg(ProductKindDunmi, nullptr);
    auto device = std::make_unique<FakeDevice>();
    device->bytesDone = c.done;
    device->totalBytes = c.total;
    FakeDevice* fake = device.get();
    dlg.m_device = std::move(device);
    dlg.m_status = UpdateStatusUpdating;
    dlg.ReportProgress();
    EXPECT_EQ(dlg.m_percent, c.stored) << c.done << " of " << c.total;
    ASSERT_EQ(fake->displayTexts.size(), 1u);
    EXPECT_EQ(fake->displayTexts[0], c.shown);
  }
}

}  // namespace
