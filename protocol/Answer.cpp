#include "protocol/Answer.h"

#include <algorithm>

namespace proto {

int carriedDataBytes(uint8_t lengthByte, int paired) { return std::max(0, std::min<int>(lengthByte, paired - 5)); }

int Answer::dataAvailable() const { return carriedDataBytes(payload[3], payloadLength); }

Answer checkAnswer(std::string_view chunk) {
  Answer a;
  const int length = static_cast<int>(chunk.size());
  if (length > kBufferSize) {
    a.fault = AnswerFault::TooLong;
    return a;
  }
  const auto *c = reinterpret_cast<const unsigned char *>(chunk.data());
  const auto mark = chunk.find(kStartMark);
  const int start = mark == std::string_view::npos ? -1 : static_cast<int>(mark);

  bool damaged = start < 0;
  for (int i = start + 1; !damaged && i <= length - 2; ++i) damaged = c[i] < 0x30 || c[i] > 0x3F;
  if (!damaged) {
    int index = 0;
    for (int i = start + 1; i + 1 < length; i += 2)
      a.payload[index++] = static_cast<uint8_t>(16 * (c[i] - 0x30) + (c[i + 1] - 0x30));
    a.payloadLength = index;
    // the pairs, then one character left over: the end mark
    a.framed = (length - start - 1) % 2 == 1 && c[length - 1] == static_cast<unsigned char>(kEndMark) &&
               index >= 5 && a.payload[3] == index - 5;
  }

  unsigned sum = 0;
  for (int i = (start >= 0 ? start + 1 : 1); i <= length - 4; ++i) sum += c[i];
  a.computedChecksum = static_cast<uint8_t>(sum & 0xFF);

  if (damaged || length < 3 || c[length - 3] != 0x30 + a.computedChecksum / 16 ||
      c[length - 2] != 0x30 + a.computedChecksum % 16) {
    a.fault = AnswerFault::Damaged;
    return a;
  }
  a.fault = AnswerFault::None;
  return a;
}

AnswerFault answerFault(const Answer &a, int bytes) {
  if (!a.intact()) return a.fault;
  if (a.returnCode() != 0) return AnswerFault::Refused;
  if (a.dataAvailable() < bytes) return AnswerFault::Short;
  return AnswerFault::None;
}

std::optional<uint8_t> requestAddress(std::string_view frame) {
  if (frame.size() < 3 || frame[0] != kStartMark) return std::nullopt;
  return hexByte(frame[1], frame[2]);
}

}  // namespace proto
