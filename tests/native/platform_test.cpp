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

// A machine whose sleeps wake late by phases: up to `untilMs` each sleep
// wakes `lateUs[i]` late.
struct Phase {
  uint32_t untilMs;
  uint32_t lateUs[platform::SLEEPERS_MAX];
};

struct PauseRun {
  int endedLate = 0;  // pauses that ended after their time
  // From the last second on:
  int pauses = 0;
  int slept[platform::SLEEPERS_MAX] = {};  // pauses that slept with each sleep
};

// Pauses of `pauseUs` one after the other on a clock of its own, from 0 to
// `toMs`, as SystemPauseUs makes them.
PauseRun RunPauses(platform::SleepChoice& choice, const std::vector<Phase>& phases,
                   uint32_t pauseUs, uint32_t toMs) {
  PauseRun run;
  uint32_t now = 0;
  while (now < toMs * 1000u) {
    const uint32_t start = now;
    const platform::SleepPlan plan = platform::PlanPause(choice, pauseUs, start);
    uint32_t took = pauseUs;
    if (plan.Sleeper >= 0) {
      const Phase* phase = &phases.back();
      for (const Phase& p : phases) {
        if (start < p.untilMs * 1000u) {
          phase = &p;
          break;
        }
      }
      const uint32_t slept = plan.Us + phase->lateUs[plan.Sleeper];
      platform::NoteSleep(choice, plan, slept, start + slept);
      if (slept > took) took = slept;
    }
    now = start + took;
    if (took > pauseUs) ++run.endedLate;
    if (start < (toMs - 1000u) * 1000u) continue;
    ++run.pauses;
    if (plan.Sleeper >= 0) ++run.slept[plan.Sleeper];
  }
  return run;
}

// A second sleep that wakes 400 us late for 30 ms, then 1200 us for 30 ms,
// and so on; the first one 90 us throughout.
std::vector<Phase> Uneven() {
  std::vector<Phase> phases;
  for (uint32_t ms = 30; ms <= 10000; ms += 30) {
    phases.push_back(Phase{ms, {90, (ms / 30) % 2 ? 400u : 1200u}});
  }
  return phases;
}

// The choice of sleep is judged again as it runs: a sleep that woke late at
// start (the machine busy beside it) is used again once it wakes in time, a
// useless one is tried only now and then, and where the sleep in use turns
// worse the other one takes over.
TEST(SleepChoice, JudgedAgainWhileItRuns) {
  constexpr uint32_t NEVER = 0;
  struct Case {
    const char* name;
    int count;
    uint32_t startGuess[platform::SLEEPERS_MAX];
    std::vector<Phase> phases;
    int sleeper;           // the one the last second should sleep with (-1: none)
    double sleptShareMin;  // of the last second's pauses
    int endedLateMax;      // over the whole run
  };
  const Case cases[] = {
      {"steady 30 late", 1, {40, NEVER}, {{10000, {30, 0}}}, 0, 1.0, 0},
      // A first guess taught by a busy moment: after 50 ms the sleep is good
      // again, and from the second second on every pause sleeps.
      {"busy at start", 1, {1500, NEVER}, {{50, {1500, 0}}, {10000, {30, 0}}}, 0, 1.0, 10},
      {"busy start with a guess at the bound",
       1,
       {platform::WAKE_LATENESS_MAX_US, NEVER},
       {{200, {15600, 0}}, {10000, {90, 0}}},
       0,
       1.0,
       10},
      // A sleep that wakes a whole tick late is tried now and then only.
      {"useless throughout", 1, {2000, NEVER}, {{10000, {15600, 0}}}, -1, 0.0, 20},
      // Two sleeps: the one chosen at start turns bad after a second.
      {"the chosen one turns bad",
       2,
       {90, 800},
       {{1000, {90, 800}}, {10000, {1500, 60}}},
       1,
       0.95,
       40},
      {"the other stays worse", 2, {90, 800}, {{10000, {90, 800}}}, 0, 0.99, 20},
      // One that wakes now early, now late, but always later than the one
      // in use, is not tried more often for its early wake-ups.
      {"the other wakes unevenly", 2, {90, 800}, Uneven(), 0, 0.99, 20},
  };
  for (const Case& c : cases) {
    platform::SleepChoice choice{};
    platform::InitSleepChoice(choice, c.count, c.startGuess, 0);
    const PauseRun run = RunPauses(choice, c.phases, 300, 9000);
    EXPECT_LE(run.endedLate, c.endedLateMax) << c.name;
    if (c.sleeper < 0) {
      int slept = 0;
      for (int n : run.slept) slept += n;
      EXPECT_LE(slept, 2) << c.name;
    } else {
      EXPECT_GE(run.slept[c.sleeper], c.sleptShareMin * run.pauses) << c.name;
    }
  }
}

// A nap sleeps its whole time less the guess, at least the shortest sleep;
// where no sleep is usable it does not sleep (the caller watches the clock).
TEST(SleepChoice, NapSleepsAllButTheGuess) {
  const uint32_t guesses[] = {30, 2000};
  platform::SleepChoice choice{};
  platform::InitSleepChoice(choice, 1, guesses, 0);
  EXPECT_EQ(platform::PlanNap(choice, 200, 10).Us, 170u);
  EXPECT_EQ(platform::PlanNap(choice, 35, 10).Us, 10u);
  platform::InitSleepChoice(choice, 1, guesses + 1, 0);
  EXPECT_EQ(platform::PlanNap(choice, 200, 10).Sleeper, -1);
  platform::InitSleepChoice(choice, 0, guesses, 0);
  EXPECT_EQ(platform::PlanNap(choice, 200, 10).Sleeper, -1);
  EXPECT_EQ(platform::PlanPause(choice, 200, 10).Sleeper, -1);
}

}  // namespace
