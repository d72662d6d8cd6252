#include "monitor/capture.h"

#include <cstddef>
#include <cstdio>
#include <ctime>

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

constexpr uint64_t US_PER_SECOND = 1000000;

// A full 500 kbit/s bus is about 4000 frames a second, 128 KiB of pcap: with
// this buffer the exchange meets the file system a few times a second.
constexpr size_t FILE_BUFFER_SIZE = 64 * 1024;
char fileBuffer[FILE_BUFFER_SIZE];

std::FILE* file = nullptr;
CaptureFormat fileFormat = CaptureFormat::Pcap;
uint64_t framesWritten = 0;
uint64_t captureStartUs = 0;  // wall-clock time of the first frame
bool sawFirstFrame = false;
uint64_t firstTimeUs = 0;

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

void CloseFile() {
  std::fclose(file);
  file = nullptr;
}

// A failed write closes the file: a full disk must not cost every frame a
// failing call inside the exchange.
bool Write(const void* data, size_t size) {
  if (std::fwrite(data, 1, size, file) == size) return true;
  CloseFile();
  return false;
}

bool WritePcapHeader() {
  uint8_t header[PCAP_FILE_HEADER_SIZE] = {};
  PutLe32(header, PCAP_MAGIC);
  PutLe16(header + 4, PCAP_VERSION_MAJOR);
  PutLe16(header + 6, PCAP_VERSION_MINOR);
  // Bytes 8..15: time zone offset and accuracy, both 0.
  PutLe32(header + 16, SOCKETCAN_FRAME_SIZE);
  PutLe32(header + 20, LINKTYPE_CAN_SOCKETCAN);
  return Write(header, sizeof header);
}

void WritePcapFrame(const can::TappedFrame& frame, uint64_t wallUs) {
  uint8_t record[PCAP_RECORD_HEADER_SIZE + SOCKETCAN_FRAME_SIZE] = {};
  PutLe32(record, static_cast<uint32_t>(wallUs / US_PER_SECOND));
  PutLe32(record + 4, static_cast<uint32_t>(wallUs % US_PER_SECOND));
  PutLe32(record + 8, SOCKETCAN_FRAME_SIZE);
  PutLe32(record + 12, SOCKETCAN_FRAME_SIZE);
  uint8_t* canFrame = record + PCAP_RECORD_HEADER_SIZE;
  PutBe32(canFrame, frame.id & 0x7FF);  // a standard data frame: no flag bits
  const uint8_t len = DataLength(frame);
  canFrame[4] = len;
  for (uint8_t i = 0; i < len; ++i) canFrame[8 + i] = frame.data[i];
  Write(record, sizeof record);
}

void WriteCandumpLine(const can::TappedFrame& frame, uint64_t wallUs) {
  static const char HEX[] = "0123456789ABCDEF";
  const uint8_t len = DataLength(frame);
  char data[2 * 8 + 1];
  for (uint8_t i = 0; i < len; ++i) {
    data[2 * i] = HEX[frame.data[i] >> 4];
    data[2 * i + 1] = HEX[frame.data[i] & 0x0F];
  }
  data[2 * len] = '\0';
  char line[64];
  const int length = std::snprintf(line, sizeof line, "(%lu.%06lu) can0 %03X#%s\n",
                                   static_cast<unsigned long>(wallUs / US_PER_SECOND),
                                   static_cast<unsigned long>(wallUs % US_PER_SECOND),
                                   static_cast<unsigned>(frame.id & 0x7FF), data);
  if (length > 0) Write(line, static_cast<size_t>(length));
}

}  // namespace

bool CaptureStart(const char* path, CaptureFormat format) {
  const std::time_t now = std::time(nullptr);
  return CaptureStartAt(path, format, now > 0 ? static_cast<uint64_t>(now) * US_PER_SECOND : 0);
}

bool CaptureStartAt(const char* path, CaptureFormat format, uint64_t startWallUs) {
  CaptureStop();
  framesWritten = 0;
  file = platform::OpenFile(path, "wb");
  if (!file) return false;
  std::setvbuf(file, fileBuffer, _IOFBF, sizeof fileBuffer);
  fileFormat = format;
  captureStartUs = startWallUs;
  sawFirstFrame = false;
  if (format == CaptureFormat::Pcap) return WritePcapHeader();
  return true;
}

void CaptureStop() {
  if (!file) return;
  std::fflush(file);
  CloseFile();
}

bool CaptureRunning() {
  return file != nullptr;
}

uint64_t CaptureFrames() {
  return framesWritten;
}

void CaptureFrame(const can::TappedFrame& frame) {
  if (!file || frame.status) return;
  if (!sawFirstFrame) {
    sawFirstFrame = true;
    firstTimeUs = frame.timeUs;
  }
  // Times come from one clock that never runs backwards; a frame stamped
  // before the first would be a caller's mistake, written at the start.
  const uint64_t wallUs =
      captureStartUs + (frame.timeUs > firstTimeUs ? frame.timeUs - firstTimeUs : 0);
  if (fileFormat == CaptureFormat::Pcap) {
    WritePcapFrame(frame, wallUs);
  } else {
    WriteCandumpLine(frame, wallUs);
  }
  if (file) ++framesWritten;
}

}  // namespace monitor
