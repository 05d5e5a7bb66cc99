#include "exporter/Http.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace exporter {

RequestHead parseHead(std::string_view bytes) {
  using S = RequestHead::Status;
  RequestHead h;
  std::size_t at = 0;
  bool first = true;
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
      first = false;
    } else if (line.empty()) {
      h.status = S::Ok;
      return h;
    }
    at = nl + 1;
    if (at > kMaxHead) {
      h.status = S::HeaderTooLong;
      return h;
    }
  }
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
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    default: return "Error";
  }
}
Response plain(int status, std::string body) { return {status, "text/plain; charset=utf-8", std::move(body)}; }
}  // namespace

Response respond(const RequestHead &head, const std::function<std::string()> &metrics) {
  using S = RequestHead::Status;
  switch (head.status) {
    case S::Ok: break;
    case S::LineTooLong: return plain(414, "request line too long\n");
    case S::HeaderTooLong: return plain(431, "request header too large\n");
    default: return plain(400, "bad request\n");
  }
  if (head.path != "/" && head.path != "/metrics") return plain(404, "not found\n");
  const bool headOnly = head.method == "HEAD";
  if (head.method != "GET" && !headOnly) return plain(405, "only GET\n");
  Response r = head.path == "/" ? Response{200, "text/html; charset=utf-8", kIndex}
                                : Response{200, "text/plain; version=0.0.4; charset=utf-8", metrics()};
  r.headOnly = headOnly;
  return r;
}

std::string responseBytes(const Response &r) {
  std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + reason(r.status) + "\r\n";
  out += "Content-Type: " + r.contentType + "\r\n";
  out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
  if (r.status == 405) out += "Allow: GET, HEAD\r\n";
  out += "Connection: close\r\n\r\n";
  if (!r.headOnly) out += r.body;
  return out;
}

HttpServer::HttpServer(std::function<std::string()> metrics, QObject *parent)
    : QObject(parent), metrics_(std::move(metrics)) {
  connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
}

bool HttpServer::listen(const std::string &host, int port, std::string &error) {
  if (server_.listen(QHostAddress(QString::fromStdString(host)), static_cast<quint16>(port))) return true;
  error = server_.errorString().toStdString();
  return false;
}

void HttpServer::accept() {
  while (QTcpSocket *s = server_.nextPendingConnection()) {
    if (open_ >= kMaxConnections) {
      s->abort();
      s->deleteLater();
      continue;
    }
    ++open_;
    connect(s, &QObject::destroyed, this, [this] { --open_; });
    s->setReadBufferSize(kMaxHead + 1);
    struct Pending {
      std::string head;
      bool answered = false;
    };
    auto pending = std::make_shared<Pending>();
    auto *deadline = new QTimer(s);
    deadline->setSingleShot(true);
    deadline->start(kHeadTimeoutMs);
    connect(deadline, &QTimer::timeout, s, [s] {
      s->abort();
      s->deleteLater();
    });
    connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    connect(s, &QTcpSocket::readyRead, s, [this, s, pending, deadline] {
      if (pending->answered) {  // what follows the head is not read
        s->readAll();
        return;
      }
      pending->head += s->readAll().toStdString();
      const RequestHead head = parseHead(pending->head);
      if (head.status == RequestHead::Status::Incomplete) return;
      pending->answered = true;
      std::string().swap(pending->head);
      const std::string bytes = responseBytes(respond(head, metrics_));
      s->write(bytes.data(), static_cast<qint64>(bytes.size()));
      s->disconnectFromHost();  // once the answer has gone out
      deadline->start(kAnswerTimeoutMs);  // a client that does not take it is dropped
    });
  }
}

}  // namespace exporter
