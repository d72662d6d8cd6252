#include "ui/view_text.h"

#include <cctype>
#include <cstdio>

namespace ui {

namespace {

bool IsBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void ByteToBinary(uint32_t value, int digits, char* text) {
  int at = 0;
  for (int k = digits - 1; k >= 0; --k) text[at++] = ((value >> k) & 1u) ? '1' : '0';
  text[at] = '\0';
}

char ListChar(uint8_t value) {
  // Control characters, DEL and everything above 7 bits would draw as
  // boxes or in the code page of the day.
  if (value < 0x20 || value >= 0x7F) return '.';
  return static_cast<char>(value);
}

size_t FormatListLine(uint32_t index, uint8_t value, char* out, size_t size) {
  if (size == 0) return 0;
  char bits[9];
  ByteToBinary(value, 8, bits);
  int length = std::snprintf(out, size, "%u:\t%02Xh\t%s\t%c", static_cast<unsigned>(index),
                             static_cast<unsigned>(value), bits, ListChar(value));
  if (length < 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(length) < size ? static_cast<size_t>(length) : size - 1;
}

bool ParseHexByte(const char* text, uint8_t& value) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  if (HexDigit(*p) < 0) return false;
  uint32_t number = 0;
  for (; HexDigit(*p) >= 0; ++p) {
    number = (number << 4) | static_cast<uint32_t>(HexDigit(*p));
    if (number > 0xFF) return false;
  }
  if (*p == 'h' || *p == 'H') ++p;
  while (IsBlank(*p)) ++p;
  if (*p != '\0') return false;
  value = static_cast<uint8_t>(number);
  return true;
}

bool ParseAddressField(const char* text, int& address) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  uint32_t number = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    number = number * 10 + static_cast<uint32_t>(*p - '0');
    if (number > MAX_MAC_ID) return false;
  }
  while (IsBlank(*p)) ++p;
  if (*p != '\0') return false;
  address = static_cast<int>(number);
  return true;
}

}  // namespace ui
