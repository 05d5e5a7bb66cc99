// Counters of the answers sent and the client's turnaround: the time from the end of the
// write of an answer to the first character of the client's next request.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

class Stats {
 public:
  void answered(uint8_t cid1, uint8_t cid2) { ++answered_[static_cast<uint16_t>(cid1 << 8 | cid2)]; }
  // Times in microseconds on any monotonic scale.
  void answerWritten(int64_t us) { lastWriteUs_ = us; }
  void dataArrived(int64_t us);
  void linkReset() { lastWriteUs_ = -1; }  // a new client: no turnaround to measure yet

  // "stats answered 42/16 12" per command kind, then
  // "stats turnaround samples=N median_us=X p99_us=Y".
  std::vector<std::string> lines() const;

  std::size_t samples() const { return turnaroundUs_.size(); }

 private:
  static constexpr std::size_t kMaxSamples = 1000000;
  std::map<uint16_t, uint64_t> answered_;
  std::vector<int64_t> turnaroundUs_;
  int64_t lastWriteUs_ = -1;
};

}  // namespace sim
