// Connection tracking: the link layer learns each slave's connection
// parameters (body format, UCMM message IDs and instance, I/O sizes) by
// watching the explicit traffic in both directions.
#pragma once

#include "devicenet/codec.h"
#include "devicenet/node_table.h"

namespace devicenet {

// Looks at one decoded and parsed message, sent or received, before the state
// machines see it, and updates the record of the slave it concerns.
void TrackConnection(const DnMessage& message, NodeTable& table);

}  // namespace devicenet
