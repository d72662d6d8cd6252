#include "ui/about_box.h"

#include "app/app_state.h"
#include "resource.h"
#include "ui/maker_text.h"
#include "ui/shell.h"

namespace ui {

namespace {

using app::g_App;

BOOL OnInitDialog(HWND box) {
  char text[MAKER_TEXT_SIZE];
  MakerLine(text, sizeof text);
  SetDlgItemTextA(box, IDC_ABOUT_MAKER, text);
  NoticeLine(text, sizeof text);
  SetDlgItemTextA(box, IDC_ABOUT_NOTICE, text);
  SetDlgItemTextA(box, IDC_ABOUT_VERSION, VERSION_TEXT);
  HWND owner = g_App.hMainWnd ? static_cast<HWND>(g_App.hMainWnd) : GetWindow(box, GW_OWNER);
  if (owner) CenterOverOwner(owner, box, false);
  return TRUE;
}

BOOL OnPaint(HWND box) {
  if (!g_App.hAppIcon) return FALSE;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(box, &paint);
  if (!dc) return FALSE;
  const POINT at = AboutIconPosition(box);
  DrawIcon(dc, at.x, at.y, static_cast<HICON>(g_App.hAppIcon));
  EndPaint(box, &paint);
  return TRUE;
}

}  // namespace

POINT AboutIconPosition(HWND box) {
  RECT window;
  RECT client;
  RECT placeholder;
  GetWindowRect(box, &window);
  GetClientRect(box, &client);
  GetWindowRect(GetDlgItem(box, IDC_ABOUT_ICON), &placeholder);
  const int frameWidth = (window.right - window.left) - (client.right - client.left);
  const int frameHeight = (window.bottom - window.top) - (client.bottom - client.top);
  POINT at;
  at.x = placeholder.left - window.left - frameWidth / 2;
  at.y = placeholder.top - window.top - frameHeight / 2;
  return at;
}

INT_PTR CALLBACK AboutDlgProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(box);
    case WM_PAINT:
      return OnPaint(box);
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(box, 1);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace ui
