#include "devicenet/tracking.h"

namespace devicenet {

namespace {

uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Stores the answer to a Get_Attribute_Single of a connection size.
void StoreConnectionSize(NodeRecord& node, uint16_t size) {
  if (node.PendAttribute == ATTR_PRODUCED_CONN_SIZE) {
    switch (node.PendInstance) {
      case CONN_INSTANCE_POLL:
        node.G1Size[G1_MSG_POLL_RESPONSE] = size;
        break;
      case CONN_INSTANCE_BIT_STROBE:
        node.G1Size[G1_MSG_BIT_STROBE] = size;
        break;
      case CONN_INSTANCE_COS_CYCLIC:
        node.G1Size[G1_MSG_COS_CYCLIC] = size;
        break;
      default:
        break;
    }
  } else if (node.PendAttribute == ATTR_CONSUMED_CONN_SIZE &&
             node.PendInstance == CONN_INSTANCE_POLL) {
    node.G2Size[G2_MSG_POLL_COMMAND] = size;
  }
}

// Returns false when tracking of this message stops here.
bool TrackResponse(const DnMessage& m, NodeRecord& node, const uint8_t* data, uint8_t n) {
  if (m.Service == SVC_ALLOCATE) {
    if (m.Origin == GROUP_2) {
      // Allocate response: the granted message body format.
      if (n < 1) {
        node.PendAttr = 0;
        return false;
      }
      node.BodyFormat = data[0] & 0x0F;
    } else if (m.Origin == GROUP_3 && m.MsgId == G3_MSG_UNCONNECTED_RESP) {
      // Open response: body format, response message ID, connection instance.
      if (n < 4) {
        node.PendAttr = 0;
        return false;
      }
      node.BodyFormat = data[0] & 0x0F;
      node.RespMsgId = data[1] & 0x0F;
      node.ConnInstance = ReadU16(&data[2]);
    }
  }
  if (node.PendAttr) {
    if (m.Service == node.PendService && m.Service == SVC_GET_ATTRIBUTE_SINGLE &&
        node.PendClass == CLASS_CONNECTION && node.PendInstance <= CONN_INSTANCE_COS_CYCLIC &&
        n >= 2) {
      StoreConnectionSize(node, ReadU16(data));
    }
    node.PendAttr = 0;
  }
  return true;
}

}  // namespace

void TrackConnection(const DnMessage& m, NodeTable& table) {
  if (m.Kind != KIND_EXPLICIT) return;
  NodeRecord& node = NodeOf(table, MessageNode(m));
  const uint8_t* data = &m.Data[m.Pos < 8 ? m.Pos : 8];
  const uint8_t n = PayloadLen(m);

  if (m.HasService && m.Origin != 0 && m.IsResponse) {
    if (!TrackResponse(m, node, data, n)) return;
  }
  if (m.IsResponse) return;

  // The master's Open request: its source message ID beside the group select.
  if (m.Origin == GROUP_3 && m.MsgId == G3_MSG_UNCONNECTED_REQ && m.HasService &&
      m.Service == SVC_ALLOCATE && n >= 2) {
    node.ReqMsgId = data[1] & 0x0F;
  }
  // Any request (fragments without a service byte included) replaces the
  // pending attribute request.
  if (m.Origin >= GROUP_1 && m.Origin <= GROUP_3) {
    node.PendAttr = 0;
    if (m.HasService && m.HasPath && n >= 1 &&
        (m.Service == SVC_GET_ATTRIBUTE_SINGLE || m.Service == SVC_SET_ATTRIBUTE_SINGLE)) {
      node.PendAttr = 1;
      node.PendService = m.Service;
      node.PendClass = m.ClassId;
      node.PendInstance = m.InstanceId;
      node.PendAttribute = data[0];
    }
  }
}

}  // namespace devicenet
