#include "link/Exchange.h"

#include <algorithm>
#include <utility>

#include "protocol/Frame.h"

namespace {
// Counts the hooks that run, so that a request submitted from one goes out after it returns.
struct Busy {
  explicit Busy(int &n) : n_(n) { ++n_; }
  ~Busy() { --n_; }
  int &n_;
};

// The reads that bring the line back in step: short answers of fixed, different lengths,
// which every controller serves.
constexpr proto::Command kResyncReads[] = {proto::Command::AcStatus, proto::Command::SystemStatus};
}  // namespace

void Exchange::submit(Request r) {
  r.shape = proto::answerShape(r.cid1, r.cid2);
  r.behindResync = false;
  r.resyncsMissed = 0;
  if (r.background) {
    queue_.push_back(std::move(r));
  } else {
    // after every foreground request, before the first background one
    auto at = std::find_if(queue_.begin(), queue_.end(), [](const Request &q) { return q.background; });
    queue_.insert(at, std::move(r));
  }
  pump();
}

void Exchange::retry(Request r) {
  ++r.tries;
  r.behindResync = false;
  r.resyncsMissed = 0;
  queue_.push_front(std::move(r));
  pump();
}

void Exchange::dropWaiting(int tag) {
  std::erase_if(queue_, [tag](const Request &q) { return q.tag == tag; });
}

void Exchange::detach(int tag, int asTag) {
  dropWaiting(tag);
  if (onLine_ && !onLine_->resync && onLine_->tag == tag) onLine_->tag = asTag;
}

void Exchange::stray(std::string_view bytes, int64_t leftOut, Stray kind) {
  Busy b(busy_);
  if (hooks_.stray) hooks_.stray(bytes, leftOut, kind);
}

void Exchange::chunk(std::string_view bytes, int64_t leftOut) {
  // a chunk cut at the limit is no answer: damaged, and without a frame's form
  const proto::Answer a = leftOut > 0 ? proto::Answer{} : proto::checkAnswer(bytes);
  if (!owed_.empty() || (onLine_ && onLine_->resync)) {
    settleOwed(bytes, leftOut, a);
  } else if (!onLine_) {
    stray(bytes, leftOut, Stray::Unsolicited);
  } else {
    const bool fits = proto::answerFits(onLine_->shape, a);
    if (a.intact() && !fits) {
      stray(bytes, leftOut, Stray::Mismatched);  // the request waits on
      return;
    }
    Request r = std::move(*onLine_);
    onLine_.reset();
    if (hooks_.stopTimer) hooks_.stopTimer();
    // a damaged chunk that is not framed as this request's answer leaves that answer owed
    if (!fits && onLineSent_) owe(r);
    Busy b(busy_);
    if (hooks_.answer) hooks_.answer(r, bytes, leftOut);
  }
  pump();
}

// Out of step, or a resync read on the line: the chunk is the answer to the oldest owed
// request it fits, or to the resync read when it fits none of them.
void Exchange::settleOwed(std::string_view bytes, int64_t leftOut, const proto::Answer &a) {
  for (std::size_t i = 0; i < owed_.size(); ++i) {
    if (!proto::answerFits(owed_[i].shape, a)) continue;
    owed_.erase(owed_.begin(), owed_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    stray(bytes, leftOut, Stray::Late);
    return;
  }
  if (onLine_ && onLine_->resync && proto::answerFits(onLine_->shape, a)) {
    owed_.clear();
    onLine_.reset();
    for (Request &q : queue_) {
      q.behindResync = false;
      q.resyncsMissed = 0;
    }
    if (hooks_.stopTimer) hooks_.stopTimer();
    stray(bytes, leftOut, Stray::Resynced);
    return;
  }
  stray(bytes, leftOut, Stray::Late);  // fits nothing that is owed: no answer, not counted
}

void Exchange::owe(const Request &r) {
  const proto::CommandDef *c = proto::findCommand(r.cid1, r.cid2);
  owed_.push_back({r.shape, c ? c->command : proto::Command::None, r.resync});
  if (owed_.size() > kMaxOwed) owed_.pop_front();
}

void Exchange::timerExpired() {
  if (!onLine_) return;
  Request r = std::move(*onLine_);
  onLine_.reset();
  if (onLineSent_) owe(r);
  if (r.resync) {
    // the line is still out of step: what waited behind this read and one before times out
    std::deque<Request> expired;
    for (auto it = queue_.begin(); it != queue_.end();) {
      if (it->behindResync && ++it->resyncsMissed >= kResyncsWaited) {
        expired.push_back(std::move(*it));
        it = queue_.erase(it);
      } else {
        it->behindResync = false;
        ++it;
      }
    }
    Busy b(busy_);
    for (const Request &q : expired)
      if (hooks_.timedOut) hooks_.timedOut(q);
  } else {
    Busy b(busy_);
    if (hooks_.timedOut) hooks_.timedOut(r);
  }
  pump();
}

std::deque<Exchange::Request> Exchange::clear() {
  std::deque<Request> dropped;
  if (onLine_ && !onLine_->resync) dropped.push_back(std::move(*onLine_));
  onLine_.reset();
  for (Request &r : queue_) dropped.push_back(std::move(r));
  queue_.clear();
  owed_.clear();
  if (hooks_.stopTimer) hooks_.stopTimer();
  return dropped;
}

bool Exchange::has(int tag) const {
  if (onLine_ && !onLine_->resync && onLine_->tag == tag) return true;
  return std::any_of(queue_.begin(), queue_.end(), [tag](const Request &q) { return q.tag == tag; });
}

// The resync read: one whose answer fits no owed request when there is one; else the read
// sent last once more (its answer then settles the oldest owed of its shape, and a read of the
// other shape follows), or the AC read (the status read after an AC read). It goes to the
// address of the request that waits.
Exchange::Request Exchange::resyncRead(const Request &next) const {
  proto::Command pick = proto::Command::None;
  for (proto::Command c : kResyncReads) {
    const proto::AnswerShape s = proto::commandDef(c).shape;
    if (std::none_of(owed_.begin(), owed_.end(), [&s](const Owed &o) { return proto::shapesOverlap(o.shape, s); })) {
      pick = c;
      break;
    }
  }
  if (pick == proto::Command::None) {
    const Owed &newest = owed_.back();
    if (newest.resync) pick = newest.command;
    else pick = newest.command == kResyncReads[0] ? kResyncReads[1] : kResyncReads[0];
  }
  const proto::CommandDef &def = proto::commandDef(pick);
  Request r;
  r.frame = proto::encodeFrame(proto::frameAddress(next.frame), def.cid1, def.cid2, {});
  r.cid1 = def.cid1;
  r.cid2 = def.cid2;
  r.shape = def.shape;
  r.tag = kResyncTag;
  r.background = next.background;
  r.resync = true;
  return r;
}

void Exchange::pump() {
  if (busy_ > 0 || onLine_ || queue_.empty()) return;
  if (owed_.empty()) {
    onLine_ = std::move(queue_.front());
    queue_.pop_front();
  } else {
    onLine_ = resyncRead(queue_.front());
    for (Request &q : queue_) q.behindResync = true;
  }
  if (hooks_.startTimer) hooks_.startTimer(kTimeoutMs);
  Busy b(busy_);
  onLineSent_ = hooks_.send && hooks_.send(*onLine_);
}
