#include "link/Ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

bool naturalLess(const QString &a, const QString &b) {
  int i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      int si = i, sj = j;
      while (i < a.size() && a[i].isDigit()) ++i;
      while (j < b.size() && b[j].isDigit()) ++j;
      const qulonglong x = a.mid(si, i - si).toULongLong(), y = b.mid(sj, j - sj).toULongLong();
      if (x != y) return x < y;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::optional<QStringList> listSerialPorts(const QString &sysClassTty) {
  QDir dir(sysClassTty);
  if (!dir.exists() || !dir.isReadable()) return std::nullopt;
  QStringList ports;
  for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
    const QString entry = dir.filePath(name);
    if (!QFileInfo::exists(entry + QStringLiteral("/device"))) continue;  // virtual terminals
    // A legacy 8250 port the kernel lists without a UART reports type 0.
    QFile type(entry + QStringLiteral("/type"));
    if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "0") continue;
    ports << QStringLiteral("/dev/") + name;
  }
  std::sort(ports.begin(), ports.end(), naturalLess);
  return ports;
}
