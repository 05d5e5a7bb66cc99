// The exporter's pure parts: the command line, one poll against literal answers, the metrics
// the answers give, and the HTTP request head.
#include <QtTest>

#include <random>
#include <set>

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

std::string pageOf(const Reading &r) {
  MetricsPage page({"c1"});
  ControllerState s;
  s.completed(r, 0.02, 1700000000.5);
  page.update(0, s);
  return page.text();
}

}  // namespace

class TestExporterUnits : public QObject {
  Q_OBJECT
 private slots:
  // ------------------------------------------------------------------ the command line
  void options_data() {
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("error");  // part of the error, empty for success
    QTest::addColumn<QString>("summary");  // listen, interval, then name line address baud per controller
    QTest::newRow("defaults") << "--controller a=tcp://127.0.0.1:5001" << ""
                              << "127.0.0.1:9479 5 a tcp://127.0.0.1:5001 1";
    QTest::newRow("address") << "--controller s1=tcp://127.0.0.1:5001?address=7 --interval 1" << ""
                             << "127.0.0.1:9479 1 s1 tcp://127.0.0.1:5001 7";
    QTest::newRow("serial bus") << "--controller a=serial:/dev/ttyUSB0?baud=9600&address=3 --listen 0.0.0.0:0 "
                                   "--controller=b=serial:/dev/ttyUSB0?address=4&baud=9600"
                                << "" << "0.0.0.0:0 5 a serial:/dev/ttyUSB0 3 9600 b serial:/dev/ttyUSB0 4 9600";
    QTest::newRow("serial default baud") << "--controller x=serial:/dev/ttyS1" << ""
                                         << "127.0.0.1:9479 5 x serial:/dev/ttyS1 1 9600";
    QTest::newRow("localhost") << "--listen localhost:9100 --interval 0.5 --controller a=tcp://ctrl-1.site:5001" << ""
                               << "127.0.0.1:9100 0.5 a tcp://ctrl-1.site:5001 1";
    QTest::newRow("ipv6 listen") << "--listen [::1]:9479 --controller a=tcp://127.0.0.1:1" << ""
                                 << "::1:9479 5 a tcp://127.0.0.1:1 1";
    QTest::newRow("no controller") << "--interval 5" << "no controller" << "";
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
    QStringList got{QStringLiteral("%1:%2").arg(QString::fromStdString(o->listenHost)).arg(o->listenPort),
                    QString::number(o->intervalSeconds)};
    for (const ControllerEntry &c : o->controllers) {
      got << QString::fromStdString(c.name) << QString::fromStdString(c.target.lineKey())
          << QString::number(c.target.address);
      if (c.target.kind == Target::Kind::Serial) got << QString::number(c.target.baud);
    }
    QCOMPARE(got.join(QLatin1Char(' ')), summary);
  }

  void helpAndWarning() {
    std::string why;
    QVERIFY(parseOptions({"--controller", "a=tcp://h:1", "--help"}, why)->help);
    // neither needs a controller, and what follows is not looked at
    QVERIFY(parseOptions({"--version", "--bogus"}, why)->version);
    QVERIFY(!parseOptions({"--help"}, why)->version);
    const QString usage = QString::fromLatin1(usageText());
    for (const char *w : {"--listen", "--interval", "--controller", "tcp://", "serial:", "address=", "baud=", "/metrics",
                          "--version"})
      QVERIFY2(usage.contains(QLatin1String(w)), w);
    Options o;
    QVERIFY(listenWarning(o).empty());
    o.listenHost = "::1";
    QVERIFY(listenWarning(o).empty());
    o.listenHost = "0.0.0.0";
    QVERIFY(QString::fromStdString(listenWarning(o)).contains(QStringLiteral("unauthenticated")));
    QVERIFY(QString::fromStdString(listenWarning(o)).contains(QStringLiteral("TLS reverse proxy")));
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
    QTest::addColumn<QString>("value");
    QTest::newRow("bus 53.5") << 0 << 0x14 << 0xE6 << "powerhost_dc_output_voltage_volts" << "53.5";
    QTest::newRow("bus 54") << 0 << 0x15 << 0x18 << "powerhost_dc_output_voltage_volts" << "54";
    QTest::newRow("battery -1") << 2 << 0x80 << 0x0A << "powerhost_battery_current_amperes" << "-1";
    QTest::newRow("battery 1") << 2 << 0x00 << 0x0A << "powerhost_battery_current_amperes" << "1";
    QTest::newRow("battery minus zero") << 2 << 0x80 << 0x00 << "powerhost_battery_current_amperes" << "0";
    QTest::newRow("load 24.5") << 4 << 0x00 << 0xF5 << "powerhost_dc_output_current_amperes" << "24.5";
    QTest::newRow("battery temp -5.5") << 6 << 0x80 << 0x37 << "powerhost_battery_temperature_celsius" << "-5.5";
    QTest::newRow("ambient 26.1") << 8 << 0x01 << 0x05 << "powerhost_ambient_temperature_celsius" << "26.1";
    QTest::newRow("modules 3") << 10 << 0x03 << 0x00 << "powerhost_rectifier_modules" << "3";
    QTest::newRow("humidity 45") << 11 << 0x01 << 0xC2 << "powerhost_ambient_humidity_percent" << "45";
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
    QCOMPARE(seriesValue(page, series + "{controller=\"c1\"}"), value);
    // the window shows the same text for the same bytes
    for (const status::Measurement &m : status::measurements()) {
      const uint8_t *d = (m.answer == StatusAnswer::Ac ? ac.data() : system.data()) + m.offset;
      if ((offset < 0) == (m.answer == StatusAnswer::Ac) && (offset < 0 || m.offset == offset))
        QCOMPARE(status::measurementText(m.encoding, d), value);
    }
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
    QTest::newRow("no charge bit: float kept") << 0x00 << 0x00 << "normal" << "float";
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
               battery == QLatin1String(s) ? QStringLiteral("1") : QStringLiteral("0"));
  }

  void batteryStateCarriesOver() {
    const Reading first = pollWith(statusData({{16, 0x10}}), {0, 0, 0, 0, 0}, {}, {});
    const Reading second = pollWith(statusData({}), {0, 0, 0, 0, 0}, {}, {}, first);
    QCOMPARE(int(second.battery), int(status::BatteryState::Equalize));
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
    // a module not listed: absent, 0 V
    QCOMPARE(seriesValue(page, "powerhost_rectifier_present{controller=\"c1\",module=\"1\"}"), QStringLiteral("0"));
    QCOMPARE(seriesValue(page, "powerhost_rectifier_output_voltage_volts{controller=\"c1\",module=\"1\"}"), QStringLiteral("0"));
  }

  // Families are whole (one HELP and TYPE each), every series carries its controller, the
  // histogram is cumulative, and a controller never read shows no values but up 0.
  void pageShape() {
    MetricsPage page({"a", "b"});
    ControllerState a;
    a.completed(pollWith(statusData({}), {0, 0, 0, 0, 0}, {}, {}), 0.003, 1700000000);
    a.completed(a.reading.value(), 0.2, 1700000001.25);
    a.failed(PollError::Refused);
    page.update(0, a);
    const std::string text = page.text();
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
      QVERIFY2(line.contains(QLatin1String("{controller=\"")), qPrintable(line));
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
    // last completed poll's values stay while the controller is down
    QCOMPARE(seriesValue(text, "powerhost_dc_output_voltage_volts{controller=\"a\"}"), QStringLiteral("0"));
    QCOMPARE(seriesValue(text, "powerhost_up{controller=\"b\"}"), QStringLiteral("0"));
    QCOMPARE(seriesValue(text, "powerhost_poll_errors_total{controller=\"b\",reason=\"timeout\"}"), QStringLiteral("0"));
    QVERIFY(!QString::fromStdString(text).contains(QLatin1String("powerhost_dc_output_voltage_volts{controller=\"b\"}")));
    QVERIFY(!QString::fromStdString(text).contains(QLatin1String("powerhost_last_poll_timestamp_seconds{controller=\"b\"}")));
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
    const std::string bytes = responseBytes(respond(head, [] { return std::string("METRICS"); }));
    QVERIFY2(QString::fromStdString(bytes).startsWith(QStringLiteral("HTTP/1.1 %1 ").arg(status)), bytes.c_str());
    QVERIFY(QString::fromStdString(bytes).contains(contains));
    if (head.method == "HEAD") QVERIFY(!QString::fromStdString(bytes).contains(QLatin1String("METRICS")));
  }
};

QTEST_GUILESS_MAIN(TestExporterUnits)
#include "test_exporter_units.moc"
