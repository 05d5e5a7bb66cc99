// Reconnecting with "自动重连": the waits between tries, and a peer that accepts every connection
// and closes it at once, for five minutes of the window's time (its timers run fast).
#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>

#include "link/Reconnect.h"
#include "pages/AlarmJournal.h"
#include "support/FormFixture.h"
#include "support/ScriptedPlant.h"

using namespace testsupport;

namespace {

// The journal's rows of the link: 事件 and 详情.
QStringList linkRows(const TestForm &f) {
  QStringList out;
  const QAbstractItemModel *m = f.AlarmJournal->model();
  for (int r = 0; r < m->rowCount(); ++r)
    if (m->index(r, 1).data().toString() == QStringLiteral("通讯"))
      out << m->index(r, 2).data().toString() + QLatin1Char(' ') + m->index(r, 3).data().toString();
  return out;
}

QString lastAnswer(const TestForm &f) { return f.findChild<QLabel *>(QStringLiteral("LabelLastAnswer"))->text(); }

}  // namespace

class TestReconnect : public QObject {
  Q_OBJECT
 private slots:
  void waitsGrowUntilTheControllerAnswers() {
    Reconnect r;
    QVERIFY(!r.active());
    QList<int> waits;
    waits << r.lost();  // the drop
    for (int i = 0; i < 8; ++i) {
      QCOMPARE(r.begin(), i + 1);
      if (i % 2) r.opened();  // connected, then dropped before any answer: a failed try all the same
      QCOMPARE(r.phase(), i % 2 ? Reconnect::Phase::Unconfirmed : Reconnect::Phase::Opening);
      if (i % 2 == 0) QVERIFY(!r.answered());  // no link up yet: nothing answered on it
      waits << r.lost();
    }
    QCOMPARE(waits, (QList<int>{1, 2, 4, 8, 16, 30, 30, 30, 30}));
    QCOMPARE(r.tries(), 8);
    QCOMPARE(r.begin(), 9);
    r.opened();
    QVERIFY(r.answered());
    QVERIFY(!r.active());
    QCOMPARE(r.tries(), 0);
    QCOMPARE(r.lost(), 1);  // the next drop starts from the shortest wait
    r.stop();
    QVERIFY(!r.active());
    QVERIFY(!r.answered());
  }

  // A peer that accepts and closes at once, for five minutes: at most 13 tries (1, 2, 4, 8, 16 s,
  // then every 30 s), the log counting them, a handful of journal rows, one alert a minute,
  // and the time of the last answer kept. When the controller answers again, the tries end.
  void anAcceptThenDropPeerCannotMakeAStorm() {
    const double scale = 0.02;  // five minutes in six seconds
    TimeScale fast(scale);
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    QElapsedTimer clock;
    clock.start();
    const qint64 epoch = QDateTime::currentMSecsSinceEpoch();
    f.monitorClock = [&] { return epoch + qint64(clock.elapsed() / scale); };  // the window's time
    int alerts = 0;
    f.alarmAlert = [&](bool) { ++alerts; };
    f.findChild<QCheckBox *>(QStringLiteral("CheckBoxAutoReconnect"))->setChecked(true);
    QVERIFY(pollPlant(f, plant));
    QVERIFY(waitFor([&] { return lastAnswer(f).startsWith(QStringLiteral("最后应答：")); }, 5000));
    const QString answeredAt = lastAnswer(f);

    plant.peer.dropOnAccept = true;
    plant.peer.dropClient();
    QVERIFY(waitFor([&] { return !memoLines(f).filter(QStringLiteral("连接断开")).isEmpty(); }, 5000));
    QElapsedTimer storm;
    storm.start();
    const int connections = plant.peer.connections;
    QVERIFY(waitFor([&] { return storm.elapsed() >= 300'000 * scale; }, 300'000));
    const int tries = plant.peer.connections - connections;
    const int alertsIn5Minutes = alerts;
    const QStringList log = memoLines(f);
    QList<int> waits, numbers;
    const QRegularExpression next(QStringLiteral("(\\d+) s 后第 (\\d+) 次重连$"));
    for (const QString &line : log)
      if (const auto m = next.match(line); m.hasMatch()) {
        waits << m.captured(1).toInt();
        numbers << m.captured(2).toInt();
      }
    QStringList waitTexts;
    for (int w : waits) waitTexts << QString::number(w);
    qInfo("tries in 5 minutes: %d; waits in the log: %s; rows of the link: %s; alerts in 5 minutes: %d", tries,
          qPrintable(waitTexts.join(QLatin1Char(','))), qPrintable(linkRows(f).join(QStringLiteral(" | "))),
          alertsIn5Minutes);
    QVERIFY2(tries >= 5 && tries <= 13, qPrintable(QString::number(tries)));
    QVERIFY(waits.size() >= tries);
    for (int i = 0; i < waits.size(); ++i) {
      QCOMPARE(waits[i], Reconnect::kDelaysS[size_t(std::min(i, 5))]);  // 1, 2, 4, 8, 16, 30, 30 …
      QCOMPARE(numbers[i], i + 1);                                      // every try counted
    }
    QVERIFY(log.filter(QStringLiteral("次重连：已连接，等待控制器应答")).size() >= tries);
    QVERIFY(log.filter(QStringLiteral("已重新连接")).isEmpty());
    QVERIFY2(linkRows(f).size() <= 3, qPrintable(linkRows(f).join(QStringLiteral(" | "))));
    QVERIFY2(linkRows(f).last().startsWith(QStringLiteral("告警 连接中断 ×")) ||
                 linkRows(f).last().startsWith(QStringLiteral("恢复 连接中断 ×")),
             qPrintable(linkRows(f).last()));
    QVERIFY2(alertsIn5Minutes >= 1 && alertsIn5Minutes <= 6, qPrintable(QString::number(alertsIn5Minutes)));  // one a minute
    QCOMPARE(lastAnswer(f), answeredAt + QStringLiteral("（连接中断）"));
    QVERIFY(boxes.boxes.isEmpty());

    // the controller is back: the next try is answered, and the tries end there
    plant.peer.dropOnAccept = false;
    QVERIFY(waitFor([&] { return !memoLines(f).filter(QStringLiteral("已重新连接")).isEmpty(); }, 5000));
    QVERIFY(waitFor([&] { return !lastAnswer(f).contains(QStringLiteral("（")); }, 5000));
    QVERIFY(f.panelText(0).startsWith(QStringLiteral("LAN 127.0.0.1:")) && !f.panelText(0).contains(QStringLiteral("重连")));
    QVERIFY(waitFor([&] { return linkRows(f).last().startsWith(QStringLiteral("恢复 ")); }, 5000));
    QVERIFY(linkRows(f).size() <= 3);
    // a drop now starts from the shortest wait again
    plant.peer.dropClient();
    QVERIFY(waitFor([&] { return memoLines(f).filter(QStringLiteral("连接断开")).size() == 2; }, 5000));
    QVERIFY(memoLines(f).filter(QStringLiteral("连接断开")).last().endsWith(QStringLiteral("1 s 后第 1 次重连")));
  }

  // Unticking "自动重连" while a try's link is up keeps that link; while waiting for a try, it
  // stops the tries and the link stays closed.
  void untickingStopsTheTries() {
    TimeScale fast(0.2);
    MessageRecorder boxes;
    ScriptedPlant plant;
    plant.mute = true;  // connects, never answers: a try that stays unconfirmed
    TestForm f;
    auto *box = f.findChild<QCheckBox *>(QStringLiteral("CheckBoxAutoReconnect"));
    auto *timer = f.findChild<SteadyTimer *>(QStringLiteral("ReconnectTimer"));
    box->setChecked(true);
    QVERIFY(openLan(f, plant.peer.port()));
    plant.peer.dropClient();
    QVERIFY(waitFor([&] { return !memoLines(f).filter(QStringLiteral("等待控制器应答")).isEmpty() && f.lanConnected; }, 5000));
    QVERIFY(f.panelText(0).contains(QStringLiteral("第 1 次重连：已连接，等待应答")));
    box->setChecked(false);
    QVERIFY(f.lanConnected && f.linkOpen);
    QCOMPARE(f.Button29->text(), QStringLiteral("COLSE"));
    QVERIFY(!f.panelText(0).contains(QStringLiteral("重连")));
    // ticked again and dropped: unticked while the next try waits, the link stays closed
    box->setChecked(true);
    plant.peer.dropClient();
    QVERIFY(waitFor([&] { return !f.linkOpen && timer->isEnabled(); }, 5000));
    box->setChecked(false);
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!timer->isEnabled());  // no try is due
    QVERIFY(boxes.boxes.isEmpty());
  }
};

QTEST_MAIN(TestReconnect)
#include "test_reconnect.moc"
