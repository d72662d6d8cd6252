#include "devicenet/dispatch.h"

#include <cstring>

#include "can/can_driver.h"
#include "devicenet/explicit.h"
#include "devicenet/io.h"
#include "devicenet/tracking.h"
#include "platform/platform.h"

namespace devicenet {

NodeTable g_NodeTable;

namespace {

SendHookFn sendHook = nullptr;

// A full transmit queue is retried at once a few times, then once a
// millisecond; a queue that has not drained after about 100 ms loses the
// frame, and the exchange it belongs to ends by its time-out.
constexpr int IMMEDIATE_WRITE_RETRIES = 16;
constexpr int SPACED_WRITE_RETRIES = 100;

void Send(const DnMessage* out) {
  if (!out || !sendHook) return;
  CanFrame frame{};
  EncodeFrame(*out, frame);
  sendHook(frame);
}

}  // namespace

void SetSendHook(SendHookFn hook) {
  sendHook = hook;
}

void ClearSendHook() {
  sendHook = nullptr;
}

bool SendFrame(const CanFrame& frame) {
  can::DriverMsg msg{};
  msg.ID = frame.Id;
  msg.MSGTYPE = can::MSGTYPE_STANDARD;
  msg.LEN = frame.Len;
  std::memcpy(msg.DATA, frame.Data, sizeof msg.DATA);

  uint32_t result = can::CanWrite(&msg);
  for (int retry = 0; result == can::CAN_ERR_QXMTFULL; ++retry) {
    if (retry >= IMMEDIATE_WRITE_RETRIES + SPACED_WRITE_RETRIES) return false;
    if (retry >= IMMEDIATE_WRITE_RETRIES) platform::Sleep1Ms();
    result = can::CanWrite(&msg);
  }
  if (result != can::CAN_ERR_OK) return false;

  // The master's own frames teach the tracking; they never reach the state
  // machines.
  DnMessage sent{};
  if (DecodeFrame(frame, sent) && ParseMessage(sent, g_NodeTable)) {
    TrackConnection(sent, g_NodeTable);
  }
  return true;
}

void DriveNodes(NodeTable& table, const DnMessage* received) {
  for (uint8_t mac = 0; mac < NODE_COUNT; ++mac) {
    Send(ExplStep(table, mac, received));
    Send(IoStep(table, mac));
    IoReceive(table, mac, received);
  }
}

void LinkTick() {
  can::DriverMsg msg{};
  if (can::CanRead(&msg) == can::CAN_ERR_OK && !(msg.MSGTYPE & can::MSGTYPE_STATUS)) {
    CanFrame frame{};
    frame.Id = msg.ID;
    frame.Len = msg.LEN;
    std::memcpy(frame.Data, msg.DATA, sizeof frame.Data);
    DnMessage received{};
    if (DecodeFrame(frame, received) && ParseMessage(received, g_NodeTable)) {
      TrackConnection(received, g_NodeTable);
      DriveNodes(g_NodeTable, &received);
    }
  }
  DriveNodes(g_NodeTable, nullptr);
}

}  // namespace devicenet
