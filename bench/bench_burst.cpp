// A hostile LAN peer: the window's LAN link receives one long burst of characters with no
// end mark (default 50 MB). Measures how long the window thread is kept busy while the burst
// is refused (its CPU time, and the longest time the event loop did not come round), the wall
// time until the whole burst is consumed, and how far the resident memory peak rises.
//   bench_burst [megabytes]     default 50
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "window/HandlerSupport.h"
#include "tests/support/TestForm.h"

#include "bench/BenchSupport.h"

namespace {

double threadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Resets the peak so that it is measured from here on (Linux 4.0 and later).
void resetPeak() {
  QFile f(QStringLiteral("/proc/self/clear_refs"));
  if (f.open(QIODevice::WriteOnly)) f.write("5");
}

}  // namespace

int main(int argc, char **argv) {
  bench::choosePlatform();
  QApplication app(argc, argv);
  const long long megabytes = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
  const long long total = megabytes * 1000 * 1000;
  SetMessageBoxHook([](const QString &t, const QString &c) {
    std::fprintf(stderr, "message: %s (%s)\n", qPrintable(t), qPrintable(c));
  });

  // The peer: a plain blocking socket on a thread of its own, writing the burst in 64 KiB
  // blocks (so the peer itself holds no more than one block).
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
    return std::fprintf(stderr, "no listening socket\n"), 1;
  std::atomic<bool> go{false}, sent{false};
  std::thread peer([&] {
    const int c = accept(listener, nullptr, nullptr);
    if (c < 0) return;
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const QByteArray block(64 * 1024, '0');
    for (long long done = 0; done < total;) {
      const ssize_t n = write(c, block.constData(), size_t(std::min<long long>(block.size(), total - done)));
      if (n <= 0) break;
      done += n;
    }
    // sent: nothing is left in this side's queue, all of it is with the window's system
    for (int unsent = 1; ioctl(c, TIOCOUTQ, &unsent) == 0 && unsent > 0;)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    sent = true;
    // keep the connection until the window has read everything
    char b;
    while (read(c, &b, 1) > 0) {
    }
    close(c);
  });

  TestForm form;
  bench::openLan(form, ntohs(addr.sin_port));
  if (!bench::waitFor([&] { return form.lanConnected; }, 5000)) return std::fprintf(stderr, "no connection\n"), 1;
  QCoreApplication::processEvents();

  // consumed: the peer wrote it all and neither the system nor the window's socket holds any of it
  auto consumed = [&] {
    int queued = 0;
    if (!sent || ioctl(int(form.ClientSocket1->socketDescriptor()), FIONREAD, &queued) != 0) return false;
    return queued == 0 && form.ClientSocket1->bytesAvailable() == 0;
  };

  // The window's own event loop runs, sleeping when it has nothing to do. A 1 ms timer is its
  // heartbeat: the longest gap between two ticks is the longest time the window could not
  // react. The same tick looks for the end of the burst.
  const long rssBefore = bench::rssKiB();
  resetPeak();
  const double cpuBefore = threadCpuMs();
  QElapsedTimer wall, beat;
  qint64 longestGapNs = 0;
  double wallMs = 0;
  bool done = false;
  QEventLoop loop;
  QTimer heartbeat;
  heartbeat.setTimerType(Qt::PreciseTimer);
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    longestGapNs = std::max(longestGapNs, beat.nsecsElapsed());
    beat.restart();
    if (!done && consumed()) {
      done = true;
      wallMs = double(wall.nsecsElapsed()) / 1e6;
      // what is still on its way reaches the window within a few more turns
      QTimer::singleShot(300, &loop, &QEventLoop::quit);
    }
    if (wall.elapsed() > 600000) loop.quit();
  });
  wall.start();
  beat.start();
  heartbeat.start(1);
  go = true;
  loop.exec();
  const double cpuMs = threadCpuMs() - cpuBefore;
  heartbeat.stop();
  const long peak = bench::procStatus("VmHWM");
  if (!done) std::fprintf(stderr, "the burst was not consumed\n");

  form.Button29->click();
  shutdown(listener, SHUT_RDWR);
  close(listener);
  peer.join();

  std::printf("burst of %lld MB without an end mark: window thread CPU %.0f ms, longest event-loop block %.1f ms, "
              "wall %.0f ms until consumed, RSS %ld KiB before, peak growth %ld KiB\n",
              megabytes, cpuMs, double(longestGapNs) / 1e6, wallMs, rssBefore, peak - rssBefore);
  return done ? 0 : 1;
}
