// The alarm journal, the trends and the recording end to end: the window polls a scripted
// controller over loopback TCP, the test changes what the controller reports and reads the
// journal, the chart and the recorded file through the controls.
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>

#include <time.h>

#include "pages/AlarmJournal.h"
#include "pages/ClockZone.h"
#include "protocol/Status.h"
#include "pages/TrendChart.h"
#include "pages/TrendStore.h"
#include "support/FormFixture.h"
#include "support/ScriptedPlant.h"
#include "support/TestSupport.h"
#include "window/TableExport.h"

using namespace testsupport;

namespace {

// The journal's rows as the view shows them.
QList<QStringList> journalRows(const TestForm &f) {
  QList<QStringList> rows;
  const QAbstractItemModel *m = f.AlarmJournal->model();
  for (int r = 0; r < m->rowCount(); ++r) {
    QStringList row;
    for (int c = 0; c < m->columnCount(); ++c) row << m->index(r, c).data(Qt::DisplayRole).toString();
    rows << row;
  }
  return rows;
}
// 来源, 事件 and 详情 of the journal's rows from `from` on.
QStringList journalEvents(const TestForm &f, int from = 0) {
  QStringList out;
  const QList<QStringList> rows = journalRows(f);
  for (int r = from; r < rows.size(); ++r) out << rows[r].mid(1).join(QLatin1Char(' '));
  return out;
}

QAction *action(const TestForm &f, const char *name) {
  auto *a = f.findChild<QAction *>(QString::fromLatin1(name));
  if (!a) qFatal("no action %s", name);
  return a;
}

// The quantity of that name, -1 for none.
int quantity(const QString &name) {
  for (int q = 0; q < trend::kQuantities; ++q)
    if (QString::fromUtf8(trend::quantities()[size_t(q)].name) == name) return q;
  return -1;
}

}  // namespace

class TestMonitorE2E : public QObject {
  Q_OBJECT
 private slots:
  // The window's timers run at a quarter of their periods (polling and the time-out).
  void init() { SteadyTimer::setTimeScale(0.25); }
  void cleanup() { SteadyTimer::setTimeScale(1.0); }
  void journalRecordsAlarmsModulesAndTheLink() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    QList<bool> alerts;  // outlives the window
    TestForm f;
    f.alarmAlert = [&](bool sound) { alerts << sound; };
    QCOMPARE(f.PageControl1->tabText(5), QStringLiteral("告警记录"));
    QVERIFY(!f.backgroundMonitoring());
    QVERIFY(f.CheckBoxAlarmSound->isChecked());
    QVERIFY(pollPlant(f, plant));
    QCOMPARE(journalEvents(f), QStringList());  // nothing raised: the first answers make no rows

    // the door alarm rises and clears
    plant.status[17] = 0x04;
    QVERIFY(waitFor([&] { return journalEvents(f) == QStringList{"门禁 告警 "}; }, 5000));
    QCOMPARE(alerts, QList<bool>{true});
    f.CheckBoxAlarmSound->setChecked(false);
    plant.status[17] = 0;
    QVERIFY(waitFor([&] { return journalEvents(f).size() == 2; }, 5000));
    QCOMPARE(journalEvents(f, 1), QStringList{"门禁 恢复 "});
    const QString time = journalRows(f)[1][0];
    // in the status-bar clock's zone, whatever the PC's
    const QDateTime shown = QDateTime::fromString(time, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY(shown.isValid());
    const QDateTime clock = QDateTime::fromString(clockzone::dateTime(QDateTime::currentMSecsSinceEpoch()), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY(qAbs(shown.secsTo(clock)) < 10);

    // module 2 reports a short circuit, then recovers; an AC power failure
    plant.moduleState[2] = {0x24, 3};
    plant.ac[4] = 0x01;
    QVERIFY(waitFor([&] { return journalEvents(f).size() == 4; }, 5000));
    QStringList raised = journalEvents(f, 2);
    raised.sort();
    QCOMPARE(raised, (QStringList{"交流 告警 掉电", "模块2 告警 短路"}));
    QCOMPARE(alerts, (QList<bool>{true, false, false}));  // muted: no sound, still a notice
    plant.moduleState[2] = {0, 0};
    QVERIFY(waitFor([&] { return journalEvents(f).size() == 5; }, 5000));
    QCOMPARE(journalEvents(f, 4), QStringList{"模块2 恢复 正常"});

    // the link is lost and comes back
    plant.peer.dropClient();
    QVERIFY(waitFor([&] { return journalEvents(f).size() == 6; }, 5000));
    QVERIFY(journalEvents(f, 5).first().startsWith(QStringLiteral("通讯 告警 Asynchronous socket error")));
    QVERIFY(openLan(f, plant.peer.port()));
    QVERIFY(waitFor([&] { return journalEvents(f).size() == 7; }, 5000));
    QVERIFY(journalEvents(f, 6).first().startsWith(QStringLiteral("通讯 恢复 ")));
    // the AC alarm still set after the link came back makes no second row
    const int cycles = plant.cycles();
    QVERIFY(waitFor([&] { return plant.cycles() >= cycles + 2; }, 5000));
    QCOMPARE(journalEvents(f).size(), 7);

    // the export writes what the view shows
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("告警记录.csv"));
    {
      SaveAs answer(path);
      QVERIFY(f.AlarmJournal->actions().contains(action(f, "actionExportAlarms")));
      action(f, "actionExportAlarms")->trigger();
    }
    waitForWrites();
    QCOMPARE(fileBytes(path), csvText(QList<QStringList>{{"时间(UTC+8)", "来源", "事件", "详情"}} + journalRows(f)));
    QCOMPARE(boxes.boxes.size(), 1);  // the lost link's own message
  }

  void trendsFollowThePolls() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    plant.statusAnswers = 3;
    TestForm f;
    QVERIFY(openLan(f, plant.peer.port()));
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return plant.cycles() == 3 && plant.count("42/16") > 3; }, 10000));

    f.PageControl1->setCurrentIndex(6);
    QCOMPARE(f.PageControl1->currentWidget(), f.TabSheetTrend);
    QCOMPARE(f.PageControl1->tabText(6), QStringLiteral("趋势"));
    double moduleSum = 0;
    for (int n : plant.modules) moduleSum += (0x0300 + 0x48 + n) / 100.0;
    for (int q = 0; q < trend::kQuantities; ++q) {
      const trend::Quantity &quantity = trend::quantities()[size_t(q)];
      QVERIFY(waitFor([&] { return f.TrendChart->points(q).size() == 3; }, 3000));
      const double shown = quantity.box ? text(f, quantity.box).toDouble() : moduleSum;
      for (const QPointF &p : f.TrendChart->points(q)) QCOMPARE(p.y(), shown);
    }
    QCOMPARE(f.TrendChart->points(quantity(QStringLiteral("-48V输出电压"))).front().y(), 53.5);

    // the window choice sets the time axis
    const QList<qint64> spans = {10 * 60, 60 * 60, 24 * 60 * 60};
    for (int i : {2, 1, 0}) {
      f.ComboBoxTrendWindow->setCurrentIndex(i);
      QCOMPARE((f.TrendChart->viewEnd() - f.TrendChart->viewBegin()) / 1000, spans[i]);
    }
    QCOMPARE(f.ComboBoxTrendWindow->itemText(1), QStringLiteral("1小时"));

    // a click on a legend entry hides its line
    const int ac = quantity(QStringLiteral("交流输入"));
    QTest::mouseClick(f.TrendChart, Qt::LeftButton, {}, f.TrendChart->legendRect(ac).center());
    QVERIFY(!f.TrendChart->lineShown(ac));

    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("趋势.png"));
    {
      SaveAs answer(png);
      action(f, "actionExportTrendPng")->trigger();
    }
    waitForWrites();
    QVERIFY(!QImage(png).isNull());
    const QString csv = dir.filePath(QStringLiteral("趋势.csv"));
    {
      SaveAs answer(csv);
      action(f, "actionExportTrendCsv")->trigger();
    }
    waitForWrites();
    const QList<QByteArray> lines = fileBytes(csv).split('\n');
    QCOMPARE(lines.size(), 1 + 3 + 1);  // heading, one row per poll, nothing after the last CR LF
    QVERIFY(lines[1].contains(",220,53.5,24,1.2,25,25.5,45,"));
    QVERIFY(boxes.boxes.isEmpty());
  }

  void recordingWritesARowPerCycle() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    plant.modules = {1, 3};
    TestForm f;
    QVERIFY(pollPlant(f, plant));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("状态记录.csv"));
    QCOMPARE(f.ButtonRecord->text(), QStringLiteral("记录到CSV…"));
    QCOMPARE(f.actionRecordCsv->text(), QStringLiteral("记录到CSV…"));
    {
      SaveAs answer(path);
      click(f, "ButtonRecord");
    }
    QCOMPARE(f.ButtonRecord->text(), QStringLiteral("停止记录"));
    const int from = plant.cycles();
    QVERIFY(waitFor([&] { return plant.cycles() >= from + 2; }, 5000));
    f.actionRecordCsv->trigger();  // the second click stops
    QVERIFY(!f.recording());
    QCOMPARE(f.ButtonRecord->text(), QStringLiteral("记录到CSV…"));
    const int recorded = plant.cycles() - from;
    const QByteArray written = fileBytes(path);
    QVERIFY(waitFor([&] { return plant.cycles() >= from + recorded + 1; }, 5000));
    QCOMPARE(fileBytes(path), written);  // closed: nothing more

    QVERIFY(written.startsWith("\xEF\xBB\xBF"));
    QList<QByteArray> lines = written.mid(3).split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.size(), 1 + recorded);
    QVERIFY(lines[0].startsWith("时间(UTC+8),-48V输出电压,电池电流,"));
    for (int i = 1; i < lines.size(); ++i) {
      const QStringList fields = QString::fromUtf8(lines[i].trimmed()).split(QLatin1Char(','));
      QCOMPARE(fields.size(), 1 + 8 + 2 + 19 + 60);
      QStringList shown;
      for (const status::Measurement &m : status::measurements()) shown << text(f, m.box);
      QCOMPARE(fields.mid(1, 8), shown);
      QCOMPARE(fields.mid(9, 2), (QStringList{"浮充", "正常"}));
      QCOMPARE(fields.mid(30, 5), (QStringList{"1", "开机", "53.5", "8.41", "正常"}));
      QCOMPARE(fields.mid(35, 5), (QStringList{"0", "不在位", "0", "0", "正常"}));
      QCOMPARE(fields.mid(40, 5), (QStringList{"1", "开机", "53.5", "8.43", "正常"}));
    }

    // a device that takes nothing: recording stops, and the operator is told
    {
      SaveAs answer(QStringLiteral("/dev/full"));
      click(f, "ButtonRecord");
    }
    QVERIFY(waitFor([&] { return !boxes.boxes.isEmpty(); }, 5000));
    QVERIFY(!f.recording());
    QCOMPARE(f.ButtonRecord->text(), QStringLiteral("记录到CSV…"));
    QVERIFY2(boxes.boxes.first().first.contains(QStringLiteral("/dev/full")), qPrintable(boxes.boxes.first().first));
    QCOMPARE(boxes.boxes.first().second, QStringLiteral("error"));
  }

  // A link that flaps for ever cannot push an alarm out: 1 000 door alarms, then 200 000 drops
  // and returns of the link, each after it had stayed up for a minute (so none is merged and
  // every one makes its two rows), fed through the window's own hooks on a clock of its own.
  void linkFlapsCannotPushAlarmsOut() {
    MessageRecorder boxes;
    TestForm f;
    qint64 now = QDateTime(QDate(2024, 3, 5), QTime(8, 0)).toMSecsSinceEpoch();
    f.monitorClock = [&] { return now; };
    int alerts = 0;
    f.alarmAlert = [&](bool) { ++alerts; };
    for (int i = 0; i < 2000; ++i) {
      now += 1000;
      f.payload[4 + 17] = i % 2 ? 0 : 0x04;  // the door: raised, cleared
      f.monitorStatusShown(StatusAnswer::System);
    }
    QCOMPARE(f.AlarmJournal->model()->rowCount(), 2000);
    QCOMPARE(alerts, 34);  // one a minute: 2 000 s of a rising and falling door
    f.monitorLinkEvent(true, QStringLiteral("已连接"));
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 200'000; ++i) {
      now += 61'000;
      f.monitorLinkEvent(false, QStringLiteral("断开"));
      now += 1000;
      f.monitorLinkEvent(true, QStringLiteral("已连接"));
    }
    qInfo("200 000 flaps through the hooks in %lld ms", t.elapsed());
    const auto *model = qobject_cast<const journal::JournalModel *>(f.AlarmJournal->model());
    QVERIFY(model);
    int door = 0, raised = 0;
    for (int r = 0; r < model->rowCount(); ++r)
      if (model->eventAt(r).source != journal::kLinkSource) {
        ++door;
        raised += model->eventAt(r).kind == journal::Kind::Raised;
      }
    QCOMPARE(door, 2000);  // every alarm row still there
    QCOMPARE(raised, 1000);
    QVERIFY(model->linkRows() <= journal::JournalModel::kLinkCapacity);
    QCOMPARE(journalEvents(f).last(), QStringLiteral("通讯 恢复 已连接"));  // the newest kept

    // the view follows the newest row, unless the operator has scrolled up
    f.PageControl1->setCurrentIndex(5);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QScrollBar *bar = f.AlarmJournal->verticalScrollBar();
    QVERIFY(waitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }, 5000));
    bar->setValue(bar->maximum() / 2);
    const int at = bar->value();
    now += 61'000;
    f.monitorLinkEvent(false, QStringLiteral("断开"));
    QVERIFY(waitFor([&] { return !f.AlarmJournal->model()->rowCount() || bar->maximum() > 0; }, 1000));
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), at);
    bar->setValue(bar->maximum());
    f.monitorLinkEvent(true, QStringLiteral("已连接"));
    const int rows = f.AlarmJournal->model()->rowCount();
    QVERIFY(waitFor([&] { return f.AlarmJournal->rowAt(f.AlarmJournal->viewport()->height() - 2) == rows - 1; }, 5000));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // Exporting 200 000 rows while the window polls: the event loop never stalls for long, the
  // polls go on, the old file stays until the new one is whole, and the new one is whole.
  void aLargeExportLeavesTheWindowResponsive() {
    TimeScale fast(0.1);  // a poll every 100 ms
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    QVERIFY(pollPlant(f, plant));
    auto *model = qobject_cast<journal::JournalModel *>(f.AlarmJournal->model());
    std::vector<journal::Event> rows;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < 200'000; ++i)
      rows.push_back({t0 + i, uint16_t(i % journal::kLinkSource), i % 2 ? journal::Kind::Cleared : journal::Kind::Raised,
                      i % 3 ? QString() : QStringLiteral("短路")});
    model->append(rows);
    QList<QStringList> shown{journal::JournalModel::headings()};
    for (int r = 0; r < model->rowCount(); ++r) shown << model->rowTexts(r);
    const QByteArray expected = csvText(shown);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("告警记录.csv"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    // the probe: a 5 ms timer; a stall is the time between its ticks beyond its period, on the
    // wall clock and in the CPU time of the window's thread (which load on the machine leaves alone)
    auto cpuMs = [] {
      timespec ts;
      ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
      return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
    };
    double wallStall = 0, cpuStall = 0, lastCpu = cpuMs();
    QElapsedTimer wall;
    wall.start();
    qint64 lastWall = 0;
    bool torn = false;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
      const qint64 w = wall.elapsed();
      const double c = cpuMs();
      wallStall = std::max(wallStall, double(w - lastWall - 5));
      cpuStall = std::max(cpuStall, c - lastCpu);
      lastWall = w;
      lastCpu = c;
      const qint64 size = QFileInfo(path).size();
      if (size != 3 && size != expected.size()) torn = true;  // the old file, or all of the new one
    });
    probe.start(5);
    const int pollsBefore = plant.cycles();
    wall.restart();
    lastCpu = cpuMs();
    {
      SaveAs answer(path);
      action(f, "actionExportAlarms")->trigger();
    }
    QVERIFY(waitFor([&] { return writesInBackground() == 0; }, 60000));
    const qint64 took = wall.elapsed();
    const int polls = plant.cycles() - pollsBefore;
    probe.stop();
    qInfo("export of 200 000 rows: %lld ms while %d polls went on; longest stall %.0f ms (event thread's CPU %.1f ms)",
          took, polls, wallStall, cpuStall);
    QVERIFY(!torn);
    QCOMPARE(fileBytes(path), expected);
    QVERIFY2(cpuStall <= 100, qPrintable(QString::number(cpuStall)));
    // Polling went on while the file was written: one poll is due each 100 ms. A window whose
    // thread the export held would make none; half the pace leaves room for a loaded machine
    // (the checked builds run several times slower), where a poll's own exchange takes longer.
    QVERIFY2(polls >= took / 200, qPrintable(QStringLiteral("%1 polls in %2 ms").arg(polls).arg(took)));
    QVERIFY(boxes.boxes.isEmpty());
  }
};

QTEST_MAIN(TestMonitorE2E)
#include "test_monitor_e2e.moc"
