// How long the answer to a frame the master sent will probably be. The wait
// after a request then sleeps until that answer can be complete on the wire,
// instead of watching the bus from the moment the shortest frame could be.
// Where the length is known (a poll response's size, a fragment's
// acknowledge) it is used; otherwise the last answer of the same kind teaches
// it, starting from the shortest answer of that kind.
#pragma once

#include <cstdint>

#include "devicenet/codec.h"
#include "devicenet/node_table.h"

namespace devicenet {

// The answer a sent frame awaits.
struct AwaitedAnswer {
  bool Valid;     // false: the frame awaits no answer of a known kind
  uint8_t Node;   // MAC ID of the slave that answers
  uint16_t Kind;  // what the answer is; learned lengths are kept per kind
  uint8_t Len;    // data bytes of the answer's first frame, 0..8
};

// The answer the parsed frame `sent` awaits, going by the node's sizes in
// `table` and what earlier answers taught.
AwaitedAnswer ExpectAnswer(const DnMessage& sent, const NodeTable& table);

// A frame came from a slave while `awaited` was due: when it is from the
// awaited node, its length is what that kind of answer is taught, and the
// answer is no longer awaited.
void NoteAnswer(AwaitedAnswer& awaited, const DnMessage& received);

// Forgets what the answers taught.
void ForgetAnswerLengths();

}  // namespace devicenet
