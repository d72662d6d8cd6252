// The serial-line adapter library, loaded as the program loads it, against a
// scripted adapter on the far end of a pseudo-terminal.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "serialcan.h"

namespace {

constexpr int HW_SERIAL = SERIALCAN_HW_TYPE;
constexpr uint32_t COM = 3;
constexpr uint16_t BTR_125K = 0x031C;
constexpr uint16_t BTR_250K = 0x011C;
constexpr uint16_t BTR_500K = 0x001C;

struct Library {
  SerialCanInitFn init;
  SerialCanVoidFn close;
  SerialCanVoidFn status;
  SerialCanMsgFn write;
  SerialCanMsgFn read;
  SerialCanTextFn versionInfo;
  SerialCanVoidFn resetClient;
  SerialCanGetStatsFn getStats;
};

template <typename Fn>
Fn Resolve(void* handle, const char* name) {
  void* entry = dlsym(handle, name);
  if (!entry) ADD_FAILURE() << name << " not exported";
  return reinterpret_cast<Fn>(entry);
}

// Loaded once: the library holds one adapter per process, as a driver does.
const Library& Lib() {
  static Library lib = [] {
    Library l{};
    void* handle = dlopen(SERIALCAN_LIBRARY, RTLD_NOW);
    if (!handle) {
      ADD_FAILURE() << dlerror();
      return l;
    }
    l.init = Resolve<SerialCanInitFn>(handle, "CAN_Init");
    l.close = Resolve<SerialCanVoidFn>(handle, "CAN_Close");
    l.status = Resolve<SerialCanVoidFn>(handle, "CAN_Status");
    l.write = Resolve<SerialCanMsgFn>(handle, "CAN_Write");
    l.read = Resolve<SerialCanMsgFn>(handle, "CAN_Read");
    l.versionInfo = Resolve<SerialCanTextFn>(handle, "CAN_VersionInfo");
    l.resetClient = Resolve<SerialCanVoidFn>(handle, "CAN_ResetClient");
    l.getStats = Resolve<SerialCanGetStatsFn>(handle, "SerialCan_GetStats");
    return l;
  }();
  return lib;
}

SerialCanStats Stats() {
  SerialCanStats s{};
  Lib().getStats(&s);
  return s;
}

SerialCanMsg Msg(uint32_t id, std::initializer_list<uint8_t> data) {
  SerialCanMsg m{};
  m.ID = id;
  for (uint8_t b : data) m.DATA[m.LEN++] = b;
  return m;
}

// Calls `step` every millisecond until it returns true or `limitMs` passed.
template <typename Step>
bool Within(int limitMs, Step step) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!step()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The adapter: the master side of a pseudo-terminal whose slave side is
// COM3 for the library. A thread answers each command line by its first
// letter, as the script says; a letter without an entry gets no answer.
class SerialCanAdapter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Lib().init);
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(0, grantpt(master_));
    ASSERT_EQ(0, unlockpt(master_));
    const char* path = ptsname(master_);
    ASSERT_NE(nullptr, path);
    // Held open by the test so that its input queue can be watched.
    slave_ = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave_, 0);
    setenv("SERIALCAN_COM3", path, 1);
    Answer({{'C', "\r"}, {'S', "\r"}, {'O', "\r"}, {'t', "z\r"}, {'F', "F00\r"}});
    peer_ = std::thread([this] { Serve(); });
  }

  void TearDown() override {
    Lib().close();
    stop_ = true;
    peer_.join();
    if (master_ >= 0) close(master_);
    close(slave_);
    unsetenv("SERIALCAN_COM3");
  }

  void Answer(std::map<char, std::string> script) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(script);
  }

  // Everything the library sent, and forgets it.
  std::string TakeReceived() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string r;
    r.swap(received_);
    return r;
  }

  // Waits until the library has sent `text` (and takes it).
  bool Received(const std::string& text) {
    std::string got;
    const bool ok = Within(500, [&] {
      got += TakeReceived();
      return got.find(text) != std::string::npos;
    });
    if (!ok) ADD_FAILURE() << "received \"" << got << "\"";
    return ok;
  }

  // Writes `text` towards the library and waits until all of it waits in
  // the port, so that the library's next read finds it.
  void Send(const std::string& text) {
    int before = 0;
    ioctl(slave_, FIONREAD, &before);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ASSERT_EQ(static_cast<ssize_t>(text.size()), write(master_, text.data(), text.size()));
    }
    ASSERT_TRUE(Within(500, [&] {
      int waiting = 0;
      ioctl(slave_, FIONREAD, &waiting);
      return waiting >= before + static_cast<int>(text.size());
    }));
  }

  uint32_t Open(uint16_t btr = BTR_250K) { return Lib().init(btr, 0, HW_SERIAL, COM, 0); }

  void PullAdapterAway() {
    std::lock_guard<std::mutex> lock(mutex_);
    close(master_);
    master_ = -1;
  }

 private:
  void Serve() {
    std::string line;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (master_ < 0 || poll(&p, 1, 1) <= 0 || !(p.revents & POLLIN)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      char bytes[256];
      std::lock_guard<std::mutex> lock(mutex_);
      const ssize_t n = read(master_, bytes, sizeof bytes);
      for (ssize_t i = 0; i < n; ++i) {
        received_ += bytes[i];
        if (bytes[i] != '\r') {
          line += bytes[i];
          continue;
        }
        const auto answer = script_.find(line.empty() ? '\r' : line[0]);
        if (answer != script_.end()) {
          (void)!write(master_, answer->second.data(), answer->second.size());
        }
        line.clear();
      }
    }
  }

  int master_ = -1;
  int slave_ = -1;
  std::thread peer_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<char, std::string> script_;
  std::string received_;
};

TEST_F(SerialCanAdapter, OpensWithCloseRateAndOpenCommands) {
  const struct {
    uint16_t btr;
    const char* sent;
  } cases[] = {
      {BTR_125K, "\rC\rS4\rO\r"},
      {BTR_250K, "\rC\rS5\rO\r"},
      {BTR_500K, "\rC\rS6\rO\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent);
    ASSERT_EQ(SERIALCAN_OK, Open(c.btr));
    EXPECT_EQ(c.sent, TakeReceived());
    EXPECT_EQ(SERIALCAN_OK, Lib().close());
    EXPECT_TRUE(Received("C\r"));
    EXPECT_EQ(SERIALCAN_ERR_NOTOPEN, Lib().status());
  }
}

TEST_F(SerialCanAdapter, RefusesBadArgumentsWithoutTouchingThePort) {
  const struct {
    uint16_t btr;
    int msgType;
    int hwType;
    uint32_t ioPort;
  } cases[] = {
      {BTR_250K, 0, 5, COM},          // the parallel-port adapter's type
      {BTR_250K, 0, HW_SERIAL, 0},    // COM ports count from 1
      {BTR_250K, 0, HW_SERIAL, 17},   // to 16
      {0x1234, 0, HW_SERIAL, COM},    // no bit rate of the baud table
      {0x1C01, 0, HW_SERIAL, COM},    // 250 kbit/s with its bytes swapped
      {BTR_250K, 2, HW_SERIAL, COM},  // no such message type
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SERIALCAN_ERR_ILLPARAM, Lib().init(c.btr, c.msgType, c.hwType, c.ioPort, 0));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ("", TakeReceived());
}

TEST_F(SerialCanAdapter, ARefusedOrUnansweredCommandLeavesThePortClosed) {
  const struct {
    std::map<char, std::string> script;
    uint32_t result;
  } cases[] = {
      {{{'C', "\a"}, {'S', "\r"}, {'O', "\r"}}, SERIALCAN_OK},  // nothing was open
      {{{'C', "\r"}, {'S', "\a"}, {'O', "\r"}}, SERIALCAN_ERR_REFUSED},
      {{{'C', "\r"}, {'S', "\r"}, {'O', "\a"}}, SERIALCAN_ERR_REFUSED},
      {{{'C', "\r"}, {'S', "\r"}}, SERIALCAN_ERR_SILENT},
      {{}, SERIALCAN_ERR_SILENT},
  };
  for (const auto& c : cases) {
    Answer(c.script);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.result, Open());
    // Nothing hangs: a silent adapter costs one answer time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    if (c.result != SERIALCAN_OK) {
      EXPECT_EQ(SERIALCAN_ERR_NOTOPEN, Lib().status());
      SerialCanMsg m = Msg(0x100, {});
      EXPECT_EQ(SERIALCAN_ERR_NOTOPEN, Lib().write(&m));
    }
    Lib().close();
  }
  // A refused open is no lasting harm: the port opens again.
  Answer({{'C', "\r"}, {'S', "\r"}, {'O', "\r"}});
  EXPECT_EQ(SERIALCAN_OK, Open());
}

TEST_F(SerialCanAdapter, APortThatIsNoSerialPortDoesNotOpen) {
  for (const char* path : {"/nonexistent/ttyUSB9", "/dev/null"}) {
    SCOPED_TRACE(path);
    setenv("SERIALCAN_COM5", path, 1);
    EXPECT_EQ(SERIALCAN_ERR_NOPORT, Lib().init(BTR_250K, 0, HW_SERIAL, 5, 0));
  }
  unsetenv("SERIALCAN_COM5");
}

TEST_F(SerialCanAdapter, SendsFramesWithoutWaitingForTheirAnswers) {
  ASSERT_EQ(SERIALCAN_OK, Open());
  TakeReceived();
  Answer({{'t', ""}, {'C', "\r"}});  // the answers come late
  SerialCanMsg frames[] = {Msg(0x41C, {0x12, 0xAB}), Msg(0x000, {}),
                           Msg(0x7FF, {1, 2, 3, 4, 5, 6, 7, 0xFE})};
  for (SerialCanMsg& m : frames) EXPECT_EQ(SERIALCAN_OK, Lib().write(&m));
  EXPECT_TRUE(Received("t41C212AB\rt0000\rt7FF801020304050607FE\r"));
  EXPECT_EQ(3u, Stats().framesSent);
  EXPECT_EQ(0u, Stats().framesAnswered);
  // The answers, late: counted when they arrive.
  Send("z\rz\r\r");
  SerialCanMsg in{};
  EXPECT_EQ(SERIALCAN_ERR_QRCVEMPTY, Lib().read(&in));
  EXPECT_EQ(3u, Stats().framesAnswered);
  EXPECT_TRUE(Received("F\r"));  // the read asked for the flags

  SerialCanMsg bad[] = {Msg(0x800, {}), Msg(0x100, {}), Msg(0x100, {})};
  bad[1].LEN = 9;
  bad[2].MSGTYPE = 0x02;
  for (SerialCanMsg& m : bad) EXPECT_EQ(SERIALCAN_ERR_ILLPARAM, Lib().write(&m));
  EXPECT_EQ(SERIALCAN_ERR_ILLPARAM, Lib().write(nullptr));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ("", TakeReceived());
}

// A frame the adapter refuses (BEL) is kept and goes again before any newer
// one; meanwhile the transmit queue counts as full, so the program holds its
// next frame as it does behind a full queue.
TEST_F(SerialCanAdapter, ARefusedFrameGoesAgainBeforeNewerOnes) {
  ASSERT_EQ(SERIALCAN_OK, Open());
  Answer({{'t', "\a"}, {'C', "\r"}, {'F', "F00\r"}});
  SerialCanMsg first = Msg(0x41C, {1});
  SerialCanMsg next = Msg(0x41D, {2});
  ASSERT_EQ(SERIALCAN_OK, Lib().write(&first));
  ASSERT_TRUE(Received("t41C101\r"));
  SerialCanMsg in{};
  ASSERT_TRUE(Within(500, [&] {
    Lib().read(&in);
    return Stats().framesRefused == 1;
  }));
  Answer({{'t', "z\r"}, {'C', "\r"}, {'F', "F00\r"}});
  // Held until the refused frame has been taken; then it goes.
  uint32_t written = SERIALCAN_ERR_QXMTFULL;
  EXPECT_TRUE(
      Within(500, [&] { return (written = Lib().write(&next)) != SERIALCAN_ERR_QXMTFULL; }));
  EXPECT_EQ(SERIALCAN_OK, written);
  std::string sent;
  EXPECT_TRUE(Within(500, [&] {
    sent += TakeReceived();
    return sent.find("t41D102\r") != std::string::npos;
  }));
  for (size_t at; (at = sent.find("F\r")) != std::string::npos;) sent.erase(at, 2);  // requests
  // The refused frame went again (until the adapter took it), then the next.
  const SerialCanStats stats = Stats();
  EXPECT_GE(stats.framesResent, 1u);
  std::string want;
  for (uint32_t i = 0; i < stats.framesResent; ++i) want += "t41C101\r";
  EXPECT_EQ(want + "t41D102\r", sent);
  EXPECT_EQ(0u, stats.framesAbandoned);
  EXPECT_EQ(0u, Lib().status() & SERIALCAN_ERR_OVERRUN);  // nothing was lost
}

// A frame refused for 100 ms is given up and reported as a lost frame once.
// The flags have no bus off: error passive and a refused frame are one,
// unless the transmit FIFO is full.
TEST_F(SerialCanAdapter, AFrameRefusedForGoodIsDroppedAndCanMeanBusOff) {
  const struct {
    const char* flags;
    uint32_t status;
  } cases[] = {
      {"F24\r", SERIALCAN_ERR_BUSLIGHT | SERIALCAN_ERR_BUSHEAVY | SERIALCAN_ERR_BUSOFF},
      {"FA4\r", SERIALCAN_ERR_BUSLIGHT | SERIALCAN_ERR_BUSHEAVY | SERIALCAN_ERR_BUSOFF},
      {"F26\r", SERIALCAN_ERR_BUSLIGHT | SERIALCAN_ERR_BUSHEAVY},  // transmit FIFO full
      {"F04\r", SERIALCAN_ERR_BUSLIGHT},
      {"\a", SERIALCAN_ERR_BUSOFF},  // no open channel: the adapter was reset
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    ASSERT_EQ(SERIALCAN_OK, Open());
    Answer({{'t', "\a"}, {'C', "\r"}, {'S', "\r"}, {'O', "\r"}, {'F', c.flags}});
    SerialCanMsg m = Msg(0x41C, {1});
    ASSERT_EQ(SERIALCAN_OK, Lib().write(&m));
    SerialCanMsg in{};
    ASSERT_TRUE(Within(1000, [&] {
      Lib().read(&in);
      return Stats().framesAbandoned == 1;
    }));
    EXPECT_GE(Stats().framesResent, 1u);
    uint32_t status = 0;
    EXPECT_TRUE(Within(500,
                       [&] {
                         status = Lib().status();
                         return (status & ~SERIALCAN_ERR_OVERRUN) == c.status;
                       }))
        << std::hex << status;
    // Once the frame is dropped the next one goes.
    Answer({{'t', "z\r"}, {'C', "\r"}, {'S', "\r"}, {'O', "\r"}, {'F', "F00\r"}});
    EXPECT_TRUE(Within(500, [&] { return Lib().write(&m) == SERIALCAN_OK; }));
    EXPECT_TRUE(Within(500, [&] { return Lib().status() == 0; }));
    Lib().close();
  }
}

// An answer is never matched to the wrong frame: with 64 frames unconfirmed
// the transmit queue counts as full, until the answers come; a refusal then
// still falls on the frame it belongs to.
TEST_F(SerialCanAdapter, UnconfirmedFramesFillTheTransmitQueue) {
  ASSERT_EQ(SERIALCAN_OK, Open());
  Answer({{'C', "\r"}});  // frames go unanswered for now
  SerialCanMsg m = Msg(0x41C, {1});
  SerialCanMsg last = Msg(0x7FF, {});
  for (int i = 0; i < 63; ++i) ASSERT_EQ(SERIALCAN_OK, Lib().write(&m)) << i;
  ASSERT_EQ(SERIALCAN_OK, Lib().write(&last));
  EXPECT_EQ(SERIALCAN_ERR_QXMTFULL, Lib().write(&m));
  TakeReceived();
  std::string answers;
  for (int i = 0; i < 63; ++i) answers += "z\r";
  Send(answers + "\a");                                // the last of the 64 was refused
  EXPECT_EQ(SERIALCAN_ERR_QXMTFULL, Lib().write(&m));  // it goes again first
  EXPECT_TRUE(Received("t7FF0\r"));
  EXPECT_EQ(63u, Stats().framesAnswered);
  EXPECT_EQ(1u, Stats().framesRefused);
  Send("z\r");
  EXPECT_EQ(SERIALCAN_OK, Lib().write(&m));
  EXPECT_EQ(64u, Stats().framesAnswered);
  EXPECT_EQ(0u, Stats().answersLost);
}

// Answers go missing on a real line. The adapter answers in order, so an
// answer of one kind tells that the commands before it of another kind
// lost theirs; an answer late beyond any adapter's turnaround is lost too.
TEST_F(SerialCanAdapter, AnswersAreMatchedByKind) {
  ASSERT_EQ(SERIALCAN_OK, Open());
  Answer({{'C', "\r"}});  // the test answers
  SerialCanMsg a = Msg(0x10A, {}), b = Msg(0x10B, {});
  ASSERT_EQ(SERIALCAN_OK, Lib().write(&a));
  ASSERT_EQ(SERIALCAN_OK, Lib().write(&b));
  EXPECT_EQ(0u, Lib().status());  // asks for the flags
  ASSERT_TRUE(Received("t10A0\rt10B0\rF\r"));
  // A's "z", B's lost, then the flags; a stray "z" takes nothing.
  Send("z\rF24\rz\r");
  EXPECT_EQ(static_cast<uint32_t>(SERIALCAN_ERR_BUSLIGHT | SERIALCAN_ERR_BUSHEAVY), Lib().status());
  SerialCanStats stats = Stats();
  EXPECT_EQ(1u, stats.framesAnswered);
  EXPECT_EQ(1u, stats.answersLost);
  EXPECT_EQ(1u, stats.garbageLines);

  // A "z" while a status request waits before the frame: the request lost
  // its answer, the frame has its own.
  std::this_thread::sleep_for(std::chrono::milliseconds(110));
  Lib().status();
  ASSERT_TRUE(Received("F\r"));
  ASSERT_EQ(SERIALCAN_OK, Lib().write(&a));
  Send("z\r");
  SerialCanMsg in{};
  Lib().read(&in);
  stats = Stats();
  EXPECT_EQ(2u, stats.framesAnswered);
  EXPECT_EQ(2u, stats.answersLost);

  // Unanswered for half a second: lost, and nothing waits any more.
  ASSERT_EQ(SERIALCAN_OK, Lib().write(&b));
  EXPECT_TRUE(Within(1000, [&] {
    Lib().read(&in);
    return Stats().answersLost == 3;
  }));
  EXPECT_EQ(2u, Stats().framesAnswered);
}

// What a lost answer did before: every status after a quiet second said
// bus off, and 64 of them stopped CAN_Write for good.
TEST_F(SerialCanAdapter, LostAnswersNeitherLookLikeBusOffNorBlockSending) {
  ASSERT_EQ(SERIALCAN_OK, Open());
  Answer({{'C', "\r"}, {'F', "F00\r"}});  // frames' answers are lost
  SerialCanMsg m = Msg(0x41C, {1});
  ASSERT_EQ(SERIALCAN_OK, Lib().write(&m));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a quiet second
  EXPECT_EQ(0u, Lib().status() & SERIALCAN_ERR_BUSOFF);
  EXPECT_TRUE(Within(500, [&] { return Lib().status() == 0; }));

  // 64 unconfirmed commands fill the queue (a status request may be one).
  int written = 0;
  while (written < 65 && Lib().write(&m) == SERIALCAN_OK) ++written;
  EXPECT_GE(written, 63);
  EXPECT_LE(written, 64);
  EXPECT_EQ(SERIALCAN_ERR_QXMTFULL, Lib().write(&m));
  SerialCanMsg in{};
  EXPECT_TRUE(Within(1000, [&] {
    Lib().read(&in);
    return Lib().write(&m) == SERIALCAN_OK;
  }));
  EXPECT_EQ(0u, Lib().status() & SERIALCAN_ERR_BUSOFF);
}

// Half a line from before a silence is dropped: the adapter was reset or
// replugged, and its next line starts afresh.
TEST_F(SerialCanAdapter, ALineCutBySilenceIsDropped) {
  ASSERT_EQ(SERIALCAN_OK, Open());
  Send("t7FF8010203");
  SerialCanMsg m{};
  EXPECT_EQ(SERIALCAN_ERR_QRCVEMPTY, Lib().read(&m));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Send("t1231AA\r");
  ASSERT_EQ(SERIALCAN_OK, Lib().read(&m));
  EXPECT_EQ(0x123u, m.ID);
  EXPECT_EQ(1u, Stats().garbageLines);
}

// Some adapters end every line with CR LF.
TEST_F(SerialCanAdapter, LinesEndingInCrLf) {
  Answer({{'C', "\r\n"}, {'S', "\r\n"}, {'O', "\r\n"}, {'t', "z\r\n"}, {'F', "F04\r\n"}});
  ASSERT_EQ(SERIALCAN_OK, Open());
  SerialCanMsg m = Msg(0x41C, {1});
  ASSERT_EQ(SERIALCAN_OK, Lib().write(&m));
  Send("t1231AA\r\n");
  SerialCanMsg in{};
  ASSERT_TRUE(Within(500, [&] { return Lib().read(&in) == SERIALCAN_OK; }));
  EXPECT_EQ(0x123u, in.ID);
  uint32_t status = 0;
  EXPECT_TRUE(Within(500, [&] { return (status = Lib().status()) != 0; }));
  EXPECT_EQ(static_cast<uint32_t>(SERIALCAN_ERR_BUSLIGHT), status);
  const SerialCanStats stats = Stats();
  EXPECT_EQ(1u, stats.framesAnswered);
  EXPECT_EQ(0u, stats.garbageLines);
}

// An answer to the CR that starts the open sequence, as some adapters give
// one to an empty line or to a half line it ends, is no answer to S or O.
TEST_F(SerialCanAdapter, AnAnswerToTheLeadingCrIsNoAnswerToSOrO) {
  const struct {
    const char* toEmptyLine;
    const char* toClose;
  } cases[] = {{"\r", "\a"}, {"\a", "\a"}, {"\a", "\r"}, {"\r", "\r"}};
  for (const auto& c : cases) {
    Answer({{'\r', c.toEmptyLine}, {'C', c.toClose}, {'S', "\r"}, {'O', "\r"}});
    EXPECT_EQ(SERIALCAN_OK, Open());
    Lib().close();
  }
}

TEST_F(SerialCanAdapter, ReceivesFramesAlsoWhenSplitAcrossReads) {
  ASSERT_EQ(SERIALCAN_OK, Open());
  Answer({{'C', "\r"}});  // no status answer inside the lines the test sends
  SerialCanMsg m{};
  EXPECT_EQ(SERIALCAN_ERR_QRCVEMPTY, Lib().read(&m));

  Send("t7FF8010203");
  EXPECT_EQ(SERIALCAN_ERR_QRCVEMPTY, Lib().read(&m));
  Send("0405060708\rt41");
  ASSERT_EQ(SERIALCAN_OK, Lib().read(&m));
  EXPECT_EQ(0x7FFu, m.ID);
  EXPECT_EQ(0, m.MSGTYPE);
  ASSERT_EQ(8, m.LEN);
  const uint8_t want[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(0, std::memcmp(want, m.DATA, 8));
  EXPECT_EQ(SERIALCAN_ERR_QRCVEMPTY, Lib().read(&m));

  // The rest of "t41e2abcd" in lower-case hex, a time stamp, an extended and a remote frame (not
  // for the binding), garbage, then a frame of length 0.
  Send("e2abcd\rt1231AA1234\rT0000041C0\rr41C0\rgarbage\rt41C0\r");
  const struct {
    uint32_t id;
    uint8_t len;
    uint8_t data0;
  } frames[] = {{0x41E, 2, 0xAB}, {0x123, 1, 0xAA}, {0x41C, 0, 0}};
  for (const auto& f : frames) {
    SCOPED_TRACE(f.id);
    m = SerialCanMsg{};
    ASSERT_EQ(SERIALCAN_OK, Lib().read(&m));
    EXPECT_EQ(f.id, m.ID);
    EXPECT_EQ(f.len, m.LEN);
    EXPECT_EQ(f.data0, m.DATA[0]);
  }
  EXPECT_EQ(SERIALCAN_ERR_QRCVEMPTY, Lib().read(&m));
  const SerialCanStats stats = Stats();
  EXPECT_EQ(4u, stats.framesReceived);
  EXPECT_EQ(2u, stats.framesDropped);
  EXPECT_EQ(1u, stats.garbageLines);
}

TEST_F(SerialCanAdapter, AFullReceiveRingKeepsTheOldestAndReportsAnOverrun) {
  ASSERT_EQ(SERIALCAN_OK, Open());
  // More frames than the ring holds arrive before the program reads.
  constexpr int RING = 512;
  constexpr int SENT = RING + 40;
  std::string lines;
  char line[16];
  for (int i = 0; i < SENT; ++i) {
    snprintf(line, sizeof line, "t%03X0\r", i);
    lines += line;
  }
  Send(lines);
  SerialCanMsg m{};
  for (int i = 0; i < RING; ++i) {
    ASSERT_EQ(SERIALCAN_OK, Lib().read(&m)) << i;
    ASSERT_EQ(static_cast<uint32_t>(i), m.ID);
  }
  EXPECT_EQ(SERIALCAN_ERR_QRCVEMPTY, Lib().read(&m));
  EXPECT_EQ(static_cast<uint32_t>(SENT - RING), Stats().framesDropped);
  EXPECT_EQ(SERIALCAN_ERR_OVERRUN, Lib().status() & SERIALCAN_ERR_OVERRUN);
  EXPECT_EQ(0u, Lib().status() & SERIALCAN_ERR_OVERRUN);  // reported once
}

TEST_F(SerialCanAdapter, StatusComesFromTheAdaptersFlags) {
  Answer({{'C', "\r"}, {'S', "\r"}, {'O', "\r"}, {'F', "F24\r"}});
  ASSERT_EQ(SERIALCAN_OK, Open());
  // The first call asks; the answer shows in a later one.
  uint32_t status = 0;
  EXPECT_TRUE(Within(500, [&] { return (status = Lib().status()) != 0; }));
  EXPECT_EQ(static_cast<uint32_t>(SERIALCAN_ERR_BUSLIGHT | SERIALCAN_ERR_BUSHEAVY), status);
  EXPECT_TRUE(Received("F\r"));

  // Bus error: one error frame was seen, the bus still works.
  Answer({{'F', "F80\r"}});
  EXPECT_TRUE(Within(1000, [&] { return (status = Lib().status()) == SERIALCAN_ERR_BUSLIGHT; }));
  Answer({{'F', "F08\r"}});
  EXPECT_TRUE(Within(1000, [&] { return (status = Lib().status()) == SERIALCAN_ERR_OVERRUN; }));
  Answer({{'F', "F00\r"}});
  EXPECT_TRUE(Within(1000, [&] { return (status = Lib().status()) == 0; }));
  // Not more often than every 100 ms, however often the program asks.
  const uint32_t polls = Stats().statusPolls;
  for (int i = 0; i < 20; ++i) Lib().status();
  EXPECT_LE(Stats().statusPolls, polls + 1);
}

TEST_F(SerialCanAdapter, AnAdapterPulledOutIsBusOffAndRefusesFrames) {
  ASSERT_EQ(SERIALCAN_OK, Open());
  PullAdapterAway();
  SerialCanMsg m = Msg(0x41C, {1});
  uint32_t written = SERIALCAN_OK;
  EXPECT_TRUE(Within(500, [&] {
    Lib().read(&m);
    return (written = Lib().write(&m)) != SERIALCAN_OK;
  }));
  EXPECT_EQ(SERIALCAN_ERR_PORTLOST, written);
  EXPECT_EQ(SERIALCAN_ERR_BUSOFF, Lib().status() & SERIALCAN_ERR_BUSOFF);
  EXPECT_EQ(SERIALCAN_ERR_QRCVEMPTY, Lib().read(&m));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SERIALCAN_OK, Lib().close());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(SerialCanAdapter, AnAdapterThatStopsAnsweringIsBusOffUntilItAnswersAgain) {
  ASSERT_EQ(SERIALCAN_OK, Open());
  Answer({});
  SerialCanMsg m = Msg(0x41C, {1});
  ASSERT_EQ(SERIALCAN_OK, Lib().write(&m));
  EXPECT_EQ(0u, Lib().status());  // asks for the flags too
  // A second without any answer.
  EXPECT_TRUE(Within(1500, [&] { return Lib().status() == SERIALCAN_ERR_BUSOFF; }));
  Answer({{'C', "\r"}, {'F', "F00\r"}});
  Send("z\rF00\r");
  EXPECT_EQ(0u, Lib().status());
}

TEST_F(SerialCanAdapter, VersionAndResetClient) {
  char text[64];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(SERIALCAN_OK, Lib().versionInfo(text));
  EXPECT_LT(std::strlen(text), sizeof text);
  EXPECT_NE(nullptr, std::strstr(text, "serial"));

  ASSERT_EQ(SERIALCAN_OK, Open());
  Send("t1000\rt1010\r");
  SerialCanMsg m{};
  ASSERT_EQ(SERIALCAN_OK, Lib().read(&m));
  EXPECT_EQ(SERIALCAN_OK, Lib().resetClient());
  EXPECT_EQ(SERIALCAN_ERR_QRCVEMPTY, Lib().read(&m));
}

}  // namespace
