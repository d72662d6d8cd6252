// What the serial-line adapter library parses from the line: arbitrary bytes
// through the line splitter, every line it hands out through the frame and
// status parsers. A parsed frame must be a frame, and must format back to
// the line it came from (hex digits in upper case).
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "line_codec.h"

using namespace serialcan;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckLine(const char* line, size_t length) {
  Frame frame{};
  bool stamped = false;
  uint16_t stampMs = 0;
  if (ParseFrame(line, length, &frame, &stamped, &stampMs)) {
    Check(frame.len <= 8);
    Check(frame.id <= (frame.extended ? 0x1FFFFFFFu : 0x7FFu));
    char out[LINE_MAX + 2];
    const size_t n = FormatFrame(frame, stamped, stampMs, out, sizeof out);
    Check(n == length + 1 && out[length] == CR);
    Check(out[0] == line[0]);  // the frame letter: its case is the frame kind
    for (size_t i = 1; i < length; ++i) {
      Check(out[i] == std::toupper(static_cast<unsigned char>(line[i])));
    }
  }
  uint8_t flags = 0;
  if (ParseStatusReply(line, length, &flags)) {
    Check(length == 3);
    Check((DriverStatusFromFlags(flags) & ~0x1Eu) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The whole input as one line, as the parsers see a line.
  if (size <= LINE_MAX) CheckLine(reinterpret_cast<const char*>(data), size);

  // The input as the byte stream from the adapter.
  LineSplitter splitter{};
  for (size_t i = 0; i < size; ++i) {
    const LineEvent event = FeedByte(splitter, static_cast<char>(data[i]));
    Check(splitter.length <= LINE_MAX);
    if (event == LINE_DONE) {
      Check(splitter.line[splitter.length] == '\0');
      CheckLine(splitter.line, splitter.length);
    }
  }
  return 0;
}
