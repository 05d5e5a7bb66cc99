// The parameter pages' tables walked row by row: each row's buttons run its own handlers,
// which send its own CIDs, and the routing drawn from the rows takes each read's answer to the
// row's decoder and each write's to the shared acknowledgement.
#include <QtTest>

#include <QComboBox>
#include <QPushButton>

#include <set>
#include <utility>

#include "pages/ParamTable.h"
#include "protocol/Commands.h"
#include "support/FormFixture.h"
#include "window/Routing.h"

using namespace testsupport;

Q_DECLARE_METATYPE(std::span<const ParamRow>)

class TestParamRows : public QObject {
  Q_OBJECT

  static void pages() {
    QTest::addColumn<std::span<const ParamRow>>("rows");
    QTest::addColumn<QString>("page");
    QTest::newRow("page 1") << params::page1Rows() << QStringLiteral("TabSheet1");
    QTest::newRow("page 2") << params::page2Rows() << QStringLiteral("TabSheet3");
  }

 private slots:
  void init() { SetMessageBoxHook([](const QString &, const QString &) {}); }

  void everyRowRoutesToItsOwnDecoder_data() { pages(); }
  void everyRowRoutesToItsOwnDecoder() {
    QFETCH(std::span<const ParamRow>, rows);
    QVERIFY(rows.size() > 20);
    std::set<int> places;
    for (const ParamRow &row : rows) {
      const QByteArray name = row.control;
      QVERIFY2(row.pos == 0 || places.insert(row.pos).second, name);  // chain places are unique
      QCOMPARE(bool(row.read), bool(row.readButton));
      QCOMPARE(bool(row.write), bool(row.writeButton));
      QVERIFY2(row.read || row.write, name);
      if (row.read) {
        QVERIFY2(row.decoder, name);
        QVERIFY2(findDecoder(row.readCid1(), row.readCid2()) == row.decoder, name);
        QCOMPARE(params::rowIndex(rows, row.read), int(&row - rows.data()));
      } else {
        QVERIFY2(!row.decoder, name);
      }
      if (row.write) {
        QVERIFY2(findDecoder(row.writeCid1(), row.writeCid2()) == &TestForm::mcu_set_option, name);
        QCOMPARE(params::rowIndex(rows, row.write), int(&row - rows.data()));
      }
      // a decoder of its own finds this row (the dry contacts share two, found by contact)
      if (row.decoder && !row.contact) QCOMPARE(params::decoderRow(rows, row.decoder), int(&row - rows.data()));
    }
  }

  // Clicking a row's buttons sends the row's own commands.
  void everyButtonSendsItsRowsCommands_data() { pages(); }
  void everyButtonSendsItsRowsCommands() {
    QFETCH(std::span<const ParamRow>, rows);
    QFETCH(QString, page);
    MessageRecorder boxes;
    TestForm f;
    pretendOpen(f);
    auto *sheet = f.findChild<QWidget *>(page);
    QVERIFY(sheet);
    for (const ParamRow &row : rows) {
      const QByteArray name = row.control;
      if (auto *box = sheet->findChild<QComboBox *>(QString::fromLatin1(row.control))) box->setCurrentIndex(1);
      if (row.readButton) {
        QVERIFY2(sheet->findChild<QPushButton *>(QString::fromLatin1(row.readButton)), row.readButton);
        click(f, row.readButton);
        QCOMPARE(built(f).cid1, int(row.readCid1()));
        QCOMPARE(built(f).cid2, int(row.readCid2()));
      }
      if (row.writeButton) {
        QVERIFY2(sheet->findChild<QPushButton *>(QString::fromLatin1(row.writeButton)), row.writeButton);
        click(f, row.writeButton);
        QCOMPARE(built(f).cid1, int(row.writeCid1()));
        QCOMPARE(built(f).cid2, int(row.writeCid2()));
      }
    }
    QVERIFY(boxes.boxes.isEmpty());
  }

  // Every command the window routes an answer for is in the catalogue: a read with the
  // answer's fixed length (or the module list), a write with an acknowledgement. A parameter
  // read's answer is exactly as long as its row's decoder reads.
  void everyRoutedCommandIsInTheCatalogue() {
    for (const Route &r : allRoutes()) {
      const proto::CommandDef *c = proto::findCommand(r.cid1, r.cid2);
      const QString pair = QStringLiteral("%1/%2").arg(r.cid1, 2, 16, QLatin1Char('0')).arg(r.cid2, 2, 16, QLatin1Char('0'));
      QVERIFY2(c, qPrintable(pair));
      const bool ack = r.decoder == &TestForm::mcu_set_option;
      QVERIFY2(c->kind == (ack ? proto::CommandKind::Write : proto::CommandKind::Read), qPrintable(pair));
      QVERIFY2(ack ? c->shape.kind == proto::AnswerShape::Ack
                   : c->shape.kind == proto::AnswerShape::Fixed || c->command == proto::Command::ModuleList,
               qPrintable(pair));
    }
    for (std::span<const ParamRow> rows : {params::page1Rows(), params::page2Rows()})
      for (const ParamRow &row : rows) {
        if (row.read)
          QVERIFY2(proto::commandDef(row.readCommand).shape == (proto::AnswerShape{proto::AnswerShape::Fixed,
                                                                                  uint8_t(params::bytesNeeded(row.shown))}),
                   row.control);
        if (row.write) QVERIFY2(proto::commandDef(row.writeCommand).kind == proto::CommandKind::Write, row.control);
      }
  }

  // One pair, one decoder: no two routes share a pair, so no row is shadowed by another.
  void routesAreUniqueAndUnknownPairsHaveNone() {
    std::set<std::pair<int, int>> pairs;
    for (const Route &r : allRoutes()) {
      QVERIFY(r.decoder);
      const QString pair = QStringLiteral("%1/%2").arg(r.cid1, 0, 16).arg(r.cid2, 0, 16);
      QVERIFY2(pairs.insert({r.cid1, r.cid2}).second, qPrintable(pair));
    }
    QCOMPARE(findDecoder(0x42, 0xEE), Decoder(nullptr));
    QCOMPARE(findDecoder(0x00, 0x00), Decoder(nullptr));
    // a handler or decoder that is not a row's is found nowhere, and nothing dereferences it
    QCOMPARE(params::rowIndex(params::page1Rows(), &TestForm::Button24Click), -1);
    QCOMPARE(params::rowIndex(params::page2Rows(), TestForm::Handler(nullptr)), -1);
    QCOMPARE(params::decoderRow(params::page1Rows(), &TestForm::mcu_read_record), -1);
    QCOMPARE(params::rowIndex(params::page2Rows(), 99), -1);
    QVERIFY(!params::validRow(params::page1Rows(), -1));
  }
};

QTEST_MAIN(TestParamRows)
#include "test_param_rows.moc"
