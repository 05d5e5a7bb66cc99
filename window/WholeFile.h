// The one way the program writes a file the operator names (the protocol log, table exports,
// and whatever is saved later): all of it or nothing, and only where a file belongs.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;
class QObject;

// Writes what the producer puts into the device to path as a whole, and returns an empty
// text on success or the reason it failed, in the operator's language.
//  - A path that exists and is not a regular file (a device node, a folder, a pipe, a socket)
//    is refused before anything is written: the new content lands beside the target and is
//    renamed over it, which would replace a device node with a file.
//  - A symbolic link is followed (up to 40 links): the file it points to is written, or
//    made when the link points at nothing yet, and the link stays a link. A link that ends
//    at something other than a regular file is refused like that target.
//  - The old content stays in place until all of the new content was written.
// The producer runs once; what it writes is checked, so it need not check each write. It may
// refuse with a reason (a non-empty text): the old content then stays as it was.
using FileProducer = std::function<QString(QIODevice &out)>;
QString writeWholeFile(const QString &path, const FileProducer &produce);
QString writeWholeFile(const QString &path, const QByteArray &bytes);

// The same write on a worker thread, so a long one leaves the window responsive: the producer
// must use only what it owns (a copy of what it writes out). `done` runs later on the
// window's thread with writeWholeFile's result, unless `context` is gone by then. The writes
// run one after the other, in the order they were asked for.
void writeWholeFileLater(const QString &path, FileProducer produce, QObject *context,
                         std::function<void(const QString &error)> done);
// Waits until every write asked for has ended (the window does so before it closes, so that
// no file is left half-written); their `done` calls follow from the event loop.
void finishWritesInBackground();
// Writes asked for whose `done` has not run yet.
int writesInBackground();

// Where writeWholeFile would write for path: the path itself, or the end of its chain of
// symbolic links. Empty (with the reason in why) when the target is no place for a file.
QString wholeFileTarget(const QString &path, QString *why);
