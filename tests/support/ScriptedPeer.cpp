#include "support/ScriptedPeer.h"

#include <algorithm>

namespace testsupport {

ScriptedPeer::ScriptedPeer() {
  clock_.start();
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { writeDue(); });
  server_.listen(QHostAddress::LocalHost, 0);
  connect(&server_, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket *s = server_.nextPendingConnection()) {
      ++connections;
      if (dropOnAccept) {
        s->close();
        s->deleteLater();
        continue;
      }
      client_ = s;
      connect(s, &QTcpSocket::readyRead, this, [this, s] {
        const QByteArray bytes = s->readAll();
        received += bytes;
        pending_ += bytes;
        int cr;
        while ((cr = pending_.indexOf('\r')) >= 0) {
          const QByteArray request = pending_.left(cr + 1);
          pending_.remove(0, cr + 1);
          ++requests;
          if (!respond) continue;
          const QByteArray reply = respond(request);
          if (reply.isEmpty()) continue;
          const int delay = delayMs ? delayMs(request) : 0;
          if (delay <= 0 && due_.empty() && !stalled_) {
            s->write(reply);
            continue;
          }
          const qint64 at = std::max(clock_.elapsed() + delay, due_.empty() ? 0 : due_.back().at);
          due_.push_back({at, reply});
          writeDue();
        }
      });
    }
  });
}

void ScriptedPeer::writeDue() {
  if (stalled_) return;
  QByteArray out;
  const qint64 now = clock_.elapsed();
  while (!due_.empty() && due_.front().at <= now) {
    out += due_.front().bytes;
    due_.pop_front();
  }
  if (!out.isEmpty()) send(out);
  if (!due_.empty()) timer_.start(int(std::max<qint64>(1, due_.front().at - now)));
}

void ScriptedPeer::stall(bool on) {
  stalled_ = on;
  if (on) {
    timer_.stop();
  } else {
    writeDue();
  }
}

void ScriptedPeer::send(const QByteArray &bytes) {
  if (client_) client_->write(bytes);
}

void ScriptedPeer::dropClient() {
  if (client_) client_->close();
}

}  // namespace testsupport
