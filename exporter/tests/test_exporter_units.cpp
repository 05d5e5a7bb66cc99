// The exporter's pure parts: the command line, one poll against literal answers, the metrics
// the answers give, and the HTTP request head.
#include <QtTest>

#include <QTemporaryDir>

#include <random>
#include <set>

#include "ExporterProcess.h"
#include "exporter/Config.h"
#include "exporter/Http.h"
#include "exporter/Metrics.h"
#include "exporter/Options.h"
#include "exporter/Poll.h"
#include "protocol/Frame.h"

using namespace exporter;

namespace {

std::vector<std::string> split(const QString &line) {
  std::vector<std::string> v;
  for (const QString &s : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) v.push_back(s.toStdString());
  return v;
}

std::string answerFrame(uint8_t adr, uint8_t cid1, uint8_t rtn, std::vector<uint8_t> data) {
  return proto::encodeFrame(adr, cid1, rtn, data);
}

// A status answer's 18 data bytes, all 0 but the given (offset, value) pairs.
// listen interval max-age, then per controller: name line address [baud] [label=value...]
QString summaryOf(const Options &o) {
  QStringList got{QStringLiteral("%1:%2").arg(QString::fromStdString(o.listenHost)).arg(o.listenPort),
                  QString::number(o.intervalSeconds), QString::number(o.maxAge())};
  for (const ControllerEntry &c : o.controllers) {
    got << QString::fromStdString(c.name) << QString::fromStdString(c.target.lineKey())
        << QString::number(c.target.address);
    if (c.target.kind == Target::Kind::Serial) got << QString::number(c.target.baud);
    for (const auto &[k, v] : c.labels) got << QString::fromStdString(k + "=" + v);
  }
  return got.join(QLatin1Char(' '));
}

std::vector<uint8_t> statusData(std::initializer_list<std::pair<int, int>> set) {
  std::vector<uint8_t> d(18, 0);
  for (auto [k, v] : set) d[size_t(k)] = uint8_t(v);
  return d;
}
std::vector<uint8_t> readings(int module, int centivolts, int centiamps, int statusBits, int fault) {
  return {uint8_t(module), uint8_t(centivolts >> 8), uint8_t(centivolts), uint8_t(centiamps >> 8), uint8_t(centiamps),
          1, 30, 0, 0, uint8_t(statusBits), uint8_t(fault)};
}

// Runs one whole poll of the controller at address 1 against fixed answers.
Reading pollWith(const std::vector<uint8_t> &system, const std::vector<uint8_t> &ac, const std::vector<uint8_t> &list,
                 const std::map<int, std::vector<uint8_t>> &modules, const Reading &last = firstReading()) {
  PollCycle p(1);
  p.begin(last);
  PollError e{};
  for (int guard = 0; p.running() && guard < 20; ++guard) {
    std::string a;
    switch (p.command()) {
      case PollCommand::SystemStatus: a = answerFrame(1, 0x42, 0, system); break;
      case PollCommand::AcStatus: a = answerFrame(1, 0x40, 0, ac); break;
      case PollCommand::ModuleList: a = answerFrame(1, 0x42, 0, list); break;
      case PollCommand::ModuleReadings: a = answerFrame(1, 0x41, 0, modules.at(p.module())); break;
    }
    if (!p.answer(a, &e)) return {};
  }
  if (!p.done()) qWarning("poll did not complete");
  return p.reading();
}

// The value of one series on the page: "name{labels}" exactly.
QString seriesValue(const std::string &page, const QString &series) {
  for (const QString &line : QString::fromStdString(page).split(QLatin1Char('\n')))
    if (line.startsWith(series + QLatin1Char(' '))) return line.mid(series.size() + 1);
  return QStringLiteral("<missing>");
}

ControllerEntry entry(const std::string &name, std::map<std::string, std::string> labels = {}) {
  ControllerEntry e;
  e.name = name;
  e.target.host = "127.0.0.1";
  e.target.port = 5001;
  e.labels = std::move(labels);
  return e;
}

constexpr double kMaxAge = 17;

Endpoints endpoints() {
  Endpoints e;
  e.metrics = [] { return std::make_shared<const RenderedPage>("METRICS", 1); };
  e.reload = [] { return std::optional<std::string>(); };
  return e;
}

std::string pageOf(const Reading &r) {
  MetricsPage page({"1.0", "abc", "6.4"}, kMaxAge);
  page.setControllers({entry("c1")});
  ControllerState s;
  s.completed(r, 0.02, 1700000000.5, 100);
  page.update(0, s);
  return page.text(100);
}

}  // namespace

class TestExporterUnits : public QObject {
  Q_OBJECT
 private slots:
  // ------------------------------------------------------------------ the command line
  void options_data() {
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("error");  // part of the error, empty for success
    QTest::addColumn<QString>("summary");  // listen, interval, max-age, then name line address baud per controller
    QTest::newRow("defaults") << "--controller a=tcp://127.0.0.1:5001" << ""
                              << "127.0.0.1:9479 5 17 a tcp://127.0.0.1:5001 1";
    QTest::newRow("address") << "--controller s1=tcp://127.0.0.1:5001?address=7 --interval 1" << ""
                             << "127.0.0.1:9479 1 5 s1 tcp://127.0.0.1:5001 7";
    QTest::newRow("serial bus") << "--controller a=serial:/dev/ttyUSB0?baud=9600&address=3 --listen 0.0.0.0:0 "
                                   "--controller=b=serial:/dev/ttyUSB0?address=4&baud=9600"
                                << "" << "0.0.0.0:0 5 17 a serial:/dev/ttyUSB0 3 9600 b serial:/dev/ttyUSB0 4 9600";
    QTest::newRow("serial default baud") << "--controller x=serial:/dev/ttyS1" << ""
                                         << "127.0.0.1:9479 5 17 x serial:/dev/ttyS1 1 9600";
    QTest::newRow("localhost") << "--listen localhost:9100 --interval 0.5 --controller a=tcp://ctrl-1.site:5001" << ""
                               << "127.0.0.1:9100 0.5 3.5 a tcp://ctrl-1.site:5001 1";
    QTest::newRow("ipv6 listen") << "--listen [::1]:9479 --controller a=tcp://127.0.0.1:1" << ""
                                 << "::1:9479 5 17 a tcp://127.0.0.1:1 1";
    QTest::newRow("max-age") << "--max-age 30 --interval 10 --controller a=tcp://h:1" << ""
                             << "127.0.0.1:9479 10 30 a tcp://h:1 1";
    QTest::newRow("config alone") << "--config /etc/p.yml --interval 2" << "" << "127.0.0.1:9479 2 8";
    QTest::newRow("no controller") << "--interval 5" << "no controller" << "";
    QTest::newRow("config and controller") << "--config p.yml --controller a=tcp://h:1" << "listed there" << "";
    QTest::newRow("max-age below interval") << "--max-age 4 --controller a=tcp://h:1" << "shorter than the interval" << "";
    QTest::newRow("max-age text") << "--max-age 1m --controller a=tcp://h:1" << "--max-age" << "";
    QTest::newRow("interval hex") << "--interval 0x10 --controller a=tcp://h:1" << "--interval" << "";
    QTest::newRow("unknown option") << "--controller a=tcp://h:1 --verbose" << "unknown argument \"--verbose\"" << "";
    QTest::newRow("missing value") << "--controller a=tcp://h:1 --interval" << "--interval needs a value" << "";
    QTest::newRow("interval zero") << "--interval 0 --controller a=tcp://h:1" << "--interval" << "";
    QTest::newRow("interval text") << "--interval 5s --controller a=tcp://h:1" << "--interval" << "";
    QTest::newRow("interval nan") << "--interval nan --controller a=tcp://h:1" << "--interval" << "";
    QTest::newRow("listen no port") << "--listen 127.0.0.1 --controller a=tcp://h:1" << "--listen" << "";
    QTest::newRow("listen name") << "--listen example.org:80 --controller a=tcp://h:1" << "not an IP address" << "";
    QTest::newRow("listen port range") << "--listen 127.0.0.1:65536 --controller a=tcp://h:1" << "port" << "";
    QTest::newRow("no name") << "--controller tcp://h:1" << "NAME=URL" << "";
    QTest::newRow("bad name") << "--controller a\"b=tcp://h:1" << "NAME=URL" << "";
    QTest::newRow("name twice") << "--controller a=tcp://h:1 --controller a=tcp://h:2" << "given twice" << "";
    QTest::newRow("scheme") << "--controller a=http://h:1" << "is not tcp://HOST:PORT or serial:DEVICE" << "";
    QTest::newRow("tcp port 0") << "--controller a=tcp://h:0" << "port" << "";
    QTest::newRow("tcp no port") << "--controller a=tcp://h" << "HOST:PORT" << "";
    QTest::newRow("address range") << "--controller a=tcp://h:1?address=256" << "0..255" << "";
    QTest::newRow("address text") << "--controller a=tcp://h:1?address=x" << "0..255" << "";
    QTest::newRow("baud on tcp") << "--controller a=tcp://h:1?baud=9600" << "unknown setting \"baud\"" << "";
    QTest::newRow("odd baud") << "--controller a=serial:/dev/ttyS0?baud=9601" << "baud" << "";
    QTest::newRow("setting twice") << "--controller a=serial:/dev/ttyS0?address=1&address=2" << "given twice" << "";
    QTest::newRow("relative device") << "--controller a=serial:ttyS0" << "must be a path" << "";
    QTest::newRow("same address on a bus")
        << "--controller a=serial:/dev/ttyS0?address=2 --controller b=serial:/dev/ttyS0?address=2"
        << "a is already address 2 on serial:/dev/ttyS0" << "";
    QTest::newRow("two bauds on a bus")
        << "--controller a=serial:/dev/ttyS0?address=2 --controller b=serial:/dev/ttyS0?address=3&baud=19200"
        << "one bus has one baud rate" << "";
  }
  void options() {
    QFETCH(QString, args);
    QFETCH(QString, error);
    QFETCH(QString, summary);
    std::string why;
    const auto o = parseOptions(split(args), why);
    if (!error.isEmpty()) {
      QVERIFY(!o);
      QVERIFY2(QString::fromStdString(why).contains(error), why.c_str());
      QVERIFY(why.find('\n') == std::string::npos);  // one line
      return;
    }
    QVERIFY2(o, why.c_str());
    QCOMPARE(summaryOf(*o), summary);
  }

  void helpAndWarning() {
    std::string why;
    QVERIFY(parseOptions({"--controller", "a=tcp://h:1", "--help"}, why)->help);
    // neither needs a controller, and what follows is not looked at
    QVERIFY(parseOptions({"--version", "--bogus"}, why)->version);
    QVERIFY(!parseOptions({"--help"}, why)->version);
    const QString usage = QString::fromLatin1(usageText());
    for (const char *w : {"--listen", "--interval", "--max-age", "--controller", "--config", "--version", "tcp://",
                          "serial:", "address=", "baud=", "/metrics", "max_age:", "labels:", "SIGHUP",
                          "--web.config.file", "--nut-listen", "low_battery_voltage:", "users:"})
      QVERIFY2(usage.contains(QLatin1String(w)), w);
    // beyond loopback, a warning unless scrapes are both encrypted and authenticated
    Options o;
    const auto warning = [&](bool tls, bool auth) { return QString::fromStdString(listenWarning(o, tls, auth)); };
    QVERIFY(warning(false, false).isEmpty());
    o.listenHost = "::1";
    QVERIFY(warning(false, false).isEmpty());
    o.listenHost = "0.0.0.0";
    QVERIFY(warning(false, false).contains(QStringLiteral("without TLS or authentication")));
    QVERIFY(warning(true, false).contains(QStringLiteral("without authentication")));
    QVERIFY(warning(false, true).contains(QStringLiteral("passwords travel in clear")));
    QVERIFY(warning(true, true).isEmpty());
    o.nut.enabled = true;
    o.nut.listenHost = "192.0.2.1";
    QVERIFY(warning(true, true).contains(QStringLiteral("Network UPS Tools endpoint listens on 192.0.2.1")));
  }


  // ------------------------------------------------------------------ the configuration file
  void configFile_data() {
    QTest::addColumn<QByteArray>("yaml");
    QTest::addColumn<QString>("error");    // part of the error, empty for success
    QTest::addColumn<QString>("summary");  // as for the command line, labels after each controller
    const QByteArray one = "controllers:\n  - {name: a, url: \"tcp://h:1\"}\n";
    QTest::newRow("as documented") << QByteArray("listen: \"127.0.0.1:9479\"\ninterval: 5\nmax_age: 17\ncontrollers:\n"
                                                 "  - name: site1\n    url: \"tcp://10.0.0.5:5001?address=7\"\n"
                                                 "    labels: {region: north}\n")
                                   << "" << "127.0.0.1:9479 5 17 site1 tcp://10.0.0.5:5001 7 region=north";
    QTest::newRow("defaults") << one << "" << "127.0.0.1:9479 5 17 a tcp://h:1 1";
    QTest::newRow("bus, labels, empty labels")
        << QByteArray("interval: 2.5\ncontrollers:\n  - name: r1\n    url: serial:/dev/ttyS0?address=3\n"
                      "    labels:\n      rack: 7\n      site: \"a \\\"b\\\"\"\n"
                      "  - name: r2\n    url: serial:/dev/ttyS0?address=4\n    labels:\n")
        << "" << "127.0.0.1:9479 2.5 9.5 r1 serial:/dev/ttyS0 3 9600 rack=7 site=a \"b\" r2 serial:/dev/ttyS0 4 9600";
    QTest::newRow("not yaml") << QByteArray("controllers: [\n  {name: a\n") << "not YAML" << "";
    QTest::newRow("empty") << QByteArray("") << "holds no settings" << "";
    QTest::newRow("a list") << QByteArray("- listen\n") << "a map" << "";
    QTest::newRow("unknown key") << "scrape_interval: 5\n" + one << "line 1: the file: unknown key \"scrape_interval\"" << "";
    QTest::newRow("key twice") << "interval: 5\ninterval: 6\n" + one << "line 2: the file: \"interval\" is given twice" << "";
    QTest::newRow("interval with unit") << "interval: 5s\n" + one << "interval: \"5s\" is not a number" << "";
    QTest::newRow("interval a list") << "interval: [5]\n" + one << "interval: a single value" << "";
    QTest::newRow("max_age below interval") << "interval: 10\nmax_age: 5\n" + one << "shorter than the interval" << "";
    QTest::newRow("listen name") << "listen: \"example.org:80\"\n" + one << "listen: \"example.org\"" << "";
    QTest::newRow("no controllers") << QByteArray("interval: 5\n") << "no controller" << "";
    QTest::newRow("controllers a map") << QByteArray("controllers: {a: 1}\n") << "controllers: a list" << "";
    QTest::newRow("no url") << QByteArray("controllers:\n  - name: a\n") << "line 2: controllers[0]: name and url" << "";
    QTest::newRow("misspelt key") << QByteArray("controllers:\n  - {name: a, url: \"tcp://h:1\", adress: 3}\n")
                                  << "unknown key \"adress\"" << "";
    QTest::newRow("bad url") << QByteArray("controllers:\n  - {name: a, url: \"http://h\"}\n")
                             << "controllers[0].url: \"http://h\" is not tcp://HOST:PORT" << "";
    QTest::newRow("bad name") << QByteArray("controllers:\n  - {name: \"a b\", url: \"tcp://h:1\"}\n")
                              << "not a controller name" << "";
    QTest::newRow("name twice") << one + "  - {name: a, url: \"tcp://h:2\"}\n" << "controllers[1]: the name \"a\" is given twice" << "";
    QTest::newRow("address taken") << QByteArray("controllers:\n  - {name: a, url: \"serial:/dev/x\"}\n"
                                                 "  - {name: b, url: \"serial:/dev/x\"}\n")
                                   << "a is already address 1" << "";
    QTest::newRow("label name") << QByteArray("controllers:\n  - {name: a, url: \"tcp://h:1\", labels: {9x: y}}\n")
                                << "\"9x\" is not a label name" << "";
    QTest::newRow("label reserved") << QByteArray("controllers:\n  - {name: a, url: \"tcp://h:1\", labels: {address: y}}\n")
                                    << "the label \"address\" is the exporter's own" << "";
    QTest::newRow("label dunder") << QByteArray("controllers:\n  - {name: a, url: \"tcp://h:1\", labels: {__name__: y}}\n")
                                  << "not a label name" << "";
    QTest::newRow("label value a list")
        << QByteArray("controllers:\n  - {name: a, url: \"tcp://h:1\", labels: {x: [1, 2]}}\n") << "single value" << "";
    QTest::newRow("labels a list") << QByteArray("controllers:\n  - {name: a, url: \"tcp://h:1\", labels: [x]}\n")
                                   << "labels: a map" << "";
    QTest::newRow("nested ten thousand deep") << "controllers: " + QByteArray(10000, '[') << "not YAML" << "";
  }
  void configFile() {
    QFETCH(QByteArray, yaml);
    QFETCH(QString, error);
    QFETCH(QString, summary);
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("exporter.yml")));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(yaml) == yaml.size());
    f.close();
    Options commandLine;
    commandLine.configFile = f.fileName().toStdString();
    std::string why;
    const auto o = effectiveOptions(commandLine, why);
    if (!error.isEmpty()) {
      QVERIFY(!o);
      QVERIFY2(QString::fromStdString(why).contains(error), why.c_str());
      QVERIFY2(QString::fromStdString(why).startsWith(f.fileName()), why.c_str());
      QVERIFY(why.find('\n') == std::string::npos);
      return;
    }
    QVERIFY2(o, why.c_str());
    QCOMPARE(summaryOf(*o), summary);
  }

  // The command line's listen, interval and max-age win over the file's; the example file
  // shipped in examples/ is valid; a missing or huge file is an error, not a crash.
  void configOverridesAndFiles() {
    std::string why;
    auto cl = parseOptions({"--config", EXAMPLES_DIR "/powerhost-exporter.yml"}, why);
    QVERIFY2(cl, why.c_str());
    auto o = effectiveOptions(*cl, why);
    QVERIFY2(o, why.c_str());
    QVERIFY(o->controllers.size() >= 2);
    cl = parseOptions({"--config", EXAMPLES_DIR "/powerhost-exporter.yml", "--listen", "127.0.0.1:1234", "--interval",
                       "1", "--max-age", "4"},
                      why);
    o = effectiveOptions(*cl, why);
    QVERIFY2(o, why.c_str());
    QCOMPARE(summaryOf(*o).section(QLatin1Char(' '), 0, 2), QStringLiteral("127.0.0.1:1234 1 4"));
    cl->configFile = "/nonexistent/exporter.yml";
    QVERIFY(!effectiveOptions(*cl, why));
    QVERIFY2(QString::fromStdString(why).startsWith(QLatin1String("/nonexistent/exporter.yml: ")), why.c_str());
    QTemporaryDir dir;
    QFile big(dir.filePath(QStringLiteral("big.yml")));
    QVERIFY(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(int(kMaxConfigBytes) + 1, '#'));
    big.close();
    cl->configFile = big.fileName().toStdString();
    QVERIFY(!effectiveOptions(*cl, why));
    QVERIFY2(QString::fromStdString(why).contains(QLatin1String("larger than")), why.c_str());
  }

  // ------------------------------------------------------------------ one poll
  void pollOrderAndModules() {
    PollCycle p(7);
    p.begin(firstReading());
    QStringList sent;
    PollError e{};
    const std::map<int, std::vector<uint8_t>> mods = {{1, readings(1, 5350, 810, 0, 0)},
                                                      {3, readings(3, 5351, 820, 0x04, 0)},
                                                      {10, readings(10, 5352, 830, 0x21, 3)}};
    while (p.running()) {
      const auto f = proto::parseFrame(p.request());
      QCOMPARE(f.error, proto::FrameError::None);
      QCOMPARE(f.frame.adr, uint8_t(7));
      sent << QStringLiteral("%1/%2:%3").arg(f.frame.cid1, 2, 16, QLatin1Char('0')).arg(f.frame.cid2OrRtn, 2, 16, QLatin1Char('0'))
                  .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(f.frame.data.data()),
                                                      qsizetype(f.frame.data.size())).toHex()));
      std::string a;
      switch (p.command()) {
        case PollCommand::SystemStatus: a = answerFrame(7, 0x42, 0, statusData({})); break;
        case PollCommand::AcStatus: a = answerFrame(7, 0x40, 0, {0x08, 0x98, 0, 0, 0}); break;
        // 13 and 0 name no module, 3 twice is read once
        case PollCommand::ModuleList: a = answerFrame(7, 0x42, 0, {10, 3, 13, 1, 3, 0}); break;
        case PollCommand::ModuleReadings: a = answerFrame(7, 0x41, 0, mods.at(p.module())); break;
      }
      QVERIFY(p.answer(a, &e));
    }
    QVERIFY(p.done());
    QCOMPARE(sent, (QStringList{"42/16:", "40/01:", "42/17:", "41/0e:01", "41/0e:03", "41/0e:0a"}));
    QCOMPARE(p.reading().modules[10].fault, uint8_t(3));
    QCOMPARE(p.reading().modules[2], status::absentModule());
  }

  void pollFaults_data() {
    QTest::addColumn<QByteArray>("answer");  // to the first request (42/16, address 1)
    QTest::addColumn<int>("error");
    const auto frame = [](std::string s) { return QByteArray::fromStdString(s); };
    std::string good = answerFrame(1, 0x42, 0, statusData({}));
    std::string badSum = good;
    badSum[badSum.size() - 2] = badSum[badSum.size() - 2] == '0' ? '1' : '0';
    QTest::newRow("checksum") << frame(badSum) << int(PollError::Damaged);
    QTest::newRow("no start mark") << frame(good.substr(1)) << int(PollError::Damaged);
    QTest::newRow("other address") << frame(answerFrame(2, 0x42, 0, statusData({}))) << int(PollError::Damaged);
    QTest::newRow("too long") << QByteArray(300, '0') << int(PollError::Damaged);
    QTest::newRow("refused") << frame(answerFrame(1, 0x42, 4, {})) << int(PollError::Refused);
    QTest::newRow("short") << frame(answerFrame(1, 0x42, 0, std::vector<uint8_t>(17, 0))) << int(PollError::Short);
  }
  void pollFaults() {
    QFETCH(QByteArray, answer);
    QFETCH(int, error);
    PollCycle p(1);
    Reading last = firstReading();
    last.system[0] = 0x14;  // what the last completed poll read stays
    p.begin(last);
    PollError e = PollError::Timeout;
    QVERIFY(!p.answer(answer.toStdString(), &e));
    QCOMPARE(int(e), error);
    QVERIFY(!p.running());
    QVERIFY(!p.done());
  }

  // Whatever the controller answers, a poll sends nothing but the four reads.
  void onlyReadsAreSent() {
    std::mt19937 rng(7);
    std::set<std::pair<int, int>> seen;
    for (int round = 0; round < 500; ++round) {
      PollCycle p(uint8_t(rng() % 256));
      p.begin(firstReading());
      for (int step = 0; p.running() && step < 20; ++step) {
        const auto f = proto::parseFrame(p.request());
        QCOMPARE(f.error, proto::FrameError::None);
        seen.insert({f.frame.cid1, f.frame.cid2OrRtn});
        std::vector<uint8_t> data(rng() % 24);
        for (auto &b : data) b = uint8_t(rng() % 16);
        PollError e{};
        if (rng() % 8 == 0) {
          p.timedOut();
        } else {
          p.answer(answerFrame(uint8_t(f.frame.adr), f.frame.cid1, rng() % 6 ? 0 : 1, data), &e);
        }
      }
    }
    const std::set<std::pair<int, int>> reads = {{0x42, 0x16}, {0x40, 0x01}, {0x42, 0x17}, {0x41, 0x0E}};
    for (const auto &s : seen) QVERIFY2(reads.count(s), qPrintable(QString::number(s.first, 16) + "/" + QString::number(s.second, 16)));
    QCOMPARE(seen.size(), reads.size());
  }

  // ------------------------------------------------------------------ the metrics
  void measurements_data() {
    QTest::addColumn<int>("offset");  // into the status answer; -1: AC voltage
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("low");
    QTest::addColumn<QString>("series");
    QTest::addColumn<QString>("value");  // as the window shows it; the metric's, where it differs, after '|'
    QTest::newRow("bus 53.5") << 0 << 0x14 << 0xE6 << "powerhost_dc_output_voltage_volts" << "53.5";
    QTest::newRow("bus 54") << 0 << 0x15 << 0x18 << "powerhost_dc_output_voltage_volts" << "54";
    QTest::newRow("battery -1") << 2 << 0x80 << 0x0A << "powerhost_battery_current_amperes" << "-1";
    QTest::newRow("battery 1") << 2 << 0x00 << 0x0A << "powerhost_battery_current_amperes" << "1";
    QTest::newRow("battery minus zero") << 2 << 0x80 << 0x00 << "powerhost_battery_current_amperes" << "0";
    QTest::newRow("load 24.5") << 4 << 0x00 << 0xF5 << "powerhost_dc_output_current_amperes" << "24.5";
    QTest::newRow("battery temp -5.5") << 6 << 0x80 << 0x37 << "powerhost_battery_temperature_celsius" << "-5.5";
    QTest::newRow("ambient 26.1") << 8 << 0x01 << 0x05 << "powerhost_ambient_temperature_celsius" << "26.1";
    QTest::newRow("modules 3") << 10 << 0x03 << 0x00 << "powerhost_rectifier_modules" << "3";
    QTest::newRow("humidity 45") << 11 << 0x01 << 0xC2 << "powerhost_ambient_humidity_ratio" << "45|0.45";
    QTest::newRow("humidity 45.3") << 11 << 0x01 << 0xC5 << "powerhost_ambient_humidity_ratio" << "45.3|0.453";
    QTest::newRow("ac 220.5") << -1 << 0x08 << 0x9D << "powerhost_ac_input_voltage_volts" << "220.5";
  }
  void measurements() {
    QFETCH(int, offset);
    QFETCH(int, high);
    QFETCH(int, low);
    QFETCH(QString, series);
    QFETCH(QString, value);
    std::vector<uint8_t> system = statusData({}), ac = {0, 0, 0, 0, 0};
    if (offset >= 0) {
      system[size_t(offset)] = uint8_t(high);
      if (offset != 10) system[size_t(offset) + 1] = uint8_t(low);
    } else {
      ac[0] = uint8_t(high);
      ac[1] = uint8_t(low);
    }
    const std::string page = pageOf(pollWith(system, ac, {}, {}));
    QCOMPARE(seriesValue(page, series + "{controller=\"c1\"}"), value.section(QLatin1Char('|'), -1));
    // the window shows the same number for the same bytes
    for (const status::Measurement &m : status::measurements()) {
      const uint8_t *d = (m.answer == StatusAnswer::Ac ? ac.data() : system.data()) + m.offset;
      if ((offset < 0) == (m.answer == StatusAnswer::Ac) && (offset < 0 || m.offset == offset))
        QCOMPARE(status::measurementText(m.encoding, d), value.section(QLatin1Char('|'), 0, 0));
    }
  }

  // A value's text is the window's general format, digit for digit as printf's %.15g writes
  // it, with plain digits where that would write an exponent.
  void valueTexts() {
    for (double v : {220.0, 220.5, 0.05, -1.0, 53.51, 45.3 / 100, 655.35, -3276.7, 1700000000.25, 0.1 + 0.2}) {
      char b[64];
      std::snprintf(b, sizeof b, "%.15g", v);
      QCOMPARE(QString::fromStdString(valueText(v)), QString::fromLatin1(b));
    }
    QCOMPARE(QString::fromStdString(valueText(0.0000001)), QStringLiteral("0.0000001"));
    QCOMPARE(QString::fromStdString(valueText(-0.0)), QStringLiteral("0"));
    QCOMPARE(QString::fromStdString(valueText(1e16)), QStringLiteral("10000000000000000"));
  }

  // Each lamp of the page is one alarm series, set by its own bit and no other.
  void alarms_data() {
    QTest::addColumn<int>("byte");  // status data byte; -1: AC state
    QTest::addColumn<int>("mask");
    QTest::addColumn<QString>("alarm");
    const struct { int byte, mask; const char *alarm; } rows[] = {
        {13, 0x10, "dc_output_overvoltage"}, {13, 0x04, "battery_low_voltage"}, {13, 0x02, "load_overcurrent"},
        {14, 0x01, "battery_overcurrent"},   {15, 0x40, "battery_overtemperature"}, {15, 0x20, "battery_undertemperature"},
        {13, 0x01, "load_disconnected"},     {14, 0x40, "battery_disconnected"}, {14, 0x20, "ambient_overtemperature"},
        {14, 0x10, "ambient_undertemperature"}, {14, 0x04, "load_fuse"},       {14, 0x02, "battery_fuse"},
        {14, 0x08, "module_missing"},        {17, 0x08, "surge_protection"},    {17, 0x04, "door"},
        {17, 0x02, "water"},                 {17, 0x01, "smoke"},               {-1, 0x20, "ac_breaker"},
        {-1, 0x01, "ac_failure"},            {-1, 0x02, "ac_failure"},          {-1, 0x04, "ac_failure"},
    };
    for (const auto &r : rows)
      QTest::addRow("%s 0x%02x", r.alarm, r.mask) << r.byte << r.mask << QString::fromLatin1(r.alarm);
  }
  void alarms() {
    QFETCH(int, byte);
    QFETCH(int, mask);
    QFETCH(QString, alarm);
    std::vector<uint8_t> system = statusData({}), ac = {0, 0, 0, 0, 0};
    (byte >= 0 ? system[size_t(byte)] : ac[4]) = uint8_t(mask);
    const std::string page = pageOf(pollWith(system, ac, {}, {}));
    QCOMPARE(int(alarmSeries().size()), 19);
    for (const AlarmSeries &a : alarmSeries()) {
      const QString series = QStringLiteral("powerhost_alarm{controller=\"c1\",alarm=\"%1\"}").arg(QLatin1String(a.alarm));
      QCOMPARE(seriesValue(page, series), QLatin1String(a.alarm) == alarm ? QStringLiteral("1") : QStringLiteral("0"));
    }
  }

  void states_data() {
    QTest::addColumn<int>("acBits");
    QTest::addColumn<int>("chargeBits");
    QTest::addColumn<QString>("ac");
    QTest::addColumn<QString>("battery");
    QTest::newRow("quiet") << 0x00 << 0x04 << "normal" << "float";
    QTest::newRow("breaker only") << 0x20 << 0x10 << "normal" << "equalize";
    QTest::newRow("over") << 0x04 << 0x02 << "overvoltage" << "fast_charge";
    QTest::newRow("under wins") << 0x06 << 0x01 << "undervoltage" << "test";
    QTest::newRow("power fail wins") << 0x07 << 0x14 << "power_fail" << "equalize";
    QTest::newRow("no charge bit yet: no battery state") << 0x00 << 0x00 << "normal" << "";
  }
  void states() {
    QFETCH(int, acBits);
    QFETCH(int, chargeBits);
    QFETCH(QString, ac);
    QFETCH(QString, battery);
    const std::string page = pageOf(pollWith(statusData({{16, chargeBits}}), {0, 0, 0, 0, uint8_t(acBits)}, {}, {}));
    for (const char *s : {"normal", "overvoltage", "undervoltage", "power_fail"})
      QCOMPARE(seriesValue(page, QStringLiteral("powerhost_ac_state{controller=\"c1\",state=\"%1\"}").arg(QLatin1String(s))),
               ac == QLatin1String(s) ? QStringLiteral("1") : QStringLiteral("0"));
    for (const char *s : {"test", "fast_charge", "float", "equalize"})
      QCOMPARE(seriesValue(page, QStringLiteral("powerhost_battery_state{controller=\"c1\",state=\"%1\"}").arg(QLatin1String(s))),
               battery.isEmpty()               ? QStringLiteral("<missing>")
               : battery == QLatin1String(s) ? QStringLiteral("1")
                                             : QStringLiteral("0"));
  }

  // A poll without a state bit keeps the last reported state; the page shows it once one was
  // reported, by this poll or an earlier one.
  void batteryStateCarriesOver() {
    const Reading first = pollWith(statusData({{16, 0x10}}), {0, 0, 0, 0, 0}, {}, {});
    const Reading second = pollWith(statusData({}), {0, 0, 0, 0, 0}, {}, {}, first);
    QCOMPARE(int(second.battery), int(status::BatteryState::Equalize));
    ControllerState s;
    s.completed(first, 0.02, 1700000000, 100);
    s.completed(second, 0.02, 1700000001, 101);
    MetricsPage page({}, kMaxAge);
    page.setControllers({entry("c1")});
    page.update(0, s);
    QCOMPARE(seriesValue(page.text(101), "powerhost_battery_state{controller=\"c1\",state=\"equalize\"}"), QStringLiteral("1"));
  }

  // Module columns: present, on, V, A, protection (bit or a fault the grid names), fan, limiting.
  void modules_data() {
    QTest::addColumn<int>("statusBits");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("expected");  // present on volts amperes protection fan limiting
    QTest::newRow("on") << 0x00 << 0 << "1 1 53.5 8.1 0 0 0";
    QTest::newRow("off") << 0x04 << 0 << "1 0 53.5 8.1 0 0 0";
    QTest::newRow("not present bit") << 0x84 << 0 << "1 0 53.5 8.1 0 0 0";
    QTest::newRow("protection") << 0x20 << 0 << "1 1 53.5 8.1 1 0 0";
    QTest::newRow("fan") << 0x10 << 0 << "1 1 53.5 8.1 0 1 0";
    QTest::newRow("limiting") << 0x01 << 0 << "1 1 53.5 8.1 0 0 1";
    QTest::newRow("short circuit, off") << 0x24 << 3 << "1 0 53.5 8.1 1 0 0";
    QTest::newRow("over-temperature") << 0x00 << 1 << "1 1 53.5 8.1 1 0 0";
    QTest::newRow("input power fail") << 0x00 << 6 << "1 1 53.5 8.1 1 0 0";
    QTest::newRow("fault 5 is no fault") << 0x00 << 5 << "1 1 53.5 8.1 0 0 0";
  }
  void modules() {
    QFETCH(int, statusBits);
    QFETCH(int, fault);
    QFETCH(QString, expected);
    const Reading r = pollWith(statusData({}), {0, 0, 0, 0, 0}, {12}, {{12, readings(12, 5350, 810, statusBits, fault)}});
    const std::string page = pageOf(r);
    QStringList got;
    for (const char *m : {"present", "on", "output_voltage_volts", "output_current_amperes", "protection", "fan_fault",
                          "current_limiting"})
      got << seriesValue(page, QStringLiteral("powerhost_rectifier_%1{controller=\"c1\",module=\"12\"}").arg(QLatin1String(m)));
    QCOMPARE(got.join(QLatin1Char(' ')), expected);
    // the window's grid says the same: column 4 is an alarm or a fault exactly when protection is 1
    const auto texts = status::moduleRowTexts(r.modules[12]);
    QCOMPARE(texts[3] != QStringLiteral("正常"), got[4] == QLatin1String("1"));
    QCOMPARE(texts[0] == QStringLiteral("开机"), got[1] == QLatin1String("1"));
    // a module not listed carries present 0 and nothing else
    QCOMPARE(seriesValue(page, "powerhost_rectifier_present{controller=\"c1\",module=\"1\"}"), QStringLiteral("0"));
    for (const char *m : {"on", "output_voltage_volts", "output_current_amperes", "protection", "fan_fault", "current_limiting"})
      QCOMPARE(seriesValue(page, QStringLiteral("powerhost_rectifier_%1{controller=\"c1\",module=\"1\"}").arg(QLatin1String(m))),
               QStringLiteral("<missing>"));
  }

  // Families are whole (one HELP and TYPE each), every series carries its controller, the
  // histogram is cumulative, and a controller never read shows no values but up 0.
  void pageShape() {
    MetricsPage page({"1.0", "abc", "6.4"}, kMaxAge);
    page.setControllers({entry("a"), entry("b")});
    ControllerState a;
    a.completed(pollWith(statusData({}), {0, 0, 0, 0, 0}, {}, {}), 0.003, 1700000000, 100);
    a.completed(a.reading.value(), 0.2, 1700000001.25, 101);
    a.failed(PollError::Refused);
    page.update(0, a);
    const std::string text = page.text(102);
    std::set<QString> exporterFamilies;
    for (const Family &f : families())
      if (f.scope == Family::Scope::Exporter) exporterFamilies.insert(QString::fromLatin1(f.name));
    std::map<QString, int> types;
    QString family;
    for (const QString &line : QString::fromStdString(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      if (line.startsWith(QLatin1String("# TYPE "))) {
        family = line.section(QLatin1Char(' '), 2, 2);
        QCOMPARE(++types[family], 1);
        continue;
      }
      if (line.startsWith(QLatin1Char('#'))) continue;
      QVERIFY2(line.startsWith(family), qPrintable(line));
      QVERIFY2(line.contains(QLatin1String("{controller=\"")) != exporterFamilies.count(family), qPrintable(line));
    }
    QCOMPARE(int(types.size()), int(families().size()));
    QCOMPARE(seriesValue(text, "powerhost_up{controller=\"a\"}"), QStringLiteral("0"));
    QCOMPARE(seriesValue(text, "powerhost_last_poll_timestamp_seconds{controller=\"a\"}"), QStringLiteral("1700000001.250"));
    QCOMPARE(seriesValue(text, "powerhost_poll_duration_seconds_bucket{controller=\"a\",le=\"0.005\"}"), QStringLiteral("1"));
    QCOMPARE(seriesValue(text, "powerhost_poll_duration_seconds_bucket{controller=\"a\",le=\"0.1\"}"), QStringLiteral("1"));
    QCOMPARE(seriesValue(text, "powerhost_poll_duration_seconds_bucket{controller=\"a\",le=\"0.25\"}"), QStringLiteral("2"));
    QCOMPARE(seriesValue(text, "powerhost_poll_duration_seconds_bucket{controller=\"a\",le=\"+Inf\"}"), QStringLiteral("2"));
    QCOMPARE(seriesValue(text, "powerhost_poll_duration_seconds_count{controller=\"a\"}"), QStringLiteral("2"));
    QCOMPARE(seriesValue(text, "powerhost_poll_errors_total{controller=\"a\",reason=\"refused\"}"), QStringLiteral("1"));
    // the last completed poll's values stay while they are fresh, the controller down or not
    QCOMPARE(seriesValue(text, "powerhost_dc_output_voltage_volts{controller=\"a\"}"), QStringLiteral("0"));
    QCOMPARE(seriesValue(text, "powerhost_up{controller=\"b\"}"), QStringLiteral("0"));
    QCOMPARE(seriesValue(text, "powerhost_poll_errors_total{controller=\"b\",reason=\"timeout\"}"), QStringLiteral("0"));
    QVERIFY(!QString::fromStdString(text).contains(QLatin1String("powerhost_dc_output_voltage_volts{controller=\"b\"}")));
    QVERIFY(!QString::fromStdString(text).contains(QLatin1String("powerhost_last_poll_timestamp_seconds{controller=\"b\"}")));
  }


  // A controller's readings are served up to max-age after its last completed poll and not a
  // moment longer, down or not; what says how its polls go stays. A restart of the page's
  // clock is not needed: the rule takes the time of each scrape.
  void staleReadingsVanish() {
    MetricsPage page({}, kMaxAge);
    page.setControllers({entry("a")});
    ControllerState s;
    s.completed(pollWith(statusData({{0, 0x14}, {1, 0xE6}, {16, 0x04}}), {0, 0, 0, 0, 0}, {2},
                         {{2, readings(2, 5350, 810, 0, 0)}}),
                0.02, 1700000000, 100);
    s.failed(PollError::Timeout);
    page.update(0, s);
    QCOMPARE(page.staleAt(100), 100 + kMaxAge);
    const std::string atEdge = page.text(100 + kMaxAge), after = page.text(100 + kMaxAge + 0.001);
    QCOMPARE(seriesValue(atEdge, "powerhost_dc_output_voltage_volts{controller=\"a\"}"), QStringLiteral("53.5"));
    QCOMPARE(seriesValue(atEdge, "powerhost_rectifier_on{controller=\"a\",module=\"2\"}"), QStringLiteral("1"));
    for (const Family &f : families()) {
      if (f.scope == Family::Scope::Reading)
        QVERIFY2(!QString::fromStdString(after).contains(QLatin1String(f.name) + QLatin1Char('{')), f.name);
    }
    QCOMPARE(seriesValue(after, "powerhost_up{controller=\"a\"}"), QStringLiteral("0"));
    QCOMPARE(seriesValue(after, "powerhost_last_poll_timestamp_seconds{controller=\"a\"}"), QStringLiteral("1700000000.000"));
    QCOMPARE(seriesValue(after, "powerhost_poll_errors_total{controller=\"a\",reason=\"timeout\"}"), QStringLiteral("1"));
    QCOMPARE(seriesValue(after, "powerhost_poll_duration_seconds_count{controller=\"a\"}"), QStringLiteral("1"));
    QVERIFY(std::isinf(page.staleAt(100 + kMaxAge + 0.001)));
    // the same rule for any other reader
    QVERIFY(fresh(s, 100 + kMaxAge, kMaxAge));
    QVERIFY(!fresh(s, 100 + kMaxAge + 0.001, kMaxAge));
    QVERIFY(!fresh(ControllerState{}, 0, kMaxAge));
    // a new poll brings them back; a shorter max-age takes them away again
    s.completed(s.reading.value(), 0.02, 1700000020, 120);
    page.update(0, s);
    QCOMPARE(seriesValue(page.text(121), "powerhost_dc_output_voltage_volts{controller=\"a\"}"), QStringLiteral("53.5"));
    const uint64_t before = page.generation();
    page.setMaxAge(0.5);
    QVERIFY(page.generation() != before);
    QCOMPARE(seriesValue(page.text(121), "powerhost_dc_output_voltage_volts{controller=\"a\"}"), QStringLiteral("<missing>"));
    QCOMPARE(seriesValue(page.text(121), "powerhost_exporter_max_age_seconds"), QStringLiteral("0.5"));
  }

  // What each controller is and how it is reached, with the file's labels escaped as the
  // text format wants; the exporter's build and its last reload.
  void infoSeries() {
    MetricsPage page({"0.2.0", "abc123", "6.4.2"}, kMaxAge);
    ControllerEntry serial = entry("r1", {{"site", "a \"b\"\\c\nd"}, {"rack", "7"}});
    serial.target.kind = Target::Kind::Serial;
    serial.target.device = "/dev/ttyUSB0";
    serial.target.address = 3;
    ControllerEntry v6 = entry("v6");
    v6.target.host = "::1";
    page.setControllers({entry("a"), serial, v6});
    page.setReload(false, 1700000000.5);
    const std::string text = page.text(0);
    QCOMPARE(seriesValue(text, "powerhost_controller_info{controller=\"a\",transport=\"tcp\",endpoint=\"127.0.0.1:5001\",address=\"1\"}"),
             QStringLiteral("1"));
    QCOMPARE(seriesValue(text, "powerhost_controller_info{controller=\"r1\",transport=\"serial\",endpoint=\"/dev/ttyUSB0\","
                               "address=\"3\",rack=\"7\",site=\"a \\\"b\\\"\\\\c\\nd\"}"),
             QStringLiteral("1"));
    QCOMPARE(seriesValue(text, "powerhost_controller_info{controller=\"v6\",transport=\"tcp\",endpoint=\"[::1]:5001\",address=\"1\"}"),
             QStringLiteral("1"));
    QCOMPARE(seriesValue(text, "powerhost_exporter_build_info{version=\"0.2.0\",revision=\"abc123\",qt_version=\"6.4.2\"}"),
             QStringLiteral("1"));
    QCOMPARE(seriesValue(text, "powerhost_config_last_reload_successful"), QStringLiteral("0"));
    QCOMPARE(seriesValue(text, "powerhost_config_last_reload_success_timestamp_seconds"), QStringLiteral("1700000000.500"));
    QCOMPARE(seriesValue(text, "powerhost_exporter_max_age_seconds"), QStringLiteral("17"));
    // never polled: no value, no battery state, no timestamp
    QCOMPARE(seriesValue(text, "powerhost_up{controller=\"r1\"}"), QStringLiteral("0"));
    QVERIFY(!QString::fromStdString(text).contains(QLatin1String("powerhost_rectifier_present{")));
  }

  // ------------------------------------------------------------------ HTTP
  void http_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");  // 0: incomplete
    QTest::addColumn<QString>("contains");
    QTest::newRow("metrics") << QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n") << 200 << "METRICS";
    QTest::newRow("metrics query") << QByteArray("GET /metrics?x=1 HTTP/1.0\n\n") << 200 << "METRICS";
    QTest::newRow("index") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 200 << "href=\"/metrics\"";
    QTest::newRow("head") << QByteArray("HEAD /metrics HTTP/1.1\r\n\r\n") << 200 << "Content-Length: 7";
    QTest::newRow("other path") << QByteArray("GET /metrics/ HTTP/1.1\r\n\r\n") << 404 << "";
    QTest::newRow("favicon") << QByteArray("GET /favicon.ico HTTP/1.1\r\n\r\n") << 404 << "";
    QTest::newRow("traversal") << QByteArray("GET /../etc/passwd HTTP/1.1\r\n\r\n") << 404 << "";
    QTest::newRow("post") << QByteArray("POST /metrics HTTP/1.1\r\n\r\n") << 405 << "Allow: GET, HEAD";
    QTest::newRow("garbage") << QByteArray("hello\r\n\r\n") << 400 << "";
    QTest::newRow("incomplete") << QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n") << 0 << "";
    QTest::newRow("line 8 KiB") << (QByteArray("GET /") + QByteArray(8192 - 15, 'a') + " HTTP/1.1\r\n\r\n") << 404 << "";
    QTest::newRow("line over 8 KiB") << (QByteArray("GET /") + QByteArray(8192, 'a')) << 414 << "";
    QTest::newRow("header over 8 KiB") << (QByteArray("GET / HTTP/1.1\r\nX: ") + QByteArray(8200, 'b') + "\r\n\r\n") << 431 << "";
    QByteArray many = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 20; ++i) many += "X: " + QByteArray(4000, 'c') + "\r\n";
    QTest::newRow("head over 64 KiB") << many << 431 << "";
  }
  void http() {
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QString, contains);
    const RequestHead head = parseHead(request.toStdString());
    if (status == 0) {
      QCOMPARE(int(head.status), int(RequestHead::Status::Incomplete));
      return;
    }
    const Response r = respond(head, endpoints(), true);
    const std::string bytes = responseHead(r, head.keepAlive) + (r.headOnly || !r.body ? std::string() : *r.body);
    QVERIFY2(QString::fromStdString(bytes).startsWith(QStringLiteral("HTTP/1.1 %1 ").arg(status)), bytes.c_str());
    // an answer to a broken request closes its connection
    QCOMPARE(r.close, status >= 400 && status != 404 && status != 405);
    QVERIFY(QString::fromStdString(bytes).contains(contains));
    if (head.method == "HEAD") QVERIFY(!QString::fromStdString(bytes).contains(QLatin1String("METRICS")));
  }

  void requestHead_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("expected");  // status keepAlive gzip hasBody size
    QTest::newRow("1.1 stays open") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << "ok keep - - 27";
    QTest::newRow("1.1 close") << QByteArray("GET / HTTP/1.1\r\nConnection: Close\r\n\r\n") << "ok close - - 37";
    QTest::newRow("1.0 closes") << QByteArray("GET / HTTP/1.0\n\n") << "ok close - - 16";
    QTest::newRow("1.0 keep-alive") << QByteArray("GET / HTTP/1.0\nconnection: keep-alive\n\n") << "ok keep - - 39";
    QTest::newRow("close wins") << QByteArray("GET / HTTP/1.1\nConnection: keep-alive, close\n\n") << "ok close - - 46";
    QTest::newRow("gzip") << QByteArray("GET / HTTP/1.1\nAccept-Encoding: deflate, gzip\n\n") << "ok keep gzip - 47";
    QTest::newRow("x-gzip") << QByteArray("GET / HTTP/1.1\naccept-encoding: X-GZIP;q=0.5\n\n") << "ok keep gzip - 46";
    QTest::newRow("gzip refused") << QByteArray("GET / HTTP/1.1\nAccept-Encoding: gzip;q=0, identity\n\n")
                                  << "ok keep - - 52";
    QTest::newRow("deflate only") << QByteArray("GET / HTTP/1.1\nAccept-Encoding: deflate\n\n") << "ok keep - - 41";
    QTest::newRow("length 0") << QByteArray("POST /-/reload HTTP/1.1\nContent-Length: 0\n\n") << "ok keep - - 43";
    QTest::newRow("length 5") << QByteArray("POST /-/reload HTTP/1.1\nContent-Length: 5\n\nhello") << "ok keep - body 43";
    QTest::newRow("chunked") << QByteArray("POST /-/reload HTTP/1.1\nTransfer-Encoding: chunked\n\n") << "ok keep - body 52";
    QTest::newRow("length junk") << QByteArray("POST / HTTP/1.1\nContent-Length: -1\n\n") << "bad";
    QTest::newRow("no colon") << QByteArray("GET / HTTP/1.1\nHost x\n\n") << "bad";
    QTest::newRow("pipelined") << QByteArray("GET / HTTP/1.1\r\n\r\nGET /metrics HTTP/1.1\r\n\r\n") << "ok keep - - 18";
  }
  void requestHead() {
    QFETCH(QByteArray, request);
    QFETCH(QString, expected);
    const RequestHead h = parseHead(request.toStdString());
    if (expected == QLatin1String("bad")) {
      QCOMPARE(int(h.status), int(RequestHead::Status::BadRequest));
      return;
    }
    QCOMPARE(int(h.status), int(RequestHead::Status::Ok));
    QCOMPARE(QStringLiteral("ok %1 %2 %3 %4")
                 .arg(h.keepAlive ? "keep" : "close", h.gzip ? "gzip" : "-", h.hasBody ? "body" : "-")
                 .arg(h.size),
             expected);
  }

  // Who makes room when every slot is taken: the longest waiting for its head, else the
  // output stuck longest (1 s at least), else the answer going out longest (10 s at least);
  // a client that reads along keeps its slot.
  void makingRoom_data() {
    QTest::addColumn<QString>("connections");  // per connection: w<since> or a<since>:<answerStart>, now 20000
    QTest::addColumn<int>("victim");
    QTest::newRow("oldest head wait") << "w15000 w12000 a19990:19000 w18000" << 1;
    QTest::newRow("a head wait before stuck output") << "a1000:1000 w19999" << 1;
    QTest::newRow("stuck longest") << "a18500:18000 a17000:17000 a19800:19000 a18999:18000" << 1;
    QTest::newRow("all moving") << "a19900:19000 a19990:15000" << -1;
    QTest::newRow("a trickle for 12 s") << "a19900:15000 a19950:8000 a19990:9000" << 1;
    QTest::newRow("stuck before slow") << "a19950:1000 a18900:18800" << 1;
    QTest::newRow("none") << "" << -1;
  }
  void makingRoom() {
    QFETCH(QString, connections);
    QFETCH(int, victim);
    std::vector<Slot> v;
    for (const QString &t : connections.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      Slot s;
      s.answering = t.startsWith(QLatin1Char('a'));
      s.since = t.mid(1).section(QLatin1Char(':'), 0, 0).toLongLong();
      s.answerStart = t.section(QLatin1Char(':'), 1, 1).toLongLong();
      v.push_back(s);
    }
    QCOMPARE(makeRoomFor(v, 20000), victim);
  }

  // POST /-/reload from this machine reloads and says how it went; from elsewhere, or with
  // another method, it does nothing.
  void reloadEndpoint() {
    int reloads = 0;
    std::optional<std::string> outcome;
    Endpoints e = endpoints();
    e.reload = [&] {
      ++reloads;
      return outcome;
    };
    const auto answer = [&](const char *request, bool loopback) {
      const Response r = respond(parseHead(request), e, loopback);
      return QString::fromStdString(responseHead(r, false) + *r.body);
    };
    QVERIFY(answer("POST /-/reload HTTP/1.1\r\n\r\n", true).startsWith(QLatin1String("HTTP/1.1 200")));
    outcome = "line 3: interval: \"x\" is not a number";
    const QString failed = answer("PUT /-/reload HTTP/1.1\r\n\r\n", true);
    QVERIFY2(failed.startsWith(QLatin1String("HTTP/1.1 500")) && failed.contains(QLatin1String("reload failed: line 3")),
             qPrintable(failed));
    QCOMPARE(reloads, 2);
    QVERIFY(answer("POST /-/reload HTTP/1.1\r\n\r\n", false).startsWith(QLatin1String("HTTP/1.1 403")));
    const QString get = answer("GET /-/reload HTTP/1.1\r\n\r\n", true);
    QVERIFY(get.startsWith(QLatin1String("HTTP/1.1 405")) && get.contains(QLatin1String("Allow: POST, PUT")));
    QCOMPARE(reloads, 2);
  }

  // A scraper that accepts gzip gets the page compressed, once per rendered page; inflated it
  // is the page, byte for byte.
  void gzipPage() {
    const Reading r = pollWith(statusData({{0, 0x14}, {1, 0xE6}}), {0x08, 0x9D, 0, 0, 0}, {1, 2, 3},
                               {{1, readings(1, 5350, 810, 0, 0)}, {2, readings(2, 5351, 811, 0x20, 1)},
                                {3, readings(3, 5352, 812, 0x04, 0)}});
    MetricsPage page({"1", "r", "6"}, kMaxAge);
    std::vector<ControllerEntry> many;
    for (int i = 0; i < 50; ++i) many.push_back(entry("c" + std::to_string(i)));
    page.setControllers(many);
    ControllerState s;
    s.completed(r, 0.01, 1700000000, 100);
    for (int i = 0; i < 50; ++i) page.update(std::size_t(i), s);
    const RenderedPage rendered(page.text(100), 7);
    const std::shared_ptr<const std::string> &z = rendered.gzip();
    QVERIFY(z->size() < rendered.text()->size() / 5);
    QCOMPARE(rendered.gzip().get(), z.get());  // compressed once
    QVERIFY(exportertest::gunzip(QByteArray::fromStdString(*z)).toStdString() == *rendered.text());
    Endpoints e;
    e.metrics = [&] { return std::make_shared<const RenderedPage>(*rendered.text(), 8); };
    const Response gz = respond(parseHead("GET /metrics HTTP/1.1\r\nAccept-Encoding: gzip\r\n\r\n"), e, true);
    QVERIFY(QString::fromStdString(gz.headers).contains(QLatin1String("Content-Encoding: gzip")));
    QCOMPARE(gz.page, uint64_t(8));
    const Response none = respond(parseHead("GET /metrics HTTP/1.1\r\n\r\n"), e, true);
    QVERIFY(!QString::fromStdString(none.headers).contains(QLatin1String("Content-Encoding")));
    QVERIFY(*none.body == *rendered.text());
  }
};

QTEST_GUILESS_MAIN(TestExporterUnits)
#include "test_exporter_units.moc"
