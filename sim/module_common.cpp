#include <cctype>
#include <cstring>

#include "module.h"

namespace sim {

namespace {

constexpr const char* LPT_DRIVER_NAME = "pcan_dng.dll";

}  // namespace

bool ModuleFileName(char* buf, size_t size) {
  char path[1024];
  if (!ModulePath(path, sizeof path)) return false;
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  if (strlen(base) >= size) return false;
  strcpy(buf, base);
  return true;
}

bool LoadedAsLptDriver() {
  char base[1024];
  if (!ModuleFileName(base, sizeof base)) return false;
  size_t n = strlen(LPT_DRIVER_NAME);
  if (strlen(base) != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (tolower(static_cast<unsigned char>(base[i])) != LPT_DRIVER_NAME[i]) return false;
  }
  return true;
}

}  // namespace sim
