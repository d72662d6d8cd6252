// The input language of the link layer's fuzz target, shared with the seed
// generator. An input is a sequence of operations: the low four bits of a
// byte pick the operation (codes past the last one are OP_TEACH), the bytes
// after it are its arguments; a missing argument reads as 0.
#pragma once

#include <cstdint>

namespace linkfuzz {

enum LinkOp : uint8_t {
  // A frame from the bus as the driver hands it over:
  // id (2 bytes, little-endian), len (0..11, a driver may claim more than 8),
  // then min(len, 8) data bytes.
  OP_FRAME = 0,
  // Queues an explicit request: mac, group (0..3), service, class (2 bytes),
  // instance (2 bytes), data length byte d, then d data bytes when d <= 32;
  // above 32 the data are (d - 32) * 5 pattern bytes (5..1115, some refused).
  OP_REQUEST = 1,
  // The slave answers its last request in one frame: mac, shape, the
  // fragment count when REPLY_RAW_COUNT, n (0..7), n payload bytes (as many
  // as fit the frame are used), the identifier (2 bytes) when REPLY_RAW_ID.
  // Shape bits 1..0: REPLY_WHOLE, REPLY_FIRST, REPLY_MIDDLE, REPLY_LAST; the
  // other REPLY_* flags spoil it.
  OP_REPLY = 2,
  // The slave sends middle response fragments in a row, each with six
  // pattern bytes and the next fragment count, and takes the master's
  // acknowledge after each: mac, count (count & 7 of them, or with
  // RUN_PAST_BUFFER enough to pass 1000 bytes).
  OP_REPLY_RUN = 3,
  // The slave acknowledges the master's last request fragment: mac, ctl,
  // status. ctl bit 0: wrong toggle, bit 1: no status byte, bit 2: wrong
  // count, bits 5..3: that many more acknowledges, one per further fragment.
  OP_ACK = 4,
  // Queues a poll command: mac, length byte p: p bytes when p <= 64, else
  // (p - 64) * 6 (some refused by the learned size).
  OP_POLL = 5,
  // The slave sends a group 1 I/O message in fragments: mac, ctl, count.
  // ctl bits 1..0: message 12 + n, bits 3..2: one of IO_FIRST, IO_MIDDLE,
  // IO_LAST, IO_WHOLE, bit 4: one frame whose fragment count is `count`;
  // otherwise (count & 7) + 1 frames of that type (with RUN_PAST_BUFFER
  // enough to pass 1000 bytes), each with the slave's next fragment count.
  // Seven pattern bytes follow the fragmentation byte.
  OP_IO = 6,
  // Queues a Duplicate MAC ID check probe: mac, length (its low four bits;
  // 7 is the valid one).
  OP_PROBE = 7,
  // Sets the master's own MAC ID: bits 6..0 the ID (64..127 are nonsense),
  // bit 7 claimed.
  OP_CLAIM = 8,
  // A Duplicate MAC ID check message arrives: ctl, then the MAC ID byte when
  // ctl bit 1 is set. ctl bit 0: a response, bit 1: for that MAC ID instead
  // of the own one, bit 2: one byte short.
  OP_DUP_CHECK = 9,
  // What the adapter does with the master's frames from now on: one of
  // ADAPTER_* (the byte modulo ADAPTER_MODE_COUNT).
  OP_ADAPTER = 10,
  // Advances the clock by a byte's worth of milliseconds (0 too), then runs a
  // pass without a frame. Queued requests, polls and probes go out on the
  // next pass, and a frame fed before it comes first, as in the tick.
  OP_CLOCK = 11,
  // Takes a result: which (bits 5..0 mac, bits 7..6 one of TAKE_*; 3 is
  // TAKE_CONSUMED too), the
  // buffer size in units of 4 bytes, and for TAKE_CONSUMED the group 1
  // message ID.
  OP_TAKE = 12,
  // Sets learned parameters directly, nonsense included: mac, body format,
  // explicit group, request message ID, response message ID, group 1 index,
  // group 1 size / 5, poll command size / 4.
  OP_TEACH = 13,
  OP_CODE_MASK = 0x0F,
};

// OP_REPLY shape.
constexpr uint8_t REPLY_WHOLE = 0;
constexpr uint8_t REPLY_FIRST = 1;
constexpr uint8_t REPLY_MIDDLE = 2;
constexpr uint8_t REPLY_LAST = 3;
constexpr uint8_t REPLY_WRONG_TOGGLE = 0x04;
constexpr uint8_t REPLY_ERROR = 0x08;          // an error response instead of the request's service
constexpr uint8_t REPLY_RAW_COUNT = 0x10;      // the fragment count follows as a byte
constexpr uint8_t REPLY_RAW_ID = 0x20;         // the identifier follows (2 bytes)
constexpr uint8_t REPLY_OTHER_SERVICE = 0x40;  // a response to some other service

// OP_ACK ctl.
constexpr uint8_t ACK_WRONG_TOGGLE = 0x01;
constexpr uint8_t ACK_NO_STATUS = 0x02;
constexpr uint8_t ACK_WRONG_COUNT = 0x04;
constexpr uint8_t ACK_REPEAT_SHIFT = 3;
constexpr uint8_t ACK_REPEAT_MASK = 7;

// OP_REPLY_RUN and OP_IO: a run long enough to pass 1000 bytes. Every run
// drives all nodes twice a frame, so long ones are asked for explicitly.
constexpr uint8_t RUN_PAST_BUFFER = 0xA5;  // not 0xFF, which mutations write often
constexpr int RUN_SHORT_MASK = 7;

// OP_IO ctl.
constexpr uint8_t IO_FIRST = 0 << 2;
constexpr uint8_t IO_MIDDLE = 1 << 2;
constexpr uint8_t IO_LAST = 2 << 2;
constexpr uint8_t IO_WHOLE = 3 << 2;  // a first fragment with count 0x3F
constexpr uint8_t IO_TYPE_MASK = 3 << 2;
constexpr uint8_t IO_RAW_COUNT = 0x10;

// OP_DUP_CHECK ctl.
constexpr uint8_t DUP_RESPONSE = 0x01;
constexpr uint8_t DUP_OTHER_MAC = 0x02;
constexpr uint8_t DUP_SHORT = 0x04;

// OP_CLAIM.
constexpr uint8_t CLAIMED = 0x80;

// OP_ADAPTER.
enum AdapterMode : uint8_t {
  ADAPTER_QUEUES = 0,
  ADAPTER_FULL = 1,
  ADAPTER_FAILS = 2,
  ADAPTER_MODE_COUNT = 3,
};

// OP_TAKE.
enum TakeKind : uint8_t {
  TAKE_EXPLICIT = 0,
  TAKE_IO = 1,
  TAKE_CONSUMED = 2,
};

}  // namespace linkfuzz
