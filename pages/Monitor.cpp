// What happened while nobody was looking: the alarm journal ("告警记录"), the trends ("趋势")
// and the recording to CSV, with the two check boxes beside the protocol log. The status
// page calls the hooks after it has shown an answer; the links call monitorLinkEvent. The
// logic is in pages/AlarmJournal, pages/TrendStore and pages/Recorder; this is the window's
// side: reading what the page shows, the tabs, the chart, the menus and the file dialogs.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>
#include <memory>

#include "pages/AlarmJournal.h"
#include "pages/ClockZone.h"
#include "pages/TrendChart.h"
#include "pages/Recorder.h"
#include "protocol/Status.h"
#include "pages/TrendStore.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/TableExport.h"
#include "window/Unit1.h"
#include "window/WholeFile.h"

namespace {

const QColor kAlarm(255, 0, 0);
const QColor kQuiet(0, 255, 0);

const QString kRecordIdle = QStringLiteral("记录到CSV…");
const QString kRecordRunning = QStringLiteral("停止记录");

// The window choices of the trend chart, in milliseconds.
struct TrendWindow {
  const char *text;
  qint64 msecs;
};
const TrendWindow kTrendWindows[] = {
    {"10分钟", 10LL * 60 * 1000},
    {"1小时", 60LL * 60 * 1000},
    {"24小时", 24LL * 60 * 60 * 1000},
};

// The samples of the AC answer and the module phase belong to the cycle whose status answer
// came last, when that was this recently.
constexpr qint64 kCycleSpanMs = 5000;

// A lamp's colour as an alarm state: red raised, bright green clear, anything else unknown.
std::optional<bool> lampState(const TShape *lamp) {
  if (lamp->BrushColor() == kAlarm) return true;
  if (lamp->BrushColor() == kQuiet) return false;
  return std::nullopt;
}

}  // namespace

// Everything the journal, the trends and the recording keep, owned by the window.
class MonitorState : public QObject {
 public:
  explicit MonitorState(TForm1 *form) : QObject(form), form_(form), model(new journal::JournalModel(this)) {}

  // Adds the rows; returns the number the first is known by in the model.
  quint64 addEvents(const std::vector<journal::Event> &events);
  void alert(const std::vector<journal::Event> &events);
  void followNewest();
  bool scrollPending = false;
  void addSample(int quantity, qint64 msecs, double value);
  // The chart after new samples: drawn now when shown and not drawn within the last second,
  // otherwise at the next redraw tick or when the tab is shown.
  void trendChanged();
  void redraw();
  qint64 windowMs() const;
  void record();
  void stopRecording(const QString &why);
  void exportJournal();
  void exportTrendCsv();
  void exportTrendPng();
  // The exported picture's title: the link, the time range and the zone.
  QString trendTitle() const;
  void updateRecordTexts();

  // Adds the link's row or puts it in place of the episode's flap row.
  void addLinkEntry(const journal::LinkEpisodes::Entry &entry);

  TForm1 *form_;
  journal::Detector detector;
  journal::LinkEpisodes linkEpisodes;
  std::optional<quint64> flapRow;  // the number of the current episode's flap row
  journal::AlertPacer alerts;
  journal::JournalModel *model;
  std::array<trend::Series, trend::kQuantities> series;
  std::array<int, trend::kQuantities> boxOf{};  // index into the status boxes, -1 for the module sum
  // Whether the controller has gone silent while polled (a journal row when it does, one when
  // it answers again), through the same flap rule as the link's rows.
  bool stale = false;
  journal::LinkEpisodes staleEpisodes;
  std::optional<quint64> staleFlapRow;
  SteadyTimer *redrawTimer = nullptr;
  qint64 drawnAt = std::numeric_limits<qint64>::min();
  bool dirty = false;
  qint64 cycleTime = -1;  // PC time of the last status answer, -1 when the cycle has ended
  // The time a sample taken now belongs to: its cycle's, when that began lately.
  qint64 sampleTime(qint64 now) const {
    return cycleTime >= 0 && now - cycleTime >= 0 && now - cycleTime < kCycleSpanMs ? cycleTime : now;
  }
  recording::RecordFile file;
  // What panel 0 says of the recording besides that it runs: the file made anew after the
  // old one went away, or why it stopped.
  QString recordNote;
};

// ---------------------------------------------------------------- layout

void TForm1::buildMonitorPages() {
  monitor_ = new MonitorState(this);
  MonitorState &m = *monitor_;
  monitorClock = [] { return QDateTime::currentMSecsSinceEpoch(); };
  alarmAlert = [this](bool sound) {
    if (sound) QApplication::beep();
    QApplication::alert(this);
  };

  QWidget *client = centralWidget();
  CheckBoxMonitor = placeControl<QCheckBox>(client, "CheckBoxMonitor", QStringLiteral("后台监视"), 862, 14, 80, 20);
  CheckBoxAlarmSound =
      placeControl<QCheckBox>(client, "CheckBoxAlarmSound", QStringLiteral("告警提示音"), 946, 14, 96, 20);
  CheckBoxAlarmSound->setChecked(true);

  // ---- "告警记录"
  TabSheetAlarms = new QWidget;
  TabSheetAlarms->setObjectName(QStringLiteral("TabSheetAlarms"));
  PageControl1->addTab(TabSheetAlarms, QStringLiteral("告警记录"));
  auto *activeOnly = placeControl<QCheckBox>(TabSheetAlarms, "CheckBoxActiveAlarms", QStringLiteral("只看当前告警"), 8, 6, 160, 20);
  AlarmJournal = placeControl<QTableView>(TabSheetAlarms, "AlarmJournal", 8, 30, 561, 508);
  AlarmJournal->setModel(m.model);
  auto *active = new journal::ActiveAlarmFilter(this);
  connect(activeOnly, &QCheckBox::toggled, this, [this, active](bool on) {
    active->setSourceModel(on ? monitor_->model : nullptr);  // kept up to date only while shown
    AlarmJournal->setModel(on ? static_cast<QAbstractItemModel *>(active) : monitor_->model);
    const int widths[3] = {130, 110, 50};
    for (int c = 0; c < 3; ++c) AlarmJournal->setColumnWidth(c, widths[c]);
  });
  AlarmJournal->setEditTriggers(QAbstractItemView::NoEditTriggers);
  AlarmJournal->setSelectionBehavior(QAbstractItemView::SelectRows);
  AlarmJournal->verticalHeader()->setDefaultSectionSize(18);
  AlarmJournal->verticalHeader()->hide();
  AlarmJournal->horizontalHeader()->setStretchLastSection(true);
  const int widths[3] = {130, 110, 50};
  for (int c = 0; c < 3; ++c) AlarmJournal->setColumnWidth(c, widths[c]);
  addMenuAction(AlarmJournal, QStringLiteral("导出CSV…"), "actionExportAlarms", [this] { monitor_->exportJournal(); });

  // ---- "趋势"
  TabSheetTrend = new QWidget;
  TabSheetTrend->setObjectName(QStringLiteral("TabSheetTrend"));
  PageControl1->addTab(TabSheetTrend, QStringLiteral("趋势"));
  ComboBoxTrendWindow = placeControl<QComboBox>(TabSheetTrend, "ComboBoxTrendWindow", 8, 8, 90, 22);
  for (const TrendWindow &w : kTrendWindows) ComboBoxTrendWindow->addItem(QString::fromUtf8(w.text));
  ButtonRecord = placeControl<QPushButton>(TabSheetTrend, "ButtonRecord", kRecordIdle, 108, 6, 100, 25);
  onButton(ButtonRecord, &TForm1::ButtonRecordClick);

  auto *reset = placeControl<QPushButton>(TabSheetTrend, "ButtonTrendReset", QStringLiteral("复位"), 218, 6, 60, 25);
  reset->setToolTip(QStringLiteral("回到最新数据（滚轮缩放，拖动平移）"));
  TrendChart = new TrendChartView(TabSheetTrend);
  TrendChart->setObjectName(QStringLiteral("TrendChart"));
  TrendChart->setGeometry(8, 40, 561, 500);
  TrendChart->setSeries(&m.series);
  const auto measurements = status::measurements();
  for (size_t q = 0; q < trend::quantities().size(); ++q) {
    const trend::Quantity &quantity = trend::quantities()[q];
    m.boxOf[q] = -1;
    for (size_t i = 0; quantity.box && i < measurements.size(); ++i)
      if (qstrcmp(measurements[i].box, quantity.box) == 0) m.boxOf[q] = int(i);
  }
  connect(reset, &QPushButton::clicked, TrendChart, &TrendChartView::resetView);
  connect(TrendChart, &TrendChartView::viewChanged, this, [this] { guarded([this] { monitor_->redraw(); }); });
  addMenuAction(TrendChart, QStringLiteral("导出PNG…"), "actionExportTrendPng", [this] { monitor_->exportTrendPng(); });
  addMenuAction(TrendChart, QStringLiteral("导出CSV…"), "actionExportTrendCsv", [this] { monitor_->exportTrendCsv(); });
  actionRecordCsv = addMenuAction(TrendChart, kRecordIdle, "actionRecordCsv", [this] { ButtonRecordClick(); });

  m.redrawTimer = new SteadyTimer(QStringLiteral("TrendRedrawTimer"), 1000, false, this);
  onTimer(m.redrawTimer, [this] {
    monitor_->redrawTimer->setEnabled(false);
    if (monitor_->dirty) monitor_->trendChanged();
  });
  // another span: the view follows the newest samples again
  connect(ComboBoxTrendWindow, &QComboBox::currentIndexChanged, this, [this] { guarded([this] { TrendChart->resetView(); }); });
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
    if (PageControl1->currentWidget() == TabSheetTrend && monitor_->dirty) guarded([this] { monitor_->redraw(); });
  });
  m.redraw();

  using F = Follower;
  followers_.push_back({CheckBoxMonitor, CheckBoxMonitor->geometry(), F::RightOfPages});
  followers_.push_back({CheckBoxAlarmSound, CheckBoxAlarmSound->geometry(), F::RightOfPages});
  followers_.push_back({AlarmJournal, AlarmJournal->geometry(), F::WiderAsPages | F::Taller});
  followers_.push_back({TrendChart, TrendChart->geometry(), F::WiderAsPages | F::Taller});
}

bool TForm1::backgroundMonitoring() const { return CheckBoxMonitor && CheckBoxMonitor->isChecked(); }

bool TForm1::recording() const { return monitor_ && monitor_->file.isOpen(); }

// ---------------------------------------------------------------- the hooks

void TForm1::monitorStatusShown(StatusAnswer answer) {
  if (!monitor_) return;
  MonitorState &m = *monitor_;
  const qint64 now = monitorClock();
  if (answer == StatusAnswer::System) m.cycleTime = now;
  const qint64 at = m.sampleTime(now);

  // the alarms as the answer just decoded carries them
  std::vector<journal::Event> events;
  const auto lamps = status::lamps();
  for (size_t i = 0; i < lamps.size(); ++i)
    if (lamps[i].answer == answer)
      if (auto e = m.detector.update(int(i), lamps[i].raised(&payload[4]), QString(), now))
        events.push_back(*e);
  if (answer == StatusAnswer::Ac) {
    const status::AcState ac = status::acState(dataByte(4));
    if (auto e = m.detector.update(journal::kAcSource, ac.alarm, ac.text, now)) events.push_back(*e);
  }
  m.addEvents(events);

  const auto measurements = status::measurements();
  bool sampled = false;
  for (size_t q = 0; q < m.boxOf.size(); ++q) {
    const int box = m.boxOf[q];
    if (box < 0 || measurements[size_t(box)].answer != answer) continue;
    const status::Measurement &field = measurements[size_t(box)];
    m.addSample(int(q), at, status::measurementValue(field.encoding, &payload[4 + field.offset]));
    sampled = true;
  }
  if (sampled) m.trendChanged();
}

void TForm1::monitorModulesShown() {
  if (!monitor_) return;
  MonitorState &m = *monitor_;
  const qint64 now = monitorClock();
  const qint64 at = m.sampleTime(now);

  std::vector<journal::Event> events;
  double current = 0;
  for (int n = 1; n <= status::kModules; ++n) {
    const status::ModuleRecord &r = moduleTable[size_t(n)];
    const journal::ModuleAlarm protection = journal::moduleProtection(r), fan = journal::moduleFan(r);
    if (auto e = m.detector.update(journal::moduleSource(n), protection.raised, protection.detail, now))
      events.push_back(*e);
    if (auto e = m.detector.update(journal::moduleFanSource(n), fan.raised, fan.detail, now)) events.push_back(*e);
    if (r.present) current += status::moduleView(r).amperes;
  }
  m.addEvents(events);
  for (size_t q = 0; q < m.boxOf.size(); ++q)
    if (m.boxOf[q] < 0) m.addSample(int(q), at, current);
  m.trendChanged();
  if (m.file.isOpen()) m.record();
  m.cycleTime = -1;
}

// The controller fell silent while polled (stale), or answers again: the journal's link rows
// say so, "通讯中断" then "恢复", with the flap rule of the link's own rows.
void TForm1::monitorStale(bool stale) {
  if (!monitor_ || closed_ || monitor_->stale == stale) return;
  MonitorState &m = *monitor_;
  m.stale = stale;
  const qint64 now = monitorClock();
  const auto entry = stale ? m.staleEpisodes.down(QStringLiteral("通讯中断：控制器 3 s 无应答"), now)
                           : m.staleEpisodes.up(QStringLiteral("控制器恢复应答"), now);
  if (!entry) return;
  if (entry->flaps && entry->update && m.staleFlapRow && m.model->replace(*m.staleFlapRow, entry->event)) return;
  const quint64 number = m.addEvents({entry->event});
  if (entry->flaps) m.staleFlapRow = number;
}

void TForm1::monitorLinkEvent(bool up, const QString &message) {
  if (!monitor_ || closed_) return;  // the window closing its link has lost nothing
  MonitorState &m = *monitor_;
  const qint64 now = monitorClock();
  if (auto entry = up ? m.linkEpisodes.up(message, now) : m.linkEpisodes.down(message, now)) m.addLinkEntry(*entry);
}

// ---------------------------------------------------------------- the journal

quint64 MonitorState::addEvents(const std::vector<journal::Event> &events) {
  if (events.empty()) return 0;
  followNewest();
  const quint64 first = model->append(events);
  alert(events);
  return first;
}

// The view follows the newest row unless the operator has scrolled up: at the bottom before
// rows come in, it is taken to the bottom again once the event loop turns (once for all the
// rows of a flood, which would otherwise lay the view out again for each).
void MonitorState::followNewest() {
  if (scrollPending) return;
  QScrollBar *bar = form_->AlarmJournal->verticalScrollBar();
  if (bar->value() < bar->maximum()) return;
  scrollPending = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        scrollPending = false;
        form_->AlarmJournal->scrollToBottom();
      },
      Qt::QueuedConnection);
}

// A source that keeps rising alerts once a minute.
void MonitorState::alert(const std::vector<journal::Event> &events) {
  bool due = false;
  for (const journal::Event &e : events)
    if (e.kind == journal::Kind::Raised && alerts.due(e.source, e.msecs)) due = true;
  if (due && form_->alarmAlert) form_->alarmAlert(form_->CheckBoxAlarmSound->isChecked());
}

void MonitorState::addLinkEntry(const journal::LinkEpisodes::Entry &entry) {
  if (entry.flaps && entry.update && flapRow && model->replace(*flapRow, entry.event)) {
    alert({entry.event});
    return;
  }
  const quint64 number = addEvents({entry.event});
  if (entry.flaps) flapRow = number;
}

// The rows as they are now, written out in the background while the journal goes on.
void MonitorState::exportJournal() {
  exportFile(QStringLiteral("导出CSV"), QStringLiteral("告警记录.csv"), QStringLiteral("CSV (*.csv)"),
             [this](QString *) -> FileProducer {
               auto events = std::make_shared<const std::vector<journal::Event>>(model->events());
               return [events](QIODevice &out) {
                 out.write(csvText({journal::JournalModel::headings()}));
                 for (const journal::Event &e : *events) out.write(csvLine(journal::rowTexts(e)));
                 return QString();
               };
             });
}

// ---------------------------------------------------------------- trends

void MonitorState::addSample(int quantity, qint64 msecs, double value) {
  series[size_t(quantity)].add(msecs, value);
  dirty = true;
}

qint64 MonitorState::windowMs() const {
  const int i = form_->ComboBoxTrendWindow->currentIndex();
  return kTrendWindows[i >= 0 && i < int(std::size(kTrendWindows)) ? i : 0].msecs;
}

// The chart moves on by a pixel at a time: it is drawn again once the time of one pixel has
// passed (a second in the 10-minute window, about 2.5 minutes in the 24-hour one).
void MonitorState::trendChanged() {
  if (!form_->TrendChart->isVisible()) return;  // drawn when the tab is shown
  const qint64 now = form_->monitorClock();
  const qint64 pixel = std::max<qint64>(1000, windowMs() / std::max(100, form_->TrendChart->plotWidth()));
  if (now - drawnAt >= pixel || now < drawnAt) {
    redraw();
  } else if (!redrawTimer->isEnabled()) {
    redrawTimer->setInterval(int(std::clamp<qint64>(pixel - (now - drawnAt), 1, pixel)));
    redrawTimer->setEnabled(true);
  }
}

void MonitorState::redraw() {
  const qint64 now = form_->monitorClock();
  form_->TrendChart->refresh(now, windowMs());
  drawnAt = now;
  dirty = false;
}

void MonitorState::exportTrendCsv() {
  exportFile(QStringLiteral("导出CSV"), QStringLiteral("趋势.csv"), QStringLiteral("CSV (*.csv)"),
             [this](QString *) -> FileProducer {
               const qint64 end = form_->TrendChart->viewEnd(), begin = form_->TrendChart->viewBegin();
               auto copy = std::make_shared<const std::array<trend::Series, trend::kQuantities>>(series);
               return [copy, begin, end](QIODevice &out) {
                 out.write(csvText(trend::tableRows(*copy, begin, end)));
                 return QString();
               };
             });
}

void MonitorState::exportTrendPng() {
  exportFile(QStringLiteral("导出PNG"), QStringLiteral("趋势.png"), QStringLiteral("PNG (*.png)"),
             [this](QString *) -> FileProducer {
               if (dirty) redraw();
               // drawn here, on the window's thread; encoded on the writer's
               const QString title = trendTitle();
               QImage picture = form_->TrendChart->picture(title);
               picture.setText(QStringLiteral("Title"), title);
               return [picture](QIODevice &out) {
                 return picture.save(&out, "PNG") ? QString() : QStringLiteral("图像无法生成");
               };
             });
}

QString MonitorState::trendTitle() const {
  const TrendChartView *chart = form_->TrendChart;
  const QString link = form_->linkWhere_.isEmpty() ? QStringLiteral("未连接") : form_->linkWhere_;
  return QStringLiteral("趋势  %1  %2 至 %3  %4")
      .arg(link, clockzone::dateTime(chart->viewBegin()), clockzone::dateTime(chart->viewEnd()), clockzone::heading());
}

// ---------------------------------------------------------------- recording

void TForm1::ButtonRecordClick() {
  MonitorState &m = *monitor_;
  if (m.file.isOpen()) {
    m.file.close();
    m.recordNote.clear();
    m.updateRecordTexts();
    return;
  }
  const QString path = AskSaveFileName(QStringLiteral("记录到CSV"), QStringLiteral("状态记录.csv"), QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty()) return;
  QString error;
  m.recordNote.clear();
  if (!m.file.open(path, recording::header(), &error)) {
    m.updateRecordTexts();
    ShowMessageBox(QStringLiteral("无法记录到 %1：%2").arg(QDir::toNativeSeparators(path), error), QStringLiteral("error"));
    return;
  }
  m.updateRecordTexts();
}

// Panel 0's part on the recording: whether it runs, and what happened to its file.
QString TForm1::recordingText() const {
  if (!monitor_) return QString();
  const MonitorState &m = *monitor_;
  if (!m.file.isOpen()) return m.recordNote;  // why it stopped, if it did not stop on a click
  return m.recordNote.isEmpty() ? QStringLiteral("记录中") : QStringLiteral("记录中（%1）").arg(m.recordNote);
}

void MonitorState::updateRecordTexts() {
  const QString text = file.isOpen() ? kRecordRunning : kRecordIdle;
  showText(form_->ButtonRecord, text);
  showText(form_->actionRecordCsv, text);
  form_->showOperatorPanel();
}

void MonitorState::record() {
  recording::Snapshot s;
  s.msecs = form_->monitorClock();
  for (const QLineEdit *box : form_->statusBoxes_) s.measurements << box->text();
  s.batteryState = form_->Label41->text();
  s.acState = form_->Label68->text();
  for (const TShape *lamp : form_->statusLamps_) s.lamps.push_back(lampState(lamp) == true);
  s.lamps.push_back(lampState(form_->Shape9) == true);
  for (int n = 1; n <= status::kModules; ++n) s.modules[size_t(n - 1)] = form_->moduleTable[size_t(n)];
  QString error;
  switch (file.append(recording::row(s), &error)) {
    case recording::RecordFile::Append::Written: break;
    case recording::RecordFile::Append::Reopened: {
      // said once, in the log and in panel 0
      const QString where = QDir::toNativeSeparators(file.path());
      recordNote = file.madeAnew() ? QStringLiteral("记录文件已被移走，已新建：%1").arg(where)
                                   : QStringLiteral("记录文件已被移走，接着写入：%1").arg(where);
      form_->log(recordNote);
      form_->showOperatorPanel();
      break;
    }
    case recording::RecordFile::Append::Failed: stopRecording(error); break;
  }
}

void MonitorState::stopRecording(const QString &why) {
  const QString path = QDir::toNativeSeparators(file.path());
  file.close();
  recordNote = QStringLiteral("记录已停止：%1").arg(why);
  form_->log(QStringLiteral("记录已停止：写入 %1 失败：%2").arg(path, why));
  updateRecordTexts();
  // told after the decoder that wrote the row has finished
  QMetaObject::invokeMethod(
      this,
      [path, why] {
        ShowMessageBox(QStringLiteral("记录已停止：写入 %1 失败：%2").arg(path, why), QStringLiteral("error"));
      },
      Qt::QueuedConnection);
}
