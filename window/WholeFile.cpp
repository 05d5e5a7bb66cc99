#include "window/WholeFile.h"

#include <QFile>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QThreadPool>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kMaxLinks = 40;  // as the system's own path lookup allows

}  // namespace

QString wholeFileTarget(const QString &path, QString *why) {
  auto refuse = [why](const QString &reason) {
    if (why) *why = reason;
    return QString();
  };
  QString target = path;
  for (int links = 0;; ++links) {
    struct stat st;
    if (::lstat(QFile::encodeName(target).constData(), &st) != 0) {
      if (errno == ENOENT) return target;  // a new file (its folder is checked by the write)
      return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (S_ISREG(st.st_mode)) return target;
    if (S_ISDIR(st.st_mode)) return refuse(QStringLiteral("这是一个文件夹，不是文件：没有写入"));
    if (!S_ISLNK(st.st_mode))
      return refuse(QStringLiteral("这不是普通文件（设备、管道或套接字）：没有写入"));
    if (links == kMaxLinks) return refuse(QStringLiteral("符号链接层数过多：没有写入"));
    target = QFileInfo(target).symLinkTarget();  // absolute, resolved from the link's folder
    if (target.isEmpty()) return refuse(QStringLiteral("无法读取符号链接：没有写入"));
  }
}

QString writeWholeFile(const QString &path, const FileProducer &produce) {
  QString why;
  const QString target = wholeFileTarget(path, &why);
  if (target.isEmpty()) return why;
  // The target is named after its links are followed, so the rename replaces the file the
  // operator meant and never a link.
  QSaveFile file(target);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString();
  const QString refused = produce(file);
  if (!refused.isEmpty()) {
    file.cancelWriting();
    return refused;
  }
  // a failed write is remembered by the file, and commit then refuses to replace the target
  if (!file.commit()) return file.errorString();
  return QString();
}

QString writeWholeFile(const QString &path, const QByteArray &bytes) {
  return writeWholeFile(path, [&bytes](QIODevice &out) {
    out.write(bytes);
    return QString();
  });
}

// ---------------------------------------------------------------- in the background

namespace {

QThreadPool &writers() {
  // ended with the program, after the writes under way are finished
  static QThreadPool pool;
  static const bool once = [] {
    pool.setObjectName(QStringLiteral("FileWriters"));
    pool.setMaxThreadCount(1);  // one after the other, as asked for
    return true;
  }();
  (void)once;
  return pool;
}

int gPending = 0;  // touched on the window's thread only

}  // namespace

void writeWholeFileLater(const QString &path, FileProducer produce, QObject *context,
                         std::function<void(const QString &error)> done) {
  ++gPending;
  QPointer<QObject> guard(context);
  writers().start([path, produce = std::move(produce), guard, done = std::move(done)] {
    const QString error = writeWholeFile(path, produce);
    // the application object lives as long as the event loop that runs this
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard, done, error] {
          --gPending;
          if (guard && done) done(error);
        },
        Qt::QueuedConnection);
  });
}

void finishWritesInBackground() { writers().waitForDone(); }

int writesInBackground() { return gPending; }
