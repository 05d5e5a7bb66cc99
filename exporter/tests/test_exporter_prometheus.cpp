// The exporter with Prometheus's own tools: the example configuration and alert rules pass
// promtool (the rules with a unit test per alert), and a real Prometheus server on loopback
// scrapes one exporter polling three simulators.
#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>

#include <yaml-cpp/yaml.h>

#include <map>

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
  const QByteArray answer = Exporter::body(
      get(port, "/api/v1/query?query=" + QUrl::toPercentEncoding(expr)));
  QMap<QString, QString> out;
  const QJsonObject o = QJsonDocument::fromJson(answer).object();
  for (const QJsonValue &r : o.value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toArray()) {
    const QJsonObject m = r.toObject().value(QStringLiteral("metric")).toObject();
    out[m.value(QStringLiteral("controller")).toString()] = r.toObject().value(QStringLiteral("value")).toArray().at(1).toString();
  }
  return out;
}

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

  // Prometheus scraping every second with the example alerts: each simulator's DC output
  // voltage, the alarm one of them raises firing PowerAlarm; when that simulator stops, its
  // readings leave the exporter's page at the max-age, Prometheus's next scrape drops them,
  // PowerAlarm ends and up 0 stays.
  void realPrometheus() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ctrl"));
    Powersim a({"--seed", "11"});
    auto b = std::make_unique<Powersim>(QStringList{"--seed", "12", "--alarms", "door"});
    Powersim c({"--pty", "--link", link, "--seed", "13"});
    QVERIFY(a.ok() && b->ok() && c.ok());
    Exporter ex({"--interval", "1", "--max-age", "3", "--controller", QStringLiteral("a=tcp://127.0.0.1:%1").arg(a.port()),
                 "--controller", QStringLiteral("b=tcp://127.0.0.1:%1").arg(b->port()), "--controller",
                 QStringLiteral("c=serial:%1").arg(link)});
    QVERIFY(ex.port());

    QFile config(dir.filePath(QStringLiteral("prometheus.yml")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                "rule_files: ['%1/alerts.yml']\n"
                                "scrape_configs:\n  - job_name: powerhost\n    static_configs:\n"
                                "      - targets: ['127.0.0.1:%2']\n")
                     .arg(QStringLiteral(EXAMPLES_DIR))
                     .arg(ex.port())
                     .toUtf8());
    config.close();
    const quint16 port = freePort();
    QProcess prometheus;
    prometheus.setProcessChannelMode(QProcess::MergedChannels);
    prometheus.start(tool("prometheus"),
                     {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath(QStringLiteral("data")),
                      QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port), "--log.level=warn"});
    QVERIFY(prometheus.waitForStarted(10000));
    auto stop = qScopeGuard([&] {
      prometheus.terminate();
      if (!prometheus.waitForFinished(10000)) prometheus.kill();
    });

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
    const QString firing = QStringLiteral("ALERTS{alertname=\"PowerAlarm\",alertstate=\"firing\"}");
    const auto all = waitQuery(volts, [](const auto &r) { return r.size() == 3; });
    QCOMPARE(all.keys(), (QStringList{"a", "b", "c"}));
    for (const QString &v : all) QVERIFY2(v.toDouble() > 45 && v.toDouble() < 58, qPrintable(v));
    const auto alarms = query(port, QStringLiteral("powerhost_alarm{alarm=\"door\"}"));
    QCOMPARE(alarms.value(QStringLiteral("b")), QStringLiteral("1"));
    QCOMPARE(alarms.value(QStringLiteral("a")), QStringLiteral("0"));
    QCOMPARE(alarms.value(QStringLiteral("c")), QStringLiteral("0"));
    QCOMPARE(waitQuery(firing, [](const auto &r) { return r.contains(QStringLiteral("b")); }).keys(), QStringList{"b"});

    b.reset();  // simulator b stops
    const QByteArray page = ex.waitFor([](const QByteArray &p) {
      return seriesValue(p, "powerhost_dc_output_voltage_volts{controller=\"b\"}").isNull();
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
