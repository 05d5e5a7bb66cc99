// History records: the time and event texts, the record count, the read-out one request per
// answer, refusals and resuming, empty and short answers, and erasing, with the
// controller's answers handed straight to the window.
#include <QtTest>

#include <QPushButton>

#include "pages/Records.h"
#include "protocol/Frame.h"
#include "support/FormFixture.h"
#include "window/Controls.h"

using namespace testsupport;

namespace {

const QString kReadError = QStringLiteral("读错误！！");

// The index a record request asks for.
int requestedIndex(const TForm1 &f) {
  const Built b = built(f);
  return b.data.size() == 2 ? uint8_t(b.data[0]) * 256 + uint8_t(b.data[1]) : -1;
}

QByteArray record(std::initializer_list<int> stamp, int type, int code) {
  QByteArray r = bytes(stamp);
  r.append(char(type));
  r.append(char(code));
  return r;
}

QStringList row(const TForm1 &f, int r) { return {f.ValueListEditor1->Keys(r), f.ValueListEditor1->Values(r)}; }

}  // namespace

class TestRecords : public QObject {
  Q_OBJECT

  void answerCount(TForm1 &f, int count) {
    click(f, "Button146");
    feed(f, answer(0x42, 0, bytes({count >> 8, count & 0xFF})));
  }

 private slots:
  void init() { SetMessageBoxHook([](const QString &, const QString &) {}); }

  void eventTexts_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("AC first") << 1 << 1 << QStringLiteral("交流掉电");
    QTest::newRow("AC last") << 1 << 13 << QStringLiteral("交流空开断");
    QTest::newRow("AC code 0") << 1 << 0 << QString();
    QTest::newRow("AC past the end") << 1 << 14 << QString();
    QTest::newRow("environment") << 2 << 6 << QStringLiteral("烟雾告警");
    QTest::newRow("environment last") << 2 << 8 << QStringLiteral("门禁告警");
    QTest::newRow("environment past the end") << 2 << 9 << QString();
    QTest::newRow("DC fuse") << 3 << 5 << QStringLiteral("负载熔丝断");
    QTest::newRow("DC first") << 3 << 1 << QStringLiteral("-48V输出过压");
    QTest::newRow("DC last") << 3 << 9 << QStringLiteral("模块缺失告警");
    QTest::newRow("DC past the end") << 3 << 10 << QString();
    QTest::newRow("module over-voltage") << 4 << 2 << QStringLiteral("Rectifier2O/P. V. over");
    QTest::newRow("module temperature") << 5 << 12 << QStringLiteral("Rectifier12Temp. over");
    QTest::newRow("module short") << 6 << 1 << QStringLiteral("Rectifier1Short");
    QTest::newRow("module fan") << 7 << 0 << QStringLiteral("Rectifier0Fan failure");
    QTest::newRow("module limit") << 8 << 255 << QStringLiteral("Rectifier255O/P. A Limit");
    QTest::newRow("type 0") << 0 << 1 << QString();
    QTest::newRow("type 9") << 9 << 1 << QString();
    QTest::newRow("type 255") << 255 << 5 << QString();
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
    QTest::newRow("BCD") << bytes({0x24, 0x05, 0x17, 0x08, 0x30, 0x15}) << QStringLiteral("2024-05-17 08:30:15")
                         << false;
    QTest::newRow("year end") << bytes({0x24, 0x12, 0x31, 0x23, 0x59, 0x58}) << QStringLiteral("2024-12-31 23:59:58")
                              << false;
    QTest::newRow("second 00") << bytes({0x25, 0x01, 0x01, 0x00, 0x00, 0x00}) << QStringLiteral("2025-01-01 00:00:00")
                               << false;
    QTest::newRow("not BCD, shown as sent") << bytes({0x1A, 0xFF, 0x00, 0x00, 0x00, 0x01})
                                            << QStringLiteral("201A-FF-00 00:00:01") << false;
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

  void pageLayout() {
    TForm1 f;
    QCOMPARE(f.ValueListEditor1->parentWidget(), f.TabSheet4);
    QCOMPARE(shownRows(*f.ValueListEditor1), (QList<QStringList>{{QStringLiteral("发生时间"), QStringLiteral("告警事件")}}));
    QCOMPARE(f.ValueListEditor1->columnWidth(0), 166);
    QCOMPARE(f.ValueListEditor1->columnWidth(1), 229);
    for (auto [name, caption] : {std::pair{"Button146", "读记录数"}, {"Button40", "获取记录"}, {"Button41", "清除记录"}})
      QCOMPARE(f.TabSheet4->findChild<QPushButton *>(QString::fromLatin1(name))->text(), QString::fromUtf8(caption));
  }

  // Count 3: indices 2, 1, 0, each sent by the decoder of the answer before; rows appended
  // in that order, duplicates kept, an erased slot and a short answer add none.
  void readOutGoesDownToZero() {
    MessageRecorder boxes;
    TForm1 f;
    pretendOpen(f);
    f.ValueListEditor1->InsertRow(QStringLiteral("old"), QStringLiteral("row"));
    click(f, "Button146");
    QCOMPARE(built(f).cid2, 0x90);
    QCOMPARE(built(f).data, bytes({0x00, 0x01, 0x01, 0x01, 0x01, 0x01}));
    feed(f, answer(0x42, 0, bytes({0x00, 0x03})));
    QCOMPARE(f.recordIndex, 2);

    click(f, "Button40");
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
    QCOMPARE(built(f).cid2, 0x8F);
    QCOMPARE(requestedIndex(f), 2);
    const QByteArray same = record({0x24, 0x12, 0x31, 0x23, 0x59, 0x58}, 3, 5);
    feed(f, answer(0x42, 0, same));
    QCOMPARE(requestedIndex(f), 1);
    feed(f, answer(0x42, 0, same));
    QCOMPARE(requestedIndex(f), 0);
    const int frames = memoLines(f).size();
    feed(f, answer(0x42, 0, record({0x25, 0x01, 0x01, 0x00, 0x00, 0x00}, 9, 1)));
    QCOMPARE(memoLines(f).size(), frames + 2);  // no further request
    QCOMPARE(f.recordIndex, 0);
    QCOMPARE(f.ValueListEditor1->rowCount(), 3);
    const QStringList fuse{QStringLiteral("2024-12-31 23:59:58"), QStringLiteral("负载熔丝断")};
    QCOMPARE(row(f, 0), fuse);
    QCOMPARE(row(f, 1), fuse);
    QCOMPARE(row(f, 2), (QStringList{QStringLiteral("2025-01-01 00:00:00"), QString()}));

    // a second read-out without a new count fetches record 0 only
    click(f, "Button40");
    QCOMPARE(requestedIndex(f), 0);
    feed(f, answer(0x42, 0, record({0, 0, 0, 0, 0, 0}, 0, 0)));  // an erased slot
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
    QVERIFY(f.panelText(2) != kReadError);

    // answers too short for a record add nothing, are reported, and the read-out goes on
    answerCount(f, 2);
    click(f, "Button40");
    feed(f, answer(0x42, 0, bytes({0x24, 0x12, 0x31, 0x23, 0x59, 0x58, 3})));
    QCOMPARE(f.panelText(2), kReadError);
    QCOMPARE(requestedIndex(f), 0);
    feed(f, answer(0x42, 0, bytes({})));
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
    QVERIFY(boxes.boxes.isEmpty());
  }

  // A refusal stops the read-out at the failed index; "获取记录" resumes there.
  void refusalStopsAndResumes() {
    TForm1 f;
    pretendOpen(f);
    answerCount(f, 5);
    click(f, "Button40");
    feed(f, answer(0x42, 0, record({0x24, 0x01, 0x01, 0x01, 0x01, 0x01}, 1, 1)));
    QCOMPARE(requestedIndex(f), 3);
    f.setPanelText(2, QString());
    const int frames = memoLines(f).size();
    feed(f, answer(0x42, 6, record({0x24, 0x01, 0x01, 0x01, 0x01, 0x02}, 1, 2)));
    QCOMPARE(f.panelText(2), kReadError);
    QCOMPARE(memoLines(f).size(), frames + 2);  // nothing sent
    QCOMPARE(f.recordIndex, 3);
    QCOMPARE(f.ValueListEditor1->rowCount(), 1);

    click(f, "Button40");
    QCOMPARE(requestedIndex(f), 3);
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
    for (int i = 0; i < 4; ++i) feed(f, answer(0x42, 0, record({0x24, 0x01, 0x01, 0x01, 0x01, 0x03}, 2, 1)));
    QCOMPARE(f.ValueListEditor1->rowCount(), 4);
    QCOMPARE(f.recordIndex, 0);
  }

  void countFailuresAndNoRecords() {
    TForm1 f;
    pretendOpen(f);
    answerCount(f, 4);
    click(f, "Button146");
    feed(f, answer(0x42, 1, bytes({0x00, 0x09})));
    QCOMPARE(lastMemoLine(f), kReadError);
    QCOMPARE(f.recordIndex, 3);
    click(f, "Button146");
    feed(f, answer(0x42, 0, bytes({0x09})));  // short: no stale second byte
    QCOMPARE(lastMemoLine(f), kReadError);
    QCOMPARE(f.recordIndex, 3);

    // a count of 0 leaves nothing to fetch: no request at all
    answerCount(f, 0);
    QCOMPARE(f.recordIndex, -1);
    f.ValueListEditor1->InsertRow(QStringLiteral("a"), QStringLiteral("b"));
    const QByteArray lastFrame(f.txBuffer, f.txLength);
    const int lines = memoLines(f).size();
    click(f, "Button40");
    QCOMPARE(memoLines(f).size(), lines);
    QCOMPARE(QByteArray(f.txBuffer, f.txLength), lastFrame);
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);

    // the largest count asks for index FFFE
    answerCount(f, 0xFFFF);
    click(f, "Button40");
    QCOMPARE(requestedIndex(f), 0xFFFE);
  }

  void eraseEmptiesTheListAtOnce() {
    TForm1 f;
    pretendOpen(f);
    f.ValueListEditor1->InsertRow(QStringLiteral("k"), QStringLiteral("v"));
    click(f, "Button41");
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
    QCOMPARE(built(f).cid1, 0x42);
    QCOMPARE(built(f).cid2, 0x95);
    QCOMPARE(built(f).data, QByteArray());
    feed(f, answer(0x42, 1, QByteArray()));
    QCOMPARE(f.panelText(1), QStringLiteral("设置失败"));
    feed(f, answer(0x42, 0, QByteArray()));
    QCOMPARE(f.panelText(1), QStringLiteral("设置成功"));
  }
};

QTEST_MAIN(TestRecords)
#include "test_records.moc"
