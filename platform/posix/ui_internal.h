// Host window services: what the resource, window and driver parts share.
// Not part of the platform's interface.
#pragma once

#include <platform/host/ui.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform::ui_detail {

// ---- Resources (ui_resources.cpp) ----

// A resource type or name: an ordinal, or a string compared without case.
struct ResourceId {
  bool ordinal = true;
  WORD id = 0;
  std::wstring name;  // upper case
};
ResourceId IdFromArgument(LPCWSTR nameOrOrdinal);

struct ResourceEntry {
  ResourceId type;
  ResourceId name;
  WORD language = 0;
  const BYTE* data = nullptr;
  DWORD size = 0;
};

// The first entry of this type and name, any language; null when absent.
const ResourceEntry* FindResourceEntry(const ResourceId& type, const ResourceId& name);
// The end of the registered resource block holding p, or null when p lies
// in none (a template the caller built in its own memory).
const BYTE* ResourceBlockEnd(const void* p);

// UTF-16 code units (little-endian bytes) to a wide string.
std::wstring FromUtf16(const BYTE* p, std::size_t units);

struct DialogItem {
  DWORD helpId = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  bool classIsAtom = false;
  WORD classAtom = 0;
  std::wstring className;
  bool textIsOrdinal = false;
  WORD textOrdinal = 0;
  std::wstring text;
  std::vector<BYTE> creationData;
};

struct DialogTemplateInfo {
  bool extended = false;
  DWORD helpId = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  bool menuIsOrdinal = false;
  WORD menuOrdinal = 0;
  std::wstring menuName;
  bool classIsOrdinal = false;
  WORD classOrdinal = 0;
  std::wstring className;
  std::wstring caption;
  bool hasFont = false;
  int pointSize = 0;
  int weight = 0;
  bool italic = false;
  int charset = 0;
  std::wstring face;
  std::vector<DialogItem> items;
};

// Reads a DLGTEMPLATE or DLGTEMPLATEEX. end bounds the read (null: trust
// the caller, as Windows does for an in-memory template). False when the
// template is malformed or runs past end.
bool ParseDialogTemplate(const BYTE* data, const BYTE* end, DialogTemplateInfo& out);

// Icons: handles for the loaded images.
struct IconImage {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  bool hasMask = false;
  bool shared = false;
  WORD group = 0;  // the icon group's ordinal, 0 for a stock icon
};
// Null when the handle is not a live icon.
bool LookupIcon(HICON icon, IconImage& out);

// ---- Windows (ui_windows.cpp), for the driver ----

struct WindowSnapshot {
  HWND hwnd = nullptr;
  HWND parent = nullptr;
  int id = 0;
  std::wstring className;
  std::wstring text;
  DWORD style = 0;
  DWORD exStyle = 0;
  bool isDialog = false;
  bool iconic = false;
  RECT rect{};
  int rangeLow = 0, rangeHigh = 0, pos = 0;
  HICON bigIcon = nullptr, smallIcon = nullptr;
  HMENU systemMenu = nullptr;
  unsigned paintCount = 0;
  std::vector<HWND> children;
};
bool Snapshot(HWND hwnd, WindowSnapshot& out);
std::vector<HWND> ThreadModalStack();
std::vector<HWND> ThreadTopLevelWindows();
std::uint64_t ThreadTimerTicks();

struct MenuItemInfo {
  UINT flags = 0;
  UINT_PTR id = 0;
  std::wstring text;
};
bool MenuSnapshot(HMENU menu, std::vector<MenuItemInfo>& out);

struct DrawIconRecord {
  HWND window;
  int x;
  int y;
  HICON icon;
};
std::vector<DrawIconRecord> DrawIconRecords();
void ClearDrawIconRecords();

std::function<void()> ExchangeIdleHook(std::function<void()> hook);
std::function<void(HWND)> ExchangeChangeHook(std::function<void(HWND)> hook);

}  // namespace platform::ui_detail
