#include "adapter.h"

#include <cstring>

#include "simcan.h"

namespace serialcan {
namespace emu {

namespace {

// The stamp counts milliseconds and wraps after a minute, as the adapters do.
constexpr uint64_t STAMP_WRAP_MS = 60000;
constexpr const char VERSION_REPLY[] = "V1010";
constexpr const char SERIAL_REPLY[] = "NQSIM";

void Append(Output& out, const char* bytes, size_t count) {
  if (out.length + count > sizeof out.bytes) return;
  std::memcpy(out.bytes + out.length, bytes, count);
  out.length += count;
}

void Done(Output& out) {
  Append(out, &CR, 1);
}

void Refuse(Output& out) {
  Append(out, &BEL, 1);
}

void Reply(Output& out, const char* text) {
  Append(out, text, std::strlen(text));
  Done(out);
}

uint16_t BitTimingOfDigit(char digit) {
  constexpr uint16_t TIMINGS[] = {SIMCAN_BTR_125K, SIMCAN_BTR_250K, SIMCAN_BTR_500K};
  for (uint16_t timing : TIMINGS) {
    if (BitRateDigit(timing) == digit - '0') return timing;
  }
  return 0;
}

// "tIIIL..." and its kin. The simulated bus carries 11-bit data frames
// only: a remote or extended frame is taken as a real adapter would take
// it, and goes nowhere.
void Transmit(Adapter& adapter, const char* line, size_t length, Output& out) {
  Frame frame{};
  if (!adapter.open || !ParseFrame(line, length, &frame, nullptr, nullptr)) {
    Refuse(out);
    return;
  }
  if (!frame.extended && !frame.remote) {
    DriverMsg msg{};
    msg.ID = frame.id;
    msg.LEN = frame.len;
    std::memcpy(msg.DATA, frame.data, sizeof msg.DATA);
    // Transmit queue full or bus off: the adapter refuses the frame.
    if (CAN_Write(&msg) != SIMCAN_OK) {
      Refuse(out);
      return;
    }
  }
  Reply(out, frame.extended ? "Z" : "z");
}

void Command(Adapter& adapter, const char* line, size_t length, Output& out) {
  if (length == 0) return;
  const char command = line[0];
  const bool bare = length == 1;
  switch (command) {
    case 'S': {
      const uint16_t timing = length == 2 ? BitTimingOfDigit(line[1]) : 0;
      if (adapter.open || timing == 0) return Refuse(out);
      adapter.bitTiming = timing;
      return Done(out);
    }
    case 'O':
      if (!bare || adapter.open || adapter.bitTiming == 0) return Refuse(out);
      if (CAN_Init(adapter.bitTiming, 0, 0, 0, 0) != SIMCAN_OK) return Refuse(out);
      adapter.open = true;
      return Done(out);
    case 'C':
      if (!bare || !adapter.open) return Refuse(out);
      CAN_Close();
      adapter.open = false;
      return Done(out);
    case 'F': {
      if (!bare || !adapter.open) return Refuse(out);
      char reply[4];
      const uint8_t flags = FlagsFromDriverStatus(CAN_Status());
      const char* hex = "0123456789ABCDEF";
      reply[0] = 'F';
      reply[1] = hex[flags >> 4];
      reply[2] = hex[flags & 0xF];
      reply[3] = '\0';
      return Reply(out, reply);
    }
    case 'Z':
      if (length != 2 || (line[1] != '0' && line[1] != '1') || adapter.open) return Refuse(out);
      adapter.stamps = line[1] == '1';
      return Done(out);
    case 'V':
      return bare ? Reply(out, VERSION_REPLY) : Refuse(out);
    case 'N':
      return bare ? Reply(out, SERIAL_REPLY) : Refuse(out);
    case 't':
    case 'T':
    case 'r':
    case 'R':
      return Transmit(adapter, line, length, out);
    default:
      return Refuse(out);
  }
}

}  // namespace

void ResetAdapter(Adapter& adapter) {
  adapter = Adapter{};
}

uint8_t FlagsFromDriverStatus(uint32_t status) {
  // For each status bit the flag the codec reads as exactly that bit; from
  // the top, so that the dedicated flags win (data overrun over FIFO full).
  uint8_t flags = 0;
  for (uint32_t bit = 1; bit != 0 && bit <= status; bit <<= 1) {
    if (!(status & bit)) continue;
    for (int flag = 7; flag >= 0; --flag) {
      if (DriverStatusFromFlags(static_cast<uint8_t>(1u << flag)) == bit) {
        flags = static_cast<uint8_t>(flags | 1u << flag);
        break;
      }
    }
  }
  return flags;
}

void FeedHost(Adapter& adapter, const char* bytes, size_t count, Output& out) {
  for (size_t i = 0; i < count; ++i) {
    switch (FeedByte(adapter.splitter, bytes[i])) {
      case LINE_DONE:
        Command(adapter, adapter.splitter.line, adapter.splitter.length, out);
        break;
      case LINE_OVERLONG:
        Refuse(out);
        break;
      case LINE_NONE:
      case LINE_BELL:
        break;
    }
  }
}

int ForwardReceived(Adapter& adapter, Output& out) {
  if (!adapter.open) return 0;
  int lines = 0;
  while (out.length + LINE_LENGTH_MAX + 1 <= sizeof out.bytes) {
    DriverMsg msg{};
    if (CAN_Read(&msg) != SIMCAN_OK) break;
    if (msg.MSGTYPE & SIMCAN_MSGTYPE_STATUS) continue;
    Frame frame{};
    frame.id = msg.ID;
    frame.len = msg.LEN;
    std::memcpy(frame.data, msg.DATA, sizeof frame.data);
    const uint16_t stamp = static_cast<uint16_t>(Sim_NowUs() / 1000 % STAMP_WRAP_MS);
    out.length += FormatFrame(frame, adapter.stamps, stamp, out.bytes + out.length,
                              sizeof out.bytes - out.length);
    ++lines;
  }
  return lines;
}

}  // namespace emu
}  // namespace serialcan
