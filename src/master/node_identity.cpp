#include "master/node_identity.h"

#include <cstring>

#include "devicenet/devicenet.h"
#include "master/transactions.h"

namespace master {

namespace {

using namespace devicenet;

constexpr uint16_t IDENTITY_INSTANCE = 1;
constexpr size_t RESPONSE_SIZE = 1000;  // what TxService may write

struct IdentityAttribute {
  uint8_t attribute;
  uint8_t presentBit;
  uint8_t minLength;  // bytes the response must hold
};

// In the order they are read: the vendor ID first, as it decides whether
// the node talks at all.
constexpr IdentityAttribute ATTRIBUTES[] = {
    {1, IDENTITY_VENDOR, 2},   {2, IDENTITY_DEVICE_TYPE, 2}, {3, IDENTITY_PRODUCT_CODE, 2},
    {4, IDENTITY_REVISION, 2}, {6, IDENTITY_SERIAL, 4},      {7, IDENTITY_PRODUCT_NAME, 1},
};

uint32_t LittleEndian(const uint8_t* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

void Store(uint8_t bit, const uint8_t* response, uint32_t length, NodeIdentity& identity) {
  switch (bit) {
    case IDENTITY_VENDOR:
      identity.vendorId = static_cast<uint16_t>(LittleEndian(response, 2));
      break;
    case IDENTITY_DEVICE_TYPE:
      identity.deviceType = static_cast<uint16_t>(LittleEndian(response, 2));
      break;
    case IDENTITY_PRODUCT_CODE:
      identity.productCode = static_cast<uint16_t>(LittleEndian(response, 2));
      break;
    case IDENTITY_REVISION:
      identity.revisionMajor = response[0];
      identity.revisionMinor = response[1];
      break;
    case IDENTITY_SERIAL:
      identity.serial = LittleEndian(response, 4);
      break;
    case IDENTITY_PRODUCT_NAME: {
      // The count byte, but never past the response or the field.
      size_t count = response[0];
      if (count > length - 1) count = length - 1;
      if (count > PRODUCT_NAME_SIZE - 1) count = PRODUCT_NAME_SIZE - 1;
      std::memcpy(identity.productName, response + 1, count);
      identity.productName[count] = '\0';
      break;
    }
    default:
      break;
  }
  identity.present |= bit;
}

}  // namespace

uint32_t ReadNodeIdentity(uint8_t macId, uint8_t ownMacId, NodeIdentity& identity,
                          bool (*stop)(void* context), void* context) {
  identity = NodeIdentity{};
  if (stop && stop(context)) return TXR_OK;
  ExplicitLink link{};
  const uint32_t opened = TxOpenExplicit(macId, ownMacId, IDENTITY_CONNECT_TIMEOUT_MS, link);
  if (opened != TXR_OK) return opened;

  uint32_t result = TXR_OK;
  static uint8_t response[RESPONSE_SIZE];
  for (const IdentityAttribute& wanted : ATTRIBUTES) {
    if (stop && stop(context)) break;
    const ServiceRequest request{link.group,        SVC_GET_ATTRIBUTE_SINGLE, CLASS_IDENTITY,
                                 IDENTITY_INSTANCE, wanted.attribute,         0,
                                 IDENTITY_READ_TIMEOUT_MS};
    std::memset(response, 0, sizeof response);
    uint32_t length = 0;
    const uint32_t read = TxService(macId, ownMacId, request, response, length);
    if (read == TXR_OK && length >= wanted.minLength) {
      Store(wanted.presentBit, response, length, identity);
    } else if (read == TXR_TIMEOUT || read == TXR_FAILED) {
      result = read;  // gone: asking on only waits for more time-outs
      break;
    } else if (wanted.presentBit == IDENTITY_VENDOR) {
      result = read == TXR_OK ? TXR_FAILED : read;
      break;
    }
  }
  TxCloseExplicit(link, IDENTITY_CONNECT_TIMEOUT_MS);
  return result;
}

}  // namespace master
