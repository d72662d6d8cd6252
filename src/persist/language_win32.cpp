#include <windows.h>

#include "persist/language.h"

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

}  // namespace persist
