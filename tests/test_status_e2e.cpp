// The system status page end to end: the window over loopback TCP against the controller
// simulator, polling once a second while the page is shown. The window's timers run at a
// quarter of their periods, so a second of polling takes 250 ms and the 10 s watchdog 2.5 s.
#include <QtTest>

#include <QComboBox>
#include <QLabel>

#include "protocol/Conversions.h"
#include "protocol/Frame.h"
#include "sim/Controller.h"
#include "support/FormFixture.h"
#include "support/Powersim.h"
#include "support/ScriptedPeer.h"
#include "window/Controls.h"

using namespace testsupport;

namespace {

const QColor kRed(255, 0, 0), kGreen(0, 255, 0);

// The simulator in this process with its clock standing still, so every answer is the same,
// behind a peer that records the requests and can be told to misbehave.
struct Controller {
  int64_t now = 1'733'500'000'000;
  sim::Controller sim;
  ScriptedPeer peer;
  QStringList requests;
  // a request to treat specially once ("40/01" ...) and what to send instead
  QString trap;
  std::function<QByteArray()> instead;

  explicit Controller(sim::ControllerConfig cfg) : sim(std::move(cfg), [this] { return now; }) {
    peer.respond = [this](const QByteArray &request) {
      const QString what = requestText(request.toStdString());
      requests << what;
      if (!trap.isEmpty() && what.startsWith(trap)) {
        trap.clear();
        return instead();
      }
      return QByteArray::fromStdString(sim.answer(request.toStdString()).value_or(std::string()));
    };
  }
  int count(const QString &what) const { return int(requests.count(what)); }
};

QStringList gridRow(const TestForm &f, int row) {
  QStringList cells;
  for (int c = 0; c < 7; ++c) cells << f.StringGrid2->Cells(c, row);
  return cells;
}

const QStringList kCycle = {"42/16", "40/01", "42/17", "41/0E 01", "41/0E 03", "41/0E 07"};
constexpr double kScale = 0.25;

}  // namespace

class TestStatusE2E : public QObject {
  Q_OBJECT
 private slots:
  void pollingShowsTheControllerOnceASecond() {
    MessageRecorder boxes;
    TimeScale fast(kScale);
    sim::ControllerConfig cfg{1, {1, 3, 7}, 0, 5};
    cfg.alarms.status[14 - 13] = 0x04;  // load fuse
    cfg.alarms.status[17 - 13] = 0x04;  // door
    cfg.alarms.ac = 0x20;               // AC breaker
    cfg.moduleFaults[3] = {3, 0x20};    // module 3: short circuit
    Controller c(cfg);
    TestForm f;
    QVERIFY(openLan(f, c.peer.port()));
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return c.count("42/16") >= 3; }, 15000));
    QCOMPARE(c.requests.mid(0, 7), kCycle + QStringList{"42/16"});

    // every box, lamp and grid row shows the controller's values
    QCOMPARE(text(f, "Edit16"), QStringLiteral("53.5"));
    QCOMPARE(text(f, "Edit17"), QStringLiteral("1.2"));
    QCOMPARE(text(f, "Edit15"), QStringLiteral("24"));
    QCOMPARE(text(f, "Edit32"), QStringLiteral("25"));
    QCOMPARE(text(f, "Edit18"), QStringLiteral("26"));
    QCOMPARE(text(f, "Edit19"), QStringLiteral("45"));
    QCOMPARE(text(f, "Edit33"), QStringLiteral("3"));
    QCOMPARE(text(f, "Edit14"), QStringLiteral("220"));
    QCOMPARE(f.Label41->text(), QStringLiteral("浮充"));
    QCOMPARE(f.Label68->text(), QStringLiteral("正常"));
    for (TShape *s : f.TabSheet2->findChildren<TShape *>()) {
      const bool raised = QStringList{"Shape21", "Shape18", "Shape22"}.contains(s->objectName());
      QVERIFY2(s->BrushColor() == (raised ? kRed : kGreen), qPrintable(s->objectName()));
    }
    for (int n = 1; n <= 12; ++n) {
      const QStringList row = gridRow(f, n);
      if (n != 1 && n != 3 && n != 7) {
        QCOMPARE(row.mid(1), (QStringList{"不在位", "0V", "0A", "正常", "正常", "正常"}));
        continue;
      }
      const auto readings = c.sim.handle({1, 0x41, 0x0E, {uint8_t(n)}}).data;
      QCOMPARE(row[1], QStringLiteral("开机"));
      QCOMPARE(row[2], proto::formatGeneral((readings[1] * 256 + readings[2]) / 100.0) + "V");
      QCOMPARE(row[3], QStringLiteral("8.4A"));  // (24 A load + 1.2 A battery) / 3
      QCOMPARE(row[4], n == 3 ? QStringLiteral("短路") : QStringLiteral("正常"));
    }
    QCOMPARE(f.ComboBox31->count(), 3);

    // another page: the cycle stops at its next answer; coming back restarts it at once
    f.PageControl1->setCurrentIndex(0);
    QVERIFY(!f.statusPolling);
    const int before = c.requests.size();
    QSignalSpy pollTicks(f.Timer2, &SteadyTimer::timeout);
    QVERIFY(pollTicks.wait(10000));  // the poll tick came, after the watchdog, and found another page
    const QStringList after = c.requests.mid(before);
    QVERIFY2(after.count("42/16") == 0, qPrintable(after.join(',')));
    QVERIFY(after.size() <= 5);  // at most the rest of the cycle in progress
    c.requests.clear();
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return c.requests.size() >= 6; }, 5000));
    QCOMPARE(c.requests.first(), QStringLiteral("42/16"));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // A refused or damaged poll answer ends the cycle, and the next one starts at the next
  // one-second tick, as after a time-out; the watchdog plays no part.
  void aBrokenCycleIsRestartedAtTheNextTick() {
    MessageRecorder boxes;
    TimeScale fast(kScale);
    Controller c(sim::ControllerConfig{1, {1, 3, 7}, 0, 5});
    TestForm f;
    QVERIFY(openLan(f, c.peer.port()));
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return c.count("42/16") >= 2; }, 10000));

    QSignalSpy ticks(f.Timer2, &SteadyTimer::timeout), watchdog(f.Timer3, &SteadyTimer::timeout);
    auto nextCycleAtTheNextTick = [&](const char *what) {
      QElapsedTimer t;
      t.start();
      c.requests.clear();
      ticks.clear();
      watchdog.clear();
      QVERIFY2(waitFor([&] { return c.count("42/16") > 0; }, 5000), what);
      QVERIFY2(ticks.size() == 1 && watchdog.isEmpty(), what);  // the first tick after it sent the status read
      qInfo("%s: the next cycle %lld ms after it (a tick is %g ms here)", what, t.elapsed(), 1000 * kScale);
      QVERIFY(waitFor([&] { return c.count("41/0E 07") >= 1; }, 5000));
    };

    // a refusal
    c.trap = QStringLiteral("40/01");
    c.instead = [] { return answer(0x40, 1, {}); };
    QVERIFY(waitFor([&] { return c.trap.isEmpty(); }, 5000));
    QVERIFY(waitFor([&] { return memoLines(f).contains(QStringLiteral("读错误！！")); }, 3000));
    nextCycleAtTheNextTick("refused");

    // a damaged answer: it stops the time-out and is not decoded
    c.trap = QStringLiteral("42/17");
    c.instead = [] {
      QByteArray damaged = answer(0x42, 0, QByteArray("\x01\x03\x07", 3));
      damaged[damaged.size() - 2] = damaged[damaged.size() - 2] == '0' ? '1' : '0';
      return damaged;
    };
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("返回数据校验错！！"); }, 5000));
    QVERIFY(!f.Timer1->isEnabled());
    nextCycleAtTheNextTick("damaged");

    // silence: "通讯超时" once, and the next cycle at once (its tick, a second after the cycle
    // that failed began, has passed), the AC read first
    c.requests.clear();
    c.trap = QStringLiteral("41/0E 03");
    c.instead = [] { return QByteArray(); };
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("通讯超时"); }, 5000));
    QVERIFY(!f.Timer1->isEnabled());
    c.requests.clear();
    QVERIFY(waitFor([&] { return c.count("41/0E 07") >= 1; }, 5000));
    QCOMPARE(c.requests.mid(0, 7), QStringList{"40/01"} + kCycle);
  }

  void switchingModulesOnTheSimulator() {
    MessageRecorder boxes;
    TimeScale fast(kScale);
    Powersim sim({QStringLiteral("--modules"), QStringLiteral("1,3,7,12")});
    TestForm f;
    QVERIFY(openLan(f, sim));
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return f.StringGrid2->Cells(1, 12) == QStringLiteral("开机"); }, 10000));
    const QString off7 = QString::fromLatin1(proto::hexLogLine(proto::encodeFrame(1, 0x41, 0x11, {7})));
    const QString status = QString::fromLatin1(proto::hexLogLine(proto::encodeFrame(1, 0x42, 0x16, {})));

    for (auto [typed, button, row, shown] : {std::tuple{"7", "Button115", 7, "关机"}, {"12", "Button115", 12, "关机"},
                                             {"12", "Button114", 12, "开机"}}) {
      f.ComboBox31->setEditText(QString::fromLatin1(typed));
      f.Button4Click();
      click(f, button);
      QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("设置成功"); }, 5000));
      const QString expected = QString::fromUtf8(shown);
      const int gridRow = row;  // clang 14 cannot capture a structured binding
      QVERIFY(waitFor([&] { return f.StringGrid2->Cells(1, gridRow) == expected; }, 10000));
      f.setPanelText(1, QString());
    }
    // the off command for 7 went out alone, and polling resumed with the status read
    f.ComboBox31->setEditText(QStringLiteral("7"));
    f.Button4Click();
    click(f, "Button115");
    QVERIFY(waitFor([&] { return memoLines(f).contains(status); }, 5000));
    const QStringList lines = memoLines(f);
    const int sent = int(lines.indexOf(off7));
    QVERIFY(sent >= 0);
    QCOMPARE(lines.indexOf(status, sent), sent + 3);  // the command, its answer and checksum, then polling
    QVERIFY(boxes.boxes.isEmpty());
  }
};

QTEST_MAIN(TestStatusE2E)
#include "test_status_e2e.moc"
