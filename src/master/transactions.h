// Transactions: every conversation with the slave as one blocking call that
// queues a request in the link layer, waits until the slave's node record
// reports the end of the exchange, and folds the outcome into a result code.
#pragma once

#include <cstdint>

#include "app/app_state.h"

namespace master {

// Result codes. An error response carries the DeviceNet general error code
// in bits 23..16; the fixed failures are single bits above it.
constexpr uint32_t TXR_OK = 0;
constexpr uint32_t TXR_GEC_MASK = 0x00FF0000;
constexpr int TXR_GEC_SHIFT = 16;
constexpr uint32_t TXR_AEC_MASK = 0x0000FF00;  // the additional code, with a general error code
constexpr int TXR_AEC_SHIFT = 8;
constexpr uint32_t TXR_IO_FAILED = 0x01000000;  // poll or probe failed
constexpr uint32_t TXR_NO_SLAVE = 0x02000000;   // not connected within the retry window
constexpr uint32_t TXR_TIMEOUT = 0x04000000;    // no response within the request's time-out
constexpr uint32_t TXR_FAILED = 0x10000000;     // refused, or no usable response
// The adapter went bus off or error passive during a cyclic exchange; bits
// 7..0 hold the low byte of the status word it showed.
constexpr uint32_t TXR_BUS_FAULT = 0x20000000;
constexpr uint32_t TXR_BUS_STATUS_MASK = 0x000000FF;
// The adapter refused a frame of the exchange (CAN_Write failed, or its
// transmit queue kept the frame from the wire): the slave may never have
// seen it. Bits 15..0 hold the adapter's word, CAN_Write's result ORed with
// the status word then (TXR_ADAPTER_WORD_MASK).
constexpr uint32_t TXR_ADAPTER_ERROR = 0x08000000;
constexpr uint32_t TXR_ADAPTER_WORD_MASK = 0x0000FFFF;
// The slave's predefined set belongs to another master (its Allocate was
// answered 0x0C): nothing was allocated or released.
constexpr uint32_t TXR_OWNED_ELSEWHERE = 0x40000000;
// The Allocate was answered 0x0B (already allocated by a master at our MAC
// ID) where this program does not know that it left those connections
// behind: a scanner at that MAC ID may own the slave, so nothing was
// released. TXR_OWNED_ELSEWHERE with the error code 0x0B in the general
// error code bits (and the additional code); TakeOverSet lets the next
// connect release them. Test for it with IsSetAtOwnMac.
constexpr uint32_t TXR_SET_AT_OWN_MAC = TXR_OWNED_ELSEWHERE | (0x0Bu << TXR_GEC_SHIFT);
constexpr bool IsSetAtOwnMac(uint32_t result) {
  return (result & (TXR_OWNED_ELSEWHERE | TXR_GEC_MASK)) == TXR_SET_AT_OWN_MAC;
}
// The failure has been shown to the user already.
constexpr uint32_t TXR_REPORTED = 0x80000000;

// While another node has claimed the own MAC ID (g_NodeTable OwnMacLost),
// every request under it is refused before a frame goes out: TXR_FAILED, and
// TXR_IO_FAILED for a poll; one waiting then ends at once the same way.

// Time-outs in ms.
constexpr uint32_t REQUEST_TIMEOUT_MS = 2000;  // ordinary requests and polls
constexpr uint32_t CONNECT_TIMEOUT_MS = 200;   // what callers pass to TxConnect
constexpr uint32_t PROBE_TIMEOUT_MS = 60;      // what the search passes to TxProbeMac

// A request for TxService.
struct ServiceRequest {
  uint8_t group;  // 2 = Group 2 connection, 3 = Group 3, 0 = the link layer chooses
  uint8_t service;
  uint32_t classId;
  uint16_t instance;
  uint8_t attribute;       // used for Get/Set_Attribute_Single only
  uint8_t length;          // request data bytes
  uint32_t timeoutMs = 0;  // 0: REQUEST_TIMEOUT_MS
};

// 1 when TxConnect opened the explicit connection through the UCMM, 0 when it
// fell back to the Group 2 only port. Read by TxRelease.
extern int UcmmConnOpen;

// Explicit requests and polls that timed out since the program started
// (probes, whose silence is an answer, are not counted).
uint32_t TxTimeoutCount();

// Sets AppState PumpHook (null: waits do not touch the message queue). 1.
int SetPumpHook(app::PumpHookFn hook);

// The master's own MAC ID for an operation between addresses a and b: 1 if a
// is 0, else 0; 2 if that equals b; and 1 where 2 would be a (the change of
// address 2 to 0), so that it always differs from both.
uint8_t PickOwnMacId(uint8_t a, uint8_t b);

// Brings up the predefined master/slave connection set: closes a UCMM
// connection a former connect left open, UCMM Open (in group 3, then group 1
// on 0x02/0x01), or the Group 2 Only port where the UCMM is not offered or
// refuses, then the Allocate. An Allocate answered 0x0B is released and
// allocated once more only where this program may have left that set behind
// itself (it holds it, or a Release, Close or Allocate towards this slave at
// this own MAC ID failed or went unanswered since the program started, or
// TakeOverSet); otherwise TXR_SET_AT_OWN_MAC. An Allocate answered 0x0C gives
// TXR_OWNED_ELSEWHERE. Once the set is held, the UCMM connection's watchdog
// is switched off (expected packet rate 0). On every failure the UCMM
// connection it opened is closed again. Where the UCMM refused with an error
// code and the Group 2 Only port then failed without one, the refusal is the
// result. On TXR_OK the set counts as held. Returns TXR_OK,
// TXR_OWNED_ELSEWHERE, TXR_SET_AT_OWN_MAC, an error-response result,
// TXR_TIMEOUT or TXR_FAILED.
uint32_t TxConnect(uint8_t macId, uint8_t ownMacId, uint32_t timeoutMs);

// The user confirmed that the connections of `macId` allocated at
// `ownMacId` are this program's to release: the next TxConnect or
// TxOpenExplicit answered 0x0B releases and allocates them afresh.
void TakeOverSet(uint8_t macId, uint8_t ownMacId);

// Closes the UCMM connection that a connect left open (its close or release
// failed), the way the shell's exit and Stop end. TXR_OK when none is open,
// else the Close's result; the connection is forgotten either way.
uint32_t TxCloseUcmm(uint32_t timeoutMs);

// Waits `ms` while the link layer keeps ticking (the own MAC ID is defended)
// and the window's messages are pumped, as a transaction's wait does.
void TxPause(uint32_t ms);

// Releases the connection set the way it was allocated (on the UCMM
// connection, else on the Group 2 Only port) and closes the UCMM connection
// if one was opened, also after a failed Release. Sends nothing (TXR_OK)
// unless this program holds the set of `macId`: a Group 2 only slave takes a
// Release from anyone, and another master's connection must not be cut. A
// Release that fails leaves the set marked as possibly ours (see TxConnect).
// Returns TXR_OK, an error-response result, TXR_TIMEOUT or TXR_FAILED.
uint32_t TxRelease(uint8_t macId, uint8_t ownMacId);

// True while this program holds the predefined set of `macId` (its Allocate
// succeeded and no Release or Reset has ended it).
bool HoldsSet(uint8_t macId);

// Forgets every connection on record, as at the program's start: no set
// held, nothing marked as left behind, no UCMM connection to close.
void ForgetAllConnections();

// Forgets a held set without a word to the slave (its reset or the closed
// adapter ended it). A set still held is marked as possibly left behind.
void ForgetHeldSet();

// An explicit connection alone, opened to read a node without taking its
// I/O connection.
struct ExplicitLink {
  uint8_t macId;
  uint8_t group;  // the group requests on it name (ServiceRequest::group)
  bool viaUcmm;
  uint16_t instance;  // the UCMM connection's instance
  uint8_t ownMacId;   // the allocator named on the Group 2 Only port
};

// Opens an explicit connection alone: a UCMM Open where the node offers it,
// else the Allocate of the explicit connection only (never the poll
// connection) on the Group 2 Only port. As with TxConnect, an Allocate
// answered 0x0B is released and allocated afresh only where this program may
// have left it behind, else TXR_SET_AT_OWN_MAC; 0x0C gives
// TXR_OWNED_ELSEWHERE. Returns TXR_OK (link filled), TXR_OWNED_ELSEWHERE, an
// error-response result, TXR_TIMEOUT or TXR_FAILED. The predefined set that
// TxConnect holds is not touched.
uint32_t TxOpenExplicit(uint8_t macId, uint8_t ownMacId, uint32_t timeoutMs, ExplicitLink& link);

// Closes what TxOpenExplicit opened, the way it was opened. A Release that
// fails leaves the connection marked as possibly ours.
uint32_t TxCloseExplicit(const ExplicitLink& link, uint32_t timeoutMs);

// Sends any service. `buffer` (at least 1000 bytes) holds the request data
// and receives the response data; `responseLength` is 0 unless TXR_OK.
uint32_t TxService(uint8_t macId, uint8_t ownMacId, const ServiceRequest& request, uint8_t* buffer,
                   uint32_t& responseLength);

// The largest class and instance IDs TxService can send `request` to `macId`
// with, by the body format the slave granted the connection it goes out on
// (0xFF or 0xFFFF each). False when the request names no path or the format
// is unknown. TxService gives TXR_FAILED, sending nothing, for wider IDs.
bool TxPathLimits(uint8_t macId, const ServiceRequest& request, uint32_t& classMax,
                  uint32_t& instanceMax);

// One poll exchange: sends io.Output, replaces io.Input. TXR_OK,
// TXR_ADAPTER_ERROR or TXR_IO_FAILED.
uint32_t TxPoll(uint8_t macId, app::IoBuffers& io);

// Duplicate MAC ID check of an address, carrying vendor ID 0 and the serial
// number AppState CheckSerial: TXR_OK if a device answered within timeoutMs
// of the request's leaving the adapter; TXR_ADAPTER_ERROR when the adapter
// refused it (no check took place: bus off, unplugged), which tells nothing
// about the address; else TXR_IO_FAILED.
uint32_t TxProbeMac(uint8_t macId, uint32_t timeoutMs);

// Reads the bus for `ms` and sends nothing of its own: every frame goes
// through the link layer as during any wait, so the own MAC ID's watch sees
// each Duplicate MAC ID check message.
void TxListen(uint32_t ms);

// What TxProbeAll reports to, and asks, as it goes.
struct ProbeWatch {
  void* context;
  // A probe ended: TXR_OK the node at `macId` answered, TXR_IO_FAILED it
  // stayed silent, TXR_ADAPTER_ERROR the request never left the adapter.
  void (*seen)(void* context, uint8_t macId, uint32_t result);
  // Once per step of the wait, after the probes that ended in it were seen:
  // the place to show them. True drops the probes not yet ended; nothing
  // more goes out.
  bool (*step)(void* context);
};

// Probes every MAC ID whose entry of `probe` (64) is set, at once: the
// requests follow each other on the wire as fast as the bus takes them, and
// each answer is awaited `timeoutMs` after its own request left, so the
// whole takes the requests' wire time and about one answer window. A probe
// the adapter refuses ends the sweep: the probes under way end as they do,
// no further one is sent.
void TxProbeAll(const bool* probe, uint32_t timeoutMs, const ProbeWatch& watch);

// Resets the slave's Identity object (type 0), only when this program holds
// its set. 0 when the request could not be queued or the set is not held, 1
// on a success response (the set is gone then), else TXR_TIMEOUT,
// TXR_FAILED or an error-response result.
uint32_t TxReset(uint8_t macId);

// The Duplicate MAC ID check requests heard so far from the node at `macId`
// for itself, as it sends them when it starts up: a count to compare.
uint32_t TxChecksHeard(uint8_t macId);

// Sends nothing and waits, the link layer running and window messages
// pumped, until TxChecksHeard(macId) differs from `seen` (true) or
// `timeoutMs` have passed (false).
bool TxAwaitCheck(uint8_t macId, uint32_t seen, uint32_t timeoutMs);

}  // namespace master
