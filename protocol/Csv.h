// CSV for spreadsheets, the one writer of the window's exports and the command line: UTF-8
// with a byte-order mark (so a spreadsheet does not take it for the local code page), each
// row ended by CR LF, a field quoted when it holds a comma, a quote or a line break, quotes
// doubled.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

QByteArray csvText(const QList<QStringList> &rows);
// One row of it: its fields and the CR LF, without the byte-order mark.
QByteArray csvLine(const QStringList &fields);
