#include <windows.h>

#include "platform/platform.h"

namespace platform {

uint32_t SystemTickMs() { return GetTickCount(); }

void SystemSleep1Ms() { Sleep(1); }

}  // namespace platform
