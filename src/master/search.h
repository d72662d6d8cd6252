// The slave search: every MAC ID from 0 to 63 probed with a Duplicate MAC ID
// check at the adapter's baud rate, the result kept one mark per address.
// The Search Slaves dialog (ui/) shows the marks; it registers the function
// that fills its list, which the scan calls after every address.
#pragma once

#include <cstdint>

namespace master {

constexpr int SEARCH_MAC_COUNT = 64;
constexpr uint32_t SEARCH_SETTLE_MS = 3000;  // wait after the adapter opens, before the first probe

// SearchMarks values.
constexpr uint8_t MARK_NOT_PROBED = 0;
constexpr uint8_t MARK_ANSWERED = 1;
constexpr uint8_t MARK_SILENT = 2;

// Program-wide search state, zero at start-up.
extern uint8_t SearchMarks[SEARCH_MAC_COUNT];  // one MARK_* per MAC ID
extern int SearchRunning;                      // 1 while SearchRun scans
extern int SearchAbort;                        // the scan stops before the next address when set
extern int SearchFound;                        // a device answered in the current search

// Fills list `listId` of `dialog` from SearchMarks; returns 1.
using SearchListFillFn = int (*)(void* dialog, int listId);

// Registers the list filler the scan calls; null: nothing is shown.
void SetSearchListFill(SearchListFillFn fill);

// The scan: opens the adapter at BaudIndex (its failure reported to
// `dialog`), lets 3000 ms pass, claims an own MAC ID (ClaimOwnMacId), then
// probes 0..63 (60 ms each) until SearchAbort is set, filling the list after
// every address. The window's messages are handled throughout (the settle
// time included, which Abort ends at once) and the progress is shown; the
// adapter is closed at the end. 1 when the scan ran (SearchAbort set when it
// was aborted or no own MAC ID was free), 0 when the adapter could not be
// opened (SearchAbort is then set).
int SearchRun(void* dialog);

// List index of the lowest MAC ID that answered (the number of probed
// addresses below it), or -1 when none did.
int SearchFirstFoundIndex();

}  // namespace master
