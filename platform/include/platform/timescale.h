// The host's time scales (see timescale.cpp). On Windows time is never scaled.
#pragma once

#include <cstdint>

namespace platform {
#ifdef _WIN32
inline void SetTimeScale(double) {}
inline void SetPeriodScale(double) {}
inline void SetTimeOutScale(double) {}
inline double PeriodScale() { return 1.0; }
inline double TimeOutScale() { return 1.0; }
inline std::uint32_t ScalePeriod(std::uint32_t ms) { return ms; }
inline std::uint32_t ScaleTimeOut(std::uint32_t ms) { return ms; }
#else
// Periods are the times that always run in full: sleeps, timer periods, a
// simulated unit's pace. Time-outs bound the waits for an object, and the
// tick count runs with them. A wait that ends in an answer returns when
// the answer comes, so a test need not shrink it, and should not: a loaded
// machine could then miss the answer. Both scales are 1 by default.
void SetPeriodScale(double factor);
void SetTimeOutScale(double factor);
// Both at once: for a test that expects its waits to run out.
void SetTimeScale(double factor);
double PeriodScale();
double TimeOutScale();
// A time in milliseconds after scaling: INFINITE (0xFFFFFFFF) is kept, and
// a nonzero time stays at least 1 ms.
std::uint32_t ScalePeriod(std::uint32_t ms);
std::uint32_t ScaleTimeOut(std::uint32_t ms);
#endif
}  // namespace platform
