// A recording adapter driver for the binding's tests. Built twice: with two
// CAN_Init arguments (copied as the USB and PCI drivers) and with five (the
// parallel-port driver). Fake_* exports let the test read what was called
// and script the results.
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define FAKE_API extern "C" __declspec(dllexport)
#define FAKE_STDCALL __stdcall
#else
#define FAKE_API extern "C" __attribute__((visibility("default")))
#define FAKE_STDCALL
#endif

struct DriverMsg {
  uint32_t ID;
  uint8_t MSGTYPE;
  uint8_t LEN;
  uint8_t DATA[8];
};

namespace {
uint32_t initArgs[5];
int initCalls = 0;
int closeCalls = 0;
int writeCalls = 0;
uint32_t initResult = 0;
uint32_t status = 0;
int writesFull = 0;  // -1: the queue never drains
DriverMsg lastWritten;
// Messages CAN_Read hands over, oldest first; empty: "receive queue empty".
DriverMsg readQueue[4];
int readCount = 0;
}  // namespace

#if FAKE_INIT_ARGS == 5
FAKE_API uint32_t FAKE_STDCALL CAN_Init(uint16_t bitTiming, int msgType, int hwType,
                                        uint32_t ioPort, uint16_t interrupt) {
  const uint32_t args[5] = {bitTiming, static_cast<uint32_t>(msgType),
                            static_cast<uint32_t>(hwType), ioPort, interrupt};
  std::memcpy(initArgs, args, sizeof args);
  ++initCalls;
  return initResult;
}
#else
FAKE_API uint32_t FAKE_STDCALL CAN_Init(uint16_t bitTiming, int msgType) {
  const uint32_t args[5] = {bitTiming, static_cast<uint32_t>(msgType), 0, 0, 0};
  std::memcpy(initArgs, args, sizeof args);
  ++initCalls;
  return initResult;
}
#endif

FAKE_API uint32_t FAKE_STDCALL CAN_Close() {
  ++closeCalls;
  return 0;
}

FAKE_API uint32_t FAKE_STDCALL CAN_Status() {
  return status;
}

FAKE_API uint32_t FAKE_STDCALL CAN_Write(DriverMsg* msg) {
  ++writeCalls;
  if (writesFull != 0) {
    if (writesFull > 0) --writesFull;
    return 0x80;
  }
  lastWritten = *msg;
  return 0;
}

FAKE_API uint32_t FAKE_STDCALL CAN_Read(DriverMsg* msg) {
  if (readCount == 0) return 0x20;
  *msg = readQueue[0];
  --readCount;
  std::memmove(readQueue, readQueue + 1, sizeof(DriverMsg) * readCount);
  return 0;
}

#if !defined(FAKE_WITHOUT_VERSION_INFO)
FAKE_API uint32_t FAKE_STDCALL CAN_VersionInfo(char* text) {
  std::strcpy(text, "fake");
  return 0;
}
#endif

FAKE_API uint32_t FAKE_STDCALL CAN_ResetClient() {
  return 0;
}

// What the test reads and scripts.
FAKE_API int Fake_InitCalls(uint32_t* args) {
  std::memcpy(args, initArgs, sizeof initArgs);
  return initCalls;
}
FAKE_API int Fake_CloseCalls() {
  return closeCalls;
}
FAKE_API int Fake_WriteCalls() {
  return writeCalls;
}
FAKE_API void Fake_Script(uint32_t init, uint32_t busStatus, int fullWrites) {
  initResult = init;
  status = busStatus;
  writesFull = fullWrites;
}
// False when the read queue is full.
FAKE_API bool Fake_QueueRead(const DriverMsg* msg) {
  if (readCount == 4) return false;
  readQueue[readCount++] = *msg;
  return true;
}
FAKE_API void Fake_Reset() {
  std::memset(initArgs, 0, sizeof initArgs);
  initCalls = closeCalls = writeCalls = readCount = 0;
  initResult = status = 0;
  writesFull = 0;
}
