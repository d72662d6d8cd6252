// The Change Address and Baud Rate of Slave dialog.
#include "app/app_state.h"
#include "master/address_change.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "resource.h"
#include "ui/main_window.h"
#include "ui/other_dialogs.h"
#include "ui/shell.h"

namespace ui {

namespace {

using namespace master;

// The address fields are read into this many bytes.
constexpr int ADDRESS_TEXT_SIZE = 32;

// A change runs for seconds with the window handling messages: meanwhile
// the dialog takes no second OK, does not close and its fields are greyed.
bool changing = false;

const int CHANGE_CONTROLS[] = {IDC_CHANGE_OLD_ADDRESS, IDC_CHANGE_NEW_ADDRESS, IDC_CHANGE_OLD_BAUD,
                               IDC_CHANGE_NEW_BAUD,    IDOK,                   IDCANCEL};

// The field's number becomes `value` when it is a MAC ID. Anything else
// stays in the field as typed, so that OK can say what is wrong with it.
bool TakeAddress(HWND dialog, int id, int& value) {
  int number = 0;
  if (!ReadAddressField(GetDlgItem(dialog, id), ADDRESS_TEXT_SIZE, number)) return false;
  value = number;
  return true;
}

// Names what is wrong with a field that holds no MAC ID and puts the user
// back into it.
void RefuseAddress(HWND dialog, int id) {
  char typed[ADDRESS_TEXT_SIZE] = "";
  HWND field = GetDlgItem(dialog, id);
  if (GetWindowTextLengthA(field) < ADDRESS_TEXT_SIZE) {
    GetWindowTextA(field, typed, sizeof typed);
  } else {
    GetWindowTextA(field, typed, ADDRESS_TEXT_SIZE - 4);
    lstrcatA(typed, "...");
  }
  persist::ShowMsgFmt(
      dialog, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
      id == IDC_CHANGE_OLD_ADDRESS ? IDS_CHANGE_BAD_OLD_ADDRESS : IDS_CHANGE_BAD_NEW_ADDRESS, typed,
      nullptr, nullptr);
  SetFocus(field);
  SendMessageA(field, EM_SETSEL, 0, -1);
}

void TakeBaud(HWND dialog, int id, int& value) {
  const LRESULT selected = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) {
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(value), 0);
  } else {
    value = static_cast<int>(selected);
  }
}

HWND MainWindow(HWND dialog) {
  HWND owner = GetWindow(dialog, GW_OWNER);
  return owner ? owner : static_cast<HWND>(app::g_App.hMainWnd);
}

void RefillMainLists(void* window) {
  if (window) FillPortAndBaudLists(static_cast<HWND>(window));
}

void EnableControls(HWND dialog, bool enabled) {
  for (int id : CHANGE_CONTROLS) EnableWindow(GetDlgItem(dialog, id), enabled);
}

BOOL OnInitDialog(HWND dialog) {
  changing = false;
  OldAddress = NewAddress = app::g_App.CurrAdr;
  SetDlgItemInt(dialog, IDC_CHANGE_OLD_ADDRESS, static_cast<UINT>(OldAddress), FALSE);
  SetDlgItemInt(dialog, IDC_CHANGE_NEW_ADDRESS, static_cast<UINT>(NewAddress), FALSE);
  OldBaudIndex = NewBaudIndex = app::g_App.BaudIndex;
  FillBaudList(dialog, IDC_CHANGE_OLD_BAUD, OldBaudIndex, "kB");
  FillBaudList(dialog, IDC_CHANGE_NEW_BAUD, NewBaudIndex, "kB");
  HWND owner = MainWindow(dialog);
  if (owner) CenterOverOwner(owner, dialog, false);
  return TRUE;
}

BOOL OnOk(HWND dialog) {
  if (changing) return TRUE;
  // Enter in an address field presses OK without the field losing the
  // focus: take what it shows, as leaving it would. A field that holds no
  // MAC ID keeps the dialog open.
  const int fields[] = {IDC_CHANGE_OLD_ADDRESS, IDC_CHANGE_NEW_ADDRESS};
  for (int id : fields) {
    if (!TakeAddress(dialog, id, id == IDC_CHANGE_OLD_ADDRESS ? OldAddress : NewAddress)) {
      RefuseAddress(dialog, id);
      return TRUE;
    }
  }
  // Message boxes belong to the dialog, so it cannot be pressed again
  // while one is up.
  HWND focus = GetFocus();
  changing = true;
  EnableControls(dialog, false);
  const int done = ChangeCarryOut(dialog, MainWindow(dialog), RefillMainLists);
  EnableControls(dialog, true);
  changing = false;
  if (done == CHANGE_REFUSED) {
    // Greying took the focus away; the user goes on where they were.
    if (focus && IsChild(dialog, focus)) SetFocus(focus);
    return FALSE;
  }
  if (done == CHANGE_AGAIN) {
    // Nothing was written: the user picks another address or rate.
    HWND field = GetDlgItem(dialog, IDC_CHANGE_NEW_ADDRESS);
    SetFocus(field);
    SendMessageA(field, EM_SETSEL, 0, -1);
    return TRUE;
  }
  EndDialog(dialog, 0);
  return TRUE;
}

BOOL OnCommand(HWND dialog, WORD id, WORD code) {
  switch (id) {
    case IDC_CHANGE_OLD_ADDRESS:
    case IDC_CHANGE_NEW_ADDRESS:
      if (code != EN_KILLFOCUS) return FALSE;
      TakeAddress(dialog, id, id == IDC_CHANGE_OLD_ADDRESS ? OldAddress : NewAddress);
      return TRUE;
    case IDC_CHANGE_OLD_BAUD:
    case IDC_CHANGE_NEW_BAUD:
      if (code != CBN_SELCHANGE) return FALSE;
      TakeBaud(dialog, id, id == IDC_CHANGE_OLD_BAUD ? OldBaudIndex : NewBaudIndex);
      return TRUE;
    case IDOK:
      return OnOk(dialog);
    case IDCANCEL:
      if (!changing) EndDialog(dialog, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

INT_PTR CALLBACK ChangeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    default:
      return FALSE;
  }
}

}  // namespace ui
