// The simulated bus: frames waiting to be sent by the adapter and the
// slaves, arbitration, the optional wire-time model, delivery to every node
// at the frame's bit rate, and the adapter's receive queue.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config.h"
#include "devicenet.h"
#include "simcan.h"

namespace sim {

struct World;

constexpr int SOURCE_ADAPTER = -1;
constexpr int SOURCE_OTHER = -2;  // a frame injected by a test
constexpr int MAX_PENDING = 2048;

struct Pending {
  Frame frame;
  int16_t source;  // slave index, SOURCE_MASTER_FIRST + master index, or SOURCE_*
  uint8_t baud;
  uint32_t seq;      // order of queuing, the tie-break after the identifier
  uint64_t readyUs;  // not sent before this time
};

struct Bus {
  Pending pending[MAX_PENDING];
  int pendingCount;
  uint32_t seq;
  uint64_t freeAtUs;  // end of the last frame on the wire
  bool wireTime;
  uint64_t frames;
  uint64_t busyUs;
  uint64_t statsStartUs;
  uint32_t lost;  // frames dropped because too many were waiting
};

constexpr size_t MAX_DRIVER_FILE = 64;

struct Adapter {
  bool open;
  uint8_t baud;
  bool parallelForm;  // the last CAN_Init took the five-argument form
  int hwType;         // the parallel-port form's arguments, as last passed
  uint32_t ioPort;
  uint16_t interrupt;
  char driverFile[MAX_DRIVER_FILE];  // the library copy of the last CAN_Init
  uint32_t status;                   // set by the test or the configuration
  uint32_t txErrors;                 // transmit error counter (wire-time collisions)
  uint64_t busOffUntilUs;            // bus off by transmit errors until then
  uint32_t latched;                  // overrun, reported once by CAN_Status
  uint32_t failWrites;
  uint32_t failResult;
  uint32_t rxCapacity;
  uint32_t rxFirst;
  uint32_t rxCount;
  DriverMsg rx[MAX_RX_QUEUE];
};

// Queues a frame for sending from `source` at `baud` no earlier than readyUs.
void BusSend(World& w, int source, uint8_t baud, const Frame& frame, uint64_t readyUs);

// Runs the bus and the slaves' timers up to untilUs, in time order.
void BusRun(World& w, uint64_t untilUs);

// The adapter's status word at nowUs: the status set by the test or the
// configuration and the error state of its transmit error counter.
uint32_t AdapterStatus(Adapter& a, uint64_t nowUs);

// The adapter's receive queue; AdapterQueue is false when it was full.
bool AdapterQueue(Adapter& a, const DriverMsg& msg);
bool AdapterTake(Adapter& a, DriverMsg& msg);
void AdapterClearQueue(Adapter& a);

}  // namespace sim
