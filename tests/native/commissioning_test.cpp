// The slave search and the change of address and baud rate against
// simulated slaves, through the real driver binding (the simulated adapter
// is copied beside the test as the USB adapter's driver). Message boxes are
// the native build's recorded ones; the dialogs are tested under Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/address_change.h"
#include "master/comm_view.h"
#include "master/node_names.h"
#include "master/search.h"
#include "master/search_entry.h"
#include "master/session.h"
#include "master/transactions.h"
#include "persist/cursor_record.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/native_seams.h"
#include "persist/resstring.h"
#include "platform/platform.h"
#include "resource.h"
#include "sim_client.h"

namespace {

using namespace sim_client;
using namespace master;
using app::g_App;

int dialogTag;
int mainWindowTag;
void* const DIALOG = &dialogTag;
void* const MAIN = &mainWindowTag;

constexpr unsigned EXCLAMATION_OK = persist::BOX_OK | persist::BOX_ICONEXCLAMATION;

void TestMessagePump(void*) {}

std::string StringOf(unsigned id) {
  char text[1000];
  return persist::LoadResString(id, text, sizeof text) > 0 ? text : "";
}

// One [slave] section at 125 kbit/s; `extra` adds keys.
std::string SlaveAt(int mac, const std::string& extra = "") {
  return "[slave]\nmac = " + std::to_string(mac) + "\nserial = " + std::to_string(100 + mac) +
         "\nucmm = no\n" + extra;
}

// Group 2 identifiers.
uint32_t DupMacId(int mac) {
  return 0x400u | static_cast<uint32_t>(mac) << 3 | 7u;
}
uint32_t ExplicitRequestId(int mac) {
  return 0x400u | static_cast<uint32_t>(mac) << 3 | 4u;
}

class Commissioning : public ::testing::Test {
 protected:
  void SetUp() override {}
  void TearDown() override {
    can::CloseAdapter(nullptr);
    ResetCommView();
    SetSearchListFill(nullptr);
    platform::DisableTestClock();
    EXPECT_EQ(persist::WaitCursorsShown(), 0);
  }

  void Configure(const std::string& config) {
    can::CloseAdapter(nullptr);
    platform::EnableTestClock(1000);
    app::InitAppState(nullptr);
    g_App.Io = &io_;
    g_App.PrinterPort = can::PORT_USB;
    devicenet::ClearSendHook();
    devicenet::SetSendHook(devicenet::SendFrame);
    devicenet::InitNodeTable(devicenet::g_NodeTable);
    ForgetAllConnections();
    CommView view{};
    view.ProcessMessage = TestMessagePump;
    SetCommView(view);
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(config.c_str(), "test.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    sim.traceClear();
    persist::ClearRecordedBoxes();
  }

  // The master's MAC IDs in the explicit traffic: the header of Group 2
  // explicit and unconnected frames (both directions), and the source of
  // Group 3 unconnected requests.
  std::set<int> MasterMacIds() {
    std::set<int> ids;
    for (const SimTraceFrame& f : Trace()) {
      const uint32_t message = f.id & 7u;
      if ((f.id & 0x600u) == 0x400u && (message == 3 || message == 4 || message == 6)) {
        ids.insert(f.data[0] & 0x3F);
      } else if ((f.id & 0x7C0u) == 0x780u) {
        ids.insert(static_cast<int>(f.id & 0x3Fu));
      }
    }
    return ids;
  }

  // Set_Attribute_Single requests to the DeviceNet object: {address, attribute, value, baud}.
  struct DeviceNetWrite {
    int address, attribute, value, baud;
  };
  std::vector<DeviceNetWrite> DeviceNetWrites() {
    std::vector<DeviceNetWrite> writes;
    for (const SimTraceFrame& f : Trace()) {
      if ((f.id & 0x607u) == 0x404u && f.len == 6 && f.data[1] == 0x10 && f.data[2] == 0x03 &&
          f.data[3] == 0x01) {
        writes.push_back({static_cast<int>((f.id >> 3) & 0x3F), f.data[4], f.data[5], f.baudIndex});
      }
    }
    return writes;
  }

  static std::string BoxTexts() {
    std::string all;
    for (const auto& box : persist::RecordedBoxes()) all += "[" + box.text + "]";
    return all;
  }

  static void ExpectBoxes(const std::vector<std::string>& texts) {
    const auto& boxes = persist::RecordedBoxes();
    ASSERT_EQ(boxes.size(), texts.size()) << BoxTexts();
    for (size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(boxes[i].text, texts[i]) << "box " << i;
      EXPECT_EQ(boxes[i].owner, DIALOG) << "box " << i;
      EXPECT_EQ(boxes[i].style, EXCLAMATION_OK) << "box " << i;
    }
  }

  app::IoBuffers io_{};
};

// ---- Search ---------------------------------------------------------------

// What the scan looked like each time it filled the list.
struct FillSeen {
  int probed;  // addresses marked so far
  int running;
  int ownMacId;
  bool pumping;
  uint32_t tick;
};
std::vector<FillSeen> fills;
int abortAfter = -1;  // the user presses Abort once this address is shown

int RecordFill(void* dialog, int listId) {
  EXPECT_EQ(dialog, DIALOG);
  EXPECT_EQ(listId, IDC_SEARCH_LIST);
  int probed = 0;
  for (uint8_t mark : SearchMarks) probed += mark != MARK_NOT_PROBED;
  fills.push_back({probed, SearchRunning, devicenet::g_NodeTable.OwnMacId,
                   g_App.PumpHook == TestMessagePump, platform::TickMs()});
  if (abortAfter >= 0 && SearchMarks[abortAfter] != MARK_NOT_PROBED) SearchAbort = 1;
  return 1;
}

class Search : public Commissioning {
 protected:
  void Searched(const std::string& config, int abortAt = -1) {
    Configure(config);
    fills.clear();
    abortAfter = abortAt;
    SetSearchListFill(RecordFill);
    start_ = platform::TickMs();
  }
  uint32_t start_ = 0;
};

TEST_F(Search, ProbesEveryAddressAndMarksTheAnsweringOnes) {
  Searched(SlaveAt(0) + SlaveAt(5) + SlaveAt(63));
  ASSERT_EQ(SearchRun(DIALOG), 1) << BoxTexts();

  for (int i = 0; i < SEARCH_MAC_COUNT; ++i) {
    const bool there = i == 0 || i == 5 || i == 63;
    EXPECT_EQ(SearchMarks[i], there ? MARK_ANSWERED : MARK_SILENT) << i;
  }
  EXPECT_EQ(SearchFound, 1);
  EXPECT_EQ(SearchAbort, 0);
  EXPECT_EQ(SearchRunning, 0);
  EXPECT_EQ(SearchFirstFoundIndex(), 0);
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  EXPECT_EQ(g_App.AdapterOpen, 0);
  EXPECT_EQ(g_App.PumpHook, nullptr);

  // The list grows as the probes end, with the window pumped meanwhile;
  // one own MAC ID for the whole scan (1: a slave sits at 0), nothing
  // before 3 s have passed.
  // After the probes, one fill per identity read.
  ASSERT_GT(fills.size(), 3u);
  for (size_t i = 0; i < fills.size(); ++i) {
    if (i > 0 && i < fills.size() - 3) {
      EXPECT_GT(fills[i].probed, fills[i - 1].probed);
    }
    EXPECT_EQ(fills[i].running, 1);
    EXPECT_EQ(fills[i].ownMacId, 1) << i;
    EXPECT_TRUE(fills[i].pumping);
  }
  for (size_t i = fills.size() - 4; i < fills.size(); ++i) EXPECT_EQ(fills[i].probed, 64);
  for (int mac : {0, 5, 63}) EXPECT_EQ(SearchNodes[0][mac].state, NODE_IDENTIFIED) << mac;
  EXPECT_GT(fills[0].tick - start_, SEARCH_SETTLE_MS);

  // One Duplicate MAC ID check request per address, in order, all zero.
  std::vector<SimTraceFrame> requests;
  for (const SimTraceFrame& f : Trace()) {
    if ((f.id & 0x607u) == 0x407u && !(f.data[0] & 0x80)) requests.push_back(f);
  }
  // First the check that our own MAC ID 1 is free (two requests), then one
  // per address.
  ASSERT_EQ(requests.size(), 66u);
  EXPECT_EQ(requests[0].id, DupMacId(1));
  EXPECT_EQ(requests[1].id, DupMacId(1));
  requests.erase(requests.begin(), requests.begin() + 2);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(requests[i].id, DupMacId(i));
    EXPECT_EQ(requests[i].len, 7);
    for (int b = 0; b < 7; ++b) EXPECT_EQ(requests[i].data[b], 0);
  }
}

TEST_F(Search, AbortStopsBeforeTheNextAddress) {
  Searched(SlaveAt(5) + SlaveAt(63), 9);
  ASSERT_EQ(SearchRun(DIALOG), 1);
  EXPECT_EQ(fills.size(), 10u);
  for (int i = 0; i < SEARCH_MAC_COUNT; ++i) {
    const uint8_t mark = i == 5 ? MARK_ANSWERED : i < 10 ? MARK_SILENT : MARK_NOT_PROBED;
    EXPECT_EQ(SearchMarks[i], mark) << i;
  }
  EXPECT_EQ(SearchAbort, 1);
  EXPECT_EQ(SearchFound, 1);
  EXPECT_EQ(SearchFirstFoundIndex(), 5);
  EXPECT_EQ(g_App.AdapterOpen, 0);
}

TEST_F(Search, NothingFoundAfterAnEarlierSearchFoundSomething) {
  Searched(SlaveAt(5));
  ASSERT_EQ(SearchRun(DIALOG), 1);
  EXPECT_EQ(SearchFound, 1);

  // The slave runs at 125 kbit/s, the adapter at 500.
  g_App.BaudIndex = 2;
  fills.clear();
  ASSERT_EQ(SearchRun(DIALOG), 1);
  EXPECT_EQ(SearchFound, 0);
  EXPECT_EQ(SearchAbort, 0);
  EXPECT_EQ(SearchFirstFoundIndex(), -1);
  for (uint8_t mark : SearchMarks) EXPECT_EQ(mark, MARK_SILENT);
  ASSERT_FALSE(fills.empty());
  EXPECT_EQ(fills.back().probed, 64);
}

TEST_F(Search, AdapterThatDoesNotOpenProbesNothing) {
  Searched(SlaveAt(5));
  g_App.PrinterPort = can::PORT_PCI;  // no such driver beside the test
  std::memset(SearchMarks, MARK_NOT_PROBED, sizeof SearchMarks);
  SearchAbort = 0;
  EXPECT_EQ(SearchRun(DIALOG), 0);
  EXPECT_EQ(SearchAbort, 1);
  EXPECT_EQ(SearchRunning, 0);
  EXPECT_TRUE(fills.empty());
  EXPECT_EQ(TheSim().traceCount(), 0u);
  ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
  EXPECT_EQ(persist::RecordedBoxes()[0].text, StringOf(IDS_CAN_DLL_LOAD_FAILED));
  EXPECT_EQ(persist::RecordedBoxes()[0].owner, DIALOG);
}

// The adapter refuses to send (bus off from the start; unplugged once the
// first node answered): the search stops there with the adapter's error in
// a message, marks no address whose probe did not go out, and goes to no
// other rate.
TEST_F(Search, AdapterThatRefusesToSendStopsTheSearchWithItsError) {
  const struct {
    const char* what;
    uint32_t status;         // bus status word from the start
    bool unplugged;          // or every write fails once the first node answered
    const char* statusText;  // as the message names it
    const char* code;
  } cases[] = {
      {"bus off", SIMCAN_ERR_BUSOFF, false, "Bus off", "0010"},
      {"unplugged", 0, true, "Unknown error status", "1000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Searched(SlaveAt(5) + SlaveAt(30) + "[slave]\nmac = 7\nbaud = 250\n");
    TheSim().setAdapterStatus(c.status, 0);
    static bool unplug;
    unplug = c.unplugged;
    SetSearchListFill([](void* dialog, int listId) {
      RecordFill(dialog, listId);
      if (unplug && SearchFound) {
        TheSim().failWrites(0xFFFFFFFF, SIMCAN_ERR_NOTOPEN);
      }
      return 1;
    });
    ASSERT_EQ(SearchRunAllRates(DIALOG), 1);
    TheSim().failWrites(0, 0);
    TheSim().setAdapterStatus(0, 0);

    EXPECT_EQ(SearchAbort, 1);
    EXPECT_EQ(SearchRunning, 0);
    EXPECT_EQ(g_App.AdapterOpen, 0);
    EXPECT_EQ(SearchAdapterError & TXR_ADAPTER_ERROR, TXR_ADAPTER_ERROR);
    // Bus off from the start refuses the own MAC ID check already, which
    // says so itself; a later refusal ends the search with its own message.
    char message[1000];
    if (c.unplugged) {
      persist::FormatResString(IDS_SEARCH_ADAPTER_ERROR, c.statusText, c.code, nullptr, message,
                               sizeof message);
    } else {
      persist::FormatResString(IDS_OWN_MAC_CHECK_REFUSED, "1", c.statusText, nullptr, message,
                               sizeof message);
    }
    ExpectBoxes({message});
    // Only what went out is marked: the probes before the refusal.
    int marked = 0;
    for (uint8_t mark : SearchMarks) marked += mark != MARK_NOT_PROBED;
    int requests = 0;
    for (const SimTraceFrame& f : Trace()) {
      EXPECT_EQ(f.baudIndex, 0) << "a search at another rate";
      requests += (f.id & 0x607u) == 0x407u && !(f.data[0] & 0x80);
    }
    const int ownMacChecks = c.unplugged ? 2 : 0;  // MAC ID 1 checked free, twice
    EXPECT_EQ(marked, requests - ownMacChecks);
    if (c.unplugged) {
      EXPECT_EQ(SearchMarks[5], MARK_ANSWERED);
      EXPECT_EQ(SearchMarks[30], MARK_NOT_PROBED);
      EXPECT_EQ(SearchNodes[0][5].state, NODE_ANSWERED);  // its identity was not read
    } else {
      EXPECT_EQ(TheSim().traceCount(), 0u);
    }
  }
}

// ---- Who each node is ---------------------------------------------------------

// Allocate (0x4B) and Release (0x4C) requests to the DeviceNet object on the
// Group 2 Only port: {address, service, allocation choice}.
struct SetRequest {
  int address, service, choice, source;
};
std::vector<SetRequest> Group2SetRequests() {
  std::vector<SetRequest> requests;
  for (const SimTraceFrame& f : Trace()) {
    if ((f.id & 0x607u) == 0x406u && f.len >= 5 && (f.data[1] == 0x4B || f.data[1] == 0x4C) &&
        f.data[2] == 0x03) {
      requests.push_back(
          {static_cast<int>((f.id >> 3) & 0x3F), f.data[1], f.data[4], f.data[0] & 0x3F});
    }
  }
  return requests;
}

// UCMM requests (Group 3 message 6) with service `service` to `address`.
int UcmmRequests(int address, int service) {
  int count = 0;
  for (const SimTraceFrame& f : Trace()) {
    if ((f.id & 0x7C0u) == 0x780u && f.len >= 2 && (f.data[0] & 0x3F) == address &&
        f.data[1] == service) {
      ++count;
    }
  }
  return count;
}

std::string EntryText(int mac, int rate) {
  char text[SEARCH_ENTRY_TEXT_SIZE];
  SearchEntryText(SearchEntry{static_cast<uint8_t>(mac), static_cast<int8_t>(rate)}, text,
                  sizeof text);
  return text;
}

std::vector<std::string> EntryTexts() {
  SearchEntry entries[SEARCH_ENTRY_MAX];
  const int count = SearchEntries(entries);
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) texts.push_back(EntryText(entries[i].mac, entries[i].rate));
  return texts;
}

std::string Identified(int mac, const std::string& extra) {
  return "[slave]\nmac = " + std::to_string(mac) + "\n" + extra;
}

// The progress texts shown, and an Abort pressed when one starts with
// `abortOn`: at once, or with `abortInWait` in the next wait for the bus.
std::vector<std::string> progressShown;
std::string abortOn;
bool abortInWait = false;
bool abortArmed = false;
void RecordProgress(void*, const char* text) {
  progressShown.push_back(text);
  if (!abortOn.empty() && std::string(text).compare(0, abortOn.size(), abortOn) == 0) {
    if (abortInWait) {
      abortArmed = true;
    } else {
      SearchAbort = 1;
    }
  }
}
// The native build pumps no messages: the press comes with the bus's next
// look at the clock.
uint32_t SIMCAN_CDECL AbortingTick() {
  if (abortArmed) SearchAbort = 1;
  return platform::TickMs();
}

class Identity : public Search {
 protected:
  void Searched(const std::string& config, int abortAt = -1) {
    Search::Searched(config, abortAt);
    CommView view = TheCommView();
    view.ShowProgress = RecordProgress;
    SetCommView(view);
    TheSim().useClock(AbortingTick);
    progressShown.clear();
    abortOn.clear();
    abortInWait = abortArmed = false;
  }
};

// A gateway with a UCMM, a Group 2 only I/O block, a node another master
// owns, a node that answers probes but no explicit request, and that
// master itself.
const char* const MIXED_BUS =
    "[slave]\nmac = 5\nucmm = yes\nvendor = 1\ndevice_type = 12\nproduct_code = 77\n"
    "revision = 3.4\nserial = 4660\nname = Gateway DN\n"
    "[slave]\nmac = 10\nucmm = no\nvendor = 40\ndevice_type = 7\nproduct_code = 501\n"
    "revision = 1.2\nserial = 0x80000001\nname = Quillon Sim I/O 8/8\n"
    "[slave]\nmac = 12\nucmm = no\n"
    "[slave]\nmac = 20\nucmm = no\ndrop_explicit = 100000\n"
    "[master]\nmac = 0\nslave = 12\nucmm = no\npoll_ms = 10\n";

TEST_F(Identity, EveryNodeFoundIsReadOverAnExplicitConnectionOfItsOwn) {
  Searched(MIXED_BUS);
  ASSERT_EQ(SearchRun(DIALOG), 1) << BoxTexts();
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();

  const NodeIdentity& gateway = SearchNodes[0][5].identity;
  ASSERT_EQ(SearchNodes[0][5].state, NODE_IDENTIFIED);
  EXPECT_EQ(gateway.present, 0x3F);
  EXPECT_EQ(gateway.vendorId, 1);
  EXPECT_EQ(gateway.deviceType, 12);
  EXPECT_EQ(gateway.productCode, 77);
  EXPECT_EQ(gateway.revisionMajor, 3);
  EXPECT_EQ(gateway.revisionMinor, 4);
  EXPECT_EQ(gateway.serial, 4660u);
  EXPECT_STREQ(gateway.productName, "Gateway DN");
  ASSERT_EQ(SearchNodes[0][10].state, NODE_IDENTIFIED);
  EXPECT_EQ(SearchNodes[0][10].identity.serial, 0x80000001u);

  // The list: codes with their names, the reasons in words.
  EXPECT_EQ(EntryText(5, 0), std::string("5\t125 kBaud\t1 ") + VendorName(1) + "\t12 " +
                                 DeviceTypeName(12) + "\t77\t3.4\t4660\tGateway DN");
  EXPECT_EQ(EntryText(10, 0), std::string("10\t125 kBaud\t40 ") + VendorName(40) + "\t7 " +
                                  DeviceTypeName(7) +
                                  "\t501\t1.2\t2147483649\tQuillon Sim I/O 8/8");
  EXPECT_EQ(SearchNodes[0][12].state, NODE_FAILED);
  EXPECT_EQ(SearchNodes[0][12].failure, TXR_OWNED_ELSEWHERE);
  EXPECT_EQ(EntryText(12, 0), "12\t125 kBaud\t" + StringOf(IDS_NODE_OWNED));
  for (int mac : {0, 20}) {
    EXPECT_EQ(SearchNodes[0][mac].state, NODE_FAILED) << mac;
    EXPECT_EQ(EntryText(mac, 0),
              std::to_string(mac) + "\t125 kBaud\t" + StringOf(IDS_NODE_NO_ANSWER));
  }
  EXPECT_EQ(EntryText(1, -1), "(1)");
  // The scanner at 0 answers no explicit message: the gateway is selected.
  EXPECT_EQ(SearchFirstFoundIndex(), 5);

  // The gateway through its UCMM, opened and closed; the I/O block through
  // the explicit connection alone, released straight after; the owned node
  // refused the Allocate, so nothing is released there, and the scanner and
  // the mute node never answered theirs. No poll connection
  // is ever asked for.
  EXPECT_EQ(UcmmRequests(5, 0x4B), 1);
  EXPECT_EQ(UcmmRequests(5, 0x4C), 1);
  std::vector<SetRequest> sets;
  for (const SetRequest& r : Group2SetRequests()) {
    if (r.source == 1) sets.push_back(r);  // ours, not the scanner's
  }
  const std::vector<std::pair<int, int>> expected = {
      {0, 0x4B}, {10, 0x4B}, {10, 0x4C}, {12, 0x4B}, {20, 0x4B}};
  ASSERT_EQ(sets.size(), expected.size());
  for (size_t i = 0; i < sets.size(); ++i) {
    EXPECT_EQ(sets[i].address, expected[i].first) << i;
    EXPECT_EQ(sets[i].service, expected[i].second) << i;
    EXPECT_EQ(sets[i].choice, 0x01) << i;
  }
  for (int mac : {5, 10}) {
    const SimSlaveInfo info = Slave(TheSim().findSlave(static_cast<uint8_t>(mac)));
    EXPECT_EQ(info.allocChoice, 0) << mac;
    EXPECT_EQ(info.ucmmOpen, 0) << mac;
  }
  const SimSlaveInfo owned = Slave(TheSim().findSlave(12));
  EXPECT_EQ(owned.allocator, 0);
  EXPECT_EQ(owned.allocChoice, 0x03);
}

TEST_F(Identity, EveryRateInTurnAndThePickBringsItsRate) {
  // One bus per rate, as a bench with three networks on one cable would
  // never be; the simulator keeps them apart by rate.
  Searched(Identified(3, "baud = 125\nserial = 31\n") + Identified(7, "baud = 250\nserial = 72\n") +
           Identified(3, "baud = 500\nserial = 35\n"));
  g_App.BaudIndex = 1;
  ASSERT_EQ(SearchRun(DIALOG), 1);
  EXPECT_EQ(SearchNodes[1][7].state, NODE_IDENTIFIED);
  EXPECT_EQ(SearchNodes[1][7].identity.serial, 72u);

  fills.clear();
  progressShown.clear();
  ASSERT_EQ(SearchRunAllRates(DIALOG), 1);
  EXPECT_EQ(SearchNodes[0][3].identity.serial, 31u);
  EXPECT_EQ(SearchNodes[1][7].identity.serial, 72u);
  EXPECT_EQ(SearchNodes[2][3].identity.serial, 35u);
  EXPECT_EQ(SearchNodes[0][7].state, NODE_ABSENT);
  // The selected rate first, then the others, each named in every progress
  // text shown at it, the own MAC ID's check included.
  std::vector<std::string> rates;
  int ownMacChecks = 0;
  for (const std::string& text : progressShown) {
    if (text.empty()) continue;  // a phase's line cleared
    const size_t colon = text.find(" kBaud: ");
    ASSERT_NE(colon, std::string::npos) << text;
    const std::string rate = text.substr(0, colon);
    if (rates.empty() || rates.back() != rate) rates.push_back(rate);
    ownMacChecks += text.substr(colon) == " kBaud: Checking that MAC ID 1 is free...";
  }
  EXPECT_EQ(rates, (std::vector<std::string>{"250", "125", "500"}));
  EXPECT_EQ(ownMacChecks, 3);

  const std::vector<std::string> texts = EntryTexts();
  ASSERT_EQ(texts.size(), 65u);  // 61 silent addresses, 3 twice over two rates, 7
  EXPECT_EQ(texts[2], "(2)");
  EXPECT_EQ(texts[3].substr(0, 13), "3\t125 kBaud\t0");
  EXPECT_EQ(texts[4].substr(0, 13), "3\t500 kBaud\t0");
  EXPECT_EQ(texts[8].substr(0, 13), "7\t250 kBaud\t0");
  EXPECT_EQ(SearchFirstFoundIndex(), 3);

  SearchEntry entries[SEARCH_ENTRY_MAX];
  ASSERT_EQ(SearchEntries(entries), 65);
  int address = 0;
  int baud = -1;
  SearchEntryChoice(SearchEntryData(entries[4]), address, baud);
  EXPECT_EQ(address, 3);
  EXPECT_EQ(baud, 2);
  SearchEntryChoice(SearchEntryData(entries[2]), address, baud);
  EXPECT_EQ(address, 2);
  EXPECT_EQ(baud, -1);  // a silent address keeps the rate
}

TEST_F(Identity, NothingAtTheSelectedRateThenTheOtherTwoAddToIt) {
  Searched(Identified(9, "baud = 500\n"));
  g_App.BaudIndex = 0;
  ASSERT_EQ(SearchRun(DIALOG), 1);
  EXPECT_EQ(SearchFound, 0);
  ASSERT_EQ(SearchRunOtherRates(DIALOG), 1);
  EXPECT_EQ(SearchFound, 1);
  EXPECT_EQ(SearchMarks[9], MARK_ANSWERED);
  EXPECT_EQ(SearchMarks[8], MARK_SILENT);
  EXPECT_EQ(SearchNodes[2][9].state, NODE_IDENTIFIED);
  // Each rate probed once: the own MAC ID's two checks and 64 probes.
  int checks[SEARCH_RATE_COUNT] = {};
  for (const SimTraceFrame& f : Trace()) {
    if ((f.id & 0x607u) == 0x407u && !(f.data[0] & 0x80)) ++checks[f.baudIndex];
  }
  for (int count : checks) EXPECT_EQ(count, 66);
}

TEST_F(Identity, AbortInEachPhaseStopsThereAndLeavesNoConnectionOpen) {
  struct Case {
    const char* abortOn;  // progress text that arms Abort
    bool inWait;          // pressed in the wait that follows, not at once
    int identified;       // nodes read before it stopped
  };
  const Case cases[] = {
      {"125 kBaud: Waiting", false, 0},
      {"125 kBaud: Probing 1", false, 0},
      {"125 kBaud: Reading the identity of MAC ID 5", true, 0},   // through the UCMM
      {"125 kBaud: Reading the identity of MAC ID 10", true, 1},  // on the Group 2 Only port
      {"250 kBaud: Probing 1", false, 3},
  };
  for (const Case& c : cases) {
    Searched("[slave]\nmac = 5\nucmm = yes\n[slave]\nmac = 10\nucmm = no\n[slave]\nmac = 30\n");
    abortOn = c.abortOn;
    abortInWait = c.inWait;
    g_App.BaudIndex = 0;
    ASSERT_EQ(SearchRunAllRates(DIALOG), 1) << c.abortOn;
    EXPECT_EQ(SearchAbort, 1) << c.abortOn;
    EXPECT_EQ(SearchRunning, 0);
    EXPECT_EQ(g_App.AdapterOpen, 0);
    int identified = 0;
    for (int mac : {5, 10, 30}) identified += SearchNodes[0][mac].state == NODE_IDENTIFIED;
    EXPECT_EQ(identified, c.identified) << c.abortOn;
    for (int mac : {5, 10, 30}) {
      const SimSlaveInfo info = Slave(TheSim().findSlave(static_cast<uint8_t>(mac)));
      EXPECT_EQ(info.allocChoice, 0) << c.abortOn << " " << mac;
      EXPECT_EQ(info.ucmmOpen, 0) << c.abortOn << " " << mac;
    }
    int at500 = 0;
    for (const SimTraceFrame& f : Trace()) at500 += f.baudIndex == 2;
    EXPECT_EQ(at500, 0) << c.abortOn;
    // A node the read did not reach says so once the search is over.
    if (SearchNodes[0][30].state == NODE_ANSWERED) {
      EXPECT_EQ(EntryText(30, 0), "30\t125 kBaud\t" + StringOf(IDS_NODE_NOT_READ));
    }
  }
}

TEST_F(Identity, NodeGoneBetweenProbeAndIdentityKeepsItsLine) {
  Searched("[slave]\nmac = 5\n[slave]\nmac = 10\n");
  // Gone the moment the probes end: the list's first fill with every
  // address probed.
  SetSearchListFill([](void* dialog, int listId) {
    RecordFill(dialog, listId);
    if (fills.back().probed == SEARCH_MAC_COUNT && fills.size() >= 2 &&
        fills[fills.size() - 2].probed < SEARCH_MAC_COUNT) {
      TheSim().dropAnswers(TheSim().findSlave(10), SIM_ANSWER_EXPLICIT, 100000);
    }
    return 1;
  });
  ASSERT_EQ(SearchRun(DIALOG), 1);
  EXPECT_EQ(SearchNodes[0][5].state, NODE_IDENTIFIED);
  EXPECT_EQ(SearchNodes[0][10].state, NODE_FAILED);
  EXPECT_EQ(SearchNodes[0][10].failure, TXR_TIMEOUT);
  EXPECT_EQ(EntryText(10, 0), "10\t125 kBaud\t" + StringOf(IDS_NODE_NO_ANSWER));
  EXPECT_EQ(SearchFirstFoundIndex(), 5);
}

TEST_F(Identity, ExplicitConnectionAtOurMacIdIsTakenOverOnlyOnTheUsersWord) {
  for (int answer : {persist::BOX_IDNO, persist::BOX_IDYES}) {
    SCOPED_TRACE(answer);
    Searched(SlaveAt(10));
    // The explicit connection allocated by a master at MAC ID 1, the
    // search's own, that this program knows nothing of.
    const uint8_t allocate[] = {1, 0x4B, 0x03, 0x01, 0x01, 1};
    ASSERT_EQ(TheSim().injectFrame(0, 0x400 | (10 << 3) | 6, sizeof allocate, allocate), 0);
    platform::AdvanceTestClock(5);
    ASSERT_EQ(Slave().allocChoice, 1);
    persist::ScriptBoxAnswer(answer);
    ASSERT_EQ(SearchRun(DIALOG), 1);
    ASSERT_EQ(persist::RecordedBoxes().size(), 1u) << BoxTexts();
    EXPECT_EQ(persist::RecordedBoxes()[0].owner, DIALOG);
    EXPECT_EQ(persist::RecordedBoxes()[0].style,
              persist::BOX_YESNO | persist::BOX_ICONQUESTION | persist::BOX_DEFBUTTON2);
    if (answer == persist::BOX_IDYES) {
      EXPECT_EQ(SearchNodes[0][10].state, NODE_IDENTIFIED);
      EXPECT_EQ(Slave().allocChoice, 0);  // taken over, read, released
    } else {
      EXPECT_EQ(SearchNodes[0][10].state, NODE_FAILED);
      EXPECT_TRUE(IsSetAtOwnMac(SearchNodes[0][10].failure));
      EXPECT_EQ(Slave().allocChoice, 1);  // left as it was
      EXPECT_EQ(Slave().allocator, 1);
    }
  }
}

// ---- Address and baud-rate change ------------------------------------------

int fillMainCalls;
void CountFill(void* window) {
  EXPECT_EQ(window, MAIN);
  ++fillMainCalls;
}

class Change : public Commissioning {
 protected:
  // The dialog as it opens for `slave`, then the wanted values.
  void Want(int oldAddress, int newAddress, int oldBaud, int newBaud) {
    g_App.CurrAdr = oldAddress;
    g_App.BaudIndex = oldBaud;
    OldAddress = oldAddress;
    NewAddress = newAddress;
    OldBaudIndex = oldBaud;
    NewBaudIndex = newBaud;
    fillMainCalls = 0;
  }
  int CarryOut() { return ChangeCarryOut(DIALOG, MAIN, CountFill); }
  std::string Missing(int address) {
    return "Slave with address " + std::to_string(address) + " does not exist!";
  }
};

TEST_F(Change, OwnMacIdDiffersFromBothAddressesThroughout) {
  const struct {
    int from, to, own;
    const char* ucmm;
  } cases[] = {{0, 1, 2, "no"}, {2, 0, 1, "no"}, {5, 7, 0, "no"}, {0, 1, 2, "yes"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << " ucmm " << c.ucmm);
    Configure(SlaveAt(c.from, std::string("ucmm = ") + c.ucmm + "\n"));
    Want(c.from, c.to, 0, 0);
    ASSERT_TRUE(can::OpenAdapter(DIALOG, 0));
    EXPECT_EQ(ChangeAddress(DIALOG), TXR_OK) << BoxTexts();
    EXPECT_EQ(devicenet::g_NodeTable.OwnMacId, c.own);
    EXPECT_EQ(MasterMacIds(), std::set<int>{c.own});
    EXPECT_EQ(Slave(0).macId, c.to);
    EXPECT_EQ(Slave(0).allocChoice, 0) << "released at the new address";
    EXPECT_EQ(Slave(0).ucmmOpen, 0);
    EXPECT_EQ(Slave(0).explicitEpr, 0);
    EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  }
}

TEST_F(Change, AddressOnly) {
  Configure(SlaveAt(10));
  Want(10, 20, 0, 0);
  EXPECT_EQ(CarryOut(), CHANGE_DONE);
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  EXPECT_EQ(g_App.CurrAdr, 20);
  EXPECT_EQ(g_App.BaudIndex, 0);
  EXPECT_EQ(g_App.AdapterOpen, 0);
  EXPECT_EQ(fillMainCalls, 1);
  EXPECT_EQ(Slave(0).macId, 20);
  const auto writes = DeviceNetWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].address, 10);
  EXPECT_EQ(writes[0].attribute, 1);
  EXPECT_EQ(writes[0].value, 20);
  // Nothing else answered the probe of the new address before the write.
  bool probed = false;
  for (const SimTraceFrame& f : Trace()) probed = probed || f.id == DupMacId(20);
  EXPECT_TRUE(probed);
}

TEST_F(Change, BaudOnlyFrom125To500) {
  Configure(SlaveAt(10));
  Want(10, 10, 0, 2);
  EXPECT_EQ(CarryOut(), CHANGE_DONE);
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  EXPECT_EQ(g_App.BaudIndex, 2);
  EXPECT_EQ(g_App.CurrAdr, 10);
  EXPECT_EQ(g_App.AdapterOpen, 0);
  EXPECT_EQ(fillMainCalls, 1);
  EXPECT_EQ(Slave(0).baudIndex, 2);
  EXPECT_EQ(Slave(0).resets, 1u);
  EXPECT_EQ(Slave(0).allocChoice, 0);

  const auto writes = DeviceNetWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].attribute, 2);
  EXPECT_EQ(writes[0].value, 2);
  EXPECT_EQ(writes[0].baud, 0);
  // The reset at the old rate, then the check connection at the new one
  // within 10 s.
  uint64_t resetUs = 0;
  uint64_t allocatedUs = 0;
  for (const SimTraceFrame& f : Trace()) {
    if (f.id == ExplicitRequestId(10) && f.data[1] == 0x05 && f.data[2] == 0x01) {
      EXPECT_EQ(f.baudIndex, 0);
      resetUs = f.timeUs;
    }
    // The slave's success response to the Allocate.
    if (f.id == 0x453u && f.data[1] == 0xCB && f.baudIndex == 2 && !allocatedUs) {
      allocatedUs = f.timeUs;
    }
  }
  ASSERT_NE(resetUs, 0u);
  ASSERT_GT(allocatedUs, resetUs);
  EXPECT_LT(allocatedUs - resetUs, 10000000u);
}

// What the master did after the slave restarted (the reset, or the
// response to the MAC ID write): its connect attempts, its frames, and when
// the slave's Allocate response came.
struct AfterRestart {
  int ucmmOpens = 0;
  int allocates = 0;
  int masterFrames = 0;
  int slaveChecks = 0;       // the slave's own Duplicate MAC ID requests
  int framesToChecking = 0;  // master frames to the slave's MAC ID before its last check ended
  uint64_t restartUs = 0;
  uint64_t lastCheckUs = 0;
  uint64_t firstConnectUs = 0;
  uint64_t connectedUs = 0;
};

bool IsUcmmOpen(const SimTraceFrame& f) {
  return (f.id & 0x7C0u) == 0x780u && f.len >= 2 && (f.data[1] & 0x7F) == 0x4B;
}
bool IsAllocate(const SimTraceFrame& f, int mac) {
  return f.id == (0x400u | static_cast<uint32_t>(mac) << 3 | 6u) && f.len >= 2 && f.data[1] == 0x4B;
}

// `restartFrame` picks the master's frame after which the slave restarts;
// `mac` is where it comes back.
template <typename Pick>
AfterRestart LookAfterRestart(int mac, Pick restartFrame) {
  AfterRestart a;
  const std::vector<SimTraceFrame> trace = Trace();
  size_t i = 0;
  while (i < trace.size() && !restartFrame(trace[i])) ++i;
  if (i == trace.size()) return a;
  a.restartUs = trace[i].timeUs;
  // The slave's checks: requests on its Duplicate MAC ID identifier.
  for (size_t j = i + 1; j < trace.size(); ++j) {
    const SimTraceFrame& f = trace[j];
    if (f.id == DupMacId(mac) && f.adapter != SIM_TRACE_SENT_BY_ADAPTER && !(f.data[0] & 0x80)) {
      ++a.slaveChecks;
      a.lastCheckUs = f.timeUs;
    }
  }
  for (size_t j = i + 1; j < trace.size(); ++j) {
    const SimTraceFrame& f = trace[j];
    if (f.adapter != SIM_TRACE_SENT_BY_ADAPTER) {
      if ((f.id & 0x7F8u) == (0x400u | static_cast<uint32_t>(mac) << 3) && (f.id & 7u) == 3u &&
          f.len >= 2 && (f.data[1] & 0x7F) == 0x4B && (f.data[1] & 0x80) && !a.connectedUs) {
        a.connectedUs = f.timeUs;  // the Allocate's success response
      }
      continue;
    }
    ++a.masterFrames;
    const bool toSlave = ((f.id >> 3) & 0x3F) == static_cast<uint32_t>(mac) ||
                         ((f.id & 0x7C0u) == 0x780u && f.len >= 1 && (f.data[0] & 0x3F) == mac);
    if (toSlave && a.lastCheckUs && f.timeUs < a.lastCheckUs + 1000000u) ++a.framesToChecking;
    if (IsUcmmOpen(f)) ++a.ucmmOpens;
    if (IsAllocate(f, mac)) ++a.allocates;
    if ((IsUcmmOpen(f) || IsAllocate(f, mac)) && !a.firstConnectUs) a.firstConnectUs = f.timeUs;
  }
  return a;
}

void PrintRestart(const char* what, const AfterRestart& a) {
  std::printf(
      "%s: after the restart %d UCMM Opens, %d Allocates, %d frames from the master, %d of them "
      "to the slave during its check; the slave's own checks %d; connected after %.3f s\n",
      what, a.ucmmOpens, a.allocates, a.masterFrames, a.framesToChecking, a.slaveChecks,
      a.connectedUs ? static_cast<double>(a.connectedUs - a.restartUs) / 1e6 : -1.0);
}

// A restarted slave announces itself with its own Duplicate MAC ID checks:
// the master waits for them without a word to that MAC ID and connects once
// it is online, after the MAC ID write as after the reset at a new rate.
TEST_F(Change, RestartedSlaveIsAwaitedAndConnectedOnce) {
  const struct { int newAddress, newBaud; } cases[] = {{20, 0}, {10, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "to " << c.newAddress << " at " << c.newBaud);
    Configure(SlaveAt(10));
    Want(10, c.newAddress, 0, c.newBaud);
    EXPECT_EQ(CarryOut(), CHANGE_DONE);
    EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
    EXPECT_EQ(Slave(0).macId, c.newAddress);
    EXPECT_EQ(Slave(0).baudIndex, c.newBaud);
    const bool baud = c.newBaud != 0;
    const AfterRestart a = LookAfterRestart(c.newAddress, [&](const SimTraceFrame& f) {
      if (f.id != ExplicitRequestId(10) || f.adapter != SIM_TRACE_SENT_BY_ADAPTER) return false;
      return baud ? f.data[1] == 0x05 && f.data[2] == 0x01
                  : f.len == 6 && f.data[1] == 0x10 && f.data[2] == 0x03 && f.data[4] == 1;
    });
    PrintRestart(baud ? "baud" : "address", a);
    ASSERT_NE(a.restartUs, 0u);
    EXPECT_GE(a.slaveChecks, 1);
    EXPECT_EQ(a.ucmmOpens, 1) << "one connect";
    EXPECT_EQ(a.allocates, 1);
    EXPECT_EQ(a.framesToChecking, 0) << "nothing to the slave while it checks";
    EXPECT_GT(a.firstConnectUs, a.lastCheckUs + 1000000u) << "after its check ended";
    ASSERT_NE(a.connectedUs, 0u);
    EXPECT_LT(a.connectedUs - a.restartUs, 10000000u);
  }
}

TEST_F(Change, AddressFirstAtTheOldRateThenBaudAtTheNewAddress) {
  Configure(SlaveAt(10));
  Want(10, 20, 0, 1);
  EXPECT_EQ(CarryOut(), CHANGE_DONE);
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  EXPECT_EQ(g_App.CurrAdr, 20);
  EXPECT_EQ(g_App.BaudIndex, 1);
  EXPECT_EQ(fillMainCalls, 2);
  EXPECT_EQ(Slave(0).macId, 20);
  EXPECT_EQ(Slave(0).baudIndex, 1);
  const auto writes = DeviceNetWrites();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].address, 10);
  EXPECT_EQ(writes[0].attribute, 1);
  EXPECT_EQ(writes[0].baud, 0);
  EXPECT_EQ(writes[1].address, 20);
  EXPECT_EQ(writes[1].attribute, 2);
  EXPECT_EQ(writes[1].value, 1);
  EXPECT_EQ(writes[1].baud, 0);
}

TEST_F(Change, MissingSlaveEndsEverything) {
  Configure(SlaveAt(10));
  for (bool addressStep : {true, false}) {
    SCOPED_TRACE(addressStep ? "address step" : "baud step");
    persist::ClearRecordedBoxes();
    TheSim().traceClear();
    Want(11, addressStep ? 12 : 11, 0, 2);
    const uint32_t start = platform::TickMs();
    EXPECT_EQ(CarryOut(), CHANGE_DONE);
    EXPECT_GT(platform::TickMs() - start, 3000u);
    ExpectBoxes({Missing(11)});
    EXPECT_EQ(g_App.CurrAdr, 11);
    EXPECT_EQ(g_App.BaudIndex, 0);
    EXPECT_EQ(fillMainCalls, 0);
    EXPECT_TRUE(DeviceNetWrites().empty());
    EXPECT_EQ(g_App.AdapterOpen, 1) << "left as the failed step left it";
    can::CloseAdapter(nullptr);
  }
  EXPECT_EQ(Slave(0).macId, 10);
}

TEST_F(Change, RefusedWrites) {
  const struct {
    const char* refusal;
    int newAddress, newBaud;
    unsigned message;
  } cases[] = {
      {"refuse_mac_write = 0x0E\n", 20, 0, IDS_SET_ADDRESS_FAILED},
      {"refuse_baud_write = 0x0E\n", 10, 2, IDS_SET_BAUD_FAILED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal);
    Configure(SlaveAt(10, c.refusal));
    Want(10, c.newAddress, 0, c.newBaud);
    EXPECT_EQ(CarryOut(), CHANGE_DONE);
    ExpectBoxes({StringOf(c.message)});
    EXPECT_EQ(g_App.CurrAdr, 10);
    EXPECT_EQ(g_App.BaudIndex, 0);
    EXPECT_EQ(g_App.AdapterOpen, 0);
    EXPECT_EQ(fillMainCalls, 1);
    EXPECT_EQ(Slave(0).macId, 10);
    EXPECT_EQ(Slave(0).baudIndex, 0);
    EXPECT_EQ(Slave(0).resets, 0u);
    EXPECT_EQ(Slave(0).allocChoice, 0) << "released";
  }
}

// The slave took the change and restarted but never answers again: the
// message says where it was last sent, and the main window follows it there.
TEST_F(Change, SlaveThatDoesNotComeBack) {
  const struct {
    int newAddress, newBaud;
    const char* place;
  } cases[] = {{20, 0, "address 20 at 125 kB"}, {10, 1, "address 10 at 250 kB"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.place);
    Configure(SlaveAt(10, "silent_after_restart = yes\n"));
    Want(10, c.newAddress, 0, c.newBaud);
    const uint32_t start = platform::TickMs();
    EXPECT_EQ(CarryOut(), CHANGE_DONE);
    EXPECT_GT(platform::TickMs() - start, 10000u);
    ExpectBoxes(
        {"The slave took the change but did not answer again within 10 seconds.\n\nIt was "
         "last sent to " +
         std::string(c.place) + ". The main window now shows that address and baud rate."});
    EXPECT_EQ(g_App.CurrAdr, c.newAddress);
    EXPECT_EQ(g_App.BaudIndex, c.newBaud);
    EXPECT_EQ(fillMainCalls, 1);
    EXPECT_EQ(g_App.AdapterOpen, 0);
    EXPECT_EQ(Slave(0).link, SIM_LINK_SILENT);
    // Paced: a connect attempt a second, not one after another.
    int ucmmOpens = 0;
    for (const SimTraceFrame& f : Trace()) ucmmOpens += IsUcmmOpen(f);
    EXPECT_LE(ucmmOpens, 1 + 10);
  }
}

TEST_F(Change, UnchangedValuesTouchNothing) {
  Configure(SlaveAt(10));
  for (bool adapterOpen : {false, true}) {
    if (adapterOpen) {
      ASSERT_TRUE(can::OpenAdapter(DIALOG, 0));
    }
    TheSim().traceClear();
    Want(10, 10, 1, 1);
    EXPECT_EQ(CarryOut(), CHANGE_DONE);
    EXPECT_EQ(g_App.AdapterOpen, adapterOpen ? 1 : 0);
    EXPECT_EQ(TheSim().traceCount(), 0u);
    EXPECT_EQ(fillMainCalls, 0);
    EXPECT_TRUE(persist::RecordedBoxes().empty());
  }
}

// An explicit connection allocated at our MAC ID by a master this program
// knows nothing of: the change releases it only on the user's word.
TEST_F(Change, ConnectionAtOurMacIdIsTakenOverOnlyOnTheUsersWord) {
  for (int answer : {persist::BOX_IDNO, persist::BOX_IDYES}) {
    SCOPED_TRACE(answer);
    Configure(SlaveAt(10));
    Want(10, 20, 0, 0);
    const uint8_t own = 0;  // the first candidate, free on this bus
    const uint8_t allocate[] = {own, 0x4B, 0x03, 0x01, 0x01, own};
    ASSERT_EQ(TheSim().injectFrame(0, 0x400 | (10 << 3) | 6, sizeof allocate, allocate), 0);
    platform::AdvanceTestClock(5);
    ASSERT_EQ(Slave(0).allocChoice, 1);
    persist::ScriptBoxAnswer(answer);
    const int outcome = CarryOut();
    ASSERT_GE(persist::RecordedBoxes().size(), 1u);
    EXPECT_EQ(persist::RecordedBoxes()[0].style,
              persist::BOX_YESNO | persist::BOX_ICONQUESTION | persist::BOX_DEFBUTTON2);
    if (answer == persist::BOX_IDYES) {
      EXPECT_EQ(outcome, CHANGE_DONE) << BoxTexts();
      EXPECT_EQ(Slave(0).macId, 20);
    } else {
      EXPECT_EQ(persist::RecordedBoxes().size(), 1u) << BoxTexts();
      EXPECT_TRUE(DeviceNetWrites().empty());
      EXPECT_EQ(Slave(0).macId, 10);
      EXPECT_EQ(Slave(0).allocChoice, 1);  // left as it was
      EXPECT_EQ(Slave(0).allocator, own);
    }
  }
}

// Nothing is written onto an address where a device answers, and the dialog
// stays open for another choice; with a new rate too, the rate is not
// changed either.
TEST_F(Change, OccupiedAddressIsNotWritten) {
  for (int newBaud : {0, 2}) {
    SCOPED_TRACE(newBaud);
    Configure(SlaveAt(10) + SlaveAt(20));
    Want(10, 20, 0, newBaud);
    EXPECT_EQ(CarryOut(), CHANGE_AGAIN);
    ExpectBoxes(
        {"Address 20 is already in use by another device!\n\nThe slave keeps its address 10."});
    EXPECT_TRUE(DeviceNetWrites().empty());
    EXPECT_EQ(g_App.CurrAdr, 10);
    EXPECT_EQ(g_App.BaudIndex, 0);
    EXPECT_EQ(g_App.AdapterOpen, 0);
    EXPECT_EQ(fillMainCalls, 0);
    for (int index : {0, 1}) {
      const SimSlaveInfo slave = Slave(index);
      EXPECT_EQ(slave.macId, index == 0 ? 10 : 20);
      EXPECT_EQ(slave.baudIndex, 0);
      EXPECT_EQ(slave.link, SIM_LINK_ONLINE);
      EXPECT_EQ(slave.allocChoice, 0);
      EXPECT_EQ(slave.resets, 0u);
    }
  }
}

// The slave's future address is checked at its future rate before anything
// is written: the sensor moved from 7 at 500 kbit/s to 63 at 125 kbit/s,
// where 63 is taken, stays where it was, and so does the main window.
TEST_F(Change, AddressTakenAtTheNewRateLeavesTheSlaveUntouched) {
  const struct {
    int from, fromBaud, to, toBaud;
    std::string other;
    std::string message;
  } cases[] = {
      {7, 2, 63, 0, SlaveAt(63),
       "Address 63 is already in use by another device at 125 kB!\n\nNothing was written: the "
       "slave stays at address 7 at 500 kB."},
      {10, 0, 10, 2, SlaveAt(10, "baud = 500\n"),
       "Address 10 is already in use by another device at 500 kB!\n\nNothing was written: the "
       "slave stays at address 10 at 125 kB."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Configure(SlaveAt(c.from, "baud = " + std::string(c.fromBaud ? "500" : "125") + "\n") +
              c.other);
    Want(c.from, c.to, c.fromBaud, c.toBaud);
    EXPECT_EQ(CarryOut(), CHANGE_AGAIN);
    ExpectBoxes({c.message});
    EXPECT_TRUE(DeviceNetWrites().empty());
    EXPECT_EQ(g_App.CurrAdr, c.from);
    EXPECT_EQ(g_App.BaudIndex, c.fromBaud);
    EXPECT_EQ(g_App.AdapterOpen, 0);
    EXPECT_EQ(fillMainCalls, 0);
    for (int index : {0, 1}) {
      EXPECT_EQ(Slave(index).link, SIM_LINK_ONLINE) << index;
      EXPECT_EQ(Slave(index).resets, 0u) << index;
    }
    EXPECT_EQ(Slave(0).macId, c.from);
    EXPECT_EQ(Slave(0).baudIndex, c.fromBaud);
    // Only the checks at the new rate went there.
    for (const SimTraceFrame& f : Trace()) {
      if (f.adapter == SIM_TRACE_SENT_BY_ADAPTER && f.baudIndex == c.toBaud) {
        EXPECT_EQ(f.id, DupMacId(c.to));
      }
    }
  }
}

// The same move with 63 free at 125 kbit/s goes through, and the main
// window shows the slave where it now is.
TEST_F(Change, AddressAndRateTogetherWhereTheNewAddressIsFree) {
  Configure(SlaveAt(7, "baud = 500\n") + SlaveAt(63, "baud = 250\n"));
  Want(7, 63, 2, 0);
  EXPECT_EQ(CarryOut(), CHANGE_DONE);
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  EXPECT_EQ(g_App.CurrAdr, 63);
  EXPECT_EQ(g_App.BaudIndex, 0);
  EXPECT_EQ(Slave(0).macId, 63);
  EXPECT_EQ(Slave(0).baudIndex, 0);
  EXPECT_EQ(Slave(0).link, SIM_LINK_ONLINE);
  EXPECT_EQ(Slave(1).link, SIM_LINK_ONLINE);
  // Checked free at 125 kbit/s before the first write.
  uint64_t checkedUs = 0;
  uint64_t firstWriteUs = 0;
  for (const SimTraceFrame& f : Trace()) {
    if (f.adapter != SIM_TRACE_SENT_BY_ADAPTER) continue;
    if (f.id == DupMacId(63) && f.baudIndex == 0 && !checkedUs) checkedUs = f.timeUs;
    if ((f.id & 0x607u) == 0x404u && f.len == 6 && f.data[1] == 0x10 && f.data[2] == 0x03 &&
        !firstWriteUs) {
      firstWriteUs = f.timeUs;
    }
  }
  ASSERT_NE(checkedUs, 0u);
  EXPECT_LT(checkedUs, firstWriteUs);
}

// A claim made at one rate says nothing of another: after the reset the
// own MAC ID is checked again at the new rate, where a node holds the one
// used at the old rate.
TEST_F(Change, OwnMacIdCheckedAgainAtTheReopenedRate) {
  Configure(SlaveAt(10) + SlaveAt(0, "baud = 500\n"));
  Want(10, 10, 0, 2);
  EXPECT_EQ(CarryOut(), CHANGE_DONE);
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  EXPECT_EQ(g_App.BaudIndex, 2);
  EXPECT_EQ(Slave(1).link, SIM_LINK_ONLINE) << "the node at 0 undisturbed";
  std::set<int> ownAt[3];
  bool checkedAtNewRate = false;
  for (const SimTraceFrame& f : Trace()) {
    if (f.adapter != SIM_TRACE_SENT_BY_ADAPTER) continue;
    if (f.id == DupMacId(0) && f.baudIndex == 2) checkedAtNewRate = true;
    const uint32_t message = f.id & 7u;
    if ((f.id & 0x600u) == 0x400u && (message == 4 || message == 6)) {
      ownAt[f.baudIndex].insert(f.data[0] & 0x3F);
    } else if ((f.id & 0x7C0u) == 0x780u) {
      ownAt[f.baudIndex].insert(static_cast<int>(f.id & 0x3Fu));
    }
  }
  EXPECT_TRUE(checkedAtNewRate);
  EXPECT_EQ(ownAt[0], std::set<int>{0});
  EXPECT_EQ(ownAt[2], std::set<int>{1});
}

// A device at the new address that answers its checks slowly or loses one
// answer is still found: nothing is written.
TEST_F(Change, SlowOrLossyDeviceAtTheNewAddressIsFound) {
  for (const std::string fault : {"delay_dup_mac = 100\n", "drop_dup_mac = 1\n"}) {
    SCOPED_TRACE(fault);
    Configure(SlaveAt(10) + SlaveAt(20, fault));
    Want(10, 20, 0, 0);
    EXPECT_EQ(CarryOut(), CHANGE_AGAIN);
    ExpectBoxes(
        {"Address 20 is already in use by another device!\n\nThe slave keeps its address 10."});
    EXPECT_TRUE(DeviceNetWrites().empty());
    EXPECT_EQ(g_App.CurrAdr, 10);
  }
}

// A device at the new address that answers too late for any check: the
// moved slave finds it and goes faulted, and the device that then answers
// at the new address is the other one. The identity shows it; the current
// address stays.
TEST_F(Change, AnotherDeviceFoundAfterTheChangeIsReported) {
  Configure(SlaveAt(10) + SlaveAt(20, "delay_dup_mac = 500\n"));
  Want(10, 20, 0, 0);
  EXPECT_EQ(CarryOut(), CHANGE_DONE);
  ExpectBoxes(
      {"The device at address 20 at 125 kB is not the slave that was changed!\n\nIts vendor ID, "
       "product code or serial number differ: another device uses that address, and the slave, "
       "sent there, may have gone off the bus.\n\nThe main window keeps address 10 at 125 kB."});
  EXPECT_EQ(g_App.CurrAdr, 10);
  EXPECT_EQ(fillMainCalls, 1);
  EXPECT_EQ(Slave(0).link, SIM_LINK_FAULTED);
}

// A refused MAC ID write changes nothing; the baud step then moves the
// slave at its old address, which is checked free at the new rate first.
TEST_F(Change, BaudStepAfterAFailedAddressStepLooksAtTheOldAddress) {
  for (bool oldAddressTaken : {false, true}) {
    SCOPED_TRACE(oldAddressTaken);
    Configure(SlaveAt(10, "refuse_mac_write = 0x0E\n") +
              (oldAddressTaken ? SlaveAt(10, "baud = 500\n") : ""));
    Want(10, 20, 0, 2);
    EXPECT_EQ(CarryOut(), CHANGE_DONE);
    if (oldAddressTaken) {
      ExpectBoxes({StringOf(IDS_SET_ADDRESS_FAILED),
                   "Address 10 is already in use by another device at 500 kB!\n\nNothing was "
                   "written: the slave stays at address 10 at 125 kB."});
    } else {
      ExpectBoxes({StringOf(IDS_SET_ADDRESS_FAILED)});
    }
    EXPECT_EQ(g_App.CurrAdr, 10);
    EXPECT_EQ(g_App.BaudIndex, oldAddressTaken ? 0 : 2);
    EXPECT_EQ(fillMainCalls, oldAddressTaken ? 1 : 2);
    EXPECT_EQ(Slave(0).macId, 10);
    EXPECT_EQ(Slave(0).baudIndex, oldAddressTaken ? 0 : 2);
    EXPECT_EQ(Slave(0).link, SIM_LINK_ONLINE);
    const auto writes = DeviceNetWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().address, 10);
    EXPECT_EQ(writes.back().attribute, oldAddressTaken ? 1 : 2);
  }
}

}  // namespace

// The slave's own checks after an address step, heard at the old rate, do
// not make its address look taken when a rate change looks at the new rate.
TEST_F(Change, RateChangeRightAfterAnAddressChange) {
  Configure(SlaveAt(10));
  Want(10, 20, 0, 0);
  ASSERT_EQ(CarryOut(), CHANGE_DONE) << BoxTexts();
  Want(20, 20, 0, 1);
  EXPECT_EQ(CarryOut(), CHANGE_DONE) << BoxTexts();
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  EXPECT_EQ(g_App.BaudIndex, 1);
  EXPECT_EQ(Slave(0).macId, 20);
  EXPECT_EQ(Slave(0).baudIndex, 1);
}
