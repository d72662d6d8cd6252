#include "master/search.h"

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/node_identity.h"
#include "master/own_mac.h"
#include "master/search_entry.h"
#include "master/session.h"
#include "master/transactions.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "platform/platform.h"
#include "resource.h"

namespace master {

uint8_t SearchMarks[SEARCH_MAC_COUNT];
SearchNode SearchNodes[SEARCH_RATE_COUNT][SEARCH_MAC_COUNT];
int SearchRunning = 0;
int SearchAbort = 0;
int SearchFound = 0;
uint32_t SearchAdapterError = 0;

namespace {

constexpr int PROGRESS_TEXT_SIZE = 200;

SearchListFillFn listFill = nullptr;

// The adapter's refusals counted when the current rate's search began.
uint32_t refusalsAtStart = 0;

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

// True once the adapter refused a frame in this rate's search.
bool AdapterRefused() {
  return devicenet::SendRefusals() != refusalsAtStart;
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
  int rate;
  int ended;
  bool news;  // ended since the list was filled
};

void NoteProbe(void* context, uint8_t mac, uint32_t result) {
  ProbeProgress& progress = *static_cast<ProbeProgress*>(context);
  // A probe that never left the adapter says nothing of the address.
  if (result & TXR_ADAPTER_ERROR) return;
  if (result == TXR_OK) {
    SearchMarks[mac] = MARK_ANSWERED;
    SearchNodes[progress.rate][mac].state = NODE_ANSWERED;
    SearchFound = 1;
  } else if (SearchMarks[mac] != MARK_ANSWERED) {
    SearchMarks[mac] = MARK_SILENT;
  }
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
  // After a refusal the probes on the wire still end as they do; the sweep
  // sends no further one.
  return SearchAbort != 0;
}

// Every address at once; the list fills as the answers and silences come.
void ProbeAll(void* dialog, int rate) {
  bool probe[SEARCH_MAC_COUNT];
  for (bool& p : probe) p = true;
  ProbeProgress progress{dialog, rate, 0, false};
  ShowProbing(dialog, 0);
  TxProbeAll(probe, PROBE_TIMEOUT_MS, ProbeWatch{&progress, NoteProbe, ShowProbes});
}

bool Aborted(void*) {
  return SearchAbort != 0 || AdapterRefused();
}

// Who each node that answered is, one after the other, the list filled
// after each. A node whose read Abort cut short before its vendor ID stays
// NODE_ANSWERED.
void ReadIdentities(void* dialog, int rate) {
  for (int mac = 0; mac < SEARCH_MAC_COUNT && !Aborted(nullptr); ++mac) {
    SearchNode& node = SearchNodes[rate][mac];
    if (node.state != NODE_ANSWERED) continue;
    ShowProgressNumber(dialog, IDS_PROGRESS_READING_NODE, static_cast<unsigned>(mac));
    const uint8_t own = devicenet::g_NodeTable.OwnMacId;
    uint32_t result =
        ReadNodeIdentity(static_cast<uint8_t>(mac), own, node.identity, Aborted, nullptr);
    // Its explicit connection is allocated at our MAC ID: taken over only on the user's word.
    if (IsSetAtOwnMac(result) && AskTakeOverSet(dialog, static_cast<uint8_t>(mac), own)) {
      TakeOverSet(static_cast<uint8_t>(mac), own);
      result = ReadNodeIdentity(static_cast<uint8_t>(mac), own, node.identity, Aborted, nullptr);
    }
    if (node.identity.present & IDENTITY_VENDOR) {
      node.state = NODE_IDENTIFIED;
    } else if (result != TXR_OK) {
      node.state = NODE_FAILED;
      node.failure = result;
    }
    FillList(dialog);
  }
}

// Tells the user that the adapter refused to send and the search stopped.
void ReportAdapterError(void* dialog, uint32_t error) {
  char status[PROGRESS_TEXT_SIZE];
  char code[16];
  AdapterErrorText(error, status, sizeof status, code, sizeof code);
  persist::ShowMsgFmt(dialog, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                      IDS_SEARCH_ADAPTER_ERROR, status, code, nullptr);
}

// One rate: open the adapter at it, settle, claim an own MAC ID, probe,
// read the identities, close. A frame the adapter refuses stops it in the
// phase it happens in. False when the adapter did not open.
bool SearchAt(void* dialog, int rate) {
  if (!can::OpenAdapter(dialog, rate)) return false;
  refusalsAtStart = devicenet::SendRefusals();
  // The window keeps working from the first moment: Abort ends the search
  // at once, during the settle time too. Closing the adapter unhooks it.
  SetPumpHook(TheCommView().ProcessMessage);
  const bool settled = Settle(dialog);
  const bool claimed = settled && ClaimOwnMacId(dialog, 0, 0);
  if (claimed && !AdapterRefused()) {
    ProbeAll(dialog, rate);
    if (!AdapterRefused()) ReadIdentities(dialog, rate);
    // Another node claimed our MAC ID: the reads stopped; say why.
    if (ReportOwnMacLost(dialog)) SearchAbort = 1;
  }
  // Aborted while settling, no own MAC ID free (shown), or the adapter
  // refused: nothing more at this rate or any other.
  if (!claimed || AdapterRefused()) SearchAbort = 1;
  TheCommView().ShowProgress(dialog, "");
  ReleaseOwnMacId();
  // A claim that failed on the refusal has said so itself.
  const bool report = claimed && AdapterRefused();
  if (AdapterRefused()) {
    SearchAdapterError = TXR_ADAPTER_ERROR | (devicenet::LastRefusalWord() & TXR_ADAPTER_WORD_MASK);
  }
  can::CloseAdapter(dialog);
  if (report) ReportAdapterError(dialog, SearchAdapterError);
  return true;
}

// While the search runs at several rates, each progress text names its rate.
void ShowRateInProgress(int rate) {
  char kBaud[16];
  std::snprintf(kBaud, sizeof kBaud, "%u", static_cast<unsigned>(can::BaudTable[rate].RateKBaud));
  SetProgressContext(IDS_PROGRESS_AT_RATE, kBaud);
}

// Searches the `count` rates of `rates` in turn, until one is aborted.
int SearchRates(void* dialog, const int* rates, int count, bool fresh) {
  if (fresh) {
    std::memset(SearchMarks, MARK_NOT_PROBED, sizeof SearchMarks);
    std::memset(SearchNodes, 0, sizeof SearchNodes);
    SearchFound = 0;
  }
  SearchAbort = 0;
  SearchAdapterError = 0;
  const int wasBusy = app::g_App.OperationBusy;
  app::g_App.OperationBusy = 1;
  SearchRunning = 1;
  int ran = 1;
  for (int i = 0; i < count && !SearchAbort; ++i) {
    if (count > 1) ShowRateInProgress(rates[i]);
    if (!SearchAt(dialog, rates[i])) {
      SearchAbort = 1;
      ran = 0;
    }
  }
  SetProgressContext(0, nullptr);
  SearchRunning = 0;
  app::g_App.OperationBusy = wasBusy;
  return ran;
}

}  // namespace

void SetSearchListFill(SearchListFillFn fill) {
  listFill = fill;
}

int SearchRun(void* dialog) {
  const int rate = app::g_App.BaudIndex;
  return SearchRates(dialog, &rate, 1, true);
}

int SearchRunAllRates(void* dialog) {
  int rates[SEARCH_RATE_COUNT];
  int count = 0;
  rates[count++] = app::g_App.BaudIndex;
  for (int rate = 0; rate < SEARCH_RATE_COUNT; ++rate) {
    if (rate != app::g_App.BaudIndex) rates[count++] = rate;
  }
  return SearchRates(dialog, rates, count, true);
}

int SearchRunOtherRates(void* dialog) {
  int rates[SEARCH_RATE_COUNT];
  int count = 0;
  for (int rate = 0; rate < SEARCH_RATE_COUNT; ++rate) {
    if (rate != app::g_App.BaudIndex) rates[count++] = rate;
  }
  return SearchRates(dialog, rates, count, false);
}

int SearchFirstFoundIndex() {
  SearchEntry entries[SEARCH_ENTRY_MAX];
  const int count = SearchEntries(entries);
  int firstFound = -1;
  for (int i = 0; i < count; ++i) {
    if (entries[i].rate < 0) continue;
    if (SearchNodes[entries[i].rate][entries[i].mac].state == NODE_IDENTIFIED) return i;
    if (firstFound < 0) firstFound = i;
  }
  return firstFound;
}

}  // namespace master
