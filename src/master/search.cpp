#include "master/search.h"

#include <cstring>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/transactions.h"
#include "platform/platform.h"
#include "resource.h"

namespace master {

uint8_t SearchMarks[SEARCH_MAC_COUNT];
int SearchRunning = 0;
int SearchAbort = 0;
int SearchFound = 0;

namespace {

SearchListFillFn listFill = nullptr;

void FillList(void* dialog) {
  if (listFill) listFill(dialog, IDC_SEARCH_LIST);
}

}  // namespace

void SetSearchListFill(SearchListFillFn fill) {
  listFill = fill;
}

int SearchRun(void* dialog) {
  if (!can::OpenAdapter(dialog, app::g_App.BaudIndex)) {
    SearchAbort = 1;
    return 0;
  }
  // Slaves may still be recovering from what the adapter's start did to
  // the bus; no message is handled meanwhile.
  const uint32_t opened = platform::TickMs();
  while (platform::TickMs() - opened <= SEARCH_SETTLE_MS) platform::Sleep1Ms();

  SetPumpHook(TheCommView().ProcessMessage);
  SearchRunning = 1;
  SearchAbort = 0;
  SearchFound = 0;
  std::memset(SearchMarks, MARK_NOT_PROBED, sizeof SearchMarks);
  for (int i = 0; i < SEARCH_MAC_COUNT && !SearchAbort; ++i) {
    const uint8_t mac = static_cast<uint8_t>(i);
    devicenet::g_NodeTable.OwnMacId = PickOwnMacId(mac, mac);
    if (TxProbeMac(mac, PROBE_TIMEOUT_MS) == TXR_OK) {
      SearchMarks[i] = MARK_ANSWERED;
      SearchFound = 1;
    } else {
      SearchMarks[i] = MARK_SILENT;
    }
    FillList(dialog);
  }
  can::CloseAdapter(dialog);
  SearchRunning = 0;
  return 1;
}

int SearchFirstFoundIndex() {
  int index = 0;
  for (uint8_t mark : SearchMarks) {
    if (mark == MARK_ANSWERED) return index;
    if (mark == MARK_SILENT) ++index;
  }
  return -1;
}

}  // namespace master
