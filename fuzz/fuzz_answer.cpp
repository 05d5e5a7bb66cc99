// Fuzzing the answer check alone, without a window: every input is one chunk as a link
// delivers it. The check must never read outside the chunk or its payload, and what it says
// must hold together: an intact answer pairs at most the chunk's characters, a fault for any
// number of needed bytes is one of the five, and an answer that fits a shape of the command
// catalogue carries exactly what the shape says (a refusal aside).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "protocol/Answer.h"
#include "protocol/Commands.h"

namespace {
unsigned long long chunks = 0;
void report() { std::printf("chunks through the answer check: %llu\n", chunks); }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  std::atexit(report);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  ++chunks;
  const std::string_view chunk(reinterpret_cast<const char *>(data), size);
  const proto::Answer a = proto::checkAnswer(chunk);
  if (a.intact() && (a.payloadLength < 0 || static_cast<std::size_t>(a.payloadLength) * 2 > size)) std::abort();
  if (a.dataAvailable() < 0 || a.dataAvailable() > proto::kBufferSize) std::abort();
  for (int need : {0, 1, 2, 5, 11, 18, 94, 200}) {
    const proto::AnswerFault f = proto::answerFault(a, need);
    if (f == proto::AnswerFault::None && (a.returnCode() != 0 || a.dataAvailable() < need)) std::abort();
  }
  if (a.framed && (!a.payloadLength || a.payload[3] != a.payloadLength - 5)) std::abort();
  using S = proto::AnswerShape;
  static const S shapes[] = {S{S::Fixed, 1}, S{S::Fixed, 2}, S{S::Fixed, 5}, S{S::Fixed, 7}, S{S::Fixed, 11},
                             S{S::Fixed, 18}, S{S::Ack, 0},   S{S::ModuleList, 0}, S{}};
  for (const S &shape : shapes) {
    if (!proto::answerFits(shape, a)) continue;
    if (!a.framed) std::abort();
    if (a.returnCode() != 0) continue;
    const int n = a.dataAvailable();
    if ((shape.kind == S::Fixed && n != shape.bytes) || (shape.kind == S::Ack && n != 0) ||
        (shape.kind == S::ModuleList && n > proto::kModuleListMax))
      std::abort();
  }
  return 0;
}
