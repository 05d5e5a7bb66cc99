// Measures the status page while it polls the controller simulator with twelve modules over
// loopback TCP: the CPU this process uses with the window shown (every thread, from
// getrusage) over a run of polling, per 10 s window and in total, against the same window
// left on another page; and the wall time of one polling cycle (the status read sent by the
// tick up to the tick re-armed after module 12, 15 requests).
//   bench_status [--seconds N] [--screenshot FILE] [--hide-log]
// --hide-log hides the protocol log view, to tell its painting apart from the page's.
// Run it under a display to measure painting as well: xvfb-run -a build/bench/bench_status
// With --screenshot it saves the shown page with some alarms raised and exits.
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include "window/ProtocolLog.h"
#include <QProcess>
#include <QTabWidget>
#include <QTcpSocket>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "tests/support/TestForm.h"

using bench::waitFor;

namespace {

double median(const std::vector<double> &v) { return bench::percentile(v, 0.5); }
using bench::cpuWindows;

}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  int seconds = 60;
  QString screenshot;
  bool hideLog = false;
  for (int i = 1; i < argc; ++i) {
    if (qstrcmp(argv[i], "--hide-log") == 0) hideLog = true;
    if (i + 1 < argc && qstrcmp(argv[i], "--seconds") == 0) seconds = std::max(10, atoi(argv[++i]));
    if (i + 1 < argc && qstrcmp(argv[i], "--screenshot") == 0) screenshot = QString::fromLocal8Bit(argv[++i]);
  }
  SetMessageBoxHook([](const QString &t, const QString &c) {
    std::fprintf(stderr, "message: %s (%s)\n", qPrintable(t), qPrintable(c));
  });

  QStringList options = {QStringLiteral("--modules"), QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12")};
  if (!screenshot.isEmpty())
    options << QStringLiteral("--alarms") << QStringLiteral("load-fuse,battery-fuse,door,smoke,ac-breaker")
            << QStringLiteral("--module-fault") << QStringLiteral("4:3:0x24") << QStringLiteral("--module-fault")
            << QStringLiteral("9:0:0x11");
  simlaunch::Powersim sim(options);
  const quint16 port = sim.port();
  if (!sim.ok()) return std::fprintf(stderr, "powersim did not start\n"), 1;

  TestForm form;
  form.show();
  if (hideLog) form.Memo1->hide();
  bench::openLan(form, port);
  if (!waitFor([&] { return form.lanConnected; }, 5000)) return std::fprintf(stderr, "no connection\n"), 1;

  // one cycle: from the tick that sends the status read to the tick re-armed by the last module
  std::vector<double> cycleMs;
  QElapsedTimer cycle;
  bool inCycle = false;
  // the window's own handler of the polling tick, timed
  QObject::disconnect(form.Timer2, &SteadyTimer::timeout, &form, nullptr);
  QObject::connect(form.Timer2, &SteadyTimer::timeout, &form, [&] {
    QElapsedTimer started;
    started.start();
    form.Timer2Timer();
    if (form.statusPolling) {
      cycle = started;
      inCycle = true;
    }
  });
  QObject::connect(form.ClientSocket1, &QTcpSocket::readyRead, &form, [&] {
    if (inCycle && form.Timer2->isEnabled()) {
      cycleMs.push_back(cycle.nsecsElapsed() / 1e6);
      inCycle = false;
    }
  });

  // the page shown, every module in the grid
  form.PageControl1->setCurrentIndex(1);
  if (!waitFor([&] { return form.StringGrid2->Cells(1, 12) == QStringLiteral("开机"); }, 10000))
    return std::fprintf(stderr, "module 12 never shown\n"), 1;

  if (!screenshot.isEmpty()) {
    waitFor([] { return false; }, 1500);
    const bool saved = form.grab().save(screenshot);
    form.Button29->click();
    sim.process().terminate();
    sim.process().waitForFinished(3000);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(screenshot));
    return saved ? 0 : 1;
  }

  form.Button4Click();
  cycleMs.clear();
  const std::vector<double> polling = cpuWindows(seconds);
  const size_t cycles = cycleMs.size();
  const double cycleMedian = median(cycleMs);
  form.PageControl1->setCurrentIndex(0);
  const std::vector<double> idle = cpuWindows(std::max(10, seconds / 3));
  const bool timedOut = form.panelText(1) == QStringLiteral("通讯超时");

  form.Button29->click();
  sim.process().terminate();
  sim.process().waitForFinished(3000);

  auto show = [](const char *what, const std::vector<double> &v) {
    std::printf("%s: median %.3f %% of a core per 10 s window (", what, median(v));
    for (double x : v) std::printf(" %.3f", x);
    std::printf(" )\n");
  };
  std::printf("platform %s, 12 modules%s\n", qPrintable(QGuiApplication::platformName()),
              hideLog ? ", protocol log hidden" : "");
  show("status page shown, polling", polling);
  show("another page shown (link open, no polling)", idle);
  std::printf("polling cycles: %zu in %d s, wall time median %.2f ms, min %.2f, max %.2f\n", cycles, seconds,
              cycleMedian, bench::percentile(cycleMs, 0), bench::percentile(cycleMs, 1));
  if (timedOut) std::printf("a request timed out during the run\n");
  return 0;
}
