// The operating-system seam: the only services portable code takes from the
// OS. One Win32 and one POSIX file implement it; nothing here includes
// <windows.h>.
#pragma once

#include <cstdint>

namespace platform {

// Millisecond tick count; wraps after about 49.7 days, so compare ticks by
// unsigned difference only.
uint32_t TickMs();

// Sleeps about one millisecond (under the test clock: advances it by 1 ms).
void Sleep1Ms();

// Test clock. While enabled, TickMs returns a value that moves only by
// AdvanceTestClock and Sleep1Ms, so time-outs are tested without waiting.
void EnableTestClock(uint32_t startMs);
void AdvanceTestClock(uint32_t ms);
void DisableTestClock();

// The real system services behind TickMs and Sleep1Ms.
uint32_t SystemTickMs();
void SystemSleep1Ms();

}  // namespace platform
