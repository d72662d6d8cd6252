// The window texts that need no window: list lines, binary digits, the hex
// and address fields, the scrambled maker lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/maker_text.h"
#include "ui/view_text.h"

namespace {

TEST(ByteToBinary, WritesTheLowBitsMostSignificantFirst) {
  char text[33];
  ui::ByteToBinary(0xA5, 8, text);
  EXPECT_STREQ(text, "10100101");
  ui::ByteToBinary(0x1FF, 8, text);  // only the digits asked for
  EXPECT_STREQ(text, "11111111");
  ui::ByteToBinary(0x5, 4, text);
  EXPECT_STREQ(text, "0101");
  ui::ByteToBinary(0x80000001u, 32, text);
  EXPECT_STREQ(text, "10000000000000000000000000000001");
  ui::ByteToBinary(1, 0, text);
  EXPECT_STREQ(text, "");
}

TEST(ListLine, IndexHexBinaryAndCharacterSeparatedByTabs) {
  struct Case {
    uint32_t index;
    uint8_t value;
    const char* line;
  };
  const Case cases[] = {
      {3, 0x41, "3:\t41h\t01000001\tA"},   {0, 0x00, "0:\t00h\t00000000\t."},
      {7, 0x0D, "7:\t0Dh\t00001101\t."},  // control character
      {12, 0x7E, "12:\t7Eh\t01111110\t~"}, {999, 0x7F, "999:\t7Fh\t01111111\t."},  // DEL
      {1, 0xE4, "1:\tE4h\t11100100\t."},                                           // above 7 bits
      {2, 0x20, "2:\t20h\t00100000\t "},   {5, 0xFF, "5:\tFFh\t11111111\t."},
  };
  for (const Case& c : cases) {
    char line[ui::LIST_LINE_SIZE];
    size_t length = ui::FormatListLine(c.index, c.value, line, sizeof line);
    EXPECT_STREQ(line, c.line) << "byte " << c.index;
    EXPECT_EQ(length, std::strlen(c.line));
  }
}

TEST(ListLine, ShortBufferIsCutAndTerminated) {
  char line[6];
  std::memset(line, 'x', sizeof line);
  ui::FormatListLine(3, 0x41, line, sizeof line);
  EXPECT_STREQ(line, "3:\t41");
}

// The hex field takes one byte and nothing else: no digit is dropped, no
// text cut, no number wrapped to a byte.
TEST(HexField, TakesExactlyOneByte) {
  struct Case {
    const char* text;
    bool ok;
    uint8_t value;
  };
  const Case cases[] = {
      {"a5", true, 0xA5},       {"A5", true, 0xA5},  {"  7f ", true, 0x7F}, {"0x1c", true, 0x1C},
      {"0X1C", true, 0x1C},     {"5", true, 0x05},   {"0", true, 0},        {"FF", true, 0xFF},
      {"00ff", true, 0xFF},     {"3Ch", true, 0x3C}, {"3c H", false, 0},    {"1FF", false, 0},
      {"100", false, 0},        {"AZZ", false, 0},   {"12zz", false, 0},    {"ZZ", false, 0},
      {"", false, 0},           {"   ", false, 0},   {"-1", false, 0},      {"+12", false, 0},
      {"0x", false, 0},         {"0xg", false, 0},   {"x5", false, 0},      {"1 2", false, 0},
      {"FFFFFFFFFF", false, 0}, {"h", false, 0},
  };
  for (const Case& c : cases) {
    uint8_t value = 0x5A;
    EXPECT_EQ(ui::ParseHexByte(c.text, value), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(value, c.ok ? c.value : 0x5A) << '"' << c.text << '"';
  }
}

TEST(AddressField, TakesOnlyWholeDecimalNumbersUpTo63) {
  struct Case {
    const char* text;
    bool ok;
    int address;
  };
  const Case cases[] = {
      {"0", true, 0},     {"63", true, 63},          {" 12 ", true, 12}, {"007", true, 7},
      {"64", false, 0},   {"99999999999", false, 0}, {"", false, 0},     {"ab", false, 0},
      {"12ab", false, 0}, {"-1", false, 0},          {"+5", false, 0},   {"1 2", false, 0},
      {"0x3", false, 0},
  };
  for (const Case& c : cases) {
    int address = -7;
    EXPECT_EQ(ui::ParseAddressField(c.text, address), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(address, c.ok ? c.address : -7) << '"' << c.text << '"';
  }
}

TEST(MakerText, LinesUnscrambleAndArePlainNowhereInTheStore) {
  char maker[ui::MAKER_TEXT_SIZE];
  char notice[ui::MAKER_TEXT_SIZE];
  ASSERT_GT(ui::MakerLine(maker, sizeof maker), 0u);
  ASSERT_GT(ui::NoticeLine(notice, sizeof notice), 0u);
  EXPECT_NE(std::string(maker).find("Korvath"), std::string::npos);
  EXPECT_NE(std::string(notice).find("Korvath"), std::string::npos);

  size_t length = 0;
  const uint8_t* stored = ui::StoredMakerLine(length);
  ASSERT_EQ(length, std::strlen(maker));
  const std::string bytes(reinterpret_cast<const char*>(stored), length);
  EXPECT_EQ(bytes.find("Korvath"), std::string::npos);
  // No byte may pass through unchanged, or parts of the text would show.
  for (size_t i = 0; i < length; ++i) EXPECT_NE(stored[i], static_cast<uint8_t>(maker[i])) << i;
}

TEST(MakerText, ScrambleAndUnscrambleAreInverseAndCutSafely) {
  constexpr auto scrambled = ui::Scramble("Hello, fieldbus");
  char text[32];
  EXPECT_EQ(ui::Unscramble(scrambled.bytes, scrambled.length, text, sizeof text), 15u);
  EXPECT_STREQ(text, "Hello, fieldbus");
  EXPECT_EQ(ui::Unscramble(scrambled.bytes, scrambled.length, text, 6), 5u);
  EXPECT_STREQ(text, "Hello");
}

}  // namespace
