// Start-up in a folder without the language libraries: the message, then
// the end, with nothing left behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/app_state.h"
#include "resource.h"
#include "ui/shell.h"
#include "ui_test_support.h"

namespace {

struct Seen {
  std::string caption;
  std::string text;
};

void InspectBox(HWND box, void* context) {
  Seen& seen = *static_cast<Seen*>(context);
  char caption[128] = "";
  GetWindowTextA(box, caption, sizeof caption);
  seen.caption = caption;
  seen.text += uitest::StaticTexts(box);
}

int exitCode = -1;

void RunProgram(void*) {
  exitCode = ui::ProgramMain(GetModuleHandleA(nullptr), SW_SHOW);
}

TEST(MissingLanguageLibrary, SaysSoAndEndsWithCode0) {
  uitest::SetLangValue(0, nullptr, 0);
  Seen seen;
  EXPECT_EQ(uitest::WithAnsweredDialog(IDOK, InspectBox, &seen, RunProgram, nullptr), 1);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(seen.text, "Unable to load resource DLL");
  EXPECT_EQ(seen.caption, "Quillon");
  EXPECT_EQ(app::g_App.hResDll, nullptr);
  EXPECT_EQ(app::g_App.hMainWnd, nullptr);
  EXPECT_EQ(app::g_App.Io, nullptr);
  EXPECT_EQ(FindWindowA(MAIN_WINDOW_CLASS, nullptr), nullptr);
}

}  // namespace
