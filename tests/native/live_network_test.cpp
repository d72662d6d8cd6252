// The master on a bus it shares with other nodes: its own MAC ID checked
// or fixed, another master's slave left alone, bus faults and the
// slave watchdog, against simulated slaves through the real driver binding.
#include <gtest/gtest.h>

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
int mainWindowTag;
void* const MAIN = &mainWindowTag;

std::string SlaveAt(int mac, bool ucmm = true) {
  return "[slave]\nmac = " + std::to_string(mac) + "\nbaud = 125\nucmm = " + (ucmm ? "yes" : "no") +
         "\nproduced = 8\nconsumed = 8\nio = echo\nserial = " + std::to_string(100 + mac) + "\n";
}

std::string StringOf(unsigned id) {
  char text[1000];
  return persist::LoadResString(id, text, sizeof text) > 0 ? text : "";
}

class LiveNetwork : public ::testing::Test {
 protected:
  void TearDown() override { StopMaster(MAIN); }

  void Configure(const std::string& config) {
    ResetMaster(io_, SLAVE);
    ResetCommView();
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(config.c_str(), "live.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    sim.traceClear();
    persist::ClearRecordedBoxes();
    persist::ClearControlTexts();
  }

  int Start() {
    persist::ScriptBoxAnswer(persist::BOX_IDOK);
    return CommStart(MAIN);
  }

  // A master at `master` allocates the slave's set through its Group 2
  // Only port, as a running scanner does.
  static void ForeignAllocate(uint8_t master) {
    const uint8_t allocate[] = {master, 0x4B, 0x03, 0x01, 0x03, master};
    ASSERT_EQ(TheSim().injectFrame(0, UNCONNECTED_ID, sizeof allocate, allocate), 0);
    ASSERT_EQ(Slave(TheSim().findSlave(SLAVE)).allocator, master);
  }

  static std::string BoxTexts() {
    std::string all;
    for (const auto& box : persist::RecordedBoxes()) all += "[" + box.text + "]";
    return all;
  }

  // Frames that went to the slave: its Group 2 identifiers, or the Group 3
  // ones carrying its MAC ID.
  static int FramesToSlave() {
    int count = 0;
    for (const SimTraceFrame& f : Trace()) {
      const bool group2 =
          (f.id & 0x600) == 0x400 && ((f.id >> 3) & 0x3F) == SLAVE && (f.id & 7) != 7;
      if (group2) ++count;
    }
    return count;
  }

  static bool ReleaseSent() {
    for (const SimTraceFrame& f : TraceOf(UNCONNECTED_ID)) {
      if (f.len >= 2 && f.data[1] == 0x4C) return true;
    }
    return false;
  }

  app::IoBuffers io_{};
};

// A node at the first candidate (a scanner at 0) answers its Duplicate MAC
// ID check: the next candidate is taken, and the slave is allocated by it.
TEST_F(LiveNetwork, TakenOwnMacIdMovesToTheNextCandidate) {
  Configure(SlaveAt(SLAVE) + SlaveAt(0));
  ASSERT_EQ(Start(), 1) << BoxTexts();
  EXPECT_EQ(devicenet::g_NodeTable.OwnMacId, 1);
  EXPECT_EQ(devicenet::g_NodeTable.OwnMacClaimed, 1);
  EXPECT_EQ(Slave(TheSim().findSlave(SLAVE)).allocator, 1);
}

// Every candidate taken: message 1051 lists them, nothing goes to the slave.
TEST_F(LiveNetwork, NoFreeOwnMacIdSendsNothingToTheSlave) {
  std::string config = SlaveAt(SLAVE);
  for (int mac : {0, 1, 2, 63, 62, 61, 60}) config += SlaveAt(mac);
  Configure(config);
  EXPECT_EQ(Start(), 0);
  ASSERT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();  // 1010, then the refusal
  char expected[1000];
  persist::FormatResString(IDS_NO_FREE_OWN_MAC, "0, 1, 2, 63, 62, 61, 60", nullptr, nullptr,
                           expected, sizeof expected);
  EXPECT_EQ(persist::RecordedBoxes()[1].text, expected);
  EXPECT_EQ(FramesToSlave(), 0);
  EXPECT_EQ(Slave(TheSim().findSlave(SLAVE)).allocator, 0xFF);
}

// A fixed own MAC ID is the only one checked and used: free, it allocates
// the slave; taken, or the slave's own address, the start says so and sends
// the slave nothing.
TEST_F(LiveNetwork, FixedOwnMacIdIsHonoured) {
  const struct {
    const char* what;
    int fixed;
    bool nodeThere;  // a node online at the fixed MAC ID
    int started;
    unsigned text;
  } cases[] = {{"free", 62, false, 1, 0},
               {"taken", 62, true, 0, IDS_FIXED_OWN_MAC_TAKEN},
               {"the slave's address", SLAVE, false, 0, IDS_FIXED_OWN_MAC_IS_SLAVE}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Configure(SlaveAt(SLAVE) + (c.nodeThere ? SlaveAt(c.fixed) : ""));
    g_App.OwnMacFixed = 1;
    g_App.OwnMacChoice = c.fixed;
    EXPECT_EQ(Start(), c.started) << BoxTexts();
    std::vector<uint32_t> checked;
    for (const SimTraceFrame& f : Trace()) {
      if (f.adapter == SIM_TRACE_SENT_BY_ADAPTER && (f.id & 0x607) == 0x407) {
        checked.push_back((f.id >> 3) & 0x3F);
      }
    }
    if (c.started) {
      EXPECT_EQ(devicenet::g_NodeTable.OwnMacId, c.fixed);
      EXPECT_EQ(Slave(TheSim().findSlave(SLAVE)).allocator, c.fixed);
      EXPECT_EQ(checked, (std::vector<uint32_t>{62, 62}));
      StopMaster(MAIN);
      continue;
    }
    ASSERT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();
    char reason[1000] = "";
    if (c.nodeThere) {
      persist::FormatResString(IDS_OWN_MAC_RIVAL_RESPONSE, "0", "000000A2", nullptr, reason,
                               sizeof reason);
    }
    char expected[1000];
    persist::FormatResString(c.text, std::to_string(c.fixed).c_str(), reason, nullptr, expected,
                             sizeof expected);
    EXPECT_EQ(persist::RecordedBoxes()[1].text, expected);
    EXPECT_EQ(FramesToSlave(), 0);
    EXPECT_EQ(checked.size(), c.nodeThere ? 1u : 0u);
    StopMaster(MAIN);
  }
}

// A Group 2 only slave that a scanner owns answers our Allocate with 0x0C:
// the message says so, and neither the start nor the Stop that follows
// sends it a Release (it would take one from anyone).
TEST_F(LiveNetwork, AnotherMastersSlaveIsLeftAlone) {
  for (bool ucmm : {false, true}) {
    SCOPED_TRACE(ucmm);
    Configure(SlaveAt(SLAVE, ucmm));
    ForeignAllocate(1);
    EXPECT_EQ(Start(), 0);
    ASSERT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();
    char expected[1000];
    persist::FormatResString(IDS_OWNED_BY_OTHER_MASTER, "10", nullptr, nullptr, expected,
                             sizeof expected);
    EXPECT_EQ(persist::RecordedBoxes()[1].text, expected);
    EXPECT_EQ(g_App.AdapterOpen, 1);
    CommStop(MAIN);
    EXPECT_FALSE(ReleaseSent());
    EXPECT_EQ(Slave(TheSim().findSlave(SLAVE)).allocator, 1);
    EXPECT_EQ(Slave(TheSim().findSlave(SLAVE)).allocChoice, 3);
  }
}

// A bus off or error passive seen during a cyclic step is reported with the
// slave's address and the adapter's status, not counted as success.
TEST_F(LiveNetwork, BusFaultDuringTheExchangeIsReported) {
  const struct {
    uint32_t status;
    int queued;
    unsigned text;
  } cases[] = {{can::CAN_STATUS_BUS_OFF, 1, IDS_BUS_OFF},
               {can::CAN_STATUS_BUS_HEAVY, 0, IDS_BUS_HEAVY}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    Configure(SlaveAt(SLAVE));
    ASSERT_EQ(Start(), 1) << BoxTexts();
    EXPECT_EQ(CyclicStep(MAIN), 1);
    persist::ClearRecordedBoxes();
    TheSim().setAdapterStatus(c.status, c.queued);
    if (c.queued) TheSim().setAdapterStatus(0, 0);  // gone again before the step ends
    persist::ScriptBoxAnswer(persist::BOX_IDCANCEL);
    EXPECT_EQ(CyclicStep(MAIN), 0);
    ASSERT_EQ(persist::RecordedBoxes().size(), 1u) << BoxTexts();
    const persist::RecordedBox& box = persist::RecordedBoxes()[0];
    EXPECT_EQ(box.text, StringOf(IDS_COMM_FAILURE) +
                            "\n\nSlave address: 10\nCAN adapter status: " + StringOf(c.text));
    EXPECT_EQ(box.style, persist::BOX_RETRYCANCEL | persist::BOX_ICONEXCLAMATION);
    EXPECT_EQ(g_App.CommActive, 0);  // Cancel stopped
    TheSim().setAdapterStatus(0, 0);
  }
}

// An error response names its code and the additional code.
TEST_F(LiveNetwork, ErrorCodesAreNamedWithTheirAdditionalCode) {
  Configure(SlaveAt(SLAVE));
  const struct {
    uint32_t code;
    const char* detail;
  } cases[] = {
      {0x08, "08 hex (service not supported), additional code 01"},
      {0x0E, "0E hex (attribute not settable), additional code 01"},
      {0x14, "14 hex (attribute not supported), additional code 01"},
  };
  for (const auto& c : cases) {
    persist::ClearRecordedBoxes();
    EXPECT_EQ(ReportResult(MAIN, c.code << TXR_GEC_SHIFT | 0x01u << TXR_AEC_SHIFT), 0);
    ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
    EXPECT_EQ(persist::RecordedBoxes()[0].text,
              "Unable to access attribute!\n\nDeviceNet error code: " + std::string(c.detail) +
                  " hex\n\nThe DeviceNet error codes are described in the help file.");
  }
}

// With the slave watchdog on, a stopped exchange lets the slave's poll
// connection time out; off, the slave keeps it (and its outputs) for ever.
TEST_F(LiveNetwork, SlaveWatchdogTakesOverWhenPollsStop) {
  for (int watchdog : {0, 1}) {
    SCOPED_TRACE(watchdog);
    Configure(SlaveAt(SLAVE));
    g_App.SlaveWatchdog = watchdog;
    ASSERT_EQ(Start(), 1) << BoxTexts();
    for (int i = 0; i < 50; ++i) ASSERT_EQ(CyclicStep(MAIN), 1);
    const int index = TheSim().findSlave(SLAVE);
    EXPECT_EQ(Slave(index).pollEpr, watchdog ? WATCHDOG_PACKET_RATE_MS : 0);
    EXPECT_EQ(Slave(index).pollState, SIM_CONN_ESTABLISHED);
    // The program dies: no poll for 5 s.
    platform::AdvanceTestClock(5000);
    EXPECT_EQ(Slave(index).pollState, watchdog ? SIM_CONN_TIMED_OUT : SIM_CONN_ESTABLISHED);
  }
}

}  // namespace
