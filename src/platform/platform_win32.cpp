#include <io.h>
#include <windows.h>

#include <algorithm>

#include "platform/platform.h"
#include "platform/wake_lateness.h"
#include "platform/wide_text.h"

namespace platform {

uint32_t SystemTickMs() {
  return GetTickCount();
}

void SystemSleep1Ms() {
  Sleep(1);
}

uint32_t SystemTickUs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const unsigned long long counts = static_cast<unsigned long long>(now.QuadPart);
  const unsigned long long perSecond = static_cast<unsigned long long>(frequency.QuadPart);
  // In two parts, so that the product cannot overflow after weeks of uptime.
  return static_cast<uint32_t>(counts / perSecond * 1000000ull +
                               counts % perSecond * 1000000ull / perSecond);
}

namespace {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// Sleep(), the system's everyday sleep, counts whole milliseconds. A short
// pause needs a finer one; what a system offers and how late it wakes differ
// (a high-resolution timer on recent Windows, the native delay call under
// Wine), so the pause tries them at start and keeps judging them as it runs:
// a moment of other work at start must not commit the run to the wrong one.
enum Sleeper { SLEEPER_DELAY, SLEEPER_TIMER };

// The native call behind Sleep(), which takes 100 ns units.
using DelayExecutionFn = LONG(WINAPI*)(BOOLEAN alertable, LARGE_INTEGER* interval);

struct PauseSleep {
  bool started;
  DelayExecutionFn delay;
  HANDLE timer;
  Sleeper kinds[SLEEPERS_MAX];  // what each entry of the choice is
  SleepChoice choice;
};
PauseSleep pauseSleep;

constexpr uint32_t TRIAL_SLEEP_US = 200;
constexpr int TRIAL_SLEEPS = 5;

void SleepWith(Sleeper kind, uint32_t us) {
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(us) * 10;  // relative, 100 ns units
  if (kind == SLEEPER_DELAY) {
    pauseSleep.delay(FALSE, &due);
  } else if (SetWaitableTimer(pauseSleep.timer, &due, 0, nullptr, nullptr, FALSE)) {
    WaitForSingleObject(pauseSleep.timer, INFINITE);
  }
}

// The median lateness of a few trial sleeps: the first guess.
uint32_t TrialLateness(Sleeper kind) {
  uint32_t late[TRIAL_SLEEPS];
  for (uint32_t& one : late) {
    const uint32_t start = SystemTickUs();
    SleepWith(kind, TRIAL_SLEEP_US);
    const uint32_t slept = SystemTickUs() - start;
    one = slept > TRIAL_SLEEP_US ? slept - TRIAL_SLEEP_US : 0;
  }
  std::sort(late, late + TRIAL_SLEEPS);
  return late[TRIAL_SLEEPS / 2];
}

void StartSleepChoice() {
  pauseSleep.started = true;
  if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
    pauseSleep.delay = reinterpret_cast<DelayExecutionFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDelayExecution")));
  }
  pauseSleep.timer = CreateWaitableTimerExW(nullptr, nullptr,
                                            CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                            TIMER_MODIFY_STATE | SYNCHRONIZE);
  int count = 0;
  if (pauseSleep.delay) pauseSleep.kinds[count++] = SLEEPER_DELAY;
  if (pauseSleep.timer) pauseSleep.kinds[count++] = SLEEPER_TIMER;
  uint32_t guess[SLEEPERS_MAX] = {};
  for (int i = 0; i < count; ++i) guess[i] = TrialLateness(pauseSleep.kinds[i]);
  InitSleepChoice(pauseSleep.choice, count, guess, SystemTickUs());
}

// Sleeps as planned and learns how late the sleep woke.
void SleepAsPlanned(const SleepPlan& plan, uint32_t start) {
  if (plan.Sleeper < 0) return;
  SleepWith(pauseSleep.kinds[plan.Sleeper], plan.Us);
  const uint32_t now = SystemTickUs();
  NoteSleep(pauseSleep.choice, plan, now - start, now);
}

}  // namespace

// Sleeps what the best sleep can be trusted with and yields for the rest.
void SystemPauseUs(uint32_t us) {
  if (!pauseSleep.started) StartSleepChoice();
  const uint32_t start = SystemTickUs();
  SleepAsPlanned(PlanPause(pauseSleep.choice, us, start), start);
  while (SystemTickUs() - start < us) SwitchToThread();
}

void SystemNapUs(uint32_t us) {
  if (!pauseSleep.started) StartSleepChoice();
  const uint32_t start = SystemTickUs();
  const SleepPlan plan = PlanNap(pauseSleep.choice, us, start);
  SleepAsPlanned(plan, start);
  if (plan.Sleeper < 0) {
    while (SystemTickUs() - start < us) SwitchToThread();
  }
}

bool Utf8ToWide(const char* text, wchar_t* out, size_t outSize) {
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out,
                                        static_cast<int>(outSize));
  if (units > 0) return true;
  if (outSize > 0) out[0] = L'\0';
  return false;
}

bool WideToUtf8(const wchar_t* text, char* out, size_t outSize) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, static_cast<int>(outSize),
                                        nullptr, nullptr);
  if (bytes > 0) return true;
  if (outSize > 0) out[0] = '\0';
  return false;
}

std::FILE* OpenFile(const char* path, const char* mode) {
  wchar_t widePath[WIDE_PATH_SIZE];
  wchar_t wideMode[8];
  if (!Utf8ToWide(path, widePath, WIDE_PATH_SIZE) || !Utf8ToWide(mode, wideMode, 8)) {
    return nullptr;
  }
  return _wfopen(widePath, wideMode);
}

bool TruncateFile(std::FILE* file, uint64_t size) {
  std::fflush(file);
  return _chsize_s(_fileno(file), static_cast<__int64>(size)) == 0;
}

void* LoadLibraryFile(const char* fileName) {
  wchar_t wideName[WIDE_PATH_SIZE];
  if (!Utf8ToWide(fileName, wideName, WIDE_PATH_SIZE)) return nullptr;
  return reinterpret_cast<void*>(LoadLibraryW(wideName));
}

void* ResolveEntry(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibraryFile(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

void PumpOneMessage(void (*handler)(void* message)) {
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) handler(&msg);
}

void PumpOneNonInputMessage(void (*handler)(void* message)) {
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0,
                   PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
    handler(&msg);
  }
}

}  // namespace platform
