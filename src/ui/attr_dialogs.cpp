#include "ui/attr_dialogs.h"

#include "app/app_state.h"
#include "ui/shell.h"

namespace ui {

namespace {

using app::g_App;

BOOL OnInitDialog(HWND dialog) {
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner) CenterOverOwner(owner, dialog, true);
  return TRUE;
}

// Both dialogs: Close (and Esc) destroys the window; its handle is cleared
// as it goes.
INT_PTR AttrDialogMessage(HWND dialog, UINT message, WPARAM wParam, app::WindowHandle& handle) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        DestroyWindow(dialog);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      if (handle == dialog) handle = nullptr;
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

INT_PTR CALLBACK ReadAttrDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  return AttrDialogMessage(dialog, message, wParam, g_App.hReadAttrDlg);
}

INT_PTR CALLBACK WriteAttrDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  return AttrDialogMessage(dialog, message, wParam, g_App.hWriteAttrDlg);
}

}  // namespace ui
