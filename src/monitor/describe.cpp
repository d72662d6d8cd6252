// A decoded frame in words, from the language library's string table: one
// format per kind of frame, with short appended clauses for the fragment
// and acknowledge details.
#include <cstdio>

#include "can/can_driver.h"
#include "monitor/decode.h"
#include "persist/messages.h"
#include "persist/resstring.h"
#include "resource.h"

namespace monitor {

namespace {

constexpr uint8_t NONE = 0xFF;
constexpr uint8_t FRAG_FIRST = 0;
constexpr uint8_t FRAG_MIDDLE = 1;
constexpr uint8_t FRAG_LAST = 2;
constexpr uint8_t FRAG_COUNT_WHOLE = 0x3F;  // I/O: a first fragment that is the whole message
constexpr uint8_t ACK_TOO_MUCH_DATA = 1;

constexpr int FORMAT_SIZE = 400;  // one loaded format or word
constexpr size_t ARG_COUNT = 4;   // the most a format here takes
constexpr size_t NUMBER_SIZE = 16;

// Text written so far into the caller's buffer; every step appends and
// keeps it terminated.
struct Out {
  char* text;
  size_t size;
  size_t used;
};

// Appends string `id` with its "%s" replaced by `args` (up to four, more
// than FormatResString takes). Nothing when the string cannot be loaded.
void Append(Out& out, unsigned id, const char* a1 = nullptr, const char* a2 = nullptr,
            const char* a3 = nullptr, const char* a4 = nullptr) {
  if (out.used + 1 >= out.size) return;
  char format[FORMAT_SIZE];
  if (persist::LoadResString(id, format, sizeof format) == 0) return;
  const char* args[ARG_COUNT] = {a1, a2, a3, a4};
  out.used +=
      persist::SubstituteArgs(format, args, ARG_COUNT, out.text + out.used, out.size - out.used);
}

struct Number {
  char text[NUMBER_SIZE];
};

Number Decimal(unsigned value) {
  Number n;
  std::snprintf(n.text, sizeof n.text, "%u", value);
  return n;
}

Number Hex(unsigned value, int digits) {
  Number n;
  std::snprintf(n.text, sizeof n.text, "%0*X", digits, value);
  return n;
}

// The standard name of the service, or "Service 4F hex" in words.
void ServiceText(uint8_t service, char* text, size_t size) {
  const char* name = ServiceName(service);
  if (name) {
    std::snprintf(text, size, "%s", name);
    return;
  }
  Out out{text, size, 0};
  text[0] = '\0';
  Append(out, IDS_MON_SERVICE_CODE, Hex(service & 0x7F, 2).text);
}

// Class and instance widths: "8/16"; a value with no meaning as its number.
Number BodyFormatText(uint8_t format) {
  static const char* const FORMATS[] = {"8/8", "8/16", "16/16", "16/8"};
  Number n;
  if (format < 4) {
    std::snprintf(n.text, sizeof n.text, "%s", FORMATS[format]);
  } else {
    n = Decimal(format);
  }
  return n;
}

// ", first fragment 0" and the like; I/O's one-frame message has no count.
void AppendFragment(Out& out, const DecodedFrame& d) {
  if (!d.fragmented) return;
  const Number count = Decimal(d.fragmentCount);
  switch (d.fragmentType) {
    case FRAG_FIRST:
      if (d.fragmentCount == FRAG_COUNT_WHOLE &&
          (d.kind == FrameKind::PollCommand || d.kind == FrameKind::PollResponse ||
           d.kind == FrameKind::OtherIo)) {
        Append(out, IDS_MON_WHOLE_FRAGMENT);
      } else {
        Append(out, IDS_MON_FIRST_FRAGMENT, count.text);
      }
      break;
    case FRAG_MIDDLE:
      Append(out, IDS_MON_MIDDLE_FRAGMENT, count.text);
      break;
    case FRAG_LAST:
      Append(out, IDS_MON_LAST_FRAGMENT, count.text);
      break;
    default:
      break;
  }
}

void DescribeRequest(Out& out, const DecodedFrame& d) {
  char service[FORMAT_SIZE];
  ServiceText(d.service, service, sizeof service);
  if (!d.hasPath) {
    Append(out, IDS_MON_REQUEST_NO_PATH, service);
  } else if (d.attribute != 0) {  // attribute IDs start at 1
    Append(out, IDS_MON_REQUEST_ATTRIBUTE, service, Decimal(d.classId).text,
           Decimal(d.instance).text, Decimal(d.attribute).text);
  } else {
    Append(out, IDS_MON_EXPLICIT_REQUEST, service, Decimal(d.classId).text,
           Decimal(d.instance).text);
  }
  if (d.hasPath && d.pathFormatAssumed) Append(out, IDS_MON_FORMAT_ASSUMED);
}

void DescribeAck(Out& out, const DecodedFrame& d) {
  // The client acknowledges response fragments, the server request fragments.
  Append(out, d.sourceIsMaster ? IDS_MON_ACK_RESPONSE : IDS_MON_ACK_REQUEST,
         Decimal(d.fragmentCount).text);
  if (d.ackStatus == ACK_TOO_MUCH_DATA) {
    Append(out, IDS_MON_ACK_TOO_MUCH_DATA);
  } else if (d.ackStatus != 0 && d.ackStatus != NONE) {
    Append(out, IDS_MON_ACK_STATUS, Hex(d.ackStatus, 2).text);
  }
}

// The master's group 2 messages 0..2 and the slave's group 1 messages 12..14.
unsigned OtherIoText(const DecodedFrame& d) {
  if (d.group == 2) {
    if (d.messageId == 0) return IDS_MON_BIT_STROBE_COMMAND;
    if (d.messageId == 1) return IDS_MON_MULTICAST_POLL_COMMAND;
    return IDS_MON_COS_CYCLIC_ACK;
  }
  if (d.messageId == 12) return IDS_MON_MULTICAST_POLL_RESPONSE;
  if (d.messageId == 13) return IDS_MON_COS_CYCLIC;
  return IDS_MON_BIT_STROBE_RESPONSE;
}

// An Unknown frame: a bad identifier, group 4, or (in groups 1 to 3, where
// every message ID has a meaning) data too short for the header.
unsigned UnknownText(const DecodedFrame& d) {
  if (d.group == 0) return IDS_MON_INVALID_ID;
  if (d.group == 4) return IDS_MON_GROUP4;
  return IDS_MON_TOO_SHORT;
}

void DescribeStatus(Out& out, const DecodedFrame& d) {
  char status[FORMAT_SIZE];
  if (persist::LoadResString(can::BusStatusStringId(d.statusWord), status, sizeof status) == 0) {
    status[0] = '\0';
  }
  Append(out, IDS_MON_STATUS, status, Hex(d.statusWord, 1).text);
}

}  // namespace

size_t DescribeFrame(const DecodedFrame& d, char* text, size_t size) {
  if (size == 0) return 0;
  text[0] = '\0';
  Out out{text, size, 0};
  char words[FORMAT_SIZE];
  switch (d.kind) {
    case FrameKind::Unknown:
      Append(out, UnknownText(d), Hex(d.messageId, 2).text);
      break;
    case FrameKind::StatusMessage:
      DescribeStatus(out, d);
      break;
    case FrameKind::DupMacRequest:
    case FrameKind::DupMacResponse:
      Append(
          out,
          d.kind == FrameKind::DupMacRequest ? IDS_MON_DUP_MAC_REQUEST : IDS_MON_DUP_MAC_RESPONSE,
          Decimal(d.physicalPort).text, Decimal(d.vendorId).text, Hex(d.serial, 8).text);
      break;
    case FrameKind::ExplicitRequest:
      DescribeRequest(out, d);
      AppendFragment(out, d);
      break;
    case FrameKind::ExplicitResponse:
      ServiceText(d.service, words, sizeof words);
      Append(out, IDS_MON_EXPLICIT_RESPONSE, words);
      AppendFragment(out, d);
      break;
    case FrameKind::ErrorResponse:
      persist::ErrorCodeText(d.generalError, d.additionalError, words, sizeof words);
      Append(out, IDS_MON_ERROR_RESPONSE, words);
      AppendFragment(out, d);
      break;
    case FrameKind::ExplicitFragment:
      Append(out, d.sourceIsMaster ? IDS_MON_REQUEST : IDS_MON_RESPONSE);
      AppendFragment(out, d);
      break;
    case FrameKind::FragmentAck:
      DescribeAck(out, d);
      break;
    case FrameKind::UcmmOpen:
      Append(out, IDS_MON_UCMM_OPEN, BodyFormatText(d.bodyFormat).text,
             Decimal(d.groupSelect).text);
      break;
    case FrameKind::UcmmOpenResponse:
      Append(out, IDS_MON_UCMM_OPEN_RESPONSE, Decimal(d.instance).text,
             BodyFormatText(d.bodyFormat).text);
      break;
    case FrameKind::UcmmClose:
      Append(out, IDS_MON_UCMM_CLOSE, Decimal(d.instance).text);
      break;
    case FrameKind::UcmmCloseResponse:
      Append(out, IDS_MON_UCMM_CLOSE_RESPONSE);
      break;
    case FrameKind::PollCommand:
    case FrameKind::PollResponse:
      Append(out, d.kind == FrameKind::PollCommand ? IDS_MON_POLL_COMMAND : IDS_MON_POLL_RESPONSE);
      AppendFragment(out, d);
      break;
    case FrameKind::OtherIo:
      Append(out, OtherIoText(d));
      AppendFragment(out, d);
      break;
  }
  return out.used;
}

}  // namespace monitor
