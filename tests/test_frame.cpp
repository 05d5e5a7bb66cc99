#include <QtTest>
#include "protocol/Frame.h"

class TestFrame : public QObject {
  Q_OBJECT
 private slots:
  void encodesTheWorkedRequests() {
    QCOMPARE(QByteArray::fromStdString(proto::encodeFrame(1, 0x40, 0x06, {})), QByteArray("~014006008;\r"));
    QCOMPARE(QByteArray::fromStdString(proto::encodeFrame(1, 0x40, 0x07, {0x02, 0x1C})),
             QByteArray("~01400702021<5=\r"));
    QCOMPARE(QByteArray::fromStdString(proto::encodeFrame(1, 0x43, 0x2A, {})), QByteArray("~01432:0094\r"));
  }
  void logLineHasALeadingBlankPerCharacter() {
    QCOMPARE(QByteArray::fromStdString(proto::hexLogLine("~0\r")), QByteArray(" 7E 30 0D"));
  }
  void hexTextAcceptsBothCasesAndRejectsOthers() {
    QCOMPARE(*proto::hexByte('2', 'a'), uint8_t(0x2A));
    QCOMPARE(*proto::hexByte('F', 'f'), uint8_t(0xFF));
    QVERIFY(!proto::hexByte('g', '0'));
    QVERIFY(!proto::hexBytes("123"));
    QVERIFY(!proto::hexBytes("12x4"));
    QCOMPARE(proto::hexBytes("")->size(), size_t(0));
    QCOMPARE(*proto::hexBytes("021C"), (std::vector<uint8_t>{0x02, 0x1C}));
  }
  void parsesWhatItEncodesAndRefusesDamage() {
    std::string f = "xx" + proto::encodeFrame(7, 0x42, 0x8F, {0x00, 0x12, 0xAB});
    auto p = proto::parseFrame(f);
    QCOMPARE(int(p.error), int(proto::FrameError::None));
    QCOMPARE(p.consumed, f.size());
    QCOMPARE(int(p.frame.adr), 7);
    QCOMPARE(int(p.frame.cid1), 0x42);
    QCOMPARE(int(p.frame.cid2OrRtn), 0x8F);
    QCOMPARE(p.frame.data, (std::vector<uint8_t>{0x00, 0x12, 0xAB}));

    std::string bad = f;
    bad[bad.size() - 2] ^= 1;  // checksum character
    QCOMPARE(int(proto::parseFrame(bad).error), int(proto::FrameError::BadChecksum));
    QCOMPARE(int(proto::parseFrame("~0140\r").error), int(proto::FrameError::BadLength));
    QCOMPARE(int(proto::parseFrame("~01400!008;\r").error), int(proto::FrameError::BadCharacter));
    QCOMPARE(int(proto::parseFrame("~014006008;").error), int(proto::FrameError::Incomplete));
    QCOMPARE(int(proto::parseFrame("noise").error), int(proto::FrameError::NoStartMark));
    // LEN that disagrees with the data actually carried
    std::string lying = "~01400602";
    lying += "00";
    proto::appendByte(lying, proto::checksum(std::string_view(lying).substr(1)));
    lying += '\r';
    QCOMPARE(int(proto::parseFrame(lying).error), int(proto::FrameError::BadLength));
  }
};

QTEST_GUILESS_MAIN(TestFrame)
#include "test_frame.moc"
