#include "ui/comm_window.h"

#include <windows.h>

#include "app/app_state.h"
#include "master/comm_view.h"
#include "resource.h"
#include "ui/data_views.h"
#include "ui/main_window.h"
#include "ui/shell.h"

namespace ui {

namespace {

HWND Window(void* window) {
  return static_cast<HWND>(window);
}

void CommActiveBox(void* window, int value) {
  SetCommActive(Window(window), value);
}

void FreezeBox(void* window, int value) {
  SetFreezeOutputs(Window(window), value);
}

void DataViews(void* window, app::IoBuffers* io, int force) {
  RefreshDataViews(Window(window), io, force);
}

void OutputByte(void* window, uint32_t value) {
  ShowOutputByte(Window(window), value);
}

void ControlStates(void* window) {
  UpdateControlStates(Window(window));
}

// The progress line of the window an operation runs from: the main window,
// the search dialog or the change dialog.
void Progress(void* window, const char* text) {
  HWND hwnd = Window(window);
  if (!hwnd) return;
  int id = IDC_CHANGE_PROGRESS;
  if (hwnd == static_cast<HWND>(app::g_App.hMainWnd)) {
    id = IDC_MAIN_PROGRESS;
  } else if (GetDlgItem(hwnd, IDC_SEARCH_LIST)) {
    id = IDC_SEARCH_PROGRESS;
  }
  HWND line = GetDlgItem(hwnd, id);
  if (!line) return;
  SetWindowTextA(line, text);
  // The operation waits in a loop of its own: draw the text now.
  UpdateWindow(line);
}

}  // namespace

void RegisterCommView() {
  master::CommView view{};
  view.SetCommActive = CommActiveBox;
  view.SetFreezeOutputs = FreezeBox;
  view.CommitOutputs = CommitOutputs;
  view.RefreshDataViews = DataViews;
  view.ShowOutputByte = OutputByte;
  view.UpdateControlStates = ControlStates;
  view.ProcessMessage = ProcessMessage;
  view.ShowProgress = Progress;
  master::SetCommView(view);
}

}  // namespace ui
