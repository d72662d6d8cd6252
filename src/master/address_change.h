// Moving a slave to another MAC ID and baud rate: a Set_Attribute_Single to
// its DeviceNet object, each change checked by connecting the slave where it
// should now be. The Change Address and Baud Rate dialog (ui/) holds the
// four values and runs ChangeCarryOut on OK.
#pragma once

#include <cstdint>

#include "master/transactions.h"

namespace master {

// The dialog's values, set afresh each time it opens.
extern int OldAddress;    // 0..63: where the slave is now
extern int NewAddress;    // 0..63: where it should go
extern int OldBaudIndex;  // 0..2 (125, 250, 500 kbit/s): its rate now
extern int NewBaudIndex;  // 0..2: the rate it should take

// ChangeAddress found another device answering at NewAddress and wrote
// nothing (message 1039 shown): a reported result of its own, which no
// transaction gives.
constexpr uint32_t TXR_ADDRESS_IN_USE = TXR_REPORTED | 0x00000001;

// Moves the slave at OldAddress to NewAddress (nothing when they are equal)
// with an own MAC ID that differs from both: connects within 3000 ms,
// switches off the explicit connection's watchdog, makes sure nothing
// answers at NewAddress, writes the MAC ID, waits while the slave restarts
// there and runs its own Duplicate MAC ID check, and connects it again
// within 10000 ms of the write. Returns TXR_OK, TXR_NO_SLAVE (not
// reachable at OldAddress), TXR_ADDRESS_IN_USE, TXR_REPORTED (shown: no
// own MAC ID free, the set owned elsewhere, or the slave took the change
// and then was not found or another device answers where it was sent), or
// the failing result of a request before the write (the watchdog and
// identity requests reported through ReportResult(window), the write not).
uint32_t ChangeAddress(void* window);

// Moves the slave at `address` to NewBaudIndex (nothing when it equals
// OldBaudIndex): connects at OldBaudIndex's rate, switches off the
// watchdog, writes the baud rate and resets the slave; then opens the
// adapter once at the new rate, claims the own MAC ID afresh there, waits
// while the slave runs its own Duplicate MAC ID check and connects it
// within 10000 ms of the reset. Returns TXR_OK, TXR_NO_SLAVE, TXR_FAILED
// (reset not sent), TXR_REPORTED (shown, as for ChangeAddress; also when
// the adapter did not reopen at the new rate) or the failing result of a
// request before the reset.
uint32_t ChangeBaud(void* window, uint8_t address);

// OK of the dialog. With a new baud rate the adapter first opens there and
// the slave's future MAC ID must not answer: nothing is written otherwise.
// Then the address step and the baud step, each with the adapter opened at
// OldBaudIndex and closed afterwards and `fillMainLists(mainWindow)` run
// after it; messages go to `window` (the dialog). CurrAdr and BaudIndex
// follow the slave: a step that was confirmed, or whose change the slave
// took before it was lost (said so in the message); never to where another
// device answers. A slave lost on the way ends the steps; a baud step after
// a failed address step looks for the slave at OldAddress. A slave missing
// at the start (message 1036) ends both steps at once: no list refill, the
// adapter left open. Returns CHANGE_DONE when the dialog may end,
// CHANGE_AGAIN when nothing was written because NewAddress is in use (at
// either rate) or the adapter did not open at the new rate (the user may
// correct the values), CHANGE_REFUSED when the adapter could not be closed (an exchange
// runs).
constexpr int CHANGE_REFUSED = 0;
constexpr int CHANGE_DONE = 1;
constexpr int CHANGE_AGAIN = 2;
int ChangeCarryOut(void* window, void* mainWindow, void (*fillMainLists)(void* mainWindow));

}  // namespace master
