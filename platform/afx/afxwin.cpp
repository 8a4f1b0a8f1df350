// CCmdTarget, CWnd and the small window and control wrappers.
#include <platform/afx.h>

namespace {

// The handle maps of the calling thread, as in MFC: windows are used on the
// thread that made them.
struct HandleMaps {
  std::map<HWND, CWnd*> permanent;
  std::map<HWND, std::unique_ptr<CWnd>> tempWindows;
  std::map<HMENU, std::unique_ptr<CMenu>> tempMenus;

  ~HandleMaps() {
    // Temporary objects never sit in the permanent map; let them go quietly.
    for (auto& entry : tempWindows) {
      entry.second->m_hWnd = nullptr;
    }
  }
};

HandleMaps& Maps() {
  thread_local HandleMaps maps;
  return maps;
}

}  // namespace

// ---------------------------------------------------------------------------
// Message maps

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, &entries[0]};
  return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

bool CCmdTarget::DispatchMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  const UINT code = HIWORD(wParam);
  const UINT id = LOWORD(wParam);
  for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
       map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->nMessage != 0; ++entry) {
      if (entry->nMessage != message) {
        continue;
      }
      if (message == WM_COMMAND &&
          (entry->nCode != code || id < entry->nID || id > entry->nLastID)) {
        continue;
      }
      result = entry->pfn(this, wParam, lParam);
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// CWnd

CWnd::~CWnd() {
  // The application must not keep a main window that is gone.
  if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd == this) {
    app->m_pMainWnd = nullptr;
  }
  Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND wnd) {
  auto& permanent = Maps().permanent;
  auto it = permanent.find(wnd);
  return it != permanent.end() ? it->second : nullptr;
}

CWnd* CWnd::FromHandle(HWND wnd) {
  if (wnd == nullptr) {
    return nullptr;
  }
  if (CWnd* attached = FromHandlePermanent(wnd)) {
    return attached;
  }
  auto& temps = Maps().tempWindows;
  auto& slot = temps[wnd];
  if (!slot) {
    slot = std::make_unique<CWnd>();
    slot->m_hWnd = wnd;
  }
  return slot.get();
}

void CWnd::DeleteTempMap() {
  auto& temps = Maps().tempWindows;
  for (auto& entry : temps) {
    entry.second->m_hWnd = nullptr;
  }
  temps.clear();
}

BOOL CWnd::Attach(HWND wnd) {
  if (wnd == nullptr || m_hWnd != nullptr) {
    return FALSE;
  }
  m_hWnd = wnd;
  Maps().permanent[wnd] = this;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND wnd = m_hWnd;
  if (wnd != nullptr) {
    auto& permanent = Maps().permanent;
    auto it = permanent.find(wnd);
    if (it != permanent.end() && it->second == this) {
      permanent.erase(it);
    }
    m_hWnd = nullptr;
  }
  return wnd;
}

BOOL CWnd::ShowWindow(int cmdShow) { return ::ShowWindow(m_hWnd, cmdShow); }

void CWnd::SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }

void CWnd::GetWindowText(CString& text) const {
  const int length = ::GetWindowTextLengthW(m_hWnd);
  if (length <= 0) {
    text.Empty();
    return;
  }
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  const int copied = ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
  text = std::wstring(buffer.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

void CWnd::GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR idEvent, UINT elapse, TIMERPROC timerFunc) {
  return ::SetTimer(m_hWnd, idEvent, elapse, timerFunc);
}

CMenu* CWnd::GetSystemMenu(BOOL revert) const {
  return CMenu::FromHandle(::GetSystemMenu(m_hWnd, revert));
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
  return reinterpret_cast<HICON>(
      SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }

void CWnd::CenterWindow() {
  if ((::GetWindowLongPtrW(m_hWnd, GWL_STYLE) & WS_CHILD) != 0) {
    return;
  }
  // A hidden or minimised owner is no place to centre on.
  HWND center = ::GetWindow(m_hWnd, GW_OWNER);
  if (center != nullptr) {
    const LONG_PTR style = ::GetWindowLongPtrW(center, GWL_STYLE);
    if ((style & WS_VISIBLE) == 0 || (style & WS_MINIMIZE) != 0) {
      center = nullptr;
    }
  }
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  RECT target{};
  if (center == nullptr) {
    CWnd* mainWnd = AfxGetMainWnd();
    ::GetMonitorInfoW(::MonitorFromWindow(mainWnd != nullptr ? mainWnd->m_hWnd : nullptr,
                                          MONITOR_DEFAULTTOPRIMARY),
                      &monitor);
    target = monitor.rcWork;
  } else {
    ::GetWindowRect(center, &target);
    ::GetMonitorInfoW(::MonitorFromWindow(center, MONITOR_DEFAULTTONEAREST), &monitor);
  }
  const RECT& area = monitor.rcWork;

  RECT own{};
  ::GetWindowRect(m_hWnd, &own);
  const LONG width = own.right - own.left;
  const LONG height = own.bottom - own.top;
  LONG left = (target.left + target.right) / 2 - width / 2;
  LONG top = (target.top + target.bottom) / 2 - height / 2;
  // Inside the work area; a window larger than it keeps its top-left corner
  // in view.
  if (left + width > area.right) {
    left = area.right - width;
  }
  if (left < area.left) {
    left = area.left;
  }
  if (top + height > area.bottom) {
    top = area.bottom - height;
  }
  if (top < area.top) {
    top = area.top;
  }
  ::SetWindowPos(m_hWnd, nullptr, left, top, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

LRESULT CWnd::Default() {
  m_defaultRequested = true;
  return 0;
}

void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnPaint() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() {
  Default();
  return nullptr;
}
void CWnd::OnTimer(UINT_PTR) { Default(); }

// ---------------------------------------------------------------------------
// Data exchange and controls

void DDX_Text(CDataExchange* dx, int idc, CString& value) {
  HWND control = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, idc);
  if (control == nullptr) {
    return;
  }
  CWnd* wnd = CWnd::FromHandle(control);
  if (dx->m_bSaveAndValidate) {
    wnd->GetWindowText(value);
  } else {
    wnd->SetWindowText(value);
  }
}

void DDX_Control(CDataExchange* dx, int idc, CWnd& control) {
  if (control.m_hWnd != nullptr) {
    return;
  }
  HWND wnd = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, idc);
  if (wnd == nullptr || !control.Attach(wnd)) {
    return;
  }
  // The dialog lets its controls go when its window ends.
  if (auto* dialog = dynamic_cast<CDialog*>(dx->m_pDlgWnd)) {
    dialog->m_controls.push_back(&control);
  }
}

void CProgressCtrl::SetRange32(int lower, int upper) {
  SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}

int CProgressCtrl::SetPos(int pos) {
  return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos), 0));
}

// ---------------------------------------------------------------------------
// Painting and menus

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }

CMenu* CMenu::FromHandle(HMENU menu) {
  if (menu == nullptr) {
    return nullptr;
  }
  auto& slot = Maps().tempMenus[menu];
  if (!slot) {
    slot = std::make_unique<CMenu>();
    slot->m_hMenu = menu;
  }
  return slot.get();
}

void CMenu::DeleteTempMap() { Maps().tempMenus.clear(); }

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR idNewItem, LPCWSTR newItem) {
  return ::AppendMenuW(m_hMenu, flags, idNewItem, newItem);
}
