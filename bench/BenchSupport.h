// Shared by the measuring programs: the platform, waiting, and memory readings; they start
// the simulator with sim/launch/Powersim.h.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

#include <sys/resource.h>
#include <vector>

#include "sim/launch/Powersim.h"
#include "window/ProtocolLog.h"
#include "tests/support/TestForm.h"

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

// Chooses LAN to 127.0.0.1:port and presses OPEN; the connection completes later.
inline void openLan(TestForm &form, quint16 port) {
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
inline QStringList logLines(TestForm &form) {
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

// CPU time of this process so far, user and system, in seconds.
inline double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Lets the event loop run for seconds; returns the CPU share of one core per 10 s window.
inline std::vector<double> cpuWindows(int seconds) {
  std::vector<double> shares;
  for (int done = 0; done < seconds; done += 10) {
    const int span = std::min(10, seconds - done);
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(span * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    shares.push_back(100.0 * (cpuSeconds() - cpu0) / (wall.nsecsElapsed() / 1e9));
  }
  return shares;
}

}  // namespace bench
