#include "ui/data_views.h"

#include <cstdio>
#include <cstring>

#include "persist/inputlog.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "resource.h"
#include "ui/view_text.h"

namespace ui {

namespace {

using app::g_App;

constexpr int BIT_COUNT = 8;
constexpr int HEX_TEXT_SIZE = 100;
// Tab stops of the list lines, in dialog template units.
constexpr int LIST_TAB_COUNT = 3;
const int LIST_TABS[LIST_TAB_COUNT] = {20, 40, 80};

// The hex field's text as a refusal shows it, at most.
constexpr int SHOWN_HEX_SIZE = 32;

app::IoRecord shownInput;
app::IoRecord shownOutput;
int inPoll;
int refusing;  // the hex field's refusal box is up

int CheckBoxOf(int bit) {
  return IDC_MAIN_BIT0_CHECK + bit;
}

int ButtonOf(int bit) {
  return IDC_MAIN_BIT0_BUTTON + bit;
}

// The selected output byte is usable when a line is selected, its item
// data reads, and it lies within the Output record being sent.
bool SelectedOutputIndex(HWND window, uint32_t& index) {
  const LRESULT line = SendDlgItemMessageA(window, IDC_MAIN_OUTPUT_LIST, LB_GETCURSEL, 0, 0);
  if (line == LB_ERR) return false;
  const LRESULT data = SendDlgItemMessageA(window, IDC_MAIN_OUTPUT_LIST, LB_GETITEMDATA, line, 0);
  if (data == LB_ERR || !g_App.Io || data < 0) return false;
  if (static_cast<uint64_t>(data) >= g_App.Io->Output.Length) return false;
  index = static_cast<uint32_t>(data);
  return true;
}

bool FocusOnBitControls(HWND window) {
  HWND focus = GetFocus();
  if (!focus) return false;
  if (focus == GetDlgItem(window, IDC_MAIN_HEX)) return true;
  for (int bit = 0; bit < BIT_COUNT; ++bit) {
    if (focus == GetDlgItem(window, CheckBoxOf(bit)) ||
        focus == GetDlgItem(window, ButtonOf(bit))) {
      return true;
    }
  }
  return false;
}

void ShowControl(HWND window, int id, bool visible) {
  ShowWindow(GetDlgItem(window, id), visible ? SW_SHOW : SW_HIDE);
}

void EnableControl(HWND window, int id, bool enabled) {
  EnableWindow(GetDlgItem(window, id), enabled);
}

// Tab stops in pixels of the list's dialog, for measuring the lines.
void TabStopsInPixels(HWND window, int* pixels) {
  for (int i = 0; i < LIST_TAB_COUNT; ++i) {
    RECT rect{0, 0, LIST_TABS[i], 0};
    MapDialogRect(window, &rect);
    pixels[i] = rect.right;
  }
}

}  // namespace

void ResetDataViews() {
  std::memset(&shownInput, 0, sizeof shownInput);
  std::memset(&shownOutput, 0, sizeof shownOutput);
  inPoll = 0;
}

const app::IoRecord& ShownInput() {
  return shownInput;
}

const app::IoRecord& ShownOutput() {
  return shownOutput;
}

void RefreshDataViews(HWND window, app::IoBuffers* io, int force) {
  if (!io) return;
  const bool inputChanged = std::memcmp(&io->Input, &shownInput, sizeof shownInput) != 0;
  if (inputChanged) shownInput = io->Input;
  if (inputChanged || force) {
    // Only what the slave sent: the zeros of a fresh start are no input.
    if (g_App.InputReceived) persist::WriteLog(persist::LOG_DATA, &io->Input, nullptr);
    FillByteList(window, IDC_MAIN_INPUT_LIST, io->Input);
  }
  const bool outputChanged = std::memcmp(&g_App.OutputEdit, &shownOutput, sizeof shownOutput) != 0;
  if (outputChanged) shownOutput = g_App.OutputEdit;
  if (outputChanged || force) FillByteList(window, IDC_MAIN_OUTPUT_LIST, g_App.OutputEdit);
}

int FillByteList(HWND window, int listId, const app::IoRecord& record) {
  HWND list = GetDlgItem(window, listId);
  HDC dc = list ? GetDC(list) : nullptr;
  if (!dc) return 0;
  // Measured in the list's own font, so the extent fits what is drawn.
  HGDIOBJ oldFont =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics;
  if (!GetTextMetricsA(dc, &metrics)) {
    SelectObject(dc, oldFont);
    ReleaseDC(list, dc);
    return 0;
  }

  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  const LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
  const LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
  SendMessageA(list, LB_SETTABSTOPS, LIST_TAB_COUNT,
               reinterpret_cast<LPARAM>(const_cast<int*>(LIST_TABS)));
  SendMessageA(list, LB_RESETCONTENT, 0, 0);

  int tabPixels[LIST_TAB_COUNT];
  TabStopsInPixels(window, tabPixels);
  int widest = 0;
  const uint32_t length = record.Length <= app::IO_DATA_SIZE ? record.Length : app::IO_DATA_SIZE;
  for (uint32_t i = 0; i < length; ++i) {
    char line[LIST_LINE_SIZE];
    const int lineLength = static_cast<int>(FormatListLine(i, record.Data[i], line, sizeof line));
    const DWORD extent = GetTabbedTextExtentA(dc, line, lineLength, LIST_TAB_COUNT, tabPixels);
    const int width = LOWORD(extent) + metrics.tmAveCharWidth;
    if (width > widest) widest = width;
    const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    if (index >= 0) SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(index), i);
  }

  SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest), 0);
  const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  SendMessageA(list, LB_SETCURSEL, selected >= 0 && selected < count ? selected : -1, 0);
  if (top >= 0 && top < count) SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  SelectObject(dc, oldFont);
  ReleaseDC(list, dc);
  return 1;
}

void ShowOutputByte(HWND window, uint32_t value) {
  if (!g_App.hMainWnd) return;
  for (int bit = 0; bit < BIT_COUNT; ++bit) {
    CheckDlgButton(window, CheckBoxOf(bit), (value >> bit) & 1u ? BST_CHECKED : BST_UNCHECKED);
  }
  char text[16];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
  SetDlgItemTextA(window, IDC_MAIN_HEX, text);
  UpdateBitControls(window);
}

uint8_t CollectBits(HWND window) {
  uint8_t value = 0;
  for (int bit = 0; bit < BIT_COUNT; ++bit) {
    if (IsDlgButtonChecked(window, CheckBoxOf(bit)) == BST_CHECKED) {
      value = static_cast<uint8_t>(value | (1u << bit));
    }
  }
  ShowOutputByte(window, value);
  return value;
}

void UpdateBitControls(HWND window) {
  uint32_t index = 0;
  const bool usable = SelectedOutputIndex(window, index);
  if (!usable && FocusOnBitControls(window)) {
    SetFocus(GetDlgItem(window, IDC_MAIN_OUTPUT_LIST));
  }
  const bool single = g_App.SingleBitMode != 0;
  for (int bit = 0; bit < BIT_COUNT; ++bit) {
    ShowControl(window, CheckBoxOf(bit), !single);
    ShowControl(window, ButtonOf(bit), single);
  }
  EnableControl(window, IDC_MAIN_HEX, !single && usable);
  for (int bit = 0; bit < BIT_COUNT; ++bit) {
    EnableControl(window, CheckBoxOf(bit), usable);
    EnableControl(window, ButtonOf(bit), usable);
  }
}

// Says why the hex field was not taken: the text as far as it is shown and
// the value the byte keeps, which the field shows again already.
void RefuseHexEdit(HWND window, const char* text, uint8_t kept) {
  char shown[SHOWN_HEX_SIZE];
  const int most = SHOWN_HEX_SIZE - 4;
  std::snprintf(shown, sizeof shown, "%.*s%s", most, text,
                static_cast<int>(std::strlen(text)) > most ? "..." : "");
  char value[4];
  std::snprintf(value, sizeof value, "%02X", static_cast<unsigned>(kept));
  persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_HEX_REFUSED,
                      shown, value, nullptr);
}

int ApplyHexEdit(HWND window) {
  uint32_t index = 0;
  if (!SelectedOutputIndex(window, index)) {
    ShowOutputByte(window, 0);
    return 0;
  }
  const uint8_t current = g_App.OutputEdit.Data[index];
  HWND field = GetDlgItem(window, IDC_MAIN_HEX);
  static char text[HEX_TEXT_SIZE];
  text[0] = '\0';
  uint8_t value = 0;
  const int length = field ? GetWindowTextLengthA(field) : 0;
  if (field) GetWindowTextA(field, text, sizeof text);
  // Pasted text longer than the field reads is refused, not cut.
  if (!field || length >= HEX_TEXT_SIZE || !ParseHexByte(text, value)) {
    // The field shows the byte again before the box takes the focus: the
    // focus leaving the field brings us here once more, and then the text
    // is the byte's own.
    ShowOutputByte(window, current);
    // Not while the program ends: the field loses the focus then as well.
    if (field && g_App.hMainWnd == window && g_App.PendingCommand != app::CMD_EXIT && !refusing) {
      refusing = 1;
      RefuseHexEdit(window, text, current);
      refusing = 0;
    }
    return 0;
  }
  if (value != current) {
    g_App.OutputEdit.Data[index] = value;
    ShowOutputByte(window, value);
  }
  RefreshDataViews(window, g_App.Io, 0);
  UpdateBitControls(window);
  return 1;
}

void PollSingleBitButtons() {
  HWND window = static_cast<HWND>(g_App.hMainWnd);
  // Refilling the list redraws buttons, which calls here again.
  if (!window || inPoll) return;
  inPoll = 1;
  uint32_t index = 0;
  if (g_App.SingleBitMode && SelectedOutputIndex(window, index)) {
    uint8_t value = 0;
    for (int bit = 0; bit < BIT_COUNT; ++bit) {
      if (SendDlgItemMessageA(window, ButtonOf(bit), BM_GETSTATE, 0, 0) & BST_PUSHED) {
        value = static_cast<uint8_t>(1u << bit);
        break;
      }
    }
    if (value != g_App.OutputEdit.Data[index]) {
      g_App.OutputEdit.Data[index] = value;
      FillByteList(window, IDC_MAIN_OUTPUT_LIST, g_App.OutputEdit);
      ShowOutputByte(window, value);
    }
  }
  inPoll = 0;
}

void CommitOutputs() {
  if (g_App.FreezeOutputs || !g_App.Io) return;
  g_App.Io->Output = g_App.OutputEdit;
}

void OnOutputSelChange(HWND window) {
  const LRESULT line = SendDlgItemMessageA(window, IDC_MAIN_OUTPUT_LIST, LB_GETCURSEL, 0, 0);
  if (line == LB_ERR) return;
  const LRESULT data = SendDlgItemMessageA(window, IDC_MAIN_OUTPUT_LIST, LB_GETITEMDATA, line, 0);
  if (data == LB_ERR || data < 0) return;
  const bool inRecord = g_App.Io && static_cast<uint64_t>(data) < g_App.Io->Output.Length;
  ShowOutputByte(window, inRecord ? g_App.OutputEdit.Data[data] : 0);
}

void OnBitCheckClicked(HWND window) {
  uint32_t index = 0;
  // A late click without a usable byte changes nothing.
  if (!SelectedOutputIndex(window, index)) return;
  g_App.OutputEdit.Data[index] = CollectBits(window);
  RefreshDataViews(window, g_App.Io, 0);
  UpdateBitControls(window);
}

}  // namespace ui
