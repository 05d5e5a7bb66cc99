// The exchange alone, against literal chunks: one request on the line, the order requests
// wait in, the answer's shape, time-outs and how the line comes back in step after them, and
// chunks nobody asked for. Time is driven by hand. The last test runs the exchange against a
// model controller that answers every request in order, however late.
#include <QTest>

#include <map>

#include "link/ChunkCutter.h"
#include "link/Exchange.h"
#include "protocol/Frame.h"
#include "sim/Rng.h"

namespace {

// Requests and answers as the line carries them.
std::string request(uint8_t cid1, uint8_t cid2, std::vector<uint8_t> data = {}, uint8_t adr = 1) {
  return proto::encodeFrame(adr, cid1, cid2, data);
}
std::string answer(uint8_t cid1, uint8_t rtn, std::vector<uint8_t> data) { return proto::encodeFrame(1, cid1, rtn, data); }
// "42/16": the CID pair of a request frame.
std::string cids(const std::string &frame) {
  const proto::FrameParse p = proto::parseFrame(frame);
  char s[8];
  std::snprintf(s, sizeof s, "%02X/%02X", p.frame.cid1, p.frame.cid2OrRtn);
  return s;
}
// Any text after a start mark, closed with its checksum and the end mark.
std::string sealed(const std::string &text) {
  const uint8_t sum = proto::checksum(std::string_view(text).substr(1));
  return text + proto::nibbleChar(sum >> 4) + proto::nibbleChar(sum) + proto::kEndMark;
}
std::string damaged(std::string frame) {
  frame[frame.size() - 2] = frame[frame.size() - 2] == '0' ? '1' : '0';
  return frame;
}

const std::string kAc = answer(0x40, 0, {0x08, 0x98, 0, 0x3C, 0});  // 40/01: 220.0 V
const std::string kStatus = answer(0x42, 0, std::vector<uint8_t>(18, 0x11));
const std::string kWord = answer(0x40, 0, {0x0A, 0xF8});  // a two-byte read: 280.8
const std::string kAck = "~0140000085\r";                 // an acknowledgement, as the controller sends it

struct Line {
  std::vector<std::string> sent, answered, timedOut, strays;
  int timer = 0;  // the running timer's length, 0 when none runs
  bool linkUp = true;
  std::unique_ptr<Exchange> x;
  Line() {
    Exchange::Hooks h;
    h.send = [this](const Exchange::Request &r) {
      sent.push_back(cids(r.frame) + (r.resync ? " resync" : ""));
      return linkUp;
    };
    h.startTimer = [this](int ms) { timer = ms; };
    h.stopTimer = [this] { timer = 0; };
    h.answer = [this](const Exchange::Request &r, std::string_view c, int64_t) {
      answered.push_back(cids(r.frame) + "=" + std::string(c));
    };
    h.timedOut = [this](const Exchange::Request &r) { timedOut.push_back(cids(r.frame)); };
    h.stray = [this](std::string_view c, int64_t, Exchange::Stray k) {
      static const char *const kinds[] = {"late:", "unasked:", "mismatched:", "resynced:"};
      strays.push_back(kinds[static_cast<int>(k)] + std::string(c));
    };
    x = std::make_unique<Exchange>(std::move(h));
  }
  void submit(uint8_t cid1, uint8_t cid2, bool background = false) {
    Exchange::Request r;
    r.frame = request(cid1, cid2);
    r.cid1 = cid1;
    r.cid2 = cid2;
    r.background = background;
    x->submit(std::move(r));
  }
};

using Strings = std::vector<std::string>;

}  // namespace

class TestExchange : public QObject {
  Q_OBJECT
 private slots:
  void oneRequestOnTheLineInOrder() {
    Line l;
    l.submit(0x42, 0x16, true);
    l.submit(0x40, 0x06);
    l.submit(0x40, 0x01, true);
    l.submit(0x40, 0x08);
    // the poll went out at once; the operator's two reads go before the next poll
    QCOMPARE(l.sent, (Strings{"42/16"}));
    QCOMPARE(l.timer, Exchange::kTimeoutMs);
    for (const std::string &a : {kStatus, kWord, kWord, kAc}) l.x->chunk(a);
    QCOMPARE(l.sent, (Strings{"42/16", "40/06", "40/08", "40/01"}));
    QCOMPARE(l.answered, (Strings{"42/16=" + kStatus, "40/06=" + kWord, "40/08=" + kWord, "40/01=" + kAc}));
    QVERIFY(l.x->idle() && l.x->inStep());
    QCOMPARE(l.timer, 0);
  }

  void aRequestSubmittedWhileAnAnswerIsDecodedWaitsItsTurn() {
    std::vector<std::string> sent;
    Exchange *self = nullptr;
    Exchange::Hooks h;
    h.send = [&](const Exchange::Request &r) {
      sent.push_back(cids(r.frame));
      return true;
    };
    h.answer = [&](const Exchange::Request &r, std::string_view, int64_t) {
      if (r.cid2 == 0x06) {
        Exchange::Request next;
        next.frame = request(0x40, 0x0A);
        next.cid1 = 0x40;
        next.cid2 = 0x0A;
        self->submit(next);
        QCOMPARE(sent.size(), size_t(1));  // not sent from inside the decoder
      }
    };
    Exchange x(h);
    self = &x;
    for (uint8_t cid2 : {0x06, 0x08}) {
      Exchange::Request r;
      r.frame = request(0x40, cid2);
      r.cid1 = 0x40;
      r.cid2 = cid2;
      x.submit(r);
    }
    x.chunk(kWord);
    QCOMPARE(sent, (Strings{"40/06", "40/08"}));
    x.chunk(kWord);
    QCOMPARE(sent, (Strings{"40/06", "40/08", "40/0A"}));
  }

  // An answer of another shape than its request's is logged and not decoded, and the request
  // waits on; a refusal answers any request; a write waits for an acknowledgement without data.
  void onlyAnAnswerOfItsShapeIsDecoded() {
    Line l;
    l.submit(0x40, 0x06);
    l.x->chunk(kAc);                                    // five bytes for a two-byte read
    l.x->chunk(answer(0x40, 0, {}));                    // none
    std::string noEnd = kWord;
    noEnd.back() = '0';
    l.x->chunk(noEnd);                                  // its sum is right, its end mark missing
    l.x->chunk(sealed("~014000030:?8"));               // three bytes announced, two carried
    QCOMPARE(l.strays.size(), size_t(4));
    for (const std::string &s : l.strays) QVERIFY2(s.rfind("mismatched:", 0) == 0, s.c_str());
    QVERIFY(l.answered.empty());
    QCOMPARE(l.timer, Exchange::kTimeoutMs);  // still waiting for its own
    l.x->chunk(kWord);
    QCOMPARE(l.answered, (Strings{"40/06=" + kWord}));

    const std::string refused = "~0140010086\r";
    l.submit(0x42, 0x16);
    l.x->chunk(refused);
    l.submit(0x40, 0x05);  // a write
    l.x->chunk(kWord);
    l.x->chunk(kAck);
    l.submit(0x42, 0x17);  // the module list: up to twelve numbers
    for (const auto &list : std::vector<std::vector<uint8_t>>{std::vector<uint8_t>(13, 1), {1, 3, 7}})
      l.x->chunk(answer(0x42, 0, list));
    QCOMPARE(l.answered, (Strings{"40/06=" + kWord, "42/16=" + refused, "40/05=" + kAck,
                                  "42/17=" + answer(0x42, 0, {1, 3, 7})}));
    QCOMPARE(l.strays.size(), size_t(4 + 1 + 1));
    QVERIFY(l.x->inStep());
  }

  // A damaged chunk ends the request. Framed with the request's shape it was the request's
  // answer; otherwise that answer may still come, and the line is out of step.
  void aDamagedAnswerEndsItsRequest() {
    Line l;
    l.submit(0x40, 0x06);
    l.x->chunk(damaged(kWord));
    QCOMPARE(l.answered, (Strings{"40/06=" + damaged(kWord)}));
    QVERIFY(l.x->inStep());
    l.submit(0x40, 0x08);
    l.x->chunk("~014000\r");  // half a frame
    QCOMPARE(l.answered.back(), std::string("40/08=~014000\r"));
    QVERIFY(!l.x->inStep());
    QCOMPARE(l.timer, 0);
    // its answer comes: late, and the line is in step again without a read of its own
    l.x->chunk(kWord);
    QCOMPARE(l.strays.back(), "late:" + kWord);
    QVERIFY(l.x->inStep());
    QCOMPARE(l.sent, (Strings{"40/06", "40/08"}));
  }

  // After a time-out nothing is decoded until the line is back in step: the late answer is
  // logged, a read of the exchange's own whose answer has another shape goes first, and only
  // then what waited.
  void afterATimeOutTheLineComesBackInStep() {
    Line l;
    l.submit(0x40, 0x06);
    l.x->timerExpired();
    QCOMPARE(l.timedOut, (Strings{"40/06"}));
    QVERIFY(!l.x->inStep());
    QCOMPARE(l.sent.size(), size_t(1));  // nothing waits: nothing is sent
    l.submit(0x40, 0x08);
    QCOMPARE(l.sent, (Strings{"40/06", "40/01 resync"}));
    l.x->chunk(kWord);  // the answer to 40/06, late: not 40/08's
    QCOMPARE(l.strays, (Strings{"late:" + kWord}));
    QCOMPARE(l.sent.size(), size_t(2));
    l.x->chunk(kAc);
    QCOMPARE(l.strays.back(), "resynced:" + kAc);
    QCOMPARE(l.sent, (Strings{"40/06", "40/01 resync", "40/08"}));
    l.x->chunk(kWord);
    QCOMPARE(l.answered, (Strings{"40/08=" + kWord}));

    // a late answer that comes before anything waits costs nothing
    l.submit(0x40, 0x0A);
    l.x->timerExpired();
    l.x->chunk(kWord);
    QVERIFY(l.x->inStep());
    l.submit(0x40, 0x0C);
    QCOMPARE(l.sent.back(), std::string("40/0C"));

    // the late answer and the resync read's in one read of the link: two chunks
    l.x->timerExpired();
    l.submit(0x40, 0x08);
    l.x->chunk(kWord);
    l.x->chunk(kAc);
    l.x->chunk(kWord);
    QCOMPARE(l.answered.back(), "40/08=" + kWord);
    QVERIFY(l.x->inStep());
  }

  // The resync read is one whose answer fits no owed request: the AC read, the status read
  // after an AC read (or after the module list, which may be five long). A resync read that
  // times out is owed too and the next one follows; what waited behind two unanswered resync
  // reads times out.
  void theResyncReadFitsNothingOwed() {
    Line l;
    l.submit(0x40, 0x01, true);
    l.x->timerExpired();
    l.submit(0x40, 0x06);
    QCOMPARE(l.sent.back(), std::string("42/16 resync"));
    l.x->timerExpired();
    // 40/01 and 42/16 are both owed: the read sent last goes again; its answer will settle
    // the oldest owed of its shape
    QCOMPARE(l.sent.back(), std::string("42/16 resync"));
    QCOMPARE(l.timedOut, (Strings{"40/01"}));
    l.submit(0x42, 0x17, true);  // came after that read went: waits for two more
    l.x->timerExpired();
    QCOMPARE(l.timedOut, (Strings{"40/01", "40/06"}));
    QCOMPARE(l.sent.back(), std::string("42/16 resync"));
    QCOMPARE(l.sent.size(), size_t(4));
    l.x->chunk(kStatus);
    QCOMPARE(l.strays.back(), "late:" + kStatus);  // 40/01 lost, the first 42/16's answer
    l.x->chunk(kStatus);
    QCOMPARE(l.strays.back(), "late:" + kStatus);  // the second 42/16's
    QVERIFY(!l.x->inStep());
    l.x->chunk(kStatus);
    QCOMPARE(l.strays.back(), "resynced:" + kStatus);
    QCOMPARE(l.sent.back(), std::string("42/17"));
    QVERIFY(l.x->inStep());

    // a module list owed: not the AC read, whose answer a list of five could be mistaken for
    Line m;
    m.submit(0x42, 0x17);
    m.x->timerExpired();
    m.submit(0x42, 0x17);
    QCOMPARE(m.sent.back(), std::string("42/16 resync"));
    // a request the catalogue does not know is owed any answer: the AC read, then the same
    Line u;
    u.submit(0x12, 0x34);
    u.x->timerExpired();
    u.submit(0x40, 0x06);
    QCOMPARE(u.sent.back(), std::string("40/01 resync"));
    u.x->timerExpired();
    u.submit(0x40, 0x06);
    QCOMPARE(u.sent.back(), std::string("40/01 resync"));
    u.x->chunk(kAc);  // the unknown request's, or the first resync's: late either way
    QVERIFY(!u.x->inStep());
    u.x->chunk(kAc);
    u.x->chunk(kAc);
    QVERIFY(u.x->inStep());
  }

  // The resync read goes to the address of the request that waits, and a request that never
  // went out (no link yet) is owed nothing.
  void theResyncReadGoesToTheNextAddress() {
    std::vector<std::string> frames;
    Exchange::Hooks h;
    bool up = false;
    h.send = [&](const Exchange::Request &r) {
      frames.push_back(r.frame);
      return up;
    };
    Exchange x(h);
    Exchange::Request r;
    r.frame = request(0x40, 0x06, {}, 7);
    r.cid1 = 0x40;
    r.cid2 = 0x06;
    x.submit(r);
    x.timerExpired();
    QVERIFY(x.inStep());
    up = true;
    x.submit(r);
    x.timerExpired();
    r.frame = request(0x40, 0x06, {}, 9);
    x.submit(r);
    QCOMPARE(frames.back(), request(0x40, 0x01, {}, 9));
  }

  // The LAN link's cutter: a chunk ends at its end mark, before a start mark that follows an
  // unfinished frame, or at the limit; pieces of one frame make one chunk.
  void theStreamIsCutIntoChunks_data() {
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QStringList>("chunks");  // complete ones, then what is left unfinished ("" for none)
    QTest::addColumn<bool>("frameLeft");
    QTest::newRow("two in one read") << QStringList{"~01\r~02\r"} << QStringList{"~01\r", "~02\r", ""} << false;
    QTest::newRow("pieces") << QStringList{"~0", "14", "0\r"} << QStringList{"~0140\r", ""} << false;
    QTest::newRow("noise first") << QStringList{"#!", "~01\r"} << QStringList{"#!~01\r", ""} << false;
    QTest::newRow("a frame that never ended") << QStringList{"~01", "4~02\r"} << QStringList{"~014", "~02\r", ""} << false;
    QTest::newRow("unfinished") << QStringList{"~01\r~0"} << QStringList{"~01\r", "~0"} << true;
    QTest::newRow("no start mark") << QStringList{"0000"} << QStringList{"0000"} << false;
    QTest::newRow("limit") << QStringList{"~" + QString(9, QLatin1Char('0'))} << QStringList{"~" + QString(7, QLatin1Char('0')), "00"}
                           << false;
  }
  void theStreamIsCutIntoChunks() {
    QFETCH(QStringList, pieces);
    QFETCH(QStringList, chunks);
    QFETCH(bool, frameLeft);
    ChunkCutter cut('~', '\r', 8);
    QStringList out;
    QByteArray c;
    for (const QString &p : pieces) {
      const QByteArray bytes = p.toLatin1();
      cut.add(bytes.constData(), bytes.size());
      while (cut.next(&c)) out << QString::fromLatin1(c);
    }
    QCOMPARE(cut.partialFrame(), frameLeft);
    out << QString::fromLatin1(cut.takePartial());
    QCOMPARE(out, chunks);
  }

  void clearingDropsEverything() {
    Line l;
    l.submit(0x40, 0x06);
    l.x->timerExpired();
    l.submit(0x40, 0x08);
    l.submit(0x42, 0x16, true);
    QVERIFY(l.x->has(0));
    const auto dropped = l.x->clear();  // the resync read on the line is not among them
    QCOMPARE(dropped.size(), size_t(2));
    QCOMPARE(cids(dropped.front().frame), std::string("40/08"));
    QVERIFY(l.x->idle() && l.x->inStep());
    QCOMPARE(l.timer, 0);
    l.x->chunk(kWord);
    QCOMPARE(l.strays.back(), "unasked:" + kWord);
  }

  // The exchange against a model controller that answers every request, in order, each after
  // a delay of its own: mostly at once, now and then long after the time-out, and now and then
  // it stalls for seconds and then answers all it received. Requests of every shape come from
  // the operator, a chain that sends its next request from each answer, and polling. Whatever
  // the delays, every answer decoded is the answer to the request it is decoded for, and after
  // the last fault the line comes back in step and answers are decoded again. With answers
  // lost or refused as well, no answer is taken for another's either.
  void noAnswerIsEverDecodedAsAnothers_data() {
    QTest::addColumn<bool>("lossy");
    QTest::newRow("every answer comes") << false;
    QTest::newRow("some are lost") << true;
  }
  void noAnswerIsEverDecodedAsAnothers() {
    QFETCH(bool, lossy);
    std::vector<proto::Command> commands;
    for (const proto::CommandDef &c : proto::commands()) commands.push_back(c.command);
    int decodedAll = 0, lateAll = 0, resyncsAll = 0;
    for (uint64_t seed = 1; seed <= 200; ++seed) {
      const QByteArray where = QByteArray("seed ") + QByteArray::number(qulonglong(seed));
      sim::Rng rng(seed);
      int64_t now = 0, deadline = -1, stallUntil = 0;
      struct Answer {
        int64_t at;
        int send;
        std::string bytes;
      };
      std::deque<Answer> due;  // in order: an answer is never due before the one ahead of it
      int sends = 0, delivered = -1, decoded = 0;
      const int faultsUntil = 1500;  // sends after this one are answered at once
      Exchange *self = nullptr;
      auto submit = [&](bool background, int tag) {
        const proto::CommandDef &c = proto::commandDef(commands[rng.next() % commands.size()]);
        Exchange::Request r;
        r.frame = request(c.cid1, c.cid2);
        r.cid1 = c.cid1;
        r.cid2 = c.cid2;
        r.background = background;
        r.tag = tag;
        self->submit(std::move(r));
      };
      Exchange::Hooks h;
      h.send = [&](const Exchange::Request &r) {
        const int send = sends++;
        const bool faulty = send < faultsUntil;
        // the controller's answer, of the request's shape, now and then a refusal
        const proto::AnswerShape s = proto::answerShape(r.cid1, r.cid2);
        std::vector<uint8_t> data;
        if (s.kind == proto::AnswerShape::Fixed) data.assign(s.bytes, uint8_t(send));
        if (s.kind == proto::AnswerShape::ModuleList) data = {1, uint8_t(2 + send % 10)};
        const std::string bytes = answer(r.cid1, faulty && rng.uniform() < 0.05 ? 1 : 0, data);
        if (lossy && faulty && rng.uniform() < 0.1) return true;  // lost on its way
        int64_t delay = rng.range(1, 40);
        if (faulty && rng.uniform() < 0.1) delay = rng.range(1000, 12000);       // late
        if (faulty && rng.uniform() < 0.01) stallUntil = now + rng.range(2000, 10000);  // stalls
        int64_t at = std::max(now, stallUntil) + delay;
        if (!due.empty()) at = std::max(at, due.back().at);
        due.push_back({at, send, bytes});
        return true;
      };
      h.startTimer = [&](int ms) { deadline = now + ms; };
      h.stopTimer = [&] { deadline = -1; };
      h.answer = [&](const Exchange::Request &r, std::string_view, int64_t) {
        // the request on the line is the one sent last: the chunk must be its answer
        QVERIFY2(delivered == sends - 1, where.constData());
        ++decoded;
        if (r.tag == 1 && rng.uniform() < 0.9) submit(false, 1);  // the chain's next step
      };
      h.timedOut = [&](const Exchange::Request &r) {
        if (r.tag == 1) submit(false, 1);
      };
      h.stray = [&](std::string_view, int64_t, Exchange::Stray k) {
        if (k == Exchange::Stray::Late) ++lateAll;
        if (k == Exchange::Stray::Resynced) ++resyncsAll;
      };
      Exchange x(h);
      self = &x;
      submit(false, 1);
      int64_t nextPoll = 0, nextClick = 500, quietFrom = -1;
      int decodedWhenQuiet = 0;
      while (quietFrom < 0 || now < quietFrom + 60'000) {
        int64_t next = std::min(nextPoll, nextClick);
        if (!due.empty()) next = std::min(next, due.front().at);
        if (deadline >= 0) next = std::min(next, deadline);
        now = next;
        if (!due.empty() && due.front().at == now) {
          delivered = due.front().send;
          const std::string bytes = due.front().bytes;
          due.pop_front();
          x.chunk(bytes);
        } else if (deadline == now) {
          deadline = -1;
          x.timerExpired();
        } else if (nextPoll == now) {
          if (!x.has(2)) submit(true, 2);
          nextPoll += 1000;
        } else {
          if (rng.uniform() < 0.5) submit(false, 0);
          if (!x.has(1) && rng.uniform() < 0.3) submit(false, 1);
          nextClick += rng.range(200, 3000);
        }
        if (quietFrom < 0 && sends >= faultsUntil && due.empty()) {
          quietFrom = now;  // every faulty answer has come or is lost
          decodedWhenQuiet = decoded;
        }
        if (QTest::currentTestFailed()) return;
      }
      // the faults are over: the line is back in step and answers are decoded again
      QVERIFY2(decoded - decodedWhenQuiet >= 50, where.constData());
      QVERIFY2(x.inStep(), where.constData());
      decodedAll += decoded;
    }
    qInfo("%d answers decoded, %d late or stray chunks not decoded, %d resync reads answered", decodedAll, lateAll,
          resyncsAll);
  }
};

QTEST_MAIN(TestExchange)
#include "test_exchange.moc"
