#include <windows.h>

#include "app/app_state.h"
#include "persist/resstring.h"

namespace persist {

int LoadResString(unsigned id, char* buffer, int size) {
  if (size <= 0) return 0;
  buffer[0] = '\0';
  int length = LoadStringA(static_cast<HINSTANCE>(app::g_App.hResDll), id, buffer, size);
  if (length <= 0) {
    buffer[0] = '\0';
    return 0;
  }
  return length;
}

}  // namespace persist
