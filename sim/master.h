// A simulated master node (a running scanner) sharing the bus: its own
// Duplicate MAC ID check and defence, the allocation of its slave's
// predefined master/slave connection set, and the poll cycle. It talks to
// the slave only through frames on the bus, as a real scanner does.
#pragma once

#include <cstdint>

#include "config.h"
#include "devicenet.h"

namespace sim {

struct World;

// Sources on the bus of the masters: this plus the master's index.
constexpr int SOURCE_MASTER_FIRST = 0x100;

struct Master {
  MasterConfig cfg;
  uint8_t link;     // SIM_LINK_*; SIM_LINK_SILENT before power-on
  uint8_t dupSent;  // Duplicate MAC ID requests sent in this check
  uint8_t phase;    // what it waits for (master.cpp)
  uint8_t xid;      // transaction toggle of its explicit requests
  uint8_t channel;  // where its explicit requests go (master.cpp)
  bool allocated;
  // The explicit connection opened through the slave's UCMM.
  uint8_t bodyFormat;
  uint8_t clientMsgId;
  uint8_t serverMsgId;
  uint16_t consumed;  // poll command size
  uint16_t produced;  // poll response size
  uint64_t timerUs;   // its next step, 0 = none
  bool awaitingPoll;  // a poll is out and not answered yet
  uint8_t missedPolls;
  bool rxActive;  // reassembly of a fragmented poll response
  uint8_t rxNext;
  uint32_t pollsSent;
  uint32_t pollResponses;
  uint32_t allocAttempts;
  uint32_t dupMacResponses;
};

// Sets the master up from its configuration: powered on now (the
// Duplicate MAC ID check starts), or after its configured start delay.
void MasterConfigure(World& w, int index, uint64_t nowUs);

// Switches the master on afresh: counters cleared, the check starts.
void MasterPowerOn(World& w, int index, uint64_t nowUs);

// A frame completed on the bus at the master's baud rate.
void MasterReceive(World& w, int index, const Frame& frame, uint64_t nowUs);

// The master's next step, or UINT64_MAX.
uint64_t MasterNextTimerUs(const Master& m);

// Runs the master's step when it is due at nowUs.
void MasterOnTime(World& w, int index, uint64_t nowUs);

}  // namespace sim
