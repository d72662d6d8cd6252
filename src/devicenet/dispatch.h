// Receive dispatch: the link layer's engine. The receive tick takes at most
// one frame from the adapter and offers it to every node's state machines,
// then runs them once more without it so time-outs are tested and queued
// frames go out through the send hook.
#pragma once

#include "devicenet/codec.h"
#include "devicenet/node_table.h"

namespace devicenet {

// The program's node table.
extern NodeTable g_NodeTable;

// Sends one frame; true when the driver took it.
using SendHookFn = bool (*)(const CanFrame& frame);

void SetSendHook(SendHookFn hook);
void ClearSendHook();

// Hands a frame to the driver (CAN_Write, retried a bounded time while the
// transmit queue is full) and shows it to the connection tracking. True when
// the driver accepted it.
bool SendFrame(const CanFrame& frame);

// One tick over g_NodeTable: reads at most one frame from the adapter.
void LinkTick();

// One pass over all 64 nodes: explicit step, I/O step, I/O receive; the
// messages they return go out through the send hook.
void DriveNodes(NodeTable& table, const DnMessage* received);

}  // namespace devicenet
