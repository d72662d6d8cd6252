#include "bus.h"

#include <cstring>

#include "master.h"
#include "slave.h"
#include "wire.h"
#include "world.h"

namespace sim {

namespace {

constexpr uint64_t NEVER = UINT64_MAX;

bool Before(const Pending& a, const Pending& b) {
  return a.readyUs < b.readyUs || (a.readyUs == b.readyUs && a.seq < b.seq);
}

// A node sends its own frames in order: only the first of each source
// takes part in arbitration.
bool FirstOfItsSource(const Bus& bus, int index) {
  const Pending& p = bus.pending[index];
  for (int i = 0; i < bus.pendingCount; ++i) {
    if (i != index && bus.pending[i].source == p.source && Before(bus.pending[i], p)) return false;
  }
  return true;
}

// The frame that wins the bus next: the earliest start, then the lowest
// identifier among the nodes' frames ready by then (arbitration).
int NextWinner(const Bus& bus, uint64_t& startUs) {
  if (bus.pendingCount == 0) return -1;
  uint64_t earliest = NEVER;
  for (int i = 0; i < bus.pendingCount; ++i) {
    if (bus.pending[i].readyUs < earliest) earliest = bus.pending[i].readyUs;
  }
  startUs = earliest > bus.freeAtUs ? earliest : bus.freeAtUs;
  int best = -1;
  for (int i = 0; i < bus.pendingCount; ++i) {
    const Pending& p = bus.pending[i];
    if (p.readyUs > startUs || !FirstOfItsSource(bus, i)) continue;
    if (best < 0 || p.frame.id < bus.pending[best].frame.id ||
        (p.frame.id == bus.pending[best].frame.id && p.seq < bus.pending[best].seq)) {
      best = i;
    }
  }
  return best;
}

constexpr uint32_t TX_ERROR_STEP = 8;       // a transmitter's bit error
constexpr uint32_t TX_ERROR_WARNING = 96;   // error warning
constexpr uint32_t TX_ERROR_PASSIVE = 128;  // error passive
constexpr uint32_t TX_ERROR_BUS_OFF = 256;  // bus off
constexpr uint32_t BUS_OFF_RECOVERY_BITS = 128 * 11;

// A frame of another node that starts with the winner at the same moment
// with the same identifier and other data: the adapter's one of the two is
// a bit error. Nodes other than the adapter keep no error counters here,
// so only a pair with the adapter counts.
bool Collision(const Bus& bus, int winner, uint64_t startUs) {
  const Pending& p = bus.pending[winner];
  for (int i = 0; i < bus.pendingCount; ++i) {
    const Pending& q = bus.pending[i];
    if (i == winner || q.source == p.source || q.readyUs > startUs || q.frame.id != p.frame.id ||
        q.baud != p.baud || !FirstOfItsSource(bus, i)) {
      continue;
    }
    if (p.source != SOURCE_ADAPTER && q.source != SOURCE_ADAPTER) continue;
    if (q.frame.len != p.frame.len || memcmp(q.frame.data, p.frame.data, p.frame.len) != 0) {
      return true;
    }
  }
  return false;
}

// The bit error of a collision: the error frame ends both frames, the
// adapter counts it; error passive, it lets the other start first next
// time; bus off, it drops what it was to send.
void OnCollision(World& w, uint64_t endUs) {
  Adapter& a = w.adapter;
  a.txErrors += TX_ERROR_STEP;
  Bus& bus = w.bus;
  if (a.txErrors >= TX_ERROR_BUS_OFF) {
    a.busOffUntilUs = endUs + static_cast<uint64_t>(BUS_OFF_RECOVERY_BITS) * BitTimeUs(a.baud);
    int kept = 0;
    for (int i = 0; i < bus.pendingCount; ++i) {
      if (bus.pending[i].source != SOURCE_ADAPTER) bus.pending[kept++] = bus.pending[i];
    }
    bus.pendingCount = kept;
  } else if (a.txErrors >= TX_ERROR_PASSIVE) {
    // All of them, so that they stay in order.
    for (int i = 0; i < bus.pendingCount; ++i) {
      Pending& p = bus.pending[i];
      if (p.source == SOURCE_ADAPTER && p.readyUs <= endUs) p.readyUs = endUs + 1;
    }
  }
}

// The senders of one frame on the wire: the winner's and those of its twins.
constexpr int MAX_SENDERS = 8;
struct Senders {
  int16_t source[MAX_SENDERS];
  int count;
};

bool SentBy(const Senders& senders, int source) {
  for (int i = 0; i < senders.count; ++i) {
    if (senders.source[i] == source) return true;
  }
  return false;
}

// Frames of other nodes that start with the winner at the same moment with
// the same identifier and the same data are one frame on the wire: each
// sender takes it for its own, and none of them hears it from another.
// They leave the queue with the winner.
void TakeTwins(Bus& bus, const Pending& winner, uint64_t startUs, Senders& senders) {
  for (int i = 0; i < bus.pendingCount;) {
    const Pending& q = bus.pending[i];
    if (senders.count < MAX_SENDERS && !SentBy(senders, q.source) && q.readyUs <= startUs &&
        q.baud == winner.baud && q.frame.id == winner.frame.id && q.frame.len == winner.frame.len &&
        memcmp(q.frame.data, winner.frame.data, winner.frame.len) == 0 &&
        FirstOfItsSource(bus, i)) {
      senders.source[senders.count++] = q.source;
      bus.pending[i] = bus.pending[--bus.pendingCount];
      continue;
    }
    ++i;
  }
}

uint64_t WireUs(const Bus& bus, const Pending& p) {
  if (!bus.wireTime) return 0;
  return static_cast<uint64_t>(FrameBits(p.frame.id, p.frame.len, p.frame.data)) *
         BitTimeUs(p.baud);
}

void Deliver(World& w, const Pending& p, const Senders& senders, uint64_t atUs) {
  ++w.bus.frames;
  Adapter& a = w.adapter;
  uint8_t role = SIM_TRACE_NOT_ADAPTER;
  if (SentBy(senders, SOURCE_ADAPTER)) {
    role = SIM_TRACE_SENT_BY_ADAPTER;
    if (a.txErrors > 0) --a.txErrors;
  } else if (a.open && p.baud == a.baud && !(AdapterStatus(a, atUs) & SIMCAN_ERR_BUSOFF)) {
    DriverMsg m{};
    m.ID = p.frame.id;
    m.LEN = p.frame.len;
    memcpy(m.DATA, p.frame.data, 8);
    role = AdapterQueue(a, m) ? SIM_TRACE_QUEUED_FOR_ADAPTER : SIM_TRACE_LOST_BY_ADAPTER;
  }
  TraceAdd(w.trace, atUs, p.frame, p.baud, role);
  for (int i = 0; i < w.slaveCount; ++i) {
    if (!SentBy(senders, i) && w.slaves[i].baud == p.baud) SlaveReceive(w, i, p.frame, atUs);
  }
  for (int i = 0; i < w.masterCount; ++i) {
    if (!SentBy(senders, SOURCE_MASTER_FIRST + i) && w.masters[i].cfg.baud == p.baud) {
      MasterReceive(w, i, p.frame, atUs);
    }
  }
}

}  // namespace

void BusSend(World& w, int source, uint8_t baud, const Frame& frame, uint64_t readyUs) {
  Bus& bus = w.bus;
  if (bus.pendingCount == MAX_PENDING) {
    ++bus.lost;
    return;
  }
  Pending& p = bus.pending[bus.pendingCount++];
  p.frame = frame;
  if (p.frame.len > 8) p.frame.len = 8;
  for (uint8_t i = p.frame.len; i < 8; ++i) p.frame.data[i] = 0;
  p.frame.id &= 0x7FF;
  p.source = static_cast<int16_t>(source);
  p.baud = baud;
  p.seq = bus.seq++;
  p.readyUs = readyUs;
}

void BusRun(World& w, uint64_t untilUs) {
  Bus& bus = w.bus;
  for (;;) {
    uint64_t startUs = 0;
    int winner = NextWinner(bus, startUs);
    uint64_t frameEndUs = winner < 0 ? NEVER : startUs + WireUs(bus, bus.pending[winner]);
    uint64_t timerUs = NEVER;
    for (int i = 0; i < w.slaveCount; ++i) {
      uint64_t t = SlaveNextTimerUs(w.slaves[i]);
      if (t < timerUs) timerUs = t;
    }
    for (int i = 0; i < w.masterCount; ++i) {
      uint64_t t = MasterNextTimerUs(w.masters[i]);
      if (t < timerUs) timerUs = t;
    }
    // A frame ending at the same time as a timer comes first.
    const bool collision = winner >= 0 && bus.wireTime && Collision(bus, winner, startUs);
    if (collision && frameEndUs <= timerUs && frameEndUs <= untilUs) {
      bus.busyUs += frameEndUs - startUs;
      bus.freeAtUs = frameEndUs;
      OnCollision(w, frameEndUs);
    } else if (frameEndUs <= timerUs && frameEndUs <= untilUs) {
      Pending p = bus.pending[winner];
      bus.pending[winner] = bus.pending[--bus.pendingCount];
      Senders senders{{p.source}, 1};
      if (bus.wireTime) TakeTwins(bus, p, startUs, senders);
      bus.busyUs += frameEndUs - startUs;
      bus.freeAtUs = frameEndUs;
      Deliver(w, p, senders, frameEndUs);
    } else if (timerUs <= untilUs) {
      for (int i = 0; i < w.slaveCount; ++i) {
        if (SlaveNextTimerUs(w.slaves[i]) <= timerUs) SlaveOnTime(w, i, timerUs);
      }
      for (int i = 0; i < w.masterCount; ++i) {
        if (MasterNextTimerUs(w.masters[i]) <= timerUs) MasterOnTime(w, i, timerUs);
      }
    } else {
      break;
    }
  }
  if (bus.freeAtUs < untilUs && bus.pendingCount == 0) bus.freeAtUs = untilUs;
}

uint32_t AdapterStatus(Adapter& a, uint64_t nowUs) {
  if (a.busOffUntilUs) {
    if (nowUs < a.busOffUntilUs) return a.status | SIMCAN_ERR_BUSOFF;
    a.busOffUntilUs = 0;  // recovered
    a.txErrors = 0;
  }
  if (a.txErrors >= TX_ERROR_PASSIVE) return a.status | SIMCAN_ERR_BUSHEAVY;
  if (a.txErrors >= TX_ERROR_WARNING) return a.status | SIMCAN_ERR_BUSLIGHT;
  return a.status;
}

bool AdapterQueue(Adapter& a, const DriverMsg& msg) {
  if (a.rxCount >= a.rxCapacity) {
    a.latched |= SIMCAN_ERR_OVERRUN;
    return false;
  }
  a.rx[(a.rxFirst + a.rxCount) % MAX_RX_QUEUE] = msg;
  ++a.rxCount;
  return true;
}

bool AdapterTake(Adapter& a, DriverMsg& msg) {
  if (a.rxCount == 0) return false;
  msg = a.rx[a.rxFirst];
  a.rxFirst = (a.rxFirst + 1) % MAX_RX_QUEUE;
  --a.rxCount;
  return true;
}

void AdapterClearQueue(Adapter& a) {
  a.rxFirst = 0;
  a.rxCount = 0;
}

}  // namespace sim
