// Shared by the measuring programs: the simulator process, waiting, and memory readings.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <vector>

#include "window/ProtocolLog.h"
#include "window/Unit1.h"

#ifndef POWERSIM_PATH
#define POWERSIM_PATH "powersim"
#endif

namespace bench {

// Call before the application is made: the display server when there is one (under xvfb-run,
// so painting is measured as a desktop does it), otherwise the offscreen platform. A
// platform named in QT_QPA_PLATFORM is kept.
inline void choosePlatform() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
}

template <class P>
bool waitFor(P pred, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return true;
}

// Reads the simulator's standard output until a line starting with `prefix` comes; returns
// the rest of that line, empty when none came within 5 s.
inline QByteArray waitForLine(QProcess &sim, const QByteArray &prefix) {
  QByteArray out, rest;
  waitFor([&] {
    sim.waitForReadyRead(10);
    out += sim.readAllStandardOutput();
    const int at = out.indexOf(prefix);
    const int eol = out.indexOf('\n', at);
    if (at < 0 || eol < 0) return false;
    rest = out.mid(at + prefix.size(), eol - at - prefix.size()).trimmed();
    return true;
  }, 5000);
  return rest;
}

// Starts powersim on a free loopback port with the given options; returns the port, 0 when
// it did not start.
inline quint16 startPowersim(QProcess &sim, QStringList options) {
  options << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0");
  sim.start(QStringLiteral(POWERSIM_PATH), options);
  if (!sim.waitForStarted(5000)) return 0;
  return static_cast<quint16>(waitForLine(sim, "listening 127.0.0.1:").toUInt());
}

// Starts powersim on a pseudo-terminal only; returns the terminal's path, empty when it did
// not start.
inline QString startPowersimPty(QProcess &sim, QStringList options) {
  options << QStringLiteral("--pty");
  sim.start(QStringLiteral(POWERSIM_PATH), options);
  if (!sim.waitForStarted(5000)) return QString();
  return QString::fromLocal8Bit(waitForLine(sim, "pty "));
}

// Where a simulator started with both links can be reached.
struct SimLinks {
  quint16 port = 0;
  QString pty;
};

// Starts powersim with a free loopback port and a pseudo-terminal; port 0 or an empty path
// when it did not start. It prints the TCP line first.
inline SimLinks startPowersimBoth(QProcess &sim, QStringList options) {
  options << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0") << QStringLiteral("--pty");
  sim.start(QStringLiteral(POWERSIM_PATH), options);
  if (!sim.waitForStarted(5000)) return {};
  SimLinks links;
  QByteArray out;
  waitFor([&] {
    sim.waitForReadyRead(10);
    out += sim.readAllStandardOutput();
    for (const QByteArray &line : out.split('\n')) {
      if (line.startsWith("listening 127.0.0.1:")) links.port = static_cast<quint16>(line.mid(20).trimmed().toUInt());
      if (line.startsWith("pty ") && line.size() > 4) links.pty = QString::fromLocal8Bit(line.mid(4).trimmed());
    }
    return links.port != 0 && !links.pty.isEmpty() && out.endsWith('\n');
  }, 5000);
  return links;
}

// Chooses LAN to 127.0.0.1:port and presses OPEN; the connection completes later.
inline void openLan(TForm1 &form, quint16 port) {
  form.RadioButton2->click();
  form.Edit13->setText(QStringLiteral("127.0.0.1"));
  form.Edit12->setText(QString::number(port));
  form.Button29->click();
}

// The p-quantile (0..1, nearest rank) of the samples; 0 without samples.
inline double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  if (v.empty()) return 0;
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

// The protocol log's lines, once everything logged so far is shown.
inline QStringList logLines(TForm1 &form) {
  form.Memo1->flush();
  QStringList lines;
  for (int i = 0; i < form.Memo1->lineCount(); ++i) lines << form.Memo1->lineText(i);
  return lines;
}

// A figure by its name in /proc/PID/status: memory in KiB ("VmRSS", "VmHWM") or a count
// ("Threads"); pid 0 is this process.
inline long procStatus(const QByteArray &name, qint64 pid = 0) {
  QFile f(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  const QByteArray key = name + ':';
  for (const QByteArray &line : f.readAll().split('\n'))
    if (line.startsWith(key)) return line.mid(key.size()).trimmed().split(' ').first().toLong();
  return -1;
}

// Resident memory of this process in KiB.
inline long rssKiB() { return procStatus("VmRSS"); }

}  // namespace bench
