// The exporter with 100 simulated controllers on loopback, polled every second, and one more
// that never answers: the exporter's CPU share of one core, its resident memory, the /metrics
// answer time while it polls (against GET / in the same run), and whether the polls of the
// answering controllers stay on time.
//
//   bench_exporter [SECONDS]          measure for SECONDS (default 30) after a 5 s warm-up
//   bench_exporter --farm N           (internal) serve N simulated controllers and one mute one
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <map>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

#include "sim/Controller.h"
#include "sim/Options.h"
#include "sim/Server.h"

#ifndef EXPORTER_PATH
#define EXPORTER_PATH "powerhost-exporter"
#endif

namespace {

constexpr int kControllers = 100;

int farm(int n, int argc, char **argv) {
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

double seconds(const QElapsedTimer &t) { return t.nsecsElapsed() / 1e9; }

// utime + stime of a process, in seconds.
double cpuSeconds(qint64 pid) {
  QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  const QByteArray s = f.readAll();
  const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
  return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}
long rssKb(qint64 pid) {
  QFile f(QStringLiteral("/proc/%1/status").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray &line : f.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return 0;
}

// One GET; the body, and its answer time in ms.
QByteArray get(quint16 port, const char *path, double *ms) {
  QElapsedTimer t;
  t.start();
  QTcpSocket s;
  s.connectToHost(QStringLiteral("127.0.0.1"), port);
  if (!s.waitForConnected(5000)) return {};
  s.write(QByteArray("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  QByteArray a;
  while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(5000)) a += s.readAll();
  a += s.readAll();
  *ms = t.nsecsElapsed() / 1e6;
  return a.mid(a.indexOf("\r\n\r\n") + 4);
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// Per controller name: the value of the series name{controller="NAME"...}.
std::map<QByteArray, double> values(const QByteArray &page, const QByteArray &series) {
  std::map<QByteArray, double> out;
  for (const QByteArray &line : page.split('\n')) {
    if (!line.startsWith(series + "{controller=\"")) continue;
    const int start = series.size() + 13;
    out[line.mid(start, line.indexOf('"', start) - start)] = line.mid(line.lastIndexOf(' ') + 1).toDouble();
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && QByteArray(argv[1]) == "--farm") return farm(QByteArray(argv[2]).toInt(), argc, argv);
  QCoreApplication app(argc, argv);
  const int measureSeconds = argc >= 2 ? QByteArray(argv[1]).toInt() : 30;

  QProcess farmProcess;
  farmProcess.start(QCoreApplication::applicationFilePath(), {"--farm", QString::number(kControllers)});
  QByteArray out;
  QElapsedTimer t;
  t.start();
  while (!out.contains("mute ") && t.elapsed() < 20000) {
    farmProcess.waitForReadyRead(100);
    out += farmProcess.readAllStandardOutput();
  }
  QStringList args{"--listen", "127.0.0.1:0", "--interval", "1"};
  int n = 0;
  for (const QByteArray &line : out.split('\n')) {
    if (line.startsWith("listening "))
      args << "--controller" << QStringLiteral("c%1=tcp://%2").arg(n++).arg(QString::fromLatin1(line.mid(10)));
    if (line.startsWith("mute ")) args << "--controller" << QStringLiteral("mute=tcp://127.0.0.1:%1").arg(QString::fromLatin1(line.mid(5).trimmed()));
  }
  if (n != kControllers) {
    std::fprintf(stderr, "the farm serves %d controllers, not %d\n", n, kControllers);
    return 1;
  }
  QProcess exporter;
  exporter.setProcessChannelMode(QProcess::SeparateChannels);
  exporter.start(QStringLiteral(EXPORTER_PATH), args);
  quint16 port = 0;
  out.clear();
  while (!port && t.elapsed() < 30000) {
    exporter.waitForReadyRead(100);
    out += exporter.readAllStandardOutput();
    const int at = out.indexOf("listening ");
    if (at >= 0 && out.indexOf('\n', at) > 0) port = quint16(out.mid(out.lastIndexOf(':') + 1).trimmed().toUInt());
  }
  const qint64 pid = exporter.processId();
  QThread::sleep(5);  // warm-up: every link connected, every controller polled
  double ms = 0;
  const QByteArray before = get(port, "/metrics", &ms);
  const auto countsBefore = values(before, "powerhost_poll_duration_seconds_count");

  const double cpu0 = cpuSeconds(pid);
  QElapsedTimer window;
  window.start();
  std::vector<double> metricsMs, indexMs, lagS;
  long rssMax = 0;
  size_t pageBytes = 0;
  while (window.elapsed() < measureSeconds * 1000) {
    const QByteArray page = get(port, "/metrics", &ms);
    metricsMs.push_back(ms);
    pageBytes = size_t(page.size());
    get(port, "/", &ms);
    indexMs.push_back(ms);
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    for (const auto &[name, ts] : values(page, "powerhost_last_poll_timestamp_seconds"))
      if (name != "mute") lagS.push_back(now - ts);
    rssMax = std::max(rssMax, rssKb(pid));
    QThread::msleep(200);
  }
  const double elapsed = seconds(window);
  const double cpu = cpuSeconds(pid) - cpu0;
  const QByteArray after = get(port, "/metrics", &ms);
  const auto countsAfter = values(after, "powerhost_poll_duration_seconds_count");
  std::vector<double> polls;
  for (const auto &[name, c] : countsAfter)
    if (name != "mute") polls.push_back(c - countsBefore.at(name));
  const auto up = values(after, "powerhost_up");
  const auto muteErrors = values(after, "powerhost_poll_errors_total");
  int upCount = 0;
  for (const auto &[name, v] : up) upCount += name != "mute" && v == 1;

  std::printf("bench_exporter: %d controllers (3 modules each, 6 requests a poll) + 1 mute, --interval 1, %.1f s\n",
              kControllers, elapsed);
  std::printf("  exporter CPU          %.2f %% of one core (%.2f s in %.1f s)\n", 100 * cpu / elapsed, cpu, elapsed);
  std::printf("  exporter RSS          max %.1f MB\n", rssMax / 1024.0);
  std::printf("  GET /metrics          median %.2f ms, p90 %.2f ms (%zu bytes, %zu scrapes)\n", median(metricsMs),
              percentile(metricsMs, 0.9), pageBytes, metricsMs.size());
  std::printf("  GET / (baseline)      median %.2f ms; /metrics / baseline = %.1f\n", median(indexMs),
              median(metricsMs) / std::max(0.001, median(indexMs)));
  std::printf("  polls per answering controller in %.1f s: min %.0f, median %.0f, max %.0f (expected %.0f)\n", elapsed,
              *std::min_element(polls.begin(), polls.end()), median(polls), *std::max_element(polls.begin(), polls.end()),
              elapsed);
  std::printf("  age of the last completed poll: median %.2f s, p99 %.2f s, max %.2f s\n", median(lagS),
              percentile(lagS, 0.99), lagS.empty() ? 0 : *std::max_element(lagS.begin(), lagS.end()));
  std::printf("  up: %d of %d answering; mute: up %.0f\n", upCount, kControllers, up.count("mute") ? up.at("mute") : -1);
  (void)muteErrors;
  exporter.terminate();
  exporter.waitForFinished(5000);
  farmProcess.terminate();
  farmProcess.waitForFinished(5000);
  return 0;
}
