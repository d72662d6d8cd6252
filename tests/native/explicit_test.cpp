// Explicit requests and responses, fragmented both ways, with the
// acknowledges, the transaction toggle, protocol errors and time-outs.
#include <functional>

#include "link_harness.h"

namespace {

using namespace devicenet;
using linktest::Frame;
using linktest::LinkFixture;

constexpr uint8_t M = 2;  // the master's own MAC ID
constexpr uint8_t S = 5;  // the slave
constexpr uint32_t G2_REQ = 0x400 | (S << 3) | 4;
constexpr uint32_t G2_RESP = 0x400 | (S << 3) | 3;
constexpr uint32_t G2_UNCONNECTED = 0x400 | (S << 3) | 6;
constexpr uint32_t UCMM_REQ = 0x780 | M;
constexpr uint32_t UCMM_RESP = 0x740 | S;

class Explicit : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    table().OwnMacId = M;
  }

  bool Get(uint8_t group, uint16_t classId, uint16_t instance, std::vector<uint8_t> data,
           uint32_t timeoutMs = 2000) {
    return ExplRequest(S, group, timeoutMs, table(), SVC_GET_ATTRIBUTE_SINGLE, classId, instance,
                       data.data(), data.size());
  }
  uint8_t T() { return node(S).Toggle ? 0x40 : 0x00; }
};

TEST_F(Explicit, RequestFramesOfTheConnectionSetUpAndAttributeAccess) {
  struct Case {
    const char* name;
    std::function<bool(NodeTable&)> queue;
    std::function<Frame(uint8_t t)> expected;
  } cases[] = {
      {"Group 2 Allocate",
       [](NodeTable& t) {
         const uint8_t d[] = {0x03, M};
         return ExplRequest(S, 2, 200, t, 0x4B, 3, 1, d, 2);
       },
       [](uint8_t t) {
         return Frame{G2_UNCONNECTED, {uint8_t(t | M), 0x4B, 0x03, 0x01, 0x03, M}};
       }},
      {"Release after a Group 2 Allocate",
       [](NodeTable& t) {
         const uint8_t d[] = {0x03, M};
         ExplRequest(S, 2, 200, t, 0x4B, 3, 1, d, 2);
         return ExplRequest(S, 2, 2000, t, 0x4C, 3, 1, d, 1);
       },
       [](uint8_t t) {
         return Frame{G2_UNCONNECTED, {uint8_t(t | M), 0x4C, 0x03, 0x01, 0x03}};
       }},
      {"Release after a Group 2 Allocate that granted 16/16",
       [](NodeTable& t) {
         const uint8_t d[] = {0x03, M};
         ExplRequest(S, 2, 200, t, 0x4B, 3, 1, d, 2);
         t.Node[S].BodyFormat = 2;
         return ExplRequest(S, 2, 2000, t, 0x4C, 3, 1, d, 1);
       },
       [](uint8_t t) {
         return Frame{G2_UNCONNECTED, {uint8_t(t | M), 0x4C, 0x03, 0x01, 0x03}};
       }},
      {"Release without a Group 2 Allocate",
       [](NodeTable& t) {
         const uint8_t d[] = {0x03};
         return ExplRequest(S, 2, 2000, t, 0x4C, 3, 1, d, 1);
       },
       [](uint8_t t) {
         return Frame{G2_REQ, {uint8_t(t | M), 0x4C, 0x03, 0x01, 0x03}};
       }},
      {"UCMM Open",
       [](NodeTable& t) {
         const uint8_t d[] = {0x00, 0x30};
         return ExplRequest(S, 3, 200, t, 0x4B, 0, 0, d, 2);
       },
       [](uint8_t t) {
         return Frame{UCMM_REQ, {uint8_t(t | S), 0x4B, 0x00, 0x30}};
       }},
      {"UCMM Close",
       [](NodeTable& t) {
         const uint8_t d[] = {0x07, 0x01};
         return ExplRequest(S, 3, 2000, t, 0x4C, 0, 0, d, 2);
       },
       [](uint8_t t) {
         return Frame{UCMM_REQ, {uint8_t(t | S), 0x4C, 0x07, 0x01}};
       }},
      {"Get_Attribute_Single in group 2",
       [](NodeTable& t) {
         const uint8_t d[] = {0x07};
         return ExplRequest(S, 2, 2000, t, 0x0E, 5, 2, d, 1);
       },
       [](uint8_t t) {
         return Frame{G2_REQ, {uint8_t(t | M), 0x0E, 0x05, 0x02, 0x07}};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InitNodeTable(table());
    table().OwnMacId = M;
    ASSERT_TRUE(c.queue(table()));
    Tick();
    EXPECT_EQ(Sent(), c.expected(T()));
    EXPECT_TRUE(NothingSent());
  }
}

TEST_F(Explicit, ToggleAlternatesAndTheResponseMustCarryIt) {
  ASSERT_TRUE(Get(2, 1, 1, {7}));
  Tick();
  EXPECT_FRAME(Sent(), G2_REQ, {0x40 | M, 0x0E, 1, 1, 7});
  Feed(G2_RESP, {0x40 | M, 0x8E, 0x2A});
  auto o = Take(S);
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.result, RESULT_COMPLETED);
  EXPECT_EQ(o.service, 0x0E);
  EXPECT_EQ(o.data, (std::vector<uint8_t>{0x2A}));

  ASSERT_TRUE(Get(2, 1, 1, {7}));
  Tick();
  EXPECT_FRAME(Sent(), G2_REQ, {M, 0x0E, 1, 1, 7});
  Feed(G2_RESP, {0x40 | M, 0x8E, 0x2A});  // the previous toggle
  o = Take(S);
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.result, RESULT_FAILED);
}

TEST_F(Explicit, ErrorResponseAndForeignFramesIgnored) {
  ASSERT_TRUE(Get(2, 0x64, 1, {1}));
  Tick();
  Sent();
  Feed(G2_RESP, {0x40 | 7, 0x94, 0x08, 0xFF});     // another master's response
  Feed(G2_REQ, {0x40 | M, 0x94, 0x08, 0xFF});      // wrong message ID
  Feed(0x400 | (6 << 3) | 3, {0x40 | M, 0x94});    // another slave
  Feed(G2_RESP, {0x40 | M, 0x90, 0x64, 0x00});     // a late answer to a Set
  Feed(G2_RESP, {0xC0 | M, 0x00, 0xCB, 0x00, 1});  // ... to an Allocate, fragmented
  Feed(G2_RESP, {0x40 | M, 0x0E, 0x01});           // not a response
  EXPECT_FALSE(Take(S).ended);
  EXPECT_TRUE(NothingSent());
  Feed(G2_RESP, {0x40 | M, 0x94, 0x05, 0xFF});
  auto o = Take(S);
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.result, RESULT_COMPLETED);
  EXPECT_EQ(o.service, SVC_ERROR_RESPONSE);
  EXPECT_EQ(o.data, (std::vector<uint8_t>{0x05, 0xFF}));
}

TEST_F(Explicit, SevenBodyBytesGoInOneFrameEightAreFragmented) {
  // Service + class + instance + 4 data bytes = 7.
  const uint8_t four[] = {1, 2, 3, 4};
  ASSERT_TRUE(ExplRequest(S, 2, 2000, table(), 0x10, 5, 2, four, 4));
  Tick();
  EXPECT_FRAME(Sent(), G2_REQ, {0x40 | M, 0x10, 5, 2, 1, 2, 3, 4});

  // Get with 5 data bytes: ReqLen 8, a first fragment of 6 then a last of 2.
  ASSERT_TRUE(Get(2, 5, 2, {9, 1, 2, 3, 4}));
  EXPECT_EQ(node(S).ReqLen, 8);
  Tick();
  EXPECT_FRAME(Sent(), G2_REQ, {0x80 | M, 0x00, 0x0E, 5, 2, 9, 1, 2});
  Tick();
  EXPECT_TRUE(NothingSent());  // waits for the acknowledge
  Feed(G2_RESP, {0x80 | M, 0xC0, 0x00});
  EXPECT_FRAME(Sent(), G2_REQ, {0x80 | M, 0x81, 3, 4});
  Feed(G2_RESP, {0x80 | M, 0xC1, 0x00});
  EXPECT_TRUE(NothingSent());
  Feed(G2_RESP, {M, 0x8E});
  auto o = Take(S);
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.result, RESULT_COMPLETED);
  EXPECT_TRUE(o.data.empty());
}

TEST_F(Explicit, LongestRequestIsSentWholeWithWrappingFragmentCounts) {
  std::vector<uint8_t> data(995);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  const uint8_t toggleBefore = node(S).Toggle;
  EXPECT_FALSE(ExplRequest(S, 2, 2000, table(), 0x10, 5, 2, data.data(), 996));
  EXPECT_EQ(node(S).Toggle, toggleBefore);  // refused with nothing changed
  EXPECT_EQ(node(S).ExplState, EXPL_IDLE);

  node(S).BodyFormat = 2;  // 16/16: the longest path, 5 header bytes
  ASSERT_TRUE(ExplRequest(S, 2, 2000, table(), 0x10, 5, 2, data.data(), 995));
  EXPECT_EQ(node(S).ReqLen, 1000);
  std::vector<uint8_t> body;
  Tick();
  for (int count = 0;; ++count) {
    Frame f = Sent();
    ASSERT_EQ(f.id, G2_REQ);
    ASSERT_GE(f.data.size(), 3u);
    EXPECT_EQ(f.data[0], 0xC0 | M);
    const uint8_t type = f.data[1] >> 6;
    EXPECT_EQ(f.data[1] & 0x3F, count % 64);
    EXPECT_EQ(type, count == 0 ? FRAG_FIRST : (body.size() + 6 < 1000 ? FRAG_MIDDLE : FRAG_LAST));
    body.insert(body.end(), f.data.begin() + 2, f.data.end());
    Feed(G2_RESP, {0xC0 | M, uint8_t(0xC0 | (count % 64)), 0x00});
    if (type == FRAG_LAST) break;
    ASSERT_LT(count, 200);
  }
  EXPECT_EQ(body.size(), 1000u);
  EXPECT_EQ(0, std::memcmp(body.data(), "\x10\x05\x00\x02\x00", 5));
  EXPECT_EQ(0, std::memcmp(body.data() + 5, data.data(), data.size()));
}

TEST_F(Explicit, FragmentedResponseIsAcknowledgedAndReassembled) {
  ASSERT_TRUE(Get(2, 1, 1, {7}));
  Tick();
  Sent();
  Feed(G2_RESP, {0xC0 | M, 0x00, 0x8E, 1, 2, 3, 4, 5});
  EXPECT_FRAME(Sent(), G2_REQ, {0xC0 | M, 0xC0, 0x00});
  Feed(G2_RESP, {0xC0 | M, 0x41, 6, 7, 8, 9, 10, 11});
  EXPECT_FRAME(Sent(), G2_REQ, {0xC0 | M, 0xC1, 0x00});
  Feed(G2_RESP, {0xC0 | M, 0x82, 12, 13, 14, 15});
  EXPECT_FRAME(Sent(), G2_REQ, {0xC0 | M, 0xC2, 0x00});
  auto o = Take(S);
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.result, RESULT_COMPLETED);
  ASSERT_EQ(o.data.size(), 15u);
  for (uint8_t i = 0; i < 15; ++i) EXPECT_EQ(o.data[i], i + 1);
}

TEST_F(Explicit, TakeCutsToTheBufferAndReportsRunningExchanges) {
  ASSERT_TRUE(Get(2, 1, 1, {7}));
  Tick();
  Sent();
  auto running = Take(S);
  EXPECT_FALSE(running.ended);
  EXPECT_EQ(running.result, RESULT_FAILED);
  EXPECT_EQ(running.service, 0);
  EXPECT_TRUE(running.data.empty());
  Feed(G2_RESP, {0xC0 | M, 0x00, 0x8E, 1, 2, 3, 4, 5});
  Feed(G2_RESP, {0xC0 | M, 0x81, 6, 7, 8, 9, 10});
  auto o = Take(S, 4);
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.data, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_FALSE(Take(S).ended);  // taken: idle again
}

TEST_F(Explicit, ProtocolErrorsEndTheExchangeWithResultFailed) {
  struct Case {
    const char* name;
    bool longRequest;  // 8-byte body: the first frame is a fragment
    std::vector<std::vector<uint8_t>> answers;
  } cases[] = {
      {"ack with wrong toggle", true, {{0x80 | M, 0xC0, 0x00}}},
      {"ack not a fragment", true, {{0x40 | M, 0xC0, 0x00}}},
      {"ack with wrong count", true, {{0xC0 | M, 0xC1, 0x00}}},
      {"ack of wrong type", true, {{0xC0 | M, 0x40, 0x00}}},
      {"ack with status too much data", true, {{0xC0 | M, 0xC0, 0x01}}},
      {"response fragment count 2 for 1",
       false,
       {{0xC0 | M, 0x00, 0x8E, 1, 2, 3, 4, 5}, {0xC0 | M, 0x42, 6}}},
      {"response starting with a middle fragment", false, {{0xC0 | M, 0x40, 1, 2}}},
      {"first fragment with a count", false, {{0xC0 | M, 0x01, 0x8E, 1}}},
      {"second first fragment",
       false,
       {{0xC0 | M, 0x00, 0x8E, 1, 2, 3, 4, 5}, {0xC0 | M, 0x01, 0x8E, 1}}},
      {"unfragmented frame during reassembly",
       false,
       {{0xC0 | M, 0x00, 0x8E, 1, 2, 3, 4, 5}, {0x40 | M, 0x8E, 1}}},
      {"fragment with the wrong toggle",
       false,
       {{0xC0 | M, 0x00, 0x8E, 1, 2, 3, 4, 5}, {0x80 | M, 0x81, 6}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InitNodeTable(table());
    table().OwnMacId = M;
    ASSERT_TRUE(c.longRequest ? Get(2, 1, 1, {7, 0, 0, 0, 0}) : Get(2, 1, 1, {7}));
    Tick();
    for (const auto& a : c.answers) {
      const linktest::CanFrame f = linktest::MakeFrame(G2_RESP, a);
      DnMessage m{};
      ASSERT_TRUE(DecodeFrame(f, m) && ParseMessage(m, table()));
      TrackConnection(m, table());
      Drive(&m);
      Drive(nullptr);
    }
    auto o = Take(S);
    ASSERT_TRUE(o.ended);
    EXPECT_EQ(o.result, RESULT_FAILED);
  }
}

TEST_F(Explicit, AckWithoutStatusByteIsIgnored) {
  ASSERT_TRUE(Get(2, 1, 1, {7, 0, 0, 0, 0}));
  Tick();
  Sent();
  Feed(G2_RESP, {0xC0 | M, 0xC0});
  EXPECT_FALSE(Take(S).ended);
  EXPECT_TRUE(NothingSent());
}

TEST_F(Explicit, OversizedResponseIsRefusedWithStatusOne) {
  ASSERT_TRUE(Get(2, 1, 1, {7}));
  Tick();
  Sent();
  Feed(G2_RESP, {0xC0 | M, 0x00, 0x8E, 1, 2, 3, 4, 5});  // 5 bytes
  EXPECT_FRAME(Sent(), G2_REQ, {0xC0 | M, 0xC0, 0x00});
  int count = 1;
  for (int bytes = 5; bytes + 6 <= 1000; bytes += 6, ++count) {
    Feed(G2_RESP, {0xC0 | M, uint8_t(0x40 | (count & 0x3F)), 1, 2, 3, 4, 5, 6});
    EXPECT_FRAME(Sent(), G2_REQ, {0xC0 | M, uint8_t(0xC0 | (count & 0x3F)), 0x00});
  }
  ASSERT_EQ(node(S).RespLen, 995);
  Feed(G2_RESP, {0xC0 | M, uint8_t(0x80 | (count & 0x3F)), 1, 2, 3, 4, 5, 6});
  EXPECT_FRAME(Sent(), G2_REQ, {0xC0 | M, uint8_t(0xC0 | (count & 0x3F)), 0x01});
  auto o = Take(S);
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.result, RESULT_FAILED);
}

TEST_F(Explicit, TimeOutCountsFromTheLastFrameSent) {
  ASSERT_TRUE(Get(2, 1, 1, {7, 0, 0, 0, 0}));  // fragmented request
  Tick();
  Sent();
  platform::AdvanceTestClock(1500);
  Feed(G2_RESP, {0x40 | 7, 0x8E});  // not for us: does not restart the wait
  Feed(G2_RESP, {0xC0 | M, 0xC0, 0x00});
  Sent();  // the last fragment restarts the wait
  platform::AdvanceTestClock(2000);
  Tick();
  EXPECT_FALSE(Take(S).ended);
  platform::AdvanceTestClock(1);
  Tick();
  auto o = Take(S);
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.result, RESULT_TIMEOUT);

  // While a response is reassembled, every acknowledge restarts the wait.
  ASSERT_TRUE(Get(2, 1, 1, {7}, 200));
  Tick();
  Sent();
  platform::AdvanceTestClock(150);
  Feed(G2_RESP, {uint8_t(0x80 | T() | M), 0x00, 0x8E, 1, 2, 3, 4, 5});
  EXPECT_FRAME(Sent(), G2_REQ, {uint8_t(0x80 | T() | M), 0xC0, 0x00});
  platform::AdvanceTestClock(200);
  Tick();
  EXPECT_FALSE(Take(S).ended);
  platform::AdvanceTestClock(1);
  Tick();
  EXPECT_EQ(Take(S).result, RESULT_TIMEOUT);
}

// Class and instance go out as wide as the granted body format carries
// them; a wider ID is refused before anything changes, never cut to
// another object (class 0x103 cut to 03 is the DeviceNet object).
TEST_F(Explicit, PathIdsWiderThanTheBodyFormatAreRefused) {
  struct Case {
    uint8_t format;
    uint16_t classMax;
    uint16_t instanceMax;
    std::vector<uint8_t> widest;  // the path of class and instance at their limits
  };
  const Case cases[] = {
      {0, 0xFF, 0xFF, {0xFF, 0xFF}},
      {1, 0xFF, 0xFFFF, {0xFF, 0xFF, 0xFF}},
      {2, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
      {3, 0xFFFF, 0xFF, {0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    InitNodeTable(table());
    table().OwnMacId = M;
    node(S).BodyFormat = c.format;
    uint16_t classMax = 0;
    uint16_t instanceMax = 0;
    ASSERT_TRUE(ExplPathLimits(table(), S, 2, SVC_GET_ATTRIBUTE_SINGLE, 1, classMax, instanceMax));
    EXPECT_EQ(classMax, c.classMax);
    EXPECT_EQ(instanceMax, c.instanceMax);

    const uint8_t toggle = node(S).Toggle;
    if (c.classMax < 0xFFFF) {
      EXPECT_FALSE(Get(2, c.classMax + 1, 1, {7}));
    }
    if (c.instanceMax < 0xFFFF) {
      EXPECT_FALSE(Get(2, 1, c.instanceMax + 1, {7}));
    }
    Tick();
    EXPECT_TRUE(NothingSent());
    EXPECT_EQ(node(S).Toggle, toggle);
    EXPECT_EQ(node(S).ExplState, EXPL_IDLE);

    ASSERT_TRUE(Get(2, c.classMax, c.instanceMax, {7}));
    Tick();
    std::vector<uint8_t> body = {uint8_t(T() | M), 0x0E};
    body.insert(body.end(), c.widest.begin(), c.widest.end());
    body.push_back(7);
    EXPECT_EQ(Sent(), (Frame{G2_REQ, body}));
  }

  // The Group 2 Only port reads 8/8 whatever was granted; the UCMM's own
  // Open names no path at all.
  node(S).BodyFormat = 2;
  uint16_t classMax = 0;
  uint16_t instanceMax = 0;
  ASSERT_TRUE(ExplPathLimits(table(), S, 2, SVC_ALLOCATE, 1, classMax, instanceMax));
  EXPECT_EQ(classMax, 0xFF);
  EXPECT_EQ(instanceMax, 0xFF);
  EXPECT_FALSE(ExplPathLimits(table(), S, 3, SVC_ALLOCATE, 0, classMax, instanceMax));
  node(S).BodyFormat = 4;
  EXPECT_FALSE(ExplPathLimits(table(), S, 2, SVC_GET_ATTRIBUTE_SINGLE, 1, classMax, instanceMax));
}

TEST_F(Explicit, UcmmConnectionRequestsUseTheLearnedGroupAndMessageIds) {
  // Open with group select 3, source message ID 0, answered with format 0,
  // response message ID 1 and instance 7.
  const uint8_t open[] = {0x00, 0x30};
  ASSERT_TRUE(ExplRequest(S, 3, 200, table(), 0x4B, 0, 0, open, 2));
  Tick();
  EXPECT_FRAME(Sent(), UCMM_REQ, {0x40 | S, 0x4B, 0x00, 0x30});
  Feed(UCMM_RESP, {0x40 | M, 0xCB, 0x00, 0x01, 0x07, 0x00});
  ASSERT_EQ(Take(S).result, RESULT_COMPLETED);
  EXPECT_EQ(node(S).ExplGroup, 3);
  EXPECT_EQ(node(S).ReqMsgId, 0);
  EXPECT_EQ(node(S).RespMsgId, 1);
  EXPECT_EQ(node(S).ConnInstance, 7);

  // Group 0 with an instance: the connection's group 3 and message IDs.
  ASSERT_TRUE(Get(0, 5, 7, {9}));
  Tick();
  EXPECT_FRAME(Sent(), 0x600 | M, {S, 0x0E, 5, 7, 9});
  Feed(0x640 | S, {M, 0x8E, 0x00, 0x00});
  EXPECT_EQ(Take(S).result, RESULT_COMPLETED);

  // An Allocate on that connection (instance 1) keeps its path and its
  // group, whatever allocator MAC ID data byte 1 names: it is no Open.
  for (const uint8_t allocator : {uint8_t{0x02}, uint8_t{0x25}, uint8_t{0x3E}}) {
    SCOPED_TRACE(int(allocator));
    const uint8_t alloc[] = {0x03, allocator};
    ASSERT_TRUE(ExplRequest(S, 3, 200, table(), 0x4B, 3, 1, alloc, 2));
    Tick();
    EXPECT_FRAME(Sent(), 0x600 | M, {uint8_t(T() | S), 0x4B, 3, 1, 0x03, allocator});
    EXPECT_EQ(node(S).ExplGroup, 3);
  }
  const uint8_t bad[] = {0x00, 0x25};  // group select 2 in an Open
  EXPECT_FALSE(ExplRequest(S, 3, 200, table(), 0x4B, 0, 0, bad, 2));
  EXPECT_FALSE(ExplRequest(S, 3, 200, table(), 0x4B, 0, 0, bad, 1));
  EXPECT_FALSE(ExplRequest(S, 4, 200, table(), 0x0E, 1, 1, bad, 1));
}

TEST_F(Explicit, GroupOneConnection) {
  // Open with group select 0 and source message ID 3; the slave answers with
  // response message ID 2 and format 1 (8/16).
  const uint8_t open[] = {0x01, 0x03};
  ASSERT_TRUE(ExplRequest(S, 3, 200, table(), 0x4B, 0, 0, open, 2));
  Tick();
  Sent();
  Feed(UCMM_RESP, {0x40 | M, 0xCB, 0x01, 0x02, 0x01, 0x00});
  ASSERT_EQ(Take(S).result, RESULT_COMPLETED);
  EXPECT_EQ(node(S).ExplGroup, 1);
  EXPECT_EQ(node(S).ReqMsgId, 3);
  EXPECT_EQ(node(S).BodyFormat, 1);

  ASSERT_TRUE(Get(0, 1, 0x0201, {7}));
  Tick();
  EXPECT_FRAME(Sent(), (3 << 6) | M, {S, 0x0E, 0x01, 0x01, 0x02, 0x07});
  Feed((2 << 6) | S, {M, 0x8E, 0x11});
  auto o = Take(S);
  EXPECT_EQ(o.result, RESULT_COMPLETED);
  EXPECT_EQ(o.data, (std::vector<uint8_t>{0x11}));
}

}  // namespace
