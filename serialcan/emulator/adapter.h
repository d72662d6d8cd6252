// The adapter's side of the serial-line CAN protocol, in front of the
// simulated bus: commands from the host come in as bytes, answers and the
// frames the simulated adapter hears go out as lines. The simulator linked
// into the same program is the adapter's CAN controller.
#pragma once

#include <cstddef>
#include <cstdint>

#include "line_codec.h"

namespace serialcan {
namespace emu {

// What goes back to the host, collected until the caller writes it out.
struct Output {
  char bytes[4096];
  size_t length;
};

// Faults of an adapter, for tests. Counters count from the adapter's reset.
struct Faults {
  uint32_t loseEvery;    // every n-th answer (CR, "z", "Fxx" or BEL) is lost; 0: none
  uint32_t refuseEvery;  // every n-th frame is refused (BEL) and not sent; 0: none
  bool crlf;             // lines end in CR LF
  bool busErrorFlag;     // "F" replies carry bit 7 (bus error), as after one error frame
};

struct Adapter {
  LineSplitter splitter;
  uint16_t bitTiming;  // chosen by "Sn"; 0 before that
  bool open;
  bool stamps;  // "Z1": received frames carry a millisecond stamp
  Faults faults;
  uint32_t answers;  // answers given or lost
  uint32_t frames;   // frames from the host
};

// Fresh state: closed, no bit rate chosen, no stamps, no faults.
void ResetAdapter(Adapter& adapter);

// Takes bytes from the host and appends the answer of every command they
// complete: CR for done, "z"/"Z" CR for a frame sent, BEL for a command that
// is unknown, malformed or not allowed now (O twice, S while open, a frame
// while closed). An empty line gets no answer.
void FeedHost(Adapter& adapter, const char* bytes, size_t count, Output& out);

// Appends a line for each frame the simulated adapter received since the
// last call, while `out` has room for another line. Status messages of the
// simulator are no bus frames and are skipped. Returns the lines appended.
int ForwardReceived(Adapter& adapter, Output& out);

// The "F" reply's flag byte for a status word of the binding. Bus off has
// no flag: a controller shows the warning and error passive it passed on
// the way, and the bus errors that took it there.
uint8_t FlagsFromDriverStatus(uint32_t status);

}  // namespace emu
}  // namespace serialcan
