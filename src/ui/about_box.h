// The About box: dialog 108, modal, with the product name, the maker line,
// the version, the notice line and the program icon.
#pragma once

#include <windows.h>

namespace ui {

constexpr const char* VERSION_TEXT = "Version 1.7.6.0";

INT_PTR CALLBACK AboutDlgProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);

// Where the icon is drawn in the box's client area: the placeholder's
// corner, from the window and client rectangles.
POINT AboutIconPosition(HWND box);

}  // namespace ui
