// The strict reading of a value to be written: the whole text must be one
// value of its type, or the write is refused before anything goes out.
#include <cfloat>
#include <cstdio>
#include <cstring>

#include "attributes/attributes.h"
#include "attributes/numbers.h"

namespace attributes {

namespace {

bool IsBlankOrTab(char c) {
  return c == ' ' || c == '\t';
}

// The part of a text between its leading and trailing blanks.
struct Span {
  const char* begin;
  const char* end;
};

Span Trimmed(const char* text, bool (*isBlank)(char)) {
  Span s{text, text + std::strlen(text)};
  while (s.begin < s.end && isBlank(*s.begin)) ++s.begin;
  while (s.end > s.begin && isBlank(s.end[-1])) --s.end;
  return s;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when `s` ends in `word` (any case) after at least one blank that
// follows something else; `s` then keeps what is before the blanks.
bool TakeLastWord(Span& s, const char* word, bool (*isBlank)(char)) {
  const size_t n = std::strlen(word);
  if (static_cast<size_t>(s.end - s.begin) < n + 2) return false;
  const char* start = s.end - n;
  for (size_t i = 0; i < n; ++i) {
    if (Lower(start[i]) != word[i]) return false;
  }
  if (!isBlank(start[-1])) return false;
  const char* rest = start;
  while (rest > s.begin && isBlank(rest[-1])) --rest;
  if (rest == s.begin) return false;
  s.end = rest;
  return true;
}

// The all-ones pattern of a type's width, and its largest value.
uint64_t AllOnes(int type) {
  const int width = AttrTypeWidth(type);
  return width >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
}

uint64_t Largest(int type) {
  if (type == ATTR_BOOL) return 1;
  return AttrTypeIsSigned(type) ? AllOnes(type) >> 1 : AllOnes(type);
}

// Checks an integer entry; `inHex` is the radix the text is read in, which
// a final " hex" or " dec" decides.
bool CheckInteger(int type, const char* text, int* inHex) {
  Span s = Trimmed(text, IsBlankOrTab);
  // BOOL is always decimal, and its echo has no radix.
  if (type != ATTR_BOOL) {
    if (TakeLastWord(s, "hex", IsBlankOrTab)) {
      *inHex = 1;
    } else if (TakeLastWord(s, "dec", IsBlankOrTab)) {
      *inHex = 0;
    }
  }
  bool negative = false;
  uint64_t magnitude = 0;
  if (!ReadWholeInteger(s.begin, s.end, *inHex ? 16 : 10, &negative, &magnitude)) return false;
  if (*inHex) return magnitude <= AllOnes(type);
  if (!negative) return magnitude <= Largest(type);
  // The most negative value has one more than the largest positive one.
  return AttrTypeIsSigned(type) ? magnitude <= Largest(type) + 1 : magnitude == 0;
}

bool CheckReal(int type, const char* text) {
  const Span s = Trimmed(text, IsBlankOrTab);
  return type == ATTR_REAL ? IsWholeFloat(s.begin, s.end) : IsWholeDouble(s.begin, s.end);
}

bool IsBlank(char c) {
  return c == ' ';
}

// Tokens of one or two digits between blanks (the space only, as
// ParseHexBytes reads them), at most one write's worth, and "hex" at the
// end or alone, as the echo shows it.
bool CheckHexBytes(const char* text) {
  Span s = Trimmed(text, IsBlank);
  if (s.end - s.begin == 3 && Lower(s.begin[0]) == 'h' && Lower(s.begin[1]) == 'e' &&
      Lower(s.begin[2]) == 'x') {
    return true;
  }
  TakeLastWord(s, "hex", IsBlank);
  int bytes = 0;
  for (const char* p = s.begin; p < s.end;) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    int digits = 0;
    for (; p < s.end && *p != ' '; ++p, ++digits) {
      if (DigitValue(*p, 16) < 0) return false;
    }
    if (digits > 2 || ++bytes > MAX_WRITE_BYTES) return false;
  }
  return true;
}

// True when `text` has at most `most` characters.
bool FitsLength(const char* text, int most) {
  int n = 0;
  while (text[n] != '\0') {
    if (++n > most) return false;
  }
  return true;
}

}  // namespace

int AttrTypeMaxLength(int type) {
  switch (type) {
    case ATTR_RAW_HEX:
    case ATTR_STRING:
      return MAX_WRITE_BYTES;
    case ATTR_SHORT_STRING:
      return MAX_SHORT_STRING;
    default:
      return 0;
  }
}

bool ParseAttrValueStrict(int type, int valueInHex, const char* text, uint8_t* value, int capacity,
                          uint8_t* count) {
  if (!text || !value || !count || type < 0 || type >= ATTR_TYPE_COUNT) return false;
  int inHex = valueInHex != 0 && AttrTypeHasRadix(type) ? 1 : 0;
  bool ok = false;
  switch (type) {
    case ATTR_RAW_HEX:
      ok = CheckHexBytes(text);
      break;
    case ATTR_STRING:
    case ATTR_SHORT_STRING:
      ok = FitsLength(text, AttrTypeMaxLength(type));
      break;
    case ATTR_REAL:
    case ATTR_LREAL:
      ok = CheckReal(type, text);
      break;
    default:
      ok = CheckInteger(type, text, &inHex);
      break;
  }
  if (!ok) return false;
  // Checked, the text converts whole: no cutting, no wrapping, no stop.
  uint8_t bytes[MAX_WRITE_BYTES];
  const uint8_t n = ParseAttrValue(type, inHex, text, bytes, MAX_WRITE_BYTES);
  if (n > capacity) return false;
  std::memcpy(value, bytes, n);
  *count = n;
  return true;
}

int FormatAttrRange(int type, int valueInHex, char* text, int textSize) {
  if (!text || textSize <= 0) return 0;
  const char* sign = "";
  char low[NUMBER_TEXT_SIZE] = "0";
  char high[NUMBER_TEXT_SIZE] = "";
  const char* suffix = "";
  if (type == ATTR_REAL || type == ATTR_LREAL) {
    if (type == ATTR_REAL) {
      FormatFloat(FLT_MAX, high);
    } else {
      FormatDouble(DBL_MAX, high);
    }
    sign = "-";
    std::memcpy(low, high, sizeof low);
  } else if (type == ATTR_BOOL || AttrTypeHasRadix(type)) {
    if (valueInHex && AttrTypeHasRadix(type)) {
      FormatUnsigned(AllOnes(type), true, high);
      suffix = " hex";
    } else {
      FormatUnsigned(Largest(type), false, high);
      // Two's complement: one more below zero than above.
      if (AttrTypeIsSigned(type)) FormatSigned(-static_cast<int64_t>(Largest(type)) - 1, low);
    }
  } else {
    text[0] = '\0';
    return 0;
  }
  const int n =
      std::snprintf(text, static_cast<size_t>(textSize), "%s%s...%s%s", sign, low, high, suffix);
  return n < textSize ? n : textSize - 1;
}

}  // namespace attributes
