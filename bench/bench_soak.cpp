// A soak run: the window against the controller simulator with every kind of fault injected,
// refresh chains and writes back to back, for a given time. Reports what got through and how
// the process's memory moved, so a leak or a hang shows up as a number.
//   bench_soak [seconds] [fault rate]     default 60 s, 0.05
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include "window/ProtocolLog.h"
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>

#include <cstdio>

#include "window/Unit1.h"
#include "window/HandlerSupport.h"

#include "bench/BenchSupport.h"

using bench::rssKiB;

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
  const QString rate = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("0.05");
  int boxes = 0;
  SetMessageBoxHook([&](const QString &, const QString &) { ++boxes; });

  QProcess sim;
  QStringList args{QStringLiteral("--seed"), QStringLiteral("7"), QStringLiteral("--delay-ms"), QStringLiteral("1200")};
  for (const char *fault : {"--fault-checksum", "--fault-silent", "--fault-late", "--fault-split", "--fault-rtn",
                            "--fault-noise"})
    args << QString::fromLatin1(fault) << rate;
  const quint16 port = bench::startPowersim(sim, args);
  if (!port) return std::fprintf(stderr, "powersim did not start\n"), 1;

  TForm1 form;
  bench::openLan(form, port);

  const long rssStart = rssKiB();
  long rssMax = rssStart;
  int chains = 0, restarts = 0, timeouts = 0, badChecksums = 0, writes = 0;
  QString lastPanel;
  QElapsedTimer total, progress;
  total.start();
  progress.start();
  int lastPending = -1;
  bool running = false;
  while (total.elapsed() < seconds * 1000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const QString panel = form.panelText(1);
    if (panel != lastPanel) {
      if (panel == QStringLiteral("通讯超时")) ++timeouts;
      if (panel == QStringLiteral("返回数据校验错！！")) ++badChecksums;
      lastPanel = panel;
    }
    if (form.pendingCid2 != lastPending) {
      lastPending = form.pendingCid2;
      progress.restart();
    }
    if (!form.lanConnected && !form.linkOpen) form.Button29->click();  // reopen after a link error
    if (running && !form.page1Refresh) {
      running = false;
      ++chains;
    }
    if (!running && form.lanConnected) {
      if (chains % 5 == 4) {  // now and then a write in between
        form.findChild<QLineEdit *>(QStringLiteral("Edit36"))->setText(QStringLiteral("53.5"));
        form.findChild<QPushButton *>(QStringLiteral("Button59"))->click();
        ++writes;
      }
      form.Button24Click();
      running = true;
      progress.restart();
    } else if (running && progress.elapsed() > 2500) {
      // a damaged answer stops the chain without a time-out; the operator presses it again
      ++restarts;
      form.Button24Click();
      progress.restart();
    }
    if (total.elapsed() % 1000 < 6) rssMax = std::max(rssMax, rssKiB());
  }
  const long rssEnd = rssKiB();
  form.Button29->click();
  sim.terminate();
  sim.waitForFinished(3000);
  std::printf("soak %d s at fault rate %s: %d chains completed, %d restarted after a damaged answer, "
              "%d time-outs, %d checksum errors, %d writes, %d message boxes, %d log lines\n",
              seconds, qPrintable(rate), chains, restarts, timeouts, badChecksums, writes, boxes,
              form.Memo1->lineCount());
  std::printf("memory: RSS %ld KiB at start, %ld KiB at the end, %ld KiB at most\n", rssStart, rssEnd, rssMax);
  return 0;
}
