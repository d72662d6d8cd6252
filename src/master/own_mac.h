// The master's own MAC ID: chosen for each operation so that it differs
// from the slaves the operation talks to, checked free on the bus before the
// first request goes to a slave, and defended by the link layer while it is
// claimed.
#pragma once

#include <cstdint>

namespace master {

// Chooses the own MAC ID for an operation on the slaves at `a` and `b` (the
// same address twice for one slave) and checks that no other node answers a
// Duplicate MAC ID check for it (two requests, 200 ms each). Candidates in
// order: PickOwnMacId(a, b), then 0, 1, 2, 63, 62, 61, 60; never a or b. True with
// g_NodeTable.OwnMacId set and claimed; false when every candidate is taken (message 1051 shown to
// `window`, nothing sent to a slave). The adapter must be open.
bool ClaimOwnMacId(void* window, uint8_t a, uint8_t b);

// True when a device answers a Duplicate MAC ID check for `mac`: two
// requests, 200 ms each, so that a slow node and a single lost answer are
// still caught.
bool AddressTaken(uint8_t mac);

// Gives the claim up: the link layer no longer answers for the own MAC ID.
// Called before the adapter closes.
void ReleaseOwnMacId();

}  // namespace master
