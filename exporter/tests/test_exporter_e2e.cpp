// powerhost-exporter as a program: its arguments, its metrics against the simulator over TCP
// and a pseudo-terminal, controllers coming and going, two addresses on one serial bus, what
// it sends, and its HTTP endpoint.
#include <QtTest>

#include <QSocketNotifier>
#include <QTemporaryDir>

#include <fcntl.h>
#include <set>
#include <unistd.h>

#include "ExporterProcess.h"
#include "protocol/Frame.h"
#include "sim/Controller.h"
#include "support/Powersim.h"
#include "support/Pty.h"
#include "support/ScriptedPeer.h"
#include "support/TestSupport.h"

using namespace exportertest;
using testsupport::frameBytes;
using testsupport::Powersim;

namespace {

QString up(const QByteArray &page, const char *name) {
  return seriesValue(page, QStringLiteral("powerhost_up{controller=\"%1\"}").arg(QLatin1String(name)));
}

// The CID1/CID2 pairs of every request frame in bytes, with their addresses.
std::set<QString> requestsIn(const QByteArray &bytes) {
  std::set<QString> seen;
  std::string_view rest(bytes.constData(), size_t(bytes.size()));
  for (;;) {
    const proto::FrameParse p = proto::parseFrame(rest);
    if (p.error == proto::FrameError::Incomplete || p.error == proto::FrameError::NoStartMark || p.consumed == 0) break;
    if (p.error == proto::FrameError::None)
      seen.insert(QStringLiteral("%1/%2").arg(p.frame.cid1, 2, 16, QLatin1Char('0')).arg(p.frame.cid2OrRtn, 2, 16, QLatin1Char('0')));
    rest.remove_prefix(p.consumed);
  }
  return seen;
}

const std::set<QString> kReads = {"42/16", "40/01", "42/17", "41/0e"};

// An RS-485 bus on a pseudo-terminal: the test keeps the line's far end and answers for every
// simulated controller on it; a frame for an address nobody has gets no answer.
class PtyBus : public QObject {
 public:
  explicit PtyBus(std::vector<sim::ControllerConfig> configs) {
    if (!pty.open()) return;
    // the line stays up while the exporter opens and closes it
    slave_ = ::open(pty.slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    for (auto &c : configs) controllers_.push_back(std::make_unique<sim::Controller>(c));
    notifier_ = new QSocketNotifier(pty.master, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readable(); });
  }
  ~PtyBus() override {
    if (slave_ >= 0) ::close(slave_);
  }
  testsupport::PtyPair pty;
  QByteArray received;

 private:
  void readable() {
    char buf[4096];
    const ssize_t n = ::read(pty.master, buf, sizeof buf);
    if (n <= 0) return;
    received.append(buf, n);
    pending_.append(buf, n);
    int end;
    while ((end = pending_.indexOf('\r')) >= 0) {
      const std::string frame = pending_.left(end + 1).toStdString();
      pending_.remove(0, end + 1);
      for (auto &c : controllers_)
        if (auto a = c->answer(frame)) pty.write(QByteArray::fromStdString(*a));
    }
  }
  int slave_ = -1;
  std::vector<std::unique_ptr<sim::Controller>> controllers_;
  QSocketNotifier *notifier_ = nullptr;
  QByteArray pending_;
};

}  // namespace

class TestExporterE2e : public QObject {
  Q_OBJECT
 private slots:
  void argumentErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::newRow("nothing") << QStringList{} << "no controller";
    QTest::newRow("unknown") << QStringList{"--controller", "a=tcp://127.0.0.1:1", "--frobnicate"} << "--frobnicate";
    QTest::newRow("bad url") << QStringList{"--controller", "a=ftp://x"} << "ftp://x";
    QTest::newRow("bad interval") << QStringList{"--interval", "-1", "--controller", "a=tcp://127.0.0.1:1"} << "--interval";
    QTest::newRow("bad listen") << QStringList{"--listen", "nowhere", "--controller", "a=tcp://127.0.0.1:1"} << "--listen";
    QTest::newRow("no config file") << QStringList{"--config", "/nonexistent/exporter.yml"} << "/nonexistent/exporter.yml: ";
  }
  void argumentErrors() {
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QProcess p;
    p.start(QStringLiteral(EXPORTER_PATH), args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 2);
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.contains(error.toUtf8()), err.constData());
    QVERIFY(p.readAllStandardOutput().isEmpty());
  }

  void helpAndNoWidgets() {
    QProcess p;
    p.start(QStringLiteral(EXPORTER_PATH), {"--help"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    const QByteArray out = p.readAllStandardOutput();
    for (const char *w : {"--listen", "--interval", "--max-age", "--config", "--controller", "tcp://HOST:PORT", "serial:DEVICE", "address"})
      QVERIFY2(out.contains(w), w);
    // the exporter runs where no window can: it does not even load the widget library
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QStringLiteral(EXPORTER_PATH)});
    if (!ldd.waitForFinished(10000)) QSKIP("ldd is not available");
    const QByteArray libs = ldd.readAllStandardOutput();
    QVERIFY(libs.contains("libQt6Core"));
    QVERIFY(!libs.contains("Widgets"));
    QVERIFY(!libs.contains("Gui"));
  }

  // Exact values from scripted answers over TCP, alarms and modules from the simulator on a
  // pseudo-terminal; the scrape passes promtool; SIGTERM ends the program with status 0.
  void metricsOverTcpAndPty() {
    testsupport::ScriptedPeer peer;
    peer.respond = [](const QByteArray &req) -> QByteArray {
      const auto f = proto::parseFrame(req.toStdString());
      if (f.error != proto::FrameError::None || f.frame.adr != 7) return {};
      const int cmd = f.frame.cid1 << 8 | f.frame.cid2OrRtn;
      std::vector<uint8_t> sys(18, 0);
      sys[0] = 0x14, sys[1] = 0xE6;  // 53.5 V
      sys[2] = 0x80, sys[3] = 0x0A;  // -1 A
      sys[10] = 1;
      sys[14] = 0x04;                // load fuse
      sys[16] = 0x10;                // equalize
      switch (cmd) {
        case 0x4216: return frameBytes(7, 0x42, 0, sys);
        case 0x4001: return frameBytes(7, 0x40, 0, {0x08, 0x9D, 0, 0, 0x02});  // 220.5 V, under-voltage
        case 0x4217: return frameBytes(7, 0x42, 0, {11});
        case 0x410E: return frameBytes(7, 0x41, 0, {11, 0x14, 0xE7, 0x03, 0x2A, 1, 30, 0, 0, 0x10, 0});
        default: return frameBytes(7, f.frame.cid1, 4, {});
      }
    };
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ctrl"));
    Powersim sim({"--pty", "--link", link, "--alarms", "smoke,ac-breaker", "--modules", "2,5", "--module-fault", "5:3:0x20"});
    QVERIFY(sim.ok());
    Exporter ex({"--interval", "0.5", "--controller", QStringLiteral("lan=tcp://127.0.0.1:%1?address=7").arg(peer.port()),
                 "--controller", QStringLiteral("tty=serial:%1?baud=9600").arg(link)});
    QVERIFY(ex.port());
    const QByteArray page = ex.waitFor([](const QByteArray &p) { return up(p, "lan") == "1" && up(p, "tty") == "1"; });
    QCOMPARE(up(page, "lan"), QStringLiteral("1"));
    QCOMPARE(up(page, "tty"), QStringLiteral("1"));
    const auto v = [&](const char *series) { return seriesValue(page, QString::fromLatin1(series)); };
    QCOMPARE(v("powerhost_dc_output_voltage_volts{controller=\"lan\"}"), QStringLiteral("53.5"));
    QCOMPARE(v("powerhost_battery_current_amperes{controller=\"lan\"}"), QStringLiteral("-1"));
    QCOMPARE(v("powerhost_ac_input_voltage_volts{controller=\"lan\"}"), QStringLiteral("220.5"));
    QCOMPARE(v("powerhost_alarm{controller=\"lan\",alarm=\"load_fuse\"}"), QStringLiteral("1"));
    QCOMPARE(v("powerhost_alarm{controller=\"lan\",alarm=\"ac_failure\"}"), QStringLiteral("1"));
    QCOMPARE(v("powerhost_ac_state{controller=\"lan\",state=\"undervoltage\"}"), QStringLiteral("1"));
    QCOMPARE(v("powerhost_battery_state{controller=\"lan\",state=\"equalize\"}"), QStringLiteral("1"));
    QCOMPARE(v("powerhost_rectifier_output_voltage_volts{controller=\"lan\",module=\"11\"}"), QStringLiteral("53.51"));
    QCOMPARE(v("powerhost_rectifier_output_current_amperes{controller=\"lan\",module=\"11\"}"), QStringLiteral("8.1"));
    QCOMPARE(v("powerhost_rectifier_fan_fault{controller=\"lan\",module=\"11\"}"), QStringLiteral("1"));
    // the simulator on the pseudo-terminal
    QCOMPARE(v("powerhost_alarm{controller=\"tty\",alarm=\"smoke\"}"), QStringLiteral("1"));
    QCOMPARE(v("powerhost_alarm{controller=\"tty\",alarm=\"ac_breaker\"}"), QStringLiteral("1"));
    QCOMPARE(v("powerhost_alarm{controller=\"tty\",alarm=\"door\"}"), QStringLiteral("0"));
    QCOMPARE(v("powerhost_rectifier_modules{controller=\"tty\"}"), QStringLiteral("2"));
    QCOMPARE(v("powerhost_rectifier_present{controller=\"tty\",module=\"2\"}"), QStringLiteral("1"));
    QCOMPARE(v("powerhost_rectifier_present{controller=\"tty\",module=\"1\"}"), QStringLiteral("0"));
    QVERIFY(v("powerhost_rectifier_output_voltage_volts{controller=\"tty\",module=\"1\"}").isNull());  // absent: present only
    QVERIFY(v("powerhost_rectifier_on{controller=\"tty\",module=\"1\"}").isNull());
    QCOMPARE(v("powerhost_rectifier_on{controller=\"tty\",module=\"2\"}"), QStringLiteral("1"));
    // what each controller is, and the exporter's build
    QVERIFY(page.contains(QStringLiteral("powerhost_controller_info{controller=\"lan\",transport=\"tcp\",endpoint=\"127.0.0.1:%1\",address=\"7\"} 1\n")
                              .arg(peer.port()).toUtf8()));
    QVERIFY(page.contains(QStringLiteral("powerhost_controller_info{controller=\"tty\",transport=\"serial\",endpoint=\"%1\",address=\"1\"} 1\n")
                              .arg(link).toUtf8()));
    QVERIFY(page.contains("powerhost_exporter_build_info{version=\""));
    QCOMPARE(v("powerhost_rectifier_protection{controller=\"tty\",module=\"5\"}"), QStringLiteral("1"));
    QCOMPARE(v("powerhost_rectifier_protection{controller=\"tty\",module=\"2\"}"), QStringLiteral("0"));
    const double bus = v("powerhost_dc_output_voltage_volts{controller=\"tty\"}").toDouble();
    QVERIFY2(bus > 45 && bus < 58, qPrintable(QString::number(bus)));
    QCOMPARE(v("powerhost_poll_errors_total{controller=\"lan\",reason=\"timeout\"}"), QStringLiteral("0"));

    // Prometheus's own check of the format
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (!promtool.isEmpty()) {
      QProcess check;
      check.start(promtool, {"check", "metrics"});
      check.write(page);
      check.closeWriteChannel();
      QVERIFY(check.waitForFinished(20000));
      QVERIFY2(check.exitCode() == 0, check.readAllStandardOutput() + check.readAllStandardError());
    } else {
      qWarning("promtool is missing (Debian package prometheus): the format check is skipped");
    }
    // nothing but the four reads reached the scripted controller
    QVERIFY(peer.requests > 0);
    QCOMPARE(requestsIn(peer.received), kReads);
    QCOMPARE(ex.terminate(), 0);
  }

  // A controller that answers with garbage, answers too late or not at all is down, its errors
  // counted by reason, and no value is ever shown for it: nothing it sent is taken for an
  // answer, a late answer not for the next read's. (Garbage is no answer to anything, so after
  // the first poll that meets it the line waits for a resync read's answer: later polls time
  // out.)
  void aHostileControllerShowsNoValue_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("reason");
    QTest::newRow("garbage") << "garbage" << "damaged";
    QTest::newRow("late") << "late" << "timeout";
    QTest::newRow("silent") << "silent" << "timeout";
  }
  void aHostileControllerShowsNoValue() {
    QFETCH(QString, mode);
    QFETCH(QString, reason);
    testsupport::ScriptedPeer peer;
    peer.respond = [&](const QByteArray &req) -> QByteArray {
      const auto f = proto::parseFrame(req.toStdString());
      if (f.error != proto::FrameError::None) return {};
      if (mode == QLatin1String("garbage")) return QByteArray("~zz\x01\xff") + QByteArray(40, 'G') + "\r";
      if (mode == QLatin1String("late")) {
        // Every status read is answered soundly 0.8 s after its time-out, every other read at
        // once, in order. Taken for the next status read's answer, a late one would complete
        // a poll.
        if (f.frame.cid1 != 0x42 || f.frame.cid2OrRtn != 0x16)
          return frameBytes(1, f.frame.cid1, 0, f.frame.cid2OrRtn == 0x17 ? std::vector<uint8_t>{} : std::vector<uint8_t>(5, 0));
        return frameBytes(1, 0x42, 0, std::vector<uint8_t>(18, 0x14));
      }
      return {};
    };
    if (mode == QLatin1String("late"))
      peer.delayMs = [](const QByteArray &req) { return req.startsWith("~014216") ? 1800 : 0; };
    Exporter ex({"--interval", "0.5", "--controller", QStringLiteral("h=tcp://127.0.0.1:%1").arg(peer.port())});
    QVERIFY(ex.port());
    const QString errors = QStringLiteral("powerhost_poll_errors_total{controller=\"h\",reason=\"%1\"}").arg(reason);
    const QString timeouts = QStringLiteral("powerhost_poll_errors_total{controller=\"h\",reason=\"timeout\"}");
    auto failed = [&](const QByteArray &p) {
      return seriesValue(p, errors).toInt() >= 1 && seriesValue(p, timeouts).toInt() + seriesValue(p, errors).toInt() >= 3;
    };
    const QByteArray page = ex.waitFor(failed);
    QVERIFY2(failed(page), page.constData());
    QCOMPARE(up(page, "h"), QStringLiteral("0"));
    for (const char *series : {"powerhost_last_poll_timestamp_seconds", "powerhost_dc_output_voltage_volts",
                               "powerhost_ac_input_voltage_volts"})
      QVERIFY2(seriesValue(page, QStringLiteral("%1{controller=\"h\"}").arg(QLatin1String(series))).isNull(), series);
    QCOMPARE(ex.terminate(), 0);
  }

  // A simulator that stops shows up 0 with its errors counted, and its readings disappear
  // once they are older than the max-age while up, the errors and the last poll's time stay;
  // once it is back, up 1 and its readings again.
  void staleReadingsVanish() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ctrl"));
    auto tcp = std::make_unique<Powersim>(QStringList{});
    auto pty = std::make_unique<Powersim>(QStringList{"--pty", "--link", link});
    QVERIFY(tcp->ok() && pty->ok());
    const quint16 port = tcp->port();
    Exporter ex({"--interval", "0.5", "--max-age", "1.5", "--controller", QStringLiteral("t=tcp://127.0.0.1:%1").arg(port),
                 "--controller", QStringLiteral("s=serial:%1").arg(link)});
    QByteArray page = ex.waitFor([](const QByteArray &p) { return up(p, "t") == "1" && up(p, "s") == "1"; });
    QCOMPARE(up(page, "t"), QStringLiteral("1"));
    QCOMPARE(up(page, "s"), QStringLiteral("1"));
    const auto volts = [](const QByteArray &p, const char *name) {
      return seriesValue(p, QStringLiteral("powerhost_dc_output_voltage_volts{controller=\"%1\"}").arg(QLatin1String(name)));
    };
    QVERIFY(!volts(page, "t").isNull());
    QElapsedTimer sinceStop;
    sinceStop.start();
    tcp.reset();
    pty.reset();
    page = ex.waitFor([&](const QByteArray &p) { return volts(p, "t").isNull() && volts(p, "s").isNull(); });
    qInfo("readings gone %lld ms after the simulators stopped (max-age 1.5 s, interval 0.5 s)", sinceStop.elapsed());
    QVERIFY(volts(page, "t").isNull() && volts(page, "s").isNull());
    for (const char *c : {"t", "s"}) {
      QCOMPARE(up(page, c), QStringLiteral("0"));
      QVERIFY(!seriesValue(page, QStringLiteral("powerhost_last_poll_timestamp_seconds{controller=\"%1\"}").arg(QLatin1String(c))).isNull());
      QVERIFY(seriesValue(page, QStringLiteral("powerhost_poll_errors_total{controller=\"%1\",reason=\"timeout\"}").arg(QLatin1String(c))).toInt() >= 1);
      QVERIFY(!page.contains(QStringLiteral("powerhost_alarm{controller=\"%1\"").arg(QLatin1String(c)).toUtf8()));
      QVERIFY(!page.contains(QStringLiteral("powerhost_rectifier_present{controller=\"%1\"").arg(QLatin1String(c)).toUtf8()));
    }
    tcp = std::make_unique<Powersim>(QStringList{"--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    pty = std::make_unique<Powersim>(QStringList{"--pty", "--link", link});
    QVERIFY(tcp->ok() && pty->ok());
    page = ex.waitFor([&](const QByteArray &p) { return !volts(p, "t").isNull() && !volts(p, "s").isNull(); });
    QCOMPARE(up(page, "t"), QStringLiteral("1"));
    QCOMPARE(up(page, "s"), QStringLiteral("1"));
    QCOMPARE(ex.terminate(), 0);
  }

  // SIGHUP and POST /-/reload apply the configuration file: a controller added is polled
  // within an interval, the others keep their counts, a changed URL starts a controller
  // afresh, a removed one goes; a file with a mistake changes nothing.
  void reloadAppliesTheFile() {
    Powersim a, b;
    QVERIFY(a.ok() && b.ok());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("exporter.yml"));
    const auto write = [&](const QString &controllers) {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(("interval: 0.5\ncontrollers:\n" + controllers).toUtf8());
    };
    const QString ctrlA = QStringLiteral("  - {name: a, url: \"tcp://127.0.0.1:%1\"}\n").arg(a.port());
    const QString ctrlX = QStringLiteral("  - {name: x, url: \"tcp://127.0.0.1:1\"}\n");
    const QString ctrlB = QStringLiteral("  - {name: b, url: \"tcp://127.0.0.1:%1\"}\n").arg(b.port());
    write(ctrlA + ctrlX);
    Exporter ex({"--config", path});
    QVERIFY(ex.port());
    const auto count = [](const QByteArray &p, const char *series) { return seriesValue(p, QString::fromLatin1(series)).toInt(); };
    const char *aPolls = "powerhost_poll_duration_seconds_count{controller=\"a\"}";
    const char *xErrors = "powerhost_poll_errors_total{controller=\"x\",reason=\"timeout\"}";
    QByteArray page = ex.waitFor([&](const QByteArray &p) { return count(p, aPolls) >= 2 && count(p, xErrors) >= 3; });
    const int polls = count(page, aPolls), errors = count(page, xErrors);
    QVERIFY(polls >= 2 && errors >= 3);

    write(QStringLiteral("  - {name: a, url: \"tcp://127.0.0.1:%1\", labels: {site: one}}\n").arg(a.port()) + ctrlX + ctrlB);
    QElapsedTimer sinceHup;
    sinceHup.start();
    ::kill(pid_t(ex.pid()), SIGHUP);
    page = ex.waitFor([](const QByteArray &p) { return up(p, "b") == "1"; });
    qInfo("added controller up %lld ms after SIGHUP (interval 0.5 s)", sinceHup.elapsed());
    QCOMPARE(up(page, "b"), QStringLiteral("1"));
    QVERIFY(count(page, aPolls) >= polls);
    QVERIFY(count(page, xErrors) >= errors);
    QVERIFY(page.contains(QStringLiteral("powerhost_controller_info{controller=\"a\",transport=\"tcp\",endpoint=\"127.0.0.1:%1\","
                                         "address=\"1\",site=\"one\"} 1\n").arg(a.port()).toUtf8()));
    QCOMPARE(seriesValue(page, "powerhost_config_last_reload_successful"), QStringLiteral("1"));

    write(QStringLiteral("  - {name: a, url: nowhere}\n"));
    ::kill(pid_t(ex.pid()), SIGHUP);
    page = ex.waitFor([](const QByteArray &p) { return seriesValue(p, "powerhost_config_last_reload_successful") == "0"; });
    QCOMPARE(seriesValue(page, "powerhost_config_last_reload_successful"), QStringLiteral("0"));
    QCOMPARE(up(page, "a"), QStringLiteral("1"));
    QCOMPARE(up(page, "b"), QStringLiteral("1"));
    QVERIFY(count(page, xErrors) >= errors);
    QVERIFY2(ex.waitForError("reload failed, the running configuration stays: "), ex.errors().constData());
    QVERIFY(ex.errors().contains("nowhere"));

    // x moves to another port: a new controller under the same name, its counts from 0
    const int xBefore = count(ex.metrics(), xErrors);
    write(ctrlA + QStringLiteral("  - {name: x, url: \"tcp://127.0.0.1:2\"}\n"));
    QVERIFY(httpRequest(ex.port(), "POST /-/reload HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").startsWith("HTTP/1.1 200"));
    page = ex.waitFor([&](const QByteArray &p) { return up(p, "b").isNull(); });
    QVERIFY(up(page, "b").isNull());
    QVERIFY(count(page, xErrors) < xBefore);
    QVERIFY(page.contains("powerhost_controller_info{controller=\"x\",transport=\"tcp\",endpoint=\"127.0.0.1:2\""));
    QCOMPARE(seriesValue(page, "powerhost_config_last_reload_successful"), QStringLiteral("1"));
    QCOMPARE(ex.terminate(), 0);
  }

  // Without a configuration file SIGHUP is said and ignored; the exporter names its build.
  void sighupWithoutConfigAndVersion() {
    Exporter ex({"--controller", "a=tcp://127.0.0.1:1"});
    QVERIFY(ex.port());
    ::kill(pid_t(ex.pid()), SIGHUP);
    QVERIFY2(ex.waitForError("reload: no configuration file"), ex.errors().constData());
    QCOMPARE(ex.process().state(), QProcess::Running);
    const QByteArray page = ex.metrics();
    QCOMPARE(up(page, "a"), QStringLiteral("0"));
    QProcess version;
    version.start(QStringLiteral(EXPORTER_PATH), {"--version"});
    QVERIFY(version.waitForFinished(10000));
    QCOMPARE(version.exitCode(), 0);
    // "powerhost-exporter 0.2.0 (revision abc, Qt 6.4.2)" says what build_info says
    const QList<QByteArray> words = version.readAllStandardOutput().trimmed().replace("(", "").replace(")", "").replace(",", "").split(' ');
    QCOMPARE(words.size(), 6);
    QVERIFY2(page.contains("powerhost_exporter_build_info{version=\"" + words[1] + "\",revision=\"" + words[3] +
                           "\",qt_version=\"" + words[5] + "\"} 1\n"),
             page.constData());
    QCOMPARE(ex.terminate(), 0);
  }

  // On a bus, a reload that removes one controller and adds another keeps the bus open for
  // the one that stays: its counts go on, the removed one's series go, the added one answers.
  void reloadOnABus() {
    sim::ControllerConfig a(3, {1}), b(7, {2}), c(9, {3});
    PtyBus bus({a, b, c});
    QVERIFY(!bus.pty.slavePath.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("exporter.yml"));
    const auto write = [&](const QList<int> &addresses) {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write("interval: 0.5\ncontrollers:\n");
      for (int n : addresses)
        f.write(QStringLiteral("  - {name: a%1, url: \"serial:%2?address=%1\"}\n").arg(n).arg(bus.pty.slavePath).toUtf8());
    };
    write({3, 7});
    Exporter ex({"--config", path});
    QVERIFY(ex.port());
    const char *polls = "powerhost_poll_duration_seconds_count{controller=\"a3\"}";
    QByteArray page = ex.waitFor([&](const QByteArray &p) { return up(p, "a7") == "1" && seriesValue(p, polls).toInt() >= 2; });
    const int before = seriesValue(page, polls).toInt();
    QVERIFY(before >= 2);
    write({3, 9});
    ::kill(pid_t(ex.pid()), SIGHUP);
    page = ex.waitFor([](const QByteArray &p) { return up(p, "a9") == "1" && up(p, "a7").isNull(); });
    QCOMPARE(up(page, "a9"), QStringLiteral("1"));
    QVERIFY(up(page, "a7").isNull());
    QVERIFY(seriesValue(page, polls).toInt() >= before);
    QCOMPARE(up(page, "a3"), QStringLiteral("1"));
    QCOMPARE(ex.terminate(), 0);
  }

  // Two controllers on one pseudo-terminal bus, polled in turn over one port; an address
  // nobody answers on the same bus is down and does not stop the other two.
  void twoAddressesOnOneBus() {
    sim::ControllerConfig a(3, {1, 2}), b(7, {4});
    a.alarms.status[17 - 13] = 0x04;  // door at 3 only
    PtyBus bus({a, b});
    QVERIFY(!bus.pty.slavePath.isEmpty());
    const QString dev = bus.pty.slavePath;
    Exporter ex({"--interval", "0.5", "--controller", QStringLiteral("a3=serial:%1?baud=9600&address=3").arg(dev),
                 "--controller", QStringLiteral("b7=serial:%1?address=7&baud=9600").arg(dev), "--controller",
                 QStringLiteral("n9=serial:%1?address=9").arg(dev)});
    QVERIFY(ex.port());
    const QByteArray page = ex.waitFor([](const QByteArray &p) {
      return up(p, "a3") == "1" && up(p, "b7") == "1" &&
             seriesValue(p, "powerhost_poll_errors_total{controller=\"n9\",reason=\"timeout\"}").toInt() >= 1;
    });
    QCOMPARE(up(page, "a3"), QStringLiteral("1"));
    QCOMPARE(up(page, "b7"), QStringLiteral("1"));
    QCOMPARE(up(page, "n9"), QStringLiteral("0"));
    QCOMPARE(seriesValue(page, "powerhost_rectifier_present{controller=\"a3\",module=\"2\"}"), QStringLiteral("1"));
    QCOMPARE(seriesValue(page, "powerhost_rectifier_present{controller=\"b7\",module=\"2\"}"), QStringLiteral("0"));
    QCOMPARE(seriesValue(page, "powerhost_rectifier_present{controller=\"b7\",module=\"4\"}"), QStringLiteral("1"));
    QCOMPARE(seriesValue(page, "powerhost_alarm{controller=\"a3\",alarm=\"door\"}"), QStringLiteral("1"));
    QCOMPARE(seriesValue(page, "powerhost_alarm{controller=\"b7\",alarm=\"door\"}"), QStringLiteral("0"));
    // nothing but reads went on the bus
    QCOMPARE(requestsIn(bus.received), kReads);
    QCOMPARE(ex.terminate(), 0);
  }

  void httpEndpoint() {
    Exporter ex({"--controller", "a=tcp://127.0.0.1:1"});
    QVERIFY(ex.port());
    QVERIFY(get(ex.port(), "/").startsWith("HTTP/1.1 200"));
    QVERIFY(get(ex.port(), "/").contains("href=\"/metrics\""));
    const QByteArray m = get(ex.port(), "/metrics");
    QVERIFY(m.startsWith("HTTP/1.1 200"));
    QVERIFY(m.contains("Content-Type: text/plain; version=0.0.4"));
    for (const char *path : {"/metrics/", "/index.html", "/metricsx", "/favicon.ico"})
      QVERIFY2(get(ex.port(), path).startsWith("HTTP/1.1 404"), path);
    QVERIFY(httpRequest(ex.port(), "GET /" + QByteArray(9000, 'a') + " HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 414"));
    QVERIFY(httpRequest(ex.port(), "GET / HTTP/1.1\r\nX-Big: " + QByteArray(9000, 'b') + "\r\n\r\n").startsWith("HTTP/1.1 431"));
    // still serving after them
    QVERIFY(get(ex.port(), "/metrics").startsWith("HTTP/1.1 200"));
    QCOMPARE(ex.terminate(), 0);
  }
};

QTEST_GUILESS_MAIN(TestExporterE2e)
#include "test_exporter_e2e.moc"
