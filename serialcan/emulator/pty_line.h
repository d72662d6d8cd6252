// The emulator's serial line: a pseudo-terminal in raw mode. The host (a
// program under Wine, or the driver library natively) opens the far end as
// its COM port.
#pragma once

#include <cstddef>

namespace serialcan {
namespace emu {

struct PtyLine {
  int master;    // our end; non-blocking
  int keepOpen;  // the far end, held open so that our end never hangs up
  char farPath[64];
};

// Opens a pseudo-terminal pair in raw mode. False (with errno set) on failure.
bool OpenPtyLine(PtyLine& line);

void ClosePtyLine(PtyLine& line);

// Points `linkPath` at the far end, replacing what is there. False on failure.
bool LinkFarEnd(const PtyLine& line, const char* linkPath);

// Writes all of `bytes`, waiting for room while the host reads; what the host
// leaves unread for `patienceMs` is dropped, as a real adapter's line would
// drop it. Returns the bytes written.
size_t WriteLine(const PtyLine& line, const char* bytes, size_t count, int patienceMs);

}  // namespace emu
}  // namespace serialcan
