// The exchange alone: one request on the line, the order requests wait in, time-outs, the
// grace period after them, and chunks nobody asked for. Time is driven by hand.
#include <QTest>

#include "link/Exchange.h"

namespace {

struct Line {
  std::vector<std::string> sent, answered, timedOut, strays;
  int timer = 0;  // the running timer's length, 0 when none runs
  std::unique_ptr<Exchange> x;
  Line() {
    Exchange::Hooks h;
    h.send = [this](const Exchange::Request &r) { sent.push_back(r.frame); };
    h.startTimer = [this](int ms) { timer = ms; };
    h.stopTimer = [this] { timer = 0; };
    h.answer = [this](const Exchange::Request &r, std::string_view c, int64_t) {
      answered.push_back(r.frame + "=" + std::string(c));
    };
    h.timedOut = [this](const Exchange::Request &r) { timedOut.push_back(r.frame); };
    h.stray = [this](std::string_view c, int64_t, Exchange::Stray k) {
      strays.push_back((k == Exchange::Stray::Late ? "late:" : "unasked:") + std::string(c));
    };
    x = std::make_unique<Exchange>(std::move(h));
  }
  void submit(const std::string &frame, bool background = false) {
    Exchange::Request r;
    r.frame = frame;
    r.background = background;
    x->submit(std::move(r));
  }
};

}  // namespace

class TestExchange : public QObject {
  Q_OBJECT
 private slots:
  void oneRequestOnTheLineInOrder() {
    Line l;
    l.submit("poll1", true);
    l.submit("a");
    l.submit("poll2", true);
    l.submit("b");
    // poll1 went out at once; the operator's a and b go before poll2
    QCOMPARE(l.sent, (std::vector<std::string>{"poll1"}));
    QCOMPARE(l.timer, Exchange::kTimeoutMs);
    for (const char *answer : {"1", "2", "3", "4"}) l.x->chunk(answer);
    QCOMPARE(l.sent, (std::vector<std::string>{"poll1", "a", "b", "poll2"}));
    QCOMPARE(l.answered, (std::vector<std::string>{"poll1=1", "a=2", "b=3", "poll2=4"}));
    QVERIFY(l.x->idle());
    QCOMPARE(l.timer, 0);
  }

  void aRequestSubmittedWhileAnAnswerIsDecodedWaitsItsTurn() {
    Line l;
    Exchange::Hooks h;
    std::vector<std::string> sent;
    Exchange *self = nullptr;
    h.send = [&](const Exchange::Request &r) { sent.push_back(r.frame); };
    h.answer = [&](const Exchange::Request &r, std::string_view, int64_t) {
      if (r.frame == "step1") {
        Exchange::Request next;
        next.frame = "step2";
        self->submit(next);
        QCOMPARE(sent.size(), size_t(1));  // not sent from inside the decoder
      }
    };
    Exchange x(h);
    self = &x;
    Exchange::Request r;
    r.frame = "step1";
    x.submit(r);
    r.frame = "click";
    x.submit(r);
    x.chunk("answer1");
    QCOMPARE(sent, (std::vector<std::string>{"step1", "click"}));
    x.chunk("answer2");
    QCOMPARE(sent, (std::vector<std::string>{"step1", "click", "step2"}));
  }

  // After a time-out the next request waits: a late answer ends the wait and is never decoded;
  // so does a quiet grace period.
  void lateAnswersAreNeverDecoded() {
    Line l;
    l.submit("a");
    l.submit("b");
    l.x->timerExpired();
    QCOMPARE(l.timedOut, (std::vector<std::string>{"a"}));
    QVERIFY(l.x->inGrace());
    QCOMPARE(l.timer, Exchange::kGraceMs);
    QCOMPARE(l.sent.size(), size_t(1));
    l.x->chunk("late-a");
    QCOMPARE(l.strays, (std::vector<std::string>{"late:late-a"}));
    QCOMPARE(l.sent, (std::vector<std::string>{"a", "b"}));
    l.x->chunk("b-answer");
    QCOMPARE(l.answered, (std::vector<std::string>{"b=b-answer"}));
    // silence through the grace period frees the line too
    l.submit("c");
    l.submit("d");
    l.x->timerExpired();
    l.x->timerExpired();
    QCOMPARE(l.sent.back(), std::string("d"));
    QVERIFY(!l.x->inGrace());
    // bytes while nothing is on the line: not decoded
    l.x->chunk("d-answer");
    l.x->chunk("noise");
    QCOMPARE(l.strays.back(), std::string("unasked:noise"));
    QCOMPARE(l.answered.size(), size_t(2));
  }

  void clearingDropsEverything() {
    Line l;
    l.submit("a");
    l.submit("b", true);
    QVERIFY(l.x->has(0));
    const auto dropped = l.x->clear();
    QCOMPARE(dropped.size(), size_t(2));
    QCOMPARE(dropped.front().frame, std::string("a"));
    QVERIFY(l.x->idle());
    QCOMPARE(l.timer, 0);
    l.x->chunk("late");
    QCOMPARE(l.strays, (std::vector<std::string>{"unasked:late"}));
  }
};

QTEST_MAIN(TestExchange)
#include "test_exchange.moc"
