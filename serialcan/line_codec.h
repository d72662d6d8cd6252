// The serial-line CAN protocol as text: ASCII lines ending in CR (an LF
// after it is ignored), a BEL for a refused command. The adapter library and the adapter emulator
// both speak it, from opposite ends, through these functions. Portable: no OS calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serialcan {

// "T" + 8 id digits + length digit + 16 data digits + 4 stamp digits.
constexpr size_t LINE_LENGTH_MAX = 30;

constexpr char CR = '\r';
constexpr char LF = '\n';
constexpr char BEL = '\a';

// Flag bits of the "F" reply.
constexpr uint8_t FLAG_RX_FIFO_FULL = 0x01;
constexpr uint8_t FLAG_TX_FIFO_FULL = 0x02;
constexpr uint8_t FLAG_ERROR_WARNING = 0x04;
constexpr uint8_t FLAG_DATA_OVERRUN = 0x08;
constexpr uint8_t FLAG_ERROR_PASSIVE = 0x20;
constexpr uint8_t FLAG_BUS_ERROR = 0x80;  // an error frame was seen: one is enough

struct Frame {
  uint32_t id;    // 11 bits, or 29 when extended
  bool extended;  // "T"/"R" instead of "t"/"r"
  bool remote;    // "r"/"R": no data digits
  uint8_t len;    // 0..8
  uint8_t data[8];
};

// Writes the frame's line ("t1232AABB" ...) followed by CR, with a
// four-digit hexadecimal millisecond stamp before the CR when `stamped`.
// Returns the number of characters written, 0 when `size` is too small or
// the frame is not valid (length above 8, id out of range).
size_t FormatFrame(const Frame& frame, bool stamped, uint16_t stampMs, char* out, size_t size);

// Parses one frame line without its CR. The stamp is optional: four extra
// hex digits after the data. False for anything that is not exactly a frame.
bool ParseFrame(const char* line, size_t length, Frame* frame, bool* stamped, uint16_t* stampMs);

// Cuts the byte stream from the other end into lines. LF is no part of the
// protocol and is skipped wherever it comes: some adapters end their lines
// with CR LF.
struct LineSplitter {
  char line[LINE_LENGTH_MAX + 1];  // the line so far, NUL-terminated when complete
  size_t length;
  bool overlong;  // the line grew past LINE_LENGTH_MAX: it is dropped at its CR
  bool complete;  // line/length hold a finished line; the next byte starts a new one
};

enum LineEvent {
  LINE_NONE,      // the byte was taken into the current line
  LINE_DONE,      // a CR ended a line: splitter.line/length hold it (possibly empty)
  LINE_BELL,      // a BEL: the other end refused the last command; a partial line is dropped
  LINE_OVERLONG,  // a CR ended a line that was too long; it is dropped
};

LineEvent FeedByte(LineSplitter& splitter, char byte);

// "Fxx" status reply (line without CR) -> its flag byte.
bool ParseStatusReply(const char* line, size_t length, uint8_t* flags);

// The status flags of the "F" command as the binding's status word
// (CAN_STATUS_* bits of can/can_driver.h). Bus off has no flag of its own:
// the adapter library infers it (see serialcan.h).
uint32_t DriverStatusFromFlags(uint8_t flags);

// The "Sn" digit for a bit-timing value of the binding's baud table
// (BTR0 in the high byte, BTR1 in the low byte); -1 for one it does not know.
int BitRateDigit(uint16_t bitTiming);

}  // namespace serialcan
