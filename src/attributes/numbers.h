// Reading and writing numbers without the C library's scanf and printf, so
// that 64-bit values and the decimal point read and show alike on every
// platform and in every locale. Used by value_text.cpp only.
#pragma once

#include <cstdint>

namespace attributes {

// The digit's value in `base` (10 or 16), or -1.
int DigitValue(char c, int base);

// Read like scanf's "%f" / "%lf" from the start of `text`: white space
// skipped, an optional sign, then the longest decimal floating-point number,
// "inf", "infinity" or "nan" that starts there. A value beyond the type's
// range gives infinity, one too small for it zero, both with the number's
// sign. 0 when no number can be read.
float ScanFloat(const char* text);
double ScanDouble(const char* text);

// Reads exactly the characters from `begin` to `end` as one integer, with
// nothing before or after it: in base 10 an optional sign and decimal
// digits, in base 16 an optional 0x prefix and hexadecimal digits, no sign.
// False for anything else and for a magnitude beyond 64 bits.
bool ReadWholeInteger(const char* begin, const char* end, int base, bool* negative,
                      uint64_t* magnitude);

// True when the characters from `begin` to `end` are exactly one number as
// ScanFloat / ScanDouble read it (an optional sign, then a decimal number
// with optional point and exponent, or inf, infinity or nan) and the type
// holds it: not beyond its largest value, and not so close to zero that
// only zero is left of a non-zero number.
bool IsWholeFloat(const char* begin, const char* end);
bool IsWholeDouble(const char* begin, const char* end);

// Longest text the Format functions below produce, the zero included.
constexpr int NUMBER_TEXT_SIZE = 32;

// Writes `value` as "%llu" (hex clear) or "%llX" (hex set) into `out` and
// returns the length.
int FormatUnsigned(uint64_t value, bool hex, char (&out)[NUMBER_TEXT_SIZE]);

// Writes `value` as "%lld" into `out` and returns the length.
int FormatSigned(int64_t value, char (&out)[NUMBER_TEXT_SIZE]);

// Writes `value` as "%g" (at least two exponent digits) into `out` and
// returns the length. Six significant digits, or as many more as it takes for
// the text to read back as the same value: a value read, shown and written
// back must reach the slave unchanged.
int FormatFloat(float value, char (&out)[NUMBER_TEXT_SIZE]);
int FormatDouble(double value, char (&out)[NUMBER_TEXT_SIZE]);

}  // namespace attributes
