// CAN identifier codec: 11-bit identifiers to DeviceNet message group, MAC ID
// and message ID and back, and parsing of the explicit header, fragmentation
// byte and request path into a decoded message.
#pragma once

#include <cstdint>

namespace devicenet {

struct NodeTable;

// The program's own frame record. All eight data bytes are copied in both
// directions whatever Len says.
struct CanFrame {
  uint32_t Id;  // 11-bit identifier
  uint8_t Len;  // 0..8
  uint8_t Data[8];
};

enum MessageKind : uint8_t { KIND_NONE = 0, KIND_IO = 1, KIND_EXPLICIT = 2 };

// A decoded message. DecodeFrame fills the first block, ParseMessage the rest.
struct DnMessage {
  uint8_t MacId;  // MAC ID field of the identifier (0 for group 4)
  uint8_t Group;  // 1..4
  uint8_t MsgId;  // message ID within the group
  uint8_t Len;
  uint8_t Data[8];
  uint8_t Kind;        // MessageKind
  uint8_t Xid;         // explicit header transaction toggle
  uint8_t HdrMacId;    // explicit header MAC ID (the other party's)
  uint8_t Frag;        // 1 = fragment
  uint8_t FragType;    // FRAG_FIRST, FRAG_MIDDLE, FRAG_LAST, FRAG_ACK
  uint8_t FragCount;   // 0..63
  uint8_t Pos;         // index in Data of the first byte not yet parsed
  uint8_t Origin;      // explicit: group 1..3 the message belongs to; 0 otherwise
  uint8_t HasService;  // the service byte was parsed
  uint8_t IsResponse;  // service byte bit 7
  uint8_t Service;     // service byte bits 6..0
  uint8_t HasPath;     // class and instance were parsed
  uint16_t ClassId;
  uint16_t InstanceId;
};

// Fills the message from the frame's identifier and data. Returns false for
// the invalid identifiers 0x7F0..0x7FF.
bool DecodeFrame(const CanFrame& frame, DnMessage& message);

// Builds the frame from MacId, Group, MsgId, Len and Data. Always true.
bool EncodeFrame(const DnMessage& message, CanFrame& frame);

// Classifies a decoded message and parses its explicit header, fragmentation
// byte, service and path. The body format and I/O sizes come from the node
// record the message concerns. Returns false when the data are too short for
// what the header announces: the frame is then dropped.
bool ParseMessage(DnMessage& message, const NodeTable& table);

// Number of data bytes from Pos to the end of a parsed message.
inline uint8_t PayloadLen(const DnMessage& m) {
  const uint8_t end = m.Len < 8 ? m.Len : 8;
  return end > m.Pos ? static_cast<uint8_t>(end - m.Pos) : 0;
}

// The fragmentation byte: type in bits 7..6, count in bits 5..0.
inline uint8_t FragmentByte(uint8_t type, uint8_t count) {
  return static_cast<uint8_t>((type << 6) | (count & 0x3F));
}

// MAC ID (0..63) of the slave a message concerns: the header's MAC ID for an
// explicit request in group 1 or 3 (the sender is the master), else the
// identifier's.
uint8_t MessageNode(const DnMessage& message);

}  // namespace devicenet
