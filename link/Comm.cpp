#include "link/Comm.h"

#include "link/Link.h"

#include "link/CommLine.h"
#include "link/CommThreads.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

void CloseFd(int &fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void Signal(int eventFd) {
  if (eventFd >= 0) (void)eventfd_write(eventFd, 1);
}

}  // namespace

TComm::TComm(QObject *owner) : QObject(owner), shared_(std::make_unique<TCommShared>()) {
  shared_->notify = this;
  shared_->transmitIdle = &transmitIdle_;
}

TComm::~TComm() { ClosePort(); }

namespace {
// "Error opening serial port", and on a second line why: missing, not permitted, busy.
ECommsError openError(int systemError) {
  return ECommsError(("Error opening serial port\n" + linkErrorReason(systemError)).toStdString());
}
}  // namespace

bool TComm::Opened() const { return handle_ >= 0; }

uint64_t TComm::ReceivedBytes() const { return shared_->receivedBytes.load(); }

QString CommErrorText(uint32_t eventMask) {
  static constexpr struct {
    uint32_t flag;
    const char *text;
  } kTexts[] = {
      {CommErrorRxOver, "receive buffer overflow"},
      {CommErrorOverrun, "receiver overrun"},
      {CommErrorParity, "parity error"},
      {CommErrorFrame, "framing error"},
      {CommErrorBreak, "break"},
      {CommErrorBadByte, "bad bytes received"},
      {CommErrorRead, "read failed"},
      {CommErrorMode, "line setting refused"},
  };
  QStringList parts;
  uint32_t known = 0;
  for (const auto &t : kTexts) {
    known |= t.flag;
    if (eventMask & t.flag) parts << QString::fromLatin1(t.text);
  }
  if (eventMask & ~known) parts << QStringLiteral("error 0x%1").arg(eventMask & ~known, 4, 16, QLatin1Char('0'));
  return parts.join(QStringLiteral(", "));
}

void TComm::OpenPort() {
  if (handle_ >= 0) throw ECommsError("This serial port already opened");

  // The name is passed to the system as it is; a name with a NUL in it would open a
  // different file than the one named, so it opens nothing.
  if (commName_.contains(QChar(0))) throw ECommsError("Error opening serial port");
  const QByteArray path = QFile::encodeName(commName_);
  int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw openError(errno);
  if (!isatty(fd)) {
    CloseFd(fd);
    throw ECommsError("File handle is not a comm handle ");
  }
  // Exclusive use: the lock keeps out every other opener that locks (this component in any
  // process), TIOCEXCL keeps out any other unprivileged opener of the terminal.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno == EWOULDBLOCK ? EBUSY : errno;
    CloseFd(fd);
    throw openError(e);
  }
  (void)ioctl(fd, TIOCEXCL);

  handle_ = fd;
  openParity_ = parity_;
  (void)tcflush(fd, TCIOFLUSH);
  transmitIdle_ = true;
  TCommShared &s = *shared_;
  s.ForgetHeld();
  s.receivedBytes = 0;
  ApplyTimeouts();
  ApplyDeviceSettings();

  s.port = fd;
  s.lastReceivedNs = 0;
  s.stopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  s.writeWakeup = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (s.stopEvent < 0 || s.writeWakeup < 0) {
    ReleaseHandles();
    throw ECommsError("Unable to create event");
  }
  try {
    readThread_ = std::make_unique<TReadThread>(shared_.get());
    readThread_->Start();
  } catch (const std::exception &) {
    readThread_.reset();
    ReleaseHandles();
    throw ECommsError("Unable to create read thread");
  }
  try {
    {
      // Taking requests from now on; the thread clears this when it ends.
      std::lock_guard<std::mutex> lock(s.queueLock);
      s.accepting = true;
    }
    writeThread_ = std::make_unique<TWriteThread>(shared_.get());
    writeThread_->Start();
  } catch (const std::exception &) {
    {
      std::lock_guard<std::mutex> lock(s.queueLock);
      s.accepting = false;
    }
    StopReceiveThread();
    writeThread_.reset();
    ReleaseHandles();
    throw ECommsError("Unable to create write thread");
  }
}

void TComm::ClosePort() {
  if (handle_ < 0) return;
  StopReceiveThread();
  StopTransmitThread();
  ReleaseHandles();
  // what the threads posted and the owner has not taken yet belongs to this opening only
  ++shared_->opening;
}

void TComm::StopReceiveThread() {
  if (!readThread_) return;
  Signal(shared_->stopEvent);
  (void)tcflush(handle_, TCIFLUSH);
  readThread_->Join();
  readThread_.reset();
}

void TComm::StopTransmitThread() {
  if (!writeThread_) return;
  Signal(shared_->stopEvent);
  (void)tcflush(handle_, TCOFLUSH);
  transmitIdle_ = true;
  writeThread_->Join();
  writeThread_.reset();
}

// Closes the events and the device; the threads must be stopped.
void TComm::ReleaseHandles() {
  TCommShared &s = *shared_;
  {
    std::lock_guard<std::mutex> lock(s.queueLock);
    s.accepting = false;
    std::deque<QByteArray>().swap(s.queue);
    s.queuedBytes = 0;
  }
  CloseFd(s.stopEvent);
  CloseFd(s.writeWakeup);
  s.port = -1;
  if (handle_ >= 0) {
    if (rtsToggleSet_) (void)commline::setRtsToggle(handle_, false);
    (void)ioctl(handle_, TIOCNXCL);
  }
  rtsToggleSet_ = false;
  CloseFd(handle_);
  transmitIdle_ = true;
}

bool TComm::SendData(const char *data, uint16_t length) {
  if (length == 0 || data == nullptr) return false;
  TCommShared &s = *shared_;
  {
    // Marked busy together with the queueing, so the transmit thread cannot mark the
    // queue idle in between and leave the flag wrong. A transmit thread that ended after
    // a failure (or none at all) takes nothing: it would never write the request.
    std::lock_guard<std::mutex> lock(s.queueLock);
    if (!s.accepting || s.queuedBytes + length > kMaxQueuedTransmitBytes) return false;
    s.queue.emplace_back(data, length);
    s.queuedBytes += length;
    transmitIdle_ = false;
  }
  Signal(s.writeWakeup);
  return true;
}

void TComm::ApplyDeviceSettings() {
  if (handle_ < 0) return;
  commline::Settings line;
  line.baud = baudRate_;
  line.byteSize = static_cast<int>(byteSize_) + 5;
  line.parity = static_cast<int>(openParity_);
  line.stopBits = static_cast<int>(stopBits_);
  line.parityCheck = parityCheck_;
  line.markErrors = parityCheck_;
  line.ctsRtsFlow = outxCtsFlow_ || rtsControl_ == TRtsControl::RtsHandshake;
  line.outXonXoff = outxXonXoffFlow_;
  line.inXonXoff = inxXonXoffFlow_;
  line.xonChar = xonChar_;
  line.xoffChar = xoffChar_;
  // Outx_DsrFlow, TxContinueOnXoff, XonLimit and XoffLimit have no counterpart on this
  // system's lines and are only kept. Options the line discipline lacks are carried out
  // by the receive thread.
  TCommShared &s = *shared_;
  // start bit, data bits, parity bit, stop bits (one and a half is two on this system)
  s.bitsPerChar = 1 + line.byteSize + (line.parity != 0 ? 1 : 0) + (line.stopBits != 0 ? 2 : 1);
  s.baud = baudRate_;
  s.replaceBad = replaceWhenParityError_;
  s.replacedChar = replacedChar_;
  s.dropNulls = ignoreNullChar_;
  s.dsrSensitive = dsrSensitivity_;
  s.decodeMarks = line.markErrors;
  // A setting the device refuses is reported; the line keeps what the device took.
  bool taken = commline::apply(handle_, line);

  // DTR stays raised under handshaking: this system has no DTR/DSR input flow control.
  // A device without modem lines (a pseudo-terminal) refuses these; that is no fault.
  commline::ModemLines lines;
  const bool haveModem = commline::readModem(handle_, &lines);
  taken = (commline::setDtr(handle_, dtrControl_ != TDtrControl::DtrDisable) || !haveModem) && taken;
  if (rtsControl_ == TRtsControl::RtsTransmissionAvailable) {
    // Asked for by name: a device that cannot toggle RTS is refused, modem lines or not.
    rtsToggleSet_ = commline::setRtsToggle(handle_, true);
    taken = rtsToggleSet_ && taken;
  } else {
    if (rtsToggleSet_) (void)commline::setRtsToggle(handle_, false);
    rtsToggleSet_ = false;
    if (rtsControl_ != TRtsControl::RtsHandshake)
      taken = (commline::setRts(handle_, rtsControl_ == TRtsControl::RtsEnable) || !haveModem) && taken;
  }
  if (!taken) s.PostError(CommErrorMode);
}

void TComm::ApplyTimeouts() {
  TCommShared &s = *shared_;
  s.readInterval = readIntervalTimeout_;
  s.readTotalMultiplier = readTotalTimeoutMultiplier_;
  s.readTotalConstant = readTotalTimeoutConstant_;
}

template <typename T>
void TComm::SetLine(T &field, T v) {
  if (field == v) return;
  field = v;
  if (handle_ >= 0) ApplyDeviceSettings();
}

template <typename T>
void TComm::SetTimeout(T &field, T v) {
  if (field == v) return;
  field = v;
  if (handle_ >= 0) ApplyTimeouts();
}

void TComm::SetBaudRate(uint32_t v) { SetLine(baudRate_, v); }
void TComm::SetParityCheck(bool v) { SetLine(parityCheck_, v); }
void TComm::SetOutx_CtsFlow(bool v) { SetLine(outxCtsFlow_, v); }
void TComm::SetOutx_DsrFlow(bool v) { SetLine(outxDsrFlow_, v); }
void TComm::SetDtrControl(TDtrControl v) { SetLine(dtrControl_, v); }
void TComm::SetDsrSensitivity(bool v) { SetLine(dsrSensitivity_, v); }
void TComm::SetTxContinueOnXoff(bool v) { SetLine(txContinueOnXoff_, v); }
void TComm::SetOutx_XonXoffFlow(bool v) { SetLine(outxXonXoffFlow_, v); }
void TComm::SetInx_XonXoffFlow(bool v) { SetLine(inxXonXoffFlow_, v); }
void TComm::SetReplaceWhenParityError(bool v) { SetLine(replaceWhenParityError_, v); }
void TComm::SetIgnoreNullChar(bool v) { SetLine(ignoreNullChar_, v); }
void TComm::SetRtsControl(TRtsControl v) { SetLine(rtsControl_, v); }
void TComm::SetXonLimit(uint16_t v) { SetLine(xonLimit_, v); }
void TComm::SetXoffLimit(uint16_t v) { SetLine(xoffLimit_, v); }
void TComm::SetByteSize(TByteSize v) { SetLine(byteSize_, v); }
void TComm::SetStopBits(TStopBits v) { SetLine(stopBits_, v); }
void TComm::SetXonChar(char v) { SetLine(xonChar_, v); }
void TComm::SetXoffChar(char v) { SetLine(xoffChar_, v); }
void TComm::SetReplacedChar(char v) { SetLine(replacedChar_, v); }
void TComm::SetReadIntervalTimeout(uint32_t v) { SetTimeout(readIntervalTimeout_, v); }
void TComm::SetReadTotalTimeoutMultiplier(uint32_t v) { SetTimeout(readTotalTimeoutMultiplier_, v); }
void TComm::SetReadTotalTimeoutConstant(uint32_t v) { SetTimeout(readTotalTimeoutConstant_, v); }
void TComm::SetWriteTotalTimeoutMultiplier(uint32_t v) { SetTimeout(writeTotalTimeoutMultiplier_, v); }
void TComm::SetWriteTotalTimeoutConstant(uint32_t v) { SetTimeout(writeTotalTimeoutConstant_, v); }

void TComm::SetEndChar(int v) {
  endChar_ = v >= 0 && v <= 255 ? v : kNoEndChar;
  shared_->endChar = endChar_;
}

// Notifications from the worker threads, raised here on the owner's thread in posting
// order. Each handler is copied before the call, so a handler may reassign its own event.
bool TComm::event(QEvent *e) {
  TakeOver(e);
  const int type = e->type();
  if (type < CommMsgData || type > CommMsgOverrun) return QObject::event(e);
  const auto *ce = dynamic_cast<const TCommEvent *>(e);
  if (ce == nullptr) return true;  // not one of ours: ignored
  // Room in the hand-over: what the threads held back goes out now, behind this one.
  shared_->Taken();
  if (shared_->Holding()) shared_->FlushHeld();
  // Posted before the port was closed: nothing of a closed port reaches the owner, not even
  // after it is opened again.
  if (ce->Opening != shared_->opening.load()) return true;
  switch (type) {
    case CommMsgData:
      if (auto h = OnReceiveData) h(this, ce->Data.constData(), static_cast<uint16_t>(ce->Data.size()));
      break;
    case CommMsgError:
      if (auto h = OnReceiveError) h(this, ce->Code);
      break;
    case CommMsgHangup:
      if (auto h = OnRequestHangup) h(this);
      break;
    case CommMsgModem:
      if (auto h = OnModemStateChange) h(this, ce->Code);
      break;
    case CommMsgTxEmpty:
      if (auto h = OnSendDataEmpty) h(this);
      break;
    case CommMsgOverrun:
      if (auto h = OnReceiveOverrun) h(this, ce->Code);
      break;
    default:
      break;
  }
  return true;
}
