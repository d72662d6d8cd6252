#include <windows.h>

#include "platform/platform.h"
#include "platform/wide_text.h"

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

bool Utf8ToWide(const char* text, wchar_t* out, size_t outSize) {
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out,
                                        static_cast<int>(outSize));
  if (units > 0) return true;
  if (outSize > 0) out[0] = L'\0';
  return false;
}

bool WideToUtf8(const wchar_t* text, char* out, size_t outSize) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, static_cast<int>(outSize),
                                        nullptr, nullptr);
  if (bytes > 0) return true;
  if (outSize > 0) out[0] = '\0';
  return false;
}

std::FILE* OpenFile(const char* path, const char* mode) {
  wchar_t widePath[WIDE_PATH_SIZE];
  wchar_t wideMode[8];
  if (!Utf8ToWide(path, widePath, WIDE_PATH_SIZE) || !Utf8ToWide(mode, wideMode, 8)) {
    return nullptr;
  }
  return _wfopen(widePath, wideMode);
}

void* LoadLibraryFile(const char* fileName) {
  wchar_t wideName[WIDE_PATH_SIZE];
  if (!Utf8ToWide(fileName, wideName, WIDE_PATH_SIZE)) return nullptr;
  return reinterpret_cast<void*>(LoadLibraryW(wideName));
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
