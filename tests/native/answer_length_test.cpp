// What answer the wait after a sent frame goes by: known lengths, lengths
// that earlier answers taught, and the shortest answer where nothing is known.
#include "devicenet/answer_length.h"

#include "link_harness.h"

namespace {

using namespace devicenet;
using linktest::LinkFixture;
using linktest::MakeFrame;

class AnswerLength : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    ForgetAnswerLengths();
  }
  DnMessage Parsed(uint32_t id, std::vector<uint8_t> data) {
    DnMessage m{};
    EXPECT_TRUE(DecodeFrame(MakeFrame(id, data), m) && ParseMessage(m, table())) << std::hex << id;
    return m;
  }
  AwaitedAnswer Expect(uint32_t id, std::vector<uint8_t> data) {
    return ExpectAnswer(Parsed(id, data), table());
  }
};

TEST_F(AnswerLength, BeforeAnyAnswerWasSeen) {
  node(5).G1Size[G1_MSG_POLL_RESPONSE] = 4;
  node(6).G1Size[G1_MSG_POLL_RESPONSE] = 20;  // fragmented: a full first frame
  node(5).G2Size[G2_MSG_POLL_COMMAND] = 2;
  struct Case {
    const char* name;
    uint32_t id;
    std::vector<uint8_t> data;
    bool valid;
    uint8_t node, len;
  };
  const Case cases[] = {
      {"poll of 5", 0x42D, {1, 2}, true, 5, 4},
      {"poll of 6", 0x435, {1}, true, 6, 8},
      {"Get_Attribute_Single", 0x42C, {0x00, 0x0E, 0x01, 0x01, 0x07}, true, 5, 2},
      {"Allocate, Group 2 only port", 0x42E, {0x00, 0x4B, 0x03, 0x01, 0x03, 0x00}, true, 5, 2},
      {"first fragment of a request",
       0x42C,
       {0x80, 0x00, 0x10, 0x01, 0x01, 0x07, 0x41, 0x42},
       true,
       5,
       3},
      {"acknowledge of a response fragment", 0x42C, {0x80, 0xC0, 0x00}, true, 5, 8},
      {"Duplicate MAC ID check", 0x42F, {0x00, 0x00, 0x01, 0x00, 0x78, 0x56, 0x34}, false, 0, 0},
  };
  for (const Case& c : cases) {
    const AwaitedAnswer a = Expect(c.id, c.data);
    EXPECT_EQ(a.Valid, c.valid) << c.name;
    if (!c.valid) continue;
    EXPECT_EQ(a.Node, c.node) << c.name;
    EXPECT_EQ(a.Len, c.len) << c.name;
  }
}

TEST_F(AnswerLength, AnswersTeachTheirKindOnly) {
  // A Get answered with 4 bytes: the next Get awaits 4, a Set still 2.
  AwaitedAnswer get = Expect(0x42C, {0x00, 0x0E, 0x01, 0x01, 0x07});
  NoteAnswer(get, Parsed(0x42B, {0x00, 0x8E, 0x34, 0x12}));
  EXPECT_FALSE(get.Valid);
  EXPECT_EQ(Expect(0x42C, {0x00, 0x0E, 0x01, 0x01, 0x07}).Len, 4);
  EXPECT_EQ(Expect(0x42C, {0x00, 0x10, 0x01, 0x01, 0x07, 0x00}).Len, 2);

  // The Allocate of the Group 2 only port and the UCMM Open share a service
  // but not their answers.
  AwaitedAnswer allocate = Expect(0x42E, {0x00, 0x4B, 0x03, 0x01, 0x03, 0x00});
  NoteAnswer(allocate, Parsed(0x42B, {0x00, 0xCB, 0x00}));
  EXPECT_EQ(Expect(0x42E, {0x00, 0x4B, 0x03, 0x01, 0x03, 0x00}).Len, 3);
  EXPECT_EQ(Expect(0x780, {0x05, 0x4B, 0x03, 0x00}).Len, 2);  // UCMM Open from MAC ID 0

  // A frame from another node teaches nothing and leaves the answer awaited.
  AwaitedAnswer again = Expect(0x42C, {0x00, 0x0E, 0x01, 0x01, 0x07});
  NoteAnswer(again, Parsed(0x433, {0x00, 0x8E, 0x01, 0x02, 0x03, 0x04, 0x05}));
  EXPECT_TRUE(again.Valid);
  EXPECT_EQ(Expect(0x42C, {0x00, 0x0E, 0x01, 0x01, 0x07}).Len, 4);

  // Each acknowledge learns the fragment that followed it, the short last one too.
  AwaitedAnswer afterFirst = Expect(0x42C, {0x80, 0xC0, 0x00});
  NoteAnswer(afterFirst, Parsed(0x42B, {0x80, 0x41, 1, 2, 3, 4, 5, 6}));
  AwaitedAnswer afterSecond = Expect(0x42C, {0x80, 0xC1, 0x00});
  NoteAnswer(afterSecond, Parsed(0x42B, {0x80, 0x82, 7}));
  EXPECT_EQ(Expect(0x42C, {0x80, 0xC0, 0x00}).Len, 8);
  EXPECT_EQ(Expect(0x42C, {0x80, 0xC1, 0x00}).Len, 3);

  // A poll response's length comes from the size, not from what came.
  node(5).G1Size[G1_MSG_POLL_RESPONSE] = 6;
  AwaitedAnswer poll = Expect(0x42D, {});
  NoteAnswer(poll, Parsed(0x3C5, {1, 2}));
  EXPECT_EQ(Expect(0x42D, {}).Len, 6);

  ForgetAnswerLengths();
  EXPECT_EQ(Expect(0x42C, {0x00, 0x0E, 0x01, 0x01, 0x07}).Len, 2);
}

}  // namespace
