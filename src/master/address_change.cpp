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
constexpr uint16_t DEVICENET_INSTANCE = 1;
constexpr uint8_t ATTR_MAC_ID = 1;
constexpr uint8_t ATTR_BAUD_RATE = 2;
constexpr uint16_t IDENTITY_INSTANCE = 1;
constexpr uint8_t ATTR_VENDOR_ID = 1;
constexpr uint8_t ATTR_PRODUCT_CODE = 3;
constexpr uint8_t ATTR_SERIAL_NUMBER = 6;
constexpr uint32_t RESPONSE_SIZE = MAX_BODY_LEN;  // the most TxService returns
constexpr int ADDRESS_TEXT_SIZE = 16;
constexpr int PROGRESS_TEXT_SIZE = 200;

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

// The device now connected at `address` must be the one that was changed.
// TXR_OK; TXR_REPORTED after message 1052 when another device answers
// there; or the failing read's result.
uint32_t CheckSameDevice(void* window, uint8_t address, const Identity& before) {
  Identity after{};
  const uint32_t result = ReadIdentity(window, address, after);
  if (result != TXR_OK) return result;
  if (after.vendor == before.vendor && after.productCode == before.productCode &&
      after.serial == before.serial) {
    return TXR_OK;
  }
  char text[ADDRESS_TEXT_SIZE];
  std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(address));
  persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_IDENTITY_MISMATCH,
                      text, nullptr, nullptr);
  return TXR_REPORTED;
}

// Steps common to both changes: the slave connected where it is now, the
// watchdog of its explicit connection off and its identity read. TXR_OK,
// or the step's result after the release (and the report where a request
// failed or the slave belongs to another master).
uint32_t Reach(void* window, uint8_t address, Identity& identity) {
  ShowNumberProgress(window, IDS_PROGRESS_CONNECTING, address);
  const uint32_t connected = ConnectWithin(address, CONNECT_WINDOW_MS);
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

// One connect attempt after the slave's restart, with the seconds waited
// so far shown.
uint32_t ConnectAfterRestart(void* window, uint8_t address, uint32_t start) {
  ShowNumberProgress(window, IDS_PROGRESS_RESTART_WAIT, (platform::TickMs() - start) / 1000);
  return TxConnect(address, OwnMac(), CONNECT_TIMEOUT_MS);
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
  const bool taken = AddressTaken(to);
  ClearProgress(window);
  if (taken) {
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
  result = WriteDeviceNetAttribute(from, ATTR_MAC_ID, to);
  ClearProgress(window);
  if (result != TXR_OK) {
    TxRelease(from, OwnMac());
    return result;
  }
  // The slave restarts at the new MAC ID, its connections gone, and runs
  // its Duplicate MAC ID check before it answers there.
  ForgetHeldSet();
  const uint32_t start = platform::TickMs();
  do {
    result = ConnectAfterRestart(window, to, start);
  } while (result != TXR_OK && result != TXR_OWNED_ELSEWHERE &&
           platform::TickMs() - start <= CHECK_WINDOW_MS);
  ClearProgress(window);
  if (result == TXR_OWNED_ELSEWHERE) {
    // Whoever answers at the new address belongs to another master: not
    // the slave that was moved.
    char text[ADDRESS_TEXT_SIZE];
    AddressText(to, text);
    persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                        IDS_IDENTITY_MISMATCH, text, nullptr, nullptr);
    return TXR_REPORTED;
  }
  if (result != TXR_OK) {
    ReportResultFor(window, result, to);
    return result;
  }
  result = CheckSameDevice(window, to, identity);
  TxRelease(to, OwnMac());
  return result;
}

uint32_t ChangeBaud(void* window, uint8_t address) {
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
  const uint32_t reset = TxReset(address);
  ClearProgress(window);
  if (reset == 0) {
    TxRelease(address, OwnMac());
    return TXR_FAILED;
  }
  ForgetHeldSet();
  ReleaseOwnMacId();
  if (!can::CloseAdapter(window) || !can::OpenAdapter(window, NewBaudIndex)) return TXR_FAILED;
  // The own MAC ID is checked afresh on the bus at the new rate.
  if (!Prepare(window, address, address)) return TXR_REPORTED;

  // Every attempt starts the adapter afresh at the new rate.
  const uint32_t start = platform::TickMs();
  for (;;) {
    if (!can::CloseAdapter(window) || !can::OpenAdapter(window, NewBaudIndex)) return TXR_FAILED;
    SetPumpHook(TheCommView().ProcessMessage);
    result = ConnectAfterRestart(window, address, start);
    if (result == TXR_OK) {
      ClearProgress(window);
      result = CheckSameDevice(window, address, identity);
      TxRelease(address, OwnMac());
      return result;
    }
    if (result == TXR_OWNED_ELSEWHERE || platform::TickMs() - start > CHECK_WINDOW_MS) {
      ClearProgress(window);
      ReportResultFor(window, result, address);
      return result == TXR_OWNED_ELSEWHERE ? TXR_REPORTED : result;
    }
  }
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

int CarryOutSteps(void* window, void* mainWindow, void (*fillMainLists)(void* mainWindow)) {
  // Where the slave is while the steps run: NewAddress only once the
  // address step has succeeded.
  int present = OldAddress;

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
      if (result == TXR_OK) {
        g_App.CurrAdr = NewAddress;
        present = NewAddress;
      } else if (result != TXR_ADDRESS_IN_USE && !(result & TXR_REPORTED)) {
        persist::ShowMsg(window, nullptr, IDS_SET_ADDRESS_FAILED);
      }
    }
    if (!can::CloseAdapter(window)) return CHANGE_REFUSED;
    if (fillMainLists) fillMainLists(mainWindow);
  }

  if (NewBaudIndex != OldBaudIndex) {
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
