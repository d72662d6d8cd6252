#include "app/app_state.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using app::AppState;
using app::g_App;

struct IntField {
  const char* name;
  int AppState::*field;
  int startUp;
};

// Fields a fresh start must give a definite value, whatever the record held.
const IntField kIntFields[] = {
    {"PrinterPort", &AppState::PrinterPort, 0},
    {"BaudIndex", &AppState::BaudIndex, 0},
    {"CurrAdr", &AppState::CurrAdr, 0},
    {"LogInputData", &AppState::LogInputData, 0},
    {"LogFlowColumns", &AppState::LogFlowColumns, 0},
    {"ServiceShow", &AppState::ServiceShow, 0},
    {"LangGerman", &AppState::LangGerman, 0},
    {"MainReady", &AppState::MainReady, 0},
    {"CommActive", &AppState::CommActive, 0},
    {"CyclicBusy", &AppState::CyclicBusy, 0},
    {"AdapterOpen", &AppState::AdapterOpen, 0},
    {"PendingCommand", &AppState::PendingCommand, app::CMD_NONE},
    {"FreezeOutputs", &AppState::FreezeOutputs, 0},
    {"SingleBitMode", &AppState::SingleBitMode, 0},
    {"LastBusStatus", &AppState::LastBusStatus, -1},
    {"LogActive", &AppState::LogActive, 0},
    {"AttrClassId", &AppState::AttrClassId, 1},
    {"AttrInstanceId", &AppState::AttrInstanceId, 1},
    {"AttrAttributeId", &AppState::AttrAttributeId, 1},
    {"ReadAttrPending", &AppState::ReadAttrPending, 0},
    {"WriteAttrPending", &AppState::WriteAttrPending, 0},
    {"AttrType", &AppState::AttrType, 0},
    {"ValueInHex", &AppState::ValueInHex, 1},
    {"IdsInHex", &AppState::IdsInHex, 1},
    {"ServiceMode", &AppState::ServiceMode, 0},
};

template <size_t N>
bool AllBytesZero(const uint8_t (&bytes)[N]) {
  for (uint8_t b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

// Start-up values are given over whatever the record held before.
TEST(AppState, InitGivesEveryFieldItsStartUpValue) {
  std::memset(static_cast<void*>(&g_App), 0x5A, sizeof g_App);
  int moduleMarker = 0;
  app::InitAppState(&moduleMarker);

  for (const IntField& f : kIntFields) EXPECT_EQ(g_App.*f.field, f.startUp) << f.name;
  EXPECT_EQ(g_App.hInst, &moduleMarker);
  EXPECT_EQ(g_App.hResDll, nullptr);
  EXPECT_EQ(g_App.hMainWnd, nullptr);
  EXPECT_EQ(g_App.hReadAttrDlg, nullptr);
  EXPECT_EQ(g_App.hWriteAttrDlg, nullptr);
  EXPECT_EQ(g_App.hAccelEdit, nullptr);
  EXPECT_EQ(g_App.hAccelMain, nullptr);
  EXPECT_EQ(g_App.hAppIcon, nullptr);
  EXPECT_EQ(g_App.PumpHook, nullptr);
  EXPECT_EQ(g_App.LogFile, nullptr);
  EXPECT_EQ(g_App.Io, nullptr);
  EXPECT_EQ(g_App.LogStartTime, 0);
  EXPECT_STREQ(g_App.HelpFile, "");
  EXPECT_STREQ(g_App.AttrValueText, "");
  EXPECT_EQ(g_App.WriteValueLength, 1);
  EXPECT_EQ(g_App.ServiceCode, 0);
  EXPECT_TRUE(AllBytesZero(g_App.WriteValue));
  EXPECT_EQ(g_App.OutputEdit.Length, 0u);
  EXPECT_TRUE(AllBytesZero(g_App.OutputEdit.Data));
}

}  // namespace
