// Defence of the master's own MAC ID: while the master has claimed it, a
// Duplicate MAC ID check request for it is answered, as every DeviceNet node
// answers for its own MAC ID, so that no other node comes online with it.
#pragma once

#include "devicenet/codec.h"
#include "devicenet/node_table.h"

namespace devicenet {

// What the master puts in its Duplicate MAC ID check messages: the tool
// has no registered vendor ID, so the vendor and serial fields are 0, the
// same as in its probes.
constexpr uint8_t OWN_PHYSICAL_PORT = 0;
constexpr uint16_t OWN_VENDOR_ID = 0;
constexpr uint32_t OWN_SERIAL_NUMBER = 0;

// Offers a received message. Returns the Duplicate MAC ID check response to
// send (valid until the next call) when the message is a check request for
// OwnMacId while OwnMacClaimed is set; counts a check response carrying
// OwnMacId in OwnMacConflicts meanwhile. Null otherwise.
const DnMessage* DefendOwnMac(NodeTable& table, const DnMessage& received);

}  // namespace devicenet
