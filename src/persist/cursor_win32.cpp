#include <windows.h>

#include "persist/cursor.h"

namespace persist {

void* ShowWaitCursor() {
  return SetCursor(LoadCursor(nullptr, IDC_WAIT));
}

void RestoreCursor(void* previous) {
  SetCursor(static_cast<HCURSOR>(previous));
}

}  // namespace persist
