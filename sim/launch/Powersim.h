// The one way tests and benches start the powersim program: a separate process on loopback
// TCP and/or a pseudo-terminal, waited for until it has said where it listens.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace simlaunch {

// The powersim program built beside the tests and benches; empty when it was not built.
QString powersimPath();

class Powersim {
 public:
  // Starts powersim with the options, plus "--listen 127.0.0.1:0" unless they name a link
  // themselves (--listen, --pty or --link), and waits up to 5 s until it has printed every
  // link asked for: "listening 127.0.0.1:PORT" for TCP, "pty PATH" for a pseudo-terminal.
  explicit Powersim(const QStringList &options = {});
  // Terminates the program (killed when it does not end within 3 s).
  ~Powersim();
  Powersim(const Powersim &) = delete;
  Powersim &operator=(const Powersim &) = delete;

  // Every link asked for was announced.
  bool ok() const;
  quint16 port() const { return port_; }        // 0 without TCP
  QString ptyPath() const { return ptyPath_; }  // empty without a pseudo-terminal
  // What it printed while starting.
  QByteArray startOutput() const { return out_; }
  // Asks for the statistics (SIGUSR1) and returns the "stats ..." lines printed.
  QStringList stats();
  // Sends a command of --control ("raise ac-power-fail") and waits up to 3 s for its answer:
  // true once it is "ok", from when on the answers carry it.
  bool command(const QByteArray &line);
  QProcess &process() { return process_; }

 private:
  QProcess process_;
  QByteArray out_;
  bool wantTcp_ = false, wantPty_ = false;
  quint16 port_ = 0;
  QString ptyPath_;
};

}  // namespace simlaunch
