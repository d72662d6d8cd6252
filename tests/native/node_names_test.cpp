#include "master/node_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

struct Known {
  uint16_t code;
  const char* name;
};

// First and last entries included: an off-by-one in the search misses them.
const Known kDeviceTypes[] = {
    {0x00, "Generic Device"},
    {0x02, "AC Drive"},
    {0x06, "Photoelectric Sensor"},
    {0x07, "General Purpose Discrete I/O"},
    {0x0C, "Communications Adapter"},
    {0x0E, "Programmable Logic Controller"},
    {0x22, "Encoder"},
    {0x23, "Safety Discrete I/O Device"},
    {0xC8, "Embedded Component"},
};

const Known kVendors[] = {
    {1, "Rockwell Automation/Allen-Bradley"},
    {5, "Rockwell Automation/Reliance Electric"},
    {47, "Omron"},
    {87, "Buerkert Werke"},
    {283, "Hilscher"},
    {808, "SICK"},
    {1231, "Dukane"},
};

TEST(NodeNames, KnownDeviceTypesHaveTheirProfileNames) {
  for (const Known& k : kDeviceTypes) {
    SCOPED_TRACE(k.code);
    const char* name = master::DeviceTypeName(k.code);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, k.name);
  }
}

TEST(NodeNames, KnownVendorIdsHaveTheirCompanyNames) {
  for (const Known& k : kVendors) {
    SCOPED_TRACE(k.code);
    const char* name = master::VendorName(k.code);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, k.name);
  }
}

TEST(NodeNames, UnknownCodesHaveNoName) {
  // Unassigned gaps between entries, just past the last entry, and the top.
  const uint16_t kDeviceTypeGaps[] = {0x01, 0x08, 0x0D, 0x36, 0xC7, 0xC9, 0x100, 0xFFFF};
  for (uint16_t code : kDeviceTypeGaps) {
    SCOPED_TRACE(code);
    EXPECT_EQ(master::DeviceTypeName(code), nullptr);
  }
  // 0 and 6 are reserved IDs; 15 a gap; 1232 just past the last entry.
  const uint16_t kVendorGaps[] = {0, 6, 15, 1232, 0x8000, 0xFFFF};
  for (uint16_t id : kVendorGaps) {
    SCOPED_TRACE(id);
    EXPECT_EQ(master::VendorName(id), nullptr);
  }
}

struct Table {
  const char* what;
  int (*count)();
  uint16_t (*codeAt)(int);
  const char* (*nameAt)(int);
  const char* (*lookUp)(uint16_t);
};

const Table kTables[] = {
    {"device types", master::DeviceTypeNameCount, master::DeviceTypeCodeAt,
     master::DeviceTypeNameAt, master::DeviceTypeName},
    {"vendors", master::VendorNameCount, master::VendorIdAt, master::VendorNameAt,
     master::VendorName},
};

// Every entry must fit the list column and be found by the binary search,
// which only works on a table sorted strictly ascending.
TEST(NodeNames, TablesAreSortedAndEveryNameFitsTheColumn) {
  for (const Table& t : kTables) {
    SCOPED_TRACE(t.what);
    const int n = t.count();
    ASSERT_GT(n, 10);
    for (int i = 0; i < n; ++i) {
      const uint16_t code = t.codeAt(i);
      const char* name = t.nameAt(i);
      SCOPED_TRACE(code);
      if (i > 0) {
        EXPECT_LT(t.codeAt(i - 1), code);
      }
      ASSERT_NE(name, nullptr);
      const size_t len = std::strlen(name);
      EXPECT_GT(len, 0u);
      EXPECT_LE(len, 40u) << name;
      for (size_t c = 0; c < len; ++c) {
        const unsigned char ch = static_cast<unsigned char>(name[c]);
        EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << name << " at " << c;
      }
      EXPECT_EQ(t.lookUp(code), name);
    }
    EXPECT_EQ(t.nameAt(n), nullptr);
    EXPECT_EQ(t.nameAt(-1), nullptr);
  }
}

}  // namespace
