#include "pages/ClockZone.h"
#include "pages/Recorder.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pages/AlarmJournal.h"
#include "pages/TrendStore.h"
#include "protocol/Conversions.h"
#include "window/TableExport.h"
#include "window/WholeFile.h"

namespace recording {

QStringList header() {
  QStringList h{clockzone::heading()};
  for (const status::Measurement &m : status::measurements()) h << trend::boxName(m.box);
  h << QStringLiteral("电池状态") << QStringLiteral("交流状态");
  for (int s = 0; s < journal::kLampSources; ++s) h << journal::sourceName(s);
  h << journal::sourceName(journal::kAcSource);
  for (int n = 1; n <= status::kModules; ++n)
    h << QStringLiteral("模块%1在位").arg(n) << QStringLiteral("模块%1开关机").arg(n)
      << QStringLiteral("模块%1电压(V)").arg(n) << QStringLiteral("模块%1电流(A)").arg(n)
      << QStringLiteral("模块%1保护").arg(n);
  return h;
}

QStringList row(const Snapshot &s) {
  QStringList r{journal::timeText(s.msecs)};
  for (size_t i = 0; i < status::measurements().size(); ++i)
    r << (i < size_t(s.measurements.size()) ? s.measurements[qsizetype(i)] : QString());
  r << s.batteryState << s.acState;
  for (int i = 0; i <= journal::kLampSources; ++i)
    r << (size_t(i) < s.lamps.size() && s.lamps[size_t(i)] ? QStringLiteral("1") : QStringLiteral("0"));
  for (const status::ModuleRecord &m : s.modules) {
    const auto texts = status::moduleRowTexts(m);
    const status::ModuleView v = status::moduleView(m);
    r << (m.present ? QStringLiteral("1") : QStringLiteral("0")) << texts[0] << proto::formatGeneral(v.volts)
      << proto::formatGeneral(v.amperes) << texts[3];
  }
  return r;
}

// ---------------------------------------------------------------- the file

QString writeErrorText(int systemError) {
  const QString system = QString::fromLocal8Bit(std::strerror(systemError));
  switch (systemError) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:  // the file-size limit: no more room for this file
      return QStringLiteral("磁盘已满（%1）").arg(system);
    case EACCES:
    case EPERM:
    case EROFS:
      return QStringLiteral("没有写权限（%1）").arg(system);
    default:
      return system;
  }
}

namespace {
QByteArray encoded(const QString &path) { return QFile::encodeName(path); }
}  // namespace

bool RecordFile::open(const QString &path, const QStringList &header, QString *error) {
  close();
  // only where a file belongs: never over a device node, a folder or a pipe
  QString why;
  const QString target = wholeFileTarget(path, &why);
  if (target.isEmpty()) {
    if (error) *error = why;
    return false;
  }
  fd_ = ::open(encoded(target).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    if (error) *error = writeErrorText(errno);
    return false;
  }
  path_ = path;
  header_ = QByteArray("\xEF\xBB\xBF") + csvLine(header);
  if (!writeWhole(header_, error)) {
    close();
    return false;
  }
  return true;
}

RecordFile::Append RecordFile::append(const QStringList &row, QString *error) {
  if (fd_ < 0) {
    if (error) *error = QStringLiteral("file not open");
    return Append::Failed;
  }
  Append how = Append::Written;
  bool written = true;
  if (!sameFileAtPath()) {
    written = reopen(error);
    how = Append::Reopened;
  } else {
    // emptied where it stands (a rotation that copies the file away and empties it)
    struct stat st;
    if (::fstat(fd_, &st) == 0 && st.st_size == 0) written = writeWhole(header_, error);
  }
  if (!written || !writeWhole(csvLine(row), error)) {
    close();
    return Append::Failed;
  }
  return how;
}

bool RecordFile::sameFileAtPath() const {
  struct stat mine, there;
  if (::fstat(fd_, &mine) != 0 || mine.st_nlink == 0) return false;
  if (::stat(encoded(path_).constData(), &there) != 0) return false;
  return mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
}

bool RecordFile::reopen(QString *error) {
  QString why;
  const QString target = wholeFileTarget(path_, &why);
  if (target.isEmpty()) {
    if (error) *error = why;
    return false;
  }
  // made when missing, appended to when there: whatever stands at the path is never cut short
  const int fd = ::open(encoded(target).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error) *error = writeErrorText(errno);
    return false;
  }
  ::close(fd_);
  fd_ = fd;
  struct stat st;
  madeAnew_ = ::fstat(fd_, &st) == 0 && st.st_size == 0;
  return !madeAnew_ || writeWhole(header_, error);
}

bool RecordFile::writeWhole(const QByteArray &bytes, QString *error) {
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    if (error) *error = writeErrorText(errno);
    return false;
  }
  const off_t before = st.st_size;
  const char *p = bytes.constData();
  size_t left = static_cast<size_t>(bytes.size());
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n > 0) {
      p += n;
      left -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int why = n < 0 ? errno : ENOSPC;  // a write that takes nothing has no room
    // what of the row got in goes again: the file ends with its last whole row
    if (p != bytes.constData() && ::ftruncate(fd_, before) != 0 && error) {
      *error = writeErrorText(why) + QStringLiteral("；无法截去写了一半的行：") + writeErrorText(errno);
      return false;
    }
    if (error) *error = writeErrorText(why);
    return false;
  }
  return true;
}

void RecordFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace recording
