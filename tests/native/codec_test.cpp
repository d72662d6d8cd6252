// Identifier layout, message classification and explicit/I-O parsing.
#include "link_harness.h"

namespace {

using namespace devicenet;
using linktest::LinkFixture;
using linktest::MakeFrame;

DnMessage Decoded(uint32_t id, std::vector<uint8_t> data = {}) {
  DnMessage m{};
  EXPECT_TRUE(DecodeFrame(MakeFrame(id, data), m)) << std::hex << id;
  return m;
}

TEST(Codec, EveryValidIdentifierRoundTripsAndTheTopSixteenAreRejected) {
  int valid = 0;
  for (uint32_t id = 0; id < 0x800; ++id) {
    DnMessage m{};
    const bool ok = DecodeFrame(MakeFrame(id, {}), m);
    if (id >= 0x7F0) {
      EXPECT_FALSE(ok) << std::hex << id;
      continue;
    }
    ASSERT_TRUE(ok) << std::hex << id;
    ++valid;
    CanFrame back{};
    EXPECT_TRUE(EncodeFrame(m, back));
    EXPECT_EQ(back.Id, id) << "group " << int(m.Group);
  }
  EXPECT_EQ(valid, 0x7F0);
}

TEST(Codec, GroupFieldsOfTheFourGroups) {
  struct Case {
    uint32_t id;
    uint8_t group, macId, msgId;
  } cases[] = {
      {0x3CF, 1, 15, 15}, {0x000, 1, 0, 0}, {0x41D, 2, 3, 5}, {0x5FF, 2, 63, 7},   {0x785, 3, 5, 6},
      {0x7BF, 3, 63, 6},  {0x600, 3, 0, 0}, {0x7C5, 4, 0, 5}, {0x7EF, 4, 0, 0x2F}, {0x7C0, 4, 0, 0},
  };
  for (const Case& c : cases) {
    const DnMessage m = Decoded(c.id);
    EXPECT_EQ(m.Group, c.group) << std::hex << c.id;
    EXPECT_EQ(m.MacId, c.macId) << std::hex << c.id;
    EXPECT_EQ(m.MsgId, c.msgId) << std::hex << c.id;
  }
}

TEST(Codec, BitsAboveElevenAreIgnoredAndDataCopiedWhole) {
  CanFrame f = MakeFrame(0xF83CF, {1, 2});
  f.Data[7] = 0xAA;  // beyond Len, still copied
  DnMessage m{};
  ASSERT_TRUE(DecodeFrame(f, m));
  EXPECT_EQ(m.Group, 1);
  EXPECT_EQ(m.Len, 2);
  EXPECT_EQ(m.Data[7], 0xAA);
  CanFrame back{};
  EncodeFrame(m, back);
  EXPECT_EQ(back.Id, 0x3CFu);
  EXPECT_EQ(back.Data[7], 0xAA);
}

class Parse : public LinkFixture {};

TEST_F(Parse, ClassificationTable) {
  struct Case {
    uint32_t id;
    uint8_t kind, origin;
  } cases[] = {
      {0x3C5, KIND_IO, 0},       {0x305, KIND_IO, 0},       {0x2C5, KIND_EXPLICIT, 1},
      {0x005, KIND_EXPLICIT, 1}, {0x41D, KIND_IO, 0},       {0x41B, KIND_EXPLICIT, 2},
      {0x41C, KIND_EXPLICIT, 2}, {0x41E, KIND_EXPLICIT, 2}, {0x418, KIND_NONE, 0},
      {0x419, KIND_NONE, 0},     {0x41A, KIND_NONE, 0},     {0x41F, KIND_NONE, 0},
      {0x605, KIND_EXPLICIT, 3}, {0x785, KIND_EXPLICIT, 3}, {0x7C5, KIND_NONE, 0},
  };
  for (const Case& c : cases) {
    DnMessage m = Decoded(c.id, {0x00, 0x8E, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01});
    ASSERT_TRUE(ParseMessage(m, table())) << std::hex << c.id;
    EXPECT_EQ(m.Kind, c.kind) << std::hex << c.id;
    EXPECT_EQ(m.Origin, c.origin) << std::hex << c.id;
  }
}

TEST_F(Parse, ExplicitHeaderServiceAndPathInEachBodyFormat) {
  // Get_Attribute_Single of class 0x0101, instance 0x0302, attribute 7 from
  // the master (MAC 0) to slave 5 in group 2.
  struct Case {
    uint8_t format;
    std::vector<uint8_t> data;
    uint16_t classId, instanceId;
    uint8_t pos;
  } cases[] = {
      {0, {0x40, 0x0E, 0x01, 0x02, 0x07}, 0x01, 0x02, 4},
      {1, {0x40, 0x0E, 0x01, 0x02, 0x03, 0x07}, 0x01, 0x0302, 5},
      {2, {0x40, 0x0E, 0x01, 0x01, 0x02, 0x03, 0x07}, 0x0101, 0x0302, 6},
      {3, {0x40, 0x0E, 0x01, 0x01, 0x02, 0x07}, 0x0101, 0x02, 5},
  };
  for (const Case& c : cases) {
    node(5).BodyFormat = c.format;
    DnMessage m = Decoded(0x42C, c.data);
    ASSERT_TRUE(ParseMessage(m, table())) << int(c.format);
    EXPECT_EQ(m.Xid, 1);
    EXPECT_EQ(m.HdrMacId, 0);
    EXPECT_EQ(m.Frag, 0);
    EXPECT_EQ(m.HasService, 1);
    EXPECT_EQ(m.IsResponse, 0);
    EXPECT_EQ(m.Service, 0x0E);
    EXPECT_EQ(m.HasPath, 1);
    EXPECT_EQ(m.ClassId, c.classId) << int(c.format);
    EXPECT_EQ(m.InstanceId, c.instanceId) << int(c.format);
    EXPECT_EQ(m.Pos, c.pos) << int(c.format);
    EXPECT_EQ(m.Data[m.Pos], 0x07);
  }
}

TEST_F(Parse, GroupThreeRequestTakesTheFormatOfTheSlaveNamedInTheHeader) {
  node(5).BodyFormat = 2;
  // Master MAC 1 sends in group 3 message ID 4 to slave 5.
  DnMessage m = Decoded(0x701, {0x05, 0x0E, 0x05, 0x00, 0x02, 0x00, 0x07});
  ASSERT_TRUE(ParseMessage(m, table()));
  EXPECT_EQ(MessageNode(m), 5);
  EXPECT_EQ(m.ClassId, 5);
  EXPECT_EQ(m.InstanceId, 2);
  // A response in group 3 concerns the sender in the identifier.
  DnMessage r = Decoded(0x745, {0x01, 0x8E, 0x08, 0x00});
  ASSERT_TRUE(ParseMessage(r, table()));
  EXPECT_EQ(MessageNode(r), 5);
  EXPECT_EQ(r.HasPath, 0);
  EXPECT_EQ(r.Pos, 2);
}

TEST_F(Parse, FragmentsAcknowledgesAndPathlessRequests) {
  // Middle fragment of an explicit message: no service byte.
  DnMessage middle = Decoded(0x42B, {0xC0, 0x41, 1, 2, 3, 4, 5, 6});
  ASSERT_TRUE(ParseMessage(middle, table()));
  EXPECT_EQ(middle.Frag, 1);
  EXPECT_EQ(middle.FragType, FRAG_MIDDLE);
  EXPECT_EQ(middle.FragCount, 1);
  EXPECT_EQ(middle.HasService, 0);
  EXPECT_EQ(middle.Pos, 2);

  DnMessage ack = Decoded(0x42B, {0x80, 0xC2, 0x00});
  ASSERT_TRUE(ParseMessage(ack, table()));
  EXPECT_EQ(ack.FragType, FRAG_ACK);
  EXPECT_EQ(ack.FragCount, 2);
  EXPECT_EQ(ack.Pos, 2);

  DnMessage first = Decoded(0x42B, {0x80, 0x00, 0x8E, 1, 2, 3, 4, 5});
  ASSERT_TRUE(ParseMessage(first, table()));
  EXPECT_EQ(first.HasService, 1);
  EXPECT_EQ(first.IsResponse, 1);
  EXPECT_EQ(first.Pos, 3);

  // UCMM Open and Close carry no path, whatever the format.
  node(5).BodyFormat = 2;
  for (uint8_t service : {uint8_t{0x4B}, uint8_t{0x4C}}) {
    DnMessage open = Decoded(0x781, {0x05, service, 0x00, 0x30});
    ASSERT_TRUE(ParseMessage(open, table()));
    EXPECT_EQ(open.HasPath, 0);
    EXPECT_EQ(open.Pos, 2);
  }
}

TEST_F(Parse, GroupTwoOnlyPortAlwaysUsesEightBitPath) {
  for (uint8_t format = 1; format <= 3; ++format) {
    for (uint8_t service : {uint8_t{0x4B}, uint8_t{0x4C}}) {
      SCOPED_TRACE(testing::Message() << int(format) << " " << int(service));
      node(5).BodyFormat = format;
      DnMessage m = Decoded(0x42E, {0x00, service, 0x03, 0x01, 0x03, 0x00});
      ASSERT_TRUE(ParseMessage(m, table()));
      EXPECT_EQ(m.ClassId, 3);
      EXPECT_EQ(m.InstanceId, 1);
      EXPECT_EQ(m.Pos, 4);
    }
  }
}

TEST_F(Parse, FramesTooShortForTheirHeaderAreDropped) {
  node(5).BodyFormat = 2;
  struct Case {
    uint32_t id;
    std::vector<uint8_t> data;
  } dropped[] = {
      {0x42B, {}},                              // explicit without header
      {0x42B, {0x80}},                          // fragment without fragmentation byte
      {0x42B, {0x00}},                          // header only, no service
      {0x42B, {0x80, 0x00}},                    // first fragment, no service
      {0x42C, {0x00, 0x0E, 0x01, 0x01, 0x02}},  // format 2 path needs 4 bytes, 3 left
      {0x42C, {0x00, 0x0E}},                    // no path at all
  };
  for (const auto& c : dropped) {
    DnMessage m = Decoded(c.id, c.data);
    EXPECT_FALSE(ParseMessage(m, table())) << c.data.size();
  }
  DnMessage enough = Decoded(0x42C, {0x00, 0x0E, 0x01, 0x01, 0x02, 0x00});
  EXPECT_TRUE(ParseMessage(enough, table()));
  // A driver claiming more than eight bytes never makes the parser read past them.
  CanFrame big = MakeFrame(0x42B, {0x00, 0x8E});
  big.Len = 200;
  DnMessage m{};
  ASSERT_TRUE(DecodeFrame(big, m));
  EXPECT_FALSE(ParseMessage(m, table()));
}

TEST_F(Parse, IoMessagesAreFragmentedByTheLearnedSize) {
  node(5).G1Size[15] = 8;
  DnMessage whole = Decoded(0x3C5, {1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_TRUE(ParseMessage(whole, table()));
  EXPECT_EQ(whole.Frag, 0);
  EXPECT_EQ(whole.Pos, 0);

  node(5).G1Size[15] = 9;
  DnMessage frag = Decoded(0x3C5, {0x41, 1, 2});
  ASSERT_TRUE(ParseMessage(frag, table()));
  EXPECT_EQ(frag.Frag, 1);
  EXPECT_EQ(frag.FragType, FRAG_MIDDLE);
  EXPECT_EQ(frag.FragCount, 1);
  EXPECT_EQ(frag.Pos, 1);
  DnMessage empty = Decoded(0x3C5, {});
  EXPECT_FALSE(ParseMessage(empty, table()));

  // The master's poll command is sized by G2Size[5].
  node(5).G2Size[5] = 20;
  DnMessage poll = Decoded(0x42D, {0x3F, 1});
  ASSERT_TRUE(ParseMessage(poll, table()));
  EXPECT_EQ(poll.Frag, 1);
  EXPECT_EQ(poll.FragCount, 0x3F);
}

TEST_F(Parse, DuplicateMacCheckIsKindNone) {
  DnMessage m = Decoded(0x42F, {0x80, 0x00, 0x01, 0x00, 0x78, 0x56, 0x34});
  ASSERT_TRUE(ParseMessage(m, table()));
  EXPECT_EQ(m.Kind, KIND_NONE);
  EXPECT_EQ(m.Pos, 0);
  EXPECT_EQ(m.Data[m.Pos], 0x80);
}

TEST_F(Parse, MacIdsAreTakenModuloSixtyFour) {
  EXPECT_EQ(&NodeOf(table(), 64 + 5), &node(5));
  node(5).BodyFormat = 1;
  EXPECT_EQ(NodeOf(table(), 69).BodyFormat, 1);
}

TEST(NodeTableInit, OnlyTheDuplicateMacSizeIsSet) {
  NodeTable& table = linktest::Table();
  std::memset(&table, 0xA5, sizeof table);
  InitNodeTable(table);
  EXPECT_EQ(table.OwnMacId, 0);
  for (const NodeRecord& n : table.Node) {
    for (int i = 0; i < 8; ++i) EXPECT_EQ(n.G2Size[i], i == 7 ? 7 : 0);
    for (uint16_t s : n.G1Size) EXPECT_EQ(s, 0);
    EXPECT_EQ(n.ExplState, 0);
    EXPECT_EQ(n.Consume[15].MessageCount, 0u);
  }
}

}  // namespace
