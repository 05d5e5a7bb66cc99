// The command catalogue: every request the window, the exporter and the simulator's tests
// send, each with its group (CID1) and code (CID2), whether it reads or writes, and the
// shape of the answer the controller gives it. An answer carries nothing that names its
// request; its shape is the one thing about it that can be checked against the request, so
// an answer of another shape is not the request's answer and is never decoded.
//
// Shapes (data bytes after RTN and LEN; LEN counts them and the frame carries exactly that
// many):
//   Fixed n     a read whose answer always carries n data bytes
//   Ack         a write or an action: an acknowledgement without data
//   ModuleList  the module list: one byte per fitted module, its number; the count is the
//               length byte, at most twelve (the system holds up to twelve modules)
//   Any         a command the catalogue does not know (typed by hand): any framed answer
// A refusal (RTN not 0) answers any request, whatever it carries.
//
// The catalogue is one table (POWERHOST_COMMANDS below); the parameter pages' rows, the
// routing of answers and the exporter's poll name their commands from it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/Answer.h"

namespace proto {

struct AnswerShape {
  enum Kind : uint8_t { Fixed, Ack, ModuleList, Any };
  Kind kind = Any;
  uint8_t bytes = 0;  // Fixed: the data bytes
  friend constexpr bool operator==(const AnswerShape &, const AnswerShape &) = default;
};
constexpr int kModuleListMax = 12;  // the system has up to twelve rectifier modules

enum class CommandKind : uint8_t { Read, Write };  // Write: a write or an action (acknowledged)

#define POWERHOST_FIXED(n) proto::AnswerShape{proto::AnswerShape::Fixed, n}
#define POWERHOST_ACK proto::AnswerShape{proto::AnswerShape::Ack, 0}
#define POWERHOST_LIST proto::AnswerShape{proto::AnswerShape::ModuleList, 0}

// X(enumerator, name, CID1, CID2, Read/Write, answer shape), by CID1 then CID2.
#define POWERHOST_COMMANDS(X)                                                                              \
  /* 0x40: the AC input */                                                                                 \
  X(AcStatus, "ac_status", 0x40, 0x01, Read, POWERHOST_FIXED(5))                                          \
  X(AcOverVoltageWrite, "ac_over_voltage_write", 0x40, 0x05, Write, POWERHOST_ACK)                        \
  X(AcOverVoltageRead, "ac_over_voltage_read", 0x40, 0x06, Read, POWERHOST_FIXED(2))                      \
  X(AcUnderVoltageWrite, "ac_under_voltage_write", 0x40, 0x07, Write, POWERHOST_ACK)                      \
  X(AcUnderVoltageRead, "ac_under_voltage_read", 0x40, 0x08, Read, POWERHOST_FIXED(2))                    \
  X(AcPowerFailWrite, "ac_power_fail_write", 0x40, 0x09, Write, POWERHOST_ACK)                            \
  X(AcPowerFailRead, "ac_power_fail_read", 0x40, 0x0A, Read, POWERHOST_FIXED(2))                          \
  X(AcOverCurrentWrite, "ac_over_current_write", 0x40, 0x0B, Write, POWERHOST_ACK)                        \
  X(AcOverCurrentRead, "ac_over_current_read", 0x40, 0x0C, Read, POWERHOST_FIXED(2))                      \
  /* 0x41: the rectifier modules */                                                                        \
  X(ModuleReadings, "module_readings", 0x41, 0x0E, Read, POWERHOST_FIXED(11))                             \
  X(ModuleOn, "module_on", 0x41, 0x10, Write, POWERHOST_ACK)                                              \
  X(ModuleOff, "module_off", 0x41, 0x11, Write, POWERHOST_ACK)                                            \
  X(ModuleCurrentLimitWrite, "module_current_limit_write", 0x41, 0x14, Write, POWERHOST_ACK)              \
  X(ModuleCurrentLimitRead, "module_current_limit_read", 0x41, 0x15, Read, POWERHOST_FIXED(2))            \
  /* 0x42: the system, the other parameters, the clock and the history */                                \
  X(SystemStatus, "system_status", 0x42, 0x16, Read, POWERHOST_FIXED(18))                                 \
  X(ModuleList, "module_list", 0x42, 0x17, Read, POWERHOST_LIST)                                          \
  X(BatteryTemperatureGainWrite, "battery_temperature_gain_write", 0x42, 0x18, Write, POWERHOST_ACK)      \
  X(BatteryTemperatureGainRead, "battery_temperature_gain_read", 0x42, 0x19, Read, POWERHOST_FIXED(2))    \
  X(BatteryTemperatureOffsetWrite, "battery_temperature_offset_write", 0x42, 0x1A, Write, POWERHOST_ACK)  \
  X(BatteryTemperatureOffsetRead, "battery_temperature_offset_read", 0x42, 0x1B, Read, POWERHOST_FIXED(2)) \
  X(AmbientTemperatureGainWrite, "ambient_temperature_gain_write", 0x42, 0x1C, Write, POWERHOST_ACK)      \
  X(AmbientTemperatureGainRead, "ambient_temperature_gain_read", 0x42, 0x1D, Read, POWERHOST_FIXED(2))    \
  X(AmbientTemperatureOffsetWrite, "ambient_temperature_offset_write", 0x42, 0x1E, Write, POWERHOST_ACK)  \
  X(AmbientTemperatureOffsetRead, "ambient_temperature_offset_read", 0x42, 0x1F, Read, POWERHOST_FIXED(2)) \
  X(DisplayLanguageRead, "display_language_read", 0x42, 0x21, Read, POWERHOST_FIXED(1))                   \
  X(LoadOverCurrentWrite, "load_over_current_write", 0x42, 0x22, Write, POWERHOST_ACK)                    \
  X(LoadOverCurrentRead, "load_over_current_read", 0x42, 0x23, Read, POWERHOST_FIXED(2))                  \
  X(BatteryOverCurrentWrite, "battery_over_current_write", 0x42, 0x24, Write, POWERHOST_ACK)              \
  X(BatteryOverCurrentRead, "battery_over_current_read", 0x42, 0x25, Read, POWERHOST_FIXED(2))            \
  X(OutputOverVoltageWrite, "output_over_voltage_write", 0x42, 0x26, Write, POWERHOST_ACK)                \
  X(OutputOverVoltageRead, "output_over_voltage_read", 0x42, 0x27, Read, POWERHOST_FIXED(2))              \
  X(BatteryLowVoltageWrite, "battery_low_voltage_write", 0x42, 0x28, Write, POWERHOST_ACK)                \
  X(BatteryLowVoltageRead, "battery_low_voltage_read", 0x42, 0x29, Read, POWERHOST_FIXED(2))              \
  X(BatteryLowTemperatureWrite, "battery_low_temperature_write", 0x42, 0x2A, Write, POWERHOST_ACK)        \
  X(BatteryLowTemperatureRead, "battery_low_temperature_read", 0x42, 0x2B, Read, POWERHOST_FIXED(2))      \
  X(BatteryHighTemperatureWrite, "battery_high_temperature_write", 0x42, 0x2C, Write, POWERHOST_ACK)      \
  X(BatteryHighTemperatureRead, "battery_high_temperature_read", 0x42, 0x2D, Read, POWERHOST_FIXED(2))    \
  X(LoadDisconnectVoltageWrite, "load_disconnect_voltage_write", 0x42, 0x32, Write, POWERHOST_ACK)        \
  X(LoadDisconnectVoltageRead, "load_disconnect_voltage_read", 0x42, 0x33, Read, POWERHOST_FIXED(2))      \
  X(LoadReconnectVoltageWrite, "load_reconnect_voltage_write", 0x42, 0x34, Write, POWERHOST_ACK)          \
  X(LoadReconnectVoltageRead, "load_reconnect_voltage_read", 0x42, 0x35, Read, POWERHOST_FIXED(2))        \
  X(BatteryDisconnectVoltageWrite, "battery_disconnect_voltage_write", 0x42, 0x36, Write, POWERHOST_ACK)  \
  X(BatteryDisconnectVoltageRead, "battery_disconnect_voltage_read", 0x42, 0x37, Read, POWERHOST_FIXED(2)) \
  X(BatteryReconnectVoltageWrite, "battery_reconnect_voltage_write", 0x42, 0x38, Write, POWERHOST_ACK)    \
  X(BatteryReconnectVoltageRead, "battery_reconnect_voltage_read", 0x42, 0x39, Read, POWERHOST_FIXED(2))  \
  X(FloatVoltageWrite, "float_voltage_write", 0x42, 0x3A, Write, POWERHOST_ACK)                           \
  X(FloatVoltageRead, "float_voltage_read", 0x42, 0x3B, Read, POWERHOST_FIXED(2))                         \
  X(TemperatureCompensationWrite, "temperature_compensation_write", 0x42, 0x3C, Write, POWERHOST_ACK)     \
  X(TemperatureCompensationRead, "temperature_compensation_read", 0x42, 0x3D, Read, POWERHOST_FIXED(1))   \
  X(CompensationCoefficientWrite, "compensation_coefficient_write", 0x42, 0x3E, Write, POWERHOST_ACK)     \
  X(CompensationCoefficientRead, "compensation_coefficient_read", 0x42, 0x3F, Read, POWERHOST_FIXED(2))   \
  X(ChargeCurrentLimitWrite, "charge_current_limit_write", 0x42, 0x40, Write, POWERHOST_ACK)              \
  X(ChargeCurrentLimitRead, "charge_current_limit_read", 0x42, 0x41, Read, POWERHOST_FIXED(2))            \
  X(CurrentLimitMinVoltageWrite, "current_limit_min_voltage_write", 0x42, 0x44, Write, POWERHOST_ACK)     \
  X(CurrentLimitMinVoltageRead, "current_limit_min_voltage_read", 0x42, 0x45, Read, POWERHOST_FIXED(2))   \
  X(PeriodicEqualizeWrite, "periodic_equalize_write", 0x42, 0x46, Write, POWERHOST_ACK)                   \
  X(PeriodicEqualizeRead, "periodic_equalize_read", 0x42, 0x47, Read, POWERHOST_FIXED(1))                 \
  X(PeriodicEqualizeIntervalWrite, "periodic_equalize_interval_write", 0x42, 0x48, Write, POWERHOST_ACK)  \
  X(PeriodicEqualizeIntervalRead, "periodic_equalize_interval_read", 0x42, 0x49, Read, POWERHOST_FIXED(2)) \
  X(EqualizeDurationWrite, "equalize_duration_write", 0x42, 0x4A, Write, POWERHOST_ACK)                   \
  X(EqualizeDurationRead, "equalize_duration_read", 0x42, 0x4B, Read, POWERHOST_FIXED(2))                 \
  X(EqualizeVoltageWrite, "equalize_voltage_write", 0x42, 0x4C, Write, POWERHOST_ACK)                     \
  X(EqualizeVoltageRead, "equalize_voltage_read", 0x42, 0x4D, Read, POWERHOST_FIXED(2))                   \
  X(ManualEqualizeWrite, "manual_equalize_write", 0x42, 0x4E, Write, POWERHOST_ACK)                       \
  X(FastChargeWrite, "fast_charge_write", 0x42, 0x50, Write, POWERHOST_ACK)                               \
  X(FastChargeRead, "fast_charge_read", 0x42, 0x51, Read, POWERHOST_FIXED(1))                             \
  X(FastChargeVoltageWrite, "fast_charge_voltage_write", 0x42, 0x52, Write, POWERHOST_ACK)                \
  X(FastChargeVoltageRead, "fast_charge_voltage_read", 0x42, 0x53, Read, POWERHOST_FIXED(2))              \
  X(FastChargeTimeWrite, "fast_charge_time_write", 0x42, 0x54, Write, POWERHOST_ACK)                      \
  X(FastChargeTimeRead, "fast_charge_time_read", 0x42, 0x55, Read, POWERHOST_FIXED(2))                    \
  X(BatteryCapacityWrite, "battery_capacity_write", 0x42, 0x56, Write, POWERHOST_ACK)                     \
  X(BatteryCapacityRead, "battery_capacity_read", 0x42, 0x57, Read, POWERHOST_FIXED(2))                   \
  X(BatteryCapacityKeptWrite, "battery_capacity_kept_write", 0x42, 0x58, Write, POWERHOST_ACK)            \
  X(BatteryCapacityKeptRead, "battery_capacity_kept_read", 0x42, 0x59, Read, POWERHOST_FIXED(2))          \
  X(BatteryTestWrite, "battery_test_write", 0x42, 0x5A, Write, POWERHOST_ACK)                             \
  X(BatteryTestRead, "battery_test_read", 0x42, 0x5B, Read, POWERHOST_FIXED(1))                           \
  X(BatteryTestStartVoltageWrite, "battery_test_start_voltage_write", 0x42, 0x5C, Write, POWERHOST_ACK)   \
  X(BatteryTestStartVoltageRead, "battery_test_start_voltage_read", 0x42, 0x5D, Read, POWERHOST_FIXED(2)) \
  X(BatteryTestEndVoltageWrite, "battery_test_end_voltage_write", 0x42, 0x5E, Write, POWERHOST_ACK)       \
  X(BatteryTestEndVoltageRead, "battery_test_end_voltage_read", 0x42, 0x5F, Read, POWERHOST_FIXED(2))     \
  X(ModuleCountWrite, "module_count_write", 0x42, 0x60, Write, POWERHOST_ACK)                             \
  X(ModuleCountRead, "module_count_read", 0x42, 0x61, Read, POWERHOST_FIXED(2))                           \
  X(BatteryCurrentGainWrite, "battery_current_gain_write", 0x42, 0x70, Write, POWERHOST_ACK)              \
  X(BatteryCurrentGainRead, "battery_current_gain_read", 0x42, 0x71, Read, POWERHOST_FIXED(2))            \
  X(BatteryCurrentOffsetWrite, "battery_current_offset_write", 0x42, 0x72, Write, POWERHOST_ACK)          \
  X(BatteryCurrentOffsetRead, "battery_current_offset_read", 0x42, 0x73, Read, POWERHOST_FIXED(2))        \
  X(BusVoltageGainWrite, "bus_voltage_gain_write", 0x42, 0x74, Write, POWERHOST_ACK)                      \
  X(BusVoltageGainRead, "bus_voltage_gain_read", 0x42, 0x75, Read, POWERHOST_FIXED(2))                    \
  X(LoadCurrentGainWrite, "load_current_gain_write", 0x42, 0x76, Write, POWERHOST_ACK)                    \
  X(LoadCurrentGainRead, "load_current_gain_read", 0x42, 0x77, Read, POWERHOST_FIXED(2))                  \
  X(EqualizeToFloatWrite, "equalize_to_float_write", 0x42, 0x78, Write, POWERHOST_ACK)                    \
  X(EqualizeToFloatRead, "equalize_to_float_read", 0x42, 0x79, Read, POWERHOST_FIXED(2))                  \
  X(FloatToEqualizeWrite, "float_to_equalize_write", 0x42, 0x7A, Write, POWERHOST_ACK)                    \
  X(FloatToEqualizeRead, "float_to_equalize_read", 0x42, 0x7B, Read, POWERHOST_FIXED(2))                  \
  X(AcVoltageOffsetWrite, "ac_voltage_offset_write", 0x42, 0x7C, Write, POWERHOST_ACK)                    \
  X(AcVoltageOffsetRead, "ac_voltage_offset_read", 0x42, 0x7D, Read, POWERHOST_FIXED(2))                  \
  X(AcVoltageGainWrite, "ac_voltage_gain_write", 0x42, 0x7E, Write, POWERHOST_ACK)                        \
  X(AcVoltageGainRead, "ac_voltage_gain_read", 0x42, 0x7F, Read, POWERHOST_FIXED(2))                      \
  X(BuzzerWrite, "buzzer_write", 0x42, 0x80, Write, POWERHOST_ACK)                                        \
  X(BuzzerRead, "buzzer_read", 0x42, 0x81, Read, POWERHOST_FIXED(1))                                      \
  X(DryContactStateWrite, "dry_contact_state_write", 0x42, 0x85, Write, POWERHOST_ACK)                    \
  X(DryContactStateRead, "dry_contact_state_read", 0x42, 0x86, Read, POWERHOST_FIXED(2))                  \
  X(DryContactTypeWrite, "dry_contact_type_write", 0x42, 0x87, Write, POWERHOST_ACK)                      \
  X(DryContactTypeRead, "dry_contact_type_read", 0x42, 0x88, Read, POWERHOST_FIXED(2))                    \
  X(LoadCurrentOffsetWrite, "load_current_offset_write", 0x42, 0x89, Write, POWERHOST_ACK)                \
  X(LoadCurrentOffsetRead, "load_current_offset_read", 0x42, 0x8A, Read, POWERHOST_FIXED(2))              \
  X(ClockRead, "clock_read", 0x42, 0x8D, Read, POWERHOST_FIXED(7))                                        \
  X(ClockSet, "clock_set", 0x42, 0x8E, Write, POWERHOST_ACK)                                              \
  X(HistoryRecord, "history_record", 0x42, 0x8F, Read, POWERHOST_FIXED(8))                                \
  X(HistoryCount, "history_count", 0x42, 0x90, Read, POWERHOST_FIXED(2))                                  \
  X(SleepModeWrite, "sleep_mode_write", 0x42, 0x91, Write, POWERHOST_ACK)                                 \
  X(SleepModeRead, "sleep_mode_read", 0x42, 0x92, Read, POWERHOST_FIXED(1))                               \
  X(SleepIntervalWrite, "sleep_interval_write", 0x42, 0x93, Write, POWERHOST_ACK)                         \
  X(SleepIntervalRead, "sleep_interval_read", 0x42, 0x94, Read, POWERHOST_FIXED(1))                       \
  X(HistoryClear, "history_clear", 0x42, 0x95, Write, POWERHOST_ACK)                                      \
  /* 0x43: the service read of the system status (a hidden button) */                                      \
  X(SystemStatusService, "system_status_service", 0x43, 0x2A, Read, POWERHOST_FIXED(18))                  \
  /* 0x44: the energy meter */                                                                             \
  X(EnergyMonth, "energy_month", 0x44, 0x01, Read, POWERHOST_FIXED(23))                                   \
  X(EnergyTotal, "energy_total", 0x44, 0x0D, Read, POWERHOST_FIXED(20))                                   \
  X(EnergyToday, "energy_today", 0x44, 0x0E, Read, POWERHOST_FIXED(20))                                   \
  X(EnergyThisMonth, "energy_this_month", 0x44, 0x0F, Read, POWERHOST_FIXED(20))                          \
  X(EnergyThisYear, "energy_this_year", 0x44, 0x10, Read, POWERHOST_FIXED(20))

enum class Command : uint8_t {
#define POWERHOST_COMMAND_ENUM(e, name, c1, c2, kind, shape) e,
  POWERHOST_COMMANDS(POWERHOST_COMMAND_ENUM)
#undef POWERHOST_COMMAND_ENUM
  None  // no command: a row without a read or a write
};

struct CommandDef {
  Command command;
  const char *name;
  uint8_t cid1, cid2;
  CommandKind kind;
  AnswerShape shape;
};

inline constexpr CommandDef kCommands[] = {
#define POWERHOST_COMMAND_DEF(e, name, c1, c2, kind, shape) {Command::e, name, c1, c2, CommandKind::kind, shape},
    POWERHOST_COMMANDS(POWERHOST_COMMAND_DEF)
#undef POWERHOST_COMMAND_DEF
};
inline constexpr CommandDef kNoCommand{Command::None, "", 0, 0, CommandKind::Read, AnswerShape{}};

constexpr const CommandDef &commandDef(Command c) {
  return c == Command::None ? kNoCommand : kCommands[static_cast<int>(c)];
}
inline std::span<const CommandDef> commands() { return kCommands; }
// By CID1/CID2, or by name; nullptr when the catalogue has no such command.
const CommandDef *findCommand(uint8_t cid1, uint8_t cid2);
const CommandDef *findCommand(std::string_view name);
// The shape of the answer to (cid1, cid2): Any when the catalogue does not know it.
AnswerShape answerShape(uint8_t cid1, uint8_t cid2);

// Whether a checked chunk (checkAnswer) has the shape: a framed answer (a start mark, whole
// bytes, the length byte saying how many data bytes follow, the end mark) of the shape's
// length, or a refusal. A damaged chunk that is framed is judged the same way: by its length.
bool answerFits(const AnswerShape &shape, const Answer &a);
// Whether one answer could have both shapes (a refusal aside).
bool shapesOverlap(const AnswerShape &a, const AnswerShape &b);

}  // namespace proto
