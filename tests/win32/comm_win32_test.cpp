// Communication through the main window under Wine, in-process: the real
// shell and main window from the real language library, the simulated
// adapter beside the test as the USB adapter's driver, message boxes
// answered from inside the test.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "persist/resstring.h"
#include "platform/platform.h"
#include "resource.h"
#include "sim_client.h"
#include "ui/shell.h"
#include "ui_test_support.h"

namespace {

using namespace sim_client;
using app::g_App;
using uitest::ControlText;
using uitest::ListCount;
using uitest::ListLine;

constexpr const char* INPUT_LOG = "indata.log";

const char SLAVE_CONFIG[] =
    "[slave]\nmac = 10\nbaud = 125\nvendor = 0x0520\ndevice_type = 7\nproduct_code = 1001\n"
    "revision = 2.10\nserial = 0x80000001\nname = Quillon Sim I/O 8/8\nproduced = 8\n"
    "consumed = 8\nucmm = yes\nio = echo\n";

// What a message box showed, read as it opened.
struct SeenBox {
  std::string text;
  bool hasRetry = false;
  bool hasCancel = false;
};

void InspectBox(HWND box, void* context) {
  SeenBox& seen = *static_cast<SeenBox*>(context);
  seen.text += uitest::StaticTexts(box);
  seen.hasRetry = GetDlgItem(box, IDRETRY) != nullptr;
  seen.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
}

using uitest::StringOf;

void SendStart(void* window) {
  SendMessageA(static_cast<HWND>(window), WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);
}

void RunIdleStep(void*) {
  ui::IdleStep();
}

class Communication : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnableTestClock(1000);
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(SLAVE_CONFIG, "test.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    uitest::PumpMessages();
    uitest::SetLangValue(0, nullptr, 0);
    uitest::WriteSettingsFile(
        "[Tarnix]\r\nPrinterPort=4096\r\nBaud=0\r\nCurrAdr=10\r\n"
        "[Log]\r\nInputData=1\r\n");
    DeleteFileA(INPUT_LOG);
    ASSERT_EQ(ui::InitInstance(GetModuleHandleA(nullptr), SW_SHOW), 1);
    main_ = static_cast<HWND>(g_App.hMainWnd);
    uitest::PumpMessages();
  }

  void TearDown() override {
    uitest::ExitProgram();
    platform::DisableTestClock();
  }

  // Start with the warning answered by `button`; returns what it showed.
  SeenBox StartAnswered(int button) {
    SeenBox seen;
    EXPECT_EQ(uitest::WithAnsweredDialog(button, InspectBox, &seen, SendStart, main_), 1);
    return seen;
  }

  void Notify(int id, WORD code) {
    SendMessageA(main_, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(main_, id)));
  }
  void Click(int id, bool checked) {
    CheckDlgButton(main_, id, checked ? BST_CHECKED : BST_UNCHECKED);
    Notify(id, BN_CLICKED);
  }
  // The user selects output byte `line` and types `hex` into the hex field.
  void EditOutput(int line, const char* hex) {
    SendDlgItemMessageA(main_, IDC_MAIN_OUTPUT_LIST, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
    Notify(IDC_MAIN_OUTPUT_LIST, LBN_SELCHANGE);
    SetDlgItemTextA(main_, IDC_MAIN_HEX, hex);
    Notify(IDC_MAIN_HEX, EN_KILLFOCUS);
  }
  bool MenuGreyed(int id) {
    return (GetMenuState(GetMenu(main_), id, MF_BYCOMMAND) & MF_GRAYED) != 0;
  }

  HWND main_ = nullptr;
};

const int IDENTITY_FIELDS[] = {IDC_MAIN_VENDOR_ID, IDC_MAIN_DEVICE_TYPE,   IDC_MAIN_PRODUCT_CODE,
                               IDC_MAIN_REVISION,  IDC_MAIN_SERIAL_NUMBER, IDC_MAIN_PRODUCT_NAME};

TEST_F(Communication, StartExchangeAndStopThroughTheWindow) {
  // The warning answered Cancel: nothing happens.
  const SeenBox cancelled = StartAnswered(IDCANCEL);
  EXPECT_EQ(cancelled.text, StringOf(IDS_OUTPUTS_WARNING));
  EXPECT_TRUE(cancelled.hasCancel);
  EXPECT_EQ(g_App.AdapterOpen, 0);
  EXPECT_EQ(g_App.CommActive, 0);

  Click(IDC_MAIN_FREEZE, true);
  StartAnswered(IDOK);
  ASSERT_EQ(g_App.CommActive, 1);
  EXPECT_EQ(IsDlgButtonChecked(main_, IDC_MAIN_COMM_ACTIVE), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(main_, IDC_MAIN_FREEZE), BST_UNCHECKED);
  const char* identity[] = {"1312", "7", "1001", "2.10", "2147483649", "Quillon Sim I/O 8/8"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(ControlText(main_, IDENTITY_FIELDS[i]), identity[i]) << IDENTITY_FIELDS[i];
  }
  EXPECT_EQ(ListCount(main_, IDC_MAIN_OUTPUT_LIST), 8);
  EXPECT_EQ(ListCount(main_, IDC_MAIN_INPUT_LIST), 8);
  EXPECT_TRUE(MenuGreyed(IDM_START));
  EXPECT_FALSE(MenuGreyed(IDM_STOP));

  // Outputs typed into the window reach the slave, which echoes them as its
  // inputs: the input list and the input log show them.
  Click(IDC_MAIN_LOG, true);
  ASSERT_EQ(g_App.LogActive, 1);
  EditOutput(2, "A5");
  EXPECT_EQ(ui::IdleStep(), 1);
  EXPECT_EQ(Slave().output[2], 0xA5);
  EXPECT_EQ(ListLine(main_, IDC_MAIN_INPUT_LIST, 2), "2:\tA5h\t10100101\t.");
  EXPECT_EQ(ControlText(main_, IDC_MAIN_BUS_STATUS), StringOf(IDS_BUS_NORMAL));
  fflush(g_App.LogFile);
  EXPECT_NE(uitest::ReadTextFile(INPUT_LOG).find("00 00 A5 00 00 00 00 00"), std::string::npos)
      << uitest::ReadTextFile(INPUT_LOG);

  // Frozen: the view changes, the slave keeps what it had.
  Click(IDC_MAIN_FREEZE, true);
  EditOutput(2, "11");
  ui::IdleStep();
  EXPECT_EQ(ListLine(main_, IDC_MAIN_OUTPUT_LIST, 2), "2:\t11h\t00010001\t.");
  EXPECT_EQ(Slave().output[2], 0xA5);
  EXPECT_EQ(ListLine(main_, IDC_MAIN_INPUT_LIST, 2), "2:\tA5h\t10100101\t.");

  // Stop from the menu, carried out by the idle step.
  const uint32_t polls = Slave().polls;
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_STOP, 0), 0);
  ui::IdleStep();
  EXPECT_EQ(g_App.CommActive, 0);
  EXPECT_EQ(g_App.AdapterOpen, 0);
  EXPECT_EQ(Slave().allocChoice, 0);
  EXPECT_EQ(Slave().ucmmOpen, 0);
  EXPECT_EQ(Slave().polls, polls);
  EXPECT_EQ(IsDlgButtonChecked(main_, IDC_MAIN_COMM_ACTIVE), BST_UNCHECKED);
  EXPECT_EQ(ListCount(main_, IDC_MAIN_OUTPUT_LIST), 0);
  EXPECT_EQ(ListCount(main_, IDC_MAIN_INPUT_LIST), 0);
  for (int id : IDENTITY_FIELDS) EXPECT_EQ(ControlText(main_, id), "") << id;
  EXPECT_EQ(ControlText(main_, IDC_MAIN_BUS_STATUS), "");
  EXPECT_FALSE(MenuGreyed(IDM_START));
  EXPECT_TRUE(MenuGreyed(IDM_STOP));
}

TEST_F(Communication, ThreeLostPollsAskRetryOrCancel) {
  StartAnswered(IDOK);
  ASSERT_EQ(g_App.CommActive, 1);
  TheSim().dropAnswers(0, SIM_ANSWER_POLL, 3);
  SeenBox seen;
  EXPECT_EQ(uitest::WithAnsweredDialog(IDCANCEL, InspectBox, &seen, RunIdleStep, nullptr), 1);
  EXPECT_EQ(seen.text, StringOf(IDS_COMM_FAILURE) + "\n\nSlave address: 10");
  EXPECT_TRUE(seen.hasRetry);
  EXPECT_TRUE(seen.hasCancel);
  EXPECT_EQ(g_App.CommActive, 0);
  EXPECT_EQ(g_App.AdapterOpen, 0);
  EXPECT_EQ(Slave().allocChoice, 0);
  EXPECT_EQ(ListCount(main_, IDC_MAIN_INPUT_LIST), 0);
}

// Ticking Log writes the inputs as they are at once; a restart by Retry
// logs nothing the slave did not send. The counting slave's inputs are
// never all zero, so a line of zeros would be made up.
TEST_F(Communication, InputLogHoldsOnlyWhatTheSlaveSent) {
  const std::string counting = std::string(SLAVE_CONFIG) + "io = counter\n";
  ASSERT_EQ(TheSim().loadConfigText(counting.c_str(), "test.ini"), 0) << TheSim().lastError();
  StartAnswered(IDOK);
  ASSERT_EQ(g_App.CommActive, 1);
  for (int i = 0; i < 3; ++i) ui::IdleStep();

  Click(IDC_MAIN_LOG, true);
  ASSERT_EQ(g_App.LogActive, 1);
  fflush(g_App.LogFile);
  std::string shown;
  for (int i = 0; i < 8; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X ", g_App.Io->Input.Data[i]);
    shown += hex;
  }
  const std::string ticked = uitest::ReadTextFile(INPUT_LOG);
  EXPECT_NE(ticked.find("\t" + shown), std::string::npos) << ticked;

  TheSim().dropAnswers(0, SIM_ANSWER_POLL, 3);
  SeenBox seen;
  EXPECT_EQ(uitest::WithAnsweredDialog(IDRETRY, InspectBox, &seen, RunIdleStep, nullptr), 1);
  EXPECT_TRUE(seen.hasRetry);
  ASSERT_EQ(g_App.CommActive, 1);
  for (int i = 0; i < 3; ++i) ui::IdleStep();
  fflush(g_App.LogFile);
  const std::string retried = uitest::ReadTextFile(INPUT_LOG);
  EXPECT_EQ(retried.find("00 00 00 00 00 00 00 00"), std::string::npos) << retried;
  EXPECT_GT(retried.size(), ticked.size()) << "the restarted exchange is logged";

  // Stopped and started again with the log still ticked.
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_STOP, 0), 0);
  ui::IdleStep();
  ASSERT_EQ(g_App.CommActive, 0);
  StartAnswered(IDOK);
  ASSERT_EQ(g_App.CommActive, 1);
  ui::IdleStep();
  fflush(g_App.LogFile);
  const std::string restarted = uitest::ReadTextFile(INPUT_LOG);
  EXPECT_EQ(restarted.find("00 00 00 00 00 00 00 00"), std::string::npos) << restarted;
}

// The cyclic exchange goes on while Windows runs a message loop of its own:
// an open menu, the About box, a message box, a window move. The longest
// gap between two poll commands on the bus (the simulator's trace, on the
// real clock) stays near the normal cycle.
HWND g_modalMain;
const char* g_modalCase;

void CALLBACK CloseModal(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (std::strcmp(g_modalCase, "menu") == 0) {
    EndMenu();
  } else if (std::strcmp(g_modalCase, "move") == 0) {
    // The move loop ends on Esc.
    PostMessageA(g_modalMain, WM_KEYDOWN, VK_ESCAPE, 0);
    ReleaseCapture();
  } else {
    HWND popup = GetLastActivePopup(g_modalMain);
    if (popup && popup != g_modalMain) PostMessageA(popup, WM_COMMAND, IDOK, 0);
  }
}

uint32_t LongestPollGapMs(uint64_t fromUs, uint64_t toUs, int& polls) {
  uint64_t last = fromUs;
  uint64_t longest = 0;
  polls = 0;
  for (const SimTraceFrame& f : TraceOf(0x400 | (10 << 3) | 5)) {
    if (f.timeUs < fromUs || f.timeUs > toUs) continue;
    longest = std::max(longest, f.timeUs - last);
    last = f.timeUs;
    ++polls;
  }
  longest = std::max(longest, toUs - last);
  return static_cast<uint32_t>(longest / 1000);
}

TEST_F(Communication, ExchangeGoesOnInsideMenusBoxesAndMoves) {
  StartAnswered(IDOK);
  ASSERT_EQ(g_App.CommActive, 1);
  platform::DisableTestClock();  // real time from here on, for the sim too
  g_modalMain = main_;
  for (const char* modal : {"menu", "about", "box", "move"}) {
    SCOPED_TRACE(modal);
    g_modalCase = modal;
    for (int i = 0; i < 20; ++i) ui::IdleStep();
    TheSim().traceClear();
    const uint64_t opened = TheSim().nowUs();
    SetTimer(nullptr, 0, 600, CloseModal);
    if (std::strcmp(modal, "menu") == 0) {
      TrackPopupMenu(GetSubMenu(GetMenu(main_), 3), TPM_LEFTALIGN, 100, 100, 0, main_, nullptr);
    } else if (std::strcmp(modal, "about") == 0) {
      SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
    } else if (std::strcmp(modal, "box") == 0) {
      MessageBoxA(main_, "modal", "test", MB_OK);
    } else {
      SendMessageA(main_, WM_SYSCOMMAND, SC_MOVE, 0);
    }
    const uint64_t closed = TheSim().nowUs();
    int polls = 0;
    const uint32_t gap = LongestPollGapMs(opened, closed, polls);
    std::printf("%s open %u ms: %d polls, longest gap %u ms\n", modal,
                static_cast<unsigned>((closed - opened) / 1000), polls, gap);
    std::fflush(stdout);
    EXPECT_GE(closed - opened, 500000u);
    EXPECT_GT(polls, 20);
    EXPECT_LT(gap, 100u);
    ASSERT_EQ(g_App.CommActive, 1);
  }
}

}  // namespace
