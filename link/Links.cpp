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

#include "link/Comm.h"
#include "link/Ports.h"
#include "protocol/Frame.h"
#include "window/Controls.h"
#include "window/Unit1.h"
#include "window/HandlerSupport.h"

namespace {
const QString kOpen = QStringLiteral("OPEN");
const QString kClose = QStringLiteral("COLSE");

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

  connect(RadioButton1, &QRadioButton::clicked, this, [this] { guarded([this] { RadioButton1Click(); }); });
  connect(RadioButton2, &QRadioButton::clicked, this, [this] { guarded([this] { RadioButton2Click(); }); });
  onButton(Button29, &TForm1::Button29Click);

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
    // flags first: closing the socket reports a disconnection, which is not an error here
    linkOpen = serialLink = lanConnected = false;
    Comm1->ClosePort();
    ClientSocket1->abort();
    Button29->setText(kOpen);
    RadioButton1->setEnabled(true);
    RadioButton2->setEnabled(true);
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
  } else {
    Comm1->ClosePort();
    const QString host = Edit13->text().trimmed();
    const int port = StrToInt(Edit12->text());
    if (port <= 0 || port > 65535)
      throw EConvertError(QStringLiteral("'%1' is not a valid port number").arg(Edit12->text()).toStdString());
    ClientSocket1->abort();
    ClientSocket1->connectToHost(host, static_cast<quint16>(port));
    serialLink = false;
    linkOpen = true;
  }
  Button29->setText(kClose);
  RadioButton1->setEnabled(false);
  RadioButton2->setEnabled(false);
}

void TForm1::ClientSocket1Connect() { lanConnected = true; }

void TForm1::ClientSocket1Error(int errorCode) {
  if (!linkOpen || serialLink) return;  // a socket left over from an earlier LAN link
  lanConnected = false;
  linkOpen = false;
  ClientSocket1->abort();
  Button29->setText(kOpen);
  RadioButton1->setEnabled(true);
  RadioButton2->setEnabled(true);
  ShowMessageBox(QStringLiteral("Asynchronous socket error %1").arg(errorCode),
                 QString::fromLatin1(kApplicationTitle));
}

void TForm1::ClientSocket1Read() {
  Timer1->SetEnabled(false);
  const QByteArray text = ClientSocket1->readAll();
  if (text.isEmpty()) return;
  // the LAN work area holds 201 characters: a longer text is refused whole
  receiveChunk(ClientSocket1, text.constData(), text.size(), proto::kSendAreaSize);
}

void TForm1::Comm1ReceiveData(QObject *Sender, const char *Buffer, uint16_t BufferLength) {
  receiveChunk(Sender, Buffer, BufferLength);
}
