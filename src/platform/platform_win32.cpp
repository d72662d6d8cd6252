#include <windows.h>

#include "platform/platform.h"

namespace platform {

uint32_t SystemTickMs() {
  return GetTickCount();
}

void SystemSleep1Ms() {
  Sleep(1);
}

void* LoadLibraryFile(const char* fileName) {
  return reinterpret_cast<void*>(LoadLibraryA(fileName));
}

void* ResolveEntry(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibraryFile(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

void PumpOneMessage(void (*handler)(void* message)) {
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) handler(&msg);
}

}  // namespace platform
