#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "module.h"

namespace sim {

bool ModulePath(char* buf, size_t size) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return false;
  if (strlen(info.dli_fname) >= size) return false;
  strcpy(buf, info.dli_fname);
  return true;
}

// The shared library is linked with -z nodelete.
void PinModule() {}

uint32_t ProcessId() {
  return static_cast<uint32_t>(getpid());
}

bool GetProcessVar(const char* name, char* buf, size_t size) {
  const char* v = getenv(name);
  if (!v || strlen(v) >= size) return false;
  strcpy(buf, v);
  return true;
}

void SetProcessVar(const char* name, const char* value) {
  setenv(name, value, 1);
}

void ShowErrorBox(const char*, const char*) {}

}  // namespace sim
