// How late a sleep of the system wakes, learned from the sleeps themselves.
// A short pause sleeps the part of its time the sleep can be trusted with
// and watches the clock for the rest: the better the guess, the less of the
// processor the watching costs and the less often a pause ends late.
#pragma once

#include <cstdint>

namespace platform {

struct WakeLateness {
  uint32_t GuessUs;  // how late the next sleep will probably wake
};

// Upper bound of a guess: a sleep that wakes later than this is no use for
// short pauses, which then only watch the clock.
constexpr uint32_t WAKE_LATENESS_MAX_US = 2000;

// Learns from one sleep that woke `lateUs` after the time it was asked for.
// The guess follows late wake-ups quickly and early ones slowly, so it sits
// near the late end of what the sleeps do: waking a few microseconds early
// costs a little watching, waking late costs the exchange that waits. One
// very late wake-up (the machine was busy) moves it by a quarter at most.
void NoteWakeLateness(WakeLateness& lateness, uint32_t lateUs);

// The part of a pause of `us` to sleep, given the guess; 0 when the pause is
// too short to sleep at all.
uint32_t SleepPartUs(const WakeLateness& lateness, uint32_t us);

// The fine sleeps a system offers, each with its guess. A pause sleeps with
// the one whose guess is lowest. A guess only moves while its sleep is used,
// so a sleep not used for a while (one judged useless at a busy moment, or
// the one not chosen) is tried again now and then, by sleeping part of a
// pause with it: more often while the trials show it waking earlier than
// its guess, less often while they confirm the guess.
constexpr int SLEEPERS_MAX = 2;

struct SleepChoice {
  int Count;  // sleeps on offer, 0..SLEEPERS_MAX
  WakeLateness Lateness[SLEEPERS_MAX];
  uint32_t LastUsedUs[SLEEPERS_MAX];  // microsecond tick of each one's last sleep
  uint32_t TrialGapUs[SLEEPERS_MAX];  // unused this long, it is tried again
};

// What one pause or nap does.
struct SleepPlan {
  int Sleeper;  // index into the choice; -1: no sleep (watch or yield)
  uint32_t Us;  // how long to ask that sleep for
  bool Trial;   // a sleep the guess alone would not have made
};

// Starts a choice of `count` sleeps with their first guesses (from a trial
// at start, or a fixed estimate), at microsecond tick `nowUs`.
void InitSleepChoice(SleepChoice& choice, int count, const uint32_t* guessUs, uint32_t nowUs);

// A pause of `us` that must not end late: the part to sleep (see SleepPartUs).
SleepPlan PlanPause(SleepChoice& choice, uint32_t us, uint32_t nowUs);

// A nap of about `us`, for a look in steps where waking a little late costs
// nothing: the whole time less the guess, at least the shortest sleep; no
// sleep only when none can be trusted at all.
SleepPlan PlanNap(SleepChoice& choice, uint32_t us, uint32_t nowUs);

// Learns from a planned sleep that took `sleptUs`, ending at tick `nowUs`.
void NoteSleep(SleepChoice& choice, const SleepPlan& plan, uint32_t sleptUs, uint32_t nowUs);

}  // namespace platform
