// The Read Attribute and Write Attribute dialogs in the running program:
// started in-process from the real language library, opened through the
// main window's menu, clicked and typed into as a user would.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/app_state.h"
#include "persist/settings.h"
#include "resource.h"
#include "ui/shell.h"

namespace {

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

// Runs the message loop by hand, as it runs while communication is
// inactive: each message, then one idle step. True when WM_QUIT came.
bool Pump() {
  MSG msg;
  for (int i = 0; i < 10000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) return true;
    ui::ProcessMessage(&msg);
    ui::IdleStep();
  }
  return false;
}

// A menu command of the main window, as the menu posts it.
void Menu(int id) {
  PostMessageA(MainWnd(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
  Pump();
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

// The program with a settings file of its own: the simulated adapter's
// port, the slave's address and, when asked, the Service box.
class AttrDialogs : public ::testing::Test {
 protected:
  void StartProgram(bool serviceShow) {
    char path[persist::SETTINGS_PATH_SIZE];
    ASSERT_TRUE(persist::GetSettingsPath(path));
    DeleteFileA(path);
    WritePrivateProfileStringA("Tarnix", "PrinterPort", "4096", path);
    WritePrivateProfileStringA("Tarnix", "Baud", "0", path);
    WritePrivateProfileStringA("Tarnix", "CurrAdr", "63", path);
    if (serviceShow) WritePrivateProfileStringA("Service", "Show", "1", path);
    ASSERT_EQ(ui::InitInstance(GetModuleHandleA(nullptr), SW_SHOWNORMAL), 1);
    ASSERT_NE(MainWnd(), nullptr);
    Pump();
    ASSERT_EQ(g_App.MainReady, 1);
    ASSERT_EQ(g_App.ServiceShow, serviceShow ? 1 : 0);
  }

  void TearDown() override {
    if (MainWnd()) {
      PostMessageA(MainWnd(), WM_CLOSE, 0, 0);
      bool quit = false;
      for (int i = 0; i < 100 && !quit; ++i) quit = Pump();
      EXPECT_TRUE(quit) << "the exit sequence did not end the loop";
    }
    ui::ReleaseResources();
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
  Type(read, IDC_ATTR_INSTANCE, "x");  // unreadable: 0
  Type(read, IDC_ATTR_ATTRIBUTE, " 300 dec");

  Click(read, IDC_ATTR_IDS_HEX);
  EXPECT_EQ(Text(read, IDC_ATTR_CLASS), "1A hex");
  EXPECT_EQ(Text(read, IDC_ATTR_INSTANCE), "0 hex");
  EXPECT_EQ(Text(read, IDC_ATTR_ATTRIBUTE), "12C hex");
  Click(read, IDC_ATTR_IDS_HEX);
  EXPECT_EQ(Text(read, IDC_ATTR_CLASS), "26 dec");
  EXPECT_EQ(Text(read, IDC_ATTR_ATTRIBUTE), "300 dec");
  EXPECT_EQ(g_App.ReadAttrPending, 0);
  EXPECT_EQ(g_App.AdapterOpen, 0) << "a radix switch reached the bus";

  // A Read not yet carried out is withdrawn by a switch before the idle step.
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
  EXPECT_EQ(Text(write, IDC_ATTR_ATTRIBUTE), "12C hex");

  // In the Write dialog the switch takes and echoes Send Value as a Write
  // would, and withdraws a write not yet carried out.
  Click(write, IDC_ATTR_TYPE_INT);
  EXPECT_TRUE(Enabled(write, IDC_ATTR_VALUE_HEX));
  Click(write, IDC_ATTR_VALUE_HEX);  // decimal values
  Type(write, IDC_ATTR_SEND_VALUE, "70000");
  SendMessageA(GetDlgItem(write, IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(g_App.WriteAttrPending, 1);
  Type(write, IDC_ATTR_SEND_VALUE, "-2");
  SendMessageA(GetDlgItem(write, IDC_ATTR_IDS_HEX), BM_CLICK, 0, 0);
  EXPECT_EQ(g_App.WriteAttrPending, 0);
  ui::IdleStep();
  EXPECT_EQ(g_App.AdapterOpen, 0) << "the withdrawn write reached the bus";
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), "-2 dec");
  EXPECT_EQ(Text(write, IDC_ATTR_ATTRIBUTE), "300 dec");
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
      {IDC_ATTR_TYPE_RAW, true, "a1 bcd 73", "A1 hex", "A1 "},
      {IDC_ATTR_TYPE_RAW, true, "", "hex", ""},
      {IDC_ATTR_TYPE_BOOL, true, "256", "1", "01 "},
      {IDC_ATTR_TYPE_SINT, true, "FF", "FF hex", "FF "},
      {IDC_ATTR_TYPE_SINT, false, "-1", "-1 dec", "FF "},
      {IDC_ATTR_TYPE_INT, true, "12 dec", "12 hex", "12 00 "},
      {IDC_ATTR_TYPE_UDINT, false, "4000000000", "4000000000 dec", "00 28 6B EE "},
      {IDC_ATTR_TYPE_DINT, false, "", "0 dec", "00 00 00 00 "},
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

  // A STRING longer than one write can carry goes out cut, and the field
  // shows exactly the part that goes out.
  Click(write, IDC_ATTR_TYPE_STRING);
  const std::string typed(2999, 'q');
  Type(write, IDC_ATTR_SEND_VALUE, typed.c_str());
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE).size(), 2999u);
  SendMessageA(GetDlgItem(write, IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(g_App.WriteValueLength, 255);
  EXPECT_EQ(Text(write, IDC_ATTR_SEND_VALUE), std::string(255, 'q'));
  WithdrawWrite(write);

  // Typing is limited to what a field holds.
  EXPECT_EQ(SendDlgItemMessageA(write, IDC_ATTR_SEND_VALUE, EM_GETLIMITTEXT, 0, 0), 2999);
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

  Type(write, IDC_ATTR_ATTRIBUTE, "1FF");
  Type(write, IDC_ATTR_SEND_VALUE, "5");
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

}  // namespace
