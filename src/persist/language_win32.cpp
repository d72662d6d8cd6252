#include <windows.h>

#include "persist/language.h"
#include "platform/wide_text.h"

namespace persist {

static_assert(LANG_TYPE_SZ == REG_SZ, "the registry's string type");

bool ReadLangGerman() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, LANG_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  char data[LANG_VALUE_SIZE] = "";
  DWORD type = 0;
  DWORD size = sizeof data;
  const bool read = RegQueryValueExA(key, LANG_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                     &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return read && IsGermanLangValue(type, data, size);
}

bool BuildHelpPathOf(void* module, bool german, char* out) {
  out[0] = '\0';
  wchar_t widePath[platform::WIDE_PATH_SIZE];
  const DWORD length =
      GetModuleFileNameW(static_cast<HMODULE>(module), widePath, platform::WIDE_PATH_SIZE);
  if (length == 0 || length >= platform::WIDE_PATH_SIZE) return false;
  char modulePath[HELP_PATH_SIZE];
  if (!platform::WideToUtf8(widePath, modulePath, sizeof modulePath)) return false;
  BuildHelpPath(modulePath, german, out);
  return true;
}

}  // namespace persist
