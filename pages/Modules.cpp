// The rectifier modules on the status page: the module table the polling cycle fills, the
// grid that mirrors it every 100 ms, and switching one module on or off.
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>

#include "pages/Status.h"
#include "protocol/Conversions.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"

namespace status {

ModuleRecord absentModule() {
  ModuleRecord m;
  m.status = 0x80;
  return m;
}

std::array<QString, 6> moduleRowTexts(const ModuleRecord &m) {
  const auto alarm = [&](uint8_t mask) { return m.status & mask ? QStringLiteral("告警") : QStringLiteral("正常"); };
  std::array<QString, 6> t;
  t[0] = m.status & 0x80 ? QStringLiteral("不在位") : m.status & 0x04 ? QStringLiteral("关机") : QStringLiteral("开机");
  t[1] = proto::formatGeneral(unsigned16(m.voltage[0], m.voltage[1]) / 100.0) + QLatin1Char('V');
  t[2] = proto::formatGeneral(unsigned16(m.current[0], m.current[1]) / 100.0) + QLatin1Char('A');
  t[3] = alarm(0x20);
  t[4] = alarm(0x10);
  t[5] = alarm(0x01);
  switch (m.fault) {
    case 1: t[3] = QStringLiteral("过温"); break;
    case 2: t[3] = QStringLiteral("过压"); break;
    case 3: t[3] = QStringLiteral("短路"); break;
    case 4: t[3] = QStringLiteral("输入告警"); break;
    case 6: t[3] = QStringLiteral("输入掉电"); break;
    default: break;
  }
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

QString moduleDataByte(int module) {
  return QStringLiteral("%1").arg(module & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

}  // namespace status

// ---------------------------------------------------------------- named entry points

void TForm1::Button21Click() { moduleSwitch(true); }
void TForm1::Button22Click() { moduleSwitch(false); }

// ---------------------------------------------------------------- layout

void TForm1::buildModuleControls() {
  QWidget *page = TabSheet2;
  constexpr int top = 238;
  StringGrid2 = new TStringGrid(page, QStringLiteral("StringGrid2"), 7, 13, 1, 15);
  // columns of 60, widened where this font's heading would not fit
  int width = 0;
  for (int c = 0; c < 7; ++c) {
    const QString &heading = status::moduleGridHeadings()[c];
    StringGrid2->setColumnWidth(c, std::max(60, StringGrid2->fontMetrics().horizontalAdvance(heading) + 10));
    width += StringGrid2->columnWidth(c);
  }
  // every row in view: no scroll bar, the frame around exactly 13 rows of 7 columns
  StringGrid2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  StringGrid2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  const int frame = 2 * StringGrid2->frameWidth();
  StringGrid2->setGeometry(8, top, width + frame, 13 * 15 + frame);

  auto *group = placeControl<QGroupBox>(page, "GroupBox5", 8 + width + frame + 12, top, 120, 100);
  group->setTitle(QStringLiteral("整流模块控制"));
  ComboBox31 = placeControl<QComboBox>(group, "ComboBox31", 10, 24, 100, 22);
  ComboBox31->setEditable(true);
  for (int n = 1; n <= 32; ++n) ComboBox31->addItem(QString::number(n));
  ComboBox31->setEditText(QStringLiteral("1"));
  Button114 = placeControl<QPushButton>(group, "Button114", QStringLiteral("开机"), 10, 58, 48, 25);
  Button115 = placeControl<QPushButton>(group, "Button115", QStringLiteral("关机"), 62, 58, 48, 25);
  onButton(Button114, &TForm1::Button21Click);
  onButton(Button115, &TForm1::Button22Click);
}

void TForm1::resetModuleTable() {
  moduleTable[0] = status::ModuleRecord{};
  for (int n = 1; n <= status::kModules; ++n) moduleTable[n] = status::absentModule();
  currentModule = 0;
}

// ---------------------------------------------------------------- the module phase of the cycle

void TForm1::moduleListDecode() {
  QStringList offered;
  for (auto &m : moduleTable) m.present = 0;
  for (int k = 0; k < payload[3]; ++k) {
    const int n = dataByte(k);
    // the table and the grid hold modules 1..12: any other number marks and offers nothing
    if (n < 1 || n > status::kModules || moduleTable[n].present) continue;
    moduleTable[n].present = 1;
    offered << QString::number(n);
  }
  for (auto &m : moduleTable)
    if (!m.present) m = status::absentModule();
  moduleTable[0] = status::ModuleRecord{};
  offerModules(offered);
  currentModule = 0;
  if (statusPolling) mcu_get_dymostatus();
}

// The box's items become the listed modules; what the operator has typed stays.
void TForm1::offerModules(const QStringList &modules) {
  QStringList items;
  for (int i = 0; i < ComboBox31->count(); ++i) items << ComboBox31->itemText(i);
  if (items == modules) return;
  const QString typed = ComboBox31->currentText();
  ComboBox31->clear();
  ComboBox31->addItems(modules);
  ComboBox31->setEditText(typed);
}

void TForm1::mcu_get_dymostatus() {
  for (int n = currentModule + 1; n <= status::kModules; ++n) {
    if (!moduleTable[n].present) continue;
    currentModule = n;
    sendRequest(QStringLiteral("41"), QStringLiteral("0e"), status::moduleDataByte(n));
    return;
  }
  currentModule = 0;
  monitorModulesShown();
  Timer2->SetInterval(1000);
  Timer2->SetEnabled(true);
}

void TForm1::moduleReadingsDecode() {
  // Readings that arrive when no module was asked for (a repeated answer after the cycle
  // ended) belong to no module and start nothing.
  if (currentModule < 1 || currentModule > status::kModules) return;
  status::ModuleRecord &m = moduleTable[currentModule];
  m.voltage[0] = dataByte(1);
  m.voltage[1] = dataByte(2);
  m.current[0] = dataByte(3);
  m.current[1] = dataByte(4);
  m.status = dataByte(9);
  m.fault = dataByte(10);
  mcu_get_dymostatus();
}

// ---------------------------------------------------------------- the grid

void TForm1::Timer4Timer() {
  for (int n = 1; n <= status::kModules; ++n) {
    if (gridShown_[n] && *gridShown_[n] == moduleTable[n]) continue;
    const auto texts = status::moduleRowTexts(moduleTable[n]);
    for (int c = 1; c <= 6; ++c) StringGrid2->SetCells(c, n, texts[c - 1]);
    gridShown_[n] = moduleTable[n];
  }
}

// ---------------------------------------------------------------- on and off

void TForm1::moduleSwitch(bool on) {
  Timer5->SetInterval(500);
  Timer5->SetEnabled(true);
  moduleSwitchOn = on;
  statusPolling = false;
  Timer2->SetEnabled(false);
}

void TForm1::Timer5Timer() {
  Timer5->SetEnabled(false);
  const std::optional<int> module = status::moduleNumber(ComboBox31->currentText());
  if (module)
    sendRequest(QStringLiteral("41"), moduleSwitchOn ? QStringLiteral("10") : QStringLiteral("11"),
                status::moduleDataByte(*module));
  Timer2->SetInterval(1000);
  Timer2->SetEnabled(true);
  if (!module)
    ShowMessageBox(QStringLiteral("模块号“%1”不对：请输入1到12的模块号").arg(ComboBox31->currentText()),
                   QStringLiteral("error"));
}
