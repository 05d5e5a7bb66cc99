// The serial ports the kernel reports, as device paths.
#pragma once
#include <QStringList>
#include <optional>

// Entries of sysClassTty (normally /sys/class/tty) with a device behind them, leaving out
// legacy ports that have no UART, as "/dev/NAME" in natural order (ttyS2 before ttyS10).
// nullopt when the directory cannot be read.
std::optional<QStringList> listSerialPorts(const QString &sysClassTty = QStringLiteral("/sys/class/tty"));

// Natural order of port names: digit runs compare by value.
bool naturalLess(const QString &a, const QString &b);
