// The trace of every frame on the simulated bus, and its two file formats:
// the candump -l log and pcap with link type LINKTYPE_CAN_SOCKETCAN.
#pragma once

#include <cstdint>

#include "devicenet.h"

namespace sim {

constexpr uint32_t TRACE_CAPACITY = 65536;  // newest frames kept

struct TraceRecord {
  uint64_t timeUs;  // end of frame, simulated time
  Frame frame;
  uint8_t baud;
  uint8_t adapter;  // SIM_TRACE_* of simcan.h: what the adapter had to do with it
};

struct Trace {
  TraceRecord rec[TRACE_CAPACITY];
  uint32_t first;  // index of the oldest record
  uint32_t count;
};

void TraceAdd(Trace& trace, uint64_t timeUs, const Frame& frame, uint8_t baud, uint8_t adapter);
void TraceClear(Trace& trace);
// The i-th oldest record, or null.
const TraceRecord* TraceAt(const Trace& trace, uint32_t i);

// Write the whole trace; false when the file cannot be written.
bool TraceWriteCandump(const Trace& trace, const char* path, const char* ifname);
bool TraceWritePcap(const Trace& trace, const char* path);

}  // namespace sim
