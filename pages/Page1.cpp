// Parameter page 1 ("参数1设置"): 31 parameters read and written one row at a time, the
// one-key refresh chain through all of them, and the controller clock.
#include <QFont>
#include <QLineEdit>
#include <QPushButton>

#include "pages/ParamTable.h"
#include "protocol/Conversions.h"
#include "window/Controls.h"
#include "window/Unit1.h"

namespace {

using namespace catalogue;

// The catalogue, in chain order; the write-only "手动均充：" row sits between 20 and 21.
const ParamRow kRows[] = {
    {1, "交流电压过高(V)：", C::Edit, "Edit5", "Button5", "Button6", 0x40, 0x06, 0x40, 0x05, S::Div10, E::X10, L, 0},
    {2, "交流电压过低(V)：", C::Edit, "Edit6", "Button7", "Button8", 0x40, 0x08, 0x40, 0x07, S::Div10, E::X10, L, 0},
    {3, "交流电压掉电(V)：", C::Edit, "Edit7", "Button9", "Button10", 0x40, 0x0A, 0x40, 0x09, S::Div10, E::X10, L, 0},
    {4, "交流电流过高(A)：", C::Edit, "Edit8", "Button11", "Button12", 0x40, 0x0C, 0x40, 0x0B, S::Div10, E::X10, L, 0},
    {5, "48v模块限流点(A)：", C::Edit, "Edit9", "Button13", "Button14", 0x41, 0x15, 0x41, 0x14, S::Div10, E::X10, L, 0},
    {6, "负载电流过高(A)：", C::Edit, "Edit10", "Button15", "Button16", 0x42, 0x23, 0x42, 0x22, S::Div10, E::X10, L, 0},
    {7, "电池电流过高(A)：", C::Edit, "Edit11", "Button17", "Button18", 0x42, 0x25, 0x42, 0x24, S::Div10, E::X10, L, 0},
    {8, "输出过压告警(V)：", C::Edit, "Edit28", "Button100", "Button101", 0x42, 0x27, 0x42, 0x26, S::Div100, E::X100, L, 0},
    {9, "电池低压告警(V)：", C::Edit, "Edit29", "Button103", "Button102", 0x42, 0x29, 0x42, 0x28, S::Div100, E::X100, L, 0},
    {10, "负载下电告警(V)：", C::Edit, "Edit30", "Button104", "Button105", 0x42, 0x33, 0x42, 0x32, S::Div100, E::X100, L, 0},
    {11, "负载下电恢复(V)：", C::Edit, "Edit22", "Button25", "Button26", 0x42, 0x35, 0x42, 0x34, S::Div100, E::X100, L, 0},
    {12, "电池下电告警(V)：", C::Edit, "Edit23", "Button32", "Button33", 0x42, 0x37, 0x42, 0x36, S::Div100, E::X100, L, 0},
    {13, "电池下电恢复(V)：", C::Edit, "Edit24", "Button34", "Button35", 0x42, 0x39, 0x42, 0x38, S::Div100, E::X100, L, 0},
    {14, "浮充电压设定(V)：", C::Edit, "Edit36", "Button58", "Button59", 0x42, 0x3B, 0x42, 0x3A, S::Div100, E::X100, L, 0},
    {15, "均充电压设定(V)：", C::Edit, "Edit37", "Button60", "Button61", 0x42, 0x4D, 0x42, 0x4C, S::Div100, E::X100, L, 0},
    {16, "均转浮系数(%)：", C::Edit, "Edit40", "Button66", "Button67", 0x42, 0x79, 0x42, 0x78, S::Div10, E::X10, L, 0},
    {17, "浮转均系数(%)：", C::Edit, "Edit41", "Button68", "Button69", 0x42, 0x7B, 0x42, 0x7A, S::Div10, E::X10, L, 0},
    {18, "充电限流系数(%)：", C::Edit, "Edit42", "Button70", "Button71", 0x42, 0x41, 0x42, 0x40, S::Div10, E::X10, L, 0},
    {19, "温补使能：", C::Check, "CheckBox1", "Button30", "Button31", 0x42, 0x3D, 0x42, 0x3C, S::FlagNonZero, E::Flag, P, 0},
    {20, "温补系数(mV/C)：", C::Edit, "Edit39", "Button64", "Button65", 0x42, 0x3F, 0x42, 0x3E, S::Int16, E::Integer, L, 0},
    {0, "手动均充：", C::Check, "CheckBox4", nullptr, "Button109", 0, 0, 0x42, 0x4E, S::None, E::Flag, L, 0,
     "确定开始手动均充？整流模块将升到均充电压输出。"},
    {21, "定期均充：", C::Check, "CheckBox5", "Button110", "Button111", 0x42, 0x47, 0x42, 0x46, S::FlagOne, E::Flag, L, 0},
    {22, "定期均充间隔(天)：", C::Edit, "Edit43", "Button72", "Button73", 0x42, 0x49, 0x42, 0x48, S::Int16, E::Integer, L, 0},
    {23, "持续均充时间(分)：", C::Edit, "Edit44", "Button74", "Button75", 0x42, 0x4B, 0x42, 0x4A, S::Int16, E::Integer, L, 0},
    {24, "蜂鸣告警：", C::Combo, "ComboBox3", "Button36", "Button37", 0x42, 0x81, 0x42, 0x80, S::Buzzer, E::Buzzer, P, 0},
    {25, "时间：", C::Edit, "Edit25", "Button38", "Button39", 0x42, 0x8D, 0x42, 0x8E, S::Clock, E::Clock, P, 0},
    {26, "监控语言：", C::Combo, "ComboBox27", "Button89", nullptr, 0x42, 0x21, 0, 0, S::Language, E::None, L, 0},
    {27, "电池容量(AH)：", C::Edit, "Edit20", "Button120", "Button121", 0x42, 0x57, 0x42, 0x56, S::Int16, E::Integer, L, 0},
    {28, "电池容量保持(%)：", C::Edit, "Edit21", "Button122", "Button123", 0x42, 0x59, 0x42, 0x58, S::Div10, E::X10, L, 0},
    {29, "休眠使能：", C::Check, "CheckBox2", "Button19", "Button20", 0x42, 0x92, 0x42, 0x91, S::FlagNonZero, E::Flag, P, 0},
    {30, "休眠间隔时间(时)：", C::Edit, "Edit26", "Button21", "Button22", 0x42, 0x94, 0x42, 0x93, S::Int8, E::Integer, L, 0},
    {31, "限流最小电压(V)：", C::Edit, "Edit27", "Button27", "Button28", 0x42, 0x45, 0x42, 0x44, S::Div100, E::X100, L, 0},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];
constexpr int kLeftColumnRows = 17;

using Handler = TForm1::Handler;

// The named handlers by row; pos 0 is the write-only row.
const ParamEntry kEntries[] = {
#define PAGE1_ENTRY_RW(pos, read, write, decoder) {pos, &TForm1::read, &TForm1::write},
#define PAGE1_ENTRY_R(pos, read, decoder) {pos, &TForm1::read, nullptr},
#define PAGE1_ENTRY_W(pos, write) {pos, nullptr, &TForm1::write},
    PAGE1_READ_WRITE_ROWS(PAGE1_ENTRY_RW) PAGE1_READ_ONLY_ROWS(PAGE1_ENTRY_R) PAGE1_WRITE_ONLY_ROWS(PAGE1_ENTRY_W)
#undef PAGE1_ENTRY_RW
#undef PAGE1_ENTRY_R
#undef PAGE1_ENTRY_W
};

int rowIndex(int pos) { return params::rowIndex(kRows, pos); }
const ParamEntry *entry(int pos) { return params::entry(kEntries, pos); }

}  // namespace

// ---------------------------------------------------------------- named entry points

#define PAGE1_DEFINE_RW(pos, read, write, decoder)                     \
  void TForm1::read() { page1Read(pos); }                              \
  void TForm1::write() { page1Write(pos); }                            \
  void TForm1::decoder(QObject *) { page1Decode(pos); }
#define PAGE1_DEFINE_R(pos, read, decoder) \
  void TForm1::read() { page1Read(pos); }  \
  void TForm1::decoder(QObject *) { page1Decode(pos); }
#define PAGE1_DEFINE_W(pos, write) \
  void TForm1::write() { page1Write(pos); }
PAGE1_READ_WRITE_ROWS(PAGE1_DEFINE_RW)
PAGE1_READ_ONLY_ROWS(PAGE1_DEFINE_R)
PAGE1_WRITE_ONLY_ROWS(PAGE1_DEFINE_W)
#undef PAGE1_DEFINE_RW
#undef PAGE1_DEFINE_R
#undef PAGE1_DEFINE_W

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
    const ParamEntry *handlers = entry(row.pos);
    QWidget *control = placeParamRow(TabSheet1, row, left ? 6 : 292,
                                     top + (left ? i : i - kLeftColumnRows) * rowHeight, shape, handlers->read,
                                     handlers->write);
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

void TForm1::page1Read(int pos) {
  const ParamRow &row = kRows[rowIndex(pos)];
  if (sending_.tag == Page1Chain) {
    page1Position = pos;
    if (page1Refresh) chainStep(QStringLiteral("page1"), pos, 31);
  }
  if (page2Refresh && sending_.tag == Page2Chain)
    if (const int step = page2StepOf(entry(pos)->read)) chainStep(QStringLiteral("page2"), step, 30);
  sendRequest(params::hex2(row.readCid1), params::hex2(row.readCid2));
}

void TForm1::page1Write(int pos) {
  const int i = rowIndex(pos);
  if (kRows[i].encoding == Encoding::Clock) return page1SetClock();
  paramWrite(kRows[i], page1Controls_[i]);
}

// "校准": the controller clock is set to the status-bar clock's last reading.
void TForm1::page1SetClock() {
  using params::hex2;
  const ClockSnapshot &t = clockSnapshot;
  Edit2->setText(QStringLiteral("42"));
  Edit3->setText(QStringLiteral("8e"));
  Edit4->setText(hex2(t.wSecond) + hex2(t.wMinute) + hex2(t.wHour) + hex2(t.wDay) + QStringLiteral("01") +
                 hex2(t.wMonth) + hex2(t.wYear % 100));
  auto n = [](int v) { return QString::number(v); };
  static_cast<QLineEdit *>(page1Controls_[rowIndex(25)])
      ->setText(QStringLiteral("20") + n(t.wYear % 100) + QLatin1Char('-') + n(t.wMonth) + QLatin1Char('-') +
                n(t.wDay) + QLatin1Char(' ') + n(t.wHour) + QLatin1Char(':') + n(t.wMinute) + QLatin1Char(':') +
                n(t.wSecond));
  Button1Click();
  if (lastBuildOk()) Button2Click();
}

void TForm1::page1Decode(int pos) {
  const int i = rowIndex(pos);
  // While the page-2 refresh runs, rows 27 and 28 lead into it before its step 9 and rows 29
  // to 31 are its steps 15 to 17: they go on with that chain instead of this page's.
  if (paramDecode(kRows[i], page1Controls_[i]) && page2Refresh && carriesOn(Page2Chain)) {
    if (pos == 27) {
      SendingAs chain(*this, Page2Chain, 0, true);
      return Button122Click();
    }
    if (pos == 28) return page2Continue(8);
    if (const int step = page2StepOf(entry(pos)->read)) return page2Continue(step);
  }
  if (carriesOn(Page1Chain)) page1Position = pos;
  mcu_shaxincs_option();
}

// ---------------------------------------------------------------- the refresh chain

void TForm1::Button24Click() {
  page1Refresh = true;
  if (cancelledChain_ == Page1Chain) cancelledChain_ = OperatorRequest;
  SendingAs chain(*this, Page1Chain, 0, false);
  Button5Click();
}

void TForm1::mcu_shaxincs_option() {
  // only the chain's own answers carry it on
  if (!page1Refresh || !carriesOn(Page1Chain)) return;
  const int p = page1Position;
  if (p >= 1 && p <= 30) {
    SendingAs chain(*this, Page1Chain, 0, true);
    (this->*entry(p + 1)->read)();
    return;
  }
  page1Refresh = false;
}
