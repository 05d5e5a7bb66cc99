#include "protocol/Frame.h"

namespace proto {

void appendByte(std::string &out, uint8_t byte) {
  out.push_back(nibbleChar(byte >> 4));
  out.push_back(nibbleChar(byte));
}

uint8_t checksum(std::string_view chars) {
  unsigned sum = 0;
  for (unsigned char c : chars) sum += c;
  return static_cast<uint8_t>(sum & 0xFF);
}

std::string encodeFrame(uint8_t adr, uint8_t cid1, uint8_t cid2OrRtn, const std::vector<uint8_t> &data) {
  std::string out;
  out.reserve(12 + 2 * data.size());
  out.push_back(kStartMark);
  appendByte(out, adr);
  appendByte(out, cid1);
  appendByte(out, cid2OrRtn);
  appendByte(out, static_cast<uint8_t>(data.size()));
  for (uint8_t b : data) appendByte(out, b);
  appendByte(out, checksum(std::string_view(out).substr(1)));
  out.push_back(kEndMark);
  return out;
}

std::string hexLogLine(std::string_view chars) {
  static const char digits[] = "0123456789ABCDEF";
  std::string line;
  line.reserve(chars.size() * 3);
  for (unsigned char c : chars) {
    line.push_back(' ');
    line.push_back(digits[c >> 4]);
    line.push_back(digits[c & 0x0F]);
  }
  return line;
}

uint8_t frameAddress(std::string_view frame) {
  if (frame.size() < 3) return 0;
  return static_cast<uint8_t>(((frame[1] - 0x30) & 0x0F) << 4 | ((frame[2] - 0x30) & 0x0F));
}

static int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<uint8_t> hexByte(char high, char low) {
  int h = hexValue(high), l = hexValue(low);
  if (h < 0 || l < 0) return std::nullopt;
  return static_cast<uint8_t>(h * 16 + l);
}

std::optional<std::vector<uint8_t>> hexBytes(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    auto b = hexByte(text[i], text[i + 1]);
    if (!b) return std::nullopt;
    out.push_back(*b);
  }
  return out;
}

static int nibbleValue(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 0x30 && u <= 0x3F) ? u - 0x30 : -1;
}

FrameParse parseFrame(std::string_view text) {
  FrameParse r;
  std::size_t start = text.find(kStartMark);
  if (start == std::string_view::npos) {
    r.error = FrameError::NoStartMark;
    r.consumed = text.size();
    return r;
  }
  std::size_t end = text.find(kEndMark, start);
  if (end == std::string_view::npos) return r;  // Incomplete
  r.consumed = end + 1;
  std::string_view body = text.substr(start + 1, end - start - 1);
  // ADR, CID1, CID2 or RTN, LEN and the checksum: at least 10 characters, always an even count
  if (body.size() < 10 || body.size() % 2 != 0) {
    r.error = FrameError::BadLength;
    return r;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(body.size() / 2);
  for (std::size_t i = 0; i < body.size(); i += 2) {
    int h = nibbleValue(body[i]), l = nibbleValue(body[i + 1]);
    if (h < 0 || l < 0) {
      r.error = FrameError::BadCharacter;
      return r;
    }
    bytes.push_back(static_cast<uint8_t>(h * 16 + l));
  }
  std::size_t n = bytes.size() - 5;
  if (bytes[3] != n) {
    r.error = FrameError::BadLength;
    return r;
  }
  if (checksum(body.substr(0, body.size() - 2)) != bytes.back()) {
    r.error = FrameError::BadChecksum;
    return r;
  }
  r.error = FrameError::None;
  r.frame.adr = bytes[0];
  r.frame.cid1 = bytes[1];
  r.frame.cid2OrRtn = bytes[2];
  r.frame.data.assign(bytes.begin() + 4, bytes.end() - 1);
  return r;
}

const char *frameErrorName(FrameError e) {
  switch (e) {
    case FrameError::None: return "none";
    case FrameError::NoStartMark: return "no start mark";
    case FrameError::Incomplete: return "incomplete";
    case FrameError::BadCharacter: return "bad character";
    case FrameError::BadLength: return "bad length";
    case FrameError::BadChecksum: return "bad checksum";
  }
  return "?";
}

}  // namespace proto
