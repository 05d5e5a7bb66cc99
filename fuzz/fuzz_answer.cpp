// Fuzzing the answer check alone, without a window: every input is one chunk as a link
// delivers it. The check must never read outside the chunk or its payload, and what it says
// must hold together: an intact answer pairs at most the chunk's characters, and a fault for
// any number of needed bytes is one of the five.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "protocol/Answer.h"

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
  return 0;
}
