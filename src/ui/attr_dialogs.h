// The modeless Read Attribute (1049) and Write Attribute (1050) dialogs.
//
// They never talk to the bus: Read and Write store the request in AppState
// (class, instance, attribute, type, radix; for a write the value bytes, or
// the service code in service mode) and raise ReadAttrPending or
// WriteAttrPending. The next cyclic step carries the request out and writes
// the result into the open dialog (Result Value 1037, Send Value 1033).
// Both dialogs share the request fields, so IDs, type, radixes and the last
// value text are there again when either one opens.
#pragma once

#include <windows.h>

namespace ui {

// Dialog procedures of templates 1049 and 1050; the shell creates the
// dialogs (OpenReadAttrDialog, OpenWriteAttrDialog). WM_DESTROY clears
// hReadAttrDlg / hWriteAttrDlg.
INT_PTR CALLBACK ReadAttrDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK WriteAttrDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
