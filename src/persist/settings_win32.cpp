#include <shlobj.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>

#include "persist/settings.h"
#include "platform/wide_text.h"

namespace persist {

namespace {

// Section and key names are short ASCII words.
constexpr size_t NAME_SIZE = 32;

// A key of the file as the wide profile functions take it.
struct WideEntry {
  wchar_t path[platform::WIDE_PATH_SIZE];
  wchar_t section[NAME_SIZE];
  wchar_t key[NAME_SIZE];
};

bool ToWide(const char* path, const char* section, const char* key, WideEntry& entry) {
  return platform::Utf8ToWide(path, entry.path, platform::WIDE_PATH_SIZE) &&
         platform::Utf8ToWide(section, entry.section, NAME_SIZE) &&
         platform::Utf8ToWide(key, entry.key, NAME_SIZE);
}

// The text as written, not GetPrivateProfileIntA's reading of it, which
// wraps large numbers into small ones. A value that fills the area was cut.
bool ReadProfileText(const char* section, const char* key, char* text, size_t size, void* context) {
  text[0] = '\0';
  WideEntry entry;
  // A path or name that cannot be converted reads as missing: the default stands.
  if (!ToWide(static_cast<const char*>(context), section, key, entry)) return true;
  wchar_t wideText[SETTING_TEXT_SIZE];
  const DWORD length = GetPrivateProfileStringW(entry.section, entry.key, L"", wideText,
                                                static_cast<DWORD>(SETTING_TEXT_SIZE), entry.path);
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
  WideEntry entry;
  if (!ToWide(path, section, key, entry)) return;
  wchar_t text[16];
  std::swprintf(text, 16, L"%d", value);
  WritePrivateProfileStringW(entry.section, entry.key, text, entry.path);
}

}  // namespace persist

namespace persist {

bool ReadSettingInt(const char* section, const char* key, int& value, const char* path) {
  char text[SETTING_TEXT_SIZE];
  if (!ReadProfileText(section, key, text, sizeof text, const_cast<char*>(path)) || !text[0]) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || number < INT_MIN || number > INT_MAX) return false;
  value = static_cast<int>(number);
  return true;
}

}  // namespace persist
