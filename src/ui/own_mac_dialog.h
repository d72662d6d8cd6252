// The modal Own MAC ID dialog (115): the own MAC ID chosen for each
// operation or fixed by the user (AppState OwnMacFixed and OwnMacChoice,
// kept in the settings file at exit).
#pragma once

#include <windows.h>

namespace ui {

// OK takes the choice (result 1); a fixed MAC ID outside 0..63 is refused
// with message 1506 and the dialog stays open. Cancel changes nothing
// (result 0).
INT_PTR CALLBACK OwnMacDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
