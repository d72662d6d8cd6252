// The modal Search Slaves (109) and Change Address and Baud Rate (112)
// dialogs.
//
// At this stage they open from their templates centred over the main
// window and close with OK or Cancel; the bus search and the address
// change arrive with their own parts.
#pragma once

#include <windows.h>

namespace ui {

INT_PTR CALLBACK SearchDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ChangeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
