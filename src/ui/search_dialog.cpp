// The Search Slaves dialog.
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "devicenet/devicenet.h"
#include "master/search.h"
#include "persist/messages.h"
#include "persist/resstring.h"
#include "resource.h"
#include "ui/other_dialogs.h"
#include "ui/shell.h"

namespace ui {

namespace {

using namespace master;

constexpr int COLUMN_WIDTH_PX = 40;
constexpr int BUTTON_TEXT_SIZE = 100;
constexpr int ENTRY_TEXT_SIZE = 8;

// The posted WM_TIMER starts one scan per dialog, never a second.
bool scanStarted = false;

void SetButtonText(HWND dialog, unsigned stringId) {
  char text[BUTTON_TEXT_SIZE];
  if (persist::LoadResString(stringId, text, sizeof text) > 0) SetDlgItemTextA(dialog, IDOK, text);
}

int FillFromScan(void* dialog, int listId) {
  return SearchListFill(static_cast<HWND>(dialog), listId);
}

BOOL OnInitDialog(HWND dialog) {
  std::memset(SearchMarks, MARK_NOT_PROBED, sizeof SearchMarks);
  SearchAbort = 0;
  scanStarted = false;
  SetSearchListFill(FillFromScan);
  SearchListFill(dialog, IDC_SEARCH_LIST);
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (!owner) owner = static_cast<HWND>(app::g_App.hMainWnd);
  if (owner) CenterOverOwner(owner, dialog, false);
  SetButtonText(dialog, IDS_SEARCH_ABORT);
  // Not a timer: the posted message starts the scan once the dialog shows.
  PostMessageA(dialog, WM_TIMER, 0, 0);
  return TRUE;
}

BOOL OnScan(HWND dialog) {
  if (SearchRunning || scanStarted) return FALSE;
  scanStarted = true;
  // A modal dialog shows itself only once its queue has run empty, after
  // this message: show it now, so that the list is seen growing.
  ShowWindow(dialog, SW_SHOWNORMAL);
  UpdateWindow(dialog);
  SearchRun(dialog);
  if (SearchFound || SearchAbort) {
    SetButtonText(dialog, IDS_SEARCH_OK);
    SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_SETCURSEL,
                        static_cast<WPARAM>(SearchFirstFoundIndex()), 0);
    return TRUE;
  }
  persist::ShowMsg(dialog, nullptr, IDS_NO_SLAVE_FOUND);
  EndDialog(dialog, 1);
  return TRUE;
}

// OK, Cancel and a double-click only stop a running scan.
BOOL OnCommand(HWND dialog, WORD id, WORD code) {
  switch (id) {
    case IDOK:
      SearchAbort = 1;
      if (SearchRunning) return FALSE;
      SearchTakeSelection(dialog);
      EndDialog(dialog, 1);
      return TRUE;
    case IDCANCEL:
      SearchAbort = 1;
      if (SearchRunning) return FALSE;
      EndDialog(dialog, 0);
      return TRUE;
    case IDC_SEARCH_LIST:
      if (code != LBN_DBLCLK) return TRUE;
      if (SearchRunning) return FALSE;
      SearchTakeSelection(dialog);
      EndDialog(dialog, 1);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int SearchListFill(HWND dialog, int listId) {
  HWND list = GetDlgItem(dialog, listId);
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  const LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
  const LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
  SendMessageA(list, LB_SETCOLUMNWIDTH, COLUMN_WIDTH_PX, 0);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  for (int mac = 0; mac < SEARCH_MAC_COUNT; ++mac) {
    if (SearchMarks[mac] == MARK_NOT_PROBED) continue;
    char text[ENTRY_TEXT_SIZE];
    std::snprintf(text, sizeof text, SearchMarks[mac] == MARK_ANSWERED ? "%u" : "(%u)",
                  static_cast<unsigned>(mac));
    const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    if (index >= 0) SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(index), mac);
  }
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  return 1;
}

int SearchTakeSelection(HWND dialog) {
  const LRESULT index = SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR) return 0;
  const LRESULT mac =
      SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_GETITEMDATA, static_cast<WPARAM>(index), 0);
  if (mac == LB_ERR) return 0;
  app::g_App.CurrAdr = static_cast<int>(mac) & devicenet::MAC_ID_MASK;
  return 1;
}

INT_PTR CALLBACK SearchDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_TIMER:
      return OnScan(dialog);
    case WM_COMMAND:
      return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_DESTROY:
      SetSearchListFill(nullptr);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace ui
