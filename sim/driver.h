// The adapter side of the driver entry points, shared by the CAN_Init call
// forms of the different builds.
#pragma once

#include <cstdint>

namespace sim {

// Opens the adapter; the parallel-port arguments are recorded when
// `lptForm` says the caller passed them.
uint32_t DriverInit(uint16_t btr0btr1, int msgType, bool lptForm, int hwType, uint32_t ioPort,
                    uint16_t interrupt);

}  // namespace sim
