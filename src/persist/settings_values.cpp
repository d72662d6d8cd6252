#include <cstdint>
#include <cstring>
#include <limits>

#include "persist/settings.h"

namespace persist {

namespace {

constexpr int BAUD_INDEX_LAST = 2;  // 500 kBaud
constexpr int MAC_ID_LAST = 63;

}  // namespace

// Other parts index tables with the baud index and the address, so a
// hand-edited file must not select a row or an address that does not exist.
const SettingKey SETTING_KEYS[SETTING_KEY_COUNT] = {
    {"Tarnix", "PrinterPort", DEFAULT_PRINTER_PORT, &app::AppState::PrinterPort, true, SETTING_PORT,
     0, 0},
    {"Tarnix", "Baud", DEFAULT_BAUD_INDEX, &app::AppState::BaudIndex, true, SETTING_RANGE, 0,
     BAUD_INDEX_LAST},
    {"Tarnix", "CurrAdr", DEFAULT_CURR_ADR, &app::AppState::CurrAdr, true, SETTING_RANGE, 0,
     MAC_ID_LAST},
    {"Tarnix", "SlaveWatchdog", 0, &app::AppState::SlaveWatchdog, true, SETTING_SWITCH, 0, 1},
    {"Tarnix", "OwnMacFixed", 0, &app::AppState::OwnMacFixed, true, SETTING_SWITCH, 0, 1},
    {"Tarnix", "OwnMacId", app::DEFAULT_OWN_MAC_CHOICE, &app::AppState::OwnMacChoice, true,
     SETTING_RANGE, 0, MAC_ID_LAST},
    // 0 (or an unreadable text): a new serial number is drawn at the first check.
    {"Tarnix", "CheckSerial", 0, &app::AppState::CheckSerial, true, SETTING_NUMBER, 0, 0},
    {"Log", "InputData", 0, &app::AppState::LogInputData, false, SETTING_SWITCH, 0, 1},
    {"Log", "FlowColumns", 0, &app::AppState::LogFlowColumns, false, SETTING_SWITCH, 0, 1},
    {"Service", "Show", 0, &app::AppState::ServiceShow, false, SETTING_SWITCH, 0, 1},
};

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Reads `text` as one decimal integer with blanks around it and an optional
// sign. The magnitude stops growing past what any int can hold, so a long
// number stays a large one instead of wrapping. False when it is no number.
bool ReadNumber(const char* text, int64_t* value) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  constexpr int64_t kBeyondInt = int64_t{1} << 40;
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > kBeyondInt) magnitude = kBeyondInt;
  }
  while (IsBlank(*p)) ++p;
  if (*p != '\0') return false;
  *value = negative ? -magnitude : magnitude;
  return true;
}

bool FitsInt(int64_t value) {
  return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

}  // namespace

int SettingValue(const SettingKey& key, const char* text) {
  if (!text || text[0] == '\0') return key.defaultValue;
  int64_t value = 0;
  const bool number = ReadNumber(text, &value);
  switch (key.kind) {
    case SETTING_PORT:
      return number && FitsInt(value) ? static_cast<int>(value) : PORT_CODE_UNKNOWN;
    case SETTING_RANGE:
      return number && value >= key.minValue && value <= key.maxValue ? static_cast<int>(value)
                                                                      : key.defaultValue;
    case SETTING_SWITCH:
      if (!number) return key.defaultValue;
      return value != 0 ? 1 : 0;
    case SETTING_NUMBER:
      return number && FitsInt(value) ? static_cast<int>(value) : key.defaultValue;
  }
  return key.defaultValue;
}

void BuildSettingsPaths(const char* appData, char* folder, char* file) {
  folder[0] = '\0';
  platform::AppendPathCut(folder, appData);
  platform::AppendPathCut(folder, SETTINGS_FOLDER);
  std::memcpy(file, folder, SETTINGS_PATH_SIZE);
  platform::AppendPathCut(file, SETTINGS_FILE);
}

void ReadSettingsWith(ReadTextFn readText, void* context) {
  for (const SettingKey& key : SETTING_KEYS) {
    char text[SETTING_TEXT_SIZE] = "";
    // A text too long for the area is no number any key takes.
    const bool fits = readText(key.section, key.key, text, sizeof text, context);
    app::g_App.*key.field = SettingValue(key, fits ? text : "?");
  }
}

void WriteSettingsWith(WriteIntFn writeInt, void* context) {
  for (const SettingKey& key : SETTING_KEYS) {
    if (key.written) writeInt(key.section, key.key, app::g_App.*key.field, context);
  }
}

}  // namespace persist
