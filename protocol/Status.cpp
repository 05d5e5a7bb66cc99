// The status and AC answers: where each measurement and alarm bit sits and how it travels.
#include "protocol/Status.h"

#include "protocol/Conversions.h"

namespace status {

namespace {

using A = StatusAnswer;
using E = Encoding;

const Measurement kMeasurements[] = {
    {A::System, 0, E::Unsigned16Div100, "Edit16"},  // output (bus) voltage, V
    {A::System, 2, E::Signed16Div10, "Edit17"},     // battery current, A
    {A::System, 4, E::Unsigned16Div10, "Edit15"},   // output current, A
    {A::System, 6, E::Signed16Div10, "Edit32"},     // battery temperature
    {A::System, 8, E::Signed16Div10, "Edit18"},     // ambient temperature
    {A::System, 10, E::Unsigned8, "Edit33"},        // rectifier modules
    {A::System, 11, E::Unsigned16Div10, "Edit19"},  // ambient humidity
    {A::Ac, 0, E::Unsigned16Div10, "Edit14"},       // AC input voltage, V
};

const Lamp kLamps[] = {
    {"Shape1", "-48V输出过压：", A::System, 13, 0x10},
    {"Shape2", "-48V电池低压：", A::System, 13, 0x04},
    {"Shape3", "-48V负载过流：", A::System, 13, 0x02},
    {"Shape4", "-48V电池过流：", A::System, 14, 0x01},
    {"Shape5", "-48V电池过温：", A::System, 15, 0x40},
    {"Shape6", "-48V电池低温：", A::System, 15, 0x20},
    {"Shape27", "-48V负载下电：", A::System, 13, 0x01},
    {"Shape28", "-48V电池下电：", A::System, 14, 0x40},
    {"Shape7", "-48V环境过温：", A::System, 14, 0x20},
    {"Shape8", "-48V环境低温：", A::System, 14, 0x10},
    {"Shape21", "-48V负载熔丝：", A::System, 14, 0x04},
    {"Shape29", "  电池1 熔丝：", A::System, 14, 0x02},
    {"Shape10", "  模块缺失：", A::System, 14, 0x08},
    {"Shape26", "防         雷：", A::System, 17, 0x08},
    {"Shape18", "门         禁：", A::System, 17, 0x04},
    {"Shape17", "水         浸：", A::System, 17, 0x02},
    {"Shape22", "交流空开：", A::Ac, 4, 0x20},
    {"Shape16", "烟         雾：", A::System, 17, 0x01},
};

}  // namespace

std::span<const Measurement> measurements() { return kMeasurements; }
std::span<const Lamp> lamps() { return kLamps; }

int bytesRead(StatusAnswer answer, uint8_t lengthByte) {
  switch (answer) {
    case A::System: return 18;
    case A::Ac: return 5;
    case A::ModuleList: return lengthByte;
    case A::ModuleReadings: return 11;
  }
  return 0;
}

int unsigned16(uint8_t high, uint8_t low) { return high * 256 + low; }

int signMagnitude16(uint8_t high, uint8_t low) {
  const int raw = unsigned16(high, low);
  return raw >= 0x8000 ? 0x8000 - raw : raw;
}

double measurementValue(Encoding encoding, const uint8_t *data) {
  switch (encoding) {
    case E::Unsigned16Div100: return unsigned16(data[0], data[1]) / 100.0;
    case E::Unsigned16Div10: return unsigned16(data[0], data[1]) / 10.0;
    case E::Signed16Div10: return signMagnitude16(data[0], data[1]) / 10.0;
    case E::Unsigned8: return data[0];
  }
  return 0;
}

QString measurementText(Encoding encoding, const uint8_t *data) {
  return proto::formatGeneral(measurementValue(encoding, data));
}

std::optional<BatteryState> batteryState(uint8_t bits) {
  std::optional<BatteryState> s;
  if (bits & 0x01) s = BatteryState::Test;
  if (bits & 0x02) s = BatteryState::FastCharge;
  if (bits & 0x04) s = BatteryState::Float;
  if (bits & 0x10) s = BatteryState::Equalize;
  return s;
}

QString batteryStateText(BatteryState state) {
  switch (state) {
    case BatteryState::Test: return QStringLiteral("电池测试");
    case BatteryState::FastCharge: return QStringLiteral("快充");
    case BatteryState::Float: return QStringLiteral("浮充");
    case BatteryState::Equalize: return QStringLiteral("均充");
  }
  return {};
}

QString batteryStateText(uint8_t bits, const QString &previous) {
  const std::optional<BatteryState> s = batteryState(bits);
  return s ? batteryStateText(*s) : previous;
}

AcState acState(uint8_t bits) {
  AcState s{QStringLiteral("正常"), (bits & 0x07) != 0, AcCondition::Normal};
  if (bits & 0x04) s = {QStringLiteral("过压"), true, AcCondition::OverVoltage};
  if (bits & 0x02) s = {QStringLiteral("欠压"), true, AcCondition::UnderVoltage};
  if (bits & 0x01) s = {QStringLiteral("掉电"), true, AcCondition::PowerFail};
  return s;
}

}  // namespace status
