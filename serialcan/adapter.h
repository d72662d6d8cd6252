// The serial-line adapter behind the entry points: the open sequence, frames
// both ways, the answers matched to their commands as they come, refused
// frames sent again, the status word. The results
// and their meaning are those of serialcan.h.
#pragma once

#include <cstdint>

#include "serialcan.h"

namespace serialcan {

uint32_t AdapterOpen(uint16_t bitTiming, int msgType, int hwType, uint32_t ioPort);
uint32_t AdapterClose();
uint32_t AdapterWrite(const SerialCanMsg* msg);
uint32_t AdapterRead(SerialCanMsg* msg);
uint32_t AdapterStatus();
uint32_t AdapterResetClient();
SerialCanStats AdapterStats();

}  // namespace serialcan
