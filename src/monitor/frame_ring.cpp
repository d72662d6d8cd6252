#include "monitor/frame_ring.h"

namespace monitor {

static_assert((RING_CAPACITY & (RING_CAPACITY - 1)) == 0,
              "a frame's slot is its number's low bits");

namespace {

can::TappedFrame ring[RING_CAPACITY];
uint8_t formats[RING_CAPACITY];
uint64_t endNumber = 0;  // the number the next frame gets

}  // namespace

void RingClear() {
  endNumber = 0;
}

void RingPush(const can::TappedFrame& frame, uint8_t bodyFormat) {
  ring[endNumber & (RING_CAPACITY - 1)] = frame;
  formats[endNumber & (RING_CAPACITY - 1)] = bodyFormat;
  ++endNumber;
}

uint64_t RingFirst() {
  return endNumber > RING_CAPACITY ? endNumber - RING_CAPACITY : 0;
}

uint64_t RingEnd() {
  return endNumber;
}

bool RingGet(uint64_t number, can::TappedFrame& frame, uint8_t* bodyFormat) {
  if (number < RingFirst() || number >= endNumber) return false;
  frame = ring[number & (RING_CAPACITY - 1)];
  if (bodyFormat) *bodyFormat = formats[number & (RING_CAPACITY - 1)];
  return true;
}

}  // namespace monitor
