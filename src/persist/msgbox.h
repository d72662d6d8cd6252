// The message box seam. On Windows a real message box (MessageBoxA); in the
// native build the box is recorded and a scripted answer returned (see
// native_seams.h).
#pragma once

namespace persist {

// Message box styles, the values of the Win32 MB_* flags.
constexpr unsigned BOX_OK = 0x00;               // OK button only
constexpr unsigned BOX_OKCANCEL = 0x01;         // OK and Cancel
constexpr unsigned BOX_YESNO = 0x04;            // Yes and No
constexpr unsigned BOX_RETRYCANCEL = 0x05;      // Retry and Cancel
constexpr unsigned BOX_ICONQUESTION = 0x20;     // question mark icon
constexpr unsigned BOX_ICONEXCLAMATION = 0x30;  // exclamation icon
constexpr unsigned BOX_DEFBUTTON2 = 0x100;      // the second button is the default
constexpr unsigned BOX_BUTTONS_MASK = 0x0F;     // bits that choose the buttons

// Answers: the button the user pressed, the values of the Win32 ID* results.
constexpr int BOX_IDOK = 1;
constexpr int BOX_IDCANCEL = 2;
constexpr int BOX_IDRETRY = 4;
constexpr int BOX_IDYES = 6;
constexpr int BOX_IDNO = 7;

// Shows a modal message box owned by `owner` (which may be null) and
// returns the button pressed.
int ShowMessageBox(void* owner, const char* text, const char* caption, unsigned style);

}  // namespace persist
