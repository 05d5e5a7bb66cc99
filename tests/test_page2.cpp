// Parameter page 2 and the dry contacts: the rows, decoders, write encodings and refusals,
// and the refresh chain with its errors, with the controller's answers handed straight to
// the window.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <functional>

#include "support/FormFixture.h"
#include "support/Page2Chain.h"
#include "window/HandlerSupport.h"

using namespace testsupport;

namespace {

// Answers every request the window sends until it sends no more; returns the requests. An
// empty answer is silence: the request's time-out comes instead.
QList<Built> answerAll(TestForm &f, const std::function<QByteArray(int index, const Built &request)> &answerFor) {
  QList<Built> out;
  while (f.Timer1->isEnabled() && out.size() < 80) {
    out.append(built(f));
    const QByteArray a = answerFor(int(out.size()) - 1, out.last());
    if (a.isEmpty())
      f.Timer1Timer();
    else
      feed(f, a);  // stops the time-out; a next request re-arms it
  }
  return out;
}

// A good answer for any read of either page: as long as the read's answer, from the bytes
// 0, 1, 2 ... (data byte 1 a valid code).
QByteArray good(int, const Built &request) {
  return answer(0x42, 0, shaped(request.cid1, request.cid2, bytes({0, 1, 2, 3, 4, 5, 6})));
}

bool inChainOrder(const QList<Built> &requests, int fromStep) {
  for (int i = 0; i < requests.size(); ++i) {
    const ChainRead &r = kPage2Chain[fromStep + i];
    if (requests[i].cid1 != 0x42 || requests[i].cid2 != r.cid2 || requests[i].data != r.data()) return false;
  }
  return true;
}

}  // namespace

class TestPage2 : public QObject {
  Q_OBJECT
 private slots:
  void init() { SetMessageBoxHook([](const QString &, const QString &) {}); }

  void everyRowReadsAndWritesItsCommands() {
    struct Row {
      const char *label, *control, *read, *write;
      int readCid2, writeCid2;
    };
    const Row rows[] = {
        {"干结点1类型：", "ComboBox4", "Button42", "Button43", 0x88, 0x87},
        {"干结点2类型：", "ComboBox5", "Button46", "Button47", 0x88, 0x87},
        {"干结点3类型：", "ComboBox7", "Button50", "Button51", 0x88, 0x87},
        {"干结点4类型：", "ComboBox10", "Button54", "Button55", 0x88, 0x87},
        {"干结点1状态：", "ComboBox8", "Button45", "Button44", 0x86, 0x85},
        {"干结点2状态：", "ComboBox6", "Button48", "Button49", 0x86, 0x85},
        {"干结点3状态：", "ComboBox9", "Button52", "Button53", 0x86, 0x85},
        {"干结点4状态：", "ComboBox11", "Button56", "Button57", 0x86, 0x85},
        {"电池测试使能：", "CheckBox7", "Button124", "Button125", 0x5B, 0x5A},
        {"电池测试开始电压：", "Edit58", "Button126", "Button127", 0x5D, 0x5C},
        {"电池测试结束电压：", "Edit59", "Button128", "Button129", 0x5F, 0x5E},
        {"快充使能：", "CheckBox8", "Button130", "Button131", 0x51, 0x50},
        {"快充电压(V)：", "Edit60", "Button132", "Button133", 0x53, 0x52},
        {"快充时间(分)：", "Edit61", "Button134", "Button135", 0x55, 0x54},
        {"电池低温告警点：", "Edit64", "Button142", "Button143", 0x2B, 0x2A},
        {"电池高温告警点：", "Edit65", "Button144", "Button145", 0x2D, 0x2C},
        {"电池电流增益：", "Edit38", "Button62", "Button63", 0x71, 0x70},
        {"电池电流偏移：", "Edit45", "Button76", "Button77", 0x73, 0x72},
        {"母排电压增益：", "Edit46", "Button78", "Button79", 0x75, 0x74},
        {"负载电流增益：", "Edit47", "Button80", "Button81", 0x77, 0x76},
        {"电池温度增益：", "Edit48", "Button82", "Button83", 0x19, 0x18},
        {"电池温度偏移：", "Edit49", "Button84", "Button85", 0x1B, 0x1A},
        {"环境温度增益：", "Edit50", "Button86", "Button87", 0x1D, 0x1C},
        {"环境温度偏移：", "Edit51", "Button90", "Button91", 0x1F, 0x1E},
        {"交流电压增益：", "Edit52", "Button92", "Button93", 0x7F, 0x7E},
        {"交流电压偏移：", "Edit53", "Button106", "Button107", 0x7D, 0x7C},
        {"负载电流偏移：", "Edit54", "Button116", "Button117", 0x8A, 0x89},
        {"模块数量配置：", "Edit31", "Button99", "Button108", 0x61, 0x60},
    };
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    QWidget *page = f.TabSheet3;
    for (const Row &r : rows) {
      const QString name = QString::fromLatin1(r.control);
      auto *label = page->findChild<QLabel *>(QStringLiteral("Label_") + name);
      QVERIFY2(label, r.control);
      QCOMPARE(label->text(), QString::fromUtf8(r.label));
      QWidget *control = page->findChild<QWidget *>(name);
      QVERIFY(control);
      auto *read = page->findChild<QPushButton *>(QString::fromLatin1(r.read));
      auto *write = page->findChild<QPushButton *>(QString::fromLatin1(r.write));
      QVERIFY(read && write);
      QCOMPARE(read->text(), QStringLiteral("读"));
      QCOMPARE(write->text(), QStringLiteral("写"));
      QCOMPARE(read->width(), qobject_cast<QComboBox *>(control) ? 25 : 30);
      QVERIFY(label->geometry().right() < control->x() && control->geometry().right() < read->x() &&
              read->geometry().right() < write->x() && read->y() == write->y());

      if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        QCOMPARE(edit->text(), QStringLiteral("0"));
        QCOMPARE(edit->width(), 40);
      } else if (auto *check = qobject_cast<QCheckBox *>(control)) {
        QVERIFY(!check->isChecked());
        QVERIFY(check->text().isEmpty());
      } else {
        auto *box = qobject_cast<QComboBox *>(control);
        const bool type = r.readCid2 == 0x88;
        QVERIFY(box->isEditable());
        QCOMPARE(box->currentIndex(), -1);
        QCOMPARE(box->currentText(), type ? QStringLiteral("自定义") : QStringLiteral("开"));
        QCOMPARE(box->count(), type ? 19 : 2);
        box->setCurrentIndex(1);  // so that the write below has a code
      }
      click(f, r.read);
      QCOMPARE(built(f).cid1, 0x42);
      QCOMPARE(built(f).cid2, r.readCid2);
      click(f, r.write);
      QCOMPARE(built(f).cid2, r.writeCid2);
    }
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(combo(f, "ComboBox10")->itemText(13), QStringLiteral("防雷"));
    QCOMPARE(combo(f, "ComboBox11")->itemText(1), QStringLiteral("关"));
    auto *refresh = page->findChild<QPushButton *>(QStringLiteral("Button88"));
    QCOMPARE(refresh->text(), QStringLiteral("一键刷新"));
    QCOMPARE(refresh->width(), 75);
    // nothing on the page overlaps anything else, and all of it fits the page
    const QList<QWidget *> widgets = page->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(widgets.size(), 28 * 4 + 1);
    for (int i = 0; i < widgets.size(); ++i) {
      QVERIFY(widgets[i]->geometry().right() < 580 && widgets[i]->geometry().bottom() < 555);
      for (int j = i + 1; j < widgets.size(); ++j)
        QVERIFY2(!widgets[i]->geometry().intersects(widgets[j]->geometry()),
                 qPrintable(widgets[i]->objectName() + QLatin1Char('/') + widgets[j]->objectName()));
    }
  }

  void decodersShowTheirFamilies() {
    struct Case {
      const char *button;
      QByteArray data;
      const char *edit;
      const char *shown;
    };
    const Case cases[] = {
        {"Button142", bytes({0x80, 0x64}), "Edit64", "-10"},  // sign and magnitude
        {"Button142", bytes({0x80, 0x00}), "Edit64", "3276.8"},
        {"Button142", bytes({0x80, 0x01}), "Edit64", "-0.1"},
        {"Button144", bytes({0x80, 0x64}), "Edit65", "3286.8"},  // no sign here
        {"Button126", bytes({0x14, 0xE6}), "Edit58", "53.5"},
        {"Button128", bytes({0x00, 0x05}), "Edit59", "0.05"},
        {"Button62", bytes({0x27, 0x10}), "Edit38", "10000"},
        {"Button116", bytes({0xFF, 0xFF}), "Edit54", "65535"},
    };
    MessageRecorder boxes;
    TestForm f;
    for (const Case &c : cases) {
      readAndAnswer(f, c.button, 0, c.data);
      QCOMPARE(text(f, c.edit), QString::fromLatin1(c.shown));
    }
    readAndAnswer(f, "Button124", 0, bytes({2}));
    QVERIFY(checked(f, "CheckBox7"));
    readAndAnswer(f, "Button130", 0, bytes({1}));
    QVERIFY(checked(f, "CheckBox8"));
    QVERIFY(boxes.boxes.isEmpty());
  }

  void dryContacts() {
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    click(f, "Button46");  // type of contact 2
    QCOMPARE(built(f).cid2, 0x88);
    QCOMPARE(built(f).data, bytes({0x02}));  // a read names its contact: one data byte
    feed(f, answer(0x42, 0, bytes({0x02, 0x0D})));
    QCOMPARE(comboIndex(f, "ComboBox5"), 13);
    QCOMPARE(combo(f, "ComboBox5")->currentText(), QStringLiteral("防雷"));
    readAndAnswer(f, "Button46", 0, bytes({0x02, 0x14}));  // code 20: past the list
    QCOMPARE(comboIndex(f, "ComboBox5"), -1);
    click(f, "Button56");  // state of contact 4
    QCOMPARE(built(f).data, bytes({0x04}));
    feed(f, answer(0x42, 0, bytes({0x04, 0x01})));
    QCOMPARE(combo(f, "ComboBox11")->currentText(), QStringLiteral("关"));
    readAndAnswer(f, "Button56", 0, bytes({0x01, 0x00}));  // data byte 0 picks no box
    QCOMPARE(combo(f, "ComboBox11")->currentText(), QStringLiteral("开"));
    QCOMPARE(comboIndex(f, "ComboBox8"), -1);

    // a failed read leaves the box as it was (where it reports: the refresh test below)
    combo(f, "ComboBox5")->setCurrentIndex(7);
    readAndAnswer(f, "Button46", 1, bytes({0x02, 0x0D}));
    readAndAnswer(f, "Button46", 0, bytes({0x02}));  // too short to carry a code: no answer to it
    QCOMPARE(comboIndex(f, "ComboBox5"), 7);
    f.Timer1Timer();

    // a set carries the contact and the code: two data bytes
    struct Set {
      const char *box;
      int index;
      const char *button;
      int cid2;
      QByteArray data;
    };
    const Set sets[] = {
        {"ComboBox10", 18, "Button55", 0x87, bytes({0x04, 0x12})},  // 高压欠压
        {"ComboBox4", 16, "Button43", 0x87, bytes({0x01, 0x10})},   // 电力线搭接
        {"ComboBox5", 0, "Button47", 0x87, bytes({0x02, 0x00})},    // 未定义
        {"ComboBox9", 1, "Button53", 0x85, bytes({0x03, 0x01})},  // k
    };
    const int position = f.page2Position;
    for (const Set &s : sets) {
      combo(f, s.box)->setCurrentIndex(s.index);
      click(f, s.button);
      QCOMPARE(built(f).cid2, s.cid2);
      QCOMPARE(built(f).data, s.data);
    }
    QCOMPARE(f.page2Position, position);  // writes leave the contact of the last read
    QVERIFY(boxes.boxes.isEmpty());
  }

  // Good writes first, so that a refused write resending an old frame would show.
  void writesEncodeOrRefuse() {
    struct Good {
      const char *edit, *text, *button;
      int cid2;
      QByteArray data;
    };
    const Good goods[] = {
        {"Edit64", "-10", "Button143", 0x2A, bytes({0x80, 0x64})},  // read back as -10
        {"Edit64", "-3276", "Button143", 0x2A, bytes({0xFF, 0xF8})},
        {"Edit58", "53.5", "Button127", 0x5C, bytes({0x14, 0xE6})},
        {"Edit65", "45.55", "Button145", 0x2C, bytes({0x01, 0xC7})},
        {"Edit31", "4", "Button108", 0x60, bytes({0x00, 0x04})},
    };
    const QString range = QStringLiteral("数值超出范围(0-65535)"), lowRange = QStringLiteral("数值超出范围(-3276-3276)"),
                  choose = QStringLiteral("请从列表中选择一项"), error = QStringLiteral("error"),
                  app = QStringLiteral("powerhost");
    struct Refused {
      const char *control, *text, *button;  // an edit, or a box left as it is or typed over
      QString message, caption;
    };
    const Refused refused[] = {
        {"ComboBox4", nullptr, "Button43", choose, error},  // start state: "自定义"
        {"ComboBox8", nullptr, "Button44", choose, error},  // start state: "开", not chosen
        {"ComboBox5", "随便", "Button47", choose, error},   // typed over a chosen item
        // a refused number's message names the box and what it allows on a second line
        {"Edit64", "3277", "Button143", lowRange + QStringLiteral("\n电池低温告警点：-3276–3276"), error},
        {"Edit64", "-3277", "Button143", lowRange + QStringLiteral("\n电池低温告警点：-3276–3276"), error},
        {"Edit64", "4.5", "Button143",
         QStringLiteral("'4.5' is not a valid integer value\n电池低温告警点：-3276–3276"), app},
        {"Edit38", "-5", "Button63", range + QStringLiteral("\n电池电流增益：0–65535"), error},
        {"Edit58", "5a", "Button127", QStringLiteral("Data error\n电池测试开始电压：0–655.35"), QStringLiteral("error2")},
        {"Edit31", "abc", "Button108", QStringLiteral("'abc' is not a valid integer value\n模块数量配置：0–65535"), app},
    };
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    for (const Good &g : goods) {
      setText(f, g.edit, QString::fromLatin1(g.text));
      click(f, g.button);
      QCOMPARE(built(f).cid2, g.cid2);
      QCOMPARE(built(f).data, g.data);
    }
    feed(f, answer(0x42, 0, {}));  // the module count is acknowledged like every write
    QCOMPARE(f.panelText(1), QStringLiteral("设置成功"));
    QVERIFY(boxes.boxes.isEmpty());

    const QByteArray lastFrame(f.txBuffer, f.txLength);
    const int lines = memoLines(f).size();
    for (const Refused &r : refused) {
      if (auto *box = combo(f, r.control)) {
        if (r.text) {
          box->setCurrentIndex(1);
          box->setEditText(QString::fromUtf8(r.text));
        }
      } else {
        setText(f, r.control, QString::fromUtf8(r.text));
      }
      boxes.boxes.clear();
      click(f, r.button);
      QCOMPARE(boxes.boxes, (QList<QPair<QString, QString>>{{r.message, r.caption}}));
      QCOMPARE(QByteArray(f.txBuffer, f.txLength), lastFrame);
    }
    QCOMPARE(memoLines(f).size(), lines + 1);  // only chartofloat's "erra"
  }

  void refreshReadsThirtyRowsInOrder() {
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    click(f, "Button88");
    QVERIFY(f.page2Refresh);
    const QList<Built> requests = answerAll(f, good);
    QCOMPARE(requests.size(), 30);
    QVERIFY(inChainOrder(requests, 0));
    QVERIFY(!f.page2Refresh);
    QVERIFY(!f.page1Refresh);
    QCOMPARE(text(f, "Edit54"), QStringLiteral("1"));
    QCOMPARE(text(f, "Edit27"), QStringLiteral("0.01"));  // a page-1 row on the way
    // afterwards a single read sends one request only
    click(f, "Button144");
    QCOMPARE(answerAll(f, good).size(), 1);
    // the module count, read while the flag is set, ends the chain state and sends nothing more
    f.page2Refresh = true;
    readAndAnswer(f, "Button99", 1, bytes({0, 9}));  // a failed read keeps the flag
    QVERIFY(f.page2Refresh);
    readAndAnswer(f, "Button99", 0, bytes({0, 9}));
    QCOMPARE(text(f, "Edit31"), QStringLiteral("9"));
    QVERIFY(!f.page2Refresh && !f.Timer1->isEnabled());
    QVERIFY(boxes.boxes.isEmpty());
  }

  // A read error, or silence (the step's time-out, and its resend's), at any step stops the
  // chain with the flag still set; a later single read of the failed row carries the chain
  // on to its end.
  void aReadErrorStopsTheChainUntilTheRowIsReadAgain() {
    MessageRecorder boxes;
    for (int failed = 0; failed < 30; ++failed) {
      const bool silent = failed % 2;
      TestForm f;
      pretendOpen(f);
      click(f, "Button88");
      const QList<Built> upTo = answerAll(f, [&](int i, const Built &request) {
        if (i < failed) return good(i, request);
        return silent ? QByteArray() : answer(0x42, 1, bytes({0, 1, 2, 3, 4, 5, 6}));
      });
      QCOMPARE(upTo.size(), failed + (silent ? 2 : 1));
      QVERIFY(f.page2Refresh);
      if (silent) {
        QCOMPARE(f.panelText(1), QStringLiteral("通讯超时"));
        QVERIFY(f.panelText(0).endsWith(QStringLiteral("：通讯超时")));
      } else {
        // dry contacts, the two enable flags and the page-1 sleep flag report in status panel 2
        const bool panel = failed < 9 || failed == 11 || failed == 14;
        QCOMPARE(f.panelText(2) == QStringLiteral("读错误！！"), panel);
        QCOMPARE(lastMemoLine(f) == QStringLiteral("读错误！！"), !panel);
      }

      click(f, kPage2Chain[failed].button);
      const QList<Built> rest = answerAll(f, good);
      QCOMPARE(rest.size(), 30 - failed);
      QVERIFY(inChainOrder(rest, failed));
      QVERIFY(!f.page2Refresh);
    }
    // the failed row need not be the one read again: after step 12, "负载电流增益：" reads 23 to 30
    TestForm f;
    pretendOpen(f);
    click(f, "Button88");
    answerAll(f, [](int i, const Built &request) {
      return i == 11 ? answer(0x42, 1, {}) : good(i, request);
    });
    QVERIFY(f.page2Refresh);
    click(f, "Button80");
    const QList<Built> rest = answerAll(f, good);
    QCOMPARE(rest.size(), 8);
    QVERIFY(inChainOrder(rest, 22));
    QVERIFY(!f.page2Refresh);
  }

  void pageOneRefreshCrossesIntoPageTwo() {
    MessageRecorder boxes;
    TestForm f;
    click(f, "Button88");  // sets the page-2 flag; without a link nothing goes out
    pretendOpen(f);
    click(f, "Button24");
    const QList<Built> requests = answerAll(f, good);
    // page-1 rows 1 to 28, then page 2 from "电池测试使能：" to its end
    QCOMPARE(requests.size(), 28 + 22);
    QCOMPARE(requests[0].cid2, 0x06);
    QCOMPARE(requests[26].cid2, 0x57);
    QCOMPARE(requests[27].cid2, 0x59);
    QVERIFY(inChainOrder(requests.mid(28), 8));
    QVERIFY(!f.page2Refresh);
  }
};

QTEST_MAIN(TestPage2)
#include "test_page2.moc"
