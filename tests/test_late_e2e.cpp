// However late an answer comes, it never fills another request's box: the window through its
// controls against a controller (support/Witness.h) that answers every request in order and
// can answer any of them late, or stall (it keeps receiving, and answers everything when it
// wakes).
//
// The controller's answers name their requests: a box that shows number k shows the answer to
// request k. Since the window asks one thing at a time, when it shows it k must be the last
// request the controller received, and a read of that box's command. Every box and the lamps
// and rows of the journal are watched for as long as each test runs; the recorded rows and the
// trend's samples are checked after it.
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>

#include "pages/ParamTable.h"
#include "pages/TrendStore.h"
#include "protocol/Commands.h"
#include "protocol/Conversions.h"
#include "protocol/Status.h"
#include "support/FormFixture.h"
#include "support/Pty.h"
#include "support/ScriptedPeer.h"
#include "support/Witness.h"
#include "support/TestSupport.h"
#include "window/Controls.h"

using namespace testsupport;

namespace {

constexpr double kScale = 0.2;  // a second of the window's (and the controller's) takes 200 ms
int scaled(int ms) { return int(ms * kScale); }

QString cidsOf(proto::Command c) {
  const proto::CommandDef &d = proto::commandDef(c);
  return QStringLiteral("%1/%2").arg(d.cid1, 2, 16, QLatin1Char('0')).arg(d.cid2, 2, 16, QLatin1Char('0')).toUpper();
}

// Watches every box of both parameter pages and the status page from now on; what it saw
// that was no answer to its own request is in `wrong`.
struct Watch {
  Witness &w;
  TestForm &f;
  QStringList wrong;
  bool on = true;
  QList<QMetaObject::Connection> connections;
  Watch(Witness &witness, TestForm &form) : w(witness), f(form) {
    // parameter boxes that show a two-byte value: the number of their own read
    for (std::span<const ParamRow> rows : {params::page1Rows(), params::page2Rows()})
      for (const ParamRow &row : rows) {
        auto *box = f.findChild<QLineEdit *>(QString::fromLatin1(row.control));
        if (!box || !row.read || params::bytesNeeded(row.shown) != 2 || row.contact) continue;
        const QString read = cidsOf(row.readCommand), name = QString::fromLatin1(row.control);
        const params::Shown shown = row.shown;
        connections << QObject::connect(box, &QLineEdit::textChanged, [this, read, name, shown](const QString &t) {
          const int k = int(w.requests.size()) - 1;
          if (on && !(w.answering(k, read) && t == params::wordText(shown, k)))
            wrong << QStringLiteral("%1 showed %2 while request %3 (%4) was answered").arg(name, t).arg(k).arg(w.requests.value(k));
        });
      }
    // the status page: the humidity is the status read's number, the AC voltage the AC read's
    for (auto [box, read] : {std::pair{"Edit19", "42/16"}, std::pair{"Edit14", "40/01"}}) {
      const QString name = QString::fromLatin1(box), command = QString::fromLatin1(read);
      connections << QObject::connect(f.findChild<QLineEdit *>(name), &QLineEdit::textChanged,
                                      [this, name, command](const QString &t) {
                                        const int k = int(w.requests.size()) - 1;
                                        if (on && !(w.answering(k, command) && t == proto::formatGeneral(k / 10.0)))
                                          wrong << QStringLiteral("%1 showed %2 while request %3 (%4) was answered")
                                                       .arg(name, t).arg(k).arg(w.requests.value(k));
                                      });
    }
    // a journal row is the door alarm of the status read being answered, with its lamp
    connections << QObject::connect(f.AlarmJournal->model(), &QAbstractItemModel::rowsInserted, [this](const QModelIndex &,
                                                                                                      int first, int last) {
      const int k = int(w.requests.size()) - 1;
      for (int r = first; r <= last; ++r) {
        const QString source = f.AlarmJournal->model()->index(r, 1).data().toString();
        const QString event = f.AlarmJournal->model()->index(r, 2).data().toString();
        if (source.contains(QStringLiteral("连接")) || source.contains(QStringLiteral("通信"))) continue;
        const bool raised = event == QStringLiteral("告警");
        const QColor lamp = f.findChild<TShape *>(QStringLiteral("Shape18"))->BrushColor();
        if (!(w.answering(k, QStringLiteral("42/16")) && source.contains(QStringLiteral("门")) && raised == bool(k % 2) &&
              lamp == (raised ? QColor(255, 0, 0) : QColor(0, 255, 0))))
          wrong << QStringLiteral("journal row %1 %2 while request %3 (%4) was answered").arg(source, event).arg(k).arg(w.requests.value(k));
      }
    });
  }
  ~Watch() {
    for (const auto &c : connections) QObject::disconnect(c);
  }
  // The module grid mirrors the module table: each fitted module's current is the number of
  // a readings request of that module.
  void checkGrid() {
    for (int n = 1; n <= 2; ++n) {
      const status::ModuleRecord &m = f.moduleTable[size_t(n)];
      const int k = m.current[0] * 256 + m.current[1];
      if (k && w.requests.value(k) != QStringLiteral("41/0E %1").arg(n, 2, 10, QLatin1Char('0')))
        wrong << QStringLiteral("module %1 holds %2, the answer to %3").arg(n).arg(k).arg(w.requests.value(k));
    }
  }
};

// The row of the recorded file: every number in it is the answer to a request of its own kind.
void checkRecording(const QString &path, const Witness &w, QStringList &wrong, int *rows) {
  QList<QByteArray> lines = fileBytes(path).mid(3).split('\n');
  lines.removeLast();
  const auto measurements = status::measurements();
  int humidity = -1, ac = -1, door = -1;
  for (size_t i = 0; i < measurements.size(); ++i) {
    if (qstrcmp(measurements[i].box, "Edit19") == 0) humidity = 1 + int(i);
    if (qstrcmp(measurements[i].box, "Edit14") == 0) ac = 1 + int(i);
  }
  const auto lamps = status::lamps();
  for (size_t i = 0; i < lamps.size(); ++i)
    if (qstrcmp(lamps[i].lamp, "Shape18") == 0) door = 1 + 8 + 2 + int(i);
  for (int r = 1; r < lines.size(); ++r) {
    const QStringList fields = QString::fromUtf8(lines[r].trimmed()).split(QLatin1Char(','));
    const int h = qRound(fields.value(humidity).toDouble() * 10), v = qRound(fields.value(ac).toDouble() * 10);
    if (w.requests.value(h) != QStringLiteral("42/16") || fields.value(door) != QString::number(h % 2))
      wrong << QStringLiteral("recorded humidity %1 and door %2").arg(fields.value(humidity), fields.value(door));
    if (w.requests.value(v) != QStringLiteral("40/01")) wrong << QStringLiteral("recorded AC %1").arg(fields.value(ac));
    for (int n = 1; n <= 2; ++n) {
      const int k = qRound(fields.value(1 + 8 + 2 + 19 + 5 * (n - 1) + 3).toDouble() * 100);
      if (w.requests.value(k) != QStringLiteral("41/0E %1").arg(n, 2, 10, QLatin1Char('0')))
        wrong << QStringLiteral("recorded module %1 current %2").arg(n).arg(k);
    }
  }
  *rows = int(lines.size()) - 1;
}

// The trend's samples, as the chart exports them: each AC and humidity sample is the answer
// to a request of its own kind.
void checkTrend(const QString &path, const Witness &w, QStringList &wrong, int *rows) {
  QList<QByteArray> lines = fileBytes(path).split('\n');
  lines.removeLast();
  const QStringList heading = QString::fromUtf8(lines.value(0).mid(3).trimmed()).split(QLatin1Char(','));
  const int ac = int(heading.indexOf(trend::boxName("Edit14"))), humidity = int(heading.indexOf(trend::boxName("Edit19")));
  for (int r = 1; r < lines.size(); ++r) {
    const QStringList cells = QString::fromUtf8(lines[r].trimmed()).split(QLatin1Char(','));
    for (auto [column, command] : {std::pair{ac, "40/01"}, std::pair{humidity, "42/16"}}) {
      if (cells.value(column).isEmpty()) continue;
      const int k = qRound(cells.value(column).toDouble() * 10);
      if (w.requests.value(k) != QLatin1String(command))
        wrong << QStringLiteral("trend sample %1 of %2").arg(cells.value(column), heading.value(column));
    }
  }
  *rows = int(lines.size()) - 1;
}

}  // namespace

class TestLateE2E : public QObject {
  Q_OBJECT
 private slots:
  void init() { SteadyTimer::setTimeScale(kScale); }
  void cleanup() { SteadyTimer::setTimeScale(1.0); }

  void lateAnswers_data() {
    QTest::addColumn<int>("lateMs");
    for (int late : {1500, 2500, 5000, 10000}) QTest::addRow("%d ms late", late) << late;
  }

  // Page 1's refresh with one step answered late, 一键刷新 pressed again meanwhile (and once
  // more if the refresh stopped): every box shows its own read's answer, the refresh ends
  // complete, and the status bar never calls a finished refresh interrupted.
  void pageOneRefreshWithALateStep_data() { lateAnswers_data(); }
  void pageOneRefreshWithALateStep() {
    QFETCH(int, lateMs);
    MessageRecorder boxes;
    Witness w(kScale);
    TestForm f;
    QVERIFY(openLan(f, w.peer.port()));
    Watch watch(w, f);
    int firstStep12 = -1;
    w.lateMs = [&](int k, const QString &r) {
      if (r != QLatin1String("42/37") || firstStep12 >= 0) return 0;
      firstStep12 = k;
      return lateMs;
    };
    QStringList panel;
    // the refresh has ended and the status bar says how
    auto ended = [&] {
      panel << f.panelText(0);
      return !f.page1Refresh && !f.exchange().has(TestForm::Page1Chain) &&
             (panel.last().endsWith(QStringLiteral("完成")) || panel.last().contains(QStringLiteral("停在")));
    };
    click(f, "Button24");
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("通讯超时"); }, 5000));
    click(f, "Button24");  // pressed again while the late answer is on its way
    QVERIFY(waitFor(ended, 20000));
    if (!f.panelText(0).endsWith(QStringLiteral("完成"))) {
      QVERIFY2(lateMs > 2000, qPrintable(f.panelText(0)));  // late past two resync reads: stopped
      // pressed again once the late answer is in: on a slow machine the stop can come before it
      QVERIFY(waitFor([&] { return w.peer.owed() == 0 && f.exchange().inStep(); }, 15000));
      click(f, "Button24");
      QVERIFY(waitFor(ended, 20000));
    }
    QVERIFY2(f.panelText(0).endsWith(QStringLiteral("参数1刷新 31/31 完成")), qPrintable(f.panelText(0)));
    QVERIFY(waitFor([&] { return w.peer.owed() == 0 && f.exchange().inStep(); }, 5000));
    QVERIFY2(watch.wrong.isEmpty(), qPrintable(watch.wrong.join('\n')));
    QVERIFY(memoLines(f).contains(QStringLiteral("迟到的应答，不解码")));
    // every box of the page shows the answer to the last read of its row
    for (const ParamRow &row : params::page1Rows()) {
      if (!row.read || params::bytesNeeded(row.shown) != 2) continue;
      const int k = int(w.requests.lastIndexOf(cidsOf(row.readCommand)));
      QCOMPARE(text(f, row.control), params::wordText(row.shown, k));
    }
    for (const QString &p : panel) QVERIFY2(!p.contains(QStringLiteral("中断")), qPrintable(p));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // Page 2's refresh with step 13 answered late: the refresh stops there with its flag kept
  // (after a time-out as after a read error), and a read of that step carries it on to its end.
  void pageTwoRefreshWithALateStep_data() { lateAnswers_data(); }
  void pageTwoRefreshWithALateStep() {
    QFETCH(int, lateMs);
    MessageRecorder boxes;
    Witness w(kScale);
    TestForm f;
    QVERIFY(openLan(f, w.peer.port()));
    Watch watch(w, f);
    bool once = false;
    w.lateMs = [&](int, const QString &r) { return r == QLatin1String("42/53") && !std::exchange(once, true) ? lateMs : 0; };
    click(f, "Button88");
    QVERIFY(waitFor([&] {
      return !f.exchange().has(TestForm::Page2Chain) && w.peer.owed() == 0 && f.exchange().inStep() &&
             (f.panelText(0).endsWith(QStringLiteral("完成")) || f.panelText(0).contains(QStringLiteral("停在")));
    }, 20000));
    if (!f.panelText(0).endsWith(QStringLiteral("参数2刷新 30/30 完成"))) {
      QVERIFY2(lateMs > 2000 && f.page2Refresh, qPrintable(f.panelText(0)));
      QVERIFY(f.panelText(0).endsWith(QStringLiteral("参数2刷新 停在 13/30：通讯超时")));
      const int before = int(w.requests.size());
      click(f, "Button132");  // the step that went unanswered: the refresh goes on from it
      QVERIFY(waitFor([&] { return f.panelText(0).endsWith(QStringLiteral("参数2刷新 30/30 完成")); }, 20000));
      QCOMPARE(int(w.requests.size()) - before, 30 - 12);
    }
    QVERIFY(!f.page2Refresh);
    QVERIFY2(watch.wrong.isEmpty(), qPrintable(watch.wrong.join('\n')));
    for (const ParamRow &row : params::page2Rows()) {
      if (!row.read || row.pos == 0 || params::bytesNeeded(row.shown) != 2 || row.contact) continue;
      QCOMPARE(text(f, row.control), params::wordText(row.shown, int(w.requests.lastIndexOf(cidsOf(row.readCommand)))));
    }
    QVERIFY(boxes.boxes.isEmpty());
  }

  // Status polling with 后台监视 ticked on the trend tab and recording on, one answer of the
  // cycle late: no box, lamp, grid row, journal row, trend sample or recorded row ever shows
  // another request's value, and polling goes on.
  void theStatusCycleWithALateAnswer_data() {
    QTest::addColumn<int>("lateMs");
    QTest::addColumn<QString>("late");  // the request answered late
    QTest::newRow("status read 1.5 s") << 1500 << QStringLiteral("42/16");
    QTest::newRow("AC read 2.5 s") << 2500 << QStringLiteral("40/01");
    QTest::newRow("module 1 5 s") << 5000 << QStringLiteral("41/0E 01");
    QTest::newRow("module 2 10 s") << 10000 << QStringLiteral("41/0E 02");
  }
  void theStatusCycleWithALateAnswer() {
    QFETCH(int, lateMs);
    QFETCH(QString, late);
    MessageRecorder boxes;
    Witness w(kScale);
    TestForm f;
    QVERIFY(openLan(f, w.peer.port()));
    Watch watch(w, f);
    f.findChild<QCheckBox *>("CheckBoxMonitor")->setChecked(true);
    f.PageControl1->setCurrentWidget(f.TabSheetTrend);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("状态记录.csv"));
    {
      SaveAs answer(path);
      click(f, "ButtonRecord");
    }
    QVERIFY(waitFor([&] { return w.requests.count(QStringLiteral("41/0E 02")) >= 2; }, 5000));
    bool once = false;
    w.lateMs = [&](int, const QString &r) { return r == late && !std::exchange(once, true) ? lateMs : 0; };
    QVERIFY(waitFor([&] { return once; }, 5000));
    const int cycles = int(w.requests.count(QStringLiteral("41/0E 02")));
    QVERIFY(waitFor([&] { return w.requests.count(QStringLiteral("41/0E 02")) >= cycles + 3; }, 20000));
    QVERIFY(memoLines(f).contains(QStringLiteral("迟到的应答，不解码")));
    watch.checkGrid();
    click(f, "ButtonRecord");
    int recorded = 0, sampled = 0;
    checkRecording(path, w, watch.wrong, &recorded);
    QVERIFY(recorded >= 4);
    const QString trendPath = dir.filePath(QStringLiteral("趋势.csv"));
    f.PageControl1->setCurrentIndex(0);
    f.PageControl1->setCurrentWidget(f.TabSheetTrend);  // drawn anew: the span ends now
    {
      SaveAs answer(trendPath);
      f.findChild<QAction *>(QStringLiteral("actionExportTrendCsv"))->trigger();
    }
    waitForWrites();
    checkTrend(trendPath, w, watch.wrong, &sampled);
    QVERIFY(sampled >= 4);
    QVERIFY2(watch.wrong.isEmpty(), qPrintable(watch.wrong.join('\n')));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // The controller stalls for 10 s, keeps receiving and then answers everything in order:
  // during page 1's refresh and during polling, nothing is shown that is not its own.
  void aStallDuringTheRefreshAndDuringPolling() {
    MessageRecorder boxes;
    Witness w(kScale);
    TestForm f;
    QVERIFY(openLan(f, w.peer.port()));
    Watch watch(w, f);
    click(f, "Button24");
    QVERIFY(waitFor([&] { return w.requests.size() >= 10; }, 5000));
    w.peer.stall(true);
    QTest::qWait(scaled(10000));
    w.peer.stall(false);
    QVERIFY(waitFor([&] { return !f.page1Refresh && !f.exchange().has(TestForm::Page1Chain); }, 20000));
    if (!f.panelText(0).endsWith(QStringLiteral("完成"))) {
      click(f, "Button24");
      QVERIFY(waitFor([&] { return f.panelText(0).endsWith(QStringLiteral("参数1刷新 31/31 完成")); }, 20000));
    }

    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return w.requests.count(QStringLiteral("41/0E 02")) >= 2; }, 5000));
    w.peer.stall(true);
    QTest::qWait(scaled(10000));
    w.peer.stall(false);
    const int cycles = int(w.requests.count(QStringLiteral("41/0E 02")));
    QVERIFY(waitFor([&] { return w.requests.count(QStringLiteral("41/0E 02")) >= cycles + 3; }, 20000));
    watch.checkGrid();
    QVERIFY2(watch.wrong.isEmpty(), qPrintable(watch.wrong.join('\n')));
    QVERIFY(memoLines(f).contains(QStringLiteral("迟到的应答，不解码")));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // The answer late past its time-out and the answer after it arrive in one read of the LAN:
  // each is a chunk, the late one is not decoded, and the box shows the answer to its own read.
  void twoAnswersInOneRead() {
    MessageRecorder boxes;
    Witness w(kScale);
    TestForm f;
    QVERIFY(openLan(f, w.peer.port()));
    Watch watch(w, f);
    w.lateMs = [](int k, const QString &) { return k == 0 ? 1500 : 0; };
    click(f, "Button5");  // 交流电压过高, answered late
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("通讯超时"); }, 5000));
    click(f, "Button7");  // 交流电压过低: waits until the line is back in step
    QVERIFY(waitFor([&] { return text(f, "Edit6") != QStringLiteral("0"); }, 5000));
    QCOMPARE(w.requests, (QStringList{"40/06", "40/01", "40/08"}));
    QCOMPARE(text(f, "Edit6"), QStringLiteral("0.2"));  // the answer to request 2
    QCOMPARE(text(f, "Edit5"), QStringLiteral("0"));
    // both answers came in one write: the late one and the AC read's, each logged as a chunk
    const QStringList log = memoLines(f);
    const int late = int(log.indexOf(QStringLiteral("迟到的应答，不解码")));
    QVERIFY(late > 0 && log.value(late + 2) == QStringLiteral("同步读的应答，线路恢复同步"));
    QVERIFY2(watch.wrong.isEmpty(), qPrintable(watch.wrong.join('\n')));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // Leaving the status page while the module phase runs: it runs on to the last fitted module.
  void theModulePhaseRunsToTheLastModule() {
    MessageRecorder boxes;
    Witness w(kScale);
    TestForm f;
    QVERIFY(openLan(f, w.peer.port()));
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return w.requests.count(QStringLiteral("41/0E 02")) >= 1; }, 5000));
    w.stallAt = QStringLiteral("41/0E 01");
    QVERIFY(waitFor([&] { return w.stallAt.isEmpty(); }, 5000));
    f.PageControl1->setCurrentIndex(0);  // polling is no longer wanted
    QVERIFY(!f.statusPolling);
    w.peer.stall(false);
    QVERIFY(waitFor([&] { return w.requests.last() == QStringLiteral("41/0E 02"); }, 5000));
    QVERIFY(waitFor([&] { return f.exchange().idle() && w.peer.owed() == 0; }, 5000));
    QCOMPARE(w.requests.last(), QStringLiteral("41/0E 02"));
    QVERIFY(boxes.boxes.isEmpty());
  }
};

QTEST_MAIN(TestLateE2E)
#include "test_late_e2e.moc"
