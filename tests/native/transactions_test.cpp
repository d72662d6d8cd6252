// Transactions against simulated slaves, through the real driver binding:
// the simulated adapter library is copied beside the test as the USB
// adapter's driver. Runs natively and under Wine.
#include "master/transactions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "platform/platform.h"
#include "sim_client.h"

namespace {

using namespace sim_client;
using namespace master;

constexpr uint8_t SLAVE = 10;

struct SlaveConfig {
  bool ucmm = true;
  const char* bodyFormat = "8/8";
  int produced = 8;
  int consumed = 8;
  const char* io = "echo";
};

std::string ConfigText(const SlaveConfig& c) {
  return std::string("[slave]\nmac = 10\nbaud = 125\nvendor = 0x0520\ndevice_type = 7\n") +
         "product_code = 1001\nrevision = 2.1\nserial = 0x00C0FFEE\n" +
         "name = Quillon Sim I/O with a long name\n" + "produced = " + std::to_string(c.produced) +
         "\nconsumed = " + std::to_string(c.consumed) + "\nucmm = " + (c.ucmm ? "yes" : "no") +
         "\nbody_format = " + c.bodyFormat + "\nio = " + c.io + "\n";
}

class Transactions : public ::testing::Test {
 protected:
  void SetUp() override { Start(SlaveConfig{}); }
  void TearDown() override {
    can::CloseAdapter(nullptr);
    platform::DisableTestClock();
  }

  void Start(const SlaveConfig& config) {
    can::CloseAdapter(nullptr);
    platform::EnableTestClock(1000);
    app::InitAppState(nullptr);
    devicenet::ClearSendHook();
    devicenet::SetSendHook(devicenet::SendFrame);
    devicenet::InitNodeTable(devicenet::g_NodeTable);
    ForgetAllConnections();
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(ConfigText(config).c_str(), "test.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    app::g_App.PrinterPort = can::PORT_USB;
    ASSERT_TRUE(can::OpenAdapter(nullptr, 0));
    sim.traceClear();
    devicenet::g_NodeTable.OwnMacId = PickOwnMacId(SLAVE, SLAVE);
  }

  // Identifiers of the frames on the bus since the trace was cleared.
  std::vector<uint32_t> TraceIds() {
    std::vector<uint32_t> ids;
    for (const SimTraceFrame& f : Trace()) ids.push_back(f.id);
    return ids;
  }
  // Attribute access as the program does it after connecting: on the
  // predefined set's Group 2 explicit connection.
  uint32_t Get(uint16_t classId, uint16_t instance, uint8_t attribute,
               std::vector<uint8_t>& value) {
    static uint8_t buffer[1000];
    uint32_t length = 0;
    ServiceRequest r{2, 0x0E, classId, instance, attribute, 0};
    const uint32_t result = TxService(SLAVE, 0, r, buffer, length);
    value.assign(buffer, buffer + length);
    return result;
  }
  uint32_t Set(uint16_t classId, uint16_t instance, uint8_t attribute, std::vector<uint8_t> value) {
    static uint8_t buffer[1000];
    std::memcpy(buffer, value.data(), value.size());
    uint32_t length = 0;
    ServiceRequest r{2, 0x10, classId, instance, attribute, uint8_t(value.size())};
    return TxService(SLAVE, 0, r, buffer, length);
  }

  // Lets the predefined set's explicit connection time out on the slave: its
  // default expected packet rate of 2500 ms, four times over. The poll
  // connection holds it in deferred delete; the set stays allocated.
  void LetExplicitConnectionTimeOut() {
    platform::AdvanceTestClock(10001);
    ASSERT_EQ(Slave().explicitState, SIM_CONN_DEFERRED);
    ASSERT_EQ(Slave().allocChoice, 3);
  }

  // Connects and sizes the poll connection as start-up does.
  void ConnectForPolling() {
    ASSERT_EQ(TxConnect(SLAVE, devicenet::g_NodeTable.OwnMacId, CONNECT_TIMEOUT_MS), TXR_OK);
    ASSERT_EQ(Set(5, 2, 9, {0, 0}), TXR_OK);
    std::vector<uint8_t> size;
    ASSERT_EQ(Get(5, 2, 7, size), TXR_OK);
    ASSERT_EQ(Get(5, 2, 8, size), TXR_OK);
  }
};

constexpr uint32_t UCMM_OPEN_ID = 0x780 | 0;  // own MAC ID 0
constexpr uint32_t G2_UNCONNECTED_ID = 0x400 | (SLAVE << 3) | 6;
constexpr uint32_t G2_EXPLICIT_REQUEST_ID = 0x400 | (SLAVE << 3) | 4;
constexpr uint32_t UCMM_CONNECTION_ID = 0x600 | 0;  // group 3, source message ID 0, own MAC ID 0

TEST_F(Transactions, ConnectAndReleaseThroughTheUcmm) {
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(UcmmConnOpen, 1);
  EXPECT_EQ(Slave().allocChoice, 3);
  EXPECT_EQ(Slave().ucmmOpen, 1);
  EXPECT_EQ(Slave().pollState, SIM_CONN_CONFIGURING);
  EXPECT_TRUE(TraceOf(G2_UNCONNECTED_ID).empty());  // all of it on the UCMM connection
  const auto opens = TraceOf(UCMM_OPEN_ID);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].data[3], 0x30);

  std::vector<uint8_t> vendor;
  ASSERT_EQ(Get(1, 1, 1, vendor), TXR_OK);
  EXPECT_EQ(vendor, (std::vector<uint8_t>{0x20, 0x05}));
  // The request carries the attribute ID as its one data byte.
  const auto gets = TraceOf(0x400 | (SLAVE << 3) | 4);
  ASSERT_EQ(gets.size(), 1u);
  ASSERT_EQ(gets[0].len, 5);
  EXPECT_EQ(0, std::memcmp(&gets[0].data[1], "\x0E\x01\x01\x01", 4));

  TheSim().traceClear();
  ASSERT_EQ(TxRelease(SLAVE, 0), TXR_OK);
  EXPECT_EQ(Slave().allocChoice, 0);
  EXPECT_EQ(Slave().ucmmOpen, 0);
  EXPECT_EQ(TraceOf(G2_UNCONNECTED_ID).size(), 0u);  // the release on the UCMM connection
  EXPECT_EQ(TraceOf(UCMM_CONNECTION_ID).size(), 1u);
  EXPECT_EQ(TraceOf(UCMM_OPEN_ID).size(), 1u);  // the Close
}

TEST_F(Transactions, SlaveWithoutUcmmIsConnectedThroughGroupTwo) {
  SlaveConfig config;
  config.ucmm = false;
  Start(config);
  const uint32_t start = platform::TickMs();
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_GT(platform::TickMs() - start, 200u);  // the open waited out its time-out
  EXPECT_EQ(UcmmConnOpen, 0);
  EXPECT_EQ(Slave().allocChoice, 3);
  EXPECT_EQ(TraceOf(G2_UNCONNECTED_ID).size(), 1u);

  // Allocating again is "already allocated": success.
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);

  TheSim().traceClear();
  ASSERT_EQ(TxRelease(SLAVE, 0), TXR_OK);
  EXPECT_EQ(TraceOf(UCMM_OPEN_ID).size(), 0u);  // no close without a UCMM connection
  EXPECT_EQ(Slave().allocChoice, 0);
  // Released, the set is none of ours: a second Release sends nothing, as
  // a Group 2 only slave would take it from anyone.
  TheSim().traceClear();
  EXPECT_EQ(TxRelease(SLAVE, 0), TXR_OK);
  EXPECT_TRUE(Trace().empty());
}

TEST_F(Transactions, UnansweredOpenFallsBackToGroupTwo) {
  TheSim().dropAnswers(0, SIM_ANSWER_EXPLICIT, 1);
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(UcmmConnOpen, 0);
  EXPECT_EQ(TraceOf(G2_UNCONNECTED_ID).size(), 1u);
}

TEST_F(Transactions, OpenRefusedForLackOfConnectionsIsTriedOnceMore) {
  TheSim().refuseOpen(0, 0x02, 0x01);
  EXPECT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_FAILED);
  const auto opens = TraceOf(UCMM_OPEN_ID);
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_EQ(opens[0].data[3], 0x30);  // group select 3
  EXPECT_EQ(opens[1].data[3], 0x00);  // then group 1
  EXPECT_TRUE(TraceOf(G2_UNCONNECTED_ID).empty());
  EXPECT_EQ(Slave().allocChoice, 0);

  // Refused once: the second Open asks for a group 1 connection, which then
  // carries the expected packet rate and the Allocate.
  Start(SlaveConfig{});
  TheSim().refuseNextOpens(0, 0x02, 0x01, 1);
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(UcmmConnOpen, 1);
  EXPECT_EQ(devicenet::g_NodeTable.Node[SLAVE].ExplGroup, 1);
  EXPECT_EQ(TraceOf(UCMM_OPEN_ID).size(), 2u);
  EXPECT_TRUE(TraceOf(G2_UNCONNECTED_ID).empty());
  EXPECT_EQ(Slave().allocChoice, 3);

  // Any other refusal falls back to the Group 2 port.
  TheSim().refuseOpen(0, 0x08, 0x00);
  EXPECT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(UcmmConnOpen, 0);
}

TEST_F(Transactions, AttributesInEachBodyFormat) {
  for (const char* format : {"8/8", "8/16", "16/16", "16/8"}) {
    for (bool ucmm : {true, false}) {
      SCOPED_TRACE(testing::Message() << format << (ucmm ? " UCMM" : " Group 2"));
      SlaveConfig config;
      config.bodyFormat = format;
      config.ucmm = ucmm;
      Start(config);
      ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
      std::vector<uint8_t> value;
      ASSERT_EQ(Get(1, 1, 3, value), TXR_OK);  // product code
      EXPECT_EQ(value, (std::vector<uint8_t>{0xE9, 0x03}));
      ASSERT_EQ(Set(5, 2, 9, {0x64, 0x00}), TXR_OK);
      ASSERT_EQ(Get(5, 2, 9, value), TXR_OK);
      EXPECT_EQ(value, (std::vector<uint8_t>{0x64, 0x00}));
      EXPECT_EQ(Slave().pollState, SIM_CONN_ESTABLISHED);
    }
  }
}

TEST_F(Transactions, FragmentedRequestAndResponse) {
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  std::vector<uint8_t> name;
  ASSERT_EQ(Get(1, 1, 7, name), TXR_OK);  // a short string longer than one frame
  const std::string expected = "Quillon Sim I/O with a long name";
  ASSERT_EQ(name.size(), expected.size() + 1);
  EXPECT_EQ(name[0], expected.size());
  EXPECT_EQ(std::string(name.begin() + 1, name.end()), expected);

  // A 20-byte write to a 2-byte attribute: sent in fragments, refused whole.
  const uint32_t result = Set(5, 2, 9, std::vector<uint8_t>(20, 1));
  EXPECT_EQ(result, 0x0015FF00u);  // too much data, no additional code
}

TEST_F(Transactions, ErrorResponseLeavesTheBufferAlone) {
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  uint8_t buffer[1000];
  std::memset(buffer, 0x5A, sizeof buffer);
  uint32_t length = 77;
  ServiceRequest r{2, 0x0E, 0x64, 1, 1, 0};
  const uint32_t result = TxService(SLAVE, 0, r, buffer, length);
  EXPECT_NE(result & TXR_GEC_MASK, 0u);
  EXPECT_EQ(result & ~(TXR_GEC_MASK | TXR_AEC_MASK), 0u);
  EXPECT_EQ(length, 0u);
  for (uint8_t b : buffer) ASSERT_EQ(b, 0x5A);
}

TEST_F(Transactions, PollsOfEverySize) {
  for (int size : {0, 8, 9, 20, 1000}) {
    SCOPED_TRACE(size);
    SlaveConfig config;
    config.produced = size;
    config.consumed = size;
    Start(config);
    ConnectForPolling();
    EXPECT_EQ(devicenet::g_NodeTable.Node[SLAVE].G1Size[15], size);
    EXPECT_EQ(devicenet::g_NodeTable.Node[SLAVE].G2Size[5], size);
    static app::IoBuffers io;
    std::memset(&io, 0, sizeof io);
    io.Output.Length = static_cast<uint32_t>(size);
    for (int i = 0; i < size; ++i) io.Output.Data[i] = static_cast<uint8_t>(i * 3 + 1);
    io.Input.Length = 12345;
    ASSERT_EQ(TxPoll(SLAVE, io), TXR_OK);
    EXPECT_EQ(Slave().outputLen, size);
    EXPECT_EQ(0, std::memcmp(Slave().output, io.Output.Data, size));
    ASSERT_EQ(io.Input.Length, static_cast<uint32_t>(size));
    EXPECT_EQ(0, std::memcmp(io.Input.Data, io.Output.Data, size));  // the slave echoes

    io.Output.Length = static_cast<uint32_t>(size + 1);  // longer than the connection
    EXPECT_EQ(TxPoll(SLAVE, io), TXR_IO_FAILED);
  }
}

TEST_F(Transactions, ProbeAndReset) {
  EXPECT_EQ(TxProbeMac(SLAVE, PROBE_TIMEOUT_MS), TXR_OK);
  const uint32_t start = platform::TickMs();
  EXPECT_EQ(TxProbeMac(SLAVE + 1, PROBE_TIMEOUT_MS), TXR_IO_FAILED);
  EXPECT_EQ(platform::TickMs() - start, 61u);

  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(TxReset(SLAVE), 1u);
  EXPECT_EQ(Slave().resets, 1u);
}

TEST_F(Transactions, UnansweredRequestsEndByTheirTimeOut) {
  ConnectForPolling();
  static app::IoBuffers io;
  std::memset(&io, 0, sizeof io);
  io.Output.Length = 8;

  TheSim().dropAnswers(0, SIM_ANSWER_EXPLICIT, 1);
  uint32_t start = platform::TickMs();
  std::vector<uint8_t> value;
  EXPECT_EQ(Get(1, 1, 1, value), TXR_TIMEOUT);
  EXPECT_GT(platform::TickMs() - start, 2000u);
  EXPECT_LT(platform::TickMs() - start, 2010u);

  TheSim().dropAnswers(0, SIM_ANSWER_POLL, 1);
  start = platform::TickMs();
  EXPECT_EQ(TxPoll(SLAVE, io), TXR_IO_FAILED);
  EXPECT_GT(platform::TickMs() - start, 2000u);
  EXPECT_EQ(TxPoll(SLAVE, io), TXR_OK);  // the next one is answered again

  TheSim().wrongToggle(0, 1);
  EXPECT_EQ(Get(1, 1, 1, value), TXR_FAILED);

  // The reset is carried out; only its answer is lost.
  TheSim().dropAnswers(0, SIM_ANSWER_EXPLICIT, 1);
  EXPECT_EQ(TxReset(SLAVE), TXR_TIMEOUT);
  EXPECT_EQ(Slave().resets, 1u);
}

TEST_F(Transactions, DriverStatusMessagesAreNotFrames) {
  TheSim().setAdapterStatus(0x08, 1);  // bus heavy, also queued as a status message
  EXPECT_EQ(TxProbeMac(SLAVE, PROBE_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(can::CanStatus(), 0x08u);
  TheSim().setAdapterStatus(0, 0);
}

TEST_F(Transactions, GroupTwoReleaseIsEightEightInEveryGrantedFormat) {
  for (const char* format : {"8/8", "8/16", "16/16", "16/8"}) {
    SCOPED_TRACE(format);
    SlaveConfig config;
    config.bodyFormat = format;
    config.ucmm = false;
    Start(config);
    ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
    TheSim().traceClear();
    EXPECT_EQ(TxRelease(SLAVE, 0), TXR_OK);
    EXPECT_EQ(Slave().allocChoice, 0);
    const auto releases = TraceOf(G2_UNCONNECTED_ID);
    ASSERT_EQ(releases.size(), 1u);
    ASSERT_EQ(releases[0].len, 5);
    EXPECT_EQ(0, std::memcmp(&releases[0].data[1], "\x4C\x03\x01\x03", 4));
  }
}

TEST_F(Transactions, OpenAnsweredWithAnErrorGivesNoConnection) {
  struct Case {
    uint8_t general, additional;
  } cases[] = {{0x0B, 0x00}, {0x02, 0x04}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.general) << "/" << int(c.additional));
    Start(SlaveConfig{});
    TheSim().refuseOpen(0, c.general, c.additional);
    ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
    EXPECT_EQ(UcmmConnOpen, 0);
    EXPECT_EQ(TraceOf(UCMM_OPEN_ID).size(), 1u);  // one Open, then the Group 2 port
    EXPECT_EQ(TraceOf(G2_UNCONNECTED_ID).size(), 1u);
    EXPECT_EQ(Slave().allocChoice, 3);
    std::vector<uint8_t> vendor;
    EXPECT_EQ(Get(1, 1, 1, vendor), TXR_OK);
  }
}

TEST_F(Transactions, ReleaseGoesTheWayTheAllocateWent) {
  struct Case {
    const char* name;
    bool ucmm;
    uint32_t refusedOpens;  // 0x02/0x01 answers before an Open is accepted
    uint32_t releaseId;
  } cases[] = {
      {"UCMM, group 3", true, 0, UCMM_CONNECTION_ID},
      {"UCMM, group 1", true, 1, 0x000},  // source message ID 0, own MAC ID 0
      {"Group 2 Only port", false, 0, G2_UNCONNECTED_ID},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SlaveConfig config;
    config.ucmm = c.ucmm;
    Start(config);
    TheSim().refuseNextOpens(0, 0x02, 0x01, c.refusedOpens);
    ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
    LetExplicitConnectionTimeOut();
    TheSim().traceClear();
    EXPECT_EQ(TxRelease(SLAVE, 0), TXR_OK);
    EXPECT_EQ(Slave().allocChoice, 0);
    EXPECT_EQ(Slave().ucmmOpen, 0);
    EXPECT_TRUE(TraceOf(G2_EXPLICIT_REQUEST_ID).empty());
    const auto releases = TraceOf(c.releaseId);
    ASSERT_EQ(releases.size(), 1u);
    EXPECT_EQ(0, std::memcmp(&releases[0].data[1], "\x4C\x03\x01\x03", 4));
  }
}

TEST_F(Transactions, StaleAllocationIsReleasedAndAllocatedAfresh) {
  for (bool ucmm : {false, true}) {
    SCOPED_TRACE(ucmm ? "UCMM" : "Group 2");
    SlaveConfig config;
    config.ucmm = ucmm;
    Start(config);
    if (ucmm) {
      ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
    } else {
      // The Allocate is answered after its time-out: the start fails, the
      // slave is left allocated.
      TheSim().delayAnswers(0, SIM_ANSWER_EXPLICIT, 300);
      ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_TIMEOUT);
      TheSim().delayAnswers(0, SIM_ANSWER_EXPLICIT, 0);
    }
    LetExplicitConnectionTimeOut();

    if (!ucmm) {
      // Unchecked, our MAC ID may be another master's: its set is left
      // alone, and the 0x0B is the result.
      TheSim().traceClear();
      EXPECT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS) & (TXR_GEC_MASK | TXR_FAILED), 0x000B0000u);
      for (const SimTraceFrame& f : TraceOf(G2_UNCONNECTED_ID)) EXPECT_NE(f.data[1], 0x4C);
      EXPECT_EQ(Slave().allocChoice, 3);
    }
    // Checked free on the bus, the MAC ID is ours, and so is the set.
    devicenet::g_NodeTable.OwnMacClaimed = 1;
    ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
    EXPECT_EQ(Slave().explicitState, SIM_CONN_ESTABLISHED);
    std::vector<uint8_t> vendor;
    EXPECT_EQ(Get(1, 1, 1, vendor), TXR_OK);
  }
}

TEST_F(Transactions, LateAnswerIsNotTakenForALaterRequest) {
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  std::vector<uint8_t> value;
  // A Set answered 4.5 s late, then a request whose answer is lost: the
  // Set's answer arrives while a Get with the Set's toggle bit waits.
  TheSim().delayAnswers(0, SIM_ANSWER_EXPLICIT, 4500);
  EXPECT_EQ(Set(5, 2, 9, {0x64, 0x00}), TXR_TIMEOUT);
  TheSim().delayAnswers(0, SIM_ANSWER_EXPLICIT, 0);
  TheSim().dropAnswers(0, SIM_ANSWER_EXPLICIT, 1);
  EXPECT_EQ(Get(1, 1, 1, value), TXR_TIMEOUT);
  TheSim().delayAnswers(0, SIM_ANSWER_EXPLICIT, 1000);
  EXPECT_EQ(Get(1, 1, 0x63, value), 0x0014FF00u);  // attribute not supported
  EXPECT_TRUE(value.empty());
  TheSim().delayAnswers(0, SIM_ANSWER_EXPLICIT, 0);
}

TEST_F(Transactions, OlderUcmmConnectionIsClosedBeforeANewOne) {
  // The first Open is refused for lack of connections: a group 1 connection.
  TheSim().refuseNextOpens(0, 0x02, 0x01, 1);
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  ASSERT_EQ(Slave().ucmmOpen, 1);
  // A reconnect gets a group 3 connection; the group 1 one is closed first.
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(Slave().ucmmOpen, 1);
  std::vector<uint8_t> vendor;
  EXPECT_EQ(Get(1, 1, 1, vendor), TXR_OK);

  // After a release nothing is left to close: the Open goes alone.
  ASSERT_EQ(TxRelease(SLAVE, 0), TXR_OK);
  EXPECT_EQ(Slave().ucmmOpen, 0);
  TheSim().traceClear();
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(TraceOf(UCMM_OPEN_ID).size(), 1u);
  EXPECT_EQ(Slave().ucmmOpen, 1);
}

TEST(OwnMacId, DiffersFromBothAddresses) {
  struct Case {
    uint8_t a, b, own;
  } cases[] = {{0, 0, 1}, {5, 5, 0}, {0, 1, 2}, {3, 0, 2},
               {5, 0, 2}, {2, 0, 1}, {1, 0, 2}, {63, 63, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(PickOwnMacId(c.a, c.b), c.own) << int(c.a) << "->" << int(c.b);
  }
  for (uint8_t a = 0; a < 64; ++a) {
    for (uint8_t b = 0; b < 64; ++b) {
      const uint8_t own = PickOwnMacId(a, b);
      EXPECT_NE(own, a);
      if (a != b) {
        EXPECT_NE(own, b);
      }
    }
  }
}

TEST(PumpHook, SetAndClear) {
  EXPECT_EQ(SetPumpHook([](void*) {}), 1);
  EXPECT_NE(app::g_App.PumpHook, nullptr);
  EXPECT_EQ(SetPumpHook(nullptr), 1);
  EXPECT_EQ(app::g_App.PumpHook, nullptr);
}

}  // namespace
