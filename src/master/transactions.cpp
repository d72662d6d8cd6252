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
  uint8_t ownMacId;  // the allocator it was allocated with
};
HeldSet heldSet = {false, 0, 0};

// Connections this program may have left allocated on a slave: an
// Allocate, Release or Close towards it failed or went unanswered since the
// program started (or the user said so).
struct LeftBehind {
  uint8_t ownMacId;  // the allocator they were allocated with
  uint8_t choice;    // ALLOCATE_* bits that may be left; 0 for none
};
LeftBehind leftBehind[NODE_COUNT] = {};

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
  // Another node claimed the own MAC ID: nothing more goes out under it.
  if (g_NodeTable.OwnMacLost) return false;
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

// Closes the UCMM connection TxConnect opened last. Answered at all (an
// error too: the slave has no such connection), it counts as closed;
// otherwise it stays on record for the next connect or the exit. The Close's
// result.
uint32_t CloseOurUcmm(uint32_t timeoutMs) {
  UcmmConnOpen = 0;
  if (!ucmm.open) return TXR_OK;
  if (!CloseUcmm(ucmm.macId, ucmm.instance, timeoutMs)) return TXR_FAILED;
  if (outcome.result == RESULT_COMPLETED) ucmm.open = false;
  return MapOutcome(outcome, true);
}

void MarkLeftBehind(uint8_t macId, uint8_t ownMacId, uint8_t choice) {
  LeftBehind& left = leftBehind[macId & MAC_ID_MASK];
  const uint8_t own = ownMacId & MAC_ID_MASK;
  if (left.choice && left.ownMacId != own) left.choice = 0;  // another allocator's are not ours
  left.ownMacId = own;
  left.choice = static_cast<uint8_t>(left.choice | choice);
}

// `choice` is known to be released (or held again) now.
void ClearLeftBehind(uint8_t macId, uint8_t choice) {
  LeftBehind& left = leftBehind[macId & MAC_ID_MASK];
  left.choice = static_cast<uint8_t>(left.choice & ~choice);
}

// An Allocate that was not answered may still have been carried out.
void MarkUnansweredAllocate(uint8_t macId, uint8_t ownMacId, uint8_t choice) {
  if (outcome.result != RESULT_COMPLETED) MarkLeftBehind(macId, ownMacId, choice);
}

// True where connections of `macId` allocated at `ownMacId` may be ours.
bool MayBeOurs(uint8_t macId, uint8_t ownMacId) {
  const LeftBehind& left = leftBehind[macId & MAC_ID_MASK];
  return HoldsSet(macId) || (left.choice && left.ownMacId == (ownMacId & MAC_ID_MASK));
}

// An Allocate answered 0x0B for connections this program does not know as
// its own.
uint32_t NotOurs(const ExplOutcome& o) {
  return TXR_SET_AT_OWN_MAC | ErrorResult(GEC_ALREADY_IN_STATE, o.data[1]);
}

// Releases connections of ours left behind before they are allocated
// afresh: `choice`, and where the slave answers that not all of them are
// allocated (0x0B), the explicit connection alone (an identity read may
// have left just that). TXR_OK when nothing of it is left.
uint32_t ReleaseLeftBehind(uint8_t macId, uint8_t ownMacId, uint8_t group, uint8_t choice,
                           uint32_t timeoutMs) {
  if (!ReleaseChoice(macId, group, choice, timeoutMs)) return TXR_FAILED;
  if (AlreadyAllocated(outcome) && choice != ALLOCATE_EXPLICIT &&
      !ReleaseChoice(macId, group, ALLOCATE_EXPLICIT, timeoutMs)) {
    return TXR_FAILED;
  }
  const uint32_t released = MapOutcome(outcome, true);
  if (released != TXR_OK) {
    MarkLeftBehind(macId, ownMacId, choice);
    return released;
  }
  if (HoldsSet(macId)) heldSet.held = false;
  ClearLeftBehind(macId, choice);
  return TXR_OK;
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
// NotOffered: no UCMM, or it refused (`refusal` then holds its error
// result, else TXR_OK); the Group 2 Only port is the way. Failed: the link
// layer refused the request.
UcmmOpen OpenUcmm(uint8_t macId, uint32_t timeoutMs, UcmmConnection& connection,
                  uint32_t& refusal) {
  refusal = TXR_OK;
  for (int attempt = 0; attempt < OPEN_ATTEMPTS; ++attempt) {
    const uint8_t open[] = {OPEN_BODY_FORMAT_8_8,
                            attempt == 0 ? OPEN_GROUP_3_SOURCE_0 : OPEN_GROUP_1};
    if (!Request(macId, GROUP_3, timeoutMs, SVC_ALLOCATE, 0, 0, open, sizeof open)) {
      return UcmmOpen::Failed;
    }
    const OpenOutcome classified = ClassifyOpen(outcome);
    if (outcome.result == RESULT_COMPLETED && IsErrorResponse(outcome) && outcome.length >= 2) {
      refusal = ErrorResult(outcome.data[0], outcome.data[1]);
    }
    switch (classified) {
      case OpenOutcome::Retry:
        continue;
      case OpenOutcome::Fallback:
        return UcmmOpen::NotOffered;
      case OpenOutcome::Opened:
        refusal = TXR_OK;
        connection = {attempt == 0 ? GROUP_3 : GROUP_1, macId,
                      NodeOf(g_NodeTable, macId).ConnInstance, true};
        return UcmmOpen::Opened;
    }
  }
  // No connection free in either group: a slave that also serves the Group
  // 2 Only port may still take the Allocate there.
  return UcmmOpen::NotOffered;
}

// An Allocate answered 0x0B allocated nothing new; where it was ours it has
// been released and allocated afresh by now, and a second 0x0B means the
// slave holds it for us. Anything else but success maps as usual, 0x0C to
// TXR_OWNED_ELSEWHERE.
uint32_t AllocateResult(const ExplOutcome& o) {
  if (o.result == RESULT_COMPLETED && IsErrorResponse(o) && o.length < 2) return TXR_FAILED;
  if (o.result == RESULT_COMPLETED && IsErrorResponse(o) && o.data[0] == GEC_STATE_CONFLICT) {
    return TXR_OWNED_ELSEWHERE;
  }
  return MapOutcome(o, true);
}

// The Allocate of the predefined set on the way SetGroup names, with 0x0B
// handled as TxConnect says.
uint32_t AllocateOurSet(uint8_t macId, uint8_t ownMacId, uint32_t timeoutMs) {
  if (!AllocateSet(macId, ownMacId, timeoutMs)) return TXR_FAILED;
  MarkUnansweredAllocate(macId, ownMacId, ALLOCATE_EXPLICIT_AND_POLL);
  if (AlreadyAllocated(outcome)) {
    // Allocated by our MAC ID. Left behind by this program, its connections
    // may be gone on the slave: release and allocate afresh. Otherwise a
    // scanner at our MAC ID may own it, and it is none of ours to release.
    if (!MayBeOurs(macId, ownMacId)) return NotOurs(outcome);
    const uint32_t released =
        ReleaseLeftBehind(macId, ownMacId, SetGroup(), ALLOCATE_EXPLICIT_AND_POLL, timeoutMs);
    if (released != TXR_OK) return released;
    if (!AllocateSet(macId, ownMacId, timeoutMs)) return TXR_FAILED;
    MarkUnansweredAllocate(macId, ownMacId, ALLOCATE_EXPLICIT_AND_POLL);
  }
  return AllocateResult(outcome);
}

// Expected packet rate 0 on the UCMM connection: no watchdog, so that the
// connection the set was allocated on is still there to release it.
uint32_t SwitchOffUcmmWatchdog(uint8_t macId, uint8_t ownMacId, uint32_t timeoutMs) {
  uint8_t buffer[RESPONSE_BUFFER_SIZE] = {0, 0};
  uint32_t length = 0;
  const ServiceRequest rate{ucmm.group,    SVC_SET_ATTRIBUTE_SINGLE,  CLASS_CONNECTION,
                            ucmm.instance, ATTR_EXPECTED_PACKET_RATE, 2,
                            timeoutMs};
  return TxService(macId, ownMacId, rate, buffer, length);
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
  if (ucmm.open) {
    // A slave has only a few UCMM connections: close the one a former
    // connect left open before opening another. Best effort: forgotten
    // whatever the answer.
    CloseOurUcmm(timeoutMs);
    ucmm.open = false;
  }
  UcmmConnOpen = 0;
  UcmmConnection opening{};
  uint32_t refusal = TXR_OK;
  const UcmmOpen open = OpenUcmm(macId, timeoutMs, opening, refusal);
  if (open == UcmmOpen::Failed) return TXR_FAILED;
  if (open == UcmmOpen::Opened) {
    ucmm = opening;
    UcmmConnOpen = 1;
  }

  uint32_t result = AllocateOurSet(macId, ownMacId, timeoutMs);
  if (result == TXR_OK) {
    heldSet = {true, static_cast<uint8_t>(macId & MAC_ID_MASK),
               static_cast<uint8_t>(ownMacId & MAC_ID_MASK)};
    ClearLeftBehind(macId, ALLOCATE_EXPLICIT_AND_POLL);
    if (!UcmmConnOpen) return TXR_OK;
    result = SwitchOffUcmmWatchdog(macId, ownMacId, timeoutMs);
    if (result == TXR_OK) return TXR_OK;
    // Not held after all: released on the connection it was allocated on.
    if (!ReleaseSet(macId, timeoutMs) || MapOutcome(outcome, true) != TXR_OK) {
      MarkLeftBehind(macId, ownMacId, ALLOCATE_EXPLICIT_AND_POLL);
    }
    heldSet.held = false;
  }
  CloseOurUcmm(timeoutMs);
  // The UCMM's refusal says more than the Group 2 Only port's silence.
  if (refusal != TXR_OK && (result == TXR_TIMEOUT || result == TXR_FAILED)) return refusal;
  return result;
}

void TakeOverSet(uint8_t macId, uint8_t ownMacId) {
  MarkLeftBehind(macId, ownMacId, ALLOCATE_EXPLICIT_AND_POLL);
}

uint32_t TxCloseUcmm(uint32_t timeoutMs) {
  if (!ucmm.open) return TXR_OK;
  DiscardWaitingFrames();
  const uint32_t closed = CloseOurUcmm(timeoutMs);
  ucmm.open = false;
  return closed;
}

void TxPause(uint32_t ms) {
  const uint32_t start = platform::TickMs();
  Wait([start, ms] { return platform::TickMs() - start >= ms; });
}

bool HoldsSet(uint8_t macId) {
  return heldSet.held && heldSet.macId == (macId & MAC_ID_MASK);
}

void ForgetAllConnections() {
  heldSet = HeldSet{false, 0, 0};
  std::memset(leftBehind, 0, sizeof leftBehind);
  ucmm.open = false;
  UcmmConnOpen = 0;
}

void ForgetHeldSet() {
  if (heldSet.held) MarkLeftBehind(heldSet.macId, heldSet.ownMacId, ALLOCATE_EXPLICIT_AND_POLL);
  heldSet.held = false;
}

uint32_t TxRelease(uint8_t macId, uint8_t /*ownMacId*/) {
  if (!HoldsSet(macId)) return TXR_OK;
  DiscardWaitingFrames();
  const bool queued = ReleaseSet(macId, REQUEST_TIMEOUT_MS);
  // Answered or not, the set is given up: a second Release could only
  // reach a set that another master allocated meanwhile.
  heldSet.held = false;
  const uint32_t released = queued ? MapOutcome(outcome, false) : TXR_FAILED;
  if (released == TXR_OK) {
    ClearLeftBehind(macId, ALLOCATE_EXPLICIT_AND_POLL);
  } else {
    MarkLeftBehind(macId, heldSet.ownMacId, ALLOCATE_EXPLICIT_AND_POLL);
  }
  if (!UcmmConnOpen) return released;
  // Released or not, the UCMM connection goes: the slave has only a few.
  // After an unanswered Release the slave may be gone: a short wait.
  const uint32_t closed =
      CloseOurUcmm(released == TXR_TIMEOUT ? CONNECT_TIMEOUT_MS : REQUEST_TIMEOUT_MS);
  return released != TXR_OK ? released : closed;
}

uint32_t TxOpenExplicit(uint8_t macId, uint8_t ownMacId, uint32_t timeoutMs, ExplicitLink& link) {
  DiscardWaitingFrames();
  UcmmConnection opening{};
  uint32_t refusal = TXR_OK;
  switch (OpenUcmm(macId, timeoutMs, opening, refusal)) {
    case UcmmOpen::Failed:
      return TXR_FAILED;
    case UcmmOpen::Opened:
      link = {static_cast<uint8_t>(macId & MAC_ID_MASK), opening.group, true, opening.instance,
              static_cast<uint8_t>(ownMacId & MAC_ID_MASK)};
      return TXR_OK;
    case UcmmOpen::NotOffered:
      break;
  }
  if (!AllocateChoice(macId, GROUP_2, ALLOCATE_EXPLICIT, ownMacId, timeoutMs)) return TXR_FAILED;
  MarkUnansweredAllocate(macId, ownMacId, ALLOCATE_EXPLICIT);
  if (AlreadyAllocated(outcome)) {
    // As in TxConnect: released only where it may be ours, and with the
    // rest of a set of ours it belongs to.
    if (!MayBeOurs(macId, ownMacId)) return NotOurs(outcome);
    const uint8_t ours =
        HoldsSet(macId) ? ALLOCATE_EXPLICIT_AND_POLL : leftBehind[macId & MAC_ID_MASK].choice;
    const uint32_t released = ReleaseLeftBehind(
        macId, ownMacId, GROUP_2, static_cast<uint8_t>(ours | ALLOCATE_EXPLICIT), timeoutMs);
    if (released != TXR_OK) return released;
    if (!AllocateChoice(macId, GROUP_2, ALLOCATE_EXPLICIT, ownMacId, timeoutMs)) {
      return TXR_FAILED;
    }
    MarkUnansweredAllocate(macId, ownMacId, ALLOCATE_EXPLICIT);
  }
  const uint32_t result = AllocateResult(outcome);
  if (result == TXR_OK) {
    link = {static_cast<uint8_t>(macId & MAC_ID_MASK), GROUP_2, false, 0,
            static_cast<uint8_t>(ownMacId & MAC_ID_MASK)};
  }
  if (refusal != TXR_OK && (result == TXR_TIMEOUT || result == TXR_FAILED)) return refusal;
  return result;
}

uint32_t TxCloseExplicit(const ExplicitLink& link, uint32_t timeoutMs) {
  DiscardWaitingFrames();
  const bool queued = link.viaUcmm
                          ? CloseUcmm(link.macId, link.instance, timeoutMs)
                          : ReleaseChoice(link.macId, GROUP_2, ALLOCATE_EXPLICIT, timeoutMs);
  const uint32_t result = queued ? MapOutcome(outcome, true) : TXR_FAILED;
  if (!link.viaUcmm && result == TXR_OK) {
    ClearLeftBehind(link.macId, ALLOCATE_EXPLICIT);
  } else if (!link.viaUcmm) {
    MarkLeftBehind(link.macId, link.ownMacId, ALLOCATE_EXPLICIT);
  }
  return result;
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
  // No body format carries more than 16 bits; the link layer refuses what
  // the granted one does not.
  if (request.classId > UINT16_MAX) return TXR_FAILED;
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

bool TxPathLimits(uint8_t macId, const ServiceRequest& request, uint32_t& classMax,
                  uint32_t& instanceMax) {
  uint16_t classLimit = 0;
  uint16_t instanceLimit = 0;
  if (!ExplPathLimits(g_NodeTable, macId, request.group, request.service, request.instance,
                      classLimit, instanceLimit)) {
    return false;
  }
  classMax = classLimit;
  instanceMax = instanceLimit;
  return true;
}

uint32_t TxPoll(uint8_t macId, app::IoBuffers& io) {
  DiscardWaitingFrames();
  const uint16_t outputLength = static_cast<uint16_t>(io.Output.Length);
  if (g_NodeTable.OwnMacLost) return TXR_IO_FAILED;
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
  // Request, physical port 0, vendor ID 0 (none registered), then the serial
  // number: two copies of the program checking one MAC ID at once must not
  // send identical frames, which would merge on the wire unseen.
  const uint32_t serial = static_cast<uint32_t>(app::g_App.CheckSerial);
  const uint8_t check[DUP_MAC_CHECK_LEN] = {0,
                                            0,
                                            0,
                                            static_cast<uint8_t>(serial),
                                            static_cast<uint8_t>(serial >> 8),
                                            static_cast<uint8_t>(serial >> 16),
                                            static_cast<uint8_t>(serial >> 24)};
  if (!DupMacRequest(macId, timeoutMs, g_NodeTable, check, sizeof check)) return TXR_IO_FAILED;
  // Silence counts only for a request that left the adapter.
  return ProbeResult(WaitIo(macId));
}

void TxListen(uint32_t ms) {
  DiscardWaitingFrames();
  const uint32_t start = platform::TickMs();
  Wait([start, ms] { return platform::TickMs() - start >= ms; });
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

uint32_t TxChecksHeard(uint8_t macId) {
  return NodeOf(g_NodeTable, macId).OwnChecksHeard;
}

bool TxAwaitCheck(uint8_t macId, uint32_t seen, uint32_t timeoutMs) {
  const uint32_t start = platform::TickMs();
  bool heard = false;
  Wait([&] {
    heard = TxChecksHeard(macId) != seen;
    return heard || platform::TickMs() - start >= timeoutMs;
  });
  return heard;
}

}  // namespace master
