// The master's own MAC ID: chosen for each operation so that it differs
// from the slaves the operation talks to, checked free on the bus before the
// first request goes to a slave, and defended by the link layer while it is
// claimed.
#pragma once

#include <cstdint>

namespace master {

// Chooses the own MAC ID for an operation on the slaves at `a` and `b` (the
// same address twice for one slave) and checks that no other node answers a
// Duplicate MAC ID check for it. True with g_NodeTable.OwnMacId set and
// claimed; false when every candidate is taken (message 1051 shown to
// `window`, nothing sent to a slave). The adapter must be open.
bool ClaimOwnMacId(void* window, uint8_t a, uint8_t b);

// Gives the claim up: the link layer no longer answers for the own MAC ID.
// Called before the adapter closes.
void ReleaseOwnMacId();

}  // namespace master
