// The group "通信方式": link choice, opening and closing, and the two receive handlers.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpSocket>

#include <cerrno>

#include <sys/socket.h>

#include "link/ChunkCutter.h"
#include "link/Comm.h"
#include "link/Ports.h"
#include "protocol/Frame.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"

namespace {
const QString kOpen = QStringLiteral("OPEN");
const QString kClose = QStringLiteral("COLSE");

// The LAN stream is read in pieces of this size, and at most kLanBytesPerTurn bytes and
// kLanChunksPerTurn chunks are handled before the window thread turns to other events.
constexpr qsizetype kLanPiece = 4096;
constexpr qint64 kLanBytesPerTurn = 64 * 1024;
constexpr int kLanChunksPerTurn = 32;
// Bytes without an end mark go on as a chunk after this much quiet, as on the serial line.
constexpr int kLanQuietMs = 100;

// The system error number behind a socket failure, as the operator's message shows it.
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

// Comm1 with every line setting and time-out the window's link runs on, set here and
// nowhere else, so nothing is left to the component's defaults (its XON/XOFF flow control
// would stop the line at a stray 0x13 and swallow 0x11 and 0x13 from answers).
void TForm1::createComm1() {
  Comm1 = new TComm(this);
  Comm1->setObjectName(QStringLiteral("Comm1"));
  Comm1->SetCommName(QStringLiteral("COM2"));  // replaced by the chosen port before opening
  Comm1->SetBaudRate(9600);                    // replaced by the operator's value before opening
  Comm1->SetByteSize(TByteSize::_8);
  Comm1->SetParity(TParity::None);
  Comm1->SetStopBits(TStopBits::_1);
  Comm1->SetParityCheck(false);
  Comm1->SetOutx_CtsFlow(false);
  Comm1->SetOutx_DsrFlow(false);
  Comm1->SetDtrControl(TDtrControl::DtrEnable);
  Comm1->SetDsrSensitivity(false);
  Comm1->SetTxContinueOnXoff(true);
  Comm1->SetOutx_XonXoffFlow(false);
  Comm1->SetInx_XonXoffFlow(false);
  Comm1->SetReplaceWhenParityError(false);
  Comm1->SetIgnoreNullChar(false);
  Comm1->SetRtsControl(TRtsControl::RtsEnable);
  Comm1->SetXonLimit(500);
  Comm1->SetXoffLimit(500);
  Comm1->SetXonChar(0x11);
  Comm1->SetXoffChar(0x13);
  Comm1->SetReplacedChar(0x00);
  Comm1->SetReadIntervalTimeout(100);
  Comm1->SetReadTotalTimeoutMultiplier(0);
  Comm1->SetReadTotalTimeoutConstant(0);
  Comm1->SetWriteTotalTimeoutMultiplier(0);
  Comm1->SetWriteTotalTimeoutConstant(0);
  // Every answer ends with its end mark: it is handed over then, not a quiet gap later.
  Comm1->SetEndChar(static_cast<unsigned char>(proto::kEndMark));
  Comm1->OnReceiveData = [this](QObject *sender, const char *buffer, uint16_t length) {
    guarded([&] { Comm1ReceiveData(sender, buffer, length); });
  };
  Comm1->OnRequestHangup = [this](QObject *sender) { guarded([&] { Comm1RequestHangup(sender); }); };
}

void TForm1::buildLinkGroup() {
  QWidget *client = centralWidget();
  GroupBox1 = placeControl<QGroupBox>(client, "GroupBox1", 8, 0, 353, 70);
  GroupBox1->setTitle(QStringLiteral("通信方式"));
  QWidget *g = GroupBox1;
  RadioButton1 = placeControl<QRadioButton>(g, "RadioButton1", QStringLiteral("RS232/485"), 8, 18, 88, 20);
  RadioButton2 = placeControl<QRadioButton>(g, "RadioButton2", QStringLiteral("LAN"), 8, 42, 88, 20);
  RadioButton1->setChecked(true);
  Label6 = placeControl<QLabel>(g, "Label6", QStringLiteral("COMM："), 100, 18, 60, 20);
  ComboBox1 = placeControl<QComboBox>(g, "ComboBox1", 162, 16, 100, 22);
  ComboBox1->setEditable(true);
  ComboBox1->setEditText(QStringLiteral("ComboBox1"));
  Edit13 = placeControl<QLineEdit>(g, "Edit13", QStringLiteral("192.168.1.200"), 162, 16, 100, 22);
  Edit13->hide();
  Label5 = placeControl<QLabel>(g, "Label5", QStringLiteral("波特率："), 100, 44, 60, 20);
  Edit12 = placeControl<QLineEdit>(g, "Edit12", QStringLiteral("9600"), 162, 42, 100, 22);
  Button29 = placeControl<QPushButton>(g, "Button29", kOpen, 270, 26, 75, 25);

  // The handlers run when the choice changes, not when the chosen one is clicked again.
  connect(RadioButton1, &QRadioButton::toggled, this, [this](bool on) {
    if (on) guarded([this] { RadioButton1Click(); });
  });
  connect(RadioButton2, &QRadioButton::toggled, this, [this](bool on) {
    if (on) guarded([this] { RadioButton2Click(); });
  });
  onButton(Button29, &TForm1::Button29Click);

  lanChunks_ = std::make_unique<ChunkCutter>(proto::kEndMark, proto::kSendAreaSize);
  ClientSocket1->setReadBufferSize(kLanBytesPerTurn);
  lanQuiet_ = new SteadyTimer(this, QStringLiteral("LanQuietTimer"), kLanQuietMs, false);
  lanQuiet_->OnTimer = [this] { lanQuietGap(); };

  connect(ClientSocket1, &QTcpSocket::connected, this, [this] { guarded([this] { ClientSocket1Connect(); }); });
  connect(ClientSocket1, &QTcpSocket::readyRead, this, [this] { guarded([this] { ClientSocket1Read(); }); });
  connect(ClientSocket1, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
    guarded([&] { ClientSocket1Error(systemErrorNumber(e)); });
  });
  // A peer that closes the connection ends the link as an error does, so the operator sees it.
  connect(ClientSocket1, &QTcpSocket::disconnected, this, [this] {
    guarded([this] {
      if (linkOpen && !serialLink && lanConnected) ClientSocket1Error(ECONNRESET);
    });
  });
}

void TForm1::fillPortList() {
  ComboBox1->clear();
  const std::optional<QStringList> ports = listSerialPorts();
  if (!ports) {
    ShowMessageBox(QStringLiteral("err"), QStringLiteral("error!!"));
    return;
  }
  ComboBox1->addItems(*ports);
}

void TForm1::RadioButton1Click() {
  Label6->setText(QStringLiteral("COMM:"));
  ComboBox1->show();
  Edit13->hide();
  Label5->setText(QStringLiteral("波特率："));
  Edit12->setText(QStringLiteral("9600"));
}

void TForm1::RadioButton2Click() {
  Label6->setText(QStringLiteral("目标IP:"));
  ComboBox1->hide();
  Edit13->show();
  Label5->setText(QStringLiteral("  端口："));
  Edit12->setText(QStringLiteral("5001"));
}

void TForm1::Button29Click() {
  if (Button29->text() != kOpen) {
    closeLink();
    return;
  }
  if (RadioButton1->isChecked()) {
    Comm1->SetCommName(ComboBox1->currentText());
    const int baud = StrToInt(Edit12->text());
    if (baud <= 0)
      throw EConvertError(QStringLiteral("'%1' is not a valid baud rate").arg(Edit12->text()).toStdString());
    Comm1->SetBaudRate(static_cast<uint32_t>(baud));
    Comm1->OpenPort();
    ClientSocket1->abort();
    lanConnected = false;
    serialLink = true;
    linkOpen = true;
    showLinkOpen();
  } else {
    Comm1->ClosePort();
    const QString host = Edit13->text().trimmed();
    const int port = StrToInt(Edit12->text());
    if (port <= 0 || port > 65535)
      throw EConvertError(QStringLiteral("'%1' is not a valid port number").arg(Edit12->text()).toStdString());
    ClientSocket1->abort();
    clearLanInput();
    // The link counts as open before connecting: the socket may report an error (no route
    // to the host, say) inside connectToHost, and that error must close the link again.
    serialLink = false;
    linkOpen = true;
    showLinkOpen();
    ClientSocket1->connectToHost(host, static_cast<quint16>(port));
  }
}

void TForm1::showLinkOpen() {
  Button29->setText(kClose);
  RadioButton1->setEnabled(false);
  RadioButton2->setEnabled(false);
}

void TForm1::closeLink() {
  // flags first: closing the socket reports a disconnection, which is not an error here
  linkOpen = serialLink = lanConnected = false;
  Comm1->ClosePort();
  ClientSocket1->abort();
  clearLanInput();
  Button29->setText(kOpen);
  RadioButton1->setEnabled(true);
  RadioButton2->setEnabled(true);
}

void TForm1::ClientSocket1Connect() {
  lanConnected = true;
  monitorLinkEvent(true, QStringLiteral("已连接 %1:%2").arg(ClientSocket1->peerName()).arg(ClientSocket1->peerPort()));
}

void TForm1::ClientSocket1Error(int errorCode) {
  if (!linkOpen || serialLink) return;  // a socket left over from an earlier LAN link
  closeLink();
  monitorLinkEvent(false, QStringLiteral("Asynchronous socket error %1").arg(errorCode));
  ShowMessageBox(QStringLiteral("Asynchronous socket error %1").arg(errorCode),
                 QString::fromLatin1(kApplicationTitle));
}

// The serial device went away under the open link (an unplugged adapter): the link closes
// as it does when a LAN peer goes, and the operator is told which port it was.
void TForm1::Comm1RequestHangup(QObject *) {
  if (!linkOpen || !serialLink) return;  // left over from a link already closed
  const QString port = Comm1->CommName();
  closeLink();
  monitorLinkEvent(false, QStringLiteral("Serial port %1 was disconnected; the link is closed").arg(port));
  ShowMessageBox(QStringLiteral("Serial port %1 was disconnected; the link is closed").arg(port),
                 QString::fromLatin1(kApplicationTitle));
}

// The LAN stream, cut at the end marks into chunks as the serial line delivers them. Each
// turn reads a bounded amount, so a flood neither holds the window thread nor fills memory;
// what is left is read in the next turn.
void TForm1::ClientSocket1Read() {
  lanReadQueued_ = false;
  Timer1->SetEnabled(false);
  qint64 taken = 0;
  int chunks = 0;
  ChunkCutter::Chunk chunk;
  for (;;) {
    while (lanChunks_->next(&chunk)) {
      receiveChunk(ClientSocket1, chunk.head.constData(), chunk.head.size(), proto::kSendAreaSize, chunk.leftOut);
      if (!linkOpen || serialLink) return;  // the link closed meanwhile
      if (++chunks == kLanChunksPerTurn) {
        queueLanRead();
        return;
      }
    }
    if (taken >= kLanBytesPerTurn) break;
    char piece[kLanPiece];
    const qint64 n = ClientSocket1->read(piece, kLanPiece);
    if (n <= 0) break;
    taken += n;
    lanChunks_->add(piece, n);
  }
  if (taken > 0) {
    // the quiet gap counts from the last byte
    lanQuiet_->SetEnabled(false);
    lanQuiet_->SetEnabled(lanChunks_->partial());
  }
  if (ClientSocket1->bytesAvailable() > 0) queueLanRead();
}

// A request goes on the wire now, not at the next turn of the event loop. When nothing waits
// before it, it is handed straight to the connection: the socket's own buffering would switch
// its write watch on and off around every request, waking the event loop twice each time.
// Whatever the connection does not take at once, or a failed hand-over, goes through the
// socket as usual, which also reports the connection's errors.
void TForm1::lanWrite(const char *data, qint64 length) {
  qint64 done = 0;
  if (ClientSocket1->bytesToWrite() == 0 && ClientSocket1->state() == QAbstractSocket::ConnectedState) {
    const ssize_t n = ::send(static_cast<int>(ClientSocket1->socketDescriptor()), data, static_cast<size_t>(length),
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) done = n;
  }
  if (done < length) {
    ClientSocket1->write(data + done, length - done);
    ClientSocket1->flush();
  }
}

void TForm1::queueLanRead() {
  if (lanReadQueued_) return;
  lanReadQueued_ = true;
  QMetaObject::invokeMethod(this, [this] {
    if (lanReadQueued_ && linkOpen && !serialLink) guarded([this] { ClientSocket1Read(); });
  }, Qt::QueuedConnection);
}

// Bytes that waited for their end mark through the quiet gap go on as a chunk of their own.
void TForm1::lanQuietGap() {
  lanQuiet_->SetEnabled(false);
  if (!lanChunks_->partial()) return;
  const ChunkCutter::Chunk chunk = lanChunks_->takePartial();
  receiveChunk(ClientSocket1, chunk.head.constData(), chunk.head.size(), proto::kSendAreaSize, chunk.leftOut);
}

void TForm1::clearLanInput() {
  lanChunks_->clear();
  lanQuiet_->SetEnabled(false);
  lanReadQueued_ = false;
}

void TForm1::Comm1ReceiveData(QObject *Sender, const char *Buffer, uint16_t BufferLength) {
  receiveChunk(Sender, Buffer, BufferLength);
}
