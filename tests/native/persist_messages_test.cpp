// Message boxes through the native seam: what would be shown is recorded.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "persist/inputlog.h"
#include "persist/logclock.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/native_seams.h"
#include "persist/resstring.h"
#include "persist_test_util.h"
#include "resource.h"

namespace {

using app::g_App;
using persist::BOX_ICONEXCLAMATION;
using persist::BOX_OK;
using persist::BOX_OKCANCEL;
using persist::BOX_RETRYCANCEL;
using persist::RecordedBoxes;
using persist_test::ReadText;

constexpr const char* kLog = "persist_messages_test.log";

constexpr const char* kAttrAccess08 =
    "Unable to access attribute!\n\nDeviceNet error code: 08 hex\n\n"
    "The DeviceNet error codes are described in the help file.";

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    app::InitAppState(nullptr);
    persist::UseEnglishStrings();
    persist::ClearRecordedBoxes();
    std::remove(kLog);
  }
  void TearDown() override {
    persist::CloseInputLog();
    persist::UseEnglishStrings();
    persist::ClearRecordedBoxes();
    std::remove(kLog);
  }
  static const persist::RecordedBox& LastBox() {
    static const persist::RecordedBox none{};
    return RecordedBoxes().empty() ? none : RecordedBoxes().back();
  }
};

TEST_F(Messages, StringIdsShowTheirTextsWithTheExclamationIcon) {
  struct Case {
    unsigned id;
    const char* text;
  };
  const Case cases[] = {
      {IDS_ADAPTER_OPEN_FAILED,
       "Unable to open DeviceNet Dongle on this port!\n\nPlease check the power supply of the "
       "DeviceNet Dongle or try another DeviceNet Dongle port (printer port)!"},
      {IDS_NO_SLAVE_FOUND,
       "No Slave found!\n\nPossibly the DeviceNet Dongle baud rate differs from the slave's baud "
       "rate.\n\nPlease check also:\n- the slave's power supply\n- the wiring\n- if a "
       "terminating resistor (120 Ohms) is used.\n\nSearch at the other two baud rates now? Do "
       "this on a bench only: probing at a wrong baud rate disturbs a network that runs at "
       "another rate."},
      {IDS_OUT_OF_MEMORY, "Out of memory!"},
      {IDS_COMM_FAILURE, "Communication failure!"},
      {IDS_SLAVE_INIT_FAILED,
       "Unable to init DeviceNet slave!\n\nPlease check:\n- the current slave address\n  (use "
       "menu command Address | Search Slaves)\n- the baud rate\n- the slave's power supply\n- "
       "the wiring\n- if a terminating resistor (120 Ohms) is used."},
      {IDS_SET_ADDRESS_FAILED, "Could not set new address!"},
      {IDS_SET_BAUD_FAILED, "Could not set new baud rate!"},
      {IDS_CAN_DLL_LOAD_FAILED, "Unable to load CAN DLL!"},
      {IDS_IO_LENGTH_EXCEEDED, "Maximum IO length exceeded!"},
  };
  int owner = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(persist::ShowMsg(&owner, nullptr, c.id), 1);
    EXPECT_EQ(LastBox().text, c.text) << c.id;
    EXPECT_EQ(LastBox().caption, "Quillon") << c.id;
    EXPECT_EQ(LastBox().style, BOX_OK | BOX_ICONEXCLAMATION) << c.id;
    EXPECT_EQ(LastBox().owner, &owner) << c.id;
  }
  EXPECT_EQ(RecordedBoxes().size(), sizeof cases / sizeof cases[0]);
}

// Every general error code has a name to stand in a sentence, also the
// reserved ones and those an object or the vendor defines.
TEST_F(Messages, EveryGeneralErrorCodeHasAName) {
  const struct {
    unsigned code;
    const char* name;
  } cases[] = {
      {0x08, "service not supported"},
      {0x0C, "object state conflict"},
      {0x0E, "attribute not settable"},
      {0x14, "attribute not supported"},
      {0x1F, "vendor specific error"},
      {0x2F, "reserved"},
      {0xCF, "reserved"},
      {0xD0, "object or service specific error"},
      {0xFF, "object or service specific error"},
  };
  char name[100];
  for (const auto& c : cases) {
    EXPECT_GT(persist::LoadResString(IDS_GEC_NAME_BASE + c.code, name, sizeof name), 0) << c.code;
    EXPECT_STREQ(name, c.name) << c.code;
  }
  for (unsigned code = 0; code <= 0xFF; ++code) {
    EXPECT_GT(persist::LoadResString(IDS_GEC_NAME_BASE + code, name, sizeof name), 0) << code;
  }
  EXPECT_EQ(persist::LoadResString(IDS_GEC_NAME_BASE + 0x100, name, sizeof name), 0);
}

TEST_F(Messages, GivenTextHasOkOnlyAndNoIcon) {
  EXPECT_EQ(persist::ShowMsg(nullptr, "Unable to load resource DLL", IDS_OUT_OF_MEMORY), 1);
  EXPECT_EQ(LastBox().text, "Unable to load resource DLL");
  EXPECT_EQ(LastBox().caption, "Quillon");
  EXPECT_EQ(LastBox().style, BOX_OK);
  EXPECT_EQ(LastBox().owner, nullptr);
}

TEST_F(Messages, FormattedMessagesTakeTheCallersStyleAndReturnTheAnswer) {
  struct Case {
    unsigned style;
    unsigned id;
    const char* arg;
    int answer;  // 0: not scripted, the first button answers
    const char* text;
    int result;
  };
  const Case cases[] = {
      {BOX_OKCANCEL | BOX_ICONEXCLAMATION, IDS_OUTPUTS_WARNING, nullptr, 0,
       "Warning!\nOutputs may be modified!", persist::BOX_IDOK},
      {BOX_OKCANCEL | BOX_ICONEXCLAMATION, IDS_OUTPUTS_WARNING, nullptr, persist::BOX_IDCANCEL,
       "Warning!\nOutputs may be modified!", persist::BOX_IDCANCEL},
      {BOX_RETRYCANCEL | BOX_ICONEXCLAMATION, IDS_COMM_FAILURE, nullptr, 0,
       "Communication failure!", persist::BOX_IDRETRY},
      {BOX_ICONEXCLAMATION, IDS_ATTR_ACCESS_FAILED, "08", 0, kAttrAccess08, persist::BOX_IDOK},
      {BOX_ICONEXCLAMATION, IDS_SLAVE_MISSING, "17", 0, "Slave with address 17 does not exist!",
       persist::BOX_IDOK},
  };
  for (const Case& c : cases) {
    if (c.answer) persist::ScriptBoxAnswer(c.answer);
    EXPECT_EQ(persist::ShowMsgFmt(nullptr, c.style, c.id, c.arg, nullptr, nullptr), c.result)
        << c.id;
    EXPECT_EQ(LastBox().text, c.text) << c.id;
    EXPECT_EQ(LastBox().caption, "Quillon") << c.id;
    EXPECT_EQ(LastBox().style, c.style) << c.id;
  }
}

TEST_F(Messages, MissingStringsFallBack) {
  persist::ShowMsg(nullptr, nullptr, 1002);  // an id with no text
  EXPECT_EQ(LastBox().text, "Unable to load resource");
  EXPECT_EQ(LastBox().caption, "Quillon");

  const persist::ResString german[] = {{IDS_CAPTION, "Quillon DE"}};
  persist::UseStringTable(german, 1);
  persist::ShowMsgFmt(nullptr, BOX_ICONEXCLAMATION, IDS_SLAVE_MISSING, "17", nullptr, nullptr);
  EXPECT_EQ(LastBox().text, "Unable to load resource");
  EXPECT_EQ(LastBox().caption, "Quillon DE");

  persist::UseStringTable(nullptr, 0);  // no resource library at all
  persist::ShowMsg(nullptr, nullptr, IDS_COMM_FAILURE);
  EXPECT_EQ(LastBox().text, "Unable to load resource");
  EXPECT_EQ(LastBox().caption, "Quillon");
  persist::ShowMsgFmt(nullptr, BOX_OK, IDS_COMM_FAILURE, nullptr, nullptr, nullptr);
  EXPECT_EQ(LastBox().text, "Unable to load resource");
  EXPECT_EQ(LastBox().caption, "Quillon");
}

TEST_F(Messages, LongStringsAreCutToTheirBuffers) {
  const std::string caption(1200, 'c');
  const std::string text(1200, 't');
  const persist::ResString table[] = {{IDS_CAPTION, caption.c_str()},
                                      {IDS_COMM_FAILURE, text.c_str()}};
  persist::UseStringTable(table, 2);

  persist::ShowMsg(nullptr, nullptr, IDS_COMM_FAILURE);
  EXPECT_EQ(LastBox().caption, caption.substr(0, 99));
  EXPECT_EQ(LastBox().text, text.substr(0, 399));
  persist::ShowMsgFmt(nullptr, BOX_OK, IDS_COMM_FAILURE, nullptr, nullptr, nullptr);
  EXPECT_EQ(LastBox().caption, caption.substr(0, 999));
  EXPECT_EQ(LastBox().text, text.substr(0, 999));
}

// Format and arguments adding up to 998 characters or more: the bare format.
TEST_F(Messages, TooLongFormattedMessageIsShownAsTheBareFormat) {
  const std::string format = std::string(900, 'f') + " %s and %s";  // 910 characters
  const persist::ResString table[] = {{IDS_SLAVE_MISSING, format.c_str()}};
  persist::UseStringTable(table, 1);
  struct Case {
    size_t firstLength;  // second argument: 10 characters
    bool substituted;
  };
  for (const Case& c : {Case{77, true}, Case{78, false}, Case{500, false}}) {
    const std::string first(c.firstLength, '1');
    const std::string second(10, '2');
    persist::ShowMsgFmt(nullptr, BOX_OK, IDS_SLAVE_MISSING, first.c_str(), second.c_str(), nullptr);
    const std::string expected =
        c.substituted ? std::string(900, 'f') + " " + first + " and " + second : format;
    EXPECT_EQ(LastBox().text, expected) << c.firstLength;
  }
}

// A translated format may carry conversions the program never passes: they
// are shown as they stand and read no arguments.
TEST_F(Messages, OnlyPercentSAndDoublePercentAreSubstituted) {
  struct Case {
    const char* format;
    const char* args[3];
    const char* text;
  };
  const Case cases[] = {
      {"Fehlercode %d: %s hex %n%x%p 100%%",
       {"08", nullptr, nullptr},
       "Fehlercode %d: 08 hex %n%x%p 100%"},
      {"%s/%s/%s/%s", {"a", nullptr, "c"}, "a/%s/c/%s"},
      {"%s%", {"x", "unused", nullptr}, "x%"},
      {"%%s %s", {"y", nullptr, nullptr}, "%s y"},
  };
  for (const Case& c : cases) {
    const persist::ResString table[] = {{IDS_ATTR_ACCESS_FAILED, c.format}};
    persist::UseStringTable(table, 1);
    persist::ShowMsgFmt(nullptr, BOX_OK, IDS_ATTR_ACCESS_FAILED, c.args[0], c.args[1], c.args[2]);
    EXPECT_EQ(LastBox().text, c.text) << c.format;
  }
}

TEST_F(Messages, SubstitutionStopsAtTheOutputBuffer) {
  const char* args[] = {"abcdef"};
  char out[6];
  EXPECT_EQ(persist::SubstituteArgs("x%sy", args, 1, out, sizeof out), 5u);
  EXPECT_STREQ(out, "xabcd");
}

TEST_F(Messages, EveryMessageIsCopiedIntoAnOpenLog) {
  persist::FixLogClock(0, persist::LocalStamp{2026, 1, 2, 3, 4, 5});
  g_App.LogInputData = 1;
  ASSERT_EQ(persist::OpenInputLog(kLog), 1);
  const std::string header = ReadText(kLog);
  persist::ShowMsgFmt(nullptr, BOX_ICONEXCLAMATION, IDS_ATTR_ACCESS_FAILED, "08", nullptr, nullptr);
  persist::ShowMsg(nullptr, nullptr, IDS_IO_LENGTH_EXCEEDED);
  persist::ShowMsg(nullptr, "Unable to load resource DLL", 0);
  EXPECT_EQ(ReadText(kLog), header + "Error: " + kAttrAccess08 +
                                "\nError: Maximum IO length exceeded!\n"
                                "Error: Unable to load resource DLL\n");

  // With LogInputData clear, or once closed, boxes still show but the file stays as it is.
  const std::string before = ReadText(kLog);
  g_App.LogInputData = 0;
  persist::ShowMsg(nullptr, nullptr, IDS_COMM_FAILURE);
  g_App.LogInputData = 1;
  persist::CloseInputLog();
  persist::ShowMsgFmt(nullptr, BOX_OK, IDS_COMM_FAILURE, nullptr, nullptr, nullptr);
  EXPECT_EQ(ReadText(kLog), before);
  EXPECT_EQ(RecordedBoxes().size(), 5u);
  persist::ReleaseLogClock();
}

}  // namespace
