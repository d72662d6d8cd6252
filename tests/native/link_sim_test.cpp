// The link layer's receive tick against a simulated slave through the real
// driver binding: which frames may end an exchange, and frames the adapter
// cannot queue at once. The simulated adapter library is copied beside the
// test as the USB adapter's driver. Runs natively and under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/transactions.h"
#include "platform/platform.h"
#include "simcan.h"

namespace {

using namespace devicenet;
using namespace master;

constexpr uint8_t SLAVE = 10;
constexpr uint32_t DUP_MAC_CHECK_ID = 0x400 | (SLAVE << 3) | 7;

struct Sim {
  void* library = nullptr;
  SimLoadConfigTextFn loadConfigText;
  SimLastErrorFn lastError;
  SimUseClockFunctionFn useClock;
  SimGetSlaveFn getSlave;
  SimFaultFn delayAnswers;
  void(SIMCAN_CDECL* failWrites)(uint32_t, uint32_t);
  void(SIMCAN_CDECL* traceClear)();
  uint32_t(SIMCAN_CDECL* traceCount)();
  int(SIMCAN_CDECL* traceGet)(uint32_t, SimTraceFrame*);

  template <typename Fn>
  void Resolve(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(platform::ResolveEntry(library, name));
    ASSERT_NE(fn, nullptr) << name;
  }
  void Load() {
    library = platform::LoadLibraryFile(can::USB_DRIVER_FILE);
    ASSERT_NE(library, nullptr);
    Resolve(loadConfigText, "Sim_LoadConfigText");
    Resolve(lastError, "Sim_LastError");
    Resolve(useClock, "Sim_UseClockFunction");
    Resolve(getSlave, "Sim_GetSlave");
    Resolve(delayAnswers, "Sim_DelayAnswers");
    Resolve(failWrites, "Sim_FailWrites");
    Resolve(traceClear, "Sim_TraceClear");
    Resolve(traceCount, "Sim_TraceCount");
    Resolve(traceGet, "Sim_TraceGet");
  }
};

Sim& TheSim() {
  static Sim sim;
  if (!sim.library) sim.Load();
  return sim;
}

uint32_t SIMCAN_CDECL TestTick() {
  return platform::TickMs();
}

constexpr const char* CONFIG =
    "[slave]\nmac = 10\nbaud = 125\nucmm = yes\nproduced = 20\nconsumed = 20\n"
    "name = Name of three fragments\n";

class LinkOnSimBus : public ::testing::Test {
 protected:
  void SetUp() override {
    can::CloseAdapter(nullptr);
    platform::EnableTestClock(1000);
    app::InitAppState(nullptr);
    ClearSendHook();
    SetSendHook(SendFrame);
    InitNodeTable(g_NodeTable);
    UcmmConnOpen = 0;
    Sim& sim = TheSim();
    ASSERT_EQ(sim.loadConfigText(CONFIG, "link.ini"), 0) << sim.lastError();
    sim.useClock(TestTick);
    app::g_App.PrinterPort = can::PORT_USB;
    ASSERT_TRUE(can::OpenAdapter(nullptr, 0));
    g_NodeTable.OwnMacId = PickOwnMacId(SLAVE, SLAVE);
  }
  void TearDown() override {
    TheSim().failWrites(0, 0);
    can::CloseAdapter(nullptr);
    platform::DisableTestClock();
  }

  uint32_t Get(uint16_t classId, uint16_t instance, uint8_t attribute,
               std::vector<uint8_t>& value) {
    static uint8_t buffer[1000];
    uint32_t length = 0;
    ServiceRequest r{2, 0x0E, classId, instance, attribute, 0};
    const uint32_t result = TxService(SLAVE, 0, r, buffer, length);
    value.assign(buffer, buffer + length);
    return result;
  }

  // As start-up does it, with no watchdog on the explicit and poll
  // connections: the tests let seconds pass.
  void ConnectForPolling() {
    ASSERT_EQ(TxConnect(SLAVE, g_NodeTable.OwnMacId, CONNECT_TIMEOUT_MS), TXR_OK);
    static uint8_t zero[1000];
    uint32_t length = 0;
    for (const uint16_t instance : {uint16_t{1}, uint16_t{2}}) {
      ServiceRequest rate{2, 0x10, 5, instance, 9, 2};
      ASSERT_EQ(TxService(SLAVE, 0, rate, zero, length), TXR_OK);
    }
    std::vector<uint8_t> size;
    ASSERT_EQ(Get(5, 2, 7, size), TXR_OK);
    ASSERT_EQ(Get(5, 2, 8, size), TXR_OK);
  }

  // Ticks and waits as a transaction does, but without its discarding of
  // the frames that wait in the adapter: the exchange's I/O result.
  int RunIo() {
    for (int pass = 0; pass < 100000; ++pass) {
      LinkTick();
      uint8_t result = 0;
      if (IoTakeResult(SLAVE, g_NodeTable, result)) return result;
      platform::Sleep1Ms();
    }
    return -1;
  }

  size_t FramesWithId(uint32_t id) {
    size_t n = 0;
    for (uint32_t i = 0; i < TheSim().traceCount(); ++i) {
      SimTraceFrame f{};
      TheSim().traceGet(i, &f);
      if (f.id == id) ++n;
    }
    return n;
  }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

// A poll response that arrives after its poll timed out waits in the
// adapter; the next poll must take the slave's answer to its own command.
TEST_F(LinkOnSimBus, StalePollResponseDoesNotEndTheNextPoll) {
  ConnectForPolling();
  static app::IoBuffers io;
  std::memset(&io, 0, sizeof io);
  const std::vector<uint8_t> first = Pattern(20, 1);
  io.Output.Length = 20;
  std::memcpy(io.Output.Data, first.data(), 20);
  ASSERT_EQ(TheSim().delayAnswers(0, SIM_ANSWER_POLL, 2100), 0);
  ASSERT_EQ(TxPoll(SLAVE, io), TXR_IO_FAILED);
  ASSERT_EQ(TheSim().delayAnswers(0, SIM_ANSWER_POLL, 0), 0);
  platform::AdvanceTestClock(200);  // the late answer is in the adapter's queue now

  const std::vector<uint8_t> second = Pattern(20, 100);
  ASSERT_TRUE(IoRequest(SLAVE, REQUEST_TIMEOUT_MS, g_NodeTable, second.data(), second.size()));
  EXPECT_EQ(RunIo(), RESULT_COMPLETED);
  uint8_t input[1000];
  size_t length = 0;
  ASSERT_TRUE(TakeConsumed(SLAVE, 15, g_NodeTable, input, sizeof input, length));
  EXPECT_EQ(std::vector<uint8_t>(input, input + length), second);  // the slave echoes
}

TEST_F(LinkOnSimBus, StaleDuplicateMacIdResponseDoesNotAnswerTheNextCheck) {
  ASSERT_EQ(TheSim().delayAnswers(0, SIM_ANSWER_DUPMAC, 100), 0);
  ASSERT_EQ(TxProbeMac(SLAVE, PROBE_TIMEOUT_MS), TXR_IO_FAILED);
  platform::AdvanceTestClock(60);  // the late answer is in the adapter's queue now

  // The slave still answers too late for the second check.
  const uint8_t check[DUP_MAC_CHECK_LEN] = {};
  ASSERT_TRUE(DupMacRequest(SLAVE, PROBE_TIMEOUT_MS, g_NodeTable, check, sizeof check));
  const uint32_t start = platform::TickMs();
  EXPECT_EQ(RunIo(), RESULT_TIMEOUT);
  EXPECT_GT(platform::TickMs() - start, PROBE_TIMEOUT_MS);
}

// The transmit queue stays full for longer than any burst of retries; once
// it drains, the frames that waited go out, once each, in order.
TEST_F(LinkOnSimBus, FramesWaitForAFullTransmitQueueToDrain) {
  ConnectForPolling();
  static app::IoBuffers io;
  std::memset(&io, 0, sizeof io);
  const std::vector<uint8_t> out = Pattern(20, 5);
  io.Output.Length = 20;
  std::memcpy(io.Output.Data, out.data(), 20);

  TheSim().traceClear();
  TheSim().failWrites(400, SIMCAN_ERR_QXMTFULL);
  ASSERT_EQ(TxPoll(SLAVE, io), TXR_OK);
  EXPECT_EQ(FramesWithId(0x400 | (SLAVE << 3) | 5), 3u);
  SimSlaveInfo slave{};
  ASSERT_EQ(TheSim().getSlave(0, &slave), 0);
  ASSERT_EQ(slave.outputLen, 20);
  EXPECT_EQ(std::vector<uint8_t>(slave.output, slave.output + 20), out);
  EXPECT_EQ(std::vector<uint8_t>(io.Input.Data, io.Input.Data + io.Input.Length), out);

  // A fragmented explicit response: the acknowledges wait as well.
  std::vector<uint8_t> name;
  TheSim().failWrites(400, SIMCAN_ERR_QXMTFULL);
  ASSERT_EQ(Get(1, 1, 7, name), TXR_OK);
  const std::string expected = "Name of three fragments";
  ASSERT_EQ(name.size(), expected.size() + 1);
  EXPECT_EQ(std::string(name.begin() + 1, name.end()), expected);
}

TEST_F(LinkOnSimBus, QueueThatNeverDrainsEndsEachExchangeByItsTimeOut) {
  ConnectForPolling();
  static app::IoBuffers io;
  std::memset(&io, 0, sizeof io);
  io.Output.Length = 20;

  TheSim().traceClear();
  TheSim().failWrites(0xFFFFFFFF, SIMCAN_ERR_QXMTFULL);
  uint32_t start = platform::TickMs();
  EXPECT_EQ(TxPoll(SLAVE, io), TXR_IO_FAILED);
  EXPECT_GT(platform::TickMs() - start, REQUEST_TIMEOUT_MS);
  EXPECT_LT(platform::TickMs() - start, REQUEST_TIMEOUT_MS + 10);

  std::vector<uint8_t> value;
  start = platform::TickMs();
  EXPECT_EQ(Get(1, 1, 1, value), TXR_TIMEOUT);
  EXPECT_GT(platform::TickMs() - start, REQUEST_TIMEOUT_MS);
  EXPECT_LT(platform::TickMs() - start, REQUEST_TIMEOUT_MS + 10);
  EXPECT_EQ(TheSim().traceCount(), 0u);

  // Drained again: the frames of the ended exchanges are not sent late.
  TheSim().failWrites(0, 0);
  EXPECT_EQ(TxProbeMac(SLAVE, PROBE_TIMEOUT_MS), TXR_OK);
  EXPECT_EQ(TheSim().traceCount(), 2u);  // the check and its answer, nothing before
  EXPECT_EQ(FramesWithId(DUP_MAC_CHECK_ID), 2u);
}

}  // namespace
