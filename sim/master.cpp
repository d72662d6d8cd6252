#include "master.h"

#include <cstring>

#include "bus.h"
#include "simcan.h"
#include "world.h"

namespace sim {

namespace {

constexpr uint64_t NEVER = UINT64_MAX;
constexpr uint8_t DUP_MAC_REQUESTS = 2;  // sent before going online
constexpr uint8_t DUP_MAC_LEN = 7;       // port, vendor ID (2), serial number (4)
constexpr uint8_t PHYSICAL_PORT = 0;
constexpr uint32_t REQUEST_TIMEOUT_MS = 200;  // connection set-up requests, as scanners use
constexpr uint32_t RETRY_MS = 1000;           // a failed allocation is tried again after this
constexpr uint8_t MISSED_POLLS_LIMIT = 3;     // unanswered polls in a row: the slave is lost
constexpr uint8_t IO_FRAG_DATA = 7;           // I/O bytes in an I/O fragment
constexpr uint8_t EXPL_FRAG_DATA = 6;         // body bytes in an explicit fragment
constexpr uint8_t EXPL_FRAME_BODY = 7;        // body bytes of an unfragmented explicit frame
constexpr uint8_t G3_OPEN_SOURCE_MSG_ID = 0;  // our message ID for requests on the UCMM connection
constexpr uint8_t GROUP_SELECT_3 = 3;         // UCMM Open: an explicit connection in group 3
constexpr uint8_t CONN_ATTR_EPR = 9;
constexpr uint8_t CONN_ATTR_PRODUCED_SIZE = 7;
constexpr uint8_t CONN_ATTR_CONSUMED_SIZE = 8;
constexpr uint8_t MAX_REQUEST = 16;  // longest request body it sends

enum Phase : uint8_t {
  PH_OFF,       // not powered yet, or communication faulted
  PH_CHECK,     // Duplicate MAC ID check
  PH_IDLE,      // waits to try the allocation (again)
  PH_OPEN,      // UCMM Open sent
  PH_ALLOCATE,  // Allocate sent
  PH_RELEASE,   // Release sent, the slave held a stale allocation of ours
  PH_GET_CONSUMED,
  PH_GET_PRODUCED,
  PH_SET_EPR,
  PH_RUNNING,  // polling
};

// Where its explicit requests go.
enum Channel : uint8_t {
  CH_GROUP2_PORT,  // the slave's Group 2 Only Unconnected port (message ID 6), 8/8
  CH_UCMM,         // the explicit connection opened through the slave's UCMM
  CH_PREDEFINED,   // the explicit connection of the allocated set (message ID 4)
};

uint64_t Ms(uint32_t ms) {
  return static_cast<uint64_t>(ms) * 1000;
}

uint32_t Group2Id(uint8_t mac, uint8_t msg) {
  return ID_GROUP2 | (static_cast<uint32_t>(mac) << 3) | msg;
}

uint32_t Group3Id(uint8_t msg, uint8_t mac) {
  return ID_GROUP3 | (static_cast<uint32_t>(msg) << 6) | mac;
}

void Send(World& w, int index, const Frame& f, uint64_t nowUs) {
  BusSend(w, SOURCE_MASTER_FIRST + index, w.masters[index].cfg.baud, f, nowUs);
}

void SendDupMac(World& w, int index, bool response, uint64_t nowUs) {
  const Master& m = w.masters[index];
  Frame f{};
  f.id = Group2Id(m.cfg.mac, G2_DUP_MAC);
  f.len = DUP_MAC_LEN;
  f.data[0] = U8((response ? DUP_MAC_RESPONSE : 0) | PHYSICAL_PORT);
  f.data[1] = U8(m.cfg.vendor);
  f.data[2] = U8(m.cfg.vendor >> 8);
  for (int i = 0; i < 4; ++i) f.data[3 + i] = U8(m.cfg.serial >> (8 * i));
  Send(w, index, f, nowUs);
}

void GiveUp(Master& m, uint64_t nowUs) {
  m.phase = PH_IDLE;
  m.allocated = false;
  m.awaitingPoll = false;
  m.timerUs = nowUs + Ms(RETRY_MS);
}

// Sends one explicit request on the master's channel, in fragments when
// its body does not fit one frame; the response is awaited until the
// request time-out.
void Request(World& w, int index, uint8_t service, uint16_t classId, uint16_t instance,
             const uint8_t* data, uint8_t n, uint64_t nowUs) {
  Master& m = w.masters[index];
  uint8_t format = m.channel == CH_GROUP2_PORT ? BODY_8_8 : m.bodyFormat;
  uint8_t body[MAX_REQUEST];
  uint8_t len = 0;
  body[len++] = service;
  body[len++] = U8(classId);
  if (format == BODY_16_16 || format == BODY_16_8) body[len++] = U8(classId >> 8);
  body[len++] = U8(instance);
  if (format == BODY_8_16 || format == BODY_16_16) body[len++] = U8(instance >> 8);
  memcpy(body + len, data, n);
  len = U8(len + n);
  m.xid ^= 1;
  Frame f{};
  uint8_t headerMac = m.cfg.mac;
  switch (m.channel) {
    case CH_GROUP2_PORT:
      f.id = Group2Id(m.cfg.slave, G2_UNCONNECTED);
      break;
    case CH_UCMM:
      f.id = Group3Id(m.clientMsgId, m.cfg.mac);
      headerMac = m.cfg.slave;
      break;
    default:
      f.id = Group2Id(m.cfg.slave, G2_EXPLICIT_REQUEST);
      break;
  }
  uint8_t header = U8((m.xid ? HDR_XID : 0) | headerMac);
  if (len <= EXPL_FRAME_BODY) {
    f.data[0] = header;
    memcpy(f.data + 1, body, len);
    f.len = U8(1 + len);
    Send(w, index, f, nowUs);
  } else {
    // The slave acknowledges each fragment; it takes the next one without
    // waiting for that, so the fragments go back to back.
    uint8_t sent = 0;
    uint8_t count = 0;
    while (sent < len) {
      uint8_t chunk = U8(len - sent < EXPL_FRAG_DATA ? len - sent : EXPL_FRAG_DATA);
      uint8_t type = sent == 0 ? FRAG_FIRST : sent + chunk >= len ? FRAG_LAST : FRAG_MIDDLE;
      f.data[0] = U8(header | HDR_FRAG);
      f.data[1] = U8((type << 6) | count);
      memcpy(f.data + 2, body + sent, chunk);
      f.len = U8(2 + chunk);
      Send(w, index, f, nowUs);
      sent = U8(sent + chunk);
      ++count;
    }
  }
  m.timerUs = nowUs + Ms(REQUEST_TIMEOUT_MS);
}

void SendAllocate(World& w, int index, uint8_t service, uint64_t nowUs) {
  Master& m = w.masters[index];
  const uint8_t allocate[] = {ALLOC_EXPLICIT | ALLOC_POLL, m.cfg.mac};
  Request(w, index, service, CLASS_DEVICENET, 1, allocate,
          service == SVC_ALLOCATE ? uint8_t{2} : uint8_t{1}, nowUs);
  m.phase = service == SVC_ALLOCATE ? PH_ALLOCATE : PH_RELEASE;
}

void SendOpen(World& w, int index, uint64_t nowUs) {
  Master& m = w.masters[index];
  m.xid ^= 1;
  Frame f{};
  f.id = Group3Id(G3_UNCONNECTED_REQUEST, m.cfg.mac);
  f.len = 4;
  f.data[0] = U8((m.xid ? HDR_XID : 0) | m.cfg.slave);
  f.data[1] = SVC_ALLOCATE;
  f.data[2] = BODY_8_8;  // requested; the slave grants its own
  f.data[3] = U8((GROUP_SELECT_3 << 4) | G3_OPEN_SOURCE_MSG_ID);
  Send(w, index, f, nowUs);
  m.phase = PH_OPEN;
  m.timerUs = nowUs + Ms(REQUEST_TIMEOUT_MS);
}

void StartAttempt(World& w, int index, uint64_t nowUs) {
  Master& m = w.masters[index];
  ++m.allocAttempts;
  m.allocated = false;
  m.awaitingPoll = false;
  m.missedPolls = 0;
  m.rxActive = false;
  m.bodyFormat = BODY_8_8;
  if (m.cfg.ucmm) {
    m.channel = CH_UCMM;
    SendOpen(w, index, nowUs);
  } else {
    m.channel = CH_GROUP2_PORT;
    SendAllocate(w, index, SVC_ALLOCATE, nowUs);
  }
}

// No UCMM connection: the Group 2 Only port, as a Group 2 only master uses.
void FallBackToGroup2Port(World& w, int index, uint64_t nowUs) {
  w.masters[index].channel = CH_GROUP2_PORT;
  SendAllocate(w, index, SVC_ALLOCATE, nowUs);
}

void GetSize(World& w, int index, uint8_t attribute, uint64_t nowUs) {
  Request(w, index, SVC_GET_ATTRIBUTE_SINGLE, CLASS_CONNECTION, CONN_POLL, &attribute, 1, nowUs);
  w.masters[index].phase = attribute == CONN_ATTR_CONSUMED_SIZE ? PH_GET_CONSUMED : PH_GET_PRODUCED;
}

void SendPoll(World& w, int index, uint64_t nowUs) {
  Master& m = w.masters[index];
  Frame f{};
  f.id = Group2Id(m.cfg.slave, G2_POLL_COMMAND);
  if (m.consumed <= 8) {
    memset(f.data, m.cfg.outputByte, m.consumed);
    f.len = U8(m.consumed);
    Send(w, index, f, nowUs);
  } else {
    uint16_t sent = 0;
    uint8_t count = 0;
    while (sent < m.consumed) {
      uint16_t left = static_cast<uint16_t>(m.consumed - sent);
      uint8_t chunk = U8(left < IO_FRAG_DATA ? left : IO_FRAG_DATA);
      uint8_t type = sent == 0 ? FRAG_FIRST : sent + chunk >= m.consumed ? FRAG_LAST : FRAG_MIDDLE;
      f.data[0] = U8((type << 6) | count);
      memset(f.data + 1, m.cfg.outputByte, chunk);
      f.len = U8(1 + chunk);
      Send(w, index, f, nowUs);
      sent = static_cast<uint16_t>(sent + chunk);
      count = U8((count + 1) & FRAG_COUNT_MASK);
    }
  }
  ++m.pollsSent;
  m.awaitingPoll = true;
}

// A response to the explicit request of the current phase.
void OnResponse(World& w, int index, const uint8_t* body, uint8_t n, uint64_t nowUs) {
  Master& m = w.masters[index];
  if (n < 1) return;
  const bool error = body[0] == (SVC_ERROR_RESPONSE | SVC_RESPONSE);
  const uint8_t code = error && n >= 2 ? body[1] : 0;
  switch (m.phase) {
    case PH_ALLOCATE:
      if (error && code == GEC_ALREADY_IN_STATE) {
        // It holds an allocation of ours from before the slave went quiet.
        SendAllocate(w, index, SVC_RELEASE, nowUs);
      } else if (error || body[0] != (SVC_ALLOCATE | SVC_RESPONSE)) {
        GiveUp(m, nowUs);
      } else {
        m.allocated = true;
        m.bodyFormat = n >= 2 ? body[1] : BODY_8_8;
        m.channel = CH_PREDEFINED;
        if (m.cfg.outputGiven) {
          m.consumed = m.cfg.outputLen;
          GetSize(w, index, CONN_ATTR_PRODUCED_SIZE, nowUs);
        } else {
          GetSize(w, index, CONN_ATTR_CONSUMED_SIZE, nowUs);
        }
      }
      break;
    case PH_RELEASE:
      if (error) {
        GiveUp(m, nowUs);
      } else {
        StartAttempt(w, index, nowUs);
      }
      break;
    case PH_GET_CONSUMED:
    case PH_GET_PRODUCED: {
      if (error || n < 3) return GiveUp(m, nowUs);
      uint16_t size = static_cast<uint16_t>(body[1] | body[2] << 8);
      if (size > MAX_IO) return GiveUp(m, nowUs);
      if (m.phase == PH_GET_CONSUMED) {
        m.consumed = size;
        GetSize(w, index, CONN_ATTR_PRODUCED_SIZE, nowUs);
        break;
      }
      m.produced = size;
      uint32_t rate = m.cfg.pollMs < 0xFFFF ? m.cfg.pollMs : 0xFFFF;
      const uint8_t epr[] = {CONN_ATTR_EPR, U8(rate), U8(rate >> 8)};
      Request(w, index, SVC_SET_ATTRIBUTE_SINGLE, CLASS_CONNECTION, CONN_POLL, epr, sizeof epr,
              nowUs);
      m.phase = PH_SET_EPR;
      break;
    }
    case PH_SET_EPR:
      if (error) return GiveUp(m, nowUs);
      m.phase = PH_RUNNING;
      SendPoll(w, index, nowUs);
      m.timerUs = nowUs + Ms(m.cfg.pollMs);
      break;
    default:
      break;
  }
}

void OnOpenResponse(World& w, int index, const Frame& f, uint64_t nowUs) {
  Master& m = w.masters[index];
  if (f.len >= 6 && f.data[1] == (SVC_ALLOCATE | SVC_RESPONSE)) {
    m.bodyFormat = f.data[2];
    m.clientMsgId = U8(f.data[3] >> 4);
    m.serverMsgId = U8(f.data[3] & 0x0F);
    SendAllocate(w, index, SVC_ALLOCATE, nowUs);
  } else {
    FallBackToGroup2Port(w, index, nowUs);
  }
}

// A frame of the explicit channel: a response (fragment acknowledges are
// not waited for).
void OnExplicitFrame(World& w, int index, const Frame& f, uint64_t nowUs) {
  Master& m = w.masters[index];
  if (f.len < 2 || (f.data[0] & HDR_MAC_MASK) != m.cfg.mac) return;
  if (((f.data[0] & HDR_XID) ? 1 : 0) != m.xid || (f.data[0] & HDR_FRAG)) return;
  if (m.phase == PH_OPEN) {
    OnOpenResponse(w, index, f, nowUs);
  } else {
    OnResponse(w, index, f.data + 1, U8(f.len - 1), nowUs);
  }
}

void OnPollResponse(World& w, int index, const Frame& f) {
  Master& m = w.masters[index];
  if (m.phase != PH_RUNNING || !m.awaitingPoll) return;
  bool complete = m.produced <= 8;
  if (!complete) {
    if (f.len < 1) return;
    uint8_t type = U8(f.data[0] >> 6);
    uint8_t count = U8(f.data[0] & FRAG_COUNT_MASK);
    if (type == FRAG_FIRST) {
      m.rxActive = count == 0;
      m.rxNext = 1;
      complete = count == FRAG_ONLY;
    } else if (m.rxActive && type != FRAG_ACK && count == m.rxNext) {
      m.rxNext = U8((count + 1) & FRAG_COUNT_MASK);
      complete = type == FRAG_LAST;
    } else {
      m.rxActive = false;
    }
  }
  if (complete) {
    m.rxActive = false;
    m.awaitingPoll = false;
    m.missedPolls = 0;
    ++m.pollResponses;
  }
}

void OnDupMac(World& w, int index, const Frame& f, uint64_t nowUs) {
  Master& m = w.masters[index];
  if (f.len < DUP_MAC_LEN) return;
  if (m.link == SIM_LINK_CHECKING) {
    // Another node holds its MAC ID, or checks it at the same time.
    m.link = SIM_LINK_FAULTED;
    m.phase = PH_OFF;
    m.timerUs = 0;
    m.allocated = false;
  } else if (m.link == SIM_LINK_ONLINE && !(f.data[0] & DUP_MAC_RESPONSE)) {
    SendDupMac(w, index, true, nowUs);
    ++m.dupMacResponses;
  }
}

}  // namespace

void MasterConfigure(World& w, int index, uint64_t nowUs) {
  Master& m = w.masters[index];
  if (m.cfg.startMs == 0) return MasterPowerOn(w, index, nowUs);
  MasterConfig cfg = m.cfg;
  memset(&m, 0, sizeof m);
  m.cfg = cfg;
  m.link = SIM_LINK_SILENT;
  m.phase = PH_OFF;
  m.timerUs = nowUs + Ms(cfg.startMs);
}

void MasterPowerOn(World& w, int index, uint64_t nowUs) {
  Master& m = w.masters[index];
  MasterConfig cfg = m.cfg;
  memset(&m, 0, sizeof m);
  m.cfg = cfg;
  m.link = SIM_LINK_CHECKING;
  m.phase = PH_CHECK;
  m.dupSent = 1;
  SendDupMac(w, index, false, nowUs);
  m.timerUs = nowUs + Ms(m.cfg.dupMacMs);
}

void MasterReceive(World& w, int index, const Frame& f, uint64_t nowUs) {
  Master& m = w.masters[index];
  if (m.link != SIM_LINK_CHECKING && m.link != SIM_LINK_ONLINE) return;
  const uint32_t id = f.id & 0x7FF;
  if ((id & 0x600) == ID_GROUP2) {
    const uint8_t mac = U8((id >> 3) & 0x3F);
    const uint8_t msg = U8(id & 7);
    if (mac == m.cfg.mac && msg == G2_DUP_MAC) {
      OnDupMac(w, index, f, nowUs);
    } else if (m.link == SIM_LINK_ONLINE && mac == m.cfg.slave && msg == G2_EXPLICIT_RESPONSE &&
               m.channel != CH_UCMM && m.phase != PH_OPEN) {
      OnExplicitFrame(w, index, f, nowUs);
    }
    return;
  }
  if (m.link != SIM_LINK_ONLINE || (id & 0x3F) != m.cfg.slave) return;
  if ((id & 0x600) == ID_GROUP3) {
    const uint8_t msg = U8((id >> 6) & 7);
    if ((m.phase == PH_OPEN && msg == G3_UNCONNECTED_RESPONSE) ||
        (m.phase != PH_OPEN && m.channel == CH_UCMM && msg == m.serverMsgId)) {
      OnExplicitFrame(w, index, f, nowUs);
    }
  } else if ((id & 0x400) == 0 && ((id >> 6) & 0xF) == G1_POLL_RESPONSE) {
    OnPollResponse(w, index, f);
  }
}

uint64_t MasterNextTimerUs(const Master& m) {
  return m.timerUs ? m.timerUs : NEVER;
}

void MasterOnTime(World& w, int index, uint64_t nowUs) {
  Master& m = w.masters[index];
  if (!m.timerUs || m.timerUs > nowUs) return;
  m.timerUs = 0;
  switch (m.phase) {
    case PH_OFF:
      if (m.link == SIM_LINK_SILENT) MasterPowerOn(w, index, nowUs);
      break;
    case PH_CHECK:
      if (m.dupSent < DUP_MAC_REQUESTS) {
        ++m.dupSent;
        SendDupMac(w, index, false, nowUs);
        m.timerUs = nowUs + Ms(m.cfg.dupMacMs);
      } else {
        m.link = SIM_LINK_ONLINE;
        StartAttempt(w, index, nowUs);
      }
      break;
    case PH_IDLE:
      StartAttempt(w, index, nowUs);
      break;
    case PH_OPEN:
      FallBackToGroup2Port(w, index, nowUs);
      break;
    case PH_RUNNING:
      if (m.awaitingPoll && ++m.missedPolls >= MISSED_POLLS_LIMIT) {
        GiveUp(m, nowUs);
        break;
      }
      SendPoll(w, index, nowUs);
      m.timerUs = nowUs + Ms(m.cfg.pollMs);
      break;
    default:  // a request timed out
      GiveUp(m, nowUs);
      break;
  }
}

}  // namespace sim
