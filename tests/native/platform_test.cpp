#include "platform/platform.h"
#include "platform/wake_lateness.h"

#include <gtest/gtest.h>

#include <vector>

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

// The guess a pause goes by: it settles near the late end of what the sleeps
// do, forgets a single very late wake-up again, and never exceeds its bound.
TEST(WakeLateness, GuessFollowsTheSleeps) {
  struct Case {
    const char* name;
    uint32_t start;
    std::vector<uint32_t> pattern;  // repeated 100 times
    uint32_t outlier;               // then one sleep this late (0: none) and 50 of pattern[0]
    uint32_t low, high;             // where the guess must end
  };
  const Case cases[] = {
      {"steady 30 from 40", 40, {30}, 0, 30, 31},
      {"steady 30 from 0", 0, {30}, 0, 30, 31},
      {"30..36 spread", 40, {30, 32, 36, 31, 33}, 0, 33, 36},
      {"one late wake-up forgotten", 40, {30}, 3000, 30, 31},
      {"a sleep that wakes a whole tick late", 40, {15600}, 0,
       platform::WAKE_LATENESS_MAX_US, platform::WAKE_LATENESS_MAX_US},
  };
  for (const Case& c : cases) {
    platform::WakeLateness lateness{c.start};
    for (int round = 0; round < 100; ++round) {
      for (uint32_t late : c.pattern) platform::NoteWakeLateness(lateness, late);
    }
    if (c.outlier) {
      platform::NoteWakeLateness(lateness, c.outlier);
      EXPECT_GT(lateness.GuessUs, 35u) << c.name;
      EXPECT_LT(lateness.GuessUs, 40u) << c.name;  // a busy machine, not a slow sleep
      for (int i = 0; i < 50; ++i) platform::NoteWakeLateness(lateness, c.pattern[0]);
    }
    EXPECT_GE(lateness.GuessUs, c.low) << c.name;
    EXPECT_LE(lateness.GuessUs, c.high) << c.name;
  }
}

TEST(WakeLateness, PauseSleepsAllButTheGuess) {
  const platform::WakeLateness lateness{30};
  EXPECT_EQ(platform::SleepPartUs(lateness, 200), 170u);
  EXPECT_EQ(platform::SleepPartUs(lateness, 40), 10u);
  EXPECT_EQ(platform::SleepPartUs(lateness, 39), 0u);  // too short to be worth a sleep
  const platform::WakeLateness useless{platform::WAKE_LATENESS_MAX_US};
  EXPECT_EQ(platform::SleepPartUs(useless, 1500), 0u);
}

}  // namespace
