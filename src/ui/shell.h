// The program's frame: single instance, start-up, the one message loop with
// its idle step and deferred commands, and the release of everything at
// exit. Also the placement helpers and the help viewer that every window
// uses.
#pragma once

#include <windows.h>

namespace ui {

// The whole program: 0 when another copy runs or start-up fails, else the
// exit code of the quit message.
int ProgramMain(HINSTANCE instance, int showState);

// Finds a running main window by its class; when there is one, brings it
// (and its last active pop-up) to the front and returns true.
bool BringRunningInstanceForward();

// Start-up in its fixed order. 1 on success; 0 after reporting the failure
// and releasing what was acquired.
int InitInstance(HINSTANCE instance, int showState);

// Runs the loop until WM_QUIT; returns the quit message's wParam.
int RunMessageLoop();

// Hands one removed message to the accelerators, the modeless dialogs and
// the main dialog, else translates and dispatches it. The waiting
// transactions' pump hook (app::PumpHookFn).
void ProcessMessage(void* message);

// Carries out PendingCommand (unless CyclicBusy) and one cyclic step.
// 0 while the main window is not ready, else 1.
int IdleStep();

// The cyclic timer's and WM_ENTERIDLE's work while a menu, a box, a dialog
// or a window move runs its own message loop: cyclic steps until a message
// waits (while communication runs), else one idle tick of the open adapter.
// Never inside a step, a waiting transaction or a long operation.
void RunCyclicInModalLoop();

// Frees what InitInstance acquired; safe at any point of a failed start.
// Returns 1.
int ReleaseResources();

// Destroys the attribute dialogs that are open. Returns 1.
int CloseAttrDialogs();

// Opens the modeless Read Attribute / Write Attribute dialog owned by
// `owner`, closing the other one first; an open one is left as it is.
// 1 when the dialog exists afterwards.
int OpenReadAttrDialog(HWND owner);
int OpenWriteAttrDialog(HWND owner);

// Moves `window` to the middle of the screen, keeping its size.
void CenterOnScreen(HWND window);

// Centres `dialog` over `owner`; with `nearTop` its top goes about 50
// pixels below the owner's top instead.
void CenterOverOwner(HWND owner, HWND dialog, bool nearTop);

// Opens the help file (AppState HelpFile) in the HTML Help viewer. A
// missing file or viewer does nothing.
void ShowHelp();

// Closes every help window this program opened.
void CloseHelpWindows();

}  // namespace ui
