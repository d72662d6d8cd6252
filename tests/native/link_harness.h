// Drives the link layer by hand: frames are fed in as a slave would send
// them, and the frames the master sends are collected, as the receive tick
// would (each sent frame is also seen by the connection tracking).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <initializer_list>
#include <vector>

#include "devicenet/devicenet.h"
#include "platform/platform.h"

namespace linktest {

using namespace devicenet;

struct Frame {
  uint32_t id;
  std::vector<uint8_t> data;
};

inline bool operator==(const Frame& a, const Frame& b) {
  return a.id == b.id && a.data == b.data;
}

inline std::ostream& operator<<(std::ostream& os, const Frame& f) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%03X", static_cast<unsigned>(f.id));
  os << buf << " [";
  for (size_t i = 0; i < f.data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", f.data[i]);
    os << buf;
  }
  return os << "]";
}

inline CanFrame MakeFrame(uint32_t id, const std::vector<uint8_t>& data) {
  CanFrame f{};
  f.Id = id;
  f.Len = static_cast<uint8_t>(data.size());
  if (!data.empty()) std::memcpy(f.Data, data.data(), data.size() < 8 ? data.size() : 8);
  return f;
}

// The node table is large (about 2.3 MB): one static instance for all tests.
inline NodeTable& Table() {
  static NodeTable table;
  return table;
}

class LinkFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    InitNodeTable(Table());
    platform::EnableTestClock(1000);
  }
  void TearDown() override { platform::DisableTestClock(); }

  NodeTable& table() { return Table(); }
  NodeRecord& node(uint8_t mac) { return NodeOf(Table(), mac); }

  // Sends a message the way the send hook does: encoded, recorded, and shown
  // to the connection tracking.
  void Send(const DnMessage& out) {
    CanFrame frame{};
    EncodeFrame(out, frame);
    sent_.push_back({frame.Id, std::vector<uint8_t>(frame.Data, frame.Data + frame.Len)});
    DnMessage seen{};
    if (DecodeFrame(frame, seen) && ParseMessage(seen, Table())) TrackConnection(seen, Table());
  }

  // One pass of every node's explicit state machine.
  void Drive(const DnMessage* received) {
    for (uint8_t mac = 0; mac < NODE_COUNT; ++mac) {
      if (const DnMessage* out = ExplStep(Table(), mac, received)) Send(*out);
    }
  }

  // One receive tick: the frame (if valid) to every node, then a pass without.
  // Returns false when the frame was dropped.
  bool Feed(uint32_t id, std::initializer_list<uint8_t> data) {
    const CanFrame frame = MakeFrame(id, data);
    DnMessage m{};
    const bool ok = DecodeFrame(frame, m) && ParseMessage(m, Table());
    if (ok) {
      TrackConnection(m, Table());
      Drive(&m);
    }
    Drive(nullptr);
    return ok;
  }

  void Tick() { Drive(nullptr); }

  // The oldest frame the master sent that the test has not looked at.
  Frame Sent() {
    if (sent_.empty()) return {0xFFFF, {}};
    Frame f = sent_.front();
    sent_.pop_front();
    return f;
  }
  bool NothingSent() const { return sent_.empty(); }

  struct Outcome {
    bool ended;
    uint8_t result;
    uint8_t service;
    std::vector<uint8_t> data;
  };
  Outcome Take(uint8_t mac, size_t bufSize = 1000) {
    static uint8_t buf[1000];
    size_t len = 0;
    uint8_t result = 0, service = 0;
    Outcome o{};
    o.ended = ExplTakeResponse(mac, Table(), buf, bufSize, len, result, service);
    o.result = result;
    o.service = service;
    o.data.assign(buf, buf + len);
    return o;
  }

  std::deque<Frame> sent_;
};

}  // namespace linktest

#define EXPECT_FRAME(actual, id, ...) EXPECT_EQ((actual), (::linktest::Frame{id, __VA_ARGS__}))
