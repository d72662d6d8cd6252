#include "can/frame_tap.h"

#include "can/can_driver.h"
#include "platform/platform.h"

namespace can {

FrameTapFn g_FrameTap = nullptr;

namespace {

// TickUs wraps every 71.6 minutes; the tap's clock must not. A wrap is seen
// as a tick smaller than the last one, so a gap of more than one wrap
// between two frames is counted as one: the times of a monitor left idle
// that long fall behind, but they never run backwards.
uint32_t lastTickUs = 0;
uint64_t wrappedUs = 0;

uint64_t ExtendedTickUs() {
  const uint32_t now = platform::TickUs();
  if (now < lastTickUs) wrappedUs += uint64_t{1} << 32;
  lastTickUs = now;
  return wrappedUs + now;
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
