// Live or stale, reconnecting, stopping a chain and the history count, through the window's
// controls against a scripted controller on loopback.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QElapsedTimer>
#include <QComboBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "support/FormFixture.h"
#include "support/Powersim.h"
#include "support/ScriptedPeer.h"
#include "support/ScriptedPlant.h"
#include "window/Controls.h"
#include "tests/support/TestForm.h"

using namespace testsupport;

namespace {

const QColor kGrey(160, 160, 160), kGreen(0, 255, 0);

// A controller with module 3 fitted (its fault code in moduleState[3].fault) that answers any
// other request with data {0, 1}; silent while `mute`.
struct StatusController : ScriptedPlant {
  StatusController() {
    status = bytes({0x14, 0xE6}) + QByteArray(16, '\0');
    modules = {3};
    moduleState[3] = {0, 0, 0x54};
    others = bytes({0, 1});
  }
};

bool allLamps(const TestForm &f, const QColor &c) {
  for (const TShape *s : f.TabSheet2->findChildren<TShape *>())
    if (s->BrushColor() != c) return false;
  return true;
}
bool boxesEnabled(const TestForm &f) { return f.findChild<QLineEdit *>("Edit16")->isEnabled(); }

}  // namespace

class TestLiveE2e : public QObject {
  Q_OBJECT
 private slots:
  // The window's timers run at a quarter of their periods (polling, the time-out and the reconnect delays).
  void init() { SteadyTimer::setTimeScale(0.25); }
  void cleanup() { SteadyTimer::setTimeScale(1.0); }
  void valuesGoStaleAndComeBack() {
    MessageRecorder boxes;
    TestForm f;
    QVERIFY(allLamps(f, kGrey) && !boxesEnabled(f));  // nothing known at start-up
    StatusController c;
    c.moduleState[3].fault = 3;
    QVERIFY(openLan(f, c.peer.port()));
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return allLamps(f, kGreen) && boxesEnabled(f) && f.StringGrid2->Cells(4, 3) == "短路"; }, 5000));
    screenshot(f, 1, "status-live.png");
    // the controller falls silent: grey within 4 s, back with the next answer
    c.mute = true;
    QElapsedTimer t;
    t.start();
    QVERIFY(waitFor([&] { return allLamps(f, kGrey) && !boxesEnabled(f); }, 5000));
    QVERIFY2(t.elapsed() < 4500, qPrintable(QString::number(t.elapsed())));
    screenshot(f, 1, "status-stale.png");
    QVERIFY(f.findChild<QLabel *>("LabelLastAnswer")->text().startsWith(QStringLiteral("最后应答：")));
    c.mute = false;
    QVERIFY(waitFor([&] { return allLamps(f, kGreen) && boxesEnabled(f); }, 15000));
    // closed: grey at once
    click(f, "Button29");
    QVERIFY(waitFor([&] { return allLamps(f, kGrey) && !boxesEnabled(f); }, 1000));
    // a controller without the fault, reached anew, never shows the old "短路"
    StatusController healthy;
    QVERIFY(openLan(f, healthy.peer.port()));
    QStringList cells;
    QVERIFY(waitFor([&] {
      cells << f.StringGrid2->Cells(4, 3);
      return f.StringGrid2->Cells(1, 3) == QStringLiteral("开机") || f.StringGrid2->Cells(1, 3) == QStringLiteral("关机");
    }, 5000));
    QVERIFY2(!cells.contains(QStringLiteral("短路")), qPrintable(cells.join(',')));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // Answers that fail their checksum are never shown: the value and the alarm they carry reach
  // no box, lamp or journal row, and the page goes stale as it does when the controller is
  // silent. Sound again, the same answers are shown.
  void damagedAnswersShowNothing() {
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    QVERIFY(openLan(f, plant.peer.port()));
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return allLamps(f, kGreen) && plant.cycles() >= 1; }, 5000));
    const QString lastAnswer = f.findChild<QLabel *>("LabelLastAnswer")->text();
    plant.damaged = true;
    plant.status[0] = 0x15;   // 56.06 V
    plant.status[17] = 0x04;  // door
    QVERIFY(waitFor([&] { return allLamps(f, kGrey) && !boxesEnabled(f); }, 5000));
    QVERIFY(plant.count("42/16") >= 2);
    QCOMPARE(f.panelText(1), QStringLiteral("返回数据校验错！！"));
    QCOMPARE(text(f, "Edit16"), QStringLiteral("53.5"));
    // no door alarm from a damaged answer; the journal only says the controller is not heard
    QVERIFY(waitFor([&] { return f.AlarmJournal->model()->rowCount() == 1; }, 3000));
    QCOMPARE(f.AlarmJournal->model()->index(0, 3).data().toString(), QStringLiteral("通讯中断：控制器 3 s 无应答"));
    QCOMPARE(f.findChild<QLabel *>("LabelLastAnswer")->text(), lastAnswer);
    plant.damaged = false;
    // heard again ("恢复"), then the door
    QVERIFY(waitFor([&] { return text(f, "Edit16") == QStringLiteral("56.06") && f.AlarmJournal->model()->rowCount() == 3; },
                    10000));
    QCOMPARE(f.AlarmJournal->model()->index(2, 1).data().toString(), QStringLiteral("门禁"));
    QVERIFY(boxes.boxes.isEmpty());
  }

  void aDroppedLinkReconnectsWhenAsked() {
    MessageRecorder boxes;
    TestForm f;
    auto c = std::make_unique<StatusController>();
    QVERIFY(!f.findChild<QCheckBox *>("CheckBoxAutoReconnect")->isChecked());
    f.findChild<QCheckBox *>("CheckBoxAutoReconnect")->setChecked(true);
    QVERIFY(openLan(f, c->peer.port()));
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return c->peer.requests > 3; }, 5000));
    c->peer.dropClient();
    QVERIFY(waitFor([&] { return f.panelText(0).contains(QStringLiteral("重连")); }, 3000));
    QElapsedTimer t;
    t.start();
    QVERIFY(waitFor([&] { return c->peer.connections == 2 && f.lanConnected; }, 3000));
    QVERIFY2(t.elapsed() < 1800, qPrintable(QString::number(t.elapsed())));
    const int before = c->peer.requests;
    QVERIFY(waitFor([&] { return c->peer.requests > before + 2; }, 5000));  // polling goes on
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(memoLines(f).filter(QStringLiteral("已重新连接")).size(), 1);

    // nothing listens any more: the tries go on until the link button stops them
    c.reset();
    QVERIFY(waitFor([&] { return memoLines(f).filter(QStringLiteral("重连失败")).size() >= 1; }, 6000));
    QCOMPARE(f.Button29->text(), QStringLiteral("COLSE"));
    click(f, "Button29");
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!f.panelText(0).contains(QStringLiteral("重连")));
    const int lines = memoLines(f).size();
    QVERIFY(!f.findChild<SteadyTimer *>(QStringLiteral("ReconnectTimer"))->isEnabled());  // no try is due
    QCoreApplication::processEvents();
    QCOMPARE(memoLines(f).size(), lines);  // no more tries
    QVERIFY(boxes.boxes.isEmpty());
  }

  // With "后台监视" ticked polling goes on on page 1, and the operator's read goes before the
  // polls that wait.
  void backgroundMonitoringPollsBehindTheOperator() {
    MessageRecorder boxes;
    TestForm f;
    StatusController c;
    QList<QByteArray> seen;
    auto respond = c.peer.respond;
    c.peer.respond = [&](const QByteArray &r) {  // each answer 50 ms late
      seen << r.left(7);
      const QByteArray a = respond(r);
      QTimer::singleShot(50, &c.peer, [&c, a] { c.peer.send(a); });
      return QByteArray();
    };
    QVERIFY(openLan(f, c.peer.port()));
    f.PageControl1->setCurrentIndex(0);
    QTest::qWait(1500);
    QVERIFY(!seen.contains("~014216"));  // unticked: no polling off the status page
    f.findChild<QCheckBox *>("CheckBoxMonitor")->setChecked(true);
    QVERIFY(waitFor([&] { return seen.count("~014216") >= 2; }, 5000));
    QVERIFY(waitFor([&] { return seen.size() > 0 && seen.last() == "~014216"; }, 5000));  // a cycle begins
    const int at = seen.size();
    click(f, "Button5");
    QVERIFY(waitFor([&] { return seen.contains("~014006"); }, 3000));
    QVERIFY(seen.indexOf("~014006") - at <= 1);  // at most the poll already on the line first
    QVERIFY(waitFor([&] { return seen.count("~014216") >= 4; }, 5000));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // A serial device that goes away and comes back (an unplugged adapter, here a simulator's
  // pseudo-terminal behind a fixed link): no box, and the link opens again by itself.
  void aVanishedSerialDeviceIsOpenedAgain() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ctrl"));
    auto sim = std::make_unique<Powersim>(QStringList{QStringLiteral("--link"), path});
    QVERIFY(sim->ok());
    TestForm f;
    f.findChild<QCheckBox *>("CheckBoxAutoReconnect")->setChecked(true);
    openSerial(f, path);
    QVERIFY(f.linkOpen && f.serialLink);
    sim.reset();
    QVERIFY(waitFor([&] { return !f.linkOpen && f.panelText(0).contains(QStringLiteral("重连")); }, 5000));
    QVERIFY(waitFor([&] { return memoLines(f).filter(QStringLiteral("重连失败")).size() >= 1; }, 5000));
    sim = std::make_unique<Powersim>(QStringList{QStringLiteral("--link"), path});
    QVERIFY(sim->ok());
    QVERIFY(waitFor([&] { return f.linkOpen && f.serialLink; }, 10000));
    click(f, "Button5");
    QVERIFY(waitFor([&] { return text(f, "Edit5") != QStringLiteral("0"); }, 3000));
    QVERIFY(boxes.boxes.isEmpty());
  }

  void escapeCancelsARefresh() {
    MessageRecorder boxes;
    TestForm f;
    ScriptedPeer peer;
    peer.respond = [&](const QByteArray &req) {
      const auto p = proto::parseFrame(req.toStdString()).frame;
      QByteArray a = answer(p.cid1, 0, bytes({0, 1}));
      QTimer::singleShot(40, &peer, [&peer, a] { peer.send(a); });
      return QByteArray();
    };
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QVERIFY(openLan(f, peer.port()));
    click(f, "Button24");
    QVERIFY(waitFor([&] { return peer.requests >= 5; }, 5000));
    QTest::keyClick(&f, Qt::Key_Escape);
    QVERIFY2(f.panelText(0).contains(QStringLiteral("停在")) && f.panelText(0).endsWith(QStringLiteral("已取消")),
             qPrintable(f.panelText(0)));
    const int sent = peer.requests;
    // the request on the line is answered, and nothing follows it
    QVERIFY(waitFor([&] { return f.exchange().idle(); }, 3000));
    QCoreApplication::processEvents();
    QCOMPARE(peer.requests, sent);
    QVERIFY(!f.page1Refresh);
  }

  void fetchingRecordsReadsTheCountFirst() {
    MessageRecorder boxes;
    Powersim sim({QStringLiteral("--records"), QStringLiteral("12")});
    TestForm f;
    QVERIFY(openLan(f, sim));
    f.Button4Click();
    click(f, "Button40");
    QVERIFY(waitFor([&] { return f.panelText(0).endsWith(QStringLiteral("读取记录 12/12 完成")); }, 10000));
    QCOMPARE(f.findChild<QLabel *>("LabelRecordCount")->text(), QStringLiteral("记录数：12"));
    const QStringList requests = requestLines(f);
    QCOMPARE(requests.first(), requestLine(0x42, 0x90, bytes({0, 1, 1, 1, 1, 1})));
    QCOMPARE(f.ValueListEditor1->rowCount(), 12);
  }
};

QTEST_MAIN(TestLiveE2e)
#include "test_live_e2e.moc"
