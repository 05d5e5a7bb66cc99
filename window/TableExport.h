// Tables written out as the operator sees them (shownRows), for a spreadsheet.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

// CSV for spreadsheets: UTF-8 with a byte-order mark (so a spreadsheet does not take it for the
// local code page), each row ended by CR LF, a field quoted when it holds a comma, a quote or a
// line break, quotes doubled.
QByteArray csvText(const QList<QStringList> &rows);
