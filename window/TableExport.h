// Tables written out as the operator sees them (shownRows), for a spreadsheet.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>

#include "window/WholeFile.h"

// CSV for spreadsheets: UTF-8 with a byte-order mark (so a spreadsheet does not take it for the
// local code page), each row ended by CR LF, a field quoted when it holds a comma, a quote or a
// line break, quotes doubled.
QByteArray csvText(const QList<QStringList> &rows);
// One row of it: its fields and the CR LF, without the byte-order mark.
QByteArray csvLine(const QStringList &fields);

// "导出…": asks where to save (the save dialog; tests replace it), then takes, on the window's
// thread, what is to be written (`snapshot`: a copy of the rows, a picture) and writes it out
// in the background as a whole file (writeWholeFileLater), so that a long export never holds
// the window up. `snapshot` runs only once a name was given and returns the producer that
// writes its copy out; it may refuse with a reason in `error`. A refused or failed save says
// why in a message box.
void exportFile(const QString &caption, const QString &suggestedName, const QString &filter,
                const std::function<FileProducer(QString *error)> &snapshot);
