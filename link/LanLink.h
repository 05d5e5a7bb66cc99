// A Link over a TCP connection to the controller. The stream carries no frame boundaries:
// it is cut into chunks by ChunkCutter (at the end marks, before a start mark that follows an
// unfinished frame, or at the chunk limit when a peer never sends the end mark). An answer
// forwarded in pieces, however far apart, is one chunk; bytes that hold no start mark go on
// as a chunk of their own after a quiet gap.
#pragma once

#include <QTimer>

#include "link/ChunkCutter.h"
#include "link/Link.h"

class QTcpSocket;

class LanLink : public Link {
  Q_OBJECT
 public:
  // Bytes without a start mark go on as a chunk after this much quiet.
  static constexpr int kQuietMs = 100;
  // At most this much is read, and this many chunks handed on, before the owner's thread
  // turns to its other events; the rest is read in the next turn.
  static constexpr qint64 kBytesPerTurn = 64 * 1024;
  static constexpr int kChunksPerTurn = 32;

  LanLink(QTcpSocket *socket, QObject *parent);
  void setTarget(const QString &host, quint16 port);
  void open() override;
  void close() override;
  State state() const override { return state_; }
  bool send(std::string_view frame) override;
  QString where() const override;
  // Reads what has arrived and hands on its chunks; the socket's read notification.
  void readAvailable();

 private:
  void queueRead();
  void quietGap();
  void fail(int systemError);
  QTcpSocket *socket_;
  QString host_;
  quint16 port_ = 0;
  State state_ = State::Closed;
  ChunkCutter cutter_;
  QTimer quiet_;
  bool readQueued_ = false;
};
