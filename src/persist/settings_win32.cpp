#include <shlobj.h>
#include <windows.h>

#include <cstdio>

#include "persist/settings.h"

namespace persist {

namespace {

// The text as written, not GetPrivateProfileIntA's reading of it, which
// wraps large numbers into small ones. A value that fills the area was cut.
bool ReadProfileText(const char* section, const char* key, char* text, size_t size, void* context) {
  const DWORD length = GetPrivateProfileStringA(section, key, "", text, static_cast<DWORD>(size),
                                                static_cast<const char*>(context));
  return length + 1 < size;
}

void WriteProfileInt(const char* section, const char* key, int value, void* context) {
  WriteSettingInt(section, key, value, static_cast<const char*>(context));
}

}  // namespace

bool GetSettingsPath(char* path) {
  char appData[MAX_PATH] = "";
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) {
    return false;
  }
  char folder[SETTINGS_PATH_SIZE];
  BuildSettingsPaths(appData, folder, path);
  // Mostly it exists already; when it cannot be made, the profile calls
  // that follow fail and the defaults stand.
  CreateDirectoryA(folder, nullptr);
  return true;
}

int LoadSettings() {
  char path[SETTINGS_PATH_SIZE];
  if (!GetSettingsPath(path)) return 0;
  ReadSettingsWith(ReadProfileText, path);
  return 1;
}

int SaveSettings() {
  char path[SETTINGS_PATH_SIZE];
  if (!GetSettingsPath(path)) return 0;
  WriteSettingsWith(WriteProfileInt, path);
  return 1;
}

void WriteSettingInt(const char* section, const char* key, int value, const char* path) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  WritePrivateProfileStringA(section, key, text, path);
}

}  // namespace persist
