#include <shlobj.h>
#include <windows.h>

#include <cwchar>

#include "persist/settings.h"
#include "platform/wide_text.h"

namespace persist {

namespace {

// The text as written, not GetPrivateProfileIntA's reading of it, which
// wraps large numbers into small ones. A value that fills the area was cut.
// Section and key names are short ASCII words.
constexpr size_t NAME_SIZE = 32;

bool ReadProfileText(const char* section, const char* key, char* text, size_t size, void* context) {
  text[0] = '\0';
  wchar_t path[platform::WIDE_PATH_SIZE];
  wchar_t wideSection[NAME_SIZE];
  wchar_t wideKey[NAME_SIZE];
  if (!platform::Utf8ToWide(static_cast<const char*>(context), path, platform::WIDE_PATH_SIZE) ||
      !platform::Utf8ToWide(section, wideSection, NAME_SIZE) ||
      !platform::Utf8ToWide(key, wideKey, NAME_SIZE)) {
    return true;  // read as missing: the default stands
  }
  wchar_t wideText[SETTING_TEXT_SIZE];
  const DWORD length = GetPrivateProfileStringW(wideSection, wideKey, L"", wideText,
                                                static_cast<DWORD>(SETTING_TEXT_SIZE), path);
  if (length + 1 >= SETTING_TEXT_SIZE) return false;
  // Text that does not fit as UTF-8 is unreadable, as a too long one is.
  return platform::WideToUtf8(wideText, text, size);
}

void WriteProfileInt(const char* section, const char* key, int value, void* context) {
  WriteSettingInt(section, key, value, static_cast<const char*>(context));
}

}  // namespace

bool GetSettingsPath(char* path) {
  wchar_t wideAppData[MAX_PATH] = L"";
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, wideAppData))) {
    return false;
  }
  char appData[SETTINGS_PATH_SIZE];
  if (!platform::WideToUtf8(wideAppData, appData, sizeof appData)) return false;
  char folder[SETTINGS_PATH_SIZE];
  BuildSettingsPaths(appData, folder, path);
  // Mostly it exists already; when it cannot be made, the profile calls
  // that follow fail and the defaults stand.
  wchar_t wideFolder[platform::WIDE_PATH_SIZE];
  if (platform::Utf8ToWide(folder, wideFolder, platform::WIDE_PATH_SIZE)) {
    CreateDirectoryW(wideFolder, nullptr);
  }
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
  wchar_t text[16];
  std::swprintf(text, 16, L"%d", value);
  wchar_t widePath[platform::WIDE_PATH_SIZE];
  wchar_t wideSection[NAME_SIZE];
  wchar_t wideKey[NAME_SIZE];
  if (!platform::Utf8ToWide(path, widePath, platform::WIDE_PATH_SIZE) ||
      !platform::Utf8ToWide(section, wideSection, NAME_SIZE) ||
      !platform::Utf8ToWide(key, wideKey, NAME_SIZE)) {
    return;
  }
  WritePrivateProfileStringW(wideSection, wideKey, text, widePath);
}

}  // namespace persist
