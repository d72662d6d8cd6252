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

void EndLine(const Adapter& adapter, Output& out) {
  Append(out, &CR, 1);
  if (adapter.faults.crlf) Append(out, &LF, 1);
}

// True when the answer now due is to go missing.
bool LoseAnswer(Adapter& adapter) {
  ++adapter.answers;
  return adapter.faults.loseEvery != 0 && adapter.answers % adapter.faults.loseEvery == 0;
}

void Done(Adapter& adapter, Output& out) {
  if (!LoseAnswer(adapter)) EndLine(adapter, out);
}

void Refuse(Adapter& adapter, Output& out) {
  if (!LoseAnswer(adapter)) Append(out, &BEL, 1);
}

void Reply(Adapter& adapter, Output& out, const char* text) {
  if (LoseAnswer(adapter)) return;
  Append(out, text, std::strlen(text));
  EndLine(adapter, out);
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
    Refuse(adapter, out);
    return;
  }
  ++adapter.frames;
  if (adapter.faults.refuseEvery != 0 && adapter.frames % adapter.faults.refuseEvery == 0) {
    Refuse(adapter, out);
    return;
  }
  if (!frame.extended && !frame.remote) {
    DriverMsg msg{};
    msg.ID = frame.id;
    msg.LEN = frame.len;
    std::memcpy(msg.DATA, frame.data, sizeof msg.DATA);
    // Transmit queue full or bus off: the adapter refuses the frame.
    if (CAN_Write(&msg) != SIMCAN_OK) {
      Refuse(adapter, out);
      return;
    }
  }
  Reply(adapter, out, frame.extended ? "Z" : "z");
}

void Command(Adapter& adapter, const char* line, size_t length, Output& out) {
  if (length == 0) return;
  const char command = line[0];
  const bool bare = length == 1;
  switch (command) {
    case 'S': {
      const uint16_t timing = length == 2 ? BitTimingOfDigit(line[1]) : 0;
      if (adapter.open || timing == 0) return Refuse(adapter, out);
      adapter.bitTiming = timing;
      return Done(adapter, out);
    }
    case 'O':
      if (!bare || adapter.open || adapter.bitTiming == 0) return Refuse(adapter, out);
      if (CAN_Init(adapter.bitTiming, 0, 0, 0, 0) != SIMCAN_OK) return Refuse(adapter, out);
      adapter.open = true;
      return Done(adapter, out);
    case 'C':
      if (!bare || !adapter.open) return Refuse(adapter, out);
      CAN_Close();
      adapter.open = false;
      return Done(adapter, out);
    case 'F': {
      if (!bare || !adapter.open) return Refuse(adapter, out);
      char reply[4];
      uint8_t flags = FlagsFromDriverStatus(CAN_Status());
      if (adapter.faults.busErrorFlag) flags |= FLAG_BUS_ERROR;
      const char* hex = "0123456789ABCDEF";
      reply[0] = 'F';
      reply[1] = hex[flags >> 4];
      reply[2] = hex[flags & 0xF];
      reply[3] = '\0';
      return Reply(adapter, out, reply);
    }
    case 'Z':
      if (length != 2 || (line[1] != '0' && line[1] != '1') || adapter.open)
        return Refuse(adapter, out);
      adapter.stamps = line[1] == '1';
      return Done(adapter, out);
    case 'V':
      return bare ? Reply(adapter, out, VERSION_REPLY) : Refuse(adapter, out);
    case 'N':
      return bare ? Reply(adapter, out, SERIAL_REPLY) : Refuse(adapter, out);
    case 't':
    case 'T':
    case 'r':
    case 'R':
      return Transmit(adapter, line, length, out);
    default:
      return Refuse(adapter, out);
  }
}

}  // namespace

void ResetAdapter(Adapter& adapter) {
  adapter = Adapter{};
}

uint8_t FlagsFromDriverStatus(uint32_t status) {
  uint8_t flags = 0;
  if (status & SIMCAN_ERR_OVERRUN) flags |= FLAG_DATA_OVERRUN;
  if (status & SIMCAN_ERR_BUSLIGHT) flags |= FLAG_ERROR_WARNING;
  if (status & SIMCAN_ERR_BUSHEAVY) flags |= FLAG_ERROR_PASSIVE;
  if (status & SIMCAN_ERR_BUSOFF) flags |= FLAG_ERROR_WARNING | FLAG_ERROR_PASSIVE | FLAG_BUS_ERROR;
  return flags;
}

void FeedHost(Adapter& adapter, const char* bytes, size_t count, Output& out) {
  for (size_t i = 0; i < count; ++i) {
    switch (FeedByte(adapter.splitter, bytes[i])) {
      case LINE_DONE:
        Command(adapter, adapter.splitter.line, adapter.splitter.length, out);
        break;
      case LINE_OVERLONG:
        Refuse(adapter, out);
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
  while (out.length + LINE_LENGTH_MAX + 2 <= sizeof out.bytes) {
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
    if (adapter.faults.crlf) Append(out, &LF, 1);
    ++lines;
  }
  return lines;
}

}  // namespace emu
}  // namespace serialcan
