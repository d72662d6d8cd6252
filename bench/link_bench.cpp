// How close the transactions come to the wire: every transaction runs against
// simulated slaves on the simulated bus with its wire-time model (each frame
// occupies the bus for its bit time), through the real driver binding, and
// its achieved time is set against the wire time of the frames it put on the
// bus, measured side by side in the same run. Prints ratios (wire time /
// achieved time) and the process's CPU share.
//
//   quillon_bench           125 and 500 kbit/s, enough runs for stable figures
//   quillon_bench --short   500 kbit/s, a few runs, a large receive queue:
//                           a smoke run for the test command
//
// The Bus Monitor's cost is measured alongside: each transaction's runs
// alternate between no monitor, the monitor's ring tap, and the ring with a
// pcap capture to the temp folder running, and a second table sets their
// ratios side by side.
//
// Exit status 1 when a transaction failed; the ratios never fail the run,
// they depend on the machine. With the 16-frame receive queue a machine
// that keeps the program off the processor for more than about 3.6 ms
// (500 kbit/s) overruns the queue and fails that run of the 1000-byte poll.
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
#include "devicenet/devicenet.h"
#include "master/transactions.h"
#include "monitor/capture.h"
#include "monitor/frame_ring.h"
#include "monitor/monitor_hub.h"
#include "platform/platform.h"
#include "simcan.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

using namespace master;

using namespace bench;  // the slaves, OWN_MAC and the transactions timed
// The adapter's receive queue: 16 frames, 3.6 ms of a stream at 500 kbit/s.
// The short run takes a large one, so that a busy machine's scheduling
// cannot fail it.
constexpr uint32_t RX_QUEUE_FRAMES = 16;
constexpr uint32_t RX_QUEUE_FRAMES_SHORT_RUN = 4096;
uint32_t rxQueueFrames = RX_QUEUE_FRAMES;
constexpr uint32_t GAP_MS = 3;  // between two measured runs: the bus falls idle

struct Sim {
  void* library = nullptr;
  SimLoadConfigTextFn loadConfigText;
  SimLastErrorFn lastError;
  SimVoidFn useRealClock;
  uint64_t(SIMCAN_CDECL* nowUs)();
  SimVoidFn traceClear;
  uint32_t(SIMCAN_CDECL* traceCount)();
  int(SIMCAN_CDECL* traceGet)(uint32_t, SimTraceFrame*);
  void(SIMCAN_CDECL* getBusStats)(SimBusStats*);
  SimVoidFn resetBusStats;

  template <typename Fn>
  bool Resolve(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(platform::ResolveEntry(library, name));
    if (!fn) std::fprintf(stderr, "%s: entry point %s missing\n", can::USB_DRIVER_FILE, name);
    return fn != nullptr;
  }
  bool Load() {
    library = platform::LoadLibraryFile(can::USB_DRIVER_FILE);
    if (!library) {
      std::fprintf(stderr, "cannot load %s (the simulated adapter)\n", can::USB_DRIVER_FILE);
      return false;
    }
    return Resolve(loadConfigText, "Sim_LoadConfigText") && Resolve(lastError, "Sim_LastError") &&
           Resolve(useRealClock, "Sim_UseRealClock") && Resolve(nowUs, "Sim_NowUs") &&
           Resolve(traceClear, "Sim_TraceClear") && Resolve(traceCount, "Sim_TraceCount") &&
           Resolve(traceGet, "Sim_TraceGet") && Resolve(getBusStats, "Sim_GetBusStats") &&
           Resolve(resetBusStats, "Sim_ResetBusStats");
  }
};

Sim sim;

double CpuSeconds() {
#if defined(_WIN32)
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) *
           1e-7;
  };
  return seconds(kernel) + seconds(user);
#else
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#endif
}

// One run of a transaction: its achieved time and the wire time of its frames.
struct Run {
  double achievedUs;
  double noStuffUs;  // without stuff bits
  double worstUs;    // with the most stuff bits the frames' lengths allow
  double busyUs;     // as the simulated bus counted it, with the real stuff bits
};

// One transaction's runs.
struct Tally {
  explicit Tally(const char* n) : name(n) {}
  const char* name;
  int failures = 0;
  uint64_t frames = 0;
  double cpuSeconds = 0;
  double burstCpu = -1;  // CPU share over enough runs (CpuWhileRunning); -1: not measured
  std::vector<Run> runs;
};

uint32_t bitUs = 2;

// Adds the frames completed on the bus up to untilUs since the trace was cleared.
void AddWire(Tally& t, Run& run, uint64_t untilUs) {
  for (uint32_t i = 0; i < sim.traceCount(); ++i) {
    SimTraceFrame f{};
    if (sim.traceGet(i, &f) != 0 || f.timeUs > untilUs) continue;
    ++t.frames;
    run.noStuffUs += devicenet::FrameBitsNoStuff(f.len) * bitUs;
    run.worstUs += devicenet::FrameBitsWorstStuff(f.len) * bitUs;
  }
}

// `windowUs`: time the transaction must wait beyond its frames' wire time
// by design (the answer window of a probe), counted with the wire time.
template <typename Fn>
void Measure(Tally& t, Fn run, double windowUs = 0) {
  for (uint32_t i = 0; i < GAP_MS; ++i) platform::Sleep1Ms();
  sim.traceClear();
  sim.resetBusStats();
  const double cpu0 = CpuSeconds();
  const uint64_t t0 = sim.nowUs();
  const bool ok = run();
  const uint64_t t1 = sim.nowUs();
  t.cpuSeconds += CpuSeconds() - cpu0;
  SimBusStats stats{};
  sim.getBusStats(&stats);
  if (!ok) ++t.failures;
  Run r{static_cast<double>(t1 - t0), 0, 0, static_cast<double>(stats.busyUs)};
  AddWire(t, r, t1);
  r.noStuffUs += windowUs;
  r.worstUs += windowUs;
  r.busyUs += windowUs;
  t.runs.push_back(r);
}

// How the monitor watches a run: not at all, with the ring of the Bus
// Monitor window, or with the ring and a capture file.
enum Watch { WATCH_OFF, WATCH_RING, WATCH_CAPTURE, WATCH_COUNT };

void WatchBy(int how) {
  monitor::MonitorWantRing(how != WATCH_OFF);
  monitor::MonitorWantCapture(how == WATCH_CAPTURE);
}

// One transaction's runs, each way.
struct Watched {
  explicit Watched(const char* name) : tallies{Tally(name), Tally(name), Tally(name)} {}
  Tally tallies[WATCH_COUNT];
};

// The process's CPU share while a transaction runs, over enough runs (each
// after the usual gap) to add up to `burstMs` of running: Wine's process
// clock counts in scheduler ticks, so a few runs' worth says nothing.
uint32_t burstMs = 300;
struct CpuShare {
  double cpuSeconds = 0;
  double runUs = 0;
  bool Enough() const { return runUs >= burstMs * 1000.0; }
  double Share() const { return runUs > 0 ? cpuSeconds / (runUs * 1e-6) : 0; }
};

template <typename Fn>
void TimeRun(CpuShare& share, Fn run) {
  for (uint32_t i = 0; i < GAP_MS; ++i) platform::Sleep1Ms();
  const double cpu0 = CpuSeconds();
  const uint64_t t0 = sim.nowUs();
  run();
  share.runUs += static_cast<double>(sim.nowUs() - t0);
  share.cpuSeconds += CpuSeconds() - cpu0;
}

template <typename Fn>
double CpuWhileRunning(Fn run) {
  CpuShare share;
  while (!share.Enough()) TimeRun(share, run);
  return share.Share();
}

// Runs `step(how)` once each way, in an order that turns with `run`, so that
// no way is always the first after the pause.
template <typename Fn>
void EachWay(int run, Fn step) {
  for (int k = 0; k < WATCH_COUNT; ++k) {
    const int how = (run + k) % WATCH_COUNT;
    WatchBy(how);
    step(how);
  }
  WatchBy(WATCH_OFF);
}

template <typename Fn>
void MeasureEachWay(Watched& w, int run, Fn fn, double windowUs = 0) {
  EachWay(run, [&](int how) { Measure(w.tallies[how], fn, windowUs); });
}

// The run in the middle by achieved time: what a run takes when the
// machine's other work does not get in the way.
Run Median(std::vector<Run> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Run& a, const Run& b) { return a.achievedUs < b.achievedUs; });
  return runs[runs.size() / 2];
}

Run Sum(const std::vector<Run>& runs) {
  Run sum{0, 0, 0, 0};
  for (const Run& r : runs) {
    sum.achievedUs += r.achievedUs;
    sum.noStuffUs += r.noStuffUs;
    sum.worstUs += r.worstUs;
    sum.busyUs += r.busyUs;
  }
  return sum;
}

void PrintHeader() {
  std::printf("%-4s %-28s %4s %6s %9s %9s %9s %7s %7s %7s %7s %5s %4s\n", "kbit", "transaction",
              "runs", "frames", "median us", "wire us", "worst us", "ratio", "mean", "r worst",
              "r bus", "cpu", "fail");
}

void PrintRow(unsigned kbit, const Tally& t) {
  const Run median = Median(t.runs);
  const Run sum = Sum(t.runs);
  const double n = static_cast<double>(t.runs.size());
  const double cpu = t.burstCpu >= 0 ? t.burstCpu : t.cpuSeconds / (sum.achievedUs * 1e-6);
  std::printf("%-4u %-28s %4d %6.1f %9.0f %9.0f %9.0f %7.3f %7.3f %7.3f %7.3f %4.0f%% %4d\n", kbit,
              t.name, static_cast<int>(n), static_cast<double>(t.frames) / n, median.achievedUs,
              median.noStuffUs, median.worstUs, median.noStuffUs / median.achievedUs,
              sum.noStuffUs / sum.achievedUs, median.worstUs / median.achievedUs,
              median.busyUs / median.achievedUs, 100.0 * cpu, t.failures);
}

double MedianRatio(const Tally& t) {
  const Run median = Median(t.runs);
  return median.noStuffUs / median.achievedUs;
}

void PrintMonitorHeader() {
  std::printf("%-4s %-28s %4s %7s %7s %7s %7s %7s\n", "kbit", "transaction", "runs", "r off",
              "r ring", "diff", "r pcap", "diff");
}

// A row of the monitor's table, printed after the main one.
std::string MonitorRow(unsigned kbit, const Watched& w) {
  const double off = MedianRatio(w.tallies[WATCH_OFF]);
  const double ring = MedianRatio(w.tallies[WATCH_RING]);
  const double pcap = MedianRatio(w.tallies[WATCH_CAPTURE]);
  bool failed = false;
  for (const Tally& t : w.tallies) failed = failed || t.failures != 0;
  char row[160];
  std::snprintf(row, sizeof row, "%-4u %-28s %4d %7.3f %7.3f %7.3f %7.3f %7.3f%s\n", kbit,
                w.tallies[WATCH_OFF].name, static_cast<int>(w.tallies[WATCH_OFF].runs.size()), off,
                ring, off - ring, pcap, off - pcap, failed ? "  FAILED RUNS" : "");
  return row;
}

std::string TempFolder() {
#if defined(_WIN32)
  char path[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof path, path);
  if (length > 0 && length < sizeof path) return path;
  return ".\\";
#else
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/";
#endif
}

// The cyclic exchange as the program runs it: a poll, then the 1 ms pause,
// against 1 / (wire time + 1 ms) per cycle. False when a poll failed.
bool Cyclic(unsigned kbit, int cycles) {
  std::vector<double> cycleUs;
  int failures = 0;
  platform::Sleep1Ms();
  sim.traceClear();
  const double cpu0 = CpuSeconds();
  const uint64_t t0 = sim.nowUs();
  uint64_t last = t0;
  for (int i = 0; i < cycles; ++i) {
    if (!Poll(SMALL_SLAVE, 8)) ++failures;
    platform::Sleep1Ms();
    const uint64_t now = sim.nowUs();
    cycleUs.push_back(static_cast<double>(now - last));
    last = now;
  }
  const double cpu = CpuSeconds() - cpu0;
  const double totalUs = static_cast<double>(last - t0);
  Tally wire{"cyclic"};
  Run frames{0, 0, 0, 0};
  AddWire(wire, frames, last);
  const double wireUs = frames.noStuffUs / cycles;
  std::sort(cycleUs.begin(), cycleUs.end());
  const double medianUs = cycleUs[cycleUs.size() / 2];
  std::printf("%-4u %-28s %4d %6.1f %9.0f %9.0f %9s %7.3f %7.3f %7s %7s %4.0f%% %4d\n", kbit,
              "cyclic: poll 8+8, 1 ms pause", cycles, static_cast<double>(wire.frames) / cycles,
              medianUs, wireUs + 1000.0, "", (wireUs + 1000.0) / medianUs,
              (wireUs + 1000.0) * cycles / totalUs, "", "", 100.0 * cpu / (totalUs * 1e-6),
              failures);
  return failures == 0;
}

// The search's probe of every address, against the wire time of its frames
// and one answer window; slaves answer at 0, 5, 10, 11 and 63.
bool ProbeAllFive() {
  return ProbeAll(5);
}

std::string ConfigText(unsigned kbit) {
  std::string text = "[bus]\nwire_time = yes\nrx_queue = " + std::to_string(rxQueueFrames) + "\n";
  const char* slaves[] = {
      "mac = 10\nproduced = 8\nconsumed = 8\n", "mac = 11\nproduced = 1000\nconsumed = 1000\n",
      "mac = 0\nproduced = 8\nconsumed = 8\n", "mac = 5\nproduced = 8\nconsumed = 8\n",
      "mac = 63\nproduced = 8\nconsumed = 8\n"};
  for (const char* slave : slaves) {
    text += std::string("[slave]\n") + slave + "baud = " + std::to_string(kbit) +
            "\nucmm = yes\nio = echo\nvendor = 0x0520\nname = Quillon benchmark slave\n";
  }
  return text;
}

// One baud rate: every transaction each way, then the cyclic exchange. The
// monitor's rows are added to `monitorRows`. False when something failed.
constexpr unsigned KBIT[] = {125, 250, 500};

// The simulated bus at the rate, the adapter open on it.
bool OpenBus(int baudIndex) {
  static const uint32_t BIT_US[] = {8, 4, 2};
  bitUs = BIT_US[baudIndex];
  can::CloseAdapter(nullptr);
  if (sim.loadConfigText(ConfigText(KBIT[baudIndex]).c_str(), "bench.ini") != 0) {
    std::fprintf(stderr, "configuration refused: %s\n", sim.lastError());
    return false;
  }
  sim.useRealClock();
  app::InitAppState(nullptr);
  app::g_App.PrinterPort = can::PORT_USB;
  app::g_App.BaudIndex = baudIndex;
  devicenet::ClearSendHook();
  devicenet::SetSendHook(devicenet::SendFrame);
  devicenet::InitNodeTable(devicenet::g_NodeTable);
  if (!can::OpenAdapter(nullptr, baudIndex)) return false;
  devicenet::g_NodeTable.OwnMacId = OWN_MAC;
  return true;
}

// Polls of 1000 bytes each way, each after the usual gap, at each rate: how
// many fail, which with these slaves means an overrun of the adapter's
// receive queue while the answer streamed in.
bool CountOverruns(int polls) {
  std::printf("%-4s %-28s %5s %6s %9s\n", "kbit", "transaction", "polls", "failed", "overrun");
  for (int baudIndex : {0, 2}) {
    if (!OpenBus(baudIndex) || !Prepare(LARGE_SLAVE)) return false;
    can::TakeStatusSeen();
    int failed = 0;
    int overrun = 0;
    for (int i = 0; i < polls; ++i) {
      for (uint32_t k = 0; k < GAP_MS; ++k) platform::Sleep1Ms();
      if (!Poll(LARGE_SLAVE, 1000)) ++failed;
      if (can::TakeStatusSeen() & can::CAN_STATUS_OVERRUN) ++overrun;
    }
    std::printf("%-4u %-28s %5d %6d %9d\n", KBIT[baudIndex], "poll 1000+1000 bytes", polls, failed,
                overrun);
    can::CloseAdapter(nullptr);
  }
  return true;
}

bool RunAt(int baudIndex, bool brief, std::string& monitorRows) {
  const unsigned kbit = KBIT[baudIndex];
  if (!OpenBus(baudIndex)) return false;

  const int runs = brief ? 3 : 41;
  const int largeRuns = brief ? 2 : 11;
  bool ok = true;

  // The capture runs throughout; only the runs of its way feed it.
  const std::string capturePath = TempFolder() + "quillon_bench_" + std::to_string(kbit) + ".pcap";
  monitor::RingClear();
  if (!monitor::CaptureStart(capturePath.c_str(), monitor::CaptureFormat::Pcap)) {
    std::fprintf(stderr, "cannot write %s\n", capturePath.c_str());
    return false;
  }

  // Connect and release first: the set is up again afterwards.
  Watched connect{"TxConnect (UCMM)"};
  Watched release{"TxRelease"};
  if (TxConnect(SMALL_SLAVE, OWN_MAC, CONNECT_TIMEOUT_MS) != TXR_OK) ok = false;
  for (int i = 0; i < runs && ok; ++i) {
    EachWay(i, [&](int how) {
      Measure(release.tallies[how], [] { return TxRelease(SMALL_SLAVE, OWN_MAC) == TXR_OK; });
      Measure(connect.tallies[how],
              [] { return TxConnect(SMALL_SLAVE, OWN_MAC, CONNECT_TIMEOUT_MS) == TXR_OK; });
    });
  }
  // Their CPU share, taking turns as in their runs (the program holds one
  // set, the small slave's, until the large one is connected below).
  CpuShare releaseCpu, connectCpu;
  while (ok && (!releaseCpu.Enough() || !connectCpu.Enough())) {
    TimeRun(releaseCpu, [] { TxRelease(SMALL_SLAVE, OWN_MAC); });
    TimeRun(connectCpu,
            [&ok] { ok = TxConnect(SMALL_SLAVE, OWN_MAC, CONNECT_TIMEOUT_MS) == TXR_OK; });
  }
  release.tallies[WATCH_OFF].burstCpu = releaseCpu.Share();
  connect.tallies[WATCH_OFF].burstCpu = connectCpu.Share();
  ok = ok && Prepare(SMALL_SLAVE) && Prepare(LARGE_SLAVE);
  if (!ok) {
    std::fprintf(stderr, "%u kbit/s: the slaves could not be connected\n", kbit);
    monitor::CaptureStop();
    std::remove(capturePath.c_str());
    return false;
  }

  Watched small{"poll 8+8 bytes"};
  Watched large{"poll 1000+1000 bytes"};
  Watched get{"Get_Attribute_Single 2 B"};
  Watched name{"product name (fragmented)"};
  for (int i = 0; i < runs; ++i) {
    MeasureEachWay(small, i, [] { return Poll(SMALL_SLAVE, 8); });
    if (i < largeRuns) MeasureEachWay(large, i, [] { return Poll(LARGE_SLAVE, 1000); });
    MeasureEachWay(get, i, [] {
      uint32_t length = 0;
      return Service(SMALL_SLAVE, 0x0E, 1, 1, 1, 0, length) == TXR_OK && length == 2;
    });
    MeasureEachWay(name, i, [] {
      uint32_t length = 0;
      return Service(SMALL_SLAVE, 0x0E, 1, 1, 7, 0, length) == TXR_OK && length == 24;
    });
  }
  // The CPU share of each transaction, unwatched.
  small.tallies[WATCH_OFF].burstCpu = CpuWhileRunning([] { Poll(SMALL_SLAVE, 8); });
  large.tallies[WATCH_OFF].burstCpu = CpuWhileRunning([] { Poll(LARGE_SLAVE, 1000); });
  get.tallies[WATCH_OFF].burstCpu = CpuWhileRunning([] {
    uint32_t length = 0;
    Service(SMALL_SLAVE, 0x0E, 1, 1, 1, 0, length);
  });
  name.tallies[WATCH_OFF].burstCpu = CpuWhileRunning([] {
    uint32_t length = 0;
    Service(SMALL_SLAVE, 0x0E, 1, 1, 7, 0, length);
  });
  Watched probe{"probe 0..63 (5 answer)"};
  for (int i = 0; i < (brief ? 2 : 21); ++i) {
    MeasureEachWay(probe, i, ProbeAllFive, PROBE_TIMEOUT_MS * 1000.0);
  }
  probe.tallies[WATCH_OFF].burstCpu = CpuWhileRunning(ProbeAllFive);
  const bool captureHeld = monitor::CaptureRunning();  // false after a write error
  monitor::CaptureStop();
  std::remove(capturePath.c_str());
  for (const Watched* w : {&small, &large, &get, &name, &connect, &release, &probe}) {
    PrintRow(kbit, w->tallies[WATCH_OFF]);
    for (const Tally& t : w->tallies) ok = ok && t.failures == 0;
    monitorRows += MonitorRow(kbit, *w);
  }
  monitorRows += std::to_string(kbit) + "  " + std::to_string(monitor::CaptureFrames()) +
                 " frames captured" + (captureHeld ? "\n" : ", CAPTURE FAILED\n");
  ok = ok && captureHeld;
  ok = Cyclic(kbit, brief ? 50 : 2001) && ok;

  TxRelease(SMALL_SLAVE, OWN_MAC);
  TxRelease(LARGE_SLAVE, OWN_MAC);
  can::CloseAdapter(nullptr);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const bool brief = argc > 1 && std::strcmp(argv[1], "--short") == 0;
  if (!sim.Load()) return 1;
  if (argc > 2 && std::strcmp(argv[1], "--overruns") == 0) {
#if defined(_WIN32)
    timeBeginPeriod(1);
#endif
    return CountOverruns(std::atoi(argv[2])) ? 0 : 1;
  }
  if (brief) {
    rxQueueFrames = RX_QUEUE_FRAMES_SHORT_RUN;
    burstMs = 30;
  }
#if defined(_WIN32)
  timeBeginPeriod(1);  // as the program does: Sleep(1) is 1 ms, not a scheduler tick
#endif
  std::printf(
      "Simulated bus with wire time, adapter receive queue %u frames.\n"
      "ratio = wire time without stuff bits / achieved time of the median run; mean = the same\n"
      "over all runs; r worst = with the most stuff bits the frames' lengths allow; r bus = the\n"
      "simulated bus's own count (real stuff bits); cpu = process CPU time / achieved time over\n"
      "further runs adding up to %u ms; fail = runs that failed (an overrun of the adapter's\n"
      "receive queue for the 1000-byte poll).\n"
      "Cyclic: wire us includes the 1 ms pause; ratio = (wire + 1 ms) / cycle time.\n",
      rxQueueFrames, burstMs);
  PrintHeader();
  bool ok = true;
  std::string monitorRows;
  if (!brief) ok = RunAt(0, false, monitorRows) && ok;
  ok = RunAt(2, brief, monitorRows) && ok;
  std::printf(
      "\nThe Bus Monitor's cost, each transaction's runs alternating three ways: r off = ratio\n"
      "of the median run without the monitor (as above); r ring = with the monitor's ring tap;\n"
      "r pcap = with the ring and a pcap capture to the temp folder; diff = r off - r.\n");
  PrintMonitorHeader();
  std::fputs(monitorRows.c_str(), stdout);
#if defined(_WIN32)
  timeEndPeriod(1);
#endif
  return ok ? 0 : 1;
}
