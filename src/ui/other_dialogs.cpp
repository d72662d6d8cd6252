#include "ui/other_dialogs.h"

#include "ui/shell.h"

namespace ui {

namespace {

INT_PTR ModalDialogMessage(HWND dialog, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_INITDIALOG: {
      HWND owner = GetWindow(dialog, GW_OWNER);
      if (owner) CenterOverOwner(owner, dialog, false);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

INT_PTR CALLBACK SearchDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  return ModalDialogMessage(dialog, message, wParam);
}

INT_PTR CALLBACK ChangeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  return ModalDialogMessage(dialog, message, wParam);
}

}  // namespace ui
