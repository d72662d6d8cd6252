// The Bus Monitor: a modeless window that lists every frame the adapter
// sends and receives, live and decoded, with pause, clear, a MAC ID filter
// and a status line; and the capture of every frame to a file. Both see the
// bus through the binding's frame tap (monitor/), whatever the adapter.
#pragma once

#include <windows.h>

#include <cstddef>

#include "monitor/capture.h"

namespace ui {

// Opens the window, or brings it forward when it is open.
void OpenMonitorWindow(HWND owner);
// Closes it if it is open.
void CloseMonitorWindow();
// The window, or null.
HWND MonitorWindow();

// Starts a capture into a file chosen in a save dialog (pcap or candump
// log, the file type and the extension kept in agreement), or stops the
// one that runs, saying so when the file could not be completed.
void ToggleCapture(HWND owner);

// Starts a capture into the UTF-8 `path`; a file that cannot be written is
// reported to `owner` (message 1087) and gives false. While it runs, a
// timer hands the buffered frames to the file between exchanges; a write
// that fails ends it, takes the menu's tick away and says so.
bool StartCapture(HWND owner, const char* path, monitor::CaptureFormat format);

// The save dialog's agreement of file type and extension. The format of a
// chosen file: by its extension (.pcap, .log), else by the type chosen
// (filter index 1 pcap, 2 candump log).
monitor::CaptureFormat CaptureFormatOf(const wchar_t* path, DWORD filterIndex);
// The name with the extension of type `filterIndex`: the other type's
// extension is replaced, a missing one added, any other kept.
void SetCaptureExtension(wchar_t* name, size_t size, DWORD filterIndex);

// The text of the window's row `row` (its fields separated by tabs, as
// drawn); false when there is no such row. For the window tests.
bool MonitorRowText(int row, char* text, size_t size);

INT_PTR CALLBACK MonitorDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
