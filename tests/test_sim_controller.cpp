// The simulated controller driven in-process with a fixed clock.
#include <QtTest>

#include <map>
#include <set>

#include "protocol/Commands.h"
#include "protocol/Frame.h"
#include "sim/Controller.h"
#include "sim/Rng.h"

using sim::Controller;
using sim::ControllerConfig;
using Bytes = std::vector<uint8_t>;

namespace {

int64_t utcMs(int y, int mo, int d, int h, int mi, int s) {
  return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC).toMSecsSinceEpoch();
}

struct Fixture {
  int64_t now = utcMs(2024, 3, 4, 23, 30, 15);  // 2024-03-05 07:30:15 at the controller
  Controller c;
  explicit Fixture(ControllerConfig cfg = {}) : c(cfg, [this] { return now; }) {}

  // Sends one request; the answer must be a sound frame from address 1 echoing CID1.
  proto::Frame ask(uint8_t cid1, uint8_t cid2, const Bytes &data = {}) {
    auto a = c.answer(proto::encodeFrame(c.address(), cid1, cid2, data));
    proto::FrameParse p = proto::parseFrame(a.value_or(""));
    const bool sound = a && p.error == proto::FrameError::None && p.consumed == a->size() &&
                       p.frame.adr == c.address() && p.frame.cid1 == cid1;
    if (!sound) {
      QTest::qFail(qPrintable(QString("bad or no answer to %1/%2").arg(cid1, 2, 16).arg(cid2, 2, 16)), __FILE__, __LINE__);
      return {0, 0, 0xFF, {}};
    }
    return p.frame;
  }
  int rtn(uint8_t cid1, uint8_t cid2, const Bytes &data = {}) { return ask(cid1, cid2, data).cid2OrRtn; }
};

int u16(const Bytes &d, std::size_t i) { return d.at(i) * 256 + d.at(i + 1); }
int bcd(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

}  // namespace

class TestSimController : public QObject {
  Q_OBJECT
 private slots:
  // Every read the host sends gets return code 0 and the data length its decoder expects.
  void everyReadOfTheHostIsAnswered() {
    Fixture f;
    struct Read {
      uint8_t cid1, cid2;
      Bytes data;
      std::size_t length;
    };
    std::vector<Read> reads = {
        {0x40, 0x01, {}, 5},  {0x42, 0x16, {}, 18}, {0x43, 0x2A, {}, 18}, {0x42, 0x17, {}, 3},
        {0x41, 0x0E, {1}, 11}, {0x42, 0x8D, {}, 7}, {0x42, 0x90, {0, 1, 1, 1, 1, 1}, 2},
        {0x42, 0x8F, {0, 0}, 8}, {0x44, 0x0D, {}, 20}, {0x44, 0x0E, {}, 20}, {0x44, 0x0F, {}, 20},
        {0x44, 0x10, {}, 20}, {0x44, 0x01, {0x12}, 23}, {0x42, 0x86, {1}, 2}, {0x42, 0x88, {4}, 2},
        {0x42, 0x21, {}, 1},  {0x42, 0x81, {}, 1},  {0x42, 0x94, {}, 1}, {0x42, 0x3D, {}, 1},
        {0x42, 0x47, {}, 1},  {0x42, 0x92, {}, 1},  {0x42, 0x5B, {}, 1}, {0x42, 0x51, {}, 1},
    };
    const uint8_t words40[] = {0x06, 0x08, 0x0A, 0x0C};
    for (uint8_t c2 : words40) reads.push_back({0x40, c2, {}, 2});
    reads.push_back({0x41, 0x15, {}, 2});
    const uint8_t words42[] = {0x19, 0x1B, 0x1D, 0x1F, 0x23, 0x25, 0x27, 0x29, 0x2B, 0x2D, 0x33, 0x35,
                               0x37, 0x39, 0x3B, 0x3F, 0x41, 0x45, 0x49, 0x4B, 0x4D, 0x53, 0x55, 0x57,
                               0x59, 0x5D, 0x5F, 0x61, 0x71, 0x73, 0x75, 0x77, 0x79, 0x7B, 0x7D, 0x7F, 0x8A};
    for (uint8_t c2 : words42) reads.push_back({0x42, c2, {}, 2});
    for (const Read &r : reads) {
      proto::Frame a = f.ask(r.cid1, r.cid2, r.data);
      QVERIFY2(a.cid2OrRtn == 0 && a.data.size() == r.length,
               qPrintable(QString("%1/%2 rtn %3 len %4").arg(r.cid1, 2, 16).arg(r.cid2, 2, 16).arg(a.cid2OrRtn).arg(a.data.size())));
    }
  }

  // The simulator answers from tables of its own; every answer has the shape the host's
  // command catalogue gives it: each read its length (or a module list), each write and action
  // an acknowledgement without data.
  void everyAnswerHasItsCataloguedShape() {
    Fixture f(ControllerConfig(1, {1, 3, 7}));
    using C = proto::Command;
    const std::map<C, Bytes> data = {
        {C::ModuleReadings, {1}},        {C::ModuleOn, {1}},
        {C::ModuleOff, {1}},             {C::DryContactStateRead, {1}},
        {C::DryContactTypeRead, {4}},    {C::DryContactStateWrite, {4, 1}},
        {C::DryContactTypeWrite, {4, 0x12}}, {C::ClockSet, {2, 7, 9, 5, 1, 3, 24}},
        {C::HistoryCount, {0, 1, 1, 1, 1, 1}}, {C::HistoryRecord, {0, 0}},
        {C::EnergyMonth, {0x12}},        {C::ManualEqualizeWrite, {0}},
        {C::SleepIntervalWrite, {0, 24}}};
    for (const proto::CommandDef &c : proto::commands()) {
      Bytes d;
      if (const auto it = data.find(c.command); it != data.end())
        d = it->second;
      else if (c.kind == proto::CommandKind::Write)
        d = f.ask(c.cid1, uint8_t(c.cid2 + 1)).data;  // writes back what it holds
      const auto answer = f.c.answer(proto::encodeFrame(1, c.cid1, c.cid2, d));
      QVERIFY2(answer, c.name);
      const proto::Answer a = proto::checkAnswer(*answer);
      QVERIFY2(a.intact() && a.returnCode() == 0 && proto::answerFits(c.shape, a), c.name);
    }
  }

  // Every write the host sends is acknowledged when it writes back the value just read.
  void everyWriteOfTheHostIsAcknowledged() {
    Fixture f;
    const std::vector<std::pair<uint8_t, uint8_t>> writes = {
        {0x40, 0x05}, {0x40, 0x07}, {0x40, 0x09}, {0x40, 0x0B}, {0x41, 0x14}};
    std::vector<std::pair<uint8_t, uint8_t>> all = writes;
    for (uint8_t c2 : {0x18, 0x1A, 0x1C, 0x1E, 0x22, 0x24, 0x26, 0x28, 0x2A, 0x2C, 0x32, 0x34, 0x36, 0x38,
                       0x3A, 0x3C, 0x3E, 0x40, 0x44, 0x46, 0x48, 0x4A, 0x4C, 0x50, 0x52, 0x54, 0x56, 0x58,
                       0x5A, 0x5C, 0x5E, 0x60, 0x70, 0x72, 0x74, 0x76, 0x78, 0x7A, 0x7C, 0x7E, 0x80, 0x89,
                       0x91, 0x93})
      all.push_back({0x42, uint8_t(c2)});
    for (auto [c1, c2] : all) {
      Bytes value = f.ask(c1, uint8_t(c2 + 1)).data;
      if (c2 == 0x93) value.insert(value.begin(), 0x00);  // read as one byte, written as two
      QVERIFY2(f.rtn(c1, c2, value) == 0, qPrintable(QString("%1/%2").arg(c1, 2, 16).arg(c2, 2, 16)));
      QCOMPARE(f.ask(c1, uint8_t(c2 + 1)).data.size(), c2 == 0x93 ? value.size() - 1 : value.size());
    }
    QCOMPARE(f.rtn(0x42, 0x4E, {0x00}), 0);  // manual equalize, write only
    QCOMPARE(f.rtn(0x42, 0x85, {0x04, 0x01}), 0);
    QCOMPARE(f.rtn(0x42, 0x87, {0x04, 0x12}), 0);
    QCOMPARE(f.rtn(0x42, 0x8E, {2, 7, 9, 5, 1, 3, 24}), 0);
    QCOMPARE(f.rtn(0x41, 0x11, {0x01}), 0);
    QCOMPARE(f.rtn(0x41, 0x10, {0x01}), 0);
    QCOMPARE(f.rtn(0x42, 0x95), 0);
  }

  void parametersStartAtRealisticDefaultsAndKeepWhatIsWritten() {
    Fixture f;
    QCOMPARE(u16(f.ask(0x42, 0x3B).data, 0), 5350);  // float 53.50 V
    QCOMPARE(u16(f.ask(0x42, 0x4D).data, 0), 5640);  // equalize 56.40 V
    QCOMPARE(u16(f.ask(0x40, 0x06).data, 0), 2800);  // AC over-voltage 280.0 V
    QCOMPARE(u16(f.ask(0x40, 0x08).data, 0), 1800);  // AC under-voltage 180.0 V
    QCOMPARE(u16(f.ask(0x42, 0x57).data, 0), 200);   // battery 200 AH

    QCOMPARE(f.rtn(0x42, 0x3A, {0x15, 0x18}), 0);  // 54.00 V
    QCOMPARE(u16(f.ask(0x42, 0x3B).data, 0), 5400);
    QCOMPARE(f.rtn(0x40, 0x05, {0x0B, 0x54}), 0);  // 290.0 V
    QCOMPARE(u16(f.ask(0x40, 0x06).data, 0), 2900);
    QCOMPARE(f.rtn(0x42, 0x70, {0x27, 0x10}), 0);  // a gain of 10000
    QCOMPARE(u16(f.ask(0x42, 0x71).data, 0), 10000);
    // flags and choices travel as one byte
    QCOMPARE(f.rtn(0x42, 0x91, {0x01}), 0);
    QCOMPARE(f.ask(0x42, 0x92).data, Bytes{0x01});
    QCOMPARE(f.rtn(0x42, 0x80, {0x02}), 0);
    QCOMPARE(f.ask(0x42, 0x81).data, Bytes{0x02});
    // the sleep interval is written as two bytes and read as one
    QCOMPARE(f.rtn(0x42, 0x93, {0x00, 0x30}), 0);
    QCOMPARE(f.ask(0x42, 0x94).data, Bytes{0x30});
    // the low-temperature point is sign and magnitude: -10.0 C
    QCOMPARE(f.rtn(0x42, 0x2A, {0x80, 0x64}), 0);
    QCOMPARE(f.ask(0x42, 0x2B).data, (Bytes{0x80, 0x64}));
    // module count: acknowledged and read back
    QCOMPARE(f.rtn(0x42, 0x60, {0x00, 0x05}), 0);
    QCOMPARE(u16(f.ask(0x42, 0x61).data, 0), 5);
    // dry contacts: the read carries the contact, the answer the contact and the code
    QCOMPARE(f.rtn(0x42, 0x87, {0x03, 0x0A}), 0);
    QCOMPARE(f.rtn(0x42, 0x85, {0x01, 0x01}), 0);
    QCOMPARE(f.ask(0x42, 0x88, {0x03}).data, (Bytes{0x03, 0x0A}));
    QCOMPARE(f.ask(0x42, 0x86, {0x01}).data, (Bytes{0x01, 0x01}));
    QCOMPARE(f.ask(0x42, 0x86, {0x02}).data, (Bytes{0x02, 0x00}));
  }

  void refusalsCarryTheirReturnCodes() {
    Fixture f;
    // unknown commands, among them the language write and CID2 0
    QCOMPARE(f.rtn(0x42, 0x20, {0x01}), int(sim::kRtnUnknownCommand));
    QCOMPARE(f.rtn(0x40, 0x00), int(sim::kRtnUnknownCommand));
    QCOMPARE(f.rtn(0x45, 0x01), int(sim::kRtnUnknownCommand));
    QCOMPARE(f.rtn(0x42, 0x4F), int(sim::kRtnUnknownCommand));  // manual equalize has no read
    // wrong lengths
    QCOMPARE(f.rtn(0x42, 0x3A, {0x15}), int(sim::kRtnBadLength));
    QCOMPARE(f.rtn(0x42, 0x3A, {0x00, 0x15, 0x18}), int(sim::kRtnBadLength));
    QCOMPARE(f.rtn(0x42, 0x3C, {0x00, 0x01}), int(sim::kRtnBadLength));
    QCOMPARE(f.rtn(0x42, 0x88), int(sim::kRtnBadLength));
    QCOMPARE(f.rtn(0x42, 0x87, {0x01}), int(sim::kRtnBadLength));
    QCOMPARE(f.rtn(0x42, 0x8F, {0x01}), int(sim::kRtnBadLength));
    QCOMPARE(f.rtn(0x42, 0x8E, {0, 0, 0, 1, 1, 1}), int(sim::kRtnBadLength));
    QCOMPARE(f.rtn(0x41, 0x0E), int(sim::kRtnBadLength));
    QCOMPARE(f.rtn(0x44, 0x01), int(sim::kRtnBadLength));
    // out of range
    QCOMPARE(f.rtn(0x42, 0x3A, {0x1B, 0x58}), int(sim::kRtnBadData));  // float 70.00 V
    QCOMPARE(f.rtn(0x42, 0x3C, {0x02}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x42, 0x80, {0x03}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x42, 0x60, {0x00, 0x0D}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x42, 0x2A, {0x81, 0xF5}), int(sim::kRtnBadData));  // -50.1 C
    QCOMPARE(f.rtn(0x42, 0x88, {0x05}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x42, 0x87, {0x01, 0x13}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x42, 0x85, {0x01, 0x02}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x44, 0x01, {0x13}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x44, 0x01, {0x0A}), int(sim::kRtnBadData));  // not BCD
    QCOMPARE(f.rtn(0x44, 0x01, {0x00}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x42, 0x8E, {60, 0, 0, 1, 1, 1, 24}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x42, 0x8E, {0, 0, 0, 30, 1, 2, 24}), int(sim::kRtnBadData));  // 30 February
    QCOMPARE(f.rtn(0x42, 0x8E, {0, 0, 0, 1, 1, 13, 24}), int(sim::kRtnBadData));
    // a refused write leaves the value alone
    QCOMPARE(u16(f.ask(0x42, 0x3B).data, 0), 5350);
    QCOMPARE(u16(f.ask(0x42, 0x61).data, 0), 3);
  }

  void damagedFramesAndOtherAddressesGetSilence() {
    Fixture f;
    std::string good = proto::encodeFrame(1, 0x42, 0x16, {});
    QVERIFY(f.c.answer(good).has_value());
    QVERIFY(f.c.answer("##" + good).has_value());  // leading garbage is skipped
    std::string badSum = good;
    badSum[badSum.size() - 2] ^= 1;
    QVERIFY(!f.c.answer(badSum));
    QVERIFY(!f.c.answer(proto::encodeFrame(2, 0x42, 0x16, {})));
    QVERIFY(!f.c.answer(proto::encodeFrame(0, 0x42, 0x16, {})));
    QVERIFY(!f.c.answer("~01421600"));           // no carriage return
    QVERIFY(!f.c.answer("~0142\r"));             // too short
    QVERIFY(!f.c.answer("~014216018><\r"));      // LEN says one byte, none there
    QVERIFY(!f.c.answer(std::string(300, '?') + "\r"));
    QVERIFY(!f.c.answer(""));
    std::string hexy = "~01421600";  // hexadecimal letters are not nibble characters
    hexy += "8E\r";
    QVERIFY(!f.c.answer(hexy));

    Fixture other(ControllerConfig{7, {1}, 0, 1, {}});
    QVERIFY(!other.c.answer(good));
    QCOMPARE(other.c.answer(proto::encodeFrame(7, 0x42, 0x17, {})).value(),
             proto::encodeFrame(7, 0x42, 0, {0x01}));
  }

  void clockRunsFromTheHostTimeAndCanBeSet() {
    Fixture f;  // UTC 2024-03-04 23:30:15 is 07:30:15 on Tuesday 5 March at UTC+8
    QCOMPARE(f.ask(0x42, 0x8D).data, (Bytes{15, 30, 7, 5, 2, 3, 24}));
    f.now += 65 * 1000;
    QCOMPARE(f.ask(0x42, 0x8D).data, (Bytes{20, 31, 7, 5, 2, 3, 24}));
    // set to 2025-12-31 23:59:58 (the weekday byte is ignored), then two seconds pass
    QCOMPARE(f.rtn(0x42, 0x8E, {58, 59, 23, 31, 1, 12, 25}), 0);
    f.now += 2000;
    QCOMPARE(f.ask(0x42, 0x8D).data, (Bytes{0, 0, 0, 1, 4, 1, 26}));  // Thursday 2026-01-01
  }

  void statusFollowsMeasurementsAndThresholds() {
    Fixture f;
    Bytes d = f.ask(0x42, 0x16).data;
    const int bus = u16(d, 0);
    QVERIFY(bus > 5200 && bus < 5500);
    QVERIFY(u16(d, 2) < 0x8000);  // charging: positive battery current
    QCOMPARE(int(d[10]), 3);
    QCOMPARE(int(d[13]), 0);
    QCOMPARE(int(d[14]), 0);
    QCOMPARE(int(d[15]), 0);
    QCOMPARE(int(d[16]), 0x04);  // float charge
    // output over-voltage threshold below the bus voltage, module count above the modules
    QCOMPARE(f.rtn(0x42, 0x26, {0x0F, 0xA0}), 0);  // 40.00 V
    QCOMPARE(f.rtn(0x42, 0x60, {0x00, 0x04}), 0);
    d = f.ask(0x42, 0x16).data;
    QVERIFY(d[13] & 0x10);
    QVERIFY(d[14] & 0x08);
    // battery high temperature alarm below the battery temperature
    QCOMPARE(f.rtn(0x42, 0x2C, {0x00, 0x64}), 0);  // 10.0 C
    QVERIFY(f.ask(0x42, 0x16).data[15] & 0x40);
    // manual equalize: the charge state changes and the bus voltage rises towards 56.4 V
    QCOMPARE(f.rtn(0x42, 0x4E, {0x01}), 0);
    f.now += 60 * 1000;
    d = f.ask(0x42, 0x16).data;
    QCOMPARE(int(d[16]), 0x10);
    QVERIFY(u16(d, 0) > 5550);
    // AC over-voltage alarm from its threshold
    QCOMPARE(int(f.ask(0x40, 0x01).data[4]), 0);
    QCOMPARE(f.rtn(0x40, 0x05, {0x07, 0xD0}), 0);  // 200.0 V
    QCOMPARE(int(f.ask(0x40, 0x01).data[4]), 0x04);
  }

  void measurementsDriftButStayPlausible() {
    Fixture f;
    std::set<int> busValues;
    for (int i = 0; i < 200; ++i) {
      f.now += 7000;
      Bytes d = f.ask(0x42, 0x16).data;
      busValues.insert(u16(d, 0));
      QVERIFY(u16(d, 0) > 5250 && u16(d, 0) < 5450);
      QVERIFY(u16(d, 4) > 100 && u16(d, 4) < 400);      // load 10..40 A
      QVERIFY(u16(d, 6) > 150 && u16(d, 6) < 350);      // battery 15..35 C
      QVERIFY(u16(d, 11) > 200 && u16(d, 11) < 800);    // humidity 20..80 %
      const int ac = u16(f.ask(0x40, 0x01).data, 0);
      QVERIFY(ac > 2000 && ac < 2400);
    }
    QVERIFY(busValues.size() > 3);  // it does move
  }

  void modulesAnswerAndSwitch() {
    Fixture f(ControllerConfig{1, {1, 10, 12}, 0, 3, {}});
    QCOMPARE(f.ask(0x42, 0x17).data, (Bytes{0x01, 0x0A, 0x0C}));
    Bytes m1 = f.ask(0x41, 0x0E, {0x01}).data;
    QVERIFY(u16(m1, 1) > 5200 && u16(m1, 1) < 5500);
    QVERIFY(u16(m1, 3) > 0);
    QCOMPARE(m1[9] & 0x84, 0);
    // module 10 is named by its plain number, as the module list carries it
    QCOMPARE(int(f.ask(0x41, 0x0E, {0x0A}).data[0]), 10);
    QCOMPARE(f.rtn(0x41, 0x0E, {0x0C}), 0);
    QCOMPARE(f.rtn(0x41, 0x0E, {0x10}), int(sim::kRtnBadData));  // not module 10
    QCOMPARE(f.rtn(0x41, 0x0E, {0x12}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x41, 0x0E, {0x0B}), int(sim::kRtnBadData));  // 11 is not fitted
    QCOMPARE(f.rtn(0x41, 0x0E, {0x00}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x41, 0x0E, {0x0D}), int(sim::kRtnBadData));
    QCOMPARE(f.rtn(0x41, 0x11, {0x05}), int(sim::kRtnBadData));
    // off: status bit 0x04, no output; the others carry the load
    QCOMPARE(f.rtn(0x41, 0x11, {0x0A}), 0);
    QVERIFY(!f.c.moduleOn(10));
    Bytes off = f.ask(0x41, 0x0E, {0x0A}).data;
    QCOMPARE(off[9] & 0x04, 0x04);
    QCOMPARE(u16(off, 3), 0);
    QCOMPARE(f.rtn(0x41, 0x10, {0x0A}), 0);
    QCOMPARE(f.ask(0x41, 0x0E, {0x0A}).data[9] & 0x04, 0);
    // all off: the battery discharges and the bus voltage sags
    for (uint8_t n : {0x01, 0x0A, 0x0C}) QCOMPARE(f.rtn(0x41, 0x11, {n}), 0);
    f.now += 60 * 1000;
    Bytes d = f.ask(0x42, 0x16).data;
    QVERIFY(u16(d, 2) > 0x8000);  // negative battery current
    QVERIFY(u16(d, 0) < 5200);
  }

  void alarmsAndModuleFaultsOnDemand() {
    ControllerConfig cfg{1, {2, 5}, 0, 4};
    cfg.alarms.status[14 - 13] = 0x06;  // both fuses
    cfg.alarms.status[17 - 13] = 0x0F;  // every sensor
    cfg.alarms.ac = 0x20;
    cfg.moduleFaults[5] = {3, 0x20};
    Fixture f(cfg);
    Bytes d = f.ask(0x42, 0x16).data;
    QCOMPARE(d[14] & 0x06, 0x06);
    QCOMPARE(int(d[17]), 0x0F);
    QCOMPARE(f.ask(0x40, 0x01).data[4] & 0x20, 0x20);
    Bytes m5 = f.ask(0x41, 0x0E, {0x05}).data, m2 = f.ask(0x41, 0x0E, {0x02}).data;
    QCOMPARE(int(m5[10]), 3);
    QCOMPARE(m5[9] & 0x20, 0x20);
    QCOMPARE(int(m2[10]), 0);
    // random alarms come from the seed: the same seed, the same alarms
    ControllerConfig random{1, {1}, 0, 7};
    random.alarmRate = 0.5;
    Fixture a(random), b(random);
    Bytes sa, sb;
    for (int i = 0; i < 8; ++i) {
      sa.push_back(a.ask(0x42, 0x16).data[17]);
      sb.push_back(b.ask(0x42, 0x16).data[17]);
    }
    QCOMPARE(sa, sb);
    QVERIFY(std::any_of(sa.begin(), sa.end(), [](uint8_t v) { return v != 0; }));
  }

  void historyRecordsAreValidAndCanBeCleared() {
    Fixture f(ControllerConfig{1, {1, 2}, 25, 9, {}});
    QCOMPARE(u16(f.ask(0x42, 0x90, {0, 1, 1, 1, 1, 1}).data, 0), 25);
    QString previous;
    for (int i = 0; i < 25; ++i) {
      Bytes r = f.ask(0x42, 0x8F, {0x00, uint8_t(i)}).data;
      for (int k = 0; k < 6; ++k) QVERIFY((r[k] >> 4) <= 9 && (r[k] & 0x0F) <= 9);
      QVERIFY(bcd(r[1]) >= 1 && bcd(r[1]) <= 12 && bcd(r[2]) >= 1 && bcd(r[2]) <= 31);
      QVERIFY(bcd(r[3]) <= 23 && bcd(r[4]) <= 59 && bcd(r[5]) <= 59);
      QVERIFY(r[6] >= 1 && r[6] <= 8);
      const int maxCode = r[6] == 1 ? 13 : r[6] == 2 ? 8 : r[6] == 3 ? 9 : 2;
      QVERIFY(r[7] >= 1 && r[7] <= maxCode);
      // index 0 is the oldest record
      QString when = QString::asprintf("%02X%02X%02X%02X%02X%02X", r[0], r[1], r[2], r[3], r[4], r[5]);
      QVERIFY(when > previous);
      previous = when;
    }
    QCOMPARE(f.ask(0x42, 0x8F, {0x00, 25}).data, Bytes(8, 0));  // beyond the end: empty record
    QCOMPARE(f.rtn(0x42, 0x95), 0);
    QCOMPARE(u16(f.ask(0x42, 0x90).data, 0), 0);
    QCOMPARE(f.ask(0x42, 0x8F, {0x00, 0x00}).data, Bytes(8, 0));
  }

  void givenHistoryIsServedAsIs() {
    ControllerConfig cfg;
    cfg.records = 40;  // replaced by the given records
    cfg.history = {{0x24, 0x12, 0x31, 0x23, 0x59, 0x00, 9, 1}, {0, 0, 0, 0, 0, 0, 0, 0}};
    Fixture f(cfg);
    QCOMPARE(u16(f.ask(0x42, 0x90).data, 0), 2);
    QCOMPARE(f.ask(0x42, 0x8F, {0x00, 0x00}).data, (Bytes{0x24, 0x12, 0x31, 0x23, 0x59, 0x00, 9, 1}));
    QCOMPARE(f.ask(0x42, 0x8F, {0x00, 0x01}).data, Bytes(8, 0));
  }

  void energyCountersAddUp() {
    Fixture f;
    auto energy = [](const Bytes &d, int offset, int user) {
      std::size_t i = std::size_t(offset + 4 * user);
      return (uint32_t(d[i]) << 24) | (uint32_t(d[i + 1]) << 16) | (uint32_t(d[i + 2]) << 8) | d[i + 3];
    };
    Bytes today = f.ask(0x44, 0x0E).data, month = f.ask(0x44, 0x0F).data, year = f.ask(0x44, 0x10).data,
          total = f.ask(0x44, 0x0D).data;
    for (const Bytes *d : {&today, &month, &year, &total}) {
      int sum = (*d)[16] + (*d)[17] + (*d)[18] + (*d)[19];
      QVERIFY(sum >= 99 && sum <= 101);
    }
    for (int u = 0; u < 4; ++u) {
      QVERIFY(energy(today, 0, u) > 0);
      QVERIFY(energy(today, 0, u) <= energy(month, 0, u));
      QVERIFY(energy(month, 0, u) <= energy(year, 0, u));
      QVERIFY(energy(year, 0, u) < energy(total, 0, u));
    }
    // months: the controller is in March 2024; January is this year's, April last year's
    Bytes jan = f.ask(0x44, 0x01, {0x01}).data, apr = f.ask(0x44, 0x01, {0x04}).data;
    QCOMPARE(int(jan[0]), 0x01);
    QCOMPARE(int(apr[0]), 0x04);
    QCOMPARE(int(jan[21]), 24);
    QCOMPARE(int(jan[22]), 3);
    QCOMPARE(f.ask(0x44, 0x01, {0x12}).data[0], uint8_t(0x12));
    QVERIFY(jan[17] + jan[18] + jan[19] + jan[20] >= 99);
    // this year's total is the finished months plus this month so far
    Bytes feb = f.ask(0x44, 0x01, {0x02}).data;
    for (int u = 0; u < 4; ++u) QCOMPARE(energy(year, 0, u), energy(jan, 1, u) + energy(feb, 1, u) + energy(month, 0, u));
    // the same month asked twice gives the same record
    QCOMPARE(f.ask(0x44, 0x01, {0x04}).data, apr);
  }

  // Whatever arrives, the controller answers sound frames with a sound frame of the right
  // shape, stays silent otherwise and keeps working.
  void randomRequestsNeverBreakIt() {
    Fixture f(ControllerConfig{1, {1, 5, 10, 12}, 5, 4, {}});
    sim::Rng rng(99);
    int answered = 0;
    for (int i = 0; i < 20000; ++i) {
      f.now += rng.range(0, 5000);
      Bytes data(std::size_t(rng.range(0, 12)));
      for (auto &b : data) b = uint8_t(rng.range(0, 255));
      const uint8_t c1 = uint8_t(0x40 + rng.range(0, 5)), c2 = uint8_t(rng.range(0, 255));
      std::string req = proto::encodeFrame(1, c1, c2, data);
      if (i % 3 == 0) req[std::size_t(rng.range(0, int(req.size()) - 1))] = char(rng.range(0, 255));
      auto a = f.c.answer(req);
      if (!a) continue;
      ++answered;
      auto p = proto::parseFrame(*a);
      QVERIFY(p.error == proto::FrameError::None);
      QCOMPARE(int(p.frame.cid1), int(proto::parseFrame(req).frame.cid1));
      const int rtn = p.frame.cid2OrRtn;
      QVERIFY(rtn == 0 || rtn == 4 || rtn == 5 || rtn == 6);
      if (rtn != 0) QVERIFY(p.frame.data.empty());
    }
    QVERIFY(answered > 10000);
    QCOMPARE(f.ask(0x42, 0x16).data.size(), std::size_t(18));
    // module numbers and parameters stay within their ranges whatever was written
    const Bytes d = f.ask(0x42, 0x16).data;
    QVERIFY(u16(d, 0) >= 4000 && u16(d, 0) <= 6000);
    QVERIFY(u16(f.ask(0x42, 0x61).data, 0) <= 12);
  }

  void sameSeedAndClockGiveTheSameController() {
    Fixture a, b;
    Fixture c(ControllerConfig{1, {1, 2, 3}, 10, 2, {}});
    bool differs = false;
    for (int i = 0; i < 30; ++i) {
      a.now += 3000;
      b.now += 3000;
      c.now += 3000;
      QCOMPARE(a.ask(0x42, 0x16).data, b.ask(0x42, 0x16).data);
      QCOMPARE(a.ask(0x42, 0x8F, {0, uint8_t(i % 10)}).data, b.ask(0x42, 0x8F, {0, uint8_t(i % 10)}).data);
      differs = differs || a.ask(0x42, 0x16).data != c.ask(0x42, 0x16).data;
    }
    QVERIFY(differs);
  }
};

QTEST_GUILESS_MAIN(TestSimController)
#include "test_sim_controller.moc"
