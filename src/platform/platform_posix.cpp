#include <time.h>

#include "platform/platform.h"

namespace platform {

uint32_t SystemTickMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                      static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SystemSleep1Ms() {
  const timespec oneMs{0, 1000000};
  nanosleep(&oneMs, nullptr);
}

}  // namespace platform
