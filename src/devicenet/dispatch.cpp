#include "devicenet/dispatch.h"

#include <cstring>

#include "can/can_driver.h"
#include "devicenet/answer_length.h"
#include "devicenet/explicit.h"
#include "devicenet/io.h"
#include "devicenet/own_mac_watch.h"
#include "devicenet/tracking.h"
#include "devicenet/turnaround.h"
#include "platform/platform.h"

namespace devicenet {

NodeTable g_NodeTable;

namespace {

// Passes of one tick while frames keep moving: a 1000-byte transfer is 143
// frames, and a stream of foreign frames must not hold the caller forever.
constexpr int MAX_PASSES_PER_TICK = 32;

// Pacing of the waits between ticks.
constexpr uint32_t POLL_STEP_US = 5;      // between two looks while an answer may be on the wire
constexpr uint32_t BRIEF_POLL_US = 2000;  // look in steps this long after a frame was due
constexpr uint32_t NAP_STEP_MIN_US = 20;  // the shortest nap between two looks
constexpr uint32_t LONG_WAIT_US = 2000;   // a wait this long is a 1 ms sleep, which may last 2
// The microsecond tick wraps every 72 minutes: a time further than this from
// now belongs to an old exchange.
constexpr int32_t FRESH_US = 1000000;

// Frame fields in bits: start of frame, identifier, RTR, IDE, r0, DLC and CRC
// are stuffed; CRC delimiter, ACK slot and delimiter, end of frame and the
// interframe space are not.
constexpr uint32_t STUFFED_HEADER_BITS = 1 + 11 + 1 + 1 + 1 + 4 + 15;
constexpr uint32_t UNSTUFFED_TAIL_BITS = 1 + 2 + 7 + 3;
// Stuff bits the wait for an answer allows for, one per this many bits of
// the answer and of our frame before it: DeviceNet frames measured on the
// simulated bus carry 2 to 7 in a hundred. Waking at the frame's end without
// them means looking again at once; with more, a short frame waits late.
constexpr uint32_t BITS_PER_STUFF_BIT = 40;
constexpr uint8_t FULL_FRAME_LEN = 8;

// A frame a state machine produced that the adapter's transmit queue had no
// room for; it goes out before that side of the node sends anything new.
struct HeldFrame {
  CanFrame Frame;
  bool Valid;
  uint32_t SinceMs;  // when the queue first had no room for it
};

// A transmit queue that takes no frame for this long (or the exchange's own
// time-out, if longer) is not draining: a serial adapter's 64 frames leave
// a 125 kbit/s bus in about 70 ms, so the adapter is stuck (no node
// acknowledges, or it went bus off without saying so).
constexpr uint32_t HOLD_LIMIT_MS = 1000;

// The frames the adapter refused, and its word for the last of them.
uint32_t refusals = 0;
uint32_t refusalWord = 0;
uint32_t writeError = 0;  // what SendFrame's CAN_Write returned when it failed

HeldFrame heldExpl[NODE_COUNT];
HeldFrame heldIo[NODE_COUNT];

// What the current pass did, and what the waits go by.
struct PassCounts {
  int Sent;
  int Full;
};
PassCounts pass;

struct Pace {
  uint32_t BusFreeUs;     // when the frames we queued have left the wire, by estimate
  uint32_t NextRxUs;      // the earliest a frame can follow the one read last
  bool More;              // the last tick stopped at its bound with frames moving
  bool AnswerDue;         // a frame went out since the last one was read
  uint8_t AnswerLen;      // the shortest answer the frames sent since then await
  bool AnswerKnown;       // each of those frames awaits an answer of a known kind
  uint32_t LastSentBits;  // wire bits of the last frame sent, without stuff bits
  AwaitedAnswer Awaited;  // the answer the last frame sent awaits
};
Pace pace;

// How late an answer may come by the wire, and what the looks for it found.
struct AnswerLooks {
  uint32_t LastSentStuffBits;  // the most stuff bits the last frame sent can carry
  uint32_t BurstStuffBits;     // the most our frames since the bus was free can carry
  bool Overdue;                // a look at or after the first one found no answer
  uint32_t LastEmptyUs;        // when the last of those looks was made
};
AnswerLooks looks;

// The adapter's turnaround, and the opening of the adapter it was learned of.
Turnaround turnaround;
uint32_t turnaroundOpenCount;

SendHookFn sendHook = nullptr;

// The bit time of the rate the adapter was opened at.
uint32_t BitTimeUs() {
  int baud = can::OpenBaudIndex();
  if (baud < 0 || baud >= can::BAUD_COUNT) baud = 0;
  return 1000u / can::BaudTable[baud].RateKBaud;
}

// Microseconds from now until t: negative when t has passed, and -FRESH_US
// for a time of an old exchange, whichever way the tick has wrapped since.
int32_t UntilUs(uint32_t t, uint32_t now) {
  const uint32_t ahead = t - now;
  if (ahead < static_cast<uint32_t>(FRESH_US)) return static_cast<int32_t>(ahead);
  const uint32_t behind = now - t;
  return behind < static_cast<uint32_t>(FRESH_US) ? -static_cast<int32_t>(behind) : -FRESH_US;
}

uint32_t ShortestFrameUs() {
  return FrameBitsNoStuff(0) * BitTimeUs();
}

uint32_t WorstStuffBits(uint8_t len) {
  return FrameBitsWorstStuff(len) - FrameBitsNoStuff(len);
}

// When an answer of `len` bytes can be complete on the wire after our
// frames, with the stuff bits a known answer is allowed.
uint32_t DueUs(uint8_t len, bool known) {
  uint32_t bits = FrameBitsNoStuff(len);
  if (known) bits += (bits + pace.LastSentBits) / BITS_PER_STUFF_BIT;
  return pace.BusFreeUs + bits * BitTimeUs();
}

// When an answer of `len` bytes is complete on the wire at the latest, with
// the most stuff bits it and our frame before it can carry.
uint32_t LatestUs(uint8_t len) {
  return pace.BusFreeUs + (FrameBitsWorstStuff(len) + looks.LastSentStuffBits) * BitTimeUs();
}

// The same after every frame we sent since the bus was free: the estimate
// of when the bus is free again counts none of their stuff bits, which add
// up over a long transfer.
uint32_t LatestAfterBurstUs(uint8_t len) {
  return pace.BusFreeUs + (FrameBitsWorstStuff(len) + looks.BurstStuffBits) * BitTimeUs();
}

// The turnaround of the adapter open now; a newly opened one starts from 0.
Turnaround& AdapterTurnaround() {
  if (turnaroundOpenCount != can::AdapterOpenCount()) {
    turnaroundOpenCount = can::AdapterOpenCount();
    turnaround = Turnaround{};
  }
  return turnaround;
}

// The awaited answer of `len` bytes was read at `now`: how late it came
// teaches the turnaround where a look found nothing after the answer was
// complete on the wire at the latest (before that, a look that woke late on
// a busy machine shows nothing of the adapter). It came between the last
// look that found nothing and now, taken as halfway, at most half a step.
void LearnTurnaround(uint8_t len, uint32_t now) {
  if (!looks.Overdue) {
    NoteAnswerAtFirstLook(AdapterTurnaround());
    return;
  }
  if (UntilUs(LatestAfterBurstUs(len), looks.LastEmptyUs) >= 0) return;
  uint32_t sinceEmpty = now - looks.LastEmptyUs;
  if (sinceEmpty > ShortestFrameUs()) sinceEmpty = ShortestFrameUs();
  const int32_t late = -UntilUs(DueUs(len, true), looks.LastEmptyUs + sinceEmpty / 2);
  NoteAnswerAfterFirstLook(AdapterTurnaround(), late > 0 ? static_cast<uint32_t>(late) : 0);
}

// A nap while a frame is late: the shortest frame's time, but a quarter of
// the adapter's turnaround while that first look is less than a turnaround
// ago: an answer that missed it is most likely just behind it.
uint32_t NapStepUs(bool known, uint32_t firstLookUs, uint32_t now) {
  const uint32_t shortestFrameUs = ShortestFrameUs();
  const uint32_t turnaroundUs = known ? AdapterTurnaround().GuessUs : 0;
  if (turnaroundUs == 0 || -UntilUs(firstLookUs, now) >= static_cast<int32_t>(turnaroundUs)) {
    return shortestFrameUs;
  }
  uint32_t step = turnaroundUs / 4;
  if (step < NAP_STEP_MIN_US) step = NAP_STEP_MIN_US;
  return step < shortestFrameUs ? step : shortestFrameUs;
}

void NoteSent(const CanFrame& frame) {
  const uint32_t now = platform::TickUs();
  const int32_t busy = UntilUs(pace.BusFreeUs, now);
  const uint32_t start = busy > 0 ? now + static_cast<uint32_t>(busy) : now;
  pace.LastSentBits = FrameBitsNoStuff(frame.Len);
  looks.LastSentStuffBits = WorstStuffBits(frame.Len);
  looks.BurstStuffBits = (busy > 0 ? looks.BurstStuffBits : 0) + looks.LastSentStuffBits;
  looks.Overdue = false;
  pace.BusFreeUs = start + pace.LastSentBits * BitTimeUs();
  ++pass.Sent;

  DnMessage sent{};
  AwaitedAnswer awaited{};
  if (DecodeFrame(frame, sent) && ParseMessage(sent, g_NodeTable)) {
    awaited = ExpectAnswer(sent, g_NodeTable);
  }
  // A frame whose answer is unknown may be answered by the shortest frame.
  const uint8_t answerLen = awaited.Valid ? awaited.Len : 0;
  if (!pace.AnswerDue || answerLen < pace.AnswerLen) pace.AnswerLen = answerLen;
  pace.AnswerKnown = awaited.Valid && (!pace.AnswerDue || pace.AnswerKnown);
  pace.AnswerDue = true;
  if (awaited.Valid) pace.Awaited = awaited;
}

void NoteRefusal(uint32_t word) {
  ++refusals;
  refusalWord = word;
}

// Hands a frame to the send hook. A frame the queue has no room for is held
// (its hold starting now, unless it was held already); a refused one is
// counted with the adapter's word.
SendResult Transmit(const CanFrame& frame, HeldFrame& held) {
  const bool wasHeld = held.Valid;
  held.Valid = false;
  if (!sendHook) return SEND_QUEUED;  // nowhere to go: as good as gone
  writeError = 0;
  const SendResult result = sendHook(frame);
  switch (result) {
    case SEND_QUEUED:
      NoteSent(frame);
      break;
    case SEND_QUEUE_FULL:
      held.Frame = frame;
      held.Valid = true;
      if (!wasHeld) held.SinceMs = platform::TickMs();
      ++pass.Full;
      break;
    default:
      NoteRefusal(writeError ? writeError : can::ReadStatus());
      break;
  }
  return result;
}

SendResult SendMessage(const DnMessage& out, HeldFrame& held) {
  CanFrame frame{};
  EncodeFrame(out, frame);
  return Transmit(frame, held);
}

// True when a held frame has waited longer than the queue may take to drain
// (counted as a refusal then; the frame is dropped).
bool HoldExpired(HeldFrame& held, uint32_t timeoutMs) {
  const uint32_t limit = timeoutMs > HOLD_LIMIT_MS ? timeoutMs : HOLD_LIMIT_MS;
  if (!held.Valid || platform::TickMs() - held.SinceMs <= limit) return false;
  held.Valid = false;
  NoteRefusal(can::CAN_ERR_QXMTFULL | can::ReadStatus());
  return true;
}

// What became of the frame a node held for the transmit queue.
enum HeldOutcome {
  NOTHING_HELD,  // none was held
  STILL_HELD,    // the queue still has no room for it
  HELD_TAKEN,    // the driver took it now
  HELD_REFUSED,  // refused, or kept from the wire too long: the exchange ends
};

HeldOutcome RetryHeld(HeldFrame& held, uint32_t timeoutMs) {
  if (!held.Valid) return NOTHING_HELD;
  const SendResult sent = Transmit(held.Frame, held);
  if (sent == SEND_FAILED || HoldExpired(held, timeoutMs)) return HELD_REFUSED;
  return held.Valid ? STILL_HELD : HELD_TAKEN;
}

// Sends a node's next frame: its answer window starts when the driver takes
// it (`taken`); a refusal ends the exchange (`refused`); a frame the queue
// has no room for stays held.
using NodeFrameFn = void (*)(NodeTable& table, uint8_t macId);
void SendNodeFrame(NodeTable& table, uint8_t mac, const DnMessage& out, HeldFrame& held,
                   NodeFrameFn taken, NodeFrameFn refused) {
  switch (SendMessage(out, held)) {
    case SEND_QUEUED:
      taken(table, mac);
      break;
    case SEND_FAILED:
      refused(table, mac);
      break;
    default:
      break;
  }
}

// A node's explicit side. A frame held for the transmit queue goes out
// before anything else of the exchange runs, and until it has gone out the
// exchange waits without a time-out: its answer window starts when the
// driver takes it. A frame the adapter refuses, or that the queue keeps
// from the wire too long, ends the exchange.
void DriveExplicit(NodeTable& table, uint8_t mac, const DnMessage* received) {
  const NodeRecord& node = NodeOf(table, mac);
  HeldFrame& held = heldExpl[mac];
  // A new request abandons the frame of the exchange before it.
  if (held.Valid && node.ExplState == EXPL_QUEUED) held.Valid = false;
  switch (RetryHeld(held, node.ExplTimeout)) {
    case STILL_HELD:
      return;
    case HELD_REFUSED:
      ExplFrameRefused(table, mac);
      return;
    case HELD_TAKEN:
      ExplFrameTaken(table, mac);
      // A frame read before our frame left cannot be the answer to it.
      received = nullptr;
      break;
    case NOTHING_HELD:
      break;
  }
  const DnMessage* out = ExplStep(table, mac, received);
  if (out) SendNodeFrame(table, mac, *out, held, ExplFrameTaken, ExplFrameRefused);
}

// A node's I/O side, held and refused frames as on the explicit side.
void DriveIo(NodeTable& table, uint8_t mac) {
  const NodeRecord& node = NodeOf(table, mac);
  HeldFrame& held = heldIo[mac];
  // An ended or replaced transfer's frame is not sent late.
  if (held.Valid && !IoInProgress(node.IoState)) held.Valid = false;
  switch (RetryHeld(held, node.IoTimeout)) {
    case STILL_HELD:
      return;
    case HELD_REFUSED:
      IoFrameRefused(table, mac);
      return;
    case HELD_TAKEN:
      IoFrameTaken(table, mac);
      break;
    case NOTHING_HELD:
      break;
  }
  const DnMessage* out = IoStep(table, mac);
  if (out) SendNodeFrame(table, mac, *out, held, IoFrameTaken, IoFrameRefused);
}

// A received bus frame as a parsed message; false when it is none.
bool Decode(const can::DriverMsg& msg, DnMessage& received) {
  CanFrame frame{};
  frame.Id = msg.ID;
  frame.Len = msg.LEN;
  std::memcpy(frame.Data, msg.DATA, sizeof frame.Data);
  return DecodeFrame(frame, received) && ParseMessage(received, g_NodeTable);
}

// Reads at most one message from the adapter and runs the nodes with it.
// True when the driver handed over anything.
bool ReadOne() {
  can::DriverMsg msg{};
  if (can::CanRead(&msg) != can::CAN_ERR_OK) return false;
  const uint32_t now = platform::TickUs();
  // A frame of a stream is mostly followed by one of the same length.
  pace.NextRxUs = now + FrameBitsNoStuff(msg.LEN) * BitTimeUs();
  if (msg.MSGTYPE & can::MSGTYPE_STATUS) {
    can::NoteStatusMessage(msg);
    return true;
  }
  const bool answerKnown = pace.AnswerDue && pace.AnswerKnown;
  pace.AnswerDue = false;
  DnMessage received{};
  if (Decode(msg, received)) {
    const bool awaiting = pace.Awaited.Valid;
    NoteAnswer(pace.Awaited, received);
    if (answerKnown && awaiting && !pace.Awaited.Valid) LearnTurnaround(msg.LEN, now);
    WatchOwnMac(g_NodeTable, received);
    TrackConnection(received, g_NodeTable);
    DriveNodes(g_NodeTable, &received);
  }
  return true;
}

bool AnyFrameHeld() {
  for (int mac = 0; mac < NODE_COUNT; ++mac) {
    if (heldExpl[mac].Valid || heldIo[mac].Valid) return true;
  }
  return false;
}

}  // namespace

void SetSendHook(SendHookFn hook) {
  sendHook = hook;
}

void ClearSendHook() {
  sendHook = nullptr;
  std::memset(heldExpl, 0, sizeof heldExpl);
  std::memset(heldIo, 0, sizeof heldIo);
  pace = Pace{};
  looks = AnswerLooks{};
  turnaround = Turnaround{};
}

SendResult SendFrame(const CanFrame& frame) {
  can::DriverMsg msg{};
  msg.ID = frame.Id;
  msg.MSGTYPE = can::MSGTYPE_STANDARD;
  msg.LEN = frame.Len;
  std::memcpy(msg.DATA, frame.Data, sizeof msg.DATA);

  const uint32_t result = can::CanWrite(&msg);
  if (result == can::CAN_ERR_QXMTFULL) return SEND_QUEUE_FULL;
  if (result != can::CAN_ERR_OK) {
    writeError = result | can::ReadStatus();
    return SEND_FAILED;
  }

  // The master's own frames teach the tracking; they never reach the state
  // machines.
  DnMessage sent{};
  if (DecodeFrame(frame, sent) && ParseMessage(sent, g_NodeTable)) {
    TrackConnection(sent, g_NodeTable);
  }
  return SEND_QUEUED;
}

uint32_t SendRefusals() {
  return refusals;
}

uint32_t LastRefusalWord() {
  return refusalWord;
}

void DriveNodes(NodeTable& table, const DnMessage* received) {
  for (uint8_t mac = 0; mac < NODE_COUNT; ++mac) {
    // Receive before the steps: a frame read before a new transfer's first
    // frame went out must not end that transfer.
    IoReceive(table, mac, received);
    DriveExplicit(table, mac, received);
    DriveIo(table, mac);
  }
}

bool TransmitRoomFor(uint8_t len) {
  if (AnyFrameHeld()) return false;
  const int32_t backlogUs = UntilUs(pace.BusFreeUs, platform::TickUs());
  return backlogUs <= static_cast<int32_t>(FrameBitsNoStuff(len) * BitTimeUs());
}

void DrainReceiveQueue() {
  can::DriverMsg msg{};
  while (can::CanRead(&msg) == can::CAN_ERR_OK) {
    if (msg.MSGTYPE & can::MSGTYPE_STATUS) {
      can::NoteStatusMessage(msg);
      continue;
    }
    DnMessage received{};
    if (Decode(msg, received)) WatchOwnMac(g_NodeTable, received);
  }
}

void LinkTick() {
  pace.More = false;
  for (int n = 0; n < MAX_PASSES_PER_TICK; ++n) {
    pass = PassCounts{};
    const bool read = ReadOne();
    DriveNodes(g_NodeTable, nullptr);
    if (!read && (pass.Sent == 0 || pass.Full > 0)) return;
  }
  pace.More = true;
}

void LinkPause() {
  if (pace.More) return;
  const uint32_t shortestFrameUs = ShortestFrameUs();
  // A full transmit queue has room again once a frame has left it.
  if (AnyFrameHeld()) {
    platform::PauseUs(shortestFrameUs);
    return;
  }
  const uint32_t now = platform::TickUs();
  // The earliest a new frame can be complete: the answer awaited (or the
  // shortest frame) after our own frames have left the wire and the
  // adapter has turned it around, or the next frame of a stream.
  const bool known = pace.AnswerDue && pace.AnswerKnown;
  const uint32_t dueUs = DueUs(pace.AnswerDue ? pace.AnswerLen : 0, known);
  // Only where a known answer is awaited: a search's checks go out one
  // after the other as the bus takes them, and most get no answer.
  const uint32_t firstLookUs = known ? dueUs + AdapterTurnaround().GuessUs : dueUs;
  int32_t untilFrame = UntilUs(firstLookUs, now);
  const int32_t untilNextRx = UntilUs(pace.NextRxUs, now);
  if (untilNextRx > untilFrame) untilFrame = untilNextRx;
  if (untilFrame > 0 && static_cast<uint32_t>(untilFrame) < LONG_WAIT_US) {
    platform::PauseUs(static_cast<uint32_t>(untilFrame));
  } else if (untilFrame <= 0 && static_cast<uint32_t>(-untilFrame) < BRIEF_POLL_US) {
    if (pace.AnswerDue) {
      looks.Overdue = true;
      looks.LastEmptyUs = now;
    }
    // While an answer may still be on the wire (longer than expected, or
    // with more stuff bits), it comes any moment; beyond that it is late
    // for another reason, and a new frame takes at least the shortest
    // frame's time: look that often, sleeping between.
    if (pace.AnswerDue && UntilUs(LatestUs(FULL_FRAME_LEN), now) > 0) {
      platform::PauseUs(POLL_STEP_US);
    } else {
      platform::NapUs(NapStepUs(known, firstLookUs, now));
    }
  } else {
    platform::Sleep1Ms();
  }
}

uint32_t FrameBitsNoStuff(uint8_t len) {
  return STUFFED_HEADER_BITS + 8u * len + UNSTUFFED_TAIL_BITS;
}

uint32_t FrameBitsWorstStuff(uint8_t len) {
  // One stuff bit after the first five equal bits, then after every four.
  const uint32_t stuffed = STUFFED_HEADER_BITS + 8u * len;
  return FrameBitsNoStuff(len) + (stuffed - 1) / 4;
}

}  // namespace devicenet
