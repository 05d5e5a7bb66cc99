// The generic steps of a parameter row on either page: drawing it, showing an answer in its
// control, and turning the control's content into a write request.
#include "pages/ParamTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "pages/ParamBoxState.h"
#include "protocol/Conversions.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"

namespace params {

QStringList comboItems(Shown shown) {
  switch (shown) {
    case Shown::Buzzer: return {QStringLiteral("关闭"), QStringLiteral("开启"), QStringLiteral("本次关")};
    case Shown::Language: return {QStringLiteral("中文"), QStringLiteral("英语")};
    case Shown::ContactType:
      return {QStringLiteral("未定义"),   QStringLiteral("交流掉电"),   QStringLiteral("交流过欠压"),
              QStringLiteral("直流过欠压"), QStringLiteral("模块故障"),   QStringLiteral("2次下电"),
              QStringLiteral("1次下电"),   QStringLiteral("负载熔丝"),   QStringLiteral("电池1熔丝"),
              QStringLiteral("环境温度"),   QStringLiteral("门禁"),       QStringLiteral("烟雾"),
              QStringLiteral("水侵"),       QStringLiteral("防雷"),       QStringLiteral("电池2熔丝"),
              QStringLiteral("电池3熔丝"), QStringLiteral("电力线搭接"), QStringLiteral("高压过压"),
              QStringLiteral("高压欠压")};
    case Shown::ContactState: return {QStringLiteral("开"), QStringLiteral("关")};
    default: return {};
  }
}

int bytesNeeded(Shown shown) {
  switch (shown) {
    case Shown::Div10:
    case Shown::Div100:
    case Shown::SignDiv10:
    case Shown::Int16:
    case Shown::ContactType:
    case Shown::ContactState: return 2;
    case Shown::Clock: return 7;
    default: return 1;
  }
}

QString wordText(Shown shown, int word) {
  switch (shown) {
    case Shown::Div10: return proto::formatGeneral(word / 10.0);
    case Shown::Div100: return proto::formatGeneral(word / 100.0);
    case Shown::SignDiv10: return proto::formatGeneral((word > 0x8000 ? -(word - 0x8000) : word) / 10.0);
    default: return QString::number(word);
  }
}

std::optional<int> wholeTenthsSignMagnitude(int whole) {
  if (whole < -3276 || whole > 3276) return std::nullopt;
  const int tenths = std::abs(whole) * 10;
  return whole < 0 ? 0x8000 | tenths : tenths;
}

namespace {
// The unit in brackets at the end of a label, ASCII or full-width: its opening bracket's place.
qsizetype unitStart(const QString &name) {
  if (!name.endsWith(QLatin1Char(')')) && !name.endsWith(QChar(0xFF09))) return -1;
  return std::max(name.lastIndexOf(QLatin1Char('(')), name.lastIndexOf(QChar(0xFF08)));
}
QString withoutColon(const char *label) {
  QString name = QString::fromUtf8(label).trimmed();
  while (name.endsWith(QChar(0xFF1A)) || name.endsWith(QLatin1Char(':'))) name.chop(1);
  return name;
}
}  // namespace

QString labelName(const char *label) {
  const QString name = withoutColon(label);
  const qsizetype unit = unitStart(name);
  return unit < 0 ? name : name.left(unit);
}

QString labelUnit(const char *label) {
  const QString name = withoutColon(label);
  const qsizetype unit = unitStart(name);
  return unit < 0 ? QString() : name.mid(unit + 1, name.size() - unit - 2);
}

QString allowedRange(Encoding encoding) {
  const QChar dash(0x2013);
  switch (encoding) {
    case Encoding::X10:
    case Encoding::X100: return QStringLiteral("0") + dash + writtenText(encoding, 0xFFFF);
    case Encoding::WholeX10Signed: return QStringLiteral("-3276") + dash + QStringLiteral("3276");
    case Encoding::Integer: return QStringLiteral("0") + dash + QStringLiteral("65535");
    default: return QString();
  }
}

QString refusalDetail(const ParamRow &row) {
  const QString unit = labelUnit(row.label);
  return labelName(row.label) + QChar(0xFF1A) + allowedRange(row.encoding) +
         (unit.isEmpty() ? QString() : QLatin1Char(' ') + unit);
}

QString writtenText(Encoding encoding, int raw) {
  switch (encoding) {
    case Encoding::X10: return wordText(Shown::Div10, raw);
    case Encoding::X100: return wordText(Shown::Div100, raw);
    case Encoding::WholeX10Signed: return wordText(Shown::SignDiv10, raw);
    default: return QString::number(raw);
  }
}

int rowIndex(std::span<const ParamRow> rows, int pos) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].pos == pos) return static_cast<int>(i);
  return -1;
}

int rowIndex(std::span<const ParamRow> rows, void (TForm1::*handler)()) {
  for (std::size_t i = 0; handler && i < rows.size(); ++i)
    if (rows[i].read == handler || rows[i].write == handler) return static_cast<int>(i);
  return -1;
}

int decoderRow(std::span<const ParamRow> rows, Decoder decoder) {
  for (std::size_t i = 0; decoder && i < rows.size(); ++i)
    if (rows[i].decoder == decoder) return static_cast<int>(i);
  return -1;
}

}  // namespace params

namespace {

using params::Control;
using params::Encoding;
using params::ErrorTo;
using params::Shown;

void refuseOutOfRange(const QString &range, const QString &detail) {
  ShowMessageBox(QStringLiteral("数值超出范围(%1)\n%2").arg(range, detail), QStringLiteral("error"));
}

// The standard integer conversion, its error saying which box and what it allows.
int integerText(const QString &text, const QString &detail) {
  try {
    return StrToInt(text);
  } catch (const EConvertError &e) {
    throw EConvertError(std::string(e.what()) + '\n' + detail.toStdString());
  }
}

}  // namespace

QWidget *TForm1::placeParamRow(QWidget *page, const ParamRow &row, int x, int y, const ParamRowShape &shape) {
  const QByteArray labelName = QByteArray("Label_") + row.control;
  placeControl<QLabel>(page, labelName.constData(), QString::fromUtf8(row.label), x, y + 3, shape.labelWidth, 18);
  const int cx = x + shape.labelWidth + 2;
  QWidget *control = nullptr;
  switch (row.kind) {
    case Control::Edit:
      control = placeControl<QLineEdit>(page, row.control, QStringLiteral("0"), cx, y, shape.controlWidth, 22);
      break;
    case Control::Check:
      control = placeControl<QCheckBox>(page, row.control, cx, y, shape.controlWidth, 22);
      break;
    case Control::Combo: {
      auto *box = placeControl<QComboBox>(page, row.control, cx, y, shape.controlWidth, 22);
      box->addItems(params::comboItems(row.shown));
      box->setCurrentIndex(0);
      control = box;
      break;
    }
  }
  int bx = cx + shape.controlWidth + 4;
  auto button = [&](const char *name, const QString &text, int width, Handler handler) {
    onButton(placeControl<QPushButton>(page, name, text, bx, y, width, 23), handler);
    bx += width + 2;
  };
  if (row.readButton && row.read) button(row.readButton, shape.readText, shape.readWidth, row.read);
  if (row.writeButton && row.write) button(row.writeButton, shape.writeText, shape.writeWidth, row.write);
  watchParamBox(control);  // not read on this link, until it is
  return control;
}

bool TForm1::paramDecode(const ParamRow &row, QWidget *control) {
  // An answer that does not carry the bytes this row reads is a failed read, never decoded
  // from what an earlier answer left in the payload.
  if (!answerHolds(params::bytesNeeded(row.shown), row.errorTo == ErrorTo::Panel2)) return false;
  const int word = dataByte(0) * 256 + dataByte(1);
  auto edit = [control](const QString &text) { showText(static_cast<QLineEdit *>(control), text); };
  auto check = [control](bool on) { static_cast<QCheckBox *>(control)->setChecked(on); };
  auto choose = [control](int index) { static_cast<QComboBox *>(control)->setCurrentIndex(index); };
  switch (row.shown) {
    case Shown::Div10:
    case Shown::Div100:
    case Shown::SignDiv10:
    case Shown::Int16: edit(params::wordText(row.shown, word)); break;
    case Shown::Int8: edit(QString::number(dataByte(0))); break;
    case Shown::FlagNonZero: check(dataByte(0) != 0); break;
    case Shown::FlagOne: check(dataByte(0) == 1); break;
    case Shown::Buzzer: choose(dataByte(0) == 0 ? 0 : dataByte(0) == 1 ? 1 : 2); break;
    case Shown::Language: choose(dataByte(0) == 2 ? 1 : 0); break;
    case Shown::ContactType:
    case Shown::ContactState:  // a code past the list leaves no item selected
      choose(dataByte(1) < params::comboItems(row.shown).size() ? dataByte(1) : -1);
      break;
    case Shown::Clock: {
      auto two = [this](int k) { return proto::straddzero(QString::number(dataByte(k)), 2); };
      edit(QStringLiteral("20") + two(6) + QLatin1Char('-') + two(5) + QLatin1Char('-') + two(3) +
           QLatin1Char(' ') + two(2) + QLatin1Char(':') + two(1) + QLatin1Char(':') + two(0));
      break;
    }
    case Shown::None: break;
  }
  markParamBox(control, ParamState::Read);
  return true;
}

// An edit row's write sends the number the box holds and then shows that number as sent, in
// the box's own format: decimals beyond the row's scale are dropped by the conversion, and
// the box never goes on showing digits the controller did not get. A refused number sends
// nothing, and its message names the box and what it allows.
void TForm1::paramWrite(const ParamRow &row, QWidget *control) {
  auto *edit = row.kind == Control::Edit ? static_cast<QLineEdit *>(control) : nullptr;
  const QString detail = params::refusalDetail(row);
  QString data;
  int written = -1;  // an edit row's raw value
  switch (row.encoding) {
    case Encoding::X10:
    case Encoding::X100: {
      const QString text = edit->text();
      if (!text.isEmpty() && text.trimmed().isEmpty()) {
        ShowMessageBox(QStringLiteral("Data error\n") + detail, QStringLiteral("error"));
        return;
      }
      bool ok = false;
      const int value = chartofloat(text, row.encoding == Encoding::X10 ? 10 : 100, &ok, detail);
      if (!ok) return;  // the conversion has told the operator; nothing is sent
      if (value > 0xFFFF) return refuseOutOfRange(QStringLiteral("0-65535"), detail);
      written = value;
      break;
    }
    case Encoding::WholeX10Signed: {
      // Read back as sign and magnitude, so written the same way.
      const std::optional<int> raw = params::wholeTenthsSignMagnitude(integerText(edit->text(), detail));
      if (!raw) return refuseOutOfRange(QStringLiteral("-3276-3276"), detail);
      written = *raw;
      break;
    }
    case Encoding::Integer: {
      const int value = integerText(edit->text(), detail);
      if (value < 0 || value > 0xFFFF) return refuseOutOfRange(QStringLiteral("0-65535"), detail);
      written = value;
      break;
    }
    case Encoding::Flag: {
      const bool on = static_cast<QCheckBox *>(control)->isChecked();
      if (on && row.confirmOn && !AskYesNo(QString::fromUtf8(row.confirmOn))) return;
      data = on ? QStringLiteral("01") : QStringLiteral("00");
      break;
    }
    case Encoding::Buzzer: {
      const int index = static_cast<QComboBox *>(control)->currentIndex();
      data = index == 0 ? QStringLiteral("00") : index == 1 ? QStringLiteral("01") : QStringLiteral("02");
      break;
    }
    case Encoding::Contact: {
      // Only an item of the list has a code; the start text and typed text have none.
      const auto *box = static_cast<QComboBox *>(control);
      const int index = box->currentIndex();
      if (index < 0 || box->currentText() != box->itemText(index)) {
        ShowMessageBox(QStringLiteral("请从列表中选择一项"), QStringLiteral("error"));
        return;
      }
      data = proto::hex2(row.contact) + proto::hex2(index);
      break;
    }
    case Encoding::Clock:
    case Encoding::None: return;
  }
  if (written >= 0) data = proto::intto4char(written);
  SendingAs as(*this, boxNumber(control));  // its answer marks the box
  sendRequest(proto::hex2(row.writeCid1()), proto::hex2(row.writeCid2()), data);
  if (written >= 0 && lastBuildOk_) showText(edit, params::writtenText(row.encoding, written));
}
