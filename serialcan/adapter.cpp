#include "adapter.h"

#include <cstring>

#include "line_codec.h"
#include "serial_port.h"

namespace serialcan {

namespace {

constexpr uint32_t ANSWER_WAIT_MS = 200;  // per command of the open and close sequences
constexpr uint32_t STATUS_POLL_MS = 100;  // at most one "F" in this time
constexpr uint32_t SILENT_MS = 1000;      // an unanswered command this old: adapter gone
constexpr uint32_t RING_SIZE = 512;       // received frames waiting for CAN_Read
constexpr uint32_t PENDING_SIZE = 64;     // commands sent and not yet answered
constexpr uint32_t READ_CHUNK = 1024;     // bytes per read from the port
constexpr uint32_t STD_ID_MAX = 0x7FF;
// Reads until the port is empty, at most this many: answers queue up behind
// the frames of a busy bus while nobody reads, and must not look missing.
constexpr int READS_PER_PUMP = 64;

// What an answer in the stream belongs to: the adapter answers every
// command, in order.
enum Command : uint8_t { CMD_FRAME, CMD_STATUS, CMD_SETUP };

enum Answer { ANSWER_NONE, ANSWER_OK, ANSWER_BEL };

struct Pending {
  Command command;
  uint32_t sentMs;
};

struct Adapter {
  bool open;
  bool portFailed;  // a read or write failed: the port is gone until the next open
  LineSplitter splitter;

  SerialCanMsg ring[RING_SIZE];
  uint32_t ringFirst;
  uint32_t ringCount;

  Pending pending[PENDING_SIZE];
  uint32_t pendingFirst;
  uint32_t pendingCount;
  Answer setupAnswer;  // how the latest set-up command was answered

  uint8_t flags;         // of the latest "F" answer
  bool pollOutstanding;  // an "F" waits for its answer
  uint32_t lastPollMs;
  uint32_t latched;  // status bits reported once by CAN_Status

  SerialCanStats stats;
};

Adapter adapter;

// Callers make room first (PendingFull): an answer must never be matched to
// the wrong command.
void PushPending(Command command) {
  Adapter& a = adapter;
  a.pending[(a.pendingFirst + a.pendingCount) % PENDING_SIZE] = {command, PortTickMs()};
  ++a.pendingCount;
}

void TakeAnswer(Answer answer) {
  Adapter& a = adapter;
  if (a.pendingCount == 0) {
    ++a.stats.garbageLines;
    return;
  }
  const Command command = a.pending[a.pendingFirst].command;
  a.pendingFirst = (a.pendingFirst + 1) % PENDING_SIZE;
  --a.pendingCount;
  switch (command) {
    case CMD_FRAME:
      if (answer == ANSWER_OK) {
        ++a.stats.framesAnswered;
      } else {
        // The frame never reached the bus: as lost as one that overran.
        ++a.stats.framesRefused;
        a.latched |= SERIALCAN_ERR_OVERRUN;
      }
      break;
    case CMD_STATUS:
      a.pollOutstanding = false;
      break;
    case CMD_SETUP:
      a.setupAnswer = answer;
      break;
  }
}

void TakeFrame(const Frame& frame) {
  Adapter& a = adapter;
  // The binding opens for 11-bit data frames only.
  if (frame.extended || frame.remote) {
    ++a.stats.framesDropped;
    return;
  }
  if (a.ringCount == RING_SIZE) {
    ++a.stats.framesDropped;
    a.latched |= SERIALCAN_ERR_OVERRUN;
    return;
  }
  SerialCanMsg& m = a.ring[(a.ringFirst + a.ringCount) % RING_SIZE];
  m = SerialCanMsg{};
  m.ID = frame.id;
  m.LEN = frame.len;
  std::memcpy(m.DATA, frame.data, frame.len);
  ++a.ringCount;
  ++a.stats.framesReceived;
}

void TakeLine(const char* line, size_t length) {
  // A command's answer is an empty line; a transmit's "z" ("Z" extended).
  if (length == 0 || (length == 1 && (line[0] == 'z' || line[0] == 'Z'))) {
    TakeAnswer(ANSWER_OK);
    return;
  }
  uint8_t flags = 0;
  if (ParseStatusReply(line, length, &flags)) {
    adapter.flags = flags;
    TakeAnswer(ANSWER_OK);
    return;
  }
  Frame frame{};
  if (ParseFrame(line, length, &frame, nullptr, nullptr)) {
    TakeFrame(frame);
    return;
  }
  ++adapter.stats.garbageLines;
}

// Takes in what the port holds. False when the port has failed.
bool Pump() {
  Adapter& a = adapter;
  if (a.portFailed) return false;
  char bytes[READ_CHUNK];
  for (int i = 0; i < READS_PER_PUMP; ++i) {
    const int n = PortRead(bytes, sizeof bytes);
    ++a.stats.portReads;
    if (n < 0) {
      a.portFailed = true;
      return false;
    }
    a.stats.bytesRead += static_cast<uint32_t>(n);
    for (int k = 0; k < n; ++k) {
      switch (FeedByte(a.splitter, bytes[k])) {
        case LINE_NONE:
          break;
        case LINE_DONE:
          TakeLine(a.splitter.line, a.splitter.length);
          break;
        case LINE_BELL:
          TakeAnswer(ANSWER_BEL);
          break;
        case LINE_OVERLONG:
          ++a.stats.garbageLines;
          break;
      }
    }
    if (static_cast<uint32_t>(n) < sizeof bytes) break;
  }
  return true;
}

// True when PENDING_SIZE commands still await their answers after taking in
// what the port holds: the adapter has not confirmed them yet, so nothing
// more is sent (its transmit queue counts as full).
bool PendingFull() {
  if (adapter.pendingCount < PENDING_SIZE) return false;
  Pump();
  return adapter.pendingCount >= PENDING_SIZE;
}

// Sends a set-up command and waits for its answer (after those of the
// commands before it).
Answer SetupCommand(const char* text) {
  Adapter& a = adapter;
  a.setupAnswer = ANSWER_NONE;
  if (PendingFull() || PortWrite(text, std::strlen(text)) != PORT_WRITTEN) return ANSWER_NONE;
  PushPending(CMD_SETUP);
  const uint32_t startMs = PortTickMs();
  for (;;) {
    if (!Pump()) return ANSWER_NONE;
    if (a.setupAnswer != ANSWER_NONE) return a.setupAnswer;
    if (PortTickMs() - startMs >= ANSWER_WAIT_MS) return ANSWER_NONE;
    PortSleep1Ms();
  }
}

uint32_t OpenSequence(int bitRateDigit) {
  // Closes a channel left open by an earlier user; refused when none is.
  if (SetupCommand("C\r") == ANSWER_NONE) return SERIALCAN_ERR_SILENT;
  char setRate[] = "S0\r";
  setRate[1] = static_cast<char>('0' + bitRateDigit);
  const char* const commands[] = {setRate, "O\r"};
  for (const char* command : commands) {
    switch (SetupCommand(command)) {
      case ANSWER_NONE:
        return SERIALCAN_ERR_SILENT;
      case ANSWER_BEL:
        return SERIALCAN_ERR_REFUSED;
      case ANSWER_OK:
        break;
    }
  }
  return SERIALCAN_OK;
}

}  // namespace

uint32_t AdapterOpen(uint16_t bitTiming, int msgType, int hwType, uint32_t ioPort) {
  const int digit = BitRateDigit(bitTiming);
  if (hwType != SERIALCAN_HW_TYPE || ioPort < 1 || ioPort > SERIALCAN_COM_COUNT ||
      (msgType != 0 && msgType != 1) || digit < 0) {
    return SERIALCAN_ERR_ILLPARAM;
  }
  AdapterClose();
  adapter = Adapter{};
  switch (PortOpen(ioPort)) {
    case PORT_MISSING:
      return SERIALCAN_ERR_NOPORT;
    case PORT_BUSY:
      return SERIALCAN_ERR_PORTBUSY;
    case PORT_OPENED:
      break;
  }
  const uint32_t result = OpenSequence(digit);
  if (result != SERIALCAN_OK) {
    PortClose();
    adapter = Adapter{};
    return result;
  }
  // Frames the adapter passed on before it was closed and opened again
  // are from another session.
  adapter.ringFirst = 0;
  adapter.ringCount = 0;
  adapter.open = true;
  adapter.lastPollMs = PortTickMs() - STATUS_POLL_MS;
  return SERIALCAN_OK;
}

uint32_t AdapterClose() {
  if (!adapter.open) return SERIALCAN_OK;
  if (!adapter.portFailed) SetupCommand("C\r");
  PortClose();
  adapter.open = false;
  return SERIALCAN_OK;
}

uint32_t AdapterWrite(const SerialCanMsg* msg) {
  Adapter& a = adapter;
  if (!msg) return SERIALCAN_ERR_ILLPARAM;
  if (!a.open) return SERIALCAN_ERR_NOTOPEN;
  if (msg->LEN > 8 || msg->ID > STD_ID_MAX || msg->MSGTYPE != 0) return SERIALCAN_ERR_ILLPARAM;
  if (a.portFailed) return SERIALCAN_ERR_PORTLOST;
  if (PendingFull()) return SERIALCAN_ERR_QXMTFULL;
  Frame frame{};
  frame.id = msg->ID;
  frame.len = msg->LEN;
  std::memcpy(frame.data, msg->DATA, msg->LEN);
  char line[LINE_LENGTH_MAX + 1];
  const size_t length = FormatFrame(frame, false, 0, line, sizeof line);
  switch (PortWrite(line, length)) {
    case PORT_FULL:
      return SERIALCAN_ERR_QXMTFULL;
    case PORT_FAILED:
      a.portFailed = true;
      return SERIALCAN_ERR_PORTLOST;
    case PORT_WRITTEN:
      break;
  }
  PushPending(CMD_FRAME);
  ++a.stats.framesSent;
  return SERIALCAN_OK;
}

uint32_t AdapterRead(SerialCanMsg* msg) {
  Adapter& a = adapter;
  if (!msg) return SERIALCAN_ERR_ILLPARAM;
  if (!a.open) return SERIALCAN_ERR_NOTOPEN;
  Pump();
  if (a.ringCount == 0) return SERIALCAN_ERR_QRCVEMPTY;
  *msg = a.ring[a.ringFirst];
  a.ringFirst = (a.ringFirst + 1) % RING_SIZE;
  --a.ringCount;
  return SERIALCAN_OK;
}

uint32_t AdapterStatus() {
  Adapter& a = adapter;
  if (!a.open) return SERIALCAN_ERR_NOTOPEN;
  const uint32_t nowMs = PortTickMs();
  if (!a.portFailed && !a.pollOutstanding && nowMs - a.lastPollMs >= STATUS_POLL_MS &&
      !PendingFull()) {
    switch (PortWrite("F\r", 2)) {
      case PORT_WRITTEN:
        PushPending(CMD_STATUS);
        a.pollOutstanding = true;
        a.lastPollMs = nowMs;
        ++a.stats.statusPolls;
        break;
      case PORT_FAILED:
        a.portFailed = true;
        break;
      case PORT_FULL:
        break;
    }
  }
  Pump();
  uint32_t status = DriverStatusFromFlags(a.flags) | a.latched;
  a.latched = 0;
  const bool silent =
      a.pendingCount > 0 && PortTickMs() - a.pending[a.pendingFirst].sentMs >= SILENT_MS;
  if (a.portFailed || silent) status |= SERIALCAN_ERR_BUSOFF;
  return status;
}

uint32_t AdapterResetClient() {
  adapter.ringFirst = 0;
  adapter.ringCount = 0;
  adapter.latched = 0;
  return SERIALCAN_OK;
}

SerialCanStats AdapterStats() {
  return adapter.stats;
}

}  // namespace serialcan
