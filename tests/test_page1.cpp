// Parameter page 1: decoders, write encodings, the refresh chain and the clock row, with the
// controller's answers handed straight to the window.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "protocol/Frame.h"
#include "support/FormFixture.h"
#include "window/HandlerSupport.h"

using namespace testsupport;

class TestPage1 : public QObject {
  Q_OBJECT
 private slots:
  void init() { SetMessageBoxHook([](const QString &, const QString &) {}); }

  void decodersShowTheirFamilies() {
    MessageRecorder boxes;
    TestForm f;
    readAndAnswer(f, "Button5", 0, bytes({0x08, 0x98}));  // 2200 at /10
    QCOMPARE(text(f, "Edit5"), QStringLiteral("220"));
    readAndAnswer(f, "Button7", 0, bytes({0x08, 0x9D}));  // 2205 at /10
    QCOMPARE(text(f, "Edit6"), QStringLiteral("220.5"));
    readAndAnswer(f, "Button9", 0, bytes({0xFF, 0xFF}));
    QCOMPARE(text(f, "Edit7"), QStringLiteral("6553.5"));
    readAndAnswer(f, "Button100", 0, bytes({0x00, 0x05}));  // /100
    QCOMPARE(text(f, "Edit28"), QStringLiteral("0.05"));
    readAndAnswer(f, "Button58", 0, bytes({0x14, 0xE6}));
    QCOMPARE(text(f, "Edit36"), QStringLiteral("53.5"));
    readAndAnswer(f, "Button64", 0, bytes({0x01, 0x2C}));  // integer
    QCOMPARE(text(f, "Edit39"), QStringLiteral("300"));
    readAndAnswer(f, "Button21", 0, bytes({0xC8}));  // one byte
    QCOMPARE(text(f, "Edit26"), QStringLiteral("200"));

    readAndAnswer(f, "Button110", 0, bytes({2}));  // =1
    QVERIFY(!checked(f, "CheckBox5"));
    readAndAnswer(f, "Button110", 0, bytes({1}));
    QVERIFY(checked(f, "CheckBox5"));
    readAndAnswer(f, "Button30", 0, bytes({2}));  // not 0
    QVERIFY(checked(f, "CheckBox1"));
    readAndAnswer(f, "Button19", 0, bytes({2}));
    QVERIFY(checked(f, "CheckBox2"));
    readAndAnswer(f, "Button19", 0, bytes({0}));
    QVERIFY(!checked(f, "CheckBox2"));

    readAndAnswer(f, "Button36", 0, bytes({7}));
    QCOMPARE(comboIndex(f, "ComboBox3"), 2);
    readAndAnswer(f, "Button36", 0, bytes({1}));
    QCOMPARE(comboIndex(f, "ComboBox3"), 1);
    readAndAnswer(f, "Button89", 0, bytes({2}));
    QCOMPARE(comboIndex(f, "ComboBox27"), 1);
    readAndAnswer(f, "Button89", 0, bytes({1}));
    QCOMPARE(comboIndex(f, "ComboBox27"), 0);

    readAndAnswer(f, "Button38", 0, bytes({2, 7, 9, 5, 3, 3, 24}));
    QCOMPARE(text(f, "Edit25"), QStringLiteral("2024-03-05 09:07:02"));
    readAndAnswer(f, "Button38", 0, bytes({0, 0, 0, 1, 1, 1, 0}));
    QCOMPARE(text(f, "Edit25"), QStringLiteral("2000-01-01 00:00:00"));
    // the whole date and time is readable in the narrow clock box (frame and margin 4 px a side)
    auto *clock = f.findChild<QLineEdit *>(QStringLiteral("Edit25"));
    QCOMPARE(clock->width(), 105);
    QVERIFY(clock->fontMetrics().horizontalAdvance(QStringLiteral("2000-01-01 00:00:00")) <= clock->width() - 8);
    QVERIFY(boxes.boxes.isEmpty());
  }

  void readErrorsKeepTheControl() {
    MessageRecorder boxes;
    TestForm f;
    setText(f, "Edit5", QStringLiteral("12.5"));
    readAndAnswer(f, "Button5", 1, bytes({0x08, 0x98}));
    QCOMPARE(text(f, "Edit5"), QStringLiteral("12.5"));
    QCOMPARE(lastMemoLine(f), QStringLiteral("读错误！！"));
    // these four report in status panel 2
    for (const char *button : {"Button38", "Button30", "Button36", "Button19"}) {
      f.setPanelText(2, QString());
      const int lines = memoLines(f).size();
      readAndAnswer(f, button, 3, bytes({1, 1, 1, 1, 1, 1, 1}));
      QCOMPARE(f.panelText(2), QStringLiteral("读错误！！"));
      QCOMPARE(memoLines(f).size(), lines + 3);  // the request and the two answer lines only
    }
    QVERIFY(!checked(f, "CheckBox1"));
    // an answer shorter or longer than what the row reads is no answer to it: it is never
    // decoded, and the read waits on for its own answer until its time-out
    readAndAnswer(f, "Button7", 0, bytes({0x12, 0x34}));
    QCOMPARE(text(f, "Edit6"), QStringLiteral("466"));
    for (const QByteArray &wrong : {bytes({0x99}), bytes({0x99, 0x99, 0x99})}) {
      readAndAnswer(f, "Button7", 0, wrong);
      QCOMPARE(text(f, "Edit6"), QStringLiteral("466"));
      QCOMPARE(lastMemoLine(f), QStringLiteral("应答与请求不符，不解码"));
      QVERIFY(f.exchange().onLine());
      f.Timer1Timer();
    }
    readAndAnswer(f, "Button38", 0, bytes({1, 2, 3}));
    QCOMPARE(text(f, "Edit25"), QString());
    QCOMPARE(lastMemoLine(f), QStringLiteral("应答与请求不符，不解码"));
  }

  void writesEncodeTheirRows() {
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    setText(f, "Edit36", QStringLiteral("53.5"));
    click(f, "Button59");
    QCOMPARE(built(f).cid1, 0x42);
    QCOMPARE(built(f).cid2, 0x3A);
    QCOMPARE(built(f).data, bytes({0x14, 0xE6}));
    QCOMPARE(text(f, "Edit4"), QString());  // every send empties the data box
    QVERIFY(f.Timer1->isEnabled());
    setText(f, "Edit5", QStringLiteral("56.55"));
    click(f, "Button6");  // ck
    QCOMPARE(built(f).cid2, 0x05);
    QCOMPARE(built(f).data, bytes({0x02, 0x35}));
    setText(f, "Edit26", QStringLiteral("300"));
    click(f, "Button22");
    QCOMPARE(built(f).cid2, 0x93);
    QCOMPARE(built(f).data, bytes({0x01, 0x2C}));
    f.findChild<QComboBox *>(QStringLiteral("ComboBox3"))->setCurrentIndex(-1);
    click(f, "Button37");
    QCOMPARE(built(f).data, bytes({0x02}));
    f.findChild<QCheckBox *>(QStringLiteral("CheckBox4"))->setChecked(true);
    click(f, "Button109");  // manual equalize
    QCOMPARE(built(f).cid2, 0x4E);
    QCOMPARE(built(f).data, bytes({0x01}));
    click(f, "Button31");
    QCOMPARE(built(f).data, bytes({0x00}));
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(f.page1Position, 0);  // writes leave the chain position alone

    // refused texts send nothing
    const QByteArray lastFrame(f.txBuffer, f.txLength);
    const int lines = memoLines(f).size();
    setText(f, "Edit5", QStringLiteral("5a"));
    click(f, "Button6");
    QVERIFY(boxes.saw(QStringLiteral("Data error\n交流电压过高：0–6553.5 V"), QStringLiteral("error2")));
    setText(f, "Edit28", QStringLiteral("655.36"));  // 65536 at x100
    click(f, "Button101");
    setText(f, "Edit39", QStringLiteral("70000"));
    click(f, "Button65");
    setText(f, "Edit39", QStringLiteral("-5"));
    click(f, "Button65");
    QVERIFY(boxes.saw(QStringLiteral("数值超出范围(0-65535)\n输出过压告警：0–655.35 V"), QStringLiteral("error")));
    QCOMPARE(boxes.boxes.count(qMakePair(QStringLiteral("数值超出范围(0-65535)\n温补系数：0–65535 mV/C"),
                                         QStringLiteral("error"))),
             2);
    setText(f, "Edit39", QStringLiteral("abc"));
    click(f, "Button65");
    QVERIFY(boxes.saw(QStringLiteral("'abc' is not a valid integer value\n温补系数：0–65535 mV/C"),
                      QStringLiteral("powerhost")));
    setText(f, "Edit5", QStringLiteral("   "));
    click(f, "Button6");
    QVERIFY(boxes.saw(QStringLiteral("Data error\n交流电压过高：0–6553.5 V"), QStringLiteral("error")));
    QCOMPARE(QByteArray(f.txBuffer, f.txLength), lastFrame);
    QCOMPARE(memoLines(f).size(), lines + 1);  // only chartofloat's "erra"
  }

  void refreshChainReadsAllRowsInOrder() {
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    setText(f, "Edit23", QStringLiteral("47"));
    QList<QPair<int, int>> requests;
    click(f, "Button24");
    QVERIFY(f.page1Refresh);
    while (requests.size() < 40) {
      requests.append({f.pendingCid1, f.pendingCid2});
      const bool rowTwelve = f.pendingCid2 == 0x37;
      feed(f, answer(uint8_t(f.pendingCid1), rowTwelve ? 1 : 0,
                     shaped(f.pendingCid1, f.pendingCid2, bytes({0, 1, 2, 3, 4, 5, 6}))));
      if (!f.page1Refresh) break;
    }
    QCOMPARE(requests.size(), 31);
    QCOMPARE(requests.first(), qMakePair(0x40, 0x06));
    QCOMPARE(requests.last(), qMakePair(0x42, 0x45));
    QCOMPARE(requests[4], qMakePair(0x41, 0x15));
    QCOMPARE(requests[24], qMakePair(0x42, 0x8D));
    QCOMPARE(requests[25], qMakePair(0x42, 0x21));
    QCOMPARE(text(f, "Edit23"), QStringLiteral("47"));  // row 12 failed and kept its text
    QCOMPARE(text(f, "Edit24"), QStringLiteral("0.01"));  // row 13 still read
    QVERIFY(!f.page1Refresh);
    QCOMPARE(f.page1Position, 31);

    // a single read while no chain runs sends one request, also for the shared rows
    click(f, "Button120");
    feed(f, answer(0x42, 0, bytes({0, 200})));
    QCOMPARE(text(f, "Edit20"), QStringLiteral("200"));
    QCOMPARE(built(f).cid2, 0x57);
  }

  void timeOutAbandonsTheChain() {
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    click(f, "Button24");
    feed(f, answer(0x40, 0, bytes({0, 1})));
    QCOMPARE(f.pendingCid2, 0x08);
    f.Timer1Timer();  // the step goes out once more
    QVERIFY(f.page1Refresh);
    QVERIFY(f.exchange().onLine() && f.exchange().onLine()->tries == 1);
    f.Timer1Timer();  // unanswered again: the chain stops
    QVERIFY(!f.page1Refresh);
    QCOMPARE(f.panelText(1), QStringLiteral("通讯超时"));
    // a damaged answer ends the chain too
    click(f, "Button24");
    feed(f, QByteArray("~014000020001??\r"));
    QVERIFY(!f.page1Refresh);
    QCOMPARE(f.panelText(1), QStringLiteral("返回数据校验错！！"));
  }

  void sharedRowsFollowThePageTwoChain() {
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    f.page2Refresh = true;
    readAndAnswer(f, "Button120", 0, bytes({0, 100}));  // row 27 goes on to row 28
    QCOMPARE(built(f).cid2, 0x59);
    f.exchange().clear();  // row 28 is left unanswered: the chain stops there
    readAndAnswer(f, "Button19", 0, bytes({1}));  // 29 -> 30
    QCOMPARE(built(f).cid2, 0x94);
    feed(f, answer(0x42, 0, bytes({5})));  // 30 -> 31
    QCOMPARE(built(f).cid2, 0x45);
    QVERIFY(!f.page1Refresh);
    // with the page-1 refresh running too, row 27 still hands on to row 28
    f.exchange().clear();
    f.page1Refresh = true;
    readAndAnswer(f, "Button120", 0, bytes({0, 100}));
    QCOMPARE(built(f).cid2, 0x59);
    // a read error in a shared row takes the page-1 step instead
    f.page2Refresh = false;
    f.exchange().clear();
    readAndAnswer(f, "Button120", 1, bytes({0, 100}));
    QCOMPARE(built(f).cid2, 0x59);
  }

  void clockCalibrationSendsTheSnapshot() {
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    f.clockSource = [] { return QDateTime(QDate(2024, 3, 5), QTime(1, 7, 2), Qt::UTC); };
    f.Timer6Timer();  // 09:07:02 at UTC+8
    const int position = f.page1Position;
    click(f, "Button39");
    QCOMPARE(built(f).cid1, 0x42);
    QCOMPARE(built(f).cid2, 0x8E);
    QCOMPARE(built(f).data, bytes({0x02, 0x07, 0x09, 0x05, 0x01, 0x03, 0x18}));
    QCOMPARE(text(f, "Edit25"), QStringLiteral("2024-3-5 9:7:2"));
    QCOMPARE(f.page1Position, position);
    feed(f, answer(0x42, 1, {}));
    QCOMPARE(f.panelText(1), QStringLiteral("设置失败"));
    QCOMPARE(text(f, "Edit25"), QStringLiteral("2024-3-5 9:7:2"));
  }
};

QTEST_MAIN(TestPage1)
#include "test_page1.moc"
