#include "support/Powersim.h"

#include <QElapsedTimer>

#include <csignal>

#include "support/TestSupport.h"

namespace testsupport {

Powersim::Powersim(const QStringList &options) {
  QStringList args = options;
  if (!args.contains(QStringLiteral("--listen")) && !args.contains(QStringLiteral("--pty")))
    args << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0");
  process_.setProcessChannelMode(QProcess::SeparateChannels);
  process_.start(powersimPath(), args);
  if (!process_.waitForStarted(5000)) return;
  const bool wantPty = args.contains(QStringLiteral("--pty"));
  const bool wantTcp = args.contains(QStringLiteral("--listen"));
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 5000 && ((wantTcp && !port_) || (wantPty && ptyPath_.isEmpty()))) {
    process_.waitForReadyRead(50);
    out_ += process_.readAllStandardOutput();
    for (const QByteArray &line : out_.split('\n')) {
      if (line.startsWith("listening ")) port_ = static_cast<quint16>(line.mid(line.lastIndexOf(':') + 1).toUInt());
      if (line.startsWith("pty ")) ptyPath_ = QString::fromLocal8Bit(line.mid(4).trimmed());
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

QStringList Powersim::stats() {
  out_.clear();
  ::kill(static_cast<pid_t>(process_.processId()), SIGUSR1);
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 3000 && !out_.contains("stats turnaround")) {
    process_.waitForReadyRead(50);
    out_ += process_.readAllStandardOutput();
  }
  QStringList lines;
  for (const QByteArray &line : out_.split('\n'))
    if (line.startsWith("stats ")) lines << QString::fromLatin1(line.trimmed());
  return lines;
}

}  // namespace testsupport
