// Receive dispatch: the link layer's engine. The receive tick reads the
// frames waiting in the adapter and offers each to every node's state
// machines, then runs them once more without one so time-outs are tested and
// queued frames go out through the send hook. A frame the adapter cannot
// queue yet is kept and sent again on a later pass; the answer window of
// its exchange starts only when the driver takes it. A frame the adapter
// refuses, or that waits for room too long, ends its exchange with
// RESULT_REFUSED and is counted with the adapter's word.
#pragma once

#include <cstdint>

#include "devicenet/codec.h"
#include "devicenet/node_table.h"

namespace devicenet {

// The program's node table.
extern NodeTable g_NodeTable;

// What became of a frame handed to the driver.
enum SendResult : uint8_t {
  SEND_QUEUED = 0,      // the driver took it
  SEND_QUEUE_FULL = 1,  // transmit queue full: the same frame may be tried again
  SEND_FAILED = 2,      // refused otherwise: the frame is lost, its exchange ends
};

// Sends one frame.
using SendHookFn = SendResult (*)(const CanFrame& frame);

void SetSendHook(SendHookFn hook);
// Also forgets the frames kept for a full transmit queue, the pace and the
// adapter's turnaround.
void ClearSendHook();

// Hands a frame to the driver (CAN_Write, once) and, when it was taken,
// shows it to the connection tracking. On SEND_FAILED the adapter's word
// (CAN_Write's result ORed with the status word then) is what
// LastRefusalWord reports.
SendResult SendFrame(const CanFrame& frame);

// Frames the adapter refused since the program started: CAN_Write failed
// otherwise than with a full queue, or the queue kept a frame from the wire
// longer than the exchange's time-out and at least a second. Callers
// compare two readings.
uint32_t SendRefusals();

// The adapter's word for the last refusal: CAN_Write's result
// (CAN_ERR_QXMTFULL for a queue that stayed full) ORed with the status word
// it showed then. 0 before the first refusal.
uint32_t LastRefusalWord();

// One tick over g_NodeTable. Repeats its pass (read at most one frame, run
// the nodes with it, run them without) while a pass reads or sends a frame,
// up to a bound; a full transmit queue ends a burst of sending.
void LinkTick();

// Reads and drops every frame waiting in the adapter, as a transaction does
// before its request so that no stale answer can end it; a status message is
// still noted and a Duplicate MAC ID check message still shown to the own MAC
// ID's watch.
void DrainReceiveQueue();

// Waits between two ticks as the bus allows: not at all when the last tick
// stopped at its bound; after a frame went out about the time the answer it
// awaits needs on the wire at the rate the adapter was opened at (the
// shortest frame where the answer is unknown), plus the turnaround learned of
// the adapter; while an answer of up to a full frame may still be on the
// wire, short pauses; then, for 2 ms after a frame was due, naps of the
// shortest frame's time;
// after a quiet spell one 1 ms sleep. The turnaround is learned from how
// late awaited answers come, and forgotten when an adapter is opened.
void LinkPause();

// True when the frames handed to the adapter so far leave the wire, by the
// estimate the pauses go by, within the time of one more frame of `len`
// data bytes, and none waits for room in its transmit queue: a frame queued
// now goes out about when it is queued, give or take that frame.
bool TransmitRoomFor(uint8_t len);

// One pass over all 64 nodes: I/O receive, explicit step, I/O step; the
// messages the steps return go out through the send hook. A node's frame
// that the adapter could not queue is sent again first, and that side of the
// node sends nothing new and does not time out until it went out.
void DriveNodes(NodeTable& table, const DnMessage* received);

// Frame time in bits of an 11-bit data frame with `len` data bytes, from start
// of frame to the end of the interframe space: without stuff bits and with
// the most a frame of that length can need.
uint32_t FrameBitsNoStuff(uint8_t len);
uint32_t FrameBitsWorstStuff(uint8_t len);

}  // namespace devicenet
