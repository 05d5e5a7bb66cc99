// Tables written out as the operator sees them (shownRows), for a spreadsheet.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>

// CSV for spreadsheets: UTF-8 with a byte-order mark (so a spreadsheet does not take it for the
// local code page), each row ended by CR LF, a field quoted when it holds a comma, a quote or a
// line break, quotes doubled.
QByteArray csvText(const QList<QStringList> &rows);

// "导出…": asks where to save (the save dialog; tests replace it), then writes what `bytes`
// makes there as a whole file. `bytes` runs only once a name was given; it may refuse with a
// reason in `error`. A refused or failed save says why in a message box.
void exportFile(const QString &caption, const QString &suggestedName, const QString &filter,
                const std::function<QByteArray(QString *error)> &bytes);
