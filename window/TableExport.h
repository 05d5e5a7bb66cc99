// Tables written out as the operator sees them, for a spreadsheet.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

class QAbstractItemView;

// The texts of a table as shown: the column titles when its header is shown, then every row
// that is not hidden, of the columns that are not hidden. A grid whose titles are its first
// row (the energy grid) gives them as that row.
QList<QStringList> shownTexts(const QAbstractItemView *view);

// CSV for spreadsheets: UTF-8 with a byte-order mark (so a spreadsheet does not take it for the
// local code page), each row ended by CR LF, a field quoted when it holds a comma, a quote or a
// line break, quotes doubled.
QByteArray csvText(const QList<QStringList> &rows);

// Writes bytes to path as a whole: the file is replaced only when all of it was written.
// False, with the reason in error, otherwise.
bool writeWholeFile(const QString &path, const QByteArray &bytes, QString *error);
