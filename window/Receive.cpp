// Every chunk from a link: paired into the decoded payload, logged, checked, dispatched.
#include <cstring>

#include "protocol/Frame.h"
#include "window/Routing.h"
#include "window/Unit1.h"
#include "window/HandlerSupport.h"

namespace {
const QString kChecksumError = QStringLiteral("返回数据校验错！！");

// A damaged answer is not decoded: the chain that waited for it goes no further.
void refuseDamaged(TForm1 &form) {
  form.setPanelText(1, kChecksumError);
  form.chainStopped(ChainStop::DamagedAnswer);
}
}

void TForm1::receiveChunk(QObject *Sender, const char *data, qsizetype length, int limit, qint64 leftOut) {
  Timer1->SetEnabled(false);
  if (length <= 0) return;
  const qint64 size = length + leftOut;
  if (size > std::min(limit, proto::kBufferSize)) {
    // No answer is this long: it is refused like a damaged frame, never copied. The log
    // shows its beginning and how much more there was.
    const qsizetype shown = std::min<qsizetype>(length, proto::kSendAreaSize);
    log(QString::fromLatin1(proto::hexLogLine(std::string_view(data, static_cast<size_t>(shown)))) +
        QStringLiteral(" ... (%1 bytes left out)").arg(size - shown));
    refuseDamaged(*this);
    return;
  }
  std::memcpy(rxBuffer, data, static_cast<size_t>(length));
  comm_fenjie(Sender, static_cast<int>(length));
}

void TForm1::comm_fenjie(QObject *Sender, int length) {
  if (length < 0 || length > proto::kBufferSize) {
    refuseDamaged(*this);
    return;
  }
  const unsigned char *chunk = reinterpret_cast<const unsigned char *>(rxBuffer);

  // 1. pairing: from the first "~" on, every two characters are one byte
  int start = -1;
  for (int i = 0; i < length; ++i)
    if (chunk[i] == '~') {
      start = i;
      break;
    }
  // A frame holds nibble characters only between its start mark and its end mark. A chunk
  // with no start mark, or with any other character in the frame, is damaged: it is logged
  // and checked as usual but never decoded, so stale payload bytes are never shown as fresh.
  bool damaged = start < 0;
  for (int i = start + 1; !damaged && i <= length - 2; ++i) damaged = chunk[i] < 0x30 || chunk[i] > 0x3F;
  if (!damaged) {
    int index = 0;
    for (int i = start + 1; i + 1 < length; i += 2)
      payload[index++] = static_cast<uint8_t>(16 * (chunk[i] - 0x30) + (chunk[i + 1] - 0x30));
    payloadWritten = index;
  }

  // 2. raw log line
  logFrame(std::string_view(rxBuffer, static_cast<size_t>(length)));

  // 3. checksum of everything between the start mark and the last three characters
  unsigned sum = 0;
  for (int i = (start >= 0 ? start + 1 : 1); i <= length - 4; ++i) sum += chunk[i];
  sum &= 0xFF;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const char sumText[2] = {kDigits[sum >> 4], kDigits[sum & 0xF]};
  log(QString::fromLatin1(sumText, 2));

  // 4. check
  if (damaged || length < 3 || chunk[length - 3] != 0x30 + sum / 16 || chunk[length - 2] != 0x30 + sum % 16) {
    refuseDamaged(*this);
    return;
  }

  // 5. dispatch by the last request built
  if (Decoder d = findDecoder(pendingCid1, pendingCid2)) (this->*d)(Sender);
}

int TForm1::dataAvailable() const {
  const int carried = payloadWritten - 5;  // ADR, CID1, RTN, LEN ... checksum
  return std::max(0, std::min<int>(payload[3], carried));
}

bool TForm1::answerHolds(int bytes, bool errorToPanel) {
  if (returnCode() == 0 && dataAvailable() >= bytes) return true;
  reportReadError(errorToPanel);
  return false;
}

void TForm1::mcu_set_option(QObject *) {
  setPanelText(1, returnCode() == 0 ? QStringLiteral("设置成功") : QStringLiteral("设置失败"));
}
