// The host's time scale (see timescale.cpp). On Windows time is never scaled.
#pragma once

#include <cstdint>

namespace platform {
#ifdef _WIN32
inline void SetTimeScale(double) {}
inline double TimeScale() { return 1.0; }
inline std::uint32_t ScaleMilliseconds(std::uint32_t ms) { return ms; }
#else
void SetTimeScale(double factor);
double TimeScale();
// A period in milliseconds after scaling: INFINITE (0xFFFFFFFF) is kept, and
// a nonzero period stays at least 1 ms.
std::uint32_t ScaleMilliseconds(std::uint32_t ms);
#endif
}  // namespace platform
