// Energy statistics: the cell text, the month record's year and row, the four total rows
// from one body, the month request, and answers that must change no cell.
#include <QtTest>

#include <QComboBox>
#include <QLineEdit>

#include "pages/Energy.h"
#include "support/FormFixture.h"
#include "window/Controls.h"

using namespace testsupport;

namespace {

// 20 total bytes: user u's figure (u counted from 0) and percentage.
QByteArray totals(const uint32_t figures[4], const int percents[4]) {
  QByteArray d;
  for (int u = 0; u < 4; ++u)
    for (int shift = 24; shift >= 0; shift -= 8) d.append(char((figures[u] >> shift) & 0xFF));
  for (int u = 0; u < 4; ++u) d.append(char(percents[u]));
  return d;
}

QByteArray monthAnswer(int monthByte, int year, int currentMonth) {
  const uint32_t figures[4] = {12345, 65536, 10, 0};
  const int percents[4] = {25, 50, 25, 0};
  QByteArray d = bytes({monthByte}) + totals(figures, percents);
  d.append(char(year));
  d.append(char(currentMonth));
  return d;
}

QStringList gridRow(const TForm1 &f, int row) {
  QStringList cells;
  for (int c = 0; c < 5; ++c) cells << f.StringGrid1->Cells(c, row);
  return cells;
}

}  // namespace

class TestEnergy : public QObject {
  Q_OBJECT
 private slots:
  void init() { SetMessageBoxHook([](const QString &, const QString &) {}); }

  void cellTexts_data() {
    QTest::addColumn<uint>("figure");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("text");
    QTest::newRow("tenths") << 12345u << 25 << QStringLiteral("1234.5度25%");
    QTest::newRow("high word") << 65536u << 50 << QStringLiteral("6553.6度50%");
    QTest::newRow("whole") << 10u << 7 << QStringLiteral("1度7%");
    QTest::newRow("zero") << 0u << 0 << QStringLiteral("0度0%");
    QTest::newRow("largest") << 0xFFFFFFFFu << 255 << QStringLiteral("429496729.5度255%");
  }
  void cellTexts() {
    QFETCH(uint, figure);
    QFETCH(int, percent);
    QFETCH(QString, text);
    const uint8_t b[4] = {uint8_t(figure >> 24), uint8_t(figure >> 16), uint8_t(figure >> 8), uint8_t(figure)};
    QCOMPARE(energy::figure(b), figure);
    QCOMPARE(energy::cellText(figure, percent), text);
  }

  // The year rule and the row of a month answer; a month byte that is not a BCD month
  // 1-12 changes nothing.
  void monthRecords_data() {
    QTest::addColumn<int>("monthByte");
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("currentMonth");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("heading");
    QTest::newRow("November, now May") << 0x11 << 24 << 5 << 11 << QStringLiteral("2023-11");
    QTest::newRow("November, now December") << 0x11 << 24 << 12 << 11 << QStringLiteral("2024-11");
    QTest::newRow("the current month is last year's") << 0x05 << 24 << 5 << 5 << QStringLiteral("2023-5");
    QTest::newRow("the month before") << 0x04 << 24 << 5 << 4 << QStringLiteral("2024-4");
    QTest::newRow("October travels as 0x10") << 0x10 << 25 << 11 << 10 << QStringLiteral("2025-10");
    QTest::newRow("December in January") << 0x12 << 25 << 1 << 12 << QStringLiteral("2024-12");
    QTest::newRow("January of 2000") << 0x01 << 0 << 1 << 1 << QStringLiteral("1999-1");
    QTest::newRow("0x0A") << 0x0A << 24 << 5 << 0 << QString();
    QTest::newRow("0x0F") << 0x0F << 24 << 5 << 0 << QString();
    QTest::newRow("0x00") << 0x00 << 24 << 5 << 0 << QString();
    QTest::newRow("0x13") << 0x13 << 24 << 5 << 0 << QString();
    QTest::newRow("0x16") << 0x16 << 24 << 5 << 0 << QString();
    QTest::newRow("0x99") << 0x99 << 24 << 5 << 0 << QString();
  }
  void monthRecords() {
    QFETCH(int, monthByte);
    QFETCH(int, year);
    QFETCH(int, currentMonth);
    QFETCH(int, row);
    QFETCH(QString, heading);
    TForm1 f;
    const QList<QStringList> before = shownRows(*f.StringGrid1);
    pretendOpen(f);
    click(f, "Button97");
    feed(f, answer(0x44, 0, monthAnswer(monthByte, year, currentMonth)));
    QList<QStringList> expected = before;
    if (row) {
      expected[row] = QStringList{heading, QStringLiteral("1234.5度25%"), QStringLiteral("6553.6度50%"),
                                  QStringLiteral("1度25%"), QStringLiteral("0度0%")};
    } else {
      QCOMPARE(lastMemoLine(f), QStringLiteral("读错误！！"));
    }
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
    TForm1 f;
    pretendOpen(f);
    const QString heading = f.StringGrid1->Cells(0, row);
    click(f, button.toLatin1().constData());
    QCOMPARE(built(f).cid1, 0x44);
    QCOMPARE(built(f).cid2, cid2);
    QCOMPARE(built(f).data, QByteArray());
    QCOMPARE(f.Edit3->text(), QStringLiteral("%1").arg(cid2, 2, 16, QLatin1Char('0')));

    const uint32_t figures[4] = {12345, 65536, 10, 4000000000u};
    const int percents[4] = {25, 50, 1, 24};
    feed(f, answer(0x44, 0, totals(figures, percents)));
    const QStringList shown{heading, QStringLiteral("1234.5度25%"), QStringLiteral("6553.6度50%"),
                            QStringLiteral("1度1%"), QStringLiteral("400000000度24%")};
    QCOMPARE(gridRow(f, row), shown);

    // refused, or short of the last percentage: no cell changes, never stale bytes
    const uint32_t other[4] = {1, 2, 3, 4};
    QByteArray shortAnswer = totals(other, percents);
    shortAnswer.chop(1);
    feed(f, answer(0x44, 0, shortAnswer));
    QCOMPARE(gridRow(f, row), shown);
    QCOMPARE(lastMemoLine(f), QStringLiteral("读错误！！"));
    feed(f, answer(0x44, 6, totals(other, percents)));
    QCOMPARE(gridRow(f, row), shown);
    for (int r = 1; r < 17; ++r)
      if (r != row) QCOMPARE(gridRow(f, r).mid(1), QStringList(4, QString()));
  }

  void monthRequestCarriesBcd() {
    TForm1 f;
    pretendOpen(f);
    QCOMPARE(f.ComboBox2->count(), 12);
    QCOMPARE(f.ComboBox2->currentText(), QStringLiteral("1"));
    QCOMPARE(f.ComboBox2->itemText(11), QStringLiteral("12"));
    for (auto [choice, sent] : {std::pair{"12", 0x12}, {"3", 0x03}, {"10", 0x10}, {"1", 0x01}}) {
      f.ComboBox2->setCurrentText(QString::fromLatin1(choice));
      click(f, "Button97");
      QCOMPARE(built(f).cid1, 0x44);
      QCOMPARE(built(f).cid2, 0x01);
      QCOMPARE(built(f).data, bytes({sent}));
    }
    // a short month answer changes nothing
    const QList<QStringList> before = shownRows(*f.StringGrid1);
    QByteArray d = monthAnswer(0x01, 24, 5);
    d.chop(1);
    feed(f, answer(0x44, 0, d));
    QCOMPARE(shownRows(*f.StringGrid1), before);
  }
};

QTEST_MAIN(TestEnergy)
#include "test_energy.moc"
