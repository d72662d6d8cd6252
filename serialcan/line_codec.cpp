#include "line_codec.h"

namespace serialcan {

namespace {

constexpr uint32_t STD_ID_MAX = 0x7FF;
constexpr uint32_t EXT_ID_MAX = 0x1FFFFFFF;
constexpr size_t STD_ID_DIGITS = 3;
constexpr size_t EXT_ID_DIGITS = 8;
constexpr size_t STAMP_DIGITS = 4;
constexpr uint8_t DATA_MAX = 8;

// The binding's status bits (can/can_driver.h); this folder is not linked
// with the program, so they are repeated here.
constexpr uint32_t STATUS_OVERRUN = 0x02;
constexpr uint32_t STATUS_BUS_WARNING = 0x04;
constexpr uint32_t STATUS_BUS_HEAVY = 0x08;

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// `count` hex digits at `text` as a number; false on any other character.
bool ParseHex(const char* text, size_t count, uint32_t* value) {
  uint32_t v = 0;
  for (size_t i = 0; i < count; ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0) return false;
    v = v << 4 | static_cast<uint32_t>(digit);
  }
  *value = v;
  return true;
}

char* PutHex(char* out, uint32_t value, size_t digits) {
  for (size_t i = digits; i > 0; --i) {
    out[i - 1] = HEX_DIGITS[value & 0xF];
    value >>= 4;
  }
  return out + digits;
}

}  // namespace

size_t FormatFrame(const Frame& frame, bool stamped, uint16_t stampMs, char* out, size_t size) {
  if (frame.len > DATA_MAX) return 0;
  if (frame.id > (frame.extended ? EXT_ID_MAX : STD_ID_MAX)) return 0;
  const size_t idDigits = frame.extended ? EXT_ID_DIGITS : STD_ID_DIGITS;
  const size_t dataDigits = frame.remote ? 0 : 2u * frame.len;
  const size_t total = 1 + idDigits + 1 + dataDigits + (stamped ? STAMP_DIGITS : 0) + 1;
  if (!out || size < total) return 0;

  char kind = frame.remote ? 'r' : 't';
  if (frame.extended) kind = frame.remote ? 'R' : 'T';
  char* p = out;
  *p++ = kind;
  p = PutHex(p, frame.id, idDigits);
  *p++ = HEX_DIGITS[frame.len];
  for (size_t i = 0; i < dataDigits / 2; ++i) p = PutHex(p, frame.data[i], 2);
  if (stamped) p = PutHex(p, stampMs, STAMP_DIGITS);
  *p++ = CR;
  return static_cast<size_t>(p - out);
}

bool ParseFrame(const char* line, size_t length, Frame* frame, bool* stamped, uint16_t* stampMs) {
  if (!line || !frame || length == 0) return false;
  Frame f{};
  switch (line[0]) {
    case 't':
      break;
    case 'r':
      f.remote = true;
      break;
    case 'T':
      f.extended = true;
      break;
    case 'R':
      f.extended = f.remote = true;
      break;
    default:
      return false;
  }
  const size_t idDigits = f.extended ? EXT_ID_DIGITS : STD_ID_DIGITS;
  if (length < 1 + idDigits + 1) return false;
  uint32_t id = 0;
  if (!ParseHex(line + 1, idDigits, &id)) return false;
  if (id > (f.extended ? EXT_ID_MAX : STD_ID_MAX)) return false;
  f.id = id;

  const char* p = line + 1 + idDigits;
  const int len = HexValue(*p++);
  if (len < 0 || len > DATA_MAX) return false;
  f.len = static_cast<uint8_t>(len);
  const size_t dataDigits = f.remote ? 0 : 2u * f.len;

  const size_t rest = length - static_cast<size_t>(p - line);
  if (rest != dataDigits && rest != dataDigits + STAMP_DIGITS) return false;
  for (size_t i = 0; i < dataDigits / 2; ++i) {
    uint32_t byte = 0;
    if (!ParseHex(p, 2, &byte)) return false;
    f.data[i] = static_cast<uint8_t>(byte);
    p += 2;
  }
  uint32_t stamp = 0;
  const bool hasStamp = rest != dataDigits;
  if (hasStamp && !ParseHex(p, STAMP_DIGITS, &stamp)) return false;

  *frame = f;
  if (stamped) *stamped = hasStamp;
  if (stampMs) *stampMs = static_cast<uint16_t>(stamp);
  return true;
}

LineEvent FeedByte(LineSplitter& splitter, char byte) {
  if (byte == LF) return LINE_NONE;
  if (splitter.complete) {
    splitter.length = 0;
    splitter.complete = false;
  }
  if (byte == BEL) {
    // The answer to a command is a lone BEL; anything before it on the
    // line cannot be a whole line any more.
    splitter.length = 0;
    splitter.overlong = false;
    splitter.line[0] = '\0';
    return LINE_BELL;
  }
  if (byte == CR) {
    if (splitter.overlong) {
      splitter.length = 0;
      splitter.overlong = false;
      splitter.line[0] = '\0';
      return LINE_OVERLONG;
    }
    splitter.line[splitter.length] = '\0';
    splitter.complete = true;
    return LINE_DONE;
  }
  if (splitter.length >= LINE_LENGTH_MAX) {
    splitter.overlong = true;
  } else if (!splitter.overlong) {
    splitter.line[splitter.length++] = byte;
  }
  return LINE_NONE;
}

bool ParseStatusReply(const char* line, size_t length, uint8_t* flags) {
  if (!line || length != 3 || line[0] != 'F') return false;
  uint32_t value = 0;
  if (!ParseHex(line + 1, 2, &value)) return false;
  if (flags) *flags = static_cast<uint8_t>(value);
  return true;
}

uint32_t DriverStatusFromFlags(uint8_t flags) {
  uint32_t status = 0;
  // Either way a received frame was lost before the program read it.
  if (flags & (FLAG_RX_FIFO_FULL | FLAG_DATA_OVERRUN)) status |= STATUS_OVERRUN;
  // A bus error is one error frame, which a noise burst makes on a good bus:
  // worth a warning, no reason to stop. Bits 1 (transmit FIFO full), 4
  // (wake-up) and 6 (arbitration lost) say nothing about the bus state.
  if (flags & (FLAG_ERROR_WARNING | FLAG_BUS_ERROR)) status |= STATUS_BUS_WARNING;
  if (flags & FLAG_ERROR_PASSIVE) status |= STATUS_BUS_HEAVY;
  return status;
}

int BitRateDigit(uint16_t bitTiming) {
  switch (bitTiming) {
    case 0x031C:
      return 4;  // 125 kbit/s
    case 0x011C:
      return 5;  // 250 kbit/s
    case 0x001C:
      return 6;  // 500 kbit/s
    default:
      return -1;
  }
}

}  // namespace serialcan
