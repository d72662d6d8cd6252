// The bus: wire time, arbitration and load, and the trace files.
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim_fixture.h"
#include "wire.h"

namespace {

constexpr uint32_t A_DUP = 0x42F, B_DUP = 0x437;
const Bytes kDupRequest = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

class BusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Sim_UseManualClock();
    ASSERT_EQ(0, Sim_LoadConfigText("[slave]\nmac = 5\nserial = 0x11\n[slave]\nmac = 6\n", "bus"));
    ASSERT_EQ(0u, CAN_Init(SIMCAN_BTR_125K, 0, 0, 0, 0));
  }
  void TearDown() override {
    Sim_SetWireTime(0);
    CAN_Close();
  }
};

TEST(Wire, FrameBitsWithStuffing) {
  // 34 dominant bits before the CRC delimiter (the CRC of zeros is zero):
  // a stuff bit after every five, then 13 fixed bits.
  EXPECT_EQ(34u + 6u + 13u, sim::FrameBits(0x000, 0, nullptr));
  // Any frame lies between no stuffing and the most possible.
  uint8_t data[8];
  uint32_t seed = 1;
  for (int i = 0; i < 200; ++i) {
    seed = seed * 1103515245u + 12345u;
    uint8_t len = static_cast<uint8_t>(seed % 9);
    for (uint8_t b = 0; b < 8; ++b) data[b] = static_cast<uint8_t>(seed >> (b + 8));
    uint32_t bits = sim::FrameBits(seed & 0x7FF, len, data);
    EXPECT_GE(bits, 47u + 8u * len);
    EXPECT_LE(bits, 47u + 8u * len + (34u + 8u * len - 1u) / 4u);
  }
}

TEST_F(BusTest, WireTimeDelaysAnswersAndArbitrationOrdersThem) {
  Sim_SetWireTime(1);
  Sim_ResetBusStats();
  const Bytes answerA = {0x80, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00};
  const Bytes answerB = {0x80, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
  const uint64_t bitUs = 8;  // 125 kbit/s
  uint64_t requestB = bitUs * sim::FrameBits(B_DUP, 7, kDupRequest.data());
  uint64_t requestA = bitUs * sim::FrameBits(A_DUP, 7, kDupRequest.data());
  uint64_t replyA = bitUs * sim::FrameBits(A_DUP, 7, answerA.data());
  uint64_t replyB = bitUs * sim::FrameBits(B_DUP, 7, answerB.data());
  // The adapter sends its frames in order: B's request, then A's, which
  // wins against B's answer (lower identifier); A's answer wins next.
  Send(B_DUP, kDupRequest);
  Send(A_DUP, kDupRequest);
  Sim_AdvanceUs(static_cast<uint32_t>(requestB + requestA + replyA - 1));
  EXPECT_NO_FRAME();
  Sim_AdvanceUs(1);
  EXPECT_FRAME(Next(), A_DUP, {0x80, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00});
  EXPECT_NO_FRAME();
  Sim_AdvanceUs(static_cast<uint32_t>(replyB));
  EXPECT_FRAME(Next(), B_DUP, {0x80, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00});
  Sim_AdvanceUs(static_cast<uint32_t>(requestB));  // idle time
  SimBusStats stats{};
  Sim_GetBusStats(&stats);
  EXPECT_EQ(4u, stats.frames);
  EXPECT_EQ(requestB + requestA + replyA + replyB, stats.busyUs);
  EXPECT_EQ(stats.busyUs + requestB, stats.elapsedUs);
}

// The adapter and another node start the same identifier with other data
// at once, again and again: bit errors. The adapter's controller goes error
// warning, error passive (then yields, so the other frame and its own get
// through), at last bus off, and recovers after 128 x 11 recessive bits.
TEST_F(BusTest, CollisionsRaiseTheAdaptersTransmitErrorsToBusOffAndItRecovers) {
  Sim_SetWireTime(1);
  constexpr uint32_t ID = 0x3F0;  // no slave's
  const uint8_t theirs[] = {0x01};
  std::vector<uint32_t> statuses;
  while (statuses.size() < 40 && (statuses.empty() || statuses.back() != SIMCAN_ERR_BUSOFF)) {
    Send(0x7FF, {});  // both frames below wait for this one to end
    Sim_AdvanceUs(1);
    ASSERT_EQ(0, Sim_InjectFrame(0, ID, sizeof theirs, theirs));
    DriverMsg mine{};
    mine.ID = ID;
    mine.LEN = 1;
    mine.DATA[0] = 0x02;
    ASSERT_EQ(0u, CAN_Write(&mine));
    Sim_AdvanceMs(10);
    statuses.push_back(CAN_Status());
    if (statuses.back() != SIMCAN_ERR_BUSOFF) {
      EXPECT_FRAME(Next(), ID, {0x01});  // once, however often it collided
    }
    EXPECT_NO_FRAME();
  }
  // 16 collisions to error passive, then the adapter's frame is sent (127);
  // from then on each round: its 0x7FF frame -1, a collision +8, its frame
  // -1, until a collision reaches 256.
  ASSERT_EQ(23u, statuses.size()) << ::testing::PrintToString(statuses);
  EXPECT_EQ(uint32_t(SIMCAN_ERR_BUSLIGHT), statuses[0]);
  for (size_t i = 1; i + 1 < statuses.size(); ++i) {
    EXPECT_EQ(uint32_t(SIMCAN_ERR_BUSHEAVY), statuses[i]) << i;
  }
  EXPECT_EQ(uint32_t(SIMCAN_ERR_BUSOFF), statuses.back());
  DriverMsg any{};
  EXPECT_EQ(uint32_t(SIMCAN_ERR_BUSOFF), CAN_Write(&any));

  // Bus off for 128 x 11 bit times (8 us at 125 kbit/s) after the last
  // error frame; the status is read at least 10 ms after it here.
  Sim_AdvanceUs(128 * 11 * 8);
  EXPECT_EQ(0u, CAN_Status());
  Send(0x100, {});
  EXPECT_EQ(0u, CAN_Status());
}

uint32_t g_testTickMs = 0xFFFFFFF0;  // wraps during the test
uint32_t TestTick() {
  return g_testTickMs;
}

TEST_F(BusTest, FollowsAClockFunctionOfTheTest) {
  Sim_UseClockFunction(TestTick);
  Sim_DelayAnswers(0, SIM_ANSWER_DUPMAC, 30);
  Send(A_DUP, kDupRequest);
  g_testTickMs += 29;
  EXPECT_NO_FRAME();
  g_testTickMs += 1;
  EXPECT_FRAME(Next(), A_DUP, {0x80, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00});
  Sim_UseManualClock();
}

// Frames at another rate never reach the adapter; with its receive queue
// full they are heard but lost.
TEST_F(BusTest, TraceTellsWhatTheAdapterDidWithEachFrame) {
  Sim_TraceClear();
  uint8_t data[1] = {0x01};
  ASSERT_EQ(0, Sim_InjectFrame(2, 0x7C2, 1, data));
  SimAdapterInfo adapter{};
  ASSERT_EQ(0, Sim_GetAdapter(&adapter));
  ASSERT_NE(2, adapter.baudIndex);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(0, Sim_InjectFrame(adapter.baudIndex, 0x7C3, 1, data));
  ASSERT_EQ(5001u, Sim_TraceCount());
  SimTraceFrame f{};
  ASSERT_EQ(0, Sim_TraceGet(0, &f));
  EXPECT_EQ(SIM_TRACE_NOT_ADAPTER, f.adapter);
  ASSERT_EQ(0, Sim_TraceGet(1, &f));
  EXPECT_EQ(SIM_TRACE_QUEUED_FOR_ADAPTER, f.adapter);
  ASSERT_EQ(0, Sim_TraceGet(5000, &f));
  EXPECT_EQ(SIM_TRACE_LOST_BY_ADAPTER, f.adapter);
}

TEST_F(BusTest, TraceWrittenAsCandumpLogAndPcap) {
  Sim_TraceClear();
  Send(A_DUP, kDupRequest);
  Sim_AdvanceMs(3);
  uint8_t other[2] = {0xAB, 0xCD};
  ASSERT_EQ(0, Sim_InjectFrame(0, 0x7C1, 2, other));
  ASSERT_EQ(3u, Sim_TraceCount());
  SimTraceFrame t[3];
  for (uint32_t i = 0; i < 3; ++i) ASSERT_EQ(0, Sim_TraceGet(i, &t[i]));
  EXPECT_EQ(-1, Sim_TraceGet(3, &t[0]));
  EXPECT_EQ(0x42Fu, t[1].id);
  EXPECT_EQ(0x80, t[1].data[0]);
  EXPECT_EQ(t[0].timeUs + 3000, t[2].timeUs);
  EXPECT_EQ(SIM_TRACE_SENT_BY_ADAPTER, t[0].adapter);
  EXPECT_EQ(SIM_TRACE_QUEUED_FOR_ADAPTER, t[1].adapter);
  EXPECT_EQ(SIM_TRACE_QUEUED_FOR_ADAPTER, t[2].adapter);

  ASSERT_EQ(0, Sim_TraceWriteCandump("trace_test.log", "vcan1"));
  std::string lines[3];
  {
    std::ifstream log("trace_test.log");
    for (std::string& l : lines) std::getline(log, l);
  }
  char want[64];
  snprintf(want, sizeof want, "(%010llu.%06llu) vcan1 7C1#ABCD",
           static_cast<unsigned long long>(t[2].timeUs / 1000000),
           static_cast<unsigned long long>(t[2].timeUs % 1000000));
  EXPECT_EQ(want, lines[2]);
  EXPECT_EQ(lines[0].substr(lines[0].find(')')), ") vcan1 42F#00000000000000");
  EXPECT_EQ(lines[1].substr(lines[1].find(')')), ") vcan1 42F#80000011000000");

  ASSERT_EQ(0, Sim_TraceWritePcap("trace_test.pcap"));
  std::string pcap;
  {
    std::ifstream in("trace_test.pcap", std::ios::binary);
    pcap.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_EQ(24u + 3u * (16u + 16u), pcap.size());
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(pcap[at])) | uint32_t(uint8_t(pcap[at + 1])) << 8 |
           uint32_t(uint8_t(pcap[at + 2])) << 16 | uint32_t(uint8_t(pcap[at + 3])) << 24;
  };
  EXPECT_EQ(0xA1B2C3D4u, u32(0));
  EXPECT_EQ(227u, u32(20));  // LINKTYPE_CAN_SOCKETCAN
  for (uint32_t i = 0; i < 3; ++i) {
    size_t r = 24 + i * 32;
    EXPECT_EQ(t[i].timeUs / 1000000, u32(r));
    EXPECT_EQ(t[i].timeUs % 1000000, u32(r + 4));
    EXPECT_EQ(16u, u32(r + 8));
    // The identifier in network byte order, then the length, then the data.
    uint32_t id = uint32_t(uint8_t(pcap[r + 16])) << 24 | uint32_t(uint8_t(pcap[r + 17])) << 16 |
                  uint32_t(uint8_t(pcap[r + 18])) << 8 | uint8_t(pcap[r + 19]);
    EXPECT_EQ(t[i].id, id);
    EXPECT_EQ(t[i].len, uint8_t(pcap[r + 20]));
    EXPECT_EQ(0, memcmp(t[i].data, pcap.data() + r + 24, t[i].len));
  }
  remove("trace_test.log");
  remove("trace_test.pcap");
}

}  // namespace
