// Slave start-up and shutdown: SlaveConnect, CommStart and CommStop.
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/own_mac.h"
#include "master/session.h"
#include "master/transactions.h"
#include "persist/cursor.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/ui_text.h"
#include "platform/platform.h"
#include "resource.h"

namespace master {

namespace {

using app::g_App;
using namespace devicenet;

constexpr uint8_t ATTR_CONN_STATE = 1;
constexpr uint8_t CONN_STATE_ESTABLISHED = 3;
constexpr uint32_t RESPONSE_SIZE = MAX_BODY_LEN;  // the most TxService returns
constexpr int TEXT_SIZE = RESPONSE_SIZE + 1;      // the longest product name and its end

// Identity attributes in the order they are read, with their field.
enum class Shown { U16, Revision, U32, ShortString };
struct IdentityField {
  uint8_t attribute;
  int controlId;
  Shown shown;
};
const IdentityField IDENTITY_FIELDS[] = {
    {1, IDC_MAIN_VENDOR_ID, Shown::U16},     {2, IDC_MAIN_DEVICE_TYPE, Shown::U16},
    {3, IDC_MAIN_PRODUCT_CODE, Shown::U16},  {4, IDC_MAIN_REVISION, Shown::Revision},
    {6, IDC_MAIN_SERIAL_NUMBER, Shown::U32}, {7, IDC_MAIN_PRODUCT_NAME, Shown::ShortString},
};
// Emptied at stop, with the bus status.
const int CLEARED_FIELDS[] = {IDC_MAIN_VENDOR_ID, IDC_MAIN_DEVICE_TYPE,   IDC_MAIN_PRODUCT_CODE,
                              IDC_MAIN_REVISION,  IDC_MAIN_SERIAL_NUMBER, IDC_MAIN_PRODUCT_NAME,
                              IDC_MAIN_BUS_STATUS};

uint8_t OwnMac() {
  return g_NodeTable.OwnMacId;
}

// A request without data on the Group 2 explicit connection. `buffer` (of
// RESPONSE_SIZE bytes) is zeroed first, so that bytes a short response does
// not carry read as 0, never as what an earlier response left there.
uint32_t Get(uint16_t classId, uint16_t instance, uint8_t attribute, uint8_t* buffer,
             uint32_t& length) {
  std::memset(buffer, 0, RESPONSE_SIZE);
  const ServiceRequest request{GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, classId, instance, attribute, 0};
  return TxService(CurrentSlave(), OwnMac(), request, buffer, length);
}

uint32_t LittleEndian(const uint8_t* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

void FormatIdentity(Shown shown, const uint8_t* response, uint32_t length, char* text) {
  switch (shown) {
    case Shown::U16:
      std::snprintf(text, TEXT_SIZE, "%u", static_cast<unsigned>(LittleEndian(response, 2)));
      break;
    case Shown::Revision:
      std::snprintf(text, TEXT_SIZE, "%d.%d", response[0], response[1]);
      break;
    case Shown::U32:
      std::snprintf(text, TEXT_SIZE, "%lu", static_cast<unsigned long>(LittleEndian(response, 4)));
      break;
    case Shown::ShortString: {
      // Everything after the count byte, up to the end of the response.
      const uint32_t count = length > 1 ? length - 1 : 0;
      std::memcpy(text, response + 1, count);
      text[count] = '\0';
      break;
    }
  }
}

// Reads a size of the poll connection. A response too short to hold one is
// no size at all: TXR_FAILED, never a size made up of zero bytes.
uint32_t ReadConnectionSize(uint8_t attribute, uint32_t& size) {
  uint8_t response[RESPONSE_SIZE];
  uint32_t length = 0;
  const uint32_t result = Get(CLASS_CONNECTION, CONN_INSTANCE_POLL, attribute, response, length);
  if (result != TXR_OK) return result;
  if (length < 2) return TXR_FAILED;
  size = LittleEndian(response, 2);
  return TXR_OK;
}

// A size of the poll connection for the I/O records: 1 when it is usable,
// else 0 after the report.
int TakeConnectionSize(void* window, uint8_t attribute, uint32_t& size) {
  const uint32_t result = ReadConnectionSize(attribute, size);
  if (result != TXR_OK) {
    ReportResult(window, result);
    return 0;
  }
  if (size > app::IO_DATA_SIZE) {
    persist::ShowMsg(window, nullptr, IDS_IO_LENGTH_EXCEEDED);
    return 0;
  }
  return 1;
}

}  // namespace

bool PollConnectionEstablished() {
  uint8_t response[RESPONSE_SIZE];
  uint32_t length = 0;
  const uint32_t result =
      Get(CLASS_CONNECTION, CONN_INSTANCE_POLL, ATTR_CONN_STATE, response, length);
  return result == TXR_OK && response[0] == CONN_STATE_ESTABLISHED;
}

uint8_t CurrentSlave() {
  return static_cast<uint8_t>(g_App.CurrAdr & MAC_ID_MASK);
}

uint32_t ConnectWithin(uint8_t address, uint32_t windowMs) {
  const uint32_t start = platform::TickMs();
  uint32_t coded = TXR_OK;  // the last result that named the slave's error code
  for (;;) {
    const uint32_t result = TxConnect(address, OwnMac(), CONNECT_TIMEOUT_MS);
    // Another master's slave stays its, a set at our MAC ID waits for the
    // user's word, and an adapter that refuses to send refuses the next try
    // too: asking again changes nothing.
    if (result == TXR_OK || result == TXR_OWNED_ELSEWHERE || IsSetAtOwnMac(result) ||
        (result & TXR_ADAPTER_ERROR)) {
      return result;
    }
    if (result & TXR_GEC_MASK) coded = result;
    if (platform::TickMs() - start + CONNECT_RETRY_PAUSE_MS > windowMs) {
      return coded != TXR_OK ? coded : result;
    }
    // A slave that refuses or is still starting gets a moment, not a
    // stream of requests.
    TxPause(CONNECT_RETRY_PAUSE_MS);
  }
}

namespace {

uint32_t SetExpectedPacketRate(uint8_t address, uint16_t instance, uint16_t rateMs) {
  uint8_t buffer[RESPONSE_SIZE] = {static_cast<uint8_t>(rateMs), static_cast<uint8_t>(rateMs >> 8)};
  uint32_t length = 0;
  const ServiceRequest request{GROUP_2,  SVC_SET_ATTRIBUTE_SINGLE,  CLASS_CONNECTION,
                               instance, ATTR_EXPECTED_PACKET_RATE, 2};
  return TxService(address, OwnMac(), request, buffer, length);
}

void ShowProgressText(void* window, unsigned stringId, const char* argument) {
  char text[TEXT_SIZE];
  persist::FormatResString(stringId, argument, nullptr, nullptr, text, sizeof text);
  TheCommView().ShowProgress(window, text);
}

void ShowAddressProgress(void* window, unsigned stringId, uint8_t address) {
  char number[8];
  std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(address));
  ShowProgressText(window, stringId, number);
}

// ConnectWithin to the slave at CurrAdr with the wait cursor and the
// progress text shown.
uint32_t ConnectShowing(void* window) {
  void* cursor = persist::ShowWaitCursor();
  ShowAddressProgress(window, IDS_PROGRESS_CONNECTING, CurrentSlave());
  const uint32_t connected = ConnectWithin(CurrentSlave(), CONNECT_WINDOW_MS);
  TheCommView().ShowProgress(window, "");
  persist::RestoreCursor(cursor);
  return connected;
}

int BringUp(void* window);

}  // namespace

uint32_t SetNoWatchdog(uint8_t address, uint16_t instance) {
  return SetExpectedPacketRate(address, instance, 0);
}

uint32_t SlaveConnect(void* window, int withPoll) {
  if (g_App.Io) std::memset(g_App.Io, 0, sizeof *g_App.Io);
  g_App.InputReceived = 0;
  // The window keeps working while the slave is brought up; its handlers
  // refuse or defer what would interfere (OperationBusy).
  SetPumpHook(TheCommView().ProcessMessage);
  if (!ClaimOwnMacId(window, CurrentSlave(), CurrentSlave())) return TXR_REPORTED;

  uint32_t connected = ConnectShowing(window);
  if (IsSetAtOwnMac(connected)) {
    // Released only on the user's word: a scanner at our MAC ID may own it.
    if (!AskTakeOverSet(window, CurrentSlave(), OwnMac())) return TXR_REPORTED;
    TakeOverSet(CurrentSlave(), OwnMac());
    connected = ConnectShowing(window);
  }
  if (connected == TXR_OWNED_ELSEWHERE) {
    ShowOwnedElsewhere(window, CurrentSlave());
    return TXR_REPORTED;
  }
  if (connected != TXR_OK && ReportOwnMacLost(window)) return TXR_REPORTED;
  if (connected != TXR_OK) {
    ShowConnectFailed(window, connected, CurrentSlave());
    return TXR_REPORTED;
  }

  uint32_t result = SetNoWatchdog(CurrentSlave(), CONN_INSTANCE_EXPLICIT);
  if (result != TXR_OK) {
    ReportResult(window, result);
    return result;
  }
  if (!withPoll) return TXR_OK;

  // With the slave watchdog chosen, the slave drops its outputs' connection
  // on its own once polls stop (4 expected packet rates without one).
  const uint16_t pollRateMs = g_App.SlaveWatchdog ? WATCHDOG_PACKET_RATE_MS : 0;
  result = SetExpectedPacketRate(CurrentSlave(), CONN_INSTANCE_POLL, pollRateMs);
  if (result != TXR_OK) {
    ReportResult(window, result);
    return result;
  }
  uint8_t response[RESPONSE_SIZE];
  uint32_t length = 0;
  result = Get(CLASS_CONNECTION, CONN_INSTANCE_POLL, ATTR_CONN_STATE, response, length);
  if (result != TXR_OK) {
    ReportResult(window, result);
    return result;
  }
  return response[0] == CONN_STATE_ESTABLISHED ? TXR_OK : TXR_IO_FAILED;
}

int CommStart(void* window) {
  if (g_App.CyclicBusy || !g_App.Io) return 0;
  if (persist::ShowMsgFmt(window, persist::BOX_OKCANCEL | persist::BOX_ICONEXCLAMATION,
                          IDS_OUTPUTS_WARNING, nullptr, nullptr, nullptr) != persist::BOX_IDOK) {
    return 0;
  }
  g_App.LastBusStatus = app::NO_BUS_STATUS_SHOWN;
  if (!can::OpenAdapter(window, g_App.BaudIndex)) return 0;
  const int wasBusy = g_App.OperationBusy;
  g_App.OperationBusy = 1;
  const int started = BringUp(window);
  g_App.OperationBusy = wasBusy;
  TheCommView().ShowProgress(window, "");
  if (!started) return 0;

  const CommView& view = TheCommView();
  view.SetFreezeOutputs(window, 0);
  view.SetCommActive(window, 1);
  SetPumpHook(view.ProcessMessage);
  return 1;
}

namespace {

// CommStart after the adapter opened: the slave connected, its identity
// shown and the I/O records sized. 1 when communication may run.
int BringUp(void* window) {
  const uint32_t connected = SlaveConnect(window, 1);
  if (connected == TXR_REPORTED) return 0;
  if (connected != TXR_OK) {
    persist::ShowMsg(window, nullptr, IDS_SLAVE_INIT_FAILED);
    return 0;
  }

  ShowProgressText(window, IDS_PROGRESS_IDENTITY, nullptr);

  // Each field is filled before the next request goes out, so that a
  // failure leaves the fields read so far in place.
  for (const IdentityField& field : IDENTITY_FIELDS) {
    uint8_t response[RESPONSE_SIZE];
    uint32_t length = 0;
    const uint32_t result = Get(CLASS_IDENTITY, 1, field.attribute, response, length);
    if (result != TXR_OK) {
      ReportResult(window, result);
      return 0;
    }
    char text[TEXT_SIZE];
    FormatIdentity(field.shown, response, length, text);
    persist::SetControlText(window, field.controlId, text);
  }

  // These two reads also tell the link layer the poll message sizes, so
  // they come before the first poll.
  uint32_t consumed = 0;
  if (!TakeConnectionSize(window, ATTR_CONSUMED_CONN_SIZE, consumed)) return 0;
  g_App.Io->Output.Length = consumed;
  g_App.OutputEdit.Length = consumed;
  uint32_t produced = 0;
  if (!TakeConnectionSize(window, ATTR_PRODUCED_CONN_SIZE, produced)) return 0;
  g_App.Io->Input.Length = produced;
  return 1;
}

}  // namespace

int CommStop(void* window) {
  if (g_App.CyclicBusy || !g_App.AdapterOpen) return 0;
  const int wasBusy = g_App.OperationBusy;
  g_App.OperationBusy = 1;
  // Only a set this program holds is released (TxRelease sends nothing
  // otherwise); the window keeps working meanwhile.
  SetPumpHook(TheCommView().ProcessMessage);
  if (HoldsSet(CurrentSlave())) ShowProgressText(window, IDS_PROGRESS_RELEASING, nullptr);
  TxRelease(CurrentSlave(), OwnMac());
  // A UCMM connection whose close failed before holds one of the slave's
  // few; this is the last chance to give it back.
  TxCloseUcmm(CONNECT_TIMEOUT_MS);
  TheCommView().ShowProgress(window, "");
  ReleaseOwnMacId();
  ForgetHeldSet();
  can::CloseAdapter(window);
  g_App.OperationBusy = wasBusy;
  const CommView& view = TheCommView();
  view.SetCommActive(window, 0);
  std::memset(&g_App.OutputEdit, 0, sizeof g_App.OutputEdit);
  if (g_App.Io) std::memset(g_App.Io, 0, sizeof *g_App.Io);
  g_App.InputReceived = 0;
  view.RefreshDataViews(window, g_App.Io, 1);
  for (int id : CLEARED_FIELDS) persist::SetControlText(window, id, "");
  view.ShowOutputByte(window, 0);
  view.UpdateControlStates(window);
  return 1;
}

}  // namespace master
