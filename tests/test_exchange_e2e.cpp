// The window's exchange against a scripted controller on loopback: every box shows the answer
// to its own request, whatever the operator clicks meanwhile, and the controller never gets a
// request while it still owes an answer.
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "support/FormFixture.h"
#include "support/Powersim.h"
#include "support/ScriptedPeer.h"
#include "window/Controls.h"
#include "tests/support/TestForm.h"

using namespace testsupport;

namespace {

constexpr double kScale = 0.25;

// A controller that answers every request, in order, after `delayMs`, with data {0, CID2, 0,
// CID2, ...} as long as the request's answer, and counts requests that came while it still
// owed an answer.
struct SlowController {
  ScriptedPeer peer;
  int delayMs = 40;
  int overlaps = 0;
  QList<QByteArray> requests;
  int owed() const { return peer.owed(); }
  SlowController() {
    peer.delayMs = [this](const QByteArray &) { return delayMs; };
    peer.respond = [this](const QByteArray &req) {
      requests << req;
      if (peer.owed() > 0) ++overlaps;
      const proto::Frame f = proto::parseFrame(req.toStdString()).frame;
      // five history records, so that a read-out stays short
      return f.cid2OrRtn == 0x90 ? answer(0x42, 0, bytes({0, 5}))
                                 : answer(f.cid1, 0, shaped(f.cid1, f.cid2OrRtn, bytes({0, f.cid2OrRtn})));
    };
  }
};

}  // namespace

class TestExchangeE2e : public QObject {
  Q_OBJECT
 private slots:
  // The window's timers run at a quarter of their periods: the time-out and the grace period
  // take 250 ms, a polling second 250 ms; the controller's delays are scaled alike.
  void init() {
    SetYesNoHook([](const QString &) { return true; });
    SteadyTimer::setTimeScale(kScale);
  }
  void cleanup() { SteadyTimer::setTimeScale(1.0); }

  void readsClickedTogetherEachFillTheirOwnBox() {
    MessageRecorder boxes;
    TestForm f;
    SlowController c;
    QVERIFY(openLan(f, c.peer.port()));
    click(f, "Button5");  // 40/06
    click(f, "Button7");  // 40/08
    QVERIFY(waitFor([&] { return text(f, "Edit5") == "0.6" && text(f, "Edit6") == "0.8"; }, 5000));
    QCOMPARE(c.overlaps, 0);
    QVERIFY(boxes.boxes.isEmpty());
  }

  // Reads clicked in the middle of each chain fill their own boxes, and the chain still reads
  // every step in order to its end.
  void aReadDuringAChainShiftsNothing_data() {
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<int>("steps");  // requests the chain sends
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("boxes");  // box=text, the clicked reads' and some of the chain's
    QTest::newRow("page 1") << QByteArray("Button24") << 31 << QStringLiteral("参数1刷新 31/31")
                            << QStringList{"Edit36=0.59", "Edit20=87", "Edit5=0.6", "Edit37=0.77", "Edit27=0.69"};
    QTest::newRow("page 2") << QByteArray("Button88") << 30 << QStringLiteral("参数2刷新 30/30")
                            << QStringList{"Edit36=0.59", "Edit20=87", "Edit38=113", "Edit47=119", "Edit49=27"};
    QTest::newRow("history") << QByteArray("Button40") << 1 + 5 << QStringLiteral("读取记录 5/5")
                             << QStringList{"Edit36=0.59", "Edit20=87"};
  }

  void aReadDuringAChainShiftsNothing() {
    QFETCH(QByteArray, start);
    QFETCH(int, steps);
    QFETCH(QString, end);
    QFETCH(QStringList, boxes);
    MessageRecorder recorder;
    TestForm f;
    SlowController c;
    QVERIFY(openLan(f, c.peer.port()));
    click(f, start.constData());
    QVERIFY(waitFor([&] { return c.requests.size() >= 3; }, 5000));
    click(f, "Button58");   // 浮充电压设定, 42/3B
    click(f, "Button120");  // 电池容量, 42/57
    QVERIFY(waitFor([&] { return c.requests.size() == steps + 2 && c.owed() == 0 && f.exchange().idle(); }, 15000));
    QVERIFY(waitFor([&] { return f.panelText(0).contains(end); }, 1000));
    QCOMPARE(c.overlaps, 0);
    for (const QString &b : boxes)
      QCOMPARE(text(f, b.section('=', 0, 0).toLatin1().constData()), b.section('=', 1));
    if (start == "Button40") QCOMPARE(f.ValueListEditor1->rowCount(), 5);
    QVERIFY(recorder.boxes.isEmpty());
  }

  // An answer later than the time-out never reaches the next read's box, not even for a
  // moment.
  void aLateAnswerIsNeverShown() {
    MessageRecorder boxes;
    TestForm f;
    SlowController c;
    QVERIFY(openLan(f, c.peer.port()));
    QStringList shown;
    connect(f.findChild<QLineEdit *>("Edit20"), &QLineEdit::textChanged, [&](const QString &t) { shown << t; });
    for (int late : {1300, 2600}) {
      c.delayMs = int(late * kScale);
      click(f, "Button5");
      QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("通讯超时"); }, 3000));
      c.delayMs = 10;
      click(f, "Button120");
      QVERIFY(waitFor([&] { return text(f, "Edit20") == QStringLiteral("87"); }, 8000));
      QVERIFY(waitFor([&] { return c.owed() == 0; }, 5000));
      QTest::qWait(100);
      QCOMPARE(shown, QStringList{"87"});
      QVERIFY(memoLines(f).contains(QStringLiteral("迟到的应答，不解码")) || late > 2000);
      f.findChild<QLineEdit *>("Edit20")->clear();
      shown.clear();
    }
    QCOMPARE(text(f, "Edit5"), QStringLiteral("0"));  // never filled by its late answer
  }

  // Polls carry no data whatever the data box holds, and nobody is asked about it.
  void pollsIgnoreTheDataBox() {
    MessageRecorder boxes;
    TestForm f;
    SlowController c;
    c.delayMs = 5;
    QVERIFY(openLan(f, c.peer.port()));
    setText(f, "Edit4", QStringLiteral("123"));
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return c.requests.size() >= 6; }, 8000));
    for (const QByteArray &r : c.requests) QCOMPARE(r.mid(7, 2), QByteArray("00"));
    QCOMPARE(text(f, "Edit4"), QStringLiteral("123"));
    QVERIFY(boxes.boxes.isEmpty());
    // a bad address box: no box, the status bar says why, and polling resumes once fixed
    setText(f, "Edit1", QStringLiteral("abc"));
    QVERIFY(waitFor([&] { return f.panelText(1).startsWith(QStringLiteral("状态轮询暂停：")); }, 5000));
    const int before = c.requests.size();
    QSignalSpy pollTicks(f.Timer2, &SteadyTimer::timeout);
    QVERIFY(waitFor([&] { return pollTicks.size() >= 2; }, 5000));  // polls were due, and none went out
    QCOMPARE(c.requests.size(), before);
    setText(f, "Edit1", QStringLiteral("1"));
    QVERIFY(waitFor([&] { return c.requests.size() > before; }, 5000));
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(c.overlaps, 0);
  }

  void closingTheLinkEndsARefreshWithItsOwnReason() {
    MessageRecorder boxes;
    {
      TestForm f;
      SlowController c;
      QVERIFY(openLan(f, c.peer.port()));
      click(f, "Button24");
      QVERIFY(waitFor([&] { return c.requests.size() >= 2; }, 5000));
      click(f, "Button29");
      QVERIFY2(f.panelText(0).contains(QStringLiteral("停在 2/31：连接已关闭")), qPrintable(f.panelText(0)));
      // reopening clears the old stop
      click(f, "Button29");
      QVERIFY(waitFor([&] { return f.lanConnected; }, 5000));
      QVERIFY(!f.panelText(0).contains(QStringLiteral("停在")));
      // the window closes with the link open: nothing is said
    }
    QVERIFY(boxes.boxes.isEmpty());
  }

  // Bytes that never end do not stop the time-out; the late answer is logged and not decoded,
  // and so is an answer nobody asked for.
  void tricklesTimeOutAndUnaskedAnswersAreNotDecoded() {
    MessageRecorder boxes;
    TestForm f;
    ScriptedPeer peer;
    peer.respond = [](const QByteArray &) { return QByteArray(); };
    QVERIFY(openLan(f, peer.port()));
    QTimer trickle;
    connect(&trickle, &QTimer::timeout, [&] { peer.send("0"); });
    click(f, "Button5");
    trickle.start(50);
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("通讯超时"); }, 2500));
    trickle.stop();
    QVERIFY(!f.exchange().inStep());
    peer.send(answer(0x40, 0, bytes({0x08, 0x98})));
    QVERIFY(waitFor([&] { return memoLines(f).contains(QStringLiteral("迟到的应答，不解码")) && f.exchange().inStep(); },
                    3000));
    peer.send(answer(0x40, 0, bytes({0x08, 0x98})));
    QVERIFY(waitFor([&] { return memoLines(f).contains(QStringLiteral("无请求的数据，不解码")); }, 3000));
    QCOMPARE(text(f, "Edit5"), QStringLiteral("0"));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // "生成命令" while the status page polls over a slow serial line: the answer on the line is
  // still decoded as its own request's, and polling goes on.
  void buildingAloneReroutesNothing() {
    MessageRecorder boxes;
    Powersim sim({QStringLiteral("--pty"), QStringLiteral("--baud"), QStringLiteral("9600")});
    QVERIFY(sim.ok());
    TestForm f;
    openSerial(f, sim.ptyPath());
    QVERIFY(f.linkOpen);
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(waitFor([&] { return text(f, "Edit16") != QStringLiteral("0"); }, 5000));
    for (int i = 0; i < 20; ++i) {
      setText(f, "Edit2", QStringLiteral("40"));
      setText(f, "Edit3", i % 2 ? QStringLiteral("06") : QStringLiteral("zz"));  // good, refused
      click(f, "Button1");
      QTest::qWait(37);
    }
    const int before = memoLines(f).filter(requestLine(0x42, 0x16)).size();
    QVERIFY(waitFor([&] { return memoLines(f).filter(requestLine(0x42, 0x16)).size() > before + 1; }, 5000));
    QCOMPARE(text(f, "Edit5"), QStringLiteral("0"));  // page 1's box: never a status value
    QCOMPARE(boxes.boxes.size(), 10);                 // the refused builds, and nothing else
  }
};

QTEST_MAIN(TestExchangeE2e)
#include "test_exchange_e2e.moc"
