// The master's state around a test that brings a slave up on the simulated
// bus. ResetMaster: on the test clock, the program state fresh with `io` as
// its I/O buffers, the USB port, `slave` as the current address, the real
// send hook, an empty node table, no connection set or UCMM connection held;
// the test then loads its bus. StopMaster: communication stopped from
// `window`, the adapter closed, the view and the real clock back.
#pragma once

#include <cstdint>
#include <cstring>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/session.h"
#include "master/transactions.h"
#include "platform/platform.h"

inline void ResetMaster(app::IoBuffers& io, uint8_t slave) {
  can::CloseAdapter(nullptr);
  platform::EnableTestClock(1000);
  app::InitAppState(nullptr);
  app::g_App.Io = &io;
  std::memset(&io, 0, sizeof io);
  app::g_App.PrinterPort = can::PORT_USB;
  app::g_App.CurrAdr = slave;
  devicenet::ClearSendHook();
  devicenet::SetSendHook(devicenet::SendFrame);
  devicenet::InitNodeTable(devicenet::g_NodeTable);
  master::ForgetAllConnections();
}

inline void StopMaster(void* window) {
  master::CommStop(window);
  can::CloseAdapter(nullptr);
  master::ResetCommView();
  platform::DisableTestClock();
}
