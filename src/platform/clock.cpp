#include "platform/platform.h"

namespace platform {

namespace {
bool testClockOn = false;
uint32_t testClockMs = 0;
uint32_t testClockUs = 0;     // wraps on its own; only differences count
uint32_t testClockSubMs = 0;  // microseconds of PauseUs not yet a whole millisecond
}  // namespace

uint32_t TickMs() {
  return testClockOn ? testClockMs : SystemTickMs();
}

void Sleep1Ms() {
  if (testClockOn) {
    AdvanceTestClock(1);
    return;
  }
  SystemSleep1Ms();
}

uint32_t TickUs() {
  return testClockOn ? testClockUs : SystemTickUs();
}

namespace {
void AdvanceTestClockUs(uint32_t us) {
  testClockUs += us;
  testClockSubMs += us;
  testClockMs += testClockSubMs / 1000;
  testClockSubMs %= 1000;
}
}  // namespace

void PauseUs(uint32_t us) {
  if (testClockOn) {
    AdvanceTestClockUs(us);
    return;
  }
  SystemPauseUs(us);
}

void NapUs(uint32_t us) {
  if (testClockOn) {
    AdvanceTestClockUs(us);
    return;
  }
  SystemNapUs(us);
}

void EnableTestClock(uint32_t startMs) {
  testClockOn = true;
  testClockMs = startMs;
  testClockUs = startMs * 1000u;
  testClockSubMs = 0;
}

void AdvanceTestClock(uint32_t ms) {
  testClockMs += ms;
  testClockUs += ms * 1000u;
}

void DisableTestClock() {
  testClockOn = false;
}

}  // namespace platform
