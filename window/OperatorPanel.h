// Status panel 0, the operator's panel: which link is open, how far the running chain of
// requests has got (or where and why it stopped), whether a recording runs, and the last read
// error with its time.
// Pure logic: the window feeds it events and shows its text; tests drive it directly.
#pragma once

#include <QString>

// Why a chain stopped before its end.
enum class ChainStop {
  TimeOut,        // no answer within the time-out
  DamagedAnswer,  // the answer failed its checksum or was too long
  ReadError,      // the controller refused the read (non-zero return code) or answered short
  NoLink,         // nothing was sent: no link is open
  LinkClosed,     // the link was closed while the chain ran
  Cancelled,      // the operator pressed Esc
  Interrupted,    // the chain sent no next request, for another reason
};
QString chainStopText(ChainStop why);

// The chains of requests the window runs.
enum class Chain {
  None,     // a single request, outside any chain
  Page1,    // the page-1 refresh
  Page2,    // the page-2 refresh
  Records,  // the history read-out
  ParamFile,  // a parameter file's read-out and writes
};
// The title a chain is shown with: "参数1刷新", "参数2刷新", "读取记录", "参数文件".
QString chainTitle(Chain chain);

// The link as the operator opened it: "未连接", "LAN 127.0.0.1:5001" (then " 连接中…" until
// the connection stands), or "/dev/ttyUSB0 9600". `where` is the part after "LAN " or the
// device and baud rate.
QString linkText(bool linkOpen, bool serialLink, bool lanConnected, const QString &where);

// Progress of the chain of requests that runs (page-1 refresh, page-2 refresh, history
// read-out). A chain reports each step before sending it; it has ended when, after an answer,
// no request is outstanding any more: finished when that was its last step and the answer was
// read, stopped otherwise.
class ChainProgress {
 public:
  enum class Phase { Idle, Running, Finished, Stopped };

  // The chain is about to send step `position` (from 1) of `length`.
  void step(Chain chain, int position, int length);
  // The answer to the current step was a read error (the chain may go on).
  void readError();
  // The chain cannot go on. Outside a chain, a send with no link open is still noted.
  void stop(ChainStop why);
  // A link was opened: whatever was said of the previous link's chains is out of date.
  void linkOpened();
  // Called when events have settled: a running chain with no request outstanding has ended.
  void settle(bool requestOutstanding);

  Phase phase() const { return phase_; }
  QString text() const;

 private:
  Phase phase_ = Phase::Idle;
  Chain chain_ = Chain::None;
  int position_ = 0, length_ = 0;
  bool readErrorAtStep_ = false;
  ChainStop why_ = ChainStop::Interrupted;
};

// The panel's text: the non-empty parts joined with a separator.
QString operatorPanelText(const QString &link, const QString &chain, const QString &recording,
                          const QString &lastReadError);
