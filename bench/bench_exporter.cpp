// The exporter at fleet scale: N simulated controllers on loopback (3 modules each) and one
// that never answers, polled at an interval. It measures, in this
// order:
//   - steady state: a gzip scrape every interval, as a Prometheus would; the exporter's CPU
//     share of one core, its resident memory between scrapes (sampled just before each
//     scrape) and its descriptors;
//   - scrape time: plain and gzip /metrics, one scrape at a time, against GET / in the same
//     run;
//   - four concurrent scrapes: the peak resident memory (VmHWM, reset before);
//   - 64 clients that ask for the page and never read it: the peak resident memory;
//   - whether the polls kept time.
// Budgets at 1 000 controllers, --interval 5: CPU <= 5 % of a core, RSS between scrapes
// <= 64 MB, a scrape's median <= 50 ms, 64 clients that never read <= 128 MB.
//
//   bench_exporter [--controllers N] [--interval S] [--seconds S] [--exporter PATH]
//                                     (defaults 1000, 5, 30, the exporter built beside it;
//                                     another build, such as an older one, for a baseline)
//   bench_exporter --farm N           (internal) serve N simulated controllers and one mute one
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "BenchSupport.h"
#include "sim/Controller.h"
#include "sim/Options.h"
#include "sim/Server.h"

#ifndef EXPORTER_PATH
#define EXPORTER_PATH "powerhost-exporter"
#endif

namespace {

// Every simulated controller holds two descriptors (its server and its client).
void raiseOpenFiles() {
  rlimit l{};
  if (getrlimit(RLIMIT_NOFILE, &l) == 0 && l.rlim_cur < l.rlim_max) {
    l.rlim_cur = l.rlim_max;
    setrlimit(RLIMIT_NOFILE, &l);
  }
}

int farm(int n, int argc, char **argv) {
  raiseOpenFiles();
  QCoreApplication app(argc, argv);
  std::vector<std::unique_ptr<sim::Options>> options;
  std::vector<std::unique_ptr<sim::Controller>> controllers;
  std::vector<std::unique_ptr<sim::Server>> servers;
  for (int i = 0; i < n; ++i) {
    auto o = std::make_unique<sim::Options>();
    o->listenPort = 0;
    o->controller = sim::ControllerConfig(1, {1, 2, 3}, 0, uint64_t(i + 1));
    auto c = std::make_unique<sim::Controller>(o->controller);
    auto s = std::make_unique<sim::Server>(*o, *c);
    std::string error;
    if (!s->start(error)) {
      std::fprintf(stderr, "farm: %s\n", error.c_str());
      return 1;
    }
    options.push_back(std::move(o));
    controllers.push_back(std::move(c));
    servers.push_back(std::move(s));
  }
  // a controller that takes the connection and never answers
  QTcpServer mute;
  mute.listen(QHostAddress::LocalHost, 0);
  QObject::connect(&mute, &QTcpServer::newConnection, [&] {
    while (QTcpSocket *s = mute.nextPendingConnection())
      QObject::connect(s, &QTcpSocket::readyRead, s, [s] { s->readAll(); });
  });
  std::printf("mute %u\n", unsigned(mute.serverPort()));
  std::fflush(stdout);
  return app.exec();
}

double cpuSeconds(qint64 pid) {
  QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  const QByteArray s = f.readAll();
  const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
  return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}
double mb(long kib) { return kib / 1024.0; }
int descriptors(qint64 pid) {
  return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}
void resetPeak(qint64 pid) {
  QFile refs(QStringLiteral("/proc/%1/clear_refs").arg(pid));
  if (refs.open(QIODevice::WriteOnly)) refs.write("5");
}

// Sends GET path on s (gzip asked for or not).
void ask(QTcpSocket &s, quint16 port, const char *path, bool gzip) {
  s.connectToHost(QStringLiteral("127.0.0.1"), port);
  s.waitForConnected(5000);
  s.write(QByteArray("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
          (gzip ? "Accept-Encoding: gzip\r\n" : "") + "\r\n");
}
// Reads what s gets until the exporter closes it; the body.
QByteArray collect(QTcpSocket &s) {
  QByteArray a;
  while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(10000)) a += s.readAll();
  a += s.readAll();
  return a.mid(a.indexOf("\r\n\r\n") + 4);
}
// One GET; the body, and its answer time in ms.
QByteArray get(quint16 port, const char *path, bool gzip, double *ms) {
  QElapsedTimer t;
  t.start();
  QTcpSocket s;
  ask(s, port, path, gzip);
  const QByteArray body = collect(s);
  *ms = double(t.nsecsElapsed()) / 1e6;
  return body;
}

double median(std::vector<double> v) { return bench::percentile(std::move(v), 0.5); }

// Per controller name: the value of the series name{controller="NAME"...}.
std::map<QByteArray, double> values(const QByteArray &page, const QByteArray &series) {
  std::map<QByteArray, double> out;
  for (const QByteArray &line : page.split('\n')) {
    if (!line.startsWith(series + "{controller=\"")) continue;
    const int start = int(series.size()) + 13;
    out[line.mid(start, line.indexOf('"', start) - start)] = line.mid(line.lastIndexOf(' ') + 1).toDouble();
  }
  return out;
}

const char *verdict(bool ok) { return ok ? "ok" : "OVER BUDGET"; }

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && QByteArray(argv[1]) == "--farm") return farm(QByteArray(argv[2]).toInt(), argc, argv);
  QCoreApplication app(argc, argv);
  int controllers = 1000, measureSeconds = 30;
  double interval = 5;
  QString program = QStringLiteral(EXPORTER_PATH);
  for (int i = 1; i + 1 < argc; i += 2) {
    const QByteArray a = argv[i], v = argv[i + 1];
    if (a == "--controllers") controllers = v.toInt();
    else if (a == "--interval") interval = v.toDouble();
    else if (a == "--seconds") measureSeconds = v.toInt();
    else if (a == "--exporter") program = QString::fromLocal8Bit(v);
  }
  raiseOpenFiles();

  QProcess farmProcess;
  farmProcess.start(QCoreApplication::applicationFilePath(), {"--farm", QString::number(controllers)});
  QByteArray out;
  QElapsedTimer t;
  t.start();
  while (!out.contains("mute ") && t.elapsed() < 60000) {
    farmProcess.waitForReadyRead(100);
    out += farmProcess.readAllStandardOutput();
  }
  QStringList args{"--listen", "127.0.0.1:0", "--interval", QString::number(interval)};
  int n = 0;
  for (const QByteArray &line : out.split('\n')) {
    if (line.startsWith("listening "))
      args << "--controller" << QStringLiteral("c%1=tcp://%2").arg(n++).arg(QString::fromLatin1(line.mid(10)));
    if (line.startsWith("mute "))
      args << "--controller" << QStringLiteral("mute=tcp://127.0.0.1:%1").arg(QString::fromLatin1(line.mid(5).trimmed()));
  }
  if (n != controllers) {
    std::fprintf(stderr, "the farm serves %d controllers, not %d\n", n, controllers);
    return 1;
  }
  QProcess exporter;
  exporter.setProcessChannelMode(QProcess::SeparateChannels);
  exporter.start(program, args);
  quint16 port = 0;
  out.clear();
  while (!port && t.elapsed() < 90000) {
    exporter.waitForReadyRead(100);
    out += exporter.readAllStandardOutput();
    const int at = out.indexOf("listening ");
    if (at >= 0 && out.indexOf('\n', at) > 0) port = quint16(out.mid(out.lastIndexOf(':') + 1).trimmed().toUInt());
  }
  const qint64 pid = exporter.processId();
  double ms = 0;
  // warm-up: every answering controller polled once
  QElapsedTimer warm;
  warm.start();
  QByteArray page;
  for (;;) {
    page = get(port, "/metrics", false, &ms);
    int up = 0;
    for (const auto &[name, v] : values(page, "powerhost_up")) up += name != "mute" && v == 1;
    if (up == controllers || warm.elapsed() > 120000) break;
    QThread::msleep(500);
  }
  const double warmS = double(warm.elapsed()) / 1000;
  const auto countsBefore = values(page, "powerhost_poll_duration_seconds_count");

  // steady state: polling alone, then with a gzip scrape every interval
  const auto cpuOver = [&](bool scrapes, std::vector<double> *scrapeMs, long *rssBefore, long *rssMax, int *fdMax) {
    const double cpu0 = cpuSeconds(pid);
    QElapsedTimer window;
    window.start();
    while (window.elapsed() < measureSeconds * 1000) {
      if (scrapes) {
        *rssBefore = std::max(*rssBefore, bench::procStatus("VmRSS", pid));  // just before the scrape
        double ms = 0;
        get(port, "/metrics", true, &ms);
        scrapeMs->push_back(ms);
      }
      const qint64 next = window.elapsed() + qint64(interval * 1000);
      while (window.elapsed() < next && window.elapsed() < measureSeconds * 1000) {
        QThread::msleep(250);
        *rssMax = std::max(*rssMax, bench::procStatus("VmRSS", pid));
        *fdMax = std::max(*fdMax, descriptors(pid));
      }
    }
    return 100 * (cpuSeconds(pid) - cpu0) / (double(window.nsecsElapsed()) / 1e9);
  };
  std::vector<double> steadyMs;
  long rssBetween = 0, rssMax = 0, rssPolling = 0;
  int fdMax = 0;
  const double cpuPolling = cpuOver(false, &steadyMs, &rssBetween, &rssPolling, &fdMax);
  const double cpuScraped = cpuOver(true, &steadyMs, &rssBetween, &rssMax, &fdMax);
  const double elapsed = 2.0 * measureSeconds;
  std::size_t gzipBytes = std::size_t(get(port, "/metrics", true, &ms).size());
  page = get(port, "/metrics", false, &ms);
  const auto countsAfter = values(page, "powerhost_poll_duration_seconds_count");
  std::vector<double> polls;
  for (const auto &[name, c] : countsAfter)
    if (name != "mute" && countsBefore.count(name)) polls.push_back(c - countsBefore.at(name));
  std::vector<double> lag;
  const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
  for (const auto &[name, ts] : values(page, "powerhost_last_poll_timestamp_seconds"))
    if (name != "mute") lag.push_back(now - ts);

  // one scrape at a time, each of a page rendered afresh
  std::vector<double> plainMs, gzipMs, indexMs;
  std::size_t plainBytes = 0;
  for (int i = 0; i < 20; ++i) {
    plainBytes = std::size_t(get(port, "/metrics", false, &ms).size());
    plainMs.push_back(ms);
    QThread::msleep(600);
    get(port, "/metrics", true, &ms);
    gzipMs.push_back(ms);
    get(port, "/", false, &ms);
    indexMs.push_back(ms);
    QThread::msleep(600);
  }

  // four concurrent scrapes, plain and gzip
  std::map<const char *, long> peaks;
  for (const char *kind : {"plain", "gzip", "two of each"}) {
    QThread::msleep(1000);
    resetPeak(pid);
    const long before = bench::procStatus("VmRSS", pid);
    QTcpSocket s[4];
    for (int i = 0; i < 4; ++i)
      ask(s[i], port, "/metrics", kind[0] == 'g' || (kind[0] == 't' && i % 2));
    for (auto &socket : s) collect(socket);
    peaks[kind] = std::max(bench::procStatus("VmHWM", pid), before);
  }

  // 64 clients that ask and never read
  QThread::msleep(1000);
  resetPeak(pid);
  const long idleBefore = bench::procStatus("VmRSS", pid);
  std::vector<int> idle;
  for (int i = 0; i < 64; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int rcv = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
      const char request[] = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
      [[maybe_unused]] const ssize_t sent = ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
    }
    idle.push_back(fd);
  }
  long idlePeak = 0;
  for (int i = 0; i < 12; ++i) {  // 3 s
    QThread::msleep(250);
    idlePeak = std::max(idlePeak, bench::procStatus("VmHWM", pid));
  }
  double idleScrapeMs = 0;  // a scrape while they hold every slot (they have been stuck for 3 s)
  const bool idleScrapeOk = get(port, "/metrics", false, &idleScrapeMs).startsWith("# HELP");
  for (int fd : idle) ::close(fd);

  const bool cpuOk = cpuScraped <= 5, rssOk = mb(rssBetween) <= 64, scrapeOk = median(plainMs) <= 50 &&
                                                                                    median(gzipMs) <= 50,
             idleOk = mb(idlePeak) <= 128;
  std::printf("bench_exporter: %d controllers (3 modules each, 6 requests a poll) + 1 mute, --interval %g, 2 x %.0f s "
              "(warm-up %.1f s)\n",
              controllers, interval, elapsed / 2, warmS);
  std::printf("  exporter CPU              %.2f %% of one core polling, %.2f %% with a gzip scrape every %g s   %s (<= 5 %%)\n",
              cpuPolling, cpuScraped, interval, verdict(cpuOk));
  std::printf("  RSS between scrapes       max %.1f MB (polling alone %.1f MB; max %.1f MB at any time)   %s (<= 64 MB)\n",
              mb(rssBetween), mb(rssPolling), mb(std::max(rssMax, rssPolling)), verdict(rssOk));
  std::printf("  descriptors               max %d\n", fdMax);
  std::printf("  GET /metrics plain        median %.1f ms, p90 %.1f ms (%zu bytes)         %s (<= 50 ms)\n",
              median(plainMs), bench::percentile(plainMs, 0.9), plainBytes, verdict(median(plainMs) <= 50));
  std::printf("  GET /metrics gzip         median %.1f ms, p90 %.1f ms (%zu bytes); every %g s: median %.1f ms\n",
              median(gzipMs), bench::percentile(gzipMs, 0.9), gzipBytes, interval, median(steadyMs));
  std::printf("  GET / (baseline)          median %.2f ms; plain /metrics / baseline = %.0f\n", median(indexMs),
              median(plainMs) / std::max(0.001, median(indexMs)));
  for (const auto &[kind, peak] : peaks)
    std::printf("  4 concurrent scrapes (%s) peak RSS %.1f MB\n", kind, mb(peak));
  std::printf("  64 clients never reading  peak RSS %.1f MB (%.1f MB before); a scrape meanwhile %s in %.0f ms   %s "
              "(<= 128 MB)\n",
              mb(idlePeak), mb(idleBefore), idleScrapeOk ? "answered" : "FAILED", idleScrapeMs, verdict(idleOk));
  std::printf("  polls per answering controller in %.1f s: min %.0f, median %.0f, max %.0f (expected %.0f)\n", elapsed,
              polls.empty() ? 0 : *std::min_element(polls.begin(), polls.end()), median(polls),
              polls.empty() ? 0 : *std::max_element(polls.begin(), polls.end()), elapsed / interval);
  std::printf("  age of the last completed poll: median %.2f s, p99 %.2f s\n", median(lag), bench::percentile(lag, 0.99));
  exporter.terminate();
  exporter.waitForFinished(5000);
  farmProcess.terminate();
  farmProcess.waitForFinished(5000);
  return cpuOk && rssOk && scrapeOk && idleOk && idleScrapeOk ? 0 : 3;
}
