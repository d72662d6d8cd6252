// Drives the link layer through the receive dispatch with operations the
// input chooses (link_ops.h): explicit requests answered whole or in
// fragments, acknowledges of the master's own fragments, polls with the sizes
// the tracking learned, I/O fragments, probes, a claimed own MAC ID with
// Duplicate MAC ID checks arriving for it, an adapter whose queue is full or
// fails, time passing, and raw frames of any shape. Nothing may crash or
// touch memory outside a record or a caller's buffer; taken results stay
// within their buffers and ranges, and a check for the claimed own MAC ID
// ends the claim and every exchange under it, and nothing else does.
//
// A small peer per slave answers the master's last request with the
// identifiers, toggle and fragment counts it expects, so that mutations
// reach the deep states instead of dying at the identifier check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "devicenet/devicenet.h"
#include "link_ops.h"
#include "platform/platform.h"

using namespace devicenet;
using namespace linkfuzz;

namespace {

constexpr uint32_t EXPL_TIMEOUT_MS = 50;
constexpr uint32_t IO_TIMEOUT_MS = 30;
constexpr uint8_t DUP_MAC_RESPONSE_BIT = 0x80;
constexpr uint8_t RESP_FRAGMENT_BODY = 6;  // payload of a response fragment
constexpr uint8_t IO_FRAGMENT_BODY = 7;    // payload of an I/O fragment

NodeTable table;  // about 2.3 MB: not on the stack

// What the slave knows of the master's last explicit frame to it.
struct Peer {
  uint8_t Group;  // 0 until the master sent one
  uint8_t MsgId;
  uint8_t Xid;
  uint8_t Service;    // of the last request that carried one
  uint8_t ReqCount;   // count of the last request fragment
  uint8_t RespCount;  // count of the last response fragment sent
  uint8_t IoCount[4];
};
Peer peers[NODE_COUNT];

uint8_t adapterMode;

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Input {
  const uint8_t* data;
  size_t size;
  uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  uint16_t Word() {
    const uint8_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }
};

// The slave learns from the master's requests and acknowledges which
// identifiers, toggle and counts its answers need.
void NotePeer(const DnMessage& m) {
  if (m.Kind != KIND_EXPLICIT || m.IsResponse) return;
  if (m.Frag && m.FragType == FRAG_ACK) return;  // acknowledges one of our fragments
  Peer& peer = peers[MessageNode(m)];
  peer.Group = m.Group;
  peer.MsgId = m.MsgId;
  peer.Xid = m.Xid;
  if (m.HasService) {
    peer.Service = m.Service;
    peer.RespCount = 0;
  }
  if (m.Frag) peer.ReqCount = m.FragCount;
}

// The send hook: the adapter takes the frame, or its queue is full, or it
// fails. A frame it takes is shown to the tracking, as SendFrame does.
SendResult Adapter(const CanFrame& frame) {
  Check(frame.Len <= 8);
  if (adapterMode == ADAPTER_FULL) return SEND_QUEUE_FULL;
  if (adapterMode == ADAPTER_FAILS) return SEND_FAILED;
  DnMessage seen{};
  if (DecodeFrame(frame, seen) && ParseMessage(seen, table)) {
    TrackConnection(seen, table);
    NotePeer(seen);
  }
  return SEND_QUEUED;
}

// Offers a received message to the own MAC ID's watch and holds it to its
// contract: it sends nothing; a check message for the claimed ID ends the
// claim and every explicit exchange and poll, and nothing else does.
void Watch(const DnMessage& m) {
  const bool forOwn = table.OwnMacClaimed && m.Group == GROUP_2 &&
                      m.MsgId == G2_MSG_DUP_MAC_CHECK &&
                      (m.MacId & MAC_ID_MASK) == (table.OwnMacId & MAC_ID_MASK) &&
                      PayloadLen(m) >= DUP_MAC_CHECK_LEN;
  const uint8_t claimed = table.OwnMacClaimed;
  const uint8_t lost = table.OwnMacLost;
  WatchOwnMac(table, m);
  if (!forOwn) {
    Check(table.OwnMacClaimed == claimed && table.OwnMacLost == lost);
    return;
  }
  Check(!table.OwnMacClaimed && table.OwnMacLost && table.Rival.Seen);
  for (const NodeRecord& node : table.Node) {
    Check(node.ExplState == EXPL_IDLE || node.ExplState == EXPL_ENDED);
    Check(node.IoMsgId != G2_MSG_POLL_COMMAND ||
          (node.IoState != IO_QUEUED && !IoInProgress(node.IoState)));
  }
}

// One read of the receive tick: the frame goes to the watch, the tracking
// and every node; then a pass without a frame, as the tick makes.
void Feed(const CanFrame& frame) {
  DnMessage m{};
  if (DecodeFrame(frame, m) && ParseMessage(m, table)) {
    Watch(m);
    TrackConnection(m, table);
    DriveNodes(table, &m);
  }
  DriveNodes(table, nullptr);
}

void FeedMessage(const DnMessage& m) {
  CanFrame frame{};
  EncodeFrame(m, frame);
  Feed(frame);
}

// Identifier of the slave's answer to the master's last request.
DnMessage ReplyHeader(uint8_t mac) {
  const Peer& peer = peers[mac];
  const NodeRecord& node = NodeOf(table, mac);
  DnMessage m{};
  m.MacId = mac;
  m.Group = peer.Group ? peer.Group : GROUP_2;
  switch (m.Group) {
    case GROUP_1:
      m.MsgId = node.RespMsgId & 0x0F;
      break;
    case GROUP_3:
      m.MsgId = peer.MsgId == G3_MSG_UNCONNECTED_REQ ? G3_MSG_UNCONNECTED_RESP
                                                     : static_cast<uint8_t>(node.RespMsgId & 7);
      break;
    default:
      m.Group = GROUP_2;
      m.MsgId = G2_MSG_EXPL_RESPONSE;
      break;
  }
  m.Data[0] = static_cast<uint8_t>((table.OwnMacId & MAC_ID_MASK) | (peer.Xid ? HDR_XID_BIT : 0));
  return m;
}

void QueueRequest(Input& in) {
  const uint8_t mac = in.Byte();
  const uint8_t group = in.Byte() & 3;
  const uint8_t service = in.Byte();
  const uint16_t classId = in.Word();
  const uint16_t instance = in.Word();
  const uint8_t d = in.Byte();
  const size_t len = d <= 32 ? d : static_cast<size_t>(d - 32) * 5;
  // Exactly as large as announced, so that a read past it is caught.
  std::unique_ptr<uint8_t[]> data(new uint8_t[len]);
  for (size_t i = 0; i < len; ++i) data[i] = d <= 32 ? in.Byte() : static_cast<uint8_t>(i);
  ExplRequest(mac, group, EXPL_TIMEOUT_MS, table, service, classId, instance, data.get(), len);
}

void Reply(Input& in) {
  const uint8_t mac = in.Byte() & MAC_ID_MASK;
  const uint8_t shape = in.Byte();
  Peer& peer = peers[mac];
  DnMessage m = ReplyHeader(mac);
  const uint8_t kind = shape & 3;
  if (kind == REPLY_FIRST) {
    peer.RespCount = 0;
  } else if (kind != REPLY_WHOLE) {
    peer.RespCount = (peer.RespCount + 1) & FRAG_COUNT_MASK;
  }
  const uint8_t count = (shape & REPLY_RAW_COUNT) ? in.Byte() : peer.RespCount;
  if (shape & REPLY_WRONG_TOGGLE) m.Data[0] ^= HDR_XID_BIT;
  uint8_t pos = 1;
  if (kind != REPLY_WHOLE) {
    static const uint8_t FRAG_TYPE[4] = {FRAG_FIRST, FRAG_FIRST, FRAG_MIDDLE, FRAG_LAST};
    m.Data[0] |= HDR_FRAG_BIT;
    m.Data[pos++] = FragmentByte(FRAG_TYPE[kind], count);
  }
  if (kind == REPLY_WHOLE || kind == REPLY_FIRST) {
    uint8_t service = peer.Service;
    if (shape & REPLY_ERROR) service = SVC_ERROR_RESPONSE;
    if (shape & REPLY_OTHER_SERVICE) service ^= 1;
    m.Data[pos++] = static_cast<uint8_t>(SVC_RESPONSE_BIT | service);
  }
  const uint8_t n = in.Byte() & 7;
  for (uint8_t i = 0; i < n; ++i) {
    const uint8_t b = in.Byte();
    if (pos < 8) m.Data[pos++] = b;
  }
  m.Len = pos;
  CanFrame frame{};
  EncodeFrame(m, frame);
  if (shape & REPLY_RAW_ID) frame.Id = in.Word();
  Feed(frame);
}

void ReplyRun(Input& in) {
  const uint8_t mac = in.Byte() & MAC_ID_MASK;
  const uint8_t c = in.Byte();
  const int count =
      c == RUN_PAST_BUFFER ? MAX_BODY_LEN / RESP_FRAGMENT_BODY + 1 : c & RUN_SHORT_MASK;
  Peer& peer = peers[mac];
  for (int i = 0; i < count; ++i) {
    DnMessage m = ReplyHeader(mac);
    peer.RespCount = (peer.RespCount + 1) & FRAG_COUNT_MASK;
    m.Data[0] |= HDR_FRAG_BIT;
    m.Data[1] = FragmentByte(FRAG_MIDDLE, peer.RespCount);
    for (int k = 0; k < RESP_FRAGMENT_BODY; ++k) m.Data[2 + k] = static_cast<uint8_t>(i + k);
    m.Len = 2 + RESP_FRAGMENT_BODY;
    FeedMessage(m);
  }
}

void Acknowledge(Input& in) {
  const uint8_t mac = in.Byte() & MAC_ID_MASK;
  const uint8_t ctl = in.Byte();
  const uint8_t status = in.Byte();
  const int repeats = (ctl >> ACK_REPEAT_SHIFT) & ACK_REPEAT_MASK;
  for (int r = 0; r <= repeats; ++r) {
    DnMessage m = ReplyHeader(mac);
    const uint8_t count = peers[mac].ReqCount + ((ctl & ACK_WRONG_COUNT) ? 1 : 0);
    if (ctl & ACK_WRONG_TOGGLE) m.Data[0] ^= HDR_XID_BIT;
    m.Data[0] |= HDR_FRAG_BIT;
    m.Data[1] = FragmentByte(FRAG_ACK, count);
    m.Data[2] = status;
    m.Len = (ctl & ACK_NO_STATUS) ? 2 : 3;
    FeedMessage(m);
  }
}

void Poll(Input& in) {
  const uint8_t mac = in.Byte();
  const uint8_t p = in.Byte();
  const size_t len = p <= 64 ? p : static_cast<size_t>(p - 64) * 6;
  std::unique_ptr<uint8_t[]> data(new uint8_t[len]);
  for (size_t i = 0; i < len; ++i) data[i] = static_cast<uint8_t>(i);
  IoRequest(mac, IO_TIMEOUT_MS, table, data.get(), len);
}

void SendIo(Input& in) {
  const uint8_t mac = in.Byte() & MAC_ID_MASK;
  const uint8_t ctl = in.Byte();
  const uint8_t count = in.Byte();
  const uint8_t shape = ctl & IO_TYPE_MASK;
  uint8_t& next = peers[mac].IoCount[ctl & 3];
  int frames = 1;
  if (!(ctl & IO_RAW_COUNT)) {
    frames = count == RUN_PAST_BUFFER ? MAX_BODY_LEN / IO_FRAGMENT_BODY + 1
                                      : (count & RUN_SHORT_MASK) + 1;
  }
  for (int f = 0; f < frames; ++f) {
    uint8_t fragCount;
    if (ctl & IO_RAW_COUNT) {
      fragCount = count;
    } else if (shape == IO_FIRST) {
      next = 0;
      fragCount = 0;
    } else if (shape == IO_WHOLE) {
      fragCount = FRAG_COUNT_WHOLE;
    } else {
      next = (next + 1) & FRAG_COUNT_MASK;
      fragCount = next;
    }
    DnMessage m{};
    m.Group = GROUP_1;
    m.MsgId = static_cast<uint8_t>(G1_FIRST_IO_MSG + (ctl & 3));
    m.MacId = mac;
    m.Data[0] = FragmentByte(shape == IO_WHOLE ? FRAG_FIRST : shape >> 2, fragCount);
    for (uint8_t k = 0; k < IO_FRAGMENT_BODY; ++k) m.Data[1 + k] = static_cast<uint8_t>(f + k);
    m.Len = 1 + IO_FRAGMENT_BODY;
    FeedMessage(m);
  }
}

void Probe(Input& in) {
  const uint8_t mac = in.Byte();
  const size_t len = in.Byte() & 15;
  std::unique_ptr<uint8_t[]> data(new uint8_t[len]);
  for (size_t i = 0; i < len; ++i) data[i] = static_cast<uint8_t>(i);
  DupMacRequest(mac, IO_TIMEOUT_MS, table, data.get(), len);
}

void DupCheck(Input& in) {
  const uint8_t ctl = in.Byte();
  const uint8_t mac = (ctl & DUP_OTHER_MAC) ? in.Byte() : table.OwnMacId;
  DnMessage m{};
  m.Group = GROUP_2;
  m.MsgId = G2_MSG_DUP_MAC_CHECK;
  m.MacId = mac & MAC_ID_MASK;
  m.Data[0] = (ctl & DUP_RESPONSE) ? DUP_MAC_RESPONSE_BIT : 0;
  for (uint8_t k = 1; k < DUP_MAC_CHECK_LEN; ++k) m.Data[k] = k;  // vendor and serial number
  m.Len = static_cast<uint8_t>(DUP_MAC_CHECK_LEN - ((ctl & DUP_SHORT) ? 1 : 0));
  FeedMessage(m);
}

void RawFrame(Input& in) {
  CanFrame frame{};
  frame.Id = in.Word();
  frame.Len = in.Byte() % 12;  // a driver may claim more than 8 bytes
  for (uint8_t i = 0; i < frame.Len && i < 8; ++i) frame.Data[i] = in.Byte();
  Feed(frame);
}

void Take(Input& in) {
  const uint8_t which = in.Byte();
  const uint8_t mac = which & MAC_ID_MASK;
  const size_t size = in.Byte() * 4u;
  // Exactly the size the caller names, so that a write past it is caught.
  std::unique_ptr<uint8_t[]> buf(new uint8_t[size]);
  switch (which >> 6) {
    case TAKE_EXPLICIT: {
      size_t len = 0;
      uint8_t result = 0, service = 0;
      if (ExplTakeResponse(mac, table, buf.get(), size, len, result, service)) {
        Check(len <= size && result <= RESULT_REFUSED);
      } else {
        Check(len == 0 && result == RESULT_FAILED && service == 0);
      }
      break;
    }
    case TAKE_IO: {
      uint8_t result = 0;
      if (IoTakeResult(mac, table, result)) Check(result <= RESULT_REFUSED);
      break;
    }
    default: {
      const uint8_t msg = in.Byte();
      size_t len = SIZE_MAX;
      if (TakeConsumed(mac, msg, table, buf.get(), size, len)) {
        Check(len <= size && len <= MAX_BODY_LEN);
      } else {
        Check(len == SIZE_MAX);
      }
      break;
    }
  }
}

void Teach(Input& in) {
  NodeRecord& node = NodeOf(table, in.Byte());
  node.BodyFormat = in.Byte() & 0x0F;
  node.ExplGroup = in.Byte() & 3;
  node.ReqMsgId = in.Byte() & 0x0F;
  node.RespMsgId = in.Byte() & 0x0F;
  const uint8_t g1 = in.Byte() & 15;
  node.G1Size[g1] = static_cast<uint16_t>(in.Byte() * 5);
  node.G2Size[G2_MSG_POLL_COMMAND] = static_cast<uint16_t>(in.Byte() * 4);
}

void Run(Input& in) {
  switch (in.Byte() & OP_CODE_MASK) {
    case OP_FRAME:
      RawFrame(in);
      break;
    case OP_REPLY:
      Reply(in);
      break;
    case OP_REPLY_RUN:
      ReplyRun(in);
      break;
    case OP_ACK:
      Acknowledge(in);
      break;
    case OP_IO:
      SendIo(in);
      break;
    case OP_DUP_CHECK:
      DupCheck(in);
      break;
    // What is queued goes out on the next pass, as in the receive tick,
    // where a frame read first comes before it.
    case OP_REQUEST:
      QueueRequest(in);
      break;
    case OP_POLL:
      Poll(in);
      break;
    case OP_PROBE:
      Probe(in);
      break;
    // A tick without a frame: time-outs end, queued frames go out.
    case OP_CLOCK:
      platform::AdvanceTestClock(in.Byte());
      DriveNodes(table, nullptr);
      break;
    case OP_CLAIM: {
      const uint8_t b = in.Byte();
      table.OwnMacId = b & 0x7F;
      table.OwnMacClaimed = (b & CLAIMED) ? 1 : 0;
      ClearOwnMacWatch(table);
      break;
    }
    case OP_ADAPTER:
      adapterMode = in.Byte() % ADAPTER_MODE_COUNT;
      break;
    case OP_TAKE:
      Take(in);
      break;
    default:
      Teach(in);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  Input in{bytes, size};
  InitNodeTable(table);
  std::memset(peers, 0, sizeof peers);
  adapterMode = ADAPTER_QUEUES;
  ClearSendHook();
  SetSendHook(Adapter);
  platform::EnableTestClock(0);
  while (in.size > 0) Run(in);
  platform::DisableTestClock();
  ClearSendHook();
  return 0;
}
