// Where the framework opens a modal dialog: centred when its own
// initialisation left it hidden and where its template put it, on the work
// area or over a visible owner, and never past the work area's edges.
#include <platform/afx.h>
#include <platform/host/ui_driver.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <app/resource.h>

namespace {

using namespace platform::ui;

// The about box's template, with something to do during initialisation.
class Box : public CDialog {
 public:
  Box(CWnd* parent, std::function<void(HWND)> atInit)
      : CDialog(IDD_ABOUTBOX, parent), m_atInit(std::move(atInit)) {}

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (m_atInit) {
      m_atInit(m_hWnd);
    }
    return TRUE;
  }

 private:
  std::function<void(HWND)> m_atInit;
};

INT_PTR CALLBACK OwnerProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(DialogPlacement, CentredOnlyWhenInitialisationLeftItAlone) {
  // On the host a dialog unit is two pixels and there is no frame: the box
  // is 470 by 110, the owner (the main dialog's template) 300 by 244, the
  // work area the whole 1024 by 768 screen.
  struct Case {
    const char* name;
    std::optional<POINT> ownerAt;  // none: no owner
    int ownerShow;
    std::function<void(HWND)> atInit;
    POINT expected;  // the box's top-left corner
  };
  const Case cases[] = {
      {"no owner: on the work area", std::nullopt, SW_SHOW, nullptr, {277, 329}},
      {"over its owner", POINT{100, 100}, SW_SHOW, nullptr, {15, 167}},
      {"over its owner, pushed back inside the work area",
       POINT{700, 600},
       SW_SHOW,
       nullptr,
       {554, 658}},
      {"a minimised owner: on the work area", POINT{100, 100}, SW_MINIMIZE, nullptr, {277, 329}},
      {"a hidden owner: on the work area", POINT{100, 100}, SW_HIDE, nullptr, {277, 329}},
      {"moved during initialisation: left there",
       std::nullopt,
       SW_SHOW,
       [](HWND box) { ::SetWindowPos(box, nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER); },
       {10, 20}},
      {"shown during initialisation: left at the template's place",
       std::nullopt,
       SW_SHOW,
       [](HWND box) { ::ShowWindow(box, SW_SHOW); },
       {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HWND ownerWindow = nullptr;
    CWnd owner;
    if (c.ownerAt) {
      ownerWindow = CreateDialogParamW(GetModuleHandleW(nullptr),
                                       MAKEINTRESOURCEW(IDD_UPDATER_DIALOG), nullptr, OwnerProc, 0);
      ASSERT_NE(ownerWindow, nullptr);
      ::SetWindowPos(ownerWindow, nullptr, c.ownerAt->x, c.ownerAt->y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER);
      ::ShowWindow(ownerWindow, c.ownerShow);
      owner.Attach(ownerWindow);
    }
    Box box(c.ownerAt ? &owner : nullptr, c.atInit);
    RECT seen{};
    Script script;
    script.WaitFor([] { return !ModalStack().empty(); }).Do([&] {
      ::GetWindowRect(ModalStack().back(), &seen);
      PressEscape(ModalStack().back());
    });
    EXPECT_EQ(box.DoModal(), IDCANCEL);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(seen.right - seen.left, 470);
    EXPECT_EQ(seen.left, c.expected.x);
    EXPECT_EQ(seen.top, c.expected.y);
    owner.Detach();
    if (ownerWindow != nullptr) {
      ::DestroyWindow(ownerWindow);
    }
  }
}

}  // namespace
