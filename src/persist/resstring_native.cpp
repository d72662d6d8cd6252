// Strings in the native build: the English table of tarnres.rc, compiled in,
// stands in for whichever language library is loaded.
#include <cstring>

#include "persist/native_seams.h"
#include "persist/resstring.h"

namespace persist {

namespace {

bool g_english = true;
const ResString* g_table = nullptr;
size_t g_count = 0;

}  // namespace

void UseStringTable(const ResString* table, size_t count) {
  g_english = false;
  g_table = table;
  g_count = count;
}

void UseEnglishStrings() {
  g_english = true;
}

int LoadResString(unsigned id, char* buffer, int size) {
  if (size <= 0) return 0;
  buffer[0] = '\0';
  const ResString* table = g_english ? ENGLISH_STRINGS : g_table;
  size_t count = g_english ? ENGLISH_STRING_COUNT : g_count;
  for (size_t i = 0; i < count; ++i) {
    if (table[i].id != id) continue;
    // As LoadStringA: cut at size - 1 characters; an empty string counts as missing.
    size_t length = std::strlen(table[i].text);
    if (length > static_cast<size_t>(size - 1)) length = static_cast<size_t>(size - 1);
    std::memcpy(buffer, table[i].text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
  }
  return 0;
}

}  // namespace persist
