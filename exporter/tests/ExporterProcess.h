// Runs powerhost-exporter as a separate process for the end-to-end tests, and reads its pages.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <functional>

namespace exportertest {

// One HTTP request on 127.0.0.1:port; the whole answer (headers and body), empty on failure.
inline QByteArray httpRequest(quint16 port, const QByteArray &request, int timeoutMs = 5000) {
  QTcpSocket s;
  s.connectToHost(QStringLiteral("127.0.0.1"), port);
  if (!s.waitForConnected(timeoutMs)) return {};
  s.write(request);
  QByteArray answer;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < timeoutMs) {
    if (s.waitForReadyRead(100)) answer += s.readAll();
    if (s.state() == QAbstractSocket::UnconnectedState) break;
  }
  answer += s.readAll();
  return answer;
}

inline QByteArray get(quint16 port, const QByteArray &path) {
  // the server closes after its answer, so the answer is whole when the connection ends
  return httpRequest(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

// The value of one series ("name{labels}") on a metrics page, or a null string.
inline QString seriesValue(const QByteArray &page, const QString &series) {
  for (const QByteArray &line : page.split('\n'))
    if (line.startsWith((series + QLatin1Char(' ')).toUtf8())) return QString::fromUtf8(line.mid(series.toUtf8().size() + 1));
  return {};
}

class Exporter {
 public:
  explicit Exporter(const QStringList &args) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(QStringLiteral(EXPORTER_PATH), QStringList{"--listen", "127.0.0.1:0"} + args);
    if (!process_.waitForStarted(5000)) return;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && !port_ && process_.state() == QProcess::Running) {
      process_.waitForReadyRead(50);
      out_ += process_.readAllStandardOutput();
      for (const QByteArray &line : out_.left(out_.lastIndexOf('\n') + 1).split('\n'))  // whole lines
        if (line.startsWith("listening ")) port_ = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
    }
  }
  ~Exporter() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(3000);
    }
  }
  quint16 port() const { return port_; }
  QByteArray metrics() { return body(get(port_, "/metrics")); }
  static QByteArray body(const QByteArray &answer) { return answer.mid(answer.indexOf("\r\n\r\n") + 4); }
  // Scrapes until ok(page) holds or timeoutMs pass; the last page.
  QByteArray waitFor(const std::function<bool(const QByteArray &)> &ok, int timeoutMs = 20000) {
    QElapsedTimer t;
    t.start();
    QByteArray page;
    while (t.elapsed() < timeoutMs) {
      page = metrics();
      if (ok(page)) return page;
      QTest::qWait(100);
    }
    return page;
  }
  // SIGTERM; the exit status, or -1 when it did not end cleanly within 5 s.
  int terminate() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    if (!process_.waitForFinished(5000) || process_.exitStatus() != QProcess::NormalExit) return -1;
    return process_.exitCode();
  }
  QProcess &process() { return process_; }

 private:
  QProcess process_;
  QByteArray out_;
  quint16 port_ = 0;
};

}  // namespace exportertest
