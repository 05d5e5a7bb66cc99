#include "sim/Server.h"

#include <QHostAddress>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

int64_t monotonicUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {

std::string printable(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "<CR>";
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string timestamp() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return buf;
}

}  // namespace

Channel::Channel(const char *name, Responder &responder, Stats &stats, const Options &options, QObject *parent)
    : QObject(parent), name_(name), responder_(responder), stats_(stats), options_(options) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { onTimer(); });
}

void Channel::log(const char *direction, const std::string &bytes, const std::string &extra) const {
  if (!options_.verbose) return;
  std::string text = printable(bytes);
  if (!extra.empty()) text += (text.empty() ? "" : "  ") + extra;
  std::fprintf(stderr, "%s %s %s %s\n", timestamp().c_str(), name_, direction, text.c_str());
  std::fflush(stderr);
}

void Channel::received(const char *data, std::size_t size) {
  if (size == 0) return;
  stats_.dataArrived(monotonicUs());
  assembler_.feed(std::string_view(data, size));
  answerWaiting();
}

void Channel::answerWaiting() {
  while (scheduledBytes_ < kMaxScheduledBytes && assembler_.hasFrame()) {
    std::string frame = assembler_.takeFrame();
    log("rx", frame);
    Plan plan = responder_.respond(frame);
    if (!plan.addressed) {
      log("--", "", "no answer: damaged frame or another address");
      continue;
    }
    if (plan.pieces.empty()) {
      log("--", "", "no answer: injected silence");
      continue;
    }
    std::string faults;
    for (const char *f : plan.faults) faults += std::string(faults.empty() ? "fault " : ",") + f;
    if (!faults.empty()) log("..", "", faults);
    schedule(plan);
  }
}

void Channel::schedule(const Plan &plan) {
  int64_t t = monotonicUs();
  for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
    const Piece &p = plan.pieces[i];
    t += int64_t(p.delayMs) * 1000;
    if (options_.baud > 0) {
      // The line carries one answer at a time, 10 bits per character.
      t = std::max(t, lineFreeUs_) + int64_t(p.bytes.size()) * 10 * 1000000 / options_.baud;
      lineFreeUs_ = t;
    }
    queue_.push_back({p.bytes, t, i + 1 == plan.pieces.size(), plan.cid1, plan.cid2});
    scheduledBytes_ += p.bytes.size();
  }
  writeDue();
}

void Channel::onTimer() {
  const bool wasFull = full();
  writeDue();
  if (!wasFull) return;
  answerWaiting();
  if (!full() && onRoom_) onRoom_();
}

void Channel::writeDue() {
  while (!queue_.empty()) {
    const int64_t now = monotonicUs();
    Timed &next = queue_.front();
    if (next.dueUs > now) {
      timer_.start(static_cast<int>((next.dueUs - now + 999) / 1000));
      return;
    }
    Timed item = std::move(next);
    queue_.pop_front();
    scheduledBytes_ -= item.bytes.size();
    log("tx", item.bytes);
    if (!writer_ || !writer_(item.bytes)) {
      reset();
      return;
    }
    if (item.lastOfAnswer) {
      stats_.answered(item.cid1, item.cid2);
      stats_.answerWritten(monotonicUs());
    }
  }
}

void Channel::reset() {
  assembler_.clear();
  std::deque<Timed>().swap(queue_);
  scheduledBytes_ = 0;
  timer_.stop();
  lineFreeUs_ = 0;
  stats_.linkReset();
}

Server::Server(const Options &options, Controller &controller, QObject *parent)
    : QObject(parent), options_(options), responder_(controller, options.faults) {}

Server::~Server() {
  if (linkMade_) ::unlink(options_.link.c_str());
  if (ptyMaster_ >= 0) ::close(ptyMaster_);
  if (ptySlave_ >= 0) ::close(ptySlave_);
}

bool Server::start(std::string &error) {
  if (options_.tcp && !startTcp(error)) return false;
  if (options_.pty && !startPty(error)) return false;
  if (tcp_) std::printf("listening %s:%u\n", options_.listenHost.c_str(), unsigned(tcp_->serverPort()));
  if (ptyMaster_ >= 0) std::printf("pty %s\n", ptyPath_.c_str());
  std::fflush(stdout);
  return true;
}

bool Server::startTcp(std::string &error) {
  QHostAddress address;
  if (options_.listenHost == "localhost") address = QHostAddress(QHostAddress::LocalHost);
  else if (!address.setAddress(QString::fromStdString(options_.listenHost))) {
    error = "not an IP address: " + options_.listenHost;
    return false;
  }
  tcp_ = new QTcpServer(this);
  tcp_->setMaxPendingConnections(4);
  if (!tcp_->listen(address, static_cast<quint16>(options_.listenPort))) {
    error = "cannot listen on " + options_.listenHost + ":" + std::to_string(options_.listenPort) + ": " +
            tcp_->errorString().toStdString();
    return false;
  }
  tcpChannel_ = new Channel("tcp", responder_, stats_, options_, this);
  connect(tcp_, &QTcpServer::newConnection, this, &Server::onNewConnection);
  return true;
}

// One client at a time: a new connection replaces the one before (a client that went away
// without closing would otherwise block the link).
void Server::onNewConnection() {
  while (QTcpSocket *s = tcp_->nextPendingConnection()) {
    if (client_) {
      if (options_.verbose) std::fprintf(stderr, "%s tcp -- new client replaces the previous one\n", timestamp().c_str());
      client_->disconnect(this);
      client_->abort();
      client_->deleteLater();
    }
    tcpChannel_->reset();
    client_ = s;
    s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (options_.verbose)
      std::fprintf(stderr, "%s tcp -- client %s:%u connected\n", timestamp().c_str(),
                   s->peerAddress().toString().toStdString().c_str(), unsigned(s->peerPort()));
    QTcpSocket *sock = s;
    tcpChannel_->setWriter([this, sock](const std::string &bytes) {
      if (client_ != sock || sock->state() != QAbstractSocket::ConnectedState) return false;
      sock->write(bytes.data(), static_cast<qint64>(bytes.size()));
      sock->flush();
      return true;
    });
    // A client that does not take its answers is not read either: once kMaxUnsentBytes wait
    // to go out, its requests stay in a small read buffer and then in the kernel, until the
    // client has drained its answers below the bound.
    sock->setReadBufferSize(kReadPieceBytes);
    auto pump = [this, sock] {
      if (client_ != sock) return;
      while (client_ == sock && sock->bytesToWrite() < kMaxUnsentBytes && !tcpChannel_->full() &&
             sock->bytesAvailable() > 0) {
        const QByteArray data = sock->read(kReadPieceBytes);
        tcpChannel_->received(data.constData(), static_cast<std::size_t>(data.size()));
      }
    };
    connect(s, &QTcpSocket::readyRead, this, pump);
    connect(s, &QTcpSocket::bytesWritten, this, pump);
    tcpChannel_->setOnRoom(pump);
    connect(s, &QTcpSocket::disconnected, this, [this, sock] {
      if (options_.verbose) std::fprintf(stderr, "%s tcp -- client gone\n", timestamp().c_str());
      if (client_ == sock) {
        tcpChannel_->reset();
        tcpChannel_->setWriter(nullptr);
        tcpChannel_->setOnRoom(nullptr);
        client_ = nullptr;
      }
      sock->deleteLater();
    });
  }
}

bool Server::startPty(std::string &error) {
  ptyMaster_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (ptyMaster_ < 0 || ::grantpt(ptyMaster_) != 0 || ::unlockpt(ptyMaster_) != 0) {
    error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  char name[128];
  if (::ptsname_r(ptyMaster_, name, sizeof name) != 0) {
    error = "cannot name the pseudo-terminal";
    return false;
  }
  ptyPath_ = name;
  ptySlave_ = ::open(name, O_RDWR | O_NOCTTY);
  if (ptySlave_ < 0) {
    error = std::string("cannot open ") + name + ": " + std::strerror(errno);
    return false;
  }
  // A raw line, as a serial port is: no echo, no line editing, carriage returns kept.
  termios tio{};
  if (::tcgetattr(ptySlave_, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(ptySlave_, TCSANOW, &tio);
  }
  ::fcntl(ptyMaster_, F_SETFL, ::fcntl(ptyMaster_, F_GETFL) | O_NONBLOCK);
  if (!options_.link.empty()) {
    struct stat st {};
    if (::lstat(options_.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(options_.link.c_str());
    if (::symlink(name, options_.link.c_str()) != 0) {
      error = "cannot make the link " + options_.link + ": " + std::strerror(errno);
      return false;
    }
    linkMade_ = true;
  }
  ptyChannel_ = new Channel("pty", responder_, stats_, options_, this);
  ptyChannel_->setWriter([this](const std::string &bytes) {
    if (!ptyBacklog_.empty()) {
      if (ptyBacklog_.size() < 65536) ptyBacklog_ += bytes;  // nobody reads: drop the rest
      return true;
    }
    ssize_t n = ::write(ptyMaster_, bytes.data(), bytes.size());
    if (n < 0) n = (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    if (n < 0) return true;  // the terminal stays; this answer is lost
    if (static_cast<std::size_t>(n) < bytes.size()) {
      ptyBacklog_.assign(bytes, static_cast<std::size_t>(n));
      ptyWrite_->setEnabled(true);
    }
    return true;
  });
  // Answers waiting for their time fill the channel: the terminal is not read until they
  // have gone out below the bound (its writer then waits, as behind a full line).
  ptyChannel_->setOnRoom([this] {
    ptyRead_->setEnabled(true);
    onPtyReadable();
  });
  ptyRead_ = new QSocketNotifier(ptyMaster_, QSocketNotifier::Read, this);
  connect(ptyRead_, &QSocketNotifier::activated, this, [this] { onPtyReadable(); });
  ptyWrite_ = new QSocketNotifier(ptyMaster_, QSocketNotifier::Write, this);
  ptyWrite_->setEnabled(false);
  connect(ptyWrite_, &QSocketNotifier::activated, this, [this] {
    ssize_t n = ::write(ptyMaster_, ptyBacklog_.data(), ptyBacklog_.size());
    if (n > 0) ptyBacklog_.erase(0, static_cast<std::size_t>(n));
    if (ptyBacklog_.empty()) ptyWrite_->setEnabled(false);
  });
  return true;
}

void Server::onPtyReadable() {
  char buf[512];
  for (;;) {
    if (ptyChannel_->full()) {
      ptyRead_->setEnabled(false);
      return;
    }
    ssize_t n = ::read(ptyMaster_, buf, sizeof buf);
    if (n > 0) {
      ptyChannel_->received(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    // EOF or EIO: no terminal end open; we hold one, so this is unexpected. Pause briefly.
    ptyRead_->setEnabled(false);
    QTimer::singleShot(100, this, [this] { ptyRead_->setEnabled(true); });
    return;
  }
}

void Server::printStats() {
  for (const std::string &line : stats_.lines()) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace sim
