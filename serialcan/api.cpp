// The exported entry points of the serial-line adapter library.
#include <cstring>

#include "adapter.h"
#include "serialcan.h"

using namespace serialcan;

namespace {

constexpr char VERSION_TEXT[] = "Quillon serial-line CAN adapter driver 1.0";
static_assert(sizeof VERSION_TEXT <= 64, "CAN_VersionInfo writes at most 64 bytes");

}  // namespace

extern "C" {

// On 32-bit Windows a plain five-argument __stdcall function (it pops its 20
// bytes); --kill-at exports it without the @20.
uint32_t SERIALCAN_STDCALL CAN_Init(uint16_t btr0btr1, int msgType, int hwType, uint32_t ioPort,
                                    uint16_t) {
  return AdapterOpen(btr0btr1, msgType, hwType, ioPort);
}

uint32_t SERIALCAN_STDCALL CAN_Close(void) {
  return AdapterClose();
}

uint32_t SERIALCAN_STDCALL CAN_Status(void) {
  return AdapterStatus();
}

uint32_t SERIALCAN_STDCALL CAN_Write(const SerialCanMsg* msg) {
  return AdapterWrite(msg);
}

uint32_t SERIALCAN_STDCALL CAN_Read(SerialCanMsg* msg) {
  return AdapterRead(msg);
}

uint32_t SERIALCAN_STDCALL CAN_VersionInfo(char* text) {
  if (!text) return SERIALCAN_ERR_ILLPARAM;
  std::memcpy(text, VERSION_TEXT, sizeof VERSION_TEXT);
  return SERIALCAN_OK;
}

uint32_t SERIALCAN_STDCALL CAN_ResetClient(void) {
  return AdapterResetClient();
}

int SERIALCAN_CDECL SerialCan_GetStats(SerialCanStats* out) {
  if (!out) return -1;
  *out = AdapterStats();
  return 0;
}

}  // extern "C"
