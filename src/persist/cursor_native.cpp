#include "persist/cursor.h"
#include "persist/cursor_record.h"

namespace persist {

namespace {
int shown;
}

void* ShowWaitCursor() {
  ++shown;
  return nullptr;
}

void RestoreCursor(void*) {
  --shown;
}

int WaitCursorsShown() {
  return shown;
}

}  // namespace persist
