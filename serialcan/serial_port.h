// The COM port under the adapter library: one port per process, opened by
// its number, read without waiting, written with a short bound. A Win32
// and a POSIX file implement it; the adapter logic knows no OS.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serialcan {

enum PortOpenResult {
  PORT_OPENED,
  PORT_MISSING,  // no such port (or it refuses its line settings)
  PORT_BUSY,     // in use by someone else, or access denied
};

// Opens COM port `number` (1..16; see serialcan.h for where it leads) at
// 115200 baud 8N1 without flow control, and discards what waits in it.
PortOpenResult PortOpen(unsigned number);
void PortClose();

// Takes what has arrived, at most `size` bytes, without waiting: the number
// of bytes (0 when nothing waits), or -1 when the port has failed.
int PortRead(char* data, size_t size);

enum PortWriteResult {
  PORT_WRITTEN,
  PORT_FULL,    // nothing could go out now
  PORT_FAILED,  // the port is gone, or part of the line is stuck
};
// Writes all `size` bytes or none (as far as the port allows): a line cut in
// two would garble the next one.
PortWriteResult PortWrite(const char* data, size_t size);

// The millisecond tick and a sleep of about one millisecond, for the bounded
// waits for the adapter's answers.
uint32_t PortTickMs();
void PortSleep1Ms();

}  // namespace serialcan
