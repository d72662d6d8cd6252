// Writing every frame the tap sees to a file: pcap (LINKTYPE_CAN_SOCKETCAN,
// microsecond times, the CAN identifier in network byte order) or a
// `candump -l` log ("(1700000000.123456) can0 41E#8B0E0101"). Status
// messages of the driver are not bus frames and are left out.
//
// The frame path never meets the disk: CaptureFrame only appends the record
// to a buffer in memory, and the caller hands that to the file in bounded
// slices with CaptureWriteSome when no exchange runs. A file that cannot be
// written ends on its last whole record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "can/frame_tap.h"

namespace monitor {

enum class CaptureFormat { Pcap, CandumpLog };

// Records the memory holds before the file takes them: at a full bus
// (about 4000 frames a second) some eight seconds of pcap.
constexpr size_t CAPTURE_BUFFER_SIZE = 1024 * 1024;

// Opens (creates or truncates) the UTF-8 `path` and queues the file
// header; a capture already running is stopped first. The tap clock and
// the wall clock are read together now: a frame's time is the wall time of
// the start plus its tap time since then. False when the file cannot be
// opened; nothing runs then.
bool CaptureStart(const char* path, CaptureFormat format);
// The same with the two clocks given: `startWallUs` microseconds since
// 1970-01-01 UTC at the tap time `startTapUs`.
bool CaptureStartAt(const char* path, CaptureFormat format, uint64_t startWallUs,
                    uint64_t startTapUs);
// Writes what is buffered and closes. False when a write or the close
// failed (after a failed write the file ends on its last whole record);
// true when none runs. Frames lost to a full buffer are not a failure
// here: CaptureLostFrames counts them.
bool CaptureStop();
bool CaptureRunning();
// Frames taken since CaptureStart: those in the file and those buffered.
// After a write error, the frames of the whole records the file holds.
uint64_t CaptureFrames();
// Frames left out because the buffer was full: the disk was slower than
// the bus for longer than the buffer lasts.
uint64_t CaptureLostFrames();
// True from a write error until the next CaptureStart.
bool CaptureFailed();

// Takes one frame when a capture runs (called by the monitor's tap): its
// record goes into the buffer, never to the disk.
void CaptureFrame(const can::TappedFrame& frame);
// Writes up to `maxBytes` of buffered whole records to the file. False when
// the write failed: the file is then cut back to its last whole record and
// closed, and the capture has ended (CaptureFailed).
bool CaptureWriteSome(size_t maxBytes);
// Bytes waiting in the buffer.
size_t CapturePendingBytes();

// The file writer, replaceable by tests (null: std::fwrite). Returns the
// bytes written, fewer on an error.
using CaptureWriteFn = size_t (*)(const void* data, size_t size, std::FILE* file);
void SetCaptureWriter(CaptureWriteFn writer);

}  // namespace monitor
