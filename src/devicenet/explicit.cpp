#include "devicenet/explicit.h"

#include <cstring>

#include "platform/platform.h"

namespace devicenet {

namespace {

constexpr uint8_t UNFRAGMENTED_MAX_BODY = 7;  // a body up to 7 bytes fits one frame
constexpr uint8_t REQ_FRAGMENT_BODY = 6;      // body bytes in one request fragment
constexpr uint8_t ACK_LEN = 3;
constexpr uint8_t OPEN_GROUP_SELECT_1 = 0;
constexpr uint8_t OPEN_GROUP_SELECT_3 = 3;

// Path bytes (class, instance) of the body formats 0..3.
constexpr uint8_t CLASS_BYTES[4] = {1, 1, 2, 2};
constexpr uint8_t INSTANCE_BYTES[4] = {1, 2, 2, 1};
constexpr uint8_t NO_PATH = 0xFF;  // PathFormat: the request names no class or instance

uint16_t PathIdMax(uint8_t bytes) {
  return bytes == 2 ? 0xFFFF : 0xFF;
}

// The body format a request names its class and instance in, as ExplRequest
// chooses it (group 0 resolved already), or NO_PATH.
uint8_t PathFormat(const NodeRecord& node, uint8_t group, uint8_t service, uint16_t instanceId) {
  switch (group) {
    case GROUP_1:
      return node.BodyFormat;
    case GROUP_2:
      // The Group 2 Only port reads every request as 8/8, whatever format
      // the slave granted for its connections.
      if (service == SVC_ALLOCATE || (service == SVC_RELEASE && node.G2Allocated)) return 0;
      return node.BodyFormat;
    case GROUP_3:
      if ((service == SVC_ALLOCATE || service == SVC_RELEASE) && instanceId == 0) return NO_PATH;
      return node.BodyFormat;
    default:
      return NO_PATH;
  }
}

DnMessage outgoing;  // the message ExplStep returns

bool TimedOut(const NodeRecord& node) {
  return platform::TickMs() - node.ExplTick > node.ExplTimeout;
}

void End(NodeRecord& node, uint8_t result) {
  node.ExplResult = result;
  node.ExplState = EXPL_ENDED;
}

// Starts the outgoing message with the node's identifier and header byte.
DnMessage* BeginFrame(const NodeTable& table, NodeRecord& node, uint8_t macId, bool fragment) {
  std::memset(&outgoing, 0, sizeof outgoing);
  FillExplHeader(outgoing, table, macId);
  if (fragment) outgoing.Data[0] |= HDR_FRAG_BIT;
  if (node.Toggle) outgoing.Data[0] |= HDR_XID_BIT;
  node.ExplTick = platform::TickMs();
  return &outgoing;
}

const DnMessage* SendAck(const NodeTable& table, NodeRecord& node, uint8_t macId, uint8_t status) {
  DnMessage* m = BeginFrame(table, node, macId, true);
  m->Data[1] = FragmentByte(FRAG_ACK, node.ExplFragCount);
  m->Data[2] = status;
  m->Len = ACK_LEN;
  return m;
}

const DnMessage* SendRequestStart(const NodeTable& table, NodeRecord& node, uint8_t macId) {
  node.ReqSent = 0;
  node.RespLen = 0;
  node.ExplFragCount = 0;
  node.ExplResult = RESULT_FAILED;
  if (node.ReqLen <= UNFRAGMENTED_MAX_BODY) {
    DnMessage* m = BeginFrame(table, node, macId, false);
    std::memcpy(&m->Data[1], node.ReqBody, node.ReqLen);
    m->Len = static_cast<uint8_t>(node.ReqLen + 1);
    node.ExplState = EXPL_WAIT_RESPONSE;
    return m;
  }
  DnMessage* m = BeginFrame(table, node, macId, true);
  m->Data[1] = FragmentByte(FRAG_FIRST, 0);
  std::memcpy(&m->Data[2], node.ReqBody, REQ_FRAGMENT_BODY);
  m->Len = 8;
  node.ReqSent = REQ_FRAGMENT_BODY;
  node.ExplState = EXPL_WAIT_REQ_ACK;
  return m;
}

const DnMessage* SendNextFragment(const NodeTable& table, NodeRecord& node, uint8_t macId) {
  const uint16_t remaining = static_cast<uint16_t>(node.ReqLen - node.ReqSent);
  DnMessage* m = BeginFrame(table, node, macId, true);
  const bool last = remaining <= REQ_FRAGMENT_BODY;
  const uint8_t count = last ? static_cast<uint8_t>(remaining) : REQ_FRAGMENT_BODY;
  m->Data[1] = FragmentByte(last ? FRAG_LAST : FRAG_MIDDLE, node.ExplFragCount);
  std::memcpy(&m->Data[2], &node.ReqBody[node.ReqSent], count);
  m->Len = static_cast<uint8_t>(count + 2);
  node.ReqSent = static_cast<uint16_t>(node.ReqSent + count);
  node.ExplState = EXPL_WAIT_REQ_ACK;
  return m;
}

bool Matches(const NodeTable& table, const NodeRecord& node, const DnMessage& m) {
  return m.Origin == node.ExplRespGroup && m.Group == node.ExplTxGroup &&
         m.MsgId == node.ExplRespMsgId && m.HdrMacId == table.OwnMacId;
}

// A response to another request (one that timed out, answered late) shares
// the identifiers and, every second request, the toggle: only the request's
// own service with the response bit, or an error response, answers it.
// Fragments after the first carry no service and are judged by the state.
bool AnswersRequest(const NodeRecord& node, const DnMessage& m) {
  if (!m.HasService) return true;
  const uint8_t requested = node.ReqBody[0] & ~SVC_RESPONSE_BIT;
  return m.IsResponse && (m.Service == requested || m.Service == SVC_ERROR_RESPONSE);
}

void OnRequestAck(NodeRecord& node, const DnMessage& m) {
  if (m.Xid != node.Toggle || !m.Frag || m.FragCount != node.ExplFragCount ||
      m.FragType != FRAG_ACK) {
    End(node, RESULT_FAILED);
    return;
  }
  if (PayloadLen(m) == 0) return;  // no status byte: ignore
  if (m.Data[m.Pos] != ACK_SUCCESS) {
    End(node, RESULT_FAILED);
    return;
  }
  node.ExplFragCount = (node.ExplFragCount + 1) & FRAG_COUNT_MASK;
  node.ExplState = node.ReqSent < node.ReqLen ? EXPL_SEND_FRAGMENT : EXPL_WAIT_RESPONSE;
}

void CopyResponseBytes(NodeRecord& node, const DnMessage& m) {
  const uint8_t n = PayloadLen(m);
  std::memcpy(&node.RespData[node.RespLen], &m.Data[m.Pos], n);
  node.RespLen = static_cast<uint16_t>(node.RespLen + n);
}

void OnResponse(NodeRecord& node, const DnMessage& m) {
  if (m.Xid != node.Toggle) {
    End(node, RESULT_FAILED);
    return;
  }
  node.RespService = m.Service;
  if (!m.Frag) {
    CopyResponseBytes(node, m);
    End(node, RESULT_COMPLETED);
    return;
  }
  if (m.FragCount != 0 || m.FragType != FRAG_FIRST) {
    End(node, RESULT_FAILED);
    return;
  }
  CopyResponseBytes(node, m);
  node.ExplState = EXPL_ACK_FRAGMENT;
}

void OnResponseFragment(NodeRecord& node, const DnMessage& m) {
  if (m.Xid != node.Toggle || !m.Frag || m.FragCount != node.ExplFragCount ||
      (m.FragType != FRAG_MIDDLE && m.FragType != FRAG_LAST)) {
    End(node, RESULT_FAILED);
    return;
  }
  if (node.RespLen + PayloadLen(m) > MAX_BODY_LEN) {
    node.ExplState = EXPL_REFUSE;
    return;
  }
  CopyResponseBytes(node, m);
  node.ExplState = m.FragType == FRAG_LAST ? EXPL_ACK_LAST : EXPL_ACK_FRAGMENT;
}

}  // namespace

void FillExplHeader(DnMessage& out, const NodeTable& table, uint8_t macId) {
  const NodeRecord& node = NodeOf(table, macId);
  const uint8_t slave = macId & MAC_ID_MASK;
  const uint8_t own = table.OwnMacId & MAC_ID_MASK;
  out.Group = node.ExplTxGroup;
  out.MsgId = node.ExplReqMsgId;
  const bool group2 = node.ExplTxGroup == GROUP_2;
  out.MacId = group2 ? slave : own;
  out.HdrMacId = group2 ? own : slave;
  out.Data[0] = static_cast<uint8_t>((out.Data[0] & ~MAC_ID_MASK) | out.HdrMacId);
}

bool ExplRequest(uint8_t macId, uint8_t group, uint32_t timeoutMs, NodeTable& table,
                 uint8_t service, uint16_t classId, uint16_t instanceId, const uint8_t* data,
                 size_t dataLen) {
  if (dataLen > MAX_REQUEST_DATA_LEN) return false;
  NodeRecord& node = NodeOf(table, macId);
  if (group == 0) group = instanceId == 0 ? GROUP_3 : node.ExplGroup;
  const uint8_t format = PathFormat(node, group, service, instanceId);
  const bool withPath = format != NO_PATH;
  // An ID wider than the format carries would go out cut, naming another
  // object: refused before anything changes.
  if (withPath && format <= 3 &&
      (classId > PathIdMax(CLASS_BYTES[format]) ||
       instanceId > PathIdMax(INSTANCE_BYTES[format]))) {
    return false;
  }

  node.ExplTxGroup = group;
  node.ExplTimeout = timeoutMs;
  node.Toggle ^= 1;
  node.ExplState = EXPL_IDLE;

  switch (group) {
    case GROUP_1:
      node.ExplRespGroup = GROUP_1;
      node.ExplReqMsgId = node.ReqMsgId;
      node.ExplRespMsgId = node.RespMsgId;
      break;
    case GROUP_2:
      node.ExplRespGroup = GROUP_2;
      node.ExplReqMsgId = G2_MSG_EXPL_REQUEST;
      node.ExplRespMsgId = G2_MSG_EXPL_RESPONSE;
      if (service == SVC_ALLOCATE) {
        node.G2Allocated = 1;
        node.ExplReqMsgId = G2_MSG_UNCONNECTED_REQ;
      } else if (service == SVC_RELEASE && node.G2Allocated) {
        node.ExplReqMsgId = G2_MSG_UNCONNECTED_REQ;
      }
      break;
    case GROUP_3:
      node.ExplRespGroup = GROUP_3;
      node.ExplReqMsgId = node.ReqMsgId;
      node.ExplRespMsgId = node.RespMsgId;
      if (service == SVC_ALLOCATE && instanceId == 0) {
        // An Open: the group select (high nibble of data byte 1) names the
        // group the new connection's requests will use. An Allocate on an
        // open connection names the DeviceNet object and carries the
        // allocator's MAC ID there instead.
        if (dataLen < 2) return false;
        const uint8_t groupSelect = data[1] >> 4;
        if (groupSelect == OPEN_GROUP_SELECT_1) {
          node.ExplGroup = GROUP_1;
        } else if (groupSelect == OPEN_GROUP_SELECT_3) {
          node.ExplGroup = GROUP_3;
        } else {
          return false;
        }
      }
      if (service == SVC_ALLOCATE || service == SVC_RELEASE) {
        node.G2Allocated = 0;
        if (instanceId == 0) {
          node.ExplReqMsgId = G3_MSG_UNCONNECTED_REQ;
          node.ExplRespMsgId = G3_MSG_UNCONNECTED_RESP;
        }
      }
      break;
    default:
      return false;
  }
  // A body format the slave should never have granted: no path could be sent.
  if (withPath && format > 3) return false;

  size_t len = 0;
  node.ReqBody[len++] = service;
  if (withPath) {
    node.ReqBody[len++] = static_cast<uint8_t>(classId);
    if (CLASS_BYTES[format] == 2) node.ReqBody[len++] = static_cast<uint8_t>(classId >> 8);
    node.ReqBody[len++] = static_cast<uint8_t>(instanceId);
    if (INSTANCE_BYTES[format] == 2) node.ReqBody[len++] = static_cast<uint8_t>(instanceId >> 8);
  }
  if (dataLen > 0) std::memcpy(&node.ReqBody[len], data, dataLen);
  node.ReqLen = static_cast<uint16_t>(len + dataLen);
  node.ExplState = EXPL_QUEUED;
  return true;
}

bool ExplPathLimits(const NodeTable& table, uint8_t macId, uint8_t group, uint8_t service,
                    uint16_t instanceId, uint16_t& classMax, uint16_t& instanceMax) {
  const NodeRecord& node = NodeOf(table, macId);
  if (group == 0) group = instanceId == 0 ? GROUP_3 : node.ExplGroup;
  const uint8_t format = PathFormat(node, group, service, instanceId);
  if (format > 3) return false;
  classMax = PathIdMax(CLASS_BYTES[format]);
  instanceMax = PathIdMax(INSTANCE_BYTES[format]);
  return true;
}

const DnMessage* ExplStep(NodeTable& table, uint8_t macId, const DnMessage* received) {
  macId &= MAC_ID_MASK;
  if (received && (received->MacId & MAC_ID_MASK) != macId) return nullptr;
  NodeRecord& node = NodeOf(table, macId);

  switch (node.ExplState) {
    case EXPL_QUEUED:
      return SendRequestStart(table, node, macId);

    case EXPL_SEND_FRAGMENT:
      return SendNextFragment(table, node, macId);

    case EXPL_WAIT_REQ_ACK:
      if (!received) {
        if (TimedOut(node)) End(node, RESULT_TIMEOUT);
      } else if (Matches(table, node, *received)) {
        OnRequestAck(node, *received);
      }
      return nullptr;

    case EXPL_WAIT_RESPONSE:
      if (!received) {
        if (TimedOut(node)) End(node, RESULT_TIMEOUT);
        return nullptr;
      }
      node.ReqSent = 0;
      node.ExplFragCount = 0;
      node.RespLen = 0;
      if (Matches(table, node, *received) && AnswersRequest(node, *received)) {
        OnResponse(node, *received);
      }
      return nullptr;

    case EXPL_ACK_FRAGMENT: {
      const DnMessage* ack = SendAck(table, node, macId, ACK_SUCCESS);
      node.ExplFragCount = (node.ExplFragCount + 1) & FRAG_COUNT_MASK;
      node.ExplState = EXPL_WAIT_FRAGMENT;
      return ack;
    }

    case EXPL_ACK_LAST: {
      const DnMessage* ack = SendAck(table, node, macId, ACK_SUCCESS);
      End(node, RESULT_COMPLETED);
      return ack;
    }

    case EXPL_REFUSE: {
      const DnMessage* ack = SendAck(table, node, macId, ACK_TOO_MUCH_DATA);
      node.ExplState = EXPL_ENDED;  // the result stays "failed"
      return ack;
    }

    case EXPL_WAIT_FRAGMENT:
      if (!received) {
        if (TimedOut(node)) End(node, RESULT_TIMEOUT);
      } else if (Matches(table, node, *received)) {
        OnResponseFragment(node, *received);
      }
      return nullptr;

    default:  // idle or ended
      return nullptr;
  }
}

void ExplFrameTaken(NodeTable& table, uint8_t macId) {
  NodeOf(table, macId).ExplTick = platform::TickMs();
}

void ExplFrameRefused(NodeTable& table, uint8_t macId) {
  NodeRecord& node = NodeOf(table, macId);
  if (node.ExplState != EXPL_IDLE && node.ExplState != EXPL_ENDED) End(node, RESULT_REFUSED);
}

bool ExplTakeResponse(uint8_t macId, NodeTable& table, uint8_t* buf, size_t bufSize, size_t& outLen,
                      uint8_t& outResult, uint8_t& outService) {
  outLen = 0;
  outResult = RESULT_FAILED;
  outService = 0;
  NodeRecord& node = NodeOf(table, macId);
  if (node.ExplState != EXPL_ENDED) return false;
  const size_t n = node.RespLen < bufSize ? node.RespLen : bufSize;
  if (n > 0) std::memcpy(buf, node.RespData, n);
  outLen = n;
  outResult = node.ExplResult;
  outService = node.RespService;
  node.ExplState = EXPL_IDLE;
  return true;
}

}  // namespace devicenet
