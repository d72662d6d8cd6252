#include "persist/language.h"

#include <cstring>

namespace persist {

bool IsGermanLangValue(unsigned long type, const char* data, size_t size) {
  if (type != LANG_TYPE_SZ) return false;
  static const char GERMAN[] = "1031";
  const size_t length = sizeof GERMAN - 1;
  if (size < length || std::memcmp(data, GERMAN, length) != 0) return false;
  return size == length || data[length] == '\0';
}

void BuildHelpPath(const char* modulePath, bool german, char* out) {
  const char* slash = std::strrchr(modulePath, '\\');
  char folder[HELP_PATH_SIZE] = "";
  size_t keep = slash ? static_cast<size_t>(slash - modulePath) + 1 : 0;
  if (keep > HELP_PATH_SIZE - 1) keep = HELP_PATH_SIZE - 1;
  std::memcpy(folder, modulePath, keep);
  folder[keep] = '\0';
  out[0] = '\0';
  platform::AppendPathCut(out, folder);
  platform::AppendPathCut(out, german ? GERMAN_HELP : ENGLISH_HELP);
}

}  // namespace persist
