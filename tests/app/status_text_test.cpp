// The status line's text for every code and kind, without a window.
#include <app/UpdaterDlg.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_device.h"
#include "status_texts.h"

namespace {

using status_texts::Expected;

TEST(StatusText, EveryCodeForEveryKind) {
  for (int kind = -1; kind <= 7; ++kind) {
    for (int code = -2; code <= 17; ++code) {
      CUpdaterDlg dlg(static_cast<ProductKind>(kind), nullptr);
      auto device = std::make_unique<FakeDevice>();
      device->versionText = L"1.2.3";
      dlg.m_device = std::move(device);
      dlg.m_status = code;
      dlg.RefreshStatus();
      EXPECT_EQ(dlg.m_statusText.str(), Expected(kind, code, L"1.2.3").text)
          << "kind " << kind << " code " << code;
      // A refresh changes neither the code nor the kind.
      EXPECT_EQ(dlg.m_status, code);
      EXPECT_EQ(dlg.m_productKind, kind);
    }
  }
}

TEST(StatusText, VersionTextOfTheCurrentDevice) {
  for (int code : {9, 10}) {
    CUpdaterDlg dlg(ProductKindPlimo, nullptr);
    dlg.m_status = code;
    // No device yet: the format with an empty version text.
    dlg.RefreshStatus();
    EXPECT_EQ(dlg.m_statusText.str(), Expected(2, code, L"").text);

    // A device that has not read its image has an empty version text too.
    dlg.m_device = std::make_unique<FakeDevice>();
    dlg.RefreshStatus();
    EXPECT_EQ(dlg.m_statusText.str(), Expected(2, code, L"").text);

    static_cast<FakeDevice*>(dlg.m_device.get())->versionText = L"V2.07 %s %ls";
    dlg.RefreshStatus();
    EXPECT_EQ(dlg.m_statusText.str(), Expected(2, code, L"V2.07 %s %ls").text);
  }
}

TEST(StatusText, LineBreaksAndMissingBlanksAsWritten) {
  CUpdaterDlg dlg(ProductKindVorlo, nullptr);
  dlg.m_status = UpdateStatusComparing;
  dlg.RefreshStatus();
  const std::wstring comparing = dlg.m_statusText.str();
  EXPECT_EQ(std::count(comparing.begin(), comparing.end(), L'\n'), 2);
  EXPECT_EQ(comparing.find(L'\r'), std::wstring::npos);

  dlg.m_status = UpdateStatusVerifying;
  dlg.RefreshStatus();
  EXPECT_EQ(dlg.m_statusText.str().find(L'\n'), std::wstring::npos);

  dlg.m_status = UpdateStatusNotDetected;
  dlg.RefreshStatus();
  EXPECT_NE(dlg.m_statusText.str().find(L"detected.Disconnect"), std::wstring::npos);
  EXPECT_NE(dlg.m_statusText.str().find(L"theVorloII.Press"), std::wstring::npos);
}

TEST(StatusText, StartsEmptyWithTheErrorCode) {
  CUpdaterDlg dlg(ProductKindDunmi, nullptr);
  EXPECT_TRUE(dlg.m_statusText.IsEmpty());
  EXPECT_EQ(dlg.m_status, UpdateStatusError);
  EXPECT_EQ(dlg.m_percent, 0);
}

TEST(StatusText, KindOperationsAnswerOnlyCodesTwoAndThree) {
  CUpdaterDlg dlg(ProductKindDunmi, nullptr);
  bool (CUpdaterDlg::*const operations[])() = {
      &CUpdaterDlg::ApplyFireWireStatusText,   &CUpdaterDlg::ApplyTandraStatusText,
      &CUpdaterDlg::ApplyPlimoStatusText,      &CUpdaterDlg::ApplyHalviQuenStatusText,
      &CUpdaterDlg::ApplyZolteFenraStatusText, &CUpdaterDlg::ApplyVorloStatusText,
      &CUpdaterDlg::ApplyDunmiStatusText,
  };
  for (int kind = 0; kind < 7; ++kind) {
    for (int code = -1; code <= 16; ++code) {
      dlg.m_statusText = L"before";
      dlg.m_status = code;
      const bool handled = (dlg.*operations[kind])();
      EXPECT_EQ(handled, code == 2 || code == 3) << "kind " << kind << " code " << code;
      if (!handled) {
        EXPECT_EQ(dlg.m_statusText, L"before");
      } else {
        EXPECT_EQ(dlg.m_statusText.str(), Expected(kind, code, L"").text);
      }
    }
  }
}

}  // namespace
