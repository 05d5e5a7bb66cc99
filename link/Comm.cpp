#include "link/Comm.h"

// Placeholder until the POSIX implementation lands: the port never opens.
TComm::TComm(QObject *owner) : QObject(owner) {}
TComm::~TComm() { ClosePort(); }
void TComm::OpenPort() { throw ECommsError("Error opening serial port"); }
void TComm::ClosePort() {}
bool TComm::SendData(const char *, uint16_t) { return false; }
bool TComm::Opened() const { return false; }
void TComm::SetBaudRate(uint32_t v) { baudRate_ = v; }
bool TComm::event(QEvent *e) { return QObject::event(e); }
