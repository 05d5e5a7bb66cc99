#include "pages/Recorder.h"

#include "window/WholeFile.h"

#include "pages/AlarmJournal.h"
#include "pages/TrendStore.h"
#include "protocol/Conversions.h"
#include "window/TableExport.h"

namespace recording {

QStringList header() {
  QStringList h{QStringLiteral("时间")};
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

namespace {
// One CSV line as the table export writes it, without the byte-order mark it puts first.
QByteArray csvLine(const QStringList &fields) { return csvText({fields}).mid(3); }
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
  file_.setFileName(target);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    if (error) *error = file_.errorString();
    return false;
  }
  return write(QByteArray("\xEF\xBB\xBF") + csvLine(header), error);
}

bool RecordFile::append(const QStringList &row, QString *error) {
  if (!file_.isOpen()) {
    if (error) *error = QStringLiteral("file not open");
    return false;
  }
  return write(csvLine(row), error);
}

bool RecordFile::write(const QByteArray &bytes, QString *error) {
  // flushed at once: the row is the system's before the next answer comes
  if (file_.write(bytes) != bytes.size() || !file_.flush()) {
    if (error) *error = file_.errorString();
    file_.close();
    return false;
  }
  return true;
}

void RecordFile::close() {
  if (file_.isOpen()) file_.close();
}

}  // namespace recording
