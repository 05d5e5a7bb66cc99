// The request builder, the numeric conversions and the answer dispatcher, driven through
// the window's controls.
#include <QtTest>

#include <QLineEdit>
#include <QPushButton>

#include "protocol/Conversions.h"
#include "support/FormFixture.h"
#include "window/HandlerSupport.h"

using namespace testsupport;

class TestProtocol : public QObject {
  Q_OBJECT

  QString tx(const TestForm &f) { return QString::fromLatin1(f.txBuffer, f.txLength); }
  void build(TestForm &f, const char *adr, const char *c1, const char *c2, const char *data) {
    setText(f, "Edit1", QString::fromLatin1(adr));
    setText(f, "Edit2", QString::fromLatin1(c1));
    setText(f, "Edit3", QString::fromLatin1(c2));
    setText(f, "Edit4", QString::fromLatin1(data));
    guarded([&] { f.Button1Click(); });
  }

 private slots:
  void buildsTheWorkedExamples() {
    MessageRecorder boxes;
    TestForm f;
    QVERIFY(!f.Button2->isEnabled());
    build(f, "1", "40", "06", "");
    QCOMPARE(tx(f), QStringLiteral("~014006008;\r"));
    QCOMPARE(lastMemoLine(f), QStringLiteral(" 7E 30 31 34 30 30 36 30 30 38 3B 0D"));
    QVERIFY(f.Button2->isEnabled());
    build(f, "1", "40", "07", "021C");
    QCOMPARE(lastMemoLine(f), QStringLiteral(" 7E 30 31 34 30 30 37 30 32 30 32 31 3C 35 3D 0D"));
    QCOMPARE(f.txLength, 16);
    setText(f, "Edit4", QString());
    f.Button23Click();  // the hidden "读系统状态" builds the third example
    QCOMPARE(lastMemoLine(f), QStringLiteral(" 7E 30 31 34 33 32 3A 30 30 39 34 0D"));
    QCOMPARE(f.pendingCid1, 0x43);
    QCOMPARE(f.pendingCid2, 0x2A);
    QVERIFY(boxes.boxes.isEmpty());
  }

  void refusedBuildsKeepTheLastFrame() {
    MessageRecorder boxes;
    TestForm f;
    build(f, "1", "40", "06", "");
    const QString good = tx(f);
    const int lines = memoLines(f).size();
    struct Case {
      const char *adr, *c1, *c2, *data;
      int pending1, pending2;
    } cases[] = {
        {"", "41", "15", "", 0x40, 0x06},        // empty address
        {"256", "41", "15", "", 0x40, 0x06},     // address outside a byte
        {"1", "4", "15", "", 0x40, 0x06},        // CID1 not two characters
        {"1", "4g", "15", "", 0x40, 0x06},       // CID1 not hexadecimal
        {"1", "41", "150", "", 0x41, 0x06},      // CID2 not two characters: CID1 already taken
        {"1", "41", "x5", "", 0x41, 0x06},       // CID2 not hexadecimal
        {"1", "42", "15", "123", 0x42, 0x15},    // odd data: both CIDs already taken
        {"1", "42", "16", "12zz", 0x42, 0x16},   // data not hexadecimal
    };
    for (const Case &c : cases) {
      boxes.boxes.clear();
      build(f, c.adr, c.c1, c.c2, c.data);
      QCOMPARE(boxes.boxes.size(), 1);
      QVERIFY(boxes.saw(QStringLiteral("数据不对"), QStringLiteral("error")));
      QCOMPARE(tx(f), good);
      QCOMPARE(f.pendingCid1, c.pending1);
      QCOMPARE(f.pendingCid2, c.pending2);
      QVERIFY(!f.lastBuildOk());
    }
    // 94 data bytes fit, 95 do not
    build(f, "1", "42", "16", QByteArray(188, 'A').constData());
    QCOMPARE(f.txLength, 200);
    boxes.boxes.clear();
    build(f, "1", "42", "16", QByteArray(190, 'A').constData());
    QVERIFY(boxes.saw(QStringLiteral("数据不对"), QStringLiteral("error")));
    QCOMPARE(f.txLength, 200);
    // a non-integer address is the conversion error of the default error display
    boxes.boxes.clear();
    build(f, "x1", "40", "06", "");
    QVERIFY(boxes.saw(QStringLiteral("'x1' is not a valid integer value"), QStringLiteral("powerhost")));
    QVERIFY(!f.lastBuildOk());
    QCOMPARE(memoLines(f).size(), lines + 1);  // only the good builds were logged
  }

  void sendingWithNoLinkLeavesEverything() {
    MessageRecorder boxes;
    TestForm f;
    build(f, "1", "40", "07", "021C");
    setText(f, "Edit4", QStringLiteral("021C"));
    f.Button2Click();
    QCOMPARE(text(f, "Edit4"), QStringLiteral("021C"));
    QVERIFY(!f.Timer1->isEnabled());
  }

  void conversions() {
    MessageRecorder boxes;
    TestForm f;
    struct Case {
      const char *text;
      int scale, result;
    } good[] = {{"56.5", 10, 565}, {"56.55", 10, 565}, {"53.25", 100, 5325}, {"53.257", 100, 5325},
                {"12", 100, 1200}, {".5", 10, 5},      {"5.", 10, 50},       {"  7.5", 10, 75}};
    for (const Case &c : good) {
      bool ok = false;
      QCOMPARE(f.chartofloat(QString::fromLatin1(c.text), c.scale, &ok), c.result);
      QVERIFY(ok);
    }
    QVERIFY(boxes.boxes.isEmpty());
    bool ok = true;
    f.chartofloat(QStringLiteral("  "), 10, &ok);
    QVERIFY(!ok);
    QVERIFY(boxes.boxes.isEmpty());  // blanks only: no message
    f.chartofloat(QString(), 10, &ok);
    QVERIFY(!ok);
    QVERIFY(boxes.saw(QStringLiteral("Data error"), QStringLiteral("error")));
    f.chartofloat(QStringLiteral("5a"), 10, &ok);
    QVERIFY(!ok);
    QCOMPARE(lastMemoLine(f), QStringLiteral("erra"));
    QVERIFY(boxes.saw(QStringLiteral("Data error"), QStringLiteral("error2")));
    f.chartofloat(QStringLiteral("-5"), 10, &ok);
    QCOMPARE(lastMemoLine(f), QStringLiteral("err-"));
    f.chartofloat(QStringLiteral("5.5.5"), 10, &ok);
    QVERIFY(!ok);
    QCOMPARE(lastMemoLine(f), QStringLiteral("."));
    QVERIFY(boxes.saw(QStringLiteral("Data error"), QStringLiteral("error3")));
    // a long text saturates rather than wrapping round to a small number
    QVERIFY(f.chartofloat(QStringLiteral("429496729.6"), 10, &ok) > 0xFFFF);

    QCOMPARE(proto::intto4char(565), QStringLiteral("0235"));
    QCOMPARE(proto::intto4char(0), QStringLiteral("0000"));
    QCOMPARE(proto::intto4char(70000), QStringLiteral("11170"));
    QCOMPARE(proto::intto4char(-1), QStringLiteral("FFFFFFFF"));
    QCOMPARE(proto::straddzero(QStringLiteral("7"), 2), QStringLiteral("07"));
    QCOMPARE(proto::straddzero(QStringLiteral("2024"), 2), QStringLiteral("2024"));
    QCOMPARE(proto::formatGeneral(220.0), QStringLiteral("220"));
    QCOMPARE(proto::formatGeneral(2205 / 10.0), QStringLiteral("220.5"));
    QCOMPARE(proto::formatGeneral(5 / 100.0), QStringLiteral("0.05"));
    QCOMPARE(proto::formatGeneral(65535 / 10.0), QStringLiteral("6553.5"));
    QCOMPARE(proto::formatGeneral(-10 / 10.0), QStringLiteral("-1"));

    QCOMPARE(StrToInt(QStringLiteral(" -12")), -12);
    QVERIFY_THROWS_EXCEPTION(EConvertError, StrToInt(QStringLiteral("12 ")));
    QVERIFY_THROWS_EXCEPTION(EConvertError, StrToInt(QStringLiteral("99999999999")));
  }

  void dispatchesByTheLastRequest() {
    MessageRecorder boxes;
    TestForm f;
    build(f, "1", "40", "07", "021C");
    feed(f, QByteArray("~0140000085\r"));
    QCOMPARE(memoLines(f).mid(1), (QStringList{QStringLiteral(" 7E 30 31 34 30 30 30 30 30 38 35 0D"),
                                               QStringLiteral("85")}));
    QCOMPARE(f.panelText(1), QStringLiteral("设置成功"));
    QCOMPARE(int(f.payload[0]), 1);
    QCOMPARE(int(f.payload[1]), 0x40);
    QCOMPARE(int(f.payload[4]), 0x85);
    feed(f, QByteArray("~0140010086\r"));
    QCOMPARE(f.panelText(1), QStringLiteral("设置失败"));
    // leading noise shows in the log but not in the pairing or the check
    feed(f, QByteArray("\x01xy~0140000085\r"));
    QCOMPARE(f.panelText(1), QStringLiteral("设置成功"));
    QVERIFY(lastMemoLine(f) == QStringLiteral("85"));

    f.setPanelText(1, QString());
    feed(f, QByteArray("~0140000086\r"));  // wrong checksum
    QCOMPARE(f.panelText(1), QStringLiteral("返回数据校验错！！"));
    f.setPanelText(1, QString());
    feed(f, QByteArray("0140000085\r"));  // no "~": summed from position 1, fails here
    QCOMPARE(f.panelText(1), QStringLiteral("返回数据校验错！！"));
    f.setPanelText(1, QString());
    feed(f, QByteArray("~\r"));
    QCOMPARE(f.panelText(1), QStringLiteral("返回数据校验错！！"));
    // a second start mark inside the frame: damaged, even with a matching sum
    f.setPanelText(1, QString());
    feed(f, sealed("~0140~00000"));
    QCOMPARE(f.panelText(1), QStringLiteral("返回数据校验错！！"));
    // longer than the receive buffer: logged, refused, nothing decoded
    f.setPanelText(1, QString());
    const int before = memoLines(f).size();
    feed(f, QByteArray(300, '0').prepend('~'));
    QCOMPARE(f.panelText(1), QStringLiteral("返回数据校验错！！"));
    QCOMPARE(memoLines(f).size(), before + 1);

    // a pair with no decoder: two log lines, nothing else
    build(f, "1", "42", "20", "0003");
    f.setPanelText(1, QString());
    const int n = memoLines(f).size();
    feed(f, answer(0x42, 0, {}));
    QCOMPARE(memoLines(f).size(), n + 2);
    QCOMPARE(f.panelText(1), QString());
    // after a time-out pending CID2 is 0 (that a late answer is not decoded is the exchange's
    // business: tests/test_exchange.cpp, and through a link tests/test_exchange_e2e.cpp)
    build(f, "1", "40", "07", "021C");
    pretendOpen(f);
    f.Button2Click();
    f.Timer1Timer();
    QCOMPARE(f.pendingCid2, 0);
    QCOMPARE(f.panelText(1), QStringLiteral("通讯超时"));
  }

  void dataAvailableNeverTrustsStaleBytes() {
    MessageRecorder boxes;
    TestForm f;
    build(f, "1", "42", "20", "");
    feed(f, answer(0x42, 0, QByteArray("\x12\x34\x56", 3)));
    QCOMPARE(f.dataAvailable(), 3);
    feed(f, answer(0x42, 0, QByteArray()));
    QCOMPARE(f.dataAvailable(), 0);
    // a length byte that claims more than the frame holds: no answer to any request, so it
    // reaches no decoder and leaves the payload as it was
    feed(f, sealed("~0142000200"));
    QCOMPARE(int(f.payload[3]), 0);
    QCOMPARE(lastMemoLine(f), QStringLiteral("应答与请求不符，不解码"));
    QCOMPARE(f.dataAvailable(), 0);
  }
};

QTEST_MAIN(TestProtocol)
#include "test_protocol.moc"
