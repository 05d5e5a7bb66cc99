// Parameter files: every parameter of the two parameter pages read into one JSON file, to back
// a controller up, compare it with the file and restore it. The parameters are the rows of
// protocol/ParamRows.h, named by their stable keys; a value is kept in the file's terms (a
// number in the parameter's unit, or a list item's code and text) and turned into a write by
// the row's own encoding. Pure: no I/O.
//
// The file, UTF-8:
//   {
//     "format": 1,
//     "controller": "tcp://127.0.0.1:5001?address=1",
//     "read_at": "2026-12-08T07:30:00+08:00",
//     "parameters": {
//       "float_voltage": 53.5,                              a number in the unit
//       "temperature_compensation": 1,                      a flag: 0 or 1
//       "dry_contact_1_type": {"code": 13, "text": "防雷"},  a list item
//       "controller_clock": "2026-12-08 07:30:00"           the clock, as read
//     }
//   }
// The clock is read and saved with the others, but never written from a file and never
// counted as a difference. The display language is read-only: saved and compared, never
// written.
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/ParamRows.h"

namespace paramfile {

using params::ParamDef;

constexpr int kFormat = 1;

// The rows a file holds: every row with a read, in the tables' order.
std::vector<const ParamDef *> fileParams();
// The row of a key, the write-only rows included; nullptr for a key no row has.
const ParamDef *findKey(const QString &key);
// The controller's clock: read and saved, never written from a file, never a difference.
bool isClock(const ParamDef &row);
// A write that switches equipment on (an equalize charge, a battery test): never written
// from a file without its own confirmation.
bool switchesOn(const ParamDef &row, int raw);

// A value in the file's terms.
struct Value {
  enum class Kind { Number, Item, Text } kind = Kind::Number;
  double number = 0;  // Number: in the parameter's unit (a flag is 0 or 1)
  int code = -1;      // Item: the item's code
  QString text;       // Item: the item's text; Text: the clock as read
  bool operator==(const Value &) const = default;
};

// A read's request data (a dry contact's number; nothing for the others).
std::vector<uint8_t> readData(const ParamDef &row);
// The value of a read's answer; nothing when the data bytes are too few or hold a code no
// item of the list has (why says which).
std::optional<Value> valueOfAnswer(const ParamDef &row, std::span<const uint8_t> data, QString *why = nullptr);
// The raw value the row's write sends for a value (a number scaled, a flag 0/1, an item's
// code); nothing, with why, for a value outside the parameter's field or of the wrong kind.
// The clock has no raw value.
std::optional<int> rawOf(const ParamDef &row, const Value &value, QString *why = nullptr);
// The data bytes of the row's write of a value; nothing, with why, when it cannot be written.
std::optional<std::vector<uint8_t>> writeData(const ParamDef &row, const Value &value, QString *why = nullptr);
// Whether the controller's value and the file's are the same setting (the clock always is).
bool sameValue(const ParamDef &row, const Value &a, const Value &b);
// For people: "53.5", "1", "13 防雷", the clock's text.
QString valueText(const Value &value);
// A value typed after NAME= on the command line: a number; for a list its code or its text.
std::optional<Value> valueFromText(const ParamDef &row, const QString &text, QString *why);

QJsonValue toJson(const Value &value);
// A file's value for the row, checked against the parameter's field; nothing, with why.
std::optional<Value> fromJson(const ParamDef &row, const QJsonValue &json, QString *why);

struct Entry {
  const ParamDef *row;
  Value value;
};
struct File {
  int format = kFormat;
  QString controller;  // the link and address it was read from
  QString readAt;      // ISO 8601 with the zone
  std::vector<Entry> values;  // in the tables' order
};
QByteArray fileText(const File &file);
struct Parsed {
  std::optional<File> file;  // nothing when the file cannot be used (error says why)
  QString error;
  QStringList unknownKeys;   // reported and ignored
};
// A whole file. Any value outside its parameter's field, of the wrong kind, or a file that
// is no such JSON object, refuses the whole file: nothing of it is to be written.
Parsed parseFile(const QByteArray &bytes);

// One parameter of a comparison: the file's value and the controller's (when it was read).
struct Comparison {
  const ParamDef *row;
  Value file;
  std::optional<Value> controller;
  bool differs;  // never for the clock; always when the controller's value is unknown
};
std::vector<Comparison> compare(const File &file, const std::vector<Entry> &controller);
int differenceCount(const std::vector<Comparison> &rows);

// What became of one write from a file or the command line.
enum class Outcome {
  Confirmed,   // written, and the read-back shows the value
  Refused,     // the controller refused the write (or the read-back)
  NoAnswer,    // no answer to the write or the read-back
  Mismatch,    // written, but the read-back shows another value
  NeedsOwnConfirmation,  // switches equipment on: not written from a file
  ReadOnly,    // the parameter cannot be written (the display language)
  NotSent,     // the restore stopped before it
};
QString outcomeText(Outcome outcome);        // English, for the command line
QString outcomeTextChinese(Outcome outcome); // the window's

}  // namespace paramfile
