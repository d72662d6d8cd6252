#include "devicenet/defend.h"

#include "devicenet/io.h"
#include "devicenet/protocol.h"

namespace devicenet {

namespace {

constexpr uint8_t DUP_MAC_RESPONSE_BIT = 0x80;

DnMessage answer;

}  // namespace

const DnMessage* DefendOwnMac(NodeTable& table, const DnMessage& received) {
  if (!table.OwnMacClaimed || received.Group != GROUP_2 || received.MsgId != G2_MSG_DUP_MAC_CHECK ||
      (received.MacId & MAC_ID_MASK) != (table.OwnMacId & MAC_ID_MASK) ||
      received.Len < DUP_MAC_CHECK_LEN) {
    return nullptr;
  }
  if (received.Data[0] & DUP_MAC_RESPONSE_BIT) {
    // Another node answers for our MAC ID: two nodes hold it.
    ++table.OwnMacConflicts;
    return nullptr;
  }
  answer = DnMessage{};
  answer.Group = GROUP_2;
  answer.MsgId = G2_MSG_DUP_MAC_CHECK;
  answer.MacId = table.OwnMacId & MAC_ID_MASK;
  answer.Len = DUP_MAC_CHECK_LEN;
  answer.Data[0] = DUP_MAC_RESPONSE_BIT | OWN_PHYSICAL_PORT;
  answer.Data[1] = static_cast<uint8_t>(OWN_VENDOR_ID);
  answer.Data[2] = static_cast<uint8_t>(OWN_VENDOR_ID >> 8);
  for (int i = 0; i < 4; ++i)
    answer.Data[3 + i] = static_cast<uint8_t>(OWN_SERIAL_NUMBER >> (8 * i));
  return &answer;
}

}  // namespace devicenet
