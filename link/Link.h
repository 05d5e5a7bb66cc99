// One link to a controller, whatever carries it: a serial line or a TCP connection. The window
// and the exporter each own their links and drive an exchange (link/Exchange.h) over them;
// the serial component behind a SerialLink is the link's own business.
//
// Contract:
// - Every method and every notification runs on the owner's thread (the thread that created
//   the link); the serial component's own threads stay inside it.
// - A chunk is what the line delivered as one piece: bytes up to and including an end mark,
//   or what came before a quiet gap (on the LAN only bytes that hold no start mark: an answer
//   waits for its end mark there); a stream without end marks is cut every kChunkLimit
//   bytes. The chunk's bytes are valid only during the notification.
// - `onDropped` tells that the link went away without close() being asked for: a socket
//   error, the peer hanging up, a serial device that vanished. A link closed by close()
//   reports nothing.
// - `onNote` carries what the owner should log and nothing more: a receive error of the
//   serial line, bytes dropped because they came faster than they could be handed over.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string_view>

#include "protocol/Frame.h"

class Link : public QObject {
  Q_OBJECT
 public:
  enum class State { Closed, Connecting, Open };
  // No answer is longer: a chunk is cut here, as the serial line's receive buffer cuts it.
  static constexpr int kChunkLimit = proto::kSendAreaSize;

  using QObject::QObject;
  ~Link() override = default;

  // Opens the link; a serial open that fails throws ECommsError with the system's reason. A
  // TCP link is Connecting until onConnected (or onDropped with the reason it failed).
  virtual void open() = 0;
  virtual void close() = 0;
  virtual State state() const = 0;
  // Puts one frame on the line. False when nothing could be sent (not open, or the system
  // refused it; the reason goes to onNote, and a connection that failed also to onDropped).
  virtual bool send(std::string_view frame) = 0;
  // "127.0.0.1:5001" or "/dev/ttyUSB0 9600", for the operator.
  virtual QString where() const = 0;

  std::function<void(std::string_view chunk)> onChunk;
  std::function<void()> onConnected;
  // The reason in words, and the system's error number (0 when there is none).
  std::function<void(const QString &reason, int systemError)> onDropped;
  std::function<void(const QString &text)> onNote;
};

// A reason for errno-style codes the operator meets on links, in Chinese: "连接被拒绝（该端口
// 没有程序在监听）", "设备不存在", "权限不足", "设备忙（已被其他程序占用）", …
QString linkErrorReason(int systemError);
