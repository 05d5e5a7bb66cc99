// TForm1: the one window of the program. It holds the link controls, the protocol edits,
// the protocol log, the working pages and the status bar. Its public part is the named entry
// points (handlers, chain reads, decoders); the rest is its own. The methods are defined by
// what they do:
//   window/   start-up, close, log, status bar, timers, clock (Unit1.cpp), the request
//             builder and sender (Request.cpp), answer dispatch (Receive.cpp), the links
//             (Links.cpp), status panel 0 (OperatorPanel.cpp), conversions with their
//             messages (FormConversions.cpp), table exports (TableExport.cpp)
//   pages/    the working pages, the journal and the trends
#pragma once

#include <QDateTime>
#include <QMainWindow>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <QElapsedTimer>

#include "pages/EnergyRows.h"
#include "pages/Freshness.h"
#include "pages/ParamHandlers.h"
#include "protocol/Status.h"
#include "pages/StatusRows.h"
#include "link/Exchange.h"
#include "link/Reconnect.h"
#include "protocol/Commands.h"
#include "protocol/Frame.h"
#include "window/OperatorPanel.h"
#include "window/ProtocolLog.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QAction;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTableView;
class QTableWidget;
class TrendChartView;
class MonitorState;
class QStatusBar;
class QTcpSocket;
class TComm;
class Link;
class SerialLink;
class LanLink;
class TLogView;
class PaintPacer;
class TShape;
class TStringGrid;
class TValueListEditor;
class SteadyTimer;
struct ParamRow;
struct ParamRowShape;

// The status-bar clock's last reading (UTC + 8 hours), also what the controller clock is set to.
struct ClockSnapshot {
  uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
  uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(QWidget *parent = nullptr);
  ~TForm1() override;
  // A button handler, or a read that a refresh chain calls next.
  using Handler = void (TForm1::*)();
  // Who sends: the operator, a chain, or status polling. Every request carries it to its
  // answer, so a chain goes on only from its own answers.
  enum RequestTag { OperatorRequest, Page1Chain, Page2Chain, RecordsChain, StatusPoll, ParamFileChain };

  // The named entry points: the controls' handlers, the reads a chain calls next and the
  // decoders answers are routed to. Everything else of the window is its own; tests reach it
  // through TestForm (tests/support/TestForm.h).

  // ---- start-up, close, log, status bar, timers (window/)
  void FormCreate();
  void FormClose();
  void Button3Click();  // "清除" the log
  void Button4Click();  // "保存" the log
  void Button23Click();
  void Timer1Timer();  // the request's time-out
  void Timer2Timer();  // the status polling cycle's next status read
  void Timer3Timer();  // restarts the polling cycle when it has stalled
  void Timer6Timer();  // the status-bar clock
  void PageControl1Change();

  // ---- request builder and sender, answer dispatch (window/Request.cpp, window/Receive.cpp)
  void Button1Click();  // "生成命令"
  void Button2Click();  // "发送命令"
  void comm_fenjie(QObject *Sender, int length);
  void mcu_set_option(QObject *Sender);
  // The decoder of a parameter row the design gives no decoder of its own (pages/ParamTable.cpp).
  void paramAnswer(QObject *Sender);
  // Shows the conversion's messages; ok (if given) tells whether the text was a number.
  // detail, when given, is a second line of every message (which box, what it allows).
  int chartofloat(const QString &text, int scale, bool *ok = nullptr, const QString &detail = QString());

  // ---- links (window/Links.cpp)
  void RadioButton1Click();
  void RadioButton2Click();
  void Button29Click();
  void ClientSocket1Connect();
  void ClientSocket1Error(int systemError);
  void Comm1ReceiveData(QObject *Sender, const char *Buffer, uint16_t BufferLength);
  void Comm1RequestHangup(QObject *Sender);

  // ---- system status page and rectifier modules (pages/Status.cpp, pages/Modules.cpp)
#define STATUS_DECLARE_REQUEST(handler, command) void handler();
#define STATUS_DECLARE_DECODER(decoder, answer) void decoder(QObject *Sender);
  STATUS_REQUESTS(STATUS_DECLARE_REQUEST)
  STATUS_DECODERS(STATUS_DECLARE_DECODER)
#undef STATUS_DECLARE_REQUEST
#undef STATUS_DECLARE_DECODER
  void mcu_get_dymostatus();  // the readings of the next fitted module
  void Timer4Timer();         // redraws the module grid from the module table
  void Button21Click();       // "开机"
  void Button22Click();       // "关机"
  void Timer5Timer();         // sends the on/off choice, 500 ms after the click

  // ---- the named handlers and decoders of the parameter pages' rows (pages/ParamHandlers.h)
#define READ_WRITE(read, write) \
  void read();                  \
  void write();
#define READ_ONLY(read) void read();
#define WRITE_ONLY(write) void write();
#define DECODER(decoder) void decoder(QObject *Sender);
#define SHARED_DECODER(decoder)
#define NO_DECODER
#define PARAM_DECLARE_ROW(control, handlers, decoder) handlers decoder
#define PARAM_DECLARE_SHARED(decoder) void decoder(QObject *Sender);
  PARAM_HANDLERS_PAGE1(PARAM_DECLARE_ROW)
  PARAM_HANDLERS_PAGE2(PARAM_DECLARE_ROW)
  PARAM_SHARED_DECODERS(PARAM_DECLARE_SHARED)
#undef READ_WRITE
#undef READ_ONLY
#undef WRITE_ONLY
#undef DECODER
#undef SHARED_DECODER
#undef NO_DECODER
#undef PARAM_DECLARE_ROW
#undef PARAM_DECLARE_SHARED

  // ---- parameter page 1 (pages/Page1.cpp)
  void Button24Click();  // "刷新": the page-1 refresh chain
  void mcu_shaxincs_option();

  // ---- parameter page 2 and the dry contacts (pages/Page2.cpp)
  void Button88Click();  // "刷新": the page-2 refresh chain

  // ---- history records, page "历史记录" (pages/Records.cpp)
  void Button146Click();  // "读记录数"
  void Button40Click();   // "获取记录"
  void Button41Click();   // "清除记录"
  void mcu_read_recordnum(QObject *Sender);
  void mcu_read_record(QObject *Sender);

  // ---- energy statistics, page "用电量信息" (pages/Energy.cpp)
#define ENERGY_DECLARE_TOTAL(button, caption, decoder, command, row) \
  void button##Click();                                           \
  void decoder(QObject *Sender);
  ENERGY_TOTAL_ROWS(ENERGY_DECLARE_TOTAL)
#undef ENERGY_DECLARE_TOTAL
  void Button97Click();  // "获取月份"
  void Read_MonthRecord(QObject *Sender);

  // ---- parameter files, the buttons under page 1's rows (pages/ParamFileActions.cpp)
  void saveParamFile();     // "保存参数文件…"
  void compareParamFile();  // "与参数文件比较…"
  void restoreParamFile();  // "写入参数文件…"

  // ---- alarm journal, trends and recording (pages/Monitor.cpp)
  void ButtonRecordClick();  // starts or stops the recording to CSV (ButtonRecord, actionRecordCsv)

 protected:
  void closeEvent(QCloseEvent *e) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  friend class TestForm;
  friend struct SendingAs;
  friend class MonitorState;

  // ---- controls outside the pages
  QGroupBox *GroupBox1;
  QRadioButton *RadioButton1, *RadioButton2;
  QLabel *Label5, *Label6;
  QComboBox *ComboBox1;
  QLineEdit *Edit12, *Edit13;
  QPushButton *Button29;
  QLabel *Label1, *Label2, *Label3, *Label4, *Label79;
  QLineEdit *Edit1, *Edit2, *Edit3, *Edit4;
  QPushButton *Button1, *Button2, *Button3, *Button4, *Button23;
  TLogView *Memo1;
  QAction *actionSaveLog;  // in Memo1's context menu
  QTabWidget *PageControl1;
  QWidget *TabSheet1, *TabSheet2, *TabSheet3, *TabSheet4, *TabSheet5;
  TStringGrid *StringGrid1, *StringGrid2;
  QStatusBar *StatusBar1;
  PaintPacer *paintPacer;  // the window repaints at most every 20 ms
  std::array<QLabel *, 3> StatusPanels;
  SteadyTimer *Timer1, *Timer2, *Timer3, *Timer4, *Timer5, *Timer6;
  TComm *Comm1;
  QTcpSocket *ClientSocket1;

  // ---- start-up, close, log, status bar, timers (window/)
  // Adds a line to the protocol log; it shows within the log's batch period.
  void log(const QString &line, LogDirection direction = LogDirection::None);
  // the hexadecimal line of a frame's or chunk's characters
  void logFrame(std::string_view chars, LogDirection direction = LogDirection::None);
  // "保存协议信息…": the whole log as UTF-8 text, one line per line, to the file saveLogPath
  // names (a file dialog; tests replace it), by writeWholeFile. No name, no file; a failed
  // or refused save says why.
  void saveLog();
  std::function<QString()> saveLogPath;
  QString panelText(int panel) const;
  void setPanelText(int panel, const QString &text);
  // What every decoder does with a non-zero return code or a short answer: "读错误！！" in the
  // protocol log, or in status panel 2 when toPanel.
  void reportReadError(bool toPanel);
  // Every chain (page-1 and page-2 refresh, history read-out) reports the step it is about to
  // send (position counted from 1) and its length; the status bar shows the progress.
  void chainStep(Chain chain, int position, int length);
  // The status-bar clock's time: UTC + 8 hours.
  QDateTime clockNow() const;
  // The protocol log keeps this many newest lines.
  static constexpr int kMemoMaxLines = 1000000;
  // Source of the UTC time for the clock; tests replace it.
  std::function<QDateTime()> clockSource;
  ClockSnapshot clockSnapshot;

  // ---- parameter files (pages/ParamFileActions.cpp)
  struct ParamFileRun;
  std::unique_ptr<ParamFileRun> paramFileRun_;  // the run under way, if any
  void buildParamFileActions();
  std::unique_ptr<ParamFileRun> openParamFile(const QString &caption);
  void startParamFileRun(std::unique_ptr<ParamFileRun> run);
  void paramFileNext();
  void paramFileAnswer();  // an intact answer of the run's chain
  void paramFileRead();
  void paramFileDone();
  void paramFileStopped(ChainStop why);
  void showParamFileReport(const QString &title, const QStringList &headings, const QList<QStringList> &rows);

  // ---- status panel 0: link, chain progress, recording, last read error (window/OperatorPanel.cpp)
  // A chain cannot go on (time-out, damaged answer, no link open).
  void chainStopped(ChainStop why);
  // The request of chain `tag` (a RequestTag) cannot go on: the chain ends there. Requests of
  // the operator and of polling end nothing.
  void endChain(int tag, ChainStop why);
  // Whether a request of a chain (refresh or record read-out) is on the line or waits.
  bool chainWaiting() const;
  static bool isChain(int tag);  // a RequestTag of a chain
  // Esc: the running chain (refresh or record read-out) goes no further.
  void cancelChain();
  // Settles a chain that has ended and rewrites the panel; runs with the clock.
  void updateOperatorPanel();
  void showOperatorPanel();
  void rememberLink();
  ChainProgress chainProgress_;
  QString linkWhere_;
  QString lastReadError_;

  // ---- exports and resizing (window/)
  // Writes a table's texts as shown to a CSV file the operator chooses.
  void exportTable(const QTableWidget *table, const QString &suggestedName);
  void addExportAction(QTableWidget *table, const char *name, const QString &suggestedName);
  // An entry of the owner's context menu whose handler runs under the error display.
  QAction *addMenuAction(QWidget *owner, const QString &text, const char *name, std::function<void()> what);
  // The client area's size at the design size of the window; larger, the log and pages grow.
  static constexpr int kDesignClientWidth = 1062, kDesignClientHeight = 705;
  // Smaller, down to the window's minimum, the client area keeps the design size and scrolls.
  // The minimum leaves an 800×600 screen room for the frame and a taskbar.
  static constexpr int kMinimumWidth = 640, kMinimumHeight = 480, kStatusBarHeight = 33;
  // The vertical scroll bar's width, where the height is short of the design's.
  static constexpr int kScrollBarAllowance = 16;
  // Room left on the screen for the title bar and borders around the window.
  static constexpr int kFrameAllowanceWidth = 16, kFrameAllowanceHeight = 40;
  // Where the window opens on a screen with this free area: the frame's top-left corner and
  // the size within the frame. Shorter than the design, it is wider by the vertical scroll
  // bar (where the screen has room), so that no horizontal one is needed.
  static QRect initialGeometry(const QRect &available);
  void growWithClientArea(QSize client);
  void fitStatusPanels(int barWidth);
  // A control that follows the client area's growth beyond the design size.
  struct Follower {
    enum How { RightOfPages = 1, Below = 2, WiderAsPages = 4, WiderAsLog = 8, Taller = 16 };
    QWidget *control;
    QRect design;
    int how;
  };
  std::vector<Follower> followers_;
  QWidget *clientArea_ = nullptr;  // holds the window's controls, in the central scroll area
  void buildWindow();
  void buildPages();
  void buildLinkGroup();
  // A button's or a timer's handler, run under the error display.
  void onButton(QPushButton *button, void (TForm1::*handler)());
  void onTimer(SteadyTimer *timer, std::function<void()> handler);
  bool closed_ = false;

  // ---- request builder and sender (window/Request.cpp)
  // The window's own requests are values: the command (from the catalogue) and its data,
  // sent as sending_ says straight to the exchange. The builder boxes show what went out
  // (the CIDs in the case the design writes them); nothing is read back from them. False
  // when nothing was sent (no valid address: a box for the operator, the status bar else).
  enum class CidCase { Upper, Lower };
  bool send(proto::Command command, const std::vector<uint8_t> &data = {}, CidCase shown = CidCase::Upper);
  bool sendPair(uint8_t cid1, uint8_t cid2, const std::vector<uint8_t> &data, CidCase shown);
  // "生成命令": the operator's boxes read and built.
  bool buildRequest();
  std::optional<uint8_t> addressFromBox();
  bool buildFrame(uint8_t address, uint8_t cid1, uint8_t cid2, const std::vector<uint8_t> &data);
  void refuseBuild(const QString &why = QStringLiteral("数据不对"));
  bool lastBuildOk_ = false;
  // The CID1/CID2 of the last request built. The answer on the line is decoded by its own
  // request's, which the exchange keeps.
  int pendingCid1 = 0, pendingCid2 = 0;
  char txBuffer[proto::kBufferSize] = {};
  int txLength = 0;
  // What the next request is sent as; a chain's continuation is sent as its answer was.
  struct Sending {
    int tag = OperatorRequest;
    int context = 0;
    bool automatic = false;  // nobody clicked: no message box, the status bar says why
    bool background = false;
  };
  Sending sending_;
  QString buildError_;  // why the last automatic build was refused

  // ---- the exchange and answer dispatch (window/Receive.cpp)
  void createExchange();
  void decodeAnswer(const Exchange::Request &r, std::string_view chunk, qint64 leftOut);
  void strayChunk(std::string_view chunk, qint64 leftOut, Exchange::Stray kind);
  void requestTimedOut(const Exchange::Request &r);
  void refuseDamaged();
  std::unique_ptr<Exchange> exchange_;
  // The request whose answer is being decoded, or nullptr.
  const Exchange::Request *answering_ = nullptr;
  int answeringTag() const;
  int answeringContext() const;
  // Whether the answer being decoded carries chain `tag` on: the chain's own answers do; so
  // does any answer but a poll's while the chain waits for nothing (a stopped chain resumes
  // from a later read of its row). An answer never carries on a chain that has a request of
  // its own on the line or waiting.
  bool carriesOn(int tag) const;
  int cancelledChain_ = OperatorRequest;  // a chain Esc stopped, until it is started again
  // One chunk from a link, handed to the exchange. A chunk longer than any answer goes on
  // kept to its first bytes, with the count of the rest: it is logged and refused like a
  // damaged frame.
  void receiveChunk(QObject *Sender, const char *data, qsizetype length);
  char rxBuffer[proto::kBufferSize] = {};
  uint8_t payload[proto::kBufferSize] = {};
  int payloadWritten = 0;  // payload bytes the last frame wrote
  uint8_t returnCode() const { return payload[2]; }
  uint8_t dataByte(int k) const { return payload[4 + k]; }
  // Data bytes the last answer really carried: its length byte, bounded by what it held.
  int dataAvailable() const;
  // True when the last answer was accepted and carries at least `bytes` data bytes; otherwise
  // reports "读错误！！" (in status panel 2 when errorToPanel): nothing is decoded from what an
  // earlier answer left in the payload.
  bool answerHolds(int bytes, bool errorToPanel);

  // ---- links (window/Links.cpp)
  void fillPortList();
  void createComm1();
  void createLanLink();
  void showLinkOpen();
  void closeLink();
  void openLink(Link *link);
  bool linkOpen = false, serialLink = false, lanConnected = false;
  SerialLink *serialLink_ = nullptr;
  LanLink *lanLink_ = nullptr;
  Link *link_ = nullptr;  // the open one
  // Reconnecting after a drop the operator did not ask for, with "自动重连" ticked: tries with
  // back-off (Reconnect) until the controller answers on a new link or the operator stops it
  // (the link button, or unticking).
  void linkLost(const QString &what);
  void reconnectTry();
  void reconnectOpened();
  void stopReconnecting();
  void forgetReconnect();
  // An intact answer came on the open link: a reconnect is done.
  void linkAnswered();
  QCheckBox *CheckBoxAutoReconnect = nullptr;
  SteadyTimer *reconnectTimer_ = nullptr;
  Reconnect reconnect_;
  Link *reconnectLink_ = nullptr;  // the link to open again, while reconnecting
  QString reconnectNote_;  // for panel 0

  // ---- system status page and rectifier modules (pages/Status.cpp, pages/Modules.cpp)
  QLabel *Label41, *Label68;
  TShape *Shape9;
  QComboBox *ComboBox31;
  QPushButton *Button114, *Button115;
  bool statusPolling = false;  // the polling cycle may go on to its next request
  status::ModuleTable moduleTable;
  int currentModule = 0;        // the module whose readings were asked for last, 0 for none
  bool moduleSwitchOn = false;  // the on/off buttons' choice, sent 500 ms later
  int moduleSwitchNumber = 0;   // the module it is for (as clicked), 0 for none
  void pollTick();
  void buildStatusPage();
  void buildModuleControls();
  void resetModuleTable();
  void statusDecode(StatusAnswer answer);
  void statusShow(StatusAnswer answer);
  void pollBroken();
  QElapsedTimer pollCycleClock_;  // since the polling cycle under way started
  void moduleListDecode();
  void offerModules(const QStringList &modules);
  void moduleReadingsDecode();
  void moduleSwitch(bool on);
  // Live or stale: lamps grey, boxes disabled and grid rows greyed while nothing current is
  // known; the clock's tick looks.
  void showFreshness();
  void greyStatusPage();
  bool statusPagePolls() const;
  bool pollingWanted() const;  // the status page shown, or "后台监视" ticked
  StatusFreshness freshness_;
  QElapsedTimer freshnessClock_;
  bool statusShownLive_ = false;
  QLabel *LabelLastAnswer = nullptr;
  QDateTime lastAnswerAt_;    // of the last status or AC answer shown; none since the operator opened the link
  bool linkDropped_ = false;  // the link went away without the operator closing it
  void showLastAnswer();
  std::array<bool, status::kModules + 1> gridRowKnown_{};
  std::vector<QLineEdit *> statusBoxes_;  // by row of status::measurements()
  std::vector<TShape *> statusLamps_;     // by row of status::lamps()
  std::array<std::optional<status::ModuleRecord>, status::kModules + 1> gridShown_;  // as the grid shows it

  // ---- what both parameter pages do with a row (pages/ParamTable.cpp)
  using RowAction = void (TForm1::*)(int row);
  QWidget *placeParamRow(QWidget *page, const ParamRow &row, int x, int y, const ParamRowShape &shape,
                         RowAction read, RowAction write, int index);
  // Shows the answer in the control; false (with the error reported) when it is no good.
  bool paramDecode(const ParamRow &row, QWidget *control);
  void paramWrite(const ParamRow &row, QWidget *control);

  // ---- parameter page 1: rows by their index in the page's table (pages/Page1.cpp)
  void buildPage1();
  void page1Read(int row);
  void page1Write(int row);
  void page1Decode(int row);
  void page1SetClock();
  std::vector<QWidget *> page1Controls_;
  bool page1Refresh = false;
  int page1Position = 0;

  // ---- parameter page 2: rows by their index in the page's table (pages/Page2.cpp)
  void buildPage2();
  void page2Read(int row);
  void page2Write(int row);
  void page2Decode(int row);
  void page2DecodeContact(bool type);
  // After a good answer at a step: the next read of the page-2 refresh, or its end.
  void page2Continue(int step);
  std::vector<QWidget *> page2Controls_;
  bool page2Refresh = false;
  int page2Position = 0;  // the contact (1-4) of the last dry-contact read

  // ---- history records (pages/Records.cpp)
  void buildRecordsPage();
  void requestRecord();
  void startRecordReadOut();
  TValueListEditor *ValueListEditor1;
  QLabel *LabelRecordCount = nullptr;
  int recordIndex = 0;  // the next record to request: count - 1 after "读记录数", then down to 0
  int recordsRead = 0;  // the read-out's position, counted from 1
  int recordCount = 0;  // the requests the read-out makes in all
  bool recordCountKnown_ = false;  // "读记录数" answered on this link
  bool fetchAfterCount_ = false;   // "获取记录" waits for the count it asked for

  // ---- energy statistics (pages/Energy.cpp)
  void buildEnergyPage();
  void energyShowUsers(int row, int firstFigure, int firstPercent);
  void energyShowTotals(int row);
  QComboBox *ComboBox2;

  // ---- alarm journal, trends and recording (pages/Monitor.cpp)
  void buildMonitorPages();
  // "后台监视" is ticked: status polling goes on whichever page is shown.
  bool backgroundMonitoring() const;
  // Hooks: a status or AC answer has been shown (boxes, lamps, state texts); a polling cycle
  // has read its last module; the link was lost (up false) or is back, with the message that
  // says why. Each feeds the journal, the trends and the recording.
  void monitorStatusShown(StatusAnswer answer);
  void monitorModulesShown();
  void monitorLinkEvent(bool up, const QString &message);
  void monitorStale(bool stale);
  bool recording() const;
  // Panel 0's part on the recording: "记录中", what happened to its file, or why it stopped.
  QString recordingText() const;
  // PC time for the journal, trends and recording, ms since 1970 UTC; tests replace it.
  std::function<qint64()> monitorClock;
  // A new alarm: a beep (when sound, "告警提示音" ticked) and the taskbar entry flashing.
  std::function<void(bool sound)> alarmAlert;
  QCheckBox *CheckBoxMonitor = nullptr;     // "后台监视", unticked at start
  QCheckBox *CheckBoxAlarmSound = nullptr;  // "告警提示音", ticked at start
  QWidget *TabSheetAlarms = nullptr, *TabSheetTrend = nullptr;
  QTableView *AlarmJournal = nullptr;
  TrendChartView *TrendChart = nullptr;
  QComboBox *ComboBoxTrendWindow = nullptr;
  QPushButton *ButtonRecord = nullptr;
  QAction *actionRecordCsv = nullptr;
  MonitorState *monitor_ = nullptr;
};

// Requests made in its scope are sent as `tag` (a chain, polling, the operator), with the
// context their decoder needs; what was in force before comes back when the scope ends.
struct SendingAs {
  SendingAs(TForm1 &form, int tag, int context, bool automatic, bool background = false);
  // As the requests in force are sent, with another context.
  SendingAs(TForm1 &form, int context);
  ~SendingAs();
  SendingAs(const SendingAs &) = delete;
  SendingAs &operator=(const SendingAs &) = delete;

 private:
  TForm1 &form_;
  TForm1::Sending saved_;
};
