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
// log by the file type chosen), or stops the one that runs.
void ToggleCapture(HWND owner);

// Starts a capture into the UTF-8 `path`; a file that cannot be written is
// reported to `owner` (message 1087) and gives false.
bool StartCapture(HWND owner, const char* path, monitor::CaptureFormat format);

// The text of the window's row `row` (its fields separated by tabs, as
// drawn); false when there is no such row. For the window tests.
bool MonitorRowText(int row, char* text, size_t size);

INT_PTR CALLBACK MonitorDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
