#include "master/address_change.h"

#include <cstdio>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
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
constexpr uint32_t RESPONSE_SIZE = MAX_BODY_LEN;  // the most TxService returns
constexpr int ADDRESS_TEXT_SIZE = 16;

uint8_t Mac(int address) {
  return static_cast<uint8_t>(address & MAC_ID_MASK);
}

uint8_t OwnMac() {
  return g_NodeTable.OwnMacId;
}

// Steps common to both changes: the slave connected where it is now and the
// watchdog of its explicit connection off. TXR_OK, or the step's result
// after the release (and the report where the watchdog request failed).
uint32_t Reach(void* window, uint8_t address) {
  if (ConnectWithin(address, CONNECT_WINDOW_MS) != TXR_OK) {
    TxRelease(address, OwnMac());
    return TXR_NO_SLAVE;
  }
  const uint32_t result = SetNoWatchdog(address, CONN_INSTANCE_EXPLICIT);
  if (result != TXR_OK) {
    TxRelease(address, OwnMac());
    ReportResult(window, result);
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
  g_NodeTable.OwnMacId = PickOwnMacId(from, to);

  uint32_t result = Reach(window, from);
  if (result != TXR_OK) return result;

  // Two devices with one MAC ID both drop off a running network: never
  // write onto an address where a device answers.
  if (TxProbeMac(to, PROBE_TIMEOUT_MS) == TXR_OK) {
    TxRelease(from, OwnMac());
    char newText[ADDRESS_TEXT_SIZE];
    char oldText[ADDRESS_TEXT_SIZE];
    AddressText(to, newText);
    AddressText(from, oldText);
    persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_ADDRESS_IN_USE,
                        newText, oldText, nullptr);
    return TXR_ADDRESS_IN_USE;
  }

  result = WriteDeviceNetAttribute(from, ATTR_MAC_ID, to);
  if (result != TXR_OK) {
    TxRelease(from, OwnMac());
    return result;
  }

  // The slave restarts at the new MAC ID and runs its Duplicate MAC ID
  // check before it answers there.
  result = ConnectWithin(to, CHECK_WINDOW_MS);
  if (result != TXR_OK) {
    ReportResult(window, result);
    return result;
  }
  TxRelease(to, OwnMac());
  return TXR_OK;
}

uint32_t ChangeBaud(void* window, uint8_t address) {
  if (NewBaudIndex == OldBaudIndex) return TXR_OK;
  address = Mac(address);
  g_NodeTable.OwnMacId = PickOwnMacId(address, address);

  uint32_t result = Reach(window, address);
  if (result != TXR_OK) return result;

  result = WriteDeviceNetAttribute(address, ATTR_BAUD_RATE, static_cast<uint8_t>(NewBaudIndex));
  if (result != TXR_OK) {
    TxRelease(address, OwnMac());
    return result;
  }
  // The new rate takes effect at the reset, which also drops the
  // connections: any answer, or none, means the request went out.
  if (TxReset(address) == 0) {
    TxRelease(address, OwnMac());
    return TXR_FAILED;
  }
  if (!can::CloseAdapter(window) || !can::OpenAdapter(window, NewBaudIndex)) return TXR_FAILED;

  // Every attempt starts the adapter afresh at the new rate.
  const uint32_t start = platform::TickMs();
  if (!can::CloseAdapter(window)) return TXR_FAILED;
  for (;;) {
    if (!can::OpenAdapter(window, NewBaudIndex)) return TXR_FAILED;
    result = TxConnect(address, OwnMac(), CONNECT_TIMEOUT_MS);
    if (result == TXR_OK) {
      TxRelease(address, OwnMac());
      return TXR_OK;
    }
    if (platform::TickMs() - start > CHECK_WINDOW_MS) {
      ReportResult(window, result);
      return result;
    }
    if (!can::CloseAdapter(window)) return TXR_FAILED;
  }
}

int ChangeCarryOut(void* window, void* mainWindow, void (*fillMainLists)(void* mainWindow)) {
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
      } else if (result != TXR_ADDRESS_IN_USE) {
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
      } else {
        persist::ShowMsg(window, nullptr, IDS_SET_BAUD_FAILED);
      }
    }
    if (!can::CloseAdapter(window)) return CHANGE_REFUSED;
    if (fillMainLists) fillMainLists(mainWindow);
  }
  return CHANGE_DONE;
}

}  // namespace master
