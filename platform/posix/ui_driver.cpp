// Host window services: the driver that tests and the terminal front use to
// read the dialogs and to act as the user.
#include <platform/host/ui_driver.h>

#include <thread>

#include "ui_internal.h"

namespace platform::ui {
namespace {

using namespace platform::ui_detail;

bool ControlFrom(const WindowSnapshot& w, ControlState& c) {
  c.hwnd = w.hwnd;
  c.id = w.id;
  c.className = w.className;
  c.text = w.text;
  c.style = w.style;
  c.exStyle = w.exStyle;
  c.visible = (w.style & WS_VISIBLE) != 0;
  c.enabled = (w.style & WS_DISABLED) == 0;
  c.rangeLow = w.rangeLow;
  c.rangeHigh = w.rangeHigh;
  c.pos = w.pos;
  c.rect = w.rect;
  c.paintCount = w.paintCount;
  return true;
}

HWND RootOf(HWND hwnd) {
  WindowSnapshot w;
  while (Snapshot(hwnd, w) && (w.style & WS_CHILD) && w.parent) hwnd = w.parent;
  return hwnd;
}

// Whether the user could act on this window now: it and its dialog are
// shown and enabled.
bool Reachable(HWND hwnd) {
  if (!IsWindow(hwnd) || !IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd)) return false;
  HWND root = RootOf(hwnd);
  return IsWindowEnabled(root) != FALSE;
}

}  // namespace

std::vector<HWND> ModalStack() { return ThreadModalStack(); }

HWND TopDialog() {
  auto modal = ThreadModalStack();
  if (!modal.empty()) return modal.back();
  auto windows = ThreadTopLevelWindows();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    WindowSnapshot w;
    if (Snapshot(*it, w) && w.isDialog) return *it;
  }
  return nullptr;
}

bool Inspect(HWND dialog, DialogState& out) {
  WindowSnapshot w;
  if (!Snapshot(dialog, w)) return false;
  out = DialogState{};
  out.hwnd = w.hwnd;
  out.caption = w.text;
  out.style = w.style;
  out.exStyle = w.exStyle;
  out.visible = IsWindowVisible(dialog) != FALSE;
  out.enabled = (w.style & WS_DISABLED) == 0;
  out.iconic = w.iconic;
  out.bigIcon = w.bigIcon;
  out.smallIcon = w.smallIcon;
  GetClientRect(dialog, &out.client);
  out.paintCount = w.paintCount;
  for (HWND c : w.children) {
    WindowSnapshot cw;
    ControlState state;
    if (Snapshot(c, cw) && ControlFrom(cw, state)) out.controls.push_back(state);
  }
  return true;
}

std::optional<DialogState> Inspect(HWND dialog) {
  DialogState state;
  if (!Inspect(dialog, state)) return std::nullopt;
  return state;
}

std::optional<ControlState> Control(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  WindowSnapshot w;
  ControlState state;
  if (!item || !Snapshot(item, w)) return std::nullopt;
  ControlFrom(w, state);
  return state;
}

std::vector<MenuItem> MenuItems(HMENU menu) {
  std::vector<MenuItemInfo> items;
  std::vector<MenuItem> out;
  if (!MenuSnapshot(menu, items)) return out;
  for (const auto& i : items) out.push_back(MenuItem{i.flags, i.id, i.text});
  return out;
}

std::vector<MenuItem> SystemMenu(HWND window) {
  WindowSnapshot w;
  if (!Snapshot(window, w) || !w.systemMenu) return {};
  return MenuItems(w.systemMenu);
}

std::optional<IconInfo> Icon(HICON icon) {
  IconImage image;
  if (!LookupIcon(icon, image)) return std::nullopt;
  return IconInfo{image.width, image.height, image.bitsPerPixel, image.hasMask, image.group};
}

std::vector<DrawIconCall> DrawIconCalls() {
  std::vector<DrawIconCall> out;
  for (const auto& r : DrawIconRecords()) out.push_back(DrawIconCall{r.window, r.x, r.y, r.icon});
  return out;
}

void ClearDrawIconCalls() { ClearDrawIconRecords(); }

std::uint64_t TimerTicks() { return ThreadTimerTicks(); }

bool Click(HWND dialog, int buttonId) {
  HWND button = GetDlgItem(dialog, buttonId);
  WindowSnapshot w;
  if (!button || !Snapshot(button, w) || w.className != L"Button" || !Reachable(button))
    return false;
  return PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

bool PressKey(HWND dialog, UINT virtualKey) {
  if (!Reachable(dialog)) return false;
  HWND target = dialog;
  HWND focus = GetFocus();
  if (focus && RootOf(focus) == dialog && Reachable(focus)) target = focus;
  return PostMessageW(target, WM_KEYDOWN, virtualKey, 1) != FALSE;
}

bool PressEscape(HWND dialog) { return PressKey(dialog, VK_ESCAPE); }
bool PressEnter(HWND dialog) { return PressKey(dialog, VK_RETURN); }

bool PressAltF4(HWND dialog) {
  if (!Reachable(dialog)) return false;
  return PostMessageW(dialog, WM_SYSKEYDOWN, VK_F4, 0x20000000) != FALSE;
}

bool ChooseSystemMenuItem(HWND dialog, UINT id) {
  if (!Reachable(dialog)) return false;
  HMENU menu = GetSystemMenu(dialog, FALSE);
  if (!menu) return false;
  for (const auto& item : MenuItems(menu)) {
    if (item.separator() || item.id != id || (item.flags & (MF_GRAYED | MF_DISABLED))) continue;
    return PostMessageW(dialog, WM_SYSCOMMAND, id, 0) != FALSE;
  }
  return false;
}

bool CloseBox(HWND dialog) {
  WindowSnapshot w;
  if (!Reachable(dialog) || !Snapshot(dialog, w) || !(w.style & WS_SYSMENU)) return false;
  return PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE;
}

bool Minimize(HWND dialog) {
  if (!IsWindowVisible(dialog)) return false;
  return PostMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0) != FALSE;
}

bool Restore(HWND dialog) {
  if (!IsWindow(dialog)) return false;
  return PostMessageW(dialog, WM_SYSCOMMAND, SC_RESTORE, 0) != FALSE;
}

IdleHook SetIdleHook(IdleHook hook) { return ExchangeIdleHook(std::move(hook)); }

ChangeHook SetChangeHook(ChangeHook hook) { return ExchangeChangeHook(std::move(hook)); }

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  MSG msg;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return done();
    }
    HWND root = msg.hwnd ? RootOf(msg.hwnd) : nullptr;
    WindowSnapshot w;
    if (root && Snapshot(root, w) && w.isDialog && IsDialogMessageW(root, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

bool RunTicks(unsigned ticks, std::chrono::milliseconds limit) {
  std::uint64_t target = TimerTicks() + ticks;
  return RunUntil([target] { return TimerTicks() >= target; }, limit);
}

Script::Script(std::chrono::milliseconds limit)
    : deadline_(std::chrono::steady_clock::now() + limit) {
  previous_ = SetIdleHook([this] { Turn(); });
}

Script::~Script() { SetIdleHook(std::move(previous_)); }

Script& Script::Do(std::function<void()> action) {
  steps_.push_back(Step{nullptr, std::move(action), nullptr});
  return *this;
}

Script& Script::WaitFor(std::function<bool()> condition) {
  steps_.push_back(Step{std::move(condition), nullptr, nullptr});
  return *this;
}

Script& Script::WaitTicks(unsigned ticks) {
  steps_.push_back(Step{[this, ticks] { return TimerTicks() >= tickMark_ + ticks; }, nullptr,
                        [this] { tickMark_ = TimerTicks(); }});
  return *this;
}

Script& Script::WaitForDialog(const std::wstring& caption) {
  return WaitFor([caption] {
    auto modal = ModalStack();
    if (modal.empty() || !IsWindowVisible(modal.back())) return false;
    DialogState state;
    return Inspect(modal.back(), state) && state.caption == caption;
  });
}

void Script::Turn() {
  if (steps_.empty()) return;
  if (std::chrono::steady_clock::now() > deadline_) {
    timedOut_ = true;
    steps_.clear();
    auto modal = ModalStack();
    for (auto it = modal.rbegin(); it != modal.rend(); ++it) EndDialog(*it, -1);
    return;
  }
  Step& step = steps_.front();
  if (!step.started) {
    step.started = true;
    if (step.start) step.start();
  }
  if (step.ready && !step.ready()) return;
  auto action = std::move(step.action);
  steps_.pop_front();  // before the action, which may open a nested loop
  if (action) action();
}

}  // namespace platform::ui
