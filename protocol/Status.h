// The status answers as data: the measurements and alarm lamps of the status and AC answers,
// the value encodings, the battery and AC state, and the rectifier-module records. Pure
// functions: the window's status page and the exporter read the answers through these.
//
// Answers of the status poll (data byte k is payload byte 4 + k, 16-bit values high byte first):
//   42/16 system status, 18 data bytes: measurements 0..12, alarm bits 13, 14, 15, 17,
//         battery charge state 16
//   40/01 AC status, 5 data bytes: AC voltage 0..1, AC state 4
//   42/17 module list: one byte per present module, its plain number (module 10 is 0x0A)
//   41/0E one module's readings, 11 data bytes: voltage 1..2, current 3..4, status 9, fault 10
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

enum class StatusAnswer { System, Ac, ModuleList, ModuleReadings };

namespace status {

// A polling cycle starts at most once in this period (the window's status page polls at it).
constexpr int kPollPeriodMs = 1000;

enum class Encoding {
  Unsigned16Div100,  // high byte, low byte; shown / 100
  Unsigned16Div10,
  Signed16Div10,     // sign and magnitude: bit 15 set is negative
  Unsigned8,         // one byte, a whole number
};

// One measurement box: where its value sits and how it travels.
struct Measurement {
  StatusAnswer answer;
  int offset;  // data byte
  Encoding encoding;
  const char *box;
};

// One alarm lamp: painted red while its bit is set, bright green otherwise.
struct Lamp {
  const char *lamp;
  const char *label;
  StatusAnswer answer;
  int offset;  // data byte
  uint8_t mask;
  // Whether the lamp's bit is set in its answer's data bytes.
  bool raised(const uint8_t *data) const { return (data[offset] & mask) != 0; }
};

std::span<const Measurement> measurements();
// In the order the page shows them (two columns of nine).
std::span<const Lamp> lamps();

// Data bytes an answer must carry before its decoder reads it; for the module list, the
// count its length byte announces.
int bytesRead(StatusAnswer answer, uint8_t lengthByte);

int unsigned16(uint8_t high, uint8_t low);
// Sign and magnitude: a raw value above 0x8000 is minus (raw - 0x8000); 0x8000 is minus
// zero, which is 0.
int signMagnitude16(uint8_t high, uint8_t low);
// The value that starts at data[0], scaled.
double measurementValue(Encoding encoding, const uint8_t *data);
// Its text, in the general decimal format.
QString measurementText(Encoding encoding, const uint8_t *data);

// Battery charge state: the last of test, fast, float, equalize whose bit is set (equalize
// wins); none when no bit is set (the page then keeps what it showed).
enum class BatteryState { Test, FastCharge, Float, Equalize };
std::optional<BatteryState> batteryState(uint8_t bits);
QString batteryStateText(BatteryState state);
// The text the page shows after the bits: previous when none is set.
QString batteryStateText(uint8_t bits, const QString &previous);

// AC state: the text beside the AC lamp and whether that lamp is red. Power fail wins over
// under-voltage over over-voltage.
enum class AcCondition { Normal, OverVoltage, UnderVoltage, PowerFail };
struct AcState {
  QString text;
  bool alarm;
  AcCondition condition;
};
AcState acState(uint8_t bits);

// One rectifier module as the controller last reported it.
struct ModuleRecord {
  uint8_t present = 0;
  uint8_t voltage[2] = {};  // 0.01 V, high byte first
  uint8_t current[2] = {};  // 0.01 A, high byte first
  uint8_t status = 0;
  uint8_t fault = 0;
  bool operator==(const ModuleRecord &) const = default;
};
constexpr int kModules = 12;  // modules 1..12; record 0 is never asked for or shown
// A module the controller did not list: not present, 0 V, 0 A, status "not present".
ModuleRecord absentModule();
// The table of modules 1..12 before anything was heard: every one absent; record 0 unused.
using ModuleTable = std::array<ModuleRecord, kModules + 1>;
ModuleTable noModules();

// The modules a module list names, in its order: numbers 1..12, each once; any other
// number names nothing.
std::vector<int> listedModules(const uint8_t *data, int count);
// A module list's answer applied to the table: the listed modules present (their last
// readings kept), every other one absent. Returns the listed numbers, in the list's order.
std::vector<int> applyModuleList(ModuleTable &table, const uint8_t *data, int count);
// The next present module after `after` (0: from the first), or 0 when none is left.
int nextPresentModule(const ModuleTable &table, int after);
// A readings answer's data bytes into the module's record (its present flag stays).
void storeReadings(ModuleRecord &m, const uint8_t *data);

// What the grid row of a module says, as values.
struct ModuleView {
  enum class Power { Absent, Off, On } power;  // column 1: "不在位", "关机", "开机"
  double volts, amperes;
  bool protection;  // column 4 not "正常": the protection bit, or a fault the page names
  bool fan;         // column 5: fan fault
  bool limiting;    // column 6: current limiting
  const char *faultText;  // the fault that replaces column 4's text, or nullptr
};
ModuleView moduleView(const ModuleRecord &m);
// Columns 1..6 of the module's grid row: on/off state, voltage, current, protection (or
// the fault), fan, current limiting.
std::array<QString, 6> moduleRowTexts(const ModuleRecord &m);

// Row 0 of the module grid.
const std::array<QString, 7> &moduleGridHeadings();

// The module number the operator typed in the on/off box: a whole number 1..12, else none.
std::optional<int> moduleNumber(const QString &text);

}  // namespace status
