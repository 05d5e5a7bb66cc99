// The Network UPS Tools endpoint: the protocol against literal command lines, ups.status
// from literal readings, the endpoint against hostile clients, and Debian's own clients
// (upsc, and upsmon as a secondary with a NOTIFYCMD script) against the exporter polling
// powersim.
#include <QtTest>

#include <QTemporaryDir>

#include "ExporterProcess.h"
#include "exporter/Nut.h"
#include "support/Powersim.h"

using namespace exporter;
using exportertest::seriesValue;
using testsupport::Powersim;

namespace {

// A reading with the given bus voltage (V), battery current (A), AC state bits and the
// environment byte (door 0x04).
Reading reading(double busVolts, double batteryAmps, uint8_t acBits = 0, uint8_t env = 0) {
  Reading r = firstReading();
  const int bus = int(busVolts * 100 + 0.5), batt = int(std::abs(batteryAmps) * 10 + 0.5) | (batteryAmps < 0 ? 0x8000 : 0);
  r.system[0] = uint8_t(bus >> 8), r.system[1] = uint8_t(bus);
  r.system[2] = uint8_t(batt >> 8), r.system[3] = uint8_t(batt);
  r.system[4] = 0, r.system[5] = 245;   // 24.5 A load
  r.system[6] = 0, r.system[7] = 250;   // 25 C battery
  r.system[8] = 1, r.system[9] = 4;     // 26 C ambient (260)
  r.system[11] = 1, r.system[12] = 0xC3;  // 45.1 % (451)
  r.system[17] = env;
  r.ac[0] = 0x08, r.ac[1] = 0x98;  // 220 V
  r.ac[4] = acBits;
  return r;
}

ControllerEntry entry(const std::string &name) {
  ControllerEntry e;
  e.name = name;
  e.target.host = "10.0.0.5";
  e.target.port = 5001;
  e.target.address = 7;
  return e;
}

// Devices "a" (fresh, OL CHRG) and "s" (stale), users monuser/pass1.
NutDevices devices(std::map<std::string, int> *logins = nullptr) {
  NutDevices d;
  d.controllers = {entry("a"), entry("s")};
  d.options.users = {{"monuser", "pass1"}};
  d.version = "9.9.9";
  d.snapshot = [](const std::string &name) -> std::optional<Snapshot> {
    Snapshot s;
    s.name = name;
    s.up = true;
    s.stale = name != "a";
    s.reading = reading(53.5, 1.2);
    return s;
  };
  d.logins = [logins](const std::string &name) { return logins ? (*logins)[name] : 0; };
  return d;
}

// The lines a session answers to the commands, one after the other.
QStringList talk(NutSession &s, const NutDevices &d, const QStringList &commands) {
  QStringList out;
  for (const QString &c : commands)
    out << QString::fromStdString(s.handle(c.toStdString(), d).text).trimmed();
  return out;
}

// Runs a program to its end; its exit code and what it printed to stdout, then to stderr.
std::pair<int, QString> run(const QString &program, const QStringList &args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(20000)) return {-1, QStringLiteral("did not finish")};
  return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

// upsmon itself, not the wrapper that asks /etc/nut/nut.conf whether it may start.
QString upsmonPath() {
  if (QFileInfo(QStringLiteral("/lib/nut/upsmon")).isExecutable()) return QStringLiteral("/lib/nut/upsmon");
  return QStandardPaths::findExecutable(QStringLiteral("upsmon"));
}

bool waitUntil(const std::function<bool()> &ok, int timeoutMs = 20000) {
  QElapsedTimer t;
  t.start();
  while (!ok() && t.elapsed() < timeoutMs) QTest::qWait(50);
  return ok();
}

// A raw client of the endpoint.
struct Client {
  QTcpSocket socket;
  explicit Client(quint16 port) {
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    socket.waitForConnected(3000);
  }
  // Sends the bytes and waits for `lines` answer lines (or the connection's end).
  QByteArray ask(const QByteArray &bytes, int lines = 1) {
    socket.write(bytes);
    QByteArray got;
    waitUntil([&] {
      got += socket.readAll();
      return got.count('\n') >= lines || socket.state() == QAbstractSocket::UnconnectedState;
    }, 5000);
    return got;
  }
  bool closedByPeer(int timeoutMs) {
    return waitUntil([&] {
      socket.readAll();
      return socket.state() == QAbstractSocket::UnconnectedState;
    }, timeoutMs);
  }
};

}  // namespace

class TestExporterNut : public QObject {
  Q_OBJECT
 private slots:
  void words() {
    QCOMPARE(*nutWords("GET VAR a ups.status"), (std::vector<std::string>{"GET", "VAR", "a", "ups.status"}));
    QCOMPARE(*nutWords("PASSWORD \"two words \\\"q\\\" \\\\\""), (std::vector<std::string>{"PASSWORD", "two words \"q\" \\"}));
    QCOMPARE(*nutWords("  LIST\tUPS  "), (std::vector<std::string>{"LIST", "UPS"}));
    QVERIFY(!nutWords("PASSWORD \"open"));
    QCOMPARE(nutQuote("say \"hi\" \\o/"), std::string("\"say \\\"hi\\\" \\\\o/\""));
  }

  // ups.status and the variables from literal readings.
  void status_data() {
    QTest::addColumn<double>("bus");
    QTest::addColumn<double>("battery");
    QTest::addColumn<int>("ac");
    QTest::addColumn<int>("env");
    QTest::addColumn<QString>("status");
    QTest::newRow("floating, charging") << 53.5 << 1.2 << 0 << 0 << "OL CHRG";
    QTest::newRow("no battery current") << 53.5 << 0.0 << 0 << 0 << "OL";
    QTest::newRow("AC failed, discharging") << 50.5 << -24.0 << 0x01 << 0 << "ALARM OB DISCHRG";
    QTest::newRow("AC failed, low battery") << 46.9 << -24.0 << 0x01 << 0 << "ALARM OB DISCHRG LB";
    QTest::newRow("at the low-battery voltage") << 47.0 << -24.0 << 0x01 << 0 << "ALARM OB DISCHRG";
    QTest::newRow("AC under-voltage is no failure") << 53.5 << 1.0 << 0x02 << 0 << "ALARM OL CHRG";
    QTest::newRow("door open") << 53.5 << 1.0 << 0 << 0x04 << "ALARM OL CHRG";
  }
  void status() {
    QFETCH(double, bus);
    QFETCH(double, battery);
    QFETCH(int, ac);
    QFETCH(int, env);
    QFETCH(QString, status);
    const Reading r = reading(bus, battery, uint8_t(ac), uint8_t(env));
    QCOMPARE(QString::fromStdString(nutStatus(r, 47)), status);
    NutOptions o;
    o.lowBatteryVolts = 47;
    std::map<std::string, std::string> vars;
    for (const auto &[k, v] : nutVariables(entry("a"), r, o, "1.0")) vars[k] = v;
    QCOMPARE(QString::fromStdString(vars["ups.status"]), status);
    QCOMPARE(vars["output.voltage"], valueText(bus));
    QCOMPARE(vars["battery.voltage"], valueText(bus));
    QCOMPARE(vars["battery.current"], valueText(battery));
    QCOMPARE(vars["input.voltage"], std::string("220"));
    QCOMPARE(vars["output.current"], std::string("24.5"));
    QCOMPARE(vars["ambient.temperature"], std::string("26"));
    QCOMPARE(vars["ambient.humidity"], std::string("45.1"));
    QCOMPARE(vars["battery.temperature"], std::string("25"));
    QCOMPARE(vars["device.type"], std::string("ups"));
    const bool alarm = status.startsWith(QStringLiteral("ALARM"));
    QCOMPARE(vars.count("ups.alarm") == 1, alarm);
    if (ac == 1) QCOMPARE(vars["ups.alarm"], std::string("ac_failure"));
    if (env == 4) QCOMPARE(vars["ups.alarm"], std::string("door"));
  }

  // Each command and what the endpoint answers, as a data server sends it.
  void protocol_data() {
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("answers");
    QTest::newRow("versions") << QStringList{"NETVER", "VER"}
                              << QStringList{"1.2", "powerhost-exporter 9.9.9 - read-only Network UPS Tools endpoint"};
    QTest::newRow("list ups") << QStringList{"LIST UPS"}
                              << QStringList{"BEGIN LIST UPS\nUPS a \"-48 V DC power system at tcp://10.0.0.5:5001 address 7\"\n"
                                             "UPS s \"-48 V DC power system at tcp://10.0.0.5:5001 address 7\"\nEND LIST UPS"};
    QTest::newRow("get var") << QStringList{"GET VAR a ups.status", "GET VAR a output.voltage", "get var a battery.current"}
                             << QStringList{"VAR a ups.status \"OL CHRG\"", "VAR a output.voltage \"53.5\"",
                                            "VAR a battery.current \"1.2\""};
    QTest::newRow("unknowns") << QStringList{"GET VAR x ups.status", "GET VAR a ups.load", "GET VAR a ups.alarm",
                                             "LIST VAR x", "FROB", "GET", "GET VAR a"}
                              << QStringList{"ERR UNKNOWN-UPS", "ERR VAR-NOT-SUPPORTED", "ERR VAR-NOT-SUPPORTED",
                                             "ERR UNKNOWN-UPS", "ERR UNKNOWN-COMMAND", "ERR INVALID-ARGUMENT",
                                             "ERR INVALID-ARGUMENT"};
    QTest::newRow("stale") << QStringList{"GET VAR s ups.status", "GET VAR s ups.load", "LIST VAR s", "GET UPSDESC s",
                                          "GET TYPE s ups.status"}
                           << QStringList{"ERR DATA-STALE", "ERR DATA-STALE", "ERR DATA-STALE",
                                          "UPSDESC s \"-48 V DC power system at tcp://10.0.0.5:5001 address 7\"",
                                          "TYPE s ups.status STRING:64"};
    QTest::newRow("descriptions") << QStringList{"GET DESC a ups.status", "GET DESC a bogus", "GET TYPE a output.voltage"}
                                  << QStringList{"DESC a ups.status \"Status\"", "DESC a bogus \"Unavailable\"",
                                                 "TYPE a output.voltage NUMBER"};
    QTest::newRow("read-only") << QStringList{"INSTCMD a load.off", "SET VAR a ups.delay.shutdown 1", "FSD a",
                                              "PRIMARY a", "MASTER a", "LIST RW a", "LIST CMD a", "STARTTLS"}
                               << QStringList{"ERR CMD-NOT-SUPPORTED", "ERR READONLY", "ERR ACCESS-DENIED",
                                              "ERR ACCESS-DENIED", "ERR ACCESS-DENIED", "BEGIN LIST RW a\nEND LIST RW a",
                                              "BEGIN LIST CMD a\nEND LIST CMD a", "ERR FEATURE-NOT-CONFIGURED"};
    QTest::newRow("login") << QStringList{"LOGIN a", "USERNAME monuser", "LOGIN a", "PASSWORD pass1", "LOGIN x",
                                          "LOGIN a", "LOGIN a", "USERNAME other", "LOGOUT"}
                           << QStringList{"ERR USERNAME-REQUIRED", "OK", "ERR PASSWORD-REQUIRED", "OK", "ERR UNKNOWN-UPS",
                                          "OK", "ERR ALREADY-LOGGED-IN", "ERR ALREADY-SET-USERNAME", "OK Goodbye"};
    QTest::newRow("wrong password") << QStringList{"USERNAME monuser", "PASSWORD pass2", "LOGIN a"}
                                    << QStringList{"OK", "OK", "ERR ACCESS-DENIED"};
    QTest::newRow("unknown user") << QStringList{"USERNAME nobody", "PASSWORD pass1", "LOGIN a"}
                                  << QStringList{"OK", "OK", "ERR ACCESS-DENIED"};
    QTest::newRow("open quote") << QStringList{"PASSWORD \"pass1"} << QStringList{"ERR INVALID-ARGUMENT"};
  }
  void protocol() {
    QFETCH(QStringList, commands);
    QFETCH(QStringList, answers);
    NutSession s;
    QCOMPARE(talk(s, devices(), commands), answers);
  }

  void listVarAndLogins() {
    std::map<std::string, int> logins{{"a", 2}};
    const NutDevices d = devices(&logins);
    NutSession s;
    const QString list = QString::fromStdString(s.handle("LIST VAR a", d).text);
    QVERIFY(list.startsWith(QStringLiteral("BEGIN LIST VAR a\n")));
    QVERIFY(list.endsWith(QStringLiteral("END LIST VAR a\n")));
    QVERIFY(list.contains(QStringLiteral("VAR a ups.status \"OL CHRG\"\n")));
    QVERIFY(list.contains(QStringLiteral("VAR a driver.version \"9.9.9\"\n")));
    QCOMPARE(talk(s, d, {"GET NUMLOGINS a"}), QStringList{"NUMLOGINS a 2"});
    QVERIFY(!s.handle("LOGOUT", d).text.empty());
    QVERIFY(s.handle("LOGOUT", d).close);
    // a refused LOGIN is noted for the log, without the password
    NutSession t;
    t.handle("USERNAME monuser", d);
    t.handle("PASSWORD hunter2", d);
    const auto refused = t.handle("LOGIN a", d);
    QVERIFY(!refused.note.empty());
    QVERIFY(refused.note.find("hunter2") == std::string::npos);
  }

  // The endpoint against clients that misbehave: an overlong line, silence, more clients
  // than slots, one that never reads; and a reload that changes the users.
  void hostileClients() {
    QTemporaryDir dir;
    Powersim sim;
    QVERIFY(sim.ok());
    const QString path = dir.filePath(QStringLiteral("ex.yml"));
    const auto writeConfig = [&](const char *users) {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(QStringLiteral("interval: 0.5\nnut:\n  listen: \"127.0.0.1:0\"\n  idle_timeout: 2\n  users: %1\n"
                             "controllers:\n  - name: a\n    url: \"tcp://127.0.0.1:%2\"\n")
                  .arg(QLatin1String(users))
                  .arg(sim.port())
                  .toUtf8());
    };
    writeConfig("{monuser: pass1}");
    exportertest::Exporter ex({"--config", path});
    QVERIFY(ex.nutPort());

    {  // an overlong line: refused, and the connection ends
      Client c(ex.nutPort());
      const QByteArray answer = c.ask(QByteArray(NutServer::kMaxLine + 10, 'A'));
      QCOMPARE(answer, QByteArray("ERR INVALID-ARGUMENT\n"));
      QVERIFY(c.closedByPeer(3000));
    }
    {  // silence: closed after the idle time-out, not before
      Client c(ex.nutPort());
      QCOMPARE(c.ask("NETVER\n"), QByteArray("1.2\n"));
      QVERIFY(!c.closedByPeer(1000));
      QVERIFY(c.closedByPeer(5000));
    }
    {  // every slot taken by silent clients: a new one still gets in, the oldest makes room
      std::vector<std::unique_ptr<Client>> silent;
      for (int i = 0; i < NutServer::kMaxConnections; ++i) silent.push_back(std::make_unique<Client>(ex.nutPort()));
      QTest::qWait(200);
      Client late(ex.nutPort());
      QCOMPARE(late.ask("NETVER\n"), QByteArray("1.2\n"));
      QVERIFY(silent.front()->closedByPeer(3000));
    }
    {  // a client that sends commands and never reads: disconnected, the endpoint answers on
      Client greedy(ex.nutPort());
      greedy.socket.setReadBufferSize(1);
      QByteArray burst;
      for (int i = 0; i < 40000; ++i) burst += "LIST UPS\n";
      greedy.socket.write(burst);
      Client other(ex.nutPort());
      QCOMPARE(other.ask("NETVER\n"), QByteArray("1.2\n"));
      QVERIFY(ex.waitForError("does not read its answers"));
    }
    // LOGIN with the user of the file; after a reload that replaces it, only the new one
    Client before(ex.nutPort());
    QCOMPARE(before.ask("USERNAME monuser\nPASSWORD pass1\nLOGIN a\n", 3), QByteArray("OK\nOK\nOK\n"));
    QVERIFY(ex.waitForError("LOGIN a by user \"monuser\""));
    writeConfig("{other: pass2}");
    ::kill(pid_t(ex.pid()), SIGHUP);
    QVERIFY(ex.waitForError("reload: 1 controllers"));
    Client after(ex.nutPort());
    QCOMPARE(after.ask("USERNAME monuser\nPASSWORD pass1\nLOGIN a\n", 3), QByteArray("OK\nOK\nERR ACCESS-DENIED\n"));
    Client other(ex.nutPort());
    QCOMPARE(other.ask("USERNAME other\nPASSWORD pass2\nLOGIN a\n", 3), QByteArray("OK\nOK\nOK\n"));
    QVERIFY(!ex.errors().contains("pass1"));
    QCOMPARE(ex.terminate(), 0);
  }

  // upsc lists a controller's variables as the metrics give them, and says "Data stale"
  // once the simulator is gone; upsmon, a secondary logged in with a user of the file,
  // notifies ONBATT when the simulator's AC fails and ONLINE when it comes back.
  void realClients() {
    const QString upsc = QStandardPaths::findExecutable(QStringLiteral("upsc"));
    if (upsc.isEmpty() || upsmonPath().isEmpty())
      QSKIP("upsc or upsmon is missing: install the Debian package nut-client (scripts/common.sh does)");
    QTemporaryDir dir;
    auto sim = std::make_unique<Powersim>(QStringList{"--control", "--seed", "5"});
    QVERIFY(sim->ok());
    const QString config = dir.filePath(QStringLiteral("ex.yml"));
    {
      QFile f(config);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QStringLiteral("interval: 0.5\nmax_age: 2\nnut:\n  listen: \"127.0.0.1:0\"\n  users: {monuser: \"pass-1\"}\n"
                             "controllers:\n  - name: site1\n    url: \"tcp://127.0.0.1:%1\"\n")
                  .arg(sim->port())
                  .toUtf8());
    }
    exportertest::Exporter ex({"--config", config});
    QVERIFY(ex.nutPort());
    const QString device = QStringLiteral("site1@127.0.0.1:%1").arg(ex.nutPort());
    QByteArray page = ex.waitFor([](const QByteArray &p) {
      return !seriesValue(p, "powerhost_dc_output_voltage_volts{controller=\"site1\"}").isNull();
    });

    int code = 0;
    QString out;  // not a structured binding: a lambda below captures them
    std::tie(code, out) = run(upsc, {QStringLiteral("-l"), QStringLiteral("127.0.0.1:%1").arg(ex.nutPort())});
    QCOMPARE(code, 0);
    QCOMPARE(out.section(QLatin1Char('\n'), 0, 0), QStringLiteral("site1"));
    std::tie(code, out) = run(upsc, {device});
    QCOMPARE(code, 0);
    qInfo("upsc %s:\n%s", qPrintable(device), qPrintable(out));
    std::map<QString, QString> vars;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
      if (line.contains(QStringLiteral(": "))) vars[line.section(QStringLiteral(": "), 0, 0)] = line.section(QStringLiteral(": "), 1);
    for (const char *v : {"device.type", "device.mfr", "device.model", "input.voltage", "output.voltage", "output.current",
                          "battery.current", "battery.temperature", "ambient.temperature", "ambient.humidity", "ups.status"})
      QVERIFY2(vars.count(QString::fromLatin1(v)), v);
    QCOMPARE(vars[QStringLiteral("ups.status")], QStringLiteral("OL CHRG"));
    // the values are the page's (the simulator walks: compare with a page of the same poll)
    page = ex.metrics();
    std::tie(code, out) = run(upsc, {device, QStringLiteral("output.voltage")});
    out = out.section(QLatin1Char('\n'), 0, 0);
    const QString volts = seriesValue(ex.metrics(), "powerhost_dc_output_voltage_volts{controller=\"site1\"}");
    QVERIFY2(out.trimmed() == volts || out.trimmed() == seriesValue(page, "powerhost_dc_output_voltage_volts{controller=\"site1\"}"),
             qPrintable(out + " " + volts));

    // upsmon as a secondary, its notifications written by a NOTIFYCMD script
    const QString notes = dir.filePath(QStringLiteral("notes"));
    QFile script(dir.filePath(QStringLiteral("notify.sh")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho \"$NOTIFYTYPE $*\" >> '%1'\n").arg(notes).toUtf8());
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile conf(dir.filePath(QStringLiteral("upsmon.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("MONITOR %1 1 monuser pass-1 secondary\nMINSUPPLIES 1\nSHUTDOWNCMD \"/bin/true\"\n"
                              "NOTIFYCMD %2\nNOTIFYFLAG ONBATT EXEC\nNOTIFYFLAG ONLINE EXEC\nNOTIFYFLAG LOWBATT EXEC\n"
                              "POLLFREQ 1\nPOLLFREQALERT 1\nPOWERDOWNFLAG %3\nRUN_AS_USER root\n")
                   .arg(device, script.fileName(), dir.filePath(QStringLiteral("killpower")))
                   .toUtf8());
    conf.close();
    conf.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QProcess upsmon;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NUT_CONFPATH"), dir.path());
    env.insert(QStringLiteral("NUT_STATEPATH"), dir.path());
    env.insert(QStringLiteral("NUT_ALTPIDPATH"), dir.path());
    upsmon.setProcessEnvironment(env);
    upsmon.setProcessChannelMode(QProcess::MergedChannels);
    // -p: one process (no privileged parent), -F: in the foreground, ended by the test
    upsmon.start(upsmonPath(), {QStringLiteral("-F"), QStringLiteral("-p")});
    QVERIFY(upsmon.waitForStarted(5000));
    auto stop = qScopeGuard([&] {
      upsmon.terminate();
      if (!upsmon.waitForFinished(5000)) upsmon.kill();
      upsmon.waitForFinished(2000);
    });
    QVERIFY2(ex.waitForError("LOGIN site1 by user \"monuser\""), upsmon.readAll().constData());
    const auto noted = [&](const char *what) {
      return waitUntil([&] {
        QFile f(notes);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains(what);
      });
    };
    QVERIFY(sim->command("raise ac-power-fail"));
    QVERIFY2(noted("ONBATT"), upsmon.readAll().constData());
    std::tie(code, out) = run(upsc, {device, QStringLiteral("ups.status")});
    QVERIFY2(out.startsWith(QStringLiteral("ALARM OB")), qPrintable(out));
    QVERIFY(sim->command("clear ac-power-fail"));
    QVERIFY2(noted("ONLINE"), upsmon.readAll().constData());
    {
      QFile f(notes);
      QVERIFY(f.open(QIODevice::ReadOnly));
      qInfo("upsmon notifications:\n%s", f.readAll().constData());
    }
    stop.dismiss();
    upsmon.terminate();
    if (!upsmon.waitForFinished(5000)) upsmon.kill();

    // the simulator stops: after the max-age, the data is stale
    sim.reset();
    QVERIFY(waitUntil([&] {
      std::tie(code, out) = run(upsc, {device});
      return out.contains(QStringLiteral("Error: Data stale"));
    }));
    QVERIFY(code != 0);
    QCOMPARE(ex.terminate(), 0);
  }
};

QTEST_GUILESS_MAIN(TestExporterNut)
#include "test_exporter_nut.moc"
