#include "sim/launch/Powersim.h"

#include <QElapsedTimer>

#include <csignal>

namespace simlaunch {

QString powersimPath() {
#ifdef POWERSIM_PATH
  return QStringLiteral(POWERSIM_PATH);
#else
  return {};
#endif
}

Powersim::Powersim(const QStringList &options) {
  QStringList args = options;
  wantTcp_ = args.contains(QStringLiteral("--listen"));
  wantPty_ = args.contains(QStringLiteral("--pty")) || args.contains(QStringLiteral("--link"));
  if (!wantTcp_ && !wantPty_) {
    args << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0");
    wantTcp_ = true;
  }
  process_.setProcessChannelMode(QProcess::SeparateChannels);
  process_.start(powersimPath(), args);
  if (!process_.waitForStarted(5000)) return;
  QElapsedTimer t;
  t.start();
  // the announcements are whole lines: a line is read only once its end has come
  while (t.elapsed() < 5000 && !ok() && process_.state() == QProcess::Running) {
    process_.waitForReadyRead(50);
    out_ += process_.readAllStandardOutput();
    for (const QByteArray &line : out_.left(out_.lastIndexOf('\n') + 1).split('\n')) {
      if (line.startsWith("listening ")) port_ = static_cast<quint16>(line.mid(line.lastIndexOf(':') + 1).toUInt());
      if (line.startsWith("pty ") && line.size() > 4) ptyPath_ = QString::fromLocal8Bit(line.mid(4).trimmed());
    }
  }
}

Powersim::~Powersim() {
  if (process_.state() != QProcess::NotRunning) {
    process_.terminate();
    if (!process_.waitForFinished(3000)) process_.kill();
    process_.waitForFinished(1000);
  }
}

bool Powersim::ok() const { return (!wantTcp_ || port_ != 0) && (!wantPty_ || !ptyPath_.isEmpty()); }

QStringList Powersim::stats() {
  QByteArray out;
  ::kill(static_cast<pid_t>(process_.processId()), SIGUSR1);
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 3000 && !out.contains("stats turnaround")) {
    process_.waitForReadyRead(50);
    out += process_.readAllStandardOutput();
  }
  QStringList lines;
  for (const QByteArray &line : out.split('\n'))
    if (line.startsWith("stats ")) lines << QString::fromLatin1(line.trimmed());
  return lines;
}

bool Powersim::command(const QByteArray &line) {
  process_.write(line + '\n');
  QByteArray out;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 3000 && !out.contains("ok " + line + '\n') && !out.contains("error " + line)) {
    process_.waitForReadyRead(50);
    out += process_.readAllStandardOutput();
  }
  return out.contains("ok " + line + '\n');
}

}  // namespace simlaunch
