// The bus monitor's core: the ring of frames, the capture file, the hub that
// the binding's tap feeds, and the bus load over the ring.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include "can/frame_tap.h"
#include "monitor/capture.h"
#include "monitor/frame_ring.h"
#include "monitor/monitor_hub.h"
#include "platform/platform.h"
#if defined(_WIN32)
#include "platform/wide_text.h"
#endif

namespace {

using namespace monitor;
using can::TappedFrame;

TappedFrame Frame(uint32_t id, std::initializer_list<uint8_t> data, uint64_t timeUs = 0,
                  uint8_t direction = can::TAP_RECEIVED, uint8_t status = 0) {
  TappedFrame f{};
  f.id = id;
  f.timeUs = timeUs;
  f.direction = direction;
  f.status = status;
  for (uint8_t byte : data) f.data[f.len++] = byte;
  return f;
}

std::string TempPath(const char* name) {
  return ::testing::TempDir() + name;
}

// The whole file as bytes; "<missing>" when it cannot be opened.
std::string FileBytes(const std::string& path) {
  std::FILE* file = platform::OpenFile(path.c_str(), "rb");
  if (!file) return "<missing>";
  std::string bytes;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  std::fclose(file);
  return bytes;
}

std::string Bytes(std::initializer_list<uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

void RemoveFile(const std::string& path) {
#if defined(_WIN32)
  wchar_t wide[platform::WIDE_PATH_SIZE];
  if (platform::Utf8ToWide(path.c_str(), wide, platform::WIDE_PATH_SIZE)) _wremove(wide);
#else
  std::remove(path.c_str());
#endif
}

// Every test starts with the monitor idle and leaves it so.
class Monitor : public ::testing::Test {
 protected:
  void SetUp() override { Idle(); }
  void TearDown() override {
    Idle();
    for (const std::string& path : files) RemoveFile(path);
  }
  static void Idle() {
    MonitorWantRing(false);
    MonitorWantCapture(false);
    CaptureStop();
    RingClear();
    MonitorResetCounts();
  }
  std::string File(const char* name) {
    files.push_back(TempPath(name));
    return files.back();
  }
  std::vector<std::string> files;
};

// ---- the ring ----

TEST_F(Monitor, RingKeepsExactlyTheNewestFramesWithTheirNumbers) {
  TappedFrame f{};
  EXPECT_EQ(RingFirst(), 0u);
  EXPECT_EQ(RingEnd(), 0u);
  EXPECT_FALSE(RingGet(0, f));

  // One and a half turns; each frame carries its number in its time.
  const uint64_t pushed = RING_CAPACITY + RING_CAPACITY / 2 + 3;
  for (uint64_t n = 0; n < pushed; ++n) {
    RingPush(Frame(static_cast<uint32_t>(n & 0x7FF), {static_cast<uint8_t>(n)}, 1000 + n));
    if (n == RING_CAPACITY - 1) {
      EXPECT_EQ(RingFirst(), 0u);  // full, nothing lost yet
      EXPECT_EQ(RingEnd(), RING_CAPACITY);
    }
  }
  EXPECT_EQ(RingEnd(), pushed);
  EXPECT_EQ(RingFirst(), pushed - RING_CAPACITY);
  EXPECT_FALSE(RingGet(RingFirst() - 1, f));  // overwritten
  EXPECT_FALSE(RingGet(0, f));
  EXPECT_FALSE(RingGet(pushed, f));  // not yet there
  uint64_t wrong = 0;
  for (uint64_t n = RingFirst(); n < RingEnd(); ++n) {
    ASSERT_TRUE(RingGet(n, f)) << n;
    if (f.timeUs != 1000 + n || f.id != (n & 0x7FF) || f.data[0] != static_cast<uint8_t>(n)) {
      ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0u);

  RingClear();
  EXPECT_EQ(RingFirst(), 0u);
  EXPECT_EQ(RingEnd(), 0u);
  EXPECT_FALSE(RingGet(pushed - 1, f));
  RingPush(Frame(0x123, {}, 7));
  ASSERT_TRUE(RingGet(0, f));  // numbered from the clear on
  EXPECT_EQ(f.id, 0x123u);
  EXPECT_EQ(f.timeUs, 7u);
}

// ---- the capture file ----

// 1700000000.999900 s: the second frame, 250 us later, is in the next second.
constexpr uint64_t START_WALL_US = 1700000000999900;

// An explicit response sent (unused bytes beyond its length are not
// written), a status message, and a full frame received.
std::vector<TappedFrame> CaptureFixture() {
  TappedFrame response = Frame(0x41E, {0x8B, 0x0E, 0x01, 0x01}, 5000000, can::TAP_SENT);
  for (int i = 4; i < 8; ++i) response.data[i] = 0xEE;
  return {
      response,
      Frame(0, {0, 0, 0, 0x10}, 5000100, can::TAP_RECEIVED, 1),
      Frame(0x7E3, {1, 2, 3, 4, 5, 6, 7, 8}, 5000250),
      Frame(0x005, {}, 6000001),
  };
}

std::string ExpectedPcap() {
  return
      // magic, version 2.4, zone, accuracy, snapshot length 16, link type 227
      Bytes({0xD4, 0xC3, 0xB2, 0xA1, 0x02, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0xE3, 0x00, 0x00, 0x00}) +
      // 1700000000 s 999900 us, 16 bytes captured of 16
      Bytes({0x00, 0xF1, 0x53, 0x65, 0xDC, 0x41, 0x0F, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00,
             0x00, 0x00}) +
      // id 0x41E big-endian, length 4, 3 bytes padding, data zero-filled
      Bytes({0x00, 0x00, 0x04, 0x1E, 0x04, 0x00, 0x00, 0x00, 0x8B, 0x0E, 0x01, 0x01, 0x00, 0x00,
             0x00, 0x00}) +
      // 1700000001 s 150 us
      Bytes({0x01, 0xF1, 0x53, 0x65, 0x96, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00,
             0x00, 0x00}) +
      Bytes({0x00, 0x00, 0x07, 0xE3, 0x08, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
             0x07, 0x08}) +
      // 1000001 us after the first: 1700000001 s 999901 us; no data
      Bytes({0x01, 0xF1, 0x53, 0x65, 0xDD, 0x41, 0x0F, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00,
             0x00, 0x00}) +
      Bytes({0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x00});
}

const char* const EXPECTED_CANDUMP =
    "(1700000000.999900) can0 41E#8B0E0101\n"
    "(1700000001.000150) can0 7E3#0102030405060708\n"
    "(1700000001.999901) can0 005#\n";

TEST_F(Monitor, PcapFileHoldsSocketCanRecords) {
  const std::string path = File("capture_\xC3\xBC.pcap");  // a name beyond ASCII
  ASSERT_TRUE(CaptureStartAt(path.c_str(), CaptureFormat::Pcap, START_WALL_US));
  EXPECT_TRUE(CaptureRunning());
  for (const TappedFrame& f : CaptureFixture()) CaptureFrame(f);
  EXPECT_EQ(CaptureFrames(), 3u);
  CaptureStop();
  EXPECT_FALSE(CaptureRunning());

  const std::string written = FileBytes(path);
  const std::string expected = ExpectedPcap();
  ASSERT_EQ(written.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(static_cast<uint8_t>(written[i]), static_cast<uint8_t>(expected[i])) << "byte " << i;
  }
}

TEST_F(Monitor, CandumpLogHasOneLinePerFrame) {
  const std::string path = File("capture.log");
  ASSERT_TRUE(CaptureStartAt(path.c_str(), CaptureFormat::CandumpLog, START_WALL_US));
  for (const TappedFrame& f : CaptureFixture()) CaptureFrame(f);
  EXPECT_EQ(CaptureFrames(), 3u);
  CaptureStop();
  EXPECT_EQ(FileBytes(path), EXPECTED_CANDUMP);
}

// The file is written through a buffer of its own: the frames reach the
// disk at the stop, not one by one inside the exchange.
TEST_F(Monitor, StopFlushesTheBufferedFrames) {
  for (CaptureFormat format : {CaptureFormat::Pcap, CaptureFormat::CandumpLog}) {
    const std::string path = File(format == CaptureFormat::Pcap ? "flush.pcap" : "flush.log");
    ASSERT_TRUE(CaptureStartAt(path.c_str(), format, START_WALL_US));
    for (const TappedFrame& f : CaptureFixture()) CaptureFrame(f);
    EXPECT_EQ(FileBytes(path), "");
    CaptureStop();
    const std::string expected =
        format == CaptureFormat::Pcap ? ExpectedPcap() : std::string(EXPECTED_CANDUMP);
    EXPECT_EQ(FileBytes(path), expected);
    // A second stop has nothing left to do.
    CaptureStop();
    EXPECT_EQ(FileBytes(path), expected);
  }
}

TEST_F(Monitor, CaptureStampsTheFirstFrameWithTheStartTime) {
  const std::string path = File("now.log");
  const std::time_t before = std::time(nullptr);
  ASSERT_TRUE(CaptureStart(path.c_str(), CaptureFormat::CandumpLog));
  const std::time_t after = std::time(nullptr);
  CaptureFrame(Frame(0x41E, {0x01}, 123456789));
  CaptureFrame(Frame(0x41E, {0x02}, 123456789 + 2500000));
  CaptureStop();
  unsigned long seconds[2], micros[2];
  ASSERT_EQ(std::sscanf(FileBytes(path).c_str(), "(%lu.%lu) can0 41E#01\n(%lu.%lu) can0 41E#02",
                        &seconds[0], &micros[0], &seconds[1], &micros[1]),
            4);
  EXPECT_GE(seconds[0], static_cast<unsigned long>(before));
  EXPECT_LE(seconds[0], static_cast<unsigned long>(after));
  EXPECT_EQ(micros[0], 0u);
  EXPECT_EQ(seconds[1], seconds[0] + 2);
  EXPECT_EQ(micros[1], 500000u);
}

TEST_F(Monitor, CaptureThatCannotOpenItsFileDoesNotRun) {
  const std::string path = TempPath("no_such_folder/capture.pcap");
  EXPECT_FALSE(CaptureStartAt(path.c_str(), CaptureFormat::Pcap, START_WALL_US));
  EXPECT_FALSE(CaptureRunning());
  CaptureFrame(Frame(0x41E, {1}));
  EXPECT_EQ(CaptureFrames(), 0u);
  EXPECT_EQ(FileBytes(path), "<missing>");

  // A new start replaces a running capture: the old file is complete.
  const std::string first = File("first.log");
  const std::string second = File("second.log");
  ASSERT_TRUE(CaptureStartAt(first.c_str(), CaptureFormat::CandumpLog, START_WALL_US));
  CaptureFrame(Frame(0x41E, {1}, 10));
  ASSERT_TRUE(CaptureStartAt(second.c_str(), CaptureFormat::CandumpLog, START_WALL_US));
  EXPECT_EQ(CaptureFrames(), 0u);
  EXPECT_EQ(FileBytes(first), "(1700000000.999900) can0 41E#01\n");
}

#if !defined(_WIN32)
// A full disk: the writes fail once the buffer goes out, and the capture
// ends rather than failing again with every frame.
TEST_F(Monitor, WriteErrorEndsTheCapture) {
  ASSERT_TRUE(CaptureStartAt("/dev/full", CaptureFormat::Pcap, START_WALL_US));
  const TappedFrame f = Frame(0x41E, {1, 2, 3, 4, 5, 6, 7, 8});
  int frames = 0;
  while (CaptureRunning() && frames < 100000) {
    CaptureFrame(f);
    ++frames;
  }
  EXPECT_FALSE(CaptureRunning());
  // Stopped after about one buffer of 32-byte records, not at the limit.
  EXPECT_LT(frames, 10000);
  EXPECT_LT(CaptureFrames(), static_cast<uint64_t>(frames));
  CaptureFrame(f);
  EXPECT_FALSE(CaptureRunning());
}
#endif

// ---- the hub ----

TEST_F(Monitor, TapIsInstalledWhileRingOrCaptureWantsFrames) {
  struct Step {
    bool isRing, wanted, installed;
  } steps[] = {
      {true, true, true},    {false, true, true}, {true, false, true},
      {false, false, false}, {false, true, true}, {false, false, false},
      {true, true, true},    {true, true, true},  {true, false, false},
  };
  EXPECT_FALSE(MonitorTapInstalled());
  EXPECT_EQ(can::g_FrameTap, nullptr);
  int i = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(i++);
    if (s.isRing) {
      MonitorWantRing(s.wanted);
    } else {
      MonitorWantCapture(s.wanted);
    }
    EXPECT_EQ(MonitorTapInstalled(), s.installed);
    EXPECT_EQ(can::g_FrameTap, s.installed ? &MonitorTap : nullptr);
  }
}

TEST_F(Monitor, TapFeedsTheRingWhenWantedAndTheCaptureWhenRunning) {
  const std::string path = File("hub.log");
  MonitorWantCapture(true);
  ASSERT_TRUE(CaptureStartAt(path.c_str(), CaptureFormat::CandumpLog, START_WALL_US));
  MonitorTap(Frame(0x41C, {0x01, 0x0E}, 100, can::TAP_SENT));
  EXPECT_EQ(RingEnd(), 0u);  // the window is closed

  MonitorWantRing(true);
  MonitorTap(Frame(0x41B, {0x01, 0x8E}, 200));
  MonitorTap(Frame(0, {0, 0, 0, 2}, 300, can::TAP_RECEIVED, 1));  // shown, not written
  EXPECT_EQ(RingEnd(), 2u);
  TappedFrame f{};
  ASSERT_TRUE(RingGet(1, f));
  EXPECT_EQ(f.status, 1);

  MonitorWantCapture(false);  // a capture left running is not fed
  MonitorTap(Frame(0x41C, {0x01, 0x0E}, 400, can::TAP_SENT));
  EXPECT_EQ(RingEnd(), 3u);
  CaptureStop();
  EXPECT_EQ(FileBytes(path),
            "(1700000000.999900) can0 41C#010E\n"
            "(1700000001.000000) can0 41B#018E\n");
  // Status messages are no bus frames.
  EXPECT_EQ(TheMonitorCounts().frames, 3u);
  MonitorResetCounts();
  EXPECT_EQ(TheMonitorCounts().frames, 0u);
}

TEST_F(Monitor, ErrorResponsesAreCountedByGroupMessageIdAndService) {
  struct Case {
    const char* what;
    TappedFrame frame;
    bool counted;
  } cases[] = {
      {"group 2 msg 3, unfragmented", Frame(0x41B, {0x01, 0x94, 0x08, 0xFF}), true},
      {"group 2 msg 3, first fragment", Frame(0x41B, {0x81, 0x00, 0x94, 0x08, 0xFF}), true},
      {"group 2 msg 3, middle fragment", Frame(0x41B, {0x81, 0x41, 0x94, 0x08}), false},
      {"group 2 msg 3, fragment byte 0x94 (last fragment)", Frame(0x41B, {0x81, 0x94, 0x00}),
       false},
      {"group 2 msg 3, success response", Frame(0x41B, {0x01, 0x8E, 0x01, 0x00}), false},
      {"group 2 msg 3, header only", Frame(0x41B, {0x01}), false},
      {"group 2 msg 3, first fragment too short", Frame(0x41B, {0x81, 0x00}), false},
      {"group 2 msg 4 (request)", Frame(0x41C, {0x01, 0x94, 0x08, 0xFF}), false},
      {"group 2 msg 6 (unconnected request)", Frame(0x41E, {0x01, 0x94}), false},
      {"group 2 msg 3 of MAC 63", Frame(0x5FB, {0x01, 0x94, 0x08, 0xFF}), true},
      {"group 1 msg 15 (poll response)", Frame(0x3C3, {0x01, 0x94}), false},
      {"group 3 msg 0, MAC 3", Frame(0x603, {0x01, 0x94, 0x08, 0xFF}), true},
      {"group 3 msg 4, MAC 3", Frame(0x703, {0x01, 0x94, 0x08, 0xFF}), true},
      {"group 3 msg 5 (unconnected response)", Frame(0x77F, {0x01, 0x94, 0x02, 0x01}), true},
      {"group 3 msg 6 (unconnected request)", Frame(0x783, {0x01, 0x94, 0x02, 0x01}), false},
      {"group 4 msg 0x2C", Frame(0x7EC, {0x01, 0x94}), false},
      {"a status message", Frame(0x41B, {0x01, 0x94, 0x08, 0xFF}, 0, can::TAP_RECEIVED, 1), false},
  };
  MonitorWantRing(true);
  uint64_t expectedCount = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint64_t before = TheMonitorCounts().errorResponses;
    MonitorTap(c.frame);
    EXPECT_EQ(TheMonitorCounts().errorResponses - before, c.counted ? 1u : 0u);
    if (c.counted) ++expectedCount;
  }
  EXPECT_EQ(TheMonitorCounts().errorResponses, expectedCount);
  EXPECT_EQ(TheMonitorCounts().frames, sizeof cases / sizeof cases[0] - 1);
}

// ---- the bus load ----

struct Burst {
  uint32_t count;
  uint8_t len;
  uint8_t baudIndex;  // 0 = 125, 2 = 500 kbit/s
  uint8_t status;
  int64_t ageUs;  // before `now`; negative: after it
};

TEST_F(Monitor, BusLoadCountsTheWindowsFramesAtTheirRates) {
  constexpr uint64_t NOW = 10000000;
  struct Case {
    const char* what;
    std::vector<Burst> bursts;  // oldest first
    uint64_t windowUs;
    uint32_t framesPerSecond, loadPercent;
  } cases[] = {
      // 100 x 111 + 47 + 103 = 11250 bits of 12500 in 100 ms at 125 kbit/s.
      {"125 kbit/s",
       {{1, 8, 0, 0, 150000},
        {1, 8, 0, 0, 100000},  // on the window's edge: outside
        {100, 8, 0, 0, 99999},
        {1, 4, 0, 1, 50000},  // a status message
        {1, 0, 0, 0, 50000},
        {1, 7, 0, 0, 0},
        {1, 8, 0, 0, -1}},  // after now
       100000,
       1020,
       90},
      // 376 us (0 bytes at 125) + 174 us (5 bytes at 500) of 1 ms: the rate
      // changed within the window.
      {"rate change", {{1, 0, 0, 0, 900}, {1, 5, 2, 0, 10}}, 1000, 2000, 55},
      // Frames a burst read brought close together: no more than the wire.
      {"crowded window", {{10, 8, 0, 0, 500}}, 1000, 10000, 100},
      {"quiet bus", {{5, 8, 2, 0, 2000000}}, 1000000, 0, 0},
      {"no window", {{5, 8, 2, 0, 0}}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RingClear();
    for (const Burst& b : c.bursts) {
      for (uint32_t i = 0; i < b.count; ++i) {
        TappedFrame f =
            Frame(0x41B, {}, static_cast<uint64_t>(static_cast<int64_t>(NOW) - b.ageUs));
        f.len = b.len;
        f.baudIndex = b.baudIndex;
        f.status = b.status;
        RingPush(f);
      }
    }
    const BusLoad load = MeasureBusLoad(NOW, c.windowUs);
    EXPECT_EQ(load.framesPerSecond, c.framesPerSecond);
    EXPECT_EQ(load.loadPercent, c.loadPercent);
  }
}

}  // namespace
