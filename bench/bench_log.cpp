// The protocol log at its cap: how long a line takes to append and how much memory the
// window holds once the log keeps its newest 100 000 lines.
//   bench_log [lines]     default 150000
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>

#include <cstdio>

#include "protocol/Frame.h"
#include "window/Unit1.h"

#include "bench/BenchSupport.h"

using bench::rssKiB;

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int lines = argc > 1 ? std::max(1, atoi(argv[1])) : 150000;
  TForm1 form;
  form.show();
  QCoreApplication::processEvents();
  // a typical answer line: a status answer of 18 data bytes
  const QString line = QString::fromLatin1(proto::hexLogLine(proto::encodeFrame(1, 0x42, 0, std::vector<uint8_t>(18, 0x5A))));
  const long before = rssKiB();
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < lines; ++i) {
    form.log(line);
    if (i % 1000 == 0) QCoreApplication::processEvents();
  }
  const double us = t.nsecsElapsed() / 1e3 / lines;
  QCoreApplication::processEvents();
  const long after = rssKiB();
  std::printf("log: %d lines of %lld characters appended, %.1f us per line; %d lines kept; RSS %ld KiB -> %ld KiB "
              "(%.0f bytes per kept line)\n",
              lines, static_cast<long long>(line.size()), us, form.Memo1->blockCount(), before, after,
              (after - before) * 1024.0 / form.Memo1->blockCount());
  return 0;
}
