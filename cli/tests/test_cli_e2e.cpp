// powerhost-cli as a script runs it, against the controller simulator over loopback TCP and a
// pseudo-terminal: exit statuses, what reaches the controller (its statistics), and that a
// backup restored onto another controller leaves every parameter equal.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "protocol/Commands.h"
#include "tests/support/Powersim.h"

using testsupport::Powersim;

namespace {

struct Run {
  int exit = -1;
  QByteArray out, err;
  qint64 ms = 0;
};

Run cli(const QStringList &args, int waitMs = 60000) {
  QProcess p;
  QElapsedTimer t;
  t.start();
  p.start(QStringLiteral(CLI_PATH), args);
  p.closeWriteChannel();  // no terminal: restore never asks
  Run r;
  if (!p.waitForFinished(waitMs)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.ms = t.elapsed();
  r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput();
  r.err = p.readAllStandardError();
  return r;
}

QString tcpUrl(const Powersim &sim) { return QStringLiteral("tcp://127.0.0.1:%1").arg(sim.port()); }
QString ptyUrl(const Powersim &sim) { return QStringLiteral("serial:%1?baud=9600").arg(sim.ptyPath()); }

// Writes the controller answered, from its statistics: "42/3A" for every write command.
QStringList writesAnswered(Powersim &sim) {
  QStringList writes;
  static const QRegularExpression line(QStringLiteral("^stats answered ([0-9A-F]{2})/([0-9A-F]{2}) (\\d+)"));
  for (const QString &l : sim.stats()) {
    const auto m = line.match(l);
    if (!m.hasMatch()) continue;
    const auto *def = proto::findCommand(uint8_t(m.captured(1).toInt(nullptr, 16)), uint8_t(m.captured(2).toInt(nullptr, 16)));
    if (def && def->kind == proto::CommandKind::Write) writes << m.captured(1) + QLatin1Char('/') + m.captured(2);
  }
  return writes;
}
int requestsAnswered(Powersim &sim) {
  int n = 0;
  static const QRegularExpression line(QStringLiteral("^stats answered \\S+ (\\d+)"));
  for (const QString &l : sim.stats()) {
    const auto m = line.match(l);
    if (m.hasMatch()) n += m.captured(1).toInt();
  }
  return n;
}

QJsonObject getAll(const QString &url) {
  const Run r = cli({url, QStringLiteral("get"), QStringLiteral("--json")});
  if (r.exit != 0) return {};
  return QJsonDocument::fromJson(r.out).object();
}

}  // namespace

class TestCliE2e : public QObject {
  Q_OBJECT
 private slots:
  void helpDocumentsEveryCommand() {
    const Run r = cli({QStringLiteral("--help")});
    QCOMPARE(r.exit, 0);
    QVERIFY(r.out.startsWith("Usage: powerhost-cli "));
    for (const char *word : {"status", "get", "set", "backup", "diff", "restore", "records", "energy", "--json",
                             "--csv", "--yes", "--dry-run", "--timeout", "--retries", "tcp://HOST:PORT", "serial:DEVICE"})
      QVERIFY2(r.out.contains(word), word);
  }

  // One poll, as the status page shows it: the values, the lamps, the modules.
  void statusIsOnePoll() {
    Powersim sim({QStringLiteral("--modules"), QStringLiteral("2,10"), QStringLiteral("--alarms"), QStringLiteral("door"),
                  QStringLiteral("--stats")});
    const Run json = cli({tcpUrl(sim), QStringLiteral("status"), QStringLiteral("--json")});
    QCOMPARE(json.exit, 0);
    const QJsonObject o = QJsonDocument::fromJson(json.out).object();
    QCOMPARE(o.value(QStringLiteral("measurements")).toObject().value(QStringLiteral("modules")).toDouble(), 2.0);
    QVERIFY(o.value(QStringLiteral("measurements")).toObject().value(QStringLiteral("bus_voltage")).toDouble() > 40);
    QCOMPARE(o.value(QStringLiteral("alarms")).toObject().value(QStringLiteral("门禁")).toBool(), true);
    QCOMPARE(o.value(QStringLiteral("alarms")).toObject().value(QStringLiteral("烟雾")).toBool(), false);
    const QJsonArray modules = o.value(QStringLiteral("modules")).toArray();
    QCOMPARE(modules.size(), 2);
    QCOMPARE(modules[1].toObject().value(QStringLiteral("module")).toInt(), 10);
    QCOMPARE(modules[1].toObject().value(QStringLiteral("开关机状态")).toString(), QStringLiteral("开机"));
    // status, AC, module list and one readings request per module; nothing is written
    QCOMPARE(requestsAnswered(sim), 5);
    const Run text = cli({tcpUrl(sim), QStringLiteral("status")});
    QCOMPARE(text.exit, 0);
    QVERIFY(text.out.contains("alarm\t门禁\t告警\n"));
    QVERIFY(QRegularExpression(QStringLiteral("\nmodule\t10\t开机\t[0-9.]+V\t")).match(QString::fromUtf8(text.out)).hasMatch());
  }

  void badUsageIsExitTwoAndSendsNothing_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("says");
    QTest::newRow("no command") << QStringList{QStringLiteral("URL")} << "command is needed";
    QTest::newRow("unknown command") << QStringList{QStringLiteral("URL"), QStringLiteral("reboot")} << "unknown command";
    QTest::newRow("unknown name") << QStringList{QStringLiteral("URL"), QStringLiteral("get"), QStringLiteral("nonsense")} << "unknown parameter";
    QTest::newRow("not NAME=VALUE") << QStringList{QStringLiteral("URL"), QStringLiteral("set"), QStringLiteral("float_voltage")} << "NAME=VALUE";
    QTest::newRow("out of field") << QStringList{QStringLiteral("URL"), QStringLiteral("set"), QStringLiteral("float_voltage=655.36")} << "float_voltage";
    QTest::newRow("too many decimals") << QStringList{QStringLiteral("URL"), QStringLiteral("set"), QStringLiteral("float_voltage=53.555")} << "decimals";
    QTest::newRow("no such item") << QStringList{QStringLiteral("URL"), QStringLiteral("set"), QStringLiteral("dry_contact_1_type=19")} << "none of";
    QTest::newRow("clock by value") << QStringList{QStringLiteral("URL"), QStringLiteral("set"), QStringLiteral("controller_clock=1")} << "cannot be written";
    QTest::newRow("read-only") << QStringList{QStringLiteral("URL"), QStringLiteral("set"), QStringLiteral("display_language=1")} << "cannot be written";
    QTest::newRow("equalize without --yes") << QStringList{QStringLiteral("URL"), QStringLiteral("set"), QStringLiteral("manual_equalize=1")} << "--yes";
    QTest::newRow("battery test without --yes") << QStringList{QStringLiteral("URL"), QStringLiteral("set"), QStringLiteral("battery_test=1")} << "--yes";
    QTest::newRow("--csv with get") << QStringList{QStringLiteral("URL"), QStringLiteral("get"), QStringLiteral("--csv")} << "--csv";
    QTest::newRow("bad retries") << QStringList{QStringLiteral("URL"), QStringLiteral("status"), QStringLiteral("--retries"), QStringLiteral("x")} << "--retries";
    QTest::newRow("bad url") << QStringList{QStringLiteral("http://x"), QStringLiteral("status")} << "is not tcp://";
  }
  void badUsageIsExitTwoAndSendsNothing() {
    QFETCH(QStringList, args);
    QFETCH(QString, says);
    Powersim sim({QStringLiteral("--stats")});
    QVERIFY(sim.ok());
    if (args[0] == QLatin1String("URL")) args[0] = tcpUrl(sim);
    const Run r = cli(args);
    QCOMPARE(r.exit, 2);
    QVERIFY2(QString::fromUtf8(r.err).contains(says), r.err.constData());
    QVERIFY(r.out.isEmpty());
    QCOMPARE(requestsAnswered(sim), 0);
  }

  // A backup restored onto a controller with other values leaves every parameter equal,
  // over the LAN and over a serial line.
  void backupAndRestoreRoundTrip_data() {
    QTest::addColumn<bool>("serial");
    QTest::newRow("tcp") << false;
    QTest::newRow("pty") << true;
  }
  void backupAndRestoreRoundTrip() {
    QFETCH(bool, serial);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("site.json"));
    Powersim a({QStringLiteral("--modules"), QStringLiteral("1,2,3,4")});
    QStringList bOptions{QStringLiteral("--modules"), QStringLiteral("1,2"), QStringLiteral("--stats")};
    if (serial) bOptions << QStringLiteral("--pty");
    Powersim b(bOptions);
    QVERIFY(a.ok() && b.ok());
    const QString bUrl = serial ? ptyUrl(b) : tcpUrl(b);

    const Run backup = cli({tcpUrl(a), QStringLiteral("backup"), file});
    QVERIFY2(backup.exit == 0, backup.err.constData());
    const QJsonObject saved = QJsonDocument::fromJson([&] {
                                QFile f(file);
                                return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
                              }()).object();
    QCOMPARE(saved.value(QStringLiteral("format")).toInt(), 1);
    QCOMPARE(saved.value(QStringLiteral("controller")).toString(), tcpUrl(a) + QStringLiteral("?address=1"));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d)$"))
                .match(saved.value(QStringLiteral("read_at")).toString()).hasMatch());
    const QJsonObject params = saved.value(QStringLiteral("parameters")).toObject();
    QCOMPARE(params.size(), 59);
    QCOMPARE(params.value(QStringLiteral("float_voltage")).toDouble(), 53.5);
    QCOMPARE(params.value(QStringLiteral("module_count")).toDouble(), 4.0);
    QVERIFY(params.value(QStringLiteral("controller_clock")).isString());
    QCOMPARE(params.value(QStringLiteral("dry_contact_1_type")).toObject().value(QStringLiteral("text")).isString(), true);

    // the second controller gets other values
    const Run set = cli({bUrl, QStringLiteral("set"), QStringLiteral("float_voltage=54.2"), QStringLiteral("dry_contact_2_type=防雷"),
                         QStringLiteral("buzzer=0"), QStringLiteral("battery_low_temperature=-10.5"), QStringLiteral("sleep_interval=12"),
                         QStringLiteral("temperature_compensation=0")});
    QVERIFY2(set.exit == 0, set.err.constData() + set.out);
    QCOMPARE(QString::fromUtf8(set.out).count(QStringLiteral("written and confirmed")), 6);

    const Run before = cli({bUrl, QStringLiteral("diff"), file});
    QCOMPARE(before.exit, 1);
    QVERIFY2(before.err.contains("7 differences"), before.err.constData());  // the six and the module count
    QVERIFY(before.out.contains("* float_voltage\t53.5\t54.2\tV"));
    QVERIFY(!before.out.contains("* controller_clock"));

    const Run restore = cli({bUrl, QStringLiteral("restore"), file, QStringLiteral("--yes")});
    QVERIFY2(restore.exit == 0, restore.err.constData() + restore.out);
    QCOMPARE(QString::fromUtf8(restore.out).count(QStringLiteral("written and confirmed")), 7);

    const Run after = cli({bUrl, QStringLiteral("diff"), file});
    QVERIFY2(after.exit == 0, after.err.constData());
    QVERIFY(after.err.contains("0 differences"));
    QJsonObject fromA = getAll(tcpUrl(a)), fromB = getAll(bUrl);
    QCOMPARE(fromA.size(), 59);
    fromA.remove(QStringLiteral("controller_clock"));
    fromB.remove(QStringLiteral("controller_clock"));
    QCOMPARE(fromB, fromA);
    // only what differed was written
    QCOMPARE(writesAnswered(b).size(), 7);
  }

  // The controller refuses one write (a float voltage beyond what it accepts): that one is
  // reported, the others are written, and the exit status is 1.
  void restoreReportsARefusedParameter() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.json"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(R"({"format": 1, "controller": "x", "read_at": "2026-01-01T00:00:00+08:00", "parameters": {
      "float_voltage": 59, "battery_capacity": 300, "buzzer": {"code": 2, "text": "本次关"}, "no_such_thing": 1}})");
    f.close();
    Powersim sim;
    const Run r = cli({tcpUrl(sim), QStringLiteral("restore"), file, QStringLiteral("--yes")});
    QCOMPARE(r.exit, 1);
    QVERIFY(r.err.contains("unknown parameter \"no_such_thing\" ignored"));
    QVERIFY2(r.out.contains("float_voltage 59: refused by the controller"), r.out.constData());
    QVERIFY(r.out.contains("battery_capacity 300: written and confirmed"));
    QVERIFY(r.out.contains("buzzer 2 本次关: written and confirmed"));
    const Run get = cli({tcpUrl(sim), QStringLiteral("get"), QStringLiteral("float_voltage"), QStringLiteral("battery_capacity")});
    QCOMPARE(get.out, QByteArray("float_voltage\t53.5\tV\nbattery_capacity\t300\tAh\n"));
  }

  void dryRunSendsNoWrite() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.json"));
    Powersim a, b({QStringLiteral("--stats")});
    QVERIFY(cli({tcpUrl(a), QStringLiteral("set"), QStringLiteral("float_voltage=54"), QStringLiteral("battery_test=1"), QStringLiteral("--yes")}).exit == 0);
    QCOMPARE(cli({tcpUrl(a), QStringLiteral("backup"), file}).exit, 0);
    const Run r = cli({tcpUrl(b), QStringLiteral("restore"), file, QStringLiteral("--dry-run")});
    QCOMPARE(r.exit, 0);
    QVERIFY(r.err.contains("float_voltage: 53.5 -> 54 V"));
    QVERIFY(r.err.contains("nothing was sent"));
    QVERIFY(requestsAnswered(b) > 0);
    QCOMPARE(writesAnswered(b), QStringList());
    // without --yes and without a terminal, nothing is written either
    QCOMPARE(cli({tcpUrl(b), QStringLiteral("restore"), file}).exit, 2);
    QCOMPARE(writesAnswered(b), QStringList());
    // a battery test in the file is never started by a restore
    const Run real = cli({tcpUrl(b), QStringLiteral("restore"), file, QStringLiteral("--yes")});
    QCOMPARE(real.exit, 1);
    QVERIFY(real.err.contains("battery_test: 0 -> 1"));
    QVERIFY(real.err.contains("needs its own confirmation"));
    QCOMPARE(writesAnswered(b), QStringList{QStringLiteral("42/3A")});
  }

  void equalizeStartsOnlyWithYes() {
    Powersim sim({QStringLiteral("--stats")});
    const Run no = cli({tcpUrl(sim), QStringLiteral("set"), QStringLiteral("manual_equalize=1")});
    QCOMPARE(no.exit, 2);
    QVERIFY(no.err.contains("starts an equalize charge: add --yes"));
    QCOMPARE(writesAnswered(sim), QStringList());
    const Run yes = cli({tcpUrl(sim), QStringLiteral("set"), QStringLiteral("manual_equalize=1"), QStringLiteral("--yes")});
    QCOMPARE(yes.exit, 0);
    QCOMPARE(writesAnswered(sim), QStringList{QStringLiteral("42/4E")});
  }

  // A controller that never answers: exit 3 once the request and its retries have timed out.
  void silentControllerIsExitThree_data() {
    QTest::addColumn<bool>("serial");
    QTest::newRow("tcp") << false;
    QTest::newRow("pty") << true;
  }
  void silentControllerIsExitThree() {
    QFETCH(bool, serial);
    QStringList options{QStringLiteral("--fault-silent"), QStringLiteral("1")};
    if (serial) options << QStringLiteral("--pty");
    Powersim sim(options);
    QVERIFY(sim.ok());
    const QString url = serial ? ptyUrl(sim) : tcpUrl(sim);
    const Run r = cli({url, QStringLiteral("get"), QStringLiteral("float_voltage"), QStringLiteral("--timeout"),
                       QStringLiteral("0.4"), QStringLiteral("--retries"), QStringLiteral("2")});
    QCOMPARE(r.exit, 3);
    QVERIFY(r.err.contains("float_voltage: no answer from the controller"));
    QVERIFY(r.out.isEmpty());
    // three tries of 0.4 s; the bound leaves room for starting the program
    QVERIFY2(r.ms >= 1200 && r.ms < 1200 + 1500, qPrintable(QString::number(r.ms)));
  }

  // Answers that come after the time-out: each request is sent again, and the first one's late
  // answer is never taken for a later parameter's. The backup equals one from a prompt controller.
  void lateAnswersFillNoOtherParameter() {
    QTemporaryDir dir;
    Powersim prompt;
    Powersim late({QStringLiteral("--fault-late"), QStringLiteral("0.15"), QStringLiteral("--delay-ms"), QStringLiteral("500")});
    QVERIFY(prompt.ok() && late.ok());
    auto backup = [&](const Powersim &sim, const QString &name) {
      const QString file = dir.filePath(name);
      const Run r = cli({tcpUrl(sim), QStringLiteral("backup"), file, QStringLiteral("--timeout"), QStringLiteral("0.3"),
                         QStringLiteral("--retries"), QStringLiteral("6")});
      if (r.exit != 0) qWarning("%s", r.err.constData());
      QFile f(file);
      QJsonObject params = QJsonDocument::fromJson(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray())
                               .object().value(QStringLiteral("parameters")).toObject();
      params.remove(QStringLiteral("controller_clock"));  // read at another moment
      return params;
    };
    const QJsonObject expected = backup(prompt, QStringLiteral("prompt.json"));
    const QJsonObject got = backup(late, QStringLiteral("late.json"));
    QCOMPARE(expected.size(), 58);
    for (auto it = expected.begin(); it != expected.end(); ++it)
      QVERIFY2(got.value(it.key()) == it.value(), qPrintable(it.key() + QStringLiteral(": ") +
                                                             QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("v"), got.value(it.key())}}).toJson(QJsonDocument::Compact))));
  }

  void malformedFileSendsNothing_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("says");
    QTest::newRow("not json") << QByteArray("{\"format\": 1,") << "not a JSON file";
    QTest::newRow("not utf-8") << QByteArray("{\"format\": 1, \"parameters\": {\"x\": \"\xff\"}}") << "not a JSON file";
    QTest::newRow("an array") << QByteArray("[1, 2]") << "not one JSON object";
    QTest::newRow("no format") << QByteArray("{\"parameters\": {}}") << "no \"format\"";
    QTest::newRow("other format") << QByteArray("{\"format\": 2, \"parameters\": {}}") << "\"format\" 2 is not known";
    QTest::newRow("no parameters") << QByteArray("{\"format\": 1}") << "\"parameters\" is not an object";
    QTest::newRow("text for a number") << QByteArray(R"({"format": 1, "parameters": {"float_voltage": "53.5"}})") << "float_voltage: a number is needed";
    QTest::newRow("beyond the field") << QByteArray(R"({"format": 1, "parameters": {"float_voltage": 700}})") << "float_voltage: 700 is outside 0..655.35";
    QTest::newRow("negative count") << QByteArray(R"({"format": 1, "parameters": {"module_count": -1}})") << "module_count: -1 is outside";
    QTest::newRow("one byte") << QByteArray(R"({"format": 1, "parameters": {"sleep_interval": 300}})") << "sleep_interval: 300 is not a whole number from 0 to 255";
    QTest::newRow("flag") << QByteArray(R"({"format": 1, "parameters": {"fast_charge": 2}})") << "fast_charge: 0 or 1 is needed";
    QTest::newRow("no such item") << QByteArray(R"({"format": 1, "parameters": {"dry_contact_3_state": {"code": 5}}})") << "dry_contact_3_state: a code from 0 to 1";
    QTest::newRow("item's text") << QByteArray(R"({"format": 1, "parameters": {"buzzer": {"code": 1, "text": "关闭"}}})") << "buzzer: code 1 is \"开启\", not \"关闭\"";
    QTest::newRow("clock") << QByteArray(R"({"format": 1, "parameters": {"controller_clock": 5}})") << "controller_clock: the clock is a text";
  }
  void malformedFileSendsNothing() {
    QFETCH(QByteArray, content);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bad.json"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    Powersim sim({QStringLiteral("--stats")});
    const QStringList runs[] = {{tcpUrl(sim), QStringLiteral("diff"), file},
                                {tcpUrl(sim), QStringLiteral("restore"), file, QStringLiteral("--yes")}};
    for (const QStringList &args : runs) {
      const Run r = cli(args);
      QCOMPARE(r.exit, 2);
      QVERIFY2(QString::fromUtf8(r.err).contains(says), r.err.constData());
      QVERIFY(r.err.contains("nothing was sent"));
    }
    QCOMPARE(requestsAnswered(sim), 0);
  }
};

QTEST_GUILESS_MAIN(TestCliE2e)
#include "test_cli_e2e.moc"
