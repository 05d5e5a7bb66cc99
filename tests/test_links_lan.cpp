// The LAN link end to end over loopback TCP, against a scripted peer.
#include <QtTest>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "protocol/Frame.h"
#include "support/FormFixture.h"
#include "support/ScriptedPeer.h"

using namespace testsupport;

class TestLinksLan : public QObject {
  Q_OBJECT


 private slots:
  void exchangesFramesByteForByte() {
    MessageRecorder boxes;
    TForm1 f;
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
    QVERIFY(!f.Timer1->Enabled());

    // a silent controller: the time-out reports it
    click(f, "Button7");
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("通讯超时"); }, 3000));
    QCOMPARE(f.pendingCid2, 0);

    // an answer longer than any frame is refused whole
    f.setPanelText(1, QString());
    click(f, "Button5");
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
    TForm1 f;
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

  void refusedConnectionShowsTheError() {
    MessageRecorder boxes;
    TForm1 f;
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
    QCOMPARE(boxes.boxes[0].first, QStringLiteral("Asynchronous socket error 111"));
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!f.linkOpen && !f.lanConnected);
    QVERIFY(f.RadioButton2->isEnabled());
  }

  void badPortTextChangesNothing() {
    MessageRecorder boxes;
    TForm1 f;
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
    QVERIFY(f.Timer1->Enabled());
    QCOMPARE(peer.requests, 0);
    f.linkOpen = false;
  }
};

QTEST_MAIN(TestLinksLan)
#include "test_links_lan.moc"
