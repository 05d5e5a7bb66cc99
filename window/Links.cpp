// The group "通信方式": link choice, opening and closing, and the two receive handlers.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpSocket>

#include "pages/ParamBoxState.h"
#include "window/PortList.h"
#include "pages/ClockZone.h"
#include "link/LanLink.h"
#include "link/SerialLink.h"
#include "link/Comm.h"
#include "link/Ports.h"
#include "protocol/Frame.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"

namespace {
const QString kOpen = QStringLiteral("OPEN");
const QString kClose = QStringLiteral("COLSE");
}  // namespace

// Comm1 on the controller's line (setControllerLine), the same for the window and the exporter.
void TForm1::createComm1() {
  Comm1 = new TComm(this);
  Comm1->setObjectName(QStringLiteral("Comm1"));
  Comm1->SetCommName(QStringLiteral("COM2"));  // replaced by the chosen port before opening
  Comm1->SetBaudRate(9600);                    // replaced by the operator's value before opening
  setControllerLine(*Comm1);

  // The two links the window can open, each with the window's named handlers behind it.
  serialLink_ = new SerialLink(Comm1, this);
  serialLink_->onChunk = [this](std::string_view chunk) {
    guarded([&] { Comm1ReceiveData(Comm1, chunk.data(), static_cast<uint16_t>(chunk.size())); });
  };
  serialLink_->onDropped = [this](const QString &, int) { guarded([this] { Comm1RequestHangup(Comm1); }); };
  serialLink_->onNote = [this](const QString &text) { log(text); };
}

void TForm1::createLanLink() {
  lanLink_ = new LanLink(ClientSocket1, this);
  lanLink_->onChunk = [this](std::string_view chunk) {
    guarded([&] { receiveChunk(ClientSocket1, chunk.data(), static_cast<qsizetype>(chunk.size())); });
  };
  lanLink_->onConnected = [this] { guarded([this] { ClientSocket1Connect(); }); };
  lanLink_->onDropped = [this](const QString &, int error) { guarded([&] { ClientSocket1Error(error); }); };
  lanLink_->onNote = [this](const QString &text) { log(text); };
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
  ComboBox1 = placeControl<PortListBox>(g, "ComboBox1", 162, 16, 100, 22);  // read again when opened
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
  CheckBoxAutoReconnect = placeControl<QCheckBox>(g, "CheckBoxAutoReconnect", QStringLiteral("自动重连"), 270, 52, 80, 16);
  connect(CheckBoxAutoReconnect, &QCheckBox::toggled, this, [this](bool on) {
    if (on || !reconnectLink_) return;
    guarded([this] {
      // a link that is up stays open; no further try is made
      if (reconnect_.phase() == Reconnect::Phase::Unconfirmed)
        forgetReconnect();
      else
        stopReconnecting();
      showOperatorPanel();
    });
  });
  reconnectTimer_ = new SteadyTimer(QStringLiteral("ReconnectTimer"), 1000, false, this);
  onTimer(reconnectTimer_, [this] { reconnectTry(); });

  createLanLink();
}

void TForm1::fillPortList() {
  ComboBox1->clear();
  const std::optional<QStringList> ports = machinePorts();
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
  linkDropped_ = false;
  if (reconnectLink_) return stopReconnecting();
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
    serialLink_->open();  // a failed open throws, and nothing changes
    openLink(serialLink_);
  } else {
    const QString host = Edit13->text().trimmed();
    const int port = StrToInt(Edit12->text());
    if (port <= 0 || port > 65535)
      throw EConvertError(QStringLiteral("'%1' is not a valid port number").arg(Edit12->text()).toStdString());
    lanLink_->setTarget(host, static_cast<quint16>(port));
    // The link counts as open before connecting: the socket may report an error (no route
    // to the host, say) inside the open, and that error must close the link again.
    openLink(lanLink_);
    lanLink_->open();
  }
}

// A new link starts clean: the other link is closed, nothing waits from the previous one, and
// what the status bar said of the previous link's chains and errors is gone. A LAN link is
// opened after this and connects later.
void TForm1::openLink(Link *link) {
  serialLink = link == serialLink_;
  lanConnected = false;
  if (serialLink)
    lanLink_->close();
  else
    serialLink_->close();
  exchange_->clear();
  link_ = link;
  linkOpen = true;
  markAllParamBoxes(this, ParamState::NotRead);  // nothing read on this link yet
  chainProgress_.linkOpened();
  lastReadError_.clear();
  setPanelText(1, QString());
  // nothing the previous link said is current
  freshness_.reset();
  if (!reconnect_.active()) lastAnswerAt_ = QDateTime();  // the operator's new link has told nothing yet
  recordCountKnown_ = fetchAfterCount_ = false;
  showText(LabelRecordCount, QStringLiteral("记录数：未读"));
  resetModuleTable();
  greyStatusPage();
  showLinkOpen();
  if (link == serialLink_) monitorLinkEvent(true, QStringLiteral("已打开 %1").arg(link->where()));
}

void TForm1::showLinkOpen() {
  Button29->setText(kClose);
  RadioButton1->setEnabled(false);
  RadioButton2->setEnabled(false);
}

// Closing ends whatever ran on the link: a chain says the link was closed.
void TForm1::closeLink() {
  const bool chainRan = chainWaiting() || page1Refresh || page2Refresh;
  linkOpen = serialLink = lanConnected = false;
  link_ = nullptr;
  serialLink_->close();
  lanLink_->close();
  exchange_->clear();
  page1Refresh = page2Refresh = false;
  statusPolling = false;
  if (chainRan) chainStopped(ChainStop::LinkClosed);
  paramFileStopped(ChainStop::LinkClosed);  // a restore under way reports what it wrote
  showFreshness();
  Button29->setText(kOpen);
  RadioButton1->setEnabled(true);
  RadioButton2->setEnabled(true);
  showOperatorPanel();
}

void TForm1::ClientSocket1Connect() {
  lanConnected = true;
  monitorLinkEvent(true, QStringLiteral("已连接 %1:%2").arg(ClientSocket1->peerName()).arg(ClientSocket1->peerPort()));
  if (reconnect_.phase() == Reconnect::Phase::Opening) reconnectOpened();
  showOperatorPanel();
}

// The LAN peer went away (or could not be reached): the link closes and the operator is told
// why, or it is tried again when "自动重连" is ticked.
void TForm1::ClientSocket1Error(int errorCode) {
  if (!linkOpen || serialLink) return;  // a socket left over from an earlier LAN link
  const QString reason = linkErrorReason(errorCode);
  const QString message = QStringLiteral("Asynchronous socket error %1").arg(errorCode);
  linkDropped_ = true;
  // the journal tells a link that was up going down; a try that never connected adds nothing
  monitorLinkEvent(false, reason.isEmpty() ? message : message + QLatin1Char(' ') + reason);
  if (CheckBoxAutoReconnect->isChecked()) return linkLost(reason);
  closeLink();
  ShowMessageBox(message + (reason.isEmpty() ? QString() : QLatin1Char('\n') + reason),
                 QString::fromLatin1(kApplicationTitle));
}

// The serial device went away under the open link (an unplugged adapter): the link closes
// as it does when a LAN peer goes, and the operator is told which port it was.
void TForm1::Comm1RequestHangup(QObject *) {
  if (!linkOpen || !serialLink) return;  // left over from a link already closed
  const QString message = QStringLiteral("Serial port %1 was disconnected; the link is closed").arg(Comm1->CommName());
  linkDropped_ = true;
  monitorLinkEvent(false, message);
  if (CheckBoxAutoReconnect->isChecked()) return linkLost(QStringLiteral("串口设备已断开"));
  closeLink();
  ShowMessageBox(message, QString::fromLatin1(kApplicationTitle));
}

// The socket's read notification: the LAN link reads what arrived and hands on its chunks.

// ---------------------------------------------------------------- reconnecting

namespace {
QString timeNow() { return clockzone::time(QDateTime::currentMSecsSinceEpoch()); }
}  // namespace

// The link dropped, or a try failed or lost its link before the controller answered on it:
// the next try waits longer each time (Reconnect), and the log counts the tries.
void TForm1::linkLost(const QString &what) {
  Link *link = reconnect_.active() ? reconnectLink_ : link_;
  const bool first = !reconnect_.active();
  closeLink();
  reconnectLink_ = link;
  const int delay = reconnect_.lost();
  showLinkOpen();  // the link button stops the tries
  const QString next = clockzone::time(QDateTime::currentMSecsSinceEpoch() + delay * 1000LL);
  reconnectNote_ = QStringLiteral("断开（%1），%2 重连").arg(what, next);
  log(QStringLiteral("%1 %2：%3，%4 s 后第 %5 次重连")
          .arg(timeNow(), first ? QStringLiteral("连接断开") : QStringLiteral("重连失败"), what)
          .arg(delay)
          .arg(reconnect_.tries() + 1));
  reconnectTimer_->setInterval(delay * 1000);
  reconnectTimer_->setEnabled(true);
  showOperatorPanel();
}

void TForm1::reconnectTry() {
  reconnectTimer_->setEnabled(false);
  if (!reconnectLink_) return;
  const int attempt = reconnect_.begin();
  reconnectNote_ = QStringLiteral("第 %1 次重连…").arg(attempt);
  if (reconnectLink_ == serialLink_) {
    try {
      serialLink_->open();
    } catch (const std::exception &e) {
      return linkLost(QString::fromStdString(e.what()).section(QLatin1Char('\n'), 0, 0));
    }
    openLink(serialLink_);
    reconnectOpened();
  } else {
    openLink(lanLink_);
    lanLink_->open();  // reconnectOpened() when it connects, linkLost() when it fails
  }
  showOperatorPanel();
}

// The try's link is up. It counts as reconnected once the controller answers on it: polling
// goes on at once if it is wanted, and any request the operator sends proves it too.
void TForm1::reconnectOpened() {
  reconnect_.opened();
  reconnectNote_ = QStringLiteral("第 %1 次重连：已连接，等待应答").arg(reconnect_.tries());
  log(QStringLiteral("%1 第 %2 次重连：已连接，等待控制器应答").arg(timeNow()).arg(reconnect_.tries()));
  rememberLink();
  Timer2Timer();
}

// An intact answer came on the open link.
void TForm1::linkAnswered() {
  const int tries = reconnect_.tries();
  if (!reconnect_.answered()) return;
  log(QStringLiteral("%1 已重新连接（第 %2 次重连）").arg(timeNow()).arg(tries));
  forgetReconnect();
  showOperatorPanel();
}

void TForm1::forgetReconnect() {
  reconnect_.stop();
  reconnectLink_ = nullptr;
  reconnectNote_.clear();
  reconnectTimer_->setEnabled(false);
}

void TForm1::stopReconnecting() {
  forgetReconnect();
  closeLink();
  log(QStringLiteral("已停止重连"));
}

void TForm1::Comm1ReceiveData(QObject *Sender, const char *Buffer, uint16_t BufferLength) {
  receiveChunk(Sender, Buffer, BufferLength);
}
