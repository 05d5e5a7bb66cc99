// Parameter files without a controller: the keys of the parameter table, values from answers,
// writes from values (each field's limits), the file read back and the comparison.
#include <QtTest>

#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include "protocol/Frame.h"
#include "protocol/ParamFile.h"

using paramfile::Value;

namespace {

const params::ParamDef &row(const char *key) {
  const params::ParamDef *r = paramfile::findKey(QString::fromLatin1(key));
  if (!r) qFatal("no parameter %s", key);
  return *r;
}

QJsonValue json(const QByteArray &text) { return QJsonDocument::fromJson("[" + text + "]").array().at(0); }
QByteArray compact(const QJsonValue &v) { return QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).mid(1).chopped(1); }

QString hex(const std::vector<uint8_t> &data) {
  QString t;
  for (uint8_t b : data) t += QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
  return t;
}

}  // namespace

class TestParamFile : public QObject {
  Q_OBJECT
 private slots:
  void everyParameterHasOneStableKey() {
    static const QRegularExpression snake(QStringLiteral("^[a-z][a-z0-9]*(_[a-z0-9]+)*$"));
    QSet<QString> keys;
    int clocks = 0;
    for (const params::ParamDef &r : params::paramRows()) {
      const QString key = QString::fromLatin1(r.key);
      QVERIFY2(snake.match(key).hasMatch(), r.key);
      QVERIFY2(!keys.contains(key), r.key);
      keys << key;
      QCOMPARE(paramfile::findKey(key), &r);
      QVERIFY(r.unit != nullptr);
      clocks += paramfile::isClock(r) ? 1 : 0;
      QCOMPARE(paramfile::isClock(r), r.shown == params::Shown::Clock);
    }
    QCOMPARE(clocks, 1);
    QCOMPARE(int(paramfile::fileParams().size()), 59);  // every read of both pages, the module count too
    for (const char *key : {"float_voltage", "equalize_voltage", "battery_capacity", "dry_contact_1_type", "module_count"})
      QVERIFY2(paramfile::findKey(QString::fromLatin1(key)), key);
  }

  void valuesOfAnswers_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("value");  // compact JSON; empty: no value
    QTest::newRow("x100") << QByteArray("float_voltage") << QByteArray("\x14\xE6") << QByteArray("53.5");
    QTest::newRow("x10") << QByteArray("ac_over_voltage") << QByteArray("\x08\x98") << QByteArray("220");
    QTest::newRow("sign and magnitude") << QByteArray("battery_low_temperature") << QByteArray("\x80\x69") << QByteArray("-10.5");
    QTest::newRow("one byte of two") << QByteArray("sleep_interval") << QByteArray("\x01\x2C") << QByteArray("1");
    QTest::newRow("flag not zero") << QByteArray("temperature_compensation") << QByteArray("\x02") << QByteArray("1");
    QTest::newRow("flag one") << QByteArray("periodic_equalize") << QByteArray("\x02") << QByteArray("0");
    QTest::newRow("buzzer") << QByteArray("buzzer") << QByteArray("\x07") << QByteArray(R"({"code":2,"text":"本次关"})");
    QTest::newRow("language") << QByteArray("display_language") << QByteArray("\x02") << QByteArray(R"({"code":1,"text":"英语"})");
    QTest::newRow("contact type") << QByteArray("dry_contact_2_type") << QByteArray("\x02\x0D") << QByteArray(R"({"code":13,"text":"防雷"})");
    QTest::newRow("contact code past the list") << QByteArray("dry_contact_2_type") << QByteArray("\x02\x14") << QByteArray();
    QTest::newRow("clock") << QByteArray("controller_clock") << QByteArray("\x02\x07\x09\x05\x03\x03\x18", 7)
                           << QByteArray(R"("2024-03-05 09:07:02")");
    QTest::newRow("short") << QByteArray("float_voltage") << QByteArray("\x14") << QByteArray();
    QTest::newRow("module count") << QByteArray("module_count") << QByteArray("\x00\x04", 2) << QByteArray("4");
  }
  void valuesOfAnswers() {
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, value);
    const std::vector<uint8_t> bytes(data.begin(), data.end());
    const std::optional<Value> v = paramfile::valueOfAnswer(row(key.constData()), bytes);
    QCOMPARE(v.has_value(), !value.isEmpty());
    if (v) QCOMPARE(compact(paramfile::toJson(*v)), value);
  }

  // A file's value turned into its write's data, or refused with why.
  void writesOfValues_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("data");  // hex, or the refusal's words
    QTest::newRow("x100") << QByteArray("float_voltage") << QByteArray("53.5") << "14E6";
    QTest::newRow("x100 two decimals") << QByteArray("float_voltage") << QByteArray("53.55") << "14EB";
    QTest::newRow("x100 three decimals") << QByteArray("float_voltage") << QByteArray("53.555") << "at most 2 decimals";
    QTest::newRow("x100 top") << QByteArray("float_voltage") << QByteArray("655.35") << "FFFF";
    QTest::newRow("x100 past the field") << QByteArray("float_voltage") << QByteArray("655.36") << "outside 0..655.35";
    QTest::newRow("x10 negative") << QByteArray("ac_over_current") << QByteArray("-1") << "outside";
    QTest::newRow("tenths signed") << QByteArray("battery_low_temperature") << QByteArray("-10.5") << "8069";
    QTest::newRow("whole signed") << QByteArray("battery_low_temperature") << QByteArray("45") << "01C2";
    QTest::newRow("signed past the field") << QByteArray("battery_low_temperature") << QByteArray("3276.8") << "-3276.7 to 3276.7";
    QTest::newRow("integer") << QByteArray("battery_capacity") << QByteArray("1000") << "03E8";
    QTest::newRow("integer fraction") << QByteArray("battery_capacity") << QByteArray("100.5") << "outside";
    QTest::newRow("one byte") << QByteArray("sleep_interval") << QByteArray("255") << "00FF";
    QTest::newRow("one byte past") << QByteArray("sleep_interval") << QByteArray("256") << "0 to 255";
    QTest::newRow("flag") << QByteArray("fast_charge") << QByteArray("1") << "01";
    QTest::newRow("flag two") << QByteArray("fast_charge") << QByteArray("2") << "0 or 1";
    QTest::newRow("buzzer") << QByteArray("buzzer") << QByteArray(R"({"code":2,"text":"本次关"})") << "02";
    QTest::newRow("contact type") << QByteArray("dry_contact_3_type") << QByteArray(R"({"code":10,"text":"门禁"})") << "030A";
    QTest::newRow("contact state") << QByteArray("dry_contact_4_state") << QByteArray(R"({"code":1})") << "0401";
    QTest::newRow("contact past") << QByteArray("dry_contact_4_state") << QByteArray(R"({"code":2})") << "a code from 0 to 1";
    QTest::newRow("item's text") << QByteArray("buzzer") << QByteArray(R"({"code":0,"text":"开启"})") << "not \"开启\"";
    QTest::newRow("module count") << QByteArray("module_count") << QByteArray("12") << "000C";
    QTest::newRow("read-only") << QByteArray("display_language") << QByteArray(R"({"code":1})") << "read-only";
    QTest::newRow("clock") << QByteArray("controller_clock") << QByteArray(R"("2024-03-05 09:07:02")") << "never written";
    QTest::newRow("text for a number") << QByteArray("float_voltage") << QByteArray(R"("53.5")") << "a number is needed";
  }
  void writesOfValues() {
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QString, data);
    const params::ParamDef &r = row(key.constData());
    QString why;
    std::optional<Value> v = paramfile::fromJson(r, json(value), &why);
    std::optional<std::vector<uint8_t>> written;
    if (v) written = paramfile::writeData(r, *v, &why);
    if (written) {
      QCOMPARE(hex(*written), data);
    } else {
      QVERIFY2(why.contains(data), qPrintable(why));
    }
  }

  // What the command line takes after NAME=: a number, or a list's code or text.
  void valuesFromText_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("value");  // empty: refused
    QTest::newRow("number") << QByteArray("float_voltage") << "54.2" << QByteArray("54.2");
    QTest::newRow("item by text") << QByteArray("dry_contact_1_type") << "防雷" << QByteArray(R"({"code":13,"text":"防雷"})");
    QTest::newRow("item by code") << QByteArray("dry_contact_1_type") << "13" << QByteArray(R"({"code":13,"text":"防雷"})");
    QTest::newRow("no such item") << QByteArray("dry_contact_1_type") << "19" << QByteArray();
    QTest::newRow("not a number") << QByteArray("float_voltage") << "5e1" << QByteArray();
    QTest::newRow("blank") << QByteArray("float_voltage") << "" << QByteArray();
    QTest::newRow("negative") << QByteArray("battery_low_temperature") << "-5" << QByteArray("-5");
  }
  void valuesFromText() {
    QFETCH(QByteArray, key);
    QFETCH(QString, text);
    QFETCH(QByteArray, value);
    QString why;
    const std::optional<Value> v = paramfile::valueFromText(row(key.constData()), text, &why);
    QCOMPARE(v.has_value(), !value.isEmpty());
    if (v) QCOMPARE(compact(paramfile::toJson(*v)), value);
    else QVERIFY(!why.isEmpty());
  }

  // Written and read back: the same values; unknown keys reported, missing ones absent; the
  // clock never a difference.
  void fileRoundTripAndComparison() {
    paramfile::File file;
    file.controller = QStringLiteral("tcp://127.0.0.1:5001?address=1");
    file.readAt = QStringLiteral("2026-12-08T07:30:00+08:00");
    // in the table's order, as a file is read back
    file.values = {{&row("float_voltage"), *paramfile::fromJson(row("float_voltage"), 53.5, nullptr)},
                   {&row("buzzer"), *paramfile::fromJson(row("buzzer"), json(R"({"code":1})"), nullptr)},
                   {&row("controller_clock"), *paramfile::fromJson(row("controller_clock"), QStringLiteral("2026-12-08 07:30:00"), nullptr)}};
    QJsonObject o = QJsonDocument::fromJson(paramfile::fileText(file)).object();
    QCOMPARE(o.value(QStringLiteral("format")).toInt(), 1);
    QJsonObject values = o.value(QStringLiteral("parameters")).toObject();
    values.insert(QStringLiteral("from_a_later_version"), 7);
    o.insert(QStringLiteral("parameters"), values);
    const paramfile::Parsed back = paramfile::parseFile(QJsonDocument(o).toJson());
    QVERIFY2(back.file, qPrintable(back.error));
    QCOMPARE(back.unknownKeys, QStringList{QStringLiteral("from_a_later_version")});
    QCOMPARE(back.file->controller, file.controller);
    QCOMPARE(back.file->readAt, file.readAt);
    QCOMPARE(back.file->values.size(), std::size_t(3));
    for (std::size_t i = 0; i < 3; ++i) {
      QCOMPARE(back.file->values[i].row, file.values[i].row);
      QCOMPARE(back.file->values[i].value, file.values[i].value);
    }

    std::vector<paramfile::Entry> controller = {
        {&row("float_voltage"), *paramfile::fromJson(row("float_voltage"), 53.50, nullptr)},
        {&row("controller_clock"), *paramfile::fromJson(row("controller_clock"), QStringLiteral("2030-01-01 00:00:00"), nullptr)},
        {&row("buzzer"), *paramfile::fromJson(row("buzzer"), json(R"({"code":2})"), nullptr)}};
    auto rows = paramfile::compare(*back.file, controller);
    QCOMPARE(paramfile::differenceCount(rows), 1);  // the buzzer; never the clock
    QVERIFY(!rows[0].differs && rows[1].differs && !rows[2].differs);
    controller.pop_back();  // the buzzer not read: a difference
    rows = paramfile::compare(*back.file, controller);
    QVERIFY(rows[1].differs && !rows[1].controller);
  }
};

QTEST_GUILESS_MAIN(TestParamFile)
#include "test_param_file.moc"
