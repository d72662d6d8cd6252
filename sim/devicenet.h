// DeviceNet numbers the simulated slaves use, named once.
#pragma once

#include <cstdint>

namespace sim {

// One CAN frame on the simulated bus.
struct Frame {
  uint32_t id;  // 11-bit identifier
  uint8_t len;  // 0..8
  uint8_t data[8];
};

// Identifier layout.
constexpr uint32_t ID_GROUP2 = 0x400;        // 10 mmmmmm iii: MAC ID then message ID
constexpr uint32_t ID_GROUP3 = 0x600;        // 11 iii mmmmmm: message ID then source MAC ID
constexpr uint32_t ID_GROUP4_FIRST = 0x7C0;  // 11111 iiiiii
constexpr uint8_t G1_POLL_RESPONSE = 15;     // group 1: the slave's poll response
constexpr uint8_t G1_FIRST_IO = 12;          // group 1 message IDs 12..15 are the predefined I/O
constexpr uint8_t G2_EXPLICIT_RESPONSE =
    3;                                      // group 2: explicit response (and unconnected response)
constexpr uint8_t G2_EXPLICIT_REQUEST = 4;  // group 2: explicit request on the predefined set
constexpr uint8_t G2_POLL_COMMAND = 5;      // group 2: poll command
constexpr uint8_t G2_UNCONNECTED = 6;       // group 2: Group 2 Only Unconnected Explicit Request
constexpr uint8_t G2_DUP_MAC = 7;           // group 2: Duplicate MAC ID Check
constexpr uint8_t G3_UNCONNECTED_RESPONSE = 5;  // group 3: UCMM response
constexpr uint8_t G3_UNCONNECTED_REQUEST = 6;   // group 3: UCMM request
constexpr uint8_t G3_LAST_CONNECTED = 4;        // group 3 message IDs 0..4 carry connections

// Explicit message header (byte 0) and fragmentation byte.
constexpr uint8_t HDR_FRAG = 0x80;      // the frame is a fragment
constexpr uint8_t HDR_XID = 0x40;       // transaction toggle
constexpr uint8_t HDR_MAC_MASK = 0x3F;  // the other end's MAC ID
constexpr uint8_t FRAG_FIRST = 0;       // fragment types, bits 7..6 of the fragmentation byte
constexpr uint8_t FRAG_MIDDLE = 1;
constexpr uint8_t FRAG_LAST = 2;
constexpr uint8_t FRAG_ACK = 3;
constexpr uint8_t FRAG_COUNT_MASK = 0x3F;
constexpr uint8_t FRAG_ONLY = 0x3F;  // I/O: a first fragment with this count is the whole message
constexpr uint8_t ACK_OK = 0;        // acknowledge status
constexpr uint8_t ACK_TOO_MUCH = 1;  // the receiver cannot take that much data
constexpr uint8_t DUP_MAC_RESPONSE = 0x80;  // byte 0 bit 7 of a Duplicate MAC ID message

// Services.
constexpr uint8_t SVC_GET_ATTRIBUTES_ALL = 0x01;
constexpr uint8_t SVC_RESET = 0x05;
constexpr uint8_t SVC_APPLY_ATTRIBUTES = 0x0D;
constexpr uint8_t SVC_GET_ATTRIBUTE_SINGLE = 0x0E;
constexpr uint8_t SVC_SET_ATTRIBUTE_SINGLE = 0x10;
constexpr uint8_t SVC_ERROR_RESPONSE = 0x14;
constexpr uint8_t SVC_ALLOCATE = 0x4B;  // Allocate_Master/Slave_Connection_Set, UCMM Open
constexpr uint8_t SVC_RELEASE = 0x4C;   // Release_Master/Slave_Connection_Set, UCMM Close
constexpr uint8_t SVC_RESPONSE = 0x80;  // request/response bit of the service byte

// Classes.
constexpr uint16_t CLASS_IDENTITY = 0x01;
constexpr uint16_t CLASS_DEVICENET = 0x03;
constexpr uint16_t CLASS_ASSEMBLY = 0x04;
constexpr uint16_t CLASS_CONNECTION = 0x05;

// Allocation choice bits.
constexpr uint8_t ALLOC_EXPLICIT = 0x01;
constexpr uint8_t ALLOC_POLL = 0x02;
constexpr uint8_t ALLOC_SUPPORTED = ALLOC_EXPLICIT | ALLOC_POLL;
constexpr uint8_t NO_MASTER = 0xFF;  // allocation information: no master

// Connection instances.
constexpr uint16_t CONN_EXPLICIT = 1;    // predefined set: explicit
constexpr uint16_t CONN_POLL = 2;        // predefined set: poll
constexpr uint16_t CONN_UCMM_FIRST = 5;  // explicit connections opened through the UCMM
constexpr int UCMM_CONNECTIONS = 3;

// General error codes.
constexpr uint8_t GEC_RESOURCE_UNAVAILABLE = 0x02;
constexpr uint8_t GEC_PATH_UNKNOWN = 0x05;
constexpr uint8_t GEC_SERVICE_NOT_SUPPORTED = 0x08;
constexpr uint8_t GEC_INVALID_VALUE = 0x09;
constexpr uint8_t GEC_ALREADY_IN_STATE = 0x0B;
constexpr uint8_t GEC_STATE_CONFLICT = 0x0C;
constexpr uint8_t GEC_NOT_SETTABLE = 0x0E;
constexpr uint8_t GEC_NOT_ENOUGH_DATA = 0x13;
constexpr uint8_t GEC_ATTRIBUTE_NOT_SUPPORTED = 0x14;
constexpr uint8_t GEC_TOO_MUCH_DATA = 0x15;
constexpr uint8_t GEC_NO_OBJECT = 0x16;
constexpr uint8_t GEC_INVALID_PARAMETER = 0x20;
constexpr uint8_t AEC_NONE = 0xFF;           // additional code when there is none
constexpr uint8_t AEC_NO_CONNECTION = 0x01;  // UCMM: no connection free in that group

// Message body formats (class / instance widths).
constexpr uint8_t BODY_8_8 = 0;
constexpr uint8_t BODY_8_16 = 1;
constexpr uint8_t BODY_16_16 = 2;
constexpr uint8_t BODY_16_8 = 3;

// Default expected packet rate of an explicit connection, ms.
constexpr uint16_t EXPLICIT_DEFAULT_EPR_MS = 2500;
// The inactivity watchdog times out after this many expected packet rates.
constexpr uint32_t WATCHDOG_RATES = 4;

// Largest explicit message body and largest I/O message, bytes.
constexpr uint16_t MAX_EXPLICIT_BODY = 1024;
constexpr uint16_t MAX_IO = 1000;
// Connection sizes a slave may report. Above MAX_IO it only reports them
// (for testing a master's limit): it takes no poll command and sends no
// poll response.
constexpr uint16_t MAX_CONN_SIZE = 0xFFFF;

inline uint8_t U8(unsigned v) {
  return static_cast<uint8_t>(v & 0xFFu);
}

}  // namespace sim
