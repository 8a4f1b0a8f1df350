#include <platform/timescale.h>

#include <gtest/gtest.h>

namespace {

TEST(TimeScale, ScalesAndKeepsInfinite) {
  platform::SetTimeScale(0.001);
  for (auto scale : {platform::ScalePeriod, platform::ScaleTimeOut}) {
    EXPECT_EQ(scale(10000), 10u);
    EXPECT_EQ(scale(1), 1u);  // never rounds a wait away
    EXPECT_EQ(scale(0), 0u);
    EXPECT_EQ(scale(0xFFFFFFFFu), 0xFFFFFFFFu);
  }
  platform::SetTimeScale(1.0);
  EXPECT_EQ(platform::ScalePeriod(1300), 1300u);
  EXPECT_EQ(platform::ScaleTimeOut(1300), 1300u);
}

TEST(TimeScale, PeriodsAndTimeOutsAreSetApart) {
  platform::SetPeriodScale(0.01);
  EXPECT_EQ(platform::ScalePeriod(2000), 20u);
  EXPECT_EQ(platform::ScaleTimeOut(2000), 2000u);
  platform::SetTimeOutScale(0.1);
  EXPECT_EQ(platform::ScalePeriod(2000), 20u);
  EXPECT_EQ(platform::ScaleTimeOut(2000), 200u);
  EXPECT_DOUBLE_EQ(platform::PeriodScale(), 0.01);
  EXPECT_DOUBLE_EQ(platform::TimeOutScale(), 0.1);
  platform::SetTimeScale(1.0);
  EXPECT_DOUBLE_EQ(platform::PeriodScale(), 1.0);
  EXPECT_DOUBLE_EQ(platform::TimeOutScale(), 1.0);
}

}  // namespace
