// The window against the controller simulator with faults, two minutes a run:
//   1. powersim --fault-late 0.05 --delay-ms 2500, the status page shown: the share of
//      one-second samples in which the page showed a value other than what the simulator sent
//      for that request (through a proxy that keeps every frame, tests/support/SimTruth.h);
//   2. the same with "后台监视" ticked on the trend tab;
//   3. 5 % of every fault kind (checksum, silent, late, split, refused, noise), the status page
//      shown: the share of one-second samples in which the page was live (not greyed).
//   bench_late [--seconds N] [--only 1|2|3]   (each run N seconds, default 120)
#include <QApplication>
#include <QCheckBox>
#include <QTabWidget>

#include <cstdio>

#include "bench/BenchSupport.h"
#include "tests/support/SimTruth.h"
#include "window/HandlerSupport.h"

using bench::waitFor;

namespace {

struct Run {
  int samples = 0, wrong = 0, live = 0, decodes = 0, wrongDecodes = 0;
  QStringList what;
};

Run run(const QStringList &faults, bool background, int seconds, bool proxied) {
  simlaunch::Powersim sim(QStringList{QStringLiteral("--modules"), QStringLiteral("1,2,3")} + faults);
  Run r;
  if (!sim.ok()) {
    std::fprintf(stderr, "powersim did not start\n");
    return r;
  }
  testsupport::TruthProxy proxy(sim.port());
  TestForm f;
  bench::openLan(f, proxied ? proxy.port() : sim.port());
  if (!waitFor([&] { return f.lanConnected; }, 5000)) return r;
  if (background) {
    f.findChild<QCheckBox *>(QStringLiteral("CheckBoxMonitor"))->setChecked(true);
    f.PageControl1->setCurrentWidget(f.TabSheetTrend);
  } else {
    f.PageControl1->setCurrentIndex(1);
  }
  testsupport::StatusTruth truth(f, proxy);
  QElapsedTimer t;
  t.start();
  waitFor([&] { return t.elapsed() > seconds * 1000LL; }, seconds * 1000 + 1000);
  r.samples = truth.samples;
  r.wrong = truth.wrongSamples;
  r.live = truth.liveSamples;
  r.decodes = truth.decodes;
  r.wrongDecodes = truth.wrongDecodes;
  r.what = truth.wrong;
  return r;
}

void report(const char *name, const Run &r, bool truth) {
  std::printf("%s: %d samples, live %d (%.1f %%)", name, r.samples, r.live, r.samples ? 100.0 * r.live / r.samples : 0);
  if (truth)
    std::printf(", wrong %d (%.2f %%); values decoded %d, wrong %d", r.wrong, r.samples ? 100.0 * r.wrong / r.samples : 0,
                r.decodes, r.wrongDecodes);
  std::printf("\n");
  for (const QString &w : truth ? r.what : QStringList()) std::printf("  wrong: %s\n", qPrintable(w));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  bench::choosePlatform();
  QApplication app(argc, argv);
  int seconds = 120, only = 0;
  for (int i = 1; i + 1 < argc; ++i) {
    if (qstrcmp(argv[i], "--seconds") == 0) seconds = std::max(5, atoi(argv[++i]));
    else if (qstrcmp(argv[i], "--only") == 0) only = atoi(argv[++i]);
  }
  SetMessageBoxHook([](const QString &t, const QString &c) {
    std::fprintf(stderr, "message: %s (%s)\n", qPrintable(t), qPrintable(c));
  });
  const QStringList late = {QStringLiteral("--fault-late"), QStringLiteral("0.05"), QStringLiteral("--delay-ms"),
                            QStringLiteral("2500")};
  QStringList every;
  for (const char *kind : {"checksum", "silent", "late", "split", "rtn", "noise"})
    every << QStringLiteral("--fault-%1").arg(QLatin1String(kind)) << QStringLiteral("0.05");
  if (!only || only == 1) report("late 5 %, 2500 ms, status page", run(late, false, seconds, true), true);
  if (!only || only == 2) report("late 5 %, 2500 ms, 后台监视 on the trend tab", run(late, true, seconds, true), true);
  if (!only || only == 3) report("every fault kind 5 %, status page", run(every, false, seconds, false), false);
  return 0;
}
