// The operator's additions: status panel 0 (the link, a chain's progress and where it stopped,
// the last read error), the CSV exports and the window growing beyond its design size.
#include <QtTest>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include "support/FormFixture.h"
#include "support/Powersim.h"
#include "window/Controls.h"
#include "window/ProtocolLog.h"
#include "window/TableExport.h"

using namespace testsupport;

namespace {

// Exports through the action as the operator choosing path would, and reads the file back as
// rows of plain (unquoted) fields; empty when the file is missing or lacks the byte-order mark.
QList<QStringList> exportAndReadBack(QAction *action, const QString &path) {
  {
    SaveAs answer(path);
    action->trigger();
  }
  waitForWrites();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QByteArray bytes = file.readAll();
  if (!bytes.startsWith("\xEF\xBB\xBF")) return {};
  QList<QStringList> rows;
  for (const QString &line : QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
    rows << line.split(QLatin1Char(','));
  return rows;
}

// Panel 0's texts, each once as it changed, until one matches end; empty when none did in time.
QStringList panelTextsUntil(const TestForm &f, const QString &end) {
  const QRegularExpression re(end);
  QStringList seen;
  const bool matched = waitFor(
      [&] {
        const QString t = f.panelText(0);
        if (seen.isEmpty() || seen.last() != t) seen << t;
        return re.match(t).hasMatch();
      },
      15000);
  return matched ? seen : QStringList();
}

}  // namespace

class TestOperator : public QObject {
  Q_OBJECT
 private slots:
  // ---- the chain progress on its own: events in, panel text out
  void chainProgressTexts_data() {
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("shown");
    QTest::newRow("nothing yet") << QStringList{} << QString();
    QTest::newRow("running") << QStringList{"step page1 12 31", "settle busy"} << QStringLiteral("参数1刷新 12/31");
    QTest::newRow("finished") << QStringList{"step page1 31 31", "settle idle"} << QStringLiteral("参数1刷新 31/31 完成");
    QTest::newRow("time-out") << QStringList{"step page2 7 30", "stop timeout", "settle idle"}
                              << QStringLiteral("参数2刷新 停在 7/30：通讯超时");
    QTest::newRow("damaged answer") << QStringList{"step records 3 10", "stop damaged", "settle idle"}
                                    << QStringLiteral("读取记录 停在 3/10：应答损坏");
    QTest::newRow("read error ends it") << QStringList{"step page2 12 30", "readerror", "settle idle"}
                                        << QStringLiteral("参数2刷新 停在 12/30：读错误");
    QTest::newRow("read error, chain goes on") << QStringList{"step page1 12 31", "readerror", "step page1 13 31"}
                                               << QStringLiteral("参数1刷新 13/31");
    QTest::newRow("read error at the last step") << QStringList{"step page1 31 31", "readerror", "settle idle"}
                                                 << QStringLiteral("参数1刷新 停在 31/31：读错误");
    QTest::newRow("no next request") << QStringList{"step page1 5 31", "settle idle"}
                                     << QStringLiteral("参数1刷新 停在 5/31：中断");
    QTest::newRow("no link, in a chain") << QStringList{"step page1 1 31", "stop nolink"}
                                         << QStringLiteral("参数1刷新 停在 1/31：未打开连接");
    QTest::newRow("no link, a single read") << QStringList{"stop nolink"} << QStringLiteral("未发送：未打开连接");
    QTest::newRow("no link, then a link opens") << QStringList{"stop nolink", "linkopened"} << QString();
    QTest::newRow("a stop outside a chain") << QStringList{"stop timeout"} << QString();
    QTest::newRow("a late time-out keeps the finish")
        << QStringList{"step page1 31 31", "settle idle", "stop timeout"} << QStringLiteral("参数1刷新 31/31 完成");
    QTest::newRow("restarted") << QStringList{"step page1 4 31", "stop timeout", "step page1 1 31"}
                               << QStringLiteral("参数1刷新 1/31");
  }
  void chainProgressTexts() {
    QFETCH(QStringList, events);
    QFETCH(QString, shown);
    const QMap<QString, ChainStop> stops = {{"timeout", ChainStop::TimeOut},
                                            {"damaged", ChainStop::DamagedAnswer},
                                            {"nolink", ChainStop::NoLink}};
    const QMap<QString, Chain> chains = {{"page1", Chain::Page1}, {"page2", Chain::Page2}, {"records", Chain::Records}};
    ChainProgress p;
    for (const QString &e : events) {
      const QStringList w = e.split(QLatin1Char(' '));
      if (w[0] == QLatin1String("step")) p.step(chains.value(w[1]), w[2].toInt(), w[3].toInt());
      if (w[0] == QLatin1String("stop")) p.stop(stops.value(w[1]));
      if (w[0] == QLatin1String("readerror")) p.readError();
      if (w[0] == QLatin1String("linkopened")) p.linkOpened();
      if (w[0] == QLatin1String("settle")) p.settle(w[1] == QLatin1String("busy"));
    }
    QCOMPARE(p.text(), shown);
  }

  // ---- panel 0 over the real links
  void panelShowsTheLinkAndARefreshToItsEnd() {
    MessageRecorder boxes;
    Powersim sim({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--pty")});
    QVERIFY(sim.ok() && sim.port() && !sim.ptyPath().isEmpty());
    TestForm f;
    QCOMPARE(f.panelText(0), QStringLiteral("未连接"));

    const QString lan = QStringLiteral("LAN 127.0.0.1:%1").arg(sim.port());
    f.RadioButton2->click();
    setText(f, "Edit13", QStringLiteral("127.0.0.1"));
    setText(f, "Edit12", QString::number(sim.port()));
    click(f, "Button29");
    QCOMPARE(f.panelText(0), lan + QStringLiteral(" 连接中…"));  // the connection stands only in the event loop
    QVERIFY(waitFor([&] { return f.panelText(0) == lan; }, 5000));

    click(f, "Button24");
    QStringList seen = panelTextsUntil(f, QStringLiteral("完成$"));
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.last(), lan + QStringLiteral(" | 参数1刷新 31/31 完成"));
    QVERIFY2(seen.contains(lan + QStringLiteral(" | 参数1刷新 1/31")), qPrintable(seen.join('\n')));

    // page 2's refresh, with its three page-1 steps, counts to its own end
    click(f, "Button88");
    seen = panelTextsUntil(f, QStringLiteral("参数2刷新 30/30 完成$"));
    QVERIFY(!seen.isEmpty());
    QVERIFY2(seen.first() == lan + QStringLiteral(" | 参数2刷新 1/30"), qPrintable(seen.join('\n')));

    click(f, "Button29");
    QVERIFY(f.panelText(0).startsWith(QStringLiteral("未连接 | ")));

    openSerial(f, sim.ptyPath());
    QCOMPARE(f.Button29->text(), QStringLiteral("COLSE"));
    // a new link starts clean: the previous link's refresh is no longer on show
    QCOMPARE(f.panelText(0), sim.ptyPath() + QStringLiteral(" 9600"));
    click(f, "Button5");
    QVERIFY(waitFor([&] { return !f.Timer1->isEnabled(); }, 5000));
    QCOMPARE(f.panelText(0), sim.ptyPath() + QStringLiteral(" 9600"));
    click(f, "Button29");
    QVERIFY(f.panelText(0).startsWith(QStringLiteral("未连接")));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // A step that goes unanswered is sent once more, once the line is back in step; unanswered
  // twice, the refresh stops there.
  void aSilentAnswerStopsTheRefreshWhereItWas() {
    MessageRecorder boxes;
    // seed 1 leaves requests of the refresh unanswered, the 12th first
    Powersim sim({QStringLiteral("--fault-silent"), QStringLiteral("0.1"), QStringLiteral("--seed"), QStringLiteral("1")});
    TimeScale fast(0.25);  // the time-out in 250 ms
    TestForm f;
    QVERIFY(openLan(f, sim));
    f.Button4Click();
    click(f, "Button24");
    const QStringList seen = panelTextsUntil(f, QStringLiteral("参数1刷新 (停在 \\d+/31：通讯超时|31/31 完成)$"));
    QVERIFY(!seen.isEmpty());
    QVERIFY(!f.page1Refresh);
    const QStringList log = memoLines(f);
    QVERIFY(log.contains(QStringLiteral("通讯超时：重发一次")));
    // after the time-out the AC read (or the status read) goes first; the resend repeats the
    // request that went unanswered
    const QStringList resyncs{requestLine(0x40, 0x01), requestLine(0x42, 0x16)};
    int resent = 0;
    for (int i = 1; i < log.size() - 1; ++i) {
      if (log[i] != QStringLiteral("通讯超时：重发一次")) continue;
      QVERIFY2(resyncs.contains(log[i + 1]), qPrintable(log[i + 1]));
      resent += log.indexOf(log[i - 1], i + 1) > i;
    }
    QVERIFY(resent >= 1);
    const QString lan = QStringLiteral("LAN 127.0.0.1:%1 | ").arg(sim.port());

    // started again, it runs from the first step
    click(f, "Button24");
    QCOMPARE(f.panelText(0), lan + QStringLiteral("参数1刷新 1/31"));
    QVERIFY(waitFor([&] { return !f.page1Refresh; }, 15000));
  }

  void theLastReadErrorKeepsItsTime() {
    MessageRecorder boxes;
    TestForm f;
    f.clockSource = [] { return QDateTime(QDate(2030, 6, 7), QTime(1, 2, 3), Qt::UTC); };
    click(f, "Button5");  // no link open: nothing is sent, and the panel says so
    QCOMPARE(f.panelText(0), QStringLiteral("未连接 | 未发送：未打开连接"));

    Powersim sim({QStringLiteral("--fault-rtn"), QStringLiteral("1")});  // every request refused
    QVERIFY(openLan(f, sim));
    click(f, "Button5");  // its read error goes to the log
    QVERIFY(waitFor([&] { return f.panelText(0).endsWith(QStringLiteral("读错误！！ 09:02:03")); }, 3000));
    QCOMPARE(lastMemoLine(f), QStringLiteral("读错误！！"));

    f.clockSource = [] { return QDateTime(QDate(2030, 6, 7), QTime(2, 0, 0), Qt::UTC); };
    click(f, "Button30");  // its read error goes to status panel 2, where the clock overwrites it
    QVERIFY(waitFor([&] { return f.panelText(0).endsWith(QStringLiteral("读错误！！ 10:00:00")); }, 3000));
    f.Timer6Timer();
    QCOMPARE(f.panelText(2), QStringLiteral("2030-06-07 10:00:00"));
    QVERIFY(f.panelText(0).endsWith(QStringLiteral("读错误！！ 10:00:00")));
  }

  // ---- exports
  void csvQuotesWhatNeedsIt() {
    const QByteArray csv = csvText({{"时间", "a,b", "say \"x\""}, {"two\nlines", "", "-48V输出过压"}});
    QCOMPARE(csv, QByteArray("\xEF\xBB\xBF") + QStringLiteral("时间,\"a,b\",\"say \"\"x\"\"\"\r\n"
                                                                "\"two\nlines\",,-48V输出过压\r\n")
                                                     .toUtf8());
  }

  void exportsTheEnergyGridAsShown() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    TestForm f;
    f.StringGrid1->SetCells(1, 13, QStringLiteral("12.5"));
    f.StringGrid1->SetCells(4, 16, QStringLiteral("1234.5"));
    auto *action = f.StringGrid1->findChild<QAction *>(QStringLiteral("actionExportEnergy"));
    QVERIFY(action && f.StringGrid1->actions().contains(action));
    QCOMPARE(action->text(), QStringLiteral("导出CSV…"));
    QCOMPARE(f.StringGrid1->contextMenuPolicy(), Qt::ActionsContextMenu);

    const QString path = dir.filePath(QStringLiteral("用电量.csv"));
    const QList<QStringList> rows = exportAndReadBack(action, path);
    QCOMPARE(rows.size(), 17);
    QCOMPARE(rows, shownRows(*f.StringGrid1));
    QCOMPARE(rows[0], (QStringList{"时间", "用户1", "用户2", "用户3", "用户4"}));
    QCOMPARE(rows[13][1], QStringLiteral("12.5"));
    QVERIFY(boxes.boxes.isEmpty());

    // a file that cannot be written says why, and leaves nothing half-written
    const QString nowhere = dir.filePath(QStringLiteral("no such folder/energy.csv"));
    QVERIFY(exportAndReadBack(action, nowhere).isEmpty());
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].second, QStringLiteral("error"));
    QVERIFY2(boxes.boxes[0].first.startsWith(QStringLiteral("无法保存 ") + nowhere + QStringLiteral("：")) &&
                 boxes.boxes[0].first.size() > nowhere.size() + 6,
             qPrintable(boxes.boxes[0].first));
    QVERIFY(!QFile::exists(nowhere));

    // cancelled: nothing written, nothing said
    QFile::remove(path);
    QVERIFY(exportAndReadBack(action, QString()).isEmpty());
    QVERIFY(!QFile::exists(path));
    QCOMPARE(boxes.boxes.size(), 1);
  }

  void exportsTheHistoryReadFromTheController() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    Powersim sim({QStringLiteral("--records"), QStringLiteral("12")});
    TestForm f;
    QVERIFY(openLan(f, sim));
    click(f, "Button146");
    QVERIFY(waitFor([&] { return !f.Timer1->isEnabled() && f.recordIndex == 11; }, 5000));
    click(f, "Button40");
    QVERIFY(waitFor([&] { return f.panelText(0).endsWith(QStringLiteral("读取记录 12/12 完成")); }, 15000));
    QCOMPARE(f.ValueListEditor1->rowCount(), 12);

    auto *action = f.ValueListEditor1->findChild<QAction *>(QStringLiteral("actionExportRecords"));
    QVERIFY(action && f.ValueListEditor1->actions().contains(action));
    const QList<QStringList> rows = exportAndReadBack(action, dir.filePath(QStringLiteral("历史记录.csv")));
    QCOMPARE(rows.size(), 13);
    QCOMPARE(rows[0], (QStringList{"发生时间", "告警事件"}));
    QCOMPARE(rows, shownRows(*f.ValueListEditor1));
    QVERIFY(boxes.boxes.isEmpty());
  }

  // ---- resizing
  void growsBeyondTheDesignSizeAndKeepsItAtIt() {
    MessageRecorder boxes;
    TestForm f;
    // the design size, whatever room the test platform's screen offers
    f.resize(TestForm::kDesignClientWidth, TestForm::kDesignClientHeight + TestForm::kStatusBarHeight);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QCOMPARE(f.centralWidget()->size(), QSize(TestForm::kDesignClientWidth, TestForm::kDesignClientHeight));
    QCOMPARE(f.clientArea()->size(), QSize(TestForm::kDesignClientWidth, TestForm::kDesignClientHeight));
    QCOMPARE(f.Memo1->geometry(), QRect(600, 40, 433, 577));
    QCOMPARE(f.PageControl1->geometry(), QRect(8, 80, 585, 585));
    QCOMPARE(f.Button4->geometry(), QRect(616, 624, 97, 25));
    QCOMPARE(f.Button3->geometry(), QRect(912, 624, 73, 25));
    const QMap<QString, QRect> design = namedGeometries(f);
    QVERIFY(design.size() > 150);

    const QSize designSize = f.size();
    f.resize(designSize + QSize(300, 200));
    QVERIFY(waitFor([&] { return f.Memo1->height() == 577 + 200; }, 3000));
    QCOMPARE(f.PageControl1->geometry(), QRect(8, 80, 585 + 150, 585 + 200));
    QCOMPARE(f.Memo1->geometry(), QRect(600 + 150, 40, 433 + 150, 577 + 200));
    QCOMPARE(f.Button3->geometry().topLeft(), QPoint(912 + 150, 624 + 200));
    QCOMPARE(f.ValueListEditor1->size(), design.value(QStringLiteral("ValueListEditor1")).size() + QSize(150, 200));
    QCOMPARE(f.Edit1->geometry(), design.value(QStringLiteral("Edit1")));  // the protocol row stays

    f.resize(designSize);
    QVERIFY(waitFor([&] { return f.Memo1->height() == 577; }, 3000));
    const QMap<QString, QRect> after = namedGeometries(f);
    for (auto it = design.begin(); it != design.end(); ++it) QCOMPARE(after.value(it.key()), it.value());
  }
};

QTEST_MAIN(TestOperator)
#include "test_operator.moc"
