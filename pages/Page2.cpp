// Parameter page 2 ("参数2设置"): the four dry contacts, battery test, fast charge, the
// battery temperature alarm points, the calibration values and the module count, and the
// one-key refresh that reads them with three page-1 rows in one chain of 30 requests.
#include <QComboBox>
#include <QPushButton>

#include "pages/ParamHandlers.h"
#include "pages/ParamTable.h"
#include "protocol/Conversions.h"
#include "window/Controls.h"
#include "window/Unit1.h"

namespace {

using params::Control;
using params::Shown;

// The page's rows (protocol/ParamRows.cpp) with their named handlers.
const std::span<const ParamRow> kRows = params::page2Rows();
const int kRowCount = int(kRows.size());
constexpr int kContactRows = 8, kColumnRows = 10;

int rowIndex(int step) { return params::rowIndex(kRows, step); }

}  // namespace

// ---------------------------------------------------------------- named entry points

// Each finds its own row by its own address, so a handler can only ever act on its row.
#define READ_WRITE(read, write)                                              \
  void TForm1::read() { page2Read(params::rowIndex(kRows, &TForm1::read)); } \
  void TForm1::write() { page2Write(params::rowIndex(kRows, &TForm1::write)); }
#define DECODER(decoder) void TForm1::decoder(QObject *) { page2Decode(params::decoderRow(kRows, &TForm1::decoder)); }
#define SHARED_DECODER(decoder)
#define PAGE2_DEFINE(control, handlers, decoder) handlers decoder
PARAM_HANDLERS_PAGE2(PAGE2_DEFINE)
#undef PAGE2_DEFINE
#undef READ_WRITE
#undef DECODER
#undef SHARED_DECODER
void TForm1::mcu_read_relaytype(QObject *) { page2DecodeContact(true); }
void TForm1::mcu_read_relaystatus(QObject *) { page2DecodeContact(false); }

// ---------------------------------------------------------------- layout

void TForm1::buildPage2() {
  page2Controls_.assign(kRowCount, nullptr);
  const int rowHeight = 30, top = 10, right = 292;
  const int columnsTop = top + 4 * rowHeight + 10;
  for (int i = 0; i < kRowCount; ++i) {
    const ParamRow &row = kRows[i];
    ParamRowShape shape;
    int x = 6, y = 0;
    if (i < kContactRows) {  // type at the left, state at the right of the contact's row
      const bool type = row.shown == Shown::ContactType;
      shape.labelWidth = 84;
      shape.controlWidth = type ? 100 : 66;
      shape.readWidth = shape.writeWidth = 25;
      x = type ? 6 : right;
      y = top + (row.contact - 1) * rowHeight;
    } else {
      const int k = i - kContactRows;
      if (row.kind == Control::Check) shape.controlWidth = 20;
      x = k < kColumnRows ? 6 : right;
      y = columnsTop + (k % kColumnRows) * rowHeight;
    }
    QWidget *control = placeParamRow(TabSheet3, row, x, y, shape, &TForm1::page2Read, &TForm1::page2Write, i);
    if (auto *box = qobject_cast<QComboBox *>(control)) {
      // Editable; no item chosen at first. Typed text never becomes an item.
      box->setEditable(true);
      box->setInsertPolicy(QComboBox::NoInsert);
      box->setCurrentIndex(-1);
      box->setEditText(row.shown == Shown::ContactType ? QStringLiteral("自定义") : QStringLiteral("开"));
    }
    page2Controls_[i] = control;
  }
  const ParamRowShape plain;
  onButton(placeControl<QPushButton>(TabSheet3, "Button88", QStringLiteral("一键刷新"), right + plain.labelWidth + 2,
                                     columnsTop + kColumnRows * rowHeight + 10, 75, 25),
           &TForm1::Button88Click);
}

// ---------------------------------------------------------------- read, write, decode

void TForm1::page2Read(int i) {
  if (!params::validRow(kRows, i)) return;
  const ParamRow &row = kRows[i];
  if (page2Refresh && row.pos > 0 && sending_.tag == Page2Chain) chainStep(Chain::Page2, row.pos, params::refreshLength(2));
  if (!row.contact) {
    send(row.readCommand);
    return;
  }
  // A dry-contact read names its contact; the answer fills that contact's box, which the
  // request carries to its decoder.
  page2Position = row.contact;
  SendingAs as(*this, row.contact);
  send(row.readCommand, {static_cast<uint8_t>(row.contact)});
}

void TForm1::page2Write(int i) {
  if (params::validRow(kRows, i)) paramWrite(kRows[i], page2Controls_[i]);
}

void TForm1::page2Decode(int i) {
  if (!params::validRow(kRows, i)) return;
  if (!paramDecode(kRows[i], page2Controls_[i])) return mcu_shaxincs_option();
  page2Continue(kRows[i].pos);
}

// A failed dry-contact read reports in status panel 2 and takes no step of either chain.
void TForm1::page2DecodeContact(bool type) {
  const int contact = answeringContext();
  if (contact < 1 || contact > 4) {  // no contact read yet: no box to fill
    if (returnCode() != 0) reportReadError(true);
    return;
  }
  const int step = contact + (type ? 0 : 4);
  const int i = rowIndex(step);
  if (params::validRow(kRows, i) && paramDecode(kRows[i], page2Controls_[i])) page2Continue(step);
}

// ---------------------------------------------------------------- the refresh chain

void TForm1::Button88Click() {
  exchange_->detach(Page2Chain, OperatorRequest);  // started afresh, as page 1's
  page2Refresh = true;
  if (cancelledChain_ == Page2Chain) cancelledChain_ = OperatorRequest;
  SendingAs chain(*this, Page2Chain, 0, false);
  page2Read(rowIndex(1));  // the first step of the table's refresh
}

void TForm1::page2Continue(int step) {
  // only the chain's own answers carry it on
  if (!page2Refresh || !carriesOn(Page2Chain)) return;
  // the next step's row, on this page or (steps 15 to 17) on page 1
  const params::ParamDef *next = step >= 1 ? params::refreshStep(2, step + 1) : nullptr;
  if (next) {
    SendingAs chain(*this, Page2Chain, 0, true);
    const int i = int(next - params::pageParams(next->page).data());
    next->page == 1 ? page1Read(i) : page2Read(i);
  } else {
    page2Refresh = false;  // past the last step, or the module count
  }
}
