#include "protocol/ParamRows.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "protocol/Conversions.h"

namespace params {

namespace {

using Cmd = proto::Command;
using C = Control;
using S = Shown;
using E = Encoding;
constexpr ErrorTo L = ErrorTo::Log, P = ErrorTo::Panel2;

// Page 1 in refresh order (the write-only "手动均充：" sits between 20 and 21), then page 2:
// the dry contacts (steps 1-4 the types of contacts 1-4, steps 5-8 their states), then its
// left and right column by refresh step; the module count is outside the refresh.
// Columns: page, chain place, page-2 refresh step, label, control kind, control, read button,
// write button, read command, write command, how the answer is shown, how a write is encoded,
// where "读错误！！" goes, the dry contact, the question asked before a ticked flag is written,
// the stable key and the unit (protocol/ParamFile.h).
const ParamDef kRows[] = {
    {1, 1, 0, "交流电压过高(V)：", C::Edit, "Edit5", "Button5", "Button6", Cmd::AcOverVoltageRead, Cmd::AcOverVoltageWrite, S::Div10, E::X10, L, 0, nullptr, "ac_over_voltage", "V"},
    {1, 2, 0, "交流电压过低(V)：", C::Edit, "Edit6", "Button7", "Button8", Cmd::AcUnderVoltageRead, Cmd::AcUnderVoltageWrite, S::Div10, E::X10, L, 0, nullptr, "ac_under_voltage", "V"},
    {1, 3, 0, "交流电压掉电(V)：", C::Edit, "Edit7", "Button9", "Button10", Cmd::AcPowerFailRead, Cmd::AcPowerFailWrite, S::Div10, E::X10, L, 0, nullptr, "ac_power_fail_voltage", "V"},
    {1, 4, 0, "交流电流过高(A)：", C::Edit, "Edit8", "Button11", "Button12", Cmd::AcOverCurrentRead, Cmd::AcOverCurrentWrite, S::Div10, E::X10, L, 0, nullptr, "ac_over_current", "A"},
    {1, 5, 0, "48v模块限流点(A)：", C::Edit, "Edit9", "Button13", "Button14", Cmd::ModuleCurrentLimitRead, Cmd::ModuleCurrentLimitWrite, S::Div10, E::X10, L, 0, nullptr, "module_current_limit", "A"},
    {1, 6, 0, "负载电流过高(A)：", C::Edit, "Edit10", "Button15", "Button16", Cmd::LoadOverCurrentRead, Cmd::LoadOverCurrentWrite, S::Div10, E::X10, L, 0, nullptr, "load_over_current", "A"},
    {1, 7, 0, "电池电流过高(A)：", C::Edit, "Edit11", "Button17", "Button18", Cmd::BatteryOverCurrentRead, Cmd::BatteryOverCurrentWrite, S::Div10, E::X10, L, 0, nullptr, "battery_over_current", "A"},
    {1, 8, 0, "输出过压告警(V)：", C::Edit, "Edit28", "Button100", "Button101", Cmd::OutputOverVoltageRead, Cmd::OutputOverVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "output_over_voltage", "V"},
    {1, 9, 0, "电池低压告警(V)：", C::Edit, "Edit29", "Button103", "Button102", Cmd::BatteryLowVoltageRead, Cmd::BatteryLowVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "battery_low_voltage", "V"},
    {1, 10, 0, "负载下电告警(V)：", C::Edit, "Edit30", "Button104", "Button105", Cmd::LoadDisconnectVoltageRead, Cmd::LoadDisconnectVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "load_disconnect_voltage", "V"},
    {1, 11, 0, "负载下电恢复(V)：", C::Edit, "Edit22", "Button25", "Button26", Cmd::LoadReconnectVoltageRead, Cmd::LoadReconnectVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "load_reconnect_voltage", "V"},
    {1, 12, 0, "电池下电告警(V)：", C::Edit, "Edit23", "Button32", "Button33", Cmd::BatteryDisconnectVoltageRead, Cmd::BatteryDisconnectVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "battery_disconnect_voltage", "V"},
    {1, 13, 0, "电池下电恢复(V)：", C::Edit, "Edit24", "Button34", "Button35", Cmd::BatteryReconnectVoltageRead, Cmd::BatteryReconnectVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "battery_reconnect_voltage", "V"},
    {1, 14, 0, "浮充电压设定(V)：", C::Edit, "Edit36", "Button58", "Button59", Cmd::FloatVoltageRead, Cmd::FloatVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "float_voltage", "V"},
    {1, 15, 0, "均充电压设定(V)：", C::Edit, "Edit37", "Button60", "Button61", Cmd::EqualizeVoltageRead, Cmd::EqualizeVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "equalize_voltage", "V"},
    {1, 16, 0, "均转浮系数(%)：", C::Edit, "Edit40", "Button66", "Button67", Cmd::EqualizeToFloatRead, Cmd::EqualizeToFloatWrite, S::Div10, E::X10, L, 0, nullptr, "equalize_to_float_ratio", "%"},
    {1, 17, 0, "浮转均系数(%)：", C::Edit, "Edit41", "Button68", "Button69", Cmd::FloatToEqualizeRead, Cmd::FloatToEqualizeWrite, S::Div10, E::X10, L, 0, nullptr, "float_to_equalize_ratio", "%"},
    {1, 18, 0, "充电限流系数(%)：", C::Edit, "Edit42", "Button70", "Button71", Cmd::ChargeCurrentLimitRead, Cmd::ChargeCurrentLimitWrite, S::Div10, E::X10, L, 0, nullptr, "charge_current_limit", "%"},
    {1, 19, 0, "温补使能：", C::Check, "CheckBox1", "Button30", "Button31", Cmd::TemperatureCompensationRead, Cmd::TemperatureCompensationWrite, S::FlagNonZero, E::Flag, P, 0, nullptr, "temperature_compensation", ""},
    {1, 20, 0, "温补系数(mV/C)：", C::Edit, "Edit39", "Button64", "Button65", Cmd::CompensationCoefficientRead, Cmd::CompensationCoefficientWrite, S::Int16, E::Integer, L, 0, nullptr, "temperature_compensation_coefficient", "mV/°C"},
    {1, 0, 0, "手动均充：", C::Check, "CheckBox4", nullptr, "Button109", Cmd::None, Cmd::ManualEqualizeWrite, S::None, E::Flag, L, 0, "确定开始手动均充？整流模块将升到均充电压输出。", "manual_equalize", ""},
    {1, 21, 0, "定期均充：", C::Check, "CheckBox5", "Button110", "Button111", Cmd::PeriodicEqualizeRead, Cmd::PeriodicEqualizeWrite, S::FlagOne, E::Flag, L, 0, nullptr, "periodic_equalize", ""},
    {1, 22, 0, "定期均充间隔(天)：", C::Edit, "Edit43", "Button72", "Button73", Cmd::PeriodicEqualizeIntervalRead, Cmd::PeriodicEqualizeIntervalWrite, S::Int16, E::Integer, L, 0, nullptr, "periodic_equalize_interval", "d"},
    {1, 23, 0, "持续均充时间(分)：", C::Edit, "Edit44", "Button74", "Button75", Cmd::EqualizeDurationRead, Cmd::EqualizeDurationWrite, S::Int16, E::Integer, L, 0, nullptr, "equalize_duration", "min"},
    {1, 24, 0, "蜂鸣告警：", C::Combo, "ComboBox3", "Button36", "Button37", Cmd::BuzzerRead, Cmd::BuzzerWrite, S::Buzzer, E::Buzzer, P, 0, nullptr, "buzzer", ""},
    {1, 25, 0, "时间：", C::Edit, "Edit25", "Button38", "Button39", Cmd::ClockRead, Cmd::ClockSet, S::Clock, E::Clock, P, 0, nullptr, "controller_clock", ""},
    {1, 26, 0, "监控语言：", C::Combo, "ComboBox27", "Button89", nullptr, Cmd::DisplayLanguageRead, Cmd::None, S::Language, E::None, L, 0, nullptr, "display_language", ""},
    {1, 27, 0, "电池容量(AH)：", C::Edit, "Edit20", "Button120", "Button121", Cmd::BatteryCapacityRead, Cmd::BatteryCapacityWrite, S::Int16, E::Integer, L, 0, nullptr, "battery_capacity", "Ah"},
    {1, 28, 0, "电池容量保持(%)：", C::Edit, "Edit21", "Button122", "Button123", Cmd::BatteryCapacityKeptRead, Cmd::BatteryCapacityKeptWrite, S::Div10, E::X10, L, 0, nullptr, "battery_capacity_kept", "%"},
    {1, 29, 15, "休眠使能：", C::Check, "CheckBox2", "Button19", "Button20", Cmd::SleepModeRead, Cmd::SleepModeWrite, S::FlagNonZero, E::Flag, P, 0, nullptr, "sleep_mode", ""},
    {1, 30, 16, "休眠间隔时间(时)：", C::Edit, "Edit26", "Button21", "Button22", Cmd::SleepIntervalRead, Cmd::SleepIntervalWrite, S::Int8, E::Integer, L, 0, nullptr, "sleep_interval", "h"},
    {1, 31, 17, "限流最小电压(V)：", C::Edit, "Edit27", "Button27", "Button28", Cmd::CurrentLimitMinVoltageRead, Cmd::CurrentLimitMinVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "current_limit_min_voltage", "V"},

    {2, 1, 0, "干结点1类型：", C::Combo, "ComboBox4", "Button42", "Button43", Cmd::DryContactTypeRead, Cmd::DryContactTypeWrite, S::ContactType, E::Contact, P, 1, nullptr, "dry_contact_1_type", ""},
    {2, 2, 0, "干结点2类型：", C::Combo, "ComboBox5", "Button46", "Button47", Cmd::DryContactTypeRead, Cmd::DryContactTypeWrite, S::ContactType, E::Contact, P, 2, nullptr, "dry_contact_2_type", ""},
    {2, 3, 0, "干结点3类型：", C::Combo, "ComboBox7", "Button50", "Button51", Cmd::DryContactTypeRead, Cmd::DryContactTypeWrite, S::ContactType, E::Contact, P, 3, nullptr, "dry_contact_3_type", ""},
    {2, 4, 0, "干结点4类型：", C::Combo, "ComboBox10", "Button54", "Button55", Cmd::DryContactTypeRead, Cmd::DryContactTypeWrite, S::ContactType, E::Contact, P, 4, nullptr, "dry_contact_4_type", ""},
    {2, 5, 0, "干结点1状态：", C::Combo, "ComboBox8", "Button45", "Button44", Cmd::DryContactStateRead, Cmd::DryContactStateWrite, S::ContactState, E::Contact, P, 1, nullptr, "dry_contact_1_state", ""},
    {2, 6, 0, "干结点2状态：", C::Combo, "ComboBox6", "Button48", "Button49", Cmd::DryContactStateRead, Cmd::DryContactStateWrite, S::ContactState, E::Contact, P, 2, nullptr, "dry_contact_2_state", ""},
    {2, 7, 0, "干结点3状态：", C::Combo, "ComboBox9", "Button52", "Button53", Cmd::DryContactStateRead, Cmd::DryContactStateWrite, S::ContactState, E::Contact, P, 3, nullptr, "dry_contact_3_state", ""},
    {2, 8, 0, "干结点4状态：", C::Combo, "ComboBox11", "Button56", "Button57", Cmd::DryContactStateRead, Cmd::DryContactStateWrite, S::ContactState, E::Contact, P, 4, nullptr, "dry_contact_4_state", ""},
    {2, 9, 0, "电池测试使能：", C::Check, "CheckBox7", "Button124", "Button125", Cmd::BatteryTestRead, Cmd::BatteryTestWrite, S::FlagNonZero, E::Flag, P, 0, "确定开始电池测试？测试中由电池向负载放电。", "battery_test", ""},
    {2, 10, 0, "电池测试开始电压：", C::Edit, "Edit58", "Button126", "Button127", Cmd::BatteryTestStartVoltageRead, Cmd::BatteryTestStartVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "battery_test_start_voltage", "V"},
    {2, 11, 0, "电池测试结束电压：", C::Edit, "Edit59", "Button128", "Button129", Cmd::BatteryTestEndVoltageRead, Cmd::BatteryTestEndVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "battery_test_end_voltage", "V"},
    {2, 12, 0, "快充使能：", C::Check, "CheckBox8", "Button130", "Button131", Cmd::FastChargeRead, Cmd::FastChargeWrite, S::FlagNonZero, E::Flag, P, 0, nullptr, "fast_charge", ""},
    {2, 13, 0, "快充电压(V)：", C::Edit, "Edit60", "Button132", "Button133", Cmd::FastChargeVoltageRead, Cmd::FastChargeVoltageWrite, S::Div100, E::X100, L, 0, nullptr, "fast_charge_voltage", "V"},
    {2, 14, 0, "快充时间(分)：", C::Edit, "Edit61", "Button134", "Button135", Cmd::FastChargeTimeRead, Cmd::FastChargeTimeWrite, S::Int16, E::Integer, L, 0, nullptr, "fast_charge_time", "min"},
    {2, 18, 0, "电池低温告警点：", C::Edit, "Edit64", "Button142", "Button143", Cmd::BatteryLowTemperatureRead, Cmd::BatteryLowTemperatureWrite, S::SignDiv10, E::WholeX10Signed, L, 0, nullptr, "battery_low_temperature", "°C"},
    {2, 19, 0, "电池高温告警点：", C::Edit, "Edit65", "Button144", "Button145", Cmd::BatteryHighTemperatureRead, Cmd::BatteryHighTemperatureWrite, S::Div10, E::X10, L, 0, nullptr, "battery_high_temperature", "°C"},
    {2, 20, 0, "电池电流增益：", C::Edit, "Edit38", "Button62", "Button63", Cmd::BatteryCurrentGainRead, Cmd::BatteryCurrentGainWrite, S::Int16, E::Integer, L, 0, nullptr, "battery_current_gain", ""},
    {2, 21, 0, "电池电流偏移：", C::Edit, "Edit45", "Button76", "Button77", Cmd::BatteryCurrentOffsetRead, Cmd::BatteryCurrentOffsetWrite, S::Int16, E::Integer, L, 0, nullptr, "battery_current_offset", ""},
    {2, 22, 0, "母排电压增益：", C::Edit, "Edit46", "Button78", "Button79", Cmd::BusVoltageGainRead, Cmd::BusVoltageGainWrite, S::Int16, E::Integer, L, 0, nullptr, "bus_voltage_gain", ""},
    {2, 23, 0, "负载电流增益：", C::Edit, "Edit47", "Button80", "Button81", Cmd::LoadCurrentGainRead, Cmd::LoadCurrentGainWrite, S::Int16, E::Integer, L, 0, nullptr, "load_current_gain", ""},
    {2, 24, 0, "电池温度增益：", C::Edit, "Edit48", "Button82", "Button83", Cmd::BatteryTemperatureGainRead, Cmd::BatteryTemperatureGainWrite, S::Int16, E::Integer, L, 0, nullptr, "battery_temperature_gain", ""},
    {2, 25, 0, "电池温度偏移：", C::Edit, "Edit49", "Button84", "Button85", Cmd::BatteryTemperatureOffsetRead, Cmd::BatteryTemperatureOffsetWrite, S::Int16, E::Integer, L, 0, nullptr, "battery_temperature_offset", ""},
    {2, 26, 0, "环境温度增益：", C::Edit, "Edit50", "Button86", "Button87", Cmd::AmbientTemperatureGainRead, Cmd::AmbientTemperatureGainWrite, S::Int16, E::Integer, L, 0, nullptr, "ambient_temperature_gain", ""},
    {2, 27, 0, "环境温度偏移：", C::Edit, "Edit51", "Button90", "Button91", Cmd::AmbientTemperatureOffsetRead, Cmd::AmbientTemperatureOffsetWrite, S::Int16, E::Integer, L, 0, nullptr, "ambient_temperature_offset", ""},
    {2, 28, 0, "交流电压增益：", C::Edit, "Edit52", "Button92", "Button93", Cmd::AcVoltageGainRead, Cmd::AcVoltageGainWrite, S::Int16, E::Integer, L, 0, nullptr, "ac_voltage_gain", ""},
    {2, 29, 0, "交流电压偏移：", C::Edit, "Edit53", "Button106", "Button107", Cmd::AcVoltageOffsetRead, Cmd::AcVoltageOffsetWrite, S::Int16, E::Integer, L, 0, nullptr, "ac_voltage_offset", ""},
    {2, 30, 0, "负载电流偏移：", C::Edit, "Edit54", "Button116", "Button117", Cmd::LoadCurrentOffsetRead, Cmd::LoadCurrentOffsetWrite, S::Int16, E::Integer, L, 0, nullptr, "load_current_offset", ""},
    {2, 0, 0, "模块数量配置：", C::Edit, "Edit31", "Button99", "Button108", Cmd::ModuleCountRead, Cmd::ModuleCountWrite, S::Int16, E::Integer, L, 0, nullptr, "module_count", ""},
};

// The unit in brackets at the end of a label, ASCII or full-width: its opening bracket's place.
qsizetype unitStart(const QString &name) {
  if (!name.endsWith(QLatin1Char(')')) && !name.endsWith(QChar(0xFF09))) return -1;
  return std::max(name.lastIndexOf(QLatin1Char('(')), name.lastIndexOf(QChar(0xFF08)));
}
QString withoutColon(const char *label) {
  QString name = QString::fromUtf8(label).trimmed();
  while (name.endsWith(QChar(0xFF1A)) || name.endsWith(QLatin1Char(':'))) name.chop(1);
  return name;
}

}  // namespace

std::span<const ParamDef> paramRows() { return kRows; }

std::span<const ParamDef> pageParams(int page) {
  const auto first = std::find_if(std::begin(kRows), std::end(kRows), [page](const ParamDef &r) { return r.page == page; });
  const auto last = std::find_if(first, std::end(kRows), [page](const ParamDef &r) { return r.page != page; });
  return {first, last};
}

const ParamDef *findParam(const char *control) {
  for (const ParamDef &row : kRows)
    if (control && std::strcmp(row.control, control) == 0) return &row;
  return nullptr;
}

const ParamDef *refreshStep(int page, int step) {
  if (step < 1) return nullptr;
  for (const ParamDef &row : kRows)
    if (row.reads() && ((row.page == page && row.pos == step) || (page == 2 && row.page2Step == step))) return &row;
  return nullptr;
}

int refreshLength(int page) {
  int n = 0;
  while (refreshStep(page, n + 1)) ++n;
  return n;
}

QStringList comboItems(Shown shown) {
  switch (shown) {
    case Shown::Buzzer: return {QStringLiteral("关闭"), QStringLiteral("开启"), QStringLiteral("本次关")};
    case Shown::Language: return {QStringLiteral("中文"), QStringLiteral("英语")};
    case Shown::ContactType:
      return {QStringLiteral("未定义"),   QStringLiteral("交流掉电"),   QStringLiteral("交流过欠压"),
              QStringLiteral("直流过欠压"), QStringLiteral("模块故障"),   QStringLiteral("2次下电"),
              QStringLiteral("1次下电"),   QStringLiteral("负载熔丝"),   QStringLiteral("电池1熔丝"),
              QStringLiteral("环境温度"),   QStringLiteral("门禁"),       QStringLiteral("烟雾"),
              QStringLiteral("水侵"),       QStringLiteral("防雷"),       QStringLiteral("电池2熔丝"),
              QStringLiteral("电池3熔丝"), QStringLiteral("电力线搭接"), QStringLiteral("高压过压"),
              QStringLiteral("高压欠压")};
    case Shown::ContactState: return {QStringLiteral("开"), QStringLiteral("关")};
    default: return {};
  }
}

int bytesNeeded(Shown shown) {
  switch (shown) {
    case Shown::Div10:
    case Shown::Div100:
    case Shown::SignDiv10:
    case Shown::Int16:
    case Shown::ContactType:
    case Shown::ContactState: return 2;
    case Shown::Clock: return 7;
    default: return 1;
  }
}

QString wordText(Shown shown, int word) {
  switch (shown) {
    case Shown::Div10: return proto::formatGeneral(word / 10.0);
    case Shown::Div100: return proto::formatGeneral(word / 100.0);
    case Shown::SignDiv10: return proto::formatGeneral((word > 0x8000 ? -(word - 0x8000) : word) / 10.0);
    default: return QString::number(word);
  }
}

std::optional<int> wholeTenthsSignMagnitude(int whole) {
  if (whole < -3276 || whole > 3276) return std::nullopt;
  const int tenths = std::abs(whole) * 10;
  return whole < 0 ? 0x8000 | tenths : tenths;
}

QString labelName(const char *label) {
  const QString name = withoutColon(label);
  const qsizetype unit = unitStart(name);
  return unit < 0 ? name : name.left(unit);
}

QString labelUnit(const char *label) {
  const QString name = withoutColon(label);
  const qsizetype unit = unitStart(name);
  return unit < 0 ? QString() : name.mid(unit + 1, name.size() - unit - 2);
}

std::optional<Range> fieldRange(Encoding encoding) {
  switch (encoding) {
    case Encoding::X10: return Range{0, 0xFFFF, 0, 0xFFFF / 10.0};
    case Encoding::X100: return Range{0, 0xFFFF, 0, 0xFFFF / 100.0};
    case Encoding::WholeX10Signed: return Range{0, 0xFFFF, -3276, 3276};
    case Encoding::Integer: return Range{0, 0xFFFF, 0, 0xFFFF};
    default: return std::nullopt;
  }
}

QString allowedRange(Encoding encoding) {
  const std::optional<Range> range = fieldRange(encoding);
  if (!range) return QString();
  return proto::formatGeneral(range->shownMin) + QChar(0x2013) + proto::formatGeneral(range->shownMax);
}

QString refusalDetail(const ParamDef &row) {
  const QString unit = labelUnit(row.label);
  return labelName(row.label) + QChar(0xFF1A) + allowedRange(row.encoding) +
         (unit.isEmpty() ? QString() : QLatin1Char(' ') + unit);
}

QString writtenText(Encoding encoding, int raw) {
  switch (encoding) {
    case Encoding::X10: return wordText(Shown::Div10, raw);
    case Encoding::X100: return wordText(Shown::Div100, raw);
    case Encoding::WholeX10Signed: return wordText(Shown::SignDiv10, raw);
    default: return QString::number(raw);
  }
}

std::optional<ParamValue> decodeParam(const ParamDef &row, std::span<const uint8_t> data) {
  if (row.shown == Shown::None || data.size() < std::size_t(bytesNeeded(row.shown))) return std::nullopt;
  const int word = data.size() >= 2 ? data[0] * 256 + data[1] : data[0];
  ParamValue v;
  auto flag = [&v](bool on) {
    v.on = on;
    v.text = on ? QStringLiteral("1") : QStringLiteral("0");
  };
  auto item = [&v, &row](int index) {
    const QStringList items = comboItems(row.shown);
    v.index = index >= 0 && index < items.size() ? index : -1;  // a code past the list: no item
    v.text = v.index >= 0 ? items[v.index] : QString();
  };
  switch (row.shown) {
    case Shown::Div10:
    case Shown::Div100:
    case Shown::SignDiv10:
    case Shown::Int16: v.text = wordText(row.shown, word); break;
    case Shown::Int8: v.text = QString::number(data[0]); break;
    case Shown::FlagNonZero: flag(data[0] != 0); break;
    case Shown::FlagOne: flag(data[0] == 1); break;
    case Shown::Buzzer: item(data[0] == 0 ? 0 : data[0] == 1 ? 1 : 2); break;
    case Shown::Language: item(data[0] == 2 ? 1 : 0); break;
    case Shown::ContactType:
    case Shown::ContactState: item(data[1]); break;
    case Shown::Clock: {
      auto two = [&data](int k) { return proto::straddzero(QString::number(data[k]), 2); };
      v.text = QStringLiteral("20") + two(6) + QLatin1Char('-') + two(5) + QLatin1Char('-') + two(3) +
               QLatin1Char(' ') + two(2) + QLatin1Char(':') + two(1) + QLatin1Char(':') + two(0);
      break;
    }
    case Shown::None: return std::nullopt;
  }
  return v;
}

std::optional<QString> encodeParam(const ParamDef &row, int value) {
  switch (row.encoding) {
    case Encoding::X10:
    case Encoding::X100:
    case Encoding::WholeX10Signed:
    case Encoding::Integer:
      if (value < 0 || value > 0xFFFF) return std::nullopt;
      return proto::intto4char(value);
    case Encoding::Flag:
      if (value != 0 && value != 1) return std::nullopt;
      return proto::hex2(value);
    case Encoding::Buzzer:
      if (value < 0 || value > 2) return std::nullopt;
      return proto::hex2(value);
    case Encoding::Contact:
      if (row.contact < 1 || row.contact > 4 || value < 0 || value >= comboItems(row.shown).size())
        return std::nullopt;
      return proto::hex2(row.contact) + proto::hex2(value);
    case Encoding::Clock:
    case Encoding::None: return std::nullopt;
  }
  return std::nullopt;
}

std::optional<int> rawFromText(const ParamDef &row, const QString &text) {
  switch (row.encoding) {
    case Encoding::X10:
    case Encoding::X100: {
      const proto::FixedPoint f = proto::parseFixedPoint(text.trimmed(), row.encoding == Encoding::X10 ? 10 : 100);
      if (f.error != proto::FixedPoint::Ok || f.value < 0 || f.value > 0xFFFF) return std::nullopt;
      return int(f.value);
    }
    case Encoding::WholeX10Signed: {
      bool ok = false;
      const int whole = text.trimmed().toInt(&ok);
      return ok ? wholeTenthsSignMagnitude(whole) : std::nullopt;
    }
    case Encoding::Integer: {
      bool ok = false;
      const int value = text.trimmed().toInt(&ok);
      if (!ok || value < 0 || value > 0xFFFF) return std::nullopt;
      return value;
    }
    default: return std::nullopt;
  }
}

QString clockSetData(int year, int month, int day, int hour, int minute, int second) {
  using proto::hex2;
  return hex2(second) + hex2(minute) + hex2(hour) + hex2(day) + QStringLiteral("01") + hex2(month) + hex2(year % 100);
}

}  // namespace params
