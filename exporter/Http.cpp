#include "exporter/Http.h"

#include <QHostAddress>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>
#include <zlib.h>

#include <cerrno>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

namespace exporter {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Calls f on each comma-separated item of a header value, trimmed.
template <class F>
void eachItem(std::string_view value, F f) {
  while (!value.empty()) {
    const std::size_t comma = std::min(value.find(','), value.size());
    const std::string_view item = trim(value.substr(0, comma));
    if (!item.empty()) f(item);
    value.remove_prefix(std::min(comma + 1, value.size()));
  }
}

// Whether an Accept-Encoding value accepts gzip: "gzip" or "x-gzip", without q=0.
bool acceptsGzip(std::string_view value) {
  bool gzip = false;
  eachItem(value, [&](std::string_view item) {
    const std::size_t semi = std::min(item.find(';'), item.size());
    const std::string_view coding = trim(item.substr(0, semi));
    if (!sameText(coding, "gzip") && !sameText(coding, "x-gzip")) return;
    double q = 1;
    std::string_view params = item.substr(semi);
    const std::size_t at = params.find("q=");
    if (at != std::string_view::npos) q = std::atof(std::string(trim(params.substr(at + 2))).c_str());
    gzip = q > 0;
  });
  return gzip;
}

}  // namespace

RequestHead parseHead(std::string_view bytes) {
  using S = RequestHead::Status;
  RequestHead h;
  std::size_t at = 0;
  bool first = true, http10 = false;
  std::optional<bool> connectionKeepAlive;
  for (;;) {
    const std::size_t nl = bytes.find('\n', at);
    const std::size_t end = nl == std::string_view::npos ? bytes.size() : nl;
    std::string_view line = bytes.substr(at, end - at);
    if (line.size() > kMaxLine) {
      h.status = first ? S::LineTooLong : S::HeaderTooLong;
      return h;
    }
    if (nl == std::string_view::npos) {
      h.status = bytes.size() > kMaxHead ? S::HeaderTooLong : S::Incomplete;
      return h;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      // METHOD SP TARGET SP HTTP/x.y
      const auto sp1 = line.find(' ');
      const auto sp2 = line.rfind(' ');
      if (sp1 == std::string_view::npos || sp2 == sp1 || line.substr(sp2 + 1).substr(0, 5) != "HTTP/") {
        h.status = S::BadRequest;
        return h;
      }
      h.method = std::string(line.substr(0, sp1));
      std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
      target = target.substr(0, target.find('?'));
      if (target.empty() || target.find(' ') != std::string_view::npos) {
        h.status = S::BadRequest;
        return h;
      }
      h.path = std::string(target);
      http10 = line.substr(sp2 + 1) == "HTTP/1.0";
      first = false;
    } else if (line.empty()) {
      h.status = S::Ok;
      h.size = nl + 1;
      h.keepAlive = connectionKeepAlive.value_or(!http10);
      return h;
    } else {
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos || colon == 0) {
        h.status = S::BadRequest;
        return h;
      }
      const std::string_view name = line.substr(0, colon), value = trim(line.substr(colon + 1));
      if (sameText(name, "Connection")) {
        eachItem(value, [&](std::string_view token) {
          if (sameText(token, "close")) connectionKeepAlive = false;
          else if (sameText(token, "keep-alive") && !connectionKeepAlive.has_value()) connectionKeepAlive = true;
        });
      } else if (sameText(name, "Accept-Encoding")) {
        h.gzip = h.gzip || acceptsGzip(value);
      } else if (sameText(name, "Content-Length")) {
        if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) {
          h.status = S::BadRequest;
          return h;
        }
        h.hasBody = h.hasBody || value.find_first_not_of('0') != std::string_view::npos;
      } else if (sameText(name, "Transfer-Encoding")) {
        h.hasBody = true;
      } else if (sameText(name, "Authorization")) {
        h.authorization = std::string(value);
      }
    }
    at = nl + 1;
    if (at > kMaxHead) {
      h.status = S::HeaderTooLong;
      return h;
    }
  }
}

RenderedPage::RenderedPage(std::string text, uint64_t serial)
    : text_(std::make_shared<const std::string>(std::move(text))), serial_(serial) {}

const std::shared_ptr<const std::string> &RenderedPage::gzip() const {
  if (!gzip_) gzip_ = std::make_shared<const std::string>(gzipCompress(*text_));
  return gzip_;
}

std::string gzipCompress(std::string_view bytes) {
  z_stream z{};
  // 15 + 16: a gzip header and trailer around the deflate stream
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out(deflateBound(&z, uLong(bytes.size())), '\0');
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
  z.avail_in = uInt(bytes.size());
  z.next_out = reinterpret_cast<Bytef *>(out.data());
  z.avail_out = uInt(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return rc == Z_STREAM_END ? out : std::string();
}

namespace {
const char kIndex[] =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>powerhost exporter</title></head>\n"
    "<body><h1>powerhost exporter</h1>\n"
    "<p>Status of -48 V power controllers for Prometheus: <a href=\"/metrics\">/metrics</a></p>\n"
    "</body></html>\n";

const char *reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 414: return "URI Too Long";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    default: return "Error";
  }
}
Response plain(int status, std::string body, bool close = false) {
  Response r;
  r.status = status;
  r.contentType = "text/plain; charset=utf-8";
  r.body = std::make_shared<const std::string>(std::move(body));
  r.close = close;
  return r;
}
}  // namespace

Response respond(const RequestHead &head, const Endpoints &endpoints, bool fromLoopback, Access access) {
  using S = RequestHead::Status;
  switch (head.status) {
    case S::Ok: break;
    case S::LineTooLong: return plain(414, "request line too long\n", true);
    case S::HeaderTooLong: return plain(431, "request header too large\n", true);
    default: return plain(400, "bad request\n", true);
  }
  if (access == Access::Denied) {
    Response r = plain(401, "Unauthorized\n");
    r.headers = "WWW-Authenticate: Basic\r\n";
    return r;
  }
  if (access == Access::Busy) {
    Response r = plain(429, "too many credentials to check: try again in a second\n");
    r.headers = "Retry-After: 1\r\n";
    return r;
  }
  if (head.path == "/-/reload") {
    if (head.method != "POST" && head.method != "PUT") {
      Response r = plain(405, "only POST\n");
      r.headers = "Allow: POST, PUT\r\n";
      return r;
    }
    if (!fromLoopback) return plain(403, "reload only from this machine\n");
    const std::optional<std::string> why = endpoints.reload ? endpoints.reload() : "no reload here";
    return why ? plain(500, "reload failed: " + *why + "\n") : plain(200, "configuration reloaded\n");
  }
  if (head.path != "/" && head.path != "/metrics") return plain(404, "not found\n");
  const bool headOnly = head.method == "HEAD";
  if (head.method != "GET" && !headOnly) {
    Response r = plain(405, "only GET\n");
    r.headers = "Allow: GET, HEAD\r\n";
    return r;
  }
  Response r;
  if (head.path == "/") {
    static const auto index = std::make_shared<const std::string>(kIndex);
    r.contentType = "text/html; charset=utf-8";
    r.body = index;
  } else {
    const std::shared_ptr<const RenderedPage> page = endpoints.metrics();
    r.contentType = "text/plain; version=0.0.4; charset=utf-8";
    r.body = head.gzip ? page->gzip() : page->text();
    r.page = page->serial();
    r.headers = head.gzip ? "Content-Encoding: gzip\r\nVary: Accept-Encoding\r\n" : "Vary: Accept-Encoding\r\n";
  }
  r.headOnly = headOnly;
  return r;
}

std::string responseHead(const Response &r, bool keepAlive) {
  std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + reason(r.status) + "\r\n";
  out += "Content-Type: " + r.contentType + "\r\n";
  out += "Content-Length: " + std::to_string(r.body ? r.body->size() : 0) + "\r\n";
  out += r.headers;
  out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
  return out;
}

// One client connection: it reads a request head, answers it from a shared body, and waits
// for the next head or closes.
class HttpServer::Connection : public QObject {
 public:
  Connection(QTcpSocket *socket, HttpServer &server) : QObject(&server), socket_(socket), server_(server) {
    socket_->setParent(this);
    socket_->setReadBufferSize(qint64(kMaxHead) + 1);
    // the kernel's share of a client's unsent output stays small too (it would grow to
    // megabytes per connection, charged to the exporter's memory all the same)
    socket_->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(kSendBuffer));
    direct_ = socket_->metaObject() == &QTcpSocket::staticMetaObject && socket_->socketDescriptor() >= 0;
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { close(); });
    connect(socket_, &QTcpSocket::readyRead, this, [this] { readable(); });
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] { moved(); });
    connect(socket_, &QTcpSocket::disconnected, this, [this] { close(); });
    // a TLS socket that fails (its handshake, a bad record) ends the connection; a plain one
    // ends when it is disconnected
    if (!direct_)
      connect(socket_, &QTcpSocket::errorOccurred, this,
              [this] { QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection); });
    waitForHead();
  }
  Slot slot() const { return {sending_, since_, answerStart_}; }
  uint64_t page() const { return sending_ ? response_.page : 0; }

  // The connection ends now, whatever it was doing.
  void close() {
    if (closed_) return;
    closed_ = true;
    timer_.stop();
    server_.forget(this);
    socket_->disconnect(this);
    socket_->abort();
    deleteLater();
  }

 private:
  void waitForHead() {
    sending_ = false;
    since_ = steadyMs();
    timer_.start(kHeadTimeoutMs);
    // bytes that came while the last answer went out (a pipelined request) are read now,
    // from the event loop, so a burst of them is never answered by recursion
    if (!in_.empty() || socket_->bytesAvailable() > 0)
      QMetaObject::invokeMethod(this, [this] { readable(); }, Qt::QueuedConnection);
  }

  void readable() {
    if (sending_ || closing_ || closed_) return;  // read after the answer has gone
    const qint64 room = qint64(kMaxHead + 1) - qint64(in_.size());
    if (room > 0) in_ += socket_->read(room).toStdString();
    const RequestHead head = parseHead(in_);
    if (head.status == RequestHead::Status::Incomplete) return;
    const Access access = head.status == RequestHead::Status::Ok
                              ? server_.authorize(head, socket_->peerAddress().toString())
                              : Access::Granted;
    response_ = respond(head, server_.endpoints_, socket_->peerAddress().isLoopback(), access);
    response_.headers += server_.config_.headers;
    keepAlive_ = head.status == RequestHead::Status::Ok && head.keepAlive && !head.hasBody && !response_.close;
    in_.erase(0, head.status == RequestHead::Status::Ok ? head.size : in_.size());
    head_ = responseHead(response_, keepAlive_);
    offset_ = 0;
    sending_ = true;
    since_ = answerStart_ = steadyMs();
    timer_.start(kStallTimeoutMs);
    if (response_.page) server_.dropOldPages();
    if (!closed_) pump();
  }

  // Output moved: the stall clock starts again.
  void moved() {
    if (!sending_ || closed_) return;
    since_ = steadyMs();
    timer_.start(kStallTimeoutMs);
    pump();
  }

  // Hands the answer on: on a plain TCP connection straight to the kernel, as much as it
  // takes; what it does not take, and everything on another kind of socket (TLS), through
  // the socket's own buffer, one chunk at a time, going on when that chunk has gone.
  void pump() {
    const std::size_t body = response_.headOnly || !response_.body ? 0 : response_.body->size();
    const std::size_t total = head_.size() + body;
    while (offset_ < total && socket_->bytesToWrite() == 0) {
      const char *from;
      std::size_t n;
      if (offset_ < head_.size()) {
        from = head_.data() + offset_;
        n = head_.size() - offset_;
      } else {
        const std::size_t at = offset_ - head_.size();
        from = response_.body->data() + at;
        n = body - at;
      }
      if (direct_) {
        const ssize_t sent = ::send(int(socket_->socketDescriptor()), from, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
          offset_ += std::size_t(sent);
          since_ = steadyMs();
          timer_.start(kStallTimeoutMs);
          continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          close();
          return;
        }
      }
      const qint64 written = socket_->write(from, qint64(std::min(n, kChunk)));
      if (written <= 0) {
        close();
        return;
      }
      offset_ += std::size_t(written);
    }
    if (offset_ == total && socket_->bytesToWrite() == 0) finished();
  }

  void finished() {
    response_ = Response{};
    head_.clear();
    if (!keepAlive_) {
      sending_ = false;
      closing_ = true;
      timer_.start(kHeadTimeoutMs);
      socket_->disconnectFromHost();
      return;
    }
    waitForHead();
  }

  QTcpSocket *socket_;
  HttpServer &server_;
  QTimer timer_;
  std::string in_;          // received, not yet answered
  Response response_;       // the answer going out
  std::string head_;        // its head
  std::size_t offset_ = 0;  // bytes of head and body handed to the socket
  bool sending_ = false, keepAlive_ = false, closing_ = false, closed_ = false;
  bool direct_ = false;  // a plain TCP connection: the kernel is written to without the socket's buffer
  qint64 since_ = 0;  // waiting for a head since, or output last moved (steady ms)
  qint64 answerStart_ = 0;
};

// The listening socket: each accepted connection is a plain socket, or a QSslSocket whose
// server handshake starts at once while TLS is configured.
class HttpServer::Listener : public QTcpServer {
 public:
  explicit Listener(HttpServer &owner) : owner_(owner) {}

 protected:
  void incomingConnection(qintptr descriptor) override {
    if (!owner_.config_.tls) {
      auto *s = new QTcpSocket(this);
      if (s->setSocketDescriptor(descriptor)) addPendingConnection(s);
      else delete s;
      return;
    }
    auto *s = new QSslSocket(this);
    if (!s->setSocketDescriptor(descriptor)) {
      delete s;
      return;
    }
    s->setSslConfiguration(owner_.config_.tls->ssl);
    if (owner_.config_.tls->clientAuth == WebConfig::ClientAuth::RequireAny)
      connect(s, &QSslSocket::encrypted, s, [s] {
        if (s->peerCertificate().isNull()) QMetaObject::invokeMethod(s, [s] { s->abort(); }, Qt::QueuedConnection);
      });
    s->startServerEncryption();
    addPendingConnection(s);
  }

 private:
  HttpServer &owner_;
};

HttpServer::HttpServer(Endpoints endpoints, QObject *parent)
    : QObject(parent), endpoints_(std::move(endpoints)), server_(std::make_unique<Listener>(*this)) {
  connect(server_.get(), &QTcpServer::newConnection, this, [this] { accept(); });
  // Out of descriptors the server stops accepting; it tries again shortly instead of never.
  connect(server_.get(), &QTcpServer::acceptError, this,
          [this] { QTimer::singleShot(100, this, [this] { server_->resumeAccepting(); }); });
}

quint16 HttpServer::port() const { return server_->serverPort(); }

void HttpServer::setWebConfig(const WebConfig &config) {
  config_ = config;
  auth_.setUsers(config.users);
}

Access HttpServer::authorize(const RequestHead &head, const QString &peer) {
  if (!auth_.enabled()) return Access::Granted;
  std::string user;
  const BasicAuth::Verdict v = auth_.check(head.authorization, user);
  if (v == BasicAuth::Verdict::Ok) return Access::Granted;
  const std::string who = head.authorization.empty() ? "no credentials"
                          : user.empty()              ? "credentials that are not basic authentication"
                                                      : "user \"" + printable(user) + "\"";
  if (v == BasicAuth::Verdict::Busy) {
    refusals_("HTTP: 429 for " + who + " from " + peer.toStdString() + ": credential checks over their budget");
    return Access::Busy;
  }
  refusals_("HTTP: 401 for " + who + " from " + peer.toStdString() + " " + printable(head.method, 16) + " " + printable(head.path, 128) +
             (user.empty() ? std::string() : ": wrong user or password"));
  return Access::Denied;
}

HttpServer::~HttpServer() {
  const auto all = connections_;
  connections_.clear();
  for (Connection *c : all) delete c;
}

bool HttpServer::listen(const std::string &host, int port, std::string &error) {
  server_->setMaxPendingConnections(kMaxConnections);
  if (server_->listen(QHostAddress(QString::fromStdString(host)), static_cast<quint16>(port))) return true;
  error = server_->errorString().toStdString();
  return false;
}

void HttpServer::accept() {
  while (QTcpSocket *s = server_->nextPendingConnection()) adopt(s);
}

void HttpServer::adopt(QTcpSocket *socket) {
  if (int(connections_.size()) >= kMaxConnections && !makeRoom()) {
    socket->abort();
    socket->deleteLater();
    return;
  }
  connections_.push_back(new Connection(socket, *this));
}

int makeRoomFor(const std::vector<Slot> &open, int64_t now) {
  int waiting = -1, stuck = -1, slow = -1;
  for (int i = 0; i < int(open.size()); ++i) {
    const Slot &s = open[std::size_t(i)];
    if (!s.answering) {
      if (waiting < 0 || s.since < open[std::size_t(waiting)].since) waiting = i;
    } else if (now - s.since >= HttpServer::kStuckMs) {
      if (stuck < 0 || s.since < open[std::size_t(stuck)].since) stuck = i;
    } else if (now - s.answerStart >= HttpServer::kSlowAnswerMs) {
      if (slow < 0 || s.answerStart < open[std::size_t(slow)].answerStart) slow = i;
    }
  }
  return waiting >= 0 ? waiting : stuck >= 0 ? stuck : slow;
}

bool HttpServer::makeRoom() {
  std::vector<Slot> open;
  for (Connection *c : connections_) open.push_back(c->slot());
  const int victim = makeRoomFor(open, steadyMs());
  if (victim < 0) return false;
  connections_[std::size_t(victim)]->close();
  return true;
}

void HttpServer::dropOldPages() {
  std::vector<uint64_t> pages;
  for (Connection *c : connections_)
    if (c->page()) pages.push_back(c->page());
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  for (std::size_t drop = 0; drop + kKeptPages < pages.size(); ++drop) {
    const auto all = connections_;
    for (Connection *c : all)
      if (c->page() == pages[drop]) c->close();
  }
}

void HttpServer::forget(Connection *c) {
  connections_.erase(std::remove(connections_.begin(), connections_.end(), c), connections_.end());
}

}  // namespace exporter
