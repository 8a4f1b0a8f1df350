// Host window services: the executable's resources. The build compiles the
// .rc file to a .res and registers its bytes here at start-up; this reads
// its records, the dialog templates, the string tables and the icons.
#include "ui_internal.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform::ui_detail {
namespace {

WORD ReadWord(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD ReadDword(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

std::wstring Upper(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return s;
}

bool SameId(const ResourceId& a, const ResourceId& b) {
  if (a.ordinal != b.ordinal) return false;
  return a.ordinal ? a.id == b.id : a.name == b.name;
}

// A bounded reader over little-endian bytes; any read past the end marks it
// failed and yields zeros.
class Reader {
 public:
  Reader(const BYTE* begin, const BYTE* end) : p_(begin), begin_(begin), end_(end) {}
  bool ok() const { return ok_; }
  const BYTE* pos() const { return p_; }
  bool Has(std::size_t n) const {
    return ok_ && (end_ == nullptr || static_cast<std::size_t>(end_ - p_) >= n);
  }
  WORD Word() {
    if (!Has(2)) return Fail();
    WORD w = ReadWord(p_);
    p_ += 2;
    return w;
  }
  DWORD Dword() {
    if (!Has(4)) return Fail();
    DWORD d = ReadDword(p_);
    p_ += 4;
    return d;
  }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() {
    if (!Has(1)) return static_cast<BYTE>(Fail());
    return *p_++;
  }
  // A zero-terminated UTF-16 string.
  std::wstring Sz() {
    const BYTE* start = p_;
    std::size_t units = 0;
    while (true) {
      if (!Has(2)) {
        Fail();
        return {};
      }
      WORD w = ReadWord(p_);
      p_ += 2;
      if (w == 0) break;
      ++units;
    }
    return FromUtf16(start, units);
  }
  // An ordinal (0xFFFF, id) or a string; 0x0000 alone is the empty string.
  void IdOrString(bool& isOrdinal, WORD& ordinal, std::wstring& text) {
    if (!Has(2)) {
      Fail();
      return;
    }
    if (ReadWord(p_) == 0xFFFF) {
      p_ += 2;
      isOrdinal = true;
      ordinal = Word();
    } else {
      isOrdinal = false;
      text = Sz();
    }
  }
  void Skip(std::size_t n) {
    if (!Has(n)) {
      Fail();
      return;
    }
    p_ += n;
  }
  void AlignDword() {
    std::size_t offset = static_cast<std::size_t>(p_ - begin_);
    std::size_t pad = (4 - offset % 4) % 4;
    if (pad) Skip(pad);
  }

 private:
  WORD Fail() {
    ok_ = false;
    return 0;
  }
  const BYTE* p_;
  const BYTE* begin_;
  const BYTE* end_;
  bool ok_ = true;
};

struct Block {
  const BYTE* begin;
  const BYTE* end;
};

struct Registry {
  std::mutex mutex;
  std::vector<Block> blocks;
  std::deque<ResourceEntry> entries;     // stable addresses: they are the HRSRC handles
  std::map<UINT, std::wstring> strings;  // converted strings handed out by LoadStringW(..., 0)
  std::unordered_map<std::uintptr_t, std::unique_ptr<IconImage>> icons;
  std::map<std::pair<WORD, int>, HICON> sharedIcons;  // (group, size) -> handle
  HICON stockIcon = nullptr;
};

Registry& Reg() {
  static Registry* registry = new Registry;  // lives past static destruction
  return *registry;
}

HMODULE ExecutableModule() {
  return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x400000));
}

bool IsOwnModule(HMODULE module) { return module == nullptr || module == ExecutableModule(); }

void ParseRes(const BYTE* data, std::size_t size, std::deque<ResourceEntry>& out) {
  const BYTE* end = data + size;
  const BYTE* p = data;
  while (static_cast<std::size_t>(end - p) >= 8) {
    DWORD dataSize = ReadDword(p);
    DWORD headerSize = ReadDword(p + 4);
    if (headerSize < 16 || headerSize > static_cast<std::size_t>(end - p) ||
        dataSize > static_cast<std::size_t>(end - p) - headerSize)
      return;  // a damaged file: keep what was read so far
    Reader r(p + 8, p + headerSize);
    ResourceEntry e;
    std::wstring text;
    r.IdOrString(e.type.ordinal, e.type.id, e.type.name);
    r.IdOrString(e.name.ordinal, e.name.id, e.name.name);
    e.type.name = Upper(e.type.name);
    e.name.name = Upper(e.name.name);
    // Align within the header, counted from the header's start.
    std::size_t offset = static_cast<std::size_t>(r.pos() - p);
    r.Skip((4 - offset % 4) % 4);
    r.Dword();  // data version
    r.Word();   // memory flags
    e.language = r.Word();
    if (!r.ok()) return;
    e.data = p + headerSize;
    e.size = dataSize;
    // The leading empty record marks the file as 32-bit; it holds nothing.
    if (!(e.type.ordinal && e.type.id == 0)) out.push_back(e);
    std::size_t next = headerSize + dataSize;
    next = (next + 3) & ~static_cast<std::size_t>(3);
    if (next >= static_cast<std::size_t>(end - p)) return;
    p += next;
  }
}

IconImage ReadIconImage(const BYTE* data, DWORD size) {
  IconImage image;
  if (size < 40) return image;
  DWORD headerSize = ReadDword(data);
  int width = static_cast<int>(ReadDword(data + 4));
  int height = static_cast<int>(ReadDword(data + 8));  // image and mask
  image.width = width;
  image.height = height / 2;
  image.bitsPerPixel = ReadWord(data + 14);
  std::size_t xorRow = (static_cast<std::size_t>(width) * image.bitsPerPixel + 31) / 32 * 4;
  std::size_t andRow = (static_cast<std::size_t>(width) + 31) / 32 * 4;
  std::size_t colours = image.bitsPerPixel <= 8 ? (std::size_t{1} << image.bitsPerPixel) * 4 : 0;
  std::size_t need =
      headerSize + colours + (xorRow + andRow) * static_cast<std::size_t>(image.height);
  image.hasMask = need <= size;
  return image;
}

HICON AddIcon(Registry& reg, const IconImage& image) {
  auto owned = std::make_unique<IconImage>(image);
  auto handle = reinterpret_cast<std::uintptr_t>(owned.get());
  reg.icons.emplace(handle, std::move(owned));
  return reinterpret_cast<HICON>(handle);
}

// The image of group `name` closest to size x size, as an icon handle.
HICON LoadGroupIcon(HINSTANCE instance, LPCWSTR name, int size, bool shared) {
  if (!IsOwnModule(instance)) return nullptr;
  ResourceId type;
  type.id = 14;  // RT_GROUP_ICON
  ResourceId id = IdFromArgument(name);
  const ResourceEntry* group = FindResourceEntry(type, id);
  if (!group || group->size < 6) return nullptr;
  WORD count = ReadWord(group->data + 4);
  if (group->size < 6 + static_cast<std::size_t>(count) * 14) return nullptr;
  int best = -1;
  int bestDistance = 1 << 30;
  for (int i = 0; i < count; ++i) {
    const BYTE* entry = group->data + 6 + i * 14;
    int width = entry[0] == 0 ? 256 : entry[0];
    int distance = std::abs(width - size);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  if (best < 0) return nullptr;
  WORD imageId = ReadWord(group->data + 6 + best * 14 + 12);
  ResourceId iconType;
  iconType.id = 3;  // RT_ICON
  ResourceId iconId;
  iconId.id = imageId;
  const ResourceEntry* icon = FindResourceEntry(iconType, iconId);
  if (!icon) return nullptr;
  IconImage image = ReadIconImage(icon->data, icon->size);
  if (image.width <= 0) return nullptr;
  image.shared = shared;
  image.group = id.ordinal ? id.id : 0;
  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  if (shared && id.ordinal) {
    auto key = std::make_pair(id.id, image.width);
    auto it = reg.sharedIcons.find(key);
    if (it != reg.sharedIcons.end()) return it->second;
    HICON handle = AddIcon(reg, image);
    reg.sharedIcons.emplace(key, handle);
    return handle;
  }
  return AddIcon(reg, image);
}

}  // namespace

std::wstring FromUtf16(const BYTE* p, std::size_t units) {
  std::wstring out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t c = ReadWord(p + 2 * i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
      std::uint32_t low = ReadWord(p + 2 * (i + 1));
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    out.push_back(static_cast<wchar_t>(c));
  }
  return out;
}

ResourceId IdFromArgument(LPCWSTR nameOrOrdinal) {
  ResourceId id;
  if (IS_INTRESOURCE(nameOrOrdinal)) {
    id.ordinal = true;
    id.id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(nameOrOrdinal));
    return id;
  }
  std::wstring s(nameOrOrdinal);
  if (s.size() > 1 && s[0] == L'#') {
    unsigned long value = 0;
    bool digits = true;
    for (std::size_t i = 1; i < s.size(); ++i) {
      if (s[i] < L'0' || s[i] > L'9')
        digits = false;
      else
        value = value * 10 + static_cast<unsigned long>(s[i] - L'0');
    }
    if (digits && value <= 0xFFFF) {
      id.ordinal = true;
      id.id = static_cast<WORD>(value);
      return id;
    }
  }
  id.ordinal = false;
  id.name = Upper(s);
  return id;
}

const ResourceEntry* FindResourceEntry(const ResourceId& type, const ResourceId& name) {
  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  for (const auto& e : reg.entries)
    if (SameId(e.type, type) && SameId(e.name, name)) return &e;
  return nullptr;
}

const BYTE* ResourceBlockEnd(const void* p) {
  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  auto b = static_cast<const BYTE*>(p);
  for (const auto& block : reg.blocks)
    if (b >= block.begin && b < block.end) return block.end;
  return nullptr;
}

bool ParseDialogTemplate(const BYTE* data, const BYTE* end, DialogTemplateInfo& t) {
  if (!data) return false;
  Reader r(data, end);
  bool extended = r.Has(4) && ReadWord(data) == 1 && ReadWord(data + 2) == 0xFFFF;
  t = DialogTemplateInfo{};
  t.extended = extended;
  WORD count = 0;
  if (extended) {
    r.Word();  // version
    r.Word();  // signature
    t.helpId = r.Dword();
    t.exStyle = r.Dword();
    t.style = r.Dword();
  } else {
    t.style = r.Dword();
    t.exStyle = r.Dword();
  }
  count = r.Word();
  t.x = r.Short();
  t.y = r.Short();
  t.cx = r.Short();
  t.cy = r.Short();
  r.IdOrString(t.menuIsOrdinal, t.menuOrdinal, t.menuName);
  r.IdOrString(t.classIsOrdinal, t.classOrdinal, t.className);
  t.caption = r.Sz();
  if (t.style & (DS_SETFONT | DS_SHELLFONT)) {
    t.hasFont = true;
    t.pointSize = r.Word();
    if (extended) {
      t.weight = r.Word();
      t.italic = r.Byte() != 0;
      t.charset = r.Byte();
    }
    t.face = r.Sz();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.AlignDword();
    DialogItem item;
    if (extended) {
      item.helpId = r.Dword();
      item.exStyle = r.Dword();
      item.style = r.Dword();
    } else {
      item.style = r.Dword();
      item.exStyle = r.Dword();
    }
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    if (extended) {
      item.id = static_cast<int>(r.Dword());
    } else {
      WORD id = r.Word();
      item.id = id == 0xFFFF ? -1 : id;
    }
    r.IdOrString(item.classIsAtom, item.classAtom, item.className);
    r.IdOrString(item.textIsOrdinal, item.textOrdinal, item.text);
    WORD extra = r.Word();
    if (extra && r.Has(extra)) item.creationData.assign(r.pos(), r.pos() + extra);
    r.Skip(extra);
    if (r.ok()) t.items.push_back(std::move(item));
  }
  return r.ok();
}

bool LookupIcon(HICON icon, IconImage& out) {
  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  auto it = reg.icons.find(reinterpret_cast<std::uintptr_t>(icon));
  if (it == reg.icons.end()) return false;
  out = *it->second;
  return true;
}

}  // namespace platform::ui_detail

using namespace platform::ui_detail;

namespace platform {
void RegisterModuleResources(const unsigned char* data, std::size_t size) {
  std::deque<ResourceEntry> parsed;
  ParseRes(data, size, parsed);
  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  for (const auto& b : reg.blocks)
    if (b.begin == data) return;  // the same file twice
  reg.blocks.push_back({data, data + size});
  // A later file's resources come first, so it can stand in for an
  // earlier one's.
  for (auto it = parsed.rbegin(); it != parsed.rend(); ++it) reg.entries.push_front(*it);
}
}  // namespace platform

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  if (moduleName == nullptr) return ExecutableModule();
  return nullptr;
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (!IsOwnModule(module) || !name || !type) return nullptr;
  const ResourceEntry* e = FindResourceEntry(IdFromArgument(type), IdFromArgument(name));
  return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(e));
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  if (!IsOwnModule(module) || !resource) return nullptr;
  return const_cast<BYTE*>(reinterpret_cast<const ResourceEntry*>(resource)->data);
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  if (!IsOwnModule(module) || !resource) return 0;
  return reinterpret_cast<const ResourceEntry*>(resource)->size;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
  if (!buffer) return 0;
  std::wstring text;
  bool found = false;
  if (IsOwnModule(instance)) {
    ResourceId type;
    type.id = 6;  // RT_STRING
    ResourceId block;
    block.id = static_cast<WORD>((id >> 4) + 1);
    const ResourceEntry* e = FindResourceEntry(type, block);
    if (e) {
      // Sixteen counted strings in a row; take the (id & 15)th.
      const BYTE* p = e->data;
      const BYTE* end = e->data + e->size;
      for (UINT i = 0; i <= (id & 15) && end - p >= 2; ++i) {
        WORD length = ReadWord(p);
        p += 2;
        if (static_cast<std::size_t>(end - p) < std::size_t{length} * 2) break;
        if (i == (id & 15)) {
          text = FromUtf16(p, length);
          found = length > 0;
        }
        p += std::size_t{length} * 2;
      }
    }
  }
  if (bufferMax == 0) {
    // The caller gets a read-only pointer to the text itself.
    if (!found) return 0;
    Registry& reg = Reg();
    std::lock_guard lock(reg.mutex);
    auto& kept = reg.strings[id];
    kept = text;
    *reinterpret_cast<LPCWSTR*>(buffer) = kept.c_str();
    return static_cast<int>(kept.size());
  }
  if (bufferMax < 0) return 0;
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(bufferMax - 1));
  std::copy_n(text.data(), n, buffer);
  buffer[n] = L'\0';
  return found ? static_cast<int>(n) : 0;
}

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
  if (instance == nullptr && IS_INTRESOURCE(name) &&
      reinterpret_cast<std::uintptr_t>(name) >= 32512) {
    // A system icon: one stock image stands for them all.
    Registry& reg = Reg();
    std::lock_guard lock(reg.mutex);
    if (!reg.stockIcon) {
      IconImage image;
      image.width = image.height = 32;
      image.bitsPerPixel = 32;
      image.hasMask = true;
      image.shared = true;
      reg.stockIcon = AddIcon(reg, image);
    }
    return reg.stockIcon;
  }
  return LoadGroupIcon(instance, name, GetSystemMetrics(SM_CXICON), true);
}

HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
  (void)cy;
  if (type != IMAGE_ICON) return nullptr;
  int size = cx;
  if (size == 0) size = (flags & LR_DEFAULTSIZE) ? GetSystemMetrics(SM_CXICON) : 32;
  return LoadGroupIcon(instance, name, size, (flags & LR_SHARED) != 0);
}

BOOL DestroyIcon(HICON icon) {
  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  auto it = reg.icons.find(reinterpret_cast<std::uintptr_t>(icon));
  if (it == reg.icons.end()) return FALSE;
  if (!it->second->shared) reg.icons.erase(it);  // shared icons are never freed
  return TRUE;
}

HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name) {
  if (instance == nullptr) return LoadIconW(nullptr, name);
  return nullptr;
}

void InitCommonControls() {}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
  return init && init->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}
