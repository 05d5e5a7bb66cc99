// One controller, asked one request at a time, for the command line: the link its URL names,
// the one exchange (link/Exchange.h) every request goes through, a time-out and retries.
//
// ask() sends one request of the catalogue and waits (running the event loop) for its answer:
// the request's frame is built from the catalogue (protocol/Commands.h) and the controller's
// address, never by hand. A request that goes unanswered within the time-out, or whose answer
// is damaged, is sent again up to `retries` times. After a time-out the exchange brings the line
// back in step before anything else goes out, so an answer that comes late is never taken for
// a later request's. A request is given up on after timeout × (retries + 1) in all, so a silent
// controller costs no more than that per request.
// Everything runs on the thread that made the session.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "link/ControllerUrl.h"
#include "link/Exchange.h"
#include "protocol/Commands.h"

class Link;
class QEventLoop;

namespace cli {

struct Reply {
  enum class Outcome { Answered, Refused, NoAnswer, Damaged };
  Outcome outcome = Outcome::NoAnswer;
  uint8_t returnCode = 0;
  std::vector<uint8_t> data;  // the data bytes the answer carried
  bool ok() const { return outcome == Outcome::Answered; }
};

class Session : public QObject {
 public:
  Session(const linkurl::Target &target, int timeoutMs, int retries, QObject *parent = nullptr);
  ~Session() override;

  // Opens the link (a TCP connection is waited for up to the time-out × (retries + 1));
  // false with the reason when it cannot be opened.
  bool open(QString *why);
  Reply ask(proto::Command command, const std::vector<uint8_t> &data = {});
  // Requests put on the line so far, resends counted.
  int sent() const { return sent_; }
  const linkurl::Target &target() const { return target_; }

 private:
  Exchange::Hooks hooks();
  void finish(Reply reply);
  linkurl::Target target_;
  int timeoutMs_, retries_;
  Link *link_ = nullptr;
  std::unique_ptr<Exchange> exchange_;
  QTimer timer_;
  QTimer deadline_;  // the current request's whole time
  int askTag_ = 0;   // the current request's tag: answers to earlier ones are not its own
  QEventLoop *loop_ = nullptr;
  std::optional<Reply> reply_;
  int sent_ = 0;
};

}  // namespace cli
