#include <shlobj.h>
#include <windows.h>

#include <cstdio>

#include "persist/settings.h"

namespace persist {

namespace {

int ReadProfileInt(const char* section, const char* key, int defaultValue, void* context) {
  return static_cast<int>(
      GetPrivateProfileIntA(section, key, defaultValue, static_cast<const char*>(context)));
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
  ReadSettingsWith(ReadProfileInt, path);
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
