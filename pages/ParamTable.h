// What the two parameter pages share: a catalogue row (label, control, buttons, commands, how
// an answer is shown and how the control's content is written) and the pure steps of showing
// and encoding. The window's generic row functions (pages/ParamTable.cpp) work from these.
#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/Commands.h"
#include "window/Routing.h"

class TForm1;

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
enum class Control { Edit, Check, Combo };
enum class ErrorTo { Log, Panel2 };

}  // namespace params

// One parameter of a page, written once: its place, its control, its buttons and their named
// handlers, the commands of its read and write (from the catalogue, protocol/Commands.h), the
// decoder its read's answer goes to (routing is drawn from these rows), how the answer is
// shown and how a write is encoded.
struct ParamRow {
  int pos;  // the row's place in its page's refresh chain; 0 for a row outside it
  const char *label;
  params::Control kind;
  const char *control;
  const char *readButton;   // nullptr: no read
  const char *writeButton;  // nullptr: no write
  proto::Command readCommand, writeCommand;  // None where the row has no such button
  params::Shown shown;
  params::Encoding encoding;
  params::ErrorTo errorTo;  // where "读错误！！" goes
  int contact;              // dry contacts: the contact number (1-4) that requests carry; else 0
  void (TForm1::*read)();   // the named handlers; nullptr when the row has no such button
  void (TForm1::*write)();
  Decoder decoder;          // where the read's answer goes; nullptr without a read
  const char *confirmOn;    // a flag whose ticked write switches equipment: asked first

  uint8_t readCid1() const { return proto::commandDef(readCommand).cid1; }
  uint8_t readCid2() const { return proto::commandDef(readCommand).cid2; }
  uint8_t writeCid1() const { return proto::commandDef(writeCommand).cid1; }
  uint8_t writeCid2() const { return proto::commandDef(writeCommand).cid2; }
};

// Short names for writing a catalogue one line per row.
namespace catalogue {
using Cmd = proto::Command;
using C = params::Control;
using S = params::Shown;
using E = params::Encoding;
constexpr params::ErrorTo L = params::ErrorTo::Log, P = params::ErrorTo::Panel2;
}  // namespace catalogue

// How a row is drawn: widths in pixels, button captions.
struct ParamRowShape {
  int labelWidth = 126;
  int controlWidth = 40;
  int readWidth = 30, writeWidth = 30;
  QString readText = QStringLiteral("读"), writeText = QStringLiteral("写");
};

namespace params {

// The items of a combo-box row, in code order.
QStringList comboItems(Shown shown);
// Data bytes an answer must carry for the row's decoder.
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
// The second line of the message that refuses a row's number: "浮充电压设定：0–655.35 V".
QString refusalDetail(const ParamRow &row);
// The box's text for the raw value a write of the row sent, in the box's own format: what
// a read of that value would show (5355 at x100 -> "53.55").
QString writtenText(Encoding encoding, int raw);

// The rows of the two pages, in their tables' order (pages/Page1.cpp, pages/Page2.cpp).
std::span<const ParamRow> page1Rows();
std::span<const ParamRow> page2Rows();

// The index of the row with the given chain place, read handler, write handler or decoder in
// a page's rows; -1 when there is none.
int rowIndex(std::span<const ParamRow> rows, int pos);
int rowIndex(std::span<const ParamRow> rows, void (TForm1::*handler)());
int decoderRow(std::span<const ParamRow> rows, Decoder decoder);
// Whether i is an index of rows: a lookup that found nothing leaves its caller doing nothing
// (the tests walk both tables, so none is missing).
inline bool validRow(std::span<const ParamRow> rows, int i) { return i >= 0 && std::size_t(i) < rows.size(); }

}  // namespace params
