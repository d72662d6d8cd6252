#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "persist/inputlog.h"
#include "persist/logclock.h"
#include "persist_test_util.h"

namespace {

using app::g_App;
using persist::LocalStamp;
using persist_test::Inputs;
using persist_test::ReadText;

constexpr const char* kLog = "persist_inputlog_test.log";
constexpr int64_t kOpenTime = 1772874302;  // calendar seconds at which the log opens
constexpr LocalStamp kOpenLocal = {2026, 3, 7, 9, 5, 2};

constexpr const char* kHeader =
    "Log File for Input Data.\nEvery change of the input data is recorded.\n"
    "Date: 03/07/26\nTime\tSeconds\tData\n";
constexpr const char* kFlowHeader =
    "Log File for Input Data.\nEvery change of the input data is recorded.\n"
    "Date: 03/07/26\nTime\tSeconds\tData\tFlow\tFlow in %\n";

class InputLog : public ::testing::Test {
 protected:
  void SetUp() override {
    app::InitAppState(nullptr);
    g_App.LogInputData = 1;
    g_App.CommActive = 1;
    std::remove(kLog);
    persist::FixLogClock(kOpenTime, kOpenLocal);
  }
  void TearDown() override {
    persist::CloseInputLog();
    persist::ReleaseLogClock();
    std::remove(kLog);
  }
  // Moves the fixed clock to `seconds` after the opening, at 10:20:30 local.
  static void At(int seconds) {
    persist::FixLogClock(kOpenTime + seconds, LocalStamp{2026, 3, 7, 10, 20, 30});
  }
  // The text written after the header.
  static std::string Body(const char* header = kHeader) {
    std::string text = ReadText(kLog);
    EXPECT_EQ(text.compare(0, std::string(header).size(), header), 0) << text;
    return text.size() < std::string(header).size() ? "" : text.substr(std::string(header).size());
  }
};

TEST_F(InputLog, OpeningWritesTheHeader) {
  struct Case {
    int flowColumns;
    const char* header;
  };
  for (const Case& c : {Case{0, kHeader}, Case{1, kFlowHeader}}) {
    std::remove(kLog);
    g_App.LogFlowColumns = c.flowColumns;
    ASSERT_EQ(persist::OpenInputLog(kLog), 1);
    EXPECT_EQ(g_App.LogActive, 1);
    EXPECT_EQ(g_App.LogStartTime, kOpenTime);
    persist::CloseInputLog();
    EXPECT_EQ(ReadText(kLog), c.header);
  }
}

TEST_F(InputLog, DataLineGivesTimeSecondsAndBytes) {
  ASSERT_EQ(persist::OpenInputLog(kLog), 1);
  app::IoRecord inputs = Inputs({0x01, 0x02});
  At(42);
  persist::WriteLog(persist::LOG_DATA, &inputs, nullptr);
  app::IoRecord none = Inputs({});
  At(123456);
  persist::WriteLog(persist::LOG_DATA, &none, nullptr);
  EXPECT_EQ(Body(), "10:20:30\t    42 \t01 02 \n10:20:30\t123456 \t\n");
}

TEST_F(InputLog, FlowColumnsFromBytesOneAndTwo) {
  struct Case {
    app::IoRecord inputs;
    const char* line;
  };
  const Case cases[] = {
      {Inputs({0x00, 0x00, 0x60}), "10:20:30\t     7 \t00 00 60 \t 24576 \t100.00\n"},
      {Inputs({0x00, 0x00, 0xA0}), "10:20:30\t     7 \t00 00 A0 \t-24576 \t-100.00\n"},
      {Inputs({0xFF, 0x00, 0x30, 0x5A}), "10:20:30\t     7 \tFF 00 30 5A \t 12288 \t50.00\n"},
      {Inputs({0x00, 0x01, 0x00}), "10:20:30\t     7 \t00 01 00 \t     1 \t0.00\n"},
  };
  g_App.LogFlowColumns = 1;
  for (const Case& c : cases) {
    std::remove(kLog);
    persist::FixLogClock(kOpenTime, kOpenLocal);
    ASSERT_EQ(persist::OpenInputLog(kLog), 1);
    At(7);
    persist::WriteLog(persist::LOG_DATA, &c.inputs, nullptr);
    persist::CloseInputLog();
    EXPECT_EQ(Body(kFlowHeader), c.line);
  }
}

TEST_F(InputLog, ErrorEntryKeepsTheLineBreaksOfTheMessage) {
  ASSERT_EQ(persist::OpenInputLog(kLog), 1);
  persist::WriteLog(persist::LOG_ERROR, nullptr, "Communication failure!");
  persist::WriteLog(persist::LOG_ERROR, nullptr, "Warning!\nOutputs may be modified!");
  EXPECT_EQ(Body(), "Error: Communication failure!\nError: Warning!\nOutputs may be modified!\n");
}

TEST_F(InputLog, WritesNothingWhileClosedOrNotWanted) {
  app::IoRecord inputs = Inputs({0x01});
  persist::WriteLog(persist::LOG_ERROR, nullptr, "closed");
  persist::WriteLog(persist::LOG_DATA, &inputs, nullptr);
  EXPECT_EQ(ReadText(kLog), "");

  ASSERT_EQ(persist::OpenInputLog(kLog), 1);
  g_App.LogInputData = 0;
  persist::WriteLog(persist::LOG_ERROR, nullptr, "not wanted");
  persist::WriteLog(persist::LOG_DATA, &inputs, nullptr);
  persist::WriteLog(persist::LOG_HEADER, nullptr, nullptr);
  g_App.LogInputData = 1;
  // Between a stop and the next start only error entries are written.
  g_App.CommActive = 0;
  persist::WriteLog(persist::LOG_DATA, &inputs, nullptr);
  persist::WriteLog(persist::LOG_ERROR, nullptr, "stopped");
  persist::CloseInputLog();
  persist::WriteLog(persist::LOG_ERROR, nullptr, "closed again");
  EXPECT_EQ(Body(), "Error: stopped\n");
}

TEST_F(InputLog, WithoutLogInputDataOpeningWritesNoHeader) {
  g_App.LogInputData = 0;
  ASSERT_EQ(persist::OpenInputLog(kLog), 1);
  persist::CloseInputLog();
  EXPECT_EQ(ReadText(kLog), "");
}

TEST_F(InputLog, ReopeningAppendsAHeaderAndRestartsTheSeconds) {
  app::IoRecord inputs = Inputs({0xAB});
  ASSERT_EQ(persist::OpenInputLog(kLog), 1);
  At(10);
  persist::WriteLog(persist::LOG_DATA, &inputs, nullptr);
  persist::CloseInputLog();
  EXPECT_EQ(g_App.LogActive, 0);
  EXPECT_EQ(g_App.LogFile, nullptr);

  persist::FixLogClock(kOpenTime + 100, kOpenLocal);
  ASSERT_EQ(persist::OpenInputLog(kLog), 1);
  At(105);
  persist::WriteLog(persist::LOG_DATA, &inputs, nullptr);
  persist::CloseInputLog();
  EXPECT_EQ(ReadText(kLog), std::string(kHeader) + "10:20:30\t    10 \tAB \n" + kHeader +
                                "10:20:30\t     5 \tAB \n");
}

TEST_F(InputLog, FileThatCannotBeOpenedLeavesLoggingOff) {
  EXPECT_EQ(persist::OpenInputLog("no-such-folder/indata.log"), 0);
  EXPECT_EQ(g_App.LogActive, 0);
  EXPECT_EQ(g_App.LogFile, nullptr);
  persist::WriteLog(persist::LOG_ERROR, nullptr, "nowhere");  // must not crash
}

}  // namespace
