// Attribute data types and the conversions between value bytes, as they
// travel in an explicit message, and the value text of the attribute dialogs.
//
// Plain functions of their arguments: they report nothing and never touch
// the program state. The conversions never fail: an unreadable number
// becomes 0, a raw byte list ends at its first bad token, a value too wide
// for its type keeps its low-order bytes. The Write dialog reads its value
// with ParseAttrValueStrict instead, which refuses all of those, so that
// nothing goes out that the user did not type.
// Numbers are read and written here, not by the C library, so that every
// platform and locale reads and shows the same text.
#pragma once

#include <cstdint>

namespace attributes {

// Type codes as kept in AppState::AttrType.
enum AttrDataType : int {
  ATTR_RAW_HEX = 0,  // the bytes themselves, shown as "A1 BC hex"
  ATTR_BOOL = 1,
  ATTR_SINT = 2,
  ATTR_INT = 3,
  ATTR_DINT = 4,
  ATTR_LINT = 5,
  ATTR_USINT = 6,
  ATTR_UINT = 7,
  ATTR_UDINT = 8,
  ATTR_ULINT = 9,
  ATTR_REAL = 10,          // IEEE 754 single precision
  ATTR_LREAL = 11,         // IEEE 754 double precision
  ATTR_STRING = 12,        // the characters only
  ATTR_SHORT_STRING = 13,  // one count byte, then the characters
};
constexpr int ATTR_TYPE_COUNT = 14;

constexpr int MAX_HEX_BYTES = 1000;       // ParseHexBytes takes at most this many bytes
constexpr int MAX_WRITE_BYTES = 255;      // a write's byte count is 8 bits wide
constexpr int MAX_SHORT_STRING = 254;     // characters of a SHORT_STRING that fit one write
constexpr int MAX_RESPONSE_BYTES = 1000;  // a read response is formatted up to this size

// Bytes on the wire of the fixed-width types (BOOL to LREAL); 0 for raw hex
// bytes, STRING, SHORT_STRING and codes outside 0..13.
int AttrTypeWidth(int type);

// True for the eight integer types 2..9, whose entry and display follow the
// value radix ("hex" box 1057); the others ignore it.
bool AttrTypeHasRadix(int type);

// True for the four signed integer types SINT, INT, DINT and LINT.
bool AttrTypeIsSigned(int type);

// The Data Type group's radio button id of a type code (1045..1060), 0 for an
// unknown code. The ids do not follow the codes: 1049 is LINT, 1050 DINT,
// 1053 ULINT, 1054 UDINT.
int AttrTypeRadioId(int type);

// The type code of a radio button id, or -1 when the id is not one of them.
int AttrTypeFromRadioId(int radioId);

// Reads an integer from the start of `text` as scanf's "%d" (inHex clear) or
// "%x" (inHex set) would: white space skipped, an optional sign, in hex an
// optional 0x prefix, digits up to the first character that cannot continue
// the number. Returns the number's low 64 bits (a negative number in two's
// complement), 0 when no number can be read. `nonZero` (may be null) tells
// whether the number read was non-zero before it was cut to 64 bits. The ID
// fields of the attribute dialogs read their numbers the same way.
uint64_t ScanInteger(const char* text, int inHex, bool* nonZero = nullptr);

// Reads a raw byte list: tokens of one or two hexadecimal digits separated by
// blanks (the space character only). The scan stops at the first character
// that is neither, at a token not followed by a blank or the end, or after
// min(capacity, MAX_HEX_BYTES) bytes. Returns the number of bytes stored in
// `bytes`; nothing is written past that count.
int ParseHexBytes(const char* text, uint8_t* bytes, int capacity);

// Turns the Send Value text into the value bytes of a write, `type` and
// `valueInHex` as in AppState. Returns the byte count (at most
// MAX_WRITE_BYTES and at most `capacity`) and writes only that many bytes to
// `value`. An entry that needs more than fits one write is cut to what fits:
// STRING to 255 characters, SHORT_STRING to 254 (its count byte is the
// number of characters kept), raw bytes to the first 255. An unknown type
// gives no bytes. FormatAttrValue of the result is the echo: for STRING and
// SHORT_STRING that is the typed text, as far as it is sent.
uint8_t ParseAttrValue(int type, int valueInHex, const char* text, uint8_t* value, int capacity);

// The Write dialog's reading of Send Value: the text must be exactly one
// value of the type, or nothing is sent. True, with the value bytes in
// `value` and their number in `count`, when it is; false, writing nothing,
// when it is not:
// - BOOL and the integer types: one number within the type's range, blanks
//   and tabs around it allowed. Decimal is an optional sign and digits;
//   hexadecimal (the radix box set, integer types only) an optional 0x and
//   digits, no sign, 0 to the type's all-ones pattern. A final " hex" or
//   " dec", as the echo and the read display end, says the number's radix
//   and overrides the box, so a value shown is sent as shown.
// - REAL, LREAL: one decimal number (or inf, infinity, nan) that the type
//   holds: not beyond its largest value, not a non-zero number that would
//   become zero. Blanks and tabs around it allowed.
// - raw hex bytes: tokens of one or two hexadecimal digits separated by
//   blanks, up to MAX_WRITE_BYTES of them, optionally ending in "hex".
// - STRING up to MAX_WRITE_BYTES characters, SHORT_STRING up to
//   MAX_SHORT_STRING, taken as typed.
// An accepted text gives the bytes ParseAttrValue gives for it in its
// radix, so FormatAttrValue of them reads back to the same bytes. False as
// well for an unknown type or a `capacity` too small for the value.
bool ParseAttrValueStrict(int type, int valueInHex, const char* text, uint8_t* value, int capacity,
                          uint8_t* count);

// What ParseAttrValueStrict takes for a numeric type, as the refusal says
// it: "0...1" for BOOL, "-128...127" or "0...FF hex" for the integer types
// (hexadecimal when `valueInHex` is set), "-3.4028235e+38...3.4028235e+38"
// for REAL and its LREAL counterpart. Written into `text` (`textSize`
// characters with the zero) like FormatAttrValue; an empty text for the
// other types, whose limit is AttrTypeMaxLength. Returns the length.
int FormatAttrRange(int type, int valueInHex, char* text, int textSize);

// Most raw bytes (raw hex bytes) or characters (STRING, SHORT_STRING) one
// write takes; 0 for the other types.
int AttrTypeMaxLength(int type);

// Formats `count` value bytes as the dialogs show them into `text`, an area
// of `textSize` characters (the terminating zero included; AttrValueText has
// 3000). Fixed-width types read only their own bytes, missing ones as zero;
// STRING shows the bytes up to the first zero byte, SHORT_STRING the number
// of bytes its first byte gives, as far as the bytes reach. Raw bytes that do
// not all fit (more than 998 in 3000 characters) show as many as fit followed
// by "... hex". REAL and LREAL show as "%g", with more than six significant
// digits only where six would not read back as the same value. Never writes
// past the area; the text always ends with a zero
// when textSize is positive. Returns the length of the text. An unknown type
// gives an empty text.
int FormatAttrValue(int type, int valueInHex, const uint8_t* value, int count, char* text,
                    int textSize);

}  // namespace attributes
