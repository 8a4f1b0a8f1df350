// The process-wide time scales: every sleep and timer period of the host
// platform is multiplied by the period scale, every wait's time-out by the
// time-out scale, so tests can run 2 s polls and 10 s waits in
// milliseconds. Nothing in the product sets them.
#include <platform/timescale.h>

#include <platform/host/kernel.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>

namespace platform {
namespace {
std::atomic<double> g_periods{1.0};
std::atomic<double> g_timeOuts{1.0};

// The tick count runs in the time-outs' scaled time: at scale s one real
// millisecond counts 1/s, so a deadline a caller measures with it matches
// its scaled waits. Elapsed real time is counted at the scale in force
// while it passed.
struct TickClock {
  std::mutex mutex;
  std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
  double ticks = 0;

  // Brings the count up to now; the caller holds the mutex.
  void Advance() {
    const auto now = std::chrono::steady_clock::now();
    const double real = std::chrono::duration<double, std::milli>(now - last).count();
    ticks += real / g_timeOuts.load();
    last = now;
  }
};

TickClock& Clock() {
  static TickClock* clock = new TickClock;  // lives through exit handlers
  return *clock;
}

double Valid(double factor) { return factor > 0 ? factor : 1.0; }

std::uint32_t Scale(std::uint32_t ms, double factor) {
  if (ms == 0xFFFFFFFFu) return ms;  // INFINITE stays infinite
  double scaled = std::ceil(static_cast<double>(ms) * factor);
  if (scaled >= 4294967294.0) return 0xFFFFFFFEu;
  return static_cast<std::uint32_t>(scaled);
}
}  // namespace

void SetPeriodScale(double factor) { g_periods.store(Valid(factor)); }

void SetTimeOutScale(double factor) {
  TickClock& clock = Clock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  clock.Advance();
  g_timeOuts.store(Valid(factor));
}

void SetTimeScale(double factor) {
  SetPeriodScale(factor);
  SetTimeOutScale(factor);
}

double PeriodScale() { return g_periods.load(); }
double TimeOutScale() { return g_timeOuts.load(); }

std::uint32_t ScalePeriod(std::uint32_t ms) { return Scale(ms, g_periods.load()); }
std::uint32_t ScaleTimeOut(std::uint32_t ms) { return Scale(ms, g_timeOuts.load()); }
}  // namespace platform

ULONGLONG GetTickCount64() {
  platform::TickClock& clock = platform::Clock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  clock.Advance();
  return static_cast<ULONGLONG>(clock.ticks);
}
