// The modeless Read Attribute (1049) and Write Attribute (1050) dialogs.
//
// At this stage they open from their templates, place themselves near the
// top of the main window and close with their Close button; reading and
// writing values arrives with the attribute data types.
#pragma once

#include <windows.h>

namespace ui {

INT_PTR CALLBACK ReadAttrDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK WriteAttrDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
