// The exporter's HTTP endpoint: GET / (a short page) and GET /metrics. A request head is read
// whole before it is answered; the answer closes the connection.
//
// Limits: a request line or a header line over 8 KiB is refused (414 or 431), so is a head of
// more than 64 KiB in all; a connection that has not sent its head within 10 s is closed, and
// at most 64 connections are served at once (more are closed at once). A client that has not
// taken its answer within 30 s is dropped.
#pragma once

#include <QObject>
#include <QTcpServer>

#include <functional>
#include <string>
#include <string_view>

namespace exporter {

constexpr std::size_t kMaxLine = 8 * 1024;
constexpr std::size_t kMaxHead = 64 * 1024;

struct RequestHead {
  enum class Status { Incomplete, Ok, BadRequest, LineTooLong, HeaderTooLong } status = Status::Incomplete;
  std::string method;
  std::string path;  // the target without its query
};
// Reads the request head at the start of bytes (up to the empty line; CRLF or LF).
RequestHead parseHead(std::string_view bytes);

struct Response {
  int status = 200;
  std::string contentType;
  std::string body;
  bool headOnly = false;  // HEAD: the headers without the body
};
// What the exporter answers; metrics() renders the page only when it is asked for.
Response respond(const RequestHead &head, const std::function<std::string()> &metrics);
std::string responseBytes(const Response &r);

class HttpServer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxConnections = 64;
  static constexpr int kHeadTimeoutMs = 10000;
  static constexpr int kAnswerTimeoutMs = 30000;
  HttpServer(std::function<std::string()> metrics, QObject *parent = nullptr);
  // False with the system's reason when the address cannot be listened on.
  bool listen(const std::string &host, int port, std::string &error);
  quint16 port() const { return server_.serverPort(); }

 private:
  void accept();
  std::function<std::string()> metrics_;
  QTcpServer server_;
  int open_ = 0;
};

}  // namespace exporter
