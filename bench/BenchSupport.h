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

#include "window/Unit1.h"

#ifndef POWERSIM_PATH
#define POWERSIM_PATH "powersim"
#endif

namespace bench {

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

// Where a started simulator can be reached: its TCP port (0 when it has none) and its
// pseudo-terminal (empty when it has none).
struct SimLinks {
  quint16 port = 0;
  QString pty;
};

// Starts powersim with the given options and waits for the line of every link it opens.
inline SimLinks startPowersimLinks(QProcess &sim, const QStringList &options) {
  SimLinks links;
  sim.start(QStringLiteral(POWERSIM_PATH), options);
  if (!sim.waitForStarted(5000)) return links;
  const bool wantPty = options.contains(QStringLiteral("--pty"));
  const bool wantTcp = options.contains(QStringLiteral("--listen"));
  QByteArray out;
  waitFor([&] {
    sim.waitForReadyRead(10);
    out += sim.readAllStandardOutput();
    for (const QByteArray &line : out.split('\n')) {
      if (line.startsWith("listening 127.0.0.1:")) links.port = static_cast<quint16>(line.mid(20).trimmed().toUInt());
      if (line.startsWith("pty ")) links.pty = QString::fromLocal8Bit(line.mid(4).trimmed());
    }
    return (!wantTcp || links.port) && (!wantPty || !links.pty.isEmpty());
  }, 5000);
  return links;
}

// Starts powersim on a free loopback port with the given options; returns the port, 0 when
// it did not start.
inline quint16 startPowersim(QProcess &sim, QStringList options) {
  options << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0");
  return startPowersimLinks(sim, options).port;
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

// A number from this process's /proc status ("VmRSS:", "Threads:"), -1 when missing.
inline long procStatus(const char *field) {
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray &line : f.readAll().split('\n'))
    if (line.startsWith(field)) return line.mid(static_cast<int>(qstrlen(field))).trimmed().split(' ').first().toLong();
  return -1;
}

// Resident memory of this process in KiB.
inline long rssKiB() { return procStatus("VmRSS:"); }

}  // namespace bench
