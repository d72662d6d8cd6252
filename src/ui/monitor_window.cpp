#include "ui/monitor_window.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

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
#include "persist/settings.h"
#include "platform/platform.h"
#include "platform/wide_text.h"
#include "resource.h"
#include "ui/column_list.h"
#include "ui/main_window.h"

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

constexpr int HEADINGS[] = {IDC_MON_HEAD_TIME,   IDC_MON_HEAD_DIRECTION, IDC_MON_HEAD_ID,
                            IDC_MON_HEAD_GROUP,  IDC_MON_HEAD_MESSAGE,   IDC_MON_HEAD_MAC,
                            IDC_MON_HEAD_LENGTH, IDC_MON_HEAD_DATA,      IDC_MON_HEAD_MEANING};
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
  int filter;  // MAC ID, or NO_FILTER
  bool paused;
  uint64_t scanned;  // the next ring number to look at
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
  LRESULT newTop =
      following ? static_cast<LRESULT>(rows.count) - visible : top - static_cast<LRESULT>(dropped);
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
    persist::LoadResString(can::BusStatusStringId(static_cast<uint32_t>(g_App.LastBusStatus)), part,
                           sizeof part);
  }
  AppendPart(text, sizeof text, part);
  std::snprintf(first, sizeof first, "%llu",
                static_cast<unsigned long long>(monitor::TheMonitorCounts().errorResponses));
  std::snprintf(second, sizeof second, "%u",
                static_cast<unsigned>(master::TxTimeoutCount() - state.timeoutsAtClear));
  persist::FormatResString(IDS_MON_STATUS_COUNTS, first, second, nullptr, part, sizeof part);
  AppendPart(text, sizeof text, part);
  if (state.filter != NO_FILTER) {
    std::snprintf(first, sizeof first, "%d", state.filter);
    persist::FormatResString(IDS_MON_STATUS_FILTER, first, nullptr, nullptr, part, sizeof part);
    AppendPart(text, sizeof text, part);
  }
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
      // The caret stays behind the text, so that the next key goes on it.
      const LRESULT length =
          SendDlgItemMessageA(state.window, IDC_MON_FILTER, WM_GETTEXTLENGTH, 0, 0);
      SendDlgItemMessageA(state.window, IDC_MON_FILTER, EM_SETSEL, static_cast<WPARAM>(length),
                          length);
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

// Where the window was left, in the settings file: section and keys.
constexpr const char* PLACE_SECTION = "Monitor";
constexpr const char* PLACE_LEFT = "Left";
constexpr const char* PLACE_TOP = "Top";
// Of a remembered place, this much of the caption must be on a screen.
constexpr int CAPTION_GRIP = 40;

bool ReadRememberedPlace(POINT& place) {
  char path[persist::SETTINGS_PATH_SIZE];
  if (!persist::GetSettingsPath(path)) return false;
  int left = 0;
  int top = 0;
  if (!persist::ReadSettingInt(PLACE_SECTION, PLACE_LEFT, left, path) ||
      !persist::ReadSettingInt(PLACE_SECTION, PLACE_TOP, top, path)) {
    return false;
  }
  // A screen that is no longer there (a second monitor unplugged) does not
  // hide the window.
  const POINT grip{left + CAPTION_GRIP, top + GetSystemMetrics(SM_CYCAPTION) / 2};
  if (!MonitorFromPoint(grip, MONITOR_DEFAULTTONULL)) return false;
  place = POINT{left, top};
  return true;
}

void RememberPlace(HWND window) {
  RECT rect{};
  char path[persist::SETTINGS_PATH_SIZE];
  if (IsIconic(window) || !GetWindowRect(window, &rect) || !persist::GetSettingsPath(path)) return;
  persist::WriteSettingInt(PLACE_SECTION, PLACE_LEFT, rect.left, path);
  persist::WriteSettingInt(PLACE_SECTION, PLACE_TOP, rect.top, path);
}

// Beside the main window, so that its menu and controls stay in view: to
// the right, else to the left, below or above, whichever fits the work
// area of its screen. Where none does but the two fit side by side or one
// above the other, the main window moves over to make room; on a screen too
// small even for that, the side with the most room, kept on the screen.
POINT PlaceBeside(HWND owner, int width, int height) {
  RECT main{};
  GetWindowRect(owner, &main);
  MONITORINFO screen{};
  screen.cbSize = sizeof screen;
  GetMonitorInfoA(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &screen);
  const RECT work = screen.rcWork;
  const LONG mainWidth = main.right - main.left;
  const LONG mainHeight = main.bottom - main.top;
  const LONG room[] = {work.right - main.right, main.left - work.left, work.bottom - main.bottom,
                       main.top - work.top};
  const LONG need[] = {width, width, height, height};
  int best = 0;
  bool fits = false;
  for (int side = 0; side < 4 && !fits; ++side) {
    fits = room[side] >= need[side];
    if (fits || room[side] * need[best] > room[best] * need[side]) best = side;
  }
  if (!fits && mainWidth + width <= work.right - work.left) {
    main.left = work.right - width - mainWidth;
    best = 0;
  } else if (!fits && mainHeight + height <= work.bottom - work.top) {
    main.top = work.bottom - height - mainHeight;
    best = 2;
  }
  main.right = main.left + mainWidth;
  main.bottom = main.top + mainHeight;
  if (!fits) {
    SetWindowPos(owner, nullptr, main.left, main.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const POINT sides[] = {{main.right, main.top},
                         {main.left - width, main.top},
                         {main.left, main.bottom},
                         {main.left, main.top - height}};
  POINT place = sides[best];
  if (place.x + width > work.right) place.x = work.right - width;
  if (place.y + height > work.bottom) place.y = work.bottom - height;
  if (place.x < work.left) place.x = work.left;
  if (place.y < work.top) place.y = work.top;
  return place;
}

void PlaceWindow(HWND window, HWND owner) {
  RECT rect{};
  GetWindowRect(window, &rect);
  POINT place{};
  if (!ReadRememberedPlace(place)) {
    place = PlaceBeside(owner, rect.right - rect.left, rect.bottom - rect.top);
  }
  SetWindowPos(window, nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- the capture ----

// The file gets what the tap buffered in slices this large, at this pace,
// between exchanges: about 640 KiB a second, five times a full bus in pcap.
constexpr UINT CAPTURE_WRITE_MS = 100;
constexpr size_t CAPTURE_SLICE_BYTES = 64 * 1024;

UINT_PTR captureTimer = 0;
char capturePath[platform::PATH_TEXT_SIZE] = "";

void ReportCaptureFailed(HWND owner) {
  char frames[24];
  std::snprintf(frames, sizeof frames, "%llu",
                static_cast<unsigned long long>(monitor::CaptureFrames()));
  persist::ShowMsgFmt(owner, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                      IDS_CAPTURE_WRITE_FAILED, capturePath, frames, nullptr);
}

void EndCaptureTimer() {
  if (captureTimer) KillTimer(nullptr, captureTimer);
  captureTimer = 0;
  monitor::MonitorWantCapture(false);
  if (g_App.hMainWnd) UpdateMenuStates(static_cast<HWND>(g_App.hMainWnd));
}

// A slice at a time, never inside an exchange or a transaction's wait: the
// timer's message can come through the pump those run.
void CALLBACK OnCaptureTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (g_App.TxWaitDepth || g_App.CyclicBusy || g_App.StepRunning) return;
  if (monitor::CaptureWriteSome(CAPTURE_SLICE_BYTES)) return;
  EndCaptureTimer();
  ReportCaptureFailed(static_cast<HWND>(g_App.hMainWnd));
}

void StopCapture(HWND owner) {
  const bool written = monitor::CaptureWriteSome(monitor::CAPTURE_BUFFER_SIZE);
  const bool closed = monitor::CaptureStop();
  EndCaptureTimer();
  if (!written) {
    ReportCaptureFailed(owner);
  } else if (!closed) {
    persist::ShowMsgFmt(owner, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                        IDS_CAPTURE_CLOSE_FAILED, capturePath, nullptr, nullptr);
  } else if (monitor::CaptureLostFrames() > 0) {
    char lost[24];
    std::snprintf(lost, sizeof lost, "%llu",
                  static_cast<unsigned long long>(monitor::CaptureLostFrames()));
    persist::ShowMsgFmt(owner, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                        IDS_CAPTURE_FRAMES_LOST, capturePath, lost, nullptr);
  }
}

// The save dialog's file types, in the order of IDS_CAPTURE_FILTER.
constexpr DWORD TYPE_PCAP = 1;
constexpr DWORD TYPE_CANDUMP = 2;
const wchar_t* const TYPE_EXTENSIONS[] = {L"pcap", L"log"};

// The file name's extension, or null.
const wchar_t* ExtensionOf(const wchar_t* path) {
  const wchar_t* dot = std::wcsrchr(path, L'.');
  const wchar_t* slash = std::wcspbrk(path, L"\\/");
  for (const wchar_t* s = slash; s; s = std::wcspbrk(s + 1, L"\\/")) slash = s;
  return dot && (!slash || dot > slash) ? dot + 1 : nullptr;
}

// A file type change in the save dialog: the name takes the type's
// extension, and so does a name typed without one.
UINT_PTR CALLBACK SaveDialogHook(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_NOTIFY) return 0;
  const OFNOTIFYW& notify = *reinterpret_cast<const OFNOTIFYW*>(lParam);
  if (notify.hdr.code != CDN_TYPECHANGE) return 0;
  HWND explorer = GetParent(dialog);
  const DWORD type = notify.lpOFN->nFilterIndex == TYPE_CANDUMP ? TYPE_CANDUMP : TYPE_PCAP;
  const wchar_t* extension = TYPE_EXTENSIONS[type - 1];
  SendMessageW(explorer, CDM_SETDEFEXT, 0, reinterpret_cast<LPARAM>(extension));
  wchar_t name[platform::WIDE_PATH_SIZE] = L"";
  if (SendMessageW(explorer, CDM_GETSPEC, platform::WIDE_PATH_SIZE,
                   reinterpret_cast<LPARAM>(name)) <= 0 ||
      !name[0]) {
    return 0;
  }
  SetCaptureExtension(name, platform::WIDE_PATH_SIZE, type);
  // The name field is a combo box (cmb13) in newer dialogs, an edit (edt1) in older ones.
  SendMessageW(explorer, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(name));
  SendMessageW(explorer, CDM_SETCONTROLTEXT, edt1, reinterpret_cast<LPARAM>(name));
  return 0;
}

}  // namespace

bool MonitorRowText(int row, char* text, size_t size) {
  if (size == 0) return false;
  text[0] = '\0';
  if (row < 0 || static_cast<uint32_t>(row) >= rows.count) return false;
  can::TappedFrame frame{};
  uint8_t bodyFormat = monitor::FORMAT_UNKNOWN;
  if (!monitor::RingGet(RowNumber(static_cast<uint32_t>(row)), frame, &bodyFormat)) return false;
  monitor::DecodedFrame decoded{};
  monitor::DecodeFrameAs(frame, bodyFormat, decoded);
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
  const unsigned long long time =
      state.haveOrigin && frame.timeUs >= state.originUs ? frame.timeUs - state.originUs : 0;
  if (frame.status) {
    std::snprintf(text, size, "%llu\t%s\t\t\t\t\t\t\t%s", time, "Rx", meaning);
  } else {
    const uint8_t len = frame.len <= 8 ? frame.len : 8;
    char data[3 * 8] = "";  // "01 02 ... 08"
    for (uint8_t i = 0; i < len; ++i) {
      std::snprintf(data + 3 * i - (i ? 1 : 0), sizeof data - 3 * i + (i ? 1 : 0),
                    i ? " %02X" : "%02X", frame.data[i]);
    }
    std::snprintf(text, size, "%llu\t%s\t%03X\t%s\t%s\t%s\t%u\t%s\t%s", time,
                  frame.direction == can::TAP_SENT ? "Tx" : "Rx", static_cast<unsigned>(frame.id),
                  group, message, mac, static_cast<unsigned>(len), data, meaning);
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
  if (!state.window) return;
  PlaceWindow(state.window, owner);
  ShowWindow(state.window, SW_SHOW);
}

void CloseMonitorWindow() {
  if (state.window) DestroyWindow(state.window);
}

monitor::CaptureFormat CaptureFormatOf(const wchar_t* path, DWORD filterIndex) {
  const wchar_t* extension = ExtensionOf(path);
  if (extension && _wcsicmp(extension, TYPE_EXTENSIONS[TYPE_CANDUMP - 1]) == 0) {
    return monitor::CaptureFormat::CandumpLog;
  }
  if (extension && _wcsicmp(extension, TYPE_EXTENSIONS[TYPE_PCAP - 1]) == 0) {
    return monitor::CaptureFormat::Pcap;
  }
  return filterIndex == TYPE_CANDUMP ? monitor::CaptureFormat::CandumpLog
                                     : monitor::CaptureFormat::Pcap;
}

void SetCaptureExtension(wchar_t* name, size_t size, DWORD filterIndex) {
  const wchar_t* wanted =
      TYPE_EXTENSIONS[(filterIndex == TYPE_CANDUMP ? TYPE_CANDUMP : TYPE_PCAP) - 1];
  const wchar_t* extension = ExtensionOf(name);
  size_t stem = std::wcslen(name);
  if (extension) {
    // Only a capture type's extension is swapped; "bus.2024" keeps its own.
    const bool ours = _wcsicmp(extension, TYPE_EXTENSIONS[0]) == 0 ||
                      _wcsicmp(extension, TYPE_EXTENSIONS[1]) == 0;
    if (!ours) return;
    stem = static_cast<size_t>(extension - name) - 1;
  }
  if (stem + 1 + std::wcslen(wanted) + 1 > size) return;
  name[stem] = L'.';
  std::wcscpy(name + stem + 1, wanted);
}

void ToggleCapture(HWND owner) {
  if (monitor::CaptureRunning()) {
    StopCapture(owner);
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
  dialog.nFilterIndex = TYPE_PCAP;
  dialog.lpstrFile = path;
  dialog.nMaxFile = platform::WIDE_PATH_SIZE;
  dialog.lpstrTitle = title;
  dialog.lpstrDefExt = TYPE_EXTENSIONS[TYPE_PCAP - 1];
  dialog.lpfnHook = SaveDialogHook;
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY |
                 OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING;
  if (!GetSaveFileNameW(&dialog)) return;
  // The extension decides: "cap2.log" is a candump log whatever type was shown.
  const monitor::CaptureFormat format = CaptureFormatOf(path, dialog.nFilterIndex);
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
  std::snprintf(capturePath, sizeof capturePath, "%s", path);
  monitor::MonitorWantCapture(true);
  if (!captureTimer) captureTimer = SetTimer(nullptr, 0, CAPTURE_WRITE_MS, OnCaptureTimer);
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
      RememberPlace(dialog);
      KillTimer(dialog, REFRESH_TIMER_ID);
      monitor::MonitorWantRing(false);
      state.window = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace ui
