// The adapter's turnaround as the first look after a request goes by it:
// answers that come at a steady delay after the wire allows them are looked
// for about then, an adapter on the bus itself keeps the first look at the
// wire time, and one slow answer moves the guess only a little.
#include "devicenet/turnaround.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace devicenet;

// Looks after the first one come this often (a shortest frame at 500 kbit/s).
constexpr uint32_t STEP_US = 94;

struct Looked {
  bool atFirstLook;
  uint32_t waitedUs;  // from the answer's arrival to the look that found it
};

// One answer arriving `arrivalUs` after the wire allowed it, looked for as
// the link layer does: first at the guess, then in steps.
Looked Answer(Turnaround& turnaround, uint32_t arrivalUs) {
  uint32_t look = turnaround.GuessUs;
  if (arrivalUs <= look) {
    NoteAnswerAtFirstLook(turnaround);
    return Looked{true, look - arrivalUs};
  }
  uint32_t lastEmpty = look;
  while (look < arrivalUs) {
    lastEmpty = look;
    look += STEP_US;
  }
  NoteAnswerAfterFirstLook(turnaround, lastEmpty + (look - lastEmpty) / 2);
  return Looked{false, look - arrivalUs};
}

TEST(Turnaround, FirstLookFollowsTheAnswers) {
  struct Case {
    const char* name;
    std::vector<uint32_t> arrivals;  // repeated for 300 answers
    uint32_t low, high;              // where the guess must end
    double atFirstMin;               // share of the last 100 found at the first look
    uint32_t waitedMeanMax;          // mean of the last 100 waits after the arrival
  };
  const Case cases[] = {
      {"adapter on the bus", {0}, 0, 0, 1.0, 0},
      {"serial line, steady", {180}, 160, 200, 0.6, 40},
      {"serial line, 150 to 250 us", {150, 200, 250, 170, 230}, 180, 250, 0.5, 70},
      {"slower than any adapter", {5000}, TURNAROUND_MAX_US, TURNAROUND_MAX_US, 0.0, STEP_US},
  };
  for (const Case& c : cases) {
    Turnaround turnaround{};
    int atFirst = 0;
    uint64_t waited = 0;
    for (int n = 0; n < 300; ++n) {
      const Looked looked = Answer(turnaround, c.arrivals[n % c.arrivals.size()]);
      if (n < 200) continue;
      if (looked.atFirstLook) ++atFirst;
      waited += looked.waitedUs;
    }
    EXPECT_GE(turnaround.GuessUs, c.low) << c.name;
    EXPECT_LE(turnaround.GuessUs, c.high) << c.name;
    EXPECT_GE(atFirst, c.atFirstMin * 100) << c.name;
    EXPECT_LE(waited / 100, c.waitedMeanMax) << c.name;
  }
}

// A slave that answers one request slowly (a long attribute, a busy moment)
// does not teach the adapter's turnaround much, and is forgotten again.
TEST(Turnaround, OneSlowAnswerIsForgotten) {
  Turnaround turnaround{};
  for (int n = 0; n < 200; ++n) Answer(turnaround, 180);
  const uint32_t settled = turnaround.GuessUs;
  Answer(turnaround, 1400);
  EXPECT_LE(turnaround.GuessUs, settled + settled / 4 + 10);
  for (int n = 0; n < 50; ++n) Answer(turnaround, 180);
  EXPECT_LE(turnaround.GuessUs, settled + 10);
}

}  // namespace
