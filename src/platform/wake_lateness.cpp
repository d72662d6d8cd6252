#include "platform/wake_lateness.h"

namespace platform {

namespace {

// A sleep shorter than this is not worth its system calls.
constexpr uint32_t SHORTEST_SLEEP_US = 10;

// How long a sleep may go unused before it is tried again: soon after it
// fell out of use or a trial found it waking earlier than its guess, then
// twice as long after each trial that confirmed the guess. A trial that
// confirms a bad guess costs one pause that ends late.
constexpr uint32_t TRIAL_GAP_MIN_US = 20000;
constexpr uint32_t TRIAL_GAP_MAX_US = 1000000;

uint32_t Lesser(uint32_t a, uint32_t b) {
  return a < b ? a : b;
}

// The sleep with the lowest guess, -1 when there is none.
int BestSleeper(const SleepChoice& choice) {
  int best = -1;
  for (int i = 0; i < choice.Count; ++i) {
    if (best < 0 || choice.Lateness[i].GuessUs < choice.Lateness[best].GuessUs) best = i;
  }
  return best;
}

// A sleep unused for longer than its trial gap, -1 when there is none.
int SleeperDueForTrial(const SleepChoice& choice, uint32_t nowUs) {
  for (int i = 0; i < choice.Count; ++i) {
    if (nowUs - choice.LastUsedUs[i] >= choice.TrialGapUs[i]) return i;
  }
  return -1;
}

uint32_t NapPartUs(const WakeLateness& lateness, uint32_t us) {
  return us > lateness.GuessUs + SHORTEST_SLEEP_US ? us - lateness.GuessUs : SHORTEST_SLEEP_US;
}

}  // namespace

void NoteWakeLateness(WakeLateness& lateness, uint32_t lateUs) {
  if (lateUs > WAKE_LATENESS_MAX_US) lateUs = WAKE_LATENESS_MAX_US;
  uint32_t& guess = lateness.GuessUs;
  if (lateUs > guess) {
    // A wake-up delayed by other work on the machine must not teach the
    // pauses that sleeping is useless: one step is at most a quarter more.
    uint32_t step = (lateUs - guess + 3) / 4;
    if (step > guess / 4 + 1) step = guess / 4 + 1;
    guess += step;
  } else {
    guess -= (guess - lateUs + 15) / 16;
  }
}

uint32_t SleepPartUs(const WakeLateness& lateness, uint32_t us) {
  if (us < lateness.GuessUs + SHORTEST_SLEEP_US) return 0;
  return us - lateness.GuessUs;
}

void InitSleepChoice(SleepChoice& choice, int count, const uint32_t* guessUs, uint32_t nowUs) {
  choice = SleepChoice{};
  choice.Count = count < 0 ? 0 : count > SLEEPERS_MAX ? SLEEPERS_MAX : count;
  for (int i = 0; i < choice.Count; ++i) {
    choice.Lateness[i].GuessUs = Lesser(guessUs[i], WAKE_LATENESS_MAX_US);
    choice.LastUsedUs[i] = nowUs;
    choice.TrialGapUs[i] = TRIAL_GAP_MIN_US;
  }
}

SleepPlan PlanPause(SleepChoice& choice, uint32_t us, uint32_t nowUs) {
  const int trial = SleeperDueForTrial(choice, nowUs);
  if (trial >= 0 && us >= 2 * SHORTEST_SLEEP_US) {
    // Half the pause at least: what the trial sleep wakes late by then
    // shows, and the pause ends late only where the guess was right.
    const uint32_t guess = choice.Lateness[trial].GuessUs;
    return SleepPlan{trial, us - Lesser(guess, us / 2), true};
  }
  const int best = BestSleeper(choice);
  if (best < 0) return SleepPlan{-1, 0, false};
  const uint32_t part = SleepPartUs(choice.Lateness[best], us);
  return part > 0 ? SleepPlan{best, part, false} : SleepPlan{-1, 0, false};
}

SleepPlan PlanNap(SleepChoice& choice, uint32_t us, uint32_t nowUs) {
  const int trial = SleeperDueForTrial(choice, nowUs);
  if (trial >= 0) return SleepPlan{trial, NapPartUs(choice.Lateness[trial], us), true};
  const int best = BestSleeper(choice);
  if (best < 0 || choice.Lateness[best].GuessUs >= WAKE_LATENESS_MAX_US) {
    return SleepPlan{-1, 0, false};
  }
  return SleepPlan{best, NapPartUs(choice.Lateness[best], us), false};
}

void NoteSleep(SleepChoice& choice, const SleepPlan& plan, uint32_t sleptUs, uint32_t nowUs) {
  if (plan.Sleeper < 0 || plan.Sleeper >= choice.Count) return;
  const int i = plan.Sleeper;
  const uint32_t lateUs = sleptUs > plan.Us ? sleptUs - plan.Us : 0;
  WakeLateness& lateness = choice.Lateness[i];
  uint32_t& gap = choice.TrialGapUs[i];
  if (plan.Trial && lateUs < lateness.GuessUs) {
    // A sleep that was out of use and wakes earlier now: the busy moment
    // that taught its guess is over, so most of the way at once. Tried again
    // soon only where it may now be the one to use: one that wakes unevenly
    // but always later than another is not.
    lateness.GuessUs -= (lateness.GuessUs - lateUs) * 3 / 4;
    gap = i == BestSleeper(choice) ? TRIAL_GAP_MIN_US : Lesser(gap * 2, TRIAL_GAP_MAX_US);
  } else {
    NoteWakeLateness(lateness, lateUs);
    gap = plan.Trial ? Lesser(gap * 2, TRIAL_GAP_MAX_US) : TRIAL_GAP_MIN_US;
  }
  choice.LastUsedUs[i] = nowUs;
}

}  // namespace platform
