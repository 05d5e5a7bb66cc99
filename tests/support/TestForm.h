// The window as tests, fuzzers and benches drive it: a TForm1 with the few parts of its own
// state they may read or set made reachable. Everything else of the window they reach as the
// operator does, through its controls and links. The list below is the whole of that access:
// a test that needs more adds it here, in its group.
#pragma once

#include "window/Unit1.h"

class TestForm : public TForm1 {
 public:
  using TForm1::TForm1;

  // ---- controls, by the names they are also found by
  using TForm1::Button1;
  using TForm1::Button2;
  using TForm1::Button3;
  using TForm1::Button4;
  using TForm1::Button23;
  using TForm1::Button29;
  using TForm1::Button114;
  using TForm1::Button115;
  using TForm1::ButtonRecord;
  using TForm1::CheckBoxAlarmSound;
  using TForm1::ComboBox1;
  using TForm1::ComboBox2;
  using TForm1::ComboBox31;
  using TForm1::ComboBoxTrendWindow;
  using TForm1::Edit1;
  using TForm1::Edit2;
  using TForm1::Edit3;
  using TForm1::Edit4;
  using TForm1::Edit12;
  using TForm1::Edit13;
  using TForm1::Label5;
  using TForm1::Label6;
  using TForm1::Label41;
  using TForm1::Label68;
  using TForm1::Memo1;
  using TForm1::PageControl1;
  using TForm1::RadioButton1;
  using TForm1::RadioButton2;
  using TForm1::StatusPanels;
  using TForm1::StringGrid1;
  using TForm1::StringGrid2;
  using TForm1::TabSheet2;
  using TForm1::TabSheet3;
  using TForm1::TabSheetTrend;
  using TForm1::AlarmJournal;
  using TForm1::TrendChart;
  using TForm1::ValueListEditor1;
  using TForm1::actionRecordCsv;
  using TForm1::actionSaveLog;
  using TForm1::paintPacer;
  QWidget *clientArea() const { return clientArea_; }

  // ---- the timers: fired by hand, or looked at
  using TForm1::Timer1;  // the request's time-out
  using TForm1::Timer2;  // status polling
  using TForm1::Timer3;  // the polling cycle's restart
  using TForm1::Timer5;  // the module on/off delay
  using TForm1::Timer6;  // the clock

  // ---- the links: the serial component and the LAN socket, and what the window thinks of them
  using TForm1::Comm1;
  using TForm1::ClientSocket1;
  using TForm1::linkOpen;
  using TForm1::serialLink;
  using TForm1::lanConnected;

  // ---- requests and answers: the frame built last, the exchange, a chunk as a link hands it
  using TForm1::txBuffer;
  using TForm1::txLength;
  using TForm1::pendingCid1;
  using TForm1::pendingCid2;
  bool lastBuildOk() const { return lastBuildOk_; }
  Exchange &exchange() { return *exchange_; }
  using TForm1::receiveChunk;
  using TForm1::payload;
  using TForm1::dataAvailable;

  // ---- chains and polling
  using TForm1::page1Refresh;
  using TForm1::page1Position;
  using TForm1::page2Refresh;
  using TForm1::page2Position;
  using TForm1::recordIndex;
  using TForm1::cancelChain;
  using TForm1::statusPolling;
  using TForm1::moduleTable;
  using TForm1::currentModule;

  // ---- the log and the status bar
  using TForm1::log;
  using TForm1::logFrame;
  using TForm1::kMemoMaxLines;
  using TForm1::panelText;
  using TForm1::setPanelText;
  using TForm1::saveLogPath;  // the file dialog of "保存协议信息…"

  // ---- the clock (UTC source) and what the controller's clock is set to
  using TForm1::clockSource;
  using TForm1::clockSnapshot;

  // ---- the journal, trends and recording: their clock, the alert, the hooks they are fed by
  using TForm1::monitorClock;
  using TForm1::alarmAlert;
  using TForm1::backgroundMonitoring;
  using TForm1::recording;
  using TForm1::monitorStatusShown;
  using TForm1::monitorModulesShown;
  using TForm1::monitorLinkEvent;

  // ---- the window's size on the screen
  using TForm1::initialGeometry;
  using TForm1::kDesignClientWidth;
  using TForm1::kDesignClientHeight;
  using TForm1::kMinimumWidth;
  using TForm1::kMinimumHeight;
  using TForm1::kStatusBarHeight;
  using TForm1::kFrameAllowanceWidth;
  using TForm1::kFrameAllowanceHeight;
};
