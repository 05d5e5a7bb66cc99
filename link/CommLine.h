// Low-level line access for TComm on Linux: termios2 settings (any baud rate), modem lines,
// line-error counters and RS-485 RTS toggling. Kept apart from <termios.h>, whose
// definitions clash with the kernel's termios2 headers.
#pragma once

#include <cstdint>

namespace commline {

struct Settings {
  uint32_t baud = 9600;   // 0 leaves the current speed (0 would hang the line up)
  int byteSize = 8;       // 5..8
  int parity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int stopBits = 0;       // 0 one, 1 one and a half (two on this system), 2 two
  bool parityCheck = false;
  bool markErrors = false;  // mark bytes received with errors (0xFF 0x00 x, 0xFF doubled)
  bool ctsRtsFlow = false;
  bool outXonXoff = false;
  bool inXonXoff = false;
  char xonChar = 0x11;
  char xoffChar = 0x13;
};

// Writes the settings in raw mode. False when the device refuses them, or takes them but
// keeps something else (read back: character format, flow control, a speed more than 2 %
// off); it then keeps its own character format (and, if need be, speed) and takes the rest.
bool apply(int fd, const Settings &s);
// Current output speed in bits per second, standard or not.
bool readBaud(int fd, uint32_t *baud);

struct ModemLines {
  bool carrier = false;
  bool ring = false;
  bool dsr = false;
};
// False on a device without modem lines (a pseudo-terminal, for one).
bool readModem(int fd, ModemLines *lines);
bool setDtr(int fd, bool raised);
bool setRts(int fd, bool raised);
// RTS raised only while sending, where the driver can do it.
bool setRtsToggle(int fd, bool on);

struct ErrorCounters {
  uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};
// False on a device that keeps no counters.
bool readCounters(int fd, ErrorCounters *c);

}  // namespace commline
