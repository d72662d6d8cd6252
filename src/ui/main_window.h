// The main window: dialog 101 of the language library, window class
// Tarnix, menu 104. Port, baud rate and current address, the menu commands,
// the bus status, the identity fields and the data views (data_views.h).
#pragma once

#include <windows.h>

namespace ui {

// The main window's timer. It keeps the cyclic exchange going while a menu,
// a message box, a dialog box or a window move runs its own message loop:
// those loops hand the timer's messages to the window.
constexpr UINT_PTR CYCLIC_TIMER_ID = 1;

// The dialog procedure: WM_INITDIALOG, WM_CLOSE, WM_DESTROY, WM_COMMAND,
// WM_CTLCOLORBTN, the cyclic timer's WM_TIMER, WM_ENTERIDLE and
// WM_INITMENUPOPUP; FALSE for everything else.
INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets CommActive and the "Communication Active" box to match.
void SetCommActive(HWND window, int value);

// Sets FreezeOutputs and the "Freeze Outputs" box to match.
void SetFreezeOutputs(HWND window, int value);

// True when the edit `field` holds a MAC ID (see ParseAddressField), which
// then is `address`; a text that does not fit `textSize` bytes (at most
// 100) is none.
bool ReadAddressField(HWND field, int textSize, int& address);

// Takes the address field into CurrAdr when it holds 0..63, else puts
// CurrAdr back into the field. Nothing is reported.
void TakeAddressField(HWND window);

// Fills combo box `listId` with the baud rates, each followed by `unit`,
// and selects row `selected`.
void FillBaudList(HWND window, int listId, int selected, const char* unit);

// Refills the port and baud lists and the address field from the settings
// and refreshes the data views and the enable state.
void FillPortAndBaudLists(HWND window);

// Applies the enable rules of the communication state, the bit controls
// and the caption.
void UpdateControlStates(HWND window);

// Greys the menu commands that the communication state or a long
// operation under way forbids, and checks the slave watchdog item.
void UpdateMenuStates(HWND window);

// The caption: string 1000 of the language library, else "Quillon"; while
// communication runs, string 1080 with it and the own MAC ID.
void UpdateCaption(HWND window);

}  // namespace ui
