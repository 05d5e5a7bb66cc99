#include "link/LanLink.h"

#include <QNetworkProxy>
#include <QTcpSocket>

#include <cerrno>

#include <sys/socket.h>

#include "protocol/Frame.h"

namespace {
constexpr qsizetype kPiece = 4096;

// The system error number behind a socket failure.
int systemErrorNumber(QAbstractSocket::SocketError e) {
  switch (e) {
    case QAbstractSocket::ConnectionRefusedError: return ECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError: return ECONNRESET;
    case QAbstractSocket::HostNotFoundError: return EHOSTUNREACH;
    case QAbstractSocket::SocketAccessError: return EACCES;
    case QAbstractSocket::SocketResourceError: return ENOBUFS;
    case QAbstractSocket::SocketTimeoutError: return ETIMEDOUT;
    case QAbstractSocket::NetworkError: return ENETUNREACH;
    case QAbstractSocket::AddressInUseError: return EADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError: return EADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError: return EOPNOTSUPP;
    default: return EIO;
  }
}
}  // namespace

LanLink::LanLink(QTcpSocket *socket, QObject *parent)
    : Link(parent), socket_(socket), cutter_(proto::kStartMark, proto::kEndMark, kChunkLimit) {
  // The controller is reached directly: a proxy set up for the PC's web traffic has no say,
  // and no proxy look-up thread is started for each connection.
  socket_->setProxy(QNetworkProxy::NoProxy);
  socket_->setReadBufferSize(kBytesPerTurn);
  quiet_.setSingleShot(true);
  quiet_.setTimerType(Qt::PreciseTimer);
  quiet_.setInterval(kQuietMs);
  connect(&quiet_, &QTimer::timeout, this, [this] { quietGap(); });
  connect(socket_, &QTcpSocket::connected, this, [this] {
    if (state_ != State::Connecting) return;
    state_ = State::Open;
    if (onConnected) onConnected();
  });
  connect(socket_, &QTcpSocket::readyRead, this, [this] { readAvailable(); });
  connect(socket_, &QTcpSocket::errorOccurred, this,
          [this](QAbstractSocket::SocketError e) { fail(systemErrorNumber(e)); });
  // A peer that closes the connection ends the link as an error does.
  connect(socket_, &QTcpSocket::disconnected, this, [this] { fail(ECONNRESET); });
}

void LanLink::setTarget(const QString &host, quint16 port) {
  host_ = host;
  port_ = port;
}

void LanLink::open() {
  close();
  // Connecting before connectToHost: the socket may report an error (no route to the host)
  // inside it, and that error must end the link again.
  state_ = State::Connecting;
  socket_->connectToHost(host_, port_);
}

void LanLink::close() {
  // state first: aborting the socket reports a disconnection, which is no error here
  state_ = State::Closed;
  socket_->abort();
  cutter_.clear();
  quiet_.stop();
  readQueued_ = false;
}

void LanLink::fail(int systemError) {
  if (state_ == State::Closed) return;  // a socket this link is itself closing
  close();
  if (onDropped) onDropped(linkErrorReason(systemError), systemError);
}

QString LanLink::where() const { return host_ + QLatin1Char(':') + QString::number(port_); }

// A request goes on the wire now. When nothing waits before it, it is handed straight to the
// connection: the socket's own buffering would switch its write watch on and off around every
// request, waking the event loop twice each time. Whatever the connection does not take at
// once, or a failed hand-over, goes through the socket, which also reports its errors.
bool LanLink::send(std::string_view frame) {
  if (state_ != State::Open) return false;
  const auto length = static_cast<qint64>(frame.size());
  qint64 done = 0;
  if (socket_->bytesToWrite() == 0 && socket_->state() == QAbstractSocket::ConnectedState) {
    const ssize_t n = ::send(static_cast<int>(socket_->socketDescriptor()), frame.data(), frame.size(),
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) done = n;
  }
  if (done < length) {
    if (socket_->write(frame.data() + done, length - done) < 0) {
      if (onNote) onNote(QStringLiteral("发送失败：%1").arg(socket_->errorString()));
      return false;
    }
    socket_->flush();
  }
  return true;
}

void LanLink::readAvailable() {
  readQueued_ = false;
  if (state_ != State::Open) return;
  qint64 taken = 0;
  int chunks = 0;
  QByteArray chunk;
  for (;;) {
    while (cutter_.next(&chunk)) {
      if (onChunk) onChunk(std::string_view(chunk.constData(), static_cast<size_t>(chunk.size())));
      if (state_ != State::Open) return;  // the link closed meanwhile
      if (++chunks == kChunksPerTurn) {
        queueRead();
        return;
      }
    }
    if (taken >= kBytesPerTurn) break;
    char piece[kPiece];
    const qint64 n = socket_->read(piece, kPiece);
    if (n <= 0) break;
    taken += n;
    cutter_.add(piece, n);
  }
  if (taken > 0) quiet_.stop();  // the quiet gap counts from the last byte
  // a frame on its way waits for its end mark however long its pieces take; bytes that are
  // no frame go on after a quiet gap
  if (cutter_.partial() && !cutter_.partialFrame() && !quiet_.isActive()) quiet_.start();
  if (socket_->bytesAvailable() > 0) queueRead();
}

void LanLink::queueRead() {
  if (readQueued_) return;
  readQueued_ = true;
  QMetaObject::invokeMethod(this, [this] {
    if (readQueued_) readAvailable();
  }, Qt::QueuedConnection);
}

// Bytes without a start mark that waited through the quiet gap go on as a chunk of their own.
void LanLink::quietGap() {
  if (state_ != State::Open || !cutter_.partial() || cutter_.partialFrame()) return;
  const QByteArray chunk = cutter_.takePartial();
  if (onChunk) onChunk(std::string_view(chunk.constData(), static_cast<size_t>(chunk.size())));
}

