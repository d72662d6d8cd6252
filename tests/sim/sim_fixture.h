// Helpers of the simulator tests: frames written as the master's adapter,
// frames read back, compared byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "simcan.h"

using Bytes = std::vector<uint8_t>;

struct RxFrame {
  bool ok;
  uint32_t id;
  Bytes data;
};

inline std::string Hex(uint32_t id, const Bytes& data) {
  char buf[8];
  snprintf(buf, sizeof buf, "%03X#", static_cast<unsigned>(id));
  std::string s = buf;
  for (uint8_t b : data) {
    snprintf(buf, sizeof buf, "%02X", b);
    s += buf;
  }
  return s;
}

inline void Send(uint32_t id, const Bytes& data) {
  ASSERT_LE(data.size(), 8u) << Hex(id, data);
  DriverMsg m{};
  m.ID = id;
  m.LEN = static_cast<uint8_t>(data.size());
  for (size_t i = 0; i < data.size(); ++i) m.DATA[i] = data[i];
  ASSERT_EQ(0u, CAN_Write(&m)) << Hex(id, data);
}

inline RxFrame Next() {
  DriverMsg m{};
  if (CAN_Read(&m) != 0) return RxFrame{false, 0, {}};
  return RxFrame{true, m.ID, Bytes(m.DATA, m.DATA + m.LEN)};
}

// Compares as candump text, so a failure shows both frames.
inline ::testing::AssertionResult FrameIs(const RxFrame& f, uint32_t id, const Bytes& data) {
  if (!f.ok) return ::testing::AssertionFailure() << "no frame, expected " << Hex(id, data);
  if (f.id != id || f.data != data) {
    return ::testing::AssertionFailure()
           << "got " << Hex(f.id, f.data) << ", expected " << Hex(id, data);
  }
  return ::testing::AssertionSuccess();
}

#define EXPECT_FRAME(frame, frameId, ...) \
  EXPECT_TRUE(FrameIs((frame), (frameId), Bytes __VA_ARGS__))

#define EXPECT_NO_FRAME()                                        \
  do {                                                           \
    RxFrame f_ = Next();                                         \
    EXPECT_FALSE(f_.ok) << "unexpected " << Hex(f_.id, f_.data); \
  } while (0)

inline SimSlaveInfo Slave(int index) {
  SimSlaveInfo info{};
  EXPECT_EQ(0, Sim_GetSlave(index, &info));
  return info;
}

inline void Drain() {
  while (Next().ok) {
  }
}
