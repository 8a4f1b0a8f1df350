// CDialog: modal dialogs from the application's dialog templates.
#include <platform/afx.h>

namespace {

// Modal dialogs nest (the about box runs inside a handler of the main
// dialog); temporary objects live until the outermost one ends.
thread_local int g_modalDepth = 0;

struct ModalScope {
  ModalScope() { ++g_modalDepth; }
  ~ModalScope() {
    if (--g_modalDepth == 0) {
      CWnd::DeleteTempMap();
      CMenu::DeleteTempMap();
    }
  }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;
};

// As in MFC: a dialog that was hidden while it was made, is still hidden
// and top-level after its own initialisation, was not moved by it, and has
// no owner it could leave enabled (a modal dialog's owner is disabled by
// now) opens centred, not at its template's corner of the screen or owner.
void CenterAfterInit(CWnd& dialog, LONG_PTR styleBefore, const RECT& before) {
  if ((styleBefore & WS_VISIBLE) != 0 ||
      (::GetWindowLongPtrW(dialog.m_hWnd, GWL_STYLE) & (WS_VISIBLE | WS_CHILD)) != 0) {
    return;
  }
  RECT now{};
  ::GetWindowRect(dialog.m_hWnd, &now);
  if (now.left != before.left || now.top != before.top) {
    return;
  }
  HWND owner = ::GetWindow(dialog.m_hWnd, GW_OWNER);
  if (owner != nullptr && ::IsWindowEnabled(owner)) {
    return;
  }
  dialog.CenterWindow();
}

}  // namespace

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT idTemplate, CWnd* parent) : m_nIDTemplate(idTemplate), m_pParentWnd(parent) {}

// The derived dialog's control members are gone by now, each detached by its
// own destructor; only the list that named them is left.
CDialog::~CDialog() { m_controls.clear(); }

INT_PTR CDialog::DoModal() {
#ifdef _WIN32
  // The progress bars are common controls; make sure their class exists.
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
#endif
  // Without a parent the dialog is owned by the main window, as in MFC, so
  // a box opened from the main dialog is modal to it.
  HWND owner = nullptr;
  if (m_pParentWnd != nullptr) {
    owner = m_pParentWnd->m_hWnd;
  } else if (CWnd* mainWnd = AfxGetMainWnd(); mainWnd != nullptr && mainWnd != this) {
    owner = mainWnd->m_hWnd;
  }
  ModalScope scope;
  const INT_PTR result =
      ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), owner,
                        &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  // The window is gone; nothing may keep its handles.
  DetachControls();
  Detach();
  return result;
}

BOOL CDialog::EndDialog(int result) { return ::EndDialog(m_hWnd, result); }

BOOL CDialog::OnInitDialog() {
  // The first exchange fills the controls and attaches the control members.
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) {
    return;
  }
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::DetachControls() {
  for (CWnd* control : m_controls) {
    control->Detach();
  }
  m_controls.clear();
}

INT_PTR CALLBACK CDialog::DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->Attach(wnd);
    const LONG_PTR styleBefore = ::GetWindowLongPtrW(wnd, GWL_STYLE);
    RECT before{};
    ::GetWindowRect(wnd, &before);
    const BOOL result = dialog->OnInitDialog();
    // The dialog may have destroyed its window while it started.
    if (dialog->m_hWnd == wnd && ::IsWindow(wnd)) {
      CenterAfterInit(*dialog, styleBefore, before);
    }
    return result;
  }
  auto* dialog = dynamic_cast<CDialog*>(FromHandlePermanent(wnd));
  if (dialog == nullptr) {
    return FALSE;
  }
  if (message == WM_NCDESTROY) {
    dialog->DetachControls();
    dialog->Detach();
    return FALSE;
  }

  // A nested modal loop can bring another message to this dialog while one
  // of its handlers runs: keep the outer handler's request.
  const bool outerDefault = dialog->m_defaultRequested;
  dialog->m_defaultRequested = false;
  LRESULT result = 0;
  bool handled = dialog->DispatchMsg(message, wParam, lParam, result);
  if (!handled && message == WM_COMMAND && HIWORD(wParam) == 0 && LOWORD(wParam) < 0xF000) {
    // Commands the dialog does not take go to the application, as in MFC.
    if (CWinApp* app = AfxGetApp()) {
      handled = app->DispatchMsg(message, wParam, lParam, result);
    }
  }
  const bool wantDefault = dialog->m_defaultRequested;
  dialog->m_defaultRequested = outerDefault;

  // FALSE hands the message to the dialog manager's default processing.
  if (!handled || wantDefault) {
    return FALSE;
  }
  switch (message) {
    // A dialog procedure returns this result itself; of such messages
    // (WM_CTLCOLOR* and a few more) the updater handles only this one.
    case WM_QUERYDRAGICON:
      return static_cast<INT_PTR>(result);
    default:
      // Every other result goes through the dialog's message result.
      ::SetWindowLongPtrW(wnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}
