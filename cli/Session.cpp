#include "cli/Session.h"

#include <QEventLoop>

#include "link/Comm.h"
#include "link/Link.h"
#include "protocol/Answer.h"
#include "protocol/Frame.h"

namespace cli {

Session::Session(const linkurl::Target &target, int timeoutMs, int retries, QObject *parent)
    : QObject(parent), target_(target), timeoutMs_(timeoutMs), retries_(retries) {
  link_ = linkurl::createLink(target, this);
  exchange_ = std::make_unique<Exchange>(hooks());
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { exchange_->timerExpired(); });
  deadline_.setSingleShot(true);
  deadline_.setTimerType(Qt::PreciseTimer);
  connect(&deadline_, &QTimer::timeout, this, [this] { finish(Reply{}); });
  link_->onChunk = [this](std::string_view chunk) { exchange_->chunk(chunk); };
  link_->onDropped = [this](const QString &, int) {
    exchange_->clear();
    finish(Reply{});
  };
}

Session::~Session() {
  exchange_->clear();
  link_->onChunk = nullptr;
  link_->onDropped = nullptr;
  link_->onConnected = nullptr;
  link_->close();
}

bool Session::open(QString *why) {
  QString dropped;
  link_->onDropped = [&dropped](const QString &reason, int) { dropped = reason; };
  try {
    link_->open();
  } catch (const ECommsError &e) {
    *why = link_->where() + QStringLiteral(": ") + QString::fromLocal8Bit(e.what());
    return false;
  }
  if (link_->state() == Link::State::Connecting) {
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    link_->onConnected = [&loop] { loop.quit(); };
    const auto droppedWhileConnecting = [&loop, &dropped](const QString &reason, int) {
      dropped = reason;
      loop.quit();
    };
    link_->onDropped = droppedWhileConnecting;
    limit.start(timeoutMs_ * (retries_ + 1));
    loop.exec();
    link_->onConnected = nullptr;
  }
  link_->onDropped = [this](const QString &, int) {
    exchange_->clear();
    finish(Reply{});
  };
  if (link_->state() == Link::State::Open) return true;
  *why = link_->where() + QStringLiteral(": ") + (dropped.isEmpty() ? QStringLiteral("no connection within the time-out") : dropped);
  return false;
}

Exchange::Hooks Session::hooks() {
  Exchange::Hooks h;
  h.send = [this](const Exchange::Request &r) {
    ++sent_;
    return link_->send(r.frame);
  };
  // the exchange's time-out is the controller's usual one; the command line's is its own
  h.startTimer = [this](int) { timer_.start(timeoutMs_); };
  h.stopTimer = [this] { timer_.stop(); };
  h.answer = [this](const Exchange::Request &r, std::string_view chunk, int64_t leftOut) {
    if (r.tag != askTag_) return;  // the answer of a request given up on: nobody waits for it
    const proto::Answer a = proto::checkAnswer(chunk);
    if (leftOut > 0 || !a.intact()) {
      if (r.tries < retries_) {
        exchange_->retry(r);  // counts the try
        return;
      }
      finish(Reply{Reply::Outcome::Damaged, 0, {}});
      return;
    }
    Reply reply;
    reply.returnCode = a.returnCode();
    reply.outcome = a.returnCode() == 0 ? Reply::Outcome::Answered : Reply::Outcome::Refused;
    const int n = a.dataAvailable();
    reply.data.assign(a.data(), a.data() + n);
    finish(std::move(reply));
  };
  h.timedOut = [this](const Exchange::Request &r) {
    if (r.tag != askTag_) return;
    // Sent again once the exchange has the line back in step: the first one's answer may
    // still come, and is then taken as late, never as the answer to a later request.
    if (r.tries < retries_) {
      exchange_->retry(r);  // counts the try
      return;
    }
    finish(Reply{});
  };
  return h;
}

void Session::finish(Reply reply) {
  reply_ = std::move(reply);
  if (loop_) loop_->quit();
}

Reply Session::ask(proto::Command command, const std::vector<uint8_t> &data) {
  const proto::CommandDef &def = proto::commandDef(command);
  if (link_->state() != Link::State::Open) return Reply{};
  Exchange::Request r;
  r.frame = proto::encodeFrame(static_cast<uint8_t>(target_.address), def.cid1, def.cid2, data);
  r.cid1 = def.cid1;
  r.cid2 = def.cid2;
  r.tag = ++askTag_;
  reply_.reset();
  QEventLoop loop;
  loop_ = &loop;
  // Given up on after timeout × (retries + 1), however the tries and the reads that bring the
  // line back in step went: a silent controller costs no more than that.
  deadline_.start(timeoutMs_ * (retries_ + 1));
  exchange_->submit(std::move(r));
  if (!reply_) loop.exec();
  loop_ = nullptr;
  deadline_.stop();
  exchange_->dropWaiting(askTag_);  // a request given up on while it waited goes no further
  return reply_ ? *reply_ : Reply{};
}

}  // namespace cli
