// A controller stand-in on 127.0.0.1 whose answers a test writes itself.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace testsupport {

class ScriptedPeer : public QObject {
  Q_OBJECT
 public:
  ScriptedPeer();
  quint16 port() const { return server_.serverPort(); }
  // Called for every request frame (up to its carriage return); what it returns is sent back
  // in one write. An empty answer leaves the request unanswered.
  std::function<QByteArray(const QByteArray &request)> respond;
  QByteArray received;  // every byte received so far
  int requests = 0;
  int connections = 0;
  bool dropOnAccept = false;  // closes each connection as soon as it is accepted
  bool connected() const { return client_ && client_->state() == QAbstractSocket::ConnectedState; }
  void send(const QByteArray &bytes);
  void dropClient();

 private:
  QTcpServer server_;
  QPointer<QTcpSocket> client_;
  QByteArray pending_;
};

}  // namespace testsupport
