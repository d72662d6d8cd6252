// Value texts of every attribute type, both radixes, texts up to 2999
// characters and responses up to 1000 bytes: entry and display never touch
// memory outside their areas, the echo fits its area, and the echo read
// again gives the same echo (and the same bytes, but for NaN payloads).
// The strict reading of a Write accepts its own echo of what it took.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "attributes/attributes.h"

using namespace attributes;

namespace {

constexpr int kTextChars = 2999;   // what a dialog's text field holds
constexpr int kValueText = 3000;   // AttrValueText
constexpr int kWriteValue = 1000;  // WriteValue

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsNan(int type, const uint8_t* v, int n) {
  if (type == ATTR_REAL && n == 4) {
    float f;
    std::memcpy(&f, v, sizeof f);
    return std::isnan(f);
  }
  if (type == ATTR_LREAL && n == 8) {
    double d;
    std::memcpy(&d, v, sizeof d);
    return std::isnan(d);
  }
  return false;
}

// Formats into an area of exactly `size` characters on the heap, so that a
// write past it is caught.
int Format(int type, int hex, const uint8_t* value, int count, int size, char* copy) {
  std::unique_ptr<char[]> area(new char[static_cast<size_t>(size)]);
  const int len = FormatAttrValue(type, hex, value, count, area.get(), size);
  Check(len >= 0 && len < size && std::strlen(area.get()) == static_cast<size_t>(len));
  if (copy) std::memcpy(copy, area.get(), static_cast<size_t>(len) + 1);
  return len;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int type = data[0] % 18 - 2;  // two unknown codes on either side
  const int hex = data[1] & 1;
  const int capacity = 1 + (data[1] >> 1) * 8;  // 1..1017: below and above the 255 of a write
  const int smallArea = 1 + data[2] % 64;
  data += 3;
  size -= 3;

  // The rest is the typed text and, read as bytes, a response.
  const size_t chars = size < kTextChars ? size : kTextChars;
  std::unique_ptr<char[]> text(new char[chars + 1]);
  std::memcpy(text.get(), data, chars);
  text[chars] = '\0';
  const int count = static_cast<int>(size < MAX_RESPONSE_BYTES ? size : MAX_RESPONSE_BYTES);
  std::unique_ptr<uint8_t[]> response(new uint8_t[static_cast<size_t>(count) + 1]);
  std::memcpy(response.get(), data, static_cast<size_t>(count));
  Format(type, hex, response.get(), count, kValueText, nullptr);
  Format(type, hex, response.get(), count, smallArea, nullptr);

  std::unique_ptr<uint8_t[]> bytes(new uint8_t[MAX_HEX_BYTES]);
  const int found = ParseHexBytes(text.get(), bytes.get(), MAX_HEX_BYTES);
  Check(found >= 0 && found <= MAX_HEX_BYTES);
  // A smaller area takes the same bytes as far as they fit, and no more.
  std::unique_ptr<uint8_t[]> few(new uint8_t[static_cast<size_t>(smallArea)]);
  const int kept = ParseHexBytes(text.get(), few.get(), smallArea);
  Check(kept == (found < smallArea ? found : smallArea));
  Check(std::memcmp(few.get(), bytes.get(), static_cast<size_t>(kept)) == 0);

  std::unique_ptr<uint8_t[]> value(new uint8_t[static_cast<size_t>(capacity)]);
  const int n = ParseAttrValue(type, hex, text.get(), value.get(), capacity);
  Check(n <= capacity && n <= MAX_WRITE_BYTES);
  static char echo[kValueText];
  Format(type, hex, value.get(), n, kValueText, echo);

  // The echo stands in the field and is what the next Write reads.
  std::unique_ptr<uint8_t[]> again(new uint8_t[kWriteValue]);
  const int m = ParseAttrValue(type, hex, echo, again.get(), capacity);
  static char echo2[kValueText];
  Format(type, hex, again.get(), m, kValueText, echo2);
  Check(std::strcmp(echo, echo2) == 0);
  if (!IsNan(type, value.get(), n)) {
    Check(m == n && std::memcmp(value.get(), again.get(), static_cast<size_t>(n)) == 0);
  }

  // The strict reading of a Write: what it accepts fits the area and one
  // write, its echo is accepted again and gives back the same value.
  std::unique_ptr<uint8_t[]> strict(new uint8_t[static_cast<size_t>(capacity)]);
  uint8_t taken = 0;
  if (!ParseAttrValueStrict(type, hex, text.get(), strict.get(), capacity, &taken)) return 0;
  Check(type >= 0 && type < ATTR_TYPE_COUNT && taken <= capacity && taken <= MAX_WRITE_BYTES);
  static char shown[kValueText];
  Format(type, hex, strict.get(), taken, kValueText, shown);
  std::unique_ptr<uint8_t[]> back(new uint8_t[static_cast<size_t>(capacity)]);
  uint8_t backCount = 0;
  Check(ParseAttrValueStrict(type, hex, shown, back.get(), capacity, &backCount));
  Check(backCount == taken);
  if (!IsNan(type, strict.get(), taken)) {
    Check(std::memcmp(strict.get(), back.get(), taken) == 0);
  }
  return 0;
}
