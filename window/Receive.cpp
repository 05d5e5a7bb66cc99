// Every chunk from a link: paired into the decoded payload, logged, checked, dispatched.
#include <cstring>

#include "pages/ParamBoxState.h"
#include "protocol/Answer.h"
#include "protocol/Conversions.h"
#include "protocol/Frame.h"
#include "window/Routing.h"
#include "window/Unit1.h"
#include "window/HandlerSupport.h"
#include "link/Link.h"

namespace {
// A chunk's log line; a chunk kept to its first bytes says how many more there were.
QString chunkLine(std::string_view chunk, qint64 leftOut) {
  QString line = QString::fromLatin1(proto::hexLogLine(chunk));
  if (leftOut > 0) line += QStringLiteral(" ... (%1 bytes left out)").arg(leftOut);
  return line;
}

const QString kChecksumError = QStringLiteral("返回数据校验错！！");
const QString kForeignAnswer = QStringLiteral("应答地址不符");
}

// A damaged answer is not decoded: the chain that waited for it goes no further, and a
// polling cycle starts again at the next tick.
void TForm1::refuseDamaged() {
  setPanelText(1, kChecksumError);
  if (answeringTag() == StatusPoll) pollBroken();
  endChain(answeringTag(), ChainStop::DamagedAnswer);
}

void TForm1::createExchange() {
  Exchange::Hooks h;
  h.send = [this](const Exchange::Request &r) {
    // The exchange's own read and a resend show in the log as they go out; every other
    // request was logged when it was built.
    if (r.resync || r.tries > 0) logFrame(r.frame, LogDirection::Sent);
    // a LAN link still connecting sends nothing, yet the time-out runs
    return link_ && link_->send(r.frame);
  };
  h.startTimer = [this](int ms) {
    Timer1->setInterval(ms);
    Timer1->setEnabled(true);
  };
  h.stopTimer = [this] { Timer1->setEnabled(false); };
  h.answer = [this](const Exchange::Request &r, std::string_view chunk, int64_t leftOut) {
    decodeAnswer(r, chunk, leftOut);
  };
  h.timedOut = [this](const Exchange::Request &r) { requestTimedOut(r); };
  h.stray = [this](std::string_view chunk, int64_t leftOut, Exchange::Stray kind) { strayChunk(chunk, leftOut, kind); };
  exchange_ = std::make_unique<Exchange>(std::move(h));
}

// Every chunk a link delivers goes to the exchange: the answer to the request on the line is
// decoded by decodeAnswer, anything else is logged by strayChunk and never decoded.
void TForm1::receiveChunk(QObject *, const char *data, qsizetype length) {
  if (length <= 0) return;
  if (length > proto::kBufferSize) {
    // no answer is this long: kept to its first bytes, the rest counted
    const qsizetype shown = proto::kSendAreaSize;
    exchange_->chunk(std::string_view(data, static_cast<size_t>(shown)), length - shown);
    return;
  }
  exchange_->chunk(std::string_view(data, static_cast<size_t>(length)));
}

void TForm1::decodeAnswer(const Exchange::Request &r, std::string_view chunk, qint64 leftOut) {
  if (leftOut > 0) {
    // No answer is this long: it is refused like a damaged frame, never copied. The log
    // shows its beginning and how much more there was.
    log(chunkLine(chunk, leftOut), LogDirection::Received);
    refuseDamaged();
    return;
  }
  std::memcpy(rxBuffer, chunk.data(), chunk.size());
  answering_ = &r;
  // a chain's next request is sent as its answer's was: same chain, nobody clicked
  SendingAs as(*this, r.tag, r.context, r.tag != OperatorRequest, r.background);
  comm_fenjie(nullptr, static_cast<int>(chunk.size()));
  answering_ = nullptr;
}

// A late answer, bytes nobody asked for, an answer of another shape than its request's, or
// the answer that brings the line back in step: logged as they came, never decoded.
void TForm1::strayChunk(std::string_view chunk, qint64 leftOut, Exchange::Stray kind) {
  log(chunkLine(chunk, leftOut), LogDirection::Received);
  switch (kind) {
    case Exchange::Stray::Late: log(QStringLiteral("迟到的应答，不解码")); break;
    case Exchange::Stray::Unsolicited: log(QStringLiteral("无请求的数据，不解码")); break;
    case Exchange::Stray::Mismatched: log(QStringLiteral("应答与请求不符，不解码")); break;
    case Exchange::Stray::Resynced: log(QStringLiteral("同步读的应答，线路恢复同步")); break;
  }
}

void TForm1::comm_fenjie(QObject *Sender, int length) {
  if (length < 0 || length > proto::kBufferSize || !answering_) {
    refuseDamaged();
    return;
  }
  const proto::Answer a = proto::checkAnswer(std::string_view(rxBuffer, static_cast<size_t>(length)));
  if (a.intact()) {
    std::memcpy(payload, a.payload.data(), sizeof payload);
    payloadWritten = a.payloadLength;
  }
  logFrame(std::string_view(rxBuffer, static_cast<size_t>(length)), LogDirection::Received);
  log(proto::hex2(a.computedChecksum), LogDirection::Received);
  if (!a.intact()) {
    refuseDamaged();
    return;
  }
  // On a bus every controller hears every request: an answer from another address is not
  // this request's answer (the exporter's poll refuses it the same way).
  if (const std::optional<uint8_t> address = proto::requestAddress(answering_->frame);
      address && !proto::fromAddress(a, *address)) {
    log(QStringLiteral("应答地址不符，不解码"));
    setPanelText(1, kForeignAnswer);
    if (answeringTag() == StatusPoll) pollBroken();
    endChain(answeringTag(), ChainStop::DamagedAnswer);
    return;
  }
  linkAnswered();  // the controller answers on this link
  // an answer that came through clears what panel 1 said of an earlier failed exchange
  const QString shown = panelText(1);
  if (shown == kChecksumError || shown == kForeignAnswer || shown == QStringLiteral("通讯超时") || shown.startsWith(QStringLiteral("未发送：")) ||
      shown.startsWith(QStringLiteral("状态轮询暂停：")))
    setPanelText(1, QString());
  // dispatch by the request this answer belongs to: a parameter file's read-out has its own
  if (answering_->tag == ParamFileChain) return paramFileAnswer();
  if (Decoder d = findDecoder(answering_->cid1, answering_->cid2)) (this->*d)(Sender);
}

int TForm1::dataAvailable() const { return proto::carriedDataBytes(payload[3], payloadWritten); }

bool TForm1::answerHolds(int bytes, bool errorToPanel) {
  if (returnCode() == 0 && dataAvailable() >= bytes) return true;
  reportReadError(errorToPanel);
  return false;
}

void TForm1::mcu_set_option(QObject *) {
  setPanelText(1, returnCode() == 0 ? QStringLiteral("设置成功") : QStringLiteral("设置失败"));
  // a parameter box's write: set, or refused with the box saying so
  markParamBox(boxOfNumber(answeringContext()), returnCode() == 0 ? ParamState::Read : ParamState::Refused);
}
