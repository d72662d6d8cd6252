// Who a node is: its Identity object read over an explicit connection of its
// own, opened for the read and closed straight after. The search uses it for
// every node that answered its probe; the node's I/O connection is never
// touched, so a node another master polls keeps running.
#pragma once

#include <cstdint>

namespace master {

constexpr int PRODUCT_NAME_SIZE = 33;  // a SHORT_STRING of up to 32 characters, and the end
constexpr uint32_t IDENTITY_CONNECT_TIMEOUT_MS = 200;
constexpr uint32_t IDENTITY_READ_TIMEOUT_MS = 1000;

// NodeIdentity::present bits: the attributes the node gave.
constexpr uint8_t IDENTITY_VENDOR = 0x01;
constexpr uint8_t IDENTITY_DEVICE_TYPE = 0x02;
constexpr uint8_t IDENTITY_PRODUCT_CODE = 0x04;
constexpr uint8_t IDENTITY_REVISION = 0x08;
constexpr uint8_t IDENTITY_SERIAL = 0x10;
constexpr uint8_t IDENTITY_PRODUCT_NAME = 0x20;

struct NodeIdentity {
  uint8_t present;
  uint16_t vendorId;
  uint16_t deviceType;
  uint16_t productCode;
  uint8_t revisionMajor;
  uint8_t revisionMinor;
  uint32_t serial;
  char productName[PRODUCT_NAME_SIZE];
};

// Opens an explicit connection to `macId` (TxOpenExplicit), reads vendor ID,
// device type, product code, revision, serial number and product name, and
// closes the connection again, also after a failure. An attribute the node
// refuses stays out of `present`; `stop` is asked between two requests and
// true ends the read early (the connection is still closed). Returns TXR_OK
// when the vendor ID was read, else what went wrong first: the open's result
// (TXR_OWNED_ELSEWHERE for another master's node, TXR_SET_AT_OWN_MAC for a
// connection allocated at our MAC ID that may not be ours), the vendor ID's error
// result, or TXR_TIMEOUT when the node stopped answering.
uint32_t ReadNodeIdentity(uint8_t macId, uint8_t ownMacId, NodeIdentity& identity,
                          bool (*stop)(void* context), void* context);

}  // namespace master
