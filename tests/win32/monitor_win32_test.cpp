// The Bus Monitor window in the running program under Wine: the real shell
// and main window, the simulated adapter beside the test as the USB
// adapter's driver, a scanner on the bus polling a slave of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "monitor/capture.h"
#include "monitor/monitor_hub.h"
#include "persist/resstring.h"
#include "platform/platform.h"
#include "resource.h"
#include "sim_client.h"
#include "ui/main_window.h"
#include "ui/monitor_window.h"
#include "ui/shell.h"
#include "ui_test_support.h"

namespace {

using namespace sim_client;
using app::g_App;
using uitest::ControlText;

constexpr WPARAM REFRESH_TIMER_ID = 1;

const char BUS[] =
    "[slave]\nmac = 10\nproduced = 8\nconsumed = 8\nucmm = yes\n"
    "[slave]\nmac = 20\nucmm = no\n"
    "[master]\nmac = 0\nslave = 20\nucmm = no\npoll_ms = 20\n";

using uitest::StringOf;

void SendStart(void* window) {
  SendMessageA(static_cast<HWND>(window), WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);
}

void RunIdleStep(void*) {
  ui::IdleStep();
}

std::vector<std::string> Rows() {
  std::vector<std::string> rows;
  char text[400];
  for (int row = 0; ui::MonitorRowText(row, text, sizeof text); ++row) rows.push_back(text);
  return rows;
}

// The row's fields: time, direction, CAN ID, group, message ID, MAC ID, meaning.
std::vector<std::string> Fields(const std::string& row) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab = row.find('\t'); tab != std::string::npos; tab = row.find('\t', start)) {
    fields.push_back(row.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(row.substr(start));
  return fields;
}

bool HasRow(const std::vector<std::string>& rows, const std::string& fromDirection) {
  for (const std::string& row : rows) {
    if (row.find(fromDirection) != std::string::npos) return true;
  }
  return false;
}

class Monitor : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnableTestClock(1000);
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(BUS, "test.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    uitest::PumpMessages();
    uitest::SetLangValue(0, nullptr, 0);
    uitest::WriteSettingsFile("[Tarnix]\r\nPrinterPort=4096\r\nBaud=0\r\nCurrAdr=10\r\n");
    ASSERT_EQ(ui::InitInstance(GetModuleHandleA(nullptr), SW_SHOW), 1);
    main_ = static_cast<HWND>(g_App.hMainWnd);
    uitest::PumpMessages();
  }
  void TearDown() override {
    uitest::ExitProgram();
    platform::DisableTestClock();
  }

  // A few cyclic steps, then the window's own refresh.
  void Exchange(int steps) {
    for (int i = 0; i < steps; ++i) ui::IdleStep();
    SendMessageA(ui::MonitorWindow(), WM_TIMER, REFRESH_TIMER_ID, 0);
  }
  int ListCount() {
    return static_cast<int>(
        SendDlgItemMessageA(ui::MonitorWindow(), IDC_MON_LIST, LB_GETCOUNT, 0, 0));
  }
  void SetFilter(const char* text) { SetDlgItemTextA(ui::MonitorWindow(), IDC_MON_FILTER, text); }
  void Click(int id) {
    HWND window = ui::MonitorWindow();
    HWND button = GetDlgItem(window, id);
    if (id == IDC_MON_PAUSE) {
      const bool checked = IsDlgButtonChecked(window, id) == BST_CHECKED;
      CheckDlgButton(window, id, checked ? BST_UNCHECKED : BST_CHECKED);
    }
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  }

  HWND main_ = nullptr;
};

TEST_F(Monitor, ListsEveryFrameLiveWithFilterPauseAndClear) {
  // The scanner has checked its MAC ID and polls its slave.
  platform::AdvanceTestClock(3000);
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_BUS_MONITOR, 0), 0);
  HWND window = ui::MonitorWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_TRUE(monitor::MonitorTapInstalled());
  EXPECT_EQ(ListCount(), 0);
  Exchange(0);
  EXPECT_NE(ControlText(window, IDC_MON_STATUS).find(StringOf(IDS_MON_ADAPTER_CLOSED)),
            std::string::npos);

  ASSERT_EQ(uitest::WithAnsweredDialog(IDOK, nullptr, nullptr, SendStart, main_), 1);
  ASSERT_EQ(g_App.CommActive, 1);
  Exchange(10);
  const std::vector<std::string> rows = Rows();
  ASSERT_GT(rows.size(), 10u);
  EXPECT_EQ(ListCount(), static_cast<int>(rows.size()));
  // Our poll of 10 and the scanner's poll of 20, each in words; times rise.
  EXPECT_TRUE(HasRow(rows, "\tTx\t455\t2\t5\t10\t"));
  EXPECT_TRUE(HasRow(rows, "\tRx\t4A5\t2\t5\t20\t"));
  // Each frame with its length and its bytes in hex.
  for (const std::string& row : rows) {
    const std::vector<std::string> fields = Fields(row);
    ASSERT_EQ(fields.size(), 9u) << row;
    if (fields[2] != "455") continue;
    EXPECT_EQ(fields[6], "8") << row;  // the slave consumes 8 bytes
    EXPECT_EQ(fields[7].size(), 8u * 3 - 1) << row;
    EXPECT_EQ(fields[7].find_first_not_of("0123456789ABCDEF "), std::string::npos) << row;
    EXPECT_EQ(fields[8], "Poll command") << row;
  }
  unsigned long long last = 0;
  for (const std::string& row : rows) {
    const unsigned long long time = std::stoull(Fields(row)[0]);
    EXPECT_GE(time, last) << row;
    last = time;
  }
  const std::string status = ControlText(window, IDC_MON_STATUS);
  EXPECT_NE(status.find("frames/s"), std::string::npos) << status;
  EXPECT_NE(status.find(StringOf(IDS_BUS_NORMAL)), std::string::npos) << status;

  // Only the frames of the scanner's slave; a filter that is no MAC ID is
  // not taken; empty shows all again.
  SetFilter("20");
  Exchange(5);
  std::vector<std::string> filtered = Rows();
  ASSERT_FALSE(filtered.empty());
  for (const std::string& row : filtered) EXPECT_EQ(Fields(row)[5], "20") << row;
  EXPECT_NE(ControlText(window, IDC_MON_STATUS).find("filter: MAC ID 20"), std::string::npos);
  SetFilter("x");
  EXPECT_EQ(ControlText(window, IDC_MON_FILTER), "20");
  SetFilter("64");
  EXPECT_EQ(ControlText(window, IDC_MON_FILTER), "20");
  // Keys typed one by one: a refused one leaves the caret behind the text.
  SetFilter("");
  HWND filter = GetDlgItem(window, IDC_MON_FILTER);
  for (char key : {'6', '4', '3'}) SendMessageA(filter, WM_CHAR, static_cast<WPARAM>(key), 0);
  EXPECT_EQ(ControlText(window, IDC_MON_FILTER), "63");
  Exchange(1);
  EXPECT_NE(ControlText(window, IDC_MON_STATUS).find("filter: MAC ID 63"), std::string::npos);
  SetFilter("");
  Exchange(1);
  EXPECT_EQ(ControlText(window, IDC_MON_STATUS).find("filter:"), std::string::npos);
  Exchange(1);
  EXPECT_GT(Rows().size(), filtered.size());

  // Paused, the list stays as it is while the exchange goes on.
  Click(IDC_MON_PAUSE);
  const size_t paused = Rows().size();
  Exchange(10);
  EXPECT_EQ(Rows().size(), paused);
  EXPECT_NE(ControlText(window, IDC_MON_STATUS).find(StringOf(IDS_MON_PAUSED)), std::string::npos);
  Click(IDC_MON_CLEAR);
  EXPECT_EQ(ListCount(), 0);
  Click(IDC_MON_PAUSE);
  Exchange(5);
  EXPECT_GT(ListCount(), 0);
  EXPECT_EQ(std::stoull(Fields(Rows()[0])[0]), 0u) << "times count from the clear";

  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_EQ(ui::MonitorWindow(), nullptr);
  EXPECT_FALSE(monitor::MonitorTapInstalled());
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_STOP, 0), 0);
  ui::IdleStep();
}

// An error response from the slave counts in the status line.
TEST_F(Monitor, StatusLineCountsErrorResponses) {
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_BUS_MONITOR, 0), 0);
  ASSERT_EQ(uitest::WithAnsweredDialog(IDOK, nullptr, nullptr, SendStart, main_), 1);
  g_App.AttrClassId = 1;
  g_App.AttrInstanceId = 1;
  g_App.AttrAttributeId = 1;
  g_App.WriteValue[0] = 0x20;
  g_App.WriteValue[1] = 0x05;
  g_App.WriteValueLength = 2;
  g_App.WriteAttrPending = 1;  // the vendor ID cannot be set: the failure is shown
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, nullptr, nullptr, RunIdleStep, nullptr), 1);
  Exchange(1);
  const std::string status = ControlText(ui::MonitorWindow(), IDC_MON_STATUS);
  EXPECT_NE(status.find("error responses: 1,"), std::string::npos) << status;
  bool shown = false;
  for (const std::string& row : Rows())
    shown = shown || row.find("Error response: ") != std::string::npos;
  EXPECT_TRUE(shown);
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_STOP, 0), 0);
  ui::IdleStep();
}

std::string Narrow(const wchar_t* text) {
  char narrow[256] = "";
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}

RECT WindowRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

RECT WorkArea(HWND window) {
  MONITORINFO screen{};
  screen.cbSize = sizeof screen;
  GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &screen);
  return screen.rcWork;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// The window opens beside the main window, both on the screen, wherever the
// main window stands; moved by the user, it opens there again, also in the
// next run (the settings file).
TEST_F(Monitor, OpensBesideTheMainWindowAndWhereItWasLeft) {
  const RECT work = WorkArea(main_);
  const RECT first = WindowRect(main_);
  const LONG width = first.right - first.left;
  const LONG height = first.bottom - first.top;
  const POINT mainPlaces[] = {
      {work.left, work.top},
      {work.right - width, work.top},
      {(work.left + work.right - width) / 2, (work.top + work.bottom - height) / 2},
      {work.left, work.bottom - height}};
  for (const POINT& at : mainPlaces) {
    SCOPED_TRACE(testing::Message() << "main window at " << at.x << "," << at.y);
    SetWindowPos(main_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_BUS_MONITOR, 0), 0);
    HWND window = ui::MonitorWindow();
    ASSERT_NE(window, nullptr);
    const RECT monitorRect = WindowRect(window);
    const RECT mainRect = WindowRect(main_);
    const LONG monitorWidth = monitorRect.right - monitorRect.left;
    const LONG monitorHeight = monitorRect.bottom - monitorRect.top;
    const bool roomForBoth = width + monitorWidth <= work.right - work.left ||
                             height + monitorHeight <= work.bottom - work.top;
    RECT overlap{};
    if (roomForBoth) {
      EXPECT_FALSE(IntersectRect(&overlap, &monitorRect, &mainRect));
    }
    EXPECT_TRUE(Inside(monitorRect, work));
    EXPECT_TRUE(Inside(mainRect, work));
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    // Not moved by the user: forgotten again, so that the next one is placed anew.
    uitest::WriteSettingsFile("[Tarnix]\r\nPrinterPort=4096\r\nBaud=0\r\nCurrAdr=10\r\n");
  }

  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_BUS_MONITOR, 0), 0);
  SetWindowPos(ui::MonitorWindow(), nullptr, work.left + 30, work.top + 40, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
  SendMessageA(ui::MonitorWindow(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_BUS_MONITOR, 0), 0);
  RECT again = WindowRect(ui::MonitorWindow());
  EXPECT_EQ(again.left, work.left + 30);
  EXPECT_EQ(again.top, work.top + 40);
  // A place off every screen (a monitor since unplugged) is not taken.
  SendMessageA(ui::MonitorWindow(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  uitest::WriteSettingsFile(
      "[Tarnix]\r\nPrinterPort=4096\r\nBaud=0\r\nCurrAdr=10\r\n[Monitor]\r\nLeft=-5000\r\nTop="
      "40\r\n");
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_BUS_MONITOR, 0), 0);
  again = WindowRect(ui::MonitorWindow());
  EXPECT_TRUE(Inside(again, work));
  SendMessageA(ui::MonitorWindow(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

// A disk that is full from the start.
size_t FullDisk(const void*, size_t, std::FILE*) {
  return 0;
}

std::string failureMessage;

void KeepMessage(HWND box, void*) {
  failureMessage = uitest::StaticTexts(box);
}

// Lets the capture's timer run (real time) until the capture has ended or
// two seconds have passed.
void PumpUntilCaptureEnds(void*) {
  const DWORD start = GetTickCount();
  while (monitor::CaptureRunning() && GetTickCount() - start < 2000) {
    uitest::PumpMessages();
    Sleep(5);
  }
}

bool CaptureTicked(HWND main) {
  return (GetMenuState(GetMenu(main), IDM_CAPTURE, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

// The disk is full: the capture's timer finds out, the capture ends, the
// menu's tick goes and a message names the file and what it holds.
TEST_F(Monitor, FullDiskEndsTheCaptureWithAMessage) {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  const std::string path = std::string(temp) + "full_disk.pcap";
  ASSERT_TRUE(ui::StartCapture(main_, path.c_str(), monitor::CaptureFormat::Pcap));
  ui::UpdateMenuStates(main_);
  EXPECT_TRUE(CaptureTicked(main_));
  monitor::SetCaptureWriter(FullDisk);
  failureMessage.clear();
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, KeepMessage, nullptr, PumpUntilCaptureEnds, nullptr),
            1);
  monitor::SetCaptureWriter(nullptr);
  EXPECT_FALSE(monitor::CaptureRunning());
  EXPECT_FALSE(CaptureTicked(main_));
  EXPECT_NE(failureMessage.find(path), std::string::npos) << failureMessage;
  EXPECT_NE(failureMessage.find("holds 0 frames"), std::string::npos) << failureMessage;
  EXPECT_EQ(uitest::ReadTextFile(path), "");  // not even a cut header
  DeleteFileA(path.c_str());
}

// In the real save dialog: what the user does, then OK.
struct SaveDialogSteps {
  int chooseType;         // 0: leave the type; else the type to choose (1 pcap, 2 candump)
  std::string typedName;  // put into the name field before OK
  std::string nameShown;  // the name field after the type was chosen
};

std::string NameField(HWND dialog) {
  const std::string combo = ControlText(dialog, cmb13);
  return combo.empty() ? ControlText(dialog, edt1) : combo;
}

void DoInSaveDialog(HWND dialog, void* context) {
  SaveDialogSteps& steps = *static_cast<SaveDialogSteps*>(context);
  if (steps.chooseType) {
    HWND types = GetDlgItem(dialog, cmb1);
    SendMessageA(types, CB_SETCURSEL, static_cast<WPARAM>(steps.chooseType - 1), 0);
    // A pick ends as a selection made (Wine's dialog listens to that one).
    for (int code : {CBN_SELCHANGE, CBN_SELENDOK}) {
      SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(cmb1, static_cast<WORD>(code)),
                   reinterpret_cast<LPARAM>(types));
    }
  }
  steps.nameShown = NameField(dialog);
  SetDlgItemTextA(dialog, GetDlgItem(dialog, cmb13) ? cmb13 : edt1, steps.typedName.c_str());
}

// Inside the save dialog's own loop: once the dialog is ready (its file
// types filled in), the steps, then OK.
SaveDialogSteps* saveSteps = nullptr;
HWND saveOwner = nullptr;
int saveTries = 0;
bool saveDone = false;

BOOL CALLBACK FindSaveDialog(HWND window, LPARAM found) {
  HWND types = GetDlgItem(window, cmb1);
  if (GetWindow(window, GW_OWNER) != saveOwner || !types ||
      SendMessageA(types, CB_GETCOUNT, 0, 0) <= 0) {
    return TRUE;
  }
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

void CALLBACK DriveSaveDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindSaveDialog, reinterpret_cast<LPARAM>(&dialog));
  if (!dialog && ++saveTries < 200) return;
  KillTimer(nullptr, timer);
  if (!dialog) return;
  DoInSaveDialog(dialog, saveSteps);
  saveDone = true;
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

// Capture to File through the real save dialog, driven as a user would.
bool SaveThroughDialog(HWND owner, SaveDialogSteps& steps) {
  saveSteps = &steps;
  saveOwner = owner;
  saveTries = 0;
  saveDone = false;
  SetTimer(nullptr, 0, 20, DriveSaveDialog);
  ui::ToggleCapture(owner);
  return saveDone;
}

// The type chosen puts its extension on the name, and the extension typed
// decides the format: a pcap file starts with its 24-byte header, a candump
// log of no frames is empty.
TEST_F(Monitor, SaveDialogKeepsTypeAndExtensionTogether) {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  struct Case {
    int chooseType;
    const char* typed;
    const char* shown;
    const char* file;
    size_t size;
  } cases[] = {
      {2, "typed", "capture.log", "typed.log", 0},       // candump chosen, no extension typed
      {0, "cap2.log", "capture.pcap", "cap2.log", 0},    // default type, .log typed
      {2, "cap3.pcap", "capture.log", "cap3.pcap", 24},  // candump chosen, .pcap typed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    const std::string file = std::string(temp) + c.file;
    DeleteFileA(file.c_str());
    SaveDialogSteps steps{c.chooseType, std::string(temp) + c.typed, ""};
    ASSERT_TRUE(SaveThroughDialog(main_, steps));
    EXPECT_EQ(steps.nameShown, c.shown);
    ASSERT_TRUE(monitor::CaptureRunning());
    ui::ToggleCapture(main_);
    EXPECT_FALSE(monitor::CaptureRunning());
    EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(uitest::ReadTextFile(file).size(), c.size);
    DeleteFileA(file.c_str());
  }
}

// The save dialog's type and extension agree: the extension typed decides
// the format, and a type chosen puts its extension on the name.
TEST(CaptureFileType, ExtensionAndTypeAgree) {
  struct Format {
    const wchar_t* path;
    DWORD type;
    monitor::CaptureFormat format;
  } formats[] = {
      {L"C:\\data\\cap2.log", 1, monitor::CaptureFormat::CandumpLog},
      {L"C:\\data\\cap2.LOG", 1, monitor::CaptureFormat::CandumpLog},
      {L"capture.pcap", 2, monitor::CaptureFormat::Pcap},
      {L"C:\\data.log\\capture", 2, monitor::CaptureFormat::CandumpLog},
      {L"C:\\data.log\\capture", 1, monitor::CaptureFormat::Pcap},
      {L"bus.2024", 2, monitor::CaptureFormat::CandumpLog},
  };
  for (const Format& f : formats) {
    EXPECT_EQ(static_cast<int>(ui::CaptureFormatOf(f.path, f.type)), static_cast<int>(f.format))
        << Narrow(f.path) << " type " << f.type;
  }
  struct Name {
    const wchar_t* before;
    DWORD type;
    const wchar_t* after;
  } names[] = {
      {L"capture.pcap", 2, L"capture.log"}, {L"capture.log", 1, L"capture.pcap"},
      {L"capture", 2, L"capture.log"},      {L"capture.pcap", 1, L"capture.pcap"},
      {L"bus.2024", 2, L"bus.2024"},        {L"run.1.PCAP", 2, L"run.1.log"},
  };
  for (const Name& n : names) {
    wchar_t name[64];
    wcscpy(name, n.before);
    ui::SetCaptureExtension(name, 64, n.type);
    EXPECT_EQ(std::wstring(name), std::wstring(n.after)) << Narrow(n.before);
  }
}

}  // namespace
