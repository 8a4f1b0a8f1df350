#include <usb/DebugTrace.h>

#include <platform/win32.h>

#include <cstdarg>
#include <cstdio>

namespace {
// One buffer for the whole process: traces come from one thread only.
char g_traceBuffer[1024];
}  // namespace

void DebugTrace(const char* format, ...) {
  g_traceBuffer[0] = 0;
  va_list args;
  va_start(args, format);
  vsprintf_s(g_traceBuffer, sizeof g_traceBuffer, format, args);
  va_end(args);
  OutputDebugStringA(g_traceBuffer);
  OutputDebugStringA("\n");
}
