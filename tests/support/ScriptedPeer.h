// A controller stand-in on 127.0.0.1 whose answers a test writes itself.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <deque>
#include <functional>

namespace testsupport {

class ScriptedPeer : public QObject {
  Q_OBJECT
 public:
  ScriptedPeer();
  quint16 port() const { return server_.serverPort(); }
  // Called for every request frame (up to its carriage return); what it returns is its
  // answer. An empty answer leaves the request unanswered.
  std::function<QByteArray(const QByteArray &request)> respond;
  // How late each answer goes out, in ms after its request came (none: at once). Answers go
  // out in the order of their requests, as a controller answers: one is never sent before the
  // answer ahead of it, and answers that fall due together go out in one write.
  std::function<int(const QByteArray &request)> delayMs;
  // While stalled the peer keeps receiving and answers nothing; when it wakes, every answer
  // that fell due meanwhile goes out, in order, in one write.
  void stall(bool on);
  QByteArray received;  // every byte received so far
  int requests = 0;
  int connections = 0;
  int owed() const { return int(due_.size()); }  // answers not sent yet
  bool dropOnAccept = false;  // closes each connection as soon as it is accepted
  bool connected() const { return client_ && client_->state() == QAbstractSocket::ConnectedState; }
  void send(const QByteArray &bytes);
  void dropClient();

 private:
  struct Due {
    qint64 at;
    QByteArray bytes;
  };
  void writeDue();
  QTcpServer server_;
  QPointer<QTcpSocket> client_;
  QByteArray pending_;
  std::deque<Due> due_;
  QElapsedTimer clock_;
  QTimer timer_;
  bool stalled_ = false;
};

}  // namespace testsupport
