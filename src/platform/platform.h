// The operating-system seam: the only services portable code takes from the
// OS. One Win32 and one POSIX file implement it; nothing here includes
// <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

// Millisecond tick count; wraps after about 49.7 days, so compare ticks by
// unsigned difference only.
uint32_t TickMs();

// Sleeps about one millisecond (under the test clock: advances it by 1 ms).
void Sleep1Ms();

// Microsecond tick for pacing short waits; wraps, compare by unsigned
// difference only. Time-outs stay on TickMs.
uint32_t TickUs();

// Waits about `us` microseconds (up to about 2 ms) without a full 1 ms
// sleep: the bulk in a fine-grained sleep, as much as the sleep can be
// trusted with by how late it woke so far, the rest watching the clock (on
// Windows yielding the processor meanwhile). Under the test clock: advances it.
void PauseUs(uint32_t us);

// Sleeps about `us` microseconds (up to about 2 ms) where waking a little
// late costs nothing, as looks for a frame that is already late do: the
// fine-grained sleep alone, asked for the time less how late it wakes, at
// least its shortest sleep. Watches the clock (yielding on Windows) only
// where no fine sleep can be trusted. Under the test clock: advances it.
void NapUs(uint32_t us);

// Test clock. While enabled, TickMs and TickUs return values that move only
// by AdvanceTestClock, Sleep1Ms, PauseUs and NapUs, so time-outs are tested without
// waiting.
void EnableTestClock(uint32_t startMs);
void AdvanceTestClock(uint32_t ms);
void DisableTestClock();

// File paths are UTF-8 everywhere in the program; on Windows they go to the
// wide-character API, so that a folder whose name the ANSI code page cannot
// spell still works. A path holds at most PATH_UNITS UTF-16 units (MAX_PATH
// less its terminator), so PATH_TEXT_SIZE bytes hold any such path.
constexpr size_t PATH_UNITS = 259;
constexpr size_t PATH_TEXT_SIZE = PATH_UNITS * 3 + 1;

// Appends `tail` to the terminated UTF-8 text in `path` (PATH_TEXT_SIZE
// bytes), keeping the whole within PATH_UNITS UTF-16 units; a character
// that no longer fits is left out whole, never cut in two.
void AppendPathCut(char* path, const char* tail);

// Opens a file by its UTF-8 path, as std::fopen does (_wfopen on Windows).
std::FILE* OpenFile(const char* path, const char* mode);

// Cuts an open file to its first `size` bytes (anything buffered is written
// first). False when the file system refuses.
bool TruncateFile(std::FILE* file, uint64_t size);

// Loads a library by file name (LoadLibraryW on Windows; natively the file
// is looked for beside the program, then in the current directory). Returns
// null when it cannot be loaded.
void* LoadLibraryFile(const char* fileName);

// Address of an exported entry point by its undecorated name, or null.
void* ResolveEntry(void* library, const char* name);

void FreeLibraryFile(void* library);

// Removes one waiting window message from the thread's queue, if there is
// one, and hands it to `handler` (PeekMessage on Windows; nothing natively).
void PumpOneMessage(void (*handler)(void* message));

// The same, but keyboard and mouse input stays in the queue for the message
// loop: a menu or a dialog box opened by a click must not start inside an
// exchange that is waiting.
void PumpOneNonInputMessage(void (*handler)(void* message));

// The real system services behind TickMs, Sleep1Ms, TickUs, PauseUs and NapUs.
uint32_t SystemTickMs();
void SystemSleep1Ms();
uint32_t SystemTickUs();
void SystemPauseUs(uint32_t us);
void SystemNapUs(uint32_t us);

}  // namespace platform
