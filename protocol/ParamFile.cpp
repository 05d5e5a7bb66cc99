#include "protocol/ParamFile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

#include "protocol/Conversions.h"
#include "protocol/Frame.h"

namespace paramfile {

using params::Control;
using params::Encoding;
using params::Shown;

namespace {

QString keyOf(const ParamDef &row) { return QString::fromLatin1(row.key); }

// The number's text as the window would show it: no exponent, no trailing zeros.
QString numberText(double v) { return proto::formatGeneral(v); }

// The raw value of a number for an edit row: the row's scale, its field, and no more
// decimals than the field holds (a file never loses digits silently).
std::optional<int> rawOfNumber(const ParamDef &row, double number, QString *why) {
  auto refuse = [&](const QString &text) -> std::optional<int> {
    if (why) *why = text;
    return std::nullopt;
  };
  if (!std::isfinite(number)) return refuse(QStringLiteral("not a number"));
  const QString text = numberText(number);
  if (row.shown == Shown::Int8) {
    // the controller keeps one byte: a larger number could never be read back
    if (number < 0 || number > 255 || number != std::floor(number))
      return refuse(QStringLiteral("%1 is not a whole number from 0 to 255").arg(text));
    return int(number);
  }
  if (row.encoding == Encoding::WholeX10Signed) {
    // tenths in sign and magnitude, as the controller reads them back
    const double tenths = std::round(number * 10);
    if (std::abs(number * 10 - tenths) > 1e-6 || std::abs(tenths) > 0x7FFF)
      return refuse(QStringLiteral("%1 is not a number from -3276.7 to 3276.7 in tenths").arg(text));
    const int magnitude = int(std::abs(tenths));
    return tenths < 0 ? 0x8000 | magnitude : magnitude;
  }
  const std::optional<int> raw = params::rawFromText(row, text);
  if (!raw || params::writtenText(row.encoding, *raw) != text) {
    const std::optional<params::Range> range = params::fieldRange(row.encoding);
    const QString allowed = range ? numberText(range->shownMin) + QStringLiteral("..") + numberText(range->shownMax)
                                  : QString();
    const int decimals = row.encoding == Encoding::X10 ? 1 : row.encoding == Encoding::X100 ? 2 : 0;
    return refuse(QStringLiteral("%1 is outside %2 with at most %3 decimals").arg(text, allowed).arg(decimals));
  }
  return raw;
}

}  // namespace

std::vector<const ParamDef *> fileParams() {
  std::vector<const ParamDef *> rows;
  for (const ParamDef &row : params::paramRows())
    if (row.reads()) rows.push_back(&row);
  return rows;
}

const ParamDef *findKey(const QString &key) {
  for (const ParamDef &row : params::paramRows())
    if (key == QLatin1String(row.key)) return &row;
  return nullptr;
}

bool isClock(const ParamDef &row) { return QByteArrayView(row.key).contains("clock"); }

bool switchesOn(const ParamDef &row, int raw) { return row.confirmOn != nullptr && raw != 0; }

std::vector<uint8_t> readData(const ParamDef &row) {
  if (row.contact > 0) return {uint8_t(row.contact)};
  return {};
}

std::optional<Value> valueOfAnswer(const ParamDef &row, std::span<const uint8_t> data, QString *why) {
  const std::optional<params::ParamValue> v = params::decodeParam(row, data);
  if (!v) {
    if (why) *why = QStringLiteral("the answer is short");
    return std::nullopt;
  }
  Value value;
  switch (row.kind) {
    case Control::Edit:
      if (row.shown == Shown::Clock) {
        value.kind = Value::Kind::Text;
        value.text = v->text;
      } else {
        value.number = v->text.toDouble();
      }
      break;
    case Control::Check: value.number = v->on ? 1 : 0; break;
    case Control::Combo:
      if (v->index < 0) {
        if (why) *why = QStringLiteral("the controller holds a code no item of the list has");
        return std::nullopt;
      }
      value.kind = Value::Kind::Item;
      value.code = v->index;
      value.text = v->text;
      break;
  }
  return value;
}

std::optional<int> rawOf(const ParamDef &row, const Value &value, QString *why) {
  auto refuse = [why](const QString &text) -> std::optional<int> {
    if (why) *why = text;
    return std::nullopt;
  };
  if (isClock(row)) return refuse(QStringLiteral("the clock is never written from a file"));
  switch (row.kind) {
    case Control::Edit:
      if (value.kind != Value::Kind::Number) return refuse(QStringLiteral("a number is needed"));
      return rawOfNumber(row, value.number, why);
    case Control::Check:
      if (value.kind != Value::Kind::Number || (value.number != 0 && value.number != 1))
        return refuse(QStringLiteral("0 or 1 is needed"));
      return int(value.number);
    case Control::Combo: {
      const QStringList items = params::comboItems(row.shown);
      if (value.kind != Value::Kind::Item || value.code < 0 || value.code >= items.size())
        return refuse(QStringLiteral("a code from 0 to %1 is needed").arg(items.size() - 1));
      if (!value.text.isEmpty() && value.text != items[value.code])
        return refuse(QStringLiteral("code %1 is \"%2\", not \"%3\"").arg(value.code).arg(items[value.code], value.text));
      return value.code;
    }
  }
  return refuse(QStringLiteral("cannot be written"));
}

std::optional<std::vector<uint8_t>> writeData(const ParamDef &row, const Value &value, QString *why) {
  if (!row.writes()) {
    if (why) *why = QStringLiteral("read-only");
    return std::nullopt;
  }
  const std::optional<int> raw = rawOf(row, value, why);
  if (!raw) return std::nullopt;
  const std::optional<QString> hex = params::encodeParam(row, *raw);
  const auto bytes = hex ? proto::hexBytes(hex->toStdString()) : std::nullopt;
  if (!bytes) {
    if (why) *why = QStringLiteral("outside the parameter's field");
    return std::nullopt;
  }
  return *bytes;
}

bool sameValue(const ParamDef &row, const Value &a, const Value &b) {
  if (isClock(row)) return true;
  const std::optional<int> ra = rawOf(row, a), rb = rawOf(row, b);
  if (ra && rb) return *ra == *rb;
  return a == b;
}

QString valueText(const Value &value) {
  switch (value.kind) {
    case Value::Kind::Number: return numberText(value.number);
    case Value::Kind::Item: return QString::number(value.code) + QLatin1Char(' ') + value.text;
    case Value::Kind::Text: return value.text;
  }
  return QString();
}

std::optional<Value> valueFromText(const ParamDef &row, const QString &text, QString *why) {
  const QString t = text.trimmed();
  Value value;
  if (isClock(row)) {
    if (why) *why = QStringLiteral("the clock is set from the window (校准), not by value");
    return std::nullopt;
  }
  if (row.kind == Control::Combo) {
    const QStringList items = params::comboItems(row.shown);
    bool ok = false;
    const int code = t.toInt(&ok);
    value.kind = Value::Kind::Item;
    value.code = ok ? code : int(items.indexOf(t));
    if (value.code < 0 || value.code >= items.size()) {
      if (why) *why = QStringLiteral("\"%1\" is none of: %2").arg(t, items.join(QStringLiteral(", ")));
      return std::nullopt;
    }
    value.text = items[value.code];
    return value;
  }
  static const QRegularExpression decimal(QStringLiteral("^-?[0-9]+(\\.[0-9]+)?$"));
  if (!decimal.match(t).hasMatch()) {
    if (why) *why = QStringLiteral("\"%1\" is not a number").arg(t);
    return std::nullopt;
  }
  const double number = t.toDouble();
  value.number = number;
  if (row.writes() && !rawOf(row, value, why)) return std::nullopt;
  return value;
}

QJsonValue toJson(const Value &value) {
  switch (value.kind) {
    case Value::Kind::Number: return value.number;
    case Value::Kind::Item: return QJsonObject{{QStringLiteral("code"), value.code}, {QStringLiteral("text"), value.text}};
    case Value::Kind::Text: return value.text;
  }
  return QJsonValue();
}

std::optional<Value> fromJson(const ParamDef &row, const QJsonValue &json, QString *why) {
  Value value;
  auto refuse = [why](const QString &text) -> std::optional<Value> {
    if (why) *why = text;
    return std::nullopt;
  };
  if (isClock(row)) {
    if (!json.isString()) return refuse(QStringLiteral("the clock is a text such as \"2026-12-08 07:30:00\""));
    value.kind = Value::Kind::Text;
    value.text = json.toString();
    return value;
  }
  if (row.kind == Control::Combo) {
    const QJsonObject o = json.toObject();
    const QJsonValue code = json.isObject() ? o.value(QStringLiteral("code")) : json;
    if (!code.isDouble() || code.toDouble() != std::floor(code.toDouble()))
      return refuse(QStringLiteral("a list item is {\"code\": N, \"text\": \"…\"}"));
    value.kind = Value::Kind::Item;
    value.code = code.toInt(-1);
    value.text = o.value(QStringLiteral("text")).toString();
    if (!rawOf(row, value, why)) return std::nullopt;
    value.text = params::comboItems(row.shown).value(value.code);
    return value;
  }
  if (!json.isDouble()) return refuse(QStringLiteral("a number is needed"));
  value.number = json.toDouble();
  if (!rawOf(row, value, why)) return std::nullopt;
  return value;
}

QByteArray fileText(const File &file) {
  QJsonObject parameters;
  for (const Entry &e : file.values) parameters[keyOf(*e.row)] = toJson(e.value);
  const QJsonObject o{{QStringLiteral("format"), file.format},
                      {QStringLiteral("controller"), file.controller},
                      {QStringLiteral("read_at"), file.readAt},
                      {QStringLiteral("parameters"), parameters}};
  return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

Parsed parseFile(const QByteArray &bytes) {
  Parsed p;
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
  if (doc.isNull()) {
    p.error = QStringLiteral("not a JSON file: %1 at byte %2").arg(error.errorString()).arg(error.offset);
    return p;
  }
  if (!doc.isObject()) {
    p.error = QStringLiteral("not a parameter file: the file is not one JSON object");
    return p;
  }
  const QJsonObject o = doc.object();
  const QJsonValue format = o.value(QStringLiteral("format"));
  if (!format.isDouble() || format.toDouble() != kFormat) {
    p.error = format.isUndefined() ? QStringLiteral("not a parameter file: it has no \"format\"")
                                   : QStringLiteral("\"format\" %1 is not known (this program reads %2)")
                                         .arg(format.toVariant().toString())
                                         .arg(kFormat);
    return p;
  }
  const QJsonValue parameters = o.value(QStringLiteral("parameters"));
  if (!parameters.isObject()) {
    p.error = QStringLiteral("not a parameter file: \"parameters\" is not an object");
    return p;
  }
  File file;
  file.controller = o.value(QStringLiteral("controller")).toString();
  file.readAt = o.value(QStringLiteral("read_at")).toString();
  const QJsonObject values = parameters.toObject();
  QStringList problems;
  for (auto it = values.begin(); it != values.end(); ++it) {
    const ParamDef *row = findKey(it.key());
    if (!row || !row->reads()) {
      p.unknownKeys << it.key();
      continue;
    }
    QString why;
    const std::optional<Value> v = fromJson(*row, it.value(), &why);
    if (!v) problems << it.key() + QStringLiteral(": ") + why;
  }
  if (!problems.isEmpty()) {
    p.error = problems.join(QStringLiteral("; "));
    return p;
  }
  for (const ParamDef *row : fileParams()) {
    const QJsonValue json = values.value(keyOf(*row));
    if (json.isUndefined()) continue;  // a parameter the file lacks is not written
    file.values.push_back({row, *fromJson(*row, json, nullptr)});
  }
  p.file = std::move(file);
  return p;
}

std::vector<Comparison> compare(const File &file, const std::vector<Entry> &controller) {
  std::vector<Comparison> rows;
  for (const Entry &e : file.values) {
    Comparison c{e.row, e.value, std::nullopt, true};
    for (const Entry &got : controller)
      if (got.row == e.row) c.controller = got.value;
    c.differs = !isClock(*e.row) && (!c.controller || !sameValue(*e.row, e.value, *c.controller));
    rows.push_back(std::move(c));
  }
  return rows;
}

int differenceCount(const std::vector<Comparison> &rows) {
  int n = 0;
  for (const Comparison &c : rows) n += c.differs ? 1 : 0;
  return n;
}

QString outcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::Confirmed: return QStringLiteral("written and confirmed");
    case Outcome::Refused: return QStringLiteral("refused by the controller");
    case Outcome::NoAnswer: return QStringLiteral("no answer");
    case Outcome::Mismatch: return QStringLiteral("written, but read back as another value");
    case Outcome::NeedsOwnConfirmation: return QStringLiteral("not written: it starts equipment and needs its own confirmation");
    case Outcome::ReadOnly: return QStringLiteral("not written: read-only");
    case Outcome::NotSent: return QStringLiteral("not sent");
  }
  return QString();
}

QString outcomeTextChinese(Outcome outcome) {
  switch (outcome) {
    case Outcome::Confirmed: return QStringLiteral("已写入并确认");
    case Outcome::Refused: return QStringLiteral("控制器拒绝");
    case Outcome::NoAnswer: return QStringLiteral("无应答");
    case Outcome::Mismatch: return QStringLiteral("已写入，读回不符");
    case Outcome::NeedsOwnConfirmation: return QStringLiteral("未写入：需单独确认");
    case Outcome::ReadOnly: return QStringLiteral("未写入：只读");
    case Outcome::NotSent: return QStringLiteral("未发送");
  }
  return QString();
}

}  // namespace paramfile
