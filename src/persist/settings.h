// The settings file "tarnix.ini" in the folder "Quillon" of the user's
// application data folder: port, baud rate and current address (section
// Tarnix, read at main window start and written at exit) and three switches
// the user sets by hand (sections Log and Service, read only).
//
// The table, the path building and the range rules are portable; the file
// access (Windows profile functions) is in settings_win32.cpp.
#pragma once

#include <cstddef>

#include "app/app_state.h"

namespace persist {

constexpr size_t SETTINGS_PATH_SIZE = 260;  // MAX_PATH: at most 259 characters
constexpr const char* SETTINGS_FOLDER = "\\Quillon\\";
constexpr const char* SETTINGS_FILE = "tarnix.ini";

// Defaults of a key missing from the file, and what an out-of-range value
// in a hand-edited file falls back to.
constexpr int DEFAULT_PRINTER_PORT = 0;  // LPT1
constexpr int DEFAULT_BAUD_INDEX = 0;    // 125 kBaud
constexpr int DEFAULT_CURR_ADR = 63;

// One key of the file and the AppState field it fills.
struct SettingKey {
  const char* section;
  const char* key;
  int defaultValue;
  int app::AppState::*field;
  bool written;  // saved at exit; the others only ever come from the user
};
constexpr size_t SETTING_KEY_COUNT = 7;
extern const SettingKey SETTING_KEYS[SETTING_KEY_COUNT];

// Appends `tail` to the terminated text in `path` (of SETTINGS_PATH_SIZE
// bytes), keeping the whole within 259 characters.
void AppendPathCut(char* path, const char* tail);

// From the application data folder: the program's folder (with its final
// backslash) and the settings file path, each within 259 characters.
void BuildSettingsPaths(const char* appData, char* folder, char* file);

// Reads every key through `readInt` (which gives the default for a missing
// file, section or key) into g_App; a baud index outside 0..2 or an address
// outside 0..63 falls back to its default. A port code that names no port
// is kept: the port list then shows no selection.
using ReadIntFn = int (*)(const char* section, const char* key, int defaultValue, void* context);
void ReadSettingsWith(ReadIntFn readInt, void* context);

// Writes the keys marked `written` from g_App through `writeInt`.
using WriteIntFn = void (*)(const char* section, const char* key, int value, void* context);
void WriteSettingsWith(WriteIntFn writeInt, void* context);

// Windows only. The settings file path into `path` (SETTINGS_PATH_SIZE
// bytes), creating the program's folder on the way (a failure there is
// ignored). False, with nothing written, when the application data folder
// is unknown.
bool GetSettingsPath(char* path);

// Reads the six keys into g_App. 0, reading nothing, without a path.
int LoadSettings();

// Writes PrinterPort, Baud and CurrAdr of section Tarnix. 0, writing
// nothing, without a path. Failures of the file itself are silent.
int SaveSettings();

// Writes `value` as decimal text; the profile writer creates the file and
// the section as needed.
void WriteSettingInt(const char* section, const char* key, int value, const char* path);

}  // namespace persist
