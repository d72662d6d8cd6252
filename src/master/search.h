// The slave search: every MAC ID from 0 to 63 probed with a Duplicate MAC ID
// check, at the adapter's baud rate or at several, then the identity of each
// node that answered read over an explicit connection of its own. The
// result is kept one mark per address and one record per address and rate.
// The Search Slaves dialog (ui/) shows them; it registers the function that
// fills its list, which the search calls as it learns more.
#pragma once

#include <cstdint>

#include "master/node_identity.h"

namespace master {

constexpr int SEARCH_MAC_COUNT = 64;
constexpr int SEARCH_RATE_COUNT = 3;         // baud indexes 0..2: 125, 250, 500 kBaud
constexpr uint32_t SEARCH_SETTLE_MS = 3000;  // wait after the adapter opens, before the first probe

// SearchMarks values.
constexpr uint8_t MARK_NOT_PROBED = 0;
constexpr uint8_t MARK_ANSWERED = 1;  // at one of the rates searched, at least
constexpr uint8_t MARK_SILENT = 2;    // at every rate searched

// SearchNode states.
constexpr uint8_t NODE_ABSENT = 0;      // no answer to the probe at this rate (or not probed)
constexpr uint8_t NODE_ANSWERED = 1;    // answered the probe; identity not read (yet)
constexpr uint8_t NODE_IDENTIFIED = 2;  // identity read
constexpr uint8_t NODE_FAILED = 3;      // identity not readable: `failure` says why

// What the search learned of one address at one rate.
struct SearchNode {
  uint8_t state;
  uint32_t failure;  // the TXR_* result of the identity read, for NODE_FAILED
  NodeIdentity identity;
};

// Program-wide search state, zero at start-up.
extern uint8_t SearchMarks[SEARCH_MAC_COUNT];  // one MARK_* per MAC ID
extern SearchNode SearchNodes[SEARCH_RATE_COUNT][SEARCH_MAC_COUNT];
extern int SearchRunning;  // 1 while a search runs
extern int SearchAbort;    // the search stops at the next step when set
extern int SearchFound;    // a device answered in the current search
// TXR_ADAPTER_ERROR with the adapter's word when the adapter refused a frame
// and the search stopped there (reported to the user); 0 otherwise.
extern uint32_t SearchAdapterError;

// Fills list `listId` of `dialog` from SearchMarks and SearchNodes; returns 1.
using SearchListFillFn = int (*)(void* dialog, int listId);

// Registers the list filler the search calls; null: nothing is shown.
void SetSearchListFill(SearchListFillFn fill);

// A search at BaudIndex, starting afresh: opens the adapter (its failure
// reported to `dialog`), lets 3000 ms pass, claims an own MAC ID
// (ClaimOwnMacId), probes 0..63 at once (60 ms answer window each), then
// reads the identity of every node that answered, filling the list as
// answers come. The window's messages are handled throughout and the
// progress is shown; Abort ends every phase; the adapter is closed at the
// end. A frame the adapter refuses ends the search there: message 1522 names
// the adapter's error, SearchAdapterError keeps it and SearchAbort is set,
// so that no other rate is offered. 1 when the search ran (SearchAbort set
// when it was aborted, stopped by the adapter or no own MAC ID was free), 0
// when the adapter could not be opened (SearchAbort is then set).
int SearchRun(void* dialog);

// The same at every baud rate, BaudIndex first, starting afresh; every
// progress text at a rate starts with that rate. The caller has asked the
// user first: probing at a foreign rate disturbs a network running at it.
int SearchRunAllRates(void* dialog);

// The same at the two rates other than BaudIndex, adding to what the
// search found so far (after SearchRun found nothing).
int SearchRunOtherRates(void* dialog);

// List index of the entry to select after a search, in the order the list
// shows them (by MAC ID, then rate; one entry per silent address): the first
// node whose identity was read, else the first node that answered, else -1.
// A node that answers probes and no explicit message (a scanner) is seldom
// the slave wanted.
int SearchFirstFoundIndex();

}  // namespace master
