#include <windows.h>

#include <cstring>

#include "module.h"

namespace sim {

namespace {

HMODULE ThisModule() {
  HMODULE h = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ThisModule), &h);
  return h;
}

}  // namespace

bool ModulePath(char* buf, size_t size) {
  HMODULE h = ThisModule();
  if (!h) return false;
  DWORD n = GetModuleFileNameA(h, buf, static_cast<DWORD>(size));
  return n > 0 && n < size;
}

void PinModule() {
  HMODULE h = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&PinModule), &h);
}

uint32_t ProcessId() {
  return GetCurrentProcessId();
}

bool GetProcessVar(const char* name, char* buf, size_t size) {
  DWORD n = GetEnvironmentVariableA(name, buf, static_cast<DWORD>(size));
  return n > 0 && n < size;
}

void SetProcessVar(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
}

void ShowErrorBox(const char* title, const char* text) {
  MessageBoxA(nullptr, text, title, MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

}  // namespace sim
