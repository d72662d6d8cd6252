// I/O messaging of one node: the master's poll command (fragmented when the
// poll connection is larger than 8 bytes), the duplicate MAC ID check used to
// probe an address, and reassembly and delivery of the slave's I/O messages
// into the node's consume slots.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devicenet/codec.h"
#include "devicenet/node_table.h"

namespace devicenet {

// I/O transfer states.
enum IoTransferState : uint8_t {
  IO_IDLE = 0,
  IO_QUEUED = 1,
  IO_SENDING = 2,  // sending fragments, one per step
  IO_WAITING = 3,  // last frame sent, waiting for the slave's answer
  IO_ENDED = 4,
};

constexpr size_t DUP_MAC_CHECK_LEN = 7;

// Queues a poll command with `len` output bytes; the answer is awaited for
// timeoutMs after the driver took the last frame (IoFrameTaken). False when len exceeds 1000 or the
// poll command size learned for the slave.
bool IoRequest(uint8_t macId, uint32_t timeoutMs, NodeTable& table, const uint8_t* data,
               size_t len);

// Queues a duplicate MAC ID check message of exactly 7 bytes; false otherwise.
bool DupMacRequest(uint8_t macId, uint32_t timeoutMs, NodeTable& table, const uint8_t* data,
                   size_t len);

// The driver took the frame IoStep returned last: the answer window of a
// transfer in progress starts now, however long the frame waited for room in
// the transmit queue.
void IoFrameTaken(NodeTable& table, uint8_t macId);

// The adapter refused that frame: a transfer in progress ends with
// RESULT_REFUSED.
void IoFrameRefused(NodeTable& table, uint8_t macId);

// Drops the node's I/O transfer, queued or under way: nothing more of it
// goes out and no result is kept.
void IoCancel(NodeTable& table, uint8_t macId);

// A transfer is in progress: sending, or waiting for its answer.
bool IoInProgress(uint8_t state);

// One step of a node's outgoing I/O transfer: returns the message to send,
// valid until the next call, or null. Tests the answer time-out.
const DnMessage* IoStep(NodeTable& table, uint8_t macId);

// A step that sends nothing: ends a transfer in progress with result 2 once
// more than its time-out has passed since the driver took its last frame.
// The step of the answer wait.
void IoHoldStep(NodeTable& table, uint8_t macId);

// Offers a received message to a node's I/O side: ends a waiting duplicate
// MAC ID check or poll, counts the node's own check requests in
// OwnChecksHeard, and reassembles and delivers the slave's group 1 I/O
// messages into its consume slots.
void IoReceive(NodeTable& table, uint8_t macId, const DnMessage* received);

// False while the I/O transfer has not ended (result then 1). On true the
// result is 0 answered, 1 failed, 2 time-out or 3 refused by the adapter,
// and the transfer is idle again.
bool IoTakeResult(uint8_t macId, NodeTable& table, uint8_t& outResult);

// Takes the last complete message of a group 1 message ID if one arrived
// since the last take: copies at most bufSize bytes and returns true; false
// (outLen untouched) otherwise.
bool TakeConsumed(uint8_t macId, uint8_t g1MsgId, NodeTable& table, uint8_t* buf, size_t bufSize,
                  size_t& outLen);

}  // namespace devicenet
