#include "support/Pty.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

bool PtyPair::open(bool raw) {
  close();
  const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char name[128];
  termios t{};
  // Terminal settings made on the master apply to the slave side.
  if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0 ||
      tcgetattr(fd, &t) != 0) {
    ::close(fd);
    return false;
  }
  if (raw) cfmakeraw(&t);
  if (raw && tcsetattr(fd, TCSANOW, &t) != 0) {
    ::close(fd);
    return false;
  }
  master = fd;
  slavePath = QString::fromLocal8Bit(name);
  return true;
}

void PtyPair::close() {
  if (master >= 0) ::close(master);
  master = -1;
}

bool PtyPair::write(const QByteArray &bytes) {
  QElapsedTimer timer;
  timer.start();
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
    if (n > 0) {
      done += n;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (timer.elapsed() > 5000) return false;
    pollfd p{master, POLLOUT, 0};
    (void)poll(&p, 1, 50);
  }
  return true;
}

QByteArray PtyPair::read(int want, int timeoutMs) {
  QByteArray out;
  QElapsedTimer timer;
  timer.start();
  char buf[4096];
  while (out.size() < want) {
    const qint64 left = timeoutMs - timer.elapsed();
    if (left <= 0) break;
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, int(left)) <= 0) continue;
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n > 0)
      out.append(buf, n);
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
      break;
  }
  return out;
}

}  // namespace testsupport
