// A Link over the serial component. The owner sets the component up (device, baud rate,
// line settings) and keeps it; the link only opens, closes and carries chunks.
#pragma once

#include "link/Link.h"

class TComm;

// The line a controller talks on, every setting and time-out set, so nothing is left to the
// component's defaults (its XON/XOFF flow control would stop the line at a stray 0x13 and
// swallow 0x11 and 0x13 from answers): 8N1, no flow control, DTR and RTS on, and a chunk
// handed over at the end mark, or after 100 ms of quiet. Device and baud rate are the
// caller's.
void setControllerLine(TComm &comm);

class SerialLink : public Link {
  Q_OBJECT
 public:
  SerialLink(TComm *comm, QObject *parent);
  void open() override;
  void close() override;
  State state() const override;
  bool send(std::string_view frame) override;
  QString where() const override;

 private:
  TComm *comm_;
};
