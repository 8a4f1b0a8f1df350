// Windows only: looks up the updater's resources in its own executable.
// Exit code 0 when every one is there; run under Wine to check by hand.
#include <windows.h>

#include <cstdio>

#include "resource.h"

int wmain() {
  HMODULE self = GetModuleHandleW(nullptr);
  struct Wanted {
    LPCWSTR name;
    LPCWSTR type;
    const char* what;
  } wanted[] = {
      {MAKEINTRESOURCEW(IDD_UPDATER_DIALOG), RT_DIALOG, "dialog 102"},
      {MAKEINTRESOURCEW(IDD_ABOUTBOX), RT_DIALOG, "dialog 100"},
      {MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON, "icon 128"},
      {MAKEINTRESOURCEW(1), RT_MANIFEST, "manifest"},
      {MAKEINTRESOURCEW(1), RT_VERSION, "version"},
  };
  int missing = 0;
  for (const auto& w : wanted) {
    if (!FindResourceW(self, w.name, w.type)) {
      std::printf("missing %s\n", w.what);
      ++missing;
    }
  }
  wchar_t text[64] = {};
  if (LoadStringW(self, IDS_ABOUTBOX, text, 64) != 17 ||
      lstrcmpW(text, L"&About Updater...") != 0) {
    std::printf("string 101 wrong\n");
    ++missing;
  }
  if (!LoadIconW(self, MAKEINTRESOURCEW(IDR_MAINFRAME))) {
    std::printf("icon 128 does not load\n");
    ++missing;
  }
  return missing;
}
