// The LAN link end to end over loopback TCP, against a scripted peer.
#include <QtTest>

#include <QThread>

#include <QLineEdit>
#include <QTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>

#include "protocol/Frame.h"
#include "support/FormFixture.h"
#include "support/ScriptedPeer.h"

#include <QElapsedTimer>
#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace testsupport;

class TestLinksLan : public QObject {
  Q_OBJECT

  // The kernel's state of the window's connection (TCP_INFO reads it without taking any
  // pending error away), -1 without a connection: what has reached this end before the
  // event loop has seen it.
  static int tcpState(const TestForm &f) {
    const qintptr fd = f.ClientSocket1->socketDescriptor();
    tcp_info info{};
    socklen_t size = sizeof info;
    if (fd < 0 || ::getsockopt(int(fd), IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return -1;
    return info.tcpi_state;
  }
  // Waits for pred() without running the event loop; returns pred().
  template <class P>
  static bool waitUnseen(P pred, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < timeoutMs) QThread::usleep(200);
    return pred();
  }

 private slots:
  void exchangesFramesByteForByte() {
    MessageRecorder boxes;
    TimeScale fast(0.25);  // the silent controller's time-out in 250 ms
    TestForm f;
    ScriptedPeer peer;
    peer.respond = [](const QByteArray &req) {
      return req.startsWith("~014006") ? answer(0x40, 0, QByteArray("\x08\x98", 2)) : QByteArray();
    };
    QVERIFY(openLan(f, peer.port()));
    QCOMPARE(f.Button29->text(), QStringLiteral("COLSE"));
    QVERIFY(!f.RadioButton1->isEnabled() && !f.RadioButton2->isEnabled());
    QVERIFY(f.linkOpen && !f.serialLink);

    click(f, "Button5");
    QVERIFY(waitFor([&] { return text(f, "Edit5") == QStringLiteral("220"); }, 5000));
    QCOMPARE(peer.received, QByteArray("~014006008;\r"));
    QVERIFY(!f.Timer1->isEnabled());

    // a silent controller: the time-out reports it
    click(f, "Button7");
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("通讯超时"); }, 3000));
    QCOMPARE(f.pendingCid2, 0);

    // an answer longer than any frame is refused; after the time-out the AC read brings the
    // line back in step before the next request goes out
    f.setPanelText(1, QString());
    peer.respond = [](const QByteArray &req) {
      return req.startsWith("~014001") ? answer(0x40, 0, QByteArray("\x08\x98\0\0\0", 5)) : QByteArray();
    };
    const int asked = peer.requests;
    click(f, "Button5");
    QVERIFY(waitFor([&] { return peer.requests == asked + 2; }, 3000));
    QVERIFY(peer.received.endsWith(QByteArray::fromStdString(proto::encodeFrame(1, 0x40, 0x01, {}) +
                                                             proto::encodeFrame(1, 0x40, 0x06, {}))));
    peer.send(QByteArray(300, '0').prepend('~'));
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("返回数据校验错！！"); }, 3000));

    // COLSE closes everything
    click(f, "Button29");
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(f.RadioButton1->isEnabled() && f.RadioButton2->isEnabled());
    QVERIFY(!f.linkOpen && !f.serialLink && !f.lanConnected);
    QVERIFY(boxes.boxes.isEmpty());
  }

  void peerClosingEndsTheLink() {
    MessageRecorder boxes;
    TestForm f;
    ScriptedPeer peer;
    QVERIFY(openLan(f, peer.port()));
    QVERIFY(waitFor([&] { return peer.connected(); }, 5000));
    peer.dropClient();
    QVERIFY(waitFor([&] { return !f.linkOpen; }, 5000));
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!f.lanConnected);
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY(boxes.boxes[0].first.startsWith(QStringLiteral("Asynchronous socket error ")));
    // and OPEN works again
    QVERIFY(openLan(f, peer.port()));
    QCOMPARE(peer.connections, 2);
  }

  // Requests sent before the window has noticed that the peer went: the first may still be
  // taken by the connection, a later one fails. The process survives (no broken-pipe signal)
  // and the link closes with the error, as when the peer's closing is seen first.
  void sendingToAVanishedPeerClosesTheLink() {
    MessageRecorder boxes;
    TestForm f;
    ScriptedPeer peer;
    QVERIFY(openLan(f, peer.port()));
    QVERIFY(waitFor([&] { return peer.connected() && f.lanConnected; }, 5000));
    peer.dropClient();
    // the peer's close reaches this end, unseen by the event loop
    QVERIFY(waitUnseen([&] { return tcpState(f) == TCP_CLOSE_WAIT; }, 5000));
    f.Edit2->setText(QStringLiteral("42"));
    f.Edit3->setText(QStringLiteral("16"));
    for (int i = 0; i < 3; ++i) {
      f.Button1->click();
      f.Button2->click();
      // the peer's reset to the first request comes back (or the failed send closed the link)
      QVERIFY(waitUnseen([&] { return tcpState(f) != TCP_CLOSE_WAIT; }, 5000));
    }
    QVERIFY(waitFor([&] { return !f.linkOpen; }, 5000));
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY(boxes.boxes[0].first.startsWith(QStringLiteral("Asynchronous socket error ")));
    QVERIFY(openLan(f, peer.port()));
  }

  void refusedConnectionShowsTheError() {
    MessageRecorder boxes;
    TestForm f;
    quint16 dead;
    {
      QTcpServer s;
      s.listen(QHostAddress::LocalHost, 0);
      dead = s.serverPort();
    }
    f.RadioButton2->click();
    setText(f, "Edit13", QStringLiteral("127.0.0.1"));
    setText(f, "Edit12", QString::number(dead));
    click(f, "Button29");
    QVERIFY(waitFor([&] { return !boxes.boxes.isEmpty(); }, 5000));
    QCOMPARE(boxes.boxes[0].first, QStringLiteral("Asynchronous socket error 111\n连接被拒绝（该端口没有程序在监听）"));
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!f.linkOpen && !f.lanConnected);
    QVERIFY(f.RadioButton2->isEnabled());
  }

  void anErrorInsideConnectClosesTheLink() {
    MessageRecorder boxes;
    TestForm f;
    // The system refuses a connection to the broadcast address inside the call itself.
    f.RadioButton2->click();
    setText(f, "Edit13", QStringLiteral("255.255.255.255"));
    click(f, "Button29");
    QVERIFY(waitFor([&] { return !boxes.boxes.isEmpty(); }, 5000));
    QVERIFY(boxes.boxes[0].first.startsWith(QStringLiteral("Asynchronous socket error ")));
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!f.linkOpen && !f.lanConnected);
    QVERIFY(f.RadioButton1->isEnabled() && f.RadioButton2->isEnabled());
  }

  // The stream is cut at the end marks: answers that come together are decoded one after
  // the other, an answer in pieces is put together, and a piece that never ends waits for
  // its end mark (the request times out) until the next answer's start mark cuts it off.
  void theStreamIsCutIntoAnswers() {
    MessageRecorder boxes;
    TimeScale fast(0.25);
    TestForm f;
    ScriptedPeer peer;
    // Rows 1 and 2 of the refresh: the peer sends both answers in one write when the first
    // request comes, and nothing after that.
    peer.respond = [](const QByteArray &req) {
      if (!req.startsWith("~014006")) return QByteArray();
      return answer(0x40, 0, QByteArray("\x08\x98", 2)) + answer(0x40, 0, QByteArray("\x07\x08", 2));
    };
    QVERIFY(openLan(f, peer.port()));
    click(f, "Button24");
    QVERIFY(waitFor([&] { return text(f, "Edit5") == QStringLiteral("220") && text(f, "Edit6") == QStringLiteral("180"); },
                    5000));
    QVERIFY(waitFor([&] { return peer.requests >= 3; }, 5000));
    QVERIFY(f.panelText(1) != QStringLiteral("返回数据校验错！！"));
    f.cancelChain();  // row 3 is never answered: no resend

    // one answer in three writes, once the AC read has brought the line back in step after
    // row 3's time-out
    const QByteArray reply = answer(0x40, 0, QByteArray("\x08\xFC", 2));
    peer.respond = [](const QByteArray &req) {
      return req.startsWith("~014001") ? answer(0x40, 0, QByteArray("\x08\x98\0\0\0", 5)) : QByteArray();
    };
    click(f, "Button5");
    QVERIFY(waitFor([&] { return f.exchange().onLine() && f.exchange().onLine()->cid2 == 0x06; }, 5000));
    peer.send(reply.left(3));
    peer.send(reply.mid(3, 5));
    peer.send(reply.mid(8));
    QVERIFY(waitFor([&] { return text(f, "Edit5") == QStringLiteral("230"); }, 5000));

    // a piece that never ends: the request times out, and the piece goes on as a chunk of its
    // own when the next answer starts
    f.setPanelText(1, QString());
    click(f, "Button5");
    QVERIFY(waitFor([&] { return f.exchange().onLine(); }, 5000));
    peer.send(reply.left(9));
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("通讯超时"); }, 5000));
    const QString piece = QString::fromLatin1(proto::hexLogLine(reply.left(9).toStdString()));
    QVERIFY(!memoLines(f).contains(piece));
    click(f, "Button5");
    QVERIFY(waitFor([&] { return memoLines(f).contains(piece); }, 5000));
    QVERIFY(f.linkOpen);
    QVERIFY(boxes.boxes.isEmpty());
  }

  // A serial-to-LAN converter may forward an answer in pieces far apart: the answer is one
  // chunk, decoded once, and nothing is refused.
  void anAnswerInPiecesFarApartIsDecodedOnce() {
    MessageRecorder boxes;
    TestForm f;
    ScriptedPeer peer;
    const QByteArray reply = answer(0x40, 0, QByteArray("\x0A\xF8", 2));  // 280.8
    QVERIFY(openLan(f, peer.port()));
    QStringList shown;
    connect(f.findChild<QLineEdit *>("Edit5"), &QLineEdit::textChanged, [&](const QString &t) { shown << t; });
    for (int gap : {150, 500}) {
      setText(f, "Edit5", QStringLiteral("0"));
      shown.clear();
      peer.respond = [&](const QByteArray &) {
        QTimer::singleShot(0, &peer, [&] { peer.send(reply.left(6)); });
        QTimer::singleShot(gap, &peer, [&] { peer.send(reply.mid(6)); });
        return QByteArray();
      };
      click(f, "Button5");
      QVERIFY(waitFor([&] { return text(f, "Edit5") == QStringLiteral("280.8"); }, 3000));
      QVERIFY(waitFor([&] { return f.exchange().idle(); }, 1000));
      QCOMPARE(shown, QStringList{"280.8"});
      QVERIFY(f.panelText(1).isEmpty());
      QVERIFY(!memoLines(f).join(' ').contains(QStringLiteral("不解码")));
    }
    QVERIFY(boxes.boxes.isEmpty());
  }

  // A peer that floods the link without an end mark: the stream is cut into chunks of the
  // longest answer, each logged and none decoded, and the link goes on working.
  void aFloodIsRefusedInBoundedPieces() {
    MessageRecorder boxes;
    TestForm f;
    ScriptedPeer peer;
    QVERIFY(openLan(f, peer.port()));
    QVERIFY(waitFor([&] { return peer.connected(); }, 5000));
    const qint64 total = 10 * 1000 * 1000;
    peer.send(QByteArray(total, '0'));
    // Pieces cut at a quiet gap may be shorter; together the chunks account for every byte.
    const QRegularExpression refused(QStringLiteral("^((?: 30){1,201})(?: \\.\\.\\. \\((\\d+) bytes left out\\))?$"));
    auto accounted = [&] {
      qint64 n = 0;
      for (const QString &line : memoLines(f)) {
        const QRegularExpressionMatch m = refused.match(line);
        if (m.hasMatch()) n += m.captured(1).size() / 3 + m.captured(2).toLongLong();
      }
      return n;
    };
    QVERIFY(waitFor([&] { return accounted() == total; }, 60000));
    for (const QString &line : memoLines(f)) QVERIFY(line.size() < 700);
    // many short chunks in one write, more than one turn handles: every one is taken
    QByteArray many;
    for (int i = 0; i < 200; ++i) many += "x" + QByteArray::number(i % 10) + "\r";
    peer.send(many);
    QVERIFY(waitFor([&] { return memoLines(f).filter(QStringLiteral(" 78 3")).size() == 200; }, 10000));
    peer.respond = [](const QByteArray &) { return answer(0x40, 0, QByteArray("\x08\x98", 2)); };
    click(f, "Button5");
    QVERIFY(waitFor([&] { return text(f, "Edit5") == QStringLiteral("220"); }, 5000));
    QVERIFY(f.linkOpen && boxes.boxes.isEmpty());
  }

  void badPortTextChangesNothing() {
    MessageRecorder boxes;
    TestForm f;
    f.RadioButton2->click();
    setText(f, "Edit12", QStringLiteral("50x1"));
    click(f, "Button29");
    QVERIFY(boxes.saw(QStringLiteral("'50x1' is not a valid integer value"), QStringLiteral("powerhost")));
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!f.linkOpen);
    // requests while the LAN link is still connecting are not sent but still time out
    ScriptedPeer peer;
    f.linkOpen = true;
    click(f, "Button5");
    QVERIFY(f.Timer1->isEnabled());
    QCOMPARE(peer.requests, 0);
    f.linkOpen = false;
  }
};

QTEST_MAIN(TestLinksLan)
#include "test_links_lan.moc"
