// The serial-line path end to end, natively: the master through the driver
// binding, libserialcan beside the test as serialcan.dll, and the adapter
// emulator program on a pseudo-terminal as COM5, with the faults of a real
// line and real adapters. Real time throughout: neither the line nor the
// emulator follows a test clock. Message boxes are the native build's
// recorded ones.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "can/frame_tap.h"
#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/session.h"
#include "master/transactions.h"
#include "persist/msgbox.h"
#include "persist/native_seams.h"
#include "persist/resstring.h"
#include "persist/ui_text_record.h"
#include "platform/platform.h"
#include "resource.h"

namespace {

using app::g_App;

constexpr int COM = 5;
constexpr uint8_t SLAVE = 10;
constexpr int STEPS = 40;

constexpr const char* CONFIG =
    "[slave]\nmac = 10\nbaud = 125\nproduced = 8\nconsumed = 8\nio = echo\n";

// Armed: the emulator's adapter goes bus off as the next poll command
// leaves, in the middle of the exchange.
pid_t busOffTarget = -1;
constexpr uint32_t POLL_COMMAND_ID = 0x400 | (SLAVE << 3) | 5;

void BusOffAtPoll(const can::TappedFrame& frame) {
  if (busOffTarget > 0 && frame.direction == can::TAP_SENT && frame.id == POLL_COMMAND_ID) {
    kill(busOffTarget, SIGUSR1);
    busOffTarget = -1;
  }
}

int mainWindowTag;
void* const MAIN = &mainWindowTag;

void NoPump(void*) {}
void NoRefresh(void*, app::IoBuffers*, int) {}
void NoControlStates(void*) {}
void NoOutputByte(void*, uint32_t) {}

std::string StringOf(unsigned id) {
  char text[1000];
  return persist::LoadResString(id, text, sizeof text) > 0 ? text : "";
}

// The emulator program with `faults` on the command line; its line becomes
// COM5 for the library.
class SerialLine : public ::testing::Test {
 protected:
  void StartEmulator(const std::vector<std::string>& faults) {
    char folder[] = "/tmp/serialcan_line_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    config_ = folder_ + "/bus.ini";
    FILE* file = std::fopen(config_.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(CONFIG, file);
    std::fclose(file);

    std::vector<std::string> args = {SERIALCAN_EMU_PATH, "--config", config_};
    args.insert(args.end(), faults.begin(), faults.end());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    emulator_ = fork();
    ASSERT_GE(emulator_, 0);
    if (emulator_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(SERIALCAN_EMU_PATH, argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string path;
    char c = 0;
    pollfd p{out[0], POLLIN, 0};
    while (poll(&p, 1, 2000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') path += c;
    close(out[0]);
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    setenv(("SERIALCAN_COM" + std::to_string(COM)).c_str(), path.c_str(), 1);
  }

  void StartMaster() {
    app::InitAppState(nullptr);
    g_App.Io = &io_;
    g_App.PrinterPort = can::PORT_SERIAL_FIRST + COM - 1;
    g_App.BaudIndex = 0;
    g_App.CurrAdr = SLAVE;
    devicenet::ClearSendHook();
    devicenet::SetSendHook(devicenet::SendFrame);
    devicenet::InitNodeTable(devicenet::g_NodeTable);
    master::ForgetHeldSet();
    master::UcmmConnOpen = 0;
    master::CommView view{};
    view.RefreshDataViews = NoRefresh;
    view.UpdateControlStates = NoControlStates;
    view.ShowOutputByte = NoOutputByte;
    view.ProcessMessage = NoPump;
    master::SetCommView(view);
    persist::ClearRecordedBoxes();
    persist::ScriptBoxAnswer(persist::BOX_IDOK);  // the outputs warning
    ASSERT_EQ(master::CommStart(MAIN), 1) << Boxes();
    persist::ClearRecordedBoxes();
    persist::ClearControlTexts();
  }

  void TearDown() override { Stop(); }

  void Stop() {
    master::CommStop(MAIN);
    can::CloseAdapter(nullptr);
    master::ResetCommView();
    if (emulator_ > 0) {
      kill(emulator_, SIGTERM);
      waitpid(emulator_, nullptr, 0);
      emulator_ = -1;
    }
    unsetenv(("SERIALCAN_COM" + std::to_string(COM)).c_str());
    if (!config_.empty()) unlink(config_.c_str());
    if (!folder_.empty()) rmdir(folder_.c_str());
    config_.clear();
    folder_.clear();
  }

  static std::string Boxes() {
    std::string all;
    for (const persist::RecordedBox& b : persist::RecordedBoxes()) all += b.text + "\n---\n";
    return all;
  }

  // Outputs counting up; each step's inputs echo them.
  void RunCyclicSteps(int steps) {
    for (int step = 0; step < steps; ++step) {
      for (int i = 0; i < 8; ++i) g_App.OutputEdit.Data[i] = static_cast<uint8_t>(step + i);
      ASSERT_EQ(master::CyclicStep(MAIN), 1) << "step " << step << "\n" << Boxes();
      ASSERT_TRUE(persist::RecordedBoxes().empty()) << "step " << step << "\n" << Boxes();
      ASSERT_EQ(io_.Input.Length, 8u);
      for (int i = 0; i < 8; ++i) ASSERT_EQ(io_.Input.Data[i], static_cast<uint8_t>(step + i));
    }
  }

  std::string LastBusStatusText() {
    std::string text;
    for (const persist::RecordedControlText& t : persist::RecordedControlTexts()) {
      if (t.controlId == IDC_MAIN_BUS_STATUS) text = t.text;
    }
    return text;
  }

  app::IoBuffers io_{};
  pid_t emulator_ = -1;
  std::string folder_;
  std::string config_;
};

// An adapter left with a channel open and half a line by an earlier
// program, lines ending in CR LF, answers lost, frames refused, a noise
// burst's bus-error flag: the adapter opens and every poll of the cyclic
// exchange gets through, without a fault. (A refusal whose BEL is lost is a
// frame lost for good, which only the link layer's time-outs can mend: lost
// answers and refusals are not combined.)
TEST_F(SerialLine, AFaultyLineKeepsTheExchangeRunning) {
  const struct {
    std::vector<std::string> faults;
    unsigned busStatus;
  } cases[] = {
      {{"--half-line"}, IDS_BUS_NORMAL},
      {{"--crlf"}, IDS_BUS_NORMAL},
      {{"--lose-every", "7"}, IDS_BUS_NORMAL},
      {{"--refuse-every", "5"}, IDS_BUS_NORMAL},
      {{"--bus-error"}, IDS_BUS_WARNING},
      {{"--half-line", "--crlf", "--lose-every", "7", "--bus-error"}, IDS_BUS_WARNING},
      {{"--half-line", "--crlf", "--refuse-every", "5", "--bus-error"}, IDS_BUS_WARNING},
  };
  for (const auto& c : cases) {
    std::string name;
    for (const std::string& f : c.faults) name += f + " ";
    SCOPED_TRACE(name);
    StartEmulator(c.faults);
    StartMaster();
    RunCyclicSteps(STEPS);
    EXPECT_EQ(LastBusStatusText(), StringOf(c.busStatus));
    Stop();
  }
}

// Bus off during the cyclic exchange, as a poll command leaves: the failure
// message names it, as on the direct path, though the flags read before
// the poll were good. Cancel stops the exchange.
TEST_F(SerialLine, BusOffDuringTheExchangeIsNamed) {
  StartEmulator({});
  StartMaster();
  RunCyclicSteps(5);
  persist::ScriptBoxAnswer(persist::BOX_IDCANCEL);
  busOffTarget = emulator_;
  can::SetFrameTap(BusOffAtPoll);
  for (int step = 0; step < 10 && persist::RecordedBoxes().empty(); ++step) {
    master::CyclicStep(MAIN);
  }
  can::SetFrameTap(nullptr);
  EXPECT_EQ(busOffTarget, -1);
  ASSERT_EQ(persist::RecordedBoxes().size(), 1u) << Boxes();
  const std::string box = persist::RecordedBoxes()[0].text;
  EXPECT_NE(box.find(StringOf(IDS_BUS_OFF)), std::string::npos) << box;
  EXPECT_EQ(g_App.CommActive, 0);
}

}  // namespace
