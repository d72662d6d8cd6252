// The COM port on POSIX systems (tests and benchmarks): a terminal device,
// raw, non-blocking.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "serial_port.h"

namespace serialcan {

namespace {

// How long the rest of a line may take to go out once its first bytes went.
constexpr uint32_t WRITE_STALL_MS = 50;

int portFd = -1;

// The path of COM port `number`: SERIALCAN_COM<n> from the environment,
// else the n-th serial port of the system.
void PortPath(unsigned number, char* out, size_t size) {
  char name[32];
  std::snprintf(name, sizeof name, "SERIALCAN_COM%u", number);
  const char* path = std::getenv(name);
  if (path && *path) {
    std::snprintf(out, size, "%s", path);
  } else {
    std::snprintf(out, size, "/dev/ttyS%u", number - 1);
  }
}

}  // namespace

PortOpenResult PortOpen(unsigned number) {
  PortClose();
  char path[512];
  PortPath(number, path, sizeof path);
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return errno == EBUSY || errno == EACCES || errno == EPERM ? PORT_BUSY : PORT_MISSING;
  }
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {  // not a terminal
    close(fd);
    return PORT_MISSING;
  }
  cfmakeraw(&tio);
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB);
  // With O_NONBLOCK an empty port then answers EAGAIN, and 0 means a
  // hang-up (VMIN 0 would answer 0 for both).
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    close(fd);
    return PORT_MISSING;
  }
  // One user at a time, as a COM port is on Windows.
  ioctl(fd, TIOCEXCL);
  tcflush(fd, TCIOFLUSH);
  portFd = fd;
  return PORT_OPENED;
}

void PortClose() {
  if (portFd >= 0) {
    ioctl(portFd, TIOCNXCL);
    close(portFd);
    portFd = -1;
  }
}

int PortRead(char* data, size_t size) {
  if (portFd < 0) return -1;
  const ssize_t n = read(portFd, data, size);
  if (n > 0) return static_cast<int>(n);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
  return -1;  // 0 is a hang-up, EIO a far end that went away
}

PortWriteResult PortWrite(const char* data, size_t size) {
  if (portFd < 0) return PORT_FAILED;
  size_t done = 0;
  bool stalled = false;
  uint32_t stallStartMs = 0;
  while (done < size) {
    const ssize_t n = write(portFd, data + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      stalled = false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (done == 0) return PORT_FULL;
      if (!stalled) {
        stalled = true;
        stallStartMs = PortTickMs();
      } else if (PortTickMs() - stallStartMs > WRITE_STALL_MS) {
        return PORT_FAILED;
      }
      PortSleep1Ms();
      continue;
    }
    return PORT_FAILED;
  }
  return PORT_WRITTEN;
}

uint32_t PortTickMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000 +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000);
}

void PortSleep1Ms() {
  timespec ts{0, 1000000};
  nanosleep(&ts, nullptr);
}

}  // namespace serialcan
