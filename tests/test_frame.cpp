#include <QtTest>
#include "protocol/Commands.h"
#include "protocol/Frame.h"

#include <set>

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

  // The command catalogue: found by its pair and by its name, and an answer fits a shape by
  // its framing and length; a refusal fits any.
  void theCatalogueAndTheShapes() {
    std::set<std::string> names;
    for (const proto::CommandDef &c : proto::commands()) {
      QVERIFY2(names.insert(c.name).second, c.name);
      QCOMPARE(proto::findCommand(c.cid1, c.cid2), &c);
      QCOMPARE(proto::findCommand(c.name), &c);
      QCOMPARE(&proto::commandDef(c.command), &c);
    }
    QVERIFY(!proto::findCommand(0x42, 0xEE) && !proto::findCommand("no_such"));
    QCOMPARE(proto::answerShape(0x12, 0x34).kind, proto::AnswerShape::Any);
    QCOMPARE(proto::findCommand("system_status")->cid2, uint8_t(0x16));

    using S = proto::AnswerShape;
    const S two{S::Fixed, 2}, ack{S::Ack, 0}, list{S::ModuleList, 0}, any{};
    auto fits = [](const S &s, const std::string &chunk) { return proto::answerFits(s, proto::checkAnswer(chunk)); };
    const std::string word = proto::encodeFrame(1, 0x40, 0, {0x0A, 0xF8});
    QVERIFY(fits(two, word) && fits(any, word) && !fits(ack, word));
    QVERIFY(fits(two, "  " + word));                                  // noise before the start mark
    QVERIFY(!fits(two, word + "0") && !fits(any, word.substr(0, word.size() - 1)));  // no end mark last
    QVERIFY(fits(ack, "~0140000085\r") && fits(two, "~0140010086\r"));  // acknowledged; refused
    std::string damaged = word;
    damaged[damaged.size() - 2] ^= 1;
    QVERIFY(fits(two, damaged) && !fits(ack, damaged));  // damaged but framed: its length tells
    QVERIFY(!fits(two, "~01400002\r"));                  // announced, not carried
    QVERIFY(fits(list, proto::encodeFrame(1, 0x42, 0, {1, 3, 7})) && fits(list, proto::encodeFrame(1, 0x42, 0, {})));
    QVERIFY(!fits(list, proto::encodeFrame(1, 0x42, 0, std::vector<uint8_t>(13, 1))));

    QVERIFY(proto::shapesOverlap(list, S{S::Fixed, 5}) && !proto::shapesOverlap(list, S{S::Fixed, 18}));
    QVERIFY(proto::shapesOverlap(ack, list) && proto::shapesOverlap(any, two) && !proto::shapesOverlap(ack, two));
    QCOMPARE(int(proto::frameAddress(proto::encodeFrame(0xA7, 0x40, 0x01, {}))), 0xA7);
  }
};

QTEST_GUILESS_MAIN(TestFrame)
#include "test_frame.moc"
