// The modal Search Slaves (109) and Change Address and Baud Rate of Slave
// (112) dialogs. The bus work behind them is master/search.h and
// master/address_change.h; these are their windows.
#pragma once

#include <windows.h>

namespace ui {

// Search Slaves: the search starts once the dialog is on the screen, at the
// selected baud rate (lParam 0) or at every rate (lParam 1), and fills the
// list as it goes; OK and Cancel only abort while it runs. Afterwards OK or
// a double-click makes the selected entry's address CurrAdr, and a found
// node's rate BaudIndex (result 1); Cancel leaves both (result 0). A search
// at one rate that found nothing and was not aborted asks (message 1004)
// whether to search the other two rates; No ends the dialog (result 1), as
// does a search at every rate that found nothing (message 1070).
INT_PTR CALLBACK SearchDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Refills list `listId` of `dialog` from the search's entries
// (master/search_entry.h), each with its SearchEntryData as item data;
// keeps the selected entry selected and the scroll position. Returns 1.
int SearchListFill(HWND dialog, int listId);

// 1 when the selected entry's address became CurrAdr (and a found node's
// rate BaudIndex), 0 when nothing is selected.
int SearchTakeSelection(HWND dialog);

// Change Address and Baud Rate of Slave: the old and new address and baud
// rate, checked as they are entered; OK carries the changes out. Result 0.
INT_PTR CALLBACK ChangeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
