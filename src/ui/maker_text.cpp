#include "ui/maker_text.h"

namespace ui {

namespace {

constexpr auto MAKER_LINE = Scramble("Korvath Fieldbus Systems");
constexpr auto NOTICE_LINE = Scramble("Copyright (C) 2026 Korvath");

}  // namespace

size_t Unscramble(const uint8_t* bytes, size_t length, char* out, size_t size) {
  if (size == 0) return 0;
  size_t i = 0;
  for (; i < length && i + 1 < size; ++i) {
    out[i] = static_cast<char>(bytes[i] ^ ScrambleKey(i));
  }
  out[i] = '\0';
  return i;
}

size_t MakerLine(char* out, size_t size) {
  return Unscramble(MAKER_LINE.bytes, MAKER_LINE.length, out, size);
}

size_t NoticeLine(char* out, size_t size) {
  return Unscramble(NOTICE_LINE.bytes, NOTICE_LINE.length, out, size);
}

const uint8_t* StoredMakerLine(size_t& length) {
  length = MAKER_LINE.length;
  return MAKER_LINE.bytes;
}

const uint8_t* StoredNoticeLine(size_t& length) {
  length = NOTICE_LINE.length;
  return NOTICE_LINE.bytes;
}

}  // namespace ui
