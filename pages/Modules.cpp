// The rectifier modules on the status page: the module table the polling cycle fills, the
// grid that mirrors it every 100 ms, and switching one module on or off.
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>

#include "pages/ModuleTones.h"
#include "protocol/Status.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"

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
  moduleTable = status::noModules();
  currentModule = 0;
}

// ---------------------------------------------------------------- the module phase of the cycle

void TForm1::moduleListDecode() {
  QStringList offered;
  for (int n : status::applyModuleList(moduleTable, &payload[4], payload[3])) offered << QString::number(n);
  std::array<bool, status::kModules + 1> listed{};
  for (int n = 1; n <= status::kModules; ++n) listed[n] = moduleTable[n].present;
  freshness_.moduleListAnswered(listed);
  offerModules(offered);
  currentModule = 0;
  if (statusPolling && answeringTag() == StatusPoll) mcu_get_dymostatus();
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
  if (const int n = status::nextPresentModule(moduleTable, currentModule)) {
    currentModule = n;
    // the answer names no module: the request carries its number to the decoder; the
    // controller names a module by its plain number (module 10 is 0x0A)
    SendingAs as(*this, n);
    send(proto::Command::ModuleReadings, {static_cast<uint8_t>(n)}, CidCase::Lower);
    return;
  }
  currentModule = 0;
  monitorModulesShown();
  Timer2->setInterval(status::kPollPeriodMs);
  Timer2->setEnabled(true);
}

void TForm1::moduleReadingsDecode() {
  // The readings belong to the module their request named; readings no polling cycle asked
  // for belong to no module and start nothing.
  const int n = answeringTag() == StatusPoll ? answeringContext() : 0;
  if (n < 1 || n > status::kModules) return;
  currentModule = n;
  status::storeReadings(moduleTable[n], &payload[4]);
  freshness_.moduleAnswered(n);
  // once started, the module phase runs to the last present module, whether or not the
  // polling flag is still set (the page left, a module switched)
  mcu_get_dymostatus();
}

// ---------------------------------------------------------------- the grid

// A row is greyed while what it shows is not current: the page is stale, or a fitted module's
// readings went unanswered for a few cycles, or nothing was heard of it on this link.
void TForm1::Timer4Timer() {
  for (int n = 1; n <= status::kModules; ++n) {
    const bool known = statusShownLive_ && freshness_.moduleKnown(n);
    if (known != gridRowKnown_[n]) {
      StringGrid2->SetRowGreyed(n, !known);
      gridRowKnown_[n] = known;
      gridShown_[n].reset();  // current again: its tones come back
    }
    if (gridShown_[n] && *gridShown_[n] == moduleTable[n]) continue;
    const auto texts = status::moduleRowTexts(moduleTable[n]);
    for (int c = 1; c <= 6; ++c) StringGrid2->SetCells(c, n, texts[c - 1]);
    if (known) toneModuleRow(*StringGrid2, n, moduleTable[n]);  // faults red, fan and limiting amber
    gridShown_[n] = moduleTable[n];
  }
}

// ---------------------------------------------------------------- on and off

// Switching a module off asks first, naming the module; the module asked about is the one
// switched, whatever the box holds when the command goes out.
void TForm1::moduleSwitch(bool on) {
  const std::optional<int> module = status::moduleNumber(ComboBox31->currentText());
  if (!on && module && !AskYesNo(QStringLiteral("确定关闭 %1 号整流模块？").arg(*module))) return;
  moduleSwitchNumber = module.value_or(0);
  Timer5->setInterval(500);
  Timer5->setEnabled(true);
  moduleSwitchOn = on;
  statusPolling = false;
  Timer2->setEnabled(false);
}

void TForm1::Timer5Timer() {
  Timer5->setEnabled(false);
  const std::optional<int> module =
      moduleSwitchNumber ? std::optional<int>(moduleSwitchNumber) : std::nullopt;
  if (module)
    send(moduleSwitchOn ? proto::Command::ModuleOn : proto::Command::ModuleOff, {static_cast<uint8_t>(*module)});
  Timer2->setInterval(status::kPollPeriodMs);
  Timer2->setEnabled(true);
  if (!module)
    ShowMessageBox(QStringLiteral("模块号“%1”不对：请输入1到12的模块号").arg(ComboBox31->currentText()),
                   QStringLiteral("error"));
}
