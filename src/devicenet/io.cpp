#include "devicenet/io.h"

#include <cstring>

#include "platform/platform.h"

namespace devicenet {

namespace {

constexpr uint8_t IO_FRAGMENT_DATA = 7;  // I/O bytes after the fragmentation byte
constexpr uint8_t DUP_MAC_RESPONSE_BIT = 0x80;

DnMessage outgoing;  // the message IoStep returns

DnMessage* BeginFrame(NodeRecord& node, uint8_t macId) {
  node.IoTick = platform::TickMs();
  std::memset(&outgoing, 0, sizeof outgoing);
  outgoing.Group = GROUP_2;
  outgoing.MacId = macId;
  outgoing.MsgId = node.IoMsgId;
  return &outgoing;
}

// After the last frame: wait for the answer the poll and the check expect.
void Finish(NodeRecord& node) {
  if (node.IoMsgId == G2_MSG_POLL_COMMAND || node.IoMsgId == G2_MSG_DUP_MAC_CHECK) {
    node.IoTick = platform::TickMs();
    node.IoState = IO_WAITING;
  } else {
    node.IoResult = RESULT_COMPLETED;
    node.IoState = IO_ENDED;
  }
}

const DnMessage* StartTransfer(NodeRecord& node, uint8_t macId) {
  node.IoOutSent = 0;
  node.IoFragCount = 0;
  node.IoResult = RESULT_FAILED;
  // Fragments of an older answer must not complete this poll's.
  if (node.IoMsgId == G2_MSG_POLL_COMMAND) node.Consume[G1_MSG_POLL_RESPONSE].AssemblyLen = 0;
  const uint16_t size = node.G2Size[node.IoMsgId & 7];
  if (node.IoOutLen > size) {
    node.IoState = IO_ENDED;
    return nullptr;
  }
  DnMessage* m = BeginFrame(node, macId);
  if (size <= 8) {
    std::memcpy(m->Data, node.IoOut, node.IoOutLen);
    m->Len = static_cast<uint8_t>(node.IoOutLen);
    Finish(node);
  } else if (node.IoOutLen <= IO_FRAGMENT_DATA) {
    // A short message of a fragmented connection: one frame, count 0x3F.
    m->Data[0] = FragmentByte(FRAG_FIRST, FRAG_COUNT_WHOLE);
    std::memcpy(&m->Data[1], node.IoOut, node.IoOutLen);
    m->Len = static_cast<uint8_t>(node.IoOutLen + 1);
    Finish(node);
  } else {
    m->Data[0] = FragmentByte(FRAG_FIRST, 0);
    std::memcpy(&m->Data[1], node.IoOut, IO_FRAGMENT_DATA);
    m->Len = 8;
    node.IoOutSent = IO_FRAGMENT_DATA;
    node.IoFragCount = 1;
    node.IoState = IO_SENDING;
  }
  return m;
}

const DnMessage* SendNextFragment(NodeRecord& node, uint8_t macId) {
  const uint16_t remaining = static_cast<uint16_t>(node.IoOutLen - node.IoOutSent);
  DnMessage* m = BeginFrame(node, macId);
  const bool last = remaining <= IO_FRAGMENT_DATA;
  const uint8_t n = last ? static_cast<uint8_t>(remaining) : IO_FRAGMENT_DATA;
  m->Data[0] = FragmentByte(last ? FRAG_LAST : FRAG_MIDDLE, node.IoFragCount);
  std::memcpy(&m->Data[1], &node.IoOut[node.IoOutSent], n);
  m->Len = static_cast<uint8_t>(n + 1);
  node.IoOutSent = static_cast<uint16_t>(node.IoOutSent + n);
  if (last) {
    Finish(node);
  } else {
    node.IoFragCount = (node.IoFragCount + 1) & FRAG_COUNT_MASK;
  }
  return m;
}

void Deliver(ConsumeSlot& slot, const uint8_t* data, uint16_t len) {
  std::memcpy(slot.Message, data, len);
  slot.MessageLen = len;
  slot.MessageCount += 1;
  slot.AssemblyLen = 0;
}

void EndPollIfWaiting(NodeRecord& node, bool poll) {
  if (poll && node.IoState == IO_WAITING && node.IoMsgId == G2_MSG_POLL_COMMAND) {
    node.IoResult = RESULT_COMPLETED;
    node.IoState = IO_ENDED;
  }
}

void ReceiveFragment(NodeRecord& node, ConsumeSlot& slot, const DnMessage& m, bool poll) {
  const uint8_t* data = &m.Data[m.Pos];
  const uint8_t n = PayloadLen(m);
  if (m.FragType == FRAG_FIRST) slot.AssemblyLen = 0;  // a first fragment starts afresh

  if (slot.AssemblyLen == 0) {
    if (m.FragType != FRAG_FIRST) return;
    if (m.FragCount == 0) {
      std::memcpy(slot.Assembly, data, n);
      slot.AssemblyLen = n;
      slot.NextFragCount = 1;
    } else if (m.FragCount == FRAG_COUNT_WHOLE) {
      Deliver(slot, data, n);
      EndPollIfWaiting(node, poll);
    }
    return;
  }
  if (m.FragCount != slot.NextFragCount || (m.FragType != FRAG_MIDDLE && m.FragType != FRAG_LAST) ||
      slot.AssemblyLen + n > MAX_BODY_LEN) {
    slot.AssemblyLen = 0;  // out of sequence or too long: drop it
    return;
  }
  std::memcpy(&slot.Assembly[slot.AssemblyLen], data, n);
  slot.AssemblyLen = static_cast<uint16_t>(slot.AssemblyLen + n);
  if (m.FragType == FRAG_LAST) {
    Deliver(slot, slot.Assembly, slot.AssemblyLen);
    EndPollIfWaiting(node, poll);
  } else {
    slot.NextFragCount = (slot.NextFragCount + 1) & FRAG_COUNT_MASK;
  }
}

}  // namespace

bool IoRequest(uint8_t macId, uint32_t timeoutMs, NodeTable& table, const uint8_t* data,
               size_t len) {
  NodeRecord& node = NodeOf(table, macId);
  if (len > MAX_BODY_LEN || len > node.G2Size[G2_MSG_POLL_COMMAND]) return false;
  node.IoOutLen = static_cast<uint16_t>(len);
  node.IoTimeout = timeoutMs;
  node.IoState = IO_IDLE;
  node.IoMsgId = G2_MSG_POLL_COMMAND;
  if (len > 0) std::memcpy(node.IoOut, data, len);
  node.IoState = IO_QUEUED;
  return true;
}

bool DupMacRequest(uint8_t macId, uint32_t timeoutMs, NodeTable& table, const uint8_t* data,
                   size_t len) {
  if (len != DUP_MAC_CHECK_LEN) return false;
  NodeRecord& node = NodeOf(table, macId);
  node.IoTimeout = timeoutMs;
  node.IoState = IO_IDLE;
  node.IoMsgId = G2_MSG_DUP_MAC_CHECK;
  std::memcpy(node.IoOut, data, DUP_MAC_CHECK_LEN);
  node.IoOutLen = DUP_MAC_CHECK_LEN;
  node.IoState = IO_QUEUED;
  return true;
}

const DnMessage* IoStep(NodeTable& table, uint8_t macId) {
  macId &= MAC_ID_MASK;
  NodeRecord& node = NodeOf(table, macId);
  switch (node.IoState) {
    case IO_QUEUED:
      return StartTransfer(node, macId);
    case IO_SENDING:
      return SendNextFragment(node, macId);
    case IO_WAITING:
      IoHoldStep(table, macId);
      return nullptr;
    default:
      return nullptr;
  }
}

void IoFrameTaken(NodeTable& table, uint8_t macId) {
  NodeRecord& node = NodeOf(table, macId);
  if (IoInProgress(node.IoState)) node.IoTick = platform::TickMs();
}

void IoFrameRefused(NodeTable& table, uint8_t macId) {
  NodeRecord& node = NodeOf(table, macId);
  if (!IoInProgress(node.IoState)) return;
  node.IoResult = RESULT_REFUSED;
  node.IoState = IO_ENDED;
}

void IoCancel(NodeTable& table, uint8_t macId) {
  NodeOf(table, macId).IoState = IO_IDLE;
}

bool IoInProgress(uint8_t state) {
  return state == IO_SENDING || state == IO_WAITING;
}

void IoHoldStep(NodeTable& table, uint8_t macId) {
  NodeRecord& node = NodeOf(table, macId);
  if (IoInProgress(node.IoState) && platform::TickMs() - node.IoTick > node.IoTimeout) {
    node.IoResult = RESULT_TIMEOUT;
    node.IoState = IO_ENDED;
  }
}

void IoReceive(NodeTable& table, uint8_t macId, const DnMessage* received) {
  macId &= MAC_ID_MASK;
  if (!received || (received->MacId & MAC_ID_MASK) != macId) return;
  const DnMessage& m = *received;
  NodeRecord& node = NodeOf(table, macId);

  if (m.Group == GROUP_2 && m.MsgId == G2_MSG_DUP_MAC_CHECK) {
    if (PayloadLen(m) >= DUP_MAC_CHECK_LEN && !(m.Data[m.Pos] & DUP_MAC_RESPONSE_BIT)) {
      ++node.OwnChecksHeard;
      return;
    }
    if (PayloadLen(m) >= DUP_MAC_CHECK_LEN && (m.Data[m.Pos] & DUP_MAC_RESPONSE_BIT) &&
        node.IoState == IO_WAITING && node.IoMsgId == G2_MSG_DUP_MAC_CHECK) {
      node.IoResult = RESULT_COMPLETED;
      node.IoState = IO_ENDED;
    }
    return;
  }
  if (m.Group != GROUP_1 || m.Kind != KIND_IO) return;

  ConsumeSlot& slot = node.Consume[m.MsgId & 0x0F];
  const bool poll = m.MsgId == G1_MSG_POLL_RESPONSE;
  if (node.G1Size[m.MsgId & 0x0F] <= 8) {
    Deliver(slot, &m.Data[m.Pos], PayloadLen(m));
    EndPollIfWaiting(node, poll);
    return;
  }
  ReceiveFragment(node, slot, m, poll);
}

bool IoTakeResult(uint8_t macId, NodeTable& table, uint8_t& outResult) {
  NodeRecord& node = NodeOf(table, macId);
  outResult = RESULT_FAILED;
  if (node.IoState != IO_ENDED) return false;
  outResult = node.IoResult;
  node.IoState = IO_IDLE;
  return true;
}

bool TakeConsumed(uint8_t macId, uint8_t g1MsgId, NodeTable& table, uint8_t* buf, size_t bufSize,
                  size_t& outLen) {
  ConsumeSlot& slot = NodeOf(table, macId).Consume[g1MsgId & 0x0F];
  if (slot.MessageCount == 0) return false;
  const size_t n = slot.MessageLen < bufSize ? slot.MessageLen : bufSize;
  if (n > 0) std::memcpy(buf, slot.Message, n);
  outLen = n;
  slot.MessageCount = 0;
  return true;
}

}  // namespace devicenet
