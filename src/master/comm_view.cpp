#include "master/comm_view.h"

#include <cstdio>

#include "persist/messages.h"

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

constexpr size_t CONTEXT_ARGUMENT_SIZE = 64;
constexpr size_t PROGRESS_TEXT_SIZE = 300;

// The window's own progress line; `current` shows through ContextProgress.
void (*windowProgress)(void*, const char*) = NoProgress;
unsigned contextStringId = 0;
char contextArgument[CONTEXT_ARGUMENT_SIZE];

void ContextProgress(void* window, const char* text) {
  char framed[PROGRESS_TEXT_SIZE];
  if (contextStringId != 0 && text && text[0] &&
      persist::FormatResString(contextStringId, contextArgument, text, nullptr, framed,
                               sizeof framed) > 0) {
    windowProgress(window, framed);
    return;
  }
  windowProgress(window, text);
}

CommView WithContext(const CommView& view) {
  CommView framed = view;
  framed.ShowProgress = ContextProgress;
  return framed;
}

CommView current = WithContext(DEFAULT_VIEW);

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
  current.ProcessMessage = view.ProcessMessage;
  // A view copied from TheCommView brings the framing function back.
  if (view.ShowProgress != ContextProgress) {
    windowProgress = view.ShowProgress ? view.ShowProgress : NoProgress;
  }
  current = WithContext(current);
}

void ResetCommView() {
  windowProgress = NoProgress;
  contextStringId = 0;
  current = WithContext(DEFAULT_VIEW);
}

void SetProgressContext(unsigned stringId, const char* argument) {
  contextStringId = stringId;
  std::snprintf(contextArgument, sizeof contextArgument, "%s", argument ? argument : "");
}

const CommView& TheCommView() {
  return current;
}

}  // namespace master
