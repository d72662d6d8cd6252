// The bus monitor's decoder. It keeps its own small set of DeviceNet numbers
// and reads every frame on its own: the link layer's parser works for the
// master's exchanges with what it learned about each slave, while the
// monitor has to say something about any frame, from the frame alone.
#include "monitor/decode.h"

#include <cstring>

namespace monitor {

namespace {

constexpr uint32_t ID_MASK = 0x7FF;
constexpr uint8_t NONE = 0xFF;  // no MAC ID, status, body format ... in the frame

// Message groups: bit 10 clear is group 1; 10 is group 2; 11 with bits 8..6
// not all set is group 3; the rest is group 4, whose IDs 0x7F0..0x7FF are
// invalid (bits 5..4 both set).
constexpr uint32_t G1_BIT = 0x400;
constexpr uint32_t G2_BIT = 0x200;
constexpr uint32_t G4_INVALID_BITS = 0x30;

// Group 1 message IDs: 0..11 explicit on a connection, 12..15 the slave's I/O.
constexpr uint8_t G1_FIRST_IO = 12;
constexpr uint8_t G1_POLL_RESPONSE = 15;

// Group 2 message IDs (the MAC ID field is the slave's in both directions).
// 0 bit-strobe command, 1 multicast poll command and 2 change of state or
// cyclic acknowledge are the master's other I/O messages.
constexpr uint8_t G2_EXPLICIT_RESPONSE = 3;    // the slave's explicit or unconnected response
constexpr uint8_t G2_EXPLICIT_REQUEST = 4;     // the master's connected explicit request
constexpr uint8_t G2_POLL_COMMAND = 5;         // the master's poll, change of state or cyclic I/O
constexpr uint8_t G2_UNCONNECTED_REQUEST = 6;  // Group 2 only unconnected request port
constexpr uint8_t G2_DUP_MAC = 7;              // Duplicate MAC ID check

// Group 3 message IDs of the unconnected message manager; 0..4 are explicit
// connections it opened.
constexpr uint8_t G3_UNCONNECTED_RESPONSE = 5;
constexpr uint8_t G3_UNCONNECTED_REQUEST = 6;

// Explicit header byte: fragment flag, transaction toggle, the other end's MAC ID.
constexpr uint8_t HDR_FRAG = 0x80;
constexpr uint8_t MAC_MASK = 0x3F;

// Fragmentation byte: type in bits 7..6, count in bits 5..0.
constexpr uint8_t FRAG_FIRST = 0;
constexpr uint8_t FRAG_ACK = 3;
constexpr uint8_t FRAG_COUNT_MASK = 0x3F;

// Service byte: bit 7 marks a response.
constexpr uint8_t SVC_RESPONSE = 0x80;
constexpr uint8_t SVC_CODE_MASK = 0x7F;
constexpr uint8_t SVC_GET_ATTRIBUTE_SINGLE = 0x0E;
constexpr uint8_t SVC_SET_ATTRIBUTE_SINGLE = 0x10;
constexpr uint8_t SVC_ERROR_RESPONSE = 0x14;
constexpr uint8_t SVC_OPEN = 0x4B;   // Allocate; in group 3 message 6 the UCMM Open
constexpr uint8_t SVC_CLOSE = 0x4C;  // Release; in group 3 message 6 the UCMM Close

// Duplicate MAC ID message: byte 0 bit 7 response, bits 6..0 physical port,
// vendor ID (2 bytes) and serial number (4 bytes), little-endian.
constexpr uint8_t DUP_MAC_LEN = 7;
constexpr uint8_t DUP_MAC_RESPONSE = 0x80;
constexpr uint8_t DUP_MAC_PORT_MASK = 0x7F;

// Open request data: requested body format (low nibble), then group select
// (high nibble) with the source message ID. Open response: body format,
// the message IDs, the connection instance (2 bytes). Close request: the
// connection instance.
constexpr uint8_t NIBBLE = 0x0F;
constexpr int OPEN_REQUEST_LEN = 2;
constexpr int OPEN_RESPONSE_LEN = 4;
constexpr int CLOSE_REQUEST_LEN = 2;

constexpr uint8_t MAX_LEN = 8;

struct Names {
  uint8_t code;
  const char* name;
};

// The common services of the object model.
constexpr Names SERVICES[] = {
    {0x01, "Get_Attributes_All"},
    {0x02, "Set_Attributes_All"},
    {0x03, "Get_Attribute_List"},
    {0x04, "Set_Attribute_List"},
    {0x05, "Reset"},
    {0x06, "Start"},
    {0x07, "Stop"},
    {0x08, "Create"},
    {0x09, "Delete"},
    {0x0A, "Multiple_Service_Packet"},
    {0x0D, "Apply_Attributes"},
    {0x0E, "Get_Attribute_Single"},
    {0x10, "Set_Attribute_Single"},
    {0x11, "Find_Next_Object_Instance"},
    {0x14, "Error_Response"},
    {0x15, "Restore"},
    {0x16, "Save"},
    {0x17, "No_Operation"},
    {0x18, "Get_Member"},
    {0x19, "Set_Member"},
    {0x1A, "Insert_Member"},
    {0x1B, "Remove_Member"},
    {0x4B, "Allocate_Master/Slave_Connection_Set"},
    {0x4C, "Release_Master/Slave_Connection_Set"},
};

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The frame's bytes, cut to eight whatever its length says.
struct Bytes {
  const uint8_t* data;
  uint8_t len;
};

void Clear(DecodedFrame& out) {
  std::memset(&out, 0, sizeof out);
  out.macId = NONE;
  out.headerMacId = NONE;
  out.ackStatus = NONE;
  out.bodyFormat = NONE;
  out.groupSelect = NONE;
  out.pathFormat = NONE;
  out.kind = FrameKind::Unknown;
}

// Group, message ID and MAC ID from the identifier; false for 0x7F0..0x7FF.
bool SplitIdentifier(uint32_t rawId, DecodedFrame& out) {
  const uint32_t id = rawId & ID_MASK;
  if (!(id & G1_BIT)) {
    out.group = 1;
    out.messageId = static_cast<uint8_t>((id >> 6) & 0x0F);
    out.macId = id & MAC_MASK;
  } else if (!(id & G2_BIT)) {
    out.group = 2;
    out.macId = (id >> 3) & MAC_MASK;
    out.messageId = id & 7;
  } else if (((id >> 6) & 7) != 7) {
    out.group = 3;
    out.messageId = (id >> 6) & 7;
    out.macId = id & MAC_MASK;
  } else if ((id & G4_INVALID_BITS) == G4_INVALID_BITS) {
    return false;
  } else {
    out.group = 4;
    out.messageId = id & 0x3F;
  }
  return true;
}

void DecodeDupMac(const Bytes& b, DecodedFrame& out) {
  if (b.len < DUP_MAC_LEN) return;
  out.kind = (b.data[0] & DUP_MAC_RESPONSE) ? FrameKind::DupMacResponse : FrameKind::DupMacRequest;
  out.physicalPort = b.data[0] & DUP_MAC_PORT_MASK;
  out.vendorId = Le16(&b.data[1]);
  out.serial = Le32(&b.data[3]);
}

// I/O data. With `fragmented` the first byte is the fragmentation byte (a
// message of a fragmented connection always has one, even when it is empty).
void DecodeIo(const Bytes& b, FrameKind kind, bool fragmented, DecodedFrame& out) {
  if (fragmented) {
    if (b.len < 1) return;
    out.fragmented = true;
    out.fragmentType = static_cast<uint8_t>(b.data[0] >> 6);
    out.fragmentCount = b.data[0] & FRAG_COUNT_MASK;
  }
  out.kind = kind;
}

// Which message IDs carry requests and which responses, where the group
// says so: group 2 and the unconnected message IDs of group 3. On the
// connections the UCMM opened (group 1, group 3 IDs 0..4) the IDs are the
// connection's own choice; there only a service byte tells, and a frame
// without one (a later fragment, an acknowledge) is placed by who moved it:
// the program is the master of every conversation it holds.
bool SentByClient(const can::TappedFrame& frame, const DecodedFrame& out) {
  if (out.group == 2) return out.messageId != G2_EXPLICIT_RESPONSE;
  if (out.group == 3 && out.messageId == G3_UNCONNECTED_REQUEST) return true;
  if (out.group == 3 && out.messageId == G3_UNCONNECTED_RESPONSE) return false;
  return frame.direction == can::TAP_SENT;
}

void DecodeResponse(const Bytes& b, uint8_t pos, DecodedFrame& out) {
  const uint8_t code = out.service & SVC_CODE_MASK;
  const bool unconnected = out.group == 3 && out.messageId == G3_UNCONNECTED_RESPONSE;
  if (code == SVC_ERROR_RESPONSE) {
    if (b.len - pos < 1) return;  // no general code: too short
    out.kind = FrameKind::ErrorResponse;
    out.generalError = b.data[pos];
    out.additionalError = b.len - pos >= 2 ? b.data[pos + 1] : NONE;
  } else if (unconnected && code == SVC_OPEN) {
    if (b.len - pos < OPEN_RESPONSE_LEN) return;
    out.kind = FrameKind::UcmmOpenResponse;
    out.bodyFormat = b.data[pos] & NIBBLE;
    out.instance = Le16(&b.data[pos + 2]);
  } else if (unconnected && code == SVC_CLOSE) {
    out.kind = FrameKind::UcmmCloseResponse;
  } else {
    out.kind = FrameKind::ExplicitResponse;
  }
}

// Class and instance widths in bytes by body format 0..3 (8/8, 8/16,
// 16/16, 16/8).
constexpr uint8_t CLASS_BYTES[] = {1, 1, 2, 2};
constexpr uint8_t INSTANCE_BYTES[] = {1, 2, 2, 1};

// The Group 2 only port (Allocate, Release) and the UCMM's own port are
// 8/8 by definition; on every other explicit connection the format was
// agreed when it was opened.
bool FixedFormatPort(const DecodedFrame& out) {
  return (out.group == 2 && out.messageId == G2_UNCONNECTED_REQUEST) ||
         (out.group == 3 && out.messageId == G3_UNCONNECTED_REQUEST);
}

// The request path in the connection's body format; 8/8, said to be
// assumed, where that format is not known.
void DecodeRequest(const Bytes& b, uint8_t pos, uint8_t bodyFormat, DecodedFrame& out) {
  const uint8_t code = out.service;
  if (out.group == 3 && out.messageId == G3_UNCONNECTED_REQUEST) {
    if (code == SVC_OPEN) {
      if (b.len - pos < OPEN_REQUEST_LEN) return;
      out.kind = FrameKind::UcmmOpen;
      out.bodyFormat = b.data[pos] & NIBBLE;
      out.groupSelect = static_cast<uint8_t>(b.data[pos + 1] >> 4);
      return;
    }
    if (code == SVC_CLOSE) {
      if (b.len - pos < CLOSE_REQUEST_LEN) return;
      out.kind = FrameKind::UcmmClose;
      out.instance = Le16(&b.data[pos]);
      return;
    }
  }
  out.kind = FrameKind::ExplicitRequest;
  uint8_t format = bodyFormat;
  bool assumed = false;
  if (FixedFormatPort(out)) {
    format = 0;
  } else if (format >= sizeof CLASS_BYTES) {
    format = 0;
    assumed = true;
  }
  const uint8_t classBytes = CLASS_BYTES[format];
  const uint8_t instanceBytes = INSTANCE_BYTES[format];
  if (b.len - pos < classBytes + instanceBytes) return;
  out.hasPath = true;
  out.pathFormat = format;
  out.pathFormatAssumed = assumed;
  out.classId = classBytes == 2 ? Le16(&b.data[pos]) : b.data[pos];
  pos = static_cast<uint8_t>(pos + classBytes);
  out.instance = instanceBytes == 2 ? Le16(&b.data[pos]) : b.data[pos];
  pos = static_cast<uint8_t>(pos + instanceBytes);
  if ((code == SVC_GET_ATTRIBUTE_SINGLE || code == SVC_SET_ATTRIBUTE_SINGLE) && b.len > pos) {
    out.attribute = b.data[pos];
  }
}

// Header byte, fragmentation byte (when flagged), service byte, then the
// path of a request or the error codes of an error response. A frame too
// short for what its header announces stays Unknown.
void DecodeExplicit(const can::TappedFrame& frame, const Bytes& b, uint8_t bodyFormat,
                    DecodedFrame& out) {
  if (b.len < 1) return;
  out.headerMacId = b.data[0] & MAC_MASK;
  uint8_t pos = 1;
  if (b.data[0] & HDR_FRAG) {
    if (b.len < 2) return;
    out.fragmented = true;
    out.fragmentType = static_cast<uint8_t>(b.data[1] >> 6);
    out.fragmentCount = b.data[1] & FRAG_COUNT_MASK;
    pos = 2;
    if (out.fragmentType == FRAG_ACK) {
      out.kind = FrameKind::FragmentAck;
      out.ackStatus = b.len > pos ? b.data[pos] : NONE;
      // The client acknowledges response fragments, the server request fragments.
      out.sourceIsMaster = SentByClient(frame, out);
      return;
    }
    if (out.fragmentType != FRAG_FIRST) {
      if (b.len <= pos) return;  // a fragment without a byte of the message
      out.kind = FrameKind::ExplicitFragment;
      out.sourceIsMaster = SentByClient(frame, out);
      return;
    }
  }
  if (b.len <= pos) return;  // no service byte
  out.service = b.data[pos++];
  out.sourceIsMaster = !(out.service & SVC_RESPONSE);
  if (out.service & SVC_RESPONSE) {
    DecodeResponse(b, pos, out);
  } else {
    DecodeRequest(b, pos, bodyFormat, out);
  }
}

void Decode(const can::TappedFrame& frame, bool fragmentedIo, uint8_t bodyFormat,
            DecodedFrame& out) {
  Clear(out);
  const Bytes b{frame.data, frame.len > MAX_LEN ? MAX_LEN : frame.len};
  if (frame.status) {
    // The word's bytes as the driver gives them, most significant first.
    out.kind = FrameKind::StatusMessage;
    for (uint8_t i = 0; i < 4; ++i) {
      out.statusWord = out.statusWord << 8 | (i < b.len ? b.data[i] : 0u);
    }
    return;
  }
  if (!SplitIdentifier(frame.id, out)) return;

  switch (out.group) {
    case 1:
      if (out.messageId < G1_FIRST_IO) {
        DecodeExplicit(frame, b, bodyFormat, out);
      } else {
        DecodeIo(b,
                 out.messageId == G1_POLL_RESPONSE ? FrameKind::PollResponse : FrameKind::OtherIo,
                 fragmentedIo, out);
      }
      break;
    case 2:
      switch (out.messageId) {
        case G2_EXPLICIT_RESPONSE:
        case G2_EXPLICIT_REQUEST:
        case G2_UNCONNECTED_REQUEST:
          DecodeExplicit(frame, b, bodyFormat, out);
          break;
        case G2_POLL_COMMAND:
          DecodeIo(b, FrameKind::PollCommand, fragmentedIo, out);
          break;
        case G2_DUP_MAC:
          DecodeDupMac(b, out);
          break;
        default:  // 0..2
          DecodeIo(b, FrameKind::OtherIo, fragmentedIo, out);
          break;
      }
      break;
    case 3:
      DecodeExplicit(frame, b, bodyFormat, out);
      break;
    default:
      break;  // group 4: the offline connection set and the like, no meaning here
  }
}

}  // namespace

void DecodeFrame(const can::TappedFrame& frame, DecodedFrame& out) {
  Decode(frame, false, FORMAT_UNKNOWN, out);
}

void DecodeFrameAs(const can::TappedFrame& frame, uint8_t bodyFormat, DecodedFrame& out) {
  Decode(frame, false, bodyFormat, out);
}

void DecodeFragmentedIoFrame(const can::TappedFrame& frame, DecodedFrame& out) {
  Decode(frame, true, FORMAT_UNKNOWN, out);
}

void ClearConnectionFormats(ConnectionFormats& formats) {
  std::memset(&formats, FORMAT_UNKNOWN, sizeof formats);
}

// Requests on the predefined set go to group 2 message 4 with the slave's
// MAC ID; on a connection the UCMM opened (group 1 messages 0..11, group 3
// messages 0..4) the identifier names the sender and the header the other
// end, and the request's sender is the client.
uint8_t ConnectionFormatOf(const can::TappedFrame& frame, const ConnectionFormats& formats) {
  DecodedFrame d;
  Decode(frame, false, FORMAT_UNKNOWN, d);
  if (d.kind != FrameKind::ExplicitRequest || d.headerMacId >= MAC_IDS || d.macId >= MAC_IDS) {
    return FORMAT_UNKNOWN;
  }
  if (d.group == 2) {
    return d.messageId == G2_EXPLICIT_REQUEST ? formats.predefined[d.macId] : FORMAT_UNKNOWN;
  }
  const bool opened = (d.group == 1 && d.messageId < G1_FIRST_IO) ||
                      (d.group == 3 && d.messageId < G3_UNCONNECTED_RESPONSE);
  return opened ? formats.opened[d.headerMacId][d.macId] : FORMAT_UNKNOWN;
}

void LearnConnectionFormat(const can::TappedFrame& frame, ConnectionFormats& formats) {
  DecodedFrame d;
  Decode(frame, false, FORMAT_UNKNOWN, d);
  if (d.kind == FrameKind::DupMacRequest && d.macId < MAC_IDS) {
    formats.predefined[d.macId] = FORMAT_UNKNOWN;
    for (int other = 0; other < MAC_IDS; ++other) {
      formats.opened[d.macId][other] = FORMAT_UNKNOWN;
      formats.opened[other][d.macId] = FORMAT_UNKNOWN;
    }
    return;
  }
  if (d.macId >= MAC_IDS || d.headerMacId >= MAC_IDS) return;
  if (d.kind == FrameKind::UcmmOpenResponse) {
    formats.opened[d.macId][d.headerMacId] = d.bodyFormat;
    return;
  }
  // The Allocate response: group 2 message 3, its first data byte the
  // body format of the explicit connection.
  const uint8_t pos = 2;
  if (d.kind == FrameKind::ExplicitResponse && d.group == 2 &&
      d.messageId == G2_EXPLICIT_RESPONSE && !d.fragmented &&
      d.service == (SVC_OPEN | SVC_RESPONSE) && frame.len > pos) {
    formats.predefined[d.macId] = frame.data[pos] & NIBBLE;
  }
}

const char* ServiceName(uint8_t service) {
  const uint8_t code = service & SVC_CODE_MASK;
  for (const Names& s : SERVICES) {
    if (s.code == code) return s.name;
  }
  return nullptr;
}

}  // namespace monitor
