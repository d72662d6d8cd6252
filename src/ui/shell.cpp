#include "ui/shell.h"

#include <cstdlib>
#include <cstring>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/session.h"
#include "persist/cursor.h"
#include "persist/language.h"
#include "persist/messages.h"
#include "persist/settings.h"
#include "platform/wide_text.h"
#include "resource.h"
#include "ui/attr_dialogs.h"
#include "ui/comm_window.h"
#include "ui/data_views.h"
#include "ui/main_window.h"

namespace ui {

namespace {

using app::g_App;

constexpr const char* NO_RESOURCE_LIBRARY = "Unable to load resource DLL";

// HTML Help, reached through hhctrl.ocx loaded on first use: no import
// library, and a machine without the viewer still runs the program.
constexpr const char* HELP_VIEWER_LIBRARY = "hhctrl.ocx";
constexpr UINT HH_DISPLAY_TOPIC = 0x0000;
constexpr UINT HH_CLOSE_ALL = 0x0012;
using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
HMODULE helpViewer;
HtmlHelpFn htmlHelp;

HWND MainWindow() {
  return static_cast<HWND>(g_App.hMainWnd);
}

bool LoadHelpViewer() {
  if (htmlHelp) return true;
  if (!helpViewer) helpViewer = LoadLibraryA(HELP_VIEWER_LIBRARY);
  if (!helpViewer) return false;
  htmlHelp = reinterpret_cast<HtmlHelpFn>(
      reinterpret_cast<void*>(GetProcAddress(helpViewer, "HtmlHelpW")));
  return htmlHelp != nullptr;
}

// The dialog template names the class; it must exist before the dialog is
// created. Global, because the template lives in the resource library.
bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_GLOBALCLASS | CS_DBLCLKS;
  wc.lpfnWndProc = DefDlgProcA;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = MAIN_WINDOW_CLASS;
  return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

int FailStartup(unsigned id, const char* text) {
  persist::ShowMsg(nullptr, text, id);
  ReleaseResources();
  return 0;
}

int OutOfMemory() {
  return FailStartup(IDS_OUT_OF_MEMORY, nullptr);
}

void CarryOutExit() {
  HWND main = MainWindow();
  CloseAttrDialogs();
  master::CommStop(main);
  persist::SaveSettings();
  DestroyWindow(main);
  g_App.PendingCommand = app::CMD_NONE;
}

void CarryOutStop() {
  HWND main = MainWindow();
  TakeAddressField(main);
  void* previous = persist::ShowWaitCursor();
  master::CommStop(main);
  persist::RestoreCursor(previous);
  g_App.PendingCommand = app::CMD_NONE;
}

void RunPendingCommand() {
  switch (g_App.PendingCommand) {
    case app::CMD_EXIT:
      CarryOutExit();
      break;
    case app::CMD_STOP_COMM:
      CarryOutStop();
      break;
    case app::CMD_OPEN_READ_ATTR:
      g_App.PendingCommand = app::CMD_NONE;
      OpenReadAttrDialog(MainWindow());
      break;
    case app::CMD_OPEN_WRITE_ATTR:
      g_App.PendingCommand = app::CMD_NONE;
      OpenWriteAttrDialog(MainWindow());
      break;
    default:
      break;
  }
}

int OpenAttrDialog(HWND owner, int templateId, DLGPROC procedure, app::WindowHandle& handle) {
  if (handle) return 1;
  CloseAttrDialogs();
  HWND dialog = CreateDialogParamA(static_cast<HINSTANCE>(g_App.hResDll),
                                   MAKEINTRESOURCEA(templateId), owner, procedure, 0);
  handle = dialog;
  return dialog ? 1 : 0;
}

}  // namespace

bool BringRunningInstanceForward() {
  HWND running = FindWindowA(MAIN_WINDOW_CLASS, nullptr);
  if (!running) return false;
  HWND popup = GetLastActivePopup(running);
  SetForegroundWindow(running);
  if (popup && popup != running) BringWindowToTop(popup);
  return true;
}

int InitInstance(HINSTANCE instance, int showState) {
  app::InitAppState(instance);
  ResetDataViews();

  g_App.LangGerman = persist::ReadLangGerman() ? 1 : 0;

  g_App.hResDll =
      LoadLibraryA(g_App.LangGerman ? persist::GERMAN_LIBRARY : persist::ENGLISH_LIBRARY);
  if (!g_App.hResDll) return FailStartup(0, NO_RESOURCE_LIBRARY);

  devicenet::ClearSendHook();
  devicenet::SetSendHook(devicenet::SendFrame);
  devicenet::InitNodeTable(devicenet::g_NodeTable);
  RegisterCommView();

  g_App.Io = static_cast<app::IoBuffers*>(std::calloc(1, sizeof(app::IoBuffers)));
  if (!g_App.Io) return OutOfMemory();

  if (!persist::BuildHelpPathOf(instance, g_App.LangGerman != 0, g_App.HelpFile)) {
    return OutOfMemory();
  }

  HINSTANCE resources = static_cast<HINSTANCE>(g_App.hResDll);
  g_App.hAccelEdit = LoadAcceleratorsA(resources, MAKEINTRESOURCEA(IDR_ACCEL_EDIT));
  if (!g_App.hAccelEdit) return OutOfMemory();
  g_App.hAccelMain = LoadAcceleratorsA(resources, MAKEINTRESOURCEA(IDR_ACCEL_MAIN));
  if (!g_App.hAccelMain) return OutOfMemory();

  // A missing icon only leaves the About box and the title bar without one.
  g_App.hAppIcon =
      LoadImageA(resources, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);

  if (!RegisterMainWindowClass(instance)) return OutOfMemory();
  HWND main = CreateDialogParamA(resources, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlgProc, 0);
  if (!main) return OutOfMemory();
  g_App.hMainWnd = main;
  if (g_App.hAppIcon) {
    SendMessageA(main, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_App.hAppIcon));
    SendMessageA(main, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_App.hAppIcon));
  }
  ShowWindow(main, showState);
  return 1;
}

namespace {

bool IsCyclicTimer(const MSG& msg) {
  return msg.message == WM_TIMER && msg.hwnd && msg.hwnd == MainWindow() &&
         msg.wParam == CYCLIC_TIMER_ID;
}

// A message the modal loop must see waits. A due timer counts too: the
// loop's own timers (and ours, which brings the steps back at once) must run.
bool MessageWaiting() {
  return HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0;
}

}  // namespace

void RunCyclicInModalLoop() {
  static bool running = false;
  if (running || !g_App.MainReady || g_App.OperationBusy || g_App.TxWaitDepth ||
      g_App.StepRunning || g_App.CyclicBusy) {
    return;
  }
  running = true;
  if (g_App.CommActive == 1) {
    while (master::CyclicStep(g_App.hMainWnd) && g_App.CommActive == 1 && !MessageWaiting()) {
    }
  } else {
    master::ServiceIdleBus();
  }
  running = false;
}

int RunMessageLoop() {
  MSG msg{};
  for (;;) {
    if (g_App.CommActive == 1) {
      // Communication runs: every waiting message first, then one exchange.
      if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) break;
        // This loop runs the exchange itself when its queue is empty.
        if (IsCyclicTimer(msg)) continue;
        ProcessMessage(&msg);
      } else {
        IdleStep();
      }
    } else {
      const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      if (got == 0 || got == -1) break;
      if (IsCyclicTimer(msg)) {
        // Between operations the open adapter still answers for our MAC ID.
        master::ServiceIdleBus();
        continue;
      }
      ProcessMessage(&msg);
      IdleStep();
    }
  }
  return static_cast<int>(msg.wParam);
}

namespace {

// Windows made from a dialog template carry the dialog class.
bool IsDialogWindow(HWND window) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  return std::strcmp(name, "#32770") == 0;
}

}  // namespace

void ProcessMessage(void* message) {
  MSG* msg = static_cast<MSG*>(message);
  HWND main = MainWindow();
  HWND hexField = main ? GetDlgItem(main, IDC_MAIN_HEX) : nullptr;
  if (hexField && GetFocus() == hexField &&
      TranslateAcceleratorA(main, static_cast<HACCEL>(g_App.hAccelEdit), msg)) {
    return;
  }
  // F1 works wherever the focus is, the attribute dialogs included.
  if (main && TranslateAcceleratorA(main, static_cast<HACCEL>(g_App.hAccelMain), msg)) return;
  if (g_App.hReadAttrDlg && IsDialogMessageA(static_cast<HWND>(g_App.hReadAttrDlg), msg)) return;
  if (g_App.hWriteAttrDlg && IsDialogMessageA(static_cast<HWND>(g_App.hWriteAttrDlg), msg)) {
    return;
  }
  // A modal dialog whose work pumps through here (the search's scan) gets
  // its keys too, so that Esc and Enter stop the scan as a click does.
  HWND root = msg->hwnd ? GetAncestor(msg->hwnd, GA_ROOT) : nullptr;
  if (root && root != main && IsDialogWindow(root) && IsDialogMessageA(root, msg)) return;
  if (main && IsDialogMessageA(main, msg)) return;
  TranslateMessage(msg);
  DispatchMessageA(msg);
}

int IdleStep() {
  if (!g_App.MainReady) return 0;
  // Nothing that tears down a running exchange may run inside it.
  if (!g_App.CyclicBusy) RunPendingCommand();
  master::CyclicStep(g_App.hMainWnd);
  return 1;
}

int ReleaseResources() {
  if (g_App.hResDll) {
    FreeLibrary(static_cast<HMODULE>(g_App.hResDll));
    g_App.hResDll = nullptr;
  }
  std::free(g_App.Io);
  g_App.Io = nullptr;
  if (g_App.hAppIcon) {
    DestroyIcon(static_cast<HICON>(g_App.hAppIcon));
    g_App.hAppIcon = nullptr;
  }
  can::UnloadDriverLibrary();
  // The help viewer, if it was ever opened; its windows closed with the
  // main window.
  if (helpViewer) {
    FreeLibrary(helpViewer);
    helpViewer = nullptr;
    htmlHelp = nullptr;
  }
  return 1;
}

int CloseAttrDialogs() {
  if (g_App.hReadAttrDlg) DestroyWindow(static_cast<HWND>(g_App.hReadAttrDlg));
  if (g_App.hWriteAttrDlg) DestroyWindow(static_cast<HWND>(g_App.hWriteAttrDlg));
  return 1;
}

int OpenReadAttrDialog(HWND owner) {
  return OpenAttrDialog(owner, IDD_READ_ATTR, ReadAttrDlgProc, g_App.hReadAttrDlg);
}

int OpenWriteAttrDialog(HWND owner) {
  return OpenAttrDialog(owner, IDD_WRITE_ATTR, WriteAttrDlgProc, g_App.hWriteAttrDlg);
}

void CenterOnScreen(HWND window) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  MoveWindow(window, x, y, width, height, TRUE);
}

void CenterOverOwner(HWND owner, HWND dialog, bool nearTop) {
  RECT ownerRect;
  RECT dialogRect;
  if (!GetWindowRect(owner, &ownerRect) || !GetWindowRect(dialog, &dialogRect)) return;
  const int width = dialogRect.right - dialogRect.left;
  const int height = dialogRect.bottom - dialogRect.top;
  const int x = (ownerRect.left + ownerRect.right - width) / 2;
  int y = (ownerRect.top + ownerRect.bottom - height) / 2;
  if (nearTop) y += (height - (ownerRect.bottom - ownerRect.top)) / 2 + 50;
  MoveWindow(dialog, x, y, width, height, TRUE);
}

void ShowHelp() {
  // The viewer reports a missing file in a box of its own; without the
  // file there is simply no help.
  wchar_t helpFile[platform::WIDE_PATH_SIZE];
  if (!platform::Utf8ToWide(g_App.HelpFile, helpFile, platform::WIDE_PATH_SIZE)) return;
  if (GetFileAttributesW(helpFile) == INVALID_FILE_ATTRIBUTES) return;
  if (!LoadHelpViewer()) return;
  htmlHelp(GetDesktopWindow(), helpFile, HH_DISPLAY_TOPIC, 0);
}

void CloseHelpWindows() {
  if (htmlHelp) htmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
}

int ProgramMain(HINSTANCE instance, int showState) {
  if (BringRunningInstanceForward()) return 0;
  // Every transaction waits in 1 ms sleeps; at the default timer resolution
  // (about 15.6 ms) each would take fifteen times longer.
  timeBeginPeriod(1);
  int exitCode = 0;
  if (InitInstance(instance, showState)) {
    exitCode = RunMessageLoop();
    ReleaseResources();
  }
  timeEndPeriod(1);
  return exitCode;
}

}  // namespace ui
