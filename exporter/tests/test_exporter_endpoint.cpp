// The exporter's HTTP endpoint against clients that do it harm, as a program: clients that
// trickle their request head, clients that never read their answer, an open-file limit below
// what the controllers need; and what well-behaved scrapers get: gzip and kept-alive
// connections.
#include <QtTest>

#include <QTcpServer>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "ExporterProcess.h"
#include "sim/Controller.h"

using namespace exportertest;

namespace {

// Simulated controllers behind TCP ports, answered on a thread of their own so that the
// test's blocking HTTP requests never hold up a poll: `ports` ports, each a bus of
// `perPort` controllers at addresses 1.., each with `modules` rectifier modules.
class Farm : public QObject {
 public:
  Farm(int ports, int perPort, std::vector<int> modules) {
    moveToThread(&thread_);
    thread_.start();
    QMetaObject::invokeMethod(
        this,
        [&] {
          for (int p = 0; p < ports; ++p) {
            auto *server = new QTcpServer(this);
            server->listen(QHostAddress::LocalHost, 0);
            auto bus = std::make_shared<std::vector<std::unique_ptr<sim::Controller>>>();
            for (int a = 1; a <= perPort; ++a)
              bus->push_back(std::make_unique<sim::Controller>(sim::ControllerConfig(uint8_t(a), modules, 0, uint64_t(p * 256 + a))));
            connect(server, &QTcpServer::newConnection, this, [server, bus] {
              while (QTcpSocket *s = server->nextPendingConnection()) {
                auto pending = std::make_shared<QByteArray>();
                connect(s, &QTcpSocket::readyRead, s, [s, bus, pending] {
                  *pending += s->readAll();
                  int end;
                  while ((end = pending->indexOf('\r')) >= 0) {
                    const std::string frame = pending->left(end + 1).toStdString();
                    pending->remove(0, end + 1);
                    for (auto &c : *bus)
                      if (auto a = c->answer(frame)) s->write(a->data(), qint64(a->size()));
                  }
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
              }
            });
            ports_.push_back(server->serverPort());
          }
        },
        Qt::BlockingQueuedConnection);
  }
  ~Farm() override {
    QMetaObject::invokeMethod(
        this, [this] { qDeleteAll(findChildren<QTcpServer *>()); moveToThread(QCoreApplication::instance()->thread()); },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
  }
  const std::vector<quint16> &ports() const { return ports_; }

 private:
  QThread thread_;
  std::vector<quint16> ports_;
};

// A client socket the test drives byte by byte (non-blocking once connected); rcvbuf > 0
// makes its receive buffer that small.
int rawConnect(quint16 port, int rcvbuf = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (rcvbuf > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}
bool sendAll(int fd, const QByteArray &bytes) {
  return ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
}
// Whether the peer has closed a connection the client has read nothing from.
bool closedByPeer(int fd) {
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLERR | POLLHUP | POLLRDHUP)) return true;
  char c;
  const ssize_t n = ::recv(fd, &c, 1, MSG_PEEK);
  return n == 0 || (n < 0 && errno != EAGAIN);
}

// Reads one answer from a connection kept alive: its head and its Content-Length bytes
// (none for an answer to HEAD).
struct Answer {
  QByteArray head, body;
};
Answer readAnswer(QTcpSocket &s, QByteArray &buffered, bool toHead = false) {
  QElapsedTimer t;
  t.start();
  Answer a;
  while (t.elapsed() < 10000) {
    const int end = buffered.indexOf("\r\n\r\n");
    if (end >= 0) {
      a.head = buffered.left(end + 4);
      const int at = a.head.indexOf("Content-Length: ");
      const int length = at < 0 || toHead ? 0 : a.head.mid(at + 16, a.head.indexOf('\r', at) - at - 16).toInt();
      if (buffered.size() >= end + 4 + length) {
        a.body = buffered.mid(end + 4, length);
        buffered.remove(0, end + 4 + length);
        return a;
      }
    }
    if (!s.waitForReadyRead(100) && s.state() != QAbstractSocket::ConnectedState) break;
    buffered += s.readAll();
  }
  return {};
}

// Waits for cond, letting the event loop run; false when timeoutMs passed first.
bool waitUntil(const std::function<bool()> &cond, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > timeoutMs) return false;
    QTest::qWait(20);
  }
  return true;
}

// Controllers whose last poll completed.
int countUp(const QByteArray &page) {
  int up = 0;
  for (const QByteArray &line : page.split('\n')) up += line.startsWith("powerhost_up{") && line.endsWith(" 1");
  return up;
}

QStringList controllerArgs(const std::vector<quint16> &ports, int perPort) {
  QStringList args;
  for (std::size_t p = 0; p < ports.size(); ++p)
    for (int a = 1; a <= perPort; ++a)
      args << "--controller" << QStringLiteral("c%1_%2=tcp://127.0.0.1:%3?address=%4").arg(p).arg(a).arg(ports[p]).arg(a);
  return args;
}

}  // namespace

class TestExporterEndpoint : public QObject {
  Q_OBJECT
 private slots:
  // 64 clients that send their request head a byte at a time, and connect again at once
  // when they are closed, hold every slot: scrapes are answered all the same, each making
  // room by closing the client that has waited longest; the rest are closed 5 s after they
  // connected.
  void slowHeads() {
    Exporter ex({"--interval", "3600", "--controller", "a=tcp://127.0.0.1:1"});
    QVERIFY(ex.port());
    const int base = openDescriptors(ex.pid());
    std::vector<int> slow(64, -1);
    int reconnects = 0;
    const auto open = [&](int &fd) {
      fd = rawConnect(ex.port());
      QVERIFY(fd >= 0 && sendAll(fd, "GET /metrics HTTP/1.1\r\nX-Slow: "));
    };
    for (int &fd : slow) open(fd);
    QTimer trickle;
    bool trickling = true;
    connect(&trickle, &QTimer::timeout, [&] {
      for (int &fd : slow) {
        if (closedByPeer(fd)) {
          ::close(fd);
          fd = -1;
          if (!trickling) continue;
          ++reconnects;
          open(fd);
        } else if (trickling) {
          sendAll(fd, "a");
        }
      }
    });
    trickle.start(100);
    QVERIFY(waitUntil([&] { return openDescriptors(ex.pid()) >= base + 64; }, 10000));

    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
      QElapsedTimer t;
      t.start();
      const QByteArray answer = get(ex.port(), "/metrics");
      ms.push_back(double(t.nsecsElapsed()) / 1e6);
      QVERIFY2(answer.startsWith("HTTP/1.1 200") && answer.contains("powerhost_up{controller=\"a\"} 0\n"),
               qPrintable(QStringLiteral("scrape %1: %2").arg(i).arg(QString::fromLatin1(answer.left(80)))));
      QTest::qWait(50);  // the closed clients come back
    }
    std::sort(ms.begin(), ms.end());
    qInfo("20 scrapes among 64 trickling clients: median %.1f ms, max %.1f ms; %d reconnections", ms[10], ms.back(),
          reconnects);
    QVERIFY(reconnects > 0);  // room was made by closing them

    trickling = false;  // the clients keep their connections but send nothing more
    QElapsedTimer t;
    t.start();
    QVERIFY(waitUntil([&] { return std::all_of(slow.begin(), slow.end(), [](int fd) { return fd < 0; }); }, 10000));
    qInfo("the last trickling clients closed %lld ms after the trickle stopped", t.elapsed());
    QVERIFY(waitUntil([&] { return openDescriptors(ex.pid()) <= base; }, 5000));
    QCOMPARE(ex.terminate(), 0);
  }

  // 64 clients ask for a large page and never read: they share one rendered page, so the
  // exporter's memory grows by little more than one page; a scrape makes room by closing
  // one of them; the others are closed once their output has not moved for 10 s.
  void clientsThatNeverRead() {
    Farm farm(1, 200, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    Exporter ex(QStringList{"--interval", "5"} + controllerArgs(farm.ports(), 200));
    QVERIFY(ex.port());
    QByteArray page = ex.waitFor([](const QByteArray &p) { return countUp(p) == 200; }, 30000);
    QCOMPARE(countUp(page), 200);
    const long pageKiB = long(page.size() / 1024);
    const int base = openDescriptors(ex.pid());
    const long before = procStatusKiB(ex.pid(), "VmRSS");
    {  // the peak from here on
      QFile refs(QStringLiteral("/proc/%1/clear_refs").arg(ex.pid()));
      QVERIFY(refs.open(QIODevice::WriteOnly) && refs.write("5") == 1);
    }
    std::vector<int> idle;
    for (int i = 0; i < 66; ++i) {  // every slot taken: the last ones are refused
      idle.push_back(rawConnect(ex.port(), 4096));
      QVERIFY(idle.back() >= 0 && sendAll(idle.back(), "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    QVERIFY(waitUntil([&] { return openDescriptors(ex.pid()) >= base + 64; }, 10000));
    // a scrape is answered while they hold every slot: it is refused until one of them has
    // been stuck for a second, then answered
    QElapsedTimer t;
    t.start();
    QByteArray answer;
    while (!answer.startsWith("HTTP/1.1 200") && t.elapsed() < 8000) {
      answer = get(ex.port(), "/metrics");
      if (!answer.startsWith("HTTP/1.1 200")) QTest::qWait(100);
    }
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.left(200).constData());
    const qint64 scrapedAt = t.elapsed();
    QVERIFY(openDescriptors(ex.pid()) >= base + 63);  // the others still wait
    const long peak = procStatusKiB(ex.pid(), "VmHWM");
    // the rest go once their output has been still for 10 s
    QVERIFY(waitUntil([&] { return openDescriptors(ex.pid()) <= base; }, 20000));
    qInfo("64 clients that never read a %ld KiB page: RSS %ld KiB before, peak %ld KiB (+%ld KiB); a scrape answered "
          "after %lld ms; they were closed %lld ms after they asked",
          pageKiB, before, peak, peak - before, scrapedAt, t.elapsed());
    // one page, a few more versions of it at most, and each socket's 128 KiB share
    QVERIFY2(peak - before < 4 * pageKiB + 64 * 128 + 8 * 1024, qPrintable(QString::number(peak - before)));
    for (int fd : idle) ::close(fd);
    QCOMPARE(ex.terminate(), 0);
  }

  // With fewer descriptors than the controllers need, one line says so at start and the
  // controllers that fit are polled; the endpoint keeps its own and answers 64 clients at
  // once. A soft limit below a higher hard one is raised and every controller polled.
  void openFileLimit_data() {
    QTest::addColumn<int>("soft");
    QTest::addColumn<int>("hard");
    QTest::addColumn<bool>("enough");
    QTest::newRow("hard limit too low") << 100 << 100 << false;
    QTest::newRow("soft limit raised") << 100 << 4096 << true;
  }
  void openFileLimit() {
    QFETCH(int, soft);
    QFETCH(int, hard);
    QFETCH(bool, enough);
    Farm farm(60, 1, {1});
    Exporter ex(QStringList{"--interval", "5"} + controllerArgs(farm.ports(), 1), [soft, hard] {
      const rlimit l{rlim_t(soft), rlim_t(hard)};
      ::setrlimit(RLIMIT_NOFILE, &l);
    });
    QVERIFY(ex.port());
    int polled = 60;
    if (!enough) {
      QVERIFY2(ex.waitForError("not enough open files"), ex.errors().constData());
      const QByteArray err = ex.errors();
      QCOMPARE(err.count("not enough open files"), 1);
      const int at = err.indexOf(" of 60 controllers are not polled");
      const int leftOut = err.mid(err.lastIndexOf(' ', at - 1) + 1, at - err.lastIndexOf(' ', at - 1) - 1).toInt();
      QVERIFY2(leftOut > 0 && leftOut < 60, err.constData());
      polled = 60 - leftOut;
    }
    const QByteArray page = ex.waitFor([&](const QByteArray &p) { return countUp(p) == polled; });
    QCOMPARE(countUp(page), polled);
    // every slot of the endpoint at once
    std::vector<int> clients;
    for (int i = 0; i < 64; ++i) {
      clients.push_back(rawConnect(ex.port()));
      QVERIFY(clients.back() >= 0 && sendAll(clients.back(), "GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n"));
    }
    int answered = 0;
    for (int fd : clients) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      QByteArray got;
      char buf[65536];
      ssize_t n;
      while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) got.append(buf, n);
      answered += got.startsWith("HTTP/1.1 200") && got.contains("powerhost_up{");
      ::close(fd);
    }
    QCOMPARE(answered, 64);
    QVERIFY(get(ex.port(), "/metrics").startsWith("HTTP/1.1 200"));
    QVERIFY2(!ex.errors().contains("No buffer space") && !ex.errors().contains("Too many open files"), ex.errors().constData());
    if (enough) QVERIFY(!ex.errors().contains("not enough open files"));
    QCOMPARE(ex.terminate(), 0);
  }

  // One connection, kept alive: the page plain, then gzip (inflated, the same bytes), HEAD
  // with gzip giving the gzip length, two requests in one write answered in order; the
  // connection closes after a request that asks so.
  void gzipAndKeepAlive() {
    Exporter ex({"--interval", "3600", "--controller", "a=tcp://127.0.0.1:1"});
    QVERIFY(ex.port());
    // after the first poll has failed the page does not change
    ex.waitFor([](const QByteArray &p) { return p.contains("reason=\"timeout\"} 1\n"); });
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), ex.port());
    QVERIFY(s.waitForConnected(5000));
    QByteArray buffered;
    s.write("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
    const Answer plain = readAnswer(s, buffered);
    QVERIFY2(plain.head.startsWith("HTTP/1.1 200") && plain.head.contains("Connection: keep-alive"), plain.head.constData());
    QVERIFY(!plain.head.contains("Content-Encoding"));
    QVERIFY(plain.body.contains("powerhost_up{controller=\"a\"} 0\n"));
    s.write("GET /metrics HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip\r\n\r\n");
    const Answer zipped = readAnswer(s, buffered);
    QVERIFY2(zipped.head.contains("Content-Encoding: gzip"), zipped.head.constData());
    QVERIFY(zipped.body.size() < plain.body.size());
    QCOMPARE(gunzip(zipped.body), plain.body);
    s.write("HEAD /metrics HTTP/1.1\r\nAccept-Encoding: gzip\r\n\r\n");
    const Answer head = readAnswer(s, buffered, true);
    QVERIFY2(head.head.contains(QByteArray("Content-Length: ") + QByteArray::number(zipped.body.size()) + "\r\n"),
             head.head.constData());
    QVERIFY(head.body.isEmpty());
    s.write("GET / HTTP/1.1\r\n\r\nGET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n");
    const Answer index = readAnswer(s, buffered), last = readAnswer(s, buffered);
    QVERIFY(index.body.contains("href=\"/metrics\""));
    QVERIFY2(last.head.contains("Connection: close"), last.head.constData());
    QCOMPARE(last.body, plain.body);
    QVERIFY(s.state() == QAbstractSocket::UnconnectedState || s.waitForDisconnected(5000));
    QCOMPARE(ex.terminate(), 0);
  }
};

QTEST_GUILESS_MAIN(TestExporterEndpoint)
#include "test_exporter_endpoint.moc"
