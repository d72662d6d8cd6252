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
#include "master/session.h"
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
  bool group2Port = true;
};

std::string ConfigText(const SlaveConfig& c) {
  return std::string("[slave]\nmac = 10\nbaud = 125\nvendor = 0x0520\ndevice_type = 7\n") +
         "product_code = 1001\nrevision = 2.1\nserial = 0x00C0FFEE\n" +
         "name = Quillon Sim I/O with a long name\n" + "produced = " + std::to_string(c.produced) +
         "\nconsumed = " + std::to_string(c.consumed) + "\nucmm = " + (c.ucmm ? "yes" : "no") +
         "\nbody_format = " + c.bodyFormat + "\nio = " + c.io +
         "\ngroup2_port = " + (c.group2Port ? "yes" : "no") + "\n";
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
  // Refused in both groups: the Group 2 Only port takes the Allocate.
  TheSim().refuseOpen(0, 0x02, 0x01);
  EXPECT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  const auto opens = TraceOf(UCMM_OPEN_ID);
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_EQ(opens[0].data[3], 0x30);  // group select 3
  EXPECT_EQ(opens[1].data[3], 0x00);  // then group 1
  EXPECT_EQ(TraceOf(G2_UNCONNECTED_ID).size(), 1u);
  EXPECT_EQ(UcmmConnOpen, 0);
  EXPECT_EQ(Slave().allocChoice, 3);

  // Without that port either, the refusal is the result.
  SlaveConfig noPort;
  noPort.group2Port = false;
  Start(noPort);
  TheSim().refuseOpen(0, 0x02, 0x01);
  EXPECT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), 0x00020100u);
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
  const struct {
    const char* format;
    uint32_t classMax, instanceMax;
  } formats[] = {{"8/8", 0xFF, 0xFF},
                 {"8/16", 0xFF, 0xFFFF},
                 {"16/16", 0xFFFF, 0xFFFF},
                 {"16/8", 0xFFFF, 0xFF}};
  for (const auto& f : formats) {
    const char* format = f.format;
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

      // IDs wider than the granted format carries go nowhere: cut, they
      // would name another object. No format carries more than 16 bits.
      uint32_t classMax = 0;
      uint32_t instanceMax = 0;
      ASSERT_TRUE(TxPathLimits(SLAVE, ServiceRequest{2, 0x0E, 1, 1, 1, 0}, classMax, instanceMax));
      EXPECT_EQ(classMax, f.classMax);
      EXPECT_EQ(instanceMax, f.instanceMax);
      TheSim().traceClear();
      if (classMax == 0xFF) {
        EXPECT_EQ(Get(0x103, 1, 1, value), TXR_FAILED);
      }
      if (instanceMax == 0xFF) {
        EXPECT_EQ(Get(1, 0x101, 1, value), TXR_FAILED);
      }
      static uint8_t buffer[1000];
      uint32_t length = 0;
      EXPECT_EQ(TxService(SLAVE, 0, ServiceRequest{2, 0x0E, 0x10001, 1, 1, 0}, buffer, length),
                TXR_FAILED);
      EXPECT_TRUE(Trace().empty()) << "a request with a cut ID reached the bus";
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

// The master's requests on the UCMM connection (own MAC ID 0, group 3):
// their service codes in order.
std::vector<uint8_t> UcmmConnectionServices() {
  std::vector<uint8_t> services;
  for (const SimTraceFrame& f : TraceOf(UCMM_CONNECTION_ID)) services.push_back(f.data[1]);
  return services;
}

TEST_F(Transactions, UcmmWatchdogIsSwitchedOffOnlyOnceTheSetIsHeld) {
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(UcmmConnectionServices(), (std::vector<uint8_t>{0x4B, 0x10}));
  const auto requests = TraceOf(UCMM_CONNECTION_ID);
  ASSERT_EQ(requests.size(), 2u);
  // Expected packet rate (attribute 9) 0 of the UCMM connection, instance 5.
  ASSERT_EQ(requests[1].len, 7);
  EXPECT_EQ(0, std::memcmp(&requests[1].data[2], "\x05\x05\x09\x00\x00", 5));

  // An Allocate refused: no rate is set on a connection that holds nothing.
  Start(SlaveConfig{});
  TheSim().refuseSetService(0, 0x4B, 0x02, 0x00, 1);
  EXPECT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS) & TXR_GEC_MASK, 0x00020000u);
  EXPECT_EQ(UcmmConnectionServices(), (std::vector<uint8_t>{0x4B}));
}

TEST_F(Transactions, UcmmConnectionIsClosedAfterEveryFailure) {
  struct Case {
    const char* name;
    uint8_t releaseGeneral;   // a Release of a set left behind answered so (0: none)
    uint8_t allocateGeneral;  // the Allocate answered so (0: unanswered, 0xFF: as usual)
    bool otherMaster;         // another master holds the set
    uint32_t result;          // TxConnect's, without the additional code
  } cases[] = {
      {"0x0C, another master's set", 0, 0xFF, true, TXR_OWNED_ELSEWHERE},
      {"Allocate refused", 0, 0x02, false, 0x00020000},
      {"Allocate unanswered", 0, 0, false, TXR_TIMEOUT},
      {"Release of a set left behind refused", 0x10, 0xFF, false, 0x00100000},
      {"Release of a set left behind unanswered", 0xF0, 0xFF, false, TXR_TIMEOUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(SlaveConfig{});
    if (c.otherMaster) {
      const uint8_t allocate[] = {5, 0x4B, 0x03, 0x01, 0x03, 5};  // by the master at MAC ID 5
      ASSERT_EQ(TheSim().injectFrame(0, G2_UNCONNECTED_ID, sizeof allocate, allocate), 0);
      platform::AdvanceTestClock(5);
      ASSERT_EQ(Slave().allocChoice, 3);
    }
    if (c.releaseGeneral) {
      // Ours from a start whose adapter closed without a Release.
      ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
      ForgetHeldSet();
      TheSim().refuseSetService(0, 0x4C, c.releaseGeneral == 0xF0 ? 0 : c.releaseGeneral, 0, 1);
    } else if (c.allocateGeneral != 0xFF) {
      TheSim().refuseSetService(0, 0x4B, c.allocateGeneral, 0, 1);
    }
    TheSim().traceClear();
    const uint32_t result = TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS);
    EXPECT_EQ(result & ~TXR_AEC_MASK, c.result);
    EXPECT_EQ(Slave().ucmmOpen, 0);
    EXPECT_EQ(UcmmConnOpen, 0);
    EXPECT_FALSE(HoldsSet(SLAVE));
    for (uint8_t service : UcmmConnectionServices()) EXPECT_NE(service, 0x10);
  }
}

TEST_F(Transactions, ReleaseClosesTheUcmmConnectionAlsoWhenItFails) {
  for (uint8_t general : {uint8_t{0x10}, uint8_t{0}}) {
    SCOPED_TRACE(int(general));
    Start(SlaveConfig{});
    ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
    TheSim().refuseSetService(0, 0x4C, general, 0, 1);
    EXPECT_NE(TxRelease(SLAVE, 0), TXR_OK);
    EXPECT_EQ(Slave().ucmmOpen, 0);
    // Left behind: a later connect takes it back without asking.
    ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
    EXPECT_EQ(Slave().ucmmOpen, 1);
  }
}

TEST_F(Transactions, AllocatedAtOurMacIdIsReleasedOnlyWhereWeMayHaveLeftIt) {
  struct Case {
    const char* name;
    bool ucmm;
    int leftBehindBy;  // 0: another master at our MAC ID; 1: an unanswered Allocate;
                       // 2: a Release that failed; 3: the user's word
  } cases[] = {
      {"Group 2, not ours", false, 0},
      {"UCMM, not ours", true, 0},
      {"Group 2, Allocate unanswered", false, 1},
      {"UCMM, Release failed", true, 2},
      {"Group 2, taken over", false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SlaveConfig config;
    config.ucmm = c.ucmm;
    Start(config);
    if (c.leftBehindBy == 0 || c.leftBehindBy == 3) {
      // A scanner at MAC ID 0 that is off line now.
      const uint8_t allocate[] = {0, 0x4B, 0x03, 0x01, 0x03, 0};
      ASSERT_EQ(TheSim().injectFrame(0, G2_UNCONNECTED_ID, sizeof allocate, allocate), 0);
      platform::AdvanceTestClock(5);
      if (c.leftBehindBy == 3) TakeOverSet(SLAVE, 0);
    } else if (c.leftBehindBy == 1) {
      // Carried out, answered after the time-out.
      TheSim().delayAnswers(0, SIM_ANSWER_EXPLICIT, 300);
      ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_TIMEOUT);
      TheSim().delayAnswers(0, SIM_ANSWER_EXPLICIT, 0);
    } else {
      ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
      TheSim().refuseSetService(0, 0x4C, 0x10, 0, 1);
      ASSERT_NE(TxRelease(SLAVE, 0), TXR_OK);
    }
    ASSERT_EQ(Slave().allocChoice, 3);
    ASSERT_EQ(Slave().allocator, 0);
    TheSim().traceClear();
    const uint32_t result = TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS);
    bool released = false;
    for (const SimTraceFrame& f : Trace()) {
      if ((f.id == G2_UNCONNECTED_ID || f.id == UCMM_CONNECTION_ID) && f.data[1] == 0x4C) {
        released = true;
      }
    }
    if (c.leftBehindBy == 0) {
      EXPECT_EQ(result, TXR_SET_AT_OWN_MAC | 0x000B0000u | (result & TXR_AEC_MASK));
      EXPECT_FALSE(released);
      EXPECT_EQ(Slave().ucmmOpen, 0);
    } else {
      EXPECT_EQ(result, TXR_OK);
      EXPECT_TRUE(released);
      EXPECT_EQ(Slave().explicitState, SIM_CONN_ESTABLISHED);
      std::vector<uint8_t> vendor;
      EXPECT_EQ(Get(1, 1, 1, vendor), TXR_OK);
    }
  }
}

TEST_F(Transactions, ExplicitConnectionAtOurMacIdIsReleasedOnlyOnTheUsersWord) {
  SlaveConfig config;
  config.ucmm = false;
  Start(config);
  const uint8_t allocate[] = {0, 0x4B, 0x03, 0x01, 0x01, 0};  // explicit, by MAC ID 0
  ASSERT_EQ(TheSim().injectFrame(0, G2_UNCONNECTED_ID, sizeof allocate, allocate), 0);
  platform::AdvanceTestClock(5);
  ASSERT_EQ(Slave().allocChoice, 1);
  TheSim().traceClear();
  ExplicitLink link{};
  EXPECT_EQ(TxOpenExplicit(SLAVE, 0, CONNECT_TIMEOUT_MS, link) & ~TXR_AEC_MASK,
            TXR_SET_AT_OWN_MAC | 0x000B0000u);
  for (const SimTraceFrame& f : TraceOf(G2_UNCONNECTED_ID)) EXPECT_NE(f.data[1], 0x4C);

  TakeOverSet(SLAVE, 0);
  ASSERT_EQ(TxOpenExplicit(SLAVE, 0, CONNECT_TIMEOUT_MS, link), TXR_OK);
  EXPECT_EQ(TxCloseExplicit(link, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(Slave().allocChoice, 0);
  // Closed cleanly: the next 0x0B is nobody's we know again.
  ASSERT_EQ(TheSim().injectFrame(0, G2_UNCONNECTED_ID, sizeof allocate, allocate), 0);
  platform::AdvanceTestClock(5);
  EXPECT_TRUE(IsSetAtOwnMac(TxOpenExplicit(SLAVE, 0, CONNECT_TIMEOUT_MS, link)));
}

TEST_F(Transactions, IdentityReadReleasesTheWholeSetWeLeftBehind) {
  SlaveConfig config;
  config.ucmm = false;
  Start(config);
  ASSERT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  ForgetHeldSet();  // the adapter closed without a Release
  ExplicitLink link{};
  ASSERT_EQ(TxOpenExplicit(SLAVE, 0, CONNECT_TIMEOUT_MS, link), TXR_OK);
  ASSERT_EQ(TxCloseExplicit(link, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(Slave().allocChoice, 0);  // the poll connection went with it
  TheSim().traceClear();
  EXPECT_EQ(TxConnect(SLAVE, 0, CONNECT_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(TraceOf(G2_UNCONNECTED_ID).size(), 1u);  // the Allocate alone
}

TEST_F(Transactions, ConnectWithinPausesBetweenTriesAndNamesTheLastCode) {
  SlaveConfig config;
  config.group2Port = false;
  Start(config);
  TheSim().refuseOpen(0, 0x02, 0x01);
  const uint32_t start = platform::TickMs();
  EXPECT_EQ(ConnectWithin(SLAVE, CONNECT_WINDOW_MS), 0x00020100u);
  EXPECT_LE(platform::TickMs() - start, CONNECT_WINDOW_MS + CONNECT_TIMEOUT_MS);
  // Each try: the Open in group 3 and in group 1, both refused, then the
  // Group 2 Only port's Allocate, unanswered.
  const auto allocates = TraceOf(G2_UNCONNECTED_ID);
  const auto opens = TraceOf(UCMM_OPEN_ID);
  ASSERT_GE(allocates.size(), 2u);
  EXPECT_EQ(opens.size(), 2 * allocates.size());
  for (size_t i = 1; i < allocates.size(); ++i) {
    // The next try starts a pause after the Allocate's time-out.
    EXPECT_GE(opens[2 * i].timeUs - allocates[i - 1].timeUs,
              uint64_t{CONNECT_TIMEOUT_MS + CONNECT_RETRY_PAUSE_MS} * 1000u);
  }
  EXPECT_EQ(Slave().ucmmOpen, 0);
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
