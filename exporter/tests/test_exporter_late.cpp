// The exporter's poll against a controller that answers in order but now and then late, or
// stalls: no metric ever carries the value of another request than its own. The controller
// (tests/support/Witness.h) answers request k with k in the status read's humidity, the AC
// read's voltage and a module's current, so every value on the page names the request it came
// from, which must be of its own kind: module 3's readings never show as module 7's.
#include <QtTest>

#include "ExporterProcess.h"
#include "support/Witness.h"

using namespace exportertest;
using testsupport::Witness;

class TestExporterLate : public QObject {
  Q_OBJECT
 private slots:
  void lateAndStalledAnswersNeverShowAsAnothers() {
    Witness w;
    w.modules = testsupport::bytes({3, 7});
    Exporter ex({"--interval", "0.5", "--controller", QStringLiteral("w=tcp://127.0.0.1:%1").arg(w.peer.port())});
    QVERIFY(ex.port());
    const QString series[] = {QStringLiteral("powerhost_ambient_humidity_ratio{controller=\"w\"}"),
                              QStringLiteral("powerhost_ac_input_voltage_volts{controller=\"w\"}"),
                              QStringLiteral("powerhost_rectifier_output_current_amperes{controller=\"w\",module=\"3\"}"),
                              QStringLiteral("powerhost_rectifier_output_current_amperes{controller=\"w\",module=\"7\"}")};
    const char *const kinds[] = {"42/16", "40/01", "41/0E 03", "41/0E 07"};
    const int scale[] = {1000, 10, 100, 100};  // humidity in tenths of a percent, as a ratio
    QStringList wrong;
    int pages = 0, completed = 0;
    QString lastPoll;
    // every page scraped: each value is the answer to a request of its own kind
    auto scrape = [&] {
      const QByteArray page = ex.metrics();
      ++pages;
      const QString at = seriesValue(page, QStringLiteral("powerhost_last_poll_timestamp_seconds{controller=\"w\"}"));
      if (at.isNull()) return;
      if (at != lastPoll) ++completed;
      lastPoll = at;
      for (int i = 0; i < 4; ++i) {
        // a reading older than the max-age is not served: absent is honest, never wrong
        const QString shown = seriesValue(page, series[i]);
        if (shown.isNull()) continue;
        const int k = qRound(shown.toDouble() * scale[i]);
        if (w.requests.value(k) != QLatin1String(kinds[i]))
          wrong << QStringLiteral("%1 = %2, the answer to %3").arg(series[i], seriesValue(page, series[i]), w.requests.value(k));
      }
    };
    auto scrapeUntil = [&](const std::function<bool()> &done, int timeoutMs) {
      QElapsedTimer t;
      t.start();
      while (!done() && t.elapsed() < timeoutMs) {
        scrape();
        QTest::qWait(50);
      }
      return done();
    };
    QVERIFY(scrapeUntil([&] { return completed >= 2; }, 10000));

    // module 3's readings 2.5 s late, then the status read 1.5 s late: each poll meets a time-out
    for (const char *late : {"41/0E 03", "42/16"}) {
      bool once = false;
      const QString which = QString::fromLatin1(late);
      w.lateMs = [&](int, const QString &r) {
        return r == which && !std::exchange(once, true) ? (r == QLatin1String("42/16") ? 1500 : 2500) : 0;
      };
      QVERIFY(scrapeUntil([&] { return once; }, 5000));
      const int before = completed;
      QVERIFY(scrapeUntil([&] { return completed >= before + 2; }, 15000));
    }
    // a stall of 5 s in the module phase, everything answered in order when it wakes
    w.lateMs = nullptr;
    w.stallAt = QStringLiteral("41/0E 07");
    QVERIFY(scrapeUntil([&] { return w.stallAt.isEmpty(); }, 5000));
    QElapsedTimer stalled;
    stalled.start();
    scrapeUntil([&] { return stalled.elapsed() > 5000; }, 6000);
    w.peer.stall(false);
    const int before = completed;
    QVERIFY(scrapeUntil([&] { return completed >= before + 2; }, 15000));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    QVERIFY(pages > 50);
    QCOMPARE(ex.terminate(), 0);
  }
};

QTEST_GUILESS_MAIN(TestExporterLate)
#include "test_exporter_late.moc"
