#include "ui_test_support.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/app_state.h"
#include "persist/language.h"
#include "persist/resstring.h"
#include "persist/settings.h"
#include "ui/shell.h"

namespace uitest {

std::string SettingsPath() {
  char path[persist::SETTINGS_PATH_SIZE] = "";
  persist::GetSettingsPath(path);
  return path;
}

void WriteSettingsFile(const std::string& text) {
  const std::string path = SettingsPath();
  DeleteFileA(path.c_str());
  if (text.empty()) return;
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void SetLangValue(DWORD type, const void* data, DWORD size) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, persist::LANG_KEY);
  if (type == 0) return;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, persist::LANG_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, persist::LANG_VALUE, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }
}

bool PumpMessages() {
  bool quit = false;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit = true;
      continue;
    }
    ui::ProcessMessage(&msg);
    ui::IdleStep();
  }
  return quit;
}

int ExitProgram() {
  int code = 0;
  if (app::g_App.hMainWnd) {
    PostMessageA(static_cast<HWND>(app::g_App.hMainWnd), WM_CLOSE, 0, 0);
    app::g_App.CyclicBusy = 0;
    code = ui::RunMessageLoop();
  }
  PumpMessages();
  ui::ReleaseResources();
  return code;
}

namespace {

struct DialogAnswer {
  int button;
  InspectFn inspect;
  void* context;
  int seen;
  HWND last;
};
DialogAnswer answer;

LRESULT CALLBACK AnswerHook(int code, WPARAM wParam, LPARAM lParam) {
  HWND dialog = reinterpret_cast<HWND>(wParam);
  char className[32] = "";
  if (code == HCBT_ACTIVATE && dialog != answer.last &&
      GetClassNameA(dialog, className, sizeof className) && lstrcmpA(className, "#32770") == 0) {
    answer.last = dialog;
    answer.seen++;
    if (answer.inspect) answer.inspect(dialog, answer.context);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(answer.button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, answer.button)));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int WithAnsweredDialog(int button, InspectFn inspect, void* context, void (*open)(void*),
                       void* openContext) {
  answer = DialogAnswer{button, inspect, context, 0, nullptr};
  HHOOK hook = SetWindowsHookExA(WH_CBT, AnswerHook, nullptr, GetCurrentThreadId());
  open(openContext);
  if (hook) UnhookWindowsHookEx(hook);
  return answer.seen;
}

RECT ControlRect(HWND dialog, int id) {
  RECT rect{};
  HWND control = GetDlgItem(dialog, id);
  if (!control) return rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

RECT DialogUnits(HWND dialog, int x, int y, int width, int height) {
  // Place and size are converted apart, as dialog creation does.
  RECT units{x, y, width, height};
  MapDialogRect(dialog, &units);
  return RECT{units.left, units.top, units.left + units.right, units.top + units.bottom};
}

std::string ControlText(HWND dialog, int id) {
  char text[1024] = "";
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

std::string ListLine(HWND dialog, int listId, int line) {
  char text[256] = "";
  SendDlgItemMessageA(dialog, listId, LB_GETTEXT, static_cast<WPARAM>(line),
                      reinterpret_cast<LPARAM>(text));
  return text;
}

int ListCount(HWND dialog, int listId) {
  return static_cast<int>(SendDlgItemMessageA(dialog, listId, LB_GETCOUNT, 0, 0));
}

namespace {

BOOL CALLBACK CollectStatic(HWND child, LPARAM param) {
  char className[32] = "";
  char text[4000] = "";
  if (GetClassNameA(child, className, sizeof className) && lstrcmpiA(className, "Static") == 0 &&
      GetWindowTextA(child, text, sizeof text) > 0) {
    *reinterpret_cast<std::string*>(param) += text;
  }
  return TRUE;
}

}  // namespace

std::string StaticTexts(HWND window) {
  std::string texts;
  EnumChildWindows(window, CollectStatic, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

std::string StringOf(unsigned id) {
  char text[1000] = "";
  persist::LoadResString(id, text, sizeof text);
  return text;
}

void PostCommand(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace uitest
