#include "attributes/numbers.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "attributes/attributes.h"

namespace attributes {

namespace {

// scanf's white space in the "C" locale, whatever the locale is.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

const char* SkipSpace(const char* p) {
  while (IsSpace(*p)) ++p;
  return p;
}

// For a decimal number that does not fit the type (from_chars says only
// "out of range"): true when it is too large, false when too small. Decided
// by the power of ten of its leading significant digit.
bool TooLarge(const char* p) {
  long order = 0;
  bool found = false;
  for (; IsDigit(*p); ++p) {
    if (found) {
      ++order;
    } else if (*p != '0') {
      found = true;
    }
  }
  if (*p == '.') {
    for (++p; IsDigit(*p); ++p) {
      if (!found) {
        --order;
        found = *p != '0';
      }
    }
  }
  if (!found) return false;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = *q++ == '-';
    long exponent = 0;
    for (; IsDigit(*q); ++q) {
      if (exponent < 1000000) exponent = exponent * 10 + (*q - '0');
    }
    order += negative ? -exponent : exponent;
  }
  return order >= 0;
}

template <typename T>
T ScanReal(const char* text) {
  if (!text) return 0;
  const char* p = SkipSpace(text);
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // from_chars takes a minus of its own; scanf allows one sign only.
  if (*p == '+' || *p == '-') return 0;
  T value = 0;
  const std::from_chars_result r =
      std::from_chars(p, p + std::strlen(p), value, std::chars_format::general);
  if (r.ec == std::errc::invalid_argument) return 0;
  if (r.ec == std::errc::result_out_of_range) {
    value = TooLarge(p) ? std::numeric_limits<T>::infinity() : T(0);
  }
  return negative ? -value : value;
}

template <typename T>
bool IsWholeReal(const char* begin, const char* end) {
  const char* p = begin;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  // from_chars takes a minus of its own; one sign only.
  if (p == end || *p == '+' || *p == '-') return false;
  T value = 0;
  const std::from_chars_result r = std::from_chars(p, end, value, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == end;
}

// "%.Pg" with the least P from 6 up that reads back as `value`; infinities
// and NaN read back as themselves (NaN without its payload) at 6.
template <typename T>
int FormatReal(T value, char (&out)[NUMBER_TEXT_SIZE]) {
  const int most = std::numeric_limits<T>::max_digits10;
  int n = 0;
  for (int digits = 6; digits <= most; ++digits) {
    const std::to_chars_result r =
        std::to_chars(out, out + NUMBER_TEXT_SIZE - 1, static_cast<double>(value),
                      std::chars_format::general, digits);
    n = r.ec == std::errc() ? static_cast<int>(r.ptr - out) : 0;
    T back = 0;
    const std::from_chars_result b = std::from_chars(out, out + n, back);
    if (!std::isfinite(value) || (b.ec == std::errc() && back == value)) break;
  }
  out[n] = '\0';
  return n;
}

}  // namespace

int DigitValue(char c, int base) {
  if (IsDigit(c)) return c - '0';
  if (base == 16) {
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  }
  return -1;
}

uint64_t ScanInteger(const char* text, int inHex, bool* nonZero) {
  if (nonZero) *nonZero = false;
  if (!text) return 0;
  const int base = inHex ? 16 : 10;
  const char* p = SkipSpace(text);
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // A 0x prefix counts only when a digit follows; "0xg" reads as 0.
  if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2], 16) >= 0) {
    p += 2;
  }
  uint64_t value = 0;
  bool digits = false;
  bool anyNonZero = false;
  for (int d; (d = DigitValue(*p, base)) >= 0; ++p) {
    // Wraps above 64 bits: only the low-order bytes are ever sent.
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    digits = true;
    anyNonZero = anyNonZero || d != 0;
  }
  if (!digits) return 0;
  if (nonZero) *nonZero = anyNonZero;
  return negative ? 0 - value : value;
}

bool ReadWholeInteger(const char* begin, const char* end, int base, bool* negative,
                      uint64_t* magnitude) {
  const char* p = begin;
  bool minus = false;
  if (base == 10 && p < end && (*p == '+' || *p == '-')) minus = *p++ == '-';
  if (base == 16 && end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  if (p == end) return false;
  const uint64_t b = static_cast<uint64_t>(base);
  uint64_t value = 0;
  for (; p < end; ++p) {
    const int d = DigitValue(*p, base);
    if (d < 0) return false;
    const uint64_t digit = static_cast<uint64_t>(d);
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / b) return false;
    value = value * b + digit;
  }
  *negative = minus;
  *magnitude = value;
  return true;
}

bool IsWholeFloat(const char* begin, const char* end) {
  return IsWholeReal<float>(begin, end);
}

bool IsWholeDouble(const char* begin, const char* end) {
  return IsWholeReal<double>(begin, end);
}

float ScanFloat(const char* text) {
  return ScanReal<float>(text);
}

double ScanDouble(const char* text) {
  return ScanReal<double>(text);
}

int FormatUnsigned(uint64_t value, bool hex, char (&out)[NUMBER_TEXT_SIZE]) {
  static const char kDigits[] = "0123456789ABCDEF";
  const uint64_t base = hex ? 16 : 10;
  char reversed[NUMBER_TEXT_SIZE];
  int n = 0;
  do {
    reversed[n++] = kDigits[value % base];
    value /= base;
  } while (value != 0);
  for (int i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
  out[n] = '\0';
  return n;
}

int FormatSigned(int64_t value, char (&out)[NUMBER_TEXT_SIZE]) {
  if (value >= 0) return FormatUnsigned(static_cast<uint64_t>(value), false, out);
  char digits[NUMBER_TEXT_SIZE];
  // 0 - value in unsigned arithmetic: INT64_MIN has no positive counterpart.
  const int n = FormatUnsigned(0 - static_cast<uint64_t>(value), false, digits);
  out[0] = '-';
  std::memcpy(out + 1, digits, static_cast<size_t>(n) + 1);
  return n + 1;
}

int FormatFloat(float value, char (&out)[NUMBER_TEXT_SIZE]) {
  return FormatReal(value, out);
}

int FormatDouble(double value, char (&out)[NUMBER_TEXT_SIZE]) {
  return FormatReal(value, out);
}

}  // namespace attributes
