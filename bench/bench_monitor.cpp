// The journal, the trends and their chart under load:
//   1. memory of the trend rings (a day of one sample a second, 8 quantities) and of a journal
//      of 100 000 events, from the resident size before and after;
//   2. the chart's redraw once a new sample came in, holding a full day in every quantity: the
//      24-hour window against the 10-minute window of the same run (hook call, the chart
//      updated and painted);
//   3. the CPU this process uses with the window shown and polling the controller simulator
//      (12 modules, loopback TCP): the status page shown against the trend tab shown with
//      polling going on behind it, as background monitoring does.
//   bench_monitor [--seconds N] [--no-cpu] [--redraws N]
// Run it under a display to measure painting as a desktop does: xvfb-run -a build/bench/bench_monitor
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTabWidget>

#include <sys/resource.h>

#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "pages/AlarmJournal.h"
#include "pages/TrendChart.h"
#include "pages/TrendStore.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "tests/support/TestForm.h"

using bench::rssKiB;

namespace {

using bench::cpuWindows;

void memory() {
  {
    const long before = rssKiB();
    std::array<trend::Series, trend::kQuantities> series;
    for (int i = 0; i < 86'400; ++i)
      for (size_t q = 0; q < series.size(); ++q) series[q].add(qint64(i) * 1000, 50 + (i * 7 + int(q)) % 13);
    const long after = rssKiB();
    size_t bytes = 0, samples = 0;
    for (const auto &s : series) bytes += s.bytes(), samples += s.size();
    std::vector<double> ms;
    for (int run = 0; run < 20; ++run) {
      QElapsedTimer t;
      t.start();
      size_t points = 0;
      for (const auto &s : series) points += trend::decimate(s, 0, 86'399'000, 550).size();
      ms.push_back(t.nsecsElapsed() / 1e6);
      if (run == 0) std::printf("decimation of a day to 550 columns: %zu points for 8 series\n", points);
    }
    std::printf("decimation alone, 8 series of a day: median %.2f ms\n", bench::percentile(ms, 0.5));
    std::printf("trend rings: %zu samples, %.1f bytes per sample held (RSS %ld -> %ld KiB, %.1f bytes per sample)\n",
                samples, double(bytes) / samples, before, after, (after - before) * 1024.0 / samples);
  }
  {
    const long before = rssKiB();
    journal::JournalModel model;
    std::vector<journal::Event> events;
    const qint64 t = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < 100'000; ++i) {
      // mostly lamps and modules (shared detail texts), a link message now and then
      const int source = i % journal::kSources;
      const QString detail = source == journal::kLinkSource ? QStringLiteral("Asynchronous socket error %1").arg(i)
                             : source > journal::kAcSource ? QStringLiteral("短路")
                                                            : QString();
      events.push_back({t + i, uint16_t(source), i % 2 ? journal::Kind::Cleared : journal::Kind::Raised, detail});
      if (events.size() == 1000) {
        model.append(events);
        events.clear();
      }
    }
    const long after = rssKiB();
    std::printf("journal: %d events, RSS %ld -> %ld KiB (%.2f MB, %.0f bytes per event)\n", model.rowCount(), before,
                after, (after - before) / 1024.0, (after - before) * 1024.0 / model.rowCount());
  }
}

// An answer as the hooks read it: every measurement of `answer` a value that changes with the
// cycle i, no alarm bit set.
void answerOfCycle(TestForm &form, StatusAnswer answer, int i) {
  std::fill(std::begin(form.payload), std::end(form.payload), uint8_t(0));
  int b = 0;
  for (const status::Measurement &m : status::measurements()) {
    if (m.answer != answer) continue;
    const int value = 400 + (i * (b + 3)) % 290 + b;
    if (m.encoding == status::Encoding::Unsigned8) {
      form.payload[4 + m.offset] = uint8_t(value % 100);
    } else {
      form.payload[4 + m.offset] = uint8_t(value >> 8);
      form.payload[5 + m.offset] = uint8_t(value);
    }
    ++b;
  }
}

// Feeds the window a day of polling through its hooks, one cycle a second, the values changing.
void fillDay(TestForm &form, qint64 &now) {
  for (int i = 0; i < 86'400; ++i) {
    now += 1000;
    answerOfCycle(form, StatusAnswer::System, i);
    form.monitorStatusShown(StatusAnswer::System);
    answerOfCycle(form, StatusAnswer::Ac, i);
    form.monitorStatusShown(StatusAnswer::Ac);
    form.monitorModulesShown();
  }
}

// One new sample stepMs later (the time of a pixel, after which the chart moves on), the chart updated and painted in full (grabbed into an
// image, so the paint is never skipped or put off): milliseconds per redraw.
std::vector<double> redraws(TestForm &form, qint64 &now, int count, qint64 stepMs) {
  std::vector<double> ms;
  for (int i = 0; i < count; ++i) {
    now += stepMs;
    answerOfCycle(form, StatusAnswer::System, i);
    QElapsedTimer t;
    t.start();
    form.monitorStatusShown(StatusAnswer::System);
    const double hook = t.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();
    const double events = t.nsecsElapsed() / 1e6;
    form.TrendChart->grab();  // painted in full, now
    ms.push_back(t.nsecsElapsed() / 1e6);
    if (getenv("BENCH_SPLIT")) std::printf("  hook %.2f, events %.2f, paint %.2f ms\n", hook, events - hook, ms.back() - events);
  }
  return ms;
}

}  // namespace

int main(int argc, char **argv) {
  bench::choosePlatform();
  QApplication app(argc, argv);
  int seconds = 60;
  bool cpu = true;
  int redrawCount = 40;
  for (int i = 1; i < argc; ++i) {
    if (qstrcmp(argv[i], "--no-cpu") == 0) cpu = false;
    if (i + 1 < argc && qstrcmp(argv[i], "--redraws") == 0) redrawCount = std::max(1, atoi(argv[++i]));
    if (i + 1 < argc && qstrcmp(argv[i], "--seconds") == 0) seconds = std::max(10, atoi(argv[++i]));
  }
  SetMessageBoxHook([](const QString &t, const QString &c) {
    std::fprintf(stderr, "message: %s (%s)\n", qPrintable(t), qPrintable(c));
  });
  std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
  memory();

  {
    TestForm form;
    form.show();
    qint64 now = QDateTime::currentMSecsSinceEpoch() - 86'400'000LL;
    form.monitorClock = [&now] { return now; };
    QElapsedTimer fill;
    fill.start();
    fillDay(form, now);
    std::printf("a day of polls through the hooks (tab not shown): %.2f us per cycle\n", fill.nsecsElapsed() / 1e3 / 86'400);
    form.PageControl1->setCurrentWidget(form.TabSheetTrend);
    QCoreApplication::processEvents();
    form.ComboBoxTrendWindow->setCurrentIndex(0);
    const std::vector<double> short10 = redraws(form, now, redrawCount, 1000);
    form.ComboBoxTrendWindow->setCurrentIndex(2);
    const std::vector<double> day = redraws(form, now, redrawCount, 200'000);
    const double a = bench::percentile(short10, 0.5), b = bench::percentile(day, 0.5);
    std::printf("chart redraw after a new sample, 8 series of a full day: 10-minute window median %.2f ms (max %.2f), "
                "24-hour window median %.2f ms (max %.2f), ratio %.2f\n",
                a, bench::percentile(short10, 1), b, bench::percentile(day, 1), b / a);
  }
  if (!cpu) return 0;

  simlaunch::Powersim sim({QStringLiteral("--modules"), QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12")});
  const quint16 port = sim.port();
  if (!sim.ok()) return std::fprintf(stderr, "powersim did not start\n"), 1;
  TestForm form;
  form.show();
  bench::openLan(form, port);
  if (!bench::waitFor([&] { return form.lanConnected; }, 5000)) return std::fprintf(stderr, "no connection\n"), 1;
  form.PageControl1->setCurrentIndex(1);
  if (!bench::waitFor([&] { return form.StringGrid2->Cells(1, 12) == QStringLiteral("开机"); }, 10000))
    return std::fprintf(stderr, "module 12 never shown\n"), 1;
  form.Button4Click();
  const std::vector<double> statusShown = cpuWindows(seconds);

  // the trend tab shown, the polling going on behind it with "后台监视" ticked
  form.findChild<QCheckBox *>(QStringLiteral("CheckBoxMonitor"))->setChecked(true);
  form.PageControl1->setCurrentWidget(form.TabSheetTrend);
  const std::vector<double> trendShown = cpuWindows(seconds);
  const bool timedOut = form.panelText(1) == QStringLiteral("通讯超时");
  form.Button29->click();
  sim.process().terminate();
  sim.process().waitForFinished(3000);

  auto show = [](const char *what, const std::vector<double> &v) {
    std::printf("%s: median %.3f %% of a core per 10 s window (", what, bench::percentile(v, 0.5));
    for (double x : v) std::printf(" %.3f", x);
    std::printf(" )\n");
  };
  show("status page shown, polling 12 modules", statusShown);
  show("trend tab shown, polling 12 modules behind it", trendShown);
  if (timedOut) std::printf("a request timed out during the run\n");
  return 0;
}
