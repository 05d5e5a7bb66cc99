// The parameter pages' tables walked row by row: each row's buttons run its own handlers,
// which send its own CIDs, and the routing drawn from the rows takes each read's answer to the
// row's decoder and each write's to the shared acknowledgement.
#include <QtTest>

#include <QComboBox>
#include <QPushButton>

#include <set>
#include <string>
#include <utility>

#include "pages/ParamTable.h"
#include "protocol/Commands.h"
#include "protocol/ParamRows.h"
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
      QCOMPARE(row.reads(), bool(row.readButton));
      QCOMPARE(row.writes(), bool(row.writeButton));
      QVERIFY2(row.reads() || row.writes(), name);
      // a named handler is the design's; a row without one works by the table alone
      if (row.read) QVERIFY2(row.reads(), name);
      if (row.write) QVERIFY2(row.writes(), name);
      if (row.reads()) {
        const Decoder expected = row.decoder ? row.decoder : &TestForm::paramAnswer;
        QVERIFY2(findDecoder(row.readCid1(), row.readCid2()) == expected, name);
        if (row.read) QCOMPARE(params::rowIndex(rows, row.read), int(&row - rows.data()));
      } else {
        QVERIFY2(!row.decoder, name);
      }
      if (row.writes()) {
        QVERIFY2(findDecoder(row.writeCid1(), row.writeCid2()) == &TestForm::mcu_set_option, name);
        if (row.write) QCOMPARE(params::rowIndex(rows, row.write), int(&row - rows.data()));
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
        if (row.reads())
          QVERIFY2(proto::commandDef(row.readCommand).shape == (proto::AnswerShape{proto::AnswerShape::Fixed,
                                                                                  uint8_t(params::bytesNeeded(row.shown))}),
                   row.control);
        if (row.writes()) QVERIFY2(proto::commandDef(row.writeCommand).kind == proto::CommandKind::Write, row.control);
      }
  }

  // The table without widgets: a command line decodes an answer's data bytes and encodes a
  // write by the same rows the window draws.
  void decodeParamShowsWhatTheWindowShows_data() {
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("decoded");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::newRow("x10") << QByteArray("Edit5") << QByteArray("\x08\xA6", 2) << true << "221.4" << -1;
    QTest::newRow("x100") << QByteArray("Edit36") << QByteArray("\x14\xEB", 2) << true << "53.55" << -1;
    QTest::newRow("sign and magnitude") << QByteArray("Edit64") << QByteArray("\x80\x32", 2) << true << "-5" << -1;
    QTest::newRow("int8 ignores a second byte") << QByteArray("Edit26") << QByteArray("\x07\x09", 2) << true << "7" << -1;
    QTest::newRow("flag non-zero") << QByteArray("CheckBox1") << QByteArray("\x02", 1) << true << "1" << -1;
    QTest::newRow("flag one only") << QByteArray("CheckBox5") << QByteArray("\x02", 1) << true << "0" << -1;
    QTest::newRow("buzzer past the list") << QByteArray("ComboBox3") << QByteArray("\x07", 1) << true << "本次关" << 2;
    QTest::newRow("language") << QByteArray("ComboBox27") << QByteArray("\x02", 1) << true << "英语" << 1;
    QTest::newRow("contact type") << QByteArray("ComboBox4") << QByteArray("\x01\x0D", 2) << true << "防雷" << 13;
    QTest::newRow("contact code past the list") << QByteArray("ComboBox8") << QByteArray("\x01\x05", 2) << true << "" << -1;
    QTest::newRow("clock") << QByteArray("Edit25") << QByteArray("\x05\x04\x03\x02\x01\x0C\x18", 7) << true
                           << "2024-12-02 03:04:05" << -1;
    QTest::newRow("short word") << QByteArray("Edit36") << QByteArray("\x14", 1) << false << "" << -1;
    QTest::newRow("short clock") << QByteArray("Edit25") << QByteArray("\x05\x04", 2) << false << "" << -1;
    QTest::newRow("empty flag") << QByteArray("CheckBox1") << QByteArray() << false << "" << -1;
    QTest::newRow("write-only row") << QByteArray("CheckBox4") << QByteArray("\x01", 1) << false << "" << -1;
  }
  void decodeParamShowsWhatTheWindowShows() {
    QFETCH(QByteArray, control);
    QFETCH(QByteArray, data);
    QFETCH(bool, decoded);
    const params::ParamDef *row = params::findParam(control.constData());
    QVERIFY(row);
    const auto value = params::decodeParam(*row, std::span(reinterpret_cast<const uint8_t *>(data.constData()),
                                                            std::size_t(data.size())));
    QCOMPARE(bool(value), decoded);
    if (!value) return;
    QTEST(value->text, "text");
    QTEST(value->index, "index");
  }

  void encodeParamRefusesWhatItCannotSend_data() {
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QString>("text");  // what an operator typed; empty: value is given
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("data");  // empty: refused
    QTest::newRow("x100") << QByteArray("Edit36") << "53.55" << 0 << "14EB";
    QTest::newRow("x100 drops further decimals") << QByteArray("Edit36") << "53.559" << 0 << "14EB";
    QTest::newRow("x10 largest") << QByteArray("Edit5") << "6553.5" << 0 << "FFFF";
    QTest::newRow("x10 past the word") << QByteArray("Edit5") << "6553.6" << 0 << "";
    QTest::newRow("no number") << QByteArray("Edit5") << "abc" << 0 << "";
    QTest::newRow("negative integer") << QByteArray("Edit39") << "-1" << 0 << "";
    QTest::newRow("integer") << QByteArray("Edit39") << "300" << 0 << "012C";
    QTest::newRow("sign and magnitude") << QByteArray("Edit64") << "-5" << 0 << "8032";
    QTest::newRow("sign and magnitude past 15 bits") << QByteArray("Edit64") << "3277" << 0 << "";
    QTest::newRow("flag") << QByteArray("CheckBox1") << "" << 1 << "01";
    QTest::newRow("flag not 0 or 1") << QByteArray("CheckBox1") << "" << 2 << "";
    QTest::newRow("buzzer") << QByteArray("ComboBox3") << "" << 2 << "02";
    QTest::newRow("buzzer past the list") << QByteArray("ComboBox3") << "" << 3 << "";
    QTest::newRow("contact 3 type") << QByteArray("ComboBox7") << "" << 18 << "0312";
    QTest::newRow("contact type past the list") << QByteArray("ComboBox7") << "" << 19 << "";
    QTest::newRow("contact state none chosen") << QByteArray("ComboBox9") << "" << -1 << "";
    QTest::newRow("read-only row") << QByteArray("ComboBox27") << "" << 0 << "";
    QTest::newRow("clock is set from the time") << QByteArray("Edit25") << "" << 0 << "";
  }
  void encodeParamRefusesWhatItCannotSend() {
    QFETCH(QByteArray, control);
    QFETCH(QString, text);
    QFETCH(int, value);
    QFETCH(QString, data);
    const params::ParamDef *row = params::findParam(control.constData());
    QVERIFY(row);
    if (!text.isEmpty()) {
      const std::optional<int> raw = params::rawFromText(*row, text);
      QCOMPARE(bool(raw), !data.isEmpty());
      if (!raw) return;
      value = *raw;
    }
    QCOMPARE(params::encodeParam(*row, value).value_or(QString()), data);
  }

  // Each page's rows are together in the table, every control names one row, and the
  // refreshes are as long as their steps: 31 on page 1, 30 on page 2 (three of them page-1
  // rows), with no step missing.
  void tableShape() {
    QCOMPARE(params::pageParams(1).size() + params::pageParams(2).size(), params::paramRows().size());
    QVERIFY(params::pageParams(3).empty());
    std::set<std::string> controls;
    for (const params::ParamDef &row : params::paramRows()) {
      QVERIFY2(controls.insert(row.control).second, row.control);
      QCOMPARE(params::findParam(row.control), &row);
      QCOMPARE(row.reads(), bool(row.readButton));
      QCOMPARE(row.writes(), bool(row.writeButton));
    }
    QCOMPARE(params::findParam("Edit999"), nullptr);
    QCOMPARE(params::findParam(nullptr), nullptr);
    QCOMPARE(params::refreshLength(1), 31);
    QCOMPARE(params::refreshLength(2), 30);
    QCOMPARE(params::refreshStep(2, 15)->page, 1);
    QCOMPARE(params::refreshStep(2, 31), nullptr);
    QCOMPARE(params::refreshStep(1, 0), nullptr);
    QCOMPARE(params::clockSetData(2024, 12, 2, 3, 4, 5), QStringLiteral("0504030201" "0C18"));
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
