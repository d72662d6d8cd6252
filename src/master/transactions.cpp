#include "master/transactions.h"

#include <cstring>

#include "can/can_driver.h"
#include "devicenet/devicenet.h"
#include "platform/platform.h"

namespace master {

using namespace devicenet;

int UcmmConnOpen = 0;

namespace {

constexpr size_t RESPONSE_BUFFER_SIZE = 1000;

// General error codes the connection set-up treats specially.
constexpr uint8_t GEC_RESOURCE_UNAVAILABLE = 0x02;
constexpr uint8_t GEC_ALREADY_IN_STATE = 0x0B;
constexpr uint8_t AEC_NO_MORE_CONNECTIONS = 0x01;  // with 0x02: try another group select

// Open request data: requested body format 8/8, then group select and source
// message ID.
constexpr uint8_t OPEN_BODY_FORMAT_8_8 = 0x00;
constexpr uint8_t OPEN_GROUP_3_SOURCE_0 = 0x30;
constexpr uint8_t OPEN_GROUP_1 = 0x00;
constexpr int OPEN_ATTEMPTS = 2;

constexpr uint8_t ALLOCATE_EXPLICIT = 0x01;
constexpr uint8_t ALLOCATE_EXPLICIT_AND_POLL = 0x03;
constexpr uint8_t RESET_TYPE_RESTART = 0x00;
constexpr uint16_t DEVICENET_INSTANCE = 1;
constexpr uint16_t IDENTITY_INSTANCE = 1;

struct ExplOutcome {
  uint8_t result;   // ExchangeResult
  uint8_t service;  // response service code
  size_t length;
  uint8_t data[RESPONSE_BUFFER_SIZE];
};

ExplOutcome outcome;

// Explicit requests and polls that ended without an answer, for the bus
// monitor's status line.
uint32_t timeouts = 0;

// The UCMM connection TxConnect opened last (valid while UcmmConnOpen is 1).
struct UcmmConnection {
  // Requests on it name the group: the link layer's automatic choice reads
  // an Allocate in group 3 as an Open and moves to another group.
  uint8_t group;
  uint8_t macId;
  uint16_t instance;
  bool open;  // not yet closed, as far as we know
};
UcmmConnection ucmm = {GROUP_3, 0, 0, false};

// The slave whose predefined set this program holds, if any.
struct HeldSet {
  bool held;
  uint8_t macId;
};
HeldSet heldSet = {false, 0};

constexpr uint8_t GEC_STATE_CONFLICT = 0x0C;  // Allocate: another master holds the set
constexpr uint8_t AEC_NONE = 0xFF;

uint32_t ErrorResult(uint8_t generalCode, uint8_t additionalCode) {
  return static_cast<uint32_t>(generalCode) << TXR_GEC_SHIFT | static_cast<uint32_t>(additionalCode)
                                                                   << TXR_AEC_SHIFT;
}

bool IsErrorResponse(const ExplOutcome& o) {
  return o.service == SVC_ERROR_RESPONSE;
}

// Reads and discards what waits in the adapter's receive queue (the link
// layer still answers for our own MAC ID).
void DiscardWaitingFrames() {
  DrainReceiveQueue();
}

// The loop every transaction waits in: tick, check the end, pump one window
// message, wait as the bus allows (short pauses while frames are due, 1 ms
// sleeps otherwise). The link layer's time-outs end every exchange.
template <typename Ended>
void Wait(Ended ended) {
  // Counted, so that the window's timer never starts an exchange of its own
  // while this one waits.
  ++app::g_App.TxWaitDepth;
  for (;;) {
    LinkTick();
    if (ended()) break;
    if (app::g_App.PumpHook) {
      // Inside a cyclic step input waits for the message loop, which takes
      // it between steps: a menu or box opened by it then runs its own loop
      // with the exchange going on (the window's timer), not inside this wait.
      if (app::g_App.StepRunning) {
        platform::PumpOneNonInputMessage(app::g_App.PumpHook);
      } else {
        platform::PumpOneMessage(app::g_App.PumpHook);
      }
    }
    LinkPause();
  }
  --app::g_App.TxWaitDepth;
}

void WaitExplicit(uint8_t macId) {
  Wait([macId] {
    return ExplTakeResponse(macId, g_NodeTable, outcome.data, sizeof outcome.data, outcome.length,
                            outcome.result, outcome.service);
  });
  if (outcome.result == RESULT_TIMEOUT) ++timeouts;
}

uint8_t WaitIo(uint8_t macId) {
  uint8_t result = RESULT_FAILED;
  Wait([macId, &result] { return IoTakeResult(macId, g_NodeTable, result); });
  return result;
}

// The failure of an exchange the adapter refused a frame of, with its word.
uint32_t AdapterError() {
  return TXR_ADAPTER_ERROR | (LastRefusalWord() & TXR_ADAPTER_WORD_MASK);
}

// The usual mapping of an explicit outcome; 0x0B counts as success where
// `alreadyIsOk`.
uint32_t MapOutcome(const ExplOutcome& o, bool alreadyIsOk) {
  if (o.result == RESULT_REFUSED) return AdapterError();
  if (o.result == RESULT_FAILED) return TXR_FAILED;
  if (o.result == RESULT_TIMEOUT) return TXR_TIMEOUT;
  if (!IsErrorResponse(o)) return TXR_OK;
  if (o.length < 1) return TXR_FAILED;
  if (alreadyIsOk && o.data[0] == GEC_ALREADY_IN_STATE) return TXR_OK;
  return ErrorResult(o.data[0], o.length >= 2 ? o.data[1] : AEC_NONE);
}

// Sends an explicit request and waits for its end. False when the link layer
// refuses the request.
bool Request(uint8_t macId, uint8_t group, uint32_t timeoutMs, uint8_t service, uint16_t classId,
             uint16_t instance, const uint8_t* data, size_t length) {
  if (!ExplRequest(macId, group, timeoutMs, g_NodeTable, service, classId, instance, data,
                   length)) {
    return false;
  }
  WaitExplicit(macId);
  return true;
}

// Where the predefined set is allocated and released: on the UCMM connection
// when there is one, else on the Group 2 Only port.
uint8_t SetGroup() {
  return UcmmConnOpen ? ucmm.group : GROUP_2;
}

// Allocate and Release of connections of the predefined set (`choice`
// bits) on `group`. False when the link layer refuses the request.
bool AllocateChoice(uint8_t macId, uint8_t group, uint8_t choice, uint8_t ownMacId,
                    uint32_t timeoutMs) {
  const uint8_t allocate[] = {choice, static_cast<uint8_t>(ownMacId & MAC_ID_MASK)};
  return Request(macId, group, timeoutMs, SVC_ALLOCATE, CLASS_DEVICENET, DEVICENET_INSTANCE,
                 allocate, sizeof allocate);
}

bool ReleaseChoice(uint8_t macId, uint8_t group, uint8_t choice, uint32_t timeoutMs) {
  const uint8_t release[] = {choice};
  return Request(macId, group, timeoutMs, SVC_RELEASE, CLASS_DEVICENET, DEVICENET_INSTANCE, release,
                 sizeof release);
}

// Releases the predefined set the way its Allocate went: the predefined
// explicit connection may have timed out on the slave by now.
bool ReleaseSet(uint8_t macId, uint32_t timeoutMs) {
  return ReleaseChoice(macId, SetGroup(), ALLOCATE_EXPLICIT_AND_POLL, timeoutMs);
}

// Allocates the predefined set the same way.
bool AllocateSet(uint8_t macId, uint8_t ownMacId, uint32_t timeoutMs) {
  return AllocateChoice(macId, SetGroup(), ALLOCATE_EXPLICIT_AND_POLL, ownMacId, timeoutMs);
}

bool AlreadyAllocated(const ExplOutcome& o) {
  return o.result == RESULT_COMPLETED && IsErrorResponse(o) && o.length >= 2 &&
         o.data[0] == GEC_ALREADY_IN_STATE;
}

// Closes a UCMM connection (instance 0 selects the unconnected message IDs)
// and waits. False when the link layer refuses the request.
bool CloseUcmm(uint8_t macId, uint16_t instance, uint32_t timeoutMs) {
  const uint8_t close[] = {static_cast<uint8_t>(instance), static_cast<uint8_t>(instance >> 8)};
  return Request(macId, GROUP_3, timeoutMs, SVC_RELEASE, 0, 0, close, sizeof close);
}

enum class OpenOutcome { Opened, Retry, Fallback };

OpenOutcome ClassifyOpen(const ExplOutcome& o) {
  if (o.result != RESULT_COMPLETED || o.length < 2) return OpenOutcome::Fallback;
  if (!IsErrorResponse(o)) return OpenOutcome::Opened;
  // Every other error, 0x0B and 0x02/0x04 included, carries no connection
  // instance or message IDs: nothing to talk through, so the Group 2 port.
  if (o.data[0] == GEC_RESOURCE_UNAVAILABLE && o.data[1] == AEC_NO_MORE_CONNECTIONS) {
    return OpenOutcome::Retry;
  }
  return OpenOutcome::Fallback;
}

enum class UcmmOpen { Opened, NotOffered, Failed };

// UCMM Open, with a second try in group 1 when group 3 has no connection
// left (0x02/0x01). Opened: `connection` names the new connection.
// NotOffered: no UCMM, or it refused; the Group 2 Only port is the way.
UcmmOpen OpenUcmm(uint8_t macId, uint32_t timeoutMs, UcmmConnection& connection) {
  for (int attempt = 0; attempt < OPEN_ATTEMPTS; ++attempt) {
    const uint8_t open[] = {OPEN_BODY_FORMAT_8_8,
                            attempt == 0 ? OPEN_GROUP_3_SOURCE_0 : OPEN_GROUP_1};
    if (!Request(macId, GROUP_3, timeoutMs, SVC_ALLOCATE, 0, 0, open, sizeof open)) {
      return UcmmOpen::Failed;
    }
    switch (ClassifyOpen(outcome)) {
      case OpenOutcome::Retry:
        continue;
      case OpenOutcome::Fallback:
        return UcmmOpen::NotOffered;
      case OpenOutcome::Opened:
        connection = {attempt == 0 ? GROUP_3 : GROUP_1, macId,
                      NodeOf(g_NodeTable, macId).ConnInstance, true};
        return UcmmOpen::Opened;
    }
  }
  return UcmmOpen::Failed;
}

// An Allocate answered 0x0B on a checked own MAC ID allocated nothing new:
// the connections are ours from an earlier run. Anything else but success
// maps as usual, 0x0C to TXR_OWNED_ELSEWHERE.
uint32_t AllocateResult(const ExplOutcome& o) {
  if (o.result == RESULT_COMPLETED && IsErrorResponse(o) && o.length < 2) return TXR_FAILED;
  if (o.result == RESULT_COMPLETED && IsErrorResponse(o) && o.data[0] == GEC_STATE_CONFLICT) {
    return TXR_OWNED_ELSEWHERE;
  }
  return MapOutcome(o, true);
}

}  // namespace

uint32_t TxTimeoutCount() {
  return timeouts;
}

int SetPumpHook(app::PumpHookFn hook) {
  app::g_App.PumpHook = hook;
  return 1;
}

uint8_t PickOwnMacId(uint8_t a, uint8_t b) {
  uint8_t own = a == 0 ? 1 : 0;
  if (own == b) own = 2;
  // Old address 2, new address 0: 2 would be the slave's own old address.
  if (own == a) own = 1;
  return own;
}

uint32_t TxConnect(uint8_t macId, uint8_t ownMacId, uint32_t timeoutMs) {
  DiscardWaitingFrames();
  if (UcmmConnOpen && ucmm.open) {
    // A slave has only a few UCMM connections: close the one a former
    // connect left open before opening another. Best effort.
    CloseUcmm(ucmm.macId, ucmm.instance, timeoutMs);
    ucmm.open = false;
    UcmmConnOpen = 0;
  }
  UcmmConnection opening{};
  const UcmmOpen open = OpenUcmm(macId, timeoutMs, opening);
  if (open == UcmmOpen::Failed) return TXR_FAILED;
  const bool opened = open == UcmmOpen::Opened;
  if (opened) ucmm = opening;

  if (opened) {
    UcmmConnOpen = 1;
    // Expected packet rate 0 on the new explicit connection: no watchdog.
    ServiceRequest rate{0,
                        SVC_SET_ATTRIBUTE_SINGLE,
                        CLASS_CONNECTION,
                        NodeOf(g_NodeTable, macId).ConnInstance,
                        ATTR_EXPECTED_PACKET_RATE,
                        2};
    uint8_t buffer[RESPONSE_BUFFER_SIZE] = {0, 0};
    uint32_t length = 0;
    const uint32_t result = TxService(macId, ownMacId, rate, buffer, length);
    if (result != TXR_OK) return result;
  } else {
    UcmmConnOpen = 0;
  }

  if (!AllocateSet(macId, ownMacId, timeoutMs)) return TXR_FAILED;
  const bool ownMacChecked = g_NodeTable.OwnMacClaimed && g_NodeTable.OwnMacId == ownMacId;
  if (AlreadyAllocated(outcome)) {
    // Allocated by our MAC ID. Checked free on the bus, it can only be a set
    // of ours, left over from a start that failed half-way; its connections
    // may be gone on the slave: release and allocate afresh (a second 0x0B
    // is taken as success). Unchecked and not known as ours, another master
    // at our MAC ID may own it, and it is none of ours to release.
    if (!ownMacChecked && !HoldsSet(macId)) {
      return ErrorResult(GEC_ALREADY_IN_STATE, outcome.data[1]);
    }
    ReleaseSet(macId, timeoutMs);
    if (!AllocateSet(macId, ownMacId, timeoutMs)) return TXR_FAILED;
  }
  const uint32_t result = AllocateResult(outcome);
  if (result == TXR_OK) heldSet = {true, static_cast<uint8_t>(macId & MAC_ID_MASK)};
  return result;
}

bool HoldsSet(uint8_t macId) {
  return heldSet.held && heldSet.macId == (macId & MAC_ID_MASK);
}

void ForgetHeldSet() {
  heldSet.held = false;
}

uint32_t TxRelease(uint8_t macId, uint8_t /*ownMacId*/) {
  if (!HoldsSet(macId)) return TXR_OK;
  DiscardWaitingFrames();
  if (!ReleaseSet(macId, REQUEST_TIMEOUT_MS)) return TXR_FAILED;
  // Answered or not, the set is given up: a second Release could only
  // reach a set that another master allocated meanwhile.
  heldSet.held = false;
  const uint32_t released = MapOutcome(outcome, false);
  if (released != TXR_OK || !UcmmConnOpen) return released;

  if (!CloseUcmm(macId, NodeOf(g_NodeTable, macId).ConnInstance, REQUEST_TIMEOUT_MS)) {
    return TXR_FAILED;
  }
  // Answered: closed now, or the slave had no such connection.
  if (outcome.result == RESULT_COMPLETED) ucmm.open = false;
  return MapOutcome(outcome, true);
}

uint32_t TxOpenExplicit(uint8_t macId, uint8_t ownMacId, uint32_t timeoutMs, ExplicitLink& link) {
  DiscardWaitingFrames();
  UcmmConnection opening{};
  switch (OpenUcmm(macId, timeoutMs, opening)) {
    case UcmmOpen::Failed:
      return TXR_FAILED;
    case UcmmOpen::Opened:
      link = {static_cast<uint8_t>(macId & MAC_ID_MASK), opening.group, true, opening.instance};
      return TXR_OK;
    case UcmmOpen::NotOffered:
      break;
  }
  if (!AllocateChoice(macId, GROUP_2, ALLOCATE_EXPLICIT, ownMacId, timeoutMs)) return TXR_FAILED;
  if (AlreadyAllocated(outcome)) {
    // As in TxConnect: only a checked own MAC ID makes the connection ours.
    if (!(g_NodeTable.OwnMacClaimed && g_NodeTable.OwnMacId == ownMacId)) {
      return ErrorResult(GEC_ALREADY_IN_STATE, outcome.data[1]);
    }
    ReleaseChoice(macId, GROUP_2, ALLOCATE_EXPLICIT, timeoutMs);
    if (!AllocateChoice(macId, GROUP_2, ALLOCATE_EXPLICIT, ownMacId, timeoutMs)) {
      return TXR_FAILED;
    }
  }
  const uint32_t result = AllocateResult(outcome);
  if (result == TXR_OK) link = {static_cast<uint8_t>(macId & MAC_ID_MASK), GROUP_2, false, 0};
  return result;
}

uint32_t TxCloseExplicit(const ExplicitLink& link, uint32_t timeoutMs) {
  DiscardWaitingFrames();
  const bool queued = link.viaUcmm
                          ? CloseUcmm(link.macId, link.instance, timeoutMs)
                          : ReleaseChoice(link.macId, GROUP_2, ALLOCATE_EXPLICIT, timeoutMs);
  return queued ? MapOutcome(outcome, true) : TXR_FAILED;
}

uint32_t TxService(uint8_t macId, uint8_t /*ownMacId*/, const ServiceRequest& request,
                   uint8_t* buffer, uint32_t& responseLength) {
  DiscardWaitingFrames();
  responseLength = 0;
  // The body goes into a buffer of its own: the caller's is the response's.
  static uint8_t body[RESPONSE_BUFFER_SIZE];
  size_t length = 0;
  if (request.service == SVC_GET_ATTRIBUTE_SINGLE || request.service == SVC_SET_ATTRIBUTE_SINGLE) {
    body[length++] = request.attribute;
  }
  std::memcpy(&body[length], buffer, request.length);
  length += request.length;

  const uint32_t timeoutMs = request.timeoutMs ? request.timeoutMs : REQUEST_TIMEOUT_MS;
  if (!Request(macId, request.group, timeoutMs, request.service,
               static_cast<uint16_t>(request.classId), request.instance, body, length)) {
    return TXR_FAILED;
  }
  const uint32_t result = MapOutcome(outcome, false);
  if (result != TXR_OK) return result;
  std::memcpy(buffer, outcome.data, outcome.length);
  responseLength = static_cast<uint32_t>(outcome.length);
  return TXR_OK;
}

uint32_t TxPoll(uint8_t macId, app::IoBuffers& io) {
  DiscardWaitingFrames();
  const uint16_t outputLength = static_cast<uint16_t>(io.Output.Length);
  if (!IoRequest(macId, REQUEST_TIMEOUT_MS, g_NodeTable, io.Output.Data, outputLength)) {
    return TXR_IO_FAILED;
  }
  const uint8_t result = WaitIo(macId);
  if (result == RESULT_TIMEOUT) ++timeouts;
  if (result == RESULT_REFUSED) return AdapterError();
  if (result != RESULT_COMPLETED) return TXR_IO_FAILED;
  size_t taken = 0;
  if (!TakeConsumed(macId, G1_MSG_POLL_RESPONSE, g_NodeTable, io.Input.Data, sizeof io.Input.Data,
                    taken)) {
    return TXR_IO_FAILED;
  }
  io.Input.Length = static_cast<uint32_t>(taken);
  return TXR_OK;
}

namespace {

uint32_t ProbeResult(uint8_t exchangeResult) {
  if (exchangeResult == RESULT_COMPLETED) return TXR_OK;
  return exchangeResult == RESULT_REFUSED ? AdapterError() : TXR_IO_FAILED;
}

}  // namespace

uint32_t TxProbeMac(uint8_t macId, uint32_t timeoutMs) {
  DiscardWaitingFrames();
  const uint8_t check[DUP_MAC_CHECK_LEN] = {};  // request, port 0, vendor 0, serial 0
  if (!DupMacRequest(macId, timeoutMs, g_NodeTable, check, sizeof check)) return TXR_IO_FAILED;
  return ProbeResult(WaitIo(macId));
}

void TxProbeAll(const bool* probe, uint32_t timeoutMs, const ProbeWatch& watch) {
  DiscardWaitingFrames();
  const uint8_t check[DUP_MAC_CHECK_LEN] = {};
  bool open[NODE_COUNT] = {};
  int openCount = 0;
  uint8_t next = 0;
  Wait([&] {
    for (uint8_t mac = 0; mac < NODE_COUNT; ++mac) {
      uint8_t result = RESULT_FAILED;
      if (!open[mac] || !IoTakeResult(mac, g_NodeTable, result)) continue;
      open[mac] = false;
      --openCount;
      // The adapter refuses the rest as well: nothing further is sent.
      if (result == RESULT_REFUSED) next = NODE_COUNT;
      watch.seen(watch.context, mac, ProbeResult(result));
    }
    if (watch.step(watch.context)) {
      for (uint8_t mac = 0; mac < NODE_COUNT; ++mac) {
        if (open[mac]) IoCancel(g_NodeTable, mac);
      }
      return true;
    }
    while (next < NODE_COUNT && !probe[next]) ++next;
    // One request ahead of the wire at most, so that each answer window
    // starts about when its request goes out, not while it waits in the
    // adapter behind the others.
    if (next < NODE_COUNT && TransmitRoomFor(DUP_MAC_CHECK_LEN) &&
        DupMacRequest(next, timeoutMs, g_NodeTable, check, sizeof check)) {
      open[next++] = true;
      ++openCount;
    }
    return next >= NODE_COUNT && openCount == 0;
  });
}

uint32_t TxReset(uint8_t macId) {
  if (!HoldsSet(macId)) return 0;
  DiscardWaitingFrames();
  const uint8_t type[] = {RESET_TYPE_RESTART};
  if (!Request(macId, GROUP_2, REQUEST_TIMEOUT_MS, SVC_RESET, CLASS_IDENTITY, IDENTITY_INSTANCE,
               type, sizeof type)) {
    return 0;
  }
  const uint32_t result = MapOutcome(outcome, false);
  // The reset drops the slave's connections, whatever it answered.
  if (outcome.result == RESULT_COMPLETED) heldSet.held = false;
  return result == TXR_OK ? 1 : result;
}

}  // namespace master
