// Request builder ("生成命令") and sender ("发送").
#include <QLineEdit>
#include <QPushButton>

#include <cstring>

#include "protocol/Frame.h"
#include "window/Unit1.h"
#include "window/HandlerSupport.h"
#include "window/OperatorPanel.h"

namespace {
const QString kRefused = QStringLiteral("数据不对");

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

// The frame is built aside and copied into the transmit buffer only when it is complete, so a
// refused build never leaves a frame of mixed old and new fields behind. Pending CID1/CID2
// change as soon as each is read; "发送命令" sends with them.
bool TForm1::buildRequest() {
  // The operator is told in a box; a request nobody clicked for (polling, a chain's next
  // step) is refused quietly and the caller says why in the status bar.
  buildError_.clear();
  auto refuse = [this](const QString &why = kRefused) {
    if (sending_.automatic)
      buildError_ = why;
    else
      ShowMessageBox(why, QStringLiteral("error"));
  };
  std::string frame(1, proto::kStartMark);
  if (Edit1->text().isEmpty()) return refuse(), false;
  int address = 0;
  try {
    address = StrToInt(Edit1->text());
  } catch (const EConvertError &e) {
    if (!sending_.automatic) throw;
    buildError_ = QString::fromStdString(e.what());
    return false;
  }
  if (address < 0 || address > 255) return refuse(), false;
  proto::appendByte(frame, static_cast<uint8_t>(address));

  // CID1, then CID2: exactly two hexadecimal digits each
  for (auto [edit, pending] : {std::pair{Edit2, &pendingCid1}, std::pair{Edit3, &pendingCid2}}) {
    const std::string cid = latin(edit->text());
    if (cid.size() != 2) return refuse(), false;
    const auto byte = proto::hexByte(cid[0], cid[1]);
    if (!byte) return refuse(), false;
    *pending = *byte;
    proto::appendByte(frame, *byte);
  }

  // A poll carries only its own data, whatever the data box holds: that text is the operator's.
  const bool poll = sending_.tag == StatusPoll;
  const std::string dataText = latin(poll ? pollData_ : Edit4->text());
  if (dataText.size() % 2 != 0) return refuse(), false;
  if (dataText.size() / 2 > static_cast<size_t>(proto::kMaxDataBytes)) return refuse(), false;
  auto data = proto::hexBytes(dataText);
  if (!data) return refuse(), false;
  proto::appendByte(frame, static_cast<uint8_t>(data->size()));
  for (uint8_t b : *data) proto::appendByte(frame, b);

  proto::appendByte(frame, proto::checksum(std::string_view(frame).substr(1)));
  frame.push_back(proto::kEndMark);

  std::memcpy(txBuffer, frame.data(), frame.size());
  txLength = static_cast<int>(frame.size());
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

void TForm1::sendRequest(const QString &cid1, const QString &cid2) {
  showText(Edit2, cid1);
  showText(Edit3, cid2);
  Button1Click();
  if (lastBuildOk_) return Button2Click();
  if (!sending_.automatic) return;
  // Nobody clicked: no box. Polling waits for a valid address; a chain stops here.
  if (sending_.tag == StatusPoll) {
    setPanelText(1, QStringLiteral("状态轮询暂停：") + buildError_);
    statusPolling = false;
    Timer2->setInterval(1000);
    Timer2->setEnabled(true);
  } else {
    setPanelText(1, QStringLiteral("未发送：") + buildError_);
    endChain(sending_.tag, ChainStop::Interrupted);
  }
}

void TForm1::sendRequest(const QString &cid1, const QString &cid2, const QString &data) {
  if (sending_.tag == StatusPoll) {
    pollData_ = data;
    sendRequest(cid1, cid2);
    pollData_.clear();
    return;
  }
  showText(Edit4, data);
  sendRequest(cid1, cid2);
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
