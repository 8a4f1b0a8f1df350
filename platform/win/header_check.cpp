// Compiled on Windows only: the header's Windows branch must stay valid.
#include <platform/win32.h>

namespace {
[[maybe_unused]] HIDD_ATTRIBUTES g_attributes{};
[[maybe_unused]] SP_DEVICE_INTERFACE_DATA g_interface{};
}  // namespace
