// The driver library loaded by file name under the adapter drivers' names,
// with the entry points resolved as the program resolves them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "library_loader.h"
#include "simcan.h"

namespace {

struct Driver {
  void* lib;
  CanInitFn init;
  CanInitLptFn initLpt;
  CanCloseFn close;
  CanStatusFn status;
  CanWriteFn write;
  CanReadFn read;
  CanVersionInfoFn versionInfo;
  CanResetClientFn resetClient;
  SimLastErrorFn lastError;
  SimLastErrorFn errorBoxText;
  SimVoidFn useManualClock;
  SimAdvanceFn advanceMs;
  SimGetSlaveFn getSlave;
  SimGetAdapterFn getAdapter;
};

template <typename T>
bool Resolve(void* lib, const char* name, T& out) {
  out = reinterpret_cast<T>(LibSymbol(lib, name));
  return out != nullptr;
}

// Copies the built library to `name` in the working directory, once per
// run (a loaded library stays mapped and must not be overwritten), and
// loads it.
bool Load(const char* name, Driver& d) {
  static std::string copied;
  if (copied.find(std::string("|") + name) == std::string::npos) {
    copied += std::string("|") + name;
    std::ifstream in(SIMCAN_LIBRARY, std::ios::binary);
    std::ofstream out(name, std::ios::binary);
    if (!in || !out) return false;
    out << in.rdbuf();
  }
  d = Driver{};
  d.lib = LoadLib(Here(name));
  if (!d.lib) return false;
  return Resolve(d.lib, "CAN_Init", d.init) && Resolve(d.lib, "CAN_Init", d.initLpt) &&
         Resolve(d.lib, "CAN_Close", d.close) && Resolve(d.lib, "CAN_Status", d.status) &&
         Resolve(d.lib, "CAN_Write", d.write) && Resolve(d.lib, "CAN_Read", d.read) &&
         Resolve(d.lib, "CAN_VersionInfo", d.versionInfo) &&
         Resolve(d.lib, "CAN_ResetClient", d.resetClient) &&
         Resolve(d.lib, "Sim_LastError", d.lastError) &&
         Resolve(d.lib, "Sim_ErrorBoxText", d.errorBoxText) &&
         Resolve(d.lib, "Sim_UseManualClock", d.useManualClock) &&
         Resolve(d.lib, "Sim_AdvanceMs", d.advanceMs) &&
         Resolve(d.lib, "Sim_GetSlave", d.getSlave) &&
         Resolve(d.lib, "Sim_GetAdapter", d.getAdapter);
}

void WriteFile(const char* path, const char* text) {
  std::ofstream out(path);
  out << text;
}

DriverMsg Msg(uint32_t id, std::initializer_list<uint8_t> data) {
  DriverMsg m{};
  m.ID = id;
  for (uint8_t b : data) m.DATA[m.LEN++] = b;
  return m;
}

// Runs first: the process has no simulated bus until a configuration is
// accepted, so CAN_Init fails on a bad file and succeeds once it is fixed.
// Each refusing CAN_Init has the text for the user's message box ready (on
// Windows the box itself, which the variable set here keeps from blocking).
TEST(Driver, RefusedConfigurationFailsInitUntilFixed) {
  WriteFile("driver_test.ini", "[slave]\nmac = 5\nbaud = 128\n");
  SetEnv("SIMCAN_CONFIG", "driver_test.ini");
  SetEnv("SIMCAN_NO_ERROR_BOX", "1");
  Driver d;
  ASSERT_TRUE(Load("pcan_usb.dll", d));
  EXPECT_STREQ("", d.errorBoxText());
  EXPECT_EQ(uint32_t(SIMCAN_ERR_CONFIG), d.init(SIMCAN_BTR_125K, 0));
  EXPECT_EQ(std::string("driver_test.ini:3: baud must be 125, 250 or 500"), d.lastError());
  const char* box =
      "The configuration of the simulated CAN adapter was refused:\n\n"
      "driver_test.ini:3: baud must be 125, 250 or 500\n\n"
      "The adapter stays closed until the file is corrected.";
  EXPECT_STREQ(box, d.errorBoxText());
  WriteFile("driver_test.ini", "[slave]\nmac = 5\n[master]\nmac = 0\n");
  EXPECT_EQ(uint32_t(SIMCAN_ERR_CONFIG), d.init(SIMCAN_BTR_125K, 0));
  EXPECT_NE(nullptr, strstr(d.errorBoxText(), "driver_test.ini:3: [master] without slave\n"))
      << d.errorBoxText();
  WriteFile("driver_test.ini", "[slave]\nmac = 5\nserial = 0x0102\n");
  EXPECT_EQ(0u, d.init(SIMCAN_BTR_125K, 0));
  EXPECT_STREQ("", d.errorBoxText());
  d.close();
  FreeLib(d.lib);
}

TEST(Driver, SlavesKeepTheirStateAcrossUnloadAndAnotherAdapterName) {
  Driver d;
  ASSERT_TRUE(Load("pcan_usb.dll", d));
  char version[64] = "";
  EXPECT_EQ(0u, d.versionInfo(version));
  EXPECT_NE(nullptr, strstr(version, "simulated"));
  EXPECT_EQ(uint32_t(SIMCAN_ERR_ILLPARAM), d.init(0x0014, 0));
  ASSERT_EQ(0u, d.init(SIMCAN_BTR_125K, 0));
  SimAdapterInfo adapter{};
  ASSERT_EQ(0, d.getAdapter(&adapter));
  EXPECT_EQ(1, adapter.open);
  EXPECT_EQ(0, adapter.parallelForm);
  EXPECT_STREQ("pcan_usb.dll", adapter.driverFile);
  d.useManualClock();
  EXPECT_EQ(0u, d.status());
  DriverMsg m = Msg(0x42E, {0x01, 0x4B, 0x03, 0x01, 0x01, 0x01});  // allocate at MAC 5
  ASSERT_EQ(0u, d.write(&m));
  m = Msg(0x42C, {0x01, 0x10, 0x03, 0x01, 0x01, 9});  // new MAC ID 9
  ASSERT_EQ(0u, d.write(&m));
  DriverMsg r{};
  ASSERT_EQ(0u, d.read(&r));
  EXPECT_EQ(0x42Bu, r.ID);
  EXPECT_EQ(0u, d.resetClient());
  EXPECT_EQ(uint32_t(SIMCAN_ERR_QRCVEMPTY), d.read(&r));
  d.close();
  FreeLib(d.lib);

  // The parallel-port adapter's name: CAN_Init takes five arguments.
  ASSERT_TRUE(Load("pcan_dng.dll", d));
  ASSERT_EQ(0u, d.initLpt(SIMCAN_BTR_125K, 0, 5, 0x278, 5));
  ASSERT_EQ(0, d.getAdapter(&adapter));
  EXPECT_EQ(1, adapter.parallelForm);
  EXPECT_EQ(5, adapter.hwType);
  EXPECT_EQ(0x278u, adapter.ioPort);
  EXPECT_EQ(5, adapter.interrupt);
  EXPECT_STREQ("pcan_dng.dll", adapter.driverFile);
  d.advanceMs(2000);  // the Duplicate MAC ID check at the new address
  SimSlaveInfo info{};
  ASSERT_EQ(0, d.getSlave(0, &info));
  EXPECT_EQ(9, info.macId);
  EXPECT_EQ(SIM_LINK_ONLINE, info.link);
  while (d.read(&r) == 0) {
  }
  m = Msg(0x44F, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  ASSERT_EQ(0u, d.write(&m));
  ASSERT_EQ(0u, d.read(&r));
  EXPECT_EQ(0x44Fu, r.ID);
  EXPECT_EQ(0x80, r.DATA[0]);
  EXPECT_EQ(0x02, r.DATA[3]);
  d.close();
  FreeLib(d.lib);
}

}  // namespace
