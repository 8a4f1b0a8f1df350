// Host: modules, the module path, debug output and the formatters.
#include "kernel_internal.h"

#include <platform/host/providers.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform::host {
namespace detail {

struct ModuleEntry {
  std::wstring name;
  Module* module = nullptr;
  CallGate gate;
  // Guarded by the registry's mutex.
  bool registered = true;
  std::size_t loads = 0;
  std::size_t frees = 0;
};

}  // namespace detail

namespace {

using detail::ModuleEntry;

// ".dll" is what LoadLibraryW assumes for a name without an extension.
std::wstring ModuleKey(const std::wstring& name) {
  std::wstring key;
  for (wchar_t c : name) key.push_back(static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))));
  const std::size_t slash = key.find_last_of(L"\\/");
  if (slash != std::wstring::npos) key.erase(0, slash + 1);
  if (key.find(L'.') == std::wstring::npos) key += L".dll";
  return key;
}

struct ModuleRegistry {
  std::mutex mutex;
  std::map<std::wstring, std::shared_ptr<ModuleEntry>> byName;
  std::map<std::wstring, std::size_t> attempts;
};

ModuleRegistry& Modules() {
  static ModuleRegistry* registry = new ModuleRegistry;
  return *registry;
}

std::shared_ptr<ModuleEntry> ModuleOf(HMODULE module) {
  ModuleRegistry& registry = Modules();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (auto& [key, entry] : registry.byName) {
    if (reinterpret_cast<HMODULE>(entry.get()) == module) return entry;
  }
  return nullptr;
}

struct DebugSinks {
  std::mutex mutex;
  std::vector<std::shared_ptr<DebugOutputCapture::State>> captures;  // newest last
  bool hasModulePath = false;
  std::wstring modulePath;
};

DebugSinks& Sinks() {
  static DebugSinks* sinks = new DebugSinks;
  return *sinks;
}

std::wstring FromUtf8(const std::string& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80           ? 0
                : (c >> 5) == 0x6  ? 1
                : (c >> 4) == 0xE  ? 2
                : (c >> 3) == 0x1E ? 3
                                   : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
      out.push_back(L'?');
      ++i;
      continue;
    }
    std::uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k)
      code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(static_cast<wchar_t>(code));
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

std::wstring ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0) return L"";
  return FromUtf8(std::string(buffer, static_cast<std::size_t>(length)));
}

}  // namespace

struct DebugOutputCapture::State {
  std::mutex mutex;
  std::vector<std::string> strings;
};

ModuleRegistration::ModuleRegistration(std::shared_ptr<detail::ModuleEntry> entry)
    : entry_(std::move(entry)) {}
ModuleRegistration::ModuleRegistration(ModuleRegistration&&) noexcept = default;
ModuleRegistration& ModuleRegistration::operator=(ModuleRegistration&& other) noexcept {
  if (this != &other) {
    Remove();
    entry_ = std::move(other.entry_);
  }
  return *this;
}
ModuleRegistration::~ModuleRegistration() { Remove(); }

void ModuleRegistration::Remove() {
  if (!entry_) return;
  {
    ModuleRegistry& registry = Modules();
    std::lock_guard<std::mutex> lock(registry.mutex);
    entry_->registered = false;
    auto it = registry.byName.find(ModuleKey(entry_->name));
    if (it != registry.byName.end() && it->second == entry_) registry.byName.erase(it);
  }
  entry_->gate.Close();
  entry_.reset();
}

std::size_t ModuleRegistration::Loads() const {
  if (!entry_) return 0;
  std::lock_guard<std::mutex> lock(Modules().mutex);
  return entry_->loads;
}

std::size_t ModuleRegistration::Frees() const {
  if (!entry_) return 0;
  std::lock_guard<std::mutex> lock(Modules().mutex);
  return entry_->frees;
}

ModuleRegistration RegisterModule(const std::wstring& name, Module& module) {
  auto entry = std::make_shared<ModuleEntry>();
  entry->name = name;
  entry->module = &module;
  ModuleRegistry& registry = Modules();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (!registry.byName.emplace(ModuleKey(name), entry).second) {
    throw std::logic_error("module registered twice");
  }
  return ModuleRegistration(entry);
}

std::size_t LoadLibraryCalls(const std::wstring& name) {
  ModuleRegistry& registry = Modules();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.attempts.find(ModuleKey(name));
  return it == registry.attempts.end() ? 0 : it->second;
}

DebugOutputCapture::DebugOutputCapture() : state_(std::make_shared<State>()) {
  DebugSinks& sinks = Sinks();
  std::lock_guard<std::mutex> lock(sinks.mutex);
  sinks.captures.push_back(state_);
}

DebugOutputCapture::~DebugOutputCapture() {
  DebugSinks& sinks = Sinks();
  std::lock_guard<std::mutex> lock(sinks.mutex);
  auto& list = sinks.captures;
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (*it == state_) {
      list.erase(it);
      break;
    }
  }
}

std::vector<std::string> DebugOutputCapture::Strings() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->strings;
}

std::string DebugOutputCapture::Text() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::string text;
  for (const std::string& s : state_->strings) text += s;
  return text;
}

void DebugOutputCapture::Clear() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->strings.clear();
}

ScopedModuleFileName::ScopedModuleFileName(std::wstring path) {
  DebugSinks& sinks = Sinks();
  std::lock_guard<std::mutex> lock(sinks.mutex);
  hadPrevious_ = sinks.hasModulePath;
  previous_ = std::move(sinks.modulePath);
  sinks.hasModulePath = true;
  sinks.modulePath = std::move(path);
}

ScopedModuleFileName::~ScopedModuleFileName() {
  DebugSinks& sinks = Sinks();
  std::lock_guard<std::mutex> lock(sinks.mutex);
  sinks.hasModulePath = hadPrevious_;
  sinks.modulePath = std::move(previous_);
}

}  // namespace platform::host

using namespace platform::host;

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  if (!lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::wstring key = ModuleKey(lpLibFileName);
  ModuleRegistry& registry = Modules();
  std::lock_guard<std::mutex> lock(registry.mutex);
  ++registry.attempts[key];
  auto it = registry.byName.find(key);
  if (it == registry.byName.end()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++it->second->loads;
  return reinterpret_cast<HMODULE>(it->second.get());
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  std::shared_ptr<ModuleEntry> entry = ModuleOf(hModule);
  if (!entry) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  FARPROC proc = nullptr;
  if (lpProcName) {
    platform::host::detail::GateCall call(entry->gate);
    if (call) proc = entry->module->GetProcAddress(lpProcName);
  }
  if (!proc) SetLastError(ERROR_PROC_NOT_FOUND);
  return proc;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  std::shared_ptr<ModuleEntry> entry = ModuleOf(hLibModule);
  if (!entry) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(Modules().mutex);
  ++entry->frees;
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::wstring path;
  if (hModule) {
    std::shared_ptr<ModuleEntry> entry = ModuleOf(hModule);
    if (!entry) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path = entry->name;
  } else {
    DebugSinks& sinks = Sinks();
    std::unique_lock<std::mutex> lock(sinks.mutex);
    if (sinks.hasModulePath) {
      path = sinks.modulePath;
    } else {
      lock.unlock();
      path = ExecutablePath();
    }
  }
  if (!lpFilename || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() + 1 > nSize) {
    std::wmemcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::wmemcpy(lpFilename, path.data(), path.size());
  lpFilename[path.size()] = L'\0';
  return static_cast<DWORD>(path.size());
}

void OutputDebugStringA(LPCSTR lpOutputString) {
  if (!lpOutputString) return;
  std::shared_ptr<DebugOutputCapture::State> capture;
  {
    DebugSinks& sinks = Sinks();
    std::lock_guard<std::mutex> lock(sinks.mutex);
    if (sinks.captures.empty()) return;  // no debugger attached
    capture = sinks.captures.back();
  }
  std::lock_guard<std::mutex> lock(capture->mutex);
  capture->strings.emplace_back(lpOutputString);
}

int vsprintf_s(char* buffer, std::size_t numberOfElements, const char* format, va_list argptr) {
  if (!buffer || numberOfElements == 0) return -1;
  if (!format) {
    buffer[0] = '\0';
    return -1;
  }
  const int written = std::vsnprintf(buffer, numberOfElements, format, argptr);
  if (written < 0 || static_cast<std::size_t>(written) >= numberOfElements) {
    buffer[0] = '\0';  // too long: nothing half-written is left behind
    return -1;
  }
  return written;
}

int sprintf_s(char* buffer, std::size_t numberOfElements, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = vsprintf_s(buffer, numberOfElements, format, args);
  va_end(args);
  return written;
}

namespace {

// Windows' wsprintf conventions turned into the host's swprintf ones.
std::wstring HostWideFormat(const wchar_t* format) {
  std::wstring out;
  for (const wchar_t* p = format; *p;) {
    if (*p != L'%') {
      out.push_back(*p++);
      continue;
    }
    out.push_back(*p++);
    if (*p == L'%') {
      out.push_back(*p++);
      continue;
    }
    while (*p && std::wcschr(L"-+ 0#", *p)) out.push_back(*p++);
    while (*p >= L'0' && *p <= L'9') out.push_back(*p++);
    if (*p == L'.') {
      out.push_back(*p++);
      while (*p >= L'0' && *p <= L'9') out.push_back(*p++);
    }
    enum { kNone, kLong, kShort, kWide64 } size = kNone;
    if (*p == L'l') {
      size = kLong;
      ++p;
    } else if (*p == L'h') {
      size = kShort;
      ++p;
    } else if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
      size = kWide64;
      p += 3;
    }
    const wchar_t type = *p;
    if (!type) break;
    ++p;
    switch (type) {
      case L's':
        out += size == kShort ? L"s" : L"ls";
        break;
      case L'S':
        out += size == kLong ? L"ls" : L"s";
        break;
      case L'c':
        out += size == kShort ? L"c" : L"lc";
        break;
      case L'C':
        out += size == kLong ? L"lc" : L"c";
        break;
      case L'd':
      case L'i':
      case L'u':
      case L'x':
      case L'X':
        if (size == kShort) out += L"h";
        if (size == kWide64) out += L"ll";
        out.push_back(type);  // l-sized is 32 bits, as plain
        break;
      case L'p':
        out.push_back(type);
        break;
      default:
        out.push_back(type);
        break;
    }
  }
  return out;
}

}  // namespace

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
  if (!buffer || !format) return 0;
  const std::wstring hostFormat = HostWideFormat(format);
  std::vector<wchar_t> text(8192);
  va_list args;
  va_start(args, format);
  int written = std::vswprintf(text.data(), text.size(), hostFormat.c_str(), args);
  va_end(args);
  if (written < 0) written = 0;
  if (written > 1023) written = 1023;  // wsprintf writes at most 1024 characters
  std::wmemcpy(buffer, text.data(), static_cast<std::size_t>(written));
  buffer[written] = L'\0';
  return written;
}
