#include "monitor/capture.h"

#include <chrono>
#include <cstring>

#include "platform/platform.h"

namespace monitor {

namespace {

// pcap file format, microsecond resolution.
constexpr uint32_t PCAP_MAGIC = 0xA1B2C3D4;
constexpr uint16_t PCAP_VERSION_MAJOR = 2;
constexpr uint16_t PCAP_VERSION_MINOR = 4;
constexpr uint32_t LINKTYPE_CAN_SOCKETCAN = 227;
constexpr size_t PCAP_FILE_HEADER_SIZE = 24;
constexpr size_t PCAP_RECORD_HEADER_SIZE = 16;
// struct can_frame: can_id (network byte order here), len, 3 bytes of
// padding and flags, 8 data bytes. Also the snapshot length: every record
// is whole.
constexpr uint32_t SOCKETCAN_FRAME_SIZE = 16;
constexpr size_t PCAP_RECORD_SIZE = PCAP_RECORD_HEADER_SIZE + SOCKETCAN_FRAME_SIZE;
// "(1700000000.123456) can0 41E#0011223344556677\n" and room to spare.
constexpr size_t CANDUMP_LINE_SIZE = 64;

constexpr uint64_t US_PER_SECOND = 1000000;

std::FILE* file = nullptr;
CaptureFormat fileFormat = CaptureFormat::Pcap;
CaptureWriteFn writer = nullptr;

// Records not yet in the file: [pendingStart, pendingEnd) of `pending`.
char pending[CAPTURE_BUFFER_SIZE];
size_t pendingStart = 0;
size_t pendingEnd = 0;

uint64_t fileBytes = 0;  // bytes in the file, always ending on a whole record
uint64_t framesInFile = 0;
uint64_t framesTaken = 0;
uint64_t framesLost = 0;
bool failed = false;

// The two clocks read together at the start.
uint64_t startWallUs = 0;
uint64_t startTapUs = 0;

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}

uint8_t DataLength(const can::TappedFrame& frame) {
  return frame.len <= 8 ? frame.len : 8;
}

size_t Fwrite(const void* data, size_t size, std::FILE* to) {
  return std::fwrite(data, 1, size, to);
}

// Appends one record; false when the buffer has no room for it.
bool Queue(const void* record, size_t size) {
  if (pendingEnd + size > CAPTURE_BUFFER_SIZE && pendingStart > 0) {
    std::memmove(pending, pending + pendingStart, pendingEnd - pendingStart);
    pendingEnd -= pendingStart;
    pendingStart = 0;
  }
  if (pendingEnd + size > CAPTURE_BUFFER_SIZE) return false;
  std::memcpy(pending + pendingEnd, record, size);
  pendingEnd += size;
  return true;
}

void QueuePcapHeader() {
  uint8_t header[PCAP_FILE_HEADER_SIZE] = {};
  PutLe32(header, PCAP_MAGIC);
  PutLe16(header + 4, PCAP_VERSION_MAJOR);
  PutLe16(header + 6, PCAP_VERSION_MINOR);
  // Bytes 8..15: time zone offset and accuracy, both 0.
  PutLe32(header + 16, SOCKETCAN_FRAME_SIZE);
  PutLe32(header + 20, LINKTYPE_CAN_SOCKETCAN);
  Queue(header, sizeof header);
}

bool QueuePcapFrame(const can::TappedFrame& frame, uint64_t wallUs) {
  uint8_t record[PCAP_RECORD_SIZE] = {};
  PutLe32(record, static_cast<uint32_t>(wallUs / US_PER_SECOND));
  PutLe32(record + 4, static_cast<uint32_t>(wallUs % US_PER_SECOND));
  PutLe32(record + 8, SOCKETCAN_FRAME_SIZE);
  PutLe32(record + 12, SOCKETCAN_FRAME_SIZE);
  uint8_t* canFrame = record + PCAP_RECORD_HEADER_SIZE;
  PutBe32(canFrame, frame.id & 0x7FF);  // a standard data frame: no flag bits
  const uint8_t len = DataLength(frame);
  canFrame[4] = len;
  for (uint8_t i = 0; i < len; ++i) canFrame[8 + i] = frame.data[i];
  return Queue(record, sizeof record);
}

bool QueueCandumpLine(const can::TappedFrame& frame, uint64_t wallUs) {
  static const char HEX[] = "0123456789ABCDEF";
  const uint8_t len = DataLength(frame);
  char data[2 * 8 + 1];
  for (uint8_t i = 0; i < len; ++i) {
    data[2 * i] = HEX[frame.data[i] >> 4];
    data[2 * i + 1] = HEX[frame.data[i] & 0x0F];
  }
  data[2 * len] = '\0';
  char line[CANDUMP_LINE_SIZE];
  const int length = std::snprintf(line, sizeof line, "(%llu.%06lu) can0 %03X#%s\n",
                                   static_cast<unsigned long long>(wallUs / US_PER_SECOND),
                                   static_cast<unsigned long>(wallUs % US_PER_SECOND),
                                   static_cast<unsigned>(frame.id & 0x7FF), data);
  return length > 0 && Queue(line, static_cast<size_t>(length));
}

// Of the `size` bytes at `data`, to be written at file offset `offset`
// (itself the end of a whole record), how many make whole records.
size_t WholeRecords(const char* data, size_t size, uint64_t offset) {
  if (fileFormat == CaptureFormat::Pcap) {
    const uint64_t end = offset + size;
    if (end < PCAP_FILE_HEADER_SIZE) return 0;
    const uint64_t whole =
        PCAP_FILE_HEADER_SIZE + (end - PCAP_FILE_HEADER_SIZE) / PCAP_RECORD_SIZE * PCAP_RECORD_SIZE;
    return static_cast<size_t>(whole - offset);
  }
  for (size_t n = size; n > 0; --n) {
    if (data[n - 1] == '\n') return n;
  }
  return 0;
}

// Frames in `size` whole-record bytes written at file offset `offset`.
uint64_t FramesIn(const char* data, size_t size, uint64_t offset) {
  if (fileFormat == CaptureFormat::Pcap) {
    const uint64_t header = offset < PCAP_FILE_HEADER_SIZE ? PCAP_FILE_HEADER_SIZE - offset : 0;
    return size > header ? (size - header) / PCAP_RECORD_SIZE : 0;
  }
  uint64_t lines = 0;
  for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
  return lines;
}

void Commit(size_t size) {
  framesInFile += FramesIn(pending + pendingStart, size, fileBytes);
  fileBytes += size;
  pendingStart += size;
  if (pendingStart == pendingEnd) pendingStart = pendingEnd = 0;
}

}  // namespace

bool CaptureStart(const char* path, CaptureFormat format) {
  // Read back to back, so that the idle time before the first frame counts.
  const uint64_t tapUs = can::TapClockUs();
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  const long long wallUs =
      std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count();
  return CaptureStartAt(path, format, wallUs > 0 ? static_cast<uint64_t>(wallUs) : 0, tapUs);
}

bool CaptureStartAt(const char* path, CaptureFormat format, uint64_t wallUs, uint64_t tapUs) {
  CaptureStop();
  framesInFile = 0;
  framesTaken = 0;
  framesLost = 0;
  fileBytes = 0;
  pendingStart = pendingEnd = 0;
  failed = false;
  file = platform::OpenFile(path, "wb");
  if (!file) return false;
  // Each slice goes to the file in one call whose count is exact, so that a
  // failed one can be cut back to its last whole record.
  std::setvbuf(file, nullptr, _IONBF, 0);
  fileFormat = format;
  startWallUs = wallUs;
  startTapUs = tapUs;
  if (format == CaptureFormat::Pcap) QueuePcapHeader();
  return true;
}

bool CaptureStop() {
  if (!file) return true;
  const bool written = CaptureWriteSome(CAPTURE_BUFFER_SIZE);
  if (!file) return false;  // the write failed and closed it
  const bool closed = std::fclose(file) == 0;
  file = nullptr;
  if (!closed) failed = true;
  return written && closed;
}

bool CaptureRunning() {
  return file != nullptr;
}

uint64_t CaptureFrames() {
  return framesTaken;
}

uint64_t CaptureLostFrames() {
  return framesLost;
}

bool CaptureFailed() {
  return failed;
}

size_t CapturePendingBytes() {
  return pendingEnd - pendingStart;
}

void SetCaptureWriter(CaptureWriteFn fn) {
  writer = fn;
}

void CaptureFrame(const can::TappedFrame& frame) {
  if (!file || frame.status) return;
  // Times come from one clock that never runs backwards; a frame stamped
  // before the start would be a caller's mistake, written at the start.
  const uint64_t wallUs = startWallUs + (frame.timeUs > startTapUs ? frame.timeUs - startTapUs : 0);
  const bool queued = fileFormat == CaptureFormat::Pcap ? QueuePcapFrame(frame, wallUs)
                                                        : QueueCandumpLine(frame, wallUs);
  if (queued) {
    ++framesTaken;
  } else {
    ++framesLost;
  }
}

bool CaptureWriteSome(size_t maxBytes) {
  if (!file) return true;
  const size_t waiting = pendingEnd - pendingStart;
  const char* data = pending + pendingStart;
  const size_t slice = WholeRecords(data, waiting < maxBytes ? waiting : maxBytes, fileBytes);
  if (slice == 0) return true;
  const size_t written = (writer ? writer : Fwrite)(data, slice, file);
  if (written >= slice) {
    Commit(slice);
    return true;
  }
  // Keep the whole records that made it and cut off the piece of the next.
  Commit(WholeRecords(data, written, fileBytes));
  platform::TruncateFile(file, fileBytes);
  std::fclose(file);
  file = nullptr;
  failed = true;
  framesTaken = framesInFile;
  pendingStart = pendingEnd = 0;
  return false;
}

}  // namespace monitor
