// The answer check: what the window, the exporter and the fuzzers do with one received chunk
// before any decoder sees it. Pure: no I/O, no state.
//
// A chunk is what a link delivered as one piece: normally one answer frame,
//   "~" ADR CID1 RTN LEN DATA... CHKSUM CR
// each byte as two nibble characters (see protocol/Frame.h). The check
//   1. pairs the characters from the first "~" on into payload bytes, two characters a byte;
//   2. refuses the chunk as damaged when it has no "~", when a character between the "~" and
//      the end mark is not a nibble character, or when the checksum characters (the third
//      and second last) do not match the sum of the characters between the "~" and them;
//   3. for an intact chunk, tells whether the controller refused the request (RTN not 0) or
//      answered short (fewer data bytes than the decoder reads; LEN counts only bytes the
//      frame really carried).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/Frame.h"

namespace proto {

enum class AnswerFault {
  None,
  Damaged,  // no start mark, a character outside the nibble alphabet, or a checksum mismatch
  TooLong,  // longer than any answer (more than kBufferSize characters)
  Refused,  // intact, but the return code is not 0
  Short,    // intact and accepted, but with fewer data bytes than needed
};

// Data bytes an answer really carried: its length byte, bounded by the bytes paired (ADR, CID1,
// RTN, LEN and the checksum are not data).
int carriedDataBytes(uint8_t lengthByte, int paired);

struct Answer {
  AnswerFault fault = AnswerFault::Damaged;  // None or Damaged/TooLong after checkAnswer
  std::array<uint8_t, kBufferSize> payload{};  // ADR CID1 RTN LEN DATA... CHKSUM
  int payloadLength = 0;                       // bytes paired (0 when not whole nibble characters)
  uint8_t computedChecksum = 0;                // what the characters add up to (shown in the log)
  // The chunk is one frame by its form, whatever its checksum says: a start mark, whole bytes
  // of nibble characters, a length byte that counts the data bytes that follow, and the end
  // mark last. A damaged answer that is framed still tells how long it was.
  bool framed = false;

  bool intact() const { return fault != AnswerFault::Damaged && fault != AnswerFault::TooLong; }
  uint8_t returnCode() const { return payload[2]; }
  // Data bytes the answer really carried: its length byte, bounded by what was paired.
  int dataAvailable() const;
  const uint8_t *data() const { return payload.data() + 4; }
  uint8_t dataByte(int k) const { return k >= 0 && k < kBufferSize - 4 ? payload[4 + k] : 0; }
};

// Steps 1 and 2 above.
Answer checkAnswer(std::string_view chunk);

// The address a request frame is sent to; nothing for a frame too short to hold one.
std::optional<uint8_t> requestAddress(std::string_view frame);
// Whether an intact answer came from the controller at `address`. On a bus every controller
// hears every request: an answer from another address is not the answer to it.
inline bool fromAddress(const Answer &a, uint8_t address) { return a.payload[0] == address; }

// Step 3: None when the answer is intact, accepted (RTN 0) and carries at least `bytes` data
// bytes; otherwise why not.
AnswerFault answerFault(const Answer &a, int bytes);

}  // namespace proto
