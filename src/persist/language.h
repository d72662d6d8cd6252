// The language choice: the registry value "LangId" under
// HKEY_LOCAL_MACHINE\Software\Korvath\Quillon picks German when it is the
// string "1031"; everything else, and no value at all, means English.
#pragma once

#include <cstddef>

#include "app/app_state.h"
#include "platform/platform.h"

namespace persist {

constexpr const char* LANG_KEY = "Software\\Korvath\\Quillon";
constexpr const char* LANG_VALUE = "LangId";
constexpr size_t LANG_VALUE_SIZE = 100;    // bytes read from the value
constexpr unsigned long LANG_TYPE_SZ = 1;  // REG_SZ

constexpr const char* ENGLISH_LIBRARY = "tarnres.dll";
constexpr const char* GERMAN_LIBRARY = "tarnresd.dll";
constexpr const char* ENGLISH_HELP = "tarnix.chm";
constexpr const char* GERMAN_HELP = "tarnixd.chm";

// A UTF-8 path of at most 259 UTF-16 units (MAX_PATH).
constexpr size_t HELP_PATH_SIZE = platform::PATH_TEXT_SIZE;
static_assert(HELP_PATH_SIZE == app::HELP_FILE_SIZE, "the help path fits AppState's HelpFile");

// True when a value read with `type` and `size` bytes of `data` is the
// plain string "1031" (its terminating zero may be missing).
bool IsGermanLangValue(unsigned long type, const char* data, size_t size);

// Windows only: reads the registry value. False (English) on any failure.
bool ReadLangGerman();

// The help file beside the program: `modulePath` (UTF-8) cut after its
// last backslash (to nothing when it has none) and the help file name of
// the language appended, all within 259 UTF-16 units.
void BuildHelpPath(const char* modulePath, bool german, char* out);

// Windows only: BuildHelpPath for the file `module` was loaded from. False,
// with `out` empty, when its path cannot be had.
bool BuildHelpPathOf(void* module, bool german, char* out);

}  // namespace persist
