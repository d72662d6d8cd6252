// The master's state as the program starts it, for tests that bring a slave
// up on the simulated bus: on the test clock, the program state fresh with
// `io` as its I/O buffers, the USB port, `slave` as the current address, the
// real send hook, an empty node table, no connection set or UCMM connection
// held. The test then loads its bus.
#pragma once

#include <cstdint>
#include <cstring>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
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
  master::ForgetHeldSet();
  master::UcmmConnOpen = 0;
}
