#include "support/TestSupport.h"

#include <QFile>

#include "protocol/Frame.h"
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
QByteArray fileBytes(const QString &path, const QByteArray &unreadable) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : unreadable;
}
QByteArray frameBytes(uint8_t adr, uint8_t cid1, uint8_t cid2OrRtn, const std::vector<uint8_t> &data) {
  return QByteArray::fromStdString(proto::encodeFrame(adr, cid1, cid2OrRtn, data));
}
}  // namespace testsupport
