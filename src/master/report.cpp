// The one place where a failed transaction becomes a message.
#include <cstdio>

#include "app/app_state.h"
#include "can/can_driver.h"
#include "master/comm_view.h"
#include "master/session.h"
#include "master/transactions.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "resource.h"

namespace master {

using app::g_App;

int ReportResult(void* window, uint32_t result) {
  g_App.LastBusStatus = app::NO_BUS_STATUS_SHOWN;
  can::ShowBusStatus(window);
  if (result == TXR_OK) return 1;

  if (result & TXR_GEC_MASK) {
    char code[8];
    std::snprintf(code, sizeof code, "%02X",
                  static_cast<unsigned>((result & TXR_GEC_MASK) >> TXR_GEC_SHIFT));
    persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                        IDS_ATTR_ACCESS_FAILED, code, nullptr, nullptr);
    return 0;
  }
  if (!g_App.CommActive) {
    persist::ShowMsg(window, nullptr, IDS_COMM_FAILURE);
    return 0;
  }

  const int answer =
      persist::ShowMsgFmt(window, persist::BOX_RETRYCANCEL | persist::BOX_ICONEXCLAMATION,
                          IDS_COMM_FAILURE, nullptr, nullptr, nullptr);
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
