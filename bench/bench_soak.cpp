// A soak run: the shown window, status page in front, against the controller simulator with
// twelve modules and every kind of fault injected, for a given time. Now and then it presses
// the one-key refreshes of both parameter pages and the history read-out (those present),
// drops the link (the operator closes it, or the simulator takes another client) and opens
// it again, alternating the LAN link and the serial line (the simulator's pseudo-terminal).
// It reports over time what an operator who leaves the tool running would notice first:
// the longest gap in status polling, exceptions that escaped a handler, memory, threads,
// descriptors and the size of the protocol log.
//   bench_soak [minutes] [fault rate]     default 1 minute, 0.05
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include "window/ProtocolLog.h"
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "window/HandlerSupport.h"
#include "tests/support/TestForm.h"

#include "bench/BenchSupport.h"

namespace {

long openDescriptors() { return static_cast<long>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size()); }

struct Range {
  long first = -1, low = 0, high = 0, last = 0;
  void add(long v) {
    if (first < 0) first = low = high = v;
    low = std::min(low, v);
    high = std::max(high, v);
    last = v;
  }
};

}  // namespace

int main(int argc, char **argv) {
  bench::choosePlatform();
  QApplication app(argc, argv);
  const double minutes = argc > 1 ? std::max(0.1, atof(argv[1])) : 1.0;
  const QString rate = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("0.05");
  const qint64 totalMs = static_cast<qint64>(minutes * 60000);
  // a line a minute, or ten lines in a short run
  const qint64 reportMs = std::max<qint64>(10000, std::min<qint64>(60000, totalMs / 10));
  const qint64 dropMs = 40000, refreshMs = 15000;

  int exceptions = 0, socketErrors = 0, otherBoxes = 0;
  SetMessageBoxHook([&](const QString &text, const QString &caption) {
    if (caption != QLatin1String(kApplicationTitle)) {
      ++otherBoxes;
    } else if (text.startsWith(QStringLiteral("Asynchronous socket error"))) {
      ++socketErrors;  // the dropped LAN link, as the operator is told
    } else {
      if (++exceptions <= 5) std::printf("exception in a handler: %s\n", qPrintable(text));
    }
  });

  QStringList args{QStringLiteral("--seed"), QStringLiteral("7"), QStringLiteral("--modules"),
                   QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12"), QStringLiteral("--records"), QStringLiteral("40"),
                   QStringLiteral("--verbose")};
  for (const char *fault : {"--fault-checksum", "--fault-silent", "--fault-late", "--fault-split", "--fault-rtn",
                            "--fault-noise"})
    args << QString::fromLatin1(fault) << rate;
  args << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0") << QStringLiteral("--pty");
  simlaunch::Powersim sim(args);
  if (!sim.ok()) return std::fprintf(stderr, "powersim did not start\n"), 1;

  TestForm form;
  form.show();
  form.PageControl1->setCurrentWidget(form.TabSheet2);  // the status page, polled every second

  // the one-key actions of the other pages, those that exist in this build
  QList<QPushButton *> actions;
  for (const char *name : {"Button24", "Button88", "Button146", "Button40"})
    if (auto *b = form.findChild<QPushButton *>(QString::fromLatin1(name))) actions << b;

  int opens = 0, drops = 0, lanDrops = 0, kicks = 0, polls = 0, pressed = 0;
  auto open = [&] {
    const bool lan = opens++ % 2 == 0;
    if (lan) {
      form.RadioButton2->click();
      form.Edit13->setText(QStringLiteral("127.0.0.1"));
      form.Edit12->setText(QString::number(sim.port()));
    } else {
      form.RadioButton1->click();
      form.ComboBox1->setEditText(sim.ptyPath());
    }
    form.Button29->click();
  };

  QElapsedTimer clock;
  clock.start();
  qint64 lastPoll = -1;        // when the status read was last sent on a usable link
  qint64 gapSinceReport = 0, gapWorst = 0, gapAfterFirstMinute = 0;
  bool pollingSeen = false;
  qint64 nextReport = reportMs, nextDrop = dropMs, nextRefresh = refreshMs / 2;
  Range rss, threads, fds;
  long rssFirstMinutes = 0;

  std::printf("soak %.1f min at fault rate %s, 12 modules, one-key actions present: %lld\n", minutes,
              qPrintable(rate), static_cast<long long>(actions.size()));
  std::printf("%6s %8s %8s %6s %5s %9s %7s %4s %10s %6s %5s\n", "t/s", "gap/s", "worst/s", "polls", "exc",
              "RSS/KiB", "threads", "fds", "log lines", "drops", "boxes");
  open();
  QByteArray simLog;
  while (clock.elapsed() < totalMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 now = clock.elapsed();
    const bool usable = form.linkOpen && (form.serialLink || form.lanConnected);

    // A poll is a status read that reached the controller: the simulator logs every request
    // it takes. A reopened link starts the gap afresh.
    simLog += sim.process().readAllStandardError();
    for (int eol; (eol = simLog.indexOf('\n')) >= 0; simLog.remove(0, eol + 1)) {
      if (!usable || !simLog.left(eol).contains(" rx ~0142160")) continue;
      if (lastPoll >= 0) {
        const qint64 gap = now - lastPoll;
        gapSinceReport = std::max(gapSinceReport, gap);
        gapWorst = std::max(gapWorst, gap);
        if (now > 60000) gapAfterFirstMinute = std::max(gapAfterFirstMinute, gap);
      }
      lastPoll = now;
      ++polls;
      pollingSeen = true;
    }
    if (!usable) lastPoll = -1;

    if (!form.linkOpen) open();  // dropped by the peer: the operator opens it again
    if (now >= nextDrop) {
      nextDrop += dropMs;
      ++drops;
      if (!form.serialLink && form.lanConnected && lanDrops++ % 2 == 0) {
        // the simulator takes a new client and drops the window's connection
        QTcpSocket rival;
        rival.connectToHost(QStringLiteral("127.0.0.1"), sim.port());
        rival.waitForConnected(2000);
        bench::waitFor([&] { return !form.linkOpen; }, 3000);
        rival.abort();
        ++kicks;
      } else if (form.linkOpen) {
        form.Button29->click();  // "COLSE"
      }
      if (!form.linkOpen) open();
    }
    if (now >= nextRefresh && !actions.isEmpty()) {
      nextRefresh += refreshMs;
      actions[pressed++ % actions.size()]->click();
    }
    if (now >= nextReport) {
      nextReport += reportMs;
      rss.add(bench::rssKiB());
      threads.add(bench::procStatus("Threads"));
      fds.add(openDescriptors());
      if (now <= 120000) rssFirstMinutes = rss.last;
      std::printf("%6lld %8.1f %8.1f %6d %5d %9ld %7ld %4ld %10d %6d %5d\n", static_cast<long long>(now / 1000),
                  gapSinceReport / 1000.0, gapWorst / 1000.0, polls, exceptions, rss.last, threads.last, fds.last,
                  form.Memo1->lineCount(), drops, otherBoxes + socketErrors);
      std::fflush(stdout);
      gapSinceReport = 0;
    }
  }
  if (form.linkOpen) form.Button29->click();
  sim.process().terminate();
  sim.process().waitForFinished(3000);

  std::printf("summary: %d status polls, longest gap %.1f s (after the first minute %.1f s), %d exceptions in "
              "handlers, %d link drops (%d by the simulator), %d socket error messages, %d other message boxes, "
              "%d one-key actions pressed\n",
              polls, gapWorst / 1000.0, gapAfterFirstMinute / 1000.0, exceptions, drops, kicks, socketErrors,
              otherBoxes, pressed);
  std::printf("summary: RSS %ld KiB after the first minutes, %ld..%ld KiB in all, %ld at the end (%+.1f %%); "
              "threads %ld..%ld; descriptors %ld..%ld; log %d lines\n",
              rssFirstMinutes, rss.low, rss.high, rss.last,
              rssFirstMinutes > 0 ? 100.0 * (rss.last - rssFirstMinutes) / rssFirstMinutes : 0.0, threads.low,
              threads.high, fds.low, fds.high, form.Memo1->lineCount());
  return pollingSeen && exceptions == 0 ? 0 : 1;
}
