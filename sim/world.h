// The one process-wide record of the simulator: clock, bus, adapter, trace
// and slaves. It outlives CAN_Close and unloading the library: the library
// pins itself, and further copies of it loaded in the same process (for
// example the same file copied under two adapter driver names) find the
// record through a process environment variable and share it.
#pragma once

#include <cstdint>

#include "bus.h"
#include "clock.h"
#include "config.h"
#include "master.h"
#include "slave.h"
#include "trace.h"

namespace sim {

constexpr size_t MAX_ERROR = 512;

struct World {
  uint32_t magic;  // WORLD_MAGIC and sizeof(World): a copy of another build never shares
  uint32_t size;
  Clock clock;
  Adapter adapter;
  Bus bus;
  BusConfig busConfig;
  bool configured;
  int slaveCount;
  Slave slaves[MAX_SLAVES];
  int masterCount;
  Master masters[MAX_MASTERS];
  char lastError[MAX_ERROR];
  char errorBox[MAX_ERROR + 256];  // the text of the last refusal's message box
  Trace trace;
};

// The record, created (or found) at the first call.
World& TheWorld();

// Brings the bus and the slaves up to the clock's present time.
uint64_t Sync(World& w);

// Reads the configuration if none is loaded yet (SIMCAN_CONFIG, simcan.ini
// beside the library, the built-in default). False, with the message on
// stderr and in lastError, when it is refused.
bool EnsureConfigured(World& w);

// Tells the user of the program that CAN_Init failed on a refused
// configuration: a message box naming file, line and fault (not with
// SIMCAN_NO_ERROR_BOX=1 in the environment, as the tests run). The text
// stays in errorBox either way.
void ReportRefusedConfig(World& w);

// Replaces the bus, all slaves and masters by a parsed configuration: every
// slave powers on afresh (online at once), every master powers on (through
// its Duplicate MAC ID check), the adapter is closed, queues and trace are
// emptied.
void ApplyConfig(World& w, const Config& c);

// Loads a configuration text or file; false (lastError set) when refused,
// in which case nothing changes.
bool LoadConfigText(World& w, const char* text, const char* name);
bool LoadConfigFile(World& w, const char* path);

}  // namespace sim
