// The system status page ("系统状态"): the measurement boxes, the eighteen alarm lamps, the
// battery and AC state, and the polling cycle that fills them once a second while the page
// is shown. The module half of the page is in pages/Modules.cpp.
#include "pages/ClockZone.h"
#include "protocol/Status.h"

#include <algorithm>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "protocol/Commands.h"
#include "protocol/Conversions.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"

namespace {

const QColor kAlarm(255, 0, 0);
const QColor kQuiet(0, 255, 0);
const QColor kUnknown(160, 160, 160);  // no current answer: neither alarm nor clear

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

#define STATUS_DEFINE_REQUEST(handler, command)                              \
  void TForm1::handler() {                                                   \
    send(proto::Command::command);                                           \
  }
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
  Shape9 = new TShape(page, QStringLiteral("Shape9"), kUnknown);
  Shape9->setGeometry(boxLeft(1) + 44, kTop + 3, 16, 16);
  Label41 = label(QStringLiteral("Label41"), QStringLiteral("浮充"), boxLeft(0), kTop + 3 * kRowStep + 2, 80);

  statusLamps_.clear();
  int i = 0;
  for (const status::Lamp &l : status::lamps()) {
    const int x = 268 + (i / kLampsPerColumn) * 152, y = kLampTop + (i % kLampsPerColumn) * kLampStep;
    label(QStringLiteral("LampLabel_%1").arg(QLatin1String(l.lamp)), QString::fromUtf8(l.label), x, y, 110);
    auto *lamp = new TShape(page, QString::fromLatin1(l.lamp), kUnknown);
    lamp->setGeometry(x + 114, y + 1, 16, 16);
    statusLamps_.push_back(lamp);
    ++i;
  }
  LabelLastAnswer = label(QStringLiteral("LabelLastAnswer"), QStringLiteral("无数据"), 8, kTop + 7 * kRowStep - 4, 250);
  buildModuleControls();
  freshnessClock_.start();
  gridRowKnown_.fill(true);  // so that the first look greys every row
  greyStatusPage();  // nothing is known before the first answer
}

// ---------------------------------------------------------------- decoders

void TForm1::statusDecode(StatusAnswer answer) {
  // An answer that does not carry every byte its decoder reads is a failed read: it is never
  // decoded from what an earlier answer left in the payload, and it ends the cycle; the next
  // one starts at the next tick.
  if (!answerHolds(status::bytesRead(answer, payload[3]), false)) {
    if (answeringTag() == StatusPoll) pollBroken();
    return;
  }
  switch (answer) {
    case StatusAnswer::System:
    case StatusAnswer::Ac:
      statusShow(answer);
      if (statusPolling && answeringTag() == StatusPoll)
        answer == StatusAnswer::System ? mcu_read_acstatus() : mcu_get_dymo();
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
    if (lamps[i].answer == answer) statusLamps_[i]->SetBrushColor(lamps[i].raised(&payload[4]) ? kAlarm : kQuiet);
  if (answer == StatusAnswer::System) {
    showText(Label41, status::batteryStateText(dataByte(16), Label41->text()));
    Label41->setEnabled(true);
  } else {
    const status::AcState ac = status::acState(dataByte(4));
    showText(Label68, ac.text);
    Label68->setEnabled(true);
    Shape9->SetBrushColor(ac.alarm ? kAlarm : kQuiet);
  }
  // what this answer showed is current again
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].answer == answer) statusBoxes_[i]->setEnabled(true);
  freshness_.answered(freshnessClock_.elapsed());
  statusShownLive_ = true;
  monitorStale(false);
  lastAnswerAt_ = clockSource();
  showLastAnswer();
  monitorStatusShown(answer);
}

// A poll was refused, damaged, short or unanswered: the cycle ends there, and the next one
// starts at the next one-second tick counted from this cycle's start (at once when that has
// passed, as after a time-out), so cycles never start more than once a second. The watchdog is
// the last resort.
void TForm1::pollBroken() {
  constexpr qint64 period = status::kPollPeriodMs;
  const qint64 since = pollCycleClock_.isValid() ? qint64(pollCycleClock_.elapsed() / SteadyTimer::timeScale()) : period;
  Timer2->setEnabled(false);
  Timer2->setInterval(int(std::clamp<qint64>(period - since, 1, period)));
  Timer2->setEnabled(true);
}

// ---------------------------------------------------------------- live or stale

// The pages that show what polling brings (the status page, the journal and the trends) poll
// while they are shown; "后台监视" keeps polling on every page.
bool TForm1::pollingWanted() const {
  const QWidget *shown = PageControl1->currentWidget();
  return shown == TabSheet2 || (shown && (shown == TabSheetAlarms || shown == TabSheetTrend)) || backgroundMonitoring();
}

bool TForm1::statusPagePolls() const { return linkOpen && pollingWanted(); }

// Runs with the clock: values that are no longer current are shown as unknown.
void TForm1::showFreshness() {
  if (statusShownLive_ && !freshness_.live(freshnessClock_.elapsed(), linkOpen, statusPagePolls())) {
    if (linkOpen && statusPagePolls()) monitorStale(true);  // silent while polled, not closed
    greyStatusPage();
  }
  showLastAnswer();
}

// The time of the last answer stays while the link is down or reconnecting, with the state
// beside it: it is when the controller was last heard.
void TForm1::showLastAnswer() {
  if (!LabelLastAnswer) return;
  if (!lastAnswerAt_.isValid()) return showText(LabelLastAnswer, QStringLiteral("无数据"));
  QString text = QStringLiteral("最后应答：%1 (%2)").arg(clockzone::time(lastAnswerAt_.toMSecsSinceEpoch()), clockzone::name());
  const bool up = linkOpen && (serialLink || lanConnected);
  if (reconnect_.active() || (!up && linkDropped_))
    text += QStringLiteral("（连接中断）");
  else if (!up)
    text += QStringLiteral("（连接已关闭）");
  showText(LabelLastAnswer, text);
}

// Every lamp grey, every box disabled: unknown is neither an alarm nor a clear. The next
// decoded answer brings back what it carries.
void TForm1::greyStatusPage() {
  statusShownLive_ = false;
  for (TShape *lamp : statusLamps_) lamp->SetBrushColor(kUnknown);
  Shape9->SetBrushColor(kUnknown);
  for (QLineEdit *box : statusBoxes_) box->setEnabled(false);
  Label41->setEnabled(false);
  Label68->setEnabled(false);
  showLastAnswer();
  if (StringGrid2) Timer4Timer();  // the grid's rows at once, not at its next repaint
}
