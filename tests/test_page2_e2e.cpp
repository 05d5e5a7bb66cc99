// Parameter page 2 end to end: the window over loopback TCP against the controller simulator.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "support/FormFixture.h"
#include "support/Page2Chain.h"
#include "support/Powersim.h"

using namespace testsupport;

namespace {

QStringList expectedRequestLines() {
  QStringList lines;
  for (const ChainRead &r : kPage2Chain) lines << requestLine(0x42, r.cid2, r.data());
  return lines;
}

// Waits for the answer to the request just sent.
bool answered(TestForm &f) {
  return waitFor([&] { return !f.Timer1->isEnabled(); }, 3000) && f.panelText(1) != QStringLiteral("通讯超时");
}

}  // namespace

class TestPage2E2E : public QObject {
  Q_OBJECT
 private slots:
  void refreshFillsEveryControlFromTheController() {
    // the simulator's start values
    const std::pair<const char *, const char *> edits[] = {
        {"Edit58", "52"},    {"Edit59", "46"},    {"Edit60", "56.4"},  {"Edit61", "120"},   {"Edit64", "-5"},
        {"Edit65", "45"},    {"Edit38", "10000"}, {"Edit45", "0"},     {"Edit46", "10000"}, {"Edit47", "10000"},
        {"Edit48", "10000"}, {"Edit49", "0"},     {"Edit50", "10000"}, {"Edit51", "0"},     {"Edit52", "10000"},
        {"Edit53", "0"},     {"Edit54", "0"},     {"Edit26", "24"},    {"Edit27", "45"}};
    const std::pair<const char *, const char *> boxes[] = {
        {"ComboBox4", "交流掉电"}, {"ComboBox5", "直流过欠压"}, {"ComboBox7", "模块故障"}, {"ComboBox10", "环境温度"},
        {"ComboBox8", "开"},       {"ComboBox6", "开"},         {"ComboBox9", "开"},       {"ComboBox11", "开"}};
    MessageRecorder messages;
    Powersim sim;
    TestForm f;
    QVERIFY(openLan(f, sim));
    for (auto [edit, shown] : edits) setText(f, edit, QStringLiteral("?"));
    for (const char *check : {"CheckBox7", "CheckBox8", "CheckBox2"})
      f.findChild<QCheckBox *>(QString::fromLatin1(check))->setChecked(true);
    f.Button4Click();
    click(f, "Button88");
    QVERIFY(waitFor([&] { return !f.page2Refresh; }, 15000));
    QCOMPARE(requestLines(f), expectedRequestLines());
    QCOMPARE(f.panelText(1), QString());
    for (auto [edit, shown] : edits) QCOMPARE(text(f, edit), QString::fromUtf8(shown));
    for (auto [box, shown] : boxes) {
      QVERIFY(comboIndex(f, box) >= 0);
      QCOMPARE(combo(f, box)->currentText(), QString::fromUtf8(shown));
    }
    for (const char *check : {"CheckBox7", "CheckBox8", "CheckBox2"}) QVERIFY(!checked(f, check));
    QVERIFY(messages.boxes.isEmpty());
    screenshot(f, 2, "page2.png");

    // afterwards a single read sends one request only
    const int lines = memoLines(f).size();
    click(f, "Button99");
    QVERIFY(answered(f));
    QCOMPARE(text(f, "Edit31"), QStringLiteral("3"));
    QCOMPARE(memoLines(f).size(), lines + 3);
  }
};

QTEST_MAIN(TestPage2E2E)
#include "test_page2_e2e.moc"
