#include "master/search_entry.h"

#include <cstdio>

#include "can/can_driver.h"
#include "master/node_names.h"
#include "master/search.h"
#include "master/session.h"
#include "master/transactions.h"
#include "persist/messages.h"
#include "persist/resstring.h"
#include "resource.h"

namespace master {

namespace {

constexpr size_t FIELD_SIZE = 120;
constexpr uint32_t DATA_RATE_SHIFT = 8;
constexpr uint32_t DATA_MAC_MASK = 0x3F;
constexpr uint32_t DATA_RATE_MASK = 0xFF;

// Appends a field, the separator before every field but the first.
void Append(char* text, size_t size, size_t& used, const char* field) {
  const int written =
      std::snprintf(text + used, size - used, used > 0 ? "\t%s" : "%s", field ? field : "");
  if (written < 0) return;
  used += static_cast<size_t>(written);
  if (used >= size) used = size - 1;
}

// A code with its name where the table knows one: "7 General Purpose Discrete I/O".
void CodeWithName(unsigned code, const char* name, char* field) {
  if (name) {
    std::snprintf(field, FIELD_SIZE, "%u %s", code, name);
  } else {
    std::snprintf(field, FIELD_SIZE, "%u", code);
  }
}

void AppendIdentity(const NodeIdentity& identity, char* text, size_t size, size_t& used) {
  char field[FIELD_SIZE];
  const auto have = [&identity](uint8_t bit) { return (identity.present & bit) != 0; };
  field[0] = '\0';
  if (have(IDENTITY_VENDOR)) CodeWithName(identity.vendorId, VendorName(identity.vendorId), field);
  Append(text, size, used, field);
  field[0] = '\0';
  if (have(IDENTITY_DEVICE_TYPE)) {
    CodeWithName(identity.deviceType, DeviceTypeName(identity.deviceType), field);
  }
  Append(text, size, used, field);
  field[0] = '\0';
  if (have(IDENTITY_PRODUCT_CODE)) std::snprintf(field, sizeof field, "%u", identity.productCode);
  Append(text, size, used, field);
  field[0] = '\0';
  if (have(IDENTITY_REVISION)) {
    std::snprintf(field, sizeof field, "%u.%u", identity.revisionMajor, identity.revisionMinor);
  }
  Append(text, size, used, field);
  field[0] = '\0';
  if (have(IDENTITY_SERIAL)) {
    std::snprintf(field, sizeof field, "%lu", static_cast<unsigned long>(identity.serial));
  }
  Append(text, size, used, field);
  Append(text, size, used, have(IDENTITY_PRODUCT_NAME) ? identity.productName : "");
}

// Why a node that answered its probe has no identity in the list.
void ReasonText(const SearchNode& node, char* field) {
  field[0] = '\0';
  if (node.state == NODE_ANSWERED) {
    persist::LoadResString(SearchRunning ? IDS_NODE_READING : IDS_NODE_NOT_READ, field, FIELD_SIZE);
  } else if (node.failure & TXR_ADAPTER_ERROR) {
    persist::LoadResString(IDS_NODE_ADAPTER_ERROR, field, FIELD_SIZE);
  } else if (node.failure == TXR_OWNED_ELSEWHERE) {
    persist::LoadResString(IDS_NODE_OWNED, field, FIELD_SIZE);
  } else if (node.failure & TXR_GEC_MASK) {
    char code[FIELD_SIZE];
    ErrorCodeText(node.failure, code, sizeof code);
    persist::FormatResString(IDS_NODE_REFUSED, code, nullptr, nullptr, field, FIELD_SIZE);
  } else {
    persist::LoadResString(IDS_NODE_NO_ANSWER, field, FIELD_SIZE);
  }
}

}  // namespace

int SearchEntries(SearchEntry* entries) {
  int count = 0;
  for (int mac = 0; mac < SEARCH_MAC_COUNT; ++mac) {
    if (SearchMarks[mac] == MARK_SILENT) {
      entries[count++] = {static_cast<uint8_t>(mac), -1};
      continue;
    }
    for (int rate = 0; rate < SEARCH_RATE_COUNT; ++rate) {
      if (SearchNodes[rate][mac].state != NODE_ABSENT) {
        entries[count++] = {static_cast<uint8_t>(mac), static_cast<int8_t>(rate)};
      }
    }
  }
  return count;
}

void SearchEntryText(const SearchEntry& entry, char* text, size_t size) {
  if (size == 0) return;
  text[0] = '\0';
  char field[FIELD_SIZE];
  if (entry.rate < 0) {
    std::snprintf(text, size, "(%u)", static_cast<unsigned>(entry.mac));
    return;
  }
  size_t used = 0;
  std::snprintf(field, sizeof field, "%u", static_cast<unsigned>(entry.mac));
  Append(text, size, used, field);
  std::snprintf(field, sizeof field, "%u kBaud",
                static_cast<unsigned>(can::BaudTable[entry.rate].RateKBaud));
  Append(text, size, used, field);
  const SearchNode& node = SearchNodes[entry.rate][entry.mac];
  if (node.state == NODE_IDENTIFIED) {
    AppendIdentity(node.identity, text, size, used);
  } else {
    ReasonText(node, field);
    Append(text, size, used, field);
  }
}

uint32_t SearchEntryData(const SearchEntry& entry) {
  const uint32_t rate = entry.rate < 0 ? 0 : static_cast<uint32_t>(entry.rate) + 1;
  return rate << DATA_RATE_SHIFT | entry.mac;
}

void SearchEntryChoice(uint32_t data, int& address, int& baudIndex) {
  address = static_cast<int>(data & DATA_MAC_MASK);
  const uint32_t rate = (data >> DATA_RATE_SHIFT) & DATA_RATE_MASK;
  baudIndex = rate >= 1 && rate <= SEARCH_RATE_COUNT ? static_cast<int>(rate) - 1 : -1;
}

}  // namespace master
