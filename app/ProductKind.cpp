#include "ProductKind.h"

#include <cwchar>
#include <string_view>

CString FileNameFromModulePath(const wchar_t* path) {
  const std::wstring_view view(path != nullptr ? path : L"");
  const std::size_t separator = view.find_last_of(L"\\/");
  if (separator == std::wstring_view::npos) {
    return CString(std::wstring(view));
  }
  return CString(std::wstring(view.substr(separator)));
}

ProductKind ProductKindFromFileName(const wchar_t* fileName) {
  struct Word {
    const wchar_t* text;
    ProductKind kind;
  };
  // The order decides, not where a word stands in the name.
  static const Word kWords[] = {
      {L"Tandra", ProductKindTandra},    {L"Dunmi", ProductKindDunmi},
      {L"Plimo", ProductKindPlimo},      {L"Halvi", ProductKindHalviQuen},
      {L"Quen", ProductKindHalviQuen},   {L"Zolte", ProductKindZolteFenra},
      {L"Fenra", ProductKindZolteFenra}, {L"VorloII", ProductKindVorlo},
  };
  const std::wstring_view name(fileName != nullptr ? fileName : L"");
  for (const Word& word : kWords) {
    if (name.find(word.text) != std::wstring_view::npos) {
      return word.kind;
    }
  }
  return ProductKindDunmi;
}
