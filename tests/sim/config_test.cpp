// The configuration file: refused lines name file, line and fault; nothing
// starts half-configured.
#include "config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "simcan.h"

namespace {

TEST(Config, BadLinesAreRefusedWithFileLineAndReason) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"mac = 5\n", "t:1: key outside a section: mac"},
      {"[network]\n", "t:1: unknown section [network]"},
      {"[slave]\nmac 5\n", "t:2: expected key = value: mac 5"},
      {"[slave]\nmac = 64\n", "t:2: mac must be 0 to 63"},
      {"[slave]\nmac = -1\n", "t:2: mac must be 0 to 63"},
      {"[slave]\nmac = 5\nbaud = 300\n", "t:3: baud must be 125, 250 or 500"},
      {"[slave]\nmac = 5\nproduced = 65536\n", "t:3: produced must be 0 to 65535"},
      {"[slave]\nmac = 5\nconsumed = 12x\n", "t:3: consumed must be 0 to 65535"},
      {"[slave]\nmac = 5\nbody_format = 8/32\n",
       "t:3: body_format must be 8/8, 8/16, 16/16 or 16/8"},
      {"[slave]\nmac = 5\nio = random\n", "t:3: io must be echo or counter"},
      {"[slave]\nmac = 5\nucmm = maybe\n", "t:3: ucmm must be yes or no"},
      {"[slave]\nmac = 5\nrevision = 0.1\n", "t:3: revision must be major.minor (1..127.1..255)"},
      {"[slave]\nmac = 5\nname = 123456789012345678901234567890123\n",
       "t:3: name is longer than 32 characters"},
      {"[slave]\nmac = 5\nrefuse_open = 0x02\n",
       "t:3: refuse_open must be two codes, for example 0x02 0x01"},
      {"[slave]\nmac = 5\ndelay_poll = 70000\n", "t:3: a delay_ must be 0 to 60000 ms"},
      {"[slave]\nmac = 5\nrefuse_baud_write = 256\n",
       "t:3: a refuse_..._write must be a general error code 0 to 255"},
      {"[slave]\nmac = 5\nsilent_after_restart = later\n",
       "t:3: silent_after_restart must be yes or no"},
      {"[slave]\nmac = 5\ncolour = red\n", "t:3: unknown key in [slave]: colour"},
      {"[bus]\nwire_time = maybe\n", "t:2: wire_time must be yes or no"},
      {"[bus]\nrx_queue = 0\n", "t:2: rx_queue must be 1 to 4096"},
      {"[slave]\nbaud = 250\n\n[bus]\n", "t:1: [slave] without mac"},
      {"[slave]\nmac = 5\n[slave]\nmac = 5\n", "t:3: a second slave with the same mac and baud"},
  };
  ASSERT_EQ(0, Sim_LoadConfigText("[slave]\nmac = 1\n[slave]\nmac = 2\n", "good"));
  for (const Case& c : cases) {
    EXPECT_EQ(-1, Sim_LoadConfigText(c.text, "t")) << c.text;
    EXPECT_EQ(std::string(c.message), Sim_LastError()) << c.text;
    EXPECT_EQ(2, Sim_SlaveCount()) << "the previous configuration stays";
  }
}

TEST(Config, EveryKeyIsTaken) {
  sim::Config c{};
  char err[256] = "";
  const char text[] =
      "# comment\r\n"
      "[bus]\n wire_time = yes \nrx_queue = 16\nstatus = 0x08\ntrace_pcap = out.pcap\n"
      "[slave]\nmac = 0x3F\nbaud = 500\nvendor = 65535\ndevice_type = 12\nproduct_code = 7\n"
      "revision = 127.255\nserial = 0xFFFFFFFF\nname = A b # c\nproduced = 1000\n"
      "consumed = 0\nucmm = yes\nbody_format = 16/8\nio = counter\ndup_mac_ms = 0\n"
      "ack_timeout_ms = 50\nepr_resolution_ms = 1\ndrop_ack = 3\ndelay_dup_mac = 9\n"
      "wrong_toggle = 2\nwrong_frag_count = 1\nrefuse_open = 0x02 0x04\n"
      "refuse_mac_write = 0x0E\nrefuse_baud_write = 9\nsilent_after_restart = yes\n";
  ASSERT_TRUE(sim::ParseConfig(text, "t", c, err, sizeof err)) << err;
  EXPECT_TRUE(c.bus.wireTime);
  EXPECT_EQ(16u, c.bus.rxQueue);
  EXPECT_EQ(8u, c.bus.status);
  EXPECT_STREQ("out.pcap", c.bus.tracePcap);
  ASSERT_EQ(1, c.slaveCount);
  const sim::SlaveConfig& s = c.slave[0];
  EXPECT_EQ(63, s.mac);
  EXPECT_EQ(2, s.baud);
  EXPECT_EQ(65535, s.vendor);
  EXPECT_EQ(12, s.deviceType);
  EXPECT_EQ(7, s.productCode);
  EXPECT_EQ(127, s.revMajor);
  EXPECT_EQ(255, s.revMinor);
  EXPECT_EQ(0xFFFFFFFFu, s.serial);
  EXPECT_STREQ("A b # c", s.name);
  EXPECT_EQ(1000, s.produced);
  EXPECT_EQ(0, s.consumed);
  EXPECT_TRUE(s.ucmm);
  EXPECT_EQ(3, s.bodyFormat);
  EXPECT_EQ(sim::IO_COUNTER, s.io);
  EXPECT_EQ(0u, s.dupMacMs);
  EXPECT_EQ(50u, s.ackTimeoutMs);
  EXPECT_EQ(1, s.eprResolutionMs);
  EXPECT_EQ(3u, s.faults.drop[SIM_ANSWER_ACK]);
  EXPECT_EQ(9u, s.faults.delayMs[SIM_ANSWER_DUPMAC]);
  EXPECT_EQ(2u, s.faults.wrongToggle);
  EXPECT_EQ(1u, s.faults.wrongFragCount);
  EXPECT_EQ(2, s.faults.refuseGeneral);
  EXPECT_EQ(4, s.faults.refuseAdditional);
  EXPECT_EQ(0x0E, s.refuseMacWrite);
  EXPECT_EQ(9, s.refuseBaudWrite);
  EXPECT_TRUE(s.silentAfterRestart);
}

TEST(Config, MasterSections) {
  sim::Config c{};
  char err[256] = "";
  const char text[] =
      "[master]\nmac = 0\nslave = 5\nbaud = 250\npoll_ms = 10\nvendor = 0x77\n"
      "serial = 0xCAFE\nucmm = no\noutput = 12 0x55\nstart_ms = 500\n"
      "[slave]\nmac = 5\n"
      "[master]\nmac = 1\nslave = 0\n";
  ASSERT_TRUE(sim::ParseConfig(text, "t", c, err, sizeof err)) << err;
  ASSERT_EQ(2, c.masterCount);
  EXPECT_EQ(1, c.slaveCount);
  const sim::MasterConfig& m = c.master[0];
  EXPECT_EQ(0, m.mac);
  EXPECT_EQ(5, m.slave);
  EXPECT_EQ(1, m.baud);
  EXPECT_EQ(10u, m.pollMs);
  EXPECT_EQ(0x77, m.vendor);
  EXPECT_EQ(0xCAFEu, m.serial);
  EXPECT_FALSE(m.ucmm);
  EXPECT_TRUE(m.outputGiven);
  EXPECT_EQ(12, m.outputLen);
  EXPECT_EQ(0x55, m.outputByte);
  EXPECT_EQ(500u, m.startMs);
  // The defaults: 125 kbit/s, UCMM first, sizes learned from the slave.
  const sim::MasterConfig& d = c.master[1];
  EXPECT_EQ(0, d.baud);
  EXPECT_EQ(100u, d.pollMs);
  EXPECT_TRUE(d.ucmm);
  EXPECT_FALSE(d.outputGiven);
  EXPECT_EQ(0u, d.startMs);

  const struct {
    const char* text;
    const char* message;
  } bad[] = {
      {"[master]\nmac = 64\n", "t:2: mac must be 0 to 63"},
      {"[master]\nmac = 1\nslave = 70\n", "t:3: slave must be a MAC ID 0 to 63"},
      {"[master]\nmac = 1\nslave = 2\nbaud = 1000\n", "t:4: baud must be 125, 250 or 500"},
      {"[master]\nmac = 1\nslave = 2\npoll_ms = 0\n", "t:4: poll_ms must be 1 to 60000"},
      {"[master]\nmac = 1\nucmm = sometimes\n", "t:3: ucmm must be yes or no"},
      {"[master]\nmac = 1\nserial = 0x100000000\n", "t:3: serial must be a 32-bit number"},
      {"[master]\nmac = 1\nstart_ms = -1\n", "t:3: start_ms must be 0 to 3600000"},
      {"[master]\nmac = 1\noutput = 1001\n",
       "t:3: output must be a length 0 to 1000 and an optional byte, for example 8 0x55"},
      {"[master]\nmac = 1\noutput = 8 0x100\n",
       "t:3: output must be a length 0 to 1000 and an optional byte, for example 8 0x55"},
      {"[master]\nmac = 1\noutput = 8 1 2\n",
       "t:3: output must be a length 0 to 1000 and an optional byte, for example 8 0x55"},
      {"[master]\nmac = 1\ncolour = red\n", "t:3: unknown key in [master]: colour"},
      {"[master]\nslave = 5\n[slave]\nmac = 5\n", "t:1: [master] without mac"},
      {"[slave]\nmac = 5\n[master]\nmac = 1\n", "t:3: [master] without slave"},
      {"[master]\nmac = 5\nslave = 5\n", "t:1: a master cannot own its own mac as slave"},
  };
  for (const auto& b : bad) {
    EXPECT_FALSE(sim::ParseConfig(b.text, "t", c, err, sizeof err)) << b.text;
    EXPECT_EQ(std::string(b.message), err) << b.text;
  }
}

TEST(Config, DefaultHasOneSlaveAtMac63And125k) {
  sim::Config c{};
  char err[256] = "";
  ASSERT_TRUE(sim::ParseConfig(sim::kDefaultConfig, "default", c, err, sizeof err)) << err;
  ASSERT_EQ(1, c.slaveCount);
  EXPECT_EQ(63, c.slave[0].mac);
  EXPECT_EQ(0, c.slave[0].baud);
}

TEST(Config, FileErrorsNameTheFile) {
  const char* path = "config_test_bad.ini";
  FILE* f = fopen(path, "w");
  ASSERT_NE(nullptr, f);
  fputs("[slave]\nmac = 5\n\nbaud = 1M\n", f);
  fclose(f);
  EXPECT_EQ(-1, Sim_LoadConfigFile(path));
  EXPECT_EQ(std::string(path) + ":4: baud must be 125, 250 or 500", Sim_LastError());
  EXPECT_EQ(-1, Sim_LoadConfigFile("no_such_file.ini"));
  EXPECT_EQ(std::string("no_such_file.ini: cannot be read"), Sim_LastError());
  remove(path);
}

}  // namespace
