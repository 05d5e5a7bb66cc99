// What the two parameter pages share: a catalogue row (label, control, buttons, commands, how
// an answer is shown and how the control's content is written) and the pure steps of showing
// and encoding. The window's generic row functions (pages/ParamTable.cpp) work from these.
#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <optional>

class TForm1;

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

struct ParamRow {
  int pos;  // the row's place in its page's refresh chain; 0 for a row outside it
  const char *label;
  Control kind;
  const char *control;
  const char *readButton;   // nullptr: no read
  const char *writeButton;  // nullptr: no write
  uint8_t readCid1, readCid2, writeCid1, writeCid2;
  Shown shown;
  Encoding encoding;
  ErrorTo errorTo;  // where "读错误！！" goes
  int contact;      // dry contacts: the contact number (1-4) that requests carry; else 0
  const char *confirmOn = nullptr;  // a flag whose ticked write switches equipment: asked first
};

// Short names for writing a catalogue one line per row.
namespace catalogue {
using C = Control;
using S = Shown;
using E = Encoding;
constexpr ErrorTo L = ErrorTo::Log, P = ErrorTo::Panel2;
}  // namespace catalogue

// A row's named read and write handlers (either may be missing), by its chain place.
struct ParamEntry {
  int pos;
  void (TForm1::*read)();
  void (TForm1::*write)();
};

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
// A byte as two upper-case hex digits.
QString hex2(int value);
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

// The row (or entry) with the given chain place in a page's table: an index, or nullptr.
template <std::size_t N>
int rowIndex(const ParamRow (&rows)[N], int pos) {
  for (std::size_t i = 0; i < N; ++i)
    if (rows[i].pos == pos) return static_cast<int>(i);
  return -1;
}
template <std::size_t N>
const ParamEntry *entry(const ParamEntry (&entries)[N], int pos) {
  for (const ParamEntry &e : entries)
    if (e.pos == pos) return &e;
  return nullptr;
}

}  // namespace params
