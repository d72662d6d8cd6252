#include "objects.h"

#include <cstring>

#include "slave.h"
#include "world.h"

namespace sim {

namespace {

constexpr uint16_t IDENTITY_REVISION = 1;  // class revisions (class attribute 1)
constexpr uint16_t DEVICENET_REVISION = 2;
constexpr uint16_t ASSEMBLY_REVISION = 2;
constexpr uint16_t CONNECTION_REVISION = 1;
constexpr uint8_t CLASS_ATTR_REVISION = 1;

constexpr uint8_t RESET_POWER_CYCLE = 0;  // Identity Reset types
constexpr uint8_t RESET_OUT_OF_BOX = 1;
constexpr uint16_t IDENTITY_STATUS_OWNED = 0x0001;

constexpr uint16_t ASSEMBLY_INPUT = 100;   // produced by the poll connection
constexpr uint16_t ASSEMBLY_OUTPUT = 150;  // consumed by the poll connection
constexpr uint8_t ASSEMBLY_ATTR_DATA = 3;

constexpr uint8_t INSTANCE_EXPLICIT = 0;  // connection attribute 2
constexpr uint8_t INSTANCE_IO = 1;
constexpr uint8_t TRIGGER_EXPLICIT_SERVER = 0x83;  // attribute 3: server, transport class 3
constexpr uint8_t TRIGGER_POLL_SERVER = 0x82;      // server, transport class 2
constexpr uint8_t COMM_EXPLICIT_G2 = 0x21;  // attribute 6: produces group 2, consumes group 2
constexpr uint8_t COMM_POLL = 0x01;         // produces group 1, consumes group 2
constexpr uint8_t COMM_UCMM_G1 = 0x00;      // groups 1 and 1
constexpr uint8_t COMM_UCMM_G3 = 0x33;      // groups 3 and 3
constexpr uint8_t WATCHDOG_TIMED_OUT = 0;   // attribute 12: transition to timed out
constexpr uint8_t WATCHDOG_AUTO_DELETE = 1;
constexpr uint8_t WATCHDOG_DEFERRED_DELETE = 3;
constexpr uint8_t SEG_CLASS8 = 0x20;  // logical segments of a connection path
constexpr uint8_t SEG_INSTANCE8 = 0x24;
constexpr uint8_t SEG_ATTRIBUTE8 = 0x30;

// Attribute values are collected here before they become the reply.
struct Out {
  uint8_t* p;
  uint16_t n;
  void U8v(uint8_t v) { p[n++] = v; }
  void U16v(uint16_t v) {
    U8v(U8(v));
    U8v(U8(v >> 8));
  }
  void U32v(uint32_t v) {
    U16v(static_cast<uint16_t>(v));
    U16v(static_cast<uint16_t>(v >> 16));
  }
  void Bytes(const uint8_t* b, uint16_t len) {
    memcpy(p + n, b, len);
    n = static_cast<uint16_t>(n + len);
  }
};

void ReplyOk(Reply& out, uint8_t service, uint16_t dataLen) {
  out.body[0] = U8(service | SVC_RESPONSE);
  out.len = static_cast<uint16_t>(1 + dataLen);
}

Out Data(Reply& out) {
  return Out{out.body + 1, 0};
}

// Checks the length of the service data: exactly `want` bytes.
bool DataLength(const Request& r, uint16_t want, Reply& out) {
  if (r.len < want) {
    ReplyError(out, GEC_NOT_ENOUGH_DATA, AEC_NONE);
    return false;
  }
  if (r.len > want) {
    ReplyError(out, GEC_TOO_MUCH_DATA, AEC_NONE);
    return false;
  }
  return true;
}

void ClassLevel(const Request& r, uint16_t revision, Reply& out) {
  if (r.service != SVC_GET_ATTRIBUTE_SINGLE) {
    ReplyError(out, GEC_SERVICE_NOT_SUPPORTED, AEC_NONE);
    return;
  }
  if (!DataLength(r, 1, out)) return;
  if (r.data[0] != CLASS_ATTR_REVISION) {
    ReplyError(out, GEC_ATTRIBUTE_NOT_SUPPORTED, AEC_NONE);
    return;
  }
  Out o = Data(out);
  o.U16v(revision);
  ReplyOk(out, r.service, o.n);
}

// Get_Attribute_Single and Set_Attribute_Single over an object's attribute
// table: `get` writes an attribute (false: not supported); `set` checks and
// takes a value (it writes the reply itself).
using GetFn = bool (*)(const Slave& s, uint16_t instance, uint8_t attr, Out& o);
using SetFn = void (*)(Slave& s, const Request& r, uint8_t attr, const uint8_t* v, uint16_t n,
                       Reply& out);

bool GetSetService(Slave& s, const Request& r, GetFn get, SetFn set, Reply& out) {
  if (r.service == SVC_GET_ATTRIBUTE_SINGLE) {
    if (!DataLength(r, 1, out)) return true;
    Out o = Data(out);
    if (!get(s, r.instance, r.data[0], o)) {
      ReplyError(out, GEC_ATTRIBUTE_NOT_SUPPORTED, AEC_NONE);
      return true;
    }
    ReplyOk(out, r.service, o.n);
    return true;
  }
  if (r.service == SVC_SET_ATTRIBUTE_SINGLE) {
    if (r.len < 1) {
      ReplyError(out, GEC_NOT_ENOUGH_DATA, AEC_NONE);
      return true;
    }
    uint8_t scratch[MAX_EXPLICIT_BODY];
    Out probe{scratch, 0};
    if (!get(s, r.instance, r.data[0], probe)) {
      ReplyError(out, GEC_ATTRIBUTE_NOT_SUPPORTED, AEC_NONE);
      return true;
    }
    set(s, r, r.data[0], r.data + 1, static_cast<uint16_t>(r.len - 1), out);
    return true;
  }
  return false;
}

bool ValueLength(uint16_t n, uint16_t want, Reply& out) {
  if (n < want) {
    ReplyError(out, GEC_NOT_ENOUGH_DATA, AEC_NONE);
    return false;
  }
  if (n > want) {
    ReplyError(out, GEC_TOO_MUCH_DATA, AEC_NONE);
    return false;
  }
  return true;
}

void NotSettable(Slave&, const Request&, uint8_t, const uint8_t*, uint16_t, Reply& out) {
  ReplyError(out, GEC_NOT_SETTABLE, AEC_NONE);
}

// ---- Identity --------------------------------------------------------------

bool IdentityGet(const Slave& s, uint16_t, uint8_t attr, Out& o) {
  switch (attr) {
    case 1:
      o.U16v(s.cfg.vendor);
      return true;
    case 2:
      o.U16v(s.cfg.deviceType);
      return true;
    case 3:
      o.U16v(s.cfg.productCode);
      return true;
    case 4:
      o.U8v(s.cfg.revMajor);
      o.U8v(s.cfg.revMinor);
      return true;
    case 5:
      o.U16v(s.allocChoice ? IDENTITY_STATUS_OWNED : 0);
      return true;
    case 6:
      o.U32v(s.cfg.serial);
      return true;
    case 7: {
      uint8_t n = U8(static_cast<unsigned>(strlen(s.cfg.name)));
      o.U8v(n);
      o.Bytes(reinterpret_cast<const uint8_t*>(s.cfg.name), n);
      return true;
    }
    default:
      return false;
  }
}

void Identity(Slave& s, const Request& r, Reply& out) {
  if (r.instance == 0) return ClassLevel(r, IDENTITY_REVISION, out);
  if (r.instance != 1) return ReplyError(out, GEC_NO_OBJECT, AEC_NONE);
  if (GetSetService(s, r, IdentityGet, NotSettable, out)) return;
  if (r.service == SVC_GET_ATTRIBUTES_ALL) {
    if (!DataLength(r, 0, out)) return;
    Out o = Data(out);
    for (uint8_t attr = 1; attr <= 7; ++attr) IdentityGet(s, 1, attr, o);
    return ReplyOk(out, r.service, o.n);
  }
  if (r.service == SVC_RESET) {
    if (r.len > 1) return ReplyError(out, GEC_TOO_MUCH_DATA, AEC_NONE);
    uint8_t type = r.len ? r.data[0] : RESET_POWER_CYCLE;
    if (type != RESET_POWER_CYCLE && type != RESET_OUT_OF_BOX) {
      return ReplyError(out, GEC_INVALID_PARAMETER, AEC_NONE);
    }
    out.after = type == RESET_POWER_CYCLE ? AFTER_RESET : AFTER_FACTORY_RESET;
    return ReplyOk(out, r.service, 0);
  }
  ReplyError(out, GEC_SERVICE_NOT_SUPPORTED, AEC_NONE);
}

// ---- DeviceNet object --------------------------------------------------------

bool DeviceNetGet(const Slave& s, uint16_t, uint8_t attr, Out& o) {
  switch (attr) {
    case 1:
      o.U8v(s.mac);
      return true;
    case 2:
      o.U8v(s.pendingBaud);
      return true;
    case 3:
      o.U8v(s.boi);
      return true;
    case 4:
      o.U8v(s.busOffCount);
      return true;
    case 5:
      o.U8v(s.allocChoice);
      o.U8v(s.allocator);
      return true;
    default:
      return false;
  }
}

void DeviceNetSet(Slave& s, const Request&, uint8_t attr, const uint8_t* v, uint16_t n,
                  Reply& out) {
  if (attr == 5) return ReplyError(out, GEC_NOT_SETTABLE, AEC_NONE);
  if (!ValueLength(n, 1, out)) return;
  switch (attr) {
    case 1:  // MAC ID: taken right after the response
      if (s.cfg.refuseMacWrite) return ReplyError(out, s.cfg.refuseMacWrite, AEC_NONE);
      if (v[0] > 63) return ReplyError(out, GEC_INVALID_VALUE, AEC_NONE);
      if (v[0] != s.mac) {
        out.after = AFTER_NEW_MAC;
        out.newMac = v[0];
      }
      break;
    case 2:  // baud rate: taken at the next reset
      if (s.cfg.refuseBaudWrite) return ReplyError(out, s.cfg.refuseBaudWrite, AEC_NONE);
      if (v[0] > 2) return ReplyError(out, GEC_INVALID_VALUE, AEC_NONE);
      s.pendingBaud = v[0];
      break;
    case 3:
      if (v[0] > 1) return ReplyError(out, GEC_INVALID_VALUE, AEC_NONE);
      s.boi = v[0];
      break;
    case 4:  // any value clears the counter
      s.busOffCount = 0;
      break;
  }
  ReplyOk(out, SVC_SET_ATTRIBUTE_SINGLE, 0);
}

// True (with the error in `out`) where a fault refuses this request.
bool RefusedByFault(Slave& s, const Request& r, Reply& out) {
  Faults& f = s.cfg.faults;
  if (f.refuseSetCount == 0 || f.refuseSetService != r.service) return false;
  --f.refuseSetCount;
  if (f.refuseSetGeneral == 0) {
    out.len = 0;  // swallowed: no answer at all
  } else {
    ReplyError(out, f.refuseSetGeneral, f.refuseSetAdditional);
  }
  return true;
}

void Allocate(Slave& s, const Request& r, Reply& out) {
  if (RefusedByFault(s, r, out)) return;
  if (!DataLength(r, 2, out)) return;
  uint8_t choice = r.data[0];
  uint8_t master = r.data[1];
  if (master > 63 || choice == 0) return ReplyError(out, GEC_INVALID_PARAMETER, AEC_NONE);
  if (s.allocChoice && master != s.allocator) {
    return ReplyError(out, GEC_STATE_CONFLICT, AEC_NONE);
  }
  if (choice & ~ALLOC_SUPPORTED) return ReplyError(out, GEC_RESOURCE_UNAVAILABLE, AEC_NONE);
  if (choice & s.allocChoice) return ReplyError(out, GEC_ALREADY_IN_STATE, AEC_NONE);
  if (choice & ALLOC_EXPLICIT) {
    ExplConn& c = s.expl[0];
    ExplDrop(c);
    c.state = SIM_CONN_ESTABLISHED;
    c.group = 2;
    c.clientMac = master;
    c.bodyFormat = s.cfg.bodyFormat;
    c.epr = EXPLICIT_DEFAULT_EPR_MS;
    ExplWatchdogRestart(c, r.nowUs);
  }
  if (choice & ALLOC_POLL) {
    memset(&s.poll, 0, sizeof s.poll);
    s.poll.state = SIM_CONN_CONFIGURING;
  }
  s.allocChoice = U8(s.allocChoice | choice);
  s.allocator = master;
  s.expl[0].clientMac = master;
  Out o = Data(out);
  o.U8v(s.cfg.bodyFormat);
  ReplyOk(out, r.service, o.n);
}

void Release(Slave& s, const Request& r, Reply& out) {
  if (RefusedByFault(s, r, out)) return;
  if (!DataLength(r, 1, out)) return;
  uint8_t choice = r.data[0];
  if (choice == 0) return ReplyError(out, GEC_INVALID_PARAMETER, AEC_NONE);
  if (choice & ~ALLOC_SUPPORTED) return ReplyError(out, GEC_RESOURCE_UNAVAILABLE, AEC_NONE);
  if (choice & ~s.allocChoice) return ReplyError(out, GEC_ALREADY_IN_STATE, AEC_NONE);
  if (choice & ALLOC_POLL) {
    memset(&s.poll, 0, sizeof s.poll);
    // An explicit connection waiting in deferred delete goes with it.
    if (s.expl[0].state == SIM_CONN_DEFERRED) choice = U8(choice | ALLOC_EXPLICIT);
  }
  if (choice & ALLOC_EXPLICIT) ExplDrop(s.expl[0]);
  s.allocChoice = U8(s.allocChoice & ~choice);
  if (s.allocChoice == 0) s.allocator = NO_MASTER;
  ReplyOk(out, r.service, 0);
}

void DeviceNet(Slave& s, const Request& r, Reply& out) {
  if (r.instance == 0) return ClassLevel(r, DEVICENET_REVISION, out);
  if (r.instance != 1) return ReplyError(out, GEC_NO_OBJECT, AEC_NONE);
  if (GetSetService(s, r, DeviceNetGet, DeviceNetSet, out)) return;
  if (r.service == SVC_ALLOCATE) return Allocate(s, r, out);
  if (r.service == SVC_RELEASE) return Release(s, r, out);
  ReplyError(out, GEC_SERVICE_NOT_SUPPORTED, AEC_NONE);
}

// ---- Assembly: the poll data -------------------------------------------------

bool AssemblyGet(const Slave& s, uint16_t instance, uint8_t attr, Out& o) {
  if (attr != ASSEMBLY_ATTR_DATA) return false;
  if (instance == ASSEMBLY_INPUT) {
    o.n = SlaveInputs(s, o.p);
  } else {
    const uint16_t n = s.cfg.consumed < MAX_IO ? s.cfg.consumed : MAX_IO;
    memset(o.p, 0, n);
    memcpy(o.p, s.out, s.outLen);
    o.n = n;
  }
  return true;
}

void AssemblySet(Slave& s, const Request& r, uint8_t, const uint8_t* v, uint16_t n, Reply& out) {
  if (r.instance == ASSEMBLY_INPUT) return ReplyError(out, GEC_NOT_SETTABLE, AEC_NONE);
  // The outputs belong to the poll connection while it runs.
  if (s.poll.state == SIM_CONN_ESTABLISHED) return ReplyError(out, GEC_STATE_CONFLICT, AEC_NONE);
  if (!ValueLength(n, s.cfg.consumed, out)) return;
  if (n > MAX_IO) return ReplyError(out, GEC_TOO_MUCH_DATA, AEC_NONE);
  memcpy(s.out, v, n);
  s.outLen = n;
  ReplyOk(out, SVC_SET_ATTRIBUTE_SINGLE, 0);
}

void Assembly(Slave& s, const Request& r, Reply& out) {
  if (r.instance == 0) return ClassLevel(r, ASSEMBLY_REVISION, out);
  if (r.instance != ASSEMBLY_INPUT && r.instance != ASSEMBLY_OUTPUT) {
    return ReplyError(out, GEC_NO_OBJECT, AEC_NONE);
  }
  if (GetSetService(s, r, AssemblyGet, AssemblySet, out)) return;
  ReplyError(out, GEC_SERVICE_NOT_SUPPORTED, AEC_NONE);
}

// ---- Connection ------------------------------------------------------------

const ExplConn* ExplByInstance(const Slave& s, uint16_t instance) {
  for (const ExplConn& c : s.expl) {
    if (c.instance == instance && c.state != SIM_CONN_NONEXISTENT) return &c;
  }
  return nullptr;
}

void AssemblyPath(Out& o, uint16_t assembly) {
  o.U8v(SEG_CLASS8);
  o.U8v(U8(CLASS_ASSEMBLY));
  o.U8v(SEG_INSTANCE8);
  o.U8v(U8(assembly));
  o.U8v(SEG_ATTRIBUTE8);
  o.U8v(ASSEMBLY_ATTR_DATA);
}
constexpr uint16_t ASSEMBLY_PATH_LEN = 6;

bool ConnectionGet(const Slave& s, uint16_t instance, uint8_t attr, Out& o) {
  if (instance == CONN_POLL) {
    const PollConn& c = s.poll;
    switch (attr) {
      case 1:
        o.U8v(c.state);
        return true;
      case 2:
        o.U8v(INSTANCE_IO);
        return true;
      case 3:
        o.U8v(TRIGGER_POLL_SERVER);
        return true;
      case 4:
        o.U16v(static_cast<uint16_t>((G1_POLL_RESPONSE << 6) | s.mac));
        return true;
      case 5:
        o.U16v(static_cast<uint16_t>(ID_GROUP2 | (s.mac << 3) | G2_POLL_COMMAND));
        return true;
      case 6:
        o.U8v(COMM_POLL);
        return true;
      case 7:
        o.U16v(s.cfg.produced);
        return true;
      case 8:
        o.U16v(s.cfg.consumed);
        return true;
      case 9:
        o.U16v(c.epr);
        return true;
      case 12:
        o.U8v(WATCHDOG_TIMED_OUT);
        return true;
      case 13:
        o.U16v(ASSEMBLY_PATH_LEN);
        return true;
      case 14:
        AssemblyPath(o, ASSEMBLY_INPUT);
        return true;
      case 15:
        o.U16v(ASSEMBLY_PATH_LEN);
        return true;
      case 16:
        AssemblyPath(o, ASSEMBLY_OUTPUT);
        return true;
      default:
        return false;
    }
  }
  const ExplConn* c = ExplByInstance(s, instance);
  if (!c) return false;
  switch (attr) {
    case 1:
      o.U8v(c->state);
      return true;
    case 2:
      o.U8v(INSTANCE_EXPLICIT);
      return true;
    case 3:
      o.U8v(TRIGGER_EXPLICIT_SERVER);
      return true;
    case 4:
      o.U16v(static_cast<uint16_t>(ExplResponseId(s, *c)));
      return true;
    case 5:
      o.U16v(static_cast<uint16_t>(ExplRequestId(s, *c)));
      return true;
    case 6:
      o.U8v(c->group == 2 ? COMM_EXPLICIT_G2 : c->group == 3 ? COMM_UCMM_G3 : COMM_UCMM_G1);
      return true;
    case 7:
    case 8:
      o.U16v(MAX_EXPLICIT_BODY);
      return true;
    case 9:
      o.U16v(c->epr);
      return true;
    case 12:
      o.U8v(instance == CONN_EXPLICIT && s.poll.state != SIM_CONN_NONEXISTENT
                ? WATCHDOG_DEFERRED_DELETE
                : WATCHDOG_AUTO_DELETE);
      return true;
    case 13:
    case 15:
      o.U16v(0);
      return true;
    case 14:
    case 16:
      return true;
    default:
      return false;
  }
}

// The expected packet rate is rounded up to the device's timer resolution;
// the response carries the rate in use.
uint16_t RoundRate(const Slave& s, uint16_t ms) {
  uint32_t step = s.cfg.eprResolutionMs;
  uint32_t up = (ms + step - 1) / step * step;
  while (up > 0xFFFF) up -= step;
  return static_cast<uint16_t>(up);
}

void ConnectionSet(Slave& s, const Request& r, uint8_t attr, const uint8_t* v, uint16_t n,
                   Reply& out) {
  if (attr != 9) return ReplyError(out, GEC_NOT_SETTABLE, AEC_NONE);
  if (!ValueLength(n, 2, out)) return;
  uint16_t rate = RoundRate(s, static_cast<uint16_t>(v[0] | v[1] << 8));
  if (r.instance == CONN_POLL) {
    if (s.poll.state == SIM_CONN_CONFIGURING) s.poll.state = SIM_CONN_ESTABLISHED;
    s.poll.epr = rate;
    PollWatchdogRestart(s.poll, r.nowUs);
  } else {
    ExplConn* c = const_cast<ExplConn*>(ExplByInstance(s, r.instance));
    c->epr = rate;
    ExplWatchdogRestart(*c, r.nowUs);
  }
  Out o = Data(out);
  o.U16v(rate);
  ReplyOk(out, SVC_SET_ATTRIBUTE_SINGLE, o.n);
}

void Connection(Slave& s, const Request& r, Reply& out) {
  if (r.instance == 0) return ClassLevel(r, CONNECTION_REVISION, out);
  bool poll = r.instance == CONN_POLL && s.poll.state != SIM_CONN_NONEXISTENT;
  ExplConn* c = const_cast<ExplConn*>(ExplByInstance(s, r.instance));
  if (!poll && !c) return ReplyError(out, GEC_NO_OBJECT, AEC_NONE);
  if (GetSetService(s, r, ConnectionGet, ConnectionSet, out)) return;
  if (r.service == SVC_RESET) {
    if (!DataLength(r, 0, out)) return;
    if (poll) {
      if (s.poll.state == SIM_CONN_TIMED_OUT) s.poll.state = SIM_CONN_ESTABLISHED;
      PollWatchdogRestart(s.poll, r.nowUs);
    } else {
      ExplWatchdogRestart(*c, r.nowUs);
    }
    return ReplyOk(out, r.service, 0);
  }
  if (r.service == SVC_APPLY_ATTRIBUTES) {
    if (!DataLength(r, 0, out)) return;
    if (!poll || s.poll.state != SIM_CONN_CONFIGURING) {
      return ReplyError(out, GEC_STATE_CONFLICT, AEC_NONE);
    }
    s.poll.state = SIM_CONN_ESTABLISHED;
    PollWatchdogRestart(s.poll, r.nowUs);
    return ReplyOk(out, r.service, 0);
  }
  ReplyError(out, GEC_SERVICE_NOT_SUPPORTED, AEC_NONE);
}

}  // namespace

void ReplyError(Reply& out, uint8_t generalCode, uint8_t additionalCode) {
  out.body[0] = SVC_ERROR_RESPONSE | SVC_RESPONSE;
  out.body[1] = generalCode;
  out.body[2] = additionalCode;
  out.len = 3;
  out.after = AFTER_NONE;
}

void ServeRequest(World& w, int slave, const Request& r, Reply& out) {
  Slave& s = w.slaves[slave];
  switch (r.classId) {
    case CLASS_IDENTITY:
      return Identity(s, r, out);
    case CLASS_DEVICENET:
      return DeviceNet(s, r, out);
    case CLASS_ASSEMBLY:
      return Assembly(s, r, out);
    case CLASS_CONNECTION:
      return Connection(s, r, out);
    default:
      return ReplyError(out, GEC_PATH_UNKNOWN, AEC_NONE);
  }
}

}  // namespace sim
