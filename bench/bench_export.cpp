// Long writes and the event loop. The window polls powersim (12 modules, loopback TCP, the
// status page's polling at a tenth of its period, so a poll is due every 100 ms) while it
// exports 200 000 journal rows, exports a day of trends as CSV and saves a log of 1 000 000
// lines. For each write: the longest stall of the window's thread (the gap between two ticks
// of a 5 ms timer beyond its period), how long the write took in the background, and the
// polls made meanwhile. The baseline of the same run is polling alone for as long: its
// longest stall and its polls.
//   bench_export [runs]    default 5
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "pages/AlarmJournal.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/TableExport.h"
#include "window/WholeFile.h"
#include "tests/support/TestForm.h"

namespace {

// The longest stall of the window's thread while `busy` holds (or for `spanMs` when it is
// empty), and the polls started meanwhile.
struct Probe {
  double stallMs = 0;
  qint64 tookMs = 0;
  int polls = 0;
};
Probe probe(TestForm &form, const std::function<bool()> &busy, qint64 spanMs) {
  Probe p;
  QElapsedTimer wall;
  wall.start();
  qint64 last = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = wall.elapsed();
    p.stallMs = std::max(p.stallMs, double(now - last - 5));
    last = now;
  });
  const QMetaObject::Connection polls =
      QObject::connect(form.Timer2, &SteadyTimer::timeout, [&] { ++p.polls; });
  tick.start(5);
  bench::waitFor([&] { return busy ? !busy() : wall.elapsed() >= spanMs; }, 600000);
  p.tookMs = wall.elapsed();
  QObject::disconnect(polls);
  return p;
}

}  // namespace

int main(int argc, char **argv) {
  bench::choosePlatform();
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
  SetMessageBoxHook([](const QString &t, const QString &c) {
    std::fprintf(stderr, "message: %s (%s)\n", qPrintable(t), qPrintable(c));
  });
  SteadyTimer::setTimeScale(0.1);
  std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));

  TestForm form;
  form.show();
  // a day of trends through the hooks, up to now
  qint64 now = QDateTime::currentMSecsSinceEpoch() - 86'400'000LL;
  form.monitorClock = [&now] { return now; };
  for (int i = 0; i < 86'400; ++i) {
    now += 1000;
    form.payload[4] = uint8_t(20 + i % 7);
    form.monitorStatusShown(StatusAnswer::System);
    form.monitorStatusShown(StatusAnswer::Ac);
    form.monitorModulesShown();
  }
  form.monitorClock = [] { return QDateTime::currentMSecsSinceEpoch(); };
  // 200 000 journal rows
  auto *model = qobject_cast<journal::JournalModel *>(form.AlarmJournal->model());
  std::vector<journal::Event> rows;
  for (int i = 0; i < 200'000; ++i)
    rows.push_back({now - 200'000 + i, uint16_t(i % journal::kLinkSource), i % 2 ? journal::Kind::Cleared : journal::Kind::Raised,
                    i % 3 ? QString() : QStringLiteral("短路")});
  model->append(rows);
  // a log of 1 000 000 lines
  const QString line = QString::fromLatin1(proto::hexLogLine(proto::encodeFrame(1, 0x42, 0, std::vector<uint8_t>(18, 0x5A))));
  for (int i = 0; i < 1'000'000; ++i) {
    form.log(line);
    if (i % 10'000 == 0) QCoreApplication::processEvents();
  }
  form.Memo1->flush();

  simlaunch::Powersim sim({QStringLiteral("--modules"), QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12")});
  if (!sim.ok()) return std::fprintf(stderr, "powersim did not start\n"), 1;
  bench::openLan(form, sim.port());
  if (!bench::waitFor([&] { return form.lanConnected; }, 5000)) return std::fprintf(stderr, "no connection\n"), 1;
  form.PageControl1->setCurrentIndex(1);
  if (!bench::waitFor([&] { return form.StringGrid2->Cells(1, 12) == QStringLiteral("开机"); }, 10000))
    return std::fprintf(stderr, "module 12 never shown\n"), 1;
  form.ComboBoxTrendWindow->setCurrentIndex(2);  // the whole day

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("out"));
  auto busy = [] { return writesInBackground() > 0; };
  struct Write {
    Write(const char *w, std::function<void()> s) : what(w), start(std::move(s)) {}
    const char *what;
    std::function<void()> start;
    std::vector<double> stall, baseline, took;
    std::vector<int> polls, basePolls;
  };
  std::vector<Write> writes;
  writes.emplace_back("journal export, 200 000 rows",
                      [&] { form.findChild<QAction *>(QStringLiteral("actionExportAlarms"))->trigger(); });
  writes.emplace_back("trend CSV, a day of 8 quantities",
                      [&] { form.findChild<QAction *>(QStringLiteral("actionExportTrendCsv"))->trigger(); });
  writes.emplace_back("log save, 1 000 000 lines", [&] { form.actionSaveLog->trigger(); });
  form.saveLogPath = [&] { return path; };
  SetSaveFileNameHook([&](const QString &, const QString &) { return path; });
  for (int run = 0; run < runs; ++run)
    for (Write &w : writes) {
      QElapsedTimer started;
      started.start();
      w.start();
      if (getenv("BENCH_SPLIT")) std::printf("  %s: %.1f ms on the window's thread to start\n", w.what, started.nsecsElapsed() / 1e6);
      const Probe p = probe(form, busy, 0);
      const Probe b = probe(form, {}, p.tookMs);
      w.stall.push_back(p.stallMs);
      w.took.push_back(double(p.tookMs));
      w.polls.push_back(p.polls);
      w.basePolls.push_back(b.polls);
      w.baseline.push_back(b.stallMs);
    }
  for (const Write &w : writes) {
    const double stall = bench::percentile(w.stall, 0.5), base = bench::percentile(w.baseline, 0.5);
    std::printf("%s: longest stall median %.1f ms (max %.1f), baseline of polling alone %.1f ms, ratio %.2f; "
                "written in %.0f ms (median); polls",
                w.what, stall, bench::percentile(w.stall, 1), base, base > 0 ? stall / base : 0.0,
                bench::percentile(w.took, 0.5));
    for (size_t i = 0; i < w.polls.size(); ++i) std::printf(" %d/%d", w.polls[i], w.basePolls[i]);
    std::printf(" (while writing / polling alone)\n");
  }
  // what the journal export held the window up for when it was written on the window's thread
  std::vector<double> onThread;
  for (int run = 0; run < runs; ++run) {
    QElapsedTimer t;
    t.start();
    const std::vector<journal::Event> events = model->events();
    writeWholeFile(path, [&events](QIODevice &out) {
      out.write(csvText({journal::JournalModel::headings()}));
      for (const journal::Event &e : events) out.write(csvLine(journal::rowTexts(e)));
      return QString();
    });
    onThread.push_back(t.nsecsElapsed() / 1e6);
  }
  std::printf("journal export written on the window's thread instead: median %.0f ms\n", bench::percentile(onThread, 0.5));
  form.Button29->click();
  return 0;
}
