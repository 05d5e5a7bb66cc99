// Measures the page-1 one-key refresh over a serial line: the simulator plays the controller
// on a pseudo-terminal paced as a 9600-baud line, and the window opens it through its link
// controls. Compares the chain's wall time with what the line itself needs: the wire time of
// every answer's characters (10 bits each) plus the turnaround guard of 3.5 character times
// the host keeps before each request.
//   bench_serial [runs] [baud]     default 10 runs after 1 warm-up run, 9600 baud
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "link/Comm.h"
#include "window/HandlerSupport.h"
#include "tests/support/TestForm.h"

#include "bench/BenchSupport.h"

int main(int argc, char **argv) {
  bench::choosePlatform();
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
  const int baud = argc > 2 ? std::max(300, atoi(argv[2])) : 9600;
  SetMessageBoxHook([](const QString &t, const QString &c) {
    std::fprintf(stderr, "message: %s (%s)\n", qPrintable(t), qPrintable(c));
  });

  simlaunch::Powersim sim({QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--pty")});
  const QString pty = sim.ptyPath();
  if (!sim.ok()) return std::fprintf(stderr, "powersim did not start\n"), 1;

  TestForm form;
  form.ComboBox1->setEditText(pty);
  form.Edit12->setText(QString::number(baud));
  form.Button29->click();
  if (!form.linkOpen) return std::fprintf(stderr, "the serial link did not open\n"), 1;

  // Counts what arrives, then lets the window handle it as usual.
  long long chars = 0, answers = 0;
  const TReceiveDataEvent windowHandler = form.Comm1->OnReceiveData;
  form.Comm1->OnReceiveData = [&](QObject *sender, const char *buffer, uint16_t length) {
    chars += length;
    ++answers;
    windowHandler(sender, buffer, length);
  };

  const double charMs = 10.0 * 1000.0 / baud;
  std::vector<double> chainMs, lineMs, ratios;
  for (int i = 0; i < runs + 1; ++i) {
    form.Button4Click();
    chars = answers = 0;
    QElapsedTimer t;
    t.start();
    form.Button24Click();
    // The window's own event loop runs the chain and sleeps between events, as it does for
    // an operator; the end is looked for every millisecond.
    double ms = 0;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
      if (form.page1Refresh && t.elapsed() < 60000) return;
      ms = double(t.nsecsElapsed()) / 1e6;
      loop.quit();
    });
    check.start(1);
    loop.exec();
    if (form.page1Refresh) return std::fprintf(stderr, "chain stalled\n"), 1;
    if (form.panelText(1) == QStringLiteral("通讯超时")) return std::fprintf(stderr, "time-out\n"), 1;
    const double line = (double(chars) + 3.5 * double(answers)) * charMs;
    if (i == 0) continue;
    chainMs.push_back(ms);
    lineMs.push_back(line);
    ratios.push_back(ms / line);
  }
  form.Button29->click();
  sim.process().terminate();
  sim.process().waitForFinished(3000);
  std::printf("serial page-1 chain at %d baud, %d runs: median %.0f ms; the line needs %.0f ms "
              "(answers' characters + guards); ratio median %.2f (min %.2f, max %.2f)\n",
              baud, runs, bench::percentile(chainMs, 0.5), bench::percentile(lineMs, 0.5), bench::percentile(ratios, 0.5),
              bench::percentile(ratios, 0), bench::percentile(ratios, 1));
  return 0;
}
