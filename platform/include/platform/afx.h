// A small application framework in the manner of MFC: just what the updater
// uses of it. It is written over the Windows UI functions only, so the same
// code runs on user32/comctl32 and on the host's window services.
//
// Dialogs are run with DialogBoxParamW and a static dialog procedure that
// dispatches through the message maps; controls are not subclassed, a C++
// control object only holds its window's handle.
#pragma once

#include <platform/win32.h>

#ifdef _WIN32
#include <commctrl.h>
#endif

#include <cstdarg>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CCmdTarget;
class CWnd;
class CDialog;
class CWinApp;
class CMenu;

// ---------------------------------------------------------------------------
// Message maps

// Every map entry calls its handler through a small thunk that knows the
// handler's signature; the thunk returns the message's result.
using AFX_PMSG = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;  // 0 ends the map
  UINT nCode;     // WM_COMMAND: the notification code
  UINT nID;       // WM_COMMAND: first control or command id
  UINT nLastID;   // WM_COMMAND: last id
  AFX_PMSG pfn;
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

#define afx_msg

#define DECLARE_MESSAGE_MAP()                   \
 protected:                                     \
  static const AFX_MSGMAP* GetThisMessageMap(); \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                 \
    using ThisClass [[maybe_unused]] = theClass;                                    \
    using TheBaseClass = baseClass;                                                 \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                       \
  { 0, 0, 0, 0, nullptr }                                                                       \
  }                                                                                             \
  ;                                                                                             \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
  return &messageMap;                                                                           \
  }

#define ON_WM_SYSCOMMAND()                                                    \
  {WM_SYSCOMMAND, 0, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { \
     static_cast<ThisClass*>(t)->OnSysCommand(static_cast<UINT>(w), l);       \
     return 0;                                                                \
   }},

#define ON_WM_PAINT()                                                \
  {WM_PAINT, 0, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { \
     static_cast<ThisClass*>(t)->OnPaint();                          \
     return 0;                                                       \
   }},

#define ON_WM_QUERYDRAGICON()                                                         \
  {WM_QUERYDRAGICON, 0, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {          \
     return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(t)->OnQueryDragIcon()); \
   }},

#define ON_WM_TIMER()                                                  \
  {WM_TIMER, 0, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM) -> LRESULT { \
     static_cast<ThisClass*>(t)->OnTimer(static_cast<UINT_PTR>(w));    \
     return 0;                                                         \
   }},

#define ON_COMMAND(id, memberFxn)                               \
  {WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(id), \
   [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {               \
     (static_cast<ThisClass*>(t)->*(memberFxn))();              \
     return 0;                                                  \
   }},

#define ON_BN_CLICKED(id, memberFxn)                                     \
  {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), static_cast<UINT>(id), \
   [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                        \
     (static_cast<ThisClass*>(t)->*(memberFxn))();                       \
     return 0;                                                           \
   }},

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

// ---------------------------------------------------------------------------
// CString: a wide string.

class CString {
 public:
  CString() = default;
  CString(const wchar_t* text) : m_text(text ? text : L"") {}  // NOLINT: implicit as in MFC
  CString(const std::wstring& text) : m_text(text) {}          // NOLINT

  CString& operator=(const wchar_t* text) {
    m_text = text ? text : L"";
    return *this;
  }

  operator LPCWSTR() const { return m_text.c_str(); }  // NOLINT
  const std::wstring& str() const { return m_text; }

  BOOL IsEmpty() const { return m_text.empty(); }
  void Empty() { m_text.clear(); }

  // printf-style wide formats. A wide string argument is "%ls": it means the
  // same on every C library ("%s" does not).
  void Format(const wchar_t* format, ...);
  void FormatV(const wchar_t* format, va_list args);

  // Loads a string resource of the application; false (and empty) when the
  // string is missing.
  BOOL LoadString(UINT id);

  friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
  friend bool operator==(const CString& a, const wchar_t* b) { return a.m_text == (b ? b : L""); }

 private:
  std::wstring m_text;
};

// ---------------------------------------------------------------------------
// Geometry and drawing

class CRect : public RECT {
 public:
  CRect() : RECT{0, 0, 0, 0} {}
  CRect(LONG l, LONG t, LONG r, LONG b) : RECT{l, t, r, b} {}
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  operator LPRECT() { return this; }  // NOLINT
};

class CDC {
 public:
  HDC m_hDC = nullptr;
  HDC GetSafeHdc() const { return m_hDC; }
  BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }
};

class CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  PAINTSTRUCT m_ps{};

 private:
  HWND m_hWnd;
};

// ---------------------------------------------------------------------------
// Menus

class CMenu {
 public:
  CMenu() = default;
  virtual ~CMenu() = default;
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;

  // A temporary object for a menu the framework does not own; it stays valid
  // until the outermost modal dialog ends.
  static CMenu* FromHandle(HMENU menu);
  static void DeleteTempMap();

  BOOL AppendMenu(UINT flags, UINT_PTR idNewItem = 0, LPCWSTR newItem = nullptr);

  HMENU m_hMenu = nullptr;
};

// ---------------------------------------------------------------------------
// Command targets and windows

class CCmdTarget {
 public:
  CCmdTarget() = default;
  virtual ~CCmdTarget() = default;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;

  // Runs the handler of the first matching entry, most derived map first.
  // False when no entry matched.
  bool DispatchMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
};

class CDataExchange {
 public:
  CDataExchange(CWnd* dlgWnd, BOOL saveAndValidate)
      : m_pDlgWnd(dlgWnd), m_bSaveAndValidate(saveAndValidate) {}
  CWnd* m_pDlgWnd;
  BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
};

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  ~CWnd() override;

  HWND m_hWnd = nullptr;

  operator HWND() const { return m_hWnd; }  // NOLINT

  // The object attached to a window, or a temporary one that stays valid
  // until the outermost modal dialog ends.
  static CWnd* FromHandle(HWND wnd);
  static CWnd* FromHandlePermanent(HWND wnd);
  static void DeleteTempMap();
  BOOL Attach(HWND wnd);
  HWND Detach();

  BOOL ShowWindow(int cmdShow);
  void SetWindowText(LPCWSTR text);
  void GetWindowText(CString& text) const;
  void GetClientRect(LPRECT rect) const;
  BOOL IsIconic() const;
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  UINT_PTR SetTimer(UINT_PTR idEvent, UINT elapse, TIMERPROC timerFunc);
  CMenu* GetSystemMenu(BOOL revert) const;
  HICON SetIcon(HICON icon, BOOL bigIcon);
  void UpdateWindow();
  // A top-level window: centred over its owner, or on the work area of the
  // main window's monitor when it has none or the owner is hidden or
  // minimised; kept inside that monitor's work area either way. A child
  // window stays where it is.
  void CenterWindow();

  // Moves data between the members and the controls (DoDataExchange).
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

 protected:
  virtual void DoDataExchange(CDataExchange* dx);

  // Asks for the default processing of the message being handled.
  LRESULT Default();

  afx_msg void OnSysCommand(UINT id, LPARAM lParam);
  afx_msg void OnPaint();
  afx_msg HCURSOR OnQueryDragIcon();
  afx_msg void OnTimer(UINT_PTR idEvent);

  // Set by Default() while a handler runs.
  bool m_defaultRequested = false;

  friend class CDialog;
};

// The window services the platform offers are those of Windows: a control is
// exchanged through its window text and its handle.
void DDX_Text(CDataExchange* dx, int idc, CString& value);
void DDX_Control(CDataExchange* dx, int idc, CWnd& control);

class CButton : public CWnd {};

class CProgressCtrl : public CWnd {
 public:
  void SetRange32(int lower, int upper);
  int SetPos(int pos);
};

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT idTemplate, CWnd* parent = nullptr);
  ~CDialog() override;

  virtual INT_PTR DoModal();
  BOOL EndDialog(int result);
  UINT GetTemplateId() const { return m_nIDTemplate; }

  virtual BOOL OnInitDialog();

 protected:
  virtual void OnOK();
  virtual void OnCancel();

  DECLARE_MESSAGE_MAP()

 private:
  static INT_PTR CALLBACK DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
  void DetachControls();

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
  // Controls attached by DDX_Control; they are let go with the window.
  std::vector<CWnd*> m_controls;

  friend void DDX_Control(CDataExchange* dx, int idc, CWnd& control);
};

class CWinApp : public CCmdTarget {
 public:
  explicit CWinApp(LPCWSTR appName = nullptr);
  ~CWinApp() override;

  virtual BOOL InitInstance();
  virtual int ExitInstance();

  void SetRegistryKey(LPCWSTR registryKey);
  HICON LoadIcon(UINT id) const;

  afx_msg void OnHelp();

  CWnd* m_pMainWnd = nullptr;
  LPCWSTR m_pszAppName = nullptr;
  // Kept for the record only: the program reads and writes no settings.
  std::wstring m_registryKey;

 protected:
  DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

// The program's run: calls InitInstance of the one application object. On
// Windows wWinMain in this library calls it; on the host the front or a
// test does.
int AfxWinMain();
