#include "master/own_mac.h"

#include <cstdio>
#include <cstring>

#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/transactions.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "resource.h"

namespace master {

namespace {

using devicenet::g_NodeTable;

// The candidates after the usual choice: the other low addresses, then the
// top of the range, where configuration tools conventionally sit. A running
// scanner usually holds 0.
constexpr uint8_t FURTHER_CANDIDATES[] = {0, 1, 2, 63, 62, 61, 60};
constexpr int MAX_CANDIDATES = 1 + sizeof FURTHER_CANDIDATES;
// A node answers a check for its MAC ID at once; two requests with a
// 200 ms window each (AddressTaken) still catch a slow node and a single
// lost answer.
constexpr int CHECK_REQUESTS = 2;
constexpr uint32_t CHECK_WINDOW_MS = 200;
constexpr int TEXT_SIZE = 200;

int Candidates(uint8_t a, uint8_t b, uint8_t* out) {
  int count = 0;
  auto add = [&](uint8_t mac) {
    if (mac == a || mac == b) return;
    for (int i = 0; i < count; ++i) {
      if (out[i] == mac) return;
    }
    out[count++] = mac;
  };
  add(PickOwnMacId(a, b));
  for (uint8_t mac : FURTHER_CANDIDATES) add(mac);
  return count;
}

void ShowCheck(void* window, uint8_t mac) {
  char number[8];
  std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(mac));
  char text[TEXT_SIZE];
  persist::FormatResString(IDS_PROGRESS_OWN_MAC, number, nullptr, nullptr, text, sizeof text);
  TheCommView().ShowProgress(window, text);
}

}  // namespace

bool ClaimOwnMacId(void* window, uint8_t a, uint8_t b) {
  a &= devicenet::MAC_ID_MASK;
  b &= devicenet::MAC_ID_MASK;
  g_NodeTable.OwnMacClaimed = 0;
  uint8_t candidates[MAX_CANDIDATES];
  const int count = Candidates(a, b, candidates);
  char tried[TEXT_SIZE] = "";
  for (int i = 0; i < count; ++i) {
    const uint8_t mac = candidates[i];
    ShowCheck(window, mac);
    const bool taken = AddressTaken(mac);
    TheCommView().ShowProgress(window, "");
    if (!taken) {
      g_NodeTable.OwnMacId = mac;
      g_NodeTable.OwnMacClaimed = 1;
      g_NodeTable.OwnMacConflicts = 0;
      return true;
    }
    const size_t used = std::strlen(tried);
    std::snprintf(tried + used, sizeof tried - used, i ? ", %u" : "%u", static_cast<unsigned>(mac));
  }
  persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_NO_FREE_OWN_MAC,
                      tried, nullptr, nullptr);
  return false;
}

bool AddressTaken(uint8_t mac) {
  for (int i = 0; i < CHECK_REQUESTS; ++i) {
    if (TxProbeMac(mac, CHECK_WINDOW_MS) == TXR_OK) return true;
  }
  return false;
}

void ReleaseOwnMacId() {
  g_NodeTable.OwnMacClaimed = 0;
}

}  // namespace master
