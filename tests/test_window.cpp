// The main window: controls, pages, status bar, timers, clock and the protocol log.
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QAction>
#include <QClipboard>
#include <QScrollBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>

#include "link/Ports.h"
#include "support/FormFixture.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/PaintPacer.h"
#include "window/ProtocolLog.h"
#include "protocol/Frame.h"
#include "support/TestSupport.h"

using namespace testsupport;

// Records the text of a line edit each time it is painted.
class PaintWatch : public QObject {
 public:
  PaintWatch(QLineEdit *edit, QStringList *painted) : edit_(edit), painted_(painted) { edit->installEventFilter(this); }
  bool eventFilter(QObject *, QEvent *e) override {
    if (e->type() == QEvent::Paint) *painted_ << edit_->text();
    return false;
  }

 private:
  QLineEdit *edit_;
  QStringList *painted_;
};

class TestWindow : public QObject {
  Q_OBJECT
 private slots:
  void startsAsDesigned() {
    MessageRecorder boxes;
    TestForm f;
    QCOMPARE(f.windowTitle(), QStringLiteral("系统电源上位机软件"));
    QCOMPARE(f.PageControl1->count(), 7);
    const QStringList captions = {"参数1设置", "系统状态", "参数2设置", "历史记录", "用电量信息", "告警记录", "趋势"};
    const QStringList names = {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4", "TabSheet5", "TabSheetAlarms",
                               "TabSheetTrend"};
    for (int i = 0; i < 7; ++i) {
      QCOMPARE(f.PageControl1->tabText(i), captions[i]);
      QCOMPARE(f.PageControl1->widget(i)->objectName(), names[i]);
    }
    QCOMPARE(f.PageControl1->currentIndex(), 2);
    QCOMPARE(text(f, "Edit1"), QStringLiteral("1"));
    QVERIFY(!f.Button2->isEnabled());
    QVERIFY(f.Button23->isHidden());
    QCOMPARE(f.Button1->text(), QStringLiteral("生成命令"));
    QCOMPARE(f.Button4->text(), QStringLiteral("清除协议信息"));
    QCOMPARE(f.Button3->text(), QStringLiteral("关闭"));
    QCOMPARE(f.Memo1->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(f.Memo1->capacity(), TestForm::kMemoMaxLines);

    QCOMPARE(f.StringGrid1->rowCount(), 17);
    QCOMPARE(f.StringGrid1->columnCount(), 5);
    QCOMPARE(f.StringGrid1->Cells(1, 0), QStringLiteral("用户1"));
    QCOMPARE(f.StringGrid1->Cells(0, 12), QStringLiteral("12月"));
    QCOMPARE(f.StringGrid1->Cells(0, 16), QStringLiteral("累计"));
    QCOMPARE(f.StringGrid2->rowCount(), 13);
    QCOMPARE(f.StringGrid2->columnCount(), 7);
    QCOMPARE(f.StringGrid2->Cells(6, 0), QStringLiteral("限流状态"));
    QCOMPARE(f.StringGrid2->Cells(0, 12), QStringLiteral("模块12"));

    QCOMPARE(f.StatusPanels[0]->width(), 500);
    QCOMPARE(f.StatusPanels[1]->width(), 300);
    QVERIFY(!f.linkOpen && !f.serialLink && !f.lanConnected);
    QVERIFY(f.Timer2->isEnabled() && f.Timer3->isEnabled() && f.Timer6->isEnabled() && !f.Timer1->isEnabled());
    QCOMPARE(f.Timer3->interval(), 10000);
  }

  void logShowsItsLinesInBatches() {
    MessageRecorder boxes;
    TestForm f;
    const int rowsBefore = f.Memo1->model()->rowCount();
    // frame lines are kept compactly; every line reads back as it was written
    const QStringList written = {QStringLiteral("a"), QStringLiteral("读错误！！"), QStringLiteral(" 7E 30 3F 0D"),
                                 QStringLiteral(" 7e 30"), QStringLiteral(" 7E 3"), QStringLiteral("7E 30 "),
                                 QString(), QStringLiteral("85")};
    for (const QString &line : written) f.log(line);
    QCOMPARE(f.Memo1->model()->rowCount(), rowsBefore);  // nothing is laid out while a handler runs
    QVERIFY(waitFor([&] { return f.Memo1->model()->rowCount() == written.size(); }, 5000));
    QCOMPARE(memoLines(f), written);

    // a frame's characters are kept as they came and shown as their hexadecimal line
    f.Button4->click();
    for (const std::string &chars : {std::string("~01400:008?\r"), std::string("\0\xFF~", 3), std::string()}) {
      f.logFrame(chars);
      f.log(QStringLiteral("t"));
    }
    QCOMPARE(memoLines(f), QStringList({QStringLiteral(" 7E 30 31 34 30 30 3A 30 30 38 3F 0D"), QStringLiteral("t"),
                                        QStringLiteral(" 00 FF 7E"), QStringLiteral("t"), QString(), QStringLiteral("t")}));
    QCOMPARE(f.Memo1->store().longestLine(), 36);

    // order across batches, and the cap dropping the oldest lines, in batches and within one
    f.Memo1->setCapacity(50);  // the same cap, smaller, to keep the test quick
    f.Button4->click();
    QStringList expected;
    for (int batch = 0; batch < 4; ++batch) {
      for (int i = 0; i < 30; ++i) {
        expected << QString::number(batch * 30 + i);
        f.log(expected.last());
      }
      QCOMPARE(memoLines(f), expected.mid(std::max<qsizetype>(0, expected.size() - 50)));
    }
    for (int i = 0; i < 120; ++i) f.log(QStringLiteral("x%1").arg(i));
    const QStringList lines = memoLines(f);
    QCOMPARE(lines.size(), 50);
    QCOMPARE(lines.first(), QStringLiteral("x70"));
    QCOMPARE(lines.last(), QStringLiteral("x119"));

    // clearing empties the log, lines not yet shown included
    f.log(QStringLiteral("late"));
    f.Button4->click();
    QVERIFY(memoLines(f).isEmpty());
    QCOMPARE(f.Memo1->store().size(), 0);
    QCOMPARE(f.Memo1->store().longestLine(), 0);
  }

  // The store keeps the newest lines within both bounds, lines and bytes; the newest line
  // stays even when it alone is over the byte bound. Lines are given by their lengths.
  void logStoreKeepsWithinLinesAndBytes_data() {
    QTest::addColumn<int>("lineCap");
    QTest::addColumn<int>("byteCap");
    QTest::addColumn<QList<int>>("lengths");
    QTest::addColumn<int>("kept");
    // a stored text line is its text and one kind byte
    QTest::newRow("both bounds far") << 10 << 1000 << QList<int>{9, 9, 9} << 3;
    QTest::newRow("lines bound") << 2 << 1000 << QList<int>{9, 9, 9} << 2;
    QTest::newRow("bytes bound") << 10 << 25 << QList<int>{9, 9, 9} << 2;
    QTest::newRow("bytes bound exactly") << 10 << 30 << QList<int>{9, 9, 9} << 3;
    QTest::newRow("one long line drops many") << 10 << 100 << QList<int>{9, 9, 9, 9, 9, 79} << 3;
    QTest::newRow("newest alone too long") << 10 << 50 << QList<int>{9, 9, 200} << 1;
    QTest::newRow("across blocks") << 5000 << 4000 << QList<int>(3000, 1) << 2000;
  }
  void logStoreKeepsWithinLinesAndBytes() {
    QFETCH(int, lineCap);
    QFETCH(int, byteCap);
    QFETCH(QList<int>, lengths);
    QFETCH(int, kept);
    // Straight into the store, and in one batch through the model the view uses: both keep
    // the same lines.
    LogStore store(lineCap, std::size_t(byteCap));
    LogModel model(lineCap);
    model.setByteCapacity(std::size_t(byteCap));
    std::deque<std::string> batch;
    std::vector<std::string> all;
    for (int i = 0; i < lengths.size(); ++i) {
      std::string line = std::to_string(i % 10);
      line.resize(std::size_t(lengths[i]), 'x');
      store.append(line);
      batch.push_back(LogStore::storedText(line));
      all.push_back(line);
    }
    model.appendBatch(batch);
    for (const LogStore *s : {static_cast<const LogStore *>(&store), &model.store()}) {
      QCOMPARE(s->size(), kept);
      std::size_t bytes = 0;
      for (int i = 0; i < kept; ++i) {
        const std::string &want = all[all.size() - std::size_t(kept) + std::size_t(i)];
        QCOMPARE(s->line(i), want);
        bytes += want.size() + 1;
      }
      QCOMPARE(s->bytes(), bytes);
      QVERIFY(kept == 1 || bytes <= std::size_t(byteCap));
    }
    QCOMPARE(model.rowCount(), kept);

    // a lower bound later drops at once; clearing forgets the bytes
    store.setByteCapacity(1);
    QCOMPARE(store.size(), std::min(kept, 1));
    store.clear();
    QCOMPARE(store.bytes(), std::size_t(0));
  }

  // A flood of long refused chunks into the window's log: it holds no more than its byte
  // bound, and "清除协议信息" gives the memory back.
  void logFloodIsBoundedInBytesAndClearingFreesIt() {
    MessageRecorder boxes;
    TestForm f;
    QCOMPARE(f.Memo1->store().byteCapacity(), LogStore::kMaxBytes);
    const long before = rssKiB();
    std::string chunk(2048, '\0');
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = char('0' + i % 64);
    const int chunks = int(2 * LogStore::kMaxBytes / chunk.size());  // twice the bound
    for (int i = 0; i < chunks; ++i) {
      chunk[0] = char(i);
      chunk[1] = char(i >> 8);
      f.logFrame(chunk);
      if (i % 4096 == 0) QCoreApplication::processEvents();
    }
    f.Memo1->flush();
    const LogStore &store = f.Memo1->store();
    QVERIFY(store.bytes() <= LogStore::kMaxBytes);
    QVERIFY(store.bytes() > LogStore::kMaxBytes - 4 * chunk.size());
    QCOMPARE(f.Memo1->lineCount(), store.size());
    QCOMPARE(store.line(store.size() - 1), proto::hexLogLine(chunk));  // the newest is kept
    const long full = rssKiB();
    // memory is judged in the plain build only
    QVERIFY2(kAddressChecked || full - before < 200 * 1024,
             qPrintable(QStringLiteral("RSS grew by %1 KiB").arg(full - before)));
    f.Button4->click();
    QCOMPARE(store.bytes(), std::size_t(0));
    const long after = rssKiB();
    QVERIFY2(kAddressChecked || after - before < 32 * 1024,
             qPrintable(QStringLiteral("RSS still %1 KiB up").arg(after - before)));
  }

  void logFollowsSelectsCopiesAndSaves() {
    MessageRecorder boxes;
    TestForm f;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QScrollBar *bar = f.Memo1->verticalScrollBar();
    for (int i = 0; i < 300; ++i) f.log(QStringLiteral("line %1").arg(i));
    QVERIFY(waitFor([&] { return f.Memo1->lineCount() == 300; }, 5000));
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());  // follows the newest line
    bar->setValue(10);                       // the operator scrolls up to read
    QVERIFY(!f.Memo1->following());
    for (int i = 300; i < 400; ++i) f.log(QStringLiteral("line %1").arg(i));
    QVERIFY(waitFor([&] { return f.Memo1->lineCount() == 400; }, 5000));
    QCOMPARE(bar->value(), 10);
    QCOMPARE(f.Memo1->indexAt(QPoint(5, 2)).data().toString(), QStringLiteral("line 10"));
    bar->setValue(bar->maximum());  // back at the bottom: follows again
    f.log(QStringLiteral("line 400"));
    QVERIFY(waitFor([&] { return f.Memo1->lineCount() == 401; }, 5000));
    QCOMPARE(bar->value(), bar->maximum());

    // click, shift-click and Ctrl+C copy the lines in between
    bar->setValue(20);
    const int h = f.Memo1->visualRect(f.Memo1->model()->index(21, 0)).height();
    QTest::mouseClick(f.Memo1->viewport(), Qt::LeftButton, {}, QPoint(5, h + h / 2));
    QTest::mouseClick(f.Memo1->viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 3 * h + h / 2));
    QCOMPARE(f.Memo1->selectedText(), QStringLiteral("line 21\nline 22\nline 23"));
    QTest::keyClick(f.Memo1, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("line 21\nline 22\nline 23"));

    // "保存协议信息…" writes the log as shown; a failed save says why
    auto *save = f.findChild<QAction *>(QStringLiteral("actionSaveLog"));
    QVERIFY(save && f.Memo1->actions().contains(save));
    QCOMPARE(save->text(), QStringLiteral("保存协议信息…"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    f.log(QStringLiteral("设置成功 not yet shown"));
    f.saveLogPath = [&] { return path; };
    save->trigger();
    waitForWrites();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), memoLines(f).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    QVERIFY(boxes.boxes.isEmpty());
    f.saveLogPath = [&] { return dir.filePath(QStringLiteral("no/such/folder/log.txt")); };
    save->trigger();
    waitForWrites();
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY(boxes.boxes[0].first.startsWith(QStringLiteral("保存协议信息失败：")));
    QVERIFY(boxes.boxes[0].first.contains(QStringLiteral("no/such/folder")));
  }

  // Boxes changed by every answer of a chain are painted together, and the last change is
  // always painted.
  void repaintsArePacedAndNoneIsLost() {
    MessageRecorder boxes;
    TestForm f;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QTest::qWait(3 * PaintPacer::kIntervalMs);
    QStringList painted;
    PaintWatch watch(f.Edit3, &painted);
    const int before = f.paintPacer->paints();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 50; ++i) {
      f.Edit3->setText(QString::number(i));
      QCoreApplication::processEvents();
    }
    const qint64 spent = t.elapsed();
    QVERIFY2(f.paintPacer->paints() - before <= 2 + spent / PaintPacer::kIntervalMs,
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(f.paintPacer->paints() - before).arg(spent)));
    QVERIFY(waitFor([&] { return !painted.isEmpty() && painted.last() == QStringLiteral("49"); }, 5000));
    QVERIFY(painted.size() < 50);
  }

  void timersKeepTheirPeriodWhenReArmed() {
    SteadyTimer t(QStringLiteral("t"), 400, true);
    QSignalSpy ticked(&t, &SteadyTimer::timeout);
    QVERIFY(waitFor([&] { return t.remainingTime() < 250; }, 5000));  // part of the period has gone
    const int left = t.remainingTime();
    t.setInterval(400);  // same interval: no restart
    t.setEnabled(true);  // already running: no restart
    QVERIFY(t.remainingTime() <= left);
    t.setInterval(1000);  // a change restarts
    QVERIFY(t.remainingTime() > left);
    t.setEnabled(false);
    QCOMPARE(t.remainingTime(), -1);
    t.setEnabled(true);
    QVERIFY(t.remainingTime() > left);
    QCOMPARE(ticked.count(), 0);
    t.setInterval(50);
    QVERIFY(ticked.wait(5000));
    SteadyTimer zero(QStringLiteral("z"), 0, true);
    QCOMPARE(zero.remainingTime(), -1);
  }

  // Tests speed every timer up; the periods they show stay the timers' own.
  void theTimeScaleSpeedsUpEveryTimer() {
    {
      TimeScale fast(0.01);
      SteadyTimer t(QStringLiteral("t"), 10000, true);
      QVERIFY(t.remainingTime() > 1000);
      QCOMPARE(t.interval(), 10000);
      QSignalSpy ticked(&t, &SteadyTimer::timeout);
      QVERIFY(ticked.wait(5000));  // ten seconds in a tenth of one
    }
    QCOMPARE(SteadyTimer::timeScale(), 1.0);
    SteadyTimer slow(QStringLiteral("s"), 10000, true);
    QVERIFY(slow.remainingTime() > 5000);
  }

  void clockShowsUtcPlusEightWithTheDate() {
    MessageRecorder boxes;
    TestForm f;
    QDateTime now = QDateTime(QDate(2024, 3, 5), QTime(15, 59, 59), Qt::UTC);
    f.clockSource = [&] { return now; };
    f.Timer6Timer();
    QCOMPARE(f.panelText(2), QStringLiteral("2024-03-05 23:59:59"));
    now = QDateTime(QDate(2024, 3, 5), QTime(16, 0, 0), Qt::UTC);
    f.Timer6Timer();
    QCOMPARE(f.panelText(2), QStringLiteral("2024-03-06 00:00:00"));
    now = QDateTime(QDate(2024, 12, 31), QTime(16, 30, 0), Qt::UTC);
    f.Timer6Timer();
    QCOMPARE(f.panelText(2), QStringLiteral("2025-01-01 00:30:00"));
    QCOMPARE(int(f.clockSnapshot.wYear), 2025);
    QCOMPARE(int(f.clockSnapshot.wHour), 0);
    now = QDateTime(QDate(2024, 2, 28), QTime(20, 7, 9), Qt::UTC);
    f.Timer6Timer();
    QCOMPARE(f.panelText(2), QStringLiteral("2024-02-29 04:07:09"));
    // a decoder's message in panel 2 is overwritten by the next tick
    f.setPanelText(2, QStringLiteral("读错误！！"));
    QTRY_VERIFY_WITH_TIMEOUT(f.panelText(2) != QStringLiteral("读错误！！"), 1000);
  }

  void pollingTickWithoutALinkSendsNothing() {
    MessageRecorder boxes;
    TestForm f;
    f.PageControl1->setCurrentIndex(1);  // runs the tick at once
    QVERIFY(memoLines(f).isEmpty());
    QVERIFY(f.Timer2->isEnabled());
    // with a link "open" the tick on the status page builds the status read
    f.linkOpen = true;
    f.Timer2Timer();
    QCOMPARE(lastMemoLine(f), QStringLiteral(" 7E 30 31 34 32 31 36 30 30 38 3E 0D"));
    QCOMPARE(f.pendingCid1, 0x42);
    QCOMPARE(f.pendingCid2, 0x16);
    QVERIFY(f.statusPolling);
    QVERIFY(!f.Timer2->isEnabled());
    f.PageControl1->setCurrentIndex(0);
    QVERIFY(!f.statusPolling);
    f.Timer3Timer();
    QVERIFY(f.Timer2->isEnabled());
    f.linkOpen = false;
  }

  void linkChoiceSwitchesTheFields() {
    MessageRecorder boxes;
    TestForm f;
    QCOMPARE(f.RadioButton1->text(), QStringLiteral("RS232/485"));
    QCOMPARE(f.RadioButton2->text(), QStringLiteral("LAN"));
    QVERIFY(f.RadioButton1->isChecked());
    QCOMPARE(f.Label6->text(), QStringLiteral("COMM："));
    QCOMPARE(text(f, "Edit13"), QStringLiteral("192.168.1.200"));
    QVERIFY(f.ComboBox1->isEditable());
    setText(f, "Edit12", QStringLiteral("4800"));
    f.RadioButton2->click();
    QCOMPARE(f.Label6->text(), QStringLiteral("目标IP:"));
    QCOMPARE(f.Label5->text(), QStringLiteral("  端口："));
    QCOMPARE(text(f, "Edit12"), QStringLiteral("5001"));
    QVERIFY(f.ComboBox1->isHidden() && !f.Edit13->isHidden());
    f.RadioButton1->click();
    QCOMPARE(f.Label6->text(), QStringLiteral("COMM:"));
    QCOMPARE(f.Label5->text(), QStringLiteral("波特率："));
    QCOMPARE(text(f, "Edit12"), QStringLiteral("9600"));
    QVERIFY(!f.ComboBox1->isHidden() && f.Edit13->isHidden());
  }

  void portListComesFromTheKernel() {
    QTemporaryDir sys;
    auto port = [&](const QString &name, const char *type, bool device) {
      QDir(sys.path()).mkpath(name);
      if (device) QDir(sys.path()).mkpath(name + QStringLiteral("/device"));
      if (type) {
        QFile f(sys.path() + QLatin1Char('/') + name + QStringLiteral("/type"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(type);
      }
    };
    port(QStringLiteral("ttyS10"), "4\n", true);
    port(QStringLiteral("ttyS2"), "4\n", true);
    port(QStringLiteral("ttyS3"), "0\n", true);  // legacy port without a UART
    port(QStringLiteral("tty1"), nullptr, false);  // virtual terminal
    port(QStringLiteral("ttyUSB0"), nullptr, true);
    const auto ports = listSerialPorts(sys.path());
    QVERIFY(ports);
    QCOMPARE(*ports, (QStringList{"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0"}));
    QVERIFY(!listSerialPorts(sys.path() + QStringLiteral("/missing")));
  }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
