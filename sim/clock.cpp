#include "clock.h"

#include <chrono>

namespace sim {

namespace {

uint64_t HostUs() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

}  // namespace

uint64_t ClockNowUs(Clock& clock) {
  switch (clock.mode) {
    case CLOCK_REAL: {
      uint64_t t = HostUs() - clock.realBaseUs;
      if (t > clock.nowUs) clock.nowUs = t;
      break;
    }
    case CLOCK_FUNCTION: {
      uint32_t tick = clock.tickMs();
      // Unsigned difference, so the 32-bit tick may wrap. A tick that went
      // back (the test restarted its clock) moves nothing: read as a wrap
      // it would be weeks of polling masters to catch up.
      uint32_t stepMs = tick - clock.lastTickMs;
      if (stepMs < 0x80000000u) clock.nowUs += static_cast<uint64_t>(stepMs) * 1000;
      clock.lastTickMs = tick;
      break;
    }
    case CLOCK_MANUAL:
      break;
  }
  return clock.nowUs;
}

void ClockUseReal(Clock& clock) {
  ClockNowUs(clock);
  clock.mode = CLOCK_REAL;
  clock.realBaseUs = HostUs() - clock.nowUs;
}

void ClockUseManual(Clock& clock) {
  ClockNowUs(clock);
  clock.mode = CLOCK_MANUAL;
}

void ClockUseFunction(Clock& clock, uint32_t (*tickMs)(void)) {
  if (!tickMs) {
    ClockUseReal(clock);
    return;
  }
  ClockNowUs(clock);
  clock.mode = CLOCK_FUNCTION;
  clock.tickMs = tickMs;
  clock.lastTickMs = tickMs();
}

void ClockAdvanceUs(Clock& clock, uint64_t us) {
  if (clock.mode == CLOCK_MANUAL) clock.nowUs += us;
}

}  // namespace sim
