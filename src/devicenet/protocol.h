// DeviceNet numbers the link layer uses: message groups and IDs, services,
// classes, fragmentation. Named once here so code reads like the protocol.
#pragma once

#include <cstdint>

namespace devicenet {

constexpr uint8_t MAC_ID_MASK = 0x3F;  // MAC IDs 0..63
constexpr int NODE_COUNT = 64;

// Message groups of the 11-bit identifier.
constexpr uint8_t GROUP_1 = 1;
constexpr uint8_t GROUP_2 = 2;
constexpr uint8_t GROUP_3 = 3;
constexpr uint8_t GROUP_4 = 4;

// Group 1 message IDs the slave produces.
constexpr uint8_t G1_MSG_COS_CYCLIC = 13;     // change of state or cyclic message
constexpr uint8_t G1_MSG_BIT_STROBE = 14;     // bit-strobe response
constexpr uint8_t G1_MSG_POLL_RESPONSE = 15;  // poll response
constexpr uint8_t G1_FIRST_IO_MSG = 12;       // 12..15 are the slave's I/O messages

// Group 2 message IDs (MAC ID field = the slave's in both directions).
constexpr uint8_t G2_MSG_EXPL_RESPONSE = 3;    // explicit response from the slave
constexpr uint8_t G2_MSG_EXPL_REQUEST = 4;     // connected explicit request
constexpr uint8_t G2_MSG_POLL_COMMAND = 5;     // master's I/O poll command
constexpr uint8_t G2_MSG_UNCONNECTED_REQ = 6;  // Group 2 only unconnected request port
constexpr uint8_t G2_MSG_DUP_MAC_CHECK = 7;    // duplicate MAC ID check

// Group 3 message IDs of the unconnected message manager.
constexpr uint8_t G3_MSG_UNCONNECTED_RESP = 5;
constexpr uint8_t G3_MSG_UNCONNECTED_REQ = 6;

// Services (bit 7 of the service byte marks a response).
constexpr uint8_t SVC_RESPONSE_BIT = 0x80;
constexpr uint8_t SVC_RESET = 0x05;
constexpr uint8_t SVC_GET_ATTRIBUTE_SINGLE = 0x0E;
constexpr uint8_t SVC_SET_ATTRIBUTE_SINGLE = 0x10;
constexpr uint8_t SVC_ERROR_RESPONSE = 0x14;
constexpr uint8_t SVC_ALLOCATE = 0x4B;  // Allocate_M/S_Connection_Set, or UCMM Open
constexpr uint8_t SVC_RELEASE = 0x4C;   // Release_M/S_Connection_Set, or UCMM Close

// Classes.
constexpr uint16_t CLASS_IDENTITY = 0x01;
constexpr uint16_t CLASS_DEVICENET = 0x03;
constexpr uint16_t CLASS_CONNECTION = 0x05;

// Connection object attributes and instances.
constexpr uint8_t ATTR_PRODUCED_CONN_SIZE = 7;
constexpr uint8_t ATTR_CONSUMED_CONN_SIZE = 8;
constexpr uint8_t ATTR_EXPECTED_PACKET_RATE = 9;
constexpr uint16_t CONN_INSTANCE_POLL = 2;
constexpr uint16_t CONN_INSTANCE_BIT_STROBE = 3;
constexpr uint16_t CONN_INSTANCE_COS_CYCLIC = 4;

// Fragmentation byte: type in bits 7..6, count in bits 5..0.
constexpr uint8_t FRAG_FIRST = 0;
constexpr uint8_t FRAG_MIDDLE = 1;
constexpr uint8_t FRAG_LAST = 2;
constexpr uint8_t FRAG_ACK = 3;
constexpr uint8_t FRAG_COUNT_MASK = 0x3F;
constexpr uint8_t FRAG_COUNT_WHOLE = 0x3F;  // I/O: a first fragment that is the whole message

// Explicit header byte.
constexpr uint8_t HDR_FRAG_BIT = 0x80;
constexpr uint8_t HDR_XID_BIT = 0x40;

// Acknowledge status byte.
constexpr uint8_t ACK_SUCCESS = 0;
constexpr uint8_t ACK_TOO_MUCH_DATA = 1;

// Fixed buffer limits.
constexpr uint16_t MAX_BODY_LEN = 1000;         // request body, response data, I/O data
constexpr uint16_t MAX_REQUEST_DATA_LEN = 995;  // request data after service and path

}  // namespace devicenet
