#include "persist/messages.h"

#include <cstdio>
#include <cstring>

#include "persist/inputlog.h"
#include "persist/msgbox.h"
#include "persist/resstring.h"
#include "resource.h"

namespace persist {

namespace {

// Buffer sizes: ShowMsg keeps captions to 99 and messages to 399
// characters; ShowMsgFmt allows 999 for caption, format and message.
constexpr int MSG_CAPTION_SIZE = 100;
constexpr int MSG_TEXT_SIZE = 400;
constexpr int FMT_BUFFER_SIZE = 1000;
// Format and arguments must add up to less than this to be substituted.
constexpr size_t FMT_LENGTH_LIMIT = 998;
constexpr size_t FMT_ARG_COUNT = 3;

void CopyText(char* buffer, size_t size, const char* text) {
  std::strncpy(buffer, text, size - 1);
  buffer[size - 1] = '\0';
}

void LoadOrDefault(unsigned id, char* buffer, int size, const char* fallback) {
  if (LoadResString(id, buffer, size) == 0) CopyText(buffer, static_cast<size_t>(size), fallback);
}

}  // namespace

size_t SubstituteArgs(const char* format, const char* const* args, size_t count, char* out,
                      size_t outSize) {
  if (outSize == 0) return 0;
  size_t used = 0;
  size_t next = 0;
  auto put = [&](char c) {
    if (used + 1 < outSize) out[used++] = c;
  };
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      put('%');
      ++p;
    } else if (p[0] == '%' && p[1] == 's' && next < count) {
      // Each "%s" takes the argument of its position; a null one leaves it as it is.
      const char* arg = args[next++];
      if (arg) {
        for (const char* a = arg; *a; ++a) put(*a);
      } else {
        put('%');
        put('s');
      }
      ++p;
    } else {
      put(*p);
    }
  }
  out[used] = '\0';
  return used;
}

int ShowMsg(void* owner, const char* text, unsigned id) {
  char caption[MSG_CAPTION_SIZE];
  LoadOrDefault(IDS_CAPTION, caption, MSG_CAPTION_SIZE, FALLBACK_CAPTION);

  char loaded[MSG_TEXT_SIZE];
  const char* message = text;
  unsigned style = BOX_OK;
  if (!message) {
    LoadOrDefault(id, loaded, MSG_TEXT_SIZE, FALLBACK_MESSAGE);
    message = loaded;
    style = BOX_OK | BOX_ICONEXCLAMATION;
  }
  WriteLog(LOG_ERROR, nullptr, message);
  ShowMessageBox(owner, message, caption, style);
  return 1;
}

int ShowMsgFmt(void* owner, unsigned style, unsigned id, const char* arg1, const char* arg2,
               const char* arg3) {
  char caption[FMT_BUFFER_SIZE];
  LoadOrDefault(IDS_CAPTION, caption, FMT_BUFFER_SIZE, FALLBACK_CAPTION);
  char format[FMT_BUFFER_SIZE];
  LoadOrDefault(id, format, FMT_BUFFER_SIZE, FALLBACK_MESSAGE);

  const char* args[FMT_ARG_COUNT] = {arg1, arg2, arg3};
  size_t total = std::strlen(format);
  for (const char* arg : args) {
    if (arg) total += std::strlen(arg);
  }
  char message[FMT_BUFFER_SIZE];
  if (total < FMT_LENGTH_LIMIT) {
    SubstituteArgs(format, args, FMT_ARG_COUNT, message, sizeof message);
  } else {
    CopyText(message, sizeof message, format);
  }
  WriteLog(LOG_ERROR, nullptr, message);
  return ShowMessageBox(owner, message, caption, style);
}

int ShowMsgDetail(void* owner, unsigned style, unsigned id, const char* detail) {
  char caption[MSG_CAPTION_SIZE];
  LoadOrDefault(IDS_CAPTION, caption, MSG_CAPTION_SIZE, FALLBACK_CAPTION);
  char message[FMT_BUFFER_SIZE];
  LoadOrDefault(id, message, FMT_BUFFER_SIZE, FALLBACK_MESSAGE);
  if (detail && *detail) {
    const size_t used = std::strlen(message);
    std::snprintf(message + used, sizeof message - used, "\n\n%s", detail);
  }
  WriteLog(LOG_ERROR, nullptr, message);
  return ShowMessageBox(owner, message, caption, style);
}

void ErrorCodeText(uint8_t general, uint8_t additional, char* text, size_t size) {
  if (size == 0) return;
  char code[8];
  char extra[8];
  char name[MSG_TEXT_SIZE];
  std::snprintf(code, sizeof code, "%02X", static_cast<unsigned>(general));
  std::snprintf(extra, sizeof extra, "%02X", static_cast<unsigned>(additional));
  if (LoadResString(IDS_GEC_NAME_BASE + general, name, sizeof name) == 0 ||
      FormatResString(IDS_ERROR_CODE_DETAIL, code, name, extra, text, size) == 0) {
    std::snprintf(text, size, "%s", code);
  }
}

size_t FormatResString(unsigned id, const char* arg1, const char* arg2, const char* arg3, char* out,
                       size_t outSize) {
  if (outSize == 0) return 0;
  out[0] = '\0';
  char format[FMT_BUFFER_SIZE];
  if (LoadResString(id, format, FMT_BUFFER_SIZE) == 0) return 0;
  const char* args[FMT_ARG_COUNT] = {arg1, arg2, arg3};
  return SubstituteArgs(format, args, FMT_ARG_COUNT, out, outSize);
}

}  // namespace persist
