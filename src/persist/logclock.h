// Calendar time and local time of day for the input log, with a fixed clock
// for tests so that the date, time and seconds columns can be checked
// exactly.
#pragma once

#include <cstdint>

namespace persist {

struct LocalStamp {
  int year;    // e.g. 2026
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..60
};

// Calendar time in seconds since the epoch.
int64_t CalendarSeconds();

// Local date and time of day now.
LocalStamp LocalNow();

// Test clock: from now on CalendarSeconds and LocalNow return these values
// until the next FixLogClock or ReleaseLogClock.
void FixLogClock(int64_t calendarSeconds, const LocalStamp& local);
void ReleaseLogClock();

}  // namespace persist
