#include "slave.h"

#include <cstring>

#include "bus.h"
#include "objects.h"
#include "world.h"

namespace sim {

namespace {

constexpr uint64_t NEVER = UINT64_MAX;
constexpr uint8_t PHYSICAL_PORT = 0;     // Duplicate MAC ID message: our one port
constexpr uint8_t DUP_MAC_LEN = 7;       // port, vendor ID (2), serial number (4)
constexpr uint8_t DUP_MAC_REQUESTS = 2;  // sent by the check before going online
constexpr uint8_t EXPL_FRAG_DATA = 6;    // body bytes in an explicit fragment
constexpr uint8_t IO_FRAG_DATA = 7;      // I/O bytes in an I/O fragment
constexpr uint8_t MAX_UNFRAGMENTED_BODY = 7;

uint64_t Ms(uint32_t ms) {
  return static_cast<uint64_t>(ms) * 1000;
}

uint8_t Mac(uint32_t id) {
  return U8(id & 0x3F);
}

// Sends an answer frame, unless a fault drops it; a delay fault holds it back.
void Emit(World& w, int index, int kind, const Frame& f, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  Faults& faults = s.cfg.faults;
  if (faults.drop[kind] > 0) {
    --faults.drop[kind];
    return;
  }
  BusSend(w, index, s.baud, f, nowUs + Ms(faults.delayMs[kind]));
}

uint8_t ExplHeader(Slave& s, bool fragment, uint8_t xid, uint8_t mac) {
  if (s.cfg.faults.wrongToggle > 0) {
    --s.cfg.faults.wrongToggle;
    xid ^= 1;
  }
  return U8((fragment ? HDR_FRAG : 0) | (xid ? HDR_XID : 0) | (mac & HDR_MAC_MASK));
}

uint8_t FragByte(Slave& s, uint8_t type, uint8_t count) {
  if (s.cfg.faults.wrongFragCount > 0) {
    --s.cfg.faults.wrongFragCount;
    count = U8(count + 1);
  }
  return U8((type << 6) | (count & FRAG_COUNT_MASK));
}

Frame MakeFrame(uint32_t id) {
  Frame f{};
  f.id = id;
  return f;
}

// ---- Duplicate MAC ID check ------------------------------------------------

void SendDupMac(World& w, int index, bool response, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  Frame f = MakeFrame(ID_GROUP2 | (static_cast<uint32_t>(s.mac) << 3) | G2_DUP_MAC);
  f.len = DUP_MAC_LEN;
  f.data[0] = U8((response ? DUP_MAC_RESPONSE : 0) | PHYSICAL_PORT);
  f.data[1] = U8(s.cfg.vendor);
  f.data[2] = U8(s.cfg.vendor >> 8);
  for (int i = 0; i < 4; ++i) f.data[3 + i] = U8(s.cfg.serial >> (8 * i));
  if (response) {
    Emit(w, index, SIM_ANSWER_DUPMAC, f, nowUs);
  } else {
    BusSend(w, index, s.baud, f, nowUs);
  }
}

void OnDupMac(World& w, int index, const Frame& f, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  if (f.len < DUP_MAC_LEN) return;
  bool response = (f.data[0] & DUP_MAC_RESPONSE) != 0;
  if (s.link == SIM_LINK_ONLINE && !response) {
    SendDupMac(w, index, true, nowUs);
  } else if (s.link == SIM_LINK_CHECKING) {
    // Another node holds this MAC ID, or is checking it at the same time
    // (its request): stay off the network.
    s.link = SIM_LINK_FAULTED;
    s.linkTimerUs = 0;
  }
}

// ---- Explicit messaging --------------------------------------------------

void SendAck(World& w, int index, ExplConn& c, uint8_t xid, uint8_t count, uint8_t status,
             uint64_t nowUs) {
  Slave& s = w.slaves[index];
  Frame f = MakeFrame(ExplResponseId(s, c));
  f.len = 3;
  f.data[0] = ExplHeader(s, true, xid, c.clientMac);
  f.data[1] = FragByte(s, FRAG_ACK, count);
  f.data[2] = status;
  Emit(w, index, SIM_ANSWER_ACK, f, nowUs);
}

void SendFragment(World& w, int index, ExplConn& c, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  uint16_t remaining = static_cast<uint16_t>(c.respLen - c.respSent);
  uint8_t type = c.respSent == 0               ? FRAG_FIRST
                 : remaining <= EXPL_FRAG_DATA ? FRAG_LAST
                                               : FRAG_MIDDLE;
  c.respChunk = remaining < EXPL_FRAG_DATA ? remaining : EXPL_FRAG_DATA;
  Frame f = MakeFrame(ExplResponseId(s, c));
  f.data[0] = ExplHeader(s, true, c.respXid, c.clientMac);
  f.data[1] = FragByte(s, type, c.respCount);
  memcpy(f.data + 2, c.resp + c.respSent, c.respChunk);
  f.len = U8(2 + c.respChunk);
  Emit(w, index, SIM_ANSWER_EXPLICIT, f, nowUs);
  c.ackDeadlineUs = nowUs + Ms(s.cfg.ackTimeoutMs);
}

void SendReply(World& w, int index, ExplConn& c, uint8_t xid, const Reply& r, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  if (r.len == 0) return;  // a fault swallowed the request
  if (r.len <= MAX_UNFRAGMENTED_BODY) {
    Frame f = MakeFrame(ExplResponseId(s, c));
    f.data[0] = ExplHeader(s, false, xid, c.clientMac);
    memcpy(f.data + 1, r.body, r.len);
    f.len = U8(1 + r.len);
    Emit(w, index, SIM_ANSWER_EXPLICIT, f, nowUs);
    return;
  }
  memcpy(c.resp, r.body, r.len);
  c.respLen = r.len;
  c.respSent = 0;
  c.respCount = 0;
  c.respRetries = 0;
  c.respXid = xid;
  c.respActive = true;
  SendFragment(w, index, c, nowUs);
}

void OnAck(World& w, int index, ExplConn& c, uint8_t count, uint8_t status, uint64_t nowUs) {
  // An acknowledge of anything but the fragment in flight is ignored.
  if (!c.respActive || count != c.respCount) return;
  if (status != ACK_OK) {
    c.respActive = false;
    return;
  }
  c.respSent = static_cast<uint16_t>(c.respSent + c.respChunk);
  c.respCount = U8((c.respCount + 1) & FRAG_COUNT_MASK);
  c.respRetries = 0;
  if (c.respSent >= c.respLen) {
    c.respActive = false;
    return;
  }
  SendFragment(w, index, c, nowUs);
}

void DoAfter(World& w, int index, const Reply& r, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  switch (r.after) {
    case AFTER_RESET:
      SlaveRestart(w, index, s.mac, nowUs);
      break;
    case AFTER_FACTORY_RESET:
      s.pendingBaud = s.cfg.baud;
      SlaveRestart(w, index, s.cfg.mac, nowUs);
      break;
    case AFTER_NEW_MAC:
      SlaveRestart(w, index, r.newMac, nowUs);
      break;
    default:
      break;
  }
}

// An 8- or 16-bit path field, low byte first.
uint16_t Field(const uint8_t* p, uint16_t bytes) {
  if (bytes == 2) return static_cast<uint16_t>(p[0] | p[1] << 8);
  return p[0];
}

// Parses the path of a request by the body format and serves it.
void Serve(World& w, int index, uint8_t format, const uint8_t* body, uint16_t len, uint64_t nowUs,
           Reply& reply) {
  Request r{};
  r.service = body[0];
  r.nowUs = nowUs;
  uint16_t classBytes = (format == BODY_16_16 || format == BODY_16_8) ? 2u : 1u;
  uint16_t instBytes = (format == BODY_8_16 || format == BODY_16_16) ? 2u : 1u;
  uint16_t pos = 1;
  if (len < pos + classBytes + instBytes) {
    ReplyError(reply, GEC_NOT_ENOUGH_DATA, AEC_NONE);
    return;
  }
  r.classId = Field(body + pos, classBytes);
  pos = static_cast<uint16_t>(pos + classBytes);
  r.instance = Field(body + pos, instBytes);
  pos = static_cast<uint16_t>(pos + instBytes);
  r.data = body + pos;
  r.len = static_cast<uint16_t>(len - pos);
  ServeRequest(w, index, r, reply);
}

void ServeOnConnection(World& w, int index, ExplConn& c, uint8_t xid, const uint8_t* body,
                       uint16_t len, uint64_t nowUs) {
  if (body[0] & SVC_RESPONSE) return;  // a server takes no responses
  Reply reply{};
  Serve(w, index, c.bodyFormat, body, len, nowUs, reply);
  SendReply(w, index, c, xid, reply, nowUs);
  DoAfter(w, index, reply, nowUs);
}

void OnRequestFragment(World& w, int index, ExplConn& c, uint8_t xid, uint8_t type, uint8_t count,
                       const uint8_t* data, uint8_t n, uint64_t nowUs) {
  if (type == FRAG_FIRST) {
    if (count != 0) return;
    c.reqActive = true;
    c.reqLen = 0;
    c.reqNext = 0;
    c.respActive = false;
  } else if (!c.reqActive) {
    return;
  } else if (count == U8((c.reqNext - 1) & FRAG_COUNT_MASK)) {
    // A repeated fragment (our acknowledge was lost): acknowledge it again.
    SendAck(w, index, c, xid, count, ACK_OK, nowUs);
    return;
  } else if (count != c.reqNext) {
    c.reqActive = false;
    return;
  }
  if (c.reqLen + n > MAX_EXPLICIT_BODY) {
    SendAck(w, index, c, xid, count, ACK_TOO_MUCH, nowUs);
    c.reqActive = false;
    return;
  }
  memcpy(c.req + c.reqLen, data, n);
  c.reqLen = static_cast<uint16_t>(c.reqLen + n);
  c.reqNext = U8((count + 1) & FRAG_COUNT_MASK);
  SendAck(w, index, c, xid, count, ACK_OK, nowUs);
  if (type == FRAG_LAST) {
    c.reqActive = false;
    if (c.reqLen > 0) ServeOnConnection(w, index, c, xid, c.req, c.reqLen, nowUs);
  }
}

// A frame on an explicit connection; `headerMac` is the MAC ID its header
// must carry.
void OnExplicitFrame(World& w, int index, ExplConn& c, uint8_t headerMac, const Frame& f,
                     uint64_t nowUs) {
  if (c.state != SIM_CONN_ESTABLISHED || f.len < 2) return;
  uint8_t hdr = f.data[0];
  if ((hdr & HDR_MAC_MASK) != headerMac) return;
  uint8_t xid = (hdr & HDR_XID) ? 1 : 0;
  ExplWatchdogRestart(c, nowUs);
  if (!(hdr & HDR_FRAG)) {
    c.reqActive = false;
    c.respActive = false;  // a new request abandons a response still in fragments
    ServeOnConnection(w, index, c, xid, f.data + 1, static_cast<uint16_t>(f.len - 1), nowUs);
    return;
  }
  uint8_t type = U8(f.data[1] >> 6);
  uint8_t count = U8(f.data[1] & FRAG_COUNT_MASK);
  if (type == FRAG_ACK) {
    if (f.len >= 3) OnAck(w, index, c, count, f.data[2], nowUs);
    return;
  }
  OnRequestFragment(w, index, c, xid, type, count, f.data + 2, U8(f.len - 2), nowUs);
}

// ---- Unconnected ports -------------------------------------------------------

void SendUnconnected(World& w, int index, uint32_t id, uint8_t xid, uint8_t destMac, const Reply& r,
                     uint64_t nowUs) {
  Slave& s = w.slaves[index];
  if (r.len == 0) return;  // a fault swallowed the request
  Frame f = MakeFrame(id);
  f.data[0] = ExplHeader(s, false, xid, destMac);
  uint16_t n = r.len <= MAX_UNFRAGMENTED_BODY ? r.len : MAX_UNFRAGMENTED_BODY;
  memcpy(f.data + 1, r.body, n);
  f.len = U8(1 + n);
  Emit(w, index, SIM_ANSWER_EXPLICIT, f, nowUs);
}

// Group 2 Only Unconnected Explicit Request: Allocate and Release of the
// predefined master/slave connection set, always in the 8/8 body format.
void OnGroup2Unconnected(World& w, int index, const Frame& f, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  if (f.len < 2 || (f.data[0] & HDR_FRAG) || (f.data[1] & SVC_RESPONSE)) return;
  uint8_t xid = (f.data[0] & HDR_XID) ? 1 : 0;
  uint8_t master = U8(f.data[0] & HDR_MAC_MASK);
  uint8_t service = f.data[1];
  Reply reply{};
  if (service != SVC_ALLOCATE && service != SVC_RELEASE) {
    ReplyError(reply, GEC_SERVICE_NOT_SUPPORTED, AEC_NONE);
  } else {
    Serve(w, index, BODY_8_8, f.data + 1, static_cast<uint16_t>(f.len - 1), nowUs, reply);
  }
  SendUnconnected(w, index, ID_GROUP2 | (static_cast<uint32_t>(s.mac) << 3) | G2_EXPLICIT_RESPONSE,
                  xid, master, reply, nowUs);
}

ExplConn* FreeUcmmConnection(Slave& s) {
  for (int i = 1; i <= UCMM_CONNECTIONS; ++i) {
    if (s.expl[i].state == SIM_CONN_NONEXISTENT) return &s.expl[i];
  }
  return nullptr;
}

// The lowest message ID of `group` that none of our connections produces.
int FreeServerMsgId(const Slave& s, uint8_t group) {
  int last = group == 3 ? G3_LAST_CONNECTED : G1_FIRST_IO - 1;
  for (int id = 0; id <= last; ++id) {
    bool used = false;
    for (int i = 1; i <= UCMM_CONNECTIONS; ++i) {
      const ExplConn& c = s.expl[i];
      if (c.state != SIM_CONN_NONEXISTENT && c.group == group && c.serverMsgId == id) used = true;
    }
    if (!used) return id;
  }
  return -1;
}

// Open and Close requests of the UCMM are exactly four bytes: header,
// service and two data bytes.
constexpr uint8_t UCMM_REQUEST_LEN = 4;

// False (with the error response in `reply`) when the frame is shorter or
// longer than `len`.
bool HasExactLength(const Frame& f, uint8_t len, Reply& reply) {
  if (f.len < len) {
    ReplyError(reply, GEC_NOT_ENOUGH_DATA, AEC_NONE);
    return false;
  }
  if (f.len > len) {
    ReplyError(reply, GEC_TOO_MUCH_DATA, AEC_NONE);
    return false;
  }
  return true;
}

void OpenConnection(World& w, int index, uint8_t client, const Frame& f, uint64_t nowUs,
                    Reply& reply) {
  Slave& s = w.slaves[index];
  if (!HasExactLength(f, UCMM_REQUEST_LEN, reply)) return;
  if (s.cfg.faults.refuseGeneral) {
    ReplyError(reply, s.cfg.faults.refuseGeneral, s.cfg.faults.refuseAdditional);
    if (s.cfg.faults.refuseCount > 0 && --s.cfg.faults.refuseCount == 0) {
      s.cfg.faults.refuseGeneral = 0;  // the refusals asked for are used up
    }
    return;
  }
  constexpr uint8_t GROUP_SELECT_1 = 0;  // group select: message group 1
  constexpr uint8_t GROUP_SELECT_2 = 1;  // message group 2: its IDs belong to the predefined set
  constexpr uint8_t GROUP_SELECT_3 = 3;  // message group 3
  uint8_t select = U8(f.data[3] >> 4);
  uint8_t clientMsgId = U8(f.data[3] & 0x0F);
  uint8_t group = 0;
  if (select == GROUP_SELECT_1) {
    group = 1;
  } else if (select == GROUP_SELECT_3) {
    group = 3;
    if (clientMsgId > G3_LAST_CONNECTED) {
      ReplyError(reply, GEC_INVALID_PARAMETER, AEC_NONE);
      return;
    }
  } else if (select == GROUP_SELECT_2) {
    ReplyError(reply, GEC_RESOURCE_UNAVAILABLE, AEC_NO_CONNECTION);
    return;
  } else {
    ReplyError(reply, GEC_INVALID_PARAMETER, AEC_NONE);
    return;
  }
  // The same Open again (its response was lost) gets the same connection.
  ExplConn* c = nullptr;
  for (int i = 1; i <= UCMM_CONNECTIONS; ++i) {
    ExplConn& e = s.expl[i];
    if (e.state != SIM_CONN_NONEXISTENT && e.group == group && e.clientMac == client &&
        e.clientMsgId == clientMsgId) {
      c = &e;
    }
  }
  if (!c) {
    c = FreeUcmmConnection(s);
    int serverMsgId = FreeServerMsgId(s, group);
    if (!c || serverMsgId < 0) {
      ReplyError(reply, GEC_RESOURCE_UNAVAILABLE, AEC_NO_CONNECTION);
      return;
    }
    uint16_t instance = static_cast<uint16_t>(CONN_UCMM_FIRST + (c - &s.expl[1]));
    ExplDrop(*c);
    c->instance = instance;
    c->state = SIM_CONN_ESTABLISHED;
    c->group = group;
    c->clientMac = client;
    c->clientMsgId = clientMsgId;
    c->serverMsgId = U8(serverMsgId);
    c->bodyFormat = s.cfg.bodyFormat;
    c->epr = EXPLICIT_DEFAULT_EPR_MS;
    ExplWatchdogRestart(*c, nowUs);
  }
  reply.len = 5;
  reply.body[0] = SVC_ALLOCATE | SVC_RESPONSE;
  reply.body[1] = c->bodyFormat;
  reply.body[2] = U8((c->clientMsgId << 4) | c->serverMsgId);
  reply.body[3] = U8(c->instance);
  reply.body[4] = U8(c->instance >> 8);
}

void CloseConnection(World& w, int index, const Frame& f, Reply& reply) {
  Slave& s = w.slaves[index];
  if (!HasExactLength(f, UCMM_REQUEST_LEN, reply)) return;
  uint16_t instance = static_cast<uint16_t>(f.data[2] | f.data[3] << 8);
  int i = instance - CONN_UCMM_FIRST + 1;
  if (i < 1 || i > UCMM_CONNECTIONS || s.expl[i].state == SIM_CONN_NONEXISTENT) {
    ReplyError(reply, GEC_NO_OBJECT, AEC_NONE);
    return;
  }
  ExplDrop(s.expl[i]);
  reply.len = 1;
  reply.body[0] = SVC_RELEASE | SVC_RESPONSE;
}

// The Unconnected Message Manager: Open and Close of explicit connections.
void OnUcmm(World& w, int index, uint8_t client, const Frame& f, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  if (f.len < 2 || (f.data[0] & HDR_FRAG) || (f.data[1] & SVC_RESPONSE)) return;
  if ((f.data[0] & HDR_MAC_MASK) != s.mac) return;  // for another server
  uint8_t xid = (f.data[0] & HDR_XID) ? 1 : 0;
  Reply reply{};
  if (f.data[1] == SVC_ALLOCATE) {
    OpenConnection(w, index, client, f, nowUs, reply);
  } else if (f.data[1] == SVC_RELEASE) {
    CloseConnection(w, index, f, reply);
  } else {
    ReplyError(reply, GEC_SERVICE_NOT_SUPPORTED, AEC_NONE);
  }
  SendUnconnected(w, index, ID_GROUP3 | (G3_UNCONNECTED_RESPONSE << 6) | s.mac, xid, client, reply,
                  nowUs);
}

// ---- Polled I/O ------------------------------------------------------------

void SendPollResponse(World& w, int index, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  if (s.cfg.produced > MAX_IO) return;
  uint8_t inputs[MAX_IO];
  uint16_t n = SlaveInputs(s, inputs);
  uint32_t id = (static_cast<uint32_t>(G1_POLL_RESPONSE) << 6) | s.mac;
  if (s.cfg.produced <= 8) {
    Frame f = MakeFrame(id);
    memcpy(f.data, inputs, n);
    f.len = U8(n);
    Emit(w, index, SIM_ANSWER_POLL, f, nowUs);
    return;
  }
  // Unacknowledged fragmentation: all fragments back to back.
  uint16_t sent = 0;
  uint8_t count = 0;
  while (sent < n) {
    uint16_t chunk = static_cast<uint16_t>(n - sent < IO_FRAG_DATA ? n - sent : IO_FRAG_DATA);
    uint8_t type = sent == 0 ? FRAG_FIRST : sent + chunk >= n ? FRAG_LAST : FRAG_MIDDLE;
    Frame f = MakeFrame(id);
    f.data[0] = FragByte(s, type, count);
    memcpy(f.data + 1, inputs + sent, chunk);
    f.len = U8(1 + chunk);
    Emit(w, index, SIM_ANSWER_POLL, f, nowUs);
    sent = static_cast<uint16_t>(sent + chunk);
    count = U8((count + 1) & FRAG_COUNT_MASK);
  }
}

// A complete poll command: outputs of exactly the consumed size are taken,
// a zero-length command (the master is idle) keeps the outputs; anything
// else is discarded unanswered.
void OnPollMessage(World& w, int index, const uint8_t* data, uint16_t n, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  if (n != s.cfg.consumed && n != 0) return;
  if (n != 0) {
    memcpy(s.out, data, n);
    s.outLen = n;
  }
  ++s.polls;
  SendPollResponse(w, index, nowUs);
}

void OnPollCommand(World& w, int index, const Frame& f, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  PollConn& c = s.poll;
  if (c.state != SIM_CONN_ESTABLISHED) return;
  PollWatchdogRestart(c, nowUs);
  if (s.cfg.consumed <= 8) {
    OnPollMessage(w, index, f.data, f.len, nowUs);
    return;
  }
  if (f.len < 1) return;
  uint8_t type = U8(f.data[0] >> 6);
  uint8_t count = U8(f.data[0] & FRAG_COUNT_MASK);
  const uint8_t* data = f.data + 1;
  uint16_t n = static_cast<uint16_t>(f.len - 1);
  if (type == FRAG_FIRST) {
    c.rxActive = false;
    if (count == FRAG_ONLY) {
      OnPollMessage(w, index, data, n, nowUs);
      return;
    }
    if (count != 0) return;
    c.rxActive = true;
    c.rxLen = 0;
    c.rxNext = 0;
  } else if (!c.rxActive || type == FRAG_ACK || count != c.rxNext) {
    c.rxActive = false;  // out of sequence: the message is lost
    return;
  }
  if (c.rxLen + n > MAX_IO) {
    c.rxActive = false;
    return;
  }
  memcpy(c.rx + c.rxLen, data, n);
  c.rxLen = static_cast<uint16_t>(c.rxLen + n);
  c.rxNext = U8((count + 1) & FRAG_COUNT_MASK);
  if (type == FRAG_LAST) {
    c.rxActive = false;
    OnPollMessage(w, index, c.rx, c.rxLen, nowUs);
  }
}

// ---- Timers ----------------------------------------------------------------

void StartCheck(World& w, int index, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  s.link = SIM_LINK_CHECKING;
  s.dupSent = 1;
  SendDupMac(w, index, false, nowUs);
  s.linkTimerUs = nowUs + Ms(s.cfg.dupMacMs);
}

void DropAll(Slave& s) {
  for (ExplConn& c : s.expl) ExplDrop(c);
  memset(&s.poll, 0, sizeof s.poll);
  s.allocChoice = 0;
  s.allocator = NO_MASTER;
}

// The explicit connection of the predefined set times out: it is deleted,
// or, while the poll connection exists, waits in deferred delete for it.
void ExplicitTimedOut(Slave& s, ExplConn& c) {
  if (&c != &s.expl[0]) {
    ExplDrop(c);
    return;
  }
  if (s.poll.state != SIM_CONN_NONEXISTENT) {
    c.state = SIM_CONN_DEFERRED;
    c.watchdogUs = 0;
    c.reqActive = false;
    c.respActive = false;
    return;
  }
  ExplDrop(c);
  s.allocChoice = U8(s.allocChoice & ~ALLOC_EXPLICIT);
  if (s.allocChoice == 0) s.allocator = NO_MASTER;
}

uint64_t Earliest(uint64_t a, uint64_t b) {
  return (b != 0 && b < a) ? b : a;
}

}  // namespace

void ExplWatchdogRestart(ExplConn& c, uint64_t nowUs) {
  c.watchdogUs = c.epr ? nowUs + Ms(c.epr * WATCHDOG_RATES) : 0;
}

void PollWatchdogRestart(PollConn& c, uint64_t nowUs) {
  c.watchdogUs = c.epr ? nowUs + Ms(c.epr * WATCHDOG_RATES) : 0;
}

void ExplDrop(ExplConn& c) {
  uint16_t instance = c.instance;
  memset(&c, 0, sizeof c);
  c.instance = instance;
}

uint32_t ExplResponseId(const Slave& s, const ExplConn& c) {
  switch (c.group) {
    case 1:
      return (static_cast<uint32_t>(c.serverMsgId) << 6) | s.mac;
    case 3:
      return ID_GROUP3 | (static_cast<uint32_t>(c.serverMsgId) << 6) | s.mac;
    default:
      return ID_GROUP2 | (static_cast<uint32_t>(s.mac) << 3) | G2_EXPLICIT_RESPONSE;
  }
}

uint32_t ExplRequestId(const Slave& s, const ExplConn& c) {
  switch (c.group) {
    case 1:
      return (static_cast<uint32_t>(c.clientMsgId) << 6) | c.clientMac;
    case 3:
      return ID_GROUP3 | (static_cast<uint32_t>(c.clientMsgId) << 6) | c.clientMac;
    default:
      return ID_GROUP2 | (static_cast<uint32_t>(s.mac) << 3) | G2_EXPLICIT_REQUEST;
  }
}

uint16_t SlaveInputs(const Slave& s, uint8_t* out) {
  uint16_t n = s.cfg.produced < MAX_IO ? s.cfg.produced : MAX_IO;
  memset(out, 0, n);
  if (s.cfg.io == IO_COUNTER) {
    for (uint16_t i = 0; i < n && i < 4; ++i) out[i] = U8(s.polls >> (8 * i));
  } else {
    memcpy(out, s.out, s.outLen < n ? s.outLen : n);
  }
  return n;
}

void SlavePowerOn(World& w, int index, bool checkFirst, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  s.mac = s.cfg.mac;
  s.baud = s.cfg.baud;
  s.pendingBaud = s.cfg.baud;
  s.boi = 0;
  s.busOffCount = 0;
  s.outLen = 0;
  s.polls = 0;
  s.resets = 0;
  s.expl[0].instance = CONN_EXPLICIT;
  for (int i = 1; i <= UCMM_CONNECTIONS; ++i) {
    s.expl[i].instance = static_cast<uint16_t>(CONN_UCMM_FIRST + i - 1);
  }
  DropAll(s);
  if (checkFirst) {
    StartCheck(w, index, nowUs);
  } else {
    s.link = SIM_LINK_ONLINE;
    s.linkTimerUs = 0;
  }
}

void SlaveRestart(World& w, int index, uint8_t mac, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  DropAll(s);
  s.mac = mac;
  s.baud = s.pendingBaud;
  s.outLen = 0;
  s.polls = 0;
  ++s.resets;
  if (s.cfg.silentAfterRestart) {
    s.link = SIM_LINK_SILENT;
    s.linkTimerUs = 0;
    return;
  }
  StartCheck(w, index, nowUs);
}

void SlaveReceive(World& w, int index, const Frame& f, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  if (s.link == SIM_LINK_FAULTED || s.link == SIM_LINK_SILENT) return;
  uint32_t id = f.id & 0x7FF;
  if ((id & 0x600) == ID_GROUP2) {
    uint8_t mac = U8((id >> 3) & 0x3F);
    uint8_t msg = U8(id & 7);
    if (mac != s.mac) return;
    if (msg == G2_DUP_MAC) {
      OnDupMac(w, index, f, nowUs);
      return;
    }
    if (s.link != SIM_LINK_ONLINE) return;
    if (msg == G2_EXPLICIT_REQUEST) {
      OnExplicitFrame(w, index, s.expl[0], s.allocator, f, nowUs);
    } else if (msg == G2_POLL_COMMAND) {
      OnPollCommand(w, index, f, nowUs);
    } else if (msg == G2_UNCONNECTED && s.cfg.group2Port) {
      OnGroup2Unconnected(w, index, f, nowUs);
    }
    return;
  }
  if (s.link != SIM_LINK_ONLINE || id >= ID_GROUP4_FIRST) return;
  // Groups 1 and 3 carry the sender's MAC ID: requests of our UCMM
  // connections, or the UCMM request itself.
  uint8_t group = (id & 0x400) ? 3 : 1;
  uint8_t msg = group == 3 ? U8((id >> 6) & 7) : U8((id >> 6) & 0xF);
  uint8_t sender = Mac(id);
  if (group == 3 && msg == G3_UNCONNECTED_REQUEST) {
    if (s.cfg.ucmm) OnUcmm(w, index, sender, f, nowUs);
    return;
  }
  for (int i = 1; i <= UCMM_CONNECTIONS; ++i) {
    ExplConn& c = s.expl[i];
    if (c.state != SIM_CONN_NONEXISTENT && c.group == group && c.clientMac == sender &&
        c.clientMsgId == msg) {
      OnExplicitFrame(w, index, c, s.mac, f, nowUs);
      return;
    }
  }
}

uint64_t SlaveNextTimerUs(const Slave& s) {
  uint64_t t = NEVER;
  if (s.link == SIM_LINK_CHECKING) t = Earliest(t, s.linkTimerUs);
  if (s.link != SIM_LINK_ONLINE) return t;
  for (const ExplConn& c : s.expl) {
    if (c.state == SIM_CONN_ESTABLISHED) t = Earliest(t, c.watchdogUs);
    if (c.respActive) t = Earliest(t, c.ackDeadlineUs);
  }
  if (s.poll.state == SIM_CONN_ESTABLISHED) t = Earliest(t, s.poll.watchdogUs);
  return t;
}

void SlaveOnTime(World& w, int index, uint64_t nowUs) {
  Slave& s = w.slaves[index];
  if (s.link == SIM_LINK_CHECKING && s.linkTimerUs && s.linkTimerUs <= nowUs) {
    if (s.dupSent < DUP_MAC_REQUESTS) {
      ++s.dupSent;
      SendDupMac(w, index, false, nowUs);
      s.linkTimerUs = nowUs + Ms(s.cfg.dupMacMs);
    } else {
      s.link = SIM_LINK_ONLINE;
      s.linkTimerUs = 0;
    }
    return;
  }
  if (s.link != SIM_LINK_ONLINE) return;
  for (ExplConn& c : s.expl) {
    if (c.respActive && c.ackDeadlineUs <= nowUs) {
      // One retry of the fragment, then the transfer is given up.
      if (c.respRetries == 0) {
        c.respRetries = 1;
        SendFragment(w, index, c, nowUs);
      } else {
        c.respActive = false;
      }
    }
    if (c.state == SIM_CONN_ESTABLISHED && c.watchdogUs && c.watchdogUs <= nowUs) {
      ExplicitTimedOut(s, c);
    }
  }
  if (s.poll.state == SIM_CONN_ESTABLISHED && s.poll.watchdogUs && s.poll.watchdogUs <= nowUs) {
    s.poll.state = SIM_CONN_TIMED_OUT;
    s.poll.watchdogUs = 0;
    s.poll.rxActive = false;
  }
}

}  // namespace sim
