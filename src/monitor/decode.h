// What a DeviceNet frame means: the identifier's group, message ID and MAC
// ID, and the kind of message with its details. Portable; the bus monitor's
// own view of the bus, apart from the link layer's parsing of what it
// receives. One thing a frame does not carry is the body format of its
// explicit connection (the widths of class and instance in a request
// path): the monitor learns it from the Allocate and Open responses it sees
// (ConnectionFormats) and passes it in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "can/frame_tap.h"

namespace monitor {

enum class FrameKind : uint8_t {
  Unknown,        // no DeviceNet meaning (group 4 reserved IDs, bad length ...)
  StatusMessage,  // the driver's status word, not a bus frame
  DupMacRequest,  // Duplicate MAC ID check request (group 2 msg 7)
  DupMacResponse,
  ExplicitRequest,   // explicit or unconnected request, first or only fragment
  ExplicitResponse,  // success response, first or only fragment
  ErrorResponse,     // service 0x94: general and additional code
  ExplicitFragment,  // a middle or last fragment of a request or response
  FragmentAck,       // acknowledge of a request or response fragment
  UcmmOpen,          // Open Explicit Messaging Connection request (group 3 msg 6, 0x4B)
  UcmmOpenResponse,
  UcmmClose,  // Close request (group 3 msg 6, 0x4C)
  UcmmCloseResponse,
  PollCommand,   // group 2 msg 5 (fragment details when fragmented)
  PollResponse,  // group 1 msg 15
  OtherIo,       // other group 1 / group 2 I/O messages (bit strobe, change of state ...)
};

struct DecodedFrame {
  uint8_t group;        // 1..4; 0 when the identifier fits no group
  uint8_t messageId;    // within the group
  uint8_t macId;        // source or destination MAC ID as the group defines; 0xFF none
  uint8_t headerMacId;  // explicit and UCMM messages: the MAC ID in the message header
                        // (the other end of the conversation); 0xFF none
  FrameKind kind;
  bool fragmented;        // the frame carries a fragmentation protocol byte
  uint8_t fragmentType;   // 0 first, 1 middle, 2 last, 3 acknowledge
  uint8_t fragmentCount;  // 0..63
  uint8_t service;        // request or response service code (bit 7 set for a response)
  bool hasPath;           // classId/instance (and attribute for the attribute services) valid
  uint16_t classId;
  uint16_t instance;
  uint8_t attribute;     // for Get/Set_Attribute_Single; 0 otherwise
  uint8_t generalError;  // ErrorResponse
  uint8_t additionalError;
  uint16_t vendorId;  // DupMacRequest / DupMacResponse
  uint32_t serial;
  uint8_t physicalPort;
  bool sourceIsMaster;  // explicit/UCMM: the client (master) sent the frame: a request,
                        // a request fragment or the acknowledge of a response fragment
  uint32_t statusWord;  // StatusMessage: the driver's status word
  uint8_t ackStatus;    // FragmentAck: 0 success, 1 too much data; 0xFF none in the frame
  uint8_t bodyFormat;   // UcmmOpen, UcmmOpenResponse: 0 8/8, 1 8/16, 2 16/16, 3 16/8; 0xFF none
  uint8_t groupSelect;  // UcmmOpen: the group select (0 group 1, 1 group 2, 3 group 3); 0xFF none
  uint8_t pathFormat;   // hasPath: the body format the path was read with (as bodyFormat)
  bool pathFormatAssumed;  // hasPath: the connection's format was not seen; 8/8 read
  // UcmmClose and UcmmOpenResponse carry the connection instance in `instance`
  // (hasPath stays false). A UCMM frame too short for these is Unknown.
};

// A body format not learned: a request path is then read as 8/8, and said
// to be assumed.
constexpr uint8_t FORMAT_UNKNOWN = 0xFF;

// Decodes one frame; never reads past frame.len (<= 8) and never fails.
// I/O frames are read as plain data: whether an I/O connection is
// fragmented depends on its size, which the frame does not carry. A request
// path is read as 8/8, assumed where the connection's format can differ.
void DecodeFrame(const can::TappedFrame& frame, DecodedFrame& out);

// The same with the body format of the frame's connection (0..3, or
// FORMAT_UNKNOWN), as ConnectionFormatOf gives it. The Group 2 only port
// and the UCMM's own requests are 8/8 whatever is passed.
void DecodeFrameAs(const can::TappedFrame& frame, uint8_t bodyFormat, DecodedFrame& out);

// The body formats the slaves granted, by connection: the predefined
// master/slave set by the slave's MAC ID (granted in the Allocate
// response), an explicit connection the UCMM opened by server and client
// MAC ID (granted in the Open response). FORMAT_UNKNOWN where not seen.
constexpr int MAC_IDS = 64;
struct ConnectionFormats {
  uint8_t predefined[MAC_IDS];
  uint8_t opened[MAC_IDS][MAC_IDS];  // [server][client]
};
void ClearConnectionFormats(ConnectionFormats& formats);
// The body format of the connection that carries `frame`; FORMAT_UNKNOWN
// when not learned or when the frame is on no explicit connection.
uint8_t ConnectionFormatOf(const can::TappedFrame& frame, const ConnectionFormats& formats);
// Learns from an Allocate or Open response; a node's Duplicate MAC ID check
// request (it starts again) forgets its connections.
void LearnConnectionFormat(const can::TappedFrame& frame, ConnectionFormats& formats);

// As DecodeFrame, for a caller that knows the frame's I/O connection is
// larger than 8 bytes (as the link layer learns from the Connection
// object): an I/O frame then starts with a fragmentation byte. Other frames
// decode as DecodeFrame decodes them.
void DecodeFragmentedIoFrame(const can::TappedFrame& frame, DecodedFrame& out);

// The meaning in words, from the string table (English or German), for
// the monitor's last column: for example "Get_Attribute_Single request,
// class 1, instance 1, attribute 7", "Duplicate MAC ID check response,
// port 0, vendor 1312, serial 80000001 hex", "Error response: 08 hex (service
// not supported), additional code FF". Returns the length written (text
// always terminated when size > 0); 0 when the string table lacks the text.
size_t DescribeFrame(const DecodedFrame& decoded, char* text, size_t size);

// The name of a group's columns: "1".."4" or "" and the like are formatted
// by the window; this gives the standard service name for a code ("Get_Attribute_Single"),
// or nullptr when unknown (bit 7, the response bit, ignored).
const char* ServiceName(uint8_t service);

}  // namespace monitor
