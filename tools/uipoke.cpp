// uipoke: drives a running Quillon from outside for the demo and screenshot
// scripts, the way a user's clicks would: menu commands, closing a dialog,
// closing the program, and telling where a window is on the screen.
//
//   uipoke wait SECONDS     waits until the main window is shown (exit 1 if not)
//   uipoke command ID       sends menu command ID to the main window
//   uipoke rect main|dialog prints "WIDTH HEIGHT X Y" of the main window or
//                           of the dialog it owns (exit 1 if there is none)
//   uipoke dismiss          closes the dialog the main window owns (Esc)
//   uipoke press ID         presses button ID in the dialog the main window owns
//   uipoke answer ID        presses button ID (IDYES 6, IDNO 7, ...) in the
//                           message box the program shows, whoever owns it
//   uipoke close            closes the main window and waits for it to go
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "resource.h"

namespace {

HWND MainWindow() {
  return FindWindowA(MAIN_WINDOW_CLASS, nullptr);
}

struct OwnedSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindOwned(HWND window, LPARAM param) {
  OwnedSearch* search = reinterpret_cast<OwnedSearch*>(param);
  if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == search->owner) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A message box: a dialog with the static text control every box has.
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;

BOOL CALLBACK FindMessageBox(HWND window, LPARAM param) {
  char name[16] = "";
  GetClassNameA(window, name, sizeof name);
  if (IsWindowVisible(window) && std::strcmp(name, "#32770") == 0 &&
      GetDlgItem(window, MESSAGE_BOX_TEXT_ID)) {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

HWND MessageBoxOf(HWND main) {
  HWND found = nullptr;
  EnumThreadWindows(GetWindowThreadProcessId(main, nullptr), FindMessageBox,
                    reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND OwnedDialog(HWND main) {
  OwnedSearch search{main, nullptr};
  EnumThreadWindows(GetWindowThreadProcessId(main, nullptr), FindOwned,
                    reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Waits up to `ms` for `done`, letting the program work meanwhile.
template <typename Done>
bool WaitFor(DWORD ms, Done done) {
  for (DWORD waited = 0; waited < ms; waited += 100) {
    if (done()) return true;
    Sleep(100);
  }
  return done();
}

int Usage() {
  std::fprintf(stderr,
               "usage: uipoke wait SECONDS | command ID | rect main|dialog | dismiss | press ID | "
               "answer ID | close\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const char* verb = argv[1];
  if (std::strcmp(verb, "wait") == 0 && argc == 3) {
    const DWORD ms = static_cast<DWORD>(std::atoi(argv[2])) * 1000;
    return WaitFor(ms, [] { return MainWindow() && IsWindowVisible(MainWindow()); }) ? 0 : 1;
  }
  HWND main = MainWindow();
  if (!main) {
    std::fprintf(stderr, "uipoke: Quillon is not running\n");
    return 1;
  }
  if (std::strcmp(verb, "command") == 0 && argc == 3) {
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(std::atoi(argv[2]), 0), 0);
    return 0;
  }
  if (std::strcmp(verb, "rect") == 0 && argc == 3) {
    HWND window = std::strcmp(argv[2], "main") == 0 ? main : OwnedDialog(main);
    RECT rect;
    if (!window || !GetWindowRect(window, &rect)) return 1;
    std::printf("%ld %ld %ld %ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left,
                rect.top);
    return 0;
  }
  if (std::strcmp(verb, "dismiss") == 0) {
    HWND dialog = OwnedDialog(main);
    if (!dialog) return 1;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return WaitFor(5000, [dialog] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }) ? 0
                                                                                             : 1;
  }
  if (std::strcmp(verb, "press") == 0 && argc == 3) {
    HWND dialog = OwnedDialog(main);
    if (!dialog) return 1;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(std::atoi(argv[2]), BN_CLICKED), 0);
    return 0;
  }
  if (std::strcmp(verb, "answer") == 0 && argc == 3) {
    HWND box = nullptr;
    if (!WaitFor(5000, [main, &box] { return (box = MessageBoxOf(main)) != nullptr; })) return 1;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(std::atoi(argv[2]), BN_CLICKED), 0);
    return WaitFor(5000, [box] { return !IsWindow(box); }) ? 0 : 1;
  }
  if (std::strcmp(verb, "close") == 0) {
    PostMessageA(main, WM_CLOSE, 0, 0);
    return WaitFor(20000, [] { return MainWindow() == nullptr; }) ? 0 : 1;
  }
  return Usage();
}
