#include "protocol/Commands.h"

#include <algorithm>

namespace proto {

namespace {
constexpr int key(uint8_t cid1, uint8_t cid2) { return cid1 << 8 | cid2; }
constexpr bool ordered() {
  for (std::size_t i = 1; i < std::size(kCommands); ++i)
    if (key(kCommands[i - 1].cid1, kCommands[i - 1].cid2) >= key(kCommands[i].cid1, kCommands[i].cid2)) return false;
  return true;
}
static_assert(ordered(), "the catalogue is written in CID order, each pair once");

}  // namespace

const CommandDef *findCommand(uint8_t cid1, uint8_t cid2) {
  const int k = key(cid1, cid2);
  const auto *end = std::end(kCommands);
  const auto *it = std::lower_bound(std::begin(kCommands), end, k,
                                    [](const CommandDef &c, int k) { return key(c.cid1, c.cid2) < k; });
  return it != end && key(it->cid1, it->cid2) == k ? it : nullptr;
}

const CommandDef *findCommand(std::string_view name) {
  const auto *end = std::end(kCommands);
  const auto *it = std::find_if(std::begin(kCommands), end, [name](const CommandDef &c) { return name == c.name; });
  return it == end ? nullptr : it;
}

AnswerShape answerShape(uint8_t cid1, uint8_t cid2) {
  const CommandDef *c = findCommand(cid1, cid2);
  return c ? c->shape : AnswerShape{};
}

bool answerFits(const AnswerShape &shape, const Answer &a) {
  if (!a.framed) return false;
  if (a.returnCode() != 0) return true;  // a refusal answers any request
  const int n = a.payload[3];
  switch (shape.kind) {
    case AnswerShape::Fixed: return n == shape.bytes;
    case AnswerShape::Ack: return n == 0;
    case AnswerShape::ModuleList: return n <= kModuleListMax;
    case AnswerShape::Any: return true;
  }
  return false;
}

namespace {
// The data lengths an answer of the shape may have: [low, high].
std::pair<int, int> lengths(const AnswerShape &s) {
  switch (s.kind) {
    case AnswerShape::Fixed: return {s.bytes, s.bytes};
    case AnswerShape::Ack: return {0, 0};
    case AnswerShape::ModuleList: return {0, kModuleListMax};
    case AnswerShape::Any: break;
  }
  return {0, 255};
}
}  // namespace

bool shapesOverlap(const AnswerShape &a, const AnswerShape &b) {
  const auto [aLow, aHigh] = lengths(a);
  const auto [bLow, bHigh] = lengths(b);
  return aLow <= bHigh && bLow <= aHigh;
}

}  // namespace proto
