// The exchange: the one place through which every request goes out and every answer comes
// back. The controller answers every request with one frame, in the order of the requests,
// and the frame carries nothing tying it to its request. So at most one request is on the
// line at a time, and the answer that arrives is taken for the oldest request still owed an
// answer; its shape (protocol/Commands.h) must fit that request, or it is no answer to it.
//
// - Requests wait in order. Foreground requests (the operator's, the refresh chains') go out
//   before background ones (status polling), which wait behind them.
// - A request's time-out runs from when it goes on the line until a chunk ends (never at the
//   first byte: links deliver whole chunks).
// - In step (no answer owed): a chunk of the shape of the request on the line is its answer,
//   decoded with that request's CID1/CID2 and context; a refusal answers any request. A chunk
//   of another shape is logged and not decoded, and the request waits on. A damaged chunk
//   ends the request (it is refused); unless it is framed with the request's shape, the
//   request's answer is still owed.
// - A request that times out is owed its answer: the line is out of step. Every chunk then
//   goes to the oldest owed request whose shape it fits (those before it are taken to be lost,
//   since the controller answers in order), is logged as late and never decoded. Nothing else
//   goes out while the line is out of step, but for one read of the exchange's own at a
//   time (the AC read 40/01, or the status read 42/16 whose answer has another length), sent
//   when a request waits: its answer can be no owed request's, so when it comes every owed
//   answer has come or is lost, and the line is back in step. A resync read that times out is
//   owed too, and the next one follows; a request that waited behind two unanswered resync
//   reads times out.
//   For a controller that answers every request in order, however late, this pairs every
//   answer with its own request; a controller that loses answers costs a read or two more.
// - A chunk that arrives while nothing is on the line and nothing is owed is not decoded.
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

#include "protocol/Commands.h"

class Exchange {
 public:
  static constexpr int kTimeoutMs = 1000;  // the controller answers well within this
  // Owed answers are remembered, oldest first, up to this many: a controller mute through
  // that many time-outs is taken to have lost the oldest.
  static constexpr std::size_t kMaxOwed = 1024;
  static constexpr int kResyncTag = -1;  // the tag of the exchange's own reads
  // A request that waited behind this many unanswered resync reads times out.
  static constexpr int kResyncsWaited = 2;

  struct Request {
    std::string frame;        // as it goes on the line
    uint8_t cid1 = 0, cid2 = 0;  // the command: its answer's shape comes from the catalogue
    int tag = 0;              // who asked: the owner's numbering (operator, a chain, polling)
    int context = 0;          // what the decoder needs to know (a row, a module, a record)
    bool background = false;  // waits behind every foreground request
    int tries = 0;            // times it went on the line before
    bool resync = false;      // a read of the exchange's own, to bring the line back in step
    // Kept by the exchange: the answer's shape, and the resync reads this request waited
    // behind that went unanswered (the one on the line counted when it went out).
    proto::AnswerShape shape;
    bool behindResync = false;
    int resyncsMissed = 0;
  };
  enum class Stray {
    Late,         // an owed answer, the answer to a resync read that came late, or bytes that
                  // fit nothing while the line is out of step
    Unsolicited,  // nothing is on the line and nothing is owed
    Mismatched,   // not of the shape the request on the line waits for; it waits on
    Resynced,     // the answer to the resync read: the line is back in step
  };

  struct Hooks {
    // Puts the frame on the line; false when nothing went out (no link open), in which case
    // no answer is owed when its time-out comes.
    std::function<bool(const Request &)> send;
    // One timer: started for the time-out, stopped when no longer needed.
    std::function<void(int ms)> startTimer;
    std::function<void()> stopTimer;
    // The request's answer, or a damaged chunk that ended it.
    std::function<void(const Request &, std::string_view chunk, int64_t leftOut)> answer;
    std::function<void(const Request &)> timedOut;
    std::function<void(std::string_view chunk, int64_t leftOut, Stray)> stray;
  };

  explicit Exchange(Hooks hooks) : hooks_(std::move(hooks)) {}

  void submit(Request r);
  // The same request once more, ahead of everything that waits.
  void retry(Request r);
  // Requests of `tag` that wait are dropped; one on the line stays there.
  void dropWaiting(int tag);
  // The same, and the one on the line of `tag` is answered as `asTag` (its answer is still
  // decoded, but no longer as `tag`'s): for a chain started afresh while it runs.
  void detach(int tag, int asTag);
  // A chunk ended on the line; leftOut counts the bytes past the chunk limit that were cut off.
  void chunk(std::string_view bytes, int64_t leftOut = 0);
  // The timer started by startTimer ran out.
  void timerExpired();
  // The link closed: nothing is on the line any more, nothing waits and nothing is owed.
  // Returns the requests that were dropped, the one on the line first (never a resync read).
  std::deque<Request> clear();

  const Request *onLine() const { return onLine_ ? &*onLine_ : nullptr; }
  bool inStep() const { return owed_.empty() && !(onLine_ && onLine_->resync); }
  std::size_t owed() const { return owed_.size(); }
  bool idle() const { return !onLine_ && queue_.empty(); }
  // Whether a request with this tag is on the line or waits.
  bool has(int tag) const;
  std::size_t waiting() const { return queue_.size(); }

 private:
  struct Owed {
    proto::AnswerShape shape;
    proto::Command command = proto::Command::None;  // None: not in the catalogue
    bool resync = false;
  };
  void pump();
  void owe(const Request &r);
  Request resyncRead(const Request &next) const;
  void settleOwed(std::string_view bytes, int64_t leftOut, const proto::Answer &a);
  void stray(std::string_view bytes, int64_t leftOut, Stray kind);
  Hooks hooks_;
  std::optional<Request> onLine_;
  bool onLineSent_ = false;  // the request on the line did go out
  std::deque<Request> queue_;
  std::deque<Owed> owed_;
  int busy_ = 0;  // > 0 while a hook runs: requests submitted then go out when it returns
};
