// The rectifier-module records: the module list, one module's readings, and what the grid
// row of a module says.
#include <algorithm>

#include "protocol/Conversions.h"
#include "protocol/Status.h"

namespace status {

ModuleRecord absentModule() {
  ModuleRecord m;
  m.status = 0x80;
  return m;
}

ModuleTable noModules() {
  ModuleTable t;
  for (int n = 1; n <= kModules; ++n) t[n] = absentModule();
  return t;
}

std::vector<int> listedModules(const uint8_t *data, int count) {
  std::vector<int> listed;
  for (int k = 0; k < count; ++k) {
    const int n = data[k];
    // the table and the grid hold modules 1..12: any other number names nothing
    if (n < 1 || n > kModules || std::find(listed.begin(), listed.end(), n) != listed.end()) continue;
    listed.push_back(n);
  }
  return listed;
}

std::vector<int> applyModuleList(ModuleTable &table, const uint8_t *data, int count) {
  const std::vector<int> listed = listedModules(data, count);
  for (auto &m : table) m.present = 0;
  for (int n : listed) table[n].present = 1;
  for (auto &m : table)
    if (!m.present) m = absentModule();
  table[0] = ModuleRecord{};
  return listed;
}

int nextPresentModule(const ModuleTable &table, int after) {
  for (int n = std::max(after, 0) + 1; n <= kModules; ++n)
    if (table[n].present) return n;
  return 0;
}

void storeReadings(ModuleRecord &m, const uint8_t *data) {
  m.voltage[0] = data[1];
  m.voltage[1] = data[2];
  m.current[0] = data[3];
  m.current[1] = data[4];
  m.status = data[9];
  m.fault = data[10];
}

namespace {
const char *faultText(uint8_t code) {
  switch (code) {
    case 1: return "过温";
    case 2: return "过压";
    case 3: return "短路";
    case 4: return "输入告警";
    case 6: return "输入掉电";
    default: return nullptr;
  }
}
}  // namespace

ModuleView moduleView(const ModuleRecord &m) {
  using P = ModuleView::Power;
  ModuleView v{};
  v.power = m.status & 0x80 ? P::Absent : m.status & 0x04 ? P::Off : P::On;
  v.volts = unsigned16(m.voltage[0], m.voltage[1]) / 100.0;
  v.amperes = unsigned16(m.current[0], m.current[1]) / 100.0;
  v.faultText = faultText(m.fault);
  v.protection = (m.status & 0x20) != 0 || v.faultText != nullptr;
  v.fan = (m.status & 0x10) != 0;
  v.limiting = (m.status & 0x01) != 0;
  return v;
}

std::array<QString, 6> moduleRowTexts(const ModuleRecord &m) {
  using P = ModuleView::Power;
  const ModuleView v = moduleView(m);
  const auto alarm = [](bool set) { return set ? QStringLiteral("告警") : QStringLiteral("正常"); };
  std::array<QString, 6> t;
  t[0] = v.power == P::Absent ? QStringLiteral("不在位") : v.power == P::Off ? QStringLiteral("关机") : QStringLiteral("开机");
  t[1] = proto::formatGeneral(v.volts) + QLatin1Char('V');
  t[2] = proto::formatGeneral(v.amperes) + QLatin1Char('A');
  t[3] = v.faultText ? QString::fromUtf8(v.faultText) : alarm(m.status & 0x20);
  t[4] = alarm(v.fan);
  t[5] = alarm(v.limiting);
  return t;
}

const std::array<QString, 7> &moduleGridHeadings() {
  static const std::array<QString, 7> headings = {
      QStringLiteral("-48v模块"), QStringLiteral("开关机状态"), QStringLiteral("输出电压"), QStringLiteral("输出电流"),
      QStringLiteral("模块保护"), QStringLiteral("风机故障"),   QStringLiteral("限流状态")};
  return headings;
}

std::optional<int> moduleNumber(const QString &text) {
  const QString t = text.trimmed();
  if (t.isEmpty() || t.size() > 2) return std::nullopt;
  int n = 0;
  for (QChar c : t) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    n = n * 10 + (c.unicode() - '0');
  }
  if (n < 1 || n > kModules) return std::nullopt;
  return n;
}

}  // namespace status
