// The transactions both benchmarks time, against the same two echo slaves:
// a poll of pseudo-random bytes checked against its echo, one explicit
// service, the preparation of a slave for polling, the probe of every
// address.
#pragma once

#include <cstdint>

namespace bench {

constexpr uint8_t SMALL_SLAVE = 10;  // 8 bytes of polled I/O each way
constexpr uint8_t LARGE_SLAVE = 11;  // 1000 bytes each way
constexpr uint8_t OWN_MAC = 1;

// One poll of `length` bytes; true when the slave echoed them.
bool Poll(uint8_t mac, uint32_t length);

// One explicit request (8-bit path), its response data in a buffer of the
// module's; returns the TXR result.
uint32_t Service(uint8_t mac, uint8_t service, uint16_t classId, uint16_t instance,
                 uint8_t attribute, uint8_t length, uint32_t& responseLength);

// Connected, no watchdogs (the runs take seconds), poll sizes learned.
bool Prepare(uint8_t mac);

// Duplicate MAC ID checks of all 64 addresses under way together; true when
// each ended and `answering` of them were answered.
bool ProbeAll(int answering);

}  // namespace bench
