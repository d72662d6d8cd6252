#include "app/app_state.h"

namespace app {

AppState g_App;

void InitAppState(ModuleHandle instance) {
  g_App = AppState{};
  g_App.hInst = instance;
  g_App.LastBusStatus = NO_BUS_STATUS_SHOWN;
  g_App.PendingCommand = CMD_NONE;
  g_App.AttrClassId = 1;
  g_App.AttrInstanceId = 1;
  g_App.AttrAttributeId = 1;
  g_App.ValueInHex = 1;
  g_App.IdsInHex = 1;
  g_App.WriteValueLength = 1;
  g_App.OwnMacChoice = DEFAULT_OWN_MAC_CHOICE;
}

}  // namespace app
