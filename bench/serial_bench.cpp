// The serial-line adapter's cost: the same transactions through the driver
// binding on two paths in one run, each against the wire time of the frames
// it moved. Direct: the simulated adapter loaded as the USB adapter's driver.
// Serial: serialcan.dll (the native libserialcan.so under that name) on a
// pseudo-terminal to the adapter emulator, a second process with the same
// bus and slaves behind it. Both buses run the wire-time model on the real
// clock. Prints each path's ratio (wire time / achieved time of the median
// run) side by side, each path's CPU share while it runs, what the serial
// path adds per frame, and where that goes: the line's own round trip
// measured alone, and the library's reads.
//
//   serialcan_bench           125 and 500 kbit/s, enough runs for stable figures
//   serialcan_bench --short   500 kbit/s, a few runs: a smoke run
//   ... --poll-us N           the emulator looks at its bus every N us
//                             (default: the emulator's own, 100)
//
// Exit status 1 when a transaction failed on either path.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "bench_transactions.h"
#include "can/can_driver.h"
#include "can/frame_tap.h"
#include "devicenet/devicenet.h"
#include "devicenet/dispatch.h"
#include "master/transactions.h"
#include "platform/platform.h"
#include "serialcan.h"

namespace {

using namespace master;

using namespace bench;  // the slaves, OWN_MAC and the transactions timed
constexpr int SERIAL_COM = 5;
constexpr uint32_t GAP_MS = 3;  // between two measured runs: the bus falls idle
constexpr int LINE_ROUND_TRIPS = 200;
const char* emulatorPollUs = nullptr;  // --poll-us: handed to the emulator

enum PathId { DIRECT, SERIAL, PATH_COUNT };
const char* const PATH_NAMES[PATH_COUNT] = {"direct", "serial"};

// The direct path's simulator, for its configuration. Its entry points as
// simcan.h declares them; that header and serialcan.h both declare CAN_*,
// so only one of them can be included here.
struct DirectSim {
  void* library = nullptr;
  int (*loadConfigText)(const char* text, const char* name) = nullptr;
  const char* (*lastError)() = nullptr;
  void (*useRealClock)() = nullptr;

  template <typename Fn>
  bool Resolve(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(platform::ResolveEntry(library, name));
    return fn != nullptr;
  }
  bool Load() {
    library = platform::LoadLibraryFile(can::USB_DRIVER_FILE);
    return library && Resolve(loadConfigText, "Sim_LoadConfigText") &&
           Resolve(lastError, "Sim_LastError") && Resolve(useRealClock, "Sim_UseRealClock");
  }
};
DirectSim directSim;

// The emulator process and its line.
struct Emulator {
  pid_t pid = -1;
  std::string line;  // the pseudo-terminal's far end
};

// ---- Wire time, counted from the frames the binding moved ------------------

uint32_t bitUs = 2;
double tappedWireUs = 0;
uint64_t tappedFrames = 0;

void CountFrame(const can::TappedFrame& frame) {
  if (frame.status) return;
  tappedWireUs += devicenet::FrameBitsNoStuff(frame.len) * bitUs;
  ++tappedFrames;
}

struct Run {
  double achievedUs;
  double wireUs;
};

struct Tally {
  const char* name = "";
  int failures = 0;
  uint64_t frames = 0;
  std::vector<Run> runs;
  double cpuSeconds = 0;  // this process's CPU over the runs (not the emulator's)
  double runSeconds = 0;
  double CpuShare() const { return runSeconds > 0 ? cpuSeconds / runSeconds : 0; }
};

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// `windowUs`: time the transaction waits beyond its frames by design (the
// probe's answer window), counted with the wire time.
template <typename Fn>
void Measure(Tally& t, Fn fn, double windowUs = 0) {
  for (uint32_t i = 0; i < GAP_MS; ++i) platform::Sleep1Ms();
  tappedWireUs = 0;
  tappedFrames = 0;
  const double cpu0 = CpuSeconds();
  const uint64_t t0 = can::TapClockUs();
  const bool ok = fn();
  const uint64_t t1 = can::TapClockUs();
  t.cpuSeconds += CpuSeconds() - cpu0;
  t.runSeconds += static_cast<double>(t1 - t0) * 1e-6;
  if (!ok) ++t.failures;
  t.frames += tappedFrames;
  t.runs.push_back(Run{static_cast<double>(t1 - t0), tappedWireUs + windowUs});
}

Run Median(std::vector<Run> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Run& a, const Run& b) { return a.achievedUs < b.achievedUs; });
  return runs[runs.size() / 2];
}

// ---- The transactions --------------------------------------------------------

// The cyclic exchange as the program runs it: a poll, then the 1 ms pause.
bool CyclicPoll() {
  const bool ok = Poll(SMALL_SLAVE, 8);
  platform::Sleep1Ms();
  return ok;
}

enum Case { POLL_SMALL, POLL_LARGE, GET_2B, GET_NAME, PROBE, CYCLIC, CASE_COUNT };
const char* const CASE_NAMES[CASE_COUNT] = {
    "poll 8+8 bytes",           "poll 1000+1000 bytes",
    "Get_Attribute_Single 2 B", "product name (fragmented)",
    "probe 0..63 (2 answer)",   "cyclic: poll 8+8, 1 ms pause"};

std::string ConfigText(unsigned kbit) {
  std::string text = "[bus]\nwire_time = yes\n";
  const char* slaves[] = {"mac = 10\nproduced = 8\nconsumed = 8\n",
                          "mac = 11\nproduced = 1000\nconsumed = 1000\n"};
  for (const char* slave : slaves) {
    text += std::string("[slave]\n") + slave + "baud = " + std::to_string(kbit) +
            "\nucmm = yes\nio = echo\nvendor = 0x0520\nname = Quillon benchmark slave\n";
  }
  return text;
}

// Every case on the open adapter, `runs` times each (fewer for the slow ones).
bool MeasureAll(Tally (&tallies)[CASE_COUNT], bool brief) {
  devicenet::g_NodeTable.OwnMacId = OWN_MAC;
  if (!Prepare(SMALL_SLAVE) || !Prepare(LARGE_SLAVE)) return false;
  const int runs = brief ? 3 : 41;
  for (int c = 0; c < CASE_COUNT; ++c) tallies[c].name = CASE_NAMES[c];
  for (int i = 0; i < runs; ++i) {
    Measure(tallies[POLL_SMALL], [] { return Poll(SMALL_SLAVE, 8); });
    if (i < (brief ? 2 : 11)) Measure(tallies[POLL_LARGE], [] { return Poll(LARGE_SLAVE, 1000); });
    Measure(tallies[GET_2B], [] {
      uint32_t length = 0;
      return Service(SMALL_SLAVE, 0x0E, 1, 1, 1, 0, length) == TXR_OK && length == 2;
    });
    Measure(tallies[GET_NAME], [] {
      uint32_t length = 0;
      return Service(SMALL_SLAVE, 0x0E, 1, 1, 7, 0, length) == TXR_OK && length == 24;
    });
    if (i < (brief ? 1 : 3))
      Measure(
          tallies[PROBE], [] { return ProbeAll(2); }, PROBE_TIMEOUT_MS * 1000.0);
  }
  for (int i = 0; i < (brief ? 50 : 1001); ++i) Measure(tallies[CYCLIC], CyclicPoll, 1000.0);
  TxRelease(SMALL_SLAVE, OWN_MAC);
  TxRelease(LARGE_SLAVE, OWN_MAC);
  return true;
}

// ---- The emulator and its line ------------------------------------------------

bool StartEmulator(const std::string& configPath, Emulator& emulator) {
  int out[2];
  if (pipe(out) != 0) return false;
  emulator.pid = fork();
  if (emulator.pid < 0) return false;
  if (emulator.pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    if (emulatorPollUs) {
      execl(SERIALCAN_EMU_PATH, SERIALCAN_EMU_PATH, "--config", configPath.c_str(), "--wire-time",
            "--poll-us", emulatorPollUs, static_cast<char*>(nullptr));
    } else {
      execl(SERIALCAN_EMU_PATH, SERIALCAN_EMU_PATH, "--config", configPath.c_str(), "--wire-time",
            static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  close(out[1]);
  char first[128] = "";
  size_t length = 0;
  while (length + 1 < sizeof first) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) break;
    const ssize_t n = read(out[0], first + length, 1);
    if (n <= 0 || first[length] == '\n') break;
    ++length;
  }
  first[length] = '\0';
  close(out[0]);
  emulator.line = first;
  return emulator.line.rfind("/dev/", 0) == 0;
}

void StopEmulator(Emulator& emulator) {
  if (emulator.pid <= 0) return;
  kill(emulator.pid, SIGTERM);
  waitpid(emulator.pid, nullptr, 0);
  emulator.pid = -1;
}

// The line alone: a command and its answer through the pseudo-terminal and
// the emulator, with nothing of the library or the link layer. Median us.
double LineRoundTripUs(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  std::vector<double> times;
  for (int i = 0; i < LINE_ROUND_TRIPS; ++i) {
    const uint64_t t0 = can::TapClockUs();
    if (write(fd, "V\r", 2) != 2) break;
    char answer[16];
    size_t got = 0;
    while (got < 6) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) break;
      const ssize_t n = read(fd, answer + got, sizeof answer - got);
      if (n > 0) got += static_cast<size_t>(n);
    }
    if (got < 6) break;
    times.push_back(static_cast<double>(can::TapClockUs() - t0));
  }
  close(fd);
  if (times.empty()) return -1;
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// ---- One rate, both paths ---------------------------------------------------------

bool OpenPath(PathId path, int baudIndex) {
  app::InitAppState(nullptr);
  app::g_App.PrinterPort = path == DIRECT ? can::PORT_USB : can::PORT_SERIAL_FIRST + SERIAL_COM - 1;
  app::g_App.BaudIndex = baudIndex;
  devicenet::ClearSendHook();
  devicenet::SetSendHook(devicenet::SendFrame);
  devicenet::InitNodeTable(devicenet::g_NodeTable);
  return can::OpenAdapter(nullptr, baudIndex);
}

void PrintRows(unsigned kbit, const Tally (&tallies)[PATH_COUNT][CASE_COUNT]) {
  for (int c = 0; c < CASE_COUNT; ++c) {
    const Tally& d = tallies[DIRECT][c];
    const Tally& s = tallies[SERIAL][c];
    if (d.runs.empty() || s.runs.empty()) continue;
    const Run dm = Median(d.runs);
    const Run sm = Median(s.runs);
    const double framesPerRun = static_cast<double>(s.frames) / static_cast<double>(s.runs.size());
    std::printf("%-4u %-29s %4d %6.1f %9.0f %9.0f %7.3f %4.0f%% %9.0f %7.3f %4.0f%% %8.0f%s\n",
                kbit, CASE_NAMES[c], static_cast<int>(s.runs.size()), framesPerRun, sm.wireUs,
                dm.achievedUs, dm.wireUs / dm.achievedUs, 100.0 * d.CpuShare(), sm.achievedUs,
                sm.wireUs / sm.achievedUs, 100.0 * s.CpuShare(),
                (sm.achievedUs - dm.achievedUs) / std::max(framesPerRun, 1.0),
                d.failures || s.failures ? "  FAILED RUNS" : "");
  }
  const Tally& d = tallies[DIRECT][CYCLIC];
  const Tally& s = tallies[SERIAL][CYCLIC];
  if (!d.runs.empty() && !s.runs.empty()) {
    std::printf("%-4u cyclic: the serial path runs %.2f of the direct path's cycles a second\n",
                kbit, Median(d.runs).achievedUs / Median(s.runs).achievedUs);
  }
}

bool RunAt(int baudIndex, bool brief) {
  static const unsigned KBIT[] = {125, 250, 500};
  static const uint32_t BIT_US[] = {8, 4, 2};
  const unsigned kbit = KBIT[baudIndex];
  bitUs = BIT_US[baudIndex];
  static Tally tallies[PATH_COUNT][CASE_COUNT];
  for (auto& path : tallies) {
    for (Tally& t : path) t = Tally{};
  }
  const std::string config = ConfigText(kbit);

  // Direct.
  if (directSim.loadConfigText(config.c_str(), "bench.ini") != 0) {
    std::fprintf(stderr, "configuration refused: %s\n", directSim.lastError());
    return false;
  }
  directSim.useRealClock();
  bool ok = OpenPath(DIRECT, baudIndex) && MeasureAll(tallies[DIRECT], brief);
  can::CloseAdapter(nullptr);

  // Serial: the same bus in the emulator.
  char configPath[] = "/tmp/serialcan_bench_XXXXXX";
  const int configFd = mkstemp(configPath);
  if (configFd < 0 ||
      write(configFd, config.data(), config.size()) != static_cast<ssize_t>(config.size())) {
    std::fprintf(stderr, "cannot write the emulator's configuration\n");
    return false;
  }
  close(configFd);
  Emulator emulator;
  if (!StartEmulator(configPath, emulator)) {
    std::fprintf(stderr, "the emulator %s did not start\n", SERIALCAN_EMU_PATH);
    StopEmulator(emulator);
    unlink(configPath);
    return false;
  }
  const double lineUs = LineRoundTripUs(emulator.line);
  setenv(("SERIALCAN_COM" + std::to_string(SERIAL_COM)).c_str(), emulator.line.c_str(), 1);
  SerialCanStats stats{};
  if (OpenPath(SERIAL, baudIndex)) {
    ok = MeasureAll(tallies[SERIAL], brief) && ok;
    // The library the binding loaded, for its counts.
    void* library = platform::LoadLibraryFile(can::SERIAL_DRIVER_FILE);
    auto getStats = library ? reinterpret_cast<SerialCanGetStatsFn>(
                                  platform::ResolveEntry(library, "SerialCan_GetStats"))
                            : nullptr;
    if (getStats) getStats(&stats);
    if (library) platform::FreeLibraryFile(library);
  } else {
    ok = false;
  }
  can::CloseAdapter(nullptr);
  StopEmulator(emulator);
  unlink(configPath);

  PrintRows(kbit, tallies);
  for (const auto& path : tallies) {
    for (const Tally& t : path) ok = ok && t.failures == 0;
  }
  std::printf(
      "%-4u line alone: %.0f us per command and answer (median of %d); serial path: %u frames "
      "sent, %u answered, %u received, %u port reads (%.1f bytes each)\n",
      kbit, lineUs, LINE_ROUND_TRIPS, stats.framesSent, stats.framesAnswered, stats.framesReceived,
      stats.portReads,
      stats.portReads ? static_cast<double>(stats.bytesRead) / stats.portReads : 0.0);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool brief = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--short") == 0) {
      brief = true;
    } else if (std::strcmp(argv[i], "--poll-us") == 0 && i + 1 < argc) {
      emulatorPollUs = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--short] [--poll-us N]\n", argv[0]);
      return 2;
    }
  }
  if (!directSim.Load()) {
    std::fprintf(stderr, "cannot load %s (the simulated adapter)\n", can::USB_DRIVER_FILE);
    return 1;
  }
  can::SetFrameTap(CountFrame);
  std::printf(
      "The same transactions direct (simulated adapter in-process) and serial (serialcan\n"
      "library, pseudo-terminal, adapter emulator), both buses with wire time.\n"
      "wire us = wire time of the frames moved, without stuff bits (the cyclic row and the\n"
      "probe include their 1 ms pause and answer window); ratio = wire us / median achieved us;\n"
      "cpu = this process's CPU over the achieved time of all runs (the emulator's own\n"
      "not counted: it is the adapter); +us/frame = what the serial path adds per frame moved.\n");
  std::printf("%-4s %-29s %4s %6s %9s %9s %7s %5s %9s %7s %5s %8s\n", "kbit", "transaction", "runs",
              "frames", "wire us", "direct us", "ratio", "cpu", "serial us", "ratio", "cpu",
              "+us/frm");
  bool ok = true;
  if (!brief) ok = RunAt(0, false) && ok;
  ok = RunAt(2, brief) && ok;
  can::SetFrameTap(nullptr);
  return ok ? 0 : 1;
}
