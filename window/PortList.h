// The serial port box: its list is read from the machine again whenever it is opened, so a
// USB adapter plugged in after start-up is listed. What the operator has chosen or typed stays.
#pragma once

#include <QComboBox>
#include <QStringList>

#include <functional>
#include <optional>

// The machine's serial ports (link/Ports.h), or what a test put in their place.
std::optional<QStringList> machinePorts();
void SetPortListHook(std::function<std::optional<QStringList>()> hook);

class PortListBox : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  // Refills the list with `ports`; the text shown stays.
  void refill(const QStringList &ports);

 protected:
  void showPopup() override;
};
