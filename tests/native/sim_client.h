// The test's side of the simulated adapter: the library copied beside the
// test as the USB adapter's driver, loaded by the test as well, and its
// Sim_* entry points. The test's load keeps the library in memory, so the
// program's own loads of the driver share this bus. Used by the native
// tests and by the window tests under Wine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "can/can_driver.h"
#include "platform/platform.h"
#include "simcan.h"

namespace sim_client {

struct Sim {
  void* library = nullptr;
  SimLoadConfigTextFn loadConfigText;
  SimLastErrorFn lastError;
  SimUseClockFunctionFn useClock;
  SimGetSlaveFn getSlave;
  SimGetAdapterFn getAdapter;
  int(SIMCAN_CDECL* findSlave)(uint8_t);
  SimIndexFn powerCycle;
  SimFaultFn dropAnswers;
  SimFaultFn delayAnswers;
  SimCountFaultFn wrongToggle;
  int(SIMCAN_CDECL* refuseOpen)(int, uint8_t, uint8_t);
  int(SIMCAN_CDECL* refuseNextOpens)(int, uint8_t, uint8_t, uint32_t);
  int(SIMCAN_CDECL* refuseSetService)(int, uint8_t, uint8_t, uint8_t, uint32_t);
  void(SIMCAN_CDECL* setAdapterStatus)(uint32_t, int);
  void(SIMCAN_CDECL* failWrites)(uint32_t, uint32_t);
  int(SIMCAN_CDECL* injectFrame)(int, uint32_t, uint8_t, const uint8_t*);
  SimVoidFn traceClear;
  uint32_t(SIMCAN_CDECL* traceCount)();
  int(SIMCAN_CDECL* traceGet)(uint32_t, SimTraceFrame*);
  uint64_t(SIMCAN_CDECL* nowUs)();

  template <typename Fn>
  void Resolve(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(platform::ResolveEntry(library, name));
    ASSERT_NE(fn, nullptr) << name;
  }
  void Load() {
    library = platform::LoadLibraryFile(can::USB_DRIVER_FILE);
    ASSERT_NE(library, nullptr) << can::USB_DRIVER_FILE;
    Resolve(loadConfigText, "Sim_LoadConfigText");
    Resolve(lastError, "Sim_LastError");
    Resolve(useClock, "Sim_UseClockFunction");
    Resolve(getSlave, "Sim_GetSlave");
    Resolve(getAdapter, "Sim_GetAdapter");
    Resolve(findSlave, "Sim_FindSlave");
    Resolve(powerCycle, "Sim_PowerCycle");
    Resolve(dropAnswers, "Sim_DropAnswers");
    Resolve(delayAnswers, "Sim_DelayAnswers");
    Resolve(wrongToggle, "Sim_WrongToggle");
    Resolve(refuseOpen, "Sim_RefuseOpen");
    Resolve(refuseNextOpens, "Sim_RefuseNextOpens");
    Resolve(refuseSetService, "Sim_RefuseSetService");
    Resolve(setAdapterStatus, "Sim_SetAdapterStatus");
    Resolve(failWrites, "Sim_FailWrites");
    Resolve(injectFrame, "Sim_InjectFrame");
    Resolve(traceClear, "Sim_TraceClear");
    Resolve(traceCount, "Sim_TraceCount");
    Resolve(traceGet, "Sim_TraceGet");
    Resolve(nowUs, "Sim_NowUs");
  }
};

// Loaded at the first use and kept loaded.
inline Sim& TheSim() {
  static Sim sim;
  if (!sim.library) sim.Load();
  return sim;
}

// The simulator's clock is the program's (the test clock where enabled).
inline uint32_t SIMCAN_CDECL TestTick() {
  return platform::TickMs();
}

inline SimSlaveInfo Slave(int index = 0) {
  SimSlaveInfo info{};
  EXPECT_EQ(TheSim().getSlave(index, &info), 0);
  return info;
}

// The frames on the bus since the trace was cleared.
inline std::vector<SimTraceFrame> Trace() {
  std::vector<SimTraceFrame> frames;
  const uint32_t count = TheSim().traceCount();
  for (uint32_t i = 0; i < count; ++i) {
    SimTraceFrame f{};
    if (TheSim().traceGet(i, &f) == 0) frames.push_back(f);
  }
  return frames;
}

// Those of them with identifier `id`.
inline std::vector<SimTraceFrame> TraceOf(uint32_t id) {
  std::vector<SimTraceFrame> frames;
  for (const SimTraceFrame& f : Trace()) {
    if (f.id == id) frames.push_back(f);
  }
  return frames;
}

}  // namespace sim_client
