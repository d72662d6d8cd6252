#include "monitor/monitor_hub.h"

#include "monitor/capture.h"
#include "monitor/decode.h"
#include "monitor/frame_ring.h"

namespace monitor {

namespace {

// Identifier layout: group 2 is 10xxxxxxxxx with the message ID in bits
// 2..0; group 3 is 11 with the message ID in bits 8..6 (111 is group 4).
constexpr uint32_t GROUP_MASK = 0x600;
constexpr uint32_t GROUP_2_BITS = 0x400;
constexpr uint32_t GROUP_3_BITS = 0x600;
constexpr uint32_t G2_MSG_SLAVE_EXPLICIT_RESPONSE = 3;
constexpr uint32_t G3_MSG_LAST_RESPONSE = 5;  // 0..4 UCMM connections, 5 unconnected response

constexpr uint8_t HEADER_FRAGMENTED = 0x80;
constexpr uint8_t FRAGMENT_TYPE_MASK = 0xC0;  // of the fragmentation byte; 0 = first
constexpr uint8_t SVC_ERROR_RESPONSE = 0x94;

// Bits of a standard data frame without stuff bits: start of frame,
// identifier, RTR, IDE, r0, DLC, CRC with its delimiter, ACK slot and
// delimiter, end of frame, and the interframe space.
constexpr uint64_t FRAME_BITS_NO_DATA = 47;
constexpr uint64_t BIT_TIME_US[] = {8, 4, 2};  // 125, 250, 500 kbit/s

bool ringWanted = false;
bool captureWanted = false;
MonitorCounts counts = {};
// What the tap learned of the connections while it was installed; what it
// did not see meanwhile is not known.
ConnectionFormats formats;

void InstallTapIfWanted() {
  const bool wanted = ringWanted || captureWanted;
  if (wanted && can::g_FrameTap != MonitorTap) ClearConnectionFormats(formats);
  can::SetFrameTap(wanted ? MonitorTap : nullptr);
}

bool CanCarryExplicitResponse(uint32_t id) {
  if ((id & GROUP_MASK) == GROUP_2_BITS) return (id & 0x7) == G2_MSG_SLAVE_EXPLICIT_RESPONSE;
  if ((id & GROUP_MASK) == GROUP_3_BITS) return ((id >> 6) & 0x7) <= G3_MSG_LAST_RESPONSE;
  return false;
}

// An explicit error response, told by its service byte: after the header
// byte, or after the fragmentation byte in the first fragment.
bool IsErrorResponse(const can::TappedFrame& frame) {
  if (!CanCarryExplicitResponse(frame.id & 0x7FF) || frame.len < 2) return false;
  if (!(frame.data[0] & HEADER_FRAGMENTED)) return frame.data[1] == SVC_ERROR_RESPONSE;
  return frame.len >= 3 && (frame.data[1] & FRAGMENT_TYPE_MASK) == 0 &&
         frame.data[2] == SVC_ERROR_RESPONSE;
}

}  // namespace

void MonitorWantRing(bool wanted) {
  ringWanted = wanted;
  InstallTapIfWanted();
}

void MonitorWantCapture(bool wanted) {
  captureWanted = wanted;
  InstallTapIfWanted();
}

bool MonitorTapInstalled() {
  return can::g_FrameTap == MonitorTap;
}

const MonitorCounts& TheMonitorCounts() {
  return counts;
}

void MonitorResetCounts() {
  counts = MonitorCounts{};
}

void MonitorTap(const can::TappedFrame& frame) {
  if (!frame.status) {
    ++counts.frames;
    if (IsErrorResponse(frame)) ++counts.errorResponses;
  }
  if (ringWanted) RingPush(frame, ConnectionFormatOf(frame, formats));
  LearnConnectionFormat(frame, formats);
  if (captureWanted) CaptureFrame(frame);
}

BusLoad MeasureBusLoad(uint64_t nowUs, uint64_t windowUs) {
  BusLoad load{0, 0};
  if (windowUs == 0) return load;
  uint64_t frames = 0;
  uint64_t busyUs = 0;
  can::TappedFrame frame;
  for (uint64_t n = RingEnd(); n > RingFirst();) {
    if (!RingGet(--n, frame)) break;
    if (frame.timeUs > nowUs) continue;  // newer than the window asked for
    if (nowUs - frame.timeUs >= windowUs) break;
    if (frame.status) continue;
    const uint8_t len = frame.len <= 8 ? frame.len : 8;
    const uint8_t rate = frame.baudIndex < 3 ? frame.baudIndex : 0;
    ++frames;
    busyUs += (FRAME_BITS_NO_DATA + 8u * len) * BIT_TIME_US[rate];
  }
  load.framesPerSecond = static_cast<uint32_t>((frames * 1000000 + windowUs / 2) / windowUs);
  // Frames read in a burst from the adapter's queue can crowd a short window.
  const uint64_t percent = (busyUs * 100 + windowUs / 2) / windowUs;
  load.loadPercent = static_cast<uint32_t>(percent < 100 ? percent : 100);
  return load;
}

}  // namespace monitor
