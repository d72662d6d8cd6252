// The slave node table: one record per MAC ID with everything the link layer
// knows about that slave and the transfers in progress with it. Fixed
// buffers only; nothing is allocated.
#pragma once

#include <cstdint>

#include "devicenet/protocol.h"

namespace devicenet {

// Reassembly and delivery of one group 1 I/O message ID the slave produces.
struct ConsumeSlot {
  uint8_t Assembly[MAX_BODY_LEN];  // fragments collected so far
  uint16_t AssemblyLen;            // 0 = no reassembly in progress
  uint8_t NextFragCount;           // count the next middle or last fragment must carry
  uint8_t Message[MAX_BODY_LEN];   // the last complete message
  uint16_t MessageLen;
  uint32_t MessageCount;  // complete messages since the reader last took one
};

// Explicit transfer states.
enum ExplTransferState : uint8_t {
  EXPL_IDLE = 0,
  EXPL_QUEUED = 1,
  EXPL_WAIT_REQ_ACK = 2,   // a request fragment was sent, waiting for its acknowledge
  EXPL_SEND_FRAGMENT = 3,  // send the next request fragment
  EXPL_WAIT_RESPONSE = 4,
  EXPL_ACK_FRAGMENT = 5,   // acknowledge a response fragment
  EXPL_ACK_LAST = 6,       // acknowledge the last response fragment
  EXPL_REFUSE = 7,         // refuse an oversized response
  EXPL_WAIT_FRAGMENT = 8,  // wait for the next response fragment
  EXPL_ENDED = 9,
};

// Results of an explicit or I/O exchange.
enum ExchangeResult : uint8_t {
  RESULT_COMPLETED = 0,
  RESULT_FAILED = 1,
  RESULT_TIMEOUT = 2,
  // The adapter refused a frame of the exchange, or its transmit queue
  // stayed full: the exchange ended without that frame on the wire.
  RESULT_REFUSED = 3,
};

struct NodeRecord {
  // Explicit connection parameters.
  uint8_t ExplGroup;      // group (1 or 3) of the connection opened through the UCMM
  uint8_t BodyFormat;     // message body format 0..3 (8/8, 8/16, 16/16, 16/8)
  uint8_t ReqMsgId;       // request message ID on the UCMM connection
  uint8_t RespMsgId;      // response message ID on the UCMM connection
  uint16_t ConnInstance;  // Connection object instance of the UCMM connection
  uint16_t G1Size[16];    // sizes of the slave's group 1 messages; above 8 = fragmented
  uint16_t G2Size[8];     // sizes of the master's group 2 messages

  // Pending Get/Set_Attribute_Single request whose response is awaited.
  uint8_t PendAttr;
  uint8_t PendService;
  uint16_t PendClass;
  uint16_t PendInstance;
  uint8_t PendAttribute;

  // Explicit transfer.
  uint8_t ExplState;      // ExplTransferState
  uint8_t ExplRespGroup;  // Origin a response must have
  uint8_t ExplTxGroup;    // group the request frames go out in
  uint8_t ExplReqMsgId;
  uint8_t ExplRespMsgId;
  uint8_t G2Allocated;             // an Allocate went out through the Group 2 only port
  uint8_t Toggle;                  // transaction toggle of the current request
  uint32_t ExplTimeout;            // ms, for each wait of the transfer, from the frame's acceptance
  uint8_t ReqBody[MAX_BODY_LEN];   // service, path, data
  uint8_t RespData[MAX_BODY_LEN];  // response data after the service byte
  uint16_t ReqLen;
  uint16_t RespLen;
  uint16_t ReqSent;
  uint8_t ExplFragCount;  // modulo 64
  uint8_t RespService;    // SVC_ERROR_RESPONSE marks an error response
  uint8_t ExplResult;     // ExchangeResult
  uint32_t ExplTick;      // tick at which the driver took the last request frame or acknowledge

  // I/O transfer.
  uint8_t IoState;
  uint8_t IoMsgId;     // G2_MSG_POLL_COMMAND or G2_MSG_DUP_MAC_CHECK
  uint32_t IoTimeout;  // ms
  uint8_t IoOut[MAX_BODY_LEN];
  uint16_t IoOutLen;
  uint16_t IoOutSent;
  uint8_t IoFragCount;
  uint8_t IoResult;
  uint32_t IoTick;  // tick at which the driver took the last frame of the transfer
  // Duplicate MAC ID check requests the node sent for itself, as it does
  // when it starts up or restarts; a count that only grows.
  uint32_t OwnChecksHeard;

  ConsumeSlot Consume[16];  // by group 1 message ID; 15 receives poll responses
};

// Another node's Duplicate MAC ID check message for the own MAC ID.
struct MacRival {
  uint8_t Seen;      // the fields below hold the first such message
  uint8_t Response;  // 1: a response (the node is online with it), 0: a request (it checks it)
  uint16_t VendorId;
  uint32_t SerialNumber;
};

struct NodeTable {
  uint8_t OwnMacId;        // the master's own MAC ID on the bus
  uint8_t OwnMacChecking;  // OwnMacId is being checked: another node's check message takes it
  uint8_t OwnMacClaimed;   // OwnMacId was checked free and no other node has claimed it since
  uint8_t OwnMacLost;      // another node claimed OwnMacId: nothing more goes out under it
  MacRival Rival;          // the first check message of another node for OwnMacId
  // Duplicate MAC ID requests heard from other nodes, by MAC ID, since the
  // watch was last cleared: those nodes are checking that MAC ID right now.
  uint8_t CheckHeard[NODE_COUNT];
  NodeRecord Node[NODE_COUNT];
};

// Record of a MAC ID; every index is taken modulo 64.
inline NodeRecord& NodeOf(NodeTable& table, unsigned macId) {
  return table.Node[macId & MAC_ID_MASK];
}
inline const NodeRecord& NodeOf(const NodeTable& table, unsigned macId) {
  return table.Node[macId & MAC_ID_MASK];
}

// Zeroes the whole table, OwnMacId included, and sets the duplicate MAC ID
// check size (7) of every record.
void InitNodeTable(NodeTable& table);

}  // namespace devicenet
