#include <dlfcn.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/wake_lateness.h"

namespace platform {

uint32_t SystemTickMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SystemSleep1Ms() {
  const timespec oneMs{0, 1000000};
  nanosleep(&oneMs, nullptr);
}

uint32_t SystemTickUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t us =
      static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
  return static_cast<uint32_t>(us);
}

namespace {

// A fine-grained sleep wakes some tens of microseconds late: it sleeps the
// pause less that lateness, and the rest is spent watching the clock. Not
// yielding there: on a busy machine a yield can hand the processor away for a
// whole time slice, while a waking sleeper gets it back at once.
constexpr uint32_t NANOSLEEP_FIRST_GUESS_US = 40;

SleepChoice& Nanosleep() {
  static SleepChoice choice = [] {
    SleepChoice c{};
    InitSleepChoice(c, 1, &NANOSLEEP_FIRST_GUESS_US, SystemTickUs());
    return c;
  }();
  return choice;
}

// Sleeps as planned and learns how late the sleep woke.
void SleepAsPlanned(const SleepPlan& plan, uint32_t start) {
  if (plan.Sleeper < 0) return;
#if defined(__linux__)
  // The default timer slack of 50 us would swallow a short sleep whole.
  static const bool slackSet = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
  (void)slackSet;
#endif
  const timespec nap{0, static_cast<long>(plan.Us) * 1000L};
  nanosleep(&nap, nullptr);
  const uint32_t now = SystemTickUs();
  NoteSleep(Nanosleep(), plan, now - start, now);
}

}  // namespace

void SystemPauseUs(uint32_t us) {
  const uint32_t start = SystemTickUs();
  SleepAsPlanned(PlanPause(Nanosleep(), us, start), start);
  while (SystemTickUs() - start < us) {
  }
}

void SystemNapUs(uint32_t us) {
  const uint32_t start = SystemTickUs();
  const SleepPlan plan = PlanNap(Nanosleep(), us, start);
  SleepAsPlanned(plan, start);
  if (plan.Sleeper < 0) {
    while (SystemTickUs() - start < us) {
    }
  }
}

namespace {

std::string ProgramDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  char* slash = std::strrchr(path, '/');
  if (slash) *slash = '\0';
  return path;
}

}  // namespace

std::FILE* OpenFile(const char* path, const char* mode) {
  return std::fopen(path, mode);
}

bool TruncateFile(std::FILE* file, uint64_t size) {
  std::fflush(file);
  return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

void* LoadLibraryFile(const char* fileName) {
  if (std::strchr(fileName, '/')) return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  // Like Windows: the program's folder first, then the current directory.
  const std::string besideProgram = ProgramDirectory() + "/" + fileName;
  if (void* library = dlopen(besideProgram.c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
  const std::string inCurrentDir = std::string("./") + fileName;
  return dlopen(inCurrentDir.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* ResolveEntry(void* library, const char* name) {
  return dlsym(library, name);
}

void FreeLibraryFile(void* library) {
  dlclose(library);
}

void PumpOneMessage(void (*)(void*)) {}

void PumpOneNonInputMessage(void (*)(void*)) {}

}  // namespace platform
