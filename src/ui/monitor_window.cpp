#include "ui/monitor_window.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "master/transactions.h"
#include "monitor/capture.h"
#include "monitor/decode.h"
#include "monitor/frame_ring.h"
#include "monitor/monitor_hub.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/resstring.h"
#include "platform/platform.h"
#include "platform/wide_text.h"
#include "resource.h"
#include "ui/column_list.h"

namespace ui {

namespace {

using app::g_App;

constexpr UINT_PTR REFRESH_TIMER_ID = 1;
constexpr UINT REFRESH_MS = 200;
constexpr uint64_t LOAD_WINDOW_US = 1000000;
constexpr size_t ROW_TEXT_SIZE = 400;
constexpr size_t STATUS_TEXT_SIZE = 400;
constexpr int NO_FILTER = -1;
constexpr int MAC_ID_COUNT = 64;

constexpr int HEADINGS[] = {IDC_MON_HEAD_TIME,    IDC_MON_HEAD_DIRECTION, IDC_MON_HEAD_ID,
                            IDC_MON_HEAD_GROUP,   IDC_MON_HEAD_MESSAGE,   IDC_MON_HEAD_MAC,
                            IDC_MON_HEAD_MEANING};
constexpr int COLUMN_COUNT = sizeof HEADINGS / sizeof HEADINGS[0];

// The list's rows: the ring numbers of the frames that pass the filter,
// oldest first, themselves in a ring of the ring's size.
struct Rows {
  uint64_t numbers[monitor::RING_CAPACITY];
  uint32_t start;
  uint32_t count;
};

struct MonitorState {
  HWND window;
  int filter;         // MAC ID, or NO_FILTER
  bool paused;
  uint64_t scanned;   // the next ring number to look at
  bool haveOrigin;
  uint64_t originUs;  // time of the first frame after a clear: the times count from it
  uint32_t timeoutsAtClear;
};

Rows rows;
MonitorState state{nullptr, NO_FILTER, false, 0, false, 0, 0};

uint64_t RowNumber(uint32_t row) {
  return rows.numbers[(rows.start + row) % monitor::RING_CAPACITY];
}

void AppendRow(uint64_t number) {
  if (rows.count == monitor::RING_CAPACITY) {
    rows.start = (rows.start + 1) % monitor::RING_CAPACITY;
    --rows.count;
  }
  rows.numbers[(rows.start + rows.count) % monitor::RING_CAPACITY] = number;
  ++rows.count;
}

bool PassesFilter(const can::TappedFrame& frame) {
  if (state.filter == NO_FILTER) return true;
  monitor::DecodedFrame decoded{};
  monitor::DecodeFrame(frame, decoded);
  return decoded.macId == state.filter || decoded.headerMacId == state.filter;
}

// Everything from the start again: the rows of the frames still held that
// pass the filter.
void RebuildRows() {
  rows.start = 0;
  rows.count = 0;
  state.scanned = monitor::RingFirst();
}

// Takes the frames that came since the last look; returns how many rows
// fell off the front (their frames left the ring).
uint32_t TakeNewFrames() {
  uint32_t dropped = 0;
  const uint64_t first = monitor::RingFirst();
  while (rows.count > 0 && RowNumber(0) < first) {
    rows.start = (rows.start + 1) % monitor::RING_CAPACITY;
    --rows.count;
    ++dropped;
  }
  if (state.scanned < first) state.scanned = first;
  const uint64_t end = monitor::RingEnd();
  for (; state.scanned < end; ++state.scanned) {
    can::TappedFrame frame{};
    if (!monitor::RingGet(state.scanned, frame)) continue;
    if (!state.haveOrigin) {
      state.originUs = frame.timeUs;
      state.haveOrigin = true;
    }
    if (!PassesFilter(frame)) continue;
    const bool full = rows.count == monitor::RING_CAPACITY;
    AppendRow(state.scanned);
    if (full) ++dropped;
  }
  return dropped;
}

// Shows the rows: the list follows the newest frame while its last line is
// in view, and otherwise keeps the lines the user looks at in place.
void ShowRows(uint32_t dropped) {
  HWND list = GetDlgItem(state.window, IDC_MON_LIST);
  const LRESULT oldCount = SendMessageA(list, LB_GETCOUNT, 0, 0);
  const LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
  RECT client{};
  GetClientRect(list, &client);
  const LRESULT lineHeight = SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
  const LRESULT visible = lineHeight > 0 ? (client.bottom - client.top) / lineHeight : 1;
  const bool following = top + visible >= oldCount;
  if (oldCount == static_cast<LRESULT>(rows.count) && dropped == 0) return;
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, LB_SETCOUNT, rows.count, 0);
  LRESULT newTop = following ? static_cast<LRESULT>(rows.count) - visible
                             : top - static_cast<LRESULT>(dropped);
  if (newTop < 0) newTop = 0;
  SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(newTop), 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void AppendPart(char* text, size_t size, const char* part) {
  const size_t used = std::strlen(text);
  if (!part[0] || used + 1 >= size) return;
  std::snprintf(text + used, size - used, used > 0 ? "  |  %s" : "%s", part);
}

// Frames per second and bus load over the last second, the adapter's
// status, and the counts of error responses and time-outs since the clear.
void ShowStatus() {
  char text[STATUS_TEXT_SIZE] = "";
  char part[STATUS_TEXT_SIZE] = "";
  char first[32];
  char second[32];
  if (state.paused) {
    persist::LoadResString(IDS_MON_PAUSED, part, sizeof part);
  } else {
    const monitor::BusLoad load = monitor::MeasureBusLoad(can::TapClockUs(), LOAD_WINDOW_US);
    std::snprintf(first, sizeof first, "%u", static_cast<unsigned>(load.framesPerSecond));
    std::snprintf(second, sizeof second, "%u", static_cast<unsigned>(load.loadPercent));
    persist::FormatResString(IDS_MON_STATUS_TRAFFIC, first, second, nullptr, part, sizeof part);
  }
  AppendPart(text, sizeof text, part);
  part[0] = '\0';
  if (!g_App.AdapterOpen) {
    persist::LoadResString(IDS_MON_ADAPTER_CLOSED, part, sizeof part);
  } else if (g_App.LastBusStatus != app::NO_BUS_STATUS_SHOWN) {
    persist::LoadResString(can::BusStatusStringId(static_cast<uint32_t>(g_App.LastBusStatus)),
                           part, sizeof part);
  }
  AppendPart(text, sizeof text, part);
  std::snprintf(first, sizeof first, "%llu",
                static_cast<unsigned long long>(monitor::TheMonitorCounts().errorResponses));
  std::snprintf(second, sizeof second, "%u",
                static_cast<unsigned>(master::TxTimeoutCount() - state.timeoutsAtClear));
  persist::FormatResString(IDS_MON_STATUS_COUNTS, first, second, nullptr, part, sizeof part);
  AppendPart(text, sizeof text, part);
  SetDlgItemTextA(state.window, IDC_MON_STATUS, text);
}

void Refresh() {
  if (!state.window) return;
  if (!state.paused) ShowRows(TakeNewFrames());
  ShowStatus();
}

void Clear() {
  monitor::RingClear();
  monitor::MonitorResetCounts();
  RebuildRows();
  state.haveOrigin = false;
  state.timeoutsAtClear = master::TxTimeoutCount();
  SendDlgItemMessageA(state.window, IDC_MON_LIST, LB_SETCOUNT, 0, 0);
  Refresh();
}

// The filter field: a MAC ID 0..63, or empty for every frame. Anything else
// is shown back as it was.
void TakeFilter() {
  char text[16] = "";
  GetDlgItemTextA(state.window, IDC_MON_FILTER, text, sizeof text);
  int filter = NO_FILTER;
  if (text[0]) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value >= MAC_ID_COUNT || end == text) {
      if (state.filter == NO_FILTER) {
        SetDlgItemTextA(state.window, IDC_MON_FILTER, "");
      } else {
        SetDlgItemInt(state.window, IDC_MON_FILTER, static_cast<UINT>(state.filter), FALSE);
      }
      return;
    }
    filter = static_cast<int>(value);
  }
  if (filter == state.filter) return;
  state.filter = filter;
  RebuildRows();
  SendDlgItemMessageA(state.window, IDC_MON_LIST, LB_SETCOUNT, 0, 0);
  Refresh();
}

void SetPaused(bool paused) {
  state.paused = paused;
  monitor::MonitorWantRing(!paused);
  Refresh();
}

BOOL OnInitDialog(HWND dialog) {
  state.window = dialog;
  state.paused = false;
  state.filter = NO_FILTER;
  monitor::MonitorWantRing(true);
  Clear();
  SetTimer(dialog, REFRESH_TIMER_ID, REFRESH_MS, nullptr);
  return TRUE;
}

BOOL OnCommand(HWND dialog, WORD id, WORD code) {
  switch (id) {
    case IDCANCEL:
      DestroyWindow(dialog);
      return TRUE;
    case IDC_MON_PAUSE:
      if (code == BN_CLICKED) SetPaused(IsDlgButtonChecked(dialog, IDC_MON_PAUSE) == BST_CHECKED);
      return TRUE;
    case IDC_MON_CLEAR:
      if (code == BN_CLICKED) Clear();
      return TRUE;
    case IDC_MON_FILTER:
      if (code == EN_CHANGE) TakeFilter();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool MonitorRowText(int row, char* text, size_t size) {
  if (size == 0) return false;
  text[0] = '\0';
  if (row < 0 || static_cast<uint32_t>(row) >= rows.count) return false;
  can::TappedFrame frame{};
  if (!monitor::RingGet(RowNumber(static_cast<uint32_t>(row)), frame)) return false;
  monitor::DecodedFrame decoded{};
  monitor::DecodeFrame(frame, decoded);
  char meaning[ROW_TEXT_SIZE];
  monitor::DescribeFrame(decoded, meaning, sizeof meaning);
  char group[8] = "";
  char message[8] = "";
  char mac[8] = "";
  if (decoded.group) {
    std::snprintf(group, sizeof group, "%u", static_cast<unsigned>(decoded.group));
    std::snprintf(message, sizeof message, "%u", static_cast<unsigned>(decoded.messageId));
  }
  if (decoded.macId < MAC_ID_COUNT) {
    std::snprintf(mac, sizeof mac, "%u", static_cast<unsigned>(decoded.macId));
  }
  const unsigned long long time = state.haveOrigin && frame.timeUs >= state.originUs
                                      ? frame.timeUs - state.originUs
                                      : 0;
  if (frame.status) {
    std::snprintf(text, size, "%llu\t%s\t\t\t\t\t%s", time, "Rx", meaning);
  } else {
    std::snprintf(text, size, "%llu\t%s\t%03X\t%s\t%s\t%s\t%s", time,
                  frame.direction == can::TAP_SENT ? "Tx" : "Rx",
                  static_cast<unsigned>(frame.id), group, message, mac, meaning);
  }
  return true;
}

HWND MonitorWindow() {
  return state.window;
}

void OpenMonitorWindow(HWND owner) {
  if (state.window) {
    ShowWindow(state.window, SW_RESTORE);
    SetForegroundWindow(state.window);
    return;
  }
  CreateDialogParamA(static_cast<HINSTANCE>(g_App.hResDll), MAKEINTRESOURCEA(IDD_MONITOR), owner,
                     MonitorDlgProc, 0);
  if (state.window) ShowWindow(state.window, SW_SHOW);
}

void CloseMonitorWindow() {
  if (state.window) DestroyWindow(state.window);
}

void ToggleCapture(HWND owner) {
  if (monitor::CaptureRunning()) {
    monitor::CaptureStop();
    monitor::MonitorWantCapture(false);
    return;
  }
  char filterText[200] = "";
  persist::LoadResString(IDS_CAPTURE_FILTER, filterText, sizeof filterText);
  char titleText[100] = "";
  persist::LoadResString(IDS_CAPTURE_TITLE, titleText, sizeof titleText);
  wchar_t filter[200] = L"";
  wchar_t title[100] = L"";
  platform::Utf8ToWide(filterText, filter, sizeof filter / sizeof filter[0]);
  platform::Utf8ToWide(titleText, title, sizeof title / sizeof title[0]);
  // The file types come as "name|pattern|...|": the dialog wants them
  // separated by nulls.
  for (wchar_t* c = filter; *c; ++c) {
    if (*c == L'|') *c = L'\0';
  }
  wchar_t path[platform::WIDE_PATH_SIZE] = L"capture.pcap";
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path;
  dialog.nMaxFile = platform::WIDE_PATH_SIZE;
  dialog.lpstrTitle = title;
  dialog.lpstrDefExt = L"pcap";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&dialog)) return;
  const monitor::CaptureFormat format =
      dialog.nFilterIndex == 2 ? monitor::CaptureFormat::CandumpLog : monitor::CaptureFormat::Pcap;
  char chosen[platform::PATH_TEXT_SIZE] = "";
  if (!platform::WideToUtf8(path, chosen, sizeof chosen)) chosen[0] = '\0';
  StartCapture(owner, chosen, format);
}

bool StartCapture(HWND owner, const char* path, monitor::CaptureFormat format) {
  if (!path[0] || !monitor::CaptureStart(path, format)) {
    persist::ShowMsgFmt(owner, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_CAPTURE_FAILED,
                        path, nullptr, nullptr);
    return false;
  }
  monitor::MonitorWantCapture(true);
  return true;
}

INT_PTR CALLBACK MonitorDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_TIMER:
      if (wParam == REFRESH_TIMER_ID) Refresh();
      return TRUE;
    case WM_MEASUREITEM:
      if (wParam != IDC_MON_LIST) return FALSE;
      MeasureColumnLine(dialog, *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DRAWITEM: {
      if (wParam != IDC_MON_LIST) return FALSE;
      const DRAWITEMSTRUCT& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      char text[ROW_TEXT_SIZE] = "";
      if (item.itemID != static_cast<UINT>(-1)) {
        MonitorRowText(static_cast<int>(item.itemID), text, sizeof text);
      }
      DrawColumnLine(item, HEADINGS, COLUMN_COUNT, text, COLOR_WINDOWTEXT);
      return TRUE;
    }
    case WM_DESTROY:
      KillTimer(dialog, REFRESH_TIMER_ID);
      monitor::MonitorWantRing(false);
      state.window = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace ui
