// Any frame the tap could hand the bus monitor, status messages and lengths
// above 8 included, decoded and put into words in buffers of many sizes:
// nothing is read or written outside the frame and the buffers, every text
// is terminated within its buffer, a shorter buffer gets the start of the
// same text, and the decoded fields stay within their ranges. The words
// come from the English table or from one whose every text is the input's,
// so that odd formats ("%s" beyond the arguments, "%%", long texts) meet
// every buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "monitor/decode.h"
#include "persist/native_seams.h"

namespace {

constexpr size_t HEADER = 4;       // flags, identifier (2 bytes), length
constexpr size_t FRAME_BYTES = 8;  // the data bytes that follow
constexpr size_t FORMAT_SIZE = 600;
constexpr unsigned FIRST_ID = 1000;  // every string id the texts could use
constexpr unsigned ID_COUNT = 500;

char inputFormat[FORMAT_SIZE];
persist::ResString inputTable[ID_COUNT];

void Check(bool ok) {
  if (!ok) std::abort();
}

void UseInputFormat(const uint8_t* text, size_t size) {
  if (size >= FORMAT_SIZE) size = FORMAT_SIZE - 1;
  std::memcpy(inputFormat, text, size);
  inputFormat[size] = '\0';
  for (unsigned i = 0; i < ID_COUNT; ++i) inputTable[i] = {FIRST_ID + i, inputFormat};
  persist::UseStringTable(inputTable, ID_COUNT);
}

void CheckFields(const monitor::DecodedFrame& d) {
  Check(d.group <= 4);
  Check(d.macId <= 63 || d.macId == 0xFF);
  Check(d.headerMacId <= 63 || d.headerMacId == 0xFF);
  Check(static_cast<uint8_t>(d.kind) <= static_cast<uint8_t>(monitor::FrameKind::OtherIo));
  Check(d.fragmentType <= 3 && d.fragmentCount <= 63);
  Check(d.fragmented || (d.fragmentType == 0 && d.fragmentCount == 0));
  Check(d.physicalPort <= 0x7F);
  Check(d.bodyFormat <= 0x0F || d.bodyFormat == 0xFF);
  Check(d.groupSelect <= 0x0F || d.groupSelect == 0xFF);
  Check(d.hasPath || (d.classId == 0 && d.attribute == 0));
}

// Describes into an area of exactly `size` bytes on the heap, so that a
// write past it is caught; returns the length.
size_t Describe(const monitor::DecodedFrame& d, size_t size, char* copy) {
  std::unique_ptr<char[]> area(new char[size + 1]);
  area[size] = '#';  // one byte past the area must stay as it is
  const size_t length = monitor::DescribeFrame(d, area.get(), size);
  Check(area[size] == '#');
  if (size == 0) {
    Check(length == 0);
    return 0;
  }
  Check(length < size && std::strlen(area.get()) == length);
  if (copy) std::memcpy(copy, area.get(), length + 1);
  return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < HEADER) return 0;
  const uint8_t flags = data[0];
  can::TappedFrame frame{};
  frame.id = static_cast<uint32_t>(data[1] | data[2] << 8);  // bits above 10 as well
  frame.len = data[3];
  frame.status = flags & 1;
  frame.direction = (flags >> 1) & 1;
  const size_t dataBytes = size - HEADER < FRAME_BYTES ? size - HEADER : FRAME_BYTES;
  std::memcpy(frame.data, data + HEADER, dataBytes);
  const uint8_t* rest = data + HEADER + dataBytes;
  const size_t restSize = size - HEADER - dataBytes;

  monitor::DecodedFrame d;
  if (flags & 4) {
    monitor::DecodeFragmentedIoFrame(frame, d);
  } else {
    monitor::DecodeFrame(frame, d);
  }
  CheckFields(d);
  monitor::DecodedFrame again;
  monitor::DecodeFrame(frame, again);
  if (!(flags & 4)) Check(std::memcmp(&d, &again, sizeof d) == 0);

  if (flags & 8) {
    UseInputFormat(rest, restSize);
  } else {
    persist::UseEnglishStrings();
  }
  char full[2000];
  const size_t fullLength = Describe(d, sizeof full, full);
  const size_t sizes[] = {0, 1, 2, 1 + static_cast<size_t>(flags >> 4), fullLength, fullLength + 1};
  for (size_t s : sizes) {
    char part[sizeof full];
    const size_t length = Describe(d, s, part);
    if (s == 0) continue;
    // The start of the same text.
    Check(length == (fullLength < s - 1 ? fullLength : s - 1));
    Check(std::memcmp(part, full, length) == 0);
  }
  return 0;
}
