#include "bench_transactions.h"

#include <cstring>

#include "app/app_state.h"
#include "devicenet/devicenet.h"
#include "master/transactions.h"

namespace bench {

using namespace master;

namespace {

uint32_t seed = 12345;
uint8_t NextByte() {
  seed = seed * 1103515245u + 12345u;
  return static_cast<uint8_t>(seed >> 16);
}

app::IoBuffers io;
uint8_t buffer[1000];

struct ProbeCount {
  int ended;
  int answered;
};

void CountProbe(void* context, uint8_t, uint32_t result) {
  ProbeCount& count = *static_cast<ProbeCount*>(context);
  ++count.ended;
  if (result == TXR_OK) ++count.answered;
}

bool KeepProbing(void*) {
  return false;
}

}  // namespace

bool Poll(uint8_t mac, uint32_t length) {
  io.Output.Length = length;
  for (uint32_t i = 0; i < length; ++i) io.Output.Data[i] = NextByte();
  if (TxPoll(mac, io) != TXR_OK) return false;
  // The slaves echo: anything else is a transfer gone wrong.
  return io.Input.Length == length && std::memcmp(io.Input.Data, io.Output.Data, length) == 0;
}

uint32_t Service(uint8_t mac, uint8_t service, uint16_t classId, uint16_t instance,
                 uint8_t attribute, uint8_t length, uint32_t& responseLength) {
  ServiceRequest r{2, service, classId, instance, attribute, length};
  return TxService(mac, OWN_MAC, r, buffer, responseLength);
}

bool Prepare(uint8_t mac) {
  if (TxConnect(mac, OWN_MAC, CONNECT_TIMEOUT_MS) != TXR_OK) return false;
  uint32_t length = 0;
  for (uint16_t instance = 1; instance <= 2; ++instance) {
    std::memset(buffer, 0, 2);
    if (Service(mac, 0x10, 5, instance, 9, 2, length) != TXR_OK) return false;
  }
  return Service(mac, 0x0E, 5, 2, 7, 0, length) == TXR_OK &&
         Service(mac, 0x0E, 5, 2, 8, 0, length) == TXR_OK;
}

bool ProbeAll(int answering) {
  bool probe[devicenet::NODE_COUNT];
  for (bool& p : probe) p = true;
  ProbeCount count{0, 0};
  TxProbeAll(probe, PROBE_TIMEOUT_MS, ProbeWatch{&count, CountProbe, KeepProbing});
  return count.ended == devicenet::NODE_COUNT && count.answered == answering;
}

}  // namespace bench
