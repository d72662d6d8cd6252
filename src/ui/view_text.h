// Texts of the main window that need no window: the lines of the output and
// input lists, and the parsing of the hex edit field and the address field.
// Portable, so the rules are tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ui {

// Size of a buffer that holds any list line with room to spare.
constexpr size_t LIST_LINE_SIZE = 64;

// Highest MAC ID the address field takes.
constexpr uint32_t MAX_MAC_ID = 63;

// Writes the `digits` lowest bits of `value`, most significant first, as
// '0'/'1' followed by a terminating zero; `text` holds digits + 1 chars.
void ByteToBinary(uint32_t value, int digits, char* text);

// The character shown for a byte in the lists: the byte itself when it is
// printable 7-bit ASCII, else '.'.
char ListChar(uint8_t value);

// One list line: index, tab, hex value with 'h', tab, eight binary digits,
// tab, character column. Always terminated; returns the length written.
size_t FormatListLine(uint32_t index, uint8_t value, char* out, size_t size);

// Reads the hex edit field: one hexadecimal number from 0 to FF, with an
// optional 0x prefix or a final 'h' (as the lists show a byte), blanks
// around it allowed and nothing else. False for anything else, so that no
// byte is taken that the user did not type.
bool ParseHexByte(const char* text, uint8_t& value);

// Reads the address field: an unsigned decimal number, blanks allowed
// around it and nothing else, not above MAX_MAC_ID. False otherwise.
bool ParseAddressField(const char* text, int& address);

}  // namespace ui
