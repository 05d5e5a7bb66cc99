// History records and energy statistics end to end: the window over loopback TCP against
// the controller simulator. With POWERHOST_SCREENSHOTS set to a folder, both pages are
// saved there as PNGs after their reads.
#include <QtTest>

#include <QComboBox>
#include <QDateTime>
#include <QTabWidget>

#include "protocol/Frame.h"
#include "support/FormFixture.h"
#include "support/Powersim.h"
#include "window/Controls.h"

using namespace testsupport;

namespace {

QStringList historyOptions(const QStringList &records) {
  QStringList options;
  for (const QString &r : records) options << QStringLiteral("--record") << r;
  return options;
}

bool idle(const TestForm &f) { return !f.Timer1->isEnabled(); }

}  // namespace

class TestRecordsE2E : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    SetMessageBoxHook([](const QString &, const QString &) {});
    SetYesNoHook([](const QString &) { return true; });  // the operator means to erase
  }
  void cleanup() { SetYesNoHook({}); }

  void historyIsReadNewestFirstAndErased() {
    Powersim sim(historyOptions({"240517083015:1:1", "241231235958:3:5", "250101000000:9:1", "250102120500:4:2",
                                 "250203101010:2:6"}));
    TestForm f;
    QVERIFY(openLan(f, sim));
    f.Button4Click();
    click(f, "Button146");
    QVERIFY(waitFor([&] { return idle(f) && f.recordIndex == 4; }, 5000));
    click(f, "Button40");
    QVERIFY(waitFor([&] { return idle(f) && f.recordIndex == 0 && f.ValueListEditor1->rowCount() == 5; }, 10000));

    // one request per answer, from index 4 down to 0
    QStringList expected{requestLine(0x42, 0x90, bytes({0, 1, 1, 1, 1, 1}))};
    for (uint8_t i = 5; i-- > 0;) expected << requestLine(0x42, 0x8F, bytes({0, i}));
    QCOMPARE(requestLines(f), expected);
    QCOMPARE(memoLines(f).size(), 18);
    const QList<QStringList> rows{
        {QStringLiteral("发生时间"), QStringLiteral("告警事件")},
        {QStringLiteral("2025-02-03 10:10:10"), QStringLiteral("烟雾告警")},
        {QStringLiteral("2025-01-02 12:05:00"), QStringLiteral("Rectifier2O/P. V. over")},
        {QStringLiteral("2025-01-01 00:00:00"), QString()},
        {QStringLiteral("2024-12-31 23:59:58"), QStringLiteral("负载熔丝断")},
        {QStringLiteral("2024-05-17 08:30:15"), QStringLiteral("交流掉电")}};
    QCOMPARE(shownRows(*f.ValueListEditor1), rows);
    screenshot(f, 3, "records.png");

    // erasing empties the list at once; record 0 is then an empty slot, which adds no row,
    // and a new count leaves nothing to fetch
    click(f, "Button41");
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("设置成功"); }, 5000));
    const int before = memoLines(f).size();
    click(f, "Button40");
    QVERIFY(waitFor([&] { return idle(f) && memoLines(f).size() == before + 3; }, 5000));
    QCOMPARE(f.ValueListEditor1->rowCount(), 0);
    click(f, "Button146");
    QVERIFY(waitFor([&] { return idle(f) && f.recordIndex == -1; }, 5000));
    const int lines = memoLines(f).size();
    click(f, "Button40");
    QCOMPARE(memoLines(f).size(), lines);
    QVERIFY(idle(f));
  }

  void energyRowsFromTheController() {
    Powersim sim;
    TestForm f;
    QVERIFY(openLan(f, sim));
    const QRegularExpression cell(QStringLiteral("^(\\d+(\\.\\d)?)度(\\d+)%$"));
    for (auto [button, row] : {std::pair{"Button94", 13}, {"Button95", 14}, {"Button96", 15}, {"Button98", 16}}) {
      click(f, button);
      QVERIFY(waitFor([&, row = row] { return idle(f) && !f.StringGrid1->Cells(1, row).isEmpty(); }, 5000));
      int percent = 0;
      for (int u = 1; u <= 4; ++u) {
        const auto m = cell.match(f.StringGrid1->Cells(u, row));
        QVERIFY2(m.hasMatch(), qPrintable(f.StringGrid1->Cells(u, row)));
        percent += m.captured(3).toInt();
      }
      QCOMPARE(percent, 100);
    }
    // a month of the last twelve: this year's when it is over, else last year's
    const QDate today = QDateTime::currentDateTimeUtc().addSecs(8 * 3600).date();
    for (int month : {3, 12}) {
      f.ComboBox2->setCurrentText(QString::number(month));
      click(f, "Button97");
      const int year = month < today.month() ? today.year() : today.year() - 1;
      const QString heading = QStringLiteral("%1-%2").arg(year).arg(month);
      QVERIFY(waitFor([&] { return idle(f) && f.StringGrid1->Cells(0, month) == heading; }, 5000));
      for (int u = 1; u <= 4; ++u) QVERIFY(cell.match(f.StringGrid1->Cells(u, month)).hasMatch());
    }
    QCOMPARE(f.StringGrid1->Cells(0, 4), QStringLiteral("4月"));
    screenshot(f, 4, "energy.png");
  }
};

QTEST_MAIN(TestRecordsE2E)
#include "test_records_e2e.moc"
