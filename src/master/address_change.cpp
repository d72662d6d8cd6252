#include "master/address_change.h"

#include <cstdio>

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
#include "platform/platform.h"
#include "resource.h"

namespace master {

int OldAddress = 0;
int NewAddress = 0;
int OldBaudIndex = 0;
int NewBaudIndex = 0;

namespace {

using app::g_App;
using namespace devicenet;

// The slave must answer where it should be after the change within this.
constexpr uint32_t CHECK_WINDOW_MS = 10000;
// A restarting node sends a Duplicate MAC ID check request for itself, a
// second later a second one, and goes online a second after that unless
// another node answered.
constexpr uint32_t NODE_CHECK_PERIOD_MS = 1000;
// After one of its requests the node is online once this passes quietly.
constexpr uint32_t NODE_CHECK_QUIET_MS = NODE_CHECK_PERIOD_MS + 300;
// A node not heard within this after its restart may have checked before
// the adapter listened at its rate: try to connect all the same.
constexpr uint32_t FIRST_CHECK_MS = 2 * NODE_CHECK_PERIOD_MS + 500;
// Between two connect attempts of a node that has not answered.
constexpr uint32_t RETRY_PAUSE_MS = 1000;
// Each wait slice, so that the seconds shown keep counting.
constexpr uint32_t PROGRESS_STEP_MS = 500;
constexpr uint16_t DEVICENET_INSTANCE = 1;
constexpr uint8_t ATTR_MAC_ID = 1;
constexpr uint8_t ATTR_BAUD_RATE = 2;
constexpr uint16_t IDENTITY_INSTANCE = 1;
constexpr uint8_t ATTR_VENDOR_ID = 1;
constexpr uint8_t ATTR_PRODUCT_CODE = 3;
constexpr uint8_t ATTR_SERIAL_NUMBER = 6;
constexpr uint32_t RESPONSE_SIZE = MAX_BODY_LEN;  // the most TxService returns
constexpr int ADDRESS_TEXT_SIZE = 16;
constexpr int PLACE_TEXT_SIZE = 80;
constexpr int PROGRESS_TEXT_SIZE = 200;

// What the last address or baud step did to the slave.
enum Sent {
  SENT_NOTHING,    // nothing written, or the write refused: where it was
  SENT_CONFIRMED,  // moved, and found there again
  SENT_MISSING,    // took the change and restarted, not found again in time
  SENT_FOREIGN,    // took the change; another device answers there
};
Sent lastSent = SENT_NOTHING;

uint8_t Mac(int address) {
  return static_cast<uint8_t>(address & MAC_ID_MASK);
}

uint8_t OwnMac() {
  return g_NodeTable.OwnMacId;
}

// Who a device is: what must stay the same across a change.
struct Identity {
  uint16_t vendor;
  uint16_t productCode;
  uint32_t serial;
};

void ShowProgressText(void* window, unsigned stringId, const char* argument) {
  char text[PROGRESS_TEXT_SIZE];
  persist::FormatResString(stringId, argument, nullptr, nullptr, text, sizeof text);
  TheCommView().ShowProgress(window, text);
}

void ShowNumberProgress(void* window, unsigned stringId, unsigned number) {
  char text[ADDRESS_TEXT_SIZE];
  std::snprintf(text, sizeof text, "%u", number);
  ShowProgressText(window, stringId, text);
}

void ClearProgress(void* window) {
  TheCommView().ShowProgress(window, "");
}

// The adapter is open: the window's messages are handled while the change
// waits, and the own MAC ID is claimed for the slaves at `a` and `b`. False
// when no own MAC ID is free (shown).
bool Prepare(void* window, uint8_t a, uint8_t b) {
  SetPumpHook(TheCommView().ProcessMessage);
  return ClaimOwnMacId(window, a, b);
}

uint32_t ReadIdentityAttribute(uint8_t address, uint8_t attribute, int size, uint32_t& value) {
  uint8_t buffer[RESPONSE_SIZE] = {};
  uint32_t length = 0;
  const ServiceRequest get{
      GROUP_2, SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY, IDENTITY_INSTANCE, attribute, 0};
  const uint32_t result = TxService(address, OwnMac(), get, buffer, length);
  if (result != TXR_OK) return result;
  if (length < static_cast<uint32_t>(size)) return TXR_FAILED;
  value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | buffer[i];
  return TXR_OK;
}

uint32_t ReadIdentity(void* window, uint8_t address, Identity& identity) {
  ShowProgressText(window, IDS_PROGRESS_IDENTITY, nullptr);
  uint32_t vendor = 0;
  uint32_t productCode = 0;
  uint32_t serial = 0;
  uint32_t result = ReadIdentityAttribute(address, ATTR_VENDOR_ID, 2, vendor);
  if (result == TXR_OK) result = ReadIdentityAttribute(address, ATTR_PRODUCT_CODE, 2, productCode);
  if (result == TXR_OK) result = ReadIdentityAttribute(address, ATTR_SERIAL_NUMBER, 4, serial);
  ClearProgress(window);
  identity = {static_cast<uint16_t>(vendor), static_cast<uint16_t>(productCode), serial};
  return result;
}

void RateText(int baudIndex, char* text) {
  if (baudIndex < 0 || baudIndex >= can::BAUD_COUNT) baudIndex = 0;
  std::snprintf(text, ADDRESS_TEXT_SIZE, "%u kB",
                static_cast<unsigned>(can::BaudTable[baudIndex].RateKBaud));
}

// "address 20 at 125 kB", in the language of the messages.
void PlaceText(int address, int baudIndex, char* text) {
  char number[ADDRESS_TEXT_SIZE];
  char rate[ADDRESS_TEXT_SIZE];
  std::snprintf(number, sizeof number, "%d", address);
  RateText(baudIndex, rate);
  persist::FormatResString(IDS_CHANGE_PLACE, number, rate, nullptr, text, PLACE_TEXT_SIZE);
}

// The slave took the change and restarted, but is not found at `address`,
// `baudIndex`: the main window follows it there.
void ShowMissingAfterChange(void* window, int address, int baudIndex) {
  char place[PLACE_TEXT_SIZE];
  PlaceText(address, baudIndex, place);
  persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_CHANGE_NOT_BACK,
                      place, nullptr, nullptr);
  lastSent = SENT_MISSING;
}

// Another device answers where the slave was sent: the main window keeps
// where the slave last answered, never that device's address.
void ShowForeignAfterChange(void* window, int address, int baudIndex) {
  char sentTo[PLACE_TEXT_SIZE];
  char kept[PLACE_TEXT_SIZE];
  PlaceText(address, baudIndex, sentTo);
  PlaceText(g_App.CurrAdr, g_App.BaudIndex, kept);
  persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_IDENTITY_MISMATCH,
                      sentTo, kept, nullptr);
  lastSent = SENT_FOREIGN;
}

// The device now connected at `address` must be the one that was changed.
// TXR_OK; TXR_IO_FAILED when another device answers there; or the failing
// read's result.
uint32_t CheckSameDevice(void* window, uint8_t address, const Identity& before) {
  Identity after{};
  const uint32_t result = ReadIdentity(window, address, after);
  if (result != TXR_OK) return result;
  if (after.vendor == before.vendor && after.productCode == before.productCode &&
      after.serial == before.serial) {
    return TXR_OK;
  }
  return TXR_IO_FAILED;
}

// The end of a change the slave took: connected again at `address` (or
// not) after its restart at `baudIndex`. Shows what became of it unless it
// is the changed slave found there; returns TXR_OK or TXR_REPORTED.
uint32_t Confirm(void* window, uint32_t connected, uint8_t address, int baudIndex,
                 const Identity& identity) {
  if (connected == TXR_OK) {
    const uint32_t same = CheckSameDevice(window, address, identity);
    TxRelease(address, OwnMac());
    if (same == TXR_OK) {
      lastSent = SENT_CONFIRMED;
      return TXR_OK;
    }
    if (same == TXR_IO_FAILED) {
      ShowForeignAfterChange(window, address, baudIndex);
    } else {
      ShowMissingAfterChange(window, address, baudIndex);
    }
    return TXR_REPORTED;
  }
  // A set owned by another master there: whoever answers is not known to
  // be the slave.
  if (connected == TXR_OWNED_ELSEWHERE) {
    ShowForeignAfterChange(window, address, baudIndex);
  } else {
    ShowMissingAfterChange(window, address, baudIndex);
  }
  return TXR_REPORTED;
}

// Steps common to both changes: the slave connected where it is now, the
// watchdog of its explicit connection off and its identity read. TXR_OK,
// or the step's result after the release (and the report where a request
// failed or the slave belongs to another master).
uint32_t Reach(void* window, uint8_t address, Identity& identity) {
  ShowNumberProgress(window, IDS_PROGRESS_CONNECTING, address);
  uint32_t connected = ConnectWithin(address, CONNECT_WINDOW_MS);
  if (IsSetAtOwnMac(connected)) {
    // Released only on the user's word: a scanner at our MAC ID may own it.
    if (!AskTakeOverSet(window, address, OwnMac())) {
      ClearProgress(window);
      return TXR_REPORTED;
    }
    TakeOverSet(address, OwnMac());
    connected = ConnectWithin(address, CONNECT_WINDOW_MS);
  }
  ClearProgress(window);
  if (connected == TXR_OWNED_ELSEWHERE) {
    ShowOwnedElsewhere(window, address);
    return TXR_REPORTED;
  }
  if (connected != TXR_OK) {
    TxRelease(address, OwnMac());
    return TXR_NO_SLAVE;
  }
  uint32_t result = SetNoWatchdog(address, CONN_INSTANCE_EXPLICIT);
  if (result == TXR_OK) result = ReadIdentity(window, address, identity);
  if (result != TXR_OK) {
    TxRelease(address, OwnMac());
    ReportResultFor(window, result, address);
  }
  return result;
}

// Set_Attribute_Single of one byte to the DeviceNet object.
uint32_t WriteDeviceNetAttribute(uint8_t address, uint8_t attribute, uint8_t value) {
  uint8_t buffer[RESPONSE_SIZE] = {value};
  uint32_t length = 0;
  const ServiceRequest write{
      GROUP_2, SVC_SET_ATTRIBUTE_SINGLE, CLASS_DEVICENET, DEVICENET_INSTANCE, attribute, 1};
  return TxService(address, OwnMac(), write, buffer, length);
}

void ShowRestartWait(void* window, uint32_t start) {
  ShowNumberProgress(window, IDS_PROGRESS_RESTART_WAIT, (platform::TickMs() - start) / 1000);
}

// Listens for up to `ms` (cut at the end of the check window), the seconds
// shown as they pass. True when the node at `address` sent a check request
// for itself meanwhile.
bool ListenForCheck(void* window, uint8_t address, uint32_t start, uint32_t ms) {
  const uint32_t seen = TxChecksHeard(address);
  const uint32_t begin = platform::TickMs();
  for (;;) {
    const uint32_t now = platform::TickMs();
    const uint32_t elapsed = now - begin;
    const uint32_t inWindow = now - start;
    if (elapsed >= ms || inWindow > CHECK_WINDOW_MS) return false;
    uint32_t slice = ms - elapsed;
    if (slice > PROGRESS_STEP_MS) slice = PROGRESS_STEP_MS;
    if (slice > CHECK_WINDOW_MS - inWindow + 1) slice = CHECK_WINDOW_MS - inWindow + 1;
    ShowRestartWait(window, start);
    if (TxAwaitCheck(address, seen, slice)) return true;
  }
}

// After the slave restarted at `address` (`start`: when; `seen`: its check
// requests heard before), connects it once it is online again, within the
// check window. A restarting node announces itself with its own Duplicate
// MAC ID check: nothing goes to its MAC ID while it checks, and the
// connection is tried once it has been quiet for a check period. Returns
// TxConnect's last result.
uint32_t ConnectAfterRestart(void* window, uint8_t address, uint32_t seen, uint32_t start) {
  bool heard = TxChecksHeard(address) != seen;
  bool tried = false;
  uint32_t result = TXR_TIMEOUT;
  for (;;) {
    const uint32_t elapsed = platform::TickMs() - start;
    if (elapsed > CHECK_WINDOW_MS) break;
    uint32_t listen = RETRY_PAUSE_MS;
    if (heard) {
      listen = NODE_CHECK_QUIET_MS;
    } else if (!tried) {
      listen = elapsed < FIRST_CHECK_MS ? FIRST_CHECK_MS - elapsed : 0;
    }
    heard = ListenForCheck(window, address, start, listen);
    if (heard) continue;
    if (platform::TickMs() - start > CHECK_WINDOW_MS) break;
    ShowRestartWait(window, start);
    result = TxConnect(address, OwnMac(), CONNECT_TIMEOUT_MS);
    tried = true;
    // An adapter that refuses to send refuses the next try too.
    if (result == TXR_OK || result == TXR_OWNED_ELSEWHERE || (result & TXR_ADAPTER_ERROR)) break;
  }
  ClearProgress(window);
  return result;
}

void AddressText(int address, char* text) {
  std::snprintf(text, ADDRESS_TEXT_SIZE, "%d", address);
}

void ShowSlaveMissing(void* window, int address) {
  char text[ADDRESS_TEXT_SIZE];
  AddressText(address, text);
  persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_SLAVE_MISSING,
                      text, nullptr, nullptr);
}

}  // namespace

uint32_t ChangeAddress(void* window) {
  lastSent = SENT_NOTHING;
  if (NewAddress == OldAddress) return TXR_OK;
  const uint8_t from = Mac(OldAddress);
  const uint8_t to = Mac(NewAddress);
  if (!Prepare(window, from, to)) return TXR_REPORTED;

  Identity identity{};
  uint32_t result = Reach(window, from, identity);
  if (result != TXR_OK) return result;

  // Two devices with one MAC ID both drop off a running network: never
  // write onto an address where a device answers, however slowly.
  ShowNumberProgress(window, IDS_PROGRESS_CHECK_ADDRESS, to);
  const MacCheck check = CheckAddress(to);
  ClearProgress(window);
  if (check == MAC_NOT_SENT) {
    // The adapter refused the probe: nothing is known of the address.
    TxRelease(from, OwnMac());
    ShowCheckRefused(window, to);
    return TXR_REPORTED;
  }
  if (check == MAC_TAKEN) {
    TxRelease(from, OwnMac());
    char newText[ADDRESS_TEXT_SIZE];
    char oldText[ADDRESS_TEXT_SIZE];
    AddressText(to, newText);
    AddressText(from, oldText);
    persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_ADDRESS_IN_USE,
                        newText, oldText, nullptr);
    return TXR_ADDRESS_IN_USE;
  }

  ShowProgressText(window, IDS_PROGRESS_WRITING_ADDRESS, nullptr);
  // The slave restarts at the new MAC ID and announces itself there, maybe
  // while the write's response is still awaited.
  const uint32_t seen = TxChecksHeard(to);
  result = WriteDeviceNetAttribute(from, ATTR_MAC_ID, to);
  const uint32_t start = platform::TickMs();
  ClearProgress(window);
  if (result != TXR_OK) {
    TxRelease(from, OwnMac());
    return result;
  }
  // Its connections are gone with the restart.
  ForgetHeldSet();
  const uint32_t connected = ConnectAfterRestart(window, to, seen, start);
  return Confirm(window, connected, to, g_App.BaudIndex, identity);
}

uint32_t ChangeBaud(void* window, uint8_t address) {
  lastSent = SENT_NOTHING;
  if (NewBaudIndex == OldBaudIndex) return TXR_OK;
  address = Mac(address);
  if (!Prepare(window, address, address)) return TXR_REPORTED;

  Identity identity{};
  uint32_t result = Reach(window, address, identity);
  if (result != TXR_OK) return result;

  ShowProgressText(window, IDS_PROGRESS_WRITING_BAUD, nullptr);
  result = WriteDeviceNetAttribute(address, ATTR_BAUD_RATE, static_cast<uint8_t>(NewBaudIndex));
  if (result != TXR_OK) {
    ClearProgress(window);
    TxRelease(address, OwnMac());
    return result;
  }
  // The new rate takes effect at the reset, which also drops the
  // connections: any answer, or none, means the request went out.
  const uint32_t seen = TxChecksHeard(address);
  const uint32_t reset = TxReset(address);
  const uint32_t start = platform::TickMs();
  ClearProgress(window);
  if (reset == 0) {
    TxRelease(address, OwnMac());
    return TXR_FAILED;
  }
  ForgetHeldSet();
  // The slave now runs at the new rate, where the adapter stays open while
  // it announces itself. The own MAC ID is checked afresh there: a claim
  // made at one rate says nothing of another.
  ReleaseOwnMacId();
  if (!can::CloseAdapter(window) || !can::OpenAdapter(window, NewBaudIndex) ||
      !Prepare(window, address, address)) {
    ShowMissingAfterChange(window, address, NewBaudIndex);
    return TXR_REPORTED;
  }
  const uint32_t connected = ConnectAfterRestart(window, address, seen, start);
  return Confirm(window, connected, address, NewBaudIndex, identity);
}

namespace {

int CarryOutSteps(void* window, void* mainWindow, void (*fillMainLists)(void* mainWindow));

}  // namespace

int ChangeCarryOut(void* window, void* mainWindow, void (*fillMainLists)(void* mainWindow)) {
  // The window keeps handling messages while the change waits; its
  // handlers refuse what would interfere meanwhile.
  const int wasBusy = g_App.OperationBusy;
  g_App.OperationBusy = 1;
  const int done = CarryOutSteps(window, mainWindow, fillMainLists);
  g_App.OperationBusy = wasBusy;
  ReleaseOwnMacId();
  TheCommView().ShowProgress(window, "");
  return done;
}

namespace {

enum RateCheck { RATE_FREE, RATE_TAKEN, RATE_UNCHECKED, RATE_REFUSED };

// A slave moved onto a MAC ID that is taken at its new rate finds the other
// node in its own check and stays off the bus at every rate: before the
// slave goes to NewBaudIndex, the adapter opens there and `address` must
// not answer. RATE_TAKEN after the message (the slave stays at `stay`, its
// rate OldBaudIndex); RATE_UNCHECKED when the adapter did not open or
// refused the probe (its message shown); RATE_REFUSED when the adapter could not be closed.
RateCheck CheckFreeAtNewRate(void* window, int address, int stay) {
  if (!can::CloseAdapter(window)) return RATE_REFUSED;
  if (!can::OpenAdapter(window, NewBaudIndex)) return RATE_UNCHECKED;
  // Checks heard at the old rate, such as the slave's own after an address
  // step, tell nothing of this one.
  devicenet::ForgetChecksHeard(devicenet::g_NodeTable);
  SetPumpHook(TheCommView().ProcessMessage);
  char number[ADDRESS_TEXT_SIZE];
  char rate[ADDRESS_TEXT_SIZE];
  AddressText(address, number);
  RateText(NewBaudIndex, rate);
  char text[PROGRESS_TEXT_SIZE];
  persist::FormatResString(IDS_PROGRESS_CHECK_ADDRESS_AT, number, rate, nullptr, text, sizeof text);
  TheCommView().ShowProgress(window, text);
  const MacCheck check = CheckAddress(Mac(address));
  ClearProgress(window);
  if (check == MAC_NOT_SENT) ShowCheckRefused(window, Mac(address));
  if (!can::CloseAdapter(window)) return RATE_REFUSED;
  if (check == MAC_NOT_SENT) return RATE_UNCHECKED;
  if (check == MAC_FREE) return RATE_FREE;
  char place[PLACE_TEXT_SIZE];
  PlaceText(stay, OldBaudIndex, place);
  persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                      IDS_ADDRESS_IN_USE_AT_RATE, number, rate, place);
  return RATE_TAKEN;
}

int CarryOutSteps(void* window, void* mainWindow, void (*fillMainLists)(void* mainWindow)) {
  // Where the slave is while the steps run: NewAddress only once the
  // address step has succeeded.
  int present = OldAddress;
  lastSent = SENT_NOTHING;
  const bool baudStep = NewBaudIndex != OldBaudIndex;

  if (baudStep) {
    const RateCheck check = CheckFreeAtNewRate(window, NewAddress, OldAddress);
    if (check == RATE_REFUSED) return CHANGE_REFUSED;
    if (check != RATE_FREE) return CHANGE_AGAIN;
  }

  if (NewAddress != OldAddress) {
    if (!can::CloseAdapter(window)) return CHANGE_REFUSED;
    if (can::OpenAdapter(window, OldBaudIndex)) {
      void* cursor = persist::ShowWaitCursor();
      const uint32_t result = ChangeAddress(window);
      persist::RestoreCursor(cursor);
      if (result == TXR_NO_SLAVE) {
        ShowSlaveMissing(window, OldAddress);
        return CHANGE_DONE;
      }
      if (result == TXR_ADDRESS_IN_USE) {
        // Nothing written: the user may pick another address.
        return can::CloseAdapter(window) ? CHANGE_AGAIN : CHANGE_REFUSED;
      }
      if (result == TXR_OK) {
        g_App.CurrAdr = NewAddress;
        present = NewAddress;
      } else if (lastSent == SENT_MISSING) {
        // Told so: the main window follows the slave where it was sent.
        g_App.CurrAdr = NewAddress;
      } else if (!(result & TXR_REPORTED)) {
        persist::ShowMsg(window, nullptr, IDS_SET_ADDRESS_FAILED);
      }
    }
    if (!can::CloseAdapter(window)) return CHANGE_REFUSED;
    if (fillMainLists) fillMainLists(mainWindow);
    // A slave lost on the way is not looked for at another rate.
    if (lastSent == SENT_MISSING || lastSent == SENT_FOREIGN) return CHANGE_DONE;
  }

  if (baudStep) {
    // After a failed address step the slave goes to the new rate at its
    // old address, which must be free there too.
    if (present != NewAddress) {
      const RateCheck check = CheckFreeAtNewRate(window, present, present);
      if (check == RATE_REFUSED) return CHANGE_REFUSED;
      if (check != RATE_FREE) return CHANGE_DONE;
    }
    if (!can::CloseAdapter(window)) return CHANGE_REFUSED;
    if (can::OpenAdapter(window, OldBaudIndex)) {
      void* cursor = persist::ShowWaitCursor();
      const uint32_t result = ChangeBaud(window, Mac(present));
      persist::RestoreCursor(cursor);
      if (result == TXR_NO_SLAVE) {
        // The address looked at, which differs from OldAddress after a
        // successful address step.
        ShowSlaveMissing(window, present);
        return CHANGE_DONE;
      }
      if (result == TXR_OK) {
        g_App.BaudIndex = NewBaudIndex;
      } else if (lastSent == SENT_MISSING) {
        g_App.CurrAdr = present;
        g_App.BaudIndex = NewBaudIndex;
      } else if (!(result & TXR_REPORTED)) {
        persist::ShowMsg(window, nullptr, IDS_SET_BAUD_FAILED);
      }
    }
    if (!can::CloseAdapter(window)) return CHANGE_REFUSED;
    if (fillMainLists) fillMainLists(mainWindow);
  }
  return CHANGE_DONE;
}

}  // namespace

}  // namespace master
