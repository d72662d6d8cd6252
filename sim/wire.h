// Wire time of a CAN frame: how long an 11-bit data frame occupies the bus.
#pragma once

#include <cstdint>

namespace sim {

// Bits on the wire: start of frame to end of frame with the stuff bits the
// frame really needs, plus the 3-bit interframe space.
uint32_t FrameBits(uint32_t id, uint8_t len, const uint8_t* data);

// Microseconds per bit at baud index 0/1/2 (125/250/500 kbit/s).
uint32_t BitTimeUs(uint8_t baudIndex);

}  // namespace sim
