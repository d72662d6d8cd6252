// The CAN driver binding against recording driver libraries copied beside
// the test under the vendor drivers' file names.
#include "can/can_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "can/frame_tap.h"
#include "devicenet/dispatch.h"
#include "persist/native_seams.h"
#include "persist/ui_text_record.h"
#include "platform/platform.h"

namespace {

using namespace can;

// The test's own handle on one of the fake drivers: keeps it loaded (and its
// records alive) while the binding loads and frees it.
struct FakeDriver {
  explicit FakeDriver(const char* file) : library(platform::LoadLibraryFile(file)) {
    EXPECT_NE(library, nullptr) << file;
    initCalls =
        reinterpret_cast<int (*)(uint32_t*)>(platform::ResolveEntry(library, "Fake_InitCalls"));
    closeCalls = reinterpret_cast<int (*)()>(platform::ResolveEntry(library, "Fake_CloseCalls"));
    writeCalls = reinterpret_cast<int (*)()>(platform::ResolveEntry(library, "Fake_WriteCalls"));
    script = reinterpret_cast<void (*)(uint32_t, uint32_t, int)>(
        platform::ResolveEntry(library, "Fake_Script"));
    reset = reinterpret_cast<void (*)()>(platform::ResolveEntry(library, "Fake_Reset"));
    queueRead = reinterpret_cast<bool (*)(const DriverMsg*)>(
        platform::ResolveEntry(library, "Fake_QueueRead"));
    reset();
  }
  void* library;
  int (*initCalls)(uint32_t*);
  int (*closeCalls)();
  int (*writeCalls)();
  void (*script)(uint32_t init, uint32_t status, int fullWrites);
  void (*reset)();
  bool (*queueRead)(const DriverMsg* msg);
};

FakeDriver& Usb() {
  static FakeDriver d(USB_DRIVER_FILE);
  return d;
}
FakeDriver& Pci() {
  static FakeDriver d(PCI_DRIVER_FILE);
  return d;
}
FakeDriver& Parallel() {
  static FakeDriver d(PARALLEL_DRIVER_FILE);
  return d;
}
FakeDriver& Serial() {
  static FakeDriver d(SERIAL_DRIVER_FILE);
  return d;
}

class Binding : public ::testing::Test {
 protected:
  void SetUp() override {
    app::InitAppState(nullptr);
    Usb().reset();
    Pci().reset();
    Parallel().reset();
    Serial().reset();
    persist::ClearRecordedBoxes();
    persist::ClearControlTexts();
  }
  void TearDown() override {
    SetFrameTap(nullptr);
    platform::DisableTestClock();
    CloseAdapter(nullptr);
    UnloadDriverLibrary();
  }
};

void DummyHook(void*) {}

TEST_F(Binding, EachPortLoadsItsLibraryWithItsInitForm) {
  struct Case {
    int port, baud;
    FakeDriver& (*driver)();
    uint32_t args[5];
  } cases[] = {
      {PORT_USB, 0, Usb, {0x031C, 0, 0, 0, 0}},
      {PORT_PCI, 1, Pci, {0x011C, 0, 0, 0, 0}},
      {0, 2, Parallel, {0x001C, 0, 5, 0x378, 7}},
      {1, 1, Parallel, {0x011C, 0, 5, 0x278, 5}},
      {2, 0, Parallel, {0x031C, 0, 5, 0x3BC, 7}},
      {2, 7, Parallel, {0x031C, 0, 5, 0x3BC, 7}},  // out-of-range baud: row 0
      {PORT_USB, -1, Usb, {0x031C, 0, 0, 0, 0}},
      // Serial-line adapters: the COM number in place of the I/O address.
      {0x2001, 2, Serial, {0x001C, 0, 0x40, 1, 0}},
      {0x2005, 1, Serial, {0x011C, 0, 0x40, 5, 0}},
      {0x2010, 0, Serial, {0x031C, 0, 0x40, 16, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "port " << c.port << " baud " << c.baud);
    c.driver().reset();
    app::g_App.PrinterPort = c.port;
    app::g_App.PumpHook = DummyHook;
    ASSERT_TRUE(OpenAdapter(nullptr, c.baud));
    EXPECT_EQ(app::g_App.AdapterOpen, 1);
    EXPECT_EQ(app::g_App.PumpHook, nullptr);
    uint32_t args[5];
    EXPECT_EQ(c.driver().initCalls(args), 1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(args[i], c.args[i]) << "argument " << i;
    EXPECT_TRUE(CloseAdapter(nullptr));
    EXPECT_EQ(app::g_App.AdapterOpen, 0);
    EXPECT_GE(c.driver().closeCalls(), 1);
    EXPECT_EQ(CanStatus(), CAN_ERR_NO_DRIVER);  // nothing left loaded
  }
  EXPECT_TRUE(persist::RecordedBoxes().empty());
}

// A hand-edited settings file may hold any number: a code that names no
// port must not open the parallel-port adapter (or any other).
TEST_F(Binding, UnknownPortCodeOpensNothing) {
  for (int port : {3, 99, -1, 4098, PORT_USB + 0x10000, 0x2000, 0x2011, 0x2001 + 0x10000}) {
    SCOPED_TRACE(port);
    persist::ClearRecordedBoxes();
    Usb().reset();
    Pci().reset();
    Parallel().reset();
    Serial().reset();
    app::g_App.PrinterPort = port;
    EXPECT_FALSE(OpenAdapter(nullptr, 0));
    EXPECT_EQ(app::g_App.AdapterOpen, 0);
    uint32_t args[5];
    EXPECT_EQ(Usb().initCalls(args) + Pci().initCalls(args) + Parallel().initCalls(args) +
                  Serial().initCalls(args),
              0);
    EXPECT_EQ(CanStatus(), CAN_ERR_NO_DRIVER);
    ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
    EXPECT_EQ(persist::RecordedBoxes()[0].text.rfind("No adapter port is selected!", 0), 0u);
  }
}

// An adapter that will not open is reported and unloaded; a serial one
// (port missing, adapter silent) is named by its COM port, never sent to a
// printer port.
TEST_F(Binding, AdapterThatWillNotOpenIsReportedAndUnloaded) {
  const struct {
    int port;
    FakeDriver& (*driver)();
    const char* text;
  } cases[] = {
      {PORT_USB, Usb,
       "Unable to open DeviceNet Dongle on this port!\n\nPlease check the power supply of the "
       "DeviceNet Dongle or try another DeviceNet Dongle port (printer port)!"},
      {PORT_SERIAL_FIRST + 2, Serial,
       "Unable to open the CAN adapter on serial port COM3!\n\nPlease check that the adapter is "
       "connected to this port and powered and that no other program uses the port, or choose "
       "another serial port."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    persist::ClearRecordedBoxes();
    c.driver().script(0x4000, 0, 0);
    app::g_App.PrinterPort = c.port;
    EXPECT_FALSE(OpenAdapter(nullptr, 0));
    EXPECT_EQ(app::g_App.AdapterOpen, 0);
    EXPECT_EQ(CanStatus(), CAN_ERR_NO_DRIVER);
    ASSERT_EQ(persist::RecordedBoxes().size(), 1u);
    EXPECT_EQ(persist::RecordedBoxes()[0].text, c.text);
    EXPECT_EQ(persist::RecordedBoxes()[0].style, 0x30u);
  }
}

TEST_F(Binding, MissingLibraryOrEntryPointLeavesNothingLoaded) {
  EXPECT_FALSE(LoadDriverLibrary("no_such_driver.dll"));
  EXPECT_FALSE(LoadDriverLibrary("missing_entry.dll"));  // lacks CAN_VersionInfo
  EXPECT_EQ(CanStatus(), CAN_ERR_NO_DRIVER);
  ASSERT_TRUE(LoadDriverLibrary(USB_DRIVER_FILE));
  EXPECT_FALSE(LoadDriverLibrary("missing_entry.dll"));  // the loaded one is unloaded first
  EXPECT_EQ(CanStatus(), CAN_ERR_NO_DRIVER);
}

TEST_F(Binding, WrappersWithoutLibraryAnswerNoDriver) {
  DriverMsg msg{};
  EXPECT_EQ(CanInit(0x031C, 0), CAN_ERR_NO_DRIVER);
  EXPECT_EQ(CanInitParallel(0x031C, 0, 5, 0x378, 7), CAN_ERR_NO_DRIVER);
  EXPECT_EQ(CanClose(), CAN_ERR_NO_DRIVER);
  EXPECT_EQ(CanStatus(), CAN_ERR_NO_DRIVER);
  EXPECT_EQ(CanWrite(&msg), CAN_ERR_NO_DRIVER);
  EXPECT_EQ(CanRead(&msg), CAN_ERR_NO_DRIVER);
}

TEST_F(Binding, CloseWithoutOpenCallsNothing) {
  ASSERT_TRUE(LoadDriverLibrary(USB_DRIVER_FILE));
  EXPECT_TRUE(CloseAdapter(nullptr));
  EXPECT_EQ(Usb().closeCalls(), 0);
  EXPECT_EQ(CanStatus(), 0u);  // still loaded: CloseAdapter had nothing to do
}

TEST_F(Binding, BusStatusTexts) {
  struct Case {
    uint32_t status;
    const char* text;
  } cases[] = {
      {0x0000, "Bus normal"},
      {0x0200, "No device driver loaded"},
      {0x0212, "No device driver loaded"},
      {0x0010, "Bus off"},
      {0x0018, "Bus off"},
      {0x0008, "Bus heavy"},
      {0x000A, "Bus heavy"},
      {0x0002, "Overrun"},
      {0x0004, "Bus error warning"},
      {0x0006, "Bus error warning"},
      {0x000C, "Bus heavy"},
      {0x0040, "Unknown error status"},
  };
  ASSERT_TRUE(LoadDriverLibrary(USB_DRIVER_FILE));
  void* window = reinterpret_cast<void*>(0x1234);
  for (const Case& c : cases) {
    persist::ClearControlTexts();
    Usb().script(0, c.status, 0);
    ShowBusStatus(window);
    ASSERT_EQ(persist::RecordedControlTexts().size(), 1u) << c.status;
    EXPECT_EQ(persist::RecordedControlTexts()[0].window, window);
    EXPECT_EQ(persist::RecordedControlTexts()[0].controlId, 1047);
    EXPECT_EQ(persist::RecordedControlTexts()[0].text, c.text);
    EXPECT_EQ(app::g_App.LastBusStatus, static_cast<int>(c.status));
  }
}

// A bus off that came and went between two looks is still seen: status
// messages read by the link layer are kept until the next look.
TEST_F(Binding, StatusSeenKeepsStatusMessagesUntilTaken) {
  app::g_App.PrinterPort = PORT_USB;
  Usb().script(0, 0, 0);
  ASSERT_TRUE(OpenAdapter(nullptr, 2));
  EXPECT_EQ(OpenBaudIndex(), 2);
  EXPECT_EQ(TakeStatusSeen(), 0u);
  DriverMsg busOff{0, MSGTYPE_STATUS, 4, {0, 0, 0, 0x10}};
  DriverMsg warning{0, MSGTYPE_STATUS, 4, {0, 0, 0, 0x04}};
  DriverMsg shortMsg{0, MSGTYPE_STATUS, 2, {0xFF, 0xFF}};
  NoteStatusMessage(busOff);
  NoteStatusMessage(warning);
  NoteStatusMessage(shortMsg);
  EXPECT_EQ(TakeStatusSeen(), 0x14u);
  EXPECT_EQ(TakeStatusSeen(), 0u);
  Usb().script(0, CAN_STATUS_BUS_HEAVY, 0);
  EXPECT_EQ(TakeStatusSeen(), CAN_STATUS_BUS_HEAVY);  // the word now counts as well
  NoteStatusMessage(busOff);
  ASSERT_TRUE(CloseAdapter(nullptr));
  Usb().script(0, 0, 0);
  ASSERT_TRUE(OpenAdapter(nullptr, 0));  // a new opening starts clean
  EXPECT_EQ(OpenBaudIndex(), 0);
  EXPECT_EQ(TakeStatusSeen(), 0u);
}

TEST_F(Binding, UnchangedStatusIsWrittenOnceUntilForced) {
  ShowBusStatus(nullptr);  // no library: status 0x200
  ShowBusStatus(nullptr);
  ASSERT_EQ(persist::RecordedControlTexts().size(), 1u);
  EXPECT_EQ(persist::RecordedControlTexts()[0].text, "No device driver loaded");
  app::g_App.LastBusStatus = -1;
  ShowBusStatus(nullptr);
  EXPECT_EQ(persist::RecordedControlTexts().size(), 2u);

  // A string that cannot be loaded writes nothing but still records the status.
  persist::UseStringTable(nullptr, 0);
  app::g_App.LastBusStatus = -1;
  ShowBusStatus(nullptr);
  persist::UseEnglishStrings();
  EXPECT_EQ(persist::RecordedControlTexts().size(), 2u);
  EXPECT_EQ(app::g_App.LastBusStatus, 0x200);
}

TEST_F(Binding, WriteResultsAreTakenAsTheyCome) {
  // A full transmit queue is reported at once, without retries or sleeps:
  // the link layer keeps the frame and tries again on a later pass.
  platform::EnableTestClock(0);
  ASSERT_TRUE(LoadDriverLibrary(USB_DRIVER_FILE));
  devicenet::CanFrame frame{0x42F, 7, {}};
  Usb().script(0, 0, 2);
  EXPECT_EQ(devicenet::SendFrame(frame), devicenet::SEND_QUEUE_FULL);
  EXPECT_EQ(devicenet::SendFrame(frame), devicenet::SEND_QUEUE_FULL);
  EXPECT_EQ(Usb().writeCalls(), 2);
  EXPECT_EQ(platform::TickMs(), 0u);
  EXPECT_EQ(devicenet::SendFrame(frame), devicenet::SEND_QUEUED);
  EXPECT_EQ(Usb().writeCalls(), 3);
  platform::DisableTestClock();

  ASSERT_TRUE(UnloadDriverLibrary());
  EXPECT_EQ(devicenet::SendFrame(frame), devicenet::SEND_FAILED);  // no driver: 0x200
}

std::vector<TappedFrame> tapped;
void RecordTap(const TappedFrame& frame) {
  tapped.push_back(frame);
}

// Every frame that really went to or came from the driver reaches the tap,
// with the time it moved; a write the driver refused and an empty read do not.
TEST_F(Binding, TapSeesEveryFrameTheDriverMoved) {
  app::g_App.PrinterPort = PORT_USB;
  ASSERT_TRUE(OpenAdapter(nullptr, 1));
  // 7.3 ms before the microsecond tick wraps: the tap's times must not.
  platform::EnableTestClock(4294960);
  tapped.clear();
  SetFrameTap(RecordTap);

  const DriverMsg sent{0x41C, MSGTYPE_STANDARD, 5, {0x01, 0x0E, 0x01, 0x01, 0x07}};
  const DriverMsg refused{0x41C, MSGTYPE_STANDARD, 2, {0xAA, 0xBB}};
  const DriverMsg received{0x7E3, MSGTYPE_STANDARD, 8, {1, 2, 3, 4, 5, 6, 7, 8}};
  const DriverMsg empty{0x3C5, MSGTYPE_STANDARD, 0, {}};
  const DriverMsg busOff{0, MSGTYPE_STATUS, 4, {0, 0, 0, 0x10}};
  ASSERT_TRUE(Usb().queueRead(&received));
  ASSERT_TRUE(Usb().queueRead(&empty));
  ASSERT_TRUE(Usb().queueRead(&busOff));

  DriverMsg msg = sent;
  EXPECT_EQ(CanWrite(&msg), CAN_ERR_OK);
  Usb().script(0, 0, 1);
  msg = refused;
  EXPECT_EQ(CanWrite(&msg), CAN_ERR_QXMTFULL);
  platform::AdvanceTestClock(10);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(CanRead(&msg), CAN_ERR_OK);
  EXPECT_NE(CanRead(&msg), CAN_ERR_OK);  // queue empty
  SetFrameTap(nullptr);
  msg = sent;
  EXPECT_EQ(CanWrite(&msg), CAN_ERR_OK);  // no tap any more

  struct Expected {
    const DriverMsg& msg;
    uint8_t direction, status;
    uint64_t afterFirstUs;
  } expected[] = {
      {sent, TAP_SENT, 0, 0},
      {received, TAP_RECEIVED, 0, 10000},
      {empty, TAP_RECEIVED, 0, 10000},
      {busOff, TAP_RECEIVED, 1, 10000},
  };
  ASSERT_EQ(tapped.size(), 4u);
  for (size_t i = 0; i < tapped.size(); ++i) {
    SCOPED_TRACE(i);
    const TappedFrame& f = tapped[i];
    const Expected& e = expected[i];
    EXPECT_EQ(f.id, e.msg.ID);
    EXPECT_EQ(f.len, e.msg.LEN);
    EXPECT_EQ(0, std::memcmp(f.data, e.msg.DATA, e.msg.LEN));
    EXPECT_EQ(f.direction, e.direction);
    EXPECT_EQ(f.status, e.status);
    EXPECT_EQ(f.baudIndex, 1);
    EXPECT_EQ(f.timeUs - tapped[0].timeUs, e.afterFirstUs);
  }
}

}  // namespace
