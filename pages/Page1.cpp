// Parameter page 1 ("参数1设置"): 31 parameters read and written one row at a time, the
// one-key refresh chain through all of them, and the controller clock.
#include <QFont>
#include <QLineEdit>
#include <QPushButton>

#include "pages/ParamHandlers.h"
#include "pages/ParamTable.h"
#include "protocol/Conversions.h"
#include "window/Controls.h"
#include "window/Unit1.h"

namespace {

using params::Control;
using params::Encoding;
using params::Shown;

// The page's rows (protocol/ParamRows.cpp) with their named handlers.
const std::span<const ParamRow> kRows = params::page1Rows();
const int kRowCount = int(kRows.size());
constexpr int kLeftColumnRows = 17;

int rowIndex(int pos) { return params::rowIndex(kRows, pos); }

}  // namespace

// ---------------------------------------------------------------- named entry points

// Each finds its own row by its own address, so a handler can only ever act on its row.
#define READ_WRITE(read, write)                                          \
  void TForm1::read() { page1Read(params::rowIndex(kRows, &TForm1::read)); } \
  void TForm1::write() { page1Write(params::rowIndex(kRows, &TForm1::write)); }
#define READ_ONLY(read) void TForm1::read() { page1Read(params::rowIndex(kRows, &TForm1::read)); }
#define WRITE_ONLY(write) void TForm1::write() { page1Write(params::rowIndex(kRows, &TForm1::write)); }
#define DECODER(decoder) void TForm1::decoder(QObject *) { page1Decode(params::decoderRow(kRows, &TForm1::decoder)); }
#define NO_DECODER
#define PAGE1_DEFINE(control, handlers, decoder) handlers decoder
PARAM_HANDLERS_PAGE1(PAGE1_DEFINE)
#undef PAGE1_DEFINE
#undef READ_WRITE
#undef READ_ONLY
#undef WRITE_ONLY
#undef DECODER
#undef NO_DECODER

// ---------------------------------------------------------------- layout

void TForm1::buildPage1() {
  page1Controls_.assign(kRowCount, nullptr);
  const int rowHeight = 30, top = 10;
  const ParamRowShape plain;
  for (int i = 0; i < kRowCount; ++i) {
    const ParamRow &row = kRows[i];
    const bool left = i < kLeftColumnRows;
    ParamRowShape shape;
    switch (row.kind) {
      case Control::Check: shape.controlWidth = 20; break;
      case Control::Combo: shape.controlWidth = 66; break;
      case Control::Edit: break;
    }
    if (row.encoding == Encoding::Clock) {
      shape.labelWidth = 40;
      shape.controlWidth = 105;
      shape.readWidth = shape.writeWidth = 36;
      shape.readText = QStringLiteral("读取");
      shape.writeText = QStringLiteral("校准");
    } else if (row.shown == Shown::Language) {
      shape.readWidth = 73;
      shape.readText = QStringLiteral("获取");
    } else if (!row.readButton) {
      shape.writeWidth = 68;
    }
    QWidget *control =
        placeParamRow(TabSheet1, row, left ? 6 : 292, top + (left ? i : i - kLeftColumnRows) * rowHeight, shape,
                      &TForm1::page1Read, &TForm1::page1Write, i);
    if (row.encoding == Encoding::Clock) {  // display only, empty until read or set
      auto *clock = static_cast<QLineEdit *>(control);
      clock->clear();
      clock->setEnabled(false);
      // A whole date and time must fit the narrow box: no inner margins, and the digits set
      // a little closer than the window font sets them.
      clock->setTextMargins(0, 0, 0, 0);
      QFont font = clock->font();
      font.setLetterSpacing(QFont::PercentageSpacing, 85);
      clock->setFont(font);
    }
    page1Controls_[i] = control;
  }
  onButton(placeControl<QPushButton>(TabSheet1, "Button24", QStringLiteral("一键刷新"), 292 + plain.labelWidth + 2,
                                     top + (kRowCount - kLeftColumnRows) * rowHeight + 10, 75, 25),
           &TForm1::Button24Click);
}

// ---------------------------------------------------------------- read, write, decode

void TForm1::page1Read(int i) {
  if (!params::validRow(kRows, i)) return;
  const ParamRow &row = kRows[i];
  if (sending_.tag == Page1Chain) {
    page1Position = row.pos;
    if (page1Refresh) chainStep(Chain::Page1, row.pos, params::refreshLength(1));
  }
  if (page2Refresh && sending_.tag == Page2Chain && row.page2Step)
    chainStep(Chain::Page2, row.page2Step, params::refreshLength(2));
  send(row.readCommand);
}

void TForm1::page1Write(int i) {
  if (!params::validRow(kRows, i)) return;
  if (kRows[i].encoding == Encoding::Clock) return page1SetClock();
  paramWrite(kRows[i], page1Controls_[i]);
}

// "校准": the controller clock is set to the status-bar clock's last reading.
void TForm1::page1SetClock() {
  const ClockSnapshot &t = clockSnapshot;
  auto n = [](int v) { return QString::number(v); };
  if (const int clock = rowIndex(25); clock >= 0)
    static_cast<QLineEdit *>(page1Controls_[clock])
        ->setText(QStringLiteral("20") + n(t.wYear % 100) + QLatin1Char('-') + n(t.wMonth) + QLatin1Char('-') +
                  n(t.wDay) + QLatin1Char(' ') + n(t.wHour) + QLatin1Char(':') + n(t.wMinute) + QLatin1Char(':') +
                  n(t.wSecond));
  auto b = [](int v) { return static_cast<uint8_t>(v); };
  send(proto::Command::ClockSet,
       {b(t.wSecond), b(t.wMinute), b(t.wHour), b(t.wDay), 1, b(t.wMonth), b(t.wYear % 100)}, CidCase::Lower);
}

void TForm1::page1Decode(int i) {
  if (!params::validRow(kRows, i)) return;
  const int pos = kRows[i].pos;
  // While the page-2 refresh runs, rows 27 and 28 lead into it before its step 9 and rows 29
  // to 31 are its steps 15 to 17: they go on with that chain instead of this page's.
  if (paramDecode(kRows[i], page1Controls_[i]) && page2Refresh && carriesOn(Page2Chain)) {
    if (pos == 27) {
      SendingAs chain(*this, Page2Chain, 0, true);
      return Button122Click();
    }
    if (pos == 28) return page2Continue(8);
    if (const int step = kRows[i].page2Step) return page2Continue(step);
  }
  if (carriesOn(Page1Chain)) page1Position = pos;
  mcu_shaxincs_option();
}

// ---------------------------------------------------------------- the refresh chain

void TForm1::Button24Click() {
  // pressed again while it runs: it starts afresh, and what the run before still has on its
  // way carries nothing on
  exchange_->detach(Page1Chain, OperatorRequest);
  page1Refresh = true;
  if (cancelledChain_ == Page1Chain) cancelledChain_ = OperatorRequest;
  SendingAs chain(*this, Page1Chain, 0, false);
  page1Read(rowIndex(1));  // the first step of the table's refresh
}

void TForm1::mcu_shaxincs_option() {
  // only the chain's own answers carry it on
  if (!page1Refresh || !carriesOn(Page1Chain)) return;
  const int p = page1Position;
  const int next = p >= 1 && p < params::refreshLength(1) ? rowIndex(p + 1) : -1;
  if (next >= 0 && kRows[next].reads()) {
    SendingAs chain(*this, Page1Chain, 0, true);
    page1Read(next);
    return;
  }
  page1Refresh = false;
}
