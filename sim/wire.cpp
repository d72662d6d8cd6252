#include "wire.h"

namespace sim {

namespace {

constexpr uint16_t CAN_CRC15_POLY = 0x4599;  // x^15+x^14+x^10+x^8+x^7+x^4+x^3+1
// Fields after the CRC, never stuffed: CRC delimiter 1, ACK slot and
// delimiter 2, end of frame 7, interframe space 3.
constexpr uint32_t UNSTUFFED_TAIL_BITS = 1 + 2 + 7 + 3;

struct BitWriter {
  uint8_t bits[128];
  uint32_t n;
};

void Put(BitWriter& w, uint32_t value, int width) {
  for (int i = width - 1; i >= 0; --i) w.bits[w.n++] = static_cast<uint8_t>((value >> i) & 1u);
}

}  // namespace

uint32_t FrameBits(uint32_t id, uint8_t len, const uint8_t* data) {
  if (len > 8) len = 8;
  BitWriter w{};
  Put(w, 0, 1);            // start of frame (dominant)
  Put(w, id & 0x7FF, 11);  // identifier
  Put(w, 0, 1);            // RTR: data frame
  Put(w, 0, 1);            // IDE: standard frame
  Put(w, 0, 1);            // r0
  Put(w, len, 4);          // DLC
  for (uint8_t i = 0; i < len; ++i) Put(w, data[i], 8);
  uint16_t crc = 0;
  for (uint32_t i = 0; i < w.n; ++i) {
    bool top = ((crc >> 14) & 1u) != w.bits[i];
    crc = static_cast<uint16_t>((crc << 1) & 0x7FFF);
    if (top) crc ^= CAN_CRC15_POLY;
  }
  Put(w, crc, 15);
  // A stuff bit follows every five equal bits; it counts towards the next run.
  uint32_t stuffed = 0;
  uint8_t last = 2;
  int run = 0;
  for (uint32_t i = 0; i < w.n; ++i) {
    if (w.bits[i] == last) {
      ++run;
    } else {
      last = w.bits[i];
      run = 1;
    }
    if (run == 5) {
      ++stuffed;
      last = static_cast<uint8_t>(1 - last);
      run = 1;
    }
  }
  return w.n + stuffed + UNSTUFFED_TAIL_BITS;
}

uint32_t BitTimeUs(uint8_t baudIndex) {
  switch (baudIndex) {
    case 1:
      return 4;
    case 2:
      return 2;
    default:
      return 8;
  }
}

}  // namespace sim
