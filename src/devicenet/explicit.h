// Explicit messaging: one request to a slave and its response back, with the
// DeviceNet fragmentation protocol both ways. All state lives in the explicit
// transfer fields of the slave's node record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devicenet/codec.h"
#include "devicenet/node_table.h"

namespace devicenet {

// Queues a request to a slave. group: 0 = automatic (3 for instance 0, else
// the UCMM connection's ExplGroup), 1..3 = that group. timeoutMs applies to
// each wait of the transfer, counted from when the driver took the last
// frame (ExplFrameTaken; from when it was built until then). Returns false
// when refused: data over 995 bytes (nothing changed), a bad group, an Open
// with a bad group select or under 2 data bytes, or an unknown body format;
// also, with nothing changed, a class or instance ID wider than the body
// format carries (see ExplPathLimits). A new request abandons whatever
// exchange the node had.
bool ExplRequest(uint8_t macId, uint8_t group, uint32_t timeoutMs, NodeTable& table,
                 uint8_t service, uint16_t classId, uint16_t instanceId, const uint8_t* data,
                 size_t dataLen);

// The largest class and instance IDs that a request of `service` to `macId`
// in `group` (0, 1..3 as for ExplRequest) can name in the body format it
// would go out in: 0xFF or 0xFFFF each, by the format the slave granted, and
// 8/8 on the Group 2 Only port. False, leaving both alone, when such a
// request names no class and instance or the format is unknown.
bool ExplPathLimits(const NodeTable& table, uint8_t macId, uint8_t group, uint8_t service,
                    uint16_t instanceId, uint16_t& classMax, uint16_t& instanceMax);

// Returns false while the exchange runs (outputs then: length 0, result 1,
// service 0). On true: up to bufSize response bytes (after the service byte)
// are in buf, result is the ExchangeResult, service is the response's service
// code (SVC_ERROR_RESPONSE for an error response), and the node is idle again.
bool ExplTakeResponse(uint8_t macId, NodeTable& table, uint8_t* buf, size_t bufSize, size_t& outLen,
                      uint8_t& outResult, uint8_t& outService);

// One step of a node's explicit transfer with a received message, or none
// (time-outs are tested only then). Returns the message to send, valid until
// the next call, or null. Called by the receive tick only.
const DnMessage* ExplStep(NodeTable& table, uint8_t macId, const DnMessage* received);

// The driver took the frame ExplStep returned last: the wait that follows it
// starts now, however long the frame waited for room in the transmit queue.
void ExplFrameTaken(NodeTable& table, uint8_t macId);

// The adapter refused that frame: an exchange still under way ends with
// RESULT_REFUSED (one that has its result already keeps it).
void ExplFrameRefused(NodeTable& table, uint8_t macId);

// Sets group, message ID and the MAC IDs of an outgoing message: in groups 1
// and 3 the identifier carries the own MAC ID and the header the slave's; in
// group 2 the reverse. Header bits 7..6 are left to the caller.
void FillExplHeader(DnMessage& out, const NodeTable& table, uint8_t macId);

}  // namespace devicenet
