// TComm: the serial-port component, one instance per serial line: the window's (Comm1) and
// one for each serial line the exporter polls, each wrapped by a SerialLink.
// It opens one serial device exclusively, applies the line settings and time-outs held in
// its properties, and runs two worker threads: TReadThread gathers received bytes and line
// events, TWriteThread writes queued transmit requests. Everything the threads learn is
// posted to the owner's thread, where the component raises its events, so event handlers
// never run on a worker thread. Failures while opening throw ECommsError.
//
// Threads. The owner's thread is the thread the component lives in; it runs an event loop.
// Every method, property setter and getter is called on that thread only, SendData
// included. TransmitIdle() and ReceivedBytes() may be read on any thread. Every On... event
// is raised on the owner's thread, in posting order, never inside a method call. Nothing the
// threads learned before ClosePort is raised after it: a chunk read just before the port was
// closed is dropped, also when the port is opened again before the owner's thread gets to it.
//
// On this system CommName is a device path (/dev/ttyUSB0, /dev/ttyS1). The device is held
// exclusively (an flock on it plus TIOCEXCL). Notifications are events posted to the
// component itself, numbered from QEvent::User (CommMsg below). Modem-line changes and line
// errors are looked at every 50 ms on devices that report them; a pseudo-terminal reports
// neither and raises no such event.
//
// End character. A received chunk ends when ReadIntervalTimeout passes without a further
// byte or when it holds 2048 bytes. With EndChar set (0..255; -1, the default, is off) it
// also ends the moment that character arrives, the character being its last byte; bytes
// after it start the next chunk. A frame protocol whose frames end with a fixed character
// then gets each frame as soon as it is complete instead of a quiet gap later.
//
// Hand-over. At most kMaxQueuedNotifications notifications wait for the owner's thread at a
// time. A chunk completed while that many wait is dropped and its bytes counted; once the
// owner has taken some, OnReceiveOverrun reports the count, in stream order: after the last
// chunk delivered before the gap, before the first one after it. Error flags and modem
// events met while the hand-over is full are merged and raised once there is room. So an
// owner that falls behind a flood holds at most 64 chunks (128 KiB) of it. At 1 Mbaud a
// chunk of 2048 bytes completes every 20 ms: the owner may be busy for over a second
// without losing a byte.
//
// Notifications:
//   OnReceiveData(Sender, Buffer, BufferLength): one received chunk of 1..2048 bytes. Buffer
//     has a zero after its last byte and stays valid only during the call.
//   OnReceiveOverrun(Sender, DroppedBytes): received bytes were dropped because the owner's
//     thread had not taken the chunks before them; DroppedBytes of them since the last report.
//   OnReceiveError(Sender, EventMask): CommError flags (below), several at a time. Device
//     error counters that moved, bytes the line marked bad, a setting the device refused, a
//     failed read. Each is raised once per occurrence seen; nothing is retried.
//   OnModemStateChange(Sender, ModemEvent): 8 carrier detect changed, 4 ring changed.
//   OnRequestHangup(Sender): a worker thread met a failure of the device and ended; the
//     port stays open until the owner closes it.
//   OnSendDataEmpty(Sender): the transmit queue ran empty (once after opening, then after
//     each write that emptied it).
//
// Transmit queue. SendData copies the request into a queue of at most kMaxQueuedTransmitBytes
// bytes and returns at once; past that it refuses (false). A line held by flow control
// therefore cannot make the queue grow without end.
//
// Turnaround guard. Before the transmit thread writes a request it waits until at least
// 3.5 character times (start, data, parity and stop bits at the current BaudRate) have
// passed since the last byte was received, so that a device on a shared RS-485 pair has
// released the line after its answer. At 9600 baud, 8N1, that is 3.65 ms.
//
// Write time-outs are kept but change nothing: a request is always written in full, as a
// writer that meets a time-out goes on with the rest of its block.
#pragma once

#include <QEvent>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

class TReadThread;
class TWriteThread;
struct TCommShared;

enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };
enum class TByteSize { _5, _6, _7, _8 };
enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };

class ECommsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TComm;
using TReceiveDataEvent = std::function<void(QObject *Sender, const char *Buffer, uint16_t BufferLength)>;
using TReceiveErrorEvent = std::function<void(QObject *Sender, uint32_t EventMask)>;
using TReceiveOverrunEvent = std::function<void(QObject *Sender, uint32_t DroppedBytes)>;
using TModemStateChangeEvent = std::function<void(QObject *Sender, uint32_t ModemEvent)>;
using TNotifyEvent = std::function<void(QObject *Sender)>;
using TSendDataEmptyEvent = std::function<void(QObject *Sender)>;

// Notifications posted from the worker threads to the component, numbered from QEvent::User.
enum CommMsg : int {
  CommMsgData = QEvent::User + 1,
  CommMsgError = QEvent::User + 2,
  CommMsgHangup = QEvent::User + 3,
  CommMsgModem = QEvent::User + 4,
  CommMsgTxEmpty = QEvent::User + 5,
  CommMsgOverrun = QEvent::User + 6,
};

// Flags of OnReceiveError's EventMask. The first five are the device's own error counters,
// looked at every 50 ms on devices that keep them.
enum CommError : uint32_t {
  CommErrorRxOver = 0x0001,   // the system's receive buffer overflowed: bytes were lost
  CommErrorOverrun = 0x0002,  // the UART's receiver overran: bytes were lost
  CommErrorParity = 0x0004,   // a byte arrived with a parity error
  CommErrorFrame = 0x0008,    // a byte arrived with a framing error
  CommErrorBreak = 0x0010,    // a break arrived
  // Bytes arrived marked bad by the line (parity or framing error, or a break) on a device
  // that keeps no counters; with ParityCheck on only.
  CommErrorBadByte = 0x0020,
  // A read or a wait on the device failed with something other than a hang-up; the
  // receive thread ends and OnRequestHangup follows.
  CommErrorRead = 0x0040,
  // The device refused a line setting (speed, character format, flow control, DTR, RTS):
  // the line keeps what the device took. Raised on opening or when a setter re-applies.
  CommErrorMode = 0x8000,
};
// The flags in words, for a log line: "parity error, framing error"; "" for none.
QString CommErrorText(uint32_t eventMask);

class TComm : public QObject {
  Q_OBJECT
 public:
  explicit TComm(QObject *owner = nullptr);
  ~TComm() override;

  // Notifications waiting for the owner's thread at most (see Hand-over).
  static constexpr int kMaxQueuedNotifications = 64;
  // Bytes waiting to be written at most (see Transmit queue).
  static constexpr int kMaxQueuedTransmitBytes = 1 << 20;

  void OpenPort();
  void ClosePort();
  // Queues a request: false when the port is closed, the transmit thread has ended, length
  // is 0, data is null or the queue is full. Owner's thread only.
  bool SendData(const char *data, uint16_t length);
  bool Opened() const;
  // True when no request is queued or being written. Any thread; advisory only.
  bool TransmitIdle() const { return transmitIdle_.load(); }
  // Bytes taken from the device since the port was last opened, dropped ones included.
  // Any thread.
  uint64_t ReceivedBytes() const;

  // Properties. Setters of line properties and time-outs do nothing when the value is
  // unchanged and re-apply the settings at once while the port is open; CommName and
  // Parity are only stored and take effect at the next open.
  QString CommName() const { return commName_; }
  void SetCommName(const QString &v) { commName_ = v; }
  uint32_t BaudRate() const { return baudRate_; }
  void SetBaudRate(uint32_t v);
  bool ParityCheck() const { return parityCheck_; }
  void SetParityCheck(bool v);
  bool Outx_CtsFlow() const { return outxCtsFlow_; }
  void SetOutx_CtsFlow(bool v);
  bool Outx_DsrFlow() const { return outxDsrFlow_; }
  void SetOutx_DsrFlow(bool v);
  TDtrControl DtrControl() const { return dtrControl_; }
  void SetDtrControl(TDtrControl v);
  bool DsrSensitivity() const { return dsrSensitivity_; }
  void SetDsrSensitivity(bool v);
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool v);
  bool Outx_XonXoffFlow() const { return outxXonXoffFlow_; }
  void SetOutx_XonXoffFlow(bool v);
  bool Inx_XonXoffFlow() const { return inxXonXoffFlow_; }
  void SetInx_XonXoffFlow(bool v);
  bool ReplaceWhenParityError() const { return replaceWhenParityError_; }
  void SetReplaceWhenParityError(bool v);
  bool IgnoreNullChar() const { return ignoreNullChar_; }
  void SetIgnoreNullChar(bool v);
  TRtsControl RtsControl() const { return rtsControl_; }
  void SetRtsControl(TRtsControl v);
  uint16_t XonLimit() const { return xonLimit_; }
  void SetXonLimit(uint16_t v);
  uint16_t XoffLimit() const { return xoffLimit_; }
  void SetXoffLimit(uint16_t v);
  TByteSize ByteSize() const { return byteSize_; }
  void SetByteSize(TByteSize v);
  TParity Parity() const { return parity_; }
  void SetParity(TParity v) { parity_ = v; }
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits v);
  char XonChar() const { return xonChar_; }
  void SetXonChar(char v);
  char XoffChar() const { return xoffChar_; }
  void SetXoffChar(char v);
  char ReplacedChar() const { return replacedChar_; }
  void SetReplacedChar(char v);
  uint32_t ReadIntervalTimeout() const { return readIntervalTimeout_; }
  void SetReadIntervalTimeout(uint32_t v);
  uint32_t ReadTotalTimeoutMultiplier() const { return readTotalTimeoutMultiplier_; }
  void SetReadTotalTimeoutMultiplier(uint32_t v);
  uint32_t ReadTotalTimeoutConstant() const { return readTotalTimeoutConstant_; }
  void SetReadTotalTimeoutConstant(uint32_t v);
  uint32_t WriteTotalTimeoutMultiplier() const { return writeTotalTimeoutMultiplier_; }
  void SetWriteTotalTimeoutMultiplier(uint32_t v);
  uint32_t WriteTotalTimeoutConstant() const { return writeTotalTimeoutConstant_; }
  void SetWriteTotalTimeoutConstant(uint32_t v);
  static constexpr int kNoEndChar = -1;
  int EndChar() const { return endChar_; }
  void SetEndChar(int v);  // 0..255, or kNoEndChar

  TReceiveDataEvent OnReceiveData;
  TReceiveErrorEvent OnReceiveError;
  TReceiveOverrunEvent OnReceiveOverrun;
  TModemStateChangeEvent OnModemStateChange;
  TNotifyEvent OnRequestHangup;
  TSendDataEmptyEvent OnSendDataEmpty;

 protected:
  bool event(QEvent *e) override;

 private:
  void ApplyDeviceSettings();
  void ApplyTimeouts();
  void StopReceiveThread();
  void StopTransmitThread();
  void ReleaseHandles();
  template <typename T>
  void SetLine(T &field, T v);
  template <typename T>
  void SetTimeout(T &field, T v);

  std::unique_ptr<TReadThread> readThread_;
  std::unique_ptr<TWriteThread> writeThread_;
  std::unique_ptr<TCommShared> shared_;  // what the threads read: handles, queue, reception options
  std::atomic<bool> transmitIdle_{true};
  int handle_ = -1;                      // -1: closed
  TParity openParity_ = TParity::None;   // the parity in force since the last open
  bool rtsToggleSet_ = false;

  QString commName_ = QStringLiteral("COM2");
  uint32_t baudRate_ = 9600;
  bool parityCheck_ = false;
  bool outxCtsFlow_ = false;
  bool outxDsrFlow_ = false;
  TDtrControl dtrControl_ = TDtrControl::DtrEnable;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = true;
  bool outxXonXoffFlow_ = true;
  bool inxXonXoffFlow_ = true;
  bool replaceWhenParityError_ = false;
  bool ignoreNullChar_ = false;
  TRtsControl rtsControl_ = TRtsControl::RtsEnable;
  uint16_t xonLimit_ = 500;
  uint16_t xoffLimit_ = 500;
  TByteSize byteSize_ = TByteSize::_8;
  TParity parity_ = TParity::None;
  TStopBits stopBits_ = TStopBits::_1;
  char xonChar_ = 0x11;
  char xoffChar_ = 0x13;
  char replacedChar_ = 0x00;
  uint32_t readIntervalTimeout_ = 100;
  uint32_t readTotalTimeoutMultiplier_ = 0;
  uint32_t readTotalTimeoutConstant_ = 0;
  uint32_t writeTotalTimeoutMultiplier_ = 0;
  uint32_t writeTotalTimeoutConstant_ = 0;
  int endChar_ = kNoEndChar;
};
