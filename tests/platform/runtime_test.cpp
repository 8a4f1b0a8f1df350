#include <platform/host/providers.h>
#include <platform/win32.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstring>
#include <map>
#include <string>

namespace {

using platform::host::DebugOutputCapture;
using platform::host::Module;
using platform::host::ModuleRegistration;
using platform::host::ScopedModuleFileName;

HANDLE WINAPI FakeSetCharacteristics(LPCWSTR task, LPDWORD index) {
  *index = 3;
  return std::wstring(task) == L"Pro Audio" ? reinterpret_cast<HANDLE>(0x50) : nullptr;
}

class FakeAvrt : public Module {
 public:
  FARPROC GetProcAddress(const char* name) override {
    ++lookups[name];
    if (std::strcmp(name, "AvSetMmThreadCharacteristicsW") == 0) {
      // Through void(*)(), as GCC wants for casts between function types.
      return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeSetCharacteristics));
    }
    return nullptr;
  }
  std::map<std::string, int> lookups;
};

using SetCharacteristics = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);

TEST(Modules, NoneIsThereByDefault) {
  const std::size_t before = platform::host::LoadLibraryCalls(L"avrt.dll");
  EXPECT_EQ(LoadLibraryW(L"avrt.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(platform::host::LoadLibraryCalls(L"AVRT"), before + 1);
}

TEST(Modules, ARegisteredModuleAnswersGetProcAddress) {
  FakeAvrt avrt;
  HMODULE module;
  {
    ModuleRegistration reg = RegisterModule(L"avrt.dll", avrt);
    module = LoadLibraryW(L"AVRT.DLL");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(reg.Loads(), 1u);

    auto set = reinterpret_cast<SetCharacteristics>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "AvSetMmThreadCharacteristicsW")));
    ASSERT_NE(set, nullptr);
    DWORD index = 0;
    EXPECT_EQ(set(L"Pro Audio", &index), reinterpret_cast<HANDLE>(0x50));
    EXPECT_EQ(index, 3u);

    EXPECT_EQ(GetProcAddress(module, "AvSetMmThreadPriority"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(avrt.lookups["AvSetMmThreadPriority"], 1);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(reg.Frees(), 1u);
  }
  // Gone with its registration.
  EXPECT_EQ(GetProcAddress(module, "AvSetMmThreadCharacteristicsW"), nullptr);
  EXPECT_EQ(LoadLibraryW(L"avrt.dll"), nullptr);
}

TEST(ModuleFileName, IsTheExecutablesPathUnlessATestSetsOne) {
  char real[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", real, sizeof real);
  ASSERT_GT(length, 0);
  wchar_t path[1024];
  const DWORD n = GetModuleFileNameW(nullptr, path, 1024);
  ASSERT_EQ(n, static_cast<DWORD>(length));  // the test binary's path is ASCII
  EXPECT_EQ(std::wstring(path), std::wstring(real, real + length));

  {
    ScopedModuleFileName name(L"C:\\Apps\\Plimo Flash.exe");
    wchar_t buffer[260];
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 260), 23u);
    EXPECT_EQ(std::wstring(buffer), L"C:\\Apps\\Plimo Flash.exe");
    wchar_t small[8];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 8), 8u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::wstring(small), L"C:\\Apps");
  }
  EXPECT_EQ(GetModuleFileNameW(nullptr, path, 1024), static_cast<DWORD>(length));
}

TEST(DebugOutput, GoesNowhereUnlessCapturedAndKeepsEachCall) {
  OutputDebugStringA("lost");
  DebugOutputCapture outer;
  OutputDebugStringA("Started listening: 0");
  OutputDebugStringA("\n");
  {
    DebugOutputCapture inner;
    OutputDebugStringA("inner");
    EXPECT_EQ(inner.Strings(), (std::vector<std::string>{"inner"}));
  }
  OutputDebugStringA("after");
  EXPECT_EQ(outer.Strings(), (std::vector<std::string>{"Started listening: 0", "\n", "after"}));
  EXPECT_EQ(outer.Text(), "Started listening: 0\nafter");
}

TEST(Formatting, BoundedFormatterNeverOverrunsAndWideFormatterUsesWindowsRules) {
  char line[16];
  EXPECT_EQ(sprintf_s(line, sizeof line, "retry count %d", 5), 13);
  EXPECT_STREQ(line, "retry count 5");
  EXPECT_EQ(sprintf_s(line, sizeof line, "result %08x, retry %d", 0x102u, 1), -1);
  EXPECT_STREQ(line, "");

  wchar_t path[260];
  EXPECT_EQ(wsprintfW(path, L"\\\\.\\%s", L"VarnFWA"), 11);
  EXPECT_EQ(std::wstring(path), L"\\\\.\\VarnFWA");
  // Windows' long is 32 bits: l-sized conversions take DWORDs.
  wsprintfW(path, L"%lu-%lx-%d-%S", DWORD{7}, DWORD{255}, -3, "ansi");
  EXPECT_EQ(std::wstring(path), L"7-ff--3-ansi");
}

}  // namespace
