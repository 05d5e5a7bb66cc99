// Request reassembly, fault injection, statistics and the command line of the simulator.
#include <QtTest>

#include "protocol/Frame.h"
#include "sim/Faults.h"
#include "sim/FrameAssembler.h"
#include "sim/Options.h"
#include "sim/Stats.h"

namespace {

const int64_t kFixedUtc = 1709595015000;  // any fixed time

struct Counts {
  int silent = 0, rtn = 0, checksum = 0, noise = 0, split = 0, late = 0, clean = 0;
};

Counts run(const sim::FaultConfig &cfg, int requests, std::vector<std::string> *trace = nullptr) {
  sim::Controller c(sim::ControllerConfig{}, [] { return kFixedUtc; });
  sim::Responder r(c, cfg);
  Counts n;
  const std::string request = proto::encodeFrame(1, 0x42, 0x3B, {});
  for (int i = 0; i < requests; ++i) {
    sim::Plan p = r.respond(request);
    std::string all;
    for (const auto &piece : p.pieces) all += piece.bytes;
    if (trace) trace->push_back(all);
    if (p.pieces.empty()) {
      ++n.silent;
      continue;
    }
    const bool isNoisy = all[0] != '~';
    const bool isSplit = p.pieces.size() == 2;
    const bool isLate = p.pieces[0].delayMs == cfg.lateDelayMs;
    auto parsed = proto::parseFrame(all);
    const bool badSum = parsed.error == proto::FrameError::BadChecksum;
    const bool failed = parsed.error == proto::FrameError::None && parsed.frame.cid2OrRtn == sim::kRtnFailed;
    if (parsed.error == proto::FrameError::None && !failed && parsed.frame.cid2OrRtn != 0) qFatal("unexpected return code");
    if (isSplit && p.pieces[1].delayMs <= 100) qFatal("split pause too short");
    n.noise += isNoisy;
    n.split += isSplit;
    n.late += isLate;
    n.checksum += badSum;
    n.rtn += failed;
    n.clean += !isNoisy && !isSplit && !isLate && !badSum && !failed;
  }
  return n;
}

}  // namespace

class TestSimFaults : public QObject {
  Q_OBJECT
 private slots:
  void assemblerReassemblesSplitAndJoinedRequests() {
    sim::FrameAssembler a;
    const std::string f1 = proto::encodeFrame(1, 0x42, 0x16, {}), f2 = proto::encodeFrame(1, 0x40, 0x01, {});
    QCOMPARE(a.feed(f1.substr(0, 3)), std::size_t(0));
    QCOMPARE(a.feed(f1.substr(3)), std::size_t(1));
    QCOMPARE(a.takeFrame(), f1);
    QCOMPARE(a.feed("xx" + f1 + "\r\n junk" + f2 + f1.substr(0, 5)), std::size_t(2));
    QCOMPARE(a.takeFrame(), f1);
    QCOMPARE(a.takeFrame(), f2);
    QVERIFY(!a.hasFrame());
    // a "~" inside an unfinished frame starts it again
    QCOMPARE(a.feed(f1), std::size_t(1));
    QCOMPARE(a.takeFrame(), f1);
    // endless input without a carriage return stays bounded
    for (int i = 0; i < 1000; ++i) a.feed("~0123456789:;<=>?0123456789");
    QVERIFY(a.pendingSize() <= sim::FrameAssembler::kMaxPending);
    a.feed(std::string(100000, 'A'));
    QVERIFY(a.pendingSize() <= sim::FrameAssembler::kMaxPending);
    QVERIFY(!a.hasFrame());
    a.clear();
    QCOMPARE(a.feed(f2), std::size_t(1));
    QCOMPARE(a.takeFrame(), f2);
  }

  void eachFaultAppearsAtItsRate_data() {
    QTest::addColumn<QString>("kind");
    for (const char *k : {"silent", "rtn", "checksum", "noise", "split", "late"}) QTest::newRow(k) << QString(k);
  }
  void eachFaultAppearsAtItsRate() {
    QFETCH(QString, kind);
    sim::FaultConfig cfg;
    cfg.seed = 42;
    cfg.lateDelayMs = 1234;
    double *rate = kind == "silent" ? &cfg.silent : kind == "rtn" ? &cfg.rtn : kind == "checksum" ? &cfg.checksum
                 : kind == "noise"  ? &cfg.noise  : kind == "split" ? &cfg.split : &cfg.late;
    *rate = 0.25;
    Counts n = run(cfg, 400);
    const int counts[] = {n.silent, n.rtn, n.checksum, n.noise, n.split, n.late};
    const char *names[] = {"silent", "rtn", "checksum", "noise", "split", "late"};
    for (int i = 0; i < 6; ++i) {
      if (kind == names[i]) QVERIFY2(counts[i] >= 70 && counts[i] <= 130, qPrintable(QString::number(counts[i])));
      else QCOMPARE(counts[i], 0);
    }
    QCOMPARE(n.clean + counts[0] + counts[1] + counts[2] + counts[3] + counts[4] + counts[5], 400);
  }

  void faultsFollowTheSeed() {
    sim::FaultConfig cfg;
    cfg.silent = cfg.rtn = cfg.checksum = cfg.noise = cfg.split = cfg.late = 0.1;
    std::vector<std::string> a, b, c;
    cfg.seed = 7;
    run(cfg, 200, &a);
    run(cfg, 200, &b);
    cfg.seed = 8;
    run(cfg, 200, &c);
    QCOMPARE(a, b);
    QVERIFY(a != c);
    // rates 0 and 1
    sim::FaultConfig none;
    QCOMPARE(run(none, 50).clean, 50);
    sim::FaultConfig always;
    always.checksum = 1;
    QCOMPARE(run(always, 50).checksum, 50);
  }

  void silenceAndRefusalLeaveTheStateAlone() {
    sim::Controller c(sim::ControllerConfig{}, [] { return kFixedUtc; });
    sim::FaultConfig cfg;
    cfg.silent = 1;
    sim::Responder silent(c, cfg);
    QVERIFY(silent.respond(proto::encodeFrame(1, 0x42, 0x3A, {0x15, 0x18})).pieces.empty());
    cfg.silent = 0;
    cfg.rtn = 1;
    sim::Responder failing(c, cfg);
    QVERIFY(!failing.respond(proto::encodeFrame(1, 0x42, 0x3A, {0x15, 0x18})).pieces.empty());
    QCOMPARE(c.parameter(0x42, 0x3B).value(), 5350);
    // frames that get no answer in any case do not use up the fault sequence
    sim::Plan p = failing.respond(proto::encodeFrame(9, 0x42, 0x3B, {}));
    QVERIFY(!p.addressed && p.pieces.empty());
  }

  void statsLines() {
    sim::Stats s;
    QCOMPARE(s.lines(), std::vector<std::string>{"stats turnaround samples=0 median_us=0 p99_us=0"});
    s.answered(0x42, 0x16);
    s.answered(0x42, 0x16);
    s.answered(0x40, 0x01);
    s.dataArrived(5);  // no answer written yet: not a turnaround
    for (int i = 1; i <= 100; ++i) {
      s.answerWritten(1000 * i);
      s.dataArrived(1000 * i + i * 10);
      s.dataArrived(1000 * i + 999);  // only the first arrival counts
    }
    s.answerWritten(5);
    s.linkReset();
    s.dataArrived(100000);
    QCOMPARE(s.lines(), (std::vector<std::string>{"stats answered 40/01 1", "stats answered 42/16 2",
                                                  "stats turnaround samples=100 median_us=500 p99_us=990"}));
  }

  void commandLine() {
    std::string err;
    auto o = sim::parseOptions({}, err);
    QVERIFY(o && o->tcp && !o->pty && o->listenPort == 5001 && o->listenHost == "127.0.0.1");
    QCOMPARE(o->controller.modules, (std::vector<int>{1, 2, 3}));
    o = sim::parseOptions({"--pty", "--modules", "1,3,7", "--address", "5", "--seed", "9", "--fault-late", "0.5",
                           "--delay-ms", "300", "--records", "0", "--baud", "9600"},
                          err);
    QVERIFY(o && !o->tcp && o->pty);
    QCOMPARE(o->controller.modules, (std::vector<int>{1, 3, 7}));
    QCOMPARE(int(o->controller.address), 5);
    QCOMPARE(o->faults.seed, uint64_t(9));
    QCOMPARE(o->faults.late, 0.5);
    QCOMPARE(o->faults.lateDelayMs, 300);
    QCOMPARE(o->baud, 9600);
    o = sim::parseOptions({"--link", "/tmp/x", "--listen", "127.0.0.1:0"}, err);
    QVERIFY(o && o->tcp && o->pty && o->listenPort == 0 && o->link == "/tmp/x");
    // listening beyond this machine is allowed, with a warning
    for (auto [listen, warns] : std::vector<std::pair<const char *, bool>>{
             {"127.0.0.1:0", false}, {"127.0.0.2:0", false}, {"localhost:0", false}, {"::1:0", false},
             {"0.0.0.0:5001", true}, {"192.168.1.10:5001", true}}) {
      o = sim::parseOptions({"--listen", listen}, err);
      QVERIFY(o);
      QCOMPARE(!sim::listenWarning(*o).empty(), warns);
    }
    o = sim::parseOptions({"--pty"}, err);
    QVERIFY(o && sim::listenWarning(*o).empty());
    o = sim::parseOptions({"--modules", ""}, err);
    QVERIFY(o && o->controller.modules.empty());
    o = sim::parseOptions({"--version"}, err);
    QVERIFY(o && o->version && !o->help);
    QVERIFY(QByteArray(sim::usageText()).contains("--version"));
    o = sim::parseOptions({"--alarms", "load-fuse,battery-fuse,smoke,ac-breaker", "--module-fault", "3:3:0x24",
                           "--module-fault", "12:1", "--alarm-rate", "0.25"},
                          err);
    QVERIFY(o);
    QCOMPARE(int(o->controller.alarms.status[14 - 13]), 0x06);
    QCOMPARE(int(o->controller.alarms.status[17 - 13]), 0x01);
    QCOMPARE(int(o->controller.alarms.ac), 0x20);
    QCOMPARE(int(o->controller.moduleFaults.at(3).code), 3);
    QCOMPARE(int(o->controller.moduleFaults.at(3).status), 0x24);
    QCOMPARE(int(o->controller.moduleFaults.at(12).status), 0);
    QCOMPARE(o->controller.alarmRate, 0.25);
    o = sim::parseOptions({"--record", "241231235958:3:5", "--record", "000000000000:0:255"}, err);
    QVERIFY(o);
    QCOMPARE(o->controller.history.size(), std::size_t(2));
    QVERIFY((o->controller.history[0] == std::array<uint8_t, 8>{0x24, 0x12, 0x31, 0x23, 0x59, 0x58, 3, 5}));
    QVERIFY((o->controller.history[1] == std::array<uint8_t, 8>{0, 0, 0, 0, 0, 0, 0, 255}));
    for (auto bad : std::vector<std::vector<std::string>>{{"--modules", "1,13"}, {"--modules", "0"},
                                                          {"--fault-silent", "1.5"}, {"--fault-rtn", "x"},
                                                          {"--listen", "5001"}, {"--address", "256"},
                                                          {"--seed"}, {"--frobnicate"}, {"--fault-bogus", "0.1"},
                                                          {"--alarms", "fire"}, {"--alarm-rate", "2"},
                                                          {"--module-fault", "13:1"}, {"--module-fault", "3"},
                                                          {"--module-fault", "3:256"}, {"--module-fault", "3:1:2:4"},
                                                          {"--record", "24123123595:3:5"}, {"--record", "2412312359G8:3:5"},
                                                          {"--record", "241231235958:3"}, {"--record", "241231235958:256:1"},
                                                          {"--record", "241231235958:3:x"}}) {
      err.clear();
      QVERIFY(!sim::parseOptions(bad, err));
      QVERIFY(!err.empty());
    }
  }
};

QTEST_GUILESS_MAIN(TestSimFaults)
#include "test_sim_faults.moc"
