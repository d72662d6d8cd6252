#include "master/search.h"

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/own_mac.h"
#include "master/transactions.h"
#include "persist/messages.h"
#include "platform/platform.h"
#include "resource.h"

namespace master {

uint8_t SearchMarks[SEARCH_MAC_COUNT];
int SearchRunning = 0;
int SearchAbort = 0;
int SearchFound = 0;

namespace {

constexpr int PROGRESS_TEXT_SIZE = 200;

SearchListFillFn listFill = nullptr;

void FillList(void* dialog) {
  if (listFill) listFill(dialog, IDC_SEARCH_LIST);
}

void ShowProgressNumber(void* dialog, unsigned stringId, unsigned number) {
  char argument[16];
  std::snprintf(argument, sizeof argument, "%u", number);
  char text[PROGRESS_TEXT_SIZE];
  persist::FormatResString(stringId, argument, nullptr, nullptr, text, sizeof text);
  TheCommView().ShowProgress(dialog, text);
}

void ShowProbing(void* dialog, int number) {
  ShowProgressNumber(dialog, IDS_PROGRESS_PROBING, static_cast<unsigned>(number));
}

// Slaves may still be recovering from what the adapter's start did to the
// bus: 3000 ms pass before the first probe, with the window's messages
// handled and the seconds left shown. False when Abort ended the wait.
bool Settle(void* dialog) {
  const uint32_t opened = platform::TickMs();
  unsigned shown = 0;
  for (;;) {
    const uint32_t waited = platform::TickMs() - opened;
    if (waited > SEARCH_SETTLE_MS) return true;
    const unsigned left = (SEARCH_SETTLE_MS - waited + 999) / 1000;
    if (left != shown) {
      ShowProgressNumber(dialog, IDS_PROGRESS_SETTLE, left);
      shown = left;
    }
    if (app::g_App.PumpHook) platform::PumpOneMessage(app::g_App.PumpHook);
    if (SearchAbort) return false;
    platform::Sleep1Ms();
  }
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
  const int wasBusy = app::g_App.OperationBusy;
  app::g_App.OperationBusy = 1;
  SearchRunning = 1;
  SearchAbort = 0;
  SearchFound = 0;
  std::memset(SearchMarks, MARK_NOT_PROBED, sizeof SearchMarks);
  // The window keeps working from the first moment: Abort ends the scan at
  // once, during the settle time too.
  SetPumpHook(TheCommView().ProcessMessage);
  if (Settle(dialog) && ClaimOwnMacId(dialog, 0, 0)) {
    for (int i = 0; i < SEARCH_MAC_COUNT && !SearchAbort; ++i) {
      ShowProbing(dialog, i + 1);
      const uint8_t mac = static_cast<uint8_t>(i);
      if (TxProbeMac(mac, PROBE_TIMEOUT_MS) == TXR_OK) {
        SearchMarks[i] = MARK_ANSWERED;
        SearchFound = 1;
      } else {
        SearchMarks[i] = MARK_SILENT;
      }
      FillList(dialog);
    }
  } else {
    // Aborted while settling, or no own MAC ID free (shown): nothing probed.
    SearchAbort = 1;
  }
  TheCommView().ShowProgress(dialog, "");
  ReleaseOwnMacId();
  can::CloseAdapter(dialog);
  SearchRunning = 0;
  app::g_App.OperationBusy = wasBusy;
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
