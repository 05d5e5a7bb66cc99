// History records: the time and event texts, and the read-out driven by the answers handed
// straight to the window: one request per answer, refusals and resuming, empty and short
// answers, a count of 0.
#include <QtTest>

#include "pages/Records.h"
#include "support/FormFixture.h"
#include "window/Controls.h"

using namespace testsupport;

namespace {

const QString kReadError = QStringLiteral("读错误！！");

// The index the last record request asked for.
int requestedIndex(const TestForm &f) {
  const Built b = built(f);
  return b.cid2 == 0x8F && b.data.size() == 2 ? uint8_t(b.data[0]) * 256 + uint8_t(b.data[1]) : -1;
}

void answerCount(TestForm &f, int count) {
  click(f, "Button146");
  feed(f, answer(0x42, 0, bytes({count >> 8, count & 0xFF})));
}

}  // namespace

class TestRecords : public QObject {
  Q_OBJECT
 private slots:
  void eventTexts_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("AC first") << 1 << 1 << QStringLiteral("交流掉电");
    QTest::newRow("AC last") << 1 << 13 << QStringLiteral("交流空开断");
    QTest::newRow("AC code 0") << 1 << 0 << QString();
    QTest::newRow("environment last") << 2 << 8 << QStringLiteral("门禁告警");
    QTest::newRow("environment past the end") << 2 << 9 << QString();
    QTest::newRow("DC fuse") << 3 << 5 << QStringLiteral("负载熔丝断");
    QTest::newRow("DC past the end") << 3 << 10 << QString();
    QTest::newRow("module over-voltage") << 4 << 2 << QStringLiteral("Rectifier2O/P. V. over");
    QTest::newRow("module 12 temperature") << 5 << 12 << QStringLiteral("Rectifier12Temp. over");
    QTest::newRow("module limit") << 8 << 255 << QStringLiteral("Rectifier255O/P. A Limit");
    QTest::newRow("type 0") << 0 << 1 << QString();
    QTest::newRow("type 9") << 9 << 1 << QString();
  }
  void eventTexts() {
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(history::eventText(type, code), text);
  }

  void timeTexts_data() {
    QTest::addColumn<QByteArray>("stamp");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("empty");
    QTest::newRow("BCD") << bytes({0x24, 0x05, 0x17, 0x08, 0x30, 0x15}) << QStringLiteral("2024-05-17 08:30:15") << false;
    QTest::newRow("second 00") << bytes({0x25, 0x01, 0x01, 0, 0, 0}) << QStringLiteral("2025-01-01 00:00:00") << false;
    QTest::newRow("not BCD") << bytes({0x1A, 0xFF, 0, 0, 0, 1}) << QStringLiteral("201A-FF-00 00:00:01") << false;
    QTest::newRow("erased slot") << bytes({0, 0, 0, 0, 0, 0}) << QStringLiteral("2000-00-00 00:00:00") << true;
  }
  void timeTexts() {
    QFETCH(QByteArray, stamp);
    QFETCH(QString, text);
    QFETCH(bool, empty);
    const auto *b = reinterpret_cast<const uint8_t *>(stamp.constData());
    QCOMPARE(history::timeText(b), text);
    QCOMPARE(history::isEmpty(b), empty);
  }

  // Count 3: indices 2, 1, 0, each sent by the decoder of the answer before; duplicates kept;
  // an erased slot adds no row and does not stop the read-out; an answer too short for a
  // record is no answer to its request, which waits on for its own.
  void readOutGoesDownToZero() {
    TestForm f;
    pretendOpen(f);
    click(f, "Button146");
    QCOMPARE(built(f).data, bytes({0x00, 0x01, 0x01, 0x01, 0x01, 0x01}));
    feed(f, answer(0x42, 0, bytes({0x00, 0x03})));
    QCOMPARE(f.recordIndex, 2);
    click(f, "Button40");
    QCOMPARE(requestedIndex(f), 2);
    const QByteArray fuse = bytes({0x24, 0x12, 0x31, 0x23, 0x59, 0x58, 3, 5});
    feed(f, answer(0x42, 0, fuse));
    QCOMPARE(requestedIndex(f), 1);
    feed(f, answer(0x42, 0, fuse));
    QCOMPARE(requestedIndex(f), 0);
    const int lines = memoLines(f).size();
    feed(f, answer(0x42, 0, fuse));
    QCOMPARE(memoLines(f).size(), lines + 2);  // the answer, no further request
    const QStringList row{QStringLiteral("2024-12-31 23:59:58"), QStringLiteral("负载熔丝断")};
    QCOMPARE(shownRows(*f.ValueListEditor1).mid(1), (QList<QStringList>{row, row, row}));

    answerCount(f, 2);
    click(f, "Button40");
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
    feed(f, answer(0x42, 0, fuse.left(7)));
    QCOMPARE(lastMemoLine(f), QStringLiteral("应答与请求不符，不解码"));
    QCOMPARE(requestedIndex(f), 1);
    const QByteArray erased(8, '\0');
    feed(f, answer(0x42, 0, erased));
    QCOMPARE(requestedIndex(f), 0);
    feed(f, answer(0x42, 0, erased));
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
    QCOMPARE(f.recordIndex, 0);
  }

  // A refusal stops the read-out at the failed index; "获取记录" resumes there, list emptied.
  void refusalStopsAndResumes() {
    TestForm f;
    pretendOpen(f);
    answerCount(f, 5);
    click(f, "Button40");
    const QByteArray ac = bytes({0x24, 0x01, 0x01, 0x01, 0x01, 0x01, 1, 1});
    feed(f, answer(0x42, 0, ac));
    const int lines = memoLines(f).size();
    feed(f, answer(0x42, 6, ac));
    QCOMPARE(f.panelText(2), kReadError);
    QCOMPARE(memoLines(f).size(), lines + 2);  // nothing sent
    QCOMPARE(f.recordIndex, 3);
    QCOMPARE(f.ValueListEditor1->rowCount(), 1);
    click(f, "Button40");
    QCOMPARE(requestedIndex(f), 3);
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
    for (int i = 0; i < 4; ++i) feed(f, answer(0x42, 0, ac));
    QCOMPARE(f.ValueListEditor1->rowCount(), 4);
    QCOMPARE(f.recordIndex, 0);
  }

  void countFailuresAndNoRecords() {
    TestForm f;
    pretendOpen(f);
    answerCount(f, 4);
    click(f, "Button146");
    feed(f, answer(0x42, 1, bytes({0x00, 0x09})));  // refused
    QCOMPARE(lastMemoLine(f), kReadError);
    QCOMPARE(f.recordIndex, 3);
    click(f, "Button146");
    feed(f, answer(0x42, 0, bytes({0x09})));  // too short: no answer to it
    QCOMPARE(lastMemoLine(f), QStringLiteral("应答与请求不符，不解码"));
    QCOMPARE(f.recordIndex, 3);
    f.Timer1Timer();
    answerCount(f, 0xFFFF);
    click(f, "Button40");
    QCOMPARE(requestedIndex(f), 0xFFFE);
    f.exchange().clear();  // that read-out is left unanswered

    // a count of 0 leaves nothing to fetch: no request at all, and an empty list
    answerCount(f, 0);
    f.ValueListEditor1->InsertRow(QStringLiteral("a"), QStringLiteral("b"));
    const QByteArray lastFrame(f.txBuffer, f.txLength);
    const int lines = memoLines(f).size();
    click(f, "Button40");
    QCOMPARE(memoLines(f).size(), lines);
    QCOMPARE(QByteArray(f.txBuffer, f.txLength), lastFrame);
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
  }
};

QTEST_MAIN(TestRecords)
#include "test_records.moc"
