#include <QtTest>

#include "link/Comm.h"
#include "link/CommLine.h"
#include "support/Pty.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <ctime>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using testsupport::PtyPair;

using Change = std::function<void(TComm &)>;
Q_DECLARE_METATYPE(Change)

namespace {

int CountEntries(const char *dir) { return int(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size()); }
int ThreadCount() { return CountEntries("/proc/self/task"); }
int FdCount() { return CountEntries("/proc/self/fd"); }

// Bytes waiting to be read on this process's own descriptor of the device at path; -1 when
// the process has it nowhere open.
int WaitingOn(const QString &path) {
  const QDir fds(QStringLiteral("/proc/self/fd"));
  for (const QString &n : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
    int waiting = 0;
    if (QFile::symLinkTarget(fds.filePath(n)) == path && ::ioctl(n.toInt(), FIONREAD, &waiting) == 0) return waiting;
  }
  return -1;
}

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Everything a component raised, in order.
struct Recorder {
  QList<QByteArray> chunks;
  bool terminated = true;  // every buffer had a zero after its last byte
  int hangups = 0;
  int txEmpty = 0;
  int errors = 0;
  uint32_t errorFlags = 0;
  int modem = 0;
  uint64_t dropped = 0;
  QByteArray trace;  // one letter per event: D data, O overrun, E error

  // Records every event. XON/XOFF flow control is turned off so that 0x11 and 0x13 pass
  // as data; the other settings stay the component's defaults.
  void attach(TComm &c) {
    c.SetOutx_XonXoffFlow(false);
    c.SetInx_XonXoffFlow(false);
    c.OnReceiveData = [this, &c](QObject *sender, const char *buffer, uint16_t length) {
      QCOMPARE(sender, &c);
      chunks.append(QByteArray(buffer, length));
      terminated = terminated && buffer[length] == 0;
      trace += 'D';
    };
    c.OnReceiveOverrun = [this](QObject *, uint32_t bytes) {
      dropped += bytes;
      trace += 'O';
    };
    c.OnRequestHangup = [this](QObject *) { ++hangups; };
    c.OnSendDataEmpty = [this](QObject *) { ++txEmpty; };
    c.OnReceiveError = [this](QObject *, uint32_t flags) {
      ++errors;
      errorFlags |= flags;
      trace += 'E';
    };
    c.OnModemStateChange = [this](QObject *, uint32_t) { ++modem; };
  }
  QByteArray all() const { return chunks.join(); }
};

// A fresh pseudo-terminal with the component open on it, recorded as above.
struct Line {
  PtyPair pty;
  TComm comm;
  Recorder rec;
  bool open() {
    if (!pty.open()) return false;
    rec.attach(comm);
    comm.SetCommName(pty.slavePath);
    comm.OpenPort();
    return true;
  }
};

// Whether another open of the device (as another process would make) is refused its lock.
// Locks belong to each open of a file, so a second open in this process meets the same lock
// another process would, without a fork.
bool lockedForOthers(const QString &path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return true;  // refused outright (TIOCEXCL for an unprivileged user)
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return locked;
}

QString OpenError(TComm &c) {
  try {
    c.OpenPort();
  } catch (const ECommsError &e) {
    return QString::fromUtf8(e.what());
  }
  return QString();
}

// Waits, without letting the owner's thread take a single notification, until the
// component has read `bytes` bytes from the line.
bool WaitReceivedUnattended(const TComm &comm, uint64_t bytes) {
  QDeadlineTimer deadline(20000);
  while (comm.ReceivedBytes() < bytes) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(5);
  }
  return true;
}

termios LineOf(const PtyPair &pty) {
  termios t{};
  tcgetattr(pty.master, &t);
  return t;
}

}  // namespace

class TestComm : public QObject {
  Q_OBJECT
 private slots:
  void settingsLandOnTheLine() {
    PtyPair pty;
    QVERIFY(pty.open());
    TComm comm;
    comm.SetCommName(pty.slavePath);
    QCOMPARE(comm.BaudRate(), 9600u);
    QVERIFY(comm.Outx_XonXoffFlow() && comm.Inx_XonXoffFlow());
    comm.OpenPort();
    QVERIFY(comm.Opened());

    // The defaults: 9600 8N1, raw, XON/XOFF both ways with DC1/DC3.
    termios t = LineOf(pty);
    QCOMPARE(cfgetospeed(&t), speed_t(B9600));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QVERIFY(t.c_cflag & CREAD);
    QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), tcflag_t(IXON | IXOFF));
    QCOMPARE(int(t.c_cc[VSTART]), 0x11);
    QCOMPARE(int(t.c_cc[VSTOP]), 0x13);

    // Line properties changed while open reach the line at once.
    comm.SetBaudRate(19200);
    comm.SetByteSize(TByteSize::_7);
    comm.SetStopBits(TStopBits::_1_5);
    comm.SetOutx_CtsFlow(true);
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
    comm.SetXonChar(0x01);
    comm.SetParityCheck(true);
    t = LineOf(pty);
    QCOMPARE(cfgetospeed(&t), speed_t(B19200));
    QCOMPARE(cfgetispeed(&t), speed_t(B19200));
    QVERIFY(t.c_cflag & CSTOPB);  // one and a half stop bits is two here
    QVERIFY(t.c_cflag & CRTSCTS);
    QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(0));
    QVERIFY(t.c_iflag & INPCK);
    QCOMPARE(int(t.c_cc[VSTART]), 0x01);

    // A rate no table lists.
    comm.SetBaudRate(250000);
    uint32_t baud = 0;
    QVERIFY(commline::readBaud(pty.master, &baud));
    QCOMPARE(baud, 250000u);
    comm.SetBaudRate(0);  // nonsense: the line keeps its speed rather than hanging up
    QVERIFY(commline::readBaud(pty.master, &baud));
    QCOMPARE(baud, 250000u);

    // Parity waits for the next open, even when another setting is re-applied meanwhile.
    // A pseudo-terminal always keeps 8 bits without a parity bit (CSIZE, PARENB), but
    // keeps the kind of parity asked for (PARODD, CMSPAR).
    comm.SetParity(TParity::Mark);
    comm.SetBaudRate(4800);
    t = LineOf(pty);
    QCOMPARE(t.c_cflag & (PARODD | CMSPAR), tcflag_t(0));
    QCOMPARE(cfgetospeed(&t), speed_t(B4800));
    comm.ClosePort();
    comm.OpenPort();
    QCOMPARE(LineOf(pty).c_cflag & (PARODD | CMSPAR), tcflag_t(PARODD | CMSPAR));
    comm.ClosePort();
    comm.SetParity(TParity::Space);
    comm.SetStopBits(TStopBits::_1);
    comm.OpenPort();
    t = LineOf(pty);
    QCOMPARE(t.c_cflag & (PARODD | CMSPAR | CSTOPB), tcflag_t(CMSPAR));
    QCOMPARE(cfgetospeed(&t), speed_t(B4800));  // the rest still lands
    QVERIFY(t.c_cflag & CRTSCTS);
    comm.ClosePort();
    comm.SetParity(TParity::Odd);
    comm.OpenPort();
    QCOMPARE(LineOf(pty).c_cflag & (PARODD | CMSPAR), tcflag_t(PARODD));
  }

  void bytesPassBothWaysInOrder() {
    Line line;
    QVERIFY(line.open());
    auto &pty = line.pty;
    auto &comm = line.comm;
    auto &rec = line.rec;
    QTRY_COMPARE(rec.txEmpty, 1);  // one right after opening
    QVERIFY(comm.TransmitIdle());

    // Transmit: requests leave in the order they were queued, every byte value intact.
    QByteArray sent;
    for (int i = 0; i < 50; ++i) {
      QByteArray frame = "~0142" + QByteArray::number(i) + "\r";
      frame.append(char(i * 5));  // includes 0x00, 0x11 and 0x13
      sent += frame;
      QVERIFY(comm.SendData(frame.constData(), uint16_t(frame.size())));
    }
    QByteArray big(6000, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i) big[i] = char(i * 7);
    QVERIFY(comm.SendData(big.constData(), uint16_t(big.size())));
    sent += big;
    QCOMPARE(pty.read(int(sent.size()), 10000), sent);
    QTRY_VERIFY(comm.TransmitIdle());
    QTRY_VERIFY(rec.txEmpty >= 2);
    QVERIFY(rec.txEmpty <= 52);

    // Receive: every byte value, in order, each buffer zero-terminated.
    QByteArray incoming;
    for (int i = 0; i < 256; ++i) incoming.append(char(i));
    incoming += "~01420000FDAE\r";
    QVERIFY(pty.write(incoming));
    QTRY_COMPARE_WITH_TIMEOUT(rec.all(), incoming, 5000);
    QVERIFY(rec.terminated);
    QCOMPARE(rec.errors + rec.modem + rec.hangups, 0);  // a pseudo-terminal has no line events
  }

  void silenceEndsAChunk() {
    Line line;
    QVERIFY(line.open());
    auto &pty = line.pty;
    auto &comm = line.comm;
    auto &rec = line.rec;
    QCOMPARE(comm.ReadIntervalTimeout(), 100u);

    // Two bursts a short pause apart make one chunk, a long pause makes two. A sleep the
    // machine stretched far past its length proves nothing, so that attempt is repeated.
    auto bursts = [&](int pauseMs, int maxPauseMs, QList<QByteArray> *chunks) {
      for (int attempt = 0; attempt < 5; ++attempt) {
        rec.chunks.clear();
        QElapsedTimer timer;  // started first: the measured pause is never shorter than the real one
        timer.start();
        QVERIFY(pty.write("abc"));
        QThread::msleep(pauseMs);
        QVERIFY(pty.write("def"));
        const qint64 pause = timer.elapsed();
        QTest::qWait(400);
        QTRY_COMPARE(rec.all(), QByteArray("abcdef"));
        *chunks = rec.chunks;
        if (pause <= maxPauseMs) return;
      }
    };
    QList<QByteArray> chunks;
    bursts(30, 70, &chunks);
    QCOMPARE(chunks, (QList<QByteArray>{"abcdef"}));
    bursts(150, 100000, &chunks);
    QCOMPARE(chunks, (QList<QByteArray>{"abc", "def"}));

    // A total time-out ends a chunk even while bytes keep coming.
    comm.SetReadIntervalTimeout(1000);
    comm.SetReadTotalTimeoutConstant(300);
    rec.chunks.clear();
    QByteArray stream;
    for (int i = 0; i < 12; ++i) {
      QVERIFY(pty.write("x"));
      stream += "x";
      QThread::msleep(50);
    }
    QTRY_COMPARE_WITH_TIMEOUT(rec.all(), stream, 3000);
    QVERIFY(rec.chunks.size() >= 2);
  }

  void endCharacterEndsAChunkAtOnce() {
    Line line;
    QVERIFY(line.open());
    auto &[pty, comm, rec] = line;
    // Off by default: an end mark is data like any other byte.
    QCOMPARE(comm.EndChar(), TComm::kNoEndChar);
    QVERIFY(pty.write("~0140\rxy"));
    QTRY_COMPARE(rec.chunks, (QList<QByteArray>{"~0140\rxy"}));

    // With it set, a chunk ends at the end mark even though the quiet gap would take a
    // minute; two frames in one write are two chunks; noise before "~" stays in its chunk.
    comm.SetEndChar('\r');
    comm.SetReadIntervalTimeout(60000);
    rec.chunks.clear();
    QVERIFY(pty.write("~0140\r\x13~0141\r"));
    QTRY_COMPARE(rec.chunks, (QList<QByteArray>{"~0140\r", "\x13~0141\r"}));

    // Noise after the end mark is a chunk of its own once the line is quiet.
    comm.SetReadIntervalTimeout(100);
    rec.chunks.clear();
    QVERIFY(pty.write("~0142\rzz"));
    QTRY_COMPARE(rec.chunks, (QList<QByteArray>{"~0142\r", "zz"}));

    // A frame split by a pause longer than the quiet gap still comes as two chunks.
    rec.chunks.clear();
    QVERIFY(pty.write("~01"));
    QTRY_COMPARE(rec.chunks, (QList<QByteArray>{"~01"}));
    QVERIFY(pty.write("43\r"));
    QTRY_COMPARE(rec.chunks, (QList<QByteArray>{"~01", "43\r"}));
    QVERIFY(rec.terminated);
  }

  void writesWaitForTheTurnaroundGuard() {
    Line line;
    QVERIFY(line.open());
    auto &[pty, comm, rec] = line;
    // At 110 baud, 8N1, a character takes 91 ms and the guard 318 ms: long enough that the
    // wait is unmistakable, however the machine schedules the threads.
    comm.SetBaudRate(110);
    comm.SetEndChar('!');
    QTRY_COMPARE(rec.txEmpty, 1);
    QElapsedTimer sinceAnswer;  // started before the byte exists, so never later than it came
    sinceAnswer.start();
    QVERIFY(pty.write("!"));
    QTRY_COMPARE(rec.chunks.size(), 1);
    QVERIFY(comm.SendData("next", 4));
    QCOMPARE(pty.read(4, 5000), QByteArray("next"));
    QVERIFY2(sinceAnswer.elapsed() >= 318, qPrintable(QString::number(sinceAnswer.elapsed())));
  }

  void blocksAreWrittenInFullPastTheirTimeBudget() {
    Line line;
    QVERIFY(line.open());
    auto &[pty, comm, rec] = line;
    // Three blocks more than the terminal holds, and a write budget of a few milliseconds
    // that runs out while the far end is not reading: nothing may be lost.
    comm.SetWriteTotalTimeoutConstant(5);
    QByteArray sent;
    for (int b = 0; b < 3; ++b) {
      QByteArray block(60000, Qt::Uninitialized);
      for (int i = 0; i < block.size(); ++i) block[i] = char('a' + (i + b) % 26);
      QVERIFY(comm.SendData(block.constData(), uint16_t(block.size())));
      sent += block;
    }
    QTest::qWait(300);
    QCOMPARE(pty.read(int(sent.size()), 20000), sent);
    QCOMPARE(rec.hangups, 0);
  }

  void longStreamsComeInFullChunks() {
    PtyPair pty;
    QVERIFY(pty.open());
    TComm comm;
    Recorder rec;
    rec.attach(comm);
    comm.SetCommName(pty.slavePath);
    comm.SetReadIntervalTimeout(1000);  // only the size may end a chunk, however slow the machine
    comm.OpenPort();
    QByteArray data(5000, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i) data[i] = char('A' + i % 26);
    QVERIFY(pty.write(data));
    QTRY_COMPARE_WITH_TIMEOUT(rec.all(), data, 5000);
    QCOMPARE(rec.chunks.size(), 3);
    QCOMPARE(rec.chunks[0].size(), 2048);
    QCOMPARE(rec.chunks[1].size(), 2048);
    QVERIFY(rec.terminated);
  }

  void receiveOptionsShapeTheBytes() {
    PtyPair pty;
    QVERIFY(pty.open());
    TComm comm;
    Recorder rec;
    rec.attach(comm);
    comm.SetCommName(pty.slavePath);
    comm.SetParityCheck(true);  // the line marks bad bytes; good 0xFF bytes must survive
    comm.OpenPort();
    const QByteArray marked("\xff\x01\xff\xff\x00\xff", 6);
    QVERIFY(pty.write(marked));
    QTRY_COMPARE(rec.all(), marked);

    rec.chunks.clear();
    comm.SetIgnoreNullChar(true);
    QVERIFY(pty.write(QByteArray("a\0b\0\0c", 6)));
    QTRY_COMPARE(rec.all(), QByteArray("abc"));
  }

  // The owner's thread takes nothing while the line delivers `count` pieces; then it
  // catches up and is told of what did not fit, after the chunks that did.
  void aFullHandOverDropsAndCountsTheRest_data() {
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<int>("endChar");
    QTest::addColumn<int>("count");
    const int kMax = TComm::kMaxQueuedNotifications;
    QByteArray block(2048, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i) block[i] = char('a' + i % 26);
    QTest::newRow("frames cut by the end mark") << QByteArray("~0\r") << int('\r') << kMax + 1000;
    QTest::newRow("full chunks") << block << TComm::kNoEndChar << kMax + 40;
    QTest::newRow("as many as fit") << QByteArray("~01\r") << int('\r') << kMax;
    QTest::newRow("fewer") << QByteArray("~01\r") << int('\r') << 3;
  }
  void aFullHandOverDropsAndCountsTheRest() {
    QFETCH(QByteArray, piece);
    QFETCH(int, endChar);
    QFETCH(int, count);
    Line line;
    QVERIFY(line.open());
    auto &[pty, comm, rec] = line;
    comm.SetEndChar(endChar);
    comm.SetReadIntervalTimeout(60000);  // only the end mark or a full chunk ends a chunk
    QTRY_COMPARE(rec.txEmpty, 1);        // nothing of ours waits in the hand-over now
    QVERIFY(pty.write(piece.repeated(count)));
    QVERIFY(WaitReceivedUnattended(comm, uint64_t(piece.size()) * uint64_t(count)));

    const int kept = std::min(count, TComm::kMaxQueuedNotifications);
    const uint64_t lost = uint64_t(count - kept) * uint64_t(piece.size());
    QByteArray trace = QByteArray(kept, 'D') + (lost ? "O" : "");
    QTRY_COMPARE(rec.trace, trace);
    QCOMPARE(rec.chunks, QList<QByteArray>(kept, piece));
    QCOMPARE(rec.dropped, lost);

    // The hand-over has room again: the next piece comes through whole.
    QVERIFY(pty.write(piece));
    trace += 'D';
    QTRY_COMPARE(rec.trace, trace);
    QCOMPARE(rec.chunks.last(), piece);
    QCOMPARE(rec.errors + rec.hangups, 0);
  }

  // A line flooding without end while the owner's thread is slow: the memory stays that of
  // the bounded hand-over, and every byte read is either delivered or counted as dropped.
  void aFloodHoldsBoundedMemoryAndLosesNothingUncounted() {
    Line line;
    QVERIFY(line.open());
    auto &[pty, comm, rec] = line;
    comm.SetEndChar('\r');
    QTRY_COMPARE(rec.txEmpty, 1);
    uint64_t delivered = 0;
    comm.OnReceiveData = [&](QObject *, const char *, uint16_t length) {
      delivered += length;
      QThread::usleep(200);  // a window busy with each chunk
    };
    const long before = testsupport::rssKiB();
    const QByteArray burst = QByteArray("~0\r").repeated(1 << 18);  // 768 KiB
    constexpr int kBursts = 48;  // 36 MiB in all: 12 million frames, each a chunk
    auto bounded = [&] {
      const long grown = testsupport::rssKiB() - before;
      return grown < 200 * 1024 ? QString() : QStringLiteral("RSS grew by %1 KiB").arg(grown);
    };
    for (int i = 0; i < kBursts; ++i) {
      QVERIFY(pty.write(burst));
      if (i % 8 != 7) continue;
      QVERIFY(WaitReceivedUnattended(comm, uint64_t(burst.size()) * uint64_t(i + 1)));
      QVERIFY2(bounded().isEmpty(), qPrintable(bounded()));
      QCoreApplication::processEvents();  // the owner takes a little now and then
    }
    const uint64_t written = uint64_t(burst.size()) * kBursts;
    QVERIFY(WaitReceivedUnattended(comm, written));
    QVERIFY2(bounded().isEmpty(), qPrintable(bounded()));
    QTRY_COMPARE_WITH_TIMEOUT(delivered + rec.dropped, written, 20000);
    QVERIFY(rec.dropped > 0);
    QCOMPARE(rec.errors + rec.hangups, 0);
  }

  // Settings the line refuses, or quietly changes, are told to the owner; those it takes are
  // not. A pseudo-terminal keeps 8 bits without a parity bit and cannot toggle RTS.
  void refusedSettingsAreReported_data() {
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("reopen");
    QTest::addColumn<uint32_t>("flags");
    QTest::newRow("nothing changed") << Change([](TComm &) {}) << false << 0u;
    QTest::newRow("odd speed") << Change([](TComm &c) { c.SetBaudRate(250000); }) << false << 0u;
    QTest::newRow("two stop bits") << Change([](TComm &c) { c.SetStopBits(TStopBits::_2); }) << false << 0u;
    QTest::newRow("CTS flow") << Change([](TComm &c) { c.SetOutx_CtsFlow(true); }) << false << 0u;
    QTest::newRow("DTR low") << Change([](TComm &c) { c.SetDtrControl(TDtrControl::DtrDisable); }) << false << 0u;
    QTest::newRow("7 data bits") << Change([](TComm &c) { c.SetByteSize(TByteSize::_7); }) << false
                                 << uint32_t(CommErrorMode);
    QTest::newRow("odd parity") << Change([](TComm &c) { c.SetParity(TParity::Odd); }) << true
                                << uint32_t(CommErrorMode);
    QTest::newRow("RTS toggling") << Change([](TComm &c) { c.SetRtsControl(TRtsControl::RtsTransmissionAvailable); })
                                  << false << uint32_t(CommErrorMode);
  }
  void refusedSettingsAreReported() {
    QFETCH(Change, change);
    QFETCH(bool, reopen);
    QFETCH(uint32_t, flags);
    Line line;
    QVERIFY(line.open());
    auto &[pty, comm, rec] = line;
    change(comm);
    if (reopen) {
      comm.ClosePort();
      comm.OpenPort();
    }
    // one per opening; the first opening's, still waiting when the port closed, is dropped
    QTRY_COMPARE(rec.txEmpty, 1);
    QTest::qWait(20);
    QCOMPARE(rec.errorFlags, flags);
    QCOMPARE(rec.errors, flags ? 1 : 0);
    // Refused or not, the line still carries bytes.
    QVERIFY(pty.write("ok"));
    QTRY_COMPARE(rec.all(), QByteArray("ok"));
  }

  void errorFlagsInWords_data() {
    QTest::addColumn<uint32_t>("mask");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << 0u << QString();
    QTest::newRow("one") << uint32_t(CommErrorMode) << QStringLiteral("line setting refused");
    QTest::newRow("two") << uint32_t(CommErrorParity | CommErrorFrame) << QStringLiteral("parity error, framing error");
    QTest::newRow("unknown") << uint32_t(CommErrorRead | 0x0200) << QStringLiteral("read failed, error 0x0200");
  }
  void errorFlagsInWords() {
    QFETCH(uint32_t, mask);
    QFETCH(QString, text);
    QCOMPARE(CommErrorText(mask), text);
  }

  // A far end that reads nothing: SendData takes up to its bound and then refuses, and what
  // it took arrives whole and in order once the far end reads.
  void theTransmitQueueIsBounded() {
    Line line;
    QVERIFY(line.open());
    auto &[pty, comm, rec] = line;
    QByteArray accepted;
    const QByteArray block(60000, 'q');
    int refusals = 0;
    for (int i = 0; i < 40 && refusals == 0; ++i) {
      QByteArray b = block;
      b[0] = char('A' + i % 26);
      if (comm.SendData(b.constData(), uint16_t(b.size())))
        accepted += b;
      else
        ++refusals;
    }
    QCOMPARE(refusals, 1);
    QVERIFY(accepted.size() <= TComm::kMaxQueuedTransmitBytes + 256 * 1024);  // the queue and the terminal
    QCOMPARE(pty.read(int(accepted.size()), 20000), accepted);
    QTRY_VERIFY(comm.TransmitIdle());
    QVERIFY(comm.SendData("again", 5));
    QCOMPARE(pty.read(5, 5000), QByteArray("again"));
  }

  void openFailuresAreReportedAndLeaveNothingOpen() {
    PtyPair pty;
    QVERIFY(pty.open());
    const int fds = FdCount();
    TComm comm;
    Recorder rec;
    rec.attach(comm);

    // the second line says why: the system's reason
    comm.SetCommName(QStringLiteral("/dev/no-such-serial-port"));
    QCOMPARE(OpenError(comm), QStringLiteral("Error opening serial port\n设备不存在"));
    QVERIFY(!comm.Opened());
    comm.SetCommName(QString());
    QCOMPARE(OpenError(comm), QStringLiteral("Error opening serial port\n设备不存在"));
    comm.SetCommName(pty.slavePath + QChar(0) + QStringLiteral("x"));
    QCOMPARE(OpenError(comm), QStringLiteral("Error opening serial port"));

    comm.SetCommName(QStringLiteral("/dev/null"));
    QCOMPARE(OpenError(comm), QStringLiteral("File handle is not a comm handle "));
    QTemporaryFile file;
    QVERIFY(file.open());
    comm.SetCommName(file.fileName());
    QCOMPARE(OpenError(comm), QStringLiteral("File handle is not a comm handle "));
    QVERIFY(!comm.Opened());
    QCOMPARE(FdCount(), fds + 1);  // only the temporary file's own

    comm.SetCommName(pty.slavePath);
    comm.OpenPort();
    QCOMPARE(OpenError(comm), QStringLiteral("This serial port already opened"));
    QVERIFY(comm.Opened());

    // The device belongs to its first opener.
    TComm other;
    other.SetCommName(pty.slavePath);
    QCOMPARE(OpenError(other), QStringLiteral("Error opening serial port\n设备忙（已被其他程序占用）"));
    QVERIFY(!other.Opened());

    // ... in other processes too.
    QVERIFY(lockedForOthers(pty.slavePath));

    // The first opener still works both ways.
    QVERIFY(comm.SendData("ping", 4));
    QCOMPARE(pty.read(4, 5000), QByteArray("ping"));
    QVERIFY(pty.write("pong"));
    QTRY_COMPARE(rec.all(), QByteArray("pong"));

    // Once closed, the device is free for another.
    comm.ClosePort();
    QVERIFY(!lockedForOthers(pty.slavePath));
    other.OpenPort();
    QVERIFY(other.Opened());
  }

  void sendingAndClosingWhenItMakesNoSense() {
    PtyPair pty;
    QVERIFY(pty.open());
    auto comm = std::make_unique<TComm>();
    QVERIFY(!comm->SendData("x", 1));
    comm->ClosePort();
    comm->SetCommName(pty.slavePath);
    comm->OpenPort();
    QVERIFY(!comm->SendData("x", 0));
    QVERIFY(!comm->SendData(nullptr, 5));
    QVERIFY(comm->TransmitIdle());
    comm->ClosePort();
    comm->ClosePort();
    QVERIFY(!comm->Opened());
    QVERIFY(!comm->SendData("x", 1));
    QCOMPARE(pty.read(1, 200), QByteArray());

    // Destroyed while open, with notifications still queued: the port is closed and the
    // queued notifications go with the object.
    const int threads = ThreadCount();
    comm->SetEndChar('e');  // "late" is posted the moment its last byte is read
    comm->OpenPort();
    int received = 0;
    comm->OnReceiveData = [&](QObject *, const char *, uint16_t) { ++received; };
    QVERIFY(pty.write("late"));
    // The receive thread has taken the chunk off the line (and so posted it); no event is
    // processed meanwhile, so it is not yet dispatched.
    QElapsedTimer taken;
    taken.start();
    while (WaitingOn(pty.slavePath) != 0 && taken.elapsed() < 5000) QThread::usleep(200);
    QCOMPARE(WaitingOn(pty.slavePath), 0);
    QThread::msleep(20);  // from the read to the post
    comm.reset();
    QCoreApplication::sendPostedEvents();  // whatever is still queued would arrive now
    QCOMPARE(received, 0);
    QCOMPARE(ThreadCount(), threads);
    TComm again;
    again.SetCommName(pty.slavePath);
    again.OpenPort();  // the device was released
  }

  void farEndClosingRaisesAHangupAndNothingSpins() {
    PtyPair pty;
    QVERIFY(pty.open());
    const int threads = ThreadCount();
    TComm comm;
    Recorder rec;
    rec.attach(comm);
    comm.SetCommName(pty.slavePath);
    comm.OpenPort();
    QCOMPARE(ThreadCount(), threads + 2);
    QVERIFY(pty.write("partial fra"));
    QThread::msleep(20);
    pty.close();
    QTRY_VERIFY_WITH_TIMEOUT(rec.hangups >= 1, 5000);
    QCOMPARE(rec.all(), QByteArray("partial fra"));  // nothing received before is lost
    QTRY_COMPARE(ThreadCount(), threads + 1);          // the receive thread ended

    // Writing to the dead line ends the transmit thread too; nothing is left busy.
    QVERIFY(comm.SendData("x", 1));
    QTRY_COMPARE(ThreadCount(), threads);
    QTRY_VERIFY(comm.TransmitIdle());
    QVERIFY(!comm.SendData("x", 1));
    QVERIFY(comm.Opened());  // only the owner closes
    QCOMPARE(OpenError(comm), QStringLiteral("This serial port already opened"));

    const double cpu = CpuSeconds();
    QTest::qWait(500);
    QVERIFY2(CpuSeconds() - cpu < 0.2, "a thread keeps the processor busy");
    comm.ClosePort();
    QVERIFY(!comm.Opened());
  }

  void openCloseCyclesLeaveNothingBehind() {
    PtyPair pty;
    QVERIFY(pty.open());
    TComm comm;
    Recorder rec;
    rec.attach(comm);
    comm.SetCommName(pty.slavePath);
    comm.OpenPort();  // first open may set up lasting state
    comm.ClosePort();
    QTest::qWait(20);
    const int fds = FdCount();
    const int threads = ThreadCount();
    for (int i = 0; i < 200; ++i) {
      comm.OpenPort();
      if (i % 20 == 0) QVERIFY(comm.SendData("abc", 3));
      comm.ClosePort();
    }
    QCOMPARE(FdCount(), fds);
    QCOMPARE(ThreadCount(), threads);
    QVERIFY(comm.TransmitIdle());
    QTest::qWait(20);
    QCOMPARE(rec.hangups, 0);
  }
};

QTEST_GUILESS_MAIN(TestComm)
#include "test_comm.moc"
