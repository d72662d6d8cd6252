// The serial-line adapter end to end under Wine, in-process: the real shell
// and main window, serialcan.dll beside the test, and COM5 of the test
// prefix a pseudo-terminal whose far end is the adapter emulator (a Linux
// process the test fixture starts, tests/win32/serial_line.sh) with the
// simulated slaves of serial_bus.ini behind it. Every frame goes through
// the Win32 serial API both ways. Real time throughout: neither the line
// nor the emulator follows a test clock.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "attributes/attributes.h"
#include "can/can_driver.h"
#include "persist/messages.h"
#include "persist/resstring.h"
#include "resource.h"
#include "ui/shell.h"
#include "ui_test_support.h"

namespace {

using app::g_App;
using uitest::ControlText;
using uitest::ListCount;
using uitest::ListLine;

constexpr int EMULATOR_COM = 5;  // linked by the fixture
constexpr int FAULTY_COM = 6;    // likewise, an adapter with faults (see CMakeLists.txt)
constexpr int EMPTY_COM = 9;     // nothing behind it

std::string SettingsFor(int com, int baud, int address) {
  return "[Tarnix]\r\nPrinterPort=" + std::to_string(can::PORT_SERIAL_FIRST + com - 1) +
         "\r\nBaud=" + std::to_string(baud) + "\r\nCurrAdr=" + std::to_string(address) + "\r\n";
}

using uitest::StringOf;

bool IsDialogUnderTest(HWND window) {
  return GetDlgItem(window, IDC_SEARCH_LIST) || GetDlgItem(window, IDC_CHANGE_OLD_ADDRESS);
}

// What the test does while a modal dialog runs, and the boxes it saw
// (each answered OK).
struct Script {
  std::function<void(HWND dialog)> onIdle;  // should end the dialog
  std::vector<std::string> boxes;
  int idles = 0;
};
Script* script = nullptr;

LRESULT CALLBACK ActivateHook(int code, WPARAM wParam, LPARAM lParam) {
  HWND window = reinterpret_cast<HWND>(wParam);
  char className[32] = "";
  if (code == HCBT_ACTIVATE && script && GetClassNameA(window, className, sizeof className) &&
      lstrcmpA(className, "#32770") == 0 && window != g_App.hMainWnd &&
      !IsDialogUnderTest(window)) {
    script->boxes.push_back(uitest::StaticTexts(window));
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK SentHook(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && script && sent->message == WM_ENTERIDLE &&
      sent->wParam == MSGF_DIALOGBOX && IsDialogUnderTest(reinterpret_cast<HWND>(sent->lParam))) {
    ++script->idles;
    if (script->onIdle) script->onIdle(reinterpret_cast<HWND>(sent->lParam));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

using uitest::PostCommand;

// The search list's lines that answered the probe: "10\t125 kBaud\t..." ->
// "10 at 125". Silent addresses show in brackets and are left out.
std::vector<std::string> Answering(HWND dialog) {
  std::vector<std::string> found;
  for (int i = 0; i < ListCount(dialog, IDC_SEARCH_LIST); ++i) {
    const std::string line = ListLine(dialog, IDC_SEARCH_LIST, i);
    if (line.empty() || line[0] == '(') continue;
    const size_t tab = line.find('\t');
    const size_t rate = line.find(' ', tab + 1);
    found.push_back(line.substr(0, tab) + " at " + line.substr(tab + 1, rate - tab - 1));
  }
  return found;
}

void SendStart(void* window) {
  SendMessageA(static_cast<HWND>(window), WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);
}

void RunIdleStep(void*) {
  ui::IdleStep();
}

void KeepBoxText(HWND box, void* text) {
  *static_cast<std::string*>(text) = uitest::StaticTexts(box);
}

class SerialAdapter : public ::testing::Test {
 protected:
  void Start(const std::string& settings) {
    uitest::PumpMessages();
    uitest::SetLangValue(0, nullptr, 0);
    uitest::WriteSettingsFile(settings);
    ASSERT_EQ(ui::InitInstance(GetModuleHandleA(nullptr), SW_SHOW), 1);
    main_ = static_cast<HWND>(g_App.hMainWnd);
    uitest::PumpMessages();
  }

  void TearDown() override { uitest::ExitProgram(); }

  // Gives the menu command with `s` acting, as the user would from the menu.
  void Run(int command, Script& s) {
    script = &s;
    HHOOK activate = SetWindowsHookExA(WH_CBT, ActivateHook, nullptr, GetCurrentThreadId());
    HHOOK sent = SetWindowsHookExA(WH_CALLWNDPROC, SentHook, nullptr, GetCurrentThreadId());
    SendMessageA(main_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    UnhookWindowsHookEx(sent);
    UnhookWindowsHookEx(activate);
    script = nullptr;
  }

  // A search at the main window's rate; returns who answered.
  std::vector<std::string> Search() {
    Script s;
    std::vector<std::string> found;
    s.onIdle = [&](HWND dialog) {
      if (s.idles > 1) return;
      found = Answering(dialog);
      PostCommand(dialog, IDCANCEL);
    };
    Run(IDM_SEARCH_SLAVES, s);
    EXPECT_EQ(s.idles, 1);
    EXPECT_TRUE(s.boxes.empty()) << s.boxes[0];
    return found;
  }

  void Notify(int id, WORD code) {
    SendMessageA(main_, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(main_, id)));
  }

  // The user selects output byte `line` and types `hex` into the hex field.
  void EditOutput(int line, const char* hex) {
    SendDlgItemMessageA(main_, IDC_MAIN_OUTPUT_LIST, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
    Notify(IDC_MAIN_OUTPUT_LIST, LBN_SELCHANGE);
    SetDlgItemTextA(main_, IDC_MAIN_HEX, hex);
    Notify(IDC_MAIN_HEX, EN_KILLFOCUS);
  }

  HWND main_ = nullptr;
};

// Search, start, fragmented I/O, an attribute read and a refused write,
// stop, then a new address and a new baud rate that a search at the new
// rate finds: each step's frames cross the serial line.
TEST_F(SerialAdapter, WholeUseThroughTheSerialLine) {
  Start(SettingsFor(EMULATOR_COM, 0, 10));
  char selected[64] = "";
  SendDlgItemMessageA(main_, IDC_MAIN_PORT, CB_GETLBTEXT,
                      SendDlgItemMessageA(main_, IDC_MAIN_PORT, CB_GETCURSEL, 0, 0),
                      reinterpret_cast<LPARAM>(selected));
  EXPECT_STREQ(selected, "Serial COM5");

  EXPECT_EQ(Search(), (std::vector<std::string>{"10 at 125", "20 at 125"}));
  EXPECT_EQ(g_App.AdapterOpen, 0);

  std::string box;
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, KeepBoxText, &box, SendStart, main_), 1);
  EXPECT_EQ(box, StringOf(IDS_OUTPUTS_WARNING));
  ASSERT_EQ(g_App.CommActive, 1);
  EXPECT_EQ(ControlText(main_, IDC_MAIN_PRODUCT_NAME), "Serial Sim I/O 20/20");
  ASSERT_EQ(ListCount(main_, IDC_MAIN_OUTPUT_LIST), 20);
  ASSERT_EQ(ListCount(main_, IDC_MAIN_INPUT_LIST), 20);

  // Byte 17 travels in the third fragment of the poll command and comes
  // back, echoed, in the third fragment of the response.
  EditOutput(17, "A5");
  for (int i = 0; i < 5 && ListLine(main_, IDC_MAIN_INPUT_LIST, 17) != "17:\tA5h\t10100101\t.";
       ++i) {
    ui::IdleStep();
  }
  EXPECT_EQ(ListLine(main_, IDC_MAIN_INPUT_LIST, 17), "17:\tA5h\t10100101\t.");
  EXPECT_EQ(ControlText(main_, IDC_MAIN_BUS_STATUS), StringOf(IDS_BUS_NORMAL));

  // The product name read into the Read Attribute dialog.
  PostMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_READ_ATTR, 0), 0);
  uitest::PumpMessages();
  HWND read = static_cast<HWND>(g_App.hReadAttrDlg);
  ASSERT_NE(read, nullptr);
  g_App.AttrClassId = 1;
  g_App.AttrInstanceId = 1;
  g_App.AttrAttributeId = 7;
  g_App.AttrType = attributes::ATTR_SHORT_STRING;
  g_App.ReadAttrPending = 1;
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, KeepBoxText, &box, RunIdleStep, nullptr), 0) << box;
  EXPECT_EQ(g_App.ReadAttrPending, 0);
  EXPECT_EQ(ControlText(read, IDC_ATTR_RESULT), "Serial Sim I/O 20/20");
  SendMessageA(read, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  uitest::PumpMessages();

  // The output assembly belongs to the running poll connection: the
  // slave's error response comes back through the line.
  g_App.AttrClassId = 4;
  g_App.AttrInstanceId = 150;
  g_App.AttrAttributeId = 3;
  const uint8_t value[] = {0x20, 0x05, 0x00, 0x00};
  std::memcpy(g_App.WriteValue, value, sizeof value);
  g_App.WriteValueLength = sizeof value;
  g_App.WriteAttrPending = 1;
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, KeepBoxText, &box, RunIdleStep, nullptr), 1);
  EXPECT_NE(box.find("0C hex"), std::string::npos) << box;

  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_STOP, 0), 0);
  ui::IdleStep();
  ASSERT_EQ(g_App.CommActive, 0);
  EXPECT_EQ(g_App.AdapterOpen, 0);

  Script address;
  address.onIdle = [&](HWND dialog) {
    if (address.idles > 1) return;
    SetDlgItemTextA(dialog, IDC_CHANGE_NEW_ADDRESS, "11");
    PostCommand(dialog, IDOK);
  };
  Run(IDM_CHANGE_ADDRESS, address);
  EXPECT_TRUE(address.boxes.empty()) << address.boxes[0];
  EXPECT_EQ(g_App.CurrAdr, 11);

  Script baud;
  baud.onIdle = [&](HWND dialog) {
    if (baud.idles > 1) return;
    SendDlgItemMessageA(dialog, IDC_CHANGE_NEW_BAUD, CB_SETCURSEL, 1, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CHANGE_NEW_BAUD, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CHANGE_NEW_BAUD)));
    PostCommand(dialog, IDOK);
  };
  Run(IDM_CHANGE_ADDRESS, baud);
  EXPECT_TRUE(baud.boxes.empty()) << baud.boxes[0];
  EXPECT_EQ(g_App.BaudIndex, 1);

  // At 250 kbit/s only the changed slave answers, at its new address.
  EXPECT_EQ(Search(), (std::vector<std::string>{"11 at 250"}));
}

// An adapter left with its channel open and half a line by an earlier
// program, ending its lines with CR LF, refusing every fifth frame and
// flagging a bus error in every status: it opens, and the fragmented I/O
// runs without a failure; the status field shows a warning, not bus off.
TEST_F(SerialAdapter, AFaultyAdapterStillRuns) {
  Start(SettingsFor(FAULTY_COM, 0, 10));
  std::string box;
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, KeepBoxText, &box, SendStart, main_), 1);
  ASSERT_EQ(g_App.CommActive, 1) << box;
  ASSERT_EQ(ListCount(main_, IDC_MAIN_INPUT_LIST), 20);
  const char* const values[] = {"A5", "5A", "C3"};
  for (const char* value : values) {
    EditOutput(17, value);
    const std::string echoed = std::string("17:\t") + value + "h";
    for (int i = 0; i < 10 && ListLine(main_, IDC_MAIN_INPUT_LIST, 17).rfind(echoed, 0) != 0; ++i) {
      EXPECT_EQ(uitest::WithAnsweredDialog(IDCANCEL, KeepBoxText, &box, RunIdleStep, nullptr), 0)
          << box;
    }
    EXPECT_EQ(ListLine(main_, IDC_MAIN_INPUT_LIST, 17).rfind(echoed, 0), 0u) << value;
  }
  EXPECT_EQ(g_App.CommActive, 1);
  EXPECT_EQ(ControlText(main_, IDC_MAIN_BUS_STATUS), StringOf(IDS_BUS_WARNING));
}

// A COM port with nothing behind it: the adapter does not open, the message
// says so at once, naming that COM port (no printer port), and nothing stays
// open.
TEST_F(SerialAdapter, PortWithoutAdapterSaysTheAdapterDoesNotOpen) {
  Start(SettingsFor(EMPTY_COM, 0, 10));
  std::vector<std::string> boxes;
  struct Seen {
    static void Keep(HWND box, void* all) {
      static_cast<std::vector<std::string>*>(all)->push_back(uitest::StaticTexts(box));
    }
  };
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, Seen::Keep, &boxes, SendStart, main_), 2);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], StringOf(IDS_OUTPUTS_WARNING));
  char expected[1000] = "";
  ASSERT_GT(persist::FormatResString(IDS_SERIAL_OPEN_FAILED, "9", nullptr, nullptr, expected,
                                     sizeof expected),
            0u);
  EXPECT_EQ(boxes[1], expected);
  EXPECT_NE(boxes[1].find("COM9"), std::string::npos) << boxes[1];
  EXPECT_EQ(g_App.CommActive, 0);
  EXPECT_EQ(g_App.AdapterOpen, 0);
}

}  // namespace
