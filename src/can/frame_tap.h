// Every frame the adapter sends or receives, as the binding moves it: the
// place where the bus monitor and the capture file see the bus, whatever
// the adapter. The tap runs on the thread that calls CanRead/CanWrite (the
// program's one thread) and must be quick: it runs inside the exchange.
#pragma once

#include <cstdint>

namespace can {

constexpr uint8_t TAP_RECEIVED = 0;
constexpr uint8_t TAP_SENT = 1;

struct TappedFrame {
  uint64_t timeUs;    // microseconds on a clock that never wraps (platform::TickUs, extended)
  uint32_t id;        // 11-bit CAN identifier
  uint8_t len;        // 0..8
  uint8_t direction;  // TAP_RECEIVED or TAP_SENT
  uint8_t status;     // 1: a driver status message (not a bus frame); data[0..3] the status word
  uint8_t baudIndex;  // the adapter's rate when it moved: 0 = 125, 1 = 250, 2 = 500 kbit/s
  uint8_t data[8];
};

// Called with every frame CanWrite queued (accepted by the driver) and every
// frame or status message CanRead returned. Null: no tap.
using FrameTapFn = void (*)(const TappedFrame& frame);
void SetFrameTap(FrameTapFn tap);

// The binding's side. The tap now set, null when none: the binding looks at
// it before anything else, so that a frame costs one compare without a tap.
extern FrameTapFn g_FrameTap;

// Stamps `frame` with the time and the adapter's rate and hands it to the
// tap. Only the binding calls it, and only while g_FrameTap is set.
void RunFrameTap(TappedFrame& frame);

// Now, on the clock of TappedFrame::timeUs.
uint64_t TapClockUs();

}  // namespace can
