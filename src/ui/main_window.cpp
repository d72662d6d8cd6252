#include "ui/main_window.h"

#include <cstdio>
#include <iterator>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/session.h"
#include "monitor/capture.h"
#include "persist/cursor.h"
#include "persist/inputlog.h"
#include "persist/messages.h"
#include "persist/resstring.h"
#include "persist/settings.h"
#include "resource.h"
#include "ui/about_box.h"
#include "ui/data_views.h"
#include "ui/maker_text.h"
#include "ui/monitor_window.h"
#include "ui/other_dialogs.h"
#include "ui/own_mac_dialog.h"
#include "ui/shell.h"
#include "ui/view_text.h"

namespace ui {

namespace {

using app::g_App;

// Notification code of WM_COMMAND from an accelerator.
constexpr WORD FROM_ACCELERATOR = 1;
constexpr int BIT_CAPTION_SIZE = 1000;
constexpr int CAPTION_SIZE = 100;
constexpr int ADDRESS_TEXT_SIZE = 100;
constexpr UINT CYCLIC_TIMER_MS = 10;

struct PortEntry {
  const char* text;  // null: made from the parallel port row
  int code;          // PrinterPort
  int parallelRow;
};
const PortEntry PORT_ENTRIES[] = {
    {"USB", can::PORT_USB, -1},
    {"PCI", can::PORT_PCI, -1},
    {nullptr, 0, 0},
    {nullptr, 1, 1},
    {nullptr, 2, 2},
};
// The serial-line adapter rows follow, one per COM port.
constexpr int PORT_TEXT_SIZE = 64;

HINSTANCE Resources() {
  return static_cast<HINSTANCE>(g_App.hResDll);
}

void SetAddressField(HWND window) {
  SetDlgItemInt(window, IDC_MAIN_ADDRESS, static_cast<UINT>(g_App.CurrAdr), FALSE);
}

BOOL OnInitDialog(HWND window) {
  // The data views draw only into the main window; without this the hex
  // field would stay empty until the first edit, where a stop shows 00.
  g_App.hMainWnd = window;
  persist::LoadSettings();

  char maker[MAKER_TEXT_SIZE];
  MakerLine(maker, sizeof maker);
  SetDlgItemTextA(window, IDC_MAIN_MAKER, maker);

  // The bit captions come from the program itself, the same in every
  // language; a missing one leaves the template's.
  for (int bit = 0; bit < 8; ++bit) {
    char caption[BIT_CAPTION_SIZE];
    if (LoadStringA(static_cast<HINSTANCE>(g_App.hInst), IDS_BIT0 + bit, caption, sizeof caption) >
        0) {
      SetDlgItemTextA(window, IDC_MAIN_BIT0_CHECK + bit, caption);
      SetDlgItemTextA(window, IDC_MAIN_BIT0_BUTTON + bit, caption);
    }
  }

  FillPortAndBaudLists(window);
  SetDlgItemTextA(window, IDC_MAIN_BUS_STATUS, "");
  SetCommActive(window, 0);
  SetFreezeOutputs(window, 0);
  UpdateBitControls(window);
  ShowOutputByte(window, 0);
  UpdateControlStates(window);
  CenterOnScreen(window);
  SetTimer(window, CYCLIC_TIMER_ID, CYCLIC_TIMER_MS, nullptr);
  g_App.MainReady = 1;
  return TRUE;
}

BOOL OnClose(HWND window) {
  TakeAddressField(window);
  // The window stays until the idle step has stopped communication and
  // saved the settings.
  g_App.PendingCommand = app::CMD_EXIT;
  return TRUE;
}

BOOL OnDestroy(HWND window) {
  KillTimer(window, CYCLIC_TIMER_ID);
  persist::CloseInputLog();
  // The capture file is complete up to the last frame.
  if (monitor::CaptureRunning()) ToggleCapture(window);
  CloseMonitorWindow();
  g_App.hMainWnd = nullptr;
  CloseHelpWindows();
  PostQuitMessage(0);
  g_App.MainReady = 0;
  return TRUE;
}

BOOL OnAccelerator(HWND window, WORD id) {
  switch (id) {
    case IDM_ACCEL_ENTER:
      ApplyHexEdit(window);
      return TRUE;
    case IDM_ACCEL_HELP:
      ShowHelp();
      return TRUE;
    default:
      return FALSE;
  }
}

// The search at the selected rate, or at every rate; a node picked from
// the list brings its address and rate along.
void OnSearchSlaves(HWND window, bool allRates) {
  TakeAddressField(window);
  if (g_App.CyclicBusy || g_App.CommActive || g_App.OperationBusy) return;
  DialogBoxParamA(Resources(), MAKEINTRESOURCEA(IDD_SEARCH), window, SearchDlgProc,
                  allRates ? 1 : 0);
  SetAddressField(window);
  FillPortAndBaudLists(window);
}

void OnChangeAddress(HWND window) {
  TakeAddressField(window);
  if (g_App.CyclicBusy || g_App.CommActive || g_App.OperationBusy) return;
  DialogBoxParamA(Resources(), MAKEINTRESOURCEA(IDD_CHANGE), window, ChangeDlgProc, 0);
  FillPortAndBaudLists(window);
}

void OnStart(HWND window) {
  TakeAddressField(window);
  // A start, stop, search or change already under way handles messages
  // while it waits: nothing starts inside it.
  if (g_App.CyclicBusy || g_App.OperationBusy || g_App.CommActive) return;
  void* previous = persist::ShowWaitCursor();
  const int started = master::CommStart(window);
  persist::RestoreCursor(previous);
  if (!started) return;
  RefreshDataViews(window, g_App.Io, 1);
  UpdateControlStates(window);
}

void OnPortSelChange(HWND window) {
  const LRESULT index = SendDlgItemMessageA(window, IDC_MAIN_PORT, CB_GETCURSEL, 0, 0);
  const LRESULT code = index == CB_ERR
                           ? CB_ERR
                           : SendDlgItemMessageA(window, IDC_MAIN_PORT, CB_GETITEMDATA, index, 0);
  if (code == CB_ERR) {
    FillPortAndBaudLists(window);
    return;
  }
  g_App.PrinterPort = static_cast<int>(code);
}

void OnBaudSelChange(HWND window) {
  const LRESULT index = SendDlgItemMessageA(window, IDC_MAIN_BAUD, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) {
    FillPortAndBaudLists(window);
    return;
  }
  g_App.BaudIndex = static_cast<int>(index);
}

bool IsChecked(HWND window, int id) {
  return IsDlgButtonChecked(window, id) == BST_CHECKED;
}

void OnLogBox(HWND window) {
  if (IsChecked(window, IDC_MAIN_LOG)) {
    // A log that will not open stays off without a word; the box stays
    // ticked. One that opens starts with the inputs as they are now.
    if (persist::OpenInputLog(persist::INPUT_LOG_NAME) && g_App.Io && g_App.InputReceived) {
      persist::WriteLog(persist::LOG_DATA, &g_App.Io->Input, nullptr);
    }
  } else {
    persist::CloseInputLog();
  }
}

void OnHexKillFocus(HWND window) {
  ApplyHexEdit(window);
}

// A notification other than the one a row wants returns FALSE.
BOOL OnNotification(WORD code, WORD wanted, HWND window, void (*handler)(HWND)) {
  if (code != wanted) return FALSE;
  handler(window);
  return TRUE;
}

BOOL OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  const WORD id = LOWORD(wParam);
  const WORD code = HIWORD(wParam);
  if (code == FROM_ACCELERATOR && lParam == 0) return OnAccelerator(window, id);

  switch (id) {
    case IDCANCEL:
    case IDM_EXIT:
      SendMessageA(window, WM_CLOSE, 0, 0);
      return TRUE;
    case IDM_SEARCH_SLAVES:
      OnSearchSlaves(window, false);
      return TRUE;
    case IDM_SEARCH_ALL_RATES:
      OnSearchSlaves(window, true);
      return TRUE;
    case IDM_CHANGE_ADDRESS:
      OnChangeAddress(window);
      return TRUE;
    case IDM_START:
      OnStart(window);
      return TRUE;
    case IDM_STOP:
      g_App.PendingCommand = app::CMD_STOP_COMM;
      return TRUE;
    case IDM_READ_ATTR:
      g_App.PendingCommand = app::CMD_OPEN_READ_ATTR;
      return TRUE;
    case IDM_WRITE_ATTR:
      g_App.PendingCommand = app::CMD_OPEN_WRITE_ATTR;
      return TRUE;
    case IDM_SLAVE_WATCHDOG:
      // Taken at the next start.
      if (g_App.CommActive || g_App.OperationBusy) return TRUE;
      g_App.SlaveWatchdog = g_App.SlaveWatchdog ? 0 : 1;
      UpdateMenuStates(window);
      return TRUE;
    case IDM_OWN_MAC:
      // Taken at the next operation.
      if (g_App.CommActive || g_App.OperationBusy) return TRUE;
      DialogBoxParamA(Resources(), MAKEINTRESOURCEA(IDD_OWN_MAC), window, OwnMacDlgProc, 0);
      return TRUE;
    case IDM_BUS_MONITOR:
      OpenMonitorWindow(window);
      return TRUE;
    case IDM_CAPTURE:
      ToggleCapture(window);
      UpdateMenuStates(window);
      return TRUE;
    case IDM_HELP_CONTENTS:
      ShowHelp();
      return TRUE;
    case IDM_ABOUT:
      DialogBoxParamA(Resources(), MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDlgProc, 0);
      return TRUE;
    case IDC_MAIN_ADDRESS:
      return OnNotification(code, EN_KILLFOCUS, window, TakeAddressField);
    case IDC_MAIN_PORT:
      return OnNotification(code, CBN_SELCHANGE, window, OnPortSelChange);
    case IDC_MAIN_BAUD:
      return OnNotification(code, CBN_SELCHANGE, window, OnBaudSelChange);
    case IDC_MAIN_HEX:
      return OnNotification(code, EN_KILLFOCUS, window, OnHexKillFocus);
    case IDC_MAIN_OUTPUT_LIST:
      return OnNotification(code, LBN_SELCHANGE, window, OnOutputSelChange);
    case IDC_MAIN_BIT0_CHECK:
    case IDC_MAIN_BIT1_CHECK:
    case IDC_MAIN_BIT2_CHECK:
    case IDC_MAIN_BIT3_CHECK:
    case IDC_MAIN_BIT4_CHECK:
    case IDC_MAIN_BIT5_CHECK:
    case IDC_MAIN_BIT6_CHECK:
    case IDC_MAIN_BIT7_CHECK:
      OnBitCheckClicked(window);
      return TRUE;
    case IDC_MAIN_FREEZE:
      g_App.FreezeOutputs = IsChecked(window, IDC_MAIN_FREEZE) ? 1 : 0;
      return TRUE;
    case IDC_MAIN_SINGLE_BIT:
      g_App.SingleBitMode = IsChecked(window, IDC_MAIN_SINGLE_BIT) ? 1 : 0;
      UpdateControlStates(window);
      return TRUE;
    case IDC_MAIN_LOG:
      OnLogBox(window);
      UpdateControlStates(window);
      return TRUE;
    default:
      return FALSE;
  }
}

bool FocusIsOn(HWND window, const int* ids, int count) {
  HWND focus = GetFocus();
  if (!focus) return false;
  for (int i = 0; i < count; ++i) {
    HWND control = GetDlgItem(window, ids[i]);
    if (control && (focus == control || IsChild(control, focus))) return true;
  }
  return false;
}

void EnableMenuCommand(HMENU menu, UINT id, bool enabled) {
  EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

}  // namespace

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(window);
    case WM_CLOSE:
      return OnClose(window);
    case WM_DESTROY:
      return OnDestroy(window);
    case WM_TIMER:
      if (wParam != CYCLIC_TIMER_ID) return FALSE;
      RunCyclicInModalLoop();
      return TRUE;
    case WM_ENTERIDLE:
      // A menu or dialog box owned by this window has run its queue empty.
      RunCyclicInModalLoop();
      return FALSE;
    case WM_INITMENUPOPUP:
      UpdateMenuStates(window);
      return FALSE;
    case WM_COMMAND:
      return OnCommand(window, wParam, lParam);
    case WM_CTLCOLORBTN:
      // Every redraw of a button, a press and a release included.
      PollSingleBitButtons();
      return FALSE;
    default:
      return FALSE;
  }
}

void SetCommActive(HWND window, int value) {
  g_App.CommActive = value;
  CheckDlgButton(window, IDC_MAIN_COMM_ACTIVE, value ? BST_CHECKED : BST_UNCHECKED);
}

void SetFreezeOutputs(HWND window, int value) {
  g_App.FreezeOutputs = value;
  CheckDlgButton(window, IDC_MAIN_FREEZE, value ? BST_CHECKED : BST_UNCHECKED);
}

bool ReadAddressField(HWND field, int textSize, int& address) {
  char text[ADDRESS_TEXT_SIZE] = "";
  // Text too long for the buffer is never an address, even if its cut
  // front would read as one.
  if (!field || textSize > ADDRESS_TEXT_SIZE || GetWindowTextLengthA(field) >= textSize) {
    return false;
  }
  return GetWindowTextA(field, text, textSize) >= 0 && ParseAddressField(text, address);
}

void TakeAddressField(HWND window) {
  int address = 0;
  if (ReadAddressField(GetDlgItem(window, IDC_MAIN_ADDRESS), ADDRESS_TEXT_SIZE, address)) {
    g_App.CurrAdr = address;
  } else {
    SetAddressField(window);
  }
}

void FillBaudList(HWND window, int listId, int selected, const char* unit) {
  SendDlgItemMessageA(window, listId, CB_RESETCONTENT, 0, 0);
  for (const can::BaudRow& row : can::BaudTable) {
    char text[32];
    std::snprintf(text, sizeof text, "%u %s", static_cast<unsigned>(row.RateKBaud), unit);
    SendDlgItemMessageA(window, listId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }
  SendDlgItemMessageA(window, listId, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

// Adds one port row; remembers its index in `selected` when it is the
// stored port.
void AddPortRow(HWND window, const char* text, int code, LRESULT* selected) {
  const LRESULT index =
      SendDlgItemMessageA(window, IDC_MAIN_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  if (index < 0) return;
  SendDlgItemMessageA(window, IDC_MAIN_PORT, CB_SETITEMDATA, index, code);
  if (code == g_App.PrinterPort) *selected = index;
}

// The list opens as wide as its longest row: the serial rows are wider
// than the box, and their COM number is at the end.
void FitDroppedWidth(HWND window) {
  HWND list = GetDlgItem(window, IDC_MAIN_PORT);
  HDC dc = GetDC(list);
  if (!dc) return;
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0)));
  LONG widest = 0;
  const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[PORT_TEXT_SIZE] = "";
    if (SendMessageA(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= PORT_TEXT_SIZE) continue;
    SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    SIZE size{};
    if (GetTextExtentPoint32A(dc, text, lstrlenA(text), &size) && size.cx > widest) {
      widest = size.cx;
    }
  }
  SelectObject(dc, oldFont);
  ReleaseDC(list, dc);
  // Room for the item margins and the list's scroll bar.
  const LONG width = widest + 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL) + 8;
  SendMessageA(list, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width), 0);
}

void FillPortAndBaudLists(HWND window) {
  SendDlgItemMessageA(window, IDC_MAIN_PORT, CB_RESETCONTENT, 0, 0);
  LRESULT selected = -1;
  for (const PortEntry& entry : PORT_ENTRIES) {
    char text[PORT_TEXT_SIZE];
    if (entry.text) {
      std::snprintf(text, sizeof text, "%s", entry.text);
    } else {
      const can::ParallelPortRow& row = can::ParallelPortTable[entry.parallelRow];
      std::snprintf(text, sizeof text, "LPT%u (%04X)", static_cast<unsigned>(row.LptNumber),
                    static_cast<unsigned>(row.IoAddress));
    }
    AddPortRow(window, text, entry.code, &selected);
  }
  for (int com = 1; com <= can::PORT_SERIAL_COUNT; ++com) {
    char number[8];
    std::snprintf(number, sizeof number, "%d", com);
    char text[PORT_TEXT_SIZE];
    if (persist::FormatResString(IDS_PORT_SERIAL, number, nullptr, nullptr, text, sizeof text) ==
        0) {
      std::snprintf(text, sizeof text, "Serial COM%d", com);
    }
    AddPortRow(window, text, can::PORT_SERIAL_FIRST + com - 1, &selected);
  }
  FitDroppedWidth(window);
  // A stored code that names no port shows no selection.
  SendDlgItemMessageA(window, IDC_MAIN_PORT, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);

  FillBaudList(window, IDC_MAIN_BAUD, g_App.BaudIndex, "kBaud");

  SetAddressField(window);
  RefreshDataViews(window, g_App.Io, 1);
  UpdateBitControls(window);
  UpdateControlStates(window);
  InvalidateRect(window, nullptr, TRUE);
}

void UpdateControlStates(HWND window) {
  const bool active = g_App.CommActive == 1;
  static const int SETTING_CONTROLS[] = {IDC_MAIN_ADDRESS, IDC_MAIN_PORT, IDC_MAIN_BAUD};
  if (active &&
      FocusIsOn(window, SETTING_CONTROLS, static_cast<int>(std::size(SETTING_CONTROLS)))) {
    SetFocus(GetDlgItem(window, IDC_MAIN_OUTPUT_LIST));
  }

  UpdateMenuStates(window);

  for (int id : SETTING_CONTROLS) EnableWindow(GetDlgItem(window, id), !active);

  HWND logBox = GetDlgItem(window, IDC_MAIN_LOG);
  if (g_App.LogInputData) {
    ShowWindow(logBox, SW_SHOW);
    EnableWindow(logBox, active);
  } else {
    ShowWindow(logBox, SW_HIDE);
  }

  UpdateBitControls(window);
  UpdateCaption(window);
}

void UpdateMenuStates(HWND window) {
  HMENU menu = GetMenu(window);
  if (!menu) return;
  const bool active = g_App.CommActive == 1;
  const bool idle = !active && !g_App.OperationBusy;
  EnableMenuCommand(menu, IDM_SEARCH_SLAVES, idle);
  EnableMenuCommand(menu, IDM_SEARCH_ALL_RATES, idle);
  EnableMenuCommand(menu, IDM_CHANGE_ADDRESS, idle);
  EnableMenuCommand(menu, IDM_START, idle);
  EnableMenuCommand(menu, IDM_STOP, active);
  EnableMenuCommand(menu, IDM_SLAVE_WATCHDOG, idle);
  EnableMenuCommand(menu, IDM_OWN_MAC, idle);
  CheckMenuItem(menu, IDM_SLAVE_WATCHDOG,
                MF_BYCOMMAND | (g_App.SlaveWatchdog ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu, IDM_CAPTURE,
                MF_BYCOMMAND | (monitor::CaptureRunning() ? MF_CHECKED : MF_UNCHECKED));
}

void UpdateCaption(HWND window) {
  char caption[CAPTION_SIZE];
  if (persist::LoadResString(IDS_CAPTION, caption, sizeof caption) == 0) {
    std::snprintf(caption, sizeof caption, "%s", persist::FALLBACK_CAPTION);
  }
  // While communication runs the caption names the MAC ID this program
  // uses on the bus.
  char withMac[CAPTION_SIZE];
  char mac[8];
  std::snprintf(mac, sizeof mac, "%u", static_cast<unsigned>(devicenet::g_NodeTable.OwnMacId));
  if (g_App.CommActive == 1 && persist::FormatResString(IDS_CAPTION_OWN_MAC, caption, mac, nullptr,
                                                        withMac, sizeof withMac) > 0) {
    SetWindowTextA(window, withMac);
    return;
  }
  SetWindowTextA(window, caption);
}

}  // namespace ui
