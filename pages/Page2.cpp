// Parameter page 2 ("参数2设置"): the four dry contacts, battery test, fast charge, the
// battery temperature alarm points, the calibration values and the module count, and the
// one-key refresh that reads them with three page-1 rows in one chain of 30 requests.
#include <QComboBox>
#include <QPushButton>

#include "pages/ParamTable.h"
#include "window/Controls.h"
#include "window/Unit1.h"

namespace {

using namespace catalogue;

// The catalogue by refresh step: the dry contacts (one row per box), then the left and the
// right column. The module count (step 0) is outside the refresh.
const ParamRow kRows[] = {
    {1, "干结点1类型：", C::Combo, "ComboBox4", "Button42", "Button43", 0x42, 0x88, 0x42, 0x87, S::ContactType, E::Contact, P, 1},
    {2, "干结点2类型：", C::Combo, "ComboBox5", "Button46", "Button47", 0x42, 0x88, 0x42, 0x87, S::ContactType, E::Contact, P, 2},
    {3, "干结点3类型：", C::Combo, "ComboBox7", "Button50", "Button51", 0x42, 0x88, 0x42, 0x87, S::ContactType, E::Contact, P, 3},
    {4, "干结点4类型：", C::Combo, "ComboBox10", "Button54", "Button55", 0x42, 0x88, 0x42, 0x87, S::ContactType, E::Contact, P, 4},
    {5, "干结点1状态：", C::Combo, "ComboBox8", "Button45", "Button44", 0x42, 0x86, 0x42, 0x85, S::ContactState, E::Contact, P, 1},
    {6, "干结点2状态：", C::Combo, "ComboBox6", "Button48", "Button49", 0x42, 0x86, 0x42, 0x85, S::ContactState, E::Contact, P, 2},
    {7, "干结点3状态：", C::Combo, "ComboBox9", "Button52", "Button53", 0x42, 0x86, 0x42, 0x85, S::ContactState, E::Contact, P, 3},
    {8, "干结点4状态：", C::Combo, "ComboBox11", "Button56", "Button57", 0x42, 0x86, 0x42, 0x85, S::ContactState, E::Contact, P, 4},
    {9, "电池测试使能：", C::Check, "CheckBox7", "Button124", "Button125", 0x42, 0x5B, 0x42, 0x5A, S::FlagNonZero, E::Flag, P, 0,
     "确定开始电池测试？测试中由电池向负载放电。"},
    {10, "电池测试开始电压：", C::Edit, "Edit58", "Button126", "Button127", 0x42, 0x5D, 0x42, 0x5C, S::Div100, E::X100, L, 0},
    {11, "电池测试结束电压：", C::Edit, "Edit59", "Button128", "Button129", 0x42, 0x5F, 0x42, 0x5E, S::Div100, E::X100, L, 0},
    {12, "快充使能：", C::Check, "CheckBox8", "Button130", "Button131", 0x42, 0x51, 0x42, 0x50, S::FlagNonZero, E::Flag, P, 0},
    {13, "快充电压(V)：", C::Edit, "Edit60", "Button132", "Button133", 0x42, 0x53, 0x42, 0x52, S::Div100, E::X100, L, 0},
    {14, "快充时间(分)：", C::Edit, "Edit61", "Button134", "Button135", 0x42, 0x55, 0x42, 0x54, S::Int16, E::Integer, L, 0},
    {18, "电池低温告警点：", C::Edit, "Edit64", "Button142", "Button143", 0x42, 0x2B, 0x42, 0x2A, S::SignDiv10, E::WholeX10Signed, L, 0},
    {19, "电池高温告警点：", C::Edit, "Edit65", "Button144", "Button145", 0x42, 0x2D, 0x42, 0x2C, S::Div10, E::X10, L, 0},
    {20, "电池电流增益：", C::Edit, "Edit38", "Button62", "Button63", 0x42, 0x71, 0x42, 0x70, S::Int16, E::Integer, L, 0},
    {21, "电池电流偏移：", C::Edit, "Edit45", "Button76", "Button77", 0x42, 0x73, 0x42, 0x72, S::Int16, E::Integer, L, 0},
    {22, "母排电压增益：", C::Edit, "Edit46", "Button78", "Button79", 0x42, 0x75, 0x42, 0x74, S::Int16, E::Integer, L, 0},
    {23, "负载电流增益：", C::Edit, "Edit47", "Button80", "Button81", 0x42, 0x77, 0x42, 0x76, S::Int16, E::Integer, L, 0},
    {24, "电池温度增益：", C::Edit, "Edit48", "Button82", "Button83", 0x42, 0x19, 0x42, 0x18, S::Int16, E::Integer, L, 0},
    {25, "电池温度偏移：", C::Edit, "Edit49", "Button84", "Button85", 0x42, 0x1B, 0x42, 0x1A, S::Int16, E::Integer, L, 0},
    {26, "环境温度增益：", C::Edit, "Edit50", "Button86", "Button87", 0x42, 0x1D, 0x42, 0x1C, S::Int16, E::Integer, L, 0},
    {27, "环境温度偏移：", C::Edit, "Edit51", "Button90", "Button91", 0x42, 0x1F, 0x42, 0x1E, S::Int16, E::Integer, L, 0},
    {28, "交流电压增益：", C::Edit, "Edit52", "Button92", "Button93", 0x42, 0x7F, 0x42, 0x7E, S::Int16, E::Integer, L, 0},
    {29, "交流电压偏移：", C::Edit, "Edit53", "Button106", "Button107", 0x42, 0x7D, 0x42, 0x7C, S::Int16, E::Integer, L, 0},
    {30, "负载电流偏移：", C::Edit, "Edit54", "Button116", "Button117", 0x42, 0x8A, 0x42, 0x89, S::Int16, E::Integer, L, 0},
    {0, "模块数量配置：", C::Edit, "Edit31", "Button99", "Button108", 0x42, 0x61, 0x42, 0x60, S::Int16, E::Integer, L, 0},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];
constexpr int kContactRows = 8, kColumnRows = 10;
constexpr int kSteps = 30;

using Handler = TForm1::Handler;
const ParamEntry kEntries[] = {
#define PAGE2_ENTRY_RW(step, read, write, decoder) {step, &TForm1::read, &TForm1::write},
#define PAGE2_ENTRY_CONTACT(step, read, write) {step, &TForm1::read, &TForm1::write},
    PAGE2_READ_WRITE_ROWS(PAGE2_ENTRY_RW) PAGE2_CONTACT_ROWS(PAGE2_ENTRY_CONTACT)
#undef PAGE2_ENTRY_RW
#undef PAGE2_ENTRY_CONTACT
};

// Steps 15 to 17 of the refresh are page-1 rows, whose decoders go on with this chain.
constexpr int kFirstPage1Step = 15;
const Handler kPage1Steps[] = {&TForm1::Button136Click, &TForm1::Button138Click, &TForm1::Button140Click};

int rowIndex(int step) { return params::rowIndex(kRows, step); }
const ParamEntry *entry(int step) { return params::entry(kEntries, step); }

// The read of a refresh step, 1 to 30.
Handler stepRead(int step) {
  if (step >= kFirstPage1Step && step < kFirstPage1Step + 3) return kPage1Steps[step - kFirstPage1Step];
  return entry(step)->read;
}

}  // namespace

// ---------------------------------------------------------------- named entry points

#define PAGE2_DEFINE_RW(step, read, write, decoder) \
  void TForm1::read() { page2Read(step); }          \
  void TForm1::write() { page2Write(step); }        \
  void TForm1::decoder(QObject *) { page2Decode(step); }
#define PAGE2_DEFINE_CONTACT(step, read, write) \
  void TForm1::read() { page2Read(step); }      \
  void TForm1::write() { page2Write(step); }
PAGE2_READ_WRITE_ROWS(PAGE2_DEFINE_RW)
PAGE2_CONTACT_ROWS(PAGE2_DEFINE_CONTACT)
#undef PAGE2_DEFINE_RW
#undef PAGE2_DEFINE_CONTACT
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
    const ParamEntry *handlers = entry(row.pos);
    QWidget *control = placeParamRow(TabSheet3, row, x, y, shape, handlers->read, handlers->write);
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

void TForm1::page2Read(int step) {
  const ParamRow &row = kRows[rowIndex(step)];
  if (page2Refresh && step > 0 && sending_.tag == Page2Chain) chainStep(QStringLiteral("page2"), step, kSteps);
  const QString cid1 = params::hex2(row.readCid1), cid2 = params::hex2(row.readCid2);
  if (!row.contact) return sendRequest(cid1, cid2);
  // A dry-contact read names its contact; the answer fills that contact's box, which the
  // request carries to its decoder.
  page2Position = row.contact;
  SendingAs as(*this, sending_.tag, row.contact, sending_.automatic, sending_.background);
  sendRequest(cid1, cid2, params::hex2(row.contact));
}

void TForm1::page2Write(int step) {
  const int i = rowIndex(step);
  paramWrite(kRows[i], page2Controls_[i]);
}

void TForm1::page2Decode(int step) {
  const int i = rowIndex(step);
  if (!paramDecode(kRows[i], page2Controls_[i])) return mcu_shaxincs_option();
  page2Continue(step);
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
  if (paramDecode(kRows[i], page2Controls_[i])) page2Continue(step);
}

// ---------------------------------------------------------------- the refresh chain

void TForm1::Button88Click() {
  page2Refresh = true;
  if (cancelledChain_ == Page2Chain) cancelledChain_ = OperatorRequest;
  SendingAs chain(*this, Page2Chain, 0, false);
  Button42Click();
}

void TForm1::page2Continue(int step) {
  // only the chain's own answers carry it on
  if (!page2Refresh || !carriesOn(Page2Chain)) return;
  if (step >= 1 && step < kSteps) {
    SendingAs chain(*this, Page2Chain, 0, true);
    (this->*stepRead(step + 1))();
  }
  else
    page2Refresh = false;  // past the last step, or the module count
}

int TForm1::page2StepOf(Handler read) const {
  for (int i = 0; i < 3; ++i)
    if (kPage1Steps[i] == read) return kFirstPage1Step + i;
  return 0;
}
