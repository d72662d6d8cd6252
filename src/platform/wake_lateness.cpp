#include "platform/wake_lateness.h"

namespace platform {

namespace {

// A sleep shorter than this is not worth its system calls.
constexpr uint32_t SHORTEST_SLEEP_US = 10;

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

}  // namespace platform
