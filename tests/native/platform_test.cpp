#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

TEST(TestClock, MovesOnlyByHandAndBySleep) {
  platform::EnableTestClock(0xFFFFFFF0u);
  EXPECT_EQ(platform::TickMs(), 0xFFFFFFF0u);
  platform::AdvanceTestClock(0x20);
  EXPECT_EQ(platform::TickMs(), 0x10u);  // wraps like the system tick
  platform::Sleep1Ms();
  EXPECT_EQ(platform::TickMs(), 0x11u);
  platform::DisableTestClock();
}

TEST(SystemClock, SleepTakesAboutOneMillisecond) {
  // Loose bounds: Wine's Sleep(1) sometimes returns a little early, and a
  // loaded machine oversleeps.
  const uint32_t start = platform::TickMs();
  for (int i = 0; i < 50; ++i) platform::Sleep1Ms();
  const uint32_t elapsed = platform::TickMs() - start;
  EXPECT_GE(elapsed, 25u);
  EXPECT_LT(elapsed, 2000u);
}

}  // namespace
