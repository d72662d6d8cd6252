// CAN_Init of the 32-bit Windows library. With __stdcall the callee pops
// its arguments, so the two call forms (8 bytes of arguments for the USB
// and PCI adapters, 20 for the parallel-port adapter) need two functions.
// The exported CAN_Init is a jump to the one chosen when the library is
// loaded, by the file name it was loaded under; the jump leaves the
// caller's stack untouched, so the chosen function returns straight to the
// caller with its own `ret 8` or `ret 20`.
#include <windows.h>

#include "driver.h"
#include "module.h"
#include "simcan.h"

extern "C" {

uint32_t __stdcall SimCanInitTwo(uint16_t btr0btr1, int msgType) {
  return sim::DriverInit(btr0btr1, msgType, false, 0, 0, 0);
}

uint32_t __stdcall SimCanInitFive(uint16_t btr0btr1, int msgType, int hwType, uint32_t ioPort,
                                  uint16_t interrupt) {
  return sim::DriverInit(btr0btr1, msgType, true, hwType, ioPort, interrupt);
}

void* simCanInitTarget = reinterpret_cast<void*>(&SimCanInitTwo);

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && sim::LoadedAsLptDriver()) {
    simCanInitTarget = reinterpret_cast<void*>(&SimCanInitFive);
  }
  return TRUE;
}

}  // extern "C"

// The symbol carries the two-argument decoration; --kill-at exports it as
// plain "CAN_Init".
__asm__(
    ".text\n"
    ".globl _CAN_Init@8\n"
    "_CAN_Init@8:\n"
    "  jmp *_simCanInitTarget\n"
    ".section .drectve\n"
    "  .ascii \" -export:CAN_Init@8\"\n"
    ".text\n");
