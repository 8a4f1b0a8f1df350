// Modal dialogs on the host's window services, driven as a user would:
// timers under the time scale, progress bars, default keys and the close
// box, the system menu, a nested about box, minimised painting.
#include <platform/host/ui_driver.h>
#include <platform/timescale.h>
#include <platform/win32.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "resource.h"

namespace {

namespace ui = platform::ui;

// What the tiny test dialog saw, and what it is told to do.
struct Probe {
  std::vector<WPARAM> commands;     // WM_COMMAND wParams
  std::vector<LPARAM> commandFrom;  // their lParams
  std::vector<WPARAM> sysCommands;  // WM_SYSCOMMAND wParams that reached the proc
  std::vector<WPARAM> timers;       // WM_TIMER ids
  bool visibleAtInit = true;
  UINT timerPeriod = 0;            // SetTimer 2001 at init when nonzero
  bool aboutOnSysCommand = false;  // open dialog 100 modally on 0x10
  INT_PTR aboutResult = 0;
  std::vector<HWND> modalDuringAbout;
  bool paintIconWhenIconic = false;
  HICON icon = nullptr;
};

Probe* ProbeOf(HWND hwnd) { return reinterpret_cast<Probe*>(GetWindowLongPtrW(hwnd, DWLP_USER)); }

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hwnd, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK TestProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    Probe* p = reinterpret_cast<Probe*>(lParam);
    p->visibleAtInit = IsWindowVisible(hwnd) != FALSE;
    if (p->timerPeriod) SetTimer(hwnd, 2001, p->timerPeriod, nullptr);
    return TRUE;
  }
  Probe* p = ProbeOf(hwnd);
  if (!p) return FALSE;
  switch (message) {
    case WM_COMMAND:
      p->commands.push_back(wParam);
      p->commandFrom.push_back(lParam);
      if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) EndDialog(hwnd, LOWORD(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      p->sysCommands.push_back(wParam);
      if (p->aboutOnSysCommand && (wParam & 0xFFF0) == IDM_ABOUTBOX) {
        p->aboutResult =
            DialogBoxParamW(nullptr, MAKEINTRESOURCEW(IDD_ABOUTBOX), hwnd, AboutProc, 0);
        return TRUE;
      }
      return FALSE;  // the default processing: close, minimise, ...
    case WM_TIMER:
      p->timers.push_back(wParam);
      return TRUE;
    case WM_PAINT:
      if (p->paintIconWhenIconic && IsIconic(hwnd)) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT client;
        GetClientRect(hwnd, &client);
        int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, p->icon);
        EndPaint(hwnd, &ps);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR RunMain(Probe& probe) {
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPDATER_DIALOG), nullptr,
                         TestProc, reinterpret_cast<LPARAM>(&probe));
}

// Timer periods shrunk; no wait here is to run out, so the time-outs keep
// their full length.
class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetPeriodScale(0.001); }
  void TearDown() override { platform::SetPeriodScale(1.0); }
};

TEST_F(Dialogs, TimersFireWithTheirIdUnderTheTimeScale) {
  Probe probe;
  probe.timerPeriod = 1000;  // a millisecond at this scale
  auto start = std::chrono::steady_clock::now();
  ui::Script script;
  script.WaitTicks(5).Do([] { ui::PressEscape(ui::TopDialog()); });
  EXPECT_EQ(RunMain(probe), IDCANCEL);
  EXPECT_FALSE(script.TimedOut());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_GE(probe.timers.size(), 5u);
  for (WPARAM id : probe.timers) EXPECT_EQ(id, 2001u);
}

TEST_F(Dialogs, TimerCallbackAndKill) {
  static std::vector<UINT_PTR> fired;
  fired.clear();
  Probe probe;
  ui::Script script;
  HWND dialog = nullptr;
  UINT_PTR threadTimer = 0;
  script
      .Do([&] {
        dialog = ui::TopDialog();
        SetTimer(dialog, 7, 50, [](HWND, UINT, UINT_PTR id, DWORD) { fired.push_back(id); });
        threadTimer =
            SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) { fired.push_back(id); });
      })
      .WaitFor([] { return fired.size() >= 4; })
      .Do([&] {
        EXPECT_TRUE(KillTimer(dialog, 7));
        EXPECT_TRUE(KillTimer(nullptr, threadTimer));
        EXPECT_FALSE(KillTimer(dialog, 7));
        fired.clear();
      })
      .WaitTicks(0)
      .Do([&] { ui::PressEscape(dialog); });
  EXPECT_EQ(RunMain(probe), IDCANCEL);
  EXPECT_FALSE(script.TimedOut());
  EXPECT_NE(threadTimer, 0u);
  EXPECT_TRUE(probe.timers.empty());  // callbacks take the ticks, not the dialog
  EXPECT_TRUE(fired.empty());         // nothing fires once killed
}

TEST_F(Dialogs, ProgressRangeAndPosition) {
  Probe probe;
  HWND dialog = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(IDD_UPDATER_DIALOG), nullptr, TestProc,
                                   reinterpret_cast<LPARAM>(&probe));
  ASSERT_NE(dialog, nullptr);
  HWND bar = GetDlgItem(dialog, IDC_RECORD_PROGRESS);
  PBRANGE range{};
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range)), 0);
  EXPECT_EQ(range.iHigh, 100);  // the default range
  EXPECT_EQ(SendMessageW(bar, PBM_SETRANGE32, 0, 0x8000), MAKELRESULT(0, 100));
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 0x8000);
  EXPECT_EQ(SendMessageW(bar, PBM_SETPOS, 0x4000, 0), 0);
  EXPECT_EQ(SendMessageW(bar, PBM_SETPOS, 0x9000, 0), 0x4000);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0x8000);  // kept inside the range
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(-5), 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
  SendMessageW(bar, PBM_SETPOS, 300, 0);
  SendMessageW(bar, PBM_SETRANGE32, 0, 100);  // a narrower range pulls the position in
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);

  auto c = ui::Control(dialog, IDC_RECORD_PROGRESS);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->rangeLow, 0);
  EXPECT_EQ(c->rangeHigh, 100);
  EXPECT_EQ(c->pos, 100);

  // A repaint on request happens at once, without a message loop.
  unsigned before = c->paintCount;
  SendMessageW(bar, PBM_SETPOS, 40, 0);
  EXPECT_TRUE(UpdateWindow(bar));
  EXPECT_EQ(ui::Control(dialog, IDC_RECORD_PROGRESS)->paintCount, before + 1);
  EXPECT_TRUE(UpdateWindow(bar));  // nothing changed: no paint
  EXPECT_EQ(ui::Control(dialog, IDC_RECORD_PROGRESS)->paintCount, before + 1);
  EXPECT_TRUE(
      RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN));
  EXPECT_EQ(ui::Control(dialog, IDC_RECORD_PROGRESS)->paintCount, before + 2);
  DestroyWindow(dialog);
  EXPECT_FALSE(IsWindow(bar));
}

// Every way a user closes the dialog arrives as WM_COMMAND IDCANCEL.
TEST_F(Dialogs, CloseActionsEndThroughCancel) {
  struct Case {
    const char* name;
    bool (*act)(HWND);
  } cases[] = {
      {"Esc", ui::PressEscape},
      {"close box", ui::CloseBox},
      {"Alt+F4", ui::PressAltF4},
      {"system menu Close", [](HWND h) { return ui::ChooseSystemMenuItem(h, SC_CLOSE); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Probe probe;
    ui::Script script;
    bool acted = false;
    script.Do([&] { acted = c.act(ui::TopDialog()); });
    EXPECT_EQ(RunMain(probe), IDCANCEL);
    EXPECT_TRUE(acted);
    EXPECT_FALSE(script.TimedOut());
    ASSERT_EQ(probe.commands.size(), 1u);
    EXPECT_EQ(LOWORD(probe.commands[0]), IDCANCEL);
    EXPECT_TRUE(ui::ModalStack().empty());
  }
}

TEST_F(Dialogs, EnterPressesTheDefaultButton) {
  Probe probe;
  ui::Script script;
  HWND dialog = nullptr;
  std::size_t afterDisabled = 0;
  script
      .Do([&] {
        dialog = ui::TopDialog();
        ui::PressEnter(dialog);
      })
      .WaitFor([&] { return probe.commands.size() == 1; })
      .Do([&] {
        // A disabled default button takes no Enter.
        EnableWindow(GetDlgItem(dialog, IDC_UPDATE_NOW), FALSE);
        ui::PressEnter(dialog);
      })
      .Do([&] {
        afterDisabled = probe.commands.size();
        // Without a default button Enter means IDOK.
        SendMessageW(GetDlgItem(dialog, IDC_UPDATE_NOW), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
        ui::PressEnter(dialog);
      });
  EXPECT_EQ(RunMain(probe), IDOK);
  EXPECT_FALSE(script.TimedOut());
  EXPECT_EQ(afterDisabled, 1u);
  ASSERT_EQ(probe.commands.size(), 2u);
  EXPECT_EQ(probe.commands[0], MAKEWPARAM(IDC_UPDATE_NOW, BN_CLICKED));
  EXPECT_EQ(probe.commands[1], static_cast<WPARAM>(IDOK));
}

TEST_F(Dialogs, ClickNeedsAButtonTheUserCanSee) {
  Probe probe;
  ui::Script script;
  HWND dialog = nullptr;
  HWND button = nullptr;
  bool clickedHidden = true, clickedStatic = true, clickedShown = false;
  script
      .Do([&] {
        dialog = ui::TopDialog();
        button = GetDlgItem(dialog, IDC_UPDATE_NOW);
        ShowWindow(GetDlgItem(dialog, IDC_UPDATE_NOW), SW_HIDE);
        clickedHidden = ui::Click(dialog, IDC_UPDATE_NOW);
        clickedStatic = ui::Click(dialog, IDC_STATUS_TEXT);
        EXPECT_FALSE(ShowWindow(GetDlgItem(dialog, IDC_UPDATE_NOW), SW_SHOW));
        clickedShown = ui::Click(dialog, IDC_UPDATE_NOW);
      })
      .WaitFor([&] { return !probe.commands.empty(); })
      .Do([&] { ui::PressEscape(dialog); });
  RunMain(probe);
  EXPECT_FALSE(clickedHidden);
  EXPECT_FALSE(clickedStatic);
  EXPECT_TRUE(clickedShown);
  ASSERT_EQ(probe.commands.size(), 2u);
  EXPECT_EQ(probe.commands[0], MAKEWPARAM(IDC_UPDATE_NOW, BN_CLICKED));
  EXPECT_EQ(probe.commandFrom[0], reinterpret_cast<LPARAM>(button));
}

TEST_F(Dialogs, SystemMenuItemAppendedAndChosen) {
  Probe probe;
  ui::Script script;
  HWND dialog = nullptr;
  std::vector<ui::MenuItem> items;
  bool chosen = false, unknown = true;
  script
      .Do([&] {
        dialog = ui::TopDialog();
        HMENU menu = GetSystemMenu(dialog, FALSE);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(GetSystemMenu(dialog, FALSE), menu);
        wchar_t text[64];
        LoadStringW(nullptr, IDS_ABOUTBOX, text, 64);
        EXPECT_TRUE(AppendMenuW(menu, MF_SEPARATOR, 0, nullptr));
        EXPECT_TRUE(AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text));
        items = ui::SystemMenu(dialog);
        unknown = ui::ChooseSystemMenuItem(dialog, 0x20);
        chosen = ui::ChooseSystemMenuItem(dialog, IDM_ABOUTBOX);
      })
      .WaitFor([&] { return !probe.sysCommands.empty(); })
      .Do([&] { ui::PressEscape(dialog); });
  EXPECT_EQ(RunMain(probe), IDCANCEL);
  EXPECT_TRUE(chosen);
  EXPECT_FALSE(unknown);
  ASSERT_GE(items.size(), 2u);
  EXPECT_TRUE(items[items.size() - 2].separator());
  EXPECT_EQ(items.back().id, static_cast<UINT_PTR>(IDM_ABOUTBOX));
  EXPECT_EQ(items.back().text, L"&About Updater...");
  // A modal frame has no minimise, maximise or size items.
  for (const auto& i : items) {
    EXPECT_NE(i.id, static_cast<UINT_PTR>(SC_MINIMIZE));
    EXPECT_NE(i.id, static_cast<UINT_PTR>(SC_SIZE));
  }
  ASSERT_EQ(probe.sysCommands.size(), 1u);
  EXPECT_EQ(probe.sysCommands[0], static_cast<WPARAM>(IDM_ABOUTBOX));
}

TEST_F(Dialogs, NestedAboutBoxReturnsAndTheDialogGoesOn) {
  Probe probe;
  probe.timerPeriod = 1000;
  probe.aboutOnSysCommand = true;
  ui::Script script;
  HWND dialog = nullptr;
  ui::DialogState outerDuring, about;
  std::size_t ticksBeforeAbout = 0, ticksDuringAbout = 0;
  script
      .Do([&] {
        dialog = ui::TopDialog();
        HMENU menu = GetSystemMenu(dialog, FALSE);
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, L"&About Updater...");
        ticksBeforeAbout = probe.timers.size();
        ui::ChooseSystemMenuItem(dialog, IDM_ABOUTBOX);
      })
      .WaitForDialog(L"About Updater")
      .WaitTicks(3)  // the owner's timer keeps running under the about box
      .Do([&] {
        ticksDuringAbout = probe.timers.size() - ticksBeforeAbout;
        ui::Inspect(dialog, outerDuring);
        ui::Inspect(ui::TopDialog(), about);
        EXPECT_FALSE(ui::Click(dialog, IDC_UPDATE_NOW));  // the owner takes no input now
        ui::PressEnter(ui::TopDialog());
      })
      .WaitFor([&] { return ui::ModalStack().size() == 1; })
      .WaitTicks(2)
      .Do([&] {
        EXPECT_TRUE(IsWindowEnabled(dialog));
        EXPECT_TRUE(ui::Click(dialog, IDC_UPDATE_NOW));
      })
      .WaitFor([&] { return !probe.commands.empty(); })
      .Do([&] { ui::PressEscape(dialog); });
  EXPECT_EQ(RunMain(probe), IDCANCEL);
  EXPECT_FALSE(script.TimedOut());
  EXPECT_EQ(probe.aboutResult, IDOK);
  EXPECT_EQ(about.caption, L"About Updater");
  EXPECT_TRUE(about.visible);
  EXPECT_FALSE(outerDuring.enabled);
  EXPECT_GE(ticksDuringAbout, 3u);
  ASSERT_EQ(probe.commands.size(), 2u);
  EXPECT_EQ(probe.commands[0], MAKEWPARAM(IDC_UPDATE_NOW, BN_CLICKED));
  EXPECT_EQ(LOWORD(probe.commands[1]), IDCANCEL);
}

TEST_F(Dialogs, AboutBoxShowsOnceItsLoopIsIdle) {
  Probe probe;
  ui::Script script;
  bool visible = false;
  script.Do([&] {
    visible = IsWindowVisible(ui::TopDialog()) != FALSE;
    ui::PressEscape(ui::TopDialog());
  });
  EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(IDD_ABOUTBOX), nullptr, TestProc,
                            reinterpret_cast<LPARAM>(&probe)),
            IDCANCEL);
  EXPECT_FALSE(probe.visibleAtInit);
  EXPECT_TRUE(visible);
}

TEST_F(Dialogs, MinimisedDialogDrawsItsIcon) {
  Probe probe;
  probe.paintIconWhenIconic = true;
  probe.icon = LoadIconW(nullptr, MAKEINTRESOURCEW(IDR_MAINFRAME));
  ui::ClearDrawIconCalls();
  ui::Script script;
  HWND dialog = nullptr;
  HICON big = nullptr, small = nullptr;
  script
      .Do([&] {
        dialog = ui::TopDialog();
        EXPECT_EQ(SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(probe.icon)),
                  0);
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(probe.icon));
        auto d = ui::Inspect(dialog);
        big = d->bigIcon;
        small = d->smallIcon;
        EXPECT_TRUE(ui::DrawIconCalls().empty());  // not while it is shown normally
        ui::Minimize(dialog);
      })
      .WaitFor([] { return !ui::DrawIconCalls().empty(); })
      .Do([&] {
        EXPECT_TRUE(IsIconic(dialog));
        ui::Restore(dialog);
      })
      .WaitFor([&] { return !IsIconic(dialog); })
      .Do([&] { ui::PressEscape(dialog); });
  EXPECT_EQ(RunMain(probe), IDCANCEL);
  EXPECT_FALSE(script.TimedOut());
  EXPECT_EQ(big, probe.icon);
  EXPECT_EQ(small, probe.icon);
  auto calls = ui::DrawIconCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].window, dialog);
  EXPECT_EQ(calls[0].icon, probe.icon);
  // A 300 x 244 client area and a 32-pixel icon.
  EXPECT_EQ(calls[0].x, (300 - 32 + 1) / 2);
  EXPECT_EQ(calls[0].y, (244 - 32 + 1) / 2);
}

TEST_F(Dialogs, ChangeHookSeesWhatTheDialogShows) {
  Probe probe;
  HWND dialog = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(IDD_UPDATER_DIALOG), nullptr, TestProc,
                                   reinterpret_cast<LPARAM>(&probe));
  std::vector<HWND> changed;
  auto previous = ui::SetChangeHook([&](HWND h) { changed.push_back(h); });
  HWND status = GetDlgItem(dialog, IDC_STATUS_TEXT);
  EXPECT_TRUE(SetDlgItemTextW(dialog, IDC_STATUS_TEXT, L"Ready"));
  ShowWindow(GetDlgItem(dialog, IDC_UPDATE_NOW), SW_HIDE);
  SendDlgItemMessageW(dialog, IDC_OVERALL_PROGRESS, PBM_SETPOS, 5, 0);
  ui::SetChangeHook(previous);
  std::vector<HWND> expected{status, GetDlgItem(dialog, IDC_UPDATE_NOW),
                             GetDlgItem(dialog, IDC_OVERALL_PROGRESS)};
  EXPECT_EQ(changed, expected);
  wchar_t text[16];
  EXPECT_EQ(GetDlgItemTextW(dialog, IDC_STATUS_TEXT, text, 16), 5u);
  EXPECT_STREQ(text, L"Ready");
  EXPECT_EQ(GetWindowTextLengthW(dialog), 21);
  EXPECT_FALSE(ui::Control(dialog, IDC_UPDATE_NOW)->visible);
  DestroyWindow(dialog);
}

TEST_F(Dialogs, MessagesFromAnotherThreadReachTheDialog) {
  Probe probe;
  ui::Script script;
  std::thread poster;
  int caption = 0;
  script.Do([&] {
    HWND dialog = ui::TopDialog();
    poster = std::thread([dialog, &caption] {
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE_NOW, BN_CLICKED), 0);
      wchar_t text[32];
      // A sent message waits for the dialog's thread to answer it.
      caption =
          static_cast<int>(SendMessageW(dialog, WM_GETTEXT, 32, reinterpret_cast<LPARAM>(text)));
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
  });
  EXPECT_EQ(RunMain(probe), IDCANCEL);
  poster.join();
  EXPECT_EQ(caption, 21);
  ASSERT_EQ(probe.commands.size(), 2u);
  EXPECT_EQ(probe.commands[0], MAKEWPARAM(IDC_UPDATE_NOW, BN_CLICKED));
}

TEST_F(Dialogs, StuckScriptEndsTheDialogInsteadOfHanging) {
  Probe probe;
  ui::Script script(std::chrono::milliseconds(50));
  script.WaitFor([] { return false; });
  EXPECT_EQ(RunMain(probe), -1);
  EXPECT_TRUE(script.TimedOut());
  EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(999), nullptr, TestProc, 0), -1);
}

}  // namespace
