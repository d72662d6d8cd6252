// The COM port on Windows: \\.\COMn through the Win32 serial API.
#include <windows.h>

#include <cstdio>

#include "serial_port.h"

namespace serialcan {

namespace {

constexpr DWORD LINE_BAUD = CBR_115200;
constexpr DWORD QUEUE_BYTES = 4096;
// A line that the port has not taken within this time will not go out.
constexpr DWORD WRITE_TIMEOUT_MS = 100;

HANDLE port = INVALID_HANDLE_VALUE;

// The line: 8N1, no flow control of either kind, DTR and RTS on (some
// adapters draw power or wake up on them).
bool SetLine(HANDLE h) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) return false;
  dcb.BaudRate = LINE_BAUD;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  return SetCommState(h, &dcb) != 0;
}

// Reads return at once with what has arrived (MAXDWORD, 0, 0), and the
// library reads again at its next call. Measured under wine64 on a
// pseudo-terminal whose far end answers at once (readmode_probe.cpp, 100
// rounds): a status request's answer took 0.2 to 0.4 ms on average in this
// mode, a read of an empty port 0.07 to 0.17 ms; with MAXDWORD, MAXDWORD, n
// ("return at the first byte") every read waited out its n ms, answer or
// not (10.5 ms for n = 10, 5.4 ms for n = 5).
bool SetTimeouts(HANDLE h) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 0;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = WRITE_TIMEOUT_MS;
  return SetCommTimeouts(h, &t) != 0;
}

}  // namespace

PortOpenResult PortOpen(unsigned number) {
  PortClose();
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%u", number);
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? PORT_BUSY
                                                                            : PORT_MISSING;
  }
  SetupComm(h, QUEUE_BYTES, QUEUE_BYTES);
  if (!SetLine(h) || !SetTimeouts(h)) {
    CloseHandle(h);
    return PORT_MISSING;
  }
  PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
  port = h;
  return PORT_OPENED;
}

void PortClose() {
  if (port != INVALID_HANDLE_VALUE) {
    CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
  }
}

int PortRead(char* data, size_t size) {
  if (port == INVALID_HANDLE_VALUE) return -1;
  DWORD got = 0;
  if (!ReadFile(port, data, static_cast<DWORD>(size), &got, nullptr)) return -1;
  return static_cast<int>(got);
}

PortWriteResult PortWrite(const char* data, size_t size) {
  if (port == INVALID_HANDLE_VALUE) return PORT_FAILED;
  DWORD written = 0;
  if (!WriteFile(port, data, static_cast<DWORD>(size), &written, nullptr)) return PORT_FAILED;
  if (written == size) return PORT_WRITTEN;
  return written == 0 ? PORT_FULL : PORT_FAILED;
}

uint32_t PortTickMs() {
  return GetTickCount();
}

void PortSleep1Ms() {
  Sleep(1);
}

}  // namespace serialcan
