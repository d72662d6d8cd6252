#include "persist/logclock.h"

#include <ctime>

namespace persist {

namespace {

bool g_fixed = false;
int64_t g_fixedSeconds = 0;
LocalStamp g_fixedLocal = {};

}  // namespace

int64_t CalendarSeconds() {
  if (g_fixed) return g_fixedSeconds;
  return static_cast<int64_t>(std::time(nullptr));
}

LocalStamp LocalNow() {
  if (g_fixed) return g_fixedLocal;
  std::time_t now = std::time(nullptr);
  // One thread only, so the static result of localtime is safe here.
  const std::tm* tm = std::localtime(&now);
  if (!tm) return LocalStamp{1970, 1, 1, 0, 0, 0};
  return LocalStamp{tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday,
                    tm->tm_hour,        tm->tm_min,     tm->tm_sec};
}

void FixLogClock(int64_t calendarSeconds, const LocalStamp& local) {
  g_fixed = true;
  g_fixedSeconds = calendarSeconds;
  g_fixedLocal = local;
}

void ReleaseLogClock() {
  g_fixed = false;
}

}  // namespace persist
