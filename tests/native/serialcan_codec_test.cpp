// The serial-line protocol's text: frame lines both ways, the status reply,
// and cutting a byte stream into lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "line_codec.h"

using namespace serialcan;

namespace {

Frame MakeFrame(uint32_t id, bool extended, bool remote, uint8_t len,
                std::initializer_list<uint8_t> data) {
  Frame f{};
  f.id = id;
  f.extended = extended;
  f.remote = remote;
  f.len = len;
  size_t i = 0;
  for (uint8_t b : data) f.data[i++] = b;
  return f;
}

std::string Format(const Frame& f, bool stamped = false, uint16_t stampMs = 0) {
  char out[64];
  const size_t n = FormatFrame(f, stamped, stampMs, out, sizeof out);
  return std::string(out, n);
}

bool Parse(const std::string& line, Frame* f, bool* stamped = nullptr,
           uint16_t* stampMs = nullptr) {
  return ParseFrame(line.data(), line.size(), f, stamped, stampMs);
}

void ExpectSameFrame(const Frame& want, const Frame& got) {
  EXPECT_EQ(want.id, got.id);
  EXPECT_EQ(want.extended, got.extended);
  EXPECT_EQ(want.remote, got.remote);
  ASSERT_EQ(want.len, got.len);
  if (!want.remote) {
    EXPECT_EQ(0, std::memcmp(want.data, got.data, want.len));
  }
}

// Feeds text byte by byte and collects what the splitter reports, one
// letter per event that is not LINE_NONE: "L<line>|", "B|", "O|".
std::string Split(LineSplitter& s, const std::string& text) {
  std::string events;
  for (char c : text) {
    switch (FeedByte(s, c)) {
      case LINE_NONE:
        break;
      case LINE_DONE:
        events += "L" + std::string(s.line, s.length) + "|";
        break;
      case LINE_BELL:
        events += "B|";
        break;
      case LINE_OVERLONG:
        events += "O|";
        break;
    }
  }
  return events;
}

}  // namespace

TEST(SerialCanCodec, FramesBothWays) {
  struct Case {
    Frame frame;
    bool stamped;
    uint16_t stampMs;
    const char* line;
  };
  const Case cases[] = {
      {MakeFrame(0x123, false, false, 2, {0xAA, 0x0B}), false, 0, "t1232AA0B\r"},
      {MakeFrame(0x000, false, false, 0, {}), false, 0, "t0000\r"},
      {MakeFrame(0x7FF, false, false, 8, {1, 2, 3, 4, 5, 6, 7, 0xFF}), false, 0,
       "t7FF801020304050607FF\r"},
      {MakeFrame(0x41C, false, false, 1, {0x5A}), true, 0xBEEF, "t41C15ABEEF\r"},
      {MakeFrame(0x1FFFFFFF, true, false, 8, {0, 0, 0, 0, 0, 0, 0, 0x10}), true, 0x0001,
       "T1FFFFFFF800000000000000100001\r"},
      {MakeFrame(0x00000ABC, true, false, 0, {}), false, 0, "T00000ABC0\r"},
      {MakeFrame(0x321, false, true, 4, {}), false, 0, "r3214\r"},
      {MakeFrame(0x12345, true, true, 8, {}), true, 0x7530, "R0001234587530\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.line, Format(c.frame, c.stamped, c.stampMs));

    std::string line(c.line);
    line.pop_back();  // the CR
    Frame got{};
    bool stamped = !c.stamped;
    uint16_t stampMs = 0xFFFF;
    ASSERT_TRUE(Parse(line, &got, &stamped, &stampMs));
    ExpectSameFrame(c.frame, got);
    EXPECT_EQ(c.stamped, stamped);
    if (c.stamped) {
      EXPECT_EQ(c.stampMs, stampMs);
    }
  }
}

TEST(SerialCanCodec, ReadsLowerCaseHex) {
  Frame f{};
  ASSERT_TRUE(Parse("t7ff2abcd", &f));
  EXPECT_EQ(0x7FFu, f.id);
  EXPECT_EQ(0xAB, f.data[0]);
  EXPECT_EQ(0xCD, f.data[1]);
  ASSERT_TRUE(Parse("T1abcdef01ff00ab", &f));
  EXPECT_EQ(0x1ABCDEF0u, f.id);
}

TEST(SerialCanCodec, FormatRefusesWhatIsNoFrame) {
  char out[64];
  const Frame tooLong = MakeFrame(0x100, false, false, 9, {});
  const Frame stdIdTooBig = MakeFrame(0x800, false, false, 0, {});
  const Frame extIdTooBig = MakeFrame(0x20000000, true, false, 0, {});
  EXPECT_EQ(0u, FormatFrame(tooLong, false, 0, out, sizeof out));
  EXPECT_EQ(0u, FormatFrame(stdIdTooBig, false, 0, out, sizeof out));
  EXPECT_EQ(0u, FormatFrame(extIdTooBig, false, 0, out, sizeof out));

  // "t1232AA0B" and its CR are 10 characters: 9 are too few.
  const Frame f = MakeFrame(0x123, false, false, 2, {0xAA, 0x0B});
  EXPECT_EQ(0u, FormatFrame(f, false, 0, out, 9));
  EXPECT_EQ(10u, FormatFrame(f, false, 0, out, 10));
  // The longest line there is fits LINE_LENGTH_MAX and its CR.
  const Frame longest = MakeFrame(0x1FFFFFFF, true, false, 8, {});
  EXPECT_EQ(LINE_LENGTH_MAX + 1, FormatFrame(longest, true, 0, out, LINE_LENGTH_MAX + 1));
}

TEST(SerialCanCodec, ParseRefusesGarbage) {
  const char* lines[] = {
      "",                           // nothing
      "x1232AABB",                  // no frame letter
      "t12",                        // cut inside the id
      "t123",                       // no length digit
      "t1232AA",                    // one data byte short
      "t1232AABBC",                 // one digit too many
      "t1232AABBCCD",               // three stamp digits
      "t1232AABBCCDDE",             // five stamp digits
      "t1239AABBCCDDEEFF001122",    // length 9
      "t123AAABBCCDDEEFF00112233",  // length digit A
      "t1238AABBCCDDEEFF0011G2",    // a non-hex data digit
      "t12G0",                      // a non-hex id digit
      "t800",                       // no length (and id above 0x7FF)
      "t8000",                      // 11-bit id above 0x7FF
      "tFFF0",                      // likewise
      "T200000000",                 // 29-bit id above 0x1FFFFFFF
      "T1234567",                   // an extended id cut short
      "r1232AABBCC",                // a remote frame carries no data
      "t123-1",                     // a sign is no digit
      "t 1232AABB",                 // nor is a space
      "F00",                        // a status reply is no frame
      "z",                          // nor a transmit answer
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    Frame f = MakeFrame(0x55, false, false, 1, {0x66});
    const Frame before = f;
    EXPECT_FALSE(Parse(line, &f));
    ExpectSameFrame(before, f);  // untouched
  }
}

TEST(SerialCanCodec, StatusReply) {
  uint8_t flags = 0;
  ASSERT_TRUE(ParseStatusReply("F00", 3, &flags));
  EXPECT_EQ(0x00, flags);
  ASSERT_TRUE(ParseStatusReply("Fa5", 3, &flags));
  EXPECT_EQ(0xA5, flags);
  ASSERT_TRUE(ParseStatusReply("FFF", 3, &flags));
  EXPECT_EQ(0xFF, flags);
  for (const char* bad : {"F", "F0", "F000", "f00", "FG0", "t000", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseStatusReply(bad, std::strlen(bad), &flags));
  }
}

TEST(SerialCanCodec, StatusFlagsAsDriverStatus) {
  struct Case {
    uint8_t flags;
    uint32_t status;
  };
  const Case cases[] = {
      {0x00, 0x00}, {0x01, 0x02},  // receive FIFO full
      {0x08, 0x02},                // data overrun
      {0x09, 0x02}, {0x04, 0x04},  // error warning
      {0x20, 0x08},                // error passive
      {0x80, 0x04},                // bus error: one error frame, a warning
      {0x52, 0x00},                // transmit FIFO full, wake-up, arbitration lost: no bus state
      {0xFF, 0x0E}, {0xA4, 0x0C},  // no flag is bus off
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(c.status, DriverStatusFromFlags(c.flags));
  }
}

TEST(SerialCanCodec, BitRateDigits) {
  EXPECT_EQ(4, BitRateDigit(0x031C));
  EXPECT_EQ(5, BitRateDigit(0x011C));
  EXPECT_EQ(6, BitRateDigit(0x001C));
  EXPECT_EQ(-1, BitRateDigit(0x0000));
  EXPECT_EQ(-1, BitRateDigit(0x1C03));  // bytes swapped
  EXPECT_EQ(-1, BitRateDigit(0x0014));
}

TEST(SerialCanCodec, SplitterCutsLines) {
  struct Case {
    const char* stream;
    const char* events;
  };
  const Case cases[] = {
      {"t1232AABB\r", "Lt1232AABB|"},
      {"\r", "L|"},                      // an empty line: a command's answer
      {"z\rt0000\r\r", "Lz|Lt0000|L|"},  // answers and frames in one read
      {"\a", "B|"},                      // a refused command
      {"t12\at0000\r", "B|Lt0000|"},     // a BEL drops the partial line
      {"\a\r", "B|L|"},
      {"t123", ""},  // a partial line waits
      {"F00\rt1", "LF00|"},
      {"z\r\n\r\nt0000\r\n", "Lz|L|Lt0000|"},  // lines ending in CR LF
      {"\nF04\r", "LF04|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stream);
    LineSplitter s{};
    EXPECT_EQ(c.events, Split(s, c.stream));
  }
}

TEST(SerialCanCodec, SplitterTakesALineByteByByteAcrossFeeds) {
  LineSplitter s{};
  const std::string line = "t7FF801020304050607FF";
  for (size_t i = 0; i < line.size(); ++i) {
    ASSERT_EQ(LINE_NONE, FeedByte(s, line[i])) << i;
  }
  ASSERT_EQ(LINE_DONE, FeedByte(s, CR));
  EXPECT_STREQ(line.c_str(), s.line);
  EXPECT_EQ(line.size(), s.length);
  Frame f{};
  EXPECT_TRUE(ParseFrame(s.line, s.length, &f, nullptr, nullptr));
  // The next byte begins a new line.
  EXPECT_EQ(LINE_NONE, FeedByte(s, 'z'));
  EXPECT_EQ(LINE_DONE, FeedByte(s, CR));
  EXPECT_STREQ("z", s.line);
}

TEST(SerialCanCodec, SplitterDropsOverlongLines) {
  LineSplitter s{};
  const std::string longest(LINE_LENGTH_MAX, '1');
  EXPECT_EQ("L" + longest + "|", Split(s, longest + "\r"));

  // One byte more, or very many, and the line is dropped at its CR; the
  // line after it comes through whole.
  for (size_t extra : {size_t{1}, size_t{500}}) {
    SCOPED_TRACE(extra);
    const std::string tooLong(LINE_LENGTH_MAX + extra, '2');
    EXPECT_EQ("O|Lt0000|", Split(s, tooLong + "\rt0000\r"));
    // A BEL in the middle of an overlong line ends it too.
    EXPECT_EQ("B|Lz|", Split(s, tooLong + "\az\r"));
  }
}
