// The CAN driver binding: chooses and loads the adapter's driver library for
// the selected port, opens and closes the adapter, moves single frames and
// shows the bus status. Every other part reaches the adapter through here.
#pragma once

#include <cstdint>

namespace can {

// Port codes (AppState PrinterPort): 0..2 are the parallel-port rows.
constexpr int PORT_USB = 4096;
constexpr int PORT_PCI = 4097;
// A serial-line adapter on COM1 .. COM16: PORT_SERIAL_FIRST + COM number - 1.
constexpr int PORT_SERIAL_FIRST = 0x2001;
constexpr int PORT_SERIAL_COUNT = 16;

constexpr const char* USB_DRIVER_FILE = "pcan_usb.dll";
constexpr const char* PCI_DRIVER_FILE = "pcan_pci.dll";
constexpr const char* PARALLEL_DRIVER_FILE = "pcan_dng.dll";
// Our own library for serial-line adapters; it opens the COM port whose
// number CAN_Init brings as its I/O port.
constexpr const char* SERIAL_DRIVER_FILE = "serialcan.dll";

struct ParallelPortRow {
  uint32_t IoAddress;
  uint16_t Interrupt;
  uint32_t LptNumber;
};
constexpr int PARALLEL_PORT_COUNT = 3;
extern const ParallelPortRow ParallelPortTable[PARALLEL_PORT_COUNT];

struct BaudRow {
  uint32_t RateKBaud;
  uint16_t BitTiming;  // bus timing registers 0 (high byte) and 1 (low byte)
};
constexpr int BAUD_COUNT = 3;
extern const BaudRow BaudTable[BAUD_COUNT];

// The driver's frame record, laid out as the driver defines it.
struct DriverMsg {
  uint32_t ID;      // CAN identifier; the low 11 bits are used
  uint8_t MSGTYPE;  // 0 on send; on receive bit 0x80 marks a driver status message
  uint8_t LEN;      // 0..8
  uint8_t DATA[8];
};

// Driver results and status bits.
constexpr uint32_t CAN_ERR_OK = 0;
constexpr uint32_t CAN_ERR_QXMTFULL = 0x80;    // transmit queue full: try again
constexpr uint32_t CAN_ERR_NO_DRIVER = 0x200;  // no driver library loaded
constexpr uint32_t CAN_STATUS_BUS_OFF = 0x10;
constexpr uint32_t CAN_STATUS_BUS_HEAVY = 0x08;    // error passive: an error counter above 127
constexpr uint32_t CAN_STATUS_BUS_WARNING = 0x04;  // an error counter at the warning level (96)
constexpr uint32_t CAN_STATUS_OVERRUN = 0x02;
constexpr uint8_t MSGTYPE_STANDARD = 0x00;
constexpr uint8_t MSGTYPE_STATUS = 0x80;
constexpr int HW_TYPE_DONGLE = 5;     // parallel-port adapter
constexpr int HW_TYPE_SERIAL = 0x40;  // serial-line adapter: the I/O port is the COM number

// The COM number (1..16) of a serial port code, 0 for any other code.
int SerialComNumber(int portCode);

// Unloads any loaded library, loads `fileName` and resolves all seven entry
// points. False when the file does not load or an entry point is missing;
// nothing stays loaded then.
bool LoadDriverLibrary(const char* fileName);

// Closes the driver (CAN_Close) and frees the library if one is loaded.
// Always true.
bool UnloadDriverLibrary();

// Loads the library of AppState PrinterPort and opens the adapter at the
// baud index (out-of-range indexes take row 0). A serial port code loads
// SERIAL_DRIVER_FILE and opens with the five-argument CAN_Init (hardware
// type HW_TYPE_SERIAL, the COM number, interrupt 0). A port code that names
// no port loads nothing and reports message 1091; otherwise a failure
// reports messages 1037 or 1001 to `window`. Clears PumpHook.
bool OpenAdapter(void* window, int baudIndex);

// Closes and unloads the adapter if it is open; clears PumpHook. Always true.
bool CloseAdapter(void* window);

// Shows the text of the driver's status word in control 1047 of `window`
// when the word differs from AppState LastBusStatus.
void ShowBusStatus(void* window);

// The string id of the text for a driver status word.
unsigned BusStatusStringId(uint32_t status);

// The status bits the adapter showed since the last call (or since it
// opened): the driver's status word now, and the word of every status
// message the link layer handed to NoteStatusMessage meanwhile.
uint32_t TakeStatusSeen();

// The driver's status word now, kept for TakeStatusSeen as well (reading
// it may clear bits the driver latched).
uint32_t ReadStatus();

// Keeps the status word of a driver status message (MSGTYPE bit 0x80; the
// word in DATA[0..3], most significant byte first) for TakeStatusSeen.
void NoteStatusMessage(const DriverMsg& msg);

// The baud index (0..2) the adapter was last opened at; 0 before that.
int OpenBaudIndex();

// How many times an adapter was opened so far: what the link layer learned
// of one opened adapter's timing does not carry over to the next.
uint32_t AdapterOpenCount();

// The entry points. With no library loaded each returns CAN_ERR_NO_DRIVER
// without calling anything.
uint32_t CanInit(uint16_t bitTiming, int msgType);
uint32_t CanInitParallel(uint16_t bitTiming, int msgType, int hwType, uint32_t ioPort,
                         uint16_t interrupt);
uint32_t CanClose();
uint32_t CanStatus();
uint32_t CanWrite(DriverMsg* msg);
uint32_t CanRead(DriverMsg* msg);

}  // namespace can
