// The dialog on the host's window services, built from the embedded
// templates and driven the way a user would.
#include <app/Updater.h>
#include <app/UpdaterDlg.h>
#include <platform/host/providers.h>
#include <platform/host/ui_driver.h>

#include <gtest/gtest.h>

#include "fake_device.h"
#include "status_texts.h"

namespace {

using namespace platform::ui;

constexpr const wchar_t* kCaption = L"VARN Firmware Updater";
constexpr const wchar_t* kAboutCaption = L"About Updater";

// What the user can see of the main dialog, for before/after comparisons.
struct Visible {
  std::wstring caption;
  bool enabled;
  std::vector<std::tuple<int, std::wstring, bool, int, int, int>> controls;
  std::size_t menuItems;
  bool operator==(const Visible&) const = default;
};

Visible Look(HWND dialog) {
  Visible v{};
  DialogState state;
  if (!Inspect(dialog, state)) {
    return v;
  }
  v.caption = state.caption;
  v.enabled = state.enabled;
  for (const ControlState& c : state.controls) {
    v.controls.emplace_back(c.id, c.text, c.visible, c.rangeLow, c.rangeHigh, c.pos);
  }
  v.menuItems = SystemMenu(dialog).size();
  return v;
}

TEST(UpdaterDialog, OpensFromItsTemplateWithTheFrameSet) {
  CUpdaterDlg dlg(ProductKindDunmi, nullptr);
  ASSERT_NE(dlg.m_hIcon, nullptr);
  DialogState state;
  std::vector<MenuItem> menu;
  Script script;
  script.WaitForDialog(kCaption).Do([&] {
    Inspect(TopDialog(), state);
    menu = SystemMenu(TopDialog());
    EXPECT_EQ(dlg.m_hWnd, TopDialog());
    EXPECT_EQ(dlg.m_updateButton.m_hWnd, ::GetDlgItem(dlg.m_hWnd, IDC_UPDATE_NOW));
    EXPECT_EQ(dlg.m_recordProgress.m_hWnd, ::GetDlgItem(dlg.m_hWnd, IDC_RECORD_PROGRESS));
    EXPECT_EQ(dlg.m_overallProgress.m_hWnd, ::GetDlgItem(dlg.m_hWnd, IDC_OVERALL_PROGRESS));
    PressEscape(TopDialog());
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);  // Esc ends it
  EXPECT_TRUE(script.Finished());

  EXPECT_EQ(state.caption, kCaption);
  EXPECT_EQ(state.bigIcon, dlg.m_hIcon);
  EXPECT_EQ(state.smallIcon, dlg.m_hIcon);
  const auto icon = Icon(dlg.m_hIcon);
  ASSERT_TRUE(icon.has_value());
  EXPECT_EQ(icon->group, IDR_MAINFRAME);
  EXPECT_EQ(icon->width, 32);  // the system's standard size

  ASSERT_EQ(state.controls.size(), 5u);
  const int ids[] = {IDC_UPDATE_NOW, IDC_STATUS_TEXT, IDC_RECORD_PROGRESS, IDC_OVERALL_PROGRESS};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(state.controls[i].id, ids[i]);
  }
  EXPECT_EQ(state.controls[0].text, L"Update Now");
  // No unit plugged in: the first detection hid the button and the record
  // bar and replaced the template's placeholder with the status-3 text.
  EXPECT_FALSE(state.controls[0].visible);
  EXPECT_TRUE(state.controls[1].visible);
  EXPECT_FALSE(state.controls[2].visible);
  EXPECT_TRUE(state.controls[3].visible);
  EXPECT_EQ(state.controls[1].text, status_texts::Expected(ProductKindDunmi, 3, L"").text);
  EXPECT_EQ(state.controls[2].rangeLow, 0);
  EXPECT_EQ(state.controls[2].rangeHigh, 0x8000);
  EXPECT_EQ(state.controls[2].pos, 0);
  EXPECT_EQ(state.controls[3].rangeLow, 0);
  EXPECT_EQ(state.controls[3].rangeHigh, 100);
  EXPECT_EQ(state.controls[3].pos, 0);

  ASSERT_GE(menu.size(), 2u);
  EXPECT_TRUE(menu[menu.size() - 2].separator());
  EXPECT_EQ(menu.back().id, static_cast<UINT_PTR>(IDM_ABOUTBOX));
  EXPECT_EQ(menu.back().text, L"&About Updater...");

  // The window is gone and nothing keeps its handles.
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(dlg.m_updateButton.m_hWnd, nullptr);
  EXPECT_EQ(dlg.m_overallProgress.m_hWnd, nullptr);
}

TEST(UpdaterDialog, TheProgramRunsTheDialogAsItsMainWindow) {
  platform::host::ScopedModuleFileName path(L"C:\\Plimo Tools\\Zolte Flash.exe");
  CUpdaterDlg* seen = nullptr;
  ProductKind kind = ProductKindFireWire;
  std::wstring fileName;
  Script script;
  script.WaitForDialog(kCaption).Do([&] {
    seen = dynamic_cast<CUpdaterDlg*>(AfxGetMainWnd());
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->m_hWnd, TopDialog());
    kind = seen->m_productKind;
    fileName = seen->m_fileName.str();
    CloseBox(TopDialog());  // the default processing of a system command
  });
  EXPECT_EQ(&theApp, AfxGetApp());
  EXPECT_EQ(AfxWinMain(), 0);
  EXPECT_TRUE(script.Finished());
  EXPECT_NE(seen, nullptr);
  EXPECT_EQ(kind, ProductKindZolteFenra);
  EXPECT_EQ(fileName, L"\\Zolte Flash.exe");
  EXPECT_EQ(theApp.m_registryKey, L"Local AppWizard-Generated Applications");
  EXPECT_EQ(AfxGetMainWnd(), nullptr);  // the dialog went with InitInstance
}

TEST(UpdaterDialog, AboutBoxForEverySystemCommandOfItsItem) {
  for (UINT id : {0x10u, 0x11u, 0x1Au, 0x1Fu}) {
    CUpdaterDlg dlg(ProductKindPlimo, nullptr);
    theApp.m_pMainWnd = &dlg;  // as the program runs it: the about box's owner
    Visible before, during, after;
    std::size_t depth = 0;
    std::wstring aboutText;
    Script script;
    script.WaitForDialog(kCaption)
        .Do([&] {
          dlg.m_status = UpdateStatusNotDetected;
          dlg.m_percent = 40;
          dlg.RefreshStatus();
          before = Look(dlg.m_hWnd);
          PostMessageW(dlg.m_hWnd, WM_SYSCOMMAND, id, 0);
        })
        .WaitForDialog(kAboutCaption)
        .Do([&] {
          depth = ModalStack().size();
          during = Look(dlg.m_hWnd);
          aboutText = Control(TopDialog(), IDOK)->text;
          Click(TopDialog(), IDOK);
        })
        .WaitFor([&] { return ModalStack().size() == 1; })
        .Do([&] {
          after = Look(dlg.m_hWnd);
          PressEscape(dlg.m_hWnd);
        });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    theApp.m_pMainWnd = nullptr;
    EXPECT_TRUE(script.Finished()) << id;
    EXPECT_EQ(depth, 2u) << id;
    EXPECT_EQ(aboutText, L"OK");
    EXPECT_FALSE(during.enabled) << "modal to the main dialog";
    EXPECT_TRUE(before.enabled);
    EXPECT_EQ(after, before) << id;
    EXPECT_EQ(dlg.m_status, UpdateStatusNotDetected);
  }
}

POINT Centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

TEST(UpdaterDialog, OpensCentredOnTheWorkAreaAndTheAboutBoxOverIt) {
  CUpdaterDlg dlg(ProductKindPlimo, nullptr);
  theApp.m_pMainWnd = &dlg;  // as the program runs it: the about box's owner
  RECT main{}, about{}, mainAfter{};
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] {
        ::GetWindowRect(dlg.m_hWnd, &main);
        PostMessageW(dlg.m_hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
      })
      .WaitForDialog(kAboutCaption)
      .Do([&] {
        ::GetWindowRect(TopDialog(), &about);
        Click(TopDialog(), IDOK);
      })
      .WaitFor([&] { return ModalStack().size() == 1; })
      .Do([&] {
        ::GetWindowRect(dlg.m_hWnd, &mainAfter);
        PressEscape(dlg.m_hWnd);
      });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  theApp.m_pMainWnd = nullptr;
  ASSERT_TRUE(script.Finished());

  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY), &monitor));
  const POINT workCentre = Centre(monitor.rcWork);
  EXPECT_EQ(Centre(main).x, workCentre.x);
  EXPECT_EQ(Centre(main).y, workCentre.y);
  EXPECT_EQ(Centre(about).x, Centre(main).x);
  EXPECT_EQ(Centre(about).y, Centre(main).y);
  EXPECT_EQ(mainAfter.left, main.left) << "the about box moves nothing but itself";
  EXPECT_EQ(mainAfter.top, main.top);
}

TEST(UpdaterDialog, OtherSystemCommandsTakeTheDefault) {
  CUpdaterDlg dlg(ProductKindPlimo, nullptr);
  std::size_t depth = 0;
  bool iconic = false;
  Script script;
  script.WaitForDialog(kCaption)
      .Do([&] { PostMessageW(dlg.m_hWnd, WM_SYSCOMMAND, 0x20, 0); })
      .Do([&] {
        depth = ModalStack().size();
        Minimize(dlg.m_hWnd);
      })
      .Do([&] {
        iconic = dlg.IsIconic();
        PressEscape(dlg.m_hWnd);
      });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(depth, 1u);  // 0x20 is not the about item
  EXPECT_TRUE(iconic);
}

TEST(UpdaterDialog, MinimisedIconCentredInTheClientArea) {
  // The template's own size, odd sizes (where the +1 shows) and a client
  // smaller than the icon (where the division truncates toward zero).
  const SIZE sizes[] = {{0, 0}, {301, 245}, {2, 3}};
  for (const SIZE size : sizes) {
    CUpdaterDlg dlg(ProductKindDunmi, nullptr);
    std::vector<DrawIconCall> minimised, restored;
    RECT client{};
    HICON dragIcon = nullptr;
    HWND window = nullptr;
    unsigned paintsBefore = 0;
    Script script;
    script.WaitForDialog(kCaption)
        .Do([&] {
          window = dlg.m_hWnd;
          if (size.cx != 0) {
            ::MoveWindow(dlg.m_hWnd, 0, 0, size.cx, size.cy, TRUE);
          }
          ClearDrawIconCalls();
          Minimize(dlg.m_hWnd);
        })
        .WaitFor([&] { return !DrawIconCalls().empty(); })
        .Do([&] {
          minimised = DrawIconCalls();
          ::GetClientRect(dlg.m_hWnd, &client);
          dragIcon = reinterpret_cast<HICON>(SendMessageW(dlg.m_hWnd, WM_QUERYDRAGICON, 0, 0));
          Restore(dlg.m_hWnd);
        })
        .WaitFor([&] { return !dlg.IsIconic(); })
        .Do([&] {
          ClearDrawIconCalls();
          paintsBefore = Inspect(dlg.m_hWnd)->paintCount;
          ::InvalidateRect(dlg.m_hWnd, nullptr, TRUE);
        })
        .WaitFor([&] { return Inspect(dlg.m_hWnd)->paintCount > paintsBefore; })
        .Do([&] {
          restored = DrawIconCalls();
          PressEscape(dlg.m_hWnd);
        });
    dlg.DoModal();
    ASSERT_TRUE(script.Finished());
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (size.cx != 0) {
      EXPECT_EQ(width, size.cx);
      EXPECT_EQ(height, size.cy);
    }
    ASSERT_EQ(minimised.size(), 1u);
    EXPECT_EQ(minimised[0].x, (width - 32 + 1) / 2) << width;
    EXPECT_EQ(minimised[0].y, (height - 32 + 1) / 2) << height;
    if (size.cx == 2) {
      EXPECT_EQ(minimised[0].x, -14);
      EXPECT_EQ(minimised[0].y, -14);
    }
    EXPECT_EQ(minimised[0].window, window);
    EXPECT_EQ(minimised[0].icon, dlg.m_hIcon);
    EXPECT_EQ(dragIcon, dlg.m_hIcon);
    EXPECT_TRUE(restored.empty());  // painted normally once restored
  }
}

TEST(UpdaterDialog, StatusTextButtonAndOverallBarForEveryCode) {
  CUpdaterDlg dlg(ProductKindDunmi, nullptr);
  int checked = 0;
  Script script;
  script.WaitForDialog(kCaption).Do([&] {
    // After the first detection, which made a device of its own.
    auto device = std::make_unique<FakeDevice>();
    device->versionText = L"3.10";
    dlg.m_device = std::move(device);
    for (int kind = -1; kind <= 7; ++kind) {
      for (int code = -1; code <= 16; ++code) {
        for (bool shownBefore : {true, false}) {
          const auto expected = status_texts::Expected(kind, code, L"3.10");
          dlg.m_productKind = static_cast<ProductKind>(kind);
          dlg.m_status = code;
          dlg.m_percent = (kind * 17 + code * 5 + 200) % 101;
          dlg.m_updateButton.ShowWindow(shownBefore ? SW_SHOW : SW_HIDE);
          // Someone else moved the bar: the refresh puts it back.
          dlg.m_overallProgress.SetPos(77);
          dlg.RefreshStatus();
          const auto text = Control(dlg.m_hWnd, IDC_STATUS_TEXT);
          const auto button = Control(dlg.m_hWnd, IDC_UPDATE_NOW);
          const auto bar = Control(dlg.m_hWnd, IDC_OVERALL_PROGRESS);
          EXPECT_EQ(text->text, expected.text) << kind << "/" << code;
          EXPECT_EQ(button->visible, shownBefore && !expected.hidesButton) << kind << "/" << code;
          EXPECT_EQ(bar->pos, dlg.m_percent) << kind << "/" << code;
          EXPECT_EQ(button->text, L"Update Now");
          ++checked;
        }
      }
    }
    PressEscape(dlg.m_hWnd);
  });
  dlg.DoModal();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(checked, 9 * 18 * 2);
}

TEST(UpdaterDialog, RecordBarOperations) {
  CUpdaterDlg dlg(ProductKindDunmi, nullptr);
  UpdaterDlgClient& client = dlg;
  std::optional<ControlState> ranged, positioned, redrawn;
  std::wstring textAfterRedraw;
  Script script;
  script.WaitForDialog(kCaption).Do([&] {
    client.SetRecordRange(5, 500);
    ranged = Control(dlg.m_hWnd, IDC_RECORD_PROGRESS);
    client.SetRecordPos(250);
    positioned = Control(dlg.m_hWnd, IDC_RECORD_PROGRESS);
    dlg.m_statusText = L"exchanged";
    client.SetRecordPosAndRedraw(300);
    redrawn = Control(dlg.m_hWnd, IDC_RECORD_PROGRESS);
    textAfterRedraw = Control(dlg.m_hWnd, IDC_STATUS_TEXT)->text;
    client.SetStatus(9);
    PressEscape(dlg.m_hWnd);
  });
  dlg.DoModal();
  ASSERT_TRUE(script.Finished());
  EXPECT_EQ(ranged->rangeLow, 5);
  EXPECT_EQ(ranged->rangeHigh, 500);
  EXPECT_EQ(positioned->pos, 250);
  EXPECT_EQ(redrawn->pos, 300);
  EXPECT_EQ(textAfterRedraw, L"exchanged");
  EXPECT_EQ(dlg.m_status, 9);
}

}  // namespace
