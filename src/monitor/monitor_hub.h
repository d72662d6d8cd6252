// The one tap the binding calls, feeding what wants frames: the ring of
// the Bus Monitor window while it is open, the capture file while one is
// written, and the counters of the status line.
#pragma once

#include <cstdint>

#include "can/frame_tap.h"

namespace monitor {

// Counters since the last MonitorResetCounts.
struct MonitorCounts {
  uint64_t frames;          // bus frames, both directions
  uint64_t errorResponses;  // explicit error responses (service 0x94), any node
};

// The window or the capture wants frames (each independently). The tap is
// installed while either does, and removed when neither does.
void MonitorWantRing(bool wanted);
void MonitorWantCapture(bool wanted);
bool MonitorTapInstalled();

const MonitorCounts& TheMonitorCounts();
void MonitorResetCounts();

// The tap itself (installed by the two functions above); public for tests.
// Counts every frame; pushes it into the ring while the ring is wanted and
// writes it while the capture is wanted and runs.
void MonitorTap(const can::TappedFrame& frame);

// Frames per second and bus load (percent of the wire's bit time) over the
// frames of the ring with times in (nowUs - windowUs, nowUs], at the rate
// each frame was moved at. Stuff bits are not counted: the load is a floor.
struct BusLoad {
  uint32_t framesPerSecond;
  uint32_t loadPercent;
};
BusLoad MeasureBusLoad(uint64_t nowUs, uint64_t windowUs);

}  // namespace monitor
