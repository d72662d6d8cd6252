// What communication start, stop and the cyclic step change in the main
// window besides control texts: the two check boxes, the data views, the
// bit controls and the enable state, and the message handler that waiting
// transactions pump once communication runs. The window side registers its
// functions here at start-up; until then (and in the native build) each
// entry keeps a portable default that changes only AppState.
#pragma once

#include <cstdint>

#include "app/app_state.h"

namespace master {

struct CommView {
  // Set AppState CommActive / FreezeOutputs and the check box that shows it.
  void (*SetCommActive)(void* window, int value);
  void (*SetFreezeOutputs)(void* window, int value);
  // Copies OutputEdit into Io's Output record unless the outputs are frozen.
  void (*CommitOutputs)();
  // Redraws the lists whose record changed (both with `force`); a changed
  // input goes to the input log.
  void (*RefreshDataViews)(void* window, app::IoBuffers* io, int force);
  // Shows `value` in the bit controls and the hex field.
  void (*ShowOutputByte)(void* window, uint32_t value);
  // Applies the enable rules of the communication state.
  void (*UpdateControlStates)(void* window);
  // Installed as PumpHook once communication runs and while a long
  // operation waits; null keeps it unset.
  app::PumpHookFn ProcessMessage;
  // Shows what a long operation started from `window` (the main window or
  // the dialog it runs from) is doing; an empty text clears it.
  void (*ShowProgress)(void* window, const char* text);
};

// Installs the window side; a null entry keeps the portable default.
void SetCommView(const CommView& view);

// Back to the portable defaults: the fields of AppState only, a commit that
// copies as CommitOutputs does, no pump hook.
void ResetCommView();

// The entries in use.
const CommView& TheCommView();

// While set, every progress text shown through TheCommView is put into the
// format `stringId` (its first %s `argument`, its second the text), so that
// whatever part of an operation speaks says where it is (the rate a search
// at several rates is at). 0 shows the texts as they come; an empty text
// (clearing) is never put into the format.
void SetProgressContext(unsigned stringId, const char* argument);

}  // namespace master
