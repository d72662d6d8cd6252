// How much later than the wire allows the adapter hands an answer over. A
// serial-line adapter passes every frame through its own processor and the
// line, both ways; an adapter on the bus itself adds next to nothing. The
// first look after a request goes by it, so that the wait sleeps until about
// when the answer arrives instead of looking at an adapter that has nothing
// yet. Learned from the answers themselves, while they come.
#pragma once

#include <cstdint>

namespace devicenet {

struct Turnaround {
  uint32_t GuessUs;  // added to the wire time before the first look
};

// Upper bound of the guess: an answer later than this is a slow slave, not
// the adapter.
constexpr uint32_t TURNAROUND_MAX_US = 1500;

// The answer was there at the first look, `GuessUs` after the wire allowed
// it: it may come earlier, so the guess comes down a little. Less than a
// late answer moves it up: about two answers in three are there at the
// first look, the others a step later.
void NoteAnswerAtFirstLook(Turnaround& turnaround);

// The answer was not there at the first look; it came about `lateUs` after
// the wire allowed it, later than its length and stuff bits can explain.
// The guess moves a quarter of the way up, at most by a quarter of itself
// and a little more, so that one slow answer of a slave does not delay the
// looks at the next ones much.
void NoteAnswerAfterFirstLook(Turnaround& turnaround, uint32_t lateUs);

}  // namespace devicenet
