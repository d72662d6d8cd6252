// Moving a slave to another MAC ID and baud rate: a Set_Attribute_Single to
// its DeviceNet object, each change checked by connecting the slave where it
// should now be. The Change Address and Baud Rate dialog (ui/) holds the
// four values and runs ChangeCarryOut on OK.
#pragma once

#include <cstdint>

namespace master {

// The dialog's values, set afresh each time it opens.
extern int OldAddress;    // 0..63: where the slave is now
extern int NewAddress;    // 0..63: where it should go
extern int OldBaudIndex;  // 0..2 (125, 250, 500 kbit/s): its rate now
extern int NewBaudIndex;  // 0..2: the rate it should take

// ChangeAddress found another device answering at NewAddress and wrote
// nothing (message 1039 shown). Outside the transaction result bits.
constexpr uint32_t TXR_ADDRESS_IN_USE = 0x08000000;

// Moves the slave at OldAddress to NewAddress (nothing when they are equal)
// with an own MAC ID that differs from both: connects within 3000 ms,
// switches off the explicit connection's watchdog, makes sure nothing
// answers at NewAddress, writes the MAC ID and connects at NewAddress
// within 10000 ms. Failures of the watchdog request and of the check are
// reported through ReportResult(window). Returns TXR_OK, TXR_NO_SLAVE (not
// reachable at OldAddress), TXR_ADDRESS_IN_USE or the failing result.
uint32_t ChangeAddress(void* window);

// Moves the slave at `address` to NewBaudIndex (nothing when it equals
// OldBaudIndex): connects at OldBaudIndex's rate, switches off the
// watchdog, writes the baud rate, resets the slave and reopens the adapter
// at the new rate until the slave connects at `address` (within 10000 ms).
// Returns TXR_OK, TXR_NO_SLAVE, TXR_FAILED (reset not sent, adapter not
// reopened) or the failing result.
uint32_t ChangeBaud(void* window, uint8_t address);

// OK of the dialog: the address step, then the baud step, each with the
// adapter opened at OldBaudIndex and closed afterwards and
// `fillMainLists(mainWindow)` run after it; messages 1036, 1020 and 1021 go
// to `window` (the dialog). CurrAdr and BaudIndex change only when their
// step succeeded. A baud step after a failed address step looks for the
// slave at OldAddress. A slave missing (message 1036) ends both steps at
// once: no list refill, the adapter left open. Returns CHANGE_DONE when the
// dialog may end, CHANGE_REFUSED when the adapter could not be closed (an
// exchange runs).
constexpr int CHANGE_REFUSED = 0;
constexpr int CHANGE_DONE = 1;
int ChangeCarryOut(void* window, void* mainWindow, void (*fillMainLists)(void* mainWindow));

}  // namespace master
