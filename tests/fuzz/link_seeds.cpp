// Writes the seed corpus of link_fuzz: one file per conversation a slave and
// the master hold, each reaching a deep state of the link layer that random
// bytes hardly find. `link_seeds DIR` writes the files; `link_seeds --check
// DIR` fails when a file in DIR differs from what would be written.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "devicenet/protocol.h"
#include "link_ops.h"

using namespace devicenet;
using namespace linkfuzz;

namespace {

constexpr uint8_t SLAVE = 5;
constexpr uint8_t OWN = 0;
constexpr size_t MAX_SEED_LEN = 512;  // the -max_len of the test run

constexpr uint8_t ATTR_PRODUCT_NAME = 7;  // Identity object
constexpr uint8_t ALLOCATE_EXPLICIT_POLL = 0x03;
constexpr uint8_t GROUP_SELECT_1 = 0x00;
constexpr uint8_t GROUP_SELECT_3 = 0x30;

using Bytes = std::vector<uint8_t>;

void Op(Bytes& s, LinkOp op, std::initializer_list<uint8_t> args) {
  s.push_back(op);
  s.insert(s.end(), args);
}

// A pass of the tick without a frame: what is queued goes out.
void Tick(Bytes& s) {
  Op(s, OP_CLOCK, {0});
}

void Request(Bytes& s, uint8_t group, uint8_t service, uint16_t classId, uint16_t instance,
             std::initializer_list<uint8_t> data) {
  Op(s, OP_REQUEST,
     {SLAVE, group, service, static_cast<uint8_t>(classId), static_cast<uint8_t>(classId >> 8),
      static_cast<uint8_t>(instance), static_cast<uint8_t>(instance >> 8),
      static_cast<uint8_t>(data.size())});
  s.insert(s.end(), data);
  Tick(s);
}

// A request with (d - 32) * 5 data bytes.
void LongRequest(Bytes& s, uint8_t group, uint8_t service, uint16_t classId, uint16_t instance,
                 uint8_t d) {
  Op(s, OP_REQUEST,
     {SLAVE, group, service, static_cast<uint8_t>(classId), static_cast<uint8_t>(classId >> 8),
      static_cast<uint8_t>(instance), static_cast<uint8_t>(instance >> 8), d});
  Tick(s);
}

void Poll(Bytes& s, uint8_t len) {
  Op(s, OP_POLL, {SLAVE, len});
  Tick(s);
}

void Probe(Bytes& s, uint8_t mac, uint8_t len) {
  Op(s, OP_PROBE, {mac, len});
  Tick(s);
}

void Reply(Bytes& s, uint8_t shape, std::initializer_list<uint8_t> payload) {
  Op(s, OP_REPLY, {SLAVE, shape, static_cast<uint8_t>(payload.size())});
  s.insert(s.end(), payload);
}

void TakeResponse(Bytes& s) {
  Op(s, OP_TAKE, {static_cast<uint8_t>(TAKE_EXPLICIT << 6 | SLAVE), 250});
}

// The predefined master/slave connection set through the Group 2 Only port.
void Allocate(Bytes& s) {
  Op(s, OP_CLAIM, {CLAIMED | OWN});
  Request(s, GROUP_2, SVC_ALLOCATE, CLASS_DEVICENET, 1, {ALLOCATE_EXPLICIT_POLL, OWN});
  Reply(s, REPLY_WHOLE, {0x00});  // body format 8/8
  TakeResponse(s);
}

// Get_Attribute_Single of a connection size, answered with `size`.
void LearnSize(Bytes& s, uint8_t group, uint16_t instance, uint8_t attribute, uint16_t size) {
  Request(s, group, SVC_GET_ATTRIBUTE_SINGLE, CLASS_CONNECTION, instance, {attribute});
  Reply(s, REPLY_WHOLE, {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8)});
  TakeResponse(s);
}

void Io(Bytes& s, uint8_t msgId, uint8_t type, uint8_t count) {
  Op(s, OP_IO, {SLAVE, static_cast<uint8_t>((msgId - G1_FIRST_IO_MSG) | type), count});
}

void TakeIo(Bytes& s, uint8_t mac) {
  Op(s, OP_TAKE, {static_cast<uint8_t>(TAKE_IO << 6 | mac), 0});
}

void TakeConsumed(Bytes& s, uint8_t msgId) {
  Op(s, OP_TAKE, {static_cast<uint8_t>(TAKE_CONSUMED << 6 | SLAVE), 250, msgId});
}

// Learns the poll sizes, polls with a fragmented command and receives a
// fragmented poll response, then one too long to keep.
Bytes PollLearnedSizes() {
  Bytes s;
  Allocate(s);
  LearnSize(s, GROUP_2, CONN_INSTANCE_POLL, ATTR_PRODUCED_CONN_SIZE, 20);
  LearnSize(s, GROUP_2, CONN_INSTANCE_POLL, ATTR_CONSUMED_CONN_SIZE, 12);
  LearnSize(s, GROUP_2, CONN_INSTANCE_COS_CYCLIC, ATTR_PRODUCED_CONN_SIZE, 9);
  LearnSize(s, GROUP_2, CONN_INSTANCE_BIT_STROBE, ATTR_PRODUCED_CONN_SIZE, 4);
  Poll(s, 12);
  Io(s, G1_MSG_POLL_RESPONSE, IO_FIRST, 0);
  Io(s, G1_MSG_POLL_RESPONSE, IO_MIDDLE, 0);
  Io(s, G1_MSG_POLL_RESPONSE, IO_LAST, 0);
  TakeIo(s, SLAVE);
  TakeConsumed(s, G1_MSG_POLL_RESPONSE);
  // A short message of the fragmented connection, and a change of state.
  Poll(s, 5);
  Io(s, G1_MSG_POLL_RESPONSE, IO_WHOLE, 0);
  Io(s, G1_MSG_COS_CYCLIC, IO_FIRST, 0);
  Io(s, G1_MSG_COS_CYCLIC, IO_LAST, 0);
  Op(s, OP_FRAME, {(G1_MSG_BIT_STROBE << 6 | SLAVE) & 0xFF, G1_MSG_BIT_STROBE >> 2, 4, 1, 2, 3, 4});
  TakeConsumed(s, G1_MSG_COS_CYCLIC);
  TakeConsumed(s, G1_MSG_BIT_STROBE);
  // A poll that is never answered, and one longer than learned.
  Poll(s, 12);
  Op(s, OP_CLOCK, {40});
  TakeIo(s, SLAVE);
  Poll(s, 13);
  // The poll size shrinks in the tick that would send a queued poll.
  Request(s, GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, CLASS_CONNECTION, CONN_INSTANCE_POLL,
          {ATTR_CONSUMED_CONN_SIZE});
  Op(s, OP_POLL, {SLAVE, 12});
  Reply(s, REPLY_WHOLE, {8, 0});
  TakeIo(s, SLAVE);
  Request(s, GROUP_2, SVC_RELEASE, CLASS_DEVICENET, 1, {ALLOCATE_EXPLICIT_POLL});
  Reply(s, REPLY_WHOLE, {});
  TakeResponse(s);
  return s;
}

// A poll response of over 1000 bytes is dropped; the poll times out. The
// sizes are set directly: this input is long enough to run.
Bytes PollResponseTooLong() {
  Bytes s;
  Op(s, OP_TEACH, {SLAVE, 0, GROUP_2, 0, 0, G1_MSG_POLL_RESPONSE, 300 / 5, 12 / 4});
  Poll(s, 12);
  Io(s, G1_MSG_POLL_RESPONSE, IO_FIRST, 0);
  Io(s, G1_MSG_POLL_RESPONSE, IO_MIDDLE, RUN_PAST_BUFFER);
  Io(s, G1_MSG_POLL_RESPONSE, IO_LAST, 0);
  Op(s, OP_CLOCK, {40});
  TakeIo(s, SLAVE);
  return s;
}

// A Get whose response comes in fragments, each acknowledged; an error
// response in fragments, a fragment out of sequence, one that never comes.
Bytes FragmentedResponse() {
  Bytes s;
  Allocate(s);
  Request(s, GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, 1, {ATTR_PRODUCT_NAME});
  Reply(s, REPLY_FIRST, {20, 'Q', 'u', 'i', 'l'});
  Reply(s, REPLY_MIDDLE, {'l', 'o', 'n', ' ', 'T', 'e'});
  Reply(s, REPLY_MIDDLE, {'s', 't', ' ', 'S', 'l', 'a'});
  Reply(s, REPLY_LAST, {'v', 'e', '!'});
  TakeResponse(s);
  // An error response in fragments.
  Request(s, GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, 1, {ATTR_PRODUCT_NAME});
  Reply(s, REPLY_FIRST | REPLY_ERROR, {0x14, 0xFF});
  Reply(s, REPLY_LAST, {0x00});
  TakeResponse(s);
  // A fragment out of sequence, and one that never comes.
  Request(s, GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, 1, {ATTR_PRODUCT_NAME});
  Reply(s, REPLY_FIRST, {1, 2, 3, 4, 5});
  Op(s, OP_REPLY, {SLAVE, REPLY_MIDDLE | REPLY_RAW_COUNT, 7, 0});
  TakeResponse(s);
  Request(s, GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, 1, {ATTR_PRODUCT_NAME});
  Reply(s, REPLY_FIRST, {1, 2, 3, 4, 5});
  Op(s, OP_CLOCK, {60});
  TakeResponse(s);
  return s;
}

// A fragmented response that grows past the buffer is refused.
Bytes ResponseTooLong() {
  Bytes s;
  Allocate(s);
  Request(s, GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, 1, {ATTR_PRODUCT_NAME});
  Reply(s, REPLY_FIRST, {1, 2, 3, 4, 5});
  Op(s, OP_REPLY_RUN, {SLAVE, RUN_PAST_BUFFER});
  Reply(s, REPLY_LAST, {1});
  TakeResponse(s);
  return s;
}

// A Set too long for one frame goes out in fragments, each waiting for the
// slave's acknowledge; then one whose acknowledge refuses it.
Bytes FragmentedRequest() {
  Bytes s;
  Allocate(s);
  // 3 bytes of service and path and 40 of data: eight fragments.
  LongRequest(s, GROUP_2, SVC_SET_ATTRIBUTE_SINGLE, 0x64, 1, 40);
  Op(s, OP_ACK, {SLAVE, 7 << ACK_REPEAT_SHIFT, ACK_SUCCESS});
  Reply(s, REPLY_WHOLE, {});
  TakeResponse(s);
  LongRequest(s, GROUP_2, SVC_SET_ATTRIBUTE_SINGLE, 0x64, 1, 40);
  Op(s, OP_ACK, {SLAVE, 1 << ACK_REPEAT_SHIFT, ACK_SUCCESS});
  Op(s, OP_ACK, {SLAVE, 0, ACK_TOO_MUCH_DATA});
  TakeResponse(s);
  LongRequest(s, GROUP_2, SVC_SET_ATTRIBUTE_SINGLE, 0x64, 1, 40);
  Op(s, OP_ACK, {SLAVE, ACK_NO_STATUS, 0});
  Op(s, OP_ACK, {SLAVE, ACK_WRONG_COUNT, ACK_SUCCESS});
  TakeResponse(s);
  LongRequest(s, GROUP_2, SVC_SET_ATTRIBUTE_SINGLE, 0x64, 1, 233);  // over 995 bytes: refused
  return s;
}

// Explicit connections opened through the unconnected message manager, in
// group 3 and in group 1, with wider body formats; then closed.
Bytes UcmmConnections() {
  Bytes s;
  Op(s, OP_CLAIM, {CLAIMED | OWN});
  Request(s, GROUP_3, SVC_ALLOCATE, 0, 0, {0x02, GROUP_SELECT_3 | 1});
  Reply(s, REPLY_WHOLE, {0x02, 2, 1, 0});  // 16/16, response message ID 2, instance 1
  TakeResponse(s);
  Request(s, 0, SVC_GET_ATTRIBUTE_SINGLE, CLASS_CONNECTION, CONN_INSTANCE_POLL,
          {ATTR_PRODUCED_CONN_SIZE});
  Reply(s, REPLY_FIRST, {40, 0, 1, 2, 3});
  Reply(s, REPLY_LAST, {4, 5});
  TakeResponse(s);
  Request(s, GROUP_3, SVC_RELEASE, 0, 0, {1, 0});
  Reply(s, REPLY_WHOLE, {});
  TakeResponse(s);
  Request(s, GROUP_3, SVC_ALLOCATE, 0, 0, {0x01, GROUP_SELECT_1 | 3});
  Reply(s, REPLY_WHOLE, {0x01, 4, 2, 0});  // 8/16, response message ID 4, instance 2
  TakeResponse(s);
  Request(s, 0, SVC_GET_ATTRIBUTE_SINGLE, CLASS_CONNECTION, CONN_INSTANCE_POLL,
          {ATTR_CONSUMED_CONN_SIZE});
  Reply(s, REPLY_WHOLE | REPLY_WRONG_TOGGLE, {8, 0});
  Request(s, 0, SVC_GET_ATTRIBUTE_SINGLE, CLASS_CONNECTION, CONN_INSTANCE_POLL,
          {ATTR_CONSUMED_CONN_SIZE});
  Reply(s, REPLY_WHOLE | REPLY_OTHER_SERVICE, {8, 0});
  Reply(s, REPLY_WHOLE, {8, 0});
  TakeResponse(s);
  Request(s, 0, SVC_RESET, CLASS_IDENTITY, 1, {});
  Reply(s, REPLY_WHOLE | REPLY_ERROR, {0x08, 0xFF});
  TakeResponse(s);
  // An Open with a group select the master does not use: refused.
  Request(s, GROUP_3, SVC_ALLOCATE, 0, 0, {0x00, 0x20});
  return s;
}

// The own MAC ID claimed and watched: a check request or response for it
// ends the claim; nothing once released. Probes of slaves answered and timed
// out.
Bytes WatchOwnMac() {
  Bytes s;
  Op(s, OP_CLAIM, {CLAIMED | 10});
  Op(s, OP_DUP_CHECK, {0});
  Op(s, OP_DUP_CHECK, {DUP_RESPONSE});
  Op(s, OP_DUP_CHECK, {DUP_SHORT});
  Op(s, OP_DUP_CHECK, {DUP_OTHER_MAC, 11});
  Op(s, OP_ADAPTER, {ADAPTER_FULL});
  Op(s, OP_DUP_CHECK, {0});
  Op(s, OP_ADAPTER, {ADAPTER_QUEUES});
  Op(s, OP_CLAIM, {10});
  Op(s, OP_DUP_CHECK, {0});
  Op(s, OP_DUP_CHECK, {DUP_RESPONSE});
  Probe(s, 7, 7);
  Op(s, OP_DUP_CHECK, {DUP_OTHER_MAC, 7});  // a request only: still waiting
  Op(s, OP_DUP_CHECK, {DUP_RESPONSE | DUP_OTHER_MAC, 7});
  TakeIo(s, 7);
  Probe(s, 8, 7);
  Op(s, OP_CLOCK, {40});
  TakeIo(s, 8);
  Probe(s, 9, 6);  // not a check message: refused
  // Claimed again: the slave at our MAC ID answers our own probe.
  Op(s, OP_CLAIM, {CLAIMED | 10});
  Probe(s, 10, 7);
  Op(s, OP_DUP_CHECK, {DUP_RESPONSE});
  TakeIo(s, 10);
  return s;
}

// The adapter's queue is full, then it fails: frames are held and sent again,
// or lost and the exchange ends by its time-out.
Bytes BusyAdapter() {
  Bytes s;
  Op(s, OP_CLAIM, {CLAIMED | OWN});
  Op(s, OP_ADAPTER, {ADAPTER_FULL});
  Request(s, GROUP_2, SVC_ALLOCATE, CLASS_DEVICENET, 1, {ALLOCATE_EXPLICIT_POLL, OWN});
  Op(s, OP_ADAPTER, {ADAPTER_QUEUES});
  Reply(s, REPLY_WHOLE, {0x00});
  TakeResponse(s);
  LearnSize(s, GROUP_2, CONN_INSTANCE_POLL, ATTR_CONSUMED_CONN_SIZE, 20);
  Op(s, OP_ADAPTER, {ADAPTER_FULL});
  Poll(s, 20);
  Op(s, OP_CLOCK, {40});
  TakeIo(s, SLAVE);
  Op(s, OP_ADAPTER, {ADAPTER_QUEUES});
  Poll(s, 20);
  Request(s, GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, 1, {ATTR_PRODUCT_NAME});
  Reply(s, REPLY_FIRST, {1, 2, 3, 4, 5});
  Op(s, OP_ADAPTER, {ADAPTER_FULL});
  Reply(s, REPLY_LAST, {6});
  Op(s, OP_ADAPTER, {ADAPTER_QUEUES});
  Op(s, OP_CLOCK, {1});
  TakeResponse(s);
  Op(s, OP_ADAPTER, {ADAPTER_FULL});
  Request(s, GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, 1, {ATTR_PRODUCT_NAME});
  Op(s, OP_CLOCK, {60});
  Op(s, OP_ADAPTER, {ADAPTER_FAILS});
  Request(s, GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, 1, {ATTR_PRODUCT_NAME});
  Op(s, OP_CLOCK, {60});
  TakeResponse(s);
  return s;
}

// Frames no exchange expects: invalid identifiers, long claims, group 4,
// short explicit headers, nonsense learned parameters.
Bytes StrangeFrames() {
  Bytes s;
  Op(s, OP_TEACH, {SLAVE, 0x0F, 1, 3, 4, G1_MSG_POLL_RESPONSE, 3, 5});
  Op(s, OP_FRAME, {0xF5, 0x07, 2, 0, 0});
  Op(s, OP_FRAME, {0xC5, 0x03, 11, 1, 2, 3, 4, 5, 6, 7, 8});
  Op(s, OP_FRAME, {0xC2, 0x07, 1, 0});
  Op(s, OP_FRAME, {0xC5, 0x00, 1, 0x80});
  Op(s, OP_FRAME, {0x2B, 0x04, 2, 0x80, 0x40});
  Op(s, OP_FRAME, {0x45, 0x07, 2, 0x05, 0x0E});
  Request(s, 0, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, 1, {1});  // format 15: refused
  Request(s, 1, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, 0, {1});
  Op(s, OP_CLOCK, {255});
  TakeResponse(s);
  return s;
}

struct Seed {
  const char* name;
  Bytes (*make)();
};

const Seed SEEDS[] = {
    {"poll_learned_sizes", PollLearnedSizes},
    {"poll_response_too_long", PollResponseTooLong},
    {"fragmented_response", FragmentedResponse},
    {"response_too_long", ResponseTooLong},
    {"fragmented_request", FragmentedRequest},
    {"ucmm_connections", UcmmConnections},
    {"watch_own_mac", WatchOwnMac},
    {"busy_adapter", BusyAdapter},
    {"strange_frames", StrangeFrames},
};

bool ReadFile(const std::string& path, Bytes& out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return true;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (argc != 2 && !check) {
    std::fprintf(stderr, "usage: link_seeds [--check] DIR\n");
    return 2;
  }
  const std::string dir = argv[argc - 1];
  int failures = 0;
  for (const Seed& seed : SEEDS) {
    const Bytes bytes = seed.make();
    const std::string path = dir + "/" + seed.name;
    if (bytes.size() > MAX_SEED_LEN) {
      std::fprintf(stderr, "%s: %zu bytes, over %zu\n", seed.name, bytes.size(), MAX_SEED_LEN);
      ++failures;
    } else if (check) {
      Bytes stored;
      if (!ReadFile(path, stored) || stored != bytes) {
        std::fprintf(stderr, "%s differs from what link_seeds writes\n", path.c_str());
        ++failures;
      }
    } else if (!WriteFile(path, bytes)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      ++failures;
    }
  }
  return failures ? 1 : 0;
}
