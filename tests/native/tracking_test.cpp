// What the link layer learns from the traffic it sees in both directions.
#include "link_harness.h"

namespace {

using namespace devicenet;
using linktest::LinkFixture;

constexpr uint8_t M = 0;
constexpr uint8_t S = 9;
constexpr uint32_t G2_REQ = 0x400 | (S << 3) | 4;
constexpr uint32_t G2_RESP = 0x400 | (S << 3) | 3;

class Tracking : public LinkFixture {
 protected:
  // Sends Get_Attribute_Single of class 5 through the group 2 connection.
  void GetConnAttr(uint16_t instance, uint8_t attribute) {
    const uint8_t d[] = {attribute};
    ASSERT_TRUE(ExplRequest(S, 2, 2000, table(), SVC_GET_ATTRIBUTE_SINGLE, 5, instance, d, 1));
    Tick();
    Sent();
  }
  uint8_t T() { return node(S).Toggle ? 0x40 : 0x00; }
};

TEST_F(Tracking, ConnectionSizesFromGetAttributeAnswers) {
  struct Case {
    uint16_t instance;
    uint8_t attribute;
    int g1Index;  // -1: none
    int g2Index;  // -1: none
  } cases[] = {
      {2, 7, 15, -1}, {3, 7, 14, -1}, {4, 7, 13, -1}, {2, 8, -1, 5}, {1, 7, -1, -1}, {3, 8, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "instance " << c.instance << " attribute " << int(c.attribute));
    InitNodeTable(table());
    GetConnAttr(c.instance, c.attribute);
    EXPECT_EQ(node(S).PendAttr, 1);
    Feed(G2_RESP, {uint8_t(T() | M), 0x8E, 0x1A, 0x01});
    EXPECT_EQ(node(S).PendAttr, 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(node(S).G1Size[i], i == c.g1Index ? 0x11A : 0) << i;
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(node(S).G2Size[i], i == c.g2Index ? 0x11A : (i == 7 ? 7 : 0)) << i;
    }
  }
}

TEST_F(Tracking, LearnedPollSizeMakesLaterPollResponsesFragmented) {
  GetConnAttr(2, 7);
  Feed(G2_RESP, {uint8_t(T() | M), 0x8E, 0x1A, 0x00});
  EXPECT_EQ(node(S).G1Size[15], 26);
  DnMessage m{};
  ASSERT_TRUE(DecodeFrame(linktest::MakeFrame((15 << 6) | S, {0x00, 1, 2, 3, 4, 5, 6, 7}), m));
  ASSERT_TRUE(ParseMessage(m, table()));
  EXPECT_EQ(m.Frag, 1);
}

TEST_F(Tracking, AnswersThatStoreNothing) {
  struct Case {
    const char* name;
    std::vector<uint8_t> response;  // after the header byte
  } cases[] = {
      {"error response", {0x94, 0x08, 0xFF}},
      {"one data byte only", {0x8E, 0x1A}},
      {"another service's response", {0x90, 0x1A, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InitNodeTable(table());
    GetConnAttr(2, 7);
    std::vector<uint8_t> frame{uint8_t(T() | M)};
    frame.insert(frame.end(), c.response.begin(), c.response.end());
    const linktest::CanFrame f = linktest::MakeFrame(G2_RESP, frame);
    DnMessage m{};
    ASSERT_TRUE(DecodeFrame(f, m) && ParseMessage(m, table()));
    TrackConnection(m, table());
    EXPECT_EQ(node(S).PendAttr, 0);
    EXPECT_EQ(node(S).G1Size[15], 0);
  }
}

TEST_F(Tracking, SetAttributeIsPendingButItsResponseStoresNothing) {
  const uint8_t d[] = {7, 0x20, 0x00};
  ASSERT_TRUE(ExplRequest(S, 2, 2000, table(), SVC_SET_ATTRIBUTE_SINGLE, 5, 2, d, 3));
  Tick();
  Sent();
  EXPECT_EQ(node(S).PendAttr, 1);
  EXPECT_EQ(node(S).PendService, SVC_SET_ATTRIBUTE_SINGLE);
  EXPECT_EQ(node(S).PendClass, 5);
  EXPECT_EQ(node(S).PendInstance, 2);
  EXPECT_EQ(node(S).PendAttribute, 7);
  Feed(G2_RESP, {uint8_t(T() | M), 0x90, 0x20, 0x00});
  EXPECT_EQ(node(S).PendAttr, 0);
  EXPECT_EQ(node(S).G1Size[15], 0);
}

TEST_F(Tracking, ANewerRequestReplacesThePendingOne) {
  GetConnAttr(2, 7);
  // Another request (Reset of the identity) goes out before the answer.
  const uint8_t reset[] = {0};
  ASSERT_TRUE(ExplRequest(S, 2, 2000, table(), SVC_RESET, 1, 1, reset, 1));
  Tick();
  Sent();
  EXPECT_EQ(node(S).PendAttr, 0);
  // The late attribute answer is not stored.
  Feed(G2_RESP, {0x00 | M, 0x8E, 0x1A, 0x00});
  EXPECT_EQ(node(S).G1Size[15], 0);

  // A fragmented request: its later fragments carry no service and clear it.
  const uint8_t longData[] = {7, 1, 2, 3, 4};
  ASSERT_TRUE(ExplRequest(S, 2, 2000, table(), SVC_GET_ATTRIBUTE_SINGLE, 5, 2, longData, 5));
  Tick();
  Sent();
  EXPECT_EQ(node(S).PendAttr, 1);
  Feed(G2_RESP, {uint8_t(0x80 | T() | M), 0xC0, 0x00});
  Sent();
  EXPECT_EQ(node(S).PendAttr, 0);
}

TEST_F(Tracking, BodyFormatMessageIdsAndInstanceFromAllocateAndOpen) {
  const uint8_t alloc[] = {0x03, M};
  ASSERT_TRUE(ExplRequest(S, 2, 200, table(), SVC_ALLOCATE, 3, 1, alloc, 2));
  Tick();
  Sent();
  Feed(G2_RESP, {uint8_t(T() | M), 0xCB, 0x03});
  EXPECT_EQ(node(S).BodyFormat, 3);

  const uint8_t open[] = {0x00, 0x34};  // group select 3, source message ID 4
  ASSERT_TRUE(ExplRequest(S, 3, 200, table(), SVC_ALLOCATE, 0, 0, open, 2));
  Tick();
  Sent();
  EXPECT_EQ(node(S).ReqMsgId, 4);
  Feed(0x740 | S, {uint8_t(T() | M), 0xCB, 0x01, 0x05, 0x07, 0x00});
  EXPECT_EQ(node(S).BodyFormat, 1);
  EXPECT_EQ(node(S).RespMsgId, 5);
  EXPECT_EQ(node(S).ConnInstance, 7);

  // Too short an Open response teaches nothing.
  ExplRequest(S, 3, 200, table(), SVC_ALLOCATE, 0, 0, open, 2);
  Tick();
  Sent();
  Feed(0x740 | S, {uint8_t(T() | M), 0xCB, 0x02, 0x03, 0x09});
  EXPECT_EQ(node(S).BodyFormat, 1);
  EXPECT_EQ(node(S).ConnInstance, 7);
}

}  // namespace
