// The updater's resources as the host's window services load them from the
// embedded .res: the two dialog templates, the about item's text, the icon,
// the manifest and the version.
#include <platform/host/ui_driver.h>
#include <platform/win32.h>

#include <gtest/gtest.h>

#include <string>

#include "resource.h"

namespace {

using platform::ui::ControlState;
using platform::ui::DialogState;

INT_PTR QuietProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// A dialog made from the template, without running a loop.
struct Modeless {
  explicit Modeless(int id)
      : hwnd(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), nullptr, QuietProc,
                                0)) {}
  ~Modeless() { DestroyWindow(hwnd); }
  HWND hwnd;
};

struct ExpectedControl {
  int id;
  const wchar_t* className;
  const wchar_t* text;
  RECT dialogUnits;  // x, y, width, height
  DWORD style;
};

void ExpectControls(const DialogState& d, const std::vector<ExpectedControl>& expected) {
  ASSERT_EQ(d.controls.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ControlState& c = d.controls[i];
    const ExpectedControl& e = expected[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(c.id, e.id);
    EXPECT_EQ(c.className, e.className);
    EXPECT_EQ(c.text, e.text);
    EXPECT_EQ(c.style, e.style);
    // A dialog unit is two pixels.
    EXPECT_EQ(c.rect.left, e.dialogUnits.left * 2);
    EXPECT_EQ(c.rect.top, e.dialogUnits.top * 2);
    EXPECT_EQ(c.rect.right - c.rect.left, e.dialogUnits.right * 2);
    EXPECT_EQ(c.rect.bottom - c.rect.top, e.dialogUnits.bottom * 2);
  }
}

// The font a DIALOGEX template asks for, read from its bytes.
struct TemplateFont {
  int pointSize;
  int weight;
  bool italic;
  int charset;
  std::wstring face;
};

TemplateFont FontOf(int dialogId) {
  const BYTE* p = static_cast<const BYTE*>(LockResource(
      LoadResource(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(dialogId), RT_DIALOG))));
  if (p == nullptr) return {};
  auto word = [&](std::size_t at) { return p[at] | p[at + 1] << 8; };
  // After version, signature, help id, extended style, style, item count and
  // the four coordinates come menu, class and caption.
  std::size_t at = 26;
  auto skipNameOrOrdinal = [&] {
    if (word(at) == 0xFFFF) {
      at += 4;
      return;
    }
    while (word(at) != 0) at += 2;
    at += 2;
  };
  skipNameOrOrdinal();
  skipNameOrOrdinal();
  skipNameOrOrdinal();
  TemplateFont font{word(at), word(at + 2), p[at + 4] != 0, p[at + 5], L""};
  for (at += 6; word(at) != 0; at += 2) font.face += static_cast<wchar_t>(word(at));
  return font;
}

TEST(Resources, MainDialogTemplate) {
  const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(
      nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_UPDATER_DIALOG), RT_DIALOG))));
  ASSERT_NE(data, nullptr);
  // An extended template with help id 0 at 0, 0.
  EXPECT_EQ(data[0] | data[1] << 8, 1);
  EXPECT_EQ(data[2] | data[3] << 8, 0xFFFF);
  EXPECT_EQ(data[4] | data[5] | data[6] | data[7], 0);

  Modeless dlg(IDD_UPDATER_DIALOG);
  ASSERT_NE(dlg.hwnd, nullptr);
  DialogState d;
  ASSERT_TRUE(platform::ui::Inspect(dlg.hwnd, d));
  EXPECT_EQ(d.caption, L"VARN Firmware Updater");
  EXPECT_EQ(d.style, static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU |
                                        DS_MODALFRAME | DS_SETFONT | DS_3DLOOK));
  EXPECT_EQ(d.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW | WS_EX_TOPMOST));
  EXPECT_TRUE(d.visible);
  EXPECT_EQ(d.client.right, 150 * 2);
  EXPECT_EQ(d.client.bottom, 122 * 2);
  const DWORD child = WS_CHILD | WS_VISIBLE;
  ExpectControls(
      d,
      {
          {1002, L"Button", L"Update Now", {50, 99, 50, 16}, child | WS_TABSTOP | BS_DEFPUSHBUTTON},
          {1000,
           L"Static",
           L"No updateable devices detected...",
           {7, 7, 136, 53},
           child | WS_GROUP | SS_CENTER},
          {1001, L"msctls_progress32", L"", {7, 65, 136, 7}, child | WS_BORDER | PBS_SMOOTH},
          {1004, L"msctls_progress32", L"", {7, 82, 136, 8}, child | WS_BORDER | PBS_SMOOTH},
          {-1, L"Static", L"Overall Update Progress", {35, 74, 79, 8}, child | WS_GROUP | SS_LEFT},
      });
}

TEST(Resources, AboutBoxTemplate) {
  Modeless dlg(IDD_ABOUTBOX);
  ASSERT_NE(dlg.hwnd, nullptr);
  DialogState d;
  ASSERT_TRUE(platform::ui::Inspect(dlg.hwnd, d));
  EXPECT_EQ(d.caption, L"About Updater");
  EXPECT_EQ(d.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                        DS_SETFONT | DS_FIXEDSYS));
  EXPECT_EQ(d.exStyle, 0u);
  EXPECT_FALSE(d.visible);  // the template does not show it; the modal loop does
  EXPECT_EQ(d.client.right, 235 * 2);
  EXPECT_EQ(d.client.bottom, 55 * 2);
  const DWORD child = WS_CHILD | WS_VISIBLE | WS_GROUP;
  ASSERT_EQ(d.controls.size(), 3u);
  // The second line is ours; only its frame is fixed.
  std::wstring second = d.controls[1].text;
  EXPECT_FALSE(second.empty());
  ExpectControls(
      d, {
             {-1, L"Static", L"VARN Updater", {40, 10, 119, 8}, child | SS_NOPREFIX},
             {-1, L"Static", second.c_str(), {40, 25, 137, 8}, child | SS_LEFT},
             {IDOK, L"Button", L"OK", {178, 7, 50, 16}, child | WS_TABSTOP | BS_DEFPUSHBUTTON},
         });
}

TEST(Resources, AboutItemString) {
  wchar_t text[64];
  EXPECT_EQ(LoadStringW(nullptr, IDS_ABOUTBOX, text, 64), 17);
  EXPECT_STREQ(text, L"&About Updater...");
  // Truncated to the buffer, always terminated.
  EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, text, 5), 4);
  EXPECT_STREQ(text, L"&Abo");
  // A zero-length buffer receives a pointer to the text itself.
  LPCWSTR direct = nullptr;
  EXPECT_EQ(LoadStringW(nullptr, IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&direct), 0), 17);
  ASSERT_NE(direct, nullptr);
  EXPECT_EQ(std::wstring(direct, 17), L"&About Updater...");
  // Absent strings, in this block and in one that does not exist.
  for (UINT id : {100u, 102u, 4000u}) {
    text[0] = L'x';
    EXPECT_EQ(LoadStringW(nullptr, id, text, 64), 0) << id;
    EXPECT_EQ(text[0], L'\0');
  }
}

TEST(Resources, IconLoadsAtBothSizes) {
  HICON big = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(IDR_MAINFRAME)), big);  // shared
  auto info = platform::ui::Icon(big);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->width, GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(info->height, GetSystemMetrics(SM_CYICON));
  EXPECT_EQ(info->bitsPerPixel, 24);
  EXPECT_TRUE(info->hasMask);
  EXPECT_EQ(info->group, IDR_MAINFRAME);

  HANDLE small = LoadImageW(nullptr, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0);
  auto smallInfo = platform::ui::Icon(static_cast<HICON>(small));
  ASSERT_TRUE(smallInfo);
  EXPECT_EQ(smallInfo->width, 16);
  EXPECT_EQ(smallInfo->height, 16);
  EXPECT_EQ(smallInfo->bitsPerPixel, 24);
  EXPECT_TRUE(smallInfo->hasMask);
  EXPECT_TRUE(DestroyIcon(static_cast<HICON>(small)));
  EXPECT_FALSE(platform::ui::Icon(static_cast<HICON>(small)));

  EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(129)), nullptr);
}

std::string ResourceBytes(int id, LPCWSTR type) {
  HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
  if (!res) return {};
  auto data = static_cast<const char*>(LockResource(LoadResource(nullptr, res)));
  return std::string(data, SizeofResource(nullptr, res));
}

// UTF-16 little-endian bytes of an ASCII text, as the version block holds.
std::string Utf16(const std::string& s) {
  std::string out;
  for (char c : s) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

TEST(Resources, ManifestAndVersion) {
  std::string manifest = ResourceBytes(1, MAKEINTRESOURCEW(RT_MANIFEST));
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
  EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
  EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);

  std::string version = ResourceBytes(1, RT_VERSION);
  ASSERT_FALSE(version.empty());
  EXPECT_NE(version.find(Utf16("040904e4")), std::string::npos);
  EXPECT_NE(version.find(Utf16("FileDescription")), std::string::npos);
  EXPECT_NE(version.find(Utf16("Updater for VARN")), std::string::npos);
  // The translation pair: language 0x409, code page 1252.
  EXPECT_NE(version.find(std::string("\x09\x04\xe4\x04", 4)), std::string::npos);
  // The fixed part: an application for 32-bit Windows.
  std::size_t fixed = version.find(std::string("\xbd\x04\xef\xfe", 4));
  ASSERT_NE(fixed, std::string::npos);
  auto dword = [&](std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(version[at])) |
           static_cast<unsigned>(static_cast<unsigned char>(version[at + 1])) << 8;
  };
  EXPECT_EQ(dword(fixed + 32), 4u);  // VOS__WINDOWS32
  EXPECT_EQ(dword(fixed + 36), 1u);  // VFT_APP
}

TEST(Resources, DialogFonts) {
  const struct {
    int dialog;
    TemplateFont font;
  } cases[] = {
      {IDD_UPDATER_DIALOG, {12, 700, false, 0, L"Microsoft Sans Serif"}},
      {IDD_ABOUTBOX, {8, 0, false, 1, L"MS Shell Dlg"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dialog);
    const TemplateFont f = FontOf(c.dialog);
    EXPECT_EQ(f.pointSize, c.font.pointSize);
    EXPECT_EQ(f.weight, c.font.weight);
    EXPECT_EQ(f.italic, c.font.italic);
    EXPECT_EQ(f.charset, c.font.charset);
    EXPECT_EQ(f.face, c.font.face);
  }
}

}  // namespace
