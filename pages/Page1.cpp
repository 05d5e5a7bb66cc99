// Parameter page 1 ("参数1设置"): 31 parameters read and written one row at a time, the
// one-key refresh chain through all of them, and the controller clock.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "protocol/Conversions.h"
#include "window/Unit1.h"
#include "window/HandlerSupport.h"

namespace {

enum class Shown { Div10, Div100, Int16, Int8, FlagNonZero, FlagOne, Buzzer, Language, Clock, None };
enum class Encoding { X10, X100, Integer, Flag, Buzzer, Clock, None };
enum class Control { Edit, Check, Combo };
enum class ErrorTo { Log, Panel2 };

}  // namespace

struct Page1Row {
  int pos;  // chain position; 0 for the write-only row
  const char *label;
  Control kind;
  const char *control;
  const char *readButton;   // nullptr: no read
  const char *writeButton;  // nullptr: no write
  uint8_t readCid1, readCid2, writeCid1, writeCid2;
  Shown shown;
  Encoding encoding;
  ErrorTo errorTo;
  bool sharedTail;  // rows 27-31 also serve the page-2 refresh chain
};

namespace {

using C = Control;
using S = Shown;
using E = Encoding;
constexpr ErrorTo L = ErrorTo::Log, P = ErrorTo::Panel2;

// The catalogue, in chain order; the write-only "手动均充：" row sits between 20 and 21.
const Page1Row kRows[] = {
    {1, "交流电压过高(V)：", C::Edit, "Edit5", "Button5", "Button6", 0x40, 0x06, 0x40, 0x05, S::Div10, E::X10, L, false},
    {2, "交流电压过低(V)：", C::Edit, "Edit6", "Button7", "Button8", 0x40, 0x08, 0x40, 0x07, S::Div10, E::X10, L, false},
    {3, "交流电压掉电(V)：", C::Edit, "Edit7", "Button9", "Button10", 0x40, 0x0A, 0x40, 0x09, S::Div10, E::X10, L, false},
    {4, "交流电流过高(A)：", C::Edit, "Edit8", "Button11", "Button12", 0x40, 0x0C, 0x40, 0x0B, S::Div10, E::X10, L, false},
    {5, "48v模块限流点(A)：", C::Edit, "Edit9", "Button13", "Button14", 0x41, 0x15, 0x41, 0x14, S::Div10, E::X10, L, false},
    {6, "负载电流过高(A)：", C::Edit, "Edit10", "Button15", "Button16", 0x42, 0x23, 0x42, 0x22, S::Div10, E::X10, L, false},
    {7, "电池电流过高(A)：", C::Edit, "Edit11", "Button17", "Button18", 0x42, 0x25, 0x42, 0x24, S::Div10, E::X10, L, false},
    {8, "输出过压告警(V)：", C::Edit, "Edit28", "Button100", "Button101", 0x42, 0x27, 0x42, 0x26, S::Div100, E::X100, L, false},
    {9, "电池低压告警(V)：", C::Edit, "Edit29", "Button103", "Button102", 0x42, 0x29, 0x42, 0x28, S::Div100, E::X100, L, false},
    {10, "负载下电告警(V)：", C::Edit, "Edit30", "Button104", "Button105", 0x42, 0x33, 0x42, 0x32, S::Div100, E::X100, L, false},
    {11, "负载下电恢复(V)：", C::Edit, "Edit22", "Button25", "Button26", 0x42, 0x35, 0x42, 0x34, S::Div100, E::X100, L, false},
    {12, "电池下电告警(V)：", C::Edit, "Edit23", "Button32", "Button33", 0x42, 0x37, 0x42, 0x36, S::Div100, E::X100, L, false},
    {13, "电池下电恢复(V)：", C::Edit, "Edit24", "Button34", "Button35", 0x42, 0x39, 0x42, 0x38, S::Div100, E::X100, L, false},
    {14, "浮充电压设定(V)：", C::Edit, "Edit36", "Button58", "Button59", 0x42, 0x3B, 0x42, 0x3A, S::Div100, E::X100, L, false},
    {15, "均充电压设定(V)：", C::Edit, "Edit37", "Button60", "Button61", 0x42, 0x4D, 0x42, 0x4C, S::Div100, E::X100, L, false},
    {16, "均转浮系数(%)：", C::Edit, "Edit40", "Button66", "Button67", 0x42, 0x79, 0x42, 0x78, S::Div10, E::X10, L, false},
    {17, "浮转均系数(%)：", C::Edit, "Edit41", "Button68", "Button69", 0x42, 0x7B, 0x42, 0x7A, S::Div10, E::X10, L, false},
    {18, "充电限流系数(%)：", C::Edit, "Edit42", "Button70", "Button71", 0x42, 0x41, 0x42, 0x40, S::Div10, E::X10, L, false},
    {19, "温补使能：", C::Check, "CheckBox1", "Button30", "Button31", 0x42, 0x3D, 0x42, 0x3C, S::FlagNonZero, E::Flag, P, false},
    {20, "温补系数(mV/C)：", C::Edit, "Edit39", "Button64", "Button65", 0x42, 0x3F, 0x42, 0x3E, S::Int16, E::Integer, L, false},
    {0, "手动均充：", C::Check, "CheckBox4", nullptr, "Button109", 0, 0, 0x42, 0x4E, S::None, E::Flag, L, false},
    {21, "定期均充：", C::Check, "CheckBox5", "Button110", "Button111", 0x42, 0x47, 0x42, 0x46, S::FlagOne, E::Flag, L, false},
    {22, "定期均充间隔(天)：", C::Edit, "Edit43", "Button72", "Button73", 0x42, 0x49, 0x42, 0x48, S::Int16, E::Integer, L, false},
    {23, "持续均充时间(分)：", C::Edit, "Edit44", "Button74", "Button75", 0x42, 0x4B, 0x42, 0x4A, S::Int16, E::Integer, L, false},
    {24, "蜂鸣告警：", C::Combo, "ComboBox3", "Button36", "Button37", 0x42, 0x81, 0x42, 0x80, S::Buzzer, E::Buzzer, P, false},
    {25, "时间：", C::Edit, "Edit25", "Button38", "Button39", 0x42, 0x8D, 0x42, 0x8E, S::Clock, E::Clock, P, false},
    {26, "监控语言：", C::Combo, "ComboBox27", "Button89", nullptr, 0x42, 0x21, 0, 0, S::Language, E::None, L, false},
    {27, "电池容量(AH)：", C::Edit, "Edit20", "Button120", "Button121", 0x42, 0x57, 0x42, 0x56, S::Int16, E::Integer, L, true},
    {28, "电池容量保持(%)：", C::Edit, "Edit21", "Button122", "Button123", 0x42, 0x59, 0x42, 0x58, S::Div10, E::X10, L, true},
    {29, "休眠使能：", C::Check, "CheckBox2", "Button19", "Button20", 0x42, 0x92, 0x42, 0x91, S::FlagNonZero, E::Flag, P, true},
    {30, "休眠间隔时间(时)：", C::Edit, "Edit26", "Button21", "Button22", 0x42, 0x94, 0x42, 0x93, S::Int8, E::Integer, L, true},
    {31, "限流最小电压(V)：", C::Edit, "Edit27", "Button27", "Button28", 0x42, 0x45, 0x42, 0x44, S::Div100, E::X100, L, true},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];
constexpr int kLeftColumnRows = 17;

using Handler = void (TForm1::*)();
struct Entry {
  int pos;
  Handler read, write;
};

// The named handlers by row; pos 0 is the write-only row.
const Entry kEntries[] = {
#define PAGE1_ENTRY_RW(pos, read, write, decoder) {pos, &TForm1::read, &TForm1::write},
#define PAGE1_ENTRY_R(pos, read, decoder) {pos, &TForm1::read, nullptr},
#define PAGE1_ENTRY_W(pos, write) {pos, nullptr, &TForm1::write},
    PAGE1_READ_WRITE_ROWS(PAGE1_ENTRY_RW) PAGE1_READ_ONLY_ROWS(PAGE1_ENTRY_R) PAGE1_WRITE_ONLY_ROWS(PAGE1_ENTRY_W)
#undef PAGE1_ENTRY_RW
#undef PAGE1_ENTRY_R
#undef PAGE1_ENTRY_W
};

// While the page-2 refresh runs, the shared rows hand on to the next read of that chain.
// Rows 28 and 31 continue on page 2, whose reads join here when that page is built.
Handler page2Next(int pos) {
  switch (pos) {
    case 27: return &TForm1::Button122Click;
    case 29: return &TForm1::Button138Click;
    case 30: return &TForm1::Button140Click;
    default: return nullptr;
  }
}

int rowIndex(int pos) {
  for (int i = 0; i < kRowCount; ++i)
    if (kRows[i].pos == pos) return i;
  return -1;
}

const Entry *entry(int pos) {
  for (const Entry &e : kEntries)
    if (e.pos == pos) return &e;
  return nullptr;
}

QString hex2(int value) { return QString::number(value & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0')); }

int bytesNeeded(Shown s) {
  switch (s) {
    case Shown::Div10:
    case Shown::Div100:
    case Shown::Int16: return 2;
    case Shown::Clock: return 7;
    default: return 1;
  }
}

void refuseOutOfRange() {
  ShowMessageBox(QStringLiteral("数值超出范围(0-65535)"), QStringLiteral("error"));
}

}  // namespace

// ---------------------------------------------------------------- named entry points

#define PAGE1_DEFINE_RW(pos, read, write, decoder)                     \
  void TForm1::read() { page1Read(pos); }                              \
  void TForm1::write() { page1Write(kRows[rowIndex(pos)]); }           \
  void TForm1::decoder(QObject *) { page1Decode(pos); }
#define PAGE1_DEFINE_R(pos, read, decoder) \
  void TForm1::read() { page1Read(pos); }  \
  void TForm1::decoder(QObject *) { page1Decode(pos); }
#define PAGE1_DEFINE_W(pos, write) \
  void TForm1::write() { page1Write(kRows[rowIndex(pos)]); }
PAGE1_READ_WRITE_ROWS(PAGE1_DEFINE_RW)
PAGE1_READ_ONLY_ROWS(PAGE1_DEFINE_R)
PAGE1_WRITE_ONLY_ROWS(PAGE1_DEFINE_W)
#undef PAGE1_DEFINE_RW
#undef PAGE1_DEFINE_R
#undef PAGE1_DEFINE_W

// ---------------------------------------------------------------- layout

void TForm1::buildPage1() {
  QWidget *page = TabSheet1;
  page1Controls_.assign(kRowCount, nullptr);
  const int rowHeight = 30, top = 10, labelWidth = 126;
  for (int i = 0; i < kRowCount; ++i) {
    const Page1Row &row = kRows[i];
    const bool left = i < kLeftColumnRows;
    const int x = left ? 6 : 292;
    const int y = top + (left ? i : i - kLeftColumnRows) * rowHeight;

    auto *label = new QLabel(QString::fromUtf8(row.label), page);
    label->setObjectName(QStringLiteral("Page1Label_%1").arg(QString::fromLatin1(row.control)));
    const bool clock = row.encoding == Encoding::Clock;
    label->setGeometry(x, y + 3, clock ? 40 : labelWidth, 18);

    int cx = x + (clock ? 42 : labelWidth + 2), width = 40;
    QWidget *control = nullptr;
    switch (row.kind) {
      case Control::Edit: {
        auto *e = new QLineEdit(page);
        if (clock) {
          width = 105;
          e->setEnabled(false);
        } else {
          e->setText(QStringLiteral("0"));
        }
        control = e;
        break;
      }
      case Control::Check:
        control = new QCheckBox(page);
        width = 20;
        break;
      case Control::Combo: {
        auto *c = new QComboBox(page);
        if (row.shown == Shown::Buzzer)
          c->addItems({QStringLiteral("关闭"), QStringLiteral("开启"), QStringLiteral("本次关")});
        else
          c->addItems({QStringLiteral("中文"), QStringLiteral("英语")});
        c->setCurrentIndex(0);
        width = 66;
        control = c;
        break;
      }
    }
    control->setObjectName(QString::fromLatin1(row.control));
    control->setGeometry(cx, y, width, 22);
    page1Controls_[i] = control;
    int bx = cx + width + 4;

    const Entry *handlers = entry(row.pos);
    auto button = [&](const char *name, const QString &text, int w, Handler h) {
      auto *b = new QPushButton(text, page);
      b->setObjectName(QString::fromLatin1(name));
      b->setGeometry(bx, y, w, 23);
      bx += w + 2;
      onButton(b, h);
    };
    if (row.readButton) {
      if (clock)
        button(row.readButton, QStringLiteral("读取"), 36, handlers->read);
      else if (row.shown == Shown::Language)
        button(row.readButton, QStringLiteral("获取"), 73, handlers->read);
      else
        button(row.readButton, QStringLiteral("读"), 30, handlers->read);
    }
    if (row.writeButton) {
      if (clock)
        button(row.writeButton, QStringLiteral("校准"), 36, handlers->write);
      else
        button(row.writeButton, QStringLiteral("写"), row.readButton ? 30 : 68, handlers->write);
    }
  }
  auto *refresh = new QPushButton(QStringLiteral("一键刷新"), page);
  refresh->setObjectName(QStringLiteral("Button24"));
  refresh->setGeometry(292 + labelWidth + 2, top + (kRowCount - kLeftColumnRows) * rowHeight + 10, 75, 25);
  onButton(refresh, &TForm1::Button24Click);
}

QWidget *TForm1::page1Control(const Page1Row &row) const {
  return page1Controls_[&row - kRows];
}

// ---------------------------------------------------------------- read, write, decode

void TForm1::page1Read(int pos) {
  const Page1Row &row = kRows[rowIndex(pos)];
  page1Position = pos;
  if (page1Refresh) chainStep(QStringLiteral("page1"), pos, 31);
  sendRequest(hex2(row.readCid1), hex2(row.readCid2));
}

void TForm1::page1Write(const Page1Row &row) {
  QWidget *control = page1Control(row);
  QString data;
  switch (row.encoding) {
    case Encoding::X10:
    case Encoding::X100: {
      const QString text = static_cast<QLineEdit *>(control)->text();
      if (!text.isEmpty() && text.trimmed().isEmpty()) {
        ShowMessageBox(QStringLiteral("Data error"), QStringLiteral("error"));
        return;
      }
      bool ok = false;
      const int value = chartofloat(text, row.encoding == Encoding::X10 ? 10 : 100, &ok);
      if (!ok) return;  // the conversion has told the operator; nothing is sent
      if (value > 0xFFFF) return refuseOutOfRange();
      data = proto::intto4char(value);
      break;
    }
    case Encoding::Integer: {
      const int value = StrToInt(static_cast<QLineEdit *>(control)->text());
      if (value < 0 || value > 0xFFFF) return refuseOutOfRange();
      data = proto::intto4char(value);
      break;
    }
    case Encoding::Flag:
      data = static_cast<QCheckBox *>(control)->isChecked() ? QStringLiteral("01") : QStringLiteral("00");
      break;
    case Encoding::Buzzer: {
      const int index = static_cast<QComboBox *>(control)->currentIndex();
      data = index == 0 ? QStringLiteral("00") : index == 1 ? QStringLiteral("01") : QStringLiteral("02");
      break;
    }
    case Encoding::Clock:
      page1SetClock();
      return;
    case Encoding::None:
      return;
  }
  sendRequest(hex2(row.writeCid1), hex2(row.writeCid2), data);
}

// "校准": the controller clock is set to the status-bar clock's last reading.
void TForm1::page1SetClock() {
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

void TForm1::page1ReportReadError(const Page1Row &row) {
  reportReadError(row.errorTo == ErrorTo::Panel2);
}

void TForm1::page1Decode(int pos) {
  const Page1Row &row = kRows[rowIndex(pos)];
  QWidget *control = page1Control(row);
  // An answer that does not carry the bytes this row reads is a failed read, never decoded
  // from what an earlier answer left in the payload.
  if (returnCode() != 0 || dataAvailable() < bytesNeeded(row.shown)) {
    page1ReportReadError(row);
    mcu_shaxincs_option();
    return;
  }
  const int word = dataByte(0) * 256 + dataByte(1);
  auto edit = [control](const QString &text) { static_cast<QLineEdit *>(control)->setText(text); };
  auto check = [control](bool on) { static_cast<QCheckBox *>(control)->setChecked(on); };
  auto choose = [control](int index) { static_cast<QComboBox *>(control)->setCurrentIndex(index); };
  switch (row.shown) {
    case Shown::Div10: edit(proto::formatGeneral(word / 10.0)); break;
    case Shown::Div100: edit(proto::formatGeneral(word / 100.0)); break;
    case Shown::Int16: edit(QString::number(word)); break;
    case Shown::Int8: edit(QString::number(dataByte(0))); break;
    case Shown::FlagNonZero: check(dataByte(0) != 0); break;
    case Shown::FlagOne: check(dataByte(0) == 1); break;
    case Shown::Buzzer: choose(dataByte(0) == 0 ? 0 : dataByte(0) == 1 ? 1 : 2); break;
    case Shown::Language: choose(dataByte(0) == 2 ? 1 : 0); break;
    case Shown::Clock: {
      auto two = [this](int k) { return proto::straddzero(QString::number(dataByte(k)), 2); };
      edit(QStringLiteral("20") + two(6) + QLatin1Char('-') + two(5) + QLatin1Char('-') + two(3) +
           QLatin1Char(' ') + two(2) + QLatin1Char(':') + two(1) + QLatin1Char(':') + two(0));
      break;
    }
    case Shown::None: break;
  }
  if (row.sharedTail && page2Refresh) {
    if (Handler next = page2Next(pos)) (this->*next)();
    return;
  }
  mcu_shaxincs_option();
}

// ---------------------------------------------------------------- the refresh chain

void TForm1::Button24Click() {
  page1Refresh = true;
  Button5Click();
}

void TForm1::mcu_shaxincs_option() {
  if (!page1Refresh) return;
  const int p = page1Position;
  if (p >= 1 && p <= 30) {
    (this->*entry(p + 1)->read)();
    return;
  }
  page1Refresh = false;
}
