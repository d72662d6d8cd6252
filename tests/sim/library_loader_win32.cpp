#include <windows.h>

#include "library_loader.h"

void* LoadLib(const std::string& path) {
  return LoadLibraryA(path.c_str());
}
void* LibSymbol(void* lib, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}
void FreeLib(void* lib) {
  FreeLibrary(static_cast<HMODULE>(lib));
}
void SetEnv(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
}
std::string Here(const char* file) {
  return std::string(".\\") + file;
}
