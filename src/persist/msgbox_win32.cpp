#include <windows.h>

#include "persist/msgbox.h"

namespace persist {

static_assert(BOX_OK == MB_OK && BOX_OKCANCEL == MB_OKCANCEL && BOX_RETRYCANCEL == MB_RETRYCANCEL &&
                  BOX_YESNO == MB_YESNO && BOX_ICONEXCLAMATION == MB_ICONEXCLAMATION &&
                  BOX_ICONQUESTION == MB_ICONQUESTION && BOX_DEFBUTTON2 == MB_DEFBUTTON2,
              "box styles are the Win32 values");
static_assert(BOX_IDOK == IDOK && BOX_IDCANCEL == IDCANCEL && BOX_IDRETRY == IDRETRY &&
                  BOX_IDYES == IDYES && BOX_IDNO == IDNO,
              "box answers are the Win32 values");

int ShowMessageBox(void* owner, const char* text, const char* caption, unsigned style) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

}  // namespace persist
