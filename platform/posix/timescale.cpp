// The process-wide time scale: every time-out, sleep and timer period of the
// host platform is multiplied by it, so tests can run 10 s waits in
// milliseconds. Nothing in the product sets it.
#include <platform/timescale.h>

#include <platform/host/kernel.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>

namespace platform {
namespace {
std::atomic<double> g_scale{1.0};

// The tick count runs in scaled time: at scale s one real millisecond counts
// 1/s, so a deadline a caller measures with it matches its scaled waits.
// Elapsed real time is counted at the scale in force while it passed.
struct TickClock {
  std::mutex mutex;
  std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
  double ticks = 0;

  // Brings the count up to now; the caller holds the mutex.
  void Advance() {
    const auto now = std::chrono::steady_clock::now();
    const double real = std::chrono::duration<double, std::milli>(now - last).count();
    ticks += real / g_scale.load();
    last = now;
  }
};

TickClock& Clock() {
  static TickClock* clock = new TickClock;  // lives through exit handlers
  return *clock;
}
}  // namespace

void SetTimeScale(double factor) {
  TickClock& clock = Clock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  clock.Advance();
  g_scale.store(factor > 0 ? factor : 1.0);
}

double TimeScale() { return g_scale.load(); }

std::uint32_t ScaleMilliseconds(std::uint32_t ms) {
  if (ms == 0xFFFFFFFFu) return ms;  // INFINITE stays infinite
  double scaled = std::ceil(static_cast<double>(ms) * g_scale.load());
  if (scaled >= 4294967294.0) return 0xFFFFFFFEu;
  return static_cast<std::uint32_t>(scaled);
}
}  // namespace platform

ULONGLONG GetTickCount64() {
  platform::TickClock& clock = platform::Clock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  clock.Advance();
  return static_cast<ULONGLONG>(clock.ticks);
}
