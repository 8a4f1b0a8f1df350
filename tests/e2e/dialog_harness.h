// The real dialog on the host window services, with what a user saw at each
// refresh written down, and the small pieces every end-to-end suite needs.
#pragma once

#include <app/UpdaterDlg.h>
#include <platform/host/providers.h>
#include <platform/host/ui_driver.h>
#include <platform/timescale.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../app/status_texts.h"
#include "support/time_scale.h"
#include "support/work_dir.h"

namespace e2e {

inline constexpr const wchar_t* kCaption = L"VARN Firmware Updater";

// What control 1000, button 1002 and bar 1004 showed after one refresh.
struct Shown {
  int status = 0;
  std::wstring text;
  bool buttonVisible = false;
  int overallPos = 0;
};

// The texts the refreshes showed, each run of equal texts once.
inline std::vector<std::wstring> DistinctTexts(const std::vector<Shown>& refreshes) {
  std::vector<std::wstring> texts;
  for (const Shown& s : refreshes) {
    if (texts.empty() || texts.back() != s.text) texts.push_back(s.text);
  }
  return texts;
}

// The dialog as the program runs it; every refresh is also written down
// with what the controls show right after it.
class RecordingDlg : public CUpdaterDlg {
 public:
  explicit RecordingDlg(ProductKind kind) : CUpdaterDlg(kind, nullptr) {}

  void RefreshStatus() override {
    CUpdaterDlg::RefreshStatus();
    Shown s;
    s.status = m_status;
    if (m_hWnd != nullptr) {
      if (auto text = platform::ui::Control(m_hWnd, IDC_STATUS_TEXT)) s.text = text->text;
      if (auto button = platform::ui::Control(m_hWnd, IDC_UPDATE_NOW)) {
        s.buttonVisible = button->visible;
      }
      if (auto bar = platform::ui::Control(m_hWnd, IDC_OVERALL_PROGRESS)) s.overallPos = bar->pos;
    }
    refreshes.push_back(s);
  }

  // The texts shown, each run of equal texts once.
  std::vector<std::wstring> DistinctTexts() const { return e2e::DistinctTexts(refreshes); }

  std::vector<Shown> refreshes;
};

inline std::wstring Text(HWND dialog) {
  auto c = platform::ui::Control(dialog, IDC_STATUS_TEXT);
  return c ? c->text : L"";
}
inline bool Visible(HWND dialog, int id) {
  auto c = platform::ui::Control(dialog, id);
  return c && c->visible;
}
inline int Pos(HWND dialog, int id) {
  auto c = platform::ui::Control(dialog, id);
  return c ? c->pos : -1;
}

inline std::wstring Expected(int kind, int code, const std::wstring& version = L"") {
  return status_texts::Expected(kind, code, version).text;
}

// What every dialog suite stands on: the detection timer, the units' pace
// and the busy polls at a small scale, the waits for an answer at their
// full length, and a fresh working directory for the image files.
class DialogTest : public testing::Test {
 protected:
  support::ScopedTimeScale scale{0.02, 1.0};
  support::ScopedWorkDir dir{"varn-e2e"};
};

}  // namespace e2e
