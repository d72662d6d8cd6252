#include "pty_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace serialcan {
namespace emu {

bool OpenPtyLine(PtyLine& line) {
  line.master = posix_openpt(O_RDWR | O_NOCTTY);
  line.keepOpen = -1;
  if (line.master < 0) return false;
  const char* name = nullptr;
  if (grantpt(line.master) != 0 || unlockpt(line.master) != 0 ||
      (name = ptsname(line.master)) == nullptr) {
    ClosePtyLine(line);
    return false;
  }
  std::snprintf(line.farPath, sizeof line.farPath, "%s", name);
  line.keepOpen = open(line.farPath, O_RDWR | O_NOCTTY);
  termios raw{};
  if (line.keepOpen < 0 || tcgetattr(line.keepOpen, &raw) != 0) {
    ClosePtyLine(line);
    return false;
  }
  // No echo, no line editing, no translation of CR: the protocol's bytes as
  // they are, both ways.
  cfmakeraw(&raw);
  if (tcsetattr(line.keepOpen, TCSANOW, &raw) != 0 ||
      fcntl(line.master, F_SETFL, fcntl(line.master, F_GETFL) | O_NONBLOCK) != 0) {
    ClosePtyLine(line);
    return false;
  }
  return true;
}

void ClosePtyLine(PtyLine& line) {
  if (line.keepOpen >= 0) close(line.keepOpen);
  if (line.master >= 0) close(line.master);
  line.keepOpen = line.master = -1;
}

bool LinkFarEnd(const PtyLine& line, const char* linkPath) {
  if (unlink(linkPath) != 0 && errno != ENOENT) return false;
  return symlink(line.farPath, linkPath) == 0;
}

size_t WriteLine(const PtyLine& line, const char* bytes, size_t count, int patienceMs) {
  size_t written = 0;
  while (written < count) {
    const ssize_t n = write(line.master, bytes + written, count - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) break;
    pollfd room{line.master, POLLOUT, 0};
    if (poll(&room, 1, patienceMs) <= 0) break;
  }
  return written;
}

}  // namespace emu
}  // namespace serialcan
