// The Win32 side of message reporting: strings from the built tarnres.dll and
// real message boxes, answered from inside the test.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/resstring.h"
#include "resource.h"

namespace {

using app::g_App;

// A box nobody answers is closed after this long and the test fails.
constexpr DWORD kBoxTimeoutMs = 10000;

// What the last message box showed, read by the CBT hook as it opened.
struct SeenBox {
  int count;
  std::string caption;
  std::string text;
  bool hasCancel;
  bool hasRetry;
};

SeenBox g_seen;
int g_answer;
HWND g_answeredBox;

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
  char className[32];
  char text[1024];
  if (GetClassNameA(child, className, sizeof className) && lstrcmpiA(className, "Static") == 0 &&
      GetWindowTextA(child, text, sizeof text) > 0) {
    *reinterpret_cast<std::string*>(param) += text;
  }
  return TRUE;
}

LRESULT CALLBACK AnswerBoxHook(int code, WPARAM wParam, LPARAM lParam) {
  HWND box = reinterpret_cast<HWND>(wParam);
  char className[32] = "";
  // Only the dialog of the message box, and only when it first opens: Wine
  // activates helper windows of its own as well.
  if (code == HCBT_ACTIVATE && box != g_answeredBox &&
      GetClassNameA(box, className, sizeof className) && lstrcmpA(className, "#32770") == 0) {
    g_answeredBox = box;
    char caption[256] = "";
    GetWindowTextA(box, caption, sizeof caption);
    g_seen.count++;
    g_seen.caption = caption;
    g_seen.text.clear();
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&g_seen.text));
    g_seen.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
    g_seen.hasRetry = GetDlgItem(box, IDRETRY) != nullptr;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(g_answer, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, g_answer)));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Closes every window of the test's thread when the hook failed to answer.
struct Watchdog {
  DWORD threadId;
  HANDLE done;
  volatile LONG fired;
};

BOOL CALLBACK CancelWindow(HWND window, LPARAM) {
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}

DWORD WINAPI WatchdogThread(void* param) {
  Watchdog* dog = static_cast<Watchdog*>(param);
  if (WaitForSingleObject(dog->done, kBoxTimeoutMs) == WAIT_TIMEOUT) {
    InterlockedExchange(&dog->fired, 1);
    EnumThreadWindows(dog->threadId, CancelWindow, 0);
  }
  return 0;
}

// Runs `show` (which opens one message box) with the box answered by
// `answer`; returns what `show` returned.
template <typename Show>
int WithAnsweredBox(int answer, Show show) {
  g_seen = SeenBox{};
  g_answer = answer;
  g_answeredBox = nullptr;
  HHOOK hook = SetWindowsHookExA(WH_CBT, AnswerBoxHook, nullptr, GetCurrentThreadId());
  EXPECT_NE(hook, nullptr);
  Watchdog dog{GetCurrentThreadId(), CreateEventA(nullptr, TRUE, FALSE, nullptr), 0};
  HANDLE thread = CreateThread(nullptr, 0, WatchdogThread, &dog, 0, nullptr);
  int result = show();
  SetEvent(dog.done);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(dog.done);
  if (hook) UnhookWindowsHookEx(hook);
  EXPECT_EQ(dog.fired, 0) << "message box not answered in time";
  EXPECT_EQ(g_seen.count, 1);
  return result;
}

class Win32Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    app::InitAppState(GetModuleHandleA(nullptr));
    library_ = LoadLibraryA("tarnres.dll");
    ASSERT_NE(library_, nullptr) << "tarnres.dll beside the test";
    g_App.hResDll = library_;
  }
  void TearDown() override {
    g_App.hResDll = nullptr;
    if (library_) FreeLibrary(library_);
  }
  HMODULE library_ = nullptr;
};

TEST_F(Win32Messages, ResourceLibraryHoldsTheEnglishTexts) {
  struct Case {
    unsigned id;
    const char* text;
  };
  const Case cases[] = {
      {IDS_CAPTION, "Quillon"},
      {IDS_OUTPUTS_WARNING, "Warning!\nOutputs may be modified!"},
      {IDS_ATTR_ACCESS_FAILED,
       "Unable to access attribute!\n\nDeviceNet error code: %s hex\n\n"
       "The DeviceNet error codes are described in the help file."},
      {IDS_SEARCH_OK, "&OK"},
      {IDS_BUS_OFF, "Bus off"},
      {IDS_IO_LENGTH_EXCEEDED, "Maximum IO length exceeded!"},
      {IDS_ADDRESS_IN_USE,
       "Address %s is already in use by another device!\n\nThe slave keeps its address %s."},
  };
  char buffer[1000];
  for (const Case& c : cases) {
    EXPECT_GT(persist::LoadResString(c.id, buffer, sizeof buffer), 0) << c.id;
    EXPECT_STREQ(buffer, c.text) << c.id;
  }
  EXPECT_EQ(persist::LoadResString(IDS_BIT0, buffer, sizeof buffer), 0)
      << "bit captions belong to the program, not to the language library";
  EXPECT_EQ(persist::LoadResString(IDS_CAPTION, buffer, 4), 3);
  EXPECT_STREQ(buffer, "Qui");
}

int CountPlaceholders(const char* text) {
  int count = 0;
  for (const char* p = std::strstr(text, "%s"); p; p = std::strstr(p + 2, "%s")) ++count;
  return count;
}

// The German library must carry every text of the English one, with the same
// placeholders, and nothing the English one lacks.
TEST_F(Win32Messages, GermanLibraryTranslatesEveryEnglishString) {
  HMODULE german = LoadLibraryA("tarnresd.dll");
  ASSERT_NE(german, nullptr) << "tarnresd.dll beside the test";
  int translated = 0;
  std::vector<unsigned> ids;
  for (unsigned id = IDS_FIRST; id <= IDS_LAST; ++id) ids.push_back(id);
  for (unsigned id = IDS_MORE_FIRST; id <= IDS_MORE_LAST; ++id) ids.push_back(id);
  for (unsigned id : ids) {
    char english[1000];
    char text[1000];
    int englishLength = LoadStringA(library_, id, english, sizeof english);
    int germanLength = LoadStringA(german, id, text, sizeof text);
    EXPECT_EQ(englishLength > 0, germanLength > 0) << id;
    if (englishLength > 0 && germanLength > 0) {
      EXPECT_EQ(CountPlaceholders(english), CountPlaceholders(text)) << id;
      ++translated;
    }
  }
  EXPECT_GT(translated, 0);
  // The .rc is UTF-8: the umlaut must arrive as one character.
  wchar_t wide[100];
  ASSERT_GT(LoadStringW(german, IDS_BUS_OVERRUN, wide, 100), 0);
  EXPECT_STREQ(wide, L"\u00DCberlauf");
  FreeLibrary(german);
}

TEST_F(Win32Messages, ProgramModuleHoldsTheBitCaptions) {
  char buffer[16];
  for (int bit = 0; bit < 8; ++bit) {
    const std::string expected = "&" + std::to_string(bit);
    ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), IDS_BIT0 + bit, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer, expected);
  }
}

TEST_F(Win32Messages, MessageBoxesShowTheTextCaptionAndButtons) {
  int result = WithAnsweredBox(
      IDOK, [] { return persist::ShowMsg(nullptr, nullptr, IDS_IO_LENGTH_EXCEEDED); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(g_seen.caption, "Quillon");
  EXPECT_EQ(g_seen.text, "Maximum IO length exceeded!");
  EXPECT_FALSE(g_seen.hasCancel);

  result = WithAnsweredBox(IDCANCEL, [] {
    return persist::ShowMsgFmt(nullptr, persist::BOX_RETRYCANCEL | persist::BOX_ICONEXCLAMATION,
                               IDS_COMM_FAILURE, nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(result, persist::BOX_IDCANCEL);
  EXPECT_EQ(g_seen.text, "Communication failure!");
  EXPECT_TRUE(g_seen.hasRetry);
  EXPECT_TRUE(g_seen.hasCancel);
}

TEST_F(Win32Messages, WithoutTheLibraryTheFallBacksAreShown) {
  // The program module has no caption or message strings of its own here.
  g_App.hResDll = nullptr;
  WithAnsweredBox(IDOK, [] { return persist::ShowMsg(nullptr, nullptr, IDS_COMM_FAILURE); });
  EXPECT_EQ(g_seen.caption, "Quillon");
  EXPECT_EQ(g_seen.text, "Unable to load resource");
}

}  // namespace
