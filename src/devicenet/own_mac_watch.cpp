#include "devicenet/own_mac_watch.h"

#include <cstring>

#include "devicenet/io.h"
#include "devicenet/protocol.h"

namespace devicenet {

namespace {

constexpr uint8_t DUP_MAC_RESPONSE_BIT = 0x80;

bool ExplInProgress(uint8_t state) {
  return state != EXPL_IDLE && state != EXPL_ENDED;
}

// Every exchange under the own MAC ID ends now; a probe of another address
// carries no MAC ID of ours and runs on.
void EndExchanges(NodeTable& table) {
  for (NodeRecord& node : table.Node) {
    if (ExplInProgress(node.ExplState)) {
      node.ExplResult = RESULT_FAILED;
      node.ExplState = EXPL_ENDED;
    }
    if (node.IoMsgId == G2_MSG_POLL_COMMAND &&
        (node.IoState == IO_QUEUED || IoInProgress(node.IoState))) {
      node.IoResult = RESULT_FAILED;
      node.IoState = IO_ENDED;
    }
  }
}

}  // namespace

void WatchOwnMac(NodeTable& table, const DnMessage& received) {
  if (received.Group != GROUP_2 || received.MsgId != G2_MSG_DUP_MAC_CHECK ||
      PayloadLen(received) < DUP_MAC_CHECK_LEN) {
    return;
  }
  const uint8_t mac = received.MacId & MAC_ID_MASK;
  const uint8_t* data = received.Data + received.Pos;
  const bool response = (data[0] & DUP_MAC_RESPONSE_BIT) != 0;
  if (!response) table.CheckHeard[mac] = 1;
  if (mac != (table.OwnMacId & MAC_ID_MASK) || !(table.OwnMacChecking || table.OwnMacClaimed)) {
    return;
  }
  if (!table.Rival.Seen) {
    table.Rival.Seen = 1;
    table.Rival.Response = response ? 1 : 0;
    table.Rival.VendorId = static_cast<uint16_t>(data[1] | data[2] << 8);
    table.Rival.SerialNumber =
        static_cast<uint32_t>(data[3]) | static_cast<uint32_t>(data[4]) << 8 |
        static_cast<uint32_t>(data[5]) << 16 | static_cast<uint32_t>(data[6]) << 24;
  }
  if (table.OwnMacClaimed) {
    table.OwnMacClaimed = 0;
    table.OwnMacLost = 1;
    EndExchanges(table);
  }
}

void ForgetChecksHeard(NodeTable& table) {
  std::memset(table.CheckHeard, 0, sizeof table.CheckHeard);
}

void ClearOwnMacWatch(NodeTable& table) {
  ForgetChecksHeard(table);
  table.Rival = MacRival{};
  table.OwnMacLost = 0;
}

}  // namespace devicenet
