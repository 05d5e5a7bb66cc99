// Measures the page-1 one-key refresh against the controller simulator over loopback TCP:
// the wall time of a whole 31-request chain, and the host's turnaround per exchange (from the
// simulator writing an answer to the next request arriving), as the simulator counts it.
//   bench_refresh [runs]     default 50 runs after 3 warm-up runs
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <csignal>
#include <vector>

#include "window/Unit1.h"
#include "window/HandlerSupport.h"
#include "bench/BenchSupport.h"

using bench::percentile;
using bench::waitFor;

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
  SetMessageBoxHook([](const QString &t, const QString &c) {
    std::fprintf(stderr, "message: %s (%s)\n", qPrintable(t), qPrintable(c));
  });

  QProcess sim;
  const quint16 port = bench::startPowersim(sim, {QStringLiteral("--stats")});
  if (!port) return std::fprintf(stderr, "powersim did not start\n"), 1;

  TForm1 form;
  bench::openLan(form, port);
  if (!waitFor([&] { return form.lanConnected; }, 5000)) return std::fprintf(stderr, "no connection\n"), 1;

  std::vector<double> chainMs;
  for (int i = 0; i < runs + 3; ++i) {
    form.Button4Click();  // keep the log from growing across runs
    QElapsedTimer t;
    t.start();
    form.Button24Click();
    if (!waitFor([&] { return !form.page1Refresh; }, 10000)) return std::fprintf(stderr, "chain stalled\n"), 1;
    if (i >= 3) chainMs.push_back(t.nsecsElapsed() / 1e6);
    if (form.panelText(1) == QStringLiteral("通讯超时")) return std::fprintf(stderr, "time-out\n"), 1;
  }

  form.Button29->click();  // close the link before the simulator goes
  ::kill(static_cast<pid_t>(sim.processId()), SIGUSR1);
  QByteArray stats;
  waitFor([&] {
    sim.waitForReadyRead(10);
    stats += sim.readAllStandardOutput();
    return stats.contains("stats turnaround");
  }, 5000);
  sim.terminate();
  sim.waitForFinished(3000);

  std::printf("refresh chain (31 requests), %d runs: median %.2f ms, p99 %.2f ms, min %.2f ms\n", runs,
              percentile(chainMs, 0.5), percentile(chainMs, 0.99), percentile(chainMs, 0.0));
  for (const QByteArray &line : stats.split('\n'))
    if (line.startsWith("stats turnaround")) std::printf("host turnaround per exchange (simulator's count): %s\n",
                                                         line.mid(17).trimmed().constData());
  return 0;
}
