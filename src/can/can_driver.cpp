#include "can/can_driver.h"

#include <cstddef>
#include <cstdio>

#include "app/app_state.h"
#include "can/frame_tap.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
#include "persist/resstring.h"
#include "persist/ui_text.h"
#include "platform/platform.h"
#include "resource.h"

// The vendor drivers use the Windows API calling convention.
#if defined(_WIN32)
#define CAN_API __stdcall
#else
#define CAN_API
#endif

namespace can {

static_assert(offsetof(DriverMsg, ID) == 0, "driver layout");
static_assert(offsetof(DriverMsg, MSGTYPE) == 4, "driver layout");
static_assert(offsetof(DriverMsg, LEN) == 5, "driver layout");
static_assert(offsetof(DriverMsg, DATA) == 6, "driver layout");

const ParallelPortRow ParallelPortTable[PARALLEL_PORT_COUNT] = {
    {0x378, 7, 1},
    {0x278, 5, 2},
    {0x3BC, 7, 3},
};

const BaudRow BaudTable[BAUD_COUNT] = {
    {125, 0x031C},
    {250, 0x011C},
    {500, 0x001C},
};

namespace {

constexpr int BUS_STATUS_CONTROL = 1047;
constexpr int BUS_STATUS_TEXT_SIZE = 100;

using InitFn = uint32_t(CAN_API*)(uint16_t bitTiming, int msgType);
using InitParallelFn = uint32_t(CAN_API*)(uint16_t bitTiming, int msgType, int hwType,
                                          uint32_t ioPort, uint16_t interrupt);
using VoidFn = uint32_t(CAN_API*)();
using MsgFn = uint32_t(CAN_API*)(DriverMsg* msg);

// The entry points, resolved in this order; all seven must be exported.
enum Entry { E_INIT, E_CLOSE, E_STATUS, E_WRITE, E_READ, E_VERSION_INFO, E_RESET_CLIENT, E_COUNT };
constexpr const char* ENTRY_NAMES[E_COUNT] = {
    "CAN_Init", "CAN_Close",       "CAN_Status",      "CAN_Write",
    "CAN_Read", "CAN_VersionInfo", "CAN_ResetClient",
};

void* driverLibrary = nullptr;
void* entries[E_COUNT] = {};
int openBaudIndex = 0;
uint32_t openCount = 0;
uint32_t statusSeen = 0;  // status message words since the last TakeStatusSeen

template <typename Fn>
Fn EntryAs(Entry e) {
  return reinterpret_cast<Fn>(entries[e]);
}

// The frame as the monitor sees it. A driver's length above 8 is its own
// fault; the record holds at most 8 bytes.
void TapMessage(const DriverMsg& msg, uint8_t direction) {
  TappedFrame frame{};
  frame.id = msg.ID & 0x7FF;
  frame.len = msg.LEN <= 8 ? msg.LEN : 8;
  frame.direction = direction;
  frame.status = (msg.MSGTYPE & MSGTYPE_STATUS) ? 1 : 0;
  for (uint8_t i = 0; i < frame.len; ++i) frame.data[i] = msg.DATA[i];
  RunFrameTap(frame);
}

}  // namespace

uint32_t CanInit(uint16_t bitTiming, int msgType) {
  if (!driverLibrary) return CAN_ERR_NO_DRIVER;
  return EntryAs<InitFn>(E_INIT)(bitTiming, msgType);
}

uint32_t CanInitParallel(uint16_t bitTiming, int msgType, int hwType, uint32_t ioPort,
                         uint16_t interrupt) {
  if (!driverLibrary) return CAN_ERR_NO_DRIVER;
  return EntryAs<InitParallelFn>(E_INIT)(bitTiming, msgType, hwType, ioPort, interrupt);
}

uint32_t CanClose() {
  if (!driverLibrary) return CAN_ERR_NO_DRIVER;
  return EntryAs<VoidFn>(E_CLOSE)();
}

uint32_t CanStatus() {
  if (!driverLibrary) return CAN_ERR_NO_DRIVER;
  return EntryAs<VoidFn>(E_STATUS)();
}

uint32_t CanWrite(DriverMsg* msg) {
  if (!driverLibrary) return CAN_ERR_NO_DRIVER;
  const uint32_t result = EntryAs<MsgFn>(E_WRITE)(msg);
  if (g_FrameTap && result == CAN_ERR_OK) TapMessage(*msg, TAP_SENT);
  return result;
}

uint32_t CanRead(DriverMsg* msg) {
  if (!driverLibrary) return CAN_ERR_NO_DRIVER;
  const uint32_t result = EntryAs<MsgFn>(E_READ)(msg);
  if (g_FrameTap && result == CAN_ERR_OK) TapMessage(*msg, TAP_RECEIVED);
  return result;
}

bool LoadDriverLibrary(const char* fileName) {
  UnloadDriverLibrary();
  void* library = platform::LoadLibraryFile(fileName);
  if (!library) return false;
  for (int e = 0; e < E_COUNT; ++e) {
    entries[e] = platform::ResolveEntry(library, ENTRY_NAMES[e]);
    if (!entries[e]) {
      platform::FreeLibraryFile(library);
      for (void*& entry : entries) entry = nullptr;
      return false;
    }
  }
  driverLibrary = library;
  return true;
}

bool UnloadDriverLibrary() {
  if (driverLibrary) {
    CanClose();
    platform::FreeLibraryFile(driverLibrary);
    driverLibrary = nullptr;
    for (void*& entry : entries) entry = nullptr;
  }
  return true;
}

int SerialComNumber(int portCode) {
  if (portCode < PORT_SERIAL_FIRST || portCode >= PORT_SERIAL_FIRST + PORT_SERIAL_COUNT) return 0;
  return portCode - PORT_SERIAL_FIRST + 1;
}

bool OpenAdapter(void* window, int baudIndex) {
  app::AppState& state = app::g_App;
  state.PumpHook = nullptr;
  if (baudIndex < 0 || baudIndex >= BAUD_COUNT) baudIndex = 0;
  const uint16_t bitTiming = BaudTable[baudIndex].BitTiming;
  const bool parallel = state.PrinterPort >= 0 && state.PrinterPort < PARALLEL_PORT_COUNT;
  const int comNumber = SerialComNumber(state.PrinterPort);
  if (state.PrinterPort != PORT_USB && state.PrinterPort != PORT_PCI && !parallel &&
      comNumber == 0) {
    // A hand-edited code must not open another port's adapter.
    persist::ShowMsg(window, nullptr, IDS_NO_PORT_SELECTED);
    return false;
  }

  bool loaded = false;
  uint32_t initResult = CAN_ERR_NO_DRIVER;
  if (state.PrinterPort == PORT_USB || state.PrinterPort == PORT_PCI) {
    loaded = LoadDriverLibrary(state.PrinterPort == PORT_USB ? USB_DRIVER_FILE : PCI_DRIVER_FILE);
    if (loaded) initResult = CanInit(bitTiming, MSGTYPE_STANDARD);
  } else if (comNumber != 0) {
    loaded = LoadDriverLibrary(SERIAL_DRIVER_FILE);
    if (loaded) {
      initResult = CanInitParallel(bitTiming, MSGTYPE_STANDARD, HW_TYPE_SERIAL,
                                   static_cast<uint32_t>(comNumber), 0);
    }
  } else {
    const int row = state.PrinterPort;
    loaded = LoadDriverLibrary(PARALLEL_DRIVER_FILE);
    if (loaded) {
      initResult =
          CanInitParallel(bitTiming, MSGTYPE_STANDARD, HW_TYPE_DONGLE,
                          ParallelPortTable[row].IoAddress, ParallelPortTable[row].Interrupt);
    }
  }
  if (!loaded) {
    persist::ShowMsg(window, nullptr, IDS_CAN_DLL_LOAD_FAILED);
    return false;
  }
  if (initResult != CAN_ERR_OK) {
    if (comNumber != 0) {
      // The parallel-port text would send the user to a printer port.
      char number[8];
      std::snprintf(number, sizeof number, "%d", comNumber);
      persist::ShowMsgFmt(window, persist::BOX_OK | persist::BOX_ICONEXCLAMATION,
                          IDS_SERIAL_OPEN_FAILED, number, nullptr, nullptr);
    } else {
      persist::ShowMsg(window, nullptr, IDS_ADAPTER_OPEN_FAILED);
    }
    UnloadDriverLibrary();
    return false;
  }
  state.AdapterOpen = 1;
  openBaudIndex = baudIndex;
  ++openCount;
  statusSeen = 0;
  return true;
}

bool CloseAdapter(void*) {
  app::AppState& state = app::g_App;
  if (state.AdapterOpen) {
    state.PumpHook = nullptr;
    CanClose();
    state.AdapterOpen = 0;
    UnloadDriverLibrary();
  }
  return true;
}

unsigned BusStatusStringId(uint32_t status) {
  if (status == 0) return IDS_BUS_NORMAL;
  if (status & CAN_ERR_NO_DRIVER) return IDS_BUS_NO_DRIVER;
  if (status & CAN_STATUS_BUS_OFF) return IDS_BUS_OFF;
  if (status & CAN_STATUS_BUS_HEAVY) return IDS_BUS_HEAVY;
  if (status & CAN_STATUS_BUS_WARNING) return IDS_BUS_WARNING;
  if (status & CAN_STATUS_OVERRUN) return IDS_BUS_OVERRUN;
  return IDS_BUS_UNKNOWN;
}

uint32_t TakeStatusSeen() {
  const uint32_t seen = statusSeen | CanStatus();
  statusSeen = 0;
  return seen;
}

uint32_t ReadStatus() {
  const uint32_t status = CanStatus();
  statusSeen |= status;
  return status;
}

void NoteStatusMessage(const DriverMsg& msg) {
  if (msg.LEN < 4) return;
  statusSeen |= static_cast<uint32_t>(msg.DATA[0]) << 24 |
                static_cast<uint32_t>(msg.DATA[1]) << 16 | static_cast<uint32_t>(msg.DATA[2]) << 8 |
                msg.DATA[3];
}

int OpenBaudIndex() {
  return openBaudIndex;
}

uint32_t AdapterOpenCount() {
  return openCount;
}

void ShowBusStatus(void* window) {
  app::AppState& state = app::g_App;
  const uint32_t status = CanStatus();
  if (static_cast<int>(status) == state.LastBusStatus) return;
  char text[BUS_STATUS_TEXT_SIZE];
  if (persist::LoadResString(BusStatusStringId(status), text, sizeof text) > 0) {
    persist::SetControlText(window, BUS_STATUS_CONTROL, text);
  }
  state.LastBusStatus = static_cast<int>(status);
}

}  // namespace can
