/* The simulated CAN adapter: a driver library with the seven CAN_* entry
 * points of a PC CAN adapter driver, and Sim_* entry points through which a
 * test reaches the simulated bus and its DeviceNet slaves.
 *
 * Plain C, so that tests and tools in any language can include it. A test
 * either links the static library (define SIMCAN_STATIC, done by the CMake
 * target quillon_sim) or loads simcan.dll / libsimcan.so (or a copy of it
 * under an adapter driver's file name) and resolves the entry points by
 * name; the *Fn typedefs below are the signatures to resolve them with.
 *
 * Calling convention: the CAN_* entry points use __stdcall on 32-bit Windows,
 * as the adapter drivers do; every Sim_* entry point uses the C default
 * (__cdecl). All export names are undecorated.
 *
 * All calls must come from one thread. Nothing runs in the background: the
 * simulated time is brought up to date at every call (see "Time").
 */
#ifndef SIMCAN_H
#define SIMCAN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define SIMCAN_STDCALL __stdcall
#define SIMCAN_CDECL __cdecl
#if defined(SIMCAN_STATIC)
#define SIMCAN_EXPORT
#elif defined(SIMCAN_BUILD)
#define SIMCAN_EXPORT __declspec(dllexport)
#else
#define SIMCAN_EXPORT __declspec(dllimport)
#endif
#else
#define SIMCAN_STDCALL
#define SIMCAN_CDECL
#define SIMCAN_EXPORT __attribute__((visibility("default")))
#endif

/* ---- The adapter driver interface ------------------------------------- */

/* One CAN frame as the driver moves it (14 bytes, no padding). */
#pragma pack(push, 1)
typedef struct DriverMsg {
  uint32_t ID;     /* 11-bit identifier */
  uint8_t MSGTYPE; /* 0 = standard data frame; SIMCAN_MSGTYPE_STATUS on receive */
  uint8_t LEN;     /* 0..8 */
  uint8_t DATA[8];
} DriverMsg;
#pragma pack(pop)

/* Bit-timing codes accepted by CAN_Init (BTR0 in the high byte). */
#define SIMCAN_BTR_125K 0x031C
#define SIMCAN_BTR_250K 0x011C
#define SIMCAN_BTR_500K 0x001C

/* Result and status values. */
#define SIMCAN_OK 0x0000
#define SIMCAN_ERR_OVERRUN 0x0002   /* status: the receive queue overflowed (reported once) */
#define SIMCAN_ERR_BUSLIGHT 0x0004  /* status: error warning (96 transmit errors) */
#define SIMCAN_ERR_BUSHEAVY 0x0008  /* status: bus heavy (error passive, 128 errors) */
#define SIMCAN_ERR_BUSOFF 0x0010    /* status: bus off; also CAN_Write's result then */
#define SIMCAN_ERR_QRCVEMPTY 0x0020 /* CAN_Read: receive queue empty */
#define SIMCAN_ERR_QXMTFULL 0x0080  /* CAN_Write: transmit queue full, try again */
#define SIMCAN_ERR_NOTOPEN 0x1000   /* the adapter is not initialised */
#define SIMCAN_ERR_CONFIG 0x2000    /* CAN_Init: the configuration file was refused */
#define SIMCAN_ERR_ILLPARAM 0x4000  /* a bad argument (unknown bit-timing code, length > 8...) */

/* MSGTYPE bit of a status message in the receive queue (no bus frame):
 * ID 0, LEN 4, DATA[0..3] the status word, most significant byte first. */
#define SIMCAN_MSGTYPE_STATUS 0x80

/* Opens the adapter at a bit rate. Two call forms share this entry point:
 * (code, message type) for the USB and PCI adapters and (code, message type,
 * hardware type, I/O port, interrupt) for the parallel-port adapter. Which
 * form a caller uses is known from the file name the library was loaded
 * under: "pcan_dng.dll" (any case) takes five arguments, every other name
 * two. On 32-bit Windows the callee pops its arguments, so the entry point
 * there is a jump to the two- or five-argument function chosen when the
 * library was loaded. Message type 0 = 11-bit identifiers (1 is accepted as
 * well). Returns 0, SIMCAN_ERR_ILLPARAM for an unknown code or message type,
 * or SIMCAN_ERR_CONFIG when the configuration file was refused (the message
 * naming file, line and fault is on stderr and in Sim_LastError, and in a
 * message box on Windows: see Sim_ErrorBoxText). A second
 * CAN_Init without CAN_Close re-opens at the new rate. */
SIMCAN_EXPORT uint32_t SIMCAN_STDCALL CAN_Init(uint16_t btr0btr1, int msgType, int hwType,
                                               uint32_t ioPort, uint16_t interrupt);
typedef uint32_t(SIMCAN_STDCALL *CanInitFn)(uint16_t btr0btr1, int msgType);
typedef uint32_t(SIMCAN_STDCALL *CanInitLptFn)(uint16_t btr0btr1, int msgType, int hwType,
                                               uint32_t ioPort, uint16_t interrupt);

/* Closes the adapter and empties its receive queue; writes the trace files
 * named in the configuration. Always 0. The slaves stay as they are. */
SIMCAN_EXPORT uint32_t SIMCAN_STDCALL CAN_Close(void);
typedef uint32_t(SIMCAN_STDCALL *CanCloseFn)(void);

/* The status word: the one set by Sim_SetAdapterStatus, plus
 * SIMCAN_ERR_OVERRUN once after the receive queue overflowed, plus the
 * error state of the adapter's controller in the wire-time model (see
 * Sim_SetWireTime).
 * SIMCAN_ERR_NOTOPEN while the adapter is not initialised. */
SIMCAN_EXPORT uint32_t SIMCAN_STDCALL CAN_Status(void);
typedef uint32_t(SIMCAN_STDCALL *CanStatusFn)(void);

/* Puts one frame on the bus. 0 = queued (with the wire-time model off the
 * slaves have answered when it returns); SIMCAN_ERR_BUSOFF while bus off;
 * SIMCAN_ERR_ILLPARAM for a null pointer, LEN > 8, an identifier above
 * 0x7FF or a MSGTYPE other than 0; SIMCAN_ERR_NOTOPEN; or what
 * Sim_FailWrites asked for. */
SIMCAN_EXPORT uint32_t SIMCAN_STDCALL CAN_Write(const DriverMsg *msg);
typedef uint32_t(SIMCAN_STDCALL *CanWriteFn)(const DriverMsg *msg);

/* Takes the oldest received frame: 0 = *msg filled, SIMCAN_ERR_QRCVEMPTY
 * when nothing waits, SIMCAN_ERR_NOTOPEN, SIMCAN_ERR_ILLPARAM (null). */
SIMCAN_EXPORT uint32_t SIMCAN_STDCALL CAN_Read(DriverMsg *msg);
typedef uint32_t(SIMCAN_STDCALL *CanReadFn)(DriverMsg *msg);

/* Copies a version text (at most 63 characters and the terminator). */
SIMCAN_EXPORT uint32_t SIMCAN_STDCALL CAN_VersionInfo(char *text);
typedef uint32_t(SIMCAN_STDCALL *CanVersionInfoFn)(char *text);

/* Empties the receive queue and the latched status bits. Always 0. */
SIMCAN_EXPORT uint32_t SIMCAN_STDCALL CAN_ResetClient(void);
typedef uint32_t(SIMCAN_STDCALL *CanResetClientFn)(void);

/* ---- Configuration ------------------------------------------------------ */

/* The slaves and the bus come from a configuration file (format in the
 * README, section "Simulated adapter"): the file named by the environment
 * variable SIMCAN_CONFIG, else simcan.ini beside the library, else the
 * built-in default (one slave). It is read at the first CAN_Init or Sim_*
 * call that needs slaves, and never again: slaves keep their state across
 * CAN_Close and unloading the library (the library pins itself in memory,
 * and further copies of it in the same process share the same bus).
 *
 * Sim_LoadConfigFile / Sim_LoadConfigText replace the whole bus: every slave
 * powers on afresh (online at once), every master too (through its
 * Duplicate MAC ID check, or after its start_ms), faults, queues and trace are cleared,
 * the adapter is closed. On a refused configuration nothing changes; the
 * result is -1 and Sim_LastError names file, line and fault. 0 = loaded. */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_LoadConfigFile(const char *path);
SIMCAN_EXPORT int SIMCAN_CDECL Sim_LoadConfigText(const char *text, const char *name);
SIMCAN_EXPORT const char *SIMCAN_CDECL Sim_LastError(void);
/* A CAN_Init that fails with SIMCAN_ERR_CONFIG also tells the user of the
 * program: a message box "Simulated CAN adapter" (Windows only) with file,
 * line and fault, which waits for OK. With the environment variable
 * SIMCAN_NO_ERROR_BOX=1 (the test harness sets it) no box is shown.
 * Sim_ErrorBoxText is the text of that box, shown or not, of the last such
 * CAN_Init; empty before one and after a configuration is accepted. */
SIMCAN_EXPORT const char *SIMCAN_CDECL Sim_ErrorBoxText(void);
typedef int(SIMCAN_CDECL *SimLoadConfigFileFn)(const char *path);
typedef int(SIMCAN_CDECL *SimLoadConfigTextFn)(const char *text, const char *name);
typedef const char *(SIMCAN_CDECL *SimLastErrorFn)(void);

/* ---- Time ----------------------------------------------------------------
 * Every time-driven behaviour (delayed answers, the connection watchdogs,
 * the fragment acknowledge time-out, the Duplicate MAC ID check after a
 * reset, the wire-time model) runs on the simulator's clock. By default it
 * follows real time. A test makes it manual (it then moves only by
 * Sim_AdvanceMs/Us) or hands in its own millisecond tick (for example the
 * master's test clock), which is read at every call. Switching never moves
 * the time backwards. */
typedef uint32_t(SIMCAN_CDECL *SimClockFn)(void);
SIMCAN_EXPORT void SIMCAN_CDECL Sim_UseRealClock(void);
SIMCAN_EXPORT void SIMCAN_CDECL Sim_UseManualClock(void);
SIMCAN_EXPORT void SIMCAN_CDECL Sim_UseClockFunction(SimClockFn tickMs);
SIMCAN_EXPORT void SIMCAN_CDECL Sim_AdvanceMs(uint32_t ms); /* manual clock only */
SIMCAN_EXPORT void SIMCAN_CDECL Sim_AdvanceUs(uint32_t us); /* manual clock only */
SIMCAN_EXPORT uint64_t SIMCAN_CDECL Sim_NowUs(void);
typedef void(SIMCAN_CDECL *SimUseClockFunctionFn)(SimClockFn tickMs);
typedef void(SIMCAN_CDECL *SimVoidFn)(void);
typedef void(SIMCAN_CDECL *SimAdvanceFn)(uint32_t amount);

/* ---- Bus and adapter ---------------------------------------------------- */

/* Wire-time model: 1 = each frame occupies the bus for its bit time (with
 * stuff bits, CRC, ACK, end of frame and interframe space) at its bit rate,
 * and frames wait for the bus and win it by arbitration; 0 = frames take no
 * time (the default). With it, the adapter and another node starting frames
 * of the same identifier with different data at the same moment is a bit
 * error: no frame, both send again, and the adapter's transmit error
 * counter goes up by 8 (down by 1 for each frame it sends). At 96 the
 * status shows SIMCAN_ERR_BUSLIGHT, at 128 (error passive: it then yields
 * the next start to the other node) SIMCAN_ERR_BUSHEAVY, at 256
 * SIMCAN_ERR_BUSOFF: its waiting frames are dropped, it neither sends nor
 * receives, and it recovers (counter 0) after 128 x 11 recessive bits. */
SIMCAN_EXPORT void SIMCAN_CDECL Sim_SetWireTime(int on);

typedef struct SimBusStats {
  uint64_t frames;    /* frames completed on the bus since the last reset */
  uint64_t busyUs;    /* time the bus was occupied (wire-time model) */
  uint64_t elapsedUs; /* time since the last reset */
} SimBusStats;
SIMCAN_EXPORT void SIMCAN_CDECL Sim_GetBusStats(SimBusStats *out);
SIMCAN_EXPORT void SIMCAN_CDECL Sim_ResetBusStats(void);

/* The adapter's status word (SIMCAN_ERR_BUSOFF, _BUSHEAVY, _OVERRUN or 0).
 * While bus off, CAN_Write fails and nothing is received. With
 * queueMessage != 0 a status message is queued for CAN_Read as well. */
SIMCAN_EXPORT void SIMCAN_CDECL Sim_SetAdapterStatus(uint32_t status, int queueMessage);

/* The adapter as the last CAN_Init left it: which of the two call forms it
 * took, with which arguments, in which copy of the library (the base name
 * of the file it was loaded from, for example "pcan_dng.dll"). 0, or -1
 * for a null pointer. */
typedef struct SimAdapterInfo {
  uint8_t open;
  uint8_t baudIndex;    /* 0 = 125, 1 = 250, 2 = 500 kbit/s */
  uint8_t parallelForm; /* 1: the five-argument form */
  uint8_t pad;
  int32_t hwType; /* the five-argument form's arguments, else 0 */
  uint32_t ioPort;
  uint16_t interrupt;
  char driverFile[64];
} SimAdapterInfo;
SIMCAN_EXPORT int SIMCAN_CDECL Sim_GetAdapter(SimAdapterInfo *out);
typedef int(SIMCAN_CDECL *SimGetAdapterFn)(SimAdapterInfo *out);

/* The next `count` CAN_Write calls return `result` without sending
 * (for example SIMCAN_ERR_QXMTFULL). */
SIMCAN_EXPORT void SIMCAN_CDECL Sim_FailWrites(uint32_t count, uint32_t result);

/* Puts a frame on the bus as another node would (the adapter and the slaves
 * at `baudIndex` 0/1/2 hear it). 0, or -1 for a bad argument. */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_InjectFrame(int baudIndex, uint32_t id, uint8_t len,
                                               const uint8_t *data);

/* ---- Slaves --------------------------------------------------------------
 * A slave is named by its index in configuration order, which stays when
 * its MAC ID changes. */
#define SIM_LINK_CHECKING 0 /* sending Duplicate MAC ID requests after a reset */
#define SIM_LINK_ONLINE 1
/* Communication faulted: a Duplicate MAC ID request or response of another
 * node carrying its MAC ID came during its own check. Silent until
 * Sim_PowerCycle or a new configuration. */
#define SIM_LINK_FAULTED 2
#define SIM_LINK_SILENT 3 /* off the bus after a restart (silent_after_restart) */

#define SIM_CONN_NONEXISTENT 0 /* connection object states (attribute 1) */
#define SIM_CONN_CONFIGURING 1
#define SIM_CONN_ESTABLISHED 3
#define SIM_CONN_TIMED_OUT 4
#define SIM_CONN_DEFERRED 5

typedef struct SimSlaveInfo {
  uint8_t macId;         /* the MAC ID in use */
  uint8_t baudIndex;     /* the bit rate in use: 0 = 125, 1 = 250, 2 = 500 kbit/s */
  uint8_t pendingBaud;   /* baud rate attribute: taken at the next reset */
  uint8_t link;          /* SIM_LINK_* */
  uint8_t allocChoice;   /* allocated connections of the predefined set (bit 0 explicit, 1 poll) */
  uint8_t allocator;     /* MAC ID of the master that allocated them, 0xFF none */
  uint8_t explicitState; /* state of connection instance 1 */
  uint8_t pollState;     /* state of connection instance 2 */
  uint16_t explicitEpr;  /* expected packet rates, ms */
  uint16_t pollEpr;
  uint8_t ucmmOpen; /* explicit connections open through the UCMM */
  uint8_t pad;
  uint32_t polls;     /* poll commands consumed since power-on or reset */
  uint32_t resets;    /* resets since power-on */
  uint16_t outputLen; /* last outputs received by a poll command */
  uint8_t output[1000];
} SimSlaveInfo;
SIMCAN_EXPORT int SIMCAN_CDECL Sim_SlaveCount(void);
SIMCAN_EXPORT int SIMCAN_CDECL Sim_FindSlave(uint8_t macId);               /* index, or -1 */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_GetSlave(int index, SimSlaveInfo *out); /* 0 or -1 */
/* Switches a slave off and on: back to its configured MAC ID and baud rate,
 * no connections, then the Duplicate MAC ID check. 0 or -1. */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_PowerCycle(int index);
typedef int(SIMCAN_CDECL *SimGetSlaveFn)(int index, SimSlaveInfo *out);
typedef int(SIMCAN_CDECL *SimIndexFn)(int index);

/* ---- Masters -------------------------------------------------------------
 * A master node (a running scanner) owns one slave: at power-on it checks
 * its MAC ID (two Duplicate MAC ID requests a second apart, then online, or
 * communication faulted and silent when another node answers for it), then
 * allocates the slave's explicit and poll connections (through the UCMM when
 * configured, else the Group 2 Only port), learns the I/O sizes, sets the
 * poll connection's expected packet rate to its poll interval and polls.
 * An allocation that fails, or a slave that misses three polls in a row, is
 * tried again a second later. It answers every Duplicate MAC ID request
 * for its MAC ID while online. Named by its index in configuration order. */
typedef struct SimMasterInfo {
  uint8_t macId;
  uint8_t baudIndex; /* 0 = 125, 1 = 250, 2 = 500 kbit/s */
  uint8_t slave;     /* MAC ID of the slave it owns */
  uint8_t link;      /* SIM_LINK_CHECKING, _ONLINE, _FAULTED; _SILENT before power-on */
  uint8_t allocated; /* 1 while it holds the slave's connections and polls */
  uint8_t pad[3];
  uint32_t pollsSent;
  uint32_t pollResponses;   /* complete poll responses to its polls */
  uint32_t allocAttempts;   /* allocations begun (Open or Allocate sent) */
  uint32_t dupMacResponses; /* Duplicate MAC ID responses it sent */
} SimMasterInfo;
SIMCAN_EXPORT int SIMCAN_CDECL Sim_MasterCount(void);
SIMCAN_EXPORT int SIMCAN_CDECL Sim_GetMaster(int index, SimMasterInfo *out); /* 0 or -1 */
/* Switches a master off and on: counters cleared, then its Duplicate MAC ID
 * check and the allocation. 0 or -1. */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_MasterPowerCycle(int index);
typedef int(SIMCAN_CDECL *SimGetMasterFn)(int index, SimMasterInfo *out);

/* ---- Fault injection (per slave, settable while running; 0 or -1) ------ */
#define SIM_ANSWER_POLL 0     /* poll responses (each fragment counts) */
#define SIM_ANSWER_EXPLICIT 1 /* explicit and unconnected responses (each fragment counts) */
#define SIM_ANSWER_ACK 2      /* acknowledges of request fragments */
#define SIM_ANSWER_DUPMAC 3   /* Duplicate MAC ID responses */
#define SIM_ANSWER_KINDS 4

/* Drops the next `count` answer frames of a kind. */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_DropAnswers(int index, int kind, uint32_t count);
/* Delays every later answer frame of a kind by `ms` (0 = no delay). */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_DelayAnswers(int index, int kind, uint32_t ms);
/* The next `count` explicit frames (responses, fragments, acknowledges)
 * carry the inverted transaction toggle. */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_WrongToggle(int index, uint32_t count);
/* The next `count` fragments or acknowledges (explicit or I/O) carry their
 * fragment count plus one. */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_WrongFragCount(int index, uint32_t count);
/* Refuses every Open through the UCMM with this error (general code 0 =
 * accept again), for example 0x02/0x01. */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_RefuseOpen(int index, uint8_t generalCode,
                                              uint8_t additionalCode);
/* Refuses only the next `count` Opens with this error, then accepts again
 * (count 0 = accept at once). */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_RefuseNextOpens(int index, uint8_t generalCode,
                                                   uint8_t additionalCode, uint32_t count);
/* Answers the next `count` Allocate (service 0x4B) or Release (0x4C)
 * requests of the predefined master/slave connection set, on whichever
 * port or connection they come, with this error (count 0 = none); general
 * code 0 leaves them unanswered and not carried out. */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_RefuseSetService(int index, uint8_t service, uint8_t generalCode,
                                                    uint8_t additionalCode, uint32_t count);
typedef int(SIMCAN_CDECL *SimFaultFn)(int index, int kind, uint32_t amount);
typedef int(SIMCAN_CDECL *SimCountFaultFn)(int index, uint32_t count);

/* ---- Trace ---------------------------------------------------------------
 * Every frame completed on the bus, with the simulated time at its end of
 * frame; the newest 65536 are kept. */
typedef struct SimTraceFrame {
  uint64_t timeUs;
  uint32_t id;
  uint8_t len;
  uint8_t baudIndex;
  uint8_t data[8];
  uint8_t adapter; /* SIM_TRACE_*: what the adapter had to do with the frame */
} SimTraceFrame;
#define SIM_TRACE_NOT_ADAPTER 0        /* another rate, or the adapter closed or bus off */
#define SIM_TRACE_SENT_BY_ADAPTER 1    /* the adapter sent it */
#define SIM_TRACE_QUEUED_FOR_ADAPTER 2 /* in the adapter's receive queue for CAN_Read */
#define SIM_TRACE_LOST_BY_ADAPTER 3    /* heard, but the receive queue was full */
SIMCAN_EXPORT void SIMCAN_CDECL Sim_TraceClear(void);
SIMCAN_EXPORT uint32_t SIMCAN_CDECL Sim_TraceCount(void);
SIMCAN_EXPORT int SIMCAN_CDECL Sim_TraceGet(uint32_t index, SimTraceFrame *out); /* 0 or -1 */
/* candump -l log ("(sec.usec) can0 41E#8B0E0101"); ifname NULL = "can0". */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_TraceWriteCandump(const char *path, const char *ifname);
/* pcap, link type LINKTYPE_CAN_SOCKETCAN (227). 0 or -1. */
SIMCAN_EXPORT int SIMCAN_CDECL Sim_TraceWritePcap(const char *path);

#ifdef __cplusplus
}
#endif

#endif /* SIMCAN_H */
