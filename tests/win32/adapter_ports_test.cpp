// The CAN driver binding with the simulated adapter as every adapter's
// driver: each port code opens its driver library, calls CAN_Init in that
// driver's form with the port's arguments, and frames then move at the
// chosen rate. Under 32-bit Wine the two __stdcall forms of CAN_Init must
// also leave the caller's stack as they found it (see also stack_i686_test).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_adapter_fixture.h"

namespace {

using namespace sim_adapter;

constexpr uint32_t GROUP2 = 0x400;
constexpr uint32_t DUP_MAC_MSG = 7;
constexpr uint8_t DUP_MAC_RESPONSE = 0x80;

// Sends a Duplicate MAC ID request to each slave's MAC ID through the
// binding and returns the MAC IDs whose owners answered.
std::vector<int> AnsweringMacIds() {
  for (uint8_t mac : SLAVE_MAC) {
    can::DriverMsg m{};
    m.ID = GROUP2 | uint32_t(mac) << 3 | DUP_MAC_MSG;
    m.LEN = 7;
    m.DATA[3] = 0x77;  // a serial number no slave has
    EXPECT_EQ(can::CanWrite(&m), can::CAN_ERR_OK);
  }
  std::vector<int> macs;
  can::DriverMsg r{};
  while (can::CanRead(&r) == can::CAN_ERR_OK) {
    if ((r.ID & 7) == DUP_MAC_MSG && r.LEN == 7 && (r.DATA[0] & DUP_MAC_RESPONSE)) {
      macs.push_back(int(r.ID >> 3 & 0x3F));
    }
  }
  return macs;
}

using AdapterPorts = SimAdapterTest;

TEST_F(AdapterPorts, EveryPortCodeOpensItsDriverInItsInitForm) {
  struct Case {
    int port, baud;
    const char* file;
    bool parallel;
    uint32_t ioPort;
    uint16_t interrupt;
  } cases[] = {
      {can::PORT_USB, 0, "pcan_usb.dll", false, 0, 0},
      {can::PORT_PCI, 1, "pcan_pci.dll", false, 0, 0},
      {0, 2, "pcan_dng.dll", true, 0x378, 7},
      {1, 0, "pcan_dng.dll", true, 0x278, 5},
      {2, 1, "pcan_dng.dll", true, 0x3BC, 7},
      {can::PORT_USB, 2, "pcan_usb.dll", false, 0, 0},  // two-argument form after five
      {can::PORT_PCI, 0, "pcan_pci.dll", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "port " << c.port << " baud " << c.baud);
    app::g_App.PrinterPort = c.port;
    ASSERT_TRUE(can::OpenAdapter(nullptr, c.baud));
    SimAdapterInfo a = Adapter();
    EXPECT_EQ(a.open, 1);
    EXPECT_EQ(std::string(a.driverFile), c.file);
    EXPECT_EQ(a.baudIndex, c.baud);
    EXPECT_EQ(a.parallelForm, c.parallel ? 1 : 0);
    EXPECT_EQ(a.hwType, c.parallel ? can::HW_TYPE_DONGLE : 0);
    EXPECT_EQ(a.ioPort, c.ioPort);
    EXPECT_EQ(a.interrupt, c.interrupt);
    EXPECT_EQ(can::CanStatus(), can::CAN_ERR_OK);
    EXPECT_EQ(AnsweringMacIds(), std::vector<int>{SLAVE_MAC[c.baud]});
    EXPECT_TRUE(can::CloseAdapter(nullptr));
    EXPECT_EQ(Adapter().open, 0);
    EXPECT_EQ(can::CanStatus(), can::CAN_ERR_NO_DRIVER);
  }
}

}  // namespace
