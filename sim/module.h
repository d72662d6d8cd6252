// What the simulator needs from the operating system about its own module
// and process. One POSIX and one Win32 file implement it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// Full path of the file this code was loaded from (the library, or the
// program when linked statically). False when unknown.
bool ModulePath(char* buf, size_t size);

// Keeps the library loaded until the process ends (a no-op where the link
// already marks it so).
void PinModule();

uint32_t ProcessId();

// Process-wide environment variables, shared by every module of the process.
bool GetProcessVar(const char* name, char* buf, size_t size);
void SetProcessVar(const char* name, const char* value);

// Shows an error to the user of the program that loaded the library and
// waits for OK (a message box on Windows; nothing elsewhere, where the
// text goes to stderr only).
void ShowErrorBox(const char* title, const char* text);

// The name of that file without its folder. False when unknown or longer
// than `size` allows.
bool ModuleFileName(char* buf, size_t size);

// True when the library was loaded under the parallel-port adapter's driver
// name, so that CAN_Init takes five arguments.
bool LoadedAsLptDriver();

}  // namespace sim
