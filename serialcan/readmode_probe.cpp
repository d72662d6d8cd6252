// Measures the two ways of reading a COM port that return early, on this
// machine (written to choose the library's read mode under Wine; built on
// request only: target serialcan_readmode_probe).
//
//   serialcan_readmode_probe COMNUMBER [WAITMS [ROUNDS]]
//
// The far end must answer "F\r" with a line ending in CR (an adapter, or the
// emulator). For each mode it sends ROUNDS status requests and times each
// answer, and times reads of a port with nothing waiting:
//   poll: ReadIntervalTimeout MAXDWORD, the others 0 (return at once),
//         read again until the answer is complete;
//   wait: MAXDWORD, MAXDWORD, WAITMS (return at the first byte, or after
//         WAITMS when none comes).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Figures {
  double sum, max;
  int count;
  void Add(double ms) {
    sum += ms;
    if (ms > max) max = ms;
    ++count;
  }
  double Mean() const { return count ? sum / count : 0; }
};

bool SetMode(HANDLE port, bool wait, DWORD waitMs) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = wait ? MAXDWORD : 0;
  t.ReadTotalTimeoutConstant = wait ? waitMs : 0;
  t.WriteTotalTimeoutConstant = 100;
  return SetCommTimeouts(port, &t) != 0;
}

// One status request and its answer; false when none came within a second.
bool RoundTrip(HANDLE port, Figures& answer, Figures& reads) {
  DWORD n = 0;
  const double start = NowMs();
  if (!WriteFile(port, "F\r", 2, &n, nullptr) || n != 2) return false;
  int calls = 0;
  for (;;) {
    char bytes[64];
    DWORD got = 0;
    if (!ReadFile(port, bytes, sizeof bytes, &got, nullptr)) return false;
    ++calls;
    for (DWORD i = 0; i < got; ++i) {
      if (bytes[i] == '\r') {
        answer.Add(NowMs() - start);
        reads.Add(calls);
        return true;
      }
    }
    if (NowMs() - start > 1000) return false;
  }
}

void Measure(HANDLE port, bool wait, DWORD waitMs, int rounds) {
  if (!SetMode(port, wait, waitMs)) {
    std::printf("SetCommTimeouts failed: %lu\n", GetLastError());
    return;
  }
  PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
  Figures answer{}, reads{}, idle{};
  for (int r = 0; r < rounds; ++r) {
    if (!RoundTrip(port, answer, reads)) {
      std::printf("no answer in round %d\n", r);
      return;
    }
    Sleep(2);  // let stray bytes settle, then read an empty port
    char bytes[64];
    DWORD got = 0;
    const double start = NowMs();
    ReadFile(port, bytes, sizeof bytes, &got, nullptr);
    idle.Add(NowMs() - start);
  }
  std::printf(
      "%-5s %3lu ms: answer mean %.3f ms max %.3f ms, reads per answer %.1f; "
      "empty read mean %.3f ms max %.3f ms\n",
      wait ? "wait" : "poll", wait ? waitMs : 0ul, answer.Mean(), answer.max, reads.Mean(),
      idle.Mean(), idle.max);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: %s COMNUMBER [WAITMS [ROUNDS]]\n", argv[0]);
    return 2;
  }
  const int com = std::atoi(argv[1]);
  const DWORD waitMs = argc > 2 ? static_cast<DWORD>(std::atoi(argv[2])) : 10;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 100;
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", com);
  HANDLE port =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    std::printf("%s does not open: %lu\n", name, GetLastError());
    return 1;
  }
  timeBeginPeriod(1);
  Measure(port, false, 0, rounds);
  Measure(port, true, waitMs, rounds);
  Measure(port, false, 0, rounds);
  timeEndPeriod(1);
  CloseHandle(port);
  return 0;
}
