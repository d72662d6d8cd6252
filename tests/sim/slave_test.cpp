// The simulated slaves driven by hand-made frames, checked byte for byte.
#include "sim_fixture.h"

namespace {

// Master M = 1. Slave A: MAC 5, UCMM, 8/8, 2 bytes out, 4 in, echo.
// Slave B: MAC 6, Group 2 only, 16/16, 20 bytes each way, counter.
// Slave C: MAC 7 at 250 kbit/s.
const char kConfig[] = R"(
[slave]
mac = 5
vendor = 0x1234
device_type = 0x0C
product_code = 0x0042
revision = 3.7
serial = 0x12345678
name = Tester
produced = 4
consumed = 2
ucmm = yes
io = echo
[slave]
mac = 6
produced = 20
consumed = 20
body_format = 16/16
io = counter
serial = 0x0A0B0C0D
[slave]
mac = 7
baud = 250
)";

constexpr int A = 0, B = 1, C = 2;
constexpr uint8_t M = 1;

// Group 2 identifiers of slave A (MAC 5) and B (MAC 6).
constexpr uint32_t A_RESP = 0x42B, A_REQ = 0x42C, A_POLL = 0x42D, A_UNC = 0x42E, A_DUP = 0x42F;
constexpr uint32_t B_RESP = 0x433, B_REQ = 0x434, B_POLL = 0x435, B_UNC = 0x436;
constexpr uint32_t A_POLL_RESP = 0x3C5, B_POLL_RESP = 0x3C6;

class SlaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Sim_UseManualClock();
    ASSERT_EQ(0, Sim_LoadConfigText(kConfig, "test")) << Sim_LastError();
    ASSERT_EQ(0u, CAN_Init(SIMCAN_BTR_125K, 0, 0, 0, 0));
  }
  void TearDown() override { CAN_Close(); }

  // Allocates explicit + poll of A and establishes the poll at `eprMs`.
  void ConnectA(uint16_t eprMs) {
    Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x03, M});
    EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
    Send(A_REQ, {M, 0x10, 0x05, 0x02, 0x09, uint8_t(eprMs), uint8_t(eprMs >> 8)});
    EXPECT_FRAME(Next(), A_RESP, {M, 0x90, uint8_t(eprMs), uint8_t(eprMs >> 8)});
  }
};

TEST_F(SlaveTest, DuplicateMacIdCheckIsAnsweredOnlyForItsOwnMacId) {
  Send(A_DUP, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_FRAME(Next(), A_DUP, {0x80, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12});
  Send(0x41F, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});  // MAC 3: nobody
  Send(A_DUP, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});  // a response: not answered
  Send(A_DUP, {0x00, 0x00, 0x00});                          // truncated
  EXPECT_NO_FRAME();
}

TEST_F(SlaveTest, AllocateAndReleaseThroughTheGroup2OnlyPort) {
  Send(A_REQ, {M, 0x0E, 0x01, 0x01, 0x01});  // no connection yet: ignored
  EXPECT_NO_FRAME();
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});  // same master again
  EXPECT_FRAME(Next(), A_RESP, {M, 0x94, 0x0B, 0xFF});
  Send(A_UNC, {0x02, 0x4B, 0x03, 0x01, 0x02, 0x02});  // another master
  EXPECT_FRAME(Next(), A_RESP, {0x02, 0x94, 0x0C, 0xFF});
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x02, M});  // poll added by the owner
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
  EXPECT_EQ(3, Slave(A).allocChoice);
  EXPECT_EQ(M, Slave(A).allocator);
  EXPECT_EQ(SIM_CONN_ESTABLISHED, Slave(A).explicitState);
  EXPECT_EQ(SIM_CONN_CONFIGURING, Slave(A).pollState);
  Send(A_UNC, {M, 0x4C, 0x03, 0x01, 0x03});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCC});
  Send(A_UNC, {M, 0x4C, 0x03, 0x01, 0x01});  // nothing left to release
  EXPECT_FRAME(Next(), A_RESP, {M, 0x94, 0x0B, 0xFF});
  Send(A_UNC, {0x42, 0x4B, 0x03, 0x01, 0x04, 0x02});  // bit-strobe: not offered
  EXPECT_FRAME(Next(), A_RESP, {0x42, 0x94, 0x02, 0xFF});
  Send(A_UNC, {0x42, 0x4B, 0x03, 0x01, 0x01, 0x02});  // the other master now
  EXPECT_FRAME(Next(), A_RESP, {0x42, 0xCB, 0x00});
  EXPECT_EQ(2, Slave(A).allocator);
  // Group 2 Only port B grants its 16/16 body format.
  Send(B_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), B_RESP, {M, 0xCB, 0x02});
}

TEST_F(SlaveTest, IdentityAttributesAndTheToggleEchoed) {
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
  struct Case {
    uint8_t attr;
    Bytes value;
  } cases[] = {
      {1, {0x34, 0x12}}, {2, {0x0C, 0x00}}, {3, {0x42, 0x00}},
      {4, {0x03, 0x07}}, {5, {0x01, 0x00}}, {6, {0x78, 0x56, 0x34, 0x12}},
  };
  uint8_t toggle = 0;
  for (const Case& c : cases) {
    toggle ^= 0x40;
    Send(A_REQ, {uint8_t(toggle | M), 0x0E, 0x01, 0x01, c.attr});
    Bytes want = {uint8_t(toggle | M), 0x8E};
    want.insert(want.end(), c.value.begin(), c.value.end());
    RxFrame f = Next();
    EXPECT_EQ(Hex(A_RESP, want), Hex(f.id, f.data)) << "attribute " << int(c.attr);
  }
  // Attribute 7 (SHORT_STRING "Tester") needs 8 bytes: fragmented.
  Send(A_REQ, {M, 0x0E, 0x01, 0x01, 0x07});
  EXPECT_FRAME(Next(), A_RESP, {0x80 | M, 0x00, 0x8E, 0x06, 'T', 'e', 's', 't'});
  Send(A_REQ, {0x80 | M, 0xC0, 0x00});
  EXPECT_FRAME(Next(), A_RESP, {0x80 | M, 0x81, 'e', 'r'});
  Send(A_REQ, {0x80 | M, 0xC1, 0x00});
  EXPECT_NO_FRAME();
}

TEST_F(SlaveTest, ErrorResponses) {
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x03, M});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
  struct Case {
    const char* what;
    Bytes request;  // service, path, data
    Bytes error;    // general, additional
  } cases[] = {
      {"unknown class", {0x0E, 0x64, 0x01, 0x01}, {0x05, 0xFF}},
      {"unknown instance", {0x0E, 0x01, 0x02, 0x01}, {0x16, 0xFF}},
      {"unknown attribute", {0x0E, 0x01, 0x01, 0x63}, {0x14, 0xFF}},
      {"unknown service", {0x33, 0x01, 0x01}, {0x08, 0xFF}},
      {"read-only attribute", {0x10, 0x01, 0x01, 0x01, 0x00, 0x00}, {0x0E, 0xFF}},
      {"allocation information", {0x10, 0x03, 0x01, 0x05, 0x00}, {0x0E, 0xFF}},
      {"MAC ID out of range", {0x10, 0x03, 0x01, 0x01, 64}, {0x09, 0xFF}},
      {"baud rate out of range", {0x10, 0x03, 0x01, 0x02, 3}, {0x09, 0xFF}},
      {"value missing", {0x10, 0x03, 0x01, 0x01}, {0x13, 0xFF}},
      {"attribute missing", {0x0E, 0x01, 0x01}, {0x13, 0xFF}},
      {"path cut short", {0x0E, 0x01}, {0x13, 0xFF}},
      {"too much data", {0x0E, 0x01, 0x01, 0x01, 0x00}, {0x15, 0xFF}},
      {"expected packet rate of 3 bytes", {0x10, 0x05, 0x02, 0x09, 1, 2, 3}, {0x15, 0xFF}},
      {"bad reset type", {0x05, 0x01, 0x01, 0x07}, {0x20, 0xFF}},
      {"poll not configuring", {0x0D, 0x05, 0x01}, {0x0C, 0xFF}},
      {"connection not allocated", {0x0E, 0x05, 0x06, 0x01}, {0x16, 0xFF}},
  };
  for (const Case& c : cases) {
    Bytes frame = {M};
    frame.insert(frame.end(), c.request.begin(), c.request.end());
    Send(A_REQ, frame);
    Bytes want = {M, 0x94, c.error[0], c.error[1]};
    RxFrame f = Next();
    EXPECT_EQ(Hex(A_RESP, want), Hex(f.id, f.data)) << c.what;
  }
  // Outputs belong to the poll connection once it runs.
  Send(A_REQ, {M, 0x10, 0x05, 0x02, 0x09, 0x00, 0x00});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x90, 0x00, 0x00});
  Send(A_REQ, {M, 0x10, 0x04, 150, 0x03, 0x11, 0x22});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x94, 0x0C, 0xFF});
  // A response-flagged or empty frame on the connection gets no answer.
  Send(A_REQ, {M, 0x8E, 0x01, 0x01, 0x01});
  Send(A_REQ, {M});
  Send(A_REQ, {});
  EXPECT_NO_FRAME();
}

TEST_F(SlaveTest, FragmentedRequestAndResponseWithAcknowledges) {
  // B, 16/16: write 20 output bytes to assembly 150 (body 26 bytes: 5 frames).
  Send(B_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), B_RESP, {M, 0xCB, 0x02});
  const uint8_t t = 0x40 | M;
  Send(B_REQ, {0x80 | t, 0x00, 0x10, 0x04, 0x00, 150, 0x00, 0x03});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | t, 0xC0, 0x00});
  Send(B_REQ, {0x80 | t, 0x41, 1, 2, 3, 4, 5, 6});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | t, 0xC1, 0x00});
  Send(B_REQ, {0x80 | t, 0x41, 1, 2, 3, 4, 5, 6});  // repeated: acknowledged again
  EXPECT_FRAME(Next(), B_RESP, {0x80 | t, 0xC1, 0x00});
  Send(B_REQ, {0x80 | t, 0x42, 7, 8, 9, 10, 11, 12});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | t, 0xC2, 0x00});
  Send(B_REQ, {0x80 | t, 0x43, 13, 14, 15, 16, 17, 18});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | t, 0xC3, 0x00});
  Send(B_REQ, {0x80 | t, 0x84, 19, 20});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | t, 0xC4, 0x00});
  EXPECT_FRAME(Next(), B_RESP, {t, 0x90});
  EXPECT_EQ(20, Slave(B).outputLen);
  EXPECT_EQ(20, Slave(B).output[19]);

  // Read it back: 21 body bytes in four fragments, each sent after the
  // acknowledge of the one before.
  Send(B_REQ, {M, 0x0E, 0x04, 0x00, 150, 0x00, 0x03});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | M, 0x00, 0x8E, 1, 2, 3, 4, 5});
  EXPECT_NO_FRAME();
  Send(B_REQ, {0x80 | M, 0xC0, 0x00});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | M, 0x41, 6, 7, 8, 9, 10, 11});
  Send(B_REQ, {0x80 | M, 0xC0, 0x00});  // stale acknowledge: ignored
  EXPECT_NO_FRAME();
  Send(B_REQ, {0x80 | M, 0xC1, 0x00});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | M, 0x42, 12, 13, 14, 15, 16, 17});
  Send(B_REQ, {0x80 | M, 0xC2, 0x00});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | M, 0x83, 18, 19, 20});
  Send(B_REQ, {0x80 | M, 0xC3, 0x00});
  EXPECT_NO_FRAME();
}

TEST_F(SlaveTest, BadFragmentSequencesAreDropped) {
  Send(B_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), B_RESP, {M, 0xCB, 0x02});
  Send(B_REQ, {0x80 | M, 0x41, 1, 2, 3, 4, 5, 6});  // middle without a first
  Send(B_REQ, {0x80 | M, 0x05, 0x10, 0x04, 0x00});  // first with count 5
  Send(B_REQ, {0x80 | M});                          // no fragmentation byte
  EXPECT_NO_FRAME();
  Send(B_REQ, {0x80 | M, 0x00, 0x10, 0x04, 0x00, 150, 0x00, 0x03});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | M, 0xC0, 0x00});
  Send(B_REQ, {0x80 | M, 0x43, 1, 2, 3, 4, 5, 6});  // count 3 instead of 1: dropped
  Send(B_REQ, {0x80 | M, 0x81, 1, 2});              // the rest then finds nothing
  EXPECT_NO_FRAME();
  // A response with an acknowledge refusing more data is given up.
  Send(B_REQ, {M, 0x0E, 0x04, 0x00, 150, 0x00, 0x03});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | M, 0x00, 0x8E, 0, 0, 0, 0, 0});
  Send(B_REQ, {0x80 | M, 0xC0, 0x01});
  EXPECT_NO_FRAME();
  Sim_AdvanceMs(5000);
  EXPECT_NO_FRAME();
}

TEST_F(SlaveTest, UnacknowledgedResponseFragmentIsSentOnceMoreThenGivenUp) {
  Send(B_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), B_RESP, {M, 0xCB, 0x02});
  Send(B_REQ, {M, 0x0E, 0x04, 0x00, 100, 0x00, 0x03});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | M, 0x00, 0x8E, 0, 0, 0, 0, 0});
  Sim_AdvanceMs(1599);
  EXPECT_NO_FRAME();
  Sim_AdvanceMs(1);
  EXPECT_FRAME(Next(), B_RESP, {0x80 | M, 0x00, 0x8E, 0, 0, 0, 0, 0});
  Sim_AdvanceMs(1600);
  EXPECT_NO_FRAME();
  Send(B_REQ, {0x80 | M, 0xC0, 0x00});  // too late
  EXPECT_NO_FRAME();
}

TEST_F(SlaveTest, PollOnlyOnAnEstablishedConnection) {
  Send(A_POLL, {0xAA, 0xBB});  // nothing allocated
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x03, M});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
  Send(A_POLL, {0xAA, 0xBB});  // configuring
  EXPECT_NO_FRAME();
  Send(A_REQ, {M, 0x0E, 0x05, 0x02, 0x07});  // produced size 4
  EXPECT_FRAME(Next(), A_RESP, {M, 0x8E, 0x04, 0x00});
  Send(A_REQ, {M, 0x10, 0x05, 0x02, 0x09, 0x23, 0x00});  // 35 ms: rounded up to 40
  EXPECT_FRAME(Next(), A_RESP, {M, 0x90, 0x28, 0x00});
  EXPECT_EQ(SIM_CONN_ESTABLISHED, Slave(A).pollState);
  Send(A_POLL, {0xAA, 0xBB});
  EXPECT_FRAME(Next(), A_POLL_RESP, {0xAA, 0xBB, 0x00, 0x00});
  Send(A_POLL, {0x11});  // wrong size: discarded
  Send(A_POLL, {0x11, 0x22, 0x33});
  EXPECT_NO_FRAME();
  Send(A_POLL, {});  // idle: answered, outputs kept
  EXPECT_FRAME(Next(), A_POLL_RESP, {0xAA, 0xBB, 0x00, 0x00});
  EXPECT_EQ(2u, Slave(A).polls);
  EXPECT_EQ(0xBB, Slave(A).output[1]);
}

TEST_F(SlaveTest, FragmentedPollBothWays) {
  Send(B_UNC, {M, 0x4B, 0x03, 0x01, 0x03, M});
  EXPECT_FRAME(Next(), B_RESP, {M, 0xCB, 0x02});
  Send(B_REQ, {0x80 | M, 0x00, 0x10, 0x05, 0x00, 0x02, 0x00, 0x09});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | M, 0xC0, 0x00});
  Send(B_REQ, {0x80 | M, 0x81, 0x00, 0x00});
  EXPECT_FRAME(Next(), B_RESP, {0x80 | M, 0xC1, 0x00});
  EXPECT_FRAME(Next(), B_RESP, {M, 0x90, 0x00, 0x00});
  Send(B_POLL, {0x00, 1, 2, 3, 4, 5, 6, 7});
  Send(B_POLL, {0x41, 8, 9, 10, 11, 12, 13, 14});
  EXPECT_NO_FRAME();
  Send(B_POLL, {0x82, 15, 16, 17, 18, 19, 20});
  // Counter inputs: polls answered so far (1), then zeros.
  EXPECT_FRAME(Next(), B_POLL_RESP, {0x00, 1, 0, 0, 0, 0, 0, 0});
  EXPECT_FRAME(Next(), B_POLL_RESP, {0x41, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_FRAME(Next(), B_POLL_RESP, {0x82, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(14, Slave(B).output[13]);
  // Out of sequence: the message is lost, no answer.
  Send(B_POLL, {0x00, 1, 2, 3, 4, 5, 6, 7});
  Send(B_POLL, {0x42, 8, 9, 10, 11, 12, 13, 14});
  Send(B_POLL, {0x83, 15, 16, 17, 18, 19, 20});
  // A single first fragment with count 0x3F is a whole (here too short) message.
  Send(B_POLL, {0x3F, 1, 2});
  EXPECT_NO_FRAME();
  EXPECT_EQ(1u, Slave(B).polls);
}

TEST_F(SlaveTest, WatchdogsTimeConnectionsOut) {
  ConnectA(100);  // poll watchdog 400 ms
  Send(A_POLL, {1, 2});
  EXPECT_FRAME(Next(), A_POLL_RESP, {1, 2, 0, 0});
  Sim_AdvanceMs(399);
  Send(A_POLL, {3, 4});  // restarts the watchdog
  EXPECT_FRAME(Next(), A_POLL_RESP, {3, 4, 0, 0});
  Sim_AdvanceMs(399);
  EXPECT_EQ(SIM_CONN_ESTABLISHED, Slave(A).pollState);
  Sim_AdvanceMs(1);
  EXPECT_EQ(SIM_CONN_TIMED_OUT, Slave(A).pollState);
  Send(A_POLL, {5, 6});
  EXPECT_NO_FRAME();
  // Connection Reset brings it back.
  Send(A_REQ, {M, 0x05, 0x05, 0x02});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x85});
  EXPECT_EQ(SIM_CONN_ESTABLISHED, Slave(A).pollState);
  // The explicit connection (2500 ms default) waits in deferred delete
  // while the poll connection exists, and goes with it.
  Send(A_REQ, {M, 0x10, 0x05, 0x02, 0x09, 0x00, 0x00});  // poll watchdog off
  EXPECT_FRAME(Next(), A_RESP, {M, 0x90, 0x00, 0x00});
  Sim_AdvanceMs(10000);
  EXPECT_EQ(SIM_CONN_DEFERRED, Slave(A).explicitState);
  Send(A_REQ, {M, 0x0E, 0x01, 0x01, 0x01});
  EXPECT_NO_FRAME();
  Send(A_UNC, {M, 0x4C, 0x03, 0x01, 0x02});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCC});
  EXPECT_EQ(0, Slave(A).allocChoice);
  EXPECT_EQ(0xFF, Slave(A).allocator);
  // Explicit alone: deleted after four rates; rate 0 keeps it for ever.
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
  Sim_AdvanceMs(9999);
  EXPECT_EQ(SIM_CONN_ESTABLISHED, Slave(A).explicitState);
  Sim_AdvanceMs(1);
  EXPECT_EQ(SIM_CONN_NONEXISTENT, Slave(A).explicitState);
  EXPECT_EQ(0, Slave(A).allocChoice);
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
  Send(A_REQ, {M, 0x10, 0x05, 0x01, 0x09, 0x00, 0x00});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x90, 0x00, 0x00});
  Sim_AdvanceMs(100000);
  EXPECT_EQ(SIM_CONN_ESTABLISHED, Slave(A).explicitState);
}

TEST_F(SlaveTest, NewMacIdRightAfterTheResponse) {
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
  Send(A_REQ, {M, 0x10, 0x03, 0x01, 0x01, 9});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x90});
  // At once at MAC 9: the Duplicate MAC ID check, two requests 1 s apart.
  EXPECT_FRAME(Next(), 0x44F, {0x00, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12});
  EXPECT_EQ(9, Slave(A).macId);
  EXPECT_EQ(SIM_LINK_CHECKING, Slave(A).link);
  EXPECT_EQ(0, Slave(A).allocChoice);
  Send(0x44E, {M, 0x4B, 0x03, 0x01, 0x01, M});  // not online yet
  EXPECT_NO_FRAME();
  Sim_AdvanceMs(1000);
  EXPECT_FRAME(Next(), 0x44F, {0x00, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12});
  Sim_AdvanceMs(1000);
  EXPECT_EQ(SIM_LINK_ONLINE, Slave(A).link);
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});  // old MAC: silence
  EXPECT_NO_FRAME();
  Send(0x44E, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), 0x44B, {M, 0xCB, 0x00});
  // A node answering the check keeps the slave off the bus.
  Send(0x44C, {M, 0x10, 0x03, 0x01, 0x01, 5});
  EXPECT_FRAME(Next(), 0x44B, {M, 0x90});
  EXPECT_FRAME(Next(), A_DUP, {0x00, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12});
  Send(A_DUP, {0x80, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00});
  EXPECT_EQ(SIM_LINK_FAULTED, Slave(A).link);
  Sim_AdvanceMs(5000);
  Send(A_DUP, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_NO_FRAME();
  EXPECT_EQ(0, Sim_PowerCycle(A));  // back to its configured MAC ID 5
  Sim_AdvanceMs(2000);
  Drain();
  EXPECT_EQ(SIM_LINK_ONLINE, Slave(A).link);
  EXPECT_EQ(5, Slave(A).macId);
}

TEST_F(SlaveTest, NewBaudRateAtResetAndSlavesAtOtherRatesUnheard) {
  Send(0x43F, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});  // C at 250: unheard
  EXPECT_NO_FRAME();
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
  Send(A_REQ, {M, 0x10, 0x03, 0x01, 0x02, 2});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x90});
  Send(A_REQ, {M, 0x0E, 0x03, 0x01, 0x02});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x8E, 0x02});
  EXPECT_EQ(0, Slave(A).baudIndex);  // not before the reset
  Send(A_REQ, {M, 0x05, 0x01, 0x01, 0x00});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x85});
  EXPECT_NO_FRAME();  // its Duplicate MAC ID check runs at 500 kbit/s
  EXPECT_EQ(2, Slave(A).baudIndex);
  EXPECT_EQ(1u, Slave(A).resets);
  Sim_AdvanceMs(2000);
  Send(A_DUP, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_NO_FRAME();

  ASSERT_EQ(0u, CAN_Init(SIMCAN_BTR_500K, 0, 0, 0, 0));
  Send(A_DUP, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_FRAME(Next(), A_DUP, {0x80, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12});
  ASSERT_EQ(0u, CAN_Init(SIMCAN_BTR_250K, 0, 0, 0, 0));
  Send(0x43F, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_FRAME(Next(), 0x43F, {0x80, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00});
  // Out-of-box reset: configured MAC ID and baud rate again.
  ASSERT_EQ(0u, CAN_Init(SIMCAN_BTR_500K, 0, 0, 0, 0));
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
  Send(A_REQ, {M, 0x05, 0x01, 0x01, 0x01});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x85});
  EXPECT_EQ(0, Slave(A).baudIndex);
}

TEST_F(SlaveTest, UcmmOpenAndCloseWithEachGroupSelect) {
  // Group select 3, source message ID 0: requests 0x601, responses 0x605.
  Send(0x781, {0x05, 0x4B, 0x00, 0x30});
  EXPECT_FRAME(Next(), 0x745, {M, 0xCB, 0x00, 0x00, 0x05, 0x00});
  Send(0x601, {0x45, 0x0E, 0x01, 0x01, 0x01});
  EXPECT_FRAME(Next(), 0x605, {0x40 | M, 0x8E, 0x34, 0x12});
  // Group select 0, source message ID 2: requests 0x081, responses 0x005.
  Send(0x781, {0x05, 0x4B, 0x00, 0x02});
  EXPECT_FRAME(Next(), 0x745, {M, 0xCB, 0x00, 0x20, 0x06, 0x00});
  Send(0x081, {0x05, 0x0E, 0x05, 0x06, 0x04});  // its produced connection ID
  EXPECT_FRAME(Next(), 0x005, {M, 0x8E, 0x05, 0x00});
  EXPECT_EQ(2, Slave(A).ucmmOpen);
  // The same Open again gets the same connection.
  Send(0x781, {0x05, 0x4B, 0x00, 0x30});
  EXPECT_FRAME(Next(), 0x745, {M, 0xCB, 0x00, 0x00, 0x05, 0x00});
  // Allocation through an open connection.
  Send(0x601, {0x05, 0x4B, 0x03, 0x01, 0x01, M});
  EXPECT_FRAME(Next(), 0x605, {M, 0xCB, 0x00});
  EXPECT_EQ(1, Slave(A).allocChoice);
  struct Case {
    const char* what;
    Bytes request;
    Bytes answer;
  } cases[] = {
      {"group select 1", {0x05, 0x4B, 0x00, 0x13}, {M, 0x94, 0x02, 0x01}},
      {"group select 2", {0x05, 0x4B, 0x00, 0x23}, {M, 0x94, 0x20, 0xFF}},
      {"group 3 message ID 5", {0x05, 0x4B, 0x00, 0x35}, {M, 0x94, 0x20, 0xFF}},
      {"open cut short", {0x05, 0x4B, 0x00}, {M, 0x94, 0x13, 0xFF}},
      {"close of instance 9", {0x05, 0x4C, 0x09, 0x00}, {M, 0x94, 0x16, 0xFF}},
      {"other service", {0x05, 0x0E, 0x01, 0x01}, {M, 0x94, 0x08, 0xFF}},
      {"close of instance 5", {0x05, 0x4C, 0x05, 0x00}, {M, 0xCC}},
      {"close of instance 5 again", {0x05, 0x4C, 0x05, 0x00}, {M, 0x94, 0x16, 0xFF}},
  };
  for (const Case& c : cases) {
    Send(0x781, c.request);
    RxFrame f = Next();
    EXPECT_EQ(Hex(0x745, c.answer), Hex(f.id, f.data)) << c.what;
  }
  Send(0x601, {0x05, 0x0E, 0x01, 0x01, 0x01});  // closed
  Send(0x781, {0x06, 0x4B, 0x00, 0x30});        // for MAC 6: B has no UCMM
  Send(0x782, {0x07, 0x4B, 0x00, 0x30});        // for MAC 7: another baud rate
  EXPECT_NO_FRAME();
  // Three UCMM connections at most.
  for (uint8_t id = 0; id < 3; ++id) Send(0x782, {0x05, 0x4B, 0x00, uint8_t(0x30 | id)});
  Drain();
  Send(0x783, {0x05, 0x4B, 0x00, 0x30});
  EXPECT_FRAME(Next(), 0x745, {0x03, 0x94, 0x02, 0x01});
}

TEST_F(SlaveTest, FaultsDropDelayAndFalsifyAnswers) {
  ConnectA(0);
  Sim_DropAnswers(A, SIM_ANSWER_POLL, 1);
  Send(A_POLL, {1, 2});
  EXPECT_NO_FRAME();
  Send(A_POLL, {1, 2});
  EXPECT_FRAME(Next(), A_POLL_RESP, {1, 2, 0, 0});
  Sim_DropAnswers(A, SIM_ANSWER_DUPMAC, 2);
  for (int i = 0; i < 3; ++i) Send(A_DUP, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_FRAME(Next(), A_DUP, {0x80, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12});
  EXPECT_NO_FRAME();
  Sim_DropAnswers(A, SIM_ANSWER_EXPLICIT, 1);
  Send(A_REQ, {M, 0x0E, 0x01, 0x01, 0x01});
  EXPECT_NO_FRAME();
  Sim_WrongToggle(A, 1);
  Send(A_REQ, {M, 0x0E, 0x01, 0x01, 0x01});
  EXPECT_FRAME(Next(), A_RESP, {0x40 | M, 0x8E, 0x34, 0x12});
  Send(A_REQ, {M, 0x0E, 0x01, 0x01, 0x01});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x8E, 0x34, 0x12});

  Sim_DelayAnswers(A, SIM_ANSWER_EXPLICIT, 50);
  Send(A_REQ, {M, 0x0E, 0x01, 0x01, 0x03});
  Sim_AdvanceMs(49);
  EXPECT_NO_FRAME();
  Sim_AdvanceMs(1);
  EXPECT_FRAME(Next(), A_RESP, {M, 0x8E, 0x42, 0x00});
  Sim_DelayAnswers(A, SIM_ANSWER_EXPLICIT, 0);

  // Acknowledges of request fragments: dropped, then with a wrong count.
  Sim_DropAnswers(A, SIM_ANSWER_ACK, 1);
  Send(A_REQ, {0x80 | M, 0x00, 0x10, 0x03, 0x01, 0x03, 0x01});
  EXPECT_NO_FRAME();
  Sim_WrongFragCount(A, 1);
  Send(A_REQ, {0x80 | M, 0x00, 0x10, 0x03, 0x01, 0x03, 0x01});
  EXPECT_FRAME(Next(), A_RESP, {0x80 | M, 0xC1, 0x00});
  Send(A_REQ, {0x80 | M, 0x81});
  EXPECT_FRAME(Next(), A_RESP, {0x80 | M, 0xC1, 0x00});
  EXPECT_FRAME(Next(), A_RESP, {M, 0x90});

  // Refused Opens.
  Sim_RefuseOpen(A, 0x02, 0x04);
  Send(0x781, {0x05, 0x4B, 0x00, 0x30});
  EXPECT_FRAME(Next(), 0x745, {M, 0x94, 0x02, 0x04});
  Sim_RefuseOpen(A, 0, 0);
  Send(0x781, {0x05, 0x4B, 0x00, 0x30});
  EXPECT_FRAME(Next(), 0x745, {M, 0xCB, 0x00, 0x00, 0x05, 0x00});
}

TEST_F(SlaveTest, AdapterStatusWord) {
  EXPECT_EQ(0u, CAN_Status());
  Sim_SetAdapterStatus(SIMCAN_ERR_BUSHEAVY, 1);
  EXPECT_EQ(uint32_t(SIMCAN_ERR_BUSHEAVY), CAN_Status());
  DriverMsg m{};
  ASSERT_EQ(0u, CAN_Read(&m));
  EXPECT_EQ(SIMCAN_MSGTYPE_STATUS, m.MSGTYPE);
  EXPECT_EQ(SIMCAN_ERR_BUSHEAVY, m.DATA[3]);
  Sim_SetAdapterStatus(SIMCAN_ERR_BUSOFF, 0);
  m = DriverMsg{};
  m.ID = A_DUP;
  m.LEN = 7;
  EXPECT_EQ(uint32_t(SIMCAN_ERR_BUSOFF), CAN_Write(&m));
  EXPECT_EQ(uint32_t(SIMCAN_ERR_BUSOFF), CAN_Status());
  Sim_SetAdapterStatus(0, 0);
  Sim_FailWrites(2, SIMCAN_ERR_QXMTFULL);
  EXPECT_EQ(uint32_t(SIMCAN_ERR_QXMTFULL), CAN_Write(&m));
  EXPECT_EQ(uint32_t(SIMCAN_ERR_QXMTFULL), CAN_Write(&m));
  EXPECT_EQ(0u, CAN_Write(&m));
  EXPECT_FRAME(Next(), A_DUP, {0x80, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12});
  // Bad arguments.
  m.LEN = 9;
  EXPECT_EQ(uint32_t(SIMCAN_ERR_ILLPARAM), CAN_Write(&m));
  m.LEN = 0;
  m.ID = 0x800;
  EXPECT_EQ(uint32_t(SIMCAN_ERR_ILLPARAM), CAN_Write(&m));
  EXPECT_EQ(uint32_t(SIMCAN_ERR_ILLPARAM), CAN_Write(nullptr));
  EXPECT_EQ(uint32_t(SIMCAN_ERR_ILLPARAM), CAN_Init(0x1234, 0, 0, 0, 0));
  CAN_Close();
  EXPECT_EQ(uint32_t(SIMCAN_ERR_NOTOPEN), CAN_Status());
  EXPECT_EQ(uint32_t(SIMCAN_ERR_NOTOPEN), CAN_Read(&m));
}

// Sizes above 1000 bytes are only reported: such a slave polls nothing, and
// its assemblies stay within the 1000 bytes it holds.
TEST(SlaveOversized, ReportsItsSizesButDoesNoPolledIo) {
  Sim_UseManualClock();
  for (int instance : {100, 150}) {  // the inputs and outputs assemblies
    ASSERT_EQ(0, Sim_LoadConfigText("[slave]\nmac = 5\nproduced = 2000\nconsumed = 65535\n", "big"))
        << Sim_LastError();
    ASSERT_EQ(0u, CAN_Init(SIMCAN_BTR_125K, 0, 0, 0, 0));
    Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x03, M});
    EXPECT_FRAME(Next(), A_RESP, {M, 0xCB, 0x00});
    Send(A_REQ, {M, 0x0E, 0x05, 0x02, 0x07});
    EXPECT_FRAME(Next(), A_RESP, {M, 0x8E, 0xD0, 0x07});
    Send(A_REQ, {M, 0x0E, 0x05, 0x02, 0x08});
    EXPECT_FRAME(Next(), A_RESP, {M, 0x8E, 0xFF, 0xFF});
    Send(A_REQ, {M, 0x10, 0x05, 0x02, 0x09, 0x00, 0x00});
    EXPECT_FRAME(Next(), A_RESP, {M, 0x90, 0x00, 0x00});
    EXPECT_EQ(SIM_CONN_ESTABLISHED, Slave(A).pollState);
    Send(A_POLL, {});
    EXPECT_NO_FRAME();
    EXPECT_EQ(0u, Slave(A).polls);
    // 1000 bytes of the assembly, the first fragment waiting for its
    // acknowledge.
    Send(A_REQ, {M, 0x0E, 0x04, uint8_t(instance), 0x03});
    RxFrame first = Next();
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(0x80 | M, first.data[0]);
    EXPECT_EQ(0x00, first.data[1]);
    EXPECT_NO_FRAME();
    CAN_Close();
  }
}

TEST(SlaveQueue, ReceiveQueueOverflowReportsOverrunOnce) {
  Sim_UseManualClock();
  ASSERT_EQ(0, Sim_LoadConfigText("[bus]\nrx_queue = 2\n[slave]\nmac = 5\n", "small"));
  ASSERT_EQ(0u, CAN_Init(SIMCAN_BTR_125K, 0, 0, 0, 0));
  for (int i = 0; i < 3; ++i) Send(A_DUP, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(uint32_t(SIMCAN_ERR_OVERRUN), CAN_Status());
  EXPECT_EQ(0u, CAN_Status());
  EXPECT_TRUE(Next().ok);
  EXPECT_TRUE(Next().ok);
  EXPECT_FALSE(Next().ok);
  CAN_Close();
}

}  // namespace

namespace {

// Malformed and out-of-sequence frames never crash a slave, and afterwards
// it still answers as before.
TEST(SlaveBadInput, RandomFramesLeaveTheSlavesWorking) {
  Sim_UseManualClock();
  ASSERT_EQ(0, Sim_LoadConfigText(kConfig, "random"));
  ASSERT_EQ(0u, CAN_Init(SIMCAN_BTR_125K, 0, 0, 0, 0));
  uint32_t seed = 7;
  auto rnd = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  // Allocated first, so that the connected paths see garbage as well.
  Send(A_UNC, {M, 0x4B, 0x03, 0x01, 0x03, M});
  Send(B_UNC, {M, 0x4B, 0x03, 0x01, 0x03, M});
  Send(0x781, {0x05, 0x4B, 0x00, 0x30});
  for (int i = 0; i < 20000; ++i) {
    uint32_t r = rnd();
    // Mostly the identifiers the slaves listen to, some anything at all.
    static const uint32_t kIds[] = {A_REQ, A_POLL, A_UNC, B_REQ, B_POLL, B_UNC, 0x781, 0x601};
    uint32_t id = (r & 7) == 7 ? rnd() & 0x7FF : kIds[r % 8];
    Bytes data(rnd() % 9);
    for (uint8_t& b : data) b = uint8_t(rnd());
    if (!data.empty() && (r & 0x100)) data[0] = uint8_t((data[0] & 0xC0) | M);
    if (data.size() > 1 && id != A_POLL && id != B_POLL && (r & 0x200)) data[1] &= 0x1F;
    Send(id, data);
    if (i % 64 == 0) Sim_AdvanceMs(rnd() % 200);
    Drain();
  }
  Sim_AdvanceMs(5000);
  Drain();
  for (int slave = A; slave <= B; ++slave) {
    uint8_t mac = Slave(slave).macId;
    uint32_t dup = 0x400u | uint32_t(mac) << 3 | 7u;
    Send(dup, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    RxFrame f = Next();
    EXPECT_TRUE(f.ok && f.id == dup && f.data.size() == 7 && f.data[0] == 0x80)
        << "slave " << slave << " at MAC " << int(mac);
  }
  CAN_Close();
}

}  // namespace
