// Host window services: windows, dialogs built from templates, the three
// control classes, messages with a queue per thread, timers under the time
// scale, the system menu and a painting model without pixels.
//
// Everything follows what user32 and comctl32 do for the calls the
// framework makes. Window state is guarded by one lock, which is never held
// while a window or dialog procedure runs; a window is used on the thread
// that made it, and a message sent from another thread waits until that
// thread takes it from its queue, as on Windows.
#include "ui_internal.h"

#include <platform/timescale.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cwctype>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace platform::ui_detail {
namespace {

using Clock = std::chrono::steady_clock;

// Dialog base units: one fixed font size for every dialog, so that a dialog
// unit is 2 pixels either way.
constexpr int kBaseUnitX = 8;
constexpr int kBaseUnitY = 16;

DWORD TickNow() {
  static const Clock::time_point start = Clock::now();
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

struct ThreadQueue;

struct SentMessage {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
  std::shared_ptr<ThreadQueue> sender;
};

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  TIMERPROC proc;
  Clock::duration period;
  Clock::time_point due;
};

struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::vector<Timer> timers;
  bool quit = false;
  int quitCode = 0;
};

enum class Kind { Dialog, Button, Static, Progress };

struct Window {
  HWND handle = nullptr;
  Kind kind = Kind::Dialog;
  std::thread::id thread;
  std::shared_ptr<ThreadQueue> queue;
  WNDPROC proc = nullptr;
  HWND parent = nullptr;  // the parent of a child, the owner of a popup
  std::vector<HWND> children;
  DWORD style = 0;
  DWORD exStyle = 0;
  int id = 0;
  RECT rect{};  // pixels, in the parent's client area (top level: the screen)
  std::wstring text;
  HINSTANCE instance = nullptr;
  LONG_PTR userData = 0;
  // Dialogs.
  DLGPROC dlgProc = nullptr;
  LONG_PTR msgResult = 0;
  LONG_PTR dlgUser = 0;
  bool ended = false;
  INT_PTR result = 0;
  bool hasDefId = false;
  int defId = 0;
  HWND disabledOwner = nullptr;  // re-enabled when a modal dialog ends
  // Every window.
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
  HFONT font = nullptr;
  HMENU systemMenu = nullptr;
  bool iconic = false;
  bool destroying = false;
  // Progress bars.
  int low = 0, high = 100, pos = 0, step = 10;
  // Buttons.
  WPARAM check = 0;
  WORD state = 0;
  // Painting.
  bool invalid = false;
  bool erase = false;
  unsigned paintCount = 0;
};

struct Menu {
  HWND owner = nullptr;
  std::vector<MenuItemInfo> items;
};

struct State {
  std::recursive_mutex mutex;
  std::unordered_map<std::uintptr_t, std::unique_ptr<Window>> windows;
  std::unordered_map<std::uintptr_t, std::unique_ptr<Menu>> menus;
  std::uintptr_t nextWindow = 0x10010;
  std::uintptr_t nextMenu = 0x20010;
  std::vector<DrawIconRecord> drawIcons;
  std::function<void(HWND)> changeHook;
};

State& S() {
  static State* state = new State;  // lives past static destruction
  return *state;
}

// Answers with 0 what other threads sent and no one will take: messages to
// a window that is gone, or everything when the thread ends.
void AbandonSent(ThreadQueue& queue, HWND only) {
  std::vector<std::shared_ptr<SentMessage>> dropped;
  {
    std::lock_guard lock(queue.mutex);
    for (auto it = queue.sent.begin(); it != queue.sent.end();) {
      if (!only || (*it)->hwnd == only) {
        dropped.push_back(*it);
        it = queue.sent.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& s : dropped) {
    std::lock_guard lock(s->sender->mutex);
    s->done = true;
    s->sender->cv.notify_all();
  }
}

struct ThreadState {
  ~ThreadState() { AbandonSent(*queue, nullptr); }
  std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
  std::vector<HWND> modal;
  std::function<void()> idleHook;
  std::uint64_t timerTicks = 0;
  HWND focus = nullptr;
  UINT_PTR nextTimerId = 0x7F00;
};

ThreadState& T() {
  thread_local ThreadState state;
  return state;
}

Window* Find(HWND hwnd) {
  auto& s = S();
  auto it = s.windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
  if (it == s.windows.end()) return nullptr;
  return it->second.get();
}

HDC DcOf(HWND hwnd) { return reinterpret_cast<HDC>(reinterpret_cast<std::uintptr_t>(hwnd) | 1); }
HWND WindowOfDc(HDC dc) {
  return reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(dc) & ~std::uintptr_t{1});
}

void Notify(HWND hwnd) {
  std::function<void(HWND)> hook;
  {
    std::lock_guard lock(S().mutex);
    hook = S().changeHook;
  }
  if (hook) hook(hwnd);
}

// Marks a window (and its children) for painting.
void InvalidateLocked(Window* w, bool children) {
  w->invalid = true;
  w->erase = true;
  if (children)
    for (HWND c : w->children)
      if (Window* cw = Find(c)) InvalidateLocked(cw, true);
}

void Invalidate(HWND hwnd, bool children) {
  std::lock_guard lock(S().mutex);
  if (Window* w = Find(hwnd)) InvalidateLocked(w, children);
}

bool VisibleLocked(Window* w) {
  while (w) {
    if (!(w->style & WS_VISIBLE)) return false;
    if (!(w->style & WS_CHILD)) return true;
    w = Find(w->parent);
  }
  return false;
}

bool IsChildLocked(HWND parent, HWND hwnd) {
  Window* w = Find(hwnd);
  while (w && (w->style & WS_CHILD)) {
    if (w->parent == parent) return true;
    w = Find(w->parent);
  }
  return false;
}

HWND RootLocked(HWND hwnd) {
  Window* w = Find(hwnd);
  while (w && (w->style & WS_CHILD) && Find(w->parent)) w = Find(w->parent);
  return w ? w->handle : nullptr;
}

void CopyText(const std::wstring& text, LPWSTR buffer, int bufferMax, int& copied) {
  copied = 0;
  if (!buffer || bufferMax <= 0) return;
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(bufferMax - 1));
  std::copy_n(text.data(), n, buffer);
  buffer[n] = L'\0';
  copied = static_cast<int>(n);
}

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return s;
}

// ---- Control classes ----

LRESULT ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ProgressProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

struct ClassInfo {
  Kind kind;
  const wchar_t* name;
  WNDPROC proc;
};

bool ClassByName(const std::wstring& name, ClassInfo& out) {
  std::wstring n = Lower(name);
  if (n == L"button")
    out = {Kind::Button, L"Button", ButtonProc};
  else if (n == L"static")
    out = {Kind::Static, L"Static", StaticProc};
  else if (n == L"msctls_progress32")
    out = {Kind::Progress, L"msctls_progress32", ProgressProc};
  else if (n == L"#32770")
    out = {Kind::Dialog, L"#32770", DefDlgProcW};
  else
    return false;
  return true;
}

bool ClassByAtom(WORD atom, ClassInfo& out) {
  switch (atom) {
    case 0x0080:
      out = {Kind::Button, L"Button", ButtonProc};
      return true;
    case 0x0082:
      out = {Kind::Static, L"Static", StaticProc};
      return true;
    case 0x8002:
      out = {Kind::Dialog, L"#32770", DefDlgProcW};
      return true;
    default:
      return false;
  }
}

const wchar_t* ClassName(Kind kind) {
  switch (kind) {
    case Kind::Button:
      return L"Button";
    case Kind::Static:
      return L"Static";
    case Kind::Progress:
      return L"msctls_progress32";
    case Kind::Dialog:
      break;
  }
  return L"#32770";
}

HWND NewWindow(const ClassInfo& cls, DWORD exStyle, const std::wstring& text, DWORD style,
               const RECT& rect, HWND parent, int id, HINSTANCE instance) {
  HWND hwnd;
  {
    std::lock_guard lock(S().mutex);
    auto& s = S();
    if (parent && !Find(parent)) return nullptr;
    auto w = std::make_unique<Window>();
    hwnd = reinterpret_cast<HWND>(s.nextWindow);
    s.nextWindow += 0x10;
    w->handle = hwnd;
    w->kind = cls.kind;
    w->thread = std::this_thread::get_id();
    w->queue = T().queue;
    w->proc = cls.proc;
    w->parent = parent;
    w->style = style;
    w->exStyle = exStyle;
    w->id = id;
    w->rect = rect;
    w->text = text;
    w->instance = instance;
    w->invalid = w->erase = true;
    if ((style & WS_CHILD) && parent) Find(parent)->children.push_back(hwnd);
    s.windows.emplace(reinterpret_cast<std::uintptr_t>(hwnd), std::move(w));
  }
  Notify(hwnd);
  return hwnd;
}

LRESULT CallProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(hwnd);
    if (!w) return 0;
    proc = w->proc;
  }
  return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

LRESULT ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case BM_CLICK: {
      HWND parent;
      int id;
      {
        std::lock_guard lock(S().mutex);
        Window* w = Find(hwnd);
        if (!w || (w->style & WS_DISABLED)) return 0;
        parent = w->parent;
        id = w->id;
        if ((w->style & BS_TYPEMASK) == BS_AUTOCHECKBOX) w->check = w->check ? 0 : 1;
      }
      if (parent)
        SendMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_SPACE) return SendMessageW(hwnd, BM_CLICK, 0, 0);
      return 0;
    case BM_GETCHECK: {
      std::lock_guard lock(S().mutex);
      Window* w = Find(hwnd);
      return w ? static_cast<LRESULT>(w->check) : 0;
    }
    case BM_SETCHECK: {
      {
        std::lock_guard lock(S().mutex);
        if (Window* w = Find(hwnd)) w->check = wParam;
      }
      Invalidate(hwnd, false);
      Notify(hwnd);
      return 0;
    }
    case BM_GETSTATE: {
      std::lock_guard lock(S().mutex);
      Window* w = Find(hwnd);
      return w ? static_cast<LRESULT>(w->state | w->check) : 0;
    }
    case BM_SETSTATE: {
      std::lock_guard lock(S().mutex);
      if (Window* w = Find(hwnd)) w->state = wParam ? 0x0004 : 0;
      return 0;
    }
    case BM_SETSTYLE: {
      {
        std::lock_guard lock(S().mutex);
        if (Window* w = Find(hwnd))
          w->style = (w->style & 0xFFFF0000u) | (static_cast<DWORD>(wParam) & 0xFFFFu);
      }
      if (lParam) Invalidate(hwnd, false);
      Notify(hwnd);
      return 0;
    }
    case WM_GETDLGCODE: {
      std::lock_guard lock(S().mutex);
      Window* w = Find(hwnd);
      if (!w) return 0;
      DWORD type = w->style & BS_TYPEMASK;
      if (type == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
      if (type == BS_PUSHBUTTON) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
      return DLGC_BUTTON;
    }
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

LRESULT StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_GETDLGCODE) return DLGC_STATIC;
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT ProgressProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  bool changed = false;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(hwnd);
    if (!w) return 0;
    auto coerce = [w] {
      w->pos = std::clamp(w->pos, std::min(w->low, w->high), std::max(w->low, w->high));
    };
    int before = w->pos;
    switch (message) {
      case PBM_SETRANGE:
      case PBM_SETRANGE32: {
        result = MAKELRESULT(w->low, w->high);
        int low = message == PBM_SETRANGE ? LOWORD(lParam) : static_cast<int>(wParam);
        int high = message == PBM_SETRANGE ? HIWORD(lParam) : static_cast<int>(lParam);
        changed = low != w->low || high != w->high;
        w->low = low;
        w->high = high;
        coerce();
        break;
      }
      case PBM_SETPOS:
        result = w->pos;
        w->pos = static_cast<int>(wParam);
        coerce();
        break;
      case PBM_DELTAPOS:
        result = w->pos;
        w->pos += static_cast<int>(wParam);
        coerce();
        break;
      case PBM_SETSTEP:
        result = w->step;
        w->step = static_cast<int>(wParam);
        break;
      case PBM_STEPIT:
        result = w->pos;
        w->pos += w->step;
        if (w->pos > w->high) w->pos = w->low + (w->pos - w->high);  // steps wrap around
        coerce();
        break;
      case PBM_GETPOS:
        return w->pos;
      case PBM_GETRANGE: {
        if (lParam) {
          auto* range = reinterpret_cast<PBRANGE*>(lParam);
          range->iLow = w->low;
          range->iHigh = w->high;
        }
        return wParam ? w->low : w->high;
      }
      default:
        goto fallback;
    }
    changed = changed || before != w->pos;
    if (changed) InvalidateLocked(w, false);
  }
  if (changed) Notify(hwnd);
  return result;
fallback:
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// ---- Messages ----

void ProcessSentMessages() {
  auto queue = T().queue;
  while (true) {
    std::shared_ptr<SentMessage> s;
    {
      std::lock_guard lock(queue->mutex);
      if (queue->sent.empty()) return;
      s = queue->sent.front();
      queue->sent.pop_front();
    }
    LRESULT r = CallProc(s->hwnd, s->message, s->wParam, s->lParam);
    std::lock_guard lock(s->sender->mutex);
    s->result = r;
    s->done = true;
    s->sender->cv.notify_all();
  }
}

bool Matches(HWND hwnd, HWND filter, UINT message, UINT min, UINT max) {
  if (filter && hwnd != filter && !IsChildLocked(filter, hwnd)) return false;
  if (min == 0 && max == 0) return true;
  return message >= min && message <= max;
}

// The next message for this thread, in the order Windows gives them: sent
// messages (handled here), posted ones, the quit flag, paints, timers.
bool NextMessage(MSG* out, HWND filter, UINT min, UINT max, bool remove, bool wait) {
  auto& ts = T();
  auto queue = ts.queue;
  bool hookCalled = false;
  while (true) {
    ProcessSentMessages();
    Clock::time_point nextDue = Clock::time_point::max();
    {
      std::lock_guard windows(S().mutex);
      std::unique_lock lock(queue->mutex);
      for (auto it = queue->posted.begin(); it != queue->posted.end(); ++it) {
        if (!Matches(it->hwnd, filter, it->message, min, max)) continue;
        *out = *it;
        if (remove) queue->posted.erase(it);
        return true;
      }
      if (queue->quit) {
        *out = MSG{};
        out->message = WM_QUIT;
        out->wParam = static_cast<WPARAM>(queue->quitCode);
        out->time = TickNow();
        if (remove) queue->quit = false;
        return true;
      }
      // Paints, parents before children (handles grow with creation).
      Window* paint = nullptr;
      for (auto& [key, w] : S().windows) {
        if (w->thread != std::this_thread::get_id() || !w->invalid || !VisibleLocked(w.get()))
          continue;
        if (!Matches(w->handle, filter, WM_PAINT, min, max)) continue;
        if (!paint || w->handle < paint->handle) paint = w.get();
      }
      if (paint) {
        *out = MSG{paint->handle, WM_PAINT, 0, 0, TickNow(), {}};
        return true;
      }
      Clock::time_point now = Clock::now();
      Timer* due = nullptr;
      for (auto& t : queue->timers) {
        if (!Matches(t.hwnd, filter, WM_TIMER, min, max)) continue;
        if (t.due <= now && (!due || t.due < due->due)) due = &t;
        nextDue = std::min(nextDue, t.due);
      }
      if (due) {
        *out =
            MSG{due->hwnd, WM_TIMER, due->id, reinterpret_cast<LPARAM>(due->proc), TickNow(), {}};
        if (remove) due->due = now + due->period;
        return true;
      }
    }
    if (!wait) return false;
    // Idle: let a driver act once per turn, then sleep until something
    // arrives, the next timer is due, or (with a driver) a short turn ends.
    auto hook = ts.idleHook;
    if (hook && !hookCalled) {
      hookCalled = true;
      hook();
      continue;
    }
    hookCalled = false;
    std::unique_lock lock(queue->mutex);
    auto ready = [&] { return !queue->posted.empty() || !queue->sent.empty() || queue->quit; };
    Clock::time_point until = nextDue;
    if (hook) until = std::min(until, Clock::now() + std::chrono::milliseconds(1));
    if (until == Clock::time_point::max())
      queue->cv.wait(lock, ready);
    else
      queue->cv.wait_until(lock, until, ready);
  }
}

struct SystemMenuItem {
  UINT id;
  const wchar_t* text;
};

HMENU NewMenuLocked(HWND owner) {
  auto& s = S();
  auto menu = std::make_unique<Menu>();
  menu->owner = owner;
  HMENU handle = reinterpret_cast<HMENU>(s.nextMenu);
  s.nextMenu += 0x10;
  s.menus.emplace(reinterpret_cast<std::uintptr_t>(handle), std::move(menu));
  return handle;
}

Menu* FindMenu(HMENU menu) {
  auto it = S().menus.find(reinterpret_cast<std::uintptr_t>(menu));
  return it == S().menus.end() ? nullptr : it->second.get();
}

// The items a window's system menu starts with: what its frame allows.
void FillSystemMenu(Menu& menu, DWORD style) {
  menu.items.clear();
  bool box = style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
  if (box) menu.items.push_back({MF_STRING, SC_RESTORE, L"&Restore"});
  menu.items.push_back({MF_STRING, SC_MOVE, L"&Move"});
  if (style & WS_THICKFRAME) menu.items.push_back({MF_STRING, SC_SIZE, L"&Size"});
  if (style & WS_MINIMIZEBOX) menu.items.push_back({MF_STRING, SC_MINIMIZE, L"Mi&nimize"});
  if (style & WS_MAXIMIZEBOX) menu.items.push_back({MF_STRING, SC_MAXIMIZE, L"Ma&ximize"});
  menu.items.push_back({MF_SEPARATOR, 0, L""});
  menu.items.push_back({MF_STRING, SC_CLOSE, L"&Close\tAlt+F4"});
}

RECT DialogUnitsToPixels(int x, int y, int cx, int cy) {
  RECT r;
  r.left = x * kBaseUnitX / 4;
  r.top = y * kBaseUnitY / 8;
  r.right = r.left + cx * kBaseUnitX / 4;
  r.bottom = r.top + cy * kBaseUnitY / 8;
  return r;
}

HWND CreateDialogFromTemplate(HINSTANCE instance, const BYTE* data, HWND owner, DLGPROC proc,
                              LPARAM param, bool modal) {
  DialogTemplateInfo t;
  if (!ParseDialogTemplate(data, ResourceBlockEnd(data), t)) return nullptr;
  ClassInfo dialogClass{Kind::Dialog, L"#32770", DefDlgProcW};
  if ((t.classIsOrdinal && t.classOrdinal != 0 && !ClassByAtom(t.classOrdinal, dialogClass)) ||
      (!t.classIsOrdinal && !t.className.empty() && !ClassByName(t.className, dialogClass)) ||
      dialogClass.kind != Kind::Dialog)
    return nullptr;  // only the standard dialog class exists here
  {
    std::lock_guard lock(S().mutex);
    if (owner) owner = RootLocked(owner);
  }
  bool child = t.style & WS_CHILD;
  RECT rect = DialogUnitsToPixels(t.x, t.y, t.cx, t.cy);
  if (t.style & DS_CENTER) {
    LONG w = rect.right - rect.left, h = rect.bottom - rect.top;
    rect.left = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    rect.top = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    rect.right = rect.left + w;
    rect.bottom = rect.top + h;
  }
  DWORD style = t.style & ~static_cast<DWORD>(WS_VISIBLE);
  HWND hwnd =
      NewWindow(dialogClass, t.exStyle, t.caption, style, rect, child ? owner : owner, 0, instance);
  if (!hwnd) return nullptr;
  HFONT font = nullptr;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(hwnd);
    w->dlgProc = proc;
    if (t.hasFont)
      font = w->font = reinterpret_cast<HFONT>(reinterpret_cast<std::uintptr_t>(hwnd) | 2);
  }
  for (const auto& item : t.items) {
    ClassInfo cls;
    bool known =
        item.classIsAtom ? ClassByAtom(item.classAtom, cls) : ClassByName(item.className, cls);
    if (!known || cls.kind == Kind::Dialog) {
      if (t.style & DS_NOFAILCREATE) continue;
      DestroyWindow(hwnd);
      return nullptr;
    }
    RECT r = DialogUnitsToPixels(item.x, item.y, item.cx, item.cy);
    HWND control = NewWindow(cls, item.exStyle, item.textIsOrdinal ? std::wstring() : item.text,
                             item.style | WS_CHILD, r, hwnd, item.id, instance);
    if (font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  // The first control that takes the focus: visible, enabled, a tab stop.
  HWND first = nullptr;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(hwnd);
    for (HWND c : w->children) {
      Window* cw = Find(c);
      if ((cw->style & WS_TABSTOP) && (cw->style & WS_VISIBLE) && !(cw->style & WS_DISABLED)) {
        first = c;
        break;
      }
    }
    if (modal && owner) {
      Window* o = Find(owner);
      if (o && !(o->style & WS_DISABLED)) w->disabledOwner = owner;
    }
  }
  HWND disabled;
  {
    std::lock_guard lock(S().mutex);
    disabled = Find(hwnd)->disabledOwner;
  }
  if (disabled) EnableWindow(disabled, FALSE);
  if (SendMessageW(hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param) && first &&
      IsWindow(first))
    SetFocus(first);
  bool show;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(hwnd);
    if (!w) return nullptr;  // the dialog destroyed itself while it started
    show = (t.style & WS_VISIBLE) && !w->ended;
  }
  if (show) ShowWindow(hwnd, SW_SHOWNORMAL);
  return hwnd;
}

INT_PTR RunModal(HINSTANCE instance, const BYTE* data, HWND parent, DLGPROC proc, LPARAM param) {
  HWND hwnd = CreateDialogFromTemplate(instance, data, parent, proc, param, true);
  if (!hwnd) return -1;
  auto& ts = T();
  ts.modal.push_back(hwnd);
  Notify(hwnd);
  bool firstEmpty = true;
  MSG msg;
  while (true) {
    {
      std::lock_guard lock(S().mutex);
      Window* w = Find(hwnd);
      if (!w || w->ended) break;
    }
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (firstEmpty) {
        // A dialog whose template is not visible shows once it is idle.
        firstEmpty = false;
        ShowWindow(hwnd, SW_SHOWNORMAL);
        continue;
      }
      if (!GetMessageW(&msg, nullptr, 0, 0)) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
    }
    if (!IsWindow(hwnd)) break;
    if (!IsDialogMessageW(hwnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  ts.modal.erase(std::remove(ts.modal.begin(), ts.modal.end(), hwnd), ts.modal.end());
  INT_PTR result = 0;
  HWND owner = nullptr;
  {
    std::lock_guard lock(S().mutex);
    if (Window* w = Find(hwnd)) {
      result = w->result;
      owner = w->disabledOwner;
      w->disabledOwner = nullptr;
    }
  }
  if (owner && IsWindow(owner)) EnableWindow(owner, TRUE);
  DestroyWindow(hwnd);
  return result;
}

bool IsSpecialDialogResult(UINT message) {
  return message == WM_INITDIALOG || message == WM_QUERYDRAGICON ||
         message == 0x0039 /* WM_COMPAREITEM */ || message == 0x002E /* WM_VKEYTOITEM */ ||
         message == 0x002F /* WM_CHARTOITEM */ || message == 0x0019 /* WM_CTLCOLOR */ ||
         (message >= 0x0132 && message <= 0x0138);
}

void PaintNow(HWND hwnd, bool children) {
  bool paint;
  std::vector<HWND> kids;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(hwnd);
    if (!w) return;
    paint = w->invalid && VisibleLocked(w);
    kids = w->children;
  }
  if (paint) {
    CallProc(hwnd, WM_PAINT, 0, 0);
    std::lock_guard lock(S().mutex);
    if (Window* w = Find(hwnd)) w->invalid = w->erase = false;
  }
  if (children)
    for (HWND c : kids) PaintNow(c, true);
}

}  // namespace

bool Snapshot(HWND hwnd, WindowSnapshot& out) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(hwnd);
  if (!w) return false;
  out.hwnd = w->handle;
  out.parent = w->parent;
  out.id = w->id;
  out.className = ClassName(w->kind);
  out.text = w->text;
  out.style = w->style;
  out.exStyle = w->exStyle;
  out.isDialog = w->kind == Kind::Dialog;
  out.iconic = w->iconic;
  out.rect = w->rect;
  out.rangeLow = w->low;
  out.rangeHigh = w->high;
  out.pos = w->pos;
  out.bigIcon = w->bigIcon;
  out.smallIcon = w->smallIcon;
  out.systemMenu = w->systemMenu;
  out.paintCount = w->paintCount;
  out.children = w->children;
  if (w->kind != Kind::Progress) out.rangeLow = out.rangeHigh = out.pos = 0;
  return true;
}

std::vector<HWND> ThreadModalStack() { return T().modal; }

std::vector<HWND> ThreadTopLevelWindows() {
  std::lock_guard lock(S().mutex);
  std::vector<HWND> out;
  for (auto& [key, w] : S().windows)
    if (w->thread == std::this_thread::get_id() && !(w->style & WS_CHILD) && !w->destroying)
      out.push_back(w->handle);
  std::sort(out.begin(), out.end());
  return out;
}

std::uint64_t ThreadTimerTicks() { return T().timerTicks; }

bool MenuSnapshot(HMENU menu, std::vector<MenuItemInfo>& out) {
  std::lock_guard lock(S().mutex);
  Menu* m = FindMenu(menu);
  if (!m) return false;
  out = m->items;
  return true;
}

std::vector<DrawIconRecord> DrawIconRecords() {
  std::lock_guard lock(S().mutex);
  return S().drawIcons;
}

void ClearDrawIconRecords() {
  std::lock_guard lock(S().mutex);
  S().drawIcons.clear();
}

std::function<void()> ExchangeIdleHook(std::function<void()> hook) {
  std::swap(T().idleHook, hook);
  return hook;
}

std::function<void(HWND)> ExchangeChangeHook(std::function<void(HWND)> hook) {
  std::lock_guard lock(S().mutex);
  std::swap(S().changeHook, hook);
  return hook;
}

}  // namespace platform::ui_detail

using namespace platform::ui_detail;

// ---- Dialogs ----

INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam) {
  HRSRC res = FindResourceW(instance, templateName, RT_DIALOG);
  if (!res) return -1;
  auto data = static_cast<const BYTE*>(LockResource(LoadResource(instance, res)));
  return RunModal(instance, data, parent, proc, initParam);
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND parent,
                                DLGPROC proc, LPARAM initParam) {
  return RunModal(instance, reinterpret_cast<const BYTE*>(dialogTemplate), parent, proc, initParam);
}

HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam) {
  HRSRC res = FindResourceW(instance, templateName, RT_DIALOG);
  if (!res) return nullptr;
  auto data = static_cast<const BYTE*>(LockResource(LoadResource(instance, res)));
  return CreateDialogFromTemplate(instance, data, parent, proc, initParam, false);
}

HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND parent,
                                DLGPROC proc, LPARAM initParam) {
  return CreateDialogFromTemplate(instance, reinterpret_cast<const BYTE*>(dialogTemplate), parent,
                                  proc, initParam, false);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  HWND owner = nullptr;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(dialog);
    if (!w || w->kind != Kind::Dialog) return FALSE;
    w->ended = true;
    w->result = result;
    owner = w->disabledOwner;
    w->disabledOwner = nullptr;
  }
  // As user32 does: the owner comes back at once, the dialog hides, and its
  // loop wakes up to see that it has ended.
  if (owner && IsWindow(owner)) EnableWindow(owner, TRUE);
  ShowWindow(dialog, SW_HIDE);
  PostMessageW(dialog, WM_NULL, 0, 0);
  return TRUE;
}

LRESULT DefDlgProcW(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC proc = nullptr;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(dialog);
    if (!w) return 0;
    proc = w->dlgProc;
    w->msgResult = 0;
  }
  if (proc) {
    INT_PTR handled = proc(dialog, message, wParam, lParam);
    if (handled || !IsWindow(dialog)) {
      if (IsSpecialDialogResult(message)) return handled;
      std::lock_guard lock(S().mutex);
      Window* w = Find(dialog);
      return w ? w->msgResult : 0;
    }
  }
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_CLOSE: {
      // Closing is cancelling, unless the dialog's Cancel button is disabled.
      HWND cancel = GetDlgItem(dialog, IDCANCEL);
      if (!cancel || IsWindowEnabled(cancel))
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(cancel));
      return 0;
    }
    case DM_GETDEFID: {
      std::lock_guard lock(S().mutex);
      Window* w = Find(dialog);
      if (!w || w->ended) return 0;
      if (w->hasDefId) return MAKELRESULT(w->defId, DC_HASDEFID);
      for (HWND c : w->children) {
        Window* cw = Find(c);
        if (cw->kind == Kind::Button && (cw->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
          return MAKELRESULT(cw->id, DC_HASDEFID);
      }
      return 0;
    }
    case DM_SETDEFID: {
      HWND old = nullptr, next = nullptr;
      {
        std::lock_guard lock(S().mutex);
        Window* w = Find(dialog);
        if (!w) return FALSE;
        for (HWND c : w->children) {
          Window* cw = Find(c);
          if (cw->kind == Kind::Button && (cw->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) old = c;
          if (cw->id == static_cast<int>(wParam)) next = c;
        }
        w->hasDefId = true;
        w->defId = static_cast<int>(wParam);
      }
      if (old && old != next) SendMessageW(old, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
      if (next && next != old && SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON)
        SendMessageW(next, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
      return TRUE;
    }
    default:
      return DefWindowProcW(dialog, message, wParam, lParam);
  }
}

BOOL IsDialogMessageW(HWND dialog, LPMSG msg) {
  if (!msg) return FALSE;
  {
    std::lock_guard lock(S().mutex);
    if (!Find(dialog)) return FALSE;
    if (msg->hwnd != dialog && !IsChildLocked(dialog, msg->hwnd)) return FALSE;
  }
  if (msg->message == WM_KEYDOWN) {
    switch (msg->wParam) {
      case VK_ESCAPE:
        SendMessageW(dialog, WM_COMMAND, IDCANCEL,
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        return TRUE;
      case VK_RETURN: {
        // A focused default push button, else the dialog's default id (a
        // disabled default button takes nothing), else IDOK. Visibility is
        // not looked at, as in user32.
        HWND focus = GetFocus();
        bool focusInside;
        {
          std::lock_guard lock(S().mutex);
          focusInside = focus && IsChildLocked(dialog, focus);
        }
        if (focusInside && (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON)) {
          SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED),
                       reinterpret_cast<LPARAM>(focus));
          return TRUE;
        }
        LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
        if (HIWORD(def) == DC_HASDEFID) {
          HWND button = GetDlgItem(dialog, LOWORD(def));
          if (!button || IsWindowEnabled(button))
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(LOWORD(def), BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
        } else {
          SendMessageW(dialog, WM_COMMAND, IDOK,
                       reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        }
        return TRUE;
      }
      case VK_TAB:
        return TRUE;  // no keyboard focus walk on the host
      default:
        break;
    }
  }
  DispatchMessageW(msg);
  return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(dialog);
  if (!w) return nullptr;
  for (HWND c : w->children)
    if (Find(c)->id == id) return c;
  return nullptr;
}

int GetDlgCtrlID(HWND window) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(window);
  return w && (w->style & WS_CHILD) ? w->id : 0;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int bufferMax) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) {
    if (buffer && bufferMax > 0) buffer[0] = L'\0';
    return 0;
  }
  return static_cast<UINT>(GetWindowTextW(item, buffer, bufferMax));
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SetWindowTextW(item, text) : FALSE;
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageW(item, message, wParam, lParam) : 0;
}

BOOL MapDialogRect(HWND dialog, LPRECT rect) {
  if (!rect || !IsWindow(dialog)) return FALSE;
  rect->left = rect->left * kBaseUnitX / 4;
  rect->right = rect->right * kBaseUnitX / 4;
  rect->top = rect->top * kBaseUnitY / 8;
  rect->bottom = rect->bottom * kBaseUnitY / 8;
  return TRUE;
}

// ---- Windows ----

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  (void)param;
  ClassInfo cls;
  bool known =
      IS_INTRESOURCE(className)
          ? ClassByAtom(static_cast<WORD>(reinterpret_cast<std::uintptr_t>(className)), cls)
          : (className && ClassByName(className, cls));
  if (!known) return nullptr;
  if ((style & WS_CHILD) && !IsWindow(parent)) return nullptr;
  RECT r{x, y, x + width, y + height};
  int id = (style & WS_CHILD) ? static_cast<int>(reinterpret_cast<std::intptr_t>(menu)) : 0;
  HWND hwnd = NewWindow(cls, exStyle, windowName ? windowName : L"",
                        style & ~static_cast<DWORD>(WS_VISIBLE), r, parent, id, instance);
  if (hwnd && (style & WS_VISIBLE)) ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

BOOL DestroyWindow(HWND window) {
  std::vector<HWND> children, owned;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w) return FALSE;
    if (w->destroying) return TRUE;
    w->destroying = true;
    children = w->children;
    for (auto& [key, other] : S().windows)
      if (!(other->style & WS_CHILD) && other->parent == window) owned.push_back(other->handle);
  }
  for (HWND o : owned) DestroyWindow(o);
  CallProc(window, WM_DESTROY, 0, 0);
  for (HWND c : children) DestroyWindow(c);
  CallProc(window, WM_NCDESTROY, 0, 0);
  std::shared_ptr<ThreadQueue> queue;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (w) {
      queue = w->queue;
      {
        std::lock_guard q(w->queue->mutex);
        auto& timers = w->queue->timers;
        timers.erase(std::remove_if(timers.begin(), timers.end(),
                                    [&](const Timer& t) { return t.hwnd == window; }),
                     timers.end());
      }
      if (Window* p = Find(w->parent); p && (w->style & WS_CHILD))
        p->children.erase(std::remove(p->children.begin(), p->children.end(), window),
                          p->children.end());
      if (w->systemMenu) S().menus.erase(reinterpret_cast<std::uintptr_t>(w->systemMenu));
      if (T().focus == window) T().focus = nullptr;
      S().windows.erase(reinterpret_cast<std::uintptr_t>(window));
    }
  }
  if (queue) AbandonSent(*queue, window);
  Notify(window);
  return TRUE;
}

BOOL IsWindow(HWND window) {
  std::lock_guard lock(S().mutex);
  return Find(window) ? TRUE : FALSE;
}

HWND GetParent(HWND window) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(window);
  return w ? w->parent : nullptr;
}

HWND GetWindow(HWND window, UINT command) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(window);
  if (!w || command != GW_OWNER || (w->style & WS_CHILD)) return nullptr;
  return Find(w->parent) ? w->parent : nullptr;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETTEXT: {
      {
        std::lock_guard lock(S().mutex);
        Window* w = Find(window);
        if (!w) return FALSE;
        w->text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : L"";
        InvalidateLocked(w, false);
      }
      Notify(window);
      return TRUE;
    }
    case WM_GETTEXT: {
      std::lock_guard lock(S().mutex);
      Window* w = Find(window);
      int copied = 0;
      if (w) CopyText(w->text, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam), copied);
      return copied;
    }
    case WM_GETTEXTLENGTH: {
      std::lock_guard lock(S().mutex);
      Window* w = Find(window);
      return w ? static_cast<LRESULT>(w->text.size()) : 0;
    }
    case WM_SETICON: {
      HICON old;
      {
        std::lock_guard lock(S().mutex);
        Window* w = Find(window);
        if (!w) return 0;
        HICON& slot = wParam == ICON_BIG ? w->bigIcon : w->smallIcon;
        old = slot;
        slot = reinterpret_cast<HICON>(lParam);
      }
      Notify(window);
      return reinterpret_cast<LRESULT>(old);
    }
    case WM_GETICON: {
      std::lock_guard lock(S().mutex);
      Window* w = Find(window);
      if (!w) return 0;
      return reinterpret_cast<LRESULT>(wParam == ICON_BIG ? w->bigIcon : w->smallIcon);
    }
    case WM_SETFONT: {
      std::lock_guard lock(S().mutex);
      if (Window* w = Find(window)) w->font = reinterpret_cast<HFONT>(wParam);
      return 0;
    }
    case WM_GETFONT: {
      std::lock_guard lock(S().mutex);
      Window* w = Find(window);
      return w ? reinterpret_cast<LRESULT>(w->font) : 0;
    }
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_CLOSE:
          SendMessageW(window, WM_CLOSE, 0, 0);
          break;
        case SC_MINIMIZE:
          ShowWindow(window, SW_MINIMIZE);
          break;
        case SC_RESTORE:
          ShowWindow(window, SW_RESTORE);
          break;
        default:
          break;  // moving and sizing have no meaning without a screen
      }
      return 0;
    case WM_SYSKEYDOWN:
      if (wParam == VK_F4) {
        HWND root;
        {
          std::lock_guard lock(S().mutex);
          root = RootLocked(window);
        }
        if (root) SendMessageW(root, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
    case WM_ICONERASEBKGND:
      return 1;
    default:
      return 0;
  }
}

LRESULT CallWindowProcW(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(window, message, wParam, lParam) : 0;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(window);
  if (!w) return 0;
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG_PTR>(static_cast<LONG>(w->style));
    case GWL_EXSTYLE:
      return static_cast<LONG_PTR>(static_cast<LONG>(w->exStyle));
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT:
      return reinterpret_cast<LONG_PTR>(w->parent);
    case GWLP_ID:
      return w->id;
    case GWLP_USERDATA:
      return w->userData;
    default:
      break;
  }
  if (w->kind != Kind::Dialog) return 0;
  if (index == DWLP_MSGRESULT) return w->msgResult;
  if (index == DWLP_DLGPROC) return reinterpret_cast<LONG_PTR>(w->dlgProc);
  if (index == DWLP_USER) return w->dlgUser;
  return 0;
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  LONG_PTR old = 0;
  bool changed = false;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w) return 0;
    switch (index) {
      case GWL_STYLE:
        old = static_cast<LONG>(w->style);
        w->style = static_cast<DWORD>(value);
        changed = true;
        break;
      case GWL_EXSTYLE:
        old = static_cast<LONG>(w->exStyle);
        w->exStyle = static_cast<DWORD>(value);
        changed = true;
        break;
      case GWLP_WNDPROC:
        old = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = reinterpret_cast<WNDPROC>(value);
        break;
      case GWLP_ID:
        old = w->id;
        w->id = static_cast<int>(value);
        break;
      case GWLP_USERDATA:
        old = w->userData;
        w->userData = value;
        break;
      default:
        if (w->kind != Kind::Dialog) return 0;
        if (index == DWLP_MSGRESULT) {
          old = w->msgResult;
          w->msgResult = value;
        } else if (index == DWLP_DLGPROC) {
          old = reinterpret_cast<LONG_PTR>(w->dlgProc);
          w->dlgProc = reinterpret_cast<DLGPROC>(value);
        } else if (index == DWLP_USER) {
          old = w->dlgUser;
          w->dlgUser = value;
        }
        break;
    }
  }
  if (changed) Notify(window);
  return old;
}

BOOL ShowWindow(HWND window, int command) {
  bool wasVisible, visible, wasIconic, iconic;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w) return FALSE;
    wasVisible = w->style & WS_VISIBLE;
    wasIconic = w->iconic;
    visible = command != SW_HIDE;
    iconic = wasIconic;
    switch (command) {
      case SW_MINIMIZE:
      case SW_SHOWMINIMIZED:
      case SW_SHOWMINNOACTIVE:
        iconic = true;
        break;
      case SW_SHOWNORMAL:
      case SW_RESTORE:
      case SW_SHOWMAXIMIZED:
        iconic = false;
        break;
      default:
        break;
    }
  }
  if (visible != wasVisible) SendMessageW(window, WM_SHOWWINDOW, visible ? TRUE : FALSE, 0);
  HWND parent = nullptr;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w) return wasVisible ? TRUE : FALSE;
    if (visible)
      w->style |= WS_VISIBLE;
    else
      w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    w->iconic = iconic;
    if (iconic)
      w->style |= WS_MINIMIZE;
    else
      w->style &= ~static_cast<DWORD>(WS_MINIMIZE);
    if (visible != wasVisible || iconic != wasIconic) {
      InvalidateLocked(w, true);
      // What a hidden control covered is the parent's to paint again.
      if ((w->style & WS_CHILD) && !visible)
        if (Window* p = Find(w->parent)) InvalidateLocked(p, false);
    }
    if (w->style & WS_CHILD) parent = w->parent;
  }
  if (iconic != wasIconic) SendMessageW(window, WM_SIZE, iconic ? 1 /* SIZE_MINIMIZED */ : 0, 0);
  if (visible != wasVisible || iconic != wasIconic) Notify(window);
  (void)parent;
  return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(window);
  return w && VisibleLocked(w) ? TRUE : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
  bool wasDisabled;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w) return FALSE;
    wasDisabled = w->style & WS_DISABLED;
    if (enable)
      w->style &= ~static_cast<DWORD>(WS_DISABLED);
    else
      w->style |= WS_DISABLED;
    if (!enable && T().focus == window) T().focus = nullptr;
    if (wasDisabled == !enable) return wasDisabled ? TRUE : FALSE;
    InvalidateLocked(w, false);
  }
  SendMessageW(window, WM_ENABLE, enable ? TRUE : FALSE, 0);
  Notify(window);
  return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND window) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(window);
  return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL IsIconic(HWND window) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(window);
  return w && w->iconic ? TRUE : FALSE;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
  if (!IsWindow(window)) return FALSE;
  return SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int bufferMax) {
  if (!IsWindow(window)) {
    if (buffer && bufferMax > 0) buffer[0] = L'\0';
    return 0;
  }
  return static_cast<int>(SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(bufferMax),
                                       reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthW(HWND window) {
  return static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
}

BOOL GetClientRect(HWND window, LPRECT rect) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(window);
  if (!w || !rect) return FALSE;
  *rect = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return TRUE;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
  std::lock_guard lock(S().mutex);
  Window* w = Find(window);
  if (!w || !rect) return FALSE;
  *rect = w->rect;
  for (Window* p = (w->style & WS_CHILD) ? Find(w->parent) : nullptr; p;
       p = (p->style & WS_CHILD) ? Find(p->parent) : nullptr) {
    rect->left += p->rect.left;
    rect->right += p->rect.left;
    rect->top += p->rect.top;
    rect->bottom += p->rect.top;
  }
  return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w) return FALSE;
    w->rect = RECT{x, y, x + width, y + height};
    if (repaint) InvalidateLocked(w, true);
  }
  Notify(window);
  return TRUE;
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  (void)insertAfter;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w) return FALSE;
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) {
      LONG width = r.right - r.left, height = r.bottom - r.top;
      r = RECT{x, y, x + width, y + height};
    }
    if (!(flags & SWP_NOSIZE)) {
      r.right = r.left + cx;
      r.bottom = r.top + cy;
    }
    w->rect = r;
  }
  if (flags & SWP_SHOWWINDOW) ShowWindow(window, SW_SHOWNA);
  if (flags & SWP_HIDEWINDOW) ShowWindow(window, SW_HIDE);
  Notify(window);
  return TRUE;
}

HWND SetFocus(HWND window) {
  auto& ts = T();
  HWND old = ts.focus;
  if (window && !IsWindow(window)) return nullptr;
  ts.focus = window;
  return old;
}

HWND GetFocus() {
  HWND focus = T().focus;
  return IsWindow(focus) ? focus : nullptr;
}

HWND GetActiveWindow() {
  auto& ts = T();
  if (!ts.modal.empty()) return ts.modal.back();
  auto windows = ThreadTopLevelWindows();
  return windows.empty() ? nullptr : windows.back();
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
      return 1024;
    case SM_CYSCREEN:
      return 768;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
      return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
    default:
      return 0;
  }
}

namespace {
const HMONITOR kScreenMonitor = reinterpret_cast<HMONITOR>(std::uintptr_t{0x30010});

RECT ScreenRect() {
  return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}
}  // namespace

HMONITOR MonitorFromWindow(HWND window, DWORD flags) {
  if (flags != MONITOR_DEFAULTTONULL) return kScreenMonitor;
  RECT r{};
  if (!GetWindowRect(window, &r)) return nullptr;
  const RECT screen = ScreenRect();
  const bool onScreen = r.left < screen.right && r.right > screen.left && r.top < screen.bottom &&
                        r.bottom > screen.top;
  return onScreen ? kScreenMonitor : nullptr;
}

BOOL GetMonitorInfoW(HMONITOR monitor, LPMONITORINFO info) {
  if (monitor != kScreenMonitor || !info || info->cbSize != sizeof(MONITORINFO)) return FALSE;
  info->rcMonitor = info->rcWork = ScreenRect();
  info->dwFlags = MONITORINFOF_PRIMARY;
  return TRUE;
}

BOOL MessageBeep(UINT) { return TRUE; }

// ---- Messages ----

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<ThreadQueue> target;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w) return 0;
    if (w->thread != std::this_thread::get_id()) target = w->queue;
  }
  if (!target) return CallProc(window, message, wParam, lParam);
  // Another thread's window: its thread handles the message when it next
  // looks at its queue; meanwhile this thread answers what is sent to it.
  auto own = T().queue;
  auto sent =
      std::make_shared<SentMessage>(SentMessage{window, message, wParam, lParam, 0, false, own});
  {
    std::lock_guard lock(target->mutex);
    target->sent.push_back(sent);
  }
  target->cv.notify_all();
  while (true) {
    ProcessSentMessages();
    std::unique_lock lock(own->mutex);
    if (sent->done) return sent->result;
    own->cv.wait(lock, [&] { return sent->done || !own->sent.empty(); });
    if (sent->done) return sent->result;
  }
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<ThreadQueue> target;
  if (!window) {
    target = T().queue;
  } else {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w) return FALSE;
    target = w->queue;
  }
  {
    std::lock_guard lock(target->mutex);
    target->posted.push_back(MSG{window, message, wParam, lParam, TickNow(), {}});
  }
  target->cv.notify_all();
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  auto queue = T().queue;
  {
    std::lock_guard lock(queue->mutex);
    queue->quit = true;
    queue->quitCode = exitCode;
  }
  queue->cv.notify_all();
}

BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
  if (!msg) return -1;
  NextMessage(msg, window, filterMin, filterMax, true, true);
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMsg) {
  if (!msg) return FALSE;
  return NextMessage(msg, window, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0, false)
             ? TRUE
             : FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER) {
    ++T().timerTicks;
    if (msg->lParam) {
      reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, TickNow());
      return 0;
    }
  }
  if (!msg->hwnd) return 0;
  LRESULT r = CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  if (msg->message == WM_PAINT) {
    // A window that did not paint would be asked again at once.
    std::lock_guard lock(S().mutex);
    if (Window* w = Find(msg->hwnd)) w->invalid = w->erase = false;
  }
  return r;
}

// ---- Timers ----

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  auto& ts = T();
  if (window) {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w || w->thread != std::this_thread::get_id()) return 0;
  }
  elapse = std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  auto period = std::chrono::milliseconds(platform::ScalePeriod(elapse));
  auto queue = ts.queue;
  std::lock_guard lock(queue->mutex);
  if (!window) {
    bool exists = std::any_of(queue->timers.begin(), queue->timers.end(),
                              [&](const Timer& t) { return !t.hwnd && t.id == id && id != 0; });
    if (!exists) id = ++ts.nextTimerId;
  }
  for (auto& t : queue->timers) {
    if (t.hwnd == window && t.id == id) {
      t.proc = proc;
      t.period = period;
      t.due = Clock::now() + period;
      return window && id == 0 ? 1 : id;
    }
  }
  queue->timers.push_back(Timer{window, id, proc, period, Clock::now() + period});
  return window && id == 0 ? 1 : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  auto queue = T().queue;
  std::lock_guard lock(queue->mutex);
  auto& timers = queue->timers;
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const Timer& t) { return t.hwnd == window && t.id == id; });
  if (it == timers.end()) return FALSE;
  timers.erase(it);
  return TRUE;
}

// ---- Menus ----

HMENU GetSystemMenu(HWND window, BOOL revert) {
  HMENU menu = nullptr;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w || !(w->style & WS_SYSMENU)) return nullptr;
    if (revert) {
      if (w->systemMenu) {
        if (Menu* m = FindMenu(w->systemMenu)) FillSystemMenu(*m, w->style);
      }
    } else {
      if (!w->systemMenu) {
        w->systemMenu = NewMenuLocked(window);
        FillSystemMenu(*FindMenu(w->systemMenu), w->style);
      }
      menu = w->systemMenu;
    }
  }
  if (revert) Notify(window);
  return menu;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCWSTR newItem) {
  HWND owner;
  {
    std::lock_guard lock(S().mutex);
    Menu* m = FindMenu(menu);
    if (!m) return FALSE;
    MenuItemInfo item;
    item.flags = flags;
    item.id = (flags & MF_SEPARATOR) ? 0 : idNewItem;
    if (!(flags & MF_SEPARATOR) && newItem) item.text = newItem;
    m->items.push_back(item);
    owner = m->owner;
  }
  if (owner) Notify(owner);
  return TRUE;
}

int GetMenuItemCount(HMENU menu) {
  std::lock_guard lock(S().mutex);
  Menu* m = FindMenu(menu);
  return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int pos) {
  std::lock_guard lock(S().mutex);
  Menu* m = FindMenu(menu);
  if (!m || pos < 0 || pos >= static_cast<int>(m->items.size())) return 0xFFFFFFFFu;
  const auto& item = m->items[static_cast<std::size_t>(pos)];
  if (item.flags & MF_POPUP) return 0xFFFFFFFFu;
  return static_cast<UINT>(item.id);
}

int GetMenuStringW(HMENU menu, UINT item, LPWSTR buffer, int bufferMax, UINT flags) {
  std::lock_guard lock(S().mutex);
  Menu* m = FindMenu(menu);
  if (!m) return 0;
  const MenuItemInfo* found = nullptr;
  if (flags & MF_BYPOSITION) {
    if (item < m->items.size()) found = &m->items[item];
  } else {
    for (const auto& i : m->items)
      if (!(i.flags & MF_SEPARATOR) && i.id == item) {
        found = &i;
        break;
      }
  }
  if (!found) return 0;
  if (!buffer || bufferMax <= 0) return static_cast<int>(found->text.size());
  int copied = 0;
  CopyText(found->text, buffer, bufferMax, copied);
  return copied;
}

// ---- Painting ----

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint) {
  bool erase;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (!w || !paint) return nullptr;
    erase = w->erase;
    w->erase = false;
    w->invalid = false;
    ++w->paintCount;
    *paint = PAINTSTRUCT{};
    paint->hdc = DcOf(window);
    paint->rcPaint = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  }
  paint->fErase = TRUE;
  if (erase && SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0))
    paint->fErase = FALSE;
  return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  return IsWindow(window) && paint ? TRUE : FALSE;
}

HDC GetDC(HWND window) {
  if (!window) return reinterpret_cast<HDC>(std::uintptr_t{1});  // the screen
  return IsWindow(window) ? DcOf(window) : nullptr;
}

int ReleaseDC(HWND, HDC dc) { return dc ? 1 : 0; }

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
  IconImage image;
  if (!dc || !LookupIcon(icon, image)) return FALSE;
  std::lock_guard lock(S().mutex);
  S().drawIcons.push_back(DrawIconRecord{WindowOfDc(dc), x, y, icon});
  return TRUE;
}

BOOL UpdateWindow(HWND window) {
  if (!IsWindow(window)) return FALSE;
  PaintNow(window, true);
  return TRUE;
}

BOOL RedrawWindow(HWND window, const RECT* updateRect, void* updateRegion, UINT flags) {
  (void)updateRect;
  (void)updateRegion;
  if (!window) return TRUE;  // the desktop: nothing of ours
  if (!IsWindow(window)) return FALSE;
  bool children = (flags & RDW_ALLCHILDREN) != 0;
  {
    std::lock_guard lock(S().mutex);
    Window* w = Find(window);
    if (flags & RDW_INVALIDATE) InvalidateLocked(w, children);
    if (flags & RDW_VALIDATE) w->invalid = w->erase = false;
    if (flags & RDW_NOERASE) w->erase = false;
  }
  if (flags & (RDW_UPDATENOW | RDW_ERASENOW)) PaintNow(window, (flags & RDW_NOCHILDREN) == 0);
  return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  (void)rect;
  if (!window) return TRUE;
  std::lock_guard lock(S().mutex);
  Window* w = Find(window);
  if (!w) return FALSE;
  w->invalid = true;
  if (erase) w->erase = true;
  return TRUE;
}
