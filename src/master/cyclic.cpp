// The cyclic exchange: the attribute requests queued by the attribute
// dialogs, then one poll of the slave and a refresh of the data views.
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "attributes/attributes.h"
#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "master/comm_view.h"
#include "master/session.h"
#include "master/transactions.h"
#include "persist/cursor.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/resstring.h"
#include "persist/ui_text.h"
#include "platform/platform.h"
#include "resource.h"

namespace master {

namespace {

using app::g_App;
using namespace devicenet;

constexpr int POLL_TRIES = 3;
constexpr uint32_t RESPONSE_SIZE = MAX_BODY_LEN;  // the most TxService returns
constexpr const char* RESPONSE_CAPTION = "Response";
// "XX " per response byte, then "hex" and the end.
constexpr int RESPONSE_TEXT_SIZE = RESPONSE_SIZE * 3 + 4;
constexpr int ID_TEXT_SIZE = 24;  // "FFFFFFFF hex", "-2147483648 dec"
constexpr int ID_NAME_SIZE = 64;  // a field's name in a refusal

ServiceRequest AttributeRequest(uint8_t service, uint8_t length) {
  return ServiceRequest{GROUP_2,
                        service,
                        static_cast<uint32_t>(g_App.AttrClassId),
                        static_cast<uint16_t>(g_App.AttrInstanceId),
                        static_cast<uint8_t>(g_App.AttrAttributeId),
                        length};
}

// The ID as the attribute dialogs show it: "12C hex" or "300 dec".
void IdText(int value, char* text, size_t size) {
  if (g_App.IdsInHex) {
    std::snprintf(text, size, "%X hex", static_cast<unsigned>(value));
  } else {
    std::snprintf(text, size, "%d dec", value);
  }
}

// True when the class and instance IDs fit the body format the slave
// granted the connection the request goes out on. Otherwise the box over
// `dialog` names the ID that does not, and nothing is sent: cut to the
// format's width it would name another object.
bool IdsFitConnection(void* dialog, const ServiceRequest& request) {
  uint32_t classMax = 0;
  uint32_t instanceMax = 0;
  // Without a known format TxService fails and the failure is reported.
  if (!TxPathLimits(CurrentSlave(), request, classMax, instanceMax)) return true;
  unsigned field = 0;
  int value = 0;
  uint32_t most = 0;
  if (g_App.AttrClassId < 0 || static_cast<uint32_t>(g_App.AttrClassId) > classMax) {
    field = IDS_ATTR_FIELD_CLASS;
    value = g_App.AttrClassId;
    most = classMax;
  } else if (g_App.AttrInstanceId < 0 ||
             static_cast<uint32_t>(g_App.AttrInstanceId) > instanceMax) {
    field = IDS_ATTR_FIELD_INSTANCE;
    value = g_App.AttrInstanceId;
    most = instanceMax;
  } else {
    return true;
  }
  char name[ID_NAME_SIZE];
  if (persist::LoadResString(field, name, sizeof name) == 0) name[0] = '\0';
  char text[ID_TEXT_SIZE];
  IdText(value, text, sizeof text);
  char allowed[ID_TEXT_SIZE * 2];
  attributes::FormatAttrRange(most > 0xFF ? attributes::ATTR_UINT : attributes::ATTR_USINT,
                              g_App.IdsInHex, allowed, sizeof allowed);
  persist::ShowMsgFmt(dialog, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_ATTR_ID_TOO_WIDE,
                      name, text, allowed);
  return false;
}

// While communication is inactive an attribute request brings up the
// adapter and the explicit connection on its own. 1 when the request can go
// out; 0 after the failure was shown.
int ReadyForRequest(void* window) {
  if (g_App.CommActive) return 1;
  if (!can::OpenAdapter(window, g_App.BaudIndex)) return 0;
  const int wasBusy = g_App.OperationBusy;
  g_App.OperationBusy = 1;
  const uint32_t connected = SlaveConnect(window, 0);
  g_App.OperationBusy = wasBusy;
  if (connected == TXR_REPORTED) return 0;
  if (connected != TXR_OK) {
    persist::ShowMsg(window, nullptr, IDS_SLAVE_INIT_FAILED);
    return 0;
  }
  return 1;
}

// 0 when the step must end (the read failed), else 1.
int CarryOutRead(void* window) {
  g_App.ReadAttrPending = 0;
  void* cursor = persist::ShowWaitCursor();
  if (!ReadyForRequest(window)) {
    persist::RestoreCursor(cursor);
    return 0;
  }
  const ServiceRequest request = AttributeRequest(SVC_GET_ATTRIBUTE_SINGLE, 0);
  if (!IdsFitConnection(g_App.hReadAttrDlg ? g_App.hReadAttrDlg : window, request)) {
    persist::RestoreCursor(cursor);
    return 0;
  }
  static uint8_t response[RESPONSE_SIZE];
  std::memset(response, 0, sizeof response);
  uint32_t length = 0;
  const uint32_t result =
      TxService(CurrentSlave(), g_NodeTable.OwnMacId, request, response, length);
  if (result != TXR_OK) {
    persist::RestoreCursor(cursor);
    ReportResult(window, result);
    return 0;
  }
  // A dialog closed while the request waited drops the result: the value
  // text is what a dialog opened later shows.
  if (g_App.hReadAttrDlg) {
    if (length >= 1 && length <= RESPONSE_SIZE) {
      attributes::FormatAttrValue(g_App.AttrType, g_App.ValueInHex, response,
                                  static_cast<int>(length), g_App.AttrValueText,
                                  app::ATTR_VALUE_TEXT_SIZE);
    } else {
      // No data: the last value text must not pass for this read's result.
      g_App.AttrValueText[0] = '\0';
    }
    persist::SetControlText(g_App.hReadAttrDlg, IDC_ATTR_RESULT, g_App.AttrValueText);
  }
  persist::RestoreCursor(cursor);
  return 1;
}

// The response bytes as raw hex ("A1 BC hex"), the way a read shows them.
void ShowServiceResponse(const uint8_t* bytes, uint32_t length) {
  static char text[RESPONSE_TEXT_SIZE];
  const uint32_t count = length < RESPONSE_SIZE ? length : RESPONSE_SIZE;
  attributes::FormatAttrValue(attributes::ATTR_RAW_HEX, 0, bytes, static_cast<int>(count), text,
                              RESPONSE_TEXT_SIZE);
  persist::ShowMessageBox(g_App.hWriteAttrDlg, text, RESPONSE_CAPTION, persist::BOX_OK);
}

// 0 when the step must end (the write failed), else 1.
int CarryOutWrite(void* window) {
  g_App.WriteAttrPending = 0;
  void* cursor = persist::ShowWaitCursor();
  if (!ReadyForRequest(window)) {
    persist::RestoreCursor(cursor);
    return 0;
  }
  const uint8_t service = g_App.ServiceMode ? g_App.ServiceCode : SVC_SET_ATTRIBUTE_SINGLE;
  uint32_t length = 0;
  // The exchange runs on a copy: a click on Write while it waits puts a new
  // value into WriteValue and queues it, and the response must not replace it.
  static uint8_t exchange[RESPONSE_SIZE];
  std::memcpy(exchange, g_App.WriteValue, g_App.WriteValueLength);
  const ServiceRequest request = AttributeRequest(service, g_App.WriteValueLength);
  if (!IdsFitConnection(g_App.hWriteAttrDlg ? g_App.hWriteAttrDlg : window, request)) {
    persist::RestoreCursor(cursor);
    return 0;
  }
  const uint32_t result =
      TxService(CurrentSlave(), g_NodeTable.OwnMacId, request, exchange, length);
  if (result != TXR_OK) {
    persist::RestoreCursor(cursor);
    ReportResult(window, result);
    return 0;
  }
  // As with a read, a dialog closed meanwhile drops the result.
  if (g_App.hWriteAttrDlg) {
    persist::SetControlText(g_App.hWriteAttrDlg, IDC_ATTR_SEND_VALUE, g_App.AttrValueText);
    if (g_App.ServiceMode) ShowServiceResponse(exchange, length);
  }
  persist::RestoreCursor(cursor);
  return 1;
}

int RunStep(void* window);

}  // namespace

int CyclicStep(void* window) {
  // Without the main window (the exit has run) nothing may start again;
  // a step never runs inside another one or inside a waiting transaction.
  if (g_App.CyclicBusy || g_App.StepRunning || g_App.TxWaitDepth || !window) return 0;
  g_App.StepRunning = 1;
  const int polled = RunStep(window);
  g_App.StepRunning = 0;
  return polled;
}

namespace {

int RunStep(void* window) {
  if (g_App.ReadAttrPending && !CarryOutRead(window)) return 0;
  if (g_App.WriteAttrPending && !CarryOutWrite(window)) return 0;
  if (!g_App.CommActive || !g_App.Io) return 0;

  can::ShowBusStatus(window);
  const CommView& view = TheCommView();
  view.CommitOutputs();
  g_App.CyclicBusy = 1;
  can::TakeStatusSeen();  // what the adapter showed before this step is no news
  uint32_t result = TXR_IO_FAILED;
  for (int attempt = 0; attempt < POLL_TRIES && result != TXR_OK; ++attempt) {
    result = TxPoll(CurrentSlave(), *g_App.Io);
  }
  if (result == TXR_OK) g_App.InputReceived = 1;
  // A bus off or error passive during the exchange means frames were lost
  // or garbled (two masters polling one slave, wiring): not a success, even
  // where a poll got through.
  const uint32_t status = can::TakeStatusSeen();
  if (status & (can::CAN_STATUS_BUS_OFF | can::CAN_STATUS_BUS_HEAVY)) {
    result = TXR_BUS_FAULT | (status & TXR_BUS_STATUS_MASK);
  }
  g_App.CyclicBusy = 0;
  platform::Sleep1Ms();
  if (result != TXR_OK && !ReportResult(window, result)) return 0;
  view.RefreshDataViews(window, g_App.Io, 0);
  return 1;
}

}  // namespace

int ServiceIdleBus() {
  if (!g_App.AdapterOpen || g_App.CommActive || g_App.CyclicBusy || g_App.TxWaitDepth ||
      g_App.OperationBusy) {
    return 0;
  }
  LinkTick();
  return 1;
}

}  // namespace master
