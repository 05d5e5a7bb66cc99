#include "window/OperatorPanel.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "window/HandlerSupport.h"
#include "link/Link.h"
#include "window/Unit1.h"

// ---------------------------------------------------------------- texts

QString chainStopText(ChainStop why) {
  switch (why) {
    case ChainStop::TimeOut: return QStringLiteral("通讯超时");
    case ChainStop::DamagedAnswer: return QStringLiteral("应答损坏");
    case ChainStop::ReadError: return QStringLiteral("读错误");
    case ChainStop::NoLink: return QStringLiteral("未打开连接");
    case ChainStop::LinkClosed: return QStringLiteral("连接已关闭");
    case ChainStop::Cancelled: return QStringLiteral("已取消");
    case ChainStop::Interrupted: break;
  }
  return QStringLiteral("中断");
}

QString chainTitle(Chain chain) {
  switch (chain) {
    case Chain::Page1: return QStringLiteral("参数1刷新");
    case Chain::Page2: return QStringLiteral("参数2刷新");
    case Chain::Records: return QStringLiteral("读取记录");
    case Chain::ParamFile: return QStringLiteral("参数文件");
    case Chain::None: break;
  }
  return QString();
}

QString linkText(bool linkOpen, bool serialLink, bool lanConnected, const QString &where) {
  if (!linkOpen) return QStringLiteral("未连接");
  if (serialLink) return where;
  const QString lan = QStringLiteral("LAN ") + where;
  return lanConnected ? lan : lan + QStringLiteral(" 连接中…");
}

QString operatorPanelText(const QString &link, const QString &chain, const QString &recording,
                          const QString &lastReadError) {
  QStringList parts;
  for (const QString &part : {link, chain, recording, lastReadError})
    if (!part.isEmpty()) parts << part;
  return parts.join(QStringLiteral(" | "));
}

// ---------------------------------------------------------------- chain progress

void ChainProgress::step(Chain chain, int position, int length) {
  phase_ = Phase::Running;
  chain_ = chain;
  position_ = position;
  length_ = length;
  readErrorAtStep_ = false;
}

void ChainProgress::readError() {
  if (phase_ == Phase::Running) readErrorAtStep_ = true;
}

void ChainProgress::stop(ChainStop why) {
  if (phase_ == Phase::Running) {
    phase_ = Phase::Stopped;
    why_ = why;
  } else if (why == ChainStop::NoLink) {
    // a single request that went nowhere: say so, outside any chain
    phase_ = Phase::Stopped;
    chain_ = Chain::None;
    why_ = why;
  }
}

void ChainProgress::linkOpened() {
  phase_ = Phase::Idle;
  readErrorAtStep_ = false;
}

void ChainProgress::settle(bool requestOutstanding) {
  if (phase_ != Phase::Running || requestOutstanding) return;
  if (position_ >= length_ && !readErrorAtStep_) {
    phase_ = Phase::Finished;
    return;
  }
  phase_ = Phase::Stopped;
  why_ = readErrorAtStep_ ? ChainStop::ReadError : ChainStop::Interrupted;
}

QString ChainProgress::text() const {
  const QString progress = QStringLiteral("%1/%2").arg(position_).arg(length_);
  switch (phase_) {
    case Phase::Idle: return {};
    case Phase::Running: return chainTitle(chain_) + QLatin1Char(' ') + progress;
    case Phase::Finished: return chainTitle(chain_) + QLatin1Char(' ') + progress + QStringLiteral(" 完成");
    case Phase::Stopped:
      if (chain_ == Chain::None) return QStringLiteral("未发送：") + chainStopText(why_);
      return chainTitle(chain_) + QStringLiteral(" 停在 ") + progress + QStringLiteral("：") + chainStopText(why_);
  }
  return {};
}

// ---------------------------------------------------------------- the window's side

// Called on the exchange path, between an answer and the next request: a chain's start is
// shown at once, its later steps with the clock's next tick, so that laying out the status bar
// never delays the next request.
void TForm1::chainStep(Chain chain, int position, int length) {
  chainProgress_.step(chain, position, length);
  if (position <= 1) showOperatorPanel();
}

void TForm1::reportReadError(bool toPanel) {
  if (toPanel)
    setPanelText(2, QStringLiteral("读错误！！"));  // the clock rewrites it within 100 ms
  else
    log(QStringLiteral("读错误！！"));
  lastReadError_ = QStringLiteral("读错误！！ ") + clockNow().toString(QStringLiteral("HH:mm:ss"));
  chainProgress_.readError();
  showOperatorPanel();
}

void TForm1::chainStopped(ChainStop why) {
  chainProgress_.stop(why);
  showOperatorPanel();
}

bool TForm1::isChain(int tag) {
  return tag == Page1Chain || tag == Page2Chain || tag == RecordsChain || tag == ParamFileChain;
}

bool TForm1::chainWaiting() const {
  return exchange_->has(Page1Chain) || exchange_->has(Page2Chain) || exchange_->has(RecordsChain) ||
         exchange_->has(ParamFileChain);
}

void TForm1::endChain(int tag, ChainStop why) {
  switch (tag) {
    case Page1Chain: page1Refresh = false; break;
    case Page2Chain:
      // As after a read error, the page-2 refresh stays wanted after a time-out or a damaged
      // answer: the next good read of one of its steps carries it on from there.
      if (why != ChainStop::TimeOut && why != ChainStop::DamagedAnswer) page2Refresh = false;
      break;
    case RecordsChain: break;
    case ParamFileChain:
      chainStopped(why);
      paramFileStopped(why);
      return;
    default: return;
  }
  chainStopped(why);
}

// Runs with the clock, when no handler is half-way: a running chain with no request
// outstanding has ended.
void TForm1::updateOperatorPanel() {
  chainProgress_.settle(chainWaiting());
  showOperatorPanel();
}

void TForm1::showOperatorPanel() {
  QString link = linkText(linkOpen, serialLink, lanConnected, linkWhere_);
  if (!reconnectNote_.isEmpty()) link += QLatin1Char(' ') + reconnectNote_;
  const QString text = operatorPanelText(link, chainProgress_.text(), recordingText(), lastReadError_);
  if (text == panelText(0)) return;
  setPanelText(0, text);
  StatusPanels[0]->setToolTip(text);  // the whole text, should the panel be too narrow for it
}

// After "OPEN"/"COLSE": the link as it was opened, kept while it is open.
void TForm1::rememberLink() {
  if (linkOpen && link_) linkWhere_ = link_->where();
  showOperatorPanel();
}
