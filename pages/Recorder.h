// Recording the status page to a CSV file: one row per decoded polling cycle. The rows are
// pure functions of what the page shows; RecordFile is the thin writer around them.
//
// A row: the time; every measurement box as shown, the battery state and the AC state text;
// the eighteen alarm lamps and the AC lamp as 0/1; for modules 1..12 present (0/1), the on/off
// column, voltage and current (the grid's numbers, without unit) and the protection column.
#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

#include "protocol/Status.h"

namespace recording {

struct Snapshot {
  qint64 msecs = 0;            // PC time
  QStringList measurements;    // the boxes in the order of status::measurements()
  QString batteryState, acState;
  std::vector<bool> lamps;     // status::lamps() in order, then the AC lamp
  std::array<status::ModuleRecord, status::kModules> modules{};  // modules 1..12
};

QStringList header();
QStringList row(const Snapshot &s);

// Appends rows to a file, each one handed to the system as soon as it is written: a crash
// loses at most the row in hand. The file is UTF-8 with a byte-order mark and starts with the
// header row. Any failed write leaves the file closed, with the reason.
class RecordFile {
 public:
  bool open(const QString &path, const QStringList &header, QString *error);
  bool append(const QStringList &row, QString *error);
  void close();
  bool isOpen() const { return file_.isOpen(); }
  QString path() const { return file_.fileName(); }

 private:
  bool write(const QByteArray &bytes, QString *error);
  QFile file_;
};

}  // namespace recording
