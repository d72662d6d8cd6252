// Writing every frame the tap sees to a file: pcap (LINKTYPE_CAN_SOCKETCAN,
// microsecond times, the CAN identifier in network byte order) or a
// `candump -l` log ("(1700000000.123456) can0 41E#8B0E0101"). Status
// messages of the driver are not bus frames and are left out.
#pragma once

#include <cstdint>

#include "can/frame_tap.h"

namespace monitor {

enum class CaptureFormat { Pcap, CandumpLog };

// Opens (creates or truncates) the UTF-8 `path` and writes the file header;
// a capture already running is stopped first. The first frame is stamped
// with the wall-clock time of the start, the others after it by their tap
// times. False when the file cannot be opened; nothing runs then.
bool CaptureStart(const char* path, CaptureFormat format);
// The same with the start's wall-clock time given, in microseconds since
// 1970-01-01 UTC (CaptureStart takes the whole second now).
bool CaptureStartAt(const char* path, CaptureFormat format, uint64_t startWallUs);
// Flushes and closes; nothing when none runs.
void CaptureStop();
bool CaptureRunning();
// Frames written since CaptureStart.
uint64_t CaptureFrames();
// Writes one frame when a capture runs (called by the monitor's tap). A
// write error closes the file and ends the capture.
void CaptureFrame(const can::TappedFrame& frame);

}  // namespace monitor
