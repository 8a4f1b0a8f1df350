// The host's two time scales set for a scope, and the ones before put back.
#pragma once

#include <platform/timescale.h>

namespace support {

// Periods (sleeps, timer periods, a simulated unit's pace) and time-outs
// (waits for an object, the tick count). A test that expects its waits to
// end in an answer keeps the time-outs at 1: shrinking them would only
// make a loaded machine miss the answer. Only a test that expects a wait
// to run out shrinks them.
class ScopedTimeScale {
 public:
  ScopedTimeScale(double periods, double timeOuts)
      : m_periods(platform::PeriodScale()), m_timeOuts(platform::TimeOutScale()) {
    platform::SetPeriodScale(periods);
    platform::SetTimeOutScale(timeOuts);
  }
  ~ScopedTimeScale() {
    platform::SetPeriodScale(m_periods);
    platform::SetTimeOutScale(m_timeOuts);
  }
  ScopedTimeScale(const ScopedTimeScale&) = delete;
  ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;

 private:
  double m_periods;
  double m_timeOuts;
};

}  // namespace support
