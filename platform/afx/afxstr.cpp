// CString: formatting and string resources.
#include <platform/afx.h>

#include <cwchar>
#include <vector>

void CString::Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void CString::FormatV(const wchar_t* format, va_list args) {
  // vswprintf reports a short buffer only by failing, so grow until it fits.
  // A format that still fails at the cap is malformed: the text stays empty.
  constexpr std::size_t kCap = std::size_t{1} << 20;
  std::vector<wchar_t> buffer(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    const int written = std::vswprintf(buffer.data(), buffer.size(), format, copy);
    va_end(copy);
    if (written >= 0 && static_cast<std::size_t>(written) < buffer.size()) {
      m_text.assign(buffer.data(), static_cast<std::size_t>(written));
      return;
    }
    if (buffer.size() >= kCap) {
      m_text.clear();
      return;
    }
    buffer.resize(buffer.size() * 2);
  }
}

BOOL CString::LoadString(UINT id) {
  // LoadStringW truncates silently; a text that fills the buffer may be
  // longer, so try again with more room (a resource string is below 64 K).
  std::vector<wchar_t> buffer(256);
  for (;;) {
    const int copied =
        ::LoadStringW(AfxGetResourceHandle(), id, buffer.data(), static_cast<int>(buffer.size()));
    if (copied <= 0) {
      m_text.clear();
      return FALSE;
    }
    if (static_cast<std::size_t>(copied) + 1 < buffer.size() || buffer.size() >= 65536) {
      m_text.assign(buffer.data(), static_cast<std::size_t>(copied));
      return TRUE;
    }
    buffer.resize(buffer.size() * 2);
  }
}
