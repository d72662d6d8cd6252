// The maker line and the notice line of the main window and the About box.
// The program file holds them only in scrambled form, so that a patched
// binary does not show a different maker by a simple text edit; they are
// unscrambled each time a window shows them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ui {

// Key byte of position i: a running sum, so equal letters scramble apart;
// never 0, so no character is stored as it is.
constexpr uint8_t ScrambleKey(size_t i) {
  return static_cast<uint8_t>((0xA7u + 0x3Du * i + (i >> 2)) % 255u + 1u);
}

template <size_t N>
struct ScrambledText {
  uint8_t bytes[N - 1];
  static constexpr size_t length = N - 1;
};

// Scrambles a literal at compile time; only the result reaches the binary.
template <size_t N>
constexpr ScrambledText<N> Scramble(const char (&text)[N]) {
  ScrambledText<N> out{};
  for (size_t i = 0; i + 1 < N; ++i) {
    out.bytes[i] = static_cast<uint8_t>(static_cast<uint8_t>(text[i]) ^ ScrambleKey(i));
  }
  return out;
}

// Writes the plain text of `length` scrambled bytes into `out` of `size`
// bytes, cut to size - 1 and always terminated. Returns the length written.
size_t Unscramble(const uint8_t* bytes, size_t length, char* out, size_t size);

// Size of a buffer that holds either line.
constexpr size_t MAKER_TEXT_SIZE = 64;

// The two lines, unscrambled into `out`.
size_t MakerLine(char* out, size_t size);
size_t NoticeLine(char* out, size_t size);

// The scrambled forms as stored, for checks that the plain text is absent.
const uint8_t* StoredMakerLine(size_t& length);
const uint8_t* StoredNoticeLine(size_t& length);

}  // namespace ui
