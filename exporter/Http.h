// The exporter's HTTP endpoint: GET / (a short page), GET /metrics (gzip when the scraper
// accepts it) and POST /-/reload (from this machine only). The request parsing and the
// answers are pure functions; HttpServer carries them over sockets.
//
// Connections, at most 64 at once, stay open between requests (keep-alive) and are all
// handled through QTcpSocket's interface: with TLS configured (WebConfig.h) every accepted
// socket is a QSslSocket, its handshake counted in the 5 s a head may take, and plain HTTP
// fails the handshake and is closed. With basic authentication configured every request,
// /-/reload included, needs right credentials (401 otherwise, logged with the user's name,
// never the password, at most one line a second). Limits:
// - a request line or a header line over 8 KiB is refused (414 or 431), so is a head of
//   more than 64 KiB in all; a request with a body is answered and its connection closed;
// - a connection that has not sent a complete request head within 5 s of being opened (or
//   of its last answer) is closed;
// - when all 64 are taken, a new connection makes room: the one that has waited longest
//   for its head is closed, else the one whose output has been stuck longest (1 s at
//   least), else the one answering longest (10 s at least, a scrape's usual time-out: a
//   client that reads a trickle); failing all three the new one is closed;
// - answers go out from shared bodies: a rendered page is one string, whatever the number
//   of clients, handed straight to the kernel (send buffer 128 KiB, which the kernel
//   doubles), or through the socket's buffer 64 KiB at a time when the kernel takes no more
//   or the socket is not plain TCP; so a client that does not read holds about 320 KiB of
//   its own, most of it in the kernel. A connection whose
//   unsent output has not moved for 10 s is closed, and the pages still held by slow clients
//   are at most four: a fifth closes the clients that hold the oldest.
#pragma once

#include <QObject>
#include <QTcpServer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exporter/Log.h"
#include "exporter/WebConfig.h"

class QTcpSocket;

namespace exporter {

constexpr std::size_t kMaxLine = 8 * 1024;
constexpr std::size_t kMaxHead = 64 * 1024;

struct RequestHead {
  enum class Status { Incomplete, Ok, BadRequest, LineTooLong, HeaderTooLong } status = Status::Incomplete;
  std::string method;
  std::string path;        // the target without its query
  bool keepAlive = false;  // HTTP/1.1 unless "Connection: close"; HTTP/1.0 with "keep-alive"
  bool gzip = false;       // Accept-Encoding names gzip (with a q above 0)
  bool hasBody = false;    // a Content-Length above 0, or a Transfer-Encoding
  std::string authorization;  // the Authorization header's value, empty without one
  std::size_t size = 0;    // bytes of the head, its empty line included (Ok only)
};
// Reads the request head at the start of bytes (up to the empty line; CRLF or LF).
RequestHead parseHead(std::string_view bytes);

// One rendering of the metrics page, shared by every connection that answers with it. Its
// gzip form is made the first time a scraper asks for it, and only then.
class RenderedPage {
 public:
  RenderedPage(std::string text, uint64_t serial);
  const std::shared_ptr<const std::string> &text() const { return text_; }
  const std::shared_ptr<const std::string> &gzip() const;
  uint64_t serial() const { return serial_; }

 private:
  std::shared_ptr<const std::string> text_;
  mutable std::shared_ptr<const std::string> gzip_;
  uint64_t serial_;
};
// The bytes in gzip form (zlib).
std::string gzipCompress(std::string_view bytes);

struct Response {
  int status = 200;
  std::string contentType;
  std::shared_ptr<const std::string> body;  // shared, never copied per client
  std::string headers;                      // more header lines, each ending in CRLF
  uint64_t page = 0;                        // the rendered page's serial; 0 for other bodies
  bool headOnly = false;                    // HEAD: the headers without the body
  bool close = false;                       // the connection ends after this answer
};
// The response's status line and headers; keepAlive: the connection stays open after it.
std::string responseHead(const Response &r, bool keepAlive);

// What the endpoint serves.
struct Endpoints {
  // The page to answer a scrape with (rendered again only when it has changed).
  std::function<std::shared_ptr<const RenderedPage>()> metrics;
  // Reads the configuration again and applies it; the reason when it was not applied.
  std::function<std::optional<std::string>()> reload;
};
// Whether a request may be answered: with basic authentication configured, its credentials
// were found right (Granted), wrong or missing (Denied: 401 with WWW-Authenticate), or not
// yet checked because checks are over their budget (Busy: 429, try again in a second).
enum class Access { Granted, Denied, Busy };
// The answer to a request; fromLoopback: the peer is on this machine.
Response respond(const RequestHead &head, const Endpoints &endpoints, bool fromLoopback,
                 Access access = Access::Granted);

// A connection as the choice of who makes room sees it (times in ms on one clock).
struct Slot {
  bool answering = false;  // its request head is complete and its answer going out
  int64_t since = 0;       // waiting for a head since, or its output last moved
  int64_t answerStart = 0;  // when its answer began
};
// Which connection is closed to make room for a new one, or -1 when none may be.
int makeRoomFor(const std::vector<Slot> &open, int64_t now);

class HttpServer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxConnections = 64;
  static constexpr int kHeadTimeoutMs = 5000;
  static constexpr int kStallTimeoutMs = 10000;
  static constexpr int kStuckMs = 1000;         // output stuck this long may make room
  static constexpr int kSlowAnswerMs = 10000;   // an answer going out this long may make room
  static constexpr std::size_t kChunk = 64 * 1024;
  static constexpr std::size_t kSendBuffer = 128 * 1024;  // the kernel's, per connection (it doubles it)
  static constexpr std::size_t kKeptPages = 4;  // pages slow clients may hold at once
  // Descriptors the endpoint may hold: its connections and the listening socket.
  static constexpr int kDescriptors = kMaxConnections + 1;

  HttpServer(Endpoints endpoints, QObject *parent = nullptr);
  ~HttpServer() override;
  // False with the system's reason when the address cannot be listened on.
  bool listen(const std::string &host, int port, std::string &error);
  quint16 port() const;
  int connections() const { return int(connections_.size()); }
  // Takes a connected socket as a client connection: every connection goes this one way,
  // whatever socket carries it (the listener hands over TLS sockets here too).
  void adopt(QTcpSocket *socket);
  // The web configuration (WebConfig.h) for the connections accepted from now on: TLS or
  // plain, the users of basic authentication, the extra headers. Connections already open
  // keep their TLS state; authentication and headers apply to their next request.
  void setWebConfig(const WebConfig &config);
  bool tls() const { return config_.tls.has_value(); }
  const BasicAuth &auth() const { return auth_; }

 private:
  class Connection;
  class Listener;
  void accept();
  bool makeRoom();
  void dropOldPages();
  void forget(Connection *c);
  Access authorize(const RequestHead &head, const QString &peer);
  Endpoints endpoints_;
  std::unique_ptr<Listener> server_;
  std::vector<Connection *> connections_;
  WebConfig config_;
  BasicAuth auth_;
  SparseLog refusals_;  // 401 and 429, at most one line a second
};

}  // namespace exporter
