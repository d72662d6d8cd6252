// The window while the program waits, under Wine, in-process, on the real
// clock: the real shell and main window, the simulated adapter beside the
// test as the USB adapter's driver. During every long operation (start,
// stop, the search's settle wait and probing, the address and baud rate
// changes) a second thread's message to the window is answered within
// 250 ms; the test prints the slowest answer of each.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "persist/messages.h"
#include "platform/platform.h"
#include "resource.h"
#include "sim_client.h"
#include "ui/shell.h"
#include "ui_test_support.h"

namespace {

using namespace sim_client;
using app::g_App;

constexpr uint8_t SLAVE_MAC = 10;
const char SLAVE_CONFIG[] =
    "[slave]\nmac = 10\nbaud = 125\nserial = 0x80000001\nproduced = 8\nconsumed = 8\n"
    "ucmm = yes\nio = echo\n";
const char SETTINGS[] = "[Tarnix]\r\nPrinterPort=4096\r\nBaud=0\r\nCurrAdr=10\r\n";

void SendStart(void* window) {
  SendMessageA(static_cast<HWND>(window), WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);
}

class WindowAlive : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::DisableTestClock();
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(SLAVE_CONFIG, "test.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    uitest::PumpMessages();
    uitest::SetLangValue(0, nullptr, 0);
    uitest::WriteSettingsFile(SETTINGS);
    ASSERT_EQ(ui::InitInstance(GetModuleHandleA(nullptr), SW_SHOW), 1);
    main_ = static_cast<HWND>(g_App.hMainWnd);
    uitest::PumpMessages();
  }

  void TearDown() override { uitest::ExitProgram(); }

  void StartCommunication() {
    EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, nullptr, nullptr, SendStart, main_), 1);
    ASSERT_EQ(g_App.CommActive, 1);
  }

  HWND main_ = nullptr;
};

enum Phase {
  IDLE,
  START,
  STOP,
  SEARCH_SETTLE,
  SEARCH_PROBING,
  ADDRESS_CHANGE,
  BAUD_CHANGE,
  PHASES
};
const char* const PHASE_NAMES[PHASES] = {
    "idle",           "start",           "stop", "search settle", "search probing",
    "address change", "baud rate change"};
constexpr DWORD ANSWER_LIMIT_MS = 250;

// Sends WM_NULL to the main window over and over from its own thread and
// notes when each was sent and answered, by the phase it was sent in. What
// counts against an operation is the wait up to its answer or up to the
// operation's end, whichever comes first: the dialog closing or the next
// one opening afterwards is no part of it.
class Prober {
 public:
  explicit Prober(HWND window) : window_(window), thread_([this] { Run(); }) {}
  ~Prober() { Finish(); }
  // Ends the thread, answering what it sends meanwhile.
  void Finish() {
    if (!thread_.joinable()) return;
    stop_ = true;
    while (!done_) {
      MSG msg;
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
      Sleep(1);
    }
    thread_.join();
  }
  void Enter(Phase phase) {
    const Phase left = phase_.exchange(phase);
    if (left != phase && left != IDLE) ends_[left] = Now();
  }
  Phase Current() const { return phase_; }
  // In ms; call after Finish.
  std::vector<double> Answers(Phase phase) const {
    std::vector<double> waits;
    for (const Probe& p : probes_[phase]) {
      long long until = p.answered ? p.answered : p.sent + 2 * frequency_;
      if (ends_[phase] && ends_[phase] < until) until = ends_[phase];
      waits.push_back(static_cast<double>(until - p.sent) * 1000.0 /
                      static_cast<double>(frequency_));
    }
    return waits;
  }

 private:
  struct Probe {
    long long sent;
    long long answered;  // 0: no answer within 2 s
  };

  static long long Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
  }

  void Run() {
    while (!stop_) {
      const Phase phase = phase_;
      if (phase == IDLE) {
        Sleep(1);
        continue;
      }
      DWORD_PTR result = 0;
      const long long sent = Now();
      const LRESULT answered =
          SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result);
      probes_[phase].push_back({sent, answered ? Now() : 0});
      Sleep(5);
    }
    done_ = true;
  }

  HWND window_;
  long long frequency_ = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<Phase> phase_{IDLE};
  std::atomic<long long> ends_[PHASES] = {};
  std::vector<Probe> probes_[PHASES];
  std::thread thread_;
};

// What the dialog under test does, from hooks in the program's thread.
struct DialogScript {
  Prober* prober = nullptr;
  int idles = 0;
  std::function<void(HWND dialog)> onIdle;  // the dialog's loop waits
};
DialogScript* dialogScript = nullptr;

bool IsOperationDialog(HWND window) {
  return GetDlgItem(window, IDC_SEARCH_LIST) || GetDlgItem(window, IDC_CHANGE_OLD_ADDRESS);
}

LRESULT CALLBACK WatchDialog(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && dialogScript) {
    if (sent->message == WM_SETREDRAW && sent->wParam &&
        GetDlgCtrlID(sent->hwnd) == IDC_SEARCH_LIST) {
      // The list is filled after every address probed.
      const LRESULT entries = SendMessageA(sent->hwnd, LB_GETCOUNT, 0, 0);
      if (entries > 0 && entries < 64) dialogScript->prober->Enter(SEARCH_PROBING);
    } else if (sent->message == WM_ENABLE && sent->wParam && GetDlgCtrlID(sent->hwnd) == IDOK &&
               GetDlgItem(GetParent(sent->hwnd), IDC_CHANGE_OLD_ADDRESS)) {
      // The change dialog's buttons come back when the change has ended.
      const Phase now = dialogScript->prober->Current();
      if (now == ADDRESS_CHANGE || now == BAUD_CHANGE) dialogScript->prober->Enter(IDLE);
    } else if (sent->message == WM_ENTERIDLE && sent->wParam == MSGF_DIALOGBOX &&
               IsOperationDialog(reinterpret_cast<HWND>(sent->lParam))) {
      ++dialogScript->idles;
      dialogScript->prober->Enter(IDLE);
      dialogScript->onIdle(reinterpret_cast<HWND>(sent->lParam));
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The settle wait begins as the search dialog shows itself.
LRESULT CALLBACK WatchActivation(int code, WPARAM wParam, LPARAM lParam) {
  HWND window = reinterpret_cast<HWND>(wParam);
  if (code == HCBT_ACTIVATE && dialogScript && GetDlgItem(window, IDC_SEARCH_LIST) &&
      dialogScript->idles == 0) {
    dialogScript->prober->Enter(SEARCH_SETTLE);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void RunDialog(HWND main, int command, DialogScript& script) {
  dialogScript = &script;
  HHOOK sent = SetWindowsHookExA(WH_CALLWNDPROC, WatchDialog, nullptr, GetCurrentThreadId());
  HHOOK cbt = SetWindowsHookExA(WH_CBT, WatchActivation, nullptr, GetCurrentThreadId());
  SendMessageA(main, WM_COMMAND, MAKEWPARAM(command, 0), 0);
  UnhookWindowsHookEx(cbt);
  UnhookWindowsHookEx(sent);
  dialogScript = nullptr;
}

using uitest::PostCommand;

TEST_F(WindowAlive, WindowAnswersDuringEveryLongOperation) {
  // Slower answers stretch each operation over many probes.
  TheSim().delayAnswers(0, SIM_ANSWER_EXPLICIT, 40);
  Prober prober(main_);

  prober.Enter(START);
  StartCommunication();
  prober.Enter(STOP);
  SendMessageA(main_, WM_COMMAND, MAKEWPARAM(IDM_STOP, 0), 0);
  ui::IdleStep();
  prober.Enter(IDLE);
  ASSERT_EQ(g_App.CommActive, 0);

  DialogScript search;
  search.prober = &prober;
  search.onIdle = [&](HWND dialog) {
    if (search.idles == 1) PostCommand(dialog, IDCANCEL);
  };
  RunDialog(main_, IDM_SEARCH_SLAVES, search);
  EXPECT_EQ(search.idles, 1);

  DialogScript address;
  address.prober = &prober;
  address.onIdle = [&](HWND dialog) {
    if (address.idles > 1) return;
    SetDlgItemTextA(dialog, IDC_CHANGE_NEW_ADDRESS, "20");
    prober.Enter(ADDRESS_CHANGE);
    PostCommand(dialog, IDOK);
  };
  RunDialog(main_, IDM_CHANGE_ADDRESS, address);
  prober.Enter(IDLE);
  EXPECT_EQ(g_App.CurrAdr, 20);

  DialogScript baud;
  baud.prober = &prober;
  baud.onIdle = [&](HWND dialog) {
    if (baud.idles > 1) return;
    SendDlgItemMessageA(dialog, IDC_CHANGE_NEW_BAUD, CB_SETCURSEL, 1, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CHANGE_NEW_BAUD, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CHANGE_NEW_BAUD)));
    prober.Enter(BAUD_CHANGE);
    PostCommand(dialog, IDOK);
  };
  RunDialog(main_, IDM_CHANGE_ADDRESS, baud);
  prober.Enter(IDLE);
  EXPECT_EQ(g_App.BaudIndex, 1);
  prober.Finish();

  for (int phase = START; phase < PHASES; ++phase) {
    SCOPED_TRACE(PHASE_NAMES[phase]);
    const std::vector<double> answers = prober.Answers(static_cast<Phase>(phase));
    const double slowest = answers.empty() ? 0 : *std::max_element(answers.begin(), answers.end());
    std::printf("[ measured ] %-18s %4zu answers, slowest %7.1f ms\n", PHASE_NAMES[phase],
                answers.size(), slowest);
    EXPECT_FALSE(answers.empty());
    EXPECT_LT(slowest, ANSWER_LIMIT_MS);
  }
}

}  // namespace
