// Host: the window services of the platform layer, the subset of the Windows
// UI functions the window framework and the dialog use, with the names,
// values and meanings they have on Windows. Implemented in
// platform/posix/ui*.cpp over the resources the build embeds.
//
// The first section is plain #defines only, so the resource compiler can
// include this header in place of <windows.h> (it defines RC_INVOKED, and
// then sees nothing else).
#pragma once

// ---- Styles and resource constants (also read by the resource compiler) ----

// clang-format off
#define WS_OVERLAPPED       0x00000000L
#define WS_POPUP            0x80000000L
#define WS_CHILD            0x40000000L
#define WS_MINIMIZE         0x20000000L
#define WS_VISIBLE          0x10000000L
#define WS_DISABLED         0x08000000L
#define WS_CLIPSIBLINGS     0x04000000L
#define WS_CLIPCHILDREN     0x02000000L
#define WS_MAXIMIZE         0x01000000L
#define WS_CAPTION          0x00C00000L
#define WS_BORDER           0x00800000L
#define WS_DLGFRAME         0x00400000L
#define WS_VSCROLL          0x00200000L
#define WS_HSCROLL          0x00100000L
#define WS_SYSMENU          0x00080000L
#define WS_THICKFRAME       0x00040000L
#define WS_GROUP            0x00020000L
#define WS_TABSTOP          0x00010000L
#define WS_MINIMIZEBOX      0x00020000L
#define WS_MAXIMIZEBOX      0x00010000L

#define WS_EX_DLGMODALFRAME 0x00000001L
#define WS_EX_TOPMOST       0x00000008L
#define WS_EX_TOOLWINDOW    0x00000080L
#define WS_EX_CLIENTEDGE    0x00000200L
#define WS_EX_CONTEXTHELP   0x00000400L
#define WS_EX_STATICEDGE    0x00020000L
#define WS_EX_APPWINDOW     0x00040000L

#define DS_ABSALIGN         0x0001L
#define DS_SYSMODAL         0x0002L
#define DS_3DLOOK           0x0004L
#define DS_FIXEDSYS         0x0008L
#define DS_NOFAILCREATE     0x0010L
#define DS_LOCALEDIT        0x0020L
#define DS_SETFONT          0x0040L
#define DS_MODALFRAME       0x0080L
#define DS_NOIDLEMSG        0x0100L
#define DS_SETFOREGROUND    0x0200L
#define DS_CONTROL          0x0400L
#define DS_CENTER           0x0800L
#define DS_CENTERMOUSE      0x1000L
#define DS_CONTEXTHELP      0x2000L
#define DS_SHELLFONT        (DS_SETFONT | DS_FIXEDSYS)

#define BS_PUSHBUTTON       0x00000000L
#define BS_DEFPUSHBUTTON    0x00000001L
#define BS_CHECKBOX         0x00000002L
#define BS_AUTOCHECKBOX     0x00000003L
#define BS_RADIOBUTTON      0x00000004L
#define BS_3STATE           0x00000005L
#define BS_AUTO3STATE       0x00000006L
#define BS_GROUPBOX         0x00000007L
#define BS_USERBUTTON       0x00000008L
#define BS_AUTORADIOBUTTON  0x00000009L
#define BS_OWNERDRAW        0x0000000BL
#define BS_TYPEMASK         0x0000000FL

#define SS_LEFT             0x00000000L
#define SS_CENTER           0x00000001L
#define SS_RIGHT            0x00000002L
#define SS_ICON             0x00000003L
#define SS_TYPEMASK         0x0000001FL
#define SS_NOPREFIX         0x00000080L

#define PBS_SMOOTH          0x01
#define PBS_VERTICAL        0x04

#define LANG_NEUTRAL        0x00
#define LANG_ENGLISH        0x09
#define SUBLANG_NEUTRAL     0x00
#define SUBLANG_DEFAULT     0x01
#define SUBLANG_ENGLISH_US  0x01

#define VS_VERSION_INFO     1
#define VS_FFI_FILEFLAGSMASK 0x0000003FL
#define VS_FF_DEBUG         0x00000001L
#define VOS__WINDOWS32      0x00000004L
#define VOS_NT_WINDOWS32    0x00040004L
#define VFT_APP             0x00000001L
#define VFT2_UNKNOWN        0x00000000L

#define IDOK                1
#define IDCANCEL            2
#define IDABORT             3
#define IDRETRY             4
#define IDIGNORE            5
#define IDYES               6
#define IDNO                7

#define CREATEPROCESS_MANIFEST_RESOURCE_ID 1
#define RT_MANIFEST         24
// clang-format on

#ifndef RC_INVOKED

#include <platform/host/types.h>

// ---- Types ----

struct HWND__;
struct HMENU__;
struct HICON__;
struct HDC__;
struct HBRUSH__;
struct HFONT__;
struct HRSRC__;
struct HMONITOR__;
using HWND = HWND__*;
using HMENU = HMENU__*;
using HICON = HICON__*;
using HCURSOR = HICON;
using HDC = HDC__*;
using HBRUSH = HBRUSH__*;
using HFONT = HFONT__*;
using HRSRC = HRSRC__*;
using HMONITOR = HMONITOR__*;
using HGLOBAL = HANDLE;
using HGDIOBJ = void*;

using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using ATOM = WORD;
using COLORREF = DWORD;

struct POINT {
  LONG x;
  LONG y;
};
using LPPOINT = POINT*;

struct SIZE {
  LONG cx;
  LONG cy;
};

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;

struct MONITORINFO {
  DWORD cbSize;
  RECT rcMonitor;
  RECT rcWork;
  DWORD dwFlags;
};
using LPMONITORINFO = MONITORINFO*;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
using LPPAINTSTRUCT = PAINTSTRUCT*;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

// The fixed headers of the dialog templates, laid out as on Windows (packed
// to 2). The variable parts that follow are read at explicit offsets.
#pragma pack(push, 2)
struct DLGTEMPLATE {
  DWORD style;
  DWORD dwExtendedStyle;
  WORD cdit;
  short x;
  short y;
  short cx;
  short cy;
};
struct DLGITEMTEMPLATE {
  DWORD style;
  DWORD dwExtendedStyle;
  short x;
  short y;
  short cx;
  short cy;
  WORD id;
};
#pragma pack(pop)
using LPCDLGTEMPLATEW = const DLGTEMPLATE*;

struct PBRANGE {
  int iLow;
  int iHigh;
};
using PPBRANGE = PBRANGE*;

struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};
using LPINITCOMMONCONTROLSEX = INITCOMMONCONTROLSEX*;

// ---- Macros ----

#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCE(i) MAKEINTRESOURCEW(i)
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)

#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xFFFF))
#define LOBYTE(w) (static_cast<BYTE>(static_cast<DWORD_PTR>(w) & 0xFF))
#define HIBYTE(w) (static_cast<BYTE>((static_cast<DWORD_PTR>(w) >> 8) & 0xFF))
#define MAKEWORD(a, b)                                    \
  (static_cast<WORD>((static_cast<DWORD_PTR>(a) & 0xFF) | \
                     ((static_cast<DWORD_PTR>(b) & 0xFF) << 8)))
#define MAKELONG(a, b)                                                         \
  (static_cast<LONG>(static_cast<DWORD>((static_cast<DWORD_PTR>(a) & 0xFFFF) | \
                                        ((static_cast<DWORD_PTR>(b) & 0xFFFF) << 16))))
#define MAKEWPARAM(l, h) (static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define MAKELPARAM(l, h) (static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define MAKELRESULT(l, h) (static_cast<LRESULT>(static_cast<DWORD>(MAKELONG(l, h))))

// clang-format off
#define RT_CURSOR       MAKEINTRESOURCEW(1)
#define RT_BITMAP       MAKEINTRESOURCEW(2)
#define RT_ICON         MAKEINTRESOURCEW(3)
#define RT_MENU         MAKEINTRESOURCEW(4)
#define RT_DIALOG       MAKEINTRESOURCEW(5)
#define RT_STRING       MAKEINTRESOURCEW(6)
#define RT_RCDATA       MAKEINTRESOURCEW(10)
#define RT_GROUP_CURSOR MAKEINTRESOURCEW(12)
#define RT_GROUP_ICON   MAKEINTRESOURCEW(14)
#define RT_VERSION      MAKEINTRESOURCEW(16)

#define IDI_APPLICATION MAKEINTRESOURCEW(32512)
#define IDC_ARROW       MAKEINTRESOURCEW(32512)

#define WC_DIALOG       (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(0x8002)))
#define PROGRESS_CLASSW L"msctls_progress32"

// ---- Constants ----

#define WM_NULL             0x0000
#define WM_CREATE           0x0001
#define WM_DESTROY          0x0002
#define WM_MOVE             0x0003
#define WM_SIZE             0x0005
#define WM_ACTIVATE         0x0006
#define WM_SETFOCUS         0x0007
#define WM_KILLFOCUS        0x0008
#define WM_ENABLE           0x000A
#define WM_SETTEXT          0x000C
#define WM_GETTEXT          0x000D
#define WM_GETTEXTLENGTH    0x000E
#define WM_PAINT            0x000F
#define WM_CLOSE            0x0010
#define WM_QUIT             0x0012
#define WM_ERASEBKGND       0x0014
#define WM_SHOWWINDOW       0x0018
#define WM_ICONERASEBKGND   0x0027
#define WM_SETFONT          0x0030
#define WM_GETFONT          0x0031
#define WM_QUERYDRAGICON    0x0037
#define WM_GETICON          0x007F
#define WM_SETICON          0x0080
#define WM_NCCREATE         0x0081
#define WM_NCDESTROY        0x0082
#define WM_GETDLGCODE       0x0087
#define WM_KEYDOWN          0x0100
#define WM_KEYUP            0x0101
#define WM_CHAR             0x0102
#define WM_SYSKEYDOWN       0x0104
#define WM_INITDIALOG       0x0110
#define WM_COMMAND          0x0111
#define WM_SYSCOMMAND       0x0112
#define WM_TIMER            0x0113
#define WM_ENTERIDLE        0x0121
#define WM_LBUTTONDOWN      0x0201
#define WM_LBUTTONUP        0x0202
#define WM_USER             0x0400

#define DM_GETDEFID         (WM_USER + 0)
#define DM_SETDEFID         (WM_USER + 1)
#define DC_HASDEFID         0x534B

#define BM_GETCHECK         0x00F0
#define BM_SETCHECK         0x00F1
#define BM_GETSTATE         0x00F2
#define BM_SETSTATE         0x00F3
#define BM_SETSTYLE         0x00F4
#define BM_CLICK            0x00F5
#define BN_CLICKED          0

#define PBM_SETRANGE        (WM_USER + 1)
#define PBM_SETPOS          (WM_USER + 2)
#define PBM_DELTAPOS        (WM_USER + 3)
#define PBM_SETSTEP         (WM_USER + 4)
#define PBM_STEPIT          (WM_USER + 5)
#define PBM_SETRANGE32      (WM_USER + 6)
#define PBM_GETRANGE        (WM_USER + 7)
#define PBM_GETPOS          (WM_USER + 8)

#define DLGC_WANTARROWS     0x0001
#define DLGC_WANTTAB        0x0002
#define DLGC_WANTALLKEYS    0x0004
#define DLGC_WANTMESSAGE    0x0004
#define DLGC_DEFPUSHBUTTON  0x0010
#define DLGC_UNDEFPUSHBUTTON 0x0020
#define DLGC_STATIC         0x0100
#define DLGC_BUTTON         0x2000

#define MSGF_DIALOGBOX      0

#define SC_SIZE             0xF000
#define SC_MOVE             0xF010
#define SC_MINIMIZE         0xF020
#define SC_MAXIMIZE         0xF030
#define SC_CLOSE            0xF060
#define SC_KEYMENU          0xF100
#define SC_RESTORE          0xF120

#define MF_BYCOMMAND        0x00000000L
#define MF_STRING           0x00000000L
#define MF_ENABLED          0x00000000L
#define MF_GRAYED           0x00000001L
#define MF_DISABLED         0x00000002L
#define MF_CHECKED          0x00000008L
#define MF_POPUP            0x00000010L
#define MF_BYPOSITION       0x00000400L
#define MF_SEPARATOR        0x00000800L

#define SW_HIDE             0
#define SW_SHOWNORMAL       1
#define SW_NORMAL           1
#define SW_SHOWMINIMIZED    2
#define SW_SHOWMAXIMIZED    3
#define SW_MAXIMIZE         3
#define SW_SHOWNOACTIVATE   4
#define SW_SHOW             5
#define SW_MINIMIZE         6
#define SW_SHOWMINNOACTIVE  7
#define SW_SHOWNA           8
#define SW_RESTORE          9
#define SW_SHOWDEFAULT      10

#define ICON_SMALL          0
#define ICON_BIG            1

#define SM_CXSCREEN         0
#define SM_CYSCREEN         1
#define SM_CXICON           11
#define SM_CYICON           12
#define SM_CXCURSOR         13
#define SM_CYCURSOR         14
#define SM_CXSMICON         49
#define SM_CYSMICON         50

#define RDW_INVALIDATE      0x0001
#define RDW_INTERNALPAINT   0x0002
#define RDW_ERASE           0x0004
#define RDW_VALIDATE        0x0008
#define RDW_NOINTERNALPAINT 0x0010
#define RDW_NOERASE         0x0020
#define RDW_NOCHILDREN      0x0040
#define RDW_ALLCHILDREN     0x0080
#define RDW_UPDATENOW       0x0100
#define RDW_ERASENOW        0x0200
#define RDW_FRAME           0x0400
#define RDW_NOFRAME         0x0800

#define VK_BACK             0x08
#define VK_TAB              0x09
#define VK_RETURN           0x0D
#define VK_MENU             0x12
#define VK_ESCAPE           0x1B
#define VK_SPACE            0x20
#define VK_F4               0x73

#define PM_NOREMOVE         0x0000
#define PM_REMOVE           0x0001

#define GWL_STYLE           (-16)
#define GWL_EXSTYLE         (-20)
#define GWLP_WNDPROC        (-4)
#define GWLP_HINSTANCE      (-6)
#define GWLP_HWNDPARENT     (-8)
#define GWLP_ID             (-12)
#define GWLP_USERDATA       (-21)
#define DWLP_MSGRESULT      0
#define DWLP_DLGPROC        (DWLP_MSGRESULT + static_cast<int>(sizeof(LRESULT)))
#define DWLP_USER           (DWLP_DLGPROC + static_cast<int>(sizeof(DLGPROC)))

#define IMAGE_BITMAP        0
#define IMAGE_ICON          1
#define IMAGE_CURSOR        2
#define LR_DEFAULTCOLOR     0x00000000
#define LR_DEFAULTSIZE      0x00000040
#define LR_SHARED           0x00008000

#define MB_OK               0x00000000L
#define MB_ICONHAND         0x00000010L
#define MB_ICONQUESTION     0x00000020L
#define MB_ICONEXCLAMATION  0x00000030L
#define MB_ICONASTERISK     0x00000040L

#define ICC_PROGRESS_CLASS  0x00000020
#define ICC_STANDARD_CLASSES 0x00004000
#define ICC_WIN95_CLASSES   0x000000FF

#define SWP_NOSIZE          0x0001
#define SWP_NOMOVE          0x0002
#define SWP_NOZORDER        0x0004
#define SWP_NOACTIVATE      0x0010
#define SWP_SHOWWINDOW      0x0040
#define SWP_HIDEWINDOW      0x0080

#define GW_OWNER            4

#define MONITOR_DEFAULTTONULL    0x00000000
#define MONITOR_DEFAULTTOPRIMARY 0x00000001
#define MONITOR_DEFAULTTONEAREST 0x00000002
#define MONITORINFOF_PRIMARY     0x00000001

#define USER_TIMER_MINIMUM  0x0000000A
#define USER_TIMER_MAXIMUM  0x7FFFFFFF
// clang-format on

// ---- Functions ----

// Modules and resources. The executable's own resources are the ones the
// build embedded; a null module means the executable.
HMODULE GetModuleHandleW(LPCWSTR moduleName);
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);
BOOL DestroyIcon(HICON icon);
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);

// Common controls: the progress class is always there; these only succeed.
void InitCommonControls();
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);

// Dialogs.
INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam);
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND parent,
                                DLGPROC proc, LPARAM initParam);
HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam);
HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND parent,
                                DLGPROC proc, LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
LRESULT DefDlgProcW(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL IsDialogMessageW(HWND dialog, LPMSG msg);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND window);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int bufferMax);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL MapDialogRect(HWND dialog, LPRECT rect);

// Windows. Only the built-in classes exist: "Button", "Static",
// "msctls_progress32" and the dialog class.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
HWND GetParent(HWND window);
// GW_OWNER only: the owner of a top-level window (a child has none).
HWND GetWindow(HWND window, UINT command);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcW(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LONG_PTR GetWindowLongPtrW(HWND window, int index);
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL IsIconic(HWND window);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR buffer, int bufferMax);
int GetWindowTextLengthW(HWND window);
BOOL GetClientRect(HWND window, LPRECT rect);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
HWND SetFocus(HWND window);
HWND GetFocus();
HWND GetActiveWindow();
int GetSystemMetrics(int index);
// One monitor, the screen (SM_CXSCREEN by SM_CYSCREEN), all of it work area.
HMONITOR MonitorFromWindow(HWND window, DWORD flags);
BOOL GetMonitorInfoW(HMONITOR monitor, LPMONITORINFO info);
BOOL MessageBeep(UINT type);

// Messages and the per-thread queue.
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMsg);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);

// Timers, under the host's time scale.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);

// Menus: the window's system menu is a list of items.
HMENU GetSystemMenu(HWND window, BOOL revert);
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCWSTR newItem);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int pos);
int GetMenuStringW(HMENU menu, UINT item, LPWSTR buffer, int bufferMax, UINT flags);

// Painting: there is no real drawing; paints happen and are recorded.
HDC BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);
BOOL UpdateWindow(HWND window);
BOOL RedrawWindow(HWND window, const RECT* updateRect, void* updateRegion, UINT flags);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);

namespace platform {
// Called by the code the build generates for varn_add_resources: makes a
// compiled resource file (.res) the executable's own resources. The bytes
// must stay valid for the program's life.
void RegisterModuleResources(const unsigned char* data, std::size_t size);
}  // namespace platform

#endif  // RC_INVOKED
