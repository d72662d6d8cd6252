// The binding in a folder without any adapter driver library.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "persist/native_seams.h"

namespace {

TEST(BindingWithoutDrivers, EveryPortReportsTheMissingLibrary) {
  for (int port : {can::PORT_USB, can::PORT_PCI, 0, 2}) {
    app::InitAppState(nullptr);
    persist::ClearRecordedBoxes();
    app::g_App.PrinterPort = port;
    EXPECT_FALSE(can::OpenAdapter(nullptr, 0)) << port;
    EXPECT_EQ(app::g_App.AdapterOpen, 0);
    EXPECT_EQ(can::CanStatus(), can::CAN_ERR_NO_DRIVER);
    ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
    EXPECT_EQ(persist::RecordedBoxes()[0].text, "Unable to load CAN DLL!");
    EXPECT_EQ(persist::RecordedBoxes()[0].caption, "Quillon");
    EXPECT_EQ(persist::RecordedBoxes()[0].style, 0x30u);
  }
}

}  // namespace
