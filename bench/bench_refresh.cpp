// Measures the one-key refreshes of both parameter pages against the controller simulator over
// loopback TCP: the wall time of a whole chain (31 requests on page 1, 30 on page 2), and the
// host's turnaround per exchange (from the simulator writing an answer to the next request
// arriving), as the simulator counts it.
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
#include <tuple>
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

  // The wall times of the runs of one page's refresh; empty when a run failed.
  auto measure = [&](void (TForm1::*start)(), bool TForm1::*running) {
    std::vector<double> ms;
    for (int i = 0; i < runs + 3; ++i) {
      form.Button4Click();  // keep the log from growing across runs
      QElapsedTimer t;
      t.start();
      (form.*start)();
      const bool ended = waitFor([&] { return !(form.*running); }, 10000);
      if (!ended || form.panelText(1) == QStringLiteral("通讯超时")) {
        std::fprintf(stderr, ended ? "time-out\n" : "chain stalled\n");
        return std::vector<double>();
      }
      if (i >= 3) ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return ms;
  };
  const std::vector<double> page1 = measure(&TForm1::Button24Click, &TForm1::page1Refresh);
  const std::vector<double> page2 = measure(&TForm1::Button88Click, &TForm1::page2Refresh);
  if (page1.empty() || page2.empty()) return 1;

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

  for (auto [name, ms, requests] : {std::tuple{"page 1", &page1, 31}, std::tuple{"page 2", &page2, 30}})
    std::printf("%s refresh chain (%d requests), %d runs: median %.2f ms, p99 %.2f ms, min %.2f ms\n", name,
                requests, runs, percentile(*ms, 0.5), percentile(*ms, 0.99), percentile(*ms, 0.0));
  std::printf("per request, page 2 / page 1 medians: %.2f\n",
              (percentile(page2, 0.5) / 30) / (percentile(page1, 0.5) / 31));
  for (const QByteArray &line : stats.split('\n'))
    if (line.startsWith("stats turnaround")) std::printf("host turnaround per exchange (simulator's count): %s\n",
                                                         line.mid(17).trimmed().constData());
  return 0;
}
