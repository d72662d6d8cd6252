// The program-wide state record and the I/O data records.
//
// One static instance, g_App, holds everything the parts of the program
// share. It is touched only by the program's one thread, without locks;
// handlers that run inside a waiting transaction (through PumpHook) see and
// change the same fields. Portable code holds the Windows handles as opaque
// pointers; only the Win32 files convert them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace app {

// Opaque stand-ins for HINSTANCE/HMODULE, HWND, HACCEL and HICON.
using ModuleHandle = void*;
using WindowHandle = void*;
using AccelHandle = void*;
using IconHandle = void*;

// Called by a waiting transaction for each window message it removes from
// the queue; the argument is the message record (a MSG on Windows).
using PumpHookFn = void (*)(void* message);

constexpr uint32_t IO_DATA_SIZE = 1000;     // bytes of I/O data in each direction
constexpr int HELP_FILE_SIZE = 259 * 3 + 1;  // help file path, UTF-8 of up to MAX_PATH units
constexpr int WRITE_VALUE_SIZE = 1000;      // encoded value bytes of an attribute write
constexpr int ATTR_VALUE_TEXT_SIZE = 3000;  // text of the last formatted attribute value
constexpr int NO_BUS_STATUS_SHOWN = -1;     // LastBusStatus before any status was shown
// The fixed own MAC ID before the user chose one: configuration tools
// conventionally sit at 62.
constexpr int DEFAULT_OWN_MAC_CHOICE = 62;

// Deferred menu commands, carried out by the idle step (PendingCommand).
constexpr int CMD_NONE = 0;
constexpr int CMD_EXIT = 1;             // close the main window: exit sequence
constexpr int CMD_STOP_COMM = 2;        // stop communication
constexpr int CMD_OPEN_READ_ATTR = 3;   // open the Read Attribute dialog
constexpr int CMD_OPEN_WRITE_ATTR = 4;  // open the Write Attribute dialog

// One block of I/O data. Index 0 of Data is the first byte on the wire.
struct IoRecord {
  uint32_t Length;  // valid bytes in Data, 0..IO_DATA_SIZE
  uint8_t Data[IO_DATA_SIZE];
};

// The records exchanged with the slave: one zero-filled heap block.
struct IoBuffers {
  IoRecord Input;   // last data received from the slave (its consumed data)
  IoRecord Output;  // data sent to the slave on each exchange (its produced data)
};

static_assert(sizeof(IoRecord) == 1004, "IoRecord is a 32-bit length and 1000 bytes");
static_assert(sizeof(IoBuffers) == 2008, "IoBuffers is two IoRecords");
static_assert(offsetof(IoBuffers, Input) == 0, "Input comes first");
static_assert(offsetof(IoBuffers, Output) == sizeof(IoRecord), "Output follows Input");

struct AppState {
  // Handles and resources, owned by the shell.
  ModuleHandle hInst;             // the program's own module: source of the bit captions
  ModuleHandle hResDll;           // the language resource library
  WindowHandle hMainWnd;          // the main dialog window; cleared when it is destroyed
  WindowHandle hReadAttrDlg;      // modeless Read Attribute dialog, or none
  WindowHandle hWriteAttrDlg;     // modeless Write Attribute dialog, or none
  AccelHandle hAccelEdit;         // table 105: Enter takes the hex edit field
  AccelHandle hAccelMain;         // table 106: F1 opens the help
  IconHandle hAppIcon;            // icon 103
  char HelpFile[HELP_FILE_SIZE];  // full path of the help file
  int LangGerman;                 // the registry chose German; used during start-up only
  PumpHookFn PumpHook;            // message handler of waiting transactions, or none

  // User settings: the values before the settings file is loaded.
  int PrinterPort;     // adapter port code: 0..2 LPT1..LPT3, 0x1000 USB, 0x1001 PCI
  int BaudIndex;       // 0 = 125, 1 = 250, 2 = 500 kBaud
  int CurrAdr;         // MAC ID of the current slave, 0..63
  int LogInputData;    // [Log] InputData: logging is available at all
  int LogFlowColumns;  // [Log] FlowColumns: data lines carry the flow columns
  int ServiceShow;     // [Service] Show: Write Attribute offers service mode
  int SlaveWatchdog;   // [Tarnix] SlaveWatchdog: the poll connection's expected packet rate is set
  int OwnMacFixed;     // [Tarnix] OwnMacFixed: the own MAC ID is OwnMacChoice, not chosen
  int OwnMacChoice;    // [Tarnix] OwnMacId: the fixed own MAC ID, 0..63
  int CheckSerial;     // [Tarnix] CheckSerial: our check messages' serial number, 0 unset

  // Run state.
  int MainReady;         // the main window is initialised; the idle step waits for it
  int CommActive;        // cyclic communication with the current slave runs
  int CyclicBusy;        // the cyclic step is inside its I/O exchange
  int OperationBusy;     // a long operation (start, stop, search, change) runs and pumps messages
  int TxWaitDepth;       // transactions waiting right now (nested through the message pump)
  int StepRunning;       // a cyclic step runs: its waits leave keyboard and mouse input queued
  int AdapterOpen;       // the CAN adapter is open
  int PendingCommand;    // CMD_* deferred to the idle step
  int FreezeOutputs;     // edited outputs are not copied into Io->Output
  int SingleBitMode;     // bits are edited with momentary push buttons
  int LastBusStatus;     // status word last shown, NO_BUS_STATUS_SHOWN for none
  std::FILE* LogFile;    // the input log while it is open, else null
  int LogActive;         // LogFile is open and recording
  int64_t LogStartTime;  // calendar seconds at which the log was last opened

  // I/O data.
  IoBuffers* Io;        // allocated at start-up, freed at exit
  IoRecord OutputEdit;  // the output bytes as the user edits them
  int InputReceived;    // Io->Input holds data the slave sent since the last connect

  // Attribute request, filled by the attribute dialogs and carried out by
  // the cyclic step.
  int AttrClassId;
  int AttrInstanceId;
  int AttrAttributeId;
  int ReadAttrPending;                   // a read waits for the next cyclic step
  int WriteAttrPending;                  // a write waits for the next cyclic step
  int AttrType;                          // attribute data type code, shared by both dialogs
  int ValueInHex;                        // integer values are shown in hexadecimal
  int IdsInHex;                          // class, instance and attribute ids are in hexadecimal
  uint8_t WriteValue[WRITE_VALUE_SIZE];  // encoded value to write
  uint8_t WriteValueLength;              // valid bytes in WriteValue
  int ServiceMode;      // the write sends ServiceCode instead of Set_Attribute_Single
  uint8_t ServiceCode;  // service code used in service mode
  char AttrValueText[ATTR_VALUE_TEXT_SIZE];  // last formatted attribute value
};

// The one instance. Zero when the program loads; InitAppState gives it its
// start-up values.
extern AppState g_App;

// Gives every field of g_App its start-up value; `instance` is the module
// handle passed to the program's entry point. Called first thing at
// start-up, before the registry, the resource library or any window is
// touched. Io is left null: the shell allocates it later.
void InitAppState(ModuleHandle instance);

}  // namespace app
