// The one way the program writes a file the operator names (the protocol log, table exports,
// and whatever is saved later): all of it or nothing, and only where a file belongs.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;

// Writes what the producer puts into the device to path as a whole, and returns an empty
// text on success or the reason it failed, in the operator's language.
//  - A path that exists and is not a regular file (a device node, a folder, a pipe, a socket)
//    is refused before anything is written: the new content lands beside the target and is
//    renamed over it, which would replace a device node with a file.
//  - A symbolic link is followed (up to 40 links): the file it points to is written, or
//    made when the link points at nothing yet, and the link stays a link. A link that ends
//    at something other than a regular file is refused like that target.
//  - The old content stays in place until all of the new content was written.
// The producer runs once; what it writes is checked, so it need not check each write.
using FileProducer = std::function<void(QIODevice &out)>;
QString writeWholeFile(const QString &path, const FileProducer &produce);
QString writeWholeFile(const QString &path, const QByteArray &bytes);

// Where writeWholeFile would write for path: the path itself, or the end of its chain of
// symbolic links. Empty (with the reason in why) when the target is no place for a file.
QString wholeFileTarget(const QString &path, QString *why);
