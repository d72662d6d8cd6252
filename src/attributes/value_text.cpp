#include <cstring>

#include "attributes/attributes.h"
#include "attributes/numbers.h"

namespace attributes {

namespace {

struct TypeInfo {
  int radioId;  // Data Type radio button
  int width;    // bytes on the wire, 0 when the entry decides
};

constexpr TypeInfo kTypes[ATTR_TYPE_COUNT] = {
    {1045, 0},  // raw hex bytes
    {1046, 1},  // BOOL
    {1047, 1},  // SINT
    {1048, 2},  // INT
    {1050, 4},  // DINT
    {1049, 8},  // LINT
    {1051, 1},  // USINT
    {1052, 2},  // UINT
    {1054, 4},  // UDINT
    {1053, 8},  // ULINT
    {1055, 4},  // REAL
    {1056, 8},  // LREAL
    {1058, 0},  // STRING
    {1060, 0},  // SHORT_STRING
};

bool KnownType(int type) {
  return type >= 0 && type < ATTR_TYPE_COUNT;
}

// Length of `text`, at most `most`.
int BoundedLength(const char* text, int most) {
  int n = 0;
  while (n < most && text[n] != '\0') ++n;
  return n;
}

// Where a raw byte token may end.
bool EndsToken(char c) {
  return c == ' ' || c == '\0';
}

// The text being formatted: everything goes through Put, which never writes
// past the area and keeps the text terminated.
struct TextArea {
  char* text;
  int size;  // characters including the terminating zero, > 0
  int len;

  void Put(const char* s, int n) {
    const int room = size - 1 - len;
    if (n > room) n = room;
    if (n <= 0) return;
    std::memcpy(text + len, s, static_cast<size_t>(n));
    len += n;
    text[len] = '\0';
  }
  void Put(const char* s) { Put(s, static_cast<int>(std::strlen(s))); }
};

// The low `width` bytes of `bits`, little-endian.
void StoreLittleEndian(uint64_t bits, int width, uint8_t* out) {
  for (int i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// A little-endian value of `width` bytes; bytes beyond `count` read as zero.
uint64_t LoadLittleEndian(const uint8_t* value, int count, int width) {
  uint64_t bits = 0;
  for (int i = 0; i < width && i < count; ++i) bits |= static_cast<uint64_t>(value[i]) << (8 * i);
  return bits;
}

int64_t SignExtend(uint64_t bits, int width) {
  if (width < 8) {
    const uint64_t sign = uint64_t{1} << (8 * width - 1);
    if (bits & sign) bits |= ~((sign << 1) - 1);
  }
  return static_cast<int64_t>(bits);
}

void PutNumber(TextArea& out, const char (&number)[NUMBER_TEXT_SIZE], const char* suffix) {
  out.Put(number);
  out.Put(suffix);
}

// "A1 BC 73 hex"; bytes that do not fit the area end with "... hex".
void FormatHexBytes(const uint8_t* value, int count, TextArea& out) {
  static const char kCut[] = "... hex";
  static const char kDigits[] = "0123456789ABCDEF";
  int shown = count;
  // Three characters per byte, then "hex" and the terminating zero.
  if (3 * static_cast<int64_t>(count) + 4 > out.size) {
    shown = (out.size - 1 - static_cast<int>(sizeof kCut - 1)) / 3;
    if (shown < 0) shown = 0;
  }
  for (int i = 0; i < shown; ++i) {
    const char byte[3] = {kDigits[value[i] >> 4], kDigits[value[i] & 0x0F], ' '};
    out.Put(byte, 3);
  }
  out.Put(shown < count ? kCut : "hex");
}

// Characters up to the first zero byte or `count`.
void FormatChars(const uint8_t* value, int count, TextArea& out) {
  int n = 0;
  while (n < count && value[n] != 0) ++n;
  out.Put(reinterpret_cast<const char*>(value), n);
}

void FormatInteger(int type, bool hex, const uint8_t* value, int count, TextArea& out) {
  const int width = kTypes[type].width;
  const uint64_t bits = LoadLittleEndian(value, count, width);
  char number[NUMBER_TEXT_SIZE];
  if (hex) {
    // Never sign-extended: a SINT of -1 shows FF.
    FormatUnsigned(bits, true, number);
    PutNumber(out, number, " hex");
  } else if (AttrTypeIsSigned(type)) {
    FormatSigned(SignExtend(bits, width), number);
    PutNumber(out, number, " dec");
  } else {
    FormatUnsigned(bits, false, number);
    PutNumber(out, number, " dec");
  }
}

}  // namespace

int AttrTypeWidth(int type) {
  return KnownType(type) ? kTypes[type].width : 0;
}

bool AttrTypeIsSigned(int type) {
  return type == ATTR_SINT || type == ATTR_INT || type == ATTR_DINT || type == ATTR_LINT;
}

bool AttrTypeHasRadix(int type) {
  return type >= ATTR_SINT && type <= ATTR_ULINT;
}

int AttrTypeRadioId(int type) {
  return KnownType(type) ? kTypes[type].radioId : 0;
}

int AttrTypeFromRadioId(int radioId) {
  for (int type = 0; type < ATTR_TYPE_COUNT; ++type) {
    if (kTypes[type].radioId == radioId) return type;
  }
  return -1;
}

int ParseHexBytes(const char* text, uint8_t* bytes, int capacity) {
  if (!text || !bytes) return 0;
  const int limit = capacity < MAX_HEX_BYTES ? capacity : MAX_HEX_BYTES;
  int n = 0;
  const char* p = text;
  while (n < limit) {
    const int high = DigitValue(p[0], 16);
    if (high >= 0) {
      const int low = DigitValue(p[1], 16);
      const int digits = low >= 0 ? 2 : 1;
      // A token glued to anything but a blank ends the list, itself excluded.
      if (!EndsToken(p[digits])) break;
      bytes[n++] = static_cast<uint8_t>(digits == 2 ? high * 16 + low : high);
      p += digits;
    } else if (*p == ' ') {
      ++p;
    } else {
      break;
    }
  }
  return n;
}

uint8_t ParseAttrValue(int type, int valueInHex, const char* text, uint8_t* value, int capacity) {
  if (!text) text = "";
  if (!value || !KnownType(type)) return 0;
  // The count goes out as one byte: what does not fit is cut, never wrapped.
  const int room = capacity < MAX_WRITE_BYTES ? capacity : MAX_WRITE_BYTES;
  if (room <= 0) return 0;

  uint64_t bits = 0;
  switch (type) {
    case ATTR_RAW_HEX:
      return static_cast<uint8_t>(ParseHexBytes(text, value, room));
    case ATTR_STRING: {
      const int n = BoundedLength(text, room);
      std::memcpy(value, text, static_cast<size_t>(n));
      return static_cast<uint8_t>(n);
    }
    case ATTR_SHORT_STRING: {
      const int most = room - 1 < MAX_SHORT_STRING ? room - 1 : MAX_SHORT_STRING;
      const int n = BoundedLength(text, most);
      value[0] = static_cast<uint8_t>(n);
      std::memcpy(value + 1, text, static_cast<size_t>(n));
      return static_cast<uint8_t>(n + 1);
    }
    case ATTR_BOOL: {
      // Any non-zero number is true, even one whose low bits are all zero.
      bool nonZero = false;
      ScanInteger(text, 0, &nonZero);
      bits = nonZero ? 1 : 0;
      break;
    }
    case ATTR_REAL: {
      const float f = ScanFloat(text);
      uint32_t b;
      std::memcpy(&b, &f, sizeof b);
      bits = b;
      break;
    }
    case ATTR_LREAL: {
      const double d = ScanDouble(text);
      std::memcpy(&bits, &d, sizeof bits);
      break;
    }
    default:
      bits = ScanInteger(text, valueInHex);
      break;
  }
  const int width = kTypes[type].width < room ? kTypes[type].width : room;
  StoreLittleEndian(bits, width, value);
  return static_cast<uint8_t>(width);
}

int FormatAttrValue(int type, int valueInHex, const uint8_t* value, int count, char* text,
                    int textSize) {
  if (!text || textSize <= 0) return 0;
  text[0] = '\0';
  TextArea out{text, textSize, 0};
  if (!value || count < 0) count = 0;
  if (!KnownType(type)) return 0;

  switch (type) {
    case ATTR_RAW_HEX:
      FormatHexBytes(value, count, out);
      break;
    case ATTR_STRING:
      FormatChars(value, count, out);
      break;
    case ATTR_SHORT_STRING:
      if (count > 0) FormatChars(value + 1, value[0] < count - 1 ? value[0] : count - 1, out);
      break;
    case ATTR_BOOL:
      out.Put(LoadLittleEndian(value, count, 1) != 0 ? "1" : "0");
      break;
    case ATTR_REAL: {
      const uint32_t b = static_cast<uint32_t>(LoadLittleEndian(value, count, 4));
      float f;
      std::memcpy(&f, &b, sizeof f);
      char number[NUMBER_TEXT_SIZE];
      FormatFloat(f, number);
      out.Put(number);
      break;
    }
    case ATTR_LREAL: {
      const uint64_t b = LoadLittleEndian(value, count, 8);
      double d;
      std::memcpy(&d, &b, sizeof d);
      char number[NUMBER_TEXT_SIZE];
      FormatDouble(d, number);
      out.Put(number);
      break;
    }
    default:
      FormatInteger(type, valueInHex != 0 && AttrTypeHasRadix(type), value, count, out);
      break;
  }
  return out.len;
}

}  // namespace attributes
