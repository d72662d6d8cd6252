// The configuration of the simulated bus and its slaves, read from a small
// INI-like text (format in the README, section "Simulated adapter").
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

constexpr int MAX_SLAVES = 64;
constexpr int MAX_MASTERS = 64;
constexpr int MAX_NAME = 32;  // product name, characters
constexpr int MAX_PATH_TEXT = 260;
constexpr uint32_t MAX_RX_QUEUE = 4096;  // adapter receive queue, frames
constexpr int ANSWER_KINDS = 4;          // SIM_ANSWER_POLL .. SIM_ANSWER_DUPMAC

enum IoBehaviour : uint8_t { IO_ECHO, IO_COUNTER };

// Faults of one slave; the same record is changed while running.
struct Faults {
  uint32_t drop[ANSWER_KINDS];     // answer frames still to drop, by kind
  uint32_t delayMs[ANSWER_KINDS];  // delay of every answer frame, by kind
  uint32_t wrongToggle;            // explicit frames still to send with the toggle inverted
  uint32_t wrongFragCount;         // fragments still to send with a wrong count
  uint8_t refuseGeneral;           // refuse UCMM Opens with this error (0 = accept)
  uint8_t refuseAdditional;
  uint32_t refuseCount;  // Opens still to refuse; 0 = every one
  // Allocate (0x4B) or Release (0x4C) of the predefined set refused with
  // this error, `refuseSetCount` more times (0 = none).
  uint8_t refuseSetService;
  uint8_t refuseSetGeneral;
  uint8_t refuseSetAdditional;
  uint32_t refuseSetCount;
};

struct SlaveConfig {
  uint8_t mac;
  uint8_t baud;  // 0 = 125, 1 = 250, 2 = 500 kbit/s
  uint16_t vendor;
  uint16_t deviceType;
  uint16_t productCode;
  uint8_t revMajor;
  uint8_t revMinor;
  uint32_t serial;
  char name[MAX_NAME + 1];
  uint16_t produced;  // poll response size, bytes
  uint16_t consumed;  // poll command size, bytes
  bool ucmm;
  // Serves the Group 2 Only Unconnected port (Allocate and Release there);
  // a UCMM capable device need not.
  bool group2Port;
  uint8_t bodyFormat;  // BODY_8_8 ..
  IoBehaviour io;
  uint32_t dupMacMs;         // between the two Duplicate MAC ID requests after a reset
  uint32_t ackTimeoutMs;     // wait for the acknowledge of a response fragment
  uint16_t eprResolutionMs;  // expected packet rates are rounded up to this
  // A device whose MAC ID or baud rate is set by switches refuses the write
  // with this general error code (0: takes the new value).
  uint8_t refuseMacWrite;
  uint8_t refuseBaudWrite;
  bool silentAfterRestart;  // stays off the bus after a reset or a new MAC ID
  Faults faults;
};

// A master (scanner) node on the bus that owns one slave and polls it.
struct MasterConfig {
  uint8_t mac;
  uint8_t baud;     // 0 = 125, 1 = 250, 2 = 500 kbit/s
  uint8_t slave;    // MAC ID of the slave it allocates and polls
  uint32_t pollMs;  // poll interval
  uint16_t vendor;  // carried by its Duplicate MAC ID messages
  uint32_t serial;
  bool ucmm;         // tries an Open through the slave's UCMM before the Group 2 Only port
  bool outputGiven;  // the poll command size comes from `output`, not from the slave
  uint16_t outputLen;
  uint8_t outputByte;  // every output byte
  uint32_t startMs;    // powers on this long after the configuration is loaded
  uint32_t dupMacMs;   // between its two Duplicate MAC ID requests
};

struct BusConfig {
  bool wireTime;
  uint32_t rxQueue;  // frames
  uint32_t status;
  char traceCandump[MAX_PATH_TEXT];  // written at CAN_Close when not empty
  char tracePcap[MAX_PATH_TEXT];
};

struct Config {
  BusConfig bus;
  SlaveConfig slave[MAX_SLAVES];
  int slaveCount;
  MasterConfig master[MAX_MASTERS];
  int masterCount;
};

// Parses a configuration text. On a bad line returns false with a message
// "<name>:<line>: <what is wrong>" in err; `out` is then unusable.
bool ParseConfig(const char* text, const char* name, Config& out, char* err, size_t errSize);

// Reads and parses a file; false with a message when it cannot be read or
// is refused.
bool ReadConfigFile(const char* path, Config& out, char* err, size_t errSize);

// The built-in default (the text of sim/simcan.ini, compiled in).
extern const char kDefaultConfig[];

}  // namespace sim
