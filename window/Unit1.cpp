#include "pages/ClockZone.h"
#include "window/Unit1.h"

#include <QCloseEvent>
#include <QShortcut>
#include <QResizeEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QAction>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>
#include <QTcpSocket>

#include <algorithm>
#include <memory>

#include "link/Comm.h"
#include "pages/Energy.h"
#include "pages/ParamFileActions.h"
#include "protocol/Conversions.h"
#include "protocol/Status.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/PaintPacer.h"
#include "window/Translations.h"
#include "window/ProtocolLog.h"
#include "window/WholeFile.h"

namespace {

QLabel *label(QWidget *parent, const char *name, const QString &text, int left, int top, int width = 60) {
  return placeControl<QLabel>(parent, name, text, left, top, width, 17);
}

}  // namespace

TForm1::TForm1(QWidget *parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Form1"));
  loadQtTranslations();  // Qt's buttons and dialogs in Chinese
  clockSource = [] { return QDateTime::currentDateTimeUtc(); };
  SetDialogOwner(this);
  buildWindow();
  paintPacer = new PaintPacer(this);
  FormCreate();
}

TForm1::~TForm1() { FormClose(); }

void TForm1::onButton(QPushButton *button, void (TForm1::*handler)()) {
  connect(button, &QPushButton::clicked, this, [this, handler] { guarded([&] { (this->*handler)(); }); });
}

void TForm1::onTimer(SteadyTimer *timer, std::function<void()> handler) {
  connect(timer, &SteadyTimer::timeout, this, [handler = std::move(handler)] { guarded(handler); });
}

void TForm1::buildWindow() {
  setWindowTitle(QStringLiteral("系统电源上位机软件"));
  QFont f(QStringLiteral("Noto Sans CJK SC"));
  f.setPixelSize(12);
  // Digits, Latin and Chinese need no shaping rules: skipping them makes every reading that
  // changes a box cheaper to lay out (and the window quicker to answer the controller).
  f.setStyleStrategy(QFont::PreferNoShaping);
  setFont(f);
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  if (const QScreen *where = screen()) {
    const QRect opening = initialGeometry(where->availableGeometry());
    move(opening.topLeft());  // the frame's corner
    resize(opening.size());   // within the frame
  }

  auto *client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(client);

  createComm1();
  ClientSocket1 = new QTcpSocket(this);
  ClientSocket1->setObjectName(QStringLiteral("ClientSocket1"));
  buildLinkGroup();

  Label2 = label(client, "Label2", QStringLiteral("CID1："), 365, 16, 42);
  Edit2 = placeControl<QLineEdit>(client, "Edit2", 408, 12, 33, 21);
  Label3 = label(client, "Label3", QStringLiteral("CID2："), 448, 16, 40);
  Edit3 = placeControl<QLineEdit>(client, "Edit3", 488, 12, 33, 21);
  Label4 = label(client, "Label4", QStringLiteral("数据："), 365, 48, 42);
  Edit4 = placeControl<QLineEdit>(client, "Edit4", 408, 44, 113, 21);
  Button1 = placeControl<QPushButton>(client, "Button1", 528, 10, 65, 25);
  Button1->setText(QStringLiteral("生成命令"));
  Button2 = placeControl<QPushButton>(client, "Button2", 528, 42, 65, 25);
  Button2->setText(QStringLiteral("发送"));
  Button2->setEnabled(false);
  Label1 = label(client, "Label1", QStringLiteral("地址："), 616, 16, 50);
  Edit1 = placeControl<QLineEdit>(client, "Edit1", 672, 12, 41, 21);
  Edit1->setText(QStringLiteral("1"));
  Label79 = label(client, "Label79", QStringLiteral("协议信息："), 768, 16, 89);
  Memo1 = new TLogView(client, kMemoMaxLines);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(600, 40, 433, 577);
  actionSaveLog = new QAction(QStringLiteral("保存协议信息…"), Memo1);
  actionSaveLog->setObjectName(QStringLiteral("actionSaveLog"));
  Memo1->addAction(actionSaveLog);
  connect(actionSaveLog, &QAction::triggered, this, [this] { guarded([this] { saveLog(); }); });
  // off by default: the lines as built and received
  auto *stamps = new QAction(QStringLiteral("显示时间和方向"), Memo1);
  stamps->setObjectName(QStringLiteral("actionLogStamps"));
  stamps->setCheckable(true);
  Memo1->addAction(stamps);
  connect(stamps, &QAction::toggled, Memo1, &TLogView::setShowStamps);
  saveLogPath = [] {
    return AskSaveFileName(QStringLiteral("保存协议信息"), QStringLiteral("协议信息.txt"),
                           QStringLiteral("文本文件 (*.txt);;所有文件 (*)"));
  };
  Button4 = placeControl<QPushButton>(client, "Button4", 616, 624, 97, 25);
  Button4->setText(QStringLiteral("清除协议信息"));
  Button3 = placeControl<QPushButton>(client, "Button3", 912, 624, 73, 25);
  Button3->setText(QStringLiteral("关闭"));
  Button23 = placeControl<QPushButton>(client, "Button23", 928, 10, 75, 25);
  Button23->setText(QStringLiteral("读系统状态"));
  Button23->hide();

  PageControl1 = placeControl<QTabWidget>(client, "PageControl1", 8, 80, 585, 585);
  buildPages();
  PageControl1->setCurrentIndex(2);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setFixedHeight(kStatusBarHeight);
  StatusBar1->setSizeGripEnabled(false);
  const int widths[3] = {500, 300, 0};
  for (int i = 0; i < 3; ++i) {
    auto *panel = new QLabel(StatusBar1);
    panel->setObjectName(QStringLiteral("Panel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (widths[i]) panel->setFixedWidth(widths[i]);
    StatusBar1->addWidget(panel, widths[i] ? 0 : 1);
    StatusPanels[i] = panel;
  }
  setStatusBar(StatusBar1);
  StatusPanels[2]->setToolTip(clockzone::heading());  // the clock's zone, named
  installEventFilter(this);  // narrower than the design, the status bar's panels shrink

  onButton(Button1, &TForm1::Button1Click);
  onButton(Button2, &TForm1::Button2Click);
  onButton(Button3, &TForm1::Button3Click);
  onButton(Button4, &TForm1::Button4Click);
  onButton(Button23, &TForm1::Button23Click);
  auto *esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  esc->setObjectName(QStringLiteral("ShortcutCancelChain"));
  connect(esc, &QShortcut::activated, this, [this] { guarded([this] { cancelChain(); }); });
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] { guarded([this] { PageControl1Change(); }); });

  Timer1 = new SteadyTimer(QStringLiteral("Timer1"), 1000, false, this);
  Timer2 = new SteadyTimer(QStringLiteral("Timer2"), status::kPollPeriodMs, true, this);
  Timer3 = new SteadyTimer(QStringLiteral("Timer3"), 10000, true, this);
  Timer4 = new SteadyTimer(QStringLiteral("Timer4"), 100, true, this);
  Timer5 = new SteadyTimer(QStringLiteral("Timer5"), 500, false, this);
  Timer6 = new SteadyTimer(QStringLiteral("Timer6"), 100, true, this);
  onTimer(Timer1, [this] { Timer1Timer(); });
  createExchange();
  onTimer(Timer2, [this] { Timer2Timer(); });
  onTimer(Timer3, [this] { Timer3Timer(); });
  onTimer(Timer6, [this] { Timer6Timer(); });
  onTimer(Timer4, [this] { Timer4Timer(); });
  onTimer(Timer5, [this] { Timer5Timer(); });

  // after the link handler: panel 0 shows the link as it was opened
  connect(Button29, &QPushButton::clicked, this, [this] { rememberLink(); });
  addExportAction(StringGrid1, "actionExportEnergy", QStringLiteral("用电量信息.csv"));
  addExportAction(ValueListEditor1, "actionExportRecords", QStringLiteral("历史记录.csv"));
  using F = Follower;
  followers_ = {{PageControl1, PageControl1->geometry(), F::WiderAsPages | F::Taller},
                {Label79, Label79->geometry(), F::RightOfPages},
                {Memo1, Memo1->geometry(), F::RightOfPages | F::WiderAsLog | F::Taller},
                {Button4, Button4->geometry(), F::RightOfPages | F::Below},
                {Button3, Button3->geometry(), F::RightOfPages | F::Below},
                // the history list shows more records in a larger page; its buttons stay beside it
                {ValueListEditor1, ValueListEditor1->geometry(), F::WiderAsPages | F::Taller}};
  for (QWidget *w : {static_cast<QWidget *>(LabelRecordCount), TabSheet4->findChild<QWidget *>(QStringLiteral("Button146")),
                     TabSheet4->findChild<QWidget *>(QStringLiteral("Button40")),
                     TabSheet4->findChild<QWidget *>(QStringLiteral("Button41"))})
    if (w) followers_.push_back({w, w->geometry(), F::RightOfPages});
  buildMonitorPages();
  // ticked, polling starts at once, as when the status page is shown
  connect(CheckBoxMonitor, &QCheckBox::toggled, this, [this](bool on) {
    if (on) guarded([this] { Timer2Timer(); });
  });
  // Below the design size the client area keeps it, in a scroll area: nothing is cut off.
  takeCentralWidget();
  client->setMinimumSize(kDesignClientWidth, kDesignClientHeight);
  auto *scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("ClientScroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setWidget(client);
  setCentralWidget(scroll);
  clientArea_ = client;
  client->installEventFilter(this);
  showOperatorPanel();
}

// The design size where the screen has room for it with a title bar and borders, smaller
// (not below the minimum) where it has not; the frame's corner on the screen, 170 pixels
// from its left edge where the width allows.
QRect TForm1::initialGeometry(const QRect &available) {
  const QSize design(kDesignClientWidth, kDesignClientHeight + kStatusBarHeight);
  const QSize room = available.size() - QSize(kFrameAllowanceWidth, kFrameAllowanceHeight);
  QSize size = design.boundedTo(room).expandedTo(QSize(kMinimumWidth, kMinimumHeight));
  if (size.height() < design.height()) size.setWidth(std::max(size.width(), std::min(design.width() + kScrollBarAllowance, room.width())));
  const int x = std::max(available.left(), std::min(available.left() + 170, available.right() + 1 -
                                                                                 kFrameAllowanceWidth - size.width()));
  return QRect(QPoint(x, available.top()), size);
}

// ---------------------------------------------------------------- resizing

// Larger than the design size, the page area and the log share the extra width and both
// take the extra height; the buttons under the log move with it. At the design size (or
// smaller) every control keeps its designed place.
void TForm1::growWithClientArea(QSize client) {
  const int dx = std::max(0, client.width() - kDesignClientWidth);
  const int dy = std::max(0, client.height() - kDesignClientHeight);
  const int pageDx = dx / 2, logDx = dx - pageDx;
  for (const Follower &f : followers_) {
    QRect r = f.design;
    if (f.how & Follower::RightOfPages) r.translate(pageDx, 0);
    if (f.how & Follower::Below) r.translate(0, dy);
    if (f.how & Follower::WiderAsPages) r.setWidth(r.width() + pageDx);
    if (f.how & Follower::WiderAsLog) r.setWidth(r.width() + logDx);
    if (f.how & Follower::Taller) r.setHeight(r.height() + dy);
    if (f.control->geometry() != r) f.control->setGeometry(r);
  }
}

// Panels 0 and 1 keep their design widths (500 and 300) down to the design width of the
// window; narrower, all three shrink in proportion, so the bar never reaches beyond it.
void TForm1::fitStatusPanels(int windowWidth) {
  const int barWidth = windowWidth;
  const double share = std::min(1.0, double(barWidth) / kDesignClientWidth);
  const int widths[2] = {500, 300};
  for (int i = 0; i < 2; ++i)
    if (StatusPanels[i]->width() != int(widths[i] * share)) StatusPanels[i]->setFixedWidth(int(widths[i] * share));
}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
  if (watched == clientArea_ && event->type() == QEvent::Resize)
    growWithClientArea(static_cast<QResizeEvent *>(event)->size());
  if (watched == this && event->type() == QEvent::Resize)
    fitStatusPanels(static_cast<QResizeEvent *>(event)->size().width());
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::buildPages() {
  const char *names[5] = {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4", "TabSheet5"};
  const QString captions[5] = {QStringLiteral("参数1设置"), QStringLiteral("系统状态"), QStringLiteral("参数2设置"),
                               QStringLiteral("历史记录"), QStringLiteral("用电量信息")};
  QWidget **sheets[5] = {&TabSheet1, &TabSheet2, &TabSheet3, &TabSheet4, &TabSheet5};
  for (int i = 0; i < 5; ++i) {
    *sheets[i] = new QWidget;
    (*sheets[i])->setObjectName(QString::fromLatin1(names[i]));
    PageControl1->addTab(*sheets[i], captions[i]);
  }
  buildPage1();
  buildParamFileActions();
  buildPage2();
  buildStatusPage();

  StringGrid1 = new TStringGrid(TabSheet5, QStringLiteral("StringGrid1"), 5, 17, 1, 25);
  StringGrid1->setGeometry(8, 8, 465, 432);
  StringGrid1->SetColWidths({48, 101, 104, 106, 99});
  buildRecordsPage();
  buildEnergyPage();
}

// ---------------------------------------------------------------- start-up and close

void TForm1::FormCreate() {
  page1Refresh = false;
  fillPortList();
  if (ComboBox1->count() > 0) ComboBox1->setCurrentIndex(0);
  Comm1->SetCommName(ComboBox1->currentText());

  const QString energyHead[5] = {QStringLiteral("时间"), QStringLiteral("用户1"), QStringLiteral("用户2"),
                                 QStringLiteral("用户3"), QStringLiteral("用户4")};
  for (int c = 0; c < 5; ++c) StringGrid1->SetCells(c, 0, energyHead[c]);
  for (int m = 1; m <= 12; ++m) StringGrid1->SetCells(0, m, QStringLiteral("%1月").arg(m));
  for (int row = 13; row <= 16; ++row) StringGrid1->SetCells(0, row, energy::totalTitle(row));

  for (int c = 0; c < 7; ++c) StringGrid2->SetCells(c, 0, status::moduleGridHeadings()[c]);
  for (int n = 1; n <= 12; ++n) StringGrid2->SetCells(0, n, QStringLiteral("模块%1").arg(n));
  resetModuleTable();

  lanConnected = serialLink = linkOpen = false;
}

// The window closes its link itself: nothing it says while closing is an error.
void TForm1::FormClose() {
  if (closed_) return;
  closed_ = true;
  CloseDialogs();  // no box outlives the window
  forgetReconnect();
  closeLink();
  finishWritesInBackground();  // no file is left half-written
}

void TForm1::closeEvent(QCloseEvent *e) {
  FormClose();
  e->accept();
}

void TForm1::Button3Click() { close(); }

void TForm1::Button4Click() { Memo1->clear(); }

// "读系统状态": hidden, kept for service use.
void TForm1::Button23Click() { send(proto::Command::SystemStatusService, {}, CidCase::Lower); }

// ---------------------------------------------------------------- log and status bar

void TForm1::log(const QString &line, LogDirection direction) { Memo1->append(line, direction); }

void TForm1::logFrame(std::string_view chars, LogDirection direction) { Memo1->appendFrame(chars, direction); }

void TForm1::saveLog() {
  const QString path = saveLogPath ? saveLogPath() : QString();
  if (path.isEmpty()) return;
  Memo1->flush();
  // a copy of the lines is written out on a worker thread: the log and the links go on
  auto lines = std::make_shared<const LogStore>(Memo1->store());
  const bool stamps = Memo1->showStamps();  // the file as the log shows it
  writeWholeFileLater(
      path,
      [lines, stamps](QIODevice &out) {
        for (int i = 0; i < lines->size(); ++i) {
          const std::string line = lines->line(i, stamps);
          out.write(line.data(), static_cast<qint64>(line.size()));
          out.putChar('\n');
        }
        return QString();
      },
      this,
      [path](const QString &error) {
        if (!error.isEmpty())
          ShowMessageBox(QStringLiteral("保存协议信息失败：%1\n%2").arg(QDir::toNativeSeparators(path), error),
                         QStringLiteral("error"));
      });
}

QString TForm1::panelText(int panel) const {
  return panel >= 0 && panel < 3 ? StatusPanels[panel]->text() : QString();
}

void TForm1::setPanelText(int panel, const QString &text) {
  if (panel >= 0 && panel < 3) showText(StatusPanels[panel], text);
}

// ---------------------------------------------------------------- timers

void TForm1::Timer1Timer() {
  Timer1->setEnabled(false);  // once per unanswered send; the next send starts it afresh
  exchange_->timerExpired();  // requestTimedOut follows
}

// No answer came in time: the request's chain ends, and the exchange brings the line back in
// step before anything goes out again (its late answer, when it comes, is not decoded).
void TForm1::requestTimedOut(const Exchange::Request &r) {
  pendingCid2 = 0;
  if (r.tag == StatusPoll) {
    pollBroken();
  } else {
    Timer2->setInterval(status::kPollPeriodMs);
    Timer2->setEnabled(true);
  }
  setPanelText(1, QStringLiteral("通讯超时"));
  // a chain's step is sent once more before the chain stops (logged as it goes out)
  if (isChain(r.tag) && r.tries == 0 && r.tag != cancelledChain_) {
    log(QStringLiteral("通讯超时：重发一次"));
    exchange_->retry(r);
    return;
  }
  endChain(r.tag, ChainStop::TimeOut);
}

void TForm1::cancelChain() {
  int tag = OperatorRequest;
  if (page1Refresh || exchange_->has(Page1Chain)) tag = Page1Chain;
  else if (page2Refresh || exchange_->has(Page2Chain)) tag = Page2Chain;
  else if (exchange_->has(RecordsChain)) tag = RecordsChain;
  else if (paramFileRun_) tag = ParamFileChain;
  if (tag == OperatorRequest) return;
  exchange_->dropWaiting(tag);
  cancelledChain_ = tag;
  endChain(tag, ChainStop::Cancelled);
}

void TForm1::Timer2Timer() {
  Timer3->setEnabled(false);
  Timer3->setInterval(10000);
  Timer3->setEnabled(true);
  Timer2->setEnabled(false);
  if (!linkOpen) {
    Timer2->setInterval(status::kPollPeriodMs);
    Timer2->setEnabled(true);
    return;
  }
  // the status page polls while it is shown, or on any page with "后台监视" ticked
  if (pollingWanted()) {
    pollTick();
  } else {
    statusPolling = false;
  }
}

// A polling cycle starts unless one is still on its way (it re-arms the tick when it ends).
// Polls wait behind the operator's requests and nobody is asked about them.
void TForm1::pollTick() {
  if (exchange_->has(StatusPoll)) return;
  statusPolling = true;
  pollCycleClock_.start();
  SendingAs poll(*this, StatusPoll, 0, true, true);
  mcu_read_dystatus();
}

void TForm1::Timer3Timer() {
  Timer2->setInterval(status::kPollPeriodMs);
  Timer2->setEnabled(true);
}

void TForm1::PageControl1Change() { Timer2Timer(); }

void TForm1::Timer6Timer() {
  showFreshness();
  const QDateTime t = clockNow();
  const QDate d = t.date();
  const QTime tm = t.time();
  clockSnapshot.wYear = static_cast<uint16_t>(d.year());
  clockSnapshot.wMonth = static_cast<uint16_t>(d.month());
  clockSnapshot.wDayOfWeek = static_cast<uint16_t>(d.dayOfWeek() % 7);  // 0 = Sunday
  clockSnapshot.wDay = static_cast<uint16_t>(d.day());
  clockSnapshot.wHour = static_cast<uint16_t>(tm.hour());
  clockSnapshot.wMinute = static_cast<uint16_t>(tm.minute());
  clockSnapshot.wSecond = static_cast<uint16_t>(tm.second());
  clockSnapshot.wMilliseconds = static_cast<uint16_t>(tm.msec());
  auto two = [](int v) { return proto::straddzero(QString::number(v), 2); };
  setPanelText(2, proto::straddzero(QString::number(clockSnapshot.wYear), 4) + QLatin1Char('-') +
                      two(clockSnapshot.wMonth) + QLatin1Char('-') + two(clockSnapshot.wDay) + QLatin1Char(' ') +
                      two(clockSnapshot.wHour) + QLatin1Char(':') + two(clockSnapshot.wMinute) +
                      QLatin1Char(':') + two(clockSnapshot.wSecond));
  updateOperatorPanel();
}

// UTC + 8 hours, the date carried with the hour
QDateTime TForm1::clockNow() const { return clockzone::at(clockSource().toMSecsSinceEpoch()); }
