// Communication with the slave at AppState CurrAdr as the main window and
// the shell see it: bringing it into polled I/O and out again, the one place
// where a failed transaction becomes a message, and the cyclic step that the
// shell's idle step runs. Windows are reached through persist's control text,
// cursor and message box seams and through comm_view.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace master {

constexpr uint16_t CONN_INSTANCE_EXPLICIT = 1;    // the explicit connection's Connection instance
constexpr uint32_t CONNECT_WINDOW_MS = 3000;      // how long a slave is given to connect
constexpr uint32_t CONNECT_RETRY_PAUSE_MS = 250;  // between two connect tries within it
// The poll connection's expected packet rate with the slave watchdog on.
// The slave drops the connection after four rates (4 s) without a poll: the
// cyclic exchange polls every few milliseconds, also while menus and modal
// boxes are open, and even a failing poll's three tries of 2000 ms each send
// a poll command at least every 2 s; only a stopped exchange (the program
// gone, the cable pulled, a failure message waiting for an answer) lets it
// run out.
constexpr uint16_t WATCHDOG_PACKET_RATE_MS = 1000;

// AppState CurrAdr as a MAC ID.
uint8_t CurrentSlave();

// TxConnect to `address`, CONNECT_RETRY_PAUSE_MS apart, until it succeeds,
// the slave turns out to belong to another master (TXR_OWNED_ELSEWHERE) or
// its set to be allocated at our MAC ID (TXR_SET_AT_OWN_MAC), or the next
// try would start after `windowMs`. The last TxConnect result; after a
// failure, the last one that named the slave's error code, if any did.
uint32_t ConnectWithin(uint8_t address, uint32_t windowMs);

// Switches off the watchdog of connection `instance` of the slave at
// `address` (expected packet rate 0 ms). The TxService result.
uint32_t SetNoWatchdog(uint8_t address, uint16_t instance);

// Claims an own MAC ID, connects the slave at CurrAdr within 3000 ms
// (ConnectWithin; a set allocated at our MAC ID is taken over only when
// AskTakeOverSet is answered Yes), switches off the watchdog of its explicit
// connection and, `withPoll` set, sets its poll connection's (off, or
// WATCHDOG_PACKET_RATE_MS with SlaveWatchdog), and checks that the poll
// connection is established. Zeroes Io and pumps the window's messages
// (the comm view's ProcessMessage) meanwhile; a failing request is reported
// through ReportResult. Returns TXR_OK, TXR_REPORTED (no free own MAC ID,
// the slave belongs to another master, the user kept a set at our MAC ID,
// or not connected: ShowConnectFailed; all shown), TXR_IO_FAILED (poll
// connection not established, not reported) or the failing result.
uint32_t SlaveConnect(void* window, int withPoll);

// The Start command: asks message 1010, opens the adapter, connects the
// slave, fills the identity fields, sizes the I/O records, clears Freeze
// Outputs and marks communication active with ProcessMessage pumped while
// transactions wait. 1 when communication runs, else 0 (the failure has been
// reported, or the user cancelled). Refused (0) while CyclicBusy is set.
int CommStart(void* window);

// The Stop command and the clean-up at exit: releases the slave's
// connections, closes the adapter, ends communication and empties the I/O
// records, the views, the identity fields and the bus status. 1 when it
// stopped; 0 when CyclicBusy is set or the adapter is not open.
int CommStop(void* window);

// Message 1050: the slave at `address` belongs to another master.
void ShowOwnedElsewhere(void* window, uint8_t address);

// Asks whether the connections of the slave at `address`, allocated by a
// master at our MAC ID `ownMacId` that this program does not know to be
// itself, may be released and allocated for this program. Yes and No, No
// the default. True on Yes.
bool AskTakeOverSet(void* window, uint8_t address, uint8_t ownMacId);

// Message 1015 for a slave that did not connect, with its address and the
// error code `result` names, or that it did not answer.
void ShowConnectFailed(void* window, uint32_t result, uint8_t address);

// Turns a transaction result into a message: none for TXR_OK, 1016 with the
// general error code, 1008 with OK while communication is inactive, 1008
// with Retry and Cancel while it runs (Cancel stops; Retry goes on when the
// poll connection is still established, else stops and starts again). 1 when
// the caller may carry on, 0 when the operation is abandoned.
// The failure messages name the slave at CurrAdr (1008 adds its address and,
// for TXR_BUS_FAULT, the adapter's status, for TXR_ADAPTER_ERROR its error;
// 1016 the error code's name and the additional code); TXR_REPORTED shows
// nothing more, and TXR_OWNED_ELSEWHERE shows message 1050. Any failure
// after another node claimed the own MAC ID shows message 1500 instead
// (once) and stops communication, as Cancel does.
int ReportResult(void* window, uint32_t result);

// ReportResult for the slave at `address`.
int ReportResultFor(void* window, uint32_t result, uint8_t address);

// The error code of an error-response result in words: "0C hex (object
// state conflict), additional code 01"; the bare code when no name loads.
void ErrorCodeText(uint32_t result, char* text, size_t size);

// The adapter's error of a TXR_ADAPTER_ERROR result in words: `status` the
// text of its word ("Bus off", "Transmit queue full" for a queue that stayed
// full), `code` the word in hex ("0010").
void AdapterErrorText(uint32_t result, char* status, size_t statusSize, char* code,
                      size_t codeSize);

// 1 when the poll connection of the slave at CurrAdr reads as established.
bool PollConnectionEstablished();

// One turn of the cyclic exchange: a queued attribute read, a queued
// attribute write, then, while communication runs, one poll (up to three
// tries) and a refresh of the data views. 1 when a poll was completed and
// the views refreshed, else 0. Returns 0 at once while CyclicBusy is set.
int CyclicStep(void* window);

// While the adapter is open and nothing else reads it (communication
// inactive, no transaction waiting, no operation running): one link tick, so
// that another node's claim of the own MAC ID is seen before the next
// request. 1 when it ticked. The window's timer calls it.
int ServiceIdleBus();

}  // namespace master
