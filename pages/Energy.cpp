// Energy statistics ("用电量信息"): today, this month, this year and the total of the four
// users, and the record of any of the last twelve months, each read into one grid row.
#include "pages/Energy.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>

#include "protocol/Commands.h"
#include "protocol/Conversions.h"
#include "window/Controls.h"
#include "window/Unit1.h"


namespace {

constexpr int kUsers = 4;

struct TotalRow {
  const char *button;
  const char *caption;
  void (TForm1::*handler)();
};
const TotalRow kTotalRows[] = {
#define ENERGY_TOTAL_BUTTON(button, caption, decoder, command, row) {#button, caption, &TForm1::button##Click},
    ENERGY_TOTAL_ROWS(ENERGY_TOTAL_BUTTON)
#undef ENERGY_TOTAL_BUTTON
};


}  // namespace

// ---------------------------------------------------------------- named entry points

#define ENERGY_DEFINE_TOTAL(button, caption, decoder, command, row)                          \
  void TForm1::button##Click() {                                                            \
    send(proto::Command::command, {}, CidCase::Lower);                                      \
  }                                                                                         \
  void TForm1::decoder(QObject *) { energyShowTotals(row); }
ENERGY_TOTAL_ROWS(ENERGY_DEFINE_TOTAL)
#undef ENERGY_DEFINE_TOTAL

// ---------------------------------------------------------------- layout

void TForm1::buildEnergyPage() {
  QWidget *page = TabSheet5;
  // A month heading such as "2024-12" must fit column 0 whole at the window's font.
  StringGrid1->setColumnWidth(0, 56);
  StringGrid1->resize(StringGrid1->width() + 8, StringGrid1->height());
  int left = 8;
  for (const TotalRow &r : kTotalRows) {
    onButton(placeControl<QPushButton>(page, r.button, QString::fromUtf8(r.caption), left, 462, 80, 25), r.handler);
    left += 88;
  }
  auto *group = placeControl<QGroupBox>(page, "GroupBoxMonth", 362, 446, 200, 56);
  group->setTitle(QStringLiteral("选择月份"));
  ComboBox2 = placeControl<QComboBox>(group, "ComboBox2", 12, 22, 70, 24);
  for (int m = 1; m <= 12; ++m) ComboBox2->addItem(QString::number(m));
  ComboBox2->setCurrentIndex(0);
  onButton(placeControl<QPushButton>(group, "Button97", QStringLiteral("获取月份"), 96, 21, 90, 25),
           &TForm1::Button97Click);
}

// ---------------------------------------------------------------- requests

// "获取月份": the month travels as two BCD digits, the combo text read as hexadecimal
// ("12" is 0x12, "3" is 0x03).
void TForm1::Button97Click() {
  // the month box is the operator's: text that is no two hexadecimal digits is refused as
  // the builder refuses it
  const QString month = proto::straddzero(ComboBox2->currentText(), 2);
  const auto data = month.size() == 2 ? proto::hexBytes(month.toStdString()) : std::nullopt;
  if (!data) return refuseBuild();
  send(proto::Command::EnergyMonth, *data, CidCase::Lower);
}

// ---------------------------------------------------------------- decoders

// The four users' cells of a grid row, from the figures at data byte firstFigure on and the
// percentages at firstPercent on.
void TForm1::energyShowUsers(int row, int firstFigure, int firstPercent) {
  for (int u = 0; u < kUsers; ++u)
    StringGrid1->SetCells(1 + u, row,
                          energy::cellText(energy::figure(&payload[4 + firstFigure + 4 * u]),
                                           dataByte(firstPercent + u)));
}

void TForm1::energyShowTotals(int row) {
  if (answerHolds(energy::kTotalBytes, false)) energyShowUsers(row, 0, 16);
}

// The month's row gets its year: "2024-5" replaces the heading "5月". A month byte that is
// not a BCD month 1-12 names no row of the twelve, and the answer is refused.
void TForm1::Read_MonthRecord(QObject *) {
  if (!answerHolds(energy::kMonthBytes, false)) return;  // a refused or short answer changes no cell
  const std::optional<int> month = energy::bcdMonth(dataByte(0));
  if (!month) {
    reportReadError(false);
    return;
  }
  const int year = energy::recordYear(dataByte(21), dataByte(22), *month);
  StringGrid1->SetCells(0, *month, energy::monthTitle(year, *month));
  energyShowUsers(*month, 1, 17);
}
