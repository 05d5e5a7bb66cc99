// Request builder ("生成命令") and sender ("发送").
#include <QLineEdit>
#include <QPushButton>
#include <QTcpSocket>

#include <cstring>

#include "link/Comm.h"
#include "protocol/Frame.h"
#include "window/Unit1.h"
#include "window/HandlerSupport.h"

namespace {
void refuse() { ShowMessageBox(QStringLiteral("数据不对"), QStringLiteral("error")); }

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
// change as soon as each is read, as the answer routing expects.
bool TForm1::buildRequest() {
  std::string frame(1, proto::kStartMark);
  if (Edit1->text().isEmpty()) return refuse(), false;
  const int address = StrToInt(Edit1->text());
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

  const std::string dataText = latin(Edit4->text());
  if (Edit4->text().size() % 2 != 0) return refuse(), false;
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
  logFrame(frame);
  return true;
}

void TForm1::Button2Click() {
  char sendArea[proto::kSendAreaSize];
  const int length = txLength;
  std::memcpy(sendArea, txBuffer, length);
  if (!linkOpen) {
    chainStopped(ChainStop::NoLink);
    return;
  }
  if (!lastBuildOk_) return;
  if (serialLink)
    Comm1->SendData(sendArea, static_cast<uint16_t>(length));
  else if (lanConnected)
    lanWrite(sendArea, length);
  // else: a LAN link still connecting sends nothing, yet the time-out runs
  showText(Edit4, QString());
  Timer1->SetInterval(1000);
  Timer1->SetEnabled(true);
}

void TForm1::sendRequest(const QString &cid1, const QString &cid2) {
  showText(Edit2, cid1);
  showText(Edit3, cid2);
  Button1Click();
  if (lastBuildOk_) Button2Click();
}

void TForm1::sendRequest(const QString &cid1, const QString &cid2, const QString &data) {
  showText(Edit4, data);
  sendRequest(cid1, cid2);
}
