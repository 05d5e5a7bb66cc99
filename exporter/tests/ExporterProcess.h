// Runs powerhost-exporter as a separate process for the end-to-end tests, and reads its pages.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <functional>
#include <string>
#include <zlib.h>

namespace exportertest {

// One HTTP request on 127.0.0.1:port, over TLS when tls (the server's certificate is not
// checked); the whole answer (headers and body), empty on failure.
inline QByteArray httpRequest(quint16 port, const QByteArray &request, int timeoutMs = 5000, bool tls = false) {
  QSslSocket s;
  if (tls) {
    s.setPeerVerifyMode(QSslSocket::VerifyNone);
    s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    if (!s.waitForEncrypted(timeoutMs)) return {};
  } else {
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!s.waitForConnected(timeoutMs)) return {};
  }
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

// The bytes of a gzip stream inflated; empty when they are not one.
inline QByteArray gunzip(const QByteArray &z) {
  z_stream in{};
  if (inflateInit2(&in, 15 + 16) != Z_OK) return {};
  QByteArray out;
  char buf[65536];
  in.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(z.constData()));
  in.avail_in = uInt(z.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    in.next_out = reinterpret_cast<Bytef *>(buf);
    in.avail_out = sizeof buf;
    rc = inflate(&in, Z_NO_FLUSH);
    out.append(buf, qsizetype(sizeof buf - in.avail_out));
  }
  inflateEnd(&in);
  return rc == Z_STREAM_END ? out : QByteArray();
}

// A figure of /proc/PID/status in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read.
inline long procStatusKiB(qint64 pid, const QByteArray &name) {
  QFile f(QStringLiteral("/proc/%1/status").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray &line : f.readAll().split('\n'))
    if (line.startsWith(name + ':')) return line.mid(name.size() + 1).trimmed().split(' ').first().toLong();
  return -1;
}
// Descriptors open in the process.
inline int openDescriptors(qint64 pid) {
  return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

class Exporter {
 public:
  // childSetup runs in the child before the program starts (limits, for example).
  explicit Exporter(const QStringList &args, std::function<void()> childSetup = {}) {
    if (childSetup) process_.setChildProcessModifier(childSetup);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(QStringLiteral(EXPORTER_PATH), QStringList{"--listen", "127.0.0.1:0"} + args);
    if (!process_.waitForStarted(5000)) return;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && !port_ && process_.state() == QProcess::Running) {
      process_.waitForReadyRead(50);
      out_ += process_.readAllStandardOutput();
      for (const QByteArray &line : out_.left(out_.lastIndexOf('\n') + 1).split('\n')) {  // whole lines
        if (line.startsWith("listening ")) port_ = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
        if (line.startsWith("nut listening ")) nutPort_ = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
      }
    }
  }
  ~Exporter() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(3000);
    }
  }
  quint16 port() const { return port_; }
  quint16 nutPort() const { return nutPort_; }  // 0 unless the NUT endpoint is on
  // Scrapes over TLS with basic authentication from now on (credentials "user:password").
  void useTls(const QByteArray &credentials) {
    tls_ = true;
    credentials_ = credentials;
  }
  QByteArray metrics() {
    if (!tls_) return body(get(port_, "/metrics"));
    return body(httpRequest(port_, "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nAuthorization: Basic " +
                                       credentials_.toBase64() + "\r\n\r\n", 5000, true));
  }
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
  qint64 pid() const { return process_.processId(); }
  // What it wrote to stderr so far (kept, so several checks can read it).
  QByteArray errors() {
    err_ += process_.readAllStandardError();
    return err_;
  }
  // Waits up to timeoutMs for stderr to contain text.
  bool waitForError(const QByteArray &text, int timeoutMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (!errors().contains(text) && t.elapsed() < timeoutMs) process_.waitForReadyRead(100);
    return errors().contains(text);
  }

 private:
  QProcess process_;
  QByteArray out_, err_;
  quint16 port_ = 0, nutPort_ = 0;
  bool tls_ = false;
  QByteArray credentials_;
};

}  // namespace exportertest
