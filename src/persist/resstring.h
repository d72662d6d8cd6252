// The string seam: texts of the language resource library by id. On
// Windows LoadStringA from app::g_App.hResDll; in the native build the
// English table of tarnres.rc, compiled in (see native_seams.h).
#pragma once

namespace persist {

// Copies the string `id` into `buffer` of `size` bytes, cut at size - 1
// characters and always terminated. Returns its length; 0 when the string
// cannot be loaded (buffer then holds an empty string).
int LoadResString(unsigned id, char* buffer, int size);

}  // namespace persist
