// The Search Slaves dialog.
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "master/search.h"
#include "master/search_entry.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/resstring.h"
#include "resource.h"
#include "ui/column_list.h"
#include "ui/other_dialogs.h"
#include "ui/shell.h"

namespace ui {

namespace {

using namespace master;

constexpr int BUTTON_TEXT_SIZE = 100;

// The headings above the list, left to right; each one's left edge is where
// its column starts.
constexpr int HEADINGS[] = {
    IDC_SEARCH_HEAD_MAC,         IDC_SEARCH_HEAD_RATE,         IDC_SEARCH_HEAD_VENDOR,
    IDC_SEARCH_HEAD_DEVICE_TYPE, IDC_SEARCH_HEAD_PRODUCT_CODE, IDC_SEARCH_HEAD_REVISION,
    IDC_SEARCH_HEAD_SERIAL,      IDC_SEARCH_HEAD_PRODUCT_NAME,
};
constexpr int COLUMN_COUNT = sizeof HEADINGS / sizeof HEADINGS[0];

// The posted WM_TIMER starts one search per dialog, never a second.
bool scanStarted = false;
// The dialog was opened to search at every baud rate.
bool allRates = false;

void SetButtonText(HWND dialog, unsigned stringId) {
  char text[BUTTON_TEXT_SIZE];
  if (persist::LoadResString(stringId, text, sizeof text) > 0) SetDlgItemTextA(dialog, IDOK, text);
}

int FillFromScan(void* dialog, int listId) {
  return SearchListFill(static_cast<HWND>(dialog), listId);
}

// One line of the list: a found node in the window's text colour, a silent
// address in grey.
void DrawEntry(const DRAWITEMSTRUCT& item) {
  char text[SEARCH_ENTRY_TEXT_SIZE] = "";
  int rate = -1;
  if (item.itemID != static_cast<UINT>(-1)) {
    const LRESULT length = SendMessageA(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0);
    if (length >= 0 && static_cast<size_t>(length) < sizeof text) {
      SendMessageA(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(text));
    }
    int address = 0;
    SearchEntryChoice(static_cast<uint32_t>(item.itemData), address, rate);
  }
  DrawColumnLine(item, HEADINGS, COLUMN_COUNT, text, rate < 0 ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT);
}

BOOL OnInitDialog(HWND dialog, LPARAM searchAllRates) {
  std::memset(SearchMarks, MARK_NOT_PROBED, sizeof SearchMarks);
  std::memset(SearchNodes, 0, sizeof SearchNodes);
  SearchAbort = 0;
  scanStarted = false;
  allRates = searchAllRates != 0;
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

// The search is over: the lines of identities not read say why, the button
// reads OK, and the first node identified (else the first found) is selected.
void ShowResult(HWND dialog) {
  SearchListFill(dialog, IDC_SEARCH_LIST);
  SetButtonText(dialog, IDS_SEARCH_OK);
  SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_SETCURSEL,
                      static_cast<WPARAM>(SearchFirstFoundIndex()), 0);
}

BOOL OnScan(HWND dialog) {
  if (SearchRunning || scanStarted) return FALSE;
  scanStarted = true;
  // Probing at a foreign rate disturbs a network running at it: asked
  // before anything is sent, No (the default) sends nothing.
  if (allRates &&
      persist::ShowMsgFmt(
          dialog, persist::BOX_YESNO | persist::BOX_ICONQUESTION | persist::BOX_DEFBUTTON2,
          IDS_SEARCH_ALL_RATES_ASK, nullptr, nullptr, nullptr) != persist::BOX_IDYES) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  // A modal dialog shows itself only once its queue has run empty, after
  // this message: show it now, so that the list is seen growing.
  ShowWindow(dialog, SW_SHOWNORMAL);
  UpdateWindow(dialog);
  if (allRates) {
    SearchRunAllRates(dialog);
  } else {
    SearchRun(dialog);
    // Nothing at the chosen rate: the other two, if the user agrees that
    // probing at a foreign rate is acceptable here. Never after an adapter
    // error (it stops the search): the adapter, not the rate, is at fault.
    if (!SearchFound && !SearchAbort &&
        persist::ShowMsgFmt(dialog, persist::BOX_YESNO | persist::BOX_ICONQUESTION,
                            IDS_NO_SLAVE_FOUND, nullptr, nullptr, nullptr) == persist::BOX_IDYES) {
      allRates = true;
      SearchRunOtherRates(dialog);
    } else if (!SearchFound && !SearchAbort) {
      EndDialog(dialog, 1);
      return TRUE;
    }
  }
  if (SearchFound || SearchAbort) {
    ShowResult(dialog);
    return TRUE;
  }
  persist::ShowMsg(dialog, nullptr, IDS_NO_SLAVE_AT_ANY_RATE);
  EndDialog(dialog, 1);
  return TRUE;
}

// OK and Cancel only stop a running search; a double-click waits for its end.
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
  // The selection follows its entry, wherever new lines push it.
  const LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
  const LRESULT selectedData =
      selected == LB_ERR ? LB_ERR
                         : SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(selected), 0);
  const LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  SearchEntry entries[SEARCH_ENTRY_MAX];
  const int count = SearchEntries(entries);
  LRESULT reselect = LB_ERR;
  for (int i = 0; i < count; ++i) {
    char text[SEARCH_ENTRY_TEXT_SIZE];
    SearchEntryText(entries[i], text, sizeof text);
    const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    if (index < 0) continue;
    const uint32_t data = SearchEntryData(entries[i]);
    SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(index), data);
    if (selectedData != LB_ERR && static_cast<uint32_t>(selectedData) == data) reselect = index;
  }
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(reselect), 0);
  SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  return 1;
}

int SearchTakeSelection(HWND dialog) {
  const LRESULT index = SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR) return 0;
  const LRESULT data =
      SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_GETITEMDATA, static_cast<WPARAM>(index), 0);
  if (data == LB_ERR) return 0;
  int address = 0;
  int baudIndex = -1;
  SearchEntryChoice(static_cast<uint32_t>(data), address, baudIndex);
  app::g_App.CurrAdr = address;
  if (baudIndex >= 0) app::g_App.BaudIndex = baudIndex;
  return 1;
}

INT_PTR CALLBACK SearchDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog, lParam);
    case WM_TIMER:
      return OnScan(dialog);
    case WM_COMMAND:
      return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_MEASUREITEM:
      if (wParam != IDC_SEARCH_LIST) return FALSE;
      MeasureColumnLine(dialog, *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DRAWITEM:
      if (wParam != IDC_SEARCH_LIST) return FALSE;
      DrawEntry(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DESTROY:
      SetSearchListFill(nullptr);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace ui
