// What the serial-line adapter library parses from the line: arbitrary bytes
// through the line splitter, every line it hands out through the frame and
// status parsers. A parsed frame must be a frame, and must format back to
// the line it came from (hex digits in upper case). Then the same bytes as
// a session of the adapter logic over a port that this file plays: the
// input chooses the calls and what the adapter sends in between.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "adapter.h"
#include "line_codec.h"
#include "serial_port.h"

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
    char out[LINE_LENGTH_MAX + 2];
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

// The session's input: the adapter's bytes come from here, as far as the
// input has made them available.
struct Session {
  const uint8_t* data;
  size_t size;
  size_t next;
  size_t available;  // bytes from `next` on that the port holds
  int setupAnswers;  // CRs owed for set-up commands while opening
  bool opening;
  uint32_t tickMs;
};
Session session;

uint8_t TakeByte() {
  return session.next < session.size ? session.data[session.next++] : 0;
}

void CheckMessage(const SerialCanMsg& m) {
  Check(m.LEN <= 8);
  Check(m.ID <= 0x7FF);
  Check(m.MSGTYPE == 0);
}

void RunSession(const uint8_t* data, size_t size) {
  session = Session{data, size, 0, 0, 0, true, 0};
  if (AdapterOpen(0x011C, 0, SERIALCAN_HW_TYPE, 1) != SERIALCAN_OK) std::abort();
  session.opening = false;
  while (session.next < session.size) {
    const uint8_t op = TakeByte();
    switch (op % 5) {
      case 0: {  // the adapter sends some bytes, the program reads
        session.available = TakeByte() % 64;
        SerialCanMsg m{};
        if (AdapterRead(&m) == SERIALCAN_OK) CheckMessage(m);
        session.next += session.available;  // what the read left behind is lost
        session.available = 0;
        break;
      }
      case 1: {
        SerialCanMsg m{};
        m.ID = TakeByte() * 8u;
        m.LEN = TakeByte() % 10;
        const uint32_t result = AdapterWrite(&m);
        const SerialCanStats after = AdapterStats();
        if (m.LEN > 8) {
          Check(result == SERIALCAN_ERR_ILLPARAM);
        } else if (result == SERIALCAN_ERR_QXMTFULL) {
          // Only with 64 commands unconfirmed, or behind a refused frame.
          Check(after.commandsWaiting == 64 || after.framesHeld > 0);
        } else {
          Check(result == SERIALCAN_OK);
        }
        break;
      }
      case 2:
        Check((AdapterStatus() & ~0x1Eu) == 0);
        break;
      case 3:
        session.tickMs += op * 8u;
        break;
      case 4:
        AdapterResetClient();
        break;
    }
    const SerialCanStats stats = AdapterStats();
    Check(stats.framesAnswered + stats.framesRefused <= stats.framesSent + stats.framesResent);
    Check(stats.commandsWaiting <= 64 && stats.framesHeld <= stats.commandsWaiting + 64);
  }
  SerialCanMsg m{};
  while (AdapterRead(&m) == SERIALCAN_OK) CheckMessage(m);
  AdapterClose();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The whole input as one line, as the parsers see a line.
  if (size <= LINE_LENGTH_MAX) CheckLine(reinterpret_cast<const char*>(data), size);

  // The input as the byte stream from the adapter.
  LineSplitter splitter{};
  for (size_t i = 0; i < size; ++i) {
    const LineEvent event = FeedByte(splitter, static_cast<char>(data[i]));
    Check(splitter.length <= LINE_LENGTH_MAX);
    if (event == LINE_DONE) {
      Check(splitter.line[splitter.length] == '\0');
      CheckLine(splitter.line, splitter.length);
    }
  }

  RunSession(data, size);
  return 0;
}

// The port, played by the input.
namespace serialcan {

PortOpenResult PortOpen(unsigned) {
  return PORT_OPENED;
}

void PortClose() {}

int PortRead(char* data, size_t size) {
  size_t n = 0;
  if (session.setupAnswers > 0) {
    for (; n < size && session.setupAnswers > 0; --session.setupAnswers) data[n++] = CR;
    return static_cast<int>(n);
  }
  const size_t left = session.size - std::min(session.next, session.size);
  n = std::min({size, session.available, left});
  std::memcpy(data, session.data + session.next, n);
  session.next += n;
  session.available -= n;
  return static_cast<int>(n);
}

PortWriteResult PortWrite(const char*, size_t) {
  // While opening, and when closing at the end, the adapter agrees.
  if (session.opening || session.next >= session.size) ++session.setupAnswers;
  return PORT_WRITTEN;
}

uint32_t PortTickMs() {
  return session.tickMs;
}

void PortSleep1Ms() {
  ++session.tickMs;
}

}  // namespace serialcan
