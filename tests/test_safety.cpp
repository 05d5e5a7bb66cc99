// Safe to operate: a question before commands that cannot be undone, refused numbers that say
// why, the value written shown as it was sent, files written only where a file belongs, and
// the window on screens smaller than its design.
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QWindow>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "pages/ParamTable.h"
#include "protocol/Frame.h"
#include "support/FormFixture.h"
#include "support/ScriptedPeer.h"
#include "support/TestSupport.h"
#include "window/Controls.h"
#include "window/WholeFile.h"

using namespace testsupport;

namespace {

// The request lines of the protocol log (frames start with the start mark's code).
QStringList frameLines(const TestForm &f) {
  QStringList out;
  for (const QString &line : memoLines(f))
    if (line.startsWith(QLatin1String(" 7E"))) out << line;
  return out;
}

// Answers the next question box from within its wait, as the operator would.
void answerNextBox(std::function<void(QMessageBox *)> act) {
  auto *poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    act(box);
  });
  poll->start();
}

// What a path is, as the system sees it without following links.
struct Node {
  bool exists = false;
  mode_t mode = 0;
  dev_t rdev = 0;
  ino_t ino = 0;
  bool operator==(const Node &) const = default;
};
Node node(const QString &path) {
  struct stat st;
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return {};
  return {true, st.st_mode, st.st_rdev, st.st_ino};
}

QSize designWindow() { return {TestForm::kDesignClientWidth, TestForm::kDesignClientHeight + TestForm::kStatusBarHeight}; }

}  // namespace

class TestSafety : public QObject {
  Q_OBJECT
 private slots:
  // ---- questions before commands that cannot be undone
  void confirmations_data() {
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QByteArray>("tick");    // a check box ticked first
    QTest::addColumn<QString>("module");     // the module box's text
    QTest::addColumn<QString>("question");   // empty: sent without asking
    QTest::addColumn<QString>("frame");
    const QString equalize = QStringLiteral("确定开始手动均充？整流模块将升到均充电压输出。");
    const QString batteryTest = QStringLiteral("确定开始电池测试？测试中由电池向负载放电。");
    QTest::newRow("module off") << QByteArray("Button115") << QByteArray() << "3"
                                << QStringLiteral("确定关闭 3 号整流模块？") << "41/11 03";
    QTest::newRow("module off, typed with a blank") << QByteArray("Button115") << QByteArray() << " 12"
                                                    << QStringLiteral("确定关闭 12 号整流模块？") << "41/11 0C";
    QTest::newRow("module on") << QByteArray("Button114") << QByteArray() << "3" << QString() << "41/10 03";
    QTest::newRow("erase the history") << QByteArray("Button41") << QByteArray() << "1"
                                       << QStringLiteral("确定清除控制器中的全部告警记录？") << "42/95";
    QTest::newRow("manual equalize start") << QByteArray("Button109") << QByteArray("CheckBox4") << "1" << equalize
                                           << "42/4E 01";
    QTest::newRow("manual equalize stop") << QByteArray("Button109") << QByteArray() << "1" << QString() << "42/4E 00";
    QTest::newRow("battery test start") << QByteArray("Button125") << QByteArray("CheckBox7") << "1" << batteryTest
                                        << "42/5A 01";
    QTest::newRow("battery test off") << QByteArray("Button125") << QByteArray() << "1" << QString() << "42/5A 00";
    QTest::newRow("fast charge enable") << QByteArray("Button131") << QByteArray("CheckBox8") << "1" << QString()
                                        << "42/50 01";
  }

  void confirmations() {
    QFETCH(QByteArray, button);
    QFETCH(QByteArray, tick);
    QFETCH(QString, module);
    QFETCH(QString, question);
    QFETCH(QString, frame);
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    f.Timer2->setEnabled(false);  // no polling tick in between
    f.statusPolling = true;
    if (!tick.isEmpty()) f.findChild<QCheckBox *>(QString::fromLatin1(tick))->setChecked(true);
    f.ComboBox31->setEditText(module);
    f.ValueListEditor1->InsertRow(QStringLiteral("2024-05-17 08:30:15"), QStringLiteral("交流掉电"));
    auto clickAndSettle = [&] {
      click(f, button.constData());
      QVERIFY(waitFor([&] { return !f.Timer5->isEnabled(); }, 5000));  // the module commands go 500 ms later
    };

    // No: nothing is sent and nothing changes
    boxes.answerYes = false;
    clickAndSettle();
    if (!question.isEmpty()) {
      QCOMPARE(boxes.questions, QStringList{question});
      QVERIFY(frameLines(f).isEmpty());
      QCOMPARE(f.txLength, 0);
      QVERIFY(f.statusPolling);
      QCOMPARE(f.ValueListEditor1->rowCount(), 1);
      // Yes: the frame the command has always sent, once
      boxes.answerYes = true;
      boxes.questions.clear();
      clickAndSettle();
      QCOMPARE(boxes.questions, QStringList{question});
    } else {
      QVERIFY(boxes.questions.isEmpty());
    }
    QCOMPARE(frameLines(f).size(), 1);
    QCOMPARE(lastRequest(f), frame);
    QVERIFY(boxes.boxes.isEmpty());
  }

  // The real box: No is the default, Esc and closing mean No, only Yes is yes.
  void theQuestionBoxMeansNoUnlessYes_data() {
    QTest::addColumn<int>("act");
    QTest::addColumn<bool>("yes");
    enum { Enter, Escape, Close, ClickYes, ClickNo };
    QTest::newRow("Enter takes the default") << int(Enter) << false;
    QTest::newRow("Esc") << int(Escape) << false;
    QTest::newRow("window closed") << int(Close) << false;
    QTest::newRow("No") << int(ClickNo) << false;
    QTest::newRow("Yes") << int(ClickYes) << true;
  }

  void theQuestionBoxMeansNoUnlessYes() {
    QFETCH(int, act);
    QFETCH(bool, yes);
    QString caption, text;
    answerNextBox([&](QMessageBox *box) {
      caption = box->windowTitle();
      text = box->text();
      QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
      QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
      switch (act) {
        case 0: QTest::keyClick(box, Qt::Key_Return); break;
        case 1: QTest::keyClick(box, Qt::Key_Escape); break;
        case 2: box->close(); break;
        case 3: box->button(QMessageBox::Yes)->click(); break;
        case 4: box->button(QMessageBox::No)->click(); break;
      }
    });
    QCOMPARE(AskYesNo(QStringLiteral("确定关闭 3 号整流模块？")), yes);
    QCOMPARE(caption, QStringLiteral("确认"));
    QCOMPARE(text, QStringLiteral("确定关闭 3 号整流模块？"));
  }

  // A message box stays in front of the window (the window is its transient parent) and leaves
  // it usable: not modal, the timers tick, the controls take clicks. Closing the window with a
  // box open closes the box and ends the program: the event loop returns. So does closing it
  // while a question waits, which then means No.
  void boxesStayInFrontAndCloseWithTheWindow() {
    QPointer<QMessageBox> box;
    {
      TestForm f;  // the real boxes
      f.show();
      QVERIFY(QTest::qWaitForWindowExposed(&f));
      f.RadioButton2->click();
      setText(f, "Edit12", QStringLiteral("0"));
      bool returned = false;
      QTimer stuck;  // a click that waits for its box is let go, and the box is gone then
      stuck.callOnTimeout([&] {
        if (returned) return;
        for (QWidget *w : QApplication::topLevelWidgets())
          if (qobject_cast<QMessageBox *>(w)) w->close();
      });
      stuck.start(2000);
      click(f, "Button29");  // refused with a box, and the click returns at once
      returned = true;
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *b = qobject_cast<QMessageBox *>(w); b && b->isVisible()) box = b;
      QVERIFY(box);
      QVERIFY(box->text().contains(QStringLiteral("'0' is not a valid port number")));
      QVERIFY(box->windowHandle() && box->windowHandle()->transientParent() == f.windowHandle());
      QVERIFY(!box->isModal() && !QApplication::activeModalWidget());
      QSignalSpy ticks(f.Timer6, &SteadyTimer::timeout);
      QVERIFY(ticks.wait(2000) && box->isVisible());
      f.RadioButton1->click();  // the window takes clicks
      QCOMPARE(f.Label6->text(), QStringLiteral("COMM:"));
      // "关闭" with the box open: the program's event loop ends
      QTimer::singleShot(0, &f, [&f] { click(f, "Button3"); });
      QTimer watchdog;  // still running after 10 s: something kept the program alive
      watchdog.callOnTimeout([] { QCoreApplication::exit(1); });
      watchdog.start(10000);
      QCOMPARE(QApplication::exec(), 0);
      QVERIFY(!box || !box->isVisible());
    }
    QVERIFY(!box);  // gone with the window

    TestForm f;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    bool answered = true;
    QTimer::singleShot(0, &f, [&] { answered = AskYesNo(QStringLiteral("确定清除控制器中的全部告警记录？")); });
    answerNextBox([&](QMessageBox *question) {
      QVERIFY(question->windowHandle()->transientParent() == f.windowHandle());
      f.close();
    });
    QTimer watchdog;
    watchdog.callOnTimeout([] { QCoreApplication::exit(1); });
    watchdog.start(10000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!answered);
  }

  // ---- refused numbers say which box and what it allows
  void refusedNumbersSayWhy_data() {
    QTest::addColumn<QByteArray>("box");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("caption");
    const QString range = QStringLiteral("数值超出范围(0-65535)\n");
    const QString floatV = QStringLiteral("浮充电压设定：0–655.35 V");
    QTest::newRow("x100 too large") << QByteArray("Edit36") << QByteArray("Button59") << "655.36" << range + floatV
                                    << "error";
    QTest::newRow("x10 too large") << QByteArray("Edit5") << QByteArray("Button6") << "6553.6"
                                   << range + QStringLiteral("交流电压过高：0–6553.5 V") << "error";
    QTest::newRow("x10 percent") << QByteArray("Edit40") << QByteArray("Button67") << "7000"
                                 << range + QStringLiteral("均转浮系数：0–6553.5 %") << "error";
    QTest::newRow("integer with a unit") << QByteArray("Edit39") << QByteArray("Button65") << "70000"
                                         << range + QStringLiteral("温补系数：0–65535 mV/C") << "error";
    QTest::newRow("integer negative, no unit") << QByteArray("Edit38") << QByteArray("Button63") << "-1"
                                               << range + QStringLiteral("电池电流增益：0–65535") << "error";
    QTest::newRow("signed whole") << QByteArray("Edit64") << QByteArray("Button143") << "3277"
                                  << QStringLiteral("数值超出范围(-3276-3276)\n电池低温告警点：-3276–3276") << "error";
    QTest::newRow("point alone") << QByteArray("Edit36") << QByteArray("Button59") << "."
                                 << QStringLiteral("Data error\n") + floatV << "error";
    QTest::newRow("blanks and a point") << QByteArray("Edit36") << QByteArray("Button59") << "  ."
                                        << QStringLiteral("Data error\n") + floatV << "error";
    QTest::newRow("empty") << QByteArray("Edit36") << QByteArray("Button59") << ""
                           << QStringLiteral("Data error\n") + floatV << "error";
    QTest::newRow("blanks only") << QByteArray("Edit36") << QByteArray("Button59") << "   "
                                 << QStringLiteral("Data error\n") + floatV << "error";
    QTest::newRow("two points") << QByteArray("Edit36") << QByteArray("Button59") << "1.2.3"
                                << QStringLiteral("Data error\n") + floatV << "error3";
    QTest::newRow("letter") << QByteArray("Edit8") << QByteArray("Button12") << "5a"
                            << QStringLiteral("Data error\n交流电流过高：0–6553.5 A") << "error2";
    QTest::newRow("not an integer") << QByteArray("Edit20") << QByteArray("Button121") << "1.5"
                                    << QStringLiteral("'1.5' is not a valid integer value\n电池容量：0–65535 AH")
                                    << "powerhost";
  }

  void refusedNumbersSayWhy() {
    QFETCH(QByteArray, box);
    QFETCH(QByteArray, button);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QString, caption);
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    setText(f, box.constData(), typed);
    click(f, button.constData());
    QCOMPARE(boxes.boxes, (QList<QPair<QString, QString>>{{message, caption}}));
    QCOMPARE(f.txLength, 0);  // nothing built, nothing sent
    QVERIFY(frameLines(f).isEmpty());
    QCOMPARE(text(f, box.constData()), typed);  // the operator's text stays to be mended
  }

  void labelsGiveNameAndUnit_data() {
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("unit");
    QTest::newRow("volts") << QByteArray("浮充电压设定(V)：") << "浮充电压设定" << "V";
    QTest::newRow("digit in the name") << QByteArray("48v模块限流点(A)：") << "48v模块限流点" << "A";
    QTest::newRow("compound unit") << QByteArray("温补系数(mV/C)：") << "温补系数" << "mV/C";
    QTest::newRow("no unit") << QByteArray("电池测试开始电压：") << "电池测试开始电压" << "";
    QTest::newRow("full-width brackets") << QByteArray("休眠间隔（时）：") << "休眠间隔" << "时";
    QTest::newRow("bracket inside the name") << QByteArray("电池(1)容量：") << "电池(1)容量" << "";
  }

  void labelsGiveNameAndUnit() {
    QFETCH(QByteArray, label);
    QFETCH(QString, name);
    QFETCH(QString, unit);
    const QString shownName = params::labelName(label.constData());
    const QString shownUnit = params::labelUnit(label.constData());
    QCOMPARE(shownName, name);
    QCOMPARE(shownUnit, unit);
  }

  // ---- the value written is the value shown
  void theBoxShowsTheValueSent_data() {
    QTest::addColumn<QByteArray>("box");
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QByteArray>("read");  // empty: a read shows something else
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("x100 third decimal dropped") << QByteArray("Edit36") << QByteArray("Button59") << QByteArray("Button58")
                                                << "53.555" << "53.55" << bytes({0x14, 0xEB});
    QTest::newRow("x100 12.345") << QByteArray("Edit36") << QByteArray("Button59") << QByteArray("Button58") << "12.345"
                                 << "12.34" << bytes({0x04, 0xD2});
    QTest::newRow("x10 second decimal dropped") << QByteArray("Edit5") << QByteArray("Button6") << QByteArray("Button5")
                                                << "655.36" << "655.3" << bytes({0x19, 0x99});
    QTest::newRow("x10 trailing zero") << QByteArray("Edit5") << QByteArray("Button6") << QByteArray("Button5")
                                       << "220.0" << "220" << bytes({0x08, 0x98});
    QTest::newRow("x100 blanks and a bare point") << QByteArray("Edit36") << QByteArray("Button59")
                                                  << QByteArray("Button58") << "  5." << "5" << bytes({0x01, 0xF4});
    QTest::newRow("x100 leading point") << QByteArray("Edit36") << QByteArray("Button59") << QByteArray("Button58")
                                        << ".5" << "0.5" << bytes({0x00, 0x32});
    QTest::newRow("x100 largest") << QByteArray("Edit36") << QByteArray("Button59") << QByteArray("Button58")
                                  << "655.35" << "655.35" << bytes({0xFF, 0xFF});
    QTest::newRow("integer sign and zeros") << QByteArray("Edit39") << QByteArray("Button65") << QByteArray("Button64")
                                            << "+0300" << "300" << bytes({0x01, 0x2C});
    QTest::newRow("signed whole") << QByteArray("Edit64") << QByteArray("Button143") << QByteArray("Button142")
                                  << " -05" << "-5" << bytes({0x80, 0x32});
    QTest::newRow("one-byte read, two-byte write") << QByteArray("Edit26") << QByteArray("Button22") << QByteArray()
                                                   << "300" << "300" << bytes({0x01, 0x2C});
  }

  void theBoxShowsTheValueSent() {
    QFETCH(QByteArray, box);
    QFETCH(QByteArray, write);
    QFETCH(QByteArray, read);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QByteArray, data);
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    setText(f, box.constData(), typed);
    click(f, write.constData());
    QCOMPARE(built(f).data, data);
    QCOMPARE(text(f, box.constData()), shown);
    QVERIFY(boxes.boxes.isEmpty());
    if (read.isEmpty()) return;
    // what the controller now holds reads back as the box shows it
    feed(f, answer(uint8_t(built(f).cid1), 0, {}));  // the write acknowledged
    setText(f, box.constData(), QStringLiteral("0"));
    readAndAnswer(f, read.constData(), 0, data);
    QCOMPARE(text(f, box.constData()), shown);
  }

  // ---- end to end: the controller gets exactly what was confirmed and shown
  void theControllerGetsWhatWasConfirmedAndShown() {
    MessageRecorder boxes;
    ScriptedPeer peer;
    peer.respond = [](const QByteArray &request) {
      return answer(uint8_t(request.mid(3, 2).toInt(nullptr, 16)), 0, {});  // every command acknowledged
    };
    TestForm f;
    f.PageControl1->setCurrentIndex(0);  // no status polling in between
    QVERIFY(openLan(f, peer.port()));
    auto exchange = [&](const char *button, const QByteArray &expected) {
      peer.received.clear();
      f.setPanelText(1, QString());
      boxes.answerYes = false;
      click(f, button);
      // refused: nothing is on the line, waiting, or due later
      QVERIFY(f.exchange().idle() && !f.Timer5->isEnabled());
      QVERIFY(peer.received.isEmpty());
      boxes.answerYes = true;
      click(f, button);
      f.ComboBox31->setEditText(QStringLiteral("5"));  // the module asked about is the one switched
      QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("设置成功"); }, 5000));
      QCOMPARE(peer.received, expected);
    };
    f.ComboBox31->setEditText(QStringLiteral("3"));
    exchange("Button115", frameBytes(1, 0x41, 0x11, {3}));
    exchange("Button41", frameBytes(1, 0x42, 0x95, {}));
    QCOMPARE(boxes.questions.size(), 4);

    peer.received.clear();
    f.setPanelText(1, QString());
    setText(f, "Edit36", QStringLiteral("53.555"));
    click(f, "Button59");
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("设置成功"); }, 5000));
    QCOMPARE(peer.received, frameBytes(1, 0x42, 0x3A, {0x14, 0xEB}));
    QCOMPARE(text(f, "Edit36"), QStringLiteral("53.55"));
    // a point alone is refused, and nothing reaches the controller
    peer.received.clear();
    setText(f, "Edit36", QStringLiteral("."));
    click(f, "Button59");
    QVERIFY(f.exchange().idle());
    QVERIFY(peer.received.isEmpty());
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY(boxes.boxes[0].first.startsWith(QStringLiteral("Data error\n浮充电压设定：")));
  }

  // ---- files only where a file belongs
  void filesOnlyWhereAFileBelongs_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("refused");
    QTest::newRow("new file") << "new" << false;
    QTest::newRow("regular file") << "file" << false;
    QTest::newRow("character device") << "chr" << true;
    QTest::newRow("block device") << "blk" << true;
    QTest::newRow("folder") << "dir" << true;
    QTest::newRow("pipe") << "fifo" << true;
    QTest::newRow("socket") << "socket" << true;
    QTest::newRow("link to a file") << "link-file" << false;
    QTest::newRow("link to a link to a file") << "link-link-file" << false;
    QTest::newRow("link to nothing yet") << "link-new" << false;
    QTest::newRow("link to a device") << "link-chr" << true;
    QTest::newRow("link to a folder") << "link-dir" << true;
    QTest::newRow("links in a loop") << "loop" << true;
  }

  void filesOnlyWhereAFileBelongs() {
    QFETCH(QString, kind);
    QFETCH(bool, refused);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    const QString target = dir.filePath(QStringLiteral("target"));
    const QByteArray p = QFile::encodeName(path), t = QFile::encodeName(target);
    auto makeFile = [](const QString &at) {
      QFile file(at);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("old");
    };
    auto makeDevice = [](const QByteArray &at, mode_t type) {
      return ::mknod(at.constData(), type | 0666, makedev(1, 3)) == 0;
    };
    QString written = path;  // where the content should land
    if (kind == QLatin1String("file")) makeFile(path);
    if (kind == QLatin1String("chr") && !makeDevice(p, S_IFCHR)) QSKIP("no device nodes here");
    if (kind == QLatin1String("blk") && !makeDevice(p, S_IFBLK)) QSKIP("no device nodes here");
    if (kind == QLatin1String("dir")) QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out.txt")));
    if (kind == QLatin1String("fifo")) QCOMPARE(::mkfifo(p.constData(), 0666), 0);
    int sock = -1;
    if (kind == QLatin1String("socket")) {
      sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      QVERIFY(size_t(p.size()) < sizeof address.sun_path);
      std::memcpy(address.sun_path, p.constData(), size_t(p.size()));
      QCOMPARE(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    }
    if (kind.startsWith(QLatin1String("link-"))) {
      const QString to = kind.mid(5);
      if (to == QLatin1String("file")) makeFile(target);
      if (to == QLatin1String("chr") && !makeDevice(t, S_IFCHR)) QSKIP("no device nodes here");
      if (to == QLatin1String("dir")) QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("target")));
      if (to == QLatin1String("link-file")) {
        makeFile(target);
        QCOMPARE(::symlink("target", QFile::encodeName(dir.filePath(QStringLiteral("middle"))).constData()), 0);
        QCOMPARE(::symlink("middle", p.constData()), 0);
      } else {
        QCOMPARE(::symlink("target", p.constData()), 0);  // relative, from the link's folder
      }
      written = target;
    }
    if (kind == QLatin1String("loop")) {
      QCOMPARE(::symlink("out.txt", t.constData()), 0);
      QCOMPARE(::symlink("target", p.constData()), 0);
    }
    const Node before = node(path), targetBefore = node(target);
    const QStringList entriesBefore = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden);

    const QString error = writeWholeFile(path, QByteArray("new content\n"));
    if (sock >= 0) ::close(sock);

    if (refused) {
      QVERIFY(!error.isEmpty());
      QCOMPARE(node(path), before);  // the node, its kind and its device numbers untouched
      QCOMPARE(node(target), targetBefore);
      // nothing left beside it either
      QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden), entriesBefore);
    } else {
      QVERIFY2(error.isEmpty(), qPrintable(error));
      QCOMPARE(fileBytes(written, "<unreadable>"), QByteArray("new content\n"));
      if (written != path) QVERIFY(S_ISLNK(node(path).mode));  // the link stays a link
    }
  }

  void logSaveAndExportsRefuseADevice() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("null"));
    if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
      QSKIP("no device nodes here");
    const Node before = node(path);
    MessageRecorder boxes;
    TestForm f;
    f.log(QStringLiteral("设置成功"));
    f.saveLogPath = [&] { return path; };
    f.actionSaveLog->trigger();
    waitForWrites();
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY(boxes.boxes[0].first.startsWith(QStringLiteral("保存协议信息失败：") + path + QLatin1Char('\n')));
    QCOMPARE(boxes.boxes[0].second, QStringLiteral("error"));
    QCOMPARE(node(path), before);

    SetSaveFileNameHook([&](const QString &, const QString &) { return path; });
    f.findChild<QAction *>(QStringLiteral("actionExportRecords"))->trigger();
    SetSaveFileNameHook({});
    waitForWrites();
    QCOMPARE(boxes.boxes.size(), 2);
    QVERIFY(boxes.boxes[1].first.startsWith(QStringLiteral("无法保存 ") + path));
    QCOMPARE(node(path), before);

    // through a link to a file: the file gets the log, the link stays
    const QString file = dir.filePath(QStringLiteral("log.txt")), link = dir.filePath(QStringLiteral("latest.txt"));
    QVERIFY(QFile::link(file, link));
    f.saveLogPath = [&] { return link; };
    f.actionSaveLog->trigger();
    waitForWrites();
    QCOMPARE(boxes.boxes.size(), 2);
    QCOMPARE(fileBytes(file, "<unreadable>"), QByteArray("设置成功\n"));
    QVERIFY(S_ISLNK(node(link).mode));
  }

  // ---- small screens
  void opensWithinTheScreen_data() {
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("window");
    QTest::newRow("large screen") << QRect(0, 0, 1920, 1040) << QRect(170, 0, 1062, 738);
    // shorter than the design: wider by the vertical scroll bar
    QTest::newRow("1366x768 less a taskbar") << QRect(0, 0, 1366, 728) << QRect(170, 0, 1078, 688);
    QTest::newRow("taskbar at the top") << QRect(0, 40, 1366, 728) << QRect(170, 40, 1078, 688);
    QTest::newRow("second screen") << QRect(1920, 0, 1366, 728) << QRect(2090, 0, 1078, 688);
    QTest::newRow("narrow screen") << QRect(0, 0, 1024, 728) << QRect(0, 0, 1008, 688);
    QTest::newRow("800x600 less a taskbar") << QRect(0, 0, 800, 560) << QRect(0, 0, 784, 520);
    QTest::newRow("800x600") << QRect(0, 0, 800, 600) << QRect(0, 0, 784, 560);
    QTest::newRow("below the minimum") << QRect(0, 0, 640, 480) << QRect(0, 0, 640, 480);
  }

  void opensWithinTheScreen() {
    QFETCH(QRect, available);
    QFETCH(QRect, window);
    const QRect r = TestForm::initialGeometry(available);
    QCOMPARE(r, window);
    const QSize frame(TestForm::kFrameAllowanceWidth, TestForm::kFrameAllowanceHeight);
    if (available.width() >= TestForm::kMinimumWidth + frame.width() &&
        available.height() >= TestForm::kMinimumHeight + frame.height())
      QVERIFY(available.contains(QRect(r.topLeft(), r.size() + frame)));  // title bar and borders included
  }

  void scrollsBelowTheDesignSize() {
    MessageRecorder boxes;
    TestForm f;
    f.resize(designWindow());
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    auto *scroll = qobject_cast<QScrollArea *>(f.centralWidget());
    QVERIFY(scroll);
    QCOMPARE(scroll->widget(), f.clientArea());
    QCOMPARE(f.clientArea()->objectName(), QStringLiteral("ClientArea"));
    QCOMPARE(f.minimumSize(), QSize(TestForm::kMinimumWidth, TestForm::kMinimumHeight));
    const QSize designClient(TestForm::kDesignClientWidth, TestForm::kDesignClientHeight);
    QCOMPARE(f.clientArea()->size(), designClient);
    QVERIFY(!scroll->horizontalScrollBar()->isVisible() && !scroll->verticalScrollBar()->isVisible());
    const QMap<QString, QRect> design = namedGeometries(*f.clientArea());
    QVERIFY(design.size() > 150);

    f.resize(800, 600);
    QVERIFY(waitFor([&] { return scroll->horizontalScrollBar()->isVisible() && scroll->verticalScrollBar()->isVisible(); },
                    3000));
    QCOMPARE(f.clientArea()->size(), designClient);
    QCOMPARE(namedGeometries(*f.clientArea()), design);
    // the far corner scrolls into view
    scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->maximum());
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    QVERIFY(waitFor([&] {
      return scroll->viewport()->rect().contains(QRect(f.Button3->mapTo(scroll->viewport(), QPoint()), f.Button3->size()));
    }, 3000));

    f.resize(designWindow());
    QVERIFY(waitFor([&] { return !scroll->horizontalScrollBar()->isVisible() && !scroll->verticalScrollBar()->isVisible(); },
                    3000));
    QCOMPARE(f.clientArea()->pos(), QPoint(0, 0));
    QCOMPARE(namedGeometries(*f.clientArea()), design);
    QVERIFY(boxes.boxes.isEmpty());
  }
};

QTEST_MAIN(TestSafety)
#include "test_safety.moc"
