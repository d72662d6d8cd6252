/* The serial-line CAN adapter driver: a driver library with the seven CAN_*
 * entry points of a PC CAN adapter driver that speaks the serial-line CAN
 * protocol (ASCII commands over a COM port) to an adapter: serialcan.dll on
 * Windows, libserialcan.so natively (tests, benchmarks).
 *
 * Plain C. Load the library and resolve the entry points by name; the *Fn
 * typedefs are the signatures. Calling convention: the CAN_* entry points
 * use __stdcall on 32-bit Windows (CAN_Init takes five arguments there and
 * pops 20 bytes); SerialCan_* use the C default. Export names are
 * undecorated. All calls must come from one thread; nothing runs in the
 * background: bytes from the adapter are taken in by CAN_Read and
 * CAN_Status (and by CAN_Write while it holds frames back).
 *
 * The COM port: CAN_Init's ioPort is the COM port number 1..16. On Windows
 * the library opens \\.\COMn. Elsewhere it opens the path in the environment
 * variable SERIALCAN_COMn (for example SERIALCAN_COM3=/dev/pts/7), else
 * /dev/ttyS<n-1>. The line is set to 115200 baud, 8 data bits, no parity,
 * one stop bit (an adapter on USB ignores the baud rate).
 *
 * The adapter's answers to frames sent are not waited for: they are counted
 * as they arrive (SerialCan_GetStats). The adapter answers in order; an
 * answer belongs to the oldest command that takes its kind ("z"/"Z" or an
 * empty line a frame, "Fxx" a status request, an empty line a set-up
 * command, BEL any), and the commands before that one have lost theirs. An
 * answer not there 500 ms after its command is lost too. Lines may end in
 * CR or CR LF. One adapter per process.
 */
#ifndef SERIALCAN_H
#define SERIALCAN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define SERIALCAN_STDCALL __stdcall
#define SERIALCAN_CDECL __cdecl
#if defined(SERIALCAN_BUILD)
#define SERIALCAN_EXPORT __declspec(dllexport)
#else
#define SERIALCAN_EXPORT __declspec(dllimport)
#endif
#else
#define SERIALCAN_STDCALL
#define SERIALCAN_CDECL
#define SERIALCAN_EXPORT __attribute__((visibility("default")))
#endif

/* One CAN frame as the driver moves it (14 bytes, no padding). */
#pragma pack(push, 1)
typedef struct SerialCanMsg {
  uint32_t ID;     /* 11-bit identifier */
  uint8_t MSGTYPE; /* 0 = standard data frame */
  uint8_t LEN;     /* 0..8 */
  uint8_t DATA[8];
} SerialCanMsg;
#pragma pack(pop)

/* CAN_Init's hardware type: the serial-line adapter. */
#define SERIALCAN_HW_TYPE 0x40
#define SERIALCAN_COM_COUNT 16

/* Results and status bits. Any result other than SERIALCAN_OK from CAN_Init
 * means the adapter did not open; the port is closed again then. */
#define SERIALCAN_OK 0x0000
#define SERIALCAN_ERR_OVERRUN 0x0002   /* status: frames were lost (see CAN_Status) */
#define SERIALCAN_ERR_BUSLIGHT 0x0004  /* status: error warning */
#define SERIALCAN_ERR_BUSHEAVY 0x0008  /* status: error passive */
#define SERIALCAN_ERR_BUSOFF 0x0010    /* status: bus off, or the adapter is gone */
#define SERIALCAN_ERR_QRCVEMPTY 0x0020 /* CAN_Read: nothing received */
#define SERIALCAN_ERR_REFUSED 0x0040   /* CAN_Init: the adapter answered BEL to S or O */
#define SERIALCAN_ERR_QXMTFULL 0x0080  /* CAN_Write: not sent now, try again (see CAN_Write) */
#define SERIALCAN_ERR_SILENT 0x0100    /* CAN_Init: no answer to a command within 200 ms */
#define SERIALCAN_ERR_PORTBUSY 0x0400  /* CAN_Init: the port is in use or access is denied */
#define SERIALCAN_ERR_NOPORT 0x0800    /* CAN_Init: no such port, or it refuses its settings */
#define SERIALCAN_ERR_NOTOPEN 0x1000   /* the adapter is not open */
#define SERIALCAN_ERR_ILLPARAM 0x4000  /* a bad argument */
#define SERIALCAN_ERR_PORTLOST 0x8000  /* CAN_Write: the port failed (unplugged) */

/* Opens the adapter: hwType must be SERIALCAN_HW_TYPE, ioPort 1..16,
 * interrupt is not used, msgType 0 (11-bit identifiers; 1 is accepted as
 * well), btr0btr1 one of 0x031C, 0x011C, 0x001C (125, 250, 500 kbit/s, sent
 * as S4, S5, S6). Anything else: SERIALCAN_ERR_ILLPARAM before the port is
 * touched. Then opens the port (SERIALCAN_ERR_NOPORT, _PORTBUSY), discards
 * what waits in it, and sends "\rC\r": the CR ends a half line an earlier
 * user may have left in the adapter, C closes a channel left open; any
 * answer to them is fine (BEL included), and what comes until the line has
 * been quiet for 20 ms belongs to them. Then "S<digit>\r" and "O\r", each
 * answered by CR within 200 ms (else SERIALCAN_ERR_SILENT, as when nothing
 * answers the C; a BEL to S or O: SERIALCAN_ERR_REFUSED). An open adapter is
 * closed first. */
SERIALCAN_EXPORT uint32_t SERIALCAN_STDCALL CAN_Init(uint16_t btr0btr1, int msgType, int hwType,
                                                     uint32_t ioPort, uint16_t interrupt);
typedef uint32_t(SERIALCAN_STDCALL *SerialCanInitFn)(uint16_t btr0btr1, int msgType, int hwType,
                                                     uint32_t ioPort, uint16_t interrupt);

/* Sends "C\r", waits up to 200 ms for its answer and closes the port.
 * Always 0. */
SERIALCAN_EXPORT uint32_t SERIALCAN_STDCALL CAN_Close(void);
typedef uint32_t(SERIALCAN_STDCALL *SerialCanVoidFn)(void);

/* The status word. CAN_Status and CAN_Read ask the adapter for its flags
 * ("F\r") when none was asked for 100 ms and the last question has been
 * answered (or lost), without waiting; the answer arrives with a later
 * CAN_Read or CAN_Status, so a program that reads while it waits finds the
 * flags at most about 100 ms old. The flags of the latest answer: bit 0
 * (receive FIFO full) and bit 3 (data overrun) -> SERIALCAN_ERR_OVERRUN,
 * bit 2 (error warning) and bit 7 (bus error: one error frame was seen) ->
 * SERIALCAN_ERR_BUSLIGHT, bit 5 (error passive) -> SERIALCAN_ERR_BUSHEAVY.
 * The flags have no bus off: SERIALCAN_ERR_BUSOFF when they show error
 * passive (and no full transmit FIFO, bit 1) and the adapter refused the
 * latest frame it answered; when it refused the latest status request (its
 * channel is closed, as after a reset); and while the port has failed or
 * nothing was heard from the adapter for a second while a command waited. Plus
 * SERIALCAN_ERR_OVERRUN once after the library's receive ring overflowed
 * or a refused frame was given up (see CAN_Write). SERIALCAN_ERR_NOTOPEN
 * when not open. */
SERIALCAN_EXPORT uint32_t SERIALCAN_STDCALL CAN_Status(void);

/* Sends one frame as "tIIIL<data>\r" without waiting for the answer.
 * 0 = written to the port; SERIALCAN_ERR_ILLPARAM for a null pointer,
 * LEN > 8, an identifier above 0x7FF or a MSGTYPE other than 0;
 * SERIALCAN_ERR_QXMTFULL (not sent, call again later) when the port takes
 * nothing now, when 64 commands await their answers, or while a frame the
 * adapter refused (BEL) waits to go again: the library keeps a refused
 * frame and sends it again with the next CAN_Write, CAN_Read or CAN_Status,
 * before any newer frame, until the adapter takes it or 100 ms after its
 * first refusal (then it is dropped and CAN_Status reports an overrun);
 * SERIALCAN_ERR_PORTLOST when the port failed (it stays failed until the
 * next CAN_Init); SERIALCAN_ERR_NOTOPEN. */
SERIALCAN_EXPORT uint32_t SERIALCAN_STDCALL CAN_Write(const SerialCanMsg *msg);
typedef uint32_t(SERIALCAN_STDCALL *SerialCanMsgFn)(SerialCanMsg *msg);

/* Takes in what the port holds (without waiting) and hands out the oldest
 * received 11-bit data frame (MSGTYPE 0): 0, or SERIALCAN_ERR_QRCVEMPTY,
 * SERIALCAN_ERR_NOTOPEN, SERIALCAN_ERR_ILLPARAM (null). Extended and
 * remote frames are dropped (counted). The ring holds 512 frames; a frame
 * that finds it full is dropped and reported as an overrun. */
SERIALCAN_EXPORT uint32_t SERIALCAN_STDCALL CAN_Read(SerialCanMsg *msg);

/* Copies a version text (at most 63 characters and the terminator). */
SERIALCAN_EXPORT uint32_t SERIALCAN_STDCALL CAN_VersionInfo(char *text);
typedef uint32_t(SERIALCAN_STDCALL *SerialCanTextFn)(char *text);

/* Empties the receive ring and the latched status bits. Always 0. */
SERIALCAN_EXPORT uint32_t SERIALCAN_STDCALL CAN_ResetClient(void);

/* What went over the line since the last CAN_Init. */
typedef struct SerialCanStats {
  uint32_t framesSent;      /* CAN_Write calls that wrote their line */
  uint32_t framesAnswered;  /* answers to them and to frames sent again: "z" or CR */
  uint32_t framesRefused;   /* answers to them and to frames sent again: BEL */
  uint32_t framesReceived;  /* frame lines taken into the receive ring */
  uint32_t framesDropped;   /* frame lines not taken: ring full, extended or remote */
  uint32_t statusPolls;     /* "F" commands sent */
  uint32_t garbageLines;    /* lines that were neither a frame nor an answer, and overlong ones */
  uint32_t bytesRead;       /* bytes taken from the port */
  uint32_t portReads;       /* read calls on the port */
  uint32_t answersLost;     /* commands whose answer never came (expired, or skipped) */
  uint32_t framesResent;    /* refused frames sent again */
  uint32_t framesAbandoned; /* refused frames given up after 100 ms */
  /* Now, not counted: */
  uint32_t commandsWaiting; /* commands sent whose answers are awaited (at most 64) */
  uint32_t framesHeld;      /* refused frames not yet taken (waiting, or sent again) */
} SerialCanStats;
/* 0, or -1 for a null pointer. */
SERIALCAN_EXPORT int SERIALCAN_CDECL SerialCan_GetStats(SerialCanStats *out);
typedef int(SERIALCAN_CDECL *SerialCanGetStatsFn)(SerialCanStats *out);

#ifdef __cplusplus
}
#endif

#endif /* SERIALCAN_H */
