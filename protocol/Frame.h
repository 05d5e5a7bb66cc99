// Frame codec shared by the window and the controller simulator.
//
// A frame is "~", then header bytes and data bytes each sent as two nibble characters
// (0x30 + nibble, high nibble first, so 10..15 travel as ":".."?"), then a one-byte checksum
// as two nibble characters and a carriage return. The checksum is the sum of the character
// codes between the start mark and the checksum, modulo 256.
//   request:  ADR CID1 CID2 LEN DATA
//   response: ADR CID1 RTN  LEN DATA   (the second byte repeats the request's CID1)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace proto {

constexpr int kBufferSize = 204;    // transmit buffer, receive buffer and decoded payload
constexpr int kSendAreaSize = 201;  // the send area: the longest frame that goes on a link
constexpr int kMaxDataBytes = 94;   // 2 * 94 + 12 = 200 characters
constexpr char kStartMark = '~';
constexpr char kEndMark = '\r';

inline char nibbleChar(int value) { return static_cast<char>(0x30 + (value & 0x0F)); }

// Appends one byte as its two nibble characters.
void appendByte(std::string &out, uint8_t byte);

// Sum of the character codes of [begin, end) modulo 256.
uint8_t checksum(std::string_view chars);

// A whole frame: "~", the three header bytes, LEN, data, checksum, carriage return.
std::string encodeFrame(uint8_t adr, uint8_t cid1, uint8_t cid2OrRtn, const std::vector<uint8_t> &data);

// " 7E 30 31 ..." : a blank and two upper-case hex digits per character.
std::string hexLogLine(std::string_view chars);

// The address byte of a frame this program built ("~" and two nibble characters first); 0
// when the frame is too short to hold one.
uint8_t frameAddress(std::string_view frame);

// Two hexadecimal digits (either case) to a byte; nullopt for anything else.
std::optional<uint8_t> hexByte(char high, char low);
// Hexadecimal text of even length to bytes; nullopt on odd length or a non-hex character.
std::optional<std::vector<uint8_t>> hexBytes(std::string_view text);

// Strict reading of one frame, for a peer that must not act on a damaged request.
struct Frame {
  uint8_t adr = 0;
  uint8_t cid1 = 0;       // a response repeats its request's
  uint8_t cid2OrRtn = 0;  // CID2 in a request, RTN in a response
  std::vector<uint8_t> data;
};
enum class FrameError { None, NoStartMark, Incomplete, BadCharacter, BadLength, BadChecksum };
struct FrameParse {
  FrameError error = FrameError::Incomplete;
  Frame frame;
  std::size_t consumed = 0;  // characters up to and including the end mark (0 when Incomplete)
};
// Looks for the first "~" in text and reads the frame that starts there up to its carriage
// return. Characters before the "~" are skipped (counted in consumed). Incomplete means no
// carriage return yet; NoStartMark means text holds no "~" (consumed = text.size()).
FrameParse parseFrame(std::string_view text);

const char *frameErrorName(FrameError e);

}  // namespace proto
