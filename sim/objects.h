// The objects of a simulated slave behind explicit requests: Identity
// (class 1), DeviceNet (class 3, with Allocate and Release of the
// predefined master/slave connection set), Assembly (class 4, the poll
// data) and Connection (class 5), with the error responses a device gives.
#pragma once

#include <cstdint>

#include "devicenet.h"

namespace sim {

struct World;

struct Request {
  uint8_t service;
  uint16_t classId;
  uint16_t instance;
  const uint8_t* data;  // service data after the path
  uint16_t len;
  uint64_t nowUs;
};

// What the slave does once the response is on its way.
enum After : uint8_t { AFTER_NONE, AFTER_RESET, AFTER_FACTORY_RESET, AFTER_NEW_MAC };

struct Reply {
  uint16_t len;  // body length: service byte and data
  uint8_t after;
  uint8_t newMac;
  uint8_t body[MAX_EXPLICIT_BODY];
};

// Serves one request; the reply is a success response or an Error Response
// (0x94, general code, additional code).
void ServeRequest(World& w, int slave, const Request& r, Reply& out);

// An Error Response.
void ReplyError(Reply& out, uint8_t generalCode, uint8_t additionalCode);

}  // namespace sim
