#include "window/PortList.h"

#include "link/Ports.h"

namespace {
std::function<std::optional<QStringList>()> &hook() {
  static std::function<std::optional<QStringList>()> h;
  return h;
}
}  // namespace

std::optional<QStringList> machinePorts() { return hook() ? hook()() : listSerialPorts(); }

void SetPortListHook(std::function<std::optional<QStringList>()> h) { hook() = std::move(h); }

void PortListBox::refill(const QStringList &ports) {
  QStringList items;
  for (int i = 0; i < count(); ++i) items << itemText(i);
  if (items == ports) return;
  const QString shown = currentText();
  clear();
  addItems(ports);
  const int at = findText(shown);
  if (at >= 0)
    setCurrentIndex(at);
  else
    setEditText(shown);
}

// A list that cannot be read now keeps the one it has: the operator is told at start-up only.
void PortListBox::showPopup() {
  if (const std::optional<QStringList> ports = machinePorts()) refill(*ports);
  QComboBox::showPopup();
}
