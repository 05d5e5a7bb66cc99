// The simulator and a client that sends requests but never reads the answers: how much the
// client gets to write and how much memory the simulator then holds.
//   bench_sim_backlog [seconds]     default 20: the flood ends after this long, after 400 MB
//                                   of requests, or when the simulator takes nothing for 2 s
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench/BenchSupport.h"
#include "protocol/Frame.h"

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
  simlaunch::Powersim sim;
  const quint16 port = sim.port();
  if (!sim.ok()) return std::fprintf(stderr, "powersim did not start\n"), 1;
  const qint64 pid = sim.process().processId();
  const long rssStart = bench::procStatus("VmRSS", pid);

  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return std::fprintf(stderr, "no connection\n"), 1;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

  const std::string request = proto::encodeFrame(1, 0x42, 0x16, {});  // answered with 18 data bytes
  std::string block;
  while (block.size() + request.size() <= 65536) block += request;
  qint64 written = 0;
  std::size_t offset = 0;
  QElapsedTimer t;
  t.start();
  const char *end = "time up, still taking requests";
  while (t.elapsed() < seconds * 1000) {
    if (written >= (400LL << 20)) {
      end = "400 MB taken";
      break;
    }
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 2000) <= 0) {
      end = "then it stopped taking requests";
      break;
    }
    const ssize_t n = ::write(fd, block.data() + offset, block.size() - offset);
    if (n > 0) written += n, offset = (offset + static_cast<std::size_t>(n)) % block.size();
  }
  const double s = t.nsecsElapsed() / 1e9;
  const long rssEnd = bench::procStatus("VmRSS", pid), peak = bench::procStatus("VmHWM", pid);
  ::close(fd);
  sim.process().terminate();
  sim.process().waitForFinished(3000);
  std::printf("never-reading client: %.1f MB of requests taken in %.1f s (%s); simulator RSS %ld KiB at start, "
              "%ld KiB at the end, %ld KiB at most\n",
              written / 1048576.0, s, end,
              rssStart, rssEnd, peak);
  return 0;
}
