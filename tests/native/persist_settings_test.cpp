// The portable side of the settings file and the language choice: the
// path cutting, the key table with its range rules, the registry value.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "app/app_state.h"
#include "persist/language.h"
#include "persist/settings.h"

namespace {

using app::g_App;

// A settings file as a map "Section/Key" -> the value's text.
using Ini = std::map<std::string, std::string>;

bool ReadFromMap(const char* section, const char* key, char* text, size_t size, void* context) {
  const Ini& ini = *static_cast<const Ini*>(context);
  auto found = ini.find(std::string(section) + "/" + key);
  const std::string value = found == ini.end() ? "" : found->second;
  // As the profile reader: cut to the area, and say so.
  std::snprintf(text, size, "%s", value.c_str());
  return value.size() + 1 < size;
}

using Written = std::map<std::string, int>;

void WriteToMap(const char* section, const char* key, int value, void* context) {
  (*static_cast<Written*>(context))[std::string(section) + "/" + key] = value;
}

class Settings : public ::testing::Test {
 protected:
  void SetUp() override { app::InitAppState(nullptr); }
};

TEST_F(Settings, WithoutAFileEveryKeyTakesItsDefault) {
  Ini none;
  persist::ReadSettingsWith(ReadFromMap, &none);
  EXPECT_EQ(g_App.PrinterPort, 0);
  EXPECT_EQ(g_App.BaudIndex, 0);
  EXPECT_EQ(g_App.CurrAdr, 63);
  EXPECT_EQ(g_App.SlaveWatchdog, 0);
  EXPECT_EQ(g_App.LogInputData, 0);
  EXPECT_EQ(g_App.LogFlowColumns, 0);
  EXPECT_EQ(g_App.ServiceShow, 0);
  EXPECT_EQ(g_App.OwnMacFixed, 0);
  EXPECT_EQ(g_App.OwnMacChoice, 62);
  EXPECT_EQ(g_App.CheckSerial, 0);
}

TEST_F(Settings, ValuesAreReadFromTheirSections) {
  Ini ini{{"Tarnix/PrinterPort", "4097"}, {"Tarnix/Baud", "2"},     {"Tarnix/CurrAdr", "5"},
          {"Tarnix/SlaveWatchdog", "1"},  {"Log/InputData", "1"},   {"Log/FlowColumns", "1"},
          {"Service/Show", "1"},          {"Tarnix/InputData", "0"}};  // a key in the wrong section
  persist::ReadSettingsWith(ReadFromMap, &ini);
  EXPECT_EQ(g_App.PrinterPort, 4097);
  EXPECT_EQ(g_App.BaudIndex, 2);
  EXPECT_EQ(g_App.CurrAdr, 5);
  EXPECT_EQ(g_App.SlaveWatchdog, 1);
  EXPECT_EQ(g_App.LogInputData, 1);
  EXPECT_EQ(g_App.LogFlowColumns, 1);
  EXPECT_EQ(g_App.ServiceShow, 1);
}

TEST_F(Settings, OutOfRangeBaudAndAddressFallBackAPortCodeIsKept) {
  struct Case {
    int port, baud, adr;
    int wantPort, wantBaud, wantAdr;
  };
  const Case cases[] = {
      {3, 3, 64, 3, 0, 63}, {-1, -1, -1, -1, 0, 63}, {4096, 2, 63, 4096, 2, 63},
      {2, 0, 0, 2, 0, 0},   {7, 1, 100, 7, 1, 63},
  };
  for (const Case& c : cases) {
    Ini ini{{"Tarnix/PrinterPort", std::to_string(c.port)},
            {"Tarnix/Baud", std::to_string(c.baud)},
            {"Tarnix/CurrAdr", std::to_string(c.adr)}};
    persist::ReadSettingsWith(ReadFromMap, &ini);
    EXPECT_EQ(g_App.PrinterPort, c.wantPort);
    EXPECT_EQ(g_App.BaudIndex, c.wantBaud) << c.baud;
    EXPECT_EQ(g_App.CurrAdr, c.wantAdr) << c.adr;
  }
}

// Hand-edited texts: a number too large for its field must not wrap into a
// valid one, and what is no number at all counts as missing, except for the
// port, which then names none.
TEST_F(Settings, HandEditedTextsNeverWrapIntoValidValues) {
  struct Case {
    const char* key;
    const char* text;
    int want;
  };
  const Case cases[] = {
      {"Tarnix/CurrAdr", "4294967300", 63},  // 2^32 + 4
      {"Tarnix/CurrAdr", "4294967296", 63},
      {"Tarnix/CurrAdr", "18446744073709551621", 63},  // 2^64 + 5
      {"Tarnix/CurrAdr", "64", 63},
      {"Tarnix/CurrAdr", "-4294967295", 63},
      {"Tarnix/CurrAdr", "0", 0},
      {"Tarnix/CurrAdr", " 12 ", 12},
      {"Tarnix/CurrAdr", "+12", 12},
      {"Tarnix/CurrAdr", "012", 12},
      {"Tarnix/CurrAdr", "12abc", 63},
      {"Tarnix/CurrAdr", "0x0C", 63},
      {"Tarnix/CurrAdr", "1 2", 63},
      {"Tarnix/CurrAdr", "-", 63},
      {"Tarnix/CurrAdr", "", 63},
      {"Tarnix/CurrAdr", "000000000000000000000000000000000000012", 63},  // longer than read
      {"Tarnix/Baud", "4294967296", 0},
      {"Tarnix/Baud", "4294967298", 0},
      {"Tarnix/Baud", "2", 2},
      {"Tarnix/Baud", "3", 0},
      {"Tarnix/Baud", "1.5", 0},
      {"Tarnix/PrinterPort", "4096", 4096},
      {"Tarnix/PrinterPort", "8197", 8197},                              // serial adapter on COM5
      {"Tarnix/PrinterPort", "4294971392", persist::PORT_CODE_UNKNOWN},  // 2^32 + 4096
      {"Tarnix/PrinterPort", "-4294967296", persist::PORT_CODE_UNKNOWN},
      {"Tarnix/PrinterPort", "2147483647", 2147483647},
      {"Tarnix/PrinterPort", "-2147483648", -2147483647 - 1},
      {"Tarnix/PrinterPort", "2147483648", persist::PORT_CODE_UNKNOWN},
      {"Tarnix/PrinterPort", "USB", persist::PORT_CODE_UNKNOWN},
      {"Tarnix/PrinterPort", "", 0},
      {"Tarnix/SlaveWatchdog", "1", 1},
      {"Tarnix/SlaveWatchdog", "4294967296", 1},  // non-zero, though its low bits are not
      {"Tarnix/SlaveWatchdog", "-1", 1},
      {"Tarnix/SlaveWatchdog", "0", 0},
      {"Tarnix/SlaveWatchdog", "yes", 0},
      {"Log/InputData", "4294967296", 1},
      {"Log/FlowColumns", "2", 1},
      {"Service/Show", "on", 0},
      {"Tarnix/OwnMacFixed", "1", 1},
      {"Tarnix/OwnMacFixed", "auto", 0},
      {"Tarnix/OwnMacId", "0", 0},
      {"Tarnix/OwnMacId", "64", 62},
      {"Tarnix/OwnMacId", "-1", 62},
      {"Tarnix/OwnMacId", "", 62},
      {"Tarnix/CheckSerial", "-559038737", -559038737},
      {"Tarnix/CheckSerial", "2147483647", 2147483647},
      {"Tarnix/CheckSerial", "4294967296", 0},  // does not fit: drawn again
      {"Tarnix/CheckSerial", "0xDEADBEEF", 0},
  };
  for (const Case& c : cases) {
    app::InitAppState(nullptr);
    Ini ini{{c.key, c.text}};
    persist::ReadSettingsWith(ReadFromMap, &ini);
    int got = 0;
    for (const persist::SettingKey& key : persist::SETTING_KEYS) {
      if (std::string(key.section) + "/" + key.key == c.key) got = g_App.*key.field;
    }
    EXPECT_EQ(got, c.want) << c.key << "=" << c.text;
  }
}

TEST_F(Settings, OnlyTheTarnixSectionIsWritten) {
  g_App.PrinterPort = 4096;
  g_App.BaudIndex = 1;
  g_App.CurrAdr = 12;
  g_App.SlaveWatchdog = 1;
  g_App.OwnMacFixed = 1;
  g_App.OwnMacChoice = 61;
  g_App.CheckSerial = -559038737;  // 0xDEADBEEF
  g_App.LogInputData = 1;
  g_App.ServiceShow = 1;
  Written written;
  persist::WriteSettingsWith(WriteToMap, &written);
  EXPECT_EQ(written, (Written{{"Tarnix/PrinterPort", 4096},
                              {"Tarnix/Baud", 1},
                              {"Tarnix/CurrAdr", 12},
                              {"Tarnix/SlaveWatchdog", 1},
                              {"Tarnix/OwnMacFixed", 1},
                              {"Tarnix/OwnMacId", 61},
                              {"Tarnix/CheckSerial", -559038737}}));
}

// The serial-line adapter's codes (COM1 0x2001 .. COM16 0x2010) come back
// from the file as they went in.
TEST_F(Settings, SerialPortCodesSurviveSaveAndLoad) {
  for (int port : {0x2001, 0x2005, 0x2010}) {
    app::InitAppState(nullptr);
    g_App.PrinterPort = port;
    g_App.BaudIndex = 2;
    Written written;
    persist::WriteSettingsWith(WriteToMap, &written);
    Ini ini;
    for (const auto& entry : written) ini[entry.first] = std::to_string(entry.second);
    app::InitAppState(nullptr);
    persist::ReadSettingsWith(ReadFromMap, &ini);
    EXPECT_EQ(g_App.PrinterPort, port);
    EXPECT_EQ(g_App.BaudIndex, 2);
  }
}

TEST(SettingsPath, FolderAndFileFollowTheApplicationDataFolder) {
  char folder[persist::SETTINGS_PATH_SIZE];
  char file[persist::SETTINGS_PATH_SIZE];
  persist::BuildSettingsPaths("C:\\Users\\ada\\AppData\\Roaming", folder, file);
  EXPECT_STREQ(folder, "C:\\Users\\ada\\AppData\\Roaming\\Quillon\\");
  EXPECT_STREQ(file, "C:\\Users\\ada\\AppData\\Roaming\\Quillon\\tarnix.ini");
}

TEST(SettingsPath, VeryLongFolderIsCutAt259Characters) {
  for (size_t appLength : {240u, 250u, 255u, 259u, 300u}) {
    std::string appData(appLength, 'a');
    char folder[persist::SETTINGS_PATH_SIZE + 8];
    char file[persist::SETTINGS_PATH_SIZE + 8];
    std::memset(folder, '#', sizeof folder);
    std::memset(file, '#', sizeof file);
    persist::BuildSettingsPaths(appData.c_str(), folder, file);
    const std::string full = appData + "\\Quillon\\";
    EXPECT_EQ(std::string(folder), full.substr(0, 259)) << appLength;
    EXPECT_EQ(std::string(file), (full + "tarnix.ini").substr(0, 259)) << appLength;
    // Nothing beyond the 260 bytes is touched.
    EXPECT_EQ(folder[persist::SETTINGS_PATH_SIZE], '#');
    EXPECT_EQ(file[persist::SETTINGS_PATH_SIZE], '#');
  }
}

// Paths are UTF-8 cut at 259 UTF-16 units, as the wide API counts them:
// a character that no longer fits is left out whole.
TEST(SettingsPath, NonAsciiFoldersAreCutByUtf16UnitsAndNeverInsideACharacter) {
  auto repeat = [](const char* text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
  };
  const std::string kanji = "\xE6\x97\xA5";      // one unit, three bytes
  const std::string emoji = "\xF0\x9F\x98\x80";  // two units, four bytes
  const struct {
    std::string appData;
    std::string folder;
  } cases[] = {
      {repeat("\xE6\x97\xA5", 250), repeat("\xE6\x97\xA5", 250) + "\\Quillon\\"},
      {repeat("\xE6\x97\xA5", 255), repeat("\xE6\x97\xA5", 255) + "\\Qui"},
      {std::string(257, 'a') + emoji, std::string(257, 'a') + emoji},
      {std::string(258, 'a') + emoji, std::string(258, 'a') + "\\"},
      {"C:\\Users\\" + kanji + emoji, "C:\\Users\\" + kanji + emoji + "\\Quillon\\"},
  };
  for (const auto& c : cases) {
    char folder[persist::SETTINGS_PATH_SIZE];
    char file[persist::SETTINGS_PATH_SIZE];
    persist::BuildSettingsPaths(c.appData.c_str(), folder, file);
    EXPECT_EQ(std::string(folder), c.folder) << c.appData.size();
  }
}

TEST(Language, OnlyThePlainString1031IsGerman) {
  struct Case {
    unsigned long type;
    const char* data;
    size_t size;
    bool german;
  };
  const Case cases[] = {
      {persist::LANG_TYPE_SZ, "1031", 5, true},
      {persist::LANG_TYPE_SZ, "1031", 4, true},  // stored without its zero
      {persist::LANG_TYPE_SZ, "1031 ", 6, false},
      {persist::LANG_TYPE_SZ, "10310", 6, false},
      {persist::LANG_TYPE_SZ, "103", 4, false},
      {persist::LANG_TYPE_SZ, "", 1, false},
      {persist::LANG_TYPE_SZ, "1033", 5, false},
      {2 /* REG_EXPAND_SZ */, "1031", 5, false},
      {4 /* REG_DWORD */, "\x07\x04\x00\x00", 4, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(persist::IsGermanLangValue(c.type, c.data, c.size), c.german)
        << '"' << c.data << "\" type " << c.type << " size " << c.size;
  }
}

TEST(Language, HelpFileLiesBesideTheProgram) {
  char path[persist::HELP_PATH_SIZE];
  persist::BuildHelpPath("C:\\Tools\\Quillon\\quillon.exe", false, path);
  EXPECT_STREQ(path, "C:\\Tools\\Quillon\\tarnix.chm");
  persist::BuildHelpPath("C:\\Tools\\Quillon\\quillon.exe", true, path);
  EXPECT_STREQ(path, "C:\\Tools\\Quillon\\tarnixd.chm");
  persist::BuildHelpPath("quillon.exe", false, path);
  EXPECT_STREQ(path, "tarnix.chm");

  std::string longPath = "C:\\" + std::string(252, 'd') + "\\q.exe";
  persist::BuildHelpPath(longPath.c_str(), true, path);
  EXPECT_EQ(std::strlen(path), 259u);
  EXPECT_EQ(std::string(path), (longPath.substr(0, 256) + "tarnixd.chm").substr(0, 259));
}

}  // namespace
