#include "link/Exchange.h"

#include <algorithm>
#include <utility>

namespace {
// Counts the hooks that run, so that a request submitted from one goes out after it returns.
struct Busy {
  explicit Busy(int &n) : n_(n) { ++n_; }
  ~Busy() { --n_; }
  int &n_;
};
}  // namespace

void Exchange::submit(Request r) {
  if (r.background) {
    queue_.push_back(std::move(r));
  } else {
    // after every foreground request, before the first background one
    auto at = std::find_if(queue_.begin(), queue_.end(), [](const Request &q) { return q.background; });
    queue_.insert(at, std::move(r));
  }
  pump();
}

void Exchange::chunk(std::string_view bytes, int64_t leftOut) {
  if (onLine_) {
    Request r = std::move(*onLine_);
    onLine_.reset();
    if (hooks_.stopTimer) hooks_.stopTimer();
    {
      Busy b(busy_);
      if (hooks_.answer) hooks_.answer(r, bytes, leftOut);
    }
  } else {
    const Stray kind = grace_ ? Stray::Late : Stray::Unsolicited;
    if (grace_) {
      // the late answer has come: the line is free again
      grace_ = false;
      if (hooks_.stopTimer) hooks_.stopTimer();
    }
    Busy b(busy_);
    if (hooks_.stray) hooks_.stray(bytes, leftOut, kind);
  }
  pump();
}

void Exchange::timerExpired() {
  if (onLine_) {
    Request r = std::move(*onLine_);
    onLine_.reset();
    grace_ = true;
    if (hooks_.startTimer) hooks_.startTimer(kGraceMs);
    Busy b(busy_);
    if (hooks_.timedOut) hooks_.timedOut(r);
  } else if (grace_) {
    grace_ = false;
  }
  pump();
}

std::deque<Exchange::Request> Exchange::clear() {
  std::deque<Request> dropped;
  if (onLine_) dropped.push_back(std::move(*onLine_));
  onLine_.reset();
  for (Request &r : queue_) dropped.push_back(std::move(r));
  queue_.clear();
  grace_ = false;
  if (hooks_.stopTimer) hooks_.stopTimer();
  return dropped;
}

bool Exchange::has(int tag) const {
  if (onLine_ && onLine_->tag == tag) return true;
  return std::any_of(queue_.begin(), queue_.end(), [tag](const Request &q) { return q.tag == tag; });
}

void Exchange::pump() {
  if (busy_ > 0 || onLine_ || grace_ || queue_.empty()) return;
  onLine_ = std::move(queue_.front());
  queue_.pop_front();
  if (hooks_.startTimer) hooks_.startTimer(kTimeoutMs);
  Busy b(busy_);
  if (hooks_.send) hooks_.send(*onLine_);
}
