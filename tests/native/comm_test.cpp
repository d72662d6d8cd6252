// Communication start and stop, result reports and the cyclic exchange
// against simulated slaves, through the real driver binding (the simulated
// adapter is copied beside the test as the USB adapter's driver). Message
// boxes and control texts are the native build's recorded ones.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "attributes/attributes.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/session.h"
#include "master/transactions.h"
#include "master_reset.h"
#include "persist/cursor_record.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/native_seams.h"
#include "persist/resstring.h"
#include "persist/ui_text_record.h"
#include "platform/platform.h"
#include "resource.h"
#include "sim_client.h"

namespace {

using namespace sim_client;
using namespace master;
using app::g_App;

constexpr uint8_t SLAVE = 10;
constexpr uint32_t POLL_COMMAND_ID = 0x400 | (SLAVE << 3) | 5;
constexpr uint32_t EXPLICIT_REQUEST_ID = 0x400 | (SLAVE << 3) | 4;

// Stand-ins for the windows the operations are given.
int mainWindowTag;
int readDialogTag;
int writeDialogTag;
void* const MAIN = &mainWindowTag;

// What the window side was asked to do.
struct ViewCalls {
  int refreshes;
  int forcedRefreshes;
  int controlStates;
  int outputByteShown;
};
ViewCalls calls;

void TestMessagePump(void*) {}

void RecordRefresh(void*, app::IoBuffers*, int force) {
  ++calls.refreshes;
  if (force) ++calls.forcedRefreshes;
}
void RecordControlStates(void*) {
  ++calls.controlStates;
}
void RecordOutputByte(void*, uint32_t value) {
  calls.outputByteShown = static_cast<int>(value);
}

struct SlaveSetup {
  int produced = 8;
  int consumed = 8;
  bool ucmm = true;
  const char* bodyFormat = "8/8";  // what the slave grants its connections
};

// `extra`: further keys of the slave's section.
std::string ConfigText(const SlaveSetup& c, const std::string& extra = "") {
  return std::string("[slave]\nmac = 10\nbaud = 125\nvendor = 0x0520\ndevice_type = 7\n") +
         "product_code = 1001\nrevision = 2.10\nserial = 0x80000001\n" +
         "name = Quillon Sim I/O with a long name\nproduced = " + std::to_string(c.produced) +
         "\nconsumed = " + std::to_string(c.consumed) + "\nucmm = " + (c.ucmm ? "yes" : "no") +
         "\nio = echo\nbody_format = " + c.bodyFormat + "\n" + extra;
}

std::string StringOf(unsigned id) {
  char text[1000];
  return persist::LoadResString(id, text, sizeof text) > 0 ? text : "";
}

class Comm : public ::testing::Test {
 protected:
  void SetUp() override { Configure(SlaveSetup{}); }
  void TearDown() override {
    StopMaster(MAIN);
    EXPECT_EQ(persist::WaitCursorsShown(), 0);
  }

  void Configure(const SlaveSetup& setup, const std::string& extra = "") {
    ResetMaster(io_, SLAVE);
    calls = ViewCalls{};
    CommView view{};
    view.RefreshDataViews = RecordRefresh;
    view.UpdateControlStates = RecordControlStates;
    view.ShowOutputByte = RecordOutputByte;
    view.ProcessMessage = TestMessagePump;
    SetCommView(view);
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(ConfigText(setup, extra).c_str(), "test.ini"), 0)
        << sim.lastError();
    sim.useClock(TestTick);
    sim.traceClear();
    persist::ClearRecordedBoxes();
    persist::ClearControlTexts();
  }

  // Starts with 1010 answered OK; the boxes and texts of the start are
  // forgotten afterwards.
  void Started() {
    persist::ScriptBoxAnswer(persist::BOX_IDOK);
    ASSERT_EQ(CommStart(MAIN), 1) << BoxTexts();
    persist::ClearRecordedBoxes();
    persist::ClearControlTexts();
    TheSim().traceClear();
  }

  static std::string BoxTexts() {
    std::string all;
    for (const auto& box : persist::RecordedBoxes()) all += "[" + box.text + "]";
    return all;
  }

  // The last text set in control `id` of `window`, or "<none>".
  static std::string TextOf(void* window, int id) {
    std::string text = "<none>";
    for (const auto& t : persist::RecordedControlTexts()) {
      if (t.window == window && t.controlId == id) text = t.text;
    }
    return text;
  }

  // `lines` follow a failure's text after a blank line.
  static void ExpectBox(size_t index, unsigned id, unsigned style, const std::string& lines = "") {
    ASSERT_GT(persist::RecordedBoxes().size(), index) << BoxTexts();
    const persist::RecordedBox& box = persist::RecordedBoxes()[index];
    // A communication failure names the slave.
    const std::string detail = id == IDS_COMM_FAILURE
                                   ? "\n\nSlave address: " + std::to_string(SLAVE)
                               : lines.empty() ? ""
                                               : "\n\n" + lines;
    EXPECT_EQ(box.text, StringOf(id) + detail) << "box " << index;
    EXPECT_EQ(box.style, style) << "box " << index;
  }

  app::IoBuffers io_;
};

constexpr unsigned EXCLAMATION_OK = persist::BOX_OK | persist::BOX_ICONEXCLAMATION;
constexpr unsigned EXCLAMATION_RETRY = persist::BOX_RETRYCANCEL | persist::BOX_ICONEXCLAMATION;

TEST_F(Comm, StartShowsTheIdentityAndSizesTheRecords) {
  g_App.FreezeOutputs = 1;
  g_App.OutputEdit.Data[0] = 0x5A;  // edits made before the start stay
  persist::ScriptBoxAnswer(persist::BOX_IDOK);
  ASSERT_EQ(CommStart(MAIN), 1) << BoxTexts();

  ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
  ExpectBox(0, IDS_OUTPUTS_WARNING, persist::BOX_OKCANCEL | persist::BOX_ICONEXCLAMATION);
  const struct {
    int id;
    const char* text;
  } fields[] = {
      {IDC_MAIN_VENDOR_ID, "1312"},
      {IDC_MAIN_DEVICE_TYPE, "7"},
      {IDC_MAIN_PRODUCT_CODE, "1001"},
      {IDC_MAIN_REVISION, "2.10"},
      {IDC_MAIN_SERIAL_NUMBER, "2147483649"},
      {IDC_MAIN_PRODUCT_NAME, "Quillon Sim I/O with a long name"},
  };
  for (const auto& field : fields) EXPECT_EQ(TextOf(MAIN, field.id), field.text) << field.id;

  EXPECT_EQ(io_.Output.Length, 8u);
  EXPECT_EQ(io_.Input.Length, 8u);
  EXPECT_EQ(g_App.OutputEdit.Length, 8u);
  EXPECT_EQ(g_App.OutputEdit.Data[0], 0x5A);
  EXPECT_EQ(g_App.FreezeOutputs, 0);
  EXPECT_EQ(g_App.CommActive, 1);
  EXPECT_EQ(g_App.PumpHook, TestMessagePump);
  EXPECT_EQ(Slave().allocChoice, 3);
  EXPECT_EQ(Slave().pollState, SIM_CONN_ESTABLISHED);
  EXPECT_EQ(Slave().pollEpr, 0);
  EXPECT_EQ(Slave().explicitEpr, 0);
}

TEST_F(Comm, StartCancelledDoesNothing) {
  persist::ScriptBoxAnswer(persist::BOX_IDCANCEL);
  EXPECT_EQ(CommStart(MAIN), 0);
  EXPECT_EQ(persist::RecordedBoxes().size(), 1u);
  EXPECT_EQ(g_App.AdapterOpen, 0);
  EXPECT_EQ(g_App.CommActive, 0);
  EXPECT_EQ(TheSim().traceCount(), 0u);
  EXPECT_TRUE(persist::RecordedControlTexts().empty());
}

TEST_F(Comm, StartWithoutSlaveGivesUpAfterThreeSeconds) {
  g_App.CurrAdr = SLAVE + 1;
  persist::ScriptBoxAnswer(persist::BOX_IDOK);
  const uint32_t start = platform::TickMs();
  EXPECT_EQ(CommStart(MAIN), 0);
  EXPECT_GT(platform::TickMs() - start, 3000u);
  ASSERT_EQ(persist::RecordedBoxes().size(), 2u);
  ExpectBox(1, IDS_SLAVE_INIT_FAILED, EXCLAMATION_OK,
            "Slave address: 11\nThe slave did not answer.");
  EXPECT_EQ(g_App.CommActive, 0);
  EXPECT_EQ(g_App.AdapterOpen, 1);
}

TEST_F(Comm, StartAgainstASlaveRefusingTheConnectionNamesItsCode) {
  Configure(SlaveSetup{}, "refuse_open = 0x02 0x01\ngroup2_port = no\n");
  persist::ScriptBoxAnswer(persist::BOX_IDOK);
  const uint32_t start = platform::TickMs();
  EXPECT_EQ(CommStart(MAIN), 0);
  // The listen before the own MAC ID check (1.1 s), its two windows, then 3 s.
  EXPECT_LT(platform::TickMs() - start, 1100u + 2 * 200u + 3000u + 500u);
  char code[200];
  ErrorCodeText(0x00020100, code, sizeof code);
  ASSERT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();
  ExpectBox(1, IDS_SLAVE_INIT_FAILED, EXCLAMATION_OK,
            "Slave address: 10\nThe slave's last answer was DeviceNet error code " +
                std::string(code) + ".");
  EXPECT_EQ(Slave().ucmmOpen, 0);
}

// The slave's set allocated by a master at MAC ID 0, the start's own MAC ID,
// that the program does not know: a scanner that is off line now, say.
void AllocatedByAnotherMasterAtMacIdZero() {
  const uint8_t allocate[] = {0, 0x4B, 0x03, 0x01, 0x03, 0};
  ASSERT_EQ(TheSim().injectFrame(0, 0x400 | (SLAVE << 3) | 6, sizeof allocate, allocate), 0);
  platform::AdvanceTestClock(5);
  ASSERT_EQ(Slave().allocator, 0);
}

bool ReleaseSent() {
  for (const SimTraceFrame& f : Trace()) {
    // A Release of the set on the Group 2 Only port or on a UCMM connection.
    if ((f.id == (0x400u | (SLAVE << 3) | 6) || f.id == 0x600u) && f.data[1] == 0x4C) return true;
  }
  return false;
}

TEST_F(Comm, SetAtOurMacIdIsTakenOverOnlyOnTheUsersWord) {
  for (int answer : {0, persist::BOX_IDNO, persist::BOX_IDYES}) {
    SCOPED_TRACE(answer);
    Configure(SlaveSetup{});
    AllocatedByAnotherMasterAtMacIdZero();
    TheSim().traceClear();
    persist::ScriptBoxAnswer(persist::BOX_IDOK);
    if (answer) persist::ScriptBoxAnswer(answer);  // else the default button
    EXPECT_EQ(CommStart(MAIN), answer == persist::BOX_IDYES ? 1 : 0);
    ASSERT_GE(persist::RecordedBoxes().size(), 2u) << BoxTexts();
    EXPECT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();
    const persist::RecordedBox& question = persist::RecordedBoxes()[1];
    EXPECT_EQ(question.style,
              persist::BOX_YESNO | persist::BOX_ICONQUESTION | persist::BOX_DEFBUTTON2);
    EXPECT_NE(question.text.find("address 10 "), std::string::npos) << question.text;
    EXPECT_NE(question.text.find("MAC ID 0,"), std::string::npos) << question.text;
    EXPECT_EQ(ReleaseSent(), answer == persist::BOX_IDYES);
    EXPECT_EQ(Slave().allocChoice, 3);
    if (answer != persist::BOX_IDYES) {
      EXPECT_EQ(Slave().ucmmOpen, 0);
    }
    StopMaster(MAIN);
  }
}

TEST_F(Comm, SetLeftBehindByAFailedReleaseIsTakenBackWithoutAsking) {
  Started();
  TheSim().refuseSetService(0, 0x4C, 0x10, 0x00, 1);
  EXPECT_EQ(CommStop(MAIN), 1);
  ASSERT_EQ(Slave().allocChoice, 3);  // still allocated, by our MAC ID
  EXPECT_EQ(Slave().ucmmOpen, 0);     // the UCMM connection closed all the same
  persist::ClearRecordedBoxes();
  TheSim().traceClear();
  persist::ScriptBoxAnswer(persist::BOX_IDOK);
  EXPECT_EQ(CommStart(MAIN), 1);
  EXPECT_EQ(persist::RecordedBoxes().size(), 1u) << BoxTexts();  // 1010 only
  EXPECT_TRUE(ReleaseSent());
}

TEST_F(Comm, StopClosesAUcmmConnectionLeftOnRecord) {
  Started();
  // Release and Close go unanswered (both carried out): the connection
  // stays on record, and the end of Stop closes it once more.
  TheSim().dropAnswers(0, SIM_ANSWER_EXPLICIT, 2);
  EXPECT_EQ(CommStop(MAIN), 1);
  int closes = 0;
  for (const SimTraceFrame& f : TraceOf(0x780)) closes += f.data[1] == 0x4C ? 1 : 0;
  EXPECT_EQ(closes, 2);
  TheSim().traceClear();
  EXPECT_EQ(TxCloseUcmm(CONNECT_TIMEOUT_MS), TXR_OK);  // nothing left to close
  EXPECT_TRUE(Trace().empty());
}

// A bus off adapter refuses the own MAC ID check's request: no check took
// place, so no MAC ID is claimed and the start stops there, naming the
// adapter's status; not one frame went out.
TEST_F(Comm, StartOnABusOffAdapterGivesUp) {
  TheSim().setAdapterStatus(SIMCAN_ERR_BUSOFF, 0);
  TheSim().traceClear();
  persist::ScriptBoxAnswer(persist::BOX_IDOK);
  EXPECT_EQ(CommStart(MAIN), 0);
  TheSim().setAdapterStatus(0, 0);
  ASSERT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();
  char expected[1000];
  persist::FormatResString(IDS_OWN_MAC_CHECK_REFUSED, "0", StringOf(IDS_BUS_OFF).c_str(), nullptr,
                           expected, sizeof expected);
  EXPECT_EQ(persist::RecordedBoxes()[1].text, expected);
  EXPECT_EQ(devicenet::g_NodeTable.OwnMacClaimed, 0);
  EXPECT_EQ(g_App.CommActive, 0);
  EXPECT_EQ(Trace().size(), 0u);
}

TEST_F(Comm, ConnectionSizesUpToOneThousandBytes) {
  const struct {
    int consumed, produced;
    bool starts;
  } cases[] = {{1000, 1000, true}, {1001, 8, false}, {8, 1001, false}, {0, 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.consumed << "/" << c.produced);
    Configure(SlaveSetup{c.produced, c.consumed});
    persist::ScriptBoxAnswer(persist::BOX_IDOK);
    EXPECT_EQ(CommStart(MAIN), c.starts ? 1 : 0);
    EXPECT_EQ(g_App.CommActive, c.starts ? 1 : 0);
    if (c.starts) {
      EXPECT_EQ(persist::RecordedBoxes().size(), 1u) << BoxTexts();
      EXPECT_EQ(io_.Output.Length, static_cast<uint32_t>(c.consumed));
      EXPECT_EQ(io_.Input.Length, static_cast<uint32_t>(c.produced));
      for (int i = 0; i < c.consumed; ++i) g_App.OutputEdit.Data[i] = static_cast<uint8_t>(i + 1);
      EXPECT_EQ(CyclicStep(MAIN), 1);
      EXPECT_EQ(Slave().polls, 1u);
      EXPECT_EQ(Slave().outputLen, c.consumed);
      EXPECT_EQ(0, std::memcmp(Slave().output, g_App.OutputEdit.Data, c.consumed));
      EXPECT_EQ(io_.Input.Length, static_cast<uint32_t>(c.produced));
      EXPECT_EQ(0, std::memcmp(io_.Input.Data, g_App.OutputEdit.Data, c.produced));
    } else {
      ASSERT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();
      ExpectBox(1, IDS_IO_LENGTH_EXCEEDED, EXCLAMATION_OK);
    }
    CommStop(MAIN);
  }
}

TEST_F(Comm, EmptyConnectionsPollWithoutData) {
  Configure(SlaveSetup{0, 0});
  Started();
  EXPECT_EQ(CyclicStep(MAIN), 1);
  EXPECT_EQ(CyclicStep(MAIN), 1);
  EXPECT_EQ(Slave().polls, 2u);
  const auto commands = TraceOf(POLL_COMMAND_ID);
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].len, 0);
  EXPECT_EQ(io_.Input.Length, 0u);
}

TEST_F(Comm, OutputsReachTheSlaveUnlessFrozen) {
  Started();
  const uint8_t first[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::memcpy(g_App.OutputEdit.Data, first, 8);
  EXPECT_EQ(CyclicStep(MAIN), 1);
  EXPECT_EQ(0, std::memcmp(Slave().output, first, 8));
  EXPECT_EQ(0, std::memcmp(io_.Input.Data, first, 8));  // the slave echoes them
  EXPECT_EQ(calls.refreshes, 1);
  EXPECT_EQ(calls.forcedRefreshes, 0);

  g_App.FreezeOutputs = 1;
  g_App.OutputEdit.Data[0] = 0xFF;
  EXPECT_EQ(CyclicStep(MAIN), 1);
  EXPECT_EQ(Slave().polls, 2u);
  EXPECT_EQ(0, std::memcmp(Slave().output, first, 8));

  g_App.FreezeOutputs = 0;
  EXPECT_EQ(CyclicStep(MAIN), 1);
  EXPECT_EQ(Slave().output[0], 0xFF);
  EXPECT_TRUE(persist::RecordedBoxes().empty());
}

TEST_F(Comm, TwoLostPollResponsesCostNoMessage) {
  Started();
  TheSim().dropAnswers(0, SIM_ANSWER_POLL, 2);
  EXPECT_EQ(CyclicStep(MAIN), 1);
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  EXPECT_EQ(TraceOf(POLL_COMMAND_ID).size(), 3u);
  EXPECT_EQ(g_App.CommActive, 1);
  EXPECT_EQ(g_App.CyclicBusy, 0);
}

TEST_F(Comm, ThreeLostPollResponsesAsk) {
  const struct {
    const char* what;
    int answer;
    bool lose;  // the slave loses its connections too
    int restart;
    int result;
    int active;
  } cases[] = {
      {"retry, connection intact", persist::BOX_IDRETRY, false, 0, 1, 1},
      {"retry, connection lost", persist::BOX_IDRETRY, true, persist::BOX_IDOK, 1, 1},
      {"retry, restart cancelled", persist::BOX_IDRETRY, true, persist::BOX_IDCANCEL, 0, 0},
      {"cancel", persist::BOX_IDCANCEL, false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Configure(SlaveSetup{});
    Started();
    if (c.lose) {
      TheSim().powerCycle(0);
    } else {
      TheSim().dropAnswers(0, SIM_ANSWER_POLL, 3);
    }
    persist::ScriptBoxAnswer(c.answer);
    if (c.restart) persist::ScriptBoxAnswer(c.restart);
    EXPECT_EQ(CyclicStep(MAIN), c.result);
    EXPECT_EQ(TraceOf(POLL_COMMAND_ID).size(), 3u);
    ExpectBox(0, IDS_COMM_FAILURE, EXCLAMATION_RETRY);
    if (c.restart) {
      ASSERT_EQ(persist::RecordedBoxes().size(), 2u) << BoxTexts();
      ExpectBox(1, IDS_OUTPUTS_WARNING, persist::BOX_OKCANCEL | persist::BOX_ICONEXCLAMATION);
    } else {
      EXPECT_EQ(persist::RecordedBoxes().size(), 1u) << BoxTexts();
    }
    EXPECT_EQ(g_App.CommActive, c.active);
    EXPECT_EQ(g_App.AdapterOpen, c.active);
    EXPECT_EQ(Slave().allocChoice, c.active ? 3 : 0);
    if (c.active) {
      const uint32_t polls = Slave().polls;
      EXPECT_EQ(CyclicStep(MAIN), 1);
      EXPECT_EQ(Slave().polls, polls + 1);
    }
    CommStop(MAIN);
  }
}

TEST_F(Comm, StopReleasesClosesAndEmpties) {
  Started();
  g_App.OutputEdit.Data[3] = 0x33;
  ASSERT_EQ(CyclicStep(MAIN), 1);
  EXPECT_EQ(CommStop(MAIN), 1);

  EXPECT_EQ(Slave().allocChoice, 0);
  EXPECT_EQ(Slave().ucmmOpen, 0);
  EXPECT_EQ(g_App.AdapterOpen, 0);
  EXPECT_EQ(g_App.CommActive, 0);
  EXPECT_EQ(g_App.PumpHook, nullptr);
  const app::IoBuffers zeroIo{};
  EXPECT_EQ(0, std::memcmp(&io_, &zeroIo, sizeof io_));
  const app::IoRecord zeroRecord{};
  EXPECT_EQ(0, std::memcmp(&g_App.OutputEdit, &zeroRecord, sizeof zeroRecord));
  for (int id : {IDC_MAIN_VENDOR_ID, IDC_MAIN_DEVICE_TYPE, IDC_MAIN_PRODUCT_CODE, IDC_MAIN_REVISION,
                 IDC_MAIN_SERIAL_NUMBER, IDC_MAIN_PRODUCT_NAME, IDC_MAIN_BUS_STATUS}) {
    EXPECT_EQ(TextOf(MAIN, id), "") << id;
  }
  EXPECT_EQ(calls.forcedRefreshes, 1);
  EXPECT_EQ(calls.controlStates, 1);
  EXPECT_EQ(calls.outputByteShown, 0);
  EXPECT_TRUE(persist::RecordedBoxes().empty());

  EXPECT_EQ(CommStop(MAIN), 0);  // the adapter is closed already
  g_App.CyclicBusy = 1;
  EXPECT_EQ(CommStart(MAIN), 0);
  EXPECT_TRUE(persist::RecordedBoxes().empty());
  g_App.CyclicBusy = 0;
}

TEST_F(Comm, ReportResult) {
  // An error response leaves communication running.
  Started();
  EXPECT_EQ(ReportResult(MAIN, 0x00140000), 0);
  ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
  EXPECT_EQ(persist::RecordedBoxes()[0].style, EXCLAMATION_OK);
  EXPECT_NE(persist::RecordedBoxes()[0].text.find("error code: 14 hex"), std::string::npos)
      << BoxTexts();
  EXPECT_EQ(g_App.CommActive, 1);
  EXPECT_EQ(CyclicStep(MAIN), 1);

  // Success shows nothing but brings the bus status back.
  persist::ClearRecordedBoxes();
  persist::ClearControlTexts();
  EXPECT_EQ(ReportResult(MAIN, TXR_OK), 1);
  EXPECT_TRUE(persist::RecordedBoxes().empty());
  EXPECT_EQ(TextOf(MAIN, IDC_MAIN_BUS_STATUS), StringOf(IDS_BUS_NORMAL));

  // While inactive a failure is reported with OK alone.
  CommStop(MAIN);
  for (uint32_t result : {TXR_TIMEOUT, TXR_FAILED, TXR_NO_SLAVE}) {
    persist::ClearRecordedBoxes();
    EXPECT_EQ(ReportResult(MAIN, result), 0);
    ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
    ExpectBox(0, IDS_COMM_FAILURE, EXCLAMATION_OK);
  }
}

// ---- Attribute requests queued by the dialogs ----

class CommAttributes : public Comm {
 protected:
  void Queue(bool read, int classId, int instance, int attribute) {
    g_App.hReadAttrDlg = &readDialogTag;
    g_App.hWriteAttrDlg = &writeDialogTag;
    g_App.AttrClassId = classId;
    g_App.AttrInstanceId = instance;
    g_App.AttrAttributeId = attribute;
    (read ? g_App.ReadAttrPending : g_App.WriteAttrPending) = 1;
  }
  void QueueWrite(int classId, int instance, int attribute, std::vector<uint8_t> value,
                  const char* echo) {
    Queue(false, classId, instance, attribute);
    if (!value.empty()) std::memcpy(g_App.WriteValue, value.data(), value.size());
    g_App.WriteValueLength = static_cast<uint8_t>(value.size());
    std::snprintf(g_App.AttrValueText, sizeof g_App.AttrValueText, "%s", echo);
  }
};

TEST_F(CommAttributes, ReadWhileInactiveConnectsTheExplicitConnectionOnly) {
  Queue(true, 1, 1, 6);
  g_App.AttrType = attributes::ATTR_UDINT;
  g_App.ValueInHex = 0;
  EXPECT_EQ(CyclicStep(MAIN), 0);
  EXPECT_EQ(g_App.ReadAttrPending, 0);
  EXPECT_EQ(TextOf(&readDialogTag, IDC_ATTR_RESULT), "2147483649 dec");
  EXPECT_STREQ(g_App.AttrValueText, "2147483649 dec");
  EXPECT_EQ(g_App.AdapterOpen, 1);
  EXPECT_EQ(g_App.CommActive, 0);
  EXPECT_EQ(Slave().explicitEpr, 0);
  EXPECT_EQ(Slave().pollState, SIM_CONN_CONFIGURING);  // left as allocated
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  EXPECT_EQ(Slave().polls, 0u);
}

TEST_F(CommAttributes, ReadResultsWhileRunning) {
  Configure(SlaveSetup{0, 0});
  Started();
  const struct {
    int classId, instance, attribute, type, hex;
    const char* shown;
  } cases[] = {
      {1, 1, 1, attributes::ATTR_UINT, 1, "520 hex"},
      {1, 1, 4, attributes::ATTR_RAW_HEX, 1, "02 0A hex"},
      {1, 1, 6, attributes::ATTR_DINT, 0, "-2147483647 dec"},
      {1, 1, 7, attributes::ATTR_SHORT_STRING, 0, "Quillon Sim I/O with a long name"},
      {4, 150, 3, attributes::ATTR_RAW_HEX, 1, ""},  // no outputs: no data
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    std::strcpy(g_App.AttrValueText, "earlier value");
    Queue(true, c.classId, c.instance, c.attribute);
    g_App.AttrType = c.type;
    g_App.ValueInHex = c.hex;
    EXPECT_EQ(CyclicStep(MAIN), 1);
    EXPECT_EQ(TextOf(&readDialogTag, IDC_ATTR_RESULT), c.shown);
    EXPECT_STREQ(g_App.AttrValueText, c.shown);
  }
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
}

TEST_F(CommAttributes, RefusedReadReportsTheErrorAndPollingGoesOn) {
  Started();
  Queue(true, 1, 1, 99);
  EXPECT_EQ(CyclicStep(MAIN), 0);
  ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
  EXPECT_NE(persist::RecordedBoxes()[0].text.find("error code: 14 hex"), std::string::npos)
      << BoxTexts();
  EXPECT_EQ(TextOf(&readDialogTag, IDC_ATTR_RESULT), "<none>");
  EXPECT_EQ(g_App.ReadAttrPending, 0);  // not repeated
  EXPECT_EQ(g_App.CommActive, 1);
  EXPECT_EQ(CyclicStep(MAIN), 1);
}

TEST_F(CommAttributes, ReadWithoutSlaveIsDropped) {
  g_App.CurrAdr = SLAVE + 1;
  Queue(true, 1, 1, 1);
  EXPECT_EQ(CyclicStep(MAIN), 0);
  ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
  ExpectBox(0, IDS_SLAVE_INIT_FAILED, EXCLAMATION_OK,
            "Slave address: 11\nThe slave did not answer.");
  EXPECT_EQ(g_App.ReadAttrPending, 0);
}

// Class and instance IDs go out only as far as the body format the slave
// granted carries them: a wider one is named in a box over the dialog and
// nothing is sent (cut to 8 bits, class 103 hex would be the DeviceNet
// object). A slave that granted 16 bits gets the whole ID.
TEST_F(CommAttributes, IdsWiderThanTheGrantedFormatAreNotSent) {
  const struct {
    const char* format;
    bool read;
    int classId, instance;
    int idsHex;
    const char* refusal;  // the box's arguments, or null when the request goes out
    std::vector<uint8_t> request;
  } cases[] = {
      {"8/8", true, 0x103, 1, 1, "Class ID|103 hex|0...FF hex", {}},
      {"8/8", false, 1, 256, 0, "Instance ID|256 dec|0...255", {}},
      {"16/8", true, 1, 0x100, 1, "Instance ID|100 hex|0...FF hex", {}},
      {"8/8", true, 0xFF, 0xFF, 1, nullptr, {0x0E, 0xFF, 0xFF, 0x01}},
      {"16/16", true, 0x103, 0x1FF, 1, nullptr, {0x0E, 0x03, 0x01, 0xFF, 0x01, 0x01}},
      {"8/16", false, 4, 0x196, 1, nullptr, {0x10, 0x04, 0x96, 0x01, 0x03, 0x2A}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.classId) + "/" +
                 std::to_string(c.instance));
    SlaveSetup setup;
    setup.bodyFormat = c.format;
    Configure(setup);
    Started();
    g_App.IdsInHex = c.idsHex;
    if (c.read) {
      Queue(true, c.classId, c.instance, 1);
    } else {
      QueueWrite(c.classId, c.instance, 3, {0x2A}, "2A hex");
    }
    CyclicStep(MAIN);
    EXPECT_EQ(g_App.ReadAttrPending + g_App.WriteAttrPending, 0);
    const auto requests = TraceOf(EXPLICIT_REQUEST_ID);
    if (c.refusal) {
      EXPECT_TRUE(requests.empty()) << "a refused request reached the bus";
      ASSERT_EQ(persist::RecordedBoxes().size(), 1u) << BoxTexts();
      const persist::RecordedBox& box = persist::RecordedBoxes()[0];
      const std::string args(c.refusal);
      const size_t first = args.find('|');
      const size_t second = args.find('|', first + 1);
      char expected[1000];
      std::snprintf(expected, sizeof expected, StringOf(IDS_ATTR_ID_TOO_WIDE).c_str(),
                    args.substr(0, first).c_str(),
                    args.substr(first + 1, second - first - 1).c_str(),
                    args.substr(second + 1).c_str());
      EXPECT_EQ(box.text, expected);
      EXPECT_EQ(box.style, EXCLAMATION_OK);
      EXPECT_EQ(box.owner, c.read ? &readDialogTag : &writeDialogTag);
    } else {
      ASSERT_FALSE(requests.empty());
      const SimTraceFrame& last = requests.back();
      EXPECT_EQ(std::vector<uint8_t>(last.data + 1, last.data + last.len), c.request);
    }
    EXPECT_EQ(g_App.CommActive, 1);
    StopMaster(MAIN);
  }
}

TEST_F(CommAttributes, WriteSetsTheAttribute) {
  Started();
  QueueWrite(5, 2, 9, {0x64, 0x00}, "100 dec");
  EXPECT_EQ(CyclicStep(MAIN), 1);
  EXPECT_EQ(g_App.WriteAttrPending, 0);
  EXPECT_EQ(Slave().pollEpr, 100);
  EXPECT_EQ(TextOf(&writeDialogTag, IDC_ATTR_SEND_VALUE), "100 dec");
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
}

TEST_F(CommAttributes, ServiceModeShowsTheResponse) {
  const struct {
    uint8_t service;
    int classId, instance, attribute;
    std::vector<uint8_t> request;  // the frame's bytes after the header
    const char* response;
  } cases[] = {
      {0x05, 1, 1, 7, {0x05, 0x01, 0x01}, "hex"},  // reset: no attribute, no response data
      {0x0E, 1, 1, 1, {0x0E, 0x01, 0x01, 0x01}, "20 05 hex"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.response);
    Configure(SlaveSetup{});
    QueueWrite(c.classId, c.instance, c.attribute, {}, "");
    g_App.ServiceMode = 1;
    g_App.ServiceCode = c.service;
    EXPECT_EQ(CyclicStep(MAIN), 0);  // communication is not running
    const auto requests = TraceOf(EXPLICIT_REQUEST_ID);
    ASSERT_GE(requests.size(), 1u);  // after the connection's own requests
    const SimTraceFrame& last = requests.back();
    EXPECT_EQ(std::vector<uint8_t>(last.data + 1, last.data + last.len), c.request);
    ASSERT_GE(persist::RecordedBoxes().size(), 1u) << BoxTexts();
    const persist::RecordedBox& box = persist::RecordedBoxes()[0];
    EXPECT_EQ(box.text, c.response);
    EXPECT_EQ(box.caption, "Response");
    EXPECT_EQ(box.style, persist::BOX_OK);
    EXPECT_EQ(box.owner, &writeDialogTag);
  }
}

// A click on Write while a write runs queues one more (the dialog has put
// the value into WriteValue again); that one must carry the value, not the
// response of the first. The slave answers a rate of 105 ms with 110 ms.
TEST_F(CommAttributes, ServiceResponseLeavesTheValueForTheNextWrite) {
  Started();
  QueueWrite(5, 2, 9, {0x69, 0x00}, "69 00 hex");
  g_App.ServiceMode = 1;
  g_App.ServiceCode = 0x10;
  EXPECT_EQ(CyclicStep(MAIN), 1);
  ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
  EXPECT_EQ(persist::RecordedBoxes()[0].text, "6E 00 hex");
  g_App.WriteAttrPending = 1;
  EXPECT_EQ(CyclicStep(MAIN), 1);
  const auto requests = TraceOf(EXPLICIT_REQUEST_ID);
  ASSERT_GE(requests.size(), 1u);
  const SimTraceFrame& last = requests.back();
  EXPECT_EQ(std::vector<uint8_t>(last.data + 1, last.data + last.len),
            (std::vector<uint8_t>{0x10, 0x05, 0x02, 0x09, 0x69, 0x00}));
}

}  // namespace

namespace {

TEST_F(CommAttributes, NothingRunsWithoutTheMainWindow) {
  // After the exit sequence the idle step passes no window: a request still
  // queued must not open the adapter again.
  Queue(true, 1, 1, 1);
  EXPECT_EQ(CyclicStep(nullptr), 0);
  EXPECT_EQ(g_App.AdapterOpen, 0);
  EXPECT_EQ(TheSim().traceCount(), 0u);
}

TEST_F(CommAttributes, ResultsForAClosedDialogAreDropped) {
  // Closed while the request waited: the value text stays what it was, and
  // no box appears without its owner.
  Queue(true, 1, 1, 3);
  g_App.hReadAttrDlg = nullptr;
  std::strcpy(g_App.AttrValueText, "typed value");
  EXPECT_EQ(CyclicStep(MAIN), 0);
  EXPECT_STREQ(g_App.AttrValueText, "typed value");
  EXPECT_EQ(g_App.ReadAttrPending, 0);

  QueueWrite(1, 1, 1, {}, "echo");
  g_App.hWriteAttrDlg = nullptr;
  g_App.ServiceMode = 1;
  g_App.ServiceCode = 0x0E;
  EXPECT_EQ(CyclicStep(MAIN), 0);
  EXPECT_EQ(g_App.WriteAttrPending, 0);
  const auto requests = TraceOf(EXPLICIT_REQUEST_ID);  // the request did run
  ASSERT_GE(requests.size(), 1u);
  EXPECT_EQ(
      std::vector<uint8_t>(requests.back().data + 1, requests.back().data + requests.back().len),
      (std::vector<uint8_t>{0x0E, 0x01, 0x01, 0x01}));
  EXPECT_TRUE(persist::RecordedBoxes().empty()) << BoxTexts();
  for (const auto& t : persist::RecordedControlTexts()) EXPECT_EQ(t.window, MAIN);
}

TEST_F(Comm, NothingStartsWithoutTheIoRecords) {
  g_App.Io = nullptr;
  EXPECT_EQ(CommStart(MAIN), 0);
  EXPECT_TRUE(persist::RecordedBoxes().empty());
  EXPECT_EQ(g_App.AdapterOpen, 0);
}

}  // namespace
