// Attribute value texts: entry, echo and display of the fourteen data types.
#include "attributes/attributes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"

namespace {

using namespace attributes;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUntouched = 0xCC;  // fills value buffers: nothing past the count is written
constexpr char kBeyond = '#';         // fills text beyond the area

std::string Hex(const Bytes& b) {
  std::string s;
  char d[4];
  for (uint8_t x : b) {
    std::snprintf(d, sizeof d, "%02X ", x);
    s += d;
  }
  return s;
}

// FormatAttrValue into an area of `textSize` characters inside a larger
// buffer, checking that nothing lands past the area and the text ends there.
std::string Show(int type, int hex, const Bytes& bytes, int textSize = app::ATTR_VALUE_TEXT_SIZE) {
  std::vector<char> buf(static_cast<size_t>(textSize) + 64, kBeyond);
  const int len = FormatAttrValue(type, hex, bytes.data(), static_cast<int>(bytes.size()),
                                  buf.data(), textSize);
  for (size_t i = static_cast<size_t>(textSize); i < buf.size(); ++i) {
    if (buf[i] != kBeyond) {
      ADD_FAILURE() << "written past the area at " << i << " (type " << type << ")";
      break;
    }
  }
  if (textSize <= 0) {
    EXPECT_EQ(len, 0);
    return {};
  }
  const std::string text(buf.data());
  EXPECT_EQ(len, static_cast<int>(text.size())) << "type " << type;
  EXPECT_LT(len, textSize) << "type " << type;
  return text;
}

// ParseAttrValue into a WriteValue-sized area, checking that nothing is
// written past the count it returns.
Bytes Parse(int type, int hex, const std::string& text, int capacity = app::WRITE_VALUE_SIZE) {
  uint8_t value[app::WRITE_VALUE_SIZE];
  std::memset(value, kUntouched, sizeof value);
  const int n = ParseAttrValue(type, hex, text.c_str(), value, capacity);
  EXPECT_LE(n, capacity);
  for (int i = n; i < app::WRITE_VALUE_SIZE; ++i) {
    if (value[i] != kUntouched) {
      ADD_FAILURE() << "byte " << i << " written past the count " << n << " (type " << type << ")";
      break;
    }
  }
  return Bytes(value, value + n);
}

Bytes HexBytes(const std::string& text, int capacity = MAX_HEX_BYTES + 8) {
  std::vector<uint8_t> bytes(static_cast<size_t>(capacity) + 8, kUntouched);
  const int n = ParseHexBytes(text.c_str(), bytes.data(), capacity);
  EXPECT_LE(n, capacity);
  for (size_t i = static_cast<size_t>(n); i < bytes.size(); ++i) {
    if (bytes[i] != kUntouched) {
      ADD_FAILURE() << "byte " << i << " written past the count " << n;
      break;
    }
  }
  return Bytes(bytes.begin(), bytes.begin() + n);
}

// n raw byte tokens "00 01 02 ..." (values wrap at 256).
std::string Tokens(int n) {
  std::string s;
  char d[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(d, sizeof d, "%02x ", i & 0xFF);
    s += d;
  }
  return s;
}

struct WriteCase {
  int type;
  int hex;
  const char* text;
  Bytes bytes;       // what goes out
  const char* echo;  // what the Send Value field then shows
};

const WriteCase kWriteCases[] = {
    // raw hex bytes: the radix box does not apply
    {ATTR_RAW_HEX, 1, "a1 bc 73", {0xA1, 0xBC, 0x73}, "A1 BC 73 hex"},
    {ATTR_RAW_HEX, 0, "1 2 3", {0x01, 0x02, 0x03}, "01 02 03 hex"},
    {ATTR_RAW_HEX, 1, "", {}, "hex"},
    {ATTR_RAW_HEX, 1, "a1 bcd 73", {0xA1}, "A1 hex"},
    {ATTR_RAW_HEX, 1, "0x12", {}, "hex"},
    {ATTR_RAW_HEX, 1, "\ta1", {}, "hex"},
    // BOOL: always decimal, any non-zero number is 1
    {ATTR_BOOL, 0, "0", {0}, "0"},
    {ATTR_BOOL, 0, "256", {1}, "1"},
    {ATTR_BOOL, 1, "-5", {1}, "1"},
    {ATTR_BOOL, 1, "a", {0}, "0"},
    {ATTR_BOOL, 0, "4294967296", {1}, "1"},
    {ATTR_BOOL, 0, "18446744073709551616", {1}, "1"},
    {ATTR_BOOL, 0, "0x1", {0}, "0"},
    // SINT
    {ATTR_SINT, 1, "FF", {0xFF}, "FF hex"},
    {ATTR_SINT, 0, "-1", {0xFF}, "-1 dec"},
    {ATTR_SINT, 1, "FFFF", {0xFF}, "FF hex"},
    {ATTR_SINT, 1, "-1", {0xFF}, "FF hex"},
    {ATTR_SINT, 0, "128", {0x80}, "-128 dec"},
    {ATTR_SINT, 1, "12 dec", {0x12}, "12 hex"},
    // INT
    {ATTR_INT, 0, "-2", {0xFE, 0xFF}, "-2 dec"},
    {ATTR_INT, 1, "fffe", {0xFE, 0xFF}, "FFFE hex"},
    {ATTR_INT, 0, "70000", {0x70, 0x11}, "4464 dec"},
    {ATTR_INT, 1, "0x1234", {0x34, 0x12}, "1234 hex"},
    {ATTR_INT, 0, "12 hex", {0x0C, 0x00}, "12 dec"},
    // DINT
    {ATTR_DINT, 0, "", {0, 0, 0, 0}, "0 dec"},
    {ATTR_DINT, 1, "", {0, 0, 0, 0}, "0 hex"},
    {ATTR_DINT, 0, "-2147483648", {0, 0, 0, 0x80}, "-2147483648 dec"},
    {ATTR_DINT, 0, "4000000000", {0x00, 0x28, 0x6B, 0xEE}, "-294967296 dec"},
    {ATTR_DINT, 1, "deadBEEF", {0xEF, 0xBE, 0xAD, 0xDE}, "DEADBEEF hex"},
    // LINT
    {ATTR_LINT, 0, "-9223372036854775808", {0, 0, 0, 0, 0, 0, 0, 0x80}, "-9223372036854775808 dec"},
    {ATTR_LINT, 1, "8000000000000000", {0, 0, 0, 0, 0, 0, 0, 0x80}, "8000000000000000 hex"},
    {ATTR_LINT,
     0,
     "9223372036854775807",
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
     "9223372036854775807 dec"},
    {ATTR_LINT, 0, "-1", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "-1 dec"},
    {ATTR_LINT,
     1,
     "123456789abcdef0",
     {0xF0, 0xDE, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12},
     "123456789ABCDEF0 hex"},
    // USINT
    {ATTR_USINT, 0, "300", {0x2C}, "44 dec"},
    {ATTR_USINT, 1, "1 hex", {0x01}, "1 hex"},
    {ATTR_USINT, 0, "-1", {0xFF}, "255 dec"},
    {ATTR_USINT, 0, " \t\n 42xyz", {0x2A}, "42 dec"},
    // UINT
    {ATTR_UINT, 0, "65535", {0xFF, 0xFF}, "65535 dec"},
    {ATTR_UINT, 0, "65536", {0x00, 0x00}, "0 dec"},
    {ATTR_UINT, 1, "ffff", {0xFF, 0xFF}, "FFFF hex"},
    // UDINT
    {ATTR_UDINT, 0, "4000000000", {0x00, 0x28, 0x6B, 0xEE}, "4000000000 dec"},
    {ATTR_UDINT, 1, "FFFFFFFF", {0xFF, 0xFF, 0xFF, 0xFF}, "FFFFFFFF hex"},
    {ATTR_UDINT, 0, "+17", {0x11, 0, 0, 0}, "17 dec"},
    // ULINT
    {ATTR_ULINT,
     0,
     "18446744073709551615",
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     "18446744073709551615 dec"},
    {ATTR_ULINT, 0, "18446744073709551616", {0, 0, 0, 0, 0, 0, 0, 0}, "0 dec"},
    {ATTR_ULINT,
     1,
     "FFFFFFFFFFFFFFFF",
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     "FFFFFFFFFFFFFFFF hex"},
    {ATTR_ULINT,
     0,
     "-1",
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     "18446744073709551615 dec"},
    // REAL: the radix box does not apply
    {ATTR_REAL, 0, "1e3", {0x00, 0x00, 0x7A, 0x44}, "1000"},
    {ATTR_REAL, 1, "1e3", {0x00, 0x00, 0x7A, 0x44}, "1000"},
    {ATTR_REAL, 0, "-2.5", {0x00, 0x00, 0x20, 0xC0}, "-2.5"},
    {ATTR_REAL, 0, "3.14159265", {0xDB, 0x0F, 0x49, 0x40}, "3.1415927"},
    {ATTR_REAL, 0, "0.1", {0xCD, 0xCC, 0xCC, 0x3D}, "0.1"},
    {ATTR_REAL, 0, "100000", {0x00, 0x50, 0xC3, 0x47}, "100000"},
    {ATTR_REAL, 0, "1000000", {0x00, 0x24, 0x74, 0x49}, "1e+06"},
    {ATTR_REAL, 0, "1e39", {0x00, 0x00, 0x80, 0x7F}, "inf"},
    {ATTR_REAL, 0, "-1e39", {0x00, 0x00, 0x80, 0xFF}, "-inf"},
    {ATTR_REAL, 0, "1e-50", {0x00, 0x00, 0x00, 0x00}, "0"},
    {ATTR_REAL, 0, "abc", {0x00, 0x00, 0x00, 0x00}, "0"},
    {ATTR_REAL, 0, "1,5", {0x00, 0x00, 0x80, 0x3F}, "1"},
    {ATTR_REAL, 0, "1e", {0x00, 0x00, 0x80, 0x3F}, "1"},
    {ATTR_REAL, 0, "--1", {0x00, 0x00, 0x00, 0x00}, "0"},
    {ATTR_REAL, 0, "0x1p3", {0x00, 0x00, 0x00, 0x00}, "0"},
    // LREAL
    {ATTR_LREAL, 0, "0.1", {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}, "0.1"},
    {ATTR_LREAL, 0, "  +.5", {0, 0, 0, 0, 0, 0, 0xE0, 0x3F}, "0.5"},
    {ATTR_LREAL, 0, "123456789", {0x00, 0x00, 0x00, 0x54, 0x34, 0x6F, 0x9D, 0x41}, "123456789"},
    {ATTR_LREAL, 0, "1.5e-7", {0x76, 0x83, 0x0D, 0xF4, 0xF5, 0x21, 0x84, 0x3E}, "1.5e-07"},
    {ATTR_LREAL, 0, "1e400", {0, 0, 0, 0, 0, 0, 0xF0, 0x7F}, "inf"},
    {ATTR_LREAL, 0, "-1e-400", {0, 0, 0, 0, 0, 0, 0, 0x80}, "-0"},
    {ATTR_LREAL, 0, "-Infinity", {0, 0, 0, 0, 0, 0, 0xF0, 0xFF}, "-inf"},
    // STRING and SHORT_STRING: the typed text, blanks included
    {ATTR_STRING, 0, "abc", {0x61, 0x62, 0x63}, "abc"},
    {ATTR_STRING, 1, " a b ", {0x20, 0x61, 0x20, 0x62, 0x20}, " a b "},
    {ATTR_STRING, 0, "", {}, ""},
    {ATTR_SHORT_STRING, 0, "abc", {0x03, 0x61, 0x62, 0x63}, "abc"},
    {ATTR_SHORT_STRING, 0, "", {0x00}, ""},
};

TEST(AttrValueText, EntryAndEchoOfEveryType) {
  bool covered[ATTR_TYPE_COUNT][2] = {};
  for (const WriteCase& c : kWriteCases) {
    SCOPED_TRACE(std::string("type ") + std::to_string(c.type) + (c.hex ? " hex" : " dec") +
                 " text \"" + c.text + "\"");
    const Bytes sent = Parse(c.type, c.hex, c.text);
    EXPECT_EQ(Hex(sent), Hex(c.bytes));
    EXPECT_EQ(Show(c.type, c.hex, sent), c.echo);
    covered[c.type][c.hex] = true;
  }
  for (int type = 0; type < ATTR_TYPE_COUNT; ++type) {
    EXPECT_TRUE(covered[type][0] || covered[type][1]) << "no case for type " << type;
    if (AttrTypeHasRadix(type)) {
      EXPECT_TRUE(covered[type][0] && covered[type][1]) << "one radix missing for type " << type;
    }
  }
}

// The echo stands in the field and is read again by the next Write: it must
// send the same value and show the same text.
TEST(AttrValueText, EchoReadAgainSendsTheSameValue) {
  for (const WriteCase& c : kWriteCases) {
    SCOPED_TRACE(std::string("type ") + std::to_string(c.type) + " echo \"" + c.echo + "\"");
    const Bytes again = Parse(c.type, c.hex, c.echo);
    EXPECT_EQ(Show(c.type, c.hex, again), c.echo);
    EXPECT_EQ(Hex(again), Hex(c.bytes));
  }
}

// The Write dialog's strict reading: a text that is not exactly one value
// of the type is refused; one that is goes out as typed. `bytes` is what an
// accepted text sends; a refused one has none listed.
struct StrictCase {
  int type;
  int hex;
  const char* text;
  bool ok;
  Bytes bytes;
};

const StrictCase kStrictCases[] = {
    // BOOL: 0 or 1, decimal whatever the box says
    {ATTR_BOOL, 0, "0", true, {0}},
    {ATTR_BOOL, 1, " 1\t", true, {1}},
    {ATTR_BOOL, 0, "+1", true, {1}},
    {ATTR_BOOL, 0, "2", false, {}},
    {ATTR_BOOL, 0, "256", false, {}},
    {ATTR_BOOL, 0, "-1", false, {}},
    {ATTR_BOOL, 1, "1 hex", false, {}},
    {ATTR_BOOL, 0, "", false, {}},
    // SINT: decimal -128..127, hexadecimal 0..FF without a sign
    {ATTR_SINT, 0, "-128", true, {0x80}},
    {ATTR_SINT, 0, "127", true, {0x7F}},
    {ATTR_SINT, 0, "-129", false, {}},
    {ATTR_SINT, 0, "128", false, {}},
    {ATTR_SINT, 0, "300", false, {}},
    {ATTR_SINT, 1, "FF", true, {0xFF}},
    {ATTR_SINT, 1, "0x7f", true, {0x7F}},
    {ATTR_SINT, 1, "100", false, {}},
    {ATTR_SINT, 1, "FFFF", false, {}},
    {ATTR_SINT, 1, "-1", false, {}},
    {ATTR_SINT, 0, "-1 dec", true, {0xFF}},
    {ATTR_SINT, 1, "-1 dec", true, {0xFF}},  // the suffix says decimal
    {ATTR_SINT, 0, "FF hex", true, {0xFF}},  // and hexadecimal
    {ATTR_SINT, 0, "FF", false, {}},
    // INT
    {ATTR_INT, 0, "-32768", true, {0x00, 0x80}},
    {ATTR_INT, 0, "32767", true, {0xFF, 0x7F}},
    {ATTR_INT, 0, "-32769", false, {}},
    {ATTR_INT, 0, "32768", false, {}},
    {ATTR_INT, 0, "70000", false, {}},
    {ATTR_INT, 1, "FFFF", true, {0xFF, 0xFF}},
    {ATTR_INT, 1, "10000", false, {}},
    {ATTR_INT, 1, "12 dec", true, {0x0C, 0x00}},
    {ATTR_INT, 0, "12 hex", true, {0x12, 0x00}},
    // DINT
    {ATTR_DINT, 0, "-2147483648", true, {0x00, 0x00, 0x00, 0x80}},
    {ATTR_DINT, 0, "2147483647", true, {0xFF, 0xFF, 0xFF, 0x7F}},
    {ATTR_DINT, 0, "-2147483649", false, {}},
    {ATTR_DINT, 0, "2147483648", false, {}},
    {ATTR_DINT, 0, "4000000000", false, {}},
    {ATTR_DINT, 1, "FFFFFFFF", true, {0xFF, 0xFF, 0xFF, 0xFF}},
    {ATTR_DINT, 1, "100000000", false, {}},
    {ATTR_DINT, 0, "", false, {}},
    {ATTR_DINT, 1, "   ", false, {}},
    // LINT
    {ATTR_LINT, 0, "-9223372036854775808", true, {0, 0, 0, 0, 0, 0, 0, 0x80}},
    {ATTR_LINT, 0, "9223372036854775807", true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
    {ATTR_LINT, 0, "-9223372036854775809", false, {}},
    {ATTR_LINT, 0, "9223372036854775808", false, {}},
    {ATTR_LINT, 1, "FFFFFFFFFFFFFFFF", true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {ATTR_LINT, 1, "10000000000000000", false, {}},
    // USINT: no negative numbers but zero
    {ATTR_USINT, 0, "255", true, {0xFF}},
    {ATTR_USINT, 0, "256", false, {}},
    {ATTR_USINT, 0, "300", false, {}},
    {ATTR_USINT, 0, "-0", true, {0x00}},
    {ATTR_USINT, 0, "-1", false, {}},
    {ATTR_USINT, 1, "ff", true, {0xFF}},
    {ATTR_USINT, 1, "100", false, {}},
    {ATTR_USINT, 0, "0255", true, {0xFF}},
    // UINT
    {ATTR_UINT, 0, "65535", true, {0xFF, 0xFF}},
    {ATTR_UINT, 0, "65536", false, {}},
    {ATTR_UINT, 0, "70000", false, {}},
    {ATTR_UINT, 1, "FFFF", true, {0xFF, 0xFF}},
    {ATTR_UINT, 1, "10000", false, {}},
    // UDINT
    {ATTR_UDINT, 0, "4294967295", true, {0xFF, 0xFF, 0xFF, 0xFF}},
    {ATTR_UDINT, 0, "4294967296", false, {}},
    {ATTR_UDINT, 0, "4000000000", true, {0x00, 0x28, 0x6B, 0xEE}},
    {ATTR_UDINT, 1, "FFFFFFFF", true, {0xFF, 0xFF, 0xFF, 0xFF}},
    {ATTR_UDINT, 1, "100000000", false, {}},
    // ULINT: one past 64 bits must not wrap to zero
    {ATTR_ULINT, 0, "18446744073709551615", true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {ATTR_ULINT, 0, "18446744073709551616", false, {}},
    {ATTR_ULINT, 0, "99999999999999999999", false, {}},
    {ATTR_ULINT, 1, "10000000000000000", false, {}},
    {ATTR_ULINT, 1, "0000000000000000000001", true, {1, 0, 0, 0, 0, 0, 0, 0}},
    // signs, blanks, garbage
    {ATTR_UINT, 0, "+17", true, {0x11, 0x00}},
    {ATTR_UINT, 0, " \t17 \t", true, {0x11, 0x00}},
    {ATTR_UINT, 0, "17 dec  ", true, {0x11, 0x00}},
    {ATTR_UINT, 0, "+-17", false, {}},
    {ATTR_UINT, 0, "- 17", false, {}},
    {ATTR_UINT, 0, "1 7", false, {}},
    {ATTR_UINT, 0, "17x", false, {}},
    {ATTR_UINT, 0, "17dec", false, {}},
    {ATTR_UINT, 0, "17 dec dec", false, {}},
    {ATTR_UINT, 0, "dec", false, {}},
    {ATTR_UINT, 0, "\n17", false, {}},
    {ATTR_UINT, 0, "0x11", false, {}},
    {ATTR_UINT, 1, "+11", false, {}},
    {ATTR_UINT, 1, "0x", false, {}},
    {ATTR_UINT, 1, "11h", false, {}},
    {ATTR_UINT, 1, "dec", true, {0xEC, 0x0D}},  // three hex digits, not a suffix
    {ATTR_UINT, 0, "abc", false, {}},
    {ATTR_UINT, 0, "1.5", false, {}},
    // REAL and LREAL: a number the type holds; the radix box does not apply
    {ATTR_REAL, 1, "1e3", true, {0x00, 0x00, 0x7A, 0x44}},
    {ATTR_REAL, 0, " -2.5 ", true, {0x00, 0x00, 0x20, 0xC0}},
    {ATTR_REAL, 0, "+.5", true, {0x00, 0x00, 0x00, 0x3F}},
    {ATTR_REAL, 0, "3.4028235e38", true, {0xFF, 0xFF, 0x7F, 0x7F}},
    {ATTR_REAL, 0, "3.5e38", false, {}},
    {ATTR_REAL, 0, "1e39", false, {}},
    {ATTR_REAL, 0, "1e-40", true, {0xC2, 0x16, 0x01, 0x00}},  // denormal, but not zero
    {ATTR_REAL, 0, "1e-50", false, {}},
    {ATTR_REAL, 0, "0e-50", true, {0x00, 0x00, 0x00, 0x00}},
    {ATTR_REAL, 0, "-inf", true, {0x00, 0x00, 0x80, 0xFF}},
    {ATTR_REAL, 0, "abc", false, {}},
    {ATTR_REAL, 0, "", false, {}},
    {ATTR_REAL, 0, "1,5", false, {}},
    {ATTR_REAL, 0, "1e", false, {}},
    {ATTR_REAL, 0, "--1", false, {}},
    {ATTR_REAL, 0, "0x1p3", false, {}},
    {ATTR_REAL, 0, "1 dec", false, {}},
    {ATTR_LREAL, 0, "1e300", true, {0x9C, 0x75, 0x00, 0x88, 0x3C, 0xE4, 0x37, 0x7E}},
    {ATTR_LREAL, 0, "1e400", false, {}},
    {ATTR_LREAL, 0, "1e-400", false, {}},
    {ATTR_LREAL, 0, "-Infinity", true, {0, 0, 0, 0, 0, 0, 0xF0, 0xFF}},
    // raw hex bytes: one or two digits per byte, blanks between, at most 255
    {ATTR_RAW_HEX, 1, "a1 bc 73", true, {0xA1, 0xBC, 0x73}},
    {ATTR_RAW_HEX, 0, " 1  2 3 ", true, {0x01, 0x02, 0x03}},
    {ATTR_RAW_HEX, 0, "A1 BC 73 hex", true, {0xA1, 0xBC, 0x73}},
    {ATTR_RAW_HEX, 0, "hex", true, {}},
    {ATTR_RAW_HEX, 0, "", true, {}},
    {ATTR_RAW_HEX, 0, "a1 bcd 73", false, {}},
    {ATTR_RAW_HEX, 0, "fff", false, {}},
    {ATTR_RAW_HEX, 0, "a1bc", false, {}},
    {ATTR_RAW_HEX, 0, "0x12", false, {}},
    {ATTR_RAW_HEX, 0, "a1,bc", false, {}},
    {ATTR_RAW_HEX, 0, "g1", false, {}},
    {ATTR_RAW_HEX, 0, "\ta1", false, {}},
    {ATTR_RAW_HEX, 0, "a1 hex bc", false, {}},
    {ATTR_RAW_HEX, 0, "a1hex", false, {}},
    // STRING and SHORT_STRING: as typed
    {ATTR_STRING, 0, " a b ", true, {0x20, 0x61, 0x20, 0x62, 0x20}},
    {ATTR_STRING, 0, "", true, {}},
    {ATTR_SHORT_STRING, 1, "abc", true, {0x03, 0x61, 0x62, 0x63}},
    {ATTR_SHORT_STRING, 0, "", true, {0x00}},
};

TEST(AttrValueCheck, TakesExactlyOneValueOfTheType) {
  for (const StrictCase& c : kStrictCases) {
    SCOPED_TRACE(std::string("type ") + std::to_string(c.type) + (c.hex ? " hex" : " dec") +
                 " text \"" + c.text + "\"");
    uint8_t value[app::WRITE_VALUE_SIZE];
    std::memset(value, kUntouched, sizeof value);
    uint8_t count = 77;
    const bool ok =
        ParseAttrValueStrict(c.type, c.hex, c.text, value, app::WRITE_VALUE_SIZE, &count);
    ASSERT_EQ(ok, c.ok);
    if (!ok) {
      EXPECT_EQ(count, 77) << "count set on refusal";
      EXPECT_EQ(value[0], kUntouched) << "value written on refusal";
      continue;
    }
    EXPECT_EQ(Hex(Bytes(value, value + count)), Hex(c.bytes));
    EXPECT_EQ(value[count], kUntouched) << "written past the count";
    // What the field then shows is taken again unchanged.
    const std::string echo = Show(c.type, c.hex, Bytes(value, value + count));
    uint8_t again[app::WRITE_VALUE_SIZE];
    uint8_t againCount = 0;
    ASSERT_TRUE(ParseAttrValueStrict(c.type, c.hex, echo.c_str(), again, sizeof again, &againCount))
        << "echo \"" << echo << '"';
    EXPECT_EQ(Hex(Bytes(again, again + againCount)), Hex(c.bytes)) << "echo \"" << echo << '"';
  }
}

// The longest entries that fit one write pass; one more character or byte
// is refused, not cut.
TEST(AttrValueCheck, LengthLimitsOfOneWrite) {
  uint8_t value[app::WRITE_VALUE_SIZE];
  uint8_t count = 0;
  const std::string chars255(MAX_WRITE_BYTES, 'q');
  EXPECT_TRUE(ParseAttrValueStrict(ATTR_STRING, 0, chars255.c_str(), value, sizeof value, &count));
  EXPECT_EQ(count, MAX_WRITE_BYTES);
  EXPECT_FALSE(
      ParseAttrValueStrict(ATTR_STRING, 0, (chars255 + "q").c_str(), value, sizeof value, &count));
  const std::string chars254(MAX_SHORT_STRING, 'q');
  EXPECT_TRUE(
      ParseAttrValueStrict(ATTR_SHORT_STRING, 0, chars254.c_str(), value, sizeof value, &count));
  EXPECT_EQ(count, MAX_SHORT_STRING + 1);
  EXPECT_EQ(value[0], MAX_SHORT_STRING);
  EXPECT_FALSE(ParseAttrValueStrict(ATTR_SHORT_STRING, 0, (chars254 + "q").c_str(), value,
                                    sizeof value, &count));
  EXPECT_TRUE(
      ParseAttrValueStrict(ATTR_RAW_HEX, 0, Tokens(255).c_str(), value, sizeof value, &count));
  EXPECT_EQ(count, 255);
  EXPECT_EQ(value[254], 254);
  EXPECT_FALSE(
      ParseAttrValueStrict(ATTR_RAW_HEX, 0, Tokens(256).c_str(), value, sizeof value, &count));
  // An area too small for the value refuses it as well.
  EXPECT_FALSE(ParseAttrValueStrict(ATTR_DINT, 0, "1", value, 3, &count));
  EXPECT_FALSE(ParseAttrValueStrict(ATTR_RAW_HEX, 0, "1 2 3", value, 2, &count));
  EXPECT_TRUE(ParseAttrValueStrict(ATTR_RAW_HEX, 0, "1 2", value, 2, &count));
  for (int type : {-1, ATTR_TYPE_COUNT}) {
    EXPECT_FALSE(ParseAttrValueStrict(type, 0, "1", value, sizeof value, &count)) << type;
  }
  EXPECT_FALSE(ParseAttrValueStrict(ATTR_DINT, 0, nullptr, value, sizeof value, &count));
}

TEST(AttrValueCheck, RangeTextPerTypeAndRadix) {
  const struct {
    int type;
    int hex;
    const char* range;
  } cases[] = {
      {ATTR_BOOL, 1, "0...1"},
      {ATTR_SINT, 0, "-128...127"},
      {ATTR_SINT, 1, "0...FF hex"},
      {ATTR_INT, 0, "-32768...32767"},
      {ATTR_INT, 1, "0...FFFF hex"},
      {ATTR_DINT, 0, "-2147483648...2147483647"},
      {ATTR_DINT, 1, "0...FFFFFFFF hex"},
      {ATTR_LINT, 0, "-9223372036854775808...9223372036854775807"},
      {ATTR_LINT, 1, "0...FFFFFFFFFFFFFFFF hex"},
      {ATTR_USINT, 0, "0...255"},
      {ATTR_USINT, 1, "0...FF hex"},
      {ATTR_UINT, 0, "0...65535"},
      {ATTR_UDINT, 0, "0...4294967295"},
      {ATTR_ULINT, 0, "0...18446744073709551615"},
      {ATTR_ULINT, 1, "0...FFFFFFFFFFFFFFFF hex"},
      {ATTR_REAL, 1, "-3.4028235e+38...3.4028235e+38"},
      {ATTR_LREAL, 0, "-1.7976931348623157e+308...1.7976931348623157e+308"},
      {ATTR_RAW_HEX, 1, ""},
      {ATTR_STRING, 0, ""},
      {ATTR_SHORT_STRING, 0, ""},
      {-1, 0, ""},
  };
  for (const auto& c : cases) {
    char text[80];
    std::memset(text, kBeyond, sizeof text);
    const int n = FormatAttrRange(c.type, c.hex, text, sizeof text);
    EXPECT_STREQ(text, c.range) << c.type << (c.hex ? " hex" : " dec");
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.range)));
  }
  // The limits stated are the limits taken.
  for (const auto& c : cases) {
    if (c.range[0] == '\0' || c.type == ATTR_BOOL) continue;
    const std::string range = c.range;
    const size_t dots = range.find("...");
    const std::string suffix = c.hex ? " hex" : "";
    const std::string high = range.substr(dots + 3, range.size() - dots - 3 - suffix.size());
    uint8_t value[8];
    uint8_t count = 0;
    EXPECT_TRUE(ParseAttrValueStrict(c.type, c.hex, range.substr(0, dots).c_str(), value,
                                     sizeof value, &count))
        << range;
    EXPECT_TRUE(ParseAttrValueStrict(c.type, c.hex, high.c_str(), value, sizeof value, &count))
        << range;
  }
  char small[6];
  EXPECT_EQ(FormatAttrRange(ATTR_INT, 0, small, sizeof small), 5);
  EXPECT_STREQ(small, "-3276");
  EXPECT_EQ(AttrTypeMaxLength(ATTR_RAW_HEX), 255);
  EXPECT_EQ(AttrTypeMaxLength(ATTR_STRING), 255);
  EXPECT_EQ(AttrTypeMaxLength(ATTR_SHORT_STRING), 254);
  EXPECT_EQ(AttrTypeMaxLength(ATTR_DINT), 0);
}

struct ShowCase {
  int type;
  int hex;
  Bytes bytes;  // the response
  const char* text;
};

const ShowCase kShowCases[] = {
    // short responses: the missing bytes count as zero, never sign bits
    {ATTR_DINT, 0, {0x7F}, "127 dec"},
    {ATTR_DINT, 0, {0xFF}, "255 dec"},
    {ATTR_LINT, 1, {0xFF, 0xFF}, "FFFF hex"},
    {ATTR_ULINT, 0, {}, "0 dec"},
    // long responses: bytes beyond the width are not shown
    {ATTR_INT, 0, {0x02, 0x00, 0x00, 0x00}, "2 dec"},
    {ATTR_ULINT, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9}, "807060504030201 hex"},
    {ATTR_SINT, 1, {0xFF}, "FF hex"},
    {ATTR_SINT, 0, {0xFF}, "-1 dec"},
    {ATTR_USINT, 0, {0xFF}, "255 dec"},
    {ATTR_USINT, 1, {0x0A}, "A hex"},
    {ATTR_INT, 1, {0xFE, 0xFF}, "FFFE hex"},
    {ATTR_INT, 0, {0x00, 0x80}, "-32768 dec"},
    {ATTR_UINT, 0, {0x00, 0x80}, "32768 dec"},
    {ATTR_DINT, 1, {0xFF, 0xFF, 0xFF, 0xFF}, "FFFFFFFF hex"},
    {ATTR_UDINT, 0, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295 dec"},
    {ATTR_BOOL, 0, {0x02}, "1"},
    {ATTR_BOOL, 1, {0x00, 0x01}, "0"},
    {ATTR_BOOL, 0, {}, "0"},
    {ATTR_REAL, 0, {0x00, 0x00, 0xC0, 0x7F}, "nan"},
    {ATTR_REAL, 1, {0x00, 0x00, 0x7A, 0x44, 0x99}, "1000"},
    {ATTR_REAL, 0, {0x00, 0x00, 0x80, 0x3F}, "1"},
    {ATTR_LREAL, 0, {0, 0, 0, 0, 0, 0, 0xF0, 0xFF}, "-inf"},
    {ATTR_LREAL, 0, {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}, "0.1"},
    {ATTR_LREAL, 0, {0, 0, 0, 0, 0, 0, 0x24, 0x40}, "10"},
    // strings end at a zero byte or at the response's end
    {ATTR_STRING, 0, {'a', 'b', 0, 'c'}, "ab"},
    {ATTR_STRING, 0, {'x', 'y'}, "xy"},
    {ATTR_STRING, 0, {}, ""},
    {ATTR_SHORT_STRING, 0, {2, 'a', 'b', 'c'}, "ab"},
    {ATTR_SHORT_STRING, 0, {5, 'a', 'b'}, "ab"},
    {ATTR_SHORT_STRING, 0, {255, 'q'}, "q"},
    {ATTR_SHORT_STRING, 0, {3, 'a', 0, 'c'}, "a"},
    {ATTR_SHORT_STRING, 0, {0, 'a'}, ""},
    {ATTR_SHORT_STRING, 0, {}, ""},
    {ATTR_RAW_HEX, 0, {}, "hex"},
    {ATTR_RAW_HEX, 1, {0xA1, 0xBC, 0x73}, "A1 BC 73 hex"},
    {ATTR_RAW_HEX, 0, {0x00, 0x0F}, "00 0F hex"},
};

TEST(AttrValueText, DisplayOfResponses) {
  for (const ShowCase& c : kShowCases) {
    EXPECT_EQ(Show(c.type, c.hex, c.bytes), c.text)
        << "type " << c.type << (c.hex ? " hex" : " dec") << " bytes " << Hex(c.bytes);
  }
}

// Every integer type, both radixes, values across the whole width: the
// display matches the standard library's own conversion of the same value and
// reads back into the same bytes.
TEST(AttrValueText, IntegersRoundTripAcrossTheirWidth) {
  const uint64_t patterns[] = {0,
                               1,
                               0x7F,
                               0x80,
                               0xFF,
                               0x7FFF,
                               0x8000,
                               0xFFFF,
                               0x7FFFFFFF,
                               0x80000000,
                               0xFFFFFFFF,
                               0x7FFFFFFFFFFFFFFF,
                               0x8000000000000000,
                               0xFFFFFFFFFFFFFFFF,
                               0x0123456789ABCDEF};
  std::vector<uint64_t> values(std::begin(patterns), std::end(patterns));
  uint64_t x = 0x9E3779B97F4A7C15;
  for (int i = 0; i < 200; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    values.push_back(x);
  }
  for (int type = ATTR_SINT; type <= ATTR_ULINT; ++type) {
    const int width = AttrTypeWidth(type);
    const bool isSigned = type <= ATTR_LINT;
    for (int hex = 0; hex <= 1; ++hex) {
      for (uint64_t v : values) {
        Bytes bytes(static_cast<size_t>(width));
        uint64_t bits = 0;
        for (int i = 0; i < width; ++i) {
          bytes[i] = static_cast<uint8_t>(v >> (8 * i));
          bits |= uint64_t{bytes[i]} << (8 * i);
        }
        std::string expected;
        if (hex) {
          char digits[24];
          const auto r = std::to_chars(digits, digits + sizeof digits, bits, 16);
          for (char* p = digits; p < r.ptr; ++p) expected += static_cast<char>(std::toupper(*p));
          expected += " hex";
        } else if (isSigned && width < 8 && (bits >> (8 * width - 1))) {
          expected =
              std::to_string(static_cast<int64_t>(bits) - (int64_t{1} << (8 * width))) + " dec";
        } else if (isSigned) {
          expected = std::to_string(static_cast<int64_t>(bits)) + " dec";
        } else {
          expected = std::to_string(bits) + " dec";
        }
        const std::string shown = Show(type, hex, bytes);
        ASSERT_EQ(shown, expected) << "type " << type << " bytes " << Hex(bytes);
        ASSERT_EQ(Hex(Parse(type, hex, shown)), Hex(bytes)) << "type " << type << " " << shown;
      }
    }
  }
}

// A REAL or LREAL read, shown and written back reaches the slave unchanged:
// the display keeps "%g"'s six digits where they give back the same value and
// takes more only where they would not.
TEST(AttrValueText, RealsRoundTripThroughTheirText) {
  uint64_t x = 0x2545F4914F6CDD1D;
  for (int i = 0; i < 4000; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    const int type = i % 2 ? ATTR_LREAL : ATTR_REAL;
    const int width = AttrTypeWidth(type);
    // Every other value has few significant digits, so that "%g" shows it whole.
    Bytes bytes(static_cast<size_t>(width));
    if (i % 4 < 2) {
      const double simple = static_cast<double>(static_cast<int64_t>(x % 2000001) - 1000000) *
                            std::pow(10.0, static_cast<int>(x % 41) - 20) / 1000.0;
      char text[64];
      std::snprintf(text, sizeof text, "%.3e", simple);
      bytes = Parse(type, 0, text);
    } else {
      for (int b = 0; b < width; ++b) bytes[b] = static_cast<uint8_t>(x >> (8 * b));
    }
    double value;
    if (type == ATTR_REAL) {
      float f;
      std::memcpy(&f, bytes.data(), sizeof f);
      value = f;
    } else {
      std::memcpy(&value, bytes.data(), sizeof value);
    }
    if (std::isnan(value)) continue;
    const std::string shown = Show(type, 0, bytes);
    ASSERT_EQ(Hex(Parse(type, 0, shown)), Hex(bytes)) << "type " << type << " shown " << shown;
    char six[64];
    const auto r = std::to_chars(six, six + sizeof six, value, std::chars_format::general, 6);
    const std::string g(six, r.ptr);
    if (Hex(Parse(type, 0, g)) == Hex(bytes)) {
      ASSERT_EQ(shown, g) << "type " << type;
      continue;
    }
    // Otherwise still "%g", with as many more digits as needed.
    bool styled = false;
    for (int digits = 7; digits <= 17 && !styled; ++digits) {
      char more[64];
      const auto m =
          std::to_chars(more, more + sizeof more, value, std::chars_format::general, digits);
      styled = shown == std::string(more, m.ptr);
    }
    ASSERT_TRUE(styled) << "type " << type << " shown " << shown;
  }
}

TEST(AttrValueText, ParseHexBytesStopsAtTheFirstBadToken) {
  const struct {
    const char* text;
    Bytes bytes;
  } cases[] = {
      {"a1 bc 73", {0xA1, 0xBC, 0x73}},
      {"1 2 3", {0x01, 0x02, 0x03}},
      {"a1 bcd 73", {0xA1}},
      {"0x12", {}},
      {"a1,bc", {}},
      {"\ta1", {}},
      {"a1\tbc", {}},
      {"a1 bc\n", {0xA1}},
      {"   A1   b  ", {0xA1, 0x0B}},
      {"fff", {}},
      {"g1", {}},
      {"", {}},
      {"A1 BC 73 hex", {0xA1, 0xBC, 0x73}},  // an echo read again
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(HexBytes(c.text)), Hex(c.bytes)) << '"' << c.text << '"';
  }
}

TEST(AttrValueText, ParseHexBytesTakesAtMostItsLimit) {
  const Bytes thousand = HexBytes(Tokens(1001));
  ASSERT_EQ(thousand.size(), 1000u);
  EXPECT_EQ(thousand[999], 999 & 0xFF);
  EXPECT_EQ(HexBytes(Tokens(1000)).size(), 1000u);
  EXPECT_EQ(Hex(HexBytes("a1 bc 73 44", 3)), "A1 BC 73 ");
  EXPECT_EQ(HexBytes("a1", 0).size(), 0u);
  EXPECT_EQ(ParseHexBytes(nullptr, nullptr, 10), 0);
}

TEST(AttrValueText, ScanIntegerReadsLikeScanf) {
  const struct {
    const char* text;
    int hex;
    uint64_t value;
    bool nonZero;
  } cases[] = {
      {"  +12", 0, 12, true},
      {"\n\t\v\f\r7", 0, 7, true},
      {"-0", 0, 0, false},
      {"0x1A", 1, 0x1A, true},
      {"0X1a", 1, 0x1A, true},
      {"0x", 1, 0, false},
      {"0xg", 1, 0, false},
      {"0x12", 0, 0, false},
      {"1 hex", 1, 1, true},
      {"12 dec", 1, 0x12, true},
      {"1A hex", 0, 1, true},
      {"- 5", 0, 0, false},
      {"+-5", 0, 0, false},
      {"-1", 1, 0xFFFFFFFFFFFFFFFF, true},
      {"18446744073709551616", 0, 0, true},
      {"99999999999999999999", 0, 0x6BC75E2D630FFFFF, true},
      {"", 0, 0, false},
  };
  for (const auto& c : cases) {
    bool nonZero = !c.nonZero;
    EXPECT_EQ(ScanInteger(c.text, c.hex, &nonZero), c.value) << '"' << c.text << '"';
    EXPECT_EQ(nonZero, c.nonZero) << '"' << c.text << '"';
  }
  EXPECT_EQ(ScanInteger(nullptr, 1), 0u);
}

// A write carries at most 255 bytes: longer entries are cut to what goes out,
// and the echo shows exactly that.
TEST(AttrValueText, LongEntriesAreCutToOneWrite) {
  for (int len : {0, 1, 254, 255, 256, 1000, 2999}) {
    std::string text;
    for (int i = 0; i < len; ++i) text += static_cast<char>('a' + i % 26);
    const size_t kept = std::min<size_t>(text.size(), MAX_WRITE_BYTES);

    const Bytes str = Parse(ATTR_STRING, 0, text);
    ASSERT_EQ(str.size(), kept) << len;
    EXPECT_EQ(std::string(str.begin(), str.end()), text.substr(0, kept));
    EXPECT_EQ(Show(ATTR_STRING, 0, str), text.substr(0, kept));

    // The count byte holds the characters sent; 256 must not become 0.
    const size_t chars = std::min<size_t>(text.size(), MAX_SHORT_STRING);
    const Bytes shortStr = Parse(ATTR_SHORT_STRING, 0, text);
    ASSERT_EQ(shortStr.size(), chars + 1) << len;
    EXPECT_EQ(shortStr[0], chars) << len;
    EXPECT_EQ(Show(ATTR_SHORT_STRING, 0, shortStr), text.substr(0, chars));
  }
  for (int tokens : {255, 256, 1000}) {
    const Bytes raw = Parse(ATTR_RAW_HEX, 1, Tokens(tokens));
    ASSERT_EQ(raw.size(), std::min(tokens, MAX_WRITE_BYTES)) << tokens;
    EXPECT_EQ(raw.back(), (raw.size() - 1) & 0xFF);
    const std::string echo = Show(ATTR_RAW_HEX, 1, raw);
    EXPECT_EQ(echo.size(), 3 * raw.size() + 3);
    EXPECT_EQ(echo.substr(echo.size() - 9), "FD FE hex");
  }
}

TEST(AttrValueText, EntryNeverWritesPastTheValueArea) {
  EXPECT_EQ(Hex(Parse(ATTR_DINT, 1, "11223344", 2)), "44 33 ");
  EXPECT_EQ(Hex(Parse(ATTR_SHORT_STRING, 0, "abc", 2)), "01 61 ");
  EXPECT_EQ(Hex(Parse(ATTR_STRING, 0, "abc", 2)), "61 62 ");
  EXPECT_EQ(Hex(Parse(ATTR_RAW_HEX, 0, "1 2 3", 2)), "01 02 ");
  for (int type = 0; type < ATTR_TYPE_COUNT; ++type) {
    EXPECT_TRUE(Parse(type, 1, "12", 0).empty()) << type;
  }
  EXPECT_EQ(ParseAttrValue(ATTR_DINT, 0, "1", nullptr, 4), 0);
  EXPECT_EQ(Hex(Parse(ATTR_DINT, 0, "", 4)), Hex(Bytes(4, 0)));
  uint8_t value[4] = {9, 9, 9, 9};
  EXPECT_EQ(ParseAttrValue(ATTR_UDINT, 0, nullptr, value, 4), 4);
  EXPECT_EQ(Hex(Bytes(value, value + 4)), "00 00 00 00 ");
}

// 998 raw bytes fill the 3000-character value text; more are cut, visibly.
TEST(AttrValueText, RawBytesBeyondTheTextAreaAreCutVisibly) {
  Bytes response(MAX_RESPONSE_BYTES);
  for (size_t i = 0; i < response.size(); ++i) response[i] = static_cast<uint8_t>(i * 7);
  for (int count : {997, 998, 999, 1000, 5000}) {
    Bytes bytes = response;
    bytes.resize(static_cast<size_t>(count), 0x5A);
    const std::string text = Show(ATTR_RAW_HEX, 0, bytes);
    const bool whole = count <= 998;
    const std::string tail = whole ? "hex" : "... hex";
    ASSERT_GE(text.size(), tail.size()) << count;
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << count;
    EXPECT_EQ(text.find("..."), whole ? std::string::npos : text.size() - 7) << count;
    const size_t shown = (text.size() - tail.size()) / 3;
    EXPECT_EQ(shown, whole ? static_cast<size_t>(count) : 997u) << count;
    EXPECT_EQ(text.substr(0, 3 * shown), Hex(Bytes(bytes.begin(), bytes.begin() + shown)));
  }
}

// Whatever the area, nothing is written past it and the text ends inside it.
TEST(AttrValueText, DisplayNeverWritesPastASmallArea) {
  Bytes bytes(40);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0x30 + i);
  bytes[0] = 39;  // SHORT_STRING count
  for (int type = 0; type < ATTR_TYPE_COUNT; ++type) {
    const std::string whole = Show(type, 0, bytes);
    for (int size = 0; size <= 24; ++size) {
      const std::string text = Show(type, 0, bytes, size);
      if (type == ATTR_RAW_HEX) {
        // A cut list still says that it was cut, as far as the area allows.
        EXPECT_EQ(text, (Hex(bytes).substr(0, 3 * std::max(0, (size - 8) / 3)) + "... hex")
                            .substr(0, size > 0 ? static_cast<size_t>(size - 1) : 0))
            << size;
      } else {
        EXPECT_EQ(text, whole.substr(0, size > 0 ? static_cast<size_t>(size - 1) : 0))
            << "type " << type << " size " << size;
      }
    }
  }
  EXPECT_EQ(FormatAttrValue(ATTR_DINT, 0, bytes.data(), 4, nullptr, 10), 0);
}

TEST(AttrValueText, UnknownTypeCodesGiveNothing) {
  for (int type : {-1, ATTR_TYPE_COUNT, 99}) {
    EXPECT_TRUE(Parse(type, 1, "12 34").empty()) << type;
    EXPECT_EQ(Show(type, 1, {0x12, 0x34}), "") << type;
    EXPECT_EQ(AttrTypeWidth(type), 0) << type;
    EXPECT_EQ(AttrTypeRadioId(type), 0) << type;
  }
}

TEST(AttrValueText, TypeTable) {
  const struct {
    int type, radioId, width;
    bool radix;
  } rows[] = {
      {ATTR_RAW_HEX, 1045, 0, false}, {ATTR_BOOL, 1046, 1, false},
      {ATTR_SINT, 1047, 1, true},     {ATTR_INT, 1048, 2, true},
      {ATTR_DINT, 1050, 4, true},     {ATTR_LINT, 1049, 8, true},
      {ATTR_USINT, 1051, 1, true},    {ATTR_UINT, 1052, 2, true},
      {ATTR_UDINT, 1054, 4, true},    {ATTR_ULINT, 1053, 8, true},
      {ATTR_REAL, 1055, 4, false},    {ATTR_LREAL, 1056, 8, false},
      {ATTR_STRING, 1058, 0, false},  {ATTR_SHORT_STRING, 1060, 0, false},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(AttrTypeRadioId(r.type), r.radioId) << r.type;
    EXPECT_EQ(AttrTypeFromRadioId(r.radioId), r.type) << r.type;
    EXPECT_EQ(AttrTypeWidth(r.type), r.width) << r.type;
    EXPECT_EQ(AttrTypeHasRadix(r.type), r.radix) << r.type;
  }
  for (int id : {1044, 1057, 1059, 1061}) EXPECT_EQ(AttrTypeFromRadioId(id), -1) << id;
}

// The decimal point is '.' whatever the C library's locale says.
TEST(AttrValueText, RealsIgnoreTheLocale) {
  const char* names[] = {"de_DE.UTF-8", "de_DE", "German_Germany.1252", "German", "deu"};
  bool comma = false;
  for (const char* name : names) {
    if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',') {
      comma = true;
      break;
    }
  }
  if (!comma) {
    std::setlocale(LC_ALL, "C");
    GTEST_SKIP() << "no locale with a decimal comma on this machine";
  }
  const Bytes real = Parse(ATTR_REAL, 0, "1.5");
  const Bytes lreal = Parse(ATTR_LREAL, 0, "2.25e-3");
  std::string longText = "1." + std::string(800, '0') + "1";
  const Bytes longReal = Parse(ATTR_LREAL, 0, longText);
  const std::string realText = Show(ATTR_REAL, 0, real);
  const std::string lrealText = Show(ATTR_LREAL, 0, lreal);
  const std::string commaText = Show(ATTR_REAL, 0, Parse(ATTR_REAL, 0, "1,5"));
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(Hex(real), "00 00 C0 3F ");
  EXPECT_EQ(realText, "1.5");
  EXPECT_EQ(lrealText, "0.00225");
  EXPECT_EQ(Show(ATTR_LREAL, 0, longReal), "1");
  EXPECT_EQ(commaText, "1");
}

}  // namespace
