// The serial link end to end: the window opens a pseudo-terminal typed into the port box and
// the test plays the controller on the other end.
#include <QtTest>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QThread>
#include <QPushButton>
#include <QRadioButton>

#include "link/Comm.h"
#include "support/FormFixture.h"
#include "support/Pty.h"

#include <memory>

#include <termios.h>

using namespace testsupport;

class TestLinksSerial : public QObject {
  Q_OBJECT
 private slots:
  void exchangesFramesOverTheLine() {
    MessageRecorder boxes;
    TestForm f;
    PtyPair line;
    QVERIFY(line.open());
    QVERIFY(f.RadioButton1->isChecked());
    f.ComboBox1->setEditText(line.slavePath);
    setText(f, "Edit12", QStringLiteral("19200"));
    click(f, "Button29");
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(f.Button29->text(), QStringLiteral("COLSE"));
    QVERIFY(f.linkOpen && f.serialLink && !f.lanConnected);
    QVERIFY(!f.RadioButton1->isEnabled() && !f.RadioButton2->isEnabled());
    QCOMPARE(f.Comm1->CommName(), line.slavePath);
    QCOMPARE(f.Comm1->BaudRate(), 19200u);

    click(f, "Button5");
    QCOMPARE(line.read(12, 3000), QByteArray("~014006008;\r"));
    QVERIFY(line.write(answer(0x40, 0, QByteArray("\x08\x98", 2))));
    QVERIFY(waitFor([&] { return text(f, "Edit5") == QStringLiteral("220"); }, 3000));

    // an answer that pauses longer than 100 ms in the middle arrives as two chunks, each
    // refused by its checksum, and nothing is decoded
    click(f, "Button7");
    QCOMPARE(line.read(12, 3000).size(), 12);
    const QByteArray reply = answer(0x40, 0, QByteArray("\x07\x08", 2));
    QVERIFY(line.write(reply.left(6)));
    QTest::qWait(250);
    QVERIFY(line.write(reply.mid(6)));
    QVERIFY(waitFor([&] { return f.panelText(1) == QStringLiteral("返回数据校验错！！"); }, 3000));
    QTest::qWait(200);
    QCOMPARE(text(f, "Edit6"), QStringLiteral("0"));

    // a second OPEN of the same device elsewhere is refused while this one holds it
    TestForm other;
    other.ComboBox1->setEditText(line.slavePath);
    click(other, "Button29");
    QVERIFY(boxes.saw(QStringLiteral("Error opening serial port\n设备忙（已被其他程序占用）"), QStringLiteral("powerhost")));
    QCOMPARE(other.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!other.linkOpen);

    click(f, "Button29");
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!f.linkOpen && !f.serialLink);
    QVERIFY(!f.Comm1->Opened());
  }

  // An answer the serial component read just before COLSE is not handed to the window after
  // it: not when the port is open again either, where it would meet the next request.
  void aChunkReadBeforeCloseIsNeverDecodedAfterIt() {
    MessageRecorder boxes;
    TestForm f;
    PtyPair line;
    QVERIFY(line.open());
    f.ComboBox1->setEditText(line.slavePath);
    click(f, "Button29");
    QVERIFY(f.linkOpen);
    QStringList shown;
    connect(f.findChild<QLineEdit *>("Edit5"), &QLineEdit::textChanged, [&](const QString &t) { shown << t; });
    click(f, "Button5");
    QCOMPARE(line.read(12, 3000).size(), 12);
    const QByteArray stale = answer(0x40, 0, QByteArray("\x0A\xF8", 2));  // 280.8
    QVERIFY(line.write(stale));
    // read by the component's thread and handed over, not yet taken by the window
    QElapsedTimer t;
    t.start();
    while (f.Comm1->ReceivedBytes() < uint64_t(stale.size()) && t.elapsed() < 3000) QThread::usleep(500);
    QCOMPARE(f.Comm1->ReceivedBytes(), uint64_t(stale.size()));
    QThread::msleep(20);
    click(f, "Button29");  // COLSE
    click(f, "Button29");  // OPEN
    QVERIFY(f.linkOpen);
    click(f, "Button5");
    QCOMPARE(line.read(12, 3000).size(), 12);
    QTest::qWait(100);  // the window takes what waited for it
    QVERIFY(shown.isEmpty());
    QVERIFY(line.write(answer(0x40, 0, QByteArray("\x08\x98", 2))));
    QVERIFY(waitFor([&] { return text(f, "Edit5") == QStringLiteral("220"); }, 3000));
    QCOMPARE(shown, QStringList{"220"});
    QVERIFY(boxes.boxes.isEmpty());
  }

  void theWindowSetsTheWholeLineItself() {
    MessageRecorder boxes;
    TestForm f;
    PtyPair line;
    QVERIFY(line.open(false));  // left as the kernel makes it: echo, line editing, XON/XOFF
    f.ComboBox1->setEditText(line.slavePath);
    click(f, "Button29");
    QVERIFY(f.linkOpen);
    termios t{};
    QCOMPARE(tcgetattr(line.master, &t), 0);
    QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK), tcflag_t(0));
    QCOMPARE(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    QCOMPARE(cfgetospeed(&t), speed_t(B9600));

    // A stray XOFF (0x13) before an answer is data: it shows in the logged chunk, the answer
    // is decoded, and the next request still goes out.
    click(f, "Button5");
    QCOMPARE(line.read(12, 3000), QByteArray("~014006008;\r"));
    QVERIFY(line.write("\x13" + answer(0x40, 0, QByteArray("\x08\x98", 2))));
    QVERIFY(waitFor([&] { return text(f, "Edit5") == QStringLiteral("220"); }, 3000));
    QVERIFY(memoLines(f).filter(QStringLiteral(" 13 7E 30 31")).size() == 1);
    click(f, "Button7");
    QVERIFY(line.read(12, 3000).startsWith("~014008"));
    QVERIFY(boxes.boxes.isEmpty());
  }

  void aVanishedDeviceClosesTheLink() {
    MessageRecorder boxes;
    TestForm f;
    auto line = std::make_unique<PtyPair>();
    QVERIFY(line->open());
    const QString port = line->slavePath;
    f.ComboBox1->setEditText(port);
    click(f, "Button29");
    QVERIFY(f.linkOpen);
    line.reset();  // the adapter is pulled out
    QVERIFY(waitFor([&] { return !f.linkOpen; }, 5000));
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!f.serialLink && f.RadioButton1->isEnabled() && f.RadioButton2->isEnabled());
    QVERIFY(!f.Comm1->Opened());
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY(boxes.boxes[0].first.contains(port));

    // plugged in again (as another device here): OPEN works
    PtyPair again;
    QVERIFY(again.open());
    f.ComboBox1->setEditText(again.slavePath);
    click(f, "Button29");
    QVERIFY(f.linkOpen);
    click(f, "Button5");
    QCOMPARE(again.read(12, 3000), QByteArray("~014006008;\r"));
  }

  void choosingTheChosenLinkAgainChangesNothing() {
    TestForm f;
    setText(f, "Edit12", QStringLiteral("19200"));
    f.RadioButton1->click();
    QCOMPARE(text(f, "Edit12"), QStringLiteral("19200"));
    f.RadioButton2->click();
    QCOMPARE(text(f, "Edit12"), QStringLiteral("5001"));
    setText(f, "Edit12", QStringLiteral("6000"));
    f.RadioButton2->click();
    QCOMPARE(text(f, "Edit12"), QStringLiteral("6000"));
    f.RadioButton1->click();
    QCOMPARE(text(f, "Edit12"), QStringLiteral("9600"));
  }

  void openFailuresLeaveTheLinkClosed() {
    MessageRecorder boxes;
    TestForm f;
    f.ComboBox1->setEditText(QStringLiteral("/dev/does-not-exist"));
    click(f, "Button29");
    QVERIFY(boxes.saw(QStringLiteral("Error opening serial port\n设备不存在"), QStringLiteral("powerhost")));
    QVERIFY(!f.linkOpen);
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    f.ComboBox1->setEditText(QStringLiteral("/dev/null"));
    click(f, "Button29");
    QVERIFY(boxes.saw(QStringLiteral("File handle is not a comm handle "), QStringLiteral("powerhost")));
    QVERIFY(!f.linkOpen);
    setText(f, "Edit12", QStringLiteral("fast"));
    click(f, "Button29");
    QVERIFY(boxes.saw(QStringLiteral("'fast' is not a valid integer value"), QStringLiteral("powerhost")));
    QVERIFY(!f.linkOpen);
  }
};

QTEST_MAIN(TestLinksSerial)
#include "test_links_serial.moc"
