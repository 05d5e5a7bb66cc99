// Measures the history read-out against the controller simulator over loopback TCP: the
// time per record of a whole read-out ("读记录数", then "获取记录" down to index 0) for a
// short and a long history, and their ratio, which shows whether appending rows to the
// list stays linear.
//   bench_records [runs]     default 5 runs per history after 1 warm-up run
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "tests/support/TestForm.h"

using bench::percentile;
using bench::waitFor;

namespace {

// Median milliseconds per record of a read-out of `records` records; -1 on failure.
double perRecordMs(int records, int runs) {
  simlaunch::Powersim sim({QStringLiteral("--records"), QString::number(records)});
  const quint16 port = sim.port();
  if (!sim.ok()) return std::fprintf(stderr, "powersim did not start\n"), -1;
  TestForm form;
  bench::openLan(form, port);
  if (!waitFor([&] { return form.lanConnected; }, 5000)) return std::fprintf(stderr, "no connection\n"), -1;
  std::vector<double> ms;
  for (int i = 0; i < runs + 1; ++i) {
    form.Button4Click();
    form.Button146Click();
    if (!waitFor([&] { return !form.Timer1->isEnabled() && form.recordIndex == records - 1; }, 5000))
      return std::fprintf(stderr, "no count\n"), -1;
    QElapsedTimer t;
    t.start();
    form.Button40Click();
    const bool done = waitFor([&] {
      return !form.Timer1->isEnabled() && form.recordIndex == 0 && form.ValueListEditor1->rowCount() == records;
    }, 120000);
    if (!done) return std::fprintf(stderr, "read-out stalled at %d\n", form.recordIndex), -1;
    if (i >= 1) ms.push_back(t.nsecsElapsed() / 1e6 / records);
  }
  form.Button29->click();
  sim.process().terminate();
  sim.process().waitForFinished(3000);
  return percentile(ms, 0.5);
}

}  // namespace

int main(int argc, char **argv) {
  bench::choosePlatform();
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
  SetMessageBoxHook([](const QString &t, const QString &c) {
    std::fprintf(stderr, "message: %s (%s)\n", qPrintable(t), qPrintable(c));
  });
  const double shortMs = perRecordMs(100, runs), longMs = perRecordMs(2000, runs);
  if (shortMs < 0 || longMs < 0) return 1;
  std::printf("read-out, median per record over %d runs: 100 records %.3f ms, 2000 records %.3f ms, ratio %.2f\n",
              runs, shortMs, longMs, longMs / shortMs);
  return 0;
}
