// A small console program run under Wine beside Updater.exe: it finds the
// updater's windows by caption, reads their controls and posts them the
// messages a user's actions would. The smoke suite drives it one command
// per run.
//
//   wine_probe find CAPTION MS        wait until the window is visible;
//                                     prints "rect LEFT TOP RIGHT BOTTOM"
//   wine_probe gone CAPTION MS        wait until no such window exists
//   wine_probe dump CAPTION           the window and its controls, one line
//                                     each (see Dump)
//   wine_probe post CAPTION MSG WPARAM LPARAM
//   wine_probe click CAPTION ID       BM_CLICK to the control
//   wine_probe version FILE KEY       a string of the version resource
//   wine_probe workarea               the primary monitor's work area:
//                                     "rect LEFT TOP RIGHT BOTTOM"
//
// Numbers may be decimal or 0x-hex. Exit code 0 on success, 1 when the
// window or value is not there, 2 on a usage error. Text goes out as UTF-8,
// with backslash, line feed and carriage return escaped, so each value
// stays on its line.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string Escaped(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text)) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

unsigned long long Number(const wchar_t* text) { return std::wcstoull(text, nullptr, 0); }

HWND FindVisible(const wchar_t* caption) {
  HWND wnd = FindWindowW(nullptr, caption);
  return wnd != nullptr && IsWindowVisible(wnd) ? wnd : nullptr;
}

std::wstring ClassOf(HWND wnd) {
  wchar_t name[64] = {};
  GetClassNameW(wnd, name, 64);
  return name;
}

std::wstring TextOf(HWND wnd) {
  // WM_GETTEXT crosses processes; GetWindowTextW of another process's
  // control would not.
  const LRESULT length = SendMessageW(wnd, WM_GETTEXTLENGTH, 0, 0);
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(wnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  return buffer.data();
}

// One line for the window, then one per child control in z (template)
// order:
//   window VISIBLE "CAPTION" LEFT TOP RIGHT BOTTOM
//   control ID CLASS VISIBLE POS "TEXT"
// POS is the progress bar's position (PBM_GETPOS), else 0.
int Dump(const wchar_t* caption) {
  HWND wnd = FindWindowW(nullptr, caption);
  if (wnd == nullptr) return 1;
  RECT rect{};
  GetWindowRect(wnd, &rect);
  std::printf("window %d \"%s\" %ld %ld %ld %ld\n", IsWindowVisible(wnd) ? 1 : 0,
              Escaped(TextOf(wnd)).c_str(), rect.left, rect.top, rect.right, rect.bottom);
  for (HWND child = GetWindow(wnd, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    const std::wstring cls = ClassOf(child);
    LRESULT pos = 0;
    if (lstrcmpiW(cls.c_str(), PROGRESS_CLASSW) == 0) pos = SendMessageW(child, PBM_GETPOS, 0, 0);
    std::printf("control %d %s %d %lld \"%s\"\n", GetDlgCtrlID(child), Utf8(cls).c_str(),
                (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0 ? 1 : 0,
                static_cast<long long>(pos), Escaped(TextOf(child)).c_str());
  }
  return 0;
}

int Version(const wchar_t* file, const wchar_t* key) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
  if (size == 0) return 1;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(file, 0, size, data.data())) return 1;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904e4\\") + key;
  LPVOID value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), path.c_str(), &value, &length) || value == nullptr) return 1;
  std::printf("%s\n", Escaped(static_cast<const wchar_t*>(value)).c_str());
  return 0;
}

// Polls every 50 ms until the condition holds or the time is up.
template <typename Condition>
bool WaitFor(DWORD ms, Condition condition) {
  const ULONGLONG until = GetTickCount64() + ms;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= until) return false;
    Sleep(50);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"workarea") {
    RECT area{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return 1;
    std::printf("rect %ld %ld %ld %ld\n", area.left, area.top, area.right, area.bottom);
    return 0;
  }
  if (argc < 3) return 2;
  const std::wstring command = argv[1];
  const wchar_t* caption = argv[2];

  if (command == L"find" && argc == 4) {
    HWND wnd = nullptr;
    if (!WaitFor(static_cast<DWORD>(Number(argv[3])),
                 [&] { return (wnd = FindVisible(caption)) != nullptr; }))
      return 1;
    RECT rect{};
    GetWindowRect(wnd, &rect);
    std::printf("rect %ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return 0;
  }
  if (command == L"gone" && argc == 4) {
    return WaitFor(static_cast<DWORD>(Number(argv[3])),
                   [&] { return FindWindowW(nullptr, caption) == nullptr; })
               ? 0
               : 1;
  }
  if (command == L"dump" && argc == 3) return Dump(caption);
  if (command == L"post" && argc == 6) {
    HWND wnd = FindWindowW(nullptr, caption);
    if (wnd == nullptr) return 1;
    return PostMessageW(wnd, static_cast<UINT>(Number(argv[3])),
                        static_cast<WPARAM>(Number(argv[4])), static_cast<LPARAM>(Number(argv[5])))
               ? 0
               : 1;
  }
  if (command == L"click" && argc == 4) {
    HWND wnd = FindWindowW(nullptr, caption);
    HWND button = wnd != nullptr ? GetDlgItem(wnd, static_cast<int>(Number(argv[3]))) : nullptr;
    if (button == nullptr) return 1;
    return PostMessageW(button, BM_CLICK, 0, 0) ? 0 : 1;
  }
  if (command == L"version" && argc == 4) return Version(argv[2], argv[3]);
  return 2;
}
