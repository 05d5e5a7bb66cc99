// The window's parameter files, as the operator uses them: the three buttons under page 1's
// rows, the file dialogs answered by the test, against the controller simulator over loopback.
#include <QtTest>

#include <QDateTime>
#include <QDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>

#include "support/FormFixture.h"
#include "support/Powersim.h"
#include "window/Controls.h"

using namespace testsupport;

namespace {

QJsonObject parametersIn(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("parameters")).toObject();
}

// The report's rows as shown, and its title.
QList<QStringList> reportRows(const TestForm &f, QString *title = nullptr) {
  auto *dialog = f.findChild<QDialog *>(QStringLiteral("ParamFileReport"));
  if (!dialog) return {};
  if (title) *title = dialog->windowTitle();
  return shownRows(*dialog->findChild<QTableWidget *>(QStringLiteral("ParamFileReportTable")));
}
QStringList rowNamed(const QList<QStringList> &rows, const QString &name) {
  for (const QStringList &r : rows)
    if (!r.isEmpty() && r[0] == name) return r;
  return {};
}
void closeReport(TestForm &f) { delete f.findChild<QDialog *>(QStringLiteral("ParamFileReport")); }

bool reportShown(const TestForm &f) { return f.findChild<QDialog *>(QStringLiteral("ParamFileReport")) != nullptr; }

}  // namespace

class TestParamFileWindow : public QObject {
  Q_OBJECT
 private slots:
  // Save, compare and write back: one path through the three buttons.
  void savesComparesAndRestores() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("参数.json"));
    Powersim sim({QStringLiteral("--modules"), QStringLiteral("1,2")});
    TestForm f;
    QVERIFY(openLan(f, sim));

    {
      SaveAs answer(path);
      click(f, "ButtonSaveParamFile");
    }
    QVERIFY(waitFor([&] { return f.panelText(0).contains(QStringLiteral("参数文件 59/59 完成")); }, 20000));
    waitForWrites();
    const QJsonObject saved = parametersIn(path);
    {
      QFile file(path);
      QVERIFY(file.open(QIODevice::ReadOnly));
      const QJsonObject whole = QJsonDocument::fromJson(file.readAll()).object();
      QCOMPARE(whole.value(QStringLiteral("controller")).toString(), QStringLiteral("tcp://127.0.0.1:%1?address=1").arg(sim.port()));
      QVERIFY(QDateTime::fromString(whole.value(QStringLiteral("read_at")).toString(), Qt::ISODate).isValid());
      QVERIFY(whole.value(QStringLiteral("read_at")).toString().endsWith(QStringLiteral("+08:00")));  // the window's one clock
    }
    QCOMPARE(saved.size(), 59);
    QCOMPARE(saved.value(QStringLiteral("float_voltage")).toDouble(), 53.5);
    QCOMPARE(saved.value(QStringLiteral("module_count")).toDouble(), 2.0);
    QVERIFY(saved.value(QStringLiteral("controller_clock")).toString().startsWith(QStringLiteral("20")));
    QVERIFY(boxes.boxes.isEmpty());

    // the operator changes the float voltage by hand
    setText(f, "Edit36", QStringLiteral("54"));
    click(f, "Button59");
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("设置成功"); }, 5000));

    {
      OpenFrom answer(path);
      click(f, "ButtonCompareParamFile");
    }
    QVERIFY(waitFor([&] { return reportShown(f); }, 20000));
    QString title;
    QList<QStringList> rows = reportRows(f, &title);
    QCOMPARE(title, QStringLiteral("与参数文件比较：1 处不同"));
    QCOMPARE(rows.first(), (QStringList{"参数", "文件", "控制器", "单位", "比较"}));
    QCOMPARE(rowNamed(rows, QStringLiteral("浮充电压设定")), (QStringList{"浮充电压设定", "53.5", "54", "V", "不同"}));
    QCOMPARE(rowNamed(rows, QStringLiteral("时间")).value(4), QString());  // the clock is never a difference
    closeReport(f);

    // asked once with what will change, No: nothing is written
    boxes.answerYes = false;
    {
      OpenFrom answer(path);
      click(f, "ButtonRestoreParamFile");
    }
    QVERIFY(waitFor([&] { return !boxes.questions.isEmpty(); }, 20000));
    QCOMPARE(boxes.questions.last(), QStringLiteral("将写入以下 1 个参数：\n浮充电压设定：54 → 53.5 V\n确定写入？"));
    QVERIFY(waitFor([&] { return !f.Timer1->isEnabled(); }, 3000));
    QVERIFY(!reportShown(f));

    // Yes: written, read back, reported
    boxes.answerYes = true;
    {
      OpenFrom answer(path);
      click(f, "ButtonRestoreParamFile");
    }
    QVERIFY(waitFor([&] { return reportShown(f); }, 20000));
    rows = reportRows(f, &title);
    QCOMPARE(title, QStringLiteral("写入参数文件：1 个已写入并确认，共 1 个"));
    QCOMPARE(rows.mid(1), (QList<QStringList>{{"浮充电压设定", "53.5", "V", "已写入并确认"}}));
    closeReport(f);

    {
      OpenFrom answer(path);
      click(f, "ButtonCompareParamFile");
    }
    QVERIFY(waitFor([&] { return reportShown(f); }, 20000));
    reportRows(f, &title);
    QCOMPARE(title, QStringLiteral("与参数文件比较：0 处不同"));
  }

  // A battery test in the file is asked for on its own; No leaves it off, the rest is written.
  void batteryTestNeedsItsOwnConfirmation() {
    MessageRecorder boxes;
    QStringList questions;
    SetYesNoHook([&](const QString &q) {
      questions << q;
      return !q.startsWith(QStringLiteral("确定开始电池测试"));
    });
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"format": 1, "parameters": {"battery_test": 1, "battery_capacity": 400, "unknown_key": 3}})");
    file.close();
    Powersim sim;
    TestForm f;
    QVERIFY(openLan(f, sim));
    {
      OpenFrom answer(path);
      click(f, "ButtonRestoreParamFile");
    }
    QVERIFY(waitFor([&] { return reportShown(f); }, 20000));
    SetYesNoHook({});
    QCOMPARE(questions.size(), 2);
    QVERIFY(questions[1].startsWith(QStringLiteral("确定开始电池测试")));
    QString title;
    const QList<QStringList> rows = reportRows(f, &title);
    QCOMPARE(rowNamed(rows, QStringLiteral("电池测试使能")).value(3), QStringLiteral("未写入：需单独确认"));
    QCOMPARE(rowNamed(rows, QStringLiteral("电池容量")).value(3), QStringLiteral("已写入并确认"));
    QVERIFY(memoLines(f).contains(QStringLiteral("参数文件中未知的参数（已忽略）：unknown_key")));
    closeReport(f);
    // the controller's battery test is still off
    click(f, "Button124");
    QVERIFY(waitFor([&] { return !f.Timer1->isEnabled(); }, 3000));
    QVERIFY(!checked(f, "CheckBox7"));
  }

  // A file that cannot be used says why and sends nothing.
  void malformedFileSendsNothing() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"format": 1, "parameters": {"float_voltage": 700}})");
    file.close();
    Powersim sim;
    TestForm f;
    QVERIFY(openLan(f, sim));
    f.Button3Click();
    {
      OpenFrom answer(path);
      click(f, "ButtonRestoreParamFile");
    }
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY2(boxes.boxes[0].first.contains(QStringLiteral("float_voltage: 700 is outside 0..655.35")), qPrintable(boxes.boxes[0].first));
    QCOMPARE(boxes.boxes[0].second, QStringLiteral("error"));
    QVERIFY(requestLines(f).isEmpty());
  }

  // Esc stops the read-out: nothing is saved.
  void escapeStopsTheReadOut() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.json"));
    // every answer takes 300 ms: the read-out is under way when Esc comes
    Powersim sim({QStringLiteral("--fault-late"), QStringLiteral("1"), QStringLiteral("--delay-ms"), QStringLiteral("300")});
    TestForm f;
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QVERIFY(openLan(f, sim));
    {
      SaveAs answer(path);
      click(f, "ButtonSaveParamFile");
    }
    QVERIFY(waitFor([&] { return f.panelText(0).contains(QStringLiteral("参数文件 2/59")); }, 5000));
    QTest::keyClick(&f, Qt::Key_Escape);
    QVERIFY(waitFor([&] { return f.panelText(0).contains(QStringLiteral("参数文件 停在 2/59：已取消")); }, 3000));
    QTest::qWait(1000);
    waitForWrites();
    QVERIFY(!QFile::exists(path));
  }
};

QTEST_MAIN(TestParamFileWindow)
#include "test_param_file_window.moc"
