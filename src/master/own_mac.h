// The master's own MAC ID: chosen for each operation so that it differs
// from the slaves the operation talks to (or fixed by the user), checked free
// on the bus before the first request goes to a slave, and watched by the
// link layer while it is used: another node's check message for it ends its
// use before any further request.
#pragma once

#include <cstdint>

namespace master {

// What one Duplicate MAC ID check of an address found.
enum MacCheck {
  MAC_FREE,      // both requests left the adapter and nothing claimed the address
  MAC_TAKEN,     // a node answered, or another node checked the address meanwhile
  MAC_NOT_SENT,  // the adapter refused a request: nothing is known
};

// The own MAC ID for an operation on the slaves at `a` and `b` (the same
// address twice for one slave). First listens 1100 ms, sending nothing, so
// that a node in the middle of its own start-up check (which sends a request
// each second) is heard rather than knocked into a fault by our request. Then
// checks the candidates: with AppState OwnMacFixed only OwnMacChoice, else
// PickOwnMacId(a, b), then 0, 1, 2, 63, 62, 61, 60; never a or b, nor one that
// another node checked meanwhile. True with g_NodeTable.OwnMacId set and
// claimed. False, nothing sent to a slave and the reason shown to `window`:
// every candidate taken (message 1051, or 1503 for the fixed one), the fixed
// one is a or b (1507), or the adapter refused a check (1504, naming its
// status: the operation stops there). The adapter must be open. Draws the
// check's serial number first where AppState CheckSerial is still 0, and
// shows message 1500 first where the last claim was lost and not yet told.
bool ClaimOwnMacId(void* window, uint8_t a, uint8_t b);

// Two Duplicate MAC ID check requests for `mac`, 200 ms each, so that a slow
// node and a single lost answer are still caught; a request for `mac` from
// another node heard since the last claim began also takes it. Stops at the
// first refused request.
MacCheck CheckAddress(uint8_t mac);

// CheckAddress(mac) != MAC_FREE: an address whose check did not go out is
// not known to be free.
bool AddressTaken(uint8_t mac);

// Message 1504 for the check of `mac` that the adapter refused, with the
// adapter's status.
void ShowCheckRefused(void* window, uint8_t mac);

// When another node has claimed the own MAC ID (g_NodeTable OwnMacLost):
// message 1500 naming the MAC ID and the node, shown once per claim, and
// true. False otherwise.
bool ReportOwnMacLost(void* window);

// Gives the claim up: the link layer no longer watches the own MAC ID.
// Called before the adapter closes.
void ReleaseOwnMacId();

// AppState CheckSerial, drawn at random (never 0) where it is still 0; it is
// kept in the settings file so that it stays this installation's.
uint32_t CheckSerialNumber();

}  // namespace master
