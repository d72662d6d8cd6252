#include <dlfcn.h>

#include <cstdlib>

#include "library_loader.h"

void* LoadLib(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* LibSymbol(void* lib, const char* name) {
  return dlsym(lib, name);
}
void FreeLib(void* lib) {
  dlclose(lib);
}
void SetEnv(const char* name, const char* value) {
  setenv(name, value, 1);
}
std::string Here(const char* file) {
  return std::string("./") + file;
}
