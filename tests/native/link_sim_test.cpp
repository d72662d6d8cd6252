// The link layer's receive tick against a simulated slave through the real
// driver binding: which frames may end an exchange, and frames the adapter
// cannot queue at once. The simulated adapter library is copied beside the
// test as the USB adapter's driver. Runs natively and under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/transactions.h"
#include "platform/platform.h"
#include "sim_client.h"

namespace {

using namespace sim_client;
using namespace devicenet;
using namespace master;

constexpr uint8_t SLAVE = 10;
constexpr uint32_t DUP_MAC_CHECK_ID = 0x400 | (SLAVE << 3) | 7;
constexpr uint32_t POLL_COMMAND_ID = 0x400 | (SLAVE << 3) | 5;

constexpr const char* CONFIG =
    "[slave]\nmac = 10\nbaud = 125\nucmm = yes\nproduced = 20\nconsumed = 20\n"
    "name = Name of three fragments\n";
constexpr const char* CONFIG_500K = "[slave]\nmac = 10\nbaud = 500\n";
// The bus takes its wire time, and the adapter queues only 16 frames.
constexpr const char* CONFIG_1000_BYTES =
    "[bus]\nwire_time = yes\nrx_queue = 16\n"
    "[slave]\nmac = 10\nbaud = 500\nucmm = yes\nproduced = 1000\nconsumed = 1000\n";

class LinkOnSimBus : public ::testing::Test {
 protected:
  void SetUp() override { Start(CONFIG, 0); }

  void Start(const char* config, int baudIndex) {
    can::CloseAdapter(nullptr);
    platform::EnableTestClock(1000);
    app::InitAppState(nullptr);
    ClearSendHook();
    SetSendHook(SendFrame);
    InitNodeTable(g_NodeTable);
    ForgetAllConnections();
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(config, "link.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    app::g_App.PrinterPort = can::PORT_USB;
    app::g_App.BaudIndex = baudIndex;
    ASSERT_TRUE(can::OpenAdapter(nullptr, baudIndex));
    g_NodeTable.OwnMacId = PickOwnMacId(SLAVE, SLAVE);
  }
  void TearDown() override {
    TheSim().failWrites(0, 0);
    TheSim().setAdapterStatus(0, 0);
    can::CloseAdapter(nullptr);
    platform::DisableTestClock();
  }

  uint32_t Get(uint16_t classId, uint16_t instance, uint8_t attribute,
               std::vector<uint8_t>& value) {
    static uint8_t buffer[1000];
    uint32_t length = 0;
    ServiceRequest r{2, 0x0E, classId, instance, attribute, 0};
    const uint32_t result = TxService(SLAVE, 0, r, buffer, length);
    value.assign(buffer, buffer + length);
    return result;
  }

  // As start-up does it, with no watchdog on the explicit and poll
  // connections: the tests let seconds pass.
  void ConnectForPolling() {
    ASSERT_EQ(TxConnect(SLAVE, g_NodeTable.OwnMacId, CONNECT_TIMEOUT_MS), TXR_OK);
    static uint8_t zero[1000];
    uint32_t length = 0;
    for (const uint16_t instance : {uint16_t{1}, uint16_t{2}}) {
      ServiceRequest rate{2, 0x10, 5, instance, 9, 2};
      ASSERT_EQ(TxService(SLAVE, 0, rate, zero, length), TXR_OK);
    }
    std::vector<uint8_t> size;
    ASSERT_EQ(Get(5, 2, 7, size), TXR_OK);
    ASSERT_EQ(Get(5, 2, 8, size), TXR_OK);
  }

  // Ticks and waits as a transaction does, but without its discarding of
  // the frames that wait in the adapter: the exchange's I/O result.
  int RunIo() {
    for (int pass = 0; pass < 100000; ++pass) {
      LinkTick();
      uint8_t result = 0;
      if (IoTakeResult(SLAVE, g_NodeTable, result)) return result;
      platform::Sleep1Ms();
    }
    return -1;
  }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

// A poll response that arrives after its poll timed out waits in the
// adapter; the next poll must take the slave's answer to its own command.
TEST_F(LinkOnSimBus, StalePollResponseDoesNotEndTheNextPoll) {
  ConnectForPolling();
  static app::IoBuffers io;
  std::memset(&io, 0, sizeof io);
  const std::vector<uint8_t> first = Pattern(20, 1);
  io.Output.Length = 20;
  std::memcpy(io.Output.Data, first.data(), 20);
  ASSERT_EQ(TheSim().delayAnswers(0, SIM_ANSWER_POLL, 2100), 0);
  ASSERT_EQ(TxPoll(SLAVE, io), TXR_IO_FAILED);
  ASSERT_EQ(TheSim().delayAnswers(0, SIM_ANSWER_POLL, 0), 0);
  platform::AdvanceTestClock(200);  // the late answer is in the adapter's queue now

  const std::vector<uint8_t> second = Pattern(20, 100);
  ASSERT_TRUE(IoRequest(SLAVE, REQUEST_TIMEOUT_MS, g_NodeTable, second.data(), second.size()));
  EXPECT_EQ(RunIo(), RESULT_COMPLETED);
  uint8_t input[1000];
  size_t length = 0;
  ASSERT_TRUE(TakeConsumed(SLAVE, 15, g_NodeTable, input, sizeof input, length));
  EXPECT_EQ(std::vector<uint8_t>(input, input + length), second);  // the slave echoes
}

TEST_F(LinkOnSimBus, StaleDuplicateMacIdResponseDoesNotAnswerTheNextCheck) {
  ASSERT_EQ(TheSim().delayAnswers(0, SIM_ANSWER_DUPMAC, 100), 0);
  ASSERT_EQ(TxProbeMac(SLAVE, PROBE_TIMEOUT_MS), TXR_IO_FAILED);
  platform::AdvanceTestClock(60);  // the late answer is in the adapter's queue now

  // The slave still answers too late for the second check.
  const uint8_t check[DUP_MAC_CHECK_LEN] = {};
  ASSERT_TRUE(DupMacRequest(SLAVE, PROBE_TIMEOUT_MS, g_NodeTable, check, sizeof check));
  const uint32_t start = platform::TickMs();
  EXPECT_EQ(RunIo(), RESULT_TIMEOUT);
  EXPECT_GT(platform::TickMs() - start, PROBE_TIMEOUT_MS);
}

// The transmit queue stays full for longer than any burst of retries; once
// it drains, the frames that waited go out, once each, in order.
TEST_F(LinkOnSimBus, FramesWaitForAFullTransmitQueueToDrain) {
  ConnectForPolling();
  static app::IoBuffers io;
  std::memset(&io, 0, sizeof io);
  const std::vector<uint8_t> out = Pattern(20, 5);
  io.Output.Length = 20;
  std::memcpy(io.Output.Data, out.data(), 20);

  TheSim().traceClear();
  TheSim().failWrites(400, SIMCAN_ERR_QXMTFULL);
  ASSERT_EQ(TxPoll(SLAVE, io), TXR_OK);
  EXPECT_EQ(TraceOf(POLL_COMMAND_ID).size(), 3u);
  SimSlaveInfo slave{};
  ASSERT_EQ(TheSim().getSlave(0, &slave), 0);
  ASSERT_EQ(slave.outputLen, 20);
  EXPECT_EQ(std::vector<uint8_t>(slave.output, slave.output + 20), out);
  EXPECT_EQ(std::vector<uint8_t>(io.Input.Data, io.Input.Data + io.Input.Length), out);

  // A fragmented explicit response: the acknowledges wait as well.
  std::vector<uint8_t> name;
  TheSim().failWrites(400, SIMCAN_ERR_QXMTFULL);
  ASSERT_EQ(Get(1, 1, 7, name), TXR_OK);
  const std::string expected = "Name of three fragments";
  ASSERT_EQ(name.size(), expected.size() + 1);
  EXPECT_EQ(std::string(name.begin() + 1, name.end()), expected);
}

// A queue that never drains is an adapter that does not send: after the
// exchange's time-out (at least a second) the exchange ends with the
// adapter's error, not as if the slave had stayed silent.
TEST_F(LinkOnSimBus, QueueThatNeverDrainsEndsEachExchangeWithTheAdapterError) {
  ConnectForPolling();
  static app::IoBuffers io;
  std::memset(&io, 0, sizeof io);
  io.Output.Length = 20;

  TheSim().traceClear();
  TheSim().failWrites(0xFFFFFFFF, SIMCAN_ERR_QXMTFULL);
  const uint32_t queueFull = TXR_ADAPTER_ERROR | SIMCAN_ERR_QXMTFULL;
  uint32_t start = platform::TickMs();
  EXPECT_EQ(TxPoll(SLAVE, io), queueFull);
  EXPECT_GT(platform::TickMs() - start, REQUEST_TIMEOUT_MS);
  EXPECT_LT(platform::TickMs() - start, REQUEST_TIMEOUT_MS + 10);

  std::vector<uint8_t> value;
  start = platform::TickMs();
  EXPECT_EQ(Get(1, 1, 1, value), queueFull);
  EXPECT_GT(platform::TickMs() - start, REQUEST_TIMEOUT_MS);
  EXPECT_LT(platform::TickMs() - start, REQUEST_TIMEOUT_MS + 10);
  EXPECT_EQ(TheSim().traceCount(), 0u);

  // A probe is held for a second, far longer than its window: never a
  // silent address.
  start = platform::TickMs();
  EXPECT_EQ(TxProbeMac(SLAVE, PROBE_TIMEOUT_MS), queueFull);
  EXPECT_GT(platform::TickMs() - start, 1000u);
  EXPECT_LT(platform::TickMs() - start, 1010u);

  // Drained again: the frames of the ended exchanges are not sent late.
  TheSim().failWrites(0, 0);
  EXPECT_EQ(TxProbeMac(SLAVE, PROBE_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(TheSim().traceCount(), 2u);  // the check and its answer, nothing before
  EXPECT_EQ(TraceOf(DUP_MAC_CHECK_ID).size(), 2u);
}

// A probe waits behind a full transmit queue longer than its answer window.
// The window starts when the driver takes it: a node answering within it is
// heard, and a silent one is given the whole window after the request left.
TEST_F(LinkOnSimBus, ProbeHeldBehindAFullQueueGetsItsWholeWindowOnceSent) {
  const struct {
    uint32_t answerDelayMs;
    int result;
  } cases[] = {
      {0, RESULT_COMPLETED},
      {PROBE_TIMEOUT_MS - 15, RESULT_COMPLETED},
      {PROBE_TIMEOUT_MS + 30, RESULT_TIMEOUT},
  };
  const uint8_t check[DUP_MAC_CHECK_LEN] = {};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answerDelayMs);
    ASSERT_EQ(TheSim().delayAnswers(0, SIM_ANSWER_DUPMAC, c.answerDelayMs), 0);
    platform::AdvanceTestClock(200);  // a late answer of the case before is gone
    DrainReceiveQueue();
    TheSim().traceClear();
    // One try a tick, a tick a millisecond: held for about 200 ms.
    TheSim().failWrites(200, SIMCAN_ERR_QXMTFULL);
    const uint32_t queued = platform::TickMs();
    ASSERT_TRUE(DupMacRequest(SLAVE, PROBE_TIMEOUT_MS, g_NodeTable, check, sizeof check));
    uint32_t sentMs = 0;
    bool sent = false;
    int result = -1;
    for (int pass = 0; pass < 10000 && result < 0; ++pass) {
      LinkTick();
      if (!sent && !TraceOf(DUP_MAC_CHECK_ID).empty()) {
        sent = true;
        sentMs = platform::TickMs();
      }
      uint8_t r = 0;
      if (IoTakeResult(SLAVE, g_NodeTable, r)) {
        result = r;
      } else {
        platform::Sleep1Ms();
      }
    }
    ASSERT_TRUE(sent);
    EXPECT_GT(sentMs - queued, 2 * PROBE_TIMEOUT_MS);
    EXPECT_EQ(result, c.result);
    if (c.result == RESULT_TIMEOUT) {
      EXPECT_GT(platform::TickMs() - sentMs, PROBE_TIMEOUT_MS);
      EXPECT_LT(platform::TickMs() - sentMs, PROBE_TIMEOUT_MS + 5);
    }
  }
}

// A frame the driver refuses ends its exchange at once with the adapter's
// word (CAN_Write's result with the status word), whatever the exchange:
// no probe reads as a silent address, no request waits out its time-out.
TEST_F(LinkOnSimBus, RefusedFrameEndsItsExchangeWithTheAdapterError) {
  const struct {
    const char* what;
    uint32_t status;     // bus status word set in the simulator
    uint32_t failWrite;  // or what every CAN_Write returns
    uint32_t word;
  } cases[] = {
      {"bus off", SIMCAN_ERR_BUSOFF, 0, SIMCAN_ERR_BUSOFF},
      {"adapter gone", 0, SIMCAN_ERR_NOTOPEN, SIMCAN_ERR_NOTOPEN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Start(CONFIG, 0);
    TheSim().setAdapterStatus(c.status, 0);
    if (c.failWrite) TheSim().failWrites(0xFFFFFFFF, c.failWrite);
    TheSim().traceClear();
    const uint32_t refusalsBefore = SendRefusals();

    uint32_t start = platform::TickMs();
    EXPECT_EQ(TxProbeMac(SLAVE, PROBE_TIMEOUT_MS), TXR_ADAPTER_ERROR | c.word);
    EXPECT_LT(platform::TickMs() - start, 5u);
    std::vector<uint8_t> value;
    start = platform::TickMs();
    EXPECT_EQ(Get(1, 1, 1, value), TXR_ADAPTER_ERROR | c.word);
    EXPECT_LT(platform::TickMs() - start, 5u);
    static app::IoBuffers io;
    std::memset(&io, 0, sizeof io);
    EXPECT_EQ(TxPoll(SLAVE, io), TXR_ADAPTER_ERROR | c.word);

    EXPECT_EQ(SendRefusals() - refusalsBefore, 3u);
    EXPECT_EQ(LastRefusalWord(), c.word);
    EXPECT_EQ(TheSim().traceCount(), 0u);
    TheSim().failWrites(0, 0);
    TheSim().setAdapterStatus(0, 0);
  }
}

// One tick empties the adapter's receive queue, but a stream of frames
// cannot hold it for ever.
TEST_F(LinkOnSimBus, OneTickReadsWhatWaitsUpToItsBound) {
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  can::DriverMsg msg{};
  for (int frames : {10, 100}) {
    SCOPED_TRACE(frames);
    for (int i = 0; i < frames; ++i) ASSERT_EQ(TheSim().injectFrame(0, 0x7F0, 8, data), 0);
    LinkTick();
    int left = 0;
    while (can::CanRead(&msg) == can::CAN_ERR_OK) ++left;
    if (frames == 10) {
      EXPECT_EQ(left, 0);
    } else {
      EXPECT_GT(left, 0);
      EXPECT_LT(left, frames);
    }
  }
}

// The fragments of one transfer go out in one tick; a full transmit queue
// ends the burst until a later tick.
TEST_F(LinkOnSimBus, FragmentsGoOutBackToBackUntilTheQueueIsFull) {
  ConnectForPolling();
  const std::vector<uint8_t> out = Pattern(20, 9);
  TheSim().traceClear();
  ASSERT_TRUE(IoRequest(SLAVE, REQUEST_TIMEOUT_MS, g_NodeTable, out.data(), out.size()));
  LinkTick();
  EXPECT_EQ(TraceOf(POLL_COMMAND_ID).size(), 3u);
  EXPECT_EQ(RunIo(), RESULT_COMPLETED);

  // Two refusals: each tick tries once and stops; the third sends it all.
  TheSim().traceClear();
  TheSim().failWrites(2, SIMCAN_ERR_QXMTFULL);
  ASSERT_TRUE(IoRequest(SLAVE, REQUEST_TIMEOUT_MS, g_NodeTable, out.data(), out.size()));
  LinkTick();
  EXPECT_EQ(TheSim().traceCount(), 0u);
  LinkTick();
  EXPECT_EQ(TheSim().traceCount(), 0u);
  LinkTick();
  EXPECT_EQ(TraceOf(POLL_COMMAND_ID).size(), 3u);
  EXPECT_EQ(RunIo(), RESULT_COMPLETED);
}

// The waits between ticks follow the bus: after a frame went out, the wire
// time of that frame and of the shortest answer; then short looks while an
// answer of up to 8 bytes may still be on the wire; then naps of the
// shortest frame's time; after 2 ms without a frame, 1 ms sleeps.
TEST_F(LinkOnSimBus, WaitsFollowTheWireTime) {
  // Also once the microsecond tick is past half its range (after 36 minutes).
  for (const uint32_t laterMs : {0u, 2200000u}) {
    SCOPED_TRACE(laterMs);
    Start(CONFIG_500K, 2);
    // During a baud change the window still shows the old rate: the
    // adapter's rate counts.
    app::g_App.BaudIndex = 0;
    platform::AdvanceTestClock(laterMs);
    const uint8_t silent = 33;  // nobody answers there
    const uint8_t check[DUP_MAC_CHECK_LEN] = {};
    ASSERT_TRUE(DupMacRequest(silent, 1000, g_NodeTable, check, sizeof check));
    LinkTick();
    uint32_t before = platform::TickUs();
    LinkPause();
    // 7 bytes: 103 bits; the shortest answer 47 bits; 2 us a bit.
    const uint32_t dueUs = (103u + 47u) * 2u;
    EXPECT_EQ(platform::TickUs() - before, dueUs);

    // 8 bytes with the most stuff bits end 135 bits after our frame, which
    // carries up to 22 of its own.
    const uint32_t onWireUs = (135u + 22u - 47u) * 2u;
    const uint32_t shortestFrameUs = 47u * 2u;
    uint32_t sinceDue = 0;
    uint32_t shortLooks = 0, naps = 0;
    for (;;) {
      LinkTick();
      before = platform::TickUs();
      LinkPause();
      const uint32_t pause = platform::TickUs() - before;
      if (pause >= 1000) {
        EXPECT_EQ(pause, 1000u);
        EXPECT_GE(sinceDue, 2000u);
        break;
      }
      if (sinceDue < onWireUs) {
        EXPECT_LT(pause, 10u) << sinceDue;
        ++shortLooks;
      } else {
        EXPECT_EQ(pause, shortestFrameUs) << sinceDue;
        ++naps;
      }
      sinceDue += pause;
    }
    EXPECT_GE(shortLooks, 20u);
    EXPECT_EQ(naps, (2000u - onWireUs + shortestFrameUs - 1) / shortestFrameUs);
  }
}

// Where the answer is known, the first wait lasts until it can be complete:
// a poll of 8 bytes each way at 500 kbit/s is answered by a full frame; a
// little is allowed for stuff bits, one in 40 bits of command and answer.
TEST_F(LinkOnSimBus, FirstWaitLastsUntilTheKnownAnswer) {
  Start("[bus]\nwire_time = yes\n[slave]\nmac = 10\nbaud = 500\nproduced = 8\nconsumed = 8\n", 2);
  ConnectForPolling();
  // What the connecting taught of this adapter's turnaround (the simulated
  // bus on the test clock hands answers over at whole milliseconds) is not
  // kept for an adapter opened anew; the slave keeps its connection.
  can::CloseAdapter(nullptr);
  ASSERT_TRUE(can::OpenAdapter(nullptr, 2));
  const std::vector<uint8_t> out = Pattern(8, 9);
  platform::AdvanceTestClock(5);  // the connection's frames have left the wire
  ASSERT_TRUE(IoRequest(SLAVE, REQUEST_TIMEOUT_MS, g_NodeTable, out.data(), out.size()));
  LinkTick();
  const uint32_t before = platform::TickUs();
  LinkPause();
  const uint32_t frameBits = FrameBitsNoStuff(8);
  EXPECT_EQ(platform::TickUs() - before, (2 * frameBits + 2 * frameBits / 40) * 2u);
  EXPECT_EQ(RunIo(), RESULT_COMPLETED);
  EXPECT_EQ(TraceOf(POLL_COMMAND_ID).size(), 1u);
}

// An adapter that hands answers over later than the wire allows (here the
// simulated bus on the test clock, which moves its frames at whole
// milliseconds, as a serial-line adapter's processor and line delay them):
// the first look after a request learns to wait for it, so that most polls
// find their answer at that look instead of in many naps after it.
TEST_F(LinkOnSimBus, FirstLookLearnsTheAdapterTurnaround) {
  Start("[bus]\nwire_time = yes\n[slave]\nmac = 10\nbaud = 500\nproduced = 8\nconsumed = 8\n", 2);
  ConnectForPolling();
  can::CloseAdapter(nullptr);
  ASSERT_TRUE(can::OpenAdapter(nullptr, 2));
  const uint32_t wireUs = (2 * FrameBitsNoStuff(8) + 2 * FrameBitsNoStuff(8) / 40) * 2u;
  struct Poll {
    uint32_t firstWaitUs;
    int looks;
  };
  std::vector<Poll> polls;
  const std::vector<uint8_t> out = Pattern(8, 9);
  for (int n = 0; n < 60; ++n) {
    // Polls at a steady pace, a little out of step with the millisecond.
    platform::AdvanceTestClock(3);
    platform::PauseUs(170);
    ASSERT_TRUE(IoRequest(SLAVE, REQUEST_TIMEOUT_MS, g_NodeTable, out.data(), out.size()));
    Poll poll{0, 0};
    for (;;) {
      LinkTick();
      uint8_t result = 0;
      if (IoTakeResult(SLAVE, g_NodeTable, result)) {
        ASSERT_EQ(result, RESULT_COMPLETED);
        break;
      }
      const uint32_t before = platform::TickUs();
      LinkPause();
      if (poll.looks++ == 0) poll.firstWaitUs = platform::TickUs() - before;
      ASSERT_LT(poll.looks, 1000);
    }
    polls.push_back(poll);
  }
  // Nothing learned yet: the first wait is the wire time, and the answer
  // comes many naps later.
  EXPECT_EQ(polls.front().firstWaitUs, wireUs);
  EXPECT_GE(polls.front().looks, 10);
  int looks = 0;
  uint32_t firstWaits = 0;
  for (int n = 40; n < 60; ++n) {
    looks += polls[n].looks;
    firstWaits += polls[n].firstWaitUs;
  }
  EXPECT_GT(firstWaits / 20, wireUs + 200);
  EXPECT_LT(looks, 20 * 2);
}

// A 1000-byte answer streams in faster than one frame a millisecond; the
// ticks keep a 16-frame receive queue from overflowing.
TEST_F(LinkOnSimBus, LargePollFitsASmallReceiveQueue) {
  Start(CONFIG_1000_BYTES, 2);
  ConnectForPolling();
  static app::IoBuffers io;
  std::memset(&io, 0, sizeof io);
  const std::vector<uint8_t> out = Pattern(1000, 3);
  io.Output.Length = 1000;
  std::memcpy(io.Output.Data, out.data(), 1000);
  ASSERT_EQ(TxPoll(SLAVE, io), TXR_OK);
  EXPECT_EQ(std::vector<uint8_t>(io.Input.Data, io.Input.Data + io.Input.Length), out);
  EXPECT_EQ(can::CanStatus() & can::CAN_STATUS_OVERRUN, 0u);
}

// Another node's Duplicate MAC ID check message for the claimed own MAC ID
// ends its use there and then: the exchange under way stops before its
// next frame, later requests are refused without a frame, and nothing
// answers the other node (a scanner booting with that MAC ID must come
// online). Check messages for other MAC IDs, or while nothing is claimed,
// change nothing.
TEST_F(LinkOnSimBus, AnotherNodesCheckForTheClaimedOwnMacIdEndsItsUse) {
  const struct {
    const char* what;
    uint8_t firstByte;  // request or response
    bool poll;          // a poll runs when it arrives, else an explicit request
  } cases[] = {{"request during a poll", 0x00, true},
               {"response during a poll", 0x80, true},
               {"request during an explicit request", 0x00, false},
               {"response during an explicit request", 0x80, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Start(CONFIG, 0);
    const uint8_t own = g_NodeTable.OwnMacId;
    const uint32_t ownCheckId = 0x400 | (own << 3) | 7;
    const uint8_t check[7] = {c.firstByte, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12};

    // Unclaimed, or for another MAC ID: nothing changes.
    ASSERT_EQ(TheSim().injectFrame(0, ownCheckId, 7, check), 0);
    for (int i = 0; i < 5; ++i) LinkTick();
    g_NodeTable.OwnMacClaimed = 1;
    ASSERT_EQ(TheSim().injectFrame(0, DUP_MAC_CHECK_ID, 7, check), 0);
    for (int i = 0; i < 5; ++i) LinkTick();
    ASSERT_EQ(g_NodeTable.OwnMacLost, 0);
    ConnectForPolling();

    // The check arrives before the exchange's first frame goes out.
    TheSim().traceClear();
    ASSERT_EQ(TheSim().injectFrame(0, ownCheckId, 7, check), 0);
    const std::vector<uint8_t> out = Pattern(20, 9);
    if (c.poll) {
      ASSERT_TRUE(IoRequest(SLAVE, REQUEST_TIMEOUT_MS, g_NodeTable, out.data(), out.size()));
      EXPECT_EQ(RunIo(), RESULT_FAILED);
    } else {
      ASSERT_TRUE(ExplRequest(SLAVE, 2, REQUEST_TIMEOUT_MS, g_NodeTable, 0x10, 1, 1, out.data(),
                              out.size()));
      int result = -1;
      for (int pass = 0; pass < 1000 && result < 0; ++pass) {
        LinkTick();
        static uint8_t buffer[1000];
        size_t length = 0;
        uint8_t r = 0;
        uint8_t service = 0;
        if (ExplTakeResponse(SLAVE, g_NodeTable, buffer, sizeof buffer, length, r, service)) {
          result = r;
        }
      }
      EXPECT_EQ(result, RESULT_FAILED);
    }
    EXPECT_EQ(g_NodeTable.OwnMacLost, 1);
    EXPECT_EQ(g_NodeTable.OwnMacClaimed, 0);
    EXPECT_EQ(g_NodeTable.Rival.Response, c.firstByte ? 1 : 0);
    EXPECT_EQ(g_NodeTable.Rival.VendorId, 0x1234);
    EXPECT_EQ(g_NodeTable.Rival.SerialNumber, 0x12345678u);

    // Later requests are refused at once.
    static app::IoBuffers io;
    std::memset(&io, 0, sizeof io);
    io.Output.Length = 20;
    EXPECT_EQ(TxPoll(SLAVE, io), TXR_IO_FAILED);
    std::vector<uint8_t> value;
    EXPECT_EQ(Get(1, 1, 7, value), TXR_FAILED);
    EXPECT_EQ(TxRelease(SLAVE, own), TXR_FAILED);
    platform::AdvanceTestClock(REQUEST_TIMEOUT_MS);
    for (const SimTraceFrame& f : Trace()) {
      EXPECT_NE(f.adapter, SIM_TRACE_SENT_BY_ADAPTER) << std::hex << f.id;
    }
    ForgetHeldSet();
  }
}

}  // namespace
