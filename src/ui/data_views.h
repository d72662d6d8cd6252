// The output and input data views of the main window: list 1006 shows the
// output bytes as the user edits them (OutputEdit), list 1005 the input
// bytes last received; the selected output byte is edited with the bit
// check boxes, the hex field or, in single bit mode, the bit push buttons.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/app_state.h"

namespace ui {

// Forgets what the lists showed (start-up).
void ResetDataViews();

// Refills each list whose record differs from what it shows (both with
// `force`); a changed or forced input goes to the input log too.
void RefreshDataViews(HWND window, app::IoBuffers* io, int force);

// Fills list `listId` from `record`, keeping selection and scroll position.
// 0 when the list could not be measured (left as it was), else 1.
int FillByteList(HWND window, int listId, const app::IoRecord& record);

// Shows `value` in the bit check boxes and the hex field (nothing before
// the main window exists).
void ShowOutputByte(HWND window, uint32_t value);

// The byte made from the bit check boxes, shown again.
uint8_t CollectBits(HWND window);

// Shows, hides, enables and disables the bit controls and the hex field
// for the mode and the selected output byte.
void UpdateBitControls(HWND window);

// Takes the hex field into the selected output byte. 1 when taken, 0 when
// refused: the field then shows the byte again, and a box says what was
// typed, what the field takes and that the byte keeps its value.
int ApplyHexEdit(HWND window);

// Single bit mode: the selected byte has bit n set exactly while push
// button n is held down. Runs for every button redraw of the main window.
void PollSingleBitButtons();

// Copies OutputEdit into the Output record of Io unless the outputs are
// frozen. Run right before every exchange.
void CommitOutputs();

// The output list's selection changed: show the selected byte.
void OnOutputSelChange(HWND window);

// A bit check box was clicked: take the bits into the selected byte.
void OnBitCheckClicked(HWND window);

// The records as the lists show them.
const app::IoRecord& ShownInput();
const app::IoRecord& ShownOutput();

}  // namespace ui
