// CAN_Init where the caller cleans the stack (every build but the 32-bit
// Windows library): one function serves both call forms, and the three
// parallel-port arguments are only read when the library was loaded under
// the parallel-port driver's name, that is when the caller passed them.
#include "driver.h"
#include "module.h"
#include "simcan.h"

extern "C" uint32_t SIMCAN_STDCALL CAN_Init(uint16_t btr0btr1, int msgType, int hwType,
                                            uint32_t ioPort, uint16_t interrupt) {
  if (sim::LoadedAsLptDriver()) {
    return sim::DriverInit(btr0btr1, msgType, true, hwType, ioPort, interrupt);
  }
  return sim::DriverInit(btr0btr1, msgType, false, 0, 0, 0);
}
