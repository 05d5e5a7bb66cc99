#include "exporter/Exporter.h"

#include <QDateTime>
#include <QDir>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <map>
#include <sys/resource.h>

#include "exporter/Config.h"

#include "link/Comm.h"
#include "link/ControllerUrl.h"
#include "link/Exchange.h"
#include "link/LanLink.h"
#include "link/SerialLink.h"
#include "protocol/Frame.h"

namespace exporter {

namespace {
void say(const std::string &text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double unixSeconds() { return QDateTime::currentMSecsSinceEpoch() / 1000.0; }

// Descriptors open in this process now.
int openDescriptors() { return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size()); }
// The soft open-file limit.
long openFileLimit() {
  rlimit l{};
  if (getrlimit(RLIMIT_NOFILE, &l) != 0 || l.rlim_cur == RLIM_INFINITY) return std::numeric_limits<long>::max();
  return long(l.rlim_cur);
}
}  // namespace

int lineDescriptors(const Target &target) {
  return target.kind == Target::Kind::Tcp ? 1 : 3;  // a socket; a device and the component's two wake-up events
}

// One serial device or TCP address with the controllers behind it. Polls wait for the link;
// their requests go through one exchange, so one is on the line at a time.
class Line : public QObject {
 public:
  Line(const Target &target, Exporter &exporter, QObject *parent)
      : QObject(parent), exporter_(exporter), exchange_(hooks()) {
    link_ = linkurl::createLink(target, this);
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

Exporter::Exporter(const Options &commandLine, const Options &options, const WebConfig &web, QObject *parent)
    : QObject(parent),
      commandLine_(commandLine),
      options_(options),
      page_(buildInfo(), options.maxAge()),
      http_(Endpoints{[this] { return page(); },
                      [this]() -> std::optional<std::string> {
                        std::string why;
                        if (reload(why)) return std::nullopt;
                        return why;
                      }},
            this) {
  release_.setSingleShot(true);
  connect(&release_, &QTimer::timeout, this, [this] { held_.reset(); });
  http_.setWebConfig(web);
  otherEndpointDescriptors_ = options.nut.enabled ? kOtherEndpointDescriptors : 0;
}

Exporter::~Exporter() {
  for (auto &c : controllers_) c->tick.stop();
  for (auto &[key, line] : lines_) delete line;
  lines_.clear();
}

bool Exporter::start(std::string &error) {
  baseDescriptors_ = openDescriptors();
  if (!http_.listen(options_.listenHost, options_.listenPort, error)) return false;
  lastReloadSeconds_ = unixSeconds();
  page_.setReload(true, lastReloadSeconds_);
  apply(options_);
  return true;
}

Exporter::Changes Exporter::apply(const Options &next) {
  Changes changes;
  std::map<std::string, std::unique_ptr<Controller>> before;
  for (auto &c : controllers_) before[c->entry.name] = std::move(c);
  controllers_.clear();
  for (const ControllerEntry &e : next.controllers) {
    const auto it = before.find(e.name);
    if (it != before.end() && it->second->entry.target == e.target) {
      it->second->entry.labels = e.labels;  // the same controller: only its info changes
      controllers_.push_back(std::move(it->second));
      before.erase(it);
      continue;
    }
    if (it != before.end()) {
      ++changes.restarted;
      retire(std::move(it->second));
      before.erase(it);
    } else {
      ++changes.added;
    }
    auto c = std::make_unique<Controller>(e, 0);
    Controller *raw = c.get();
    c->tick.setTimerType(Qt::PreciseTimer);
    connect(&c->tick, &QTimer::timeout, this, [raw] { raw->line->poll(*raw); });
    controllers_.push_back(std::move(c));
  }
  for (auto &[name, c] : before) {
    ++changes.removed;
    retire(std::move(c));
  }
  const bool newInterval = next.intervalSeconds != options_.intervalSeconds;
  options_ = next;
  closeIdleLines();
  openLines();

  page_.setMaxAge(options_.maxAge());
  std::vector<ControllerEntry> entries;
  for (const auto &c : controllers_) entries.push_back(c->entry);
  page_.setControllers(entries);
  for (std::size_t i = 0; i < controllers_.size(); ++i) {
    Controller &c = *controllers_[i];
    c.index = i;
    page_.update(i, c.state);
    const int ms = static_cast<int>(options_.intervalSeconds * 1000);
    if (newInterval || c.tick.interval() != ms) c.tick.setInterval(ms);
    if (c.line && !c.tick.isActive()) {
      c.tick.start();
      c.line->poll(c);
    }
  }
  return changes;
}

void Exporter::retire(std::unique_ptr<Controller> c) {
  c->retired = true;
  c->tick.stop();
  c->cycle.timedOut();  // a poll under way ends; an answer still on the line is not counted
  if (c->line) retired_.push_back(std::move(c));
}

const Target &Exporter::lineTarget(const Line *line) const {
  for (const auto &c : controllers_)
    if (c->line == line) return c->entry.target;
  static const Target none;
  return none;
}

// A line none of the configured controllers uses any more closes, and the controllers it
// still held for requests under way go with it. A bus line that has seen many controllers
// removed while others stay is opened afresh for those, so what it held for the removed
// ones is freed too.
void Exporter::closeIdleLines() {
  std::map<Line *, int> live, removed;
  for (const auto &c : controllers_)
    if (c->line) ++live[c->line];
  for (const auto &c : retired_) ++removed[c->line];
  for (auto it = lines_.begin(); it != lines_.end();) {
    Line *old = it->second;
    const bool idle = !live.count(old);
    if (!idle && removed[old] <= kRetiredPerLine) {
      ++it;
      continue;
    }
    retired_.erase(std::remove_if(retired_.begin(), retired_.end(), [old](const auto &c) { return c->line == old; }),
                   retired_.end());
    if (idle) {
      delete old;
      it = lines_.erase(it);
      continue;
    }
    Line *fresh = new Line(lineTarget(old), *this, this);
    for (const auto &c : controllers_)
      if (c->line == old) {
        c->cycle.timedOut();  // a poll under way on the old line ends; the next tick polls again
        c->line = fresh;
        fresh->add(c.get());
      }
    delete old;
    it->second = fresh;
    ++it;
  }
}

// Every controller without a line gets one, an existing line of its bus or a new one while
// the open-file limit leaves room for it; the others are left out and named in one line.
void Exporter::openLines() {
  const long limit = openFileLimit();
  long needed = baseDescriptors_ + HttpServer::kDescriptors + kSpareDescriptors + otherEndpointDescriptors_;
  for (const auto &[key, line] : lines_) needed += lineDescriptors(lineTarget(line));
  std::vector<std::string> leftOut;
  long short_ = 0;
  for (const auto &c : controllers_) {
    if (c->line) continue;
    const std::string key = c->entry.target.lineKey();
    auto it = lines_.find(key);
    if (it == lines_.end()) {
      const int cost = lineDescriptors(c->entry.target);
      if (needed + cost > limit) {
        leftOut.push_back(c->entry.name);
        short_ += cost;
        continue;
      }
      needed += cost;
      it = lines_.emplace(key, new Line(c->entry.target, *this, this)).first;
    }
    it->second->add(c.get());
    c->line = it->second;
  }
  if (leftOut.empty()) return;
  std::string names;
  for (std::size_t i = 0; i < leftOut.size() && i < 3; ++i) names += (i ? ", " : "") + leftOut[i];
  if (leftOut.size() > 3) names += " and " + std::to_string(leftOut.size() - 3) + " more";
  say("warning: not enough open files: the limit is " + std::to_string(limit) + " and the exporter needs " +
      std::to_string(needed + short_) + " (a line each, " + std::to_string(HttpServer::kDescriptors) +
      " for the HTTP endpoint, " +
      (otherEndpointDescriptors_ ? std::to_string(otherEndpointDescriptors_) + " for the Network UPS Tools endpoint, " : "") +
      "its own); " + std::to_string(leftOut.size()) + " of " +
      std::to_string(controllers_.size()) + " controllers are not polled (" + names +
      "): raise LimitNOFILE= or ulimit -n");
}

bool Exporter::reload(std::string &why) {
  if (commandLine_.configFile.empty() && commandLine_.webConfigFile.empty()) {
    why = "no configuration file to read (started without --config or --web.config.file)";
    say("reload: " + why);
    return false;
  }
  // both files are read before either is applied: a mistake in one changes nothing
  std::optional<WebConfig> web;
  if (!commandLine_.webConfigFile.empty()) web = loadWebConfig(commandLine_.webConfigFile, why);
  auto next = !web && !commandLine_.webConfigFile.empty() ? std::nullopt
              : commandLine_.configFile.empty()           ? std::optional<Options>(options_)
                                                          : effectiveOptions(commandLine_, why);
  if (!next) {
    page_.setReload(false, lastReloadSeconds_);
    say("reload failed, the running configuration stays: " + why);
    return false;
  }
  if (web) {
    if (web->tls.has_value() != http_.tls())
      say(std::string("reload: the HTTP endpoint now ") + (web->tls ? "takes TLS only" : "takes plain HTTP") +
          " for new connections");
    http_.setWebConfig(*web);
  }
  if (commandLine_.configFile.empty()) {
    lastReloadSeconds_ = unixSeconds();
    page_.setReload(true, lastReloadSeconds_);
    say("reload: web configuration applied");
    emit reloaded(options_);
    return true;
  }
  if (next->listenHost != options_.listenHost || next->listenPort != options_.listenPort)
    say("reload: a new listen address takes effect at the next start");
  next->listenHost = options_.listenHost;
  next->listenPort = options_.listenPort;
  const Changes c = apply(*next);
  lastReloadSeconds_ = unixSeconds();
  page_.setReload(true, lastReloadSeconds_);
  say("reload: " + std::to_string(controllers_.size()) + " controllers (" + std::to_string(c.added) + " added, " +
      std::to_string(c.removed) + " removed, " + std::to_string(c.restarted) + " restarted)");
  emit reloaded(options_);
  return true;
}

std::vector<Snapshot> Exporter::snapshots() const {
  const double now = steadySeconds();
  std::vector<Snapshot> out;
  out.reserve(controllers_.size());
  for (const auto &c : controllers_)
    out.push_back({c->entry.name, c->state.up, !fresh(c->state, now, options_.maxAge()), c->state.reading,
                   c->state.lastPollSeconds});
  return out;
}

std::shared_ptr<const RenderedPage> Exporter::page() {
  const double now = steadySeconds();
  if (auto last = rendered_.lock()) {
    const bool unchanged = renderedGeneration_ == page_.generation() && now <= renderedStaleAt_;
    if (unchanged || (now - renderedAt_) * 1000 < kRenderGapMs) return last;
  }
  auto p = std::make_shared<const RenderedPage>(page_.text(now), ++pageSerial_);
  rendered_ = p;
  held_ = p;
  release_.start(kRenderGapMs);
  renderedAt_ = now;
  renderedStaleAt_ = page_.staleAt(now);
  renderedGeneration_ = page_.generation();
  return p;
}

void Exporter::pollEnded(Controller &c, const PollError *error) {
  if (c.retired) return;
  if (error) {
    c.state.failed(*error);
    if (!c.saidDown) say(c.entry.name + ": down (" + pollErrorName(*error) + ")");
    c.saidDown = true;
  } else {
    c.state.completed(c.cycle.reading(), c.started.nsecsElapsed() / 1e9, unixSeconds(), steadySeconds());
    if (c.saidDown || c.state.polls == 1) say(c.entry.name + ": up");
    c.saidDown = false;
  }
  page_.update(c.index, c.state);
}

}  // namespace exporter
