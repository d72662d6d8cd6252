#include "master/own_mac.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/app_state.h"
#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/session.h"
#include "master/transactions.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/resstring.h"
#include "platform/platform.h"
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
// 200 ms window each still catch a slow node and a single lost answer.
// Later answers are caught by the watch while the MAC ID is in use.
constexpr int CHECK_REQUESTS = 2;
constexpr uint32_t CHECK_WINDOW_MS = 200;
// A node coming online sends its two check requests 1 s apart and goes
// online 1 s after the second. Listening a little longer than 1 s before
// our first request hears every node that is still checking (it sends its
// next request meanwhile or goes online and then answers ours), so that our
// request never crosses its check, which would fault it.
constexpr uint32_t LISTEN_MS = 1100;
constexpr int TEXT_SIZE = 400;

bool lostShown = false;  // message 1500 shown for the current claim

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

void ShowProgress(void* window, unsigned id, uint8_t mac) {
  char number[8];
  std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(mac));
  char text[TEXT_SIZE];
  persist::FormatResString(id, number, nullptr, nullptr, text, sizeof text);
  TheCommView().ShowProgress(window, text);
}

// The checked MAC ID becomes the own one while its check runs, so that the
// watch takes another node's check message for it as a claim.
MacCheck CheckCandidate(uint8_t mac) {
  const uint8_t previous = g_NodeTable.OwnMacId;
  g_NodeTable.OwnMacId = mac;
  g_NodeTable.Rival = devicenet::MacRival{};
  g_NodeTable.OwnMacChecking = 1;
  const MacCheck check = CheckAddress(mac);
  g_NodeTable.OwnMacChecking = 0;
  if (check != MAC_FREE) g_NodeTable.OwnMacId = previous;
  return check;
}

// Why the fixed own MAC ID is taken, in words.
void TakenReason(uint8_t mac, char* text, size_t size) {
  const devicenet::MacRival& rival = g_NodeTable.Rival;
  if (rival.Seen) {
    char vendor[8];
    char serial[12];
    std::snprintf(vendor, sizeof vendor, "%u", static_cast<unsigned>(rival.VendorId));
    std::snprintf(serial, sizeof serial, "%08X", static_cast<unsigned>(rival.SerialNumber));
    persist::FormatResString(
        rival.Response ? IDS_OWN_MAC_RIVAL_RESPONSE : IDS_OWN_MAC_RIVAL_REQUEST, vendor, serial,
        nullptr, text, size);
    return;
  }
  persist::FormatResString(
      g_NodeTable.CheckHeard[mac] ? IDS_OWN_MAC_TAKEN_CHECKING : IDS_OWN_MAC_TAKEN_BY_NODE, nullptr,
      nullptr, nullptr, text, size);
}

void ShowNumberMessage(void* window, unsigned id, uint8_t mac, const char* detail) {
  char number[8];
  std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(mac));
  persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, id, number, detail,
                      nullptr);
}

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

uint32_t CheckSerialNumber() {
  if (app::g_App.CheckSerial != 0) return static_cast<uint32_t>(app::g_App.CheckSerial);
  // Nothing here needs to be secret, only different between installations:
  // the wall clock, the fine tick (when the user started the program) and
  // where the system placed the stack.
  int local = 0;
  uint64_t x = Mix(static_cast<uint64_t>(std::time(nullptr)));
  x = Mix(x ^ platform::SystemTickUs());
  x = Mix(x ^ static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&local)));
  x = Mix(x ^ static_cast<uint64_t>(std::clock()));
  uint32_t serial = static_cast<uint32_t>(x >> 32) ^ static_cast<uint32_t>(x);
  if (serial == 0) serial = 1;
  app::g_App.CheckSerial = static_cast<int>(serial);
  return serial;
}

bool ClaimOwnMacId(void* window, uint8_t a, uint8_t b) {
  a &= devicenet::MAC_ID_MASK;
  b &= devicenet::MAC_ID_MASK;
  // A claim lost while the adapter stood idle is told before the next one.
  ReportOwnMacLost(window);
  g_NodeTable.OwnMacClaimed = 0;
  g_NodeTable.OwnMacChecking = 0;
  devicenet::ClearOwnMacWatch(g_NodeTable);
  lostShown = false;
  CheckSerialNumber();

  uint8_t candidates[MAX_CANDIDATES];
  int count = 0;
  const bool fixed = app::g_App.OwnMacFixed != 0;
  if (fixed) {
    const uint8_t mac = static_cast<uint8_t>(app::g_App.OwnMacChoice) & devicenet::MAC_ID_MASK;
    if (mac == a || mac == b) {
      ShowNumberMessage(window, IDS_FIXED_OWN_MAC_IS_SLAVE, mac, nullptr);
      return false;
    }
    candidates[count++] = mac;
  } else {
    count = Candidates(a, b, candidates);
  }

  char progress[TEXT_SIZE];
  persist::FormatResString(IDS_PROGRESS_LISTENING, nullptr, nullptr, nullptr, progress,
                           sizeof progress);
  TheCommView().ShowProgress(window, progress);
  TxListen(LISTEN_MS);

  char tried[TEXT_SIZE] = "";
  for (int i = 0; i < count; ++i) {
    const uint8_t mac = candidates[i];
    ShowProgress(window, IDS_PROGRESS_OWN_MAC, mac);
    const MacCheck check = CheckCandidate(mac);
    TheCommView().ShowProgress(window, "");
    if (check == MAC_NOT_SENT) {
      ShowCheckRefused(window, mac);
      return false;
    }
    if (check == MAC_FREE) {
      g_NodeTable.OwnMacId = mac;
      g_NodeTable.OwnMacClaimed = 1;
      return true;
    }
    if (fixed) {
      char reason[TEXT_SIZE];
      TakenReason(mac, reason, sizeof reason);
      ShowNumberMessage(window, IDS_FIXED_OWN_MAC_TAKEN, mac, reason);
      return false;
    }
    const size_t used = std::strlen(tried);
    std::snprintf(tried + used, sizeof tried - used, i ? ", %u" : "%u", static_cast<unsigned>(mac));
  }
  persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_NO_FREE_OWN_MAC,
                      tried, nullptr, nullptr);
  return false;
}

MacCheck CheckAddress(uint8_t mac) {
  mac &= devicenet::MAC_ID_MASK;
  if (g_NodeTable.CheckHeard[mac]) return MAC_TAKEN;
  for (int i = 0; i < CHECK_REQUESTS; ++i) {
    const uint32_t result = TxProbeMac(mac, CHECK_WINDOW_MS);
    if (result == TXR_OK) return MAC_TAKEN;
    if (result != TXR_IO_FAILED) return MAC_NOT_SENT;
    // Another node checking it meanwhile wants it too.
    if (g_NodeTable.CheckHeard[mac]) return MAC_TAKEN;
  }
  return MAC_FREE;
}

bool AddressTaken(uint8_t mac) {
  return CheckAddress(mac) != MAC_FREE;
}

void ShowCheckRefused(void* window, uint8_t mac) {
  // The adapter's word for the refused request, told as every adapter error is.
  char status[TEXT_SIZE] = "";
  char code[16];
  AdapterErrorText(TXR_ADAPTER_ERROR | devicenet::LastRefusalWord(), status, sizeof status, code,
                   sizeof code);
  ShowNumberMessage(window, IDS_OWN_MAC_CHECK_REFUSED, mac, status);
}

bool ReportOwnMacLost(void* window) {
  if (!g_NodeTable.OwnMacLost) return false;
  if (lostShown) return true;
  lostShown = true;
  const devicenet::MacRival& rival = g_NodeTable.Rival;
  char vendor[8];
  char serial[12];
  std::snprintf(vendor, sizeof vendor, "%u", static_cast<unsigned>(rival.VendorId));
  std::snprintf(serial, sizeof serial, "%08X", static_cast<unsigned>(rival.SerialNumber));
  char node[TEXT_SIZE];
  persist::FormatResString(rival.Response ? IDS_OWN_MAC_RIVAL_RESPONSE : IDS_OWN_MAC_RIVAL_REQUEST,
                           vendor, serial, nullptr, node, sizeof node);
  ShowNumberMessage(window, IDS_OWN_MAC_LOST, g_NodeTable.OwnMacId, node);
  return true;
}

void ReleaseOwnMacId() {
  g_NodeTable.OwnMacClaimed = 0;
  g_NodeTable.OwnMacChecking = 0;
}

}  // namespace master
