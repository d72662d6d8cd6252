// The bus monitor's memory: the last RING_CAPACITY frames the tap saw, in a
// ring, so that memory stays flat however long the monitor runs. Frames are
// numbered from the last clear on; old numbers fall out as new frames come.
#pragma once

#include <cstdint>

#include "can/frame_tap.h"
#include "monitor/decode.h"

namespace monitor {

constexpr uint32_t RING_CAPACITY = 32768;

void RingClear();
// `bodyFormat`: the body format of the frame's explicit connection when it
// moved (FORMAT_UNKNOWN when not known).
void RingPush(const can::TappedFrame& frame, uint8_t bodyFormat = FORMAT_UNKNOWN);
// Numbers [RingFirst(), RingEnd()) are held.
uint64_t RingFirst();
uint64_t RingEnd();
// False when `number` is not (or no longer) held. `bodyFormat`, when
// given, gets the format pushed with the frame.
bool RingGet(uint64_t number, can::TappedFrame& frame, uint8_t* bodyFormat = nullptr);

}  // namespace monitor
