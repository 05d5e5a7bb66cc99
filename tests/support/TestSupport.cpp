#include "support/TestSupport.h"

#include <QFile>

#include "sim/launch/Powersim.h"

namespace testsupport {
QString powersimPath() { return simlaunch::powersimPath(); }
long rssKiB(qint64 pid) {
  QFile f(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray &line : f.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return -1;
}
}  // namespace testsupport
