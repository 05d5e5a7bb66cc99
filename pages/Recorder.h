// Recording the status page to a CSV file: one row per decoded polling cycle. The rows are
// pure functions of what the page shows; RecordFile is the thin writer around them.
//
// A row: the time; every measurement box as shown, the battery state and the AC state text;
// the eighteen alarm lamps and the AC lamp as 0/1; for modules 1..12 present (0/1), the on/off
// column, voltage and current (the grid's numbers, without unit) and the protection column.
#pragma once

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

// The reason a write failed, in the operator's words: "磁盘已满" for no space left (a file-size
// limit included), "没有写权限" for a permission refused, each followed by the system's text;
// any other reason in the system's text.
QString writeErrorText(int systemError);

// Appends rows to a file, each one handed to the system as soon as it is written: a crash
// loses at most the row in hand. The file is UTF-8 with a byte-order mark and starts with the
// header row.
//
// Before each row the file is checked to be still the one at its path (the same device and
// inode, not unlinked). When it was deleted, moved away or replaced (log rotation moves it
// and makes an empty one), the rows go on at the path: into a file made there, or appended to
// the one found there, which is never cut short; a file made or found empty gets the header
// first. A row is written whole or not at all: after a failed or short write the file is cut
// back to the end of the last whole row. A failed write leaves the recording closed, with the
// reason.
class RecordFile {
 public:
  ~RecordFile() { close(); }
  // Starts the file at path (a symbolic link is followed), emptied, with the header.
  bool open(const QString &path, const QStringList &header, QString *error);
  enum class Append {
    Written,
    Reopened,  // written, into the file now at the path (reopened() tells how)
    Failed,    // nothing of the row is in the file; the recording is closed
  };
  Append append(const QStringList &row, QString *error);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  QString path() const { return path_; }
  // After Reopened: whether the file at the path was made (or found empty) rather than found
  // with rows in it.
  bool madeAnew() const { return madeAnew_; }

 private:
  bool sameFileAtPath() const;
  bool reopen(QString *error);
  // Writes all of bytes or, failing, cuts the file back to where it ended before.
  bool writeWhole(const QByteArray &bytes, QString *error);
  int fd_ = -1;
  QString path_;
  QByteArray header_;
  bool madeAnew_ = false;
};

}  // namespace recording
