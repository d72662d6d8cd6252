// The CAN_* entry points of the simulated adapter (CAN_Init itself is in
// init_*.cpp, as its call forms differ between builds).
#include "driver.h"

#include <cstring>

#include "module.h"
#include "simcan.h"
#include "world.h"

namespace sim {

namespace {

constexpr int MSGTYPE_STANDARD = 0;  // CAN_Init: 11-bit identifiers
constexpr int MSGTYPE_EXTENDED = 1;  // 29-bit identifiers (accepted, never used)
constexpr const char* VERSION_TEXT = "Quillon simulated CAN adapter 1.0";

struct BitTiming {
  uint16_t code;
  uint8_t baudIndex;
};
constexpr BitTiming kBitTimings[] = {
    {SIMCAN_BTR_125K, 0},
    {SIMCAN_BTR_250K, 1},
    {SIMCAN_BTR_500K, 2},
};

void WriteTraceFiles(World& w) {
  if (w.busConfig.traceCandump[0]) TraceWriteCandump(w.trace, w.busConfig.traceCandump, "can0");
  if (w.busConfig.tracePcap[0]) TraceWritePcap(w.trace, w.busConfig.tracePcap);
}

}  // namespace

uint32_t DriverInit(uint16_t btr0btr1, int msgType, bool lptForm, int hwType, uint32_t ioPort,
                    uint16_t interrupt) {
  World& w = TheWorld();
  if (!EnsureConfigured(w)) {
    ReportRefusedConfig(w);
    return SIMCAN_ERR_CONFIG;
  }
  int baud = -1;
  for (const BitTiming& t : kBitTimings) {
    if (t.code == btr0btr1) baud = t.baudIndex;
  }
  if (baud < 0 || (msgType != MSGTYPE_STANDARD && msgType != MSGTYPE_EXTENDED)) {
    return SIMCAN_ERR_ILLPARAM;
  }
  PinModule();
  Sync(w);
  Adapter& a = w.adapter;
  a.open = true;
  a.baud = static_cast<uint8_t>(baud);
  a.parallelForm = lptForm;
  if (!ModuleFileName(a.driverFile, sizeof a.driverFile)) a.driverFile[0] = 0;
  a.hwType = lptForm ? hwType : 0;
  a.ioPort = lptForm ? ioPort : 0;
  a.interrupt = lptForm ? interrupt : 0;
  a.latched = 0;
  AdapterClearQueue(a);
  return SIMCAN_OK;
}

}  // namespace sim

using namespace sim;

extern "C" {

uint32_t SIMCAN_STDCALL CAN_Close(void) {
  World& w = TheWorld();
  Sync(w);
  if (w.adapter.open) WriteTraceFiles(w);
  w.adapter.open = false;
  AdapterClearQueue(w.adapter);
  return SIMCAN_OK;
}

uint32_t SIMCAN_STDCALL CAN_Status(void) {
  World& w = TheWorld();
  uint64_t now = Sync(w);
  if (!w.adapter.open) return SIMCAN_ERR_NOTOPEN;
  uint32_t status = AdapterStatus(w.adapter, now) | w.adapter.latched;
  w.adapter.latched = 0;
  return status;
}

uint32_t SIMCAN_STDCALL CAN_Write(const DriverMsg* msg) {
  World& w = TheWorld();
  uint64_t now = Sync(w);
  Adapter& a = w.adapter;
  if (!a.open) return SIMCAN_ERR_NOTOPEN;
  if (!msg || msg->LEN > 8 || msg->ID > 0x7FF || msg->MSGTYPE != 0) return SIMCAN_ERR_ILLPARAM;
  if (a.failWrites > 0) {
    --a.failWrites;
    return a.failResult;
  }
  if (AdapterStatus(a, now) & SIMCAN_ERR_BUSOFF) return SIMCAN_ERR_BUSOFF;
  Frame f{};
  f.id = msg->ID;
  f.len = msg->LEN;
  memcpy(f.data, msg->DATA, 8);
  BusSend(w, SOURCE_ADAPTER, a.baud, f, now);
  BusRun(w, now);
  return SIMCAN_OK;
}

uint32_t SIMCAN_STDCALL CAN_Read(DriverMsg* msg) {
  World& w = TheWorld();
  Sync(w);
  if (!w.adapter.open) return SIMCAN_ERR_NOTOPEN;
  if (!msg) return SIMCAN_ERR_ILLPARAM;
  return AdapterTake(w.adapter, *msg) ? SIMCAN_OK : SIMCAN_ERR_QRCVEMPTY;
}

uint32_t SIMCAN_STDCALL CAN_VersionInfo(char* text) {
  if (!text) return SIMCAN_ERR_ILLPARAM;
  strcpy(text, VERSION_TEXT);
  return SIMCAN_OK;
}

uint32_t SIMCAN_STDCALL CAN_ResetClient(void) {
  World& w = TheWorld();
  Sync(w);
  AdapterClearQueue(w.adapter);
  w.adapter.latched = 0;
  return SIMCAN_OK;
}

}  // extern "C"
