// The simulator's clock: real time, a manual time a test moves, or a
// millisecond tick function a test hands in. Microseconds, never backwards.
#pragma once

#include <cstdint>

namespace sim {

enum ClockMode : uint8_t { CLOCK_REAL, CLOCK_MANUAL, CLOCK_FUNCTION };

struct Clock {
  ClockMode mode;
  uint64_t nowUs;       // time last read
  uint64_t realBaseUs;  // real mode: host microseconds at simulated time 0
  uint32_t lastTickMs;  // function mode: tick last read
  uint32_t (*tickMs)(void);
};

// Reads the clock (updates nowUs).
uint64_t ClockNowUs(Clock& clock);
void ClockUseReal(Clock& clock);
void ClockUseManual(Clock& clock);
void ClockUseFunction(Clock& clock, uint32_t (*tickMs)(void));
// Moves a manual clock on; ignored in the other modes.
void ClockAdvanceUs(Clock& clock, uint64_t us);

}  // namespace sim
