// Measures the one-key refreshes of both parameter pages against the controller simulator over
// loopback TCP, with the window shown (run it under xvfb-run for a real display server): the
// wall time of a whole chain (31 requests on page 1, 30 on page 2); the same 31 page-1 frames
// sent by a bare blocking client, each after the answer to the one before, in runs
// interleaved with the window's, and the ratio of the two medians; and the host's turnaround
// per exchange (from the simulator writing an answer to the next request arriving), as the
// simulator counts it, for the window and for the bare client.
//   bench_refresh [runs]     default 50 runs after 3 warm-up runs
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <csignal>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/TestForm.h"
#include "window/HandlerSupport.h"
#include "bench/BenchSupport.h"

using bench::percentile;
using bench::waitFor;

namespace {

// The request frames of one chain, as the log shows them (every third line of a chain:
// request, answer, checksum, next request ...).
std::vector<QByteArray> requestFrames(TestForm &form) {
  std::vector<QByteArray> frames;
  const QStringList lines = bench::logLines(form);
  for (int i = 0; i < lines.size(); i += 3) frames.push_back(QByteArray::fromHex(lines[i].toLatin1()));
  return frames;
}

// One chain by a bare blocking client: each frame, then its answer up to the carriage return.
// Returns the milliseconds taken, or a negative value when the link failed.
double bareChain(int fd, const std::vector<QByteArray> &frames) {
  QElapsedTimer t;
  t.start();
  char buf[512];
  for (const QByteArray &f : frames) {
    if (::write(fd, f.constData(), static_cast<size_t>(f.size())) != f.size()) return -1;
    for (bool done = false; !done;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) return -1;
      done = std::find(buf, buf + n, '\r') != buf + n;
    }
  }
  return t.nsecsElapsed() / 1e6;
}

// The simulator's turnaround line ("samples=N median_us=X p99_us=Y").
QByteArray turnaroundOf(simlaunch::Powersim &sim) {
  for (const QString &line : sim.stats())
    if (line.startsWith(QLatin1String("stats turnaround"))) return line.mid(17).toLatin1();
  return "(no figure)";
}

}  // namespace

int main(int argc, char **argv) {
  bench::choosePlatform();
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
  SetMessageBoxHook([](const QString &t, const QString &c) {
    std::fprintf(stderr, "message: %s (%s)\n", qPrintable(t), qPrintable(c));
  });

  // One simulator for the window and one for the bare client.
  simlaunch::Powersim sim({QStringLiteral("--stats")}), bareSim({QStringLiteral("--stats")});
  const quint16 port = sim.port(), barePort = bareSim.port();
  if (!sim.ok() || !bareSim.ok()) return std::fprintf(stderr, "powersim did not start\n"), 1;

  TestForm form;
  form.show();
  bench::openLan(form, port);
  if (!waitFor([&] { return form.lanConnected; }, 5000)) return std::fprintf(stderr, "no connection\n"), 1;
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(barePort);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
    return std::fprintf(stderr, "bare client: no connection\n"), 1;
  std::vector<QByteArray> frames;
  std::vector<double> bareMs;

  // The wall times of the runs of one page's refresh; empty when a run failed.
  auto measure = [&](void (TestForm::*start)(), bool TestForm::*running) {
    std::vector<double> ms;
    for (int i = 0; i < runs + 3; ++i) {
      form.Button4Click();  // keep the log from growing across runs
      QElapsedTimer t;
      t.start();
      (form.*start)();
      const bool ended = waitFor([&] { return !(form.*running); }, 10000);
      if (!ended || form.panelText(1) == QStringLiteral("通讯超时")) {
        std::fprintf(stderr, ended ? "time-out\n" : "chain stalled\n");
        return std::vector<double>();
      }
      if (i >= 3) ms.push_back(t.nsecsElapsed() / 1e6);
      if (start != &TestForm::Button24Click) continue;
      // page 1: the bare client sends the same frames right after each run of the window
      if (frames.empty()) frames = requestFrames(form);
      const double bare = bareChain(fd, frames);
      if (bare < 0) return std::fprintf(stderr, "bare client: link failed\n"), std::vector<double>();
      if (i >= 3) bareMs.push_back(bare);
    }
    return ms;
  };
  const std::vector<double> page1 = measure(&TestForm::Button24Click, &TestForm::page1Refresh);
  const std::vector<double> page2 = measure(&TestForm::Button88Click, &TestForm::page2Refresh);
  if (page1.empty() || page2.empty()) return 1;

  ::close(fd);
  form.Button29->click();  // close the link before the simulator goes
  const QByteArray bareTurnaround = turnaroundOf(bareSim);
  const QByteArray windowTurnaround = turnaroundOf(sim);

  std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
  for (auto [name, ms, requests] : {std::tuple{"page 1", &page1, 31}, std::tuple{"page 2", &page2, 30}})
    std::printf("%s refresh chain (%d requests), %d runs: median %.2f ms, p99 %.2f ms, min %.2f ms\n", name,
                requests, runs, percentile(*ms, 0.5), percentile(*ms, 0.99), percentile(*ms, 0.0));
  std::printf("bare blocking client, the same %zu page-1 frames: median %.3f ms, p99 %.3f ms\n", frames.size(),
              percentile(bareMs, 0.5), percentile(bareMs, 0.99));
  std::printf("page 1, ratio of the medians, shown window / bare client: %.1f\n",
              percentile(page1, 0.5) / percentile(bareMs, 0.5));
  std::printf("per request, page 2 / page 1 medians: %.2f\n",
              (percentile(page2, 0.5) / 30) / (percentile(page1, 0.5) / 31));
  std::printf("host turnaround per exchange (simulator's count): %s\n", windowTurnaround.constData());
  std::printf("the same for the bare blocking client: %s\n", bareTurnaround.constData());
  return 0;
}
