// The exporter with Prometheus's own tools: the example configuration and alert rules pass
// promtool (the rules with a unit test per alert), and a real Prometheus server on loopback
// scrapes one exporter polling three simulators.
#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>

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

  // Every alert of alerts.yml has a unit test.
  void everyAlertIsTested() {
    QFile rules(QStringLiteral(EXAMPLES_DIR "/alerts.yml")), tests(QStringLiteral(EXAMPLES_DIR "/alerts_test.yml"));
    QVERIFY(rules.open(QIODevice::ReadOnly) && tests.open(QIODevice::ReadOnly));
    const QByteArray testText = tests.readAll();
    int alerts = 0;
    for (const QByteArray &line : rules.readAll().split('\n')) {
      const QByteArray t = line.trimmed();
      if (!t.startsWith("- alert:")) continue;
      ++alerts;
      const QByteArray name = t.mid(8).trimmed();
      QVERIFY2(testText.contains("alertname: " + name + "\n        exp_alerts:\n          - exp_labels"), name.constData());
    }
    QCOMPARE(alerts, 4);
  }

  // Prometheus scraping every second: each simulator's DC output voltage, the alarm one of
  // them raises, and up 0 for a simulator that has stopped.
  void realPrometheus() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ctrl"));
    auto a = std::make_unique<Powersim>(QStringList{"--seed", "11"});
    Powersim b({"--seed", "12", "--alarms", "door"});
    Powersim c({"--pty", "--link", link, "--seed", "13"});
    QVERIFY(a->ok() && b.ok() && c.ok());
    Exporter ex({"--interval", "1", "--controller", QStringLiteral("a=tcp://127.0.0.1:%1").arg(a->port()), "--controller",
                 QStringLiteral("b=tcp://127.0.0.1:%1").arg(b.port()), "--controller", QStringLiteral("c=serial:%1").arg(link)});
    QVERIFY(ex.port());

    QFile config(dir.filePath(QStringLiteral("prometheus.yml")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                "scrape_configs:\n  - job_name: powerhost\n    static_configs:\n"
                                "      - targets: ['127.0.0.1:%1']\n").arg(ex.port()).toUtf8());
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
        QTest::qWait(250);
      }
      return r;
    };
    auto volts = waitQuery(QStringLiteral("powerhost_dc_output_voltage_volts"),
                           [](const auto &r) { return r.size() == 3; });
    QCOMPARE(volts.keys(), (QStringList{"a", "b", "c"}));
    for (const QString &v : volts) QVERIFY2(v.toDouble() > 45 && v.toDouble() < 58, qPrintable(v));
    const auto alarms = query(port, QStringLiteral("powerhost_alarm{alarm=\"door\"}"));
    QCOMPARE(alarms.value(QStringLiteral("b")), QStringLiteral("1"));
    QCOMPARE(alarms.value(QStringLiteral("a")), QStringLiteral("0"));
    QCOMPARE(alarms.value(QStringLiteral("c")), QStringLiteral("0"));

    a.reset();  // simulator a stops
    const auto ups = waitQuery(QStringLiteral("powerhost_up"),
                               [](const auto &r) { return r.value(QStringLiteral("a")) == QLatin1String("0"); });
    QCOMPARE(ups.value(QStringLiteral("a")), QStringLiteral("0"));
    QCOMPARE(ups.value(QStringLiteral("b")), QStringLiteral("1"));
    QCOMPARE(ups.value(QStringLiteral("c")), QStringLiteral("1"));
    QCOMPARE(ex.terminate(), 0);
  }
};

QTEST_GUILESS_MAIN(TestExporterPrometheus)
#include "test_exporter_prometheus.moc"
