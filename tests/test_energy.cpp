// Energy statistics: the cell text, the month record's year and row, the four total rows
// from one body, the month request, and answers that must change no cell.
#include <QtTest>

#include <QComboBox>

#include "pages/Energy.h"
#include "support/FormFixture.h"
#include "window/Controls.h"

using namespace testsupport;

namespace {

// Users 1-4: 1234.5, 6553.6, 1 and 0 kWh with 25, 50, 25 and 0 %.
const QByteArray kUsers = bytes({0, 0, 0x30, 0x39, 0, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 25, 50, 25, 0});
const QStringList kCells{QStringLiteral("1234.5度25%"), QStringLiteral("6553.6度50%"), QStringLiteral("1度25%"),
                         QStringLiteral("0度0%")};

}  // namespace

class TestEnergy : public QObject {
  Q_OBJECT
 private slots:
  void cellTexts_data() {
    QTest::addColumn<uint>("figure");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("text");
    QTest::newRow("tenths") << 12345u << 25 << QStringLiteral("1234.5度25%");
    QTest::newRow("high word") << 65536u << 50 << QStringLiteral("6553.6度50%");
    QTest::newRow("whole") << 10u << 7 << QStringLiteral("1度7%");
    QTest::newRow("largest") << 0xFFFFFFFFu << 255 << QStringLiteral("429496729.5度255%");
  }
  void cellTexts() {
    QFETCH(uint, figure);
    QFETCH(int, percent);
    QFETCH(QString, text);
    const uint8_t b[4] = {uint8_t(figure >> 24), uint8_t(figure >> 16), uint8_t(figure >> 8), uint8_t(figure)};
    QCOMPARE(energy::cellText(energy::figure(b), percent), text);
  }

  // The year rule and the row of a month answer; a month byte that is not a BCD month
  // 1-12 changes no cell.
  void monthRecords_data() {
    QTest::addColumn<int>("monthByte");
    QTest::addColumn<int>("currentMonth");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("heading");
    QTest::newRow("November, now May") << 0x11 << 5 << 11 << QStringLiteral("2023-11");
    QTest::newRow("November, now December") << 0x11 << 12 << 11 << QStringLiteral("2024-11");
    QTest::newRow("the current month is last year's") << 0x05 << 5 << 5 << QStringLiteral("2023-5");
    QTest::newRow("the month before") << 0x04 << 5 << 4 << QStringLiteral("2024-4");
    QTest::newRow("October travels as 0x10") << 0x10 << 11 << 10 << QStringLiteral("2024-10");
    QTest::newRow("0x0A") << 0x0A << 5 << 0 << QString();
    QTest::newRow("0x00") << 0x00 << 5 << 0 << QString();
    QTest::newRow("0x13") << 0x13 << 5 << 0 << QString();
  }
  void monthRecords() {
    QFETCH(int, monthByte);
    QFETCH(int, currentMonth);
    QFETCH(int, row);
    QFETCH(QString, heading);
    TestForm f;
    pretendOpen(f);
    QList<QStringList> expected = shownRows(*f.StringGrid1);
    click(f, "Button97");
    feed(f, answer(0x44, 0, bytes({monthByte}) + kUsers + bytes({24, currentMonth})));
    if (row) expected[row] = QStringList{heading} + kCells;
    QCOMPARE(shownRows(*f.StringGrid1), expected);
  }

  void totalsFillTheirRows_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("cid2");
    QTest::addColumn<int>("row");
    QTest::newRow("today") << QStringLiteral("Button94") << 0x0E << 13;
    QTest::newRow("this month") << QStringLiteral("Button95") << 0x0F << 14;
    QTest::newRow("this year") << QStringLiteral("Button96") << 0x10 << 15;
    QTest::newRow("total") << QStringLiteral("Button98") << 0x0D << 16;
  }
  void totalsFillTheirRows() {
    QFETCH(QString, button);
    QFETCH(int, cid2);
    QFETCH(int, row);
    TestForm f;
    pretendOpen(f);
    QList<QStringList> expected = shownRows(*f.StringGrid1);
    click(f, button.toLatin1().constData());
    QCOMPARE(built(f).cid1, 0x44);
    QCOMPARE(built(f).cid2, cid2);
    feed(f, answer(0x44, 0, kUsers));
    expected[row] = QStringList{expected[row][0]} + kCells;
    QCOMPARE(shownRows(*f.StringGrid1), expected);
    // short of the last percentage, or refused: no cell changes, never from stale bytes
    feed(f, answer(0x44, 0, bytes({1, 2, 3, 4}).repeated(4) + bytes({1, 2, 3})));
    feed(f, answer(0x44, 6, bytes({1, 2, 3, 4}).repeated(5)));
    QCOMPARE(shownRows(*f.StringGrid1), expected);
    QCOMPARE(lastMemoLine(f), QStringLiteral("读错误！！"));
  }

  void monthRequestCarriesBcd() {
    TestForm f;
    pretendOpen(f);
    QCOMPARE(f.ComboBox2->currentText(), QStringLiteral("1"));
    QCOMPARE(f.ComboBox2->count(), 12);
    for (auto [choice, sent] : {std::pair{"12", 0x12}, {"3", 0x03}, {"10", 0x10}}) {
      f.ComboBox2->setCurrentText(QString::fromLatin1(choice));
      click(f, "Button97");
      QCOMPARE(built(f).cid2, 0x01);
      QCOMPARE(built(f).data, bytes({sent}));
    }
  }
};

QTEST_MAIN(TestEnergy)
#include "test_energy.moc"
