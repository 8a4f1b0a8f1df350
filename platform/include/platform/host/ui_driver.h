// Host only: a driver for the window services, for tests and the terminal
// front. It reads what the dialogs show and feeds them input the way a user
// would, through the message queue of the thread that owns them.
//
// Everything here runs on that UI thread. A modal dialog's loop runs inside
// the code under test, so a test drives it from inside: either with a
// Script (steps run on the loop's idle turns) or with its own idle hook.
#pragma once

#include <platform/host/ui.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform::ui {

// ---- Reading ----

struct ControlState {
  HWND hwnd = nullptr;
  int id = 0;
  std::wstring className;  // "Button", "Static" or "msctls_progress32"
  std::wstring text;
  DWORD style = 0;  // the window style, WS_VISIBLE and WS_DISABLED included
  DWORD exStyle = 0;
  bool visible = false;  // the control's own WS_VISIBLE (its dialog may be hidden)
  bool enabled = false;
  int rangeLow = 0, rangeHigh = 0, pos = 0;  // progress bars only
  RECT rect{};              // pixels in the dialog's client area (a dialog unit is 2 pixels)
  unsigned paintCount = 0;  // WM_PAINTs it has answered with BeginPaint
};

struct DialogState {
  HWND hwnd = nullptr;
  std::wstring caption;
  DWORD style = 0;
  DWORD exStyle = 0;
  bool visible = false;
  bool enabled = false;
  bool iconic = false;
  HICON bigIcon = nullptr;  // as set by WM_SETICON
  HICON smallIcon = nullptr;
  RECT client{};
  unsigned paintCount = 0;
  std::vector<ControlState> controls;  // in template (tab) order
};

struct MenuItem {
  UINT flags = 0;  // MF_STRING, MF_SEPARATOR, ...
  UINT_PTR id = 0;
  std::wstring text;
  bool separator() const { return (flags & MF_SEPARATOR) != 0; }
};

struct IconInfo {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  bool hasMask = false;
  int group = 0;  // the icon group resource it came from (0: a system icon)
};

struct DrawIconCall {
  HWND window;  // whose device context it drew on
  int x;
  int y;
  HICON icon;
};

// This thread's modal dialogs, outermost first.
std::vector<HWND> ModalStack();
// The innermost modal dialog, else this thread's newest top-level dialog,
// else null.
HWND TopDialog();
// False when the window is gone.
bool Inspect(HWND dialog, DialogState& out);
std::optional<DialogState> Inspect(HWND dialog);
std::optional<ControlState> Control(HWND dialog, int id);
// The system menu as it stands (empty when the window has none yet).
std::vector<MenuItem> SystemMenu(HWND window);
std::vector<MenuItem> MenuItems(HMENU menu);
std::optional<IconInfo> Icon(HICON icon);
// Every DrawIcon call since the last clear, in order.
std::vector<DrawIconCall> DrawIconCalls();
void ClearDrawIconCalls();
// WM_TIMER messages dispatched on this thread so far.
std::uint64_t TimerTicks();

// ---- Input ----
// Each posts what a user's action would and returns at once; the dialog's
// loop dispatches it. False when a user could not do it: no such window or
// control, or it is hidden or disabled (or its dialog is).

bool Click(HWND dialog, int buttonId);        // BM_CLICK to the button
bool PressKey(HWND dialog, UINT virtualKey);  // WM_KEYDOWN to the focus
bool PressEscape(HWND dialog);
bool PressEnter(HWND dialog);
bool PressAltF4(HWND dialog);  // WM_SYSKEYDOWN VK_F4
// WM_SYSCOMMAND with the id, as when the item is chosen from the system
// menu; false when the menu holds no such item.
bool ChooseSystemMenuItem(HWND dialog, UINT id);
bool CloseBox(HWND dialog);  // WM_SYSCOMMAND SC_CLOSE
bool Minimize(HWND dialog);  // WM_SYSCOMMAND SC_MINIMIZE
bool Restore(HWND dialog);   // WM_SYSCOMMAND SC_RESTORE

// ---- Hooks ----

// Called on this thread's idle turns: whenever a message loop on it finds
// no message and is about to wait (then again about every millisecond).
// The hook may itself call into the window services; a dialog it opens
// runs its own loop, which calls the hook again (nested). Returns the
// previous hook. Null removes it.
using IdleHook = std::function<void()>;
IdleHook SetIdleHook(IdleHook hook);

// Called after anything a dialog shows has changed (text, visibility,
// enabled state, progress, icon, menu, a window made or destroyed), on the
// thread that changed it, with the window concerned. Process-wide.
using ChangeHook = std::function<void(HWND)>;
ChangeHook SetChangeHook(ChangeHook hook);

// ---- Loops ----

// Runs this thread's message loop until done() holds or the real-time limit
// passes (for windows that are not modal). True when done() held.
bool RunUntil(const std::function<bool()>& done,
              std::chrono::milliseconds limit = std::chrono::seconds(10));
// Runs the loop until `ticks` more WM_TIMER messages have been dispatched.
bool RunTicks(unsigned ticks, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Steps run one per idle turn of this thread's loops, so each step sees the
// effect of the input the step before posted. Made before the modal dialog
// opens; it installs itself as the idle hook and removes itself when
// destroyed. If the steps have not all run within the limit (real time),
// every modal dialog of the thread is ended with -1 and TimedOut() is true,
// so a stuck test fails instead of hanging.
class Script {
 public:
  explicit Script(std::chrono::milliseconds limit = std::chrono::seconds(10));
  ~Script();
  Script(const Script&) = delete;
  Script& operator=(const Script&) = delete;

  // Runs the action at an idle turn.
  Script& Do(std::function<void()> action);
  // Waits until the condition holds at an idle turn.
  Script& WaitFor(std::function<bool()> condition);
  // Waits until `ticks` more WM_TIMER messages have been dispatched.
  Script& WaitTicks(unsigned ticks);
  // Waits until a modal dialog with this caption is innermost, and visible.
  Script& WaitForDialog(const std::wstring& caption);

  bool Finished() const { return steps_.empty(); }
  bool TimedOut() const { return timedOut_; }

 private:
  struct Step {
    std::function<bool()> ready;   // null: always
    std::function<void()> action;  // null: nothing
    std::function<void()> start;   // run once when the step becomes first
    bool started = false;
  };
  void Turn();

  std::deque<Step> steps_;
  std::chrono::steady_clock::time_point deadline_;
  IdleHook previous_;
  bool timedOut_ = false;
  std::uint64_t tickMark_ = 0;
};

}  // namespace platform::ui
