// The serial link end to end: the window opens a pseudo-terminal typed into the port box and
// the test plays the controller on the other end.
#include <QtTest>

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include "link/Comm.h"
#include "support/FormFixture.h"
#include "support/Pty.h"

using namespace testsupport;

class TestLinksSerial : public QObject {
  Q_OBJECT
 private slots:
  void exchangesFramesOverTheLine() {
    MessageRecorder boxes;
    TForm1 f;
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
    TForm1 other;
    other.ComboBox1->setEditText(line.slavePath);
    click(other, "Button29");
    QVERIFY(boxes.saw(QStringLiteral("Error opening serial port"), QStringLiteral("powerhost")));
    QCOMPARE(other.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!other.linkOpen);

    click(f, "Button29");
    QCOMPARE(f.Button29->text(), QStringLiteral("OPEN"));
    QVERIFY(!f.linkOpen && !f.serialLink);
    QVERIFY(!f.Comm1->Opened());
  }

  void openFailuresLeaveTheLinkClosed() {
    MessageRecorder boxes;
    TForm1 f;
    f.ComboBox1->setEditText(QStringLiteral("/dev/does-not-exist"));
    click(f, "Button29");
    QVERIFY(boxes.saw(QStringLiteral("Error opening serial port"), QStringLiteral("powerhost")));
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
