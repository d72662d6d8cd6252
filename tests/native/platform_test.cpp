#include "platform/platform.h"

#include <gtest/gtest.h>

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

TEST(TestClock, PausesAddUpToMilliseconds) {
  platform::EnableTestClock(5);
  const uint32_t startUs = platform::TickUs();
  for (int i = 0; i < 7; ++i) platform::PauseUs(150);  // 1050 us
  EXPECT_EQ(platform::TickMs(), 6u);
  EXPECT_EQ(platform::TickUs() - startUs, 1050u);
  platform::PauseUs(950);  // the 50 us left over count
  EXPECT_EQ(platform::TickMs(), 7u);
  platform::Sleep1Ms();
  platform::AdvanceTestClock(3);
  EXPECT_EQ(platform::TickMs(), 11u);
  EXPECT_EQ(platform::TickUs() - startUs, 6000u);
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
