// The program's windows under Wine, in-process: the real shell, main window,
// data views and About box, created from the real language libraries beside
// the test, driven with the messages that a user's clicks and keys produce.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "persist/settings.h"
#include "resource.h"
#include "ui/about_box.h"
#include "ui/data_views.h"
#include "ui/main_window.h"
#include "ui/maker_text.h"
#include "ui/shell.h"
#include "ui_test_support.h"

namespace {

using app::g_App;
using uitest::ControlRect;
using uitest::ControlText;
using uitest::DialogUnits;
using uitest::ListCount;
using uitest::ListLine;

constexpr const char* INPUT_LOG = "indata.log";

std::string ProgramFolder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path);
  return folder.substr(0, folder.rfind('\\') + 1);
}

std::string ModuleFileName(void* module) {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(static_cast<HMODULE>(module), path, sizeof path);
  return path;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int CountOf(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    uitest::PumpMessages();
    uitest::SetLangValue(0, nullptr, 0);
    uitest::WriteSettingsFile("");
    DeleteFileA(INPUT_LOG);
    RemoveDirectoryA(INPUT_LOG);
  }

  void TearDown() override {
    uitest::ExitProgram();
    uitest::SetLangValue(0, nullptr, 0);
  }

  void Start() {
    ASSERT_EQ(ui::InitInstance(GetModuleHandleA(nullptr), SW_SHOW), 1);
    main_ = static_cast<HWND>(g_App.hMainWnd);
    ASSERT_NE(main_, nullptr);
    uitest::PumpMessages();
  }

  // A control's notification, as the control sends it.
  void Notify(int id, WORD code) {
    SendMessageA(main_, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(main_, id)));
  }

  // A menu command.
  void Menu(int id) { SendMessageA(main_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

  void Click(int id, bool checked) {
    CheckDlgButton(main_, id, checked ? BST_CHECKED : BST_UNCHECKED);
    Notify(id, BN_CLICKED);
  }

  // A slave with `count` output bytes, as communication start leaves it.
  void GiveOutputs(uint32_t count) {
    g_App.Io->Output.Length = count;
    g_App.OutputEdit.Length = count;
    ui::RefreshDataViews(main_, g_App.Io, 1);
  }

  void SelectOutput(int line) {
    SendDlgItemMessageA(main_, IDC_MAIN_OUTPUT_LIST, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
    Notify(IDC_MAIN_OUTPUT_LIST, LBN_SELCHANGE);
  }

  std::string ComboSelection(int id) {
    LRESULT index = SendDlgItemMessageA(main_, id, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return "(none)";
    char text[64] = "";
    SendDlgItemMessageA(main_, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(text));
    return text;
  }

  bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(main_, id)) != 0; }
  bool Visible(int id) { return IsWindowVisible(GetDlgItem(main_, id)) != 0; }
  bool MenuGreyed(int id) {
    return (GetMenuState(GetMenu(main_), id, MF_BYCOMMAND) & MF_GRAYED) != 0;
  }

  void ActivateCommunication() {
    ui::SetCommActive(main_, 1);
    ui::UpdateControlStates(main_);
  }

  HWND main_ = nullptr;
};

int IniInt(const std::string& path, const char* section, const char* key) {
  return static_cast<int>(GetPrivateProfileIntA(section, key, -12345, path.c_str()));
}

std::vector<std::string> IniSections(const std::string& path) {
  char names[1024] = "";
  DWORD length = GetPrivateProfileSectionNamesA(names, sizeof names, path.c_str());
  std::vector<std::string> sections;
  for (const char* p = names; p < names + length && *p; p += std::strlen(p) + 1) {
    sections.push_back(p);
  }
  return sections;
}

TEST_F(Program, StartsWithItsStartUpValuesAndDefaultSettings) {
  Start();
  char className[32] = "";
  GetClassNameA(main_, className, sizeof className);
  EXPECT_STREQ(className, "Tarnix");
  EXPECT_EQ(g_App.MainReady, 1);
  EXPECT_EQ(g_App.CommActive, 0);
  EXPECT_EQ(g_App.PendingCommand, app::CMD_NONE);
  EXPECT_EQ(g_App.LastBusStatus, -1);
  EXPECT_EQ(g_App.ValueInHex, 1);
  EXPECT_EQ(g_App.IdsInHex, 1);
  EXPECT_EQ(g_App.AttrClassId, 1);
  EXPECT_EQ(g_App.WriteValueLength, 1);
  ASSERT_NE(g_App.Io, nullptr);
  EXPECT_EQ(g_App.Io->Input.Length + g_App.Io->Output.Length, 0u);
  EXPECT_NE(g_App.hAccelEdit, nullptr);
  EXPECT_NE(g_App.hAccelMain, nullptr);
  EXPECT_NE(g_App.hAppIcon, nullptr);
  EXPECT_EQ(std::string(g_App.HelpFile), ProgramFolder() + "tarnix.chm");
  EXPECT_TRUE(EndsWith(ModuleFileName(g_App.hResDll), "\\tarnres.dll"));

  // No settings file: LPT1, 125 kBaud, address 63.
  EXPECT_EQ(ComboSelection(IDC_MAIN_PORT), "LPT1 (0378)");
  EXPECT_EQ(ComboSelection(IDC_MAIN_BAUD), "125 kBaud");
  EXPECT_EQ(ControlText(main_, IDC_MAIN_ADDRESS), "63");

  // The serial-line adapter's COM1 .. COM16 after the vendor adapters' rows.
  std::vector<std::string> ports = {"USB", "PCI", "LPT1 (0378)", "LPT2 (0278)", "LPT3 (03BC)"};
  std::vector<LRESULT> codes = {4096, 4097, 0, 1, 2};
  for (int com = 1; com <= 16; ++com) {
    ports.push_back("Serial COM" + std::to_string(com));
    codes.push_back(0x2000 + com);
  }
  ASSERT_EQ(SendDlgItemMessageA(main_, IDC_MAIN_PORT, CB_GETCOUNT, 0, 0), 21);
  for (int i = 0; i < 21; ++i) {
    char text[64] = "";
    SendDlgItemMessageA(main_, IDC_MAIN_PORT, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(text, ports[i]);
    EXPECT_EQ(SendDlgItemMessageA(main_, IDC_MAIN_PORT, CB_GETITEMDATA, i, 0), codes[i]);
  }
  const char* bauds[] = {"125 kBaud", "250 kBaud", "500 kBaud"};
  ASSERT_EQ(SendDlgItemMessageA(main_, IDC_MAIN_BAUD, CB_GETCOUNT, 0, 0), 3);
  for (int i = 0; i < 3; ++i) {
    char text[64] = "";
    SendDlgItemMessageA(main_, IDC_MAIN_BAUD, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, bauds[i]);
  }

  char caption[64] = "";
  GetWindowTextA(main_, caption, sizeof caption);
  EXPECT_STREQ(caption, "Quillon");
  RECT placed;
  GetWindowRect(main_, &placed);
  EXPECT_EQ(placed.left, (GetSystemMetrics(SM_CXSCREEN) - (placed.right - placed.left)) / 2);
  EXPECT_EQ(placed.top, (GetSystemMetrics(SM_CYSCREEN) - (placed.bottom - placed.top)) / 2);
  char maker[ui::MAKER_TEXT_SIZE];
  ui::MakerLine(maker, sizeof maker);
  EXPECT_EQ(ControlText(main_, IDC_MAIN_MAKER), maker);
  EXPECT_EQ(ControlText(main_, IDC_MAIN_BUS_STATUS), "");
  for (int bit = 0; bit < 8; ++bit) {
    const std::string want = "&" + std::to_string(bit);
    EXPECT_EQ(ControlText(main_, IDC_MAIN_BIT0_CHECK + bit), want);
    EXPECT_EQ(ControlText(main_, IDC_MAIN_BIT0_BUTTON + bit), want);
    // No output bytes: nothing to edit.
    EXPECT_TRUE(Visible(IDC_MAIN_BIT0_CHECK + bit));
    EXPECT_FALSE(Visible(IDC_MAIN_BIT0_BUTTON + bit));
    EXPECT_FALSE(Enabled(IDC_MAIN_BIT0_CHECK + bit));
  }
  EXPECT_FALSE(Enabled(IDC_MAIN_HEX));
  // Byte 0 shown, as after a stop: the field is never blank.
  EXPECT_EQ(ControlText(main_, IDC_MAIN_HEX), "00");
  EXPECT_EQ(ListCount(main_, IDC_MAIN_OUTPUT_LIST), 0);
  EXPECT_FALSE(Visible(IDC_MAIN_LOG));
  EXPECT_EQ(IsDlgButtonChecked(main_, IDC_MAIN_COMM_ACTIVE), BST_UNCHECKED);

  // The file written at exit holds the Tarnix section alone.
  EXPECT_EQ(uitest::ExitProgram(), 0);
  EXPECT_EQ(g_App.hMainWnd, nullptr);
  const std::string path = uitest::SettingsPath();
  EXPECT_EQ(IniSections(path), std::vector<std::string>{"Tarnix"});
  EXPECT_EQ(IniInt(path, "Tarnix", "PrinterPort"), 0);
  EXPECT_EQ(IniInt(path, "Tarnix", "Baud"), 0);
  EXPECT_EQ(IniInt(path, "Tarnix", "CurrAdr"), 63);
}

TEST_F(Program, SettingsSurviveARestartAndTheUsersSectionsStayAsTheyAre) {
  const std::string userSections = "[Log]\r\nInputData=1\r\n\r\n[Service]\r\nShow=1\r\n";
  uitest::WriteSettingsFile(userSections);
  Start();
  EXPECT_EQ(g_App.LogInputData, 1);
  EXPECT_EQ(g_App.ServiceShow, 1);
  EXPECT_TRUE(Visible(IDC_MAIN_LOG));

  SendDlgItemMessageA(main_, IDC_MAIN_PORT, CB_SETCURSEL, 0, 0);
  Notify(IDC_MAIN_PORT, CBN_SELCHANGE);
  SendDlgItemMessageA(main_, IDC_MAIN_BAUD, CB_SETCURSEL, 2, 0);
  Notify(IDC_MAIN_BAUD, CBN_SELCHANGE);
  SetDlgItemTextA(main_, IDC_MAIN_ADDRESS, "12");
  Notify(IDC_MAIN_ADDRESS, EN_KILLFOCUS);
  EXPECT_EQ(g_App.PrinterPort, 4096);
  EXPECT_EQ(g_App.BaudIndex, 2);
  EXPECT_EQ(g_App.CurrAdr, 12);

  // Nothing is written before the exit.
  const std::string path = uitest::SettingsPath();
  EXPECT_EQ(uitest::ReadTextFile(path), userSections);
  EXPECT_EQ(uitest::ExitProgram(), 0);
  EXPECT_EQ(IniInt(path, "Tarnix", "PrinterPort"), 4096);
  EXPECT_EQ(IniInt(path, "Tarnix", "Baud"), 2);
  EXPECT_EQ(IniInt(path, "Tarnix", "CurrAdr"), 12);
  const std::string written = uitest::ReadTextFile(path);
  EXPECT_NE(written.find("[Log]\r\nInputData=1\r\n"), std::string::npos) << written;
  EXPECT_NE(written.find("[Service]\r\nShow=1\r\n"), std::string::npos) << written;

  Start();
  EXPECT_EQ(ComboSelection(IDC_MAIN_PORT), "USB");
  EXPECT_EQ(ComboSelection(IDC_MAIN_BAUD), "500 kBaud");
  EXPECT_EQ(ControlText(main_, IDC_MAIN_ADDRESS), "12");
}

TEST_F(Program, HandEditedValuesOutOfRangeStartWithASaneSelection) {
  uitest::WriteSettingsFile("[Tarnix]\r\nPrinterPort=3\r\nBaud=7\r\nCurrAdr=99\r\n");
  Start();
  EXPECT_EQ(ComboSelection(IDC_MAIN_PORT), "(none)");
  EXPECT_EQ(g_App.PrinterPort, 3);
  EXPECT_EQ(ComboSelection(IDC_MAIN_BAUD), "125 kBaud");
  EXPECT_EQ(ControlText(main_, IDC_MAIN_ADDRESS), "63");

  // A list left without selection is refilled from the settings.
  Notify(IDC_MAIN_PORT, CBN_SELCHANGE);
  EXPECT_EQ(g_App.PrinterPort, 3);
  SendDlgItemMessageA(main_, IDC_MAIN_BAUD, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  Notify(IDC_MAIN_BAUD, CBN_SELCHANGE);
  EXPECT_EQ(ComboSelection(IDC_MAIN_BAUD), "125 kBaud");

  // Choosing an entry replaces the stored code.
  SendDlgItemMessageA(main_, IDC_MAIN_PORT, CB_SETCURSEL, 1, 0);
  Notify(IDC_MAIN_PORT, CBN_SELCHANGE);
  EXPECT_EQ(g_App.PrinterPort, 4097);
}

void StartAndExit(void* context) {
  int* exitCode = static_cast<int*>(context);
  if (ui::InitInstance(GetModuleHandleA(nullptr), SW_SHOW)) *exitCode = uitest::ExitProgram();
}

TEST_F(Program, SettingsFolderThatCannotBeMadeLosesNothingAndSaysNothing) {
  std::string folder = uitest::SettingsPath();
  folder = folder.substr(0, folder.rfind('\\'));
  DeleteFileA(uitest::SettingsPath().c_str());
  ASSERT_TRUE(RemoveDirectoryA(folder.c_str()));
  {
    // A file where the folder should be.
    HANDLE blocker = CreateFileA(folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(blocker, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(blocker, "mine", 4, &written, nullptr);
    CloseHandle(blocker);
  }
  int exitCode = -1;
  const int boxes = uitest::WithAnsweredDialog(IDOK, nullptr, nullptr, StartAndExit, &exitCode);
  EXPECT_EQ(boxes, 0);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(g_App.CurrAdr, 63);
  EXPECT_EQ(uitest::ReadTextFile(folder), "mine");
  DeleteFileA(folder.c_str());
}

TEST_F(Program, LanguageComesFromTheRegistryValue) {
  const DWORD number = 1031;
  // "1031" in a value longer than the 100 bytes read: the read fails.
  char tooLong[150] = "1031";
  struct Case {
    const char* what;
    DWORD type;
    const void* data;
    DWORD size;
    bool german;
  };
  const Case cases[] = {
      {"\"1031\"", REG_SZ, "1031", 5, true},
      {"\"1031 \"", REG_SZ, "1031 ", 6, false},
      {"\"1033\"", REG_SZ, "1033", 5, false},
      {"number 1031", REG_DWORD, &number, sizeof number, false},
      {"\"1031\" as an expandable string", REG_EXPAND_SZ, "1031", 5, false},
      {"\"1031\" in 150 bytes", REG_SZ, tooLong, sizeof tooLong, false},
      {"no key", 0, nullptr, 0, false},
  };
  for (const Case& c : cases) {
    uitest::SetLangValue(c.type, c.data, c.size);
    Start();
    EXPECT_EQ(g_App.LangGerman, c.german ? 1 : 0) << c.what;
    EXPECT_TRUE(
        EndsWith(ModuleFileName(g_App.hResDll), c.german ? "\\tarnresd.dll" : "\\tarnres.dll"))
        << c.what;
    EXPECT_EQ(std::string(g_App.HelpFile),
              ProgramFolder() + (c.german ? "tarnixd.chm" : "tarnix.chm"))
        << c.what;
    uitest::ExitProgram();
  }
}

// A serial port chosen in the list is what the settings file keeps, and
// the list opens wide enough for the longest row in either language.
TEST_F(Program, SerialPortRowsInBothLanguages) {
  struct Case {
    const char* langId;
    int port;
    const char* row;
  } cases[] = {
      {"1033", 0x2001, "Serial COM1"},
      {"1031", 0x2010, "Seriell COM16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    uitest::SetLangValue(REG_SZ, c.langId, 5);
    uitest::WriteSettingsFile("[Tarnix]\r\nPrinterPort=" + std::to_string(c.port) + "\r\n");
    Start();
    EXPECT_EQ(ComboSelection(IDC_MAIN_PORT), c.row);
    HWND list = GetDlgItem(main_, IDC_MAIN_PORT);
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0)));
    SIZE text{};
    GetTextExtentPoint32A(dc, c.row, lstrlenA(c.row), &text);
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    EXPECT_GT(SendMessageA(list, CB_GETDROPPEDWIDTH, 0, 0), text.cx);

    // Another COM port chosen goes into the file at exit.
    SendDlgItemMessageA(main_, IDC_MAIN_PORT, CB_SETCURSEL, 5 + 2, 0);
    Notify(IDC_MAIN_PORT, CBN_SELCHANGE);
    EXPECT_EQ(g_App.PrinterPort, 0x2003);
    EXPECT_EQ(uitest::ExitProgram(), 0);
    EXPECT_EQ(IniInt(uitest::SettingsPath(), "Tarnix", "PrinterPort"), 0x2003);
  }
}

// The port list opens tall enough to show a dozen of its 21 rows or more
// at once, within the main window, in both languages.
TEST_F(Program, PortListOpensWithManyRowsVisible) {
  for (const char* langId : {"1033", "1031"}) {
    SCOPED_TRACE(langId);
    uitest::SetLangValue(REG_SZ, langId, 5);
    Start();
    HWND combo = GetDlgItem(main_, IDC_MAIN_PORT);
    ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 21);
    SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetComboBoxInfo(combo, &info));
    RECT list{};
    GetClientRect(info.hwndList, &list);
    const LRESULT row = SendMessageA(info.hwndList, LB_GETITEMHEIGHT, 0, 0);
    ASSERT_GT(row, 0);
    EXPECT_GE(list.bottom / row, 12) << "rows shown: " << list.bottom / row;
    RECT dropped{};
    RECT window{};
    GetWindowRect(info.hwndList, &dropped);
    GetWindowRect(main_, &window);
    EXPECT_LE(dropped.bottom, window.bottom);
    SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_EQ(uitest::ExitProgram(), 0);
  }
}

TEST_F(Program, SecondStartFindsTheFirstAndEndsWithoutInitialising) {
  Start();
  g_App.CurrAdr = 17;  // would be reset by a second initialisation
  EXPECT_TRUE(ui::BringRunningInstanceForward());
  EXPECT_EQ(ui::ProgramMain(GetModuleHandleA(nullptr), SW_SHOW), 0);
  EXPECT_EQ(g_App.hMainWnd, main_);
  EXPECT_EQ(g_App.CurrAdr, 17);
  EXPECT_EQ(g_App.MainReady, 1);
  EXPECT_TRUE(IsWindow(main_));
}

TEST_F(Program, SecondStartBringsTheRunningWindowOrItsDialogToTheFront) {
  Start();
  // Another program's window in front.
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                               nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  SetForegroundWindow(other);
  ASSERT_EQ(GetForegroundWindow(), other);
  EXPECT_EQ(ui::ProgramMain(GetModuleHandleA(nullptr), SW_SHOW), 0);
  EXPECT_EQ(GetForegroundWindow(), main_);

  // With a dialog open, the dialog comes up with it.
  Menu(IDM_READ_ATTR);
  ui::IdleStep();
  HWND read = static_cast<HWND>(g_App.hReadAttrDlg);
  ASSERT_NE(read, nullptr);
  SetForegroundWindow(other);
  ASSERT_EQ(GetForegroundWindow(), other);
  EXPECT_EQ(ui::ProgramMain(GetModuleHandleA(nullptr), SW_SHOW), 0);
  EXPECT_EQ(GetForegroundWindow(), read);
  DestroyWindow(other);
}

// Closes the main window as soon as it first activates, as a user would.
LRESULT CALLBACK CloseMainOnActivate(int code, WPARAM wParam, LPARAM lParam) {
  HWND window = reinterpret_cast<HWND>(wParam);
  char className[32] = "";
  if (code == HCBT_ACTIVATE && GetClassNameA(window, className, sizeof className) &&
      lstrcmpA(className, MAIN_WINDOW_CLASS) == 0) {
    PostMessageA(window, WM_CLOSE, 0, 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(Program, WholeRunStartsLoopsAndReleasesEverythingInOrder) {
  uitest::WriteSettingsFile("[Tarnix]\r\nCurrAdr=21\r\n");
  HHOOK hook = SetWindowsHookExA(WH_CBT, CloseMainOnActivate, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  EXPECT_EQ(ui::ProgramMain(GetModuleHandleA(nullptr), SW_SHOW), 0);
  UnhookWindowsHookEx(hook);
  EXPECT_EQ(g_App.hMainWnd, nullptr);
  EXPECT_EQ(g_App.MainReady, 0);
  EXPECT_EQ(g_App.hResDll, nullptr);
  EXPECT_EQ(g_App.Io, nullptr);
  EXPECT_EQ(g_App.hAppIcon, nullptr);
  EXPECT_EQ(FindWindowA(MAIN_WINDOW_CLASS, nullptr), nullptr);
  EXPECT_EQ(IniInt(uitest::SettingsPath(), "Tarnix", "CurrAdr"), 21);
}

TEST_F(Program, AddressFieldTakesOnlyWholeNumbersUpTo63) {
  Start();
  struct Case {
    const char* typed;
    int address;  // CurrAdr afterwards
    const char* shown;
  };
  const Case cases[] = {
      {"5", 5, "5"},    {"64", 5, "5"}, {"ab", 5, "5"},
      {"12ab", 5, "5"}, {"", 5, "5"},   {"-1", 5, "5"},
      {"63", 63, "63"}, {"0", 0, "0"},  {"99999999999999999999", 0, "0"},
  };
  for (const Case& c : cases) {
    SetDlgItemTextA(main_, IDC_MAIN_ADDRESS, c.typed);
    Notify(IDC_MAIN_ADDRESS, EN_KILLFOCUS);
    EXPECT_EQ(g_App.CurrAdr, c.address) << '"' << c.typed << '"';
    EXPECT_EQ(ControlText(main_, IDC_MAIN_ADDRESS), c.shown) << '"' << c.typed << '"';
  }
  // Pasted text is no different: a long run of digits ending in a valid
  // address is still too long to be one.
  SetDlgItemTextA(main_, IDC_MAIN_ADDRESS, (std::string(120, '0') + "7").c_str());
  Notify(IDC_MAIN_ADDRESS, EN_KILLFOCUS);
  EXPECT_EQ(g_App.CurrAdr, 0);
}

void SendSearchCommand(void* window) {
  SendMessageA(static_cast<HWND>(window), WM_COMMAND, MAKEWPARAM(IDM_SEARCH_SLAVES, 0), 0);
}

TEST_F(Program, EnableRulesFollowTheCommunicationState) {
  uitest::WriteSettingsFile("[Log]\r\nInputData=1\r\n");
  Start();
  for (int id : {IDM_SEARCH_SLAVES, IDM_SEARCH_ALL_RATES, IDM_CHANGE_ADDRESS, IDM_START})
    EXPECT_FALSE(MenuGreyed(id)) << id;
  EXPECT_TRUE(MenuGreyed(IDM_STOP));
  for (int id : {IDC_MAIN_PORT, IDC_MAIN_BAUD, IDC_MAIN_ADDRESS}) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_TRUE(Visible(IDC_MAIN_LOG));
  EXPECT_FALSE(Enabled(IDC_MAIN_LOG));

  SetFocus(GetDlgItem(main_, IDC_MAIN_ADDRESS));
  ActivateCommunication();
  EXPECT_EQ(IsDlgButtonChecked(main_, IDC_MAIN_COMM_ACTIVE), BST_CHECKED);
  for (int id : {IDM_SEARCH_SLAVES, IDM_SEARCH_ALL_RATES, IDM_CHANGE_ADDRESS, IDM_START})
    EXPECT_TRUE(MenuGreyed(id)) << id;
  EXPECT_FALSE(MenuGreyed(IDM_STOP));
  for (int id : {IDM_READ_ATTR, IDM_WRITE_ATTR, IDM_EXIT, IDM_HELP_CONTENTS, IDM_ABOUT}) {
    EXPECT_FALSE(MenuGreyed(id)) << id;
  }
  for (int id : {IDC_MAIN_PORT, IDC_MAIN_BAUD, IDC_MAIN_ADDRESS}) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(Enabled(IDC_MAIN_LOG));
  EXPECT_EQ(GetFocus(), GetDlgItem(main_, IDC_MAIN_OUTPUT_LIST));

  // Search Slaves does nothing while communication runs, nor while an
  // exchange runs.
  EXPECT_EQ(uitest::WithAnsweredDialog(IDCANCEL, nullptr, nullptr, SendSearchCommand, main_), 0);
  ui::SetCommActive(main_, 0);
  g_App.CyclicBusy = 1;
  EXPECT_EQ(uitest::WithAnsweredDialog(IDCANCEL, nullptr, nullptr, SendSearchCommand, main_), 0);
  g_App.CyclicBusy = 0;
  // It opens now; without a driver here its scan also reports the adapter.
  EXPECT_GE(uitest::WithAnsweredDialog(IDCANCEL, nullptr, nullptr, SendSearchCommand, main_), 1);
}

TEST_F(Program, ExitRunsOnlyFromTheIdleStepAndNeverWhileAnExchangeRuns) {
  Start();
  SetDlgItemTextA(main_, IDC_MAIN_ADDRESS, "5");
  SendMessageA(main_, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_EQ(g_App.PendingCommand, app::CMD_EXIT);
  EXPECT_EQ(g_App.CurrAdr, 5);

  g_App.CyclicBusy = 1;
  EXPECT_EQ(ui::IdleStep(), 1);
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_EQ(g_App.PendingCommand, app::CMD_EXIT);

  g_App.CyclicBusy = 0;
  EXPECT_EQ(ui::IdleStep(), 1);
  EXPECT_FALSE(IsWindow(main_));
  EXPECT_EQ(g_App.hMainWnd, nullptr);
  EXPECT_EQ(g_App.MainReady, 0);
  EXPECT_EQ(g_App.PendingCommand, app::CMD_NONE);
  EXPECT_EQ(ui::IdleStep(), 0);
  // Saved before the window went.
  EXPECT_EQ(IniInt(uitest::SettingsPath(), "Tarnix", "CurrAdr"), 5);
  MSG quit;
  EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(Program, EscAndMenuExitEndTheLoopAlsoWithCommunicationActive) {
  for (int command : {IDCANCEL, IDM_EXIT}) {
    Start();
    ActivateCommunication();
    for (int i = 0; i < 3; ++i) PostMessageA(main_, WM_NULL, 0, 0);
    PostMessageA(main_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    EXPECT_EQ(ui::RunMessageLoop(), 0) << command;
    EXPECT_FALSE(IsWindow(main_)) << command;
    uitest::ExitProgram();
  }
}

TEST_F(Program, StopWaitsForTheIdleStepAndTakesTheAddressFirst) {
  Start();
  SetDlgItemTextA(main_, IDC_MAIN_ADDRESS, "9");
  Menu(IDM_STOP);
  EXPECT_EQ(g_App.PendingCommand, app::CMD_STOP_COMM);
  EXPECT_EQ(g_App.CurrAdr, 63);
  g_App.CyclicBusy = 1;
  ui::IdleStep();
  EXPECT_EQ(g_App.PendingCommand, app::CMD_STOP_COMM);
  g_App.CyclicBusy = 0;
  ui::IdleStep();
  EXPECT_EQ(g_App.PendingCommand, app::CMD_NONE);
  EXPECT_EQ(g_App.CurrAdr, 9);
  EXPECT_EQ(g_App.AdapterOpen, 0);
}

TEST_F(Program, AttributeDialogsOpenFromTheIdleStepOneAtATime) {
  Start();
  Menu(IDM_READ_ATTR);
  EXPECT_EQ(g_App.hReadAttrDlg, nullptr);
  ui::IdleStep();
  HWND read = static_cast<HWND>(g_App.hReadAttrDlg);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(GetWindow(read, GW_OWNER), main_);

  // Near the top of the main window, centred across it.
  RECT owner, dialog;
  GetWindowRect(main_, &owner);
  GetWindowRect(read, &dialog);
  EXPECT_NEAR(dialog.top, owner.top + 50, 1);
  EXPECT_NEAR(dialog.left + dialog.right, owner.left + owner.right, 1);

  Menu(IDM_READ_ATTR);
  ui::IdleStep();
  EXPECT_EQ(g_App.hReadAttrDlg, read);

  Menu(IDM_WRITE_ATTR);
  ui::IdleStep();
  HWND write = static_cast<HWND>(g_App.hWriteAttrDlg);
  ASSERT_NE(write, nullptr);
  EXPECT_FALSE(IsWindow(read));
  EXPECT_EQ(g_App.hReadAttrDlg, nullptr);

  SendMessageA(write, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_FALSE(IsWindow(write));
  EXPECT_EQ(g_App.hWriteAttrDlg, nullptr);
}

// Counts the accelerator commands that reach the main window.
WNDPROC mainProc;
int helpCommands;
int enterCommands;

LRESULT CALLBACK CountAccelerators(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && HIWORD(wParam) == 1 && lParam == 0) {
    if (LOWORD(wParam) == IDM_ACCEL_HELP) ++helpCommands;
    if (LOWORD(wParam) == IDM_ACCEL_ENTER) ++enterCommands;
  }
  return CallWindowProcA(mainProc, window, message, wParam, lParam);
}

void PressKey(HWND target, WPARAM key) {
  PostMessageA(target, WM_KEYDOWN, key, 1);
  PostMessageA(target, WM_KEYUP, key, 0xC0000001);
  uitest::PumpMessages();
}

TEST_F(Program, EnterWorksOnlyInTheHexFieldAndF1Everywhere) {
  Start();
  mainProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(main_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountAccelerators)));
  helpCommands = enterCommands = 0;
  GiveOutputs(4);
  SelectOutput(1);

  HWND hex = GetDlgItem(main_, IDC_MAIN_HEX);
  SetFocus(hex);
  SetDlgItemTextA(main_, IDC_MAIN_HEX, "3c");
  PressKey(hex, VK_RETURN);
  EXPECT_EQ(enterCommands, 1);
  EXPECT_EQ(g_App.OutputEdit.Data[1], 0x3C);
  EXPECT_TRUE(IsWindow(main_));

  HWND address = GetDlgItem(main_, IDC_MAIN_ADDRESS);
  SetFocus(address);
  SetDlgItemTextA(main_, IDC_MAIN_HEX, "77");
  PressKey(address, VK_RETURN);
  EXPECT_EQ(enterCommands, 1);
  EXPECT_EQ(g_App.OutputEdit.Data[1], 0x3C);
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_EQ(g_App.PendingCommand, app::CMD_NONE);

  PressKey(address, VK_F1);
  EXPECT_EQ(helpCommands, 1);
  Menu(IDM_READ_ATTR);
  ui::IdleStep();
  HWND read = static_cast<HWND>(g_App.hReadAttrDlg);
  ASSERT_NE(read, nullptr);
  HWND classField = GetDlgItem(read, IDC_ATTR_CLASS);
  SetFocus(classField);
  PressKey(classField, VK_F1);
  EXPECT_EQ(helpCommands, 2);
  // No help file beside the test: help does nothing, the program goes on.
  EXPECT_TRUE(IsWindow(main_));
  SetWindowLongPtrA(main_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(mainProc));
}

// The hex field leaving focus, as the field reports it.
void LeaveHexField(void* main) {
  HWND window = static_cast<HWND>(main);
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_MAIN_HEX, EN_KILLFOCUS),
               reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_MAIN_HEX)));
}

void KeepBoxTexts(HWND box, void* texts) {
  static_cast<std::vector<std::string>*>(texts)->push_back(uitest::StaticTexts(box));
}

std::string HexRefusal(const std::string& shown, const char* kept) {
  char text[1000];
  std::snprintf(text, sizeof text, uitest::StringOf(IDS_HEX_REFUSED).c_str(), shown.c_str(), kept);
  return text;
}

// Whatever is not exactly one byte is refused with a box that names the text
// and the value the byte keeps; the field shows that value again.
TEST_F(Program, HexFieldRefusesMoreThanAByteAndTakesA5) {
  Start();
  GiveOutputs(3);
  SelectOutput(1);
  EXPECT_TRUE(Enabled(IDC_MAIN_HEX));

  const std::string pasted = std::string(150, '0') + "5";
  for (const std::string& refused :
       {std::string("1FF"), std::string(""), std::string("zz"), std::string("-1"),
        std::string("AZZ"), std::string("1 2"), pasted}) {
    SCOPED_TRACE(refused.substr(0, 20));
    SetDlgItemTextA(main_, IDC_MAIN_HEX, refused.c_str());
    std::vector<std::string> boxes;
    EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, KeepBoxTexts, &boxes, LeaveHexField, main_), 1);
    ASSERT_EQ(boxes.size(), 1u);
    const std::string shown = refused.size() > 28 ? refused.substr(0, 28) + "..." : refused;
    EXPECT_EQ(boxes[0], HexRefusal(shown, "00"));
    EXPECT_EQ(g_App.OutputEdit.Data[1], 0);
    EXPECT_EQ(ControlText(main_, IDC_MAIN_HEX), "00");
  }

  // Enter in the field: one box, although the box takes the focus from it.
  HWND hex = GetDlgItem(main_, IDC_MAIN_HEX);
  SetFocus(hex);
  SetDlgItemTextA(main_, IDC_MAIN_HEX, "AZZ");
  std::vector<std::string> boxes;
  struct Enter {
    static void Press(void* field) { PressKey(static_cast<HWND>(field), VK_RETURN); }
  };
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, KeepBoxTexts, &boxes, Enter::Press, hex), 1);
  EXPECT_EQ(boxes, std::vector<std::string>{HexRefusal("AZZ", "00")});
  EXPECT_EQ(g_App.OutputEdit.Data[1], 0);
  EXPECT_EQ(ControlText(main_, IDC_MAIN_HEX), "00");

  // Leaving the program with a refused text in the field: no box on the
  // way out, and the byte keeps its value.
  struct Exit {
    static void Run(void*) { uitest::ExitProgram(); }
  };
  boxes.clear();
  SetFocus(hex);
  SetDlgItemTextA(main_, IDC_MAIN_HEX, "ZZ");
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, KeepBoxTexts, &boxes, Exit::Run, nullptr), 0)
      << boxes[0];
  EXPECT_EQ(g_App.hMainWnd, nullptr);
  EXPECT_EQ(g_App.OutputEdit.Data[1], 0);
}

// The hex field takes a byte as the lists show it, and edits the byte the
// bit check boxes edit.
TEST_F(Program, HexFieldTakesA5AndTheBitsFollow) {
  Start();
  GiveOutputs(3);
  SelectOutput(1);

  // The field's byte written as the lists show it is taken too.
  SetDlgItemTextA(main_, IDC_MAIN_HEX, "0FFh");
  Notify(IDC_MAIN_HEX, EN_KILLFOCUS);
  EXPECT_EQ(g_App.OutputEdit.Data[1], 0xFF);

  SetDlgItemTextA(main_, IDC_MAIN_HEX, "a5");
  Notify(IDC_MAIN_HEX, EN_KILLFOCUS);
  EXPECT_EQ(g_App.OutputEdit.Data[1], 0xA5);
  EXPECT_EQ(ControlText(main_, IDC_MAIN_HEX), "A5");
  for (int bit = 0; bit < 8; ++bit) {
    const bool set = bit == 7 || bit == 5 || bit == 2 || bit == 0;
    EXPECT_EQ(IsDlgButtonChecked(main_, IDC_MAIN_BIT0_CHECK + bit),
              set ? BST_CHECKED : BST_UNCHECKED)
        << "bit " << bit;
  }
  EXPECT_EQ(ListLine(main_, IDC_MAIN_OUTPUT_LIST, 1), "1:\tA5h\t10100101\t.");
  EXPECT_EQ(g_App.Io->Output.Data[1], 0) << "the edit reaches the slave only through the exchange";

  // A bit check box edits the same byte.
  Click(IDC_MAIN_BIT6_CHECK, true);
  EXPECT_EQ(g_App.OutputEdit.Data[1], 0xE5);
  EXPECT_EQ(ControlText(main_, IDC_MAIN_HEX), "E5");

  // Freeze: the slave keeps the old bytes until freeze is switched off.
  ui::CommitOutputs();
  EXPECT_EQ(g_App.Io->Output.Data[1], 0xE5);
  Click(IDC_MAIN_FREEZE, true);
  EXPECT_EQ(g_App.FreezeOutputs, 1);
  Click(IDC_MAIN_BIT0_CHECK, false);
  EXPECT_EQ(ListLine(main_, IDC_MAIN_OUTPUT_LIST, 1), "1:\tE4h\t11100100\t.");
  ui::CommitOutputs();
  EXPECT_EQ(g_App.Io->Output.Data[1], 0xE5);
  Click(IDC_MAIN_FREEZE, false);
  ui::CommitOutputs();
  EXPECT_EQ(g_App.Io->Output.Data[1], 0xE4);

  // Without a selected byte nothing can be edited.
  SendDlgItemMessageA(main_, IDC_MAIN_OUTPUT_LIST, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  ui::UpdateBitControls(main_);
  EXPECT_FALSE(Enabled(IDC_MAIN_HEX));
  EXPECT_FALSE(Enabled(IDC_MAIN_BIT3_CHECK));
  Click(IDC_MAIN_BIT3_CHECK, true);
  EXPECT_EQ(g_App.OutputEdit.Data[1], 0xE4);
}

TEST_F(Program, SingleBitModeSetsABitOnlyWhileItsButtonIsHeld) {
  Start();
  GiveOutputs(2);
  SelectOutput(0);
  Click(IDC_MAIN_SINGLE_BIT, true);
  EXPECT_EQ(g_App.SingleBitMode, 1);
  EXPECT_FALSE(Visible(IDC_MAIN_BIT3_CHECK));
  EXPECT_TRUE(Visible(IDC_MAIN_BIT3_BUTTON));
  EXPECT_TRUE(Enabled(IDC_MAIN_BIT3_BUTTON));
  EXPECT_FALSE(Enabled(IDC_MAIN_HEX));

  HWND button = GetDlgItem(main_, IDC_MAIN_BIT3_BUTTON);
  SendMessageA(button, BM_SETSTATE, TRUE, 0);
  RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(g_App.OutputEdit.Data[0], 0x08);
  EXPECT_EQ(ListLine(main_, IDC_MAIN_OUTPUT_LIST, 0), "0:\t08h\t00001000\t.");
  EXPECT_EQ(ControlText(main_, IDC_MAIN_HEX), "08");

  SendMessageA(button, BM_SETSTATE, FALSE, 0);
  RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(g_App.OutputEdit.Data[0], 0x00);

  Click(IDC_MAIN_SINGLE_BIT, false);
  EXPECT_TRUE(Visible(IDC_MAIN_BIT3_CHECK));
  EXPECT_FALSE(Visible(IDC_MAIN_BIT3_BUTTON));
  EXPECT_TRUE(Enabled(IDC_MAIN_HEX));
}

std::vector<std::string> LogDataLines(const std::string& log) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Data lines start with the time of day, HH:MM:SS.
    if (line.size() > 8 && line[2] == ':' && line[5] == ':') lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

TEST_F(Program, InputListLinesAndOnlyChangedInputsAreLoggedAndRedrawn) {
  uitest::WriteSettingsFile("[Log]\r\nInputData=1\r\n");
  Start();
  ActivateCommunication();
  Click(IDC_MAIN_LOG, true);
  ASSERT_EQ(g_App.LogActive, 1);

  // As a poll answer leaves them.
  app::IoRecord& input = g_App.Io->Input;
  input.Length = 4;
  const uint8_t bytes[] = {0x0D, 0x7E, 0xE4, 0x41};
  std::memcpy(input.Data, bytes, sizeof bytes);
  g_App.InputReceived = 1;
  ui::RefreshDataViews(main_, g_App.Io, 0);
  const char* lines[] = {"0:\t0Dh\t00001101\t.", "1:\t7Eh\t01111110\t~", "2:\tE4h\t11100100\t.",
                         "3:\t41h\t01000001\tA"};
  ASSERT_EQ(ListCount(main_, IDC_MAIN_INPUT_LIST), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ListLine(main_, IDC_MAIN_INPUT_LIST, i), lines[i]);
    EXPECT_EQ(SendDlgItemMessageA(main_, IDC_MAIN_INPUT_LIST, LB_GETITEMDATA, i, 0), i);
  }
  fflush(g_App.LogFile);
  EXPECT_EQ(LogDataLines(uitest::ReadTextFile(INPUT_LOG)).size(), 1u);

  // Unchanged: no log line, and the list is not refilled (the marker stays).
  SendDlgItemMessageA(main_, IDC_MAIN_INPUT_LIST, LB_ADDSTRING, 0,
                      reinterpret_cast<LPARAM>("marker"));
  ui::RefreshDataViews(main_, g_App.Io, 0);
  EXPECT_EQ(ListCount(main_, IDC_MAIN_INPUT_LIST), 5);
  fflush(g_App.LogFile);
  EXPECT_EQ(LogDataLines(uitest::ReadTextFile(INPUT_LOG)).size(), 1u);

  input.Data[3] = 0x42;
  ui::RefreshDataViews(main_, g_App.Io, 0);
  EXPECT_EQ(ListCount(main_, IDC_MAIN_INPUT_LIST), 4);
  fflush(g_App.LogFile);
  const std::vector<std::string> logged = LogDataLines(uitest::ReadTextFile(INPUT_LOG));
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_TRUE(EndsWith(logged[1], "\t0D 7E E4 42 ")) << logged[1];
  ui::SetCommActive(main_, 0);
}

TEST_F(Program, RefillKeepsSelectionAndScrollPosition) {
  Start();
  app::IoRecord& input = g_App.Io->Input;
  input.Length = 60;
  ui::RefreshDataViews(main_, g_App.Io, 0);
  ASSERT_EQ(ListCount(main_, IDC_MAIN_INPUT_LIST), 60);
  EXPECT_GT(SendDlgItemMessageA(main_, IDC_MAIN_INPUT_LIST, LB_GETHORIZONTALEXTENT, 0, 0), 0);
  SendDlgItemMessageA(main_, IDC_MAIN_INPUT_LIST, LB_SETCURSEL, 45, 0);
  SendDlgItemMessageA(main_, IDC_MAIN_INPUT_LIST, LB_SETTOPINDEX, 40, 0);
  const LRESULT top = SendDlgItemMessageA(main_, IDC_MAIN_INPUT_LIST, LB_GETTOPINDEX, 0, 0);
  ASSERT_GT(top, 0);

  input.Data[45] = 0x55;
  ui::RefreshDataViews(main_, g_App.Io, 0);
  EXPECT_EQ(ListLine(main_, IDC_MAIN_INPUT_LIST, 45), "45:\t55h\t01010101\tU");
  EXPECT_EQ(SendDlgItemMessageA(main_, IDC_MAIN_INPUT_LIST, LB_GETCURSEL, 0, 0), 45);
  EXPECT_EQ(SendDlgItemMessageA(main_, IDC_MAIN_INPUT_LIST, LB_GETTOPINDEX, 0, 0), top);

  // A selection beyond the new end leaves none.
  input.Length = 10;
  ui::RefreshDataViews(main_, g_App.Io, 0);
  EXPECT_EQ(ListCount(main_, IDC_MAIN_INPUT_LIST), 10);
  EXPECT_EQ(SendDlgItemMessageA(main_, IDC_MAIN_INPUT_LIST, LB_GETCURSEL, 0, 0), LB_ERR);
}

TEST_F(Program, LogBoxOpensClosesAndReopensWithANewHeader) {
  uitest::WriteSettingsFile("[Log]\r\nInputData=1\r\n");
  Start();
  ActivateCommunication();
  Click(IDC_MAIN_LOG, true);
  EXPECT_EQ(g_App.LogActive, 1);
  EXPECT_NE(g_App.LogFile, nullptr);
  Click(IDC_MAIN_LOG, false);
  EXPECT_EQ(g_App.LogActive, 0);
  EXPECT_EQ(g_App.LogFile, nullptr);
  EXPECT_EQ(CountOf(uitest::ReadTextFile(INPUT_LOG), "Log File for Input Data."), 1);
  Click(IDC_MAIN_LOG, true);
  EXPECT_NE(g_App.LogFile, nullptr);
  ui::SetCommActive(main_, 0);
  // The main window's end closes the log.
  uitest::ExitProgram();
  EXPECT_EQ(g_App.LogFile, nullptr);
  EXPECT_EQ(g_App.LogActive, 0);
  EXPECT_EQ(CountOf(uitest::ReadTextFile(INPUT_LOG), "Log File for Input Data."), 2);
}

void TickLogBox(void* window) {
  CheckDlgButton(static_cast<HWND>(window), IDC_MAIN_LOG, BST_CHECKED);
  SendMessageA(static_cast<HWND>(window), WM_COMMAND, MAKEWPARAM(IDC_MAIN_LOG, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(static_cast<HWND>(window), IDC_MAIN_LOG)));
}

TEST_F(Program, LogThatCannotBeOpenedStaysOffWithoutAWord) {
  uitest::WriteSettingsFile("[Log]\r\nInputData=1\r\n");
  // A folder where the log file would go.
  ASSERT_TRUE(CreateDirectoryA(INPUT_LOG, nullptr));
  Start();
  ActivateCommunication();
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, nullptr, nullptr, TickLogBox, main_), 0);
  EXPECT_EQ(g_App.LogActive, 0);
  EXPECT_EQ(g_App.LogFile, nullptr);
  EXPECT_EQ(IsDlgButtonChecked(main_, IDC_MAIN_LOG), BST_CHECKED);
  ui::SetCommActive(main_, 0);
}

struct AboutSeen {
  std::string caption, product, maker, version, notice;
  POINT icon;
  RECT placeholder;
  RECT window;
  std::vector<std::pair<RECT, RECT>> rects;  // actual, from the template units
};

void InspectAbout(HWND box, void* context) {
  AboutSeen& seen = *static_cast<AboutSeen*>(context);
  char caption[64] = "";
  GetWindowTextA(box, caption, sizeof caption);
  seen.caption = caption;
  seen.product = ControlText(box, IDC_ABOUT_PRODUCT);
  seen.maker = ControlText(box, IDC_ABOUT_MAKER);
  seen.version = ControlText(box, IDC_ABOUT_VERSION);
  seen.notice = ControlText(box, IDC_ABOUT_NOTICE);
  seen.icon = ui::AboutIconPosition(box);
  seen.placeholder = ControlRect(box, IDC_ABOUT_ICON);
  GetWindowRect(box, &seen.window);
  struct Place {
    int id, x, y, w, h;
  };
  const Place places[] = {{IDC_ABOUT_ICON, 15, 10, 20, 20},   {IDC_ABOUT_PRODUCT, 9, 40, 175, 10},
                          {IDC_ABOUT_MAKER, 9, 55, 175, 10},  {IDC_ABOUT_VERSION, 6, 70, 180, 10},
                          {IDC_ABOUT_NOTICE, 9, 95, 175, 10}, {IDOK, 72, 110, 50, 14}};
  for (const Place& p : places) {
    seen.rects.push_back({ControlRect(box, p.id), DialogUnits(box, p.x, p.y, p.w, p.h)});
  }
  RECT client;
  GetClientRect(box, &client);
  seen.rects.push_back({client, DialogUnits(box, 0, 0, 194, 130)});
}

void OpenAbout(void* window) {
  SendMessageA(static_cast<HWND>(window), WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
}

TEST_F(Program, AboutBoxShowsItsTextsAndTheIconAtThePlaceholder) {
  Start();
  AboutSeen seen;
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, InspectAbout, &seen, OpenAbout, main_), 1);
  EXPECT_EQ(seen.caption, "About");
  EXPECT_EQ(seen.product, "Quillon");
  char text[ui::MAKER_TEXT_SIZE];
  ui::MakerLine(text, sizeof text);
  EXPECT_EQ(seen.maker, text);
  ui::NoticeLine(text, sizeof text);
  EXPECT_EQ(seen.notice, text);
  EXPECT_EQ(seen.version, "Version 1.7.6.0");

  // The icon's left edge is the placeholder's; its top lies below the
  // placeholder's by less than a caption's height.
  EXPECT_EQ(seen.icon.x, seen.placeholder.left);
  EXPECT_GE(seen.icon.y, seen.placeholder.top);
  EXPECT_LE(seen.icon.y, seen.placeholder.top + GetSystemMetrics(SM_CYCAPTION));

  RECT owner;
  GetWindowRect(main_, &owner);
  EXPECT_NEAR(seen.window.left + seen.window.right, owner.left + owner.right, 1);
  EXPECT_NEAR(seen.window.top + seen.window.bottom, owner.top + owner.bottom, 1);
  for (size_t i = 0; i < seen.rects.size(); ++i) {
    const RECT& a = seen.rects[i].first;
    const RECT& want = seen.rects[i].second;
    EXPECT_TRUE(EqualRect(&a, &want)) << "About rectangle " << i << ": " << a.left << ',' << a.top
                                      << ',' << a.right << ',' << a.bottom << " want " << want.left
                                      << ',' << want.top << ',' << want.right << ',' << want.bottom;
  }
}

// Copies one resource into the library being rebuilt, leaving out the
// program icon or spoiling its images.
struct IconDamage {
  HANDLE update;
  bool removed;
};

bool IsType(LPCSTR type, LPCSTR wanted) {
  return IS_INTRESOURCE(type) && type == wanted;
}

BOOL CALLBACK CopyResource(HMODULE from, LPCSTR type, LPCSTR name, WORD language, LONG_PTR param) {
  const IconDamage& damage = *reinterpret_cast<IconDamage*>(param);
  const bool icon = IsType(type, RT_ICON) || IsType(type, RT_GROUP_ICON);
  if (icon && damage.removed) return TRUE;
  HRSRC found = FindResourceExA(from, type, name, language);
  void* bytes = found ? LockResource(LoadResource(from, found)) : nullptr;
  DWORD size = found ? SizeofResource(from, found) : 0;
  static char spoiled[64];
  if (IsType(type, RT_ICON)) {
    std::memset(spoiled, 0x5A, sizeof spoiled);
    bytes = spoiled;
    size = sizeof spoiled;
  }
  if (bytes) UpdateResourceA(damage.update, type, name, language, bytes, size);
  return TRUE;
}

BOOL CALLBACK CopyResourceName(HMODULE from, LPCSTR type, LPSTR name, LONG_PTR param) {
  EnumResourceLanguagesA(from, type, name, CopyResource, param);
  return TRUE;
}

BOOL CALLBACK CopyResourceType(HMODULE from, LPSTR type, LONG_PTR param) {
  EnumResourceNamesA(from, type, CopyResourceName, param);
  return TRUE;
}

// A copy of the English library in a folder of its own, without the program
// icon or with its images spoiled. Returns its path, "" when it could not
// be made.
std::string LibraryWithBadIcon(bool removed) {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  const std::string folder = std::string(temp) + "quillon-bad-icon";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string path = folder + "\\tarnres.dll";
  const std::string original = ProgramFolder() + "tarnres.dll";
  if (!CopyFileA(original.c_str(), path.c_str(), FALSE)) return "";

  HMODULE from = LoadLibraryExA(original.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!from) return "";
  // Rebuilt from nothing: removing a single resource is not supported
  // everywhere.
  IconDamage damage{BeginUpdateResourceA(path.c_str(), TRUE), removed};
  if (damage.update) {
    EnumResourceTypesA(from, CopyResourceType, reinterpret_cast<LONG_PTR>(&damage));
  }
  FreeLibrary(from);
  return damage.update && EndUpdateResourceA(damage.update, FALSE) ? path : "";
}

void StartProgram(void* started) {
  *static_cast<int*>(started) = ui::InitInstance(GetModuleHandleA(nullptr), SW_SHOW);
}

void PaintBox(HWND box, void*) {
  RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

// The program file carries its manifest (this test program carries the
// same resources): run as invoker without file virtualisation, the Windows
// versions it knows, aware of the system DPI.
TEST(ProgramManifest, AsInvokerWithSupportedVersionsAndSystemDpi) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  ASSERT_NE(bytes, nullptr);
  const std::string manifest(bytes, SizeofResource(nullptr, found));
  for (const char* part :
       {"level=\"asInvoker\"", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", ">true</dpiAware>", ">system</dpiAwareness>"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

TEST_F(Program, MissingOrBrokenIconIsNoError) {
  for (bool removed : {true, false}) {
    const char* what = removed ? "icon removed" : "icon images spoiled";
    const std::string path = LibraryWithBadIcon(removed);
    ASSERT_FALSE(path.empty()) << what;
    // Loaded first, the copy is what the program's load by bare name finds.
    HMODULE library = LoadLibraryA(path.c_str());
    ASSERT_NE(library, nullptr) << what;
    EXPECT_EQ(FindResourceA(library, MAKEINTRESOURCEA(IDI_APP), RT_GROUP_ICON) == nullptr, removed)
        << what;
    EXPECT_NE(FindResourceA(library, MAKEINTRESOURCEA(IDD_MAIN), RT_DIALOG), nullptr) << what;

    int started = 0;
    EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, nullptr, nullptr, StartProgram, &started), 0)
        << what;
    EXPECT_EQ(started, 1) << what;
    EXPECT_EQ(g_App.hResDll, library) << what;
    EXPECT_EQ(g_App.hAppIcon, nullptr) << what;
    main_ = static_cast<HWND>(g_App.hMainWnd);
    if (main_) {
      EXPECT_EQ(g_App.MainReady, 1) << what;
      // The About box opens and paints without its icon.
      EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, PaintBox, nullptr, OpenAbout, main_), 1) << what;
    }
    EXPECT_EQ(uitest::ExitProgram(), 0) << what;
    EXPECT_EQ(g_App.hResDll, nullptr) << what;
    FreeLibrary(library);
    DeleteFileA(path.c_str());
  }
}

TEST_F(Program, MainWindowControlsSitWhereTheTemplateUnitsSay) {
  Start();
  RECT client;
  GetClientRect(main_, &client);
  const RECT size = DialogUnits(main_, 0, 0, 406, 258);
  EXPECT_EQ(client.right, size.right);
  // The menu bar is outside the client area.
  EXPECT_EQ(client.bottom, size.bottom);
  const LONG style = GetWindowLongA(main_, GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);

  struct Place {
    int id, x, y, w, h;
    bool combo;  // a drop-down list's height is its closed height
  };
  std::vector<Place> places = {
      {IDC_MAIN_MAKER, 128, 10, 148, 9, false},
      {IDC_MAIN_PORT_LABEL, 10, 32, 108, 8, false},
      {IDC_MAIN_PORT, 123, 30, 70, 190, true},
      {IDC_MAIN_BUS_STATUS, 304, 30, 98, 12, false},
      {IDC_MAIN_BAUD_LABEL, 10, 52, 107, 8, false},
      {IDC_MAIN_BAUD, 123, 50, 70, 50, true},
      {IDC_MAIN_ADDRESS_LABEL, 10, 72, 95, 8, false},
      {IDC_MAIN_ADDRESS, 123, 70, 70, 12, false},
      {IDC_MAIN_HEX_LABEL, 10, 105, 30, 8, false},
      {IDC_MAIN_HEX, 51, 104, 50, 12, false},
      {IDC_MAIN_FREEZE, 10, 124, 95, 10, false},
      {IDC_MAIN_SINGLE_BIT, 117, 124, 95, 10, false},
      {IDC_MAIN_COMM_ACTIVE, 227, 124, 90, 10, false},
      {IDC_MAIN_OUTPUT_LIST, 10, 158, 101, 91, false},
      {IDC_MAIN_INPUT_LIST, 117, 158, 101, 91, false},
      {IDC_MAIN_LOG, 337, 124, 51, 10, false},
      {IDC_MAIN_VENDOR_ID, 289, 160, 106, 12, false},
      {IDC_MAIN_DEVICE_TYPE, 289, 173, 106, 12, false},
      {IDC_MAIN_PRODUCT_CODE, 289, 186, 106, 12, false},
      {IDC_MAIN_REVISION, 289, 199, 106, 12, false},
      {IDC_MAIN_SERIAL_NUMBER, 289, 212, 106, 12, false},
      {IDC_MAIN_PRODUCT_NAME, 289, 226, 106, 12, false},
  };
  for (int bit = 7; bit >= 0; --bit) {
    const int x = 117 + 15 * (7 - bit);
    places.push_back({IDC_MAIN_BIT0_CHECK + bit, x, 105, 15, 8, false});
    places.push_back({IDC_MAIN_BIT0_BUTTON + bit, x, 105, 10, 11, false});
  }
  for (const Place& p : places) {
    const RECT actual = ControlRect(main_, p.id);
    const RECT want = DialogUnits(main_, p.x, p.y, p.w, p.h);
    EXPECT_EQ(actual.left, want.left) << "control " << p.id;
    EXPECT_EQ(actual.top, want.top) << "control " << p.id;
    EXPECT_EQ(actual.right, want.right) << "control " << p.id;
    if (!p.combo) {
      EXPECT_EQ(actual.bottom, want.bottom) << "control " << p.id;
    }
  }

  // Tab order: the template order.
  const int order[] = {IDC_MAIN_PORT, IDC_MAIN_BUS_STATUS, IDC_MAIN_BAUD, IDC_MAIN_ADDRESS};
  EXPECT_EQ(GetNextDlgTabItem(main_, nullptr, FALSE), GetDlgItem(main_, order[0]));
  for (int i = 0; i + 1 < 4; ++i) {
    EXPECT_EQ(GetNextDlgTabItem(main_, GetDlgItem(main_, order[i]), FALSE),
              GetDlgItem(main_, order[i + 1]))
        << "after " << order[i];
  }
}

}  // namespace
