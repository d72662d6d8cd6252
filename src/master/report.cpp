// The one place where a failed transaction becomes a message.
#include <cstdio>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "master/comm_view.h"
#include "master/own_mac.h"
#include "master/session.h"
#include "master/transactions.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/resstring.h"
#include "resource.h"

namespace master {

using app::g_App;

void ShowOwnedElsewhere(void* window, uint8_t address) {
  char text[8];
  std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(address));
  persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                      IDS_OWNED_BY_OTHER_MASTER, text, nullptr, nullptr);
}

constexpr int DETAIL_SIZE = 400;

bool AskTakeOverSet(void* window, uint8_t address, uint8_t ownMacId) {
  char slave[8];
  char own[8];
  std::snprintf(slave, sizeof slave, "%u", static_cast<unsigned>(address));
  std::snprintf(own, sizeof own, "%u", static_cast<unsigned>(ownMacId));
  return persist::ShowMsgFmt(
             window, persist::BOX_YESNO | persist::BOX_ICONQUESTION | persist::BOX_DEFBUTTON2,
             IDS_TAKE_OVER_SET, slave, own, nullptr) == persist::BOX_IDYES;
}

void ShowConnectFailed(void* window, uint32_t result, uint8_t address) {
  char number[8];
  std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(address));
  char detail[DETAIL_SIZE];
  size_t used = persist::FormatResString(IDS_DETAIL_SLAVE_ADDRESS, number, nullptr, nullptr, detail,
                                         sizeof detail);
  char line[DETAIL_SIZE] = "";
  if (result & TXR_GEC_MASK) {
    char code[DETAIL_SIZE];
    ErrorCodeText(result, code, sizeof code);
    persist::FormatResString(IDS_CONNECT_LAST_CODE, code, nullptr, nullptr, line, sizeof line);
  } else if (result == TXR_TIMEOUT) {
    persist::FormatResString(IDS_CONNECT_NO_ANSWER, nullptr, nullptr, nullptr, line, sizeof line);
  }
  if (line[0] && used + 1 < sizeof detail) {
    if (used > 0) detail[used++] = '\n';
    std::snprintf(detail + used, sizeof detail - used, "%s", line);
  }
  persist::ShowMsgDetail(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                         IDS_SLAVE_INIT_FAILED, detail);
}

void ErrorCodeText(uint32_t result, char* text, size_t size) {
  persist::ErrorCodeText(static_cast<uint8_t>((result & TXR_GEC_MASK) >> TXR_GEC_SHIFT),
                         static_cast<uint8_t>((result & TXR_AEC_MASK) >> TXR_AEC_SHIFT), text,
                         size);
}

void AdapterErrorText(uint32_t result, char* status, size_t statusSize, char* code,
                      size_t codeSize) {
  const uint32_t word = result & TXR_ADAPTER_WORD_MASK;
  std::snprintf(code, codeSize, "%04X", static_cast<unsigned>(word));
  // CAN_Write's "queue full" shares the word with the status bits; alone it
  // means a queue that never drained.
  const uint32_t bits = word & ~can::CAN_ERR_QXMTFULL;
  const unsigned id = bits == 0 && (word & can::CAN_ERR_QXMTFULL) ? IDS_ADAPTER_QUEUE_STUCK
                      : bits == 0                                 ? IDS_BUS_UNKNOWN
                                                                  : can::BusStatusStringId(bits);
  if (persist::LoadResString(id, status, static_cast<int>(statusSize)) == 0 && statusSize > 0) {
    status[0] = '\0';
  }
}

namespace {

// The lines added to message 1008: the slave's address and, after a bus
// fault, the adapter's status in words, or the error of an adapter that
// refused to send.
void FailureDetail(uint32_t result, uint8_t address, char* text, size_t size) {
  char number[8];
  std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(address));
  size_t used =
      persist::FormatResString(IDS_DETAIL_SLAVE_ADDRESS, number, nullptr, nullptr, text, size);
  if ((result & TXR_ADAPTER_ERROR) && used + 1 < size) {
    char status[DETAIL_SIZE];
    char code[16];
    AdapterErrorText(result, status, sizeof status, code, sizeof code);
    if (used > 0) text[used++] = '\n';
    persist::FormatResString(IDS_DETAIL_ADAPTER_REFUSED, status, code, nullptr, text + used,
                             size - used);
    return;
  }
  if (!(result & TXR_BUS_FAULT) || used + 1 >= size) return;
  char status[DETAIL_SIZE];
  if (persist::LoadResString(can::BusStatusStringId(result & TXR_BUS_STATUS_MASK), status,
                             sizeof status) == 0) {
    return;
  }
  if (used > 0) text[used++] = '\n';
  persist::FormatResString(IDS_DETAIL_BUS_STATUS, status, nullptr, nullptr, text + used,
                           size - used);
}

}  // namespace

int ReportResult(void* window, uint32_t result) {
  return ReportResultFor(window, result, CurrentSlave());
}

int ReportResultFor(void* window, uint32_t result, uint8_t address) {
  g_App.LastBusStatus = app::NO_BUS_STATUS_SHOWN;
  can::ShowBusStatus(window);
  if (result == TXR_OK) return 1;
  // The failure came from giving the own MAC ID up: say that, and stop as
  // after a failure, without a Release (it would go out under that MAC ID).
  if (ReportOwnMacLost(window)) {
    if (g_App.CommActive) CommStop(window);
    return 0;
  }
  if (result & TXR_REPORTED) return 0;
  if (result == TXR_OWNED_ELSEWHERE) {
    ShowOwnedElsewhere(window, address);
    return 0;
  }

  if (!(result & TXR_BUS_FAULT) && (result & TXR_GEC_MASK)) {
    char code[DETAIL_SIZE];
    ErrorCodeText(result, code, sizeof code);
    persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                        IDS_ATTR_ACCESS_FAILED, code, nullptr, nullptr);
    return 0;
  }
  char detail[DETAIL_SIZE];
  FailureDetail(result, address, detail, sizeof detail);
  if (!g_App.CommActive) {
    persist::ShowMsgDetail(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION, IDS_COMM_FAILURE,
                           detail);
    return 0;
  }

  const int answer = persist::ShowMsgDetail(
      window, persist::BOX_RETRYCANCEL | persist::BOX_ICONEXCLAMATION, IDS_COMM_FAILURE, detail);
  if (answer != persist::BOX_IDRETRY) {
    CommStop(window);
    return 0;
  }
  if (PollConnectionEstablished()) return 1;
  CommStop(window);
  if (!CommStart(window)) return 0;
  TheCommView().UpdateControlStates(window);
  return 1;
}

}  // namespace master
