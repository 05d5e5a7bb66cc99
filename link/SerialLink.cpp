#include "link/SerialLink.h"

#include "link/Comm.h"

void setControllerLine(TComm &comm) {
  comm.SetByteSize(TByteSize::_8);
  comm.SetParity(TParity::None);
  comm.SetStopBits(TStopBits::_1);
  comm.SetParityCheck(false);
  comm.SetOutx_CtsFlow(false);
  comm.SetOutx_DsrFlow(false);
  comm.SetDtrControl(TDtrControl::DtrEnable);
  comm.SetDsrSensitivity(false);
  comm.SetTxContinueOnXoff(true);
  comm.SetOutx_XonXoffFlow(false);
  comm.SetInx_XonXoffFlow(false);
  comm.SetReplaceWhenParityError(false);
  comm.SetIgnoreNullChar(false);
  comm.SetRtsControl(TRtsControl::RtsEnable);
  comm.SetXonLimit(500);
  comm.SetXoffLimit(500);
  comm.SetXonChar(0x11);
  comm.SetXoffChar(0x13);
  comm.SetReplacedChar(0x00);
  comm.SetReadIntervalTimeout(100);
  comm.SetReadTotalTimeoutMultiplier(0);
  comm.SetReadTotalTimeoutConstant(0);
  comm.SetWriteTotalTimeoutMultiplier(0);
  comm.SetWriteTotalTimeoutConstant(0);
  // every answer ends with its end mark: it is handed over then, not a quiet gap later
  comm.SetEndChar(static_cast<unsigned char>(proto::kEndMark));
}

SerialLink::SerialLink(TComm *comm, QObject *parent) : Link(parent), comm_(comm) {
  comm_->OnReceiveData = [this](QObject *, const char *buffer, uint16_t length) {
    if (onChunk) onChunk(std::string_view(buffer, length));
  };
  comm_->OnRequestHangup = [this](QObject *) {
    if (!comm_->Opened()) return;  // left over from a port already closed
    if (onDropped) onDropped(QStringLiteral("串口设备已断开"), 0);
  };
  comm_->OnReceiveError = [this](QObject *, uint32_t mask) {
    if (onNote) onNote(QStringLiteral("串口错误：%1").arg(CommErrorText(mask)));
  };
  comm_->OnReceiveOverrun = [this](QObject *, uint32_t dropped) {
    if (onNote) onNote(QStringLiteral("串口数据来得太快，丢弃 %1 字节").arg(dropped));
  };
}

void SerialLink::open() { comm_->OpenPort(); }

void SerialLink::close() { comm_->ClosePort(); }

Link::State SerialLink::state() const { return comm_->Opened() ? State::Open : State::Closed; }

bool SerialLink::send(std::string_view frame) {
  if (!comm_->Opened()) return false;
  if (comm_->SendData(frame.data(), static_cast<uint16_t>(frame.size()))) return true;
  if (onNote) onNote(QStringLiteral("串口发送失败"));
  return false;
}

QString SerialLink::where() const { return comm_->CommName() + QLatin1Char(' ') + QString::number(comm_->BaudRate()); }
