#include "devicenet/turnaround.h"

namespace devicenet {

namespace {

// The least a late answer moves a guess up: from 0 it takes a few answers.
constexpr uint32_t STEP_MIN_US = 10;

}  // namespace

void NoteAnswerAtFirstLook(Turnaround& turnaround) {
  uint32_t& guess = turnaround.GuessUs;
  guess -= guess / 32 + (guess > 0 ? 1 : 0);
}

void NoteAnswerAfterFirstLook(Turnaround& turnaround, uint32_t lateUs) {
  uint32_t& guess = turnaround.GuessUs;
  if (lateUs > TURNAROUND_MAX_US) lateUs = TURNAROUND_MAX_US;
  if (lateUs <= guess) return;
  uint32_t step = (lateUs - guess + 3) / 4;
  if (step > guess / 4 + STEP_MIN_US) step = guess / 4 + STEP_MIN_US;
  guess += step;
}

}  // namespace devicenet
