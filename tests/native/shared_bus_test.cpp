// The master on a bus shared with a running scanner (a simulated master
// node that owns a slave and polls it): its own MAC ID stays clear of the
// scanner's, the scanner's slave is left alone, and the scanner cannot come
// online with the MAC ID the master holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/session.h"
#include "master/transactions.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/native_seams.h"
#include "persist/resstring.h"
#include "persist/ui_text_record.h"
#include "platform/platform.h"
#include "resource.h"
#include "master_reset.h"
#include "sim_client.h"

namespace {

using namespace sim_client;
using namespace master;
using app::g_App;

constexpr uint8_t SLAVE = 10;
constexpr uint32_t UNCONNECTED_ID = 0x400 | (SLAVE << 3) | 6;
constexpr uint32_t ONLINE_MS = 2300;  // a scanner's check, allocation and first polls
constexpr uint8_t SVC_RELEASE = 0x4C;
int mainWindowTag;
void* const MAIN = &mainWindowTag;

std::string SlaveAt(int mac, bool ucmm) {
  return "[slave]\nmac = " + std::to_string(mac) + "\nucmm = " + (ucmm ? "yes" : "no") +
         "\nserial = " + std::to_string(100 + mac) + "\n";
}

std::string ScannerAt(int mac, int slave, const char* extra = "") {
  return "[master]\nmac = " + std::to_string(mac) + "\nslave = " + std::to_string(slave) +
         "\npoll_ms = 10\nvendor = 0x0123\nserial = 0x0BADCAFE\n" + extra;
}

SimMasterInfo Scanner(int index = 0) {
  static SimGetMasterFn get =
      reinterpret_cast<SimGetMasterFn>(platform::ResolveEntry(TheSim().library, "Sim_GetMaster"));
  SimMasterInfo info{};
  EXPECT_NE(get, nullptr);
  if (get) {
    EXPECT_EQ(get(index, &info), 0);
  }
  return info;
}

class SharedBus : public ::testing::Test {
 protected:
  void TearDown() override { StopMaster(MAIN); }

  // Loads the bus and lets the scanners check their MAC IDs, allocate
  // their slaves and poll them.
  void Configure(const std::string& config) {
    ResetMaster(io_, SLAVE);
    ResetCommView();
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(config.c_str(), "shared.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    platform::AdvanceTestClock(ONLINE_MS);
    sim.traceClear();
    persist::ClearRecordedBoxes();
    persist::ClearControlTexts();
  }

  int Start() {
    persist::ScriptBoxAnswer(persist::BOX_IDOK);
    return CommStart(MAIN);
  }

  static std::string BoxTexts() {
    std::string all;
    for (const auto& box : persist::RecordedBoxes()) all += "[" + box.text + "]";
    return all;
  }

  static std::string OwnedByOtherMaster() {
    char text[1000];
    persist::FormatResString(IDS_OWNED_BY_OTHER_MASTER, std::to_string(SLAVE).c_str(), nullptr,
                             nullptr, text, sizeof text);
    return text;
  }

  // Releases of the slave's set on its Group 2 Only port sent by `mac`.
  static int ReleasesFrom(uint8_t mac) {
    int count = 0;
    for (const SimTraceFrame& f : TraceOf(UNCONNECTED_ID)) {
      if (f.len >= 2 && (f.data[0] & 0x3F) == mac && f.data[1] == SVC_RELEASE) ++count;
    }
    return count;
  }

  app::IoBuffers io_{};
};

// A scanner at MAC ID 0 owns the slave: the start takes another own MAC ID,
// is refused with 0x0C and says so; nothing is released, and the scanner
// polls on through the start and after the Stop.
TEST_F(SharedBus, ScannersSlaveIsLeftToTheScanner) {
  for (bool ucmm : {true, false}) {
    SCOPED_TRACE(ucmm);
    Configure(SlaveAt(SLAVE, ucmm) + ScannerAt(0, SLAVE));
    ASSERT_EQ(Scanner().allocated, 1);
    ASSERT_EQ(Slave(TheSim().findSlave(SLAVE)).allocator, 0);

    EXPECT_EQ(Start(), 0);
    EXPECT_NE(devicenet::g_NodeTable.OwnMacId, 0);
    EXPECT_GE(Scanner().dupMacResponses, 1u) << "the scanner answered the check for 0";
    ASSERT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();
    EXPECT_EQ(persist::RecordedBoxes()[1].text, OwnedByOtherMaster());

    const uint32_t responses = Scanner().pollResponses;
    CommStop(MAIN);
    EXPECT_EQ(ReleasesFrom(devicenet::g_NodeTable.OwnMacId), 0);
    platform::AdvanceTestClock(1000);
    const SimMasterInfo scanner = Scanner();
    EXPECT_EQ(scanner.allocated, 1);
    EXPECT_EQ(scanner.allocAttempts, 1u);
    EXPECT_GE(scanner.pollResponses, responses + 99);
    EXPECT_EQ(Slave(TheSim().findSlave(SLAVE)).allocator, 0);
  }
}

// A scanner switched on while the master runs with MAC ID 0 checks that MAC
// ID: the master gives it up before its next request, without answering
// (an answer would fault the scanner), says so naming the scanner, and stops
// communication without sending a Release under that MAC ID. The scanner
// comes online and reaches its slave.
TEST_F(SharedBus, ScannerBootingWithTheMastersMacIdTakesItOver) {
  Configure(SlaveAt(SLAVE, true) + SlaveAt(20, false) + ScannerAt(0, 20, "start_ms = 3600000\n"));
  EXPECT_EQ(Scanner().link, SIM_LINK_SILENT);
  ASSERT_EQ(Start(), 1) << BoxTexts();
  ASSERT_EQ(devicenet::g_NodeTable.OwnMacId, 0);
  persist::ClearRecordedBoxes();

  auto powerCycle = reinterpret_cast<SimIndexFn>(
      platform::ResolveEntry(TheSim().library, "Sim_MasterPowerCycle"));
  ASSERT_NE(powerCycle, nullptr);
  ASSERT_EQ(CyclicStep(MAIN), 1);
  TheSim().traceClear();
  ASSERT_EQ(powerCycle(0), 0);
  int steps = 0;
  for (int i = 0; i < 30; ++i) {
    platform::AdvanceTestClock(100);
    steps += CyclicStep(MAIN);
  }
  EXPECT_EQ(steps, 0);
  EXPECT_EQ(g_App.CommActive, 0);
  ASSERT_EQ(persist::RecordedBoxes().size(), 1u) << BoxTexts();
  char node[1000];
  persist::FormatResString(IDS_OWN_MAC_RIVAL_REQUEST, "291", "0BADCAFE", nullptr, node,
                           sizeof node);
  char expected[1000];
  persist::FormatResString(IDS_OWN_MAC_LOST, "0", node, nullptr, expected, sizeof expected);
  EXPECT_EQ(persist::RecordedBoxes()[0].text, expected);

  // Not one frame of ours after the scanner's check began.
  for (const SimTraceFrame& f : Trace()) {
    EXPECT_NE(f.adapter, SIM_TRACE_SENT_BY_ADAPTER) << std::hex << f.id;
  }
  EXPECT_EQ(Scanner().link, SIM_LINK_ONLINE);
  EXPECT_GE(Scanner().allocAttempts, 1u);
  EXPECT_EQ(Slave(TheSim().findSlave(20)).allocator, 0);
  EXPECT_GE(Scanner().pollResponses, 1u);
}

// A node at the first candidate that answers its check only after both
// windows: the claim is made, and the late answer ends it before the next
// request to the slave, with the message naming that node.
TEST_F(SharedBus, LateAnswerForTheClaimedMacIdEndsItsUse) {
  Configure(SlaveAt(SLAVE, true) + SlaveAt(0, false));
  ASSERT_EQ(TheSim().delayAnswers(TheSim().findSlave(0), SIM_ANSWER_DUPMAC, 450), 0);
  ASSERT_EQ(Start(), 1) << BoxTexts();
  ASSERT_EQ(devicenet::g_NodeTable.OwnMacId, 0);
  for (int i = 0; i < 10; ++i) {
    platform::AdvanceTestClock(100);
    CyclicStep(MAIN);
  }
  EXPECT_EQ(g_App.CommActive, 0);
  ASSERT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();
  char node[1000];
  persist::FormatResString(IDS_OWN_MAC_RIVAL_RESPONSE, "0", "00000064", nullptr, node, sizeof node);
  char expected[1000];
  persist::FormatResString(IDS_OWN_MAC_LOST, "0", node, nullptr, expected, sizeof expected);
  EXPECT_EQ(persist::RecordedBoxes()[1].text, expected);
  uint64_t answerUs = 0;
  for (const SimTraceFrame& f : TraceOf(0x407)) {
    if ((f.data[0] & 0x80) && !answerUs) answerUs = f.timeUs;
  }
  ASSERT_NE(answerUs, 0u);
  for (const SimTraceFrame& f : Trace()) {
    if (f.timeUs > answerUs) {
      EXPECT_NE(f.adapter, SIM_TRACE_SENT_BY_ADAPTER) << std::hex << f.id;
    }
  }
}

// The demo's screenshot bus right after power-up: the scanner at 0 is in
// the middle of its own start-up check when Start is the first action. The
// master hears the scanner's second request before sending anything, leaves
// 0 to it and takes 1; the scanner comes online and runs its slave.
TEST_F(SharedBus, FirstStartOnTheScreenshotBusLeavesTheBootingScannerAlone) {
  std::FILE* file = std::fopen(SCREENSHOT_BUS_INI, "rb");
  ASSERT_NE(file, nullptr) << SCREENSHOT_BUS_INI;
  std::string config;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) config.append(chunk, n);
  std::fclose(file);

  ResetMaster(io_, 63);
  ResetCommView();
  ASSERT_EQ(TheSim().loadConfigText(config.c_str(), "screenshot-bus.ini"), 0)
      << TheSim().lastError();
  TheSim().useClock(TestTick);
  ASSERT_EQ(Scanner().link, SIM_LINK_CHECKING);
  persist::ClearRecordedBoxes();
  ASSERT_EQ(Start(), 1) << BoxTexts();
  EXPECT_EQ(devicenet::g_NodeTable.OwnMacId, 1);
  for (int i = 0; i < 30; ++i) {
    platform::AdvanceTestClock(100);
    ASSERT_EQ(CyclicStep(MAIN), 1) << BoxTexts();
  }
  EXPECT_EQ(Scanner().link, SIM_LINK_ONLINE);
  EXPECT_EQ(Scanner().allocated, 1);
  EXPECT_EQ(Slave(TheSim().findSlave(12)).allocator, 0);
  EXPECT_EQ(Slave(TheSim().findSlave(63)).allocator, 1);
}

// Another checker of the same candidate at the same time (a second copy of
// the program, as its frames go: vendor ID 0, its own serial number). The
// two checks' frames differ by their serial numbers, so they cannot merge
// on the wire unseen: the master hears the other's request, sends no second
// one and leaves the candidate to it; the other checker comes online.
TEST_F(SharedBus, TwoCheckersOfOneCandidateDoNotBothTakeIt) {
  // The other checker starts 50 ms into the master's check of 0, which
  // follows the master's 1100 ms of listening.
  Configure(SlaveAt(SLAVE, true) +
            ScannerAt(0, 20, "vendor = 0\nserial = 0x5EED0001\nstart_ms = 3450\n"));
  g_App.CheckSerial = 0x5EED0002;
  ASSERT_EQ(Start(), 1) << BoxTexts();
  EXPECT_NE(devicenet::g_NodeTable.OwnMacId, 0);
  for (int i = 0; i < 25; ++i) {
    platform::AdvanceTestClock(100);
    ASSERT_EQ(CyclicStep(MAIN), 1) << BoxTexts();
  }
  EXPECT_EQ(Scanner().link, SIM_LINK_ONLINE);
  std::vector<uint32_t> serials;
  for (const SimTraceFrame& f : TraceOf(0x407)) {
    serials.push_back(static_cast<uint32_t>(f.data[3] | f.data[4] << 8 | f.data[5] << 16 |
                                            static_cast<uint32_t>(f.data[6]) << 24));
  }
  EXPECT_NE(std::find(serials.begin(), serials.end(), 0x5EED0001u), serials.end());
  EXPECT_NE(std::find(serials.begin(), serials.end(), 0x5EED0002u), serials.end());
}

// Two copies of the program (the other one's check as a node with the same
// timing: two requests as far apart as the master's, vendor ID 0) checking
// one candidate, their requests starting together on the wire. With the
// same serial number the requests are one frame each time and neither
// sender can hear the other: both take the MAC ID. With this installation's
// own serial number they differ, each hears the other's, and the master
// leaves the candidate.
TEST_F(SharedBus, OnlyDistinctSerialNumbersKeepTwoCheckersApart) {
  const std::string bus = "[bus]\nwire_time = yes\n" + SlaveAt(SLAVE, true);
  const auto checker = [](uint32_t startMs, uint32_t apartMs) {
    const std::string keys =
        "vendor = 0\nserial = 0x5EED0001\nstart_ms = " + std::to_string(startMs) +
        "\ndup_mac_ms = " + std::to_string(apartMs) + "\n";
    return ScannerAt(0, 20, keys.c_str());
  };
  const auto requestsUs = [](bool fromAdapter) {
    std::vector<uint64_t> times;
    for (const SimTraceFrame& f : TraceOf(0x407)) {
      if ((f.adapter == SIM_TRACE_SENT_BY_ADAPTER) == fromAdapter && !(f.data[0] & 0x80)) {
        times.push_back(f.timeUs);
      }
    }
    return times;
  };
  // A first run learns when the master's requests for 0 leave and when the
  // bus was loaded: the runs are alike to the microsecond.
  const uint32_t laterMs = 20000;
  Configure(bus + checker(laterMs, 1000));
  g_App.CheckSerial = 0x5EED0001;
  ASSERT_EQ(Start(), 1) << BoxTexts();
  const std::vector<uint64_t> ours = requestsUs(true);
  ASSERT_EQ(ours.size(), 2u);
  StopMaster(MAIN);
  platform::EnableTestClock(1000);
  TheSim().useClock(TestTick);
  platform::AdvanceTestClock(laterMs);
  const std::vector<uint64_t> its = requestsUs(false);
  ASSERT_FALSE(its.empty());
  const uint64_t loadUs = its[0] - uint64_t{laterMs} * 1000;
  ASSERT_GT(ours[0], loadUs);
  const uint32_t startMs = static_cast<uint32_t>((ours[0] - loadUs) / 1000);
  const uint32_t apartMs = static_cast<uint32_t>((ours[1] - ours[0]) / 1000);

  const struct {
    uint32_t serial;
    int ownMac;       // what the master takes
    uint8_t checker;  // what becomes of the other checker
  } cases[] = {{0x5EED0001, 0, SIM_LINK_ONLINE}, {0x5EED0002, 1, SIM_LINK_FAULTED}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serial);
    Configure(bus + checker(startMs, apartMs));
    g_App.CheckSerial = static_cast<int>(c.serial);
    ASSERT_EQ(Start(), 1) << BoxTexts();
    EXPECT_EQ(devicenet::g_NodeTable.OwnMacId, c.ownMac);
    platform::AdvanceTestClock(2 * apartMs);
    EXPECT_EQ(Scanner().link, c.checker);
    StopMaster(MAIN);
  }
}

// Communication inactive, the adapter left open by an attribute read: a
// check for the own MAC ID seen while the bus stood idle is told before the
// next read claims an own MAC ID afresh.
TEST_F(SharedBus, ClaimLostWhileIdleIsToldAtTheNextRequest) {
  Configure(SlaveAt(SLAVE, true));
  g_App.AttrClassId = 1;
  g_App.AttrInstanceId = 1;
  g_App.AttrAttributeId = 7;
  g_App.ReadAttrPending = 1;
  EXPECT_EQ(CyclicStep(MAIN), 0);  // the read, and no poll while inactive
  ASSERT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  ASSERT_EQ(g_App.AdapterOpen, 1);
  const uint8_t own = devicenet::g_NodeTable.OwnMacId;
  const uint8_t request[7] = {0x00, 0x07, 0x00, 0x04, 0x03, 0x02, 0x01};
  ASSERT_EQ(TheSim().injectFrame(0, 0x400u | own << 3 | 7u, 7, request), 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ServiceIdleBus(), 1);
  EXPECT_EQ(devicenet::g_NodeTable.OwnMacLost, 1);

  g_App.ReadAttrPending = 1;
  CyclicStep(MAIN);
  ASSERT_FALSE(persist::RecordedBoxes().empty());
  char node[1000];
  persist::FormatResString(IDS_OWN_MAC_RIVAL_REQUEST, "7", "01020304", nullptr, node, sizeof node);
  char expected[1000];
  persist::FormatResString(IDS_OWN_MAC_LOST, std::to_string(own).c_str(), node, nullptr, expected,
                           sizeof expected);
  EXPECT_EQ(persist::RecordedBoxes()[0].text, expected);
}

// A Group 2 only slave owned by a scanner at MAC ID 1: the start fails, and
// neither it nor the Stop sends a Release on the slave's Group 2 Only port.
TEST_F(SharedBus, FailedStartReleasesNothingOnTheGroup2OnlyPort) {
  Configure(SlaveAt(SLAVE, false) + ScannerAt(1, SLAVE, "ucmm = no\n"));
  ASSERT_EQ(Slave(TheSim().findSlave(SLAVE)).allocator, 1);
  EXPECT_EQ(Start(), 0);
  ASSERT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();
  EXPECT_EQ(persist::RecordedBoxes()[1].text, OwnedByOtherMaster());
  CommStop(MAIN);
  EXPECT_FALSE(TraceOf(UNCONNECTED_ID).empty()) << "the Allocate went there";
  for (const SimTraceFrame& f : TraceOf(UNCONNECTED_ID)) {
    EXPECT_NE(f.data[1], SVC_RELEASE) << "a Release from MAC ID " << (f.data[0] & 0x3F);
  }
  EXPECT_EQ(Slave(TheSim().findSlave(SLAVE)).allocator, 1);
  EXPECT_EQ(Slave(TheSim().findSlave(SLAVE)).allocChoice, 3);
}

}  // namespace
