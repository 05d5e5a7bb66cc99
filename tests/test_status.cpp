// The system status page: decoding the status, AC, module list and module answers, the
// lamps, the module grid and the on/off commands, with answers handed straight to the window.
#include <QtTest>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include "protocol/Status.h"
#include "protocol/Frame.h"
#include "support/FormFixture.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"

using namespace testsupport;

namespace {

const QColor kRed(255, 0, 0), kGreen(0, 255, 0);

// A status answer's 18 data bytes, all 0 but the given (offset, value) pairs.
QByteArray statusData(std::initializer_list<std::pair<int, int>> set, int size = 18) {
  QByteArray d(size, '\0');
  for (auto [k, v] : set) d[k] = char(v);
  return d;
}

// Module readings: voltage and current in 0.01 units, status and fault code.
QByteArray readings(int module, int centivolts, int centiamps, int statusBits, int fault) {
  return bytes({module, centivolts >> 8, centivolts & 0xFF, centiamps >> 8, centiamps & 0xFF, 1, 30, 0, 0,
                statusBits, fault});
}

// Answers the request last built, as the controller would.
void reply(TestForm &f, const QByteArray &data, uint8_t rtn = 0) { feed(f, answer(uint8_t(f.pendingCid1), rtn, data)); }

// The request at cid1/cid2 is on the line, as if the cycle had just sent it (for module
// readings, of module `module`).
void pending(TestForm &f, int cid1, int cid2, int module = 0) {
  f.pendingCid1 = cid1;
  f.pendingCid2 = cid2;
  f.exchange().clear();
  Exchange::Request r;
  r.cid1 = static_cast<uint8_t>(cid1);
  r.cid2 = static_cast<uint8_t>(cid2);
  r.tag = TestForm::StatusPoll;
  r.context = module;
  r.background = true;
  f.exchange().submit(std::move(r));
}

QColor lamp(const TestForm &f, const char *name) {
  return f.findChild<TShape *>(QString::fromLatin1(name))->BrushColor();
}
QString labelText(const TestForm &f, const char *name) {
  return f.findChild<QLabel *>(QString::fromLatin1(name))->text();
}
QStringList comboItems(const TestForm &f) {
  QStringList items;
  for (int i = 0; i < f.ComboBox31->count(); ++i) items << f.ComboBox31->itemText(i);
  return items;
}
QStringList gridRow(TestForm &f, int row) {
  f.Timer4Timer();
  QStringList cells;
  for (int c = 0; c < 7; ++c) cells << f.StringGrid2->Cells(c, row);
  return cells;
}

}  // namespace

class TestStatus : public QObject {
  Q_OBJECT
 private slots:
  void init() { SetMessageBoxHook([](const QString &, const QString &) {}); }

  void pageHasEveryControl() {
    TestForm f;
    QCOMPARE(f.TabSheet2->objectName(), QStringLiteral("TabSheet2"));
    for (const char *box : {"Edit14", "Edit15", "Edit16", "Edit17", "Edit18", "Edit19", "Edit32", "Edit33"}) {
      QCOMPARE(text(f, box), QStringLiteral("0"));
      QCOMPARE(f.findChild<QLineEdit *>(QString::fromLatin1(box))->parentWidget(), f.TabSheet2);
    }
    QStringList labels;
    for (QLabel *l : f.TabSheet2->findChildren<QLabel *>()) labels << l->text();
    for (const char *t : {"交流输入：", "- 48V 输出：", "电池电流：", "电池状态：", "环境温度：", "环境湿度： ",
                          "-整流模块数：", "V", "A", "C", "-48V输出过压：", "  电池1 熔丝：", "  模块缺失：",
                          "防         雷：", "门         禁：", "水         浸：", "交流空开：", "烟         雾："})
      QVERIFY2(labels.contains(QString::fromUtf8(t)), t);
    QCOMPARE(labelText(f, "Label41"), QStringLiteral("浮充"));
    QCOMPARE(labelText(f, "Label68"), QStringLiteral("正常"));
    const auto lamps = f.TabSheet2->findChildren<TShape *>();
    QCOMPARE(lamps.size(), 19);  // 18 alarm lamps and the AC state lamp
    for (TShape *s : lamps) QCOMPARE(s->BrushColor(), QColor(160, 160, 160));  // nothing known yet
    QCOMPARE(f.ComboBox31->currentText(), QStringLiteral("1"));
    QCOMPARE(f.ComboBox31->count(), 32);
    QVERIFY(f.ComboBox31->isEditable());
    QCOMPARE(f.Button114->text(), QStringLiteral("开机"));
    QCOMPARE(f.Button115->text(), QStringLiteral("关机"));
    QCOMPARE(qobject_cast<QGroupBox *>(f.Button114->parentWidget())->title(), QStringLiteral("整流模块控制"));
    // every module starts "not present"
    QCOMPARE(gridRow(f, 12), (QStringList{"模块12", "不在位", "0V", "0A", "正常", "正常", "正常"}));
    QCOMPARE(f.moduleTable[0], status::ModuleRecord{});
  }

  void gridRowsAreFifteenPixelsAndAllInView() {
    TestForm f;
    for (int r = 0; r < 13; ++r) QCOMPARE(f.StringGrid2->rowHeight(r), 15);
    for (int r = 0; r < 17; ++r) QCOMPARE(f.StringGrid1->rowHeight(r), 25);
    f.show();
    f.PageControl1->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QCOMPARE(f.StringGrid2->verticalScrollBar()->maximum(), 0);
    QVERIFY(f.StringGrid2->viewport()->height() >= 13 * 15);
  }

  void statusAnswerFillsTheBoxes() {
    struct Row {
      int offset, high, low;
      const char *box, *shown;
    } rows[] = {
        {0, 0x14, 0xE6, "Edit16", "53.5"}, {0, 0x15, 0x18, "Edit16", "54"},   {2, 0x80, 0x0A, "Edit17", "-1"},
        {2, 0x00, 0x0A, "Edit17", "1"},    {2, 0x80, 0x00, "Edit17", "0"},    {4, 0x00, 0xF3, "Edit15", "24.3"},
        {6, 0x80, 0xFA, "Edit32", "-25"},  {8, 0x01, 0x05, "Edit18", "26.1"}, {11, 0x01, 0xC2, "Edit19", "45"},
        {11, 0xFF, 0xFF, "Edit19", "6553.5"},
    };
    TestForm f;
    for (const Row &r : rows) {
      pending(f, 0x42, 0x16);
      reply(f, statusData({{r.offset, r.high}, {r.offset + 1, r.low}}));
      QVERIFY2(text(f, r.box) == QString::fromLatin1(r.shown), r.shown);
    }
    pending(f, 0x42, 0x16);
    reply(f, statusData({{10, 12}}));
    QCOMPARE(text(f, "Edit33"), QStringLiteral("12"));
    for (auto [high, low, shown] : {std::tuple{0x08, 0x98, "220"}, {0x08, 0x9D, "220.5"}, {0, 0, "0"}}) {
      pending(f, 0x40, 0x01);
      reply(f, bytes({high, low, 0, 0, 0}));
      QCOMPARE(text(f, "Edit14"), QString::fromLatin1(shown));
    }
  }

  void eachAlarmBitPaintsItsLamp() {
    struct Row {
      int cid1, cid2, byte, mask;
      const char *lamp;
    } rows[] = {
        {0x42, 0x16, 13, 0x10, "Shape1"},  {0x42, 0x16, 13, 0x04, "Shape2"},  {0x42, 0x16, 13, 0x02, "Shape3"},
        {0x42, 0x16, 13, 0x01, "Shape27"}, {0x42, 0x16, 14, 0x40, "Shape28"}, {0x42, 0x16, 14, 0x20, "Shape7"},
        {0x42, 0x16, 14, 0x10, "Shape8"},  {0x42, 0x16, 14, 0x08, "Shape10"}, {0x42, 0x16, 14, 0x04, "Shape21"},
        {0x42, 0x16, 14, 0x02, "Shape29"}, {0x42, 0x16, 14, 0x01, "Shape4"},  {0x42, 0x16, 15, 0x40, "Shape5"},
        {0x42, 0x16, 15, 0x20, "Shape6"},  {0x42, 0x16, 17, 0x08, "Shape26"}, {0x42, 0x16, 17, 0x04, "Shape18"},
        {0x42, 0x16, 17, 0x02, "Shape17"}, {0x42, 0x16, 17, 0x01, "Shape16"}, {0x40, 0x01, 4, 0x20, "Shape22"},
    };
    TestForm f;
    const auto lamps = f.TabSheet2->findChildren<TShape *>();
    for (const Row &r : rows) {
      // every lamp green first, then only this row's bit set
      pending(f, 0x42, 0x16);
      reply(f, statusData({}));
      pending(f, 0x40, 0x01);
      reply(f, bytes({0, 0, 0, 0, 0}));
      pending(f, r.cid1, r.cid2);
      reply(f, r.cid1 == 0x40 ? statusData({{r.byte, r.mask}}, 5) : statusData({{r.byte, r.mask}}));
      for (TShape *s : lamps)
        QVERIFY2(s->BrushColor() == (s->objectName() == QLatin1String(r.lamp) ? kRed : kGreen),
                 qPrintable(QStringLiteral("%1 with %2").arg(s->objectName(), QLatin1String(r.lamp))));
    }
    // bits no lamp listens to paint nothing
    pending(f, 0x42, 0x16);
    reply(f, statusData({{13, 0xE8}, {15, 0x9F}, {17, 0xF0}}));
    pending(f, 0x40, 0x01);
    reply(f, bytes({0, 0, 0, 0, 0xD8}));
    for (TShape *s : lamps) QCOMPARE(s->BrushColor(), kGreen);
  }

  void batteryAndAcState() {
    TestForm f;
    for (auto [bits, shown] : {std::pair{0x14, "均充"}, {0x01, "电池测试"}, {0x03, "快充"}, {0x07, "浮充"},
                               {0x08, "浮充"}, {0x00, "浮充"}, {0x02, "快充"}, {0x00, "快充"}}) {
      pending(f, 0x42, 0x16);
      reply(f, statusData({{16, bits}}));
      QCOMPARE(labelText(f, "Label41"), QString::fromUtf8(shown));
    }
    struct Row {
      int bits;
      const char *text;
      QColor shape9, shape22;
    } rows[] = {{0x07, "掉电", kRed, kGreen},  {0x20, "正常", kGreen, kRed}, {0x06, "欠压", kRed, kGreen},
                {0x04, "过压", kRed, kGreen}, {0x00, "正常", kGreen, kGreen}, {0x25, "掉电", kRed, kRed}};
    for (const Row &r : rows) {
      pending(f, 0x40, 0x01);
      reply(f, bytes({0x08, 0x98, 0, 0, r.bits}));
      QCOMPARE(labelText(f, "Label68"), QString::fromUtf8(r.text));
      QCOMPARE(lamp(f, "Shape9"), r.shape9);
      QCOMPARE(lamp(f, "Shape22"), r.shape22);
    }
  }

  void theCycleGoesOnWhilePollingAndStopsOnAFailedRead() {
    TestForm f;
    pretendOpen(f);
    f.PageControl1->setCurrentIndex(1);  // the tick: status read, polling on
    QCOMPARE(lastRequest(f), QStringLiteral("42/16"));
    QVERIFY(f.statusPolling);
    reply(f, statusData({{0, 0x14}, {1, 0xE6}}));
    QCOMPARE(lastRequest(f), QStringLiteral("40/01"));
    reply(f, bytes({0x08, 0x98, 0, 0, 0}));
    QCOMPARE(lastRequest(f), QStringLiteral("42/17"));

    // a refusal: "读错误！！", nothing shown, no next request, and the next cycle at the next
    // one-second tick (one second after the cycle began)
    struct Row {
      int cid1, cid2;
      QByteArray data;
    };
    const Row refusals[] = {
        {0x42, 0x16, statusData({{0, 0x15}, {1, 0x18}, {13, 0x10}})},
        {0x40, 0x01, bytes({0x09, 0x00, 0, 0, 0x07})},
        {0x42, 0x17, bytes({1, 2})},
        {0x41, 0x0E, readings(1, 5350, 800, 0x04, 3)},
    };
    for (const Row &r : refusals) {
      f.Button4Click();
      f.currentModule = 1;
      f.Timer2->setEnabled(false);
      pending(f, r.cid1, r.cid2, 1);
      feed(f, answer(uint8_t(r.cid1), 2, r.data));
      QCOMPARE(memoLines(f).size(), 3);  // the chunk, its checksum, the error
      QCOMPARE(lastMemoLine(f), QStringLiteral("读错误！！"));
      QVERIFY(f.Timer2->isEnabled() && f.Timer2->interval() <= 1000);  // a second after the cycle began
    }
    // an answer shorter or longer than what its decoder reads, or whose length byte promises
    // more than it carries: no answer to the poll, which waits on for its own
    std::string lying(1, '~');
    for (uint8_t b : {1, 0x42, 0, 3, 1, 2}) proto::appendByte(lying, b);  // three announced, two carried
    proto::appendByte(lying, proto::checksum(std::string_view(lying).substr(1)));
    lying += '\r';
    const Row wrong[] = {
        {0x42, 0x16, statusData({{0, 0x15}, {1, 0x18}, {13, 0x10}}, 17)},
        {0x40, 0x01, bytes({0x09, 0x00, 0, 0})},
        {0x40, 0x01, bytes({0x09, 0x00, 0, 0, 0x07, 0})},
        {0x41, 0x0E, readings(1, 5350, 800, 0x04, 3).left(10)},
        {0x42, 0x17, QByteArray()},
    };
    for (const Row &r : wrong) {
      f.Button4Click();
      f.currentModule = 1;
      pending(f, r.cid1, r.cid2, 1);
      feed(f, r.data.isNull() ? QByteArray::fromStdString(lying) : answer(uint8_t(r.cid1), 0, r.data));
      QCOMPARE(memoLines(f).size(), 2);  // the chunk, and why it is not decoded
      QCOMPARE(lastMemoLine(f), QStringLiteral("应答与请求不符，不解码"));
      QVERIFY(f.exchange().onLine());
    }
    QCOMPARE(text(f, "Edit16"), QStringLiteral("53.5"));
    QCOMPARE(text(f, "Edit14"), QStringLiteral("220"));
    QCOMPARE(lamp(f, "Shape1"), kGreen);
    QCOMPARE(lamp(f, "Shape9"), kGreen);
    QCOMPARE(f.moduleTable[1], status::absentModule());
    QCOMPARE(comboItems(f).size(), 32);

    // with polling off (after an on/off click) a status answer is shown but leads nowhere
    f.statusPolling = false;
    f.Button4Click();
    pending(f, 0x42, 0x16);
    reply(f, statusData({{0, 0x15}, {1, 0x18}}));
    QCOMPARE(text(f, "Edit16"), QStringLiteral("54"));
    QCOMPARE(memoLines(f).size(), 2);
  }

  // On a bus every controller hears every request: an answer from another address is no
  // answer to the poll. Nothing of it is shown, the log and the status bar say why and the
  // cycle starts again at the next tick; the same answer from the polled address is shown.
  void anAnswerFromAnotherAddressIsNotDecoded() {
    TestForm f;
    pretendOpen(f);
    f.PageControl1->setCurrentIndex(1);  // the tick: status read, polling on
    QCOMPARE(lastRequest(f), QStringLiteral("42/16"));
    f.Timer2->setEnabled(false);
    feed(f, answer(0x42, 0, statusData({{0, 0x15}, {1, 0x18}}), 2));
    QCOMPARE(lastMemoLine(f), QStringLiteral("应答地址不符，不解码"));
    QCOMPARE(f.panelText(1), QStringLiteral("应答地址不符"));
    QCOMPARE(text(f, "Edit16"), QStringLiteral("0"));
    QCOMPARE(lastRequest(f), QStringLiteral("42/16"));  // the cycle went no further
    QVERIFY(f.Timer2->isEnabled());
    f.Timer2Timer();
    QCOMPARE(lastRequest(f), QStringLiteral("42/16"));
    feed(f, answer(0x42, 0, statusData({{0, 0x15}, {1, 0x18}}), 1));
    QCOMPARE(text(f, "Edit16"), QStringLiteral("54"));
    QCOMPARE(f.panelText(1), QString());
    QCOMPARE(lastRequest(f), QStringLiteral("40/01"));
  }

  void moduleListAndReadingsFillTheGrid() {
    TestForm f;
    pretendOpen(f);
    f.statusPolling = true;
    f.Timer2->setEnabled(false);
    f.ComboBox31->setEditText(QStringLiteral("3"));
    pending(f, 0x42, 0x17);
    reply(f, bytes({1, 3, 7}));
    QCOMPARE(comboItems(f), (QStringList{"1", "3", "7"}));
    QCOMPARE(f.ComboBox31->currentText(), QStringLiteral("3"));  // what the operator typed stays
    QCOMPARE(lastRequest(f), QStringLiteral("41/0E 01"));
    reply(f, readings(1, 5350, 840, 0x00, 0));
    QCOMPARE(lastRequest(f), QStringLiteral("41/0E 03"));
    reply(f, readings(3, 5340, 0, 0x24, 3));
    QCOMPARE(lastRequest(f), QStringLiteral("41/0E 07"));
    QVERIFY(!f.Timer2->isEnabled());
    reply(f, readings(7, 5400, 1234, 0x31, 5));
    QVERIFY(f.Timer2->isEnabled());  // the cycle is over
    QCOMPARE(f.currentModule, 0);
    QCOMPARE(gridRow(f, 1), (QStringList{"模块1", "开机", "53.5V", "8.4A", "正常", "正常", "正常"}));
    QCOMPARE(gridRow(f, 3), (QStringList{"模块3", "关机", "53.4V", "0A", "短路", "正常", "正常"}));
    QCOMPARE(gridRow(f, 7), (QStringList{"模块7", "开机", "54V", "12.34A", "告警", "告警", "告警"}));
    QCOMPARE(gridRow(f, 2), (QStringList{"模块2", "不在位", "0V", "0A", "正常", "正常", "正常"}));
    // a repeated answer after the cycle belongs to no module
    f.Button4Click();
    reply(f, readings(7, 1, 1, 0, 0));
    QCOMPARE(memoLines(f).size(), 2);
    QCOMPARE(gridRow(f, 7)[2], QStringLiteral("54V"));

    // a module that leaves the list shows "不在位" with 0V and 0A; numbers outside 1..12 are
    // ignored; modules 10..12 are asked for by their plain number
    f.Timer2->setEnabled(false);
    pending(f, 0x42, 0x17);
    reply(f, bytes({0, 1, 13, 10, 0x10, 11, 12, 0xFF, 1}));
    QCOMPARE(comboItems(f), (QStringList{"1", "10", "11", "12"}));
    QCOMPARE(gridRow(f, 7), (QStringList{"模块7", "不在位", "0V", "0A", "正常", "正常", "正常"}));
    QCOMPARE(gridRow(f, 1)[2], QStringLiteral("53.5V"));  // still listed: kept until read again
    QCOMPARE(lastRequest(f), QStringLiteral("41/0E 01"));
    reply(f, readings(1, 5350, 840, 0x84, 2));
    QCOMPARE(gridRow(f, 1)[1], QStringLiteral("不在位"));  // 0x80 wins over 0x04
    QCOMPARE(gridRow(f, 1)[4], QStringLiteral("过压"));
    for (int n : {10, 11, 12}) {
      QCOMPARE(lastRequest(f), QStringLiteral("41/0E %1").arg(n, 2, 16, QLatin1Char('0')).toUpper());
      reply(f, readings(n, 5300 + n, 100 * n, 0x20, n == 10 ? 1 : n == 11 ? 4 : 6));
    }
    QCOMPARE(gridRow(f, 11)[4], QStringLiteral("输入告警"));
    QCOMPARE(gridRow(f, 10), (QStringList{"模块10", "开机", "53.1V", "10A", "过温", "正常", "正常"}));
    QCOMPARE(gridRow(f, 12), (QStringList{"模块12", "开机", "53.12V", "12A", "输入掉电", "正常", "正常"}));
    QVERIFY(f.Timer2->isEnabled());

    // an empty list: every module "不在位", no items, the cycle over at once
    f.Timer2->setEnabled(false);
    f.Button4Click();
    pending(f, 0x42, 0x17);
    reply(f, {});
    QCOMPARE(comboItems(f), QStringList());
    for (int n = 1; n <= 12; ++n) QCOMPARE(gridRow(f, n)[1], QStringLiteral("不在位"));
    QCOMPARE(memoLines(f).size(), 2);
    QVERIFY(f.Timer2->isEnabled());
  }

  void switchingAModuleOnAndOff() {
    MessageRecorder boxes;
    TimeScale fast(0.25);
    TestForm f;
    pretendOpen(f);
    f.Timer2->setEnabled(true);
    f.statusPolling = true;
    for (auto [typed, button, sent] : {std::tuple{"7", "Button115", "41/11 07"}, {"7", "Button114", "41/10 07"},
                                       {" 12", "Button115", "41/11 0C"}, {"10", "Button114", "41/10 0A"}}) {
      f.ComboBox31->setEditText(QString::fromLatin1(typed));
      f.Button4Click();
      click(f, button);
      QVERIFY(!f.statusPolling);
      QVERIFY(!f.Timer2->isEnabled());
      QVERIFY(memoLines(f).isEmpty());  // sent 500 ms later
      QVERIFY(waitFor([&] { return !f.Timer5->isEnabled(); }, 5000));
      QCOMPARE(lastRequest(f), QString::fromLatin1(sent));
      QVERIFY(f.Timer2->isEnabled());
      reply(f, {});
      QCOMPARE(f.panelText(1), QStringLiteral("设置成功"));
      reply(f, {}, 1);
      QCOMPARE(f.panelText(1), QStringLiteral("设置失败"));
    }
    // a box that holds no module number 1..12 refuses the command and sends nothing
    for (const char *typed : {"abc", "13", "0", "", "-1", "7a"}) {
      boxes.boxes.clear();
      f.ComboBox31->setEditText(QString::fromLatin1(typed));
      f.Button4Click();
      click(f, "Button115");
      QVERIFY(waitFor([&] { return !f.Timer5->isEnabled(); }, 5000));
      QVERIFY2(memoLines(f).isEmpty(), typed);
      QCOMPARE(boxes.boxes.size(), 1);
      QCOMPARE(boxes.boxes[0].second, QStringLiteral("error"));
      QVERIFY(boxes.boxes[0].first.contains(QStringLiteral("1到12")));
      QVERIFY(f.Timer2->isEnabled());  // polling resumes as after a command
    }
    f.linkOpen = false;
  }

  void theTimeOutFiresOncePerUnansweredSend() {
    TestForm f;
    pretendOpen(f);
    f.mcu_read_dystatus();
    QVERIFY(f.Timer1->isEnabled());
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("通讯超时"); }, 5000));
    QVERIFY(!f.Timer1->isEnabled());
    QCOMPARE(f.pendingCid2, 0);
    // the next send has its full second (nothing went out, so nothing is owed); a send while
    // it runs does not push it back
    f.mcu_read_dystatus();
    QVERIFY(f.Timer1->isEnabled());
    QVERIFY(f.Timer1->remainingTime() > 500);
    QVERIFY(waitFor([&] { return f.Timer1->remainingTime() < 700; }, 3000));  // part of it has gone
    const int left = f.Timer1->remainingTime();
    f.mcu_read_acstatus();
    QVERIFY(f.Timer1->remainingTime() <= left);
    f.linkOpen = false;
  }
};

QTEST_MAIN(TestStatus)
#include "test_status.moc"
