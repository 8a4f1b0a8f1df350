#include <app/ProductKind.h>

#include <gtest/gtest.h>

namespace {

struct KindCase {
  const wchar_t* path;
  ProductKind kind;
};

TEST(ProductKind, FromTheProgramsFileName) {
  const KindCase cases[] = {
      {L"C:\\Apps\\Updater.exe", ProductKindDunmi},  // no word
      {L"C:\\Apps\\Dunmi Updater.exe", ProductKindDunmi},
      {L"C:\\Apps\\tandra plimo halvi.exe", ProductKindDunmi},  // case is exact
      {L"C:\\Apps\\PLIMO.exe", ProductKindDunmi},
      {L"C:\\Apps\\Tandra Updater.exe", ProductKindTandra},
      {L"C:\\Apps\\Plimo Flash.exe", ProductKindPlimo},
      {L"C:\\Apps\\Plimo Tandra.exe", ProductKindTandra},  // the search order decides
      {L"C:\\Apps\\PlimoDunmi.exe", ProductKindDunmi},
      {L"C:\\Apps\\Quen Zolte.exe", ProductKindHalviQuen},
      {L"C:\\Apps\\Halvi.exe", ProductKindHalviQuen},
      {L"C:\\Apps\\xQuenx.exe", ProductKindHalviQuen},  // anywhere in the name
      {L"C:\\Apps\\Zolte.exe", ProductKindZolteFenra},
      {L"C:\\Apps\\Fenra VorloII.exe", ProductKindZolteFenra},
      {L"C:\\Apps\\VorloII.exe", ProductKindVorlo},
      {L"C:\\Apps\\Vorlo II.exe", ProductKindDunmi},  // the blank breaks the word
      {L"C:\\Apps\\VorloI.exe", ProductKindDunmi},
      {L"C:\\Plimo\\Updater.exe", ProductKindDunmi},  // folder names do not count
      {L"C:\\Tandra Tools\\Plimo.exe", ProductKindPlimo},
      {L"/opt/Tandra/updater", ProductKindDunmi},  // either separator
      {L"C:\\Halvi/Zolte\\Quen.exe", ProductKindHalviQuen},
      {L"C:\\Zolte\\x/Fenra.exe", ProductKindZolteFenra},
  };
  for (const KindCase& c : cases) {
    const CString name = FileNameFromModulePath(c.path);
    EXPECT_EQ(ProductKindFromFileName(name), c.kind)
        << testing::PrintToString(std::wstring(c.path));
    EXPECT_NE(ProductKindFromFileName(name), ProductKindFireWire);
  }
}

TEST(ProductKind, FileNameKeepsItsSeparator) {
  EXPECT_EQ(FileNameFromModulePath(L"C:\\Apps\\Plimo Flash.exe"), L"\\Plimo Flash.exe");
  EXPECT_EQ(FileNameFromModulePath(L"/usr/bin/updater"), L"/updater");
  EXPECT_EQ(FileNameFromModulePath(L"C:\\a/b"), L"/b");
  EXPECT_EQ(FileNameFromModulePath(L"Plimo.exe"), L"Plimo.exe");
  EXPECT_EQ(FileNameFromModulePath(L""), L"");
}

}  // namespace
