// The generic steps of a parameter row on either page: drawing it, showing an answer in its
// control, and turning the control's content into a write request.
#include "pages/ParamTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstring>
#include <string>
#include <vector>

#include "pages/ParamBoxState.h"
#include "pages/ParamHandlers.h"
#include "protocol/Conversions.h"
#include "protocol/Frame.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"

namespace params {

namespace {

// The design's named handlers, by the control of their row.
struct Named {
  const char *control;
  void (TForm1::*read)();
  void (TForm1::*write)();
  Decoder decoder;
};
#define READ_WRITE(read, write) &TForm1::read, &TForm1::write
#define READ_ONLY(read) &TForm1::read, nullptr
#define WRITE_ONLY(write) nullptr, &TForm1::write
#define DECODER(decoder) &TForm1::decoder
#define SHARED_DECODER(decoder) &TForm1::decoder
#define NO_DECODER nullptr
#define PARAM_NAMED(control, handlers, decoder) {#control, handlers, decoder},
const Named kNamed[] = {PARAM_HANDLERS_PAGE1(PARAM_NAMED) PARAM_HANDLERS_PAGE2(PARAM_NAMED)};
#undef PARAM_NAMED
#undef READ_WRITE
#undef READ_ONLY
#undef WRITE_ONLY
#undef DECODER
#undef SHARED_DECODER
#undef NO_DECODER

std::vector<ParamRow> windowRows(int page) {
  std::vector<ParamRow> rows;
  for (const ParamDef &def : pageParams(page)) {
    ParamRow row;
    static_cast<ParamDef &>(row) = def;
    for (const Named &n : kNamed)
      if (std::strcmp(n.control, def.control) == 0) {
        row.read = n.read;
        row.write = n.write;
        row.decoder = n.decoder;
      }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

std::span<const ParamRow> page1Rows() {
  static const std::vector<ParamRow> rows = windowRows(1);
  return rows;
}

std::span<const ParamRow> page2Rows() {
  static const std::vector<ParamRow> rows = windowRows(2);
  return rows;
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

QWidget *TForm1::placeParamRow(QWidget *page, const ParamRow &row, int x, int y, const ParamRowShape &shape,
                               RowAction read, RowAction write, int index) {
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
  // A button runs the row's named handler when the design names one, else the page's read or
  // write of the row by its index: a row of the table needs nothing more to work.
  int bx = cx + shape.controlWidth + 4;
  auto button = [&](const char *name, const QString &text, int width, Handler handler, RowAction action) {
    auto *b = placeControl<QPushButton>(page, name, text, bx, y, width, 23);
    if (handler)
      onButton(b, handler);
    else
      connect(b, &QPushButton::clicked, this, [this, action, index] { guarded([&] { (this->*action)(index); }); });
    bx += width + 2;
  };
  if (row.readButton && row.reads()) button(row.readButton, shape.readText, shape.readWidth, row.read, read);
  if (row.writeButton && row.writes()) button(row.writeButton, shape.writeText, shape.writeWidth, row.write, write);
  watchParamBox(control);  // not read on this link, until it is
  return control;
}

bool TForm1::paramDecode(const ParamRow &row, QWidget *control) {
  // An answer that does not carry the bytes this row reads is a failed read, never decoded
  // from what an earlier answer left in the payload.
  if (!answerHolds(params::bytesNeeded(row.shown), row.errorTo == ErrorTo::Panel2)) return false;
  const std::optional<params::ParamValue> value =
      params::decodeParam(row, std::span<const uint8_t>(payload + 4, std::size_t(dataAvailable())));
  if (!value) return true;  // a row that shows nothing
  switch (row.kind) {
    case Control::Edit: showText(static_cast<QLineEdit *>(control), value->text); break;
    case Control::Check: static_cast<QCheckBox *>(control)->setChecked(value->on); break;
    case Control::Combo: static_cast<QComboBox *>(control)->setCurrentIndex(value->index); break;
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
      data = params::encodeParam(row, on ? 1 : 0).value_or(QString());
      break;
    }
    case Encoding::Buzzer: {
      const int index = static_cast<QComboBox *>(control)->currentIndex();
      // no item chosen, or one past the first two: the third code
      data = params::encodeParam(row, index == 0 || index == 1 ? index : 2).value_or(QString());
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
      data = params::encodeParam(row, index).value_or(QString());
      break;
    }
    case Encoding::Clock:
    case Encoding::None: return;
  }
  if (written >= 0) data = params::encodeParam(row, written).value_or(QString());
  if (data.isEmpty()) return;  // nothing the row's encoding can send
  SendingAs as(*this, boxNumber(control));  // its answer marks the box
  send(row.writeCommand, *proto::hexBytes(data.toStdString()));
  if (written >= 0 && lastBuildOk_) showText(edit, params::writtenText(row.encoding, written));
}

// The answer to the read of a row that has no decoder of its own: the row is the one whose
// read command the request was (no two such rows share one).
void TForm1::paramAnswer(QObject *) {
  if (!answering_) return;
  const int cid1 = answering_->cid1, cid2 = answering_->cid2;
  for (int page : {1, 2}) {
    const std::span<const ParamRow> rows = page == 1 ? params::page1Rows() : params::page2Rows();
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (rows[i].reads() && !rows[i].decoder && rows[i].readCid1() == cid1 && rows[i].readCid2() == cid2)
        return page == 1 ? page1Decode(int(i)) : page2Decode(int(i));
  }
}
