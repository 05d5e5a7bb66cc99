// The controller's links: a TCP server (one client at a time) and a pseudo-terminal. Each
// link reassembles request frames, lets the responder answer them and writes every answer
// in one write at its due time (after an injected delay, or paced like a serial line).
#pragma once

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "sim/Faults.h"
#include "sim/FrameAssembler.h"
#include "sim/Options.h"
#include "sim/Stats.h"

namespace sim {

int64_t monotonicUs();

// One link's traffic: input assembly and the queue of timed writes.
//
// Answers waiting for their time (paced by --baud, or late) take at most
// kMaxScheduledBytes: once that many wait, the channel answers no further request and its
// link stops reading (full()); the requests already read wait as frames. When answers have
// gone out below the bound, the waiting frames are answered and onRoom tells the link to
// read again. So a client that floods requests holds the simulator to a bounded memory,
// and every request it sent is still answered, in order.
class Channel : public QObject {
  Q_OBJECT
 public:
  static constexpr std::size_t kMaxScheduledBytes = 1 << 20;
  using Writer = std::function<bool(const std::string &)>;  // false: the link is gone
  Channel(const char *name, Responder &responder, Stats &stats, const Options &options, QObject *parent);
  void setWriter(Writer w) { writer_ = std::move(w); }
  void setOnRoom(std::function<void()> f) { onRoom_ = std::move(f); }
  // The link passes what it read, only while the channel is not full.
  void received(const char *data, std::size_t size);
  // Requests read wait unanswered, or the answers waiting have reached the bound.
  bool full() const { return assembler_.hasFrame() || scheduledBytes_ >= kMaxScheduledBytes; }
  void reset();  // client gone: forget partial input and pending answers

 private:
  void answerWaiting();  // answers the frames read, while there is room
  void schedule(const Plan &plan);
  void writeDue();
  void onTimer();
  void log(const char *direction, const std::string &bytes, const std::string &extra = {}) const;

  const char *name_;
  Responder &responder_;
  Stats &stats_;
  const Options &options_;
  Writer writer_;
  std::function<void()> onRoom_;
  FrameAssembler assembler_;
  struct Timed {
    std::string bytes;
    int64_t dueUs;
    bool lastOfAnswer;
    uint8_t cid1, cid2;
  };
  std::deque<Timed> queue_;
  std::size_t scheduledBytes_ = 0;  // of the answers in queue_
  int64_t lineFreeUs_ = 0;
  QTimer timer_;
};

class Server : public QObject {
  Q_OBJECT
 public:
  // Answers waiting to go out to the TCP client at most (past it the client is not read until
  // it drains), and the size of one read.
  static constexpr qint64 kMaxUnsentBytes = 1 << 20;
  static constexpr qint64 kReadPieceBytes = 16384;
  Server(const Options &options, Controller &controller, QObject *parent = nullptr);
  ~Server() override;
  // Opens the links and prints one line per link to stdout.
  bool start(std::string &error);
  void printStats();
  quint16 tcpPort() const { return tcp_ ? tcp_->serverPort() : 0; }
  std::string ptyPath() const { return ptyPath_; }

 private:
  bool startTcp(std::string &error);
  bool startPty(std::string &error);
  void onNewConnection();
  void onPtyReadable();

  const Options &options_;
  Responder responder_;
  Stats stats_;
  QTcpServer *tcp_ = nullptr;
  QPointer<QTcpSocket> client_;
  Channel *tcpChannel_ = nullptr;
  Channel *ptyChannel_ = nullptr;
  int ptyMaster_ = -1;
  int ptySlave_ = -1;  // kept open so the link survives clients coming and going
  std::string ptyPath_;
  std::string ptyBacklog_;  // answer characters the terminal could not take yet
  QSocketNotifier *ptyRead_ = nullptr;
  QSocketNotifier *ptyWrite_ = nullptr;
  bool linkMade_ = false;
};

}  // namespace sim
