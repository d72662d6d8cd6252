// Message reporting: every message box of the program goes through ShowMsg
// or ShowMsgFmt, which copy the message into the input log (when it is
// open) before showing it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace persist {

// Caption and message when the resource library has no such string.
constexpr const char* FALLBACK_CAPTION = "Quillon";
constexpr const char* FALLBACK_MESSAGE = "Unable to load resource";

// Shows `text` with an OK button and no icon; or, when `text` is null, the
// string `id` of the resource library with an OK button and the exclamation
// icon. `owner` may be null. Returns 1.
int ShowMsg(void* owner, const char* text, unsigned id);

// Loads string `id` as a format, puts the arguments (null for absent ones)
// in place of its "%s" in order, and shows it with `style` (BOX_* of
// msgbox.h). A message that would be too long is shown as the bare format.
// Returns the button pressed (BOX_ID*).
int ShowMsgFmt(void* owner, unsigned style, unsigned id, const char* arg1, const char* arg2,
               const char* arg3);

// Shows string `id` and, after a blank line, `detail` (already in words;
// null or empty adds nothing), with `style`. Returns the button pressed.
int ShowMsgDetail(void* owner, unsigned style, unsigned id, const char* detail);

// A DeviceNet error code in words, as every message and the bus monitor
// give it: "0C hex (object state conflict), additional code 01"; the bare
// code when the texts do not load.
void ErrorCodeText(uint8_t general, uint8_t additional, char* text, size_t size);

// Loads string `id` and puts the arguments in place of its "%s" as
// ShowMsgFmt does, into `out` (of `outSize` bytes, always terminated).
// Returns the length written; 0 when the string cannot be loaded.
size_t FormatResString(unsigned id, const char* arg1, const char* arg2, const char* arg3, char* out,
                       size_t outSize);

// Copies `format` into `out` (of `outSize` bytes, always terminated), with
// "%%" as "%" and the n-th "%s" replaced by args[n]. A "%s" without an
// argument (n >= count, or a null one) and every other "%" sequence are
// copied as they stand, so a format from a resource library can never read
// more than it is given. Returns the length written.
size_t SubstituteArgs(const char* format, const char* const* args, size_t count, char* out,
                      size_t outSize);

}  // namespace persist
