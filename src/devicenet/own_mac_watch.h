// The watch over the master's own MAC ID: every Duplicate MAC ID check
// message of another node is looked at. A check for the MAC ID being checked
// takes it; one for the claimed MAC ID ends its use at once. The master is a
// passing guest on a plant's network: it never answers a check for its MAC
// ID (that would fault a scanner booting with it), it gives the MAC ID up.
#pragma once

#include "devicenet/codec.h"
#include "devicenet/node_table.h"

namespace devicenet {

// Offers a received message; anything but a Duplicate MAC ID check message
// of at least 7 bytes is ignored. A request for any MAC ID sets its
// CheckHeard entry. A request or response for OwnMacId while OwnMacChecking
// or OwnMacClaimed is set fills Rival (the first one); while claimed it also
// clears OwnMacClaimed, sets OwnMacLost and ends every explicit exchange and
// poll in progress with RESULT_FAILED, so that not one more frame of theirs
// goes out.
void WatchOwnMac(NodeTable& table, const DnMessage& received);

// Forgets what the watch saw: CheckHeard, Rival and OwnMacLost.
void ClearOwnMacWatch(NodeTable& table);

// Forgets only CheckHeard: what was heard on the bus before the adapter was
// opened again, maybe at another rate, says nothing of the bus now.
void ForgetChecksHeard(NodeTable& table);

}  // namespace devicenet
