// The Search Slaves and Change Address and Baud Rate dialogs under Wine,
// in-process: the real shell and main window from the real language
// library, the simulated adapter beside the test as the USB adapter's
// driver. The test acts from hooks: it sees every fill of the search list
// (WM_SETREDRAW) and each time a dialog's own message loop has nothing to
// do (WM_ENTERIDLE to the owner), and answers message boxes as they open.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "master/search.h"
#include "monitor/capture.h"
#include "persist/messages.h"
#include "persist/resstring.h"
#include "platform/platform.h"
#include "resource.h"
#include "sim_client.h"
#include "ui/monitor_window.h"
#include "ui/shell.h"
#include "ui_test_support.h"

namespace {

using namespace sim_client;
using app::g_App;
using uitest::ControlText;

std::string SlaveAt(int mac) {
  return "[slave]\nmac = " + std::to_string(mac) + "\nserial = " + std::to_string(100 + mac) + "\n";
}

using uitest::StringOf;

bool IsDialogUnderTest(HWND window) {
  return GetDlgItem(window, IDC_SEARCH_LIST) || GetDlgItem(window, IDC_CHANGE_OLD_ADDRESS) ||
         GetDlgItem(window, IDC_OWN_MAC_VALUE);
}

// What the test does while a dialog runs, and what it saw.
struct Script {
  // After every fill of the search list, with the number of entries.
  std::function<void(HWND dialog, int entries)> onFill;
  // Each time the dialog's message loop waits; it should end the dialog
  // eventually (by posting a command).
  std::function<void(HWND dialog)> onIdle;
  // Each new text of the search's or the change's progress line.
  std::function<void(HWND dialog, const char* text)> onProgress;
  std::vector<std::string> boxes;  // message boxes, answered OK
  std::vector<int> answers;        // or with these, one per box, in order
  std::vector<bool> boxOnDialog;   // owned by the dialog under test
  HWND dialog = nullptr;
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
    script->boxOnDialog.push_back(IsDialogUnderTest(GetWindow(window, GW_OWNER)));
    int answer = IDOK;
    if (!script->answers.empty()) {
      answer = script->answers.front();
      script->answers.erase(script->answers.begin());
    }
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK SentHook(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && script) {
    if (sent->message == WM_SETREDRAW && sent->wParam &&
        GetDlgCtrlID(sent->hwnd) == IDC_SEARCH_LIST && script->onFill) {
      const int entries = static_cast<int>(SendMessageA(sent->hwnd, LB_GETCOUNT, 0, 0));
      script->onFill(GetParent(sent->hwnd), entries);
    } else if (sent->message == WM_SETTEXT && script->onProgress &&
               (GetDlgCtrlID(sent->hwnd) == IDC_SEARCH_PROGRESS ||
                GetDlgCtrlID(sent->hwnd) == IDC_CHANGE_PROGRESS)) {
      script->onProgress(GetParent(sent->hwnd), reinterpret_cast<const char*>(sent->lParam));
    } else if (sent->message == WM_ENTERIDLE && sent->wParam == MSGF_DIALOGBOX &&
               IsDialogUnderTest(reinterpret_cast<HWND>(sent->lParam))) {
      script->dialog = reinterpret_cast<HWND>(sent->lParam);
      ++script->idles;
      if (script->onIdle) script->onIdle(script->dialog);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void PostCommand(HWND dialog, int id, WORD code = BN_CLICKED) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string EntryText(HWND dialog, int index) {
  char text[400] = "";
  if (SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0) <
      static_cast<LRESULT>(sizeof text)) {
    SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_GETTEXT, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(text));
  }
  return text;
}

// Each entry's first field (its address) and the address in its item data.
std::vector<std::string> ListEntries(HWND dialog) {
  std::vector<std::string> entries;
  const int count =
      static_cast<int>(SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    const std::string text = EntryText(dialog, i);
    const LRESULT data =
        SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_GETITEMDATA, static_cast<WPARAM>(i), 0);
    entries.push_back(text.substr(0, text.find('\t')) + "=" + std::to_string(data & 0x3F));
  }
  return entries;
}

// The entry whose text starts with `start`, or -1.
int EntryStarting(HWND dialog, const std::string& start) {
  const int count =
      static_cast<int>(SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    if (EntryText(dialog, i).compare(0, start.size(), start) == 0) return i;
  }
  return -1;
}

// Every entry shows its address as the probe found it: "5=5" answered,
// "(6)=6" silent, in rising order.
bool EntriesShowMarks(const std::vector<std::string>& entries, std::vector<int> answering) {
  int last = -1;
  for (const std::string& entry : entries) {
    const int mac = std::stoi(entry.substr(entry.find('=') + 1));
    bool answered = false;
    for (int a : answering) answered = answered || a == mac;
    const std::string number = std::to_string(mac);
    if (mac <= last || entry != (answered ? number : "(" + number + ")") + "=" + number) {
      return false;
    }
    last = mac;
  }
  return true;
}

// "0=0", "(1)=1", ... for the probed addresses below `count`.
std::vector<std::string> ExpectedEntries(int count, std::vector<int> answering) {
  std::vector<std::string> entries;
  for (int mac = 0; mac < count; ++mac) {
    bool answered = false;
    for (int a : answering) answered = answered || a == mac;
    const std::string number = std::to_string(mac);
    entries.push_back((answered ? number : "(" + number + ")") + "=" + number);
  }
  return entries;
}

int Selected(HWND dialog) {
  return static_cast<int>(SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_GETCURSEL, 0, 0));
}

class Commissioning : public ::testing::Test {
 public:
  void Start(const std::string& config, const std::string& settings) {
    platform::EnableTestClock(1000);
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(config.c_str(), "test.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    uitest::PumpMessages();
    uitest::SetLangValue(0, nullptr, 0);
    uitest::WriteSettingsFile("[Tarnix]\r\n" + settings);
    ASSERT_EQ(ui::InitInstance(GetModuleHandleA(nullptr), SW_SHOW), 1);
    main_ = static_cast<HWND>(g_App.hMainWnd);
    uitest::PumpMessages();
    TheSim().traceClear();
  }

  void TearDown() override {
    uitest::ExitProgram();
    platform::DisableTestClock();
  }

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

  HWND main_ = nullptr;
};

constexpr const char* USB_AT_125 = "PrinterPort=4096\r\nBaud=0\r\nCurrAdr=10\r\n";

// ---- Search Slaves ----------------------------------------------------------

TEST_F(Commissioning, SearchListsEveryAddressAndDoubleClickTakesOneAfterTheScan) {
  Start(SlaveAt(0) + SlaveAt(5) + SlaveAt(63), USB_AT_125);
  Script s;
  std::vector<int> fills;
  bool visibleWhileScanning = true;
  std::string buttonWhileScanning;
  s.onFill = [&](HWND dialog, int entries) {
    fills.push_back(entries);
    if (entries > 0) visibleWhileScanning = visibleWhileScanning && IsWindowVisible(dialog);
    if (entries > 0 && entries < 64 && buttonWhileScanning.empty()) {
      buttonWhileScanning = ControlText(dialog, IDOK);
      // A double-click during the scan does nothing.
      SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_SETCURSEL, 1, 0);
      PostCommand(dialog, IDC_SEARCH_LIST, LBN_DBLCLK);
    }
  };
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    EXPECT_EQ(g_App.CurrAdr, 10);
    EXPECT_EQ(ControlText(dialog, IDOK), StringOf(IDS_SEARCH_OK));
    EXPECT_EQ(ListEntries(dialog), ExpectedEntries(64, {0, 5, 63}));
    EXPECT_EQ(Selected(dialog), 0) << "the lowest answering address";
    // Centred over the main window.
    RECT owner{}, box{};
    GetWindowRect(main_, &owner);
    GetWindowRect(dialog, &box);
    EXPECT_NEAR((box.left + box.right) / 2, (owner.left + owner.right) / 2, 1);
    EXPECT_NEAR((box.top + box.bottom) / 2, (owner.top + owner.bottom) / 2, 1);
    // Picking the silent address 7 takes it.
    SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_SETCURSEL, 7, 0);
    PostCommand(dialog, IDC_SEARCH_LIST, LBN_DBLCLK);
  };
  Run(IDM_SEARCH_SLAVES, s);

  EXPECT_EQ(s.idles, 1);
  EXPECT_TRUE(s.boxes.empty());
  EXPECT_EQ(buttonWhileScanning, StringOf(IDS_SEARCH_ABORT));
  EXPECT_TRUE(visibleWhileScanning);
  // Empty as the dialog opens, then growing as the probes end, to all 64.
  ASSERT_GE(fills.size(), 3u);
  EXPECT_EQ(fills.front(), 0);
  EXPECT_TRUE(std::is_sorted(fills.begin(), fills.end()));
  EXPECT_EQ(fills.back(), 64);
  EXPECT_EQ(g_App.CurrAdr, 7);
  EXPECT_EQ(ControlText(main_, IDC_MAIN_ADDRESS), "7");
  EXPECT_EQ(g_App.AdapterOpen, 0);
}

// The user stops the scan once 9 addresses have been probed: with the mouse
// on Abort, or with Esc on the list (keys reach the dialog through the
// message handler the scan pumps with). What was found stays.
void AbortAtNine(Commissioning& t, const std::function<void(HWND)>& press) {
  t.Start(SlaveAt(5) + SlaveAt(63), USB_AT_125);
  Script s;
  int atPress = 0;
  s.onFill = [&](HWND dialog, int entries) {
    if (entries >= 9 && atPress == 0) {
      atPress = entries;
      press(dialog);
    }
  };
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    const std::vector<std::string> entries = ListEntries(dialog);
    EXPECT_GE(static_cast<int>(entries.size()), atPress);
    EXPECT_LT(entries.size(), 64u) << "the scan stopped";
    EXPECT_TRUE(EntriesShowMarks(entries, {5, 63}));
    const auto five = std::find(entries.begin(), entries.end(), "5=5");
    ASSERT_NE(five, entries.end());
    EXPECT_EQ(Selected(dialog), five - entries.begin());
    EXPECT_EQ(ControlText(dialog, IDOK), StringOf(IDS_SEARCH_OK));
    EXPECT_TRUE(IsWindowVisible(dialog));
    PostCommand(dialog, IDOK);  // the second press takes the selection
  };
  t.Run(IDM_SEARCH_SLAVES, s);
  EXPECT_GT(atPress, 0);
  EXPECT_EQ(s.idles, 1);
  EXPECT_TRUE(s.boxes.empty());
  EXPECT_EQ(g_App.CurrAdr, 5);
  EXPECT_EQ(ControlText(t.main_, IDC_MAIN_ADDRESS), "5");
}

TEST_F(Commissioning, AbortKeepsWhatWasFoundAndTheDialogOpen) {
  AbortAtNine(*this, [](HWND dialog) { PostCommand(dialog, IDOK); });
}

TEST_F(Commissioning, EscapeAbortsTheScanToo) {
  AbortAtNine(*this, [](HWND dialog) {
    PostMessageA(GetDlgItem(dialog, IDC_SEARCH_LIST), WM_KEYDOWN, VK_ESCAPE, 0);
  });
}

// Abort and Esc work from the first moment: pressed while the scan still
// waits for the bus to settle, nothing goes on the bus and the dialog stays
// open with an empty list.
TEST_F(Commissioning, AbortDuringTheSettleWaitProbesNothing) {
  const std::function<void(HWND)> presses[] = {
      [](HWND dialog) { PostCommand(dialog, IDOK); },
      [](HWND dialog) {
        PostMessageA(GetDlgItem(dialog, IDC_SEARCH_LIST), WM_KEYDOWN, VK_ESCAPE, 0);
      },
  };
  for (const auto& press : presses) {
    Start(SlaveAt(5), USB_AT_125);
    Script s;
    std::vector<std::string> progress;
    s.onProgress = [&](HWND dialog, const char* text) {
      progress.push_back(text);
      if (progress.size() == 1) press(dialog);
    };
    s.onIdle = [&](HWND dialog) {
      if (s.idles > 1) return;
      EXPECT_TRUE(ListEntries(dialog).empty());
      EXPECT_TRUE(IsWindowVisible(dialog));
      PostCommand(dialog, IDCANCEL);
    };
    Run(IDM_SEARCH_SLAVES, s);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), "Waiting for the bus to settle (3 s)...");
    EXPECT_EQ(progress.back(), "");
    EXPECT_EQ(s.idles, 1);
    EXPECT_TRUE(s.boxes.empty());
    EXPECT_TRUE(Trace().empty()) << "a frame went out after Abort";
    EXPECT_EQ(g_App.CurrAdr, 10);
    TearDown();
  }
}

// Abort while the identities are read: the node being read and those after
// it keep their lines and say that their identity was not read.
TEST_F(Commissioning, AbortWhileIdentitiesAreReadKeepsEveryLine) {
  Start(SlaveAt(5) + SlaveAt(6) + SlaveAt(7), USB_AT_125);
  Script s;
  bool pressed = false;
  s.onProgress = [&](HWND dialog, const char* text) {
    if (!pressed && std::string(text).find("MAC ID 6") != std::string::npos) {
      pressed = true;
      PostCommand(dialog, IDOK);
    }
  };
  std::vector<std::string> lines;
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    for (int mac : {5, 6, 7}) {
      lines.push_back(EntryText(dialog, EntryStarting(dialog, std::to_string(mac) + "\t")));
    }
    EXPECT_EQ(ControlText(dialog, IDOK), StringOf(IDS_SEARCH_OK));
    PostCommand(dialog, IDCANCEL);
  };
  Run(IDM_SEARCH_SLAVES, s);
  EXPECT_TRUE(pressed);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("\t105\t"), std::string::npos) << lines[0];  // its serial number
  const std::string notRead = "\t125 kBaud\t" + StringOf(IDS_NODE_NOT_READ);
  EXPECT_EQ(lines[1], "6" + notRead);
  EXPECT_EQ(lines[2], "7" + notRead);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Slave(i).allocChoice, 0) << i;
    EXPECT_EQ(Slave(i).ucmmOpen, 0) << i;
  }
}

TEST_F(Commissioning, SearchFindingNothingSaysSoAndCloses) {
  Start(SlaveAt(5), USB_AT_125);
  // A first search finds the slave; Cancel leaves the address as it was.
  Script first;
  first.onIdle = [&](HWND dialog) {
    if (first.idles == 1) PostCommand(dialog, IDCANCEL);
  };
  Run(IDM_SEARCH_SLAVES, first);
  EXPECT_EQ(first.idles, 1);
  EXPECT_EQ(g_App.CurrAdr, 10);

  // The adapter at 500 kbit/s hears nothing of the slave at 125.
  SendDlgItemMessageA(main_, IDC_MAIN_BAUD, CB_SETCURSEL, 2, 0);
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDC_MAIN_BAUD, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(main_, IDC_MAIN_BAUD)));
  ASSERT_EQ(g_App.BaudIndex, 2);
  // Asked whether to search the other rates, the user says No.
  TheSim().traceClear();
  Script second;
  second.answers = {IDNO};
  Run(IDM_SEARCH_SLAVES, second);
  EXPECT_EQ(second.idles, 0) << "the dialog closed by itself";
  ASSERT_EQ(second.boxes.size(), 1u);
  EXPECT_EQ(second.boxes[0], StringOf(IDS_NO_SLAVE_FOUND));
  EXPECT_TRUE(second.boxOnDialog[0]);
  EXPECT_EQ(g_App.CurrAdr, 10);
  for (const SimTraceFrame& f : Trace()) EXPECT_EQ(f.baudIndex, 2) << "only 500 kbit/s probed";
}

// Nothing at 500 kbit/s; Yes searches 125 and 250, where the slave is, and
// picking it brings its rate into the main window.
TEST_F(Commissioning, NothingFoundOffersTheOtherRatesAndThePickBringsItsRate) {
  Start(SlaveAt(5), "PrinterPort=4096\r\nBaud=2\r\nCurrAdr=10\r\n");
  Script s;
  s.answers = {IDYES};
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    const int five = EntryStarting(dialog, "5\t125 kBaud\t");
    ASSERT_GE(five, 0);
    EXPECT_EQ(Selected(dialog), five);
    EXPECT_EQ(EntryStarting(dialog, "(4)"), 4);
    PostCommand(dialog, IDC_SEARCH_LIST, LBN_DBLCLK);
  };
  Run(IDM_SEARCH_SLAVES, s);
  ASSERT_EQ(s.boxes.size(), 1u);
  EXPECT_EQ(s.boxes[0], StringOf(IDS_NO_SLAVE_FOUND));
  EXPECT_EQ(s.idles, 1);
  EXPECT_EQ(g_App.CurrAdr, 5);
  EXPECT_EQ(g_App.BaudIndex, 0);
  EXPECT_EQ(ControlText(main_, IDC_MAIN_ADDRESS), "5");
  EXPECT_EQ(SendDlgItemMessageA(main_, IDC_MAIN_BAUD, CB_GETCURSEL, 0, 0), 0);
}

// The menu's search at every rate: each node on its line with its rate and
// identity, a silent address still pickable without touching the rate.
TEST_F(Commissioning, SearchAtAllRatesShowsWhoEachNodeIs) {
  Start(
      "[slave]\nmac = 3\nbaud = 125\nvendor = 1\ndevice_type = 12\nproduct_code = 77\n"
      "revision = 3.4\nserial = 4660\nname = Gateway DN\n"
      "[slave]\nmac = 3\nbaud = 500\nucmm = no\n"
      "[slave]\nmac = 8\nbaud = 250\n",
      USB_AT_125);
  Script s;
  s.answers = {IDYES};  // probing at the foreign rates is fine on this bench
  std::string gateway;
  int at500 = -1;
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    EXPECT_EQ(ControlText(dialog, IDOK), StringOf(IDS_SEARCH_OK));
    gateway = EntryText(dialog, EntryStarting(dialog, "3\t125 kBaud\t"));
    EXPECT_GE(EntryStarting(dialog, "8\t250 kBaud\t"), 0);
    at500 = EntryStarting(dialog, "3\t500 kBaud\t");
    EXPECT_EQ(at500, 4);  // (0) (1) (2), 3 at 125, 3 at 500
    EXPECT_EQ(Selected(dialog), 3);
    SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_SETCURSEL, static_cast<WPARAM>(at500), 0);
    PostCommand(dialog, IDOK);
  };
  Run(IDM_SEARCH_ALL_RATES, s);
  EXPECT_EQ(s.boxes, std::vector<std::string>{StringOf(IDS_SEARCH_ALL_RATES_ASK)});
  EXPECT_EQ(gateway.substr(0, gateway.find("\t12 ")),
            "3\t125 kBaud\t1 Rockwell Automation/Allen-Bradley");
  EXPECT_EQ(gateway.substr(gateway.find("\t77\t")), "\t77\t3.4\t4660\tGateway DN");
  EXPECT_EQ(g_App.CurrAdr, 3);
  EXPECT_EQ(g_App.BaudIndex, 2);
  EXPECT_EQ(SendDlgItemMessageA(main_, IDC_MAIN_BAUD, CB_GETCURSEL, 0, 0), 2);
}

// The search at every rate asks first, with the warning; No sends nothing.
TEST_F(Commissioning, SearchAtAllRatesAsksFirstAndNoSendsNothing) {
  Start(SlaveAt(5), USB_AT_125);
  Script s;
  s.answers = {IDNO};
  Run(IDM_SEARCH_ALL_RATES, s);
  EXPECT_EQ(s.boxes, std::vector<std::string>{StringOf(IDS_SEARCH_ALL_RATES_ASK)});
  EXPECT_TRUE(s.boxOnDialog[0]);
  EXPECT_EQ(s.idles, 0) << "the dialog closed at once";
  EXPECT_EQ(TheSim().traceCount(), 0u);
  EXPECT_EQ(g_App.CurrAdr, 10);
  EXPECT_EQ(g_App.AdapterOpen, 0);
}

// An adapter that refuses to send (bus off) stops the search with its error;
// the nothing-found question and its offer of the other rates never come.
TEST_F(Commissioning, AdapterErrorStopsTheSearchWithoutOfferingOtherRates) {
  Start(SlaveAt(5), USB_AT_125);
  TheSim().setAdapterStatus(SIMCAN_ERR_BUSOFF, 0);
  Script s;
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    EXPECT_TRUE(ListEntries(dialog).empty());
    EXPECT_EQ(ControlText(dialog, IDOK), StringOf(IDS_SEARCH_OK));
    PostCommand(dialog, IDCANCEL);
  };
  Run(IDM_SEARCH_SLAVES, s);
  TheSim().setAdapterStatus(0, 0);
  // Bus off refuses the own MAC ID check already, which says so.
  ASSERT_EQ(s.boxes.size(), 1u);
  char expected[1000] = "";
  persist::FormatResString(IDS_OWN_MAC_CHECK_REFUSED, "1", StringOf(IDS_BUS_OFF).c_str(), nullptr,
                           expected, sizeof expected);
  EXPECT_EQ(s.boxes[0], expected);
  EXPECT_TRUE(s.boxOnDialog[0]);
  EXPECT_EQ(s.idles, 1);
  EXPECT_EQ(TheSim().traceCount(), 0u);
  EXPECT_EQ(g_App.CurrAdr, 10);
}

// A node that answers probes but no explicit message (a scanner) comes
// first in the list; the first node whose identity was read is selected.
TEST_F(Commissioning, SelectionPrefersTheFirstNodeIdentified) {
  Start("[slave]\nmac = 2\nucmm = no\ndrop_explicit = 100000\n" + SlaveAt(8), USB_AT_125);
  Script s;
  int selected = -2;
  int eight = -1;
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    selected = Selected(dialog);
    eight = EntryStarting(dialog, "8\t125 kBaud\t");
    EXPECT_EQ(EntryStarting(dialog, "2\t125 kBaud\t"), 2);
    PostCommand(dialog, IDOK);
  };
  Run(IDM_SEARCH_SLAVES, s);
  EXPECT_EQ(eight, 8);
  EXPECT_EQ(selected, eight);
  EXPECT_EQ(g_App.CurrAdr, 8);
}

TEST_F(Commissioning, AdapterThatDoesNotOpenLeavesAnEmptyListWithOk) {
  Start(SlaveAt(5), "PrinterPort=4097\r\nBaud=0\r\nCurrAdr=10\r\n");  // PCI: no driver here
  Script s;
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    EXPECT_TRUE(ListEntries(dialog).empty());
    EXPECT_EQ(Selected(dialog), LB_ERR);
    EXPECT_EQ(ControlText(dialog, IDOK), StringOf(IDS_SEARCH_OK));
    PostCommand(dialog, IDOK);
  };
  Run(IDM_SEARCH_SLAVES, s);
  EXPECT_EQ(s.idles, 1);
  ASSERT_EQ(s.boxes.size(), 1u);
  EXPECT_EQ(s.boxes[0], StringOf(IDS_CAN_DLL_LOAD_FAILED));
  EXPECT_EQ(g_App.CurrAdr, 10);
  EXPECT_EQ(TheSim().traceCount(), 0u);
}

// ---- Capture of a whole use ----------------------------------------------------

void RunIdleStep(void*) {
  ui::IdleStep();
}

void KeepBoxText(HWND box, void* text) {
  *static_cast<std::string*>(text) = uitest::StaticTexts(box);
}

// A search, a start, cyclic I/O with fragmented polls, an attribute read and
// write, a stop and an address change, with a scanner polling its own slave
// beside: the capture holds every frame the simulated adapter sent or had
// queued, and nothing else. The file stays for the tshark check.
// ---- Own MAC ID -------------------------------------------------------------

// Communication | Own MAC ID: Automatic at first; a fixed MAC ID out of
// range is refused with a word and the dialog stays; 61 is taken, the next
// start uses it (its only check, and the slave allocated by it), and the
// exit keeps it in the settings file with the check's serial number.
TEST_F(Commissioning, FixedOwnMacIdFromTheMenuIsUsedAndKept) {
  Start(SlaveAt(10), USB_AT_125);
  EXPECT_FALSE(GetMenuState(GetMenu(main_), IDM_OWN_MAC, MF_BYCOMMAND) & MF_GRAYED);
  Script s;
  bool automaticFirst = false;
  bool fieldEnabledFirst = true;
  std::string valueFirst;
  s.onIdle = [&](HWND dialog) {
    if (s.idles == 1) {
      automaticFirst = IsDlgButtonChecked(dialog, IDC_OWN_MAC_AUTO) == BST_CHECKED;
      fieldEnabledFirst = IsWindowEnabled(GetDlgItem(dialog, IDC_OWN_MAC_VALUE)) != FALSE;
      valueFirst = ControlText(dialog, IDC_OWN_MAC_VALUE);
      SendDlgItemMessageA(dialog, IDC_OWN_MAC_FIXED, BM_CLICK, 0, 0);
      SetDlgItemTextA(dialog, IDC_OWN_MAC_VALUE, "64");
      PostCommand(dialog, IDOK);
    } else if (s.boxes.size() == 1 && ControlText(dialog, IDC_OWN_MAC_VALUE) == "64") {
      EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_OWN_MAC_VALUE)));
      SetDlgItemTextA(dialog, IDC_OWN_MAC_VALUE, "61");
      PostCommand(dialog, IDOK);
    }
  };
  Run(IDM_OWN_MAC, s);
  EXPECT_TRUE(automaticFirst);
  EXPECT_FALSE(fieldEnabledFirst);
  EXPECT_EQ(valueFirst, "62");
  ASSERT_EQ(s.boxes.size(), 1u);
  EXPECT_EQ(s.boxes[0], StringOf(IDS_OWN_MAC_RANGE));
  EXPECT_EQ(g_App.OwnMacFixed, 1);
  EXPECT_EQ(g_App.OwnMacChoice, 61);

  Script start;
  Run(IDM_START, start);
  ASSERT_EQ(g_App.CommActive, 1) << (start.boxes.empty() ? "" : start.boxes.back());
  EXPECT_TRUE(GetMenuState(GetMenu(main_), IDM_OWN_MAC, MF_BYCOMMAND) & MF_GRAYED);
  EXPECT_EQ(Slave(0).allocator, 61);
  std::vector<int> checked;
  for (const SimTraceFrame& f : Trace()) {
    if (f.adapter == SIM_TRACE_SENT_BY_ADAPTER && (f.id & 0x607) == 0x407) {
      checked.push_back(static_cast<int>((f.id >> 3) & 0x3F));
    }
  }
  EXPECT_EQ(checked, (std::vector<int>{61, 61}));
  const uint32_t serial = static_cast<uint32_t>(g_App.CheckSerial);
  EXPECT_NE(serial, 0u);

  uitest::ExitProgram();
  const std::string path = uitest::SettingsPath();
  EXPECT_EQ(GetPrivateProfileIntA("Tarnix", "OwnMacFixed", -1, path.c_str()), 1);
  EXPECT_EQ(GetPrivateProfileIntA("Tarnix", "OwnMacId", -1, path.c_str()), 61);
  char text[32] = "";
  GetPrivateProfileStringA("Tarnix", "CheckSerial", "", text, sizeof text, path.c_str());
  EXPECT_EQ(static_cast<uint32_t>(std::strtoll(text, nullptr, 10)), serial) << text;
}

TEST_F(Commissioning, WholeUseIsCapturedFrameForFrame) {
  Start(
      "[slave]\nmac = 10\nproduced = 20\nconsumed = 20\nucmm = yes\n"
      "[slave]\nmac = 20\nucmm = no\n"
      "[master]\nmac = 0\nslave = 20\nucmm = no\npoll_ms = 20\n",
      USB_AT_125);
  const char* file = "whole_use.pcap";
  DeleteFileA(file);
  TheSim().traceClear();
  ASSERT_TRUE(ui::StartCapture(main_, file, monitor::CaptureFormat::Pcap));

  Script search;
  search.onIdle = [&](HWND dialog) {
    if (search.idles == 1) PostCommand(dialog, IDOK);  // takes the first node found: 0
  };
  Run(IDM_SEARCH_SLAVES, search);
  SetDlgItemTextA(main_, IDC_MAIN_ADDRESS, "10");
  Script start;  // the outputs warning answered OK
  Run(IDM_START, start);
  ASSERT_EQ(g_App.CommActive, 1) << (start.boxes.empty() ? "" : start.boxes.back());
  for (int i = 0; i < 20; ++i) ui::IdleStep();
  g_App.AttrClassId = 1;
  g_App.AttrInstanceId = 1;
  g_App.AttrAttributeId = 7;
  g_App.ReadAttrPending = 1;
  std::string box;
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, KeepBoxText, &box, RunIdleStep, nullptr), 0) << box;
  EXPECT_EQ(g_App.ReadAttrPending, 0);
  g_App.AttrClassId = 4;  // the output assembly
  g_App.AttrInstanceId = 150;
  g_App.AttrAttributeId = 3;
  const uint8_t value[] = {0x20, 0x05, 0x00, 0x00};
  std::memcpy(g_App.WriteValue, value, sizeof value);
  g_App.WriteValueLength = sizeof value;
  g_App.WriteAttrPending = 1;  // refused while the poll connection runs (0C), and said so
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, KeepBoxText, &box, RunIdleStep, nullptr), 1);
  EXPECT_NE(box.find("0C hex"), std::string::npos) << box;
  EXPECT_EQ(g_App.WriteAttrPending, 0);
  Script stop;
  Run(IDM_STOP, stop);
  ui::IdleStep();
  ASSERT_EQ(g_App.CommActive, 0);
  Script change;
  change.onIdle = [&](HWND dialog) {
    if (change.idles > 1) return;
    SetDlgItemTextA(dialog, IDC_CHANGE_NEW_ADDRESS, "11");
    PostCommand(dialog, IDOK);
  };
  Run(IDM_CHANGE_ADDRESS, change);
  EXPECT_EQ(Slave(0).macId, 11);
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_CAPTURE, 0), 0);  // stops the capture
  EXPECT_FALSE(monitor::CaptureRunning());

  std::vector<SimTraceFrame> heard;
  int lost = 0;
  int scannerPolls = 0;
  for (const SimTraceFrame& f : Trace()) {
    if (f.adapter == SIM_TRACE_SENT_BY_ADAPTER || f.adapter == SIM_TRACE_QUEUED_FOR_ADAPTER) {
      heard.push_back(f);
      if (f.id == (0x400u | 20u << 3 | 5u)) ++scannerPolls;  // the scanner's poll of 20
    }
    lost += f.adapter == SIM_TRACE_LOST_BY_ADAPTER;
  }
  EXPECT_EQ(lost, 0);
  EXPECT_GT(scannerPolls, 0) << "foreign traffic was on the bus";
  const std::string pcap = uitest::ReadTextFile(file);
  ASSERT_GE(pcap.size(), 24u);
  ASSERT_EQ((pcap.size() - 24) % 32, 0u);
  const size_t captured = (pcap.size() - 24) / 32;
  // The same frames: the tap takes a frame sent when the driver queues it
  // and one received when it is read, so the order differs from the wire's
  // where the two cross; the set of frames does not.
  ASSERT_EQ(captured, heard.size());
  std::multiset<std::string> inCapture;
  std::multiset<std::string> onWire;
  for (size_t i = 0; i < captured; ++i) {
    const char* record = pcap.data() + 24 + 32 * i;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(record);
    const uint32_t id = uint32_t(bytes[16]) << 24 | uint32_t(bytes[17]) << 16 |
                        uint32_t(bytes[18]) << 8 | bytes[19];
    inCapture.insert(std::to_string(id) + ":" + std::string(record + 24, bytes[20] & 0x0F));
  }
  for (const SimTraceFrame& f : heard) {
    onWire.insert(std::to_string(f.id) + ":" +
                  std::string(reinterpret_cast<const char*>(f.data), f.len));
  }
  EXPECT_TRUE(inCapture == onWire);
}

// ---- Change Address and Baud Rate --------------------------------------------

void Type(HWND dialog, int id, const char* text) {
  SetDlgItemTextA(dialog, id, text);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void Choose(HWND dialog, int id, int index) {
  SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

int ChosenBaud(HWND dialog, int id) {
  return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}

// What is no MAC ID stays in its field as typed; OK says what is wrong and
// the dialog stays open, nothing sent; Cancel then changes nothing.
TEST_F(Commissioning, ChangeRefusesWhatIsNoAddressAndStaysOpen) {
  Start(SlaveAt(10), USB_AT_125);
  const struct {
    int id;
    const char* typed;
    bool leaveField;  // the field loses the focus before OK (else Enter in it)
    std::string box;
  } cases[] = {
      {IDC_CHANGE_NEW_ADDRESS, "64", true,
       "The new address must be a number from 0 to 63: \"64\" is not."},
      {IDC_CHANGE_NEW_ADDRESS, "abc", true,
       "The new address must be a number from 0 to 63: \"abc\" is not."},
      {IDC_CHANGE_NEW_ADDRESS, "-1", false,
       "The new address must be a number from 0 to 63: \"-1\" is not."},
      {IDC_CHANGE_NEW_ADDRESS, "", true,
       "The new address must be a number from 0 to 63: \"\" is not."},
      {IDC_CHANGE_NEW_ADDRESS, "7x", false,
       "The new address must be a number from 0 to 63: \"7x\" is not."},
      {IDC_CHANGE_OLD_ADDRESS, "99999999999", true,
       "The old address must be a number from 0 to 63: \"99999999999\" is not."},
      {IDC_CHANGE_OLD_ADDRESS, "0000000000000000000000000000000000005", true,
       "The old address must be a number from 0 to 63: \"000000000000000000000000000...\" is not."},
  };
  const size_t count = sizeof cases / sizeof cases[0];
  size_t step = 0;
  std::vector<std::string> shown;  // the field's text after each refusal
  Script s;
  s.onIdle = [&](HWND dialog) {
    if (step > 0) shown.push_back(ControlText(dialog, cases[step - 1].id));
    if (step == count) {
      PostCommand(dialog, IDCANCEL);
      ++step;
      return;
    }
    if (step > count) return;
    SetDlgItemTextA(dialog, IDC_CHANGE_OLD_ADDRESS, "10");
    SetDlgItemTextA(dialog, IDC_CHANGE_NEW_ADDRESS, "20");
    const auto& c = cases[step++];
    if (c.leaveField) {
      Type(dialog, c.id, c.typed);
    } else {
      SetDlgItemTextA(dialog, c.id, c.typed);
    }
    PostCommand(dialog, IDOK);
  };
  Run(IDM_CHANGE_ADDRESS, s);
  ASSERT_EQ(s.boxes.size(), count);
  ASSERT_EQ(shown.size(), count);
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(cases[i].typed);
    EXPECT_EQ(s.boxes[i], cases[i].box);
    EXPECT_TRUE(s.boxOnDialog[i]);
    EXPECT_EQ(shown[i], cases[i].typed) << "kept as typed";
  }
  EXPECT_EQ(s.idles, static_cast<int>(count) + 1) << "open until Cancel";
  EXPECT_EQ(TheSim().traceCount(), 0u);
  EXPECT_EQ(g_App.CurrAdr, 10);
  EXPECT_EQ(Slave(0).macId, 10);
}

TEST_F(Commissioning, ChangeBaudListsKeepTheirChoice) {
  Start(SlaveAt(10), USB_AT_125);
  Script s;
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    for (int id : {IDC_CHANGE_OLD_BAUD, IDC_CHANGE_NEW_BAUD}) {
      SCOPED_TRACE(id);
      char text[32] = "";
      const char* rates[] = {"125 kB", "250 kB", "500 kB"};
      ASSERT_EQ(SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0), 3);
      for (int i = 0; i < 3; ++i) {
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(i),
                            reinterpret_cast<LPARAM>(text));
        EXPECT_STREQ(text, rates[i]);
      }
      EXPECT_EQ(ChosenBaud(dialog, id), 0);
      Choose(dialog, id, 1);
      Choose(dialog, id, -1);  // no selection: back to the value it had
      EXPECT_EQ(ChosenBaud(dialog, id), 1);
    }
    PostCommand(dialog, IDCANCEL);
  };
  Run(IDM_CHANGE_ADDRESS, s);
  EXPECT_EQ(s.idles, 1);
  EXPECT_TRUE(s.boxes.empty());
  EXPECT_EQ(TheSim().traceCount(), 0u);
  EXPECT_EQ(g_App.BaudIndex, 0);
}

TEST_F(Commissioning, ChangeWithUnchangedValuesSendsNothing) {
  Start(SlaveAt(10), USB_AT_125);
  Script s;
  s.onIdle = [&](HWND dialog) {
    if (s.idles == 1) PostCommand(dialog, IDOK);
  };
  Run(IDM_CHANGE_ADDRESS, s);
  EXPECT_EQ(s.idles, 1);
  EXPECT_TRUE(s.boxes.empty());
  EXPECT_EQ(TheSim().traceCount(), 0u);
  EXPECT_EQ(g_App.AdapterOpen, 0);
}

TEST_F(Commissioning, ChangeAddressTypedAndConfirmedWithEnter) {
  Start(SlaveAt(10), USB_AT_125);
  Script s;
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    // Typed, and Enter pressed while the field still has the focus.
    SetDlgItemTextA(dialog, IDC_CHANGE_NEW_ADDRESS, "20");
    PostCommand(dialog, IDOK);
  };
  Run(IDM_CHANGE_ADDRESS, s);
  EXPECT_TRUE(s.boxes.empty()) << s.boxes[0];
  EXPECT_EQ(Slave(0).macId, 20);
  EXPECT_EQ(g_App.CurrAdr, 20);
  EXPECT_EQ(ControlText(main_, IDC_MAIN_ADDRESS), "20");
  EXPECT_EQ(g_App.AdapterOpen, 0);
}

// While the change runs, the window works but the dialog takes no second OK
// and does not close: the address is written once and the dialog ends when
// the change has been checked.
TEST_F(Commissioning, ChangeRunsOnceWhateverIsPressedMeanwhile) {
  Start(SlaveAt(10), USB_AT_125);
  Script s;
  std::vector<std::string> progress;
  bool okGreyed = false;
  s.onProgress = [&](HWND dialog, const char* text) {
    progress.push_back(text);
    if (progress.size() != 1) return;
    okGreyed = !IsWindowEnabled(GetDlgItem(dialog, IDOK));
    PostCommand(dialog, IDOK);
    PostCommand(dialog, IDCANCEL);
    PostMessageA(GetDlgItem(dialog, IDC_CHANGE_NEW_ADDRESS), WM_KEYDOWN, VK_ESCAPE, 0);
  };
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    SetDlgItemTextA(dialog, IDC_CHANGE_NEW_ADDRESS, "20");
    PostCommand(dialog, IDOK);
  };
  Run(IDM_CHANGE_ADDRESS, s);
  EXPECT_TRUE(s.boxes.empty()) << s.boxes[0];
  EXPECT_TRUE(okGreyed);
  EXPECT_EQ(std::count(progress.begin(), progress.end(), StringOf(IDS_PROGRESS_WRITING_ADDRESS)),
            1);
  EXPECT_EQ(s.idles, 1) << "the dialog ended after the change";
  EXPECT_EQ(Slave(0).macId, 20);
  EXPECT_EQ(g_App.CurrAdr, 20);
}

TEST_F(Commissioning, ChangeBaudRateShowsTheNewRateInTheMainWindow) {
  Start(SlaveAt(10), USB_AT_125);
  Script s;
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    Choose(dialog, IDC_CHANGE_NEW_BAUD, 2);
    PostCommand(dialog, IDOK);
  };
  Run(IDM_CHANGE_ADDRESS, s);
  EXPECT_TRUE(s.boxes.empty()) << s.boxes[0];
  EXPECT_EQ(Slave(0).baudIndex, 2);
  EXPECT_EQ(g_App.BaudIndex, 2);
  EXPECT_EQ(SendDlgItemMessageA(main_, IDC_MAIN_BAUD, CB_GETCURSEL, 0, 0), 2);
}

// Nothing is written onto an occupied address, and the dialog stays open
// for another choice.
TEST_F(Commissioning, ChangeOntoAnOccupiedAddressIsRefused) {
  Start(SlaveAt(10) + SlaveAt(20), USB_AT_125);
  Script s;
  std::string afterwards;
  s.onIdle = [&](HWND dialog) {
    if (s.idles == 1) {
      Type(dialog, IDC_CHANGE_NEW_ADDRESS, "20");
      PostCommand(dialog, IDOK);
    } else if (s.idles == 2) {
      afterwards = ControlText(dialog, IDC_CHANGE_NEW_ADDRESS);
      EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
      PostCommand(dialog, IDCANCEL);
    }
  };
  Run(IDM_CHANGE_ADDRESS, s);
  EXPECT_EQ(s.idles, 2) << "open after the message";
  EXPECT_EQ(afterwards, "20");
  ASSERT_EQ(s.boxes.size(), 1u) << "no 1020 after it";
  EXPECT_EQ(s.boxes[0],
            "Address 20 is already in use by another device!\n\nThe slave keeps its address 10.");
  EXPECT_TRUE(s.boxOnDialog[0]) << "the box belongs to the dialog";
  EXPECT_EQ(Slave(0).macId, 10);
  EXPECT_EQ(Slave(1).macId, 20);
  EXPECT_EQ(Slave(1).link, SIM_LINK_ONLINE);
  EXPECT_EQ(g_App.CurrAdr, 10);
}

TEST_F(Commissioning, ChangeOfAMissingSlaveNamesItsAddress) {
  Start(SlaveAt(10), "PrinterPort=4096\r\nBaud=0\r\nCurrAdr=11\r\n");
  Script s;
  s.onIdle = [&](HWND dialog) {
    if (s.idles > 1) return;
    Type(dialog, IDC_CHANGE_NEW_ADDRESS, "12");
    PostCommand(dialog, IDOK);
  };
  Run(IDM_CHANGE_ADDRESS, s);
  ASSERT_EQ(s.boxes.size(), 1u);
  EXPECT_EQ(s.boxes[0], "Slave with address 11 does not exist!");
  EXPECT_EQ(g_App.CurrAdr, 11);
}

}  // namespace
