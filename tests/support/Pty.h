// A pseudo-terminal pair for tests: the code under test opens the slave by its path like a
// serial device, the test plays the far end of the line on the master.
#pragma once

#include <QByteArray>
#include <QString>

namespace testsupport {

struct PtyPair {
  int master = -1;    // non-blocking; -1 when not open
  QString slavePath;  // e.g. /dev/pts/3

  PtyPair() = default;
  ~PtyPair() { close(); }
  PtyPair(const PtyPair &) = delete;
  PtyPair &operator=(const PtyPair &) = delete;

  // Opens a new pair with the slave in raw mode, or in the kernel's default (cooked) mode
  // when raw is false. False (and master -1) on failure.
  bool open(bool raw = true);
  // Closes the master: the slave side sees a hang-up.
  void close();
  // Writes all bytes to the master, waiting while the line is full (false on error or
  // when 5 s pass).
  bool write(const QByteArray &bytes);
  // Reads from the master until `want` bytes have come or `timeoutMs` pass.
  QByteArray read(int want, int timeoutMs);
};

}  // namespace testsupport
