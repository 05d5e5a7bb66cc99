// The controller's parameters as plain data: one row per parameter of the two parameter pages,
// with its label, the names of its control and buttons, its read and write commands (from the
// catalogue, protocol/Commands.h), how a read's answer is shown and how a write is encoded.
// The window draws its rows from this table; a program without widgets (a command line, the
// exporter) reads and writes the same parameters by the same rows and the pure functions
// below: decodeParam turns an answer's data bytes into the value the window would show,
// encodeParam turns a value into the data bytes of its write.
//
// A row's chain place is its step in its page's one-key refresh (0: outside the refresh).
// Page 2's refresh reads three page-1 rows as its steps 15 to 17 (the page-1 rows are marked
// with the step in page2Step).
#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/Commands.h"

namespace params {

enum class Shown {
  Div10, Div100,   // 16-bit value over 10 or 100
  SignDiv10,       // 16-bit sign and magnitude (bit 15 = negative), over 10
  Int16, Int8,     // 16-bit value; data byte 0 alone
  FlagNonZero, FlagOne,
  Buzzer, Language,
  ContactType, ContactState,  // data byte 1 is the item index
  Clock, None
};
enum class Encoding { X10, X100, WholeX10Signed, Integer, Flag, Buzzer, Contact, Clock, None };
// What the window shows the value in: an edit box, a check box or a list of items.
enum class Control { Edit, Check, Combo };
// Where the window reports "读错误！！": the protocol log or status panel 2.
enum class ErrorTo { Log, Panel2 };

// One parameter, written once.
struct ParamDef {
  int page;                 // 1 or 2
  int pos;                  // the row's place in its page's refresh chain; 0 for a row outside it
  int page2Step;            // a page-1 row that page 2's refresh also reads: that step; else 0
  const char *label;        // as the window shows it, "浮充电压设定(V)："
  Control kind;
  const char *control;      // the control's object name
  const char *readButton;   // nullptr: no read
  const char *writeButton;  // nullptr: no write
  proto::Command readCommand, writeCommand;  // None where the row has no such button
  Shown shown;
  Encoding encoding;
  ErrorTo errorTo;
  int contact;              // dry contacts: the contact number (1-4) that requests carry; else 0
  const char *confirmOn;    // a flag whose ticked write switches equipment: asked first
  // The parameter's stable English name (lower case, words joined by "_"): parameter files and
  // the command line know it by this, never by its label. The controller's clock is the one
  // key containing "clock".
  const char *key;
  const char *unit;         // of the value in a file and on the command line ("V", "°C"); "" for none

  bool reads() const { return readCommand != proto::Command::None; }
  bool writes() const { return writeCommand != proto::Command::None; }
  uint8_t readCid1() const { return proto::commandDef(readCommand).cid1; }
  uint8_t readCid2() const { return proto::commandDef(readCommand).cid2; }
  uint8_t writeCid1() const { return proto::commandDef(writeCommand).cid1; }
  uint8_t writeCid2() const { return proto::commandDef(writeCommand).cid2; }
};

// Every row, page 1's then page 2's, each page in its own order; and each page's rows.
std::span<const ParamDef> paramRows();
std::span<const ParamDef> pageParams(int page);  // empty for a page that has none
// The row whose control has this object name; nullptr when none has.
const ParamDef *findParam(const char *control);
// The read of a page's refresh step (1 to its last); nullptr past its end.
const ParamDef *refreshStep(int page, int step);
// The number of reads a page's refresh makes.
int refreshLength(int page);

// The items of a combo-box row, in code order.
QStringList comboItems(Shown shown);
// Data bytes an answer must carry for the row's value.
int bytesNeeded(Shown shown);
// The text of a 16-bit value for the edit-box families (Div10, Div100, SignDiv10, Int16).
QString wordText(Shown shown, int word);
// The low-temperature point's raw value for a whole number of degrees: tenths in sign and
// magnitude; nothing when the tenths do not fit 15 bits.
std::optional<int> wholeTenthsSignMagnitude(int whole);
// A row's label without its decoration ("浮充电压设定(V)：" -> "浮充电压设定"), and the unit
// in its brackets ("V"; empty when it has none).
QString labelName(const char *label);
QString labelUnit(const char *label);
// What an edit row's write accepts, in the unit the box shows ("0–655.35" at x100).
QString allowedRange(Encoding encoding);
// The raw values an edit row's write accepts, and the numbers the box shows for them.
struct Range {
  int rawMin, rawMax;
  double shownMin, shownMax;
};
std::optional<Range> fieldRange(Encoding encoding);
// The second line of the message that refuses a row's number: "浮充电压设定：0–655.35 V".
QString refusalDetail(const ParamDef &row);
// The box's text for the raw value a write of the row sent, in the box's own format: what
// a read of that value would show (5355 at x100 -> "53.55").
QString writtenText(Encoding encoding, int raw);

// A parameter's value as read: the edit box's text, the check box's state or the item's
// index (-1: a code past the list, no item), with the item's text.
struct ParamValue {
  QString text;   // Edit: the box's text; Combo: the item's text (empty for none); Check: "1"/"0"
  bool on = false;
  int index = -1;
};
// The value an answer's data bytes hold for the row; nothing when they are too few (a failed
// read: never a value made up from missing bytes).
std::optional<ParamValue> decodeParam(const ParamDef &row, std::span<const uint8_t> data);

// The data of a write, as the request builder's hex text ("14EB"), for a value already in the
// row's raw terms: the raw number of an edit row (fieldRange), 0/1 for a flag, the item index
// of a list. Nothing when the value is out of range or the row has no encoded write (the
// clock is set from the time; see clockSetData).
std::optional<QString> encodeParam(const ParamDef &row, int value);
// The raw value of an edit row's text, as a command line would take it ("53.55" -> 5355 at
// x100; "-5" -> 0x8032 for whole tenths in sign and magnitude); nothing for text that is no
// number of the row's range. The window converts its boxes with its own messages instead.
std::optional<int> rawFromText(const ParamDef &row, const QString &text);

// The clock set's data: second, minute, hour, day, a fixed 01, month, year % 100.
QString clockSetData(int year, int month, int day, int hour, int minute, int second);

}  // namespace params
