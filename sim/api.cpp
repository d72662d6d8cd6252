// The Sim_* entry points: a test's way to the simulated bus.
#include <cstring>

#include "simcan.h"
#include "world.h"

using namespace sim;

namespace {

// The slave at `index`, with the world brought up to date; null when there
// is none.
Slave* SlaveAt(int index) {
  World& w = TheWorld();
  if (!EnsureConfigured(w)) return nullptr;
  Sync(w);
  if (index < 0 || index >= w.slaveCount) return nullptr;
  return &w.slaves[index];
}

}  // namespace

extern "C" {

int SIMCAN_CDECL Sim_LoadConfigFile(const char* path) {
  if (!path) return -1;
  return LoadConfigFile(TheWorld(), path) ? 0 : -1;
}

int SIMCAN_CDECL Sim_LoadConfigText(const char* text, const char* name) {
  return LoadConfigText(TheWorld(), text, name) ? 0 : -1;
}

const char* SIMCAN_CDECL Sim_LastError(void) {
  return TheWorld().lastError;
}

const char* SIMCAN_CDECL Sim_ErrorBoxText(void) {
  return TheWorld().errorBox;
}

void SIMCAN_CDECL Sim_UseRealClock(void) {
  World& w = TheWorld();
  Sync(w);
  ClockUseReal(w.clock);
}

void SIMCAN_CDECL Sim_UseManualClock(void) {
  World& w = TheWorld();
  Sync(w);
  ClockUseManual(w.clock);
}

void SIMCAN_CDECL Sim_UseClockFunction(SimClockFn tickMs) {
  World& w = TheWorld();
  Sync(w);
  ClockUseFunction(w.clock, tickMs);
}

void SIMCAN_CDECL Sim_AdvanceUs(uint32_t us) {
  World& w = TheWorld();
  Sync(w);
  ClockAdvanceUs(w.clock, us);
  Sync(w);
}

void SIMCAN_CDECL Sim_AdvanceMs(uint32_t ms) {
  World& w = TheWorld();
  Sync(w);
  ClockAdvanceUs(w.clock, static_cast<uint64_t>(ms) * 1000);
  Sync(w);
}

uint64_t SIMCAN_CDECL Sim_NowUs(void) {
  return Sync(TheWorld());
}

void SIMCAN_CDECL Sim_SetWireTime(int on) {
  World& w = TheWorld();
  Sync(w);
  w.bus.wireTime = on != 0;
}

void SIMCAN_CDECL Sim_GetBusStats(SimBusStats* out) {
  World& w = TheWorld();
  uint64_t now = Sync(w);
  if (!out) return;
  out->frames = w.bus.frames;
  out->busyUs = w.bus.busyUs;
  out->elapsedUs = now - w.bus.statsStartUs;
}

void SIMCAN_CDECL Sim_ResetBusStats(void) {
  World& w = TheWorld();
  w.bus.statsStartUs = Sync(w);
  w.bus.frames = 0;
  w.bus.busyUs = 0;
}

void SIMCAN_CDECL Sim_SetAdapterStatus(uint32_t status, int queueMessage) {
  World& w = TheWorld();
  Sync(w);
  w.adapter.status = status;
  if (queueMessage && w.adapter.open) {
    DriverMsg m{};
    m.MSGTYPE = SIMCAN_MSGTYPE_STATUS;
    m.LEN = 4;
    for (int i = 0; i < 4; ++i) m.DATA[i] = U8(status >> (24 - 8 * i));
    AdapterQueue(w.adapter, m);
  }
}

int SIMCAN_CDECL Sim_GetAdapter(SimAdapterInfo* out) {
  if (!out) return -1;
  World& w = TheWorld();
  Sync(w);
  const Adapter& a = w.adapter;
  memset(out, 0, sizeof *out);
  out->open = a.open;
  out->baudIndex = a.baud;
  out->parallelForm = a.parallelForm;
  out->hwType = a.hwType;
  out->ioPort = a.ioPort;
  out->interrupt = a.interrupt;
  static_assert(sizeof out->driverFile == MAX_DRIVER_FILE, "one size");
  memcpy(out->driverFile, a.driverFile, sizeof out->driverFile);
  return 0;
}

void SIMCAN_CDECL Sim_FailWrites(uint32_t count, uint32_t result) {
  World& w = TheWorld();
  w.adapter.failWrites = count;
  w.adapter.failResult = result;
}

int SIMCAN_CDECL Sim_InjectFrame(int baudIndex, uint32_t id, uint8_t len, const uint8_t* data) {
  if (baudIndex < 0 || baudIndex > 2 || id > 0x7FF || len > 8 || (len && !data)) return -1;
  World& w = TheWorld();
  if (!EnsureConfigured(w)) return -1;
  uint64_t now = Sync(w);
  Frame f{};
  f.id = id;
  f.len = len;
  if (len) memcpy(f.data, data, len);
  BusSend(w, SOURCE_OTHER, U8(static_cast<unsigned>(baudIndex)), f, now);
  BusRun(w, now);
  return 0;
}

int SIMCAN_CDECL Sim_SlaveCount(void) {
  World& w = TheWorld();
  return EnsureConfigured(w) ? w.slaveCount : 0;
}

int SIMCAN_CDECL Sim_FindSlave(uint8_t macId) {
  World& w = TheWorld();
  if (!EnsureConfigured(w)) return -1;
  Sync(w);
  for (int i = 0; i < w.slaveCount; ++i) {
    if (w.slaves[i].mac == macId) return i;
  }
  return -1;
}

int SIMCAN_CDECL Sim_GetSlave(int index, SimSlaveInfo* out) {
  Slave* s = SlaveAt(index);
  if (!s || !out) return -1;
  memset(out, 0, sizeof *out);
  out->macId = s->mac;
  out->baudIndex = s->baud;
  out->pendingBaud = s->pendingBaud;
  out->link = s->link;
  out->allocChoice = s->allocChoice;
  out->allocator = s->allocator;
  out->explicitState = s->expl[0].state;
  out->pollState = s->poll.state;
  out->explicitEpr = s->expl[0].epr;
  out->pollEpr = s->poll.epr;
  for (int i = 1; i <= UCMM_CONNECTIONS; ++i) {
    if (s->expl[i].state != SIM_CONN_NONEXISTENT) ++out->ucmmOpen;
  }
  out->polls = s->polls;
  out->resets = s->resets;
  out->outputLen = s->outLen;
  memcpy(out->output, s->out, s->outLen);
  return 0;
}

int SIMCAN_CDECL Sim_PowerCycle(int index) {
  Slave* s = SlaveAt(index);
  if (!s) return -1;
  World& w = TheWorld();
  SlavePowerOn(w, index, true, Sync(w));
  return 0;
}

int SIMCAN_CDECL Sim_MasterCount(void) {
  World& w = TheWorld();
  return EnsureConfigured(w) ? w.masterCount : 0;
}

int SIMCAN_CDECL Sim_GetMaster(int index, SimMasterInfo* out) {
  World& w = TheWorld();
  if (!EnsureConfigured(w) || !out) return -1;
  Sync(w);
  if (index < 0 || index >= w.masterCount) return -1;
  const Master& m = w.masters[index];
  memset(out, 0, sizeof *out);
  out->macId = m.cfg.mac;
  out->baudIndex = m.cfg.baud;
  out->slave = m.cfg.slave;
  out->link = m.link;
  out->allocated = m.allocated;
  out->pollsSent = m.pollsSent;
  out->pollResponses = m.pollResponses;
  out->allocAttempts = m.allocAttempts;
  out->dupMacResponses = m.dupMacResponses;
  return 0;
}

int SIMCAN_CDECL Sim_MasterPowerCycle(int index) {
  World& w = TheWorld();
  if (!EnsureConfigured(w)) return -1;
  uint64_t now = Sync(w);
  if (index < 0 || index >= w.masterCount) return -1;
  MasterPowerOn(w, index, now);
  BusRun(w, now);
  return 0;
}

int SIMCAN_CDECL Sim_DropAnswers(int index, int kind, uint32_t count) {
  Slave* s = SlaveAt(index);
  if (!s || kind < 0 || kind >= SIM_ANSWER_KINDS) return -1;
  s->cfg.faults.drop[kind] = count;
  return 0;
}

int SIMCAN_CDECL Sim_DelayAnswers(int index, int kind, uint32_t ms) {
  Slave* s = SlaveAt(index);
  if (!s || kind < 0 || kind >= SIM_ANSWER_KINDS) return -1;
  s->cfg.faults.delayMs[kind] = ms;
  return 0;
}

int SIMCAN_CDECL Sim_WrongToggle(int index, uint32_t count) {
  Slave* s = SlaveAt(index);
  if (!s) return -1;
  s->cfg.faults.wrongToggle = count;
  return 0;
}

int SIMCAN_CDECL Sim_WrongFragCount(int index, uint32_t count) {
  Slave* s = SlaveAt(index);
  if (!s) return -1;
  s->cfg.faults.wrongFragCount = count;
  return 0;
}

int SIMCAN_CDECL Sim_RefuseOpen(int index, uint8_t generalCode, uint8_t additionalCode) {
  Slave* s = SlaveAt(index);
  if (!s) return -1;
  s->cfg.faults.refuseGeneral = generalCode;
  s->cfg.faults.refuseAdditional = additionalCode;
  s->cfg.faults.refuseCount = 0;
  return 0;
}

int SIMCAN_CDECL Sim_RefuseNextOpens(int index, uint8_t generalCode, uint8_t additionalCode,
                                     uint32_t count) {
  Slave* s = SlaveAt(index);
  if (!s) return -1;
  s->cfg.faults.refuseGeneral = count > 0 ? generalCode : 0;
  s->cfg.faults.refuseAdditional = additionalCode;
  s->cfg.faults.refuseCount = count;
  return 0;
}

int SIMCAN_CDECL Sim_RefuseSetService(int index, uint8_t service, uint8_t generalCode,
                                      uint8_t additionalCode, uint32_t count) {
  Slave* s = SlaveAt(index);
  if (!s) return -1;
  s->cfg.faults.refuseSetService = service;
  s->cfg.faults.refuseSetGeneral = generalCode;
  s->cfg.faults.refuseSetAdditional = additionalCode;
  s->cfg.faults.refuseSetCount = count;
  return 0;
}

void SIMCAN_CDECL Sim_TraceClear(void) {
  World& w = TheWorld();
  Sync(w);
  TraceClear(w.trace);
}

uint32_t SIMCAN_CDECL Sim_TraceCount(void) {
  World& w = TheWorld();
  Sync(w);
  return w.trace.count;
}

int SIMCAN_CDECL Sim_TraceGet(uint32_t index, SimTraceFrame* out) {
  World& w = TheWorld();
  Sync(w);
  const TraceRecord* r = TraceAt(w.trace, index);
  if (!r || !out) return -1;
  out->timeUs = r->timeUs;
  out->id = r->frame.id;
  out->len = r->frame.len;
  out->baudIndex = r->baud;
  memcpy(out->data, r->frame.data, 8);
  out->adapter = r->adapter;
  return 0;
}

int SIMCAN_CDECL Sim_TraceWriteCandump(const char* path, const char* ifname) {
  World& w = TheWorld();
  Sync(w);
  return path && TraceWriteCandump(w.trace, path, ifname) ? 0 : -1;
}

int SIMCAN_CDECL Sim_TraceWritePcap(const char* path) {
  World& w = TheWorld();
  Sync(w);
  return path && TraceWritePcap(w.trace, path) ? 0 : -1;
}

}  // extern "C"
