#include "devicenet/answer_length.h"

#include <cstring>

#include "devicenet/protocol.h"

namespace devicenet {

namespace {

// The kinds of answer. Explicit responses are told apart by the request's
// service and by the port it went to, since the Allocate of the Group 2 only
// port and the Open of the UCMM share a service code and answer differently.
constexpr uint16_t KIND_POLL_RESPONSE = 0;
constexpr uint16_t KIND_FRAGMENT_ACK = 1;  // the slave acknowledges our fragment
// The slave's next fragment after our acknowledge of fragment count n, + n:
// a response read again comes in the same fragments, its short last one
// included.
constexpr uint16_t KIND_NEXT_FRAGMENT = 0x40;
constexpr uint16_t KIND_CONNECTED_RESPONSE = 0x100;  // + service
constexpr uint16_t KIND_GROUP_2_PORT_RESPONSE = 0x180;
constexpr uint16_t KIND_UCMM_RESPONSE = 0x200;
constexpr int KIND_COUNT = 0x280;

// Explicit header, fragmentation byte and acknowledge status.
constexpr uint8_t FRAGMENT_ACK_LEN = 3;
// Explicit header and service byte: the shortest response there is.
constexpr uint8_t SHORTEST_RESPONSE_LEN = 2;
constexpr uint8_t FULL_FRAME_LEN = 8;
// The length each kind of answer taught, plus one: 0 where none came yet.
uint8_t learnedPlusOne[KIND_COUNT];

uint8_t LearnedOr(uint16_t kind, uint8_t fallback) {
  return learnedPlusOne[kind] != 0 ? static_cast<uint8_t>(learnedPlusOne[kind] - 1) : fallback;
}

uint16_t ResponseKind(const DnMessage& request) {
  uint16_t port = KIND_CONNECTED_RESPONSE;
  if (request.Group == GROUP_2 && request.MsgId == G2_MSG_UNCONNECTED_REQ) {
    port = KIND_GROUP_2_PORT_RESPONSE;
  } else if (request.Group == GROUP_3 && request.MsgId == G3_MSG_UNCONNECTED_REQ) {
    port = KIND_UCMM_RESPONSE;
  }
  return static_cast<uint16_t>(port + (request.Service & 0x7F));
}

}  // namespace

AwaitedAnswer ExpectAnswer(const DnMessage& sent, const NodeTable& table) {
  AwaitedAnswer awaited{};
  awaited.Node = MessageNode(sent);
  if (sent.Group == GROUP_2 && sent.MsgId == G2_MSG_POLL_COMMAND) {
    // The first frame of the response; a fragmented one starts with a full frame.
    const uint16_t size = NodeOf(table, awaited.Node).G1Size[G1_MSG_POLL_RESPONSE];
    awaited.Valid = true;
    awaited.Kind = KIND_POLL_RESPONSE;
    awaited.Len = size > FULL_FRAME_LEN ? FULL_FRAME_LEN : static_cast<uint8_t>(size);
    return awaited;
  }
  if (sent.Kind != KIND_EXPLICIT || sent.IsResponse) return awaited;
  awaited.Valid = true;
  if (sent.Frag && sent.FragType == FRAG_ACK) {
    awaited.Kind = static_cast<uint16_t>(KIND_NEXT_FRAGMENT + (sent.FragCount & FRAG_COUNT_MASK));
    awaited.Len = LearnedOr(awaited.Kind, FULL_FRAME_LEN);
  } else if (sent.Frag) {
    awaited.Kind = KIND_FRAGMENT_ACK;
    awaited.Len = FRAGMENT_ACK_LEN;
  } else {
    awaited.Kind = ResponseKind(sent);
    awaited.Len = LearnedOr(awaited.Kind, SHORTEST_RESPONSE_LEN);
  }
  return awaited;
}

void NoteAnswer(AwaitedAnswer& awaited, const DnMessage& received) {
  if (!awaited.Valid || MessageNode(received) != awaited.Node) return;
  awaited.Valid = false;
  // A known length is not learned: an answer of another length is some
  // other frame of the node's.
  if (awaited.Kind == KIND_POLL_RESPONSE || awaited.Kind == KIND_FRAGMENT_ACK) return;
  const uint8_t len = received.Len <= FULL_FRAME_LEN ? received.Len : FULL_FRAME_LEN;
  learnedPlusOne[awaited.Kind] = static_cast<uint8_t>(len + 1);
}

void ForgetAnswerLengths() {
  std::memset(learnedPlusOne, 0, sizeof learnedPlusOne);
}

}  // namespace devicenet
