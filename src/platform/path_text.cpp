#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {

// Bytes of the UTF-8 sequence that starts with `lead`, and the UTF-16 units
// it takes; a stray byte counts as one of each.
size_t SequenceBytes(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

size_t UnitsOf(size_t bytes) {
  return bytes == 4 ? 2 : 1;
}

}  // namespace

void AppendPathCut(char* path, const char* tail) {
  size_t used = 0;
  size_t units = 0;
  while (path[used]) {
    const size_t bytes = SequenceBytes(static_cast<unsigned char>(path[used]));
    units += UnitsOf(bytes);
    for (size_t i = 0; i < bytes && path[used]; ++i) ++used;
  }
  while (*tail) {
    size_t bytes = SequenceBytes(static_cast<unsigned char>(*tail));
    size_t available = 0;
    while (available < bytes && tail[available]) ++available;
    bytes = available;
    if (units + UnitsOf(bytes) > PATH_UNITS || used + bytes > PATH_TEXT_SIZE - 1) break;
    std::memcpy(path + used, tail, bytes);
    used += bytes;
    units += UnitsOf(bytes);
    tail += bytes;
  }
  path[used] = '\0';
}

}  // namespace platform
