// Reassembles request frames from a byte stream: a frame is "~" ... carriage return.
// Characters outside a frame are dropped, a "~" inside an unfinished frame starts the
// frame again, and an unfinished frame longer than any request can be is dropped, so the
// buffer never grows beyond kMaxPending characters.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace sim {

class FrameAssembler {
 public:
  static constexpr std::size_t kMaxPending = 256;  // the longest request is 201 characters

  // Adds received characters; returns the number of whole frames now waiting.
  std::size_t feed(std::string_view chunk);
  bool hasFrame() const { return !frames_.empty(); }
  std::string takeFrame();  // "~" ... CR; only when hasFrame()
  void clear() {
    pending_.clear();
    frames_.clear();
  }
  std::size_t pendingSize() const { return pending_.size(); }
  std::size_t droppedCharacters() const { return dropped_; }

 private:
  std::string pending_;  // empty, or starts with "~"
  std::deque<std::string> frames_;
  std::size_t dropped_ = 0;
};

}  // namespace sim
