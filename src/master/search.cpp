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

// What the probes report: each address's mark as its probe ends, the list
// and the count of addresses probed so far with it.
struct ProbeProgress {
  void* dialog;
  int ended;
  bool news;  // ended since the list was filled
};

void NoteProbe(void* context, uint8_t mac, bool answered) {
  ProbeProgress& progress = *static_cast<ProbeProgress*>(context);
  SearchMarks[mac] = answered ? MARK_ANSWERED : MARK_SILENT;
  if (answered) SearchFound = 1;
  ++progress.ended;
  progress.news = true;
}

// The list is filled once for all the probes that ended in one step, so
// that the window's messages come between two fills.
bool ShowProbes(void* context) {
  ProbeProgress& progress = *static_cast<ProbeProgress*>(context);
  if (progress.news) {
    ShowProbing(progress.dialog, progress.ended);
    FillList(progress.dialog);
    progress.news = false;
  }
  return SearchAbort != 0;
}

// Every address at once; the list fills as the answers and silences come.
void ProbeAll(void* dialog) {
  bool probe[SEARCH_MAC_COUNT];
  for (bool& p : probe) p = true;
  ProbeProgress progress{dialog, 0, false};
  ShowProbing(dialog, 0);
  TxProbeAll(probe, PROBE_TIMEOUT_MS, ProbeWatch{&progress, NoteProbe, ShowProbes});
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
    ProbeAll(dialog);
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
