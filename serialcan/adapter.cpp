#include "adapter.h"

#include <cstring>

#include "line_codec.h"
#include "serial_port.h"

namespace serialcan {

namespace {

constexpr uint32_t ANSWER_WAIT_MS = 200;  // per command of the open and close sequences
// After the first command of the open sequence: the line quiet this long
// means every answer to what an earlier user left behind has come.
constexpr uint32_t SETTLE_MS = 20;
constexpr uint32_t STATUS_POLL_MS = 100;  // at most one "F" in this time
// An answer not here this long after its command is lost. Longer than any
// adapter takes; what waited in the port is taken in before this is judged.
constexpr uint32_t ANSWER_EXPIRY_MS = 500;
constexpr uint32_t SILENT_MS = 1000;  // nothing heard this long while commands wait: adapter gone
// A frame the adapter refused is offered again this long after its first
// refusal (a full transmit FIFO clears in a few frame times), then dropped.
constexpr uint32_t KEEP_MS = 100;
constexpr uint32_t RING_SIZE = 512;    // received frames waiting for CAN_Read
constexpr uint32_t PENDING_SIZE = 64;  // commands sent and not yet answered
constexpr uint32_t READ_CHUNK = 1024;  // bytes per read from the port
constexpr uint32_t STD_ID_MAX = 0x7FF;
// Reads until the port is empty, at most this many: answers queue up behind
// the frames of a busy bus while nobody reads, and must not look missing.
constexpr int READS_PER_PUMP = 64;

// The CR ends whatever half line an earlier user left in the adapter; C
// closes a channel it left open.
constexpr char FLUSH_AND_CLOSE[] = "\rC\r";

enum Command : uint8_t { CMD_FRAME, CMD_STATUS, CMD_SETUP };

// The kinds of answer the adapter gives.
enum Answer : uint8_t {
  ANSWER_NONE,
  ANSWER_DONE,   // an empty line: a set-up command done (some adapters answer a frame so)
  ANSWER_SENT,   // "z" or "Z": a frame taken
  ANSWER_FLAGS,  // "Fxx"
  ANSWER_BEL,    // any command refused
};

struct Pending {
  Command command;
  bool resent;  // a frame offered again after a refusal
  uint32_t sentMs;
  uint32_t refusedMs;  // resent: when the adapter first refused it
  SerialCanMsg msg;    // a frame: sent again if the adapter refuses it
};

// A refused frame waiting to be sent again.
struct Kept {
  SerialCanMsg msg;
  uint32_t refusedMs;
};

struct Adapter {
  bool open;
  bool portFailed;  // a read or write failed: the port is gone until the next open
  bool settling;    // opening: answers to what an earlier user sent are expected
  LineSplitter splitter;
  uint32_t lastByteMs;  // when the port last brought anything

  SerialCanMsg ring[RING_SIZE];
  uint32_t ringFirst;
  uint32_t ringCount;

  Pending pending[PENDING_SIZE];
  uint32_t pendingFirst;
  uint32_t pendingCount;
  uint32_t resentPending;  // pending frames that are resent ones
  Answer setupAnswer;      // how the latest set-up command was answered

  Kept kept[PENDING_SIZE];
  uint32_t keptFirst;
  uint32_t keptCount;

  // Silence: a command has waited since waitingSinceMs with nothing heard,
  // and a status request sent meanwhile went unanswered.
  bool waiting;
  uint32_t waitingSinceMs;
  bool probeExpired;

  uint8_t flags;         // of the latest "F" answer
  bool pollOutstanding;  // an "F" waits for its answer
  uint32_t lastPollMs;
  bool sendRefused;    // the adapter refused the latest frame it answered
  bool statusRefused;  // it refused the latest status request: its channel is closed
  uint32_t latched;    // status bits reported once by CAN_Status

  SerialCanStats stats;
};

Adapter adapter;

bool Takes(Command command, Answer answer) {
  switch (command) {
    case CMD_FRAME:
      return answer == ANSWER_SENT || answer == ANSWER_DONE || answer == ANSWER_BEL;
    case CMD_STATUS:
      return answer == ANSWER_FLAGS || answer == ANSWER_BEL;
    case CMD_SETUP:
      return answer == ANSWER_DONE || answer == ANSWER_BEL;
  }
  return false;
}

void NoteSent(uint32_t nowMs) {
  Adapter& a = adapter;
  if (!a.waiting) {
    a.waiting = true;
    a.waitingSinceMs = nowMs;
  }
}

// Callers make room first (PendingFull).
void PushPending(Command command, const SerialCanMsg* msg, uint32_t refusedMs, bool resent) {
  Adapter& a = adapter;
  Pending& p = a.pending[(a.pendingFirst + a.pendingCount) % PENDING_SIZE];
  p = Pending{};
  p.command = command;
  p.resent = resent;
  p.sentMs = PortTickMs();
  p.refusedMs = refusedMs;
  if (msg) p.msg = *msg;
  ++a.pendingCount;
  if (resent) ++a.resentPending;
  NoteSent(p.sentMs);
}

Pending PopPending() {
  Adapter& a = adapter;
  const Pending p = a.pending[a.pendingFirst];
  a.pendingFirst = (a.pendingFirst + 1) % PENDING_SIZE;
  --a.pendingCount;
  if (p.resent) --a.resentPending;
  return p;
}

// A command whose answer will not come: a frame may or may not have gone.
void LoseOldest() {
  const Pending p = PopPending();
  if (p.command == CMD_STATUS) adapter.pollOutstanding = false;
  ++adapter.stats.answersLost;
}

// Answers that will not come any more: those of commands sent too long ago.
// A status request among them is the sign of an adapter gone quiet; lost
// answers to frames alone are not (nothing else may have been asked).
void ExpireAnswers(uint32_t nowMs) {
  Adapter& a = adapter;
  while (a.pendingCount > 0 && nowMs - a.pending[a.pendingFirst].sentMs >= ANSWER_EXPIRY_MS) {
    if (a.pending[a.pendingFirst].command == CMD_STATUS) a.probeExpired = true;
    LoseOldest();
  }
}

void Keep(const Pending& p) {
  Adapter& a = adapter;
  Kept& k = a.kept[(a.keptFirst + a.keptCount) % PENDING_SIZE];
  k.msg = p.msg;
  k.refusedMs = p.resent ? p.refusedMs : PortTickMs();
  ++a.keptCount;
}

void TakeAnswer(Answer answer) {
  Adapter& a = adapter;
  // The adapter answers in order, so an answer belongs to the oldest
  // command that can take its kind; those before it lost theirs.
  uint32_t index = 0;
  while (index < a.pendingCount &&
         !Takes(a.pending[(a.pendingFirst + index) % PENDING_SIZE].command, answer)) {
    ++index;
  }
  if (index == a.pendingCount) {
    if (!a.settling) ++a.stats.garbageLines;
    return;
  }
  for (; index > 0; --index) LoseOldest();
  const Pending p = PopPending();
  switch (p.command) {
    case CMD_FRAME:
      if (answer == ANSWER_BEL) {
        // Refused, never on the bus: kept and sent again, the way the
        // program's own frames wait behind a full transmit queue.
        ++a.stats.framesRefused;
        a.sendRefused = true;
        Keep(p);
      } else {
        ++a.stats.framesAnswered;
        a.sendRefused = false;
      }
      break;
    case CMD_STATUS:
      a.pollOutstanding = false;
      a.statusRefused = answer == ANSWER_BEL;
      break;
    case CMD_SETUP:
      a.setupAnswer = answer == ANSWER_BEL ? ANSWER_BEL : ANSWER_DONE;
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

// The adapter said something: it is there. A command still waiting waits
// from now on.
void Heard() {
  Adapter& a = adapter;
  a.waiting = a.pendingCount > 0;
  a.waitingSinceMs = PortTickMs();
  a.probeExpired = false;
}

void TakeLine(const char* line, size_t length) {
  Adapter& a = adapter;
  if (length == 0) {
    TakeAnswer(ANSWER_DONE);
  } else if (length == 1 && (line[0] == 'z' || line[0] == 'Z')) {
    TakeAnswer(ANSWER_SENT);
  } else {
    uint8_t flags = 0;
    Frame frame{};
    if (ParseStatusReply(line, length, &flags)) {
      a.flags = flags;
      TakeAnswer(ANSWER_FLAGS);
    } else if (ParseFrame(line, length, &frame, nullptr, nullptr)) {
      TakeFrame(frame);
    } else {
      ++a.stats.garbageLines;
    }
  }
  Heard();
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
    if (n == 0) break;
    const uint32_t nowMs = PortTickMs();
    // Half a line that waited through a silence is dead (the adapter was
    // reset or unplugged mid-line): the new bytes start afresh.
    if (nowMs - a.lastByteMs >= SILENT_MS && (a.splitter.length > 0 || a.splitter.overlong) &&
        !a.splitter.complete) {
      a.splitter = LineSplitter{};
      ++a.stats.garbageLines;
    }
    a.lastByteMs = nowMs;
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
          Heard();
          break;
        case LINE_OVERLONG:
          ++a.stats.garbageLines;
          Heard();
          break;
      }
    }
    if (static_cast<uint32_t>(n) < sizeof bytes) break;
  }
  ExpireAnswers(PortTickMs());
  return true;
}

// True when PENDING_SIZE commands still await their answers after taking in
// what the port holds: nothing more is sent until the adapter has caught up
// (or their answers expired).
bool PendingFull() {
  if (adapter.pendingCount < PENDING_SIZE) return false;
  Pump();
  return adapter.pendingCount >= PENDING_SIZE;
}

// Writes a frame's line. False when the port took nothing (it is marked
// failed when it failed).
bool WriteFrame(const SerialCanMsg& msg) {
  Frame frame{};
  frame.id = msg.ID;
  frame.len = msg.LEN;
  std::memcpy(frame.data, msg.DATA, msg.LEN);
  char line[LINE_LENGTH_MAX + 1];
  const size_t length = FormatFrame(frame, false, 0, line, sizeof line);
  switch (PortWrite(line, length)) {
    case PORT_WRITTEN:
      return true;
    case PORT_FAILED:
      adapter.portFailed = true;
      return false;
    case PORT_FULL:
      return false;
  }
  return false;
}

// Sends the refused frames again, oldest first; one refused for KEEP_MS is
// dropped and reported as a lost frame.
void ResendKept() {
  Adapter& a = adapter;
  while (a.keptCount > 0 && !a.portFailed) {
    const Kept& k = a.kept[a.keptFirst];
    if (PortTickMs() - k.refusedMs >= KEEP_MS) {
      ++a.stats.framesAbandoned;
      a.latched |= SERIALCAN_ERR_OVERRUN;
    } else {
      if (PendingFull() || !WriteFrame(k.msg)) return;
      PushPending(CMD_FRAME, &k.msg, k.refusedMs, true);
      ++a.stats.framesResent;
    }
    a.keptFirst = (a.keptFirst + 1) % PENDING_SIZE;
    --a.keptCount;
  }
}

// Asks for the flags when none was asked for STATUS_POLL_MS and the last
// question was answered. Never waits.
void PollStatus() {
  Adapter& a = adapter;
  const uint32_t nowMs = PortTickMs();
  if (a.portFailed || a.pollOutstanding || nowMs - a.lastPollMs < STATUS_POLL_MS || PendingFull()) {
    return;
  }
  switch (PortWrite("F\r", 2)) {
    case PORT_WRITTEN:
      PushPending(CMD_STATUS, nullptr, 0, false);
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

// A refused frame goes before newer ones, and 64 unconfirmed commands are
// the most: until then the transmit queue counts as full.
bool HoldsNewFrames() {
  const Adapter& a = adapter;
  return a.keptCount > 0 || a.resentPending > 0 || a.pendingCount >= PENDING_SIZE;
}

// Sends a set-up command and waits for its answer (after those of the
// commands before it).
Answer SetupCommand(const char* text) {
  Adapter& a = adapter;
  a.setupAnswer = ANSWER_NONE;
  if (PendingFull() || PortWrite(text, std::strlen(text)) != PORT_WRITTEN) return ANSWER_NONE;
  PushPending(CMD_SETUP, nullptr, 0, false);
  const uint32_t startMs = PortTickMs();
  for (;;) {
    if (!Pump()) return ANSWER_NONE;
    if (a.setupAnswer != ANSWER_NONE) return a.setupAnswer;
    if (PortTickMs() - startMs >= ANSWER_WAIT_MS) return ANSWER_NONE;
    PortSleep1Ms();
  }
}

// Sends FLUSH_AND_CLOSE. Its CR may be answered or not (a half line it ends
// is refused, an empty line is answered by some adapters), its C is
// refused when no channel was open: any answer will do, and everything that
// comes until the line is quiet belongs to them. False when nothing came.
bool FlushAndClose() {
  Adapter& a = adapter;
  a.setupAnswer = ANSWER_NONE;
  if (PortWrite(FLUSH_AND_CLOSE, sizeof FLUSH_AND_CLOSE - 1) != PORT_WRITTEN) return false;
  PushPending(CMD_SETUP, nullptr, 0, false);
  a.settling = true;
  const uint32_t startMs = PortTickMs();
  uint32_t answeredMs = 0;
  bool answered = false;
  for (;;) {
    if (!Pump()) break;
    const uint32_t nowMs = PortTickMs();
    if (!answered && a.setupAnswer != ANSWER_NONE) {
      answered = true;
      answeredMs = nowMs;
    }
    if (answered && nowMs - answeredMs >= SETTLE_MS && nowMs - a.lastByteMs >= SETTLE_MS) break;
    if (!answered && nowMs - startMs >= ANSWER_WAIT_MS) break;
    PortSleep1Ms();
  }
  a.settling = false;
  a.pendingFirst = a.pendingCount = a.resentPending = 0;
  return answered;
}

uint32_t OpenSequence(int bitRateDigit) {
  if (!FlushAndClose()) return SERIALCAN_ERR_SILENT;
  char setRate[] = "S0\r";
  setRate[1] = static_cast<char>('0' + bitRateDigit);
  const char* const commands[] = {setRate, "O\r"};
  for (const char* command : commands) {
    switch (SetupCommand(command)) {
      case ANSWER_NONE:
        return SERIALCAN_ERR_SILENT;
      case ANSWER_BEL:
        return SERIALCAN_ERR_REFUSED;
      default:
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
  adapter.lastByteMs = PortTickMs();
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
  if (HoldsNewFrames()) {
    Pump();
    ResendKept();
    if (HoldsNewFrames()) return a.portFailed ? SERIALCAN_ERR_PORTLOST : SERIALCAN_ERR_QXMTFULL;
  }
  if (!WriteFrame(*msg)) return a.portFailed ? SERIALCAN_ERR_PORTLOST : SERIALCAN_ERR_QXMTFULL;
  PushPending(CMD_FRAME, msg, 0, false);
  ++a.stats.framesSent;
  return SERIALCAN_OK;
}

uint32_t AdapterRead(SerialCanMsg* msg) {
  Adapter& a = adapter;
  if (!msg) return SERIALCAN_ERR_ILLPARAM;
  if (!a.open) return SERIALCAN_ERR_NOTOPEN;
  Pump();
  ResendKept();
  // The program reads all the while it waits for an answer: the flags stay
  // fresh for the CAN_Status after the wait.
  PollStatus();
  if (a.ringCount == 0) return SERIALCAN_ERR_QRCVEMPTY;
  *msg = a.ring[a.ringFirst];
  a.ringFirst = (a.ringFirst + 1) % RING_SIZE;
  --a.ringCount;
  return SERIALCAN_OK;
}

uint32_t AdapterStatus() {
  Adapter& a = adapter;
  if (!a.open) return SERIALCAN_ERR_NOTOPEN;
  PollStatus();
  Pump();
  uint32_t status = DriverStatusFromFlags(a.flags) | a.latched;
  a.latched = 0;
  // The flags have no bus off: a controller that is error passive and
  // refuses to send, with room in its transmit FIFO, has left the bus.
  if ((a.flags & FLAG_ERROR_PASSIVE) && !(a.flags & FLAG_TX_FIFO_FULL) && a.sendRefused) {
    status |= SERIALCAN_ERR_BUSOFF;
  }
  // An adapter that refuses "F" has no open channel (it was reset): off the bus.
  if (a.statusRefused) status |= SERIALCAN_ERR_BUSOFF;
  const bool silent = a.waiting && a.probeExpired && PortTickMs() - a.waitingSinceMs >= SILENT_MS;
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
  SerialCanStats stats = adapter.stats;
  stats.commandsWaiting = adapter.pendingCount;
  stats.framesHeld = adapter.keptCount + adapter.resentPending;
  return stats;
}

}  // namespace serialcan
