#include "support/ScriptedPeer.h"

namespace testsupport {

ScriptedPeer::ScriptedPeer() {
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
          if (respond) {
            const QByteArray reply = respond(request);
            if (!reply.isEmpty()) s->write(reply);
          }
        }
      });
    }
  });
}

void ScriptedPeer::send(const QByteArray &bytes) {
  if (client_) client_->write(bytes);
}

void ScriptedPeer::dropClient() {
  if (client_) client_->close();
}

}  // namespace testsupport
