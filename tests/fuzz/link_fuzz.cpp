// Feeds arbitrary frames to the link layer while explicit and I/O exchanges
// are in progress: decode, parse, connection tracking, the explicit state
// machine and the I/O reassembly must never crash or touch memory outside a
// record.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "devicenet/devicenet.h"
#include "platform/platform.h"

using namespace devicenet;

namespace {

NodeTable table;

struct Input {
  const uint8_t* data;
  size_t size;
  uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
};

// What the send hook does with the master's own frames.
void SendOwn(const DnMessage& out) {
  CanFrame frame{};
  EncodeFrame(out, frame);
  DnMessage seen{};
  if (DecodeFrame(frame, seen) && ParseMessage(seen, table)) TrackConnection(seen, table);
}

void Drive(const DnMessage* received) {
  for (uint8_t mac = 0; mac < NODE_COUNT; ++mac) {
    IoReceive(table, mac, received);
    if (const DnMessage* out = ExplStep(table, mac, received)) SendOwn(*out);
    if (const DnMessage* out = IoStep(table, mac)) SendOwn(*out);
  }
}

// Queues a request whose shape the input chooses, to a slave it chooses.
void QueueRequest(Input& in) {
  static uint8_t data[1000];
  const uint8_t mac = in.Byte();
  const uint8_t group = in.Byte() & 3;
  const uint8_t service = in.Byte();
  const uint16_t classId = static_cast<uint16_t>(in.Byte() | (in.Byte() << 8));
  const uint16_t instance = static_cast<uint16_t>(in.Byte() | (in.Byte() << 8));
  const size_t len = static_cast<size_t>(in.Byte()) * 4;  // up to 1020: some refused
  for (size_t i = 0; i < len && i < sizeof data; ++i) data[i] = static_cast<uint8_t>(i);
  ExplRequest(mac, group, 50, table, service, classId, instance, data, len);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  Input in{bytes, size};
  InitNodeTable(table);
  platform::EnableTestClock(0);
  table.OwnMacId = in.Byte();
  // Learned parameters the peer could have taught, some of them nonsense.
  for (int i = 0; i < 4; ++i) {
    NodeRecord& node = NodeOf(table, in.Byte());
    node.BodyFormat = in.Byte() & 0x0F;
    node.ExplGroup = in.Byte() & 3;
    node.ReqMsgId = in.Byte() & 7;
    node.RespMsgId = in.Byte() & 7;
    node.G1Size[in.Byte() & 15] = static_cast<uint16_t>(in.Byte() * 5);
  }
  QueueRequest(in);
  Drive(nullptr);

  while (in.size > 0) {
    const uint8_t op = in.Byte();
    if (op == 0xFF) {
      QueueRequest(in);
    } else if (op == 0xFE) {
      platform::AdvanceTestClock(in.Byte());
    } else if (op == 0xFC) {
      static uint8_t out[1000];
      const uint8_t mac = in.Byte();
      NodeOf(table, mac).G2Size[G2_MSG_POLL_COMMAND] = static_cast<uint16_t>(in.Byte() * 4);
      IoRequest(mac, 30, table, out, static_cast<size_t>(in.Byte()) * 4);
    } else if (op == 0xFB) {
      static uint8_t buf[1000];
      size_t len = 0;
      uint8_t result = 0;
      const uint8_t mac = in.Byte();
      IoTakeResult(mac, table, result);
      TakeConsumed(mac, in.Byte(), table, buf, in.Byte() * 4u, len);
    } else if (op == 0xFD) {
      static uint8_t buf[1000];
      size_t len = 0;
      uint8_t result = 0, service = 0;
      ExplTakeResponse(in.Byte(), table, buf, in.Byte() * 4u, len, result, service);
      if (len > 1000) __builtin_trap();
    } else {
      CanFrame frame{};
      frame.Id = static_cast<uint32_t>(op | (in.Byte() << 8) | (in.Byte() << 16));
      frame.Len = in.Byte() % 12;  // a driver may claim more than 8 bytes
      for (uint8_t& b : frame.Data) b = in.Byte();
      DnMessage m{};
      if (DecodeFrame(frame, m) && ParseMessage(m, table)) {
        TrackConnection(m, table);
        Drive(&m);
      }
      Drive(nullptr);
    }
  }
  platform::DisableTestClock();
  return 0;
}
