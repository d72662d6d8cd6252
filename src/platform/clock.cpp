#include "platform/platform.h"

namespace platform {

namespace {
bool testClockOn = false;
uint32_t testClockMs = 0;
}  // namespace

uint32_t TickMs() {
  return testClockOn ? testClockMs : SystemTickMs();
}

void Sleep1Ms() {
  if (testClockOn) {
    testClockMs += 1;
    return;
  }
  SystemSleep1Ms();
}

void EnableTestClock(uint32_t startMs) {
  testClockOn = true;
  testClockMs = startMs;
}

void AdvanceTestClock(uint32_t ms) {
  testClockMs += ms;
}

void DisableTestClock() {
  testClockOn = false;
}

}  // namespace platform
