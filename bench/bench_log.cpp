// The protocol log at its cap: how long a line takes to log and show, and how much memory
// the window holds per line once the log keeps its newest lines.
//   bench_log [lines]     default 1 200 000 (the cap is 1 000 000)
// The lines are those of a status exchange: the request, the answer (18 data bytes) and the
// answer's checksum, with a decoder's "读错误！！" now and then.
#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

#include "bench/BenchSupport.h"
#include "protocol/Frame.h"
#include "window/ProtocolLog.h"
#include "tests/support/TestForm.h"

using bench::rssKiB;

int main(int argc, char **argv) {
  bench::choosePlatform();
  QApplication app(argc, argv);
  const int lines = argc > 1 ? std::max(1, atoi(argv[1])) : 1200000;
  TestForm form;
  form.show();
  QCoreApplication::processEvents();
  const QString exchange[3] = {
      QString::fromLatin1(proto::hexLogLine(proto::encodeFrame(1, 0x42, 0x16, {}))),
      QString::fromLatin1(proto::hexLogLine(proto::encodeFrame(1, 0x42, 0, std::vector<uint8_t>(18, 0x5A)))),
      QStringLiteral("3C")};
  const long before = rssKiB();
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < lines; ++i) {
    form.log(i % 1000 == 999 ? QStringLiteral("读错误！！") : exchange[i % 3]);
    if (i % 1000 == 0) QCoreApplication::processEvents();  // the log shows its batches
  }
  form.Memo1->flush();
  QCoreApplication::processEvents();
  const double us = t.nsecsElapsed() / 1e3 / lines;
  const long after = rssKiB();
  const int kept = form.Memo1->lineCount();
  qint64 chars = 0;
  for (const QString &line : exchange) chars += line.size();
  std::printf("log: %d lines logged (%.0f characters on average), %.2f us per line logged and shown; %d lines kept; "
              "RSS %ld KiB -> %ld KiB (%.1f bytes per kept line)\n",
              lines, chars / 3.0, us, kept, before, after, (after - before) * 1024.0 / kept);
  form.Button4Click();
  std::printf("after 清除协议信息: RSS %ld KiB\n", rssKiB());
  return 0;
}
