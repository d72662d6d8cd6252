#include "devicenet/codec.h"

#include <cstring>

#include "devicenet/node_table.h"

namespace devicenet {

namespace {

constexpr uint32_t ID_MASK = 0x7FF;
constexpr uint32_t G2_BASE = 0x400;
constexpr uint32_t G3_BASE = 0x600;
constexpr uint32_t G4_BASE = 0x7C0;

// Path widths (class, instance) of the message body formats.
struct BodyFormatLayout {
  uint8_t classBytes;
  uint8_t instanceBytes;
};
constexpr BodyFormatLayout BODY_FORMATS[4] = {{1, 1}, {1, 2}, {2, 2}, {2, 1}};

void Classify(DnMessage& m) {
  switch (m.Group) {
    case GROUP_1:
      if (m.MsgId >= G1_FIRST_IO_MSG) {
        m.Kind = KIND_IO;
      } else {
        m.Kind = KIND_EXPLICIT;
        m.Origin = GROUP_1;
      }
      break;
    case GROUP_2:
      if (m.MsgId == G2_MSG_POLL_COMMAND) {
        m.Kind = KIND_IO;
      } else if (m.MsgId == G2_MSG_EXPL_RESPONSE || m.MsgId == G2_MSG_EXPL_REQUEST ||
                 m.MsgId == G2_MSG_UNCONNECTED_REQ) {
        m.Kind = KIND_EXPLICIT;
        m.Origin = GROUP_2;
      }
      break;
    case GROUP_3:
      m.Kind = KIND_EXPLICIT;
      m.Origin = GROUP_3;
      break;
    default:
      break;
  }
}

uint16_t ReadLe(const uint8_t* p, uint8_t width) {
  return width == 2 ? static_cast<uint16_t>(p[0] | (p[1] << 8)) : static_cast<uint16_t>(p[0]);
}

bool ParseExplicit(DnMessage& m, const NodeTable& table) {
  if (m.Len < 1) return false;
  m.Frag = (m.Data[0] & HDR_FRAG_BIT) ? 1 : 0;
  m.Xid = (m.Data[0] & HDR_XID_BIT) ? 1 : 0;
  m.HdrMacId = m.Data[0] & MAC_ID_MASK;
  m.Pos = 1;
  // Looked up while IsResponse is still 0; only requests use it.
  uint8_t format = NodeOf(table, MessageNode(m)).BodyFormat;

  if (m.Frag) {
    if (m.Len < 2) return false;
    m.FragType = static_cast<uint8_t>(m.Data[1] >> 6);
    m.FragCount = m.Data[1] & FRAG_COUNT_MASK;
    m.Pos = 2;
  }
  if (m.Len < m.Pos + 1) return false;
  // Only a first fragment carries the service byte.
  if (m.Frag && m.FragType != FRAG_FIRST) return true;

  m.HasService = 1;
  m.IsResponse = (m.Data[m.Pos] & SVC_RESPONSE_BIT) ? 1 : 0;
  m.Service = m.Data[m.Pos] & 0x7F;
  m.Pos += 1;

  // Requests on the Group 2 Only port always use 8-bit class and instance.
  if (m.Origin == GROUP_2 && m.MsgId == G2_MSG_UNCONNECTED_REQ) format = 0;
  if (m.IsResponse) return true;
  // Open and Close through the unconnected message manager carry no path.
  if (m.Origin == GROUP_3 && m.MsgId == G3_MSG_UNCONNECTED_REQ &&
      (m.Service == SVC_ALLOCATE || m.Service == SVC_RELEASE)) {
    return true;
  }
  if (format >= 4) return true;

  const BodyFormatLayout layout = BODY_FORMATS[format];
  if (m.Len - m.Pos < layout.classBytes + layout.instanceBytes) return false;
  m.ClassId = ReadLe(&m.Data[m.Pos], layout.classBytes);
  m.InstanceId = ReadLe(&m.Data[m.Pos + layout.classBytes], layout.instanceBytes);
  m.HasPath = 1;
  m.Pos = static_cast<uint8_t>(m.Pos + layout.classBytes + layout.instanceBytes);
  return true;
}

bool ParseIo(DnMessage& m, const NodeTable& table) {
  const NodeRecord& node = NodeOf(table, m.MacId);
  const uint16_t size = m.Group == GROUP_1 ? node.G1Size[m.MsgId & 0x0F] : node.G2Size[m.MsgId & 7];
  m.Frag = size > 8 ? 1 : 0;
  if (m.Frag) {
    if (m.Len < 1) return false;
    m.FragType = static_cast<uint8_t>(m.Data[0] >> 6);
    m.FragCount = m.Data[0] & FRAG_COUNT_MASK;
    m.Pos = 1;
  }
  return true;
}

}  // namespace

bool DecodeFrame(const CanFrame& frame, DnMessage& message) {
  std::memset(&message, 0, sizeof message);
  message.Len = frame.Len;
  std::memcpy(message.Data, frame.Data, sizeof message.Data);
  const uint32_t id = frame.Id & ID_MASK;
  if (!(id & 0x400)) {
    message.Group = GROUP_1;
    message.MsgId = static_cast<uint8_t>((id >> 6) & 0x0F);
    message.MacId = id & MAC_ID_MASK;
  } else if (!(id & 0x200)) {
    message.Group = GROUP_2;
    message.MacId = (id >> 3) & MAC_ID_MASK;
    message.MsgId = id & 7;
  } else if (((id >> 6) & 7) != 7) {
    message.Group = GROUP_3;
    message.MsgId = (id >> 6) & 7;
    message.MacId = id & MAC_ID_MASK;
  } else if ((id & 0x30) == 0x30) {
    return false;  // 0x7F0..0x7FF are invalid
  } else {
    message.Group = GROUP_4;
    message.MsgId = id & 0x3F;
  }
  return true;
}

bool EncodeFrame(const DnMessage& message, CanFrame& frame) {
  std::memset(&frame, 0, sizeof frame);
  frame.Len = message.Len;
  std::memcpy(frame.Data, message.Data, sizeof frame.Data);
  const uint32_t mac = message.MacId & MAC_ID_MASK;
  switch (message.Group) {
    case GROUP_1:
      frame.Id = ((message.MsgId & 0x0Fu) << 6) | mac;
      break;
    case GROUP_2:
      frame.Id = G2_BASE | (mac << 3) | (message.MsgId & 7u);
      break;
    case GROUP_3:
      frame.Id = G3_BASE | ((message.MsgId & 7u) << 6) | mac;
      break;
    case GROUP_4:
      frame.Id = G4_BASE | (message.MsgId & 0x3Fu);
      break;
    default:
      break;
  }
  return true;
}

uint8_t MessageNode(const DnMessage& message) {
  if (message.Kind == KIND_EXPLICIT && message.Group != GROUP_2 && !message.IsResponse) {
    return message.HdrMacId & MAC_ID_MASK;
  }
  return message.MacId & MAC_ID_MASK;
}

bool ParseMessage(DnMessage& message, const NodeTable& table) {
  // Start the parse fields afresh so a message can be parsed again.
  message.Kind = KIND_NONE;
  message.Xid = message.HdrMacId = message.Frag = message.FragType = message.FragCount = 0;
  message.Pos = message.Origin = message.HasService = message.IsResponse = 0;
  message.Service = message.HasPath = 0;
  message.ClassId = message.InstanceId = 0;
  if (message.Len > 8) return false;  // never read past the eight data bytes

  Classify(message);
  switch (message.Kind) {
    case KIND_EXPLICIT:
      return ParseExplicit(message, table);
    case KIND_IO:
      return ParseIo(message, table);
    default:
      return true;
  }
}

}  // namespace devicenet
