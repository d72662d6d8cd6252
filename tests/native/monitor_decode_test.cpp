// The bus monitor's decoder and its words: frames as the master and a slave
// put them on the bus go in; the identifier's fields, the kind with its
// details and the text of the monitor's last column come out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "monitor/decode.h"
#include "persist/resstring.h"
#include "resource.h"

#if defined(_WIN32)
#include <windows.h>

#include "app/app_state.h"
#else
#include "persist/native_seams.h"

// Made from tarnresd.rc for this test, as the English table is made from tarnres.rc.
namespace persist {
extern const ResString GERMAN_STRINGS[];
extern const size_t GERMAN_STRING_COUNT;
}  // namespace persist
#endif

namespace {

using monitor::DecodedFrame;
using monitor::FrameKind;

// The language the texts come from, as the program would load it.
enum class Language { English, German, None };

#if defined(_WIN32)
// The real language libraries, copied beside the test.
void UseLanguage(Language language) {
  static const HMODULE english = LoadLibraryA("tarnres.dll");
  static const HMODULE german = LoadLibraryA("tarnresd.dll");
  ASSERT_NE(english, nullptr) << "tarnres.dll beside the test";
  ASSERT_NE(german, nullptr) << "tarnresd.dll beside the test";
  // No library: LoadStringA then looks in the test program, which has no strings.
  app::g_App.hResDll = language == Language::English  ? english
                       : language == Language::German ? german
                                                      : nullptr;
}
#else
void UseLanguage(Language language) {
  if (language == Language::English) {
    persist::UseEnglishStrings();
  } else if (language == Language::German) {
    persist::UseStringTable(persist::GERMAN_STRINGS, persist::GERMAN_STRING_COUNT);
  } else {
    persist::UseStringTable(nullptr, 0);
  }
}
#endif

constexpr uint8_t M = 0;  // the master's MAC ID
constexpr uint8_t S = 5;  // the slave's
constexpr uint8_t NONE = 0xFF;

constexpr uint32_t G1(uint8_t msg, uint8_t mac) {
  return uint32_t{msg} << 6 | mac;
}
constexpr uint32_t G2(uint8_t mac, uint8_t msg) {
  return 0x400u | uint32_t{mac} << 3 | msg;
}
constexpr uint32_t G3(uint8_t msg, uint8_t mac) {
  return 0x600u | uint32_t{msg} << 6 | mac;
}

can::TappedFrame Frame(uint32_t id, std::initializer_list<uint8_t> data,
                       uint8_t direction = can::TAP_RECEIVED) {
  can::TappedFrame f{};
  f.id = id;
  f.direction = direction;
  for (uint8_t byte : data) f.data[f.len++] = byte;
  return f;
}

can::TappedFrame Sent(uint32_t id, std::initializer_list<uint8_t> data) {
  return Frame(id, data, can::TAP_SENT);
}

DecodedFrame Decoded(const can::TappedFrame& frame) {
  DecodedFrame d;
  std::memset(&d, 0xA5, sizeof d);  // every field must be written
  monitor::DecodeFrame(frame, d);
  return d;
}

std::string Words(const DecodedFrame& d) {
  char text[300];
  const size_t length = monitor::DescribeFrame(d, text, sizeof text);
  EXPECT_EQ(length, std::strlen(text));
  return text;
}

class MonitorDecode : public ::testing::Test {
 protected:
  void SetUp() override { UseLanguage(Language::English); }
  void TearDown() override { UseLanguage(Language::English); }
};

// One conversation of each kind, frame by frame: where the identifier puts
// the frame, what kind it is, and what the monitor says about it. Each
// frame alone: a request path on a connection is read as 8/8 and says so.
TEST_F(MonitorDecode, RealFramesGetTheirGroupKindAndWords) {
  struct Case {
    can::TappedFrame frame;
    uint8_t group, messageId, macId, headerMacId;
    FrameKind kind;
    const char* words;
  };
  const Case cases[] = {
      // Probe of an address and a device's answer.
      {Sent(G2(S, 7), {0x01, 0x20, 0x05, 0x01, 0x00, 0x00, 0x80}), 2, 7, S, NONE,
       FrameKind::DupMacRequest,
       "Duplicate MAC ID check request, port 1, vendor 1312, serial 80000001 hex"},
      {Frame(G2(S, 7), {0x80, 0x20, 0x05, 0x01, 0x00, 0x00, 0x80}), 2, 7, S, NONE,
       FrameKind::DupMacResponse,
       "Duplicate MAC ID check response, port 0, vendor 1312, serial 80000001 hex"},
      // Group 2 only port: Allocate, then an attribute read and its answer.
      {Sent(G2(S, 6), {M, 0x4B, 0x03, 0x01, 0x03, M}), 2, 6, S, M, FrameKind::ExplicitRequest,
       "Allocate_Master/Slave_Connection_Set request, class 3, instance 1"},
      {Sent(G2(S, 4), {0x40 | M, 0x0E, 0x01, 0x01, 0x07}), 2, 4, S, M, FrameKind::ExplicitRequest,
       "Get_Attribute_Single request, class 1, instance 1, attribute 7, read as 8/8 (connection "
       "set-up not seen)"},
      {Frame(G2(S, 3), {0x40 | M, 0x8E, 0x03, 'a', 'b', 'c'}), 2, 3, S, M,
       FrameKind::ExplicitResponse, "Get_Attribute_Single response"},
      // A fragmented response with the master's acknowledges.
      {Frame(G2(S, 3), {0xC0 | M, 0x00, 0x8E, 0x0E, 'Q', 'u', 'i', 'l'}), 2, 3, S, M,
       FrameKind::ExplicitResponse, "Get_Attribute_Single response, first fragment 0"},
      {Sent(G2(S, 4), {0xC0 | M, 0xC0, 0x00}), 2, 4, S, M, FrameKind::FragmentAck,
       "Acknowledge of response fragment 0"},
      {Frame(G2(S, 3), {0xC0 | M, 0x41, 'l', 'o', 'n', ' ', 'S', 'l'}), 2, 3, S, M,
       FrameKind::ExplicitFragment, "Response, middle fragment 1"},
      {Frame(G2(S, 3), {0xC0 | M, 0x82, 'a', 'v', 'e'}), 2, 3, S, M, FrameKind::ExplicitFragment,
       "Response, last fragment 2"},
      {Sent(G2(S, 4), {0xC0 | M, 0xC2, 0x01}), 2, 4, S, M, FrameKind::FragmentAck,
       "Acknowledge of response fragment 2, too much data"},
      // A fragmented request: the slave acknowledges its first fragment.
      {Sent(G2(S, 4), {0x80 | M, 0x00, 0x10, 0x01, 0x01, 0x07, 0x41, 0x42}), 2, 4, S, M,
       FrameKind::ExplicitRequest,
       "Set_Attribute_Single request, class 1, instance 1, attribute 7, read as 8/8 (connection "
       "set-up not seen), first fragment 0"},
      {Frame(G2(S, 3), {0x80 | M, 0xC0, 0x00}), 2, 3, S, M, FrameKind::FragmentAck,
       "Acknowledge of request fragment 0"},
      {Sent(G2(S, 4), {0x80 | M, 0x81, 0x43}), 2, 4, S, M, FrameKind::ExplicitFragment,
       "Request, last fragment 1"},
      // Error responses name the code as the master's messages do.
      {Frame(G2(S, 3), {0x40 | M, 0x94, 0x08, 0xFF}), 2, 3, S, M, FrameKind::ErrorResponse,
       "Error response: 08 hex (service not supported), additional code FF"},
      {Frame(G3(5, S), {M, 0x94, 0x02, 0x01}), 3, 5, S, M, FrameKind::ErrorResponse,
       "Error response: 02 hex (resource unavailable), additional code 01"},
      // The unconnected message manager: Open and Close, with their answers.
      {Sent(G3(6, M), {S, 0x4B, 0x00, 0x30}), 3, 6, M, S, FrameKind::UcmmOpen,
       "Open explicit connection request, body format 8/8, group select 3"},
      {Frame(G3(5, S), {M, 0xCB, 0x01, 0x05, 0x07, 0x00}), 3, 5, S, M, FrameKind::UcmmOpenResponse,
       "Open response, connection instance 7, body format 8/16"},
      {Sent(G3(6, M), {S, 0x4C, 0x07, 0x00}), 3, 6, M, S, FrameKind::UcmmClose,
       "Close request, connection instance 7"},
      {Frame(G3(5, S), {M, 0xCC}), 3, 5, S, M, FrameKind::UcmmCloseResponse, "Close response"},
      // On the opened connection (group 1 here) a request names the slave in its header.
      {Sent(G1(0, M), {S, 0x0E, 0x05, 0x02, 0x07}), 1, 0, M, S, FrameKind::ExplicitRequest,
       "Get_Attribute_Single request, class 5, instance 2, attribute 7, read as 8/8 (connection "
       "set-up not seen)"},
      {Sent(G1(0, M), {S, 0x05, 0x01, 0x01, 0x00}), 1, 0, M, S, FrameKind::ExplicitRequest,
       "Reset request, class 1, instance 1, read as 8/8 (connection set-up not seen)"},
      {Sent(G3(2, M), {S, 0x4F, 0x64, 0x01}), 3, 2, M, S, FrameKind::ExplicitRequest,
       "Service 4F hex request, class 100, instance 1, read as 8/8 (connection set-up not seen)"},
      {Sent(G2(S, 4), {M, 0x01}), 2, 4, S, M, FrameKind::ExplicitRequest,
       "Get_Attributes_All request"},
      // Polled I/O and the other I/O messages.
      {Sent(G2(S, 5), {0x12, 0x34}), 2, 5, S, NONE, FrameKind::PollCommand, "Poll command"},
      {Sent(G2(S, 5), {}), 2, 5, S, NONE, FrameKind::PollCommand, "Poll command"},
      {Frame(G1(15, S), {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), 1, 15, S, NONE,
       FrameKind::PollResponse, "Poll response"},
      {Frame(G1(12, S), {0x01}), 1, 12, S, NONE, FrameKind::OtherIo, "Multicast poll response"},
      {Frame(G1(13, S), {0x01}), 1, 13, S, NONE, FrameKind::OtherIo,
       "Change of state or cyclic message"},
      {Frame(G1(14, S), {0x01}), 1, 14, S, NONE, FrameKind::OtherIo, "Bit-strobe response"},
      {Frame(G2(M, 0), {0xFF}), 2, 0, M, NONE, FrameKind::OtherIo, "Bit-strobe command"},
      {Frame(G2(M, 1), {0xFF}), 2, 1, M, NONE, FrameKind::OtherIo, "Multicast poll command"},
      {Frame(G2(S, 2), {}), 2, 2, S, NONE, FrameKind::OtherIo,
       "Change of state or cyclic acknowledge"},
      // Group 4 has no meaning here; its top sixteen identifiers none at all.
      {Frame(0x7C5, {0x01}), 4, 5, NONE, NONE, FrameKind::Unknown, "Group 4 message 05 hex"},
      {Frame(0x7EF, {}), 4, 0x2F, NONE, NONE, FrameKind::Unknown, "Group 4 message 2F hex"},
      {Frame(0x7F0, {0x01}), 0, 0, NONE, NONE, FrameKind::Unknown, "Invalid identifier"},
      {Frame(0x7FF, {}), 0, 0, NONE, NONE, FrameKind::Unknown, "Invalid identifier"},
      // Too short for what the identifier and header announce.
      {Frame(G2(S, 3), {}), 2, 3, S, NONE, FrameKind::Unknown, "Too short for its message type"},
      {Frame(G2(S, 3), {0x80 | M}), 2, 3, S, M, FrameKind::Unknown,
       "Too short for its message type"},
      {Frame(G2(S, 3), {M}), 2, 3, S, M, FrameKind::Unknown, "Too short for its message type"},
      {Frame(G2(S, 3), {0xC0 | M, 0x41}), 2, 3, S, M, FrameKind::Unknown,
       "Too short for its message type"},
      {Frame(G2(S, 3), {M, 0x94}), 2, 3, S, M, FrameKind::Unknown,
       "Too short for its message type"},
      {Frame(G2(S, 7), {0x80, 0x20, 0x05, 0x01, 0x00, 0x00}), 2, 7, S, NONE, FrameKind::Unknown,
       "Too short for its message type"},
      {Sent(G3(6, M), {S, 0x4B, 0x00}), 3, 6, M, S, FrameKind::Unknown,
       "Too short for its message type"},
      {Frame(G3(5, S), {M, 0xCB, 0x00, 0x05, 0x07}), 3, 5, S, M, FrameKind::Unknown,
       "Too short for its message type"},
      {Sent(G3(6, M), {S, 0x4C, 0x07}), 3, 6, M, S, FrameKind::Unknown,
       "Too short for its message type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    SCOPED_TRACE(testing::Message() << "identifier " << std::hex << c.frame.id);
    const DecodedFrame d = Decoded(c.frame);
    EXPECT_EQ(d.group, c.group);
    EXPECT_EQ(d.messageId, c.messageId);
    EXPECT_EQ(d.macId, c.macId);
    EXPECT_EQ(d.headerMacId, c.headerMacId);
    EXPECT_EQ(static_cast<int>(d.kind), static_cast<int>(c.kind));
    EXPECT_EQ(Words(d), c.words);
  }
}

// A flow as the monitor sees it: the body format each connection was
// granted, learned from the Allocate and Open responses, reads the request
// paths; where the set-up was not seen, 8/8 is read and said to be assumed.
TEST_F(MonitorDecode, RequestPathsFollowTheFormatTheSlaveGranted) {
  constexpr uint8_t S2 = 9;  // a slave with a connection through the UCMM
  constexpr uint8_t M2 = 3;  // another client
  const char* const ASSUMED = ", read as 8/8 (connection set-up not seen)";
  struct Step {
    can::TappedFrame frame;
    std::string words;
  };
  const Step steps[] = {
      // Before any set-up: assumed.
      {Sent(G2(S, 4), {M, 0x0E, 0x01, 0x00, 0x01, 0x02}),
       std::string("Get_Attribute_Single request, class 1, instance 0, attribute 1") + ASSUMED},
      // The Group 2 only port is 8/8 by definition.
      {Sent(G2(S, 6), {M, 0x4B, 0x03, 0x01, 0x03, M}),
       "Allocate_Master/Slave_Connection_Set request, class 3, instance 1"},
      // The slave grants 16/8: 16-bit class, 8-bit instance.
      {Frame(G2(S, 3), {M, 0xCB, 0x03}), "Allocate_Master/Slave_Connection_Set response"},
      {Sent(G2(S, 4), {M, 0x0E, 0x01, 0x00, 0x01, 0x02}),
       "Get_Attribute_Single request, class 1, instance 1, attribute 2"},
      {Sent(G2(S, 4), {M, 0x10, 0x03, 0x00, 0x01, 0x02, 0x01}),
       "Set_Attribute_Single request, class 3, instance 1, attribute 2"},
      {Sent(G2(S, 4), {0x80 | M, 0x00, 0x10, 0x01, 0x01, 0x01, 0x07, 0x41}),
       "Set_Attribute_Single request, class 257, instance 1, attribute 7, first fragment 0"},
      // A connection through the UCMM with 16/16, on group 3 message 1.
      {Sent(G3(6, M), {S2, 0x4B, 0x02, 0x31}),
       "Open explicit connection request, body format 16/16, group select 3"},
      {Frame(G3(5, S2), {M, 0xCB, 0x02, 0x05, 0x07, 0x00}),
       "Open response, connection instance 7, body format 16/16"},
      {Sent(G3(1, M), {S2, 0x0E, 0x05, 0x00, 0x02, 0x00, 0x07}),
       "Get_Attribute_Single request, class 5, instance 2, attribute 7"},
      // Another client's connection to the same slave was not seen opened.
      {Frame(G3(1, M2), {S2, 0x0E, 0x05, 0x02, 0x07}),
       std::string("Get_Attribute_Single request, class 5, instance 2, attribute 7") + ASSUMED},
      // The slave checks its MAC ID again (it was reset): its connections are gone.
      {Frame(G2(S, 7), {0x00, 0x20, 0x05, 0x01, 0x00, 0x00, 0x80}),
       "Duplicate MAC ID check request, port 0, vendor 1312, serial 80000001 hex"},
      {Sent(G2(S, 4), {M, 0x0E, 0x01, 0x01, 0x07}),
       std::string("Get_Attribute_Single request, class 1, instance 1, attribute 7") + ASSUMED},
      {Sent(G3(1, M), {S2, 0x0E, 0x05, 0x00, 0x02, 0x00, 0x07}),
       "Get_Attribute_Single request, class 5, instance 2, attribute 7"},
      // Granted 8/8 this time: no longer assumed.
      {Frame(G2(S, 3), {M, 0xCB, 0x00}), "Allocate_Master/Slave_Connection_Set response"},
      {Sent(G2(S, 4), {M, 0x0E, 0x01, 0x01, 0x07}),
       "Get_Attribute_Single request, class 1, instance 1, attribute 7"},
  };
  monitor::ConnectionFormats formats;
  monitor::ClearConnectionFormats(formats);
  int i = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(i++);
    DecodedFrame d;
    monitor::DecodeFrameAs(step.frame, monitor::ConnectionFormatOf(step.frame, formats), d);
    monitor::LearnConnectionFormat(step.frame, formats);
    EXPECT_EQ(Words(d), step.words);
  }
}

// Service, path and fragment fields of explicit frames, and who sent them.
TEST_F(MonitorDecode, ExplicitFramesCarryServicePathAndFragment) {
  struct Case {
    const char* what;
    can::TappedFrame frame;
    uint8_t service;
    bool hasPath;
    uint16_t classId, instance;
    uint8_t attribute;
    bool fragmented;
    uint8_t fragmentType, fragmentCount;
    bool sourceIsMaster;
  };
  const Case cases[] = {
      {"get", Sent(G2(S, 4), {M, 0x0E, 0x05, 0x02, 0x08}), 0x0E, true, 5, 2, 8, false, 0, 0, true},
      {"reset has no attribute", Sent(G2(S, 4), {M, 0x05, 0x01, 0x01, 0x00}), 0x05, true, 1, 1, 0,
       false, 0, 0, true},
      {"get without its attribute byte", Sent(G2(S, 4), {M, 0x0E, 0x05, 0x02}), 0x0E, true, 5, 2, 0,
       false, 0, 0, true},
      {"class without instance", Sent(G2(S, 4), {M, 0x0E, 0x05}), 0x0E, false, 0, 0, 0, false, 0, 0,
       true},
      {"response", Frame(G2(S, 3), {M, 0x8E, 0x1A, 0x00}), 0x8E, false, 0, 0, 0, false, 0, 0,
       false},
      {"first fragment of a set",
       Sent(G2(S, 4), {0x80 | M, 0x00, 0x10, 0x04, 0x65, 0x03, 0x01, 0x02}), 0x10, true, 4, 0x65, 3,
       true, 0, 0, true},
      {"count 63", Frame(G2(S, 3), {0x80 | M, 0xBF, 0x00}), 0, false, 0, 0, 0, true, 2, 63, false},
      // Group 3 message IDs 0..4 are the connection's: without a service
      // byte the direction of the frame tells.
      {"middle fragment sent", Sent(G3(1, M), {0x80 | S, 0x43, 1, 2, 3, 4, 5, 6}), 0, false, 0, 0,
       0, true, 1, 3, true},
      {"middle fragment received", Frame(G3(1, S), {0x80 | M, 0x43, 1, 2, 3, 4, 5, 6}), 0, false, 0,
       0, 0, true, 1, 3, false},
      {"acknowledge sent", Sent(G1(0, M), {0x80 | S, 0xC4, 0x00}), 0, false, 0, 0, 0, true, 3, 4,
       true},
      // Where the message ID says it, the direction does not matter.
      {"response fragment moved as sent", Sent(G2(S, 3), {0x80 | M, 0x41, 1}), 0, false, 0, 0, 0,
       true, 1, 1, false},
      {"unconnected request acknowledge moved as received", Frame(G3(6, M), {0x80 | S, 0xC0, 0}), 0,
       false, 0, 0, 0, true, 3, 0, true},
      {"unconnected response fragment moved as sent", Sent(G3(5, S), {0x80 | M, 0x82, 9}), 0, false,
       0, 0, 0, true, 2, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const DecodedFrame d = Decoded(c.frame);
    EXPECT_EQ(d.service, c.service);
    EXPECT_EQ(d.hasPath, c.hasPath);
    EXPECT_EQ(d.classId, c.classId);
    EXPECT_EQ(d.instance, c.instance);
    EXPECT_EQ(d.attribute, c.attribute);
    EXPECT_EQ(d.fragmented, c.fragmented);
    EXPECT_EQ(d.fragmentType, c.fragmentType);
    EXPECT_EQ(d.fragmentCount, c.fragmentCount);
    EXPECT_EQ(d.sourceIsMaster, c.sourceIsMaster);
  }
}

TEST_F(MonitorDecode, DetailsOfDupMacErrorUcmmAndStatusFrames) {
  DecodedFrame d = Decoded(Frame(G2(63, 7), {0xFF, 0xFE, 0xFF, 0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(static_cast<int>(d.kind), static_cast<int>(FrameKind::DupMacResponse));
  EXPECT_EQ(d.physicalPort, 0x7F);
  EXPECT_EQ(d.vendorId, 0xFFFE);
  EXPECT_EQ(d.serial, 0x12345678u);

  d = Decoded(Frame(G2(S, 3), {M, 0x94, 0x14, 0x00}));
  EXPECT_EQ(d.service, 0x94);
  EXPECT_EQ(d.generalError, 0x14);
  EXPECT_EQ(d.additionalError, 0x00);
  d = Decoded(Frame(G2(S, 3), {M, 0x94, 0x0C}));  // no additional code
  EXPECT_EQ(d.generalError, 0x0C);
  EXPECT_EQ(d.additionalError, 0xFF);

  d = Decoded(Sent(G3(6, M), {S, 0x4B, 0x03, 0x00}));
  EXPECT_EQ(d.bodyFormat, 3);
  EXPECT_EQ(d.groupSelect, 0);
  EXPECT_FALSE(d.hasPath);
  d = Decoded(Frame(G3(5, S), {M, 0xCB, 0x02, 0x35, 0x34, 0x12}));
  EXPECT_EQ(d.bodyFormat, 2);
  EXPECT_EQ(d.instance, 0x1234);
  EXPECT_FALSE(d.hasPath);
  d = Decoded(Sent(G3(6, M), {S, 0x4C, 0x01, 0x02}));
  EXPECT_EQ(d.instance, 0x0201);
  // Only the unconnected message IDs make 0x4B an Open: on a connection it
  // is an Allocate with a path.
  d = Decoded(Sent(G3(0, M), {S, 0x4B, 0x03, 0x01, 0x03, M}));
  EXPECT_EQ(static_cast<int>(d.kind), static_cast<int>(FrameKind::ExplicitRequest));
  EXPECT_TRUE(d.hasPath);
  EXPECT_EQ(d.bodyFormat, NONE);

  struct Status {
    std::initializer_list<uint8_t> data;
    uint32_t word;
    const char* words;
  };
  const Status statuses[] = {
      {{0x00, 0x00, 0x00, 0x10}, 0x10, "Adapter status: Bus off (10 hex)"},
      {{0x00, 0x00, 0x00, 0x00}, 0, "Adapter status: Bus normal (0 hex)"},
      {{0x00, 0x00, 0x02, 0x00}, 0x200, "Adapter status: No device driver loaded (200 hex)"},
      {{0x00, 0x00, 0x00, 0x0A}, 0x0A, "Adapter status: Bus heavy (A hex)"},
      {{0x00, 0x00}, 0, "Adapter status: Bus normal (0 hex)"},
  };
  for (const Status& s : statuses) {
    SCOPED_TRACE(s.words);
    can::TappedFrame f = Frame(G2(S, 3), s.data);  // the identifier means nothing here
    f.status = 1;
    d = Decoded(f);
    EXPECT_EQ(static_cast<int>(d.kind), static_cast<int>(FrameKind::StatusMessage));
    EXPECT_EQ(d.group, 0);
    EXPECT_EQ(d.macId, NONE);
    EXPECT_EQ(d.statusWord, s.word);
    EXPECT_EQ(Words(d), s.words);
  }
}

// Every identifier lands in the group its bits name, with fields that give
// the identifier back.
TEST_F(MonitorDecode, EveryIdentifierSplitsIntoItsGroup) {
  for (uint32_t id = 0; id < 0x800; ++id) {
    const DecodedFrame d = Decoded(Frame(id | 0xF800u, {}));  // bits above 10 are not looked at
    uint32_t back = 0xFFFF;
    switch (d.group) {
      case 1:
        back = G1(d.messageId, d.macId);
        break;
      case 2:
        back = G2(d.macId, d.messageId);
        break;
      case 3:
        back = G3(d.messageId, d.macId);
        EXPECT_LT(d.messageId, 7);
        break;
      case 4:
        back = 0x7C0u | d.messageId;
        EXPECT_EQ(d.macId, NONE);
        break;
      default:
        EXPECT_GE(id, 0x7F0u);
        EXPECT_EQ(static_cast<int>(d.kind), static_cast<int>(FrameKind::Unknown));
        continue;
    }
    EXPECT_EQ(back, id) << "group " << int(d.group);
    EXPECT_LT(id, 0x7F0u);
  }
}

// A length above 8 is read as 8: the decoder never looks past the frame.
TEST_F(MonitorDecode, LengthAboveEightReadsEightBytes) {
  const can::TappedFrame frames[] = {
      Sent(G2(S, 4), {0x80 | M, 0x00, 0x10, 0x04, 0x65, 0x03, 0x01, 0x02}),
      Frame(G2(S, 7), {0x80, 0x20, 0x05, 0x01, 0x00, 0x00, 0x80, 0x99}),
      Frame(G1(15, S), {1, 2, 3, 4, 5, 6, 7, 8}),
  };
  for (const can::TappedFrame& eight : frames) {
    can::TappedFrame more = eight;
    more.len = 255;
    const DecodedFrame a = Decoded(eight);
    const DecodedFrame b = Decoded(more);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << std::hex << eight.id;
  }
}

// A caller that knows the connection is fragmented gets the fragmentation
// byte read; from the frame alone the same bytes are data.
TEST_F(MonitorDecode, IoFramesOfAFragmentedConnection) {
  struct Case {
    can::TappedFrame frame;
    uint8_t fragmentType, fragmentCount;
    const char* words;
  };
  const Case cases[] = {
      {Sent(G2(S, 5), {0x00, 1, 2, 3, 4, 5, 6, 7}), 0, 0, "Poll command, first fragment 0"},
      {Sent(G2(S, 5), {0x41, 8, 9, 10, 11, 12, 13, 14}), 1, 1, "Poll command, middle fragment 1"},
      {Sent(G2(S, 5), {0x82, 15, 16, 17, 18, 19, 20}), 2, 2, "Poll command, last fragment 2"},
      {Sent(G2(S, 5), {0x3F, 1, 2, 3, 4, 5}), 0, 63, "Poll command, whole message in one fragment"},
      {Frame(G1(15, S), {0x80 | 9, 1}), 2, 9, "Poll response, last fragment 9"},
      {Frame(G1(13, S), {0x00, 1, 2, 3, 4, 5, 6, 7}), 0, 0,
       "Change of state or cyclic message, first fragment 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    DecodedFrame d;
    monitor::DecodeFragmentedIoFrame(c.frame, d);
    EXPECT_TRUE(d.fragmented);
    EXPECT_EQ(d.fragmentType, c.fragmentType);
    EXPECT_EQ(d.fragmentCount, c.fragmentCount);
    EXPECT_EQ(Words(d), c.words);

    const DecodedFrame plain = Decoded(c.frame);
    EXPECT_FALSE(plain.fragmented);
    EXPECT_EQ(static_cast<int>(plain.kind), static_cast<int>(d.kind));
  }
  // A fragmented connection's frame always has its fragmentation byte.
  DecodedFrame d;
  monitor::DecodeFragmentedIoFrame(Sent(G2(S, 5), {}), d);
  EXPECT_EQ(static_cast<int>(d.kind), static_cast<int>(FrameKind::Unknown));
  EXPECT_EQ(Words(d), "Too short for its message type");

  // Frames that are not I/O decode as DecodeFrame decodes them.
  const can::TappedFrame others[] = {
      Frame(G2(S, 3), {0x80 | M, 0x41, 1}),
      Frame(G2(S, 7), {0x80, 0x20, 0x05, 0x01, 0x00, 0x00, 0x80}),
      Frame(0x7C5, {0x00}),
  };
  for (const can::TappedFrame& f : others) {
    monitor::DecodeFragmentedIoFrame(f, d);
    const DecodedFrame plain = Decoded(f);
    EXPECT_EQ(std::memcmp(&d, &plain, sizeof d), 0) << std::hex << f.id;
  }
}

TEST_F(MonitorDecode, ServiceNamesIgnoreTheResponseBit) {
  struct Case {
    uint8_t code;
    const char* name;
  };
  const Case known[] = {
      {0x01, "Get_Attributes_All"},
      {0x02, "Set_Attributes_All"},
      {0x05, "Reset"},
      {0x0E, "Get_Attribute_Single"},
      {0x10, "Set_Attribute_Single"},
      {0x14, "Error_Response"},
      {0x4B, "Allocate_Master/Slave_Connection_Set"},
      {0x4C, "Release_Master/Slave_Connection_Set"},
  };
  for (const Case& c : known) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(monitor::ServiceName(c.code), nullptr);
    EXPECT_STREQ(monitor::ServiceName(c.code), c.name);
    ASSERT_NE(monitor::ServiceName(static_cast<uint8_t>(c.code | 0x80)), nullptr);
    EXPECT_STREQ(monitor::ServiceName(static_cast<uint8_t>(c.code | 0x80)), c.name);
  }
  for (int code : {0x00, 0x0C, 0x0F, 0x1C, 0x4A, 0x4D, 0x7F, 0xFF}) {
    EXPECT_EQ(monitor::ServiceName(static_cast<uint8_t>(code)), nullptr) << code;
  }
}

// A short buffer gets the start of the text, terminated; none gets nothing.
TEST_F(MonitorDecode, TextIsCutToTheBuffer) {
  const DecodedFrame d = Decoded(Sent(G2(S, 4), {M, 0x0E, 0x01, 0x01, 0x07}));
  const std::string full = Words(d);
  ASSERT_GT(full.size(), 20u);
  for (size_t size : {size_t{1}, size_t{2}, size_t{10}, full.size(), full.size() + 1}) {
    SCOPED_TRACE(size);
    char text[300];
    std::memset(text, '#', sizeof text);
    const size_t length = monitor::DescribeFrame(d, text, size);
    EXPECT_EQ(length, std::min(full.size(), size - 1));
    EXPECT_EQ(std::string(text), full.substr(0, length));
    EXPECT_EQ(text[size], '#');
  }
  char untouched = '#';
  EXPECT_EQ(monitor::DescribeFrame(d, &untouched, 0), 0u);
  EXPECT_EQ(untouched, '#');
}

// An old language library without the monitor's texts leaves the column empty.
TEST_F(MonitorDecode, NoStringTableGivesAnEmptyText) {
  UseLanguage(Language::None);
  char text[100];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(
      monitor::DescribeFrame(Decoded(Frame(G2(S, 3), {M, 0x94, 0x08, 0xFF})), text, sizeof text),
      0u);
  EXPECT_STREQ(text, "");
}

int CountPlaceholders(const char* text) {
  int count = 0;
  for (const char* p = std::strstr(text, "%s"); p; p = std::strstr(p + 2, "%s")) ++count;
  return count;
}

// The German table carries every monitor text of the English one, with the
// same placeholders, and nothing the English one lacks.
TEST_F(MonitorDecode, GermanTableHasEveryMonitorText) {
  int texts = 0;
  for (unsigned id = IDS_MON_FIRST; id <= IDS_MON_LAST; ++id) {
    char english[400];
    char german[400];
    UseLanguage(Language::English);
    const int englishLength = persist::LoadResString(id, english, sizeof english);
    UseLanguage(Language::German);
    const int germanLength = persist::LoadResString(id, german, sizeof german);
    EXPECT_EQ(englishLength > 0, germanLength > 0) << id;
    if (englishLength > 0 && germanLength > 0) {
      EXPECT_EQ(CountPlaceholders(english), CountPlaceholders(german)) << id;
      EXPECT_STRNE(english, german) << id;
      ++texts;
    }
  }
  EXPECT_GE(texts, IDS_MON_BIT_STROBE_RESPONSE - IDS_MON_FIRST + 1);

  // And the words come out German, the error code's name included.
  struct Case {
    can::TappedFrame frame;
    const char* start;
  };
  const Case cases[] = {
      {Sent(G2(S, 4), {M, 0x0E, 0x01, 0x01, 0x07}),
       "Anfrage Get_Attribute_Single, Klasse 1, Instanz 1, Attribut 7"},
      {Frame(G2(S, 3), {M, 0x8E, 0x01}), "Antwort auf Get_Attribute_Single"},
      {Frame(G2(S, 3), {M, 0x94, 0x08, 0xFF}),
       "Fehlerantwort: 08 hex (Dienst nicht unterst"},  // umlaut next: code page differs
      {Frame(G2(S, 3), {0xC0 | M, 0x41, 1, 2}), "Antwort, mittleres Fragment 1"},
  };
  UseLanguage(Language::German);
  for (const Case& c : cases) {
    const std::string words = Words(Decoded(c.frame));
    EXPECT_EQ(words.substr(0, std::strlen(c.start)), c.start);
  }
}

}  // namespace
