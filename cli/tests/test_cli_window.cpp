// The command line and the window on the same simulator: what powerhost-cli prints with
// --csv is what the window's exports hold.
#include <QtTest>

#include <QAction>
#include <QComboBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "tests/support/FormFixture.h"
#include "tests/support/Powersim.h"
#include "window/Controls.h"

using namespace testsupport;

namespace {

QByteArray cliOut(const QStringList &args, int *exit) {
  QProcess p;
  p.start(QStringLiteral(CLI_PATH), args);
  if (!p.waitForFinished(60000)) p.kill();
  *exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return p.readAllStandardOutput();
}

// The rows of a CSV text as this program writes it: the byte-order mark, CR LF, no quoting
// needed for these texts.
QList<QStringList> csvRows(const QByteArray &bytes) {
  QList<QStringList> rows;
  if (!bytes.startsWith("\xEF\xBB\xBF")) return rows;
  for (const QString &line : QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
    rows << line.split(QLatin1Char(','));
  return rows;
}

QByteArray exported(TestForm &f, QWidget *table, const char *action, const QString &path) {
  {
    SaveAs answer(path);
    table->findChild<QAction *>(QString::fromLatin1(action))->trigger();
  }
  waitForWrites();
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TestCliWindow : public QObject {
  Q_OBJECT
 private slots:
  void recordsCsvIsTheWindowsExport() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    Powersim sim({QStringLiteral("--records"), QStringLiteral("25")});
    TestForm f;
    QVERIFY(openLan(f, sim));
    click(f, "Button40");
    QVERIFY(waitFor([&] { return f.panelText(0).endsWith(QStringLiteral("读取记录 25/25 完成")); }, 20000));
    const QByteArray window = exported(f, f.ValueListEditor1, "actionExportRecords", dir.filePath(QStringLiteral("r.csv")));
    QVERIFY(window.size() > 100);
    int exit = -1;
    const QByteArray cli = cliOut({QStringLiteral("tcp://127.0.0.1:%1").arg(sim.port()), QStringLiteral("records"), QStringLiteral("--csv")}, &exit);
    QCOMPARE(exit, 0);
    QCOMPARE(cli, window);
  }

  // The window's cells read "1234.5度25%"; the command line's columns hold the two numbers.
  void energyCsvHoldsTheWindowsFigures() {
    MessageRecorder boxes;
    QTemporaryDir dir;
    Powersim sim;
    TestForm f;
    QVERIFY(openLan(f, sim));
    for (int month = 1; month <= 12; ++month) {
      combo(f, "ComboBox2")->setCurrentIndex(month - 1);
      click(f, "Button97");
      QVERIFY(waitFor([&] { return !f.Timer1->isEnabled() && f.StringGrid1->Cells(1, month).contains(QStringLiteral("度")); }, 5000));
    }
    for (const char *button : {"Button94", "Button95", "Button96", "Button98"}) {
      click(f, button);
      QVERIFY(waitFor([&] { return !f.Timer1->isEnabled(); }, 5000));
    }
    const QList<QStringList> window = csvRows(exported(f, f.StringGrid1, "actionExportEnergy", dir.filePath(QStringLiteral("e.csv"))));
    int exit = -1;
    const QList<QStringList> cli =
        csvRows(cliOut({QStringLiteral("tcp://127.0.0.1:%1").arg(sim.port()), QStringLiteral("energy"), QStringLiteral("--csv")}, &exit));
    QCOMPARE(exit, 0);
    QCOMPARE(window.size(), 17);
    QCOMPARE(cli.size(), 17);
    QCOMPARE(cli[0], (QStringList{"时间", "user1_kwh", "user1_percent", "user2_kwh", "user2_percent", "user3_kwh",
                                  "user3_percent", "user4_kwh", "user4_percent"}));
    static const QRegularExpression cell(QStringLiteral("^([0-9.]+)度([0-9]+)%$"));
    for (int row = 1; row <= 16; ++row) {
      QCOMPARE(cli[row][0], window[row][0]);
      for (int u = 0; u < 4; ++u) {
        const auto m = cell.match(window[row][1 + u]);
        QVERIFY2(m.hasMatch(), qPrintable(window[row][1 + u]));
        // today's counters grow while the two read: a tenth or two apart at most
        const double tolerance = row >= 13 ? 0.25 : 0;
        QVERIFY2(std::abs(cli[row][1 + 2 * u].toDouble() - m.captured(1).toDouble()) <= tolerance,
                 qPrintable(cli[row].join(QLatin1Char(',')) + QStringLiteral(" / ") + window[row].join(QLatin1Char(','))));
        if (row < 13) QCOMPARE(cli[row][2 + 2 * u], m.captured(2));
      }
    }
  }
};

QTEST_MAIN(TestCliWindow)
#include "test_cli_window.moc"
