// TComm: the serial-port component. One instance (Comm1) belongs to the main window.
// It opens one serial device exclusively, applies the line settings and time-outs held in
// its properties, and runs two worker threads: TReadThread gathers received bytes and line
// events, TWriteThread writes queued transmit requests. Everything the threads learn is
// posted to the owner's thread, where the component raises its events, so event handlers
// never run on a worker thread. Failures while opening throw ECommsError.
#pragma once

#include <QEvent>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

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
};

class TComm : public QObject {
  Q_OBJECT
 public:
  explicit TComm(QObject *owner = nullptr);
  ~TComm() override;

  void OpenPort();
  void ClosePort();
  bool SendData(const char *data, uint16_t length);
  bool Opened() const;

  // Properties. Setters of line properties and time-outs do nothing when the value is
  // unchanged and re-apply the settings at once while the port is open; CommName and
  // Parity are only stored and take effect at the next open.
  QString CommName() const { return commName_; }
  void SetCommName(const QString &v) { commName_ = v; }
  uint32_t BaudRate() const { return baudRate_; }
  void SetBaudRate(uint32_t v);

  TReceiveDataEvent OnReceiveData;
  TReceiveErrorEvent OnReceiveError;
  TModemStateChangeEvent OnModemStateChange;
  TNotifyEvent OnRequestHangup;
  TSendDataEmptyEvent OnSendDataEmpty;

  std::atomic<bool> TransmitIdle{true};

 protected:
  bool event(QEvent *e) override;

 private:
  QString commName_ = QStringLiteral("COM2");
  uint32_t baudRate_ = 9600;
};
