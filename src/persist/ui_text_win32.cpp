#include <windows.h>

#include "persist/ui_text.h"

namespace persist {

void SetControlText(void* window, int controlId, const char* text) {
  SetDlgItemTextA(static_cast<HWND>(window), controlId, text);
}

}  // namespace persist
