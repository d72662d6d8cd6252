// Helpers of the window tests: the program started in-process from the real
// language libraries beside the test, the settings file and the language
// value in the registry, the message loop run by hand, and message boxes
// answered from inside the test.
#pragma once

#include <windows.h>

#include <string>

namespace uitest {

// Path of the settings file the program uses (its folder is created).
std::string SettingsPath();

// Removes the settings file; writes `text` as the new file when not empty.
void WriteSettingsFile(const std::string& text);

// The whole settings file, or "" when it does not exist.
std::string ReadTextFile(const std::string& path);

// Sets the "LangId" value (type and raw bytes) or, with `type` 0, removes
// the program's registry key.
void SetLangValue(DWORD type, const void* data, DWORD size);

// Handles every waiting message the way the message loop does; true when
// a quit message was among them.
bool PumpMessages();

// Takes the main window through the exit sequence (when it still exists)
// and releases everything. Returns the message loop's exit code.
int ExitProgram();

// Starts a modal dialog or message box through `open` and, as soon as a
// dialog window activates, calls `inspect` on it and presses button
// `button` in it. Returns how many dialogs were seen.
using InspectFn = void (*)(HWND dialog, void* context);
int WithAnsweredDialog(int button, InspectFn inspect, void* context, void (*open)(void*),
                       void* openContext);

// Client rectangle of control `id` in its dialog, in pixels.
RECT ControlRect(HWND dialog, int id);

// A rectangle of the template in dialog units, mapped to pixels.
RECT DialogUnits(HWND dialog, int x, int y, int width, int height);

std::string ControlText(HWND dialog, int id);

// Line `line` of list box `listId` in `dialog`, and the number of lines.
std::string ListLine(HWND dialog, int listId, int line);
int ListCount(HWND dialog, int listId);

// The texts of the Static controls of `window` (a message box's message),
// one after the other.
std::string StaticTexts(HWND window);

// A string of the loaded resource library, as the program shows it.
std::string StringOf(unsigned id);

// Clicks button `id` of `dialog`, as the user would: posted, so that the
// dialog's own loop handles it.
void PostCommand(HWND dialog, int id);

}  // namespace uitest
