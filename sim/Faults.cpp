#include "sim/Faults.h"

namespace sim {

Plan Responder::respond(std::string_view requestFrame) {
  Plan plan;
  proto::FrameParse p = proto::parseFrame(requestFrame);
  if (p.error != proto::FrameError::None || p.frame.adr != c_.address()) return plan;  // silence
  plan.addressed = true;
  plan.cid1 = p.frame.cid1;
  plan.cid2 = p.frame.cid2OrRtn;

  // Always six draws in this order, whatever is injected, so that the faults of one kind
  // do not depend on the rates of the others.
  const bool silent = rng_.uniform() < f_.silent;
  const bool rtn = rng_.uniform() < f_.rtn;
  const bool checksum = rng_.uniform() < f_.checksum;
  const bool noise = rng_.uniform() < f_.noise;
  const bool split = rng_.uniform() < f_.split;
  const bool late = rng_.uniform() < f_.late;

  if (silent) {
    plan.faults.push_back("silent");
    return plan;
  }
  Reply reply = rtn ? Reply{p.frame.cid1, kRtnFailed, {}} : c_.handle(p.frame);
  if (rtn) plan.faults.push_back("rtn");
  std::string frame = c_.encode(reply);
  if (checksum) {
    // Replace the checksum with a different, well-formed one.
    std::string_view body = std::string_view(frame).substr(1, frame.size() - 4);
    uint8_t wrong = static_cast<uint8_t>(proto::checksum(body) ^ 0x5A);
    frame[frame.size() - 3] = proto::nibbleChar(wrong >> 4);
    frame[frame.size() - 2] = proto::nibbleChar(wrong);
    plan.faults.push_back("checksum");
  }
  if (noise) {
    static const char kNoise[] = {'\0', '#', '*', 'U', '\x7F', '\xFF', ' ', '!'};
    std::string junk;
    int n = noiseRng_.range(1, 4);
    for (int i = 0; i < n; ++i) junk.push_back(kNoise[noiseRng_.next() % sizeof kNoise]);
    frame.insert(0, junk);
    plan.faults.push_back("noise");
  }
  const int firstDelay = late ? f_.lateDelayMs : 0;
  if (late) plan.faults.push_back("late");
  if (split) {
    std::size_t cut = frame.size() / 2;
    plan.pieces.push_back({frame.substr(0, cut), firstDelay});
    plan.pieces.push_back({frame.substr(cut), f_.splitPauseMs});
    plan.faults.push_back("split");
  } else {
    plan.pieces.push_back({frame, firstDelay});
  }
  return plan;
}

}  // namespace sim
