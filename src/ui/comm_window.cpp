#include "ui/comm_window.h"

#include <windows.h>

#include "master/comm_view.h"
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
  master::SetCommView(view);
}

}  // namespace ui
