// A simulated DeviceNet slave: a Group 2 Only server with the predefined
// master/slave connection set (explicit and poll), optionally UCMM capable.
// This file pair is its link side: the Duplicate MAC ID check, the Group 2
// Only unconnected port, the UCMM, the explicit fragmentation protocol with
// the transaction toggle, polled I/O with I/O fragmentation, and the timers
// (watchdogs, fragment acknowledge time-out). The objects behind the
// requests are in objects.{h,cpp}.
#pragma once

#include <cstdint>

#include "config.h"
#include "devicenet.h"

namespace sim {

struct World;

// One explicit connection: instance 1 of the predefined set, or one opened
// through the UCMM (instances 5 to 7).
struct ExplConn {
  uint8_t state;  // SIM_CONN_* (connection object attribute 1)
  uint8_t group;  // message group of its frames: 1, 2 or 3
  uint16_t instance;
  uint8_t clientMac;    // the master at the other end
  uint8_t clientMsgId;  // message ID of the requests (groups 1 and 3)
  uint8_t serverMsgId;  // message ID of the responses (groups 1 and 3)
  uint8_t bodyFormat;   // BODY_*
  uint16_t epr;         // expected packet rate, ms
  uint64_t watchdogUs;  // inactivity time-out, 0 = none
  // Reassembly of a fragmented request.
  bool reqActive;
  uint8_t reqNext;  // count expected next
  uint16_t reqLen;
  uint8_t req[MAX_EXPLICIT_BODY];
  // A fragmented response being sent.
  bool respActive;
  uint8_t respXid;
  uint8_t respCount;    // count of the fragment waiting for its acknowledge
  uint8_t respRetries;  // sent again after an acknowledge time-out
  uint16_t respLen;
  uint16_t respSent;   // bytes acknowledged
  uint16_t respChunk;  // bytes in the fragment waiting for its acknowledge
  uint64_t ackDeadlineUs;
  uint8_t resp[MAX_EXPLICIT_BODY];
};

struct PollConn {
  uint8_t state;
  uint16_t epr;
  uint64_t watchdogUs;
  bool rxActive;  // reassembly of a fragmented poll command
  uint8_t rxNext;
  uint16_t rxLen;
  uint8_t rx[MAX_IO];
};

struct Slave {
  SlaveConfig cfg;  // as configured; cfg.faults changes while running
  uint8_t mac;
  uint8_t baud;
  uint8_t pendingBaud;  // DeviceNet object attribute 2, taken at reset
  uint8_t link;         // SIM_LINK_*
  uint8_t dupSent;      // Duplicate MAC ID requests sent in this check
  uint64_t linkTimerUs;
  uint8_t allocChoice;  // allocated connections of the predefined set
  uint8_t allocator;    // their master, NO_MASTER when none
  uint8_t boi;          // bus-off interrupt attribute
  uint8_t busOffCount;
  ExplConn expl[1 + UCMM_CONNECTIONS];  // [0] instance 1, then instances 5..7
  PollConn poll;
  uint16_t outLen;  // last outputs consumed
  uint8_t out[MAX_IO];
  uint32_t polls;
  uint32_t resets;
};

// Powers the slave on from its configuration; online at once, or through
// the Duplicate MAC ID check.
void SlavePowerOn(World& w, int index, bool checkFirst, uint64_t nowUs);

// Restarts the slave (Identity Reset, new MAC ID): all connections are
// dropped, the pending baud rate is taken, and the Duplicate MAC ID check
// runs at `mac`.
void SlaveRestart(World& w, int index, uint8_t mac, uint64_t nowUs);

// A frame completed on the bus at the slave's baud rate.
void SlaveReceive(World& w, int index, const Frame& frame, uint64_t nowUs);

// The slave's earliest pending timer, or UINT64_MAX.
uint64_t SlaveNextTimerUs(const Slave& s);

// Runs every timer of the slave that is due at nowUs.
void SlaveOnTime(World& w, int index, uint64_t nowUs);

// Starts or stops a connection's watchdog after a frame or a new rate.
void ExplWatchdogRestart(ExplConn& c, uint64_t nowUs);
void PollWatchdogRestart(PollConn& c, uint64_t nowUs);

// Drops a connection (state non-existent, transfers abandoned).
void ExplDrop(ExplConn& c);

// The produced and consumed connection IDs of an explicit connection.
uint32_t ExplResponseId(const Slave& s, const ExplConn& c);
uint32_t ExplRequestId(const Slave& s, const ExplConn& c);

// The slave's inputs as its poll response carries them; returns the length.
uint16_t SlaveInputs(const Slave& s, uint8_t* out);

}  // namespace sim
