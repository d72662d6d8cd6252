#include "trace.h"

#include <cstdio>
#include <cstring>

namespace sim {

namespace {

constexpr uint32_t PCAP_MAGIC = 0xA1B2C3D4;  // microsecond time stamps
constexpr uint16_t PCAP_VERSION_MAJOR = 2;
constexpr uint16_t PCAP_VERSION_MINOR = 4;
constexpr uint32_t PCAP_SNAPLEN = 65535;
constexpr uint32_t LINKTYPE_CAN_SOCKETCAN = 227;
constexpr uint32_t SOCKETCAN_FRAME_SIZE = 16;  // can_id(4, big-endian) len pad res0 res1 data[8]

void Le16(uint8_t* p, uint16_t v) {
  p[0] = U8(v);
  p[1] = U8(v >> 8);
}

void Le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = U8(v >> (8 * i));
}

}  // namespace

void TraceAdd(Trace& trace, uint64_t timeUs, const Frame& frame, uint8_t baud, uint8_t adapter) {
  uint32_t slot = (trace.first + trace.count) % TRACE_CAPACITY;
  if (trace.count == TRACE_CAPACITY) {
    trace.first = (trace.first + 1) % TRACE_CAPACITY;
  } else {
    ++trace.count;
  }
  trace.rec[slot] = TraceRecord{timeUs, frame, baud, adapter};
}

void TraceClear(Trace& trace) {
  trace.first = 0;
  trace.count = 0;
}

const TraceRecord* TraceAt(const Trace& trace, uint32_t i) {
  if (i >= trace.count) return nullptr;
  return &trace.rec[(trace.first + i) % TRACE_CAPACITY];
}

bool TraceWriteCandump(const Trace& trace, const char* path, const char* ifname) {
  FILE* f = fopen(path, "w");
  if (!f) return false;
  for (uint32_t i = 0; i < trace.count; ++i) {
    const TraceRecord& r = *TraceAt(trace, i);
    char data[17] = "";
    for (uint8_t b = 0; b < r.frame.len && b < 8; ++b) {
      snprintf(data + 2 * b, 3, "%02X", r.frame.data[b]);
    }
    fprintf(f, "(%010llu.%06llu) %s %03X#%s\n", static_cast<unsigned long long>(r.timeUs / 1000000),
            static_cast<unsigned long long>(r.timeUs % 1000000), ifname ? ifname : "can0",
            static_cast<unsigned>(r.frame.id & 0x7FF), data);
  }
  return fclose(f) == 0;
}

bool TraceWritePcap(const Trace& trace, const char* path) {
  FILE* f = fopen(path, "wb");
  if (!f) return false;
  uint8_t header[24] = {};
  Le32(header, PCAP_MAGIC);
  Le16(header + 4, PCAP_VERSION_MAJOR);
  Le16(header + 6, PCAP_VERSION_MINOR);
  Le32(header + 16, PCAP_SNAPLEN);
  Le32(header + 20, LINKTYPE_CAN_SOCKETCAN);
  bool ok = fwrite(header, sizeof header, 1, f) == 1;
  for (uint32_t i = 0; ok && i < trace.count; ++i) {
    const TraceRecord& r = *TraceAt(trace, i);
    uint8_t rec[16 + SOCKETCAN_FRAME_SIZE] = {};
    Le32(rec, static_cast<uint32_t>(r.timeUs / 1000000));
    Le32(rec + 4, static_cast<uint32_t>(r.timeUs % 1000000));
    Le32(rec + 8, SOCKETCAN_FRAME_SIZE);
    Le32(rec + 12, SOCKETCAN_FRAME_SIZE);
    uint8_t* can = rec + 16;
    uint32_t id = r.frame.id & 0x7FF;
    can[0] = U8(id >> 24);
    can[1] = U8(id >> 16);
    can[2] = U8(id >> 8);
    can[3] = U8(id);
    can[4] = r.frame.len;
    memcpy(can + 8, r.frame.data, 8);
    ok = fwrite(rec, sizeof rec, 1, f) == 1;
  }
  return fclose(f) == 0 && ok;
}

}  // namespace sim
