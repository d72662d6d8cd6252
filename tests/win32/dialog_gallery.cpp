// Shows every dialog of both language libraries filled with typical contents
// and saves each as a bitmap, so that a person can look for cut or
// overlapping text. Not a test: scripts/dialog_shots.sh runs it and converts
// the pictures.
//
// usage: dialog_gallery.exe OUTPUT_FOLDER [HOLD_MS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "resource.h"

namespace {

HICON g_icon;
DWORD g_holdMs;  // how long each dialog stays after its picture

// lParam of the creation: non-zero for the About box, which gets its icon.
INT_PTR CALLBACK GalleryDlgProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_DRAWITEM) {
    // The search list draws its own lines; here plainly, tabs expanded (the
    // program's columns show in scripts/screenshots.sh).
    const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item->itemID == static_cast<UINT>(-1)) return TRUE;
    char text[300] = "";
    if (GetWindowLongA(item->hwndItem, GWL_STYLE) & LBS_NODATA) {
      // The monitor's list holds no texts: lines of its kind.
      std::snprintf(text, sizeof text, "%u\tTx\t5FD\t2\t5\t63\tPoll command",
                    1200u * (item->itemID + 1));
    } else {
      SendMessageA(item->hwndItem, LB_GETTEXT, item->itemID, reinterpret_cast<LPARAM>(text));
    }
    RECT line = item->rcItem;
    FillRect(item->hDC, &line, GetSysColorBrush(COLOR_WINDOW));
    DrawTextA(item->hDC, text, -1, &line, DT_SINGLELINE | DT_EXPANDTABS | DT_NOPREFIX);
    return TRUE;
  }
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
    return TRUE;
  }
  if (message == WM_PAINT && g_icon && GetWindowLongPtrA(dialog, GWLP_USERDATA)) {
    // As the About box draws it: at the placeholder's corner.
    RECT place;
    GetWindowRect(GetDlgItem(dialog, IDC_ABOUT_ICON), &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    DrawIcon(dc, place.left, place.top, g_icon);
    EndPaint(dialog, &paint);
    return TRUE;
  }
  return FALSE;
}

void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(10);
  }
}

// Saves the screen area of the window as a 24-bit bitmap file.
bool SaveWindow(HWND window, const std::string& path) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
  const DWORD size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + size;
  bool ok = false;
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
         std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
         std::fwrite(bits, size, 1, out) == 1;
    ok = std::fclose(out) == 0 && ok;
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

void Combo(HWND dialog, int id, const char* const* items, int count, int selected) {
  for (int i = 0; i < count; ++i)
    SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, (LPARAM)items[i]);
  SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

// Of the progress texts `ids` of the library, with 63 for each number, the
// widest in the font of line `lineId` of `dialog` goes into that line.
void ShowWidestProgress(HWND dialog, int lineId, const int* ids, int count) {
  HMODULE library = reinterpret_cast<HMODULE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
  HWND line = GetDlgItem(dialog, lineId);
  HDC dc = GetDC(line);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(line, WM_GETFONT, 0, 0)));
  std::string widest;
  LONG widestPx = -1;
  for (int i = 0; i < count; ++i) {
    char format[256] = "";
    if (LoadStringA(library, static_cast<UINT>(ids[i]), format, sizeof format) <= 0) continue;
    std::string text = format;
    for (size_t at = text.find("%s"); at != std::string::npos; at = text.find("%s", at)) {
      text.replace(at, 2, "63");
    }
    SIZE size;
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    if (size.cx > widestPx) {
      widestPx = size.cx;
      widest = text;
    }
  }
  SelectObject(dc, old);
  ReleaseDC(line, dc);
  SetWindowTextA(line, widest.c_str());
}

void FillMain(HWND dialog, bool pushButtons) {
  SetDlgItemTextA(dialog, IDC_MAIN_MAKER, "Korvath Feldbus-Werkzeuge");
  const char* ports[] = {"USB", "PCI", "LPT1 (0378)", "LPT2 (0278)", "LPT3 (03BC)"};
  Combo(dialog, IDC_MAIN_PORT, ports, 5, 2);
  const char* bauds[] = {"125 kBaud", "250 kBaud", "500 kBaud"};
  Combo(dialog, IDC_MAIN_BAUD, bauds, 3, 0);
  SetDlgItemTextA(dialog, IDC_MAIN_ADDRESS, "63");
  SetDlgItemTextA(dialog, IDC_MAIN_BUS_STATUS, "No device driver loaded");
  SetDlgItemTextA(dialog, IDC_MAIN_HEX, "A5");
  SetDlgItemTextA(dialog, IDC_MAIN_VENDOR_ID, "1234");
  SetDlgItemTextA(dialog, IDC_MAIN_DEVICE_TYPE, "12");
  SetDlgItemTextA(dialog, IDC_MAIN_PRODUCT_CODE, "4711");
  SetDlgItemTextA(dialog, IDC_MAIN_REVISION, "2.10");
  SetDlgItemTextA(dialog, IDC_MAIN_SERIAL_NUMBER, "2147483649");
  SetDlgItemTextA(dialog, IDC_MAIN_PRODUCT_NAME, "Simulated I/O Slave 16DI/16DO");
  const int stops[] = {20, 40, 80};
  const unsigned char bytes[] = {0xA5, 0x41, 0x0D, 0x7E, 0xE4, 0x00, 0xFF, 0x30, 0x31, 0x32};
  for (int list : {IDC_MAIN_OUTPUT_LIST, IDC_MAIN_INPUT_LIST}) {
    SendDlgItemMessageA(dialog, list, LB_SETTABSTOPS, 3, (LPARAM)stops);
    for (int i = 0; i < 10; ++i) {
      const unsigned value = bytes[i];
      char binary[9];
      for (int k = 0; k < 8; ++k) binary[k] = (value >> (7 - k)) & 1 ? '1' : '0';
      binary[8] = '\0';
      char line[64];
      std::snprintf(line, sizeof line, "%d:\t%02Xh\t%s\t%c", i, value, binary,
                    value >= 0x20 && value < 0x7F ? static_cast<char>(value) : '.');
      SendDlgItemMessageA(dialog, list, LB_ADDSTRING, 0, (LPARAM)line);
    }
  }
  SendDlgItemMessageA(dialog, IDC_MAIN_OUTPUT_LIST, LB_SETCURSEL, 0, 0);
  for (int bit = 0; bit < 8; ++bit) {
    CheckDlgButton(dialog, IDC_MAIN_BIT0_CHECK + bit, (0xA5 >> bit) & 1 ? BST_CHECKED : 0);
    ShowWindow(GetDlgItem(dialog, IDC_MAIN_BIT0_CHECK + bit), pushButtons ? SW_HIDE : SW_SHOW);
    ShowWindow(GetDlgItem(dialog, IDC_MAIN_BIT0_BUTTON + bit), pushButtons ? SW_SHOW : SW_HIDE);
  }
  CheckDlgButton(dialog, IDC_MAIN_COMM_ACTIVE, BST_CHECKED);
  CheckDlgButton(dialog, IDC_MAIN_SINGLE_BIT, pushButtons ? BST_CHECKED : 0);
  ShowWindow(GetDlgItem(dialog, IDC_MAIN_LOG), SW_SHOW);
  CheckDlgButton(dialog, IDC_MAIN_LOG, BST_CHECKED);
  // Start and stop.
  const int progress[] = {IDS_PROGRESS_OWN_MAC, IDS_PROGRESS_CONNECTING, IDS_PROGRESS_IDENTITY,
                          IDS_PROGRESS_RELEASING};
  ShowWidestProgress(dialog, IDC_MAIN_PROGRESS, progress, 4);
}

void FillAbout(HWND dialog) {
  SetDlgItemTextA(dialog, IDC_ABOUT_MAKER, "Korvath Feldbus-Werkzeuge");
  SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, "Version 1.7.6.0");
  SetDlgItemTextA(dialog, IDC_ABOUT_NOTICE, "Copyright (C) 2026 Korvath");
}

void FillSearch(HWND dialog) {
  const char* lines[] = {"(0)", "(1)", "5\t125 kBaud\t1 Vendor\t12 Communications Adapter\t77",
                         "(6)", "12\t500 kBaud\tin use by another master"};
  for (const char* line : lines) {
    SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_ADDSTRING, 0, (LPARAM)line);
  }
  SendDlgItemMessageA(dialog, IDC_SEARCH_LIST, LB_SETCURSEL, 2, 0);
  const int progress[] = {IDS_PROGRESS_SETTLE, IDS_PROGRESS_PROBING, IDS_PROGRESS_OWN_MAC,
                          IDS_PROGRESS_READING_NODE};
  ShowWidestProgress(dialog, IDC_SEARCH_PROGRESS, progress, 4);
}

void FillMonitor(HWND dialog) {
  SendDlgItemMessageA(dialog, IDC_MON_LIST, LB_SETCOUNT, 12, 0);
  SetDlgItemTextA(dialog, IDC_MON_FILTER, "63");
  SetDlgItemTextA(dialog, IDC_MON_STATUS,
                  "1118 frames/s, bus load 99 %  |  Bus normal  |  error responses: 0, time-outs: 0");
}

void FillChange(HWND dialog) {
  SetDlgItemTextA(dialog, IDC_CHANGE_OLD_ADDRESS, "63");
  SetDlgItemTextA(dialog, IDC_CHANGE_NEW_ADDRESS, "12");
  const char* bauds[] = {"125 kB", "250 kB", "500 kB"};
  Combo(dialog, IDC_CHANGE_OLD_BAUD, bauds, 3, 0);
  Combo(dialog, IDC_CHANGE_NEW_BAUD, bauds, 3, 2);
  const int progress[] = {IDS_PROGRESS_OWN_MAC,      IDS_PROGRESS_CONNECTING,
                          IDS_PROGRESS_IDENTITY,     IDS_PROGRESS_WRITING_ADDRESS,
                          IDS_PROGRESS_WRITING_BAUD, IDS_PROGRESS_RESTART_WAIT,
                          IDS_PROGRESS_RELEASING,    IDS_PROGRESS_CHECK_ADDRESS,
                          IDS_PROGRESS_CHECK_ADDRESS_AT};
  ShowWidestProgress(dialog, IDC_CHANGE_PROGRESS, progress, 9);
}

void FillAttr(HWND dialog, bool write) {
  SetDlgItemTextA(dialog, IDC_ATTR_CLASS, "1 hex");
  SetDlgItemTextA(dialog, IDC_ATTR_INSTANCE, "1 hex");
  SetDlgItemTextA(dialog, IDC_ATTR_ATTRIBUTE, "7 hex");
  CheckDlgButton(dialog, IDC_ATTR_IDS_HEX, BST_CHECKED);
  CheckDlgButton(dialog, IDC_ATTR_VALUE_HEX, BST_CHECKED);
  CheckDlgButton(dialog, IDC_ATTR_TYPE_SHORT_STRING, BST_CHECKED);
  SetDlgItemTextA(dialog, write ? IDC_ATTR_SEND_VALUE : IDC_ATTR_RESULT,
                  "Simulated I/O Slave 16DI/16DO");
}

bool Shoot(HMODULE library, int id, const std::string& path, int variant) {
  HWND dialog =
      CreateDialogParamA(library, MAKEINTRESOURCEA(id), nullptr, GalleryDlgProc, id == IDD_ABOUT);
  if (!dialog) {
    std::printf("dialog %d: not created (%lu)\n", id, GetLastError());
    return false;
  }
  switch (id) {
    case IDD_MAIN:
      FillMain(dialog, variant == 1);
      break;
    case IDD_ABOUT:
      FillAbout(dialog);
      break;
    case IDD_SEARCH:
      FillSearch(dialog);
      break;
    case IDD_CHANGE:
      FillChange(dialog);
      break;
    case IDD_MONITOR:
      FillMonitor(dialog);
      break;
    case IDD_OWN_MAC:
      CheckRadioButton(dialog, IDC_OWN_MAC_AUTO, IDC_OWN_MAC_FIXED, IDC_OWN_MAC_FIXED);
      SetDlgItemInt(dialog, IDC_OWN_MAC_VALUE, 62, FALSE);
      break;
    default:
      FillAttr(dialog, id == IDD_WRITE_ATTR);
      break;
  }
  SetWindowPos(dialog, HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(dialog);
  UpdateWindow(dialog);
  Pump(300);
  RedrawWindow(dialog, nullptr, nullptr,
               RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Pump(200);
  const bool ok = SaveWindow(dialog, path);
  std::printf("%s %s\n", ok ? "saved" : "FAILED", path.c_str());
  std::fflush(stdout);
  Pump(g_holdMs);
  DestroyWindow(dialog);
  Pump(100);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: dialog_gallery OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  if (argc > 2) g_holdMs = static_cast<DWORD>(std::atoi(argv[2]));
  WNDCLASSA wc = {};
  wc.style = CS_GLOBALCLASS;
  wc.lpfnWndProc = DefDlgProcA;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = MAIN_WINDOW_CLASS;
  RegisterClassA(&wc);

  struct Shot {
    int id;
    int variant;
    const char* name;
  };
  const Shot shots[] = {
      {IDD_MAIN, 0, "main"},
      {IDD_MAIN, 1, "main_single_bit"},
      {IDD_ABOUT, 0, "about"},
      {IDD_SEARCH, 0, "search"},
      {IDD_CHANGE, 0, "change"},
      {IDD_MONITOR, 0, "monitor"},
      {IDD_OWN_MAC, 0, "own_mac"},
      {IDD_READ_ATTR, 0, "read_attribute"},
      {IDD_WRITE_ATTR, 0, "write_attribute"},
  };
  int failures = 0;
  for (const char* name : {"tarnres", "tarnresd"}) {
    HMODULE library = LoadLibraryA((std::string(name) + ".dll").c_str());
    if (!library) {
      std::printf("%s.dll not found\n", name);
      return 1;
    }
    g_icon =
        static_cast<HICON>(LoadImageA(library, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 32, 32, 0));
    for (const Shot& shot : shots) {
      const std::string path = folder + "\\" + name + "_" + shot.name + ".bmp";
      if (!Shoot(library, shot.id, path, shot.variant)) ++failures;
    }
    DestroyIcon(g_icon);
    FreeLibrary(library);
  }
  return failures == 0 ? 0 : 1;
}
