// The exchange: the one place through which every request goes out and every answer comes
// back. The controller answers every request with one frame that carries nothing tying it to
// its request, so at most one request is on the line at a time: the answer that arrives is
// the answer to that request, decoded with that request's CID1/CID2 and context.
//
// - Requests wait in order. Foreground requests (the operator's, the refresh chains') go out
//   before background ones (status polling), which wait behind them.
// - A request's time-out runs from when it goes on the line until a chunk ends (never at the
//   first byte: links deliver whole chunks).
// - After a time-out the line is not trusted at once: the next request waits until a chunk
//   arrives (the late answer, logged and never decoded) or the line has been quiet for the
//   grace period. An answer later than time-out plus grace can still meet a newer request.
// - A chunk that arrives while nothing is on the line is not decoded either.
//
// Pure logic: time and the link come in through the hooks, so tests and the exporter drive
// it as they like. Every hook is called on the owner's thread, and a hook may submit.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class Exchange {
 public:
  static constexpr int kTimeoutMs = 1000;  // the controller answers well within this
  static constexpr int kGraceMs = 1000;    // quiet needed after a time-out before the next send

  struct Request {
    std::string frame;        // as it goes on the line
    uint8_t cid1 = 0, cid2 = 0;
    int tag = 0;              // who asked: the owner's numbering (operator, a chain, polling)
    int context = 0;          // what the decoder needs to know (a row, a module, a record)
    bool background = false;  // waits behind every foreground request
  };
  enum class Stray { Late, Unsolicited };

  struct Hooks {
    // Puts the frame on the line; what the link makes of it is its own business.
    std::function<void(const Request &)> send;
    // One timer: started for the time-out or the grace period, stopped when no longer needed.
    std::function<void(int ms)> startTimer;
    std::function<void()> stopTimer;
    std::function<void(const Request &, std::string_view chunk, int64_t leftOut)> answer;
    std::function<void(const Request &)> timedOut;
    std::function<void(std::string_view chunk, int64_t leftOut, Stray)> stray;
  };

  explicit Exchange(Hooks hooks) : hooks_(std::move(hooks)) {}

  void submit(Request r);
  // A chunk ended on the line.
  void chunk(std::string_view bytes, int64_t leftOut = 0);
  // The timer started by startTimer ran out.
  void timerExpired();
  // The link closed: nothing is on the line any more and nothing waits. Returns the requests
  // that were dropped, the one on the line first.
  std::deque<Request> clear();

  const Request *onLine() const { return onLine_ ? &*onLine_ : nullptr; }
  bool inGrace() const { return grace_; }
  bool idle() const { return !onLine_ && !grace_ && queue_.empty(); }
  // Whether a request with this tag is on the line or waits.
  bool has(int tag) const;
  std::size_t waiting() const { return queue_.size(); }

 private:
  void pump();
  Hooks hooks_;
  std::optional<Request> onLine_;
  std::deque<Request> queue_;
  bool grace_ = false;
  int busy_ = 0;  // > 0 while a hook runs: requests submitted then go out when it returns
};
