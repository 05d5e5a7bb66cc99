// The exporter with the tools sites run: the example configuration and alert rules pass
// promtool (the rules with a unit test per alert), the Alertmanager example amtool, the
// Grafana dashboard's panels are complete, and a real Prometheus with a real Alertmanager
// on loopback scrape one exporter polling three simulators and deliver its alerts.
#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>

#include <yaml-cpp/yaml.h>

#include <crypt.h>

#include <map>
#include <set>

#include "ExporterProcess.h"
#include "support/Powersim.h"

using namespace exportertest;
using testsupport::Powersim;

namespace {

QString tool(const char *name) { return QStandardPaths::findExecutable(QString::fromLatin1(name)); }

// Runs promtool in the examples folder; its exit code and output.
std::pair<int, QByteArray> promtool(const QStringList &args) {
  QProcess p;
  p.setWorkingDirectory(QStringLiteral(EXAMPLES_DIR));
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(tool("promtool"), args);
  if (!p.waitForFinished(60000)) return {-1, "promtool did not finish"};
  return {p.exitCode(), p.readAll()};
}

quint16 freePort() {
  QTcpServer s;
  s.listen(QHostAddress::LocalHost, 0);
  return s.serverPort();
}

// An instant query to Prometheus's HTTP API: metric labels (controller) to value.
QMap<QString, QString> query(quint16 port, const QString &expr) {
  // HTTP/1.0: the answer comes whole, never in chunks
  const QByteArray answer = Exporter::body(
      httpRequest(port, "GET /api/v1/query?query=" + QUrl::toPercentEncoding(expr) + " HTTP/1.0\r\n\r\n"));
  QMap<QString, QString> out;
  const QJsonObject o = QJsonDocument::fromJson(answer).object();
  for (const QJsonValue &r : o.value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toArray()) {
    const QJsonObject m = r.toObject().value(QStringLiteral("metric")).toObject();
    out[m.value(QStringLiteral("controller")).toString()] = r.toObject().value(QStringLiteral("value")).toArray().at(1).toString();
  }
  return out;
}


bool run(const char *program, const QStringList &args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(tool(program), args);
  return p.waitForFinished(30000) && p.exitCode() == 0;
}

void writeFile(const QString &path, const QByteArray &text) {
  QFile f(path);
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(text);
}

// A bcrypt hash of the password (cost 6: quick to check, the format of any cost).
QByteArray bcrypt(const char *password) {
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  crypt_data data{};
  if (!crypt_gensalt_rn("$2b$", 6, nullptr, 0, salt, sizeof salt)) return {};
  const char *h = crypt_r(password, salt, &data);
  return h ? QByteArray(h) : QByteArray();
}

// Every query of the Grafana dashboard, $controller as it is written.
QStringList dashboardQueries() {
  QFile f(QStringLiteral(EXAMPLES_DIR "/grafana/powerhost.json"));
  f.open(QIODevice::ReadOnly);
  QStringList out;
  for (const QJsonValue &p : QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("panels")).toArray())
    for (const QJsonValue &t : p.toObject().value(QStringLiteral("targets")).toArray())
      out << t.toObject().value(QStringLiteral("expr")).toString();
  return out;
}

// A server program (Prometheus, Alertmanager) for the length of a test.
class Daemon {
 public:
  Daemon(const char *program, const QStringList &args) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(tool(program), args);
  }
  ~Daemon() {
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
    process_.waitForFinished(2000);
  }
  bool started() { return process_.waitForStarted(10000); }

 private:
  QProcess process_;
};

// Alertmanager's webhook receiver: every notification it is sent, and when.
class WebhookSink {
 public:
  WebhookSink() {
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket *s = server_.nextPendingConnection()) {
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { readable(s); });
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }
  bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
  quint16 port() const { return server_.serverPort(); }
  // A notification held the alert of that controller with that status ("firing", "resolved").
  bool has(const QString &alertname, const QString &controller, const QString &status) const {
    for (const QJsonObject &n : notifications_)
      for (const QJsonValue &a : n.value(QStringLiteral("alerts")).toArray()) {
        const QJsonObject labels = a.toObject().value(QStringLiteral("labels")).toObject();
        if (labels.value(QStringLiteral("alertname")).toString() == alertname &&
            labels.value(QStringLiteral("controller")).toString() == controller &&
            a.toObject().value(QStringLiteral("status")).toString() == status)
          return true;
      }
    return false;
  }
  // Every notification was about one controller.
  bool groupedByController() const {
    for (const QJsonObject &n : notifications_) {
      std::set<QString> controllers;
      for (const QJsonValue &a : n.value(QStringLiteral("alerts")).toArray())
        controllers.insert(a.toObject().value(QStringLiteral("labels")).toObject().value(QStringLiteral("controller")).toString());
      if (controllers.size() != 1) return false;
    }
    return !notifications_.empty();
  }

 private:
  void readable(QTcpSocket *s) {
    QByteArray &in = pending_[s];
    in += s->readAll();
    const qsizetype end = in.indexOf("\r\n\r\n");
    if (end < 0) return;
    qsizetype length = 0;
    for (const QByteArray &line : in.left(end).split('\n'))
      if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toLongLong();
    if (in.size() < end + 4 + length) return;
    notifications_.push_back(QJsonDocument::fromJson(in.mid(end + 4, length)).object());
    pending_.erase(s);
    s->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    s->disconnectFromHost();
  }
  QTcpServer server_;
  std::map<QTcpSocket *, QByteArray> pending_;
  std::vector<QJsonObject> notifications_;
};
}  // namespace

class TestExporterPrometheus : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    if (tool("promtool").isEmpty() || tool("prometheus").isEmpty())
      QSKIP("promtool or prometheus is missing: install the Debian package prometheus (scripts/common.sh does)");
  }

  void examplesPassPromtool_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("config") << QStringList{"check", "config", "prometheus.yml"};
    QTest::newRow("rules") << QStringList{"check", "rules", "alerts.yml"};
    QTest::newRow("rule tests") << QStringList{"test", "rules", "alerts_test.yml"};
  }
  void examplesPassPromtool() {
    QFETCH(QStringList, args);
    const auto [code, out] = promtool(args);
    QVERIFY2(code == 0, out.constData());
  }

  // Every alert of alerts.yml has a unit test in which it fires; every alert on a
  // controller's readings is guarded by powerhost_up == 1 and has a test with a controller
  // "down" whose frozen readings would fire it (promtool then proves that it does not).
  void everyAlertIsTested() {
    const YAML::Node rules = YAML::LoadFile(EXAMPLES_DIR "/alerts.yml");
    const YAML::Node tests = YAML::LoadFile(EXAMPLES_DIR "/alerts_test.yml");
    std::map<std::string, std::string> alerts;  // name, expr
    for (const auto &group : rules["groups"])
      for (const auto &rule : group["rules"]) alerts[rule["alert"].as<std::string>()] = rule["expr"].as<std::string>();
    QCOMPARE(int(alerts.size()), 9);
    for (const auto &[name, expr] : alerts) {
      bool fires = false, downTested = false;
      for (const auto &test : tests["tests"]) {
        bool downSeries = false;
        for (const auto &series : test["input_series"])
          downSeries = downSeries || series["series"].as<std::string>().find("controller=\"down\"") != std::string::npos;
        for (const auto &check : test["alert_rule_test"]) {
          if (check["alertname"].as<std::string>() != name) continue;
          fires = fires || check["exp_alerts"].size() > 0;
          downTested = downTested || downSeries;
        }
      }
      QVERIFY2(fires, name.c_str());
      const bool onReadings = name != "PowerExporterDown" && name != "PowerControllerDown";
      if (!onReadings) continue;
      QVERIFY2(expr.find("and on(controller, instance, job) powerhost_up == 1") != std::string::npos, name.c_str());
      QVERIFY2(downTested, name.c_str());
    }
  }

  // The same file passes amtool.
  void alertmanagerExample() {
    const QString amtool = tool("amtool");
    if (amtool.isEmpty()) QSKIP("amtool is missing: install the Debian package prometheus-alertmanager");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(amtool, {QStringLiteral("check-config"), QStringLiteral(EXAMPLES_DIR "/alertmanager.yml")});
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitCode() == 0, p.readAll().constData());
  }

  // Every panel of the Grafana dashboard has a title, the dashboard's datasource input and
  // a query; the input is declared as Grafana's export format declares it.
  void grafanaDashboard() {
    QFile f(QStringLiteral(EXAMPLES_DIR "/grafana/powerhost.json"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QJsonParseError e{};
    const QJsonObject d = QJsonDocument::fromJson(f.readAll(), &e).object();
    QVERIFY2(e.error == QJsonParseError::NoError, qPrintable(e.errorString()));
    const QJsonArray inputs = d.value(QStringLiteral("__inputs")).toArray();
    QCOMPARE(inputs.size(), 1);
    QCOMPARE(inputs[0].toObject().value(QStringLiteral("name")).toString(), QStringLiteral("DS_PROMETHEUS"));
    QCOMPARE(inputs[0].toObject().value(QStringLiteral("pluginId")).toString(), QStringLiteral("prometheus"));
    const QJsonArray vars = d.value(QStringLiteral("templating")).toObject().value(QStringLiteral("list")).toArray();
    QVERIFY(std::any_of(vars.begin(), vars.end(), [](const QJsonValue &v) {
      return v.toObject().value(QStringLiteral("name")).toString() == QStringLiteral("controller") &&
             v.toObject().value(QStringLiteral("datasource")).toObject().value(QStringLiteral("uid")).toString() ==
                 QStringLiteral("${DS_PROMETHEUS}");
    }));
    int panels = 0, perController = 0;
    std::set<int> ids;
    for (const QJsonValue &v : d.value(QStringLiteral("panels")).toArray()) {
      const QJsonObject p = v.toObject();
      QVERIFY2(ids.insert(p.value(QStringLiteral("id")).toInt()).second, "panel ids are unique");
      const QString title = p.value(QStringLiteral("title")).toString();
      QVERIFY2(!title.isEmpty(), "every panel has a title");
      if (p.value(QStringLiteral("type")).toString() == QStringLiteral("row")) continue;
      ++panels;
      QCOMPARE(p.value(QStringLiteral("datasource")).toObject().value(QStringLiteral("uid")).toString(),
               QStringLiteral("${DS_PROMETHEUS}"));
      const QJsonArray targets = p.value(QStringLiteral("targets")).toArray();
      QVERIFY2(!targets.isEmpty(), qPrintable(title));
      for (const QJsonValue &t : targets) {
        QVERIFY2(!t.toObject().value(QStringLiteral("expr")).toString().isEmpty(), qPrintable(title));
        perController += t.toObject().value(QStringLiteral("expr")).toString().contains(QStringLiteral("$controller"));
      }
    }
    QVERIFY(panels >= 10);
    QVERIFY(perController >= 8);
  }

  // One real Prometheus and one real Alertmanager on loopback, at short intervals, with the
  // example rules (AcInputFailed waiting 2 s instead of 1 min) and the example Alertmanager
  // route (its waits cut to 1 s, its webhook pointed at a sink here). Prometheus scrapes one
  // exporter with three simulators over https with basic authentication every second, and
  // a second job with a wrong password. Checked:
  // - up 1 over https with the right password, up 0 and a 401 at the exporter with the wrong one;
  // - each simulator's DC voltage, the door alarm one of them raises firing PowerAlarm;
  // - every query of the Grafana dashboard gives a series at least;
  // - AC failure raised at a simulator reaches the webhook as AcInputFailed, and its
  //   resolution after it is cleared, each within the sum of the intervals and waits + 5 s;
  // - when a simulator stops, its readings leave the exporter's page at the max-age,
  //   Prometheus's next scrape drops them, PowerAlarm ends and up 0 stays.
  void realPrometheus() {
    if (tool("prometheus-alertmanager").isEmpty() || tool("openssl").isEmpty())
      QSKIP("prometheus-alertmanager or openssl is missing (scripts/common.sh installs both)");
    QTemporaryDir dir;
    QVERIFY(run("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                            "-keyout", dir.filePath("tls.key"), "-out", dir.filePath("tls.crt"), "-days", "2", "-subj",
                            "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"}));
    writeFile(dir.filePath("web.yml"), "tls_server_config:\n  cert_file: tls.crt\n  key_file: tls.key\n"
                                       "basic_auth_users:\n  prometheus: " + bcrypt("scrape-pw") + "\n");

    const QString link = dir.filePath(QStringLiteral("ctrl"));
    Powersim a({"--seed", "11", "--control"});
    auto b = std::make_unique<Powersim>(QStringList{"--seed", "12", "--alarms", "door"});
    Powersim c({"--pty", "--link", link, "--seed", "13"});
    QVERIFY(a.ok() && b->ok() && c.ok());
    const double pollInterval = 0.5;
    Exporter ex({"--interval", QString::number(pollInterval), "--max-age", "3", "--web.config.file", dir.filePath("web.yml"),
                 "--controller", QStringLiteral("a=tcp://127.0.0.1:%1").arg(a.port()), "--controller",
                 QStringLiteral("b=tcp://127.0.0.1:%1").arg(b->port()), "--controller", QStringLiteral("c=serial:%1").arg(link)});
    QVERIFY(ex.port());
    ex.useTls("prometheus:scrape-pw");

    // the example rules, AcInputFailed waiting 2 s
    const double forSeconds = 2, scrapeInterval = 1, evaluationInterval = 1, groupWait = 1, groupInterval = 1;
    YAML::Node rules = YAML::LoadFile(EXAMPLES_DIR "/alerts.yml");
    for (auto group : rules["groups"])
      for (auto rule : group["rules"])
        if (rule["alert"].as<std::string>() == "AcInputFailed") rule["for"] = std::to_string(int(forSeconds)) + "s";
    writeFile(dir.filePath("alerts.yml"), YAML::Dump(rules).c_str());

    WebhookSink sink;
    QVERIFY(sink.listen());
    YAML::Node am = YAML::LoadFile(EXAMPLES_DIR "/alertmanager.yml");
    am["route"]["group_wait"] = std::to_string(int(groupWait)) + "s";
    am["route"]["group_interval"] = std::to_string(int(groupInterval)) + "s";
    am["receivers"][0]["webhook_configs"][0]["url"] = QStringLiteral("http://127.0.0.1:%1/hook").arg(sink.port()).toStdString();
    writeFile(dir.filePath("alertmanager.yml"), YAML::Dump(am).c_str());
    const quint16 amPort = freePort();
    Daemon alertmanager("prometheus-alertmanager",
                        {"--config.file=" + dir.filePath("alertmanager.yml"), "--storage.path=" + dir.filePath("am"),
                         QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(amPort), "--cluster.listen-address=",
                         "--log.level=warn"});
    QVERIFY(alertmanager.started());

    writeFile(dir.filePath("prometheus.yml"),
              QStringLiteral("global:\n  scrape_interval: %1s\n  evaluation_interval: %2s\n"
                             "rule_files: ['alerts.yml']\n"
                             "alerting:\n  alertmanagers:\n    - static_configs:\n        - targets: ['127.0.0.1:%3']\n"
                             "scrape_configs:\n"
                             "  - job_name: powerhost\n    scheme: https\n    tls_config: {ca_file: tls.crt}\n"
                             "    basic_auth: {username: prometheus, password: scrape-pw}\n"
                             "    static_configs: [{targets: ['127.0.0.1:%4']}]\n"
                             "  - job_name: powerhost-wrong-password\n    scheme: https\n    tls_config: {ca_file: tls.crt}\n"
                             "    basic_auth: {username: prometheus, password: not-it}\n"
                             "    static_configs: [{targets: ['127.0.0.1:%4']}]\n")
                  .arg(scrapeInterval)
                  .arg(evaluationInterval)
                  .arg(amPort)
                  .arg(ex.port())
                  .toUtf8());
    const quint16 port = freePort();
    Daemon prometheus("prometheus", {"--config.file=" + dir.filePath("prometheus.yml"),
                                     "--storage.tsdb.path=" + dir.filePath("data"),
                                     QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port), "--log.level=warn"});
    QVERIFY(prometheus.started());

    const auto waitQuery = [&](const QString &expr, const std::function<bool(const QMap<QString, QString> &)> &ok) {
      QElapsedTimer t;
      t.start();
      QMap<QString, QString> r;
      while (t.elapsed() < 40000) {
        r = query(port, expr);
        if (ok(r)) break;
        QTest::qWait(100);
      }
      return r;
    };
    const QString volts = QStringLiteral("powerhost_dc_output_voltage_volts");
    const QString firing = QStringLiteral("ALERTS{alertname=\"PowerAlarm\",alertstate=\"firing\",alarm=\"door\"}");
    const auto all = waitQuery(volts, [](const auto &r) { return r.size() == 3; });
    QCOMPARE(all.keys(), (QStringList{"a", "b", "c"}));
    for (const QString &v : all) QVERIFY2(v.toDouble() > 45 && v.toDouble() < 58, qPrintable(v));

    // https with basic auth: up 1; the wrong password: up 0, and a 401 at the exporter
    QCOMPARE(waitQuery(QStringLiteral("up{job=\"powerhost\"}"), [](const auto &r) { return !r.isEmpty(); }).first(),
             QStringLiteral("1"));
    QCOMPARE(waitQuery(QStringLiteral("up{job=\"powerhost-wrong-password\"}"), [](const auto &r) { return !r.isEmpty(); })
                 .first(),
             QStringLiteral("0"));
    QVERIFY(ex.waitForError("HTTP: 401 for user \"prometheus\" from 127.0.0.1 GET /metrics"));
    QVERIFY(!ex.errors().contains("not-it"));

    const auto alarms = query(port, QStringLiteral("powerhost_alarm{alarm=\"door\"}"));
    QCOMPARE(alarms.value(QStringLiteral("b")), QStringLiteral("1"));
    QCOMPARE(alarms.value(QStringLiteral("a")), QStringLiteral("0"));
    QCOMPARE(alarms.value(QStringLiteral("c")), QStringLiteral("0"));
    QCOMPARE(waitQuery(firing, [](const auto &r) { return r.contains(QStringLiteral("b")); }).keys(), QStringList{"b"});

    // every query of the dashboard, for controller a, gives a series (the rates need a few
    // scrapes: wait for them)
    QVERIFY(QTest::qWaitFor([&] { return !query(port, QStringLiteral("rate(powerhost_poll_errors_total[5m])")).isEmpty(); }, 20000));
    for (const QString &expr : dashboardQueries()) {
      const QString q = QString(expr).replace(QStringLiteral("$controller"), QStringLiteral("a"));
      QVERIFY2(!waitQuery(q, [](const auto &r) { return !r.isEmpty(); }).isEmpty(), qPrintable(q));
    }

    // AC failure end to end, and its resolution
    const double firingBound = pollInterval + scrapeInterval + evaluationInterval + forSeconds + groupWait + groupInterval + 5;
    const double resolvedBound = pollInterval + scrapeInterval + evaluationInterval + groupInterval + 5;
    QElapsedTimer since;
    QVERIFY(a.command("raise ac-power-fail"));
    since.start();
    QVERIFY(QTest::qWaitFor([&] { return sink.has("AcInputFailed", "a", "firing"); }, 30000));
    const double toFiring = since.elapsed() / 1000.0;
    QVERIFY(a.command("clear ac-power-fail"));
    since.start();
    QVERIFY(QTest::qWaitFor([&] { return sink.has("AcInputFailed", "a", "resolved"); }, 30000));
    const double toResolved = since.elapsed() / 1000.0;
    qInfo("AC failure raised at the simulator to AcInputFailed at the webhook: %.2f s (bound %.1f s: poll %.1f + scrape %.0f "
          "+ evaluation %.0f + for %.0f + group_wait %.0f + group_interval %.0f + 5)",
          toFiring, firingBound, pollInterval, scrapeInterval, evaluationInterval, forSeconds, groupWait, groupInterval);
    qInfo("AC failure cleared to AcInputFailed resolved at the webhook: %.2f s (bound %.1f s: poll %.1f + scrape %.0f + "
          "evaluation %.0f + group_interval %.0f + 5)",
          toResolved, resolvedBound, pollInterval, scrapeInterval, evaluationInterval, groupInterval);
    QVERIFY2(toFiring <= firingBound, qPrintable(QString::number(toFiring)));
    QVERIFY2(toResolved <= resolvedBound, qPrintable(QString::number(toResolved)));
    QVERIFY(sink.groupedByController());

    b.reset();  // simulator b stops
    const QByteArray page = ex.waitFor([](const QByteArray &p) {
      return p.contains("powerhost_up") && seriesValue(p, "powerhost_dc_output_voltage_volts{controller=\"b\"}").isNull();
    });
    QVERIFY(seriesValue(page, "powerhost_dc_output_voltage_volts{controller=\"b\"}").isNull());
    QElapsedTimer sinceGone;
    sinceGone.start();
    const auto left = waitQuery(volts, [](const auto &r) { return !r.contains(QStringLiteral("b")); });
    qInfo("b's readings gone from Prometheus %lld ms after they left the exporter's page (scrape interval 1 s)",
          sinceGone.elapsed());
    QCOMPARE(left.keys(), (QStringList{"a", "c"}));
    QVERIFY(waitQuery(firing, [](const auto &r) { return r.isEmpty(); }).isEmpty());
    const auto ups = query(port, QStringLiteral("powerhost_up"));
    QCOMPARE(ups.value(QStringLiteral("b")), QStringLiteral("0"));
    QCOMPARE(ups.value(QStringLiteral("a")), QStringLiteral("1"));
    QCOMPARE(ups.value(QStringLiteral("c")), QStringLiteral("1"));
    QCOMPARE(ex.terminate(), 0);
  }
};

QTEST_GUILESS_MAIN(TestExporterPrometheus)
#include "test_exporter_prometheus.moc"
