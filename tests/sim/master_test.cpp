// Simulated masters sharing the bus with the adapter: their own MAC ID
// check and defence, and the slave each of them owns and polls.
#include "sim_fixture.h"

namespace {

// Scanner S at MAC 0 owns slave A (MAC 5, UCMM, 2 bytes out, 4 in) and
// learns its sizes; scanner T at MAC 1 is a Group 2 only master owning
// slave B (MAC 6, 16/16 body format, 20 bytes each way, fragmented).
const char kConfig[] = R"(
[slave]
mac = 5
produced = 4
consumed = 2
ucmm = yes
[slave]
mac = 6
produced = 20
consumed = 20
body_format = 16/16
io = counter
[master]
mac = 0
slave = 5
poll_ms = 10
vendor = 0x0077
serial = 0x0000CAFE
[master]
mac = 1
slave = 6
poll_ms = 20
ucmm = no
output = 20 0xA5
)";

constexpr int A = 0, B = 1;
constexpr int S = 0, T = 1;
constexpr uint32_t S_DUP = 0x407, A_RESP = 0x42B, A_UNC = 0x42E, B_UNC = 0x436;
constexpr uint32_t S_UCMM_OPEN = 0x780, T_UCMM_OPEN = 0x781;
constexpr uint32_t ONLINE_MS = 2000;  // two Duplicate MAC ID requests a second apart

SimMasterInfo Master(int index) {
  SimMasterInfo info{};
  EXPECT_EQ(0, Sim_GetMaster(index, &info));
  return info;
}

std::vector<SimTraceFrame> TraceOf(uint32_t id) {
  std::vector<SimTraceFrame> frames;
  for (uint32_t i = 0; i < Sim_TraceCount(); ++i) {
    SimTraceFrame f{};
    if (Sim_TraceGet(i, &f) == 0 && f.id == id) frames.push_back(f);
  }
  return frames;
}

// The next frame with this identifier in the adapter's receive queue.
RxFrame NextWithId(uint32_t id) {
  for (RxFrame f = Next(); f.ok; f = Next()) {
    if (f.id == id) return f;
  }
  return RxFrame{false, 0, {}};
}

class MasterTest : public ::testing::Test {
 protected:
  void Load(const char* config) {
    Sim_UseManualClock();
    ASSERT_EQ(0, Sim_LoadConfigText(config, "test")) << Sim_LastError();
    ASSERT_EQ(0u, CAN_Init(SIMCAN_BTR_125K, 0, 0, 0, 0));
  }
  void TearDown() override { CAN_Close(); }
};

TEST_F(MasterTest, ChecksItsMacIdThenAllocatesAndPollsItsSlave) {
  Load(kConfig);
  ASSERT_EQ(2, Sim_MasterCount());
  // Two Duplicate MAC ID requests with its vendor and serial, a second apart.
  Sim_AdvanceMs(ONLINE_MS - 1);
  EXPECT_EQ(SIM_LINK_CHECKING, Master(S).link);
  std::vector<SimTraceFrame> checks = TraceOf(S_DUP);
  ASSERT_EQ(2u, checks.size());
  EXPECT_EQ(1000000u, checks[1].timeUs - checks[0].timeUs);
  EXPECT_TRUE(FrameIs(RxFrame{true, checks[0].id, Bytes(checks[0].data, checks[0].data + 7)}, S_DUP,
                      {0x00, 0x77, 0x00, 0xFE, 0xCA, 0x00, 0x00}));
  EXPECT_EQ(0xFF, Slave(A).allocator);

  Sim_AdvanceMs(1 + 200);
  for (int m : {S, T}) {
    SCOPED_TRACE(m);
    SimMasterInfo info = Master(m);
    EXPECT_EQ(SIM_LINK_ONLINE, info.link);
    EXPECT_EQ(1, info.allocated);
    EXPECT_EQ(1u, info.allocAttempts);
    SimSlaveInfo slave = Slave(m == S ? A : B);
    EXPECT_EQ(info.macId, slave.allocator);
    EXPECT_EQ(3, slave.allocChoice);
    EXPECT_EQ(SIM_CONN_ESTABLISHED, slave.pollState);
  }
  // S opened a connection through A's UCMM; T went straight to B's Group 2
  // Only port.
  EXPECT_EQ(1u, TraceOf(S_UCMM_OPEN).size());
  EXPECT_TRUE(TraceOf(A_UNC).empty());
  EXPECT_TRUE(TraceOf(T_UCMM_OPEN).empty());
  EXPECT_EQ(1u, TraceOf(B_UNC).size());

  const SimMasterInfo s0 = Master(S), t0 = Master(T);
  const uint32_t a0 = Slave(A).polls, b0 = Slave(B).polls;
  Sim_AdvanceMs(1000);
  EXPECT_EQ(100u, Master(S).pollsSent - s0.pollsSent);
  EXPECT_EQ(100u, Master(S).pollResponses - s0.pollResponses);
  EXPECT_EQ(100u, Slave(A).polls - a0);
  EXPECT_EQ(50u, Master(T).pollResponses - t0.pollResponses);  // fragmented both ways
  EXPECT_EQ(50u, Slave(B).polls - b0);
  const SimSlaveInfo a = Slave(A), b = Slave(B);
  EXPECT_EQ(Bytes({0x00, 0x00}), Bytes(a.output, a.output + a.outputLen));
  EXPECT_EQ(Bytes(20, 0xA5), Bytes(b.output, b.output + b.outputLen));
}

TEST_F(MasterTest, AnswersADuplicateMacIdCheckForItsMacId) {
  Load(kConfig);
  Sim_AdvanceMs(ONLINE_MS + 100);
  Drain();
  const uint8_t request[] = {0x00, 0x34, 0x12, 0x01, 0x00, 0x00, 0x00};
  ASSERT_EQ(0, Sim_InjectFrame(0, S_DUP, sizeof request, request));
  EXPECT_FRAME(NextWithId(S_DUP), S_DUP, {0x00, 0x34, 0x12, 0x01, 0x00, 0x00, 0x00});
  EXPECT_FRAME(NextWithId(S_DUP), S_DUP, {0x80, 0x77, 0x00, 0xFE, 0xCA, 0x00, 0x00});
  EXPECT_EQ(1u, Master(S).dupMacResponses);
  // A response carrying its MAC ID is no request: not answered.
  const uint8_t response[] = {0x80, 0x34, 0x12, 0x01, 0x00, 0x00, 0x00};
  ASSERT_EQ(0, Sim_InjectFrame(0, S_DUP, sizeof response, response));
  EXPECT_FRAME(NextWithId(S_DUP), S_DUP, {0x80, 0x34, 0x12, 0x01, 0x00, 0x00, 0x00});
  EXPECT_FALSE(NextWithId(S_DUP).ok);
  EXPECT_EQ(1u, Master(S).dupMacResponses);
}

// Another node answering its check (a slave at its MAC ID), or checking the
// same MAC ID at the same time: communication faulted, and silent.
TEST_F(MasterTest, GoesFaultedWhenItsMacIdIsTaken) {
  const char kTaken[] = "[slave]\nmac = 5\n[slave]\nmac = 9\n[master]\nmac = 9\nslave = 5\n";
  const char kFree[] = "[slave]\nmac = 5\n[master]\nmac = 9\nslave = 5\n";
  for (int taken : {1, 0}) {
    SCOPED_TRACE(taken);
    Load(taken ? kTaken : kFree);
    if (!taken) {
      const uint8_t request[] = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00};
      ASSERT_EQ(0, Sim_InjectFrame(0, 0x44F, sizeof request, request));  // MAC 9
    }
    Sim_AdvanceMs(10000);
    EXPECT_EQ(SIM_LINK_FAULTED, Master(0).link);
    EXPECT_EQ(0u, Master(0).allocAttempts);
    EXPECT_EQ(0xFF, Slave(0).allocator);
    // Its first request and the other node's frame; no second request.
    EXPECT_EQ(2u, TraceOf(0x44F).size());
  }
}

// The owner's slave answers a foreign Allocate with 0x0C and one claiming
// the owner's MAC ID again with 0x0B; the owner keeps polling.
TEST_F(MasterTest, ForeignAllocateToItsSlaveIsRefused) {
  Load(kConfig);
  Sim_AdvanceMs(ONLINE_MS + 100);
  Drain();
  const uint32_t responses = Master(S).pollResponses;
  Send(A_UNC, {0x02, 0x4B, 0x03, 0x01, 0x03, 0x02});
  EXPECT_FRAME(NextWithId(A_RESP), A_RESP, {0x02, 0x94, 0x0C, 0xFF});
  Send(A_UNC, {0x00, 0x4B, 0x03, 0x01, 0x03, 0x00});
  EXPECT_FRAME(NextWithId(A_RESP), A_RESP, {0x00, 0x94, 0x0B, 0xFF});
  Sim_AdvanceMs(100);
  EXPECT_EQ(0, Slave(A).allocator);
  EXPECT_EQ(responses + 10, Master(S).pollResponses);
}

// A slave that stops answering (switched off and on, then taken by another
// master) is allocated again once it is free.
TEST_F(MasterTest, RetriesTheAllocationWhenItsSlaveIsLost) {
  Load(kConfig);
  Sim_AdvanceMs(ONLINE_MS + 100);
  ASSERT_EQ(0, Sim_PowerCycle(A));
  Sim_AdvanceMs(ONLINE_MS + 1);  // before the scanner's next try
  Drain();
  Send(A_UNC, {0x02, 0x4B, 0x03, 0x01, 0x03, 0x02});
  EXPECT_FRAME(NextWithId(A_RESP), A_RESP, {0x02, 0xCB, 0x00});
  Sim_AdvanceMs(5000);
  EXPECT_EQ(0, Master(S).allocated);
  EXPECT_GE(Master(S).allocAttempts, 4u);
  EXPECT_EQ(2, Slave(A).allocator);

  Send(A_UNC, {0x02, 0x4C, 0x03, 0x01, 0x03});
  EXPECT_FRAME(NextWithId(A_RESP), A_RESP, {0x02, 0xCC});
  const uint32_t responses = Master(S).pollResponses;
  Sim_AdvanceMs(1500);
  EXPECT_EQ(1, Master(S).allocated);
  EXPECT_EQ(0, Slave(A).allocator);
  EXPECT_GT(Master(S).pollResponses, responses);
}

}  // namespace
