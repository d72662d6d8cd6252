// The bus monitor's core: the ring of frames, the capture file, the hub that
// the binding's tap feeds, and the bus load over the ring.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
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
    SetCaptureWriter(nullptr);
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
// The tap time at that moment: the fixture's first frame comes right then.
constexpr uint64_t START_TAP_US = 5000000;

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
  ASSERT_TRUE(CaptureStartAt(path.c_str(), CaptureFormat::Pcap, START_WALL_US, START_TAP_US));
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
  ASSERT_TRUE(CaptureStartAt(path.c_str(), CaptureFormat::CandumpLog, START_WALL_US, START_TAP_US));
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
    ASSERT_TRUE(CaptureStartAt(path.c_str(), format, START_WALL_US, START_TAP_US));
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

// A frame's time is the start's wall time plus its tap time since the start:
// the idle time before the first frame counts, and so do long gaps.
TEST_F(Monitor, CaptureTimesCountFromTheStart) {
  struct Case {
    uint64_t startTapUs;
    uint64_t frameTapUs;
    const char* line;
  } cases[] = {
      {START_TAP_US, START_TAP_US, "(1700000000.999900) can0 41E#01\n"},
      // Started 4.2 s before the first frame.
      {START_TAP_US - 4200000, START_TAP_US, "(1700000005.199900) can0 41E#01\n"},
      // Three hours later, beyond a turn of the microsecond tick.
      {START_TAP_US, START_TAP_US + 3ull * 3600 * 1000000 + 1, "(1700010800.999901) can0 41E#01\n"},
  };
  for (const Case& c : cases) {
    const std::string path = File("times.log");
    ASSERT_TRUE(
        CaptureStartAt(path.c_str(), CaptureFormat::CandumpLog, START_WALL_US, c.startTapUs));
    CaptureFrame(Frame(0x41E, {0x01}, c.frameTapUs));
    CaptureStop();
    EXPECT_EQ(FileBytes(path), c.line);
  }
}

uint64_t WallUs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

// The start reads both clocks: a frame of this moment gets this moment's
// wall time to the microsecond, not the start's whole second.
TEST_F(Monitor, CaptureStartAnchorsTheTapClockToTheWallClock) {
  const std::string path = File("now.log");
  const uint64_t before = WallUs();
  ASSERT_TRUE(CaptureStart(path.c_str(), CaptureFormat::CandumpLog));
  TappedFrame f = Frame(0x41E, {0x01});
  f.timeUs = can::TapClockUs();
  CaptureFrame(f);
  const uint64_t after = WallUs();
  CaptureStop();
  unsigned long long seconds = 0;
  unsigned long micros = 0;
  ASSERT_EQ(std::sscanf(FileBytes(path).c_str(), "(%llu.%lu)", &seconds, &micros), 2);
  const uint64_t stamp = seconds * 1000000 + micros;
  // The two clocks differ by a tick's resolution at most.
  EXPECT_GE(stamp + 1000, before);
  EXPECT_LE(stamp, after + 1000);
}

// The tap's clock runs on through gaps longer than a turn of the 32-bit
// microsecond tick (71.6 minutes).
TEST_F(Monitor, TapClockKeepsLongGaps) {
  platform::EnableTestClock(1000);
  const uint64_t start = can::TapClockUs();
  const uint32_t gapsMs[] = {1, 71 * 60 * 1000, 72 * 60 * 1000, 5 * 3600 * 1000, 250};
  uint64_t expectedUs = 0;
  for (uint32_t gapMs : gapsMs) {
    platform::AdvanceTestClock(gapMs);
    expectedUs += uint64_t{gapMs} * 1000;
    EXPECT_EQ(can::TapClockUs() - start, expectedUs) << gapMs;
  }
  platform::DisableTestClock();
}

TEST_F(Monitor, CaptureThatCannotOpenItsFileDoesNotRun) {
  const std::string path = TempPath("no_such_folder/capture.pcap");
  EXPECT_FALSE(CaptureStartAt(path.c_str(), CaptureFormat::Pcap, START_WALL_US, START_TAP_US));
  EXPECT_FALSE(CaptureRunning());
  CaptureFrame(Frame(0x41E, {1}));
  EXPECT_EQ(CaptureFrames(), 0u);
  EXPECT_EQ(FileBytes(path), "<missing>");

  // A new start replaces a running capture: the old file is complete.
  const std::string first = File("first.log");
  const std::string second = File("second.log");
  ASSERT_TRUE(
      CaptureStartAt(first.c_str(), CaptureFormat::CandumpLog, START_WALL_US, START_TAP_US));
  CaptureFrame(Frame(0x41E, {1}, START_TAP_US));
  ASSERT_TRUE(
      CaptureStartAt(second.c_str(), CaptureFormat::CandumpLog, START_WALL_US, START_TAP_US));
  EXPECT_EQ(CaptureFrames(), 0u);
  EXPECT_EQ(FileBytes(first), "(1700000000.999900) can0 41E#01\n");
}

// A disk that takes `diskRoom` more bytes, then refuses, as a full one
// does: the part of a record that fitted is on it.
size_t diskRoom = 0;
int writerCalls = 0;
size_t FillingDisk(const void* data, size_t size, std::FILE* file) {
  ++writerCalls;
  const size_t taken = size < diskRoom ? size : diskRoom;
  diskRoom -= taken;
  return std::fwrite(data, 1, taken, file);
}

#if !defined(_WIN32)
// What tshark reads in a pcap file: its packet count, and "" or the
// complaint about the file. Empty count when tshark is not there.
struct TsharkReading {
  int packets = -1;
  std::string complaint;
};
TsharkReading ReadWithTshark(const std::string& path) {
  TsharkReading reading;
  const std::string command = "tshark -r '" + path + "' -T fields -e frame.number 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return reading;
  char line[512];
  int packets = 0;
  while (std::fgets(line, sizeof line, pipe)) {
    if (std::strspn(line, "0123456789") > 0 && line[std::strspn(line, "0123456789")] == '\n') {
      ++packets;
    } else if (std::strncmp(line, "Running as user", 15) != 0) {  // tshark's notice to root
      reading.complaint += line;
    }
  }
  if (pclose(pipe) == 0 || !reading.complaint.empty()) reading.packets = packets;
  return reading;
}

#endif

// A disk that fills up in the middle of a record: the capture ends, the
// file ends on the last whole record, and the frames it holds are counted.
TEST_F(Monitor, FullDiskEndsTheCaptureOnAWholeRecord) {
  struct Case {
    CaptureFormat format;
    size_t room;  // bytes the disk takes
    const char* name;
    size_t wholeBytes;
    uint64_t frames;
  } cases[] = {
      {CaptureFormat::Pcap, 24 + 32 + 20, "full.pcap", 24 + 32, 1},  // inside the second record
      {CaptureFormat::Pcap, 10, "header.pcap", 0, 0},                // inside the file header
      {CaptureFormat::CandumpLog, 45, "full.log", 38, 1},            // inside the second line
  };
  SetCaptureWriter(FillingDisk);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = File(c.name);
    ASSERT_TRUE(CaptureStartAt(path.c_str(), c.format, START_WALL_US, START_TAP_US));
    for (const TappedFrame& f : CaptureFixture()) CaptureFrame(f);
    diskRoom = c.room;
    EXPECT_FALSE(CaptureWriteSome(CAPTURE_BUFFER_SIZE));
    EXPECT_FALSE(CaptureRunning());
    EXPECT_TRUE(CaptureFailed());
    EXPECT_EQ(CaptureFrames(), c.frames);
    const std::string expected =
        c.format == CaptureFormat::Pcap ? ExpectedPcap() : EXPECTED_CANDUMP;
    EXPECT_EQ(FileBytes(path), expected.substr(0, c.wholeBytes));
    // Nothing runs any more: neither a frame nor a write reaches the file.
    CaptureFrame(CaptureFixture()[0]);
    EXPECT_TRUE(CaptureWriteSome(CAPTURE_BUFFER_SIZE));
    EXPECT_TRUE(CaptureStop());
    EXPECT_EQ(FileBytes(path).size(), c.wholeBytes);
#if !defined(_WIN32)
    if (c.format == CaptureFormat::Pcap && c.frames > 0) {
      const TsharkReading reading = ReadWithTshark(path);
      if (reading.packets < 0) GTEST_SKIP() << "tshark is not installed";
      EXPECT_EQ(reading.packets, 1);
      EXPECT_EQ(reading.complaint, "");
    }
#endif
  }
  SetCaptureWriter(nullptr);
}

#if !defined(_WIN32)
// The same on a real device that is full from the start.
TEST_F(Monitor, WriteErrorEndsTheCapture) {
  ASSERT_TRUE(CaptureStartAt("/dev/full", CaptureFormat::Pcap, START_WALL_US, START_TAP_US));
  CaptureFrame(Frame(0x41E, {1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_FALSE(CaptureWriteSome(CAPTURE_BUFFER_SIZE));
  EXPECT_FALSE(CaptureRunning());
  EXPECT_TRUE(CaptureFailed());
  EXPECT_EQ(CaptureFrames(), 0u);
}
#endif

// The frames go into memory only; the file gets them in slices of whole
// records no larger than asked, and a disk slower than the bus loses the
// frames beyond the buffer (counted) rather than holding up the exchange.
TEST_F(Monitor, FramesReachTheFileOnlyInBoundedSlices) {
  const std::string path = File("slices.log");
  SetCaptureWriter(FillingDisk);
  diskRoom = SIZE_MAX;
  writerCalls = 0;
  ASSERT_TRUE(CaptureStartAt(path.c_str(), CaptureFormat::CandumpLog, START_WALL_US, START_TAP_US));
  const TappedFrame f = Frame(0x41E, {1, 2, 3, 4, 5, 6, 7, 8}, START_TAP_US);
  const std::string line = "(1700000000.999900) can0 41E#0102030405060708\n";
  const uint64_t fit = CAPTURE_BUFFER_SIZE / line.size();
  for (uint64_t i = 0; i < fit + 5; ++i) CaptureFrame(f);
  EXPECT_EQ(writerCalls, 0);
  EXPECT_EQ(FileBytes(path), "");
  EXPECT_EQ(CaptureFrames(), fit);
  EXPECT_EQ(CaptureLostFrames(), 5u);

  ASSERT_TRUE(CaptureWriteSome(100));  // two lines fit, not a third
  EXPECT_EQ(FileBytes(path), line + line);
  EXPECT_TRUE(CaptureWriteSome(10));  // less than a line: nothing
  EXPECT_EQ(FileBytes(path).size(), 2 * line.size());
  EXPECT_EQ(writerCalls, 1);
  // Room again in the buffer once the file has taken some.
  CaptureFrame(f);
  EXPECT_EQ(CaptureFrames(), fit + 1);
  EXPECT_TRUE(CaptureStop());
  EXPECT_EQ(FileBytes(path).size(), (fit + 1) * line.size());
  EXPECT_EQ(CaptureLostFrames(), 5u);
  SetCaptureWriter(nullptr);
}

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
  ASSERT_TRUE(CaptureStartAt(path.c_str(), CaptureFormat::CandumpLog, START_WALL_US, 100));
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

// The ring keeps with each request the body format its connection was
// granted when the tap saw the set-up; the knowledge starts with the tap.
TEST_F(Monitor, RingKeepsTheBodyFormatLearnedFromTheAllocate) {
  const TappedFrame request = Frame(0x42C, {0x00, 0x0E, 0x01, 0x00, 0x01, 0x02}, 0, can::TAP_SENT);
  const TappedFrame allocated = Frame(0x42B, {0x00, 0xCB, 0x03});  // MAC ID 5 grants 16/8
  MonitorWantRing(true);
  MonitorTap(request);
  MonitorTap(allocated);
  MonitorTap(request);
  MonitorWantRing(false);  // the tap is gone: what comes meanwhile is not seen
  MonitorWantRing(true);
  MonitorTap(request);
  const uint8_t expected[] = {FORMAT_UNKNOWN, FORMAT_UNKNOWN, 3, FORMAT_UNKNOWN};
  for (uint64_t n = 0; n < 4; ++n) {
    TappedFrame f{};
    uint8_t format = 0;
    ASSERT_TRUE(RingGet(n, f, &format));
    EXPECT_EQ(format, expected[n]) << n;
  }
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
