// Parameter page 1 end to end: the window over loopback TCP against the controller simulator.
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "protocol/Frame.h"
#include "sim/Controller.h"
#include "support/FormFixture.h"
#include "support/Powersim.h"
#include "support/ScriptedPeer.h"

using namespace testsupport;

namespace {

// The 31 reads of the refresh, in the order the page lists them.
const std::pair<int, int> kChain[] = {
    {0x40, 0x06}, {0x40, 0x08}, {0x40, 0x0A}, {0x40, 0x0C}, {0x41, 0x15}, {0x42, 0x23}, {0x42, 0x25}, {0x42, 0x27},
    {0x42, 0x29}, {0x42, 0x33}, {0x42, 0x35}, {0x42, 0x37}, {0x42, 0x39}, {0x42, 0x3B}, {0x42, 0x4D}, {0x42, 0x79},
    {0x42, 0x7B}, {0x42, 0x41}, {0x42, 0x3D}, {0x42, 0x3F}, {0x42, 0x47}, {0x42, 0x49}, {0x42, 0x4B}, {0x42, 0x81},
    {0x42, 0x8D}, {0x42, 0x21}, {0x42, 0x57}, {0x42, 0x59}, {0x42, 0x92}, {0x42, 0x94}, {0x42, 0x45}};

QStringList expectedRequestLines() {
  QStringList lines;
  for (auto [c1, c2] : kChain) lines << requestLine(c1, c2);
  return lines;
}

}  // namespace

class TestPage1E2E : public QObject {
  Q_OBJECT
 private slots:
  void refreshReadsEveryRowFromTheController() {
    MessageRecorder boxes;
    Powersim sim;
    TestForm f;
    QVERIFY(openLan(f, sim));
    f.Button4Click();
    click(f, "Button24");
    QVERIFY(waitFor([&] { return !f.page1Refresh; }, 10000));
    QCOMPARE(requestLines(f), expectedRequestLines());
    QCOMPARE(f.panelText(1), QString());
    // the saved log is the log as shown
    QTemporaryDir dir;
    f.saveLogPath = [&] { return dir.filePath(QStringLiteral("log.txt")); };
    f.findChild<QAction *>(QStringLiteral("actionSaveLog"))->trigger();
    waitForWrites();
    QFile saved(dir.filePath(QStringLiteral("log.txt")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(saved.readAll()), memoLines(f).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    QCOMPARE(text(f, "Edit5"), QStringLiteral("280"));
    QCOMPARE(text(f, "Edit6"), QStringLiteral("180"));
    QCOMPARE(text(f, "Edit9"), QStringLiteral("50"));
    QCOMPARE(text(f, "Edit36"), QStringLiteral("53.5"));
    QCOMPARE(text(f, "Edit37"), QStringLiteral("56.4"));
    QCOMPARE(text(f, "Edit39"), QStringLiteral("72"));
    QCOMPARE(text(f, "Edit20"), QStringLiteral("200"));
    QCOMPARE(text(f, "Edit26"), QStringLiteral("24"));
    QVERIFY(checked(f, "CheckBox1"));
    QVERIFY(!checked(f, "CheckBox2"));
    QCOMPARE(comboIndex(f, "ComboBox3"), 1);
    QCOMPARE(comboIndex(f, "ComboBox27"), 0);
    QVERIFY(QRegularExpression(QStringLiteral("^20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                .match(text(f, "Edit25")).hasMatch());
    QVERIFY(boxes.boxes.isEmpty());

    // a write then a read shows the written value
    setText(f, "Edit36", QStringLiteral("54.25"));
    click(f, "Button59");
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("设置成功"); }, 3000));
    setText(f, "Edit36", QStringLiteral("0"));
    click(f, "Button58");
    QVERIFY(waitFor([&] { return text(f, "Edit36") == QStringLiteral("54.25"); }, 3000));
    f.findChild<QComboBox *>(QStringLiteral("ComboBox3"))->setCurrentIndex(2);
    click(f, "Button37");
    QVERIFY(waitFor([&] { return !f.Timer1->isEnabled(); }, 3000));
    f.findChild<QComboBox *>(QStringLiteral("ComboBox3"))->setCurrentIndex(0);
    click(f, "Button36");
    QVERIFY(waitFor([&] { return comboIndex(f, "ComboBox3") == 2; }, 3000));

    // "校准" sets the controller clock; reading it back shows the same time
    f.clockSource = [] { return QDateTime(QDate(2030, 6, 7), QTime(1, 2, 3), Qt::UTC); };
    f.Timer6Timer();
    f.setPanelText(1, QString());
    click(f, "Button39");
    QCOMPARE(text(f, "Edit25"), QStringLiteral("2030-6-7 9:2:3"));
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("设置成功"); }, 3000));
    click(f, "Button38");
    QVERIFY(waitFor([&] { return text(f, "Edit25").startsWith(QStringLiteral("2030-06-07 09:0")); }, 3000));
    QCOMPARE(sim.process().state(), QProcess::Running);
  }

  void aRefusedRowKeepsItsTextAndTheChainGoesOn() {
    MessageRecorder boxes;
    sim::Controller controller(sim::ControllerConfig{});
    ScriptedPeer peer;
    peer.respond = [&](const QByteArray &request) -> QByteArray {
      auto parsed = proto::parseFrame(request.toStdString());
      if (parsed.error == proto::FrameError::None && parsed.frame.cid2OrRtn == 0x37)  // row 12
        return answer(0x42, 1, {});
      return QByteArray::fromStdString(controller.answer(request.toStdString()).value_or(std::string()));
    };
    TestForm f;
    QVERIFY(openLan(f, peer.port()));
    setText(f, "Edit23", QStringLiteral("41.5"));
    f.Button4Click();
    click(f, "Button24");
    QVERIFY(waitFor([&] { return !f.page1Refresh; }, 10000));
    QCOMPARE(peer.requests, 31);
    QCOMPARE(text(f, "Edit23"), QStringLiteral("41.5"));
    QCOMPARE(text(f, "Edit24"), QStringLiteral("47"));  // row 13 still read
    QVERIFY(memoLines(f).contains(QStringLiteral("读错误！！")));
  }

  // Answers that are not whole frames of nibble characters never reach a decoder, even when
  // their checksum happens to match, and a refused build leaves nothing for "发送" to send.
  // (Such a chunk is no answer: the one it replaced may still come, so the AC read brings the
  // line back in step before the next request.)
  void damagedAnswersAndRefusedBuildsNeverReachADecoder() {
    MessageRecorder boxes;
    QByteArray hostile;
    ScriptedPeer peer;
    peer.respond = [&](const QByteArray &request) -> QByteArray {
      auto parsed = proto::parseFrame(request.toStdString());
      if (parsed.error != proto::FrameError::None) return {};
      if (parsed.frame.cid1 == 0x40 && parsed.frame.cid2OrRtn == 0x06) return answer(0x40, 0, "\x0A\xF8");  // 280.8
      if (parsed.frame.cid1 == 0x40 && parsed.frame.cid2OrRtn == 0x01) return answer(0x40, 0, QByteArray(5, '\0'));
      if (parsed.frame.cid1 == 0x42 && parsed.frame.cid2OrRtn == 0x23) return hostile;
      return {};
    };
    TestForm f;
    QVERIFY(openLan(f, peer.port()));

    const QByteArray rows[] = {
        "00X",                     // no start mark; its empty sum matches "00"
        sealed("~0142000204D2"),   // hexadecimal text where nibble characters belong
    };
    for (const QByteArray &chunk : rows) {
      hostile = chunk;
      setText(f, "Edit5", QStringLiteral("0"));
      click(f, "Button5");  // row 1
      QVERIFY(waitFor([&] { return text(f, "Edit5") == QStringLiteral("280.8"); }, 3000));
      setText(f, "Edit10", QStringLiteral("7"));
      f.setPanelText(1, QString());
      click(f, "Button15");  // row 6
      QVERIFY2(waitFor([&] { return f.panelText(1) == QStringLiteral("返回数据校验错！！"); }, 3000), chunk.constData());
      QVERIFY2(text(f, "Edit10") == QStringLiteral("7"), chunk.toHex().constData());
      QCOMPARE(lastMemoLine(f).size(), 2);  // the raw chunk and its sum are still logged
    }

    // build 40/06, then 40/08 with odd data (refused): "发送" sends nothing
    setText(f, "Edit2", QStringLiteral("40"));
    setText(f, "Edit3", QStringLiteral("06"));
    setText(f, "Edit4", QString());
    click(f, "Button1");
    setText(f, "Edit3", QStringLiteral("08"));
    setText(f, "Edit4", QStringLiteral("123"));
    click(f, "Button1");
    QVERIFY(boxes.saw(QStringLiteral("数据不对"), QStringLiteral("error")));
    const int before = peer.requests;
    click(f, "Button2");
    QVERIFY(!f.Timer1->isEnabled());
    // the same after the address box's integer error
    setText(f, "Edit4", QString());
    click(f, "Button1");
    setText(f, "Edit1", QStringLiteral("x"));
    click(f, "Button1");
    QVERIFY(boxes.saw(QStringLiteral("'x' is not a valid integer value"), QStringLiteral("powerhost")));
    click(f, "Button2");
    // the next good build goes out, and it is the first request the peer sees since (behind
    // the AC read that brings the line back in step after the damaged answer)
    setText(f, "Edit1", QStringLiteral("1"));
    setText(f, "Edit3", QStringLiteral("0A"));
    click(f, "Button1");
    click(f, "Button2");
    const std::string resync = proto::encodeFrame(1, 0x40, 0x01, {}), sent = proto::encodeFrame(1, 0x40, 0x0A, {});
    QVERIFY(waitFor([&] { return peer.received.endsWith((resync + sent).c_str()); }, 3000));
    QCOMPARE(peer.requests, before + 2);
  }

  // A step answered only after its time-out: the late answer is logged and not decoded, the
  // AC read brings the line back in step, the step is sent once more, and the chain goes on
  // from the resend's answer, every box its own.
  void aLateStepIsSentAgainAndShiftsNothing() {
    MessageRecorder boxes;
    sim::Controller controller{sim::ControllerConfig{}};
    ScriptedPeer peer;
    int tries = 0;
    peer.respond = [&](const QByteArray &request) {
      const QByteArray sound = QByteArray::fromStdString(controller.answer(request.toStdString()).value_or(""));
      if (requestText(request.toStdString()) != QLatin1String("41/15") || tries++ > 0) return sound;
      return answer(0x41, 0, bytes({0x03, 0xE7}));  // the first try's answer, another value
    };
    // the first try is answered 0.4 s after its time-out; the controller answers in order
    peer.delayMs = [&](const QByteArray &request) {
      return requestText(request.toStdString()) == QLatin1String("41/15") && tries == 1 ? 1400 : 0;
    };
    TestForm f;
    QVERIFY(openLan(f, peer.port()));
    f.Button4Click();
    click(f, "Button24");
    QVERIFY(waitFor([&] { return f.panelText(0).endsWith(QStringLiteral("参数1刷新 31/31 完成")); }, 15000));
    QCOMPARE(tries, 2);
    QVERIFY(memoLines(f).contains(QStringLiteral("迟到的应答，不解码")));
    QVERIFY(memoLines(f).contains(requestLine(0x40, 0x01)));
    QCOMPARE(text(f, "Edit9"), QStringLiteral("50"));    // the resend's answer, not the late 99.9
    QVERIFY(!memoLines(f).join(' ').contains(QStringLiteral("读错误")));
    for (const char *box : {"Edit5", "Edit6", "Edit7", "Edit8", "Edit10", "Edit11"})
      QVERIFY2(text(f, box) != QStringLiteral("99.9"), box);  // nor any other box's
    QCOMPARE(text(f, "Edit36"), QStringLiteral("53.5"));  // later rows read their own
    QCOMPARE(text(f, "Edit20"), QStringLiteral("200"));
  }

  void aSilentControllerStopsTheChain() {
    MessageRecorder boxes;
    Powersim sim({QStringLiteral("--fault-silent"), QStringLiteral("1")});
    TestForm f;
    QVERIFY(openLan(f, sim));
    f.Button4Click();
    click(f, "Button24");
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("通讯超时"); }, 3000));
    // the step is to be sent once more, behind the reads that bring the line back in step;
    // none of them is answered, and the chain stops
    QVERIFY(waitFor([&] { return !f.page1Refresh; }, 6000));
    QVERIFY(f.panelText(0).endsWith(QStringLiteral("参数1刷新 停在 1/31：通讯超时")));
    QCOMPARE(memoLines(f), (QStringList{requestLine(0x40, 0x06), QStringLiteral("通讯超时：重发一次"),
                                        requestLine(0x40, 0x01), requestLine(0x42, 0x16)}));
  }
};

QTEST_MAIN(TestPage1E2E)
#include "test_page1_e2e.moc"
