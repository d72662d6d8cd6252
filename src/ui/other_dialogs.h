// The modal Search Slaves (109) and Change Address and Baud Rate of Slave
// (112) dialogs. The bus work behind them is master/search.h and
// master/address_change.h; these are their windows.
#pragma once

#include <windows.h>

namespace ui {

// Search Slaves: the scan starts once the dialog is on the screen and fills
// the list address by address; OK, Cancel and a double-click only abort
// while it runs. Afterwards OK or a double-click makes the selected address
// CurrAdr (result 1), Cancel leaves it (result 0). A scan that found nothing
// and was not aborted shows message 1004 and ends the dialog (result 1).
INT_PTR CALLBACK SearchDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Refills list `listId` of `dialog` from the search marks: "12" for an
// address that answered, "(12)" for a silent one, nothing for one not
// probed, each with its MAC ID as item data; keeps the selection and the
// scroll position. Returns 1.
int SearchListFill(HWND dialog, int listId);

// 1 when the selected entry's MAC ID became CurrAdr, 0 when nothing is
// selected.
int SearchTakeSelection(HWND dialog);

// Change Address and Baud Rate of Slave: the old and new address and baud
// rate, checked as they are entered; OK carries the changes out. Result 0.
INT_PTR CALLBACK ChangeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
