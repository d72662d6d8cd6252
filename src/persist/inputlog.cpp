#include "persist/inputlog.h"

#include <cstdio>

#include "persist/logclock.h"
#include "platform/platform.h"

namespace persist {

namespace {

// Flow reading: input bytes 1 (low) and 2 (high) as a signed 16-bit value,
// on a scale where 0x6000 is 100 %.
constexpr int FLOW_LOW_BYTE = 1;
constexpr int FLOW_HIGH_BYTE = 2;
constexpr double FLOW_FULL_SCALE = 24576.0;

// "MM/DD/YY" and "HH:MM:SS" with their terminators.
constexpr int STAMP_TEXT_SIZE = 16;

void WriteHeader(std::FILE* file) {
  char date[STAMP_TEXT_SIZE];
  LocalStamp now = LocalNow();
  std::snprintf(date, sizeof date, "%02d/%02d/%02d", now.month % 100, now.day % 100,
                now.year % 100);
  std::fprintf(file, "Log File for Input Data.\nEvery change of the input data is recorded.\n");
  std::fprintf(file, "Date: %s\n", date);
  std::fprintf(file, "Time\tSeconds\tData");
  if (app::g_App.LogFlowColumns) std::fprintf(file, "\tFlow\tFlow in %%");
  std::fprintf(file, "\n");
}

void WriteDataLine(std::FILE* file, const app::IoRecord& record) {
  char time[STAMP_TEXT_SIZE];
  LocalStamp now = LocalNow();
  std::snprintf(time, sizeof time, "%02d:%02d:%02d", now.hour % 100, now.minute % 100,
                now.second % 100);
  int seconds = static_cast<int>(CalendarSeconds() - app::g_App.LogStartTime);
  std::fprintf(file, "%s\t%6d \t", time, seconds);

  uint32_t length = record.Length <= app::IO_DATA_SIZE ? record.Length : app::IO_DATA_SIZE;
  for (uint32_t i = 0; i < length; ++i) std::fprintf(file, "%02X ", record.Data[i]);

  if (app::g_App.LogFlowColumns) {
    // With fewer than three input bytes the columns still use bytes 1 and 2
    // as they stand, so every line has the header's columns.
    int flow =
        static_cast<int16_t>(record.Data[FLOW_LOW_BYTE] | (record.Data[FLOW_HIGH_BYTE] << 8));
    std::fprintf(file, "\t%6d \t%4.2f", flow, flow * 100.0 / FLOW_FULL_SCALE);
  }
  std::fprintf(file, "\n");
}

}  // namespace

void WriteLog(int kind, const app::IoRecord* record, const char* text) {
  app::AppState& state = app::g_App;
  if (!state.LogInputData || !state.LogActive || !state.LogFile) return;
  switch (kind) {
    case LOG_DATA:
      if (!state.CommActive || !record) return;
      WriteDataLine(state.LogFile, *record);
      break;
    case LOG_ERROR:
      std::fprintf(state.LogFile, "Error: %s\n", text ? text : "");
      break;
    case LOG_HEADER:
      WriteHeader(state.LogFile);
      break;
    default:
      return;
  }
  // Keep the file current for a reader while communication runs.
  std::fflush(state.LogFile);
}

int OpenInputLog(const char* path) {
  CloseInputLog();
  app::g_App.LogFile = platform::OpenFile(path, "a");
  if (!app::g_App.LogFile) return 0;
  app::g_App.LogActive = 1;
  app::g_App.LogStartTime = CalendarSeconds();
  WriteLog(LOG_HEADER, nullptr, nullptr);
  return 1;
}

void CloseInputLog() {
  if (app::g_App.LogFile) std::fclose(app::g_App.LogFile);
  app::g_App.LogFile = nullptr;
  app::g_App.LogActive = 0;
}

}  // namespace persist
