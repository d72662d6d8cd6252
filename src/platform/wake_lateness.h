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

}  // namespace platform
