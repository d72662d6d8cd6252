// Windows only: UTF-8 paths to and from the wide-character API.
#pragma once

#include <cstddef>

namespace platform {

// UTF-16 units a converted path may take, its terminator included.
constexpr size_t WIDE_PATH_SIZE = 260;

// `text` as UTF-16 into `out` (`outSize` units). False, with `out` empty,
// when it is no valid UTF-8 or does not fit.
bool Utf8ToWide(const char* text, wchar_t* out, size_t outSize);

// `text` as UTF-8 into `out` (`outSize` bytes). False, with `out` empty,
// when it does not fit.
bool WideToUtf8(const wchar_t* text, char* out, size_t outSize);

}  // namespace platform
