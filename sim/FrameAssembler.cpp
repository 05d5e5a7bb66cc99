#include "sim/FrameAssembler.h"

namespace sim {

std::size_t FrameAssembler::feed(std::string_view chunk) {
  for (char ch : chunk) {
    if (ch == '~') {
      dropped_ += pending_.size();
      pending_.assign(1, ch);
    } else if (pending_.empty()) {
      ++dropped_;  // garbage between frames
    } else {
      pending_.push_back(ch);
      if (ch == '\r') {
        frames_.push_back(std::move(pending_));
        pending_.clear();
      } else if (pending_.size() > kMaxPending) {
        dropped_ += pending_.size();
        pending_.clear();
      }
    }
  }
  return frames_.size();
}

std::string FrameAssembler::takeFrame() {
  std::string f = std::move(frames_.front());
  frames_.pop_front();
  return f;
}

}  // namespace sim
