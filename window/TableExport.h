// Tables written out as the operator sees them (shownRows), for a spreadsheet.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>

#include "protocol/Csv.h"
#include "window/WholeFile.h"

// "导出…": asks where to save (the save dialog; tests replace it), then takes, on the window's
// thread, what is to be written (`snapshot`: a copy of the rows, a picture) and writes it out
// in the background as a whole file (writeWholeFileLater), so that a long export never holds
// the window up. `snapshot` runs only once a name was given and returns the producer that
// writes its copy out; it may refuse with a reason in `error`. A refused or failed save says
// why in a message box.
void exportFile(const QString &caption, const QString &suggestedName, const QString &filter,
                const std::function<FileProducer(QString *error)> &snapshot);
