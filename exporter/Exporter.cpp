#include "exporter/Exporter.h"

#include <QDateTime>
#include <QTcpSocket>

#include <cstdio>
#include <map>

#include "link/Comm.h"
#include "link/Exchange.h"
#include "link/LanLink.h"
#include "link/SerialLink.h"
#include "protocol/Frame.h"

namespace exporter {

namespace {
std::vector<std::string> namesOf(const Options &o) {
  std::vector<std::string> names;
  for (const ControllerEntry &c : o.controllers) names.push_back(c.name);
  return names;
}

void say(const std::string &text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}
}  // namespace

// One serial device or TCP address with the controllers behind it. Polls wait for the link;
// their requests go through one exchange, so one is on the line at a time.
class Line : public QObject {
 public:
  Line(const Target &target, Exporter &exporter, QObject *parent)
      : QObject(parent), exporter_(exporter), exchange_(hooks()) {
    if (target.kind == Target::Kind::Tcp) {
      auto *lan = new LanLink(new QTcpSocket(this), this);
      lan->setTarget(QString::fromStdString(target.host), static_cast<quint16>(target.port));
      link_ = lan;
    } else {
      auto *comm = new TComm(this);
      comm->SetCommName(QString::fromStdString(target.device));
      comm->SetBaudRate(static_cast<uint32_t>(target.baud));
      setControllerLine(*comm);
      link_ = new SerialLink(comm, this);
    }
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { exchange_.timerExpired(); });
    connecting_.setSingleShot(true);
    connect(&connecting_, &QTimer::timeout, this, [this] { dropped("no connection within the time-out"); });
    link_->onChunk = [this](std::string_view chunk) { exchange_.chunk(chunk); };
    link_->onConnected = [this] {
      connecting_.stop();
      say(link_->where().toStdString() + ": connected");
      for (Exporter::Controller *c : members_) submitNext(*c);
    };
    link_->onDropped = [this](const QString &reason, int) { dropped(reason.toStdString()); };
    link_->onNote = [this](const QString &text) { say(link_->where().toStdString() + ": " + text.toStdString()); };
  }

  ~Line() override {
    exchange_.clear();
    link_->onChunk = nullptr;
    link_->onDropped = nullptr;
    link_->close();
  }

  void add(Exporter::Controller *c) { members_.push_back(c); }

  // A controller's poll is due: it starts now, or when the link is up.
  void poll(Exporter::Controller &c) {
    if (c.cycle.running()) return;  // the last poll has not ended yet: this one is skipped
    c.cycle.begin(c.state.reading ? *c.state.reading : firstReading());
    c.started.start();
    switch (link_->state()) {
      case Link::State::Open: submitNext(c); break;
      case Link::State::Connecting: break;  // sent once connected
      case Link::State::Closed: open(); break;
    }
  }

 private:
  Exchange::Hooks hooks() {
    Exchange::Hooks h;
    h.send = [this](const Exchange::Request &r) { return link_->send(r.frame); };
    h.startTimer = [this](int ms) { timer_.start(ms); };
    h.stopTimer = [this] { timer_.stop(); };
    h.answer = [this](const Exchange::Request &r, std::string_view chunk, int64_t) {
      Exporter::Controller &c = *members_[static_cast<std::size_t>(r.tag)];
      PollError e{};
      if (!c.cycle.answer(chunk, &e)) {
        exporter_.pollEnded(c, &e);
      } else if (c.cycle.running()) {
        submitNext(c);
      } else {
        exporter_.pollEnded(c, nullptr);
      }
    };
    h.timedOut = [this](const Exchange::Request &r) { timedOut(*members_[static_cast<std::size_t>(r.tag)]); };
    return h;
  }

  void timedOut(Exporter::Controller &c) {
    if (!c.cycle.running()) return;
    c.cycle.timedOut();
    const PollError e = PollError::Timeout;
    exporter_.pollEnded(c, &e);
  }

  // The running poll's next request goes to the exchange, unless it is there already.
  void submitNext(Exporter::Controller &c) {
    if (!c.cycle.running() || link_->state() != Link::State::Open) return;
    const int tag = indexOf(c);
    if (exchange_.has(tag)) return;
    // the answer goes back to the controller by the tag; every request here is a poll
    const proto::CommandDef &command = proto::commandDef(pollCommand(c.cycle.command()).request);
    Exchange::Request r;
    r.frame = c.cycle.request();
    r.cid1 = command.cid1;
    r.cid2 = command.cid2;
    r.tag = tag;
    exchange_.submit(std::move(r));
  }

  int indexOf(const Exporter::Controller &c) const {
    for (std::size_t i = 0; i < members_.size(); ++i)
      if (members_[i] == &c) return int(i);
    return -1;
  }

  void open() {
    try {
      link_->open();
    } catch (const ECommsError &e) {
      dropped(e.what());
      return;
    }
    if (link_->state() == Link::State::Connecting) {
      connecting_.start(Exchange::kTimeoutMs);
    } else if (link_->state() == Link::State::Open) {
      for (Exporter::Controller *c : members_) submitNext(*c);
    }
  }

  // The link is gone (or never came): every running poll ends unanswered; the next poll
  // opens the link again.
  void dropped(const std::string &reason) {
    connecting_.stop();
    if (link_->state() != Link::State::Closed) link_->close();
    exchange_.clear();
    if (reason != lastReason_) say(link_->where().toStdString() + ": " + reason);
    lastReason_ = reason;
    for (Exporter::Controller *c : members_) timedOut(*c);
  }

  Exporter &exporter_;
  Link *link_ = nullptr;
  Exchange exchange_;
  QTimer timer_;
  QTimer connecting_;
  std::vector<Exporter::Controller *> members_;
  std::string lastReason_;
};

Exporter::Exporter(const Options &options, QObject *parent)
    : QObject(parent), options_(options), page_(namesOf(options)), http_([this] { return page_.text(); }, this) {
  std::map<std::string, Line *> byKey;
  for (const ControllerEntry &entry : options_.controllers) {
    auto c = std::make_unique<Controller>(entry, controllers_.size());
    Line *&line = byKey[entry.target.lineKey()];
    if (!line) {
      line = new Line(entry.target, *this, this);
      lines_.push_back(line);
    }
    line->add(c.get());
    c->line = line;
    c->tick.setTimerType(Qt::PreciseTimer);
    c->tick.setInterval(static_cast<int>(options_.intervalSeconds * 1000));
    Controller *raw = c.get();
    connect(&c->tick, &QTimer::timeout, this, [raw] { raw->line->poll(*raw); });
    controllers_.push_back(std::move(c));
  }
}

Exporter::~Exporter() {
  for (auto &c : controllers_) c->tick.stop();
  for (Line *l : lines_) delete l;
  lines_.clear();
}

bool Exporter::start(std::string &error) {
  if (!http_.listen(options_.listenHost, options_.listenPort, error)) return false;
  for (auto &c : controllers_) {
    c->tick.start();
    c->line->poll(*c);
  }
  return true;
}

void Exporter::pollEnded(Controller &c, const PollError *error) {
  if (error) {
    c.state.failed(*error);
    if (!c.saidDown) say(c.entry.name + ": down (" + pollErrorName(*error) + ")");
    c.saidDown = true;
  } else {
    c.state.completed(c.cycle.reading(), c.started.nsecsElapsed() / 1e9,
                      QDateTime::currentMSecsSinceEpoch() / 1000.0);
    if (c.saidDown || c.state.polls == 1) say(c.entry.name + ": up");
    c.saidDown = false;
  }
  page_.update(c.index, c.state);
}

}  // namespace exporter
