// serialcan-emu: a serial-line CAN adapter on a pseudo-terminal, with the
// simulated bus and its slaves behind it. Prints the far end's path (the
// "COM port" to open) on the first line of its output and runs until
// SIGTERM, SIGINT or SIGHUP.
//
//   serialcan-emu [--config FILE] [--link PATH] [--wire-time] [--poll-us N]
//                 [--lose-every N] [--refuse-every N] [--crlf] [--bus-error]
//                 [--half-line]
//
// --config   the simulator's configuration (as simcan.ini); default: the
//            simulator's own choice (SIMCAN_CONFIG, else its built-in slave)
// --link     also reach the far end through a symbolic link at PATH (for
//            example a Wine prefix's dosdevices/com5); removed at exit
// --wire-time  frames take their bit time on the simulated bus
// --poll-us  how often the bus is looked at while the adapter is open
//            (default 100 microseconds: a frame waits at most that long
//            between the bus and the line)
// Faults, for tests:
// --lose-every N    every N-th answer goes missing
// --refuse-every N  every N-th frame from the host is refused (BEL), not sent
// --crlf            lines end in CR LF
// --bus-error       "F" replies carry bit 7 (bus error), as after a noise burst
// --half-line       as left by an earlier program: the channel open at
//                   125 kbit/s and half a frame line ("t12") taken in
// SIGUSR1 puts the simulated adapter bus off, SIGUSR2 back on the bus.
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "adapter.h"
#include "pty_line.h"
#include "simcan.h"

namespace {

using serialcan::emu::Adapter;
using serialcan::emu::Output;
using serialcan::emu::PtyLine;

constexpr long DEFAULT_POLL_US = 100;
// A host that reads nothing for this long loses what the adapter sends.
constexpr int WRITE_PATIENCE_MS = 200;

volatile sig_atomic_t stopSignal = 0;
volatile sig_atomic_t busSignal = 0;  // SIGUSR1 or SIGUSR2 not yet acted on

void OnStopSignal(int signal) {
  stopSignal = signal;
}

void OnBusSignal(int signal) {
  busSignal = signal;
}

struct Options {
  const char* config = nullptr;
  const char* link = nullptr;
  bool wireTime = false;
  long pollUs = DEFAULT_POLL_US;
  serialcan::emu::Faults faults{};
  bool halfLine = false;
};

bool ParseCount(const char* text, uint32_t* value) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (*end != '\0' || n < 1 || n > 1000000) return false;
  *value = static_cast<uint32_t>(n);
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--config") == 0 && hasValue) {
      options.config = argv[++i];
    } else if (std::strcmp(argv[i], "--link") == 0 && hasValue) {
      options.link = argv[++i];
    } else if (std::strcmp(argv[i], "--wire-time") == 0) {
      options.wireTime = true;
    } else if (std::strcmp(argv[i], "--poll-us") == 0 && hasValue) {
      char* end = nullptr;
      options.pollUs = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || options.pollUs < 1 || options.pollUs > 1000000) return false;
    } else if (std::strcmp(argv[i], "--lose-every") == 0 && hasValue) {
      if (!ParseCount(argv[++i], &options.faults.loseEvery)) return false;
    } else if (std::strcmp(argv[i], "--refuse-every") == 0 && hasValue) {
      if (!ParseCount(argv[++i], &options.faults.refuseEvery)) return false;
    } else if (std::strcmp(argv[i], "--crlf") == 0) {
      options.faults.crlf = true;
    } else if (std::strcmp(argv[i], "--bus-error") == 0) {
      options.faults.busErrorFlag = true;
    } else if (std::strcmp(argv[i], "--half-line") == 0) {
      options.halfLine = true;
    } else {
      return false;
    }
  }
  return true;
}

void Flush(const PtyLine& line, Output& out) {
  if (out.length == 0) return;
  serialcan::emu::WriteLine(line, out.bytes, out.length, WRITE_PATIENCE_MS);
  out.length = 0;
}

// The link is ours to remove only while it still points at our line.
void RemoveLink(const char* link, const PtyLine& line) {
  char target[sizeof line.farPath] = "";
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n > 0 && std::strncmp(target, line.farPath, static_cast<size_t>(n)) == 0 &&
      line.farPath[n] == '\0') {
    unlink(link);
  }
}

// Until a stop signal: commands from the host in, answers and bus frames out.
// Signals are blocked except while waiting, so none slips in unseen.
void Run(const PtyLine& line, const Options& options) {
  Adapter adapter;
  serialcan::emu::ResetAdapter(adapter);
  static Output out;
  out.length = 0;
  if (options.halfLine) {
    const char leftBehind[] = "S4\rO\rt12";
    serialcan::emu::FeedHost(adapter, leftBehind, sizeof leftBehind - 1, out);
    out.length = 0;  // answered to the earlier program
  }
  adapter.faults = options.faults;
  const long pollUs = options.pollUs;
  sigset_t waiting;
  sigemptyset(&waiting);
  while (!stopSignal) {
    pollfd host{line.master, POLLIN, 0};
    const timespec pollTime{pollUs / 1000000, pollUs % 1000000 * 1000};
    // Closed, nothing comes from the bus: wait for the host alone.
    const int ready = ppoll(&host, 1, adapter.open ? &pollTime : nullptr, &waiting);
    if (ready < 0 && errno != EINTR) break;
    if (busSignal) {
      Sim_SetAdapterStatus(busSignal == SIGUSR1 ? SIMCAN_ERR_BUSOFF : 0, 0);
      busSignal = 0;
    }
    if (ready > 0 && (host.revents & POLLIN)) {
      char bytes[256];
      const ssize_t n = read(line.master, bytes, sizeof bytes);
      if (n > 0) serialcan::emu::FeedHost(adapter, bytes, static_cast<size_t>(n), out);
    }
    Flush(line, out);
    while (serialcan::emu::ForwardReceived(adapter, out) > 0) Flush(line, out);
  }
  if (adapter.open) CAN_Close();  // writes the trace files the configuration names
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(
        stderr,
        "usage: %s [--config FILE] [--link PATH] [--wire-time] [--poll-us N]\n"
        "       [--lose-every N] [--refuse-every N] [--crlf] [--bus-error] [--half-line]\n",
        argv[0]);
    return 2;
  }
  if (options.config && Sim_LoadConfigFile(options.config) != 0) {
    std::fprintf(stderr, "serialcan-emu: %s\n", Sim_LastError());
    return 1;
  }
  if (options.wireTime) Sim_SetWireTime(1);

  sigset_t stops;
  sigemptyset(&stops);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&stops, s);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
  action.sa_handler = OnBusSignal;
  for (int s : {SIGUSR1, SIGUSR2}) sigaction(s, &action, nullptr);

  PtyLine line{};
  if (!serialcan::emu::OpenPtyLine(line)) {
    std::fprintf(stderr, "serialcan-emu: no pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  if (options.link && !serialcan::emu::LinkFarEnd(line, options.link)) {
    std::fprintf(stderr, "serialcan-emu: cannot link %s: %s\n", options.link, std::strerror(errno));
    serialcan::emu::ClosePtyLine(line);
    return 1;
  }
  std::printf("%s\n", line.farPath);
  std::fflush(stdout);

  Run(line, options);

  if (options.link) RemoveLink(options.link, line);
  serialcan::emu::ClosePtyLine(line);
  return 0;
}
