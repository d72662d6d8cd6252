// The serial-line adapter emulator: command answers, frames to and from the
// simulated slaves, refused commands, the pseudo-terminal's raw bytes and
// the program itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "adapter.h"
#include "pty_line.h"
#include "simcan.h"

namespace {

using namespace serialcan::emu;

// Slave at MAC 5 (125 kbit/s, echo I/O) and one at MAC 7 at 250 kbit/s.
constexpr const char* CONFIG =
    "[slave]\nmac = 5\nserial = 0x12345678\nvendor = 0x1234\nio = echo\n"
    "[slave]\nmac = 7\nbaud = 250\n";

class Emulator : public ::testing::Test {
 protected:
  void SetUp() override {
    Sim_UseManualClock();
    ASSERT_EQ(Sim_LoadConfigText(CONFIG, "emu.ini"), 0) << Sim_LastError();
    ResetAdapter(adapter_);
  }
  void TearDown() override { CAN_Close(); }

  // What the adapter sends back for `text` from the host, with every frame
  // the bus has for it by then. BEL shows as "<BEL>", CR as "|".
  std::string Host(const std::string& text) {
    Output out{};
    FeedHost(adapter_, text.data(), text.size(), out);
    while (ForwardReceived(adapter_, out) > 0) {
    }
    return Readable(std::string(out.bytes, out.length));
  }

  static std::string Readable(const std::string& bytes) {
    std::string text;
    for (char c : bytes) {
      if (c == '\r') {
        text += "|";
      } else if (c == '\a') {
        text += "<BEL>";
      } else {
        text += c;
      }
    }
    return text;
  }

  Adapter adapter_;
};

TEST_F(Emulator, CommandsAnswerByState) {
  struct Step {
    const char* host;
    const char* answer;
  } steps[] = {
      {"V\r", "V1010|"},
      {"N\r", "NQSIM|"},
      {"\r", ""},            // an empty line, as hosts send to flush the line
      {"F\r", "<BEL>"},      // closed
      {"O\r", "<BEL>"},      // no bit rate chosen yet
      {"C\r", "<BEL>"},      // not open
      {"t1230\r", "<BEL>"},  // closed: nothing goes on the bus
      {"S3\r", "<BEL>"},     // 100 kbit/s: not a DeviceNet rate
      {"S9\r", "<BEL>"},
      {"S\r", "<BEL>"},
      {"S45\r", "<BEL>"},
      {"Z2\r", "<BEL>"},
      {"Q\r", "<BEL>"},
      {"S6\r", "|"},
      {"S4\r", "|"},  // the last choice counts
      {"Z1\r", "|"},
      {"Z0\r", "|"},
      {"O\r", "|"},
      {"O\r", "<BEL>"},   // open twice
      {"S5\r", "<BEL>"},  // bit rate while open
      {"Z1\r", "<BEL>"},  // stamps while open
      {"F\r", "F00|"},
      {"t12\r", "<BEL>"},  // malformed frames
      {"t1239AABB\r", "<BEL>"},
      {"t12G0\r", "<BEL>"},
      {"t1232AA\r", "<BEL>"},
      {"t7FF0\r", "z|"},
      {"r1232\r", "z|"},  // remote and extended: taken, not on this bus
      {"T1234567811F\r", "Z|"},
      {"t7FF0t7FF0\r", "<BEL>"},                             // two frames in one line
      {"t7FF0", ""},                                         // half a line: nothing yet
      {"\r", "z|"},                                          // its end
      {"t000000000000000000000000000000000000\r", "<BEL>"},  // overlong
      {"C\r", "|"},
      {"C\r", "<BEL>"},
  };
  for (const Step& s : steps) EXPECT_EQ(Host(s.host), s.answer) << Readable(s.host);
}

// A Duplicate MAC ID check and an Allocate sent through the line reach the
// slave, and its answers come back as frame lines at once.
TEST_F(Emulator, FramesReachTheSlaveAndItsAnswersComeBack) {
  ASSERT_EQ(Host("S4\rO\r"), "||");
  EXPECT_EQ(Host("t42F700000000000000\r"), "z|t42F780341278563412|");
  EXPECT_EQ(Host("t42E6014B03010101\r"), "z|t42B301CB00|");
  // The slave at 250 kbit/s hears nothing at 125; at 250 it answers.
  EXPECT_EQ(Host("t43F700000000000000\r"), "z|");
  EXPECT_EQ(Host("C\rS5\rO\r"), "|||");
  EXPECT_EQ(Host("t43F700000000000000\r").substr(0, 9), "z|t43F780");
}

TEST_F(Emulator, ReceivedFramesCarryTheClockWhenStampsAreOn) {
  ASSERT_EQ(Host("Z1\rS4\rO\r"), "|||");
  Sim_AdvanceMs(61234);
  const unsigned stamp = static_cast<unsigned>(Sim_NowUs() / 1000 % 60000);
  char want[64];
  std::snprintf(want, sizeof want, "z|t42B301CB00%04X|", stamp);
  EXPECT_EQ(Host("t42E6014B03010101\r"), want);
}

// Status words of the simulated adapter as "F" flags, and what the library's
// codec reads from them: bus off has no flag of its own, the controller
// shows error passive and bus errors, and refuses to send.
TEST_F(Emulator, StatusFlagsOfTheSimulatedAdapter) {
  struct Case {
    uint32_t status;
    const char* reply;
    uint32_t read;
  } cases[] = {
      {0, "F00|", 0},
      {SIMCAN_ERR_OVERRUN, "F08|", SIMCAN_ERR_OVERRUN},
      {SIMCAN_ERR_BUSLIGHT, "F04|", SIMCAN_ERR_BUSLIGHT},
      {SIMCAN_ERR_BUSHEAVY, "F20|", SIMCAN_ERR_BUSHEAVY},
      {SIMCAN_ERR_BUSOFF, "FA4|", SIMCAN_ERR_BUSLIGHT | SIMCAN_ERR_BUSHEAVY},
  };
  ASSERT_EQ(Host("S4\rO\r"), "||");
  for (const Case& c : cases) {
    Sim_SetAdapterStatus(c.status, 0);
    EXPECT_EQ(Host("F\r"), c.reply) << c.status;
    EXPECT_EQ(serialcan::DriverStatusFromFlags(FlagsFromDriverStatus(c.status)), c.read);
  }
  // Bus off: the frame is refused.
  Sim_SetAdapterStatus(SIMCAN_ERR_BUSOFF, 0);
  EXPECT_EQ(Host("t42E6014B03010101\r"), "<BEL>");
  Sim_SetAdapterStatus(0, 0);
}

// The faults a real line and real adapters show, one by one.
TEST_F(Emulator, Faults) {
  ASSERT_EQ(Host("S4\rO\r"), "||");
  struct Step {
    Faults faults;
    const char* host;
    const char* answer;
  } steps[] = {
      // Every second answer lost: the second frame's, the first flags'.
      {{2, 0, false, false}, "t7FF0\rt7FF0\rF\rF\r", "z|F00|"},
      // Every third frame refused and not sent.
      {{0, 3, false, false}, "t7FF0\rt7FF0\rt7FF0\rt7FF0\r", "z|z|<BEL>z|"},
      // Lines end in CR LF; a BEL stays alone.
      {{0, 0, true, false},
       "F\rt7FF0\rQ\rt42F700000000000000\r",
       "F00|\nz|\n<BEL>z|\nt42F780341278563412|\n"},
      // One error frame seen.
      {{0, 0, false, true}, "F\r", "F80|"},
  };
  for (const Step& s : steps) {
    adapter_.faults = s.faults;
    adapter_.answers = adapter_.frames = 0;
    EXPECT_EQ(Host(s.host), s.answer) << Readable(s.host);
  }
}

// An earlier program left the channel open and half a frame line in the
// adapter. The open sequence without the leading CR runs into it; with it,
// the half line is refused on its own and the channel opens.
TEST_F(Emulator, AHalfLineLeftBehind) {
  const struct {
    const char* open;
    const char* answer;
  } cases[] = {
      {"C\rS5\rO\r", "<BEL><BEL><BEL>"},  // "t12C" refused, S and O while open
      {"\rC\rS5\rO\r", "<BEL>|||"},
  };
  for (const auto& c : cases) {
    ResetAdapter(adapter_);
    EXPECT_EQ(Host("S4\rO\rt12"), "||");
    EXPECT_EQ(Host(c.open), c.answer) << Readable(c.open);
    CAN_Close();
  }
}

// The line is raw both ways: CR stays CR, nothing is echoed.
TEST(EmulatorLine, PseudoTerminalPassesBytesUnchanged) {
  PtyLine line{};
  ASSERT_TRUE(OpenPtyLine(line));
  const int host = open(line.farPath, O_RDWR | O_NOCTTY);
  ASSERT_GE(host, 0);
  const std::string command = "S4\rt1232AA0B\r\n\x7f";
  ASSERT_EQ(write(host, command.data(), command.size()), static_cast<ssize_t>(command.size()));
  std::string got;
  for (int i = 0; i < 100 && got.size() < command.size(); ++i) {
    pollfd p{line.master, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char bytes[64];
    const ssize_t n = read(line.master, bytes, sizeof bytes);
    if (n > 0) got.append(bytes, static_cast<size_t>(n));
  }
  EXPECT_EQ(got, command);

  const std::string answer = "z\rt3C52AA0B\r\a";
  EXPECT_EQ(WriteLine(line, answer.data(), answer.size(), 100), answer.size());
  std::string back;
  for (int i = 0; i < 100 && back.size() < answer.size(); ++i) {
    pollfd p{host, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char bytes[64];
    const ssize_t n = read(host, bytes, sizeof bytes);
    if (n > 0) back.append(bytes, static_cast<size_t>(n));
  }
  EXPECT_EQ(back, answer);
  // Nothing came back to our end: no echo of what we sent.
  pollfd p{line.master, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 20), 0);
  close(host);
  ClosePtyLine(line);
}

// Bytes from `fd` until `want` bytes came or a second passed.
std::string ReadFor(int fd, size_t want) {
  std::string got;
  for (int i = 0; i < 50 && got.size() < want; ++i) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char bytes[256];
    const ssize_t n = read(fd, bytes, sizeof bytes);
    if (n > 0) got.append(bytes, static_cast<size_t>(n));
  }
  return got;
}

// The program: its configuration, the link it makes and removes, the
// first output line, and a slave answering through the line.
TEST(EmulatorProgram, ServesTheLineUntilTerminated) {
  char folder[] = "/tmp/serialcan_emu_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string config = std::string(folder) + "/bus.ini";
  const std::string link = std::string(folder) + "/com5";
  FILE* file = std::fopen(config.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs(CONFIG, file);
  std::fclose(file);

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(SERIALCAN_EMU_PATH, SERIALCAN_EMU_PATH, "--config", config.c_str(), "--link",
          link.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  const std::string path = ReadFor(out[0], 1);
  const std::string firstLine = path.substr(0, path.find('\n'));
  EXPECT_EQ(firstLine.rfind("/dev/pts/", 0), 0u) << path;
  char target[64] = "";
  EXPECT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(firstLine, target);

  const int host = open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(host, 0);
  const std::string commands = "S4\rO\rt42F700000000000000\r";
  ASSERT_EQ(write(host, commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
  const std::string want = "\r\rz\rt42F780341278563412\r";
  EXPECT_EQ(ReadFor(host, want.size()), want);
  close(host);

  kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  struct stat gone {};
  EXPECT_NE(lstat(link.c_str(), &gone), 0) << "the link stays";
  close(out[0]);
  unlink(config.c_str());
  rmdir(folder);
}

}  // namespace
