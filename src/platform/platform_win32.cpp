#include <windows.h>

#include "platform/platform.h"

namespace platform {

uint32_t SystemTickMs() {
  return GetTickCount();
}

void SystemSleep1Ms() {
  Sleep(1);
}

uint32_t SystemTickUs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const unsigned long long counts = static_cast<unsigned long long>(now.QuadPart);
  const unsigned long long perSecond = static_cast<unsigned long long>(frequency.QuadPart);
  // In two parts, so that the product cannot overflow after weeks of uptime.
  return static_cast<uint32_t>(counts / perSecond * 1000000ull +
                               counts % perSecond * 1000000ull / perSecond);
}

// No timer sleeps less than a scheduler tick here: yield until the time is up.
void SystemPauseUs(uint32_t us) {
  const uint32_t start = SystemTickUs();
  while (SystemTickUs() - start < us) SwitchToThread();
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

void PumpOneNonInputMessage(void (*handler)(void* message)) {
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0,
                   PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
    handler(&msg);
  }
}

}  // namespace platform
