#include <cstring>

#include "persist/settings.h"

namespace persist {

const SettingKey SETTING_KEYS[SETTING_KEY_COUNT] = {
    {"Tarnix", "PrinterPort", DEFAULT_PRINTER_PORT, &app::AppState::PrinterPort, true},
    {"Tarnix", "Baud", DEFAULT_BAUD_INDEX, &app::AppState::BaudIndex, true},
    {"Tarnix", "CurrAdr", DEFAULT_CURR_ADR, &app::AppState::CurrAdr, true},
    // Chosen in the Communication menu, so kept like the port and address.
    {"Tarnix", "SlaveWatchdog", 0, &app::AppState::SlaveWatchdog, true},
    {"Log", "InputData", 0, &app::AppState::LogInputData, false},
    {"Log", "FlowColumns", 0, &app::AppState::LogFlowColumns, false},
    {"Service", "Show", 0, &app::AppState::ServiceShow, false},
};

namespace {

constexpr int BAUD_INDEX_COUNT = 3;
constexpr int MAC_ID_COUNT = 64;

}  // namespace

void AppendPathCut(char* path, const char* tail) {
  size_t used = std::strlen(path);
  const size_t limit = SETTINGS_PATH_SIZE - 1;
  while (used < limit && *tail) path[used++] = *tail++;
  path[used < limit ? used : limit] = '\0';
}

void BuildSettingsPaths(const char* appData, char* folder, char* file) {
  folder[0] = '\0';
  AppendPathCut(folder, appData);
  AppendPathCut(folder, SETTINGS_FOLDER);
  std::memcpy(file, folder, SETTINGS_PATH_SIZE);
  AppendPathCut(file, SETTINGS_FILE);
}

void ReadSettingsWith(ReadIntFn readInt, void* context) {
  app::AppState& state = app::g_App;
  for (const SettingKey& key : SETTING_KEYS) {
    state.*key.field = readInt(key.section, key.key, key.defaultValue, context);
  }
  // A hand-edited file must not select a baud row or an address that does
  // not exist: other parts index tables with these.
  if (state.BaudIndex < 0 || state.BaudIndex >= BAUD_INDEX_COUNT) {
    state.BaudIndex = DEFAULT_BAUD_INDEX;
  }
  if (state.CurrAdr < 0 || state.CurrAdr >= MAC_ID_COUNT) state.CurrAdr = DEFAULT_CURR_ADR;
}

void WriteSettingsWith(WriteIntFn writeInt, void* context) {
  for (const SettingKey& key : SETTING_KEYS) {
    if (key.written) writeInt(key.section, key.key, app::g_App.*key.field, context);
  }
}

}  // namespace persist
