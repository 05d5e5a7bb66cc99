// Request builder ("生成命令") and sender ("发送").
#include <QLineEdit>
#include <QPushButton>

#include <cstring>

#include "protocol/Conversions.h"
#include "protocol/Frame.h"
#include "protocol/Status.h"
#include "window/Unit1.h"
#include "window/HandlerSupport.h"
#include "window/OperatorPanel.h"

namespace {

std::string latin(const QString &text) {
  std::string s;
  s.reserve(text.size());
  for (QChar c : text) s.push_back(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?');
  return s;
}
}  // namespace

// A refused build, the address box's integer error included, leaves nothing to send: "发送"
// then sends nothing until the next build succeeds, so an answer is never routed to a decoder
// other than the one of the frame that went out.
void TForm1::Button1Click() {
  lastBuildOk_ = false;
  lastBuildOk_ = buildRequest();
}

// The operator's request: the builder boxes read as the operator typed them. Nothing else
// reads them; the window's own requests are values (send). Pending CID1/CID2 change as soon
// as each is read; "发送命令" sends with them.
bool TForm1::buildRequest() {
  const std::optional<uint8_t> address = addressFromBox();
  if (!address) return false;
  uint8_t cid[2] = {};
  for (int i = 0; i < 2; ++i) {  // CID1, then CID2: exactly two hexadecimal digits each
    const std::string text = latin((i == 0 ? Edit2 : Edit3)->text());
    const auto byte = text.size() == 2 ? proto::hexByte(text[0], text[1]) : std::nullopt;
    if (!byte) return refuseBuild(), false;
    cid[i] = *byte;
    (i == 0 ? pendingCid1 : pendingCid2) = *byte;  // pending as soon as it is read, as designed
  }
  const std::string dataText = latin(Edit4->text());
  if (dataText.size() % 2 != 0 || dataText.size() / 2 > static_cast<size_t>(proto::kMaxDataBytes))
    return refuseBuild(), false;
  const auto data = proto::hexBytes(dataText);
  if (!data) return refuseBuild(), false;
  return buildFrame(*address, cid[0], cid[1], *data);
}

// The operator is told in a box; a request nobody clicked for (polling, a chain's next step)
// is refused quietly and the caller says why in the status bar.
void TForm1::refuseBuild(const QString &why) {
  if (sending_.automatic)
    buildError_ = why;
  else
    ShowMessageBox(why, QStringLiteral("error"));
}

std::optional<uint8_t> TForm1::addressFromBox() {
  buildError_.clear();
  if (Edit1->text().isEmpty()) return refuseBuild(), std::nullopt;
  int address = 0;
  try {
    address = StrToInt(Edit1->text());
  } catch (const EConvertError &e) {
    if (!sending_.automatic) throw;
    buildError_ = QString::fromStdString(e.what());
    return std::nullopt;
  }
  if (address < 0 || address > 255) return refuseBuild(), std::nullopt;
  return static_cast<uint8_t>(address);
}

// The frame is built aside and becomes the one to send only when it is complete, so a refused
// build never leaves a frame of mixed old and new fields behind.
bool TForm1::buildFrame(uint8_t address, uint8_t cid1, uint8_t cid2, const std::vector<uint8_t> &data) {
  if (data.size() > static_cast<size_t>(proto::kMaxDataBytes)) return refuseBuild(), false;
  const std::string frame = proto::encodeFrame(address, cid1, cid2, data);
  std::memcpy(txBuffer, frame.data(), frame.size());
  txLength = static_cast<int>(frame.size());
  pendingCid1 = cid1;
  pendingCid2 = cid2;
  Button2->setEnabled(true);
  logFrame(frame, LogDirection::Sent);
  return true;
}

// The request built last goes to the exchange, which sends it when the line is free and
// starts its time-out then.
void TForm1::Button2Click() {
  if (!linkOpen) {
    chainStopped(ChainStop::NoLink);
    return;
  }
  if (!lastBuildOk_) return;
  Exchange::Request r;
  r.frame.assign(txBuffer, static_cast<size_t>(txLength));
  r.cid1 = static_cast<uint8_t>(pendingCid1);
  r.cid2 = static_cast<uint8_t>(pendingCid2);
  r.tag = sending_.tag;
  r.context = sending_.context;
  r.background = sending_.background;
  if (sending_.tag != StatusPoll) showText(Edit4, QString());
  exchange_->submit(std::move(r));
}

bool TForm1::send(proto::Command command, const std::vector<uint8_t> &data, CidCase shown) {
  const proto::CommandDef &c = proto::commandDef(command);
  return sendPair(c.cid1, c.cid2, data, shown);
}

// The window's own request, as a value: shown in the builder boxes (the data box only for
// what is not a poll: its text is the operator's), built from the values and sent.
bool TForm1::sendPair(uint8_t cid1, uint8_t cid2, const std::vector<uint8_t> &data, CidCase shown) {
  auto cidText = [shown](uint8_t b) { return shown == CidCase::Lower ? proto::hex2(b).toLower() : proto::hex2(b); };
  showText(Edit2, cidText(cid1));
  showText(Edit3, cidText(cid2));
  if (sending_.tag != StatusPoll) {
    QString dataText;
    for (uint8_t b : data) dataText += proto::hex2(b);
    showText(Edit4, dataText);
  }
  lastBuildOk_ = false;
  if (const std::optional<uint8_t> address = addressFromBox()) lastBuildOk_ = buildFrame(*address, cid1, cid2, data);
  if (lastBuildOk_) {
    Button2Click();
    return true;
  }
  if (!sending_.automatic) return false;
  // Nobody clicked: no box. Polling waits for a valid address; a chain stops here.
  if (sending_.tag == StatusPoll) {
    setPanelText(1, QStringLiteral("状态轮询暂停：") + buildError_);
    statusPolling = false;
    Timer2->setInterval(status::kPollPeriodMs);
    Timer2->setEnabled(true);
  } else {
    setPanelText(1, QStringLiteral("未发送：") + buildError_);
    endChain(sending_.tag, ChainStop::Interrupted);
  }
  return false;
}

SendingAs::SendingAs(TForm1 &form, int tag, int context, bool automatic, bool background)
    : form_(form), saved_(form.sending_) {
  form.sending_ = {tag, context, automatic, background};
}

SendingAs::SendingAs(TForm1 &form, int context) : form_(form), saved_(form.sending_) {
  form.sending_.context = context;
}

SendingAs::~SendingAs() { form_.sending_ = saved_; }

int TForm1::answeringTag() const { return answering_ ? answering_->tag : OperatorRequest; }
int TForm1::answeringContext() const { return answering_ ? answering_->context : 0; }

bool TForm1::carriesOn(int tag) const {
  if (tag == cancelledChain_) return false;
  const int t = answeringTag();
  return t == tag || (t != StatusPoll && !exchange_->has(tag));
}
