#include "link/CommLine.h"

// Only the kernel's definitions here: <termios.h> would redefine struct termios.
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace commline {
namespace {

struct SpeedCode {
  uint32_t rate;
  unsigned code;
};

constexpr SpeedCode kStandardSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

unsigned speedCode(uint32_t rate) {
  for (const auto &s : kStandardSpeeds)
    if (s.rate == rate) return s.code;
  return BOTHER;
}

bool modemBits(int fd, int bits, bool raised) {
  return ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

// Whether the line now has what was asked: a driver takes a request and quietly keeps
// what it cannot do (a pseudo-terminal keeps 8 bits without parity, an adapter rounds an
// odd speed). A speed within 2 % of the one asked is taken: a UART works with that.
bool took(int fd, const struct termios2 &asked) {
  struct termios2 now {};
  if (ioctl(fd, TCGETS2, &now) != 0) return false;
  tcflag_t format = CSIZE | PARENB | CSTOPB | CRTSCTS;
  if (asked.c_cflag & PARENB) format |= PARODD | CMSPAR;
  if ((now.c_cflag & format) != (asked.c_cflag & format)) return false;
  if ((now.c_iflag & (IXON | IXOFF | INPCK | PARMRK)) != (asked.c_iflag & (IXON | IXOFF | INPCK | PARMRK))) return false;
  auto near = [](uint32_t got, uint32_t want) { return uint64_t(got > want ? got - want : want - got) * 50 <= want; };
  // An input speed of 0 is the output speed.
  return near(now.c_ospeed, asked.c_ospeed) && near(now.c_ispeed ? now.c_ispeed : now.c_ospeed, asked.c_ispeed);
}

}  // namespace

bool apply(int fd, const Settings &s) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;

  // Raw bytes both ways: no line editing, echo, signals or character translation.
  t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC |
                 IXON | IXANY | IXOFF | IMAXBEL);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | IEXTEN);
  if (s.parityCheck) t.c_iflag |= INPCK;
  if (s.markErrors) t.c_iflag |= PARMRK;
  if (s.outXonXoff) t.c_iflag |= IXON;
  if (s.inXonXoff) t.c_iflag |= IXOFF;

  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL;
  switch (s.byteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  switch (s.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (s.stopBits != 0) t.c_cflag |= CSTOPB;
  if (s.ctsRtsFlow) t.c_cflag |= CRTSCTS;

  if (s.baud != 0) {
    const unsigned code = speedCode(s.baud);
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= code | (code << IBSHIFT);
    t.c_ispeed = s.baud;
    t.c_ospeed = s.baud;
  }

  t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (ioctl(fd, TCSETS2, &t) == 0) return took(fd, t);

  // Refused as a whole: keep the line's own character format, then its own speed as
  // well, so that what the device can take (raw mode, flow control) still lands.
  struct termios2 current {};
  if (ioctl(fd, TCGETS2, &current) != 0) return false;
  constexpr tcflag_t kFormat = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  t.c_cflag = (t.c_cflag & ~kFormat) | (current.c_cflag & kFormat);
  if (ioctl(fd, TCSETS2, &t) == 0) return false;
  constexpr tcflag_t kSpeed = CBAUD | (CBAUD << IBSHIFT);
  t.c_cflag = (t.c_cflag & ~kSpeed) | (current.c_cflag & kSpeed);
  t.c_ispeed = current.c_ispeed;
  t.c_ospeed = current.c_ospeed;
  (void)ioctl(fd, TCSETS2, &t);
  return false;
}

bool readBaud(int fd, uint32_t *baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  *baud = t.c_ospeed;
  return true;
}

bool readModem(int fd, ModemLines *lines) {
  int bits = 0;
  if (ioctl(fd, TIOCMGET, &bits) != 0) return false;
  lines->carrier = (bits & TIOCM_CAR) != 0;
  lines->ring = (bits & TIOCM_RNG) != 0;
  lines->dsr = (bits & TIOCM_DSR) != 0;
  return true;
}

bool setDtr(int fd, bool raised) { return modemBits(fd, TIOCM_DTR, raised); }
bool setRts(int fd, bool raised) { return modemBits(fd, TIOCM_RTS, raised); }

bool setRtsToggle(int fd, bool on) {
  struct serial_rs485 rs {};
  if (ioctl(fd, TIOCGRS485, &rs) != 0) return false;
  if (on) {
    rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    rs.flags &= ~SER_RS485_RTS_AFTER_SEND;
  } else {
    rs.flags &= ~SER_RS485_ENABLED;
  }
  return ioctl(fd, TIOCSRS485, &rs) == 0;
}

bool readCounters(int fd, ErrorCounters *c) {
  struct serial_icounter_struct ic {};
  if (ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
  c->frame = static_cast<uint32_t>(ic.frame);
  c->overrun = static_cast<uint32_t>(ic.overrun);
  c->parity = static_cast<uint32_t>(ic.parity);
  c->brk = static_cast<uint32_t>(ic.brk);
  c->bufOverrun = static_cast<uint32_t>(ic.buf_overrun);
  return true;
}

}  // namespace commline
