// Runs the controller simulator as a separate process for end-to-end tests.
#pragma once

#include <QProcess>
#include <QStringList>

namespace testsupport {

class Powersim {
 public:
  // Starts powersim with the given options plus "--listen 127.0.0.1:0" (unless the options
  // name a link themselves) and waits for it to say where it listens.
  explicit Powersim(const QStringList &options = {});
  ~Powersim();
  bool ok() const { return port_ != 0 || !ptyPath_.isEmpty(); }
  quint16 port() const { return port_; }
  QString ptyPath() const { return ptyPath_; }
  // Asks for the statistics (SIGUSR1) and returns the "stats ..." lines printed.
  QStringList stats();
  QProcess &process() { return process_; }

 private:
  QProcess process_;
  QByteArray out_;
  quint16 port_ = 0;
  QString ptyPath_;
};

}  // namespace testsupport
