// The window against the controller simulator with late answers and with every fault kind, a
// short version of bench/bench_late: nothing the status page shows is another request's answer
// (checked against every frame the simulator sent, tests/support/SimTruth.h), and the page
// stays live through faults.
#include <QtTest>

#include "support/FormFixture.h"
#include "support/Powersim.h"
#include "support/SimTruth.h"

using namespace testsupport;

class TestSimLate : public QObject {
  Q_OBJECT
 private slots:
  void lateAnswersShowNothingThatIsNotTheirs() {
    MessageRecorder boxes;
    Powersim sim({QStringLiteral("--modules"), QStringLiteral("1,2,3"), QStringLiteral("--fault-late"),
                  QStringLiteral("0.2"), QStringLiteral("--delay-ms"), QStringLiteral("2500")});
    QVERIFY(sim.ok());
    TruthProxy proxy(sim.port());
    TestForm f;
    QVERIFY(openLan(f, proxy.port()));
    f.PageControl1->setCurrentIndex(1);
    StatusTruth truth(f, proxy);
    QVERIFY(waitFor([&] { return truth.samples >= 10; }, 15000));
    qInfo("%d samples, %d live; %d values decoded", truth.samples, truth.liveSamples, truth.decodes);
    QVERIFY2(truth.wrongDecodes == 0 && truth.wrongSamples == 0, qPrintable(truth.wrong.join('\n')));
    QVERIFY(truth.decodes >= 10);
    QVERIFY(memoLines(f).contains(QStringLiteral("迟到的应答，不解码")));
    QVERIFY(boxes.boxes.isEmpty());
  }

  void everyFaultKindLeavesThePageLive() {
    MessageRecorder boxes;
    QStringList options{QStringLiteral("--modules"), QStringLiteral("1,2,3")};
    for (const char *kind : {"checksum", "silent", "late", "split", "rtn", "noise"})
      options << QStringLiteral("--fault-%1").arg(QLatin1String(kind)) << QStringLiteral("0.05");
    Powersim sim(options);
    TestForm f;
    QVERIFY(openLan(f, sim));
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return f.findChild<QLineEdit *>("Edit16")->isEnabled(); }, 5000));
    int samples = 0, live = 0;
    QTimer clock;
    connect(&clock, &QTimer::timeout, [&] {
      ++samples;
      live += f.findChild<QLineEdit *>("Edit16")->isEnabled();
    });
    clock.start(1000);
    QVERIFY(waitFor([&] { return samples >= 10; }, 15000));
    qInfo("live in %d of %d one-second samples", live, samples);
    QVERIFY(live * 2 >= samples);  // the bench's two minutes give the figure; here, the page recovers
    QVERIFY(boxes.boxes.isEmpty());
  }
};

QTEST_MAIN(TestSimLate)
#include "test_sim_late.moc"
