// The system status page ("系统状态"): the measurement boxes, the eighteen alarm lamps, the
// battery and AC state, and the polling cycle that fills them once a second while the page
// is shown. The module half of the page is in pages/Modules.cpp.
#include "pages/Status.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "protocol/Conversions.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"

namespace status {

namespace {

using A = StatusAnswer;
using E = Encoding;

const Measurement kMeasurements[] = {
    {A::System, 0, E::Unsigned16Div100, "Edit16"},  // output (bus) voltage, V
    {A::System, 2, E::Signed16Div10, "Edit17"},     // battery current, A
    {A::System, 4, E::Unsigned16Div10, "Edit15"},   // output current, A
    {A::System, 6, E::Signed16Div10, "Edit32"},     // battery temperature
    {A::System, 8, E::Signed16Div10, "Edit18"},     // ambient temperature
    {A::System, 10, E::Unsigned8, "Edit33"},        // rectifier modules
    {A::System, 11, E::Unsigned16Div10, "Edit19"},  // ambient humidity
    {A::Ac, 0, E::Unsigned16Div10, "Edit14"},       // AC input voltage, V
};

const Lamp kLamps[] = {
    {"Shape1", "-48V输出过压：", A::System, 13, 0x10},
    {"Shape2", "-48V电池低压：", A::System, 13, 0x04},
    {"Shape3", "-48V负载过流：", A::System, 13, 0x02},
    {"Shape4", "-48V电池过流：", A::System, 14, 0x01},
    {"Shape5", "-48V电池过温：", A::System, 15, 0x40},
    {"Shape6", "-48V电池低温：", A::System, 15, 0x20},
    {"Shape27", "-48V负载下电：", A::System, 13, 0x01},
    {"Shape28", "-48V电池下电：", A::System, 14, 0x40},
    {"Shape7", "-48V环境过温：", A::System, 14, 0x20},
    {"Shape8", "-48V环境低温：", A::System, 14, 0x10},
    {"Shape21", "-48V负载熔丝：", A::System, 14, 0x04},
    {"Shape29", "  电池1 熔丝：", A::System, 14, 0x02},
    {"Shape10", "  模块缺失：", A::System, 14, 0x08},
    {"Shape26", "防         雷：", A::System, 17, 0x08},
    {"Shape18", "门         禁：", A::System, 17, 0x04},
    {"Shape17", "水         浸：", A::System, 17, 0x02},
    {"Shape22", "交流空开：", A::Ac, 4, 0x20},
    {"Shape16", "烟         雾：", A::System, 17, 0x01},
};

}  // namespace

std::span<const Measurement> measurements() { return kMeasurements; }
std::span<const Lamp> lamps() { return kLamps; }

int bytesRead(StatusAnswer answer, uint8_t lengthByte) {
  switch (answer) {
    case A::System: return 18;
    case A::Ac: return 5;
    case A::ModuleList: return lengthByte;
    case A::ModuleReadings: return 11;
  }
  return 0;
}

int unsigned16(uint8_t high, uint8_t low) { return high * 256 + low; }

int signMagnitude16(uint8_t high, uint8_t low) {
  const int raw = unsigned16(high, low);
  return raw >= 0x8000 ? 0x8000 - raw : raw;
}

QString measurementText(Encoding encoding, const uint8_t *data) {
  switch (encoding) {
    case E::Unsigned16Div100: return proto::formatGeneral(unsigned16(data[0], data[1]) / 100.0);
    case E::Unsigned16Div10: return proto::formatGeneral(unsigned16(data[0], data[1]) / 10.0);
    case E::Signed16Div10: return proto::formatGeneral(signMagnitude16(data[0], data[1]) / 10.0);
    case E::Unsigned8: return QString::number(data[0]);
  }
  return {};
}

QString batteryStateText(uint8_t bits, const QString &previous) {
  QString text = previous;
  if (bits & 0x01) text = QStringLiteral("电池测试");
  if (bits & 0x02) text = QStringLiteral("快充");
  if (bits & 0x04) text = QStringLiteral("浮充");
  if (bits & 0x10) text = QStringLiteral("均充");
  return text;
}

AcState acState(uint8_t bits) {
  AcState s{QStringLiteral("正常"), (bits & 0x07) != 0};
  if (bits & 0x04) s.text = QStringLiteral("过压");
  if (bits & 0x02) s.text = QStringLiteral("欠压");
  if (bits & 0x01) s.text = QStringLiteral("掉电");
  return s;
}

}  // namespace status

namespace {

const QColor kAlarm(255, 0, 0);
const QColor kQuiet(0, 255, 0);

// Where the measurement boxes sit: the row of the page and the first or second box of it.
struct BoxPlace {
  const char *box;
  int row, column;
  const char *unit;
};
const BoxPlace kBoxPlaces[] = {
    {"Edit14", 0, 0, "V"}, {"Edit16", 1, 0, "V"}, {"Edit15", 1, 1, "A"}, {"Edit17", 2, 0, "A"},
    {"Edit32", 2, 1, "C"}, {"Edit18", 4, 0, ""},  {"Edit19", 5, 0, ""},  {"Edit33", 6, 0, ""},
};
const char *const kRowLabels[] = {"交流输入：", "- 48V 输出：", "电池电流：", "电池状态：",
                                  "环境温度：", "环境湿度： ", "-整流模块数："};
constexpr int kTop = 12, kRowStep = 30, kLabelWidth = 92, kBoxWidth = 56, kColumnStep = 84;
constexpr int kLampTop = 12, kLampStep = 24, kLampsPerColumn = 9;

int boxLeft(int column) { return 8 + kLabelWidth + column * kColumnStep; }

}  // namespace

// ---------------------------------------------------------------- named entry points

#define STATUS_DEFINE_REQUEST(handler, cid1, cid2) \
  void TForm1::handler() { sendRequest(QStringLiteral(cid1), QStringLiteral(cid2)); }
#define STATUS_DEFINE_DECODER(decoder, answer) \
  void TForm1::decoder(QObject *) { statusDecode(StatusAnswer::answer); }
STATUS_REQUESTS(STATUS_DEFINE_REQUEST)
STATUS_DECODERS(STATUS_DEFINE_DECODER)
#undef STATUS_DEFINE_REQUEST
#undef STATUS_DEFINE_DECODER

// ---------------------------------------------------------------- layout

void TForm1::buildStatusPage() {
  QWidget *page = TabSheet2;
  auto label = [page](const QString &name, const QString &text, int left, int top, int width) {
    auto *l = new QLabel(text, page);
    l->setObjectName(name);
    l->setGeometry(left, top, width, 18);
    return l;
  };

  for (int row = 0; row < int(std::size(kRowLabels)); ++row)
    label(QStringLiteral("StatusLabel%1").arg(row), QString::fromUtf8(kRowLabels[row]), 8,
          kTop + row * kRowStep + 2, kLabelWidth);
  statusBoxes_.clear();
  for (const status::Measurement &m : status::measurements()) {
    const BoxPlace *place = nullptr;
    for (const BoxPlace &p : kBoxPlaces)
      if (qstrcmp(p.box, m.box) == 0) place = &p;
    const int x = boxLeft(place->column), y = kTop + place->row * kRowStep;
    auto *box = placeControl<QLineEdit>(page, m.box, QStringLiteral("0"), x, y, kBoxWidth, 21);
    box->setReadOnly(true);
    statusBoxes_.push_back(box);
    if (*place->unit)
      label(QStringLiteral("StatusUnit_%1").arg(QLatin1String(m.box)), QString::fromLatin1(place->unit),
            x + kBoxWidth + 4, y + 2, 16);
  }
  Label68 = label(QStringLiteral("Label68"), QStringLiteral("正常"), boxLeft(1), kTop + 2, 40);
  Shape9 = new TShape(page, QStringLiteral("Shape9"), kQuiet);
  Shape9->setGeometry(boxLeft(1) + 44, kTop + 3, 16, 16);
  Label41 = label(QStringLiteral("Label41"), QStringLiteral("浮充"), boxLeft(0), kTop + 3 * kRowStep + 2, 80);

  statusLamps_.clear();
  int i = 0;
  for (const status::Lamp &l : status::lamps()) {
    const int x = 268 + (i / kLampsPerColumn) * 152, y = kLampTop + (i % kLampsPerColumn) * kLampStep;
    label(QStringLiteral("LampLabel_%1").arg(QLatin1String(l.lamp)), QString::fromUtf8(l.label), x, y, 110);
    auto *lamp = new TShape(page, QString::fromLatin1(l.lamp), kQuiet);
    lamp->setGeometry(x + 114, y + 1, 16, 16);
    statusLamps_.push_back(lamp);
    ++i;
  }
  buildModuleControls();
}

// ---------------------------------------------------------------- decoders

void TForm1::statusDecode(StatusAnswer answer) {
  // An answer that does not carry every byte its decoder reads is a failed read: it is never
  // decoded from what an earlier answer left in the payload, and it ends the cycle.
  if (!answerHolds(status::bytesRead(answer, payload[3]), false)) return;
  switch (answer) {
    case StatusAnswer::System:
    case StatusAnswer::Ac:
      statusShow(answer);
      if (statusPolling) answer == StatusAnswer::System ? mcu_read_acstatus() : mcu_get_dymo();
      break;
    case StatusAnswer::ModuleList: moduleListDecode(); break;
    case StatusAnswer::ModuleReadings: moduleReadingsDecode(); break;
  }
}

// Every box and lamp of the answer, in table order, then the battery or AC state.
void TForm1::statusShow(StatusAnswer answer) {
  const auto fields = status::measurements();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].answer != answer) continue;
    const QString text = status::measurementText(fields[i].encoding, &payload[4 + fields[i].offset]);
    showText(statusBoxes_[i], text);
  }
  const auto lamps = status::lamps();
  for (size_t i = 0; i < lamps.size(); ++i)
    if (lamps[i].answer == answer) statusLamps_[i]->SetBrushColor(dataByte(lamps[i].offset) & lamps[i].mask ? kAlarm : kQuiet);
  if (answer == StatusAnswer::System) {
    showText(Label41, status::batteryStateText(dataByte(16), Label41->text()));
  } else {
    const status::AcState ac = status::acState(dataByte(4));
    showText(Label68, ac.text);
    Shape9->SetBrushColor(ac.alarm ? kAlarm : kQuiet);
  }
  monitorStatusShown(answer);
}
