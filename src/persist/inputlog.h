// The input data log "indata.log": a header at every opening, one data line
// per change of the input data, and a copy of every message shown.
// The state lives in app::g_App (LogFile, LogActive, LogStartTime,
// LogInputData, LogFlowColumns).
#pragma once

#include "app/app_state.h"

namespace persist {

// Kinds of WriteLog.
constexpr int LOG_DATA = 0;    // a data line from the record
constexpr int LOG_ERROR = 1;   // an error entry from the text
constexpr int LOG_HEADER = 2;  // the header

// The log's file name; no folder, so it lies in the current directory.
constexpr const char* INPUT_LOG_NAME = "indata.log";

// Writes one piece of the log: a data line from `record` (LOG_DATA), an
// error entry "Error: <text>" (LOG_ERROR) or the header (LOG_HEADER).
// Writes nothing unless LogInputData and LogActive are set; data lines only
// while CommActive. Write errors are ignored.
void WriteLog(int kind, const app::IoRecord* record, const char* text);

// Opens the log at `path` for appending (INPUT_LOG_NAME in the program),
// closing any log still open. On success sets LogActive and LogStartTime,
// writes the header and returns 1; otherwise clears LogActive and returns 0.
int OpenInputLog(const char* path);

// Closes the log if it is open and clears LogActive.
void CloseInputLog();

}  // namespace persist
