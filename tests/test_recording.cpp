// Recording to CSV loses no row without a word: the file deleted, moved away or replaced under
// it, and a disk that fills up. The file writer on its own, then the window's recording against
// a scripted controller, through the button.
#include <QtTest>

#include <QPushButton>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "pages/Recorder.h"
#include "support/FormFixture.h"
#include "support/ScriptedPlant.h"
#include "support/TestSupport.h"
#include "window/TableExport.h"

using namespace testsupport;
using recording::RecordFile;

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

// A place where a file has only `room` bytes: a small file system of its own where this
// machine lets the test mount one, otherwise a limit on the size of the files this process
// writes (the signal of that limit ignored, so the write fails instead). Both go with it.
class SmallDisk {
 public:
  explicit SmallDisk(qint64 room) {
    folder_ = dir_.filePath(QStringLiteral("disk"));
    QDir().mkpath(folder_);
    const QByteArray at = QFile::encodeName(folder_);
    if (::mount("tmpfs", at.constData(), "tmpfs", 0, "size=64k") == 0) {
      mounted_ = true;
      how_ = QStringLiteral("a 64 KiB tmpfs");
      // filled up, then room made by cutting the filler
      QFile filler(folder_ + QStringLiteral("/filler"));
      if (filler.open(QIODevice::WriteOnly)) {
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        filler.resize(std::max<qint64>(0, filler.size() - room));
      }
      return;
    }
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit small = saved_;
    small.rlim_cur = rlim_t(room);
    oldSignal_ = std::signal(SIGXFSZ, SIG_IGN);
    limited_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    how_ = QStringLiteral("a file-size limit of %1 bytes (no tmpfs: %2)").arg(room).arg(QString::fromLocal8Bit(std::strerror(errno)));
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
    if (limited_) ::setrlimit(RLIMIT_FSIZE, &saved_);
    if (oldSignal_ != SIG_ERR) std::signal(SIGXFSZ, oldSignal_);
  }
  bool ok() const { return mounted_ || limited_; }
  QString path(const QString &name) const { return folder_ + QLatin1Char('/') + name; }
  QString how() const { return how_; }

 private:
  QTemporaryDir dir_;
  QString folder_, how_;
  bool mounted_ = false, limited_ = false;
  rlimit saved_{};
  void (*oldSignal_)(int) = SIG_ERR;
};

QStringList header() { return {QStringLiteral("时间"), QStringLiteral("值")}; }
QStringList row(int i) { return {QStringLiteral("行%1").arg(i), QString::number(i * 1.5)}; }
QByteArray rows(int from, int to) {
  QByteArray out;
  for (int i = from; i < to; ++i) out += csvLine(row(i));
  return out;
}
QByteArray start() { return kBom + csvLine(header()); }

// The data rows of a recorded file (after its header), each checked to be whole.
QList<QByteArray> dataRows(const QByteArray &file, int fields) {
  if (!file.startsWith(kBom) || !file.endsWith("\r\n")) return {QByteArray("<torn or headless>")};
  QList<QByteArray> lines = file.mid(3).split('\n');
  lines.removeLast();
  for (const QByteArray &l : lines)
    if (!l.endsWith('\r') || l.count(',') != fields - 1) return {QByteArray("<torn row: ") + l + ">"};
  lines.removeFirst();  // the header
  return lines;
}

int logLinesWith(const TestForm &f, const QString &text) { return int(memoLines(f).filter(text).size()); }

}  // namespace

class TestRecording : public QObject {
  Q_OBJECT
 private slots:
  // ---- the writer on its own
  void followsThePath() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rec.csv"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an earlier recording\n");
    old.close();
    RecordFile file;
    QString error;
    QVERIFY(file.open(path, header(), &error));  // started anew
    QCOMPARE(file.append(row(0), &error), RecordFile::Append::Written);
    QCOMPARE(fileBytes(path), start() + rows(0, 1));

    // moved away: the rows go on in a new file at the path, the moved one keeps its own
    QVERIFY(QFile::rename(path, dir.filePath(QStringLiteral("moved.csv"))));
    QCOMPARE(file.append(row(1), &error), RecordFile::Append::Reopened);
    QVERIFY(file.madeAnew());
    QCOMPARE(file.append(row(2), &error), RecordFile::Append::Written);
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("moved.csv"))), start() + rows(0, 1));
    QCOMPARE(fileBytes(path), start() + rows(1, 3));

    // deleted
    QVERIFY(QFile::remove(path));
    QCOMPARE(file.append(row(3), &error), RecordFile::Append::Reopened);
    QVERIFY(file.madeAnew());
    QCOMPARE(fileBytes(path), start() + rows(3, 4));

    // replaced by a file with rows of its own: appended to, never cut short, no second header
    QVERIFY(QFile::remove(path));
    QFile other(path);
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("someone else's\r\n");
    other.close();
    QCOMPARE(file.append(row(4), &error), RecordFile::Append::Reopened);
    QVERIFY(!file.madeAnew());
    QCOMPARE(fileBytes(path), QByteArray("someone else's\r\n") + rows(4, 5));

    // rotated: moved away and an empty file made in its place
    QVERIFY(QFile::rename(path, dir.filePath(QStringLiteral("rotated.csv"))));
    QFile empty(path);
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QCOMPARE(file.append(row(5), &error), RecordFile::Append::Reopened);
    QVERIFY(file.madeAnew());
    QCOMPARE(fileBytes(path), start() + rows(5, 6));

    // emptied where it stands (copied away, then cut to nothing): the header again
    QVERIFY(QFile::resize(path, 0));
    QCOMPARE(file.append(row(6), &error), RecordFile::Append::Written);
    QCOMPARE(fileBytes(path), start() + rows(6, 7));

    // a folder where the file was: nowhere to write, and the reason
    QVERIFY(QFile::remove(path));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("rec.csv")));
    QCOMPARE(file.append(row(7), &error), RecordFile::Append::Failed);
    QVERIFY(!file.isOpen());
    QVERIFY2(error.contains(QStringLiteral("文件夹")), qPrintable(error));
  }

  void reasonsInTheOperatorsWords() {
    QVERIFY(recording::writeErrorText(ENOSPC).startsWith(QStringLiteral("磁盘已满（")));
    QVERIFY(recording::writeErrorText(EFBIG).startsWith(QStringLiteral("磁盘已满（")));
    QVERIFY(recording::writeErrorText(EACCES).startsWith(QStringLiteral("没有写权限（")));
    QVERIFY(recording::writeErrorText(EROFS).startsWith(QStringLiteral("没有写权限（")));
    QCOMPARE(recording::writeErrorText(EIO), QString::fromLocal8Bit(std::strerror(EIO)));
    // a folder the process may not write to (root may write anywhere)
    if (::geteuid() == 0) return;
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    RecordFile file;
    QString error;
    QVERIFY(!file.open(dir.filePath(QStringLiteral("rec.csv")), header(), &error));
    QVERIFY2(error.startsWith(QStringLiteral("没有写权限")), qPrintable(error));
  }

  // A full disk: the file ends with its last whole row, and the reason is no space.
  void aFullDiskLeavesWholeRows() {
    SmallDisk disk(4096);
    if (!disk.ok()) QSKIP("neither a small file system nor a file-size limit can be had here");
    qInfo("full disk: %s", qPrintable(disk.how()));
    const QString path = disk.path(QStringLiteral("rec.csv"));
    RecordFile file;
    QString error;
    QVERIFY(file.open(path, header(), &error));
    int written = 0;
    QStringList wide = row(0);
    wide << QString(97, QChar(0x4E2D));  // rows of some 300 bytes, most of them 3-byte characters
    while (written < 1000 && file.append(wide, &error) != RecordFile::Append::Failed) ++written;
    QVERIFY(written > 3 && written < 1000);
    QVERIFY(!file.isOpen());
    QVERIFY2(error.startsWith(QStringLiteral("磁盘已满")), qPrintable(error));
    const QByteArray bytes = fileBytes(path);
    QCOMPARE(bytes, start() + QByteArray(csvLine(wide)).repeated(written));
  }

  // ---- through the window
  void recordingFollowsItsFileThroughMovesAndDeletes() {
    TimeScale fast(0.1);  // polling every 100 ms
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    QVERIFY(pollPlant(f, plant));
    auto betweenCycles = [&](int cycles) {
      return waitFor([&] { return plant.cycles() >= cycles && f.exchange().idle(); }, 5000);
    };
    QVERIFY(betweenCycles(1));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("状态记录.csv"));
    const int from = plant.cycles();
    {
      SaveAs answer(path);
      click(f, "ButtonRecord");
    }
    QCOMPARE(f.panelText(0).count(QStringLiteral("记录中")), 1);
    const QString moved = QStringLiteral("记录文件已被移走，已新建：") + path;

    // moved away (as a rotation moves it)
    QVERIFY(betweenCycles(from + 2));
    QVERIFY(QFile::rename(path, dir.filePath(QStringLiteral("1.csv"))));
    QVERIFY(waitFor([&] { return logLinesWith(f, moved) == 1; }, 5000));
    QVERIFY2(f.panelText(0).contains(QStringLiteral("记录中（") + moved + QStringLiteral("）")), qPrintable(f.panelText(0)));
    // replaced by an empty file
    QVERIFY(betweenCycles(plant.cycles() + 2));
    QVERIFY(QFile::rename(path, dir.filePath(QStringLiteral("2.csv"))));
    {
      QFile empty(path);
      QVERIFY(empty.open(QIODevice::WriteOnly));
    }
    QVERIFY(waitFor([&] { return logLinesWith(f, moved) == 2; }, 5000));
    // deleted (what it held is read through a handle kept open)
    QVERIFY(betweenCycles(plant.cycles() + 2));
    QFile deleted(path);
    QVERIFY(deleted.open(QIODevice::ReadOnly));
    QVERIFY(QFile::remove(path));
    QVERIFY(waitFor([&] { return logLinesWith(f, moved) == 3; }, 5000));
    QVERIFY(betweenCycles(plant.cycles() + 2));
    click(f, "ButtonRecord");  // between two cycles: every cycle so far has its row
    const int cycles = plant.cycles() - from;
    QCOMPARE(f.ButtonRecord->text(), QStringLiteral("记录到CSV…"));
    QVERIFY(!f.panelText(0).contains(QStringLiteral("记录")));

    const int fields = recording::header().size();
    const QList<QByteArray> parts[4] = {dataRows(fileBytes(dir.filePath(QStringLiteral("1.csv"))), fields),
                                        dataRows(fileBytes(dir.filePath(QStringLiteral("2.csv"))), fields),
                                        dataRows(deleted.readAll(), fields), dataRows(fileBytes(path), fields)};
    int recorded = 0;
    for (const QList<QByteArray> &part : parts) {
      QVERIFY2(!part.isEmpty() && !part.first().startsWith('<'), part.isEmpty() ? "empty" : part.first().constData());
      recorded += int(part.size());
    }
    QCOMPARE(recorded, cycles);  // no row lost
    QVERIFY(boxes.boxes.isEmpty());
  }

  void aFullDiskStopsTheRecordingAndSaysSo() {
    SmallDisk disk(4096);
    if (!disk.ok()) QSKIP("neither a small file system nor a file-size limit can be had here");
    TimeScale fast(0.1);  // polling every 100 ms
    MessageRecorder boxes;
    ScriptedPlant plant;
    TestForm f;
    QVERIFY(pollPlant(f, plant));
    const QString path = disk.path(QStringLiteral("状态记录.csv"));
    {
      SaveAs answer(path);
      click(f, "ButtonRecord");
    }
    QVERIFY(f.recording());
    QVERIFY(waitFor([&] { return !boxes.boxes.isEmpty(); }, 20000));
    QVERIFY(!f.recording());
    QCOMPARE(f.ButtonRecord->text(), QStringLiteral("记录到CSV…"));
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY2(boxes.boxes[0].first.startsWith(QStringLiteral("记录已停止：写入 ") + path + QStringLiteral(" 失败：磁盘已满（")),
             qPrintable(boxes.boxes[0].first));
    QVERIFY2(f.panelText(0).contains(QStringLiteral("记录已停止：磁盘已满")), qPrintable(f.panelText(0)));
    const QList<QByteArray> rows = dataRows(fileBytes(path), recording::header().size());
    QVERIFY2(!rows.isEmpty() && !rows.first().startsWith('<'), rows.isEmpty() ? "no rows" : rows.first().constData());
    qInfo("full disk (%s): %d whole rows, then %s", qPrintable(disk.how()), int(rows.size()),
          qPrintable(boxes.boxes[0].first));
  }
};

QTEST_MAIN(TestRecording)
#include "test_recording.moc"
