// Files in folders whose names the ANSI code page cannot spell (Greek,
// Japanese and a check mark next to Wine's Western code page): the settings
// file in such a user profile, the input log, and the help file beside a
// program installed there. Through the ANSI API each of these would reach
// a path full of question marks.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "app/app_state.h"
#include "persist/inputlog.h"
#include "persist/language.h"
#include "persist/settings.h"
#include "platform/platform.h"
#include "platform/wide_text.h"

namespace {

using app::g_App;

const wchar_t FOLDER_NAME[] = L"Quillon \u03A9\u03BC\u03AD\u03B3\u03B1 \u65E5\u672C \u2713";
const wchar_t SHELL_FOLDERS[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::string Utf8(const std::wstring& text) {
  char out[platform::PATH_TEXT_SIZE];
  EXPECT_TRUE(platform::WideToUtf8(text.c_str(), out, sizeof out));
  return out;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class WidePaths : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    folder_ = std::wstring(temp) + FOLDER_NAME;
    CreateDirectoryW(folder_.c_str(), nullptr);
    ASSERT_TRUE(Exists(folder_));
    // The name really is outside the ANSI code page.
    BOOL lost = FALSE;
    char ansi[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, FOLDER_NAME, -1, ansi, sizeof ansi, nullptr, &lost);
    ASSERT_TRUE(lost) << "code page " << GetACP();
  }

  std::wstring folder_;
};

// The profile's application data folder moved into the folder for the test;
// the old setting is put back afterwards.
class ProfileInWideFolder {
 public:
  explicit ProfileInWideFolder(const std::wstring& folder) {
    RegCreateKeyExW(HKEY_CURRENT_USER, SHELL_FOLDERS, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key_, nullptr);
    DWORD size = sizeof old_;
    had_ = RegQueryValueExW(key_, L"AppData", nullptr, &type_, reinterpret_cast<BYTE*>(old_),
                            &size) == ERROR_SUCCESS;
    RegSetValueExW(key_, L"AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  }
  ~ProfileInWideFolder() {
    if (had_) {
      RegSetValueExW(key_, L"AppData", 0, type_, reinterpret_cast<const BYTE*>(old_),
                     static_cast<DWORD>((wcslen(old_) + 1) * sizeof(wchar_t)));
    } else {
      RegDeleteValueW(key_, L"AppData");
    }
    RegCloseKey(key_);
  }

 private:
  HKEY key_ = nullptr;
  bool had_ = false;
  DWORD type_ = REG_SZ;
  wchar_t old_[MAX_PATH] = L"";
};

TEST_F(WidePaths, SettingsAreKeptInAProfileOutsideTheAnsiCodePage) {
  ProfileInWideFolder profile(folder_);
  wchar_t appData[MAX_PATH] = L"";
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
  ASSERT_EQ(std::wstring(appData), folder_) << "the profile did not move";

  char path[persist::SETTINGS_PATH_SIZE];
  ASSERT_TRUE(persist::GetSettingsPath(path));
  EXPECT_EQ(std::string(path), Utf8(folder_ + L"\\Quillon\\tarnix.ini"));

  app::InitAppState(nullptr);
  g_App.PrinterPort = 4096;
  g_App.BaudIndex = 2;
  g_App.CurrAdr = 17;
  g_App.SlaveWatchdog = 1;
  ASSERT_EQ(persist::SaveSettings(), 1);
  EXPECT_TRUE(Exists(folder_ + L"\\Quillon\\tarnix.ini"));

  app::InitAppState(nullptr);
  ASSERT_EQ(persist::LoadSettings(), 1);
  EXPECT_EQ(g_App.PrinterPort, 4096);
  EXPECT_EQ(g_App.BaudIndex, 2);
  EXPECT_EQ(g_App.CurrAdr, 17);
  EXPECT_EQ(g_App.SlaveWatchdog, 1);

  DeleteFileW((folder_ + L"\\Quillon\\tarnix.ini").c_str());
  RemoveDirectoryW((folder_ + L"\\Quillon").c_str());
}

TEST_F(WidePaths, InputLogIsWrittenInAFolderOutsideTheAnsiCodePage) {
  const std::wstring log = folder_ + L"\\indata.log";
  DeleteFileW(log.c_str());
  app::InitAppState(nullptr);
  g_App.LogInputData = 1;
  ASSERT_EQ(persist::OpenInputLog(Utf8(log).c_str()), 1);
  persist::CloseInputLog();
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(log.c_str(), GetFileExInfoStandard, &data));
  EXPECT_GT(data.nFileSizeLow, 0u) << "the header is in it";
  DeleteFileW(log.c_str());
}

// A program installed there finds its help file beside it, and a library
// there loads by its path.
TEST_F(WidePaths, HelpFileLiesBesideAProgramOutsideTheAnsiCodePage) {
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::wstring library = self;
  library = library.substr(0, library.rfind(L'\\') + 1) + L"tarnres.dll";
  const std::wstring copy = folder_ + L"\\tarnres.dll";
  ASSERT_TRUE(CopyFileW(library.c_str(), copy.c_str(), FALSE));

  void* module = platform::LoadLibraryFile(Utf8(copy).c_str());
  ASSERT_NE(module, nullptr);
  char help[persist::HELP_PATH_SIZE];
  ASSERT_TRUE(persist::BuildHelpPathOf(module, true, help));
  EXPECT_EQ(std::string(help), Utf8(folder_ + L"\\tarnixd.chm"));
  platform::FreeLibraryFile(module);
  DeleteFileW(copy.c_str());
}

}  // namespace
