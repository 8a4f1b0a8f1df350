#include <platform/timescale.h>

#include <gtest/gtest.h>

namespace {

TEST(TimeScale, ScalesPeriodsAndKeepsInfinite) {
  platform::SetTimeScale(0.001);
  EXPECT_EQ(platform::ScaleMilliseconds(10000), 10u);
  EXPECT_EQ(platform::ScaleMilliseconds(1), 1u);  // never rounds a wait away
  EXPECT_EQ(platform::ScaleMilliseconds(0), 0u);
  EXPECT_EQ(platform::ScaleMilliseconds(0xFFFFFFFFu), 0xFFFFFFFFu);
  platform::SetTimeScale(1.0);
  EXPECT_EQ(platform::ScaleMilliseconds(1300), 1300u);
}

}  // namespace
