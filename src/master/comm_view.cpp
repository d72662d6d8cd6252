#include "master/comm_view.h"

namespace master {

namespace {

using app::g_App;

void StateCommActive(void*, int value) {
  g_App.CommActive = value;
}

void StateFreezeOutputs(void*, int value) {
  g_App.FreezeOutputs = value;
}

void CopyOutputs() {
  if (g_App.FreezeOutputs || !g_App.Io) return;
  g_App.Io->Output = g_App.OutputEdit;
}

void NoViews(void*, app::IoBuffers*, int) {}

void NoOutputByte(void*, uint32_t) {}

void NoControls(void*) {}

void NoProgress(void*, const char*) {}

const CommView DEFAULT_VIEW = {StateCommActive, StateFreezeOutputs, CopyOutputs, NoViews,
                               NoOutputByte,    NoControls,         nullptr,     NoProgress};

CommView current = DEFAULT_VIEW;

template <typename Fn>
void Take(Fn& entry, Fn given) {
  if (given) entry = given;
}

}  // namespace

void SetCommView(const CommView& view) {
  current = DEFAULT_VIEW;
  Take(current.SetCommActive, view.SetCommActive);
  Take(current.SetFreezeOutputs, view.SetFreezeOutputs);
  Take(current.CommitOutputs, view.CommitOutputs);
  Take(current.RefreshDataViews, view.RefreshDataViews);
  Take(current.ShowOutputByte, view.ShowOutputByte);
  Take(current.UpdateControlStates, view.UpdateControlStates);
  Take(current.ShowProgress, view.ShowProgress);
  current.ProcessMessage = view.ProcessMessage;
}

void ResetCommView() {
  current = DEFAULT_VIEW;
}

const CommView& TheCommView() {
  return current;
}

}  // namespace master
