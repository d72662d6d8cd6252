#include "master/own_mac.h"

#include "devicenet/devicenet.h"
#include "master/transactions.h"

namespace master {

bool ClaimOwnMacId(void*, uint8_t a, uint8_t b) {
  devicenet::g_NodeTable.OwnMacId = PickOwnMacId(a, b);
  devicenet::g_NodeTable.OwnMacClaimed = 1;
  return true;
}

void ReleaseOwnMacId() {
  devicenet::g_NodeTable.OwnMacClaimed = 0;
}

}  // namespace master
