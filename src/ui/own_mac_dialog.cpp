// The Own MAC ID dialog.
#include "ui/own_mac_dialog.h"

#include "app/app_state.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "resource.h"
#include "ui/main_window.h"
#include "ui/shell.h"

namespace ui {

namespace {

using app::g_App;

constexpr int VALUE_TEXT_SIZE = 32;
constexpr int VALUE_DIGITS = 2;

bool FixedChosen(HWND dialog) {
  return IsDlgButtonChecked(dialog, IDC_OWN_MAC_FIXED) == BST_CHECKED;
}

void OnChoiceClicked(HWND dialog) {
  EnableWindow(GetDlgItem(dialog, IDC_OWN_MAC_VALUE), FixedChosen(dialog));
}

BOOL OnInitDialog(HWND dialog) {
  CheckRadioButton(dialog, IDC_OWN_MAC_AUTO, IDC_OWN_MAC_FIXED,
                   g_App.OwnMacFixed ? IDC_OWN_MAC_FIXED : IDC_OWN_MAC_AUTO);
  SendDlgItemMessageA(dialog, IDC_OWN_MAC_VALUE, EM_LIMITTEXT, VALUE_DIGITS, 0);
  SetDlgItemInt(dialog, IDC_OWN_MAC_VALUE, static_cast<UINT>(g_App.OwnMacChoice), FALSE);
  OnChoiceClicked(dialog);
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner) CenterOverOwner(owner, dialog, false);
  return TRUE;
}

void OnOk(HWND dialog) {
  const bool fixed = FixedChosen(dialog);
  int mac = g_App.OwnMacChoice;
  if (fixed) {
    HWND field = GetDlgItem(dialog, IDC_OWN_MAC_VALUE);
    if (!ReadAddressField(field, VALUE_TEXT_SIZE, mac)) {
      persist::ShowMsgFmt(dialog, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_OWN_MAC_RANGE,
                          nullptr, nullptr, nullptr);
      SetFocus(field);
      SendMessageA(field, EM_SETSEL, 0, -1);
      return;
    }
  }
  g_App.OwnMacFixed = fixed ? 1 : 0;
  g_App.OwnMacChoice = mac;
  EndDialog(dialog, 1);
}

}  // namespace

INT_PTR CALLBACK OwnMacDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          OnOk(dialog);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, 0);
          return TRUE;
        case IDC_OWN_MAC_AUTO:
        case IDC_OWN_MAC_FIXED:
          OnChoiceClicked(dialog);
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace ui
