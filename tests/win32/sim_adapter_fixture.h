// The simulated adapter copied beside the test under the three adapter
// drivers' names (pcan_usb.dll, pcan_pci.dll, pcan_dng.dll). The copies
// share one bus; the test reaches it through the Sim_* entry points of the
// USB copy, which it keeps loaded (sim_client.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "platform/platform.h"
#include "sim_client.h"

namespace sim_adapter {

// One slave at each bit rate (index 0, 1, 2), so that a frame exchange
// shows the rate the adapter was opened at.
constexpr uint8_t SLAVE_MAC[can::BAUD_COUNT] = {10, 11, 12};
constexpr const char* CONFIG =
    "[slave]\nmac = 10\nbaud = 125\n"
    "[slave]\nmac = 11\nbaud = 250\n"
    "[slave]\nmac = 12\nbaud = 500\n";

using sim_client::Sim;
using sim_client::TheSim;

class SimAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Sim& sim = TheSim();
    ASSERT_NE(sim.library, nullptr) << can::USB_DRIVER_FILE;
    ASSERT_NE(sim.loadConfigText, nullptr);
    ASSERT_NE(sim.lastError, nullptr);
    ASSERT_NE(sim.getAdapter, nullptr);
    ASSERT_EQ(sim.loadConfigText(CONFIG, "adapter.ini"), 0) << sim.lastError();
    app::InitAppState(nullptr);
  }
  void TearDown() override {
    can::CloseAdapter(nullptr);
    can::UnloadDriverLibrary();
  }

  static SimAdapterInfo Adapter() {
    SimAdapterInfo info{};
    EXPECT_EQ(TheSim().getAdapter(&info), 0);
    return info;
  }
};

}  // namespace sim_adapter
