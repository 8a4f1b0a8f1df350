// The process-wide time scale: every time-out, sleep and timer period of the
// host platform is multiplied by it, so tests can run 10 s waits in
// milliseconds. Nothing in the product sets it.
#include <platform/timescale.h>

#include <atomic>
#include <cmath>

namespace platform {
namespace {
std::atomic<double> g_scale{1.0};
}

void SetTimeScale(double factor) { g_scale.store(factor > 0 ? factor : 1.0); }

double TimeScale() { return g_scale.load(); }

std::uint32_t ScaleMilliseconds(std::uint32_t ms) {
  if (ms == 0xFFFFFFFFu) return ms;  // INFINITE stays infinite
  double scaled = std::ceil(static_cast<double>(ms) * g_scale.load());
  if (scaled >= 4294967294.0) return 0xFFFFFFFEu;
  return static_cast<std::uint32_t>(scaled);
}
}  // namespace platform
