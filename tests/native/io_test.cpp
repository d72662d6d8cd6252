// Poll commands, duplicate MAC ID checks and the reassembly of the slave's
// I/O messages, frame by frame.
#include "link_harness.h"

namespace {

using namespace devicenet;
using linktest::Frame;
using linktest::LinkFixture;

constexpr uint8_t S = 12;
constexpr uint32_t POLL_CMD = 0x400 | (S << 3) | 5;
constexpr uint32_t DUP_MAC = 0x400 | (S << 3) | 7;
constexpr uint32_t POLL_RESP = (15 << 6) | S;

class Io : public LinkFixture {
 protected:
  // One pass of the node's I/O side, as DriveNodes does it: the received
  // message first, then the step.
  void IoTick(const DnMessage* received = nullptr) {
    IoReceive(table(), S, received);
    if (const DnMessage* out = IoStep(table(), S)) Send(*out);
  }
  void FeedIo(uint32_t id, std::vector<uint8_t> data) {
    DnMessage m{};
    ASSERT_TRUE(DecodeFrame(linktest::MakeFrame(id, data), m));
    ASSERT_TRUE(ParseMessage(m, table()));
    IoTick(&m);
  }
  bool Poll(std::vector<uint8_t> out) {
    return IoRequest(S, 2000, table(), out.data(), out.size());
  }
  int Result() {
    uint8_t result = 0xFF;
    return IoTakeResult(S, table(), result) ? result : -1;
  }
  std::vector<uint8_t> Consumed(size_t bufSize = 1000) {
    static uint8_t buf[1000];
    size_t len = 12345;
    if (!TakeConsumed(S, 15, table(), buf, bufSize, len)) return {0xEE, 0xEE};
    return std::vector<uint8_t>(buf, buf + len);
  }
};

TEST_F(Io, PollOutputIsSentWholeOrInFragmentsByTheConnectionSize) {
  std::vector<uint8_t> twenty(20);
  for (uint8_t i = 0; i < 20; ++i) twenty[i] = i;
  node(S).G2Size[5] = 20;
  ASSERT_TRUE(Poll(twenty));
  IoTick();
  EXPECT_FRAME(Sent(), POLL_CMD, {0x00, 0, 1, 2, 3, 4, 5, 6});
  IoTick();
  EXPECT_FRAME(Sent(), POLL_CMD, {0x41, 7, 8, 9, 10, 11, 12, 13});
  IoTick();
  EXPECT_FRAME(Sent(), POLL_CMD, {0x82, 14, 15, 16, 17, 18, 19});
  IoTick();
  EXPECT_TRUE(NothingSent());
  EXPECT_EQ(node(S).IoState, IO_WAITING);

  ASSERT_TRUE(Poll({1, 2, 3, 4, 5}));
  IoTick();
  EXPECT_FRAME(Sent(), POLL_CMD, {0x3F, 1, 2, 3, 4, 5});

  node(S).G2Size[5] = 8;
  ASSERT_TRUE(Poll({1, 2, 3, 4, 5, 6, 7, 8}));
  IoTick();
  EXPECT_FRAME(Sent(), POLL_CMD, {1, 2, 3, 4, 5, 6, 7, 8});

  node(S).G2Size[5] = 0;
  ASSERT_TRUE(Poll({}));
  IoTick();
  EXPECT_FRAME(Sent(), POLL_CMD, {});
}

TEST_F(Io, OutputLongerThanTheConnectionIsRefused) {
  EXPECT_FALSE(Poll({1}));  // nothing learned yet: size 0
  node(S).G2Size[5] = 4;
  EXPECT_FALSE(Poll({1, 2, 3, 4, 5}));
  std::vector<uint8_t> big(1001);
  node(S).G2Size[5] = 2000;
  EXPECT_FALSE(Poll(big));
  // Queued, but the size shrank before it went out: ends failed, nothing sent.
  ASSERT_TRUE(Poll({1, 2, 3}));
  node(S).G2Size[5] = 2;
  IoTick();
  EXPECT_TRUE(NothingSent());
  EXPECT_EQ(Result(), RESULT_FAILED);
}

TEST_F(Io, PollResponsesEndThePollAndAreTakenOnce) {
  node(S).G2Size[5] = 1;
  node(S).G1Size[15] = 2;
  ASSERT_TRUE(Poll({9}));
  IoTick();
  Sent();
  EXPECT_EQ(Result(), -1);
  FeedIo(POLL_RESP, {0xAA, 0xBB});
  EXPECT_EQ(Result(), RESULT_COMPLETED);
  FeedIo(POLL_RESP, {0xCC, 0xDD});  // a second one without a take
  EXPECT_EQ(Consumed(), (std::vector<uint8_t>{0xCC, 0xDD}));
  EXPECT_EQ(Consumed(), (std::vector<uint8_t>{0xEE, 0xEE}));  // nothing new
  FeedIo(POLL_RESP, {1, 2});
  EXPECT_EQ(Consumed(1), (std::vector<uint8_t>{1}));  // cut to the buffer
}

TEST_F(Io, FragmentedPollResponseIsReassembled) {
  node(S).G2Size[5] = 0;
  node(S).G1Size[15] = 20;
  ASSERT_TRUE(Poll({}));
  IoTick();
  Sent();
  FeedIo(POLL_RESP, {0x00, 1, 2, 3, 4, 5, 6, 7});
  FeedIo(POLL_RESP, {0x41, 8, 9, 10, 11, 12, 13, 14});
  EXPECT_EQ(Result(), -1);
  FeedIo(POLL_RESP, {0x82, 15, 16, 17, 18, 19, 20});
  EXPECT_EQ(Result(), RESULT_COMPLETED);
  std::vector<uint8_t> expected(20);
  for (uint8_t i = 0; i < 20; ++i) expected[i] = i + 1;
  EXPECT_EQ(Consumed(), expected);

  // A short message of the fragmented connection: first fragment, count 0x3F.
  ASSERT_TRUE(Poll({}));
  IoTick();
  FeedIo(POLL_RESP, {0x3F, 7, 7});
  EXPECT_EQ(Result(), RESULT_COMPLETED);
  EXPECT_EQ(Consumed(), (std::vector<uint8_t>{7, 7}));
}

TEST_F(Io, BrokenFragmentSequencesAreDroppedAndThePollTimesOut) {
  node(S).G1Size[15] = 20;
  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> frames;
  } cases[] = {
      {"middle with count 2 for 1", {{0x00, 1, 2, 3, 4, 5, 6, 7}, {0x42, 1}, {0x82, 1}}},
      {"middle without a first", {{0x41, 1, 2}, {0x82, 1}}},
      {"first with a count", {{0x05, 1, 2}, {0x41, 1}, {0x82, 1}}},
      {"acknowledge type", {{0x00, 1, 2}, {0xC1, 1}, {0x82, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Poll({}));
    IoTick();
    Sent();
    for (const auto& f : c.frames) FeedIo(POLL_RESP, f);
    EXPECT_EQ(Result(), -1);
    platform::AdvanceTestClock(2001);
    IoTick();
    EXPECT_EQ(Result(), RESULT_TIMEOUT);
  }
  // A new first fragment starts afresh after a broken one.
  FeedIo(POLL_RESP, {0x00, 1, 2, 3, 4, 5, 6, 7});
  FeedIo(POLL_RESP, {0x00, 9});
  FeedIo(POLL_RESP, {0x81, 10});
  EXPECT_EQ(Consumed(), (std::vector<uint8_t>{9, 10}));
}

TEST_F(Io, ReassemblyOverAThousandBytesIsDropped) {
  node(S).G1Size[15] = 2000;
  FeedIo(POLL_RESP, {0x00, 1, 2, 3, 4, 5, 6, 7});
  uint8_t count = 1;
  for (int bytes = 7; bytes + 7 <= 1000; bytes += 7) {
    FeedIo(POLL_RESP, {uint8_t(0x40 | count), 1, 2, 3, 4, 5, 6, 7});
    count = (count + 1) & 0x3F;
  }
  EXPECT_EQ(node(S).Consume[15].AssemblyLen, 994);
  FeedIo(POLL_RESP, {uint8_t(0x80 | count), 1, 2, 3, 4, 5, 6, 7});  // 1001
  EXPECT_EQ(node(S).Consume[15].AssemblyLen, 0);
  EXPECT_EQ(Consumed(), (std::vector<uint8_t>{0xEE, 0xEE}));
}

TEST_F(Io, DuplicateMacCheckEndsOnlyOnAResponse) {
  const uint8_t zeros[7] = {};
  EXPECT_FALSE(DupMacRequest(S, 60, table(), zeros, 6));
  ASSERT_TRUE(DupMacRequest(S, 60, table(), zeros, 7));
  IoTick();
  EXPECT_FRAME(Sent(), DUP_MAC, {0, 0, 0, 0, 0, 0, 0});
  FeedIo(DUP_MAC, {0x00, 0x00, 0x01, 0x00, 0x01, 0x02, 0x03});  // another request
  FeedIo(DUP_MAC, {0x80, 0x00, 0x01, 0x00, 0x01, 0x02});        // too short
  EXPECT_EQ(Result(), -1);
  FeedIo(DUP_MAC, {0x80, 0x00, 0x01, 0x00, 0x01, 0x02, 0x03});
  EXPECT_EQ(Result(), RESULT_COMPLETED);

  ASSERT_TRUE(DupMacRequest(S, 60, table(), zeros, 7));
  IoTick();
  platform::AdvanceTestClock(60);
  IoTick();
  EXPECT_EQ(Result(), -1);
  platform::AdvanceTestClock(1);
  IoTick();
  EXPECT_EQ(Result(), RESULT_TIMEOUT);
}

// A node that starts up announces itself with check requests for its own
// MAC ID: each whole request is counted for that node, whatever else runs;
// responses, short frames and other nodes' requests are not.
TEST_F(Io, TheNodesOwnCheckRequestsAreCounted) {
  const uint8_t zeros[7] = {};
  const struct {
    uint32_t id;
    std::vector<uint8_t> data;
    uint32_t counted;
  } frames[] = {
      {DUP_MAC, {0x00, 0x28, 0x00, 0x01, 0x02, 0x03, 0x04}, 1},
      {DUP_MAC, {0x80, 0x28, 0x00, 0x01, 0x02, 0x03, 0x04}, 0},        // a response
      {DUP_MAC, {0x00, 0x28, 0x00, 0x01, 0x02, 0x03}, 0},              // too short
      {DUP_MAC + 8, {0x00, 0x28, 0x00, 0x01, 0x02, 0x03, 0x04}, 0},    // the next MAC ID's
      {DUP_MAC, {0x00, 0x28, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05}, 1},  // a longer one
  };
  for (const auto& f : frames) {
    SCOPED_TRACE(testing::Message() << std::hex << f.id << " " << int(f.data[0]));
    const uint32_t before = NodeOf(table(), S).OwnChecksHeard;
    FeedIo(f.id, f.data);
    EXPECT_EQ(NodeOf(table(), S).OwnChecksHeard - before, f.counted);
  }
  // Counted while a probe of the node waits too, which a request never ends.
  ASSERT_TRUE(DupMacRequest(S, 60, table(), zeros, 7));
  IoTick();
  const uint32_t before = NodeOf(table(), S).OwnChecksHeard;
  FeedIo(DUP_MAC, {0x00, 0x28, 0x00, 0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(NodeOf(table(), S).OwnChecksHeard - before, 1u);
  EXPECT_EQ(Result(), -1);
}

}  // namespace
