// The settings file "tarnix.ini" in the folder "Quillon" of the user's
// application data folder: port, baud rate, current address, the slave
// watchdog switch, the own MAC ID choice and the serial number of the own
// MAC ID check (section Tarnix, read at main window start and written at
// exit) and three switches the user sets by hand (sections Log and Service,
// read only).
//
// The table, the path building and the range rules are portable; the file
// access (Windows profile functions) is in settings_win32.cpp.
#pragma once

#include <cstddef>

#include "app/app_state.h"
#include "platform/platform.h"

namespace persist {

// A UTF-8 path of at most 259 UTF-16 units (MAX_PATH).
constexpr size_t SETTINGS_PATH_SIZE = platform::PATH_TEXT_SIZE;
constexpr const char* SETTINGS_FOLDER = "\\Quillon\\";
constexpr const char* SETTINGS_FILE = "tarnix.ini";

// Defaults of a key missing from the file, and what an out-of-range value
// in a hand-edited file falls back to.
constexpr int DEFAULT_PRINTER_PORT = 0;  // LPT1
constexpr int DEFAULT_BAUD_INDEX = 0;    // 125 kBaud
constexpr int DEFAULT_CURR_ADR = 63;

// A port code that is in the file but cannot be one: no port list knows it.
constexpr int PORT_CODE_UNKNOWN = -1;

// Longest value text read from the file, the zero included. A longer one
// is read as unreadable rather than cut into another number.
constexpr size_t SETTING_TEXT_SIZE = 32;

// How a key's text becomes its value. Missing or empty, every key takes its
// default; otherwise the text must be one decimal integer (blanks around it
// and a sign allowed), read without wrapping:
enum SettingKind {
  SETTING_PORT,    // kept as it is when it fits an int, else PORT_CODE_UNKNOWN
  SETTING_RANGE,   // minValue..maxValue, else the default
  SETTING_SWITCH,  // 1 for any non-zero number, 0 for zero, else the default
  SETTING_NUMBER,  // any number that fits an int, else the default
};

// One key of the file and the AppState field it fills.
struct SettingKey {
  const char* section;
  const char* key;
  int defaultValue;
  int app::AppState::*field;
  bool written;  // saved at exit; the others only ever come from the user
  SettingKind kind;
  int minValue;  // SETTING_RANGE only
  int maxValue;
};
constexpr size_t SETTING_KEY_COUNT = 10;
extern const SettingKey SETTING_KEYS[SETTING_KEY_COUNT];

// From the application data folder: the program's folder (with its final
// backslash) and the settings file path, each within 259 characters.
void BuildSettingsPaths(const char* appData, char* folder, char* file);

// The value of `key` from the text read for it, as SettingKind says.
int SettingValue(const SettingKey& key, const char* text);

// Reads every key into g_App. `readText` puts the key's text into `text`
// (`size` bytes, SETTING_TEXT_SIZE), empty for a missing file, section or
// key, and returns false when the text did not fit.
using ReadTextFn = bool (*)(const char* section, const char* key, char* text, size_t size,
                            void* context);
void ReadSettingsWith(ReadTextFn readText, void* context);

// Writes the keys marked `written` from g_App through `writeInt`.
using WriteIntFn = void (*)(const char* section, const char* key, int value, void* context);
void WriteSettingsWith(WriteIntFn writeInt, void* context);

// Windows only. The settings file path into `path` (SETTINGS_PATH_SIZE
// bytes), creating the program's folder on the way (a failure there is
// ignored). False, with nothing written, when the application data folder
// is unknown.
bool GetSettingsPath(char* path);

// Reads every key into g_App. 0, reading nothing, without a path.
int LoadSettings();

// Writes the keys of section Tarnix (port, rate, address, watchdog, own MAC
// ID and check serial number). 0, writing
// nothing, without a path. Failures of the file itself are silent.
int SaveSettings();

// Writes `value` as decimal text; the profile writer creates the file and
// the section as needed.
void WriteSettingInt(const char* section, const char* key, int value, const char* path);

// Reads a decimal integer written by WriteSettingInt into `value`; false,
// leaving it alone, when the key is missing or holds no such number.
bool ReadSettingInt(const char* section, const char* key, int& value, const char* path);

}  // namespace persist
