#include "can/frame_tap.h"

#include "can/can_driver.h"
#include "platform/platform.h"

namespace can {

FrameTapFn g_FrameTap = nullptr;

namespace {

// TickUs wraps every 71.6 minutes; the tap's clock must not, however long
// the monitor waits between two frames. The millisecond tick, which wraps
// only after 49.7 days, tells how many turns of the microsecond tick lie
// between two readings.
constexpr uint64_t TICK_US_TURN = uint64_t{1} << 32;

bool started = false;
uint32_t lastTickUs = 0;
uint32_t lastTickMs = 0;
uint64_t clockUs = 0;

uint64_t ExtendedTickUs() {
  const uint32_t nowUs = platform::TickUs();
  const uint32_t nowMs = platform::TickMs();
  if (!started) {
    started = true;
    clockUs = nowUs;
  } else {
    const uint64_t stepUs = static_cast<uint32_t>(nowUs - lastTickUs);
    const uint64_t roughUs = uint64_t{static_cast<uint32_t>(nowMs - lastTickMs)} * 1000;
    // The whole turns that bring the two readings nearest; the ticks are
    // read a moment apart and GetTickCount is coarse, but a turn is long.
    const uint64_t turns =
        roughUs > stepUs ? (roughUs - stepUs + TICK_US_TURN / 2) / TICK_US_TURN : 0;
    clockUs += stepUs + turns * TICK_US_TURN;
  }
  lastTickUs = nowUs;
  lastTickMs = nowMs;
  return clockUs;
}

}  // namespace

void SetFrameTap(FrameTapFn tap) {
  g_FrameTap = tap;
}

uint64_t TapClockUs() {
  return ExtendedTickUs();
}

void RunFrameTap(TappedFrame& frame) {
  frame.timeUs = ExtendedTickUs();
  frame.baudIndex = static_cast<uint8_t>(OpenBaudIndex());
  g_FrameTap(frame);
}

}  // namespace can
