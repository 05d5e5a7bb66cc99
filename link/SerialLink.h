// A Link over the serial component. The owner sets the component up (device, baud rate,
// line settings) and keeps it; the link only opens, closes and carries chunks.
#pragma once

#include "link/Link.h"

class TComm;

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
