// The Read Attribute and Write Attribute dialogs in the running program:
// started in-process from the real language library, opened through the
// main window's menu, clicked and typed into as a user would.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

HWND MainWnd() {
  return static_cast<HWND>(g_App.hMainWnd);
}
HWND ReadDlg() {
  return static_cast<HWND>(g_App.hReadAttrDlg);
}
HWND WriteDlg() {
  return static_cast<HWND>(g_App.hWriteAttrDlg);
}

// A menu command of the main window, as the menu posts it.
void Menu(int id) {
  PostMessageA(MainWnd(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
  uitest::PumpMessages();
}

// A click on a button, check box or radio button, then the idle step the
// message loop runs after it.
void Click(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  ASSERT_NE(button, nullptr) << id;
  SendMessageA(button, BM_CLICK, 0, 0);
  ui::IdleStep();
}

void Type(HWND dialog, int id, const char* text) {
  SetDlgItemTextA(dialog, id, text);
}

std::string Text(HWND dialog, int id) {
  char text[4000] = "";
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

bool Ticked(HWND dialog, int id) {
  return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

bool Enabled(HWND dialog, int id) {
  return IsWindowEnabled(GetDlgItem(dialog, id)) != 0;
}

bool Shown(HWND dialog, int id) {
  return IsWindowVisible(GetDlgItem(dialog, id)) != 0;
}

// The radio buttons of the Data Type group in code order 0..13.
constexpr int kTypeRadios[] = {IDC_ATTR_TYPE_RAW,    IDC_ATTR_TYPE_BOOL,        IDC_ATTR_TYPE_SINT,
                               IDC_ATTR_TYPE_INT,    IDC_ATTR_TYPE_DINT,        IDC_ATTR_TYPE_LINT,
                               IDC_ATTR_TYPE_USINT,  IDC_ATTR_TYPE_UINT,        IDC_ATTR_TYPE_UDINT,
                               IDC_ATTR_TYPE_ULINT,  IDC_ATTR_TYPE_REAL,        IDC_ATTR_TYPE_LREAL,
                               IDC_ATTR_TYPE_STRING, IDC_ATTR_TYPE_SHORT_STRING};

// The codes whose radio button is ticked.
std::string TickedTypes(HWND dialog) {
  std::string codes;
  for (int code = 0; code < 14; ++code) {
    if (Ticked(dialog, kTypeRadios[code])) codes += std::to_string(code) + " ";
  }
  return codes;
}

// Switching the ID radix there and back before the idle step withdraws the
// write just queued, so these checks send nothing.
void WithdrawWrite(HWND write) {
  SendMessageA(GetDlgItem(write, IDC_ATTR_IDS_HEX), BM_CLICK, 0, 0);
  SendMessageA(GetDlgItem(write, IDC_ATTR_IDS_HEX), BM_CLICK, 0, 0);
  EXPECT_EQ(g_App.WriteAttrPending, 0);
}

std::string Hex(const uint8_t* bytes, int count) {
  std::string text;
  char byte[4];
  for (int i = 0; i < count; ++i) {
    std::snprintf(byte, sizeof byte, "%02X ", bytes[i]);
    text += byte;
  }
  return text;
}

// One slave at MAC ID 10 on the Group 2 Only port (so its explicit
// connection is an allocation the simulator shows), four output bytes that
// Assembly 4/150 attribute 3 reads and writes while no poll runs.
const char SLAVE_CONFIG[] =
    "[slave]\nmac = 10\nbaud = 125\nvendor = 0x0520\ndevice_type = 7\nproduct_code = 1001\n"
    "revision = 2.10\nserial = 0x80000001\nname = Sim\nproduced = 4\nconsumed = 4\n"
    "ucmm = no\nio = echo\n";
// Group 2 requests to the slave: over the explicit connection (message 4)
// and, for Allocate and Release, through the unconnected port (message 6).
constexpr uint32_t SLAVE_EXPLICIT_REQUEST_ID = 0x400 | (10 << 3) | 4;
constexpr uint32_t SLAVE_UNCONNECTED_REQUEST_ID = 0x400 | (10 << 3) | 6;
constexpr uint8_t FRAGMENTED = 0x80;  // header bit of fragments and acknowledges

// The unfragmented group 2 requests the master sent to the slave since the
// trace was cleared, each as its bytes after the message header.
std::vector<std::string> ExplicitRequests() {
  std::vector<std::string> requests;
  for (const SimTraceFrame& frame : Trace()) {
    if (frame.len == 0 || (frame.data[0] & FRAGMENTED) ||
        (frame.id != SLAVE_EXPLICIT_REQUEST_ID && frame.id != SLAVE_UNCONNECTED_REQUEST_ID)) {
      continue;
    }
    requests.push_back(Hex(frame.data + 1, frame.len - 1));
  }
  return requests;
}

// What a message box showed, read as it opened.
struct SeenBox {
  std::string caption;
  std::string text;
  bool hasCancel = false;
};

void InspectBox(HWND box, void* context) {
  SeenBox& seen = *static_cast<SeenBox*>(context);
  char caption[256] = "";
  GetWindowTextA(box, caption, sizeof caption);
  seen.caption = caption;
  seen.text += uitest::StaticTexts(box);
  seen.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
}

// Answers OK to every message box that opens while it is installed. The
// attribute dialogs are dialogs of the same class and activate again when
// a box closes: those are left alone.
struct BoxAnswer {
  SeenBox* seen;
  int count;
  HWND last;
};
BoxAnswer boxAnswer;

LRESULT CALLBACK AnswerBoxHook(int code, WPARAM wParam, LPARAM lParam) {
  HWND box = reinterpret_cast<HWND>(wParam);
  char className[32] = "";
  if (code == HCBT_ACTIVATE && box != boxAnswer.last && box != ReadDlg() && box != WriteDlg() &&
      box != MainWnd() && GetClassNameA(box, className, sizeof className) &&
      lstrcmpA(className, "#32770") == 0) {
    boxAnswer.last = box;
    boxAnswer.count++;
    if (boxAnswer.seen) InspectBox(box, boxAnswer.seen);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Clicks button `id` of `dialog` and runs the idle step after it, where
// the request is carried out; a message box that the click or the request
// opens is answered OK. Returns how many boxes opened.
int ClickAnswered(HWND dialog, int id, SeenBox* seen) {
  boxAnswer = BoxAnswer{seen, 0, nullptr};
  HHOOK hook = SetWindowsHookExA(WH_CBT, AnswerBoxHook, nullptr, GetCurrentThreadId());
  EXPECT_NE(hook, nullptr);
  SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
  ui::IdleStep();
  if (hook) UnhookWindowsHookEx(hook);
  return boxAnswer.count;
}

// The refusal of an ID field as the box shows it.
std::string IdRefusal(const char* field, const std::string& shown, const std::string& allowed) {
  char format[1000] = "";
  persist::LoadResString(IDS_ATTR_ID_REFUSED, format, sizeof format);
  char text[2000];
  std::snprintf(text, sizeof text, format, field, shown.c_str(), allowed.c_str());
  return text;
}

// What the class and instance fields take, in hex or decimal.
std::string WideIdsAllowed(bool hex) {
  char format[1000] = "";
  persist::LoadResString(IDS_ATTR_ID_ALLOWED_WIDE, format, sizeof format);
  char text[1000];
  std::snprintf(text, sizeof text, format, hex ? "0...FFFF hex" : "0...65535",
                hex ? "FF hex" : "255");
  return text;
}

// With QUILLON_SHOT_HOLD_MS set, keeps the windows up that long, working, so
// that a picture of the screen can be taken from outside.
void HoldForPicture(const char* what) {
  const char* hold = std::getenv("QUILLON_SHOT_HOLD_MS");
  if (!hold) return;
  std::printf("SHOT %s\n", what);
  std::fflush(stdout);
  const DWORD until = GetTickCount() + static_cast<DWORD>(std::atoi(hold));
  while (static_cast<int>(until - GetTickCount()) > 0) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ui::ProcessMessage(&msg);
    Sleep(20);
  }
}

// The program with a settings file of its own (the simulated adapter's port,
// the slave's address and, when asked, the Service box) and the slave just
// switched on.
class AttrDialogs : public ::testing::Test {
 protected:
  void StartProgram(bool serviceShow) {
    platform::EnableTestClock(1000);
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(SLAVE_CONFIG, "attrdlg.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    uitest::PumpMessages();
    uitest::SetLangValue(0, nullptr, 0);
    uitest::WriteSettingsFile(
        std::string("[Tarnix]\r\nPrinterPort=4096\r\nBaud=0\r\nCurrAdr=10\r\n") +
        (serviceShow ? "[Service]\r\nShow=1\r\n" : ""));
    ASSERT_EQ(ui::InitInstance(GetModuleHandleA(nullptr), SW_SHOWNORMAL), 1);
    ASSERT_NE(MainWnd(), nullptr);
    uitest::PumpMessages();
    ASSERT_EQ(g_App.MainReady, 1);
    ASSERT_EQ(g_App.ServiceShow, serviceShow ? 1 : 0);
  }

  void TearDown() override {
    uitest::ExitProgram();
    platform::DisableTestClock();
  }
};

TEST_F(AttrDialogs, FirstOpeningShowsTheStartValues) {
  StartProgram(false);
  Menu(IDM_READ_ATTR);
  HWND read = ReadDlg();
  ASSERT_NE(read, nullptr);
  EXPECT_TRUE(IsWindowVisible(read));
  char title[64];
  GetWindowTextA(read, title, sizeof title);
  EXPECT_STREQ(title, "Read Attribute");
  for (int id : {IDC_ATTR_CLASS, IDC_ATTR_INSTANCE, IDC_ATTR_ATTRIBUTE}) {
    EXPECT_EQ(Text(read, id), "1 hex") << id;
  }
  EXPECT_TRUE(Ticked(read, IDC_ATTR_IDS_HEX));
  EXPECT_TRUE(Ticked(read, IDC_ATTR_VALUE_HEX));
  EXPECT_FALSE(Enabled(read, IDC_ATTR_VALUE_HEX)) << "raw bytes take no radix";
  EXPECT_EQ(TickedTypes(read), "0 ");
  EXPECT_EQ(Text(read, IDC_ATTR_RESULT), "");
  EXPECT_EQ(GetFocus(), GetDlgItem(read, IDC_ATTR_CLASS));

  // Centred over the main window, its top 50 pixels below the main window's.
  RECT main;
  RECT dialog;
  GetWindowRect(MainWnd(), &main);
  GetWindowRect(read, &dialog);
  EXPECT_NEAR(dialog.top, main.top + 50, 1);
  EXPECT_NEAR(dialog.left + dialog.right, main.left + main.right, 1);

  Menu(IDM_WRITE_ATTR);
  HWND write = WriteDlg();
  ASSERT_NE(write, nullptr);
  GetWindowTextA(write, title, sizeof title);
  EXPECT_STREQ(title, "Write Attribute");
  for (int id : {IDC_ATTR_CLASS, IDC_ATTR_INSTANCE, IDC_ATTR_ATTRIBUTE}) {
    EXPECT_EQ(Text(write, id), "1 hex") << id;
  }
  EXPECT_TRUE(Ticked(write, IDC_ATTR_IDS_HEX));
  EXPECT_TRUE(Ticked(write, IDC_ATTR_VALUE_HEX));
  EXPECT_EQ(TickedTypes(write), "0 ");
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), "");
  EXPECT_FALSE(Shown(write, IDC_ATTR_SERVICE)) << "[Service] Show is not set";
}

TEST_F(AttrDialogs, OpeningOneClosesTheOther) {
  StartProgram(false);
  Menu(IDM_READ_ATTR);
  HWND read = ReadDlg();
  ASSERT_NE(read, nullptr);
  Type(read, IDC_ATTR_CLASS, "typed");

  // Asked for again while open: the same window, untouched.
  Menu(IDM_READ_ATTR);
  EXPECT_EQ(ReadDlg(), read);
  EXPECT_EQ(Text(read, IDC_ATTR_CLASS), "typed");

  Menu(IDM_WRITE_ATTR);
  EXPECT_EQ(ReadDlg(), nullptr);
  EXPECT_FALSE(IsWindow(read));
  HWND write = WriteDlg();
  ASSERT_NE(write, nullptr);

  Menu(IDM_READ_ATTR);
  EXPECT_EQ(WriteDlg(), nullptr);
  EXPECT_FALSE(IsWindow(write));
  ASSERT_NE(ReadDlg(), nullptr);

  // Close clears the handle; the menu opens it again.
  Click(ReadDlg(), IDCANCEL);
  EXPECT_EQ(ReadDlg(), nullptr);
  Menu(IDM_READ_ATTR);
  EXPECT_NE(ReadDlg(), nullptr);
}

TEST_F(AttrDialogs, IdRadixSwitchReformatsAndStartsNoRequest) {
  StartProgram(false);
  Menu(IDM_READ_ATTR);
  HWND read = ReadDlg();
  ASSERT_NE(read, nullptr);

  Click(read, IDC_ATTR_IDS_HEX);
  EXPECT_FALSE(Ticked(read, IDC_ATTR_IDS_HEX));
  EXPECT_EQ(Text(read, IDC_ATTR_CLASS), "1 dec");
  Type(read, IDC_ATTR_CLASS, "26");
  Type(read, IDC_ATTR_INSTANCE, "x");  // no number: kept as typed
  Type(read, IDC_ATTR_ATTRIBUTE, " 200 dec");

  Click(read, IDC_ATTR_IDS_HEX);
  EXPECT_EQ(Text(read, IDC_ATTR_CLASS), "1A hex");
  EXPECT_EQ(Text(read, IDC_ATTR_INSTANCE), "x");
  EXPECT_EQ(Text(read, IDC_ATTR_ATTRIBUTE), "C8 hex");
  Click(read, IDC_ATTR_IDS_HEX);
  EXPECT_EQ(Text(read, IDC_ATTR_CLASS), "26 dec");
  EXPECT_EQ(Text(read, IDC_ATTR_INSTANCE), "x");
  EXPECT_EQ(Text(read, IDC_ATTR_ATTRIBUTE), "200 dec");
  EXPECT_EQ(g_App.ReadAttrPending, 0);
  EXPECT_EQ(g_App.AdapterOpen, 0) << "a radix switch reached the bus";

  // A Read not yet carried out is withdrawn by a switch before the idle step.
  Type(read, IDC_ATTR_INSTANCE, "0");
  Type(read, IDC_ATTR_CLASS, "1");
  SendMessageA(GetDlgItem(read, IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(g_App.ReadAttrPending, 1);
  EXPECT_EQ(Text(read, IDC_ATTR_CLASS), "1 dec");
  SendMessageA(GetDlgItem(read, IDC_ATTR_IDS_HEX), BM_CLICK, 0, 0);
  EXPECT_EQ(g_App.ReadAttrPending, 0);
  ui::IdleStep();
  EXPECT_EQ(g_App.AdapterOpen, 0) << "the withdrawn read reached the bus";
  EXPECT_EQ(Text(read, IDC_ATTR_CLASS), "1 hex");

  // The IDs and their radix outlive the dialog and are shared with Write.
  Menu(IDM_WRITE_ATTR);
  HWND write = WriteDlg();
  ASSERT_NE(write, nullptr);
  EXPECT_TRUE(Ticked(write, IDC_ATTR_IDS_HEX));
  EXPECT_EQ(Text(write, IDC_ATTR_CLASS), "1 hex");
  EXPECT_EQ(Text(write, IDC_ATTR_INSTANCE), "0 hex");
  EXPECT_EQ(Text(write, IDC_ATTR_ATTRIBUTE), "C8 hex");

  // In the Write dialog the switch takes and echoes Send Value as a Write
  // would, and withdraws a write not yet carried out.
  Click(write, IDC_ATTR_TYPE_INT);
  EXPECT_TRUE(Enabled(write, IDC_ATTR_VALUE_HEX));
  Click(write, IDC_ATTR_VALUE_HEX);  // decimal values
  Type(write, IDC_ATTR_SEND_VALUE, "7000");
  SendMessageA(GetDlgItem(write, IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(g_App.WriteAttrPending, 1);
  Type(write, IDC_ATTR_SEND_VALUE, "-2");
  SendMessageA(GetDlgItem(write, IDC_ATTR_IDS_HEX), BM_CLICK, 0, 0);
  EXPECT_EQ(g_App.WriteAttrPending, 0);
  ui::IdleStep();
  EXPECT_EQ(g_App.AdapterOpen, 0) << "the withdrawn write reached the bus";
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), "-2 dec");
  EXPECT_EQ(Text(write, IDC_ATTR_ATTRIBUTE), "200 dec");
  EXPECT_EQ(TickedTypes(write), "3 ");
  EXPECT_FALSE(Ticked(write, IDC_ATTR_VALUE_HEX));
}

// The Write button: the IDs and Send Value are taken and echoed, and the
// echo says exactly what goes out.
TEST_F(AttrDialogs, WriteEchoesWhatItSends) {
  StartProgram(false);
  Menu(IDM_WRITE_ATTR);
  HWND write = WriteDlg();
  ASSERT_NE(write, nullptr);

  struct Case {
    int radio;
    bool valueHex;
    const char* typed;
    const char* echo;
    const char* bytes;
  };
  const Case cases[] = {
      {IDC_ATTR_TYPE_RAW, true, "a1 bc 73", "A1 BC 73 hex", "A1 BC 73 "},
      {IDC_ATTR_TYPE_RAW, true, "", "hex", ""},
      {IDC_ATTR_TYPE_BOOL, true, "1", "1", "01 "},
      {IDC_ATTR_TYPE_SINT, true, "FF", "FF hex", "FF "},
      {IDC_ATTR_TYPE_SINT, false, "-1", "-1 dec", "FF "},
      // A value shown in decimal is sent as shown, whatever the box says.
      {IDC_ATTR_TYPE_INT, true, "12 dec", "C hex", "0C 00 "},
      {IDC_ATTR_TYPE_UDINT, false, "4000000000", "4000000000 dec", "00 28 6B EE "},
      {IDC_ATTR_TYPE_DINT, false, "-5", "-5 dec", "FB FF FF FF "},
      {IDC_ATTR_TYPE_REAL, false, "1e3", "1000", "00 00 7A 44 "},
      {IDC_ATTR_TYPE_SHORT_STRING, false, "abc", "abc", "03 61 62 63 "},
      {IDC_ATTR_TYPE_STRING, false, "abc", "abc", "61 62 63 "},
  };
  for (const Case& c : cases) {
    Click(write, c.radio);
    if (Ticked(write, IDC_ATTR_VALUE_HEX) != c.valueHex) Click(write, IDC_ATTR_VALUE_HEX);
    Type(write, IDC_ATTR_SEND_VALUE, c.typed);
    SendMessageA(GetDlgItem(write, IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), c.echo) << c.typed;
    EXPECT_STREQ(g_App.AttrValueText, c.echo) << c.typed;
    EXPECT_EQ(Hex(g_App.WriteValue, g_App.WriteValueLength), c.bytes) << c.typed;
    EXPECT_EQ(g_App.WriteAttrPending, 1);
    WithdrawWrite(write);
  }

  // The longest STRING one write carries goes out whole.
  Click(write, IDC_ATTR_TYPE_STRING);
  Type(write, IDC_ATTR_SEND_VALUE, std::string(255, 'q').c_str());
  SendMessageA(GetDlgItem(write, IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(g_App.WriteValueLength, 255);
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), std::string(255, 'q'));
  WithdrawWrite(write);

  // Typing is limited to what a field holds.
  EXPECT_EQ(SendDlgItemMessageA(write, IDC_ATTR_SEND_VALUE, EM_GETLIMITTEXT, 0, 0), 2999);
}

// A value that does not fit its type is refused with a box that names it,
// the type and what the type allows; nothing is queued or sent, and the
// field keeps what the user typed.
TEST_F(AttrDialogs, WriteRefusesAValueThatDoesNotFitItsType) {
  StartProgram(false);
  Menu(IDM_WRITE_ATTR);
  HWND write = WriteDlg();
  ASSERT_NE(write, nullptr);
  char format[1000] = "";
  ASSERT_GT(persist::LoadResString(IDS_VALUE_REFUSED, format, sizeof format), 0);
  const std::string longText(2999, 'q');

  struct Case {
    int radio;
    bool valueHex;
    std::string typed;
    std::string shown;  // the value as the box names it
    const char* type;
    const char* allowed;
  };
  const Case cases[] = {
      {IDC_ATTR_TYPE_SINT, false, "300", "300", "SINT", "-128...127"},
      {IDC_ATTR_TYPE_USINT, true, "100", "100", "USINT", "0...FF hex"},
      {IDC_ATTR_TYPE_UINT, false, "70000", "70000", "UINT", "0...65535"},
      {IDC_ATTR_TYPE_DINT, false, "", "", "DINT", "-2147483648...2147483647"},
      {IDC_ATTR_TYPE_BOOL, false, "256", "256", "BOOL", "0...1"},
      {IDC_ATTR_TYPE_REAL, false, "abc", "abc", "REAL", "-3.4028235e+38...3.4028235e+38"},
      {IDC_ATTR_TYPE_RAW, true, "999999", "999999", "raw hex bytes",
       "up to 255 bytes, each one or two hex digits, separated by blanks (e.g. a1 bc 73)"},
      {IDC_ATTR_TYPE_STRING, false, longText, std::string(60, 'q') + "...", "STRING",
       "up to 255 characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.substr(0, 20));
    // A write queued before and not yet carried out.
    Click(write, IDC_ATTR_TYPE_RAW);
    Type(write, IDC_ATTR_SEND_VALUE, "a1");
    SendMessageA(GetDlgItem(write, IDOK), BM_CLICK, 0, 0);
    ASSERT_EQ(g_App.WriteAttrPending, 1);

    // Chosen without the idle step, which would carry that write out.
    SendMessageA(GetDlgItem(write, c.radio), BM_CLICK, 0, 0);
    if (Ticked(write, IDC_ATTR_VALUE_HEX) != c.valueHex) {
      SendMessageA(GetDlgItem(write, IDC_ATTR_VALUE_HEX), BM_CLICK, 0, 0);
    }
    Type(write, IDC_ATTR_SEND_VALUE, c.typed.c_str());
    SeenBox seen;
    ASSERT_EQ(ClickAnswered(write, IDOK, &seen), 1);
    char expected[2000];
    std::snprintf(expected, sizeof expected, format, c.shown.c_str(), c.type, c.allowed);
    EXPECT_EQ(seen.text, expected);
    EXPECT_EQ(g_App.WriteAttrPending, 0) << "the earlier write is withdrawn too";
    EXPECT_EQ(g_App.AdapterOpen, 0) << "a refused write reached the bus";
    EXPECT_EQ(Hex(g_App.WriteValue, g_App.WriteValueLength), "A1 ");
    EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), c.typed);
    EXPECT_STREQ(g_App.AttrValueText, "A1 hex");
    EXPECT_EQ(GetFocus(), GetDlgItem(write, IDC_ATTR_SEND_VALUE));
  }

  // Switching the ID radix takes no refused value and shows no box.
  Click(write, IDC_ATTR_TYPE_SINT);
  Type(write, IDC_ATTR_SEND_VALUE, "300");
  EXPECT_EQ(ClickAnswered(write, IDC_ATTR_IDS_HEX, nullptr), 0);
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), "300");
  EXPECT_EQ(g_App.WriteAttrPending, 0);
}

// An ID that does not fit the request is refused with a box naming the
// field, the text and what the field takes; nothing is queued or sent (a
// request queued before is withdrawn), no field changes, and the focus is
// on the field to correct. Typed into Read and Write alike.
TEST_F(AttrDialogs, IdsThatDoNotFitTheRequestAreRefused) {
  StartProgram(false);
  struct Case {
    bool hex;
    int field;
    std::string typed;
    const char* name;
    std::string shown;
    std::string allowed;
  };
  const std::string longText(100, '7');
  const Case cases[] = {
      {true, IDC_ATTR_ATTRIBUTE, "107", "Attribute ID", "107", "0...FF hex"},
      {true, IDC_ATTR_ATTRIBUTE, "100", "Attribute ID", "100", "0...FF hex"},
      {false, IDC_ATTR_ATTRIBUTE, "256", "Attribute ID", "256", "0...255"},
      {true, IDC_ATTR_CLASS, "zz", "Class ID", "zz", WideIdsAllowed(true)},
      {true, IDC_ATTR_CLASS, "", "Class ID", "", WideIdsAllowed(true)},
      {true, IDC_ATTR_CLASS, "AZZ", "Class ID", "AZZ", WideIdsAllowed(true)},
      {true, IDC_ATTR_CLASS, "10000", "Class ID", "10000", WideIdsAllowed(true)},
      {false, IDC_ATTR_INSTANCE, "-1", "Instance ID", "-1", WideIdsAllowed(false)},
      {false, IDC_ATTR_INSTANCE, "65536", "Instance ID", "65536", WideIdsAllowed(false)},
      {false, IDC_ATTR_INSTANCE, "1 2", "Instance ID", "1 2", WideIdsAllowed(false)},
      {false, IDC_ATTR_INSTANCE, longText, "Instance ID", std::string(60, '7') + "...",
       WideIdsAllowed(false)},
  };
  for (int menu : {IDM_READ_ATTR, IDM_WRITE_ATTR}) {
    Menu(menu);
    HWND dialog = menu == IDM_READ_ATTR ? ReadDlg() : WriteDlg();
    ASSERT_NE(dialog, nullptr);
    int& pending = menu == IDM_READ_ATTR ? g_App.ReadAttrPending : g_App.WriteAttrPending;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(menu == IDM_READ_ATTR ? "read " : "write ") + c.typed.substr(0, 20));
      if (Ticked(dialog, IDC_ATTR_IDS_HEX) != c.hex) Click(dialog, IDC_ATTR_IDS_HEX);
      for (int id : {IDC_ATTR_CLASS, IDC_ATTR_INSTANCE, IDC_ATTR_ATTRIBUTE}) Type(dialog, id, "1");
      // A request queued before and not yet carried out.
      SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
      ASSERT_EQ(pending, 1);

      Type(dialog, c.field, c.typed.c_str());
      SeenBox seen;
      ASSERT_EQ(ClickAnswered(dialog, IDOK, &seen), 1);
      EXPECT_EQ(seen.text, IdRefusal(c.name, c.shown, c.allowed));
      EXPECT_EQ(pending, 0) << "the earlier request is withdrawn too";
      EXPECT_EQ(g_App.AdapterOpen, 0) << "a refused request reached the bus";
      EXPECT_EQ(Text(dialog, c.field), c.typed);
      for (int id : {IDC_ATTR_CLASS, IDC_ATTR_INSTANCE, IDC_ATTR_ATTRIBUTE}) {
        if (id == c.field) continue;
        EXPECT_EQ(Text(dialog, id), c.hex ? "1 hex" : "1 dec") << id;
      }
      EXPECT_EQ(GetFocus(), GetDlgItem(dialog, c.field));
    }
  }
}

// The edges of the 8-bit request format go out exactly as typed; a class
// wider than the format this slave granted (8/8) is refused once the
// connection is up, and no request with it goes out.
TEST_F(AttrDialogs, IdsAtTheEdgesGoOutExactly) {
  StartProgram(false);
  Menu(IDM_READ_ATTR);
  HWND read = ReadDlg();
  ASSERT_NE(read, nullptr);
  struct Case {
    const char* classId;
    const char* instance;
    const char* attribute;
    const char* request;
  };
  const Case cases[] = {
      {"0", "0", "0", "0E 00 00 00 "},
      {"FF", "FF hex", "0xff", "0E FF FF FF "},
      {"255 dec", "1", "7", "0E FF 01 07 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    Type(read, IDC_ATTR_CLASS, c.classId);
    Type(read, IDC_ATTR_INSTANCE, c.instance);
    Type(read, IDC_ATTR_ATTRIBUTE, c.attribute);
    TheSim().traceClear();
    ClickAnswered(read, IDOK, nullptr);  // the slave may refuse: the request is what counts
    const std::vector<std::string> requests = ExplicitRequests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back(), c.request);
  }

  Type(read, IDC_ATTR_CLASS, "103");
  Type(read, IDC_ATTR_INSTANCE, "1");
  Type(read, IDC_ATTR_ATTRIBUTE, "1");
  TheSim().traceClear();
  SeenBox seen;
  ASSERT_EQ(ClickAnswered(read, IDOK, &seen), 1);
  char format[1000] = "";
  persist::LoadResString(IDS_ATTR_ID_TOO_WIDE, format, sizeof format);
  char expected[2000];
  std::snprintf(expected, sizeof expected, format, "Class ID", "103 hex", "0...FF hex");
  EXPECT_EQ(seen.text, expected);
  for (const std::string& request : ExplicitRequests()) {
    EXPECT_NE(request.rfind("0E ", 0), 0u) << "a Get went out: " << request;
  }
  EXPECT_EQ(Text(read, IDC_ATTR_RESULT), "");
  HoldForPicture("too-wide");
}

TEST_F(AttrDialogs, ServiceModeTakesTheServiceCodeFromTheAttributeField) {
  StartProgram(true);
  Menu(IDM_WRITE_ATTR);
  HWND write = WriteDlg();
  ASSERT_NE(write, nullptr);
  EXPECT_TRUE(Shown(write, IDC_ATTR_SERVICE));
  EXPECT_FALSE(Ticked(write, IDC_ATTR_SERVICE));

  Click(write, IDC_ATTR_TYPE_UINT);
  Click(write, IDC_ATTR_SERVICE);
  EXPECT_EQ(g_App.ServiceMode, 1);
  // Nothing else changes until the dialog opens again.
  EXPECT_EQ(TickedTypes(write), "7 ");

  // A service code is one byte: more is refused, not cut.
  Type(write, IDC_ATTR_ATTRIBUTE, "1FF");
  Type(write, IDC_ATTR_SEND_VALUE, "5");
  SeenBox seen;
  ASSERT_EQ(ClickAnswered(write, IDOK, &seen), 1);
  EXPECT_EQ(seen.text, IdRefusal("Service code", "1FF", "0...FF hex"));
  EXPECT_EQ(g_App.WriteAttrPending, 0);
  EXPECT_EQ(Text(write, IDC_ATTR_ATTRIBUTE), "1FF");
  Type(write, IDC_ATTR_ATTRIBUTE, "FF");
  SendMessageA(GetDlgItem(write, IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(Text(write, IDC_ATTR_ATTRIBUTE), "FF hex");
  EXPECT_EQ(g_App.ServiceCode, 0xFF);
  EXPECT_EQ(g_App.AttrAttributeId, 0xFF);
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), "5 hex");
  WithdrawWrite(write);

  // Opened again in service mode: ticked, and the data are raw bytes.
  Menu(IDM_READ_ATTR);
  Menu(IDM_WRITE_ATTR);
  write = WriteDlg();
  ASSERT_NE(write, nullptr);
  EXPECT_TRUE(Ticked(write, IDC_ATTR_SERVICE));
  EXPECT_EQ(TickedTypes(write), "0 ");
  EXPECT_FALSE(Enabled(write, IDC_ATTR_VALUE_HEX));
  // The withdrawing switch opened the dialog afresh as well, so it took
  // "5 hex" once more, now as raw bytes.
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), "05 hex");
}

// A read while communication is inactive brings up the adapter and the
// slave's explicit connection only; its result is the next Write's Send
// Value, and what that Write sends reads back the same.
TEST_F(AttrDialogs, ReadResultBecomesTheSendValueAndReadsBackAfterTheWrite) {
  StartProgram(false);
  Menu(IDM_READ_ATTR);
  HWND read = ReadDlg();
  ASSERT_NE(read, nullptr);
  Click(read, IDC_ATTR_TYPE_UINT);
  Click(read, IDC_ATTR_VALUE_HEX);  // decimal values
  TheSim().traceClear();
  EXPECT_EQ(ClickAnswered(read, IDOK, nullptr), 0) << "the read reported a failure";
  EXPECT_EQ(Text(read, IDC_ATTR_RESULT), "1312 dec") << "vendor 0x0520";
  EXPECT_EQ(g_App.ReadAttrPending, 0);
  // Get_Attribute_Single of class 1, instance 1, attribute 1.
  const std::vector<std::string> requests = ExplicitRequests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back(), "0E 01 01 01 ");
  EXPECT_EQ(g_App.AdapterOpen, 1);
  EXPECT_EQ(g_App.CommActive, 0);
  // The explicit connection is made ready (its watchdog off), the poll
  // connection is left alone.
  EXPECT_EQ(Slave().explicitState, SIM_CONN_ESTABLISHED);
  EXPECT_NE(Slave().pollState, SIM_CONN_ESTABLISHED);
  EXPECT_EQ(Slave().polls, 0u);
  EXPECT_NE(std::find(requests.begin(), requests.end(), "10 05 01 09 00 00 "), requests.end());
  EXPECT_EQ(std::find(requests.begin(), requests.end(), "10 05 02 09 00 00 "), requests.end());
  HoldForPicture("read");

  Menu(IDM_WRITE_ATTR);
  HWND write = WriteDlg();
  ASSERT_NE(write, nullptr);
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), "1312 dec");
  EXPECT_EQ(TickedTypes(write), "7 ");
  EXPECT_FALSE(Ticked(write, IDC_ATTR_VALUE_HEX));

  // Written as DINT into the slave's output assembly (4/150/3).
  Type(write, IDC_ATTR_CLASS, "4");
  Type(write, IDC_ATTR_INSTANCE, "96");
  Type(write, IDC_ATTR_ATTRIBUTE, "3");
  Click(write, IDC_ATTR_TYPE_DINT);
  TheSim().traceClear();
  EXPECT_EQ(ClickAnswered(write, IDOK, nullptr), 0) << "the write reported a failure";
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), "1312 dec");
  EXPECT_EQ(Text(write, IDC_ATTR_INSTANCE), "96 hex");
  const SimSlaveInfo slave = Slave();
  EXPECT_EQ(Hex(slave.output, slave.outputLen), "20 05 00 00 ");
  HoldForPicture("write");

  Menu(IDM_READ_ATTR);
  read = ReadDlg();
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(Text(read, IDC_ATTR_INSTANCE), "96 hex");
  EXPECT_EQ(ClickAnswered(read, IDOK, nullptr), 0);
  EXPECT_EQ(Text(read, IDC_ATTR_RESULT), "1312 dec");
  Click(read, IDC_ATTR_VALUE_HEX);
  EXPECT_EQ(Text(read, IDC_ATTR_RESULT), "1312 dec") << "the radix applies from the next read";
  EXPECT_EQ(ClickAnswered(read, IDOK, nullptr), 0);
  EXPECT_EQ(Text(read, IDC_ATTR_RESULT), "520 hex");
}

// A request the slave refuses leaves the value field empty and the program
// working.
TEST_F(AttrDialogs, RefusedReadLeavesTheResultEmpty) {
  StartProgram(false);
  Menu(IDM_READ_ATTR);
  HWND read = ReadDlg();
  ASSERT_NE(read, nullptr);
  Type(read, IDC_ATTR_ATTRIBUTE, "63");  // no such attribute
  SeenBox seen;
  EXPECT_EQ(ClickAnswered(read, IDOK, &seen), 1);
  char expected[1000] = "";
  char format[1000] = "";
  persist::LoadResString(IDS_ATTR_ACCESS_FAILED, format, sizeof format);
  // The slave names no additional code (FF hex); the general code comes with
  // its name from the generated table.
  std::snprintf(expected, sizeof expected, format,
                "14 hex (attribute not supported), additional code FF");
  EXPECT_EQ(seen.text, expected);
  EXPECT_EQ(Text(read, IDC_ATTR_RESULT), "");

  Type(read, IDC_ATTR_ATTRIBUTE, "7");
  Click(read, IDC_ATTR_TYPE_SHORT_STRING);
  EXPECT_EQ(ClickAnswered(read, IDOK, nullptr), 0);
  EXPECT_EQ(Text(read, IDC_ATTR_RESULT), "Sim");
}

// Service mode: the Attribute ID field holds the service, which goes out
// with class and instance and the raw bytes of Send Value but no attribute
// byte; the response bytes are shown in the "Response" box.
TEST_F(AttrDialogs, ServiceModeSendsTheServiceAndShowsTheResponse) {
  StartProgram(true);
  Menu(IDM_WRITE_ATTR);
  HWND write = WriteDlg();
  ASSERT_NE(write, nullptr);
  Click(write, IDC_ATTR_SERVICE);
  Type(write, IDC_ATTR_ATTRIBUTE, "1");  // Get_Attributes_All of the identity
  Type(write, IDC_ATTR_SEND_VALUE, "");
  TheSim().traceClear();
  SeenBox seen;
  ASSERT_EQ(ClickAnswered(write, IDOK, &seen), 1);
  EXPECT_EQ(seen.caption, "Response");
  EXPECT_FALSE(seen.hasCancel);
  // Vendor, device type, product code, revision, status (owned), serial,
  // then the name as a SHORT_STRING.
  EXPECT_EQ(seen.text, "20 05 07 00 E9 03 02 0A 01 00 01 00 00 80 03 53 69 6D hex");
  ASSERT_FALSE(ExplicitRequests().empty());
  EXPECT_EQ(ExplicitRequests().back(), "01 01 01 ");
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), "hex");
  HoldForPicture("service");

  // With data: 4B in hexadecimal is the service, the raw bytes follow (the
  // link layer sends this code through the unconnected port, as it does
  // every Allocate). The assembly knows no such service and says so.
  Type(write, IDC_ATTR_CLASS, "4");
  Type(write, IDC_ATTR_INSTANCE, "96");
  Type(write, IDC_ATTR_ATTRIBUTE, "4B");
  Type(write, IDC_ATTR_SEND_VALUE, "a1 b2");
  TheSim().traceClear();
  seen = SeenBox{};
  EXPECT_EQ(ClickAnswered(write, IDOK, &seen), 1);
  EXPECT_NE(seen.text.find("08 hex"), std::string::npos) << seen.text;
  ASSERT_FALSE(ExplicitRequests().empty());
  EXPECT_EQ(ExplicitRequests().back(), "4B 04 96 A1 B2 ");
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), "A1 B2 hex");
  EXPECT_EQ(Text(write, IDC_ATTR_ATTRIBUTE), "4B hex");
}

}  // namespace
