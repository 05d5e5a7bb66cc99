// Floods, and what they cost in memory and responsiveness.
//  1. A line that writes "~0" + CR at full speed into the window's serial link (a pseudo-
//     terminal): peak RSS, RSS a second after the flood and after "清除协议信息", the worst
//     delay of a 10 ms timer on the window's thread, and the bytes delivered and dropped.
//  2. A line at 1 Mbaud (100 000 bytes a second, 2048-byte writes) into the same window:
//     every byte must arrive; the dropped count says whether it did.
//  3. powersim flooded with requests by a client that never reads, with --baud 9600 and
//     with --fault-late 1: its peak RSS against its RSS before.
// Figures are medians of the runs; memory in MiB above the RSS before the flood.
//   bench_flood [runs] [flood seconds]     default 3 runs of 5 s
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "bench/BenchSupport.h"
#include "link/Comm.h"
#include "protocol/Frame.h"
#include "window/HandlerSupport.h"
#include "tests/support/TestForm.h"

namespace {

double mib(long kib) { return double(kib) / 1024.0; }

// The far end of a pseudo-terminal; the window opens the other end by its path.
struct Line {
  int master = -1;
  QString slave;
  bool open() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) return false;
    slave = QString::fromLocal8Bit(name);
    termios t{};
    const int fd = ::open(name, O_RDWR | O_NOCTTY);
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
    if (fd >= 0) ::close(fd);
    return true;
  }
  ~Line() {
    if (master >= 0) ::close(master);
  }
};

// Writes `block` to fd again and again until `seconds` pass; with a rate (bytes a second)
// it keeps to it, otherwise as fast as the line takes it. Returns the bytes written.
uint64_t pour(int fd, const QByteArray &block, double seconds, double rate) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  uint64_t written = 0;
  for (;;) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (elapsed >= seconds) break;
    if (rate > 0 && double(written) > elapsed * rate) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    qsizetype done = 0;
    while (done < block.size()) {
      const ssize_t n = ::write(fd, block.constData() + done, size_t(block.size() - done));
      if (n > 0) {
        done += n;
      } else {
        pollfd p{fd, POLLOUT, 0};
        (void)poll(&p, 1, 50);
      }
    }
    written += uint64_t(block.size());
  }
  return written;
}

struct SerialRun {
  double peakMiB = 0, afterMiB = 0, clearedMiB = 0, worstTimerMs = 0;
  uint64_t written = 0, delivered = 0, dropped = 0;
};

// One flood into a fresh window. rate 0: full speed.
SerialRun serialFlood(const QByteArray &block, double seconds, double rate) {
  SerialRun r;
  Line line;
  if (!line.open()) return r;
  TestForm form;
  form.ComboBox1->setEditText(line.slave);
  form.Edit12->setText(QStringLiteral("9600"));
  form.Button29->click();
  if (!form.linkOpen) {
    std::fprintf(stderr, "the serial link did not open\n");
    return r;
  }
  const TReceiveDataEvent windowHandler = form.Comm1->OnReceiveData;
  form.Comm1->OnReceiveData = [&](QObject *sender, const char *buffer, uint16_t length) {
    r.delivered += length;
    windowHandler(sender, buffer, length);
  };
  form.Comm1->OnReceiveOverrun = [&](QObject *, uint32_t bytes) { r.dropped += bytes; };
  QCoreApplication::processEvents();
  const long before = bench::rssKiB();
  long peak = before;

  // A 10 ms timer on the window's thread: how late it fires is how long the window was deaf.
  QElapsedTimer sinceTick;
  sinceTick.start();
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    r.worstTimerMs = std::max(r.worstTimerMs, double(sinceTick.nsecsElapsed()) / 1e6 - 10.0);
    sinceTick.restart();
    peak = std::max(peak, bench::rssKiB());
  });
  tick.start(10);

  std::atomic<bool> done{false};
  std::thread writer([&] {
    r.written = pour(line.master, block, seconds, rate);
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  writer.join();
  // The window catches up with what is still queued.
  const auto settled = [&] { return form.Comm1->ReceivedBytes() >= r.written && r.delivered + r.dropped >= r.written; };
  bench::waitFor(settled, 30000);
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  tick.stop();
  peak = std::max(peak, bench::rssKiB());
  r.peakMiB = mib(peak - before);
  r.afterMiB = mib(bench::rssKiB() - before);
  form.Button4Click();
  QCoreApplication::processEvents();
  r.clearedMiB = mib(bench::rssKiB() - before);
  form.Button29->click();
  return r;
}

// powersim with `options`, flooded over TCP by a client that never reads, for at most
// `seconds` or until it takes no more. Its peak RSS above its RSS before, in MiB.
double simFlood(const QStringList &options, double seconds, qint64 *takenBytes) {
  simlaunch::Powersim sim(options);
  const quint16 port = sim.port();
  if (port == 0) return -1;
  const long before = bench::procStatus("VmRSS", sim.process().processId());
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return -1;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  const QByteArray request = QByteArray::fromStdString(proto::encodeFrame(1, 0x42, 0x16, {}));
  const QByteArray block = request.repeated(65536 / request.size());
  QElapsedTimer t;
  t.start();
  qint64 written = 0;
  int offset = 0;
  while (t.elapsed() < seconds * 1000) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 1000) <= 0) break;  // it takes no more requests
    const ssize_t n = ::write(fd, block.constData() + offset, size_t(block.size() - offset));
    if (n > 0) written += n, offset = int((offset + n) % block.size());
  }
  const long peak = bench::procStatus("VmHWM", sim.process().processId());
  *takenBytes = written;
  ::close(fd);
  sim.process().terminate();
  sim.process().waitForFinished(3000);
  return mib(peak - before);
}

double median(std::vector<double> v) { return bench::percentile(std::move(v), 0.5); }

}  // namespace

int main(int argc, char **argv) {
  bench::choosePlatform();
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
  const double seconds = argc > 2 ? std::max(1.0, atof(argv[2])) : 5.0;
  int boxes = 0;
  SetMessageBoxHook([&](const QString &, const QString &) { ++boxes; });

  const QByteArray frames = QByteArray("~0\r").repeated(1024);
  QByteArray blocks(2048, Qt::Uninitialized);
  for (int i = 0; i < blocks.size(); ++i) blocks[i] = char('0' + i % 64);
  struct Case {
    const char *name;
    const QByteArray *block;
    double rate;
  } cases[] = {{"full-speed \"~0\" CR flood", &frames, 0}, {"1 Mbaud stream, 2048-byte writes", &blocks, 100000}};
  for (const Case &c : cases) {
    std::vector<double> peak, after, cleared, worst, mbps, dropPct;
    for (int i = 0; i < runs; ++i) {
      const SerialRun r = serialFlood(*c.block, seconds, c.rate);
      peak.push_back(r.peakMiB);
      after.push_back(r.afterMiB);
      cleared.push_back(r.clearedMiB);
      worst.push_back(r.worstTimerMs);
      mbps.push_back(double(r.written) / seconds / 1e6);
      dropPct.push_back(r.written ? 100.0 * double(r.dropped) / double(r.written) : 0);
      if (r.delivered + r.dropped != r.written)
        std::printf("  run %d: %llu written, %llu delivered + %llu dropped\n", i, (unsigned long long)r.written,
                    (unsigned long long)r.delivered, (unsigned long long)r.dropped);
    }
    std::printf("serial %s, %.0f s, %d runs (medians): %.1f MB/s written, %.1f %% dropped; RSS above before: "
                "peak %+.1f MiB, 1 s after %+.1f MiB, after 清除协议信息 %+.1f MiB; worst 10 ms timer delay %.0f ms\n",
                c.name, seconds, runs, median(mbps), median(dropPct), median(peak), median(after), median(cleared),
                median(worst));
  }

  for (const QStringList &options : {QStringList{QStringLiteral("--baud"), QStringLiteral("9600")},
                                     QStringList{QStringLiteral("--fault-late"), QStringLiteral("1")}}) {
    std::vector<double> peak, taken;
    for (int i = 0; i < runs; ++i) {
      qint64 bytes = 0;
      peak.push_back(simFlood(options, seconds * 2, &bytes));
      taken.push_back(double(bytes) / 1e6);
    }
    std::printf("powersim %s flooded over TCP, never read, %d runs (medians): %.1f MB of requests written before it "
                "stopped taking them; peak RSS %+.1f MiB above idle\n",
                qPrintable(options.join(QLatin1Char(' '))), runs, median(taken), median(peak));
  }
  if (boxes) std::printf("(%d message boxes during the floods)\n", boxes);
  return 0;
}
